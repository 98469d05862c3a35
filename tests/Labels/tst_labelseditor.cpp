#include "ControllerRig.h"
#include "Model/LabelIO.h"
#include "Views/Labels/LabelsEditor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

using Command = FakeRouterDriver::Command;

// A connected router with a shown editor; `chosenFile` answers "Import File…".
struct EditorRig
{
    ControllerRig router;
    FakeRouterDriver *driver = nullptr;
    QString chosenFile;
    std::unique_ptr<LabelsEditor> editor;

    explicit EditorRig(const std::optional<RouterState> &state = makeState(6, 4),
                       const std::function<void(ControllerRig &)> &before = {})
    {
        router.make();
        if (state)
            driver = &router.connectWith(*state);
        if (before)
            before(router);
        open();
    }

    void open()
    {
        LabelsEditor::Options options;
        options.chooseFile = [this] {
            return chosenFile;
        };
        editor = std::make_unique<LabelsEditor>(*router.controller, options);
        editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
    }

    RouterController &controller() { return *router.controller; }
    QWidget *row(const QString &id) { return editor->findChild<QWidget *>(id); }
    QLineEdit *field(const QString &id) { return row(id)->findChild<QLineEdit *>("nameField"); }
    QToolButton *revert(const QString &id) { return row(id)->findChild<QToolButton *>(); }
    // Rows built while the sheet is up are shown by the next event loop pass; the button's
    // own flag is what the row decides.
    bool showsRevert(const QString &id) { return !revert(id)->isHidden(); }
    void type(const QString &id, const QString &text)
    {
        QLineEdit *edit = field(id);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    void click(const char *name)
    {
        auto *button = editor->findChild<QAbstractButton *>(name);
        QVERIFY2(button, name);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QString banner()
    {
        if (!editor->findChild<QWidget *>("banner")->isVisibleTo(editor.get()))
            return {};
        return editor->findChild<QLabel *>("bannerText")->text();
    }
    QStringList labels(PortKind kind)
    {
        QStringList list;
        const RouterState &state = controller().state();
        for (const Port &port : kind == PortKind::source ? state.sources : state.destinations)
            list.append(port.label);
        return list;
    }
    PortLabels overrides() { return router.labels.labels(controller().id()); }

    // Opens the paste sheet, enters `text` for `segment` and applies it.
    void paste(const QString &text, const char *segment = "sourcesSegment")
    {
        click("pasteButton");
        auto *sheet = editor->findChild<PasteLabelsSheet *>();
        QVERIFY(sheet && sheet->isVisible());
        sheet->findChild<QPlainTextEdit *>("pasteText")->setPlainText(text);
        QTest::mouseClick(sheet->findChild<QAbstractButton *>(segment), Qt::LeftButton);
        QTest::mouseClick(sheet->findChild<QAbstractButton *>("applyButton"), Qt::LeftButton);
        // The sheet deletes itself once closed.
        QTRY_VERIFY(!editor->findChild<PasteLabelsSheet *>());
    }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = router.dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }
};

} // namespace

class LabelsEditorTest final : public QObject
{
    Q_OBJECT

private slots:
    void emptyRouterShowsZeroCountsAndStillCopies()
    {
        EditorRig rig(std::nullopt);
        QCOMPARE(rig.editor->findChild<QLabel *>("sourcesCount")->text(), QStringLiteral("0"));
        QCOMPARE(rig.editor->findChild<QLabel *>("destinationsCount")->text(), QStringLiteral("0"));
        QVERIFY(rig.editor->findChildren<QLineEdit *>().isEmpty());
        QVERIFY(rig.banner().isEmpty());

        rig.click("copyXmlButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), LabelExport::xml(rig.controller().state()));
        QCOMPARE(rig.banner(), QStringLiteral("Copied XML to clipboard."));
        rig.click("copyTsvButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());
        QCOMPARE(rig.banner(), QStringLiteral("Copied TSV to clipboard."));
    }

    void revertFollowsTheTypedName()
    {
        EditorRig rig;
        QCOMPARE(rig.field("source-2")->text(), QStringLiteral("S3"));
        rig.type("source-2", QStringLiteral("Camera 3"));
        QVERIFY(rig.showsRevert("source-2"));
        QVERIFY(!rig.showsRevert("source-1"));

        QTest::mouseClick(rig.revert("source-2"), Qt::LeftButton);
        QCOMPARE(rig.field("source-2")->text(), QStringLiteral("S3"));
        QVERIFY(!rig.showsRevert("source-2"));

        rig.type("source-2", QStringLiteral("s3"));
        QVERIFY(rig.showsRevert("source-2")); // case counts
        rig.type("source-2", QStringLiteral("S3"));
        QVERIFY(!rig.showsRevert("source-2"));
    }

    void doneRenamesChangedRowsSourcesFirst()
    {
        {
            EditorRig rig;
            rig.click("doneButton");
            ControllerRig::settle();
            QCOMPARE(rig.driver->count(Command::setLabel), 0);
            QCOMPARE(rig.editor->result(), int(QDialog::Accepted));
        }
        EditorRig rig;
        rig.type("destination-1", QStringLiteral("Monitor 2"));
        rig.type("source-4", QStringLiteral("Camera 5 "));
        rig.type("source-0", QStringLiteral("Camera 1"));
        rig.click("doneButton");
        ControllerRig::settle();

        QList<std::pair<PortKind, int>> sent;
        for (const auto &call : rig.driver->calls(Command::setLabel))
            sent.append({ call.kind, call.index });
        const QList<std::pair<PortKind, int>> expected { { PortKind::source, 0 },
                                                         { PortKind::source, 4 },
                                                         { PortKind::destination, 1 } };
        QCOMPARE(sent, expected);
        QCOMPARE(rig.labels(PortKind::source).at(4), QStringLiteral("Camera 5"));
        QVERIFY(!rig.editor->isVisible());
    }

    void clearedNameRemovesTheOverride()
    {
        EditorRig rig(makeState(3, 2), [](ControllerRig &router) {
            router.labels.set(QStringLiteral("Desk"), PortKind::destination, 1,
                              router.controller->id());
            router.controller->applyLabelOverrides();
        });
        QCOMPARE(rig.field("destination-1")->text(), QStringLiteral("Desk"));
        rig.type("destination-1", QString());
        rig.click("doneButton");
        ControllerRig::settle();
        QVERIFY(rig.overrides().isEmpty());
        QCOMPARE(rig.labels(PortKind::destination).at(1), QStringLiteral("D2"));
    }

    void cancelDropsTypedNames()
    {
        EditorRig rig;
        rig.type("source-0", QStringLiteral("Camera 1"));
        rig.click("cancelButton");
        ControllerRig::settle();
        QCOMPARE(rig.editor->result(), int(QDialog::Rejected));
        QCOMPARE(rig.driver->count(Command::setLabel), 0);
        QVERIFY(rig.overrides().isEmpty());
    }

    void pasteKeepsEditsOfPortsItDidNotName()
    {
        EditorRig rig;
        rig.type("source-1", QStringLiteral("Typed 2"));
        rig.type("source-4", QStringLiteral("Typed 5"));
        rig.paste(QStringLiteral("Alpha\nBeta\n"));

        QCOMPARE(rig.banner(), QStringLiteral("Imported 2 names from spreadsheet."));
        QCOMPARE(rig.field("source-1")->text(), QStringLiteral("Beta"));
        QVERIFY(!rig.showsRevert("source-0"));
        QVERIFY(!rig.showsRevert("source-1"));
        QCOMPARE(rig.field("source-4")->text(), QStringLiteral("Typed 5"));
        QVERIFY(rig.showsRevert("source-4"));
        QCOMPARE(rig.labels(PortKind::source).mid(0, 2), QStringList({ "Alpha", "Beta" }));
        QCOMPARE(rig.overrides().sources.value("1"), QStringLiteral("Beta"));

        // The paste itself sends nothing; "Done" sends only the remaining typed name.
        ControllerRig::settle();
        QCOMPARE(rig.driver->count(Command::setLabel), 0);
        rig.click("doneButton");
        ControllerRig::settle();
        QCOMPARE(rig.driver->count(Command::setLabel), 1);
        QCOMPARE(rig.driver->calls(Command::setLabel).first().index, 4);
    }

    void pasteCountsEveryParsedName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("segment");
        QTest::addColumn<QString>("banner");
        QTest::newRow("one") << QStringLiteral("Only") << QByteArray("destinationsSegment")
                             << QStringLiteral("Imported 1 name from spreadsheet.");
        // A blank cell is parsed and counted, though the store keeps nothing for it.
        QTest::newRow("blank cell") << QStringLiteral("1\t \n2\tB") << QByteArray("sourcesSegment")
                                    << QStringLiteral("Imported 2 names from spreadsheet.");
        QTest::newRow("nothing usable")
            << QStringLiteral("0\tZero\tNone") << QByteArray("bothSegment")
            << QStringLiteral("Imported 0 names from spreadsheet.");
    }

    void pasteCountsEveryParsedName()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, segment);
        QFETCH(QString, banner);
        EditorRig rig;
        rig.paste(text, segment.constData());
        QCOMPARE(rig.banner(), banner);
    }

    void importChoosesTheReaderByExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("xml");
        QTest::newRow("XML in capitals") << QStringLiteral("labels.XML") << true;
        QTest::newRow("tsv") << QStringLiteral("labels.tsv") << false;
        QTest::newRow("csv") << QStringLiteral("labels.csv") << false;
        QTest::newRow("txt") << QStringLiteral("labels.txt") << false;
        QTest::newRow("no extension") << QStringLiteral("labels") << false;
    }

    void importChoosesTheReaderByExtension()
    {
        QFETCH(QString, name);
        QFETCH(bool, xml);
        EditorRig rig;
        RouterState named = makeState(2, 1);
        named.sources[1].label = QStringLiteral("Cam B");
        named.destinations[0].label = QStringLiteral("Mon A");
        // Either reader would misread the other's document.
        const QByteArray document
            = xml ? LabelExport::xml(named).toUtf8() : QByteArray("Cam A\tMon A\nCam B,Mon B\n");
        rig.chosenFile = rig.writeFile(name, document);
        rig.click("importButton");

        QCOMPARE(rig.banner(),
                 QStringLiteral("Imported %1 names from %2.").arg(xml ? 3 : 4).arg(name));
        QCOMPARE(rig.labels(PortKind::source).at(1), QStringLiteral("Cam B"));
        QCOMPARE(rig.labels(PortKind::destination).mid(0, 2),
                 QStringList({ "Mon A", xml ? "D2" : "Mon B" }));
        QCOMPARE(rig.field("source-1")->text(), QStringLiteral("Cam B"));
        QVERIFY(!rig.showsRevert("source-1"));
    }

    void importKeepsWhatABrokenDocumentHeld()
    {
        EditorRig rig;
        rig.chosenFile = rig.writeFile(
            QStringLiteral("cut.xml"),
            "<routerLabels><sources><port number=\"2\" name=\"Kept\"/><port number=\"3\" na");
        rig.click("importButton");
        QCOMPARE(rig.labels(PortKind::source).at(1), QStringLiteral("Kept"));
        QCOMPARE(rig.banner(), QStringLiteral("Imported 1 name from cut.xml."));
    }

    void unreadableOrCancelledImportChangesNothing()
    {
        EditorRig rig;
        rig.type("source-0", QStringLiteral("Typed"));
        rig.chosenFile = rig.router.dir.filePath(QStringLiteral("missing.csv"));
        rig.click("importButton");
        QCOMPARE(rig.banner(), QStringLiteral("Couldn't read missing.csv."));
        QVERIFY(rig.overrides().isEmpty());
        QCOMPARE(rig.field("source-0")->text(), QStringLiteral("Typed"));

        rig.chosenFile.clear();
        rig.click("copyTsvButton");
        rig.click("importButton");
        QCOMPARE(rig.banner(), QStringLiteral("Copied TSV to clipboard."));
    }

    void cancelAfterImportKeepsTheImportedLabels()
    {
        EditorRig rig;
        rig.chosenFile = rig.writeFile(QStringLiteral("in.txt"), "Imported A\n");
        rig.click("importButton");
        rig.click("cancelButton");
        QCOMPARE(rig.overrides().sources.value("0"), QStringLiteral("Imported A"));
        QCOMPARE(rig.labels(PortKind::source).first(), QStringLiteral("Imported A"));
        ControllerRig::settle();
        QCOMPARE(rig.driver->count(Command::setLabel), 0);
    }

    void resetDropsOnlyThisRoutersOverridesAndKeepsTypedNames()
    {
        const QUuid other = QUuid::createUuid();
        EditorRig rig(makeState(3, 3), [other](ControllerRig &router) {
            router.labels.set(QStringLiteral("Mine"), PortKind::source, 0, router.controller->id());
            router.labels.set(QStringLiteral("Theirs"), PortKind::source, 0, other);
            router.controller->applyLabelOverrides();
        });
        QCOMPARE(rig.field("source-0")->text(), QStringLiteral("Mine"));
        rig.type("destination-2", QStringLiteral("Typed"));

        rig.click("resetButton");
        QCOMPARE(rig.banner(), QStringLiteral("Reset to device names."));
        QVERIFY(rig.overrides().isEmpty());
        QCOMPARE(rig.router.labels.labels(other).sources.value("0"), QStringLiteral("Theirs"));
        QCOMPARE(rig.labels(PortKind::source).first(), QStringLiteral("S1"));
        QCOMPARE(rig.field("source-0")->text(), QStringLiteral("S1"));
        QCOMPARE(rig.field("destination-2")->text(), QStringLiteral("Typed"));
        QVERIFY(rig.showsRevert("destination-2"));
        // Written to disk at once.
        QCOMPARE(LabelStore::load(rig.router.labels.url())->size(), 1);
        ControllerRig::settle();
        QCOMPARE(rig.driver->count(Command::setLabel), 0);
    }

    void copiesExportTheLiveLabelsNotTheTypedOnes()
    {
        EditorRig rig;
        rig.type("source-0", QStringLiteral("Unsaved"));
        rig.click("copyXmlButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), LabelExport::xml(rig.controller().state()));
        QVERIFY(!QGuiApplication::clipboard()->text().contains(QStringLiteral("Unsaved")));
        rig.click("copyTsvButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), LabelExport::tsv(rig.controller().state()));
    }

    void menuOffersTheSameActions()
    {
        EditorRig rig;
        auto *menu = rig.editor->findChild<QMenu *>("importExportMenu");
        QStringList entries;
        for (const QAction *action : menu->actions())
            entries.append(action->isSeparator() ? QStringLiteral("—") : action->text());
        QCOMPARE(entries,
                 QStringList({ "Paste from Spreadsheet…", "Import File…", "—", "Copy as XML",
                               "Copy as Spreadsheet", "—", "Reset to Device Names" }));

        menu->actions().at(4)->trigger();
        QCOMPARE(rig.banner(), QStringLiteral("Copied TSV to clipboard."));
        menu->actions().at(0)->trigger();
        QVERIFY(rig.editor->findChild<PasteLabelsSheet *>()->isVisible());
    }
};

QTEST_MAIN(LabelsEditorTest)
#include "tst_labelseditor.moc"

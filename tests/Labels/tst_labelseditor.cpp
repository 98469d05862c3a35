#include "ControllerRig.h"
#include "Model/LabelIO.h"
#include "Views/Labels/LabelRowDelegate.h"
#include "Views/Labels/LabelsEditor.h"
#include "Views/Labels/PasteLabelsSheet.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTableView>
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
    QTableView *view(PortKind kind)
    {
        return editor->findChild<QTableView *>(kind == PortKind::source ? "sourcesList"
                                                                        : "destinationsList");
    }
    // "source-2" names the row of source index 2.
    QModelIndex row(const QString &id)
    {
        const auto kind = portKindFromRawValue(id.section(u'-', 0, 0));
        const int port = id.section(u'-', 1).toInt();
        const QAbstractItemModel *model = view(*kind)->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            if (model->index(r, 0).data(LabelRowsModel::portIndexRole).toInt() == port)
                return model->index(r, 0);
        }
        return {};
    }
    QString name(const QString &id) { return row(id).data().toString(); }
    // The row paints its revert button, and takes clicks on it, exactly while this is set.
    bool showsRevert(const QString &id)
    {
        return row(id).data(LabelRowsModel::changedRole).toBool();
    }
    QTableView *listOf(const QModelIndex &index)
    {
        for (QTableView *list : editor->findChildren<QTableView *>()) {
            if (list->model() == index.model())
                return list;
        }
        return nullptr;
    }
    void clickRevert(const QString &id)
    {
        const QModelIndex index = row(id);
        QTableView *list = listOf(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          LabelRowDelegate::revertRect(list->visualRect(index)).center());
    }
    // The name field open in the sheet, if any.
    QLineEdit *openField()
    {
        auto *field = qobject_cast<QLineEdit *>(editor->focusWidget());
        return field && field->objectName() == QLatin1String("nameField") ? field : nullptr;
    }
    // Clicks the row's name, then replaces it by typing.
    void type(const QString &id, const QString &text)
    {
        const QModelIndex index = row(id);
        QTableView *list = listOf(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          LabelRowDelegate::nameRect(list->visualRect(index)).center());
        QLineEdit *edit = openField();
        QVERIFY2(edit, qPrintable(id));
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
    bool bannerIsFailure()
    {
        return editor->findChild<QWidget *>("banner")->property("failure").toBool();
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
        QCOMPARE(rig.view(PortKind::source)->model()->rowCount(), 0);
        QCOMPARE(rig.view(PortKind::destination)->model()->rowCount(), 0);
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
        QCOMPARE(rig.name("source-2"), QStringLiteral("S3"));
        rig.type("source-2", QStringLiteral("Camera 3"));
        QVERIFY(rig.showsRevert("source-2"));
        QVERIFY(!rig.showsRevert("source-1"));

        rig.clickRevert("source-2");
        QCOMPARE(rig.name("source-2"), QStringLiteral("S3"));
        QVERIFY(!rig.showsRevert("source-2"));

        rig.type("source-2", QStringLiteral("s3"));
        QVERIFY(rig.showsRevert("source-2")); // case counts
        rig.type("source-2", QStringLiteral("S3"));
        QVERIFY(!rig.showsRevert("source-2"));
    }

    void revertReachesTheKeyboardAndScreenReaders()
    {
        EditorRig rig;
        rig.type("source-2", QStringLiteral("Camera 3"));
        // The open field names its port and tells how to revert; the key does it.
        QLineEdit *field = rig.openField();
        QCOMPARE(field->accessibleName(), QStringLiteral("Source 3"));
        QVERIFY(field->accessibleDescription().contains(QStringLiteral("\u201cS3\u201d")));
        QTest::keyClick(field, Qt::Key_Backspace, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(rig.name("source-2"), QStringLiteral("S3"));
        QCOMPARE(field->text(), QStringLiteral("S3"));
        QVERIFY(field->accessibleDescription().isEmpty());

        // Rows read with their port numbers; a changed one offers Revert.
        rig.type("destination-1", QStringLiteral("Wall"));
        QAccessibleInterface *rows
            = QAccessible::queryAccessibleInterface(rig.view(PortKind::destination));
        QCOMPARE(rows->child(0)->text(QAccessible::Name), QStringLiteral("1 D1"));
        QAccessibleInterface *changed = rows->child(1);
        QCOMPARE(changed->text(QAccessible::Name), QStringLiteral("2 Wall"));
        QVERIFY(!rows->child(0)->actionInterface()->actionNames().contains("Revert"));
        changed->actionInterface()->doAction(QStringLiteral("Revert"));
        QCOMPARE(rig.name("destination-1"), QStringLiteral("D2"));

        // Pressing a row opens its name field.
        rows->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(rig.openField());
        QCOMPARE(rig.openField()->accessibleName(), QStringLiteral("Destination 4"));
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
        // One write of labels.json for all of them.
        QSignalSpy writes(&rig.router.labels, &LabelStore::byConnectionChanged);
        rig.click("doneButton");
        ControllerRig::settle();
        QCOMPARE(writes.count(), 1);

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

    // Return in a name field closed the sheet, then committed the closed field again through
    // its list ("commitData called with an editor that does not belong to this view").
    void returnInANameFieldIsDone()
    {
        EditorRig rig;
        rig.type("source-1", QStringLiteral("Camera 2"));
        rig.type("destination-2", QStringLiteral("Monitor 3"));
        QTest::keyClick(rig.openField(), Qt::Key_Return);
        ControllerRig::settle();
        QCOMPARE(rig.editor->result(), int(QDialog::Accepted));
        QCOMPARE(rig.labels(PortKind::source).at(1), QStringLiteral("Camera 2"));
        QCOMPARE(rig.labels(PortKind::destination).at(2), QStringLiteral("Monitor 3"));
    }

    void clearedNameRemovesTheOverride()
    {
        EditorRig rig(makeState(3, 2), [](ControllerRig &router) {
            router.labels.set(QStringLiteral("Desk"), PortKind::destination, 1,
                              router.controller->id());
            router.controller->applyLabelOverrides();
        });
        QCOMPARE(rig.name("destination-1"), QStringLiteral("Desk"));
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
        QCOMPARE(rig.name("source-1"), QStringLiteral("Beta"));
        QVERIFY(!rig.showsRevert("source-0"));
        QVERIFY(!rig.showsRevert("source-1"));
        QCOMPARE(rig.name("source-4"), QStringLiteral("Typed 5"));
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

    void importWhileEditingKeepsTheOpenFieldInStep()
    {
        EditorRig rig;
        rig.chosenFile = rig.writeFile(QStringLiteral("two.txt"), "Imported A\nImported B\n");
        rig.type("source-2", QStringLiteral("Kept"));
        rig.type("source-1", QStringLiteral("Lost"));
        // From the toolbar menu the field keeps the focus through the import.
        auto *menu = rig.editor->findChild<QMenu *>("importExportMenu");
        menu->actions().at(1)->trigger();

        QCOMPARE(rig.name("source-1"), QStringLiteral("Imported B"));
        QVERIFY(!rig.showsRevert("source-1"));
        QCOMPARE(rig.name("source-2"), QStringLiteral("Kept"));
        QVERIFY(rig.showsRevert("source-2"));
        QLineEdit *field = rig.openField();
        QVERIFY(field);
        QCOMPARE(field->text(), QStringLiteral("Imported B"));
        QTest::keyClicks(field, QStringLiteral("!"));
        QCOMPARE(rig.name("source-1"), QStringLiteral("Imported B!"));
    }

    void tabMovesFromNameToNameAcrossBothSides()
    {
        EditorRig rig;
        rig.type("source-4", QStringLiteral("Five"));
        QTest::keyClick(rig.openField(), Qt::Key_Tab);
        QTRY_VERIFY(rig.openField()
                    && rig.openField()->parentWidget() == rig.view(PortKind::source)->viewport());
        QCOMPARE(rig.view(PortKind::source)->currentIndex().row(), 5);
        QTest::keyClick(rig.openField(), Qt::Key_Tab);
        QTRY_VERIFY(rig.openField()
                    && rig.openField()->parentWidget()
                        == rig.view(PortKind::destination)->viewport());
        QCOMPARE(rig.view(PortKind::destination)->currentIndex().row(), 0);
        // Arriving by Tab selects the name, as in any field.
        QTest::keyClicks(rig.openField(), QStringLiteral("X"));
        QCOMPARE(rig.name("destination-0"), QStringLiteral("X"));
        QTest::keyClick(rig.openField(), Qt::Key_Backtab);
        QTRY_COMPARE(rig.view(PortKind::source)->currentIndex().row(), 5);
        QCOMPARE(rig.name("source-4"), QStringLiteral("Five"));
    }

    void importSkipsPortsPastTheLastAndCutsLongLabels()
    {
        EditorRig rig;
        // The cut falls inside the emoji's surrogate pair, which goes whole.
        const QString longName = QString(LabelImport::maxLabelLength - 1, u'x')
            + QStringLiteral("\U0001F600 and more");
        rig.chosenFile = rig.writeFile(QStringLiteral("big.tsv"),
                                       "1\tCam\t" + longName.toUtf8()
                                           + "\n65535\tLast\tEnd\n65536\tGone\tGone too\n");
        rig.click("importButton");
        QCOMPARE(rig.banner(),
                 QStringLiteral("Imported 4 names from big.tsv, but skipped 2 beyond port 65535; "
                                "cut 1 name to 1024 characters."));
        QVERIFY(rig.bannerIsFailure());
        QCOMPARE(rig.overrides().destinations.value("0"),
                 longName.left(LabelImport::maxLabelLength - 1));
        QCOMPARE(rig.overrides().sources.value("65534"), QStringLiteral("Last"));
        QVERIFY(!rig.overrides().sources.contains("65535"));
    }

    // A paste (or, with no segment, a file import) reports every row that gave no name.
    void pasteCountsEveryParsedName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("segment");
        QTest::addColumn<QString>("banner");
        QTest::addColumn<QStringList>("stored"); // the sources, then the destinations
        QTest::newRow("one") << QStringLiteral("Only") << QByteArray("destinationsSegment")
                             << QStringLiteral("Imported 1 name from spreadsheet.")
                             << QStringList { {}, "0=Only" };
        QTest::newRow("blank cell")
            << QStringLiteral("1\t \n2\tB") << QByteArray("sourcesSegment")
            << QStringLiteral("Imported 1 name from spreadsheet, but 1 row gave no name, as its "
                              "name cells were empty.")
            << QStringList { "1=B", {} };
        QTest::newRow("nothing usable")
            << QStringLiteral("0\tZero\tNone\n-1\tA\tB") << QByteArray("bothSegment")
            << QStringLiteral("Imported 0 names from spreadsheet, but 2 rows gave no name, as "
                              "their numbers were below 1.")
            << QStringList { {}, {} };
        // Tab-led rows were dropped under a green "Imported 0 names from spreadsheet.".
        QTest::newRow("tab-led rows into one side")
            << QStringLiteral("\tCam\n\t\tCam2") << QByteArray("sourcesSegment")
            << QStringLiteral("Imported 2 names from spreadsheet.")
            << QStringList { "0=Cam,1=Cam2", {} };
        QTest::newRow("tab-led rows from a file")
            << QStringLiteral("\tMon\n\t\tCam\n2\tB\t\n2\tC\t") << QByteArray()
            << QStringLiteral("Imported 2 names from labels.txt, but 1 row gave no name, as its "
                              "name cells were empty; 1 name gave way to a later row naming the "
                              "same port.")
            << QStringList { "1=C", "0=Mon" };
    }

    void pasteCountsEveryParsedName()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, segment);
        QFETCH(QString, banner);
        QFETCH(QStringList, stored);
        EditorRig rig;
        if (segment.isEmpty()) {
            rig.chosenFile = rig.writeFile(QStringLiteral("labels.txt"), text.toUtf8());
            rig.click("importButton");
        } else {
            rig.paste(text, segment.constData());
        }
        QCOMPARE(rig.banner(), banner);
        QCOMPARE(rig.bannerIsFailure(), banner.contains(QLatin1String(", but ")));
        const auto joined = [](const QMap<QString, QString> &map) {
            QStringList pairs;
            for (auto it = map.cbegin(); it != map.cend(); ++it)
                pairs.append(it.key() + u'=' + it.value());
            return pairs.join(u',');
        };
        QCOMPARE(
            (QStringList { joined(rig.overrides().sources), joined(rig.overrides().destinations) }),
            stored);
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
        QCOMPARE(rig.name("source-1"), QStringLiteral("Cam B"));
        QVERIFY(!rig.showsRevert("source-1"));
    }

    // A DTD or a broken document showed a green banner; UTF-16 imported names full of NULs.
    void importSaysWhatItRefusedOrLeftOut_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("banner");
        QTest::addColumn<QString>("source1");
        const QString rows = QString::fromUtf16(u"2\tCam \u05D0\U0001F3A5\tMon\r\n");
        const auto utf16 = [&rows](QStringEncoder::Encoding order) {
            return QByteArray(QStringEncoder(order, QStringEncoder::Flag::WriteBom)(rows));
        };
        const QString named = QString::fromUtf16(u"Cam \u05D0\U0001F3A5");
        QTest::newRow("UTF-16 LE") << "le.txt" << utf16(QStringEncoder::Utf16LE)
                                   << "Imported 2 names from le.txt." << named;
        QTest::newRow("UTF-16 BE") << "be.txt" << utf16(QStringEncoder::Utf16BE)
                                   << "Imported 2 names from be.txt." << named;
        QTest::newRow("DTD")
            << "dtd.xml"
            << QByteArray("<!DOCTYPE x>\n<x><inputs><in n=\"2\">Kept</in></inputs></x>")
            << "Couldn't read dtd.xml. Line 1 declares a document type (DTD), which Quorvel "
               "doesn't read in label files."
            << "S2";
        QTest::newRow("broken XML")
            << "cut.xml"
            << QByteArray("<routerLabels><sources><port number=\"2\" name=\"Kept\"/><port "
                          "number=\"3\" na")
            << "Imported 1 name from cut.xml, but nothing after line 1, column 72 was read: "
               "Premature end of document."
            << "Kept";
    }

    void importSaysWhatItRefusedOrLeftOut()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, banner);
        QFETCH(QString, source1);
        EditorRig rig;
        rig.chosenFile = rig.writeFile(name, bytes);
        rig.click("importButton");
        QCOMPARE(rig.banner(), banner);
        QCOMPARE(rig.bannerIsFailure(), !banner.endsWith(name + u'.'));
        QCOMPARE(rig.labels(PortKind::source).at(1), source1);
        QCOMPARE(rig.name("source-1"), source1);
    }

    // A tab or line break exported raw into TSV shifted every row below it on re-import.
    void awkwardNamesComeBackFromEveryExport()
    {
        // Tab, CR, LF, quotes, comma and semicolon, emoji, right-to-left, a control character.
        const QStringList awkward
            = QString::fromUtf16(
                  u"Tab\there|CR\rhere|LF\nhere|\"Quoted\" 'too'|Comma, and; semi"
                  u"|Cam \U0001F3A5|\u05D7\u05D3\u05E9\u05D5\u05EA 1|Bell\u0007|<a & b>")
                  .split(u'|')
            + QStringList { QString(1023, u'x') + u'y' };
        EditorRig rig(makeState(int(awkward.size()), 3), [&](ControllerRig &router) {
            for (int i = 0; i < awkward.size(); ++i)
                router.labels.set(awkward[i], i < 8 ? PortKind::source : PortKind::destination,
                                  i < 8 ? i : i - 8, router.controller->id());
            router.controller->applyLabelOverrides();
        });
        QStringList expected = rig.labels(PortKind::source);
        const QStringList destinations = rig.labels(PortKind::destination);
        for (const bool xml : { true, false }) {
            rig.click(xml ? "copyXmlButton" : "copyTsvButton");
            const QString changed = xml ? QStringLiteral(" became “\uFFFD” in 1 name.")
                                        : QStringLiteral(" became spaces in 3 names: a "
                                                         "spreadsheet cell can't hold them.");
            QVERIFY2(rig.banner().endsWith(changed), qPrintable(rig.banner()));
            const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
            rig.click("resetButton");
            rig.chosenFile = rig.writeFile(xml ? "labels.xml" : "labels.tsv", text);
            rig.click("importButton");
            QVERIFY2(!rig.bannerIsFailure(), qPrintable(rig.banner()));
            // Only what the format can't carry changed, and only in its own name.
            if (xml) {
                expected[7] = QString::fromUtf16(u"Bell\uFFFD");
            } else {
                for (int i : { 0, 1, 2 })
                    expected[i].replace(QRegularExpression(QStringLiteral("[\t\r\n]")), " ");
            }
            QCOMPARE(rig.labels(PortKind::source), expected);
            QCOMPARE(rig.labels(PortKind::destination), destinations);
        }
    }

    void unreadableOrCancelledImportChangesNothing()
    {
        EditorRig rig;
        rig.type("source-0", QStringLiteral("Typed"));
        rig.chosenFile = rig.router.dir.filePath(QStringLiteral("missing.csv"));
        rig.click("importButton");
        QCOMPARE(rig.banner(),
                 QStringLiteral("Couldn't read missing.csv. The file doesn't exist."));
        QVERIFY(rig.bannerIsFailure());
        QVERIFY(rig.overrides().isEmpty());
        QCOMPARE(rig.name("source-0"), QStringLiteral("Typed"));

        rig.chosenFile.clear();
        rig.click("copyTsvButton");
        rig.click("importButton");
        QCOMPARE(rig.banner(), QStringLiteral("Copied TSV to clipboard."));
    }

    // A refused store write showed "Imported 10 names" while the names were lost at the next
    // launch, and a file past the size limit read "Couldn't read big.csv." in green.
    void failuresShowAsFailuresWithTheirReason()
    {
        EditorRig rig;
        rig.chosenFile = rig.writeFile(QStringLiteral("big.csv"),
                                       QByteArray(LabelImport::maxFileSize + 1, 'a'));
        rig.click("importButton");
        QCOMPARE(rig.banner(),
                 QStringLiteral("Couldn't read big.csv. The file is larger than 16 MB."));
        QVERIFY(rig.bannerIsFailure());

        // labels.json can no longer be written: a folder stands in its place.
        const QString store = rig.router.labels.url();
        QFile::remove(store);
        QVERIFY(QDir().mkpath(store));
        const QString notSaved = QStringLiteral(", but the labels file couldn't be written, so the "
                                                "change is lost when Quorvel quits. ");
        rig.chosenFile = rig.writeFile(QStringLiteral("in.txt"), "Imported A\n");
        rig.click("importButton");
        QVERIFY2(rig.banner().startsWith(QStringLiteral("Imported 1 name from in.txt") + notSaved),
                 qPrintable(rig.banner()));
        QVERIFY(rig.bannerIsFailure());
        QCOMPARE(rig.labels(PortKind::source).first(), QStringLiteral("Imported A"));

        // "Done" stays open to say so, its rows showing the names now live on the router (no
        // Revert, nothing sent twice), and writes again when pressed again.
        rig.type("source-1", QStringLiteral("Typed"));
        rig.click("doneButton");
        QVERIFY(rig.editor->isVisible());
        QVERIFY2(rig.banner().startsWith(
                     QStringLiteral("Renamed 1 port and sent the names to the router") + notSaved),
                 qPrintable(rig.banner()));
        QCOMPARE(rig.name("source-1"), QStringLiteral("Typed"));
        QVERIFY(!rig.showsRevert("source-1"));
        ControllerRig::settle();
        QCOMPARE(rig.driver->count(Command::setLabel), 1);
        QVERIFY(QDir(store).removeRecursively());
        rig.click("copyTsvButton");
        QVERIFY(!rig.bannerIsFailure());
        rig.click("doneButton");
        QVERIFY(!rig.editor->isVisible());
        QCOMPARE(LabelStore::load(store)->value(Json::uuidText(rig.controller().id())).sources,
                 (QMap<QString, QString> { { "0", "Imported A" }, { "1", "Typed" } }));
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
        QCOMPARE(rig.name("source-0"), QStringLiteral("Mine"));
        rig.type("destination-2", QStringLiteral("Typed"));

        rig.click("resetButton");
        QCOMPARE(rig.banner(), QStringLiteral("Reset to device names."));
        QVERIFY(rig.overrides().isEmpty());
        QCOMPARE(rig.router.labels.labels(other).sources.value("0"), QStringLiteral("Theirs"));
        QCOMPARE(rig.labels(PortKind::source).first(), QStringLiteral("S1"));
        QCOMPARE(rig.name("source-0"), QStringLiteral("S1"));
        QCOMPARE(rig.name("destination-2"), QStringLiteral("Typed"));
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

        // Return on a focused action runs it instead of closing the sheet as Done.
        QGuiApplication::clipboard()->clear();
        auto *copyXml = rig.editor->findChild<QAbstractButton *>("copyXmlButton");
        copyXml->setFocus();
        QTest::keyClick(copyXml, Qt::Key_Return);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(),
                     LabelExport::xml(rig.controller().state()));
        QVERIFY(rig.editor->isVisible());
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

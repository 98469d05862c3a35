#include "PanelsRig.h"
#include "PopupMenus.h"
#include "Views/Panels/PanelEditor.h"
#include "Views/Panels/PanelManagerSheet.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStackedWidget>

namespace {

QStringList names(const QList<SubPanel> &panels)
{
    QStringList list;
    for (const SubPanel &panel : panels)
        list.append(panel.name);
    return list;
}

QList<SubPanel> fourPanels()
{
    return { makePanel(QStringLiteral("A"), { 0 }, { 0 }),
             makePanel(QStringLiteral("B"), { 1 }, { 1 }),
             makePanel(QStringLiteral("C"), { 2 }, { 2 }),
             makePanel(QStringLiteral("D"), { 3 }, { 3 }) };
}

// A shown manager sheet and the widgets tests drive.
struct Sheet
{
    explicit Sheet(RouterController &controller)
        : sheet(controller)
    {
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        list = child<QAbstractItemView>(&sheet, "panelList");
        QVERIFY(list);
    }

    // Texts of the row's context menu, in order ("-" for dividers).
    QStringList menuTexts(int row)
    {
        QStringList texts;
        if (QMenu *menu = openMenu(row)) {
            for (const QAction *action : menu->actions())
                texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
            delete menu;
        }
        return texts;
    }

    // Clicks the item on its rectangle in the popped-up menu, as the operator does.
    bool choose(int row, const QString &text)
    {
        QMenu *menu = openMenu(row);
        if (!menu || !PopupMenus::item(menu, text)) {
            delete menu;
            return false;
        }
        return PopupMenus::choose(menu, text, list);
    }

    QMenu *openMenu(int row)
    {
        const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(list->viewport(), &event);
        return child<QMenu>(&sheet, "panelContextMenu");
    }

    PanelEditor *editor() { return sheet.findChild<PanelEditor *>(); }
    QMessageBox *alert() { return child<QMessageBox>(&sheet, "deletePanelAlert"); }

    PanelManagerSheet sheet;
    QAbstractItemView *list = nullptr;
};

void closeLater(QDialog *dialog)
{
    dialog->reject();
    settleAll();
}

} // namespace

class TestPanelManager final : public QObject
{
    Q_OBJECT

private slots:
    void emptyStateStartsNewPanels();
    void rowsFollowPanelsAndActivePanel();
    void clickEditsAndEditorSavesThroughController();
    void contextMenuMoves();
    void duplicateDoesNotOpenEditor();
    void deleteAsksWithSalvoCount_data();
    void deleteAsksWithSalvoCount();
    void deleteOnlyOnConfirmation();
    void deletingActivePanelDropsBadge();
    void dropReordersThroughController();
};

void TestPanelManager::emptyStateStartsNewPanels()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    Sheet s(controller);
    QCOMPARE(s.sheet.windowTitle(), QStringLiteral("Panels"));
    QCOMPARE(s.sheet.size(), QSize(480, 520));
    QWidget *empty = child<QWidget>(&s.sheet, "emptyState");
    QVERIFY(empty->isVisible());
    QVERIFY(!child<QPushButton>(&s.sheet, "listNewPanel")->isVisible());

    for (const char *button : { "emptyNewPanel", "toolbarNewPanel" }) {
        QTest::mouseClick(child<QPushButton>(&s.sheet, button), Qt::LeftButton);
        PanelEditor *editor = s.editor();
        QVERIFY2(editor, button);
        QCOMPARE(editor->windowTitle(), QStringLiteral("New Panel"));
        QVERIFY(editor->isNew());
        QCOMPARE(editor->panel().name, QStringLiteral("Panel 1"));
        QVERIFY(controller.panels().isEmpty()); // nothing stored until the editor saves
        closeLater(editor);
        QVERIFY(!s.editor());
    }

    // A saved panel replaces the empty state with the list and its own button.
    controller.savePanel(makePanel(QStringLiteral("Studio"), { 0 }, { 0 }));
    QVERIFY(!empty->isVisible());
    auto *sectionNew = child<QPushButton>(&s.sheet, "listNewPanel");
    QVERIFY(sectionNew->isVisible());
    QCOMPARE(sectionNew->text(), QStringLiteral("New Panel\u2026"));
    QTest::mouseClick(sectionNew, Qt::LeftButton);
    QVERIFY(s.editor() && s.editor()->isNew());
    QCOMPARE(s.editor()->panel().name, QStringLiteral("Panel 2"));
}

void TestPanelManager::rowsFollowPanelsAndActivePanel()
{
    ControllerRig rig;
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0, 1, 7 }, { 2 });
    const SubPanel vt = makePanel(QStringLiteral("VT"), {}, { 0, 1 });
    RouterController &controller = makeWithPanels(rig, { cams, vt });
    rig.connectWith(makeState(4, 4));
    Sheet s(controller);
    // Counts are as stored, ports the router lacks included.
    QCOMPARE(rowTexts(s.list),
             (QStringList { QStringLiteral("Cams, 3 in \u00d7 1 out"),
                            QStringLiteral("VT, 0 in \u00d7 2 out") }));
    controller.setActivePanelID(vt.id);
    QCOMPARE(rowTexts(s.list).last(), QStringLiteral("VT, 0 in \u00d7 2 out, Active"));
    controller.setActivePanelID(cams.id);
    QCOMPARE(rowTexts(s.list),
             (QStringList { QStringLiteral("Cams, 3 in \u00d7 1 out, Active"),
                            QStringLiteral("VT, 0 in \u00d7 2 out") }));
}

void TestPanelManager::clickEditsAndEditorSavesThroughController()
{
    ControllerRig rig;
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0 }, { 0 });
    const SubPanel vt = makePanel(QStringLiteral("VT"), { 1 }, { 1 });
    RouterController &controller = makeWithPanels(rig, { cams, vt });
    rig.connectWith(makeState(4, 4));
    Sheet s(controller);

    clickRow(s.list, 1);
    PanelEditor *editor = s.editor();
    QVERIFY(editor);
    QCOMPARE(editor->windowTitle(), QStringLiteral("Edit Panel"));
    QVERIFY(!editor->isNew());
    QCOMPARE(editor->panel().id, vt.id);

    // One sheet at a time: another click while editing opens nothing more.
    clickRow(s.list, 0);
    QCOMPARE(s.sheet.findChildren<PanelEditor *>().size(), 1);

    auto *name = child<QLineEdit>(editor, "nameField");
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Playout"));
    QTest::mouseClick(child<QPushButton>(editor, "saveButton"), Qt::LeftButton);
    settleAll();
    QVERIFY(!s.editor());
    QCOMPARE(names(controller.panels()),
             (QStringList { QStringLiteral("Cams"), QStringLiteral("Playout") }));
    QCOMPARE(rowTexts(s.list).last(), QStringLiteral("Playout, 1 in \u00d7 1 out"));
    QVERIFY(!controller.activePanelID()); // an edited panel is not made active

    QVERIFY(s.choose(0, QStringLiteral("Edit\u2026")));
    QVERIFY(s.editor());
    QCOMPARE(s.editor()->panel().id, cams.id);
}

void TestPanelManager::contextMenuMoves()
{
    ControllerRig rig;
    RouterController &controller = makeWithPanels(rig, fourPanels());
    Sheet s(controller);
    const QStringList common { QStringLiteral("Edit\u2026"), QStringLiteral("Duplicate") };
    const QStringList tail { QStringLiteral("-"), QStringLiteral("Delete\u2026") };
    QCOMPARE(s.menuTexts(0), common + QStringList { QStringLiteral("Move Down") } + tail);
    const QStringList both { QStringLiteral("Move Up"), QStringLiteral("Move Down") };
    QCOMPARE(s.menuTexts(1), common + both + tail);
    QCOMPARE(s.menuTexts(3), common + QStringList { QStringLiteral("Move Up") } + tail);

    QVERIFY(s.choose(1, QStringLiteral("Move Down")));
    QCOMPARE(names(controller.panels()), (QStringList { "A", "C", "B", "D" }));
    QVERIFY(s.choose(2, QStringLiteral("Move Up")));
    QCOMPARE(names(controller.panels()), (QStringList { "A", "B", "C", "D" }));
    QCOMPARE(rowTexts(s.list).first(), QStringLiteral("A, 1 in \u00d7 1 out"));

    // A single panel can move neither way.
    ControllerRig single;
    RouterController &one = makeWithPanels(single, { makePanel("Solo", { 0 }, { 0 }) });
    Sheet alone(one);
    QCOMPARE(alone.menuTexts(0), common + tail);
}

void TestPanelManager::duplicateDoesNotOpenEditor()
{
    ControllerRig rig;
    RouterController &controller = makeWithPanels(rig, { makePanel("Cams", { 0 }, { 1 }) });
    Sheet s(controller);
    QVERIFY(s.choose(0, QStringLiteral("Duplicate")));
    QCOMPARE(names(controller.panels()), (QStringList { "Cams", "Cams Copy" }));
    QVERIFY(!s.editor());
    QCOMPARE(s.list->model()->rowCount(), 2);
}

void TestPanelManager::deleteAsksWithSalvoCount_data()
{
    QTest::addColumn<int>("salvos");
    QTest::addColumn<QString>("message");
    QTest::newRow("none") << 0
                          << QStringLiteral("Routing is not affected \u2014 only this saved "
                                            "panel layout is removed.");
    QTest::newRow("one") << 1
                         << QStringLiteral("Routing is not affected. Also deletes 1 salvo saved "
                                           "for this panel \u2014 they cannot be recovered.");
    QTest::newRow("three") << 3
                           << QStringLiteral("Routing is not affected. Also deletes 3 salvos "
                                             "saved for this panel \u2014 they cannot be "
                                             "recovered.");
}

void TestPanelManager::deleteAsksWithSalvoCount()
{
    QFETCH(int, salvos);
    QFETCH(QString, message);
    ControllerRig rig;
    const SubPanel panel = makePanel(QStringLiteral("<b>Cams</b>"), { 0 }, { 0 });
    addSalvos(rig, panel, salvos);
    addSalvos(rig, makePanel(QStringLiteral("Other"), {}, {}), 2); // another panel's salvos
    RouterController &controller = makeWithPanels(rig, { panel });
    Sheet s(controller);

    QVERIFY(s.choose(0, QStringLiteral("Delete\u2026")));
    QMessageBox *alert = s.alert();
    QVERIFY(alert);
    QCOMPARE(alert->text(), QStringLiteral("Delete \u201c<b>Cams</b>\u201d?"));
    QCOMPARE(alert->textFormat(), Qt::PlainText);
    QCOMPARE(alert->informativeText(), message);
    QVERIFY(alert->windowModality() == Qt::WindowModal);
    QCOMPARE(controller.panels().size(), 1); // asking deletes nothing
}

void TestPanelManager::deleteOnlyOnConfirmation()
{
    ControllerRig rig;
    RouterController &controller = makeWithPanels(rig, fourPanels());
    Sheet s(controller);

    // Cancel, Esc and the Delete key's alert answered with Cancel all leave the panels.
    QVERIFY(s.choose(1, QStringLiteral("Delete\u2026")));
    QTest::mouseClick(buttonTitled(s.alert(), QStringLiteral("Cancel")), Qt::LeftButton);
    settleAll();
    QVERIFY(!s.alert());
    QVERIFY(s.choose(1, QStringLiteral("Delete\u2026")));
    QTest::keyClick(s.alert(), Qt::Key_Escape);
    settleAll();
    QVERIFY(!s.alert());
    QCOMPARE(controller.panels().size(), 4);

    // While asked, no editor opens.
    s.list->setCurrentIndex(s.list->model()->index(2, 0));
    QTest::keyClick(s.list, Qt::Key_Delete);
    QVERIFY(s.alert());
    QCOMPARE(s.alert()->text(), QStringLiteral("Delete \u201cC\u201d?"));
    clickRow(s.list, 0);
    QVERIFY(!s.editor());
    QTest::mouseClick(buttonTitled(s.alert(), QStringLiteral("Delete")), Qt::LeftButton);
    settleAll();
    QVERIFY(!s.alert());
    QCOMPARE(names(controller.panels()), (QStringList { "A", "B", "D" }));
    QCOMPARE(s.list->model()->rowCount(), 3);
}

void TestPanelManager::deletingActivePanelDropsBadge()
{
    ControllerRig rig;
    const QList<SubPanel> panels = fourPanels();
    RouterController &controller = makeWithPanels(rig, panels);
    controller.setActivePanelID(panels[0].id);
    Sheet s(controller);
    QVERIFY(rowTexts(s.list).first().endsWith(QStringLiteral(", Active")));
    QVERIFY(s.choose(0, QStringLiteral("Delete\u2026")));
    QTest::mouseClick(buttonTitled(s.alert(), QStringLiteral("Delete")), Qt::LeftButton);
    settleAll();
    QVERIFY(!controller.activePanelID());
    for (const QString &text : rowTexts(s.list))
        QVERIFY2(!text.endsWith(QStringLiteral("Active")), qPrintable(text));
}

void TestPanelManager::dropReordersThroughController()
{
    ControllerRig rig;
    RouterController &controller = makeWithPanels(rig, fourPanels());
    Sheet s(controller);
    QAbstractItemModel *model = s.list->model();
    QCOMPARE(model->supportedDropActions(), Qt::MoveAction);
    // What the list hands over when row 0 is dragged, dropped at the view's target row.
    const auto drop = [&](int from, int target) {
        std::unique_ptr<QMimeData> data(model->mimeData({ model->index(from, 0) }));
        return model->dropMimeData(data.get(), Qt::MoveAction, target, 0, {});
    };

    QVERIFY(drop(0, -1)); // below the last row: to the end
    QCOMPARE(names(controller.panels()), (QStringList { "B", "C", "D", "A" }));
    QVERIFY(drop(3, 1));
    QCOMPARE(names(controller.panels()), (QStringList { "B", "A", "C", "D" }));
    QCOMPARE(rowTexts(s.list).at(1), QStringLiteral("A, 1 in \u00d7 1 out"));

    // Foreign or stale data moves nothing.
    QMimeData stale;
    stale.setData(model->mimeTypes().first(), "9,x");
    QVERIFY(!model->dropMimeData(&stale, Qt::MoveAction, 0, 0, {}));
    QMimeData text;
    text.setText(QStringLiteral("0"));
    QVERIFY(!model->dropMimeData(&text, Qt::MoveAction, 0, 0, {}));
    QCOMPARE(names(controller.panels()), (QStringList { "B", "A", "C", "D" }));
}

QTEST_MAIN(TestPanelManager)
#include "tst_panelmanager.moc"

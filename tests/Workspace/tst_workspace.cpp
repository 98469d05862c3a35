#include "App/ContentView.h"
#include "ControllerRig.h"
#include "PopupMenus.h"
#include "Theme/Controls.h"
#include "Theme/PaintedText.h"
#include "Theme/StatusDot.h"
#include "Theme/Theme.h"
#include "Views/Workspace/ControlBar.h"
#include "Views/Workspace/DeviceHeader.h"
#include "Views/Workspace/PanelTabStrip.h"
#include "Views/Workspace/QuorvelView.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyleHints>
#include <QToolButton>
#include <QtTest>

namespace {

std::shared_ptr<RouterController> shared(RouterController &controller)
{
    return { &controller, [](RouterController *) {
            } }; // the rig owns it
}

QString labelText(QWidget *root, const char *name)
{
    if (auto *elided = root->findChild<ElidedLabel *>(QString::fromLatin1(name)))
        return elided->text();
    auto *label = root->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

bool shows(QWidget *root, const char *name)
{
    auto *widget = root->findChild<QWidget *>(QString::fromLatin1(name));
    return widget && widget->isVisible();
}

QAbstractButton *buttonIn(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

class TestWorkspace : public QObject
{
    Q_OBJECT

private slots:
    void subtitleJoinsModelAndProgress();
    void promptFollowsTheStatus();
    void onlineShowsTheRoutingLayoutAndToolbar();
    void bannerOnlyWhileOnline();
    void mismatchedPanelShowsThePlaceholder();
    void panelShortcutsAnswerInEveryStatus();
    void panelShortcutAfterATapKeepsTheTap();
    void clearanceFollowsTheControlBar();
    void renameAlertSavesOrLeavesThePort();
    void deletePanelAsksFirst();
    void panelEditorKnowsNewFromEdited();
    void ordinaryLongNamesAreShownWhole();
    void hugeNamesKeepTheWindowUsable();
};

void TestWorkspace::subtitleJoinsModelAndProgress()
{
    QCOMPARE(QuorvelView::subtitle(QStringLiteral("Smart 40"), QString()),
             QStringLiteral("Smart 40"));
    QCOMPARE(QuorvelView::subtitle(QString(), QStringLiteral("Reading router state\u2026")),
             QStringLiteral("Reading router state\u2026"));
    QCOMPARE(QuorvelView::subtitle(QStringLiteral("Smart 40"), QStringLiteral("Busy")),
             QStringLiteral("Smart 40 \u00B7 Busy"));
    QCOMPARE(QuorvelView::subtitle(QString(), QString()), QString());
    QCOMPARE(QuorvelView::renameTitle(PortRef { PortKind::source, 0 }),
             QStringLiteral("Rename Source"));
    QCOMPARE(QuorvelView::renameTitle(PortRef { PortKind::destination, 3 }),
             QStringLiteral("Rename Destination"));
}

void TestWorkspace::promptFollowsTheStatus()
{
    ControllerRig rig;
    rig.connection.name = QStringLiteral("Truck <b>A</b>");
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    auto *pill = view.findChild<StatusPill *>();
    auto *button = view.findChild<QPushButton *>(QStringLiteral("promptButton"));

    // Before it is shown nothing dials; showing it connects the disconnected router once.
    QCOMPARE(pill->text(), QStringLiteral("Offline"));
    QCOMPARE(button->text(), QStringLiteral("Connect"));
    view.show();
    QTRY_COMPARE(controller.status().kind(), ConnectionStatus::connecting);
    QCOMPARE(rig.drivers.made().size(), qsizetype(1));
    QCOMPARE(labelText(&view, "promptTitle"), rig.connection.name);
    QCOMPARE(labelText(&view, "promptDescription"),
             QStringLiteral("Blackmagic Videohub \u00B7 127.0.0.1:9990"));
    QCOMPARE(pill->text(), QStringLiteral("Connecting\u2026"));
    QCOMPARE(button->text(), QStringLiteral("Cancel"));
    QVERIFY(!shows(&view, "promptFailure"));
    // Without a failure no empty line stands between the pill and the button.
    QWidget *promptPill = view.findChild<QWidget *>("connectPrompt")->findChild<StatusPill *>();
    QTRY_VERIFY(button->y() - promptPill->geometry().bottom()
                < promptPill->fontMetrics().lineSpacing() + 16);

    button->click(); // Cancel disconnects
    QCOMPARE(controller.status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(button->text(), QStringLiteral("Connect"));

    button->click();
    const QString failure = QStringLiteral("The router didn't answer within 12 seconds.");
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeError(failure));
    QTRY_COMPARE(controller.status().kind(), ConnectionStatus::failed);
    QCOMPARE(pill->text(), QStringLiteral("Error"));
    QVERIFY(shows(&view, "promptFailure"));
    QCOMPARE(labelText(&view, "promptFailure"), failure);
    QCOMPARE(button->text(), QStringLiteral("Connect"));
    // After a failure it waits for the operator.
    QTest::qWait(20);
    QCOMPARE(rig.drivers.made().size(), qsizetype(2));
}

void TestWorkspace::onlineShowsTheRoutingLayoutAndToolbar()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.resize(1000, 700);
    view.show();
    QVERIFY(!shows(&view, "viewModePicker"));
    QVERIFY(shows(&view, "connectPrompt"));

    rig.connectWith(makeState(4, 4));
    QVERIFY(shows(&view, "connectedLayout"));
    QVERIFY(!shows(&view, "connectPrompt"));
    QVERIFY(shows(&view, "viewModePicker"));
    QCOMPARE(labelText(&view, "windowTitle"), rig.connection.name);
    QCOMPARE(labelText(&view, "windowSubtitle"), QStringLiteral("Model"));

    auto *list = view.findChild<QAbstractButton *>(QStringLiteral("listMode"));
    list->click();
    QCOMPARE(controller.viewMode(), RouteViewMode::list);
    controller.setViewMode(RouteViewMode::matrix);
    QVERIFY(view.findChild<QAbstractButton *>(QStringLiteral("matrixMode"))->isChecked());

    controller.disconnect();
    QVERIFY(shows(&view, "connectPrompt"));
    QVERIFY(!shows(&view, "viewModePicker"));
}

void TestWorkspace::bannerOnlyWhileOnline()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.show();
    QTRY_COMPARE(controller.status().kind(), ConnectionStatus::connecting);
    auto *banner = view.findChild<QWidget *>(QStringLiteral("errorBanner"));
    QVERIFY(banner);
    controller.setLastError(QStringLiteral("Take refused"));
    QVERIFY(banner->isHidden());

    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(makeState(2, 2)));
    QTRY_VERIFY(controller.status().isConnected());
    controller.setLastError(QStringLiteral("Take refused"));
    QVERIFY(!banner->isHidden());
    controller.setLastError(std::nullopt);
    QVERIFY(banner->isHidden());
}

void TestWorkspace::mismatchedPanelShowsThePlaceholder()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.resize(1000, 700);
    view.show();
    rig.connectWith(makeState(4, 4));

    const SubPanel beyond = makePanel(QStringLiteral("Far"), { 40, 41 }, { 0 });
    controller.savePanel(beyond);
    controller.setActivePanelID(beyond.id);
    QVERIFY(shows(&view, "panelMismatch"));
    view.findChild<QPushButton *>(QStringLiteral("showFullRouter"))->click();
    QCOMPARE(controller.activePanelID(), std::nullopt);
    QVERIFY(!shows(&view, "panelMismatch"));
}

void TestWorkspace::panelShortcutsAnswerInEveryStatus()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QList<SubPanel> panels;
    for (int i = 0; i < 12; ++i) {
        panels.append(makePanel(QStringLiteral("P%1").arg(i + 1), { 0 }, { 0 }));
        controller.savePanel(panels.last());
    }
    QuorvelView view(shared(controller));
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QVERIFY(!controller.status().isConnected()); // the prompt is up

    QTest::keyClick(&view, Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(controller.activePanelID(), std::optional<QUuid>(panels.at(2).id));
    QTest::keyClick(&view, Qt::Key_9, Qt::ControlModifier);
    QCOMPARE(controller.activePanelID(), std::optional<QUuid>(panels.at(8).id));
    QTest::keyClick(&view, Qt::Key_0, Qt::ControlModifier);
    QCOMPARE(controller.activePanelID(), std::nullopt);
}

// A tap waits out the double-click interval; a panel shortcut pressed meanwhile used to prune
// the selected destination first, so the take went nowhere.
void TestWorkspace::panelShortcutAfterATapKeepsTheTap()
{
    QStyleHints *hints = QGuiApplication::styleHints();
    const int interval = hints->mouseDoubleClickInterval();
    hints->setMouseDoubleClickInterval(60000); // only the next input runs the tap
    const auto restore = qScopeGuard([=] { hints->setMouseDoubleClickInterval(interval); });
    ControllerRig rig;
    RouterController &controller = rig.make();
    controller.savePanel(makePanel(QStringLiteral("Desk"), { 0, 1, 2 }, { 1 }));
    controller.setViewMode(RouteViewMode::list);
    QuorvelView view(shared(controller));
    view.resize(1000, 700);
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    rig.connectWith(makeState(4, 4, 1));
    ControllerRig::settle();

    auto *sources = view.findChild<QListView *>(QStringLiteral("sources"));
    const QPoint third = sources->visualRect(sources->model()->index(2, 0)).center();
    QTest::mouseClick(sources->viewport(), Qt::LeftButton, {}, third);
    QTest::keyClick(&view, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(controller.activePanelID(), std::optional<QUuid>(controller.panels().first().id));
    QCOMPARE(controller.state().source(0, 0), std::optional<int>(2));
}

void TestWorkspace::clearanceFollowsTheControlBar()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.resize(1000, 700);
    QCOMPARE(view.controlBarHeight(), QuorvelView::initialControlBarHeight);
    view.show();
    rig.connectWith(makeState(4, 4, 1));
    // Measured once shown: the bar with its 10-point bottom inset.
    auto *bar = view.findChild<ControlBar *>();
    QTRY_COMPARE(view.controlBarHeight(), bar->height() + 10);

    controller.setViewMode(RouteViewMode::list);
    controller.setTakeMode(TakeMode::immediate);
    QCOMPARE(ControlBar::hasContent(controller, false), false);
    QCOMPARE(view.controlBarClearance(), 0);
    QVERIFY(bar->isHidden());
    QVERIFY(view.controlBarHeight() > 10); // a hidden bar keeps its last height
    controller.setViewMode(RouteViewMode::matrix);
    QVERIFY(!bar->isHidden());
    QVERIFY(ControlBar::hasContent(controller, false));
    QCOMPARE(view.controlBarClearance(), view.controlBarHeight() + 16);
}

void TestWorkspace::renameAlertSavesOrLeavesThePort()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.show();
    rig.connectWith(makeState(4, 4));

    controller.beginRename(PortKind::source, 1);
    QDialog *alert = view.renameAlert();
    QVERIFY(alert && alert->isVisible());
    QCOMPARE(alert->windowTitle(), QStringLiteral("Rename Source"));
    auto *field = alert->findChild<QLineEdit *>(QStringLiteral("renameField"));
    QCOMPARE(field->text(), QStringLiteral("S2"));
    QCOMPARE(field->placeholderText(), QStringLiteral("Name"));
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Camera 2"));
    QCOMPARE(controller.renameDraft(), QStringLiteral("Camera 2"));
    QTest::keyClick(field, Qt::Key_Return);
    QTRY_VERIFY(!view.renameAlert());
    QCOMPARE(controller.renameTarget(), std::nullopt);
    QCOMPARE(controller.state().sources.at(1).label, QStringLiteral("Camera 2"));

    controller.beginRename(PortKind::destination, 0);
    alert = view.renameAlert();
    QCOMPARE(alert->windowTitle(), QStringLiteral("Rename Destination"));
    QTest::keyClicks(alert->findChild<QLineEdit *>(QStringLiteral("renameField")),
                     QStringLiteral("x"));
    alert->reject();
    QTRY_VERIFY(!view.renameAlert());
    QCOMPARE(controller.renameTarget(), std::nullopt);
    QCOMPARE(controller.state().destinations.at(0).label, QStringLiteral("D1"));

    // A workspace rebuilt under an open alert left the target set, so renaming that port
    // again changed nothing and opened nothing.
    {
        QuorvelView gone(shared(controller));
        gone.show();
        controller.beginRename(PortKind::source, 3);
    }
    QCOMPARE(controller.renameTarget(), std::nullopt);
    controller.beginRename(PortKind::source, 3);
    QVERIFY(view.renameAlert() && view.renameAlert()->isVisible());
}

void TestWorkspace::deletePanelAsksFirst()
{
    QCOMPARE(QuorvelView::deletePanelMessage(0),
             QStringLiteral("Routing is not affected \u2014 only this saved panel layout is "
                            "removed."));
    QCOMPARE(QuorvelView::deletePanelMessage(1),
             QStringLiteral("Routing is not affected. Also deletes 1 salvo saved for this panel "
                            "\u2014 they cannot be recovered."));
    QCOMPARE(QuorvelView::deletePanelMessage(3),
             QStringLiteral("Routing is not affected. Also deletes 3 salvos saved for this panel "
                            "\u2014 they cannot be recovered."));

    ControllerRig rig;
    RouterController &controller = rig.make();
    const SubPanel panel = makePanel(QStringLiteral("Studio “A”"), { 0 }, { 0 });
    controller.savePanel(panel);
    QuorvelView view(shared(controller));
    view.show();

    view.confirmDeletePanel(panel);
    QMessageBox *alert = view.deletePanelAlert();
    QVERIFY(alert);
    QCOMPARE(alert->text(), QStringLiteral("Delete \u201CStudio “A”\u201D?"));
    QCOMPARE(alert->textFormat(), Qt::PlainText);
    buttonIn(alert, QStringLiteral("Cancel"))->click();
    QTRY_VERIFY(!view.deletePanelAlert());
    QVERIFY(!view.deletingPanel());
    QCOMPARE(controller.panels().size(), qsizetype(1));

    // From the tab's own menu, as the operator asks: deleting rebuilds the tabs, the panel
    // shortcuts and the toolbar under that menu.
    rig.connectWith(makeState(4, 4));
    auto *strip = view.findChild<PanelTabStrip *>();
    QAbstractButton *tab = strip->tab(panel.id);
    QVERIFY(tab && tab->isVisible());
    QMenu *menu = PopupMenus::rightClick(tab, tab->rect().center());
    QVERIFY(PopupMenus::choose(menu, QStringLiteral("Delete…"), strip));
    buttonIn(view.deletePanelAlert(), QStringLiteral("Delete"))->click();
    QTRY_VERIFY(!view.deletePanelAlert());
    QVERIFY(controller.panels().isEmpty());
    QVERIFY(!strip->isVisible());
}

// A panel the router has not stored opens as new (made active once saved), a stored one not.
void TestWorkspace::panelEditorKnowsNewFromEdited()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    const SubPanel panel = makePanel(QStringLiteral("Desk"), { 0 }, { 0 });
    for (const char *title : { "New Panel", "Edit Panel" }) { // before it is stored, and after
        view.editPanel(panel);
        QCOMPARE(std::unique_ptr<QDialog>(view.findChild<QDialog *>())->windowTitle(), title);
        controller.savePanel(panel);
    }
}

QTEST_MAIN(TestWorkspace)
// Panel tabs and salvo chips stopped at 320 points, cutting names of ordinary length.
void TestWorkspace::ordinaryLongNamesAreShownWhole()
{
    const QString name = QStringLiteral("MAIN STUDIO WIDE SHOT CAMERA LEFT MONITOR OUT"); // 45
    ControllerRig rig;
    rig.connection.name = QStringLiteral("Studio B Videohub 40\u00d740");
    const SubPanel panel = makePanel(name, { 0, 1 }, { 0, 1 });
    rig.panels.upsert(panel, rig.connection.id);
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.setFont(Theme::font(Theme::TextStyle::body)); // the application's, which is larger
    view.resize(860 - ContentView::sidebarIdealWidth, 560); // the smallest window
    view.show();
    RouterState state = makeState(4, 4);
    state.routing[0].insert(0, 1);
    rig.connectWith(state);
    controller.saveSalvo(name, std::nullopt);
    ControllerRig::settle();

    PaintedText::resetElided();
    view.grab();
    QVERIFY(!PaintedText::elidedTexts().contains(name));
    const QFont tabFont = Theme::font(Theme::TextStyle::callout);
    QVERIFY(view.findChild<PanelTabStrip *>()->tab(panel.id)->width()
            >= QFontMetricsF(tabFont).horizontalAdvance(name));
    const auto *chip = view.findChild<QPushButton *>(QStringLiteral("salvoChip"));
    QVERIFY(chip->width() - 2 * 10 >= QFontMetricsF(chip->font()).horizontalAdvance(name));
    // The router's name in the toolbar read "Stu…", then "Full Router" read "Full …": the
    // toolbar's buttons give way first, down to their symbols.
    const auto *title = view.findChild<ElidedLabel *>(QStringLiteral("windowTitle"));
    QVERIFY(title->width() >= title->sizeHint().width());
    auto *panelMenu = view.findChild<QToolButton *>(QStringLiteral("panelMenu"));
    QVERIFY(panelMenu->toolButtonStyle() == Qt::ToolButtonIconOnly
            || panelMenu->text() == QStringLiteral("Full Router"));

    // With room for it, as in a 1180-point window, the panel menu shows the panel's name whole.
    controller.setActivePanelID(panel.id);
    view.resize(1180 - ContentView::sidebarMinimumWidth, 760);
    ControllerRig::settle();
    QCOMPARE(panelMenu->text(), name);
}

void TestWorkspace::hugeNamesKeepTheWindowUsable()
{
    // Files keep names whole, however long; every view shows one line of them.
    const QString huge = QStringLiteral("Name ").repeated(200000);
    ControllerRig rig;
    rig.connection.name = huge;
    const SubPanel panel = makePanel(huge, { 0, 1 }, { 0, 1 });
    rig.panels.upsert(panel, rig.connection.id);
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.resize(1000, 700);
    view.show();
    RouterState state = makeState(4, 4);
    state.deviceName = state.model = huge.left(maxShownNameLength); // as long as a router sends
    state.routing[0].insert(0, 1);
    rig.connectWith(state);
    controller.setActivePanelID(panel.id);
    controller.saveSalvo(huge, panel.id);
    ControllerRig::settle();

    QVERIFY(view.minimumSizeHint().width() <= 1000);
    const auto *header = view.findChild<DeviceHeader *>();
    QVERIFY(header->capsuleRect().contains(header->findChild<StatusDot *>()->geometry()));
    QVERIFY(!view.grab().isNull()); // every view paints its names once
    auto *title = view.findChild<ElidedLabel *>(QStringLiteral("windowTitle"));
    QCOMPARE(title->text(), huge);
    QVERIFY(title->width() < 1000);
    QVERIFY(title->toolTip().contains(QStringLiteral("Name Name")));
    QVERIFY(title->toolTip().size() < 2 * maxShownNameLength);
    const auto *chip = view.findChild<QPushButton *>(QStringLiteral("salvoChip"));
    QVERIFY(chip);
    const auto *chips = view.findChild<QWidget *>(QStringLiteral("salvoStrip"));
    QVERIFY(chip->sizeHint().width() < chips->findChild<QScrollArea *>()->viewport()->width());
    for (const auto *tab : view.findChildren<QAbstractButton *>())
        QVERIFY(tab->sizeHint().width() < 1000);
}

#include "tst_workspace.moc"

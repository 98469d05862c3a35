#include "ControllerRig.h"
#include "Theme/GlassKit.h"
#include "Views/Workspace/ControlBar.h"
#include "Views/Workspace/RoutingModeCluster.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

namespace {

using Command = FakeRouterDriver::Command;

template<typename T = QWidget> T *part(const QWidget *root, const char *name)
{
    T *found = root->findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning("no part named %s", name);
    return found;
}

QAbstractButton *segment(const QWidget *picker, const QString &text)
{
    for (QAbstractButton *button : picker->findChildren<QAbstractButton *>()) {
        if (button->accessibleName() == text)
            return button;
    }
    qWarning("no segment %s", qPrintable(text));
    return nullptr;
}

QStringList segmentTexts(const QWidget *picker)
{
    QStringList texts;
    for (QAbstractButton *button : picker->findChildren<QAbstractButton *>())
        texts.append(button->accessibleName());
    return texts;
}

QString textOf(const QWidget *root, const char *name)
{
    return part(root, name)->accessibleName();
}

// Every route the controller sent to the router, in order.
QList<Route> sentRoutes(const FakeRouterDriver &driver)
{
    QList<Route> routes;
    for (const FakeRouterDriver::Call &call : driver.calls(Command::takeAll))
        routes += call.routes;
    return routes;
}

void click(QWidget *widget)
{
    QVERIFY(widget);
    QVERIFY(widget->isVisible());
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

// Vertical centre of a part in the bar's coordinates: parts in one row share it.
int rowOf(const ControlBar &bar, const char *name)
{
    const QWidget *widget = part(&bar, name);
    return widget->mapTo(&bar, widget->rect().center()).y();
}

} // namespace

// The bar as the workspace holds it: full width of a host, bottom-aligned in a layout.
struct BarHost
{
    explicit BarHost(RouterController &controller, int width = 1000)
    {
        auto *column = new QVBoxLayout(&host);
        column->setContentsMargins(0, 0, 0, 0);
        column->addStretch(1);
        bar = new ControlBar(controller);
        column->addWidget(bar);
        host.resize(width, 400);
        host.show();
        QApplication::setActiveWindow(&host);
        settle();
    }
    void resize(int width)
    {
        host.resize(width, 400);
        settle();
    }
    static void settle()
    {
        ControllerRig::settle();
        QApplication::processEvents();
    }

    QWidget host;
    ControlBar *bar = nullptr;
};

class tst_ControlBar : public QObject
{
    Q_OBJECT

private slots:
    void init() { GlassKit::MatrixCellSize::shared().setValue(GlassKit::defaultMatrixCellSize); }

    void hasContent_data();
    void hasContent();
    void absentBarHidesAndReturns();
    void arrangementFollowsWidth();
    void takeClusterTexts();
    void takeAndReturnConfirmStaging();
    void returnDoesNothingWithoutTake();
    void clearDropsStaging();
    void levelPickerAndBreakaway();
    void zoomStepsSharedCellSize();
    void takeModePicker();
    void directionPicker();
};

void tst_ControlBar::hasContent_data()
{
    QTest::addColumn<int>("levels");
    QTest::addColumn<bool>("matrix");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("compact");
    QTest::addColumn<bool>("expected");

    QTest::newRow("one level, list, direct") << 1 << false << false << false << false;
    QTest::newRow("no levels, list, direct") << 0 << false << false << false << false;
    QTest::newRow("one level, list, direct, compact") << 1 << false << false << true << true;
    QTest::newRow("two levels, list, direct") << 2 << false << false << false << true;
    QTest::newRow("one level, matrix, direct") << 1 << true << false << false << true;
    QTest::newRow("one level, list, confirm") << 1 << false << true << false << true;
    QTest::newRow("three levels, matrix, confirm") << 3 << true << true << false << true;
}

void tst_ControlBar::hasContent()
{
    QFETCH(int, levels);
    QFETCH(bool, matrix);
    QFETCH(bool, confirm);
    QFETCH(bool, compact);
    QFETCH(bool, expected);

    ControllerRig rig;
    rig.connectWith(makeState(4, 4, levels));
    RouterController &controller = *rig.controller;
    controller.setViewMode(matrix ? RouteViewMode::matrix : RouteViewMode::list);
    controller.setTakeMode(confirm ? TakeMode::confirm : TakeMode::immediate);
    QCOMPARE(ControlBar::hasContent(controller, compact), expected);
}

void tst_ControlBar::absentBarHidesAndReturns()
{
    ControllerRig rig;
    rig.connectWith(makeState(4, 4, 1));
    RouterController &controller = *rig.controller;
    controller.setViewMode(RouteViewMode::list);

    BarHost host(controller);
    ControlBar &bar = *host.bar;
    QSignalSpy heights(&bar, &ControlBar::heightChanged);
    QVERIFY(bar.isHidden());

    // The same router in matrix mode: only a divider and the cell-size control.
    controller.setViewMode(RouteViewMode::matrix);
    host.settle();
    QVERIFY(bar.isVisible());
    QVERIFY(part(&bar, "zoomControl")->isVisible());
    QVERIFY(!part(&bar, "levelPicker")->isVisible());
    QVERIFY(!part(&bar, "followButton")->isVisible());
    QVERIFY(!part(&bar, "takeCluster")->isVisible());
    QVERIFY(!heights.isEmpty());
    QCOMPARE(heights.last().at(0).toInt(), bar.height());
    QVERIFY(bar.height() > 0);

    controller.setViewMode(RouteViewMode::list);
    host.settle();
    QVERIFY(bar.isHidden());
    QCOMPARE(heights.last().at(0).toInt(), 0);

    // A bar its creator hid stays hidden when content goes and comes back.
    controller.setTakeMode(TakeMode::confirm);
    host.settle();
    QVERIFY(bar.isVisible());
    bar.hide();
    controller.setTakeMode(TakeMode::immediate);
    controller.setTakeMode(TakeMode::confirm);
    host.settle();
    QVERIFY(bar.isHidden());
}

void tst_ControlBar::arrangementFollowsWidth()
{
    ControllerRig rig;
    rig.connectWith(makeState(4, 4, 2));
    RouterController &controller = *rig.controller;
    controller.setTakeMode(TakeMode::confirm);

    BarHost host(controller, 1000);
    ControlBar &bar = *host.bar;
    QSignalSpy heights(&bar, &ControlBar::heightChanged);
    const int oneRowWidth = bar.sizeHint().width();
    QVERIFY2(oneRowWidth <= 820, "the wide arrangement must fit the bar's largest width");

    // Wide: level picker, Follow, divider, cell size, divider, take cluster in one row.
    const int single = bar.height();
    const int row = rowOf(bar, "levelPicker");
    QCOMPARE(rowOf(bar, "followButton"), row);
    QCOMPARE(rowOf(bar, "zoomControl"), row);
    QCOMPARE(rowOf(bar, "takeCluster"), row);
    const QRect barFrame = bar.mask().boundingRect();
    QCOMPARE(barFrame.width(), oneRowWidth);
    QCOMPARE(barFrame.center().x(), bar.rect().center().x());
    // Beside the bar, clicks go through to what lies below.
    QVERIFY(!bar.mask().contains(QPoint(2, bar.height() / 2)));

    // Narrower: the take cluster moves to a second row.
    host.resize(oneRowWidth - 1);
    QVERIFY(bar.height() > single);
    QCOMPARE(heights.last().at(0).toInt(), bar.height());
    QCOMPARE(rowOf(bar, "followButton"), rowOf(bar, "levelPicker"));
    QCOMPARE(rowOf(bar, "zoomControl"), rowOf(bar, "levelPicker"));
    QVERIFY(rowOf(bar, "takeCluster") > rowOf(bar, "levelPicker"));
    const int two = bar.height();

    // Narrower still: Follow; level picker and cell size; take cluster.
    host.resize(180);
    QVERIFY(bar.height() > two);
    QVERIFY(rowOf(bar, "followButton") < rowOf(bar, "levelPicker"));
    QCOMPARE(rowOf(bar, "zoomControl"), rowOf(bar, "levelPicker"));
    QVERIFY(rowOf(bar, "takeCluster") > rowOf(bar, "levelPicker"));
    QCOMPARE(bar.height(), bar.heightForWidth(180));
    // The take cluster gives up width rather than overflowing the bar.
    QVERIFY(bar.mask().boundingRect().contains(part(&bar, "takeCluster")->geometry()));

    // Beyond 820 the choice is made as at 820.
    QCOMPARE(bar.heightForWidth(4000), bar.heightForWidth(820));
}

void tst_ControlBar::takeClusterTexts()
{
    ControllerRig rig;
    RouterState state = makeState(4, 4, 1);
    state.destinations[2].label = QStringLiteral("Cam 3");
    state.sources[1].label = QStringLiteral("<b>VT & Replay</b>");
    rig.connectWith(state);
    RouterController &controller = *rig.controller;
    controller.setTakeMode(TakeMode::confirm);
    BarHost host(controller);
    ControlBar &bar = *host.bar;

    QCOMPARE(textOf(&bar, "emptyHint"), QStringLiteral("Stage a route"));
    QVERIFY(part(&bar, "emptyHint")->isVisible());
    QVERIFY(!part(&bar, "stagedSource")->isVisible());
    controller.setDirection(RoutingDirection::sourceLed);
    QCOMPARE(textOf(&bar, "emptyHint"), QStringLiteral("Tap destinations to stage"));
    controller.setDirection(RoutingDirection::destinationLed);

    controller.focusDestination(2);
    controller.chooseSource(1);
    host.settle();
    QVERIFY(!part(&bar, "emptyHint")->isVisible());
    QVERIFY(part(&bar, "stagedSource")->isVisible());
    QCOMPARE(textOf(&bar, "stagedSource"), QStringLiteral("<b>VT & Replay</b>"));
    QCOMPARE(textOf(&bar, "stagedTargets"), QStringLiteral("→ Cam 3"));

    controller.setPendingDestination(std::nullopt);
    controller.setPendingDestinations({ 0, 1, 3 });
    QCOMPARE(textOf(&bar, "stagedTargets"), QStringLiteral("→ 3 destinations"));

    // Ports outside the router's lists read as a dash.
    controller.setPendingDestinations({});
    controller.setPendingDestination(9);
    controller.setPendingSource(7);
    QCOMPARE(textOf(&bar, "stagedSource"), QStringLiteral("—"));
    QCOMPARE(textOf(&bar, "stagedTargets"), QStringLiteral("→ —"));
}

void tst_ControlBar::takeAndReturnConfirmStaging()
{
    ControllerRig rig;
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 1));
    RouterController &controller = *rig.controller;
    controller.setTakeMode(TakeMode::confirm);
    BarHost host(controller);
    ControlBar &bar = *host.bar;
    QVERIFY(QTest::qWaitForWindowActive(&host.host));
    auto *take = part<QAbstractButton>(&bar, "takeButton");

    controller.focusDestination(2);
    controller.chooseSource(1);
    QVERIFY(take->isEnabled());
    click(take);
    rig.settle();
    QCOMPARE(controller.state().source(2, 0), 1);
    QVERIFY(!controller.hasStaging());
    QVERIFY(!take->isEnabled());
    QCOMPARE(sentRoutes(driver), QList<Route>({ { 0, 2, 1 } }));

    // Return takes what is staged, here a source for two destinations.
    controller.setPendingDestinations({ 0, 3 });
    controller.setPendingSource(2);
    QTest::keyClick(&host.host, Qt::Key_Return);
    rig.settle();
    QCOMPARE(controller.state().source(0, 0), 2);
    QCOMPARE(controller.state().source(3, 0), 2);
    QVERIFY(!controller.hasStaging());
    QCOMPARE(sentRoutes(driver), QList<Route>({ { 0, 2, 1 }, { 0, 0, 2 }, { 0, 3, 2 } }));
}

void tst_ControlBar::returnDoesNothingWithoutTake()
{
    ControllerRig rig;
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 1));
    RouterController &controller = *rig.controller;
    controller.setTakeMode(TakeMode::confirm);
    BarHost host(controller);
    QVERIFY(QTest::qWaitForWindowActive(&host.host));

    // A destination armed without a source: nothing to take yet.
    controller.focusDestination(1);
    QVERIFY(!part(host.bar, "takeButton")->isEnabled());
    QTest::keyClick(&host.host, Qt::Key_Return);
    rig.settle();
    QCOMPARE(controller.pendingDestination(), std::optional<int>(1));
    QVERIFY(sentRoutes(driver).isEmpty());

    // Direct mode: no take cluster; a leftover staging must not be sent by Return.
    controller.setTakeMode(TakeMode::immediate);
    controller.setPendingDestination(1);
    controller.setPendingSource(0);
    host.settle();
    QVERIFY(!part(host.bar, "takeCluster")->isVisible());
    QTest::keyClick(&host.host, Qt::Key_Return);
    rig.settle();
    QVERIFY(sentRoutes(driver).isEmpty());
    QVERIFY(controller.hasStaging());
}

void tst_ControlBar::clearDropsStaging()
{
    ControllerRig rig;
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 1));
    RouterController &controller = *rig.controller;
    controller.setTakeMode(TakeMode::confirm);
    BarHost host(controller);
    auto *clear = part<QAbstractButton>(host.bar, "clearButton");
    QCOMPARE(clear->accessibleName(), QStringLiteral("Clear staged route"));
    QVERIFY(!clear->isEnabled());

    // A destination alone counts as staging: Clear is there before Take is.
    controller.focusDestination(3);
    QVERIFY(clear->isEnabled());
    QVERIFY(!part(host.bar, "takeButton")->isEnabled());
    controller.chooseSource(2);
    click(clear);
    QVERIFY(!controller.hasStaging());
    QVERIFY(!clear->isEnabled());
    QCOMPARE(textOf(host.bar, "emptyHint"), QStringLiteral("Stage a route"));
    QVERIFY(sentRoutes(driver).isEmpty());
}

void tst_ControlBar::levelPickerAndBreakaway()
{
    ControllerRig rig;
    RouterState state = makeState(4, 4, 3);
    state.levels[0].name = QStringLiteral("SDI & Embedded");
    state.levels[1].kind = LevelKind::audio;
    rig.connectWith(state);
    RouterController &controller = *rig.controller;
    BarHost host(controller);
    ControlBar &bar = *host.bar;
    QWidget *picker = part(&bar, "levelPicker");
    auto *follow = part<QAbstractButton>(&bar, "followButton");

    // Names as stored, "&" included.
    QCOMPARE(segmentTexts(picker), QStringList({ "SDI & Embedded", "Level 1", "Level 2" }));
    QCOMPARE(picker->accessibleName(), QStringLiteral("Level"));
    click(segment(picker, QStringLiteral("Level 2")));
    QCOMPARE(controller.primaryLevel(), 2);
    // Follow: choosing a level leaves every level following.
    QVERIFY(controller.breakawayLevels().isEmpty());

    click(segment(picker, QStringLiteral("Level 1")));
    QCOMPARE(follow->accessibleName(), QStringLiteral("Follow"));
    click(follow);
    QCOMPARE(controller.breakawayLevels(), QSet<int>({ 1 }));
    QCOMPARE(follow->accessibleName(), QStringLiteral("Breakaway"));
    click(follow);
    QVERIFY(controller.breakawayLevels().isEmpty());
    QCOMPARE(follow->accessibleName(), QStringLiteral("Follow"));

    // A breakaway narrows to the newly chosen level.
    controller.setBreakawayLevels({ 0, 2 });
    click(segment(picker, QStringLiteral("SDI & Embedded")));
    QCOMPARE(controller.primaryLevel(), 0);
    QCOMPARE(controller.breakawayLevels(), QSet<int>({ 0 }));
    controller.setPrimaryLevel(1);
    QCOMPARE(controller.breakawayLevels(), QSet<int>({ 1 }));

    // One level: no picker, and a level change elsewhere leaves the breakaway alone.
    rig.connectWith(makeState(4, 4, 1));
    controller.setBreakawayLevels({ 0 });
    controller.setPrimaryLevel(5);
    QCOMPARE(controller.breakawayLevels(), QSet<int>({ 0 }));
    host.settle();
    QVERIFY(!picker->isVisible());
}

void tst_ControlBar::zoomStepsSharedCellSize()
{
    ControllerRig rig;
    rig.connectWith(makeState(4, 4, 1));
    BarHost host(*rig.controller);
    QWidget *zoom = part(host.bar, "zoomControl");
    QAbstractButton *larger = segment(zoom, QStringLiteral("Larger cells"));
    QAbstractButton *smaller = segment(zoom, QStringLiteral("Smaller cells"));
    GlassKit::MatrixCellSize &size = GlassKit::MatrixCellSize::shared();

    QList<double> seen;
    while (larger->isEnabled() && seen.size() < 20) {
        click(larger);
        seen.append(size.value());
    }
    QCOMPARE(seen, QList<double>({ 50, 56, 62, 68 }));
    seen.clear();
    while (smaller->isEnabled() && seen.size() < 20) {
        click(smaller);
        seen.append(size.value());
    }
    QCOMPARE(seen, QList<double>({ 62, 56, 50, 44, 38, 32, 30 }));
    QVERIFY(larger->isEnabled());
}

void tst_ControlBar::takeModePicker()
{
    ControllerRig rig;
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 1));
    RouterController &controller = *rig.controller;
    RoutingModeCluster cluster(controller, true);
    BarHost host(controller);
    cluster.show();
    QWidget *picker = part(&cluster, "takeModePicker");
    QCOMPARE(segmentTexts(picker), QStringList({ "Direct", "Take" }));
    QCOMPARE(picker->toolTip(), QStringLiteral("Routes the moment you choose a source."));

    click(segment(picker, QStringLiteral("Take")));
    QCOMPARE(controller.takeMode(), TakeMode::confirm);
    QCOMPARE(picker->toolTip(), QStringLiteral("Stage a route, then press Take to cut it."));
    host.settle();
    QVERIFY(part(host.bar, "takeCluster")->isVisible());

    // Back to Direct with a route staged: it is dropped, not sent, and the cluster goes.
    controller.focusDestination(0);
    controller.chooseSource(3);
    click(segment(picker, QStringLiteral("Direct")));
    QCOMPARE(controller.takeMode(), TakeMode::immediate);
    QVERIFY(!controller.hasStaging());
    QVERIFY(sentRoutes(driver).isEmpty());
    host.settle();
    QVERIFY(!part(host.bar, "takeCluster")->isVisible());
}

void tst_ControlBar::directionPicker()
{
    ControllerRig rig;
    rig.connectWith(makeState(4, 6, 1));
    RouterController &controller = *rig.controller;
    RoutingModeCluster cluster(controller, false);
    cluster.show();
    QWidget *picker = part(&cluster, "directionPicker");
    const int matrixWidth = cluster.sizeHint().width();
    QVERIFY(!picker->isVisible());

    controller.setViewMode(RouteViewMode::list);
    QVERIFY(picker->isVisible());
    QVERIFY(cluster.sizeHint().width() > matrixWidth);
    QCOMPARE(segmentTexts(picker), QStringList({ "X-Y", "1 → Many" }));
    QCOMPARE(picker->toolTip(), QStringLiteral("Pick a destination, then a source."));

    controller.setTakeMode(TakeMode::confirm);
    controller.setMultiSelectMode(true);
    controller.toggleDestinationInGang(1);
    controller.toggleDestinationInGang(4);
    controller.chooseSource(2);
    QVERIFY(controller.hasStaging());

    click(segment(picker, QStringLiteral("1 → Many")));
    QCOMPARE(controller.routingDirection(), RoutingDirection::sourceLed);
    QVERIFY(controller.selectedDestinations().isEmpty());
    QVERIFY(!controller.multiSelectMode());
    QVERIFY(!controller.hasStaging());
    QCOMPARE(picker->toolTip(),
             QStringLiteral("Pick a source, then tap destinations to send it to each."));

    click(segment(picker, QStringLiteral("X-Y")));
    QCOMPARE(controller.routingDirection(), RoutingDirection::destinationLed);

    controller.setViewMode(RouteViewMode::matrix);
    QVERIFY(!picker->isVisible());
}

QTEST_MAIN(tst_ControlBar)
#include "tst_controlbar.moc"

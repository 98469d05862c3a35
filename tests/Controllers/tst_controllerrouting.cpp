#include "ControllerRig.h"
#include "Support/Analytics.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using Command = FakeRouterDriver::Command;

namespace {

QList<Route> sentRoutes(const FakeRouterDriver &driver, int call = 0)
{
    return driver.calls(Command::takeAll).value(call).routes;
}

} // namespace

class TestControllerRouting : public QObject
{
    Q_OBJECT

private slots:
    void breakawayLevels_data();
    void breakawayLevels();
    void takeWithoutLevelsStillCounts();
    void failedTakeRestoresEveryLevel();
    void lockedDestinationRefused_data();
    void lockedDestinationRefused();
    void takeWithoutDriverStaysLocal();
    void gangToggle();
    void gangToggleReArmsInConfirmMode();
    void gangSelectAllAndDeselect();
    void chooseSourceInBothModes();
    void sourceLedStaging();
    void selectAllDestinations();
    void confirmTakeSendsOnePerDestination();
    void confirmTakeNeedsASource();
    void lockToggleAndRevert();
    void renameStoresAndSends();
    void renameWhileDisconnected();
    void commitRenameFlow();
    void labelsBeyondPortLists();
    void sharedUsageCountsTakes();
};

void TestControllerRouting::breakawayLevels_data()
{
    QTest::addColumn<QSet<int>>("breakaway");
    QTest::addColumn<QList<int>>("levels");

    QTest::newRow("{2} sends one route") << QSet<int> { 2 } << QList<int> { 2 };
    QTest::newRow("{5} names no level: all") << QSet<int> { 5 } << QList<int> { 0, 1, 2 };
    QTest::newRow("empty: all") << QSet<int> {} << QList<int> { 0, 1, 2 };
    QTest::newRow("{2, 0, 9} in level order") << QSet<int> { 2, 0, 9 } << QList<int> { 0, 2 };
}

void TestControllerRouting::breakawayLevels()
{
    QFETCH(QSet<int>, breakaway);
    QFETCH(QList<int>, levels);

    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 3));
    c.setBreakawayLevels(breakaway);
    QCOMPARE(c.activeLevels(), levels);
    c.take(3, 1);
    for (int l = 0; l < 3; ++l)
        QCOMPARE(c.state().source(1, l).has_value(), levels.contains(l));
    ControllerRig::settle();

    QList<Route> expected;
    for (int l : levels)
        expected.append(Route { l, 1, 3 });
    QCOMPARE(driver.count(Command::takeAll), 1);
    QCOMPARE(sentRoutes(driver), expected);
    QCOMPARE(rig.usage->takes, 1); // once per take, whatever the number of levels
}

void TestControllerRouting::takeWithoutLevelsStillCounts()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(2, 2, 0));
    QSignalSpy state(&c, &RouterController::stateChanged);
    c.take(1, 1);
    ControllerRig::settle();
    QCOMPARE(rig.usage->takes, 1);
    QCOMPARE(state.size(), 0);
    QCOMPARE(driver.count(Command::takeAll), 1);
    QVERIFY(sentRoutes(driver).isEmpty());
}

void TestControllerRouting::failedTakeRestoresEveryLevel()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4, 2);
    state.routing[0].insert(2, 1); // level 1 has no source on destination 2
    FakeRouterDriver &driver = rig.connectWith(state);
    const DriverError error = DriverError::transportError(QStringLiteral("link down"));
    driver.failNext(Command::takeAll, error);
    driver.setHoldCompletions(true);

    c.take(3, 2);
    QCOMPARE(c.state().source(2, 0), std::optional<int>(3));
    QCOMPARE(c.state().source(2, 1), std::optional<int>(3));
    ControllerRig::settle();
    // An event written meanwhile is overwritten by the revert.
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(0, 2, 0));
    ControllerRig::settle();
    driver.releaseCompletions();
    ControllerRig::settle();

    QCOMPARE(c.state().source(2, 0), std::optional<int>(1));
    QVERIFY(!c.state().source(2, 1));
    QVERIFY(c.state().routing.contains(1)); // the level's map stays
    QCOMPARE(c.lastError(), std::optional<QString>(error.localizedDescription()));
}

void TestControllerRouting::lockedDestinationRefused_data()
{
    QTest::addColumn<int>("destination");
    QTest::addColumn<QString>("message");
    QTest::newRow("in range") << 1 << QStringLiteral("D2 is locked.");
    QTest::newRow("beyond the list") << 12 << QStringLiteral("Destination is locked.");
    QTest::newRow("negative") << -1 << QStringLiteral("Destination is locked.");
}

void TestControllerRouting::lockedDestinationRefused()
{
    QFETCH(int, destination);
    QFETCH(QString, message);

    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(3, 3);
    state.lockedDestinations = { destination };
    FakeRouterDriver &driver = rig.connectWith(state);
    if (!c.state().isLocked(destination)) {
        // An index no router may report: locked by the operator instead.
        c.toggleLock(destination);
        ControllerRig::settle();
    }
    const RouterState before = c.state();
    c.take(0, destination);
    ControllerRig::settle();
    QCOMPARE(c.lastError(), std::optional<QString>(message));
    QCOMPARE(c.state(), before);
    QCOMPARE(rig.usage->takes, 0);
    QCOMPARE(driver.count(Command::takeAll), 0);
}

void TestControllerRouting::takeWithoutDriverStaysLocal()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(3, 3, 1));
    c.disconnect();
    c.take(2, 0);
    ControllerRig::settle();
    QCOMPARE(c.state().source(0, 0), std::optional<int>(2));
    QVERIFY(!c.lastError());
    QCOMPARE(rig.drivers.last()->count(Command::takeAll), 0);
}

void TestControllerRouting::gangToggle()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(8, 8));

    // A single focus becomes the first member of a new gang.
    c.setSelectedDestination(4);
    c.toggleDestinationInGang(7);
    QCOMPARE(c.selectedDestinations(), (QSet<int> { 4, 7 }));
    QCOMPARE(c.selectedDestination(), std::optional<int>(7));

    // A gang of one is not kept; the focus falls to the smallest member left.
    c.setSelectedDestinations({ 3, 5 });
    c.setSelectedDestination(5);
    c.toggleDestinationInGang(5);
    QVERIFY(c.selectedDestinations().isEmpty());
    QCOMPARE(c.selectedDestination(), std::optional<int>(3));
    c.toggleDestinationInGang(3);
    QVERIFY(c.selectedDestinations().isEmpty());
    QVERIFY(!c.selectedDestination());

    // Source-led: the toggle does nothing.
    c.setDirection(RoutingDirection::sourceLed);
    c.toggleDestinationInGang(2);
    QVERIFY(!c.selectedDestination());

    // Destination-led with gang selection on, a focus click toggles.
    c.setDirection(RoutingDirection::destinationLed);
    c.setSelectedDestination(1);
    c._setMultiSelectMode(true);
    c.focusDestination(6);
    QCOMPARE(c.selectedDestinations(), (QSet<int> { 1, 6 }));
    QCOMPARE(c.xyTargets(), (QList<int> { 1, 6 }));
}

void TestControllerRouting::gangToggleReArmsInConfirmMode()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(8, 8));
    c.setTakeMode(TakeMode::confirm);
    c.setSelectedDestinations({ 3, 5 });
    c.setSelectedDestination(5);
    c.chooseSource(2);
    QCOMPARE(c.pendingDestinations(), (QSet<int> { 3, 5 }));
    QCOMPARE(c.pendingSource(), std::optional<int>(2));

    c.toggleDestinationInGang(6);
    QCOMPARE(c.pendingDestinations(), (QSet<int> { 3, 5, 6 }));
    QCOMPARE(c.pendingSource(), std::optional<int>(2));
    QCOMPARE(c.pendingTake(), (RouterController::PendingTake { 2, { 3, 5, 6 } }));

    // Down to one target: the source is armed for that single destination.
    c.toggleDestinationInGang(5);
    c.toggleDestinationInGang(6);
    QVERIFY(c.pendingDestinations().isEmpty());
    QCOMPARE(c.pendingDestination(), std::optional<int>(3));
    QCOMPARE(c.pendingTake(), (RouterController::PendingTake { 2, { 3 } }));
}

void TestControllerRouting::gangSelectAllAndDeselect()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4);
    state.lockedDestinations = { 0, 1, 2, 3 };
    FakeRouterDriver &driver = rig.connectWith(state);

    c.selectAllInGang(); // gang selection off: nothing
    c._setMultiSelectMode(true);
    c.selectAllInGang();
    QVERIFY(c.selectedDestinations().isEmpty());
    QVERIFY(!c.allGanged());

    driver.emitEvent(RouterDriverEvent::makeLockChanged(1, false));
    driver.emitEvent(RouterDriverEvent::makeLockChanged(3, false));
    ControllerRig::settle();
    c.selectAllInGang();
    QCOMPARE(c.selectedDestinations(), (QSet<int> { 1, 3 }));
    QVERIFY(c.allGanged());

    c.setTakeMode(TakeMode::confirm);
    c.setPendingSource(0);
    c.deselectAllInGang();
    QVERIFY(c.selectedDestinations().isEmpty() && !c.selectedDestination());
    QVERIFY(!c.hasStaging());
}

void TestControllerRouting::chooseSourceInBothModes()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 8));
    c.setSelectedDestination(std::nullopt);
    c.chooseSource(1); // no targets: nothing
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::takeAll), 0);

    c.setSelectedDestinations({ 6, 2 });
    c.chooseSource(1);
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::takeAll), 2);
    QCOMPARE(sentRoutes(driver, 0), QList<Route> { (Route { 0, 2, 1 }) });
    QCOMPARE(sentRoutes(driver, 1), QList<Route> { (Route { 0, 6, 1 }) });

    c.setTakeMode(TakeMode::confirm);
    c.setSelectedDestinations({});
    c.setSelectedDestination(4);
    c.chooseSource(3);
    QCOMPARE(c.pendingDestination(), std::optional<int>(4));
    QCOMPARE(c.pendingSource(), std::optional<int>(3));
    QVERIFY(c.pendingDestinations().isEmpty());
    QCOMPARE(driver.count(Command::takeAll), 2);
}

void TestControllerRouting::sourceLedStaging()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 6);
    state.lockedDestinations = { 5 };
    FakeRouterDriver &driver = rig.connectWith(state);
    c.setDirection(RoutingDirection::sourceLed);

    c.setSelectedSource(std::nullopt);
    c.assignDestination(1); // no source: nothing
    c.focusSource(2);
    c.assignDestination(1); // immediate: sent at once
    ControllerRig::settle();
    QCOMPARE(sentRoutes(driver), QList<Route> { (Route { 0, 1, 2 }) });

    c.setTakeMode(TakeMode::confirm);
    c.assignDestination(4);
    c.assignDestination(3);
    c.assignDestination(5); // locked: silently not armed
    QCOMPARE(c.pendingDestinations(), (QSet<int> { 3, 4 }));
    c.assignDestination(4); // again: removed
    QCOMPARE(c.pendingDestinations(), QSet<int> { 3 });
    QVERIFY(!c.lastError());

    // A new source discards the staging.
    c.focusSource(0);
    QVERIFY(!c.hasStaging());
}

void TestControllerRouting::selectAllDestinations()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 5);
    state.lockedDestinations = { 2 };
    rig.connectWith(state);
    const SubPanel panel = makePanel(QStringLiteral("P"), { 0, 1 }, { 0, 2, 3, 4 });
    c.savePanel(panel);
    c.setActivePanelID(panel.id);

    c.selectAllDestinations(); // destination-led: nothing
    QCOMPARE(c.takeMode(), TakeMode::immediate);
    c.setDirection(RoutingDirection::sourceLed);
    c.setSelectedSource(std::nullopt);
    c.selectAllDestinations(); // no source: nothing
    QCOMPARE(c.takeMode(), TakeMode::immediate);

    c.focusSource(1);
    c.setPendingSource(3);
    c.selectAllDestinations();
    QCOMPARE(c.takeMode(), TakeMode::confirm);
    QVERIFY(!c.pendingSource());
    QCOMPARE(c.pendingDestinations(), (QSet<int> { 0, 3, 4 }));
    QVERIFY(c.allDestinationsStaged());
    QCOMPARE(c.pendingTake(), (RouterController::PendingTake { 1, { 0, 3, 4 } }));
}

void TestControllerRouting::confirmTakeSendsOnePerDestination()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 8, 2);
    state.lockedDestinations = { 5 };
    FakeRouterDriver &driver = rig.connectWith(state);
    c.setTakeMode(TakeMode::confirm);
    c.setPendingSource(2);
    c.setPendingDestinations({ 7, 1, 5, 4 });
    c.confirmTake();
    ControllerRig::settle();

    // One take per destination, ascending; the locked one is refused on its own.
    QCOMPARE(driver.count(Command::takeAll), 3);
    QCOMPARE(sentRoutes(driver, 0), (QList<Route> { Route { 0, 1, 2 }, Route { 1, 1, 2 } }));
    QCOMPARE(sentRoutes(driver, 1).first().destination, 4);
    QCOMPARE(sentRoutes(driver, 2).first().destination, 7);
    QCOMPARE(c.lastError(), std::optional<QString>(QStringLiteral("D6 is locked.")));
    QCOMPARE(rig.usage->takes, 3);
    QVERIFY(!c.hasStaging());
}

void TestControllerRouting::confirmTakeNeedsASource()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4));
    c.setTakeMode(TakeMode::confirm);
    c.selectDestination(2);
    c.confirmTake();
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::takeAll), 0);
    QCOMPARE(c.pendingDestination(), std::optional<int>(2));
}

void TestControllerRouting::lockToggleAndRevert()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 2));
    c.setPrimaryLevel(1);
    c.toggleLock(2);
    QVERIFY(c.state().isLocked(2));
    c.setPrimaryLevel(0); // read when the command goes out
    ControllerRig::settle();
    c.toggleLock(2);
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::setLock), 2);
    const auto first = driver.calls(Command::setLock).at(0);
    const auto second = driver.calls(Command::setLock).at(1);
    QCOMPARE(first.destination, 2);
    QCOMPARE(first.level, 0);
    QVERIFY(first.locked);
    QVERIFY(!second.locked);
    QVERIFY(!c.state().isLocked(2));

    const DriverError refused = DriverError::protocol(QStringLiteral("lock refused"));
    driver.failNext(Command::setLock, refused);
    c.toggleLock(3);
    QVERIFY(c.state().isLocked(3));
    ControllerRig::settle();
    QVERIFY(!c.state().isLocked(3));
    QCOMPARE(c.lastError(), std::optional<QString>(refused.localizedDescription()));

    // Without a driver the flip stays local.
    c.disconnect();
    c.toggleLock(1);
    ControllerRig::settle();
    QVERIFY(c.state().isLocked(1));
}

void TestControllerRouting::renameStoresAndSends()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4));
    c.rename(PortKind::source, 1, QStringLiteral("  Camera 2 \n"));
    QCOMPARE(c.state().sources[1].label, QStringLiteral("Camera 2"));
    QCOMPARE(rig.labels.labels(rig.connection.id).sources.value(QStringLiteral("1")),
             QStringLiteral("Camera 2"));
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::setLabel), 1);
    const auto sent = driver.calls(Command::setLabel).first();
    QCOMPARE(sent.label, QStringLiteral("Camera 2"));
    QCOMPARE(sent.index, 1);
    QCOMPARE(sent.kind, PortKind::source);

    // Blanks clear the override, bring the router's label back and send nothing.
    c.rename(PortKind::source, 1, QStringLiteral("   "));
    ControllerRig::settle();
    QCOMPARE(c.state().sources[1].label, QStringLiteral("S2"));
    QVERIFY(rig.labels.labels(rig.connection.id).sources.isEmpty());
    QCOMPARE(driver.count(Command::setLabel), 1);

    // A router that refuses a name changes nothing the operator sees.
    driver.failNext(Command::setLabel, DriverError::unsupportedFeature(QStringLiteral("Renaming")));
    c.rename(PortKind::destination, 0, QStringLiteral("PGM"));
    ControllerRig::settle();
    QVERIFY(!c.lastError());
    QCOMPARE(c.state().destinations[0].label, QStringLiteral("PGM"));
}

void TestControllerRouting::renameWhileDisconnected()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(4, 4));
    c.disconnect();
    c.rename(PortKind::destination, 2, QStringLiteral("REC"));
    QCOMPARE(c.state().destinations[2].label, QStringLiteral("REC"));
    LabelStore reread(rig.labels.url());
    QCOMPARE(reread.labels(rig.connection.id).destinations.value(QStringLiteral("2")),
             QStringLiteral("REC"));

    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4));
    QCOMPARE(c.state().destinations[2].label, QStringLiteral("REC"));
    QCOMPARE(driver.count(Command::setLabel), 0);
}

void TestControllerRouting::commitRenameFlow()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(3, 3, 2));
    c.commitRename(); // nothing in progress
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::setLabel), 0);

    c.beginRename(PortKind::destination, 1);
    QCOMPARE(c.renameDraft(), QStringLiteral("D2"));
    QCOMPARE(c.renameTarget(), std::optional<PortRef>(PortRef { PortKind::destination, 1 }));
    c.setRenameDraft(QStringLiteral("Monitor"));
    c.commitRename();
    QVERIFY(!c.renameTarget());
    QCOMPARE(c.renameDraft(), QStringLiteral("Monitor"));
    QCOMPARE(c.state().destinations[1].label, QStringLiteral("Monitor"));

    c.beginRename(PortKind::source, 40);
    QVERIFY(c.renameDraft().isEmpty());

    QCOMPARE(c.levelName(0), QStringLiteral("Level 0"));
    QCOMPARE(c.levelName(7), QStringLiteral("L8"));
}

void TestControllerRouting::labelsBeyondPortLists()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(2, 2));
    QCOMPARE(c.sourceLabel(1), QStringLiteral("S2"));
    QCOMPARE(c.destinationLabel(7), QStringLiteral("Dest 8"));
    QCOMPARE(c.destinationLabel(-1), QStringLiteral("Dest 0"));
    QCOMPARE(c.sourceLabel(2), QStringLiteral("Src 3"));
    QCOMPARE(c.sourceLabel(std::numeric_limits<int>::max()), QStringLiteral("Src 2147483648"));
}

void TestControllerRouting::sharedUsageCountsTakes()
{
    ControllerRig rig;
    RouterController c(rig.connection, rig.labels, rig.salvos, rig.panels,
                       rig.drivers.maker()); // default hooks: the shared analytics
    Analytics &analytics = Analytics::shared();
    analytics.setEnabled(false); // nothing may leave this machine
    const int before = analytics.takeCount();
    c.take(0, 0);
    QCOMPARE(analytics.takeCount(), before + 1);
}

QTEST_GUILESS_MAIN(TestControllerRouting)
#include "tst_controllerrouting.moc"

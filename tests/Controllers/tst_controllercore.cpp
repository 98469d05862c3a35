#include "ControllerRig.h"
#include "Drivers/SimulatorDriver.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using Command = FakeRouterDriver::Command;

class TestControllerCore : public QObject
{
    Q_OBJECT

private slots:
    void newControllerIsIdle();
    void storedActivePanelRestoredOnlyWhenItExists();
    void usageEventOnlyWhenStatusEntersConnected();
    void stateArrivalAdjustsLevelsAndFocus_data();
    void stateArrivalAdjustsLevelsAndFocus();
    void stateArrivalPrunesToActivePanel();
    void eventsPatchState();
    void connectionEventsSetStatus_data();
    void connectionEventsSetStatus();
    void bareDisconnectKeepsFailure();
    void labelOverlay();
    void eventsOfTornDownDriverIgnored();
    void destroyedControllerTearsDriverDown();
    void visiblePortsFollowActivePanel();
    void activePanelChangeRule();
    void takeModeChangeClearsStaging();
    void wholeAssignmentsNotifyOnlyOnChange();
    void simulatorRoundTrip();
};

void TestControllerCore::newControllerIsIdle()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::disconnected));
    QVERIFY(c.statusMessage().isEmpty());
    QVERIFY(!c.lastError());
    QVERIFY(!c.hasDriver());
    QCOMPARE(c.state().deviceName, rig.connection.name);
    QCOMPARE(c.state().vendor, rig.connection.vendor);
    QVERIFY(c.state().sources.isEmpty() && c.state().destinations.isEmpty());
    QVERIFY(c.state().levels.isEmpty());
    QCOMPARE(c.id(), rig.connection.id);
    QVERIFY(rig.drivers.made().isEmpty()); // nothing is built before connect()
}

void TestControllerCore::storedActivePanelRestoredOnlyWhenItExists()
{
    // A stale stored id leaves the full router visible and the stored entry untouched.
    {
        ControllerRig rig;
        const QUuid stale = QUuid::createUuid();
        rig.panels.setActivePanelID(stale, rig.connection.id);
        RouterController &c = rig.make();
        QVERIFY(!c.activePanelID());
        QCOMPARE(rig.panels.activePanelID(rig.connection.id), stale);
    }
    // A stored id naming a panel of this router becomes the active choice.
    {
        ControllerRig rig;
        const SubPanel panel = makePanel(QStringLiteral("Cams"), { 0 }, { 1 });
        rig.panels.upsert(panel, rig.connection.id);
        rig.panels.setActivePanelID(panel.id, rig.connection.id);
        RouterController &c = rig.make();
        QCOMPARE(c.activePanelID(), panel.id);
        QCOMPARE(c.activePanel()->name, QStringLiteral("Cams"));
        QCOMPARE(c.panels().size(), 1);
    }
}

void TestControllerCore::usageEventOnlyWhenStatusEntersConnected()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    c.connect();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::connecting));
    ControllerRig::settle();
    auto driver = rig.drivers.last();
    QCOMPARE(driver->count(Command::connect), 1);

    RouterState state = makeState(2, 2);
    state.vendor = RouterVendor::simulator; // the saved vendor is what gets counted
    driver->emitEvent(RouterDriverEvent::makeConnected(state));
    ControllerRig::settle();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::connected));
    QCOMPARE(rig.usage->connected, QList<RouterVendor> { RouterVendor::blackmagicVideohub });

    // A second connected event while connected rebuilds the state but counts nothing.
    RouterState bigger = makeState(3, 3);
    driver->emitEvent(RouterDriverEvent::makeConnected(bigger));
    ControllerRig::settle();
    QCOMPARE(c.state().sources.size(), 3);
    QCOMPARE(rig.usage->connected.size(), 1);

    // After a failure a replacing state counts as coming online again.
    driver->emitEvent(RouterDriverEvent::makeError(QStringLiteral("Lost.")));
    driver->emitEvent(RouterDriverEvent::makeStateReplaced(state));
    ControllerRig::settle();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::connected));
    QCOMPARE(rig.usage->connected.size(), 2);
    QVERIFY(!c.lastError());
}

void TestControllerCore::stateArrivalAdjustsLevelsAndFocus_data()
{
    QTest::addColumn<QList<int>>("levels");
    QTest::addColumn<int>("primaryBefore");
    QTest::addColumn<QSet<int>>("breakawayBefore");
    QTest::addColumn<int>("destinations");
    QTest::addColumn<int>("primaryAfter");
    QTest::addColumn<QSet<int>>("breakawayAfter");
    QTest::addColumn<std::optional<int>>("focusAfter");

    QTest::newRow("no levels") << QList<int> {} << 2 << QSet<int> { 0, 1 } << 4 << 0 << QSet<int> {}
                               << std::optional<int>(0);
    QTest::newRow("levels 1 and 2, primary 0")
        << QList<int> { 1, 2 } << 0 << QSet<int> { 0, 2 } << 4 << 1 << QSet<int> { 2 }
        << std::optional<int>(0);
    QTest::newRow("primary still present") << QList<int> { 0, 1, 2 } << 2 << QSet<int> { 5 } << 4
                                           << 2 << QSet<int> {} << std::optional<int>(0);
    QTest::newRow("no destinations")
        << QList<int> { 0 } << 0 << QSet<int> {} << 0 << 0 << QSet<int> {} << std::optional<int>();
}

void TestControllerCore::stateArrivalAdjustsLevelsAndFocus()
{
    QFETCH(QList<int>, levels);
    QFETCH(int, primaryBefore);
    QFETCH(QSet<int>, breakawayBefore);
    QFETCH(int, destinations);
    QFETCH(int, primaryAfter);
    QFETCH(QSet<int>, breakawayAfter);
    QFETCH(std::optional<int>, focusAfter);

    ControllerRig rig;
    RouterController &c = rig.make();
    c.setPrimaryLevel(primaryBefore);
    c.setBreakawayLevels(breakawayBefore);
    RouterState state = makeState(3, destinations, 0);
    for (int l : levels)
        state.levels.append(RouterLevel { l, QStringLiteral("L%1").arg(l), LevelKind::audio });
    rig.connectWith(state);

    QCOMPARE(c.primaryLevel(), primaryAfter);
    QCOMPARE(c.breakawayLevels(), breakawayAfter);
    QCOMPARE(c.selectedDestination(), focusAfter);
    QCOMPARE(c.selectedSource(), std::optional<int>(0));
}

void TestControllerCore::stateArrivalPrunesToActivePanel()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    const SubPanel panel = makePanel(QStringLiteral("Far"), { 2 }, { 2, 3 });
    c.savePanel(panel);
    c.setActivePanelID(panel.id);
    c.connect();
    c.setSelectedDestinations({ 0, 2, 3 });
    c.setPendingDestinations({ 1, 3, 9 });
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(makeState(4, 4)));
    ControllerRig::settle();
    // The defaulted focus on port 0 is dropped again because the panel hides it.
    QVERIFY(!c.selectedDestination());
    QVERIFY(!c.selectedSource());
    QCOMPARE(c.selectedDestinations(), (QSet<int> { 2, 3 }));
    QCOMPARE(c.pendingDestinations(), QSet<int> { 3 });
}

void TestControllerCore::eventsPatchState()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 2));
    QSignalSpy routes(&c, &RouterController::routeChanged);
    QSignalSpy locks(&c, &RouterController::lockChanged);

    // Without a source on a level the table lacks: nothing at all.
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(7, 1, std::nullopt));
    // With a source: the level's map is created.
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(1, 2, 3));
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(1, 3, 0));
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(1, 3, std::nullopt));
    // Indices the router does not have are kept under their numbers, never used to size,
    // up to the cap of every protocol's counts; beyond it they are ignored.
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(0, 4095, 5));
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(0, 2000000000, 5));
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(0, 1, 4096));
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(4096, 1, 2));
    driver.emitEvent(RouterDriverEvent::makeLockChanged(-3, true));
    driver.emitEvent(RouterDriverEvent::makeLockChanged(4095, true));
    driver.emitEvent(RouterDriverEvent::makeInputStatusChanged(4096, InputSignalStatus {}));
    driver.emitEvent(RouterDriverEvent::makeLockChanged(2, true));
    driver.emitEvent(RouterDriverEvent::makeLockChanged(2, false));
    driver.emitEvent(RouterDriverEvent::makeLockChanged(1, true));
    driver.emitEvent(RouterDriverEvent::makeInputStatusChanged(
        3, InputSignalStatus { true, QStringLiteral("HD") }));
    driver.emitEvent(RouterDriverEvent::makeInputStatusChanged(1, InputSignalStatus {}));
    driver.emitEvent(RouterDriverEvent::makeInputStatusChanged(1, std::nullopt));
    ControllerRig::settle();

    const RouterState &s = c.state();
    QVERIFY(!s.routing.contains(7));
    QCOMPARE(s.source(2, 1), std::optional<int>(3));
    QVERIFY(s.routing.contains(1) && !s.routing[1].contains(3));
    QCOMPARE(s.source(4095, 0), std::optional<int>(5));
    QCOMPARE(s.routing.value(0).size(), 1);
    QVERIFY(!s.routing.contains(4096));
    QCOMPARE(s.lockedDestinations, (QSet<int> { 4095, 1 }));
    QCOMPARE(s.inputStatus.value(3).format, std::optional<QString>(QStringLiteral("HD")));
    QVERIFY(!s.inputStatus.contains(1) && !s.inputStatus.contains(4096));
    QCOMPARE(routes.size(), 4);
    QCOMPARE(routes.first(), (QList<QVariant> { 1, 2 }));
    QCOMPARE(locks.size(), 4);

    // A whole state is held to the same bounds.
    RouterState next = makeState(4, 4, 2);
    next.routing[0] = { { 1, 2 }, { 5000, 1 }, { 2, 9000 } };
    next.routing[7000] = { { 1, 1 } };
    next.lockedDestinations = { 3, 4096 };
    next.inputStatus.insert(70000, InputSignalStatus {});
    driver.emitEvent(RouterDriverEvent::makeStateReplaced(next));
    ControllerRig::settle();
    QCOMPARE(c.state().routing, (QHash<int, LevelRouting> { { 0, { { 1, 2 } } } }));
    QCOMPARE(c.state().lockedDestinations, QSet<int> { 3 });
    QVERIFY(c.state().inputStatus.isEmpty());
}

void TestControllerCore::connectionEventsSetStatus_data()
{
    QTest::addColumn<QList<RouterDriverEvent>>("events");
    QTest::addColumn<ConnectionStatus>("status");
    QTest::addColumn<QString>("statusMessage");
    QTest::addColumn<std::optional<QString>>("lastError");

    const auto progress = RouterDriverEvent::makeStatus(QStringLiteral("Reading router state…"));
    QTest::newRow("status text") << QList<RouterDriverEvent> { progress }
                                 << ConnectionStatus(ConnectionStatus::connected)
                                 << QStringLiteral("Reading router state…")
                                 << std::optional<QString>();
    QTest::newRow("refusal leaves status")
        << QList<RouterDriverEvent> { RouterDriverEvent::makeCommandRefused(QStringLiteral("No.")) }
        << ConnectionStatus(ConnectionStatus::connected) << QString()
        << std::optional<QString>(QStringLiteral("No."));
    QTest::newRow("error") << QList<RouterDriverEvent> { progress,
                                                         RouterDriverEvent::makeError(
                                                             QStringLiteral("Gone.")) }
                           << ConnectionStatus::failure(QStringLiteral("Gone.")) << QString()
                           << std::optional<QString>(QStringLiteral("Gone."));
    QTest::newRow("disconnect keeps progress text")
        << QList<RouterDriverEvent> { progress, RouterDriverEvent::makeDisconnected() }
        << ConnectionStatus(ConnectionStatus::disconnected)
        << QStringLiteral("Reading router state…") << std::optional<QString>();
    QTest::newRow("disconnect with reason")
        << QList<RouterDriverEvent> { progress,
                                      RouterDriverEvent::makeDisconnected(
                                          QStringLiteral("The router closed the link.")) }
        << ConnectionStatus(ConnectionStatus::disconnected)
        << QStringLiteral("The router closed the link.") << std::optional<QString>();
    QTest::newRow("reason replaces a failure")
        << QList<RouterDriverEvent> { RouterDriverEvent::makeError(QStringLiteral("Gone.")),
                                      RouterDriverEvent::makeDisconnected(
                                          QStringLiteral("Closed.")) }
        << ConnectionStatus(ConnectionStatus::disconnected) << QStringLiteral("Closed.")
        << std::optional<QString>(QStringLiteral("Gone."));
}

void TestControllerCore::connectionEventsSetStatus()
{
    QFETCH(QList<RouterDriverEvent>, events);
    QFETCH(ConnectionStatus, status);
    QFETCH(QString, statusMessage);
    QFETCH(std::optional<QString>, lastError);

    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(2, 2));
    for (const RouterDriverEvent &event : events)
        driver.emitEvent(event);
    ControllerRig::settle();
    QCOMPARE(c.status(), status);
    QCOMPARE(c.statusMessage(), statusMessage);
    QCOMPARE(c.lastError(), lastError);
    QVERIFY(c.hasDriver()); // the driver may still report a new connected later
}

// A watchdog or receive error ends with a disconnection without reason; it used to turn the
// failure into a plain "Offline" and the operator lost the reason.
void TestControllerCore::bareDisconnectKeepsFailure()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    c.connect();
    auto driver = rig.drivers.last();
    const QString text = QStringLiteral("The router didn't answer within 12 seconds.");
    driver->emitEvent(RouterDriverEvent::makeError(text));
    driver->emitEvent(RouterDriverEvent::makeDisconnected());
    ControllerRig::settle();
    QCOMPARE(c.status(), ConnectionStatus::failure(text));
    QCOMPARE(c.status().message(), text);
    QCOMPARE(c.lastError(), std::optional<QString>(text));

    // A fresh state afterwards still brings the router online.
    driver->emitEvent(RouterDriverEvent::makeConnected(makeState(1, 1)));
    ControllerRig::settle();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::connected));
}

void TestControllerCore::labelOverlay()
{
    ControllerRig rig;
    rig.labels.set(QStringLiteral("Camera One"), PortKind::source, 0, rig.connection.id);
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(3, 2));
    QCOMPARE(c.state().sources[0].label, QStringLiteral("Camera One"));
    QCOMPARE(c.state().sources[1].label, QStringLiteral("S2"));

    // The router renames an overridden port: the override keeps showing. Labels of one burst
    // are laid over the ports once, so the views relayout once however many came.
    QSignalSpy burstLabels(&c, &RouterController::portLabelsChanged);
    QSignalSpy burstPorts(&c, &RouterController::visiblePortsChanged);
    driver.emitEvent(
        RouterDriverEvent::makeLabelChanged(PortKind::source, 0, QStringLiteral("CAM A")));
    driver.emitEvent(
        RouterDriverEvent::makeLabelChanged(PortKind::destination, 1, QStringLiteral("MON")));
    // A label for a port the router lacks shows nowhere.
    driver.emitEvent(
        RouterDriverEvent::makeLabelChanged(PortKind::destination, 99, QStringLiteral("X")));
    ControllerRig::settle();
    QCOMPARE(c.state().sources[0].label, QStringLiteral("Camera One"));
    QCOMPARE(c.state().destinations[1].label, QStringLiteral("MON"));
    QCOMPARE(c.state().destinations.size(), 2);
    QCOMPARE(burstLabels.size(), 1);
    QCOMPARE(burstPorts.size(), 1);

    // Removing the override brings the router's latest label back at the next overlay.
    rig.labels.set(std::nullopt, PortKind::source, 0, rig.connection.id);
    QSignalSpy labels(&c, &RouterController::portLabelsChanged);
    c.applyLabelOverrides();
    QCOMPARE(c.state().sources[0].label, QStringLiteral("CAM A"));
    QCOMPARE(c.visibleSources().first().label, QStringLiteral("CAM A"));
    QCOMPARE(labels.size(), 1);

    // Ports listed out of index order are renamed by their index, not their position.
    RouterState shuffled = makeState(0, 2);
    std::swap(shuffled.destinations[0], shuffled.destinations[1]);
    driver.emitEvent(RouterDriverEvent::makeConnected(shuffled));
    driver.emitEvent(
        RouterDriverEvent::makeLabelChanged(PortKind::destination, 0, QStringLiteral("PGM")));
    ControllerRig::settle();
    QCOMPARE(c.state().destinations[0].label, QStringLiteral("D2"));
    QCOMPARE(c.state().destinations[1].label, QStringLiteral("PGM"));
}

void TestControllerCore::eventsOfTornDownDriverIgnored()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &first = rig.connectWith(makeState(4, 4));
    c.setTakeMode(TakeMode::confirm);
    c.focusDestination(2);
    c.setPendingSource(1);
    QVERIFY(c.hasStaging());

    // Reconnect: the old driver is asked to disconnect and its late events are dropped.
    c.connect();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::connecting));
    QVERIFY(!c.hasStaging());
    first.emitEvent(RouterDriverEvent::makeRouteChanged(0, 1, 3));
    first.emitEvent(RouterDriverEvent::makeError(QStringLiteral("old")));
    ControllerRig::settle();
    QCOMPARE(first.count(Command::disconnect), 1);
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::connecting));
    QVERIFY(!c.state().source(1, 0));
    QCOMPARE(rig.drivers.made().size(), 2);

    // After disconnect() nothing of the new driver is applied either.
    auto second = rig.drivers.last();
    c.disconnect();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::disconnected));
    QVERIFY(c.statusMessage().isEmpty());
    QVERIFY(!c.hasDriver());
    second->emitEvent(RouterDriverEvent::makeConnected(makeState(1, 1)));
    ControllerRig::settle();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::disconnected));
    QCOMPARE(second->count(Command::disconnect), 1);
}

void TestControllerCore::destroyedControllerTearsDriverDown()
{
    ControllerRig rig;
    rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(2, 2));
    auto keep = rig.drivers.last();
    driver.setHoldCompletions(true);
    rig.controller->take(1, 1);
    rig.controller->toggleLock(0);
    ControllerRig::settle();
    QCOMPARE(driver.heldCount(), 2);

    driver.setFailure(Command::takeAll, DriverError::transportError(QStringLiteral("x")));
    rig.controller.reset();
    // At once: a task posted from the destructor could be destroyed unrun with the event loop
    // at quit, releasing the driver after its queue had gone.
    QCOMPARE(driver.count(Command::disconnect), 1);
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::disconnect), 1);
    // Completions arriving after the controller is gone touch nothing.
    QCOMPARE(driver.releaseCompletions(), 2);
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(0, 0, 0));
    ControllerRig::settle();

    // Ended before its connect() task ran (shutDown() at quit, or destruction): the driver is
    // never connected after its disconnect.
    for (const bool destroy : { false, true }) {
        rig.make();
        rig.controller->connect();
        auto pending = rig.drivers.last();
        if (destroy)
            rig.controller.reset();
        else
            rig.controller->shutDown();
        QCOMPARE(pending->count(Command::disconnect), 1);
        ControllerRig::settle();
        QCOMPARE(pending->count(Command::connect), 0);
        if (!destroy)
            QCOMPARE(rig.controller->status(), ConnectionStatus(ConnectionStatus::disconnected));
    }
}

void TestControllerCore::visiblePortsFollowActivePanel()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(8, 4));
    QCOMPARE(c.visibleSources(), c.state().sources);
    QCOMPARE(c.visibleDestinationRow(3), std::optional<int>(3));

    const SubPanel panel = makePanel(QStringLiteral("P"), { 9, 2, 0, 2 }, { 3 });
    c.savePanel(panel);
    QSignalSpy invalidated(&c, &RouterController::visiblePortsChanged);
    c.setActivePanelID(panel.id);
    QCOMPARE(invalidated.size(), 1);
    // The store hands indices out de-duplicated and ascending; missing ports are skipped.
    QCOMPARE(indicesOf(c.visibleSources()), (QList<int> { 0, 2 }));
    QCOMPARE(indicesOf(c.visibleDestinations()), QList<int> { 3 });
    QCOMPARE(c.visibleSourceRow(2), std::optional<int>(1));
    QCOMPARE(c.visibleSourceRow(1), std::nullopt);

    // A rename shows in the cached list; a route change does not rebuild it.
    c.rename(PortKind::source, 2, QStringLiteral("Graphics"));
    QCOMPARE(c.visibleSources().at(1).label, QStringLiteral("Graphics"));
    invalidated.clear();
    c.take(0, 3);
    QCOMPARE(invalidated.size(), 0);

    // An id naming no panel shows the full router.
    c.setActivePanelID(QUuid::createUuid());
    QVERIFY(!c.activePanel());
    QCOMPARE(c.visibleSources().size(), 8);
}

void TestControllerCore::activePanelChangeRule()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(4, 4));
    const SubPanel a = makePanel(QStringLiteral("A"), { 0, 1 }, { 0, 1 });
    const SubPanel b = makePanel(QStringLiteral("B"), { 2, 3 }, { 2, 3 });
    c.savePanel(a);
    c.savePanel(b);
    c.setActivePanelID(a.id);
    c.setTakeMode(TakeMode::confirm);
    c.focusDestination(1);
    c.setPendingSource(0);

    c.setActivePanelID(a.id); // same id: the staging stays
    QCOMPARE(c.pendingDestination(), std::optional<int>(1));
    QCOMPARE(c.pendingSource(), std::optional<int>(0));

    c.setActivePanelID(b.id);
    QVERIFY(!c.hasStaging());
    QVERIFY(!c.selectedDestination()); // destination 1 is hidden by B
    QCOMPARE(rig.panels.activePanelID(rig.connection.id), b.id);

    c.setActivePanelID(std::nullopt);
    QCOMPARE(rig.panels.activePanelID(rig.connection.id), std::nullopt);
    PanelStore reread(rig.panels.url());
    QCOMPARE(reread.activePanelID(rig.connection.id), std::nullopt);
}

void TestControllerCore::takeModeChangeClearsStaging()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    c.setPendingDestination(1);
    c.setPendingSource(2);
    c.setPendingDestinations({ 3 });
    c.setTakeMode(TakeMode::immediate); // same value: nothing cleared
    QVERIFY(c.hasStaging());
    QSignalSpy mode(&c, &RouterController::takeModeChanged);
    c.setTakeMode(TakeMode::confirm);
    QCOMPARE(mode.size(), 1);
    QVERIFY(!c.hasStaging());
    QVERIFY(!c.pendingDestination() && !c.pendingSource() && c.pendingDestinations().isEmpty());
}

void TestControllerCore::wholeAssignmentsNotifyOnlyOnChange()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(2, 2));
    QSignalSpy status(&c, &RouterController::statusChanged);
    QSignalSpy message(&c, &RouterController::statusMessageChanged);
    QSignalSpy error(&c, &RouterController::lastErrorChanged);
    QSignalSpy state(&c, &RouterController::stateChanged);

    driver.emitEvent(RouterDriverEvent::makeStatus(QStringLiteral("A")));
    driver.emitEvent(RouterDriverEvent::makeStatus(QStringLiteral("A")));
    driver.emitEvent(RouterDriverEvent::makeCommandRefused(QStringLiteral("E")));
    driver.emitEvent(RouterDriverEvent::makeCommandRefused(QStringLiteral("E")));
    ControllerRig::settle();
    QCOMPARE(message.size(), 1);
    QCOMPARE(error.size(), 1);
    QCOMPARE(status.size(), 0);

    // The same state again while connected: no state notification from the assignment.
    state.clear();
    driver.emitEvent(RouterDriverEvent::makeStateReplaced(makeState(2, 2)));
    ControllerRig::settle();
    QCOMPARE(status.size(), 0);
    QCOMPARE(c.lastError(), std::nullopt);

    QSignalSpy primary(&c, &RouterController::primaryLevelChanged);
    c.setPrimaryLevel(0);
    QCOMPARE(primary.size(), 0);
    c.setPrimaryLevel(1);
    QCOMPARE(primary.size(), 1);
}

void TestControllerCore::simulatorRoundTrip()
{
    ControllerRig rig;
    rig.connection.vendor = RouterVendor::simulator;
    rig.connection.simSourceCount = 6;
    rig.connection.simDestinationCount = 4;
    RouterController &c = rig.make([](const RouterConnection &connection) -> RouterDriverPtr {
        return std::make_shared<SimulatorDriver>(
            connection,
            SimulatorDriver::Timing { std::chrono::milliseconds(5), std::chrono::milliseconds(5) });
    });
    c.connect();
    QTRY_COMPARE(c.status(), ConnectionStatus(ConnectionStatus::connected));
    QCOMPARE(c.state().destinations.size(), 4);
    QCOMPARE(c.state().levels.size(), 3);
    QCOMPARE(rig.usage->connected, QList<RouterVendor> { RouterVendor::simulator });

    c.setBreakawayLevels({ 1 });
    c.take(5, 2);
    QCOMPARE(c.state().source(2, 1), std::optional<int>(5));
    QCOMPARE(c.state().source(2, 0), std::optional<int>(2)); // level 0 untouched
    QTest::qWait(30);
    QCOMPARE(c.state().source(2, 1), std::optional<int>(5));
    QVERIFY(!c.lastError());

    c.toggleLock(3);
    QTRY_VERIFY(c.state().isLocked(3));
    c.take(0, 3);
    QCOMPARE(c.lastError(), std::optional<QString>(QStringLiteral("AUX 1 is locked.")));

    c.rename(PortKind::destination, 0, QStringLiteral("  Program  "));
    QCOMPARE(c.state().destinations[0].label, QStringLiteral("Program"));

    // Capture, change one crosspoint, compare, fire: the router ends up matching again.
    c.saveSalvo(QStringLiteral("Show"), std::nullopt);
    QCOMPARE(c.salvos().size(), 1);
    const Salvo show = c.salvos().first();
    c.setBreakawayLevels({ 0 });
    c.take(4, 1);
    QTest::qWait(30);
    QCOMPARE(c.diff(show).changes.size(), 1);
    QCOMPARE(c.diff(show).lockedRoutes.size(), 3);
    c.setLastError(std::nullopt);
    c.fireSalvo(show);
    QTest::qWait(30);
    QVERIFY(c.diff(show).changes.isEmpty());
    QCOMPARE(c.state().source(1, 0), show.routes.at(1).source);
    QVERIFY(!c.lastError());
    c.disconnect();
    QCOMPARE(c.status(), ConnectionStatus(ConnectionStatus::disconnected));
}

QTEST_GUILESS_MAIN(TestControllerCore)
#include "tst_controllercore.moc"

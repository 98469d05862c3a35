#include "Drivers/RouterDriver.h"
#include "Drivers/SimulatorDriver.h"

#include "TestSupport.h"

#include <QtTest>

using TestSupport::run;
using Recorder = TestSupport::EventRecorder;

namespace {

RouterConnection simulator(int sources, int destinations)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Demo Router");
    connection.vendor = RouterVendor::simulator;
    connection.simSourceCount = sources;
    connection.simDestinationCount = destinations;
    return connection;
}

SimulatorDriver::Timing fast()
{
    return {std::chrono::milliseconds(30), std::chrono::milliseconds(10)};
}

} // namespace

class TestSimulatorDriver : public QObject
{
    Q_OBJECT

private slots:
    void factoryPicksDriverByVendor();
    void stateFor16x16();
    void stateForDegenerateSizes();
    void hugeSizesAreBounded();
    void connectReportsStatusThenState();
    void commandsBeforeConnectedThrowNotConnected();
    void takeSkipsLockedDestinations();
    void labelAndLockRules();
    void disconnectEndsStream();
    void disconnectDuringConnectWaitEndsAttempt();
};

void TestSimulatorDriver::factoryPicksDriverByVendor()
{
    RouterConnection connection = simulator(4, 4);
    QVERIFY(dynamic_cast<SimulatorDriver *>(DriverFactory::makeDriver(connection).get()));
    connection.vendor = RouterVendor::rossUltrix;
    auto ultrix = DriverFactory::makeDriver(connection);
    connection.vendor = RouterVendor::genericSWP08;
    auto generic = DriverFactory::makeDriver(connection);
    QCOMPARE(typeid(*ultrix), typeid(*generic));
    QVERIFY(ultrix.get() != generic.get()); // every call builds a fresh driver
}

void TestSimulatorDriver::stateFor16x16()
{
    const RouterState state = SimulatorDriver::makeState(simulator(16, 16));
    QCOMPARE(state.model, QStringLiteral("Virtual 16×16"));
    QCOMPARE(state.deviceName, QStringLiteral("Demo Router"));
    QCOMPARE(state.sources.size(), 16);
    QCOMPARE(state.sources[8].label, QStringLiteral("CAM 2"));
    QCOMPARE(state.sources[7].label, QStringLiteral("FEED 1"));
    QCOMPARE(state.destinations[15].label, QStringLiteral("OUT 2"));
    QCOMPARE(state.destinations[15].kind, PortKind::destination);
    QCOMPARE(state.inputStatus.value(4), (InputSignalStatus{false, std::nullopt}));
    QCOMPARE(state.inputStatus.value(5), (InputSignalStatus{true, QStringLiteral("1920x1080i59.94")}));
    QCOMPARE(state.levels.size(), 3);
    QCOMPARE(state.levels[2].name, QStringLiteral("Audio 2"));
    QCOMPARE(state.source(15, 2), std::optional<int>(1));
    QVERIFY(state.lockedDestinations.isEmpty());
}

void TestSimulatorDriver::stateForDegenerateSizes()
{
    const RouterState state = SimulatorDriver::makeState(simulator(0, -3));
    QCOMPARE(state.model, QStringLiteral("Virtual 1×1"));
    QCOMPARE(state.sources.size(), 1);
    QCOMPARE(state.sources[0].label, QStringLiteral("CAM 1"));
    QCOMPARE(state.destinations[0].label, QStringLiteral("MON 1"));
    for (int level = 0; level < 3; ++level)
        QCOMPARE(state.source(0, level), std::optional<int>(0));

    const RouterState small = SimulatorDriver::makeState(simulator(4, 6));
    QList<int> level0, level1;
    for (int d = 0; d < 6; ++d) {
        level0.append(*small.source(d, 0));
        level1.append(*small.source(d, 1));
    }
    QCOMPARE(level0, (QList<int>{0, 1, 2, 3, 0, 1}));
    QCOMPARE(level1, (QList<int>{1, 2, 3, 0, 1, 2}));
}

void TestSimulatorDriver::hugeSizesAreBounded()
{
    const RouterState state = SimulatorDriver::makeState(simulator(2'000'000'000, 5));
    QCOMPARE(state.sources.size(), SimulatorDriver::maxPortCount);
    QCOMPARE(state.destinations.size(), 5);
}

void TestSimulatorDriver::connectReportsStatusThenState()
{
    auto driver = std::make_shared<SimulatorDriver>(simulator(4, 4), fast());
    Recorder recorder;
    bool connectReturned = false;
    driver->connect([&] { connectReturned = true; });
    recorder.attach(driver); // events from before the reader attached are kept
    QTRY_VERIFY(connectReturned);
    QTRY_COMPARE(recorder.events.size(), 2);
    QCOMPARE(recorder.events[0], RouterDriverEvent::makeStatus(QStringLiteral("Starting simulator…")));
    QCOMPARE(recorder.events[1].type, RouterDriverEvent::connected);
    QCOMPARE(recorder.events[1].state, SimulatorDriver::makeState(simulator(4, 4)));
}

void TestSimulatorDriver::commandsBeforeConnectedThrowNotConnected()
{
    auto driver = DriverFactory::makeDriver(simulator(4, 4));
    driver->connect();
    // Still inside the 0.3 s connect wait.
    auto result = run([&](DriverCompletion done) { driver->takeAll({Route{0, 1, 2}}, done); });
    QVERIFY(!result.has_value());
    QCOMPARE(result.error().localizedDescription(), QStringLiteral("Not connected to the router."));
    result = run([&](DriverCompletion done) { driver->setLock(1, 0, true, done); });
    QCOMPARE(result.error().kind(), DriverError::notConnected);
    result = run([&](DriverCompletion done) { driver->setLabel("x", 0, PortKind::source, done); });
    QCOMPARE(result.error().kind(), DriverError::notConnected);
}

void TestSimulatorDriver::takeSkipsLockedDestinations()
{
    auto driver = std::make_shared<SimulatorDriver>(simulator(8, 8), fast());
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(driver->isConnected());
    QVERIFY(run([&](DriverCompletion done) { driver->setLock(2, 0, true, done); }).has_value());
    const auto result = run([&](DriverCompletion done) {
        driver->takeAll({Route{0, 1, 5}, Route{0, 2, 5}, Route{1, 3, 6}, Route{9, 40, 70}}, done);
    });
    QVERIFY(result.has_value());
    QTRY_COMPARE(recorder.events.size(), 6);
    QCOMPARE(recorder.events[2], RouterDriverEvent::makeLockChanged(2, true));
    QCOMPARE(recorder.events[3], RouterDriverEvent::makeRouteChanged(0, 1, 5));
    QCOMPARE(recorder.events[4], RouterDriverEvent::makeRouteChanged(1, 3, 6));
    // No range check: an unknown level and out-of-range ports are applied and reported.
    QCOMPARE(recorder.events[5], RouterDriverEvent::makeRouteChanged(9, 40, 70));
}

void TestSimulatorDriver::labelAndLockRules()
{
    auto driver = std::make_shared<SimulatorDriver>(simulator(4, 4), fast());
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(driver->isConnected());
    QVERIFY(run([&](DriverCompletion done) { driver->setLabel(" Cam A ", 1, PortKind::source, done); })
                .has_value());
    // An index equal to the port count, or negative, is not a position: nothing happens.
    QVERIFY(run([&](DriverCompletion done) { driver->setLabel("x", 4, PortKind::destination, done); })
                .has_value());
    QVERIFY(run([&](DriverCompletion done) { driver->setLabel("x", -1, PortKind::source, done); })
                .has_value());
    QVERIFY(run([&](DriverCompletion done) { driver->setLock(3, 0, false, done); }).has_value());
    QTRY_COMPARE(recorder.events.size(), 4);
    QCOMPARE(recorder.events[2],
             RouterDriverEvent::makeLabelChanged(PortKind::source, 1, QStringLiteral(" Cam A ")));
    QCOMPARE(recorder.events[3], RouterDriverEvent::makeLockChanged(3, false));
}

void TestSimulatorDriver::disconnectEndsStream()
{
    auto driver = std::make_shared<SimulatorDriver>(simulator(4, 4), fast());
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(driver->isConnected());
    driver->disconnect();
    driver->disconnect(); // a second call changes nothing visible
    QTRY_VERIFY(recorder.ended);
    QCOMPARE(recorder.types().last(), RouterDriverEvent::disconnected);
    QCOMPARE(recorder.events.last().reason, std::nullopt);
    const int count = recorder.events.size();
    const auto result = run([&](DriverCompletion done) { driver->takeAll({Route{0, 0, 1}}, done); });
    QCOMPARE(result.error().kind(), DriverError::notConnected);
    QTest::qWait(20);
    QCOMPARE(recorder.events.size(), count);
}

void TestSimulatorDriver::disconnectDuringConnectWaitEndsAttempt()
{
    auto driver = std::make_shared<SimulatorDriver>(simulator(4, 4), fast());
    Recorder recorder;
    recorder.attach(driver);
    bool connectReturned = false;
    driver->connect([&] { connectReturned = true; });
    driver->disconnect();
    QTRY_VERIFY(connectReturned);
    QTRY_VERIFY(recorder.ended);
    QVERIFY(!driver->isConnected());
    QCOMPARE(recorder.types(),
             (QList<RouterDriverEvent::Type>{RouterDriverEvent::status, RouterDriverEvent::disconnected}));
    const auto result = run([&](DriverCompletion done) { driver->takeAll({Route{0, 0, 1}}, done); });
    QCOMPARE(result.error().kind(), DriverError::notConnected);
}

QTEST_GUILESS_MAIN(TestSimulatorDriver)
#include "tst_simulatordriver.moc"

#include "Drivers/QuartzDriver.h"

#include "FakeQuartzRouter.h"
#include "SocketFaults.h"
#include "TestSupport.h"

#include <QtTest>

using namespace std::chrono_literals;
using TestSupport::run;
using Type = RouterDriverEvent::Type;

namespace {

RouterConnection router(quint16 port, int sources, int destinations)
{
    return TestSupport::loopbackRouter(QStringLiteral("Quartz Core"), RouterVendor::evertzQuartz,
                                       port, sources, destinations);
}

QuartzDriver::Timing fast(std::chrono::milliseconds debounce = 60ms,
                          std::chrono::milliseconds noAnswer = 5000ms)
{
    return { { 5000ms, 50ms }, debounce, noAnswer };
}

struct Rig : TestSupport::DriverRig<FakeQuartzRouter, QuartzDriver>
{
    Rig(int sources, int destinations, QuartzDriver::Timing timing = fast())
        : DriverRig(router(0, sources, destinations), timing)
    { }
};

const QString refused = QStringLiteral("The router refused the command.");

} // namespace

class TestQuartzDriver : public QObject
{
    Q_OBJECT

private slots:
    void connectAsksEveryDestination();
    void takeThroughFactory();
    void takesAfterConnected();
    void refusalReasksTheDestination();
    void failedSendReasksItsDestination();
    void otherLevelAnswersDoNotConnect();
    void commandsNeedAReadyLinkAndLockingIsRefused();
    void silentRouterReportsOnce();
    void linkEndCancelsTimers();
    void overlongLineIsDroppedNotFatal();
};

void TestQuartzDriver::connectAsksEveryDestination()
{
    Rig rig(200, 6);
    rig.fake.setRoute(4, 130);
    QVERIFY(rig.connect());
    QCOMPARE(rig.recorder.events[1],
             RouterDriverEvent::makeStatus(QStringLiteral("Interrogating crosspoints…")));
    QCOMPARE(rig.fake.lines,
             (QList<QByteArray> { ".IV1", ".IV2", ".IV3", ".IV4", ".IV5", ".IV6" }));
    const RouterState &state = rig.recorder.events.last().state;
    QCOMPARE(state.model, QStringLiteral("Quartz 200×6"));
    QCOMPARE(state.routing.value(0).size(), 6);
    QCOMPARE(state.routing.value(0).value(4), 130);
}

void TestQuartzDriver::takeThroughFactory()
{
    FakeQuartzRouter fake(200, 8);
    RouterDriverPtr driver = DriverFactory::makeDriver(router(fake.port(), 200, 8));
    QVERIFY(dynamic_cast<QuartzDriver *>(driver.get()));
    TestSupport::EventRecorder recorder;
    recorder.attach(driver);
    driver->connect();
    QVERIFY(QTest::qWaitFor([&] { return recorder.events.size() >= 2; }));
    QVERIFY(run([&](DriverCompletion done) {
                driver->takeAll({ { 3, 4, 130 }, { 0, 5, 0 } }, std::move(done));
            }).has_value());
    QTRY_COMPARE(fake.route(4), std::optional<int>(130));
    QTRY_COMPARE(fake.route(5), std::optional<int>(0));
    QVERIFY(fake.lines.contains(".SV5,131")); // the level is not sent
    driver->disconnect();
}

void TestQuartzDriver::takesAfterConnected()
{
    Rig rig(16, 16);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    QVERIFY(run([&](DriverCompletion d) { rig.driver->take(9, 3, 0, std::move(d)); }));
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(rig.recorder.events, QList { RouterDriverEvent::makeRouteChanged(0, 3, 9) });
}

void TestQuartzDriver::refusalReasksTheDestination()
{
    Rig rig(16, 16);
    rig.fake.setRoute(2, 7);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    rig.fake.lines.clear();
    rig.fake.refuseNext = 1;
    QVERIFY(run([&](DriverCompletion d) { rig.driver->take(1, 2, 0, std::move(d)); }));
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(rig.recorder.events,
             (QList { RouterDriverEvent::makeCommandRefused(
                          refused + QStringLiteral(" Out 3 shows what the router reports.")),
                      RouterDriverEvent::makeRouteChanged(0, 2, 7) }));
    QCOMPARE(rig.fake.lines, (QList<QByteArray> { ".SV3,2", ".IV3" }));
}

void TestQuartzDriver::failedSendReasksItsDestination()
{
    FaultySockets sockets;
    QuartzDriver::Timing timing = fast();
    timing.link.makeSocket = sockets.factory();
    Rig rig(16, 16, timing);
    rig.fake.setRoute(2, 7);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    rig.fake.lines.clear();
    sockets.refuseWrites(1, ".SV3,2\r");
    QVERIFY(run([&](DriverCompletion d) {
        rig.driver->takeAll({ { 0, 2, 1 }, { 0, 5, 4 } }, std::move(d));
    }));
    QTRY_COMPARE(rig.count(Type::routeChanged), 2);
    // The refusal of that take, then its own destination asked again, whose answer is
    // reported although the driver held it.
    QCOMPARE(rig.recorder.events.first(),
             RouterDriverEvent::makeCommandRefused(
                 QStringLiteral("Couldn't send the command: Broken pipe")));
    QVERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 2, 7)));
    QVERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 5, 4)));
    QCOMPARE(rig.fake.lines.count(".IV3"), 1);
    QVERIFY(!rig.fake.lines.contains(".IV6"));
    QVERIFY(!rig.fake.lines.contains(".SV3,2"));
}

void TestQuartzDriver::otherLevelAnswersDoNotConnect()
{
    // Answers for the audio level alone must not be taken for video routing.
    Rig rig(4, 4, fast(60ms, 150ms));
    rig.fake.levels = "A";
    rig.driver->connect();
    QTRY_COMPARE(rig.fake.lines.size(), 4);
    QTest::qWait(300);
    QCOMPARE(rig.count(Type::connected), 0);
    QCOMPARE(rig.count(Type::error), 0); // it does speak Quartz
}

void TestQuartzDriver::commandsNeedAReadyLinkAndLockingIsRefused()
{
    FakeQuartzRouter fake(4, 4);
    auto driver = std::make_shared<QuartzDriver>(router(fake.port(), 4, 4), fast());
    QCOMPARE(run([&](DriverCompletion d) {
                 driver->takeAll({ { 0, 1, 1 } }, std::move(d));
             }),
             DriverResult(std::unexpected(DriverError::notConnectedError())));
    QCOMPARE(
        run([&](DriverCompletion d) { driver->setLock(0, 0, true, std::move(d)); }),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Locking")))));
    QCOMPARE(
        run([&](DriverCompletion d) {
            driver->setLabel(QStringLiteral("X"), 0, PortKind::destination, std::move(d));
        }),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Renaming")))));
    QTest::qWait(20);
    QCOMPARE(fake.connections, 0);
}

void TestQuartzDriver::silentRouterReportsOnce()
{
    Rig rig(4, 4, fast(60ms, 80ms));
    rig.fake.answerInterrogations = false;
    rig.driver->connect();
    QVERIFY(rig.waitFor(Type::error));
    QTest::qWait(200);
    QCOMPARE(rig.count(Type::error), 1);
    QCOMPARE(rig.recorder.events.mid(rig.recorder.events.size() - 2),
             (QList { RouterDriverEvent::makeError(QStringLiteral(
                          "The device answered TCP but spoke no Quartz — check the port and "
                          "matrix size.")),
                      // The link ends: what such a device sends is not read on for ever.
                      RouterDriverEvent::makeDisconnected() }));
}

void TestQuartzDriver::linkEndCancelsTimers()
{
    Rig rig(4, 4, fast(150ms, 200ms));
    rig.fake.answerInterrogations = false;
    rig.driver->connect();
    QTRY_COMPARE(rig.fake.lines.size(), 4);
    rig.fake.sendRaw(".AV1,1\r"); // arms the debounce
    QTest::qWait(30);
    rig.fake.dropClients();
    QVERIFY(rig.waitFor(Type::disconnected));
    QTest::qWait(400);
    QCOMPARE(rig.count(Type::connected), 0);
    QCOMPARE(rig.count(Type::error), 0);
}

void TestQuartzDriver::overlongLineIsDroppedNotFatal()
{
    Rig rig(4, 4);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    rig.fake.sendRaw(".AV1," + QByteArray(100000, '9') + "\r.AV2,4\r");
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(rig.recorder.events, QList { RouterDriverEvent::makeRouteChanged(0, 1, 3) });
}

QTEST_GUILESS_MAIN(TestQuartzDriver)
#include "tst_quartzdriver.moc"

#include "Drivers/SWP08Driver.h"

#include "Drivers/SWP08Parser.h"
#include "FakeSWP08Router.h"
#include "SocketFaults.h"
#include "TestSupport.h"

#include <QtTest>

using namespace std::chrono_literals;
using TestSupport::run;
using Type = RouterDriverEvent::Type;

namespace {

RouterConnection router(quint16 port, int sources, int destinations,
                        RouterVendor vendor = RouterVendor::rossUltrix)
{
    return TestSupport::loopbackRouter(QStringLiteral("Ultrix Main"), vendor, port, sources,
                                       destinations);
}

SWP08Driver::Timing fast(std::chrono::milliseconds debounce = 60ms,
                         std::chrono::milliseconds noAnswer = 5000ms)
{
    return { { 5000ms, 50ms }, debounce, noAnswer };
}

struct Rig : TestSupport::DriverRig<FakeSWP08Router, SWP08Driver>
{
    Rig(int sources, int destinations, SWP08Driver::Timing timing = fast())
        : DriverRig(router(0, sources, destinations), timing)
    { }
};

const QString noSwp08 = QStringLiteral(
    "The device answered TCP but spoke no SW-P-08 — check the port and matrix size.");

} // namespace

class TestSWP08Driver : public QObject
{
    Q_OBJECT

private slots:
    void connectInterrogatesEveryDestination();
    void takeThroughFactory_data();
    void takeThroughFactory();
    void takesAfterConnected();
    void unaddressableTakeSendsNothing();
    void refusedRouteIsReportedAndAskedAgain();
    void failedSendDropsItsConnectAndAsksAgain();
    void commandsNeedAReadyLink();
    void lockingAndRenamingAreRefused();
    void silentRouterReportsOnce();
    void linkEndCancelsTimers_data();
    void linkEndCancelsTimers();
    void malformedInputIsRefusedNotFatal();
    void noHostIsReported();
};

void TestSWP08Driver::connectInterrogatesEveryDestination()
{
    Rig rig(8, 12);
    rig.fake.setRoute(0, 11, 7);
    QVERIFY(rig.connect());
    const auto statuses = rig.recorder.events.first(2);
    QCOMPARE(statuses[0],
             RouterDriverEvent::makeStatus(
                 QStringLiteral("Connecting to 127.0.0.1:%1…").arg(rig.fake.port())));
    QCOMPARE(statuses[1],
             RouterDriverEvent::makeStatus(QStringLiteral("Interrogating crosspoints…")));
    const RouterState &state = rig.last(Type::connected)->state;
    QCOMPARE(state.model, QStringLiteral("SW-P-08 8×12"));
    QCOMPARE(state.routing.value(0).size(), 12);
    QCOMPARE(state.routing.value(0).value(11), 7);
    QCOMPARE(state.routing.value(0).value(9), 1);
    QCOMPARE(rig.fake.messages.size(), 12);
    QCOMPARE(rig.fake.messages[11].toHex(), QByteArray("0100000b"));
    QTRY_COMPARE(rig.fake.acksReceived, 12); // every tally acknowledged
    QCOMPARE(rig.count(Type::error), 0);
}

void TestSWP08Driver::takeThroughFactory_data()
{
    QTest::addColumn<RouterVendor>("vendor");
    QTest::newRow("rossUltrix") << RouterVendor(RouterVendor::rossUltrix);
    QTest::newRow("genericSWP08") << RouterVendor(RouterVendor::genericSWP08);
}

void TestSWP08Driver::takeThroughFactory()
{
    QFETCH(RouterVendor, vendor);
    FakeSWP08Router fake(200, 16);
    RouterDriverPtr driver = DriverFactory::makeDriver(router(fake.port(), 200, 16, vendor));
    QVERIFY(dynamic_cast<SWP08Driver *>(driver.get()));
    TestSupport::EventRecorder recorder;
    recorder.attach(driver);
    driver->connect();
    // The link is usable as soon as it is ready; no need to wait for the debounce.
    QVERIFY(QTest::qWaitFor([&] { return recorder.events.size() >= 2; }));
    QCOMPARE(recorder.events[1].text, QStringLiteral("Interrogating crosspoints…"));
    const auto result = run([&](DriverCompletion done) {
        driver->takeAll({ { 0, 5, 130 }, { 0, 6, 3 } }, std::move(done));
    });
    QVERIFY(result.has_value());
    QTRY_COMPARE(fake.route(0, 5), std::optional<int>(130));
    QTRY_COMPARE(fake.route(0, 6), std::optional<int>(3));
    QVERIFY(fake.messages.contains(QByteArray::fromHex("0200010502")));
    driver->disconnect();
}

void TestSWP08Driver::takesAfterConnected()
{
    Rig rig(16, 16);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    QVERIFY(run([&](DriverCompletion done) {
                rig.driver->take(9, 3, 0, std::move(done));
            }).has_value());
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(*rig.last(Type::routeChanged), RouterDriverEvent::makeRouteChanged(0, 3, 9));

    // A tally on another level arrives as its own level.
    rig.recorder.events.clear();
    rig.fake.sendTally(2, 3, 4);
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(*rig.last(Type::routeChanged), RouterDriverEvent::makeRouteChanged(2, 3, 4));
    QCOMPARE(rig.count(Type::commandRefused), 0);
}

void TestSWP08Driver::unaddressableTakeSendsNothing()
{
    Rig rig(16, 16);
    QVERIFY(rig.connect());
    const int before = rig.fake.messages.size();
    const auto result = run([&](DriverCompletion done) {
        rig.driver->takeAll({ { 0, 1, 1 }, { 0, 1024, 1 }, { 0, 2, 2 } }, std::move(done));
    });
    QCOMPARE(result,
             DriverResult(std::unexpected(
                 DriverError::unsupportedFeature(QStringLiteral("Destination 1025")))));
    QTRY_COMPARE(rig.fake.messages.size(), before + 1); // the first route only
    QTest::qWait(50);
    QCOMPARE(rig.fake.messages.size(), before + 1);
    QCOMPARE(
        run([&](DriverCompletion done) { rig.driver->take(0, 0, 16, std::move(done)); }),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Level 17")))));
}

void TestSWP08Driver::refusedRouteIsReportedAndAskedAgain()
{
    Rig rig(16, 16);
    rig.fake.setRoute(0, 4, 1);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    rig.fake.messages.clear();
    rig.fake.nakNext = 1;
    QVERIFY(run([&](DriverCompletion done) {
                rig.driver->take(9, 4, 0, std::move(done));
            }).has_value());
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(rig.recorder.events,
             (QList { RouterDriverEvent::makeCommandRefused(QStringLiteral(
                          "The router refused the route (NAK). Out 5 shows what the router "
                          "reports.")),
                      // the real source, reported although the driver held it already
                      RouterDriverEvent::makeRouteChanged(0, 4, 1) }));
    QCOMPARE(rig.fake.messages,
             (QList { QByteArray::fromHex("0200000409"), QByteArray::fromHex("01000004") }));
}

void TestSWP08Driver::failedSendDropsItsConnectAndAsksAgain()
{
    // Failures used to be counted and "the newest N takes" recovered later, so a take sent in
    // between was recovered instead of the failed one, whose entry stayed pending.
    FaultySockets sockets;
    SWP08Driver::Timing timing = fast();
    timing.link.makeSocket = sockets.factory();
    Rig rig(16, 16, timing);
    rig.fake.setRoute(0, 4, 1);
    QVERIFY(rig.connect());
    QTRY_COMPARE(rig.fake.acksReceived, 16);
    rig.recorder.events.clear();
    rig.fake.messages.clear();
    sockets.refuseWrites(1, SWP08Parser::frame(SWP08Parser::connectPayload(9, 4, 0)));
    QVERIFY(run([&](DriverCompletion done) {
                rig.driver->takeAll({ { 0, 4, 9 }, { 0, 6, 3 } }, std::move(done));
            }).has_value());
    QVERIFY(rig.waitFor(Type::routeChanged));
    QTRY_COMPARE(rig.count(Type::routeChanged), 2);
    QCOMPARE(sockets.refusedWrites(), 1);
    // The refusal, then destination 4 asked again (its answer reported although held).
    QCOMPARE(rig.recorder.events.first(),
             RouterDriverEvent::makeCommandRefused(
                 QStringLiteral("Couldn't send the command: Broken pipe")));
    QVERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 4, 1)));
    QVERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 6, 3)));
    QCOMPARE(rig.fake.messages.count(QByteArray::fromHex("01000004")), 1);
    QVERIFY(!rig.fake.messages.contains(QByteArray::fromHex("0200000409")));

    // Nothing of the failed take is left pending: the next refusal is matched to its own take.
    QTRY_COMPARE(rig.fake.acksReceived, 18);
    rig.recorder.events.clear();
    rig.fake.nakNext = 1;
    QVERIFY(run([&](DriverCompletion done) {
                rig.driver->take(2, 5, 0, std::move(done));
            }).has_value());
    QVERIFY(rig.waitFor(Type::commandRefused));
    QCOMPARE(*rig.last(Type::commandRefused),
             RouterDriverEvent::makeCommandRefused(QStringLiteral(
                 "The router refused the route (NAK). Out 6 shows what the router reports.")));
}

void TestSWP08Driver::commandsNeedAReadyLink()
{
    FakeSWP08Router fake(4, 4);
    auto driver = std::make_shared<SWP08Driver>(router(fake.port(), 4, 4), fast());
    const DriverResult notConnected = std::unexpected(DriverError::notConnectedError());
    QCOMPARE(run([&](DriverCompletion d) {
                 driver->takeAll({ { 0, 1, 1 } }, std::move(d));
             }),
             notConnected);
    QVERIFY(run([&](DriverCompletion d) { driver->takeAll({}, std::move(d)); }).has_value());

    // After the router closed the link.
    TestSupport::EventRecorder recorder;
    recorder.attach(driver);
    driver->connect();
    QVERIFY(QTest::qWaitFor([&] { return recorder.types().contains(Type::connected); }));
    fake.dropClients();
    QVERIFY(QTest::qWaitFor([&] { return recorder.types().contains(Type::disconnected); }));
    QCOMPARE(run([&](DriverCompletion d) { driver->take(1, 1, 0, std::move(d)); }), notConnected);
    driver->disconnect();
    QCOMPARE(fake.messages.size(), 4); // the interrogation only
}

void TestSWP08Driver::lockingAndRenamingAreRefused()
{
    Rig rig(4, 4);
    for (bool online : { false, true }) {
        if (online)
            QVERIFY(rig.connect());
        QCOMPARE(run([&](DriverCompletion d) { rig.driver->setLock(1, 0, true, std::move(d)); })
                     .error()
                     .localizedDescription(),
                 QStringLiteral("Locking isn't supported by this router."));
        QCOMPARE(run([&](DriverCompletion d) {
                     rig.driver->setLabel(QStringLiteral("CAM 1"), 0, PortKind::source,
                                          std::move(d));
                 })
                     .error()
                     .localizedDescription(),
                 QStringLiteral("Renaming isn't supported by this router."));
    }
}

void TestSWP08Driver::silentRouterReportsOnce()
{
    Rig rig(4, 4, fast(60ms, 80ms));
    rig.fake.acknowledge = false;
    rig.fake.answerInterrogations = false;
    rig.driver->connect();
    QVERIFY(rig.waitFor(Type::error));
    QTest::qWait(200);
    QCOMPARE(rig.count(Type::error), 1);
    QCOMPARE(rig.last(Type::error)->text, noSwp08);
    QCOMPARE(rig.count(Type::connected), 0);
    // The link ends: what such a device sends is not read on for ever.
    QCOMPARE(rig.count(Type::disconnected), 1);
}

void TestSWP08Driver::linkEndCancelsTimers_data()
{
    QTest::addColumn<bool>("routerCloses"); // else the operator disconnects
    QTest::newRow("router closes") << true;
    QTest::newRow("disconnect") << false;
}

void TestSWP08Driver::linkEndCancelsTimers()
{
    // A late debounce used to report `connected` for a dead link, and the no-answer check an
    // error for a router that had merely gone away.
    QFETCH(bool, routerCloses);
    Rig rig(4, 4, fast(150ms, 200ms));
    rig.fake.answerInterrogations = false;
    rig.driver->connect();
    QTRY_COMPARE(rig.fake.messages.size(), 4);
    rig.fake.sendTally(0, 1, 1); // arms the debounce
    QTRY_COMPARE(rig.fake.acksReceived, 1);
    if (routerCloses) {
        rig.fake.dropClients();
        QVERIFY(rig.waitFor(Type::disconnected));
    } else {
        rig.driver->disconnect();
    }
    QTest::qWait(400);
    QCOMPARE(rig.count(Type::connected), 0);
    QCOMPARE(rig.count(Type::error), 0);
    if (routerCloses)
        QCOMPARE(rig.recorder.events.last(), RouterDriverEvent::makeDisconnected());
}

void TestSWP08Driver::malformedInputIsRefusedNotFatal()
{
    Rig rig(4, 4);
    QVERIFY(rig.connect());
    rig.recorder.events.clear();
    QByteArray bad = FakeSWP08Router::tally(0, 1, 2);
    bad[bad.size() - 3] = char(bad.at(bad.size() - 3) + 1); // break the checksum
    rig.fake.sendRaw(bad);
    rig.fake.sendRaw(QByteArray::fromHex("1002") + QByteArray(4000, 0x55)); // endless frame
    rig.fake.sendRaw(QByteArray(3000, char(0xAA)) + QByteArray::fromHex("1003 10ff"));
    rig.fake.sendTally(0, 1, 3);
    QVERIFY(rig.waitFor(Type::routeChanged));
    QCOMPARE(*rig.last(Type::routeChanged), RouterDriverEvent::makeRouteChanged(0, 1, 3));
    QTRY_COMPARE(rig.fake.naksReceived, 2); // bad checksum, oversize frame
    QCOMPARE(rig.count(Type::error), 0);
    QCOMPARE(rig.count(Type::disconnected), 0);
}

void TestSWP08Driver::noHostIsReported()
{
    RouterConnection connection = router(2000, 4, 4);
    connection.host.clear();
    auto driver = std::make_shared<SWP08Driver>(connection, fast());
    TestSupport::EventRecorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_COMPARE(recorder.events,
                 QList { RouterDriverEvent::makeError(
                     QStringLiteral("No address for this router. Edit it and set a host.")) });
    driver->disconnect();
}

QTEST_GUILESS_MAIN(TestSWP08Driver)
#include "tst_swp08driver.moc"

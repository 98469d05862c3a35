#include "Drivers/VideohubDriver.h"

#include "FakeVideohubRouter.h"
#include "SocketFaults.h"
#include "TestSupport.h"

#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;
using TestSupport::run;
using Recorder = TestSupport::EventRecorder;
using Event = RouterDriverEvent;
using Type = RouterDriverEvent::Type;

namespace {

RouterConnection hub(quint16 port, const QString &host = QStringLiteral("127.0.0.1"))
{
    RouterConnection connection;
    connection.name = QStringLiteral("Studio Videohub");
    connection.vendor = RouterVendor::blackmagicVideohub;
    connection.host = host;
    connection.port = port;
    return connection;
}

VideohubTiming fast()
{
    VideohubTiming timing;
    timing.link = { 5000ms, 30ms };
    timing.preludeDebounce = 80ms;
    return timing;
}

std::shared_ptr<VideohubDriver> makeDriver(const RouterConnection &connection,
                                           VideohubTiming timing = fast(),
                                           ServiceResolver resolver = {})
{
    return std::make_shared<VideohubDriver>(connection, timing, std::move(resolver));
}

const DriverResult kNotConnected = std::unexpected(DriverError::notConnectedError());

qsizetype indexOfType(const QList<Event> &events, Type type)
{
    for (qsizetype i = 0; i < events.size(); ++i) {
        if (events[i].type == type)
            return i;
    }
    return -1;
}

} // namespace

class TestVideohubDriver : public QObject
{
    Q_OBJECT

private slots:
    void factoryMakesVideohubDriver();
    void connectsReadsRoutesLocksAndRenames();
    void lockingNeedsALockTable();
    void commandsNeedTheLink();
    void nakRefusesAndResyncsOnce();
    void failedSendRefusesAndResyncs();
    void preludeWithoutEndFinalizesAfterQuietTime();
    void closeMidPreludeNeverConnects();
    void garbageAndFloods();
    void secondConnectAndDisconnect();
    void noAddressSentence();
    void releasingTheDriverClosesTheLink();
    void bonjourServiceEndpoint();
};

void TestVideohubDriver::factoryMakesVideohubDriver()
{
    RouterConnection connection = hub(9990);
    auto driver = DriverFactory::makeDriver(connection);
    QVERIFY(dynamic_cast<VideohubDriver *>(driver.get()));
    QVERIFY(driver->events());
}

void TestVideohubDriver::connectsReadsRoutesLocksAndRenames()
{
    FakeVideohubRouter fake;
    fake.model().friendlyName = QStringLiteral("Rack 3");
    fake.model().locks = { { 2, 'L' }, { 4, 'O' } };
    fake.setChunkSize(97); // the dump arrives in odd pieces
    // Through the factory, with the real timer lengths: the end marker makes it quick.
    RouterDriverPtr driver = DriverFactory::makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));

    const QString port = QString::number(fake.port());
    QCOMPARE(recorder.events.at(0),
             Event::makeStatus(QStringLiteral("Connecting to 127.0.0.1:%1…").arg(port)));
    QCOMPARE(recorder.events.at(1), Event::makeStatus(QStringLiteral("Reading router state…")));
    QCOMPARE(recorder.events.size(), 3);
    const RouterState &state = recorder.events.at(2).state;
    QCOMPARE(state.deviceName, QStringLiteral("Rack 3"));
    QCOMPARE(state.model, QStringLiteral("Fake Videohub 12x12"));
    QCOMPARE(state.sources.size(), 12);
    QCOMPARE(state.destinations.at(0).label, QStringLiteral("Mon 1"));
    QCOMPARE(state.lockedDestinations, (QSet<int> { 2, 4 }));
    QCOMPARE(state.source(7, 0), std::optional<int>(7));
    recorder.events.clear();

    // A take goes out as one block; the router's echo comes back as changes.
    QVERIFY(run([&](auto done) { driver->takeAll({ { 0, 3, 5 }, { 0, 4, 5 } }, done); }));
    QTRY_COMPARE(recorder.events.size(), 2);
    QCOMPARE(fake.blocks().last(), QByteArray("VIDEO OUTPUT ROUTING:\n3 5\n4 5"));
    QCOMPARE(recorder.events,
             (QList<Event> { Event::makeRouteChanged(0, 3, 5), Event::makeRouteChanged(0, 4, 5) }));
    recorder.events.clear();

    // Unlocking an "L" destination forces it; locking always sends "O".
    QVERIFY(run([&](auto done) { driver->setLock(2, 0, false, done); }));
    QTRY_COMPARE(recorder.events.size(), 1);
    QCOMPARE(fake.blocks().last(), QByteArray("VIDEO OUTPUT LOCKS:\n2 F"));
    QCOMPARE(recorder.events.last(), Event::makeLockChanged(2, false));
    QVERIFY(run([&](auto done) { driver->setLock(4, 0, false, done); }));
    QTRY_COMPARE(recorder.events.size(), 2);
    QCOMPARE(fake.blocks().last(), QByteArray("VIDEO OUTPUT LOCKS:\n4 U"));
    QVERIFY(run([&](auto done) { driver->setLock(7, 1, true, done); }));
    QTRY_COMPARE(recorder.events.size(), 3);
    QCOMPARE(fake.blocks().last(), QByteArray("VIDEO OUTPUT LOCKS:\n7 O"));
    QCOMPARE(recorder.events.last(), Event::makeLockChanged(7, true));
    recorder.events.clear();

    QVERIFY(run([&](auto done) {
        driver->setLabel(QStringLiteral("Line\r\nTwo"), 1, PortKind::source, done);
    }));
    QVERIFY(run([&](auto done) {
        driver->setLabel(QStringLiteral("Air"), 9, PortKind::destination, done);
    }));
    QTRY_COMPARE(recorder.events.size(), 2);
    QVERIFY(fake.received().endsWith(QByteArray("INPUT LABELS:\n1 Line  Two\n\n"
                                                "OUTPUT LABELS:\n9 Air\n\n")));
    QCOMPARE(recorder.events,
             (QList<Event> {
                 Event::makeLabelChanged(PortKind::source, 1, QStringLiteral("Line  Two")),
                 Event::makeLabelChanged(PortKind::destination, 9, QStringLiteral("Air")) }));

    // The single take sends the same block as a one-route list.
    QVERIFY(run([&](auto done) { driver->take(1, 2, 0, done); }));
    QTRY_COMPARE(fake.blocks().last(), QByteArray("VIDEO OUTPUT ROUTING:\n2 1"));
    QVERIFY(!recorder.types().contains(Type::commandRefused));
    driver->disconnect();
}

void TestVideohubDriver::lockingNeedsALockTable()
{
    const DriverResult unsupported
        = std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Locking")));
    FakeVideohubRouter fake;
    fake.model().sendLocks = false;
    auto driver = makeDriver(hub(fake.port()));
    // Before any lock table the refusal comes first, even without a link.
    QCOMPARE(run([&](auto done) { driver->setLock(0, 0, true, done); }), unsupported);
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    QCOMPARE(run([&](auto done) { driver->setLock(0, 0, true, done); }), unsupported);
    QCOMPARE(unsupported.error().localizedDescription(),
             QStringLiteral("Locking isn't supported by this router."));
    QTest::qWait(50);
    QCOMPARE(fake.blocks().size(), 0);

    // Once the router has sent one, locking works.
    fake.sendToAll("VIDEO OUTPUT LOCKS:\n0 U\n\n");
    QTRY_VERIFY(recorder.types().contains(Type::lockChanged));
    QVERIFY(run([&](auto done) { driver->setLock(0, 0, true, done); }));
    QTRY_COMPARE(fake.blocks().size(), 1);
    driver->disconnect();
}

void TestVideohubDriver::commandsNeedTheLink()
{
    FakeVideohubRouter fake;
    fake.setPreludeOverride("VIDEO OUTPUT LOCKS:\n0 U\n\n");
    auto driver = makeDriver(hub(fake.port()));
    QCOMPARE(run([&](auto done) { driver->takeAll({ { 0, 1, 1 } }, done); }), kNotConnected);
    QCOMPARE(
        run([&](auto done) { driver->setLabel(QStringLiteral("x"), 0, PortKind::source, done); }),
        kNotConnected);
    QCOMPARE(kNotConnected.error().localizedDescription(),
             QStringLiteral("Not connected to the router."));

    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_COMPARE(fake.clientCount(), 1);
    QTRY_COMPARE(recorder.events.size(), 2);
    // The router closes right away: the lock table is still read, then the link ends.
    fake.sendToAll("VIDEO OUTPUT ROUTING:\n0 0\n\n");
    fake.closeClients();
    QTRY_VERIFY(recorder.types().contains(Type::disconnected));
    QTest::qWait(30);
    QCOMPARE(recorder.events.mid(2),
             (QList<Event> {
                 Event::makeDisconnected(QStringLiteral("The router closed the connection.")),
                 Event::makeDisconnected() }));
    QCOMPARE(run([&](auto done) { driver->takeAll({ { 0, 1, 1 } }, done); }), kNotConnected);
    QCOMPARE(run([&](auto done) { driver->setLock(0, 0, true, done); }), kNotConnected);
    QCOMPARE(fake.blocks().size(), 0);
}

void TestVideohubDriver::nakRefusesAndResyncsOnce()
{
    FakeVideohubRouter fake;
    auto driver = makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    recorder.events.clear();

    fake.setReply(FakeVideohubRouter::Reply::nak);
    QVERIFY(run([&](auto done) { driver->takeAll({ { 0, 0, 3 } }, done); }));
    // The take is refused and put back, and its table asked for again: refused too, which
    // changes nothing more.
    QTRY_COMPARE(fake.blocks().size(), 2);
    QTRY_COMPARE(recorder.events.size(), 2);
    QTest::qWait(100);
    QCOMPARE(recorder.events,
             (QList<Event> { Event::makeCommandRefused(QStringLiteral(
                                 "The router refused the last command. Mon 1 shows what the "
                                 "router reports.")),
                             Event::makeRouteChanged(0, 0, 0) }));
    QCOMPARE(fake.blocks(),
             (QList<QByteArray> { "VIDEO OUTPUT ROUTING:\n0 3", "VIDEO OUTPUT ROUTING:" }));

    // A refusal of nothing we sent asks for both tables, at most once per 2 s.
    fake.setReply(FakeVideohubRouter::Reply::ack);
    fake.sendToAll("NAK\n\nNAK\n\n");
    QTRY_COMPARE(fake.blocks().size(), 4);
    QTest::qWait(50);
    QCOMPARE(fake.blocks().mid(2),
             (QList<QByteArray> { "VIDEO OUTPUT ROUTING:", "VIDEO OUTPUT LOCKS:" }));
    driver->disconnect();
}

void TestVideohubDriver::failedSendRefusesAndResyncs()
{
    FakeVideohubRouter fake;
    FaultySockets sockets;
    VideohubTiming timing = fast();
    timing.link.makeSocket = sockets.factory();
    auto driver = makeDriver(hub(fake.port()), timing);
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    recorder.events.clear();
    sockets.refuseWrites(1, "VIDEO OUTPUT ROUTING:\n3 5");
    QVERIFY(run([&](auto done) { driver->takeAll({ { 0, 3, 5 } }, done); }));
    // The refusal, then the tables asked for again; their answer corrects the take.
    QTRY_COMPARE(fake.blocks(),
                 (QList<QByteArray> { "VIDEO OUTPUT ROUTING:", "VIDEO OUTPUT LOCKS:" }));
    QTRY_VERIFY(recorder.events.contains(Event::makeRouteChanged(0, 3, 3)));
    QCOMPARE(recorder.events.first(),
             Event::makeCommandRefused(QStringLiteral("Couldn't send the command: Broken pipe")));
    driver->disconnect();
}

void TestVideohubDriver::preludeWithoutEndFinalizesAfterQuietTime()
{
    FakeVideohubRouter fake;
    fake.model().sendEndPrelude = false;
    auto driver = makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    QElapsedTimer clock;
    clock.start();
    driver->connect();
    QTRY_COMPARE(recorder.events.size(), 2);
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    QVERIFY(clock.elapsed() >= 75);
    QCOMPARE(recorder.events.last().state.sources.size(), 12);
    QCOMPARE(recorder.events.size(), 3);
    driver->disconnect();
}

void TestVideohubDriver::closeMidPreludeNeverConnects()
{
    // The device and routing blocks made it, so a finalize is pending when the link ends.
    FakeVideohubRouter::Model model;
    model.sendEndPrelude = false;
    const QByteArray prelude = FakeVideohubRouter::preludeFor(model);
    FakeVideohubRouter fake(model);
    fake.setCloseAfter(prelude.size() - 1);
    auto driver = makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::disconnected));
    QTest::qWait(250); // well past the quiet time
    // Used to report `connected` after the router had already gone.
    QCOMPARE(indexOfType(recorder.events, Type::connected), -1);
    QCOMPARE(recorder.events.last(), Event::makeDisconnected());
}

void TestVideohubDriver::garbageAndFloods()
{
    FakeVideohubRouter fake;
    auto driver = makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    recorder.events.clear();

    QByteArray garbage("\x00\xff\xfe\n\nVIDEO OUTPUT ROUTING:\n\xc3\x28 1\n2 \xff\n\n", 36);
    fake.sendToAll(garbage);
    fake.sendToAll("VIDEO OUTPUT ROUTING:\n5 6\n\n");
    QTRY_COMPARE(recorder.events, (QList<Event> { Event::makeRouteChanged(0, 5, 6) }));

    // An endless line: the link ends with a clear error instead of buffering forever.
    const QByteArray line = QByteArray(1023, 'z') + '\n';
    for (int i = 0; i < 4200; ++i)
        fake.sendToAll(line);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.types().contains(Type::disconnected), 10000);
    QCOMPARE(recorder.events.mid(1),
             (QList<Event> { Event::makeError(QStringLiteral(
                                 "The router sent more than 4 MiB without ending a block.")),
                             Event::makeDisconnected() }));
    QCOMPARE(run([&](auto done) { driver->takeAll({ { 0, 1, 1 } }, done); }), kNotConnected);
}

void TestVideohubDriver::secondConnectAndDisconnect()
{
    FakeVideohubRouter fake;
    auto driver = makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    QTest::qWait(30);
    QCOMPARE(fake.acceptedCount(), 1);
    QCOMPARE(recorder.events.size(), 3);

    bool done = false;
    driver->disconnect([&] { done = true; });
    QVERIFY(!done); // completions never run inside the call
    QTRY_VERIFY(done && recorder.ended);
    fake.sendToAll("VIDEO OUTPUT ROUTING:\n1 1\n\n");
    QTest::qWait(50);
    QCOMPARE(recorder.events.size(), 3);
    QTRY_COMPARE(fake.clientCount(), 0);
    driver->disconnect(); // again: nothing visible
    QCOMPARE(run([&](auto d) { driver->takeAll({ { 0, 1, 1 } }, d); }), kNotConnected);
}

void TestVideohubDriver::noAddressSentence()
{
    auto driver = makeDriver(hub(0, QString()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_COMPARE(recorder.events.size(), 1);
    QCOMPARE(recorder.events.first(),
             Event::makeError(QStringLiteral("No address for this router. Edit it and set a host, "
                                             "or re-add it from discovery.")));
}

void TestVideohubDriver::releasingTheDriverClosesTheLink()
{
    FakeVideohubRouter fake;
    auto driver = makeDriver(hub(fake.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    std::weak_ptr<VideohubDriver> weak = driver;
    driver.reset(); // dropped without disconnect()
    QVERIFY(weak.expired());
    QTRY_COMPARE(fake.clientCount(), 0);
    QTRY_COMPARE(recorder.events.last(), Event::makeDisconnected());
}

void TestVideohubDriver::bonjourServiceEndpoint()
{
    FakeVideohubRouter fake;
    const quint16 port = fake.port();
    RouterConnection connection = hub(0, QString());
    connection.bonjourName = QStringLiteral("Smart Videohub");
    connection.bonjourType = QStringLiteral("_blackmagic._tcp");
    auto driver = makeDriver(connection, fast(), [port](const ServiceEndpoint &service, auto done) {
        if (service.domain == QStringLiteral("local."))
            done(HostPort { QStringLiteral("127.0.0.1"), port });
        else
            done(std::unexpected(QStringLiteral("wrong domain")));
    });
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    QCOMPARE(recorder.events.first(),
             Event::makeStatus(QStringLiteral("Connecting to Smart Videohub via Bonjour…")));
    driver->disconnect();
}

QTEST_GUILESS_MAIN(TestVideohubDriver)
#include "tst_videohubdriver.moc"

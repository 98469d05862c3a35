#include "Drivers/TcpLink.h"

#include "FakeVideohubRouter.h"
#include "SocketFaults.h"
#include "TestSupport.h"

#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <mutex>

using namespace std::chrono_literals;
using Type = RouterDriverEvent::Type;

namespace {

Q_LOGGING_CATEGORY(lcTestLink, "quorvel.test.link", QtInfoMsg)

TcpLink::Profile profile(bool bonjour = false)
{
    TcpLink::Profile p;
    p.queueLabel = QStringLiteral("test.link");
    p.noAddressText = QStringLiteral("No address.");
    p.readyText = QStringLiteral("Ready…");
    p.allowsBonjour = bonjour;
    p.log = &lcTestLink();
    return p;
}

TcpLink::Options options(std::chrono::milliseconds watchdog, std::chrono::milliseconds retry,
                         TcpConnection::SocketFactory makeSocket = {})
{
    TcpLink::Options o;
    o.watchdog = watchdog;
    o.waitingRetry = retry;
    o.makeSocket = std::move(makeSocket);
    return o;
}

RouterConnection router(const QString &host, int port)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Test");
    connection.host = host;
    connection.port = port;
    return connection;
}

// A port on loopback that refuses connections: listened on once, then closed.
// A loopback port that refuses connections while this lives: bound but never listening, so
// no other test can take it meanwhile. (A port closed after listening could be reused by a
// test running alongside, and then it answered.)
class RefusingPort
{
public:
    RefusingPort() { m_socket.bind(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_socket.localPort(); }

private:
    QTcpSocket m_socket;
};

// One link with a recording protocol, as a driver would set it up.
struct Rig
{
    enum class Reader { now, later };

    std::shared_ptr<RouterEventStream> stream;
    QObject context;
    QList<RouterDriverEvent> events;
    bool streamEnded = false;
    std::unique_ptr<TcpLink> link;

    std::mutex mutex;
    QByteArray ingested;
    std::atomic_int readyCalls { 0 };
    std::atomic_int endedCalls { 0 };
    std::function<void(TcpLink &, const QByteArray &)> onIngest;

    Rig(const RouterConnection &connection, TcpLink::Options linkOptions = options(20000ms, 40ms),
        TcpLink::Profile p = profile(), ServiceResolver resolver = {},
        std::size_t capacity = RouterEventStream::defaultCapacity, Reader reader = Reader::now)
        : stream(RouterEventStream::create(capacity))
    {
        link = std::make_unique<TcpLink>(connection, p, stream, std::move(linkOptions),
                                         std::move(resolver));
        if (reader == Reader::now)
            attachReader();
    }

    void attachReader()
    {
        stream->read(
            &context, [this](const RouterDriverEvent &e) { events.append(e); },
            [this] { streamEnded = true; });
    }

    // The link's last callbacks (the ended report of a cancelled connection) run on its
    // queue after it is gone; let them finish before the counters they touch go away.
    // Without this the sanitizer build caught `ended` writing into a returned test's frame.
    ~Rig()
    {
        const std::shared_ptr<SerialQueue> queue = link->queue().shared_from_this();
        link.reset();
        queue->sync([] {}); // stopped with the link: waits for its thread to end
    }

    void connect()
    {
        TcpLink *raw = link.get();
        TcpLink::Protocol protocol;
        protocol.ingest = [this, raw](const QByteArray &bytes) {
            {
                std::lock_guard lock(mutex);
                ingested += bytes;
            }
            if (onIngest)
                onIngest(*raw, bytes);
        };
        protocol.ready = [this] {
            ++readyCalls;
        };
        protocol.ended = [this] {
            ++endedCalls;
        };
        link->connect(protocol);
    }

    // Sends one command and waits for its outcome on this thread.
    DriverResult send(std::function<QByteArray()> prepare, std::function<void()> recover = {})
    {
        return TestSupport::run([&](DriverCompletion done) {
            link->sendCommand(std::move(prepare), std::move(recover), std::move(done));
        });
    }

    QByteArray received()
    {
        std::lock_guard lock(mutex);
        return ingested;
    }

    QList<Type> types() const
    {
        QList<Type> list;
        for (const auto &e : events)
            list.append(e.type);
        return list;
    }

    bool has(const RouterDriverEvent &event) const { return events.contains(event); }
};

} // namespace

class TestTcpLink : public QObject
{
    Q_OBJECT

private slots:
    void targetFromSavedRouter_data();
    void targetFromSavedRouter();
    void noAddressCreatesNothing();
    void refusingRouterWaitsThenTimesOut();
    void silentRouterNeverTripsWatchdogOnceReady();
    void dataIsParsedBeforeClose();
    void commandsNeedAReadyLink();
    void disconnectWhileConnectingDeliversNothingMore();
    void protocolFailureEndsTheLinkAndCancelsItsWork();
    void secondConnectDoesNothing();
    void serviceEndpointIsResolvedFirst();
    void failedResolutionKeepsWaiting();
    void failedSendIsRefusedAndRecoveredAlone();
    void linkFailuresMidSession_data();
    void linkFailuresMidSession();
    void fullStreamHoldsReadingBack();
    void cancelledConnectionStaysCancelled();
    void unresponsiveRouterEndsTheLink();
    void aHeldLinkHoldsNoOther();
};

void TestTcpLink::targetFromSavedRouter_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("bonjourAllowed");
    QTest::addColumn<bool>("withService");
    QTest::addColumn<bool>("withDomain");
    QTest::addColumn<quint16>("expectedPort");
    QTest::addColumn<QString>("expectedText");

    QTest::newRow("plain") << "10.0.0.5" << 9990 << false << false << false << quint16(9990)
                           << "Connecting to 10.0.0.5:9990…";
    // The text shows the port as saved; the socket gets the clamped one.
    QTest::newRow("port above range") << "hub" << 70000 << false << false << false << quint16(65535)
                                      << "Connecting to hub:70000…";
    // Used to read "Connecting to fe80::19990:9990…": the port went into the host's "%2".
    QTest::newRow("fe80::1%2") << "fe80::1%2" << 9990 << false << false << false << quint16(9990)
                               << "Connecting to fe80::1%2:9990…";
    QTest::newRow("negative port")
        << "hub" << -1 << false << false << false << quint16(0) << "Connecting to hub:-1…";
    QTest::newRow("spaces are a host")
        << "   " << 9990 << false << false << false << quint16(9990) << "Connecting to    :9990…";
    QTest::newRow("host wins over service")
        << "hub" << 1 << true << true << true << quint16(1) << "Connecting to hub:1…";
    QTest::newRow("service, default domain") << "" << 0 << true << true << false << quint16(0)
                                             << "Connecting to Studio Hub via Bonjour…";
    QTest::newRow("service, own domain")
        << "" << 0 << true << true << true << quint16(0) << "Connecting to Studio Hub via Bonjour…";
    QTest::newRow("service not allowed")
        << "" << 0 << false << true << true << quint16(0) << QString();
    QTest::newRow("no host, no service")
        << "" << 0 << true << false << false << quint16(0) << QString();
}

void TestTcpLink::targetFromSavedRouter()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, bonjourAllowed);
    QFETCH(bool, withService);
    QFETCH(bool, withDomain);
    QFETCH(quint16, expectedPort);
    QFETCH(QString, expectedText);

    RouterConnection connection = router(host, port);
    if (withService) {
        connection.bonjourName = QStringLiteral("Studio Hub");
        connection.bonjourType = QStringLiteral("_videohub._tcp");
        if (withDomain)
            connection.bonjourDomain = QStringLiteral("example.");
    }
    const auto target = TcpLink::targetFor(connection, profile(bonjourAllowed));
    if (expectedText.isEmpty()) {
        QVERIFY(!target);
        QCOMPARE(target.error(), QStringLiteral("No address."));
        return;
    }
    QVERIFY(target);
    QCOMPARE(target->statusText, expectedText);
    if (target->endpoint.service) {
        QVERIFY(host.isEmpty());
        QCOMPARE(target->endpoint.service->name, QStringLiteral("Studio Hub"));
        QCOMPARE(target->endpoint.service->type, QStringLiteral("_videohub._tcp"));
        QCOMPARE(target->endpoint.service->domain,
                 withDomain ? QStringLiteral("example.") : QStringLiteral("local."));
    } else {
        QCOMPARE(target->endpoint.address.host, host);
        QCOMPARE(target->endpoint.address.port, expectedPort);
    }
    QCOMPARE(TcpLink::watchdogText(12000ms),
             QStringLiteral("The router didn't answer within 12 seconds."));
}

void TestTcpLink::noAddressCreatesNothing()
{
    Rig rig(router(QString(), 9990));
    rig.connect();
    QTRY_COMPARE(rig.events.size(), 1);
    QCOMPARE(rig.events.first(), RouterDriverEvent::makeError(QStringLiteral("No address.")));
    QTest::qWait(50);
    QCOMPARE(rig.events.size(), 1);
    QCOMPARE(rig.link->readiness(),
             DriverResult(std::unexpected(DriverError::notConnectedError())));
}

void TestTcpLink::refusingRouterWaitsThenTimesOut()
{
    const RefusingPort refusing;
    Rig rig(router(QStringLiteral("127.0.0.1"), refusing.port()), options(400ms, 30ms));
    rig.connect();
    QTRY_VERIFY_WITH_TIMEOUT(rig.types().contains(Type::disconnected), 5000);
    QTest::qWait(60);

    // Connecting…, one waiting status per attempt, the time-out, then the plain end.
    const QList<RouterDriverEvent> &events = rig.events;
    QVERIFY(events.size() >= 5);
    QCOMPARE(events.first().type, Type::status);
    int waiting = 0;
    for (int i = 1; i < events.size() - 2; ++i) {
        QCOMPARE(events.at(i).type, Type::status);
        QVERIFY2(events.at(i).text.startsWith(QStringLiteral("Waiting for router… (")),
                 qPrintable(events.at(i).text));
        QVERIFY(events.at(i).text.endsWith(QLatin1Char(')')));
        ++waiting;
    }
    QVERIFY(waiting >= 2);
    QCOMPARE(events.at(events.size() - 2),
             RouterDriverEvent::makeError(TcpLink::watchdogText(400ms)));
    QCOMPARE(events.last(), RouterDriverEvent::makeDisconnected());
    QCOMPARE(rig.endedCalls.load(), 1);
    QCOMPARE(rig.readyCalls.load(), 0);
}

void TestTcpLink::silentRouterNeverTripsWatchdogOnceReady()
{
    FakeVideohubRouter fake;
    fake.setPreludeOverride({});
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()), options(150ms, 30ms));
    rig.connect();
    QTRY_COMPARE(rig.readyCalls.load(), 1);
    QTest::qWait(400);
    QCOMPARE(rig.types(), (QList<Type> { Type::status, Type::status }));
    QCOMPARE(rig.events.last().text, QStringLiteral("Ready…"));
    QVERIFY(rig.link->readiness());
}

void TestTcpLink::dataIsParsedBeforeClose()
{
    FakeVideohubRouter fake;
    const QByteArray payload = QByteArray(200000, 'x') + "tail";
    fake.setPreludeOverride(payload);
    fake.setCloseAfter(payload.size() - 1); // everything but the last byte, then close
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()));
    std::atomic_int eventsAtIngest { -1 };
    rig.connect();
    QTRY_VERIFY(rig.types().contains(Type::disconnected));
    QTest::qWait(50);
    QCOMPARE(rig.received(), payload.left(payload.size() - 1));
    const QList<RouterDriverEvent> tail = rig.events.mid(rig.events.size() - 2);
    QCOMPARE(tail,
             (QList<RouterDriverEvent> { RouterDriverEvent::makeDisconnected(
                                             QStringLiteral("The router closed the connection.")),
                                         RouterDriverEvent::makeDisconnected() }));
    QCOMPARE(rig.endedCalls.load(), 1);

    // Nothing can be sent on a link that ended, and nothing is prepared for it.
    int prepared = 0;
    QCOMPARE(rig.send([&] {
        ++prepared;
        return QByteArray("ROUTE\n\n");
    }),
             DriverResult(std::unexpected(DriverError::notConnectedError())));
    QCOMPARE(prepared, 0);
    Q_UNUSED(eventsAtIngest)
}

void TestTcpLink::commandsNeedAReadyLink()
{
    FakeVideohubRouter fake;
    fake.setPreludeOverride({});
    fake.setReply(FakeVideohubRouter::Reply::silent);
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()));

    auto send = [&](const QByteArray &bytes) {
        return rig.send([bytes] { return bytes; });
    };
    QCOMPARE(send("EARLY\n\n"), DriverResult(std::unexpected(DriverError::notConnectedError())));
    rig.connect();
    QTRY_COMPARE(rig.readyCalls.load(), 1);
    QVERIFY(send("ONE\n1 2\n\n"));
    rig.link->queue().sync([&] { rig.link->write("TWO\n\n"); });
    QTRY_COMPARE(fake.blocks().size(), 2);
    QCOMPARE(fake.received(), QByteArray("ONE\n1 2\n\nTWO\n\n"));
    QVERIFY(!rig.types().contains(Type::commandRefused));
}

void TestTcpLink::disconnectWhileConnectingDeliversNothingMore()
{
    const RefusingPort refusing;
    Rig rig(router(QStringLiteral("127.0.0.1"), refusing.port()), options(150ms, 20ms));
    rig.connect();
    QTRY_VERIFY(!rig.events.isEmpty());
    rig.link->disconnect();
    QTRY_VERIFY(rig.streamEnded); // what was emitted before the call may still arrive
    const qsizetype seen = rig.events.size();
    QTest::qWait(300); // past the watchdog
    QCOMPARE(rig.events.size(), seen);
    for (const RouterDriverEvent &event : std::as_const(rig.events))
        QCOMPARE(event.type, Type::status);
    QTRY_COMPARE(rig.endedCalls.load(), 1);
    rig.link->disconnect(); // a second one changes nothing
    QTest::qWait(20);
    QCOMPARE(rig.endedCalls.load(), 1);
}

void TestTcpLink::protocolFailureEndsTheLinkAndCancelsItsWork()
{
    FakeVideohubRouter fake;
    fake.setPreludeOverride("garbage");
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()));
    std::atomic_int lateWork { 0 };
    rig.onIngest = [&](TcpLink &link, const QByteArray &) {
        link.schedule(30ms, [&] { ++lateWork; });
        link.fail(QStringLiteral("Bad input."));
        link.emitEvent(RouterDriverEvent::makeStatus(QStringLiteral("after the end")));
    };
    rig.connect();
    QTRY_VERIFY(rig.types().contains(Type::disconnected));
    QTest::qWait(100);
    QCOMPARE(lateWork.load(), 0);
    QCOMPARE(rig.endedCalls.load(), 1);
    const qsizetype failure = rig.events.indexOf(RouterDriverEvent::makeError("Bad input."));
    QVERIFY(failure > 0);
    QCOMPARE(rig.events.value(failure + 1), RouterDriverEvent::makeDisconnected());
    // Work scheduled after the end is refused outright.
    QVERIFY(!rig.link->schedule(0ms, [&] { ++lateWork; }).isPending());
    QTRY_VERIFY(fake.clientCount() == 0);
}

void TestTcpLink::secondConnectDoesNothing()
{
    FakeVideohubRouter fake;
    fake.setPreludeOverride({});
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()));
    rig.connect();
    rig.connect();
    QTRY_COMPARE(rig.readyCalls.load(), 1);
    QTest::qWait(50);
    QCOMPARE(fake.acceptedCount(), 1);
    QCOMPARE(rig.types(), (QList<Type> { Type::status, Type::status }));
}

void TestTcpLink::serviceEndpointIsResolvedFirst()
{
    FakeVideohubRouter fake;
    fake.setPreludeOverride("hello");
    const quint16 port = fake.port();
    std::atomic_int resolutions { 0 };
    ServiceResolver resolver = [&, port](const ServiceEndpoint &service, auto done) {
        ++resolutions;
        if (service.name == QStringLiteral("Hub") && service.domain == QStringLiteral("local."))
            done(HostPort { QStringLiteral("127.0.0.1"), port });
        else
            done(std::unexpected(QStringLiteral("unknown service")));
    };
    RouterConnection connection = router(QString(), 0);
    connection.bonjourName = QStringLiteral("Hub");
    connection.bonjourType = QStringLiteral("_videohub._tcp");
    Rig rig(connection, options(20000ms, 30ms), profile(true), resolver);
    rig.connect();
    QTRY_COMPARE(rig.received(), QByteArray("hello"));
    QCOMPARE(rig.events.first().text, QStringLiteral("Connecting to Hub via Bonjour…"));
    QCOMPARE(resolutions.load(), 1);
}

void TestTcpLink::failedResolutionKeepsWaiting()
{
    ServiceResolver resolver = [](const ServiceEndpoint &, auto done) {
        done(std::unexpected(QStringLiteral("no such service")));
    };
    RouterConnection connection = router(QString(), 0);
    connection.bonjourName = QStringLiteral("Gone");
    connection.bonjourType = QStringLiteral("_videohub._tcp");
    Rig rig(connection, options(300ms, 40ms), profile(true), resolver);
    rig.connect();
    QTRY_VERIFY(rig.types().contains(Type::disconnected));
    QVERIFY(rig.has(
        RouterDriverEvent::makeStatus(QStringLiteral("Waiting for router… (no such service)"))));
    QVERIFY(rig.has(RouterDriverEvent::makeError(TcpLink::watchdogText(300ms))));
}

void TestTcpLink::failedSendIsRefusedAndRecoveredAlone()
{
    FaultySockets sockets;
    FakeVideohubRouter fake;
    fake.setPreludeOverride({});
    fake.setReply(FakeVideohubRouter::Reply::silent);
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()),
            options(20000ms, 40ms, sockets.factory()));
    rig.connect();
    QTRY_COMPARE(rig.readyCalls.load(), 1);

    // Used to recover "the newest N takes": a take sent in between was recovered instead.
    QStringList recovered;
    auto send = [&](const QByteArray &bytes) {
        return rig.send([bytes] { return bytes; },
                        [&recovered, bytes] {
                            recovered.append(
                                QString::fromLatin1(bytes)); // on the queue; read after sync
                        });
    };
    sockets.refuseWrites(1, "TWO");
    QVERIFY(send("ONE\n\n"));
    QVERIFY(send("TWO\n\n")); // handed to a ready link: its failure is reported, not thrown
    QVERIFY(send("THREE\n\n"));
    QTRY_COMPARE(fake.blocks().size(), 2);
    rig.link->queue().sync([] {});
    QCOMPARE(recovered, QStringList { QStringLiteral("TWO\n\n") });
    QCOMPARE(fake.received(), QByteArray("ONE\n\nTHREE\n\n"));
    QTRY_VERIFY(rig.types().contains(Type::commandRefused));
    QCOMPARE(rig.events.last(),
             RouterDriverEvent::makeCommandRefused(
                 QStringLiteral("Couldn't send the command: Broken pipe")));
    QVERIFY(rig.link->readiness()); // the link stays up
}

void TestTcpLink::linkFailuresMidSession_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<QList<RouterDriverEvent>>("ending");
    // A router that crashes resets the connection. Qt reports that like an orderly close,
    // which used to read "The router closed the connection.".
    QTest::newRow("reset by peer") << true
                                   << QList { RouterDriverEvent::makeError(QStringLiteral(
                                                  "Receive failed: Connection reset by peer")),
                                              RouterDriverEvent::makeDisconnected() };
    QTest::newRow("network failure")
        << false
        << QList { RouterDriverEvent::makeError(QStringLiteral("Receive failed: Network is down")),
                   RouterDriverEvent::makeDisconnected() };
}

void TestTcpLink::linkFailuresMidSession()
{
    QFETCH(bool, reset);
    QFETCH(QList<RouterDriverEvent>, ending);
    FaultySockets sockets;
    FakeVideohubRouter fake;
    fake.setPreludeOverride("hello");
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()),
            options(20000ms, 40ms, sockets.factory()));
    rig.connect();
    QTRY_COMPARE(rig.received(), QByteArray("hello"));
    if (reset)
        fake.resetClients();
    else
        sockets.breakLinks(rig.link->queue());
    QTRY_VERIFY(rig.events.size() >= 2 && rig.events.mid(rig.events.size() - 2) == ending);
    QCOMPARE(rig.endedCalls.load(), 1);
    QVERIFY(!rig.link->readiness());
}

void TestTcpLink::fullStreamHoldsReadingBack()
{
    // The connection used to read whatever the peer sent into one buffer without limit.
    FaultySockets sockets;
    FakeVideohubRouter fake;
    QByteArray payload;
    for (int i = 0; payload.size() < 4 * 1024 * 1024; ++i)
        payload += QByteArray::number(i) + ' ';
    fake.setPreludeOverride(payload);
    Rig rig(router(QStringLiteral("127.0.0.1"), fake.port()),
            options(20000ms, 40ms, sockets.factory()), profile(), {}, 1, Rig::Reader::later);
    rig.onIngest = [](TcpLink &link, const QByteArray &) {
        link.emitEvent(RouterDriverEvent::makeStatus(QStringLiteral("chunk")));
    };
    rig.connect();
    QTRY_COMPARE(rig.readyCalls.load(), 1);
    QTest::qWait(200);
    // Nobody reads the events: one chunk was taken, the rest waits in the kernel.
    QVERIFY(!rig.received().isEmpty());
    QVERIFY2(rig.received().size() <= 65536, QByteArray::number(rig.received().size()));
    qint64 buffered = 0;
    rig.link->queue().sync([&] { buffered = rig.link->bufferedBytes(); });
    QVERIFY2(buffered <= TcpConnection::maxBufferedBytes, QByteArray::number(buffered));

    // A reader that catches up lets everything through, in order.
    rig.attachReader();
    QTRY_COMPARE_WITH_TIMEOUT(rig.received().size(), payload.size(), 20000);
    QCOMPARE(rig.received(), payload);

    // A link that breaks while reading is held back fails as a connection.
    Rig held(router(QStringLiteral("127.0.0.1"), fake.port()),
             options(20000ms, 40ms, sockets.factory()), profile(), {}, 1, Rig::Reader::later);
    held.onIngest = rig.onIngest;
    held.connect();
    QTRY_VERIFY(!held.received().isEmpty());
    sockets.breakLinks(held.link->queue());
    QTRY_COMPARE(held.endedCalls.load(), 1);
    held.attachReader();
    QTRY_VERIFY(held.has(
        RouterDriverEvent::makeError(QStringLiteral("Connection failed: Network is down"))));
    QTest::qWait(20);
    QCOMPARE(held.events.last().type, Type::error);
    QVERIFY(!held.types().contains(Type::disconnected)); // the driver does not cancel it
}

void TestTcpLink::cancelledConnectionStaysCancelled()
{
    // A cancel() between the state's load and its store used to be overwritten by `ready`:
    // the connection then looked usable again and its ready handler ran after the end.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket *socket = server.nextPendingConnection())
            socket->setParent(&server);
    });
    const auto owned = SerialQueue::create(QStringLiteral("test.link"));
    SerialQueue &queue = *owned;
    for (int round = 0; round < 100; ++round) {
        TcpConnection::Endpoint endpoint;
        endpoint.address = { QStringLiteral("127.0.0.1"), server.serverPort() };
        auto connection = TcpConnection::create(endpoint);
        auto seen = std::make_shared<std::vector<TcpConnection::State>>();
        connection->setStateHandler(
            [seen](TcpConnection::State state, const QString &) { seen->push_back(state); });
        connection->start(queue);
        for (int spin = 0; spin < round * 50; ++spin)
            std::atomic_signal_fence(std::memory_order_seq_cst);
        connection->cancel();
        QCOMPARE(connection->state(), TcpConnection::State::cancelled);
        QCoreApplication::processEvents();
        queue.sync([] {});
        queue.sync([] {});
        QCOMPARE(connection->state(), TcpConnection::State::cancelled);
        if (!seen->empty()) // never started: nobody to tell
            QCOMPARE(seen->back(), TcpConnection::State::cancelled);
    }
}

void TestTcpLink::unresponsiveRouterEndsTheLink()
{
    // Ten answers 150 ms apart outlast the limit, which runs from the last answer; only then
    // does a router that reads nothing of what we write end the link.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket *peer = nullptr;
    int asked = 0;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer,
                         [&] { asked += int(peer->readAll().count('\n')); });
    });
    QTimer answers;
    QObject::connect(&answers, &QTimer::timeout, &server, [&] {
        if (asked > 0 && asked--)
            peer->write("ok\n");
    });
    answers.start(150);
    TcpLink::Options o = options(20000ms, 40ms);
    o.answerLimit = 1000ms;
    Rig rig(router(QStringLiteral("127.0.0.1"), server.serverPort()), o);
    rig.onIngest = [](TcpLink &link, const QByteArray &bytes) {
        for (qsizetype i = bytes.count("ok\n"); i > 0; --i)
            link.answered();
    };
    rig.connect();
    QTRY_COMPARE(rig.readyCalls.load(), 1);
    for (int i = 0; i < 10; ++i)
        QVERIFY(rig.send([] { return QByteArray("take\n"); }));
    QTRY_COMPARE_WITH_TIMEOUT(rig.received().count("ok\n"), 10, 10000);

    peer->disconnect();
    peer->setReadBufferSize(1); // the rest piles up in the kernel, then in our socket
    rig.link->write(QByteArray(32 * 1024 * 1024, 'x'));
    QTRY_VERIFY_WITH_TIMEOUT(rig.events.size() == 5, 10000);
    QCOMPARE(rig.events.mid(2, 2),
             (QList { RouterDriverEvent::makeError(TcpLink::unreadText(1000ms)),
                      RouterDriverEvent::makeDisconnected(
                          QStringLiteral("The router stopped answering.")) }));
}

// The links of a class used to share one queue, and the UI thread waited on it for every
// command: one router's long parse held every other router's takes, and the UI with them.
void TestTcpLink::aHeldLinkHoldsNoOther()
{
    QCoreApplication::processEvents(); // threads of links that ended are counted off
    const int threadsBefore = SerialQueue::threadCount();
    {
        FakeVideohubRouter fakeA;
        FakeVideohubRouter fakeB;
        Rig a(router(QStringLiteral("127.0.0.1"), fakeA.port()));
        Rig b(router(QStringLiteral("127.0.0.1"), fakeB.port()));
        a.connect();
        b.connect();
        QTRY_VERIFY(a.readyCalls.load() == 1 && b.readyCalls.load() == 1);
        QCOMPARE(SerialQueue::threadCount(), threadsBefore + 2);

        QSemaphore held;
        a.link->queue().async([&] { held.acquire(); });
        std::optional<DriverResult> outcome;
        a.link->sendCommand([] { return QByteArray("A\n\n"); }, {},
                            [&](DriverResult result) { outcome = result; });
        QVERIFY(b.send([] { return QByteArray("B\n\n"); }));
        QTRY_COMPARE(fakeB.blocks(), QList<QByteArray> { "B" });
        QVERIFY(!outcome && fakeA.blocks().isEmpty());
        held.release();
        QTRY_VERIFY(outcome && *outcome);
        QTRY_COMPARE(fakeA.blocks(), QList<QByteArray> { "A" });
    }
    // A dropped link's thread ends with it.
    QTRY_COMPARE(SerialQueue::threadCount(), threadsBefore);
}

QTEST_GUILESS_MAIN(TestTcpLink)
#include "tst_tcplink.moc"

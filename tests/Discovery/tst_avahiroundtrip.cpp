#include "Controllers/RouterDiscovery.h"
#include "Drivers/VideohubDriver.h"
#include "FakeVideohubRouter.h"
#include "Platform/SerialQueue.h"
#include "Platform/TcpConnection.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTcpServer>
#include <QtTest>

// Runs only inside the private namespace that avahi_roundtrip.sh builds: there the system bus
// is a private one and the only network is loopback.
class tst_AvahiRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void publishedServiceIsListedAndResolved();
    void connectionToAServiceEndpointReachesTheRouter();
    void videohubDriverConnectsThroughItsBonjourService();

private:
    // Publishes a service until cleanup(); avahi-publish keeps it registered while it runs.
    void publish(const QString &name, const QString &type, quint16 port);

    QList<QProcess *> m_publishers;
};

void tst_AvahiRoundTrip::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("QUORVEL_MDNS_NAMESPACE"))
        QSKIP("needs the private mDNS namespace of avahi_roundtrip.sh");
}

void tst_AvahiRoundTrip::cleanup()
{
    for (QProcess *p : std::as_const(m_publishers)) {
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(1000);
        delete p;
    }
    m_publishers.clear();
}

void tst_AvahiRoundTrip::publish(const QString &name, const QString &type, quint16 port)
{
    auto *p = new QProcess;
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start(QStringLiteral("avahi-publish"),
             { QStringLiteral("-s"), name, type, QString::number(port) });
    QVERIFY2(p->waitForStarted(3000), "avahi-publish did not start");
    m_publishers.append(p);
}

void tst_AvahiRoundTrip::publishedServiceIsListedAndResolved()
{
    QTcpServer router;
    QVERIFY(router.listen(QHostAddress::LocalHost, 0));
    int accepted = 0;
    connect(&router, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *s = router.nextPendingConnection()) {
            ++accepted;
            s->deleteLater();
        }
    });

    publish(QStringLiteral("Studio Hub"), QStringLiteral("_videohub._tcp"), router.serverPort());
    publish(QStringLiteral("edit bay"), QStringLiteral("_blackmagic._tcp"), router.serverPort());

    RouterDiscovery discovery;
    discovery.start();
    QTRY_COMPARE_WITH_TIMEOUT(discovery.devices().size(), 2, 15000);
    QVERIFY(!discovery.browseError().has_value());
    const auto devices = discovery.devices();
    QCOMPARE(devices[0].serviceName, QStringLiteral("edit bay"));
    QCOMPARE(devices[0].type, QStringLiteral("_blackmagic._tcp"));
    QCOMPARE(devices[1].serviceName, QStringLiteral("Studio Hub"));
    QCOMPARE(devices[1].type, QStringLiteral("_videohub._tcp"));
    QVERIFY(!devices[1].domain.isEmpty());

    std::optional<RouterDiscovery::Endpoint> endpoint;
    int calls = 0;
    RouterDiscovery::resolve(devices[1], 5.0, this,
                             [&](std::optional<RouterDiscovery::Endpoint> e) {
                                 ++calls;
                                 endpoint = e;
                             });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 8000);
    QVERIFY(endpoint.has_value());
    QCOMPARE(endpoint->host, QStringLiteral("127.0.0.1"));
    QCOMPARE(endpoint->port, int(router.serverPort()));
    QTRY_COMPARE(accepted, 1); // resolution opened one connection and sent nothing

    // A service that goes away leaves the list.
    cleanup();
    QTRY_COMPARE_WITH_TIMEOUT(discovery.devices().size(), 0, 15000);

    // An unknown service is not resolved: nothing within the time-out, exactly once.
    calls = 0;
    endpoint = RouterDiscovery::Endpoint {};
    RouterDiscovery::resolve(
        { QStringLiteral("Nobody"), QStringLiteral("_videohub._tcp"), QStringLiteral("local") },
        2.0, this, [&](std::optional<RouterDiscovery::Endpoint> e) {
            ++calls;
            endpoint = e;
        });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 5000);
    QVERIFY(!endpoint.has_value());
    discovery.stop();
}

void tst_AvahiRoundTrip::connectionToAServiceEndpointReachesTheRouter()
{
    FakeVideohubRouter router;
    publish(QStringLiteral("Rack Hub"), QStringLiteral("_videohub._tcp"), router.port());

    // The connection resolves through the daemon by default; the domain is the usual
    // "local." a saved router carries.
    TcpConnection::Endpoint endpoint;
    endpoint.service
        = ServiceEndpoint { QStringLiteral("Rack Hub"), QStringLiteral("_videohub._tcp") };
    auto connection = TcpConnection::create(endpoint);
    std::atomic<bool> ready = false;
    connection->setStateHandler([&](TcpConnection::State state, const QString &) {
        if (state == TcpConnection::State::ready)
            ready = true;
    });
    std::mutex mutex;
    QByteArray received;
    connection->receive(1, 65536, [&](const QByteArray &content, bool, const auto &) {
        std::lock_guard lock(mutex);
        received += content;
    });
    connection->start(*SerialQueue::create(QStringLiteral("mdns.roundtrip")));
    QTRY_VERIFY_WITH_TIMEOUT(ready.load(), 20000);
    const auto remote = connection->remoteEndpoint();
    QVERIFY(remote.has_value());
    QCOMPARE(remote->host, QStringLiteral("127.0.0.1"));
    QCOMPARE(remote->port, router.port());
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 std::lock_guard lock(mutex);
                                 return received.contains("VIDEOHUB DEVICE:");
                             }()),
                             5000);
    connection->cancel();
}

void tst_AvahiRoundTrip::videohubDriverConnectsThroughItsBonjourService()
{
    FakeVideohubRouter router;
    publish(QStringLiteral("Machine Room"), QStringLiteral("_videohub._tcp"), router.port());

    // Saved from discovery: no host, the service's name and type, no domain ("local.").
    RouterConnection saved;
    saved.name = QStringLiteral("Machine Room");
    saved.vendor = RouterVendor::blackmagicVideohub;
    saved.bonjourName = QStringLiteral("Machine Room");
    saved.bonjourType = QStringLiteral("_videohub._tcp");
    const RouterDriverPtr driver = DriverFactory::makeDriver(saved);
    TestSupport::EventRecorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.types().contains(RouterDriverEvent::Type::connected), 20000);
    QVERIFY(!recorder.events.isEmpty());
    QCOMPARE(recorder.events.first().type, RouterDriverEvent::Type::status);
    QCOMPARE(recorder.events.first().text,
             QStringLiteral("Connecting to Machine Room via Bonjour…"));
    QCOMPARE(router.acceptedCount(), 1);

    // A route taken through the resolved link reaches the router.
    QVERIFY(TestSupport::run([&](DriverCompletion done) {
        driver->takeAll({ Route { 0, 3, 5 } }, std::move(done));
    }));
    QTRY_VERIFY(router.received().contains("VIDEO OUTPUT ROUTING:\n3 5\n\n"));
    driver->disconnect();
}

QTEST_GUILESS_MAIN(tst_AvahiRoundTrip)
#include "tst_avahiroundtrip.moc"

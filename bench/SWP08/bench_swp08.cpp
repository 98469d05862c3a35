#include "Drivers/QuartzDriver.h"
#include "Drivers/QuartzParser.h"
#include "Drivers/SWP08Driver.h"
#include "Drivers/SWP08Parser.h"

#include "FakeQuartzRouter.h"
#include "FakeSWP08Router.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

// Goals: decoding 1,024 tallies well under 1 ms; `connected` for 1,024 destinations on
// loopback within the 1.0 s debounce plus 50 ms, with the interrogation in batched writes.
namespace {

constexpr int kPorts = 1024;

RouterConnection router(RouterVendor vendor, quint16 port = 0)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Bench");
    connection.vendor = vendor;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = port;
    connection.simSourceCount = kPorts;
    connection.simDestinationCount = kPorts;
    return connection;
}

template<typename Driver, typename Fake> void measureConnect(Fake &fake, RouterVendor vendor)
{
    typename Driver::Timing timing; // production debounce and checks
    auto driver = std::make_shared<Driver>(router(vendor, fake.port()), timing);
    QObject context;
    QEventLoop loop; // not qWaitFor: its sleeps would delay the fake, which shares this thread
    QElapsedTimer clock;
    qint64 readyAt = -1;
    qint64 connectedAt = -1;
    int routes = 0;
    driver->events()->read(&context, [&](const RouterDriverEvent &event) {
        if (event.type == RouterDriverEvent::status && event.text.startsWith(u"Interrogating"))
            readyAt = clock.elapsed();
        if (event.type == RouterDriverEvent::connected) {
            connectedAt = clock.elapsed();
            routes = int(event.state.routing.value(0).size());
            loop.quit();
        }
    });
    clock.start();
    driver->connect();
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    QVERIFY(connectedAt >= 0);
    const qint64 beyond = connectedAt - readyAt - qint64(timing.debounce.count());
    qInfo("link ready after %lld ms; connected %lld ms after ready, %lld ms beyond the "
          "debounce; the router saw %d reads",
          readyAt, connectedAt - readyAt, beyond, fake.readChunks);
    QCOMPARE(routes, kPorts);
    driver->disconnect();
}

} // namespace

class BenchSWP08 : public QObject
{
    Q_OBJECT

private slots:
    void decode1024Tallies();
    void decode1024QuartzAnswers();
    void swp08TimeToConnected();
    void quartzTimeToConnected();
};

void BenchSWP08::decode1024Tallies()
{
    QByteArray wire;
    for (int d = 0; d < kPorts; ++d)
        wire.append(FakeSWP08Router::tally(0, d, (d * 7) % kPorts));
    int routes = 0;
    QBENCHMARK
    {
        SWP08Parser parser(router(RouterVendor::rossUltrix),
                           { [&](const RouterDriverEvent &) { ++routes; },
                             [](const QByteArray &) {},
                             [](SWP08Parser::Timer) {
                             } });
        parser.ingest(wire);
        parser.finalize();
    }
    QVERIFY(routes > 0);
}

void BenchSWP08::decode1024QuartzAnswers()
{
    QByteArray wire;
    for (int d = 1; d <= kPorts; ++d)
        wire.append(".AV" + QByteArray::number(d) + ',' + QByteArray::number((d * 7) % kPorts + 1)
                    + "\r\n");
    int routes = 0;
    QBENCHMARK
    {
        QuartzParser parser(router(RouterVendor::evertzQuartz),
                            { [&](const RouterDriverEvent &) { ++routes; },
                              [](const QByteArray &) {},
                              [](QuartzParser::Timer) {
                              } });
        parser.ingest(wire);
        parser.finalize();
    }
    QVERIFY(routes > 0);
}

void BenchSWP08::swp08TimeToConnected()
{
    FakeSWP08Router fake(kPorts, kPorts);
    QBENCHMARK_ONCE
    {
        measureConnect<SWP08Driver>(fake, RouterVendor::genericSWP08);
    }
}

void BenchSWP08::quartzTimeToConnected()
{
    FakeQuartzRouter fake(kPorts, kPorts);
    QBENCHMARK_ONCE
    {
        measureConnect<QuartzDriver>(fake, RouterVendor::evertzQuartz);
    }
}

QTEST_GUILESS_MAIN(BenchSWP08)
#include "bench_swp08.moc"

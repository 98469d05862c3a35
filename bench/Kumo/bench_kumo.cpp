#include "Drivers/KumoDriver.h"

#include "FakeKumoServer.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QtTest>

// Connect against the fake for a 64×64 router: 194 sequential requests. The figure to watch
// is the time per request, which should be the loopback round trip and nothing more.
class BenchKumo : public QObject
{
    Q_OBJECT

private slots:
    void connect64x64()
    {
        FakeKumoServer server;
        QVERIFY(server.listen());
        server.populate(64, 64);
        RouterConnection connection;
        connection.vendor = RouterVendor::ajaKumo;
        connection.host = QStringLiteral("127.0.0.1");
        connection.port = server.port();
        qint64 totalNs = 0;
        int runs = 0;
        QBENCHMARK
        {
            server.clearLog();
            auto driver = std::make_shared<KumoDriver>(connection);
            TestSupport::EventRecorder recorder;
            recorder.attach(driver);
            QElapsedTimer clock;
            clock.start();
            // A real event loop: QTest::qWaitFor sleeps between its polls and would add
            // its own gaps.
            QEventLoop loop;
            driver->connect([&] { loop.quit(); });
            loop.exec();
            totalNs += clock.nsecsElapsed();
            ++runs;
            QCOMPARE(server.log().size(), 2 + 3 * 64);
            driver->disconnect();
        }
        qInfo("%d requests per connect, %.1f µs per request", 2 + 3 * 64,
              double(totalNs) / runs / (2 + 3 * 64) / 1000.0);
    }
};

QTEST_MAIN(BenchKumo)
#include "bench_kumo.moc"

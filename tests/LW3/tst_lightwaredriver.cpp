#include "Drivers/LightwareDriver.h"

#include "FakeLW3Router.h"
#include "SocketFaults.h"
#include "TestSupport.h"

#include <QtTest>

using TestSupport::run;
using Recorder = TestSupport::EventRecorder;
using namespace std::chrono_literals;

namespace {

RouterConnection lightwareAt(quint16 port)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Stage Matrix");
    connection.vendor = RouterVendor::lightware;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = port;
    return connection;
}

LightwareDriver::Timing fast()
{
    LightwareDriver::Timing timing;
    timing.link.watchdog = 3000ms;
    timing.parser = { 20ms, 40ms };
    return timing;
}

struct Rig
{
    FakeLW3Router router { 4, 4 };
    RouterDriverPtr driver;
    Recorder recorder;

    explicit Rig(bool throughFactory = false, LightwareDriver::Timing timing = fast())
    {
        router.listen();
        driver = throughFactory
            ? DriverFactory::makeDriver(lightwareAt(router.port()))
            : std::make_shared<LightwareDriver>(lightwareAt(router.port()), timing);
        recorder.attach(driver);
    }
    bool has(RouterDriverEvent::Type type) const { return recorder.types().contains(type); }
    bool connectAndWait()
    {
        driver->connect();
        return QTest::qWaitFor([this] { return has(RouterDriverEvent::connected); }, 5000);
    }
    // Status queries are sent by now too, so CHG lines follow every change.
    bool settle()
    {
        return QTest::qWaitFor(
            [this] { return router.log().contains("OPEN /MEDIA/PORTS/VIDEO/I4/STATUS"); }, 5000);
    }
    QStringList signedLines() const
    {
        QStringList lines;
        for (const QString &line : router.log())
            if (line.size() > 4 && line[4] == QLatin1Char('#'))
                lines.append(line);
        return lines;
    }
};

} // namespace

class TestLightwareDriver : public QObject
{
    Q_OBJECT

private slots:
    void cleansNames_data();
    void cleansNames();
    void connectReadsTheRouter();
    void takeThroughFactorySignsEachRoute();
    void lockAndUnlockLines();
    void renameThroughFactoryUsesReportedPrefix();
    void refusedTakeIsReportedAndResynced();
    void failedSendIsReportedAndResynced();
    void commandsBeforeReadyConsumeNoSignature();
    void endlessLineEndsTheLink();
    void disconnectBeforeQuietReportsNothingMore();
};

void TestLightwareDriver::cleansNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("semicolon") << "A;B"
                               << "A,B";
    QTest::newRow("line breaks") << "A\r\nB\nC"
                                 << "A  B C";
    QTest::newRow("untrimmed") << " A "
                               << " A ";
}

void TestLightwareDriver::cleansNames()
{
    QFETCH(QString, name);
    QFETCH(QString, cleaned);
    QCOMPARE(LightwareDriver::cleanName(name), cleaned);
}

void TestLightwareDriver::connectReadsTheRouter()
{
    Rig rig;
    rig.router.locked.insert(2);
    QVERIFY(rig.connectAndWait());
    const QList<RouterDriverEvent> &events = rig.recorder.events;
    QCOMPARE(events.value(0),
             RouterDriverEvent::makeStatus(
                 QStringLiteral("Connecting to 127.0.0.1:%1…").arg(rig.router.port())));
    QVERIFY(events.contains(RouterDriverEvent::makeStatus("Reading router state…")));
    RouterState state;
    for (const auto &e : events)
        if (e.type == RouterDriverEvent::connected)
            state = e.state;
    QCOMPARE(state.model, QStringLiteral("MX2-8x8-HDMI20"));
    QCOMPARE(state.sources.size(), 4);
    QCOMPARE(state.destinations.value(3).label, QStringLiteral("Output 4"));
    QCOMPARE(state.routing.value(0), (LevelRouting { { 0, 0 }, { 1, 1 }, { 2, 2 }, { 3, 3 } }));
    QCOMPARE(state.lockedDestinations, QSet<int> { 2 });
    QCOMPARE(
        rig.router.log().mid(0, 3),
        (QStringList { "GET /.ProductName", "GET /MEDIA/NAMES/VIDEO.*", "GET /MEDIA/XP/VIDEO.*" }));
    QVERIFY(rig.settle());
    QVERIFY(rig.router.allLinesEndWithCrLf());
    rig.driver->disconnect();
}

void TestLightwareDriver::takeThroughFactorySignsEachRoute()
{
    Rig rig(true);
    QVERIFY(dynamic_cast<LightwareDriver *>(rig.driver.get()));
    QVERIFY(rig.connectAndWait());
    QVERIFY(rig.settle());
    rig.recorder.events.clear();
    QVERIFY(run([&](DriverCompletion d) {
        rig.driver->takeAll({ Route { 0, 3, 0 }, Route { 0, 1, 2 } }, d);
    }));
    QTRY_COMPARE(rig.signedLines(),
                 (QStringList { "0001#CALL /MEDIA/XP/VIDEO:switch(I1:O4)",
                                "0002#CALL /MEDIA/XP/VIDEO:switch(I3:O2)" }));
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 1, 2)));
    QVERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 3, 0)));
    QVERIFY(!rig.has(RouterDriverEvent::commandRefused));
    rig.driver->disconnect();
}

void TestLightwareDriver::lockAndUnlockLines()
{
    Rig rig;
    QVERIFY(rig.connectAndWait());
    QVERIFY(rig.settle());
    QVERIFY(run([&](DriverCompletion d) { rig.driver->setLock(3, 0, true, d); }));
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeLockChanged(3, true)));
    QVERIFY(run([&](DriverCompletion d) { rig.driver->setLock(3, 0, false, d); }));
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeLockChanged(3, false)));
    QCOMPARE(rig.signedLines(),
             (QStringList { "0001#CALL /MEDIA/XP/VIDEO:lockDestination(O4)",
                            "0002#CALL /MEDIA/XP/VIDEO:unlockDestination(O4)" }));
    rig.driver->disconnect();
}

void TestLightwareDriver::renameThroughFactoryUsesReportedPrefix()
{
    Rig rig(true);
    rig.router.inputNames[2] = QStringLiteral("7;Camera");
    QVERIFY(rig.connectAndWait());
    QVERIFY(rig.settle());
    rig.recorder.events.clear();
    QVERIFY(
        run([&](DriverCompletion d) { rig.driver->setLabel("A;B\nC", 2, PortKind::source, d); }));
    QTRY_COMPARE(rig.signedLines(), QStringList { "0001#SET /MEDIA/NAMES/VIDEO.I3=7;A,B C" });
    QTRY_VERIFY(rig.recorder.events.contains(
        RouterDriverEvent::makeLabelChanged(PortKind::source, 2, "A,B C")));
    rig.driver->disconnect();
}

void TestLightwareDriver::refusedTakeIsReportedAndResynced()
{
    Rig rig;
    rig.router.locked.insert(1);
    QVERIFY(rig.connectAndWait());
    QVERIFY(rig.settle());
    rig.recorder.events.clear();
    rig.router.clearLog();
    QVERIFY(run([&](DriverCompletion d) { rig.driver->take(3, 1, 0, d); }));
    QTRY_VERIFY(rig.has(RouterDriverEvent::commandRefused));
    QVERIFY(rig.recorder.events.contains(RouterDriverEvent::makeCommandRefused(
        "Route refused: Destination is locked. Output 2 shows what the router reports.")));
    // The resync reports the lists in full, which puts back what the router kept.
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 1, 1)));
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeLockChanged(1, true)));
    QVERIFY(rig.router.log().contains("GET /MEDIA/XP/VIDEO.*"));
    rig.driver->disconnect();
}

void TestLightwareDriver::failedSendIsReportedAndResynced()
{
    FaultySockets sockets;
    LightwareDriver::Timing timing = fast();
    timing.link.makeSocket = sockets.factory();
    Rig rig(false, timing);
    QVERIFY(rig.connectAndWait());
    QVERIFY(rig.settle());
    rig.recorder.events.clear();
    rig.router.clearLog();
    sockets.refuseWrites(1, "switch(I4:O2)");
    QVERIFY(run([&](DriverCompletion d) { rig.driver->take(3, 1, 0, d); }));
    QTRY_VERIFY(rig.has(RouterDriverEvent::commandRefused));
    QVERIFY(rig.recorder.events.contains(
        RouterDriverEvent::makeCommandRefused("Couldn't send the command: Broken pipe")));
    // The lists come back in full and put back what the router holds.
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 1, 1)));
    QTRY_COMPARE(rig.router.log(), QStringList { "GET /MEDIA/XP/VIDEO.*" });
    // The signature was written (and stays pending): the next command carries the next one.
    QVERIFY(run([&](DriverCompletion d) { rig.driver->take(2, 1, 0, d); }));
    QTRY_COMPARE(rig.signedLines(), QStringList { "0002#CALL /MEDIA/XP/VIDEO:switch(I3:O2)" });
    rig.driver->disconnect();
}

void TestLightwareDriver::commandsBeforeReadyConsumeNoSignature()
{
    Rig rig;
    const DriverResult notConnected = std::unexpected(DriverError::notConnectedError());
    QCOMPARE(run([&](DriverCompletion d) {
                 rig.driver->takeAll({ Route { 0, 3, 0 } }, d);
             }),
             notConnected);
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->setLock(0, 0, true, d); }), notConnected);
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->setLabel("X", 0, PortKind::source, d); }),
             notConnected);
    QVERIFY(rig.connectAndWait());
    QVERIFY(run([&](DriverCompletion d) { rig.driver->takeAll({ Route { 0, 3, 0 } }, d); }));
    QTRY_COMPARE(rig.signedLines(), QStringList { "0001#CALL /MEDIA/XP/VIDEO:switch(I1:O4)" });
    rig.driver->disconnect();
}

void TestLightwareDriver::endlessLineEndsTheLink()
{
    Rig rig;
    rig.router.silent = true;
    rig.driver->connect();
    QTRY_VERIFY(rig.router.log().size() >= 3);
    rig.router.sendToClients(QByteArray(5 * 1024 * 1024, 'x'));
    QTRY_VERIFY_WITH_TIMEOUT(rig.has(RouterDriverEvent::error), 10000);
    QVERIFY(rig.recorder.events.contains(
        RouterDriverEvent::makeError("The router sent a line longer than 4 MiB.")));
    QTRY_VERIFY(rig.has(RouterDriverEvent::disconnected));
    QVERIFY(!rig.has(RouterDriverEvent::connected));
}

void TestLightwareDriver::disconnectBeforeQuietReportsNothingMore()
{
    FakeLW3Router router(2, 2);
    QVERIFY(router.listen());
    LightwareDriver::Timing timing = fast();
    timing.parser = { 20ms, 300ms };
    auto driver = std::make_shared<LightwareDriver>(lightwareAt(router.port()), timing);
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(router.log().contains("GET /MEDIA/XP/VIDEO.*"));
    QTest::qWait(50); // the replies are in; the finalize timer is running
    driver->disconnect();
    QTest::qWait(400);
    QVERIFY(!recorder.types().contains(RouterDriverEvent::connected));
    QVERIFY(recorder.ended);
}

QTEST_MAIN(TestLightwareDriver)
#include "tst_lightwaredriver.moc"

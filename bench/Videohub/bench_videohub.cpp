#include "Drivers/VideohubDriver.h"
#include "Drivers/VideohubParser.h"

#include "FakeVideohubRouter.h"
#include "ProcessStatus.h"
#include "UnfinishedLine.h"

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <QFile>

#include <algorithm>

namespace {

// Peak resident memory from here on: the kernel's high-water mark is reset to what is
// resident now.
struct PeakResident
{
    qint64 base = -1;

    PeakResident()
    {
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
        base = statusBytes("VmRSS");
    }
    qint64 growth() const { return statusBytes("VmHWM") - base; }
};

FakeVideohubRouter::Model bigModel()
{
    FakeVideohubRouter::Model model;
    model.inputs = 1024;
    model.outputs = 1024;
    for (int i = 0; i < 1024; i += 3)
        model.locks.insert(i, 'O');
    return model;
}

RouterConnection hub(quint16 port)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Bench");
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = port;
    return connection;
}

void report(const char *what, QList<double> micros)
{
    std::sort(micros.begin(), micros.end());
    qInfo("%s: median %.1f µs, p90 %.1f µs, max %.1f µs over %lld runs", what,
          micros.at(micros.size() / 2), micros.at(micros.size() * 9 / 10), micros.last(),
          qlonglong(micros.size()));
}

} // namespace

class BenchVideohub : public QObject
{
    Q_OBJECT

private slots:
    void parsePrelude1024();
    void largestBlockPeakMemory();
    void unfinishedLineInSixteenBytePieces();
    void connectToConnected1024();
    void takeOnTheWire();
};

// The whole 1024×1024 dump with labels, locks and routing, fed in 64 KiB receive chunks.
void BenchVideohub::parsePrelude1024()
{
    const QByteArray prelude = FakeVideohubRouter::preludeFor(bigModel());
    static const bool once = [&] {
        qInfo("prelude is %lld bytes", qlonglong(prelude.size()));
        return true;
    }();
    Q_UNUSED(once)
    QBENCHMARK
    {
        VideohubParser parser(QStringLiteral("Bench"));
        int connected = 0;
        for (qsizetype at = 0; at < prelude.size(); at += 65536) {
            for (const auto &event : parser
                                         .ingest(QByteArrayView(prelude).sliced(
                                             at, std::min<qsizetype>(65536, prelude.size() - at)))
                                         .events)
                connected += event.type == RouterDriverEvent::connected;
        }
        if (connected != 1)
            qFatal("prelude did not finalize");
    }
}

// The largest block a router may send in one piece (just under the 4 MiB limit of an
// unfinished block), a routing block of half a million items after the prelude, fed in 64 KiB
// receive chunks: the peak resident memory it adds must stay under 64 MB.
void BenchVideohub::largestBlockPeakMemory()
{
    const VideohubParser::Limits limits;
    QByteArray block = "VIDEO OUTPUT ROUTING:\n";
    for (int i = 0; block.size() < limits.maxBufferedBytes - 64; ++i)
        block += QByteArray::number(i % limits.maxPortCount) + ' ' + QByteArray::number(i % 977)
            + '\n';
    block += '\n';
    QList<double> megabytes;
    qsizetype events = 0;
    for (int run = 0; run < 5; ++run) {
        VideohubParser parser(QStringLiteral("Bench"));
        parser.ingest(FakeVideohubRouter::preludeFor(bigModel()));
        if (!parser.preludeDone())
            qFatal("prelude did not finalize");
        const PeakResident peak;
        events = 0;
        for (qsizetype at = 0; at < block.size(); at += 65536)
            events += parser
                          .ingest(QByteArrayView(block).sliced(
                              at, std::min<qsizetype>(65536, block.size() - at)))
                          .events.size();
        megabytes.append(double(peak.growth()) / (1024.0 * 1024.0));
    }
    std::sort(megabytes.begin(), megabytes.end());
    qInfo("%lld-byte routing block: %lld events, peak resident growth median %.1f MB, max %.1f MB",
          qlonglong(block.size()), qlonglong(events), megabytes.at(megabytes.size() / 2),
          megabytes.last());
    QVERIFY2(megabytes.last() < 64.0, "a 4 MiB block must stay under 64 MB");
}

// The yardstick of the LW3 and Quartz benchmarks: the longest block the parser holds, with
// no end, in 16-byte pieces.
void BenchVideohub::unfinishedLineInSixteenBytePieces()
{
    qInfo("4 MiB unfinished block in 16-byte pieces: %.1f ms",
          UnfinishedLine::videohubSeconds() * 1e3);
}

// From connect() to `connected` on the UI thread, against the fake on loopback.
void BenchVideohub::connectToConnected1024()
{
    FakeVideohubRouter fake(bigModel());
    QList<double> micros;
    for (int run = 0; run < 30; ++run) {
        auto driver = std::make_shared<VideohubDriver>(hub(fake.port()));
        QEventLoop loop;
        QElapsedTimer clock;
        qint64 elapsed = -1;
        driver->events()->read(&loop, [&](const RouterDriverEvent &event) {
            if (event.type == RouterDriverEvent::connected) {
                elapsed = clock.nsecsElapsed();
                loop.quit();
            }
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        clock.start();
        driver->connect();
        loop.exec();
        driver->disconnect();
        if (elapsed < 0)
            qFatal("no connected event");
        micros.append(elapsed / 1000.0);
    }
    report("connect() to connected, 1024x1024", micros);
}

// From takeAll() on the UI thread to the block arriving at the router.
void BenchVideohub::takeOnTheWire()
{
    FakeVideohubRouter fake;
    fake.setReply(FakeVideohubRouter::Reply::silent);
    auto driver = std::make_shared<VideohubDriver>(hub(fake.port()));
    {
        QEventLoop loop;
        driver->events()->read(&loop, [&](const RouterDriverEvent &event) {
            if (event.type == RouterDriverEvent::connected)
                loop.quit();
        });
        driver->connect();
        loop.exec();
        driver->events()->cancelReader();
    }
    QList<double> micros;
    for (int run = 0; run < 200; ++run) {
        QEventLoop loop;
        QElapsedTimer clock;
        qint64 elapsed = -1;
        auto wire = connect(&fake, &FakeVideohubRouter::blockReceived, &loop, [&] {
            elapsed = clock.nsecsElapsed();
            loop.quit();
        });
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        clock.start();
        driver->takeAll({ Route { 0, run % 12, (run + 1) % 12 } }, {});
        loop.exec();
        disconnect(wire);
        if (elapsed < 0)
            qFatal("take never reached the router");
        micros.append(elapsed / 1000.0);
    }
    report("takeAll() to bytes at the router", micros);
    driver->disconnect();
}

QTEST_GUILESS_MAIN(BenchVideohub)
#include "bench_videohub.moc"

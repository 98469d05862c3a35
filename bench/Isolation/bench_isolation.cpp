// Routers of one protocol side by side: a take on one Videohub router while another Videohub
// router ingests 4 MiB routing blocks back to back, against the same take with that neighbour
// idle (goal: median within 1.2×), and what 60 connected routers (64×64, 1024×1024) cost in
// threads and resident memory. Each fake router runs on a thread of its own, so that only the
// drivers share this process's UI thread. Not part of CTest.

#include "Drivers/VideohubDriver.h"
#include "FakeVideohubRouter.h"
#include "Platform/Memory.h"
#include "ProcessStatus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int kNeighbourPorts = 1024;
constexpr qsizetype kBlockBytes = 4 * 1024 * 1024 - 64; // just under the parser's block limit

// A fake router created, used and deleted on a thread of its own.
class FakeOnThread final
{
public:
    explicit FakeOnThread(FakeVideohubModel model)
    {
        m_thread.start();
        auto *context = new QObject;
        context->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            context,
            [&] { m_fake = new FakeVideohubRouter(model, nullptr, std::chrono::hours(1)); },
            Qt::BlockingQueuedConnection);
        context->deleteLater(); // on the thread, when it finishes at the latest
    }
    ~FakeOnThread()
    {
        run([this] { delete m_fake; });
        m_thread.quit();
        m_thread.wait();
    }
    void run(const std::function<void()> &fn)
    {
        QMetaObject::invokeMethod(m_fake, fn, Qt::BlockingQueuedConnection);
    }
    FakeVideohubRouter &fake() { return *m_fake; }
    quint16 port() { return m_fake->port(); }

private:
    QThread m_thread;
    FakeVideohubRouter *m_fake = nullptr;
};

RouterConnection hub(quint16 port)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Bench");
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = port;
    return connection;
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// A driver whose events are counted on this thread as they are delivered.
struct Link
{
    std::shared_ptr<VideohubDriver> driver;
    QObject context;
    bool connected = false;
    qint64 routeEvents = 0;
    std::function<void(const RouterDriverEvent &)> onRoute;

    explicit Link(quint16 port)
        : driver(std::make_shared<VideohubDriver>(hub(port)))
    {
        driver->events()->read(&context, [this](const RouterDriverEvent &event) {
            connected = connected || event.type == RouterDriverEvent::connected;
            if (event.type == RouterDriverEvent::routeChanged) {
                ++routeEvents;
                if (onRoute)
                    onRoute(event);
            }
        });
        driver->connect();
    }
    ~Link() { driver->disconnect(); }
};

struct Figures
{
    double median = 0;
    double p90 = 0;
};

Figures figures(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return { values.at(values.size() / 2), values.at(values.size() * 9 / 10) };
}

// Takes on `link`'s destinations in turn, at least `count` and until `enough`; for each, the
// UI-thread time of the takeAll() call and the time until the router's report of the route
// reached this thread, in µs.
std::pair<Figures, Figures> takes(
    Link &link, int count, const std::function<bool()> &enough = [] { return true; })
{
    std::vector<double> calls;
    std::vector<double> roundTrips;
    QList<int> current;
    for (int d = 0; d < 12; ++d)
        current.append(d % 12); // the fake's default routing
    for (int run = 0; run < count || !enough(); ++run) {
        const int destination = run % 12;
        const int source = (current[destination] + 1) % 12;
        current[destination] = source;
        bool reported = false;
        QElapsedTimer clock;
        link.onRoute = [&](const RouterDriverEvent &event) {
            if (event.destination == destination && event.source == source && !reported) {
                reported = true;
                roundTrips.push_back(double(clock.nsecsElapsed()) / 1e3);
            }
        };
        clock.start();
        link.driver->takeAll({ Route { 0, destination, source } }, {});
        calls.push_back(double(clock.nsecsElapsed()) / 1e3);
        if (!waitUntil([&] { return reported; }, 5000))
            qFatal("the router never reported take %d", run);
        link.onRoute = {};
    }
    return { figures(calls), figures(roundTrips) };
}

double megabytes(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

qsizetype threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

} // namespace

class BenchIsolation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Platform::tuneAllocator(); } // as the application does
    void takeBesideABusyNeighbour();
    void sixtyConnectedRouters_data();
    void sixtyConnectedRouters();
};

void BenchIsolation::takeBesideABusyNeighbour()
{
    FakeVideohubModel big;
    big.inputs = big.outputs = kNeighbourPorts;
    FakeOnThread neighbourFake(big);
    FakeOnThread ownFake({});
    Link neighbour(neighbourFake.port());
    Link own(ownFake.port());
    QVERIFY(waitUntil([&] { return neighbour.connected && own.connected; }, 20000));

    takes(own, 24); // warm up
    QElapsedTimer idlePhase;
    idlePhase.start();
    const auto [idleCalls, idle] = takes(own, 300, [&] { return idlePhase.elapsed() >= 1000; });

    // Blocks alternate between routing every output to source 0 and to source 1, so that
    // each changes every route once parsed; made beforehand, so that the fake sends at once.
    QList<QByteArray> blocks;
    for (const QByteArray &source : { QByteArray(" 0\n"), QByteArray(" 1\n") }) {
        QByteArray block = "VIDEO OUTPUT ROUTING:\n";
        block.reserve(kBlockBytes + 64);
        for (int i = 0; block.size() < kBlockBytes; i = (i + 1) % kNeighbourPorts)
            block += QByteArray::number(i) + source;
        blocks.append(block + '\n');
    }
    neighbourFake.run([&] {
        neighbourFake.fake().startFlood(
            [blocks](quint64 sequence) { return blocks[sequence % 2]; });
    });
    QVERIFY(waitUntil([&] { return neighbour.routeEvents >= 2 * kNeighbourPorts; }, 20000));
    const qint64 before = neighbour.routeEvents;
    QElapsedTimer phase;
    phase.start();
    // Long enough for the neighbour to parse several blocks meanwhile.
    const auto [busyCalls, busy] = takes(own, 300, [&] {
        return phase.elapsed() >= 1000 && neighbour.routeEvents - before >= 8 * kNeighbourPorts;
    });
    const double parsed = double(neighbour.routeEvents - before) / kNeighbourPorts;
    const double seconds = double(phase.elapsed()) / 1e3;
    neighbourFake.run([&] { neighbourFake.fake().stopFlood(); });

    qInfo("takeAll() call on the UI thread: idle neighbour median %.1f µs, p90 %.1f µs; busy "
          "neighbour median %.1f µs, p90 %.1f µs",
          idleCalls.median, idleCalls.p90, busyCalls.median, busyCalls.p90);
    qInfo("take to the router's report: idle neighbour median %.1f µs, p90 %.1f µs; busy "
          "neighbour median %.1f µs, p90 %.1f µs",
          idle.median, idle.p90, busy.median, busy.p90);
    qInfo("the neighbour parsed %.1f blocks of 4 MiB in those %.2f s; busy/idle: median %.2f×, "
          "p90 %.2f× (goal: median within 1.2×)",
          parsed, seconds, busy.median / idle.median, busy.p90 / idle.p90);
    QVERIFY2(parsed >= 1, "the neighbour was not busy while the takes ran");
    QVERIFY2(busy.median <= 1.2 * idle.median, "the busy neighbour slowed the take beyond 1.2×");
}

void BenchIsolation::sixtyConnectedRouters_data()
{
    QTest::addColumn<int>("ports");
    QTest::newRow("64x64") << 64;
    QTest::newRow("1024x1024") << 1024;
}

// The cost the application carries per connected router: threads and resident memory.
void BenchIsolation::sixtyConnectedRouters()
{
    QFETCH(int, ports);
    constexpr int routers = 60;
    FakeVideohubModel model;
    model.inputs = model.outputs = ports;
    std::vector<std::unique_ptr<FakeOnThread>> fakes;
    for (int i = 0; i < 2; ++i)
        fakes.push_back(std::make_unique<FakeOnThread>(model));
    QThread::msleep(200);
    const qsizetype threadsBefore = threadCount();
    {
        QFile clear(QStringLiteral("/proc/self/clear_refs")); // the peak starts from here
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
    }
    const qint64 residentBefore = statusBytes("VmRSS");

    std::vector<std::unique_ptr<Link>> links;
    for (int i = 0; i < routers; ++i)
        links.push_back(std::make_unique<Link>(fakes[i % fakes.size()]->port()));
    QVERIFY(waitUntil(
        [&] {
            return std::all_of(links.begin(), links.end(),
                               [](const auto &l) { return l->connected; });
        },
        30000));
    waitUntil([] { return false; }, 500); // settle
    const qsizetype threads = threadCount();
    const qint64 resident = statusBytes("VmRSS");
    qInfo("%d connected %dx%d routers: %lld threads in the process (%lld more than before), "
          "%.1f MB resident (%.1f MB more, at the peak %.1f MB more)",
          routers, ports, ports, qlonglong(threads), qlonglong(threads - threadsBefore),
          megabytes(resident), megabytes(resident - residentBefore),
          megabytes(statusBytes("VmHWM") - residentBefore));

    links.clear();
    waitUntil([] { return false; }, 500);
    qInfo("after dropping them: %lld threads", qlonglong(threadCount()));
}

QTEST_GUILESS_MAIN(BenchIsolation)
#include "bench_isolation.moc"

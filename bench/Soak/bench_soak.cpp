// Soak of each TCP driver under the worst flood a router can send, through the real driver and
// a real RouterController on the UI thread, with the flooding router on a thread of its own.
// Reports the peak growth of the resident set over the level once connected, the longest
// single event the UI thread handled (the stall our code causes: judged by its CPU time, with
// its wall time and what it was beside it) and the longest gap between two ticks of a 2 ms
// UI-thread timer (which also counts the machine's scheduling). Goals: growth < 64 MB,
// stall < 50 ms.
//
//   bench_soak [--seconds N] [--mode valid|random|absurd|endless|refusals]
//              [videohub swp08 quartz lw3]
//
// The duration also comes from QUORVEL_SOAK_SECONDS (default 60). Not part of CTest.

#include "Controllers/RouterController.h"
#include "Drivers/LightwareDriver.h"
#include "Drivers/QuartzDriver.h"
#include "Drivers/SWP08Driver.h"
#include "Drivers/VideohubDriver.h"
#include "FakeLW3Router.h"
#include "FakeQuartzRouter.h"
#include "FakeSWP08Router.h"
#include "FakeVideohubRouter.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"
#include "Platform/Memory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <utility>

using namespace std::chrono_literals;

namespace {

constexpr int kPorts = 256;

// Times every event the UI thread handles, outermost only.
class TimedApplication final : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth++ > 0 || QThread::currentThread() != thread()) {
            const bool handled = QCoreApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        const int type = int(event->type());
        const char *className = receiver->metaObject()->className();
        QElapsedTimer timer;
        timer.start();
        const qint64 cpuBefore = threadCpuNs();
        const bool handled = QCoreApplication::notify(receiver, event);
        m_longest = std::max(m_longest, timer.nsecsElapsed());
        const qint64 cpu = threadCpuNs() - cpuBefore;
        if (cpu > m_longestCpu) {
            m_longestCpu = cpu;
            m_longestWhat = QStringLiteral("%1 to %2").arg(type).arg(QLatin1String(className));
        }
        --m_depth;
        return handled;
    }
    // Wall time, and the CPU time the thread spent (what a loaded machine does not inflate).
    std::pair<qint64, qint64> takeLongestNs()
    {
        m_longestWhat.clear();
        return { std::exchange(m_longest, 0), std::exchange(m_longestCpu, 0) };
    }
    // The event that took the longest CPU time: its type and receiver.
    QString longestWhat() const { return m_longestWhat; }

private:
    static qint64 threadCpuNs()
    {
        timespec now {};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    thread_local static inline int m_depth = 0;
    qint64 m_longest = 0;
    qint64 m_longestCpu = 0;
    QString m_longestWhat;
};

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// A fake router living on its own thread, so that it floods as fast as the kernel lets it
// rather than as fast as our UI thread spares it time.
struct RouterOnThread
{
    QThread thread;
    QObject *fake = nullptr;
    quint16 port = 0;
    std::function<void(FloodMode)> flood;
    std::function<void()> stop;

    template<typename Make> explicit RouterOnThread(Make make)
    {
        auto *context = new QObject;
        context->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            context, [&] { make(*this); }, Qt::BlockingQueuedConnection);
        context->deleteLater(); // on the thread, when it finishes at the latest
    }
    void run(const std::function<void()> &fn)
    {
        QMetaObject::invokeMethod(fake, fn, Qt::BlockingQueuedConnection);
    }
    ~RouterOnThread()
    {
        run([this] { delete fake; });
        thread.quit();
        thread.wait();
    }
};

template<typename Fake> void wire(RouterOnThread &router, Fake *fake)
{
    router.fake = fake;
    router.port = fake->port();
    router.flood = [fake](FloodMode mode) {
        fake->startFlood(mode);
    };
    router.stop = [fake] {
        fake->stopFlood();
    };
}

struct Protocol
{
    const char *name;
    RouterVendor vendor;
    std::function<void(RouterOnThread &)> makeFake;
    std::function<RouterDriverPtr(const RouterConnection &)> makeDriver;
};

QList<Protocol> protocols()
{
    const auto lifetime = std::chrono::hours(1);
    return {
        { "videohub", RouterVendor::blackmagicVideohub,
          [lifetime](RouterOnThread &router) {
              FakeVideohubModel model;
              model.inputs = model.outputs = kPorts;
              wire(router, new FakeVideohubRouter(model, nullptr, lifetime));
          },
          [](const RouterConnection &c) {
              return std::make_shared<VideohubDriver>(c);
          } },
        { "swp08", RouterVendor::genericSWP08,
          [lifetime](RouterOnThread &router) {
              wire(router, new FakeSWP08Router(kPorts, kPorts, nullptr, lifetime));
          },
          [](const RouterConnection &c) {
              return std::make_shared<SWP08Driver>(c);
          } },
        { "quartz", RouterVendor::evertzQuartz,
          [lifetime](RouterOnThread &router) {
              wire(router, new FakeQuartzRouter(kPorts, kPorts, nullptr, lifetime));
          },
          [](const RouterConnection &c) {
              return std::make_shared<QuartzDriver>(c);
          } },
        { "lw3", RouterVendor::lightware,
          [](RouterOnThread &router) {
              auto *fake = new FakeLW3Router(kPorts, kPorts);
              fake->listen();
              wire(router, fake);
          },
          [](const RouterConnection &c) {
              return std::make_shared<LightwareDriver>(c);
          } },
    };
}

struct Result
{
    bool connected = false;
    qint64 growth = 0;
    double longestEventMs = 0;
    double longestEventCpuMs = 0;
    qint64 longestGapMs = 0;
    QString status;
    QString longestWhat;
};

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

Result soak(const Protocol &protocol, FloodMode mode, int seconds)
{
    Result result;
    RouterOnThread router(protocol.makeFake);

    QTemporaryDir dir;
    LabelStore labels(dir.filePath(QStringLiteral("labels.json")));
    SalvoStore salvos(dir.filePath(QStringLiteral("salvos.json")));
    PanelStore panels(dir.filePath(QStringLiteral("panels.json")));
    RouterConnection connection;
    connection.name = QStringLiteral("Soak");
    connection.vendor = protocol.vendor;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = router.port;
    connection.simSourceCount = connection.simDestinationCount = kPorts;
    RouterController controller(connection, labels, salvos, panels, protocol.makeDriver,
                                RouterController::UsageHooks {});
    controller.connect();
    result.connected = waitUntil([&] { return controller.status().isConnected(); }, 20000);
    if (!result.connected) {
        result.status = controller.statusMessage();
        controller.disconnect();
        return result;
    }
    waitUntil([] { return false; }, 300); // settle
    const qint64 baseline = residentBytes();

    QElapsedTimer gap;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &ticker,
                     [&] { longestGap = std::max(longestGap, gap.restart()); });
    qint64 peak = baseline;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler,
                     [&] { peak = std::max(peak, residentBytes()); });

    auto *timed = static_cast<TimedApplication *>(QCoreApplication::instance());
    router.run([&] { router.flood(mode); });
    timed->takeLongestNs();
    gap.start();
    ticker.start(2);
    sampler.start(100);
    waitUntil([] { return false; }, seconds * 1000);
    ticker.stop();
    sampler.stop();
    result.longestWhat = timed->longestWhat();
    const auto [wall, cpu] = timed->takeLongestNs();
    result.longestEventMs = double(wall) / 1e6;
    result.longestEventCpuMs = double(cpu) / 1e6;
    router.run([&] { router.stop(); });

    result.growth = peak - baseline;
    result.longestGapMs = longestGap;
    const ConnectionStatus status = controller.status();
    result.status = status.isConnected()                  ? QStringLiteral("connected")
        : status.kind() == ConnectionStatus::failed       ? status.message()
        : status.kind() == ConnectionStatus::disconnected ? controller.statusMessage()
                                                          : QStringLiteral("connecting");
    controller.disconnect();
    waitUntil([] { return false; }, 200);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    Platform::tuneAllocator(); // as the application does
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    TimedApplication app(argc, argv);

    int seconds = qEnvironmentVariableIntValue("QUORVEL_SOAK_SECONDS");
    if (seconds <= 0)
        seconds = 60;
    FloodMode mode = FloodMode::validEvents;
    QStringList chosen;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
            seconds = args[++i].toInt();
        } else if (args[i] == QLatin1String("--mode") && i + 1 < args.size()) {
            const QString name = args[++i];
            mode = name == QLatin1String("random")  ? FloodMode::randomBytes
                : name == QLatin1String("absurd")   ? FloodMode::absurdIndices
                : name == QLatin1String("endless")  ? FloodMode::endlessLine
                : name == QLatin1String("refusals") ? FloodMode::refusals
                                                    : FloodMode::validEvents;
        } else {
            chosen.append(args[i]);
        }
    }

    std::printf("%-9s %7s %11s %14s %12s %12s  %s\n", "protocol", "seconds", "RSS growth",
                "longest event", "(its CPU)", "longest gap", "status at the end");
    bool met = true;
    for (const Protocol &protocol : protocols()) {
        if (!chosen.isEmpty() && !chosen.contains(QLatin1String(protocol.name)))
            continue;
        const Result r = soak(protocol, mode, seconds);
        if (!r.connected) {
            std::printf("%-9s never connected: %s\n", protocol.name, qPrintable(r.status));
            met = false;
            continue;
        }
        std::printf("%-9s %7d %8.1f MB %11.1f ms %9.1f ms %9lld ms  %s (longest: event %s)\n",
                    protocol.name, seconds, double(r.growth) / (1024.0 * 1024.0), r.longestEventMs,
                    r.longestEventCpuMs, r.longestGapMs, qPrintable(r.status),
                    qPrintable(r.longestWhat));
        std::fflush(stdout);
        // The stall is judged by CPU time: on a loaded machine the wall time also holds the
        // time the scheduler gave to other processes.
        met = met && r.growth < 64ll * 1024 * 1024 && r.longestEventCpuMs < 50;
    }
    return met ? 0 : 1;
}

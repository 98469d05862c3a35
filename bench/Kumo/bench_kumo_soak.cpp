// Soak: the worst a KUMO router can do, against the real driver and a real controller, for a
// minute (or --seconds N, or QUORVEL_SOAK_SECONDS). The router, on a thread of its own, says
// it has 4096×4096 ports, answers every name read with a 60,000-character name, every status
// read with another source, and every 64th status read with a chunked body that never ends.
// An operator take goes out every 5 s (each one ends the poll pass it overtakes).
//
// Reported: peak RSS growth over the start, and the longest UI-thread stall: the longest single
// event the UI thread handled, in CPU time (what a loaded machine does not inflate), with its
// wall time and what it was. The largest wall-clock gap between ticks of a 1 ms timer is shown
// beside it; it also holds time the scheduler did not run us. Goals: growth under 64 MB, stall
// under 50 ms. Exits 1 when a goal is missed.

#include "Controllers/RouterController.h"
#include "Drivers/KumoDriver.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"
#include "Platform/Memory.h"

#include "FakeKumoServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

// A figure from /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
qint64 procStatusKiB(const QByteArray &field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Times every event the UI thread handles, outermost only.
class TimedApplication final : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;

    struct Longest
    {
        qint64 cpuNs = 0;
        qint64 wallNs = 0;
        QString what;
    };

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0 || QThread::currentThread() != thread())
            return QCoreApplication::notify(receiver, event);
        ++m_depth;
        const QString what = QStringLiteral("%1 to %2")
                                 .arg(int(event->type()))
                                 .arg(QString::fromLatin1(receiver->metaObject()->className()));
        QElapsedTimer wall;
        wall.start();
        const qint64 cpuBefore = threadCpuNs();
        const bool handled = QCoreApplication::notify(receiver, event);
        const qint64 cpu = threadCpuNs() - cpuBefore;
        Longest &longest = online ? m_longestOnline : m_longest;
        if (cpu > longest.cpuNs)
            longest = { cpu, wall.nsecsElapsed(), what };
        --m_depth;
        return handled;
    }

    bool online = false;
    const Longest &longest() const { return m_longest; }
    const Longest &longestOnline() const { return m_longestOnline; }

private:
    int m_depth = 0;
    Longest m_longest;
    Longest m_longestOnline;
};

} // namespace

int main(int argc, char *argv[])
{
    Platform::tuneAllocator(); // as the application does
    TimedApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Length of the soak (default 60)."),
                                           QStringLiteral("n"));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
                                        QStringLiteral("Ports each way (default 4096)."),
                                        QStringLiteral("n"));
    parser.addOption(secondsOption);
    parser.addOption(sizeOption);
    parser.process(app);
    int seconds = qEnvironmentVariableIntValue("QUORVEL_SOAK_SECONDS");
    if (parser.isSet(secondsOption))
        seconds = parser.value(secondsOption).toInt();
    if (seconds <= 0)
        seconds = 60;
    const int size = parser.isSet(sizeOption) ? parser.value(sizeOption).toInt() : 4096;

    // The router lives on its own thread, so its work is not counted as our stall.
    QThread routerThread;
    routerThread.start();
    QObject routerContext;
    routerContext.moveToThread(&routerThread);
    FakeKumoServer *router = nullptr;
    QMetaObject::invokeMethod(
        &routerContext,
        [&] {
            router = new FakeKumoServer;
            router->listen();
            router->populate(size, size);
            router->setHugeNames(60000);
            router->setChangingRoutes(true);
            for (int n = 64; n <= size; n += 64)
                router->floodChunked(QStringLiteral("eParamID_XPT_Destination%1_Status").arg(n));
            // The fake's own request log would grow for the whole run.
            auto *trim = new QTimer(router);
            QObject::connect(trim, &QTimer::timeout, router, [router] { router->clearLog(); });
            trim->start(1000);
        },
        Qt::BlockingQueuedConnection);

    QTemporaryDir dir;
    LabelStore labels(dir.filePath(QStringLiteral("labels.json")));
    SalvoStore salvos(dir.filePath(QStringLiteral("salvos.json")));
    PanelStore panels(dir.filePath(QStringLiteral("panels.json")));
    RouterConnection connection;
    connection.name = QStringLiteral("Soak");
    connection.vendor = RouterVendor::ajaKumo;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = router->port();
    // The driver's stream, to see how much ever waited in it for the controller.
    std::shared_ptr<RouterEventStream> stream;
    RouterController controller(
        connection, labels, salvos, panels,
        [&stream](const RouterConnection &c) {
            RouterDriverPtr driver = DriverFactory::makeDriver(c);
            stream = driver->events();
            return driver;
        },
        RouterController::UsageHooks {});
    std::size_t mostWaiting = 0;
    qint64 routeChanges = 0;
    QObject::connect(&controller, &RouterController::routeChanged, &app,
                     [&](int, int) { ++routeChanges; });

    const qint64 baselineKiB = procStatusKiB("VmRSS");
    QElapsedTimer clock;
    clock.start();
    qint64 connectedAtMs = -1;
    QObject::connect(&controller, &RouterController::statusChanged, &app, [&] {
        if (controller.status().kind() == ConnectionStatus::connected && connectedAtMs < 0) {
            connectedAtMs = clock.elapsed();
            // The event applying `connected` still counts as connecting.
            QTimer::singleShot(0, &app, [&app] { app.online = true; });
        }
    });

    // A 1 ms tick: the largest gap between two is the wall-clock view of a stall.
    qint64 lastTickNs = clock.nsecsElapsed();
    qint64 longestGapNs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGapNs = std::max(longestGapNs, now - lastTickNs);
        lastTickNs = now;
        if (stream)
            mostWaiting = std::max(mostWaiting, stream->pendingCount());
    });
    tick.start(1);

    int takes = 0;
    QTimer operatorTakes;
    QObject::connect(&operatorTakes, &QTimer::timeout, &app, [&] {
        if (controller.status().kind() != ConnectionStatus::connected)
            return;
        controller.take(takes % size, (takes * 7) % size);
        ++takes;
    });
    operatorTakes.start(5000);

    controller.connect();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();

    const qint64 peakKiB = procStatusKiB("VmHWM");
    int floodsCut = 0;
    QMetaObject::invokeMethod(
        &routerContext, [&] { floodsCut = router->floodsHungUp(); }, Qt::BlockingQueuedConnection);
    const double growthMiB = double(peakKiB - baselineKiB) / 1024.0;
    const TimedApplication::Longest stall
        = app.longest().cpuNs > app.longestOnline().cpuNs ? app.longest() : app.longestOnline();
    const double stallMs = double(stall.cpuNs) / 1e6;
    std::printf("KUMO soak, %d s against a %d×%d flood\n", seconds, size, size);
    std::printf("  connected after       %s\n",
                connectedAtMs < 0 ? "never"
                                  : qPrintable(QStringLiteral("%1 s").arg(connectedAtMs / 1000.0)));
    std::printf("  status at the end     %s\n",
                qPrintable(controller.status().kind() == ConnectionStatus::connected
                               ? QStringLiteral("connected")
                               : controller.status().message()));
    std::printf("  route changes applied %lld, operator takes %d\n", routeChanges, takes);
    std::printf("  endless bodies cut    %d\n", floodsCut);
    std::printf("  most events waiting   %zu (stream capacity %zu)\n", mostWaiting,
                RouterEventStream::defaultCapacity);
    std::printf("  peak RSS growth       %.1f MB (goal < 64 MB)\n", growthMiB);
    std::printf("  longest UI stall      %.1f ms CPU, %.1f ms wall (goal < 50 ms): event %s\n",
                stallMs, double(stall.wallNs) / 1e6, qPrintable(stall.what));
    std::printf("  once online           %.1f ms CPU, %.1f ms wall: event %s\n",
                double(app.longestOnline().cpuNs) / 1e6, double(app.longestOnline().wallNs) / 1e6,
                qPrintable(app.longestOnline().what));
    std::printf("  longest tick gap      %.1f ms (wall clock)\n", double(longestGapNs) / 1e6);

    controller.disconnect();
    QMetaObject::invokeMethod(
        &routerContext, [router] { delete router; }, Qt::BlockingQueuedConnection);
    routerThread.quit();
    routerThread.wait();
    return growthMiB < 64.0 && stallMs < 50.0 ? 0 : 1;
}

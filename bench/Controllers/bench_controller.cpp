// Costs of the controller's hot paths on large routers. Goals: one routeChanged event applied
// in O(1) and under 10 µs on 1024×1024 × 4 levels; visible-port lists served from a cache;
// diff of a 4,096-route salvo under 1 ms.
#include "Controllers/RouterController.h"
#include "FakeRouterDriver.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kLevels = 4;
constexpr int kBatch = 1024; // events per measured round

RouterState fullyRouted(int size)
{
    RouterState state;
    state.deviceName = QStringLiteral("Bench");
    for (int i = 0; i < size; ++i) {
        state.sources.append(Port { i, PortKind::source, QStringLiteral("SRC %1").arg(i + 1) });
        state.destinations.append(
            Port { i, PortKind::destination, QStringLiteral("DST %1").arg(i + 1) });
    }
    for (int l = 0; l < kLevels; ++l) {
        state.levels.append(RouterLevel { l, QStringLiteral("L%1").arg(l), LevelKind::video });
        LevelRouting &routing = state.routing[l];
        routing.reserve(size);
        for (int d = 0; d < size; ++d)
            routing.insert(d, (d + l) % size);
    }
    return state;
}

struct Bench
{
    explicit Bench(int size)
    {
        controller = std::make_unique<RouterController>(
            connection, labels, salvos, panels, drivers.maker(), RouterController::UsageHooks {});
        controller->connect();
        driver = drivers.last();
        driver->emitEvent(RouterDriverEvent::makeConnected(fullyRouted(size)));
        settle();
    }
    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    LabelStore labels { dir.filePath(QStringLiteral("labels.json")) };
    SalvoStore salvos { dir.filePath(QStringLiteral("salvos.json")) };
    PanelStore panels { dir.filePath(QStringLiteral("panels.json")) };
    FakeDriverMaker drivers;
    RouterConnection connection;
    std::unique_ptr<RouterController> controller;
    std::shared_ptr<FakeRouterDriver> driver;
};

} // namespace

class BenchController : public QObject
{
    Q_OBJECT

private slots:
    void routeChangedEvent_data();
    void routeChangedEvent();
    void visibleDestinationsRead();
    void visibleDestinationsRebuild();
    void diffOfLargeSalvo();
};

void BenchController::routeChangedEvent_data()
{
    // The same cost at both sizes shows that nothing walks or copies the whole state.
    QTest::addColumn<int>("size");
    QTest::newRow("64x64") << 64;
    QTest::newRow("1024x1024") << 1024;
}

void BenchController::routeChangedEvent()
{
    QFETCH(int, size);
    Bench bench(size);
    int seen = 0;
    QObject::connect(bench.controller.get(), &RouterController::routeChanged,
                     bench.controller.get(), [&seen](int, int) { ++seen; });
    // The first write after the state arrived may detach the shared routing table once.
    bench.driver->emitEvent(RouterDriverEvent::makeRouteChanged(0, 0, 1));
    Bench::settle();

    // One reported iteration is kBatch events, delivered through the event stream as a
    // driver would: divide the figure by kBatch for the cost of one event.
    int round = 0;
    QBENCHMARK
    {
        for (int i = 0; i < kBatch; ++i) {
            const int destination = (i * 7919) % size;
            bench.driver->emitEvent(RouterDriverEvent::makeRouteChanged(
                i % kLevels, destination, (destination + round + i) % size));
        }
        Bench::settle();
        ++round;
    }
    QVERIFY(seen > 0);
}

void BenchController::visibleDestinationsRead()
{
    Bench bench(1024);
    SubPanel panel;
    panel.name = QStringLiteral("Half");
    for (int i = 0; i < 1024; i += 2) {
        panel.sourceIndices.append(i);
        panel.destinationIndices.append(i);
    }
    bench.controller->savePanel(panel);
    bench.controller->setActivePanelID(panel.id);
    qsizetype total = 0;
    QBENCHMARK
    {
        total += bench.controller->visibleDestinations().size();
        total += bench.controller->visibleSources().size();
    }
    QVERIFY(total > 0);
}

void BenchController::visibleDestinationsRebuild()
{
    Bench bench(1024);
    SubPanel panel;
    panel.name = QStringLiteral("Half");
    for (int i = 0; i < 1024; i += 2)
        panel.destinationIndices.append(i);
    bench.controller->savePanel(panel);
    bench.controller->setActivePanelID(panel.id);
    // A label the router changes invalidates the cache; the next read rebuilds both lists.
    int round = 0;
    QBENCHMARK
    {
        bench.driver->emitEvent(RouterDriverEvent::makeLabelChanged(
            PortKind::destination, 2, QStringLiteral("DST %1").arg(++round)));
        Bench::settle();
        QVERIFY(!bench.controller->visibleDestinations().isEmpty());
    }
}

void BenchController::diffOfLargeSalvo()
{
    Bench bench(1024);
    Salvo salvo;
    salvo.name = QStringLiteral("Everything");
    for (int l = 0; l < kLevels; ++l) {
        for (int d = 0; d < 1024; ++d)
            salvo.routes.append(Route { l, d, (d * 3 + l) % 1024 });
    }
    QCOMPARE(salvo.routes.size(), 4096);
    for (int d = 0; d < 1024; d += 16)
        bench.driver->emitEvent(RouterDriverEvent::makeLockChanged(d, true));
    Bench::settle();

    RouterController::SalvoDiff diff;
    QBENCHMARK
    {
        diff = bench.controller->diff(salvo);
    }
    QCOMPARE(diff.changes.size() + diff.alreadyMatching + diff.lockedRoutes.size()
                 + diff.outOfRange.size(),
             4096);
}

QTEST_GUILESS_MAIN(BenchController)
#include "bench_controller.moc"

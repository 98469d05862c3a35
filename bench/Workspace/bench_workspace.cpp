// Operator actions that write many routes at once, on large routers, with the views that show
// them on screen. Goal for each: under a frame (16 ms) of UI-thread time per command and per
// burst of the router's echo. On a busy machine read the instruction counts (-callgrind).
#include "ControllerRig.h"
#include "Views/Salvos/SalvoSheet.h"
#include "Views/Salvos/SalvoStrip.h"
#include "Views/Workspace/QuorvelView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

constexpr int kLevels = 3;

RouterState routedState(int size)
{
    RouterState state = makeState(size, size, kLevels);
    for (int level = 0; level < kLevels; ++level) {
        LevelRouting &routing = state.routing[level];
        for (int d = 0; d < size; ++d)
            routing.insert(d, (d * 37 + level) % size);
    }
    return state;
}

std::shared_ptr<RouterController> shared(RouterController &controller)
{
    return { &controller, [](RouterController *) {
            } }; // the rig owns it
}

// Every destination on every level fed by source (d + shift) mod size.
Salvo everything(int size, int shift)
{
    Salvo salvo;
    salvo.name = QStringLiteral("All %1").arg(shift);
    for (int level = 0; level < kLevels; ++level) {
        for (int d = 0; d < size; ++d)
            salvo.routes.append(Route { level, d, (d + shift) % size });
    }
    return salvo;
}

// The router confirming each route, as a real one echoes a take.
void echo(FakeRouterDriver &driver, const QList<Route> &routes)
{
    for (const Route &route : routes)
        driver.emitEvent(
            RouterDriverEvent::makeRouteChanged(route.level, route.destination, route.source));
}

// A controller on a 1024x1024 router with 10,000 whole-router salvos of 64 routes, every one
// of which names crosspoint (0, 0), and the strip on screen, with the salvo manager open over
// it when asked. The salvos are written as the file the store reads: adding them one by one
// would rewrite it 10,000 times.
struct ManySalvos
{
    static constexpr int size = 1024;
    static constexpr int count = 10000;

    explicit ManySalvos(bool manager)
    {
        QJsonArray list;
        for (int s = 0; s < count; ++s) {
            Salvo salvo;
            salvo.name = QStringLiteral("Salvo %1").arg(s);
            salvo.savedAt = 780000000 + s;
            salvo.routes.append(Route { 0, 0, s % size });
            for (int r = 1; r < 64; ++r)
                salvo.routes.append(Route { r % kLevels, (s + r * 16) % size, (s + r) % size });
            list.append(salvo.toJson());
        }
        QFile file(dir.filePath(QStringLiteral("salvos.json")));
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QJsonDocument(QJsonObject { { Json::uuidText(connection.id), list } })
                       .toJson(QJsonDocument::Compact));
        file.close();
        labels = std::make_unique<LabelStore>(dir.filePath(QStringLiteral("labels.json")));
        salvos = std::make_unique<SalvoStore>(dir.filePath(QStringLiteral("salvos.json")));
        panels = std::make_unique<PanelStore>(dir.filePath(QStringLiteral("panels.json")));
        controller
            = std::make_unique<RouterController>(connection, *labels, *salvos, *panels,
                                                 drivers.maker(), RouterController::UsageHooks {});
        controller->connect();
        driver = drivers.last().get();
        driver->emitEvent(RouterDriverEvent::makeConnected(routedState(size)));
        ControllerRig::settle();
        window.resize(1180, 760);
        QElapsedTimer showing;
        showing.start();
        strip = std::make_unique<SalvoStrip>(*controller, &window);
        strip->resize(900, 28);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return;
        ControllerRig::settle();
        qInfo("the strip showed in %lld ms", showing.elapsed());
        if (manager) {
            QElapsedTimer opening;
            opening.start();
            sheet = std::make_unique<SalvoSheet>(*controller, &window);
            sheet->open();
            if (!QTest::qWaitForWindowExposed(sheet.get()))
                return;
            ControllerRig::settle();
            qInfo("the manager opened in %lld ms", opening.elapsed());
        }
        opened = true;
    }
    ~ManySalvos()
    {
        sheet.reset();
        strip.reset();
        controller.reset();
    }

    bool ready() const { return opened && controller->salvos().size() == count; }

    QTemporaryDir dir;
    RouterConnection connection;
    std::unique_ptr<LabelStore> labels;
    std::unique_ptr<SalvoStore> salvos;
    std::unique_ptr<PanelStore> panels;
    FakeDriverMaker drivers;
    std::unique_ptr<RouterController> controller;
    FakeRouterDriver *driver = nullptr;
    QWidget window;
    std::unique_ptr<SalvoStrip> strip;
    std::unique_ptr<SalvoSheet> sheet;
    bool opened = false;
};

} // namespace

class BenchWorkspace : public QObject
{
    Q_OBJECT

private slots:
    void salvoStripFire_data();
    void salvoStripFire();
    void salvoStripEcho_data();
    void salvoStripEcho();
    void takeToEveryDestination_data();
    void takeToEveryDestination();
    void routeChangeWith10000Salvos_data();
    void routeChangeWith10000Salvos();
    void labelChangeWith10000Salvos_data();
    void labelChangeWith10000Salvos();
    void saveAndDeleteWith10000Salvos_data();
    void saveAndDeleteWith10000Salvos();
};

void BenchWorkspace::salvoStripFire_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("1024x1024") << 1024;
    QTest::newRow("2048x2048") << 2048;
}

void BenchWorkspace::salvoStripFire()
{
    // A fire of a whole-router salvo with the strip of six chips on screen.
    QFETCH(int, size);
    ControllerRig rig;
    for (int shift = 0; shift < 6; ++shift)
        rig.salvos.add(everything(size, shift + 1), rig.connection.id);
    RouterController &controller = rig.make();
    rig.connectWith(routedState(size));
    SalvoStrip strip(controller);
    strip.resize(900, 28);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    const QList<Salvo> salvos = controller.salvos();
    QCOMPARE(salvos.size(), qsizetype(6));
    ControllerRig::settle();

    int round = 0;
    QBENCHMARK
    {
        controller.fireSalvo(salvos.at(round++ % 2));
        QCoreApplication::processEvents();
    }
    ControllerRig::settle();
}

void BenchWorkspace::salvoStripEcho_data()
{
    salvoStripFire_data();
}

void BenchWorkspace::salvoStripEcho()
{
    // The router's echo of a fired salvo, every route as its own event, with the strip on
    // screen. One reported iteration is the whole echo; it reports how many bursts it took.
    QFETCH(int, size);
    ControllerRig rig;
    for (int shift = 0; shift < 6; ++shift)
        rig.salvos.add(everything(size, shift + 1), rig.connection.id);
    RouterController &controller = rig.make();
    FakeRouterDriver &driver = rig.connectWith(routedState(size));
    SalvoStrip strip(controller);
    strip.resize(900, 28);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    const QList<Salvo> salvos = controller.salvos();
    int bursts = 0;
    QObject::connect(&controller, &RouterController::stateChanged, &strip, [&bursts] { ++bursts; });

    int round = 0;
    int rounds = 0;
    QBENCHMARK
    {
        echo(driver, salvos.at(round++ % 2).routes);
        ControllerRig::settle();
        ++rounds;
    }
    qInfo("%.1f bursts per echo of %lld routes", double(bursts) / rounds,
          qint64(salvos.first().routes.size()));
}

void BenchWorkspace::takeToEveryDestination_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("matrix") << int(RouteViewMode::matrix);
    QTest::newRow("list") << int(RouteViewMode::list);
}

void BenchWorkspace::takeToEveryDestination()
{
    // One source to all 1024 destinations on three levels (3,072 routes), confirmed in one
    // Take, in the workspace window as the operator sees it.
    QFETCH(int, mode);
    constexpr int size = 1024;
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(routedState(size));
    controller.setViewMode(RouteViewMode(mode));
    QuorvelView view(shared(controller));
    view.resize(1400, 900);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    controller.setDirection(RoutingDirection::sourceLed);
    ControllerRig::settle();

    int source = 0;
    QBENCHMARK
    {
        controller.setSelectedSource(++source % size);
        controller.selectAllDestinations();
        controller.confirmTake();
        QCoreApplication::processEvents();
    }
    ControllerRig::settle();
    QCOMPARE(controller.state().source(size - 1, kLevels - 1), std::optional<int>(source % size));
}

void BenchWorkspace::routeChangeWith10000Salvos_data()
{
    QTest::addColumn<bool>("manager");
    QTest::newRow("strip") << false;
    QTest::newRow("strip and manager") << true;
}

void BenchWorkspace::routeChangeWith10000Salvos()
{
    // One route change from the router, which every salvo names. Goal: under 2 ms.
    QFETCH(bool, manager);
    ManySalvos many(manager);
    QVERIFY(many.ready());
    int round = 0;
    QBENCHMARK
    {
        many.driver->emitEvent(
            RouterDriverEvent::makeRouteChanged(0, 0, ++round % ManySalvos::size));
        ControllerRig::settle();
    }
    QCOMPARE(many.controller->state().source(0, 0), std::optional<int>(round % ManySalvos::size));
}

void BenchWorkspace::labelChangeWith10000Salvos_data()
{
    routeChangeWith10000Salvos_data();
}

void BenchWorkspace::labelChangeWith10000Salvos()
{
    // One port renamed by the router, which changes no salvo's comparison. Goal: under 2 ms.
    QFETCH(bool, manager);
    ManySalvos many(manager);
    QVERIFY(many.ready());
    int round = 0;
    QBENCHMARK
    {
        many.driver->emitEvent(RouterDriverEvent::makeLabelChanged(
            PortKind::source, 0, QStringLiteral("Camera %1").arg(++round)));
        ControllerRig::settle();
    }
    QCOMPARE(many.controller->state().sources.first().label,
             QStringLiteral("Camera %1").arg(round));
}

void BenchWorkspace::saveAndDeleteWith10000Salvos_data()
{
    routeChangeWith10000Salvos_data();
}

void BenchWorkspace::saveAndDeleteWith10000Salvos()
{
    // A salvo saved from the routing and then deleted: two writes of the whole file, which
    // are reported on their own, and the views brought up to date after each.
    QFETCH(bool, manager);
    ManySalvos many(manager);
    QVERIFY(many.ready());
    RouterController &controller = *many.controller;
    QElapsedTimer writing;
    writing.start();
    many.salvos->save();
    qInfo("one write of salvos.json takes %lld ms", writing.elapsed());
    QBENCHMARK
    {
        controller.saveSalvo(QStringLiteral("New"), std::nullopt);
        ControllerRig::settle();
        controller.deleteSalvo(controller.salvos().last());
        ControllerRig::settle();
    }
    QCOMPARE(controller.salvos().size(), qsizetype(ManySalvos::count));
}

QTEST_MAIN(BenchWorkspace)
#include "bench_workspace.moc"

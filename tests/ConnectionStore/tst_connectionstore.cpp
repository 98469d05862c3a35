#include "Controllers/ConnectionStore.h"
#include "Drivers/SimulatorDriver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Drivers for the tests: every router, whatever its vendor, is a simulator that comes online
// after the delay named for it (nobody ever dials the saved addresses).
struct DriverBench
{
    QHash<QString, std::chrono::milliseconds> delays; // by router name; default 10 ms
    int made = 0;

    DriverMaker maker()
    {
        return [this](const RouterConnection &connection) -> RouterDriverPtr {
            ++made;
            SimulatorDriver::Timing timing;
            timing.connectDelay = delays.value(connection.name, 10ms);
            timing.takeDelay = 1ms;
            return std::make_shared<SimulatorDriver>(connection, timing);
        };
    }
};

RouterConnection router(const QString &name, RouterVendor vendor = RouterVendor::blackmagicVideohub)
{
    RouterConnection c;
    c.name = name;
    c.vendor = vendor;
    c.host = QStringLiteral("127.0.0.1");
    c.port = vendor.defaultPort();
    return c;
}

QStringList names(const QList<RouterConnection> &list)
{
    QStringList out;
    for (const auto &c : list)
        out.append(c.name);
    return out;
}

// Everything written to standard output while `fn` runs.
QString captureStdout(const std::function<void()> &fn)
{
    QTemporaryFile sink;
    if (!sink.open())
        return {};
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(sink.handle(), STDOUT_FILENO);
    fn();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    sink.seek(0);
    return QString::fromUtf8(sink.readAll());
}

} // namespace

class tst_ConnectionStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstRunListsTheSamplesAndKeepsTheirIDs();
    void unreadableFileIsMovedAside_data();
    void unreadableFileIsMovedAside();
    void emptyListStaysEmpty();
    void recordsWithoutAnIDKeepTheIDTheyAreGiven();
    void fileKeepsOrderAndRoundTrips();
    void routerPastTheBoundIsRefused();
    void awkwardNamesSurviveEveryStore_data();
    void awkwardNamesSurviveEveryStore();
    void outsideVersionIsKeptBeforeASave_data();
    void outsideVersionIsKeptBeforeASave();

    void removingAdjustsTheSelection_data();
    void removingAdjustsTheSelection();
    void removingDeletesOnlyThatRoutersData();
    void ephemeralRouterIsNeverWritten();
    void updateReplacesRecordAndDropsController();
    void updateOfAnUnknownIDChangesNothing();
    void droppedControllerStaysSafeForItsHolder();
    void controllerIsSharedAndCreatedDisconnected();

    void launchWithOnlyTheSimulatorConnectsNothing();
    void launchSelectsTheFirstToComeOnline();
    void launchPrefersListOrderWithinOnePoll();
    void launchKeepsTheOperatorsSelection();
    void launchGivesUpAfterThePollLimit();
    void launchRunsOnceAndLeavesBusyControllersAlone();
    void launchIsCancelledByUpdateAndRemove();
    void removingAConnectingRouterReleasesItsController();

private:
    ConnectionStore::Options options();
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void writeFile(const QByteArray &bytes);
    QJsonArray fileArray() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    DriverBench m_bench;
};

void tst_ConnectionStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_bench = {};
}

void tst_ConnectionStore::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_dir.reset();
}

ConnectionStore::Options tst_ConnectionStore::options()
{
    ConnectionStore::Options o;
    o.connectionsPath = path(QStringLiteral("Quorvel/connections.json"));
    o.labelsPath = path(QStringLiteral("Quorvel/labels.json"));
    o.salvosPath = path(QStringLiteral("Quorvel/salvos.json"));
    o.panelsPath = path(QStringLiteral("Quorvel/panels.json"));
    o.driverMaker = m_bench.maker();
    o.usage = RouterController::UsageHooks {}; // no usage events leave a test
    o.launchPollInterval = 20ms;
    return o;
}

void tst_ConnectionStore::writeFile(const QByteArray &bytes)
{
    QDir().mkpath(path(QStringLiteral("Quorvel")));
    QFile file(path(QStringLiteral("Quorvel/connections.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QJsonArray tst_ConnectionStore::fileArray() const
{
    QFile file(path(QStringLiteral("Quorvel/connections.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}

void tst_ConnectionStore::firstRunListsTheSamplesAndKeepsTheirIDs()
{
    QList<RouterConnection> first;
    {
        ConnectionStore store(options());
        first = store.connections();
        QCOMPARE(names(first), (QStringList { "Demo Router", "Studio Videohub", "Ultrix Main" }));
        QCOMPARE(first[0].vendor, RouterVendor::simulator);
        QCOMPARE(first[1].vendor, RouterVendor::blackmagicVideohub);
        QCOMPARE(first[1].host, QStringLiteral("192.168.1.50"));
        QCOMPARE(first[1].port, 9990);
        QCOMPARE(first[2].vendor, RouterVendor::rossUltrix);
        QCOMPARE(first[2].host, QStringLiteral("192.168.1.60"));
        QCOMPARE(first[2].port, 2000);
        QCOMPARE(store.selectedConnectionID(), std::optional(first[0].id));
        QCOMPARE(store.selectedConnection()->name, QStringLiteral("Demo Router"));
        QVERIFY(first[0].id != first[1].id && first[1].id != first[2].id);
        // The samples used to stay unsaved, so every launch gave them new ids and their
        // labels, salvos and sub-panels were lost.
        QCOMPARE(fileArray().size(), 3);
        store.labels().set(QStringLiteral("Camera 1"), PortKind::source, 0, first[1].id);
    }
    ConnectionStore again(options());
    QCOMPARE(again.connections(), first);
    QCOMPARE(again.labels().labels(first[1].id).sources.value("0"), QStringLiteral("Camera 1"));
}

void tst_ConnectionStore::unreadableFileIsMovedAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("invalid JSON") << QByteArray("[{\"name\": ");
    QTest::newRow("an object, not a list") << QByteArray("{\"name\":\"A\"}");
    QTest::newRow("a list of numbers") << QByteArray("[5]");
    QTest::newRow("port as text") << QByteArray("[{\"name\":\"A\",\"port\":\"9990\"}]");
    QTest::newRow("unparsable id") << QByteArray("[{\"id\":\"not-a-uuid\"}]");
    QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe garbage", 12);
    // 47 MB of routers took the app past 4 GB with no window after 25 s.
    QTest::newRow("more routers than are read")
        << "[" + QByteArray("{},").repeated(ConnectionStore::maxRouters) + "{}]";
    QTest::newRow("larger than the file may hold")
        << QByteArray(ConnectionStore::maxFileSize, ' ') + "[]";
}

void tst_ConnectionStore::unreadableFileIsMovedAside()
{
    QFETCH(QByteArray, content);
    writeFile(content);
    // An older aside copy is kept: it may hold what the operator needs.
    QFile old(path(QStringLiteral("Quorvel/connections.json.corrupt")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("older");
    old.close();

    std::unique_ptr<ConnectionStore> store;
    const QString out
        = captureStdout([&] { store = std::make_unique<ConnectionStore>(options()); });
    QVERIFY(store->connections().isEmpty());
    QVERIFY(!store->selectedConnectionID().has_value());
    QVERIFY(!store->selectedConnection().has_value());
    const QString prefix = QStringLiteral(
        "ConnectionStore: unreadable connections.json moved to connections.json.corrupt-1 — ");
    QVERIFY2(out.startsWith(prefix), qPrintable(out));
    QVERIFY2(out.endsWith(QLatin1Char('\n')) && out.count(QLatin1Char('\n')) == 1, qPrintable(out));
    QVERIFY(out.size() > prefix.size() + 1); // names the error too
    QVERIFY(!QFile::exists(path(QStringLiteral("Quorvel/connections.json"))));
    QFile aside(path(QStringLiteral("Quorvel/connections.json.corrupt-1")));
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), content);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("older"));
    QCOMPARE(store->rescues().size(), 1);
    QCOMPARE(store->rescues().first().copyPath, aside.fileName());

    // The next save writes a fresh file.
    store->add(router(QStringLiteral("New")));
    QCOMPARE(fileArray().size(), 1);
}

// The 1001st router was added but never written, and from then on every save failed: a
// rename of any other router was lost too.
void tst_ConnectionStore::routerPastTheBoundIsRefused()
{
    writeFile("["
              + QByteArray("{\"vendor\":\"simulator\"},").repeated(ConnectionStore::maxRouters - 1)
              + "{}]");
    ConnectionStore store(options());
    QCOMPARE(store.connections().size(), ConnectionStore::maxRouters);
    const StoreOutcome refused = store.add(router(QStringLiteral("One more")));
    QVERIFY(refused && refused->reason.contains(QLatin1String("at most 1000 routers")));
    QCOMPARE(store.connections().size(), ConnectionStore::maxRouters);
    RouterConnection renamed = store.connections().at(5);
    renamed.name = QStringLiteral("Renamed");
    QCOMPARE(store.update(renamed), StoreOutcome());
    QCOMPARE(fileArray().size(), ConnectionStore::maxRouters);
    QCOMPARE(fileArray().at(5).toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("Renamed"));
    // Nor does a record the file could not hold: it is undone.
    // Its live controller stays too: it used to be dropped, and the router reconnected.
    RouterConnection huge = renamed;
    huge.name = QString(ConnectionStore::maxFileSize, u'x');
    const ConnectionStore::ControllerPtr controller = store.controller(renamed);
    QSignalSpy dropped(&store, &ConnectionStore::controllerDropped);
    QCOMPARE(store.update(huge).value_or(StoreFailure()).kind, StoreFailure::Kind::refused);
    QCOMPARE(store.connections().at(5).name, QStringLiteral("Renamed"));
    QCOMPARE(store.controller(renamed), controller);
    QCOMPARE(dropped.count(), 0);
    // Ephemeral routers are never written, so they do not count.
    QCOMPARE(store.add(router(QStringLiteral("Passing")), false), StoreOutcome());
}

// A name a spreadsheet hands over with U+FEFF in front lost it at the next launch, in every
// store; connections.json kept it one run longer.
void tst_ConnectionStore::awkwardNamesSurviveEveryStore_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("leading U+FEFF") << QStringLiteral("\uFEFFCam");
    QTest::newRow("trailing U+FEFF") << QStringLiteral("Cam\uFEFF");
    QTest::newRow("lone surrogates") << QChar(0xDC00) + QStringLiteral("a") + QChar(0xD800);
    QTest::newRow("line separator") << QStringLiteral("a\u2028b");
    QTest::newRow("control characters") << QStringLiteral("a\u0001\u001F\u007F\t\nb");
    QTest::newRow("1 MB") << QStringLiteral("\uFEFF\u00E9\u6F22\U0001F3AC\\\"").repeated(1 << 17);
}

void tst_ConnectionStore::awkwardNamesSurviveEveryStore()
{
    QFETCH(QString, name);
    writeFile("[]");
    const RouterConnection r = router(name);
    {
        ConnectionStore store(options());
        store.add(r);
        store.labels().set(name, PortKind::source, 0, r.id);
        store.salvoStore().add(Salvo { QUuid::createUuid(), name, {}, {}, {} }, r.id);
        store.panelStore().upsert(SubPanel { QUuid::createUuid(), name, {}, {} }, r.id);
    }
    for (int launch = 0; launch < 3; ++launch) {
        ConnectionStore store(options());
        QVERIFY(store.connections().value(0).name == name);
        QVERIFY(store.labels().labels(r.id).sources.value(QStringLiteral("0")) == name);
        QVERIFY(store.salvoStore().salvos(r.id).value(0).name == name);
        QVERIFY(store.panelStore().panels(r.id).value(0).name == name);
        // Each writes back what it read.
        QVERIFY(!store.update(store.connections().first()) && !store.labels().save()
                && !store.salvoStore().save() && !store.panelStore().save());
    }
}

void tst_ConnectionStore::outsideVersionIsKeptBeforeASave_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("outside");
    QTest::newRow("connections, changed") << "connections.json" << QByteArray("[ ]");
    QTest::newRow("labels, made") << "labels.json" << QByteArray("{ }");
    QTest::newRow("salvos, made") << "salvos.json" << QByteArray("{ }");
    QTest::newRow("panels, made") << "panels.json" << QByteArray(R"({"active":{},"panels":{} })");
}

// A restore or a sync tool's version of a store file was overwritten by the next change.
void tst_ConnectionStore::outsideVersionIsKeptBeforeASave()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, outside);
    writeFile("[]");
    ConnectionStore store(options());
    const RouterConnection a = router(QStringLiteral("A"));
    store.add(a);
    QList<StoreFile::Kept> kept;
    connect(&store, &ConnectionStore::outsideVersionKept, this,
            [&kept](const StoreFile::Kept &version) { kept.append(version); });
    const QString target = path(QStringLiteral("Quorvel/") + file);
    const auto contents = [](const QString &at) {
        QFile read(at);
        return read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray();
    };
    QFile replaced(target);
    QVERIFY(replaced.open(QIODevice::WriteOnly) && replaced.write(outside) == outside.size());
    replaced.close();
    store.remove(a); // writes all four files
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.first().fileName, file);
    QCOMPARE(kept.first().copyPath, target + QStringLiteral(".outside"));
    QCOMPARE(contents(kept.first().copyPath), outside);
    QVERIFY(contents(target) != outside);
    // The store's own version is not taken for an outside one.
    store.add(a);
    QCOMPARE(kept.size(), 1);
}

void tst_ConnectionStore::emptyListStaysEmpty()
{
    writeFile("[]");
    ConnectionStore store(options());
    QVERIFY(store.connections().isEmpty());
    QVERIFY(!store.selectedConnectionID().has_value());
    QCOMPARE(fileArray().size(), 0);
    QVERIFY(!QFile::exists(path(QStringLiteral("Quorvel/connections.json.corrupt"))));
}

void tst_ConnectionStore::recordsWithoutAnIDKeepTheIDTheyAreGiven()
{
    // A record without an id used to get a new random id at every launch.
    const QUuid known = QUuid::createUuid();
    writeFile(QStringLiteral("[{\"name\":\"Hand written\",\"vendor\":\"lightware\"},"
                             "{\"id\":null,\"name\":\"Null id\"},"
                             "{\"id\":\"%1\",\"name\":\"Known\"}]")
                  .arg(Json::uuidText(known))
                  .toUtf8());
    QList<RouterConnection> first;
    {
        ConnectionStore store(options());
        first = store.connections();
        QCOMPARE(names(first), (QStringList { "Hand written", "Null id", "Known" }));
        QCOMPARE(first[0].port, 6107);
        QCOMPARE(first[2].id, known);
    }
    ConnectionStore again(options());
    QCOMPARE(again.connections(), first);
}

void tst_ConnectionStore::fileKeepsOrderAndRoundTrips()
{
    writeFile("[]");
    RouterConnection a = router(QStringLiteral("A"));
    a.accentHue = 0.25;
    RouterConnection b = router(QStringLiteral("B"), RouterVendor::evertzQuartz);
    b.bonjourName = QStringLiteral("Hub");
    b.bonjourType = QStringLiteral("_videohub._tcp");
    {
        ConnectionStore store(options());
        QSignalSpy changed(&store, &ConnectionStore::connectionsChanged);
        QSignalSpy selected(&store, &ConnectionStore::selectedConnectionIDChanged);
        store.add(a);
        store.add(b);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(selected.size(), 2);
        QCOMPARE(store.selectedConnectionID(), std::optional(b.id));
        // Selecting the router already selected notifies nobody.
        store.setSelectedConnectionID(b.id);
        QCOMPARE(selected.size(), 2);
    }
    QFile file(path(QStringLiteral("Quorvel/connections.json")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(!bytes.contains('\n') && !bytes.contains(": "), bytes.constData()); // compact
    QVERIFY(bytes.contains(Json::uuidText(a.id).toUtf8()));
    ConnectionStore again(options());
    QCOMPARE(again.connections(), (QList<RouterConnection> { a, b }));
    // Selection is not stored: a launch starts on the first router.
    QCOMPARE(again.selectedConnectionID(), std::optional(a.id));
}

void tst_ConnectionStore::removingAdjustsTheSelection_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("expected"); // -1: none
    QTest::addColumn<int>("count");
    QTest::newRow("selected first: the next becomes first") << 0 << 0 << 1 << 3;
    QTest::newRow("selected middle: the first is selected") << 1 << 1 << 0 << 3;
    QTest::newRow("another router: selection kept") << 2 << 0 << 2 << 3;
    QTest::newRow("the last router: nothing selected") << 0 << 0 << -1 << 1;
}

void tst_ConnectionStore::removingAdjustsTheSelection()
{
    QFETCH(int, selected);
    QFETCH(int, removed);
    QFETCH(int, expected);
    QFETCH(int, count);
    writeFile("[]");
    ConnectionStore store(options());
    QList<RouterConnection> list;
    for (int i = 0; i < count; ++i) {
        list.append(router(QStringLiteral("R%1").arg(i)));
        store.add(list.last());
    }
    store.setSelectedConnectionID(list[selected].id);
    store.remove(list[removed]);
    QCOMPARE(store.connections().size(), count - 1);
    const std::optional<QUuid> want
        = expected < 0 ? std::nullopt : std::optional(list[expected].id);
    QCOMPARE(store.selectedConnectionID(), want);
    QCOMPARE(fileArray().size(), count - 1);
}

void tst_ConnectionStore::removingDeletesOnlyThatRoutersData()
{
    writeFile("[]");
    ConnectionStore store(options());
    const RouterConnection a = router(QStringLiteral("A"));
    const RouterConnection b = router(QStringLiteral("B"));
    store.add(a);
    store.add(b);
    for (const auto &c : { a, b }) {
        store.labels().set(QStringLiteral("Cam"), PortKind::source, 1, c.id);
        Salvo salvo;
        salvo.name = QStringLiteral("Show");
        salvo.routes = { Route { 0, 1, 2 } };
        store.salvoStore().add(salvo, c.id);
        SubPanel panel;
        panel.name = QStringLiteral("Desk");
        panel.sourceIndices = { 1 };
        store.panelStore().upsert(panel, c.id);
        store.panelStore().setActivePanelID(panel.id, c.id);
    }
    store.remove(a);
    QVERIFY(store.labels().labels(a.id).isEmpty());
    QVERIFY(store.salvoStore().salvos(a.id).isEmpty());
    QVERIFY(store.panelStore().panels(a.id).isEmpty());
    QVERIFY(!store.panelStore().activePanelID(a.id).has_value());
    QCOMPARE(store.labels().labels(b.id).sources.size(), 1);
    QCOMPARE(store.salvoStore().salvos(b.id).size(), 1);
    QCOMPARE(store.panelStore().panels(b.id).size(), 1);
    QVERIFY(store.panelStore().activePanelID(b.id).has_value());

    // The removal reached every file.
    QVERIFY(!LabelStore::load(path("Quorvel/labels.json"))->contains(Json::uuidText(a.id)));
    QVERIFY(!SalvoStore::load(path("Quorvel/salvos.json"))->contains(Json::uuidText(a.id)));
    const auto panels = PanelStore::load(path("Quorvel/panels.json"));
    QVERIFY(!panels->panels.contains(Json::uuidText(a.id)));
    QVERIFY(!panels->active.contains(Json::uuidText(a.id)));
    QVERIFY(panels->active.contains(Json::uuidText(b.id)));
}

void tst_ConnectionStore::ephemeralRouterIsNeverWritten()
{
    writeFile("[]");
    ConnectionStore store(options());
    RouterConnection temp = router(QStringLiteral("Temp"));
    store.add(temp, false);
    QCOMPARE(store.connections().size(), 1);
    QCOMPARE(store.selectedConnectionID(), std::optional(temp.id));
    QCOMPARE(store.controller(temp)->connection().name, QStringLiteral("Temp"));
    QCOMPARE(fileArray().size(), 0);

    store.add(router(QStringLiteral("Saved")));
    temp.name = QStringLiteral("Temp renamed");
    store.update(temp);
    QCOMPARE(names(store.connections()), (QStringList { "Temp renamed", "Saved" }));
    const QJsonArray written = fileArray();
    QCOMPARE(written.size(), 1);
    QCOMPARE(written[0].toObject().value("name").toString(), QStringLiteral("Saved"));

    ConnectionStore again(options());
    QCOMPARE(names(again.connections()), QStringList { "Saved" });
}

void tst_ConnectionStore::updateReplacesRecordAndDropsController()
{
    writeFile("[]");
    ConnectionStore store(options());
    RouterConnection a = router(QStringLiteral("A"));
    store.add(a);
    const auto before = store.controller(a);
    before->connect();
    QTRY_COMPARE(before->status().kind(), ConnectionStatus::connected);

    RouterConnection edited = a;
    edited.name = QStringLiteral("A edited");
    edited.port = 9991;
    QSignalSpy changed(&store, &ConnectionStore::connectionsChanged);
    // Views rebuild when they hear of the change: they must already get the new controller.
    // (They used to be handed the old one, which was dropped right after.)
    ConnectionStore::ControllerPtr seenByObserver;
    connect(&store, &ConnectionStore::connectionsChanged, this,
            [&] { seenByObserver = store.controller(edited); });
    store.update(edited);
    QCOMPARE(changed.size(), 1);
    QVERIFY(seenByObserver && seenByObserver != before);
    QCOMPARE(store.connections().first(), edited);
    QCOMPARE(before->status().kind(), ConnectionStatus::disconnected);

    const auto after = store.controller(edited);
    QCOMPARE(after, seenByObserver);
    QCOMPARE(after->status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(after->connection(), edited);
    QCOMPARE(store.controller(a), after); // looked up by id only
    QCOMPARE(fileArray()[0].toObject().value("port").toInt(), 9991);

    // An update that changes nothing still rebuilds the controller.
    store.update(edited);
    QVERIFY(store.controller(edited) != after);
}

void tst_ConnectionStore::updateOfAnUnknownIDChangesNothing()
{
    writeFile("[]");
    ConnectionStore store(options());
    store.add(router(QStringLiteral("A")));
    QFile::remove(path(QStringLiteral("Quorvel/connections.json")));
    QSignalSpy changed(&store, &ConnectionStore::connectionsChanged);
    store.update(router(QStringLiteral("Stranger")));
    QCOMPARE(changed.size(), 0);
    QCOMPARE(names(store.connections()), QStringList { "A" });
    QVERIFY(!QFile::exists(path(QStringLiteral("Quorvel/connections.json")))); // nothing written
}

void tst_ConnectionStore::droppedControllerStaysSafeForItsHolder()
{
    writeFile("[]");
    ConnectionStore store(options());
    const RouterConnection a = router(QStringLiteral("A"));
    store.add(a);
    std::shared_ptr<RouterController> held = store.controller(a);
    QPointer<RouterController> watch = held.get();
    held->connect();
    QTRY_COMPARE(held->status().kind(), ConnectionStatus::connected);
    held->take(1, 2); // a take still in flight when the router goes

    store.remove(a);
    QTest::qWait(30);
    QVERIFY(watch); // still alive for the view holding it
    QCOMPARE(held->status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(held->connection().name, QStringLiteral("A"));

    held.reset();
    QTRY_VERIFY(!watch); // released once its last holder lets go
}

void tst_ConnectionStore::controllerIsSharedAndCreatedDisconnected()
{
    writeFile("[]");
    ConnectionStore store(options());
    const RouterConnection a = router(QStringLiteral("A"));
    store.add(a);
    const auto first = store.controller(a);
    QCOMPARE(store.controller(a), first);
    QCOMPARE(first->status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(m_bench.made, 0); // creating a controller connects nothing
}

void tst_ConnectionStore::launchWithOnlyTheSimulatorConnectsNothing()
{
    writeFile("[]");
    ConnectionStore store(options());
    const RouterConnection sim = router(QStringLiteral("Sim"), RouterVendor::simulator);
    store.add(sim);
    QSignalSpy selected(&store, &ConnectionStore::selectedConnectionIDChanged);
    store.autoConnectOnLaunch();
    QTest::qWait(100);
    QCOMPARE(m_bench.made, 0);
    QCOMPARE(store.controller(sim)->status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(selected.size(), 0);
    QVERIFY(store.findChildren<QTimer *>().isEmpty()); // no auto-select task
}

void tst_ConnectionStore::launchSelectsTheFirstToComeOnline()
{
    writeFile("[]");
    m_bench.delays = { { "Slow", 400ms }, { "Quick", 30ms } };
    ConnectionStore store(options());
    const RouterConnection sim = router(QStringLiteral("Sim"), RouterVendor::simulator);
    const RouterConnection slow = router(QStringLiteral("Slow"));
    const RouterConnection quick = router(QStringLiteral("Quick"), RouterVendor::lightware);
    store.add(sim);
    store.add(slow);
    store.add(quick);
    store.setSelectedConnectionID(sim.id);
    store.autoConnectOnLaunch();
    QCOMPARE(m_bench.made, 2); // the simulator is not connected at launch
    QCOMPARE(store.controller(sim)->status().kind(), ConnectionStatus::disconnected);
    QTRY_COMPARE(store.selectedConnectionID(), std::optional(quick.id));
    QTRY_COMPARE(store.controller(slow)->status().kind(), ConnectionStatus::connected);
    QTest::qWait(60);
    QCOMPARE(store.selectedConnectionID(), std::optional(quick.id));
}

void tst_ConnectionStore::launchPrefersListOrderWithinOnePoll()
{
    writeFile("[]");
    m_bench.delays = { { "First", 40ms }, { "Second", 5ms } };
    auto o = options();
    o.launchPollInterval = 200ms; // both are online before the first poll
    ConnectionStore store(o);
    const RouterConnection first = router(QStringLiteral("First"));
    const RouterConnection second = router(QStringLiteral("Second"));
    store.add(first);
    store.add(second);
    store.autoConnectOnLaunch();
    QTRY_VERIFY(store.controller(first)->status().isConnected()
                && store.controller(second)->status().isConnected());
    QCOMPARE(store.selectedConnectionID(), std::optional(second.id)); // not yet polled
    QTRY_COMPARE(store.selectedConnectionID(), std::optional(first.id));
}

void tst_ConnectionStore::launchKeepsTheOperatorsSelection()
{
    writeFile("[]");
    m_bench.delays = { { "A", 150ms } };
    ConnectionStore store(options());
    const RouterConnection sim = router(QStringLiteral("Sim"), RouterVendor::simulator);
    const RouterConnection a = router(QStringLiteral("A"));
    store.add(sim);
    store.add(a);
    store.setSelectedConnectionID(a.id);
    store.autoConnectOnLaunch();
    store.setSelectedConnectionID(sim.id); // the operator picks a router first
    QTRY_VERIFY(store.controller(a)->status().isConnected());
    QTest::qWait(80);
    QCOMPARE(store.selectedConnectionID(), std::optional(sim.id));
}

void tst_ConnectionStore::launchGivesUpAfterThePollLimit()
{
    writeFile("[]");
    m_bench.delays = { { "Never", 1h } };
    auto o = options();
    o.launchPollInterval = 5ms;
    o.launchPollLimit = 5;
    ConnectionStore store(o);
    const RouterConnection sim = router(QStringLiteral("Sim"), RouterVendor::simulator);
    const RouterConnection never = router(QStringLiteral("Never"));
    store.add(sim);
    store.add(never);
    store.setSelectedConnectionID(sim.id);
    store.autoConnectOnLaunch();
    QCOMPARE(store.controller(never)->status().kind(), ConnectionStatus::connecting);
    QTRY_VERIFY(store.findChildren<QTimer *>().isEmpty()); // the task ended
    QCOMPARE(store.selectedConnectionID(), std::optional(sim.id));
}

void tst_ConnectionStore::launchRunsOnceAndLeavesBusyControllersAlone()
{
    writeFile("[]");
    m_bench.delays = { { "Busy", 1h } };
    ConnectionStore store(options());
    const RouterConnection busy = router(QStringLiteral("Busy"));
    const RouterConnection idle = router(QStringLiteral("Idle"));
    store.add(busy);
    store.add(idle);
    const auto busyController = store.controller(busy);
    busyController->connect();
    store.setSelectedConnectionID(busy.id);
    QCOMPARE(m_bench.made, 1);
    store.autoConnectOnLaunch();
    QCOMPARE(m_bench.made, 2); // only the idle router was connected
    store.autoConnectOnLaunch();
    QCOMPARE(m_bench.made, 2);
    QTRY_COMPARE(store.selectedConnectionID(), std::optional(idle.id));

    store.controller(idle)->disconnect();
    store.autoConnectOnLaunch();
    QCOMPARE(m_bench.made, 2);
}

void tst_ConnectionStore::launchIsCancelledByUpdateAndRemove()
{
    for (bool viaRemove : { false, true }) {
        init();
        writeFile("[]");
        m_bench.delays = { { "A", 60ms }, { "B", 60ms } };
        ConnectionStore store(options());
        const RouterConnection sim = router(QStringLiteral("Sim"), RouterVendor::simulator);
        const RouterConnection a = router(QStringLiteral("A"));
        const RouterConnection b = router(QStringLiteral("B"));
        store.add(sim);
        store.add(a);
        store.add(b);
        store.setSelectedConnectionID(sim.id);
        store.autoConnectOnLaunch();
        if (viaRemove)
            store.remove(a);
        else
            store.update(a);
        QTRY_VERIFY(store.controller(b)->status().isConnected());
        QTest::qWait(80);
        QCOMPARE(store.selectedConnectionID(), std::optional(sim.id));
    }
}

void tst_ConnectionStore::removingAConnectingRouterReleasesItsController()
{
    writeFile("[]");
    m_bench.delays = { { "Gone", 1h } };
    ConnectionStore store(options());
    const RouterConnection gone = router(QStringLiteral("Gone"));
    store.add(gone);
    store.autoConnectOnLaunch();
    const QPointer<RouterController> watch = store.controller(gone).get();
    QCOMPARE(watch->status().kind(), ConnectionStatus::connecting);
    store.remove(gone);
    QTRY_VERIFY(!watch);
    QVERIFY(!store.selectedConnectionID().has_value());
    QTRY_VERIFY(store.findChildren<QTimer *>().isEmpty());
}

QTEST_GUILESS_MAIN(tst_ConnectionStore)
#include "tst_connectionstore.moc"

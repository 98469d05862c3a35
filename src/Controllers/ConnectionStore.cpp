#include "Controllers/ConnectionStore.h"

#include "Model/EncodedJson.h"
#include "Platform/Observed.h"
#include "Platform/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

namespace {

QString orDefault(const QString &path, QString (*fallback)())
{
    return path.isEmpty() ? fallback() : path;
}

// A controller can be dropped from inside one of its own signals (a view reacting to it
// removes the router); deleting it there would pull the object out from under the signal.
void releaseController(RouterController *controller)
{
    if (QThread::currentThread()->loopLevel() > 0)
        controller->deleteLater();
    else
        delete controller;
}

bool hasID(const QJsonObject &object)
{
    const auto it = object.constFind(QStringLiteral("id"));
    return it != object.constEnd() && !it->isNull();
}

} // namespace

ConnectionStore::ConnectionStore(QObject *parent)
    : ConnectionStore(Options(), parent)
{ }

ConnectionStore::ConnectionStore(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_file(orDefault(m_options.connectionsPath, &ConnectionStore::defaultStoreURL), maxFileSize)
    , m_labels(orDefault(m_options.labelsPath, &LabelStore::defaultURL))
    , m_salvoStore(orDefault(m_options.salvosPath, &SalvoStore::defaultURL))
    , m_panelStore(orDefault(m_options.panelsPath, &PanelStore::defaultURL))
{
    if (!m_options.driverMaker)
        m_options.driverMaker = DriverFactory::makeDriver;
    m_file.setOnKept([this](const StoreFile::Kept &kept) { emit outsideVersionKept(kept); });
    connect(&m_labels, &LabelStore::outsideVersionKept, this, &ConnectionStore::outsideVersionKept);
    connect(&m_salvoStore, &SalvoStore::outsideVersionKept, this,
            &ConnectionStore::outsideVersionKept);
    connect(&m_panelStore, &PanelStore::outsideVersionKept, this,
            &ConnectionStore::outsideVersionKept);

    std::optional<Loaded> loaded = load();
    if (loaded) {
        m_connections = loaded->connections;
        // Ids given now must reach the file, or the next launch gives new ones and the
        // router's labels, salvos and sub-panels are orphaned.
        if (loaded->assignedIDs)
            save();
    } else {
        m_connections = seed();
        // The sample routers are written at once for the same reason.
        save();
    }
    if (!m_connections.isEmpty())
        m_selectedConnectionID = m_connections.first().id;
}

ConnectionStore::~ConnectionStore()
{
    shutDown();
}

void ConnectionStore::shutDown()
{
    cancelAutoSelect();
    for (const ControllerPtr &controller : std::as_const(m_controllerCache))
        controller->shutDown();
}

QString ConnectionStore::defaultStoreURL()
{
    return StoreFile::defaultPath(QStringLiteral("connections.json"));
}

QList<RouterConnection> ConnectionStore::seed()
{
    auto make = [](const QString &name, RouterVendor vendor, const QString &host, int port) {
        RouterConnection c;
        c.name = name;
        c.vendor = vendor;
        c.host = host;
        c.port = port;
        c.simSourceCount = 16;
        c.simDestinationCount = 16;
        return c;
    };
    return { make(QStringLiteral("Demo Router"), RouterVendor::simulator, QString(), 0),
             make(QStringLiteral("Studio Videohub"), RouterVendor::blackmagicVideohub,
                  QStringLiteral("192.168.1.50"), 9990),
             make(QStringLiteral("Ultrix Main"), RouterVendor::rossUltrix,
                  QStringLiteral("192.168.1.60"), 2000) };
}

std::optional<ConnectionStore::Loaded> ConnectionStore::load()
{
    const auto decode = [](const QJsonDocument &document) -> std::expected<Loaded, QString> {
        if (!document.isArray())
            return std::unexpected(QStringLiteral("the file does not hold a list of routers"));
        Loaded loaded;
        const QJsonArray array = document.array();
        if (array.size() > maxRouters)
            return std::unexpected(Text::format(
                QStringLiteral("the file lists %1 routers, more than the %2 that are read"),
                array.size(), maxRouters));
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QJsonValue value = array.at(i);
            if (!value.isObject())
                return std::unexpected(QStringLiteral("router %1 is not an object").arg(i + 1));
            const QJsonObject object = value.toObject();
            auto connection = RouterConnection::fromJson(object);
            if (!connection)
                return std::unexpected(
                    Text::format(QStringLiteral("router %1: %2"), i + 1, connection.error()));
            if (!hasID(object))
                loaded.assignedIDs = true;
            loaded.connections.append(*connection);
        }
        return loaded;
    };
    auto loaded = m_file.load(decode, QStringLiteral("ConnectionStore"));
    if (!loaded && m_file.rescue())
        return Loaded {};
    return loaded;
}

std::expected<QByteArray, StoreFailure>
ConnectionStore::encode(const QList<RouterConnection> &connections) const
{
    QJsonArray array;
    for (const RouterConnection &connection : connections) {
        if (!m_ephemeralIDs.contains(connection.id))
            array.append(connection.toJson());
    }
    // A list the next launch would refuse is not written: the file keeps the last one it took.
    std::optional<QString> refused;
    QByteArray bytes;
    if (array.size() > maxRouters) {
        refused = Text::format(QStringLiteral("%1 routers are more than the %2 the file may hold."),
                               array.size(), maxRouters);
    } else {
        bytes = EncodedJson::text(array);
        refused = m_file.refusal(bytes.size());
    }
    if (!refused)
        return bytes;
    StoreFile::printLine(QStringLiteral("ConnectionStore: save failed — ") + *refused);
    return std::unexpected(
        StoreFailure { StoreFailure::Kind::refused, *refused, m_file.fileName() });
}

StoreOutcome ConnectionStore::save()
{
    return write(encode(m_connections));
}

StoreOutcome ConnectionStore::write(const std::expected<QByteArray, StoreFailure> &bytes)
{
    if (!bytes)
        return bytes.error();
    return m_file.save(*bytes, QStringLiteral("ConnectionStore"));
}

int ConnectionStore::savedCount() const
{
    return int(std::count_if(
        m_connections.cbegin(), m_connections.cend(),
        [this](const RouterConnection &c) { return !m_ephemeralIDs.contains(c.id); }));
}

QList<StoreFile::Rescue> ConnectionStore::rescues() const
{
    QList<StoreFile::Rescue> found;
    for (const auto *rescue :
         { &m_file.rescue(), &m_labels.rescue(), &m_salvoStore.rescue(), &m_panelStore.rescue() }) {
        if (*rescue)
            found.append(**rescue);
    }
    return found;
}

void ConnectionStore::setConnections(const QList<RouterConnection> &connections)
{
    Observed::assign(m_connections, connections, [this] { emit connectionsChanged(); });
}

void ConnectionStore::setSelectedConnectionID(const std::optional<QUuid> &id)
{
    Observed::assign(m_selectedConnectionID, id, [this] { emit selectedConnectionIDChanged(); });
}

std::optional<RouterConnection> ConnectionStore::selectedConnection() const
{
    if (!m_selectedConnectionID)
        return std::nullopt;
    for (const RouterConnection &connection : m_connections) {
        if (connection.id == *m_selectedConnectionID)
            return connection;
    }
    return std::nullopt;
}

ConnectionStore::ControllerPtr ConnectionStore::controller(const RouterConnection &connection)
{
    if (auto it = m_controllerCache.constFind(connection.id); it != m_controllerCache.constEnd())
        return *it;
    ControllerPtr made(new RouterController(connection, m_labels, m_salvoStore, m_panelStore,
                                            m_options.driverMaker, m_options.usage),
                       &releaseController);
    m_controllerCache.insert(connection.id, made);
    return made;
}

bool ConnectionStore::dropController(const QUuid &id)
{
    const ControllerPtr controller = m_controllerCache.take(id);
    if (controller)
        controller->disconnect();
    return bool(controller);
}

StoreOutcome ConnectionStore::add(const RouterConnection &connection, bool persist)
{
    // Refused here rather than at the write: a list past the bound is never written, so every
    // later edit of any router would be lost with it.
    if (persist && savedCount() >= maxRouters) {
        return StoreFailure { StoreFailure::Kind::refused,
                              QStringLiteral("Quorvel keeps at most %1 routers; delete one "
                                             "before adding another.")
                                  .arg(maxRouters),
                              m_file.fileName() };
    }
    const QList<RouterConnection> before = m_connections;
    const std::optional<QUuid> selected = m_selectedConnectionID;
    QList<RouterConnection> list = m_connections;
    list.append(connection);
    setConnections(list);
    setSelectedConnectionID(connection.id);
    if (!persist) {
        m_ephemeralIDs.insert(connection.id);
        return std::nullopt;
    }
    const StoreOutcome outcome = save();
    if (outcome && outcome->kind == StoreFailure::Kind::refused) {
        setSelectedConnectionID(selected);
        setConnections(before);
    }
    return outcome;
}

StoreOutcome ConnectionStore::update(const RouterConnection &connection)
{
    const auto it = std::find_if(m_connections.cbegin(), m_connections.cend(),
                                 [&](const RouterConnection &c) { return c.id == connection.id; });
    if (it == m_connections.cend())
        return std::nullopt;
    QList<RouterConnection> list = m_connections;
    list[it - m_connections.cbegin()] = connection;
    // Refused before anything changes, so the router keeps its record and its live controller.
    const auto bytes = encode(list);
    if (!bytes)
        return bytes.error();
    cancelAutoSelect();
    // Dropped first, so that whoever hears of the new list asks for the fresh controller.
    // Save replaces the router even when nothing changed, and an equal list notifies no
    // one: the views hear of the dropped controller separately.
    const bool dropped = dropController(connection.id);
    setConnections(list);
    const StoreOutcome outcome = write(bytes);
    if (dropped)
        emit controllerDropped(connection.id);
    return outcome;
}

StoreOutcome ConnectionStore::remove(const RouterConnection &connection)
{
    const QUuid id = connection.id;
    cancelAutoSelect();
    const bool dropped = dropController(id);
    StoreOutcome outcome = m_labels.removeAll(id);
    outcome = firstFailure(outcome, m_salvoStore.removeAll(id));
    outcome = firstFailure(outcome, m_panelStore.removeAll(id));
    m_ephemeralIDs.remove(id);

    QList<RouterConnection> list = m_connections;
    list.removeIf([&](const RouterConnection &c) { return c.id == id; });
    setConnections(list);
    if (m_selectedConnectionID == id) {
        setSelectedConnectionID(m_connections.isEmpty() ? std::nullopt
                                                        : std::optional(m_connections.first().id));
    }
    outcome = firstFailure(save(), outcome);
    if (dropped)
        emit controllerDropped(id);
    return outcome;
}

void ConnectionStore::autoConnectOnLaunch()
{
    if (m_didRunLaunchConnect)
        return;
    m_didRunLaunchConnect = true;

    QList<RouterConnection> launch;
    for (const RouterConnection &connection : std::as_const(m_connections)) {
        if (connection.vendor != RouterVendor::simulator)
            launch.append(connection);
    }
    if (launch.isEmpty())
        return;

    m_launchIDs.clear();
    for (const RouterConnection &connection : std::as_const(launch)) {
        m_launchIDs.append(connection.id);
        const ControllerPtr c = controller(connection);
        if (c->status().kind() == ConnectionStatus::disconnected)
            c->connect();
    }

    m_launchSnapshot = m_selectedConnectionID;
    cancelAutoSelect();
    m_launchPolls = 0;
    auto *timer = new QTimer(this);
    timer->setInterval(m_options.launchPollInterval);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &ConnectionStore::pollLaunch);
    m_autoSelectTimer = timer;
    timer->start();
}

void ConnectionStore::pollLaunch()
{
    if (!m_autoSelectTimer)
        return;
    ++m_launchPolls;
    const bool lastPoll = m_launchPolls >= m_options.launchPollLimit;

    if (m_selectedConnectionID != m_launchSnapshot) {
        cancelAutoSelect(); // the operator has chosen a router meanwhile
        return;
    }
    // Re-read the saved routers: one removed since launch is skipped.
    for (const QUuid &id : std::as_const(m_launchIDs)) {
        const auto it = std::find_if(m_connections.cbegin(), m_connections.cend(),
                                     [&](const RouterConnection &c) { return c.id == id; });
        if (it == m_connections.cend())
            continue;
        if (controller(*it)->status().kind() == ConnectionStatus::connected) {
            cancelAutoSelect();
            setSelectedConnectionID(id);
            return;
        }
    }
    if (lastPoll)
        cancelAutoSelect();
}

void ConnectionStore::cancelAutoSelect()
{
    if (QTimer *timer = m_autoSelectTimer.data()) {
        m_autoSelectTimer.clear();
        timer->stop();
        timer->deleteLater();
    }
}

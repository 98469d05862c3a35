#include "Controllers/RouterController.h"

#include "Controllers/SalvoMatcher.h"

#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"
#include "Platform/Async.h"
#include "Platform/Observed.h"
#include "Support/Analytics.h"

#include <QLoggingCategory>
#include <QPointer>

Q_LOGGING_CATEGORY(lcController, "quorvel.controller", QtWarningMsg)

RouterController::UsageHooks RouterController::UsageHooks::shared()
{
    return {
        [](RouterVendor vendor) { Analytics::shared().connected(vendor); },
        [] {
            Analytics &analytics = Analytics::shared();
            analytics.setTakeCount(analytics.takeCount() + 1);
        },
        [] {
            Analytics &analytics = Analytics::shared();
            analytics.setSalvoCount(analytics.salvoCount() + 1);
        },
    };
}

RouterController::RouterController(const RouterConnection &connection, LabelStore &labelStore,
                                   SalvoStore &salvoStore, PanelStore &panelStore,
                                   DriverMaker driverMaker, UsageHooks usage, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_labelStore(labelStore)
    , m_salvoStore(salvoStore)
    , m_panelStore(panelStore)
    , m_driverMaker(driverMaker ? std::move(driverMaker) : DriverFactory::makeDriver)
    , m_usage(std::move(usage))
{
    m_state.deviceName = connection.name;
    m_state.vendor = connection.vendor;

    m_salvos = m_salvoStore.salvos(m_connection.id);
    m_panels = m_panelStore.panels(m_connection.id);

    // Restore the stored choice only when it still names one of this router's panels; the
    // change rule then runs as for any write (and stores the same id again).
    const std::optional<QUuid> stored = m_panelStore.activePanelID(m_connection.id);
    if (stored && panelWithId(stored))
        chooseActivePanel(stored); // nobody chose anything yet: a failed write is not news
}

RouterController::~RouterController()
{
    // Nobody is told of a change from a controller that is going.
    m_inDriverBurst = false;
    m_batchDepth = 0;
    // Nothing may keep delivering into a destroyed controller, and a driver left connected
    // would hold its link open for the rest of the run. Nothing is posted from here: a task
    // left behind may be destroyed unrun with the event loop, taking the driver with it.
    teardown(DriverEnd::now);
}

// --- Connection ----------------------------------------------------------------------------

void RouterController::connect()
{
    teardown();
    clearPending();

    RouterDriverPtr driver = m_driverMaker(m_connection);
    if (!driver) {
        // A factory that cannot make a driver leaves nothing to wait for.
        setStatus(ConnectionStatus::failure(QStringLiteral("No driver is available for %1.")
                                                .arg(m_connection.vendor.displayName())));
        return;
    }
    m_driver = driver;
    m_eventStream = driver->events();
    const quint64 generation = ++m_driverGeneration;

    setStatus(ConnectionStatus::connecting);
    setLastError(std::nullopt);

    if (m_eventStream) {
        QPointer<RouterController> self(this);
        m_eventStream->read(
            this,
            [self, generation](const RouterDriverEvent &event) {
                // Delivery is bound to this controller as context, so `self` is only a second
                // guard; the generation drops anything a torn-down driver still had in flight.
                if (!self || self->m_driverGeneration != generation || !self->m_driver)
                    return;
                // A burst of events reaches the views as one change of state.
                if (!self->m_inDriverBurst) {
                    self->m_inDriverBurst = true;
                    self->openBatch();
                }
                self->apply(event);
            },
            {},
            [self] {
                if (self)
                    self->endDriverBurst();
            });
    }

    // Nothing follows the driver's connect, and only ending the driver at once cancels it:
    // a queued disconnect runs after it anyway.
    auto cancelled = std::make_shared<bool>(false);
    m_connectCancelled = cancelled;
    Platform::postToUi([driver, cancelled] {
        if (!*cancelled)
            driver->connect();
    });
}

void RouterController::disconnect()
{
    teardown();
    clearPending();
    setStatus(ConnectionStatus::disconnected);
    setStatusMessage(QString());
}

void RouterController::shutDown()
{
    teardown(DriverEnd::now);
    clearPending();
    setStatus(ConnectionStatus::disconnected);
    setStatusMessage(QString());
}

void RouterController::teardown(DriverEnd end)
{
    // Nothing more comes of this driver to confirm what it was sent.
    m_unconfirmed.clear();
    // A reader cancelled in mid-burst is never told that the burst ended.
    endDriverBurst();
    if (m_eventStream) {
        m_eventStream->cancelReader();
        m_eventStream.reset();
    }
    const std::shared_ptr<bool> connectCancelled = std::exchange(m_connectCancelled, nullptr);
    if (RouterDriverPtr driver = std::exchange(m_driver, nullptr)) {
        if (end == DriverEnd::now) {
            if (connectCancelled)
                *connectCancelled = true;
            driver->disconnect();
        } else {
            // Not awaited: teardown returns at once, the driver finishes on its own.
            Platform::postToUi([driver] { driver->disconnect(); });
        }
    }
    ++m_driverGeneration;
}

void RouterController::setStatus(const ConnectionStatus &status)
{
    Observed::assign(m_status, status, [this] { emit statusChanged(); });
}

void RouterController::setStatusMessage(const QString &message)
{
    Observed::assign(m_statusMessage, message, [this] { emit statusMessageChanged(); });
}

void RouterController::setLastError(const std::optional<QString> &error)
{
    Observed::assign(m_lastError, error, [this] { emit lastErrorChanged(); });
}

// --- Notification batches ------------------------------------------------------------------

RouterController::NotifyBatch::NotifyBatch(RouterController &controller)
    : m_controller(controller)
{
    m_controller.openBatch();
}

RouterController::NotifyBatch::~NotifyBatch()
{
    m_controller.closeBatch();
}

void RouterController::openBatch()
{
    ++m_batchDepth;
}

void RouterController::closeBatch()
{
    if (m_batchDepth == 0 || --m_batchDepth > 0)
        return;
    if (std::exchange(m_batchedStateChange, false))
        emit stateChanged();
}

void RouterController::notifyStateChanged()
{
    if (m_batchDepth > 0)
        m_batchedStateChange = true;
    else
        emit stateChanged();
}

void RouterController::endDriverBurst()
{
    if (!std::exchange(m_inDriverBurst, false))
        return;
    overlayChangedLabels();
    closeBatch();
}

// --- Events --------------------------------------------------------------------------------

namespace {

// The highest port, level or input index kept from a driver: what every protocol's port
// counts are capped to, so a router cannot grow the maps without bound.
constexpr int maxDriverIndex = 4095;

bool bounded(int index)
{
    return index >= 0 && index <= maxDriverIndex;
}

} // namespace

void RouterController::apply(const RouterDriverEvent &event)
{
    switch (event.type) {
    case RouterDriverEvent::status:
        setStatusMessage(event.text);
        break;
    case RouterDriverEvent::connected:
    case RouterDriverEvent::stateReplaced:
        applyNewState(event.state);
        break;
    case RouterDriverEvent::routeChanged: {
        if (!bounded(event.level) || !bounded(event.destination)
            || (event.source && !bounded(*event.source)))
            break;
        // The router's own word on a crosspoint settles what a take wrote there.
        const bool settled
            = m_unconfirmed.remove(SalvoMatcher::crosspoint(event.level, event.destination));
        auto level = m_state.routing.find(event.level);
        if (event.source || (level != m_state.routing.end() && level->contains(event.destination)))
            writeRoute(event.level, event.destination, event.source);
        else if (settled) {
            emit routeChanged(event.level, event.destination);
            notifyStateChanged();
        }
        break;
    }
    case RouterDriverEvent::labelChanged: {
        // Only ports of the state have a base label, so a label for a port the state lacks is
        // not kept: it could never show, and a router cannot grow the map without bound.
        QHash<int, QString> &base
            = event.kind == PortKind::destination ? m_baseDestinationLabels : m_baseSourceLabels;
        const auto known = base.find(event.index);
        if (known == base.end() || !bounded(event.index))
            break;
        *known = event.label;
        // Laid over the ports once, when the burst ends: a router may rename every port in
        // one block, and each overlay and the views' relayout cost as much as the port count.
        (event.kind == PortKind::destination ? m_changedDestinationLabels : m_changedSourceLabels)
            .insert(event.index);
        if (!m_inDriverBurst)
            overlayChangedLabels();
        break;
    }
    case RouterDriverEvent::lockChanged:
        if (!bounded(event.destination))
            break;
        writeLock(event.destination, event.locked);
        break;
    case RouterDriverEvent::inputStatusChanged:
        if (!bounded(event.index))
            break;
        if (event.inputStatus)
            m_state.inputStatus.insert(event.index, *event.inputStatus);
        else
            m_state.inputStatus.remove(event.index);
        emit inputStatusChanged(event.index);
        notifyStateChanged();
        break;
    case RouterDriverEvent::disconnected:
        // A watchdog or receive failure ends with a bare disconnection; the operator must
        // still see why the link failed, so a failure stays until a reason replaces it.
        if (!event.reason && m_status.kind() == ConnectionStatus::failed)
            break;
        setStatus(ConnectionStatus::disconnected);
        if (event.reason)
            setStatusMessage(*event.reason);
        break;
    case RouterDriverEvent::error:
        setLastError(event.text);
        setStatus(ConnectionStatus::failure(event.text));
        setStatusMessage(QString());
        break;
    case RouterDriverEvent::commandRefused:
        setLastError(event.text);
        break;
    }
}

namespace {

// `state` without the routes, locks and input statuses whose numbers are out of bounds.
RouterState withinBounds(const RouterState &state)
{
    RouterState kept = state;
    for (auto level = kept.routing.begin(); level != kept.routing.end();) {
        if (!bounded(level.key())) {
            level = kept.routing.erase(level);
            continue;
        }
        for (auto route = level->begin(); route != level->end();) {
            if (!bounded(route.key()) || !bounded(route.value()))
                route = level->erase(route);
            else
                ++route;
        }
        ++level;
    }
    for (auto it = kept.lockedDestinations.begin(); it != kept.lockedDestinations.end();) {
        if (!bounded(*it))
            it = kept.lockedDestinations.erase(it);
        else
            ++it;
    }
    for (auto it = kept.inputStatus.begin(); it != kept.inputStatus.end();) {
        if (!bounded(it.key()))
            it = kept.inputStatus.erase(it);
        else
            ++it;
    }
    return kept;
}

bool isWithinBounds(const RouterState &state)
{
    for (auto level = state.routing.cbegin(); level != state.routing.cend(); ++level) {
        if (!bounded(level.key()))
            return false;
        for (auto route = level->cbegin(); route != level->cend(); ++route) {
            if (!bounded(route.key()) || !bounded(route.value()))
                return false;
        }
    }
    for (int destination : state.lockedDestinations) {
        if (!bounded(destination))
            return false;
    }
    for (auto it = state.inputStatus.cbegin(); it != state.inputStatus.cend(); ++it) {
        if (!bounded(it.key()))
            return false;
    }
    return true;
}

} // namespace

void RouterController::applyNewState(const RouterState &reported)
{
    const NotifyBatch batch(*this);
    // Only a state that breaks the bounds pays for a copy.
    std::optional<RouterState> trimmed;
    if (!isWithinBounds(reported))
        trimmed = withinBounds(reported);
    const RouterState &newState = trimmed ? *trimmed : reported;
    m_unconfirmed.clear();
    if (!(m_state == newState)) {
        m_state = newState;
        invalidateVisiblePorts();
        emit stateReplaced();
        notifyStateChanged();
    }

    if (m_status.kind() != ConnectionStatus::connected) {
        if (m_usage.connected)
            m_usage.connected(m_connection.vendor);
        setStatus(ConnectionStatus::connected);
    }
    setLastError(std::nullopt);
    setStatusMessage(QString());

    const QSet<int> levels = levelIndices();
    setBreakawayLevels(m_breakawayLevels & levels);
    if (!levels.contains(m_primaryLevel))
        setPrimaryLevel(m_state.levels.isEmpty() ? 0 : m_state.levels.first().index);

    QSet<int> destinations;
    destinations.reserve(m_state.destinations.size());
    for (const Port &port : std::as_const(m_state.destinations))
        destinations.insert(port.index);
    QSet<int> sources;
    sources.reserve(m_state.sources.size());
    for (const Port &port : std::as_const(m_state.sources))
        sources.insert(port.index);

    if (!m_selectedDestination || !destinations.contains(*m_selectedDestination)) {
        setSelectedDestination(m_state.destinations.isEmpty()
                                   ? std::nullopt
                                   : std::optional<int>(m_state.destinations.first().index));
    }
    if (!m_selectedSource || !sources.contains(*m_selectedSource)) {
        setSelectedSource(m_state.sources.isEmpty()
                              ? std::nullopt
                              : std::optional<int>(m_state.sources.first().index));
    }
    setSelectedDestinations(m_selectedDestinations & destinations);
    setPendingDestinations(m_pendingDestinations & destinations);
    pruneSelectionsToVisible();

    captureBaseLabels(m_state);
    applyLabelOverrides();
}

void RouterController::captureBaseLabels(const RouterState &from)
{
    m_baseSourceLabels.clear();
    m_baseDestinationLabels.clear();
    for (const Port &port : from.sources)
        m_baseSourceLabels.insert(port.index, port.label);
    for (const Port &port : from.destinations)
        m_baseDestinationLabels.insert(port.index, port.label);
}

namespace {

// What a port shows: the user's override, else the router's own label, else what it has.
const QString &overlaidLabel(const Port &port, const QMap<QString, QString> &user,
                             const QHash<int, QString> &base)
{
    const auto custom = user.constFind(QString::number(port.index));
    if (custom != user.cend())
        return *custom;
    const auto own = base.constFind(port.index);
    return own != base.cend() ? *own : port.label;
}

} // namespace

void RouterController::applyLabelOverrides()
{
    const PortLabels overrides = m_labelStore.labels(m_connection.id);
    bool changed = false;
    const auto overlay = [&](QList<Port> &ports, const QMap<QString, QString> &user,
                             const QHash<int, QString> &base) {
        for (Port &port : ports) {
            const QString &label = overlaidLabel(port, user, base);
            if (label != port.label) {
                port.label = label;
                changed = true;
            }
        }
    };
    overlay(m_state.sources, overrides.sources, m_baseSourceLabels);
    overlay(m_state.destinations, overrides.destinations, m_baseDestinationLabels);
    // Every port is overlaid: nothing of a burst is left to do.
    m_changedSourceLabels.clear();
    m_changedDestinationLabels.clear();
    // Labels written in place always notify, so the labels editor's reset redraws even when
    // nothing differs.
    if (changed)
        invalidateVisiblePorts();
    emit portLabelsChanged();
    notifyStateChanged();
}

void RouterController::overlayChangedLabels()
{
    if (m_changedSourceLabels.isEmpty() && m_changedDestinationLabels.isEmpty())
        return;
    const PortLabels overrides = m_labelStore.labels(m_connection.id);
    bool changed = false;
    const auto overlay = [&](QList<Port> &ports, QSet<int> &indices,
                             const QMap<QString, QString> &user, const QHash<int, QString> &base) {
        // Drivers list ports in index order; a state that does not is looked up once.
        QHash<int, qsizetype> positions;
        for (const int index : std::as_const(indices)) {
            qsizetype at = index;
            if (at >= ports.size() || ports.at(at).index != index) {
                if (positions.isEmpty()) {
                    for (qsizetype i = ports.size() - 1; i >= 0; --i)
                        positions.insert(ports.at(i).index, i); // the first port wins
                }
                const auto found = positions.constFind(index);
                if (found == positions.cend())
                    continue;
                at = *found;
            }
            const QString &label = overlaidLabel(ports.at(at), user, base);
            if (label != ports.at(at).label) {
                ports[at].label = label;
                changed = true;
            }
        }
        indices.clear();
    };
    overlay(m_state.sources, m_changedSourceLabels, overrides.sources, m_baseSourceLabels);
    overlay(m_state.destinations, m_changedDestinationLabels, overrides.destinations,
            m_baseDestinationLabels);
    if (!changed)
        return;
    invalidateVisiblePorts();
    emit portLabelsChanged();
    notifyStateChanged();
}

void RouterController::writeRoute(int level, int destination, std::optional<int> source)
{
    if (source) {
        m_state.routing[level].insert(destination, *source);
    } else {
        auto entry = m_state.routing.find(level);
        if (entry != m_state.routing.end())
            entry->remove(destination);
    }
    emit routeChanged(level, destination);
    notifyStateChanged();
}

void RouterController::writeLock(int destination, bool locked)
{
    if (locked)
        m_state.lockedDestinations.insert(destination);
    else
        m_state.lockedDestinations.remove(destination);
    emit lockChanged(destination);
    notifyStateChanged();
}

void RouterController::revert(const QList<RouteUndo> &undo)
{
    const NotifyBatch batch(*this);
    for (const RouteUndo &entry : undo)
        m_unconfirmed.remove(SalvoMatcher::crosspoint(entry.level, entry.destination));
    // Newest write first, so that a list touching one entry twice still ends on the value
    // from before the first write.
    for (auto it = undo.crbegin(); it != undo.crend(); ++it)
        writeRoute(it->level, it->destination, it->previous);
}

void RouterController::runTask(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

DriverCompletion
RouterController::guarded(std::function<void(RouterController &, DriverResult)> handler)
{
    QPointer<RouterController> self(this);
    return [self, handler = std::move(handler)](DriverResult result) {
        if (self)
            handler(*self, std::move(result));
    };
}

// --- Modes ---------------------------------------------------------------------------------

void RouterController::setViewMode(RouteViewMode mode)
{
    Observed::assign(m_viewMode, mode, [this] { emit viewModeChanged(); });
}

void RouterController::setTakeMode(TakeMode mode)
{
    if (Observed::assign(m_takeMode, mode, [this] { emit takeModeChanged(); }))
        clearPending();
}

void RouterController::setRoutingDirection(RoutingDirection direction)
{
    Observed::assign(m_routingDirection, direction, [this] { emit routingDirectionChanged(); });
}

void RouterController::setPrimaryLevel(int level)
{
    Observed::assign(m_primaryLevel, level, [this] { emit primaryLevelChanged(); });
}

void RouterController::setBreakawayLevels(const QSet<int> &levels)
{
    Observed::assign(m_breakawayLevels, levels, [this] { emit breakawayLevelsChanged(); });
}

QSet<int> RouterController::levelIndices() const
{
    QSet<int> indices;
    indices.reserve(m_state.levels.size());
    for (const RouterLevel &level : m_state.levels)
        indices.insert(level.index);
    return indices;
}

QList<int> RouterController::activeLevels() const
{
    QList<int> chosen;
    for (const RouterLevel &level : m_state.levels) {
        if (m_breakawayLevels.contains(level.index))
            chosen.append(level.index);
    }
    if (!chosen.isEmpty())
        return chosen;
    for (const RouterLevel &level : m_state.levels)
        chosen.append(level.index);
    return chosen;
}

QString RouterController::levelName(int index) const
{
    for (const RouterLevel &level : m_state.levels) {
        if (level.index == index)
            return level.name;
    }
    return QStringLiteral("L") + QString::number(qint64(index) + 1);
}

QString RouterController::sourceLabel(int index) const
{
    if (index >= 0 && index < m_state.sources.size())
        return m_state.sources.at(index).label;
    return QStringLiteral("Src ") + QString::number(qint64(index) + 1);
}

QString RouterController::destinationLabel(int index) const
{
    if (index >= 0 && index < m_state.destinations.size())
        return m_state.destinations.at(index).label;
    return QStringLiteral("Dest ") + QString::number(qint64(index) + 1);
}

// --- Selection fields ----------------------------------------------------------------------

void RouterController::setPendingDestination(const std::optional<int> &destination)
{
    Observed::assign(m_pendingDestination, destination,
                     [this] { emit pendingDestinationChanged(); });
}

void RouterController::setPendingSource(const std::optional<int> &source)
{
    Observed::assign(m_pendingSource, source, [this] { emit pendingSourceChanged(); });
}

void RouterController::setPendingDestinations(const QSet<int> &destinations)
{
    Observed::assign(m_pendingDestinations, destinations,
                     [this] { emit pendingDestinationsChanged(); });
}

void RouterController::setSelectedDestination(const std::optional<int> &destination)
{
    Observed::assign(m_selectedDestination, destination,
                     [this] { emit selectedDestinationChanged(); });
}

void RouterController::setSelectedDestinations(const QSet<int> &destinations)
{
    Observed::assign(m_selectedDestinations, destinations,
                     [this] { emit selectedDestinationsChanged(); });
}

void RouterController::setSelectedSource(const std::optional<int> &source)
{
    Observed::assign(m_selectedSource, source, [this] { emit selectedSourceChanged(); });
}

void RouterController::setMultiSelectMode(bool on)
{
    Observed::assign(m_multiSelectMode, on, [this] { emit multiSelectModeChanged(); });
}

void RouterController::clearPending()
{
    setPendingDestination(std::nullopt);
    setPendingSource(std::nullopt);
    setPendingDestinations({});
}

// --- Active sub-panel and visible ports ----------------------------------------------------

std::optional<SubPanel> RouterController::panelWithId(const std::optional<QUuid> &id) const
{
    if (!id)
        return std::nullopt;
    for (const SubPanel &panel : m_panels) {
        if (panel.id == *id)
            return panel;
    }
    return std::nullopt;
}

std::optional<SubPanel> RouterController::activePanel() const
{
    return panelWithId(m_activePanelID);
}

void RouterController::setActivePanelID(const std::optional<QUuid> &id)
{
    if (const StoreOutcome failure = chooseActivePanel(id)) {
        setLastError(failure->message(QStringLiteral("The panel shown was changed"),
                                      QStringLiteral("The panel shown wasn't changed")));
    }
}

StoreOutcome RouterController::chooseActivePanel(const std::optional<QUuid> &id)
{
    if (m_activePanelID == id)
        return std::nullopt;
    m_activePanelID = id;
    invalidateVisiblePorts();
    emit activePanelIDChanged();
    clearPending();
    pruneSelectionsToVisible();
    return m_panelStore.setActivePanelID(id, m_connection.id);
}

void RouterController::invalidateVisiblePorts()
{
    m_visibleDirty = true;
    emit visiblePortsChanged();
}

void RouterController::rebuildVisiblePorts() const
{
    if (!m_visibleDirty)
        return;
    m_visibleDirty = false;
    m_visibleSources.clear();
    m_visibleDestinations.clear();
    m_visibleSourceRows.clear();
    m_visibleDestinationRows.clear();

    const std::optional<SubPanel> panel = activePanel();
    const auto build = [&](const QList<Port> &ports, const QList<int> *indices,
                           QList<Port> &visible, QHash<int, int> &rows) {
        if (!indices) {
            visible = ports;
        } else {
            // First port wins should a router ever report one index twice.
            QHash<int, qsizetype> byIndex;
            byIndex.reserve(ports.size());
            for (qsizetype i = 0; i < ports.size(); ++i)
                if (!byIndex.contains(ports.at(i).index))
                    byIndex.insert(ports.at(i).index, i);
            visible.reserve(indices->size());
            for (int index : *indices) {
                const auto found = byIndex.constFind(index);
                if (found != byIndex.cend())
                    visible.append(ports.at(*found));
            }
        }
        rows.reserve(visible.size());
        for (qsizetype row = 0; row < visible.size(); ++row) {
            if (!rows.contains(visible.at(row).index))
                rows.insert(visible.at(row).index, int(row));
        }
    };
    build(m_state.sources, panel ? &panel->sourceIndices : nullptr, m_visibleSources,
          m_visibleSourceRows);
    build(m_state.destinations, panel ? &panel->destinationIndices : nullptr, m_visibleDestinations,
          m_visibleDestinationRows);
}

const QList<Port> &RouterController::visibleSources() const
{
    rebuildVisiblePorts();
    return m_visibleSources;
}

const QList<Port> &RouterController::visibleDestinations() const
{
    rebuildVisiblePorts();
    return m_visibleDestinations;
}

std::optional<int> RouterController::visibleSourceRow(int index) const
{
    rebuildVisiblePorts();
    const auto found = m_visibleSourceRows.constFind(index);
    return found == m_visibleSourceRows.cend() ? std::nullopt : std::optional<int>(*found);
}

std::optional<int> RouterController::visibleDestinationRow(int index) const
{
    rebuildVisiblePorts();
    const auto found = m_visibleDestinationRows.constFind(index);
    return found == m_visibleDestinationRows.cend() ? std::nullopt : std::optional<int>(*found);
}

void RouterController::pruneSelectionsToVisible()
{
    rebuildVisiblePorts();
    QSet<int> shownDestinations;
    for (auto it = m_visibleDestinationRows.cbegin(); it != m_visibleDestinationRows.cend(); ++it)
        shownDestinations.insert(it.key());

    setSelectedDestinations(m_selectedDestinations & shownDestinations);
    setPendingDestinations(m_pendingDestinations & shownDestinations);
    if (m_selectedDestination && !m_visibleDestinationRows.contains(*m_selectedDestination))
        setSelectedDestination(std::nullopt);
    if (m_selectedSource && !m_visibleSourceRows.contains(*m_selectedSource))
        setSelectedSource(std::nullopt);
}

void RouterController::reloadSalvos()
{
    Observed::assign(m_salvos, m_salvoStore.salvos(m_connection.id),
                     [this] { emit salvosChanged(); });
}

void RouterController::reloadPanels()
{
    if (Observed::assign(m_panels, m_panelStore.panels(m_connection.id),
                         [this] { emit panelsChanged(); })) {
        invalidateVisiblePorts();
    }
}

// Takes, routing directions, staging, locks and renames of RouterController.
#include "Controllers/RouterController.h"
#include "Controllers/SalvoMatcher.h"

#include "Model/LabelStore.h"
#include "Platform/Observed.h"
#include "Platform/Text.h"

#include <algorithm>

namespace {

QList<int> sorted(const QSet<int> &set)
{
    QList<int> list(set.cbegin(), set.cend());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

// --- Derived staging values ----------------------------------------------------------------

std::optional<RouterController::PendingTake> RouterController::pendingTake() const
{
    if (m_routingDirection == RoutingDirection::sourceLed && m_selectedSource
        && !m_pendingDestinations.isEmpty()) {
        return PendingTake { *m_selectedSource, sorted(m_pendingDestinations) };
    }
    if (m_pendingSource && !m_pendingDestinations.isEmpty())
        return PendingTake { *m_pendingSource, sorted(m_pendingDestinations) };
    if (m_pendingSource && m_pendingDestination)
        return PendingTake { *m_pendingSource, { *m_pendingDestination } };
    return std::nullopt;
}

bool RouterController::hasStaging() const
{
    return m_pendingDestination || m_pendingSource || !m_pendingDestinations.isEmpty();
}

QList<int> RouterController::xyTargets() const
{
    if (!m_selectedDestinations.isEmpty())
        return sorted(m_selectedDestinations);
    if (m_selectedDestination)
        return { *m_selectedDestination };
    return {};
}

namespace {

// Visible destinations that a gang or a select-all may take.
QSet<int> visibleUnlocked(const QList<Port> &visible, const QSet<int> &locked)
{
    QSet<int> indices;
    indices.reserve(visible.size());
    for (const Port &port : visible) {
        if (!locked.contains(port.index))
            indices.insert(port.index);
    }
    return indices;
}

} // namespace

bool RouterController::allGanged() const
{
    const QSet<int> unlocked = visibleUnlocked(visibleDestinations(), m_state.lockedDestinations);
    return !unlocked.isEmpty() && m_selectedDestinations == unlocked;
}

bool RouterController::allDestinationsStaged() const
{
    const QSet<int> unlocked = visibleUnlocked(visibleDestinations(), m_state.lockedDestinations);
    return !unlocked.isEmpty() && m_pendingDestinations == unlocked;
}

// --- Take ----------------------------------------------------------------------------------

void RouterController::take(int source, int destination)
{
    if (m_state.isLocked(destination)) {
        const QString label = destination >= 0 && destination < m_state.destinations.size()
            ? m_state.destinations.at(destination).label
            : QStringLiteral("Destination");
        setLastError(Text::isolated(label) + QStringLiteral(" is locked."));
        return;
    }

    const QList<int> levels = activeLevels();
    if (m_usage.countTake)
        m_usage.countTake();

    QList<RouteUndo> undo;
    QList<Route> routes;
    undo.reserve(levels.size());
    routes.reserve(levels.size());
    for (int level : levels) {
        undo.append({ level, destination, m_state.source(destination, level) });
        routes.append(Route { level, destination, source });
    }
    {
        const NotifyBatch batch(*this);
        // Shown at once, and unconfirmed until the router reports the crosspoint.
        for (int level : levels) {
            if (m_driver)
                m_unconfirmed.insert(SalvoMatcher::crosspoint(level, destination));
            writeRoute(level, destination, source);
        }
    }

    RouterDriverPtr driver = m_driver;
    runTask([this, driver, routes, undo] {
        if (!driver)
            return; // not connected: the change stays local
        driver->takeAll(routes, guarded([undo](RouterController &self, DriverResult result) {
                            if (result)
                                return;
                            self.revert(undo);
                            self.setLastError(result.error().localizedDescription());
                        }));
    });
}

void RouterController::confirmTake()
{
    const std::optional<PendingTake> staged = pendingTake();
    if (!staged)
        return;
    const NotifyBatch batch(*this);
    for (int destination : staged->destinations)
        take(staged->source, destination);
    clearPending();
}

// --- Destination-led picks -----------------------------------------------------------------

void RouterController::stageXY(int source)
{
    const QList<int> targets = xyTargets();
    if (targets.isEmpty())
        return;
    if (targets.size() == 1) {
        setPendingDestinations({});
        setPendingDestination(targets.first());
    } else {
        setPendingDestination(std::nullopt);
        setPendingDestinations(QSet<int>(targets.cbegin(), targets.cend()));
    }
    setPendingSource(source);
}

void RouterController::selectDestination(int destination)
{
    if (m_takeMode != TakeMode::confirm)
        return;
    setPendingDestinations({});
    setPendingDestination(destination);
    setPendingSource(std::nullopt);
}

void RouterController::focusDestination(int destination)
{
    if (m_multiSelectMode && m_routingDirection == RoutingDirection::destinationLed) {
        toggleDestinationInGang(destination);
        return;
    }
    setSelectedDestination(destination);
    setSelectedDestinations({});
    if (m_takeMode == TakeMode::confirm) {
        setPendingDestinations({});
        setPendingDestination(destination);
        setPendingSource(std::nullopt);
    }
}

void RouterController::toggleDestinationInGang(int destination)
{
    if (m_routingDirection != RoutingDirection::destinationLed)
        return;

    QSet<int> gang = m_selectedDestinations;
    if (gang.isEmpty() && m_selectedDestination)
        gang.insert(*m_selectedDestination);
    if (gang.contains(destination))
        gang.remove(destination);
    else
        gang.insert(destination);

    // A gang of one is held as the focus alone.
    setSelectedDestinations(gang.size() >= 2 ? gang : QSet<int>());
    if (gang.contains(destination))
        setSelectedDestination(destination);
    else if (!gang.isEmpty())
        setSelectedDestination(*std::min_element(gang.cbegin(), gang.cend()));
    else
        setSelectedDestination(std::nullopt);

    if (m_takeMode == TakeMode::confirm) {
        const std::optional<int> armed = m_pendingSource;
        setPendingDestination(std::nullopt);
        setPendingDestinations({});
        if (armed)
            stageXY(*armed);
    }
}

void RouterController::chooseSource(int source)
{
    const QList<int> targets = xyTargets();
    if (targets.isEmpty())
        return;
    if (m_takeMode == TakeMode::immediate) {
        const NotifyBatch batch(*this);
        for (int destination : targets)
            take(source, destination);
    } else {
        stageXY(source);
    }
}

void RouterController::selectAllInGang()
{
    if (!m_multiSelectMode)
        return;
    setSelectedDestinations(visibleUnlocked(visibleDestinations(), m_state.lockedDestinations));
}

void RouterController::deselectAllInGang()
{
    setSelectedDestinations({});
    setSelectedDestination(std::nullopt);
    if (m_takeMode == TakeMode::confirm)
        clearPending();
}

void RouterController::_setMultiSelectMode(bool on)
{
    if (on == m_multiSelectMode)
        return;
    setMultiSelectMode(on);
    if (!on) {
        setSelectedDestinations({});
        if (m_takeMode == TakeMode::confirm)
            clearPending();
    }
}

// --- Source-led picks ----------------------------------------------------------------------

void RouterController::focusSource(int source)
{
    setSelectedSource(source);
    setPendingDestinations({});
    setPendingDestination(std::nullopt);
    setPendingSource(std::nullopt);
}

void RouterController::assignDestination(int destination)
{
    if (!m_selectedSource)
        return;
    if (m_takeMode == TakeMode::immediate) {
        take(*m_selectedSource, destination);
        return;
    }
    QSet<int> staged = m_pendingDestinations;
    if (staged.contains(destination))
        staged.remove(destination);
    else if (!m_state.isLocked(destination))
        staged.insert(destination);
    setPendingDestinations(staged);
}

void RouterController::selectAllDestinations()
{
    if (m_routingDirection != RoutingDirection::sourceLed || !m_selectedSource)
        return;
    setTakeMode(TakeMode::confirm);
    setPendingDestination(std::nullopt);
    setPendingSource(std::nullopt);
    setPendingDestinations(visibleUnlocked(visibleDestinations(), m_state.lockedDestinations));
}

void RouterController::setDirection(RoutingDirection direction)
{
    setRoutingDirection(direction);
    setSelectedDestinations({});
    setMultiSelectMode(false);
    clearPending();
}

// --- Locks ---------------------------------------------------------------------------------

void RouterController::toggleLock(int destination)
{
    const bool wasLocked = m_state.isLocked(destination);
    RouterDriverPtr driver = m_driver;
    writeLock(destination, !wasLocked);

    runTask([this, driver, destination, wasLocked] {
        if (!driver)
            return;
        // The level is read when the command goes out, as the operator last chose it.
        driver->setLock(
            destination, m_primaryLevel, !wasLocked,
            guarded([destination, wasLocked](RouterController &self, DriverResult result) {
                if (result)
                    return;
                self.writeLock(destination, wasLocked);
                self.setLastError(result.error().localizedDescription());
            }));
    });
}

// --- Renames -------------------------------------------------------------------------------

void RouterController::setRenameTarget(const std::optional<PortRef> &target)
{
    Observed::assign(m_renameTarget, target, [this] { emit renameTargetChanged(); });
}

void RouterController::setRenameDraft(const QString &draft)
{
    Observed::assign(m_renameDraft, draft, [this] { emit renameDraftChanged(); });
}

void RouterController::beginRename(PortKind kind, int index)
{
    const QList<Port> &ports
        = kind == PortKind::destination ? m_state.destinations : m_state.sources;
    setRenameDraft(index >= 0 && index < ports.size() ? ports.at(index).label : QString());
    setRenameTarget(PortRef { kind, index });
}

LabelStore::Failure RouterController::commitRename()
{
    if (!m_renameTarget)
        return std::nullopt;
    const PortRef target = *m_renameTarget;
    LabelStore::Failure failure = rename(target.kind, target.index, m_renameDraft);
    setRenameTarget(std::nullopt);
    return failure;
}

LabelStore::Failure RouterController::rename(PortKind kind, int index, const QString &name)
{
    return rename(QList<LabelStore::Edit> { { kind, index, name } });
}

LabelStore::Failure RouterController::rename(const QList<LabelStore::Edit> &renames)
{
    LabelStore::Failure failure = m_labelStore.set(renames, m_connection.id);
    applyLabelOverrides();

    // A refused rename was undone: nothing is renamed, here or on the router.
    if (!m_status.isConnected() || (failure && failure->kind == StoreFailure::Kind::refused))
        return failure;
    RouterDriverPtr driver = m_driver;
    for (const LabelStore::Edit &rename : renames) {
        const QString trimmed = rename.label.value_or(QString()).trimmed();
        if (trimmed.isEmpty())
            continue;
        runTask([driver, trimmed, index = rename.index, kind = rename.kind] {
            if (!driver)
                return;
            // The override already stands; a router that refuses or cannot rename is not news.
            driver->setLabel(trimmed, index, kind, [](DriverResult) {});
        });
    }
    return failure;
}

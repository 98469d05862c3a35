// Sub-panel operations and salvos of RouterController.
#include "Controllers/RouterController.h"
#include "Controllers/SalvoMatcher.h"

#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"
#include "Platform/Text.h"

#include <algorithm>

// --- Sub-panels ----------------------------------------------------------------------------

SubPanel RouterController::newPanelDraft() const
{
    QSet<QString> names;
    for (const SubPanel &panel : m_panels)
        names.insert(panel.name.toLower());
    qint64 number = qint64(m_panels.size()) + 1;
    while (names.contains(QStringLiteral("panel ") + QString::number(number)))
        ++number;

    SubPanel draft;
    draft.id = QUuid::createUuid();
    draft.name = QStringLiteral("Panel ") + QString::number(number);
    return draft;
}

StoreOutcome RouterController::savePanel(const SubPanel &panel, bool activate)
{
    StoreOutcome outcome = m_panelStore.upsert(panel, m_connection.id);
    reloadPanels();
    if (m_activePanelID && panel.id == *m_activePanelID) {
        // The active panel's ports may have changed under the staging and selections.
        clearPending();
        pruneSelectionsToVisible();
    }
    if (activate && panelWithId(panel.id))
        outcome = firstFailure(outcome, chooseActivePanel(panel.id));
    return outcome;
}

StoreOutcome RouterController::duplicatePanel(const SubPanel &panel)
{
    SubPanel copy = panel;
    copy.id = QUuid::createUuid();
    copy.name = panel.name + QStringLiteral(" Copy");
    StoreOutcome outcome = savePanel(copy);

    const QList<Salvo> current = m_salvos;
    for (const Salvo &salvo : current) {
        if (salvo.panelID != panel.id)
            continue;
        Salvo scoped = salvo;
        scoped.id = QUuid::createUuid();
        scoped.panelID = copy.id;
        outcome = firstFailure(outcome, m_salvoStore.add(scoped, m_connection.id));
    }
    reloadSalvos();
    return outcome;
}

StoreOutcome RouterController::deletePanel(const SubPanel &panel)
{
    StoreOutcome outcome = m_salvoStore.removeAll(panel.id, m_connection.id);
    reloadSalvos();
    outcome = firstFailure(outcome, m_panelStore.remove(panel.id, m_connection.id));
    reloadPanels();
    if (m_activePanelID && *m_activePanelID == panel.id)
        outcome = firstFailure(outcome, chooseActivePanel(std::nullopt));
    return outcome;
}

StoreOutcome RouterController::movePanels(const QSet<int> &fromOffsets, int toOffset)
{
    QList<int> offsets(fromOffsets.cbegin(), fromOffsets.cend());
    std::sort(offsets.begin(), offsets.end());
    StoreOutcome outcome = m_panelStore.move(offsets, toOffset, m_connection.id);
    reloadPanels();
    return outcome;
}

// --- Salvo listing -------------------------------------------------------------------------

std::optional<QUuid> RouterController::scopeOf(const Salvo &salvo) const
{
    if (panelWithId(salvo.panelID))
        return salvo.panelID;
    return std::nullopt;
}

QList<Salvo> RouterController::visibleSalvos() const
{
    QList<Salvo> listed;
    for (const Salvo &salvo : m_salvos) {
        if (scopeOf(salvo) == m_activePanelID)
            listed.append(salvo);
    }
    return listed;
}

QList<Salvo> RouterController::fullRouterSalvos() const
{
    QList<Salvo> listed;
    for (const Salvo &salvo : m_salvos) {
        if (!scopeOf(salvo))
            listed.append(salvo);
    }
    return listed;
}

bool RouterController::showsSalvoStrip() const
{
    return activePanel().has_value() || !visibleSalvos().isEmpty();
}

int RouterController::salvoCount(const SubPanel &panel) const
{
    return int(std::count_if(m_salvos.cbegin(), m_salvos.cend(),
                             [&](const Salvo &salvo) { return salvo.panelID == panel.id; }));
}

// --- Capture -------------------------------------------------------------------------------

QList<Route> RouterController::capture(const std::optional<QUuid> &panelID) const
{
    QList<int> destinations;
    const std::optional<SubPanel> panel = panelWithId(panelID);
    if (!panel) {
        destinations.reserve(m_state.destinations.size());
        for (const Port &port : m_state.destinations)
            destinations.append(port.index);
    } else {
        QSet<int> present;
        present.reserve(m_state.destinations.size());
        for (const Port &port : m_state.destinations)
            present.insert(port.index);
        for (int index : panel->destinationIndices) {
            if (present.contains(index))
                destinations.append(index);
        }
    }

    QList<Route> routes;
    for (const RouterLevel &level : m_state.levels) {
        const auto levelRouting = m_state.routing.constFind(level.index);
        if (levelRouting == m_state.routing.cend())
            continue;
        for (int destination : std::as_const(destinations)) {
            const auto source = levelRouting->constFind(destination);
            if (source != levelRouting->cend())
                routes.append(Route { level.index, destination, *source });
        }
    }
    return routes;
}

StoreOutcome RouterController::saveSalvo(const QString &name, const std::optional<QUuid> &panelID)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QList<Route> routes = capture(panelID);
    if (routes.isEmpty()) {
        setLastError(QStringLiteral(
            "Nothing to capture — none of this panel's destinations exist on this router."));
        return std::nullopt;
    }
    const std::optional<SubPanel> panel = panelWithId(panelID);

    Salvo salvo;
    salvo.id = QUuid::createUuid();
    salvo.name = trimmed;
    salvo.routes = routes;
    salvo.savedAt = ReferenceDate::secondsNow();
    salvo.panelID = panel ? std::optional<QUuid>(panel->id) : std::nullopt;
    StoreOutcome outcome = m_salvoStore.add(salvo, m_connection.id);
    reloadSalvos();
    return outcome;
}

StoreOutcome RouterController::updateSalvo(const Salvo &salvo)
{
    const QList<Route> routes = capture(salvo.panelID);
    if (routes.isEmpty()) {
        setLastError(QStringLiteral(
            "Nothing to capture — none of this salvo's destinations exist on this router."));
        return std::nullopt;
    }
    StoreOutcome outcome
        = m_salvoStore.update(salvo.id, routes, ReferenceDate::secondsNow(), m_connection.id);
    reloadSalvos();
    return outcome;
}

StoreOutcome RouterController::deleteSalvo(const Salvo &salvo)
{
    StoreOutcome outcome = m_salvoStore.remove(salvo.id, m_connection.id);
    reloadSalvos();
    return outcome;
}

std::optional<StoreOutcome> RouterController::renameSalvo(const Salvo &salvo, const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    for (const Salvo &other : std::as_const(m_salvos)) {
        if (other.id != salvo.id && other.panelID == salvo.panelID
            && other.name.compare(trimmed, Qt::CaseInsensitive) == 0) {
            return std::nullopt;
        }
    }
    StoreOutcome outcome = m_salvoStore.rename(salvo.id, trimmed, m_connection.id);
    reloadSalvos();
    return std::optional<StoreOutcome>(std::in_place, outcome);
}

// --- Comparison and firing -----------------------------------------------------------------

bool RouterController::inRange(const Route &route, const QSet<int> &levels) const
{
    return route.destination >= 0 && route.destination < m_state.destinations.size()
        && route.source >= 0 && route.source < m_state.sources.size()
        && levels.contains(route.level);
}

RouterController::SalvoDiff RouterController::diff(const Salvo &salvo) const
{
    SalvoDiff result;
    const QSet<int> levels = levelIndices();
    for (const Route &route : salvo.routes) {
        if (!inRange(route, levels)) {
            result.outOfRange.append(route);
            continue;
        }
        const std::optional<int> live = m_state.source(route.destination, route.level);
        const bool matches = live && *live == route.source;
        if (!m_state.isLocked(route.destination)) {
            if (matches) {
                ++result.alreadyMatching;
                if (m_unconfirmed.contains(
                        SalvoMatcher::crosspoint(route.level, route.destination)))
                    ++result.unconfirmed;
            } else {
                result.changes.append(route);
            }
        } else {
            result.lockedRoutes.append(route);
            if (!matches)
                ++result.lockedDiffering;
        }
    }
    return result;
}

QList<Route> RouterController::applicableRoutes(const Salvo &salvo) const
{
    QList<Route> routes;
    const QSet<int> levels = levelIndices();
    for (const Route &route : salvo.routes) {
        if (inRange(route, levels) && !m_state.isLocked(route.destination))
            routes.append(route);
    }
    return routes;
}

void RouterController::fireSalvo(const Salvo &salvo)
{
    const QList<Route> routes = applicableRoutes(salvo);
    if (routes.isEmpty()) {
        setLastError(QLatin1Char('"') + Text::isolated(salvo.name)
                     + QStringLiteral("\" has no routes that apply to this router."));
        return;
    }
    if (m_usage.countSalvoFire)
        m_usage.countSalvoFire();

    QList<RouteUndo> undo;
    undo.reserve(routes.size());
    const NotifyBatch batch(*this);
    for (const Route &route : routes) {
        undo.append(
            { route.level, route.destination, m_state.source(route.destination, route.level) });
        if (m_driver) // unconfirmed until the router reports it
            m_unconfirmed.insert(SalvoMatcher::crosspoint(route.level, route.destination));
        writeRoute(route.level, route.destination, route.source);
    }

    RouterDriverPtr driver = m_driver;
    runTask([this, driver, routes, undo] {
        if (!driver)
            return;
        driver->takeAll(routes, guarded([undo](RouterController &self, DriverResult result) {
                            if (result)
                                return;
                            // revert() walks newest first: a salvo that names one crosspoint
                            // twice still gets the routing from before the fire back.
                            self.revert(undo);
                            self.setLastError(result.error().localizedDescription());
                        }));
    });
}

#pragma once

#include "Drivers/RouterDriver.h"
#include "Model/LabelStore.h"
#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class PanelStore;
class SalvoStore;

// One saved router while the application runs: owns its driver while a connection is wanted,
// applies the driver's events to the live picture (`state`), lays the user's label overrides
// over the router's own labels, and holds the operator's routing choices (modes, levels,
// selections, staging, the active sub-panel) and the router's salvos and sub-panels.
//
// Construction: the connection store builds exactly one controller per saved router,
//
//     RouterController controller(connection, labelStore, salvoStore, panelStore);
//
// passing the application's three shared stores, which must outlive the controller. Two
// optional arguments replace collaborators: `driverMaker` (default DriverFactory::makeDriver)
// builds the driver at each connect(), and `usage` receives the usage-statistics counts (by
// default the shared analytics, which sends a connect event over the network: tests pass
// their own hooks, e.g. `RouterController::UsageHooks{}`). Creating a controller connects nothing;
// connect() makes a fresh driver every time and disconnect() drops it. Destroying a controller
// ends its driver there and then (the driver's disconnect() has run when the destructor
// returns), as does shutDown().
//
// Everything runs on the UI thread. Observed members have a getter, a setter where views
// write them, and a `<name>Changed` signal; assignments notify only on a real change, edits
// made inside `state` always notify (stateChanged, plus a fine-grained signal that names what
// changed). The fine-grained signals come at once; stateChanged comes once per operation and
// once per burst of driver events, however many routes they wrote. Operations return at once;
// router commands complete later, and their failures come back through `lastError`. An
// operation that writes a store returns what became of the write, for the view that made the
// edit to show; only the active sub-panel, which many controls set, reports through
// `lastError`.
class RouterController final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(RouterState state READ state NOTIFY stateChanged)
    Q_PROPERTY(ConnectionStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(
        std::optional<QString> lastError READ lastError WRITE setLastError NOTIFY lastErrorChanged)
    Q_PROPERTY(RouteViewMode viewMode READ viewMode WRITE setViewMode NOTIFY viewModeChanged)
    Q_PROPERTY(TakeMode takeMode READ takeMode WRITE setTakeMode NOTIFY takeModeChanged)
    Q_PROPERTY(int primaryLevel READ primaryLevel WRITE setPrimaryLevel NOTIFY primaryLevelChanged)
    Q_PROPERTY(QSet<int> breakawayLevels READ breakawayLevels WRITE setBreakawayLevels NOTIFY
                   breakawayLevelsChanged)
    Q_PROPERTY(std::optional<int> pendingDestination READ pendingDestination WRITE
                   setPendingDestination NOTIFY pendingDestinationChanged)
    Q_PROPERTY(std::optional<int> pendingSource READ pendingSource WRITE setPendingSource NOTIFY
                   pendingSourceChanged)
    Q_PROPERTY(std::optional<int> selectedDestination READ selectedDestination WRITE
                   setSelectedDestination NOTIFY selectedDestinationChanged)
    Q_PROPERTY(QSet<int> selectedDestinations READ selectedDestinations WRITE
                   setSelectedDestinations NOTIFY selectedDestinationsChanged)
    Q_PROPERTY(bool multiSelectMode READ multiSelectMode WRITE setMultiSelectMode NOTIFY
                   multiSelectModeChanged)
    Q_PROPERTY(std::optional<int> selectedSource READ selectedSource WRITE setSelectedSource NOTIFY
                   selectedSourceChanged)
    Q_PROPERTY(QSet<int> pendingDestinations READ pendingDestinations WRITE setPendingDestinations
                   NOTIFY pendingDestinationsChanged)
    Q_PROPERTY(
        RoutingDirection routingDirection READ routingDirection NOTIFY routingDirectionChanged)
    Q_PROPERTY(QList<Salvo> salvos READ salvos NOTIFY salvosChanged)
    Q_PROPERTY(QList<SubPanel> panels READ panels NOTIFY panelsChanged)
    Q_PROPERTY(std::optional<QUuid> activePanelID READ activePanelID WRITE setActivePanelID NOTIFY
                   activePanelIDChanged)
    Q_PROPERTY(std::optional<PortRef> renameTarget READ renameTarget WRITE setRenameTarget NOTIFY
                   renameTargetChanged)
    Q_PROPERTY(QString renameDraft READ renameDraft WRITE setRenameDraft NOTIFY renameDraftChanged)

public:
    // Where the controller reports usage: a router coming online, a take sent, a salvo
    // fired. Empty members are skipped.
    struct UsageHooks
    {
        std::function<void(RouterVendor)> connected;
        std::function<void()> countTake;
        std::function<void()> countSalvoFire;

        // The application's shared usage analytics.
        static UsageHooks shared();
    };

    // How a salvo compares with the live routing. Every route of the salvo lands in exactly
    // one of changes, alreadyMatching, lockedRoutes and outOfRange, in the salvo's order.
    struct SalvoDiff
    {
        QList<Route> changes; // unlocked, live source differs or is absent
        int alreadyMatching = 0; // unlocked, live source already equal
        QList<Route> lockedRoutes; // in range, destination locked
        int lockedDiffering = 0; // of lockedRoutes, live source differs or is absent
        QList<Route> outOfRange; // level, destination or source the router lacks
        // Of alreadyMatching, routes a take or fire wrote that the router has not reported.
        int unconfirmed = 0;

        bool operator==(const SalvoDiff &) const = default;
    };

    // A staged take: one source for destinations in ascending order.
    struct PendingTake
    {
        int source = 0;
        QList<int> destinations;

        bool operator==(const PendingTake &) const = default;
    };

    RouterController(const RouterConnection &connection, LabelStore &labelStore,
                     SalvoStore &salvoStore, PanelStore &panelStore,
                     DriverMaker driverMaker = DriverFactory::makeDriver,
                     UsageHooks usage = UsageHooks::shared(), QObject *parent = nullptr);
    ~RouterController() override;

    QUuid id() const { return m_connection.id; }
    const RouterConnection &connection() const { return m_connection; }
    LabelStore &labelStore() const { return m_labelStore; }
    SalvoStore &salvoStore() const { return m_salvoStore; }
    PanelStore &panelStore() const { return m_panelStore; }

    // --- Connection -------------------------------------------------------------------
    // Tears down any earlier driver, makes a fresh one, sets status connecting, clears
    // lastError, starts reading its events and asks it to connect. Never fails: problems
    // arrive as events.
    void connect();
    // Tears down the driver (asked to disconnect without waiting), clears the staging, and
    // leaves status disconnected with an empty statusMessage.
    void disconnect();
    // For the application's teardown: like disconnect(), but the driver's disconnect() runs
    // before this returns, and a connect still waiting to start never does, so nothing of
    // this router is left for an event loop that is about to go.
    void shutDown();
    // True between connect() and the next teardown.
    bool hasDriver() const { return bool(m_driver); }

    const RouterState &state() const { return m_state; }
    const ConnectionStatus &status() const { return m_status; }
    const QString &statusMessage() const { return m_statusMessage; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    void setLastError(const std::optional<QString> &error);

    // --- Modes and levels -------------------------------------------------------------
    RouteViewMode viewMode() const { return m_viewMode; }
    void setViewMode(RouteViewMode mode);
    TakeMode takeMode() const { return m_takeMode; }
    // A different mode clears the staging.
    void setTakeMode(TakeMode mode);
    RoutingDirection routingDirection() const { return m_routingDirection; }
    // Stores the direction, ends gang selection and clears the staging.
    void setDirection(RoutingDirection direction);
    int primaryLevel() const { return m_primaryLevel; }
    void setPrimaryLevel(int level);
    const QSet<int> &breakawayLevels() const { return m_breakawayLevels; }
    void setBreakawayLevels(const QSet<int> &levels);
    // The level's name, else "L" and the 1-based number.
    QString levelName(int index) const;
    // The levels a take goes to: the breakaway levels the router has, else all of them.
    QList<int> activeLevels() const;

    // --- Selection and staging --------------------------------------------------------
    const std::optional<int> &pendingDestination() const { return m_pendingDestination; }
    void setPendingDestination(const std::optional<int> &destination);
    const std::optional<int> &pendingSource() const { return m_pendingSource; }
    void setPendingSource(const std::optional<int> &source);
    const QSet<int> &pendingDestinations() const { return m_pendingDestinations; }
    void setPendingDestinations(const QSet<int> &destinations);
    const std::optional<int> &selectedDestination() const { return m_selectedDestination; }
    void setSelectedDestination(const std::optional<int> &destination);
    const QSet<int> &selectedDestinations() const { return m_selectedDestinations; }
    void setSelectedDestinations(const QSet<int> &destinations);
    const std::optional<int> &selectedSource() const { return m_selectedSource; }
    void setSelectedSource(const std::optional<int> &source);
    bool multiSelectMode() const { return m_multiSelectMode; }
    void setMultiSelectMode(bool on);
    // Gang selection on or off; turning it off empties the gang (and the staging in
    // confirm mode).
    void _setMultiSelectMode(bool on);

    std::optional<PendingTake> pendingTake() const;
    bool hasStaging() const;
    QList<int> xyTargets() const;
    bool allGanged() const;
    bool allDestinationsStaged() const;
    void clearPending();

    // --- Routing ----------------------------------------------------------------------
    // Routes at once on activeLevels(), optimistically; a refusal restores the earlier
    // sources. A locked destination is refused with "<label> is locked.".
    void take(int source, int destination);
    void confirmTake();
    void selectDestination(int destination);
    void focusDestination(int destination);
    void toggleDestinationInGang(int destination);
    void chooseSource(int source);
    void selectAllInGang();
    void deselectAllInGang();
    void focusSource(int source);
    void assignDestination(int destination);
    void selectAllDestinations();

    // --- Locks and names --------------------------------------------------------------
    // Flips the lock at once and asks the router on primaryLevel; a refusal flips it back.
    void toggleLock(int destination);
    const std::optional<PortRef> &renameTarget() const { return m_renameTarget; }
    void setRenameTarget(const std::optional<PortRef> &target);
    const QString &renameDraft() const { return m_renameDraft; }
    void setRenameDraft(const QString &draft);
    void beginRename(PortKind kind, int index);
    // Renames the target (none: nothing happens) and clears it; returns the label store's
    // failure.
    LabelStore::Failure commitRename();
    // Stores the user override (blank removes it) and, while connected, tries the router.
    LabelStore::Failure rename(PortKind kind, int index, const QString &name);
    // rename() of each edit in order, with one write of the label store, whose failure it
    // returns; a refused write renames nothing. Every edit carries its name as typed.
    LabelStore::Failure rename(const QList<LabelStore::Edit> &renames);
    // Rebuilds every port label of `state` from the router's labels and the overrides.
    void applyLabelOverrides();
    // The label at that position, or "Src n" / "Dest n" (1-based) beyond the port list.
    QString sourceLabel(int index) const;
    QString destinationLabel(int index) const;

    // --- Sub-panels -------------------------------------------------------------------
    const QList<SubPanel> &panels() const { return m_panels; }
    const std::optional<QUuid> &activePanelID() const { return m_activePanelID; }
    // A different id clears the staging, drops hidden selections and is stored; a failed
    // write is told through lastError.
    void setActivePanelID(const std::optional<QUuid> &id);
    std::optional<SubPanel> activePanel() const;
    // The ports the active sub-panel shows, in its order (all ports without one). Cached;
    // rebuilt only when the ports, their labels, the panels or the active panel change.
    const QList<Port> &visibleSources() const;
    const QList<Port> &visibleDestinations() const;
    // Position of a port index in the visible list, or none when it is not shown.
    std::optional<int> visibleSourceRow(int index) const;
    std::optional<int> visibleDestinationRow(int index) const;
    SubPanel newPanelDraft() const;
    // Stores the panel and, with `activate`, makes it the active one; the first failed write
    // of the two is returned.
    StoreOutcome savePanel(const SubPanel &panel, bool activate = false);
    StoreOutcome duplicatePanel(const SubPanel &panel);
    StoreOutcome deletePanel(const SubPanel &panel);
    // Standard list move: positions before the move, target counted before the move.
    StoreOutcome movePanels(const QSet<int> &fromOffsets, int toOffset);

    // --- Salvos -----------------------------------------------------------------------
    const QList<Salvo> &salvos() const { return m_salvos; }
    QList<Salvo> visibleSalvos() const;
    QList<Salvo> fullRouterSalvos() const;
    bool showsSalvoStrip() const;
    int salvoCount(const SubPanel &panel) const;
    // Nothing to capture is told through lastError and writes nothing.
    StoreOutcome saveSalvo(const QString &name, const std::optional<QUuid> &panelID);
    StoreOutcome updateSalvo(const Salvo &salvo);
    StoreOutcome deleteSalvo(const Salvo &salvo);
    // None when the name is refused: blank, or used by another salvo of the same scope
    // (ignoring case); else what became of the write.
    std::optional<StoreOutcome> renameSalvo(const Salvo &salvo, const QString &name);
    SalvoDiff diff(const Salvo &salvo) const;
    // The crosspoints (SalvoMatcher::crosspoint) a take or salvo fire wrote ahead of the
    // router, until the router reports them (confirmed or put back) or the write is undone.
    const QSet<quint64> &unconfirmedRoutes() const { return m_unconfirmed; }
    QList<Route> applicableRoutes(const Salvo &salvo) const;
    void fireSalvo(const Salvo &salvo);

signals:
    // Any change of `state`, whole or in place.
    void stateChanged();
    // Fine-grained companions of stateChanged for edits made in place.
    void routeChanged(int level, int destination);
    void lockChanged(int destination);
    void inputStatusChanged(int input);
    void portLabelsChanged();
    // The router reported a new state: ports, levels, routing and locks may all differ, and
    // no fine-grained signal tells what.
    void stateReplaced();
    // The cached visible port lists were invalidated.
    void visiblePortsChanged();

    void statusChanged();
    void statusMessageChanged();
    void lastErrorChanged();
    void viewModeChanged();
    void takeModeChanged();
    void routingDirectionChanged();
    void primaryLevelChanged();
    void breakawayLevelsChanged();
    void pendingDestinationChanged();
    void pendingSourceChanged();
    void pendingDestinationsChanged();
    void selectedDestinationChanged();
    void selectedDestinationsChanged();
    void selectedSourceChanged();
    void multiSelectModeChanged();
    void salvosChanged();
    void panelsChanged();
    void activePanelIDChanged();
    void renameTargetChanged();
    void renameDraftChanged();

private:
    // Holds stateChanged while alive, then sends it once if anything changed.
    class NotifyBatch
    {
    public:
        explicit NotifyBatch(RouterController &controller);
        ~NotifyBatch();
        NotifyBatch(const NotifyBatch &) = delete;
        NotifyBatch &operator=(const NotifyBatch &) = delete;

    private:
        RouterController &m_controller;
    };
    void openBatch();
    void closeBatch();
    void notifyStateChanged();
    void endDriverBurst();

    // A remembered routing entry for undoing an optimistic write.
    struct RouteUndo
    {
        int level = 0;
        int destination = 0;
        std::optional<int> previous;
    };

    // How teardown hands the driver its disconnect(): from a task on the UI thread, or at
    // once (destructor, application teardown).
    enum class DriverEnd { queued, now };
    void teardown(DriverEnd end = DriverEnd::queued);
    void apply(const RouterDriverEvent &event);
    void applyNewState(const RouterState &newState);
    void captureBaseLabels(const RouterState &from);
    // Lays the overrides over the ports whose router label changed in this burst.
    void overlayChangedLabels();
    void pruneSelectionsToVisible();
    void invalidateVisiblePorts();
    void rebuildVisiblePorts() const;
    void stageXY(int source);

    void setStatus(const ConnectionStatus &status);
    void setStatusMessage(const QString &message);
    void setRoutingDirection(RoutingDirection direction);
    // In-place edits of `state`; each one notifies.
    void writeRoute(int level, int destination, std::optional<int> source);
    void writeLock(int destination, bool locked);
    void revert(const QList<RouteUndo> &undo);

    // Runs `work` later on the UI thread, unless the controller is gone by then.
    void runTask(std::function<void()> work);
    // Wraps a driver completion so that it never touches a destroyed controller.
    DriverCompletion guarded(std::function<void(RouterController &, DriverResult)> handler);

    // Store access, in one place.
    void reloadSalvos();
    void reloadPanels();
    // setActivePanelID() without telling a failed write.
    StoreOutcome chooseActivePanel(const std::optional<QUuid> &id);
    std::optional<SubPanel> panelWithId(const std::optional<QUuid> &id) const;
    std::optional<QUuid> scopeOf(const Salvo &salvo) const;
    QList<Route> capture(const std::optional<QUuid> &panelID) const;
    bool inRange(const Route &route, const QSet<int> &levelIndices) const;
    QSet<int> levelIndices() const;

    const RouterConnection m_connection;
    LabelStore &m_labelStore;
    SalvoStore &m_salvoStore;
    PanelStore &m_panelStore;
    DriverMaker m_driverMaker;
    UsageHooks m_usage;

    RouterState m_state;
    ConnectionStatus m_status;
    QString m_statusMessage;
    std::optional<QString> m_lastError;
    RouteViewMode m_viewMode = RouteViewMode::matrix;
    TakeMode m_takeMode = TakeMode::immediate;
    int m_primaryLevel = 0;
    QSet<int> m_breakawayLevels;
    std::optional<int> m_pendingDestination;
    std::optional<int> m_pendingSource;
    std::optional<int> m_selectedDestination;
    QSet<int> m_selectedDestinations;
    bool m_multiSelectMode = false;
    std::optional<int> m_selectedSource;
    QSet<int> m_pendingDestinations;
    RoutingDirection m_routingDirection = RoutingDirection::destinationLed;

    RouterDriverPtr m_driver;
    QSet<quint64> m_unconfirmed;
    // Set when the driver is ended before the task that starts its connect() has run.
    std::shared_ptr<bool> m_connectCancelled;
    std::shared_ptr<RouterEventStream> m_eventStream; // the event task: its reader
    quint64 m_driverGeneration = 0; // tells events of a torn-down driver from the current
    int m_batchDepth = 0;
    bool m_batchedStateChange = false;
    bool m_inDriverBurst = false;

    QList<Salvo> m_salvos;
    QList<SubPanel> m_panels;
    std::optional<QUuid> m_activePanelID;
    QHash<int, QString> m_baseSourceLabels;
    QHash<int, QString> m_baseDestinationLabels;
    // Ports whose router label changed in the current burst, not yet overlaid.
    QSet<int> m_changedSourceLabels;
    QSet<int> m_changedDestinationLabels;
    std::optional<PortRef> m_renameTarget;
    QString m_renameDraft;

    // Cache of the visible ports and their rows; rebuilt lazily after invalidation.
    mutable bool m_visibleDirty = true;
    mutable QList<Port> m_visibleSources;
    mutable QList<Port> m_visibleDestinations;
    mutable QHash<int, int> m_visibleSourceRows;
    mutable QHash<int, int> m_visibleDestinationRows;
};

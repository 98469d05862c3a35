#pragma once

#include "Controllers/RouterController.h"
#include "Drivers/RouterDriver.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/RouterModels.h"
#include "Model/SalvoStore.h"
#include "Model/StoreFile.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUuid>

#include <chrono>
#include <memory>
#include <optional>

// What a ConnectionStore is built with. The defaults are the application's: files in the
// application-support folder, the vendor's real driver, the shared usage analytics and the
// launch poll of 0.2 s at most 75 times.
struct ConnectionStoreOptions
{
    QString connectionsPath; // empty: ConnectionStore::defaultStoreURL()
    QString labelsPath; // empty: LabelStore::defaultURL()
    QString salvosPath; // empty: SalvoStore::defaultURL()
    QString panelsPath; // empty: PanelStore::defaultURL()
    DriverMaker driverMaker = DriverFactory::makeDriver;
    RouterController::UsageHooks usage = RouterController::UsageHooks::shared();
    std::chrono::milliseconds launchPollInterval { 200 };
    int launchPollLimit = 75;
};

// The application's one store of saved routers (connections.json), of the three per-router
// stores (labels, salvos, sub-panels) and of one cached RouterController per router.
//
// The saved routers keep the operator's order: the file's order, new routers at the end. A
// missing file gives three sample routers; an unreadable one is moved aside to
// "connections.json.corrupt" (or the next free numbered name) and the list starts empty.
// Every change of the list is written at once and returns what became of it: a failed write
// is printed and the list in memory keeps the change for this session; a change the file
// could not hold is refused and undone, so that later changes are still saved.
//
// Controllers are shared: a view may keep the one it was handed after the store has
// dropped it (edit, removal); a dropped controller is disconnected first and stays usable,
// but every view that shows the router must ask for its controller again when it hears
// controllerDropped(), or a second link to the same router can be opened. The store must
// outlive every controller it handed out, since they use its three stores.
//
// Lives on the UI thread; every member is called there.
class ConnectionStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<RouterConnection> connections READ connections NOTIFY connectionsChanged)

public:
    using Options = ConnectionStoreOptions;
    using ControllerPtr = std::shared_ptr<RouterController>;

    // connections.json is read only within these bounds, far above any real list, so that
    // whatever it holds opens the window at once: each router costs a sidebar row and a
    // controller. A larger file is unreadable (moved aside, with its console line), and no
    // router is added past the bound, so the file stays readable.
    static constexpr int maxRouters = 1000;
    static constexpr qint64 maxFileSize = 4 * 1024 * 1024;

    explicit ConnectionStore(QObject *parent = nullptr);
    explicit ConnectionStore(Options options, QObject *parent = nullptr);
    ~ConnectionStore() override;

    // "Quorvel/connections.json" under the application-support folder.
    static QString defaultStoreURL();
    // The three first-run routers, each with a fresh id.
    static QList<RouterConnection> seed();

    // The saved routers (and ephemeral ones) in the operator's order.
    const QList<RouterConnection> &connections() const { return m_connections; }

    // The selected router; kept in memory only, so every launch starts on the first router.
    std::optional<QUuid> selectedConnectionID() const { return m_selectedConnectionID; }
    void setSelectedConnectionID(const std::optional<QUuid> &id);
    // The listed router with the selected id, if any.
    std::optional<RouterConnection> selectedConnection() const;

    // The unreadable store files found at creation (routers, labels, salvos, sub-panels), in
    // that order, for the window to tell the operator once.
    QList<StoreFile::Rescue> rescues() const;

    LabelStore &labels() { return m_labels; }
    SalvoStore &salvoStore() { return m_salvoStore; }
    PanelStore &panelStore() { return m_panelStore; }

    // The cached controller of the connection's id, made (disconnected) on first request.
    // The record passed in is used only to make a new controller.
    ControllerPtr controller(const RouterConnection &connection);

    // Appends and selects a router; with `persist` false it is never written to the file.
    // With maxRouters saved routers already, a saved router is refused and nothing changes.
    StoreOutcome add(const RouterConnection &connection, bool persist = true);
    // Replaces the router with the same id, disconnecting and dropping its controller so
    // the next request builds one from the new record. An unknown id changes nothing, nor
    // does a record the file could not hold: it is refused, the controller kept.
    StoreOutcome update(const RouterConnection &connection);
    // Deletes the router with its labels, salvos, sub-panels and active sub-panel; the first
    // of the four files that failed is returned.
    StoreOutcome remove(const RouterConnection &connection);

    // Launch connect: the first call connects every saved router other than the simulator
    // (unless its controller is already busy) and then watches for the first of them to
    // come online, which it selects unless the operator has chosen a router meanwhile.
    // Later calls do nothing.
    void autoConnectOnLaunch();

    // For the application's teardown: stops the launch auto-select and ends the driver of
    // every cached controller at once (RouterController::shutDown()). Also run on
    // destruction.
    void shutDown();

signals:
    void connectionsChanged();
    void selectedConnectionIDChanged();
    // The cached controller of `id` was disconnected and dropped by update() or remove(),
    // after the list changed (or, for an unchanged Save, stayed equal); the next
    // controller() request for the router builds a fresh one.
    void controllerDropped(const QUuid &id);
    // A save found one of the four files changed by someone else and kept that version as a
    // copy, for the window to tell the operator once.
    void outsideVersionKept(const StoreFile::Kept &kept);

private:
    struct Loaded
    {
        QList<RouterConnection> connections;
        bool assignedIDs = false; // some records had no id and were given one
    };
    // No file gives std::nullopt; an unreadable file is moved aside and gives an empty list.
    std::optional<Loaded> load();
    StoreOutcome save();
    // The file's text of `connections`, or the refusal (printed) when the file can't hold it.
    std::expected<QByteArray, StoreFailure>
    encode(const QList<RouterConnection> &connections) const;
    StoreOutcome write(const std::expected<QByteArray, StoreFailure> &bytes);
    int savedCount() const; // the routers that are written, ephemeral ones left out
    void setConnections(const QList<RouterConnection> &connections);
    bool dropController(const QUuid &id); // true when a controller was cached
    void cancelAutoSelect();
    void pollLaunch();

    Options m_options;
    QList<RouterConnection> m_connections;
    std::optional<QUuid> m_selectedConnectionID;
    QHash<QUuid, ControllerPtr> m_controllerCache;
    StoreFile m_file;
    LabelStore m_labels;
    SalvoStore m_salvoStore;
    PanelStore m_panelStore;
    QSet<QUuid> m_ephemeralIDs;
    // The launch auto-select task: a poll timer owned by the store, so it ends with it.
    QPointer<QTimer> m_autoSelectTimer;
    int m_launchPolls = 0;
    std::optional<QUuid> m_launchSnapshot;
    QList<QUuid> m_launchIDs;
    bool m_didRunLaunchConnect = false;
};

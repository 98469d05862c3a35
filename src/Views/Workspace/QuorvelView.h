#pragma once

#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class ControlBar;
class CrosspointMatrixView;
class DestinationListView;
class DeviceHeader;
namespace GlassKit {
class ErrorBanner;
}
class PanelTabStrip;
class QButtonGroup;
class QDialog;
class ElidedLabel;
class ToolbarFit;
class QLabel;
class QPushButton;
class QShortcut;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class RouterController;
class RoutingModeCluster;
class SalvoStrip;
class StatusPill;

// The routing workspace of one router: while it is online, its device header and routing-mode
// controls, panel tabs, salvo strip and crosspoint matrix or two-pane list, with the floating
// control bar and error banner; otherwise a prompt to connect. It keeps no routing state, only
// which of its sheets and alerts are open. Showing it connects the router when, and only when,
// the controller is disconnected.
class QuorvelView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int initialControlBarHeight = 80;

    explicit QuorvelView(std::shared_ptr<RouterController> controller, QWidget *parent = nullptr);
    ~QuorvelView() override;

    const std::shared_ptr<RouterController> &controller() const { return m_controller; }

    // The router's model and the driver's progress text, the empty ones left out.
    static QString subtitle(const QString &model, const QString &statusMessage);
    QString subtitle() const;
    // "Rename Source" or "Rename Destination".
    static QString renameTitle(const std::optional<PortRef> &target);
    // The bottom space the routing area keeps free under the control bar.
    int controlBarClearance() const;
    int controlBarHeight() const { return m_controlBarHeight; }

    // View state: which sheet or alert is up.
    bool showingLabels() const { return bool(m_labelsSheet); }
    bool showingSalvos() const { return bool(m_salvosSheet); }
    bool showingPanels() const { return bool(m_panelsSheet); }
    const std::optional<SubPanel> &editingPanel() const { return m_editingPanel; }
    const std::optional<SubPanel> &deletingPanel() const { return m_deletingPanel; }

    void showLabels();
    void showSalvos();
    void showPanels();
    void editPanel(const SubPanel &panel);
    void confirmDeletePanel(const SubPanel &panel);
    // "Delete “name”?" and its message, by the panel's salvo count.
    static QString deletePanelTitle(const SubPanel &panel);
    static QString deletePanelMessage(int salvoCount);

    QDialog *renameAlert() const { return m_renameAlert; }
    QMessageBox *deletePanelAlert() const { return m_deletePanelAlert; }

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void build();
    QWidget *buildToolbar();
    QWidget *buildConnectPrompt();
    QWidget *buildConnectedLayout();
    QWidget *buildMismatchPlaceholder();
    void bind();
    void connectIfDisconnected();
    void refreshStatus();
    void refreshPrompt();
    void refreshToolbar();
    void refreshPanelTabs();
    void refreshSalvoStrip();
    void refreshRoutingArea();
    void refreshBanner();
    void refreshClearance();
    void rebuildShortcuts();
    void layoutOverlays();
    void showRenameAlert();
    void tellRenameNotSaved(const PortRef &port, const StoreFailure &failure);

    std::shared_ptr<RouterController> m_controller;
    int m_controlBarHeight = initialControlBarHeight;
    int m_appliedClearance = -1;
    std::optional<SubPanel> m_editingPanel;
    std::optional<SubPanel> m_deletingPanel;

    // Toolbar.
    ElidedLabel *m_title = nullptr;
    ElidedLabel *m_subtitle = nullptr;
    QWidget *m_toolbarItems = nullptr;
    QToolButton *m_panelMenuButton = nullptr;
    ToolbarFit *m_toolbarFit = nullptr;
    QButtonGroup *m_viewModes = nullptr;

    QStackedWidget *m_body = nullptr;
    // Connect prompt.
    QWidget *m_prompt = nullptr;
    QLabel *m_promptIcon = nullptr;
    ElidedLabel *m_promptTitle = nullptr;
    QLabel *m_promptDescription = nullptr;
    StatusPill *m_promptPill = nullptr;
    QLabel *m_promptFailure = nullptr;
    QPushButton *m_promptButton = nullptr;
    // Connected layout.
    QWidget *m_connected = nullptr;
    DeviceHeader *m_header = nullptr;
    RoutingModeCluster *m_cluster = nullptr;
    PanelTabStrip *m_tabs = nullptr;
    SalvoStrip *m_salvoStrip = nullptr;
    QStackedWidget *m_routingArea = nullptr;
    CrosspointMatrixView *m_matrix = nullptr;
    DestinationListView *m_list = nullptr;
    QWidget *m_mismatch = nullptr;
    // Overlays.
    ControlBar *m_controlBar = nullptr;
    GlassKit::ErrorBanner *m_banner = nullptr;

    QList<QShortcut *> m_panelShortcuts;
    QPointer<QDialog> m_renameAlert;
    QPointer<QMessageBox> m_deletePanelAlert;
    QPointer<QDialog> m_labelsSheet;
    QPointer<QDialog> m_salvosSheet;
    QPointer<QDialog> m_panelsSheet;
    QPointer<QDialog> m_panelEditor;
};

#include "Views/Workspace/QuorvelView.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/StatusDot.h"
#include "Theme/Theme.h"
#include "Views/Labels/LabelsEditor.h"
#include "Views/List/DestinationListView.h"
#include "Views/Matrix/CrosspointMatrixView.h"
#include "Views/Panels/PanelEditor.h"
#include "Views/Panels/PanelManagerSheet.h"
#include "Views/Panels/PanelMenu.h"
#include "Views/Panels/PanelSheetKit.h"
#include "Views/Salvos/SalvoSheet.h"
#include "Views/Salvos/SalvoStrip.h"
#include "Views/Workspace/ControlBar.h"
#include "Views/Workspace/DeviceHeader.h"
#include "Views/Workspace/PanelTabStrip.h"
#include "Views/Workspace/RoutingModeCluster.h"
#include "Views/Workspace/ToolbarFit.h"

#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The keyboard's ring on a placeholder button: a dark edge, which stands out against the
// router's colour inside and the window around it alike. Only Tab brings the keyboard there,
// so a click leaves no ring behind.
QString focusRule(const QColor &ring)
{
    return QStringLiteral("QPushButton:focus { border: 2px solid %1; padding: 3px 14px; }")
        .arg(ring.name(QColor::HexArgb));
}

// A filled button in the router's colour, for the one action of a placeholder.
void makeProminent(QPushButton *button, const QColor &tint)
{
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(30);
    button->setFocusPolicy(Qt::TabFocus);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                       " border-radius: 8px; padding: 5px 16px; font-weight: 600; }"
                       "QPushButton:hover { background: %2; }"
                       "QPushButton:pressed { background: %3; }")
            .arg(tint.name(), tint.lighter(110).name(), tint.darker(115).name())
        + focusRule(Theme::withAlpha(Theme::label(), 0.85)));
}

// The placeholder's other buttons: the same rounded shape as the prominent one, in a light
// wash of the label colour.
void makeBordered(QPushButton *button)
{
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(30);
    const auto rgba = [](const QColor &c) {
        return Text::format(QStringLiteral("rgba(%1, %2, %3, %4)"), c.red(), c.green(), c.blue(),
                            c.alphaF());
    };
    const QColor wash = Theme::quaternaryFill();
    button->setFocusPolicy(Qt::TabFocus);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none;"
                       " border-radius: 8px; padding: 5px 16px; font-weight: 600; }"
                       "QPushButton:hover { background: %3; }"
                       "QPushButton:pressed { background: %4; }")
            .arg(rgba(Theme::withAlpha(wash, 1.5)), Theme::label().name(),
                 rgba(Theme::withAlpha(wash, 2)), rgba(Theme::withAlpha(wash, 3)))
        + focusRule(Theme::focusRing()));
}

// A segment of the view-mode picker, or a toolbar button with a symbol and a title.
QToolButton *toolbarButton(const QString &symbol, const QString &title)
{
    auto *button = new QToolButton;
    button->setIcon(Symbols::icon(symbol));
    button->setText(title);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setIconSize(QSize(16, 16));
    return button;
}

// A toolbar pull-down: the style's arrow is a few pixels in a corner, so it is left out and a
// chevron is drawn after the label instead, centred on it.
class PullDownButton final : public QToolButton
{
public:
    QSize sizeHint() const override
    {
        const QSize hint = QToolButton::sizeHint();
        return { hint.width() + chevronGap + chevronSize, hint.height() };
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionToolButton option;
        initStyleOption(&option);
        option.features &= ~QStyleOptionToolButton::HasMenu;
        QStyleOptionToolButton bevel = option;
        bevel.text.clear();
        bevel.icon = QIcon();
        painter.drawComplexControl(QStyle::CC_ToolButton, bevel);
        QStyleOptionToolButton label = option;
        label.rect = rect().adjusted(0, 0, -(chevronGap + chevronSize), 0);
        painter.drawControl(QStyle::CE_ToolButtonLabel, label);
        const QColor ink = isEnabled() ? Theme::secondaryLabel() : Theme::tertiaryLabel();
        const QPixmap chevron = Symbols::pixmap(QStringLiteral("chevron.down"), chevronSize, ink,
                                                devicePixelRatioF());
        const int x = label.rect.right() + 1 + chevronGap / 2 - chevronSize / 2;
        painter.drawPixmap(QPoint(x, (height() - chevronSize) / 2), chevron);
    }

private:
    static constexpr int chevronSize = 9;
    static constexpr int chevronGap = 8;
};

QString counted(int count, const QString &singular, const QString &plural)
{
    return Text::format(QStringLiteral("%1 %2"), count, count == 1 ? singular : plural);
}

} // namespace

QuorvelView::QuorvelView(std::shared_ptr<RouterController> controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("QuorvelView"));
    build();
    bind();
}

QuorvelView::~QuorvelView()
{
    const bool renaming = m_renameAlert;
    // Sheets and alerts are children of the window, not of this view: they go with it.
    for (QWidget *dialog :
         std::initializer_list<QWidget *> { m_renameAlert, m_deletePanelAlert, m_labelsSheet,
                                            m_salvosSheet, m_panelsSheet, m_panelEditor })
        delete dialog;
    // The rename prompt went with the view without closing: a target left set would make
    // the next rename of that port no change, and so open nothing.
    if (renaming)
        m_controller->setRenameTarget(std::nullopt);
}

QString QuorvelView::subtitle(const QString &model, const QString &statusMessage)
{
    QStringList parts;
    // The model is the router's own text.
    for (const QString &part : { Text::isolated(model), statusMessage })
        if (!part.isEmpty())
            parts.append(part);
    return parts.join(QStringLiteral(" \u00B7 "));
}

QString QuorvelView::subtitle() const
{
    return subtitle(m_controller->state().model, m_controller->statusMessage());
}

QString QuorvelView::renameTitle(const std::optional<PortRef> &target)
{
    return target && target->kind == PortKind::source ? tr("Rename Source")
                                                      : tr("Rename Destination");
}

int QuorvelView::controlBarClearance() const
{
    return ControlBar::hasContent(*m_controller, false) ? m_controlBarHeight + 16 : 0;
}

QString QuorvelView::deletePanelTitle(const SubPanel &panel)
{
    return tr("Delete \u201C%1\u201D?").arg(shownName(panel.name));
}

QString QuorvelView::deletePanelMessage(int salvoCount)
{
    if (salvoCount > 0)
        return tr("Routing is not affected. Also deletes %1 saved for this panel \u2014 they "
                  "cannot be recovered.")
            .arg(counted(salvoCount, tr("salvo"), tr("salvos")));
    return tr("Routing is not affected \u2014 only this saved panel layout is removed.");
}

// --- Building --------------------------------------------------------------------------

void QuorvelView::build()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *backdrop = new GlassKit::RouterBackdrop(m_controller->connection().tint());
    outer->addWidget(backdrop);
    auto *column = new QVBoxLayout(backdrop);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildToolbar());

    m_body = new QStackedWidget;
    m_prompt = buildConnectPrompt();
    m_connected = buildConnectedLayout();
    m_body->addWidget(m_prompt);
    m_body->addWidget(m_connected);
    column->addWidget(m_body, 1);

    // Overlays float over the body and take no room in the column.
    m_controlBar = new ControlBar(*m_controller, this);
    connect(m_controlBar, &ControlBar::heightChanged, this, [this](int height) {
        if (height <= 0)
            return; // hidden: the last measured height stands
        m_controlBarHeight = height + 10; // with its bottom inset
        refreshClearance();
        layoutOverlays();
    });
    m_banner = new GlassKit::ErrorBanner(QString(), this);
    connect(m_banner, &GlassKit::ErrorBanner::dismissRequested, this,
            [this] { m_controller->setLastError(std::nullopt); });
    m_banner->setObjectName(QStringLiteral("errorBanner"));

    // Command-0 shows the full router in every status.
    auto *full = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_0), this);
    connect(full, &QShortcut::activated, this, [this] { m_controller->setActivePanelID({}); });
}

QWidget *QuorvelView::buildToolbar()
{
    auto *bar = new QWidget;
    bar->setObjectName(QStringLiteral("workspaceToolbar"));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(18, 10, 12, 8);
    row->setSpacing(8);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(0);
    m_title = new ElidedLabel;
    m_title->setObjectName(QStringLiteral("windowTitle"));
    Theme::apply(m_title, Theme::TextStyle::headline);
    m_subtitle = new ElidedLabel;
    m_subtitle->setObjectName(QStringLiteral("windowSubtitle"));
    Theme::applySecondary(m_subtitle, Theme::TextStyle::caption);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    row->addLayout(titles, 1);

    m_toolbarItems = new QWidget;
    auto *items = new QHBoxLayout(m_toolbarItems);
    items->setContentsMargins(0, 0, 0, 0);
    items->setSpacing(6);

    m_panelMenuButton = new PullDownButton;
    m_panelMenuButton->setIcon(Symbols::icon(QStringLiteral("rectangle.grid.3x2")));
    m_panelMenuButton->setText(tr("Full Router"));
    m_panelMenuButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_panelMenuButton->setAutoRaise(true);
    m_panelMenuButton->setIconSize(QSize(16, 16));
    m_panelMenuButton->setObjectName(QStringLiteral("panelMenu"));
    m_panelMenuButton->setToolTip(tr("Switch panel"));
    m_panelMenuButton->setPopupMode(QToolButton::InstantPopup);
    auto *panelMenu = new QMenu(m_panelMenuButton);
    attachPanelMenu(
        panelMenu, *m_controller, [this] { editPanel(m_controller->newPanelDraft()); },
        [this] { showPanels(); });
    m_panelMenuButton->setMenu(panelMenu);
    items->addWidget(m_panelMenuButton);

    // The view-mode picker: two segments.
    readChoiceButtonsAsRadioButtons();
    auto *picker = new QWidget;
    picker->setObjectName(QStringLiteral("viewModePicker"));
    picker->setToolTip(tr("Switch between the crosspoint matrix and the list view"));
    picker->setAccessibleName(tr("View"));
    auto *segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    m_viewModes = new QButtonGroup(picker);
    for (const RouteViewMode mode : allCases<RouteViewMode>()) {
        auto *segment = new QToolButton;
        // One of a set before anything can make a screen reader look at it, which then
        // hears a radio button.
        segment->setCheckable(true);
        m_viewModes->addButton(segment, int(mode));
        segment->setText(mode == RouteViewMode::matrix ? tr("Crosspoint") : tr("Dropdown"));
        segment->setAutoRaise(true);
        segment->setObjectName(mode == RouteViewMode::matrix ? QStringLiteral("matrixMode")
                                                             : QStringLiteral("listMode"));
        segments->addWidget(segment);
    }
    connect(m_viewModes, &QButtonGroup::idClicked, this,
            [this](int id) { m_controller->setViewMode(RouteViewMode(id)); });
    items->addWidget(picker);

    auto *salvos = toolbarButton(QStringLiteral("rectangle.stack.badge.play"), tr("Salvos"));
    salvos->setObjectName(QStringLiteral("salvosButton"));
    connect(salvos, &QToolButton::clicked, this, &QuorvelView::showSalvos);
    items->addWidget(salvos);
    auto *labels = toolbarButton(QStringLiteral("tag"), tr("Labels"));
    labels->setObjectName(QStringLiteral("labelsButton"));
    connect(labels, &QToolButton::clicked, this, &QuorvelView::showLabels);
    items->addWidget(labels);

    row->addWidget(m_toolbarItems);
    m_toolbarFit = new ToolbarFit(
        { bar, m_title, m_toolbarItems, m_panelMenuButton, { salvos, labels } }, this);
    return bar;
}

QWidget *QuorvelView::buildConnectPrompt()
{
    auto *prompt = new QWidget;
    prompt->setObjectName(QStringLiteral("connectPrompt"));
    auto *column = new QVBoxLayout(prompt);
    column->setSpacing(10);
    column->addStretch(1);

    m_promptIcon = new QLabel;
    m_promptIcon->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_promptIcon);
    column->addSpacing(4);

    m_promptTitle = new ElidedLabel;
    m_promptTitle->setObjectName(QStringLiteral("promptTitle"));
    Theme::apply(m_promptTitle, Theme::TextStyle::title2, QFont::DemiBold);
    m_promptTitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_promptTitle);

    m_promptDescription = plainLabel();
    m_promptDescription->setObjectName(QStringLiteral("promptDescription"));
    Theme::applySecondary(m_promptDescription, Theme::TextStyle::body);
    m_promptDescription->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_promptDescription);

    m_promptPill = new StatusPill;
    column->addWidget(m_promptPill, 0, Qt::AlignHCenter);

    // Failure texts come from drivers and routers: plain text.
    m_promptFailure = plainLabel();
    m_promptFailure->setObjectName(QStringLiteral("promptFailure"));
    Theme::apply(m_promptFailure, Theme::TextStyle::callout);
    QPalette red = m_promptFailure->palette();
    red.setColor(QPalette::WindowText, Theme::red());
    m_promptFailure->setPalette(red);
    // Shown only after a failure: hidden, it takes no line between the pill and the button.
    column->addLayout(centredWrapped(m_promptFailure, 460));

    column->addSpacing(6);
    m_promptButton = new QPushButton;
    m_promptButton->setObjectName(QStringLiteral("promptButton"));
    connect(m_promptButton, &QPushButton::clicked, this, [this] {
        if (m_controller->status().kind() == ConnectionStatus::connecting)
            m_controller->disconnect();
        else
            m_controller->connect();
    });
    column->addWidget(m_promptButton, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return prompt;
}

QWidget *QuorvelView::buildConnectedLayout()
{
    auto *layout = new QWidget;
    layout->setObjectName(QStringLiteral("connectedLayout"));
    auto *column = new QVBoxLayout(layout);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 8, 16, 4);
    header->setSpacing(12);
    m_header = new DeviceHeader(*m_controller);
    m_cluster = new RoutingModeCluster(*m_controller, true);
    m_cluster->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    header->addWidget(m_header, 1);
    header->addWidget(m_cluster);
    column->addLayout(header);

    m_tabs = new PanelTabStrip(*m_controller);
    m_tabs->setContentsMargins(0, 2, 0, 0);
    connect(m_tabs, &PanelTabStrip::newRequested, this,
            [this] { editPanel(m_controller->newPanelDraft()); });
    connect(m_tabs, &PanelTabStrip::editRequested, this, &QuorvelView::editPanel);
    connect(m_tabs, &PanelTabStrip::deleteRequested, this, &QuorvelView::confirmDeletePanel);
    column->addWidget(m_tabs);

    m_salvoStrip = new SalvoStrip(*m_controller);
    m_salvoStrip->setContentsMargins(0, 4, 0, 2);
    connect(m_salvoStrip, &SalvoStrip::openManager, this, &QuorvelView::showSalvos);
    column->addWidget(m_salvoStrip);

    m_routingArea = new QStackedWidget;
    m_matrix = new CrosspointMatrixView(*m_controller, GlassKit::MatrixCellSize::shared().value(),
                                        5, 1600);
    m_matrix->followCellSize();
    m_matrix->setObjectName(QStringLiteral("crosspointMatrix"));
    m_list = new DestinationListView(*m_controller);
    m_mismatch = buildMismatchPlaceholder();
    m_routingArea->addWidget(m_matrix);
    m_routingArea->addWidget(m_list);
    m_routingArea->addWidget(m_mismatch);
    column->addWidget(m_routingArea, 1);
    return layout;
}

QWidget *QuorvelView::buildMismatchPlaceholder()
{
    auto *panel = new QWidget;
    panel->setObjectName(QStringLiteral("panelMismatch"));
    auto *column = new QVBoxLayout(panel);
    column->setSpacing(8);
    column->addStretch(1);
    auto *symbol = new QLabel;
    symbol->setPixmap(Symbols::pixmap(QStringLiteral("rectangle.on.rectangle.slash"), 40,
                                      Theme::tertiaryLabel(), devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignHCenter);
    column->addWidget(symbol);
    auto *title = new QLabel(tr("Panel Doesn't Match This Router"));
    Theme::apply(title, Theme::TextStyle::title3, QFont::DemiBold);
    title->setAlignment(Qt::AlignHCenter);
    column->addWidget(title);
    auto *description = new QLabel(tr("None of this panel's saved ports exist on the connected "
                                      "router."));
    Theme::applySecondary(description, Theme::TextStyle::body);
    description->setAlignment(Qt::AlignHCenter);
    description->setWordWrap(true);
    column->addWidget(description);
    column->addSpacing(6);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *edit = new QPushButton(tr("Edit Panel\u2026"));
    edit->setObjectName(QStringLiteral("editActivePanel"));
    makeProminent(edit, m_controller->connection().tint());
    connect(edit, &QPushButton::clicked, this, [this] {
        if (const auto panel = m_controller->activePanel())
            editPanel(*panel);
    });
    auto *full = new QPushButton(tr("Show Full Router"));
    full->setObjectName(QStringLiteral("showFullRouter"));
    makeBordered(full);
    connect(full, &QPushButton::clicked, this, [this] { m_controller->setActivePanelID({}); });
    buttons->addWidget(edit);
    buttons->addWidget(full);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->addStretch(1);
    return panel;
}

// --- Binding ---------------------------------------------------------------------------

void QuorvelView::bind()
{
    RouterController *c = m_controller.get();
    connect(c, &RouterController::statusChanged, this, &QuorvelView::refreshStatus);
    connect(c, &RouterController::statusMessageChanged, this, [this] {
        refreshPrompt();
        m_subtitle->setText(subtitle());
    });
    connect(c, &RouterController::stateChanged, this, [this] { m_subtitle->setText(subtitle()); });
    connect(c, &RouterController::lastErrorChanged, this, &QuorvelView::refreshBanner);
    connect(c, &RouterController::viewModeChanged, this, [this] {
        refreshToolbar();
        refreshRoutingArea();
        refreshClearance();
    });
    for (auto signal :
         { &RouterController::takeModeChanged, &RouterController::breakawayLevelsChanged,
           &RouterController::stateChanged })
        connect(c, signal, this, &QuorvelView::refreshClearance);
    connect(c, &RouterController::panelsChanged, this, [this] {
        refreshPanelTabs();
        rebuildShortcuts();
        refreshRoutingArea();
        refreshToolbar();
    });
    connect(c, &RouterController::activePanelIDChanged, this, [this] {
        refreshRoutingArea();
        refreshSalvoStrip();
        refreshToolbar();
    });
    connect(c, &RouterController::visiblePortsChanged, this, &QuorvelView::refreshRoutingArea);
    connect(c, &RouterController::salvosChanged, this, &QuorvelView::refreshSalvoStrip);
    connect(c, &RouterController::renameTargetChanged, this, [this] {
        if (m_controller->renameTarget())
            showRenameAlert();
        else if (m_renameAlert)
            m_renameAlert->close();
    });

    m_title->setText(c->connection().name);
    m_subtitle->setText(subtitle());
    rebuildShortcuts();
    refreshStatus();
}

void QuorvelView::connectIfDisconnected()
{
    // Posted, so the view is on screen first; the status is read when the task runs.
    QTimer::singleShot(0, this, [this] {
        if (m_controller->status().kind() == ConnectionStatus::disconnected)
            m_controller->connect();
    });
}

void QuorvelView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        connectIfDisconnected();
}

// --- Refreshing ------------------------------------------------------------------------

void QuorvelView::refreshStatus()
{
    const bool online = m_controller->status().isConnected();
    m_body->setCurrentWidget(online ? m_connected : m_prompt);
    refreshPrompt();
    refreshToolbar();
    refreshPanelTabs();
    refreshSalvoStrip();
    refreshRoutingArea();
    refreshBanner();
    refreshClearance();
    layoutOverlays();
}

void QuorvelView::refreshPrompt()
{
    const RouterConnection &connection = m_controller->connection();
    const ConnectionStatus &status = m_controller->status();
    m_promptIcon->setPixmap(Symbols::pixmap(connection.vendor.systemImage(), 44, connection.tint(),
                                            devicePixelRatioF()));
    m_promptTitle->setText(connection.name);
    m_promptDescription->setText(connection.vendor.displayName() + QStringLiteral(" \u00B7 ")
                                 + connection.endpointDescription());
    m_promptPill->setStatus(status);
    const bool failed = status.kind() == ConnectionStatus::failed;
    m_promptFailure->setText(failed ? status.message() : QString());
    m_promptFailure->setVisible(failed);
    const bool connecting = status.kind() == ConnectionStatus::connecting;
    m_promptButton->setText(connecting ? tr("Cancel") : tr("Connect"));
    m_promptButton->setIcon(Symbols::icon(
        connecting ? QStringLiteral("xmark") : QStringLiteral("bolt.fill"), Qt::white));
    makeProminent(m_promptButton, connection.tint());
}

void QuorvelView::refreshToolbar()
{
    m_toolbarItems->setVisible(m_controller->status().isConnected());
    if (QAbstractButton *segment = m_viewModes->button(int(m_controller->viewMode())))
        segment->setChecked(true);
    const std::optional<SubPanel> active = m_controller->activePanel();
    m_panelMenuButton->setIcon(Symbols::icon(active ? QStringLiteral("rectangle.grid.1x2")
                                                    : QStringLiteral("rectangle.grid.3x2")));
    m_toolbarFit->setPanelLabel(active ? active->name : tr("Full Router"), active.has_value());
}

void QuorvelView::refreshPanelTabs()
{
    m_tabs->setVisible(!m_controller->panels().isEmpty());
}

void QuorvelView::refreshSalvoStrip()
{
    m_salvoStrip->setVisible(m_controller->showsSalvoStrip());
}

void QuorvelView::refreshRoutingArea()
{
    const bool mismatch = m_controller->activePanel()
        && (m_controller->visibleSources().isEmpty()
            || m_controller->visibleDestinations().isEmpty());
    if (mismatch)
        m_routingArea->setCurrentWidget(m_mismatch);
    else if (m_controller->viewMode() == RouteViewMode::matrix)
        m_routingArea->setCurrentWidget(m_matrix);
    else
        m_routingArea->setCurrentWidget(m_list);
}

void QuorvelView::refreshBanner()
{
    const std::optional<QString> &error = m_controller->lastError();
    const bool shown = error && m_controller->status().isConnected();
    if (shown)
        m_banner->setMessage(*error);
    m_banner->setVisible(shown);
    layoutOverlays();
}

void QuorvelView::refreshClearance()
{
    // The bar floats only over a connected router's routing area, and only with content.
    const bool bar
        = m_controller->status().isConnected() && ControlBar::hasContent(*m_controller, false);
    if (bar != !m_controlBar->isHidden()) {
        m_controlBar->setVisible(bar);
        layoutOverlays();
    }
    // Called on every state change (each route): pass the value on only when it moves.
    const int clearance = controlBarClearance();
    if (clearance == m_appliedClearance)
        return;
    m_appliedClearance = clearance;
    m_matrix->setControlBarClearance(clearance);
    m_list->setControlBarClearance(clearance);
}

void QuorvelView::rebuildShortcuts()
{
    // A shortcut may be the one whose activation changed the panels: retire it, delete later.
    for (QShortcut *old : std::as_const(m_panelShortcuts)) {
        old->setEnabled(false);
        old->deleteLater();
    }
    m_panelShortcuts.clear();
    const QList<SubPanel> &panels = m_controller->panels();
    for (int p = 0; p < qMin<qsizetype>(9, panels.size()); ++p) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + p)), this);
        const QUuid id = panels.at(p).id;
        connect(shortcut, &QShortcut::activated, this,
                [this, id] { m_controller->setActivePanelID(id); });
        m_panelShortcuts.append(shortcut);
    }
}

void QuorvelView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutOverlays();
}

bool QuorvelView::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // The overlays are in no layout: a bar or banner that asks for a new size through
    // updateGeometry() (take cluster shown, message changed) is measured again here.
    if (event->type() == QEvent::LayoutRequest)
        layoutOverlays();
    return handled;
}

void QuorvelView::layoutOverlays()
{
    if (!m_body)
        return;
    const QRect body = m_body->geometry();
    if (!m_controlBar->isHidden()) {
        // The bar centres itself in the width it is given and picks its rows by it.
        const int width = qMax(0, body.width() - 32);
        const int height = m_controlBar->heightForWidth(width);
        m_controlBar->setGeometry(body.left() + 16, body.bottom() - 10 - height + 1, width, height);
        m_controlBar->raise();
    }
    if (!m_banner->isHidden()) {
        // Narrowed to the body, the message may wrap: its height is the one for that width.
        const int width = qMin(m_banner->sizeHint().width(), body.width() - 32);
        m_banner->setGeometry(body.left() + (body.width() - width) / 2, body.top() + 8, width,
                              m_banner->heightForWidth(width));
        m_banner->raise();
    }
}

// --- Sheets and alerts -----------------------------------------------------------------

void QuorvelView::showRenameAlert()
{
    // One that is closing (it goes later) is no longer the prompt.
    if (m_renameAlert && m_renameAlert->isVisible()) {
        m_renameAlert->setWindowTitle(renameTitle(m_controller->renameTarget()));
        return;
    }
    auto *alert = new QDialog(window());
    alert->setObjectName(QStringLiteral("renameAlert"));
    alert->setWindowTitle(renameTitle(m_controller->renameTarget()));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    auto *column = new QVBoxLayout(alert);
    column->setContentsMargins(20, 18, 20, 14);
    column->setSpacing(12);
    auto *title = new QLabel(alert->windowTitle());
    Theme::apply(title, Theme::TextStyle::headline);
    column->addWidget(title);
    auto *field = new QLineEdit(m_controller->renameDraft());
    field->setObjectName(QStringLiteral("renameField"));
    field->setPlaceholderText(tr("Name"));
    field->setAccessibleName(tr("Name"));
    field->setMinimumWidth(260);
    field->selectAll();
    connect(field, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_controller->setRenameDraft(text); });
    column->addWidget(field);
    auto *buttons = new QDialogButtonBox;
    QPushButton *save = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    save->setDefault(true);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, alert, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, alert, &QDialog::reject);
    // Save renames; every other way out leaves the port as it was.
    connect(alert, &QDialog::finished, this, [this](int result) {
        const std::optional<PortRef> target = m_controller->renameTarget();
        if (result == QDialog::Accepted && target) {
            if (const LabelStore::Failure failure = m_controller->commitRename())
                tellRenameNotSaved(*target, *failure);
        }
        m_controller->setRenameTarget(std::nullopt);
    });
    m_renameAlert = alert;
    alert->open();
}

void QuorvelView::tellRenameNotSaved(const PortRef &port, const StoreFailure &failure)
{
    const QString what = (port.kind == PortKind::source ? tr("Source %1") : tr("Destination %1"))
                             .arg(port.index + 1);
    Alerts::notSaved(failure.message(what + tr(" was renamed"), what + tr(" wasn't renamed")),
                     window())
        ->open();
}

void QuorvelView::showLabels()
{
    if (m_labelsSheet)
        return;
    auto *sheet = new LabelsEditor(*m_controller, {}, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    m_labelsSheet = sheet;
    sheet->open();
}

void QuorvelView::showSalvos()
{
    if (m_salvosSheet)
        return;
    auto *sheet = new SalvoSheet(*m_controller, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    m_salvosSheet = sheet;
    sheet->open();
}

void QuorvelView::showPanels()
{
    if (m_panelsSheet)
        return;
    auto *sheet = new PanelManagerSheet(*m_controller, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    m_panelsSheet = sheet;
    sheet->open();
}

void QuorvelView::editPanel(const SubPanel &panel)
{
    if (m_panelEditor)
        return;
    const QList<SubPanel> &panels = m_controller->panels();
    const bool isNew = std::none_of(panels.cbegin(), panels.cend(),
                                    [&](const SubPanel &p) { return p.id == panel.id; });
    m_editingPanel = panel;
    auto *sheet = new PanelEditor(*m_controller, panel, isNew, window());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    connect(sheet, &QDialog::finished, this, [this] { m_editingPanel.reset(); });
    m_panelEditor = sheet;
    sheet->open();
}

void QuorvelView::confirmDeletePanel(const SubPanel &panel)
{
    if (m_deletePanelAlert)
        return;
    m_deletingPanel = panel;
    QMessageBox *alert = Alerts::destructiveConfirmation(
        QStringLiteral("deletePanelAlert"), deletePanelTitle(panel),
        deletePanelMessage(m_controller->salvoCount(panel)), tr("Delete"), window(), this, [this] {
            if (const std::optional<SubPanel> target = std::exchange(m_deletingPanel, std::nullopt))
                PanelSheet::tellNotSaved(m_controller->deletePanel(*target), target->name,
                                         QStringLiteral("deleted"), window());
        });
    alert->setWindowTitle(tr("Delete Panel"));
    connect(alert, &QMessageBox::finished, this, [this] {
        m_deletePanelAlert = nullptr;
        m_deletingPanel.reset();
    });
    m_deletePanelAlert = alert;
    alert->open();
}

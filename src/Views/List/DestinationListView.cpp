#include "Views/List/DestinationListView.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/Theme.h"
#include "Views/List/Pane.h"
#include "Views/List/PaneHeader.h"
#include "Views/List/PortRowsModel.h"

#include <QHBoxLayout>
#include <QMenu>

#include <functional>
#include <tuple>
#include <utility>

namespace DestinationList {

namespace {

std::optional<int> inRange(const std::optional<int> &index, qsizetype count)
{
    return index && *index >= 0 && *index < count ? index : std::nullopt;
}

QString sourceSubtitle(const RouterController &controller)
{
    const RouterState &state = controller.state();
    if (controller.routingDirection() == RoutingDirection::sourceLed) {
        if (const auto source = inRange(controller.selectedSource(), state.sources.size()))
            return QStringLiteral("Sending ") + shownName(state.sources.at(*source).label);
        return QStringLiteral("Select a source");
    }
    const QList<int> targets = controller.xyTargets();
    if (targets.size() > 1)
        return QStringLiteral("\u2192 %1 destinations").arg(targets.size());
    if (targets.size() == 1) {
        if (const auto target = inRange(targets.first(), state.destinations.size()))
            return QStringLiteral("\u2192 ") + shownName(state.destinations.at(*target).label);
    }
    return QStringLiteral("Select a destination");
}

std::optional<QString> destinationSubtitle(const RouterController &controller)
{
    const RouterState &state = controller.state();
    if (controller.routingDirection() == RoutingDirection::destinationLed) {
        const qsizetype ganged = controller.selectedDestinations().size();
        if (ganged >= 2)
            return QStringLiteral("%1 selected").arg(ganged);
        return std::nullopt;
    }
    const auto source = inRange(controller.selectedSource(), state.sources.size());
    if (!source)
        return QStringLiteral("Pick a source first");
    int fed = 0;
    for (const Port &port : controller.visibleDestinations()) {
        if (state.source(port.index, controller.primaryLevel()) == *source)
            ++fed;
    }
    return QStringLiteral("%1 fed").arg(fed);
}

QList<HeaderAction> destinationHeaderActions(RouterController &controller)
{
    const HeaderAction done { QStringLiteral("Done"), QStringLiteral("checkmark"), [&controller] {
                                 controller._setMultiSelectMode(false);
                             } };
    if (controller.routingDirection() == RoutingDirection::destinationLed) {
        if (!controller.multiSelectMode()) {
            return { { QStringLiteral("Multiple"), QStringLiteral("checklist"), [&controller] {
                          controller.setTakeMode(TakeMode::confirm);
                          controller.setMultiSelectMode(true);
                      } } };
        }
        if (!controller.allGanged()) {
            return { { QStringLiteral("Select All"), QStringLiteral("checkmark.square.fill"),
                       [&controller] {
                           controller.selectAllInGang();
                       } },
                     done };
        }
        return { { QStringLiteral("Deselect All"), QStringLiteral("square.dashed"),
                   [&controller] {
                       controller.deselectAllInGang();
                   } },
                 done };
    }
    if (!controller.allDestinationsStaged()) {
        return { { QStringLiteral("Select All"), QStringLiteral("checkmark.square.fill"),
                   [&controller] {
                       controller.selectAllDestinations();
                   } } };
    }
    return { { QStringLiteral("Deselect All"), QStringLiteral("square.dashed"), [&controller] {
                  controller.clearPending();
              } } };
}

void popUpMenu(QWidget *owner, QPoint globalPos,
               const QList<std::tuple<QString, QString, std::function<void()>>> &items)
{
    auto *menu = new QMenu(owner);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto &[title, symbol, run] : items) {
        QAction *action = menu->addAction(Symbols::icon(symbol), title);
        QObject::connect(action, &QAction::triggered, menu, run);
    }
    menu->popup(globalPos);
}

} // namespace

} // namespace DestinationList

using namespace DestinationList;

DestinationListView::DestinationListView(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_clearance(GlassKit::defaultControlBarClearance)
{
    setObjectName(QStringLiteral("DestinationListView"));
    const auto sourceLed = [this] {
        return m_controller.routingDirection() == RoutingDirection::sourceLed;
    };
    // A tap acts in the direction and take mode it was made in. A waiting tap runs before any
    // further input, so only a change made without the operator (a screen reader's action)
    // can come between; then the tap is dropped rather than sent where it was not meant.
    const auto asTapped = [this](std::function<void()> act) -> PortListView::TapWork {
        const RoutingDirection direction = m_controller.routingDirection();
        const TakeMode mode = m_controller.takeMode();
        return [this, direction, mode, act = std::move(act)] {
            if (m_controller.routingDirection() == direction && m_controller.takeMode() == mode)
                act();
        };
    };

    PortListView::Handlers sourceHandlers;
    sourceHandlers.tap = [this, sourceLed, asTapped](int index) {
        if (sourceLed())
            return asTapped([this, index] { m_controller.focusSource(index); });
        return asTapped([this, index] { m_controller.chooseSource(index); });
    };
    sourceHandlers.doubleTap = [this](int index) {
        m_controller.beginRename(PortKind::source, index);
    };
    PortListView::Handlers destinationHandlers;
    destinationHandlers.tap = [this, sourceLed, asTapped](int index) {
        if (sourceLed())
            return asTapped([this, index] { m_controller.assignDestination(index); });
        return asTapped([this, index] { m_controller.focusDestination(index); });
    };
    destinationHandlers.doubleTap = [this](int index) {
        m_controller.beginRename(PortKind::destination, index);
    };
    destinationHandlers.badgeTap = [this](int index) {
        m_controller.toggleDestinationInGang(index);
    };

    sourceHandlers.contextMenu = [this](QWidget *owner, int index, QPoint at) {
        popUpMenu(
            owner, at,
            { { QStringLiteral("Rename Source\u2026"), QStringLiteral("pencil"), [this, index] {
                   m_controller.beginRename(PortKind::source, index);
               } } });
    };
    destinationHandlers.contextMenu = [this](QWidget *owner, int index, QPoint at) {
        const bool locked = m_controller.state().isLocked(index);
        const auto rename = [this, index] {
            m_controller.beginRename(PortKind::destination, index);
        };
        const auto lock = [this, index] {
            m_controller.toggleLock(index);
        };
        popUpMenu(
            owner, at,
            { { QStringLiteral("Rename Destination\u2026"), QStringLiteral("pencil"), rename },
              { locked ? QStringLiteral("Unlock") : QStringLiteral("Lock"),
                locked ? QStringLiteral("lock.open") : QStringLiteral("lock"), lock } });
    };

    m_sources = new Pane(controller, PortKind::source, QStringLiteral("Sources"), Theme::green(),
                         false, sourceHandlers, this);
    m_sources->setObjectName(QStringLiteral("sourcePane"));
    m_destinations = new Pane(controller, PortKind::destination, QStringLiteral("Destinations"),
                              Theme::orange(), true, destinationHandlers, this);
    m_destinations->setObjectName(QStringLiteral("destinationPane"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 8);
    row->setSpacing(14);
    row->addWidget(m_sources, 1);
    row->addWidget(m_destinations, 1);

    setControlBarClearance(m_clearance);
    bind();
    refreshHeaders();
}

DestinationListView::~DestinationListView() = default;

void DestinationListView::bind()
{
    RouterController *c = &m_controller;
    PortRowsModel &sources = m_sources->model();
    PortRowsModel &destinations = m_destinations->model();

    connect(c, &RouterController::visiblePortsChanged, this, [this, &sources, &destinations] {
        sources.portsChanged();
        destinations.portsChanged();
        refreshHeaders();
    });
    connect(c, &RouterController::activePanelIDChanged, this, [this] {
        m_sources->appear();
        m_destinations->appear();
    });
    // Destination details and the subtitles show source and destination labels.
    connect(c, &RouterController::portLabelsChanged, this, [this, &destinations] {
        destinations.refreshAll();
        refreshHeaders();
    });
    connect(c, &RouterController::inputStatusChanged, this,
            [&sources](int input) { sources.refreshPort(input); });
    // A route touches its destination's row, and the source rows only when it is the route
    // of the selected destination (whose source is marked).
    connect(c, &RouterController::routeChanged, this,
            [this, &sources, &destinations](int level, int destination) {
                if (level != m_controller.primaryLevel())
                    return;
                destinations.refreshPort(destination);
                if (m_controller.selectedDestination() == destination)
                    sources.refreshAll();
                if (m_controller.routingDirection() == RoutingDirection::sourceLed)
                    m_headersStale = true;
            });
    connect(c, &RouterController::lockChanged, this, [this, &destinations](int destination) {
        destinations.refreshPort(destination);
        m_headersStale = true;
    });
    connect(c, &RouterController::stateChanged, this, [this] {
        if (std::exchange(m_headersStale, false))
            refreshHeaders();
    });

    const auto everything = [this, &sources, &destinations] {
        sources.refreshAll();
        destinations.refreshAll();
        refreshHeaders();
    };
    for (const auto signal :
         { &RouterController::routingDirectionChanged, &RouterController::takeModeChanged,
           &RouterController::primaryLevelChanged, &RouterController::selectedSourceChanged,
           &RouterController::selectedDestinationChanged,
           &RouterController::selectedDestinationsChanged, &RouterController::pendingSourceChanged,
           &RouterController::pendingDestinationChanged,
           &RouterController::pendingDestinationsChanged,
           &RouterController::multiSelectModeChanged }) {
        connect(c, signal, this, everything);
    }
}

void DestinationListView::refreshHeaders()
{
    PaneHeader &sources = m_sources->header();
    sources.setSubtitle(sourceSubtitle(m_controller));
    sources.setCount(int(m_controller.visibleSources().size()));
    PaneHeader &destinations = m_destinations->header();
    destinations.setSubtitle(destinationSubtitle(m_controller));
    destinations.setCount(int(m_controller.visibleDestinations().size()));
    destinations.setActions(destinationHeaderActions(m_controller));
}

void DestinationListView::setControlBarClearance(int clearance)
{
    m_clearance = std::max(0, clearance);
    m_sources->setClearance(m_clearance);
    m_destinations->setClearance(m_clearance);
}

#include "Views/Workspace/RoutingModeCluster.h"

#include "Controllers/RouterController.h"
#include "Theme/GlassKit.h"
#include "Theme/Theme.h"
#include "Views/Workspace/ControlBarParts.h"

#include <QBoxLayout>
#include <QPainter>

using namespace ControlBarParts;

namespace {

QList<SegmentedPicker::Segment> takeModeSegments()
{
    QList<SegmentedPicker::Segment> segments;
    for (const TakeMode mode : allCases<TakeMode>()) {
        const bool immediate = mode == TakeMode::immediate;
        segments.append(
            { int(mode), immediate ? QStringLiteral("Direct") : QStringLiteral("Take"),
              immediate ? QStringLiteral("bolt.fill") : QStringLiteral("checkmark.circle") });
    }
    return segments;
}

QList<SegmentedPicker::Segment> directionSegments()
{
    QList<SegmentedPicker::Segment> segments;
    for (const RoutingDirection direction : allCases<RoutingDirection>()) {
        segments.append({ int(direction),
                          direction == RoutingDirection::destinationLed
                              ? QStringLiteral("X-Y")
                              : QStringLiteral("1 \u2192 Many"),
                          QString() });
    }
    return segments;
}

} // namespace

RoutingModeCluster::RoutingModeCluster(RouterController &controller, bool standalone,
                                       QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_standalone(standalone)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *row = new QHBoxLayout(this);
    if (standalone)
        row->setContentsMargins(GlassKit::floatingPanelInsets);
    else
        row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    const QColor tint = controller.connection().tint();
    m_takeMode = new SegmentedPicker(
        QStringLiteral("Take"), [this](int value) { m_controller.setTakeMode(TakeMode(value)); },
        this);
    m_takeMode->setObjectName(QStringLiteral("takeModePicker"));
    m_takeMode->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    m_takeMode->setTint(tint);
    m_takeMode->setSegments(takeModeSegments());
    row->addWidget(m_takeMode, 0, Qt::AlignVCenter);

    m_divider = new Divider(22, this);
    row->addWidget(m_divider, 0, Qt::AlignVCenter);

    // Every choice goes through setDirection(), which also ends gang selection and clears
    // what was staged; the picker never writes the direction itself.
    m_direction = new SegmentedPicker(
        QStringLiteral("Direction"),
        [this](int value) { m_controller.setDirection(RoutingDirection(value)); }, this);
    m_direction->setObjectName(QStringLiteral("directionPicker"));
    m_direction->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    m_direction->setTint(tint);
    m_direction->setSegments(directionSegments());
    row->addWidget(m_direction, 0, Qt::AlignVCenter);

    connect(&controller, &RouterController::takeModeChanged, this, &RoutingModeCluster::refresh);
    connect(&controller, &RouterController::viewModeChanged, this, &RoutingModeCluster::refresh);
    connect(&controller, &RouterController::routingDirectionChanged, this,
            &RoutingModeCluster::refresh);
    refresh();
}

void RoutingModeCluster::refresh()
{
    const bool confirm = m_controller.takeMode() == TakeMode::confirm;
    m_takeMode->setSelected(int(m_controller.takeMode()));
    m_takeMode->setToolTip(confirm ? QStringLiteral("Stage a route, then press Take to cut it.")
                                   : QStringLiteral("Routes the moment you choose a source."));

    const bool list = m_controller.viewMode() == RouteViewMode::list;
    const bool sourceLed = m_controller.routingDirection() == RoutingDirection::sourceLed;
    m_direction->setSelected(int(m_controller.routingDirection()));
    m_direction->setToolTip(
        sourceLed ? QStringLiteral("Pick a source, then tap destinations to send it to each.")
                  : QStringLiteral("Pick a destination, then a source."));
    if (m_direction->isHidden() == list) {
        m_divider->setVisible(list);
        m_direction->setVisible(list);
        updateGeometry();
    }
}

QSize RoutingModeCluster::sizeHint() const
{
    return layout()->sizeHint();
}

void RoutingModeCluster::paintEvent(QPaintEvent *)
{
    if (!m_standalone)
        return;
    QPainter painter(this);
    GlassKit::paintFloatingPanel(painter, QRectF(rect()));
}

#include "Views/Workspace/ControlBar.h"

#include "Controllers/RouterController.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/Workspace/ControlBarParts.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QEvent>
#include <QPainter>
#include <QShortcut>
#include <QVariantAnimation>

#include <cmath>

namespace {

constexpr int barMaximumWidth = 820;
constexpr int barInsetX = GlassKit::floatingPanelInsets.left();
constexpr int barInsetY = GlassKit::floatingPanelInsets.top();
constexpr int barCornerRadius = 22;
constexpr int rowSpacing = 14;
constexpr int stackSpacing = 10;

QString portLabel(const QList<Port> &ports, int position)
{
    if (position < 0 || position >= ports.size())
        return QStringLiteral("\u2014");
    return ports.at(position).label;
}

// The cell-size stepper, bare inside the bar, on the shared "matrixCellSize" default.
QWidget *makeZoomControl(QWidget *parent)
{
    using namespace GlassKit;
    auto *control = new MatrixZoomControl(true, MatrixCellSize::shared(), minimumMatrixCellSize,
                                          maximumMatrixCellSize, parent);
    control->setObjectName(QStringLiteral("zoomControl"));
    return control;
}

} // namespace

using namespace ControlBarParts;

ControlBar::ControlBar(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    m_frameAnimation = new Motion::SpringAnimation(Motion::standardSpring, this);
    connect(m_frameAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setPaintedRect(value.toRectF()); });

    build();
    bind();
    refresh();
}

ControlBar::~ControlBar() = default;

bool ControlBar::hasContent(const RouterController &controller, bool compactWidth)
{
    return compactWidth || controller.state().levels.size() >= 2
        || controller.viewMode() == RouteViewMode::matrix
        || controller.takeMode() == TakeMode::confirm;
}

void ControlBar::build()
{
    const QColor tint = m_controller.connection().tint();

    m_levelPicker = new SegmentedPicker(
        QStringLiteral("Level"), [this](int level) { m_controller.setPrimaryLevel(level); }, this);
    m_levelPicker->setObjectName(QStringLiteral("levelPicker"));
    m_levelPicker->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    m_levelPicker->setTint(tint);

    m_followButton = new GlassButton(GlassButton::Style::glass, this);
    m_followButton->setObjectName(QStringLiteral("followButton"));
    m_followButton->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    connect(m_followButton, &QAbstractButton::clicked, this, [this] {
        if (m_controller.breakawayLevels().isEmpty())
            m_controller.setBreakawayLevels({ m_controller.primaryLevel() });
        else
            m_controller.setBreakawayLevels({});
    });

    m_zoomDivider = new Divider(26, this);
    m_zoom = makeZoomControl(this);
    m_takeDivider = new Divider(28, this);

    m_takeCluster = new QWidget(this);
    m_takeCluster->setObjectName(QStringLiteral("takeCluster"));
    auto *cluster = new QHBoxLayout(m_takeCluster);
    cluster->setContentsMargins(0, 0, 0, 0);
    cluster->setSpacing(stackSpacing);

    // The text block keeps its height but may give up width: its lines elide.
    auto *text = new QWidget(m_takeCluster);
    text->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *lines = new QVBoxLayout(text);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(1);
    m_stagedSource = new TextLine(text);
    m_stagedSource->setObjectName(QStringLiteral("stagedSource"));
    Theme::apply(m_stagedSource, Theme::TextStyle::subheadline, QFont::DemiBold);
    m_stagedTargets = new TextLine(text);
    m_stagedTargets->setObjectName(QStringLiteral("stagedTargets"));
    Theme::applySecondary(m_stagedTargets, Theme::TextStyle::caption);
    m_emptyHint = new TextLine(text);
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    Theme::apply(m_emptyHint, Theme::TextStyle::caption);
    QPalette hintPalette = m_emptyHint->palette();
    hintPalette.setColor(QPalette::WindowText, Theme::orange());
    m_emptyHint->setPalette(hintPalette);
    for (TextLine *line : { m_stagedSource, m_stagedTargets, m_emptyHint })
        lines->addWidget(line);
    cluster->addWidget(text, 1);

    m_clearButton = new GlassButton(GlassButton::Style::glass, m_takeCluster);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setContent(QString(), QStringLiteral("xmark"));
    m_clearButton->setAccessibleName(QStringLiteral("Clear staged route"));
    m_clearButton->setToolTip(QStringLiteral("Clear staged route"));
    connect(m_clearButton, &QAbstractButton::clicked, this,
            [this] { m_controller.clearPending(); });
    cluster->addWidget(m_clearButton);

    m_takeButton = new GlassButton(GlassButton::Style::prominent, m_takeCluster);
    m_takeButton->setObjectName(QStringLiteral("takeButton"));
    m_takeButton->setFont(Theme::font(Theme::TextStyle::callout, QFont::DemiBold));
    m_takeButton->setContent(QStringLiteral("Take"), QStringLiteral("checkmark"));
    m_takeButton->setColor(tint);
    connect(m_takeButton, &QAbstractButton::clicked, this, [this] { m_controller.confirmTake(); });
    cluster->addWidget(m_takeButton);

    // Return presses Take. The shortcut belongs to the button, so it is dead while the button
    // is disabled or off screen (no bar, or immediate take mode).
    auto *takeKey = new QShortcut(QKeySequence(Qt::Key_Return), m_takeButton);
    takeKey->setContext(Qt::WindowShortcut);
    connect(takeKey, &QShortcut::activated, this, [this] {
        if (m_takeButton->isEnabled() && m_takeButton->isVisible())
            m_takeButton->click();
    });
}

void ControlBar::bind()
{
    RouterController *controller = &m_controller;
    // Before refresh, so the Follow button already shows the narrowed breakaway set.
    connect(controller, &RouterController::primaryLevelChanged, this,
            &ControlBar::onPrimaryLevelChanged);
    for (auto signal :
         { &RouterController::stateChanged, &RouterController::viewModeChanged,
           &RouterController::routingDirectionChanged, &RouterController::primaryLevelChanged,
           &RouterController::breakawayLevelsChanged, &RouterController::pendingSourceChanged,
           &RouterController::selectedSourceChanged }) {
        connect(controller, signal, this, &ControlBar::refresh);
    }
    // A change of take mode or of the staged destinations moves the bar's edges on a spring.
    for (auto signal :
         { &RouterController::takeModeChanged, &RouterController::pendingDestinationChanged,
           &RouterController::pendingDestinationsChanged }) {
        connect(controller, signal, this, [this] {
            m_springNext = true;
            refresh();
            m_springNext = false;
        });
    }
}

void ControlBar::onPrimaryLevelChanged()
{
    // A breakaway follows the level the operator picks; Follow stays Follow.
    // Only while the picker is on screen: a reset elsewhere leaves the breakaway alone.
    const bool pickerShown = m_levelPicker->isVisible() && hasContent(m_controller, false)
        && m_controller.state().levels.size() >= 2;
    if (pickerShown && !m_controller.breakawayLevels().isEmpty())
        m_controller.setBreakawayLevels({ m_controller.primaryLevel() });
}

void ControlBar::refresh()
{
    refreshLevels();
    refreshFollow();
    refreshTakeCluster();
    applyPresence();
    updateGeometry();
    relayout();
}

void ControlBar::applyPresence()
{
    const bool present = hasContent(m_controller, false);
    if (!present && !isHidden()) {
        m_hiddenByBar = true;
        hide();
    } else if (present && m_hiddenByBar) {
        m_hiddenByBar = false;
        show();
    }
}

void ControlBar::refreshLevels()
{
    QList<SegmentedPicker::Segment> segments;
    for (const RouterLevel &level : m_controller.state().levels)
        segments.append({ level.index, level.name, QString() });
    m_levelPicker->setSegments(segments);
    m_levelPicker->setSelected(m_controller.primaryLevel());
}

void ControlBar::refreshFollow()
{
    if (m_controller.breakawayLevels().isEmpty()) {
        m_followButton->setContent(QStringLiteral("Follow"), QStringLiteral("link"));
        m_followButton->setColor(Theme::secondaryLabel());
    } else {
        m_followButton->setContent(QStringLiteral("Breakaway"), QStringLiteral("scissors"));
        m_followButton->setColor(
            GlassKit::levelTint(m_controller.state(), m_controller.primaryLevel()));
    }
}

void ControlBar::refreshTakeCluster()
{
    const std::optional<RouterController::PendingTake> take = m_controller.pendingTake();
    const RouterState &state = m_controller.state();
    if (take) {
        m_stagedSource->setText(portLabel(state.sources, take->source));
        m_stagedTargets->setText(targetText(take->destinations));
    } else {
        m_emptyHint->setText(emptyHint());
    }
    m_stagedSource->setVisible(take.has_value());
    m_stagedTargets->setVisible(take.has_value());
    m_emptyHint->setVisible(!take.has_value());
    m_clearButton->setEnabled(m_controller.hasStaging());
    m_takeButton->setEnabled(take.has_value());
    // The bar reads the cluster's ideal width at once, before any posted layout pass.
    QWidget *text = m_stagedSource->parentWidget();
    text->layout()->invalidate();
    text->updateGeometry();
    m_takeCluster->layout()->invalidate();
    m_takeCluster->updateGeometry();
}

QString ControlBar::targetText(const QList<int> &destinations) const
{
    if (destinations.size() == 1)
        return QStringLiteral("\u2192 ")
            + shownName(portLabel(m_controller.state().destinations, destinations.first()));
    return QStringLiteral("\u2192 %1 destinations").arg(destinations.size());
}

QString ControlBar::emptyHint() const
{
    return m_controller.routingDirection() == RoutingDirection::sourceLed
        ? QStringLiteral("Tap destinations to stage")
        : QStringLiteral("Stage a route");
}

QList<ControlBar::Row> ControlBar::rowsOf(Arrangement arrangement) const
{
    const bool levels = m_controller.state().levels.size() >= 2;
    const bool matrix = m_controller.viewMode() == RouteViewMode::matrix;
    const bool confirm = m_controller.takeMode() == TakeMode::confirm;

    QList<Row> rows;
    const auto add = [&rows](Row row) {
        if (!row.items.isEmpty())
            rows.append(row);
    };
    switch (arrangement) {
    case Arrangement::singleRow: {
        Row row;
        if (levels)
            row.items << m_levelPicker << m_followButton;
        if (matrix)
            row.items << m_zoomDivider << m_zoom;
        if (confirm)
            row.items << m_takeDivider << m_takeCluster;
        add(row);
        break;
    }
    case Arrangement::twoRow: {
        Row first;
        if (levels)
            first.items << m_levelPicker << m_followButton;
        if (matrix)
            first.items << m_zoomDivider << m_zoom;
        add(first);
        if (confirm)
            add({ { m_takeCluster } });
        break;
    }
    case Arrangement::threeRow: {
        if (levels)
            add({ { m_followButton } });
        Row middle;
        if (levels)
            middle.items << m_levelPicker;
        if (matrix)
            middle.items << m_zoom;
        add(middle);
        if (confirm)
            add({ { m_takeCluster } });
        break;
    }
    }
    return rows;
}

QSize ControlBar::idealSize(const QList<Row> &rows) const
{
    QSize size;
    for (const Row &row : rows) {
        int width = 0;
        int height = 0;
        for (const QWidget *item : row.items) {
            const QSize hint = item->sizeHint();
            width += hint.width();
            height = std::max(height, hint.height());
        }
        width += rowSpacing * int(row.items.size() - 1);
        size.setWidth(std::max(size.width(), width));
        size.setHeight(size.height() + height);
    }
    if (rows.size() > 1)
        size.setHeight(size.height() + stackSpacing * int(rows.size() - 1));
    return size;
}

ControlBar::Placement ControlBar::placementFor(int width) const
{
    // The first arrangement whose ideal width fits wins; three rows when none does.
    const int available = std::min(width, barMaximumWidth) - 2 * barInsetX;
    Placement placement;
    for (Arrangement arrangement :
         { Arrangement::singleRow, Arrangement::twoRow, Arrangement::threeRow }) {
        placement.arrangement = arrangement;
        placement.rows = rowsOf(arrangement);
        placement.content = idealSize(placement.rows);
        if (placement.content.width() <= available)
            break;
    }
    return placement;
}

int ControlBar::heightForWidth(int width) const
{
    return placementFor(width).content.height() + 2 * barInsetY;
}

QSize ControlBar::sizeHint() const
{
    const Placement placement = placementFor(barMaximumWidth);
    return placement.content + QSize(2 * barInsetX, 2 * barInsetY);
}

QSize ControlBar::minimumSizeHint() const
{
    return { 0, heightForWidth(0) };
}

void ControlBar::relayout()
{
    const Placement placement = placementFor(width());
    const int available = std::max(0, std::min(width(), barMaximumWidth) - 2 * barInsetX);
    const int contentWidth = std::min(placement.content.width(), available);
    const int barWidth = contentWidth + 2 * barInsetX;
    m_barRect
        = QRect((width() - barWidth) / 2, 0, barWidth, placement.content.height() + 2 * barInsetY);

    QList<QWidget *> placed;
    int y = m_barRect.top() + barInsetY;
    for (const Row &row : placement.rows) {
        int rowWidth = rowSpacing * int(row.items.size() - 1);
        int rowHeight = 0;
        for (const QWidget *item : row.items) {
            rowWidth += item->sizeHint().width();
            rowHeight = std::max(rowHeight, item->sizeHint().height());
        }
        // Only the take cluster's text gives way when a row is too wide.
        const int excess = std::max(0, rowWidth - contentWidth);
        int x = m_barRect.left() + barInsetX + std::max(0, (contentWidth - rowWidth) / 2);
        for (QWidget *item : row.items) {
            QSize size = item->sizeHint();
            if (item == m_takeCluster && excess > 0)
                size.setWidth(std::max(item->minimumSizeHint().width(), size.width() - excess));
            item->setGeometry(x, y + (rowHeight - size.height()) / 2, size.width(), size.height());
            x += size.width() + rowSpacing;
            placed.append(item);
        }
        y += rowHeight + stackSpacing;
    }
    for (QWidget *part :
         { static_cast<QWidget *>(m_levelPicker), static_cast<QWidget *>(m_followButton),
           static_cast<QWidget *>(m_zoomDivider), m_zoom, static_cast<QWidget *>(m_takeDivider),
           m_takeCluster }) {
        part->setVisible(placed.contains(part));
    }
    moveFrame();
}

void ControlBar::moveFrame()
{
    const QRectF target(m_barRect);
    if (m_springNext && isVisible() && !m_paintedRect.isEmpty() && m_paintedRect != target) {
        // Only the sides travel: the height follows the layout at once.
        const QRectF start(m_paintedRect.left(), target.top(), m_paintedRect.width(),
                           target.height());
        m_frameAnimation->stop();
        m_frameAnimation->setStartValue(start);
        m_frameAnimation->setEndValue(target);
        m_frameAnimation->start();
        return;
    }
    if (m_frameAnimation->state() == QAbstractAnimation::Running) {
        // A layout pass during the spring keeps it going, towards the new frame.
        m_frameAnimation->setEndValue(target);
        return;
    }
    setPaintedRect(target);
}

void ControlBar::setPaintedRect(const QRectF &rect)
{
    m_paintedRect = rect;
    // Clicks beside the bar reach the routing content underneath.
    const QRect covered = rect.toAlignedRect().united(m_barRect);
    const QRegion next = covered.isEmpty() ? QRegion(0, 0, 1, 1) : QRegion(covered);
    const QRegion previous = mask();
    setMask(next);
    update();
    // What the old shape covered and the new one does not must be painted again by the
    // content under it. Updating the parent alone does not reach into the routing views
    // there, which left the old frames behind as trails, so each widget underneath is asked.
    QWidget *parent = parentWidget();
    if (!parent || !isVisible() || previous.isEmpty())
        return;
    const QRegion uncovered = previous.subtracted(next).translated(pos());
    if (uncovered.isEmpty())
        return;
    const QRect bounds = uncovered.boundingRect();
    parent->update(uncovered);
    for (QWidget *under : parent->findChildren<QWidget *>()) {
        if (under == this || isAncestorOf(under) || !under->isVisible())
            continue;
        const QPoint origin = under->mapTo(parent, QPoint());
        if (!QRect(origin, under->size()).intersects(bounds))
            continue;
        const QRegion local = uncovered.translated(-origin).intersected(under->rect());
        if (!local.isEmpty())
            under->update(local);
    }
}

void ControlBar::reportHeight()
{
    const int reported = isHidden() ? 0 : height();
    if (reported == m_reportedHeight)
        return;
    m_reportedHeight = reported;
    emit heightChanged(reported);
}

bool ControlBar::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // The parts are placed by hand, so a part that asks for another size (a picker that got
    // its levels, a new staged label) is placed again here; a new height goes to the owner.
    if (event->type() == QEvent::LayoutRequest) {
        relayout();
        if (heightForWidth(width()) != height())
            updateGeometry();
    }
    // A new parent drops the hidden state: an absent bar must stay hidden.
    if (event->type() == QEvent::ParentChange && !hasContent(m_controller, false)) {
        m_hiddenByBar = false;
        applyPresence();
    }
    return handled;
}

void ControlBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    GlassKit::paintFloatingPanel(painter, m_paintedRect, barCornerRadius);
}

void ControlBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
    reportHeight();
}

void ControlBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    relayout();
    reportHeight();
}

void ControlBar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    reportHeight();
}

#include "Views/Matrix/CrosspointMatrixView.h"

#include "Controllers/RouterController.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Views/Matrix/CrosspointAccessibility.h"
#include "Views/Matrix/CrosspointCells.h"
#include "Views/Matrix/HeaderMeasure.h"

#include <QCursor>
#include <QEvent>
#include <QScrollBar>
#include <QTimer>
#include <QVariantAnimation>

#include <cmath>
#include <utility>

using Crosspoint::hoverSpill;

namespace {

QString counted(qsizetype count, const QString &singular, const QString &plural)
{
    return QString::number(count) + u' ' + (count == 1 ? singular : plural);
}

} // namespace

CrosspointMatrixView::CrosspointMatrixView(RouterController &controller, double cellSize,
                                           double gap, int hoverCellLimit, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_controller(controller)
    , m_cellSize(cellSize)
    , m_shownCell(Crosspoint::drawableCellSize(cellSize))
    , m_gap(Crosspoint::drawableGap(gap))
    , m_hoverCellLimit(hoverCellLimit)
    , m_clearance(GlassKit::defaultControlBarClearance)
    , m_geometry(std::make_unique<Crosspoint::Geometry>())
    , m_headerSizes(std::make_unique<Crosspoint::HeaderSizes>())
    , m_painter(std::make_unique<Crosspoint::Painter>())
    , m_painted(std::make_unique<Crosspoint::PaintedCrosspoints>())
    , m_accessible(std::make_unique<Crosspoint::AccessibleElements>(*this))
{
    Crosspoint::installAccessibility();
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setMouseTracking(true);

    m_cellAnimation = new Motion::SpringAnimation(Motion::standardSpring, this);
    connect(m_cellAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { showCellSize(value.toDouble()); });

    // A panel change fades the new ports in.
    m_appearAnimation = new Motion::SpringAnimation(Motion::standardSpring, this);
    m_appearAnimation->setStartValue(0.0);
    m_appearAnimation->setEndValue(1.0);
    connect(m_appearAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) {
                m_appearance = std::clamp(value.toDouble(), 0.0, 1.0);
                viewport()->update();
            });

    // A crosspoint that becomes connected or disconnected repaints only itself.
    m_connections = new Motion::Transitions(this);
    connect(m_connections, &Motion::Transitions::frame, this, [this](quint64 key) {
        const std::optional<int> row = m_controller.visibleDestinationRow(int(key >> 32));
        const std::optional<int> column = m_controller.visibleSourceRow(int(key & 0xffffffffu));
        if (row && column)
            viewport()->update(
                cellRect(*column, *row).adjusted(-hoverSpill, -hoverSpill, hoverSpill, hoverSpill));
    });

    const auto makeHoverAnimation = [this](double *amount, std::optional<QPoint> *cell) {
        auto *animation = new QVariantAnimation(this);
        animation->setDuration(int(Motion::hoverDuration.count()));
        animation->setEasingCurve(Motion::easeOut());
        connect(animation, &QVariantAnimation::valueChanged, this,
                [this, amount, cell](const QVariant &value) {
                    *amount = value.toDouble();
                    if (*cell)
                        viewport()->update(
                            cellRect((*cell)->x(), (*cell)->y())
                                .adjusted(-hoverSpill, -hoverSpill, hoverSpill, hoverSpill));
                });
        return animation;
    };
    m_hoverInAnimation = makeHoverAnimation(&m_hoverIn, &m_hovered);
    m_hoverOutAnimation = makeHoverAnimation(&m_hoverOut, &m_unhovered);

    m_shownPendingDestination = m_controller.pendingDestination();
    m_shownArmedSource = Crosspoint::armedSource(m_controller);
    bind();
    invalidateLayout();
}

CrosspointMatrixView::~CrosspointMatrixView()
{
    // Its elements go first, while everything they read is still there.
    m_accessible.reset();
}

void CrosspointMatrixView::bind()
{
    RouterController *c = &m_controller;
    connect(c, &RouterController::routeChanged, this, [this](int level, int destination) {
        m_stateChangeHandled = true;
        if (level != m_controller.primaryLevel())
            return;
        animateConnection(destination);
        updateRowOf(destination);
        m_accessible->rowChanged(destination);
    });
    connect(c, &RouterController::lockChanged, this, [this](int destination) {
        m_stateChangeHandled = true;
        updateRowOf(destination);
        m_accessible->rowChanged(destination);
    });
    connect(c, &RouterController::inputStatusChanged, this, [this](int source) {
        m_stateChangeHandled = true;
        const std::optional<int> column = m_controller.visibleSourceRow(source);
        if (column)
            viewport()->update(sourceHeaderRect(*column));
        m_accessible->sourceChanged(source);
    });
    connect(c, &RouterController::portLabelsChanged, this, [this] {
        m_stateChangeHandled = true;
        invalidateLayout();
    });
    connect(c, &RouterController::stateChanged, this, [this] {
        if (std::exchange(m_stateChangeHandled, false))
            return;
        invalidateLayout();
    });
    connect(c, &RouterController::visiblePortsChanged, this, [this] { invalidateLayout(); });
    connect(c, &RouterController::activePanelIDChanged, this, [this] {
        invalidateLayout();
        if (isVisible()) {
            m_appearance = 0;
            m_appearAnimation->stop();
            m_appearAnimation->start();
        }
    });
    connect(c, &RouterController::panelsChanged, this, [this] { invalidateLayout(); });
    connect(c, &RouterController::primaryLevelChanged, this, [this] {
        forgetConnections();
        viewport()->update();
        m_accessible->allChanged();
    });
    connect(c, &RouterController::pendingDestinationChanged, this, [this] { stagingChanged(); });
    connect(c, &RouterController::pendingSourceChanged, this, [this] { stagingChanged(); });
}

// --- Sizes ---------------------------------------------------------------------------------

void CrosspointMatrixView::setCellSize(double size)
{
    const double drawable = Crosspoint::drawableCellSize(size);
    const bool sameStored = size == m_cellSize || (std::isnan(size) && std::isnan(m_cellSize));
    m_cellSize = size;
    if (sameStored && drawable == m_shownCell)
        return;
    m_cellAnimation->stop();
    if (!isVisible()) {
        showCellSize(drawable);
        return;
    }
    m_cellAnimation->setStartValue(m_shownCell);
    m_cellAnimation->setEndValue(drawable);
    m_cellAnimation->start();
}

void CrosspointMatrixView::followCellSize(GlassKit::MatrixCellSize &size)
{
    if (m_followsCellSize)
        return;
    m_followsCellSize = true;
    connect(&size, &GlassKit::MatrixCellSize::valueChanged, this,
            [this](double value) { setCellSize(value); });
    setCellSize(size.value());
}

void CrosspointMatrixView::showCellSize(double shown)
{
    ensureLayout();
    const double oldPitch = m_geometry->pitch();
    // The field's left and top edges at the viewport's pinned borders sit at the scroll
    // offsets; scale those so the same crosspoint stays at the corner.
    const double x = horizontalScrollBar()->value();
    const double y = verticalScrollBar()->value();
    m_shownCell = shown;
    m_geometry->cell = shown;
    const double ratio = m_geometry->pitch() / oldPitch;
    applyScrollRanges();
    horizontalScrollBar()->setValue(int(std::lround(x * ratio)));
    verticalScrollBar()->setValue(int(std::lround(y * ratio)));
    viewport()->update();
}

void CrosspointMatrixView::setControlBarClearance(int clearance)
{
    clearance = std::max(0, clearance);
    if (clearance == m_clearance)
        return;
    m_clearance = clearance;
    ensureLayout();
    m_geometry->clearance = clearance;
    applyScrollRanges();
    viewport()->update();
}

bool CrosspointMatrixView::usesCells() const
{
    const qint64 crosspoints = qint64(m_controller.visibleSources().size())
        * qint64(m_controller.visibleDestinations().size());
    return qint64(m_hoverCellLimit) >= crosspoints;
}

double CrosspointMatrixView::destWidth() const
{
    ensureLayout();
    return m_geometry->destWidth;
}

double CrosspointMatrixView::headerHeight() const
{
    ensureLayout();
    return m_geometry->headerHeight;
}

QString CrosspointMatrixView::signalHelp(const Port &source) const
{
    return Crosspoint::signalHelp(m_controller.state(), source);
}

std::optional<QPoint> CrosspointMatrixView::hoveredCell() const
{
    ensureLayout();
    return m_hovered;
}

const Crosspoint::PaintedCrosspoints &CrosspointMatrixView::paintedCrosspoints() const
{
    return *m_painted;
}

// --- Layout --------------------------------------------------------------------------------

void CrosspointMatrixView::invalidateLayout()
{
    forgetConnections();
    m_accessible->allChanged();
    // Labels may arrive one event at a time: measure once, after the burst.
    if (!m_layoutDirty) {
        m_layoutDirty = true;
        QTimer::singleShot(0, this, [this] { applyScrollRanges(); });
    }
    viewport()->update();
}

void CrosspointMatrixView::ensureLayout() const
{
    if (!m_layoutDirty)
        return;
    m_layoutDirty = false;
    const QList<Port> &sources = m_controller.visibleSources();
    const QList<Port> &destinations = m_controller.visibleDestinations();
    Crosspoint::Geometry &g = *m_geometry;
    g.cell = m_shownCell;
    g.gap = m_gap;
    g.clearance = m_clearance;
    g.columns = int(sources.size());
    g.rows = int(destinations.size());
    g.destWidth = m_headerSizes->destinationColumnWidth(destinations);
    int widestNumber = int(m_controller.state().destinations.size());
    for (const Port &destination : destinations)
        widestNumber = std::max(widestNumber, destination.index + 1);
    g.numberWidth = Crosspoint::destinationNumberWidth(widestNumber);
    g.headerHeight = m_headerSizes->headerRowHeight(sources);

    auto *self = const_cast<CrosspointMatrixView *>(this);
    self->setAccessibleName(
        QStringLiteral("Crosspoint grid, %1 by %2")
            .arg(counted(sources.size(), QStringLiteral("source"), QStringLiteral("sources")),
                 counted(destinations.size(), QStringLiteral("destination"),
                         QStringLiteral("destinations"))));
    self->setAccessibleDescription(
        usesCells() ? QString()
                    : QStringLiteral("In Take mode, activate a destination header, then use a "
                                     "source header\u2019s Route action"));
    // The drawn form has no hover; drop a hover left over from the per-cell form.
    if (!usesCells() && (self->m_hovered || self->m_unhovered)) {
        self->m_hoverInAnimation->stop();
        self->m_hoverOutAnimation->stop();
        self->m_hovered.reset();
        self->m_unhovered.reset();
    }
}

void CrosspointMatrixView::applyScrollRanges()
{
    ensureLayout();
    const QSizeF content = m_geometry->contentSize();
    const QSize port = viewport()->size();
    QScrollBar *h = horizontalScrollBar();
    QScrollBar *v = verticalScrollBar();
    h->setRange(0, std::max(0, int(std::ceil(content.width())) - port.width()));
    v->setRange(0, std::max(0, int(std::ceil(content.height())) - port.height()));
    h->setPageStep(port.width());
    v->setPageStep(port.height());
    h->setSingleStep(std::max(8, int(m_geometry->pitch() / 2)));
    v->setSingleStep(std::max(8, int(m_geometry->pitch() / 2)));
}

QPointF CrosspointMatrixView::scrollOffset() const
{
    return QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CrosspointMatrixView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    applyScrollRanges();
}

void CrosspointMatrixView::scrollContentsBy(int, int)
{
    // The pinned headers move against the crosspoints, so the whole viewport is redrawn.
    viewport()->update();
    if (m_hovered && viewport()->underMouse()) {
        const Target target = targetAt(viewport()->mapFromGlobal(QCursor::pos()));
        setHovered(target.kind == Target::crosspoint
                       ? std::optional<QPoint>(QPoint(target.column, target.row))
                       : std::nullopt);
    }
}

void CrosspointMatrixView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::StyleChange:
        m_painter->reset();
        m_headerSizes->clear();
        invalidateLayout();
        break;
    default:
        break;
    }
}

QSize CrosspointMatrixView::sizeHint() const
{
    return QSize(720, 520);
}

QSize CrosspointMatrixView::minimumSizeHint() const
{
    return QSize(200, 160);
}

// --- Geometry in the viewport --------------------------------------------------------------

Crosspoint::Placement CrosspointMatrixView::placement() const
{
    ensureLayout();
    return { *m_geometry, scrollOffset(), QSizeF(viewport()->size()) };
}

QRect CrosspointMatrixView::cellRect(int column, int row) const
{
    const Crosspoint::Placement shown = placement();
    if (column < 0 || column >= shown.geometry.columns || row < 0 || row >= shown.geometry.rows)
        return {};
    return shown.cellRect(column, row).toAlignedRect();
}

QRect CrosspointMatrixView::sourceHeaderRect(int column) const
{
    const Crosspoint::Placement shown = placement();
    if (column < 0 || column >= shown.geometry.columns)
        return {};
    return shown.sourceHeaderRect(column).toAlignedRect();
}

QRect CrosspointMatrixView::destinationHeaderRect(int row) const
{
    const Crosspoint::Placement shown = placement();
    if (row < 0 || row >= shown.geometry.rows)
        return {};
    return shown.destinationHeaderRect(row).toAlignedRect();
}

std::optional<QPoint> CrosspointMatrixView::positionAt(const QPoint &position) const
{
    return placement().positionAt(QPointF(position));
}

bool CrosspointMatrixView::inSight(QPoint position) const
{
    return placement().inSight(position);
}

QRect CrosspointMatrixView::shownRect(QPoint position) const
{
    return placement().shownRect(position).toAlignedRect();
}

CrosspointMatrixView::Target CrosspointMatrixView::targetAt(const QPoint &position) const
{
    Target target;
    const std::optional<QPoint> at = positionAt(position);
    if (!at)
        return target;
    target.column = at->x();
    target.row = at->y();
    if (at->x() >= 0 && at->y() >= 0)
        target.kind = Target::crosspoint;
    else if (at->y() >= 0)
        target.kind = Target::destinationHeader;
    else if (at->x() >= 0)
        target.kind = Target::sourceHeader;
    else
        target.kind = Target::corner;
    return target;
}

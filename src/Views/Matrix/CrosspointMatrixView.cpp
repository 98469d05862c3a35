#include "Views/Matrix/CrosspointMatrixView.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/Matrix/CrosspointCells.h"
#include "Views/Matrix/HeaderMeasure.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QVariantAnimation>

#include <cmath>
#include <utility>

namespace {

// The hovered cell grows by 7 %: repaint a little beyond its square.
constexpr int hoverSpill = 3;

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

CrosspointMatrixView::~CrosspointMatrixView() = default;

void CrosspointMatrixView::bind()
{
    RouterController *c = &m_controller;
    connect(c, &RouterController::routeChanged, this, [this](int level, int destination) {
        m_stateChangeHandled = true;
        if (level != m_controller.primaryLevel())
            return;
        animateConnection(destination);
        updateRowOf(destination);
    });
    connect(c, &RouterController::lockChanged, this, [this](int destination) {
        m_stateChangeHandled = true;
        updateRowOf(destination);
    });
    connect(c, &RouterController::inputStatusChanged, this, [this](int source) {
        m_stateChangeHandled = true;
        const std::optional<int> column = m_controller.visibleSourceRow(source);
        if (column)
            viewport()->update(sourceHeaderRect(*column));
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

QRect CrosspointMatrixView::cellRect(int column, int row) const
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (column < 0 || column >= g.columns || row < 0 || row >= g.rows)
        return {};
    const QPointF origin = g.fieldOrigin() - scrollOffset();
    return g.cellRect(column, row).translated(origin).toAlignedRect();
}

QRect CrosspointMatrixView::sourceHeaderRect(int column) const
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (column < 0 || column >= g.columns)
        return {};
    const double x = g.fieldOrigin().x() - scrollOffset().x() + g.pitch() * column;
    return QRectF(x, 0, g.cell, g.headerHeight).toAlignedRect();
}

QRect CrosspointMatrixView::destinationHeaderRect(int row) const
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (row < 0 || row >= g.rows)
        return {};
    const double y = g.fieldOrigin().y() - scrollOffset().y() + g.pitch() * row;
    return QRectF(0, y, g.destWidth, g.cell).toAlignedRect();
}

CrosspointMatrixView::Target CrosspointMatrixView::targetAt(const QPoint &position) const
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    const QPointF field = QPointF(position) + scrollOffset() - g.fieldOrigin();
    Target target;
    if (position.y() < g.headerHeight) {
        if (position.x() < g.destWidth) {
            target.kind = Target::corner;
        } else if (const auto column = g.columnAt(field.x())) {
            target.kind = Target::sourceHeader;
            target.column = *column;
        }
    } else if (position.x() < g.destWidth) {
        if (const auto row = g.rowAt(field.y())) {
            target.kind = Target::destinationHeader;
            target.row = *row;
        }
    } else if (const auto cell = g.hit(field)) {
        target.kind = Target::crosspoint;
        target.column = cell->x();
        target.row = cell->y();
    }
    return target;
}

// --- Targeted repaints ---------------------------------------------------------------------

void CrosspointMatrixView::updateRowOf(int destinationIndex)
{
    if (const auto row = m_controller.visibleDestinationRow(destinationIndex))
        updateRow(*row);
}

void CrosspointMatrixView::updateColumnOf(int sourceIndex)
{
    if (const auto column = m_controller.visibleSourceRow(sourceIndex))
        updateColumn(*column);
}

void CrosspointMatrixView::updateRow(int row)
{
    const QRect header = destinationHeaderRect(row);
    if (header.isEmpty())
        return;
    viewport()->update(
        QRect(0, header.top() - hoverSpill, viewport()->width(), header.height() + 2 * hoverSpill));
}

void CrosspointMatrixView::updateColumn(int column)
{
    const QRect header = sourceHeaderRect(column);
    if (header.isEmpty())
        return;
    viewport()->update(QRect(header.left() - hoverSpill, 0, header.width() + 2 * hoverSpill,
                             viewport()->height()));
}

namespace {

quint64 connectionKey(int destination, int source)
{
    return quint64(quint32(destination)) << 32 | quint32(source);
}

} // namespace

void CrosspointMatrixView::animateConnection(int destination)
{
    // Only rows drawn in the per-cell form move; the drawn field changes at once.
    const auto painted = m_paintedRoutes.find(destination);
    if (painted == m_paintedRoutes.end())
        return;
    const std::optional<int> was = *painted;
    const std::optional<int> now
        = m_controller.state().source(destination, m_controller.primaryLevel());
    *painted = now;
    if (was == now || !isVisible())
        return;
    static const Motion::Timing spring = Motion::Timing::of(Motion::crosspointSpring);
    if (was) {
        const quint64 key = connectionKey(destination, *was);
        m_connections->start(key, m_connections->current(key, 1), 0, spring);
    }
    if (now) {
        const quint64 key = connectionKey(destination, *now);
        m_connections->start(key, m_connections->current(key, 0), 1, spring);
    }
}

void CrosspointMatrixView::forgetConnections()
{
    m_paintedRoutes.clear();
    m_connections->clear();
}

void CrosspointMatrixView::stagingChanged()
{
    const std::optional<int> pending = m_controller.pendingDestination();
    const std::optional<int> armed = Crosspoint::armedSource(m_controller);
    if (pending == m_shownPendingDestination && armed == m_shownArmedSource)
        return;
    for (const std::optional<int> &destination : { m_shownPendingDestination, pending }) {
        if (destination)
            updateRowOf(*destination);
    }
    for (const std::optional<int> &source : { m_shownArmedSource, armed }) {
        if (source)
            updateColumnOf(*source);
    }
    m_shownPendingDestination = pending;
    m_shownArmedSource = armed;
}

// --- Painting ------------------------------------------------------------------------------

void CrosspointMatrixView::paintEvent(QPaintEvent *event)
{
    ensureLayout();
    QPainter p(viewport());
    p.setRenderHint(QPainter::Antialiasing);
    const QRect exposed = event->rect();
    // Ports fade in after a panel change; the pinned bands behind the headers stay opaque.
    p.setOpacity(m_appearance);
    if (usesCells())
        paintCells(p, exposed);
    else
        paintField(p, exposed);
    if (hasFocus() && keyboardCell()) {
        p.setOpacity(1);
        p.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.7), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(keyboardRing()).adjusted(1.5, 1.5, -1.5, -1.5), 11, 11);
        p.setOpacity(m_appearance);
    }
    paintRowHeaders(p, exposed);
    paintHeaderRow(p, exposed);
}

namespace {

// The first and last positions whose band [origin + pitch·i, +cell] meets [from, to].
std::pair<int, int> span(double origin, double pitch, int count, double from, double to)
{
    if (count <= 0 || pitch <= 0)
        return { 0, -1 };
    const int first = std::max(0, int(std::floor((from - origin) / pitch)));
    const int last = std::min(count - 1, int(std::floor((to - origin) / pitch)));
    return { first, last };
}

} // namespace

double CrosspointMatrixView::hoverAmount(QPoint cell) const
{
    if (m_hovered == cell)
        return m_hoverIn;
    if (m_unhovered == cell)
        return m_hoverOut;
    return 0;
}

void CrosspointMatrixView::paintCells(QPainter &p, const QRect &exposed) const
{
    const Crosspoint::Geometry &g = *m_geometry;
    const QPointF origin = g.fieldOrigin() - scrollOffset();
    const auto [firstColumn, lastColumn]
        = span(origin.x(), g.pitch(), g.columns, exposed.left() - hoverSpill,
               exposed.right() + hoverSpill);
    const auto [firstRow, lastRow] = span(origin.y(), g.pitch(), g.rows, exposed.top() - hoverSpill,
                                          exposed.bottom() + hoverSpill);
    const bool connecting = m_connections->isMoving();
    const QList<Port> &sources = m_controller.visibleSources();
    const QList<Port> &destinations = m_controller.visibleDestinations();
    const QColor tint = GlassKit::levelTint(m_controller.state(), m_controller.primaryLevel());
    startPainting(firstColumn, lastColumn, firstRow, lastRow);

    for (int row = firstRow; row <= lastRow; ++row) {
        const int destination = destinations.at(row).index;
        const Crosspoint::CrosspointRow crosspoints
            = Crosspoint::crosspointRow(m_controller, destination);
        // What the row showed last, so that a route change can move from it.
        m_paintedRoutes.insert(destination, crosspoints.routed);
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const int source = sources.at(column).index;
            Crosspoint::CellLook look;
            look.state = Crosspoint::crosspointState(crosspoints, source);
            m_painted->states.append(look.state);
            if (connecting) {
                const quint64 key = connectionKey(destination, source);
                if (m_connections->isMoving(key))
                    look.connection = m_connections->current(key, look.state.connected ? 1 : 0);
            }
            look.hover = hoverAmount(QPoint(column, row));
            m_painter->cell(p, g.cellRect(column, row).translated(origin), look, tint);
        }
    }
}

void CrosspointMatrixView::startPainting(int firstColumn, int lastColumn, int firstRow,
                                         int lastRow) const
{
    m_painted->block = QRect(QPoint(firstColumn, firstRow), QPoint(lastColumn, lastRow));
    m_painted->states.clear();
    if (!m_painted->block.isEmpty())
        m_painted->states.reserve(qsizetype(m_painted->block.width()) * m_painted->block.height());
}

void CrosspointMatrixView::paintField(QPainter &p, const QRect &exposed) const
{
    const Crosspoint::Geometry &g = *m_geometry;
    const QPointF origin = g.fieldOrigin() - scrollOffset();
    const auto [firstColumn, lastColumn]
        = span(origin.x(), g.pitch(), g.columns, exposed.left(), exposed.right() + 1);
    const auto [firstRow, lastRow]
        = span(origin.y(), g.pitch(), g.rows, exposed.top(), exposed.bottom() + 1);
    const QList<Port> &sources = m_controller.visibleSources();
    const QList<Port> &destinations = m_controller.visibleDestinations();
    const QColor tint = GlassKit::levelTint(m_controller.state(), m_controller.primaryLevel());
    startPainting(firstColumn, lastColumn, firstRow, lastRow);

    for (int row = firstRow; row <= lastRow; ++row) {
        const Crosspoint::CrosspointRow crosspoints
            = Crosspoint::crosspointRow(m_controller, destinations.at(row).index);
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const Crosspoint::CrosspointState state
                = Crosspoint::crosspointState(crosspoints, sources.at(column).index);
            m_painted->states.append(state);
            m_painter->canvasCell(p, g.cellRect(column, row).translated(origin), state, tint);
        }
    }
}

void CrosspointMatrixView::paintRowHeaders(QPainter &p, const QRect &exposed) const
{
    const Crosspoint::Geometry &g = *m_geometry;
    if (exposed.left() >= g.destWidth + g.gap)
        return;
    const QPointF scroll = scrollOffset();
    // Once the crosspoints slide under the pinned column, back it so they do not show
    // through its gaps.
    if (scroll.x() > 0 && g.rows > 0) {
        const QRectF band(0, g.headerHeight, g.destWidth + g.gap,
                          viewport()->height() - g.headerHeight);
        p.setOpacity(1);
        m_painter->headerBand(p, band);
        p.fillRect(QRectF(band.right() - 1, band.top(), 1, band.height()), Theme::separator());
        p.setOpacity(m_appearance);
    }
    const double originY = g.fieldOrigin().y() - scroll.y();
    const auto [first, last]
        = span(originY, g.pitch(), g.rows, exposed.top(), exposed.bottom() + 1);
    const QList<Port> &destinations = m_controller.visibleDestinations();
    const QColor tint = GlassKit::levelTint(m_controller.state(), m_controller.primaryLevel());
    const bool panelActive = m_controller.activePanel().has_value();
    for (int row = first; row <= last; ++row) {
        const Crosspoint::RowData data
            = Crosspoint::rowData(m_controller, destinations.at(row), panelActive);
        m_painter->rowHeader(p, QRectF(0, originY + g.pitch() * row, g.destWidth, g.cell), data,
                             g.numberWidth, tint);
    }
}

void CrosspointMatrixView::paintHeaderRow(QPainter &p, const QRect &exposed) const
{
    const Crosspoint::Geometry &g = *m_geometry;
    if (exposed.top() >= g.headerHeight)
        return;
    const QRectF band(0, 0, viewport()->width(), g.headerHeight);
    p.setOpacity(1);
    m_painter->headerBand(p, band);
    p.setOpacity(m_appearance);

    const double originX = g.fieldOrigin().x() - scrollOffset().x();
    const auto [first, last]
        = span(originX, g.pitch(), g.columns, exposed.left(), exposed.right() + 1);
    const RouterState &state = m_controller.state();
    const QList<Port> &sources = m_controller.visibleSources();
    const QColor tint = GlassKit::levelTint(state, m_controller.primaryLevel());
    const std::optional<int> armed = Crosspoint::armedSource(m_controller);
    for (int column = first; column <= last; ++column) {
        const Port &source = sources.at(column);
        const auto signal = state.inputStatus.constFind(source.index);
        m_painter->columnHeader(p, QRectF(originX + g.pitch() * column, 0, g.cell, g.headerHeight),
                                source, armed == source.index,
                                signal == state.inputStatus.cend()
                                    ? std::nullopt
                                    : std::optional<InputSignalStatus>(*signal),
                                tint);
    }
    p.setOpacity(1);
    p.fillRect(QRectF(0, g.headerHeight - 1, band.width(), 1), Theme::separator());
    m_painter->corner(p, QRectF(0, 0, g.destWidth, g.headerHeight));
}

// --- Interaction ---------------------------------------------------------------------------

void CrosspointMatrixView::routeToPendingDestination(int sourceIndex)
{
    if (const std::optional<int> destination = m_controller.pendingDestination())
        Crosspoint::crosspointAction(m_controller, sourceIndex, *destination);
}

void CrosspointMatrixView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_pressed = targetAt(event->position().toPoint());
    m_swallowRelease = false;
}

void CrosspointMatrixView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    const Target target = targetAt(event->position().toPoint());
    const Target pressed = std::exchange(m_pressed, Target());
    if (std::exchange(m_swallowRelease, false) || !(target == pressed))
        return;
    switch (target.kind) {
    case Target::crosspoint:
        setKeyboardCell(QPoint(target.column, target.row), false);
        Crosspoint::crosspointAction(m_controller,
                                     m_controller.visibleSources().at(target.column).index,
                                     m_controller.visibleDestinations().at(target.row).index);
        break;
    case Target::destinationHeader:
        m_controller.selectDestination(m_controller.visibleDestinations().at(target.row).index);
        break;
    case Target::sourceHeader:
    case Target::corner:
    case Target::none:
        break;
    }
}

void CrosspointMatrixView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const Target target = targetAt(event->position().toPoint());
    switch (target.kind) {
    case Target::sourceHeader:
        m_swallowRelease = true;
        m_controller.beginRename(PortKind::source,
                                 m_controller.visibleSources().at(target.column).index);
        break;
    case Target::destinationHeader:
        m_swallowRelease = true;
        m_controller.beginRename(PortKind::destination,
                                 m_controller.visibleDestinations().at(target.row).index);
        break;
    case Target::crosspoint:
    case Target::corner:
    case Target::none:
        // A second click on a crosspoint is another click.
        m_pressed = target;
        m_swallowRelease = false;
        break;
    }
}

void CrosspointMatrixView::mouseMoveEvent(QMouseEvent *event)
{
    QAbstractScrollArea::mouseMoveEvent(event);
    if (!usesCells())
        return;
    const Target target = targetAt(event->position().toPoint());
    setHovered(target.kind == Target::crosspoint
                   ? std::optional<QPoint>(QPoint(target.column, target.row))
                   : std::nullopt);
}

void CrosspointMatrixView::setHovered(const std::optional<QPoint> &cell)
{
    if (cell == m_hovered)
        return;
    m_hoverInAnimation->stop();
    m_hoverOutAnimation->stop();
    if (m_unhovered)
        viewport()->update(cellRect(m_unhovered->x(), m_unhovered->y())
                               .adjusted(-hoverSpill, -hoverSpill, hoverSpill, hoverSpill));
    m_unhovered = std::exchange(m_hovered, cell);
    m_hoverOut = std::exchange(m_hoverIn, 0);
    if (m_unhovered) {
        m_hoverOutAnimation->setStartValue(m_hoverOut);
        m_hoverOutAnimation->setEndValue(0.0);
        m_hoverOutAnimation->start();
    }
    if (m_hovered) {
        m_hoverInAnimation->setStartValue(0.0);
        m_hoverInAnimation->setEndValue(1.0);
        m_hoverInAnimation->start();
    }
}

bool CrosspointMatrixView::viewportEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ToolTip: {
        auto *help = static_cast<QHelpEvent *>(event);
        const Target target = targetAt(help->pos());
        if (target.kind == Target::sourceHeader) {
            QToolTip::showText(help->globalPos(),
                               signalHelp(m_controller.visibleSources().at(target.column)),
                               viewport(), sourceHeaderRect(target.column));
        } else if (target.kind == Target::destinationHeader) {
            QToolTip::showText(help->globalPos(), QStringLiteral("Double-click to rename"),
                               viewport(), destinationHeaderRect(target.row));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    case QEvent::Leave:
        setHovered(std::nullopt);
        break;
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

QMenu *CrosspointMatrixView::contextMenu(const QPoint &position)
{
    const Target target = targetAt(position);
    if (target.kind == Target::sourceHeader) {
        const int index = m_controller.visibleSources().at(target.column).index;
        auto *menu = new QMenu(this);
        connect(menu->addAction(Symbols::icon(QStringLiteral("pencil")),
                                QStringLiteral("Rename Source\u2026")),
                &QAction::triggered, this,
                [this, index] { m_controller.beginRename(PortKind::source, index); });
        return menu;
    }
    if (target.kind == Target::destinationHeader) {
        const int index = m_controller.visibleDestinations().at(target.row).index;
        const bool locked = m_controller.state().isLocked(index);
        auto *menu = new QMenu(this);
        connect(menu->addAction(Symbols::icon(QStringLiteral("pencil")),
                                QStringLiteral("Rename Destination\u2026")),
                &QAction::triggered, this,
                [this, index] { m_controller.beginRename(PortKind::destination, index); });
        connect(menu->addAction(
                    Symbols::icon(locked ? QStringLiteral("lock.open") : QStringLiteral("lock")),
                    locked ? QStringLiteral("Unlock") : QStringLiteral("Lock")),
                &QAction::triggered, this, [this, index] { m_controller.toggleLock(index); });
        return menu;
    }
    return nullptr;
}

std::optional<QPoint> CrosspointMatrixView::keyboardCell() const
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (!m_keyboardCell || g.columns == 0 || g.rows == 0)
        return std::nullopt;
    // Ports may have gone since: stay on the nearest crosspoint.
    return QPoint(std::clamp(m_keyboardCell->x(), 0, g.columns - 1),
                  std::clamp(m_keyboardCell->y(), 0, g.rows - 1));
}

QRect CrosspointMatrixView::keyboardRing() const
{
    const std::optional<QPoint> cell = keyboardCell();
    return cell ? cellRect(cell->x(), cell->y()).adjusted(-3, -3, 3, 3) : QRect();
}

void CrosspointMatrixView::setKeyboardCell(QPoint cell, bool reveal)
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (g.columns == 0 || g.rows == 0)
        return;
    viewport()->update(keyboardRing());
    m_keyboardCell
        = QPoint(std::clamp(cell.x(), 0, g.columns - 1), std::clamp(cell.y(), 0, g.rows - 1));
    if (reveal) {
        // Clear of the pinned headers, and of the control bar floating over the bottom.
        const QRect shown = cellRect(m_keyboardCell->x(), m_keyboardCell->y());
        const int left = int(std::ceil(g.destWidth + g.gap));
        const int top = int(std::ceil(g.headerHeight + g.gap));
        const int right = viewport()->width() - 4;
        const int bottom = std::max(top + shown.height(), viewport()->height() - m_clearance);
        QScrollBar *h = horizontalScrollBar();
        QScrollBar *v = verticalScrollBar();
        if (shown.left() < left)
            h->setValue(h->value() - (left - shown.left()));
        else if (shown.right() > right)
            h->setValue(h->value() + std::min(shown.right() - right, shown.left() - left));
        if (shown.top() < top)
            v->setValue(v->value() - (top - shown.top()));
        else if (shown.bottom() > bottom)
            v->setValue(v->value() + std::min(shown.bottom() - bottom, shown.top() - top));
    }
    viewport()->update(keyboardRing());
}

void CrosspointMatrixView::keyPressEvent(QKeyEvent *event)
{
    std::optional<QPoint> cell = keyboardCell();
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const auto key = event->key();
    const bool moves = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up
        || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End;
    if (!cell && moves && m_geometry->columns > 0 && m_geometry->rows > 0) {
        // The first arrow press shows where the keyboard starts.
        setKeyboardCell(QPoint(0, 0), true);
        event->accept();
        return;
    }
    if (!cell) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    switch (key) {
    case Qt::Key_Left:
        setKeyboardCell(*cell - QPoint(1, 0), true);
        break;
    case Qt::Key_Right:
        setKeyboardCell(*cell + QPoint(1, 0), true);
        break;
    case Qt::Key_Up:
        setKeyboardCell(*cell - QPoint(0, 1), true);
        break;
    case Qt::Key_Down:
        setKeyboardCell(*cell + QPoint(0, 1), true);
        break;
    case Qt::Key_Home:
        setKeyboardCell(QPoint(0, cell->y()), true);
        break;
    case Qt::Key_End:
        setKeyboardCell(QPoint(m_geometry->columns - 1, cell->y()), true);
        break;
    case Qt::Key_Space:
        Crosspoint::crosspointAction(m_controller,
                                     m_controller.visibleSources().at(cell->x()).index,
                                     m_controller.visibleDestinations().at(cell->y()).index);
        break;
    default:
        // Return is the control bar's Take; page keys scroll.
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CrosspointMatrixView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    // A click puts the keyboard on the crosspoint it lands on; Tab starts at the first.
    const bool tabbed
        = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (!m_keyboardCell && tabbed)
        setKeyboardCell(QPoint(0, 0), false);
    viewport()->update(keyboardRing());
}

void CrosspointMatrixView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update(keyboardRing());
}

void CrosspointMatrixView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = contextMenu(event->pos());
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

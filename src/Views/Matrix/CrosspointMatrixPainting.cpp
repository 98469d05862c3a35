// Painting of the crosspoint matrix: what each paint draws, and which part of the viewport a
// change repaints.
#include "Views/Matrix/CrosspointMatrixView.h"

#include "Controllers/RouterController.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/Matrix/CrosspointAccessibility.h"
#include "Views/Matrix/CrosspointCells.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

using Crosspoint::hoverSpill;

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
        if (destination) {
            updateRowOf(*destination);
            m_accessible->rowChanged(*destination);
        }
    }
    for (const std::optional<int> &source : { m_shownArmedSource, armed }) {
        if (source) {
            updateColumnOf(*source);
            m_accessible->sourceChanged(*source);
        }
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
    // The keyboard's ring, once the keyboard has moved: a crosspoint's goes under the pinned
    // headers, a header's over them, but never over the corner.
    const std::optional<QPoint> keyboard
        = hasFocus() && m_keyboardShown ? keyboardCell() : std::nullopt;
    const bool onHeader = keyboard && (keyboard->x() == -1 || keyboard->y() == -1);
    const auto ring = [&](double inset, double radius) {
        p.setOpacity(1);
        p.setPen(QPen(Theme::focusRing(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(keyboardRing()).adjusted(inset, inset, -inset, -inset), radius,
                          radius);
        p.setOpacity(m_appearance);
    };
    // Clear of the crosspoint by a line of the background, so that it stands apart from a
    // connected crosspoint's fill of much the same blue.
    if (keyboard && !onHeader)
        ring(keyboardRingMargin - 2.5, 12.5);
    paintRowHeaders(p, exposed);
    paintHeaderRow(p, exposed);
    if (onHeader) {
        const Crosspoint::Placement shown = placement();
        p.save();
        p.setClipRect(keyboard->y() == -1 ? shown.sourceHeaderArea()
                                          : shown.destinationHeaderArea());
        ring(1, 8);
        p.restore();
    }
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
    const QRectF band = placement().headerColumnBand();
    if (exposed.left() >= band.right())
        return;
    const QPointF scroll = scrollOffset();
    // Once the crosspoints slide under the pinned column, back it so they do not show
    // through its gaps.
    if (scroll.x() > 0 && g.rows > 0) {
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
    // A header slides under the pinned column as its crosspoints do.
    p.save();
    p.setClipRect(placement().sourceHeaderArea());
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
    p.restore();
    p.setOpacity(1);
    p.fillRect(QRectF(0, g.headerHeight - 1, band.width(), 1), Theme::separator());
    m_painter->corner(p, QRectF(0, 0, g.destWidth, g.headerHeight));
}

// The crosspoint matrix's answers to the pointer and the keyboard.
#include "Views/Matrix/CrosspointMatrixView.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Views/Matrix/CrosspointAccessibility.h"
#include "Views/Matrix/CrosspointCells.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>
#include <QVariantAnimation>

#include <cmath>
#include <utility>

using Crosspoint::hoverSpill;

// --- Interaction ---------------------------------------------------------------------------

void CrosspointMatrixView::routeToPendingDestination(int sourceIndex)
{
    if (const std::optional<int> destination = m_controller.pendingDestination())
        Crosspoint::crosspointAction(m_controller, sourceIndex, *destination);
}

void CrosspointMatrixView::mousePressEvent(QMouseEvent *event)
{
    // A click moves the keyboard quietly: a pointer user sees no keyboard ring.
    showKeyboardRing(false);
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
        setKeyboardCell(QPoint(-1, target.row), false);
        m_controller.selectDestination(m_controller.visibleDestinations().at(target.row).index);
        break;
    case Target::sourceHeader:
        setKeyboardCell(QPoint(target.column, -1), false);
        break;
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
    // A right click on a crosspoint has no menu; the keyboard's crosspoint has its row's.
    const Target target = targetAt(position);
    if (target.kind == Target::sourceHeader)
        return contextMenuFor(QPoint(target.column, -1));
    if (target.kind == Target::destinationHeader)
        return contextMenuFor(QPoint(-1, target.row));
    return nullptr;
}

QMenu *CrosspointMatrixView::contextMenuFor(QPoint position)
{
    const QList<Port> &sources = m_controller.visibleSources();
    const QList<Port> &destinations = m_controller.visibleDestinations();
    if (position.y() == -1 && position.x() >= 0 && position.x() < sources.size()) {
        const int index = sources.at(position.x()).index;
        auto *menu = new QMenu(this);
        connect(menu->addAction(Symbols::icon(QStringLiteral("pencil")),
                                QStringLiteral("Rename Source\u2026")),
                &QAction::triggered, this,
                [this, index] { m_controller.beginRename(PortKind::source, index); });
        return menu;
    }
    if (position.x() >= -1 && position.x() < sources.size() && position.y() >= 0
        && position.y() < destinations.size()) {
        const int index = destinations.at(position.y()).index;
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

// --- Keyboard ------------------------------------------------------------------------------

std::optional<QPoint> CrosspointMatrixView::keyboardCell() const
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (!m_keyboardCell || g.columns == 0 || g.rows == 0)
        return std::nullopt;
    // Ports may have gone since: stay on the nearest crosspoint or header.
    return QPoint(std::clamp(m_keyboardCell->x(), -1, g.columns - 1),
                  std::clamp(m_keyboardCell->y(), -1, g.rows - 1));
}

QRect CrosspointMatrixView::keyboardRect() const
{
    const std::optional<QPoint> at = keyboardCell();
    if (!at)
        return {};
    if (at->y() == -1)
        return sourceHeaderRect(at->x());
    if (at->x() == -1)
        return destinationHeaderRect(at->y());
    return cellRect(at->x(), at->y());
}

QRect CrosspointMatrixView::keyboardRing() const
{
    // Around a crosspoint, inside a header: the row headers start at the viewport's edge.
    const std::optional<QPoint> at = keyboardCell();
    if (!at)
        return {};
    const bool header = at->x() == -1 || at->y() == -1;
    constexpr int m = keyboardRingMargin;
    return header ? keyboardRect() : keyboardRect().adjusted(-m, -m, m, m);
}

void CrosspointMatrixView::showKeyboardRing(bool shown)
{
    if (shown == m_keyboardShown)
        return;
    m_keyboardShown = shown;
    viewport()->update(keyboardRing());
}

void CrosspointMatrixView::setKeyboardCell(QPoint cell, bool reveal)
{
    ensureLayout();
    const Crosspoint::Geometry &g = *m_geometry;
    if (g.columns == 0 || g.rows == 0)
        return;
    cell = QPoint(std::clamp(cell.x(), -1, g.columns - 1), std::clamp(cell.y(), -1, g.rows - 1));
    if (cell == QPoint(-1, -1))
        return; // the corner is no stop
    const bool moved = m_keyboardCell != cell;
    if (m_keyboardShown)
        viewport()->update(keyboardRing());
    m_keyboardCell = cell;
    if (reveal) {
        // Clear of the pinned headers with its ring, and of the control bar floating over
        // the bottom; a header only scrolls along its band.
        const QRect shown = keyboardRect();
        const QRectF area = placement().crosspointArea();
        const int left = int(std::ceil(area.left())) + keyboardRingMargin;
        const int top = int(std::ceil(area.top() + g.gap));
        const int right = viewport()->width() - 4;
        const int bottom = std::max(top + shown.height(), viewport()->height() - m_clearance);
        QScrollBar *h = horizontalScrollBar();
        QScrollBar *v = verticalScrollBar();
        if (cell.x() >= 0) {
            if (shown.left() < left)
                h->setValue(h->value() - (left - shown.left()));
            else if (shown.right() > right)
                h->setValue(h->value() + std::min(shown.right() - right, shown.left() - left));
        }
        if (cell.y() >= 0) {
            if (shown.top() < top)
                v->setValue(v->value() - (top - shown.top()));
            else if (shown.bottom() > bottom)
                v->setValue(v->value() + std::min(shown.bottom() - bottom, shown.top() - top));
        }
    }
    if (m_keyboardShown)
        viewport()->update(keyboardRing());
    if (moved && hasFocus())
        m_accessible->focusMoved();
}

void CrosspointMatrixView::keyPressEvent(QKeyEvent *event)
{
    const auto key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)
        || (key == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
        showKeyboardRing(true);
        openKeyboardMenu();
        event->accept();
        return;
    }
    std::optional<QPoint> cell = keyboardCell();
    if (modifiers != Qt::NoModifier) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool moves = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up
        || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End;
    if (!cell && moves && m_geometry->columns > 0 && m_geometry->rows > 0) {
        // The first arrow press shows where the keyboard starts.
        showKeyboardRing(true);
        setKeyboardCell(QPoint(0, 0), true);
        event->accept();
        return;
    }
    if (!cell) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    // After a click, the keyboard goes on from the clicked crosspoint, now with its ring.
    if (moves || key == Qt::Key_Space)
        showKeyboardRing(true);
    // Left of the first column lie the destination headers, above the first row the source
    // headers; Home and End keep to the row (or to the header row).
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
        if (cell->x() >= 0 && cell->y() >= 0)
            Crosspoint::crosspointAction(m_controller,
                                         m_controller.visibleSources().at(cell->x()).index,
                                         m_controller.visibleDestinations().at(cell->y()).index);
        else if (cell->x() == -1)
            m_controller.selectDestination(m_controller.visibleDestinations().at(cell->y()).index);
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
    // A click puts the keyboard on the crosspoint it lands on, without its ring; Tab starts
    // at the first, with it.
    const bool tabbed
        = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (tabbed)
        showKeyboardRing(true);
    if (!m_keyboardCell && tabbed)
        setKeyboardCell(QPoint(0, 0), false);
    viewport()->update(keyboardRing());
    m_accessible->focusMoved();
}

void CrosspointMatrixView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update(keyboardRing());
}

void CrosspointMatrixView::contextMenuEvent(QContextMenuEvent *event)
{
    // The menu key (or Shift+F10) asks for the menu of what the keyboard is on, not of
    // whatever lies under the given point.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        showKeyboardRing(true);
        openKeyboardMenu();
        return;
    }
    QMenu *menu = contextMenu(event->pos());
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CrosspointMatrixView::openKeyboardMenu()
{
    const std::optional<QPoint> at = keyboardCell();
    if (!at)
        return;
    setKeyboardCell(*at, true); // in view, beside its menu
    QMenu *menu = contextMenuFor(*at);
    if (!menu)
        return;
    // Below what it acts on, which stays in sight.
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QRect shown = keyboardRing();
    menu->popup(viewport()->mapToGlobal(QPoint(shown.left(), shown.bottom() + 1)));
}

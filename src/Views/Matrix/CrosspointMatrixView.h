#pragma once

#include "Model/RouterModels.h"
#include "Theme/GlassKit.h"

#include <QAbstractScrollArea>
#include <QPoint>
#include <QRect>

#include <memory>
#include <optional>

class QMenu;
class QVariantAnimation;
class RouterController;

namespace Motion {
class Transitions;
}

namespace Crosspoint {
class AccessibleElements;
class HeaderSizes;
class Painter;
struct Geometry;
struct PaintedCrosspoints;
struct Placement;
} // namespace Crosspoint

// The matrix presentation of the routing workspace: the visible sources (of the active
// sub-panel, or all) as columns, the visible destinations as rows, one crosspoint each showing
// whether that source feeds that destination on the controller's primary level.
//
//     auto *matrix = new CrosspointMatrixView(controller,
//                                             GlassKit::MatrixCellSize::shared().value(),
//                                             5, 1600, parent);
//     matrix->followCellSize(); // tracks the "matrixCellSize" user default
//     matrix->setControlBarClearance(clearance);
//
// The whole matrix is painted by this one widget, only where it is exposed, so a router of
// 1024×1024 ports scrolls as freely as a small one; the header row, the column of destination
// headers and the corner stay pinned while the crosspoints scroll beneath them. With at most
// `hoverCellLimit` crosspoints, each one reacts to hovering and has the full look (gradient,
// border) and a crosspoint that becomes connected or disconnected springs there; above it they
// are drawn plainly. Either form marks the crosspoints of a locked destination with a lock. A
// route, lock or signal change repaints only that destination's row or that source's column,
// and a moving crosspoint only itself. After a panel change the ports fade in.
//
// Clicks go straight to the controller: a crosspoint stages its route in confirm mode and
// takes it in immediate mode, whatever the routing direction; a destination header arms that
// destination (confirm mode only); a double click on either header, or its context menu,
// starts a rename through controller.beginRename(), and the creator shows the rename alert
// while controller.renameTarget() is set. The view keeps no routing state of its own.
//
// The keyboard walks the crosspoints and, left of them and above, the headers; Space acts as a
// click, and the menu key or Shift+F10 opens the menu of the header it is on (a crosspoint
// shares its destination's: Rename, Lock).
//
// Screen readers see every source header ("3 CAM 3, Signal present") and destination header
// ("9 MON 2, from CAM 2", "Locked"), and the crosspoints ("<destination> from <source>",
// "Connected, staged", checked while connected): every one in the per-cell form, the
// keyboard's in the drawn form. They hear the keyboard move, and a route, lock or staging
// change to any element they hold. A source header's "Route to Selected Destination" routes it
// to the destination header activated last, so the drawn form can be routed without a pointer
// too.
class CrosspointMatrixView final : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // `cellSize`: the crosspoint edge in points (the "matrixCellSize" default, 44); `gap`: the
    // space between crosspoints and headers (the workspace passes 5); `hoverCellLimit`: the
    // most crosspoints that still get hover feedback (the workspace passes 1600). The
    // controller must outlive the view.
    CrosspointMatrixView(RouterController &controller, double cellSize, double gap,
                         int hoverCellLimit, QWidget *parent = nullptr);
    ~CrosspointMatrixView() override;

    // The crosspoint edge as given. Sizes outside the zoom control's 30…68 are drawn as they
    // are; one that cannot be drawn (not a number, below 4, above 512) is drawn at the
    // nearest drawable size. A change resizes everything on the selection spring, keeping
    // the crosspoint at the top-left corner in view.
    double cellSize() const { return m_cellSize; }
    void setCellSize(double size);
    // Follow a stored cell size from now on (by default the "matrixCellSize" user default
    // that the zoom control changes), starting with its current value. Once only: later
    // calls change nothing. `size` must outlive the view.
    void followCellSize(GlassKit::MatrixCellSize &size = GlassKit::MatrixCellSize::shared());

    // Bottom space kept free under the floating control bar
    // (default GlassKit::defaultControlBarClearance).
    int controlBarClearance() const { return m_clearance; }
    void setControlBarClearance(int clearance);

    double gap() const { return m_gap; }
    int hoverCellLimit() const { return m_hoverCellLimit; }
    RouterController &controller() const { return m_controller; }

    // --- What the view shows, derived from the controller ------------------------------
    // Per-cell form (with hover) while sources × destinations ≤ hoverCellLimit.
    bool usesCells() const;
    // Width of the destination header column and height of the header row, from the
    // visible labels.
    double destWidth() const;
    double headerHeight() const;
    // A source header's hover help: "Double-click to rename", "No signal", "Signal present"
    // or "Signal: <format>".
    QString signalHelp(const Port &source) const;
    // The crosspoint under the pointer in the per-cell form, as (column, row) positions in
    // the visible lists; none in the drawn form.
    std::optional<QPoint> hoveredCell() const;
    // What the latest paint drew of the crosspoints, in either form: the block of (column,
    // row) positions it covered and the state each one showed.
    const Crosspoint::PaintedCrosspoints &paintedCrosspoints() const;

    // Where things are drawn now, in viewport coordinates (scrolling and pinning applied);
    // empty for positions outside the visible lists.
    QRect cellRect(int column, int row) const;
    QRect sourceHeaderRect(int column) const;
    QRect destinationHeaderRect(int row) const;
    // What a click at a viewport position takes, as a keyboard position (see keyboardCell(),
    // with (-1, -1) for the corner): none in a gap, under the pinned headers, or on a port
    // whose header is out of sight (less than half of it shows).
    std::optional<QPoint> positionAt(const QPoint &position) const;
    // Whether a keyboard position is in sight, as a click needs it, and the part of it that
    // shows (empty when hidden).
    bool inSight(QPoint position) const;
    QRect shownRect(QPoint position) const;

    // The context menu of whatever lies at a viewport position (a source or destination
    // header), or null; the caller owns it.
    QMenu *contextMenu(const QPoint &position);
    // The context menu of a keyboard position (see keyboardCell()): a source header's, or a
    // destination header's, which its row's crosspoints share; null elsewhere. The caller
    // owns it.
    QMenu *contextMenuFor(QPoint position);

    // A source header's "Route to Selected Destination": the crosspoint action for that
    // source and the pending destination; nothing without one.
    void routeToPendingDestination(int sourceIndex);

    // The crosspoint or header the keyboard is on, as (column, row) positions in the visible
    // lists, with row -1 for a source header and column -1 for a destination header: the one
    // clicked last, or the first crosspoint after Tab or a first arrow press. The arrow keys
    // move it (Home and End to the row's ends); Space runs a crosspoint's action or arms a
    // destination header's destination, as a click does. Its ring shows once the keyboard is
    // used (Tab, a key), and a click hides it again.
    std::optional<QPoint> keyboardCell() const;

    // The screen-reader elements of this matrix, for its accessibility interface; null once
    // the view is being destroyed.
    Crosspoint::AccessibleElements *accessibleElements() const { return m_accessible.get(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // What a viewport position lands on.
    struct Target
    {
        enum Kind { none, corner, sourceHeader, destinationHeader, crosspoint };
        Kind kind = none;
        int column = -1; // position in the visible sources
        int row = -1; // position in the visible destinations

        bool operator==(const Target &) const = default;
    };

    void bind();
    void invalidateLayout();
    void ensureLayout() const;
    void applyScrollRanges();
    void showCellSize(double shown);
    Target targetAt(const QPoint &position) const;
    QPointF scrollOffset() const;
    // The geometry as the viewport shows it now.
    Crosspoint::Placement placement() const;

    void updateRowOf(int destinationIndex);
    void updateColumnOf(int sourceIndex);
    void updateRow(int row);
    void updateColumn(int column);
    void stagingChanged();
    // Starts the spring of a destination's crosspoints after its route changed.
    void animateConnection(int destination);
    void forgetConnections();
    void setHovered(const std::optional<QPoint> &cell);
    // Moves the keyboard's crosspoint (clamped to the grid) and scrolls it into view.
    void setKeyboardCell(QPoint cell, bool reveal);
    // Where the keyboard's crosspoint or header is drawn, and its focus ring.
    QRect keyboardRect() const;
    QRect keyboardRing() const;
    // How far the ring reaches out of a crosspoint.
    static constexpr int keyboardRingMargin = 4;
    // The keyboard is used (true) or the pointer (false): the ring shows only for the keyboard.
    void showKeyboardRing(bool shown);
    void openKeyboardMenu();

    void startPainting(int firstColumn, int lastColumn, int firstRow, int lastRow) const;
    void paintCells(QPainter &p, const QRect &exposed) const;
    void paintField(QPainter &p, const QRect &exposed) const;
    void paintRowHeaders(QPainter &p, const QRect &exposed) const;
    void paintHeaderRow(QPainter &p, const QRect &exposed) const;
    double hoverAmount(QPoint cell) const;

    RouterController &m_controller;
    double m_cellSize;
    double m_shownCell; // the drawable size drawn now, mid-animation too
    double m_gap;
    int m_hoverCellLimit;
    int m_clearance;
    bool m_followsCellSize = false;
    QVariantAnimation *m_cellAnimation = nullptr;
    QVariantAnimation *m_appearAnimation = nullptr;
    double m_appearance = 1; // how far the ports of a new panel have faded in
    Motion::Transitions *m_connections = nullptr;
    // The route each destination row of the per-cell form showed when last painted.
    mutable QHash<int, std::optional<int>> m_paintedRoutes;

    mutable bool m_layoutDirty = false;
    mutable std::unique_ptr<Crosspoint::Geometry> m_geometry;
    // Each label's measured width, kept from one layout to the next.
    mutable std::unique_ptr<Crosspoint::HeaderSizes> m_headerSizes;
    std::unique_ptr<Crosspoint::Painter> m_painter;
    std::unique_ptr<Crosspoint::PaintedCrosspoints> m_painted;
    std::unique_ptr<Crosspoint::AccessibleElements> m_accessible;

    // The staging last drawn, so that a change repaints only the rows and columns it touches.
    std::optional<int> m_shownPendingDestination;
    std::optional<int> m_shownArmedSource;
    // A fine-grained state signal already repainted what changed; skip the stateChanged
    // that follows it.
    bool m_stateChangeHandled = false;

    Target m_pressed;
    bool m_swallowRelease = false;
    std::optional<QPoint> m_keyboardCell;
    bool m_keyboardShown = false;
    std::optional<QPoint> m_hovered;
    double m_hoverIn = 0;
    std::optional<QPoint> m_unhovered;
    double m_hoverOut = 0;
    QVariantAnimation *m_hoverInAnimation = nullptr;
    QVariantAnimation *m_hoverOutAnimation = nullptr;
};

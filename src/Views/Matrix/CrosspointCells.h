#pragma once

// The crosspoint matrix's private pieces: its geometry, the per-row data it derives from the
// controller, the one crosspoint action, and the painter that draws headers and crosspoints.
// Only CrosspointMatrixView uses them.

#include "Model/RouterModels.h"

#include <QCache>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>

#include <functional>
#include <optional>

class QPainter;
class RouterController;

namespace Crosspoint {

// Limits of a cell size that can still be drawn; a stored size outside 30…68 is drawn as it
// is, but one that is not a number, not positive or absurdly large is brought back here.
inline constexpr double smallestDrawableCell = 4;
inline constexpr double largestDrawableCell = 512;
double drawableCellSize(double size);
double drawableGap(double gap);

// The hovered cell grows by 7 %: repaint a little beyond its square.
inline constexpr int hoverSpill = 3;

// The design's point sizes as fonts of the application's family (a point is a pixel here,
// plus one, as in Theme).
QFont systemFont(double points, QFont::Weight weight);

// Width of a destination row header's number frame: 22, or more where the widest number of
// the router needs it ("4088" whole).
double destinationNumberWidth(int widestNumber);

// Where everything sits, in content coordinates (before scrolling).
struct Geometry
{
    double cell = 44;
    double gap = 5;
    double destWidth = 138;
    double headerHeight = 104;
    double numberWidth = 22; // a destination row header's number frame
    double clearance = 96;
    int columns = 0; // visible sources
    int rows = 0; // visible destinations

    double pitch() const { return cell + gap; }
    // Top-left of the first crosspoint: right of the row headers, below the header row.
    QPointF fieldOrigin() const { return { destWidth + gap, headerHeight + gap }; }
    // The crosspoint field alone, zero wide or high without ports.
    QSizeF fieldSize() const;
    // Header row, rows and the padding (24 trailing, the clearance at the bottom).
    QSizeF contentSize() const;
    // Crosspoint (column, row) in field coordinates.
    QRectF cellRect(int column, int row) const;

    // The crosspoint under a point in field coordinates, by pitch: none in a gap or outside.
    // A point on a cell's far edge still belongs to it.
    std::optional<QPoint> hit(QPointF fieldPoint) const;
    // The column or row whose band (cell wide, gaps excluded) holds a field coordinate.
    std::optional<int> columnAt(double fieldX) const;
    std::optional<int> rowAt(double fieldY) const;
};

// The geometry seen through the viewport, `size` large and scrolled by `scroll`: the header
// row pinned across the top, the column of destination headers with the gap beside it pinned
// down the left, the crosspoints sliding beneath both. Painting, the pointer, the keyboard and
// screen readers all read it, so nothing covered can be clicked, and nothing is taken whose
// headers are out of sight.
struct Placement
{
    Geometry geometry;
    QPointF scroll;
    QSizeF size;

    // Where the crosspoints show: right of the pinned column, below the header row.
    QRectF crosspointArea() const;
    // Where the source headers show (the header row right of the pinned column), and the
    // destination headers (the pinned column below the header row, without its gap).
    QRectF sourceHeaderArea() const;
    QRectF destinationHeaderArea() const;
    // The pinned column below the header row, its gap included: what hides the crosspoints.
    QRectF headerColumnBand() const;

    // Where a crosspoint or header is drawn, reaching under the pinned parts where it does.
    QRectF cellRect(int column, int row) const;
    QRectF sourceHeaderRect(int column) const;
    QRectF destinationHeaderRect(int row) const;

    // A column or row is in sight while at least half of it shows between the pinned parts,
    // so that its header can be read.
    bool columnInSight(int column) const;
    bool rowInSight(int row) const;
    // A keyboard position (see positionAt) in sight: a crosspoint needs both its headers.
    bool inSight(QPoint position) const;
    // The part of a keyboard position's crosspoint or header that shows between the pinned
    // parts and the viewport's edges; empty when it is hidden.
    QRectF shownRect(QPoint position) const;

    // What a click at a point takes, as a keyboard position: (column, row) for a crosspoint,
    // row -1 for a source header, column -1 for a destination header, (-1, -1) for the
    // corner; none in a gap, outside the viewport, or on a port out of sight.
    std::optional<QPoint> positionAt(QPointF point) const;
};

// What one crosspoint shows, whichever form draws it. The per-cell form, the drawn field and
// screen readers all read it from crosspointState(), so none of them can show a route, a
// staging or a lock the others do not.
struct CrosspointState
{
    bool connected = false; // the source feeds the destination on the primary level
    bool pending = false; // the staged crosspoint: pending destination and armed source
    bool highlighted = false; // on the staged row or in the armed column
    bool locked = false; // the destination is locked

    bool operator==(const CrosspointState &) const = default;
};

// What the crosspoints of one destination row share, read from the controller once a row.
struct CrosspointRow
{
    std::optional<int> routed; // none when the primary level has no route for it
    bool locked = false;
    bool pendingRow = false; // the destination is the pending one
    std::optional<int> armed; // the source armed for the pending destination
};
CrosspointRow crosspointRow(const RouterController &controller, int destination);

inline CrosspointState crosspointState(const CrosspointRow &row, int source)
{
    const bool armedColumn = row.armed == source;
    return { row.routed == source, row.pendingRow && armedColumn, row.pendingRow || armedColumn,
             row.locked };
}
CrosspointState crosspointState(const RouterController &controller, int source, int destination);

// The crosspoints one paint drew: a block of visible (column, row) positions, row by row,
// and what each showed.
struct PaintedCrosspoints
{
    QRect block;
    QList<CrosspointState> states;

    std::optional<CrosspointState> at(int column, int row) const
    {
        if (!block.contains(column, row))
            return std::nullopt;
        return states.value((row - block.top()) * block.width() + column - block.left());
    }
};

// What one destination row shows.
struct RowData
{
    Port dest;
    std::optional<int> routed; // source on the primary level
    QString routedLabel; // its label, or "—"
    bool offPanelFeed = false; // fed from a source the active sub-panel hides
    bool locked = false;
    bool isPendingDest = false;
};
// `panelActive`: a sub-panel is active (read once per redraw by the caller).
RowData rowData(const RouterController &controller, const Port &destination, bool panelActive);

// The source armed for the pending destination, if both are set.
std::optional<int> armedSource(const RouterController &controller);

// A click on crosspoint (source, destination): staged in confirm mode (replacing any group
// staging, lock not tested), taken at once otherwise (the controller refuses a locked one).
void crosspointAction(RouterController &controller, int source, int destination);

// The hover help of a source header, from its input status.
QString signalHelp(const RouterState &state, const Port &source);

// What screen readers hear, from the same state the eye sees. A crosspoint: "Connected" or
// "Not connected", then ", staged" and ", locked" where they hold.
QString spokenState(const CrosspointState &state);
// A destination header, read as the list reads its rows: "9 MON 2, from CAM 2" (or ", no
// source"); its marks: "Locked", "Fed from outside the panel", or nothing.
QString spokenRowName(const RouterState &state, const RowData &row);
QString spokenRowMarks(const RowData &row);
// A source header: "3 CAM 3", then ", " and its signal where the router reports one.
QString spokenSourceName(const RouterState &state, const Port &source);

// How one crosspoint looks in the per-cell form: its state, and the hover and motion only
// this form has.
struct CellLook
{
    CrosspointState state;
    double hover = 0; // 0 resting … 1 hovered
    // While a route change moves it: how connected the crosspoint looks, 0 … 1.
    std::optional<double> connection;
};

// Draws the matrix's parts; keeps its fonts and the symbol pixmaps it has drawn.
class Painter final
{
public:
    Painter();

    // Drop cached symbols (palette or screen changed).
    void reset();

    void cell(QPainter &p, const QRectF &rect, const CellLook &look, const QColor &tint);
    // One crosspoint of the drawn field, as the field form draws it.
    void canvasCell(QPainter &p, const QRectF &rect, const CrosspointState &state,
                    const QColor &tint);
    // `numberWidth`: the width of the number frame, the same in every row.
    void rowHeader(QPainter &p, const QRectF &rect, const RowData &row, double numberWidth,
                   const QColor &tint);
    void columnHeader(QPainter &p, const QRectF &rect, const Port &source, bool armed,
                      const std::optional<InputSignalStatus> &signal, const QColor &tint);
    void corner(QPainter &p, const QRectF &rect);
    // Backdrop of the header row and of the pinned header column.
    void headerBand(QPainter &p, const QRectF &rect);

private:
    // Shapes drawn once per look, tint and size, then copied: a viewport of crosspoints is
    // hundreds of identical antialiased rounded squares.
    struct SpriteKey
    {
        quint32 look = 0;
        QRgb tint = 0;
        QSize size; // hundredths of a point
        bool operator==(const SpriteKey &) const = default;
    };
    friend size_t qHash(const SpriteKey &key, size_t seed)
    {
        return qHashMulti(seed, key.look, key.tint, key.size.width(), key.size.height());
    }
    void drawSprite(QPainter &p, const QRectF &rect, quint32 look, const QColor &tint,
                    const std::function<void(QPainter &, const QRectF &)> &draw);

    // Headers drawn whole once per content, tint and size, then copied: their text is most
    // of a frame, and a scroll step brings only a row and a column of new ones.
    void drawCached(QPainter &p, const QRectF &rect, const QString &content, const QColor &tint,
                    const std::function<void(QPainter &, const QRectF &)> &draw);
    void drawRowHeader(QPainter &p, const QRectF &rect, const RowData &row, double numberWidth,
                       const QColor &tint);
    void drawColumnHeader(QPainter &p, const QRectF &rect, const Port &source, bool armed,
                          const std::optional<InputSignalStatus> &signal, const QColor &tint);

    void drawCell(QPainter &p, const QRectF &rect, const CellLook &look, const QColor &tint);
    // The lock of a locked, unconnected crosspoint, in either form.
    void lockMark(QPainter &p, const QRectF &cell);
    QPixmap symbol(QPainter &p, const QString &name, int size, const QColor &color);

    QFont m_destLabel;
    QFont m_routedLabel;
    QFont m_destNumber;
    QFont m_sourceLabel;
    QFont m_sourceNumber;
    QFont m_cornerLabel;
    QHash<QString, QPixmap> m_symbols;
    QHash<SpriteKey, QPixmap> m_sprites;
    qreal m_spriteRatio = 0;
    // Kilobytes: some screens of headers at any zoom.
    QCache<QString, QPixmap> m_headers { 16 * 1024 };
    qreal m_headerRatio = 0;
};

} // namespace Crosspoint

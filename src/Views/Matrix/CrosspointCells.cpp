#include "Views/Matrix/CrosspointCells.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/PaintedText.h"
#include "Theme/Theme.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace Crosspoint {

namespace {

const QString noRoute = QStringLiteral("\u2014");

// Symbols are sized like text of the given point size.
int symbolPixels(double points)
{
    return int(std::lround(points + 1));
}

void fillRounded(QPainter &p, const QRectF &rect, double radius, const QBrush &brush)
{
    p.setPen(Qt::NoPen);
    p.setBrush(brush);
    p.drawRoundedRect(rect, radius, radius);
}

// A border that stays inside the shape, as an inner stroke does.
void strokeInside(QPainter &p, const QRectF &rect, double radius, const QColor &color, double width)
{
    const double half = width / 2;
    p.setPen(QPen(color, width));
    p.setBrush(Qt::NoBrush);
    const double inner = std::max(0.0, radius - half);
    p.drawRoundedRect(rect.adjusted(half, half, -half, -half), inner, inner);
}

double radiusFor(const QRectF &rect, double wanted)
{
    return std::min(wanted, std::min(rect.width(), rect.height()) / 2);
}

} // namespace

double drawableCellSize(double size)
{
    if (!std::isfinite(size))
        return 44;
    return std::clamp(size, smallestDrawableCell, largestDrawableCell);
}

double drawableGap(double gap)
{
    if (!std::isfinite(gap))
        return 0;
    return std::clamp(gap, 0.0, largestDrawableCell);
}

QFont systemFont(double points, QFont::Weight weight)
{
    QFont font = Theme::font(Theme::TextStyle::body, weight);
    font.setPixelSize(std::max(1, int(std::lround(points + 1))));
    font.setWeight(weight);
    return font;
}

double destinationNumberWidth(int widestNumber)
{
    // Every number of as many digits fits: digits need not share one width in every face.
    const QFontMetricsF metrics(systemFont(10, QFont::Bold));
    double digit = 0;
    for (char c = '0'; c <= '9'; ++c)
        digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(c)));
    const qsizetype digits = QString::number(std::max(1, widestNumber)).size();
    return std::max(22.0, std::ceil(digit * double(digits)));
}

// --- Geometry ------------------------------------------------------------------------------

QSizeF Geometry::fieldSize() const
{
    return { std::max(0.0, pitch() * columns - gap), std::max(0.0, pitch() * rows - gap) };
}

QSizeF Geometry::contentSize() const
{
    const QSizeF field = fieldSize();
    const double width = destWidth + (columns > 0 ? gap + field.width() : 0) + 24;
    const double height = headerHeight + (rows > 0 ? gap + field.height() : 0) + clearance;
    return { width, height };
}

QRectF Geometry::cellRect(int column, int row) const
{
    return { pitch() * column, pitch() * row, cell, cell };
}

std::optional<int> Geometry::columnAt(double fieldX) const
{
    if (!(fieldX >= 0))
        return std::nullopt;
    const double column = std::trunc(fieldX / pitch());
    if (column >= columns || fieldX - pitch() * column > cell)
        return std::nullopt;
    return int(column);
}

std::optional<int> Geometry::rowAt(double fieldY) const
{
    if (!(fieldY >= 0))
        return std::nullopt;
    const double row = std::trunc(fieldY / pitch());
    if (row >= rows || fieldY - pitch() * row > cell)
        return std::nullopt;
    return int(row);
}

std::optional<QPoint> Geometry::hit(QPointF fieldPoint) const
{
    const std::optional<int> column = columnAt(fieldPoint.x());
    const std::optional<int> row = rowAt(fieldPoint.y());
    if (!column || !row)
        return std::nullopt;
    return QPoint(*column, *row);
}

// --- Placement in the viewport --------------------------------------------------------------

QRectF Placement::crosspointArea() const
{
    const double left = geometry.destWidth + geometry.gap;
    return { left, geometry.headerHeight, std::max(0.0, size.width() - left),
             std::max(0.0, size.height() - geometry.headerHeight) };
}

QRectF Placement::sourceHeaderArea() const
{
    const QRectF area = crosspointArea();
    return { area.left(), 0, area.width(), geometry.headerHeight };
}

QRectF Placement::destinationHeaderArea() const
{
    const QRectF band = headerColumnBand();
    return { 0, band.top(), geometry.destWidth, band.height() };
}

QRectF Placement::headerColumnBand() const
{
    const QRectF area = crosspointArea();
    return { 0, area.top(), area.left(), area.height() };
}

QRectF Placement::cellRect(int column, int row) const
{
    return geometry.cellRect(column, row).translated(geometry.fieldOrigin() - scroll);
}

QRectF Placement::sourceHeaderRect(int column) const
{
    const double x = geometry.fieldOrigin().x() - scroll.x() + geometry.pitch() * column;
    return { x, 0, geometry.cell, geometry.headerHeight };
}

QRectF Placement::destinationHeaderRect(int row) const
{
    const double y = geometry.fieldOrigin().y() - scroll.y() + geometry.pitch() * row;
    return { 0, y, geometry.destWidth, geometry.cell };
}

bool Placement::columnInSight(int column) const
{
    if (column < 0 || column >= geometry.columns)
        return false;
    const QRectF area = crosspointArea();
    const double middle = sourceHeaderRect(column).center().x();
    return middle >= area.left() && middle < area.right();
}

bool Placement::rowInSight(int row) const
{
    if (row < 0 || row >= geometry.rows)
        return false;
    const QRectF area = crosspointArea();
    const double middle = destinationHeaderRect(row).center().y();
    return middle >= area.top() && middle < area.bottom();
}

bool Placement::inSight(QPoint position) const
{
    if (position.x() == -1)
        return rowInSight(position.y());
    if (position.y() == -1)
        return columnInSight(position.x());
    return columnInSight(position.x()) && rowInSight(position.y());
}

QRectF Placement::shownRect(QPoint position) const
{
    if (position.x() == -1)
        return destinationHeaderRect(position.y()) & destinationHeaderArea();
    if (position.y() == -1)
        return sourceHeaderRect(position.x()) & sourceHeaderArea();
    return cellRect(position.x(), position.y()) & crosspointArea();
}

std::optional<QPoint> Placement::positionAt(QPointF point) const
{
    if (!(point.x() >= 0 && point.y() >= 0 && point.x() < size.width()
          && point.y() < size.height()))
        return std::nullopt;
    const QPointF field = point + scroll - geometry.fieldOrigin();
    const QRectF area = crosspointArea();
    std::optional<QPoint> position;
    if (point.y() < area.top()) {
        if (point.x() < area.left())
            return QPoint(-1, -1);
        if (const std::optional<int> column = geometry.columnAt(field.x()))
            position = QPoint(*column, -1);
    } else if (point.x() < area.left()) {
        // Beside the headers lies the gap the band covers.
        if (point.x() >= geometry.destWidth)
            return std::nullopt;
        if (const std::optional<int> row = geometry.rowAt(field.y()))
            position = QPoint(-1, *row);
    } else {
        position = geometry.hit(field);
    }
    if (position && !inSight(*position))
        return std::nullopt;
    return position;
}

// --- Data and actions ----------------------------------------------------------------------

CrosspointRow crosspointRow(const RouterController &controller, int destination)
{
    const RouterState &state = controller.state();
    CrosspointRow row;
    row.routed = state.source(destination, controller.primaryLevel());
    row.locked = state.isLocked(destination);
    row.pendingRow = controller.pendingDestination() == destination;
    row.armed = armedSource(controller);
    return row;
}

CrosspointState crosspointState(const RouterController &controller, int source, int destination)
{
    return crosspointState(crosspointRow(controller, destination), source);
}

RowData rowData(const RouterController &controller, const Port &destination, bool panelActive)
{
    const RouterState &state = controller.state();
    const CrosspointRow crosspoints = crosspointRow(controller, destination.index);
    RowData row;
    row.dest = destination;
    row.routed = crosspoints.routed;
    row.routedLabel = noRoute;
    if (row.routed && *row.routed >= 0 && *row.routed < state.sources.size())
        row.routedLabel = state.sources.at(*row.routed).label;
    row.offPanelFeed
        = panelActive && row.routed && !controller.visibleSourceRow(*row.routed).has_value();
    row.locked = crosspoints.locked;
    row.isPendingDest = crosspoints.pendingRow;
    return row;
}

std::optional<int> armedSource(const RouterController &controller)
{
    return controller.pendingDestination() ? controller.pendingSource() : std::nullopt;
}

void crosspointAction(RouterController &controller, int source, int destination)
{
    if (controller.takeMode() == TakeMode::confirm) {
        controller.setPendingDestinations({});
        controller.setPendingDestination(destination);
        controller.setPendingSource(source);
        return;
    }
    controller.take(source, destination);
}

QString signalHelp(const RouterState &state, const Port &source)
{
    const auto status = state.inputStatus.constFind(source.index);
    if (status == state.inputStatus.cend())
        return QStringLiteral("Double-click to rename");
    if (!status->present)
        return QStringLiteral("No signal");
    if (!status->format)
        return QStringLiteral("Signal present");
    return QStringLiteral("Signal: ") + *status->format;
}

QString spokenState(const CrosspointState &state)
{
    QString text = state.connected ? QStringLiteral("Connected") : QStringLiteral("Not connected");
    if (state.pending)
        text += QStringLiteral(", staged");
    if (state.locked)
        text += QStringLiteral(", locked");
    return text;
}

QString spokenRowName(const RouterState &state, const RowData &row)
{
    const QString name = QString::number(row.dest.index + 1) + u' ' + Text::spoken(row.dest.label);
    if (row.routed && *row.routed >= 0 && *row.routed < state.sources.size())
        return name + QStringLiteral(", from ") + Text::spoken(row.routedLabel);
    return name + QStringLiteral(", no source");
}

QString spokenRowMarks(const RowData &row)
{
    QStringList marks;
    if (row.locked)
        marks.append(QStringLiteral("locked"));
    if (row.offPanelFeed)
        marks.append(QStringLiteral("fed from outside the panel"));
    QString text = marks.join(QStringLiteral(", "));
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}

QString spokenSourceName(const RouterState &state, const Port &source)
{
    const QString name = QString::number(source.index + 1) + u' ' + Text::spoken(source.label);
    if (!state.inputStatus.contains(source.index))
        return name;
    return name + QStringLiteral(", ") + signalHelp(state, source);
}

// --- Painter -------------------------------------------------------------------------------

Painter::Painter()
{
    reset();
}

void Painter::reset()
{
    m_destLabel = systemFont(12.5, QFont::DemiBold);
    m_routedLabel = systemFont(10, QFont::Normal);
    m_destNumber = systemFont(10, QFont::Bold);
    m_sourceLabel = systemFont(11, QFont::Medium);
    m_sourceNumber = systemFont(11, QFont::Bold);
    m_cornerLabel = systemFont(9, QFont::Bold);
    m_symbols.clear();
    m_sprites.clear();
    m_headers.clear();
}

void Painter::drawSprite(QPainter &p, const QRectF &rect, quint32 look, const QColor &tint,
                         const std::function<void(QPainter &, const QRectF &)> &draw)
{
    // Room for strokes centred on the shape's edge.
    constexpr double margin = 2;
    const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    if (ratio != m_spriteRatio || m_sprites.size() > 512) {
        // A new screen, or the sizes a zoom animation went through: start afresh.
        m_sprites.clear();
        m_spriteRatio = ratio;
    }
    const SpriteKey key { look, tint.rgba(),
                          QSize(int(std::lround(rect.width() * 100)),
                                int(std::lround(rect.height() * 100))) };
    auto found = m_sprites.constFind(key);
    if (found == m_sprites.cend()) {
        const QSizeF logical(rect.width() + 2 * margin, rect.height() + 2 * margin);
        QPixmap sprite((logical * ratio).toSize() + QSize(1, 1));
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(Qt::transparent);
        QPainter painter(&sprite);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, QRectF(QPointF(margin, margin), rect.size()));
        painter.end();
        found = m_sprites.insert(key, sprite);
    }
    p.drawPixmap(rect.topLeft() - QPointF(margin, margin), *found);
}

void Painter::drawCached(QPainter &p, const QRectF &rect, const QString &content,
                         const QColor &tint,
                         const std::function<void(QPainter &, const QRectF &)> &draw)
{
    // Room for the sprite's margin behind the header.
    constexpr double margin = 2;
    const qreal ratio = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    if (ratio != m_headerRatio) {
        m_headers.clear();
        m_headerRatio = ratio;
    }
    const QString key = content + QLatin1Char('|') + QString::number(tint.rgba()) + QLatin1Char('|')
        + QString::number(std::lround(rect.width() * 100)) + QLatin1Char('x')
        + QString::number(std::lround(rect.height() * 100));
    const QPixmap *found = m_headers.object(key);
    if (!found) {
        const QSizeF logical(rect.width() + 2 * margin, rect.height() + 2 * margin);
        auto *header = new QPixmap((logical * ratio).toSize() + QSize(1, 1));
        header->setDevicePixelRatio(ratio);
        header->fill(Qt::transparent);
        QPainter painter(header);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, QRectF(QPointF(margin, margin), rect.size()));
        painter.end();
        const qsizetype kilobytes
            = std::max<qsizetype>(1, qsizetype(header->width()) * header->height() * 4 / 1024);
        if (!m_headers.insert(key, header, kilobytes))
            return; // larger than the whole budget: drawn once, never kept
        found = m_headers.object(key);
        if (!found)
            return;
    }
    p.drawPixmap(rect.topLeft() - QPointF(margin, margin), *found);
}

QPixmap Painter::symbol(QPainter &p, const QString &name, int size, const QColor &color)
{
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const QString key = Text::format(QStringLiteral("%1:%2:%3:%4"), name, size, color.rgba(), dpr);
    auto found = m_symbols.constFind(key);
    if (found != m_symbols.cend())
        return *found;
    const QPixmap pixmap = Symbols::pixmap(name, size, color, dpr);
    m_symbols.insert(key, pixmap);
    return pixmap;
}

void Painter::cell(QPainter &p, const QRectF &rect, const CellLook &look, const QColor &tint)
{
    if (look.connection && *look.connection > 0 && *look.connection < 1) {
        // Mid-move: the unconnected look fades out as the connected one fades in.
        const double amount = *look.connection;
        const qreal opacity = p.opacity();
        CellLook resting = look;
        resting.connection.reset();
        resting.state.connected = false;
        p.setOpacity(opacity * (1 - amount));
        cell(p, rect, resting, tint);
        resting.state.connected = true;
        p.setOpacity(opacity * amount);
        cell(p, rect, resting, tint);
        p.setOpacity(opacity);
        return;
    }
    if (look.hover > 0) {
        drawCell(p, rect, look, tint);
        return;
    }
    const CrosspointState &state = look.state;
    const quint32 bits = quint32(state.connected) | quint32(state.pending) << 1
        | quint32(state.highlighted) << 2 | quint32(state.locked) << 3 | 1u << 8;
    drawSprite(p, rect, bits, tint, [this, look, tint](QPainter &sprite, const QRectF &at) {
        drawCell(sprite, at, look, tint);
    });
}

void Painter::drawCell(QPainter &p, const QRectF &rect, const CellLook &look, const QColor &tint)
{
    const CrosspointState &state = look.state;
    QRectF shape = rect;
    if (look.hover > 0 && !state.connected) {
        const double grow = 0.07 * look.hover;
        shape.adjust(-rect.width() * grow / 2, -rect.height() * grow / 2, rect.width() * grow / 2,
                     rect.height() * grow / 2);
    }
    const double radius = radiusFor(shape, 10);

    if (state.connected) {
        QLinearGradient gradient(shape.topLeft(), shape.bottomLeft());
        gradient.setColorAt(0, tint.lighter(122));
        gradient.setColorAt(1, tint);
        fillRounded(p, shape, radius, gradient);
    } else if (state.highlighted) {
        fillRounded(p, shape, radius, Theme::withAlpha(tint, 0.16));
    } else {
        fillRounded(p, shape, radius,
                    Theme::withAlpha(Theme::quaternaryFill(), 0.45 + 0.45 * look.hover));
    }

    if (state.pending)
        strokeInside(p, shape, radius, tint, 2.5);
    else if (state.connected)
        strokeInside(p, shape, radius, Theme::withAlpha(Qt::white, 0.25), 1);
    else
        strokeInside(p, shape, radius, Theme::withAlpha(Theme::separator(), 0.4), 1);

    if (state.connected) {
        const double diameter = shape.width() * 0.22;
        QRectF dot(0, 0, diameter, diameter);
        dot.moveCenter(shape.center());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 40));
        p.drawEllipse(dot.translated(0, 0.5).adjusted(-1, -1, 1, 1));
        p.setBrush(Qt::white);
        p.drawEllipse(dot);
    } else if (state.locked) {
        lockMark(p, shape);
    }
}

void Painter::lockMark(QPainter &p, const QRectF &cell)
{
    const QPixmap lock = symbol(p, QStringLiteral("lock.fill"), symbolPixels(9),
                                Theme::withAlpha(Theme::orange(), 0.6));
    const QSizeF size = QSizeF(lock.size()) / lock.devicePixelRatio();
    p.drawPixmap(
        QPointF(cell.center().x() - size.width() / 2, cell.center().y() - size.height() / 2), lock);
}

void Painter::canvasCell(QPainter &p, const QRectF &cell, const CrosspointState &state,
                         const QColor &tint)
{
    // The field's plainer look: no gradient, border or shadow. A lock shows as the cells
    // show it, so that no form hides one.
    const bool connected = state.connected;
    const bool washed = state.highlighted;
    const bool pending = state.pending;
    const bool locked = state.locked;
    const quint32 bits = quint32(connected) | quint32(washed) << 1 | quint32(pending) << 2
        | quint32(locked) << 3 | 2u << 8;
    drawSprite(p, cell, bits, tint, [=, this](QPainter &p, const QRectF &rect) {
        const double radius = radiusFor(rect, 10);
        if (connected) {
            fillRounded(p, rect, radius, tint);
            const double r = rect.width() * 0.11;
            p.setBrush(Qt::white);
            p.drawEllipse(rect.center(), r, r);
        } else if (washed) {
            fillRounded(p, rect, radius, Theme::withAlpha(tint, 0.16));
        } else {
            fillRounded(p, rect, radius, Theme::withAlpha(Theme::label(), 0.07));
        }
        if (pending) {
            p.setPen(QPen(tint, 2.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(rect, radius, radius);
        }
        if (locked && !connected)
            lockMark(p, rect);
    });
}

void Painter::rowHeader(QPainter &p, const QRectF &rect, const RowData &row, double numberWidth,
                        const QColor &tint)
{
    // The label's length keeps the two texts apart whatever they hold.
    const QString key = Text::format(QStringLiteral("r%1|%2|%3|%4|"), row.dest.index,
                                     quint32(row.locked) | quint32(row.isPendingDest) << 1
                                         | quint32(row.offPanelFeed) << 2,
                                     numberWidth, row.dest.label.size())
        + row.dest.label + row.routedLabel;
    drawCached(p, rect, key, tint,
               [this, &row, numberWidth, &tint](QPainter &painter, const QRectF &at) {
                   drawRowHeader(painter, at, row, numberWidth, tint);
               });
}

void Painter::drawRowHeader(QPainter &p, const QRectF &rect, const RowData &row, double numberWidth,
                            const QColor &tint)
{
    const bool pending = row.isPendingDest;
    drawSprite(p, rect, quint32(pending) | 3u << 8, tint,
               [pending, tint](QPainter &p, const QRectF &shape) {
                   const double radius = radiusFor(shape, 9);
                   fillRounded(p, shape, radius, Theme::withAlpha(Theme::windowBackground(), 0.96));
                   fillRounded(p, shape, radius,
                               pending ? Theme::withAlpha(tint, 0.22)
                                       : Theme::withAlpha(Theme::orange(), 0.08));
                   if (pending)
                       strokeInside(p, shape, radius, tint, 1.5);
                   else
                       strokeInside(p, shape, radius, Theme::withAlpha(Theme::separator(), 0.5), 1);
               });

    // Label over routed source, 1 apart, centred; where that is taller than the header's
    // border leaves room for, the lines first close up, then give up the room above their
    // capitals that only accents use.
    const QFontMetricsF labelMetrics(m_destLabel);
    const QFontMetricsF routedMetrics(m_routedLabel);
    const double stackHeight = labelMetrics.height() + 1 + routedMetrics.height();
    double squeeze = std::max(0.0, stackHeight - (rect.height() - 2));
    const auto cut = [&squeeze](double room) {
        const double taken = std::clamp(room, 0.0, squeeze);
        squeeze -= taken;
        return taken;
    };
    const double gapCut = cut(1);
    const double routedCut = cut(routedMetrics.ascent() - routedMetrics.capHeight());
    const double labelCut = cut(labelMetrics.ascent() - labelMetrics.capHeight());
    const double shownHeight = stackHeight - gapCut - routedCut - labelCut;
    const bool clip = shownHeight > rect.height();
    if (clip) {
        p.save();
        p.setClipRect(rect);
    }

    const QRectF number(rect.left() + 10, rect.top(), numberWidth, rect.height());
    p.setFont(m_destNumber);
    p.setPen(Theme::orange());
    PaintedText::draw(p, number, Qt::AlignRight | Qt::AlignVCenter,
                      QString::number(row.dest.index + 1));

    double right = rect.right() - 10;
    if (row.locked) {
        const QPixmap lock
            = symbol(p, QStringLiteral("lock.fill"), symbolPixels(9), Theme::orange());
        const QSizeF size = QSizeF(lock.size()) / lock.devicePixelRatio();
        right -= size.width();
        p.drawPixmap(QPointF(right, rect.center().y() - size.height() / 2), lock);
        right -= 8;
    }

    const double left = number.right() + 8;
    const double width = std::max(0.0, right - left);
    const double top = rect.center().y() - shownHeight / 2 - labelCut;
    p.setFont(m_destLabel);
    p.setPen(Theme::label());
    PaintedText::draw(p, QRectF(left, top, width, labelMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, shownName(row.dest.label));

    const double routedTop = top + labelMetrics.height() + 1 - gapCut - routedCut;
    const int markSize = symbolPixels(7);
    const double routedWidth = row.offPanelFeed ? std::max(0.0, width - markSize - 3) : width;
    p.setFont(m_routedLabel);
    p.setPen(Theme::secondaryLabel());
    const QString routed = PaintedText::elided(p.fontMetrics(), shownName(row.routedLabel),
                                               Qt::ElideRight, int(routedWidth));
    p.drawText(QRectF(left, routedTop, routedWidth, routedMetrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, routed);
    if (row.offPanelFeed) {
        const QPixmap mark
            = symbol(p, QStringLiteral("arrow.up.forward"), markSize, Theme::secondaryLabel());
        const double x = left + routedMetrics.horizontalAdvance(routed) + 3;
        p.drawPixmap(QPointF(x, routedTop + (routedMetrics.height() - markSize) / 2), mark);
    }
    if (clip)
        p.restore();
}

void Painter::columnHeader(QPainter &p, const QRectF &rect, const Port &source, bool armed,
                           const std::optional<InputSignalStatus> &signal, const QColor &tint)
{
    const int mark = !signal ? 0 : signal->present ? 1 : 2;
    const QString key
        = Text::format(QStringLiteral("c%1|%2|"), source.index, quint32(armed) | quint32(mark) << 1)
        + source.label;
    drawCached(p, rect, key, tint, [&](QPainter &painter, const QRectF &at) {
        drawColumnHeader(painter, at, source, armed, signal, tint);
    });
}

void Painter::drawColumnHeader(QPainter &p, const QRectF &rect, const Port &source, bool armed,
                               const std::optional<InputSignalStatus> &signal, const QColor &tint)
{
    drawSprite(p, rect, quint32(armed) | 4u << 8, tint,
               [armed, tint](QPainter &p, const QRectF &shape) {
                   fillRounded(p, shape, radiusFor(shape, 8),
                               armed ? Theme::withAlpha(tint, 0.16)
                                     : Theme::withAlpha(Theme::green(), 0.06));
               });

    const double height = rect.height();
    const double top = rect.top() + 3.5; // the stack (label, 5, number row) is centred
    const double labelLength = std::max(0.0, height - 36);
    const QPointF labelCentre(rect.center().x(), top + (height - 30) / 2);

    p.save();
    p.translate(labelCentre);
    p.rotate(-90);
    p.setFont(m_sourceLabel);
    p.setPen(Theme::label());
    PaintedText::draw(p, QRectF(-labelLength / 2, -rect.width() / 2, labelLength, rect.width()),
                      Qt::AlignCenter, shownName(source.label));
    p.restore();

    // The number may use the column's share of the gaps beside it (the header is drawn with
    // that much margin), so four digits stay whole at the smallest cells.
    const double room = rect.width() + 4;
    const QRectF numberRow(rect.left(), top + (height - 30) + 5, rect.width(), 18);
    const QString number = QString::number(source.index + 1);
    const QFontMetricsF numberMetrics(m_sourceNumber);
    const double numberWidth = std::min(std::ceil(numberMetrics.horizontalAdvance(number)), room);
    // The signal dot follows the number, or sits just above it where the row has no room.
    const bool dotBeside = signal && numberWidth + 3 + 5 <= room;
    const double rowWidth = numberWidth + (dotBeside ? 3 + 5 : 0);
    const double x = numberRow.center().x() - rowWidth / 2;
    p.setFont(m_sourceNumber);
    p.setPen(armed ? tint : Theme::green());
    PaintedText::draw(p, QRectF(x, numberRow.top(), numberWidth + 1, numberRow.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, number);
    if (signal) {
        p.setPen(Qt::NoPen);
        p.setBrush(signal->present ? Theme::green() : Theme::quaternaryFill());
        p.drawEllipse(dotBeside ? QRectF(x + numberWidth + 3, numberRow.center().y() - 2.5, 5, 5)
                                : QRectF(numberRow.center().x() - 2.5, numberRow.top() - 5, 5, 5));
    }
}

void Painter::corner(QPainter &p, const QRectF &rect)
{
    headerBand(p, rect);
    p.fillRect(QRectF(rect.right() - 1, rect.top(), 1, rect.height()), Theme::separator());

    const QFontMetricsF metrics(m_cornerLabel);
    const QRectF inner = rect.adjusted(12, 12, -12, -12);
    const int iconSize = symbolPixels(9);
    const auto line = [&](double y, const QString &icon, const QString &text, QColor color) {
        const QPixmap pixmap = symbol(p, icon, iconSize, color);
        p.drawPixmap(QPointF(inner.left(), y + (metrics.height() - iconSize) / 2), pixmap);
        p.setFont(m_cornerLabel);
        p.setPen(color);
        const double textLeft = inner.left() + iconSize + 4;
        PaintedText::draw(
            p, QRectF(textLeft, y, std::max(0.0, inner.right() - textLeft), metrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter, text);
    };
    line(inner.top(), QStringLiteral("arrow.right"), QStringLiteral("SOURCES"), Theme::green());
    line(inner.bottom() - metrics.height(), QStringLiteral("arrow.down"),
         QStringLiteral("DESTINATIONS"), Theme::orange());
}

void Painter::headerBand(QPainter &p, const QRectF &rect)
{
    // Opaque: a plain fill is far cheaper than blending a band this size.
    p.fillRect(rect, Theme::windowBackground());
}

} // namespace Crosspoint

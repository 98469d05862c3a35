#include "Views/List/DestinationListView.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QAbstractButton>
#include <QAbstractListModel>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollBar>
#include <QStyleHints>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <cmath>
#include <functional>
#include <utility>

using Role = DestinationListView::RowRole;
using Badge = DestinationListView::RowBadge;

namespace DestinationList {

namespace {

// Row geometry, shared by the painting and the hit testing.
constexpr int kRowGap = 6; // between rows
constexpr int kListInset = 10; // around the rows
constexpr int kBadgeWidth = 30;
constexpr int kBadgeHeight = 26;

// The row's own rectangle inside the item rectangle the list view hands out.
QRect rowRect(const QRect &item)
{
    return item.adjusted(kListInset, kRowGap / 2, -kListInset, -kRowGap / 2);
}

QRect badgeRect(const QRect &item)
{
    const QRect row = rowRect(item);
    return { row.left() + 10, row.center().y() - kBadgeHeight / 2 + 1, kBadgeWidth, kBadgeHeight };
}

// One line, and no more of a huge label than a view can show.
QString oneLine(const QString &text)
{
    return shownName(text);
}

QLinearGradient tintGradient(const QRectF &rect, const QColor &tint)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, tint.lighter(118));
    gradient.setColorAt(1, tint);
    return gradient;
}

// A source's signal line: nothing without an entry, else what the router reports.
QString signalDetail(const RouterState &state, int index)
{
    const auto status = state.inputStatus.constFind(index);
    if (status == state.inputStatus.cend())
        return {};
    if (!status->present)
        return QStringLiteral("No signal");
    if (status->format)
        return *status->format;
    return QStringLiteral("Signal present");
}

bool isDestinationCurrent(const RouterController &controller, int index)
{
    // Membership of xyTargets without building the sorted list.
    const QSet<int> &gang = controller.selectedDestinations();
    return gang.isEmpty() ? controller.selectedDestination() == index : gang.contains(index);
}

} // namespace

// The rows of one pane, derived on every read from the controller; the model itself only
// remembers which ports it currently lists, so that views get proper row notifications.
class PortRowsModel final : public QAbstractListModel
{
public:
    PortRowsModel(RouterController &controller, PortKind kind, QObject *parent)
        : QAbstractListModel(parent)
        , m_controller(controller)
        , m_kind(kind)
    {
        m_indices = currentIndices();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_indices.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const QList<Port> &ports = visible();
        if (!index.isValid() || index.row() >= ports.size())
            return {};
        const Port &port = ports.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return port.label;
        case Qt::ToolTipRole:
            return port.label.size() > 24 ? port.label : QVariant();
        case Qt::AccessibleTextRole:
            return QStringLiteral("%1 %2").arg(port.index + 1).arg(port.label);
        case Role::PortIndexRole:
            return port.index;
        case Role::NumberRole:
            return port.index + 1;
        case Role::DetailRole:
            return m_kind == PortKind::source ? sourceDetail(port.index)
                                              : destinationDetail(port.index);
        case Role::CurrentRole:
            return m_kind == PortKind::source ? sourceCurrent(port.index)
                                              : destinationCurrent(port.index);
        case Role::PendingRole:
            return m_kind == PortKind::source ? sourcePending(port.index)
                                              : destinationPending(port.index);
        case Role::LockedRole:
            return m_kind == PortKind::destination && m_controller.state().isLocked(port.index);
        case Role::BadgeRole:
            return int(badge(port.index));
        default:
            return {};
        }
    }

    // Whether a badge tap toggles this port in the gang right now.
    bool badgeIsTappable(int row) const
    {
        return data(index(row), Role::BadgeRole).toInt() != int(Badge::none);
    }

    // The port list changed: a reset when other ports are listed, else a redraw of all.
    void portsChanged()
    {
        const QList<int> indices = currentIndices();
        if (indices == m_indices) {
            refreshAll();
            return;
        }
        beginResetModel();
        m_indices = indices;
        endResetModel();
    }

    void refreshAll()
    {
        if (!m_indices.isEmpty())
            emit dataChanged(index(0), index(int(m_indices.size()) - 1));
    }

    void refreshPort(int portIndex)
    {
        if (const std::optional<int> row = rowOfPort(portIndex))
            emit dataChanged(index(*row), index(*row));
    }

    // The row that lists a port, if any.
    std::optional<int> rowOfPort(int portIndex) const
    {
        // value_or, so that no branch ever reads the payload of an empty optional (the
        // optimiser may test both halves of `row && *row >= 0` at once).
        const int row = (m_kind == PortKind::source ? m_controller.visibleSourceRow(portIndex)
                                                    : m_controller.visibleDestinationRow(portIndex))
                            .value_or(-1);
        if (row >= 0 && row < m_indices.size())
            return row;
        return std::nullopt;
    }

private:
    const QList<Port> &visible() const
    {
        return m_kind == PortKind::source ? m_controller.visibleSources()
                                          : m_controller.visibleDestinations();
    }

    QList<int> currentIndices() const
    {
        QList<int> indices;
        indices.reserve(visible().size());
        for (const Port &port : visible())
            indices.append(port.index);
        return indices;
    }

    bool sourceLed() const
    {
        return m_controller.routingDirection() == RoutingDirection::sourceLed;
    }

    QVariant sourceDetail(int index) const
    {
        const QString detail = signalDetail(m_controller.state(), index);
        return detail.isNull() ? QVariant() : QVariant(detail);
    }

    bool sourceCurrent(int index) const
    {
        if (sourceLed())
            return m_controller.selectedSource() == index;
        const std::optional<int> destination = m_controller.selectedDestination();
        return destination
            && m_controller.state().source(*destination, m_controller.primaryLevel()) == index;
    }

    bool sourcePending(int index) const
    {
        return !sourceLed() && m_controller.takeMode() == TakeMode::confirm
            && m_controller.pendingSource() == index;
    }

    QVariant destinationDetail(int index) const
    {
        const RouterState &state = m_controller.state();
        const std::optional<int> routed = state.source(index, m_controller.primaryLevel());
        if (routed && *routed >= 0 && *routed < state.sources.size())
            return state.sources.at(*routed).label;
        return QStringLiteral("\u2014");
    }

    bool destinationCurrent(int index) const
    {
        if (!sourceLed())
            return isDestinationCurrent(m_controller, index);
        const std::optional<int> selected = m_controller.selectedSource();
        return selected
            && m_controller.state().source(index, m_controller.primaryLevel()) == *selected;
    }

    bool destinationPending(int index) const
    {
        if (m_controller.takeMode() != TakeMode::confirm)
            return false;
        return sourceLed() ? m_controller.pendingDestinations().contains(index)
                           : m_controller.pendingDestination() == index;
    }

    Badge badge(int index) const
    {
        if (m_kind != PortKind::destination || sourceLed() || !m_controller.multiSelectMode())
            return Badge::none;
        return destinationCurrent(index) ? Badge::remove : Badge::add;
    }

    RouterController &m_controller;
    const PortKind m_kind;
    QList<int> m_indices;
};

namespace {

// Eases the marks of rows in and out: hover over 0.12 s, focus and staging on the selection
// spring. A row is tracked by its port index once it has been drawn, so it keeps its marks
// while the list changes around it; rows never drawn cost nothing. Only rows that move are
// repainted. A panel change fades the whole list in on the same spring.
class RowAnimator
{
public:
    enum Channel { current, pending, hover, channelCount };

    // `rowRect` gives where a port's row is drawn now; an empty rectangle when it is not.
    RowAnimator(QWidget *viewport, std::function<QRect(int port)> rowRect)
    {
        QObject::connect(&m_transitions, &Motion::Transitions::frame, viewport,
                         [viewport, rowRect = std::move(rowRect)](quint64 key) {
                             if (key == appearKey) {
                                 viewport->update();
                                 return;
                             }
                             const QRect rect = rowRect(int(key / channelCount));
                             if (!rect.isEmpty())
                                 viewport->update(rect);
                         });
    }

    // How much of a channel a row shows now (0…1), given where it is heading.
    qreal value(int port, Channel channel, bool on)
    {
        static const Motion::Timing spring = Motion::Timing::of(Motion::standardSpring);
        static const Motion::Timing eased = Motion::Timing::easedOut(Motion::hoverDuration);
        const quint64 key = quint64(std::max(0, port)) * channelCount + channel;
        const double now = m_transitions.value(key, on ? 1 : 0, channel == hover ? eased : spring);
        return std::clamp(now, 0.0, 1.0);
    }

    // Fades every row in from nothing.
    void appear()
    {
        m_transitions.start(appearKey, 0, 1, Motion::Timing::of(Motion::standardSpring));
    }
    // How far the list has faded in (1 when at rest).
    qreal appearance() const { return std::clamp(m_transitions.current(appearKey, 1), 0.0, 1.0); }

private:
    static constexpr quint64 appearKey = ~quint64(0);

    Motion::Transitions m_transitions;
};

// Draws one row: number badge, title over detail, lock and check marks, fill and outline.
class RowDelegate final : public QStyledItemDelegate
{
public:
    RowDelegate(QColor tint, RowAnimator &animator, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_tint(tint)
        , m_animator(animator)
    { }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        // Every row is laid out as if it had a detail line, so rows share one height and
        // the list can skip measuring them.
        const int text
            = QFontMetrics(titleFont()).height() + 1 + QFontMetrics(detailFont()).height();
        return { 0, std::max(kBadgeHeight, text) + 16 + kRowGap };
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const int port = index.data(Role::PortIndexRole).toInt();
        const qreal current
            = m_animator.value(port, RowAnimator::current, index.data(Role::CurrentRole).toBool());
        const qreal pending
            = m_animator.value(port, RowAnimator::pending, index.data(Role::PendingRole).toBool());
        const qreal hovering
            = m_animator.value(port, RowAnimator::hover, option.state & QStyle::State_MouseOver);
        const bool locked = index.data(Role::LockedRole).toBool();
        const QVariant detail = index.data(Role::DetailRole);
        const auto badge = Badge(index.data(Role::BadgeRole).toInt());
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const qreal shown = m_animator.appearance();
        painter->setOpacity(shown);

        // Fill: staged over focused over hovered, each fading as the one above comes in.
        const QRectF row = QRectF(rowRect(option.rect)).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal marked = std::max(current, pending);
        painter->setPen(Qt::NoPen);
        if (hovering * (1 - marked) > 0.01) {
            painter->setBrush(
                Theme::withAlpha(Theme::quaternaryFill(), 0.6 * hovering * (1 - marked)));
            painter->drawRoundedRect(row, 11, 11);
        }
        const qreal tintAlpha = 0.18 * pending + 0.12 * current * (1 - pending);
        if (tintAlpha > 0.005) {
            painter->setBrush(Theme::withAlpha(m_tint, tintAlpha));
            painter->drawRoundedRect(row, 11, 11);
        }
        if (pending > 0.01) {
            painter->setPen(QPen(Theme::withAlpha(m_tint, pending), 2));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(row.adjusted(1, 1, -1, -1), 10, 10);
        }

        // Number badge.
        const QRectF badgeBox = badgeRect(option.rect);
        painter->setPen(Qt::NoPen);
        painter->setBrush(Theme::quaternaryFill());
        painter->setOpacity(shown * (1 - current));
        painter->drawRoundedRect(badgeBox, 7, 7);
        painter->setBrush(tintGradient(badgeBox, m_tint));
        painter->setOpacity(shown * current);
        painter->drawRoundedRect(badgeBox, 7, 7);
        painter->setOpacity(shown);
        painter->setFont(badgeFont());
        painter->setPen(Motion::blend(Theme::secondaryLabel(), Qt::white, current));
        painter->drawText(badgeBox, Qt::AlignCenter,
                          QString::number(index.data(Role::NumberRole).toInt()));
        if (badge != Badge::none) {
            const QRectF mark(badgeBox.right() - 8 + 5, badgeBox.top() - 5 - 1, 13, 13);
            painter->setPen(Qt::NoPen);
            painter->setBrush(Theme::windowBackground());
            painter->drawEllipse(mark);
            const bool in = badge == Badge::remove;
            drawSymbol(painter,
                       in ? QStringLiteral("checkmark.circle.fill")
                          : QStringLiteral("plus.circle.fill"),
                       mark.adjusted(1, 1, -1, -1), in ? m_tint : Theme::secondaryLabel(), dpr);
        }

        // Trailing marks, right to left.
        qreal right = row.right() - 10;
        const qreal mid = row.center().y();
        if (current > 0.01 && detail.isNull()) {
            const qreal size = 12;
            painter->setOpacity(shown * current);
            drawSymbol(painter, QStringLiteral("checkmark"),
                       QRectF(right - size, mid - size / 2, size, size), m_tint, dpr);
            painter->setOpacity(shown);
            right -= size + 6;
        }
        if (locked) {
            const qreal size = 11;
            drawSymbol(painter, QStringLiteral("lock.fill"),
                       QRectF(right - size, mid - size / 2, size, size), Theme::orange(), dpr);
            right -= size + 6;
        }

        // Title over detail.
        const qreal left = badgeBox.right() + 11;
        const qreal width = std::max<qreal>(0, right - 4 - left);
        const QFontMetrics titleMetrics(titleFont());
        const QFontMetrics detailMetrics(detailFont());
        const QString title = oneLine(index.data(Qt::DisplayRole).toString());
        const int block
            = titleMetrics.height() + (detail.isNull() ? 0 : 1 + detailMetrics.height());
        qreal top = mid - block / 2.0;
        painter->setFont(titleFont());
        painter->setPen(option.palette.color(QPalette::WindowText));
        painter->drawText(QRectF(left, top, width, titleMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          titleMetrics.elidedText(title, Qt::ElideRight, int(width)));
        if (!detail.isNull()) {
            top += titleMetrics.height() + 1;
            painter->setFont(detailFont());
            painter->setPen(Theme::secondaryLabel());
            painter->drawText(
                QRectF(left, top, width, detailMetrics.height()),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                detailMetrics.elidedText(oneLine(detail.toString()), Qt::ElideRight, int(width)));
        }
        painter->restore();
    }

private:
    static QFont titleFont() { return Theme::font(Theme::TextStyle::body, QFont::Medium); }
    static QFont detailFont() { return Theme::font(Theme::TextStyle::caption); }
    static QFont badgeFont()
    {
        QFont font = Theme::font(Theme::TextStyle::body, QFont::Bold);
        font.setPixelSize(12);
        return font;
    }

    // Symbols are rendered once per name, colour and size: a scrolling list repaints often.
    void drawSymbol(QPainter *painter, const QString &name, const QRectF &rect, const QColor &color,
                    qreal dpr) const
    {
        const int size = int(std::round(rect.width()));
        const QString key
            = QStringLiteral("%1|%2|%3|%4").arg(name).arg(color.rgba()).arg(size).arg(dpr);
        auto cached = m_symbols.constFind(key);
        if (cached == m_symbols.cend())
            cached = m_symbols.insert(key, Symbols::pixmap(name, size, color, dpr));
        painter->drawPixmap(rect.topLeft(), *cached);
    }

    QColor m_tint;
    RowAnimator &m_animator;
    mutable QHash<QString, QPixmap> m_symbols;
};

} // namespace

// The scrolling rows of a pane. Taps are reported by port index; the list selection and
// current index are not used, since selection lives in the controller.
class PortListView final : public QListView
{
public:
    struct Handlers
    {
        std::function<void(int port)> tap;
        std::function<void(int port)> doubleTap;
        std::function<void(int port)> badgeTap; // only where the model offers it
        std::function<void(QWidget *owner, int port, QPoint globalPos)> contextMenu;
    };

    PortListView(PortRowsModel *model, QColor tint, Handlers handlers, QWidget *parent)
        : QListView(parent)
        , m_model(model)
        , m_handlers(std::move(handlers))
    {
        setModel(model);
        setItemDelegate(new RowDelegate(tint, m_animator, this));
        setUniformItemSizes(true);
        setSelectionMode(NoSelection);
        setEditTriggers(NoEditTriggers);
        setVerticalScrollMode(ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::NoFrame);
        // Return belongs to the control bar's Take; the list is driven by the pointer.
        setFocusPolicy(Qt::NoFocus);
        setMouseTracking(true);
        viewport()->setAttribute(Qt::WA_Hover);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        setViewportMargins(0, kListInset - kRowGap / 2, 0, 0);
        // A slim indicator in place of the style's trough, as the cards are small.
        const QColor handle = Theme::withAlpha(Theme::label(), 0.22);
        verticalScrollBar()->setStyleSheet(
            QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px;"
                           " margin: 4px 2px 4px 0; }"
                           "QScrollBar::handle:vertical { background: %1; border-radius: 3px;"
                           " min-height: 28px; margin: 0 1px; }"
                           "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                           "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
                .arg(handle.name(QColor::HexArgb)));

        m_tapTimer.setSingleShot(true);
        QObject::connect(&m_tapTimer, &QTimer::timeout, this, [this] {
            if (m_pendingTap && m_handlers.tap)
                m_handlers.tap(*m_pendingTap);
            m_pendingTap.reset();
        });
    }

    void setBottomClearance(int clearance)
    {
        m_clearance = std::max(0, clearance);
        updateGeometries();
    }

    // Fades the rows in, as after a panel change.
    void appear()
    {
        if (isVisible())
            m_animator.appear();
    }

protected:
    void updateGeometries() override
    {
        QListView::updateGeometries();
        // Room below the last row, inside the scrolled content, so the floating control bar
        // can be scrolled clear of it.
        const int content = contentsSize().height() + kListInset - kRowGap / 2 + m_clearance;
        verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QListView::mousePressEvent(event);
            return;
        }
        m_pressed = hit(event->position().toPoint());
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        // Hover tracking only; a drag never selects.
        if (!(event->buttons() & Qt::LeftButton))
            QListView::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QListView::mouseReleaseEvent(event);
            return;
        }
        const Hit released = hit(event->position().toPoint());
        const Hit pressed = std::exchange(m_pressed, {});
        event->accept();
        if (!released.port || released.port != pressed.port)
            return;
        if (released.onBadge) {
            if (m_handlers.badgeTap)
                m_handlers.badgeTap(*released.port);
            return;
        }
        // A single tap waits for a possible second one, so a rename never routes first.
        m_pendingTap = released.port;
        m_tapTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QListView::mouseDoubleClickEvent(event);
            return;
        }
        event->accept();
        const Hit target = hit(event->position().toPoint());
        m_pressed = target;
        if (!target.port)
            return;
        if (target.onBadge) {
            // The badge has no double tap: the second press is a press like any other.
            return;
        }
        m_tapTimer.stop();
        m_pendingTap.reset();
        m_pressed = {};
        if (m_handlers.doubleTap)
            m_handlers.doubleTap(*target.port);
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        const Hit target = hit(event->pos());
        if (target.port && m_handlers.contextMenu)
            m_handlers.contextMenu(this, *target.port, event->globalPos());
        event->accept();
    }

private:
    struct Hit
    {
        std::optional<int> port;
        bool onBadge = false;
    };

    Hit hit(const QPoint &pos) const
    {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid())
            return {};
        const QRect item = visualRect(index);
        if (!rowRect(item).contains(pos))
            return {};
        Hit result;
        result.port = index.data(Role::PortIndexRole).toInt();
        result.onBadge = badgeRect(item).adjusted(-2, -6, 6, 2).contains(pos)
            && m_model->badgeIsTappable(index.row());
        return result;
    }

    PortRowsModel *m_model;
    RowAnimator m_animator { viewport(), [this](int port) {
                                const std::optional<int> row = m_model->rowOfPort(port);
                                return row ? visualRect(m_model->index(*row)) : QRect();
                            } };
    Handlers m_handlers;
    int m_clearance = GlassKit::defaultControlBarClearance;
    Hit m_pressed;
    std::optional<int> m_pendingTap;
    QTimer m_tapTimer;
};

struct HeaderAction
{
    QString label;
    QString symbol;
    std::function<void()> run;
};

namespace {

// A small bordered capsule button in the pane's tint: symbol and label, or the symbol alone.
class HeaderButton final : public QAbstractButton
{
public:
    HeaderButton(const HeaderAction &action, QColor tint, QWidget *parent)
        : QAbstractButton(parent)
        , m_symbol(action.symbol)
        , m_tint(tint)
    {
        setText(action.label);
        setAccessibleName(action.label);
        setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
    }

    void setSymbolOnly(bool symbolOnly)
    {
        if (symbolOnly == m_symbolOnly)
            return;
        m_symbolOnly = symbolOnly;
        setToolTip(symbolOnly ? text() : QString());
        updateGeometry();
        update();
    }

    QSize sizeFor(bool symbolOnly) const
    {
        const int height = 22;
        if (symbolOnly)
            return { 30, height };
        return { 10 + kSymbol + 5 + fontMetrics().horizontalAdvance(text()) + 11, height };
    }

    QSize sizeHint() const override { return sizeFor(m_symbolOnly); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        qreal alpha = 0.14;
        if (isDown())
            alpha = 0.3;
        else if (underMouse())
            alpha = 0.2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withAlpha(m_tint, alpha));
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);

        const QColor ink = m_tint.darker(112);
        const qreal dpr = devicePixelRatioF();
        const QPixmap symbol = Symbols::pixmap(m_symbol, kSymbol, ink, dpr);
        if (m_symbolOnly) {
            painter.drawPixmap(QPointF((width() - kSymbol) / 2.0, (height() - kSymbol) / 2.0),
                               symbol);
            return;
        }
        painter.drawPixmap(QPointF(10, (height() - kSymbol) / 2.0), symbol);
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRectF(10 + kSymbol + 5, 0, width() - (10 + kSymbol + 5), height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }

private:
    static constexpr int kSymbol = 12;
    QString m_symbol;
    QColor m_tint;
    bool m_symbolOnly = false;
};

// The pane's title row. Of its three forms (with count, without count, without title and
// with symbol-only buttons) it shows the first that fits its width.
class PaneHeader final : public QWidget
{
public:
    PaneHeader(const QString &title, QColor tint, bool subtitleIsPriority, QWidget *parent)
        : QWidget(parent)
        , m_tint(tint)
        , m_subtitleIsPriority(subtitleIsPriority)
    {
        m_title = plainLabel(title, this);
        m_title->setObjectName(QStringLiteral("title"));
        Theme::apply(m_title, Theme::TextStyle::headline);
        m_subtitle = new ElidedLabel(QString(), this);
        m_subtitle->setObjectName(QStringLiteral("subtitle"));
        Theme::applySecondary(m_subtitle, Theme::TextStyle::subheadline);
        m_subtitle->hide();
        m_count = plainLabel(QStringLiteral("0"), this);
        m_count->setObjectName(QStringLiteral("count"));
        m_count->setAlignment(Qt::AlignCenter);
        Theme::applySecondary(m_count, Theme::TextStyle::caption, QFont::DemiBold);
        m_count->setFont(Theme::monospacedDigits(m_count->font()));
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    void setSubtitle(const std::optional<QString> &subtitle)
    {
        const bool changed = subtitle.has_value() != m_subtitle->isVisibleTo(this)
            || subtitle.value_or(QString()) != m_subtitle->text();
        if (!changed)
            return;
        m_subtitle->setText(subtitle.value_or(QString()));
        m_subtitle->setVisible(subtitle.has_value());
        relayout();
    }

    void setCount(int count)
    {
        const QString text = QString::number(count);
        if (text == m_count->text())
            return;
        m_count->setText(text);
        relayout();
    }

    // Replaces the buttons only when their labels change, so a button is never rebuilt
    // under the pointer for nothing; the actions themselves are always refreshed.
    void setActions(const QList<HeaderAction> &actions)
    {
        QStringList labels;
        for (const HeaderAction &action : actions)
            labels.append(action.label);
        m_actions = actions;
        if (labels == m_labels)
            return;
        m_labels = labels;
        for (HeaderButton *button : std::as_const(m_buttons)) {
            // The button may be the one whose click got us here.
            button->hide();
            button->deleteLater();
        }
        m_buttons.clear();
        for (int i = 0; i < actions.size(); ++i) {
            auto *button = new HeaderButton(actions.at(i), m_tint, this);
            QObject::connect(button, &QAbstractButton::clicked, this, [this, i] {
                if (i >= m_actions.size() || !m_actions.at(i).run)
                    return;
                // Run a copy: the action can change the controller so that the headers are
                // refreshed, which replaces m_actions (and the function) while it runs.
                const std::function<void()> run = m_actions.at(i).run;
                run();
            });
            button->show();
            m_buttons.append(button);
        }
        relayout();
    }

    QSize sizeHint() const override { return { widthNeeded(Form::full), heightNeeded() }; }
    QSize minimumSizeHint() const override { return { 0, heightNeeded() }; }

protected:
    void resizeEvent(QResizeEvent *) override { relayout(); }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF dot(kSide, (height() - 9) / 2.0, 9, 9);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tintGradient(dot, m_tint));
        painter.drawEllipse(dot);
        if (m_count->isVisibleTo(this)) {
            const QRectF capsule = QRectF(m_count->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.setBrush(Theme::quaternaryFill());
            painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        }
    }

private:
    enum class Form { full, withoutCount, compact };
    static constexpr int kSide = 16;
    static constexpr int kSpacing = 8;

    int heightNeeded() const
    {
        int content = std::max({ m_title->sizeHint().height(), m_subtitle->sizeHint().height(),
                                 countSize().height(), 22 });
        return 12 + content + 12;
    }

    QSize countSize() const
    {
        const QFontMetrics metrics(m_count->font());
        return { metrics.horizontalAdvance(m_count->text()) + 16, metrics.height() + 6 };
    }

    bool subtitleShown() const { return m_subtitle->isVisibleTo(this); }
    // A little over the advance, so that a fitting subtitle is never elided by rounding.
    int subtitleFullWidth() const { return m_subtitle->sizeHint().width() + 2; }

    // The subtitle's share: its whole text, or when it may truncate just enough to read.
    int subtitleWidth(Form form) const
    {
        const int full = subtitleFullWidth();
        if (m_subtitleIsPriority || form == Form::compact)
            return full;
        return std::min(full, 60);
    }

    int widthNeeded(Form form) const
    {
        int width = kSide + 9;
        if (form != Form::compact)
            width += kSpacing + m_title->sizeHint().width();
        if (subtitleShown())
            width += kSpacing + subtitleWidth(form);
        width += kSpacing + 4 + kSpacing; // around the flexible space
        for (const HeaderButton *button : m_buttons)
            width += button->sizeFor(form == Form::compact).width() + kSpacing;
        if (form == Form::full)
            width += countSize().width() + kSpacing;
        return width - kSpacing + kSide;
    }

    void relayout()
    {
        Form form = Form::compact;
        for (Form candidate : { Form::full, Form::withoutCount }) {
            if (widthNeeded(candidate) <= width()) {
                form = candidate;
                break;
            }
        }
        const int mid = height() / 2;
        const auto place = [mid](QWidget *widget, int x, QSize size) {
            widget->setGeometry(x, mid - size.height() / 2, size.width(), size.height());
        };

        // Right to left: count, buttons; then left to right: title, subtitle.
        int right = width() - kSide;
        m_count->setVisible(form == Form::full);
        if (form == Form::full) {
            const QSize size = countSize();
            right -= size.width();
            place(m_count, right, size);
            right -= kSpacing;
        }
        for (auto it = m_buttons.crbegin(); it != m_buttons.crend(); ++it) {
            (*it)->setSymbolOnly(form == Form::compact);
            const QSize size = (*it)->sizeHint();
            right -= size.width();
            place(*it, right, size);
            right -= kSpacing;
        }
        right -= 4 + kSpacing; // the flexible space keeps at least 4

        int left = kSide + 9 + kSpacing;
        m_title->setVisible(form != Form::compact);
        if (form != Form::compact) {
            const QSize size = m_title->sizeHint();
            place(m_title, left, size);
            left += size.width() + kSpacing;
        }
        if (subtitleShown()) {
            const QSize hint = m_subtitle->sizeHint();
            place(m_subtitle, left,
                  { std::max(0, std::min(subtitleFullWidth(), right - left)), hint.height() });
        }
        updateGeometry();
        update();
    }

    QColor m_tint;
    bool m_subtitleIsPriority;
    QLabel *m_title = nullptr;
    ElidedLabel *m_subtitle = nullptr;
    QLabel *m_count = nullptr;
    QList<HeaderButton *> m_buttons;
    QStringList m_labels;
    QList<HeaderAction> m_actions;
};

// The 1-point line under a pane's header.
class Divider final : public QWidget
{
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        // The theme's separator is already a light one; used as it is it reads as a hairline.
        QPainter(this).fillRect(rect(), Theme::separator());
    }
};

} // namespace

// A titled, scrolling card of rows over one side of the router.
class Pane final : public QWidget
{
public:
    Pane(RouterController &controller, PortKind kind, const QString &title, QColor tint,
         bool subtitleIsPriority, PortListView::Handlers handlers, QWidget *parent)
        : QWidget(parent)
        , m_model(new PortRowsModel(controller, kind, this))
    {
        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(1, 1, 1, 1);
        column->setSpacing(0);
        m_header = new PaneHeader(title, tint, subtitleIsPriority, this);
        column->addWidget(m_header);
        column->addWidget(new Divider(this));
        m_list = new PortListView(m_model, tint, std::move(handlers), this);
        m_list->setObjectName(kind == PortKind::source ? QStringLiteral("sources")
                                                       : QStringLiteral("destinations"));
        column->addWidget(m_list, 1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    PortRowsModel &model() { return *m_model; }
    PaneHeader &header() { return *m_header; }
    void setClearance(int clearance) { m_list->setBottomClearance(clearance); }
    void appear() { m_list->appear(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(card, 18, 18);
        painter.fillPath(shape, Theme::withAlpha(Theme::controlBackground(), 0.72));
        painter.setPen(QPen(Theme::separator(), 1));
        painter.drawPath(shape);
    }

private:
    PortRowsModel *m_model;
    PaneHeader *m_header = nullptr;
    PortListView *m_list = nullptr;
};

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
            return QStringLiteral("Sending ") + state.sources.at(*source).label;
        return QStringLiteral("Select a source");
    }
    const QList<int> targets = controller.xyTargets();
    if (targets.size() > 1)
        return QStringLiteral("\u2192 %1 destinations").arg(targets.size());
    if (targets.size() == 1) {
        if (const auto target = inRange(targets.first(), state.destinations.size()))
            return QStringLiteral("\u2192 ") + state.destinations.at(*target).label;
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

    PortListView::Handlers sourceHandlers;
    sourceHandlers.tap = [this, sourceLed](int index) {
        if (sourceLed())
            m_controller.focusSource(index);
        else
            m_controller.chooseSource(index);
    };
    sourceHandlers.doubleTap = [this](int index) {
        m_controller.beginRename(PortKind::source, index);
    };
    PortListView::Handlers destinationHandlers;
    destinationHandlers.tap = [this, sourceLed](int index) {
        if (sourceLed())
            m_controller.assignDestination(index);
        else
            m_controller.focusDestination(index);
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

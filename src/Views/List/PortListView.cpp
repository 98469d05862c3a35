#include "Views/List/PortListView.h"

#include "Theme/Theme.h"
#include "Views/List/ListMetrics.h"
#include "Views/List/RowDelegate.h"

#include <QAccessibleActionInterface>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyleHints>

#include <utility>

namespace DestinationList {

namespace {

// Hands every event of the application to a function before its receiver sees it.
class InputWatch final : public QObject
{
public:
    InputWatch(std::function<bool(QObject *, QEvent *)> watch, QObject *parent)
        : QObject(parent)
        , m_watch(std::move(watch))
    { }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override { return m_watch(receiver, event); }

private:
    std::function<bool(QObject *, QEvent *)> m_watch;
};

} // namespace

PortListView::PortListView(PortRowsModel *model, QColor tint, Handlers handlers, QWidget *parent)
    : QListView(parent)
    , m_model(model)
    , m_handlers(std::move(handlers))
{
    AccessibleRows::install();
    setModel(model);
    setItemDelegate(new RowDelegate(*model, tint, m_animator, this));
    setUniformItemSizes(true);
    setSelectionMode(NoSelection);
    setEditTriggers(NoEditTriggers);
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // updateGeometries() decides
    setFrameShape(QFrame::NoFrame);
    // A click or Tab brings the keyboard here, so arrows move among these rows and never
    // reach the router list. Space taps the current row; Return stays the control bar's Take.
    setFocusPolicy(Qt::StrongFocus);
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
    QObject::connect(&m_tapTimer, &QTimer::timeout, this, [this] { runPendingTap(); });
    m_inputWatch = new InputWatch(
        [this](QObject *receiver, QEvent *event) { return inputArrives(receiver, event); }, this);
}

PortListView::~PortListView()
{
    qApp->removeEventFilter(m_inputWatch);
}

void PortListView::tapNow(int port)
{
    runPendingTap();
    if (m_handlers.tap) {
        if (const TapWork work = m_handlers.tap(port))
            work();
    }
}

void PortListView::runPendingTap()
{
    m_tapTimer.stop();
    qApp->removeEventFilter(m_inputWatch);
    if (const std::optional<PendingTap> pending = std::exchange(m_pendingTap, std::nullopt)) {
        if (pending->work)
            pending->work();
    }
}

// A waiting tap runs before any other input is handled: a tap on another row, a key (a
// panel shortcut, a picker) or a click elsewhere all come after it, so none can change what
// it does or drop it. Only a press on the same row may still be the second half of a double tap.
bool PortListView::inputArrives(QObject *receiver, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        if (receiver == viewport() && m_pendingTap) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            const Hit target = hit(mouse->position().toPoint());
            if (mouse->button() == Qt::LeftButton && target.port == m_pendingTap->port
                && !target.onBadge)
                return false;
        }
        runPendingTap();
        return false;
    }
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::TouchBegin:
        runPendingTap();
        return false;
    default:
        return false;
    }
}

void PortListView::setBottomClearance(int clearance)
{
    m_clearance = std::max(0, clearance);
    updateGeometries();
}

void PortListView::appear()
{
    if (isVisible())
        m_animator.appear();
}

void PortListView::updateGeometries()
{
    QListView::updateGeometries();
    // Room below the last row, inside the scrolled content, so the floating control bar
    // can be scrolled clear of it.
    const int content = contentsSize().height() + kListInset - kRowGap / 2 + m_clearance;
    const int range = std::max(0, content - viewport()->height());
    // The base class has just set a range without the clearance. Left to show itself as
    // needed, the scroll bar would follow that range and then this one, and each change of
    // the viewport's width would start over: rows that fit only without the clearance kept
    // it appearing and disappearing for ever. So the bar is shown by this range alone; the
    // viewport's height, and so the range, does not depend on it.
    const Qt::ScrollBarPolicy policy = range > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (verticalScrollBarPolicy() != policy)
        setVerticalScrollBarPolicy(policy);
    verticalScrollBar()->setRange(0, range);
    verticalScrollBar()->setPageStep(viewport()->height());
}

void PortListView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QListView::mousePressEvent(event);
        return;
    }
    m_pressed = hit(event->position().toPoint());
    event->accept();
}

void PortListView::mouseMoveEvent(QMouseEvent *event)
{
    // Hover tracking only; a drag never selects.
    if (!(event->buttons() & Qt::LeftButton))
        QListView::mouseMoveEvent(event);
}

void PortListView::mouseReleaseEvent(QMouseEvent *event)
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
    // The keyboard carries on from the row that was clicked.
    selectionModel()->setCurrentIndex(indexAt(event->position().toPoint()),
                                      QItemSelectionModel::NoUpdate);
    // A second tap on the same row that did not make a double tap is a tap of its own.
    runPendingTap();
    if (released.onBadge) {
        m_lastTapPort.reset();
        if (m_handlers.badgeTap)
            m_handlers.badgeTap(*released.port);
        return;
    }
    // A single tap waits for a possible second one, so a rename never routes first.
    m_lastTapPort = released.port;
    if (!m_handlers.tap)
        return;
    m_pendingTap = PendingTap { *released.port, m_handlers.tap(*released.port) };
    qApp->installEventFilter(m_inputWatch);
    m_tapTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

void PortListView::mouseDoubleClickEvent(QMouseEvent *event)
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
    // The badge has no double tap, and a second press on another row is that row's first
    // tap: either way the press is a press like any other.
    if (target.onBadge || target.port != std::exchange(m_lastTapPort, std::nullopt))
        return;
    m_tapTimer.stop();
    qApp->removeEventFilter(m_inputWatch);
    m_pendingTap.reset();
    m_pressed = {};
    if (m_handlers.doubleTap)
        m_handlers.doubleTap(*target.port);
}

void PortListView::keyPressEvent(QKeyEvent *event)
{
    const QModelIndex current = currentIndex();
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier
        && current.isValid()) {
        tapNow(current.data(Role::PortIndexRole).toInt());
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void PortListView::contextMenuEvent(QContextMenuEvent *event)
{
    // From the keyboard, the menu is the current row's.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QModelIndex current = currentIndex();
        if (current.isValid() && m_handlers.contextMenu) {
            const QRect row = rowRect(visualRect(current));
            m_handlers.contextMenu(this, current.data(Role::PortIndexRole).toInt(),
                                   viewport()->mapToGlobal(row.center()));
        }
        event->accept();
        return;
    }
    const Hit target = hit(event->pos());
    if (target.port && m_handlers.contextMenu)
        m_handlers.contextMenu(this, *target.port, event->globalPos());
    event->accept();
}

const QString PortListView::renameAction = QStringLiteral("Rename");

QStringList PortListView::rowActions(const QModelIndex &) const
{
    QStringList actions { QAccessibleActionInterface::pressAction(), renameAction };
    if (m_handlers.contextMenu)
        actions.append(QAccessibleActionInterface::showMenuAction());
    return actions;
}

void PortListView::doRowAction(const QModelIndex &row, const QString &action)
{
    const int port = row.data(Role::PortIndexRole).toInt();
    if (action == QAccessibleActionInterface::pressAction()) {
        tapNow(port);
    } else if (action == renameAction && m_handlers.doubleTap) {
        m_handlers.doubleTap(port);
    } else if (action == QAccessibleActionInterface::showMenuAction() && m_handlers.contextMenu) {
        const QRect item = rowRect(visualRect(row));
        m_handlers.contextMenu(this, port, viewport()->mapToGlobal(item.center()));
    }
}

QAccessible::State PortListView::rowState(const QModelIndex &row) const
{
    QAccessible::State state;
    state.selectable = true;
    state.selected = row.data(Role::CurrentRole).toBool();
    return state;
}

std::optional<AccessibleRows::Part> PortListView::rowPart(const QModelIndex &row) const
{
    if (!m_model->badgeIsTappable(row.row()))
        return std::nullopt;
    return Part { QStringLiteral("Toggle %1 in selection").arg(row.data().toString()),
                  QAccessible::CheckBox, row.data(Role::BadgeRole).toInt() == int(Badge::remove),
                  badgeRect(visualRect(row), badgeWidth(m_model->widestNumber())) };
}

void PortListView::pressRowPart(const QModelIndex &row)
{
    if (m_handlers.badgeTap && m_model->badgeIsTappable(row.row()))
        m_handlers.badgeTap(row.data(Role::PortIndexRole).toInt());
}

PortListView::Hit PortListView::hit(const QPoint &pos) const
{
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return {};
    const QRect item = visualRect(index);
    if (!rowRect(item).contains(pos))
        return {};
    Hit result;
    result.port = index.data(Role::PortIndexRole).toInt();
    result.onBadge
        = badgeRect(item, badgeWidth(m_model->widestNumber())).adjusted(-2, -6, 6, 2).contains(pos)
        && m_model->badgeIsTappable(index.row());
    return result;
}

} // namespace DestinationList

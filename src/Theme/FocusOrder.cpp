#include "Theme/FocusOrder.h"

#include <QBoxLayout>
#include <QChildEvent>
#include <QLayout>
#include <QPointer>
#include <QSet>
#include <QSplitter>
#include <QTimer>
#include <QWidget>

namespace FocusOrder {

namespace {

bool reachable(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
}

void addLaidOut(QLayout *layout, QList<QWidget *> &ordered)
{
    bool reversed = false;
    if (const auto *box = qobject_cast<QBoxLayout *>(layout)) {
        reversed = box->direction() == QBoxLayout::RightToLeft
            || box->direction() == QBoxLayout::BottomToTop;
    }
    const int count = layout->count();
    for (int i = 0; i < count; ++i) {
        QLayoutItem *item = layout->itemAt(reversed ? count - 1 - i : i);
        if (!item)
            continue;
        if (QWidget *widget = item->widget())
            ordered.append(widget);
        else if (QLayout *inner = item->layout())
            addLaidOut(inner, ordered);
    }
}

// The direct child widgets of `parent`: those its layout (or splitter) places, in that order,
// then the others in stacking order.
QList<QWidget *> childrenInOrder(QWidget *parent)
{
    QList<QWidget *> ordered;
    if (auto *splitter = qobject_cast<QSplitter *>(parent)) {
        for (int i = 0; i < splitter->count(); ++i)
            ordered.append(splitter->widget(i));
    } else if (QLayout *layout = parent->layout()) {
        addLaidOut(layout, ordered);
    }
    QSet<QWidget *> placed(ordered.cbegin(), ordered.cend());
    for (QObject *object : parent->children()) {
        auto *widget = qobject_cast<QWidget *>(object);
        if (widget && !placed.contains(widget))
            ordered.append(widget);
    }
    return ordered;
}

void visit(QWidget *widget, QList<QWidget *> &out)
{
    if (reachable(widget))
        out.append(widget);
    for (QWidget *child : childrenInOrder(widget)) {
        if (child->parentWidget() == widget && !child->isWindow())
            visit(child, out);
    }
}

bool alreadyChained(const QList<QWidget *> &order)
{
    const QSet<QWidget *> members(order.cbegin(), order.cend());
    qsizetype next = 1;
    for (QWidget *w = order.first()->nextInFocusChain(); w && w != order.first();
         w = w->nextInFocusChain()) {
        if (!members.contains(w))
            continue;
        if (next >= order.size() || order.at(next) != w)
            return false;
        ++next;
    }
    return next == order.size();
}

// Watches every widget under the root for new children and reapplies the order once per
// event-loop turn after any arrived.
class Keeper final : public QObject
{
public:
    explicit Keeper(QWidget *root)
        : QObject(root)
        , m_root(root)
    {
        setObjectName(QStringLiteral("focusOrderKeeper"));
        watch(root);
    }

    void schedule()
    {
        if (m_queued)
            return;
        m_queued = true;
        QTimer::singleShot(0, this, [this] {
            m_queued = false;
            if (m_root)
                apply(m_root);
        });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) {
            QObject *child = static_cast<QChildEvent *>(event)->child();
            if (child && child->isWidgetType() && !static_cast<QWidget *>(child)->isWindow()) {
                watch(static_cast<QWidget *>(child));
                schedule();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void watch(QWidget *widget)
    {
        widget->installEventFilter(this);
        for (QObject *object : widget->children()) {
            if (object->isWidgetType() && !static_cast<QWidget *>(object)->isWindow())
                watch(static_cast<QWidget *>(object));
        }
    }

    QPointer<QWidget> m_root;
    bool m_queued = false;
};

Keeper *keeperOf(QWidget *root)
{
    return static_cast<Keeper *>(
        root->findChild<QObject *>(QStringLiteral("focusOrderKeeper"), Qt::FindDirectChildrenOnly));
}

} // namespace

QList<QWidget *> readingOrder(QWidget *root)
{
    QList<QWidget *> order;
    if (root)
        visit(root, order);
    return order;
}

void apply(QWidget *root)
{
    const QList<QWidget *> order = readingOrder(root);
    if (order.size() < 2 || alreadyChained(order))
        return;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

void keep(QWidget *root)
{
    if (!root || keeperOf(root))
        return;
    apply(root);
    new Keeper(root);
}

void refresh(QWidget *widget)
{
    for (QWidget *w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (Keeper *keeper = keeperOf(w)) {
            keeper->schedule();
            return;
        }
    }
    apply(widget);
}

} // namespace FocusOrder

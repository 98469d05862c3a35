#include "Theme/AccessibleRows.h"

#include <QAbstractItemView>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHash>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWindow>

namespace {

// Whether the eye can see any of `inViewport`: not while the view or a parent of it is hidden,
// nor where the view's viewport or a scroll area around the view cuts it off.
bool seen(const QAbstractItemView *view, const QRect &inViewport)
{
    return view->isVisible() && view->viewport()->visibleRegion().intersects(inViewport);
}

// The extents of what the eye sees; none for what it does not.
QRect onScreen(const QAbstractItemView *view, const QRect &inViewport)
{
    if (inViewport.isEmpty() || !view->isVisible())
        return {};
    return { view->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size() };
}

// The row the keyboard is on is focused while the view itself has the keyboard; while an
// editor of the view has it, the editor is what is focused.
bool hasFocusWithin(const QAbstractItemView *view)
{
    const QWidget *focus = QApplication::focusWidget();
    return focus && (focus == view || view->isAncestorOf(focus));
}

// The interfaces below are owned by Qt's accessibility cache once registered; each holds the
// view by a guarded pointer and reads everything from it when asked.
class LeafElement : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override { return nullptr; }
    void setText(QAccessible::Text, const QString &) override { }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface
            ? static_cast<QAccessibleActionInterface *>(this)
            : nullptr;
    }

protected:
    LeafElement(QAbstractItemView *view, const QModelIndex &index)
        : m_view(view)
        , m_index(index)
    { }

    bool rowIsValid() const
    {
        return m_view && m_index.isValid() && m_index.model() == m_view->model();
    }
    AccessibleRows *rows() const { return dynamic_cast<AccessibleRows *>(m_view.data()); }

    QPointer<QAbstractItemView> m_view;
    QPersistentModelIndex m_index;
};

class PartElement final : public LeafElement
{
public:
    PartElement(QAbstractItemView *view, const QModelIndex &index, QAccessibleInterface *row)
        : LeafElement(view, index)
        , m_row(row)
    { }

    bool isValid() const override { return rowIsValid() && part().has_value(); }
    QAccessibleInterface *parent() const override { return m_row; }
    int childCount() const override { return 0; }
    QAccessible::Role role() const override
    {
        const std::optional<AccessibleRows::Part> p = part();
        return p ? p->role : QAccessible::Button;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const std::optional<AccessibleRows::Part> p = part();
        if (!p) {
            state.invalid = true;
            return state;
        }
        if (p->role == QAccessible::CheckBox) {
            state.checkable = true;
            state.checked = p->checked;
        }
        state.invisible = !m_view->isVisible();
        state.offscreen = !seen(m_view, p->rect);
        return state;
    }
    QString text(QAccessible::Text t) const override
    {
        const std::optional<AccessibleRows::Part> p = part();
        return p && t == QAccessible::Name ? p->name : QString();
    }
    QRect rect() const override
    {
        const std::optional<AccessibleRows::Part> p = part();
        return p ? onScreen(m_view, p->rect) : QRect();
    }
    QStringList actionNames() const override
    {
        if (role() == QAccessible::CheckBox)
            return { pressAction(), toggleAction() };
        return { pressAction() };
    }
    void doAction(const QString &name) override
    {
        if (isValid() && (name == pressAction() || name == toggleAction()))
            rows()->pressRowPart(m_index);
    }

private:
    std::optional<AccessibleRows::Part> part() const
    {
        if (!rowIsValid())
            return std::nullopt;
        return rows()->rowPart(m_index);
    }

    QAccessibleInterface *m_row;
};

class RowElement final : public LeafElement
{
public:
    RowElement(QAbstractItemView *view, const QModelIndex &index)
        : LeafElement(view, index)
    { }
    ~RowElement() override
    {
        if (m_part)
            QAccessible::deleteAccessibleInterface(m_part);
    }

    const QPersistentModelIndex &index() const { return m_index; }

    bool isValid() const override { return rowIsValid(); }
    QAccessibleInterface *parent() const override
    {
        return m_view ? QAccessible::queryAccessibleInterface(m_view) : nullptr;
    }
    int childCount() const override { return isValid() && rows()->rowPart(m_index) ? 1 : 0; }
    QAccessibleInterface *child(int index) const override
    {
        if (index != 0 || childCount() == 0)
            return nullptr;
        if (!m_part)
            m_part = QAccessible::registerAccessibleInterface(
                new PartElement(m_view, m_index, const_cast<RowElement *>(this)));
        return QAccessible::accessibleInterface(m_part);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return m_part && child == QAccessible::accessibleInterface(m_part) && childCount() ? 0 : -1;
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        if (!isValid()) {
            QAccessible::State state;
            state.invalid = true;
            return state;
        }
        QAccessible::State state = rows()->rowState(m_index);
        state.focusable = m_view->focusPolicy() != Qt::NoFocus;
        state.focused = m_view->hasFocus() && m_view->currentIndex() == m_index;
        state.invisible = !m_view->isVisible();
        state.offscreen = !seen(m_view, m_view->visualRect(m_index));
        return state;
    }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        switch (t) {
        case QAccessible::Name: {
            const QString name = m_index.data(Qt::AccessibleTextRole).toString();
            return name.isEmpty() ? m_index.data(Qt::DisplayRole).toString() : name;
        }
        case QAccessible::Description:
            return m_index.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }
    QRect rect() const override
    {
        return isValid() ? onScreen(m_view, m_view->visualRect(m_index)) : QRect();
    }
    QStringList actionNames() const override
    {
        return isValid() ? rows()->rowActions(m_index) : QStringList();
    }
    void doAction(const QString &name) override
    {
        if (isValid() && actionNames().contains(name))
            rows()->doRowAction(m_index, name);
    }

private:
    mutable QAccessible::Id m_part = 0;
};

class ListElement final : public QAccessibleWidget
{
public:
    explicit ListElement(QAbstractItemView *view)
        : QAccessibleWidget(view, QAccessible::List)
    { }
    ~ListElement() override
    {
        for (const QAccessible::Id id : std::as_const(m_rows))
            QAccessible::deleteAccessibleInterface(id);
    }

    QAbstractItemView *view() const { return static_cast<QAbstractItemView *>(widget()); }

    int childCount() const override
    {
        const QAbstractItemModel *model = view()->model();
        return model ? model->rowCount(view()->rootIndex()) : 0;
    }
    QAccessibleInterface *child(int row) const override
    {
        if (row < 0 || row >= childCount())
            return nullptr;
        const QModelIndex index = view()->model()->index(row, 0, view()->rootIndex());
        if (const auto found = m_rows.constFind(row); found != m_rows.cend()) {
            auto *element = static_cast<RowElement *>(QAccessible::accessibleInterface(*found));
            if (element && element->index() == index)
                return element;
            QAccessible::deleteAccessibleInterface(*found);
            m_rows.remove(row);
        }
        if (m_rows.size() > 1024)
            dropStale();
        auto *element = new RowElement(view(), index);
        m_rows.insert(row, QAccessible::registerAccessibleInterface(element));
        return element;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *element = dynamic_cast<const RowElement *>(child);
        if (!element || !element->isValid())
            return -1;
        const int row = element->index().row();
        const auto found = m_rows.constFind(row);
        return found != m_rows.cend() && QAccessible::accessibleInterface(*found) == child ? row
                                                                                           : -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        if (current.isValid() && view()->hasFocus())
            return child(current.row());
        return hasFocusWithin(view())
            ? QAccessible::queryAccessibleInterface(QApplication::focusWidget())
            : nullptr;
    }

private:
    // Rows that moved or went with a model reset.
    void dropStale() const
    {
        for (auto it = m_rows.begin(); it != m_rows.end();) {
            auto *element = static_cast<RowElement *>(QAccessible::accessibleInterface(*it));
            if (element && element->isValid() && element->index().row() == it.key()) {
                ++it;
                continue;
            }
            QAccessible::deleteAccessibleInterface(*it);
            it = m_rows.erase(it);
        }
    }

    mutable QHash<int, QAccessible::Id> m_rows;
};

QAccessibleInterface *rowsAccessible(const QString &, QObject *object)
{
    auto *view = qobject_cast<QAbstractItemView *>(object);
    if (view && dynamic_cast<AccessibleRows *>(view))
        return new ListElement(view);
    return nullptr;
}

} // namespace

void AccessibleRows::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(rowsAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

// What screen readers see of the drawn matrix: the matrix itself, one element per source and
// destination header and, in the per-cell form, one per crosspoint. Elements are made only
// when a screen reader asks for them and are named by their ports, not their positions, so a
// router of 1024 × 1024 ports costs nothing until it is read.
#include "Controllers/RouterController.h"
#include "Views/Matrix/CrosspointCells.h"
#include "Views/Matrix/CrosspointMatrixView.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QWindow>

namespace Crosspoint {

namespace {

const QString routeAction = QStringLiteral("Route to Selected Destination");
const QString renameAction = QStringLiteral("Rename");

// One header or crosspoint of a matrix.
struct Element
{
    enum Kind : quint8 { sourceHeader, destinationHeader, crosspoint };
    Kind kind = sourceHeader;
    int source = -1; // port indices, not positions
    int destination = -1;

    quint64 key() const
    {
        return quint64(kind) << 62 | quint64(quint32(source) & 0x7fffffff) << 31
            | (quint32(destination) & 0x7fffffff);
    }
};

class ElementAccessible final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    ElementAccessible(CrosspointMatrixView *view, Element element)
        : m_view(view)
        , m_element(element)
    { }

    bool isValid() const override { return m_view && position().has_value(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }

    QAccessibleInterface *parent() const override
    {
        return m_view ? QAccessible::queryAccessibleInterface(m_view) : nullptr;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *focusChild() const override { return nullptr; }

    QAccessible::Role role() const override
    {
        switch (m_element.kind) {
        case Element::sourceHeader:
            return QAccessible::ColumnHeader;
        case Element::destinationHeader:
            return QAccessible::RowHeader;
        case Element::crosspoint:
            break;
        }
        return QAccessible::Cell;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const QRect shown = m_view->viewport()->rect();
        state.offscreen = !shown.intersects(viewportRect());
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        const RouterController &controller = m_view->controller();
        const std::optional<QPoint> at = position();
        switch (t) {
        case QAccessible::Name:
            if (m_element.kind == Element::sourceHeader)
                return source(*at).label;
            if (m_element.kind == Element::destinationHeader)
                return destination(*at).label;
            return destination(*at).label + QStringLiteral(" from ") + source(*at).label;
        case QAccessible::Value:
            if (m_element.kind == Element::crosspoint) {
                const bool connected
                    = crosspointState(controller, m_element.source, m_element.destination)
                          .connected;
                return connected ? QStringLiteral("Connected") : QStringLiteral("Not connected");
            }
            if (m_element.kind == Element::sourceHeader
                && controller.state().inputStatus.contains(m_element.source))
                return m_view->signalHelp(source(*at));
            return {};
        case QAccessible::Help:
            if (m_element.kind == Element::sourceHeader)
                return m_view->signalHelp(source(*at));
            if (m_element.kind == Element::destinationHeader)
                return QStringLiteral("Double-click to rename");
            return {};
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString &) override { }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect local = viewportRect();
        return QRect(m_view->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface
            ? static_cast<QAccessibleActionInterface *>(this)
            : nullptr;
    }

    QStringList actionNames() const override
    {
        switch (m_element.kind) {
        case Element::sourceHeader:
            return { routeAction, renameAction, showMenuAction() };
        case Element::destinationHeader:
            return { pressAction(), renameAction, showMenuAction() };
        case Element::crosspoint:
            break;
        }
        return { pressAction() };
    }

    QString localizedActionDescription(const QString &name) const override
    {
        if (name == routeAction)
            return QStringLiteral("Routes this source to the destination activated last");
        return QAccessibleActionInterface::localizedActionDescription(name);
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

    void doAction(const QString &name) override
    {
        if (!isValid())
            return;
        RouterController &controller = m_view->controller();
        const bool source = m_element.kind == Element::sourceHeader;
        if (m_element.kind == Element::crosspoint && name == pressAction()) {
            crosspointAction(controller, m_element.source, m_element.destination);
        } else if (source && name == routeAction) {
            m_view->routeToPendingDestination(m_element.source);
        } else if (m_element.kind == Element::destinationHeader && name == pressAction()) {
            controller.selectDestination(m_element.destination);
        } else if (m_element.kind != Element::crosspoint && name == renameAction) {
            controller.beginRename(source ? PortKind::source : PortKind::destination,
                                   source ? m_element.source : m_element.destination);
        } else if (m_element.kind != Element::crosspoint && name == showMenuAction()) {
            const QRect local = viewportRect();
            if (QMenu *menu = m_view->contextMenu(local.center())) {
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(m_view->viewport()->mapToGlobal(local.center()));
            }
        }
    }

    const Element &element() const { return m_element; }

private:
    // (column, row) in the visible lists; a header has -1 for the other axis.
    std::optional<QPoint> position() const
    {
        const RouterController &controller = m_view->controller();
        int column = -1;
        int row = -1;
        if (m_element.kind != Element::destinationHeader) {
            const std::optional<int> found = controller.visibleSourceRow(m_element.source);
            if (!found)
                return std::nullopt;
            column = *found;
        }
        if (m_element.kind != Element::sourceHeader) {
            const std::optional<int> found
                = controller.visibleDestinationRow(m_element.destination);
            if (!found)
                return std::nullopt;
            row = *found;
        }
        if (m_element.kind == Element::crosspoint && !m_view->usesCells())
            return std::nullopt; // the drawn field has no crosspoint elements
        return QPoint(column, row);
    }

    const Port &source(QPoint at) const { return m_view->controller().visibleSources().at(at.x()); }
    const Port &destination(QPoint at) const
    {
        return m_view->controller().visibleDestinations().at(at.y());
    }

    QRect viewportRect() const
    {
        const std::optional<QPoint> at = position();
        if (!at)
            return {};
        switch (m_element.kind) {
        case Element::sourceHeader:
            return m_view->sourceHeaderRect(at->x());
        case Element::destinationHeader:
            return m_view->destinationHeaderRect(at->y());
        case Element::crosspoint:
            break;
        }
        return m_view->cellRect(at->x(), at->y());
    }

    QPointer<CrosspointMatrixView> m_view;
    Element m_element;
};

// The matrix: its source headers, then its destination headers, then (per-cell form only)
// its crosspoints row by row.
class MatrixAccessible final : public QAccessibleWidget
{
public:
    explicit MatrixAccessible(CrosspointMatrixView *view)
        : QAccessibleWidget(view, QAccessible::Table)
    { }

    ~MatrixAccessible() override
    {
        for (const QAccessible::Id id : std::as_const(m_elements))
            QAccessible::deleteAccessibleInterface(id);
    }

    CrosspointMatrixView *view() const { return static_cast<CrosspointMatrixView *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        view()->headerHeight(); // brings the name and hint up to date
        return QAccessibleWidget::text(t);
    }

    int childCount() const override
    {
        const RouterController &controller = view()->controller();
        const qint64 sources = controller.visibleSources().size();
        const qint64 destinations = controller.visibleDestinations().size();
        return int(sources + destinations + (view()->usesCells() ? sources * destinations : 0));
    }

    QAccessibleInterface *child(int index) const override
    {
        const RouterController &controller = view()->controller();
        const QList<Port> &sources = controller.visibleSources();
        const QList<Port> &destinations = controller.visibleDestinations();
        if (index < 0 || index >= childCount())
            return nullptr;
        Element element;
        if (index < sources.size()) {
            element = { Element::sourceHeader, sources.at(index).index, -1 };
        } else if (index < sources.size() + destinations.size()) {
            element
                = { Element::destinationHeader, -1, destinations.at(index - sources.size()).index };
        } else {
            const qsizetype cell = index - sources.size() - destinations.size();
            element = { Element::crosspoint, sources.at(cell % sources.size()).index,
                        destinations.at(cell / sources.size()).index };
        }
        return elementInterface(element);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const auto *element = dynamic_cast<const ElementAccessible *>(child);
        if (!element)
            return -1;
        const auto found = m_elements.constFind(element->element().key());
        if (found == m_elements.cend() || QAccessible::accessibleInterface(*found) != child)
            return -1; // another matrix's
        const RouterController &controller = view()->controller();
        const qsizetype sources = controller.visibleSources().size();
        const qsizetype destinations = controller.visibleDestinations().size();
        const Element &e = element->element();
        const std::optional<int> column = controller.visibleSourceRow(e.source);
        const std::optional<int> row = controller.visibleDestinationRow(e.destination);
        switch (e.kind) {
        case Element::sourceHeader:
            return column ? *column : -1;
        case Element::destinationHeader:
            return row ? int(sources + *row) : -1;
        case Element::crosspoint:
            if (!column || !row || !view()->usesCells())
                return -1;
            return int(sources + destinations + *row * sources + *column);
        }
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        CrosspointMatrixView *matrix = view();
        const QPoint at = matrix->viewport()->mapFromGlobal(QPoint(x, y));
        if (!matrix->viewport()->rect().contains(at))
            return nullptr;
        const RouterController &controller = matrix->controller();
        const QList<Port> &sources = controller.visibleSources();
        const QList<Port> &destinations = controller.visibleDestinations();
        std::optional<int> column;
        std::optional<int> row;
        for (int c = 0; c < sources.size() && !column; ++c) {
            const QRect header = matrix->sourceHeaderRect(c);
            if (at.x() >= header.left() && at.x() <= header.right())
                column = c;
        }
        for (int r = 0; r < destinations.size() && !row; ++r) {
            const QRect header = matrix->destinationHeaderRect(r);
            if (at.y() >= header.top() && at.y() <= header.bottom())
                row = r;
        }
        // Headers are pinned above and beside the crosspoints.
        if (column && matrix->sourceHeaderRect(*column).contains(at))
            return elementInterface({ Element::sourceHeader, sources.at(*column).index, -1 });
        if (row && matrix->destinationHeaderRect(*row).contains(at))
            return elementInterface(
                { Element::destinationHeader, -1, destinations.at(*row).index });
        if (column && row && matrix->usesCells())
            return elementInterface(
                { Element::crosspoint, sources.at(*column).index, destinations.at(*row).index });
        return nullptr;
    }

private:
    QAccessibleInterface *elementInterface(const Element &element) const
    {
        if (const auto found = m_elements.constFind(element.key()); found != m_elements.cend())
            return QAccessible::accessibleInterface(*found);
        if (m_elements.size() > 4096)
            dropStaleElements();
        auto *created = new ElementAccessible(view(), element);
        m_elements.insert(element.key(), QAccessible::registerAccessibleInterface(created));
        return created;
    }

    // Elements of ports no longer shown (another panel, another router state).
    void dropStaleElements() const
    {
        for (auto it = m_elements.begin(); it != m_elements.end();) {
            QAccessibleInterface *element = QAccessible::accessibleInterface(*it);
            if (element && element->isValid()) {
                ++it;
                continue;
            }
            QAccessible::deleteAccessibleInterface(*it);
            it = m_elements.erase(it);
        }
    }

    mutable QHash<quint64, QAccessible::Id> m_elements;
};

QAccessibleInterface *matrixAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("CrosspointMatrixView") && object && object->isWidgetType())
        return new MatrixAccessible(static_cast<CrosspointMatrixView *>(object));
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(matrixAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace Crosspoint

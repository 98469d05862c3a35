// What screen readers see of the drawn matrix: the matrix itself, one element per source and
// destination header and one per crosspoint: every crosspoint in the per-cell form, the one
// the keyboard is on in the drawn form. Each says what the eye sees of it, from the same
// state the painter draws.
#include "Views/Matrix/CrosspointAccessibility.h"

#include "Controllers/RouterController.h"
#include "Platform/Text.h"
#include "Views/Matrix/CrosspointCells.h"
#include "Views/Matrix/CrosspointMatrixView.h"

#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWindow>

namespace Crosspoint {

namespace {

using Kind = AccessibleElements::Kind;

const QString routeAction = QStringLiteral("Route to Selected Destination");
const QString renameAction = QStringLiteral("Rename");

// What an element last told readers of itself.
struct Said
{
    QString name;
    QString description;
    bool checked = false;
    bool selected = false;
};

class ElementAccessible final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    ElementAccessible(CrosspointMatrixView *view, Kind kind, int source, int destination)
        : m_view(view)
        , m_kind(kind)
        , m_source(source)
        , m_destination(destination)
    { }

    bool isValid() const override { return position().has_value(); }
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
        switch (m_kind) {
        case AccessibleElements::sourceHeader:
            return QAccessible::ColumnHeader;
        case AccessibleElements::destinationHeader:
            return QAccessible::RowHeader;
        case AccessibleElements::crosspoint:
            break;
        }
        return QAccessible::Cell;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const std::optional<QPoint> at = position();
        if (!at) {
            state.invalid = true;
            return state;
        }
        // While the list shows instead, the grid is hidden: nothing of it is on screen.
        // Otherwise out of sight as a click sees it: under the pinned headers or barely showing.
        state.invisible = !m_view->isVisible();
        state.offscreen = state.invisible || !m_view->inSight(*at);
        state.focusable = true;
        state.focused = m_view->hasFocus() && m_view->keyboardCell() == at;
        state.selectable = true;
        state.checkable = m_kind == AccessibleElements::crosspoint;
        const Said flags = marks();
        state.checked = flags.checked;
        state.selected = flags.selected;
        return state;
    }

    QString text(QAccessible::Text t) const override
    {
        const std::optional<QPoint> at = position();
        return at ? textAt(t, *at) : QString();
    }
    void setText(QAccessible::Text, const QString &) override { }

    QRect rect() const override
    {
        const std::optional<QPoint> at = position();
        if (!at || !m_view->isVisible())
            return {};
        // Only what shows: the pinned headers cover the rest.
        const QRect local = m_view->shownRect(*at);
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
        switch (m_kind) {
        case AccessibleElements::sourceHeader:
            return { routeAction, renameAction, showMenuAction() };
        case AccessibleElements::destinationHeader:
            return { pressAction(), renameAction, showMenuAction() };
        case AccessibleElements::crosspoint:
            break;
        }
        // A crosspoint's menu is its destination's, as the keyboard's is.
        return { pressAction(), showMenuAction() };
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
        const std::optional<QPoint> at = position();
        if (!at)
            return;
        RouterController &controller = m_view->controller();
        const bool isSource = m_kind == AccessibleElements::sourceHeader;
        if (m_kind == AccessibleElements::crosspoint && name == pressAction()) {
            crosspointAction(controller, m_source, m_destination);
        } else if (isSource && name == routeAction) {
            m_view->routeToPendingDestination(m_source);
        } else if (m_kind == AccessibleElements::destinationHeader && name == pressAction()) {
            controller.selectDestination(m_destination);
        } else if (m_kind != AccessibleElements::crosspoint && name == renameAction) {
            controller.beginRename(isSource ? PortKind::source : PortKind::destination,
                                   isSource ? m_source : m_destination);
        } else if (name == showMenuAction()) {
            if (QMenu *menu = m_view->contextMenuFor(*at)) {
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(m_view->viewport()->mapToGlobal(viewportRect().center()));
            }
        }
    }

    Kind kind() const { return m_kind; }
    int source() const { return m_source; }
    int destination() const { return m_destination; }

    // Read once for all four, as a burst of changes reads every element a reader holds.
    Said said() const
    {
        const std::optional<QPoint> at = position();
        if (!at)
            return {};
        Said now = marks();
        now.name = textAt(QAccessible::Name, *at);
        now.description = textAt(QAccessible::Description, *at);
        return now;
    }
    Said told;

private:
    QString textAt(QAccessible::Text t, QPoint at) const
    {
        const RouterController &controller = m_view->controller();
        const RouterState &routerState = controller.state();
        switch (t) {
        case QAccessible::Name:
            if (m_kind == AccessibleElements::sourceHeader)
                return spokenSourceName(routerState, source(at));
            if (m_kind == AccessibleElements::destinationHeader)
                return spokenRowName(routerState, row(at));
            return Text::spoken(destination(at).label) + QStringLiteral(" from ")
                + Text::spoken(source(at).label);
        case QAccessible::Description:
            if (m_kind == AccessibleElements::destinationHeader)
                return spokenRowMarks(row(at));
            if (m_kind == AccessibleElements::crosspoint)
                return spokenState(crosspointState(controller, m_source, m_destination));
            return {};
        case QAccessible::Value:
            if (m_kind == AccessibleElements::crosspoint) {
                return crosspointState(controller, m_source, m_destination).connected
                    ? QStringLiteral("Connected")
                    : QStringLiteral("Not connected");
            }
            if (m_kind == AccessibleElements::sourceHeader
                && routerState.inputStatus.contains(m_source))
                return m_view->signalHelp(source(at));
            return {};
        case QAccessible::Help:
            if (m_kind == AccessibleElements::sourceHeader)
                return m_view->signalHelp(source(at));
            if (m_kind == AccessibleElements::destinationHeader)
                return QStringLiteral("Double-click to rename");
            return {};
        default:
            return {};
        }
    }

    // Checked: a connected crosspoint. Selected: the staged crosspoint, the armed destination
    // header and the armed source header.
    Said marks() const
    {
        const RouterController &controller = m_view->controller();
        Said flags;
        switch (m_kind) {
        case AccessibleElements::sourceHeader:
            flags.selected = armedSource(controller) == m_source;
            break;
        case AccessibleElements::destinationHeader:
            flags.selected = controller.pendingDestination() == m_destination;
            break;
        case AccessibleElements::crosspoint: {
            const CrosspointState shown = crosspointState(controller, m_source, m_destination);
            flags.checked = shown.connected;
            flags.selected = shown.pending;
            break;
        }
        }
        return flags;
    }

    // (column, row) in the visible lists, a header with -1 for its other axis, as the view's
    // keyboardCell(); none for ports not shown.
    std::optional<QPoint> position() const
    {
        if (!m_view)
            return std::nullopt;
        const RouterController &controller = m_view->controller();
        int column = -1;
        int row = -1;
        if (m_kind != AccessibleElements::destinationHeader) {
            const std::optional<int> found = controller.visibleSourceRow(m_source);
            if (!found)
                return std::nullopt;
            column = *found;
        }
        if (m_kind != AccessibleElements::sourceHeader) {
            const std::optional<int> found = controller.visibleDestinationRow(m_destination);
            if (!found)
                return std::nullopt;
            row = *found;
        }
        // The drawn field has one crosspoint element: the keyboard's.
        if (m_kind == AccessibleElements::crosspoint && !m_view->usesCells()
            && m_view->keyboardCell() != QPoint(column, row))
            return std::nullopt;
        return QPoint(column, row);
    }

    const Port &source(QPoint at) const { return m_view->controller().visibleSources().at(at.x()); }
    const Port &destination(QPoint at) const
    {
        return m_view->controller().visibleDestinations().at(at.y());
    }
    RowData row(QPoint at) const
    {
        const RouterController &controller = m_view->controller();
        return rowData(controller, destination(at), controller.activePanel().has_value());
    }

    QRect viewportRect() const
    {
        const std::optional<QPoint> at = position();
        if (!at)
            return {};
        switch (m_kind) {
        case AccessibleElements::sourceHeader:
            return m_view->sourceHeaderRect(at->x());
        case AccessibleElements::destinationHeader:
            return m_view->destinationHeaderRect(at->y());
        case AccessibleElements::crosspoint:
            break;
        }
        return m_view->cellRect(at->x(), at->y());
    }

    QPointer<CrosspointMatrixView> m_view;
    Kind m_kind;
    int m_source; // port indices, not positions; -1 for a header's other axis
    int m_destination;
};

// The matrix: its source headers, then its destination headers, then its crosspoints row by
// row (per-cell form) or the keyboard's crosspoint (drawn form).
class MatrixAccessible final : public QAccessibleWidget
{
public:
    explicit MatrixAccessible(CrosspointMatrixView *view)
        : QAccessibleWidget(view, QAccessible::Table)
    { }

    CrosspointMatrixView *view() const { return static_cast<CrosspointMatrixView *>(widget()); }
    AccessibleElements &elements() const { return *view()->accessibleElements(); }

    bool isValid() const override
    {
        return QAccessibleWidget::isValid() && view()->accessibleElements();
    }

    QString text(QAccessible::Text t) const override
    {
        if (isValid())
            view()->headerHeight(); // brings the name and hint up to date
        return QAccessibleWidget::text(t);
    }

    int childCount() const override
    {
        if (!isValid())
            return 0;
        const RouterController &controller = view()->controller();
        const qint64 sources = controller.visibleSources().size();
        const qint64 destinations = controller.visibleDestinations().size();
        return int(sources + destinations + crosspointCount());
    }

    QAccessibleInterface *child(int index) const override
    {
        if (!isValid())
            return nullptr;
        const RouterController &controller = view()->controller();
        const QList<Port> &sources = controller.visibleSources();
        const QList<Port> &destinations = controller.visibleDestinations();
        if (index < 0 || index >= childCount())
            return nullptr;
        if (index < sources.size())
            return elements().element(AccessibleElements::sourceHeader, sources.at(index).index,
                                      -1);
        if (index < sources.size() + destinations.size())
            return elements().element(AccessibleElements::destinationHeader, -1,
                                      destinations.at(index - sources.size()).index);
        if (!view()->usesCells())
            return elements().at(*view()->keyboardCell());
        const qsizetype cell = index - sources.size() - destinations.size();
        return elements().element(AccessibleElements::crosspoint,
                                  sources.at(cell % sources.size()).index,
                                  destinations.at(cell / sources.size()).index);
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!isValid())
            return -1;
        if (!elements().owns(child))
            return -1; // another matrix's
        const auto *element = static_cast<const ElementAccessible *>(child);
        const RouterController &controller = view()->controller();
        const qsizetype sources = controller.visibleSources().size();
        const qsizetype destinations = controller.visibleDestinations().size();
        const std::optional<int> column = controller.visibleSourceRow(element->source());
        const std::optional<int> row = controller.visibleDestinationRow(element->destination());
        switch (element->kind()) {
        case AccessibleElements::sourceHeader:
            return column ? *column : -1;
        case AccessibleElements::destinationHeader:
            return row ? int(sources + *row) : -1;
        case AccessibleElements::crosspoint:
            if (!column || !row || !element->isValid())
                return -1;
            if (!view()->usesCells())
                return int(sources + destinations);
            return int(sources + destinations + *row * sources + *column);
        }
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        if (!isValid())
            return nullptr;
        CrosspointMatrixView *matrix = view();
        const QPoint at = matrix->viewport()->mapFromGlobal(QPoint(x, y));
        if (!matrix->viewport()->rect().contains(at))
            return nullptr;
        // What a click there would take; the drawn form has only the keyboard's crosspoint.
        const std::optional<QPoint> position = matrix->positionAt(at);
        if (!position || *position == QPoint(-1, -1))
            return nullptr;
        const bool crosspoint = position->x() >= 0 && position->y() >= 0;
        if (crosspoint && !matrix->usesCells() && matrix->keyboardCell() != *position)
            return nullptr;
        return elements().at(*position);
    }

    QAccessibleInterface *focusChild() const override
    {
        if (!isValid())
            return nullptr;
        const std::optional<QPoint> at = view()->keyboardCell();
        return view()->hasFocus() && at ? elements().at(*at) : nullptr;
    }

private:
    qint64 crosspointCount() const
    {
        const RouterController &controller = view()->controller();
        if (view()->usesCells())
            return qint64(controller.visibleSources().size())
                * controller.visibleDestinations().size();
        const std::optional<QPoint> at = view()->keyboardCell();
        return at && at->x() >= 0 && at->y() >= 0 ? 1 : 0;
    }
};

QAccessibleInterface *matrixAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("CrosspointMatrixView") && object && object->isWidgetType())
        return new MatrixAccessible(static_cast<CrosspointMatrixView *>(object));
    return nullptr;
}

} // namespace

AccessibleElements::AccessibleElements(CrosspointMatrixView &view)
    : m_view(view)
{ }

AccessibleElements::~AccessibleElements()
{
    for (const QAccessible::Id id : std::as_const(m_ids))
        QAccessible::deleteAccessibleInterface(id);
}

quint64 AccessibleElements::key(Kind kind, int source, int destination)
{
    return quint64(kind) << 62 | quint64(quint32(source) & 0x7fffffff) << 31
        | (quint32(destination) & 0x7fffffff);
}

QAccessibleInterface *AccessibleElements::element(Kind kind, int source, int destination)
{
    const quint64 k = key(kind, source, destination);
    if (const auto found = m_ids.constFind(k); found != m_ids.cend())
        return QAccessible::accessibleInterface(*found);
    if (m_ids.size() >= m_dropStaleAt) {
        // Only now and then, so that a reader walking every header of a large router does not
        // sweep them all again for each one.
        dropStaleElements();
        m_dropStaleAt = std::max<qsizetype>(4096, 2 * m_ids.size());
    }
    auto *created = new ElementAccessible(&m_view, kind, source, destination);
    created->told = created->said();
    m_ids.insert(k, QAccessible::registerAccessibleInterface(created));
    if (kind == crosspoint)
        m_rowCells[destination].insert(source);
    return created;
}

QAccessibleInterface *AccessibleElements::at(QPoint position)
{
    const RouterController &controller = m_view.controller();
    const QList<Port> &sources = controller.visibleSources();
    const QList<Port> &destinations = controller.visibleDestinations();
    const bool column = position.x() >= 0 && position.x() < sources.size();
    const bool row = position.y() >= 0 && position.y() < destinations.size();
    if (column && row)
        return element(crosspoint, sources.at(position.x()).index,
                       destinations.at(position.y()).index);
    if (column && position.y() == -1)
        return element(sourceHeader, sources.at(position.x()).index, -1);
    if (row && position.x() == -1)
        return element(destinationHeader, -1, destinations.at(position.y()).index);
    return nullptr;
}

bool AccessibleElements::owns(const QAccessibleInterface *iface) const
{
    const auto *element = dynamic_cast<const ElementAccessible *>(iface);
    if (!element)
        return false;
    const auto found
        = m_ids.constFind(key(element->kind(), element->source(), element->destination()));
    return found != m_ids.cend() && QAccessible::accessibleInterface(*found) == iface;
}

void AccessibleElements::markDirty(quint64 k)
{
    if (!m_ids.contains(k))
        return;
    m_dirty.insert(k);
    if (!std::exchange(m_flushQueued, true))
        QTimer::singleShot(0, &m_view, [this] { flush(); });
}

void AccessibleElements::rowChanged(int destination)
{
    if (m_ids.isEmpty())
        return;
    markDirty(key(destinationHeader, -1, destination));
    const auto cells = m_rowCells.constFind(destination);
    if (cells == m_rowCells.cend())
        return;
    for (const int source : *cells)
        markDirty(key(crosspoint, source, destination));
}

void AccessibleElements::sourceChanged(int source)
{
    if (!m_ids.isEmpty())
        markDirty(key(sourceHeader, source, -1));
}

void AccessibleElements::allChanged()
{
    if (m_ids.isEmpty())
        return;
    m_allDirty = true;
    if (!std::exchange(m_flushQueued, true))
        QTimer::singleShot(0, &m_view, [this] { flush(); });
}

void AccessibleElements::focusMoved()
{
    // Told once the turn is over: after the matrix's own focus event, and once however many
    // moves the turn held. One element and one event a key press, reader or not.
    m_focusMoved = true;
    if (!std::exchange(m_flushQueued, true))
        QTimer::singleShot(0, &m_view, [this] { flush(); });
}

void AccessibleElements::flush()
{
    m_flushQueued = false;
    const QList<quint64> dirty = std::exchange(m_allDirty, false)
        ? m_ids.keys()
        : QList<quint64>(m_dirty.cbegin(), m_dirty.cend());
    m_dirty.clear();
    for (const quint64 k : dirty) {
        auto *element
            = static_cast<ElementAccessible *>(QAccessible::accessibleInterface(m_ids.value(k)));
        if (!element || !element->isValid())
            continue;
        const Said now = element->said();
        const Said was = std::exchange(element->told, now);
        if (now.name != was.name) {
            QAccessibleEvent event(element, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&event);
        }
        if (now.description != was.description) {
            QAccessibleEvent event(element, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&event);
        }
        QAccessible::State changed;
        changed.checked = now.checked != was.checked;
        changed.selected = now.selected != was.selected;
        if (changed.checked || changed.selected) {
            QAccessibleStateChangeEvent event(element, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
    if (std::exchange(m_focusMoved, false) && m_view.hasFocus()) {
        if (const std::optional<QPoint> position = m_view.keyboardCell()) {
            if (QAccessibleInterface *focused = at(*position)) {
                QAccessibleEvent event(focused, QAccessible::Focus);
                QAccessible::updateAccessibility(&event);
            }
        }
    }
}

void AccessibleElements::dropStaleElements()
{
    for (auto it = m_ids.begin(); it != m_ids.end();) {
        auto *element = static_cast<ElementAccessible *>(QAccessible::accessibleInterface(*it));
        if (element && element->isValid()) {
            ++it;
            continue;
        }
        if (element && element->kind() == crosspoint) {
            const auto cells = m_rowCells.find(element->destination());
            if (cells != m_rowCells.end() && cells->remove(element->source()) && cells->isEmpty())
                m_rowCells.erase(cells);
        }
        QAccessible::deleteAccessibleInterface(*it);
        it = m_ids.erase(it);
    }
}

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(matrixAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace Crosspoint

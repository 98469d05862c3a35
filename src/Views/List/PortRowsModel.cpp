#include "Views/List/PortRowsModel.h"

#include "Controllers/RouterController.h"
#include "Platform/Text.h"

namespace DestinationList {

namespace {

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

PortRowsModel::PortRowsModel(RouterController &controller, PortKind kind, QObject *parent)
    : QAbstractListModel(parent)
    , m_controller(controller)
    , m_kind(kind)
{
    m_indices = currentIndices();
}

int PortRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_indices.size());
}

QVariant PortRowsModel::data(const QModelIndex &index, int role) const
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
        return accessibleText(port);
    case Qt::AccessibleDescriptionRole:
        return m_kind == PortKind::destination && m_controller.state().isLocked(port.index)
            ? QStringLiteral("Locked")
            : QString();
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

// The number and label, then what the row's second line shows: the routed source of a
// destination, the signal of a source.
QString PortRowsModel::accessibleText(const Port &port) const
{
    const QString text
        = Text::format(QStringLiteral("%1 %2"), port.index + 1, Text::spoken(port.label));
    if (m_kind == PortKind::source) {
        const QString signal = signalDetail(m_controller.state(), port.index);
        return signal.isEmpty() ? text : text + QStringLiteral(", ") + signal;
    }
    const RouterState &state = m_controller.state();
    const std::optional<int> routed = state.source(port.index, m_controller.primaryLevel());
    if (routed && *routed >= 0 && *routed < state.sources.size())
        return text + QStringLiteral(", from ") + Text::spoken(state.sources.at(*routed).label);
    return text + QStringLiteral(", no source");
}

bool PortRowsModel::badgeIsTappable(int row) const
{
    return data(index(row), Role::BadgeRole).toInt() != int(Badge::none);
}

int PortRowsModel::widestNumber() const
{
    const RouterState &state = m_controller.state();
    const QList<Port> &ports = m_kind == PortKind::source ? state.sources : state.destinations;
    return ports.isEmpty() ? 0 : std::max(int(ports.size()), ports.constLast().index + 1);
}

void PortRowsModel::portsChanged()
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

void PortRowsModel::refreshAll()
{
    if (!m_indices.isEmpty())
        emit dataChanged(index(0), index(int(m_indices.size()) - 1));
}

void PortRowsModel::refreshPort(int portIndex)
{
    if (const std::optional<int> row = rowOfPort(portIndex))
        emit dataChanged(index(*row), index(*row));
}

std::optional<int> PortRowsModel::rowOfPort(int portIndex) const
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

const QList<Port> &PortRowsModel::visible() const
{
    return m_kind == PortKind::source ? m_controller.visibleSources()
                                      : m_controller.visibleDestinations();
}

QList<int> PortRowsModel::currentIndices() const
{
    QList<int> indices;
    indices.reserve(visible().size());
    for (const Port &port : visible())
        indices.append(port.index);
    return indices;
}

bool PortRowsModel::sourceLed() const
{
    return m_controller.routingDirection() == RoutingDirection::sourceLed;
}

QVariant PortRowsModel::sourceDetail(int index) const
{
    const QString detail = signalDetail(m_controller.state(), index);
    return detail.isNull() ? QVariant() : QVariant(detail);
}

bool PortRowsModel::sourceCurrent(int index) const
{
    if (sourceLed())
        return m_controller.selectedSource() == index;
    const std::optional<int> destination = m_controller.selectedDestination();
    return destination
        && m_controller.state().source(*destination, m_controller.primaryLevel()) == index;
}

bool PortRowsModel::sourcePending(int index) const
{
    return !sourceLed() && m_controller.takeMode() == TakeMode::confirm
        && m_controller.pendingSource() == index;
}

QVariant PortRowsModel::destinationDetail(int index) const
{
    const RouterState &state = m_controller.state();
    const std::optional<int> routed = state.source(index, m_controller.primaryLevel());
    if (routed && *routed >= 0 && *routed < state.sources.size())
        return state.sources.at(*routed).label;
    return QStringLiteral("\u2014");
}

bool PortRowsModel::destinationCurrent(int index) const
{
    if (!sourceLed())
        return isDestinationCurrent(m_controller, index);
    const std::optional<int> selected = m_controller.selectedSource();
    return selected && m_controller.state().source(index, m_controller.primaryLevel()) == *selected;
}

bool PortRowsModel::destinationPending(int index) const
{
    if (m_controller.takeMode() != TakeMode::confirm)
        return false;
    return sourceLed() ? m_controller.pendingDestinations().contains(index)
                       : m_controller.pendingDestination() == index;
}

Badge PortRowsModel::badge(int index) const
{
    if (m_kind != PortKind::destination || sourceLed() || !m_controller.multiSelectMode())
        return Badge::none;
    return destinationCurrent(index) ? Badge::remove : Badge::add;
}

} // namespace DestinationList

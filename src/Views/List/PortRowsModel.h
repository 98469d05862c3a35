#pragma once

#include "Model/RouterModels.h"
#include "Views/List/ListMetrics.h"

#include <QAbstractListModel>

#include <optional>

class RouterController;

namespace DestinationList {

// The rows of one pane, derived on every read from the controller; the model itself only
// remembers which ports it currently lists, so that views get proper row notifications.
class PortRowsModel final : public QAbstractListModel
{
public:
    PortRowsModel(RouterController &controller, PortKind kind, QObject *parent);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // Whether a badge tap toggles this port in the gang right now.
    bool badgeIsTappable(int row) const;
    // The largest port number of the router on this side, which sizes every badge.
    int widestNumber() const;

    // The port list changed: a reset when other ports are listed, else a redraw of all.
    void portsChanged();
    void refreshAll();
    void refreshPort(int portIndex);

    // The row that lists a port, if any.
    std::optional<int> rowOfPort(int portIndex) const;

private:
    const QList<Port> &visible() const;
    QString accessibleText(const Port &port) const;
    QList<int> currentIndices() const;
    bool sourceLed() const;
    QVariant sourceDetail(int index) const;
    bool sourceCurrent(int index) const;
    bool sourcePending(int index) const;
    QVariant destinationDetail(int index) const;
    bool destinationCurrent(int index) const;
    bool destinationPending(int index) const;
    Badge badge(int index) const;

    RouterController &m_controller;
    const PortKind m_kind;
    QList<int> m_indices;
};

} // namespace DestinationList

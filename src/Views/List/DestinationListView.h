#pragma once

#include <QWidget>

class RouterController;

namespace DestinationList {
class Pane;
class PortRowsModel;
} // namespace DestinationList

// The list mode of the routing area: the router's visible sources and visible destinations as
// two side-by-side panes of rows, routed in either direction and either take mode.
//
// Construction, by the workspace's routing area:
//
//     auto *list = new DestinationListView(controller, parent);
//     list->setControlBarClearance(clearance); // optional, GlassKit default otherwise
//
// The controller must outlive the view. The view keeps no routing state: every row is drawn
// from the controller's observed state, and every tap, menu command and header button calls
// a controller operation. A single tap on a row waits out the double-click interval, so that
// a double click (rename) never routes first; a tap on another row, a key or a click
// elsewhere runs a waiting tap first, so quick taps all count. Renaming only calls
// `RouterController::beginRename()`; the workspace shows the rename alert when the
// controller's `renameTarget` is set. Failed takes are reported by the controller's
// `lastError`, not here.
class DestinationListView final : public QWidget
{
    Q_OBJECT

public:
    // Besides Qt::DisplayRole (the port label), each pane's row model answers these roles;
    // rows are drawn from them and accessibility tools read them.
    enum RowRole {
        PortIndexRole = Qt::UserRole + 1, // int, 0-based port index
        NumberRole, // int, index + 1
        DetailRole, // QString, second line; null when the row has none
        CurrentRole, // bool, the row is the current focus
        PendingRole, // bool, the row is staged for a confirm-mode take
        LockedRole, // bool, a locked destination
        BadgeRole, // RowBadge as int: whether the number badge toggles the gang
    };
    enum class RowBadge { none, add, remove };

    explicit DestinationListView(RouterController &controller, QWidget *parent = nullptr);
    ~DestinationListView() override;

    // Empty space kept below the last row of each pane so that the floating control bar
    // never covers it; GlassKit::defaultControlBarClearance unless set.
    int controlBarClearance() const { return m_clearance; }
    void setControlBarClearance(int clearance);

private:
    void bind();
    void refreshHeaders();

    RouterController &m_controller;
    int m_clearance;
    // Routes and locks mark the headers; they are redrawn once when the state change ends.
    bool m_headersStale = false;
    DestinationList::Pane *m_sources = nullptr;
    DestinationList::Pane *m_destinations = nullptr;
};

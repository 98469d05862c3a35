#pragma once

#include <functional>

class QMenu;
class RouterController;

// Sub-panels of one router are chosen from the workspace's panel menu, listed in the
// PanelManagerSheet and edited in a PanelEditor. All of them read the controller's `panels`
// and `activePanelID` and change them only through its operations; none keeps panel data of
// its own.

// Fills `menu` (emptied first) with the panel choices of `controller`: "Full Router" and one
// checkable entry per panel in stored order, the active one checked; choosing one sets
// `activePanelID`. Then "New Panel…", which runs `onNew`, and, while the router has panels,
// "Edit Panels…", which runs `onManage`. The workspace owns the menu and its toolbar button;
// since the entries are a snapshot, it refills the menu before each showing, or lets
// attachPanelMenu() do so.
void fillPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                   std::function<void()> onManage);

// Fills `menu` now and again every time it is about to show.
void attachPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                     std::function<void()> onManage);

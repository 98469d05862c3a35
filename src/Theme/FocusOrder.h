#pragma once

#include <QList>

class QWidget;

// Tab order by reading order. Qt chains a window's focusable widgets in the order they joined
// it, so a part rebuilt later (tabs, chips, rows) would otherwise be reached last, after
// whatever was built after it. These helpers chain them in the order of the layouts instead:
// each layout's items in order (a reversed box layout read the way it is shown), then the
// children no layout places (scroll-area content, floating overlays).
namespace FocusOrder {

// The widgets under `root` (itself included) that Tab can reach, in reading order; hidden
// and disabled ones too, so the order holds when they appear. Windows of their own (sheets,
// menus) are left out.
QList<QWidget *> readingOrder(QWidget *root);

// Chains the widgets of readingOrder(root) in that order.
void apply(QWidget *root);

// Applies the order now and again, once per event-loop turn, whenever a widget joins the tree
// under `root`, so rebuilt parts keep their place. Reordering a layout without adding a
// widget, or giving a widget the tab stop another had, asks for it through refresh() on that
// widget: the nearest root kept above it is ordered again (else `widget` is, now).
void keep(QWidget *root);
void refresh(QWidget *widget);

} // namespace FocusOrder

#pragma once

#include <QRect>
#include <QSize>

class QDialog;
class QWidget;

// Every sheet has the size it is laid out for, but the window it opens over can be smaller
// (the smallest main window is shorter than the labels editor), and so can the screen. A
// sheet fitted here takes that size where there is room and what there is where there isn't,
// so it never covers the window's menu bar nor hangs below the window with its buttons out of
// sight. Its body scrolls (each sheet puts its rows in a scroll area or list); its title and
// buttons stay.
//
// A sheet opened from the keyboard also shows where the keyboard is from its first focus on,
// as its window did; one opened by the pointer shows the ring once Tab is pressed in it.
//
//     setWindowTitle(QStringLiteral("Edit Labels"));
//     SheetFit::apply(this, { 560, 660 }); // instead of setFixedSize()
namespace SheetFit {

// Fixes `sheet` at `preferred`, bounded by area(sheet->parentWidget()), and keeps it centred
// over its parent's window and inside that area: each time it is shown and whenever the
// window it belongs to moves or changes size. Shown after a key press, it draws the ring.
void apply(QDialog *sheet, QSize preferred);

// What a sheet over `parent` keeps within, in global coordinates: the screen's available
// area, and within it the content of the main window that `parent` (or the sheet it is on)
// belongs to, below that window's menu bar. Sheets over sheets share their main window's.
QRect area(const QWidget *parent);

} // namespace SheetFit

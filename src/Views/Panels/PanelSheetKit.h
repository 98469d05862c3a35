#pragma once

#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QColor>
#include <QString>

class QAbstractScrollArea;
class QPainter;
class QPushButton;
class QStyleOptionViewItem;

// Pieces the panel manager and the panel editor share.
namespace PanelSheet {

// The colour of an axis: sources green, destinations orange.
QColor axisColor(PortKind kind);
// Tells a failed write of an edit of panel `name` in `parent`: "Panel “name” was <done>".
void tellNotSaved(const StoreOutcome &outcome, const QString &name, const QString &done,
                  QWidget *parent);
// "1 salvo", "2 salvos".
QString counted(int n, const QString &singular, const QString &plural);
// A small borderless button in caption type, for section headers.
QPushButton *headerButton(const QString &title, const QString &name);
// A list drawn straight onto the card or sheet behind it.
void makeTransparent(QAbstractScrollArea *area);
// The rounded highlight of a hovered or selected row.
void paintHover(QPainter *painter, const QStyleOptionViewItem &option);

} // namespace PanelSheet

#pragma once

#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QColor>
#include <QString>

class QAbstractScrollArea;
class QMessageBox;
class QPainter;
class QPushButton;
class QStyleOptionViewItem;

// Pieces the panel manager and the panel editor share.
namespace PanelSheet {

// The colour of an axis: sources green, destinations orange.
QColor axisColor(PortKind kind);
// "Not Saved" over `parent` for a failed write of an edit of panel `name`: "Panel “name” was
// <done>" or "wasn't <done>", with the reason (StoreFailure::message); open() shows it.
QMessageBox *notSaved(const StoreFailure &failure, const QString &name, const QString &done,
                      QWidget *parent);
// Opens notSaved() when the write failed.
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

#pragma once

#include "Model/StoreFile.h"

#include <QString>

#include <functional>

class QMessageBox;
class QObject;
class QWidget;

// Window-modal warning alerts in plain text: names in titles and messages are never read as
// markup. Each deletes itself when it closes; open() shows it.
namespace Alerts {

// Sets the informative text as plain text, on lines wide enough for whole sentences.
void setPlainMessage(QMessageBox *box, const QString &message);
// A warning with `title` as its text and `message` below it, and no buttons yet.
QMessageBox *warning(const QString &objectName, const QString &title, const QString &message,
                     QWidget *parent);
// "Not Saved" with the store's message for a change the operator made (StoreFailure::
// message) and OK.
QMessageBox *notSaved(const QString &message, QWidget *parent);
// Opens notSaved() for a failed write of an edit made in `parent`: `done` says what stands for
// this session, `notDone` what was not made (StoreFailure::message). Nothing when it was saved.
void tellNotSaved(const StoreOutcome &outcome, const QString &done, const QString &notDone,
                  QWidget *parent);
// "Delete “name”?" or "Update “name”?" with its destructive button and Cancel, the default
// and escape button. `act` runs only for the destructive button, and only while `context`
// lives.
QMessageBox *destructiveConfirmation(const QString &objectName, const QString &title,
                                     const QString &message, const QString &action, QWidget *parent,
                                     QObject *context, std::function<void()> act);

} // namespace Alerts

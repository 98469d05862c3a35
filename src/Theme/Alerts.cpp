#include "Theme/Alerts.h"

#include "Platform/Text.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace Alerts {

// setTextFormat covers only the main text; the informative text carries names too.
void setPlainMessage(QMessageBox *box, const QString &message)
{
    box->setInformativeText(message);
    for (QLabel *label : box->findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
        // Names in the texts are isolated for the eye; a screen reader hears them plain.
        label->setAccessibleName(Text::spoken(label->text()));
    }
    // Sentences read better on wider lines than the box picks by itself.
    if (auto *info = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setMinimumWidth(320);
}

QMessageBox *warning(const QString &objectName, const QString &title, const QString &message,
                     QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setObjectName(objectName);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText); // titles carry names
    box->setText(title);
    setPlainMessage(box, message);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

QMessageBox *notSaved(const QString &message, QWidget *parent)
{
    QMessageBox *box
        = warning(QStringLiteral("notSavedAlert"), QStringLiteral("Not Saved"), message, parent);
    QPushButton *ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    return box;
}

void tellNotSaved(const StoreOutcome &outcome, const QString &done, const QString &notDone,
                  QWidget *parent)
{
    if (outcome)
        notSaved(outcome->message(done, notDone), parent)->open();
}

// "Delete “name”?" or "Update “name”?" with its destructive button and Cancel. `act` runs
// only for the destructive button, and only while `context` lives.
QMessageBox *destructiveConfirmation(const QString &objectName, const QString &title,
                                     const QString &message, const QString &action, QWidget *parent,
                                     QObject *context, std::function<void()> act)
{
    QMessageBox *box = warning(objectName, title, message, parent);
    QPushButton *yes = box->addButton(action, QMessageBox::DestructiveRole);
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::finished, context, [box, yes, act = std::move(act)] {
        if (box->clickedButton() == yes)
            act();
    });
    return box;
}

} // namespace Alerts

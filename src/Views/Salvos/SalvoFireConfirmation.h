#pragma once

#include "Controllers/RouterController.h"
#include "Model/RouterModels.h"

#include <QMessageBox>
#include <QPointer>

class QPushButton;

// Asks before a salvo fires. Shown window-modal over `parent` with open(); its title, message
// and Fire button follow routing, lock and label changes while it is up. Fire exists only
// while some route of the salvo applies. Closing it in any way emits `concluded`, after
// Fire has called RouterController::fireSalvo with the salvo given here.
class SalvoFireConfirmation final : public QMessageBox
{
    Q_OBJECT

public:
    SalvoFireConfirmation(RouterController &controller, const Salvo &salvo,
                          QWidget *parent = nullptr);

    const Salvo &salvo() const { return m_salvo; }
    // Hidden while there is nothing to fire.
    QPushButton *fireButton() const { return m_fire; }

signals:
    void concluded(bool fired);

private:
    void refresh();

    RouterController &m_controller;
    const Salvo m_salvo;
    QPointer<RouterController> m_alive;
    QPushButton *m_fire = nullptr;
};

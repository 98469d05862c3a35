#pragma once

#include "Controllers/RouterController.h"
#include "Controllers/SalvoTracker.h"
#include "Model/RouterModels.h"

#include <QDialog>
#include <QPointer>
#include <QSet>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QScrollArea;

// The workspace's one-line strip of the current scope's salvos. A chip offers to fire its
// salvo (through SalvoFireConfirmation) and its context menu updates or deletes it after
// confirmation; a "+" button saves a new salvo from the current routing and a second one asks
// for the salvo manager. The workspace shows it while RouterController::showsSalvoStrip().
//
//     auto *strip = new SalvoStrip(controller);
//     connect(strip, &SalvoStrip::openManager, this, &Workspace::showSalvos);
class SalvoStrip final : public QWidget
{
    Q_OBJECT

public:
    explicit SalvoStrip(RouterController &controller, QWidget *parent = nullptr);

    // As tall as its row of chips and buttons with the margins around it, so none is cut;
    // any width, as the row scrolls.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return { 0, sizeHint().height() }; }

signals:
    // The "Manage salvos" button was pressed.
    void openManager();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Brings the chips up to the controller's list: chips of salvos still listed stay.
    void rebuild();
    QPushButton *makeChip(const Salvo &salvo);
    void showSalvo(QPushButton *chip, const Salvo &salvo);
    void boundChips();
    void restyle();
    void restyleChip(int position);
    void beginNew();
    void fire(const Salvo &salvo);
    void confirmDelete(const Salvo &salvo);
    void confirmUpdate(const Salvo &salvo);
    void chipMenu(const Salvo &salvo, const QPoint &globalPos);

    RouterController &m_controller;
    QList<Salvo> m_shown; // the chips' salvos, in chip order
    // How each chip's salvo compares with the live routing, so that a route or lock change
    // restyles only the chips whose state it changed.
    SalvoTracker m_tracker;
    QScrollArea *m_scroll = nullptr;
    QHBoxLayout *m_row = nullptr;
    QList<QPushButton *> m_chips;
    // Whether each chip shows its salvo as active (1) or not (0); -1 before it was styled.
    QList<qint8> m_looks;
    QLabel *m_emptyText = nullptr;
    QPushButton *m_new = nullptr;
    QPushButton *m_manage = nullptr;
    // At most one confirmation or prompt is up at a time; each is window-modal.
    QPointer<QDialog> m_open;
};

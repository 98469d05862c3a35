#pragma once

#include "Controllers/RouterController.h"
#include "Controllers/SalvoTracker.h"
#include "Model/RouterModels.h"

#include <QDialog>
#include <QPointer>

#include <optional>

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class SalvoRow;
class SalvoRowList;

// The "Salvos" manager, a window-modal sheet of 520 × 560 points: the current scope's salvos
// and, while a sub-panel is active, the full-router ones, each a SalvoRow. Salvos are created,
// renamed, recaptured and deleted here, each destructive step after a confirmation; a
// confirmed fire also closes the sheet. The workspace presents it:
//
//     auto *sheet = new SalvoSheet(controller, window());
//     sheet->setWindowModality(Qt::WindowModal);
//     sheet->setAttribute(Qt::WA_DeleteOnClose);
//     sheet->open();
class SalvoSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit SalvoSheet(RouterController &controller, QWidget *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A titled group of rows with its footer.
    struct Section
    {
        QWidget *box = nullptr;
        QLabel *header = nullptr;
        QFrame *group = nullptr;
        SalvoRowList *rows = nullptr;
        QLabel *footer = nullptr;
    };

    // Brings the list up to date in place: rows are kept by salvo id, so the focused row and
    // its buttons stay where they are while salvos, panels or the status change.
    void refresh();
    Section makeSection();
    void showRows(const Section &section, const QList<Salvo> &salvos);
    SalvoRow *makeRow(const Salvo &salvo);
    // The row of a salvo, when it is made (on screen or near it).
    SalvoRow *rowOf(const QUuid &id) const;
    QList<SalvoRow *> madeRows() const;
    // After a change of state: the rows whose salvo now compares differently, and the open
    // preview, whose lines name live sources.
    void compared(const QList<int> &changed, bool all);
    QWidget *emptyScope();
    QWidget *emptyState();
    void toggleExpansion(const Salvo &salvo);
    void rowMenu(SalvoRow *row, const QPoint &globalPos);

    void beginNew();
    QString newSalvoMessage() const;
    void beginRename(const Salvo &salvo);
    void commitRename(const Salvo &salvo, const QString &draft);
    void fire(const Salvo &salvo);
    void confirmDelete(const Salvo &salvo);
    void confirmUpdate(const Salvo &salvo);
    void showConflict(const QString &name);

    RouterController &m_controller;
    QScrollArea *m_scroll = nullptr;
    QFrame *m_offline = nullptr;
    Section m_scope;
    Section m_fullRouter;
    QWidget *m_emptyScope = nullptr;
    QLabel *m_emptyScopeText = nullptr;
    QPushButton *m_again = nullptr;
    QWidget *m_emptyState = nullptr;
    // The salvos of both sections, in the tracker's order.
    QList<Salvo> m_listed;
    SalvoTracker m_tracker;
    std::optional<QUuid> m_expandedID;
    std::optional<QUuid> m_draftScope;
    QPointer<QDialog> m_open;
};

#pragma once

#include "Controllers/RouterController.h"
#include "Model/RouterModels.h"

#include <QDialog>
#include <QPointer>

#include <optional>

class QScrollArea;
class SalvoRow;

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
    void rebuild();
    QWidget *section(const QString &header, const QList<Salvo> &salvos, const QString &footer);
    QWidget *emptyScope(const QString &panelName);
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
    std::optional<QUuid> m_expandedID;
    std::optional<QUuid> m_draftScope;
    QPointer<QDialog> m_open;
};

#pragma once

#include "Model/RouterModels.h"

#include <QDialog>
#include <QPointer>

#include <optional>

class QMessageBox;
class QStackedWidget;
class RouterController;

class PanelEditor;

// The "Panels" sheet (480 × 520): the router's panels in stored order with the active one
// badged; a click edits, the context menu edits, duplicates, moves or deletes, dragging
// reorders, Delete asks to delete. Deleting always asks first, naming how many of the panel's
// salvos go with it. New and edited panels open a PanelEditor as a nested window-modal sheet,
// which does the saving. The workspace presents it:
//
//     auto *sheet = new PanelManagerSheet(controller, window);
//     sheet->setWindowModality(Qt::WindowModal);
//     sheet->setAttribute(Qt::WA_DeleteOnClose);
//     sheet->open();
//
// `controller` must outlive the sheet. "Done" (or Esc) closes it.
class PanelManagerSheet final : public QDialog
{
    Q_OBJECT

public:
    explicit PanelManagerSheet(RouterController &controller, QWidget *parent = nullptr);
    ~PanelManagerSheet() override;

    // Opens the editor on `panel`, new when the router has no panel with its id. Does
    // nothing while an editor or a delete confirmation is open.
    void edit(const SubPanel &panel);
    // Opens the editor on a fresh draft from the controller.
    void startNewPanel();
    // Asks whether to delete `panel`; only the confirmation's "Delete" deletes it.
    void confirmDelete(const SubPanel &panel);

private:
    class PanelListModel;
    class PanelList;

    void syncEmptyState();
    void showContextMenu(const QPoint &position);
    void move(int row, int toOffset);
    std::optional<SubPanel> panelAt(int row) const;

    RouterController &m_controller;
    PanelListModel *m_model = nullptr;
    PanelList *m_list = nullptr;
    QStackedWidget *m_pages = nullptr;
    QPointer<PanelEditor> m_editor; // the panel being edited, while its sheet is open
    QPointer<QMessageBox> m_deleteAlert; // the panel awaiting deletion, while asked
};

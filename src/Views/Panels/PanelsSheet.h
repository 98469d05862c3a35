#pragma once

#include "Model/RouterModels.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QPushButton;
class QStackedWidget;
class RouterController;

// Sub-panels of one router: the workspace's panel menu, the "Panels" manager sheet and the
// editor of one panel. All of them read the controller's `panels` and `activePanelID` and
// change them only through its operations; none keeps panel data of its own.

// Fills `menu` (emptied first) with the panel choices of `controller`: "Full Router" and one
// checkable entry per panel in stored order, the active one checked; choosing one sets
// `activePanelID`. Then "New Panel…", which runs `onNew`, and, while the router has panels,
// "Edit Panels…", which runs `onManage`. The workspace owns the menu and its toolbar button;
// since the entries are a snapshot, it refills the menu before each showing, or lets
// attachPanelMenu() do so.
void fillPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                   std::function<void()> onManage);

// Fills `menu` now and again every time it is about to show.
void attachPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                     std::function<void()> onManage);

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
    std::optional<SubPanel> panelAt(int row) const;

    RouterController &m_controller;
    PanelListModel *m_model = nullptr;
    PanelList *m_list = nullptr;
    QStackedWidget *m_pages = nullptr;
    QPointer<PanelEditor> m_editor; // the panel being edited, while its sheet is open
    QPointer<QMessageBox> m_deleteAlert; // the panel awaiting deletion, while asked
};

// The sheet (640 × 640) that creates or edits one panel: its name and which of the router's
// sources and destinations it holds. It edits a private copy (index lists de-duplicated and
// sorted) and writes only on "Save (<s>×<d>)", through `savePanel`; a new panel then becomes
// the active panel. "Cancel" (Esc) drops the copy. Saved ports the router lacks are kept,
// shown as warnings and counted; they go only when removed by hand.
//
//     const bool isNew = <no panel of controller.panels() has panel.id>;
//     auto *editor = new PanelEditor(controller, panel, isNew, window);
//     editor->setWindowModality(Qt::WindowModal);
//     editor->setAttribute(Qt::WA_DeleteOnClose);
//     editor->open();
//
// A new panel comes from `controller.newPanelDraft()`. `controller` must outlive the editor.
class PanelEditor final : public QDialog
{
    Q_OBJECT

public:
    PanelEditor(RouterController &controller, const SubPanel &panel, bool isNew,
                QWidget *parent = nullptr);
    ~PanelEditor() override;

    // The working copy as it stands.
    const SubPanel &panel() const { return m_panel; }
    bool isNew() const { return m_isNew; }
    // Saved ports of the copy that the router lacks, every occurrence counted.
    int missingCount() const;
    // A name that is not blank, and at least one source and one destination.
    bool isSavable() const;
    // Whether `port` passes the filter: no filter, its label contains it (ignoring case), or
    // the filter is exactly its 1-based number.
    bool matchesSearch(const Port &port) const;

private:
    class AxisList;

    // Saves the trimmed copy, makes a new panel active, and closes.
    void commit();
    void setIndices(PortKind kind, QList<int> indices);
    // `animated`: the operator changed the lists, and the rows move to their new places.
    void refresh(bool animated = false);

    RouterController &m_controller;
    SubPanel m_panel;
    const bool m_isNew;
    QString m_search;
    QList<Port> m_shownSources; // the router's ports the lists show, to skip route-only changes
    QList<Port> m_shownDestinations;

    QLineEdit *m_searchField = nullptr;
    QLineEdit *m_nameField = nullptr;
    QWidget *m_warning = nullptr;
    QLabel *m_warningText = nullptr;
    AxisList *m_sources = nullptr;
    AxisList *m_destinations = nullptr;
    QPushButton *m_saveButton = nullptr;
};

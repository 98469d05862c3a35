#pragma once

#include "Model/RouterModels.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class RouterController;

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

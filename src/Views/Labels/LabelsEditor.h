#pragma once

#include "Model/LabelIO.h"
#include "Model/RouterModels.h"
#include "Views/Labels/LabelRowsModel.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class LabelRowDelegate;
class QLabel;
class QScrollArea;
class QTableView;
class QToolButton;
class RouterController;

// The "Edit Labels" sheet of one router: every source and destination as an editable name,
// plus the label exchange tools (paste from a spreadsheet, file import, copy as XML or as
// tab-separated text, reset to the router's own names).
//
//     auto *editor = new LabelsEditor(controller, {}, parent);
//     editor->setWindowModality(Qt::WindowModal);
//     editor->setAttribute(Qt::WA_DeleteOnClose);
//     editor->open();
//
// Typed names stay in the sheet until "Done", which renames each changed port through
// RouterController::rename() (sources first, then destinations, in port order) and closes;
// "Cancel" (Esc) drops them. Paste, import and reset act at once on the router's stored
// overrides and the live labels, send nothing to the router, and are not undone by "Cancel".
// The rows are built once, from the labels at construction; only a paste, an import or a
// reset rebuilds them, keeping typed names of ports they did not touch.
//
// Each side is a list view over a LabelRowsModel ("sourcesList", "destinationsList"), so
// only the rows on screen are painted and a rebuild is one model update, whatever the port
// count. Tab moves from name to name, across both sides.
//
// `controller` must outlive the sheet. The sheet reports nothing to its creator beyond
// QDialog's own accepted()/rejected().
class LabelsEditor final : public QDialog
{
    Q_OBJECT

public:
    struct Options
    {
        // Asks for the label file to import; an empty result means the operator cancelled.
        // Empty: a window-modal file dialog over the sheet.
        std::function<QString()> chooseFile;
    };

    explicit LabelsEditor(RouterController &controller, Options options = {},
                          QWidget *parent = nullptr);

private:
    using Editable = LabelRowsModel::Editable;

    // One side's rows, their view and the header's count.
    struct Side
    {
        LabelRowsModel *model = nullptr;
        QTableView *view = nullptr;
        LabelRowDelegate *delegate = nullptr;
        QLabel *count = nullptr;
        QWidget *panel = nullptr;
    };

    QWidget *buildImportExportSection();
    QWidget *buildBanner();
    QWidget *buildSide(Side &side, const QList<Port> &ports, const QString &title,
                       const QString &symbol);
    QToolButton *buildImportExportMenu();
    void syncSide(Side &side);

    void showPasteSheet();
    void chooseImportFile();
    void importFile(const QString &path);
    void copyAsXml();
    void copyAsSpreadsheet();
    // Puts an export on the clipboard and says how many names the format had to change.
    void copyExport(const QString &text, const QString &copied, qsizetype changed,
                    const QString &changedNote);
    void resetToDeviceNames();
    void applyAll();
    // Stores imported names, shows them and reports "Imported N names from <from>.", with
    // what the import left out (`notes`) and a failure to save them.
    void mergeImported(ParsedLabels labels, LabelImport::Notes notes, const QString &from);
    void reloadBuffers(const std::optional<ParsedLabels> &imported);
    // A failure shows in red with a warning sign instead of the green check mark.
    void setBanner(const QString &text, bool failure = false);

    RouterController &m_controller;
    Options m_options;
    Side m_sources;
    Side m_dests;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_form = nullptr;
    QWidget *m_banner = nullptr;
    QLabel *m_bannerSymbol = nullptr;
    QLabel *m_bannerText = nullptr;
    // "Done" renamed the ports but labels.json couldn't be written.
    bool m_unsaved = false;
};

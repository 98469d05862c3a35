#pragma once

#include "Model/LabelIO.h"
#include "Model/RouterModels.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class RouterController;

// The "Paste Labels" sheet: the operator pastes rows copied from a spreadsheet, says which
// side they name, and applies them. It only parses the text and hands the result to its
// presenter through `onApply`; it talks to no router and to no store.
//
//     auto *sheet = new PasteLabelsSheet([](const ParsedLabels &labels) { … }, parent);
//
// "Apply" (disabled while the text is blank) parses the whole text with the chosen target,
// calls `onApply` exactly once and closes the sheet; "Cancel" (Esc) closes it without a call.
// Every sheet starts empty with the target "Sources".
class PasteLabelsSheet final : public QDialog
{
    Q_OBJECT

public:
    using ApplyAction = std::function<void(const ParsedLabels &)>;

    explicit PasteLabelsSheet(ApplyAction onApply, QWidget *parent = nullptr);

    // Lines of `text` that hold more than spaces and tabs; "\r\n" is one break.
    static int rowCount(const QString &text);

private:
    void setTarget(DelimitedTarget target);
    void pasteFromClipboard();
    void apply();
    void syncText();

    ApplyAction m_onApply;
    DelimitedTarget m_target = DelimitedTarget::sources;
    QList<QAbstractButton *> m_segments;
    QLabel *m_help = nullptr;
    QPlainTextEdit *m_editor = nullptr;
    QLabel *m_rowCount = nullptr;
    QPushButton *m_applyButton = nullptr;
};

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
    // One editable row; `original` is the live label when the row was built.
    struct Editable
    {
        PortKind kind = PortKind::source;
        int index = 0;
        QString original;
        QString name;

        bool changed() const { return name != original; }
        bool operator==(const Editable &) const = default;
    };

    // One side's rows and widgets: its count, its rows' panel and each row's revert button.
    struct Side
    {
        QList<Editable> rows;
        QLabel *count = nullptr;
        QWidget *panel = nullptr;
        QVBoxLayout *panelRows = nullptr;
        QList<QToolButton *> reverts;
    };

    QWidget *buildImportExportSection();
    QWidget *buildBanner();
    QWidget *buildSide(Side &side, const QString &title, const QString &symbol);
    QToolButton *buildImportExportMenu();
    void fillSide(Side &side);
    void syncRevert(Side &side, int row);

    void showPasteSheet();
    void chooseImportFile();
    void importFile(const QString &path);
    void copyAsXml();
    void copyAsSpreadsheet();
    void resetToDeviceNames();
    void applyAll();
    // Stores imported names, shows them and reports "Imported N names from <from>.".
    void mergeImported(const ParsedLabels &labels, const QString &from);
    void reloadBuffers(const std::optional<ParsedLabels> &imported);
    void setBanner(const QString &text);

    static QList<Editable> rowsFor(const QList<Port> &ports);

    RouterController &m_controller;
    Options m_options;
    Side m_sources;
    Side m_dests;
    QWidget *m_banner = nullptr;
    QLabel *m_bannerText = nullptr;
};

#pragma once

#include "Model/LabelIO.h"
#include "Model/RouterModels.h"

#include <QAbstractListModel>
#include <QDialog>
#include <QList>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTableView;
class QToolButton;
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

// The rows of one side of the labels editor, in the router's port order: each port's index,
// its live label when the rows were built (`original`) and the name being typed (`name`).
// Display and edit roles are the name.
class LabelRowsModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        originalRole = Qt::UserRole + 1,
        portIndexRole,
        // True while the typed name differs from the original (exact text comparison).
        changedRole,
    };

    struct Editable
    {
        PortKind kind = PortKind::source;
        int index = 0;
        QString original;
        QString name;

        bool changed() const { return name != original; }
        bool operator==(const Editable &) const = default;
    };

    explicit LabelRowsModel(QList<Editable> rows = {}, QObject *parent = nullptr);

    static QList<Editable> rowsFor(const QList<Port> &ports);

    const QList<Editable> &rows() const { return m_rows; }
    // Takes the new rows. When they name the same ports in the same order this is one
    // dataChanged over the rows that differ, so open editors and the current row stay;
    // otherwise a model reset.
    void replaceRows(QList<Editable> rows);
    void revert(int row);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<Editable> m_rows;
};

// Paints one row of a LabelRowsModel (number, name, and the revert button while the name is
// changed, with a hairline over every row but the first) and edits the name in a borderless
// line edit that hands every keystroke to the model, so the model always holds what was typed.
class LabelRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit LabelRowDelegate(QObject *parent = nullptr);

    int rowHeight() const { return m_rowHeight; }
    // Parts of a row's rectangle.
    static QRect nameRect(const QRect &row);
    static QRect revertRect(const QRect &row);

    // Shows the model's current name in the open editor, if any, after rows were replaced.
    void refreshEditor();

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QFont m_numberFont;
    QPixmap m_revertIcon;
    int m_rowHeight = 0;
    mutable QPointer<QLineEdit> m_editor;
    mutable QPersistentModelIndex m_editorIndex;
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
    void resetToDeviceNames();
    void applyAll();
    // Stores imported names, shows them and reports "Imported N names from <from>.".
    void mergeImported(ParsedLabels labels, const QString &from);
    void reloadBuffers(const std::optional<ParsedLabels> &imported);
    void setBanner(const QString &text);

    RouterController &m_controller;
    Options m_options;
    Side m_sources;
    Side m_dests;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_form = nullptr;
    QWidget *m_banner = nullptr;
    QLabel *m_bannerText = nullptr;
};

#pragma once

#include "Model/LabelIO.h"

#include <QDialog>
#include <QList>

#include <functional>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The "Paste Labels" sheet: the operator pastes rows copied from a spreadsheet, says which
// side they name, and applies them. It only parses the text and hands the result to its
// presenter through `onApply`; it talks to no router and to no store.
//
//     auto *sheet = new PasteLabelsSheet([](const ParsedLabels &labels) { … }, parent);
//
// "Apply" (disabled while the text is blank) parses the whole text with the chosen target,
// calls `onApply` exactly once and closes the sheet; "Cancel" (Esc) closes it without a call.
// Every sheet starts empty with the target "Sources". A paste that would make the text longer
// than maxLength characters, maxLines lines or a line longer than maxLineLength is refused
// with an alert ("pasteTooLongAlert"): the editor would freeze on it, and no router has that
// many ports.
class PasteLabelsSheet final : public QDialog
{
    Q_OBJECT

public:
    // The parsed labels, and what the parse left out.
    using ApplyAction = std::function<void(const ParsedLabels &, const LabelImport::Notes &)>;

    static constexpr qsizetype maxLength = 2 * 1024 * 1024;
    static constexpr qsizetype maxLines = 2 * LabelImport::maxPortNumber;
    // The editor lays out one line in time that grows with the square of its length.
    static constexpr qsizetype maxLineLength = 4 * LabelImport::maxLabelLength;

    explicit PasteLabelsSheet(ApplyAction onApply, QWidget *parent = nullptr);

    // Lines of `text` that hold more than spaces and tabs; "\r\n" is one break.
    static int rowCount(const QString &text);

private:
    void setTarget(DelimitedTarget target);
    void pasteFromClipboard();
    // False, after telling the operator, when `inserted` in place of `replaced` characters
    // would make the text too long.
    bool admits(const QString &inserted, qsizetype replaced);
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

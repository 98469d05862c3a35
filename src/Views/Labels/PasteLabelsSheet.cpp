#include "Views/Labels/PasteLabelsSheet.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/SheetFit.h"
#include "Theme/Theme.h"
#include "Views/Labels/LabelsFormKit.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

using namespace LabelsFormKit;

namespace {

constexpr int pasteWidth = 540;
constexpr int pasteHeight = 480;

// A newline character starts with one of these scalars.
bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

bool isHorizontalSpace(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isMark(QChar c)
{
    const auto category = c.category();
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing;
}

// How many lines the text has (an empty text one), and the length of its longest.
std::pair<qsizetype, qsizetype> measureLines(QStringView text)
{
    qsizetype lines = 1;
    qsizetype longest = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isNewline(text[i])) {
            ++lines;
            longest = qMax(longest, i - start);
            start = i + 1;
        }
    }
    return { lines, qMax(longest, text.size() - start) };
}

// The text field, asking before it takes pasted or dropped text.
class PasteEdit final : public QPlainTextEdit
{
public:
    explicit PasteEdit(std::function<bool(const QString &, qsizetype)> admits)
        : m_admits(std::move(admits))
    { }

protected:
    void insertFromMimeData(const QMimeData *source) override
    {
        if (source->hasText() && !m_admits(source->text(), textCursor().selectedText().size()))
            return;
        QPlainTextEdit::insertFromMimeData(source);
    }

private:
    std::function<bool(const QString &, qsizetype)> m_admits;
};

} // namespace

PasteLabelsSheet::PasteLabelsSheet(ApplyAction onApply, QWidget *parent)
    : QDialog(parent)
    , m_onApply(std::move(onApply))
{
    setWindowTitle(QStringLiteral("Paste Labels"));
    SheetFit::apply(this, { pasteWidth, pasteHeight });

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    addSheetTitle(root, windowTitle());
    auto *stack = new QVBoxLayout;
    stack->setContentsMargins(20, 14, 20, 16);
    stack->setSpacing(12);
    root->addLayout(stack, 1);

    auto *picker = new QHBoxLayout;
    picker->setSpacing(10);
    picker->addWidget(plainLabel(QStringLiteral("Apply to")));
    auto *track = new SegmentTrack;
    auto *segments = new QHBoxLayout(track);
    segments->setContentsMargins(2, 2, 2, 2);
    segments->setSpacing(2);
    auto *group = new QButtonGroup(this);
    const QList<std::pair<QString, DelimitedTarget>> choices {
        { QStringLiteral("Sources"), DelimitedTarget::sources },
        { QStringLiteral("Destinations"), DelimitedTarget::destinations },
        { QStringLiteral("Both columns"), DelimitedTarget::both },
    };
    for (const auto &[title, target] : choices) {
        auto *segment = new Segment(title);
        segment->setObjectName(rawValue(target) + QStringLiteral("Segment"));
        segment->setAutoExclusive(true); // one of a set: a reader hears a radio button
        group->addButton(segment);
        segments->addWidget(segment);
        m_segments.append(segment);
        connect(segment, &QAbstractButton::clicked, this, [this, target] { setTarget(target); });
    }
    picker->addWidget(track, 1);
    stack->addLayout(picker);

    m_help = plainLabel();
    m_help->setObjectName(QStringLiteral("helpText"));
    m_help->setWordWrap(true);
    Theme::applySecondary(m_help, Theme::TextStyle::caption);
    stack->addWidget(m_help);

    auto *well = new TextWell;
    auto *wellLayout = new QVBoxLayout(well);
    wellLayout->setContentsMargins(8, 8, 8, 8);
    m_editor = new PasteEdit(
        [this](const QString &inserted, qsizetype replaced) { return admits(inserted, replaced); });
    m_editor->setObjectName(QStringLiteral("pasteText"));
    m_editor->setAccessibleName(QStringLiteral("Pasted labels"));
    m_editor->setFrameShape(QFrame::NoFrame);
    // Tab moves on, so the keyboard is never caught here; pasted text keeps its tabs, and a
    // hand-typed list can separate its columns with commas.
    m_editor->setTabChangesFocus(true);
    QFont mono = Theme::font(Theme::TextStyle::body);
    mono.setFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
    mono.setStyleHint(QFont::Monospace);
    m_editor->setFont(mono);
    m_editor->setTabStopDistance(QFontMetricsF(mono).horizontalAdvance(u' ') * 8);
    m_editor->viewport()->setAutoFillBackground(false);
    QPalette pal = m_editor->palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    m_editor->setPalette(pal);
    wellLayout->addWidget(m_editor);
    well->setMinimumHeight(220);
    stack->addWidget(well, 1);

    auto *footer = new QHBoxLayout;
    auto *paste = new QPushButton(Symbols::icon(QStringLiteral("clipboard")),
                                  QStringLiteral("Paste from Clipboard"));
    paste->setObjectName(QStringLiteral("pasteClipboardButton"));
    paste->setAutoDefault(false);
    connect(paste, &QPushButton::clicked, this, &PasteLabelsSheet::pasteFromClipboard);
    footer->addWidget(paste);
    footer->addStretch();
    m_rowCount = plainLabel();
    m_rowCount->setObjectName(QStringLiteral("rowCount"));
    Theme::applySecondary(m_rowCount, Theme::TextStyle::caption);
    footer->addWidget(m_rowCount);
    stack->addLayout(footer);

    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_applyButton = new QPushButton(QStringLiteral("Apply"));
    m_applyButton->setObjectName(QStringLiteral("applyButton"));
    connect(m_applyButton, &QPushButton::clicked, this, &PasteLabelsSheet::apply);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    m_applyButton->setDefault(true);
    addSheetButtons(root, { cancel, m_applyButton });

    connect(m_editor, &QPlainTextEdit::textChanged, this, &PasteLabelsSheet::syncText);
    m_segments.first()->setChecked(true);
    setTarget(DelimitedTarget::sources);
    syncText();
    m_editor->setFocus();
}

int PasteLabelsSheet::rowCount(const QString &text)
{
    int rows = 0;
    bool content = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isNewline(text.at(i))) {
            rows += content ? 1 : 0;
            content = false;
            // Marks combined onto a break belong to that break, not to the next line.
            while (i + 1 < text.size() && isMark(text.at(i + 1)))
                ++i;
        } else if (!isHorizontalSpace(text.at(i))) {
            content = true;
        }
    }
    return rows + (content ? 1 : 0);
}

void PasteLabelsSheet::setTarget(DelimitedTarget target)
{
    m_target = target;
    m_help->setText(target == DelimitedTarget::both
                        ? QStringLiteral("Two columns per line: source⇥destination. Or three: "
                                         "number⇥source⇥destination. Tab- or comma-separated — "
                                         "paste straight from Excel/Numbers/Sheets.")
                        : QStringLiteral("One name per line, or number⇥name per line. Tab- or "
                                         "comma-separated."));
}

void PasteLabelsSheet::pasteFromClipboard()
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    if (!mime || !mime->hasText())
        return;
    const QString text = mime->text();
    if (admits(text, m_editor->document()->characterCount()))
        m_editor->setPlainText(text);
}

bool PasteLabelsSheet::admits(const QString &inserted, qsizetype replaced)
{
    const QString current = m_editor->toPlainText();
    const bool whole = replaced >= current.size();
    const auto [insertedLines, insertedLongest] = measureLines(inserted);
    // Into the text, the inserted lines join the cursor's line and the others stay.
    const qsizetype length = current.size() - qMin(replaced, current.size()) + inserted.size();
    const qsizetype lines = (whole ? 0 : measureLines(current).first - 1) + insertedLines;
    const qsizetype longest
        = insertedLongest + (whole ? 0 : m_editor->textCursor().block().length());
    if (length <= maxLength && lines <= maxLines && longest <= maxLineLength)
        return true;
    QMessageBox *alert = Alerts::warning(
        QStringLiteral("pasteTooLongAlert"), QStringLiteral("The text is too long to paste."),
        Text::format(QStringLiteral("Paste at most %1 lines and %2 characters at a time, with no "
                                    "line longer than %3 characters. Nothing was pasted."),
                     maxLines, maxLength, maxLineLength),
        this);
    alert->addButton(QMessageBox::Ok);
    alert->open();
    return false;
}

void PasteLabelsSheet::apply()
{
    const QString text = m_editor->toPlainText();
    if (text.trimmed().isEmpty())
        return;
    LabelImport::Notes notes;
    const ParsedLabels parsed = LabelImport::parseDelimited(text, m_target, &notes);
    if (m_onApply)
        m_onApply(parsed, notes);
    accept();
}

void PasteLabelsSheet::syncText()
{
    const QString text = m_editor->toPlainText();
    // A translation may give the singular; untranslated it reads "rows" for every count.
    m_rowCount->setText(tr("%n rows", nullptr, rowCount(text)));
    m_applyButton->setEnabled(!text.trimmed().isEmpty());
}

#include "Views/Labels/LabelsEditor.h"

#include "Controllers/RouterController.h"
#include "Model/LabelStore.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/SectionCard.h"
#include "Theme/Theme.h"

#include <QButtonGroup>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

// Imported labels are bounded like names from a router.
static_assert(LabelImport::maxLabelLength == maxRouterNameLength);

namespace {

constexpr int editorWidth = 560;
constexpr int editorHeight = 660;
constexpr int pasteWidth = 540;
constexpr int pasteHeight = 480;
constexpr int symbolSize = 16;
constexpr int numberWidth = 32;
constexpr int rowSpacing = 12;
constexpr int rowInset = 12;

// A form action: symbol and title on the leading side, in one colour, filling its row.
class FormButton final : public QAbstractButton
{
public:
    FormButton(const QString &title, const QString &symbol, const QColor &color,
               QWidget *parent = nullptr)
        : QAbstractButton(parent)
        , m_symbol(symbol)
        , m_color(color)
    {
        setText(title);
        setCursor(Qt::PointingHandCursor);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override
    {
        return { rowInset * 2 + symbolSize + 8 + fontMetrics().horizontalAdvance(text()), 36 };
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(3, 2, -3, -2);
        if (isDown() || underMouse())
            painter.fillPath(rounded(area, 6),
                             isDown() ? Theme::separator() : Theme::quaternaryFill());
        if (hasFocus()) {
            painter.setPen(QPen(Theme::withAlpha(m_color, 0.6), 2));
            painter.drawPath(rounded(area, 6));
        }
        const QColor color = isEnabled() ? m_color : Theme::tertiaryLabel();
        const int top = (height() - symbolSize) / 2;
        painter.drawPixmap(rowInset, top,
                           Symbols::pixmap(m_symbol, symbolSize, color, devicePixelRatioF()));
        painter.setPen(color);
        const int left = rowInset + symbolSize + 8;
        painter.drawText(QRect(left, 0, width() - left - rowInset, height()),
                         Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
    }

private:
    static QPainterPath rounded(const QRectF &area, qreal radius)
    {
        QPainterPath path;
        path.addRoundedRect(area, radius, radius);
        return path;
    }

    QString m_symbol;
    QColor m_color;
};

// One editable row: its number, its name field and its revert button, with a hairline over
// every row but the first. Painting the line here keeps long port lists light on widgets.
class EditRow final : public QWidget
{
public:
    EditRow(bool topLine, QWidget *parent = nullptr)
        : QWidget(parent)
        , m_topLine(topLine)
    { }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!m_topLine)
            return;
        QPainter painter(this);
        painter.fillRect(QRect(rowInset, 0, width() - rowInset, 1), Theme::separator());
    }

private:
    bool m_topLine;
};

// One segment of the segmented picker.
class Segment final : public QAbstractButton
{
public:
    explicit Segment(const QString &title, QWidget *parent = nullptr)
        : QAbstractButton(parent)
    {
        setText(title);
        setCheckable(true);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return { fontMetrics().horizontalAdvance(text()) + 28, 24 }; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isChecked()) {
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
            painter.fillPath(path, Theme::controlBackground());
            painter.setPen(QPen(Theme::separator(), 1));
            painter.drawPath(path);
        }
        if (hasFocus()) {
            QPainterPath ring;
            ring.addRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
            painter.setPen(QPen(Theme::withAlpha(palette().color(QPalette::Highlight), 0.7), 2));
            painter.drawPath(ring);
        }
        QFont font = this->font();
        font.setWeight(isChecked() ? QFont::DemiBold : QFont::Normal);
        painter.setFont(font);
        painter.setPen(Theme::label());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    }
};

// The track behind the segments.
class SegmentTrack final : public QWidget
{
public:
    explicit SegmentTrack(QWidget *parent = nullptr)
        : QWidget(parent)
    { }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 7, 7);
        painter.fillPath(path, Theme::quaternaryFill());
    }
};

// The rounded well behind the paste editor: a soft fill, a faint inner border.
class TextWell final : public QWidget
{
public:
    explicit TextWell(QWidget *parent = nullptr)
        : QWidget(parent)
    { }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath fill;
        fill.addRoundedRect(QRectF(rect()), 12, 12);
        painter.fillPath(fill, Theme::quaternaryFill());
        QPainterPath border;
        border.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 11.5, 11.5);
        painter.setPen(QPen(Theme::withAlpha(Theme::separator(), 0.5), 1));
        painter.drawPath(border);
    }
};

// The sheet's bottom bar: a hairline, then "Cancel" and the committing button on the right.
QLayout *buttonBar(QPushButton *cancel, QPushButton *commit)
{
    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(hairline());
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(20, 10, 20, 12);
    buttons->setSpacing(8);
    buttons->addStretch();
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    cancel->setMinimumWidth(84);
    buttons->addWidget(cancel);
    commit->setDefault(true);
    commit->setMinimumWidth(84);
    buttons->addWidget(commit);
    column->addLayout(buttons);
    return column;
}

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

QString importedBanner(qsizetype count, qsizetype skipped, const QString &from)
{
    QString banner = QStringLiteral("Imported %1 name%2 from %3")
                         .arg(count)
                         .arg(count == 1 ? QString() : QStringLiteral("s"), from);
    if (skipped > 0)
        banner += QStringLiteral("; skipped %1 beyond port %2")
                      .arg(skipped)
                      .arg(LabelImport::maxPortNumber);
    return banner + u'.';
}

} // namespace

// MARK: Paste sheet

PasteLabelsSheet::PasteLabelsSheet(ApplyAction onApply, QWidget *parent)
    : QDialog(parent)
    , m_onApply(std::move(onApply))
{
    setWindowTitle(QStringLiteral("Paste Labels"));
    setFixedSize(pasteWidth, pasteHeight);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    auto *stack = new QVBoxLayout;
    stack->setContentsMargins(20, 18, 20, 16);
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
    m_editor = new QPlainTextEdit;
    m_editor->setObjectName(QStringLiteral("pasteText"));
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setTabChangesFocus(false);
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
    root->addLayout(buttonBar(cancel, m_applyButton));

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
    if (mime && mime->hasText())
        m_editor->setPlainText(mime->text());
}

void PasteLabelsSheet::apply()
{
    const QString text = m_editor->toPlainText();
    if (text.trimmed().isEmpty())
        return;
    const ParsedLabels parsed = LabelImport::parseDelimited(text, m_target);
    if (m_onApply)
        m_onApply(parsed);
    accept();
}

void PasteLabelsSheet::syncText()
{
    const QString text = m_editor->toPlainText();
    // A translation may give the singular; untranslated it reads "rows" for every count.
    m_rowCount->setText(tr("%n rows", nullptr, rowCount(text)));
    m_applyButton->setEnabled(!text.trimmed().isEmpty());
}

// MARK: Rows

LabelRowsModel::LabelRowsModel(QList<Editable> rows, QObject *parent)
    : QAbstractListModel(parent)
    , m_rows(std::move(rows))
{ }

QList<LabelRowsModel::Editable> LabelRowsModel::rowsFor(const QList<Port> &ports)
{
    QList<Editable> rows;
    rows.reserve(ports.size());
    for (const Port &port : ports)
        rows.append({ port.kind, port.index, port.label, port.label });
    return rows;
}

void LabelRowsModel::replaceRows(QList<Editable> rows)
{
    const auto samePorts = [&] {
        if (rows.size() != m_rows.size())
            return false;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            if (rows.at(i).kind != m_rows.at(i).kind || rows.at(i).index != m_rows.at(i).index)
                return false;
        }
        return true;
    };
    if (!samePorts()) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
        return;
    }
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i) == m_rows.at(i))
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    m_rows = std::move(rows);
    if (first >= 0)
        emit dataChanged(index(int(first)), index(int(last)));
}

void LabelRowsModel::revert(int row)
{
    if (row >= 0 && row < m_rows.size())
        setData(index(row), m_rows.at(row).original, Qt::EditRole);
}

int LabelRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant LabelRowsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Editable &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.name;
    case originalRole:
        return row.original;
    case portIndexRole:
        return row.index;
    case changedRole:
        return row.changed();
    default:
        return {};
    }
}

bool LabelRowsModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    QString &name = m_rows[index.row()].name;
    const QString text = value.toString();
    if (name == text)
        return true;
    name = text;
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags LabelRowsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
}

namespace {

constexpr int revertSize = 24;
constexpr int rowTrailing = 8;
// QLineEdit's own horizontal text margin, so painted names sit where the editor draws them.
constexpr int editorTextMargin = 2;

// A side's rows: sized to all of them inside the sheet's scroll area, so it never scrolls by
// itself and paints only the rows the scroll area shows. Clicking a name edits it at once;
// Tab past the last row (or Shift+Tab before the first) moves on to the next field.
class LabelRowsView final : public QTableView
{
public:
    explicit LabelRowsView(QWidget *parent = nullptr)
        : QTableView(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        horizontalHeader()->hide();
        horizontalHeader()->setStretchLastSection(true);
        verticalHeader()->hide();
        verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        verticalHeader()->setMinimumSectionSize(1);
        setShowGrid(false);
        setSelectionMode(QAbstractItemView::NoSelection);
        setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::EditKeyPressed
                        | QAbstractItemView::AnyKeyPressed);
        setTabKeyNavigation(false);
        setAutoScroll(false);
        setMouseTracking(true);
        setAutoFillBackground(false);
        viewport()->setAutoFillBackground(false);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setRowHeight(int height)
    {
        verticalHeader()->setDefaultSectionSize(height);
        fitRows();
    }

    // The whole list's height; called whenever the row count changes.
    void fitRows()
    {
        const int rows = model() ? model()->rowCount() : 0;
        setFixedHeight(rows * verticalHeader()->defaultSectionSize());
    }

protected:
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override
    {
        const int row = currentIndex().row();
        const bool pastEnd
            = hint == QAbstractItemDelegate::EditNextItem && row == model()->rowCount() - 1;
        const bool beforeStart = hint == QAbstractItemDelegate::EditPreviousItem && row == 0;
        if (!pastEnd && !beforeStart) {
            QTableView::closeEditor(editor, hint);
            return;
        }
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        QWidget::focusNextPrevChild(pastEnd);
    }

    // Tab into the list edits its first name, Shift+Tab its last.
    void focusInEvent(QFocusEvent *event) override
    {
        const int rows = model() ? model()->rowCount() : 0;
        const bool tabbed
            = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        if (tabbed && rows > 0 && state() != EditingState) {
            const QModelIndex target
                = model()->index(event->reason() == Qt::TabFocusReason ? 0 : rows - 1, 0);
            if (target == currentIndex())
                edit(target);
            else
                setCurrentIndex(target);
        }
        QTableView::focusInEvent(event);
    }

    // Return in a name field is "Done", as in any other field of the sheet.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->ignore();
            return;
        }
        QTableView::keyPressEvent(event);
    }

    // The revert button of a changed row: a press and a release on it put the original back.
    QModelIndex revertAt(const QPoint &pos) const
    {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid() || !index.data(LabelRowsModel::changedRole).toBool()
            || !LabelRowDelegate::revertRect(visualRect(index)).contains(pos))
            return {};
        return index;
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        const QPoint pos = event->position().toPoint();
        if (event->button() == Qt::LeftButton) {
            m_pressedRevert = revertAt(pos);
            if (m_pressedRevert.isValid())
                return;
        }
        const QModelIndex before = currentIndex();
        QTableView::mousePressEvent(event);
        const QModelIndex index = indexAt(pos);
        if (event->button() == Qt::LeftButton && index.isValid() && index == before
            && state() != EditingState
            && LabelRowDelegate::nameRect(visualRect(index)).contains(pos))
            edit(index);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (m_pressedRevert.isValid()) {
            const QModelIndex pressed = m_pressedRevert;
            m_pressedRevert = QPersistentModelIndex();
            if (event->button() == Qt::LeftButton
                && revertAt(event->position().toPoint()) == pressed)
                static_cast<LabelRowsModel *>(model())->revert(pressed.row());
            return;
        }
        QTableView::mouseReleaseEvent(event);
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (!revertAt(event->position().toPoint()).isValid())
            QTableView::mouseDoubleClickEvent(event);
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        QTableView::mouseMoveEvent(event);
        const QPoint pos = event->position().toPoint();
        const QModelIndex index = indexAt(pos);
        const QRect row = visualRect(index);
        viewport()->setCursor(index.isValid() && LabelRowDelegate::nameRect(row).contains(pos)
                                  ? Qt::IBeamCursor
                                  : Qt::ArrowCursor);
        // The revert button's hover look belongs to a part of the row.
        const bool overRevert = index.isValid() && LabelRowDelegate::revertRect(row).contains(pos);
        if (overRevert != m_overRevert || index != m_hovered) {
            viewport()->update(visualRect(m_hovered));
            viewport()->update(row);
            m_overRevert = overRevert;
            m_hovered = index;
        }
    }

    void leaveEvent(QEvent *event) override
    {
        QTableView::leaveEvent(event);
        viewport()->update(visualRect(m_hovered));
        m_hovered = QPersistentModelIndex();
        m_overRevert = false;
    }

    // The sheet's scroll area scrolls, not the list.
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }

private:
    QPersistentModelIndex m_hovered;
    QPersistentModelIndex m_pressedRevert;
    bool m_overRevert = false;
};

} // namespace

LabelRowDelegate::LabelRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , m_numberFont(Theme::monospacedDigits(Theme::font(Theme::TextStyle::footnote, QFont::Bold)))
    , m_revertIcon(Symbols::pixmap(QStringLiteral("arrow.uturn.backward"), symbolSize,
                                   Theme::secondaryLabel(), qGuiApp->devicePixelRatio()))
{
    // As tall as a name field beside a small tool button, with the row's own margins.
    QLineEdit probe;
    probe.setFrame(false);
    m_rowHeight = qMax(probe.sizeHint().height(), revertSize) + 6;
}

QRect LabelRowDelegate::nameRect(const QRect &row)
{
    const int left = row.left() + rowInset + numberWidth + rowSpacing;
    const int right = row.right() - rowTrailing - revertSize - rowSpacing;
    return QRect(QPoint(left, row.top() + 3), QPoint(right, row.bottom() - 3));
}

QRect LabelRowDelegate::revertRect(const QRect &row)
{
    return QRect(row.right() - rowTrailing - revertSize + 1,
                 row.top() + (row.height() - revertSize) / 2, revertSize, revertSize);
}

void LabelRowDelegate::refreshEditor()
{
    if (m_editor && m_editorIndex.isValid())
        setEditorData(m_editor, m_editorIndex);
}

void LabelRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    const QRect row = option.rect;
    painter->save();
    if (index.row() > 0)
        painter->fillRect(QRect(row.left() + rowInset, row.top(), row.width() - rowInset, 1),
                          Theme::separator());

    painter->setFont(m_numberFont);
    painter->setPen(Theme::secondaryLabel());
    painter->drawText(
        QRect(row.left() + rowInset, row.top(), numberWidth, row.height()),
        Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
        QString::number(qint64(index.data(LabelRowsModel::portIndexRole).toInt()) + 1));

    const QWidget *widget = option.widget;
    const QFont font = widget ? widget->font() : option.font;
    painter->setFont(font);
    const QString name = index.data(Qt::DisplayRole).toString();
    const QRect text = nameRect(row).adjusted(editorTextMargin, 0, -editorTextMargin, 0);
    if (name.isEmpty()) {
        painter->setPen(option.palette.color(QPalette::PlaceholderText));
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QStringLiteral("Name"));
    } else {
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QFontMetrics(font).elidedText(name, Qt::ElideRight, text.width()));
    }

    if (index.data(LabelRowsModel::changedRole).toBool()) {
        const QRect button = revertRect(row);
        if ((option.state & QStyle::State_MouseOver) && widget) {
            const QPoint cursor = widget->mapFromGlobal(QCursor::pos());
            if (button.contains(cursor)) {
                painter->setRenderHint(QPainter::Antialiasing);
                QPainterPath path;
                path.addRoundedRect(QRectF(button).adjusted(1, 1, -1, -1), 4, 4);
                painter->fillPath(path, Theme::quaternaryFill());
            }
        }
        const QSize icon = m_revertIcon.deviceIndependentSize().toSize();
        painter->drawPixmap(button.left() + (button.width() - icon.width()) / 2,
                            button.top() + (button.height() - icon.height()) / 2, m_revertIcon);
    }
    painter->restore();
}

QSize LabelRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return { rowInset + numberWidth + rowSpacing + 120 + rowSpacing + revertSize + rowTrailing,
             m_rowHeight };
}

QWidget *LabelRowDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                        const QModelIndex &index) const
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QStringLiteral("nameField"));
    field->setPlaceholderText(QStringLiteral("Name"));
    field->setFrame(false);
    field->setAutoFillBackground(false);
    // Every keystroke reaches the model, as the sheet's row buffers hold what is typed.
    connect(field, &QLineEdit::textEdited, this,
            [this, field] { emit const_cast<LabelRowDelegate *>(this)->commitData(field); });
    m_editor = field;
    m_editorIndex = index;
    return field;
}

void LabelRowDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *field = static_cast<QLineEdit *>(editor);
    const QString name = index.data(Qt::EditRole).toString();
    // The model echoes each keystroke back; leave the cursor where it is.
    if (field->text() != name)
        field->setText(name);
}

void LabelRowDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                    const QModelIndex &index) const
{
    model->setData(index, static_cast<QLineEdit *>(editor)->text(), Qt::EditRole);
}

void LabelRowDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                            const QModelIndex &) const
{
    editor->setGeometry(nameRect(option.rect));
}

bool LabelRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                 const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && index.data(LabelRowsModel::changedRole).toBool()
        && revertRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), QStringLiteral("Revert"), view->viewport(),
                           revertRect(option.rect));
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

bool LabelRowDelegate::eventFilter(QObject *object, QEvent *event)
{
    // Esc in a name field cancels the sheet, as it does everywhere else in it.
    if (event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
        return false;
    return QStyledItemDelegate::eventFilter(object, event);
}

// MARK: Labels editor

LabelsEditor::LabelsEditor(RouterController &controller, Options options, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Edit Labels"));
    setFixedSize(editorWidth, editorHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Highlight, m_controller.connection().tint());
    setPalette(pal);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *top = new QHBoxLayout;
    top->setContentsMargins(20, 12, 14, 10);
    auto *heading = plainLabel(windowTitle());
    Theme::apply(heading, Theme::TextStyle::headline, QFont::DemiBold);
    top->addWidget(heading);
    top->addStretch();
    top->addWidget(buildImportExportMenu());
    root->addLayout(top);
    root->addWidget(hairline());

    m_form = new QWidget;
    m_form->setObjectName(QStringLiteral("labelsForm"));
    auto *sections = new QVBoxLayout(m_form);
    sections->setContentsMargins(20, 16, 20, 20);
    sections->setSpacing(18);
    sections->addWidget(buildImportExportSection());
    sections->addWidget(buildBanner());
    sections->addWidget(buildSide(m_sources, m_controller.state().sources,
                                  QStringLiteral("Sources"),
                                  QStringLiteral("arrow.right.circle.fill")));
    sections->addWidget(buildSide(m_dests, m_controller.state().destinations,
                                  QStringLiteral("Destinations"),
                                  QStringLiteral("arrow.down.right.circle.fill")));
    sections->addStretch();

    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("labelsScroll"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidget(m_form);
    root->addWidget(m_scroll, 1);

    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("doneButton"));
    connect(done, &QPushButton::clicked, this, &LabelsEditor::applyAll);
    root->addLayout(buttonBar(cancel, done));
}

QWidget *LabelsEditor::buildImportExportSection()
{
    const QColor tint = m_controller.connection().tint();
    struct Action
    {
        QString title;
        QString symbol;
        QString name;
        QColor color;
        void (LabelsEditor::*run)();
    };
    const QList<Action> actions {
        { QStringLiteral("Paste from Spreadsheet…"), QStringLiteral("doc.on.clipboard"),
          QStringLiteral("pasteButton"), tint, &LabelsEditor::showPasteSheet },
        { QStringLiteral("Import File…"), QStringLiteral("square.and.arrow.down"),
          QStringLiteral("importButton"), tint, &LabelsEditor::chooseImportFile },
        { QStringLiteral("Copy as XML"), QStringLiteral("doc.text"),
          QStringLiteral("copyXmlButton"), tint, &LabelsEditor::copyAsXml },
        { QStringLiteral("Copy as Spreadsheet"), QStringLiteral("tablecells"),
          QStringLiteral("copyTsvButton"), tint, &LabelsEditor::copyAsSpreadsheet },
        { QStringLiteral("Reset to Device Names"), QStringLiteral("arrow.uturn.backward"),
          QStringLiteral("resetButton"), Theme::red(), &LabelsEditor::resetToDeviceNames },
    };
    auto *block = new QWidget;
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    auto *title = sectionTitle(QStringLiteral("Import / Export"));
    title->setContentsMargins(rowInset, 0, rowInset, 0);
    layout->addWidget(title);
    auto *panel = new SectionCard;
    auto *rows = new QVBoxLayout(panel);
    rows->setContentsMargins(0, 2, 0, 2);
    rows->setSpacing(0);
    for (const Action &action : actions) {
        if (rows->count() > 0) {
            auto *line = new EditRow(true);
            line->setFixedHeight(1);
            rows->addWidget(line);
        }
        auto *button = new FormButton(action.title, action.symbol, action.color);
        button->setObjectName(action.name);
        connect(button, &QAbstractButton::clicked, this, action.run);
        rows->addWidget(button);
    }
    layout->addWidget(panel);
    return block;
}

QToolButton *LabelsEditor::buildImportExportMenu()
{
    auto *button = new QToolButton;
    button->setObjectName(QStringLiteral("importExportMenuButton"));
    button->setText(QStringLiteral("Import / Export"));
    button->setIcon(Symbols::icon(QStringLiteral("square.and.arrow.up.on.square")));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAutoRaise(true);

    auto *menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("importExportMenu"));
    const auto add = [this, menu](const QString &title, const QString &symbol,
                                  void (LabelsEditor::*run)(), const QColor &color = {}) {
        QAction *action = menu->addAction(Symbols::icon(symbol, color), title);
        connect(action, &QAction::triggered, this, run);
    };
    add(QStringLiteral("Paste from Spreadsheet…"), QStringLiteral("doc.on.clipboard"),
        &LabelsEditor::showPasteSheet);
    add(QStringLiteral("Import File…"), QStringLiteral("square.and.arrow.down"),
        &LabelsEditor::chooseImportFile);
    menu->addSeparator();
    add(QStringLiteral("Copy as XML"), QStringLiteral("doc.text"), &LabelsEditor::copyAsXml);
    add(QStringLiteral("Copy as Spreadsheet"), QStringLiteral("tablecells"),
        &LabelsEditor::copyAsSpreadsheet);
    menu->addSeparator();
    add(QStringLiteral("Reset to Device Names"), QStringLiteral("arrow.uturn.backward"),
        &LabelsEditor::resetToDeviceNames, Theme::red());
    button->setMenu(menu);
    return button;
}

QWidget *LabelsEditor::buildBanner()
{
    m_banner = new SectionCard;
    m_banner->setObjectName(QStringLiteral("banner"));
    auto *layout = new QHBoxLayout(m_banner);
    layout->setContentsMargins(rowInset, 9, rowInset, 9);
    layout->setSpacing(8);
    const int size = qRound(Theme::pointSize(Theme::TextStyle::callout) * 1.25);
    layout->addWidget(symbolLabel(QStringLiteral("checkmark.circle.fill"), size, Theme::green()), 0,
                      Qt::AlignTop);
    m_bannerText = plainLabel();
    m_bannerText->setObjectName(QStringLiteral("bannerText"));
    m_bannerText->setWordWrap(true);
    Theme::apply(m_bannerText, Theme::TextStyle::callout);
    setForeground(m_bannerText, Theme::green());
    layout->addWidget(m_bannerText, 1);
    m_banner->hide();
    return m_banner;
}

QWidget *LabelsEditor::buildSide(Side &side, const QList<Port> &ports, const QString &title,
                                 const QString &symbol)
{
    auto *block = new QWidget;
    block->setObjectName(title.toLower() + QStringLiteral("Section"));
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(rowInset, 0, rowInset, 0);
    header->setSpacing(6);
    header->addWidget(symbolLabel(symbol, 13, Theme::secondaryLabel()));
    header->addWidget(sectionTitle(title));
    header->addStretch();
    side.count = plainLabel();
    side.count->setObjectName(title.toLower() + QStringLiteral("Count"));
    side.count->setFont(Theme::monospacedDigits(Theme::font(Theme::TextStyle::caption)));
    setForeground(side.count, Theme::secondaryLabel());
    header->addWidget(side.count);
    layout->addLayout(header);

    side.panel = new SectionCard;
    auto *panelLayout = new QVBoxLayout(side.panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    side.model = new LabelRowsModel(LabelRowsModel::rowsFor(ports), this);
    side.delegate = new LabelRowDelegate(this);
    auto *view = new LabelRowsView;
    view->setObjectName(title.toLower() + QStringLiteral("List"));
    view->setItemDelegate(side.delegate);
    view->setModel(side.model);
    view->setRowHeight(side.delegate->rowHeight());
    side.view = view;
    panelLayout->addWidget(view);
    layout->addWidget(side.panel);

    // Keyboard moves through the rows inside the sheet's scroll area, so follow them there.
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this, view](const QModelIndex &current) {
                if (!current.isValid())
                    return;
                const QRect row = view->visualRect(current);
                const QPoint centre = view->viewport()->mapTo(m_form, row.center());
                m_scroll->ensureVisible(centre.x(), centre.y(), 0, row.height());
            });
    syncSide(side);
    return block;
}

void LabelsEditor::syncSide(Side &side)
{
    static_cast<LabelRowsView *>(side.view)->fitRows();
    side.count->setText(QString::number(side.model->rowCount()));
    side.panel->setVisible(side.model->rowCount() > 0);
}

void LabelsEditor::showPasteSheet()
{
    auto *sheet = new PasteLabelsSheet(
        [editor = QPointer(this)](const ParsedLabels &labels) {
            if (editor)
                editor->mergeImported(labels, QStringLiteral("spreadsheet"));
        },
        this);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void LabelsEditor::chooseImportFile()
{
    if (m_options.chooseFile) {
        const QString path = m_options.chooseFile();
        if (!path.isEmpty())
            importFile(path);
        return;
    }
    auto *dialog = new QFileDialog(this);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters({ QStringLiteral("Label files (*.xml *.txt *.csv *.tsv)"),
                             QStringLiteral("All files (*)") });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &LabelsEditor::importFile);
    dialog->open();
}

void LabelsEditor::importFile(const QString &path)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    const auto bytes = LabelImport::readFile(path);
    if (!bytes) {
        setBanner(QStringLiteral("Couldn't read %1.").arg(fileName));
        return;
    }
    // An XML document that breaks off still gives what was read before the break.
    const ParsedLabels parsed = info.suffix().toLower() == QLatin1String("xml")
        ? LabelXMLDelegate::parse(*bytes)
        : LabelImport::parseDelimited(QString::fromUtf8(*bytes), DelimitedTarget::both);
    mergeImported(parsed, fileName);
}

void LabelsEditor::mergeImported(ParsedLabels labels, const QString &from)
{
    // Counted before the store drops blank names, as the operator pasted them.
    const qsizetype skipped = LabelImport::bound(labels);
    m_controller.labelStore().merge(labels, m_controller.id());
    m_controller.applyLabelOverrides();
    const qsizetype count = labels.sources.size() + labels.destinations.size();
    reloadBuffers(labels);
    setBanner(importedBanner(count, skipped, from));
}

void LabelsEditor::copyAsXml()
{
    QGuiApplication::clipboard()->setText(LabelExport::xml(m_controller.state()));
    setBanner(QStringLiteral("Copied XML to clipboard."));
}

void LabelsEditor::copyAsSpreadsheet()
{
    QGuiApplication::clipboard()->setText(LabelExport::tsv(m_controller.state()));
    setBanner(QStringLiteral("Copied TSV to clipboard."));
}

void LabelsEditor::resetToDeviceNames()
{
    m_controller.labelStore().removeAll(m_controller.id());
    m_controller.applyLabelOverrides();
    reloadBuffers(std::nullopt);
    setBanner(QStringLiteral("Reset to device names."));
}

void LabelsEditor::applyAll()
{
    for (const Side *side : { &m_sources, &m_dests }) {
        for (const Editable &row : side->model->rows()) {
            if (row.changed())
                m_controller.rename(row.kind, row.index, row.name);
        }
    }
    accept();
}

void LabelsEditor::reloadBuffers(const std::optional<ParsedLabels> &imported)
{
    const auto rebuild = [this](Side &side, const QList<Port> &ports,
                                const QMap<qint64, QString> *importedIndices) {
        QHash<int, QString> edits;
        for (const Editable &row : side.model->rows()) {
            if (row.changed())
                edits.insert(row.index, row.name);
        }
        QList<Editable> rows = LabelRowsModel::rowsFor(ports);
        if (!edits.isEmpty()) {
            for (Editable &row : rows) {
                const auto edit = edits.constFind(row.index);
                if (edit != edits.constEnd()
                    && !(importedIndices && importedIndices->contains(row.index)))
                    row.name = *edit;
            }
        }
        side.model->replaceRows(std::move(rows));
        side.delegate->refreshEditor();
        syncSide(side);
    };
    rebuild(m_sources, m_controller.state().sources, imported ? &imported->sources : nullptr);
    rebuild(m_dests, m_controller.state().destinations,
            imported ? &imported->destinations : nullptr);
}

void LabelsEditor::setBanner(const QString &text)
{
    m_bannerText->setText(text);
    m_banner->show();
}

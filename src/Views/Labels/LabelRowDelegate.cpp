#include "Views/Labels/LabelRowDelegate.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Theme.h"
#include "Views/Labels/LabelRowsModel.h"
#include "Views/Labels/LabelsFormKit.h"

#include <QAbstractItemView>
#include <QCursor>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

using namespace LabelsFormKit;

namespace {

constexpr int numberWidth = 32;
constexpr int rowSpacing = 12;
constexpr int revertSize = 24;
constexpr int rowTrailing = 8;
// QLineEdit's own horizontal text margin, so painted names sit where the editor draws them.
constexpr int editorTextMargin = 2;

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
    // The field is what a screen reader meets: the port it names, and how to revert it.
    if (const auto *rows = qobject_cast<const LabelRowsModel *>(index.model())) {
        const bool source = rows->rows().at(index.row()).kind == PortKind::source;
        field->setAccessibleName(
            (source ? QStringLiteral("Source %1") : QStringLiteral("Destination %1"))
                .arg(qint64(index.data(LabelRowsModel::portIndexRole).toInt()) + 1));
    }
    field->setAccessibleDescription(index.data(Qt::AccessibleDescriptionRole).toString());
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
    // Esc in a name field cancels the sheet, and Return is its "Done", as everywhere else in
    // it. The item view's own Return handling would commit the field later, from the event
    // loop: after "Done" had closed it, through a list it no longer belongs to (or, once the
    // rows were rebuilt, to whichever row a new field took). Every keystroke is in the model
    // already, and the field closes with the sheet.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)
            return false;
    }
    if (event->type() == QEvent::KeyPress && object == m_editor && m_editorIndex.isValid()
        && static_cast<QKeyEvent *>(event)->keyCombination() == LabelRowsModel::revertKey) {
        // The model's change comes back into the field through setEditorData().
        if (auto *rows = qobject_cast<LabelRowsModel *>(
                const_cast<QAbstractItemModel *>(m_editorIndex.model())))
            rows->revert(m_editorIndex.row());
        return true;
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

#include "Views/Labels/LabelsFormKit.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace LabelsFormKit {

FormButton::FormButton(const QString &title, const QString &symbol, const QColor &color,
                       QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_color(color)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

QSize FormButton::sizeHint() const
{
    return { rowInset * 2 + symbolSize + 8 + fontMetrics().horizontalAdvance(text()), 36 };
}

void FormButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(3, 2, -3, -2);
    if (isDown() || underMouse())
        painter.fillPath(rounded(area, 6), isDown() ? Theme::separator() : Theme::quaternaryFill());
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

void FormButton::keyPressEvent(QKeyEvent *event)
{
    // Return on a focused action runs it, as on a push button; it must not reach the sheet's
    // default button and close the sheet instead.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

QPainterPath FormButton::rounded(const QRectF &area, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(area, radius, radius);
    return path;
}

EditRow::EditRow(bool topLine, QWidget *parent)
    : QWidget(parent)
    , m_topLine(topLine)
{ }

void EditRow::paintEvent(QPaintEvent *)
{
    if (!m_topLine)
        return;
    QPainter painter(this);
    painter.fillRect(QRect(rowInset, 0, width() - rowInset, 1), Theme::separator());
}

Segment::Segment(const QString &title, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(title);
    setCheckable(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Segment::sizeHint() const
{
    return { fontMetrics().horizontalAdvance(text()) + 28, 24 };
}

void Segment::paintEvent(QPaintEvent *)
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

SegmentTrack::SegmentTrack(QWidget *parent)
    : QWidget(parent)
{ }

void SegmentTrack::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(path, Theme::quaternaryFill());
}

TextWell::TextWell(QWidget *parent)
    : QWidget(parent)
{ }

void TextWell::paintEvent(QPaintEvent *)
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

} // namespace LabelsFormKit

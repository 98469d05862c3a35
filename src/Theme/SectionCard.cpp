#include "Theme/SectionCard.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

QVBoxLayout *SectionCard::rows()
{
    if (auto *column = qobject_cast<QVBoxLayout *>(layout()))
        return column;
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

void SectionCard::addRow(QWidget *row)
{
    QVBoxLayout *column = rows();
    if (column->count() > 0)
        column->addWidget(separator(12));
    column->addWidget(row);
}

QWidget *SectionCard::separator(int indent)
{
    QWidget *line = hairline();
    auto *holder = new QWidget;
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(indent, 0, 0, 0);
    layout->addWidget(line);
    return holder;
}

void SectionCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(path, Theme::controlBackground());
    painter.setPen(QPen(Theme::separator(), 1));
    painter.drawPath(path);
}

QLabel *sectionTitle(const QString &text)
{
    auto *title = plainLabel(text);
    QFont font = Theme::font(Theme::TextStyle::caption, QFont::DemiBold);
    font.setCapitalization(QFont::AllUppercase);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    title->setFont(font);
    setForeground(title, Theme::secondaryLabel());
    return title;
}

QLabel *symbolLabel(const QString &symbol, int size, const QColor &color, const QWidget *forScreen)
{
    auto *label = new QLabel;
    const qreal ratio = (forScreen ? forScreen : label)->devicePixelRatioF();
    label->setPixmap(Symbols::pixmap(symbol, size, color, ratio));
    label->setFixedSize(size, size);
    return label;
}

#include "Theme/PaintedText.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRectF>

namespace PaintedText {
namespace {

constexpr qsizetype kKept = 512;

QStringList &record()
{
    static QStringList texts;
    return texts;
}

void remember(const QString &text)
{
    QStringList &texts = record();
    // A long list of long names cut on every frame must not grow without end.
    if (texts.size() >= kKept)
        texts.remove(0, texts.size() - kKept + 1);
    texts.append(text);
}

} // namespace

QString elided(const QFontMetrics &metrics, const QString &text, Qt::TextElideMode mode, int width)
{
    const QString shown = metrics.elidedText(text, mode, std::max(width, 0));
    if (shown != text)
        remember(text);
    return shown;
}

void draw(QPainter &painter, const QRectF &rect, int flags, const QString &text,
          Qt::TextElideMode mode)
{
    // Rounded down: a text that needs a fraction more than the rect has is drawn cut by Qt.
    const QString shown = elided(painter.fontMetrics(), text, mode, int(rect.width()));
    painter.drawText(rect, flags | Qt::TextSingleLine, shown);
}

QStringList elidedTexts()
{
    return record();
}

void resetElided()
{
    record().clear();
}

} // namespace PaintedText

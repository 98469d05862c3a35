#pragma once

#include <QString>
#include <QStringList>
#include <Qt>

class QFontMetrics;
class QPainter;
class QRectF;

// Text that a delegate or a painted cell draws itself is out of reach of any widget-size check,
// so every cut it makes goes through here and is remembered: a check can then ask which texts
// did not fit (a port number or a fixed word must never be among them).
namespace PaintedText {

// Draws `text` in `rect` with the alignment `flags` on one line; text wider than the rect is
// elided with `mode` first, and that cut is recorded.
void draw(QPainter &painter, const QRectF &rect, int flags, const QString &text,
          Qt::TextElideMode mode = Qt::ElideRight);

// QFontMetrics::elidedText that records the cut when the text did not fit in `width`.
QString elided(const QFontMetrics &metrics, const QString &text, Qt::TextElideMode mode, int width);

// The whole texts cut since the last reset, oldest first; only the latest few hundred are kept.
QStringList elidedTexts();
void resetElided();

} // namespace PaintedText

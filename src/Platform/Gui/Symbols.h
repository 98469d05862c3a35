#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Symbol images by name ("plus", "trash", "waveform.path"), drawn from our own SVG files.
// Glyphs are drawn in black (details that must stay light in white) and take their colour
// when painted, so one file serves every tint.
namespace Symbols {

// Whether a drawing exists for `name`.
bool exists(const QString &name);

// An icon that draws `name` in `color`; an invalid colour follows the palette's text colour
// (dimmed when the icon is disabled). An unknown name gives an empty icon.
QIcon icon(const QString &name, const QColor &color = QColor());
// The same for an entry of a menu or pop-up list: white while the entry is highlighted, as a
// coloured glyph would vanish on the highlight's fill.
QIcon entryIcon(const QString &name, const QColor &color);

// `name` drawn in `color` fitting a square of `size` logical pixels at `devicePixelRatio`.
QPixmap pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio = 1.0);

// The application's own icon at every size.
QIcon applicationIcon();
QPixmap applicationIconPixmap(int size, qreal devicePixelRatio = 1.0);

} // namespace Symbols

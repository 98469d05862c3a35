#pragma once

#include <QColor>
#include <QFont>

#include "Model/RouterModels.h"

class QPainter;
class QRectF;
class QWidget;

// The one place that maps the interface's text styles and semantic colours onto Qt fonts and
// the palette. Views ask for a role ("caption", "secondary") instead of hard-coding sizes, so
// the whole application keeps one typographic scale.
namespace Theme {

enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    body,
    callout,
    subheadline,
    footnote,
    caption,
    caption2
};

// The font of a text style, optionally at another weight.
QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
// The same font with digits of equal width, for version lines and counters.
QFont monospacedDigits(QFont font);
// Point size of a text style, for symbol images sized like text.
qreal pointSize(TextStyle style);

// Semantic colours, derived from the current palette so that light and dark themes both work.
QColor label();
QColor secondaryLabel();
QColor tertiaryLabel();
QColor separator();
QColor quaternaryFill();
QColor controlBackground();
QColor windowBackground();
QColor accent();
// The keyboard's ring: one clearly visible colour for every control that draws its own.
QColor focusRing();
// Strokes the ring 2 points wide just inside `bounds`.
void paintFocusRing(QPainter &painter, const QRectF &bounds, qreal radius);

// Named system colours.
QColor green();
QColor orange();
QColor red();
QColor blue();
QColor purple();

// The colour that states a connection status (dot, pill text and pill background).
QColor statusColor(const ConnectionStatus &status);
// "Online", "Connecting…", "Offline", "Error".
QString statusLabel(const ConnectionStatus &status);

// `color` at `alpha` (0…1) opacity.
QColor withAlpha(QColor color, qreal alpha);

// Sets a widget's font and foreground to a style in one call.
void apply(QWidget *widget, TextStyle style, QFont::Weight weight = QFont::Normal);
void applySecondary(QWidget *widget, TextStyle style, QFont::Weight weight = QFont::Normal);

// Installs the application-wide palette and base font; called once at start-up.
void installApplicationLook();

} // namespace Theme

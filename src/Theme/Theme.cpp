#include "Theme/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolButton>
#include <QWidget>

namespace Theme {

namespace {

// The base style with one change: a button that has the keyboard wears a ring. The base
// style marks a focused push button with the outline it also gives the default button, so the
// sheets' Save, Apply and Done looked the same with and without the keyboard, and frames other
// buttons in a pale line that the toolbar's tint all but hides.
class FocusRingStyle final : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_FrameFocusRect || !qobject_cast<const QAbstractButton *>(widget)) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        if (!(option->state & State_KeyboardFocusChange))
            return;
        // Around a tool button, not inside it, where it would crowd the symbol.
        const bool tool = qobject_cast<const QToolButton *>(widget);
        painter->save();
        paintFocusRing(*painter, QRectF(tool ? widget->rect() : option->rect), 4);
        painter->restore();
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_PushButton && (option->state & State_HasFocus)
            && (option->state & State_KeyboardFocusChange)) {
            painter->save();
            paintFocusRing(*painter, QRectF(option->rect), 4);
            painter->restore();
        }
    }
};

// Sizes in pixels, the desktop scale the layouts are drawn for.
qreal sizeOf(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle:
        return 26;
    case TextStyle::title:
        return 22;
    case TextStyle::title2:
        return 17;
    case TextStyle::title3:
        return 15;
    case TextStyle::headline:
        return 13;
    case TextStyle::body:
        return 13;
    case TextStyle::callout:
        return 12;
    case TextStyle::subheadline:
        return 11;
    case TextStyle::footnote:
        return 10;
    case TextStyle::caption:
        return 10;
    case TextStyle::caption2:
        return 10;
    }
    return 13;
}

QStringList preferredFamilies()
{
    static const QStringList families = [] {
        const QStringList wanted { QStringLiteral("Inter"), QStringLiteral("Cantarell"),
                                   QStringLiteral("Noto Sans"), QStringLiteral("Nimbus Sans"),
                                   QStringLiteral("DejaVu Sans") };
        const QStringList installed = QFontDatabase::families();
        QStringList found;
        for (const QString &family : wanted) {
            if (installed.contains(family))
                found.append(family);
        }
        return found;
    }();
    return families;
}

QPalette palette()
{
    return qApp ? QApplication::palette() : QPalette();
}

} // namespace

QFont font(TextStyle style, QFont::Weight weight)
{
    QFont result = qApp ? QApplication::font() : QFont();
    const QStringList families = preferredFamilies();
    if (!families.isEmpty())
        result.setFamilies(families);
    result.setPixelSize(int(sizeOf(style) + 1)); // the fallback faces run a little small
    if (style == TextStyle::headline && weight == QFont::Normal)
        weight = QFont::DemiBold;
    result.setWeight(weight);
    return result;
}

QFont monospacedDigits(QFont font)
{
    // The faces we ship with draw digits at one width already; keep the hook in one place.
    font.setStyleHint(font.styleHint(), QFont::PreferQuality);
    return font;
}

qreal pointSize(TextStyle style)
{
    return sizeOf(style) + 1;
}

QColor label()
{
    return palette().color(QPalette::WindowText);
}

QColor secondaryLabel()
{
    return withAlpha(label(), 0.55);
}

QColor tertiaryLabel()
{
    return withAlpha(label(), 0.3);
}

QColor separator()
{
    return withAlpha(label(), 0.12);
}

QColor quaternaryFill()
{
    return withAlpha(label(), 0.08);
}

QColor controlBackground()
{
    return palette().color(QPalette::Base);
}

QColor windowBackground()
{
    return palette().color(QPalette::Window);
}

QColor accent()
{
    return blue();
}

QColor focusRing()
{
    return accent();
}

void paintFocusRing(QPainter &painter, const QRectF &bounds, qreal radius)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(focusRing(), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), radius, radius);
}

QColor green()
{
    return QColor(0x28, 0xcd, 0x41);
}

QColor orange()
{
    return QColor(0xff, 0x95, 0x00);
}

QColor red()
{
    return QColor(0xff, 0x3b, 0x30);
}

QColor blue()
{
    return QColor(0x00, 0x7a, 0xff);
}

QColor purple()
{
    return QColor(0xaf, 0x52, 0xde);
}

QColor statusColor(const ConnectionStatus &status)
{
    switch (status.kind()) {
    case ConnectionStatus::connected:
        return green();
    case ConnectionStatus::connecting:
        return orange();
    case ConnectionStatus::failed:
        return red();
    case ConnectionStatus::disconnected:
        break;
    }
    return secondaryLabel();
}

QString statusLabel(const ConnectionStatus &status)
{
    switch (status.kind()) {
    case ConnectionStatus::connected:
        return QStringLiteral("Online");
    case ConnectionStatus::connecting:
        return QStringLiteral("Connecting\u2026");
    case ConnectionStatus::failed:
        return QStringLiteral("Error");
    case ConnectionStatus::disconnected:
        break;
    }
    return QStringLiteral("Offline");
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

void apply(QWidget *widget, TextStyle style, QFont::Weight weight)
{
    widget->setFont(font(style, weight));
}

void applySecondary(QWidget *widget, TextStyle style, QFont::Weight weight)
{
    apply(widget, style, weight);
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, secondaryLabel());
    pal.setColor(QPalette::Text, secondaryLabel());
    widget->setPalette(pal);
}

void installApplicationLook()
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(new FocusRingStyle(fusion));

    QPalette pal;
    const QColor text(0x1d, 0x1d, 0x1f);
    pal.setColor(QPalette::Window, QColor(0xf2, 0xf2, 0xf4));
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::AlternateBase, QColor(0xf6, 0xf6, 0xf8));
    pal.setColor(QPalette::Text, text);
    pal.setColor(QPalette::Button, QColor(0xfb, 0xfb, 0xfc));
    pal.setColor(QPalette::ButtonText, text);
    pal.setColor(QPalette::Highlight, accent());
    pal.setColor(QPalette::HighlightedText, Qt::white);
    pal.setColor(QPalette::Link, accent());
    pal.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xf6));
    pal.setColor(QPalette::ToolTipText, text);
    pal.setColor(QPalette::PlaceholderText, withAlpha(text, 0.35));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, withAlpha(text, 0.35));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, withAlpha(text, 0.35));
    pal.setColor(QPalette::Disabled, QPalette::Text, withAlpha(text, 0.35));
    QApplication::setPalette(pal);
    QApplication::setFont(font(TextStyle::body));
}

} // namespace Theme

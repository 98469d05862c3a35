#pragma once

#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/PaintedText.h"
#include "Theme/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <cmath>

// A button drawn in the system's capsule and circle shapes: "prominent" is filled with the
// tint, "bordered" a light wash of it with the tint as text colour.
class PillButton final : public QPushButton
{
public:
    enum class Look { prominent, bordered };
    enum class Size { small, regular };

    PillButton(Look look, bool circular, Size size = Size::small, QWidget *parent = nullptr)
        : QPushButton(parent)
        , m_look(look)
        , m_circular(circular)
        , m_height(size == Size::small ? 22 : 28)
    {
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
        setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setAutoDefault(false);
    }

    void setTint(const QColor &tint)
    {
        m_tint = tint;
        update();
    }
    void setLook(Look look)
    {
        m_look = look;
        update();
    }
    void setSymbol(const QString &symbol)
    {
        m_symbol = symbol;
        updateGeometry();
        update();
    }
    // Drawn literally; the button's own text (for accessibility and menus) is escaped.
    void setLabel(const QString &label)
    {
        m_label = shownName(label);
        setText(escapedMnemonic(label));
        updateGeometry();
        update();
    }
    QString label() const { return m_label; }

    // As wide as the whole label, within maximumWidth(): a creator that bounds the width gets
    // the label cut with "…" to fit.
    QSize sizeHint() const override
    {
        if (m_circular)
            return { m_height + 2, m_height + 2 };
        int width = 2 * padding() + labelWidth();
        if (!m_symbol.isEmpty())
            width += iconSize() + (m_label.isEmpty() ? 0 : 5);
        return { std::min(width, maximumWidth()), m_height };
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled())
            painter.setOpacity(0.42);
        const QColor tint = m_tint.isValid() ? m_tint : Theme::accent();
        QColor fill = m_look == Look::prominent ? tint : Theme::withAlpha(tint, 0.16);
        if (isDown())
            fill = m_look == Look::prominent ? tint.darker(118) : Theme::withAlpha(tint, 0.3);
        else if (underMouse() && isEnabled())
            fill = m_look == Look::prominent ? tint.lighter(108) : Theme::withAlpha(tint, 0.22);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        const qreal radius = box.height() / 2;
        shape.addRoundedRect(box, radius, radius);
        painter.fillPath(shape, fill);
        if (hasFocus() && focusPolicy() != Qt::NoFocus) {
            // White inside a filled pill, where the accent would not show.
            const bool filled = m_look == Look::prominent;
            painter.setPen(QPen(filled ? QColor(Qt::white) : Theme::focusRing(), filled ? 1.5 : 2));
            const qreal in = filled ? 2.5 : 1;
            const QRectF ring = box.adjusted(in, in, -in, -in);
            painter.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
        }

        const QColor ink = m_look == Look::prominent ? QColor(Qt::white) : tint.darker(112);
        const int icon = iconSize();
        const int symbolWidth = m_symbol.isEmpty() ? 0 : icon + (m_label.isEmpty() ? 0 : 5);
        const int textWidth
            = std::max(0, std::min(labelWidth(), width() - 2 * padding() - symbolWidth));
        const int content = symbolWidth + textWidth;
        int x = (width() - content) / 2;
        if (!m_symbol.isEmpty()) {
            const QPixmap pixmap
                = Symbols::pixmap(m_symbol, icon, ink, painter.device()->devicePixelRatioF());
            painter.drawPixmap(QRect(x, (height() - icon) / 2, icon, icon), pixmap);
            x += icon + 5;
        }
        if (!m_label.isEmpty()) {
            painter.setPen(ink);
            painter.setFont(font());
            PaintedText::draw(painter, QRectF(x, 0, textWidth, height()),
                              Qt::AlignVCenter | Qt::AlignLeft, m_label);
        }
    }

private:
    int padding() const { return m_height == 22 ? 10 : 14; }
    int labelWidth() const
    {
        // Rounded up from the exact advance: a width rounded to the nearest point can be a
        // fraction short, and the label would lose its last letters to "…".
        return int(std::ceil(QFontMetricsF(font()).horizontalAdvance(m_label)));
    }
    int iconSize() const { return m_circular ? m_height - 9 : QFontMetrics(font()).ascent(); }

    Look m_look;
    bool m_circular;
    int m_height;
    QColor m_tint;
    QString m_symbol;
    QString m_label;
};

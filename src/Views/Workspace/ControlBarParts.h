#pragma once

#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/FocusOrder.h"
#include "Theme/GlassKit.h"
#include "Theme/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

#include <cmath>
#include <functional>
#include <optional>

// The controls of the control bar and the routing-mode cluster, drawn in the glass style.
namespace ControlBarParts {

inline constexpr int controlHeight = 28;
inline constexpr int symbolSize = 14;

// Focus is drawn only once the operator moves it with the keyboard, not for the first
// control that happens to take it when the window opens.
inline bool showsFocusRing(const QWidget *widget)
{
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

// A thin vertical rule between groups of controls.
class Divider final : public QWidget
{
public:
    Divider(int height, QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(1, height);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Theme::withAlpha(Theme::label(), 0.16));
    }
};

// One line of plain text, aligned to the trailing edge, that ends in "…" only when it is given
// less than its full width. Its accessible name is its text.
class TextLine final : public QWidget
{
public:
    explicit TextLine(QWidget *parent)
        : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QString text() const { return m_text; }
    void setText(QString text)
    {
        // Names come from routers and files: one line, and no more than a view can show.
        text = shownName(text);
        if (text == m_text)
            return;
        m_text = text;
        setAccessibleName(Text::spoken(text));
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return { int(std::ceil(metrics.horizontalAdvance(m_text))) + 1,
                 int(std::ceil(metrics.height())) };
    }
    QSize minimumSizeHint() const override { return { 0, sizeHint().height() }; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QString shown = width() >= sizeHint().width()
            ? m_text
            : fontMetrics().elidedText(m_text, Qt::ElideRight, width());
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }

private:
    QString m_text;
};

// A button drawn in one of the bar's styles: `glass` (a light capsule with a hairline, the
// foreground in a colour of choice), `prominent` (a capsule filled with the tint, white
// foreground). The text is drawn literally, never read as a
// mnemonic.
class GlassButton final : public QAbstractButton
{
public:
    enum class Style { glass, prominent };

    GlassButton(Style style, QWidget *parent)
        : QAbstractButton(parent)
        , m_style(style)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    void setContent(const QString &text, const QString &symbol)
    {
        if (text == m_text && symbol == m_symbol)
            return;
        m_text = text;
        m_symbol = symbol;
        if (!text.isEmpty())
            setAccessibleName(text);
        updateGeometry();
        update();
    }

    // The foreground of a glass button; the fill of a prominent one.
    void setColor(const QColor &color)
    {
        if (color == m_color)
            return;
        m_color = color;
        update();
    }

    QSize sizeHint() const override
    {
        if (m_text.isEmpty())
            return { controlHeight, controlHeight };
        const int textWidth = fontMetrics().horizontalAdvance(m_text);
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize + 6;
        return { 12 + symbolWidth + textWidth + 14, controlHeight };
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = frame.height() / 2;
        const bool enabled = isEnabled();
        const bool pressed = isDown();
        const bool hovered = enabled && underMouse();

        QColor foreground = m_color.isValid() ? m_color : Theme::label();
        switch (m_style) {
        case Style::glass: {
            QColor fill = Theme::withAlpha(Theme::label(), pressed ? 0.14 : hovered ? 0.09 : 0.05);
            painter.setPen(QPen(Theme::withAlpha(Theme::label(), 0.1), 1));
            painter.setBrush(fill);
            painter.drawRoundedRect(frame, radius, radius);
            break;
        }
        case Style::prominent: {
            QColor fill = m_color.isValid() ? m_color : Theme::accent();
            if (!enabled)
                fill = Theme::withAlpha(fill, 0.35);
            else if (pressed)
                fill = fill.darker(118);
            else if (hovered)
                fill = fill.lighter(108);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawRoundedRect(frame, radius, radius);
            foreground = Qt::white;
            break;
        }
        }
        if (!enabled && m_style != Style::prominent)
            foreground = Theme::withAlpha(foreground, 0.35);
        else if (!enabled)
            foreground = Theme::withAlpha(foreground, 0.8);

        if (showsFocusRing(this)) {
            // On a filled button the ring is white, inside the fill, where it shows.
            const bool filled = m_style == Style::prominent;
            painter.setPen(QPen(filled ? QColor(Qt::white) : Theme::focusRing(), filled ? 1.5 : 2));
            painter.setBrush(Qt::NoBrush);
            const qreal in = filled ? 2.5 : 1;
            painter.drawRoundedRect(frame.adjusted(in, in, -in, -in), radius - in, radius - in);
        }

        const qreal dpr = devicePixelRatioF();
        const int textWidth = m_text.isEmpty() ? 0 : fontMetrics().horizontalAdvance(m_text);
        const int gap = (m_text.isEmpty() || m_symbol.isEmpty()) ? 0 : 6;
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize;
        qreal x = (width() - (symbolWidth + gap + textWidth)) / 2.0;
        if (!m_symbol.isEmpty()) {
            const QPixmap glyph = Symbols::pixmap(m_symbol, symbolSize, foreground, dpr);
            painter.drawPixmap(QPointF(x, (height() - symbolSize) / 2.0), glyph);
            x += symbolSize + gap;
        }
        if (!m_text.isEmpty()) {
            painter.setPen(foreground);
            painter.setFont(font());
            painter.drawText(QRectF(x, 0, textWidth + 1, height()),
                             Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
        }
    }

private:
    const Style m_style;
    QString m_text;
    QString m_symbol;
    QColor m_color;
};

// One segment of a SegmentedPicker.
class SegmentButton final : public QAbstractButton
{
public:
    SegmentButton(int value, const QString &text, const QString &symbol, QWidget *parent)
        : QAbstractButton(parent)
        , m_value(value)
        , m_text(text)
        , m_symbol(symbol)
    {
        setAccessibleName(text);
        // Checkable and exclusive, so that screen readers hear a radio button and its state;
        // the picker's owner sets the check from its model, never a click.
        setCheckable(true);
        setAutoExclusive(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus); // the picker gives the tab stop to one segment
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    // Arrows (and Home and End) move the picker's choice; the picker answers them.
    std::function<void(SegmentButton *, int key)> stepped;

    int value() const { return m_value; }
    void setSelected(bool selected)
    {
        if (selected == m_selected)
            return;
        m_selected = selected;
        // An exclusive button refuses to be the last one unchecked; no value chosen is allowed.
        setAutoExclusive(selected);
        setChecked(selected);
        setAutoExclusive(true);
        update();
    }
    void setTint(const QColor &tint)
    {
        m_tint = tint;
        update();
    }

    QSize sizeHint() const override
    {
        const int textWidth = fontMetrics().horizontalAdvance(m_text);
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize + 5;
        return { std::max(12 + symbolWidth + textWidth + 12, 36), controlHeight - 4 };
    }

protected:
    void nextCheckState() override { }
    // As in a radio group, the arrows choose the neighbour and never leave the picker, even
    // at its ends.
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
            if (event->modifiers() & ~Qt::KeypadModifier)
                break;
            if (stepped)
                stepped(this, event->key());
            event->accept();
            return;
        default:
            break;
        }
        QAbstractButton::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect());
        const qreal radius = frame.height() / 2;
        QColor foreground = Theme::label();
        if (m_selected) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(isDown() ? m_tint.darker(115) : m_tint);
            painter.drawRoundedRect(frame, radius, radius);
            foreground = Qt::white;
        } else if (isDown() || underMouse()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Theme::withAlpha(Theme::label(), isDown() ? 0.1 : 0.05));
            painter.drawRoundedRect(frame, radius, radius);
        }
        if (!isEnabled())
            foreground = Theme::withAlpha(foreground, 0.4);
        if (showsFocusRing(this)) {
            // On the tinted fill an accent ring would vanish: white inside the fill instead.
            painter.setPen(QPen(m_selected ? QColor(Qt::white) : Theme::focusRing(), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(frame.adjusted(2, 2, -2, -2), radius - 2, radius - 2);
        }

        const int textWidth = fontMetrics().horizontalAdvance(m_text);
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize + 5;
        qreal x = (width() - (symbolWidth + textWidth)) / 2.0;
        if (!m_symbol.isEmpty()) {
            painter.drawPixmap(
                QPointF(x, (height() - symbolSize) / 2.0),
                Symbols::pixmap(m_symbol, symbolSize, foreground, devicePixelRatioF()));
            x += symbolWidth;
        }
        painter.setPen(foreground);
        // A level name comes from the router: one line, drawn as it is.
        QString line = m_text;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        painter.drawText(QRectF(x, 0, textWidth + 1, height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
    }

private:
    const int m_value;
    const QString m_text;
    const QString m_symbol;
    QColor m_tint = Theme::accent();
    bool m_selected = false;
};

// A segmented picker: mutually exclusive values on a capsule track, the chosen one filled
// with the tint. It holds no choice of its own: a click reports the value through the chosen
// callback, and the owner sets the selection from its model.
class SegmentedPicker final : public QWidget
{
public:
    struct Segment
    {
        int value = 0;
        QString text;
        QString symbol;

        bool operator==(const Segment &) const = default;
    };

    SegmentedPicker(const QString &title, std::function<void(int)> chosen, QWidget *parent)
        : QWidget(parent)
        , m_chosen(std::move(chosen))
    {
        // The title serves accessibility only, as the picker shows no title.
        setAccessibleName(title);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        m_row = new QHBoxLayout(this);
        m_row->setContentsMargins(2, 2, 2, 2);
        m_row->setSpacing(0);
    }

    void setSegments(const QList<Segment> &segments)
    {
        if (segments == m_segments)
            return;
        m_segments = segments;
        const bool hadFocus = hasKeyboard();
        // A segment's own click may bring new segments: the old ones go later.
        for (SegmentButton *old : std::as_const(m_buttons)) {
            m_row->removeWidget(old);
            old->hide();
            old->deleteLater();
        }
        m_buttons.clear();
        for (const Segment &segment : segments) {
            auto *button = new SegmentButton(segment.value, segment.text, segment.symbol, this);
            button->setTint(m_tint);
            button->setSelected(segment.value == m_selected);
            const int value = segment.value;
            connect(button, &QAbstractButton::clicked, this, [this, value] {
                if (m_chosen)
                    m_chosen(value);
            });
            button->stepped = [this](SegmentButton *from, int key) {
                step(from, key);
            };
            m_row->addWidget(button);
            // Shown now, not when the picker next is: a hidden segment counts for nothing in
            // the size the picker asks for, and it is laid out by that size.
            button->show();
            m_buttons.append(button);
        }
        placeTabStop(hadFocus);
        updateGeometry();
    }

    void setSelected(std::optional<int> value)
    {
        m_selected = value;
        for (SegmentButton *button : std::as_const(m_buttons))
            button->setSelected(button->value() == value);
        placeTabStop(hasKeyboard());
    }

    void setTint(const QColor &tint)
    {
        m_tint = tint;
        for (SegmentButton *button : std::as_const(m_buttons))
            button->setTint(tint);
    }

    QSize sizeHint() const override
    {
        QSize size = m_row->sizeHint();
        size.setHeight(controlHeight);
        return size;
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(Theme::withAlpha(Theme::label(), 0.07), 1));
        painter.setBrush(Theme::withAlpha(Theme::label(), 0.06));
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    }

private:
    bool hasKeyboard() const
    {
        const QWidget *focused = QApplication::focusWidget();
        return focused && focused->parentWidget() == this;
    }

    // One tab stop, as a radio group has: the chosen segment, else the first. When the choice
    // moves while the picker has the keyboard, the keyboard moves with it, so that a screen
    // reader hears the newly chosen segment.
    void placeTabStop(bool takeFocus)
    {
        SegmentButton *stop = m_buttons.isEmpty() ? nullptr : m_buttons.first();
        for (SegmentButton *button : std::as_const(m_buttons))
            stop = button->value() == m_selected ? button : stop;
        bool moved = false;
        for (SegmentButton *button : std::as_const(m_buttons)) {
            const Qt::FocusPolicy policy = button == stop ? Qt::TabFocus : Qt::NoFocus;
            moved = moved || (button->focusPolicy() != policy && policy == Qt::TabFocus);
            button->setFocusPolicy(policy);
        }
        // A segment that was no stop had no place in the window's tab order.
        if (moved)
            FocusOrder::refresh(this);
        if (stop && takeFocus && !stop->hasFocus())
            stop->setFocus(Qt::TabFocusReason);
    }

    // The arrows move the choice from the chosen segment (the focused one when none is),
    // in reading order, stopping at the ends.
    void step(SegmentButton *from, int key)
    {
        if (m_buttons.isEmpty())
            return;
        qsizetype at = m_buttons.indexOf(from);
        for (qsizetype i = 0; i < m_buttons.size(); ++i)
            at = m_buttons.at(i)->value() == m_selected ? i : at;
        const bool rtl = layoutDirection() == Qt::RightToLeft;
        qsizetype to = at;
        if (key == Qt::Key_Home)
            to = 0;
        else if (key == Qt::Key_End)
            to = m_buttons.size() - 1;
        else if (key == Qt::Key_Up || key == (rtl ? Qt::Key_Right : Qt::Key_Left))
            to = std::max<qsizetype>(0, at - 1);
        else
            to = std::min<qsizetype>(m_buttons.size() - 1, at + 1);
        SegmentButton *target = m_buttons.at(to);
        if (to != at || target->value() != m_selected) {
            if (m_chosen)
                m_chosen(target->value());
        }
        // The owner may have refused the choice; the keyboard stays with what is chosen.
        placeTabStop(true);
    }

    std::function<void(int)> m_chosen;
    QHBoxLayout *m_row = nullptr;
    QList<Segment> m_segments;
    QList<SegmentButton *> m_buttons;
    std::optional<int> m_selected;
    QColor m_tint = Theme::accent();
};

} // namespace ControlBarParts

#include "Theme/Controls.h"

#include "Platform/Text.h"
#include "Theme/Theme.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QBoxLayout>
#include <QButtonGroup>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>

BusyIndicator::BusyIndicator(QWidget *parent, int diameter)
    : QWidget(parent)
    , m_diameter(diameter)
    , m_timer(new QTimer(this))
{
    setFixedSize(diameter, diameter);
    setAccessibleName(QStringLiteral("In progress"));
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 12;
        update();
    });
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(QRectF(rect()).center());
    const qreal outer = m_diameter / 2.0;
    const qreal inner = outer * 0.45;
    const QColor base = Theme::label();
    for (int i = 0; i < 12; ++i) {
        // Spokes fade behind the leading one, which moves clockwise.
        const int age = (m_step - i + 12) % 12;
        QPen pen(Theme::withAlpha(base, 0.85 - age * 0.06), std::max(1.5, m_diameter / 9.0));
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + pen.widthF() / 2));
        painter.rotate(30);
    }
}

namespace {
constexpr int trackWidth = 32;
constexpr int trackHeight = 18;
} // namespace

ToggleSwitch::ToggleSwitch(const QString &title, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const
{
    const QFontMetrics metrics(font());
    return { metrics.horizontalAdvance(text()) + 12 + trackWidth,
             std::max(metrics.height(), trackHeight) + 4 };
}

QSize ToggleSwitch::minimumSizeHint() const
{
    return sizeHint();
}

void ToggleSwitch::checkStateSet()
{
    update();
}

void ToggleSwitch::nextCheckState()
{
    setChecked(!isChecked());
}

bool ToggleSwitch::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font());
    painter.setPen(isEnabled() ? Theme::label() : Theme::tertiaryLabel());
    const QRect textRect = rect().adjusted(0, 0, -(trackWidth + 12), 0);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());

    const QRectF track(width() - trackWidth - 1, (height() - trackHeight) / 2.0, trackWidth,
                       trackHeight);
    QPainterPath capsule;
    capsule.addRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);
    painter.fillPath(capsule,
                     isChecked() ? Theme::accent() : Theme::withAlpha(Theme::label(), 0.16));
    if (hasFocus()) {
        painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.5), 2));
        painter.drawPath(capsule);
    }
    const qreal knob = trackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    const QRectF knobRect(x, track.top() + 2, knob, knob);
    painter.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knobRect);
}

LinkButton::LinkButton(const QString &title, QWidget *parent)
    : QPushButton(escapedMnemonic(title), parent)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; color: %1; }"
                                 "QPushButton:hover { text-decoration: underline; }")
                      .arg(Theme::accent().name()));
}

ColorDot::ColorDot(const QColor &color, int diameter, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setFixedSize(diameter, diameter);
}

void ColorDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()));
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QString escapedMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

namespace {

QString oneLine(const QString &name)
{
    QString shown = name.left(maxShownNameLength);
    if (shown.size() < name.size()) {
        if (shown.back().isHighSurrogate())
            shown.chop(1);
        shown.append(QChar(0x2026));
    }
    shown.replace(QLatin1String("\r\n"), QLatin1String(" "));
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    shown.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return shown;
}

} // namespace

QString shownName(const QString &name)
{
    return Text::isolated(oneLine(name));
}

QString elidedName(const QString &name, const QFont &font, int width)
{
    // Cut before isolating, so that the cut cannot take the closing mark with it.
    return Text::isolated(
        QFontMetrics(font).elidedText(oneLine(name), Qt::ElideRight, std::max(width, 0)));
}

QString spokenName(const QString &name)
{
    return Text::spoken(oneLine(name));
}

namespace {

// The label reads as its whole text. Its tooltip is rich text for the eye, so it is not
// offered as the description that screen readers would otherwise fall back to.
class ElidedLabelAccessible final : public QAccessibleWidget
{
public:
    explicit ElidedLabelAccessible(ElidedLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    { }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return widget()->accessibleName().isEmpty()
                ? spokenName(static_cast<ElidedLabel *>(widget())->text())
                : widget()->accessibleName();
        case QAccessible::Description:
            return widget()->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }
};

QAccessibleInterface *elidedLabelAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("ElidedLabel") && object && object->isWidgetType())
        return new ElidedLabelAccessible(static_cast<ElidedLabel *>(object));
    return nullptr;
}

// A tool button that is one of an exclusive set is heard as a radio button with its checked
// state, as any other segment is: Qt reads every checkable tool button as a check box.
class ChoiceButtonAccessible final : public QAccessibleWidget
{
public:
    explicit ChoiceButtonAccessible(QToolButton *button)
        : QAccessibleWidget(button, QAccessible::RadioButton)
    { }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return spokenName(button()->text());
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        return state;
    }
    QStringList actionNames() const override { return { pressAction() }; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && button()->isEnabled())
            button()->click();
    }

private:
    QToolButton *button() const { return static_cast<QToolButton *>(widget()); }
};

QAccessibleInterface *choiceButtonAccessible(const QString &key, QObject *object)
{
    if (key != QLatin1String("QToolButton"))
        return nullptr;
    auto *button = qobject_cast<QToolButton *>(object);
    if (!button || !button->isCheckable() || !button->group() || !button->group()->exclusive())
        return nullptr;
    return new ChoiceButtonAccessible(button);
}

} // namespace

void readChoiceButtonsAsRadioButtons()
{
    static const bool installed = [] {
        QAccessible::installFactory(choiceButtonAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent)
    : QWidget(parent)
{
    static const bool accessible = [] {
        QAccessible::installFactory(elidedLabelAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setText(text);
}

void ElidedLabel::setText(const QString &text)
{
    if (text == m_text && !text.isEmpty())
        return;
    m_text = text;
    m_shown = shownName(text);
    refreshToolTip();
    updateGeometry();
    update();
}

void ElidedLabel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment & Qt::AlignHorizontal_Mask;
    update();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    return { metrics.horizontalAdvance(m_shown), metrics.height() };
}

QSize ElidedLabel::minimumSizeHint() const
{
    return { 0, QFontMetrics(font()).height() };
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    refreshToolTip();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        refreshToolTip();
}

void ElidedLabel::refreshToolTip()
{
    const bool cut
        = m_text.size() > maxShownNameLength || fontMetrics().horizontalAdvance(m_shown) > width();
    // Escaped inside rich text: a name must not be read as markup, and a long one wraps.
    setToolTip(cut && !m_text.isEmpty()
                   ? QStringLiteral("<qt>") + m_shown.toHtmlEscaped() + QStringLiteral("</qt>")
                   : QString());
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(rect(), m_alignment | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(m_shown, Qt::ElideRight, width()));
}

QLayout *centredWrapped(QLabel *label, int maximumWidth)
{
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    label->setMaximumWidth(maximumWidth);
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    // The label takes the width first; the sides share what is left past its cap.
    row->addStretch(1);
    row->addWidget(label, 1000);
    row->addStretch(1);
    return row;
}

QWidget *hairline(QWidget *parent)
{
    auto *line = new QWidget(parent);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, Theme::separator());
    line->setPalette(pal);
    return line;
}

void addSheetTitle(QVBoxLayout *column, const QString &title)
{
    auto *label = plainLabel(title);
    label->setObjectName(QStringLiteral("sheetTitle"));
    label->setContentsMargins(20, 12, 20, 10);
    Theme::apply(label, Theme::TextStyle::headline, QFont::DemiBold);
    column->addWidget(label);
    column->addWidget(hairline());
}

void addSheetButtons(QVBoxLayout *column, const QList<QPushButton *> &buttons)
{
    column->addWidget(hairline());
    auto *row = new QHBoxLayout;
    row->setContentsMargins(20, 10, 20, 12);
    row->setSpacing(8);
    row->addStretch();
    for (QPushButton *button : buttons) {
        button->setMinimumWidth(84);
        row->addWidget(button);
    }
    column->addLayout(row);
}

void setForeground(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    pal.setColor(QPalette::ButtonText, color);
    widget->setPalette(pal);
}

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        } else if (QLayout *child = item->layout()) {
            clearLayout(child);
        }
        delete item;
    }
}

#include "Views/List/PaneHeader.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"
#include "Views/List/ListMetrics.h"

#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace DestinationList {

HeaderButton::HeaderButton(const HeaderAction &action, QColor tint, QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(action.symbol)
    , m_tint(tint)
{
    setText(action.label);
    setAccessibleName(action.label);
    setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

void HeaderButton::setSymbolOnly(bool symbolOnly)
{
    if (symbolOnly == m_symbolOnly)
        return;
    m_symbolOnly = symbolOnly;
    setToolTip(symbolOnly ? text() : QString());
    updateGeometry();
    update();
}

QSize HeaderButton::sizeFor(bool symbolOnly) const
{
    const int height = 22;
    if (symbolOnly)
        return { 30, height };
    return { 10 + kSymbol + 5 + fontMetrics().horizontalAdvance(text()) + 11, height };
}

void HeaderButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    qreal alpha = 0.14;
    if (isDown())
        alpha = 0.3;
    else if (underMouse())
        alpha = 0.2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::withAlpha(m_tint, alpha));
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    if (hasFocus()) { // only Tab gives it the focus
        painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.7), 2));
        painter.setBrush(Qt::NoBrush);
        const QRectF ring = box.adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
        painter.setPen(Qt::NoPen);
    }

    const QColor ink = m_tint.darker(112);
    const qreal dpr = devicePixelRatioF();
    const QPixmap symbol = Symbols::pixmap(m_symbol, kSymbol, ink, dpr);
    if (m_symbolOnly) {
        painter.drawPixmap(QPointF((width() - kSymbol) / 2.0, (height() - kSymbol) / 2.0), symbol);
        return;
    }
    painter.drawPixmap(QPointF(10, (height() - kSymbol) / 2.0), symbol);
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRectF(10 + kSymbol + 5, 0, width() - (10 + kSymbol + 5), height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

PaneHeader::PaneHeader(const QString &title, QColor tint, bool subtitleIsPriority, QWidget *parent)
    : QWidget(parent)
    , m_tint(tint)
    , m_subtitleIsPriority(subtitleIsPriority)
{
    m_title = plainLabel(title, this);
    m_title->setObjectName(QStringLiteral("title"));
    Theme::apply(m_title, Theme::TextStyle::headline);
    m_subtitle = new ElidedLabel(QString(), this);
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    Theme::applySecondary(m_subtitle, Theme::TextStyle::subheadline);
    m_subtitle->hide();
    m_count = plainLabel(QStringLiteral("0"), this);
    m_count->setObjectName(QStringLiteral("count"));
    m_count->setAlignment(Qt::AlignCenter);
    Theme::applySecondary(m_count, Theme::TextStyle::caption, QFont::DemiBold);
    m_count->setFont(Theme::monospacedDigits(m_count->font()));
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void PaneHeader::setSubtitle(const std::optional<QString> &subtitle)
{
    const bool changed = subtitle.has_value() != m_subtitle->isVisibleTo(this)
        || subtitle.value_or(QString()) != m_subtitle->text();
    if (!changed)
        return;
    m_subtitle->setText(subtitle.value_or(QString()));
    m_subtitle->setVisible(subtitle.has_value());
    relayout();
}

void PaneHeader::setCount(int count)
{
    const QString text = QString::number(count);
    if (text == m_count->text())
        return;
    m_count->setText(text);
    relayout();
}

void PaneHeader::setActions(const QList<HeaderAction> &actions)
{
    QStringList labels;
    for (const HeaderAction &action : actions)
        labels.append(action.label);
    m_actions = actions;
    if (labels == m_labels)
        return;
    m_labels = labels;
    // A pressed button is usually replaced by its own action: the keyboard stays in the row.
    qsizetype focused = -1;
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons.at(i)->hasFocus())
            focused = i;
    }
    for (HeaderButton *button : std::as_const(m_buttons)) {
        // The button may be the one whose click got us here.
        button->hide();
        button->deleteLater();
    }
    m_buttons.clear();
    for (int i = 0; i < actions.size(); ++i) {
        auto *button = new HeaderButton(actions.at(i), m_tint, this);
        QObject::connect(button, &QAbstractButton::clicked, this, [this, i] {
            if (i >= m_actions.size() || !m_actions.at(i).run)
                return;
            // Run a copy: the action can change the controller so that the headers are
            // refreshed, which replaces m_actions (and the function) while it runs.
            const std::function<void()> run = m_actions.at(i).run;
            run();
        });
        button->show();
        m_buttons.append(button);
    }
    relayout();
    if (focused >= 0 && !m_buttons.isEmpty())
        m_buttons.at(std::min(focused, m_buttons.size() - 1))->setFocus(Qt::TabFocusReason);
}

void PaneHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(kSide, (height() - 9) / 2.0, 9, 9);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tintGradient(dot, m_tint));
    painter.drawEllipse(dot);
    if (m_count->isVisibleTo(this)) {
        const QRectF capsule = QRectF(m_count->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setBrush(Theme::quaternaryFill());
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    }
}

int PaneHeader::heightNeeded() const
{
    int content = std::max({ m_title->sizeHint().height(), m_subtitle->sizeHint().height(),
                             countSize().height(), 22 });
    return 12 + content + 12;
}

QSize PaneHeader::countSize() const
{
    const QFontMetrics metrics(m_count->font());
    return { metrics.horizontalAdvance(m_count->text()) + 16, metrics.height() + 6 };
}

bool PaneHeader::subtitleShown() const
{
    return m_subtitle->isVisibleTo(this);
}

int PaneHeader::subtitleFullWidth() const
{
    return m_subtitle->sizeHint().width() + 2;
}

int PaneHeader::subtitleWidth(Form form) const
{
    const int full = subtitleFullWidth();
    if (m_subtitleIsPriority || form == Form::compact)
        return full;
    return std::min(full, 60);
}

int PaneHeader::widthNeeded(Form form) const
{
    int width = kSide + 9;
    if (form != Form::compact)
        width += kSpacing + m_title->sizeHint().width();
    if (subtitleShown())
        width += kSpacing + subtitleWidth(form);
    width += kSpacing + 4 + kSpacing; // around the flexible space
    for (const HeaderButton *button : m_buttons)
        width += button->sizeFor(form == Form::compact).width() + kSpacing;
    if (form == Form::full)
        width += countSize().width() + kSpacing;
    return width - kSpacing + kSide;
}

void PaneHeader::relayout()
{
    placeParts();
    // New texts or buttons change the width the header asks for.
    updateGeometry();
}

void PaneHeader::placeParts()
{
    Form form = Form::compact;
    for (Form candidate : { Form::full, Form::withoutCount }) {
        if (widthNeeded(candidate) <= width()) {
            form = candidate;
            break;
        }
    }
    const int mid = height() / 2;
    const auto place = [mid](QWidget *widget, int x, QSize size) {
        widget->setGeometry(x, mid - size.height() / 2, size.width(), size.height());
    };

    // Right to left: count, buttons; then left to right: title, subtitle.
    int right = width() - kSide;
    m_count->setVisible(form == Form::full);
    if (form == Form::full) {
        const QSize size = countSize();
        right -= size.width();
        place(m_count, right, size);
        right -= kSpacing;
    }
    for (auto it = m_buttons.crbegin(); it != m_buttons.crend(); ++it) {
        (*it)->setSymbolOnly(form == Form::compact);
        const QSize size = (*it)->sizeHint();
        right -= size.width();
        place(*it, right, size);
        right -= kSpacing;
    }
    right -= 4 + kSpacing; // the flexible space keeps at least 4

    int left = kSide + 9 + kSpacing;
    m_title->setVisible(form != Form::compact);
    if (form != Form::compact) {
        const QSize size = m_title->sizeHint();
        place(m_title, left, size);
        left += size.width() + kSpacing;
    }
    if (subtitleShown()) {
        const QSize hint = m_subtitle->sizeHint();
        place(m_subtitle, left,
              { std::max(0, std::min(subtitleFullWidth(), right - left)), hint.height() });
    }
    update();
}

} // namespace DestinationList

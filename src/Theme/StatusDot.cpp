#include "Theme/StatusDot.h"

#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVariantAnimation>

namespace {
constexpr qreal ringReach = 22.0;
constexpr qreal ringRestScale = 0.41; // 0.41 × 22 ≈ the 9-point dot
constexpr int ringPeriodMs = 900;
} // namespace

StatusIndicator::StatusIndicator(const ConnectionStatus &status, QWidget *parent)
    : QWidget(parent)
    , m_status(status)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(Theme::statusLabel(status));
}

void StatusIndicator::setStatus(const ConnectionStatus &status)
{
    if (status == m_status)
        return;
    m_status = status;
    setAccessibleName(Theme::statusLabel(status));
    statusDidChange();
    updatePulse();
    update();
}

bool StatusIndicator::isPulsing() const
{
    return m_pulse && m_pulse->state() == QAbstractAnimation::Running;
}

void StatusIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updatePulse();
}

void StatusIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updatePulse();
}

void StatusIndicator::updatePulse()
{
    const bool wanted = m_status.kind() == ConnectionStatus::connecting && isVisible();
    if (wanted == isPulsing())
        return;
    if (wanted) {
        if (!m_pulse) {
            m_pulse = new QVariantAnimation(this);
            m_pulse->setStartValue(0.0);
            m_pulse->setEndValue(1.0);
            m_pulse->setDuration(ringPeriodMs);
            m_pulse->setEasingCurve(Motion::easeOut());
            m_pulse->setLoopCount(-1);
            connect(m_pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
                m_phase = v.toReal();
                update();
            });
        }
        m_phase = 0;
        m_pulse->start();
    } else {
        m_pulse->stop();
        m_phase = 0; // a ring shown again starts from the dot's size
    }
    emit pulsingChanged();
    update();
}

void StatusIndicator::paintPulseRing(QPainter &painter, QPointF center) const
{
    if (!isPulsing())
        return;
    const qreal scale = ringRestScale + (1.0 - ringRestScale) * m_phase;
    const qreal width = 1.5 * scale;
    const qreal diameter = ringReach * scale - width; // stroked inside the 22-point frame
    QPen pen(Theme::withAlpha(Theme::orange(), 0.7 * (1.0 - m_phase)), width);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(center, diameter / 2, diameter / 2);
}

StatusDot::StatusDot(const ConnectionStatus &status, QWidget *parent)
    : StatusIndicator(status, parent)
{
    setFixedSize(sizeHint());
}

void StatusDot::statusDidChange() {}

void StatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF center = QRectF(rect()).center();
    const QColor color = Theme::statusColor(status());
    constexpr qreal radius = 4.5;

    if (status().kind() == ConnectionStatus::connected) {
        // The online glow: the dot colour at 0.7, fading out over 3 points.
        QRadialGradient glow(center, radius + 3.5);
        glow.setColorAt(radius / (radius + 3.5), Theme::withAlpha(color, 0.7));
        glow.setColorAt(1.0, Theme::withAlpha(color, 0.0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(center, radius + 3.5, radius + 3.5);
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(center, radius, radius);
    painter.setPen(QPen(QColor(255, 255, 255, 77), 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(center, radius - 0.25, radius - 0.25);

    paintPulseRing(painter, center);
}

StatusPill::StatusPill(const ConnectionStatus &status, QWidget *parent)
    : StatusIndicator(status, parent)
{
    setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString StatusPill::text() const
{
    return Theme::statusLabel(status());
}

void StatusPill::statusDidChange()
{
    updateGeometry();
}

QSize StatusPill::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    return {10 + 7 + 6 + textWidth + 10, std::max(metrics.height(), 7) + 10};
}

void StatusPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = Theme::statusColor(status());
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    QPainterPath capsule;
    capsule.addRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
    painter.fillPath(capsule, Theme::withAlpha(color, 0.15));

    const QPointF dotCenter(10 + 3.5, bounds.center().y());
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(dotCenter, 3.5, 3.5);
    paintPulseRing(painter, dotCenter);

    painter.setPen(color);
    painter.setFont(font());
    const QRectF textRect(10 + 7 + 6, 0, width() - (10 + 7 + 6), height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());
}

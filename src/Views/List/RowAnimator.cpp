#include "Views/List/RowAnimator.h"

#include <QWidget>

#include <utility>

namespace DestinationList {

RowAnimator::RowAnimator(QWidget *viewport, std::function<QRect(int port)> rowRect)
{
    QObject::connect(&m_transitions, &Motion::Transitions::frame, viewport,
                     [viewport, rowRect = std::move(rowRect)](quint64 key) {
                         if (key == appearKey) {
                             viewport->update();
                             return;
                         }
                         const QRect rect = rowRect(int(key / channelCount));
                         if (!rect.isEmpty())
                             viewport->update(rect);
                     });
}

qreal RowAnimator::value(int port, Channel channel, bool on)
{
    static const Motion::Timing spring = Motion::Timing::of(Motion::standardSpring);
    static const Motion::Timing eased = Motion::Timing::easedOut(Motion::hoverDuration);
    const quint64 key = quint64(std::max(0, port)) * channelCount + channel;
    const double now = m_transitions.value(key, on ? 1 : 0, channel == hover ? eased : spring);
    return std::clamp(now, 0.0, 1.0);
}

void RowAnimator::appear()
{
    m_transitions.start(appearKey, 0, 1, Motion::Timing::of(Motion::standardSpring));
}

} // namespace DestinationList

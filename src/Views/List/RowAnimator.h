#pragma once

#include "Theme/Motion.h"

#include <QRect>

#include <algorithm>
#include <functional>

class QWidget;

namespace DestinationList {

// Eases the marks of rows in and out: hover over 0.12 s, focus and staging on the selection
// spring. A row is tracked by its port index once it has been drawn, so it keeps its marks
// while the list changes around it; rows never drawn cost nothing. Only rows that move are
// repainted. A panel change fades the whole list in on the same spring.
class RowAnimator
{
public:
    enum Channel { current, pending, hover, channelCount };

    // `rowRect` gives where a port's row is drawn now; an empty rectangle when it is not.
    RowAnimator(QWidget *viewport, std::function<QRect(int port)> rowRect);

    // How much of a channel a row shows now (0…1), given where it is heading.
    qreal value(int port, Channel channel, bool on);

    // Fades every row in from nothing.
    void appear();
    // How far the list has faded in (1 when at rest).
    qreal appearance() const { return std::clamp(m_transitions.current(appearKey, 1), 0.0, 1.0); }

private:
    static constexpr quint64 appearKey = ~quint64(0);

    Motion::Transitions m_transitions;
};

} // namespace DestinationList

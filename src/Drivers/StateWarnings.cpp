#include "Drivers/StateWarnings.h"

std::optional<RouterDriverEvent> StateWarnings::warn(const QString &text)
{
    if (m_stateReported)
        return RouterDriverEvent::makeCommandRefused(text);
    if (m_held.size() < maxHeld && !m_held.contains(text))
        m_held.append(text);
    return std::nullopt;
}

std::optional<RouterDriverEvent> StateWarnings::stateReported()
{
    m_stateReported = true;
    if (m_held.isEmpty())
        return std::nullopt;
    // One event: the banner shows the last refusal it was given.
    return RouterDriverEvent::makeCommandRefused(std::exchange(m_held, {}).join(u' '));
}

QString StateWarnings::failure(const QString &reason) const
{
    QStringList parts = m_held;
    if (!reason.isEmpty())
        parts.prepend(reason);
    return parts.join(u' ');
}

#pragma once

#include "Drivers/RouterDriver.h"

#include <QStringList>

#include <optional>

// Warnings a parser finds about its router while the router's state is still being read (an
// absurd port count, answers beyond the saved size). The controller clears its error banner
// when the state arrives, so a warning reported earlier would vanish unseen, and one sent as
// `error` would show the router failed just before it comes online. Until the state is out
// they are held; right after `connected` they go out once, as one refusal, so the status
// stays as it is. Once the state is out a warning goes out at once. Pure.
class StateWarnings final
{
public:
    // Held warnings beyond this are dropped; each parser gives only a few kinds, once each.
    static constexpr int maxHeld = 8;

    // The event to report now, or nothing while the warning is held. A text already held is
    // held once.
    std::optional<RouterDriverEvent> warn(const QString &text);
    // The state has just been reported: everything held, as one event to report next.
    std::optional<RouterDriverEvent> stateReported();
    // The read failed instead: the error's text, `reason` followed by what was held, so
    // nothing found is lost and nothing is said twice. Empty parts are left out.
    QString failure(const QString &reason = {}) const;

private:
    bool m_stateReported = false;
    QStringList m_held;
};

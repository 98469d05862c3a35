#pragma once

#include "Drivers/CommandTarget.h"
#include "Drivers/RouterDriver.h"

#include <QByteArray>

#include <functional>

// What the parsers of interrogated routers (Quartz, SW-P-08) share: the hooks through which
// a driver plugs them in, and the texts and state of a matrix whose size comes from the
// saved router rather than from the router itself. Pure; no socket and no clock.
namespace Interrogation {

enum class Timer {
    finalize, // (re)start the quiet period after which the state is reported
    noAnswer, // start the check that some answer arrived at all
};

struct Hooks
{
    std::function<void(const RouterDriverEvent &)> report;
    // Writes bytes on the link; when empty, nothing is sent.
    std::function<void(const QByteArray &)> send;
    std::function<void(Timer)> arm;
    // What the router answered and reported of the takes the driver sent.
    CommandHooks commands = {};
};

// Where the first read stands when one of its two limits falls due.
struct FirstRead
{
    bool stopped = false; // the link has ended
    bool stateReported = false;
    bool answered = false; // some well-formed answer arrived, usable or not
    bool anyRouting = false; // some crosspoint is known
};

// The no-answer period has passed: true unless nothing at all answered, which is reported
// as the error `noAnswer`, and the link should end.
bool checkAnswered(const FirstRead &read, const QString &noAnswer, const Hooks &hooks);
// The first read's time is over: the state as it stands once a crosspoint is known
// (`finalize`); without one, the no-answer verdict, or `failure` when every answer was unusable
// (false: the link should end).
bool readLimitReached(const FirstRead &read, const QString &noAnswer, const QString &failure,
                      const std::function<void()> &finalize, const Hooks &hooks);

// The one-time warning for an answer naming a port beyond the saved size.
QString beyondMatrixText(int sourceCount, int destinationCount);

// The state before any routing: ports "In n"/"Out n" and the video level 0.
RouterState matrixState(const QString &deviceName, const QString &model, RouterVendor vendor,
                        int sourceCount, int destinationCount);

} // namespace Interrogation

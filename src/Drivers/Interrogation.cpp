#include "Drivers/Interrogation.h"
#include "Platform/Text.h"

namespace Interrogation {

bool checkAnswered(const FirstRead &read, const QString &noAnswer, const Hooks &hooks)
{
    if (read.stopped || read.stateReported || read.answered)
        return true;
    if (hooks.report)
        hooks.report(RouterDriverEvent::makeError(noAnswer));
    return false;
}

bool readLimitReached(const FirstRead &read, const QString &noAnswer, const QString &failure,
                      const std::function<void()> &finalize, const Hooks &hooks)
{
    if (read.stopped || read.stateReported)
        return true;
    if (read.anyRouting) {
        finalize();
        return true;
    }
    if (!read.answered)
        return checkAnswered(read, noAnswer, hooks);
    if (hooks.report)
        hooks.report(RouterDriverEvent::makeError(failure));
    return false;
}

QString beyondMatrixText(int sourceCount, int destinationCount)
{
    return Text::format(QStringLiteral("The device reports ports beyond the configured %1×%2 — "
                                       "increase the matrix size in this router's settings."),
                        sourceCount, destinationCount);
}

RouterState matrixState(const QString &deviceName, const QString &model, RouterVendor vendor,
                        int sourceCount, int destinationCount)
{
    RouterState state;
    state.deviceName = deviceName;
    state.model = model;
    state.vendor = vendor;
    state.sources.reserve(sourceCount);
    for (int i = 0; i < sourceCount; ++i)
        state.sources.append({ i, PortKind::source, QStringLiteral("In %1").arg(i + 1) });
    state.destinations.reserve(destinationCount);
    for (int i = 0; i < destinationCount; ++i)
        state.destinations.append(
            { i, PortKind::destination, QStringLiteral("Out %1").arg(i + 1) });
    state.levels = { { 0, QStringLiteral("Video"), LevelKind::video } };
    return state;
}

} // namespace Interrogation

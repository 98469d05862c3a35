#include "Drivers/SimulatorDriver.h"

#include "Platform/Async.h"
#include "Platform/Text.h"

#include <QTimer>

#include <algorithm>

namespace {

const char *const kSourcePrefixes[] = {"CAM", "VTR", "GFX", "SRV", "EVS", "RMT", "SAT", "FEED"};
const char *const kDestinationPrefixes[] = {"MON", "MV", "REC", "AUX", "PGM", "PVW", "STR", "OUT"};
const char *const kFormats[] = {"1920x1080p59.94", "1920x1080i59.94", "3840x2160p29.97",
                                "1280x720p59.94"};

QString portLabel(const char *const (&prefixes)[8], int index)
{
    return QLatin1String(prefixes[index % 8]) + QLatin1Char(' ') + QString::number(index / 8 + 1);
}

DriverResult notConnected()
{
    return std::unexpected(DriverError::notConnectedError());
}

} // namespace

SimulatorDriver::SimulatorDriver(const RouterConnection &connection)
    : SimulatorDriver(connection, Timing{})
{}

SimulatorDriver::SimulatorDriver(const RouterConnection &connection, Timing timing)
    : m_connection(connection)
    , m_state(makeState(connection))
    , m_timing(timing)
{}

RouterState SimulatorDriver::makeState(const RouterConnection &connection)
{
    const int sourceCount = std::clamp(connection.simSourceCount, 1, maxPortCount);
    const int destinationCount = std::clamp(connection.simDestinationCount, 1, maxPortCount);

    RouterState state;
    state.deviceName = connection.name;
    state.model = Text::format(QStringLiteral("Virtual %1×%2"), sourceCount, destinationCount);
    state.vendor = RouterVendor::simulator;

    state.sources.reserve(sourceCount);
    for (int i = 0; i < sourceCount; ++i)
        state.sources.append(Port{i, PortKind::source, portLabel(kSourcePrefixes, i)});
    state.destinations.reserve(destinationCount);
    for (int i = 0; i < destinationCount; ++i)
        state.destinations.append(
            Port{i, PortKind::destination, portLabel(kDestinationPrefixes, i)});

    state.levels = {RouterLevel{0, QStringLiteral("Video"), LevelKind::video},
                    RouterLevel{1, QStringLiteral("Audio 1"), LevelKind::audio},
                    RouterLevel{2, QStringLiteral("Audio 2"), LevelKind::audio}};
    for (const RouterLevel &level : std::as_const(state.levels)) {
        LevelRouting &routing = state.routing[level.index];
        routing.reserve(destinationCount);
        for (int d = 0; d < destinationCount; ++d)
            routing.insert(d, (d + level.index) % sourceCount);
    }

    state.inputStatus.reserve(sourceCount);
    for (int i = 0; i < sourceCount; ++i) {
        if (i % 5 == 4)
            state.inputStatus.insert(i, InputSignalStatus{false, std::nullopt});
        else
            state.inputStatus.insert(i, InputSignalStatus{true, QLatin1String(kFormats[i % 4])});
    }
    return state;
}

void SimulatorDriver::emitEvent(RouterDriverEvent event)
{
    m_events->yield(std::move(event));
}

void SimulatorDriver::connect(std::function<void()> done)
{
    if (m_ended) {
        Platform::complete(std::move(done));
        return;
    }
    emitEvent(RouterDriverEvent::makeStatus(QStringLiteral("Starting simulator…")));
    auto self = std::static_pointer_cast<SimulatorDriver>(shared_from_this());
    QTimer::singleShot(m_timing.connectDelay, Qt::PreciseTimer, Platform::uiContext(),
                       [self, done = std::move(done)] {
                           // A disconnect() during the wait ends the attempt for good.
                           if (!self->m_ended) {
                               self->m_connected = true;
                               self->emitEvent(RouterDriverEvent::makeConnected(self->m_state));
                           }
                           if (done)
                               done();
                       });
}

void SimulatorDriver::disconnect(std::function<void()> done)
{
    const bool wasEnded = m_ended;
    m_connected = false;
    m_ended = true;
    if (!wasEnded) {
        emitEvent(RouterDriverEvent::makeDisconnected());
        m_events->finish();
    }
    Platform::complete(std::move(done));
}

void SimulatorDriver::take(int source, int destination, int level, DriverCompletion done)
{
    takeAll({Route{level, destination, source}}, std::move(done));
}

void SimulatorDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    if (!m_connected) {
        Platform::complete(std::move(done), notConnected());
        return;
    }
    auto self = std::static_pointer_cast<SimulatorDriver>(shared_from_this());
    QTimer::singleShot(m_timing.takeDelay, Qt::PreciseTimer, Platform::uiContext(),
                       [self, routes, done = std::move(done)] {
                           for (const Route &route : routes) {
                               if (self->m_state.lockedDestinations.contains(route.destination))
                                   continue;
                               self->m_state.routing[route.level][route.destination] = route.source;
                               self->emitEvent(RouterDriverEvent::makeRouteChanged(
                                   route.level, route.destination, route.source));
                           }
                           if (done)
                               done(DriverResult());
                       });
}

void SimulatorDriver::setLock(int destination, int, bool locked, DriverCompletion done)
{
    if (!m_connected) {
        Platform::complete(std::move(done), notConnected());
        return;
    }
    if (locked)
        m_state.lockedDestinations.insert(destination);
    else
        m_state.lockedDestinations.remove(destination);
    emitEvent(RouterDriverEvent::makeLockChanged(destination, locked));
    Platform::complete(std::move(done), DriverResult());
}

void SimulatorDriver::setLabel(const QString &label, int index, PortKind kind, DriverCompletion done)
{
    if (!m_connected) {
        Platform::complete(std::move(done), notConnected());
        return;
    }
    QList<Port> &ports = kind == PortKind::source ? m_state.sources : m_state.destinations;
    if (index >= 0 && index < ports.size()) {
        ports[index].label = label;
        emitEvent(RouterDriverEvent::makeLabelChanged(kind, index, label));
    }
    Platform::complete(std::move(done), DriverResult());
}

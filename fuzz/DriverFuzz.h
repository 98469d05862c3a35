#pragma once

#include "Drivers/Interrogation.h"
#include "Drivers/RouterDriver.h"
#include "FuzzSupport.h"

#include <QSet>

#include <utility>

// What every driver parser must uphold whatever a router sends: events whose indices stay
// inside the bounds the parser works with, at most one `connected`, and a reported state
// whose ports are exactly 0…n-1 once each.
namespace DriverFuzz {

// Valid ranges of the indices a parser may put in its events; a maximum of -1 is unbounded.
struct Bounds
{
    int sources = -1;
    int destinations = -1;
    int levels = 1;
    // Port indices in incremental events are passed on as the router sent them.
    bool anyPortIndex = false;
};

inline void checkPorts(const QList<Port> &ports, PortKind kind)
{
    for (int i = 0; i < ports.size(); ++i) {
        FUZZ_CHECK(ports.at(i).kind == kind);
        FUZZ_CHECK_MSG(ports.at(i).index == i,
                       QStringLiteral("port %1 at position %2").arg(ports.at(i).index).arg(i));
    }
}

inline bool inRange(int value, int maximum)
{
    return value >= 0 && (maximum < 0 || value < maximum);
}

inline void checkRouting(const LevelRouting &routing, const Bounds &bounds)
{
    if (bounds.anyPortIndex)
        return; // the routing table is passed on as the router sent it
    for (auto it = routing.constBegin(); it != routing.constEnd(); ++it) {
        FUZZ_CHECK_MSG(inRange(it.key(), bounds.destinations),
                       QStringLiteral("destination %1").arg(it.key()));
        FUZZ_CHECK_MSG(inRange(it.value(), bounds.sources),
                       QStringLiteral("source %1").arg(it.value()));
    }
}

inline void checkRouting(const QHash<int, LevelRouting> &routing, const Bounds &bounds)
{
    for (auto level = routing.constBegin(); level != routing.constEnd(); ++level) {
        FUZZ_CHECK(inRange(level.key(), bounds.levels));
        checkRouting(*level, bounds);
    }
}

inline void checkState(const RouterState &state, const Bounds &bounds)
{
    checkPorts(state.sources, PortKind::source);
    checkPorts(state.destinations, PortKind::destination);
    if (bounds.sources >= 0)
        FUZZ_CHECK(state.sources.size() <= bounds.sources);
    if (bounds.destinations >= 0)
        FUZZ_CHECK(state.destinations.size() <= bounds.destinations);
    QSet<int> levels;
    for (const RouterLevel &level : state.levels) {
        FUZZ_CHECK(inRange(level.index, bounds.levels));
        FUZZ_CHECK(!levels.contains(level.index));
        levels.insert(level.index);
    }
    // A state routes only levels it lists.
    for (auto it = state.routing.constBegin(); it != state.routing.constEnd(); ++it)
        FUZZ_CHECK_MSG(levels.contains(it.key()), QStringLiteral("level %1").arg(it.key()));
    checkRouting(state.routing, bounds);
}

// Collects a parser's events and checks each new one against the bounds.
struct EventLog
{
    Bounds bounds;
    QList<RouterDriverEvent> events;
    qsizetype checked = 0;
    int connectedCount = 0;

    std::function<void(const RouterDriverEvent &)> reporter()
    {
        return [this](const RouterDriverEvent &event) {
            events.append(event);
        };
    }

    // Checks the events that arrived since the last call.
    void checkNew()
    {
        for (; checked < events.size(); ++checked) {
            const RouterDriverEvent &event = events.at(checked);
            switch (event.type) {
            case RouterDriverEvent::connected:
            case RouterDriverEvent::stateReplaced:
                ++connectedCount;
                FUZZ_CHECK_MSG(connectedCount == 1, QStringLiteral("a second connected"));
                checkState(event.state, bounds);
                break;
            case RouterDriverEvent::routeChanged:
                FUZZ_CHECK_MSG(connectedCount == 1, describe(event));
                FUZZ_CHECK_MSG(inRange(event.level, bounds.levels), describe(event));
                FUZZ_CHECK_MSG(bounds.anyPortIndex
                                   || inRange(event.destination, bounds.destinations),
                               describe(event));
                if (event.source && !bounds.anyPortIndex)
                    FUZZ_CHECK_MSG(inRange(*event.source, bounds.sources), describe(event));
                break;
            case RouterDriverEvent::labelChanged:
                FUZZ_CHECK_MSG(connectedCount == 1, describe(event));
                FUZZ_CHECK_MSG(bounds.anyPortIndex
                                   || inRange(event.index,
                                              event.kind == PortKind::source ? bounds.sources
                                                                             : bounds.destinations),
                               describe(event));
                break;
            case RouterDriverEvent::lockChanged:
                FUZZ_CHECK_MSG(connectedCount == 1, describe(event));
                FUZZ_CHECK_MSG(bounds.anyPortIndex
                                   || inRange(event.destination, bounds.destinations),
                               describe(event));
                break;
            case RouterDriverEvent::inputStatusChanged:
                FUZZ_CHECK_MSG(connectedCount == 1, describe(event));
                FUZZ_CHECK_MSG(bounds.anyPortIndex || inRange(event.index, bounds.sources),
                               describe(event));
                break;
            case RouterDriverEvent::status:
            case RouterDriverEvent::error:
            case RouterDriverEvent::commandRefused:
                FUZZ_CHECK(!event.text.isEmpty());
                break;
            case RouterDriverEvent::disconnected:
                break;
            }
        }
    }

    // The expansion budget: whatever arrives, a parser reports at most one event per
    // `bytesPerEvent` bytes it was fed, plus `extra` once-only events (the state, errors).
    void checkBudget(qsizetype bytesFed, qsizetype bytesPerEvent, qsizetype extra) const
    {
        FUZZ_CHECK_MSG(events.size() <= bytesFed / bytesPerEvent + extra,
                       QStringLiteral("%1 events from %2 bytes").arg(events.size()).arg(bytesFed));
    }

    qsizetype countSince(qsizetype from, RouterDriverEvent::Type type) const
    {
        qsizetype n = 0;
        for (qsizetype i = from; i < events.size(); ++i)
            n += events.at(i).type == type;
        return n;
    }
};

// The saved router a parser is made for; the fuzz input picks one of a few sizes, including
// damaged ones a hand-edited file could hold.
inline RouterConnection connectionOfSize(int choice)
{
    static const int sizes[][2] = { { 16, 16 }, { 0, 1 }, { 5000, 1024 }, { -3, 40 } };
    RouterConnection connection;
    connection.name = QStringLiteral("Fuzz");
    connection.simSourceCount = sizes[choice & 3][0];
    connection.simDestinationCount = sizes[choice & 3][1];
    return connection;
}

// The timers of an interrogated router's parser (Quartz, SW-P-08): once armed, the quiet
// period falls due between chunks when the input asks for it, and at the end, after the
// no-answer check.
struct InterrogationTimers
{
    bool quietBetweenChunks = false;
    bool finalizeArmed = false;

    std::function<void(Interrogation::Timer)> arm()
    {
        return [this](Interrogation::Timer timer) {
            finalizeArmed |= timer == Interrogation::Timer::finalize;
        };
    }
    template<typename Parser> void afterChunk(Parser &parser)
    {
        if (quietBetweenChunks && std::exchange(finalizeArmed, false))
            parser.finalize();
    }
    template<typename Parser> void atEnd(Parser &parser)
    {
        parser.checkAnswered();
        if (finalizeArmed)
            parser.finalize();
    }
};

} // namespace DriverFuzz

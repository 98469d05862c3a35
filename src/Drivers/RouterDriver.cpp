#include "Drivers/RouterDriver.h"

#include "Drivers/KumoDriver.h"
#include "Drivers/LightwareDriver.h"
#include "Drivers/QuartzDriver.h"
#include "Drivers/SWP08Driver.h"
#include "Drivers/SimulatorDriver.h"
#include "Drivers/VideohubDriver.h"
#include "Platform/Text.h"

QString DriverError::localizedDescription() const
{
    switch (m_kind) {
    case unsupported: return m_detail + QStringLiteral(" isn't supported by this router.");
    case protocolError: return QStringLiteral("Protocol error: ") + m_detail;
    case transport: return QStringLiteral("Connection error: ") + m_detail;
    case notConnected: return QStringLiteral("Not connected to the router.");
    case other: return m_detail;
    }
    return m_detail;
}

QString boundedRouterName(const QString &name)
{
    if (name.size() <= maxRouterNameLength)
        return name;
    qsizetype length = maxRouterNameLength;
    if (name.at(length - 1).isHighSurrogate())
        --length;
    return name.left(length);
}

RouterDriverEvent RouterDriverEvent::makeStatus(const QString &text)
{
    RouterDriverEvent event;
    event.type = status;
    event.text = text;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeConnected(const RouterState &state)
{
    RouterDriverEvent event;
    event.type = connected;
    event.state = state;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeStateReplaced(const RouterState &state)
{
    RouterDriverEvent event;
    event.type = stateReplaced;
    event.state = state;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeRouteChanged(int level, int destination,
                                                      std::optional<int> source)
{
    RouterDriverEvent event;
    event.type = routeChanged;
    event.level = level;
    event.destination = destination;
    event.source = source;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeLabelChanged(PortKind kind, int index, const QString &label)
{
    RouterDriverEvent event;
    event.type = labelChanged;
    event.kind = kind;
    event.index = index;
    event.label = label;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeLockChanged(int destination, bool locked)
{
    RouterDriverEvent event;
    event.type = lockChanged;
    event.destination = destination;
    event.locked = locked;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeInputStatusChanged(int input,
                                                            std::optional<InputSignalStatus> status)
{
    RouterDriverEvent event;
    event.type = inputStatusChanged;
    event.index = input;
    event.inputStatus = status;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeDisconnected(std::optional<QString> reason)
{
    RouterDriverEvent event;
    event.type = disconnected;
    event.reason = reason;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeError(const QString &text)
{
    RouterDriverEvent event;
    event.type = error;
    event.text = text;
    return event;
}

RouterDriverEvent RouterDriverEvent::makeCommandRefused(const QString &text)
{
    RouterDriverEvent event;
    event.type = commandRefused;
    event.text = text;
    return event;
}

bool RouterDriverEvent::operator==(const RouterDriverEvent &other) const
{
    if (type != other.type)
        return false;
    switch (type) {
    case status:
    case error:
    case commandRefused: return text == other.text;
    case connected:
    case stateReplaced: return state == other.state;
    case routeChanged:
        return level == other.level && destination == other.destination && source == other.source;
    case labelChanged: return kind == other.kind && index == other.index && label == other.label;
    case lockChanged: return destination == other.destination && locked == other.locked;
    case inputStatusChanged: return index == other.index && inputStatus == other.inputStatus;
    case disconnected: return reason == other.reason;
    }
    return false;
}

QString eventTypeName(RouterDriverEvent::Type type)
{
    static const char *const names[] = {"status",       "connected",   "stateReplaced",
                                        "routeChanged", "labelChanged", "lockChanged",
                                        "inputStatusChanged", "disconnected", "error",
                                        "commandRefused"};
    return QLatin1String(names[type]);
}

QString describe(const RouterDriverEvent &event)
{
    const QString name = eventTypeName(event.type);
    switch (event.type) {
    case RouterDriverEvent::status:
    case RouterDriverEvent::error:
    case RouterDriverEvent::commandRefused: return name + QStringLiteral("(%1)").arg(event.text);
    case RouterDriverEvent::connected:
    case RouterDriverEvent::stateReplaced:
        return name
            + Text::format(QStringLiteral("(%1, %2×%3)"), event.state.model,
                           event.state.sources.size(), event.state.destinations.size());
    case RouterDriverEvent::routeChanged:
        return name
            + Text::format(QStringLiteral("(level %1, dst %2, src %3)"), event.level,
                           event.destination,
                           event.source ? QString::number(*event.source) : QStringLiteral("none"));
    case RouterDriverEvent::labelChanged:
        return name
            + Text::format(QStringLiteral("(%1 %2, %3)"), rawValue(event.kind), event.index,
                           event.label);
    case RouterDriverEvent::lockChanged:
        return name + Text::format(QStringLiteral("(dst %1, %2)"), event.destination, event.locked);
    case RouterDriverEvent::inputStatusChanged:
        return name
            + Text::format(QStringLiteral("(input %1, %2)"), event.index,
                           !event.inputStatus ? QStringLiteral("unknown")
                               : event.inputStatus->present
                               ? event.inputStatus->format.value_or(QStringLiteral("present"))
                               : QStringLiteral("no signal"));
    case RouterDriverEvent::disconnected:
        return name + QStringLiteral("(%1)").arg(event.reason.value_or(QStringLiteral("no reason")));
    }
    return name;
}

namespace DriverFactory {

RouterDriverPtr makeDriver(const RouterConnection &connection)
{
    switch (connection.vendor) {
    case RouterVendor::simulator: return std::make_shared<SimulatorDriver>(connection);
    case RouterVendor::rossUltrix:
    case RouterVendor::genericSWP08: return std::make_shared<SWP08Driver>(connection);
    case RouterVendor::evertzQuartz: return std::make_shared<QuartzDriver>(connection);
    case RouterVendor::ajaKumo: return std::make_shared<KumoDriver>(connection);
    case RouterVendor::blackmagicVideohub: return std::make_shared<VideohubDriver>(connection);
    case RouterVendor::lightware: return std::make_shared<LightwareDriver>(connection);
    }
    // Unreachable for a valid vendor; an out-of-range value must still not crash.
    return std::make_shared<SimulatorDriver>(connection);
}

} // namespace DriverFactory

#include "Drivers/QuartzDriver.h"

#include "Drivers/QuartzParser.h"

namespace {

TcpLink::Profile quartzProfile()
{
    TcpLink::Profile profile;
    profile.queueLabel = QStringLiteral("quartz.driver");
    profile.noAddressText = QStringLiteral("No address for this router. Edit it and set a host.");
    profile.readyText = QStringLiteral("Interrogating crosspoints…");
    profile.log = &lcQuartz();
    profile.rawLog = &lcQuartzRaw();
    return profile;
}

InterrogatingLink<QuartzParser>::Commands quartzCommands()
{
    InterrogatingLink<QuartzParser>::Commands commands;
    commands.asked = [](const Route &take) {
        return CommandTarget::route(0, take.destination, take.source); // video only
    };
    commands.prepare = [](QuartzParser &parser, const Route &take, quint64 command) {
        // The driver knows the video level only.
        return parser.lineForConnect(take.source, take.destination, command) + '\r';
    };
    commands.recover = [](QuartzParser &parser, const Route &take) {
        // The route stays pending; the router's answer to the question settles it.
        parser.connectNotSent(take.destination);
        parser.reinterrogate(take.destination);
    };
    return commands;
}

} // namespace

QuartzDriver::QuartzDriver(const RouterConnection &connection)
    : QuartzDriver(connection, Timing {})
{ }

QuartzDriver::QuartzDriver(const RouterConnection &connection, Timing timing)
    : m_link(connection, quartzProfile(), timing, quartzCommands())
{ }

QuartzDriver::~QuartzDriver() = default;

void QuartzDriver::connect(std::function<void()> done)
{
    m_link.connect(std::move(done));
}

void QuartzDriver::disconnect(std::function<void()> done)
{
    m_link.disconnect(std::move(done));
}

void QuartzDriver::take(int source, int destination, int level, DriverCompletion done)
{
    m_link.take({ Route { level, destination, source } }, std::move(done));
}

void QuartzDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    m_link.take(routes, std::move(done));
}

qint64 QuartzDriver::bufferedBytes() const
{
    return m_link.bufferedBytes();
}

void QuartzDriver::setLock(int, int, bool, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Locking")))));
}

void QuartzDriver::setLabel(const QString &, int, PortKind, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Renaming")))));
}

#include "Drivers/SWP08Driver.h"

#include "Drivers/SWP08Parser.h"

namespace {

TcpLink::Profile swp08Profile()
{
    TcpLink::Profile profile;
    profile.queueLabel = QStringLiteral("swp08.driver");
    profile.noAddressText = QStringLiteral("No address for this router. Edit it and set a host.");
    profile.readyText = QStringLiteral("Interrogating crosspoints…");
    profile.log = &lcSwp08();
    profile.rawLog = &lcSwp08Raw();
    return profile;
}

InterrogatingLink<SWP08Parser>::Commands swp08Commands()
{
    InterrogatingLink<SWP08Parser>::Commands commands;
    commands.refuse = [](const Route &take) {
        return SWP08Parser::addressError(take.source, take.destination, take.level);
    };
    commands.asked = [](const Route &take) {
        return CommandTarget::route(take.level, take.destination, take.source);
    };
    commands.prepare = [](SWP08Parser &parser, const Route &take, quint64 command) {
        return parser.prepareConnect(take.source, take.destination, take.level, command);
    };
    commands.recover = [](SWP08Parser &parser, const Route &take) {
        parser.abortPendingConnect(take.destination, take.level);
        parser.reinterrogate(take.destination, take.level);
    };
    return commands;
}

} // namespace

SWP08Driver::SWP08Driver(const RouterConnection &connection)
    : SWP08Driver(connection, Timing {})
{ }

SWP08Driver::SWP08Driver(const RouterConnection &connection, Timing timing)
    : m_link(connection, swp08Profile(), timing, swp08Commands())
{ }

SWP08Driver::~SWP08Driver() = default;

void SWP08Driver::connect(std::function<void()> done)
{
    m_link.connect(std::move(done));
}

void SWP08Driver::disconnect(std::function<void()> done)
{
    m_link.disconnect(std::move(done));
}

void SWP08Driver::take(int source, int destination, int level, DriverCompletion done)
{
    m_link.take({ Route { level, destination, source } }, std::move(done));
}

void SWP08Driver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    m_link.take(routes, std::move(done));
}

qint64 SWP08Driver::bufferedBytes() const
{
    return m_link.bufferedBytes();
}

void SWP08Driver::setLock(int, int, bool, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Locking")))));
}

void SWP08Driver::setLabel(const QString &, int, PortKind, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Renaming")))));
}

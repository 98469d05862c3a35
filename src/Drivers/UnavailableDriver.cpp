#include "Drivers/UnavailableDriver.h"

#include "Platform/Async.h"

UnavailableDriver::UnavailableDriver(const RouterConnection &connection)
    : m_connection(connection)
{}

void UnavailableDriver::connect(std::function<void()> done)
{
    m_events->yield(RouterDriverEvent::makeError(
        QStringLiteral("%1 routers aren't supported in this build.")
            .arg(m_connection.vendor.displayName())));
    Platform::complete(std::move(done));
}

void UnavailableDriver::disconnect(std::function<void()> done)
{
    m_events->finish();
    Platform::complete(std::move(done));
}

void UnavailableDriver::take(int, int, int, DriverCompletion done)
{
    Platform::complete(std::move(done), DriverResult(std::unexpected(DriverError::notConnectedError())));
}

void UnavailableDriver::takeAll(const QList<Route> &, DriverCompletion done)
{
    take(0, 0, 0, std::move(done));
}

void UnavailableDriver::setLock(int, int, bool, DriverCompletion done)
{
    take(0, 0, 0, std::move(done));
}

void UnavailableDriver::setLabel(const QString &, int, PortKind, DriverCompletion done)
{
    take(0, 0, 0, std::move(done));
}

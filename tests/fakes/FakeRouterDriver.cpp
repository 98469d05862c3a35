#include "FakeRouterDriver.h"

#include "Platform/Async.h"

namespace {

FakeRouterDriver::Call makeCall(FakeRouterDriver::Command command)
{
    FakeRouterDriver::Call call;
    call.command = command;
    return call;
}

} // namespace

void FakeRouterDriver::connect(std::function<void()> done)
{
    m_calls.append(makeCall(Command::connect));
    Platform::complete(std::move(done));
}

void FakeRouterDriver::disconnect(std::function<void()> done)
{
    m_calls.append(makeCall(Command::disconnect));
    m_events->yield(RouterDriverEvent::makeDisconnected());
    m_events->finish();
    Platform::complete(std::move(done));
}

void FakeRouterDriver::take(int source, int destination, int level, DriverCompletion done)
{
    Call call = makeCall(Command::take);
    call.routes = { Route { level, destination, source } };
    m_calls.append(call);
    finish(std::move(done), resultFor(Command::take));
}

void FakeRouterDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    Call call = makeCall(Command::takeAll);
    call.routes = routes;
    m_calls.append(call);
    finish(std::move(done), resultFor(Command::takeAll));
}

void FakeRouterDriver::setLock(int destination, int level, bool locked, DriverCompletion done)
{
    Call call = makeCall(Command::setLock);
    call.destination = destination;
    call.level = level;
    call.locked = locked;
    m_calls.append(call);
    finish(std::move(done), resultFor(Command::setLock));
}

void FakeRouterDriver::setLabel(const QString &label, int index, PortKind kind,
                                DriverCompletion done)
{
    Call call = makeCall(Command::setLabel);
    call.label = label;
    call.index = index;
    call.kind = kind;
    m_calls.append(call);
    finish(std::move(done), resultFor(Command::setLabel));
}

void FakeRouterDriver::setFailure(Command command, std::optional<DriverError> error)
{
    if (error)
        m_failures.insert_or_assign(command, *error);
    else
        m_failures.erase(command);
}

void FakeRouterDriver::failNext(Command command, const DriverError &error)
{
    m_nextFailures[command].push_back(error);
}

int FakeRouterDriver::releaseCompletions()
{
    auto held = std::move(m_held);
    m_held.clear();
    for (auto &[done, result] : held)
        Platform::complete(std::move(done), std::move(result));
    return int(held.size());
}

QList<FakeRouterDriver::Call> FakeRouterDriver::calls(Command command) const
{
    QList<Call> matching;
    for (const Call &call : m_calls) {
        if (call.command == command)
            matching.append(call);
    }
    return matching;
}

DriverResult FakeRouterDriver::resultFor(Command command)
{
    auto next = m_nextFailures.find(command);
    if (next != m_nextFailures.end() && !next->second.empty()) {
        DriverError error = next->second.front();
        next->second.pop_front();
        return std::unexpected(error);
    }
    auto always = m_failures.find(command);
    if (always != m_failures.end())
        return std::unexpected(always->second);
    return {};
}

void FakeRouterDriver::finish(DriverCompletion done, DriverResult result)
{
    if (m_hold)
        m_held.emplace_back(std::move(done), std::move(result));
    else
        Platform::complete(std::move(done), std::move(result));
}

DriverMaker FakeDriverMaker::maker()
{
    auto made = m_made;
    return [made](const RouterConnection &) -> RouterDriverPtr {
        auto driver = std::make_shared<FakeRouterDriver>();
        made->append(driver);
        return driver;
    };
}

#pragma once

#include "Drivers/RouterDriver.h"

#include <QList>

#include <deque>
#include <map>
#include <memory>
#include <optional>

// A scriptable driver for controller tests: it records every call, answers commands with
// success or with scripted errors, can hold completions until the test releases them, and
// emits whatever events the test hands it. It touches no network.
class FakeRouterDriver final : public RouterDriver
{
public:
    enum class Command { connect, disconnect, take, takeAll, setLock, setLabel };

    struct Call
    {
        Command command = Command::connect;
        QList<Route> routes; // take, takeAll
        int destination = 0; // setLock
        int level = 0; // setLock
        bool locked = false; // setLock
        QString label; // setLabel
        int index = 0; // setLabel
        PortKind kind = PortKind::source; // setLabel
    };

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    // Every later call of `command` fails with `error` (none: succeeds again).
    void setFailure(Command command, std::optional<DriverError> error);
    // Only the next call of `command` fails.
    void failNext(Command command, const DriverError &error);
    // While held, completions wait in order until releaseCompletions().
    void setHoldCompletions(bool hold) { m_hold = hold; }
    // Completes every held command (in call order); returns how many.
    int releaseCompletions();
    int heldCount() const { return int(m_held.size()); }

    void emitEvent(const RouterDriverEvent &event) { m_events->yield(event); }

    const QList<Call> &calls() const { return m_calls; }
    QList<Call> calls(Command command) const;
    int count(Command command) const { return int(calls(command).size()); }

private:
    DriverResult resultFor(Command command);
    void finish(DriverCompletion done, DriverResult result);

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    QList<Call> m_calls;
    std::map<Command, DriverError> m_failures;
    std::map<Command, std::deque<DriverError>> m_nextFailures;
    bool m_hold = false;
    std::deque<std::pair<DriverCompletion, DriverResult>> m_held;
};

// Builds FakeRouterDriver instances for a controller and keeps each one for inspection.
class FakeDriverMaker
{
public:
    DriverMaker maker();
    const QList<std::shared_ptr<FakeRouterDriver>> &made() const { return *m_made; }
    std::shared_ptr<FakeRouterDriver> last() const
    {
        return m_made->isEmpty() ? nullptr : m_made->last();
    }

private:
    std::shared_ptr<QList<std::shared_ptr<FakeRouterDriver>>> m_made
        = std::make_shared<QList<std::shared_ptr<FakeRouterDriver>>>();
};

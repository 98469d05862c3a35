#pragma once

#include "Drivers/RouterDriver.h"
#include "Drivers/TcpLink.h"

#include <chrono>
#include <memory>

// The driver for Evertz routers controlled with the Quartz ASCII protocol over TCP. The matrix
// size comes from the saved router; the driver asks for every destination's video source once
// the link is ready, reports the state once the answers go quiet, and then follows the
// router's answers and updates. It has no locks and no port names; takes ignore the level.
class QuartzDriver final : public RouterDriver
{
public:
    struct Timing
    {
        TcpLinkTiming link;
        // Quiet period after the last answer of the first burst before `connected`.
        std::chrono::milliseconds debounce { 1000 };
        // Time after the link is ready within which some answer must have arrived.
        std::chrono::milliseconds noAnswer { 5000 };
    };

    explicit QuartzDriver(const RouterConnection &connection);
    QuartzDriver(const RouterConnection &connection, Timing timing);
    ~QuartzDriver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

private:
    struct Session;

    DriverResult sendTake(int source, int destination, int level);

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    RouterConnection m_connection;
    Timing m_timing;
    std::shared_ptr<TcpLink> m_link;
    std::shared_ptr<Session> m_session; // lives on the queue; touched there only
};

#pragma once

#include "Drivers/RouterDriver.h"
#include "Drivers/TcpLink.h"

#include <chrono>
#include <memory>

// The driver for routers controlled with SW-P-08 over TCP, for Ross Ultrix and generic
// SW-P-08 routers alike. The matrix size comes from the saved router; the driver
// interrogates every destination once the link is ready, reports the state once the tallies
// go quiet, and then follows the router's tallies. It has no locks and no port names.
class SWP08Driver final : public RouterDriver
{
public:
    struct Timing
    {
        TcpLinkTiming link;
        // Quiet period after the last tally of the first burst before `connected`.
        std::chrono::milliseconds debounce { 1000 };
        // Time after the link is ready within which some tally must have arrived.
        std::chrono::milliseconds noAnswer { 5000 };
    };

    explicit SWP08Driver(const RouterConnection &connection);
    SWP08Driver(const RouterConnection &connection, Timing timing);
    ~SWP08Driver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    // Throws (completes with) `unsupported` for a crosspoint the protocol cannot address.
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

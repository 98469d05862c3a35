#pragma once

#include "Drivers/RouterDriver.h"

#include <chrono>

// An in-memory router, so that the whole system can be used without hardware. It runs on
// the UI thread, answers after short artificial delays and reports every change through
// its event stream exactly as a network driver would.
class SimulatorDriver final : public RouterDriver
{
public:
    struct Timing
    {
        std::chrono::milliseconds connectDelay{300};
        std::chrono::milliseconds takeDelay{120};
    };

    // Upper bound on either port count, so that a damaged file cannot make us allocate
    // billions of ports. Far above anything the editor offers.
    static constexpr int maxPortCount = 4096;

    explicit SimulatorDriver(const RouterConnection &connection);
    SimulatorDriver(const RouterConnection &connection, Timing timing);

    // The generated router for a saved connection: a pure function of its name and sizes.
    static RouterState makeState(const RouterConnection &connection);

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    bool isConnected() const { return m_connected; }

private:
    void emitEvent(RouterDriverEvent event);

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    RouterConnection m_connection;
    RouterState m_state;
    Timing m_timing;
    bool m_connected = false;
    bool m_ended = false; // disconnect() has run: the driver is finished for good
};

#pragma once

#include "Drivers/RouterDriver.h"

// Stands in for a protocol whose driver this build does not have: connecting reports that
// plainly, and every command fails with notConnected.
class UnavailableDriver final : public RouterDriver
{
public:
    explicit UnavailableDriver(const RouterConnection &connection);

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

private:
    RouterConnection m_connection;
    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
};

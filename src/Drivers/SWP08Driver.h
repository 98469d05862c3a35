#pragma once

#include "Drivers/InterrogatingLink.h"

#include <memory>

class SWP08Parser;

// The driver for routers controlled with SW-P-08 over TCP, for Ross Ultrix and generic
// SW-P-08 routers alike. The matrix size comes from the saved router; the driver
// interrogates every destination once the link is ready, reports the state once the tallies
// go quiet, and then follows the router's tallies. It has no locks and no port names.
class SWP08Driver final : public RouterDriver
{
public:
    using Timing = InterrogationTiming;

    explicit SWP08Driver(const RouterConnection &connection);
    SWP08Driver(const RouterConnection &connection, Timing timing);
    ~SWP08Driver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_link.events(); }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    // Throws (completes with) `unsupported` for a crosspoint the protocol cannot address.
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    // Received bytes held for the router, by the connection and the parser (diagnostics).
    qint64 bufferedBytes() const;

private:
    InterrogatingLink<SWP08Parser> m_link;
};

#pragma once

#include "Drivers/InterrogatingLink.h"

#include <memory>

class QuartzParser;

// The driver for Evertz routers controlled with the Quartz ASCII protocol over TCP. The matrix
// size comes from the saved router; the driver asks for every destination's video source once
// the link is ready, reports the state once the answers go quiet, and then follows the
// router's answers and updates. It has no locks and no port names; takes ignore the level.
class QuartzDriver final : public RouterDriver
{
public:
    using Timing = InterrogationTiming;

    explicit QuartzDriver(const RouterConnection &connection);
    QuartzDriver(const RouterConnection &connection, Timing timing);
    ~QuartzDriver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_link.events(); }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    // Received bytes held for the router, by the connection and the parser (diagnostics).
    qint64 bufferedBytes() const;

private:
    InterrogatingLink<QuartzParser> m_link;
};

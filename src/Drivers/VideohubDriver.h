#pragma once

#include "Drivers/RouterDriver.h"
#include "Drivers/TcpLink.h"

#include <QLoggingCategory>

#include <chrono>
#include <functional>
#include <memory>

class VideohubParser;

Q_DECLARE_LOGGING_CATEGORY(lcVideohub)
Q_DECLARE_LOGGING_CATEGORY(lcVideohubRaw)

struct VideohubTiming
{
    TcpLinkOptions link;
    // Quiet time after the last block of the opening dump before the state is reported
    // without an end-of-dump marker.
    std::chrono::milliseconds preludeDebounce { 1200 };
    // At most one resynchronisation query per interval.
    std::chrono::milliseconds resyncInterval { 2000 };
    // Longest the opening dump may take once the link is ready: a router that never goes
    // quiet is then reported as it stands, one that never describes itself is given up on.
    std::chrono::milliseconds readLimit { 10000 };
};

// Blackmagic Videohub routers: text blocks over TCP. The router sends its whole state on
// connect; the driver reports it once as `connected` and then turns every block into
// change events. See VideohubDriver.md for the wire format.
class VideohubDriver final : public RouterDriver
{
public:
    explicit VideohubDriver(const RouterConnection &connection, VideohubTiming timing = {},
                            ServiceResolver resolver = {});
    ~VideohubDriver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    // Received bytes held for the router, by the connection and the parser (diagnostics).
    qint64 bufferedBytes() const;

private:
    // Sends one command block asking for `asked`; `block` builds it on the queue from what
    // the parser knows.
    void command(std::function<QByteArray(const VideohubParser &)> block,
                 const QList<CommandTarget> &asked, DriverCompletion done);

    struct Session;

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    RouterConnection m_connection;
    VideohubTiming m_timing;
    std::shared_ptr<TcpLink> m_link;
    std::shared_ptr<Session> m_session; // touched on the link's queue only
};

#pragma once

#include "Drivers/LW3Parser.h"
#include "Drivers/RouterDriver.h"
#include "Drivers/TcpLink.h"

#include <memory>

// The driver for Lightware matrix routers controlled with LW3 text commands over TCP. It
// reads the product name, port names, crosspoints, locks and input signal status, asks the
// router to report later changes, and routes, locks and renames with signed commands whose
// answers the parser recognises. One level, "Video".
class LightwareDriver final : public RouterDriver
{
public:
    struct Timing
    {
        TcpLinkOptions link;
        LW3Parser::Timing parser;
        // Longest the first read may take once the link is ready: a router that never goes
        // quiet is then reported as it stands, one that never describes itself is given up on.
        std::chrono::milliseconds readLimit { 10000 };
    };

    explicit LightwareDriver(const RouterConnection &connection);
    LightwareDriver(const RouterConnection &connection, Timing timing);
    ~LightwareDriver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    // The name as it can travel in a rename: ";" would split it from its prefix and a line
    // break would end the command.
    static QString cleanName(const QString &name);

    // Received bytes held for the router, by the connection and the parser (diagnostics).
    qint64 bufferedBytes() const;

private:
    struct Session;

    // One signed command asking for `asked`; `text` builds it on the queue from what the
    // parser knows.
    TcpLink::Command command(std::function<QString(const LW3Parser &)> text, const QString &kind,
                             const CommandTarget &asked) const;

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    RouterConnection m_connection;
    std::shared_ptr<TcpLink> m_link;
    std::shared_ptr<Session> m_session; // lives on the queue; touched there only
};

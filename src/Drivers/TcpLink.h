#pragma once

#include "Drivers/PendingCommands.h"
#include "Drivers/RouterDriver.h"
#include "Platform/SerialQueue.h"
#include "Platform/TcpConnection.h"

#include <QLoggingCategory>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <vector>

// The connection life cycle shared by every driver that reaches its router over one TCP
// connection: endpoint choice, progress and failure texts, the connect watchdog, the
// reaction to the connection's states, the receive loop, command sends and disconnect().
// A protocol driver owns one TcpLink and plugs its parser in; it writes no socket code.
//
// How a protocol driver plugs in
// ------------------------------
// It describes its class once, in a TcpLink::Profile:
//   - queueLabel      how the queues of the class are named in logs ("videohub.driver"); each
//                     link has a queue of its own, named this and the router it reaches, so
//                     a busy router never delays another;
//   - noAddressText   the `error` sentence when the saved router has no host;
//   - readyText       the `status` sentence once the link is ready;
//   - allowsBonjour   whether an empty host falls back to the saved Bonjour service;
//   - log, rawLog     its logging categories (the raw one logs traffic in hex).
// and at connect() hands over its TcpLink::Protocol, every hook running on the queue:
//   - ingest(bytes)   each chunk received (1 to 65,536 bytes), in order. The parser runs
//                     here; events go out through emitEvent(). While the driver's event
//                     stream is full the next chunk waits (in the kernel) until the reader
//                     has caught up;
//   - ready()         after the ready status: send the initial queries, or nothing;
//   - ended()         once, when the link ends for any reason (end of stream, receive error,
//                     watchdog, failed state, cancel, fail(), disconnect()). Delayed work
//                     made with schedule() is already cancelled by then, and the commands
//                     in flight are put back; drop anything else pending here. Nothing the
//                     protocol emits afterwards can make the link look alive again (no
//                     `connected` after the end);
//   - commands        what the pending-command table asks of it: re-reading targets, what
//                     the router last reported, port names (PendingCommands::Protocol).
// What the protocol gets, all safe from the queue:
//   - emitEvent(e)    puts one event on the driver's stream (dropped after disconnect());
//   - write(bytes)    writes on the current connection, ignoring the outcome; nothing
//                     when the connection is gone (resynchronisation queries);
//   - schedule(d, f)  delayed work on the queue on the monotonic clock, cancellable through
//                     the handle and cancelled for good when the link ends;
//   - fail(text)      ends the link with `error(text)` (then `disconnected` without a reason),
//                     for input the protocol cannot go on with;
//   - close()         ends the link the same way once the protocol has emitted its error;
//   - pending()       the pending-command table: a command's prepare step opens its entry
//                     there with what it asks for, and the protocol tells it the answers,
//                     refusals and reports it matched (see PendingCommands);
//   - answered()      the oldest command not answered yet has its answer (order matching);
//   - isEnded()       whether the link has ended.
// A command is in flight from its write until the router has answered it and confirmed what
// it asked for. While one is unanswered the router must answer a command of ours, or be
// heard sending a reply we asked for, within answerLimit (unrelated traffic does not count;
// a long salvo on a busy router that keeps answering is never cut); and bytes of ours that
// the router leaves unread for answerLimit mean the same. Either ends the link as
// unresponsive: `error` with the reason, then `disconnected("The router stopped
// answering.")`. Any ending with commands in flight says the router may still carry them out.
// From the UI thread the driver calls connect() once, disconnect() once, and sendCommand()
// for each command (see there); none of them waits for the queue. The queue starts with the
// link and stops at disconnect() or when the link goes, once what it was handed has run.
// queue().sync() reads parser values from the UI thread, for diagnostics and tests only.
struct TcpLinkOptions
{
    std::chrono::milliseconds watchdog { 12000 };
    // How long a refused or unreachable router is left before the next attempt.
    std::chrono::milliseconds waitingRetry { 1000 };
    // How long a router may stay silent while a command waits for its answer, or leave our
    // bytes unread, before the link ends as unresponsive.
    std::chrono::milliseconds answerLimit { 5000 };
    // How long an answered command waits for the router's report before it is asked again
    // and given up.
    PendingCommands::Timing confirmation {};
    // The socket of each connection; empty means a plain one.
    TcpConnection::SocketFactory makeSocket {};
};

class TcpLink final
{
public:
    struct Profile
    {
        QString queueLabel;
        QString noAddressText;
        QString readyText;
        bool allowsBonjour = false;
        const QLoggingCategory *log = nullptr;
        const QLoggingCategory *rawLog = nullptr;
    };

    using Options = TcpLinkOptions;

    struct Protocol
    {
        std::function<void(const QByteArray &bytes)> ingest;
        std::function<void()> ready;
        std::function<void()> ended;
        PendingCommands::Protocol commands;
    };

    // The endpoint a saved router leads to, with the status text that announces it.
    struct Target
    {
        TcpConnection::Endpoint endpoint;
        QString statusText;
    };
    // Either the target or the no-address sentence. Pure; the port is clamped to 0…65535
    // while the text shows the port as saved.
    static std::expected<Target, QString> targetFor(const RouterConnection &connection,
                                                    const Profile &profile);
    // "The router didn't answer within 12 seconds." for the default watchdog.
    static QString watchdogText(std::chrono::milliseconds watchdog);
    // Why an unresponsive link ended, for the default limit: "The router didn't answer a
    // command within 5 seconds." or "The router left what it was sent unread for 5 seconds."
    static QString unansweredText(std::chrono::milliseconds limit);
    static QString unreadText(std::chrono::milliseconds limit);
    // Added to how a link ended while commands were in flight: "A command may still be carried
    // out if the router resumes." The reconnect reads what the router holds.
    static QString inFlightText(int commands);

    TcpLink(const RouterConnection &connection, Profile profile,
            std::shared_ptr<RouterEventStream> events, Options options = {},
            ServiceResolver resolver = {});
    ~TcpLink(); // cancels the connection if there still is one and stops the queue

    TcpLink(const TcpLink &) = delete;
    TcpLink &operator=(const TcpLink &) = delete;

    // UI thread.
    void connect(Protocol protocol); // a second call does nothing
    void disconnect();
    // Hands one command (a take, lock or rename) to the queue without waiting for it. On the
    // queue, and only if the connection is ready right then, `prepare` runs (it records what
    // the protocol tracks for the command and returns its bytes) and the bytes are written as
    // one message; otherwise nothing is prepared or written and the outcome is notConnected,
    // as it is at once when the connection is not ready now. `done` gets the outcome on the UI
    // thread, once, after the call has returned. A write that fails later emits
    // commandRefused("Couldn't send the command: …") and then runs `recover` on the queue, for
    // this command alone.
    void sendCommand(std::function<QByteArray()> prepare, std::function<void()> recover,
                     DriverCompletion done);
    void sendCommand(const QByteArray &bytes, std::function<void()> recover, DriverCompletion done);
    struct Command
    {
        std::function<QByteArray()> prepare;
        std::function<void()> recover;
    };
    // Several commands handed over at once, written in order as above; the first that cannot
    // be sent stops the rest and is the outcome. An empty list succeeds.
    void sendCommands(std::vector<Command> commands, DriverCompletion done);
    // Success only while the connection exists and is ready.
    DriverResult readiness() const;

    // Queue side (also safe from the UI thread).
    void emitEvent(const RouterDriverEvent &event) const;
    void write(const QByteArray &bytes) const;
    DelayedWork schedule(std::chrono::milliseconds delay, std::function<void()> fn) const;
    void fail(const QString &text) const;
    void close() const;
    void answered() const;
    PendingCommands &pending() const; // on the queue only
    // Hooks for a parser that hand what it matched to the pending table of the link `link`
    // holds when they are called (nothing once it is gone). `link` must outlive the hooks.
    static CommandHooks commandHooks(const std::weak_ptr<TcpLink> &link);
    bool isEnded() const;
    // Received bytes the connection holds for the protocol (diagnostics). On the queue.
    qint64 bufferedBytes() const;

    SerialQueue &queue() const;

private:
    struct Core;
    static void receiveLoop(const std::shared_ptr<Core> &core,
                            const std::shared_ptr<TcpConnection> &connection);
    static void receiveWhenStreamHasRoom(const std::shared_ptr<Core> &core,
                                         const std::shared_ptr<TcpConnection> &connection);

    RouterConnection m_connection;
    Options m_options;
    ServiceResolver m_resolver;
    std::shared_ptr<Core> m_core;
    std::shared_ptr<TcpConnection> m_nw;
    bool m_started = false;
};

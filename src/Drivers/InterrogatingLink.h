#pragma once

#include "Drivers/Interrogation.h"
#include "Drivers/TcpLink.h"
#include "Platform/Async.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Timer lengths of a driver built on InterrogatingLink.
struct InterrogationTiming
{
    TcpLinkOptions link;
    // Quiet period after the last answer of the first burst before `connected`.
    std::chrono::milliseconds debounce { 1000 };
    // Time after the link is ready within which some answer must have arrived.
    std::chrono::milliseconds noAnswer { 5000 };
    // Longest the first read may take once the link is ready: a router whose answers never
    // go quiet is then reported as it stands.
    std::chrono::milliseconds readLimit { 10000 };
};

// The link side of a driver whose router has no "dump everything" command: once the TcpLink
// is ready it asks every destination, reports the state once the answers go quiet, and then
// follows the router's answers. It runs the parser on the link's queue, the debounce and
// no-answer timers, and the recovery of a take whose send failed. A driver owns one and
// forwards its operations; what is protocol-specific it passes in as Commands.
//
// Parser needs: a (RouterConnection, Interrogation::Hooks) constructor, ingest(),
// beginInterrogation(), finalize(), checkAnswered() and readLimitReached() (false: end the
// link, the parser has said why), stop(), and for the link's pending-command table
// reread(targets) and reported(target).
template<typename Parser> class InterrogatingLink final
{
public:
    struct Commands
    {
        // UI thread, before anything is sent: why the take cannot be sent at all; may be empty.
        std::function<std::optional<DriverError>(const Route &take)> refuse;
        // What the take asks for, as the router's report of it would read.
        std::function<CommandTarget(const Route &take)> asked;
        // Queue: records the take as pending in the parser under its id in the link's
        // pending table and returns its wire bytes.
        std::function<QByteArray(Parser &parser, const Route &take, quint64 command)> prepare;
        // Queue: this take's send failed (its refusal has gone out); the parser asks the
        // router again.
        std::function<void(Parser &parser, const Route &take)> recover;
    };

    InterrogatingLink(const RouterConnection &connection, const TcpLink::Profile &profile,
                      const InterrogationTiming &timing, Commands commands);

    std::shared_ptr<RouterEventStream> events() const { return m_events; }
    void connect(std::function<void()> done);
    void disconnect(std::function<void()> done);
    // Sends the takes in order, stopping at the first that fails; completes with its error.
    // Hands them to the queue without waiting for it.
    void take(const QList<Route> &takes, DriverCompletion done);
    // Received bytes held for the router, by the connection and the parser (diagnostics).
    qint64 bufferedBytes() const;

private:
    struct Session;

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    Commands m_commands;
    std::shared_ptr<TcpLink> m_link;
    std::shared_ptr<Session> m_session; // lives on the queue; touched there only
};

// The queue side of one connection: the parser and what the timers and send recovery need.
// Protocol hooks hold it strongly; it holds the link only weakly.
template<typename Parser>
struct InterrogatingLink<Parser>::Session : std::enable_shared_from_this<Session>
{
    using Recover = decltype(Commands::recover);

    Session(const RouterConnection &connection, std::shared_ptr<RouterEventStream> events,
            const InterrogationTiming &timing, Recover recover)
        : parser(connection, hooks(std::move(events)))
        , timing(timing)
        , recover(std::move(recover))
    { }

    Interrogation::Hooks hooks(std::shared_ptr<RouterEventStream> events)
    {
        return { [events](const RouterDriverEvent &e) { events->yield(e); },
                 [this](const QByteArray &bytes) {
                     if (auto l = link.lock())
                         l->write(bytes);
                 },
                 [this](Interrogation::Timer timer) { arm(timer); }, TcpLink::commandHooks(link) };
    }

    void arm(Interrogation::Timer timer)
    {
        auto l = link.lock();
        if (!l)
            return;
        const std::weak_ptr<Session> weak = this->weak_from_this();
        if (timer == Interrogation::Timer::finalize) {
            // A burst re-arms the debounce once per reply; rather than a timer per reply,
            // one timer runs and, when it falls due early, waits out the remainder.
            quietSince = std::chrono::steady_clock::now();
            if (!finalizeWork.isPending())
                armFinalize(*l, timing.debounce);
        } else {
            l->schedule(timing.noAnswer, [weak] {
                if (auto self = weak.lock())
                    self->endUnless(self->parser.checkAnswered());
            });
        }
    }

    // Bounds the first read; the timer ends with the link.
    void armReadLimit()
    {
        if (auto l = link.lock()) {
            l->schedule(timing.readLimit, [weak = this->weak_from_this()] {
                if (auto self = weak.lock())
                    self->endUnless(self->parser.readLimitReached());
            });
        }
    }

    void endUnless(bool goOn)
    {
        if (goOn)
            return;
        // A router that is not understood is not read any further.
        if (auto l = link.lock())
            l->close();
    }

    void armFinalize(const TcpLink &l, std::chrono::milliseconds delay)
    {
        finalizeWork = l.schedule(delay, [weak = this->weak_from_this()] {
            auto self = weak.lock();
            if (!self)
                return;
            const auto due = self->quietSince + self->timing.debounce;
            const auto now = std::chrono::steady_clock::now();
            if (now < due) {
                if (auto link = self->link.lock())
                    self->armFinalize(*link,
                                      std::chrono::ceil<std::chrono::milliseconds>(due - now));
                return;
            }
            self->parser.finalize();
        });
    }

    Parser parser;
    InterrogationTiming timing;
    Recover recover;
    std::weak_ptr<TcpLink> link;
    DelayedWork finalizeWork;
    std::chrono::steady_clock::time_point quietSince; // the last reply that re-armed it
};

template<typename Parser>
InterrogatingLink<Parser>::InterrogatingLink(const RouterConnection &connection,
                                             const TcpLink::Profile &profile,
                                             const InterrogationTiming &timing, Commands commands)
    : m_commands(std::move(commands))
    , m_link(std::make_shared<TcpLink>(connection, profile, m_events, timing.link))
    , m_session(std::make_shared<Session>(connection, m_events, timing, m_commands.recover))
{
    m_session->link = m_link;
}

template<typename Parser> void InterrogatingLink<Parser>::connect(std::function<void()> done)
{
    const std::shared_ptr<Session> session = m_session;
    TcpLink::Protocol protocol;
    protocol.ingest = [session](const QByteArray &bytes) {
        session->parser.ingest(bytes);
    };
    protocol.ready = [session] {
        session->parser.beginInterrogation();
        session->armReadLimit();
    };
    protocol.ended = [session] {
        session->parser.stop();
        session->finalizeWork.cancel();
    };
    protocol.commands.reread = [session](const QList<CommandTarget> &targets) {
        session->parser.reread(targets);
    };
    protocol.commands.reported = [session](const CommandTarget &target) {
        return session->parser.reported(target);
    };
    m_link->connect(std::move(protocol));
    Platform::complete(std::move(done));
}

template<typename Parser> void InterrogatingLink<Parser>::disconnect(std::function<void()> done)
{
    m_link->disconnect();
    Platform::complete(std::move(done));
}

template<typename Parser> qint64 InterrogatingLink<Parser>::bufferedBytes() const
{
    qint64 bytes = 0;
    const std::shared_ptr<Session> session = m_session;
    // Diagnostics: the one place the UI thread waits for the queue.
    m_link->queue().sync(
        [&] { bytes = m_link->bufferedBytes() + session->parser.bufferedBytes(); });
    return bytes;
}

template<typename Parser>
void InterrogatingLink<Parser>::take(const QList<Route> &takes, DriverCompletion done)
{
    const std::shared_ptr<Session> session = m_session;
    std::vector<TcpLink::Command> commands;
    std::optional<DriverError> refusal;
    for (const Route &take : takes) {
        if (m_commands.refuse && (refusal = m_commands.refuse(take)))
            break;
        // The pending entry is in place before the router can answer the command, and only
        // when the command is written.
        TcpLink::Command command;
        command.prepare = [link = m_link, session, take, asked = m_commands.asked(take),
                           prepare = m_commands.prepare] {
            return prepare(session->parser, take, link->pending().open({ asked }));
        };
        command.recover = [session, take] {
            session->recover(session->parser, take);
        };
        commands.push_back(std::move(command));
    }
    // The takes before a refused one are still sent; the refusal is the outcome unless one
    // of them could not be.
    if (refusal && done) {
        done = [sent = std::move(done), error = *refusal](DriverResult result) {
            sent(result ? DriverResult(std::unexpected(error)) : result);
        };
    }
    m_link->sendCommands(std::move(commands), std::move(done));
}

#include "Drivers/VideohubDriver.h"

#include "Drivers/VideohubParser.h"
#include "Platform/Async.h"

#include <algorithm>
#include <atomic>
#include <deque>

Q_LOGGING_CATEGORY(lcVideohub, "quorvel.driver.videohub", QtInfoMsg)
Q_LOGGING_CATEGORY(lcVideohubRaw, "quorvel.driver.videohub.raw", QtInfoMsg)

namespace {

TcpLink::Profile videohubProfile()
{
    TcpLink::Profile profile;
    profile.queueLabel = QStringLiteral("videohub.driver");
    profile.noAddressText = QStringLiteral(
        "No address for this router. Edit it and set a host, or re-add it from discovery.");
    profile.readyText = QStringLiteral("Reading router state…");
    profile.allowsBonjour = true;
    profile.log = &lcVideohub();
    profile.rawLog = &lcVideohubRaw();
    return profile;
}

} // namespace

// The queue side of one driver: the parser, its finalize timer and what each ACK or NAK
// answers. Hooks hold it strongly and the link weakly, so a released driver is never kept
// alive by its connection.
struct VideohubDriver::Session
{
    // The router answers every block it is sent, commands and questions alike, in order.
    static constexpr std::size_t maxAwaited = 4096;

    VideohubParser parser;
    std::weak_ptr<TcpLink> link;
    std::chrono::milliseconds debounce;
    std::chrono::milliseconds readLimit;
    DelayedWork finalizeTimer;
    // What each answer still due settles: a command's id in the pending table, or none for
    // a question.
    std::deque<std::optional<PendingCommands::Id>> awaited;
    // Whether the router has sent its lock table, as the parser knows it; read on the UI
    // thread, which decides with it whether locking is supported.
    std::atomic_bool locksSeen { false };

    Session(const QString &name, const VideohubTiming &timing)
        : parser(name, limits(timing))
        , debounce(timing.preludeDebounce)
        , readLimit(timing.readLimit)
    { }

    static VideohubParser::Limits limits(const VideohubTiming &timing)
    {
        VideohubParser::Limits limits;
        limits.resyncInterval = timing.resyncInterval;
        return limits;
    }

    void apply(VideohubParser::Output out, const std::shared_ptr<Session> &self)
    {
        auto link = this->link.lock();
        if (!link)
            return;
        locksSeen.store(parser.locksSeen());
        for (const RouterDriverEvent &event : std::as_const(out.events))
            link->emitEvent(event);
        for (const VideohubParser::Reply &reply : std::as_const(out.replies)) {
            if (reply.kind == VideohubParser::Reply::report)
                link->pending().observe(reply.reported, true);
            else
                answer(*link, reply.kind == VideohubParser::Reply::ack);
        }
        if (out.progress)
            link->pending().heard();
        if (out.fatal) {
            finalizeTimer.cancel();
            link->fail(*out.fatal);
            return;
        }
        if (out.finalizeDone)
            finalizeTimer.cancel();
        if (out.rearmFinalize) {
            finalizeTimer.cancel();
            std::weak_ptr<Session> weak = self;
            finalizeTimer = link->schedule(debounce, [weak] {
                if (auto session = weak.lock())
                    session->apply(session->parser.finalizePrelude(), session);
            });
        }
    }

    void answer(const TcpLink &link, bool ack)
    {
        if (awaited.empty()) {
            // A refusal of nothing we know of: the tables are read again all the same.
            if (!ack) {
                link.emitEvent(RouterDriverEvent::makeCommandRefused(refusedText()));
                resync(link);
            }
            return;
        }
        const std::optional<PendingCommands::Id> command = awaited.front();
        awaited.pop_front();
        if (!command)
            link.pending().heard(); // the answer to a question, if not always the one hoped for
        else if (ack)
            link.pending().answered(*command);
        else
            link.pending().refused(*command, refusedText());
    }

    static QString refusedText() { return QStringLiteral("The router refused the last command."); }

    void await(std::optional<PendingCommands::Id> command)
    {
        if (awaited.size() >= maxAwaited)
            awaited.pop_front();
        awaited.push_back(command);
    }

    // A command that was never written is answered by nothing.
    void notSent(PendingCommands::Id command)
    {
        const auto it = std::find(awaited.begin(), awaited.end(), command);
        if (it != awaited.end())
            awaited.erase(it);
    }

    void ask(const TcpLink &link, const QList<QByteArray> &blocks)
    {
        for (const QByteArray &block : blocks) {
            await(std::nullopt);
            link.write(block);
        }
    }

    void reread(const QList<CommandTarget> &targets)
    {
        if (auto l = link.lock())
            ask(*l, VideohubParser::queryBlocks(targets));
    }

    // Bounds the opening dump; the timer ends with the link.
    void armReadLimit(const std::shared_ptr<Session> &self)
    {
        auto link = this->link.lock();
        if (!link)
            return;
        std::weak_ptr<Session> weak = self;
        link->schedule(readLimit, [weak] {
            if (auto session = weak.lock())
                session->apply(session->parser.readLimitReached(session->readLimit), session);
        });
    }

    void resync(const TcpLink &link)
    {
        if (auto query = parser.resyncQuery(std::chrono::steady_clock::now())) {
            qCDebug(lcVideohub) << "asking the router for its tables again";
            QList<QByteArray> blocks;
            for (qsizetype at = 0, end; (end = query->indexOf("\n\n", at)) >= 0; at = end + 2)
                blocks.append(query->mid(at, end + 2 - at));
            ask(link, blocks);
        }
    }
};

VideohubDriver::VideohubDriver(const RouterConnection &connection, VideohubTiming timing,
                               ServiceResolver resolver)
    : m_connection(connection)
    , m_timing(timing)
    , m_link(std::make_shared<TcpLink>(connection, videohubProfile(), m_events, timing.link,
                                       std::move(resolver)))
    , m_session(std::make_shared<Session>(connection.name, timing))
{
    m_session->link = m_link;
}

VideohubDriver::~VideohubDriver() = default;

void VideohubDriver::connect(std::function<void()> done)
{
    const std::shared_ptr<Session> session = m_session;
    TcpLink::Protocol protocol;
    protocol.ingest = [session](const QByteArray &bytes) {
        session->apply(session->parser.ingest(bytes), session);
    };
    // The router starts its dump by itself: nothing to send on ready.
    protocol.ready = [session] {
        session->armReadLimit(session);
    };
    protocol.ended = [session] {
        session->finalizeTimer.cancel();
        session->awaited.clear();
    };
    protocol.commands.reread = [session](const QList<CommandTarget> &targets) {
        session->reread(targets);
    };
    protocol.commands.reported = [session](const CommandTarget &target) {
        return session->parser.reported(target);
    };
    protocol.commands.portName = [session](const CommandTarget &target) {
        return session->parser.portName(target);
    };
    m_link->connect(std::move(protocol)); // a second call does nothing
    Platform::complete(std::move(done));
}

void VideohubDriver::disconnect(std::function<void()> done)
{
    m_link->disconnect();
    Platform::complete(std::move(done));
}

void VideohubDriver::take(int source, int destination, int level, DriverCompletion done)
{
    takeAll({ Route { level, destination, source } }, std::move(done));
}

void VideohubDriver::command(std::function<QByteArray(const VideohubParser &)> block,
                             const QList<CommandTarget> &asked, DriverCompletion done)
{
    const std::shared_ptr<Session> session = m_session;
    const std::shared_ptr<TcpLink> link = m_link;
    auto id = std::make_shared<PendingCommands::Id>(0);
    m_link->sendCommand(
        [link, session, id, block = std::move(block), asked] {
            *id = link->pending().open(asked);
            session->await(*id);
            return block(session->parser);
        },
        // A failed send asks the router for its tables again.
        [session, id] {
            session->notSent(*id);
            if (auto l = session->link.lock())
                session->resync(*l);
        },
        std::move(done));
}

qint64 VideohubDriver::bufferedBytes() const
{
    qint64 bytes = 0;
    const std::shared_ptr<Session> session = m_session;
    // Diagnostics: the one place the UI thread waits for the queue.
    m_link->queue().sync(
        [&] { bytes = m_link->bufferedBytes() + session->parser.bufferedBytes(); });
    return bytes;
}

void VideohubDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    QList<CommandTarget> asked;
    asked.reserve(routes.size());
    for (const Route &route : routes) // the router has one level
        asked.append(CommandTarget::route(0, route.destination, route.source));
    command([block = VideohubParser::routesBlock(routes)](const VideohubParser &) { return block; },
            asked, std::move(done));
}

void VideohubDriver::setLock(int destination, int level, bool locked, DriverCompletion done)
{
    Q_UNUSED(level) // the router has one lock per destination
    if (!m_session->locksSeen.load()) {
        Platform::complete(std::move(done),
                           DriverResult(std::unexpected(
                               DriverError::unsupportedFeature(QStringLiteral("Locking")))));
        return;
    }
    // What an unlock sends depends on who holds the lock now, read in the hop that writes it.
    command(
        [destination, locked](const VideohubParser &parser) {
            const QChar current = parser.lockCharacter(destination);
            return VideohubParser::lockBlock(destination,
                                             VideohubParser::lockCharacterToSend(locked, current));
        },
        { CommandTarget::lock(destination, locked) }, std::move(done));
}

void VideohubDriver::setLabel(const QString &label, int index, PortKind kind, DriverCompletion done)
{
    command([block = VideohubParser::labelBlock(kind, index, label)](
                const VideohubParser &) { return block; },
            { CommandTarget::name(kind, index, VideohubParser::labelAsSent(label)) },
            std::move(done));
}

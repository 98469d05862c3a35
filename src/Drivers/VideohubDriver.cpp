#include "Drivers/VideohubDriver.h"

#include "Drivers/VideohubParser.h"
#include "Platform/Async.h"

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

// The queue side of one driver: the parser and its finalize timer. Hooks hold it strongly
// and the link weakly, so a released driver is never kept alive by its connection.
struct VideohubDriver::Session
{
    VideohubParser parser;
    std::weak_ptr<TcpLink> link;
    std::chrono::milliseconds debounce;
    std::chrono::milliseconds readLimit;
    DelayedWork finalizeTimer;
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
        for (int i = 0; i < out.answers; ++i)
            link->answered();
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
        if (out.resyncNeeded)
            resync(*link);
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
            link.write(*query);
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

std::function<void()> VideohubDriver::resyncAfterFailedSend() const
{
    return [session = m_session] {
        if (auto link = session->link.lock())
            session->resync(*link);
    };
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
    m_link->sendCommand(VideohubParser::routesBlock(routes), resyncAfterFailedSend(),
                        std::move(done));
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
    m_link->sendCommand(
        [session = m_session, destination, locked] {
            const QChar current = session->parser.lockCharacter(destination);
            return VideohubParser::lockBlock(destination,
                                             VideohubParser::lockCharacterToSend(locked, current));
        },
        resyncAfterFailedSend(), std::move(done));
}

void VideohubDriver::setLabel(const QString &label, int index, PortKind kind, DriverCompletion done)
{
    m_link->sendCommand(VideohubParser::labelBlock(kind, index, label), resyncAfterFailedSend(),
                        std::move(done));
}

#include "Drivers/QuartzDriver.h"

#include "Drivers/QuartzParser.h"
#include "Platform/Async.h"

#include <chrono>
#include <deque>

namespace {

// Takes whose send outcome is not known yet, newest last. Sends fail only together with
// everything written after them, so a burst of failures is always the newest of these.
constexpr std::size_t kRecentTakes = 256;

TcpLink::Profile quartzProfile()
{
    TcpLink::Profile profile;
    profile.queueLabel = QStringLiteral("quartz.driver");
    profile.noAddressText = QStringLiteral("No address for this router. Edit it and set a host.");
    profile.readyText = QStringLiteral("Interrogating crosspoints…");
    profile.log = &lcQuartz();
    profile.rawLog = &lcQuartzRaw();
    return profile;
}

} // namespace

// The queue side of one connection: the parser and what the driver's timers and send
// recovery need. Protocol hooks hold it strongly; it holds the link only weakly.
struct QuartzDriver::Session : std::enable_shared_from_this<Session>
{
    Session(const RouterConnection &connection, std::shared_ptr<RouterEventStream> events,
            Timing timing)
        : parser(connection, hooks(std::move(events)))
        , timing(timing)
    { }

    QuartzParser::Hooks hooks(std::shared_ptr<RouterEventStream> events)
    {
        return { [events](const RouterDriverEvent &e) { events->yield(e); },
                 [this](const QByteArray &bytes) {
                     if (auto l = link.lock())
                         l->write(bytes);
                 },
                 [this](QuartzParser::Timer timer) {
                     arm(timer);
                 } };
    }

    void arm(QuartzParser::Timer timer)
    {
        auto l = link.lock();
        if (!l)
            return;
        const std::weak_ptr<Session> weak = weak_from_this();
        if (timer == QuartzParser::Timer::finalize) {
            // A burst re-arms the debounce once per reply; rather than a timer per reply,
            // one timer runs and, when it falls due early, waits out the remainder.
            quietSince = std::chrono::steady_clock::now();
            if (!finalizeWork.isPending())
                armFinalize(*l, timing.debounce);
        } else {
            l->schedule(timing.noAnswer, [weak] {
                if (auto self = weak.lock())
                    self->parser.checkAnswered();
            });
        }
    }

    void armFinalize(const TcpLink &l, std::chrono::milliseconds delay)
    {
        finalizeWork = l.schedule(delay, [weak = weak_from_this()] {
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

    void recoverFailedSends()
    {
        const std::size_t count = std::min<std::size_t>(failedSends, recentTakes.size());
        failedSends = 0;
        const auto first = recentTakes.end() - qsizetype(count);
        // The route stays pending; the router's answer to the question settles it.
        for (auto it = first; it != recentTakes.end(); ++it)
            parser.reinterrogate(it->destination);
        recentTakes.erase(first, recentTakes.end());
    }

    QuartzParser parser;
    Timing timing;
    std::weak_ptr<TcpLink> link;
    DelayedWork finalizeWork;
    std::chrono::steady_clock::time_point quietSince; // the last reply that re-armed it
    std::deque<Route> recentTakes;
    int failedSends = 0;
};

QuartzDriver::QuartzDriver(const RouterConnection &connection)
    : QuartzDriver(connection, Timing {})
{ }

QuartzDriver::QuartzDriver(const RouterConnection &connection, Timing timing)
    : m_connection(connection)
    , m_timing(timing)
    , m_link(std::make_shared<TcpLink>(connection, quartzProfile(), m_events, timing.link))
    , m_session(std::make_shared<Session>(connection, m_events, timing))
{
    m_session->link = m_link;
}

QuartzDriver::~QuartzDriver() = default;

void QuartzDriver::connect(std::function<void()> done)
{
    const std::shared_ptr<Session> session = m_session;
    TcpLink::Protocol protocol;
    protocol.ingest = [session](const QByteArray &bytes) {
        session->parser.ingest(bytes);
    };
    protocol.ready = [session] {
        session->parser.beginInterrogation();
    };
    protocol.sendFailed = [session] {
        // All failures of one burst arrive back to back; recover once they are counted.
        if (session->failedSends++ == 0) {
            if (auto l = session->link.lock())
                l->queue().async([session] { session->recoverFailedSends(); });
        }
    };
    protocol.ended = [session] {
        session->parser.stop();
        session->finalizeWork.cancel();
    };
    m_link->connect(std::move(protocol));
    Platform::complete(std::move(done));
}

void QuartzDriver::disconnect(std::function<void()> done)
{
    m_link->disconnect();
    Platform::complete(std::move(done));
}

DriverResult QuartzDriver::sendTake(int source, int destination, int level)
{
    Q_UNUSED(level) // the driver knows the video level only
    if (auto ready = m_link->readiness(); !ready)
        return ready;
    QByteArray line;
    const std::shared_ptr<Session> session = m_session;
    // The pending entry is in place before the router can answer the line.
    m_link->queue().sync([&] {
        line = session->parser.lineForConnect(source, destination);
        if (session->recentTakes.size() >= kRecentTakes)
            session->recentTakes.pop_front();
        session->recentTakes.push_back({ level, destination, source });
    });
    m_link->sendCommand(line + '\r', {});
    return {};
}

void QuartzDriver::take(int source, int destination, int level, DriverCompletion done)
{
    Platform::complete(std::move(done), sendTake(source, destination, level));
}

void QuartzDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    DriverResult result;
    for (const Route &route : routes) {
        result = sendTake(route.source, route.destination, route.level);
        if (!result)
            break;
    }
    Platform::complete(std::move(done), result);
}

void QuartzDriver::setLock(int, int, bool, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Locking")))));
}

void QuartzDriver::setLabel(const QString &, int, PortKind, DriverCompletion done)
{
    Platform::complete(
        std::move(done),
        DriverResult(std::unexpected(DriverError::unsupportedFeature(QStringLiteral("Renaming")))));
}

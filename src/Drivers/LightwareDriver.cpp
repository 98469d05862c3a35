#include "Drivers/LightwareDriver.h"

#include "Platform/Async.h"
#include "Platform/Text.h"

namespace {

TcpLink::Profile lightwareProfile()
{
    TcpLink::Profile profile;
    profile.queueLabel = QStringLiteral("lightware.driver");
    profile.noAddressText = QStringLiteral("No address for this router. Edit it and set a host.");
    profile.readyText = QStringLiteral("Reading router state…");
    profile.log = &lcLightware();
    profile.rawLog = &lcLightwareRaw();
    return profile;
}

QByteArray asLine(const QString &text)
{
    return text.toUtf8() + "\r\n";
}

} // namespace

// The queue side of one connection: the parser and its two timers. Protocol hooks hold it
// strongly; it holds the link only weakly.
struct LightwareDriver::Session : std::enable_shared_from_this<Session>
{
    Session(const RouterConnection &connection, std::shared_ptr<RouterEventStream> events,
            LW3Parser::Timing timing, std::chrono::milliseconds readLimit)
        : parser(connection.name, hooks(std::move(events)), timing)
        , readLimit(readLimit)
    { }

    LW3Parser::Hooks hooks(std::shared_ptr<RouterEventStream> events)
    {
        return { [events](const RouterDriverEvent &e) { events->yield(e); },
                 [this](const QString &line) {
                     if (auto l = link.lock())
                         l->write(asLine(line));
                 },
                 [this](LW3Parser::Timer timer, std::chrono::milliseconds delay) {
                     arm(timer, delay);
                 },
                 TcpLink::commandHooks(link) };
    }

    // Every property line re-arms a timer; rather than a new one per line, one runs and,
    // when it falls due early, waits out the rest.
    struct Quiet
    {
        DelayedWork work;
        std::chrono::steady_clock::time_point due;
    };

    Quiet &quiet(LW3Parser::Timer timer)
    {
        return timer == LW3Parser::Timer::finalize ? finalizeQuiet : namesQuiet;
    }

    void arm(LW3Parser::Timer timer, std::chrono::milliseconds delay)
    {
        Quiet &q = quiet(timer);
        q.due = std::chrono::steady_clock::now() + delay;
        if (!q.work.isPending())
            schedule(timer, delay);
    }

    void schedule(LW3Parser::Timer timer, std::chrono::milliseconds delay)
    {
        auto l = link.lock();
        if (!l)
            return;
        quiet(timer).work = l->schedule(delay, [weak = weak_from_this(), timer] {
            auto self = weak.lock();
            if (!self)
                return;
            const auto now = std::chrono::steady_clock::now();
            const auto due = self->quiet(timer).due;
            if (now < due) {
                self->schedule(timer, std::chrono::ceil<std::chrono::milliseconds>(due - now));
                return;
            }
            self->parser.timerFired(timer);
        });
    }

    // Bounds the first read; the timer ends with the link.
    void armReadLimit()
    {
        auto l = link.lock();
        if (!l)
            return;
        l->schedule(readLimit, [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self || self->parser.readLimitReached(self->readLimit))
                return;
            if (auto link = self->link.lock())
                link->close();
        });
    }

    LW3Parser parser;
    std::chrono::milliseconds readLimit;
    std::weak_ptr<TcpLink> link;
    Quiet finalizeQuiet;
    Quiet namesQuiet;
};

LightwareDriver::LightwareDriver(const RouterConnection &connection)
    : LightwareDriver(connection, Timing {})
{ }

LightwareDriver::LightwareDriver(const RouterConnection &connection, Timing timing)
    : m_connection(connection)
    , m_link(std::make_shared<TcpLink>(connection, lightwareProfile(), m_events, timing.link))
    , m_session(std::make_shared<Session>(connection, m_events, timing.parser, timing.readLimit))
{
    m_session->link = m_link;
}

LightwareDriver::~LightwareDriver() = default;

void LightwareDriver::connect(std::function<void()> done)
{
    const std::shared_ptr<Session> session = m_session;
    const std::weak_ptr<TcpLink> weakLink = m_link;
    TcpLink::Protocol protocol;
    protocol.ingest = [session, weakLink](const QByteArray &bytes) {
        if (!session->parser.ingest(bytes)) {
            if (auto l = weakLink.lock())
                l->fail(QStringLiteral("The router sent a line longer than %1 MiB.")
                            .arg(LW3Parser::maxLineLength / (1024 * 1024)));
        }
    };
    protocol.ready = [session] {
        session->parser.beginInitialQueries();
        session->armReadLimit();
    };
    protocol.ended = [session] {
        session->parser.stop();
        session->finalizeQuiet.work.cancel();
        session->namesQuiet.work.cancel();
    };
    protocol.commands.reread = [session](const QList<CommandTarget> &targets) {
        session->parser.reread(targets);
    };
    protocol.commands.reported = [session](const CommandTarget &target) {
        return session->parser.reported(target);
    };
    protocol.commands.portName = [session](const CommandTarget &target) {
        return session->parser.portName(target);
    };
    m_link->connect(std::move(protocol));
    Platform::complete(std::move(done));
}

void LightwareDriver::disconnect(std::function<void()> done)
{
    m_link->disconnect();
    Platform::complete(std::move(done));
}

TcpLink::Command LightwareDriver::command(std::function<QString(const LW3Parser &)> text,
                                          const QString &kind, const CommandTarget &asked) const
{
    const std::shared_ptr<Session> session = m_session;
    const std::shared_ptr<TcpLink> link = m_link;
    // The signature is recorded before the router can answer the line, and only for a line
    // that is written.
    TcpLink::Command command;
    command.prepare = [link, session, text = std::move(text), kind, asked] {
        const QString line = text(session->parser);
        const auto id = link->pending().open({ asked });
        return asLine(session->parser.registerCommand(kind, id) + QLatin1Char('#') + line);
    };
    command.recover = [session] {
        session->parser.resyncFromSendFailure();
    };
    return command;
}

qint64 LightwareDriver::bufferedBytes() const
{
    qint64 bytes = 0;
    const std::shared_ptr<Session> session = m_session;
    // Diagnostics: the one place the UI thread waits for the queue.
    m_link->queue().sync(
        [&] { bytes = m_link->bufferedBytes() + session->parser.bufferedBytes(); });
    return bytes;
}

void LightwareDriver::take(int source, int destination, int level, DriverCompletion done)
{
    takeAll({ Route { level, destination, source } }, std::move(done));
}

void LightwareDriver::takeAll(const QList<Route> &routes, DriverCompletion done)
{
    std::vector<TcpLink::Command> commands;
    commands.reserve(routes.size());
    for (const Route &route : routes) {
        const QString text = Text::format(QStringLiteral("CALL /MEDIA/XP/VIDEO:switch(I%1:O%2)"),
                                          qint64(route.source) + 1, qint64(route.destination) + 1);
        commands.push_back(command([text](const LW3Parser &) { return text; },
                                   QStringLiteral("Route"),
                                   CommandTarget::route(0, route.destination, route.source)));
    }
    m_link->sendCommands(std::move(commands), std::move(done));
}

void LightwareDriver::setLock(int destination, int, bool locked, DriverCompletion done)
{
    const QString text = Text::format(QStringLiteral("CALL /MEDIA/XP/VIDEO:%1(O%2)"),
                                      locked ? QStringLiteral("lockDestination")
                                             : QStringLiteral("unlockDestination"),
                                      qint64(destination) + 1);
    m_link->sendCommands(
        { command([text](const LW3Parser &) { return text; }, QStringLiteral("Lock"),
                  CommandTarget::lock(destination, locked)) },
        std::move(done));
}

QString LightwareDriver::cleanName(const QString &name)
{
    QString cleaned = name;
    cleaned.replace(QLatin1Char(';'), QLatin1Char(','));
    cleaned.replace(QLatin1Char('\r'), QLatin1Char(' '));
    cleaned.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return cleaned;
}

void LightwareDriver::setLabel(const QString &label, int index, PortKind kind,
                               DriverCompletion done)
{
    const QString key = (kind == PortKind::destination ? QStringLiteral("O") : QStringLiteral("I"))
        + QString::number(qint64(index) + 1);
    const QString name = cleanName(label);
    // The prefix is read in the same hop as the signature is taken.
    const auto text = [key, name](const LW3Parser &parser) {
        return QStringLiteral("SET /MEDIA/NAMES/VIDEO.") + key + QLatin1Char('=')
            + parser.namePrefix(key).value_or(QStringLiteral("1")) + QLatin1Char(';') + name;
    };
    m_link->sendCommands({ command(text, QStringLiteral("Rename"),
                                   CommandTarget::name(kind, index, boundedRouterName(name))) },
                         std::move(done));
}

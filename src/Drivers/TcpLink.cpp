#include "Drivers/TcpLink.h"

#include "Platform/Async.h"
#include "Platform/Text.h"

#include <QDebug>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

Q_LOGGING_CATEGORY(lcLinkFallback, "quorvel.tcplink", QtInfoMsg)

QString seconds(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000.0);
}

// "videohub.driver 10.0.0.5:9990": the class's label and the router the link reaches.
QString queueLabelFor(const QString &classLabel, const RouterConnection &connection)
{
    const QString router = !connection.host.isEmpty()
        ? connection.host + QLatin1Char(':') + QString::number(connection.port)
        : connection.bonjourName.value_or(QString());
    return router.isEmpty() ? classLabel : classLabel + QLatin1Char(' ') + router;
}

} // namespace

// Everything the connection's callbacks need, shared with them so that they never reach
// back into the link or the driver object.
struct TcpLink::Core : std::enable_shared_from_this<Core>
{
    std::shared_ptr<SerialQueue> queue; // this link's own
    std::shared_ptr<RouterEventStream> events;
    Profile profile;
    Protocol protocol;
    std::weak_ptr<TcpConnection> connection;
    std::atomic_bool ended { false };
    DelayedWork watchdog;

    std::mutex worksMutex;
    std::vector<DelayedWork> works;

    // Commands in flight, what they asked for and when the router last answered; on the
    // queue only.
    std::chrono::milliseconds answerLimit { 0 };
    PendingCommands pending;
    DelayedWork answerCheck;

    const QLoggingCategory &log() const { return profile.log ? *profile.log : lcLinkFallback(); }

    void emitEvent(const RouterDriverEvent &event)
    {
        qCDebug(log()).noquote() << queue->label() << "event" << describe(event);
        events->yield(event);
    }

    // Runs once; cancels every piece of protocol work so nothing fires after the end.
    void end()
    {
        if (ended.exchange(true))
            return;
        watchdog.cancel();
        std::vector<DelayedWork> cancelled;
        {
            std::lock_guard lock(worksMutex);
            cancelled.swap(works);
        }
        for (DelayedWork &work : cancelled)
            work.cancel();
        // Put back to what the router reported, while the parser still holds it.
        pending.linkEnded();
        if (protocol.ended)
            protocol.ended();
    }

    DelayedWork schedule(std::chrono::milliseconds delay, std::function<void()> fn)
    {
        if (ended.load())
            return {};
        DelayedWork work = queue->schedule(delay, std::move(fn));
        std::lock_guard lock(worksMutex);
        std::erase_if(works, [](const DelayedWork &w) { return !w.isPending(); });
        works.push_back(work);
        // The link may have ended between the check above and now.
        if (ended.load())
            work.cancel();
        return work;
    }

    PendingCommands::Id commandSent()
    {
        const PendingCommands::Id id = pending.sent();
        watchAnswers();
        return id;
    }

    // `text`, and when commands were still in flight, that the router may yet carry them out.
    QString ending(const QString &text) const
    {
        const int waiting = pending.inFlight();
        return waiting == 0 ? text : text + u' ' + TcpLink::inFlightText(waiting);
    }

    void watchAnswers()
    {
        if (!answerCheck.isPending())
            armAnswerCheck(answerLimit);
    }

    void armAnswerCheck(std::chrono::milliseconds delay)
    {
        answerCheck = schedule(delay, [weak = weak_from_this()] {
            if (auto self = weak.lock())
                self->checkAnswers();
        });
    }

    // Ends the link once a command has waited answerLimit since the router's last word, or
    // our bytes have waited as long for the router to read them; else waits for the sooner.
    void checkAnswers()
    {
        const auto connection = this->connection.lock();
        if (ended.load() || !connection)
            return;
        const auto now = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> due;
        if (pending.unanswered() > 0) {
            // What the router sent and we have not read yet may be its answer: the delay is ours.
            if (connection->hasUnreadBytes())
                pending.heard();
            if (now - pending.lastAnswer() >= answerLimit) {
                unresponsive(*connection, unansweredText(answerLimit));
                return;
            }
            due = pending.lastAnswer() + answerLimit;
        }
        if (const auto unsent = connection->unsentSince()) {
            if (now - *unsent >= answerLimit) {
                unresponsive(*connection, unreadText(answerLimit));
                return;
            }
            due = std::min(due.value_or(*unsent + answerLimit), *unsent + answerLimit);
        }
        if (due)
            armAnswerCheck(std::chrono::ceil<std::chrono::milliseconds>(*due - now));
    }

    void unresponsive(TcpConnection &connection, const QString &reason)
    {
        qCWarning(log()) << "the router stopped answering:" << reason;
        emitEvent(RouterDriverEvent::makeError(ending(reason)));
        // The reason is what stays on screen once the link is down, so it carries the note.
        emitEvent(RouterDriverEvent::makeDisconnected(
            ending(QStringLiteral("The router stopped answering."))));
        end();
        connection.cancel();
    }

    void rawTraffic(const char *direction, const QByteArray &bytes) const
    {
        if (profile.rawLog && profile.rawLog->isDebugEnabled())
            qCDebug(*profile.rawLog).noquote() << queue->label() << direction << bytes.toHex(' ');
    }
};

std::expected<TcpLink::Target, QString> TcpLink::targetFor(const RouterConnection &connection,
                                                           const Profile &profile)
{
    Target target;
    if (!connection.host.isEmpty()) {
        target.endpoint.address.host = connection.host;
        target.endpoint.address.port = quint16(std::clamp(connection.port, 0, 65535));
        target.statusText = Text::format(QStringLiteral("Connecting to %1:%2…"),
                                         Text::isolated(connection.host), connection.port);
        return target;
    }
    if (profile.allowsBonjour && connection.bonjourName && connection.bonjourType) {
        ServiceEndpoint service;
        service.name = *connection.bonjourName;
        service.type = *connection.bonjourType;
        service.domain = connection.bonjourDomain.value_or(QStringLiteral("local."));
        target.endpoint.service = service;
        target.statusText = Text::format(QStringLiteral("Connecting to %1 via Bonjour…"),
                                         Text::isolated(service.name));
        return target;
    }
    return std::unexpected(profile.noAddressText);
}

QString TcpLink::watchdogText(std::chrono::milliseconds watchdog)
{
    return QStringLiteral("The router didn't answer within %1 seconds.").arg(seconds(watchdog));
}

QString TcpLink::unansweredText(std::chrono::milliseconds limit)
{
    return QStringLiteral("The router didn't answer a command within %1 seconds.")
        .arg(seconds(limit));
}

QString TcpLink::inFlightText(int commands)
{
    // Kept short: it ends the line that stays on screen once the link is down.
    if (commands == 1)
        return QStringLiteral("A command may still be carried out if the router resumes.");
    return Text::format(QStringLiteral("%1 commands may still be carried out if the router "
                                       "resumes."),
                        commands);
}

QString TcpLink::unreadText(std::chrono::milliseconds limit)
{
    return QStringLiteral("The router left what it was sent unread for %1 seconds.")
        .arg(seconds(limit));
}

TcpLink::TcpLink(const RouterConnection &connection, Profile profile,
                 std::shared_ptr<RouterEventStream> events, Options options,
                 ServiceResolver resolver)
    : m_connection(connection)
    , m_options(std::move(options))
    , m_resolver(std::move(resolver))
    , m_core(std::make_shared<Core>())
{
    m_core->queue = SerialQueue::create(queueLabelFor(profile.queueLabel, connection));
    m_core->events = std::move(events);
    m_core->profile = std::move(profile);
    m_core->answerLimit = m_options.answerLimit;
    m_core->pending = PendingCommands(m_options.confirmation);
    // The core owns the table, so the table's hooks may hold it plainly; work scheduled for
    // the table runs only while the core still exists.
    Core *core = m_core.get();
    const std::weak_ptr<Core> weakCore = m_core;
    m_core->pending.setLink(
        { [core](const RouterDriverEvent &event) { core->emitEvent(event); },
          [core, weakCore](std::chrono::milliseconds delay, std::function<void()> fn) {
              return core->schedule(delay, [weakCore, fn = std::move(fn)] {
                  if (auto alive = weakCore.lock())
                      fn();
              });
          } });
}

TcpLink::~TcpLink()
{
    if (m_nw)
        m_nw->cancel();
    m_core->queue->stop(); // after the cancel, which it still runs
}

SerialQueue &TcpLink::queue() const
{
    return *m_core->queue;
}

void TcpLink::connect(Protocol protocol)
{
    if (m_started)
        return;
    m_started = true;
    const std::shared_ptr<Core> core = m_core;

    auto target = targetFor(m_connection, core->profile);
    if (!target) {
        core->emitEvent(RouterDriverEvent::makeError(target.error()));
        return;
    }
    core->pending.setProtocol(std::move(protocol.commands));
    core->protocol = std::move(protocol);
    core->emitEvent(RouterDriverEvent::makeStatus(target->statusText));

    TcpConnection::Options options;
    options.waitingRetry = m_options.waitingRetry;
    options.resolver = m_resolver;
    options.makeSocket = m_options.makeSocket;
    auto connection = TcpConnection::create(target->endpoint, options);
    m_nw = connection;
    core->connection = connection;

    const std::weak_ptr<TcpConnection> weakConnection = connection;
    const QString timeoutText = watchdogText(m_options.watchdog);
    connection->setStateHandler([core](TcpConnection::State state, const QString &error) {
        qCDebug(core->log()).noquote()
            << core->queue->label() << "connection state" << tcpStateName(state) << error;
        switch (state) {
        case TcpConnection::State::waiting:
            core->emitEvent(RouterDriverEvent::makeStatus(
                QStringLiteral("Waiting for router… (%1)").arg(error)));
            break;
        case TcpConnection::State::failed:
            core->watchdog.cancel();
            core->emitEvent(RouterDriverEvent::makeError(
                core->ending(QStringLiteral("Connection failed: ") + error)));
            core->end();
            break;
        case TcpConnection::State::ready:
            core->watchdog.cancel();
            if (core->ended.load())
                break;
            core->emitEvent(RouterDriverEvent::makeStatus(core->profile.readyText));
            if (core->protocol.ready)
                core->protocol.ready();
            break;
        case TcpConnection::State::cancelled:
            core->watchdog.cancel();
            core->emitEvent(RouterDriverEvent::makeDisconnected());
            core->end();
            break;
        case TcpConnection::State::setup:
        case TcpConnection::State::preparing:
            break;
        }
    });
    // Armed before the start so that the state handler only ever sees a settled handle.
    core->watchdog = core->queue->schedule(m_options.watchdog, [core, weakConnection, timeoutText] {
        auto connection = weakConnection.lock();
        if (!connection)
            return;
        const auto state = connection->state();
        if (state == TcpConnection::State::ready || state == TcpConnection::State::cancelled)
            return;
        core->emitEvent(RouterDriverEvent::makeError(timeoutText));
        core->end();
        connection->cancel();
    });
    receiveLoop(core, connection);
    connection->start(*core->queue);
}

// One receive after another until the stream ends, an error comes or the link ends. Holds
// the connection for as long as it runs; cancelling the connection drops the pending one.
void TcpLink::receiveLoop(const std::shared_ptr<Core> &core,
                          const std::shared_ptr<TcpConnection> &connection)
{
    connection->receive(1, 65536,
                        [core, connection](const QByteArray &content, bool isComplete,
                                           const std::optional<QString> &error) {
                            if (core->ended.load())
                                return;
                            if (!content.isEmpty()) {
                                core->rawTraffic("rx", content);
                                if (core->protocol.ingest)
                                    core->protocol.ingest(content);
                                if (core->ended.load()) // the protocol gave up on this input
                                    return;
                                core->pending.flush();
                            }
                            if (isComplete) {
                                core->emitEvent(RouterDriverEvent::makeDisconnected(core->ending(
                                    QStringLiteral("The router closed the connection."))));
                                core->end();
                                connection->cancel();
                                return;
                            }
                            if (error) {
                                core->emitEvent(RouterDriverEvent::makeError(
                                    core->ending(QStringLiteral("Receive failed: ") + *error)));
                                core->end();
                                connection->cancel();
                                return;
                            }
                            receiveWhenStreamHasRoom(core, connection);
                        });
}

// A full event stream holds the next receive back until its reader has caught up; the bytes
// wait in the kernel meanwhile, where TCP flow control slows the router down. The waiting
// callback holds nothing strongly, so a link dropped meanwhile is not kept alive by it.
void TcpLink::receiveWhenStreamHasRoom(const std::shared_ptr<Core> &core,
                                       const std::shared_ptr<TcpConnection> &connection)
{
    if (core->events->hasRoom()) {
        receiveLoop(core, connection);
        return;
    }
    qCDebug(core->log()).noquote() << core->queue->label() << "event stream full; reading paused";
    const std::weak_ptr<Core> weakCore = core;
    const std::weak_ptr<TcpConnection> weakConnection = connection;
    const std::weak_ptr<SerialQueue> weakQueue = core->queue;
    core->events->whenRoom([weakQueue, weakCore, weakConnection] {
        const auto queue = weakQueue.lock();
        if (!queue)
            return;
        queue->async([weakCore, weakConnection] {
            const auto core = weakCore.lock();
            const auto connection = weakConnection.lock();
            if (core && connection && !core->ended.load())
                receiveLoop(core, connection);
        });
    });
}

void TcpLink::disconnect()
{
    // The stream is finished first: the cancelled state is reported on the queue and could
    // otherwise slip in between.
    m_core->events->finish();
    if (m_nw) {
        m_nw->cancel();
        m_nw.reset();
    }
    if (!m_core->ended.load()) {
        auto core = m_core;
        core->queue->async([core] { core->end(); });
    }
    // The link is done: what it was handed still runs, then its thread ends.
    m_core->queue->stop();
}

DriverResult TcpLink::readiness() const
{
    if (!m_nw || m_nw->state() != TcpConnection::State::ready)
        return std::unexpected(DriverError::notConnectedError());
    return {};
}

void TcpLink::sendCommand(std::function<QByteArray()> prepare, std::function<void()> recover,
                          DriverCompletion done)
{
    std::vector<Command> commands;
    commands.push_back({ std::move(prepare), std::move(recover) });
    sendCommands(std::move(commands), std::move(done));
}

void TcpLink::sendCommand(const QByteArray &bytes, std::function<void()> recover,
                          DriverCompletion done)
{
    sendCommand([bytes] { return bytes; }, std::move(recover), std::move(done));
}

void TcpLink::sendCommands(std::vector<Command> commands, DriverCompletion done)
{
    const std::shared_ptr<TcpConnection> connection = m_nw;
    if (commands.empty()) {
        Platform::complete(std::move(done), DriverResult {});
        return;
    }
    if (auto ready = readiness(); !ready) {
        Platform::complete(std::move(done), ready);
        return;
    }
    const std::shared_ptr<Core> core = m_core;
    // Shared with the work, so that it is still here if the queue has stopped and drops it.
    auto completion = std::make_shared<DriverCompletion>(std::move(done));
    // The state is checked again on the queue, where it changes: what is prepared (a pending
    // entry, a signature) is then also written, and nothing is left behind for a command
    // that was never sent.
    const bool handedOver = core->queue->async([core, connection, completion,
                                                commands = std::move(commands)] {
        DriverResult result;
        for (const Command &command : commands) {
            if (core->ended.load() || connection->state() != TcpConnection::State::ready) {
                result = std::unexpected(DriverError::notConnectedError());
                break;
            }
            const QByteArray bytes = command.prepare();
            core->rawTraffic("tx", bytes);
            // Counted first: a write that fails at once reports that within send().
            const PendingCommands::Id id = core->commandSent();
            connection->send(
                bytes, [core, id, recover = command.recover](const std::optional<QString> &error) {
                    if (!error || core->ended.load())
                        return;
                    core->emitEvent(RouterDriverEvent::makeCommandRefused(
                        QStringLiteral("Couldn't send the command: ") + *error));
                    // Never sent, so never answered: shown as the router has it.
                    core->pending.notSent(id);
                    if (recover)
                        recover();
                });
        }
        Platform::complete(std::move(*completion), result);
    });
    if (!handedOver)
        Platform::complete(std::move(*completion),
                           DriverResult(std::unexpected(DriverError::notConnectedError())));
}

void TcpLink::emitEvent(const RouterDriverEvent &event) const
{
    m_core->emitEvent(event);
}

void TcpLink::write(const QByteArray &bytes) const
{
    const auto connection = m_core->connection.lock();
    if (!connection)
        return;
    m_core->rawTraffic("tx", bytes);
    connection->send(bytes);
    // A router that stops reading holds these back; the answer check notices.
    if (m_core->queue->isCurrent()) {
        if (connection->unsentSince())
            m_core->watchAnswers();
    } else {
        m_core->queue->async([core = m_core] { core->watchAnswers(); });
    }
}

DelayedWork TcpLink::schedule(std::chrono::milliseconds delay, std::function<void()> fn) const
{
    return m_core->schedule(delay, std::move(fn));
}

void TcpLink::fail(const QString &text) const
{
    if (m_core->ended.load())
        return;
    m_core->emitEvent(RouterDriverEvent::makeError(m_core->ending(text)));
    close();
}

void TcpLink::close() const
{
    if (m_core->ended.load())
        return;
    m_core->end();
    if (auto connection = m_core->connection.lock())
        connection->cancel();
}

void TcpLink::answered() const
{
    m_core->pending.answerOldest();
}

PendingCommands &TcpLink::pending() const
{
    return m_core->pending;
}

CommandHooks TcpLink::commandHooks(const std::weak_ptr<TcpLink> &link)
{
    const auto *held = &link;
    return { [held](CommandHooks::Id id) {
                if (auto l = held->lock())
                    l->pending().answered(id);
            },
             [held](CommandHooks::Id id, const QString &reason) {
                 if (auto l = held->lock())
                     l->pending().refused(id, reason);
             },
             [held](const CommandTarget &report, bool shown) {
                 if (auto l = held->lock())
                     l->pending().observe(report, shown);
             },
             [held] {
                 if (auto l = held->lock())
                     l->pending().heard();
             } };
}

bool TcpLink::isEnded() const
{
    return m_core->ended.load();
}

qint64 TcpLink::bufferedBytes() const
{
    const auto connection = m_core->connection.lock();
    return connection ? connection->bufferedBytes() : 0;
}

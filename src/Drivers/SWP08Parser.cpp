#include "Drivers/SWP08Parser.h"
#include "Platform/Text.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

Q_LOGGING_CATEGORY(lcSwp08, "quorvel.swp08", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSwp08Raw, "quorvel.swp08.raw", QtWarningMsg)

namespace {

constexpr char kInterrogate = 0x01;
constexpr char kConnect = 0x02;
constexpr char kTally = 0x03;
constexpr char kConnected = 0x04;

int boundedCount(int saved, const char *what)
{
    const int count = std::clamp(saved, 2, SWP08Parser::maxPortCount);
    if (saved > SWP08Parser::maxPortCount)
        qCWarning(lcSwp08) << "saved" << what << "count" << saved << "exceeds what SW-P-08 can"
                           << "address; using" << count;
    return count;
}

QByteArray bytes(std::initializer_list<char> list)
{
    return QByteArray(list.begin(), qsizetype(list.size()));
}

QByteArray nakBytes()
{
    return bytes({ SWP08Parser::DLE, SWP08Parser::NAK });
}

QByteArray ackBytes()
{
    return bytes({ SWP08Parser::DLE, SWP08Parser::ACK });
}

} // namespace

SWP08Parser::SWP08Parser(const RouterConnection &connection, Hooks hooks)
    : m_hooks(std::move(hooks))
    , m_deviceName(connection.name)
    , m_sourceCount(boundedCount(connection.simSourceCount, "source"))
    , m_destinationCount(boundedCount(connection.simDestinationCount, "destination"))
{
    m_frameBytes.reserve(maxFrameLength);
}

QByteArray SWP08Parser::frame(const QByteArray &message)
{
    if (message.size() > maxMessageLength)
        return {};
    QByteArray body = message;
    body.append(char(message.size()));
    quint8 sum = 0;
    for (char byte : std::as_const(body))
        sum += quint8(byte);
    body.append(char(quint8(256 - sum)));

    QByteArray wire;
    wire.reserve(body.size() * 2 + 4);
    wire.append(DLE).append(STX);
    for (char byte : std::as_const(body)) {
        wire.append(byte);
        if (byte == DLE)
            wire.append(DLE);
    }
    wire.append(DLE).append(ETX);
    return wire;
}

QByteArray SWP08Parser::connectPayload(int source, int destination, int level)
{
    return bytes({ kConnect, char(level & 0x0F), char((source / 128) | ((destination / 128) << 4)),
                   char(destination % 128), char(source % 128) });
}

QByteArray SWP08Parser::interrogatePayload(int destination, int level)
{
    return bytes({ kInterrogate, char(level & 0x0F), char((destination / 128) << 4),
                   char(destination % 128) });
}

std::optional<DriverError> SWP08Parser::addressError(int source, int destination, int level)
{
    // Out-of-range numbers would wrap into another crosspoint on the wire.
    if (source < 0 || source >= maxPortCount)
        return DriverError::unsupportedFeature(QStringLiteral("Source %1").arg(source + 1));
    if (destination < 0 || destination >= maxPortCount)
        return DriverError::unsupportedFeature(
            QStringLiteral("Destination %1").arg(destination + 1));
    if (level < 0 || level >= levelCount)
        return DriverError::unsupportedFeature(QStringLiteral("Level %1").arg(level + 1));
    return std::nullopt;
}

QList<SWP08Parser::PendingCommand> SWP08Parser::pendingCommands() const
{
    return QList<PendingCommand>(m_pending.begin(), m_pending.end());
}

void SWP08Parser::emitEvent(const RouterDriverEvent &event)
{
    if (m_hooks.report)
        m_hooks.report(event);
}

void SWP08Parser::send(const QByteArray &bytes)
{
    if (!m_hooks.send || bytes.isEmpty())
        return;
    if (m_batching) {
        m_outbox.append(bytes);
        return;
    }
    qCDebug(lcSwp08Raw) << "send" << bytes.toHex(' ');
    m_hooks.send(bytes);
}

void SWP08Parser::pushPending(PendingCommand command)
{
    if (int(m_pending.size()) >= maxPendingCommands) {
        // Forgotten, so no answer can match it: the link stops waiting for it too.
        settle(m_pending.front());
        m_pending.pop_front();
    }
    if (command.kind == PendingCommand::connect)
        ++m_unanswered;
    m_pending.push_back(command);
}

void SWP08Parser::settle(PendingCommand &command)
{
    if (command.kind != PendingCommand::connect || command.answered)
        return;
    command.answered = true;
    --m_unanswered;
    m_hooks.commands.answer(command.command);
}

void SWP08Parser::beginInterrogation()
{
    // One write for the whole matrix: a frame per flush would cost a round of the event
    // loop and a TCP segment per destination.
    QByteArray batch;
    batch.reserve(m_destinationCount * 12);
    for (int destination = 0; destination < m_destinationCount; ++destination) {
        pushPending({ PendingCommand::interrogate, destination, 0 });
        batch.append(frame(interrogatePayload(destination)));
    }
    send(batch);
    if (m_hooks.arm)
        m_hooks.arm(Timer::noAnswer);
}

QByteArray SWP08Parser::prepareConnect(int source, int destination, int level, quint64 command)
{
    pushPending({ PendingCommand::connect, destination, level, false, command });
    return frame(connectPayload(source, destination, level));
}

void SWP08Parser::reinterrogate(int destination, int level)
{
    pushPending({ PendingCommand::interrogate, destination, level });
    send(frame(interrogatePayload(destination, level)));
}

void SWP08Parser::reread(const QList<CommandTarget> &targets)
{
    for (const CommandTarget &target : targets) {
        if (target.kind == CommandTarget::Kind::route
            && !addressError(0, target.index, target.level))
            reinterrogate(target.index, target.level);
    }
}

std::optional<CommandTarget> SWP08Parser::reported(const CommandTarget &target) const
{
    const auto level = m_routing.constFind(target.level);
    if (target.kind != CommandTarget::Kind::route || level == m_routing.cend())
        return std::nullopt;
    const auto source = level->constFind(target.index);
    if (source == level->cend())
        return std::nullopt;
    return CommandTarget::route(target.level, target.index, *source);
}

void SWP08Parser::abortPendingConnect(int destination, int level)
{
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
        if (it->kind == PendingCommand::connect && it->destination == destination
            && it->level == level) {
            if (!it->answered)
                --m_unanswered;
            m_pending.erase(std::next(it).base());
            return;
        }
    }
}

void SWP08Parser::ingest(const QByteArray &bytes)
{
    qCDebug(lcSwp08Raw) << "recv" << bytes.toHex(' ');
    // Acknowledgements for a whole received chunk leave in one write, in order.
    m_batching = true;
    for (char byte : bytes) {
        if (!m_lastWasDLE) {
            if (byte == DLE)
                m_lastWasDLE = true;
            else if (m_inFrame)
                appendFrameByte(byte);
            continue;
        }
        m_lastWasDLE = false;
        switch (byte) {
        case STX:
            // A new head inside an unfinished frame throws the partial frame away.
            m_inFrame = true;
            m_frameBytes.clear();
            break;
        case ETX:
            if (m_inFrame) {
                m_inFrame = false;
                const QByteArray frameBytes = m_frameBytes;
                m_frameBytes.clear();
                processFrame(frameBytes);
            }
            break;
        case DLE:
            if (m_inFrame)
                appendFrameByte(DLE);
            break;
        case ACK:
            handleAck();
            break;
        case NAK:
            handleNak();
            break;
        default:
            break; // an unknown escape: dropped with its DLE
        }
    }
    m_batching = false;
    if (!m_outbox.isEmpty())
        send(std::exchange(m_outbox, {}));
}

void SWP08Parser::appendFrameByte(char byte)
{
    if (m_frameBytes.size() < maxFrameLength) {
        m_frameBytes.append(byte);
        return;
    }
    // Longer than any legal frame: the tail was lost or this is not SW-P-08. Refuse it and
    // skip to the next frame head rather than let the router grow our buffer.
    if (!std::exchange(m_overlongWarned, true))
        qCWarning(lcSwp08) << "dropping a frame longer than" << maxFrameLength << "bytes";
    else
        qCDebug(lcSwp08) << "dropping a frame longer than" << maxFrameLength << "bytes";
    m_inFrame = false;
    m_frameBytes.clear();
    send(nakBytes());
}

void SWP08Parser::handleAck()
{
    if (m_pending.empty())
        return;
    if (m_pending.front().kind == PendingCommand::interrogate)
        m_hooks.commands.hear();
    settle(m_pending.front());
    m_pending.pop_front();
}

void SWP08Parser::handleNak()
{
    if (m_pending.empty()) {
        emitEvent(RouterDriverEvent::makeCommandRefused(
            QStringLiteral("The router refused the command (NAK).")));
        return;
    }
    PendingCommand command = m_pending.front();
    m_pending.pop_front();
    if (command.kind == PendingCommand::interrogate) {
        m_hooks.commands.hear(); // an answer, if not the one hoped for
        return;
    }
    // The table puts the crosspoint back and asks for it again.
    if (!command.answered) {
        command.answered = true;
        --m_unanswered;
    }
    m_hooks.commands.refuse(command.command, QStringLiteral("The router refused the route (NAK)."));
}

void SWP08Parser::processFrame(const QByteArray &frameBytes)
{
    const qsizetype size = frameBytes.size();
    if (size < 3) {
        send(nakBytes());
        return;
    }
    quint8 sum = 0;
    for (char byte : frameBytes)
        sum += quint8(byte);
    if (sum != 0 || quint8(frameBytes.at(size - 2)) != size - 2) {
        qCDebug(lcSwp08) << "refusing a frame with a bad checksum or byte count";
        send(nakBytes());
        return;
    }
    send(ackBytes());
    const QByteArray message = frameBytes.left(size - 2);
    if ((message.at(0) == kTally || message.at(0) == kConnected) && message.size() >= 5)
        applyTally(message);
}

void SWP08Parser::applyTally(const QByteArray &message)
{
    m_tallyReceived = true;
    if (!m_connectedEmitted)
        m_hooks.commands.hear(); // the first read's answers
    const int level = quint8(message.at(1)) & 0x0F;
    const int multiplier = quint8(message.at(2));
    const int destination = ((multiplier >> 4) & 7) * 128 + quint8(message.at(3));
    const int source = (multiplier & 7) * 128 + quint8(message.at(4));

    // The tally of a crosspoint answers the oldest CONNECT for it. The entry stays, as
    // acknowledgements are matched to entries by order alone.
    if (m_unanswered > 0) {
        for (PendingCommand &command : m_pending) {
            if (command.kind == PendingCommand::connect && !command.answered
                && command.destination == destination && command.level == level) {
                settle(command);
                break;
            }
        }
    }

    if (destination >= m_destinationCount || source >= m_sourceCount) {
        if (!std::exchange(m_rangeWarned, true)) {
            if (auto event = m_warnings.warn(
                    Interrogation::beyondMatrixText(m_sourceCount, m_destinationCount)))
                emitEvent(*event);
        }
        return;
    }

    LevelRouting &table = m_routing[level];
    const auto held = table.constFind(destination);
    const bool unchanged = held != table.constEnd() && *held == source;
    if (unchanged && m_connectedEmitted) {
        m_hooks.commands.observe(CommandTarget::route(level, destination, source), false);
        return;
    }
    table.insert(destination, source);
    if (m_connectedEmitted) {
        emitEvent(RouterDriverEvent::makeRouteChanged(level, destination, source));
        m_hooks.commands.observe(CommandTarget::route(level, destination, source), true);
    }
    scheduleFinalize();
}

void SWP08Parser::scheduleFinalize()
{
    if (m_connectedEmitted || !m_tallyReceived)
        return;
    if (m_hooks.arm)
        m_hooks.arm(Timer::finalize);
}

void SWP08Parser::finalize()
{
    if (m_stopped || m_connectedEmitted)
        return;
    m_connectedEmitted = true;
    emitEvent(RouterDriverEvent::makeConnected(state()));
    if (auto warnings = m_warnings.stateReported())
        emitEvent(*warnings);
    // The state lists the video level only; what other levels tallied so far is forgotten,
    // so their next tallies reach the controller as changes.
    for (auto it = m_routing.begin(); it != m_routing.end();)
        it = it.key() == 0 ? std::next(it) : m_routing.erase(it);
}

Interrogation::FirstRead SWP08Parser::firstRead() const
{
    return { m_stopped, m_connectedEmitted, m_tallyReceived, !m_routing.isEmpty() };
}

bool SWP08Parser::checkAnswered()
{
    return Interrogation::checkAnswered(firstRead(), noAnswerText(), m_hooks);
}

bool SWP08Parser::readLimitReached()
{
    // Every tally named a port beyond the saved size: the warning held for it says so.
    return Interrogation::readLimitReached(
        firstRead(), noAnswerText(), m_warnings.failure(), [this] { finalize(); }, m_hooks);
}

QString SWP08Parser::noAnswerText()
{
    return QStringLiteral("The device answered TCP but spoke no SW-P-08 — check the port and "
                          "matrix size.");
}

RouterState SWP08Parser::state() const
{
    // Nothing reads the state's vendor; both SW-P-08 vendors report the same one.
    RouterState state = Interrogation::matrixState(
        m_deviceName,
        Text::format(QStringLiteral("SW-P-08 %1×%2"), m_sourceCount, m_destinationCount),
        RouterVendor::rossUltrix, m_sourceCount, m_destinationCount);
    // Only the listed level: a state must not carry routing for levels it does not list.
    state.routing.insert(0, m_routing.value(0));
    return state;
}

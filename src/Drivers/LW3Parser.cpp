#include "Drivers/LW3Parser.h"
#include "Platform/Text.h"

Q_LOGGING_CATEGORY(lcLightware, "quorvel.driver.lightware", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLightwareRaw, "quorvel.driver.lightware.raw", QtWarningMsg)

namespace {

const QString kNamesPath = QStringLiteral("/MEDIA/NAMES/VIDEO.");
const QString kInputsPath = QStringLiteral("/MEDIA/PORTS/VIDEO/I");

// A 1-based port number as written on the wire: decimal digits only, 1…maxPortNumber.
std::optional<int> portNumber(QStringView text)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int n = text.toInt();
    if (n < 1 || n > LW3Parser::maxPortNumber)
        return std::nullopt;
    return n;
}

// A name, format or message as it is kept and shown: cut like a router name.
QString boundedName(QStringView text)
{
    return boundedRouterName(
        text.first(std::min<qsizetype>(text.size(), 2 * maxRouterNameLength)).toString());
}

// The text after an error line's last "%" that has something after it; the whole line when
// there is none. Searched from the end, so a line of millions of "%" builds no list.
QStringView refusalMessage(QStringView line)
{
    QStringView rest = line;
    while (!rest.isEmpty()) {
        const qsizetype percent = rest.lastIndexOf(QLatin1Char('%'));
        if (percent < 0)
            return rest;
        if (percent + 1 < rest.size())
            return rest.sliced(percent + 1);
        rest.truncate(percent);
    }
    return line;
}

QStringView trimSpacesAndTabs(QStringView text)
{
    auto isBlank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t');
    };
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

} // namespace

LW3Parser::LW3Parser(const QString &deviceName, Hooks hooks)
    : LW3Parser(deviceName, std::move(hooks), Timing {})
{ }

LW3Parser::LW3Parser(const QString &deviceName, Hooks hooks, Timing timing)
    : m_hooks(std::move(hooks))
    , m_timing(timing)
    , m_deviceName(deviceName)
    , m_buffer("\n", DelimitedBuffer::CarriageReturn::drop)
{ }

void LW3Parser::send(const QString &line)
{
    if (m_hooks.send)
        m_hooks.send(line);
}

void LW3Parser::report(const RouterDriverEvent &event)
{
    if (!m_stopped && m_hooks.report)
        m_hooks.report(event);
}

QString LW3Parser::registerCommand(const QString &kind, quint64 command)
{
    ++m_signatureCounter;
    const QString signature
        = QStringLiteral("%1").arg(m_signatureCounter % 65536, 4, 16, QLatin1Char('0')).toUpper();
    m_pendingCommands.insert(signature, { kind, command });
    return signature;
}

void LW3Parser::beginInitialQueries()
{
    send(QStringLiteral("GET /.ProductName"));
    send(QStringLiteral("GET /MEDIA/NAMES/VIDEO.*"));
    send(QStringLiteral("GET /MEDIA/XP/VIDEO.*"));
}

bool LW3Parser::ingest(const QByteArray &bytes)
{
    if (m_stopped)
        return true;
    const qsizetype unfinished = m_buffer.unfinishedSize();
    m_buffer.append(bytes);
    while (!m_stopped) {
        const auto line = m_buffer.next();
        if (!line)
            break;
        handleLine(QString::fromUtf8(*line));
    }
    if (m_stopped) {
        m_buffer.clear();
        return true;
    }
    if (m_buffer.unfinishedSize() > maxLineLength) {
        m_buffer.clear();
        return false;
    }
    // A long line of a reply we wait for is still arriving.
    if (m_buffer.unfinishedSize() > unfinished && m_currentBlock
        && m_pendingCommands.contains(*m_currentBlock))
        m_hooks.commands.hear();
    return true;
}

void LW3Parser::handleLine(const QString &line)
{
    if (line.startsWith(QLatin1Char('{'))) {
        m_currentBlock = line.mid(1);
        return;
    }
    if (line == QLatin1String("}")) {
        if (m_currentBlock) {
            const auto found = m_pendingCommands.constFind(*m_currentBlock);
            if (found != m_pendingCommands.cend()) {
                if (!found->refused)
                    m_hooks.commands.answer(found->command);
                m_pendingCommands.erase(found);
            }
        }
        m_currentBlock.reset();
        scheduleFinalizeIfReady();
        return;
    }
    if (line.isEmpty())
        return;

    Signed *pending = nullptr;
    if (m_currentBlock) {
        const auto found = m_pendingCommands.find(*m_currentBlock);
        if (found != m_pendingCommands.end()) {
            pending = &*found;
            m_hooks.commands.hear(); // the reply to a command is arriving
        }
    }

    if (line.startsWith(QLatin1String("pr ")) || line.startsWith(QLatin1String("pw "))) {
        m_hooks.commands.hear(); // the reply to a question of ours
        handleProperty(QStringView(line).sliced(3));
    } else if (line.startsWith(QLatin1String("CHG "))) {
        handleProperty(QStringView(line).sliced(4));
    } else if (line.startsWith(QLatin1String("pE ")) || line.startsWith(QLatin1String("mE "))
               || line.startsWith(QLatin1String("mF "))) {
        if (!pending || pending->refused)
            return;
        // The link's table says so, puts back what it asked for and reads the lists again.
        pending->refused = true;
        m_hooks.commands.refuse(pending->command,
                                pending->kind + QStringLiteral(" refused: ")
                                    + Text::isolated(boundedName(refusalMessage(line))));
    }
}

void LW3Parser::handleProperty(QStringView text)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals < 0)
        return;
    const QStringView path = text.first(equals);
    const QStringView value = text.sliced(equals + 1);
    if (path == QLatin1String("/.ProductName"))
        m_productName = boundedRouterName(value.toString());
    else if (path.startsWith(kNamesPath))
        handleName(path.sliced(kNamesPath.size()).toString(), value);
    else if (path == QLatin1String("/MEDIA/XP/VIDEO.DestinationConnectionStatus"))
        handleRoutingList(value);
    else if (path == QLatin1String("/MEDIA/XP/VIDEO.DestinationPortStatus"))
        handleLockList(value);
    else if (path.startsWith(kInputsPath))
        handleInputStatus(path, value);
    scheduleFinalizeIfReady();
}

void LW3Parser::handleName(const QString &key, QStringView value)
{
    const bool input = key.startsWith(QLatin1Char('I'));
    const bool output = key.startsWith(QLatin1Char('O'));
    const std::optional<int> n = portNumber(QStringView(key).mid(1));
    if (!n)
        return;
    // Only real port keys are remembered: anything else would let a router grow the map.
    if (!input && !output) {
        scheduleStatusQueries();
        return;
    }
    QStringView label = value;
    const qsizetype semicolon = value.indexOf(QLatin1Char(';'));
    if (semicolon >= 0) {
        m_namePrefixes.insert(key, boundedName(value.first(semicolon)));
        label = value.sliced(semicolon + 1);
    }
    const QString bounded = boundedName(label);
    const int index = *n - 1;
    int &count = input ? m_inputCount : m_outputCount;
    QHash<int, QString> &labels = input ? m_inputLabels : m_outputLabels;
    count = std::max(count, *n);
    const auto known = labels.constFind(index);
    const PortKind kind = input ? PortKind::source : PortKind::destination;
    const bool changed = known == labels.cend() || *known != bounded;
    if (changed) {
        labels.insert(index, bounded);
        if (m_connectedEmitted)
            report(RouterDriverEvent::makeLabelChanged(kind, index, bounded));
    }
    if (m_connectedEmitted)
        m_hooks.commands.observe(CommandTarget::name(kind, index, bounded), changed);
    scheduleStatusQueries();
}

void LW3Parser::handleRoutingList(QStringView value)
{
    m_routingReceived = true;
    // Token by token and no further than the last port: a line of millions of ";" costs no
    // more than one of 4096.
    int d = 0;
    for (const QStringView raw : value.tokenize(u';')) {
        if (d == maxPortNumber)
            break;
        const QStringView token = trimSpacesAndTabs(raw);
        std::optional<int> source;
        if (token.startsWith(QLatin1Char('I'))) {
            if (const auto n = portNumber(token.mid(1)))
                source = *n - 1;
        }
        const auto known = m_routing.constFind(d);
        bool shown = false;
        if (source) {
            if (known == m_routing.cend() || *known != *source || m_resyncForceEmit) {
                m_routing.insert(d, *source);
                shown = m_connectedEmitted;
                if (shown)
                    report(RouterDriverEvent::makeRouteChanged(0, d, *source));
            }
        } else if (known != m_routing.cend() || m_resyncForceEmit) {
            m_routing.remove(d);
            shown = m_connectedEmitted;
            if (shown)
                report(RouterDriverEvent::makeRouteChanged(0, d, std::nullopt));
        }
        if (m_connectedEmitted)
            m_hooks.commands.observe(CommandTarget::route(0, d, source), shown);
        ++d;
    }
    if (m_resyncForceEmit) {
        m_resyncRoutingDone = true;
        if (m_resyncLocksDone)
            m_resyncForceEmit = false;
    }
}

void LW3Parser::handleLockList(QStringView value)
{
    int d = 0;
    for (const QStringView token : value.tokenize(u';')) {
        if (d == maxPortNumber)
            break;
        const bool locked = token.startsWith(QLatin1Char('L'));
        bool shown = false;
        if (locked) {
            if (!m_locked.contains(d) || m_resyncForceEmit) {
                m_locked.insert(d);
                shown = m_connectedEmitted;
                if (shown)
                    report(RouterDriverEvent::makeLockChanged(d, true));
            }
        } else if (m_locked.remove(d) || m_resyncForceEmit) {
            shown = m_connectedEmitted;
            if (shown)
                report(RouterDriverEvent::makeLockChanged(d, false));
        }
        if (m_connectedEmitted)
            m_hooks.commands.observe(CommandTarget::lock(d, locked), shown);
        ++d;
    }
    if (m_resyncForceEmit) {
        m_resyncLocksDone = true;
        if (m_resyncRoutingDone)
            m_resyncForceEmit = false;
    }
}

void LW3Parser::handleInputStatus(QStringView path, QStringView value)
{
    const qsizetype marker = path.indexOf(QLatin1String("/STATUS."));
    if (marker < 0)
        return;
    const auto n = portNumber(path.mid(kInputsPath.size(), marker - kInputsPath.size()));
    if (!n)
        return;
    const int input = *n - 1;
    const QStringView property = path.sliced(marker + 8);
    const InputSignalStatus previous = m_inputStatus.value(input, InputSignalStatus {});
    InputSignalStatus status;
    if (property == QLatin1String("SignalPresent")) {
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            status = InputSignalStatus { true, previous.format };
        else
            status = InputSignalStatus { false, std::nullopt };
    } else if (property == QLatin1String("ActiveResolution")) {
        // Kept for every input, so cut like a name.
        status = InputSignalStatus { previous.present,
                                     value.isEmpty() ? std::nullopt
                                                     : std::optional(boundedName(value)) };
    } else {
        return;
    }
    const auto known = m_inputStatus.constFind(input);
    if (known != m_inputStatus.cend() && *known == status)
        return;
    m_inputStatus.insert(input, status);
    if (m_connectedEmitted)
        report(RouterDriverEvent::makeInputStatusChanged(input, status));
}

void LW3Parser::scheduleStatusQueries()
{
    if (m_stopped || m_statusQueriesIssued || m_inputCount < 1 || m_outputCount < 1)
        return;
    if (m_hooks.arm)
        m_hooks.arm(Timer::namesQuiet, m_timing.namesQuiet);
}

void LW3Parser::issueStatusQueries()
{
    if (m_statusQueriesIssued || m_inputCount < 1 || m_outputCount < 1)
        return;
    m_statusQueriesIssued = true;
    send(QStringLiteral("OPEN /MEDIA/XP/VIDEO"));
    send(QStringLiteral("OPEN /MEDIA/NAMES/VIDEO"));
    for (int n = 1; n <= m_inputCount; ++n) {
        const QString port = kInputsPath + QString::number(n);
        send(QStringLiteral("GET ") + port + QStringLiteral("/STATUS.SignalPresent"));
        send(QStringLiteral("GET ") + port + QStringLiteral("/STATUS.ActiveResolution"));
        send(QStringLiteral("OPEN ") + port + QStringLiteral("/STATUS"));
    }
}

void LW3Parser::scheduleFinalizeIfReady()
{
    if (m_stopped || m_connectedEmitted || m_inputCount < 1 || m_outputCount < 1
        || !m_routingReceived)
        return;
    if (m_hooks.arm)
        m_hooks.arm(Timer::finalize, m_timing.finalize);
}

void LW3Parser::timerFired(Timer timer)
{
    if (m_stopped)
        return;
    if (timer == Timer::namesQuiet)
        issueStatusQueries();
    else
        finalize();
}

bool LW3Parser::readLimitReached(std::chrono::milliseconds limit)
{
    if (m_stopped || m_connectedEmitted)
        return true;
    if (m_inputCount >= 1 && m_outputCount >= 1 && m_routingReceived) {
        issueStatusQueries();
        finalize();
        return true;
    }
    report(RouterDriverEvent::makeError(
        QStringLiteral("The router didn't report its ports and crosspoints within %1 seconds.")
            .arg(QString::number(double(limit.count()) / 1000.0))));
    return false;
}

void LW3Parser::finalize()
{
    if (m_connectedEmitted)
        return;
    m_connectedEmitted = true;
    RouterState state;
    state.deviceName = m_deviceName;
    state.model = m_productName.isEmpty() ? QStringLiteral("Lightware MX2") : m_productName;
    state.vendor = RouterVendor::lightware;
    state.sources.reserve(m_inputCount);
    for (int i = 0; i < m_inputCount; ++i)
        state.sources.append(Port { i, PortKind::source,
                                    m_inputLabels.value(i, QStringLiteral("In %1").arg(i + 1)) });
    state.destinations.reserve(m_outputCount);
    for (int i = 0; i < m_outputCount; ++i)
        state.destinations.append(
            Port { i, PortKind::destination,
                   m_outputLabels.value(i, QStringLiteral("Out %1").arg(i + 1)) });
    state.levels = { RouterLevel { 0, QStringLiteral("Video"), LevelKind::video } };
    state.routing.insert(0, m_routing);
    state.lockedDestinations = m_locked;
    state.inputStatus = m_inputStatus;
    qCInfo(lcLightware) << m_deviceName << "connected," << state.model << m_inputCount << "×"
                        << m_outputCount;
    report(RouterDriverEvent::makeConnected(state));
}

void LW3Parser::reread(const QList<CommandTarget> &targets)
{
    bool lists = false;
    bool names = false;
    for (const CommandTarget &target : targets) {
        if (target.kind == CommandTarget::Kind::label)
            names = true;
        else
            lists = true;
    }
    if (lists)
        resyncFromSendFailure();
    if (names)
        send(QStringLiteral("GET /MEDIA/NAMES/VIDEO.*"));
}

std::optional<CommandTarget> LW3Parser::reported(const CommandTarget &target) const
{
    switch (target.kind) {
    case CommandTarget::Kind::route: {
        if (!m_routingReceived)
            return std::nullopt;
        const auto source = m_routing.constFind(target.index);
        return CommandTarget::route(
            0, target.index, source == m_routing.cend() ? std::nullopt : std::optional(*source));
    }
    case CommandTarget::Kind::lock:
        return CommandTarget::lock(target.index, m_locked.contains(target.index));
    case CommandTarget::Kind::label:
        break;
    }
    return reportedName(target, m_inputLabels, m_outputLabels);
}

QString LW3Parser::portName(const CommandTarget &target) const
{
    return ::portName(target, m_inputLabels, m_outputLabels);
}

void LW3Parser::resyncFromSendFailure()
{
    if (!m_connectedEmitted || m_stopped)
        return;
    m_resyncForceEmit = true;
    m_resyncRoutingDone = false;
    m_resyncLocksDone = false;
    send(QStringLiteral("GET /MEDIA/XP/VIDEO.*"));
}

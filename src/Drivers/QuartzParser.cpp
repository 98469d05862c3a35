#include "Drivers/QuartzParser.h"
#include "Platform/Text.h"

#include <algorithm>
#include <limits>
#include <utility>

Q_LOGGING_CATEGORY(lcQuartz, "quorvel.quartz", QtInfoMsg)
Q_LOGGING_CATEGORY(lcQuartzRaw, "quorvel.quartz.raw", QtWarningMsg)

namespace {

int boundedCount(int saved, const char *what)
{
    const int count = std::clamp(saved, 2, QuartzParser::maxPortCount);
    if (saved > QuartzParser::maxPortCount)
        qCWarning(lcQuartz) << "saved" << what << "count" << saved << "is out of bounds; using"
                            << count;
    return count;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView trimmed(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// A decimal integer with an optional sign; nothing on anything else or on overflow.
std::optional<int> parseNumber(QStringView text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return int(negative ? -value : value);
}

} // namespace

QuartzParser::QuartzParser(const RouterConnection &connection, Hooks hooks)
    : m_hooks(std::move(hooks))
    , m_deviceName(connection.name)
    , m_sourceCount(boundedCount(connection.simSourceCount, "source"))
    , m_destinationCount(boundedCount(connection.simDestinationCount, "destination"))
    , m_buffer("\n", DelimitedBuffer::CarriageReturn::endsLine)
{ }

std::optional<QuartzParser::Answer> QuartzParser::parseAnswer(QStringView line)
{
    if (line.size() < 3 || !(line.startsWith(u".A") || line.startsWith(u".U")))
        return std::nullopt;
    QStringView rest = line.sliced(2);
    qsizetype letters = 0;
    while (letters < rest.size() && isAsciiLetter(rest.at(letters)))
        ++letters;
    if (letters == 0)
        return std::nullopt;
    const QStringView levels = rest.first(letters);
    rest = rest.sliced(letters);

    QStringView pieces[2];
    int count = 0;
    for (QStringView piece : rest.tokenize(u',', Qt::SkipEmptyParts)) {
        if (count == 2)
            return std::nullopt;
        pieces[count++] = piece;
    }
    if (count != 2)
        return std::nullopt;
    const auto destination = parseNumber(pieces[0]);
    const auto source = parseNumber(pieces[1]);
    if (!destination || !source || *destination < 1 || *source < 1)
        return std::nullopt;
    return Answer { levels.toString(), *destination, *source };
}

QList<int> QuartzParser::pendingConnects() const
{
    QList<int> destinations;
    destinations.reserve(qsizetype(m_pendingConnects.size()));
    for (const PendingConnect &pending : m_pendingConnects)
        destinations.append(pending.destination);
    return destinations;
}

void QuartzParser::emitEvent(const RouterDriverEvent &event)
{
    if (m_hooks.report)
        m_hooks.report(event);
}

void QuartzParser::send(const QByteArray &bytes)
{
    if (!m_hooks.send || bytes.isEmpty())
        return;
    qCDebug(lcQuartzRaw) << "send" << bytes;
    m_hooks.send(bytes);
}

void QuartzParser::beginInterrogation()
{
    // One write for the whole matrix rather than a flush per line.
    QByteArray batch;
    batch.reserve(m_destinationCount * 8);
    for (int n = 1; n <= m_destinationCount; ++n)
        batch.append(".IV").append(QByteArray::number(n)).append('\r');
    send(batch);
    if (m_hooks.arm)
        m_hooks.arm(Timer::noAnswer);
}

QByteArray QuartzParser::lineForConnect(int source, int destination, quint64 command)
{
    if (int(m_pendingConnects.size()) >= maxPendingConnects) {
        // Forgotten, so no answer can match it: the link stops waiting for it too.
        m_hooks.commands.answer(m_pendingConnects.front().command);
        m_pendingConnects.pop_front();
    }
    m_pendingConnects.push_back({ destination, command });
    return ".SV" + QByteArray::number(destination + 1) + ',' + QByteArray::number(source + 1);
}

void QuartzParser::connectNotSent(int destination)
{
    for (auto it = m_pendingConnects.rbegin(); it != m_pendingConnects.rend(); ++it) {
        if (it->destination == destination) {
            m_pendingConnects.erase(std::next(it).base());
            return;
        }
    }
}

void QuartzParser::reinterrogate(int destination)
{
    send(".IV" + QByteArray::number(destination + 1) + '\r');
}

void QuartzParser::reread(const QList<CommandTarget> &targets)
{
    QByteArray lines;
    for (const CommandTarget &target : targets) {
        if (target.kind == CommandTarget::Kind::route && target.index >= 0
            && target.index < m_destinationCount)
            lines += ".IV" + QByteArray::number(target.index + 1) + '\r';
    }
    send(lines);
}

std::optional<CommandTarget> QuartzParser::reported(const CommandTarget &target) const
{
    const auto source = m_routing.constFind(target.index);
    if (target.kind != CommandTarget::Kind::route || source == m_routing.cend())
        return std::nullopt;
    return CommandTarget::route(0, target.index, *source);
}

void QuartzParser::ingest(const QByteArray &bytes)
{
    qCDebug(lcQuartzRaw) << "recv" << bytes;
    m_buffer.append(bytes);
    while (const auto line = m_buffer.next()) {
        if (std::exchange(m_discardingLine, false))
            continue; // the end of a line already dropped
        if (line->size() > maxLineLength) {
            warnOverlong();
            continue;
        }
        handleLine(trimmed(QString::fromUtf8(*line)));
    }
    if (m_buffer.unfinishedSize() > maxLineLength) {
        // Only the end of an overlong line is waited for; nothing of it is kept.
        if (!m_discardingLine)
            warnOverlong();
        m_buffer.clear();
        m_discardingLine = true;
    }
}

void QuartzParser::warnOverlong()
{
    if (!std::exchange(m_overlongWarned, true))
        qCWarning(lcQuartz) << "dropping a line longer than" << maxLineLength << "bytes";
    else
        qCDebug(lcQuartz) << "dropping a line longer than" << maxLineLength << "bytes";
}

void QuartzParser::handleLine(QStringView line)
{
    if (line.isEmpty())
        return;
    if (line.startsWith(u'?')) {
        // It refuses the oldest route still waiting, which the table puts back and asks for
        // again; with none waiting it refused one of our questions.
        if (m_pendingConnects.empty()) {
            emitEvent(RouterDriverEvent::makeCommandRefused(
                QStringLiteral("The router refused the command.")));
            return;
        }
        const quint64 command = m_pendingConnects.front().command;
        m_pendingConnects.pop_front();
        m_hooks.commands.refuse(command, QStringLiteral("The router refused the command."));
        return;
    }
    const auto answer = parseAnswer(line);
    if (!answer)
        return;
    m_answerReceived = true;
    if (!m_connectedEmitted)
        m_hooks.commands.hear(); // the first read's answers
    // An answer naming a pending route's destination answers the oldest such route, whatever
    // its levels and even out of order.
    const auto waiting = std::find_if(
        m_pendingConnects.begin(), m_pendingConnects.end(),
        [&](const PendingConnect &p) { return p.destination == answer->destination - 1; });
    if (waiting != m_pendingConnects.end()) {
        const quint64 command = waiting->command;
        m_pendingConnects.erase(waiting);
        m_hooks.commands.answer(command);
    }

    if (answer->destination > m_destinationCount || answer->source > m_sourceCount) {
        if (!std::exchange(m_rangeWarned, true)) {
            if (auto event = m_warnings.warn(
                    Interrogation::beyondMatrixText(m_sourceCount, m_destinationCount)))
                emitEvent(*event);
        }
        return;
    }
    // Only the video level is kept; an answer for audio or data levels alone must not move
    // the video crosspoint.
    if (!answer->levels.contains(u'V')) {
        m_otherLevelAnswered = true;
        return;
    }

    const int destination = answer->destination - 1;
    const int source = answer->source - 1;
    const auto held = m_routing.constFind(destination);
    const bool unchanged = held != m_routing.constEnd() && *held == source;
    const bool shown = !unchanged && m_connectedEmitted;
    if (!(unchanged && m_connectedEmitted)) {
        m_routing.insert(destination, source);
        if (m_connectedEmitted)
            emitEvent(RouterDriverEvent::makeRouteChanged(0, destination, source));
    }
    if (m_connectedEmitted)
        m_hooks.commands.observe(CommandTarget::route(0, destination, source), shown);
    scheduleFinalize();
}

void QuartzParser::scheduleFinalize()
{
    if (m_connectedEmitted || !m_answerReceived)
        return;
    if (m_hooks.arm)
        m_hooks.arm(Timer::finalize);
}

void QuartzParser::finalize()
{
    if (m_stopped || m_connectedEmitted)
        return;
    m_connectedEmitted = true;
    emitEvent(RouterDriverEvent::makeConnected(state()));
    if (auto warnings = m_warnings.stateReported())
        emitEvent(*warnings);
}

Interrogation::FirstRead QuartzParser::firstRead() const
{
    return { m_stopped, m_connectedEmitted, m_answerReceived, !m_routing.isEmpty() };
}

bool QuartzParser::checkAnswered()
{
    return Interrogation::checkAnswered(firstRead(), noAnswerText(), m_hooks);
}

bool QuartzParser::readLimitReached()
{
    // Every answer named another level than video, or a port beyond the saved size (the
    // warning held for that says so).
    const QString levels = m_otherLevelAnswered
        ? QStringLiteral("The router answered only for levels other than video (V), so no "
                         "video crosspoint could be read.")
        : QString();
    return Interrogation::readLimitReached(
        firstRead(), noAnswerText(), m_warnings.failure(levels), [this] { finalize(); }, m_hooks);
}

QString QuartzParser::noAnswerText()
{
    return QStringLiteral("The device answered TCP but spoke no Quartz — check the port and "
                          "matrix size.");
}

RouterState QuartzParser::state() const
{
    RouterState state = Interrogation::matrixState(
        m_deviceName,
        Text::format(QStringLiteral("Quartz %1×%2"), m_sourceCount, m_destinationCount),
        RouterVendor::evertzQuartz, m_sourceCount, m_destinationCount);
    state.routing.insert(0, m_routing);
    return state;
}

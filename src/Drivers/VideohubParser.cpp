#include "Drivers/VideohubParser.h"
#include "Platform/Text.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

const QByteArrayView kSeparator("\n\n");

// Only spaces and tabs count: other white space is part of what the router sent.
QStringView trimSpacesAndTabs(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

// An item's leading number and everything after the one space that ends it (absent when
// there is no space).
struct Item
{
    QStringView first;
    std::optional<QStringView> rest;
};

Item splitItem(QStringView line)
{
    qsizetype start = 0;
    while (start < line.size() && line[start] == u' ')
        ++start;
    line = line.mid(start);
    const qsizetype space = line.indexOf(u' ');
    if (space < 0)
        return { line, std::nullopt };
    return { line.left(space), line.mid(space + 1) };
}

// Digits with an optional plus sign, of any length.
bool isUnsignedNumber(QStringView text)
{
    if (text.startsWith(u'+'))
        text = text.sliced(1);
    return !text.isEmpty()
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// The events of one block after the prelude, one per port: a later item for the same port
// replaces the earlier one's event in place. A block of any size costs at most one event per
// port the parser keeps.
class LastPerPort final
{
public:
    explicit LastPerPort(QList<RouterDriverEvent> &events)
        : m_events(events)
    { }

    void put(int index, RouterDriverEvent event)
    {
        const auto at = m_positions.constFind(index);
        if (at != m_positions.cend()) {
            m_events[*at] = std::move(event);
            return;
        }
        m_positions.insert(index, m_events.size());
        m_events.append(std::move(event));
    }

private:
    QList<RouterDriverEvent> &m_events;
    QHash<int, qsizetype> m_positions;
};

QByteArray oneLine(const QString &text)
{
    QString clean = text;
    clean.replace(u'\r', u' ');
    clean.replace(u'\n', u' ');
    return clean.toUtf8();
}

} // namespace

VideohubParser::VideohubParser(const QString &deviceName)
    : VideohubParser(deviceName, Limits {})
{ }

VideohubParser::VideohubParser(const QString &deviceName, Limits limits)
    : m_limits(limits)
    , m_deviceName(deviceName)
    , m_buffer(kSeparator, DelimitedBuffer::CarriageReturn::drop)
{ }

std::optional<int> VideohubParser::parseInteger(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulated as a negative number so that the most negative int still fits.
    qint64 value = 0;
    const qint64 limit = negative ? qint64(std::numeric_limits<int>::min())
                                  : -qint64(std::numeric_limits<int>::max());
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 - (c - u'0');
        if (value < limit)
            return std::nullopt;
    }
    return int(negative ? value : -value);
}

VideohubParser::Output VideohubParser::ingest(QByteArrayView bytes)
{
    Output out;
    if (m_failed)
        return out;
    const qsizetype unfinished = m_buffer.unfinishedSize();
    bool ended = false;
    m_buffer.append(bytes);
    while (const auto block = m_buffer.next()) {
        handleBlock(*block, out);
        ended = true;
    }
    // Bytes of a block not ended yet; before the prelude is done, the dump itself.
    const qsizetype rest = m_buffer.unfinishedSize();
    out.progress = !m_preludeDone || (rest > 0 && (ended || rest > unfinished));
    if (m_buffer.unfinishedSize() > m_limits.maxBufferedBytes) {
        m_failed = true;
        m_buffer.clear();
        out.fatal = QStringLiteral("The router sent more than %1 MiB without ending a block.")
                        .arg(m_limits.maxBufferedBytes / (1024 * 1024));
    }
    return out;
}

void VideohubParser::handleBlock(QByteArrayView bytes, Output &out)
{
    const QString text = QString::fromUtf8(bytes);
    // Lines are read in place: a block of a million items must not become a million strings.
    QStringView items(text);
    QStringView headerLine;
    while (headerLine.isEmpty() && !items.isEmpty()) {
        const qsizetype end = items.indexOf(u'\n');
        headerLine = end < 0 ? items : items.first(end);
        items = end < 0 ? QStringView() : items.sliced(end + 1);
    }
    if (headerLine.isEmpty())
        return;
    const QString header = trimSpacesAndTabs(headerLine).toString().toUpper();

    if (header == u"ACK" || header == u"NAK") {
        out.replies.append(Reply { header == u"ACK" ? Reply::ack : Reply::nak, CommandTarget {} });
        return;
    }
    if (header == u"END PRELUDE:") {
        finalize(out);
        return;
    }
    if (header == u"VIDEOHUB DEVICE:")
        handleDevice(items, out);
    else if (header == u"INPUT LABELS:")
        handleLabels(items, PortKind::source, out);
    else if (header == u"OUTPUT LABELS:")
        handleLabels(items, PortKind::destination, out);
    else if (header == u"VIDEO OUTPUT ROUTING:")
        handleRouting(items, out);
    else if (header == u"VIDEO OUTPUT LOCKS:")
        handleLocks(items, out);
    // Everything else (preamble, configuration, other headers) only shows the dump goes on.
    if (!m_preludeDone)
        out.rearmFinalize = true;
}

int VideohubParser::boundedCount(const QString &key, QStringView value, bool &warned, Output &out)
{
    const auto parsed = parseInteger(value);
    // Digits beyond int's range are an absurd count too, not a missing one.
    const bool huge = !parsed && isUnsignedNumber(value);
    const int count = parsed.value_or(0);
    if (!huge && count <= m_limits.maxPortCount)
        return count;
    // Once the state is out, a device block changes no port list and reports nothing. Each
    // count is reported once, as a warning: the router itself works.
    if (!m_preludeDone && !std::exchange(warned, true)) {
        const QString shown
            = value.size() > 24 ? value.first(24).toString() + u'…' : value.toString();
        if (auto event = m_warnings.warn(Text::format(
                QStringLiteral("The router announced %1 %2; only the first %3 are used."),
                Text::isolated(shown), key, m_limits.maxPortCount)))
            out.events.append(*event);
    }
    return m_limits.maxPortCount;
}

bool VideohubParser::isKeptIndex(int index) const
{
    return index >= 0 && index < m_limits.maxPortCount;
}

void VideohubParser::handleDevice(QStringView items, Output &out)
{
    for (const QStringView item : items.tokenize(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype colon = item.indexOf(u':');
        // Both pieces around the first colon must be there (empty pieces are dropped).
        if (colon <= 0 || colon == item.size() - 1)
            continue;
        const QString key = trimSpacesAndTabs(item.first(colon)).toString().toLower();
        const QStringView value = trimSpacesAndTabs(item.sliced(colon + 1));
        if (key == u"model name")
            m_model = boundedRouterName(value.toString());
        else if (key == u"friendly name")
            m_friendlyName = boundedRouterName(value.toString());
        else if (key == u"video inputs")
            m_inputCount = boundedCount(key, value, m_inputsWarned, out);
        else if (key == u"video outputs")
            m_outputCount = boundedCount(key, value, m_outputsWarned, out);
    }
}

void VideohubParser::handleLabels(QStringView items, PortKind kind, Output &out)
{
    QHash<int, QString> &labels = kind == PortKind::source ? m_inputLabels : m_outputLabels;
    LastPerPort changes(out.events);
    for (const QStringView line : items.tokenize(u'\n', Qt::SkipEmptyParts)) {
        const Item item = splitItem(line);
        const auto index = parseInteger(item.first);
        if (!index || !isKeptIndex(*index))
            continue;
        const QString label = item.rest ? boundedRouterName(item.rest->toString()) : QString();
        labels.insert(*index, label);
        if (m_preludeDone) {
            changes.put(*index, RouterDriverEvent::makeLabelChanged(kind, *index, label));
            out.replies.append(Reply { Reply::report, CommandTarget::name(kind, *index, label) });
        }
    }
}

void VideohubParser::handleRouting(QStringView items, Output &out)
{
    LastPerPort changes(out.events);
    for (const QStringView line : items.tokenize(u'\n', Qt::SkipEmptyParts)) {
        const Item item = splitItem(line);
        const auto destination = parseInteger(item.first);
        if (!destination || !item.rest)
            continue;
        const auto source = parseInteger(*item.rest);
        if (!source || !isKeptIndex(*destination) || !isKeptIndex(*source))
            continue;
        m_routing.insert(*destination, *source);
        if (m_preludeDone) {
            changes.put(*destination,
                        RouterDriverEvent::makeRouteChanged(0, *destination, *source));
            out.replies.append(
                Reply { Reply::report, CommandTarget::route(0, *destination, *source) });
        }
    }
}

void VideohubParser::handleLocks(QStringView items, Output &out)
{
    m_locksSeen = true;
    LastPerPort changes(out.events);
    for (const QStringView line : items.tokenize(u'\n', Qt::SkipEmptyParts)) {
        const Item item = splitItem(line);
        const auto destination = parseInteger(item.first);
        if (!destination || !isKeptIndex(*destination))
            continue;
        const QChar lock = item.rest && !item.rest->isEmpty() ? item.rest->front() : QChar(u'U');
        m_locks.insert(*destination, lock);
        if (m_preludeDone) {
            changes.put(*destination,
                        RouterDriverEvent::makeLockChanged(*destination, lock != u'U'));
            out.replies.append(
                Reply { Reply::report, CommandTarget::lock(*destination, lock != u'U') });
        }
    }
}

VideohubParser::Output VideohubParser::finalizePrelude()
{
    Output out;
    finalize(out);
    return out;
}

VideohubParser::Output VideohubParser::readLimitReached(std::chrono::milliseconds limit)
{
    Output out;
    if (m_failed || m_preludeDone)
        return out;
    finalize(out);
    if (m_preludeDone)
        return out;
    const QString seconds = QString::number(double(limit.count()) / 1000.0);
    m_failed = true;
    const QString reason = m_inputCount <= 0 || m_outputCount <= 0
        ? QStringLiteral("The router didn't announce its inputs and outputs within %1 seconds.")
              .arg(seconds)
        : QStringLiteral("The router didn't send its routing within %1 seconds.").arg(seconds);
    out.fatal = m_warnings.failure(reason);
    return out;
}

void VideohubParser::finalize(Output &out)
{
    if (m_preludeDone || m_inputCount <= 0 || m_outputCount <= 0 || m_routing.isEmpty())
        return;
    m_preludeDone = true;
    out.finalizeDone = true;

    RouterState state;
    state.sources.reserve(m_inputCount);
    for (int i = 0; i < m_inputCount; ++i) {
        const auto label = m_inputLabels.constFind(i);
        state.sources.append(
            Port { i, PortKind::source,
                   label != m_inputLabels.cend() ? *label : QStringLiteral("In %1").arg(i + 1) });
    }
    state.destinations.reserve(m_outputCount);
    for (int i = 0; i < m_outputCount; ++i) {
        const auto label = m_outputLabels.constFind(i);
        state.destinations.append(
            Port { i, PortKind::destination,
                   label != m_outputLabels.cend() ? *label : QStringLiteral("Out %1").arg(i + 1) });
    }
    state.deviceName = m_friendlyName.isEmpty() ? m_deviceName : m_friendlyName;
    state.model = m_model.isEmpty() ? QStringLiteral("Blackmagic Videohub") : m_model;
    state.vendor = RouterVendor::blackmagicVideohub;
    state.levels = { RouterLevel { 0, QStringLiteral("Video"), LevelKind::video } };
    state.routing.insert(0, m_routing);
    for (auto it = m_locks.cbegin(); it != m_locks.cend(); ++it) {
        if (it.value() != u'U')
            state.lockedDestinations.insert(it.key());
    }
    out.events.append(RouterDriverEvent::makeConnected(state));
    if (auto warnings = m_warnings.stateReported())
        out.events.append(*warnings);
}

std::optional<QByteArray> VideohubParser::resyncQuery(std::chrono::steady_clock::time_point now)
{
    if (m_lastResync && now - *m_lastResync < m_limits.resyncInterval)
        return std::nullopt;
    m_lastResync = now;
    return m_locksSeen ? QByteArray("VIDEO OUTPUT ROUTING:\n\nVIDEO OUTPUT LOCKS:\n\n")
                       : QByteArray("VIDEO OUTPUT ROUTING:\n\n");
}

QByteArray VideohubParser::routesBlock(const QList<Route> &routes)
{
    QByteArray block = "VIDEO OUTPUT ROUTING:\n";
    for (qsizetype i = 0; i < routes.size(); ++i) {
        if (i > 0)
            block += '\n';
        block += QByteArray::number(routes[i].destination) + ' '
            + QByteArray::number(routes[i].source);
    }
    return block + "\n\n";
}

std::optional<CommandTarget> VideohubParser::reported(const CommandTarget &target) const
{
    switch (target.kind) {
    case CommandTarget::Kind::route: {
        const auto source = m_routing.constFind(target.index);
        if (target.level != 0 || source == m_routing.cend())
            return std::nullopt;
        return CommandTarget::route(0, target.index, *source);
    }
    case CommandTarget::Kind::lock:
        return CommandTarget::lock(target.index, lockCharacter(target.index) != u'U');
    case CommandTarget::Kind::label:
        break;
    }
    return reportedName(target, m_inputLabels, m_outputLabels);
}

QString VideohubParser::portName(const CommandTarget &target) const
{
    return ::portName(target, m_inputLabels, m_outputLabels);
}

QList<QByteArray> VideohubParser::queryBlocks(const QList<CommandTarget> &targets)
{
    bool routes = false, locks = false, inputs = false, outputs = false;
    for (const CommandTarget &target : targets) {
        routes |= target.kind == CommandTarget::Kind::route;
        locks |= target.kind == CommandTarget::Kind::lock;
        inputs |= target.kind == CommandTarget::Kind::label && target.port == PortKind::source;
        outputs |= target.kind == CommandTarget::Kind::label && target.port != PortKind::source;
    }
    QList<QByteArray> blocks;
    if (routes)
        blocks.append("VIDEO OUTPUT ROUTING:\n\n");
    if (locks)
        blocks.append("VIDEO OUTPUT LOCKS:\n\n");
    if (inputs)
        blocks.append("INPUT LABELS:\n\n");
    if (outputs)
        blocks.append("OUTPUT LABELS:\n\n");
    return blocks;
}

QString VideohubParser::labelAsSent(const QString &label)
{
    return boundedRouterName(QString::fromUtf8(oneLine(label)));
}

QByteArray VideohubParser::lockBlock(int destination, QChar lockCharacter)
{
    return "VIDEO OUTPUT LOCKS:\n" + QByteArray::number(destination) + ' '
        + oneLine(QString(lockCharacter)) + "\n\n";
}

QByteArray VideohubParser::labelBlock(PortKind kind, int index, const QString &label)
{
    const QByteArray header = kind == PortKind::source ? "INPUT LABELS:\n" : "OUTPUT LABELS:\n";
    return header + QByteArray::number(index) + ' ' + oneLine(label) + "\n\n";
}

QChar VideohubParser::lockCharacterToSend(bool locked, QChar current)
{
    if (locked)
        return u'O';
    return current == u'L' ? u'F' : u'U';
}

#include "FakeQuartzRouter.h"

FakeQuartzRouter::FakeQuartzRouter(int sources, int destinations, QObject *parent,
                                   std::chrono::milliseconds lifetime)
    : QObject(parent)
    , m_sources(sources)
    , m_destinations(destinations)
    , m_server(this,
               { [this](Client &client, const QByteArray &data) { return read(client, data); },
                 [this] {
                     ++connections;
                     emit clientConnected();
                 } },
               lifetime)
{
    for (int d = 0; d < destinations; ++d)
        m_routing[d] = d % sources;
}

FakeQuartzRouter::~FakeQuartzRouter() = default;

void FakeQuartzRouter::misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy)
{
    m_misbehaving.set(mode, lateBy, [this] {
        sendRaw(".AV" + levels + QByteArray::number(m_destinations) + ','
                + QByteArray::number(m_routing.value(m_destinations - 1) + 1) + lineEnd);
    });
}

std::optional<int> FakeQuartzRouter::route(int destination) const
{
    if (!m_routing.contains(destination))
        return std::nullopt;
    return m_routing.value(destination);
}

QByteArray FakeQuartzRouter::read(Client &client, const QByteArray &data)
{
    ++readChunks;
    client.buffer.append(data);
    QByteArray reply;
    qsizetype end;
    while ((end = client.buffer.indexOf('\r')) >= 0) {
        const QByteArray line = client.buffer.left(end).trimmed();
        client.buffer.remove(0, end + 1);
        if (!line.isEmpty())
            handleLine(line, reply);
    }
    if (m_misbehaving.is(Misbehaviour::late)) {
        m_misbehaving.deliver(reply, [this](const QByteArray &bytes) { sendRaw(bytes); });
        return {};
    }
    return reply;
}

void FakeQuartzRouter::handleLine(const QByteArray &line, QByteArray &reply)
{
    lines.append(line);
    emit lineReceived(line);
    if (m_misbehaving.is(Misbehaviour::stuckChatty))
        return;
    if (refuseNext > 0 || m_misbehaving.is(Misbehaviour::refuseAll)) {
        refuseNext = std::max(0, refuseNext - 1);
        reply.append("?").append(lineEnd);
        return;
    }
    bool ok = false;
    if (line.startsWith(".IV")) {
        const int n = line.mid(3).toInt(&ok);
        if (!ok || n < 1 || n > m_destinations) {
            reply.append("?").append(lineEnd);
            return;
        }
        if (answerInterrogations && m_routing.contains(n - 1))
            reply.append(".A" + levels + QByteArray::number(n) + ','
                         + QByteArray::number(m_routing.value(n - 1) + 1) + lineEnd);
    } else if (line.startsWith(".SV")) {
        const QList<QByteArray> numbers = line.mid(3).split(',');
        const int d = numbers.size() == 2 ? numbers[0].toInt(&ok) : 0;
        const int s = ok ? numbers[1].toInt(&ok) : 0;
        if (!ok || d < 1 || d > m_destinations || s < 1 || s > m_sources) {
            reply.append("?").append(lineEnd);
            return;
        }
        if (m_misbehaving.is(Misbehaviour::contradict)) {
            reply.append(".U" + levels + QByteArray::number(d) + ','
                         + QByteArray::number(m_routing.value(d - 1) + 1) + lineEnd);
        } else if (answerConnects) {
            m_routing[d - 1] = s - 1;
            reply.append(".U" + levels + QByteArray::number(d) + ',' + QByteArray::number(s)
                         + lineEnd);
        }
    } else {
        reply.append("?").append(lineEnd);
    }
}

void FakeQuartzRouter::startFlood(FloodMode mode)
{
    m_server.flood([this, mode](quint64 sequence) { return floodChunk(mode, sequence); });
}

QByteArray FakeQuartzRouter::floodChunk(FloodMode mode, quint64 sequence) const
{
    constexpr int perChunk = 1024;
    QByteArray chunk;
    switch (mode) {
    case FloodMode::randomBytes:
        return FloodBytes::random(sequence);
    case FloodMode::validEvents:
        for (int i = 0; i < perChunk; ++i) {
            const quint64 n = sequence * perChunk + quint64(i);
            // Updates the router sends unasked.
            chunk += ".UV" + QByteArray::number(n % quint64(m_destinations) + 1) + ','
                + QByteArray::number((n / quint64(m_destinations) + n) % quint64(m_sources) + 1)
                + lineEnd;
        }
        return chunk;
    case FloodMode::absurdIndices:
        for (int i = 0; i < perChunk; ++i) {
            const quint64 n = sequence * perChunk + quint64(i);
            chunk += ".AV" + QByteArray::number(quint64(m_destinations) + 1 + n) + ','
                + QByteArray::number(quint64(m_sources) + 1 + n) + lineEnd;
        }
        return chunk;
    case FloodMode::endlessLine:
        return QByteArray(16 * 1024, 'a');
    case FloodMode::refusals:
        return ("?" + lineEnd).repeated(perChunk);
    }
    return chunk;
}

#include "FakeSWP08Router.h"

namespace {

constexpr char DLE = 0x10;
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;

} // namespace

FakeSWP08Router::FakeSWP08Router(int sources, int destinations, QObject *parent,
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
    // Every destination starts on a source of its own so interrogations have answers.
    for (int d = 0; d < destinations; ++d)
        m_routing[0][d] = d % sources;
}

FakeSWP08Router::~FakeSWP08Router() = default;

void FakeSWP08Router::misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy)
{
    m_misbehaving.set(mode, lateBy, [this] {
        const int last = m_destinations - 1;
        sendTally(0, last, route(0, last).value_or(0));
    });
}

void FakeSWP08Router::setRoute(int level, int destination, int source)
{
    m_routing[level][destination] = source;
}

std::optional<int> FakeSWP08Router::route(int level, int destination) const
{
    const auto table = m_routing.value(level);
    if (!table.contains(destination))
        return std::nullopt;
    return table.value(destination);
}

QByteArray FakeSWP08Router::frame(const QByteArray &message)
{
    QByteArray body = message;
    body.append(char(message.size()));
    int sum = 0;
    for (char c : std::as_const(body))
        sum += quint8(c);
    body.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    QByteArray wire { 1, DLE };
    wire.append(STX);
    for (char c : std::as_const(body)) {
        wire.append(c);
        if (c == DLE)
            wire.append(DLE);
    }
    wire.append(DLE).append(ETX);
    return wire;
}

QByteArray FakeSWP08Router::tally(int level, int destination, int source, char command)
{
    QByteArray message;
    message.append(command);
    message.append(char(level & 0x0F));
    message.append(char((((destination / 128) & 7) << 4) | ((source / 128) & 7)));
    message.append(char(destination % 128));
    message.append(char(source % 128));
    return frame(message);
}

void FakeSWP08Router::sendTally(int level, int destination, int source)
{
    sendRaw(tally(level, destination, source));
}

QByteArray FakeSWP08Router::read(Client &client, const QByteArray &data)
{
    ++readChunks;
    QByteArray reply; // everything this read calls for goes back in one write
    for (char c : data) {
        if (!client.lastWasDLE) {
            if (c == DLE)
                client.lastWasDLE = true;
            else if (client.inFrame)
                client.frameBytes.append(c);
            continue;
        }
        client.lastWasDLE = false;
        if (c == STX) {
            client.inFrame = true;
            client.frameBytes.clear();
        } else if (c == ETX && client.inFrame) {
            client.inFrame = false;
            handleFrame(client.frameBytes, reply);
        } else if (c == DLE && client.inFrame) {
            client.frameBytes.append(DLE);
        } else if (c == ACK) {
            ++acksReceived;
        } else if (c == NAK) {
            ++naksReceived;
        }
    }
    if (m_misbehaving.is(Misbehaviour::late)) {
        m_misbehaving.deliver(reply, [this](const QByteArray &bytes) { sendRaw(bytes); });
        return {};
    }
    return reply;
}

void FakeSWP08Router::handleFrame(const QByteArray &frameBytes, QByteArray &reply)
{
    int sum = 0;
    for (char c : frameBytes)
        sum += quint8(c);
    if (frameBytes.size() < 3 || (sum & 0xFF) != 0
        || quint8(frameBytes.at(frameBytes.size() - 2)) != frameBytes.size() - 2) {
        ++badFramesReceived;
        reply.append(DLE).append(NAK);
        return;
    }
    const QByteArray message = frameBytes.left(frameBytes.size() - 2);
    messages.append(message);
    emit messageReceived(message);
    if (m_misbehaving.is(Misbehaviour::stuckChatty))
        return;
    if (nakNext > 0 || m_misbehaving.is(Misbehaviour::refuseAll)) {
        nakNext = std::max(0, nakNext - 1);
        reply.append(DLE).append(NAK);
        return;
    }
    if (acknowledge)
        reply.append(DLE).append(ACK);
    handleMessage(message, reply);
}

void FakeSWP08Router::handleMessage(const QByteArray &message, QByteArray &reply)
{
    const char command = message.at(0);
    if (command == 0x01 && message.size() >= 4 && answerInterrogations) {
        const int level = quint8(message.at(1)) & 0x0F;
        const int destination = ((quint8(message.at(2)) >> 4) & 7) * 128 + quint8(message.at(3));
        if (const auto source = route(level, destination))
            reply.append(tally(level, destination, *source));
    } else if (command == 0x02 && message.size() >= 5 && answerConnects) {
        const int level = quint8(message.at(1)) & 0x0F;
        const int multiplier = quint8(message.at(2));
        const int destination = ((multiplier >> 4) & 7) * 128 + quint8(message.at(3));
        const int source = (multiplier & 7) * 128 + quint8(message.at(4));
        if (m_misbehaving.is(Misbehaviour::acknowledgeOnly))
            return;
        if (m_misbehaving.is(Misbehaviour::contradict)) {
            reply.append(tally(level, destination, route(level, destination).value_or(0), 0x04));
            return;
        }
        if (destination < m_destinations && source < m_sources) {
            m_routing[level][destination] = source;
            reply.append(tally(level, destination, source, 0x04));
        }
    }
}

void FakeSWP08Router::startFlood(FloodMode mode)
{
    m_server.flood([this, mode](quint64 sequence) { return floodChunk(mode, sequence); });
}

QByteArray FakeSWP08Router::floodChunk(FloodMode mode, quint64 sequence) const
{
    constexpr int perChunk = 1024;
    QByteArray chunk;
    switch (mode) {
    case FloodMode::randomBytes:
        return FloodBytes::random(sequence);
    case FloodMode::validEvents:
        for (int i = 0; i < perChunk; ++i) {
            const quint64 n = sequence * perChunk + quint64(i);
            chunk += tally(0, int(n % quint64(m_destinations)),
                           int((n / quint64(m_destinations) + n) % quint64(m_sources)));
        }
        return chunk;
    case FloodMode::absurdIndices:
        // SW-P-08 addresses 1024 ports: beyond the saved size is as absurd as it gets.
        for (int i = 0; i < perChunk; ++i) {
            const quint64 n = sequence * perChunk + quint64(i);
            chunk += tally(int(n % 16), m_destinations + int(n % quint64(1024 - m_destinations)),
                           m_sources + int(n % quint64(1024 - m_sources)));
        }
        return chunk;
    case FloodMode::endlessLine:
        chunk = QByteArray(16 * 1024, char(0x55));
        if (sequence == 0)
            chunk.prepend(QByteArray::fromHex("1002"));
        return chunk;
    case FloodMode::refusals:
        return QByteArray::fromHex("1015").repeated(8 * 1024);
    }
    return chunk;
}

#include "FakeVideohubRouter.h"

#include "SocketFaults.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

FakeVideohubRouter::FakeVideohubRouter(Model model, QObject *parent,
                                       std::chrono::milliseconds lifetime)
    : QObject(parent)
    , m_model(std::move(model))
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &FakeVideohubRouter::accept);
    m_server->listen(QHostAddress::LocalHost, 0);
    m_lifetime.setSingleShot(true);
    connect(&m_lifetime, &QTimer::timeout, this, [this] {
        m_server->close();
        closeClients();
    });
    m_lifetime.start(lifetime);
}

FakeVideohubRouter::~FakeVideohubRouter()
{
    closeClients();
}

quint16 FakeVideohubRouter::port() const
{
    return m_server->serverPort();
}

int FakeVideohubRouter::clientCount() const
{
    int count = 0;
    for (const auto &client : m_clients)
        count += client && client->state() == QAbstractSocket::ConnectedState;
    return count;
}

QByteArray FakeVideohubRouter::prelude() const
{
    return preludeFor(m_model);
}

QByteArray FakeVideohubRouter::preludeFor(const Model &model)
{
    QByteArray out;
    out += "PROTOCOL PREAMBLE:\nVersion: 2.8\n\n";
    out += "VIDEOHUB DEVICE:\nDevice present: true\nModel name: " + model.modelName.toUtf8()
        + "\nFriendly name: " + model.friendlyName.toUtf8() + "\nVideo inputs: "
        + QByteArray::number(model.inputs) + "\nVideo processing units: 0\nVideo outputs: "
        + QByteArray::number(model.outputs) + "\nVideo monitoring outputs: 0\n\n";
    if (model.sendLabels) {
        out += "INPUT LABELS:\n";
        for (int i = 0; i < model.inputs; ++i)
            out += QByteArray::number(i) + ' '
                + model.inputLabels.value(i, QStringLiteral("Cam %1").arg(i + 1)).toUtf8() + '\n';
        out += "\nOUTPUT LABELS:\n";
        for (int i = 0; i < model.outputs; ++i)
            out += QByteArray::number(i) + ' '
                + model.outputLabels.value(i, QStringLiteral("Mon %1").arg(i + 1)).toUtf8() + '\n';
        out += '\n';
    }
    if (model.sendLocks) {
        out += "VIDEO OUTPUT LOCKS:\n";
        for (int i = 0; i < model.outputs; ++i)
            out += QByteArray::number(i) + ' ' + model.locks.value(i, 'U') + '\n';
        out += '\n';
    }
    out += "VIDEO OUTPUT ROUTING:\n";
    for (int i = 0; i < model.outputs; ++i)
        out += QByteArray::number(i) + ' '
            + QByteArray::number(model.routing.value(i, model.inputs ? i % model.inputs : 0))
            + '\n';
    out += '\n';
    if (model.sendEndPrelude)
        out += "END PRELUDE:\n\n";
    return out;
}

void FakeVideohubRouter::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_accepted;
        m_clients.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            m_received += bytes;
            QByteArray &pending = m_pending[socket];
            pending += bytes;
            pending.replace('\r', QByteArray());
            for (qsizetype end = pending.indexOf("\n\n"); end >= 0; end = pending.indexOf("\n\n")) {
                const QByteArray block = pending.left(end);
                pending.remove(0, end + 2);
                m_blocks.append(block);
                emit blockReceived(block);
                handleBlock(socket, block);
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        sendPrelude(socket, m_hasOverride ? m_override : prelude());
        emit clientConnected();
    }
}

void FakeVideohubRouter::sendPrelude(QTcpSocket *socket, QByteArray rest)
{
    if (m_closeAfter >= 0 && rest.size() > m_closeAfter) {
        socket->write(rest.left(m_closeAfter));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    if (m_chunkSize <= 0 || rest.size() <= m_chunkSize) {
        socket->write(rest);
        socket->flush();
        return;
    }
    socket->write(rest.left(m_chunkSize));
    socket->flush();
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(0, this, [this, guard, rest = rest.mid(m_chunkSize)] {
        if (guard)
            sendPrelude(guard, rest);
    });
}

QByteArray FakeVideohubRouter::routingTable() const
{
    QByteArray out = "VIDEO OUTPUT ROUTING:\n";
    for (int i = 0; i < m_model.outputs; ++i)
        out += QByteArray::number(i) + ' '
            + QByteArray::number(m_model.routing.value(i, m_model.inputs ? i % m_model.inputs : 0))
            + '\n';
    return out + '\n';
}

QByteArray FakeVideohubRouter::lockTable() const
{
    QByteArray out = "VIDEO OUTPUT LOCKS:\n";
    for (int i = 0; i < m_model.outputs; ++i)
        out += QByteArray::number(i) + ' ' + m_model.locks.value(i, 'U') + '\n';
    return out + '\n';
}

void FakeVideohubRouter::misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy)
{
    m_misbehaving.set(mode, lateBy, [this] {
        const int last = m_model.outputs - 1;
        sendToAll("VIDEO OUTPUT ROUTING:\n" + QByteArray::number(last) + ' '
                  + QByteArray::number(m_model.routing.value(last, last % m_model.inputs))
                  + "\n\n");
    });
}

void FakeVideohubRouter::handleBlock(QTcpSocket *socket, const QByteArray &block)
{
    if (m_reply == Reply::silent || m_misbehaving.is(Misbehaviour::stuckChatty))
        return;
    const QPointer<QTcpSocket> guard(socket);
    const auto write = [guard](const QByteArray &bytes) {
        if (guard)
            guard->write(bytes);
    };
    if (m_reply == Reply::nak || m_misbehaving.is(Misbehaviour::refuseAll)) {
        socket->write("NAK\n\n");
        return;
    }
    QList<QByteArray> lines = block.split('\n');
    const QByteArray header = lines.takeFirst().trimmed().toUpper();
    lines.removeAll(QByteArray());
    QByteArray reply = "ACK\n\n";
    if (lines.isEmpty()) {
        if (header == "VIDEO OUTPUT ROUTING:")
            reply += routingTable();
        else if (header == "VIDEO OUTPUT LOCKS:")
            reply += lockTable();
        m_misbehaving.deliver(reply, write);
        return;
    }
    if (m_misbehaving.is(Misbehaviour::acknowledgeOnly)) {
        socket->write(reply);
        return;
    }
    if (m_misbehaving.is(Misbehaviour::contradict)) {
        // Taken in, and answered with what it still holds.
        socket->write(reply + routingTable() + lockTable());
        return;
    }
    QByteArray echo = header + '\n';
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            continue;
        bool ok = false;
        const int index = line.left(space).toInt(&ok);
        if (!ok)
            continue;
        const QByteArray rest = line.mid(space + 1);
        if (header == "VIDEO OUTPUT ROUTING:") {
            m_model.routing[index] = rest.toInt();
        } else if (header == "VIDEO OUTPUT LOCKS:") {
            const char c = rest.isEmpty() ? 'U' : rest.at(0);
            m_model.locks[index] = c == 'F' ? 'U' : c;
            echo += QByteArray::number(index) + ' ' + m_model.locks[index] + '\n';
            continue;
        } else if (header == "INPUT LABELS:") {
            m_model.inputLabels[index] = QString::fromUtf8(rest);
        } else if (header == "OUTPUT LABELS:") {
            m_model.outputLabels[index] = QString::fromUtf8(rest);
        }
        echo += line + '\n';
    }
    m_misbehaving.deliver(reply + echo + '\n', write);
}

void FakeVideohubRouter::sendToAll(const QByteArray &bytes)
{
    for (const auto &client : std::as_const(m_clients)) {
        if (client) {
            client->write(bytes);
            client->flush();
        }
    }
}

void FakeVideohubRouter::closeClients()
{
    for (const auto &client : std::as_const(m_clients)) {
        if (client)
            client->disconnectFromHost();
    }
}

void FakeVideohubRouter::resetClients()
{
    for (const auto &client : std::as_const(m_clients))
        resetConnection(client);
}

void FakeVideohubRouter::startFlood(FloodMode mode)
{
    startFlood([this, mode](quint64 sequence) { return floodChunk(mode, sequence); });
}

void FakeVideohubRouter::startFlood(Flood::Next next)
{
    for (const auto &client : std::as_const(m_clients)) {
        if (client && client->state() == QAbstractSocket::ConnectedState)
            m_floods.append(new Flood(client, next, client));
    }
}

void FakeVideohubRouter::stopFlood()
{
    for (const auto &flood : std::as_const(m_floods))
        if (flood)
            flood->stop();
    m_floods.clear();
}

QByteArray FakeVideohubRouter::floodChunk(FloodMode mode, quint64 sequence) const
{
    constexpr int perChunk = 512;
    QByteArray chunk;
    switch (mode) {
    case FloodMode::randomBytes:
        return FloodBytes::random(sequence);
    case FloodMode::validEvents: {
        const quint64 outputs = quint64(std::max(m_model.outputs, 1));
        const quint64 inputs = quint64(std::max(m_model.inputs, 1));
        chunk = "VIDEO OUTPUT ROUTING:\n";
        for (int i = 0; i < perChunk; ++i) {
            const quint64 n = sequence * perChunk + quint64(i);
            chunk += QByteArray::number(n % outputs) + ' '
                + QByteArray::number((n / outputs + n) % inputs) + '\n';
        }
        return chunk + '\n';
    }
    case FloodMode::absurdIndices: {
        // Every index distinct, so a parser that kept them would grow without end.
        const QByteArray first = QByteArray::number(4096 + sequence * perChunk);
        chunk = "INPUT LABELS:\n" + first + " Far\n\nVIDEO OUTPUT LOCKS:\n" + first
            + " L\n\nVIDEO OUTPUT ROUTING:\n";
        for (int i = 0; i < perChunk; ++i) {
            const QByteArray n = QByteArray::number(4096 + sequence * perChunk + quint64(i));
            chunk += n + ' ' + n + '\n';
        }
        return chunk + '\n';
    }
    case FloodMode::endlessLine:
        return (QByteArray(255, 'a') + '\n').repeated(64);
    case FloodMode::refusals:
        return QByteArray("NAK\n\n").repeated(perChunk);
    }
    return chunk;
}

#include "FakeLW3Router.h"

#include "SocketFaults.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

FakeLW3Router::FakeLW3Router(int inputs, int outputs, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    for (int n = 1; n <= inputs; ++n)
        inputNames.append(QStringLiteral("%1;Input %1").arg(n));
    for (int n = 1; n <= outputs; ++n) {
        outputNames.append(QStringLiteral("%1;Output %1").arg(n));
        routing.append((n - 1) % inputs + 1);
    }
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            m_clients.append(socket);
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                buffer->append(socket->readAll());
                for (qsizetype end; (end = buffer->indexOf('\n')) >= 0;) {
                    QByteArray line = buffer->left(end);
                    buffer->remove(0, end + 1);
                    if (line.endsWith('\r'))
                        line.chop(1);
                    else
                        m_crlf = false;
                    handle(socket, QString::fromUtf8(line));
                }
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_clients.removeAll(socket);
                socket->deleteLater();
            });
            emit clientConnected();
        }
    });
}

FakeLW3Router::~FakeLW3Router() = default;

bool FakeLW3Router::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeLW3Router::port() const
{
    return m_server->serverPort();
}

void FakeLW3Router::sendToClients(const QByteArray &bytes)
{
    for (QTcpSocket *socket : std::as_const(m_clients))
        socket->write(bytes);
}

void FakeLW3Router::misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy)
{
    m_misbehaving.set(mode, lateBy, [this] { sendToClients(routingLine("CHG")); });
}

QByteArray FakeLW3Router::routingLine(const char *prefix) const
{
    QStringList tokens;
    for (int source : routing)
        tokens.append(source > 0 ? QStringLiteral("I%1").arg(source) : QStringLiteral("0"));
    return prefix + QByteArray(" /MEDIA/XP/VIDEO.DestinationConnectionStatus=")
        + tokens.join(';').toUtf8() + "\r\n";
}

QByteArray FakeLW3Router::lockLine(const char *prefix) const
{
    QStringList tokens;
    for (int d = 0; d < routing.size(); ++d)
        tokens.append(locked.contains(d) ? QStringLiteral("L") : QStringLiteral("T"));
    return prefix + QByteArray(" /MEDIA/XP/VIDEO.DestinationPortStatus=")
        + tokens.join(';').toUtf8() + "\r\n";
}

void FakeLW3Router::handle(QTcpSocket *socket, const QString &line)
{
    m_log.append(line);
    emit lineReceived(line);
    if (silent || m_misbehaving.is(Misbehaviour::stuckChatty))
        return;

    QString signature;
    QString text = line;
    static const QRegularExpression signedLine(QStringLiteral("^([0-9A-F]{4})#(.*)$"));
    if (const auto m = signedLine.match(line); m.hasMatch()) {
        signature = m.captured(1);
        text = m.captured(2);
    }
    QByteArray reply;
    QByteArray changes;

    static const QRegularExpression switchCall(
        QStringLiteral("^CALL /MEDIA/XP/VIDEO:switch\\(I(\\d+):O(\\d+)\\)$"));
    static const QRegularExpression lockCall(
        QStringLiteral("^CALL /MEDIA/XP/VIDEO:(lock|unlock)Destination\\(O(\\d+)\\)$"));
    static const QRegularExpression nameSet(
        QStringLiteral("^SET /MEDIA/NAMES/VIDEO\\.([IO])(\\d+)=(.*)$"));

    if (text == QLatin1String("GET /.ProductName")) {
        reply = "pr /.ProductName=" + productName.toUtf8() + "\r\n";
    } else if (text == QLatin1String("GET /MEDIA/NAMES/VIDEO.*")) {
        for (int i = 0; i < inputNames.size(); ++i)
            reply += "pr /MEDIA/NAMES/VIDEO.I" + QByteArray::number(i + 1) + '='
                + inputNames[i].toUtf8() + "\r\n";
        for (int i = 0; i < outputNames.size(); ++i)
            reply += "pr /MEDIA/NAMES/VIDEO.O" + QByteArray::number(i + 1) + '='
                + outputNames[i].toUtf8() + "\r\n";
    } else if (text == QLatin1String("GET /MEDIA/XP/VIDEO.*")) {
        reply = "pr /MEDIA/XP/VIDEO.Inputs=" + QByteArray::number(inputNames.size()) + "\r\n"
            + routingLine("pr") + lockLine("pr");
    } else if (text.startsWith(QLatin1String("OPEN "))) {
        m_opened.insert(text.mid(5));
        reply = "o- " + text.mid(5).toUtf8() + "\r\n";
    } else if (text.startsWith(QLatin1String("GET /MEDIA/PORTS/VIDEO/I"))) {
        const QString path = text.mid(4);
        reply = "pr " + path.toUtf8()
            + (path.endsWith(QLatin1String("SignalPresent")) ? "=true" : "=1920x1080p50") + "\r\n";
    } else if ((switchCall.match(text).hasMatch() || lockCall.match(text).hasMatch())
               && !m_misbehaving.is(Misbehaviour::none) && !m_misbehaving.is(Misbehaviour::late)) {
        // Refused, or taken in and nothing done; a contradiction reports both lists unchanged.
        if (m_misbehaving.is(Misbehaviour::refuseAll))
            reply = "mE /MEDIA/XP/VIDEO %E004%Not now\r\n";
        else
            reply = "mO /MEDIA/XP/VIDEO:" + text.section(u':', 1).toUtf8() + "\r\n";
        if (m_misbehaving.is(Misbehaviour::contradict))
            changes = routingLine("CHG") + lockLine("CHG");
    } else if (const auto m = switchCall.match(text); m.hasMatch()) {
        const int input = m.captured(1).toInt();
        const int output = m.captured(2).toInt();
        if (output < 1 || output > routing.size() || input < 1 || input > inputNames.size()) {
            reply = "mE /MEDIA/XP/VIDEO:switch %E001%Invalid port\r\n";
        } else if (locked.contains(output - 1)) {
            reply = "mE /MEDIA/XP/VIDEO:switch %E004%Destination is locked\r\n";
        } else {
            reply = "mO /MEDIA/XP/VIDEO:switch\r\n";
            routing[output - 1] = input;
            if (m_opened.contains(QStringLiteral("/MEDIA/XP/VIDEO")))
                changes = routingLine("CHG");
        }
    } else if (const auto m = lockCall.match(text); m.hasMatch()) {
        const int output = m.captured(2).toInt();
        if (m.captured(1) == QLatin1String("lock"))
            locked.insert(output - 1);
        else
            locked.remove(output - 1);
        reply = "mO /MEDIA/XP/VIDEO:" + m.captured(1).toUtf8() + "Destination\r\n";
        if (m_opened.contains(QStringLiteral("/MEDIA/XP/VIDEO")))
            changes = lockLine("CHG");
    } else if (const auto m = nameSet.match(text); m.hasMatch()) {
        QStringList &names = m.captured(1) == QLatin1String("I") ? inputNames : outputNames;
        const int n = m.captured(2).toInt();
        if (n >= 1 && n <= names.size()) {
            names[n - 1] = m.captured(3);
            const QByteArray property = "/MEDIA/NAMES/VIDEO." + m.captured(1).toUtf8()
                + m.captured(2).toUtf8() + '=' + m.captured(3).toUtf8() + "\r\n";
            reply = "pw " + property;
            if (m_opened.contains(QStringLiteral("/MEDIA/NAMES/VIDEO")))
                changes = "CHG " + property;
        } else {
            reply = "pE /MEDIA/NAMES/VIDEO %E002%Not exists\r\n";
        }
    } else {
        reply = "-E " + text.toUtf8() + " %E001%Syntax error\r\n";
    }

    if (!signature.isEmpty())
        reply = "{" + signature.toUtf8() + "\r\n" + reply + "}\r\n";
    if (m_misbehaving.is(Misbehaviour::refuseAll) && signature.isEmpty())
        reply = "-E " + text.toUtf8() + " %E001%Not now\r\n"; // its questions too
    const QPointer<QTcpSocket> guard(socket);
    m_misbehaving.deliver(reply + changes, [guard](const QByteArray &bytes) {
        if (guard)
            guard->write(bytes);
    });
}

void FakeLW3Router::resetClients()
{
    const auto clients = m_clients;
    for (QTcpSocket *socket : clients)
        resetConnection(socket);
}

void FakeLW3Router::startFlood(FloodMode mode)
{
    for (QTcpSocket *socket : std::as_const(m_clients))
        m_floods.append(new Flood(
            socket, [this, mode](quint64 sequence) { return floodChunk(mode, sequence); }, socket));
}

void FakeLW3Router::stopFlood()
{
    for (const auto &flood : std::as_const(m_floods))
        if (flood)
            flood->stop();
    m_floods.clear();
}

QByteArray FakeLW3Router::floodChunk(FloodMode mode, quint64 sequence) const
{
    constexpr int perChunk = 64;
    QByteArray chunk;
    switch (mode) {
    case FloodMode::randomBytes:
        return FloodBytes::random(sequence);
    case FloodMode::validEvents: {
        const int inputs = std::max(int(inputNames.size()), 1);
        for (int i = 0; i < perChunk; ++i) {
            const quint64 n = sequence * perChunk + quint64(i);
            QByteArrayList tokens;
            for (int d = 0; d < routing.size(); ++d)
                tokens.append("I" + QByteArray::number((n + quint64(d)) % quint64(inputs) + 1));
            chunk += "CHG /MEDIA/XP/VIDEO.DestinationConnectionStatus=" + tokens.join(';') + "\r\n";
        }
        return chunk;
    }
    case FloodMode::absurdIndices:
        for (int i = 0; i < perChunk; ++i) {
            const QByteArray n = QByteArray::number(4097 + sequence * perChunk + quint64(i));
            chunk += "CHG /MEDIA/NAMES/VIDEO.I" + n + "=1;Far\r\npr /MEDIA/NAMES/VIDEO.O" + n
                + "=1;Far\r\nCHG /MEDIA/PORTS/VIDEO/I" + n + "/STATUS.SignalPresent=true\r\n";
        }
        return chunk;
    case FloodMode::endlessLine:
        return QByteArray(16 * 1024, 'a');
    case FloodMode::refusals:
        return QByteArray("pE /MEDIA/XP/VIDEO %E001:Syntax error\r\n").repeated(512);
    }
    return chunk;
}

#include "FakeKumoServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

namespace {

QByteArray httpResponse(int status, const QByteArray &body)
{
    const QByteArray reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Error";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

// The raw query field, split by hand so that %26 and %3D inside a value stay in it.
QString queryField(const QString &target, const QString &name)
{
    const int q = target.indexOf(QLatin1Char('?'));
    if (q < 0)
        return {};
    const QStringList pairs = target.mid(q + 1).split(QLatin1Char('&'));
    for (const QString &pair : pairs) {
        if (pair.startsWith(name + QLatin1Char('=')))
            return QUrl::fromPercentEncoding(pair.mid(name.size() + 1).toUtf8());
    }
    return {};
}

const char *const kFlooding = "flooding";
const char *const kTrickling = "trickling";

} // namespace

FakeKumoServer::FakeKumoServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            ++m_connectionCount;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                if (socket->property(kFlooding).toBool())
                    ++m_floodsHungUp;
                if (socket->property(kTrickling).toBool())
                    ++m_tricklesHungUp;
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

FakeKumoServer::~FakeKumoServer() = default;

bool FakeKumoServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeKumoServer::port() const
{
    return m_server->serverPort();
}

void FakeKumoServer::populate(int sources, int destinations)
{
    setValue(QStringLiteral("eParamID_NumberOfSources"), sources);
    setValue(QStringLiteral("eParamID_NumberOfDestinations"), destinations);
    for (int n = 1; n <= sources; ++n)
        setValue(QStringLiteral("eParamID_XPT_Source%1_Line_1").arg(n),
                 QStringLiteral("Cam %1").arg(n));
    for (int n = 1; n <= destinations; ++n) {
        setValue(QStringLiteral("eParamID_XPT_Destination%1_Line_1").arg(n),
                 QStringLiteral("Mon %1").arg(n));
        setValue(QStringLiteral("eParamID_XPT_Destination%1_Status").arg(n), (n - 1) % sources + 1);
    }
}

void FakeKumoServer::refuseSets(const QString &id, std::optional<QJsonValue> kept)
{
    m_refused.insert(id, kept);
}

void FakeKumoServer::redirect(const QString &id, int status, const QByteArray &location)
{
    m_redirects.insert(id, { status, location });
}

void FakeKumoServer::close()
{
    m_server->close();
    const QList<QTcpSocket *> sockets = findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets)
        socket->abort();
}

void FakeKumoServer::startFlood(QTcpSocket *socket)
{
    socket->setProperty(kFlooding, true);
    static const QByteArray chunk
        = "4000\r\n" + QByteArray(0x4000, 'x') + "\r\n"; // 16 KiB of a never-closed text
    auto topUp = [socket] {
        // Only as fast as the client reads, so the fake's own buffer stays small.
        while (socket->state() == QAbstractSocket::ConnectedState
               && socket->bytesToWrite() < 4 * chunk.size())
            socket->write(chunk);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, [this, topUp](qint64 bytes) {
        m_floodedBytes += bytes;
        topUp();
    });
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                  "Transfer-Encoding: chunked\r\n\r\n"
                  "b\r\n{\"value\": \"\r\n");
    topUp();
}

void FakeKumoServer::startTrickle(QTcpSocket *socket, const QByteArray &response, int intervalMs)
{
    socket->setProperty(kTrickling, true);
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, response, sent] {
        socket->write(response.mid((*sent)++, 1));
        if (*sent >= response.size()) {
            timer->stop();
            socket->setProperty(kTrickling, false);
        }
    });
    timer->start(intervalMs);
}

void FakeKumoServer::releaseHeld()
{
    m_held.clear();
    m_heldSets.clear();
    const QList<Waiting> waiting = std::exchange(m_waiting, {});
    for (const Waiting &w : waiting) {
        if (w.socket)
            reply(w.socket, w.response);
    }
}

void FakeKumoServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = buffer.left(end);
        buffer.remove(0, end + 4);
        const QList<QByteArray> requestLine = head.split('\n').value(0).trimmed().split(' ');
        QByteArray target = requestLine.value(1);
        if (target.startsWith('/'))
            target.remove(0, 1);
        handle(socket, target);
    }
}

void FakeKumoServer::handle(QTcpSocket *socket, const QByteArray &rawTarget)
{
    const QString target = QString::fromUtf8(rawTarget);
    m_log.append(target);
    emit requestReceived(target);

    QString id;
    const QByteArray response = answer(target, &id);
    if (m_floods.contains(id)) {
        startFlood(socket);
        return;
    }
    if (m_trickles.contains(id)) {
        startTrickle(socket, response, m_trickles.value(id));
        return;
    }
    if (m_held.contains(id)
        || (m_heldSets.contains(id) && target.contains(QLatin1String("action=set")))) {
        m_waiting.append({ socket, response });
        return;
    }
    const int delay = m_delays.value(id, 0);
    if (delay > 0) {
        QPointer<QTcpSocket> guarded(socket);
        QTimer::singleShot(delay, this, [this, guarded, response] {
            if (guarded)
                reply(guarded, response);
        });
        return;
    }
    reply(socket, response);
}

void FakeKumoServer::reply(QTcpSocket *socket, const QByteArray &response)
{
    socket->write(response);
    if (m_closeAfterReply)
        socket->disconnectFromHost();
}

QByteArray FakeKumoServer::answer(const QString &target, QString *id)
{
    if (!target.startsWith(QLatin1String("config?")))
        return httpResponse(404, {});
    const QString action = queryField(target, QStringLiteral("action"));
    *id = queryField(target, QStringLiteral("paramid"));

    if (m_statuses.contains(*id))
        return httpResponse(m_statuses.value(*id), {});
    if (m_redirects.contains(*id)) {
        const Redirect redirect = m_redirects.value(*id);
        return "HTTP/1.1 " + QByteArray::number(redirect.status)
            + " Moved\r\nLocation: " + redirect.location + "\r\nContent-Length: 0\r\n\r\n";
    }

    if (action == QLatin1String("set")) {
        if (m_refused.contains(*id)) {
            if (const auto kept = m_refused.value(*id))
                m_values.insert(*id, *kept);
        } else {
            const QString value = queryField(target, QStringLiteral("value"));
            bool numeric = false;
            const int number = value.toInt(&numeric);
            if (id->endsWith(QLatin1String("_Status")) && numeric)
                m_values.insert(*id, number);
            else
                m_values.insert(*id, value);
        }
        return httpResponse(200, QByteArrayLiteral("{}"));
    }
    if (action != QLatin1String("get"))
        return httpResponse(400, {});

    if (m_rawBodies.contains(*id))
        return httpResponse(200, m_rawBodies.value(*id));
    QJsonObject object;
    if (m_values.contains(*id))
        object.insert(QStringLiteral("value"), m_values.value(*id));
    if (m_hugeNameLength > 0 && id->endsWith(QLatin1String("_Line_1")))
        object.insert(QStringLiteral("value"), QString(m_hugeNameLength, QLatin1Char('N')));
    if (m_changingRoutes && id->startsWith(QLatin1String("eParamID_XPT_Destination"))
        && id->endsWith(QLatin1String("_Status"))) {
        const int sources
            = std::max(1, m_values.value(QStringLiteral("eParamID_NumberOfSources")).toInt());
        object.insert(QStringLiteral("value"), int(m_routeTurn++ % quint64(sources)) + 1);
    }
    return httpResponse(200, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

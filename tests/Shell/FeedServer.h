#pragma once

#include <QHostAddress>
#include <QUrl>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A one-file HTTP server on 127.0.0.1 (ephemeral port) that answers every GET with a fixed
// status and body, optionally after a delay. It records the request headers it saw.
class FeedServer final : public QObject
{
public:
    explicit FeedServer(QObject *parent = nullptr) : QObject(parent)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

    void respond(int status, QByteArray body, int delayMs = 0)
    {
        m_status = status;
        m_body = std::move(body);
        m_delayMs = delayMs;
    }

    QUrl url(const QString &path = QStringLiteral("/updates/appcast.xml")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    int requests() const { return m_requests; }
    QByteArray lastRequest() const { return m_lastRequest; }

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            m_buffer[socket] += socket->readAll();
            if (!m_buffer[socket].contains("\r\n\r\n"))
                return;
            ++m_requests;
            m_lastRequest = m_buffer.take(socket);
            QTimer::singleShot(m_delayMs, socket, [this, socket] { reply(socket); });
        });
    }

    void reply(QTcpSocket *socket)
    {
        const QByteArray reason = m_status == 200 ? "OK" : "Other";
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_status) + ' ' + reason + "\r\n";
        head += "Content-Type: application/xml\r\nConnection: close\r\n";
        // A 304 carries no body by definition.
        const QByteArray body = m_status == 304 ? QByteArray() : m_body;
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
        socket->write(head + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffer;
    int m_status = 200;
    QByteArray m_body;
    int m_delayMs = 0;
    int m_requests = 0;
    QByteArray m_lastRequest;
};

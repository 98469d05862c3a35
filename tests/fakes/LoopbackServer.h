#pragma once

#include "Flood.h"
#include "SocketFaults.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <functional>

// The listening side of a fake router: 127.0.0.1 on an ephemeral port, closed by itself
// after a minute (or the lifetime given) so that a stuck test cannot leave it listening.
// Each client gets a State of the fake's own; every read that brings data goes to `read`
// with that state, and what it returns goes back to that client in one write.
template<typename State>
class LoopbackServer final
{
public:
    struct Handlers
    {
        std::function<QByteArray(State &state, const QByteArray &data)> read;
        std::function<void()> connected;
    };

    // `owner` is the context of every connection; the server is a member of it.
    LoopbackServer(QObject *owner, Handlers handlers,
                   std::chrono::milliseconds lifetime = std::chrono::minutes(1))
        : m_owner(owner)
        , m_handlers(std::move(handlers))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, owner, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost, 0);
        m_lifetime.setSingleShot(true);
        QObject::connect(&m_lifetime, &QTimer::timeout, owner, [this] {
            m_server.close();
            dropClients();
        });
        m_lifetime.start(lifetime);
    }

    ~LoopbackServer()
    {
        // The sockets are the server's children; take them down before their signals can
        // reach a half-destroyed fake.
        for (Client *client : std::as_const(m_clients)) {
            if (client->socket) {
                client->socket->disconnect(m_owner);
                delete client->socket;
            }
            delete client;
        }
    }

    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    quint16 port() const { return m_server.serverPort(); }

    // Sent to every connected client as one write.
    void sendRaw(const QByteArray &bytes)
    {
        for (Client *client : std::as_const(m_clients))
            if (client->socket)
                client->socket->write(bytes);
    }

    void dropClients()
    {
        const auto clients = m_clients;
        for (Client *client : clients)
            if (client->socket)
                client->socket->disconnectFromHost();
    }

    // Every client's connection ends with a reset, as when a router crashes.
    void resetClients()
    {
        const auto clients = m_clients;
        for (Client *client : clients)
            resetConnection(client->socket);
    }

    // Floods every connected client with what `next` makes, until stopFlood().
    void flood(const Flood::Next &next)
    {
        for (Client *client : std::as_const(m_clients))
            if (client->socket)
                m_floods.append(new Flood(client->socket, next, client->socket));
    }
    void stopFlood()
    {
        for (const QPointer<Flood> &flood : std::as_const(m_floods))
            if (flood)
                flood->stop();
        m_floods.clear();
    }
    int clientCount() const { return int(m_clients.size()); }

private:
    struct Client
    {
        QPointer<QTcpSocket> socket;
        State state;
    };

    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto *client = new Client { socket, {} };
            m_clients.append(client);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(socket, &QTcpSocket::readyRead, m_owner,
                             [this, client] { readFrom(client); });
            QObject::connect(socket, &QTcpSocket::disconnected, m_owner, [this, client] {
                m_clients.removeOne(client);
                if (client->socket)
                    client->socket->deleteLater();
                delete client;
            });
            if (m_handlers.connected)
                m_handlers.connected();
        }
    }

    void readFrom(Client *client)
    {
        const QByteArray data = client->socket->readAll();
        if (data.isEmpty())
            return;
        const QByteArray reply = m_handlers.read(client->state, data);
        if (!reply.isEmpty() && client->socket)
            client->socket->write(reply);
    }

    QObject *m_owner;
    Handlers m_handlers;
    QTcpServer m_server;
    QTimer m_lifetime;
    QList<Client *> m_clients;
    QList<QPointer<Flood>> m_floods;
};

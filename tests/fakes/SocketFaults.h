#pragma once

#include "Platform/TcpConnection.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QTcpSocket;
class SerialQueue;

// Failures of a live link that no loopback router can cause on its side, for the client
// sockets of a driver's link: plug factory() into the link's makeSocket. The connection stays
// real (a fake router at the other end); the test decides when a write is refused or the link
// breaks as if the network had failed. The sockets live on the link's queue.
class FaultySockets final
{
public:
    FaultySockets();
    ~FaultySockets();

    // Makes the sockets. Sockets outlive this object safely; they just stop failing.
    TcpConnection::SocketFactory factory() const;

    // The next `count` writes whose bytes contain `containing` (any write when empty) fail
    // with `error`, as a write to a dead peer does. Safe from any thread.
    void refuseWrites(int count, const QByteArray &containing = {},
                      const QString &error = QStringLiteral("Broken pipe"));
    int refusedWrites() const;

    // Every socket made so far reports `error` as a network failure. Runs on the link's
    // `queue` and returns once reported.
    void breakLinks(SerialQueue &queue, const QString &error = QStringLiteral("Network is down"));

    struct Shared; // what the sockets and this object share

private:
    std::shared_ptr<Shared> m_shared;
};

// Ends a fake router's side of a connection with a reset (RST) instead of an orderly close:
// the "connection reset by peer" a client sees when a router crashes or reboots.
void resetConnection(QTcpSocket *socket);

#pragma once

#include "Flood.h"
#include "Misbehaviour.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>

class QTcpServer;
class QTcpSocket;

// What the fake router holds and announces.
struct FakeVideohubModel
{
    int inputs = 12;
    int outputs = 12;
    QString modelName = QStringLiteral("Fake Videohub 12x12");
    QString friendlyName;
    bool sendLabels = true;
    bool sendLocks = true;
    bool sendEndPrelude = true;
    QHash<int, QString> inputLabels; // index -> label; default "Cam N"
    QHash<int, QString> outputLabels; // default "Mon N"
    QHash<int, int> routing; // destination -> source; default d % inputs
    QHash<int, char> locks; // destination -> lock character; default 'U'
};

// A text-block router on 127.0.0.1 (ephemeral port) for driver tests. It keeps a small
// routing model, sends its state when a client connects, answers every command block with
// ACK and the changed items (or NAK), and answers an empty block with its whole table.
// Hooks let a test stall it, cut the prelude short, drip it in pieces or push any bytes.
// It shuts itself down after `lifetime`, so a forgotten fake never outlives its test.
class FakeVideohubRouter final : public QObject
{
    Q_OBJECT

public:
    enum class Reply { ack, nak, silent };

    using Model = FakeVideohubModel;

    explicit FakeVideohubRouter(Model model = {}, QObject *parent = nullptr,
                                std::chrono::milliseconds lifetime = std::chrono::seconds(60));
    ~FakeVideohubRouter() override;

    quint16 port() const;
    Model &model() { return m_model; }

    // The blocks a router sends on connect, built from the model.
    QByteArray prelude() const;
    static QByteArray preludeFor(const Model &model);

    // What is sent on connect instead of the model's prelude (empty: nothing at all).
    void setPreludeOverride(const QByteArray &bytes)
    {
        m_override = bytes;
        m_hasOverride = true;
    }
    // Send only the first `bytes` of the prelude, then close the connection.
    void setCloseAfter(int bytes) { m_closeAfter = bytes; }
    // Send the prelude in pieces of this size, one per event-loop turn.
    void setChunkSize(int bytes) { m_chunkSize = bytes; }
    void setReply(Reply reply) { m_reply = reply; }
    // From now on. A stuck router reports the last output's route; the chatter and the late
    // answers go to every client.
    void misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy = {});

    void sendToAll(const QByteArray &bytes);
    void closeClients();
    // Every client's connection ends with a reset, as when a router crashes.
    void resetClients();

    // Hostile traffic to every connected client until stopFlood(). Valid events are routing
    // blocks within the model's size; absurd indices are routes, labels and locks for indices
    // no router has; the endless line is a block that never ends.
    void startFlood(FloodMode mode);
    // The same with chunks of the caller's making.
    void startFlood(Flood::Next next);
    void stopFlood();
    QByteArray floodChunk(FloodMode mode, quint64 sequence) const;
    int clientCount() const;
    int acceptedCount() const { return m_accepted; }

    // Everything clients wrote, and the complete blocks among it (without the empty line).
    QByteArray received() const { return m_received; }
    QList<QByteArray> blocks() const { return m_blocks; }

signals:
    void blockReceived(const QByteArray &block);
    // A client connected and has been sent the prelude.
    void clientConnected();

private:
    void accept();
    void sendPrelude(QTcpSocket *socket, QByteArray rest);
    void handleBlock(QTcpSocket *socket, const QByteArray &block);
    QByteArray routingTable() const;
    QByteArray lockTable() const;

    Model m_model;
    QTcpServer *m_server = nullptr;
    QList<QPointer<QTcpSocket>> m_clients;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QByteArray m_override;
    bool m_hasOverride = false;
    int m_closeAfter = -1;
    int m_chunkSize = 0;
    Reply m_reply = Reply::ack;
    int m_accepted = 0;
    QByteArray m_received;
    QList<QByteArray> m_blocks;
    QList<QPointer<Flood>> m_floods;
    Misbehaving m_misbehaving { this };
    QTimer m_lifetime;
};

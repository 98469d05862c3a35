#pragma once

#include "LoopbackServer.h"
#include "Misbehaviour.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>

#include <optional>

// A SW-P-08 router on 127.0.0.1 (ephemeral port) for driver tests. It unstuffs and checks
// every frame it is sent, acknowledges good ones and refuses bad ones, answers INTERROGATE
// with a TALLY and CONNECT with CONNECTED, and can be told to refuse, stay silent or send
// malformed input. Its own framing is written independently of the driver's parser. It
// closes by itself after a minute so that a stuck test cannot leave it listening.
class FakeSWP08Router final : public QObject
{
    Q_OBJECT

public:
    FakeSWP08Router(int sources, int destinations, QObject *parent = nullptr,
                    std::chrono::milliseconds lifetime = std::chrono::minutes(1));
    ~FakeSWP08Router() override;

    quint16 port() const { return m_server.port(); }

    // Behaviour knobs, read as each frame arrives.
    bool answerInterrogations = true; // reply to INTERROGATE with a TALLY
    bool answerConnects = true; // apply CONNECT and reply with CONNECTED
    bool acknowledge = true; // send DLE ACK for every good frame
    int nakNext = 0; // refuse the next N good frames with DLE NAK instead

    // From now on; a stuck router tallies its last destination.
    void misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy = {});

    void setRoute(int level, int destination, int source);
    std::optional<int> route(int level, int destination) const;

    // Wire bytes for a message, framed the router's way.
    static QByteArray frame(const QByteArray &message);
    static QByteArray tally(int level, int destination, int source, char command = 0x03);

    // Sent to every connected client as one write.
    void sendRaw(const QByteArray &bytes) { m_server.sendRaw(bytes); }
    void sendTally(int level, int destination, int source);
    void dropClients() { m_server.dropClients(); }
    void resetClients() { m_server.resetClients(); }

    // Hostile traffic to every connected client until stopFlood(). Valid events are tallies
    // within the size; absurd indices are tallies beyond it; the endless line is a frame that
    // never ends.
    void startFlood(FloodMode mode);
    void stopFlood() { m_server.stopFlood(); }
    QByteArray floodChunk(FloodMode mode, quint64 sequence) const;

    // What arrived: good messages (unstuffed, without byte count and checksum).
    QList<QByteArray> messages;
    int acksReceived = 0;
    int naksReceived = 0;
    int badFramesReceived = 0;
    int readChunks = 0; // reads that brought data: a measure of how batched the writes were
    int connections = 0;

signals:
    void clientConnected();
    void messageReceived(const QByteArray &message);

private:
    struct Client
    {
        bool inFrame = false;
        bool lastWasDLE = false;
        QByteArray frameBytes;
    };

    QByteArray read(Client &client, const QByteArray &data);
    void handleFrame(const QByteArray &frameBytes, QByteArray &reply);
    void handleMessage(const QByteArray &message, QByteArray &reply);

    int m_sources;
    int m_destinations;
    QHash<int, QHash<int, int>> m_routing; // level -> destination -> source
    Misbehaving m_misbehaving { this };
    LoopbackServer<Client> m_server; // last: its clients go before the state they use
};

#pragma once

#include "LoopbackServer.h"
#include "Misbehaviour.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>

#include <optional>

// A Quartz router on 127.0.0.1 (ephemeral port) for driver tests. It reads CR-terminated
// lines, answers ".IV<d>" with ".A<levels><d>,<s>" and ".SV<d>,<s>" with ".U<levels><d>,<s>",
// refuses what it does not know with "?", and can be told to refuse, stay silent, answer with
// other level letters or send raw bytes. It closes by itself after a minute.
class FakeQuartzRouter final : public QObject
{
    Q_OBJECT

public:
    FakeQuartzRouter(int sources, int destinations, QObject *parent = nullptr,
                     std::chrono::milliseconds lifetime = std::chrono::minutes(1));
    ~FakeQuartzRouter() override;

    quint16 port() const { return m_server.port(); }

    bool answerInterrogations = true;
    bool answerConnects = true;
    int refuseNext = 0; // answer the next N commands with "?"
    QByteArray levels = "V"; // level letters of every answer
    QByteArray lineEnd = "\r\n"; // what ends every line the router sends

    // From now on; a stuck router reports its last destination. A Quartz router has no
    // acknowledgement apart from its answer, so acknowledgeOnly behaves as none.
    void misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy = {});

    // 0-based, as the driver sees them.
    void setRoute(int destination, int source) { m_routing[destination] = source; }
    std::optional<int> route(int destination) const;

    void sendRaw(const QByteArray &bytes) { m_server.sendRaw(bytes); }
    void dropClients() { m_server.dropClients(); }
    void resetClients() { m_server.resetClients(); }

    // Hostile traffic to every connected client until stopFlood(). Valid events are route
    // updates within the size; absurd indices name ports no router has; the endless line
    // never ends.
    void startFlood(FloodMode mode);
    void stopFlood() { m_server.stopFlood(); }
    QByteArray floodChunk(FloodMode mode, quint64 sequence) const;

    QList<QByteArray> lines; // every line received, without its CR
    int readChunks = 0;
    int connections = 0;

signals:
    void clientConnected();
    void lineReceived(const QByteArray &line);

private:
    struct Client
    {
        QByteArray buffer;
    };

    QByteArray read(Client &client, const QByteArray &data);
    void handleLine(const QByteArray &line, QByteArray &reply);

    int m_sources;
    int m_destinations;
    QHash<int, int> m_routing;
    Misbehaving m_misbehaving { this };
    LoopbackServer<Client> m_server; // last: its clients go before the state they use
};

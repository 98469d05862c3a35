#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <optional>

class QTcpServer;
class QTcpSocket;

// A parameter-request router over HTTP/1.1 on 127.0.0.1 (ephemeral port). It keeps one JSON
// value per parameter id, answers "config?action=get&paramid=…" with {"value": …} and
// applies "config?action=set&paramid=…&value=…", and can be told to misbehave per
// parameter: another HTTP status, a raw body, a delay, a held reply or a refused set, and
// the hostile answers of a broken or malicious router (endless body, trickle, redirect, huge
// or ever-changing values).
class FakeKumoServer final : public QObject
{
    Q_OBJECT

public:
    explicit FakeKumoServer(QObject *parent = nullptr);
    ~FakeKumoServer() override;

    bool listen();
    quint16 port() const;

    // Counts, names "Cam n" / "Mon n", and destination d routed from source (d % sources) + 1.
    void populate(int sources, int destinations);

    void setValue(const QString &id, const QJsonValue &value) { m_values.insert(id, value); }
    QJsonValue value(const QString &id) const { return m_values.value(id); }
    void removeValue(const QString &id) { m_values.remove(id); }

    // Reads of `id` answer with this status (and an empty body).
    void setStatus(const QString &id, int status) { m_statuses.insert(id, status); }
    // Reads of `id` answer 200 with this body verbatim.
    void setRawBody(const QString &id, const QByteArray &body) { m_rawBodies.insert(id, body); }
    // Every answer about `id` (read or set) waits this long.
    void setDelay(const QString &id, int ms) { m_delays.insert(id, ms); }
    // Answers about `id` wait until releaseHeld(), which also ends the hold.
    void hold(const QString &id) { m_held.insert(id); }
    // Sets of `id` are carried out at once but answered only on releaseHeld().
    void holdSets(const QString &id) { m_heldSets.insert(id); }
    void releaseHeld();
    int heldCount() const { return int(m_waiting.size()); }
    // Sets of `id` are acknowledged but not applied; with `kept`, the parameter becomes it.
    void refuseSets(const QString &id, std::optional<QJsonValue> kept = std::nullopt);

    // Answers about `id` are a 200 whose chunked body never ends. It is written only as fast
    // as the client takes it, so the fake itself buffers little.
    void floodChunked(const QString &id) { m_floods.insert(id); }
    // Answers about `id` go out one byte every `intervalMs`.
    void trickle(const QString &id, int intervalMs) { m_trickles.insert(id, intervalMs); }
    // Answers about `id` are a redirect with this status to `location`.
    void redirect(const QString &id, int status, const QByteArray &location);
    // Reads of every port name answer a text of `length` characters, made when asked.
    void setHugeNames(int length) { m_hugeNameLength = length; }
    // Reads of every destination status answer another source each time.
    void setChangingRoutes(bool changing) { m_changingRoutes = changing; }
    // Every answer is followed by closing the connection, without saying so in the reply.
    void setCloseAfterReply(bool close) { m_closeAfterReply = close; }
    // Stops listening and drops every client, as a router that was switched off.
    void close();

    // Body bytes of endless answers that reached the network, and the clients that hung up
    // while one was running.
    qint64 floodedBytes() const { return m_floodedBytes; }
    int floodsHungUp() const { return m_floodsHungUp; }
    // Clients that hung up during a trickled answer.
    int tricklesHungUp() const { return m_tricklesHungUp; }

    // Every request target after the leading "/", exactly as it arrived.
    QStringList log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    int connectionCount() const { return m_connectionCount; }

signals:
    void requestReceived(const QString &target);

private:
    struct Waiting
    {
        QPointer<QTcpSocket> socket;
        QByteArray response;
    };
    struct Redirect
    {
        int status = 301;
        QByteArray location;
    };

    void onReadyRead(QTcpSocket *socket);
    void handle(QTcpSocket *socket, const QByteArray &target);
    QByteArray answer(const QString &target, QString *id);
    void startFlood(QTcpSocket *socket);
    void startTrickle(QTcpSocket *socket, const QByteArray &response, int intervalMs);
    void reply(QTcpSocket *socket, const QByteArray &response);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QHash<QString, QJsonValue> m_values;
    QHash<QString, int> m_statuses;
    QHash<QString, QByteArray> m_rawBodies;
    QHash<QString, int> m_delays;
    QSet<QString> m_held;
    QSet<QString> m_heldSets;
    QHash<QString, std::optional<QJsonValue>> m_refused;
    QList<Waiting> m_waiting;
    QSet<QString> m_floods;
    QHash<QString, int> m_trickles;
    QHash<QString, Redirect> m_redirects;
    int m_hugeNameLength = 0;
    bool m_changingRoutes = false;
    bool m_closeAfterReply = false;
    quint64 m_routeTurn = 0;
    qint64 m_floodedBytes = 0;
    int m_floodsHungUp = 0;
    int m_tricklesHungUp = 0;
    QStringList m_log;
    int m_connectionCount = 0;
};

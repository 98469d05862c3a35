#pragma once

#include "Flood.h"
#include "Misbehaviour.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// An LW3 matrix on 127.0.0.1 (ephemeral port). Answers the property GETs, opens
// subscriptions, runs signed switch/lock/unlock calls and name SETs in reply blocks, refuses
// a switch to a locked destination with an mE line, and sends CHG lines for what changed
// once the client has opened the path.
class FakeLW3Router final : public QObject
{
    Q_OBJECT

public:
    FakeLW3Router(int inputs, int outputs, QObject *parent = nullptr);
    ~FakeLW3Router() override;

    bool listen();
    quint16 port() const;

    QString productName = QStringLiteral("MX2-8x8-HDMI20");
    QStringList inputNames; // full name values: "prefix;label"
    QStringList outputNames;
    QList<int> routing; // per output, 1-based input, 0 for none
    QSet<int> locked; // 0-based outputs
    // When set, nothing is answered (the link is up, the router is silent).
    bool silent = false;

    // Every line received, without its line end, and whether every line ended in CR LF.
    QStringList log() const { return m_log; }
    bool allLinesEndWithCrLf() const { return m_crlf; }
    void clearLog() { m_log.clear(); }

    // From now on, for the signed calls; a stuck router reports its crosspoint list.
    void misbehave(Misbehaviour mode, std::chrono::milliseconds lateBy = {});

    void sendToClients(const QByteArray &bytes);
    // Every client's connection ends with a reset, as when a router crashes.
    void resetClients();

    // Hostile traffic to every connected client until stopFlood(). Valid events are
    // crosspoint changes within the size; absurd indices are names and signal status for
    // ports no router has; the endless line never ends.
    void startFlood(FloodMode mode);
    void stopFlood();
    QByteArray floodChunk(FloodMode mode, quint64 sequence) const;

signals:
    void lineReceived(const QString &line);
    void clientConnected();

private:
    void handle(QTcpSocket *socket, const QString &line);
    QByteArray routingLine(const char *prefix) const;
    QByteArray lockLine(const char *prefix) const;

    QTcpServer *m_server = nullptr;
    QList<QTcpSocket *> m_clients;
    QSet<QString> m_opened;
    QStringList m_log;
    bool m_crlf = true;
    QList<QPointer<Flood>> m_floods;
    Misbehaving m_misbehaving { this };
};

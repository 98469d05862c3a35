#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include <functional>

// What a hostile or broken router sends without end.
enum class FloodMode {
    randomBytes, // noise at full speed
    validEvents, // well-formed changes at full speed
    absurdIndices, // well-formed items for ports no router has, all distinct
    endlessLine, // one line (or block, or frame) that never ends
    refusals, // the protocol's "refused" answer at full speed, though nothing was asked
};

namespace FloodBytes {

// Noise from a fixed seed per chunk, so a run can be repeated.
inline QByteArray random(quint64 sequence, qsizetype size = 16 * 1024)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint64 state = sequence * 0x9E3779B97F4A7C15ull + 1;
    for (char &byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = char(state >> 56);
    }
    return bytes;
}

} // namespace FloodBytes

// Writes chunks from `next` to one socket as fast as the peer takes them, never holding more
// than `backlog` bytes unsent, until stopped or the socket goes. A peer that stops reading
// stops the flood too (nothing more is produced), so the fake itself never grows.
class Flood final : public QObject
{
public:
    using Next = std::function<QByteArray(quint64 sequence)>;

    Flood(QTcpSocket *socket, Next next, QObject *parent = nullptr, qint64 backlog = 256 * 1024)
        : QObject(parent)
        , m_socket(socket)
        , m_next(std::move(next))
        , m_backlog(backlog)
    {
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        connect(socket, &QObject::destroyed, this, [this] { m_running = false; });
        pump();
    }

    void stop() { m_running = false; }
    qint64 bytesSent() const { return m_sent; }

private:
    void pump()
    {
        while (m_running && m_socket && m_socket->state() == QAbstractSocket::ConnectedState
               && m_socket->bytesToWrite() < m_backlog) {
            const QByteArray chunk = m_next(m_sequence++);
            if (chunk.isEmpty()) {
                m_running = false;
                return;
            }
            m_sent += m_socket->write(chunk);
        }
    }

    QPointer<QTcpSocket> m_socket;
    Next m_next;
    qint64 m_backlog;
    quint64 m_sequence = 0;
    qint64 m_sent = 0;
    bool m_running = true;
};

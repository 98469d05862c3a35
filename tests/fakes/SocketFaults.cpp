#include "SocketFaults.h"

#include "Platform/SerialQueue.h"

#include <QList>
#include <QPointer>
#include <QTcpSocket>

#include <mutex>
#include <optional>

#include <sys/socket.h>

struct FaultySockets::Shared
{
    std::mutex mutex;
    int refuseCount = 0;
    QByteArray containing;
    QString error;
    int refused = 0;
    QList<QPointer<QTcpSocket>> sockets; // touched on the link's queue only

    // The error to fail this write with, if it is to fail.
    std::optional<QString> refusal(QByteArrayView bytes)
    {
        std::lock_guard lock(mutex);
        if (refuseCount == 0 || (!containing.isEmpty() && !bytes.contains(containing)))
            return std::nullopt;
        --refuseCount;
        ++refused;
        return error;
    }
};

namespace {

class FaultySocket final : public QTcpSocket
{
public:
    explicit FaultySocket(std::shared_ptr<FaultySockets::Shared> shared)
        : m_shared(std::move(shared))
    { }

    void breakWith(const QString &error)
    {
        setSocketError(QAbstractSocket::NetworkError);
        setErrorString(error);
        emit errorOccurred(QAbstractSocket::NetworkError);
    }

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        if (const auto error = m_shared->refusal(QByteArrayView(data, size))) {
            setErrorString(*error);
            return -1;
        }
        return QTcpSocket::writeData(data, size);
    }

private:
    std::shared_ptr<FaultySockets::Shared> m_shared;
};

} // namespace

FaultySockets::FaultySockets()
    : m_shared(std::make_shared<Shared>())
{ }

FaultySockets::~FaultySockets() = default;

TcpConnection::SocketFactory FaultySockets::factory() const
{
    return [shared = m_shared]() -> QTcpSocket * {
        auto *socket = new FaultySocket(shared);
        shared->sockets.append(socket);
        return socket;
    };
}

void FaultySockets::refuseWrites(int count, const QByteArray &containing, const QString &error)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->refuseCount = count;
    m_shared->containing = containing;
    m_shared->error = error;
}

int FaultySockets::refusedWrites() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->refused;
}

void FaultySockets::breakLinks(SerialQueue &queue, const QString &error)
{
    queue.sync([&] {
        for (const QPointer<QTcpSocket> &socket : std::as_const(m_shared->sockets)) {
            if (socket)
                static_cast<FaultySocket *>(socket.data())->breakWith(error);
        }
    });
}

void resetConnection(QTcpSocket *socket)
{
    if (!socket)
        return;
    // Lingering for no time makes the close a reset rather than a FIN.
    const linger reset { 1, 0 };
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    socket->abort();
}

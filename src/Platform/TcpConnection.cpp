#include "Platform/TcpConnection.h"

#include "Platform/BonjourServiceResolver.h"

#include <QHostAddress>
#include <QTcpSocket>

#if defined(Q_OS_LINUX)
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

std::mutex &resolverMutex()
{
    static std::mutex mutex;
    return mutex;
}

ServiceResolver &defaultResolver()
{
    static ServiceResolver resolver = bonjourServiceResolver();
    return resolver;
}

const QString kNotOpen = QStringLiteral("The connection is not open.");

// Qt reports a reset peer as RemoteHostClosedError, like an orderly close, and closes its
// descriptor before saying so. A second descriptor of the same socket outlives that close;
// the kernel's state of the socket then tells the two apart: an orderly close leaves it
// waiting for our own close, a reset has closed it.
int watchDescriptor(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    // Close-on-exec, like the descriptor it watches.
    return descriptor >= 0 ? ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0) : -1;
#else
    Q_UNUSED(descriptor)
    return -1;
#endif
}

bool wasReset(int watched)
{
#if defined(Q_OS_LINUX)
    if (watched < 0)
        return false;
    tcp_info info {};
    socklen_t size = sizeof info;
    if (::getsockopt(watched, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
#else
    Q_UNUSED(watched)
    return false;
#endif
}

QString resetText()
{
#if defined(Q_OS_LINUX)
    return QString::fromLocal8Bit(std::strerror(ECONNRESET));
#else
    return QStringLiteral("Connection reset by peer");
#endif
}

void closeWatched(int &watched)
{
#if defined(Q_OS_LINUX)
    if (watched >= 0)
        ::close(watched);
#endif
    watched = -1;
}

} // namespace

QString tcpStateName(TcpConnection::State state)
{
    switch (state) {
    case TcpConnection::State::setup:
        return QStringLiteral("setup");
    case TcpConnection::State::preparing:
        return QStringLiteral("preparing");
    case TcpConnection::State::waiting:
        return QStringLiteral("waiting");
    case TcpConnection::State::ready:
        return QStringLiteral("ready");
    case TcpConnection::State::failed:
        return QStringLiteral("failed");
    case TcpConnection::State::cancelled:
        return QStringLiteral("cancelled");
    }
    return {};
}

void TcpConnection::setDefaultServiceResolver(ServiceResolver resolver)
{
    std::lock_guard lock(resolverMutex());
    defaultResolver() = std::move(resolver);
}

std::shared_ptr<TcpConnection> TcpConnection::create(const Endpoint &endpoint, Options options)
{
    if (!options.resolver) {
        std::lock_guard lock(resolverMutex());
        options.resolver = defaultResolver();
    }
    return std::shared_ptr<TcpConnection>(new TcpConnection(endpoint, std::move(options)));
}

TcpConnection::TcpConnection(const Endpoint &endpoint, Options options)
    : m_endpoint(endpoint)
    , m_options(std::move(options))
{ }

TcpConnection::~TcpConnection()
{
    m_retry.cancel();
    tearDownSocket();
}

void TcpConnection::setStateHandler(StateHandler handler)
{
    m_stateHandler = std::move(handler);
}

std::optional<HostPort> TcpConnection::remoteEndpoint() const
{
    std::lock_guard lock(m_remoteMutex);
    return m_remote;
}

void TcpConnection::setState(State state, const QString &error)
{
    // One exchange, so a cancel() from another thread is never overwritten: once cancelled,
    // no later state (ready least of all) is taken or reported.
    State current = m_state.load();
    do {
        if (current == State::cancelled)
            return;
    } while (!m_state.compare_exchange_weak(current, state));
    if (m_stateHandler)
        m_stateHandler(state, error);
}

void TcpConnection::start(SerialQueue &queue)
{
    if (m_queue)
        return;
    m_queue = queue.shared_from_this();
    std::weak_ptr<TcpConnection> weak = weak_from_this();
    queue.async([weak] {
        if (auto self = weak.lock())
            self->begin();
    });
}

void TcpConnection::begin()
{
    if (m_state.load() == State::cancelled)
        return;
    setState(State::preparing);
    if (!m_endpoint.service) {
        connectTo(m_endpoint.address);
        return;
    }
    if (m_resolved) {
        connectTo(*m_resolved);
        return;
    }
    if (!m_options.resolver) {
        wait(QStringLiteral("Bonjour services can't be resolved on this system"));
        return;
    }
    std::weak_ptr<TcpConnection> weak = weak_from_this();
    const std::shared_ptr<SerialQueue> queue = m_queue;
    m_options.resolver(*m_endpoint.service, [weak, queue](std::expected<HostPort, QString> result) {
        queue->async([weak, result] {
            auto self = weak.lock();
            if (!self || self->m_state.load() == State::cancelled)
                return;
            if (!result) {
                self->wait(result.error());
                return;
            }
            self->m_resolved = *result;
            self->connectTo(*result);
        });
    });
}

void TcpConnection::connectTo(const HostPort &address)
{
    if (!m_socket) {
        m_socket = m_options.makeSocket ? m_options.makeSocket() : new QTcpSocket;
        m_socket->setReadBufferSize(maxBufferedBytes);
        std::weak_ptr<TcpConnection> weak = weak_from_this();
        auto guarded = [weak](auto member) {
            return [weak, member](auto &&...args) {
                if (auto self = weak.lock())
                    ((*self).*member)(std::forward<decltype(args)>(args)...);
            };
        };
        QObject::connect(m_socket, &QTcpSocket::connected, m_socket,
                         guarded(&TcpConnection::onConnected));
        QObject::connect(m_socket, &QTcpSocket::readyRead, m_socket,
                         guarded(&TcpConnection::onReadyRead));
        QObject::connect(m_socket, &QTcpSocket::errorOccurred, m_socket,
                         [weak](QAbstractSocket::SocketError) {
                             if (auto self = weak.lock())
                                 self->onSocketError();
                         });
        QObject::connect(m_socket, &QTcpSocket::bytesWritten, m_socket, [weak](qint64 count) {
            if (auto self = weak.lock())
                self->onBytesWritten(count);
        });
    }
    closeWatched(m_watched);
    m_socket->abort();
    m_socket->connectToHost(address.host, address.port);
}

void TcpConnection::wait(const QString &error)
{
    setState(State::waiting, error);
    if (m_state.load() == State::cancelled)
        return;
    std::weak_ptr<TcpConnection> weak = weak_from_this();
    m_retry.cancel();
    m_retry = m_queue->schedule(m_options.waitingRetry, [weak] {
        auto self = weak.lock();
        if (self && self->m_state.load() == State::waiting)
            self->begin();
    });
}

void TcpConnection::onConnected()
{
    closeWatched(m_watched);
    m_watched = watchDescriptor(m_socket->socketDescriptor());
    {
        std::lock_guard lock(m_remoteMutex);
        m_remote = HostPort { m_socket->peerAddress().toString(), m_socket->peerPort() };
    }
    setState(State::ready);
}

void TcpConnection::onReadyRead()
{
    // The bytes stay in the socket until a receive asks for them.
    deliver();
}

qint64 TcpConnection::bufferedBytes() const
{
    return m_inbound.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

bool TcpConnection::hasUnreadBytes() const
{
    if (bufferedBytes() > 0)
        return true;
#if defined(Q_OS_LINUX)
    int waiting = 0;
    if (m_socket && ::ioctl(int(m_socket->socketDescriptor()), FIONREAD, &waiting) == 0)
        return waiting > 0;
#endif
    return false;
}

void TcpConnection::onSocketError()
{
    const State state = m_state.load();
    if (state == State::cancelled || state == State::failed)
        return;
    const QString description = m_socket->errorString();
    if (state != State::ready) {
        wait(description);
        return;
    }
    // What the socket still holds (at most maxBufferedBytes) is delivered before the end.
    m_inbound.append(m_socket->readAll());
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError && !wasReset(m_watched)) {
        m_endOfStream = true;
        failSends(description);
        deliver();
        return;
    }
    m_receiveError
        = m_socket->error() == QAbstractSocket::RemoteHostClosedError ? resetText() : description;
    failSends(*m_receiveError);
    // The receive hears of it first, so a reader that cancels on a receive error is not
    // also told that the connection failed.
    deliver();
    if (m_state.load() == State::ready)
        setState(State::failed, *m_receiveError);
}

void TcpConnection::receive(int minimum, int maximum, ReceiveHandler handler)
{
    Q_UNUSED(minimum) // every delivery carries at least one byte unless it ends the stream
    if (!m_queue) { // not started: nothing can arrive yet
        m_receive = std::move(handler);
        m_receiveMax = std::max(1, maximum);
        return;
    }
    auto install = [weak = weak_from_this(), maximum, handler = std::move(handler)]() mutable {
        auto self = weak.lock();
        if (!self || self->m_state.load() == State::cancelled)
            return;
        self->m_receive = std::move(handler);
        self->m_receiveMax = std::max(1, maximum);
        // Posted, so a reader that receives again from its handler never recurses.
        self->postDelivery();
    };
    if (m_queue->isCurrent())
        install();
    else
        m_queue->async(std::move(install));
}

QByteArray TcpConnection::takeReceived(qint64 maximum)
{
    QByteArray chunk;
    if (!m_inbound.isEmpty()) {
        if (m_inbound.size() <= maximum) {
            chunk.swap(m_inbound);
        } else {
            chunk = m_inbound.left(maximum);
            m_inbound.remove(0, maximum);
        }
    }
    if (chunk.size() < maximum && m_socket && m_socket->bytesAvailable() > 0)
        chunk.append(m_socket->read(maximum - chunk.size()));
    return chunk;
}

void TcpConnection::postDelivery()
{
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    m_queue->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->m_deliveryPosted = false;
            self->deliver();
        }
    });
}

void TcpConnection::deliver()
{
    if (!m_receive || m_state.load() == State::cancelled)
        return;
    const bool ended = m_endOfStream || m_receiveError;
    if (!ended && m_socket && m_socket->bytesToWrite() > maxWriteBacklog)
        return; // read on once the peer has taken our bytes (onBytesWritten)
    const QByteArray chunk = takeReceived(m_receiveMax);
    const bool drained = bufferedBytes() == 0;
    if (chunk.isEmpty() && !(ended && drained))
        return;
    const bool complete = m_endOfStream && drained;
    const auto error = drained ? m_receiveError : std::nullopt;
    auto handler = std::exchange(m_receive, {});
    handler(chunk, complete, error);
}

void TcpConnection::send(const QByteArray &message, SendCompletion completion)
{
    auto write = [weak = weak_from_this(), message, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->m_state.load() != State::ready || !self->m_socket) {
            if (completion && self->m_state.load() != State::cancelled)
                completion(kNotOpen);
            return;
        }
        if (self->m_socket->write(message) != message.size()) {
            if (completion)
                completion(self->m_socket->errorString());
            return;
        }
        self->m_queuedBytes += message.size();
        self->m_sends.push_back({ self->m_queuedBytes, std::move(completion) });
        self->m_socket->flush();
        if (self->m_socket && self->m_socket->bytesToWrite() > 0 && !self->m_unsentSince)
            self->m_unsentSince = std::chrono::steady_clock::now();
    };
    if (m_queue && m_queue->isCurrent())
        write();
    else if (m_queue)
        m_queue->async(std::move(write));
    else if (completion)
        completion(kNotOpen);
}

void TcpConnection::onBytesWritten(qint64 count)
{
    m_writtenBytes += count;
    if (m_socket && m_socket->bytesToWrite() > 0)
        m_unsentSince = std::chrono::steady_clock::now();
    else
        m_unsentSince.reset();
    while (!m_sends.empty() && m_sends.front().end <= m_writtenBytes) {
        auto completion = std::move(m_sends.front().completion);
        m_sends.pop_front();
        if (completion)
            completion(std::nullopt);
    }
    // A receive held back by our write backlog may go on now. Posted: this runs inside
    // whatever write flushed the socket.
    if (m_receive && m_socket && m_socket->bytesToWrite() <= maxWriteBacklog
        && m_socket->bytesAvailable() > 0)
        postDelivery();
}

void TcpConnection::failSends(const QString &error)
{
    auto sends = std::exchange(m_sends, {});
    for (auto &send : sends) {
        if (send.completion)
            send.completion(error);
    }
}

void TcpConnection::cancel()
{
    if (m_state.exchange(State::cancelled) == State::cancelled)
        return;
    m_retry.cancel();
    // Holds the connection until the cancelled state has been reported, as the owner may
    // drop its last reference right after this call.
    auto finish = [self = shared_from_this()] {
        self->m_receive = {};
        self->m_sends.clear();
        self->tearDownSocket();
        if (self->m_stateHandler)
            self->m_stateHandler(State::cancelled, {});
    };
    if (!m_queue)
        return; // never started: there is nobody to tell
    if (m_queue->isCurrent())
        finish();
    else
        m_queue->async(std::move(finish));
}

void TcpConnection::tearDownSocket()
{
    closeWatched(m_watched);
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    if (m_queue && m_queue->isCurrent()) {
        socket->abort();
        socket->deleteLater(); // we may be inside one of its signals
    } else {
        QMetaObject::invokeMethod(socket, [socket] {
            socket->abort();
            delete socket;
        });
    }
}

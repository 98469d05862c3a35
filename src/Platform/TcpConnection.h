#pragma once

#include "Platform/SerialQueue.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QTcpSocket;

// A service announced on the local network, named as the discovery browser saw it.
struct ServiceEndpoint
{
    QString name;
    QString type;
    QString domain = QStringLiteral("local.");
};

struct HostPort
{
    QString host;
    quint16 port = 0;
};

// Turns a service into a host and port. Called on the connection's queue; `done` may be
// called from any thread, once. An error text keeps the connection waiting and retrying.
using ServiceResolver = std::function<void(
    const ServiceEndpoint &service, std::function<void(std::expected<HostPort, QString>)> done)>;

// One outgoing TCP connection that lives on a serial queue, in the shape the drivers were
// designed around: a state handler, receive of a bounded chunk with an end-of-stream flag,
// send of one message with a completion, cancel.
//
// QTcpSocket reports a refused or unreachable peer as a plain error; here that becomes the
// waiting state (with the error's text) and a new attempt after `waitingRetry`, for as long
// as nobody cancels. After the link was ready, an error other than the peer closing the
// stream fails the connection; a reset by the peer is such an error, not a close.
//
// Every handler runs on the queue given to start(). cancel() drops a pending receive and
// the completions of unfinished sends without calling them, then reports `cancelled`.
//
// Reading follows the reader: bytes are taken from the socket only while a receive is
// outstanding, and at most maxBufferedBytes wait in this process meanwhile; the rest stays in
// the kernel, so TCP flow control slows a peer that sends faster than its reader takes.
// While more than maxWriteBacklog of our own bytes wait for the peer, nothing more is read
// either: a peer that does not read cannot make us queue replies (acknowledgements) forever.
class TcpConnection final : public std::enable_shared_from_this<TcpConnection>
{
public:
    enum class State { setup, preparing, waiting, ready, failed, cancelled };

    static constexpr qint64 maxBufferedBytes = 64 * 1024;
    static constexpr qint64 maxWriteBacklog = 1024 * 1024;

    // Makes the socket of a connection, on its queue. The connection owns and deletes it.
    using SocketFactory = std::function<QTcpSocket *()>;

    struct Endpoint
    {
        HostPort address; // used when `service` is absent
        std::optional<ServiceEndpoint> service; // resolved first when present
    };

    struct Options
    {
        std::chrono::milliseconds waitingRetry { 1000 };
        // For service endpoints; empty means the process-wide default resolver.
        ServiceResolver resolver;
        // Empty means a plain QTcpSocket; a wrapped or instrumented one plugs in here.
        SocketFactory makeSocket;
    };

    // `error` is the platform's description for waiting and failed, else empty.
    using StateHandler = std::function<void(State state, const QString &error)>;
    // `content` may be empty; `isComplete` means the peer ended the stream.
    using ReceiveHandler = std::function<void(const QByteArray &content, bool isComplete,
                                              const std::optional<QString> &error)>;
    using SendCompletion = std::function<void(const std::optional<QString> &error)>;

    static std::shared_ptr<TcpConnection> create(const Endpoint &endpoint, Options options);
    static std::shared_ptr<TcpConnection> create(const Endpoint &endpoint)
    {
        return create(endpoint, Options {});
    }
    ~TcpConnection();

    // Set before start(); called on the queue for every change of state.
    void setStateHandler(StateHandler handler);
    // Nothing happens on the network until this is called. The connection holds the queue
    // from here on; whoever stops the queue cancels the connection first.
    void start(SerialQueue &queue);
    // Completes once with between `minimum` and `maximum` bytes, the end of the stream or an
    // error. One receive may be outstanding at a time; a second replaces the first.
    void receive(int minimum, int maximum, ReceiveHandler handler);
    // Writes one complete message; the completion runs once the bytes left this process or
    // with the reason they could not.
    void send(const QByteArray &message, SendCompletion completion = {});
    // Ends the connection for good. Safe from any thread and more than once.
    void cancel();

    // Safe from any thread.
    State state() const { return m_state.load(); }
    // Received bytes held in this process and not yet handed to a receive. On the queue.
    qint64 bufferedBytes() const;
    // Whether the peer's bytes wait to be read, here or (where the platform tells) in the
    // kernel: the peer has answered even if we have not read it yet. On the queue.
    bool hasUnreadBytes() const;
    // While bytes of ours wait for the peer: when some of them last left (or they began to
    // wait). Empty when nothing waits. On the queue.
    std::optional<std::chrono::steady_clock::time_point> unsentSince() const
    {
        return m_unsentSince;
    }
    // The peer's address once ready.
    std::optional<HostPort> remoteEndpoint() const;

    // The resolver used by connections whose options name none; by default the mDNS
    // daemon's. Without one a service endpoint keeps waiting.
    static void setDefaultServiceResolver(ServiceResolver resolver);

private:
    TcpConnection(const Endpoint &endpoint, Options options);

    void setState(State state, const QString &error = {});
    void begin();
    void connectTo(const HostPort &address);
    void wait(const QString &error);
    void onConnected();
    void onReadyRead();
    void onSocketError();
    void onBytesWritten(qint64 count);
    void postDelivery();
    void deliver();
    QByteArray takeReceived(qint64 maximum);
    void failSends(const QString &error);
    void tearDownSocket();

    Endpoint m_endpoint;
    Options m_options;
    std::shared_ptr<SerialQueue> m_queue;
    StateHandler m_stateHandler;
    std::atomic<State> m_state { State::setup };

    // Queue-only from here on.
    QTcpSocket *m_socket = nullptr;
    int m_watched = -1; // a second descriptor of the socket, to tell a reset from a close
    std::optional<HostPort> m_resolved;
    DelayedWork m_retry;
    QByteArray m_inbound;
    bool m_endOfStream = false;
    std::optional<QString> m_receiveError;
    ReceiveHandler m_receive;
    int m_receiveMax = 65536;
    bool m_deliveryPosted = false;
    struct PendingSend
    {
        qint64 end; // running byte count at which this message has been written
        SendCompletion completion;
    };
    std::deque<PendingSend> m_sends;
    qint64 m_queuedBytes = 0;
    qint64 m_writtenBytes = 0;
    std::optional<std::chrono::steady_clock::time_point> m_unsentSince;

    mutable std::mutex m_remoteMutex;
    std::optional<HostPort> m_remote;
};

QString tcpStateName(TcpConnection::State state);

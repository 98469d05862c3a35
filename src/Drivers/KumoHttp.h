#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

// Reads one HTTP/1.x response from the bytes of a connection as they arrive, keeping no more
// than the status line and headers (maxHeadSize) and a body of at most the size given at
// construction; a reply that would need more fails as soon as that is known. Bodies framed
// by Content-Length, chunked or running to the end of the connection; interim 1xx replies
// are skipped. Bytes in, result out: no socket, no timer.
class HttpReplyReader final
{
public:
    enum class State { reading, complete, failed };

    // Status line and headers together, and so each chunk-size line and the trailers.
    static constexpr qsizetype maxHeadSize = 16 * 1024;

    explicit HttpReplyReader(qsizetype maxBodySize);

    // Takes the next bytes of the connection. Bytes after a complete reply are counted as
    // surplus (the connection then cannot carry another request).
    State feed(QByteArrayView bytes);
    // The peer closed the connection: completes a body that runs to the close, fails
    // anything else still unfinished.
    State finish();

    State state() const { return m_state; }
    // Whether any byte of a reply has arrived.
    bool started() const { return m_started; }
    int status() const { return m_status; }
    const QByteArray &body() const { return m_body; }
    // Why the read failed, as a sentence; empty unless failed.
    QString error() const { return m_error; }
    // The failure is a body over the limit.
    bool tooLarge() const { return m_tooLarge; }
    // The connection may carry another request: HTTP/1.1, no "Connection: close", a body
    // with its own framing, and nothing after the reply.
    bool reusable() const;

private:
    enum class Step { statusLine, headers, body, chunkSize, chunkData, chunkEnd, trailers, done };

    bool takeLine(QByteArrayView &bytes, QByteArray *line);
    bool headerLine(const QByteArray &line);
    bool startBody();
    bool appendBody(QByteArrayView data);
    State fail(const QString &error, bool tooLarge = false);

    qsizetype m_maxBodySize;
    State m_state = State::reading;
    Step m_step = Step::statusLine;
    QByteArray m_line;
    qsizetype m_headSize = 0;
    bool m_started = false;
    int m_status = 0;
    bool m_http11 = false;
    bool m_close = false;
    bool m_chunked = false;
    bool m_untilClose = false;
    qint64 m_contentLength = -1;
    qint64 m_remaining = 0;
    bool m_surplus = false;
    QByteArray m_body;
    QString m_error;
    bool m_tooLarge = false;
};

// GET requests over plain HTTP/1.1 for one router, on the thread it lives on. Connections
// are kept for the next request when the router allows; a failed exchange closes its
// connection at once. Nothing is cached, no cookie or credential is kept, no proxy is used,
// and redirects are not followed (a 3xx is an ordinary reply). Each exchange has a limit on
// its whole duration and on its body size.
class KumoHttpClient final : public QObject
{
public:
    struct Reply
    {
        int status = 0;
        QByteArray body;
    };
    struct Failure
    {
        enum Kind { network, tooLarge, timedOut };
        Kind kind = network;
        QString text; // the platform's or the reader's description
    };
    using Result = std::expected<Reply, Failure>;

    KumoHttpClient(std::chrono::milliseconds requestTimeout, qsizetype maxBodySize,
                   QObject *parent = nullptr);
    ~KumoHttpClient() override;

    // Sends a GET for `url` (scheme http, host and port set). `done` is called once, later,
    // on this object's thread, unless the client is destroyed first.
    void get(const QUrl &url, std::function<void(Result)> done);

    // Forgets every exchange under way without calling back, deleting nothing; for an owner
    // that must leave this object to the end of the process.
    void cancelAll();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    struct Exchange;

    Exchange *exchangeOf(QTcpSocket *socket) const;
    QTcpSocket *newSocket();
    void send(Exchange *exchange);
    void read(Exchange *exchange);
    void socketFailed(Exchange *exchange);
    void end(Exchange *exchange, Result result, bool keepSocket);
    void keepIdle(QTcpSocket *socket);
    QTcpSocket *takeIdle(const QString &origin);
    void drop(QTcpSocket *socket);

    std::chrono::milliseconds m_requestTimeout;
    qsizetype m_maxBodySize;
    std::vector<std::unique_ptr<Exchange>> m_exchanges;
    QList<QPointer<QTcpSocket>> m_idle;
};

#include "Drivers/KumoHttp.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimerEvent>

#include <algorithm>

namespace {

// What a socket holds unread before the kernel's flow control holds the router back.
constexpr qint64 kSocketReadBuffer = 64 * 1024;
// Idle connections kept for reuse.
constexpr qsizetype kMaxIdle = 4;

const char *const kOrigin = "quorvel.origin";

QString notHttp()
{
    return QStringLiteral("The router's reply isn't HTTP.");
}

} // namespace

// --- HttpReplyReader ----------------------------------------------------------------------

HttpReplyReader::HttpReplyReader(qsizetype maxBodySize)
    : m_maxBodySize(maxBodySize)
{ }

HttpReplyReader::State HttpReplyReader::fail(const QString &error, bool tooLarge)
{
    m_state = State::failed;
    m_error = error;
    m_tooLarge = tooLarge;
    m_body.clear();
    m_line.clear();
    return m_state;
}

bool HttpReplyReader::takeLine(QByteArrayView &bytes, QByteArray *line)
{
    const qsizetype lf = bytes.indexOf('\n');
    const qsizetype take = lf < 0 ? bytes.size() : lf + 1;
    m_line.append(bytes.first(take));
    bytes = bytes.sliced(take);
    if (lf < 0)
        return false;
    *line = std::exchange(m_line, {});
    line->chop(1);
    if (line->endsWith('\r'))
        line->chop(1);
    return true;
}

bool HttpReplyReader::headerLine(const QByteArray &line)
{
    const qsizetype colon = line.indexOf(':');
    // Folded or malformed lines carry nothing this reader needs.
    if (colon <= 0 || line.front() == ' ' || line.front() == '\t')
        return true;
    const QByteArray name = line.first(colon).trimmed().toLower();
    const QByteArray value = line.sliced(colon + 1).trimmed();
    if (name == "content-length") {
        bool digits = !value.isEmpty() && value.size() <= 18;
        for (char c : value)
            digits = digits && c >= '0' && c <= '9';
        const qint64 length = digits ? value.toLongLong() : -1;
        if (length < 0 || (m_contentLength >= 0 && m_contentLength != length)) {
            fail(QStringLiteral("The router's reply has a bad Content-Length."));
            return false;
        }
        m_contentLength = length;
    } else if (name == "transfer-encoding") {
        const QList<QByteArray> codings = value.toLower().split(',');
        const QByteArray last = codings.isEmpty() ? QByteArray() : codings.last().trimmed();
        m_chunked = last == "chunked";
        // Any other coding leaves the body running to the end of the connection.
        m_untilClose = !m_chunked && !last.isEmpty();
    } else if (name == "connection") {
        for (const QByteArray &token : value.toLower().split(','))
            m_close = m_close || token.trimmed() == "close";
    }
    return true;
}

bool HttpReplyReader::startBody()
{
    if (m_status == 204 || m_status == 304) {
        m_step = Step::done;
        m_state = State::complete;
        return true;
    }
    if (m_chunked) {
        m_step = Step::chunkSize;
        return true;
    }
    if (m_untilClose || m_contentLength < 0) {
        m_untilClose = true;
        m_step = Step::body;
        return true;
    }
    if (m_contentLength > m_maxBodySize) {
        fail({}, true);
        return false;
    }
    m_remaining = m_contentLength;
    m_step = m_remaining == 0 ? Step::done : Step::body;
    if (m_step == Step::done)
        m_state = State::complete;
    return true;
}

bool HttpReplyReader::appendBody(QByteArrayView data)
{
    if (m_body.size() + data.size() > m_maxBodySize) {
        fail({}, true);
        return false;
    }
    m_body.append(data);
    return true;
}

HttpReplyReader::State HttpReplyReader::feed(QByteArrayView bytes)
{
    if (m_state != State::reading) {
        m_surplus = m_surplus || (m_state == State::complete && !bytes.isEmpty());
        return m_state;
    }
    m_started = m_started || !bytes.isEmpty();
    QByteArray line;
    while (!bytes.isEmpty() && m_state == State::reading) {
        switch (m_step) {
        case Step::statusLine:
        case Step::headers:
        case Step::trailers: {
            const qsizetype before = bytes.size();
            const bool whole = takeLine(bytes, &line);
            m_headSize += before - bytes.size();
            if (m_headSize > maxHeadSize)
                return fail(QStringLiteral("The router's reply headers are too long."));
            if (!whole)
                break;
            if (m_step == Step::trailers) {
                if (line.isEmpty()) {
                    m_step = Step::done;
                    m_state = State::complete;
                }
                break;
            }
            if (m_step == Step::statusLine) {
                if (line.isEmpty())
                    break; // stray empty lines before a reply are tolerated
                // HTTP/1.x SP 3DIGIT [SP reason]
                if (!line.startsWith("HTTP/1.") || line.size() < 12 || line.at(7) < '0'
                    || line.at(7) > '9' || line.at(8) != ' ')
                    return fail(notHttp());
                const QByteArray code = line.mid(9, 3);
                if (std::any_of(code.cbegin(), code.cend(),
                                [](char c) { return c < '0' || c > '9'; })
                    || (line.size() > 12 && line.at(12) != ' '))
                    return fail(notHttp());
                m_status = code.toInt();
                if (m_status < 100)
                    return fail(notHttp());
                m_http11 = line.at(7) >= '1';
                m_step = Step::headers;
                break;
            }
            if (!line.isEmpty()) {
                if (!headerLine(line))
                    return m_state;
                break;
            }
            if (m_status >= 100 && m_status < 200) {
                if (m_status == 101)
                    return fail(notHttp());
                // An interim reply: the real one follows.
                m_status = 0;
                m_contentLength = -1;
                m_chunked = m_untilClose = m_close = false;
                m_step = Step::statusLine;
                break;
            }
            if (!startBody())
                return m_state;
            break;
        }
        case Step::body: {
            const qsizetype take = m_untilClose
                ? bytes.size()
                : qsizetype(std::min<qint64>(m_remaining, bytes.size()));
            if (!appendBody(bytes.first(take)))
                return m_state;
            bytes = bytes.sliced(take);
            if (!m_untilClose) {
                m_remaining -= take;
                if (m_remaining == 0) {
                    m_step = Step::done;
                    m_state = State::complete;
                }
            }
            break;
        }
        case Step::chunkSize:
        case Step::chunkEnd: {
            const bool whole = takeLine(bytes, &line);
            if (m_line.size() > maxHeadSize)
                return fail(QStringLiteral("The router's reply has a malformed chunk."));
            if (!whole)
                break;
            if (m_step == Step::chunkEnd) {
                if (!line.isEmpty())
                    return fail(QStringLiteral("The router's reply has a malformed chunk."));
                m_step = Step::chunkSize;
                break;
            }
            const qsizetype semicolon = line.indexOf(';');
            const QByteArray hex = (semicolon < 0 ? line : line.first(semicolon)).trimmed();
            bool ok = !hex.isEmpty() && hex.size() <= 15;
            const qint64 size = ok ? hex.toLongLong(&ok, 16) : -1;
            if (!ok || size < 0)
                return fail(QStringLiteral("The router's reply has a malformed chunk."));
            if (size == 0) {
                m_headSize = 0;
                m_step = Step::trailers;
            } else if (size > m_maxBodySize - m_body.size()) {
                return fail({}, true);
            } else {
                m_remaining = size;
                m_step = Step::chunkData;
            }
            break;
        }
        case Step::chunkData: {
            const qsizetype take = qsizetype(std::min<qint64>(m_remaining, bytes.size()));
            if (!appendBody(bytes.first(take)))
                return m_state;
            bytes = bytes.sliced(take);
            m_remaining -= take;
            if (m_remaining == 0)
                m_step = Step::chunkEnd;
            break;
        }
        case Step::done:
            bytes = {};
            break;
        }
    }
    m_surplus = m_surplus || (m_state == State::complete && !bytes.isEmpty());
    return m_state;
}

HttpReplyReader::State HttpReplyReader::finish()
{
    if (m_state != State::reading)
        return m_state;
    if (m_step == Step::body && m_untilClose) {
        m_step = Step::done;
        m_state = State::complete;
        return m_state;
    }
    return fail(m_started ? QStringLiteral(
                    "The router closed the connection before its reply was complete.")
                          : QStringLiteral("The router closed the connection without replying."));
}

bool HttpReplyReader::reusable() const
{
    return m_state == State::complete && m_http11 && !m_close && !m_untilClose && !m_surplus;
}

// --- KumoHttpClient -----------------------------------------------------------------------

struct KumoHttpClient::Exchange
{
    QUrl url;
    QString origin;
    QByteArray request;
    std::function<void(Result)> done;
    HttpReplyReader reader;
    QTcpSocket *socket = nullptr;
    int deadline = 0;
    bool reused = false;
    bool retried = false;
};

KumoHttpClient::KumoHttpClient(std::chrono::milliseconds requestTimeout, qsizetype maxBodySize,
                               QObject *parent)
    : QObject(parent)
    , m_requestTimeout(requestTimeout)
    , m_maxBodySize(maxBodySize)
{ }

KumoHttpClient::~KumoHttpClient() = default;

void KumoHttpClient::get(const QUrl &url, std::function<void(Result)> done)
{
    auto exchange = std::make_unique<Exchange>(Exchange { url,
                                                          url.authority(QUrl::FullyEncoded),
                                                          {},
                                                          std::move(done),
                                                          HttpReplyReader(m_maxBodySize) });
    QByteArray target
        = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/'))
        target.prepend('/');
    exchange->request
        = "GET " + target + " HTTP/1.1\r\nHost: " + exchange->origin.toUtf8() + "\r\n\r\n";
    exchange->deadline = startTimer(m_requestTimeout);
    Exchange *raw = exchange.get();
    m_exchanges.push_back(std::move(exchange));
    send(raw);
}

void KumoHttpClient::cancelAll()
{
    m_exchanges.clear();
}

KumoHttpClient::Exchange *KumoHttpClient::exchangeOf(QTcpSocket *socket) const
{
    for (const auto &exchange : m_exchanges) {
        if (exchange->socket == socket)
            return exchange.get();
    }
    return nullptr;
}

QTcpSocket *KumoHttpClient::newSocket()
{
    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    socket->setReadBufferSize(kSocketReadBuffer);
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        if (Exchange *exchange = exchangeOf(socket))
            socket->write(exchange->request);
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
        if (Exchange *exchange = exchangeOf(socket))
            read(exchange);
        else
            drop(socket); // an idle connection has nothing to say
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        if (Exchange *exchange = exchangeOf(socket))
            socketFailed(exchange);
        else
            drop(socket);
    });
    return socket;
}

void KumoHttpClient::send(Exchange *exchange)
{
    QTcpSocket *socket = exchange->retried ? nullptr : takeIdle(exchange->origin);
    exchange->reused = socket != nullptr;
    exchange->reader = HttpReplyReader(m_maxBodySize);
    if (socket) {
        exchange->socket = socket;
        socket->write(exchange->request);
        return;
    }
    socket = newSocket();
    socket->setProperty(kOrigin, exchange->origin);
    exchange->socket = socket;
    socket->connectToHost(exchange->url.host(), quint16(exchange->url.port(80)));
}

void KumoHttpClient::read(Exchange *exchange)
{
    QTcpSocket *socket = exchange->socket;
    while (socket->bytesAvailable() > 0
           && exchange->reader.state() == HttpReplyReader::State::reading)
        exchange->reader.feed(socket->read(16 * 1024));
    switch (exchange->reader.state()) {
    case HttpReplyReader::State::reading:
        return;
    case HttpReplyReader::State::complete:
        end(exchange, Reply { exchange->reader.status(), exchange->reader.body() },
            exchange->reader.reusable() && socket->bytesAvailable() == 0);
        return;
    case HttpReplyReader::State::failed:
        end(exchange,
            std::unexpected(
                Failure { exchange->reader.tooLarge() ? Failure::tooLarge : Failure::network,
                          exchange->reader.error() }),
            false);
        return;
    }
}

void KumoHttpClient::socketFailed(Exchange *exchange)
{
    QTcpSocket *socket = exchange->socket;
    // A kept connection the router closed meanwhile: the request goes once more on a new one.
    if (exchange->reused && !exchange->reader.started() && !exchange->retried) {
        exchange->retried = true;
        exchange->socket = nullptr;
        drop(socket);
        send(exchange);
        return;
    }
    if (socket->error() == QAbstractSocket::RemoteHostClosedError) {
        read(exchange); // whatever is still buffered
        if (exchangeOf(socket) != exchange)
            return;
        if (exchange->reader.finish() == HttpReplyReader::State::complete) {
            end(exchange, Reply { exchange->reader.status(), exchange->reader.body() }, false);
            return;
        }
        end(exchange, std::unexpected(Failure { Failure::network, exchange->reader.error() }),
            false);
        return;
    }
    end(exchange, std::unexpected(Failure { Failure::network, socket->errorString() }), false);
}

void KumoHttpClient::timerEvent(QTimerEvent *event)
{
    for (const auto &exchange : m_exchanges) {
        if (exchange->deadline == event->timerId()) {
            end(exchange.get(),
                std::unexpected(
                    Failure { Failure::timedOut, QStringLiteral("The request timed out.") }),
                false);
            return;
        }
    }
    killTimer(event->timerId());
}

void KumoHttpClient::end(Exchange *exchange, Result result, bool keepSocket)
{
    killTimer(exchange->deadline);
    if (QTcpSocket *socket = std::exchange(exchange->socket, nullptr)) {
        if (keepSocket)
            keepIdle(socket);
        else
            drop(socket);
    }
    const auto it = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                 [exchange](const auto &e) { return e.get() == exchange; });
    std::unique_ptr<Exchange> ended = std::move(*it);
    m_exchanges.erase(it);
    // Never from inside a socket's signal: the caller may drop its last reference to us.
    QMetaObject::invokeMethod(
        this,
        [done = std::move(ended->done), result = std::move(result)]() mutable {
            done(std::move(result));
        },
        Qt::QueuedConnection);
}

void KumoHttpClient::keepIdle(QTcpSocket *socket)
{
    m_idle.removeAll(nullptr);
    m_idle.append(socket);
    while (m_idle.size() > kMaxIdle)
        drop(m_idle.takeFirst());
}

QTcpSocket *KumoHttpClient::takeIdle(const QString &origin)
{
    m_idle.removeAll(nullptr);
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i) {
        QTcpSocket *socket = m_idle.at(i);
        if (socket->property(kOrigin).toString() == origin
            && socket->state() == QAbstractSocket::ConnectedState
            && socket->bytesAvailable() == 0) {
            m_idle.removeAt(i);
            return socket;
        }
    }
    return nullptr;
}

void KumoHttpClient::drop(QTcpSocket *socket)
{
    if (!socket)
        return;
    m_idle.removeAll(socket);
    // Closed at once; deleted later, since this may run inside one of its signals.
    socket->abort();
    socket->deleteLater();
}

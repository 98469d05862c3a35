#include "Drivers/KumoHttp.h"

#include <QtTest>

using State = HttpReplyReader::State;

namespace {

// A small body limit keeps the over-the-limit rows short.
constexpr qsizetype kLimit = 16;

struct Outcome
{
    State state = State::reading;
    int status = 0;
    QByteArray body;
    bool reusable = false;
    bool tooLarge = false;
    QString error;

    bool operator==(const Outcome &) const = default;
};

Outcome outcomeOf(const HttpReplyReader &reader)
{
    return { reader.state(),    reader.status(),   reader.body(),
             reader.reusable(), reader.tooLarge(), reader.error() };
}

Outcome complete(int status, const QByteArray &body, bool reusable)
{
    return { State::complete, status, body, reusable, false, {} };
}

Outcome failed(int status, const QString &error)
{
    return { State::failed, status, {}, false, false, error };
}

Outcome tooLarge()
{
    return { State::failed, 200, {}, false, true, {} };
}

// Feeds `parts` in turn, then the end of the connection when `closed`.
Outcome read(const QList<QByteArray> &parts, bool closed)
{
    HttpReplyReader reader(kLimit);
    for (const QByteArray &part : parts)
        reader.feed(part);
    if (closed)
        reader.finish();
    return outcomeOf(reader);
}

char *toString(const Outcome &o)
{
    return qstrdup(
        QStringLiteral("state %1 status %2 body \"%3\" reusable %4 tooLarge %5 error \"%6\"")
            .arg(int(o.state))
            .arg(o.status)
            .arg(QString::fromLatin1(o.body))
            .arg(o.reusable)
            .arg(o.tooLarge)
            .arg(o.error)
            .toUtf8()
            .constData());
}

} // namespace

class TestKumoHttp : public QObject
{
    Q_OBJECT

private slots:
    void readsReplies_data();
    void readsReplies();
};

void TestKumoHttp::readsReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closed"); // the router closes the connection after the bytes
    QTest::addColumn<Outcome>("expected");

    const QString notHttp = QStringLiteral("The router's reply isn't HTTP.");
    const QString badChunk = QStringLiteral("The router's reply has a malformed chunk.");
    const QString cutShort
        = QStringLiteral("The router closed the connection before its reply was complete.");

    QTest::newRow("content length")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n{\"value\": 4}") << false
        << complete(200, "{\"value\": 4}", true);
    // size line with an extension, two chunks, the last chunk, one trailer
    QTest::newRow("chunked") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                           "6;name=x\r\n{\"valu\r\n"
                                           "6\r\ne\": 2}\r\n"
                                           "0\r\nX-Trailer: 1\r\n\r\n")
                             << false << complete(200, "{\"value\": 2}", true);
    QTest::newRow("chunked takes precedence over a length")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "2\r\n{}\r\n0\r\n\r\n")
        << false << complete(200, "{}", true);
    QTest::newRow("connection close")
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 2\r\n\r\n{}")
        << false << complete(200, "{}", false);
    QTest::newRow("HTTP/1.0 keeps no connection")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n{}") << false
        << complete(200, "{}", false);
    QTest::newRow("body up to the close")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n{}") << true << complete(200, "{}", false);
    QTest::newRow("interim reply skipped")
        << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}")
        << false << complete(200, "{}", true);
    QTest::newRow("bare line feeds and no reason")
        << QByteArray("\r\nHTTP/1.1 404\nContent-Length: 0\n\n") << false
        << complete(404, "", true);
    QTest::newRow("redirect is a reply like any other")
        << QByteArray("HTTP/1.1 301 Moved\r\nLocation: http://elsewhere/\r\n"
                      "Content-Length: 0\r\n\r\n")
        << false << complete(301, "", true);
    QTest::newRow("no content") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << false
                                << complete(204, "", true);

    QTest::newRow("length over the limit")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 17\r\n\r\n") << false << tooLarge();
    QTest::newRow("chunk over the limit")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n11\r\n") << false
        << tooLarge();
    QTest::newRow("chunks over the limit together")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "a\r\n0123456789\r\n7\r\n0123456")
        << false << tooLarge();
    QTest::newRow("body to the close over the limit")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\n01234567890123456") << false << tooLarge();

    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << false
                              << failed(0, notHttp);
    QTest::newRow("switching protocols")
        << QByteArray("HTTP/1.1 101 Switching Protocols\r\n\r\n") << false << failed(101, notHttp);
    QTest::newRow("bad length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n")
                                << false
                                << failed(200, "The router's reply has a bad Content-Length.");
    QTest::newRow("two different lengths")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n") << false
        << failed(200, "The router's reply has a bad Content-Length.");
    QTest::newRow("chunk size not hexadecimal")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n") << false
        << failed(200, badChunk);
    QTest::newRow("chunk without its line end")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}x\r\n") << false
        << failed(200, badChunk);
    QTest::newRow("headers past 16 KiB")
        << QByteArray("HTTP/1.1 200 OK\r\nX: " + QByteArray(16 * 1024, 'x')) << false
        << failed(200, "The router's reply headers are too long.");
    QTest::newRow("closed inside the body")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n{}") << true
        << failed(200, cutShort);
    QTest::newRow("closed without a reply")
        << QByteArray() << true << failed(0, "The router closed the connection without replying.");
}

void TestKumoHttp::readsReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, closed);
    QFETCH(Outcome, expected);

    QCOMPARE(read({ reply }, closed), expected);
    for (qsizetype at = 1; at < reply.size(); ++at) {
        const Outcome split = read({ reply.first(at), reply.sliced(at) }, closed);
        if (split != expected)
            QFAIL(qPrintable(QStringLiteral("split at %1: %2").arg(at).arg(toString(split))));
    }
    QList<QByteArray> bytes;
    for (char c : reply)
        bytes.append(QByteArray(1, c));
    QCOMPARE(read(bytes, closed), expected);

    // Glued to the start of another reply: read alike, but the connection is spent.
    if (expected.state == State::complete && !closed) {
        Outcome glued = expected;
        glued.reusable = false;
        QCOMPARE(read({ reply + "HTTP/1.1 200 OK\r\n" }, false), glued);
    }
}

QTEST_MAIN(TestKumoHttp)
#include "tst_kumohttp.moc"

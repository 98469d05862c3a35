#include "FeedServer.h"

#include "Support/AppcastLatestItem.h"
#include "Support/LiveFeedChecker.h"
#include "Support/VersionOrder.h"

#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(VersionOrder)

namespace {

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
           "sparkle\">\n<channel>\n<title>Quorvel</title>\n"
           "<pubDate>Mon, 01 Jan 2024 00:00:00 +0000</pubDate>\n"
           + items;
}

const QByteArray firstItem = "<item><title>Quorvel 1.4.2</title>"
                             "<pubDate>Tue, 08 Dec 2026 10:00:00 +0000</pubDate>"
                             "<sparkle:version>142</sparkle:version>"
                             "<sparkle:shortVersionString>1.4.2</sparkle:shortVersionString>"
                             "</item>\n";

} // namespace

class TestFeed : public QObject
{
    Q_OBJECT

private slots:
    void compareVersions_data();
    void compareVersions();
    void parse_data();
    void parse();
    void rfc822_data();
    void rfc822();
    void checkAgainstServer_data();
    void checkAgainstServer();
    void slowReplyIsUnavailable();
    void requestBypassesCaches();
    void refusedConnectionIsUnavailable();
    void oversizedFeedIsUnavailable();
};

void TestFeed::compareVersions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<VersionOrder>("expected");
    QTest::newRow("trailing zero") << "1.2" << "1.2.0" << VersionOrder::same;
    QTest::newRow("numeric not textual") << "1.10" << "1.9" << VersionOrder::descending;
    QTest::newRow("2 vs 10") << "2" << "10" << VersionOrder::ascending;
    QTest::newRow("letters in piece") << "1.2a" << "1.2b" << VersionOrder::ascending;
    QTest::newRow("both empty") << "" << "" << VersionOrder::same;
    QTest::newRow("filler before beta") << "1.2" << "1.2.beta" << VersionOrder::ascending;
    QTest::newRow("leading zero") << "1.2" << "1.02" << VersionOrder::same;
    QTest::newRow("empty pieces dropped") << "1..2" << ".1.2." << VersionOrder::same;
    QTest::newRow("signed pieces") << "1.+2" << "1.-3" << VersionOrder::descending;
    QTest::newRow("beyond 64 bits is text") << "99999999999999999999" << "9"
                                            << VersionOrder::descending;
    QTest::newRow("dash against version") << "\u2014" << "1.0" << VersionOrder::descending;
    QTest::newRow("older install") << "1.0.0" << "1.4.2" << VersionOrder::ascending;
}

void TestFeed::compareVersions()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(VersionOrder, expected);
    QCOMPARE(Versions::compare(a, b), expected);
}

void TestFeed::parse_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("build");
    QTest::addColumn<bool>("hasDate");

    QTest::newRow("several items, first wins")
        << feed(firstItem
                + "<item><sparkle:shortVersionString>9.9</sparkle:shortVersionString></item>"
                  "</channel></rss>")
        << true << "1.4.2" << "142" << true;
    QTest::newRow("broken after the first item")
        << feed(firstItem + "<item><sparkle:shortVersionString>9.9</sparkle:short") << true
        << "1.4.2" << "142" << true;
    // Used to give no item: the reader dropped the whole document at the undecodable byte.
    QTest::newRow("undecodable byte C0 9D after the first item")
        << feed(firstItem + "<item>\xC0\x9D</item>") << true << "1.4.2" << "142" << true;
    QTest::newRow("broken inside the first item")
        << feed("<item><sparkle:shortVersionString>2.0</sparkle:shortVersionString><oops")
        << true << "2.0" << "" << false;
    QTest::newRow("build but no short version")
        << feed("<item><sparkle:version>142</sparkle:version></item></channel></rss>") << false
        << "" << "" << false;
    QTest::newRow("empty short version")
        << feed("<item><sparkle:shortVersionString>  \n </sparkle:shortVersionString></item>")
        << false << "" << "" << false;
    QTest::newRow("no build, no date")
        << feed("<item><sparkle:shortVersionString>1.5</sparkle:shortVersionString></item>")
        << true << "1.5" << "" << false;
    QTest::newRow("values trimmed, later element replaces")
        << feed("<item><sparkle:shortVersionString>\n  1.0 </sparkle:shortVersionString>"
                "<sparkle:shortVersionString>1.1</sparkle:shortVersionString></item>")
        << true << "1.1" << "" << false;
    QTest::newRow("attribute only is not seen")
        << feed("<item><enclosure sparkle:shortVersionString=\"3.0\" url=\"x\"/></item>")
        << false << "" << "" << false;
    QTest::newRow("channel elements before the item are ignored")
        << QByteArray("<rss><channel><sparkle:shortVersionString>7</sparkle:shortVersionString>"
                      "</channel></rss>")
        << false << "" << "" << false;
    QTest::newRow("undeclared prefix still read")
        << QByteArray("<rss><item><sparkle:shortVersionString>1.3</sparkle:shortVersionString>"
                      "</item></rss>")
        << true << "1.3" << "" << false;
    QTest::newRow("not xml") << QByteArray("\x00\xff garbage", 10) << false << "" << "" << false;
    QTest::newRow("empty") << QByteArray() << false << "" << "" << false;
}

void TestFeed::parse()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, found);
    const auto item = AppcastLatestItem::parse(document);
    QCOMPARE(item.has_value(), found);
    if (!found)
        return;
    QFETCH(QString, version);
    QFETCH(QString, build);
    QFETCH(bool, hasDate);
    QCOMPARE(item->shortVersion, version);
    QCOMPARE(item->build, build);
    QCOMPARE(item->pubDate.has_value(), hasDate);
}

void TestFeed::rfc822_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime tenAm(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC);
    QTest::newRow("utc") << "Tue, 08 Dec 2026 10:00:00 +0000" << tenAm;
    QTest::newRow("offset") << "Tue, 08 Dec 2026 11:30:00 +0130" << tenAm;
    QTest::newRow("negative offset") << "Tue, 08 Dec 2026 05:00:00 -0500" << tenAm;
    QTest::newRow("iso 8601") << "2026-12-08T10:00:00Z" << QDateTime();
    QTest::newRow("no day name") << "08 Dec 2026 10:00:00 +0000" << QDateTime();
    QTest::newRow("bad month") << "Tue, 08 Dez 2026 10:00:00 +0000" << QDateTime();
    QTest::newRow("day 31 of november") << "Tue, 31 Nov 2026 10:00:00 +0000" << QDateTime();
    QTest::newRow("hour 25") << "Tue, 08 Dec 2026 25:00:00 +0000" << QDateTime();
    QTest::newRow("empty") << "" << QDateTime();
}

void TestFeed::rfc822()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const auto date = AppcastLatestItem::parseRfc822(text);
    QCOMPARE(date.has_value(), expected.isValid());
    if (date)
        QCOMPARE(*date, expected);
}

void TestFeed::checkAgainstServer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("phase");
    QTest::newRow("200 with a feed") << 200 << feed(firstItem) << int(LiveFeedChecker::Phase::live);
    QTest::newRow("200 without a version")
        << 200 << feed("<item/>") << int(LiveFeedChecker::Phase::unavailable);
    QTest::newRow("304") << 304 << feed(firstItem) << int(LiveFeedChecker::Phase::unavailable);
    QTest::newRow("404") << 404 << feed(firstItem) << int(LiveFeedChecker::Phase::unavailable);
    QTest::newRow("500") << 500 << QByteArray() << int(LiveFeedChecker::Phase::unavailable);
    QTest::newRow("201 is not 200")
        << 201 << feed(firstItem) << int(LiveFeedChecker::Phase::unavailable);
}

void TestFeed::checkAgainstServer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, phase);
    FeedServer server;
    server.respond(status, body);
    LiveFeedChecker checker(server.url(), LiveFeedChecker::defaultTimeoutMs);
    QCOMPARE(checker.phase().kind, LiveFeedChecker::Phase::checking);
    QSignalSpy changed(&checker, &LiveFeedChecker::phaseChanged);
    checker.check();
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(int(checker.phase().kind), phase);
    if (phase == LiveFeedChecker::Phase::live) {
        QCOMPARE(checker.phase().build.version, QStringLiteral("1.4.2"));
        QCOMPARE(checker.phase().build.build, QStringLiteral("142"));
        QCOMPARE(checker.phase().build.date,
                 QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC));
    }
}

void TestFeed::slowReplyIsUnavailable()
{
    // The production limit is 10 s; the same rule with a 300 ms limit and a 2 s server.
    FeedServer server;
    server.respond(200, feed(firstItem), 2000);
    LiveFeedChecker checker(server.url(), 300);
    checker.check();
    QTRY_COMPARE_WITH_TIMEOUT(checker.phase().kind, LiveFeedChecker::Phase::unavailable, 1500);
}

void TestFeed::requestBypassesCaches()
{
    FeedServer server;
    server.respond(200, feed(firstItem));
    LiveFeedChecker checker(server.url(), LiveFeedChecker::defaultTimeoutMs);
    checker.check();
    QTRY_COMPARE(checker.phase().kind, LiveFeedChecker::Phase::live);
    const QByteArray request = server.lastRequest().toLower();
    QVERIFY2(request.startsWith("get /updates/appcast.xml "), request.constData());
    QVERIFY2(request.contains("cache-control: no-cache"), request.constData());
}

void TestFeed::refusedConnectionIsUnavailable()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    } // closed again: nothing listens there now
    LiveFeedChecker checker(QUrl(QStringLiteral("http://127.0.0.1:%1/feed").arg(port)), 2000);
    checker.check();
    QTRY_COMPARE(checker.phase().kind, LiveFeedChecker::Phase::unavailable);
}

void TestFeed::oversizedFeedIsUnavailable()
{
    FeedServer server;
    server.respond(200, feed(firstItem) + QByteArray(LiveFeedChecker::maximumFeedBytes, ' '));
    LiveFeedChecker checker(server.url(), 5000);
    checker.check();
    QTRY_COMPARE(checker.phase().kind, LiveFeedChecker::Phase::unavailable);
}

QTEST_GUILESS_MAIN(TestFeed)
#include "tst_feed.moc"

#include "Platform/InfoDictionary.h"
#include "Support/Analytics.h"

#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

struct CapturedRequest
{
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QJsonObject body;
};

// A minimal HTTP/1.1 collector on loopback: records each request and answers 204.
class Collector final : public QObject
{
public:
    Collector()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    QUrl endpoint() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/api/send").arg(m_server.serverPort()));
    }

    QList<CapturedRequest> requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            CapturedRequest request;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            const QList<QByteArray> start = lines.first().trimmed().split(' ');
            request.method = start.value(0);
            request.path = start.value(1);
            qsizetype length = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                const QByteArray name = lines[i].left(colon).trimmed().toLower();
                request.headers.insert(name, lines[i].mid(colon + 1).trimmed());
                if (name == "content-length")
                    length = lines[i].mid(colon + 1).trimmed().toLongLong();
            }
            if (buffer.size() < end + 4 + length)
                return;
            request.body = QJsonDocument::fromJson(buffer.mid(end + 4, length)).object();
            buffer.remove(0, end + 4 + length);
            requests.append(request);
            socket->write("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n");
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

void setOptOut(std::optional<bool> optOut)
{
    QSettings settings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    if (optOut)
        settings.setValue(QStringLiteral("analyticsOptOut"), *optOut);
    else
        settings.remove(QStringLiteral("analyticsOptOut"));
    settings.sync();
}

QJsonObject payload(const CapturedRequest &request)
{
    return request.body.value(QStringLiteral("payload")).toObject();
}

QJsonObject data(const CapturedRequest &request)
{
    return payload(request).value(QStringLiteral("data")).toObject();
}

} // namespace

class TestAnalytics : public QObject
{
    Q_OBJECT

private slots:
    void init() { setOptOut(std::nullopt); }

    void launchRequestIsExact();
    void optOutSendsNothing();
    void heartbeatCarriesCounters_data();
    void heartbeatCarriesCounters();
    void countersResetWhileDisabled();
    void switchingOnLaterSendsOnlyConnects();
    void enabledWritesTheUserDefault();
    void bodyOmitsEmptyData();
    void screenText_data();
    void screenText();

private:
    // Launch at 12:00; the clock reads whatever `m_now` says.
    Analytics::Options options(const Collector &collector, int heartbeatMs = 600000)
    {
        m_now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), QTimeZone::utc());
        Analytics::Options result;
        result.endpoint = collector.endpoint();
        result.heartbeatInterval = std::chrono::milliseconds(heartbeatMs);
        result.now = [this] {
            return m_now;
        };
        return result;
    }
    QDateTime m_now;
};

void TestAnalytics::launchRequestIsExact()
{
    Collector collector;
    Analytics analytics(options(collector));
    QVERIFY(analytics.enabled());
    analytics.setScreenSizeProvider([] { return QSizeF(1512, 982.5); });
    analytics.start();
    QVERIFY(analytics.isHeartbeatRunning());
    QTRY_COMPARE(collector.requests.size(), 1);

    const CapturedRequest &request = collector.requests.first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/api/send"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
    const QString version = InfoDictionary::shortVersion().isEmpty()
        ? QStringLiteral("0")
        : InfoDictionary::shortVersion();
    QCOMPARE(QString::fromUtf8(request.headers.value("user-agent")),
             QStringLiteral("Mozilla/5.0 (Macintosh; Intel Mac OS X 15_0) Quorvel/") + version
                 + QStringLiteral(" Safari/537.36"));
    QCOMPARE(request.body.value(QStringLiteral("type")).toString(), QStringLiteral("event"));
    QCOMPARE(request.body.size(), 2);

    const QJsonObject p = payload(request);
    QCOMPARE(p.value(QStringLiteral("website")).toString(),
             QStringLiteral("7c3e9a14-2b6f-4d81-a5c0-e49d1f06b238"));
    QCOMPARE(p.value(QStringLiteral("hostname")).toString(),
             QUrl(InfoDictionary::webHost()).host());
    QCOMPARE(p.value(QStringLiteral("language")).toString(), QLocale::system().name());
    QCOMPARE(p.value(QStringLiteral("screen")).toString(), QStringLiteral("1512x982"));
    QCOMPARE(p.value(QStringLiteral("title")).toString(), QStringLiteral("Quorvel"));
    QCOMPARE(p.value(QStringLiteral("url")).toString(), QStringLiteral("/app/launch"));
    QCOMPARE(p.value(QStringLiteral("name")).toString(), QStringLiteral("app_launch"));
    QCOMPARE(p.size(), 8);
    const QJsonObject d = data(request);
    QCOMPARE(d.value(QStringLiteral("version")).toString(), version);
    QCOMPARE(d.value(QStringLiteral("platform")).toString(), QStringLiteral("Linux"));
    QCOMPARE(d.size(), 2);

    analytics.connected(RouterVendor::genericSWP08);
    QTRY_COMPARE(collector.requests.size(), 2);
    QCOMPARE(payload(collector.requests[1]).value(QStringLiteral("url")).toString(),
             QStringLiteral("/app/connect"));
    QCOMPARE(data(collector.requests[1]),
             QJsonObject({ { QStringLiteral("vendor"), QStringLiteral("genericSWP08") } }));
}

void TestAnalytics::optOutSendsNothing()
{
    setOptOut(true);
    Collector collector;
    Analytics analytics(options(collector, 20));
    QVERIFY(!analytics.enabled());
    analytics.start();
    analytics.connected(RouterVendor::simulator);
    QVERIFY(!analytics.isHeartbeatRunning());
    QTest::qWait(200);
    QVERIFY(collector.requests.isEmpty());
}

void TestAnalytics::heartbeatCarriesCounters_data()
{
    QTest::addColumn<int>("takes");
    QTest::addColumn<int>("salvos");
    QTest::addColumn<QJsonObject>("expected");

    QTest::newRow("nothing counted") << 0 << 0 << QJsonObject { { "minutes_open", 10 } };
    QTest::newRow("three takes") << 3 << 0
                                 << QJsonObject { { "minutes_open", 10 }, { "takes", 3 } };
    QTest::newRow("takes and fires")
        << 1 << 2 << QJsonObject { { "minutes_open", 10 }, { "takes", 1 }, { "salvo_fires", 2 } };
}

void TestAnalytics::heartbeatCarriesCounters()
{
    QFETCH(int, takes);
    QFETCH(int, salvos);
    QFETCH(QJsonObject, expected);
    Collector collector;
    Analytics analytics(options(collector, 50));
    analytics.setTakeCount(takes);
    analytics.setSalvoCount(salvos);
    m_now = m_now.addSecs(600 + 59); // the first beat comes ten minutes after launch
    analytics.start();
    QTRY_VERIFY(collector.requests.size() >= 2);
    const CapturedRequest &beat = collector.requests[1];
    QCOMPARE(payload(beat).value(QStringLiteral("name")).toString(), QStringLiteral("heartbeat"));
    QCOMPARE(payload(beat).value(QStringLiteral("url")).toString(),
             QStringLiteral("/app/heartbeat"));
    QCOMPARE(data(beat), expected);
    QCOMPARE(analytics.takeCount(), 0);
    QCOMPARE(analytics.salvoCount(), 0);
}

void TestAnalytics::countersResetWhileDisabled()
{
    Collector collector;
    Analytics analytics(options(collector, 30));
    analytics.setTakeCount(3);
    analytics.setSalvoCount(1);
    analytics.start(); // the launch event is on its way
    analytics.setEnabled(false);
    QSignalSpy reset(&analytics, &Analytics::takeCountChanged);
    QTRY_COMPARE(analytics.takeCount(), 0);
    QCOMPARE(analytics.salvoCount(), 0);
    QCOMPARE(reset.count(), 1);
    analytics.connected(RouterVendor::lightware);
    QTest::qWait(150);
    QCOMPARE(collector.requests.size(), 1);
    QCOMPARE(payload(collector.requests.first()).value(QStringLiteral("name")).toString(),
             QStringLiteral("app_launch"));
}

void TestAnalytics::switchingOnLaterSendsOnlyConnects()
{
    setOptOut(true);
    Collector collector;
    Analytics analytics(options(collector, 20));
    analytics.start();
    analytics.setEnabled(true);
    QVERIFY(!analytics.isHeartbeatRunning());
    analytics.connected(RouterVendor::ajaKumo);
    analytics.connected(RouterVendor::ajaKumo); // a reconnect is another event
    QTRY_COMPARE(collector.requests.size(), 2);
    QTest::qWait(100);
    QCOMPARE(collector.requests.size(), 2);
    for (const CapturedRequest &request : std::as_const(collector.requests))
        QCOMPARE(payload(request).value(QStringLiteral("name")).toString(),
                 QStringLiteral("connect"));
}

void TestAnalytics::enabledWritesTheUserDefault()
{
    Collector collector;
    Analytics analytics(options(collector));
    QSignalSpy changed(&analytics, &Analytics::enabledChanged);
    QSettings settings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));

    analytics.setEnabled(true); // same value: stored, not announced
    settings.sync();
    QCOMPARE(settings.value(QStringLiteral("analyticsOptOut")), QVariant(false));
    QCOMPARE(changed.count(), 0);

    analytics.setEnabled(false);
    settings.sync();
    QCOMPARE(settings.value(QStringLiteral("analyticsOptOut")), QVariant(true));
    QCOMPARE(changed.count(), 1);
    Analytics next(options(collector));
    QVERIFY(!next.enabled());
}

void TestAnalytics::bodyOmitsEmptyData()
{
    const QJsonObject bare
        = QJsonDocument::fromJson(Analytics::eventBody(QStringLiteral("n"), QStringLiteral("/u"),
                                                       {}, QStringLiteral("0x0")))
              .object();
    QVERIFY(!bare.value(QStringLiteral("payload")).toObject().contains(QStringLiteral("data")));
    QCOMPARE(bare.value(QStringLiteral("payload"))[QStringLiteral("screen")].toString(),
             QStringLiteral("0x0"));
}

void TestAnalytics::screenText_data()
{
    QTest::addColumn<std::optional<QSizeF>>("size");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no screen") << std::optional<QSizeF>() << "0x0";
    QTest::newRow("fraction dropped") << std::optional<QSizeF>(QSizeF(1512.9, 982.5)) << "1512x982";
    QTest::newRow("nonsense size") << std::optional<QSizeF>(QSizeF(-5, qInf())) << "0x0";
}

void TestAnalytics::screenText()
{
    QFETCH(std::optional<QSizeF>, size);
    QFETCH(QString, expected);
    QCOMPARE(Analytics::screenText(size), expected);
}

QTEST_GUILESS_MAIN(TestAnalytics)
#include "tst_analytics.moc"

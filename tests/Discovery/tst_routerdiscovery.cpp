#include "Controllers/RouterDiscovery.h"
#include "FakeServiceBrowser.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using FakeBrowser = FakeServiceBrowser;
using FakeBackend = FakeServiceBrowsers;

const QString kBlackmagic = QStringLiteral("_blackmagic._tcp");
const QString kVideohub = QStringLiteral("_videohub._tcp");

QList<BonjourService> services(const QStringList &names, const QString &type)
{
    QList<BonjourService> list;
    for (const QString &name : names)
        list.append({ name, type, QStringLiteral("local.") });
    return list;
}

QStringList names(const QList<RouterDiscovery::Device> &devices)
{
    QStringList list;
    for (const auto &d : devices)
        list.append(d.serviceName);
    return list;
}

} // namespace

class tst_RouterDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void startTwiceMakesOneBrowserPerType();
    void restartAfterStopBrowsesAfresh();
    void mergeAndSort_data();
    void mergeAndSort();
    void emptyUpdateClearsOnlyThatType();
    void equalResultsDoNotNotify();
    void failureSetsErrorAndKeepsBrowsing();
    void resultsPostedBeforeStopAreDropped();
    void resultsOfAnEarlierRoundAreIgnored();

    void withoutDaemonBrowsingReportsFailure();
    void withoutDaemonResolveGivesNothingOnce();
    void resolveUnderOneSecondGivesUpAtOnce();
    void hostText_data();
    void hostText();

private:
    QTemporaryDir m_tmp;
};

void tst_RouterDiscovery::initTestCase()
{
    // No test may reach a real daemon: the system bus is pointed at a socket that does not
    // exist.
    QVERIFY(m_tmp.isValid());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            QByteArray("unix:path=") + m_tmp.filePath(QStringLiteral("no-bus")).toUtf8());
}

void tst_RouterDiscovery::startTwiceMakesOneBrowserPerType()
{
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    QSignalSpy browsing(&discovery, &RouterDiscovery::isBrowsingChanged);
    discovery.start();
    discovery.start();
    QCOMPARE(backend.browsers.size(), 2);
    QCOMPARE(backend.browsers[0]->m_type, kBlackmagic);
    QCOMPARE(backend.browsers[1]->m_type, kVideohub);
    QVERIFY(backend.browsers[0]->m_started && backend.browsers[1]->m_started);
    QVERIFY(discovery.isBrowsing());
    QCOMPARE(browsing.size(), 1);
}

void tst_RouterDiscovery::restartAfterStopBrowsesAfresh()
{
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    discovery.start();
    backend.latest(kVideohub)->publish(services({ "Hub A" }, kVideohub));
    QTRY_COMPARE(discovery.devices().size(), 1);

    discovery.stop();
    QCOMPARE(backend.cancelled, 2);
    QVERIFY(discovery.devices().isEmpty());
    QVERIFY(!discovery.isBrowsing());

    discovery.start();
    QCOMPARE(backend.made, 4);
    QVERIFY(discovery.isBrowsing());
    QVERIFY(discovery.devices().isEmpty());
}

void tst_RouterDiscovery::mergeAndSort_data()
{
    QTest::addColumn<QStringList>("blackmagic");
    QTest::addColumn<QStringList>("videohub");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("case does not decide the order")
        << QStringList { "charlie", "alpha" } << QStringList { "Bravo" }
        << QStringList { "alpha", "Bravo", "charlie" };
    QTest::newRow("seen under both types listed once")
        << QStringList { "Studio" } << QStringList { "Studio", "Edit" }
        << QStringList { "Edit", "Studio" };
    QTest::newRow("repeated within one type listed once")
        << QStringList {} << QStringList { "Hub", "Hub" } << QStringList { "Hub" };
    QTest::newRow("nothing found") << QStringList {} << QStringList {} << QStringList {};
    QTest::newRow("digits and accents")
        << QStringList { "Zulu 10", "Écran" } << QStringList { "echo" }
        << QStringList { "echo", "Écran", "Zulu 10" };
}

void tst_RouterDiscovery::mergeAndSort()
{
    QFETCH(QStringList, blackmagic);
    QFETCH(QStringList, videohub);
    QFETCH(QStringList, expected);

    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    discovery.start();
    backend.latest(kBlackmagic)->publish(services(blackmagic, kBlackmagic));
    backend.latest(kVideohub)->publish(services(videohub, kVideohub));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(names(discovery.devices()), expected);
}

void tst_RouterDiscovery::emptyUpdateClearsOnlyThatType()
{
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    discovery.start();
    backend.latest(kBlackmagic)->publish(services({ "Main" }, kBlackmagic));
    backend.latest(kVideohub)->publish(services({ "Aux" }, kVideohub));
    QTRY_COMPARE(names(discovery.devices()), (QStringList { "Aux", "Main" }));

    backend.latest(kVideohub)->publish({});
    QTRY_COMPARE(names(discovery.devices()), QStringList { "Main" });
    // The surviving entry keeps the type it was found under.
    QCOMPARE(discovery.devices().first().type, kBlackmagic);
}

void tst_RouterDiscovery::equalResultsDoNotNotify()
{
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    QSignalSpy changed(&discovery, &RouterDiscovery::devicesChanged);
    discovery.start();
    backend.latest(kVideohub)->publish(services({ "Hub" }, kVideohub));
    QTRY_COMPARE(changed.size(), 1);
    backend.latest(kVideohub)->publish(services({ "Hub" }, kVideohub));
    backend.latest(kBlackmagic)->publish({});
    QTest::qWait(20);
    QCOMPARE(changed.size(), 1);
}

void tst_RouterDiscovery::failureSetsErrorAndKeepsBrowsing()
{
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    discovery.start();
    backend.latest(kVideohub)->publish(services({ "Hub" }, kVideohub));
    backend.latest(kBlackmagic)->fail(QStringLiteral("Daemon not running"));
    const QString text = QStringLiteral("Can't search the local network (Daemon not running). "
                                        "Check Local Network permission in Settings.");
    QTRY_COMPARE(discovery.browseError().value_or(QString()), text);
    QVERIFY(discovery.isBrowsing());
    QCOMPARE(names(discovery.devices()), QStringList { "Hub" });

    // The other browser keeps working.
    backend.latest(kVideohub)->publish(services({ "Hub", "Hub 2" }, kVideohub));
    QTRY_COMPARE(discovery.devices().size(), 2);

    // stop() and a new start() keep the error shown.
    discovery.stop();
    QCOMPARE(discovery.browseError().value_or(QString()), text);
    discovery.start();
    QCOMPARE(discovery.browseError().value_or(QString()), text);
}

void tst_RouterDiscovery::resultsPostedBeforeStopAreDropped()
{
    // A result set reported just before stop() used to land after it and refill the list
    // of a discovery that was no longer browsing.
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    discovery.start();
    backend.latest(kVideohub)->publish(services({ "Late" }, kVideohub));
    backend.latest(kBlackmagic)->fail(QStringLiteral("late failure"));
    discovery.stop();
    QTest::qWait(20);
    QVERIFY(discovery.devices().isEmpty());
    QVERIFY(!discovery.browseError().has_value());
}

void tst_RouterDiscovery::resultsOfAnEarlierRoundAreIgnored()
{
    FakeBackend backend;
    RouterDiscovery discovery(backend.factory());
    discovery.start();
    backend.latest(kVideohub)->publish(services({ "Ghost" }, kVideohub));
    discovery.stop();
    discovery.start();
    backend.latest(kVideohub)->publish(services({ "Live" }, kVideohub));
    QTest::qWait(20);
    QCOMPARE(names(discovery.devices()), QStringList { "Live" });
}

void tst_RouterDiscovery::withoutDaemonBrowsingReportsFailure()
{
    RouterDiscovery discovery; // the real daemon-backed browsers
    QSignalSpy errorChanged(&discovery, &RouterDiscovery::browseErrorChanged);
    discovery.start();
    QTRY_VERIFY_WITH_TIMEOUT(discovery.browseError().has_value(), 5000);
    const QString error = *discovery.browseError();
    QVERIFY2(error.startsWith(QStringLiteral("Can't search the local network (")),
             qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral("). Check Local Network permission in Settings.")),
             qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("Daemon not running")), qPrintable(error));
    // Both browsers fail with the same text: one notification.
    QTest::qWait(50);
    QCOMPARE(errorChanged.size(), 1);
    QVERIFY(discovery.isBrowsing());
    QVERIFY(discovery.devices().isEmpty());
    discovery.stop();
    QVERIFY(!discovery.isBrowsing());
}

void tst_RouterDiscovery::withoutDaemonResolveGivesNothingOnce()
{
    QObject context;
    int calls = 0;
    std::optional<RouterDiscovery::Endpoint> got { RouterDiscovery::Endpoint { "x", 1 } };
    QElapsedTimer clock;
    clock.start();
    RouterDiscovery::resolve({ "Hub", "_videohub._tcp", "local" }, 5.0, &context,
                             [&](std::optional<RouterDiscovery::Endpoint> endpoint) {
                                 ++calls;
                                 got = endpoint;
                             });
    QCOMPARE(calls, 0); // never from inside the call
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 4000);
    QVERIFY(!got.has_value());
    QVERIFY(clock.elapsed() < 4000);
    QTest::qWait(50);
    QCOMPARE(calls, 1);
}

void tst_RouterDiscovery::resolveUnderOneSecondGivesUpAtOnce()
{
    QObject context;
    int calls = 0;
    bool hadValue = true;
    RouterDiscovery::resolve({ "Hub", "_videohub._tcp", "local" }, 0.9, &context,
                             [&](std::optional<RouterDiscovery::Endpoint> endpoint) {
                                 ++calls;
                                 hadValue = endpoint.has_value();
                             });
    QCOMPARE(calls, 0);
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 500);
    QVERIFY(!hadValue);

    // A context that goes away first gets nothing, and nothing crashes.
    calls = 0;
    {
        QObject shortLived;
        RouterDiscovery::resolve({ "Hub", "_videohub._tcp", "local" }, 2.0, &shortLived,
                                 [&](std::optional<RouterDiscovery::Endpoint>) { ++calls; });
    }
    QTest::qWait(100);
    QCOMPARE(calls, 0);
}

void tst_RouterDiscovery::hostText_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ipv4") << "192.0.2.7"
                          << "192.0.2.7";
    QTest::newRow("ipv4 with scope") << "192.0.2.7%eth0"
                                     << "192.0.2.7";
    QTest::newRow("ipv6 keeps scope") << "fe80::1%eth0"
                                      << "fe80::1%eth0";
    QTest::newRow("name unchanged") << "hub.local"
                                    << "hub.local";
    QTest::newRow("only a scope") << "%eth0"
                                  << "%eth0";
}

void tst_RouterDiscovery::hostText()
{
    QFETCH(QString, host);
    QFETCH(QString, expected);
    QCOMPARE(RouterDiscovery::hostText(host), expected);
}

QTEST_GUILESS_MAIN(tst_RouterDiscovery)
#include "tst_routerdiscovery.moc"

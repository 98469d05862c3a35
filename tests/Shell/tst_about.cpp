#include "FeedServer.h"

#include "Platform/InfoDictionary.h"
#include "Support/Analytics.h"
#include "Theme/Controls.h"
#include "Views/Shell/AboutView.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

Q_DECLARE_METATYPE(VersionOrder)

namespace {

QByteArray feedWith(const QByteArray &itemBody)
{
    return "<rss xmlns:sparkle=\"s\"><channel><item>" + itemBody + "</item></channel></rss>";
}

QString textOf(QWidget *root, const char *name)
{
    auto *label = root->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

Analytics::Options quietAnalytics()
{
    Analytics::Options options;
    options.endpoint = QUrl(QStringLiteral("http://127.0.0.1:9/api/send")); // never started
    return options;
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void compareVersions_data();
    void compareVersions();
    void headerShowsInstalledVersion();
    void cardFollowsTheFeed_data();
    void cardFollowsTheFeed();
    void newerLiveBuildOffersTheUpdaterCheck();
    void noActionMeansNoButton();
    void switchWritesOptOut();
};

void TestAbout::init()
{
    QSettings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel")).clear();
}

void TestAbout::compareVersions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<VersionOrder>("expected");
    QTest::newRow("1.2 / 1.2.0") << "1.2" << "1.2.0" << VersionOrder::same;
    QTest::newRow("1.10 / 1.9") << "1.10" << "1.9" << VersionOrder::descending;
    QTest::newRow("2 / 10") << "2" << "10" << VersionOrder::ascending;
    QTest::newRow("1.2a / 1.2b") << "1.2a" << "1.2b" << VersionOrder::ascending;
    QTest::newRow("empty / empty") << "" << "" << VersionOrder::same;
    QTest::newRow("1.2 / 1.2.beta") << "1.2" << "1.2.beta" << VersionOrder::ascending;
    QTest::newRow("1.2 / 1.02") << "1.2" << "1.02" << VersionOrder::same;
}

void TestAbout::compareVersions()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(VersionOrder, expected);
    QCOMPARE(AboutView::compareVersions(a, b), expected);
}

void TestAbout::headerShowsInstalledVersion()
{
    AboutView view({}, new LiveFeedChecker(QUrl(), 1000), nullptr);
    QCOMPARE(textOf(&view, "versionLine"),
             QStringLiteral("Version %1 (%2)")
                 .arg(InfoDictionary::shortVersion(), InfoDictionary::buildNumber()));
    QCOMPARE(view.width(), 340);
}

void TestAbout::cardFollowsTheFeed_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("live");
    QTest::addColumn<QString>("relation");
    QTest::addColumn<bool>("hasDate");
    const QString installed = InfoDictionary::shortVersion();
    QTest::newRow("same build")
        << 200
        << ("<sparkle:shortVersionString>" + installed.toUtf8()
            + "</sparkle:shortVersionString><pubDate>Tue, 08 Dec 2026 10:00:00 +0000</pubDate>")
        << installed << "You're running the live build." << true;
    QTest::newRow("install ahead")
        << 200 << QByteArray("<sparkle:shortVersionString>0.1</sparkle:shortVersionString>")
        << "0.1" << "This install is ahead of the public feed." << false;
    QTest::newRow("iso date dropped")
        << 200
        << QByteArray("<sparkle:shortVersionString>0.1</sparkle:shortVersionString>"
                      "<pubDate>2026-12-08T10:00:00Z</pubDate>")
        << "0.1" << "This install is ahead of the public feed." << false;
    QTest::newRow("build only") << 200 << QByteArray("<sparkle:version>7</sparkle:version>") << ""
                                << "" << false;
    QTest::newRow("404") << 404 << QByteArray() << "" << "" << false;
}

void TestAbout::cardFollowsTheFeed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, item);
    QFETCH(QString, live);
    QFETCH(QString, relation);
    QFETCH(bool, hasDate);
    FeedServer server;
    server.respond(status, feedWith(item));
    AboutView view({}, new LiveFeedChecker(server.url(), 5000), nullptr);
    view.show();
    auto labels = [&] {
        QStringList texts;
        for (auto *label : view.findChildren<QLabel *>())
            texts.append(label->text());
        return texts;
    };
    QVERIFY(labels().contains(QStringLiteral("Checking the update feed\u2026")));
    QTRY_VERIFY(view.feed()->phase().kind != LiveFeedChecker::Phase::checking);
    QCOMPARE(server.requests(), 1);
    if (live.isEmpty()) {
        QCOMPARE(textOf(&view, "unavailableText"),
                 QStringLiteral("Couldn't reach ") + AboutView::webHostName()
                     + QStringLiteral(" \u2014 live build unknown."));
        return;
    }
    QCOMPARE(textOf(&view, "liveText"),
             QStringLiteral("Live on ") + AboutView::webHostName() + QStringLiteral(": ") + live);
    QVERIFY(labels().contains(relation));
    QCOMPARE(view.findChild<QLabel *>(QStringLiteral("liveDate")) != nullptr, hasDate);
}

void TestAbout::newerLiveBuildOffersTheUpdaterCheck()
{
    FeedServer server;
    server.respond(200, feedWith("<sparkle:shortVersionString>999.0</sparkle:shortVersionString>"));
    int checks = 0;
    AboutView view([&checks] { ++checks; }, new LiveFeedChecker(server.url(), 5000), nullptr);
    view.show();
    QPushButton *button = nullptr;
    QTRY_VERIFY((button = view.findChild<QPushButton *>(QStringLiteral("checkForUpdatesButton"))));
    QCOMPARE(button->text(), QStringLiteral("Check for Updates\u2026"));
    QVERIFY(button->isEnabled());
    const auto texts = [&] {
        QStringList t;
        for (auto *label : view.findChildren<QLabel *>())
            t.append(label->text());
        return t;
    }();
    QVERIFY(texts.contains(QStringLiteral("A newer build is live.")));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(checks, 1);
}

void TestAbout::noActionMeansNoButton()
{
    FeedServer server;
    server.respond(200, feedWith("<sparkle:shortVersionString>999.0</sparkle:shortVersionString>"));
    AboutView view({}, new LiveFeedChecker(server.url(), 5000), nullptr);
    view.show();
    QTRY_COMPARE(view.feed()->phase().kind, LiveFeedChecker::Phase::live);
    QVERIFY(!view.findChild<QPushButton *>(QStringLiteral("checkForUpdatesButton")));
}

void TestAbout::switchWritesOptOut()
{
    QSettings settings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
    Analytics analytics(quietAnalytics());
    QVERIFY(analytics.enabled()); // absent key: enabled
    AboutView view({}, new LiveFeedChecker(QUrl(), 1000), &analytics);
    auto *toggle = view.findChild<ToggleSwitch *>(QStringLiteral("analyticsSwitch"));
    QVERIFY(toggle);
    QCOMPARE(toggle->text(), QStringLiteral("Share anonymous usage stats"));
    QVERIFY(toggle->isChecked());
    view.show();
    QTest::mouseClick(toggle, Qt::LeftButton);
    QVERIFY(!analytics.enabled());
    settings.sync();
    QCOMPARE(settings.value(QStringLiteral("analyticsOptOut")).toBool(), true);
    analytics.setEnabled(true); // another writer: the switch follows
    QVERIFY(toggle->isChecked());
    settings.sync();
    QCOMPARE(settings.value(QStringLiteral("analyticsOptOut")).toBool(), false);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"

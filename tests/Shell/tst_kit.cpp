#include "FeedServer.h"

#include "Platform/Gui/Symbols.h"
#include "Support/Gui/Updater.h"
#include "Theme/Controls.h"
#include "Theme/StatusDot.h"
#include "Theme/Theme.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

QByteArray feedWith(const QByteArray &version)
{
    return "<rss><channel><item><sparkle:shortVersionString>" + version
        + "</sparkle:shortVersionString></item></channel></rss>";
}

QStringList labelTexts(QWidget *root)
{
    QStringList texts;
    for (auto *label : root->findChildren<QLabel *>())
        if (label->isVisibleTo(root) && !label->text().isEmpty())
            texts.append(label->text());
    return texts;
}

} // namespace

class TestKit : public QObject
{
    Q_OBJECT

private slots:
    void statusPresentation_data();
    void statusPresentation();
    void pulseRingFollowsConnectingAndVisibility();
    void dotKeepsItsSizeWhilePulsing();
    void everyUsedSymbolHasADrawing_data();
    void everyUsedSymbolHasADrawing();
    void symbolsTakeTheirColourAtPaintTime();
    void updaterCanCheckFollowsStartAndRunningCheck();
    void updaterReports_data();
    void updaterReports();
    void secondCheckWhileRunningIsHarmless();
    void escapedMnemonicDoublesAmpersands();
};

void TestKit::statusPresentation_data()
{
    QTest::addColumn<ConnectionStatus>("status");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QColor>("color");
    QTest::newRow("connected") << ConnectionStatus(ConnectionStatus::connected) << "Online"
                               << Theme::green();
    QTest::newRow("connecting") << ConnectionStatus(ConnectionStatus::connecting)
                                << "Connecting\u2026" << Theme::orange();
    QTest::newRow("disconnected") << ConnectionStatus() << "Offline" << Theme::secondaryLabel();
    QTest::newRow("failed, message never shown")
        << ConnectionStatus::failure(QStringLiteral("<b>boom</b>")) << "Error" << Theme::red();
}

void TestKit::statusPresentation()
{
    QFETCH(ConnectionStatus, status);
    QFETCH(QString, label);
    QFETCH(QColor, color);
    StatusDot dot(status);
    StatusPill pill(status);
    QCOMPARE(dot.accessibleName(), label);
    QCOMPARE(pill.text(), label);
    QCOMPARE(pill.accessibleName(), label);
    QCOMPARE(Theme::statusColor(status), color);
}

void TestKit::pulseRingFollowsConnectingAndVisibility()
{
    QWidget window;
    auto *dot = new StatusDot(ConnectionStatus::connecting, &window);
    QVERIFY(!dot->isPulsing()); // not on screen yet
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(dot->isPulsing());
    dot->setStatus(ConnectionStatus::connected);
    QVERIFY(!dot->isPulsing());
    dot->setStatus(ConnectionStatus::connecting);
    QVERIFY(dot->isPulsing());
    window.hide();
    QVERIFY(!dot->isPulsing());
}

void TestKit::dotKeepsItsSizeWhilePulsing()
{
    StatusDot dot(ConnectionStatus::disconnected);
    dot.show();
    const QSize before = dot.size();
    dot.setStatus(ConnectionStatus::connecting);
    QCOMPARE(dot.size(), before);
    QCOMPARE(dot.sizeHint(), before);
}

void TestKit::everyUsedSymbolHasADrawing_data()
{
    QTest::addColumn<QString>("name");
    for (const RouterVendor vendor : RouterVendor::allCases())
        QTest::newRow(qPrintable(vendor.rawValue())) << vendor.systemImage();
    const char *shell[] = {"plus", "pencil", "bolt.slash", "trash", "wifi.exclamationmark",
                           "antenna.radiowaves.left.and.right", "arrow.down.doc.fill",
                           "sparkles", "wifi.slash", "bolt.fill", "xmark",
                           "point.3.connected.trianglepath.dotted"};
    for (const char *name : shell)
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestKit::everyUsedSymbolHasADrawing()
{
    QFETCH(QString, name);
    QVERIFY2(Symbols::exists(name), qPrintable(name));
    const QImage image = Symbols::pixmap(name, 24, Qt::black).toImage();
    QCOMPARE(image.size(), QSize(24, 24));
    int inked = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            inked += qAlpha(image.pixel(x, y)) > 128;
    QVERIFY2(inked > 10, qPrintable(name)); // something is actually drawn
}

void TestKit::symbolsTakeTheirColourAtPaintTime()
{
    QVERIFY(!Symbols::exists(QStringLiteral("no.such.symbol")));
    QVERIFY(Symbols::icon(QStringLiteral("no.such.symbol")).isNull());
    const QImage red = Symbols::pixmap(QStringLiteral("plus"), 24, Qt::red).toImage();
    const QColor centre = red.pixelColor(12, 12);
    QCOMPARE(centre.red(), 255);
    QCOMPARE(centre.green(), 0);
    QVERIFY(!Symbols::applicationIcon().isNull());
}

void TestKit::updaterCanCheckFollowsStartAndRunningCheck()
{
    FeedServer server;
    server.respond(200, feedWith("1.0.0"), 300);
    Updater::Options options;
    options.feedUrl = server.url();
    options.installedVersion = QStringLiteral("1.0.0");
    Updater updater(false, nullptr, options);
    QVERIFY(!updater.canCheckForUpdates());
    QSignalSpy changed(&updater, &Updater::canCheckForUpdatesChanged);
    updater.startUpdater();
    QVERIFY(updater.canCheckForUpdates());
    updater.checkForUpdates();
    QVERIFY(!updater.canCheckForUpdates());
    QTRY_VERIFY(updater.canCheckForUpdates());
    QCOMPARE(changed.count(), 3);
}

void TestKit::updaterReports_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("live");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("title");
    QTest::newRow("same version") << 200 << QByteArray("1.2.0") << int(Updater::Outcome::upToDate)
                                  << "Quorvel is up to date";
    QTest::newRow("installed ahead") << 200 << QByteArray("1.1") << int(Updater::Outcome::upToDate)
                                     << "Quorvel is up to date";
    QTest::newRow("newer live") << 200 << QByteArray("1.10")
                                << int(Updater::Outcome::updateAvailable)
                                << "Quorvel 1.10 is available";
    QTest::newRow("feed missing") << 404 << QByteArray("9") << int(Updater::Outcome::unreachable)
                                  << "Couldn\u2019t check for updates";
}

void TestKit::updaterReports()
{
    QFETCH(int, status);
    QFETCH(QByteArray, live);
    QFETCH(int, outcome);
    QFETCH(QString, title);
    FeedServer server;
    server.respond(status, feedWith(live));
    Updater::Options options;
    options.feedUrl = server.url();
    options.installedVersion = QStringLiteral("1.2");
    options.downloadPage = QUrl(QStringLiteral("http://127.0.0.1:9/"));
    Updater updater(true, nullptr, options);
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.checkForUpdates();
    QVERIFY(updater.window());
    QVERIFY(labelTexts(updater.window()).contains(QStringLiteral("Checking for updates\u2026")));
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(int(finished.at(0).at(0).value<Updater::Outcome>()), outcome);
    QVERIFY2(labelTexts(updater.window()).contains(title),
             qPrintable(labelTexts(updater.window()).join(QLatin1Char('|'))));
}

void TestKit::secondCheckWhileRunningIsHarmless()
{
    FeedServer server;
    server.respond(200, feedWith("1.0"), 200);
    Updater::Options options;
    options.feedUrl = server.url();
    Updater updater(true, nullptr, options);
    QSignalSpy finished(&updater, &Updater::checkFinished);
    updater.checkForUpdates();
    QDialog *window = updater.window();
    updater.checkForUpdates();
    QCOMPARE(updater.window(), window);
    QTRY_COMPARE(finished.count(), 1);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(server.requests(), 1);
}

void TestKit::escapedMnemonicDoublesAmpersands()
{
    QCOMPARE(escapedMnemonic(QStringLiteral("R&D Router")), QStringLiteral("R&&D Router"));
    QPushButton button(escapedMnemonic(QStringLiteral("A&B")));
    QCOMPARE(button.text(), QStringLiteral("A&&B"));
}

QTEST_MAIN(TestKit)
#include "tst_kit.moc"

#include "Drivers/QuartzParser.h"

#include "TestSupport.h"

#include <QtTest>

using Timer = QuartzParser::Timer;

namespace {

RouterConnection router(int sources, int destinations)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Quartz Core");
    connection.vendor = RouterVendor::evertzQuartz;
    connection.port = 23;
    connection.simSourceCount = sources;
    connection.simDestinationCount = destinations;
    return connection;
}

struct Harness : TestSupport::ParserHarness<QuartzParser>
{
    explicit Harness(const RouterConnection &connection = router(256, 256))
        : ParserHarness(connection)
    { }

    void connect(const QByteArray &answers = {})
    {
        parser.ingest(answers);
        parser.finalize();
        clear();
    }
};

const QString refused = QStringLiteral("The router refused the command.");

} // namespace

class TestQuartzParser : public QObject
{
    Q_OBJECT

private slots:
    void parsesAnswers_data();
    void parsesAnswers();
    void readsLinesWholeSplitAndGlued_data();
    void readsLinesWholeSplitAndGlued();
    void overlongLineIsDropped();
    void longestLineInSixteenBytePiecesCostsOnePass();
    void debounceAndConnectedState();
    void changesAfterConnected();
    void onlyVideoAnswersMoveVideoRouting();
    void refusalsAndPendingRoutes();
    void refusedRouteIsReportedAgainEvenWhenUnchanged();
    void outOfRangeAnswerReportedOnceAndNeverConnects();
    void readLimitAndExpansionBudget();
    void noAnswerCheck();
    void stoppedParserIgnoresTimers();
    void interrogationIsOneWrite();
    void savedSizesAreBounded();
    void pendingQueueIsCapped();
};

void TestQuartzParser::parsesAnswers_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("levels");
    QTest::addColumn<int>("destination");
    QTest::addColumn<int>("source");

    QTest::newRow("answer") << ".AV5,131" << true << "V" << 5 << 131;
    QTest::newRow("update") << ".UV5,131" << true << "V" << 5 << 131;
    QTest::newRow("several levels") << ".AVAD12,3" << true << "VAD" << 12 << 3;
    QTest::newRow("blanks around numbers") << ".AV 5 ,\t131 " << true << "V" << 5 << 131;
    QTest::newRow("signed") << ".AV+5,+131" << true << "V" << 5 << 131;
    QTest::newRow("empty pieces dropped") << ".AV5,,131," << true << "V" << 5 << 131;
    QTest::newRow("no comma") << ".AV5" << false << "" << 0 << 0;
    QTest::newRow("three numbers") << ".AV5,131,2" << false << "" << 0 << 0;
    QTest::newRow("zero destination") << ".AV0,3" << false << "" << 0 << 0;
    QTest::newRow("negative source") << ".AV3,-1" << false << "" << 0 << 0;
    QTest::newRow("no level letter") << ".A5,3" << false << "" << 0 << 0;
    QTest::newRow("not a number") << ".AV5,1x" << false << "" << 0 << 0;
    QTest::newRow("overflowing number") << ".AV99999999999999999999,3" << false << "" << 0 << 0;
    QTest::newRow("sign only") << ".AV+,3" << false << "" << 0 << 0;
    QTest::newRow("other command") << ".SV5,3" << false << "" << 0 << 0;
    QTest::newRow("too short") << ".A" << false << "" << 0 << 0;
}

void TestQuartzParser::parsesAnswers()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);
    const auto answer = QuartzParser::parseAnswer(line);
    QCOMPARE(answer.has_value(), valid);
    if (!answer)
        return;
    QTEST(answer->levels, "levels");
    QTEST(answer->destination, "destination");
    QTEST(answer->source, "source");
}

void TestQuartzParser::readsLinesWholeSplitAndGlued_data()
{
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("CR") << QByteArray(".AV5,131\r.UV6,2\r");
    QTest::newRow("LF") << QByteArray(".AV5,131\n.UV6,2\n");
    QTest::newRow("CR LF") << QByteArray(".AV5,131\r\n.UV6,2\r\n");
    QTest::newRow("blanks and noise") << QByteArray("  .AV5,131 \t\r\nWelcome\r?\r.UV6,2\r");
    QTest::newRow("invalid UTF-8 line") << QByteArray("\xff\xfe.AV9\r.AV5,131\r.UV6,2\r");
}

void TestQuartzParser::readsLinesWholeSplitAndGlued()
{
    QFETCH(QByteArray, wire);
    for (int cut = 0; cut <= wire.size(); ++cut) {
        Harness h;
        h.connect();
        h.parser.ingest(wire.left(cut));
        h.parser.ingest(wire.mid(cut));
        QList<RouterDriverEvent> routes;
        for (const auto &e : std::as_const(h.events))
            if (e.type == RouterDriverEvent::routeChanged)
                routes.append(e);
        QCOMPARE(routes,
                 (QList { RouterDriverEvent::makeRouteChanged(0, 4, 130),
                          RouterDriverEvent::makeRouteChanged(0, 5, 1) }));
    }
}

void TestQuartzParser::overlongLineIsDropped()
{
    Harness h;
    h.connect();
    // A router streaming without line ends must not grow the buffer; the line is dropped
    // whole and the next one is read.
    h.parser.ingest(".AV1,");
    for (int i = 0; i < 4; ++i)
        h.parser.ingest(QByteArray(QuartzParser::maxLineLength / 2, '7'));
    h.parser.ingest("\r.AV2,3\r");
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(0, 1, 2) });
}

void TestQuartzParser::longestLineInSixteenBytePiecesCostsOnePass()
{
    // The longest answer kept, then a 4 MiB line that never ends, all in 16-byte pieces.
    Harness h;
    h.connect();
    const QByteArray bytes = ".AV1,2" + QByteArray(QuartzParser::maxLineLength - 6, ' ') + '\r'
        + QByteArray(4 * 1024 * 1024, '7');
    for (qsizetype at = 0; at < bytes.size(); at += 16)
        h.parser.ingest(bytes.mid(at, 16));
    QVERIFY(h.parser.scannedBytes() <= 2 * bytes.size()); // each byte looked at about once
    QVERIFY(h.parser.bufferedBytes() <= QuartzParser::maxLineLength); // the endless line isn't kept
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(0, 0, 1) });
}

void TestQuartzParser::debounceAndConnectedState()
{
    Harness h(router(16, 8));
    h.parser.ingest(".AV1,4\r.AV8,16\r");
    QVERIFY(h.events.isEmpty());
    QCOMPARE(h.armed, (QList { Timer::finalize, Timer::finalize }));
    h.parser.finalize();
    h.parser.finalize();
    QCOMPARE(h.events.size(), 1);
    const RouterState &state = h.events[0].state;
    QCOMPARE(h.events[0].type, RouterDriverEvent::connected);
    QCOMPARE(state.deviceName, QStringLiteral("Quartz Core"));
    QCOMPARE(state.model, QStringLiteral("Quartz 16×8"));
    QCOMPARE(state.vendor, RouterVendor(RouterVendor::evertzQuartz));
    QCOMPARE(state.sources.size(), 16);
    QCOMPARE(state.destinations[7], (Port { 7, PortKind::destination, QStringLiteral("Out 8") }));
    QCOMPARE(state.sources[15], (Port { 15, PortKind::source, QStringLiteral("In 16") }));
    QCOMPARE(state.levels,
             (QList<RouterLevel> { { 0, QStringLiteral("Video"), LevelKind::video } }));
    QCOMPARE(state.routing, (QHash<int, LevelRouting> { { 0, { { 0, 3 }, { 7, 15 } } } }));
}

void TestQuartzParser::changesAfterConnected()
{
    Harness h;
    h.connect(".AV5,131\r");
    h.parser.ingest(".UV5,131\r");
    QVERIFY(h.events.isEmpty());
    h.parser.ingest(".UV5,7\r");
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(0, 4, 6) });
}

void TestQuartzParser::onlyVideoAnswersMoveVideoRouting()
{
    // An audio-only answer used to move the video crosspoint.
    Harness h;
    h.connect(".AV5,131\r");
    h.parser.ingest(".AA5,9\r");
    QVERIFY(h.events.isEmpty());
    QCOMPARE(h.parser.routing().value(4), 130);
    h.parser.ingest(".AAV5,9\r");
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(0, 4, 8) });

    // It still shows the router speaks Quartz.
    Harness fresh;
    fresh.parser.ingest(".AA5,9\r");
    fresh.parser.checkAnswered();
    QVERIFY(fresh.events.isEmpty());
    QVERIFY(fresh.parser.routing().isEmpty());
}

void TestQuartzParser::refusalsAndPendingRoutes()
{
    Harness h;
    h.connect();
    QCOMPARE(h.parser.lineForConnect(130, 4), QByteArray(".SV5,131"));
    h.parser.lineForConnect(1, 6);
    h.parser.lineForConnect(2, 7);
    QCOMPARE(h.parser.pendingConnects(), (QList { 4, 6, 7 }));

    // An answer answers the oldest route to its destination, in any order, once: counted
    // twice, it let a silent router keep 6.
    h.parser.ingest(".AV7,2\r.UV7,2\r");
    QCOMPARE(h.parser.pendingConnects(), (QList { 4, 7 }));
    QCOMPARE(h.answers, 1);
    h.parser.ingest(".AV5,131\r");
    QCOMPARE(h.parser.pendingConnects(), QList { 7 });
    h.clear();

    // "?" refuses the oldest route still waiting, for the link's table to put back and ask.
    h.parser.ingest("?\r");
    QVERIFY(h.events.isEmpty() && h.writes.isEmpty());
    QCOMPARE(h.refusals, QStringList { refused });
    QVERIFY(h.parser.pendingConnects().isEmpty());
    // With nothing waiting it refused a question: said as it is.
    h.parser.ingest("?ERR\r?\r");
    QCOMPARE(h.events,
             (QList { RouterDriverEvent::makeCommandRefused(refused),
                      RouterDriverEvent::makeCommandRefused(refused) }));
    QCOMPARE(h.answers, 2);

    // A route forgotten beyond the cap is no longer waited for.
    for (int i = 0; i <= QuartzParser::maxPendingConnects; ++i)
        h.parser.lineForConnect(1, 2);
    QCOMPARE(h.answers, 3);
}

void TestQuartzParser::refusedRouteIsReportedAgainEvenWhenUnchanged()
{
    // An answer that repeats the source held changes nothing, but still reaches the table
    // that puts a refused route back.
    Harness h;
    h.connect(".AV5,131\r");
    h.parser.ingest(".AV5,131\r");
    QVERIFY(h.events.isEmpty());
    QCOMPARE(h.reports, QList { CommandTarget::route(0, 4, 130) });
}

void TestQuartzParser::outOfRangeAnswerReportedOnceAndNeverConnects()
{
    Harness h(router(16, 16));
    const QString beyond = Interrogation::beyondMatrixText(16, 16);
    h.parser.ingest(".AV17,1\r.AV1,17\r.AV99,99\r");
    QVERIFY(h.armed.isEmpty());
    QVERIFY(h.parser.routing().isEmpty());
    QVERIFY(h.parser.checkAnswered());
    // At the read's limit the link ends with the reason, once (it also came as a refusal).
    QVERIFY(!h.parser.readLimitReached());
    QCOMPARE(h.events, QList { RouterDriverEvent::makeError(beyond) });

    // Answers for other levels alone used to be blamed on the matrix size.
    Harness audio(router(16, 16));
    audio.parser.ingest(".AA1,2\r.AV99,1\r");
    QVERIFY(!audio.parser.readLimitReached());
    QCOMPARE(audio.events.last().text,
             "The router answered only for levels other than video (V), "
             "so no video crosspoint could be read. "
                 + beyond);

    // With some video answers in range the warning follows the state.
    Harness mixed(router(16, 16));
    mixed.parser.ingest(".AV99,1\r.AV1,2\r");
    mixed.parser.finalize();
    QCOMPARE(mixed.events.mid(1), QList { RouterDriverEvent::makeCommandRefused(beyond) });
}

void TestQuartzParser::readLimitAndExpansionBudget()
{
    // Updates that never went quiet held the state back for good: at the limit it is
    // reported as it stands.
    Harness h;
    h.parser.ingest(".UV4,5\r");
    QVERIFY(h.parser.readLimitReached());
    QCOMPARE(h.events.size(), 1);
    QCOMPARE(h.events.first().state.routing.value(0), (LevelRouting { { 3, 4 } }));
    QVERIFY(h.parser.readLimitReached()); // once
    QCOMPARE(h.events.size(), 1);

    // The most one receive can bring: a change per answer (seven bytes at least), a refusal
    // per "?" line (two bytes), nothing from the longest line kept.
    h.clear();
    QByteArray answers;
    for (int i = 0; answers.size() < 65536 - 16; ++i)
        answers += ".AV" + QByteArray::number(i % 16 + 1) + ','
            + QByteArray::number((i / 16 + i) % 16 + 1) + '\r';
    h.parser.ingest(answers);
    QVERIFY(h.events.size() <= answers.size() / 7);
    h.clear();
    h.parser.ingest(".AV1," + QByteArray(QuartzParser::maxLineLength - 6, '1') + "\r");
    QVERIFY(h.events.isEmpty());
    h.parser.ingest(QByteArray("?\r").repeated(65536 / 2));
    QCOMPARE(h.events.size(), 65536 / 2);
}

void TestQuartzParser::noAnswerCheck()
{
    Harness silent;
    silent.parser.beginInterrogation();
    QCOMPARE(silent.armed, QList { Timer::noAnswer });
    silent.parser.ingest("Welcome\r.AV5\r?\r"); // nothing well formed
    silent.parser.checkAnswered();
    QCOMPARE(silent.events.last(),
             RouterDriverEvent::makeError(QStringLiteral(
                 "The device answered TCP but spoke no Quartz — check the port and matrix size.")));
}

void TestQuartzParser::stoppedParserIgnoresTimers()
{
    Harness h;
    h.parser.ingest(".AV1,1\r");
    h.parser.stop();
    h.parser.finalize();
    Harness silent;
    silent.parser.stop();
    silent.parser.checkAnswered();
    QVERIFY(h.events.isEmpty());
    QVERIFY(silent.events.isEmpty());
}

void TestQuartzParser::interrogationIsOneWrite()
{
    Harness h(router(4, 3));
    h.parser.beginInterrogation();
    QCOMPARE(h.writes, QList { QByteArray(".IV1\r.IV2\r.IV3\r") });
    QVERIFY(h.parser.pendingConnects().isEmpty()); // interrogations are not pending routes
}

void TestQuartzParser::savedSizesAreBounded()
{
    Harness tiny(router(0, 1));
    QCOMPARE(tiny.parser.sourceCount(), 2);
    QCOMPARE(tiny.parser.destinationCount(), 2);
    Harness damaged(router(std::numeric_limits<int>::max(), 100000));
    QCOMPARE(damaged.parser.sourceCount(), QuartzParser::maxPortCount);
    QCOMPARE(damaged.parser.destinationCount(), QuartzParser::maxPortCount);
}

void TestQuartzParser::pendingQueueIsCapped()
{
    Harness h;
    for (int i = 0; i < QuartzParser::maxPendingConnects + 5; ++i)
        h.parser.lineForConnect(0, i);
    QCOMPARE(h.parser.pendingConnects().size(), QuartzParser::maxPendingConnects);
    QCOMPARE(h.parser.pendingConnects().first(), 5);
}

QTEST_GUILESS_MAIN(TestQuartzParser)
#include "tst_quartzparser.moc"

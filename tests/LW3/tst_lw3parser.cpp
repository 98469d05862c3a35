#include "Drivers/LW3Parser.h"
#include "Platform/Memory.h"

#include "TestSupport.h"

#include <QtTest>

#if defined(__GLIBC__)
#endif

namespace {

// Drives a parser without a socket or a clock: sent lines, events and armed timers are
// recorded, and the test fires the timers itself.
struct Harness
{
    QStringList sent;
    QList<RouterDriverEvent> events;
    QSet<LW3Parser::Timer> armed;
    QStringList refusals; // what the link's pending table was told
    LW3Parser parser {
        QStringLiteral("Stage Matrix"),
        { [this](const RouterDriverEvent &e) { events.append(e); },
          [this](const QString &line) { sent.append(line); },
          [this](LW3Parser::Timer t, std::chrono::milliseconds) { armed.insert(t); },
          { {}, [this](quint64, const QString &why) { refusals.append(why); }, {}, {} } }
    };

    void feed(const QByteArray &bytes) { QVERIFY(parser.ingest(bytes)); }
    void fire(LW3Parser::Timer timer)
    {
        if (armed.remove(timer))
            parser.timerFired(timer);
    }
    // Names for two inputs and two outputs plus a crosspoint list, then both timers.
    void bringUp()
    {
        feed("pr /.ProductName=MX2-8x8\r\n"
             "pr /MEDIA/NAMES/VIDEO.I1=1;Cam A\r\npr /MEDIA/NAMES/VIDEO.I2=2;Cam B\r\n"
             "pr /MEDIA/NAMES/VIDEO.O1=1;Mon A\r\npr /MEDIA/NAMES/VIDEO.O2=7;Mon B\r\n"
             "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;I1\r\n"
             "pr /MEDIA/XP/VIDEO.DestinationPortStatus=T;L\r\n");
        fire(LW3Parser::Timer::namesQuiet);
        fire(LW3Parser::Timer::finalize);
        QVERIFY(parser.hasReportedConnected());
        events.clear();
        sent.clear();
    }
    RouterState connectedState() const
    {
        for (const auto &e : events)
            if (e.type == RouterDriverEvent::connected)
                return e.state;
        return {};
    }
};

} // namespace

class TestLW3Parser : public QObject
{
    Q_OBJECT

private slots:
    void signaturesWrap();
    void initialQueriesAndStatusQueries();
    void stateIsReportedOnceWhenQuiet();
    void framingIsIndependentOfChunks_data();
    void framingIsIndependentOfChunks();
    void nameValues_data();
    void nameValues();
    void crosspointAndLockLists();
    void inputStatus();
    void refusalsInsidePendingBlocksOnly();
    void resyncReportsListsInFull();
    void changesAfterConnectedAreIncremental();
    void hostileInputIsBounded();
    void unfinishedFourMiBLineInSixteenBytePieces();
    void longestLinesCostOnePassOverThePorts();
    void stoppedParserReportsNothing();
};

void TestLW3Parser::signaturesWrap()
{
    Harness h;
    QCOMPARE(h.parser.registerCommand("Route"), QStringLiteral("0001"));
    QCOMPARE(h.parser.registerCommand("Lock"), QStringLiteral("0002"));
    for (int i = 3; i < 0xFFFF; ++i)
        h.parser.registerCommand("Route");
    QCOMPARE(h.parser.registerCommand("Route"), QStringLiteral("FFFF"));
    QCOMPARE(h.parser.registerCommand("Route"), QStringLiteral("0000")); // the 65536th
    QCOMPARE(h.parser.registerCommand("Route"), QStringLiteral("0001"));
    // Recurring signatures replace older entries: the table cannot outgrow the counter.
    QCOMPARE(h.parser.pendingCommandCount(), 65536);
}

void TestLW3Parser::initialQueriesAndStatusQueries()
{
    Harness h;
    h.parser.beginInitialQueries();
    QCOMPARE(
        h.sent,
        (QStringList { "GET /.ProductName", "GET /MEDIA/NAMES/VIDEO.*", "GET /MEDIA/XP/VIDEO.*" }));
    h.sent.clear();
    h.feed("pr /MEDIA/NAMES/VIDEO.I1=1;A\n");
    QVERIFY(!h.armed.contains(LW3Parser::Timer::namesQuiet)); // no output yet
    h.feed("pr /MEDIA/NAMES/VIDEO.O1=1;B\npr /MEDIA/NAMES/VIDEO.I2=1;C\n");
    QVERIFY(h.armed.contains(LW3Parser::Timer::namesQuiet));
    h.fire(LW3Parser::Timer::namesQuiet);
    QCOMPARE(h.sent,
             (QStringList { "OPEN /MEDIA/XP/VIDEO", "OPEN /MEDIA/NAMES/VIDEO",
                            "GET /MEDIA/PORTS/VIDEO/I1/STATUS.SignalPresent",
                            "GET /MEDIA/PORTS/VIDEO/I1/STATUS.ActiveResolution",
                            "OPEN /MEDIA/PORTS/VIDEO/I1/STATUS",
                            "GET /MEDIA/PORTS/VIDEO/I2/STATUS.SignalPresent",
                            "GET /MEDIA/PORTS/VIDEO/I2/STATUS.ActiveResolution",
                            "OPEN /MEDIA/PORTS/VIDEO/I2/STATUS" }));
    // Issued once: later names do not re-arm it.
    h.feed("pr /MEDIA/NAMES/VIDEO.I3=1;D\n");
    QVERIFY(!h.armed.contains(LW3Parser::Timer::namesQuiet));
}

void TestLW3Parser::stateIsReportedOnceWhenQuiet()
{
    Harness h;
    h.feed("pr /MEDIA/NAMES/VIDEO.I1=1;Cam\npr /MEDIA/NAMES/VIDEO.O2=1;Mon\n");
    QVERIFY(!h.armed.contains(LW3Parser::Timer::finalize)); // no crosspoint list yet
    h.feed("pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I1;0\n");
    QVERIFY(h.armed.contains(LW3Parser::Timer::finalize));
    QVERIFY(h.events.isEmpty()); // silent while reading
    h.fire(LW3Parser::Timer::finalize);
    QCOMPARE(h.events.size(), 1);
    const RouterState state = h.connectedState();
    QCOMPARE(state.model, QStringLiteral("Lightware MX2")); // no product name line
    QCOMPARE(state.deviceName, QStringLiteral("Stage Matrix"));
    QCOMPARE(state.vendor, RouterVendor(RouterVendor::lightware));
    QCOMPARE(state.sources, (QList<Port> { { 0, PortKind::source, "Cam" } }));
    QCOMPARE(state.destinations,
             (QList<Port> { { 0, PortKind::destination, "Out 1" },
                            { 1, PortKind::destination, "Mon" } }));
    QCOMPARE(state.routing.value(0), (LevelRouting { { 0, 0 } }));
    QCOMPARE(state.levels, (QList<RouterLevel> { { 0, "Video", LevelKind::video } }));
    h.parser.timerFired(LW3Parser::Timer::finalize);
    QCOMPARE(h.events.size(), 1); // once
}

void TestLW3Parser::framingIsIndependentOfChunks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("LF") << QByteArray("pr /.ProductName=MX\npr /MEDIA/NAMES/VIDEO.I1=1;A\n");
    QTest::newRow("CR LF") << QByteArray("pr /.ProductName=MX\r\npr /MEDIA/NAMES/VIDEO.I1=1;A\r\n");
    // A lone CR is dropped, not a line end.
    QTest::newRow("stray CR") << QByteArray(
        "pr /.Product\rName=MX\npr /MEDIA/NAMES/VIDEO.I1=1;A\n");
}

void TestLW3Parser::framingIsIndependentOfChunks()
{
    QFETCH(QByteArray, bytes);
    for (int split = 0; split <= bytes.size(); ++split) {
        Harness h;
        h.feed(bytes.left(split));
        h.feed(bytes.mid(split));
        h.feed("pr /MEDIA/NAMES/VIDEO.O1=1;B\npr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I1\n");
        h.fire(LW3Parser::Timer::finalize);
        const RouterState state = h.connectedState();
        QCOMPARE(state.model, QStringLiteral("MX"));
        QCOMPARE(state.sources.value(0).label, QStringLiteral("A"));
    }
}

void TestLW3Parser::nameValues_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("prefix"); // "-" for none
    QTest::newRow("prefix and label") << QByteArray("I1=7;Camera") << "Camera"
                                      << "7";
    QTest::newRow("no semicolon keeps prefix")
        << QByteArray("I1=7;Camera\npr /MEDIA/NAMES/VIDEO.I1=Plain") << "Plain"
        << "7";
    QTest::newRow("only semicolon at end") << QByteArray("I1=3;") << ""
                                           << "3";
    QTest::newRow("second semicolon stays") << QByteArray("I1=2;A;B") << "A;B"
                                            << "2";
    QTest::newRow("no prefix at all") << QByteArray("I1=Plain") << "Plain"
                                      << "-";
}

void TestLW3Parser::nameValues()
{
    QFETCH(QByteArray, lines);
    QFETCH(QString, label);
    QFETCH(QString, prefix);
    Harness h;
    h.feed("pr /MEDIA/NAMES/VIDEO." + lines
           + "\npr /MEDIA/NAMES/VIDEO.O1=1;B\n"
             "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I1\n");
    h.fire(LW3Parser::Timer::finalize);
    QCOMPARE(h.connectedState().sources.value(0).label, label);
    QCOMPARE(h.parser.namePrefix("I1").value_or("-"), prefix);
}

void TestLW3Parser::crosspointAndLockLists()
{
    Harness h;
    h.feed("pr /MEDIA/NAMES/VIDEO.I3=1;C\npr /MEDIA/NAMES/VIDEO.O5=1;E\n"
           "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;0;\t I1 ;I0;X;I9999999999\n"
           "pr /MEDIA/XP/VIDEO.DestinationPortStatus=L;T; L;LX;\n");
    h.fire(LW3Parser::Timer::finalize);
    const RouterState state = h.connectedState();
    QCOMPARE(state.routing.value(0), (LevelRouting { { 0, 1 }, { 2, 0 } }));
    QCOMPARE(state.lockedDestinations, (QSet<int> { 0, 3 }));
    // Port names of number 0 change neither count nor label.
    QCOMPARE(state.sources.size(), 3);
    h.events.clear();
    h.feed("pr /MEDIA/NAMES/VIDEO.I0=1;Zero\npr /MEDIA/NAMES/VIDEO.O0=1;Zero\n");
    QVERIFY(h.events.isEmpty());
}

void TestLW3Parser::inputStatus()
{
    Harness h;
    h.bringUp();
    const QByteArray path = "CHG /MEDIA/PORTS/VIDEO/I1/STATUS.";
    h.feed(path + "SignalPresent=True\n" + path + "ActiveResolution=1920x1080p50\n");
    h.feed(path + "SignalPresent=FALSE\n");
    h.feed(path + "ActiveResolution=720p\n");
    h.feed(path + "ActiveResolution=\n");
    h.feed(path + "ActiveResolution=\n"); // unchanged: silent
    h.feed("CHG /MEDIA/PORTS/VIDEO/I0/STATUS.SignalPresent=true\n"
           "CHG /MEDIA/PORTS/VIDEO/Ix/STATUS.SignalPresent=true\n"
           "CHG /MEDIA/PORTS/VIDEO/I1/STATUS.Other=1\n");
    using S = InputSignalStatus;
    QCOMPARE(h.events,
             (QList<RouterDriverEvent> {
                 RouterDriverEvent::makeInputStatusChanged(0, S { true, std::nullopt }),
                 RouterDriverEvent::makeInputStatusChanged(0, S { true, "1920x1080p50" }),
                 RouterDriverEvent::makeInputStatusChanged(0, S { false, std::nullopt }),
                 RouterDriverEvent::makeInputStatusChanged(0, S { false, "720p" }),
                 RouterDriverEvent::makeInputStatusChanged(0, S { false, std::nullopt }) }));
}

void TestLW3Parser::refusalsInsidePendingBlocksOnly()
{
    Harness h;
    h.bringUp();
    const QString sig = h.parser.registerCommand("Lock");
    h.feed("mE /MEDIA/XP/VIDEO%E001%first%second\n"); // outside a block
    QVERIFY(h.events.isEmpty());
    // Told once to the link's table, which puts back what was asked and reads the lists.
    h.feed("{" + sig.toUtf8() + "\nmE /MEDIA/XP/VIDEO%E001%first%second\nmE again\n}\n");
    QCOMPARE(h.refusals, QStringList { "Lock refused: second" });
    QVERIFY(h.events.isEmpty() && h.sent.isEmpty());
    QCOMPARE(h.parser.pendingCommandCount(), 0);
    // The block of a signature that is no longer pending is ignored.
    h.feed("{" + sig.toUtf8() + "\npE no percent here\n}\n");
    QCOMPARE(h.refusals.size(), 1);
    // A refusal without "%" carries the whole line.
    const QString route = h.parser.registerCommand("Route");
    h.feed("{" + route.toUtf8() + "\nmF failed\n}\n");
    QCOMPARE(h.refusals.last(), QStringLiteral("Route refused: mF failed"));
}

void TestLW3Parser::resyncReportsListsInFull()
{
    Harness early;
    early.parser.resyncFromSendFailure(); // a failed write before `connected`: no resync
    QVERIFY(early.sent.isEmpty());

    Harness h;
    h.bringUp(); // routing {0:1, 1:0}, locks {1}
    h.parser.resyncFromSendFailure();
    QCOMPARE(h.sent, QStringList { "GET /MEDIA/XP/VIDEO.*" });
    h.feed("pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;0\n");
    QCOMPARE(
        h.events,
        (QList<RouterDriverEvent> { RouterDriverEvent::makeRouteChanged(0, 0, 1),
                                    RouterDriverEvent::makeRouteChanged(0, 1, std::nullopt) }));
    h.events.clear();
    // Still forced until the lock list has come too.
    h.feed("pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;0\n");
    QCOMPARE(h.events.size(), 2);
    h.events.clear();
    h.feed("pr /MEDIA/XP/VIDEO.DestinationPortStatus=T;L\n");
    QCOMPARE(h.events,
             (QList<RouterDriverEvent> { RouterDriverEvent::makeLockChanged(0, false),
                                         RouterDriverEvent::makeLockChanged(1, true) }));
    h.events.clear();
    h.feed("pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;0\n"
           "pr /MEDIA/XP/VIDEO.DestinationPortStatus=T;L\n");
    QVERIFY(h.events.isEmpty());
}

void TestLW3Parser::changesAfterConnectedAreIncremental()
{
    Harness h;
    h.bringUp();
    h.feed("CHG /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;I2\n"
           "CHG /MEDIA/XP/VIDEO.DestinationPortStatus=T;T\n"
           "CHG /MEDIA/NAMES/VIDEO.O1=1;Mon A\n" // unchanged
           "CHG /MEDIA/NAMES/VIDEO.I5=1;Late\n" // beyond the reported sources
           "CHG /.ProductName=Other\n");
    QCOMPARE(h.events,
             (QList<RouterDriverEvent> {
                 RouterDriverEvent::makeRouteChanged(0, 1, 1),
                 RouterDriverEvent::makeLockChanged(1, false),
                 RouterDriverEvent::makeLabelChanged(PortKind::source, 4, "Late") }));
}

void TestLW3Parser::hostileInputIsBounded()
{
    Harness h;
    // Port numbers past the cap are ignored, so nothing is sized from them, and their
    // prefixes are not kept.
    h.feed("pr /MEDIA/NAMES/VIDEO.I4097=9;Huge\npr /MEDIA/NAMES/VIDEO.I99999999999=9;Huge\n"
           "pr /MEDIA/NAMES/VIDEO.Q1=9;Odd\npr /MEDIA/NAMES/VIDEO.Ixyz=9;Odd\n"
           "pr /MEDIA/NAMES/VIDEO.I4096=1;Last\npr /MEDIA/NAMES/VIDEO.O1=1;One\n"
           "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus="
           + QByteArray(10000, ';') + "\nno equals sign here\npr missing-equals\n");
    QVERIFY(!h.parser.namePrefix("I4097"));
    QVERIFY(!h.parser.namePrefix("Q1"));
    QVERIFY(!h.parser.namePrefix("Ixyz"));
    // Names past the length limit are cut as they arrive.
    const QByteArray longName(5000, 'n');
    h.feed("pr /.ProductName=" + longName + "\npr /MEDIA/NAMES/VIDEO.I2=" + longName + ';'
           + longName + '\n');
    QCOMPARE(h.parser.namePrefix("I2"), QString(maxRouterNameLength, u'n'));
    h.fire(LW3Parser::Timer::finalize);
    const RouterState state = h.connectedState();
    QCOMPARE(state.sources.size(), 4096);
    QCOMPARE(state.model, QString(maxRouterNameLength, u'n'));
    QCOMPARE(state.sources.at(1).label, QString(maxRouterNameLength, u'n'));

    // A line that never ends is refused instead of buffered without bound.
    Harness g;
    const QByteArray chunk(64 * 1024, 'x');
    bool accepted = true;
    for (int i = 0; i < 80 && accepted; ++i)
        accepted = g.parser.ingest(chunk);
    QVERIFY(!accepted);
}

void TestLW3Parser::unfinishedFourMiBLineInSixteenBytePieces()
{
    // Each piece used to search the whole line from its start again: 5.6 s of CPU.
    Harness h;
    const QByteArray line = "pr /.ProductName=" + QByteArray(LW3Parser::maxLineLength - 17, 'n');
    for (qsizetype at = 0; at < line.size(); at += 16)
        h.feed(line.mid(at, 16));
    QCOMPARE(h.parser.bufferedBytes(), LW3Parser::maxLineLength); // the longest line kept
    QVERIFY(h.parser.scannedBytes() <= 2 * line.size()); // each byte looked at about once
    h.feed("\r\n");
    QCOMPARE(h.parser.bufferedBytes(), 0);
}

void TestLW3Parser::longestLinesCostOnePassOverThePorts()
{
    // A list line as long as a line may be was split whole before the port cap applied:
    // three lines of ";" held 151 MB at once.
    QList<RouterDriverEvent> events;
    qint64 base = 0;
    qint64 peak = 0;
    // Events are reported while a line is being read: the heap is measured then.
    LW3Parser parser(QStringLiteral("Matrix"),
                     { [&](const RouterDriverEvent &e) {
                          events.append(e);
                          peak = std::max(peak, Platform::heapInUse() - base);
                      },
                       {},
                       {},
                       { {},
                         [&](quint64, const QString &why) {
                             events.append(RouterDriverEvent::makeCommandRefused(why));
                         },
                         {},
                         {} } });
    QVERIFY(parser.ingest("pr /MEDIA/NAMES/VIDEO.I1=1;A\npr /MEDIA/NAMES/VIDEO.I2=1;B\n"
                          "pr /MEDIA/NAMES/VIDEO.O1=1;C\npr /MEDIA/NAMES/VIDEO.O2=1;D\n"
                          "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I2;I1\n"
                          "pr /MEDIA/XP/VIDEO.DestinationPortStatus=T;L\n"));
    parser.timerFired(LW3Parser::Timer::finalize);
    QVERIFY(parser.hasReportedConnected());
    const QByteArray signature = parser.registerCommand("Lock").toUtf8();
    const qsizetype length = LW3Parser::maxLineLength - 128;
    const QList<QByteArray> lines {
        "CHG /MEDIA/XP/VIDEO.DestinationConnectionStatus=" + QByteArray(length, ';') + '\n',
        "CHG /MEDIA/XP/VIDEO.DestinationPortStatus=" + QByteArray(length, ';') + '\n',
        '{' + signature + "\nmE " + QByteArray(length, '%') + "Locked\n}\n",
    };
    for (const QByteArray &line : lines) {
        events.clear();
        peak = 0;
        base = Platform::heapInUse();
        QVERIFY(parser.ingest(line));
        // At most one event per port, and the heap within a few times the line.
        QVERIFY(!events.isEmpty());
        QVERIFY(events.size() <= LW3Parser::maxPortNumber);
        QVERIFY2(peak <= 6 * line.size(), QByteArray::number(peak));
    }
    QCOMPARE(events, QList { RouterDriverEvent::makeCommandRefused("Lock refused: Locked") });
}

void TestLW3Parser::stoppedParserReportsNothing()
{
    Harness h;
    h.feed("pr /MEDIA/NAMES/VIDEO.I1=1;A\npr /MEDIA/NAMES/VIDEO.O1=1;B\n"
           "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I1\n");
    h.parser.stop();
    h.parser.timerFired(LW3Parser::Timer::namesQuiet);
    h.parser.timerFired(LW3Parser::Timer::finalize);
    QVERIFY(h.events.isEmpty()); // no `connected` after the end of a link
    QVERIFY(h.sent.isEmpty());
}

QTEST_GUILESS_MAIN(TestLW3Parser)
#include "tst_lw3parser.moc"

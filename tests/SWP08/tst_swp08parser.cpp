#include "Drivers/SWP08Parser.h"

#include "TestSupport.h"

#include <QtTest>

using Timer = SWP08Parser::Timer;
using Pending = SWP08Parser::PendingCommand;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

RouterConnection router(int sources, int destinations)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Ultrix Main");
    connection.vendor = RouterVendor::rossUltrix;
    connection.port = 2000;
    connection.simSourceCount = sources;
    connection.simDestinationCount = destinations;
    return connection;
}

// A message as a router would send it, framed by our own encoder.
QByteArray tally(int level, int destination, int source, char command = 0x03)
{
    const QByteArray message { QByteArray(1, command) + QByteArray(1, char(level & 0x0F))
                               + QByteArray(1, char(((destination / 128) << 4) | (source / 128)))
                               + QByteArray(1, char(destination % 128))
                               + QByteArray(1, char(source % 128)) };
    return SWP08Parser::frame(message);
}

struct Harness : TestSupport::ParserHarness<SWP08Parser>
{
    explicit Harness(const RouterConnection &connection = router(16, 16))
        : ParserHarness(connection)
    { }

    // Brings the parser online with the given level-0 tallies.
    void connect(const QList<std::pair<int, int>> &routes)
    {
        for (const auto &[destination, source] : routes)
            parser.ingest(tally(0, destination, source));
        parser.finalize();
        clear();
    }
};

const QByteArray ack = hex("1006");
const QByteArray nak = hex("1015");

} // namespace

class TestSWP08Parser : public QObject
{
    Q_OBJECT

private slots:
    void framesOutgoingMessages_data();
    void framesOutgoingMessages();
    void rejectsUnaddressableCrosspoints_data();
    void rejectsUnaddressableCrosspoints();
    void readsTallyWholeSplitAndGlued_data();
    void readsTallyWholeSplitAndGlued();
    void answersBadFramesWithNak_data();
    void answersBadFramesWithNak();
    void framingRecovers_data();
    void framingRecovers();
    void oversizeFrameIsDroppedAndRefused();
    void debounceAndConnectedState();
    void changesAfterConnected();
    void levelsKeepTheirOwnRouting();
    void outOfRangeTallyReportedOnceAndNeverConnects();
    void readLimitAndExpansionBudget();
    void noAnswerCheck();
    void stoppedParserIgnoresTimers();
    void savedSizesAreBounded_data();
    void savedSizesAreBounded();
    void interrogationIsOneWrite();
    void acknowledgementsMatchPendingByOrder();
    void refusedRouteIsReportedAgainEvenWhenUnchanged();
    void failedWriteDropsNewestPendingConnect();
    void pendingQueueIsCapped();
};

void TestSWP08Parser::framesOutgoingMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("wire");

    // CONNECT src 130 -> dst 5, level 0: 02 | lvl 00 | mult 01 (src/128) | dst 05 | src 02
    QTest::newRow("connect 130->5")
        << SWP08Parser::connectPayload(130, 5, 0) << hex("1002 0200010502 05 F1 1003");
    // INTERROGATE dst 5: 01 | 00 | mult 00 | dst 05
    QTest::newRow("interrogate 5")
        << SWP08Parser::interrogatePayload(5) << hex("1002 01000005 04 F6 1003");
    // INTERROGATE dst 16: the data byte 0x10 travels doubled
    QTest::newRow("interrogate 16 doubles DLE")
        << SWP08Parser::interrogatePayload(16) << hex("1002 0100001010 04 EB 1003");
    // CONNECT src 1023 -> dst 1023, level 15: mult 0x77, remainders 0x7F
    QTest::newRow("connect highest crosspoint")
        << SWP08Parser::connectPayload(1023, 1023, 15) << hex("1002 020F777F7F 05 75 1003");
    // Sixteen zero bytes: the byte count itself is 0x10 and is doubled too
    QTest::newRow("byte count 0x10 doubled") << QByteArray(16, 0)
                                             << hex("1002 00000000000000000000000000000000"
                                                    "1010 F0 1003");
    QTest::newRow("longer than 255 bytes is not framed") << QByteArray(256, 1) << QByteArray();
}

void TestSWP08Parser::framesOutgoingMessages()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, wire);
    QCOMPARE(SWP08Parser::frame(message).toHex(' '), wire.toHex(' '));
}

void TestSWP08Parser::rejectsUnaddressableCrosspoints_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("destination");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("error"); // empty: addressable

    QTest::newRow("lowest") << 0 << 0 << 0 << QString();
    QTest::newRow("highest") << 1023 << 1023 << 15 << QString();
    QTest::newRow("source 1024") << 1024 << 0 << 0
                                 << QStringLiteral("Source 1025 isn't supported by this router.");
    QTest::newRow("destination 1024")
        << 0 << 1024 << 0 << QStringLiteral("Destination 1025 isn't supported by this router.");
    QTest::newRow("negative source")
        << -1 << 0 << 0 << QStringLiteral("Source 0 isn't supported by this router.");
    QTest::newRow("level 16") << 0 << 0 << 16
                              << QStringLiteral("Level 17 isn't supported by this router.");
    QTest::newRow("negative level")
        << 0 << 0 << -1 << QStringLiteral("Level 0 isn't supported by this router.");
}

void TestSWP08Parser::rejectsUnaddressableCrosspoints()
{
    QFETCH(int, source);
    QFETCH(int, destination);
    QFETCH(int, level);
    QFETCH(QString, error);
    const auto result = SWP08Parser::addressError(source, destination, level);
    QCOMPARE(result.has_value(), !error.isEmpty());
    if (result)
        QCOMPARE(result->localizedDescription(), error);
}

void TestSWP08Parser::readsTallyWholeSplitAndGlued_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("destination");
    QTest::addColumn<int>("source");

    // TALLY dst 200 src 5 level 0: 03 | 00 | mult 0x10 (doubled) | dst 0x48 | src 05
    QTest::newRow("tally 200<-5") << hex("1002 03 00 1010 48 05 05 9B 1003") << 0 << 200 << 5;
    QTest::newRow("connected 7<-1000 level 2") << tally(2, 7, 1000, 0x04) << 2 << 7 << 1000;
    // The matrix nibble is not looked at.
    QTest::newRow("matrix nibble ignored")
        << SWP08Parser::frame(hex("03 31 00 04 09")) << 1 << 4 << 9;
}

void TestSWP08Parser::readsTallyWholeSplitAndGlued()
{
    QFETCH(QByteArray, wire);
    QFETCH(int, level);
    QFETCH(int, destination);
    QFETCH(int, source);
    const QByteArray next = tally(0, 1, 1);

    // Whole, then every split into two chunks, with the next frame glued on.
    for (int cut = 0; cut <= wire.size(); ++cut) {
        Harness h(router(1024, 1024));
        h.connect({});
        const QByteArray stream = wire + next;
        h.parser.ingest(stream.left(cut));
        h.parser.ingest(stream.mid(cut));
        QCOMPARE(h.written(), ack + ack);
        QCOMPARE(h.events.size(), 2);
        QCOMPARE(h.events[0], RouterDriverEvent::makeRouteChanged(level, destination, source));
        QCOMPARE(h.events[1], RouterDriverEvent::makeRouteChanged(0, 1, 1));
    }
    // Byte by byte.
    Harness h(router(1024, 1024));
    h.connect({});
    for (char byte : wire)
        h.parser.ingest(QByteArray(1, byte));
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(level, destination, source) });
}

void TestSWP08Parser::answersBadFramesWithNak_data()
{
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("bad checksum") << hex("1002 03 00 00 05 02 05 F0 1003");
    QTest::newRow("byte count too high") << hex("1002 03 00 00 05 02 06 EF 1003");
    QTest::newRow("byte count too low") << hex("1002 03 00 00 05 02 04 F1 1003");
    QTest::newRow("two bytes") << hex("1002 00 00 1003");
    QTest::newRow("empty frame") << hex("1002 1003");
}

void TestSWP08Parser::answersBadFramesWithNak()
{
    QFETCH(QByteArray, wire);
    Harness h;
    h.parser.ingest(wire);
    QCOMPARE(h.written().toHex(' '), nak.toHex(' '));
    QVERIFY(h.events.isEmpty());
    QVERIFY(h.armed.isEmpty());
    QVERIFY(!h.parser.tallyReceived());
    QVERIFY(h.parser.routing().isEmpty());
}

void TestSWP08Parser::framingRecovers_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("answers");

    const QByteArray good = tally(0, 3, 4);
    QTest::newRow("garbage before a frame") << hex("FF 00 03 41") + good << ack;
    QTest::newRow("new head restarts an unfinished frame") << hex("1002 03 00 00") + good << ack;
    QTest::newRow("unknown escape is dropped") << hex("10 7F") + good << ack;
    QTest::newRow("tail without head is ignored") << hex("0102 1003") + good << ack;
    QTest::newRow("escaped DLE outside a frame") << hex("1010") + good << ack;
}

void TestSWP08Parser::framingRecovers()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, answers);
    Harness h;
    h.parser.ingest(wire);
    QCOMPARE(h.written(), answers);
    QCOMPARE(h.parser.routing().value(0).value(3, -1), 4);
}

void TestSWP08Parser::oversizeFrameIsDroppedAndRefused()
{
    Harness h;
    // A head followed by more bytes than any legal frame holds, then its tail.
    QByteArray flood = hex("1002") + QByteArray(SWP08Parser::maxFrameLength + 100, 0x01);
    h.parser.ingest(flood);
    QCOMPARE(h.written(), nak); // refused once, when it outgrew the limit
    h.parser.ingest(hex("1003") + tally(0, 2, 9));
    QCOMPARE(h.written(), nak + ack);
    QCOMPARE(h.parser.routing().value(0).value(2, -1), 9);

    // The longest legal frame still passes.
    Harness longest;
    QByteArray message(SWP08Parser::maxMessageLength, 0x01);
    message[0] = 0x7F; // not a tally
    longest.parser.ingest(SWP08Parser::frame(message));
    QCOMPARE(longest.written(), ack);
}

void TestSWP08Parser::debounceAndConnectedState()
{
    Harness h(router(16, 8));
    h.parser.ingest(tally(0, 0, 3) + tally(0, 7, 15));
    QVERIFY(h.events.isEmpty()); // nothing before the state is complete
    QCOMPARE(h.armed, (QList { Timer::finalize, Timer::finalize })); // each tally re-arms

    h.parser.finalize();
    QCOMPARE(h.events.size(), 1);
    const RouterDriverEvent &connected = h.events[0];
    QCOMPARE(connected.type, RouterDriverEvent::connected);
    const RouterState &state = connected.state;
    QCOMPARE(state.deviceName, QStringLiteral("Ultrix Main"));
    QCOMPARE(state.model, QStringLiteral("SW-P-08 16×8"));
    QCOMPARE(state.sources.size(), 16);
    QCOMPARE(state.destinations.size(), 8);
    QCOMPARE(state.sources[0], (Port { 0, PortKind::source, QStringLiteral("In 1") }));
    QCOMPARE(state.destinations[7], (Port { 7, PortKind::destination, QStringLiteral("Out 8") }));
    QCOMPARE(state.levels,
             (QList<RouterLevel> { { 0, QStringLiteral("Video"), LevelKind::video } }));
    QCOMPARE(state.routing.value(0), (LevelRouting { { 0, 3 }, { 7, 15 } }));
    QVERIFY(state.lockedDestinations.isEmpty());
    QVERIFY(state.inputStatus.isEmpty());

    h.parser.finalize(); // once only
    QCOMPARE(h.events.size(), 1);
}

void TestSWP08Parser::changesAfterConnected()
{
    Harness h;
    h.connect({ { 4, 2 } });
    h.parser.ingest(tally(0, 4, 2)); // repeats what we hold
    QVERIFY(h.events.isEmpty());
    QCOMPARE(h.written(), ack); // still acknowledged
    h.parser.ingest(tally(0, 4, 6));
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(0, 4, 6) });
    QVERIFY(h.armed.isEmpty()); // no debounce once online
}

void TestSWP08Parser::levelsKeepTheirOwnRouting()
{
    // A tally on another level used to overwrite level 0's entry and then hide level 0's
    // next change as a repeat.
    Harness h;
    h.connect({ { 4, 2 } });
    h.parser.ingest(tally(3, 4, 9));
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(3, 4, 9) });
    QCOMPARE(h.parser.routing().value(0).value(4), 2);
    h.events.clear();
    h.parser.ingest(tally(0, 4, 2)); // level 0 unchanged: still nothing to report
    QVERIFY(h.events.isEmpty());
    h.parser.ingest(tally(0, 4, 9)); // level 0 really changes: reported
    QCOMPARE(h.events, QList { RouterDriverEvent::makeRouteChanged(0, 4, 9) });

    // A level-5 tally before `connected` used to give levels [Video] with routing for
    // levels {0, 5}. The state holds the listed level only; level 5 is reported once online.
    Harness before;
    before.parser.ingest(tally(0, 1, 1) + tally(5, 1, 7));
    before.parser.finalize();
    const RouterState state = before.events[0].state;
    QCOMPARE(state.routing.keys(), QList { 0 });
    QCOMPARE(state.routing.value(0), (LevelRouting { { 1, 1 } }));
    QCOMPARE(state.levels.size(), 1);
    before.events.clear();
    before.parser.ingest(tally(5, 1, 7));
    QCOMPARE(before.events, QList { RouterDriverEvent::makeRouteChanged(5, 1, 7) });
}

void TestSWP08Parser::outOfRangeTallyReportedOnceAndNeverConnects()
{
    Harness h(router(16, 16));
    const QString beyond
        = QStringLiteral("The device reports ports beyond the configured 16×16 — increase the "
                         "matrix size in this router's settings.");
    h.parser.ingest(tally(0, 16, 0) + tally(0, 0, 16) + tally(0, 200, 5));
    QCOMPARE(h.written(), ack + ack + ack);
    QVERIFY(h.armed.isEmpty()); // no finalize: never connects on these alone
    QVERIFY(h.parser.routing().isEmpty());
    QVERIFY(h.parser.tallyReceived());
    QVERIFY(h.parser.checkAnswered()); // the router does speak SW-P-08: no "no answer" error
    // At the read's limit the link ends with the reason, once (it also came as a refusal).
    QVERIFY(!h.parser.readLimitReached());
    QCOMPARE(h.events, QList { RouterDriverEvent::makeError(beyond) });

    // With some tallies in range the warning follows the state, where the banner keeps it.
    Harness mixed(router(16, 16));
    mixed.parser.ingest(tally(0, 200, 5) + tally(0, 3, 4));
    mixed.parser.finalize();
    mixed.parser.ingest(tally(0, 300, 5)); // once per driver
    QCOMPARE(mixed.events.mid(1), QList { RouterDriverEvent::makeCommandRefused(beyond) });
}

void TestSWP08Parser::readLimitAndExpansionBudget()
{
    // Tallies that never went quiet held the state back for good: at the limit it is
    // reported as it stands.
    Harness h;
    h.parser.ingest(tally(0, 3, 4));
    QVERIFY(h.parser.readLimitReached());
    QCOMPARE(h.events.size(), 1);
    QCOMPARE(h.events.first().state.routing.value(0), (LevelRouting { { 3, 4 } }));
    QVERIFY(h.parser.readLimitReached()); // once
    QCOMPARE(h.events.size(), 1);

    // The most one receive can bring: a change per tally (eleven bytes at least), a refusal
    // per DLE NAK (two bytes).
    h.clear();
    QByteArray tallies;
    for (int i = 0; tallies.size() < 65536 - 16; ++i)
        tallies += tally(0, i % 16, (i / 16 + i) % 16);
    h.parser.ingest(tallies);
    QVERIFY(h.events.size() <= tallies.size() / 11);
    h.clear();
    h.parser.ingest(nak.repeated(65536 / 2));
    QCOMPARE(h.events.size(), 65536 / 2);
}

void TestSWP08Parser::noAnswerCheck()
{
    Harness silent;
    silent.parser.beginInterrogation();
    QCOMPARE(silent.armed, QList { Timer::noAnswer });
    QVERIFY(!silent.parser.checkAnswered()); // the link ends
    QCOMPARE(silent.events,
             QList { RouterDriverEvent::makeError(
                 QStringLiteral("The device answered TCP but spoke no SW-P-08 — check the port "
                                "and matrix size.")) });

    Harness answered;
    answered.parser.beginInterrogation();
    answered.parser.ingest(tally(0, 0, 0));
    answered.parser.checkAnswered();
    QVERIFY(answered.events.isEmpty());
}

void TestSWP08Parser::stoppedParserIgnoresTimers()
{
    // After the link ends, a late debounce must not report "connected" and a late check
    // must not blame the router for silence.
    Harness h;
    h.parser.ingest(tally(0, 0, 0));
    h.parser.stop();
    h.parser.finalize();
    Harness silent;
    silent.parser.stop();
    silent.parser.checkAnswered();
    QVERIFY(h.events.isEmpty());
    QVERIFY(silent.events.isEmpty());
}

void TestSWP08Parser::savedSizesAreBounded_data()
{
    QTest::addColumn<int>("saved");
    QTest::addColumn<int>("used");
    QTest::newRow("zero") << 0 << 2;
    QTest::newRow("one") << 1 << 2;
    QTest::newRow("negative") << -5 << 2;
    QTest::newRow("1024") << 1024 << 1024;
    QTest::newRow("beyond the protocol") << 5000 << 1024;
    QTest::newRow("damaged file") << std::numeric_limits<int>::max() << 1024;
}

void TestSWP08Parser::savedSizesAreBounded()
{
    QFETCH(int, saved);
    QFETCH(int, used);
    Harness h(router(saved, saved));
    QCOMPARE(h.parser.sourceCount(), used);
    QCOMPARE(h.parser.destinationCount(), used);
    h.parser.beginInterrogation();
    QCOMPARE(h.parser.pendingCommands().size(), used);
}

void TestSWP08Parser::interrogationIsOneWrite()
{
    Harness h(router(4, 3));
    h.parser.beginInterrogation();
    QCOMPARE(h.writes.size(), 1);
    QCOMPARE(h.writes[0],
             SWP08Parser::frame(SWP08Parser::interrogatePayload(0))
                 + SWP08Parser::frame(SWP08Parser::interrogatePayload(1))
                 + SWP08Parser::frame(SWP08Parser::interrogatePayload(2)));
    QCOMPARE(h.parser.pendingCommands(),
             (QList<Pending> { { Pending::interrogate, 0, 0 },
                               { Pending::interrogate, 1, 0 },
                               { Pending::interrogate, 2, 0 } }));
}

void TestSWP08Parser::acknowledgementsMatchPendingByOrder()
{
    Harness h;
    h.parser.beginInterrogation();
    h.connect({});
    h.parser.prepareConnect(3, 5, 0);
    QCOMPARE(h.parser.pendingCommands().size(), 17);

    // A NAK pops the oldest command; an interrogation refused says nothing.
    h.parser.ingest(nak);
    QVERIFY(h.events.isEmpty());
    QVERIFY(h.writes.isEmpty());
    // ACK removes the oldest whatever it is.
    h.parser.ingest(ack);
    QCOMPARE(h.parser.pendingCommands().size(), 15);
    QCOMPARE(h.parser.pendingCommands().first(), (Pending { Pending::interrogate, 2, 0 }));

    // Only the CONNECT left: its NAK refuses it, for the link's table to put back and ask.
    Harness take;
    take.parser.prepareConnect(3, 5, 2);
    take.parser.ingest(hex("1002 03") + nak); // honoured inside an open frame
    QVERIFY(take.events.isEmpty());
    QCOMPARE(take.refusals, QStringList { QStringLiteral("The router refused the route (NAK).") });
    QVERIFY(take.parser.pendingCommands().isEmpty());
    take.clear();
    take.parser.ingest(hex("00 00 05 02 05 F1 1003")); // the open frame goes on
    QCOMPARE(take.written(), ack);
    // A router that sends no acknowledgements answers a CONNECT with its tally alone.
    take.parser.prepareConnect(1, 4, 0);
    take.parser.ingest(tally(0, 4, 1) + ack + ack); // a late ACK answers nothing more
    QCOMPARE(take.answers, 1);
    // A CONNECT forgotten beyond the cap is no longer waited for.
    for (int i = 0; i <= SWP08Parser::maxPendingCommands; ++i)
        take.parser.prepareConnect(1, 4, 0);
    QCOMPARE(take.answers, 2);

    // Nothing pending at all.
    Harness idle;
    idle.parser.ingest(nak);
    QCOMPARE(idle.events,
             QList { RouterDriverEvent::makeCommandRefused(
                 QStringLiteral("The router refused the command (NAK).")) });
    QVERIFY(idle.writes.isEmpty());
}

void TestSWP08Parser::refusedRouteIsReportedAgainEvenWhenUnchanged()
{
    // The refusal left the controller showing its optimistic source; a tally that repeats
    // what the parser holds changes nothing, but still reaches the table that puts it back.
    Harness h;
    h.connect({ { 5, 1 } });
    h.parser.ingest(tally(0, 5, 1));
    QVERIFY(h.events.isEmpty());
    QCOMPARE(h.reports, QList { CommandTarget::route(0, 5, 1) });
}

void TestSWP08Parser::failedWriteDropsNewestPendingConnect()
{
    Harness h;
    h.parser.prepareConnect(1, 5, 0);
    h.parser.prepareConnect(2, 6, 0);
    h.parser.prepareConnect(3, 5, 0);
    h.parser.abortPendingConnect(5);
    QCOMPARE(h.parser.pendingCommands(),
             (QList<Pending> { { Pending::connect, 5, 0 }, { Pending::connect, 6, 0 } }));
    h.parser.abortPendingConnect(9); // nothing to drop
    QCOMPARE(h.parser.pendingCommands().size(), 2);
}

void TestSWP08Parser::pendingQueueIsCapped()
{
    // A router that never acknowledges must not grow the queue without end.
    Harness h;
    for (int i = 0; i < SWP08Parser::maxPendingCommands + 10; ++i)
        h.parser.prepareConnect(0, i % 16, 0);
    QCOMPARE(h.parser.pendingCommands().size(), SWP08Parser::maxPendingCommands);
    QCOMPARE(h.parser.pendingCommands().first().destination, 10 % 16);
}

QTEST_GUILESS_MAIN(TestSWP08Parser)
#include "tst_swp08parser.moc"

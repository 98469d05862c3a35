#include "Drivers/VideohubParser.h"

#include "TestSupport.h"

#include <QtTest>

using namespace std::chrono_literals;
using Output = VideohubParser::Output;
using Event = RouterDriverEvent;

namespace {

// A 12×12 dump as a router sends it: preamble, device, labels, locks, routing, end.
QByteArray prelude12(bool withEnd = true)
{
    QByteArray out = "PROTOCOL PREAMBLE:\nVersion: 2.8\n\n"
                     "VIDEOHUB DEVICE:\nDevice present: true\nMODEL NAME: Smart Videohub 12x12\n"
                     "Friendly name: \nVideo inputs: 12\nVideo outputs: 12\n\n"
                     "INPUT LABELS:\n";
    for (int i = 0; i < 12; ++i)
        out += QByteArray::number(i) + " Cam " + QByteArray::number(i + 1) + '\n';
    out += "\nOUTPUT LABELS:\n";
    for (int i = 0; i < 12; ++i)
        out += QByteArray::number(i) + " Mon " + QByteArray::number(i + 1) + '\n';
    // U unlocked; O, L, anything else (even a lower-case u) locked.
    out += "\nVIDEO OUTPUT LOCKS:\n0 U\n1 O\n2 L\n3 u\n4 X\n5 U\n\n";
    out += "VIDEO OUTPUT ROUTING:\n";
    for (int i = 0; i < 12; ++i)
        out += QByteArray::number(i) + ' ' + QByteArray::number(11 - i) + '\n';
    out += '\n';
    if (withEnd)
        out += "END PRELUDE:\n\n";
    return out;
}

QList<Event> feed(VideohubParser &parser, const QList<QByteArray> &chunks)
{
    QList<Event> events;
    for (const QByteArray &chunk : chunks)
        events += parser.ingest(chunk).events;
    return events;
}

VideohubParser online()
{
    VideohubParser parser(QStringLiteral("Saved Hub"));
    const Output out = parser.ingest(prelude12());
    Q_ASSERT(parser.preludeDone());
    Q_UNUSED(out)
    return parser;
}

} // namespace

class TestVideohubParser : public QObject
{
    Q_OBJECT

private slots:
    void integers_data();
    void integers();
    void preludeBecomesOneState();
    void chunkingAndLineEndsDoNotMatter();
    void preludeWithoutEndWaitsForQuietTime();
    void finalizeNeedsCountsAndRouting_data();
    void finalizeNeedsCountsAndRouting();
    void changesAfterPrelude_data();
    void changesAfterPrelude();
    void labelItems();
    void nakAsksForResyncAtMostEveryInterval();
    void encodesCommands_data();
    void encodesCommands();
    void lockCharacterToSend();
    void unterminatedFloodIsRefused();
    void longestBlockInSixteenBytePiecesCostsOnePass();
    void absurdCountsAreCapped();
    void largestBlockCostsOneEventPerPort_data();
    void largestBlockCostsOneEventPerPort();
    void overlongNamesAreCut();
    void garbageIsSurvived();
};

void TestVideohubParser::integers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<int>>("value");
    QTest::newRow("plain") << "42" << std::optional<int>(42);
    QTest::newRow("plus") << "+7" << std::optional<int>(7);
    QTest::newRow("minus") << "-1" << std::optional<int>(-1);
    QTest::newRow("int max") << "2147483647" << std::optional<int>(2147483647);
    QTest::newRow("int min") << "-2147483648" << std::optional<int>(INT_MIN);
    QTest::newRow("just past max") << "2147483648" << std::optional<int>();
    QTest::newRow("just past min") << "-2147483649" << std::optional<int>();
    // Used to be read with a plain multiply, overflowing into undefined behaviour.
    QTest::newRow("30 digits") << "123456789012345678901234567890" << std::optional<int>();
    QTest::newRow("empty") << "" << std::optional<int>();
    QTest::newRow("sign only") << "-" << std::optional<int>();
    QTest::newRow("trailing letter") << "5a" << std::optional<int>();
    QTest::newRow("leading space") << " 5" << std::optional<int>();
    QTest::newRow("other script digit") << QStringLiteral("\u0663") << std::optional<int>();
}

void TestVideohubParser::integers()
{
    QFETCH(QString, text);
    QFETCH(std::optional<int>, value);
    QCOMPARE(VideohubParser::parseInteger(text), value);
}

void TestVideohubParser::preludeBecomesOneState()
{
    VideohubParser parser(QStringLiteral("Saved Hub"));
    const Output out = parser.ingest(prelude12());
    QCOMPARE(out.events.size(), 1);
    const Event &event = out.events.first();
    QCOMPARE(event.type, Event::connected);
    QVERIFY(out.finalizeDone);
    const RouterState &state = event.state;
    QCOMPARE(state.sources.size(), 12);
    QCOMPARE(state.destinations.size(), 12);
    QCOMPARE(state.sources.at(3), (Port { 3, PortKind::source, QStringLiteral("Cam 4") }));
    QCOMPARE(state.destinations.at(11),
             (Port { 11, PortKind::destination, QStringLiteral("Mon 12") }));
    QCOMPARE(state.deviceName, QStringLiteral("Saved Hub")); // the router's name was empty
    QCOMPARE(state.model, QStringLiteral("Smart Videohub 12x12"));
    QCOMPARE(state.vendor, RouterVendor(RouterVendor::blackmagicVideohub));
    QCOMPARE(state.levels,
             (QList<RouterLevel> { { 0, QStringLiteral("Video"), LevelKind::video } }));
    QCOMPARE(state.routing.value(0).size(), 12);
    QCOMPARE(state.source(0, 0), std::optional<int>(11));
    QCOMPARE(state.lockedDestinations, (QSet<int> { 1, 2, 3, 4 }));
    QVERIFY(state.inputStatus.isEmpty());
    QVERIFY(parser.locksSeen());

    // A second end marker or a late finalize reports nothing more.
    QVERIFY(parser.ingest("END PRELUDE:\n\n").events.isEmpty());
    QVERIFY(parser.finalizePrelude().events.isEmpty());
}

void TestVideohubParser::chunkingAndLineEndsDoNotMatter()
{
    const QByteArray text = prelude12() + "VIDEO OUTPUT ROUTING:\n4 4\n\nNAK\n\n";
    VideohubParser whole(QStringLiteral("Saved Hub"));
    const QList<Event> expected = feed(whole, { text });
    QCOMPARE(expected.size(), 2); // connected and one route; the NAK is an answer, no event

    for (qsizetype cut = 1; cut < text.size(); ++cut) {
        VideohubParser parser(QStringLiteral("Saved Hub"));
        QCOMPARE(feed(parser, { text.left(cut), text.mid(cut) }), expected);
    }
    VideohubParser bytewise(QStringLiteral("Saved Hub"));
    QList<QByteArray> bytes;
    for (char c : text)
        bytes.append(QByteArray(1, c));
    QCOMPARE(feed(bytewise, bytes), expected);

    QByteArray crlf = text;
    crlf.replace("\n", "\r\n");
    for (qsizetype cut = 1; cut < crlf.size(); cut += 7) {
        VideohubParser parser(QStringLiteral("Saved Hub"));
        QCOMPARE(feed(parser, { crlf.left(cut), crlf.mid(cut) }), expected);
    }
}

void TestVideohubParser::preludeWithoutEndWaitsForQuietTime()
{
    VideohubParser parser(QStringLiteral("Saved Hub"));
    const QByteArray text = prelude12(false);
    bool rearmed = false;
    qsizetype start = 0;
    // Every block of the dump asks for the finalize to be pushed back.
    for (qsizetype end = text.indexOf("\n\n"); end >= 0; end = text.indexOf("\n\n", start)) {
        const Output out = parser.ingest(text.mid(start, end + 2 - start));
        QVERIFY(out.rearmFinalize);
        QVERIFY(out.events.isEmpty());
        rearmed = true;
        start = end + 2;
    }
    QVERIFY(rearmed);
    // Acknowledgements and empty blocks are not part of the dump.
    QVERIFY(!parser.ingest("ACK\n\n").rearmFinalize);
    QVERIFY(!parser.ingest("\n\n\n\n").rearmFinalize);

    VideohubParser reference(QStringLiteral("Saved Hub"));
    const Output finalized = parser.finalizePrelude();
    QCOMPARE(finalized.events, reference.ingest(prelude12()).events);
    QVERIFY(!parser.ingest("VIDEO OUTPUT ROUTING:\n1 1\n\n").rearmFinalize);
}

void TestVideohubParser::finalizeNeedsCountsAndRouting_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("finalizes");
    // Why the read is given up once its time is over, when it can't be reported.
    QTest::addColumn<QString>("giveUp");
    const QByteArray device = "VIDEOHUB DEVICE:\nVideo inputs: 2\nVideo outputs: 3\n\n";
    const QByteArray routing = "VIDEO OUTPUT ROUTING:\n0 1\n\n";
    const QString noCounts
        = QStringLiteral("The router didn't announce its inputs and outputs within 10 seconds.");
    const QString noRouting
        = QStringLiteral("The router didn't send its routing within 10 seconds.");
    QTest::newRow("complete") << device + routing << true << QString();
    QTest::newRow("no routing") << device << false << noRouting;
    QTest::newRow("no counts") << routing << false << noCounts;
    QTest::newRow("zero inputs") << "VIDEOHUB DEVICE:\nVideo inputs: 0\nVideo outputs: 3\n\n"
            + routing << false << noCounts;
    QTest::newRow("count not a number")
        << "VIDEOHUB DEVICE:\nVideo inputs: 12x\nVideo outputs: 3\n\n" + routing << false
        << noCounts;
    QTest::newRow("keys in any case") << "VIDEOHUB DEVICE:\n\tVIDEO INPUTS : 2\nvideo outputs:3\n\n"
            + routing << true << QString();
    QTest::newRow("empty routing block") << device + "VIDEO OUTPUT ROUTING:\n\n"
                                         << false << noRouting;
}

void TestVideohubParser::finalizeNeedsCountsAndRouting()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, finalizes);
    QFETCH(QString, giveUp);
    VideohubParser parser(QStringLiteral("Hub"));
    parser.ingest(text);
    const Output out = parser.finalizePrelude();
    QCOMPARE(parser.preludeDone(), finalizes);
    QCOMPARE(out.events.size(), finalizes ? 1 : 0);
    // Used to stay on "Reading router state…" for good, saying nothing.
    const Output late = parser.readLimitReached(10s);
    QVERIFY(late.events.isEmpty());
    QCOMPARE(late.fatal.value_or(QString()), giveUp);
    if (finalizes) {
        const RouterState &state = out.events.first().state;
        QCOMPARE(state.sources.size(), 2);
        QCOMPARE(state.destinations.size(), 3);
        QCOMPARE(state.destinations.at(2).label, QStringLiteral("Out 3"));
        QCOMPARE(state.sources.at(0).label, QStringLiteral("In 1"));
        QCOMPARE(state.model, QStringLiteral("Blackmagic Videohub"));
    }
}

void TestVideohubParser::changesAfterPrelude_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QList<Event>>("events");
    QTest::newRow("routes, mixed-case header")
        << QByteArray("  Video Output Routing:\t\n3 5\n4 5\n\n")
        << QList<Event> { Event::makeRouteChanged(0, 3, 5), Event::makeRouteChanged(0, 4, 5) };
    QTest::newRow("route items that don't parse are skipped")
        << QByteArray("VIDEO OUTPUT ROUTING:\n3 x\n3\n3 \n3 5 \n 6 2\n\n")
        << QList<Event> { Event::makeRouteChanged(0, 6, 2) };
    QTest::newRow("repeated values still report")
        << QByteArray("VIDEO OUTPUT ROUTING:\n0 11\n\n")
        << QList<Event> { Event::makeRouteChanged(0, 0, 11) };
    QTest::newRow("out of range indices are reported as they come")
        << QByteArray("VIDEO OUTPUT ROUTING:\n40 99\n4095 4095\n\n")
        << QList<Event> { Event::makeRouteChanged(0, 40, 99),
                          Event::makeRouteChanged(0, 4095, 4095) };
    // 15 M distinct indices used to grow the tables (and the controller's) by 910 MB.
    QTest::newRow("indices no protocol addresses are ignored")
        << QByteArray("VIDEO OUTPUT ROUTING:\n-1 4\n4096 1\n1 4096\n123456789 2\n\n"
                      "VIDEO OUTPUT LOCKS:\n-1 L\n4096 L\n\n"
                      "INPUT LABELS:\n4096 Far\n-3 Minus\n\nOUTPUT LABELS:\n99999 Far\n\n")
        << QList<Event> {};
    QTest::newRow("device block with an absurd count is silent too")
        << QByteArray("VIDEOHUB DEVICE:\nVideo inputs: 100000\nModel name: New\n\n")
        << QList<Event> {};
    QTest::newRow("locks") << QByteArray("VIDEO OUTPUT LOCKS:\n5\n6 L\n7 U\n8 u\nx O\n\n")
                           << QList<Event> { Event::makeLockChanged(5, false),
                                             Event::makeLockChanged(6, true),
                                             Event::makeLockChanged(7, false),
                                             Event::makeLockChanged(8, true) };
    QTest::newRow("output labels") << QByteArray("OUTPUT LABELS:\n2 Air\n\n")
                                   << QList<Event> { Event::makeLabelChanged(
                                          PortKind::destination, 2, QStringLiteral("Air")) };
    QTest::newRow("input labels") << QByteArray("input labels:\n0 Cam A\n\n")
                                  << QList<Event> { Event::makeLabelChanged(
                                         PortKind::source, 0, QStringLiteral("Cam A")) };
    QTest::newRow("device block is silent")
        << QByteArray("VIDEOHUB DEVICE:\nVideo inputs: 40\n\n") << QList<Event> {};
    QTest::newRow("lower-case nak") << QByteArray("nak\n\n") << QList<Event> {};
    QTest::newRow("ack and unknown headers")
        << QByteArray("ACK\n\nCONFIGURATION:\nTake Mode: true\n\nSOMETHING NEW:\n1 2\n\n")
        << QList<Event> {};
}

void TestVideohubParser::changesAfterPrelude()
{
    QFETCH(QByteArray, block);
    QFETCH(QList<Event>, events);
    VideohubParser parser = online();
    QCOMPARE(parser.ingest(block).events, events);
}

void TestVideohubParser::labelItems()
{
    VideohubParser parser(QStringLiteral("Hub"));
    // Before the dump is over labels are only stored.
    const Output early = parser.ingest("VIDEOHUB DEVICE:\nVideo inputs: 9\nVideo outputs: 9\n\n"
                                       "OUTPUT LABELS:\n7\n8  Two spaces\n3 \n20 Far away\n\n"
                                       "VIDEO OUTPUT ROUTING:\n0 0\n\n");
    QVERIFY(early.events.isEmpty());
    const RouterState state = parser.finalizePrelude().events.value(0).state;
    QCOMPARE(state.destinations.size(), 9); // the label for 20 makes no port
    QCOMPARE(state.destinations.at(7).label, QString());
    QCOMPARE(state.destinations.at(8).label, QStringLiteral(" Two spaces"));
    QCOMPARE(state.destinations.at(3).label, QString()); // sent empty, stays empty
    QCOMPARE(state.destinations.at(4).label, QStringLiteral("Out 5"));
    QCOMPARE(parser.ingest("OUTPUT LABELS:\n7\n\n").events,
             (QList<Event> { Event::makeLabelChanged(PortKind::destination, 7, QString()) }));
}

void TestVideohubParser::nakAsksForResyncAtMostEveryInterval()
{
    VideohubParser parser(QStringLiteral("Hub"));
    const auto t0 = std::chrono::steady_clock::now();
    Output out = parser.ingest("NAK\n\n");
    // An answer, for the driver to match to what it sent; in any letter case.
    QCOMPARE(out.replies.size(), 1);
    QCOMPARE(out.replies.first().kind, VideohubParser::Reply::nak);
    QVERIFY(!out.rearmFinalize);
    QCOMPARE(parser.resyncQuery(t0), std::optional<QByteArray>("VIDEO OUTPUT ROUTING:\n\n"));
    // Two refusals a second apart: one query.
    QCOMPARE(parser.ingest("nak\n\n").replies.first().kind, VideohubParser::Reply::nak);
    QCOMPARE(parser.resyncQuery(t0 + 1s), std::nullopt);
    QCOMPARE(parser.resyncQuery(t0 + 1999ms), std::nullopt);
    parser.ingest("VIDEO OUTPUT LOCKS:\n\n"); // a lock table, even an empty one, counts
    QVERIFY(parser.locksSeen());
    QCOMPARE(parser.resyncQuery(t0 + 2s),
             std::optional<QByteArray>("VIDEO OUTPUT ROUTING:\n\nVIDEO OUTPUT LOCKS:\n\n"));
}

void TestVideohubParser::encodesCommands_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("expected");
    // Levels are ignored: the router has one.
    QTest::newRow("take to two destinations")
        << VideohubParser::routesBlock({ Route { 0, 3, 5 }, Route { 2, 4, 5 } })
        << QByteArray("VIDEO OUTPUT ROUTING:\n3 5\n4 5\n\n");
    QTest::newRow("empty take") << VideohubParser::routesBlock({})
                                << QByteArray("VIDEO OUTPUT ROUTING:\n\n\n");
    QTest::newRow("lock") << VideohubParser::lockBlock(5, u'O')
                          << QByteArray("VIDEO OUTPUT LOCKS:\n5 O\n\n");
    QTest::newRow("rename source")
        << VideohubParser::labelBlock(PortKind::source, 0, QStringLiteral("Cam  1 "))
        << QByteArray("INPUT LABELS:\n0 Cam  1 \n\n");
    QTest::newRow("rename destination, UTF-8")
        << VideohubParser::labelBlock(PortKind::destination, 11, QStringLiteral("Régie ×2"))
        << QByteArray("OUTPUT LABELS:\n11 R\xc3\xa9gie \xc3\x97"
                      "2\n\n");
    // Used to go out as typed: the blank line ended the block and the rest was a routing
    // command of its own.
    QTest::newRow("rename cannot inject a block")
        << VideohubParser::labelBlock(PortKind::source, 1,
                                      QStringLiteral("x\n\nVIDEO OUTPUT ROUTING:\r\n0 1"))
        << QByteArray("INPUT LABELS:\n1 x  VIDEO OUTPUT ROUTING:  0 1\n\n");
}

void TestVideohubParser::encodesCommands()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes, expected);
}

void TestVideohubParser::lockCharacterToSend()
{
    QCOMPARE(VideohubParser::lockCharacterToSend(true, u'U'), QChar(u'O'));
    QCOMPARE(VideohubParser::lockCharacterToSend(true, u'L'), QChar(u'O'));
    QCOMPARE(VideohubParser::lockCharacterToSend(false, u'L'), QChar(u'F')); // force
    QCOMPARE(VideohubParser::lockCharacterToSend(false, u'O'), QChar(u'U'));
    QCOMPARE(VideohubParser::lockCharacterToSend(false, u'U'), QChar(u'U'));

    VideohubParser parser(QStringLiteral("Hub"));
    parser.ingest("VIDEO OUTPUT LOCKS:\n5 L\n6 O\n7\n\n");
    QCOMPARE(parser.lockCharacter(5), QChar(u'L'));
    QCOMPARE(parser.lockCharacter(6), QChar(u'O'));
    QCOMPARE(parser.lockCharacter(7), QChar(u'U'));
    QCOMPARE(parser.lockCharacter(8), QChar(u'U')); // never received
}

void TestVideohubParser::unterminatedFloodIsRefused()
{
    VideohubParser::Limits limits;
    limits.maxBufferedBytes = 1024 * 1024;
    VideohubParser parser(QStringLiteral("Hub"), limits);
    const QByteArray line = QByteArray(1000, 'a') + '\n';
    Output out;
    int chunks = 0;
    while (!out.fatal && chunks < 5000) {
        out = parser.ingest(line.repeated(64));
        ++chunks;
    }
    // Used to keep every byte while waiting for an empty line that never came.
    QVERIFY(out.fatal);
    QCOMPARE(*out.fatal, QStringLiteral("The router sent more than 1 MiB without ending a block."));
    QVERIFY(chunks <= 18);
    QCOMPARE(parser.bufferedBytes(), 0);
    QVERIFY(parser.ingest(prelude12()).events.isEmpty()); // nothing is read after giving up

    // Large complete blocks are fine: only an unfinished one counts.
    VideohubParser big(QStringLiteral("Hub"), limits);
    for (int i = 0; i < 40; ++i)
        QVERIFY(!big.ingest("INPUT LABELS:\n" + line.repeated(800) + '\n').fatal);
}

void TestVideohubParser::longestBlockInSixteenBytePiecesCostsOnePass()
{
    VideohubParser parser(QStringLiteral("Hub"));
    const qsizetype limit = VideohubParser::Limits {}.maxBufferedBytes;
    const QByteArray block = "INPUT LABELS:" + QByteArray("\r\n3 Cam").repeated(limit / 6 - 3);
    for (qsizetype at = 0; at < block.size(); at += 16) // CR LF line ends
        parser.ingest(block.mid(at, 16));
    QVERIFY(parser.bufferedBytes() > limit - 32);
    QVERIFY(parser.scannedBytes() <= 2 * block.size()); // each byte looked at about once
    parser.ingest("\r\n\r\n");
    QCOMPARE(parser.bufferedBytes(), 0);
}

void TestVideohubParser::absurdCountsAreCapped()
{
    VideohubParser parser(QStringLiteral("Hub"));
    // A count beyond int's range used to read as no count: the router was never reported.
    Output out = parser.ingest("VIDEOHUB DEVICE:\nVideo inputs: 100000\nVideo outputs: "
                               "2147483648\n\n");
    // Errors while the dump was read flashed "failed"; now one warning follows the state.
    QVERIFY(out.events.isEmpty());
    QVERIFY(parser.ingest("VIDEOHUB DEVICE:\nVideo outputs: 5000\n\nVIDEO OUTPUT ROUTING:\n0 0\n\n")
                .events.isEmpty());
    out = parser.ingest("END PRELUDE:\n\n");
    QCOMPARE(out.events.size(), 2);
    QCOMPARE(out.events.first().state.sources.size(), 4096);
    QCOMPARE(out.events.first().state.destinations.size(), 4096);
    QCOMPARE(out.events.last(),
             Event::makeCommandRefused(QStringLiteral(
                 "The router announced 100000 video inputs; only the first 4096 are used. The "
                 "router announced 2147483648 video outputs; only the first 4096 are used.")));
}

void TestVideohubParser::largestBlockCostsOneEventPerPort_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("type");
    QTest::newRow("routing") << QByteArray("VIDEO OUTPUT ROUTING:") << int(Event::routeChanged);
    QTest::newRow("labels") << QByteArray("OUTPUT LABELS:") << int(Event::labelChanged);
    QTest::newRow("locks") << QByteArray("VIDEO OUTPUT LOCKS:") << int(Event::lockChanged);
}

void TestVideohubParser::largestBlockCostsOneEventPerPort()
{
    // A 4 MiB routing block after the prelude used to become a million routeChanged events.
    QFETCH(QByteArray, header);
    QFETCH(int, type);
    const VideohubParser::Limits limits;
    VideohubParser parser = online();
    // Items go round every port the parser keeps, with a new value each round; the block is
    // as large as an unfinished block may grow, and arrives in receive-sized chunks.
    QByteArray block = header + '\n';
    int items = 0;
    while (block.size() < limits.maxBufferedBytes - 64) {
        const int port = items % limits.maxPortCount;
        block += QByteArray::number(port) + ' ' + QByteArray::number(items / limits.maxPortCount)
            + '\n';
        ++items;
    }
    block += '\n';
    QVERIFY(items > 100 * limits.maxPortCount);
    QList<Event> events;
    for (qsizetype at = 0; at < block.size(); at += 65536) {
        const Output out = parser.ingest(
            QByteArrayView(block).sliced(at, std::min<qsizetype>(65536, block.size() - at)));
        QVERIFY(!out.fatal);
        events += out.events;
    }
    // At most one event per port, carrying the port's last item.
    QCOMPARE(events.size(), limits.maxPortCount);
    const int lastRound = (items - 1) / limits.maxPortCount;
    for (const Event &event : std::as_const(events)) {
        QCOMPARE(int(event.type), type);
        if (type == Event::routeChanged)
            QCOMPARE(*event.source,
                     event.destination < items % limits.maxPortCount ? lastRound : lastRound - 1);
    }
}

void TestVideohubParser::overlongNamesAreCut()
{
    // A 3 MB model name used to reach every view whole; "connected" never got painted.
    const QByteArray huge(3 * 1024 * 1024, 'M');
    // An emoji straddling the limit is dropped whole rather than split in half.
    const QString emojiAtEdge = QString(1023, u'x') + QStringLiteral("\U0001F3A5tail");
    VideohubParser parser(QStringLiteral("Hub"));
    parser.ingest("VIDEOHUB DEVICE:\nModel name: " + huge + "\nFriendly name: " + huge
                  + "\nVideo inputs: 2\nVideo outputs: 2\n\nINPUT LABELS:\n0 "
                  + emojiAtEdge.toUtf8() + "\n1 " + huge + "\n\nVIDEO OUTPUT ROUTING:\n0 0\n\n");
    const RouterState state = parser.finalizePrelude().events.value(0).state;
    QCOMPARE(state.model, QString(maxRouterNameLength, u'M'));
    QCOMPARE(state.deviceName, QString(maxRouterNameLength, u'M'));
    QCOMPARE(state.sources.at(0).label, QString(1023, u'x'));
    QCOMPARE(state.sources.at(1).label.size(), maxRouterNameLength);
    const QList<Event> events = parser.ingest("OUTPUT LABELS:\n1 " + huge + "\n\n").events;
    QCOMPARE(events.size(), 1);
    QCOMPARE(events.first().label, QString(maxRouterNameLength, u'M'));
}

void TestVideohubParser::garbageIsSurvived()
{
    VideohubParser parser(QStringLiteral("Hub"));
    QByteArray garbage;
    quint32 seed = 12345;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const char c = char(seed >> 24);
        garbage += (seed & 0x300) == 0 ? '\n' : c;
    }
    for (qsizetype at = 0; at < garbage.size(); at += 4096)
        parser.ingest(garbage.mid(at, 4096));
    // Still reads a proper dump afterwards once a block boundary comes.
    const QList<Event> events = parser.ingest("\n\n" + prelude12()).events;
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.last().type, Event::connected);
}

QTEST_GUILESS_MAIN(TestVideohubParser)
#include "tst_videohubparser.moc"

// LW3 lines as a router (or anything on its port) may send them, in any chunking, with the
// parser's quiet timers falling due between chunks and signed commands in flight.

#include "DriverFuzz.h"
#include "Drivers/LW3Parser.h"

#include <QSet>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Fuzz::Input input = Fuzz::Input::fromFuzzer(data, size);
    DriverFuzz::EventLog log;
    log.bounds = { LW3Parser::maxPortNumber, LW3Parser::maxPortNumber, 1 };
    QSet<LW3Parser::Timer> armed;
    qsizetype sent = 0;
    LW3Parser parser(QStringLiteral("Fuzz"),
                     { log.reporter(),
                       [&](const QString &line) {
                           FUZZ_CHECK(!line.contains(u'\n') && !line.contains(u'\r'));
                           ++sent;
                       },
                       [&](LW3Parser::Timer timer, std::chrono::milliseconds) {
                           armed.insert(timer);
                       } });
    parser.beginInitialQueries();
    bool ended = false;
    const bool quietBetweenChunks = (input.options & 1) != 0;
    const auto fireTimers = [&] {
        const QSet<LW3Parser::Timer> due = std::exchange(armed, {});
        for (LW3Parser::Timer timer : due)
            parser.timerFired(timer);
        log.checkNew();
    };

    qsizetype fed = 0;
    input.forEachChunk([&](const QByteArray &chunk, int number) {
        if (ended)
            return;
        fed += chunk.size();
        if (!parser.ingest(chunk)) {
            ended = true;
            return;
        }
        if (number % 4 == 3) {
            static const QString kinds[]
                = { QStringLiteral("Route"), QStringLiteral("Lock"), QStringLiteral("Rename") };
            const QString signature = parser.registerCommand(kinds[number % 3]);
            FUZZ_CHECK(signature.size() == 4);
        }
        if (number % 9 == 8)
            parser.resyncFromSendFailure();
        if (quietBetweenChunks)
            fireTimers();
        log.checkNew();
        // A list token is at least one byte (";") and a line yields one event per port at
        // most; the state comes once.
        log.checkBudget(fed, 1, 1);
    });
    if (ended)
        return 0; // the link is closed; a new one gets a new parser
    fireTimers();
    fireTimers();
    // One status query per input at most: three lines per input number.
    FUZZ_CHECK(sent <= 5 + 3 * LW3Parser::maxPortNumber + 64);

    // Whatever came before, a line end and a complete picture bring the state.
    if (!parser.ingest("\npr /MEDIA/NAMES/VIDEO.I2=7;Fuzz Two\n"
                       "pr /MEDIA/NAMES/VIDEO.O2=1;Out\n"
                       "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=I1;I2\n}\n"))
        FUZZ_CHECK_MSG(false, QStringLiteral("a well-formed line ended the link"));
    fireTimers();
    fireTimers();
    FUZZ_CHECK(parser.namePrefix(QStringLiteral("I2")) == QStringLiteral("7"));
    FUZZ_CHECK(parser.hasReportedConnected());
    FUZZ_CHECK(log.connectedCount == 1);
    return 0;
}

// Quartz reply lines as a router (or a console on its port) may send them, in any chunking,
// interleaved with the routes the operator takes.

#include "DriverFuzz.h"
#include "Drivers/QuartzParser.h"

namespace {

// What the parser writes on its own is one or more ".IV<n>" lines for real destinations.
void checkWrite(const QByteArray &bytes, int destinationCount)
{
    FUZZ_CHECK(bytes.endsWith('\r'));
    for (const QByteArray &line : bytes.chopped(1).split('\r')) {
        FUZZ_CHECK_MSG(line.startsWith(".IV"), QString::fromLatin1(line));
        bool ok = false;
        const int number = line.mid(3).toInt(&ok);
        FUZZ_CHECK_MSG(ok && number >= 1 && number <= destinationCount
                           && line.mid(3) == QByteArray::number(number),
                       QString::fromLatin1(line));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Fuzz::Input input = Fuzz::Input::fromFuzzer(data, size);
    DriverFuzz::EventLog log;
    DriverFuzz::InterrogationTimers timers { (input.options & 4) != 0 };
    int destinationCount = 0;
    QuartzParser parser(DriverFuzz::connectionOfSize(input.options),
                        { log.reporter(),
                          [&](const QByteArray &bytes) { checkWrite(bytes, destinationCount); },
                          timers.arm() });
    destinationCount = parser.destinationCount();
    log.bounds = { parser.sourceCount(), parser.destinationCount(), 1 };
    FUZZ_CHECK(parser.sourceCount() >= 2 && parser.sourceCount() <= QuartzParser::maxPortCount);
    FUZZ_CHECK(destinationCount >= 2 && destinationCount <= QuartzParser::maxPortCount);
    parser.beginInterrogation();

    qsizetype fed = 0;
    input.forEachChunk([&](const QByteArray &chunk, int number) {
        fed += chunk.size();
        parser.ingest(chunk);
        const int a = quint8(chunk.at(0));
        const int b = quint8(chunk.at(chunk.size() - 1));
        if (number % 3 == 2) {
            const int source = a % parser.sourceCount();
            const int destination = b % destinationCount;
            const QByteArray line = parser.lineForConnect(source, destination);
            FUZZ_CHECK(line
                       == ".SV" + QByteArray::number(destination + 1) + ','
                           + QByteArray::number(source + 1));
        } else if (number % 5 == 4) {
            parser.reinterrogate(b % destinationCount);
        }
        timers.afterChunk(parser);
        log.checkNew();
        // A refusal is two bytes at least and a route answer more; once only: the state, the
        // range warning and the no-answer error.
        log.checkBudget(fed, 2, 3);
        if (number % 32 == 31) {
            FUZZ_CHECK(parser.pendingConnects().size() <= QuartzParser::maxPendingConnects);
            DriverFuzz::checkRouting(parser.routing(), log.bounds);
        }
    });
    FUZZ_CHECK(parser.pendingConnects().size() <= QuartzParser::maxPendingConnects);
    DriverFuzz::checkState(parser.state(), log.bounds);
    timers.atEnd(parser);
    (void)parser.readLimitReached();
    log.checkNew();
    log.checkBudget(fed, 2, 3);

    // After whatever came before (an endless line included), a well-formed answer is read.
    const int destination = destinationCount - 1;
    const int source = parser.sourceCount() - 1;
    parser.ingest("\r.AV" + QByteArray::number(destination + 1) + ','
                  + QByteArray::number(source + 1) + '\r');
    FUZZ_CHECK(parser.routing().value(destination, -1) == source);
    parser.finalize();
    log.checkNew();
    FUZZ_CHECK(log.connectedCount == 1);
    return 0;
}

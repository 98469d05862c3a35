// SW-P-08 frames as a router (or anything listening on its port) may send them, in any
// chunking, interleaved with the commands the operator issues.

#include "DriverFuzz.h"
#include "Drivers/SWP08Parser.h"

namespace {

constexpr char DLE = SWP08Parser::DLE;

// What the parser writes is a run of acknowledgements and complete, checked frames.
void checkWrite(const QByteArray &bytes)
{
    qsizetype at = 0;
    FUZZ_CHECK(!bytes.isEmpty());
    while (at < bytes.size()) {
        const QByteArray head = bytes.mid(at, 2);
        if (head == QByteArray("\x10\x06", 2) || head == QByteArray("\x10\x15", 2)) {
            at += 2;
            continue;
        }
        FUZZ_CHECK(head == QByteArray("\x10\x02", 2));
        at += 2;
        QByteArray frame;
        for (;;) {
            FUZZ_CHECK_MSG(at + 1 < bytes.size(), QString::fromLatin1(bytes.toHex(' ')));
            if (bytes.at(at) == DLE) {
                if (bytes.at(at + 1) == SWP08Parser::ETX)
                    break;
                FUZZ_CHECK(bytes.at(at + 1) == DLE);
                ++at;
            }
            frame.append(bytes.at(at));
            ++at;
        }
        at += 2;
        FUZZ_CHECK(frame.size() >= 3 && frame.size() <= SWP08Parser::maxFrameLength);
        int sum = 0;
        for (char byte : frame)
            sum += quint8(byte);
        FUZZ_CHECK(sum % 256 == 0);
        FUZZ_CHECK(quint8(frame.at(frame.size() - 2)) == frame.size() - 2);
    }
}

QByteArray tally(int level, int destination, int source)
{
    QByteArray message;
    message.append(char(0x03));
    message.append(char(level & 0x0F));
    message.append(char(((destination / 128) << 4) | (source / 128)));
    message.append(char(destination % 128));
    message.append(char(source % 128));
    return SWP08Parser::frame(message);
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
    QList<QByteArray> writes;
    DriverFuzz::InterrogationTimers timers { (input.options & 4) != 0 };
    SWP08Parser parser(DriverFuzz::connectionOfSize(input.options),
                       { log.reporter(),
                         [&](const QByteArray &bytes) {
                             checkWrite(bytes);
                             writes.append(bytes);
                         },
                         timers.arm() });
    log.bounds = { parser.sourceCount(), parser.destinationCount(), SWP08Parser::levelCount };
    FUZZ_CHECK(parser.sourceCount() >= 2 && parser.sourceCount() <= SWP08Parser::maxPortCount);
    FUZZ_CHECK(parser.destinationCount() >= 2
               && parser.destinationCount() <= SWP08Parser::maxPortCount);
    parser.beginInterrogation();

    qsizetype fed = 0;
    input.forEachChunk([&](const QByteArray &chunk, int number) {
        fed += chunk.size();
        parser.ingest(chunk);
        // Commands the operator issues between receptions, with values from the chunk.
        const int a = quint8(chunk.at(0));
        const int b = quint8(chunk.at(chunk.size() - 1));
        if (number % 3 == 2) {
            const int source = a * 5, destination = b * 4, level = (a ^ b) & 0x1F;
            if (!SWP08Parser::addressError(source, destination, level))
                checkWrite(parser.prepareConnect(source, destination, level));
        } else if (number % 5 == 4) {
            parser.reinterrogate(b * 4 % SWP08Parser::maxPortCount, a & 0x0F);
        } else if (number % 7 == 6) {
            parser.abortPendingConnect(b * 4, a & 0x0F);
        }
        timers.afterChunk(parser);
        log.checkNew();
        // A refusal is two bytes at least and a route answer more; once only: the state, the
        // range warning and the no-answer error.
        log.checkBudget(fed, 2, 3);
        // The whole tables now and then: walking them after every byte would be quadratic.
        if (number % 32 == 31) {
            FUZZ_CHECK(parser.pendingCommands().size() <= SWP08Parser::maxPendingCommands);
            DriverFuzz::checkRouting(parser.routing(), log.bounds);
        }
    });
    FUZZ_CHECK(parser.pendingCommands().size() <= SWP08Parser::maxPendingCommands);
    DriverFuzz::checkState(parser.state(), log.bounds);
    timers.atEnd(parser);
    (void)parser.readLimitReached();
    log.checkNew();
    log.checkBudget(fed, 2, 3);

    // After whatever came before, one well-formed tally is acknowledged and applied. The
    // leading byte ends a dangling DLE.
    const int destination = parser.destinationCount() - 1;
    const int source = parser.sourceCount() - 1;
    writes.clear();
    parser.ingest(QByteArray(1, '\0') + tally(0, destination, source));
    FUZZ_CHECK_MSG(writes.join().contains(QByteArray("\x10\x06", 2)), QStringLiteral("no ACK"));
    FUZZ_CHECK(parser.routing().value(0).value(destination, -1) == source);
    parser.finalize();
    log.checkNew();
    FUZZ_CHECK(log.connectedCount == 1);
    return 0;
}

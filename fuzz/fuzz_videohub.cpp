// Videohub blocks as a router (or anything on its port) may send them, in any chunking,
// before and after the prelude.

#include "DriverFuzz.h"
#include "Drivers/VideohubParser.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Fuzz::Input input = Fuzz::Input::fromFuzzer(data, size);
    VideohubParser::Limits limits;
    limits.maxBufferedBytes = 64 * 1024; // small enough for the fuzzer to reach
    limits.maxPortCount = 512;
    VideohubParser parser(QStringLiteral("Fuzz"), limits);
    DriverFuzz::EventLog log;
    // Indices beyond the announced counts are passed on, but none outside the port cap.
    log.bounds = { limits.maxPortCount, limits.maxPortCount, 1 };
    bool finalizeArmed = false;
    bool ended = false;
    qsizetype fed = 0;
    const bool quietBetweenChunks = (input.options & 1) != 0;

    const auto take = [&](VideohubParser::Output out) {
        log.events.append(out.events);
        if (out.rearmFinalize)
            finalizeArmed = true;
        if (out.finalizeDone)
            finalizeArmed = false;
        if (out.fatal)
            ended = true;
        for (const VideohubParser::Reply &reply : std::as_const(out.replies)) {
            if (reply.kind == VideohubParser::Reply::nak)
                (void)parser.resyncQuery(std::chrono::steady_clock::now());
            else if (reply.kind == VideohubParser::Reply::report)
                FUZZ_CHECK(parser.reported(reply.reported).has_value());
        }
        log.checkNew();
        // An item is at least two bytes ("7" and its line end) and a block yields one event
        // per port; beyond that only the state and one error per absurd count.
        log.checkBudget(fed, 2, 3);
    };
    const auto ingest = [&](QByteArrayView bytes) {
        fed += bytes.size();
        take(parser.ingest(bytes));
    };

    input.forEachChunk([&](const QByteArray &chunk, int) {
        if (ended)
            return;
        ingest(chunk);
        FUZZ_CHECK_MSG(parser.bufferedBytes() <= limits.maxBufferedBytes,
                       QString::number(parser.bufferedBytes()));
        if (quietBetweenChunks && finalizeArmed)
            take(parser.finalizePrelude());
    });
    if (ended)
        return 0; // the link is closed; a new one gets a new parser
    if (finalizeArmed)
        take(parser.finalizePrelude());

    // Whatever came before, an empty line ends it and a complete prelude is read.
    ingest("\n\nVIDEOHUB DEVICE:\nVideo inputs: 4\nVideo outputs: 4\n\n"
           "VIDEO OUTPUT ROUTING:\n1 2\n\nEND PRELUDE:\n\n");
    FUZZ_CHECK(!ended);
    FUZZ_CHECK(parser.preludeDone());
    FUZZ_CHECK(log.connectedCount == 1);
    const qsizetype before = log.events.size();
    ingest("VIDEO OUTPUT ROUTING:\n2 3\n\n");
    FUZZ_CHECK(log.events.size() == before + 1
               && log.events.last() == RouterDriverEvent::makeRouteChanged(0, 2, 3));
    return 0;
}

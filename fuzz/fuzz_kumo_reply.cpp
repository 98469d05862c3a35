// The bytes a KUMO router sends back for a request, as the driver's reply reader takes them
// off the connection: however they are split, the reader comes to the same result, never
// holds a body over its limit, and ends every reply one way or the other at the close.
//
// Input: the chunking header of FuzzSupport.h (option bit 0 picks a 16-byte body limit
// instead of the driver's 64 KiB), then the bytes of the connection.

#include "Drivers/KumoDriver.h"
#include "Drivers/KumoHttp.h"
#include "FuzzSupport.h"

namespace {

struct Outcome
{
    HttpReplyReader::State state;
    int status;
    QByteArray body;
    bool reusable;
    bool tooLarge;
    QString error;

    bool operator==(const Outcome &) const = default;
};

Outcome outcomeOf(const HttpReplyReader &reader)
{
    return { reader.state(),    reader.status(),   reader.body(),
             reader.reusable(), reader.tooLarge(), reader.error() };
}

void checkEnded(const HttpReplyReader &reader, qsizetype limit)
{
    FUZZ_CHECK(reader.body().size() <= limit);
    switch (reader.state()) {
    case HttpReplyReader::State::reading:
        break;
    case HttpReplyReader::State::complete:
        FUZZ_CHECK_MSG(reader.status() >= 200 && reader.status() <= 999,
                       QString::number(reader.status()));
        FUZZ_CHECK(!reader.tooLarge() && reader.error().isEmpty());
        break;
    case HttpReplyReader::State::failed:
        FUZZ_CHECK(reader.tooLarge() != !reader.error().isEmpty());
        FUZZ_CHECK(reader.body().isEmpty());
        break;
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
    const qsizetype limit = (input.options & 1) ? 16 : KumoDriver::maxBodySize;

    HttpReplyReader whole(limit);
    whole.feed(input.payload);
    checkEnded(whole, limit);

    HttpReplyReader pieces(limit);
    input.forEachChunk([&](const QByteArray &chunk, int) {
        const HttpReplyReader::State before = pieces.state();
        pieces.feed(chunk);
        checkEnded(pieces, limit);
        if (before != HttpReplyReader::State::reading)
            FUZZ_CHECK(pieces.state() == before); // an ended reply stays as it ended
    });
    FUZZ_CHECK(outcomeOf(pieces) == outcomeOf(whole));

    // The router closes the connection: nothing is left half read.
    whole.finish();
    pieces.finish();
    FUZZ_CHECK(whole.state() != HttpReplyReader::State::reading);
    checkEnded(whole, limit);
    FUZZ_CHECK(outcomeOf(pieces) == outcomeOf(whole));
    return 0;
}

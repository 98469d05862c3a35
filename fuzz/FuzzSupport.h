#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared plumbing of the fuzz targets: how an input is cut into the chunks a parser
// receives, and how a broken invariant is reported so that libFuzzer keeps the input.
namespace Fuzz {

// The first byte of every streaming input says how the rest is delivered, so that the
// fuzzer explores split points as well as content:
//   bit 7 set        one byte per chunk
//   bits 0-3 = n     the next n bytes are chunk lengths (value + 1), used in turn; n == 0
//                    delivers the whole payload as one chunk
//   bits 4-6         three option bits a target may use for its own choices
// A seed file is therefore a header byte (0x00 for "one piece") followed by real traffic.
struct Input
{
    QByteArray payload;
    QList<int> chunkSizes; // empty: one chunk
    bool byteByByte = false;
    int options = 0;

    static Input fromFuzzer(const uint8_t *data, size_t size)
    {
        Input input;
        if (size == 0)
            return input;
        const uint8_t header = data[0];
        size_t offset = 1;
        input.byteByByte = (header & 0x80) != 0;
        input.options = (header >> 4) & 0x07;
        const size_t lengths = header & 0x0F;
        for (size_t i = 0; i < lengths && offset < size; ++i, ++offset)
            input.chunkSizes.append(int(data[offset]) + 1);
        input.payload = QByteArray(reinterpret_cast<const char *>(data + offset),
                                   qsizetype(size - offset));
        return input;
    }

    // Calls `feed(QByteArray chunk, int chunkNumber)` for each chunk in order.
    template<typename Feed>
    void forEachChunk(Feed &&feed) const
    {
        qsizetype at = 0;
        int number = 0;
        while (at < payload.size()) {
            qsizetype length = payload.size() - at;
            if (byteByByte)
                length = 1;
            else if (!chunkSizes.isEmpty())
                length = qMin<qsizetype>(length, chunkSizes.at(number % chunkSizes.size()));
            feed(payload.mid(at, length), number);
            at += length;
            ++number;
        }
    }
};

// Parsers log what they drop; at millions of inputs that is noise. Fatal messages still abort.
inline void silenceQtMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "fatal: %s\n", qPrintable(text));
            std::abort();
        }
    });
}

[[noreturn]] inline void fail(const char *condition, const char *file, int line,
                              const QString &detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s%s%s\n", file, line, condition,
                 detail.isEmpty() ? "" : " — ", qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

} // namespace Fuzz

// Checks an invariant of the code under test; a failure aborts, which libFuzzer records as
// a crash together with the input that caused it.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition))                                                                       \
            ::Fuzz::fail(#condition, __FILE__, __LINE__, QString());                            \
    } while (false)

#define FUZZ_CHECK_MSG(condition, detail)                                                       \
    do {                                                                                        \
        if (!(condition))                                                                       \
            ::Fuzz::fail(#condition, __FILE__, __LINE__, (detail));                             \
    } while (false)

#pragma once

#include "Drivers/VideohubParser.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <ctime>
#include <functional>

// A router that sends one line of 4 MiB with no end, in 16-byte pieces: the longest input
// the Videohub and LW3 parsers hold before they give up, and an endless line to Quartz.
// What it costs a parser is measured in CPU time of this thread, the best of a few runs,
// against what the same bytes cost the Videohub parser.
namespace UnfinishedLine {

inline constexpr qsizetype length = 4 * 1024 * 1024;
inline constexpr qsizetype piece = 16;

inline const QByteArray &bytes()
{
    static const QByteArray line(length, 'x');
    return line;
}

inline double threadSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// `feedAll` builds a fresh parser and hands it the whole line, piece by piece.
inline double bestSeconds(const std::function<void()> &feedAll, int runs = 5)
{
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        const double start = threadSeconds();
        feedAll();
        best = std::min(best, threadSeconds() - start);
    }
    return best;
}

inline double videohubSeconds()
{
    return bestSeconds([] {
        VideohubParser parser(QStringLiteral("Bench"));
        const QByteArray &line = bytes();
        for (qsizetype at = 0; at < line.size(); at += piece) {
            if (parser.ingest(QByteArrayView(line).sliced(at, piece)).fatal)
                qFatal("the Videohub parser gave up before the end of the line");
        }
    });
}

} // namespace UnfinishedLine

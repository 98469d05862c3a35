#pragma once

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <functional>

// What one step costs the UI thread and the process: its wall time and how far it raised the
// resident set above where it started (Linux: the peak is reset to the current size first).
namespace StoreBench {

inline qint64 statusKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

struct Cost
{
    double milliseconds = 0;
    double peakMiB = 0;
};

inline Cost measure(const std::function<void()> &step)
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5"); // resets the peak resident size to the current one
    refs.close();
    const qint64 before = statusKiB("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    step();
    Cost cost;
    cost.milliseconds = double(clock.nsecsElapsed()) / 1e6;
    cost.peakMiB = double(statusKiB("VmHWM:") - before) / 1024.0;
    return cost;
}

inline void report(const char *what, const Cost &cost, double goalMs, double goalMiB)
{
    std::printf("  %-48s %8.1f ms (goal < %.0f)  peak +%6.1f MB (goal < %.0f)\n", what,
                cost.milliseconds, goalMs, cost.peakMiB, goalMiB);
    std::fflush(stdout);
}

} // namespace StoreBench

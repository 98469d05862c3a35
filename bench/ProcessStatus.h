#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A line of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 where there is none.
inline qint64 statusBytes(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

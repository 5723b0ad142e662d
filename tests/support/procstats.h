#pragma once

// What a process holds, read from /proc: for leak checks in system tests.

#include <QDir>
#include <QFile>

namespace procstats {

inline int descriptors(qint64 pid)
{
    return QDir(QString("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

inline int threads(qint64 pid)
{
    return QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::Dirs).size();
}

// Resident set size in KiB, 0 when unreadable.
inline qint64 rssKiB(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

} // namespace procstats

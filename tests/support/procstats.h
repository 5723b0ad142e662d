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

// A field of /proc/PID/status in KiB, 0 when unreadable.
inline qint64 statusKiB(qint64 pid, const QByteArray &field)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// CPU time the process has used so far, user and system, in clock ticks.
inline qint64 cpuTicks(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the command name (which may hold spaces), state first.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

// Resident set size in KiB, 0 when unreadable.
inline qint64 rssKiB(qint64 pid) { return statusKiB(pid, "VmRSS:"); }

// The highest resident set size so far in KiB, 0 when unreadable.
inline qint64 peakRssKiB(qint64 pid) { return statusKiB(pid, "VmHWM:"); }

// A memory bound for the driver as built: sanitizer shadow memory and
// AddressSanitizer's quarantine of freed blocks (256 MiB) are not the
// driver's own, so such builds get room for them.
inline qint64 memoryBoundKiB(qint64 kib)
{
    return qEnvironmentVariableIsEmpty("ZQ_SANITIZER_RUNTIME") ? kib : 3 * kib + 256 * 1024;
}

} // namespace procstats

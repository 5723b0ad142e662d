#include "processprobe.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <unistd.h>

double ProcessProbe::cpuSeconds() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces: utime is the 14th field.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

long ProcessProbe::statusValue(const char *key, qint64 task) const
{
    const QString path = task < 0 ? QStringLiteral("/proc/%1/status").arg(m_pid)
                                  : QStringLiteral("/proc/%1/task/%2/status").arg(m_pid).arg(task);
    QFile status(path);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray wanted = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(wanted))
            return line.mid(wanted.size()).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

long ProcessProbe::wakeUps() const
{
    long total = 0;
    for (const QString &task : QDir(QStringLiteral("/proc/%1/task").arg(m_pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        total += statusValue("voluntary_ctxt_switches", task.toLongLong())
                 + statusValue("nonvoluntary_ctxt_switches", task.toLongLong());
    return total;
}

double ProcessProbe::rssMiB() const
{
    return statusValue("VmRSS") / 1024.0;
}

double ProcessProbe::peakRssMiB() const
{
    return statusValue("VmHWM") / 1024.0;
}

#include "processprobe.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

ProcessProbe::~ProcessProbe()
{
    for (const Task &task : qAsConst(m_tasks))
        if (task.fd >= 0)
            close(task.fd);
}

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

namespace {
QString taskName(const QByteArray &taskDir)
{
    QFile comm(QString::fromLatin1(taskDir + "/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
}
} // namespace

void ProcessProbe::readTasks()
{
    const QByteArray dirName = QStringLiteral("/proc/%1/task").arg(m_pid).toLatin1();
    const QString processName = taskName(dirName + '/' + QByteArray::number(m_pid));
    if (DIR *dir = opendir(dirName.constData())) {
        while (const dirent *entry = readdir(dir)) {
            const qint64 tid = std::strtoll(entry->d_name, nullptr, 10);
            if (tid <= 0)
                continue;
            const QByteArray taskDir = dirName + '/' + entry->d_name;
            auto known = m_tasks.find(tid);
            if (known == m_tasks.end()) {
                m_tasks.insert(tid, Task{open((taskDir + "/schedstat").constData(), O_RDONLY), 0, taskName(taskDir)});
            } else if (tid != m_pid && known->name == processName) {
                // A thread bears the process's name until it names itself.
                const QString name = taskName(taskDir);
                if (!name.isEmpty())
                    known->name = name;
            }
        }
        closedir(dir);
    }
    for (Task &task : m_tasks) {
        char text[96];
        const ssize_t got = task.fd >= 0 ? pread(task.fd, text, sizeof text - 1, 0) : -1;
        if (got > 0) {
            text[got] = '\0';
            task.ns = std::strtoll(text, nullptr, 10); // the first field: time on a CPU
        } else if (task.fd >= 0) {
            close(task.fd); // the thread has ended: its last count stays
            task.fd = -1;
        }
    }
}

qint64 ProcessProbe::cpuNs()
{
    readTasks();
    qint64 total = 0;
    for (const Task &task : qAsConst(m_tasks))
        total += task.ns;
    return total;
}

qint64 ProcessProbe::ownCpuNs()
{
    readTasks();
    qint64 total = 0;
    for (const Task &task : qAsConst(m_tasks))
        if (!task.name.startsWith(QLatin1String("padsim-")))
            total += task.ns;
    return total;
}

QHash<QString, qint64> ProcessProbe::cpuNsByThread()
{
    readTasks();
    QHash<QString, qint64> byName;
    for (const Task &task : qAsConst(m_tasks))
        byName[task.name] += task.ns;
    return byName;
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

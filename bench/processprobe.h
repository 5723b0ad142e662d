#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>

// The driver's CPU time, memory and wake-ups, read from /proc.
class ProcessProbe
{
public:
    explicit ProcessProbe(qint64 pid) : m_pid(pid) {}
    ~ProcessProbe();
    ProcessProbe(const ProcessProbe &) = delete;
    ProcessProbe &operator=(const ProcessProbe &) = delete;

    double cpuSeconds() const;  // user + system time of every thread so far, in clock ticks
    // CPU time of every thread so far to the nanosecond (the scheduler's
    // own count), for costs far below a clock tick. A thread that has ended
    // counts with what it had used when last seen.
    qint64 cpuNs();
    // The same without the virtual pad's threads (padsim-*), which play the
    // pad itself and answer its control socket: the driver's own share.
    qint64 ownCpuNs();
    // The same by thread name (threads of one name added up).
    QHash<QString, qint64> cpuNsByThread();
    long wakeUps() const;       // context switches of every thread so far
    double rssMiB() const;      // resident now
    double peakRssMiB() const;  // highest resident so far

private:
    long statusValue(const char *key, qint64 task = -1) const;
    qint64 m_pid;
    struct Task
    {
        int fd = -1;
        qint64 ns = 0;
        QString name;
    };
    void readTasks();
    QHash<qint64, Task> m_tasks; // by thread id, kept open between reads
};

#pragma once

#include <QtGlobal>

// The driver's CPU time, memory and wake-ups, read from /proc.
class ProcessProbe
{
public:
    explicit ProcessProbe(qint64 pid) : m_pid(pid) {}

    double cpuSeconds() const;  // user + system time of every thread so far
    long wakeUps() const;       // context switches of every thread so far
    double rssMiB() const;      // resident now
    double peakRssMiB() const;  // highest resident so far

private:
    long statusValue(const char *key, qint64 task = -1) const;
    qint64 m_pid;
};

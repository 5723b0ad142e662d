#include "pad/sampleclock.h"

#include <algorithm>
#include <chrono>

int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SampleClock::reset()
{
    *this = SampleClock();
}

void SampleClock::stamp(QVector<TOUCH_INFO> *samples, int64_t readNs)
{
    const int count = samples->size();
    if (count == 0)
        return;
    if (m_lastReadNs >= 0) {
        readNs = std::max(readNs, m_lastReadNs);
        const int64_t perSample = (readNs - m_lastReadNs) / count;
        if (count > 1 && perSample <= kMaxSampleIntervalNs)
            m_intervalNs = perSample;
    }
    const int64_t spacing = count > 1 ? m_intervalNs : 0;
    for (int i = 0; i < count; ++i) {
        const int64_t stamp = std::max(readNs - (count - 1 - i) * spacing, m_lastStampNs);
        (*samples)[i].timeNs = stamp;
        m_lastStampNs = stamp;
    }
    m_lastReadNs = readNs;
}

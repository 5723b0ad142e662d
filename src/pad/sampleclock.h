#pragma once

#include "pad/touchinfo.h"

#include <QVector>

#include <cstdint>

// Nanoseconds on the monotonic clock (CLOCK_MONOTONIC, which
// std::chrono::steady_clock reads on Linux).
int64_t monotonicNs();

// Stamps pen samples with the time the pad took them, as well as the driver
// can tell: none of the pads sends a time of its own.
//
// A report is stamped with the time the reader read it. The T330 and the
// QZ07 send one sample per report, so each sample gets its report's read
// time. The KZ07 batches up to three samples in a report, taken one sample
// interval apart, the last just before the report went out; giving them all
// the read time would make two of every three steps zero. They are spread
// back from the read time at the pad's sample interval, measured from the
// stream: the time since the previous report divided by the samples this
// one carries. After a pause longer than kMaxSampleIntervalNs per sample
// (the pen came back), the last measured interval is used; before the first
// measurement of a signing the samples share the read time.
//
// Stamps never go back in time. A reader that falls behind reads queued
// reports in a burst, and their stamps then crowd together.
//
// One user at a time: the pad's reader, or the GUI thread while the reader
// is stopped.
class SampleClock
{
public:
    // Slower than any pen digitiser samples (50 samples/s).
    static constexpr int64_t kMaxSampleIntervalNs = 20000000;

    // A new signing: nothing measured yet.
    void reset();
    // Sets timeNs of every sample of one report read at `readNs`.
    void stamp(QVector<TOUCH_INFO> *samples, int64_t readNs);

private:
    int64_t m_lastReadNs = -1;  // the previous report's read time
    int64_t m_lastStampNs = -1; // the last sample's stamp
    int64_t m_intervalNs = 0;   // the pad's sample interval as last measured
};

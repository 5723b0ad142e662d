// When pen samples were taken: one sample per report gets the report's read
// time; a KZ07 batch is spread back from it at the measured sample interval.
#include "pad/sampleclock.h"

#include <QTest>

namespace {
constexpr int64_t kMs = 1000000;

QVector<int64_t> stamped(SampleClock &clock, int samples, int64_t readNs)
{
    QVector<TOUCH_INFO> report(samples);
    clock.stamp(&report, readNs);
    QVector<int64_t> times;
    for (const TOUCH_INFO &t : report)
        times << t.timeNs;
    return times;
}
} // namespace

class SampleClockTest : public QObject
{
    Q_OBJECT
private slots:
    void oneSampleReportsKeepTheirReadTime()
    {
        SampleClock clock;
        QCOMPARE(stamped(clock, 1, 100 * kMs), QVector<int64_t>({100 * kMs}));
        QCOMPARE(stamped(clock, 1, 105 * kMs), QVector<int64_t>({105 * kMs}));
        // A long pause changes nothing for single samples.
        QCOMPARE(stamped(clock, 1, 900 * kMs), QVector<int64_t>({900 * kMs}));
    }

    void aBatchIsSpreadAtTheMeasuredInterval()
    {
        SampleClock clock;
        // Nothing measured yet: the first batch shares its read time.
        QCOMPARE(stamped(clock, 3, 100 * kMs), QVector<int64_t>({100 * kMs, 100 * kMs, 100 * kMs}));
        // Three samples 15 ms later: taken 5 ms apart, the last at the read.
        QCOMPARE(stamped(clock, 3, 115 * kMs), QVector<int64_t>({105 * kMs, 110 * kMs, 115 * kMs}));
        // A shorter batch at the end of a stroke.
        QCOMPARE(stamped(clock, 2, 125 * kMs), QVector<int64_t>({120 * kMs, 125 * kMs}));
    }

    void afterAPauseTheLastIntervalIsUsed()
    {
        SampleClock clock;
        stamped(clock, 3, 100 * kMs);
        stamped(clock, 3, 112 * kMs); // 4 ms a sample
        // The pen comes back after half a second: its samples were taken just
        // before this report, not spread over the pause.
        QCOMPARE(stamped(clock, 3, 612 * kMs), QVector<int64_t>({604 * kMs, 608 * kMs, 612 * kMs}));
    }

    void stampsNeverGoBack()
    {
        SampleClock clock;
        stamped(clock, 3, 100 * kMs);
        stamped(clock, 3, 130 * kMs); // 10 ms a sample
        // Read in a burst right behind: no time between the reports.
        const QVector<int64_t> burst = stamped(clock, 3, 130 * kMs);
        QCOMPARE(burst, QVector<int64_t>({130 * kMs, 130 * kMs, 130 * kMs}));
        // A read time before the last one (it cannot be, but) is held.
        QCOMPARE(stamped(clock, 1, 120 * kMs), QVector<int64_t>({130 * kMs}));
    }

    void aResetForgetsTheInterval()
    {
        SampleClock clock;
        stamped(clock, 3, 100 * kMs);
        stamped(clock, 3, 115 * kMs);
        clock.reset();
        QCOMPARE(stamped(clock, 3, 50 * kMs), QVector<int64_t>({50 * kMs, 50 * kMs, 50 * kMs}));
    }
};

QTEST_APPLESS_MAIN(SampleClockTest)
#include "tst_sampleclock.moc"

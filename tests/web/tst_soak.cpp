// Signs again and again on the virtual pad with several pages connected,
// plugging the pad out and in between signings, and watches the driver's
// resident memory, descriptors and threads. Fails when they keep growing:
// a late window of samples against an early one, not a single sample.
// ZQ_SOAK_SECONDS runs for that long; otherwise ZQ_SOAK_SIGNINGS signings
// (default 200).
#include "web/hostilesession.h"

#include "support/procstats.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

namespace {

struct Sample
{
    qint64 rssKiB;
    int descriptors;
    int threads;
};

// The median of one measure over samples [from, to).
template <typename F>
qint64 median(const QVector<Sample> &samples, int from, int to, F measure)
{
    QVector<qint64> values;
    for (int i = from; i < to; ++i)
        values << measure(samples[i]);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void signingOnAndOnHoldsNothingBack()
    {
        const qint64 seconds = qEnvironmentVariableIntValue("ZQ_SOAK_SECONDS");
        const int signings = qEnvironmentVariableIsSet("ZQ_SOAK_SIGNINGS")
                                 ? qEnvironmentVariableIntValue("ZQ_SOAK_SIGNINGS") : 200;
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        WsClient pages[3];
        for (WsClient &page : pages)
            QVERIFY(page.open());
        const qint64 pid = s.driver->pid();

        QVector<Sample> samples;
        QElapsedTimer clock;
        clock.start();
        for (int n = 0; seconds > 0 ? clock.elapsed() < seconds * 1000 : n < signings; ++n) {
            s.request("2025", s.outDir());
            s.request("2023");
            QVERIFY(s.waitForBlankImages(1, 20000));
            QVERIFY(s.playStroke("demo rate 2000"));
            s.request(n % 5 == 4 ? "2024" : "2022");
            QVERIFY2(s.waitForBlankImages(2, 20000), qPrintable(QString("signing %1").arg(n)));
            s.page.messages.clear();
            for (WsClient &page : pages)
                page.messages.clear();
            if (n % 10 == 9) {
                // The driver sees the removal before the arrival it waits for.
                QVERIFY(s.pad->unplug("qz07"));
                QVERIFY(s.plugAndWaitForDriver("qz07"));
            }
            const Sample sample{procstats::rssKiB(pid), procstats::descriptors(pid), procstats::threads(pid)};
            samples << sample;
            if (n % 20 == 0)
                qInfo().noquote() << QString("soak %1 s, %2 signings: RSS %3 KiB, %4 descriptors, %5 threads")
                                         .arg(clock.elapsed() / 1000).arg(n + 1)
                                         .arg(sample.rssKiB).arg(sample.descriptors).arg(sample.threads);
        }
        QVERIFY(samples.size() >= 50);

        // Early: after the first tenth (caches, pools and fonts warm up);
        // late: the last fifth.
        const int size = samples.size();
        const int earlyFrom = size / 10, earlyTo = size * 3 / 10, lateFrom = size * 4 / 5;
        const auto rss = [](const Sample &x) { return x.rssKiB; };
        const auto fds = [](const Sample &x) { return qint64(x.descriptors); };
        const auto threads = [](const Sample &x) { return qint64(x.threads); };
        const qint64 rssEarly = median(samples, earlyFrom, earlyTo, rss);
        const qint64 rssLate = median(samples, lateFrom, size, rss);
        qInfo().noquote() << QString("soak RSS median %1 KiB early, %2 KiB late").arg(rssEarly).arg(rssLate);
        // ThreadSanitizer keeps the history of every thread and lock it has
        // seen (the pad's reader starts anew for each signing), and
        // AddressSanitizer holds freed memory in its quarantine (up to
        // 256 MiB; its leak check at exit judges leaks there), so their RSS
        // grows without a leak; descriptors and threads are still judged.
        if (qEnvironmentVariableIsEmpty("ZQ_SANITIZER_RUNTIME"))
            QVERIFY2(rssLate <= rssEarly + rssEarly / 10 + 4096,
                     qPrintable(QString("RSS grew from %1 to %2 KiB").arg(rssEarly).arg(rssLate)));
        QVERIFY(median(samples, lateFrom, size, fds) <= median(samples, earlyFrom, earlyTo, fds) + 1);
        QVERIFY(median(samples, lateFrom, size, threads) <= median(samples, earlyFrom, earlyTo, threads) + 1);
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"

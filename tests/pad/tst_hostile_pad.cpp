// Pad faults against the real driver: pulled out mid-stroke, plugged in and
// out many times, stalled, failing reads. The driver keeps its GUI thread
// free, leaks nothing, and an ordinary signing afterwards succeeds.
#include "web/hostilesession.h"

#include "support/procstats.h"

#include <QTest>

class TestHostilePad : public QObject
{
    Q_OBJECT

private:
    SigningSession s;

    void startSigning()
    {
        int blanks = 0;
        for (const ImageMessage &m : s.images())
            blanks += m.drawing ? 0 : 1;
        s.request("2025", s.outDir());
        s.request("2023");
        QVERIFY2(s.waitForBlankImages(blanks + 1, 20000), qPrintable(s.driver->output().right(3000)));
    }

    // A new page's handshake is served by the GUI thread: it completing
    // means that thread is not stuck on the pad. A pad query may hold it
    // for the query's time limit (3 s), no longer.
    static bool guiThreadAnswers()
    {
        WsClient probe;
        return probe.open(36325, 6000);
    }

private slots:
    void initTestCase() { QVERIFY(s.start(nullptr, "qz07")); }

    void unpluggedMidStroke()
    {
        startSigning();
        QVERIFY(s.pad->command("stroke demo").startsWith("ok"));
        QTest::qWait(300);
        QVERIFY(s.pad->unplug("qz07"));
        QTest::qWait(500);
        QVERIFY(s.driver->isRunning());
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->plug("qz07"));
        s.settle();
        s.request("2024");
        s.settle();
    }

    void pluggedInAndOutRepeatedlyLeaksNothing()
    {
        const qint64 pid = s.driver->pid();
        QVERIFY(s.pad->unplug("qz07"));
        QVERIFY(s.pad->plug("qz07"));
        s.settle();
        const int descriptors = procstats::descriptors(pid);
        const int threads = procstats::threads(pid);
        for (int i = 0; i < 30; ++i) {
            QVERIFY(s.pad->unplug("qz07"));
            QTest::qWait(100);
            QVERIFY(s.pad->plug("qz07"));
            QTest::qWait(100);
        }
        QTRY_VERIFY_WITH_TIMEOUT(procstats::descriptors(pid) <= descriptors + 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(procstats::threads(pid) <= threads + 1, 10000);
        QVERIFY(answersSerialRequest(s, s.page));
    }

    void aStalledPadDuringTheSerialQuery()
    {
        QVERIFY(s.pad->fault("stall"));
        s.request("2040");
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->fault("none"));
        QTest::qWait(3500); // the stalled query's time limit
        QVERIFY(answersSerialRequest(s, s.page));
    }

    void aStalledPadDuringConfirm()
    {
        startSigning();
        QVERIFY(s.playDemoSignature());
        s.settle();
        QVERIFY(s.pad->fault("stall"));
        s.request("2022");
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->fault("none"));
        s.settle();
        QVERIFY(s.driver->isRunning());
    }

    void readFailuresMidSigning()
    {
        startSigning();
        QVERIFY(s.pad->command("stroke demo").startsWith("ok"));
        QTest::qWait(300);
        QVERIFY(s.pad->fault("fail-read"));
        QTest::qWait(500);
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->fault("none"));
        QTRY_VERIFY_WITH_TIMEOUT(s.pad->status().contains("stroke idle"), 30000);
        s.request("2024");
        s.settle();
        QVERIFY(s.driver->isRunning());
    }

    void anOrdinarySigningStillSucceeds()
    {
        // A failed read may have let the pad go: plugging it in again is
        // what the person at the desk would do.
        QVERIFY(s.pad->unplug("qz07"));
        QVERIFY(s.pad->plug("qz07"));
        s.settle();
        QVERIFY(signsNormally(s));
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_MAIN(TestHostilePad)
#include "tst_hostile_pad.moc"

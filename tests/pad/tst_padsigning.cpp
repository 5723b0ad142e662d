// A signing on the virtual pad: pen samples crossing from the reader thread to
// the GUI thread, the reader ending, and the pad pulled out or plugged in.

#include "pad/CorvanSign.h"
#include "pad/InputDataThread.h"
#include "padfixture.h"

#include "support/messagelog.h"
#include "support/padsim.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <memory>

using namespace padfixture;

// Takes samples in the GUI thread, as the main window does.
class SampleSink : public QObject
{
    Q_OBJECT
public:
    QVector<TOUCH_INFO> samples;
    bool allInGuiThread = true;

public slots:
    void take(TOUCH_INFO touch)
    {
        allInGuiThread = allInGuiThread && QThread::currentThread() == qApp->thread();
        samples.append(touch);
    }
};

namespace {
const char *const kReaderEnded = "xxxxxInputDataThread---结束：";
// How long a stopped reader is watched for reads it must no longer make.
constexpr int kNoReadsWatchMs = 300;

int readerEndings(const MessageLog &messages)
{
    return messages.texts().filter(QString::fromUtf8(kReaderEnded)).size();
}

TOUCH_INFO touch(int x, int y, int pressure, int btnId)
{
    TOUCH_INFO t;
    t.x = x;
    t.y = y;
    t.pressure = pressure;
    t.btnId = btnId;
    return t;
}

QString text(const QVector<TOUCH_INFO> &samples)
{
    QStringList parts;
    for (const TOUCH_INFO &t : samples)
        parts << QString("(%1,%2,%3,%4)").arg(t.x).arg(t.y).arg(t.pressure).arg(t.btnId);
    return parts.join(' ');
}
} // namespace

class PadSigningTest : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;
    std::unique_ptr<CorvanSign> m_sign;
    std::unique_ptr<SampleSink> m_sink;

    void startSigning(const QString &what, int expectedIndex)
    {
        QVERIFY(m_sim.plug(what));
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(muti_dev.curIndex.load(), expectedIndex);
        QVERIFY(isStartSignOn);
    }

private slots:
    void initTestCase() { qRegisterMetaType<tagTOUCH_INFO>("TOUCH_INFO"); }

    void init()
    {
        QVERIFY(m_sim.ok("reset"));
        resetPadState();
        m_sign = std::make_unique<CorvanSign>();
        m_sink = std::make_unique<SampleSink>();
        connect(m_sign.get(), &CorvanSign::TouchInfoFun, m_sink.get(), &SampleSink::take);
    }
    void cleanup()
    {
        m_sign.reset();
        m_sink.reset();
        QVERIFY(m_sim.ok("stroke stop"));
    }

    // -- samples --

    void samplesAndButtonsOfEachModel_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::addColumn<QVector<TOUCH_INFO>>("expected");
        QTest::newRow("t330") << "t330" << 0
                              << QVector<TOUCH_INFO>{touch(4000, 3000, 1026, -1), touch(4001, 3002, 2047, -1),
                                                     touch(1701, 6958, 600, 3), touch(5103, 6958, 600, 2),
                                                     touch(8505, 6958, 600, 4)};
        QTest::newRow("qz07") << "qz07" << 1
                              << QVector<TOUCH_INFO>{touch(4000, 3000, 4660, -1), touch(4001, 3002, 32767, -1),
                                                     touch(0x4B4F, 0, 0, 3), touch(0x4C43, 0, 0, 2),
                                                     touch(0x4E43, 0x4C43, 0, 4)};
        QTest::newRow("kz07") << "kz07" << 2
                              << QVector<TOUCH_INFO>{touch(400, 300, 1026, -1), touch(401, 302, 2047, -1),
                                                     touch(0, 0, 0, 3), touch(0, 0, 0, 2), touch(0, 0, 0, 4)};
    }
    void samplesAndButtonsOfEachModel()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        QFETCH(QVector<TOUCH_INFO>, expected);
        startSigning(model, index);
        const int maxPressure = index == 1 ? 32767 : 2047;
        QVERIFY(m_sim.ok(QString("pen %1 %2 %3").arg(expected[0].x).arg(expected[0].y).arg(expected[0].pressure)));
        QVERIFY(m_sim.ok(QString("pen %1 %2 %3").arg(expected[1].x).arg(expected[1].y).arg(maxPressure)));
        QVERIFY(m_sim.ok("button confirm"));
        QVERIFY(m_sim.ok("button resign"));
        QVERIFY(m_sim.ok("button cancel"));
        QTRY_COMPARE(m_sink->samples.size(), expected.size());
        QCOMPARE(text(m_sink->samples), text(expected));
        QVERIFY(m_sink->allInGuiThread);
    }

    void aLongStrokeArrivesWholeAndInOrder_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("t330") << "t330" << 0;
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07, three samples a report") << "kz07" << 2;
    }
    void aLongStrokeArrivesWholeAndInOrder()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        constexpr int kSamples = 90;
        QTemporaryFile file;
        QVERIFY(file.open());
        for (int i = 0; i < kSamples; ++i)
            file.write(QString("%1 %2 %3\n").arg(100 + i).arg(200 + 2 * i).arg(i + 1).toLatin1());
        file.write("button confirm\n");
        file.close();

        startSigning(model, index);
        // As fast as the reader takes them: a fixed rate could outrun a reader
        // held up by a busy machine, and the pad, as hidapi, drops what its
        // full queue cannot hold.
        QVERIFY(m_sim.ok("stroke " + file.fileName() + " rate max"));
        QTRY_COMPARE_WITH_TIMEOUT(m_sink->samples.size(), kSamples + 1, 20000);
        for (int i = 0; i < kSamples; ++i) {
            const TOUCH_INFO &t = m_sink->samples[i];
            QCOMPARE(t.x, 100 + i);
            QCOMPARE(t.y, 200 + 2 * i);
            QCOMPARE(t.pressure, i + 1);
            QCOMPARE(t.btnId, -1);
        }
        QCOMPARE(m_sink->samples.last().btnId, 3);
        QVERIFY(m_sink->allInGuiThread);
    }

    void twoSamplesInOneKz07ReportKeepTheirOrder()
    {
        startSigning("kz07", 2);
        QVERIFY(m_sim.report(kz07ReplyHex(R"({"info":[{"x":"1","y":"2","pressure":"3","btnId":"-1"},)"
                                          R"({"x":"4","y":"5","pressure":"0","btnId":"2"}]})")));
        QTRY_COMPARE(m_sink->samples.size(), 2);
        QCOMPARE(text(m_sink->samples), text({touch(1, 2, 3, -1), touch(4, 5, 0, 2)}));
    }

    void shortPenReportsAreDropped_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("t330") << "t330" << 0;
        QTest::newRow("qz07") << "qz07" << 1;
    }
    void shortPenReportsAreDropped()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        startSigning(model, index);
        QVERIFY(m_sim.report("02000fa00bb880"));
        QVERIFY(m_sim.report("02"));
        QVERIFY(m_sim.ok("pen 10 20 30"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
        QCOMPARE(text(m_sink->samples), text({touch(10, 20, 30, -1)}));
    }

    // -- the reader ending --

    void theReaderEndsWithTheSigningEvenWhenThePadIsSilent_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("t330") << "t330" << 0;
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07, which stays open") << "kz07" << 2;
    }
    void theReaderEndsWithTheSigningEvenWhenThePadIsSilent()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        startSigning(model, index);
        QTRY_VERIFY(m_sim.log().filter(QRegularExpression("^read 1256 ")).size() > 0);
        MessageLog messages;
        QCOMPARE(m_sign->ExitSign(), 0);
        QCOMPARE(readerEndings(messages), 1); // before ExitSign returned
        QVERIFY(m_sim.clearLog());
        QTest::qWait(kNoReadsWatchMs); // a reader left running would read every few ms
        QCOMPARE(m_sim.log(), QStringList()); // nothing reads any more

        // The same reader starts again for the next signing.
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(m_sim.ok("pen 7 8 9"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
    }

    // -- read errors, failed starts, stale reports --

    void aReadErrorMidStrokeIsRetriedAndTheSigningGoesOn()
    {
        startSigning("t330", 0);
        QSignalSpy failed(m_sign.get(), &CorvanSign::signingFailed);
        QVERIFY(m_sim.ok("pen 100 200 300"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
        MessageLog messages;
        QVERIFY(m_sim.fault("fail-read"));
        QTRY_VERIFY(!messages.texts().filter("pad read failed").isEmpty());
        QVERIFY(m_sim.clearLog());
        // Several failed reads, each logged by the pad as it fails.
        QTRY_VERIFY(m_sim.log().filter(QRegularExpression("^read 1256 ")).size() >= 3);
        QVERIFY(m_sim.fault("none"));
        for (int i = 1; i <= 20; ++i)
            QVERIFY(m_sim.ok(QString("pen %1 200 300").arg(100 + i)));
        QTRY_COMPARE(m_sink->samples.size(), 21);
        for (int i = 0; i <= 20; ++i)
            QCOMPARE(m_sink->samples[i].x, 100 + i);
        QVERIFY(isStartSignOn);
        QCOMPARE(failed.size(), 0);
    }

    void readsThatKeepFailingEndTheSigningWithItsError()
    {
        startSigning("qz07", 1);
        QSignalSpy failed(m_sign.get(), &CorvanSign::signingFailed);
        QVERIFY(m_sim.fault("fail-read"));
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, InputDataThread::kRetryForMs + 5000);
        QCOMPARE(failed.at(0).at(0).toInt(), 1003);
        QVERIFY(!isStartSignOn); // the pad is free again
        QVERIFY(m_sim.fault("none"));
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(m_sim.ok("pen 7 8 9"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
    }

    void aFailedStartLeavesThePadFree_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07") << "kz07" << 2;
    }
    void aFailedStartLeavesThePadFree()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        QVERIFY(m_sim.plug(model));
        QVERIFY(m_sim.fault("fail-start"));
        QCOMPARE(m_sign->StartSign(), 1003);
        QVERIFY(!isStartSignOn);
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0); // not "busy"
        QVERIFY(m_sim.fault("none"));
        startSigning(model, index);
        QVERIFY(m_sim.ok("pen 7 8 9"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
    }

    void aSerialQuerySkipsPenReportsLeftInTheQueue_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("staleReport");
        QTest::addColumn<QString>("serial");
        QTest::newRow("qz07") << "qz07" << "0200a00fb80b3412" << "QZ07SIM001";
        QTest::newRow("kz07") << "kz07"
                              << kz07ReplyHex(R"({"info":[{"x":"1","y":"2","pressure":"3","btnId":"-1"}]})")
                              << "KZ07SIM0000001";
    }
    void aSerialQuerySkipsPenReportsLeftInTheQueue()
    {
        QFETCH(QString, model);
        QFETCH(QString, staleReport);
        QFETCH(QString, serial);
        QVERIFY(m_sim.plug(model + " serial " + serial));
        tagDEVICE_INFO opened;
        QCOMPARE(m_sign->GetDeviceInfo(&opened), 0);
        for (int round = 0; round < 5; ++round) {
            // Reports the pad sent before the query, as after a fast stroke.
            for (int i = 0; i < 3; ++i)
                QVERIFY(m_sim.report(staleReport));
            tagDEVICE_INFO info;
            QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
            QCOMPARE(info.serial, serial);
        }
    }

    void aSignatureTakesNoReportSentBeforeItsStart()
    {
        QVERIFY(m_sim.plug("kz07"));
        tagDEVICE_INFO opened;
        QCOMPARE(m_sign->GetDeviceInfo(&opened), 0);
        const QString stale = kz07ReplyHex(R"({"info":[{"x":"1","y":"2","pressure":"3","btnId":"-1"}]})");
        for (int i = 0; i < 3; ++i)
            QVERIFY(m_sim.report(stale));
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(m_sim.ok("pen 7 8 9"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
        // Had a stale report been kept, it would have come before this one.
        QCOMPARE(text(m_sink->samples), QString("(7,8,9,-1)"));
    }

    void t330HoverOverTheStripPressesNothing()
    {
        startSigning("t330", 0);
        for (const int x : {1701, 5103, 8505})
            QVERIFY(m_sim.ok(QString("pen %1 6958 0").arg(x)));
        QVERIFY(m_sim.ok("pen 1701 6958 600"));
        QTRY_COMPARE(m_sink->samples.size(), 4);
        QCOMPARE(text(m_sink->samples),
                 QString("(1701,6958,0,-1) (5103,6958,0,-1) (8505,6958,0,-1) (1701,6958,600,3)"));
    }

    void destroyingTheControllerMidSigningStopsTheReader()
    {
        startSigning("qz07", 1);
        QVERIFY(m_sim.ok("stroke demo"));
        QTRY_VERIFY(!m_sink->samples.isEmpty());
        MessageLog messages;
        m_sign.reset();
        QCOMPARE(readerEndings(messages), 1);
        QVERIFY(!isStartSignOn);
        QVERIFY(!isDeviceOpened);
        QVERIFY(m_sim.log().contains("close"));
    }

    // -- plugging and pulling out --

    void pullingOutThePadMidSigning_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::newRow("t330") << "t330" << 0 << int(kT330Vid) << int(kT330Pid);
        QTest::newRow("qz07") << "qz07" << 1 << int(kQz07Vid) << int(kQz07Pid);
        QTest::newRow("kz07") << "kz07" << 2 << int(kKz07Vid) << int(kKz07Pid);
    }
    void pullingOutThePadMidSigning()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        QFETCH(int, vid);
        QFETCH(int, pid);
        startSigning(model, index);
        QSignalSpy out(m_sign.get(), &CorvanSign::deviceOut);
        QVERIFY(m_sim.ok("stroke demo rate 500"));
        QTRY_VERIFY(m_sink->samples.size() > 5);
        MessageLog messages;
        QVERIFY(m_sim.unplug(model));
        QTRY_COMPARE(out.size(), 1);
        QCOMPARE(out.at(0), (QVariantList{vid, pid}));
        QCOMPARE(readerEndings(messages), 1);
        QCOMPARE(muti_dev.curIndex.load(), -1);
        QVERIFY(!isStartSignOn);
        QVERIFY(!isDeviceOpened);
        QVERIFY(m_sim.log().contains("close"));
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 1001);
    }

    void pullingOutAnotherDeviceOfThePadsMakerCountsAsThePad()
    {
        QVERIFY(m_sim.plugUsb("28bd:1234"));
        startSigning("qz07", 1);
        QSignalSpy out(m_sign.get(), &CorvanSign::deviceOut);
        QVERIFY(m_sim.unplug("28bd:1234"));
        QTRY_COMPARE(out.size(), 1);
        QCOMPARE(out.at(0), (QVariantList{int(kQz07Vid), int(kQz07Pid)}));
        QCOMPARE(muti_dev.curIndex.load(), -1);
        QVERIFY(!isStartSignOn);
    }

    void pullingOutAnUnrelatedDeviceChangesNothing()
    {
        QVERIFY(m_sim.plugUsb("046d:c077"));
        startSigning("kz07", 2);
        QSignalSpy out(m_sign.get(), &CorvanSign::deviceOut);
        QVERIFY(m_sim.unplug("046d:c077"));
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor saw it go
        QCOMPARE(out.size(), 0);
        QVERIFY(isStartSignOn);
        QVERIFY(m_sim.ok("pen 1 2 3"));
        QTRY_COMPARE(m_sink->samples.size(), 1);
    }

    void withNoPadKnownOnlyVendorFfffCountsAsRemoval()
    {
        QVERIFY(m_sim.plugUsb("ffff:0001"));
        QVERIFY(m_sim.plugUsb("046d:c077"));
        QSignalSpy out(m_sign.get(), &CorvanSign::deviceOut);
        QVERIFY(m_sim.unplug("046d:c077"));
        QVERIFY(m_sim.unplug("ffff:0001"));
        QTRY_COMPARE(out.size(), 1);
        QCOMPARE(out.at(0), (QVariantList{0xFFFF, 0xFFFF}));
    }

    void anyArrivalWhileNoPadIsKnownIsAnnounced()
    {
        QSignalSpy in(m_sign.get(), &CorvanSign::deviceIn);
        QVERIFY(m_sim.plugUsb("046d:c077")); // a mouse too
        QTRY_COMPARE(in.size(), 1);
        QCOMPARE(in.at(0), (QVariantList{0, 0}));
        QVERIFY(m_sim.plug("t330"));
        QTRY_COMPARE(in.size(), 2);
        QCOMPARE(m_sign->InitDeviceStatus(), 0);
        QVERIFY(m_sim.plugUsb("1a2b:3c4d"));
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor saw it come
        QCOMPARE(in.size(), 2);
    }
};

QTEST_MAIN(PadSigningTest)
#include "tst_padsigning.moc"

// The pad controller against the virtual pad: finding the pad, its serial
// per model, and the signing commands, checked on the bytes the pad received.

#include "pad/CorvanSign.h"
#include "padfixture.h"

#include "support/padsim.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

using namespace padfixture;

namespace {
// Each answer of queryDeviceInfo, in order.
struct QueryAnswers {
    QList<int> codes;
    QStringList serials;
};

void collect(CorvanSign *sign, QueryAnswers *answers)
{
    QObject::connect(sign, &CorvanSign::deviceInfoQueried, sign, [answers](int code, const tagDEVICE_INFO &info) {
        answers->codes << code;
        answers->serials << info.serial;
    });
}
} // namespace

class CorvanSignTest : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;
    std::unique_ptr<CorvanSign> m_sign;

    // Plugs `what`, opens it through the controller and clears the log.
    void openPad(const QString &what, int expectedIndex)
    {
        QVERIFY(m_sim.plug(what));
        QCOMPARE(m_sign->InitDeviceStatus(), 0);
        QCOMPARE(muti_dev.curIndex.load(), expectedIndex);
        QVERIFY(m_sim.clearLog());
    }

private slots:
    void init()
    {
        QVERIFY(m_sim.ok("reset"));
        resetPadState();
        m_sign = std::make_unique<CorvanSign>();
    }
    void cleanup() { m_sign.reset(); }

    // -- finding the pad --

    void onePadListedTwiceCountsOnceAndIsOpened()
    {
        QVERIFY(m_sim.plug("qz07"));
        QCOMPARE(QUsb::devices().size(), 2); // its USB entry and its HID entry
        QCOMPARE(m_sign->InitDeviceStatus(), 0);
        QCOMPARE(muti_dev.curIndex.load(), 1);
        QVERIFY(isDeviceOpened);
        QCOMPARE(calls(m_sim), QStringList{"open 28bd:600c"});
    }

    void anOpenPadIsNotLookedForAgain()
    {
        openPad("kz07", 2);
        QVERIFY(m_sim.plug("t330")); // a second model would now give 1002
        QCOMPARE(m_sign->InitDeviceStatus(), 0);
        QCOMPARE(muti_dev.curIndex.load(), 2);
        QCOMPARE(calls(m_sim), QStringList());
    }

    void twoModelsAreRefused()
    {
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(m_sim.plug("qz07"));
        QCOMPARE(m_sign->InitDeviceStatus(), 1002);
        QCOMPARE(muti_dev.curIndex.load(), -1);
        QVERIFY(!isDeviceOpened);
        QCOMPARE(calls(m_sim), QStringList());
    }

    void nothingSupportedAttached()
    {
        QCOMPARE(m_sign->InitDeviceStatus(), 1001);
        QVERIFY(m_sim.plugUsb("046d:c077"));
        QCOMPARE(m_sign->InitDeviceStatus(), 1001);
        QCOMPARE(muti_dev.curIndex.load(), -1);
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 1001);
        QCOMPARE(m_sign->StartSign(), 1001);
        QVERIFY(!isStartSignOn);
        QCOMPARE(calls(m_sim), QStringList());
    }

    void aPadThatWillNotOpenCountsAsNone()
    {
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(m_sim.fault("fail-open"));
        QCOMPARE(m_sign->InitDeviceStatus(), 1001);
        QCOMPARE(muti_dev.curIndex.load(), 0);
        QVERIFY(!isDeviceOpened);
        QVERIFY(m_sim.fault("none"));
        QCOMPARE(m_sign->InitDeviceStatus(), 0);
        QVERIFY(isDeviceOpened);
        QCOMPARE(calls(m_sim), (QStringList{"open 0b57:8534", "open 0b57:8534"}));
    }

    // -- the serial number, per model --

    void t330SerialIsItsUsbSerialString()
    {
        QVERIFY(m_sim.plug("t330 serial T330-0042"));
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QCOMPARE(info.serial, QString("T330-0042"));
        QCOMPARE(info.model, QString("T330"));
        QCOMPARE(info.devType, 0);
        QCOMPARE(info.maxX - info.minX + 1, 10206);
        QCOMPARE(info.maxY - info.minY + 1, 7422);
        QCOMPARE(muti_dev.devInfo[0].serial, QString("T330-0042"));
        QCOMPARE(calls(m_sim), (QStringList{"open 0b57:8534", "serial"}));
    }

    void qz07SerialFromBytes32To41OfItsReply()
    {
        openPad("qz07 serial 0123456789", 1);
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QCOMPARE(info.serial, QString("0123456789"));
        QCOMPARE(info.model, QString("QZ07"));
        QCOMPARE(info.pressureLevels, 1024u);
        QCOMPARE(muti_dev.devInfo[1].serial, QString("0123456789"));
        QCOMPARE(calls(m_sim), QStringList{featureLine("00080b", 64)});
        QVERIFY(m_sim.log().contains("read 128 100")); // one report, read in short slices
    }

    // Whatever the pad answers is taken at once, an empty serial included.
    void qz07SerialFromAnyReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("serial");
        const QByteArray head = QByteArray("\x08\x0b", 2) + QByteArray(30, '\x11');
        QTest::newRow("32 bytes: nothing at 32") << head << QString();
        QTest::newRow("zero at 36") << head + QByteArray("ABCD\0FGHIJ", 10) << QString("ABCD");
        QTest::newRow("cut short at 35") << head + "XYZ" << QString("XYZ");
        QTest::newRow("only ten bytes taken") << head + "0123456789EXTRA" << QString("0123456789");
        QTest::newRow("other first bytes") << QByteArray(32, '\0') + "0123456789" << QString("0123456789");
    }
    void qz07SerialFromAnyReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, serial);
        openPad("qz07", 1);
        QVERIFY(m_sim.ok("reply " + reply.toHex()));
        QElapsedTimer waited;
        waited.start();
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QVERIFY2(waited.elapsed() < CorvanSign::kReplyTimeoutMs, "waited for another answer");
        QCOMPARE(info.serial, serial);
        QCOMPARE(muti_dev.devInfo[1].serial, serial);
    }

    void anEmptyT330SerialString_data()
    {
        QTest::addColumn<QString>("pad");
        QTest::addColumn<QString>("fault");
        QTest::newRow("no serial-number string") << "t330 no-serial" << "none";
        QTest::newRow("the string query fails") << "t330 serial T330-0042" << "fail-string";
    }
    void anEmptyT330SerialString()
    {
        QFETCH(QString, pad);
        QFETCH(QString, fault);
        openPad(pad, 0);
        QVERIFY(m_sim.fault(fault));
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QCOMPARE(info.serial, QString());
        QCOMPARE(muti_dev.devInfo[0].serial, QString());
    }

    void kz07SerialFromTheJsonOfItsReply()
    {
        openPad("kz07 serial KZ-9-7", 2);
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QCOMPARE(info.serial, QString("KZ-9-7"));
        QCOMPARE(info.model, QString("KZ07"));
        QCOMPARE(info.maxX - info.minX + 1, 800);
        QCOMPARE(info.maxY - info.minY + 1, 480);
        const QStringList sent = calls(m_sim);
        QCOMPARE(sent.size(), 1);
        QVERIFY(kz07Counter(sent[0], kKz07Query) >= 0);
        QVERIFY(m_sim.log().contains("read 256 100"));
    }

    void kz07ReplyWithoutAStringSerialIsAnEmptySerial_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("no serial") << QByteArray("{}");
        QTest::newRow("a number") << QByteArray(R"({"serial":12345})");
    }
    void kz07ReplyWithoutAStringSerialIsAnEmptySerial()
    {
        QFETCH(QByteArray, text);
        openPad("kz07", 2);
        QVERIFY(m_sim.ok("reply " + kz07ReplyHex(text)));
        QElapsedTimer waited;
        waited.start();
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QVERIFY2(waited.elapsed() < CorvanSign::kReplyTimeoutMs, "waited for another answer");
        QCOMPARE(info.serial, QString());
        QCOMPARE(muti_dev.devInfo[2].serial, QString());
    }

    void kz07ReplyThatIsNotJsonFailsButUsesUpAFrameNumber()
    {
        openPad("kz07 serial GOOD", 2);
        QVERIFY(m_sim.ok("reply " + kz07ReplyHex("serial=BAD")));
        tagDEVICE_INFO info;
        info.serial = "untouched";
        QCOMPARE(m_sign->GetDeviceInfo(&info), 1003);
        QCOMPARE(info.serial, QString("untouched"));
        QCOMPARE(muti_dev.devInfo[2].serial, QString("A1B2F9EF786AD889"));

        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QCOMPARE(info.serial, QString("GOOD"));
        const QStringList sent = calls(m_sim);
        QCOMPARE(sent.size(), 2);
        const int failed = kz07Counter(sent[0], kKz07Query);
        QVERIFY(failed >= 0);
        QCOMPARE(kz07Counter(sent[1], kKz07Query), (failed + 1) & 0xFFFF);
    }

    void aFailedQueryWriteIs1003AndReadsNothing_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07") << "kz07" << 2;
    }
    void aFailedQueryWriteIs1003AndReadsNothing()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        openPad(model, index);
        QVERIFY(m_sim.fault("fail-write"));
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 1003);
        // Queued input is dropped before the query; nothing is read after it.
        QVERIFY(m_sim.log().last().startsWith(index == 1 ? "feature 00080b" : "write "));
        QCOMPARE(calls(m_sim).size(), 1);
    }

    void aPadThatNeverAnswersFreesTheGuiThread_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07") << "kz07" << 2;
    }
    void aPadThatNeverAnswersFreesTheGuiThread()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        openPad(model, index);
        QVERIFY(m_sim.fault("stall"));
        QElapsedTimer blocked;
        blocked.start();
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 1003);
        // A hang detector, not a performance figure: the limit plus ample slack.
        QVERIFY2(blocked.elapsed() < CorvanSign::kReplyTimeoutMs + 7000, qPrintable(QString::number(blocked.elapsed())));
        QVERIFY(blocked.elapsed() >= CorvanSign::kReplyTimeoutMs - 100);
        QVERIFY(isDeviceOpened); // the pad stays open for the next try
    }

    // The lock the reader takes for each read stays free while a query waits
    // out a pad that does not answer.
    void aQueryWaitHoldsNoLockTheReaderNeeds()
    {
        openPad("qz07", 1);
        QVERIFY(m_sim.fault("stall"));
        std::atomic<bool> querying{true};
        std::atomic<qint64> longestWaitMs{0};
        std::thread reader([&] {
            while (querying) {
                QElapsedTimer waited;
                waited.start();
                hidReadMutex.lock();
                hidReadMutex.unlock();
                longestWaitMs = std::max(longestWaitMs.load(), waited.elapsed());
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        tagDEVICE_INFO info;
        const int status = m_sign->GetDeviceInfo(&info);
        querying = false;
        reader.join();
        QCOMPARE(status, 1003);
        // A hang detector: the query's wait is 3 s, a free lock takes microseconds.
        QVERIFY2(longestWaitMs < 1000, qPrintable(QString::number(longestWaitMs)));
    }

    // -- the status query that leaves the GUI thread free --

    void aStatusQueryAnswersWithTheSerial()
    {
        openPad("qz07 serial 0123456789", 1);
        QueryAnswers answers;
        collect(m_sign.get(), &answers);
        m_sign->queryDeviceInfo();
        QVERIFY(QTest::qWaitFor([&] { return !answers.codes.isEmpty(); }, 5000));
        QCOMPARE(answers.codes, QList<int>{0});
        QCOMPARE(answers.serials, QStringList{"0123456789"});
        QCOMPARE(muti_dev.devInfo[1].serial, QString("0123456789"));
    }

    void aStatusQueryOnAStalledPadReturnsAtOnceAndAnswersOnce_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07") << "kz07" << 2;
    }
    void aStatusQueryOnAStalledPadReturnsAtOnceAndAnswersOnce()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        openPad(model, index);
        QVERIFY(m_sim.fault("stall"));
        QueryAnswers answers;
        collect(m_sign.get(), &answers);
        QElapsedTimer waited;
        waited.start();
        m_sign->queryDeviceInfo();
        m_sign->queryDeviceInfo(); // joins the first
        // A hang detector: a wait for the pad would take its 3 s limit.
        QVERIFY2(waited.elapsed() < 1000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY(answers.codes.isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return !answers.codes.isEmpty(); }, CorvanSign::kReplyTimeoutMs + 7000));
        QVERIFY(waited.elapsed() >= CorvanSign::kReplyTimeoutMs - 100);
        QCOMPARE(answers.codes, QList<int>{1003});
        QCOMPARE(calls(m_sim).size(), 1); // one query sent
        QVERIFY(isDeviceOpened);
    }

    void anOperationOnThePadTakesARunningStatusQueryOver()
    {
        openPad("qz07 serial 0123456789", 1);
        QVERIFY(m_sim.fault("stall"));
        QueryAnswers answers;
        collect(m_sign.get(), &answers);
        m_sign->queryDeviceInfo();
        QVERIFY(m_sim.fault("none"));
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0);
        QCOMPARE(answers.codes, QList<int>{0});
        QCOMPARE(answers.serials, QStringList{"0123456789"});

        QVERIFY(m_sim.fault("stall"));
        m_sign->queryDeviceInfo();
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(answers.codes, (QList<int>{0, 1006}));
        // Only a query left running could answer once more.
        QTest::qWait(CorvanSign::kReplyTimeoutMs + 300);
        QCOMPARE(answers.codes, (QList<int>{0, 1006}));
        QCOMPARE(m_sign->ExitSign(), 0);
    }

    // -- the signing commands --

    void busyWhileSigning()
    {
        openPad("qz07", 1);
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(m_sim.clearLog());
        tagDEVICE_INFO info;
        info.serial = "untouched";
        QCOMPARE(m_sign->GetDeviceInfo(&info), 1006);
        QCOMPARE(info.serial, QString("untouched"));
        QCOMPARE(calls(m_sim), QStringList());
        QCOMPARE(m_sign->GetErrorMessage(1006), QString::fromUtf8("设备正忙"));
    }

    void startSignTwiceSendsOnce_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("commands");
        QTest::newRow("t330 sends nothing") << "t330" << 0 << 0;
        QTest::newRow("qz07") << "qz07" << 1 << 1;
        QTest::newRow("kz07") << "kz07" << 2 << 1;
    }
    void startSignTwiceSendsOnce()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        QFETCH(int, commands);
        openPad(model, index);
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(isStartSignOn);
        QCOMPARE(m_sign->StartSign(), 0);
        const QStringList sent = calls(m_sim);
        QCOMPARE(sent.size(), commands);
        if (index == 1)
            QCOMPARE(sent[0], featureLine("0601", 10));
        if (index == 2)
            QVERIFY(kz07Counter(sent[0], kKz07Start) >= 0);
    }

    void aFailedStartLeavesThePadFree()
    {
        openPad("qz07", 1);
        QVERIFY(m_sim.fault("fail-start"));
        QCOMPARE(m_sign->StartSign(), 1003);
        QVERIFY(!isStartSignOn);
        QCOMPARE(m_sign->StartSign(), 1003); // not running: sent again
        QCOMPARE(calls(m_sim), (QStringList{featureLine("0601", 10), featureLine("0601", 10)}));
        QVERIFY(m_sim.fault("none"));
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(isStartSignOn);
        QCOMPARE(m_sign->ExitSign(), 0);
        QVERIFY(!isStartSignOn);
    }

    void reSignOutsideASigningIsInvalid()
    {
        openPad("qz07", 1);
        QCOMPARE(m_sign->reSign(), 1007);
        QCOMPARE(calls(m_sim), QStringList());
        QCOMPARE(m_sign->GetErrorMessage(1007), QString::fromUtf8("命令无效"));
    }

    void reSignOnT330Is1003()
    {
        openPad("t330", 0);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->reSign(), 1003); // the T330 cannot
        QVERIFY(isStartSignOn);
        QCOMPARE(calls(m_sim), QStringList());
    }

    void reSignOnQz07FetchesAndDropsAFeatureReport()
    {
        openPad("qz07", 1);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->reSign(), 0);
        QVERIFY(isStartSignOn);
        QCOMPARE(calls(m_sim), (QStringList{featureLine("0601", 10), featureLine("0602", 10), "get-feature 256"}));
        QVERIFY(m_sim.fault("fail-write"));
        QCOMPARE(m_sign->reSign(), 1003);
    }

    void reSignOnKz07()
    {
        openPad("kz07", 2);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->reSign(), 0);
        QVERIFY(isStartSignOn);
        const QStringList sent = calls(m_sim);
        QCOMPARE(sent.size(), 2);
        const int start = kz07Counter(sent[0], kKz07Start);
        QVERIFY(start >= 0);
        QCOMPARE(kz07Counter(sent[1], kKz07SignAgain), (start + 1) & 0xFFFF);
        QVERIFY(!m_sim.log().join('\n').contains("malformed"));
    }

    void exitSignOutsideASigningDoesNothing()
    {
        openPad("qz07", 1);
        QCOMPARE(m_sign->ExitSign(), 0);
        QCOMPARE(calls(m_sim), QStringList());
    }

    void exitSignOnT330ClosesThePad()
    {
        openPad("t330", 0);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->ExitSign(), 0);
        QVERIFY(!isStartSignOn);
        QVERIFY(!isDeviceOpened);
        QCOMPARE(calls(m_sim), QStringList{"close"});
        QCOMPARE(muti_dev.curIndex.load(), 0); // the model stays known
    }

    void exitSignOnQz07EndsAndCloses()
    {
        openPad("qz07", 1);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->ExitSign(), 0);
        QVERIFY(!isDeviceOpened);
        QCOMPARE(calls(m_sim), (QStringList{featureLine("0601", 10), featureLine("0604", 10), "close"}));
    }

    void aFailedEndOnQz07LeavesThePadOpen()
    {
        openPad("qz07", 1);
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(m_sim.fault("fail-write"));
        QCOMPARE(m_sign->ExitSign(), 1003);
        QVERIFY(!isStartSignOn);
        QVERIFY(isDeviceOpened);
        QVERIFY(!calls(m_sim).contains("close"));
    }

    void exitSignOnKz07KeepsThePadOpen()
    {
        openPad("kz07", 2);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->ExitSign(), 0);
        QVERIFY(!isStartSignOn);
        QVERIFY(isDeviceOpened);
        const QStringList sent = calls(m_sim);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(kz07Counter(sent[1], kKz07End), (kz07Counter(sent[0], kKz07Start) + 1) & 0xFFFF);
        QVERIFY(m_sim.fault("fail-write"));
        QCOMPARE(m_sign->StartSign(), 1003);
        QVERIFY(!isStartSignOn);
        QCOMPARE(m_sign->ExitSign(), 0); // nothing runs, nothing to end
    }

    void aSecondSigningAfterExit_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("index");
        QTest::newRow("t330") << "t330" << 0;
        QTest::newRow("qz07") << "qz07" << 1;
        QTest::newRow("kz07") << "kz07" << 2;
    }
    void aSecondSigningAfterExit()
    {
        QFETCH(QString, model);
        QFETCH(int, index);
        openPad(model, index);
        QCOMPARE(m_sign->StartSign(), 0);
        QCOMPARE(m_sign->ExitSign(), 0);
        tagDEVICE_INFO info;
        QCOMPARE(m_sign->GetDeviceInfo(&info), 0); // reopens where the end closed
        QVERIFY(!info.serial.isEmpty());
        QCOMPARE(m_sign->StartSign(), 0);
        QVERIFY(isStartSignOn);
        QVERIFY(isDeviceOpened);
    }

    // -- small parts --

    void errorMessages()
    {
        const QList<QPair<int, const char *>> table{{1001, "没有可用设备"}, {1000, "暂不支持的设备"},
                                                    {1002, "不支持连接多台设备"}, {1003, "数据读写错误"},
                                                    {1004, "设备打开失败"}, {1005, "设备没打开"},
                                                    {1006, "设备正忙"}, {1007, "命令无效"}};
        for (const auto &row : table)
            QCOMPARE(m_sign->GetErrorMessage(row.first), QString::fromUtf8(row.second));
        QCOMPARE(m_sign->GetErrorMessage(0), QString());
        QCOMPARE(m_sign->GetErrorMessage(1008), QString());
    }

    void writeOnTheOpenPad()
    {
        QByteArray data = QByteArray::fromHex("0001");
        QCOMPARE(m_sign->write(&data), 1001); // no device object yet
        openPad("qz07", 1);
        QCOMPARE(m_sign->write(&data), 0);
        QVERIFY(m_sim.fault("fail-write"));
        QCOMPARE(m_sign->write(&data), 1003);
        QCOMPARE(calls(m_sim), (QStringList{"write 0001", "write 0001"}));
    }

    void rawToPenFollowsTheCurrentModel()
    {
        unsigned char raw[8] = {0x02, 0x11, 0x0F, 0xA0, 0x0B, 0xB8, 0x80, 0x40};
        tagTAVREL_PEN_INPUT_REPORT pen;
        muti_dev.curIndex = 0;
        m_sign->RawToPen(&pen, raw);
        QCOMPARE(int(pen.x), 36768);
        QCOMPARE(int(pen.y), 3000);
        QCOMPARE(int(pen.pressure), 1027);
        muti_dev.curIndex = 1;
        m_sign->RawToPen(&pen, raw);
        QCOMPARE(int(pen.x), 0xA00F);
        QCOMPARE(int(pen.y), 0xB80B);
        QCOMPARE(int(pen.pressure), (0x4080 << 1) & 0xFFFF); // bit 15 shifted out
    }

    void reportsWhileNoModelIsCurrentGiveNoSample()
    {
        qRegisterMetaType<tagTOUCH_INFO>("TOUCH_INFO");
        QSignalSpy samples(m_sign.get(), &CorvanSign::TouchInfoFun);
        QByteArray report = QByteArray::fromHex("02000FA00BB88040");
        muti_dev.curIndex = -1; // the pad was pulled out
        m_sign->paseInputdataToTouchInfo(report);
        QCOMPARE(samples.count(), 0);
        muti_dev.curIndex = 0;
        m_sign->paseInputdataToTouchInfo(report);
        QCOMPARE(samples.count(), 1);
    }
};

QTEST_GUILESS_MAIN(CorvanSignTest)
#include "tst_corvansign.moc"

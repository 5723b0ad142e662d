// A whole signing as a page, a pad and the person at the machine see it: the
// real driver on the virtual pad, in an X session whose monitor carries the
// "RKX" manufacturer code, with a real WebSocket page.
#include "pathfile.h"
#include "signingsession.h"

#include <QJsonDocument>

namespace {
QString errorBoxText(const QString &label, const QString &message, int trailingSpaces)
{
    return "    " + label + message + QString(trailingSpaces, ' ');
}

const QString kNoDevice = QString::fromUtf8("没有可用设备");
const QString kBusy = QString::fromUtf8("设备正忙");
const QString kReadWrite = QString::fromUtf8("数据读写错误");
}

class TestSigning : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<XSession> x;

    // Finds the driver's error box, checks its text in the driver's log and
    // dismisses it as the person at the machine would.
    bool dismissErrorBox(SigningSession &s, const QString &text)
    {
        QStringList boxes;
        if (!QTest::qWaitFor([&] { return !(boxes = x->visibleWindows(s.driver->pid(), "^错误$")).isEmpty(); },
                             10000)) {
            qWarning() << "no error box appeared";
            return false;
        }
        if (!s.driver->waitForOutput(text, 2000)) {
            qWarning().noquote() << "box text not logged:" << text << "\n" << s.driver->output();
            return false;
        }
        x->run("xdotool", {"windowfocus", "--sync", boxes.first(), "key", "Return"});
        return QTest::qWaitFor([&] { return x->visibleWindows(s.driver->pid(), "^错误$").isEmpty(); }, 5000);
    }

    bool signingWindowShown(SigningSession &s)
    {
        return QTest::qWaitFor(
            [&] {
                for (const QString &w : x->visibleWindows(s.driver->pid())) {
                    const QString geometry = x->run("xdotool", {"getwindowgeometry", w});
                    if (geometry.contains("1920x1080"))
                        return true;
                }
                return false;
            },
            10000);
    }

    void startSigning(SigningSession &s)
    {
        s.request("2025", s.outDir());
        s.request("2023");
        QVERIFY(s.waitForBlankImages(1));
    }

private slots:
    void initTestCase()
    {
        x = XSession::startXvfb(QSize(1920, 1080));
        QVERIFY2(!x->display().isEmpty(), qPrintable(x->lastError()));
        QVERIFY(x->setEdidVendor("screen", "RKX"));
    }

    void aSignatureIsSavedOnConfirm_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<bool>("confirmOnThePad");
        for (const char *model : {"t330", "qz07", "kz07"}) {
            QTest::newRow(qPrintable(QString(model) + " confirmed by the page")) << model << false;
            QTest::newRow(qPrintable(QString(model) + " confirmed on the pad")) << model << true;
        }
    }

    void aSignatureIsSavedOnConfirm()
    {
        QFETCH(QString, model);
        QFETCH(bool, confirmOnThePad);
        SigningSession s;
        QVERIFY(s.start(x.get(), model));
        startSigning(s);
        if (model == "t330")
            QVERIFY(signingWindowShown(s));

        QVERIFY(s.playDemoSignature());
        if (confirmOnThePad)
            QVERIFY(s.pad->ok("button confirm"));
        else
            s.request("2022");
        QVERIFY(s.waitForBlankImages(2));

        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        QCOMPARE(path.header.mid(56).toHex(), QByteArray("014000f0000000000000000a"));
        const int drawn = path.records.size();
        QVERIFY2(drawn > 100, qPrintable(QString::number(drawn)));
        QCOMPARE(s.drawingImages(), (drawn + 9) / 10); // samples 1, 11, 21, ... of the process

        const QImage saved(s.outDir() + "/save.png");
        QVERIFY(!saved.isNull());
        QCOMPARE(saved.size(), expectedSignatureSize(path.records));
        QVERIFY(inkPixels(saved) > 200);
        QVERIFY(inkPixels(s.images().last().picture) == 0); // the canvas was cleared after saving

        if (model == "t330")
            QTRY_VERIFY_WITH_TIMEOUT(x->visibleWindows(s.driver->pid()).isEmpty(), 5000);
        QCOMPARE(s.driver->terminate(), 0);
    }

    void signingAgainStartsFromABlankSignature()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "qz07"));
        startSigning(s);
        // Eleven samples: the eleventh asks for the second live picture, which
        // tells that the driver has drawn all of them before the re-sign.
        for (int i = 0; i < 11; ++i)
            QVERIFY(s.pad->ok(QString("pen %1 2000 600").arg(2000 + 150 * i)));
        QVERIFY(s.waitForDrawingImages(2));
        s.request("2021");
        QVERIFY(s.waitForBlankImages(2));

        // As fast as the driver reads it: every step arrives, whatever the load.
        const QString played = s.pad->command("stroke demo rate max");
        const int steps = played.section(' ', 2, 2).toInt();
        QVERIFY(QTest::qWaitFor([&] { return s.pad->status().contains("stroke idle"); }, 30000));
        QVERIFY(s.pad->waitUntilAllRead());
        QCOMPARE(s.pad->droppedReports(), 0L);
        // Samples are drawn again after the re-sign.
        QVERIFY(QTest::qWaitFor([&] { return inkPixels(s.images().last().picture) > 0; }, 10000));
        s.request("2022");
        QVERIFY(s.waitForBlankImages(3));

        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        QCOMPARE(path.records.size(), steps); // nothing of the first attempt
        QCOMPARE(s.driver->terminate(), 0);
    }

    void cancellingWritesNothing()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "kz07"));
        startSigning(s);
        QVERIFY(s.playDemoSignature());
        s.request("2024");
        QVERIFY(s.waitForBlankImages(2));
        QTest::qWait(kAbsenceWatchMs); // no late job writes a signature after the cancel
        QVERIFY(QFile::exists(s.outDir() + "/testfile"));
        QVERIFY(!QFile::exists(s.outDir() + "/save.png"));
        QVERIFY(!QFile::exists(s.outDir() + "/path.save"));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void theSerialNumberReachesEveryPage()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "qz07", " serial QZ12345678"));
        WsClient second;
        QVERIFY(second.open());
        second.sendJson(QJsonObject{{"bizcode", "2040"}});
        const QString reply = "{\"bizcode\":\"2040\",\"devicesn\":\"QZ12345678\"}";
        QVERIFY(s.page.waitForMessages(1));
        QVERIFY(second.waitForMessages(1));
        QCOMPARE(s.page.messages, QStringList{reply});
        QCOMPARE(second.messages, QStringList{reply});
        QCOMPARE(s.driver->terminate(), 0);
    }

    // A pad without a serial number answers "2040" with an empty one and
    // signs like any other.
    void aPadWithoutASerialNumberAnswersEmptyAndSigns_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("padOptions");
        QTest::addColumn<QString>("fault");
        QTest::newRow("t330 without a serial string") << "t330" << " no-serial" << "none";
        QTest::newRow("t330 whose string query fails") << "t330" << "" << "fail-string";
        QTest::newRow("qz07") << "qz07" << " no-serial" << "none";
        QTest::newRow("kz07") << "kz07" << " no-serial" << "none";
    }
    void aPadWithoutASerialNumberAnswersEmptyAndSigns()
    {
        QFETCH(QString, model);
        QFETCH(QString, padOptions);
        QFETCH(QString, fault);
        SigningSession s;
        QVERIFY(s.start(x.get(), model, padOptions));
        QVERIFY(s.pad->fault(fault));
        s.request("2040");
        QVERIFY(s.page.waitForMessages(1));
        QCOMPARE(s.page.messages.first(), QString("{\"bizcode\":\"2040\",\"devicesn\":\"\"}"));
        startSigning(s);
        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QVERIFY(s.waitForBlankImages(2));
        QVERIFY(inkPixels(QImage(s.outDir() + "/save.png")) > 50);
        QVERIFY(readPathFile(s.outDir() + "/path.save").valid);
        QVERIFY(!s.driver->output().contains(kReadWrite));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void aSavedPathReplaysOnTheCanvas()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "qz07"));
        startSigning(s);
        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QVERIFY(s.waitForBlankImages(2));
        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        const int drawn = path.records.size();
        const int before = s.images().size();

        QFile file(s.outDir() + "/path.save");
        QVERIFY(file.open(QIODevice::ReadOnly));
        s.request("2020", QString::fromLatin1(file.readAll().toBase64()));

        // The replay counts on from the signing's samples: one picture for
        // every multiple of ten among the counter values it takes.
        int expected = 0;
        for (int counter = drawn; counter < drawn + path.records.size(); ++counter)
            expected += counter % 10 == 0 ? 1 : 0;
        QVERIFY(s.page.waitForMessages(before + expected, 15000));
        QTest::qWait(kAbsenceWatchMs); // the replay sends no picture beyond those counted
        const QList<ImageMessage> images = s.images();
        QCOMPARE(images.size(), before + expected);
        QVERIFY(images.last().drawing);
        QVERIFY(inkPixels(images.last().picture) > 200);
        QCOMPARE(s.driver->terminate(), 0);
    }

    void withoutAPadThePersonSeesWhyAndPagesGetNothing()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), QString()));
        s.request("2023");
        QVERIFY(dismissErrorBox(s, errorBoxText(QString::fromUtf8("提示信息：    "), kNoDevice, 6)));
        s.request("2040");
        QVERIFY(dismissErrorBox(s, errorBoxText(QString::fromUtf8("错误信息：       "), kNoDevice, 14)));
        QTest::qWait(kAbsenceWatchMs); // the failures reach no page
        QCOMPARE(s.page.messages.size(), 0);
        QCOMPARE(s.driver->terminate(), 0);
    }

    void aSecondStartDuringASigningIsRefusedAsBusy()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "qz07"));
        startSigning(s);
        s.request("2023");
        QVERIFY(dismissErrorBox(s, errorBoxText(QString::fromUtf8("提示信息：    "), kBusy, 6)));
        s.request("2040");
        QVERIFY(dismissErrorBox(s, errorBoxText(QString::fromUtf8("错误信息：       "), kBusy, 14)));
        QVERIFY(s.playDemoSignature());
        QVERIFY(s.waitForDrawingImages(11)); // the signing went on undisturbed
        QCOMPARE(s.driver->terminate(), 0);
    }

    // A start the pad refuses is shown with its error, leaves the pad free
    // (no "busy") and the next start signs normally once the fault is gone.
    void aFailedStartIsShownAndTheNextStartSigns_data()
    {
        QTest::addColumn<QString>("model");
        QTest::newRow("qz07") << "qz07";
        QTest::newRow("kz07") << "kz07";
    }
    void aFailedStartIsShownAndTheNextStartSigns()
    {
        QFETCH(QString, model);
        SigningSession s;
        QVERIFY(s.start(x.get(), model));
        s.request("2025", s.outDir());
        QVERIFY(s.pad->fault("fail-start"));
        s.request("2023");
        QVERIFY(dismissErrorBox(s, errorBoxText(QString::fromUtf8("提示信息：    "), kReadWrite, 6)));
        QVERIFY(s.pad->fault("none"));
        s.request("2040");
        QVERIFY(s.page.waitForMessages(1));
        QVERIFY(s.page.messages.first().contains("devicesn"));
        startSigning(s);
        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QVERIFY(s.waitForBlankImages(2));
        QVERIFY(inkPixels(QImage(s.outDir() + "/save.png")) > 50);
        QVERIFY(!s.driver->output().contains(kBusy));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void anUnwritableDirectoryIsReported()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "qz07"));
        QFile blocker(s.root.path() + "/blocker");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        s.request("2025", blocker.fileName() + "/signatures");
        QVERIFY(dismissErrorBox(
            s, QString::fromUtf8("    错误信息： 文件无法创建，请检查目录的操作权限   ")));

        // The refused directory is forgotten: a confirm still answers the
        // page but saves nothing until a usable directory is set.
        s.request("2023");
        QVERIFY(s.waitForBlankImages(1));
        for (int i = 0; i < 5; ++i)
            QVERIFY(s.pad->ok(QString("pen %1 3000 700").arg(3000 + 300 * i)));
        QVERIFY(s.pad->waitUntilAllRead());
        s.request("2022");
        QVERIFY(s.waitForBlankImages(2));
        QVERIFY(s.driver->waitForOutput("confirm without a usable directory", 5000));
        QVERIFY(!s.driver->output().contains("signature saved"));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void aT330WithoutItsMonitorIsStoppedAgain()
    {
        std::unique_ptr<XSession> plain = XSession::startXvfb(QSize(1280, 800));
        QVERIFY(!plain->display().isEmpty());
        std::swap(x, plain);
        SigningSession s;
        const bool started = s.start(x.get(), "t330");
        if (started) {
            s.pad->clearLog();
            s.request("2023");
        }
        const bool dismissed = started
            && dismissErrorBox(s, QString::fromUtf8("    错误信息：      请检查手写屏设置是否正确       "));
        std::swap(x, plain);
        QVERIFY(dismissed);
        QVERIFY(s.pad->log().contains("close")); // the pad's signing was ended
        QCOMPARE(s.page.messages.size(), 0);
        QCOMPARE(s.driver->terminate(), 0);
    }

    void aPadPulledOutDuringASigningTakesItsWindowAndComesBack()
    {
        SigningSession s;
        QVERIFY(s.start(x.get(), "t330"));
        startSigning(s);
        QVERIFY(signingWindowShown(s));
        QVERIFY(s.pad->unplug("t330"));
        QTRY_VERIFY_WITH_TIMEOUT(x->visibleWindows(s.driver->pid()).isEmpty(), 5000);
        QVERIFY(s.driver->isRunning());

        QVERIFY(s.plugAndWaitForDriver("t330"));
        s.request("2023");
        QVERIFY(s.waitForBlankImages(2));
        QVERIFY(signingWindowShown(s));
        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QVERIFY(s.waitForBlankImages(3));
        QVERIFY(QFile::exists(s.outDir() + "/save.png"));
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSigning)
#include "tst_signing.moc"

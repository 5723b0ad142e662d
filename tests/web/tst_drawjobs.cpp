// The draw-to-web hand-over: each command's job acts once, on its own flag,
// whatever sample jobs are queued or running around it.
#include "app/mainwindow.h"
#include "app/signingstate.h"
#include "ink/ZqDraw.h"
#include "support/wsclient.h"
#include "web/drawjobs.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

class TestDrawJobs : public QObject
{
    Q_OBJECT

private:
    static int countBlankImages(const WsClient &page)
    {
        int blanks = 0;
        for (const QJsonObject &m : page.jsonMessages())
            blanks += m.value("bizcode").toString() == "2006" && !m.value("bool").toBool() ? 1 : 0;
        return blanks;
    }

private slots:
    void jobsAreTakenInOrderAndWaitsEndWhenTheRunningJobEnds()
    {
        DrawJobs jobs;
        int flag = 0;
        QVERIFY(!jobs.startNext(&flag));
        jobs.push(-1);
        jobs.push(3);
        QVERIFY(jobs.startNext(&flag));
        QCOMPARE(flag, -1);
        QCOMPARE(isOnDrawing.load(), 1);
        QVERIFY(!jobs.waitWhileOneRuns(50)); // times out instead of hanging

        std::thread worker([&jobs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            jobs.finish();
        });
        QVERIFY(jobs.waitWhileOneRuns(5000));
        QVERIFY(!jobs.waitUntilAllDone(50)); // the confirm is still queued
        worker.join();
        QCOMPARE(isOnDrawing.load(), 0);
        QVERIFY(jobs.startNext(&flag));
        QCOMPARE(flag, 3);
        jobs.finish();
        QVERIFY(jobs.waitUntilAllDone(50));
    }

    void aConfirmBehindQueuedSampleJobsSavesTheSignatureOnce()
    {
        QTemporaryDir out;
        MainWindow window;
        WsClient page;
        QVERIFY(page.open());
        strSavePicName.set(out.path() + "/save.png");
        strSavePathName.set(out.path() + "/path.save");
        devXmax = 10206;
        devYmax = 7422;
        isOnTouch = true;

        const int samples = 40;
        for (int i = 0; i < samples; ++i)
            window.OnTouchInfoFun(TOUCH_INFO{2000 + 120 * i, 3000 + 40 * i, 900, -1});
        for (int i = 0; i < 200; ++i) // a backlog of sample jobs, as a fast replay leaves
            window.requestDrawToWeb(-1);
        window.OnTouchInfoFun(TOUCH_INFO{0, 0, 0, 3});

        QTRY_COMPARE_WITH_TIMEOUT(countBlankImages(page), 1, 20000);
        QTest::qWait(300);
        QCOMPARE(countBlankImages(page), 1);
        QFile path(out.path() + "/path.save");
        QVERIFY(path.open(QIODevice::ReadOnly));
        QCOMPARE(path.readAll().count('\n'), 1 + samples); // header line and one per sample
        const QImage saved(out.path() + "/save.png");
        QVERIFY(!saved.isNull());
        int ink = 0;
        for (int y = 0; y < saved.height(); ++y)
            for (int x = 0; x < saved.width(); ++x)
                ink += qAlpha(saved.pixel(x, y)) > 128 ? 1 : 0;
        QVERIFY2(ink > 100, qPrintable(QString::number(ink)));
        QVERIFY(!isOnTouch);
    }

    void samplesBeforeAStartAreDroppedWithoutCounting()
    {
        MainWindow window;
        isOnTouch = false;
        const int before = pointIndexa;
        window.OnTouchInfoFun(TOUCH_INFO{100, 100, 500, -1});
        QCOMPARE(pointIndexa.load(), before);
    }
};

QTEST_MAIN(TestDrawJobs)
#include "tst_drawjobs.moc"

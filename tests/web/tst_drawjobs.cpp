// The draw-to-web hand-over: each command's job acts once, on its own flag,
// whatever sample jobs are queued or running around it.
#include "app/mainwindow.h"
#include "ink/ZqDraw.h"
#include "support/wsclient.h"
#include "signing/signingstate.h"
#include "web/DrawToWebRunnable.h"
#include "web/drawjobs.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <thread>

class TestDrawJobs : public QObject
{
    Q_OBJECT

private:
    // Every job asked for so far is done and `page` has every message sent
    // meanwhile: the worker's queue is passed, its sends are handed to the
    // sockets, and a ping is answered behind them.
    static bool allJobsReachedThePage(MainWindow &window, WsClient &page)
    {
        QMetaObject::invokeMethod(window.drawToWebWorker(), [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::sendPostedEvents();
        return page.roundTrip();
    }

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
        QVERIFY(!jobs.startNext());
        jobs.push(-1);
        jobs.push(3);
        QVERIFY(jobs.startNext());
        QCOMPARE(ExcCommFlag.load(), -1);
        QCOMPARE(isOnDrawing.load(), 1);
        QVERIFY(!jobs.waitWhileOneRuns(50)); // times out instead of hanging

        // The job ends a while later in another thread: the wait must block
        // until then, not return at once.
        std::thread worker([&jobs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            jobs.finish();
        });
        QVERIFY(jobs.waitWhileOneRuns(5000));
        QVERIFY(!jobs.waitUntilAllDone(50)); // the confirm is still queued
        worker.join();
        QCOMPARE(isOnDrawing.load(), 0);
        QCOMPARE(ExcCommFlag.load(), -1); // the last job's, until the next starts
        QVERIFY(jobs.startNext());
        QCOMPARE(ExcCommFlag.load(), 3);
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
        QVERIFY(allJobsReachedThePage(window, page));
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

    // With the worker held back, picture jobs beyond the waiting limit merge;
    // the commands behind them each give one blank picture, after every
    // picture asked for before them, and the confirm saves all the ink.
    void pictureJobsMergeWhileTheWorkerIsHeldBack()
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
        pointIndexa = 0;

        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        QMetaObject::invokeMethod(window.drawToWebWorker(), [released] { released.wait(); }, Qt::QueuedConnection);
        const int samples = 10 * (DrawJobs::kMaxWaitingPictures + 20); // 20 more picture jobs than may wait
        for (int i = 0; i < samples; ++i)
            window.OnTouchInfoFun(TOUCH_INFO{2000 + 20 * i, 3000 + 10 * (i % 200), 900, -1});
        window.OnTouchInfoFun(TOUCH_INFO{0, 0, 0, 3});
        window.onTextMessageReceived(R"({"bizcode":"2021"})");
        window.onTextMessageReceived(R"({"bizcode":"2024"})");
        release.set_value();

        QTRY_COMPARE_WITH_TIMEOUT(countBlankImages(page), 3, 20000);
        QVERIFY(allJobsReachedThePage(window, page));
        const QList<QJsonObject> messages = page.jsonMessages();
        QCOMPARE(messages.size(), DrawJobs::kMaxWaitingPictures + 3);
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(messages.at(i).value("bool").toBool(), i < DrawJobs::kMaxWaitingPictures);
        // The last merged picture holds the newest ink: every sample drawn.
        const QByteArray last = QByteArray::fromBase64(
            messages.at(DrawJobs::kMaxWaitingPictures - 1).value("body").toObject().value("signbase64").toString().toLatin1());
        ZqDraw expected;
        for (int i = 0; i < samples; ++i)
            expected.drawPenLine(2000 + 20 * i, 3000 + 10 * (i % 200), 10206, 7422, 900);
        QCOMPARE(QImage::fromData(last, "PNG").convertToFormat(QImage::Format_ARGB32), expected.picture());
        QFile path(out.path() + "/path.save");
        QVERIFY(path.open(QIODevice::ReadOnly));
        QCOMPARE(path.readAll().count('\n'), 1 + samples);
        const QImage saved(out.path() + "/save.png");
        QVERIFY(!saved.isNull() && saved.width() > 100);
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

// Pad faults against the real driver: pulled out mid-stroke, plugged in and
// out many times, stalled, failing reads. The driver keeps its GUI thread
// free, leaks nothing, and an ordinary signing afterwards succeeds.
#include "web/hostilesession.h"

#include "support/procstats.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {
// The driver's log lines for a current pad pulled out, and for an error box
// (a failed query shows one).
const QString kPadRemoved = QString::fromUtf8("设备拔出： ");
const QString kErrorBoxLogged = QString::fromUtf8("错误:");
const QString kSigningEnds = QStringLiteral("the pad could not be read; the signing ends");
}

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
    int blanks() const
    {
        int count = 0;
        for (const ImageMessage &m : s.images())
            count += m.drawing ? 0 : 1;
        return count;
    }

    int logged(const QString &text) { return s.driver->output().count(text); }

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
        QVERIFY(s.pad->waitForStrokeSteps(60));
        const int removals = logged(kPadRemoved);
        QVERIFY(s.pad->unplug("qz07"));
        QVERIFY(QTest::qWaitFor([&] { return logged(kPadRemoved) > removals; }, 10000));
        QVERIFY(s.driver->isRunning());
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.plugAndWaitForDriver("qz07"));
        const int before = blanks();
        s.request("2024");
        QVERIFY(s.waitForBlankImages(before + 1));
    }

    void pluggedInAndOutRepeatedlyLeaksNothing()
    {
        const qint64 pid = s.driver->pid();
        QVERIFY(s.pad->unplug("qz07"));
        QVERIFY(s.plugAndWaitForDriver("qz07"));
        const int descriptors = procstats::descriptors(pid);
        const int threads = procstats::threads(pid);
        for (int i = 0; i < 30; ++i) {
            // The driver sees the removal before the arrival it waits for.
            QVERIFY(s.pad->unplug("qz07"));
            QVERIFY(s.plugAndWaitForDriver("qz07"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(procstats::descriptors(pid) <= descriptors + 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(procstats::threads(pid) <= threads + 1, 10000);
        QVERIFY(answersSerialRequest(s, s.page));
    }

    void aStalledPadDuringTheSerialQuery()
    {
        const int failures = logged(kErrorBoxLogged);
        QVERIFY(s.pad->fault("stall"));
        s.request("2040");
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->fault("none"));
        // The stalled query gives up at its time limit and says so.
        QVERIFY(QTest::qWaitFor([&] { return logged(kErrorBoxLogged) > failures; }, 10000));
        QVERIFY(answersSerialRequest(s, s.page));
    }

    void aStalledPadDuringConfirm()
    {
        startSigning();
        QVERIFY(s.playDemoSignature());
        const int before = blanks();
        QVERIFY(s.pad->fault("stall"));
        s.request("2022");
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->fault("none"));
        QVERIFY(s.waitForBlankImages(before + 1, 20000)); // the confirm was carried out
        QVERIFY(s.driver->isRunning());
    }

    void readFailuresMidSigning()
    {
        startSigning();
        const int started = blanks();
        const int endings = logged(kSigningEnds);
        QVERIFY(s.pad->command("stroke demo").startsWith("ok"));
        QVERIFY(s.pad->waitForStrokeSteps(60));
        const int failures = logged("pad read failed; retrying");
        QVERIFY(s.pad->fault("fail-read"));
        QVERIFY(QTest::qWaitFor([&] { return logged("pad read failed; retrying") > failures; }, 10000));
        QVERIFY(guiThreadAnswers());
        QVERIFY(s.pad->fault("none"));
        QTRY_VERIFY_WITH_TIMEOUT(s.pad->status().contains("stroke idle"), 30000);
        // The reader went back to reading, or, had the reads failed for
        // longer than it retries (a machine too busy to run the test on
        // time), it gave the signing up, said so, and the driver answered
        // that with a blank picture of its own.
        QVERIFY(QTest::qWaitFor([&] { return s.pad->waitUntilAllRead(0) || logged(kSigningEnds) > endings; },
                                10000));
        if (logged(kSigningEnds) > endings)
            QVERIFY(s.waitForBlankImages(started + 1, 20000));
        const int before = blanks();
        s.request("2024");
        QVERIFY(s.waitForBlankImages(before + 1, 20000));
        QVERIFY(s.driver->isRunning());
    }

    // Twenty pages ask for the status over and over while the pad does not
    // answer: the pad is asked once at a time, every page gets its answer,
    // and another page's cancel is carried out meanwhile.
    void statusRequestsOnAStalledPadHoldNoOtherPage()
    {
        constexpr int kAskers = 20;
        std::vector<std::unique_ptr<WsClient>> askers;
        WsClient observer;
        QVERIFY(observer.open());
        observer.sendJson(QJsonObject{{"bizcode", "2100"}});
        for (int i = 0; i < kAskers; ++i) {
            askers.push_back(std::make_unique<WsClient>());
            QVERIFY(askers.back()->open());
            askers.back()->sendJson(QJsonObject{{"bizcode", "2100"}});
        }
        const auto allAnswered = [&askers] {
            for (const auto &asker : askers)
                if (asker->messages.isEmpty() || !asker->messages.last().contains("\"bizcode\":\"2101\""))
                    return false;
            return true;
        };
        QVERIFY(QTest::qWaitFor(allAnswered, 20000));
        QVERIFY(observer.waitForMessages(1, 20000));

        QVERIFY(s.pad->fault("stall"));
        QVERIFY(s.pad->clearLog());
        int rounds = 0;
        QTimer asking;
        asking.setInterval(50);
        connect(&asking, &QTimer::timeout, [&] {
            ++rounds;
            for (const auto &asker : askers)
                asker->sendJson(QJsonObject{{"bizcode", "2101"}});
        });
        QElapsedTimer stalled;
        stalled.start();
        asking.start();
        QVERIFY(QTest::qWaitFor([&] { return rounds >= 5; }, 10000));

        const int seen = observer.messages.size();
        QElapsedTimer cancel;
        cancel.start();
        observer.sendJson(QJsonObject{{"bizcode", "2024"}});
        const auto cancelled = [&] {
            const QList<QJsonObject> all = observer.jsonMessages();
            for (int i = seen; i < all.size(); ++i)
                if (all.at(i).value("bizcode").toString() == "2110"
                    && all.at(i).value("body").toObject().value("result").toString() == "cancelled")
                    return true;
            return false;
        };
        QVERIFY(QTest::qWaitFor(cancelled, 20000));
        qInfo() << "cancel carried out in" << cancel.elapsed() << "ms";
        QVERIFY2(cancel.elapsed() < 1000, qPrintable(QString::number(cancel.elapsed())));

        // Every page hears that the pad did not answer.
        for (const auto &asker : askers)
            asker->messages.clear();
        const auto allHeardTheFailure = [&askers] {
            for (const auto &asker : askers)
                if (!asker->messages.join('\n').contains("\"padError\":{\"code\":1003"))
                    return false;
            return true;
        };
        QVERIFY(QTest::qWaitFor(allHeardTheFailure, 20000));
        asking.stop();
        // One query at a time, each waiting out the pad's time limit.
        constexpr qint64 kQueryLimitMs = 3000; // the driver's wait for the pad's answer
        const int queries = s.pad->log().filter("feature 00080b").size();
        const qint64 mostQueries = stalled.elapsed() / kQueryLimitMs + 1;
        QVERIFY2(queries >= 1 && queries <= mostQueries,
                 qPrintable(QString("%1 queries in %2 ms").arg(queries).arg(stalled.elapsed())));
        QVERIFY(s.pad->fault("none"));
    }

    void anOrdinarySigningStillSucceeds()
    {
        // A failed read may have let the pad go: plugging it in again is
        // what the person at the desk would do.
        QVERIFY(s.pad->unplug("qz07"));
        QVERIFY(s.plugAndWaitForDriver("qz07"));
        QVERIFY(signsNormally(s));
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_MAIN(TestHostilePad)
#include "tst_hostile_pad.moc"

// The driver under load: the virtual pad streams as fast as the driver takes
// its reports, or a long replay runs, while pages read, ask and confirm.
#include "pathfile.h"
#include "signingsession.h"

#include "ink/pointpath.h"
#include "support/procstats.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <cmath>

namespace {
// Waits here only catch a hang. How fast the driver answers under a flood is
// measured by the benchmark (make bench), not asserted on a shared machine:
// that a page's requests are served between the flood's samples, not after
// them, shows in their order (below).
constexpr int kHangMs = 60000;

// Counted from the text: decoding thousands of pictures per look would be slow.
int pictures(const WsClient &page, bool drawing)
{
    const QString flag = drawing ? QStringLiteral("\"bool\":true}") : QStringLiteral("\"bool\":false}");
    int count = 0;
    for (const QString &m : page.messages)
        count += m.startsWith(QStringLiteral("{\"bizcode\":\"2006\"")) && m.endsWith(flag);
    return count;
}

// What the driver reports for one "2040": the serial, or during a signing
// the busy refusal shown at the machine (pages get nothing then).
int serialAnswers(const WsClient &page, DriverProcess &driver)
{
    int count = driver.output().count(QStringLiteral("错误:"));
    for (const QString &m : page.messages)
        count += m.contains(QStringLiteral("\"devicesn\""));
    return count;
}
} // namespace

class TestPenFlood : public QObject
{
    Q_OBJECT

private slots:
    // A pen flood: the reading pages stay, the one that never reads goes,
    // every "2040" is answered while the flood still plays, memory stays
    // bounded, every sample is recorded, and a confirm right after writes the
    // pair.
    void aPenFloodKeepsThePagesServedAndLosesNothing()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        WsClient asker;
        QVERIFY(asker.open());
        QTcpSocket stalled;
        stalled.connectToHost("127.0.0.1", 36325);
        QVERIFY(stalled.waitForConnected(3000));
        stalled.setReadBufferSize(1);
        stalled.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QVERIFY(stalled.waitForBytesWritten(3000));

        s.request("2025", s.outDir());
        s.request("2023");
        QVERIFY(s.waitForBlankImages(1));
        const int samples = 60000;
        QVERIFY(s.pad->command("stroke " + writeScribble(s.root.path(), samples) + " rate max").startsWith("ok"));

        // The second page asks for the serial while the pen floods, the next
        // time once the last is answered (and 100 ms have passed). Were a
        // page's request held until every queued sample was drawn, then with
        // the samples piling up the first answer would come only after the
        // flood, and the asking would end there.
        QElapsedTimer flood;
        flood.start();
        int asked = 0;
        bool streaming = true;
        while (streaming && flood.elapsed() < 300000) {
            QElapsedTimer asking;
            asking.start();
            const int before = serialAnswers(asker, *s.driver);
            asker.send(R"({"bizcode":"2040"})");
            ++asked;
            QVERIFY2(QTest::qWaitFor([&] { return serialAnswers(asker, *s.driver) > before; }, kHangMs),
                     qPrintable(QStringLiteral("request %1 was not answered").arg(asked)));
            // Pacing, not a wait for an event: the asking goes on at most ten times a second.
            QTest::qWait(int(std::max<qint64>(0, 100 - asking.elapsed())));
            streaming = !s.pad->status().join('\n').contains("stroke idle");
        }
        QVERIFY2(!streaming, "the flood did not end");
        QVERIFY2(asked >= 5, qPrintable(QString::number(asked)));
        const qint64 peak = procstats::peakRssKiB(s.driver->pid());
        QVERIFY2(peak > 0 && peak < procstats::memoryBoundKiB(128 * 1024), qPrintable(QStringLiteral("peak RSS %1 KiB").arg(peak)));

        s.request("2022");
        QVERIFY(QTest::qWaitFor([&] { return pictures(s.page, false) == 2; }, kHangMs));
        QVERIFY(QFile::exists(s.outDir() + "/save.png"));
        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        QCOMPARE(path.records.size(), samples);
        QVERIFY(inkPixels(QImage(s.outDir() + "/save.png")) > 100);

        // The reading pages got every picture they were sent and stay.
        QVERIFY(s.page.socket.state() == QAbstractSocket::ConnectedState && !s.page.disconnected);
        QVERIFY(!asker.disconnected);
        QVERIFY(pictures(s.page, true) > 0);
        QVERIFY(QTest::qWaitFor([&] { return pictures(asker, false) == 2; }, kHangMs));
        QCOMPARE(pictures(asker, true), pictures(s.page, true));
        QCOMPARE(pictures(asker, false), 2);
        // A long replay then sends the pages far more than the bound and what
        // socket buffers hold: the page that never read is gone, while the
        // reading pages get every command's picture.
        auto received = [&] {
            qint64 bytes = 0;
            for (const QString &m : asker.messages)
                bytes += m.size();
            return bytes;
        };
        QVector<TOUCH_INFO_F> records;
        for (int i = 0; i < 40000; ++i)
            records.append(TOUCH_INFO_F{float(20 + (i * 7) % 280), float(20 + (i * 3) % 200), 700, i % 150 ? 2 : 1});
        s.request("2020", QString::fromLatin1(pointpath::encodeFile(records).toBase64()));
        QVERIFY(QTest::qWaitFor([&] { return received() > 40 * 1024 * 1024 || pictures(asker, true) >= 4000; }, 300000));
        s.request("2024");
        QVERIFY(QTest::qWaitFor([&] { return pictures(asker, false) == 3 && pictures(s.page, false) == 3; }, 300000));
        QVERIFY(!s.page.disconnected && !asker.disconnected);
        QCOMPARE(pictures(s.page, false), 3);
        QVERIFY2(QTest::qWaitFor([&] { return s.driver->output().contains("dropping it (1008)"); }, 30000),
                 "the page that never reads was kept");
    }

    // A long replay paces itself by the worker: a start sent at once is
    // served before the replay ends, stops it, and the signing that follows
    // saves the signer's ink alone.
    void aStartDuringALongReplayIsServedPromptly()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        s.request("2025", s.outDir());

        QVector<TOUCH_INFO_F> records;
        for (int i = 0; i < 100000; ++i)
            records.append(TOUCH_INFO_F{float(160 + (i * 7) % 140), float(120 + (i * 3) % 100), 500, i % 200 ? 2 : 1});
        s.request("2020", QString::fromLatin1(pointpath::encodeFile(records).toBase64()));
        QVERIFY(QTest::qWaitFor([&] { return pictures(s.page, true) > 10; }, 20000));
        s.request("2023");
        QVERIFY(QTest::qWaitFor([&] { return pictures(s.page, false) == 1; }, kHangMs));
        // The whole replay would have sent 10,000 pictures: the start stopped it.
        const int replayPictures = pictures(s.page, true);
        QVERIFY(replayPictures < 10000);

        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QVERIFY(QTest::qWaitFor([&] { return pictures(s.page, false) == 2; }, kHangMs));
        // Every live picture went out before the confirm's blank one.
        const int livePictures = pictures(s.page, true) - replayPictures;
        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        // The live samples only, one picture per ten of them; the one-in-ten
        // counter is shared with the replay, so it may start anywhere in ten.
        QVERIFY(path.records.size() > 100);
        QVERIFY2(std::abs((path.records.size() + 9) / 10 - livePictures) <= 1,
                 qPrintable(QStringLiteral("%1 records, %2 pictures").arg(path.records.size()).arg(livePictures)));
        QVERIFY(!QImage(s.outDir() + "/save.png").isNull());
    }
};

QTEST_MAIN(TestPenFlood)
#include "tst_penflood.moc"

#include "app/mainwindow.h"
#include "ink/DrawPathThread.h"
#include "ink/ZqDraw.h"
#include "support/filesizelimit.h"
#include "signing/signingstate.h"

#include <QFile>
#include <QImage>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace {
constexpr int kXmax = 320; // with these extents the pad-to-canvas mapping is the identity
constexpr int kYmax = 240;

const QByteArray kHeaderTail("\x01\x40\x00\xF0\x00\x00\x00\x00\x00\x00\x00\n", 12);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A path file with any filler, built from record texts (or raw line bytes).
QByteArray pathFile(const QList<QByteArray> &recordTexts)
{
    QByteArray file(56, 'A');
    file += kHeaderTail;
    for (const QByteArray &text : recordTexts)
        file += text.toBase64() + '\n';
    return file;
}

QString asRequest(const QByteArray &file)
{
    return QString::fromLatin1(file.toBase64());
}

int inkedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

bool inkAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) > 0;
}

// Collects what the process writes to its standard output meanwhile.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        m_file.open();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        dup2(m_file.handle(), STDOUT_FILENO);
    }
    QByteArray finish()
    {
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        return readAll(m_file.fileName());
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Holds the replay thread at its first drawToWeb() emission until released.
class ReplayGate
{
public:
    void pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_entered = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_released; });
    }
    bool waitEntered()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_entered; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_entered = false;
    bool m_released = false;
};
} // namespace

class PointPathTest : public QObject
{
    Q_OBJECT

private:
    MainWindow *m_window = nullptr;
    QTemporaryDir m_dir;

    ZqDraw *canvas() const { return zqDraw; }

    // Two strokes, each ended by a lift, with hover samples around them.
    void signOnCanvas()
    {
        canvas()->drawPenLine(0, 0, kXmax, kYmax, 0);
        const QVector<QPoint> first = {{40, 40}, {80, 60}, {120, 50}, {160, 90}};
        for (const QPoint &p : first)
            canvas()->drawPenLine(p.x(), p.y(), kXmax, kYmax, 400 + p.x() * 5);
        canvas()->drawPenLine(160, 90, kXmax, kYmax, 0);
        canvas()->drawPenLine(200, 150, kXmax, kYmax, 0);
        const QVector<QPoint> second = {{200, 150}, {230, 180}, {280, 160}};
        for (const QPoint &p : second)
            canvas()->drawPenLine(p.x(), p.y(), kXmax, kYmax, 1500);
        canvas()->drawPenLine(280, 160, kXmax, kYmax, 0);
    }

private slots:
    void init()
    {
        m_window = new MainWindow;
        QVERIFY(canvas());
        canvas()->clearImage();
        pointIndexa = 0;
    }
    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
    }

    void writesHeaderAndRecordLinesByteForByte()
    {
        canvas()->drawPenLine(0, 0, kXmax, kYmax, 0);
        canvas()->drawPenLine(90, 40, kXmax, kYmax, 300);
        canvas()->drawPenLine(100, 50, kXmax, kYmax, 512);
        canvas()->drawPenLine(100, 50, kXmax, kYmax, 0);
        canvas()->drawPenLine(250, 50, kXmax, kYmax, 0);

        std::srand(7);
        QByteArray expected;
        for (int i = 0; i < 56; ++i)
            expected += char(std::rand() % 175 + 33);
        expected += kHeaderTail;
        expected += "ezAsMC4wMDAwMDAsMC4wMDAwMDAsMH0=\n"         // {0,0.000000,0.000000,0}
                    "ezEsOTAuMDAwMDAwLDQwLjAwMDAwMCwzMDB9\n"     // {1,90.000000,40.000000,300}
                    "ezIsMTAwLjAwMDAwMCw1MC4wMDAwMDAsNTEyfQ==\n" // {2,100.000000,50.000000,512}
                    "ezMsMTAwLjAwMDAwMCw1MC4wMDAwMDAsMH0=\n"     // {3,100.000000,50.000000,0}
                    "ezMsMTAwLjAwMDAwMCw1MC4wMDAwMDAsMH0=\n";    // hover copy

        const QString name = m_dir.filePath("path.save");
        std::srand(7);
        canvas()->savePointPath(name);
        const QByteArray written = readAll(name);
        QCOMPARE(written, expected);
        for (int i = 0; i < 56; ++i)
            QVERIFY(uchar(written[i]) >= 33 && uchar(written[i]) <= 207);
        QVERIFY(canvas()->pathRecords().isEmpty());
    }

    void nothingToWriteLeavesFilesAlone()
    {
        const QString name = m_dir.filePath("kept.save");
        QFile earlier(name);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier");
        earlier.close();
        canvas()->savePointPath(name); // empty list
        QCOMPARE(readAll(name), QByteArray("earlier"));

        canvas()->drawPenLine(50, 50, kXmax, kYmax, 100);
        QDir::setCurrent(m_dir.path());
        const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);
        canvas()->savePointPath(QString());
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
        QCOMPARE(canvas()->pathRecords().size(), 1);
    }

    void failedWriteKeepsTheEarlierFile()
    {
        const QString name = m_dir.filePath("path.save");
        for (int i = 0; i < 30; ++i)
            canvas()->drawPenLine(20 + 9 * i, 30 + 5 * i, kXmax, kYmax, 700);
        canvas()->savePointPath(name);
        const QByteArray earlier = readAll(name);
        QVERIFY(earlier.size() > 1000);

        for (int i = 0; i < 30; ++i)
            canvas()->drawPenLine(300 - 9 * i, 30 + 5 * i, kXmax, kYmax, 700);
        {
            FileSizeLimit full(200);
            canvas()->savePointPath(name);
        }
        QCOMPARE(readAll(name), earlier);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).filter("path.save"),
                 QStringList{"path.save"});
        QVERIFY(canvas()->pathRecords().isEmpty());
    }

    // Saved path file, sent back Base64-encoded, redraws the very same picture.
    void replayRedrawsTheSignature()
    {
        signOnCanvas();
        const QImage live = canvas()->picture();
        const QString name = m_dir.filePath("path.save");
        canvas()->savePointPath(name);
        canvas()->clearImage();

        m_window->drawPath(asRequest(readAll(name)));
        const QImage replayed = canvas()->picture();
        QVERIFY(inkAt(replayed, 40, 40) && inkAt(replayed, 120, 50) && inkAt(replayed, 230, 180));
        QVERIFY(!inkAt(replayed, 180, 120)); // the pen was up between the strokes
        QCOMPARE(replayed, live);
        QVERIFY(canvas()->pathRecords().isEmpty()); // replays are not recorded
    }

    // A stroke that slides off the drawing area keeps its pressure in its end
    // record and in the hover copies after it, and the signature before the
    // last clear can leave such a record too; none of them may join the next
    // stroke with a line the signer never drew.
    void replayNeverJoinsSeparateStrokes()
    {
        canvas()->drawPenLine(250, 200, kXmax, kYmax, 900);
        canvas()->drawPenLine(300, 210, kXmax, kYmax, 900); // pen still down at the clear
        canvas()->clearImage();
        canvas()->drawPenLine(150, 150, kXmax, kYmax, 0);   // hover: copies that record
        canvas()->drawPenLine(40, 40, kXmax, kYmax, 800);
        canvas()->drawPenLine(100, 40, kXmax, kYmax, 800);
        canvas()->drawPenLine(2, 40, kXmax, kYmax, 800);    // slides off while pressing
        canvas()->drawPenLine(150, 150, kXmax, kYmax, 0);   // hover copy of that end
        canvas()->drawPenLine(100, 200, kXmax, kYmax, 800);
        canvas()->drawPenLine(160, 200, kXmax, kYmax, 800);
        canvas()->drawPenLine(160, 200, kXmax, kYmax, 0);
        const QString name = m_dir.filePath("path.save");
        canvas()->savePointPath(name);
        canvas()->clearImage();

        m_window->drawPath(asRequest(readAll(name)));
        const QImage picture = canvas()->picture();
        QVERIFY(inkAt(picture, 70, 40) && inkAt(picture, 130, 200));
        QVERIFY(!inkAt(picture, 100, 120)); // between the end of one stroke and the next start
        QVERIFY(!inkAt(picture, 170, 125)); // from the earlier signature's point to the first start
    }

    void replayAsksForOneSnapshotInTen()
    {
        QList<QByteArray> texts;
        for (int i = 0; i < 25; ++i)
            texts << QByteArray("{2,") + QByteArray::number(20 + i * 10) + ".000000,100.000000,600}";
        QSignalSpy snapshots(m_window, &MainWindow::drawToWeb);
        ExcCommFlag = 4; // as a cancel's job leaves it
        m_window->drawPath(asRequest(pathFile(texts)));
        QCOMPARE(snapshots.count(), 3); // points 0, 10 and 20
        QCOMPARE(pointIndexa.load(), 25);
        QTRY_COMPARE(ExcCommFlag.load(), -1); // the worker's jobs are pictures

        // The counter runs on from wherever live drawing left it.
        pointIndexa = 7;
        snapshots.clear();
        m_window->drawPath(asRequest(pathFile(texts.mid(0, 5))));
        QCOMPARE(snapshots.count(), 1);
        QCOMPARE(pointIndexa.load(), 12);
    }

    void headerOnlyFileDrawsNothing()
    {
        QByteArray file;
        for (int i = 0; i < 56; ++i)
            file += char(33 + i);
        file += kHeaderTail;
        QCOMPARE(file.size(), 68);
        QSignalSpy snapshots(m_window, &MainWindow::drawToWeb);
        StdoutCapture out;
        m_window->drawPath(asRequest(file));
        QCOMPARE(out.finish(), QByteArray("w= 320  h =240\n"));
        QCOMPARE(snapshots.count(), 0);
        QCOMPARE(inkedPixels(canvas()->picture()), 0);
    }

    void recordsDecideByPressure()
    {
        m_window->drawPath(asRequest(pathFile({
            "{1,20.000000,80.000000,700}",
            "{3,120.000000,80.000000,700}",  // an end record lifts, pressure or not
            "{2,120.000000,80.000000,0}",    // zero pressure: still up
            "{2,200.000000,80.000000,700}",  // starts a new one: no segment
            "{2,10.900000,20.500000,5}",     // to (10, 20)
        })));
        const QImage picture = canvas()->picture();
        QVERIFY(!inkAt(picture, 70, 80));
        QVERIFY(!inkAt(picture, 160, 80));
        QVERIFY(inkAt(picture, 105, 50));  // on the segment from (200, 80) to (10, 20)
        QVERIFY(inkAt(picture, 11, 20));
    }

    // Whatever a page sends, the replay draws what it can read and skips the rest.
    void unreadableInputIsSkipped_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<bool>("drawsTheGoodStroke");
        const QByteArray good1 = "{1,40.000000,100.000000,800}";
        const QByteArray good2 = "{2,280.000000,100.000000,800}";
        QByteArray garbage;
        for (int i = 0; i < 256; ++i)
            garbage += char((i * 89 + 17) % 256);

        QTest::newRow("empty") << QString() << false;
        QTest::newRow("not Base64") << QString("%%%% not a path file %%%%") << false;
        QTest::newRow("shorter than the header") << asRequest(pathFile({}).left(40)) << false;
        QTest::newRow("header cut short") << asRequest(pathFile({}).left(67)) << false;
        QTest::newRow("garbage bytes") << asRequest(garbage) << false;
        QTest::newRow("line breaks in the Base64")
            << QString::fromLatin1(pathFile({good1, good2}).toBase64(QByteArray::Base64Encoding))
                   .insert(76, '\n')
            << false;
        QTest::newRow("lines without braces")
            << asRequest(pathFile({"1,40.0,100.0,800", good1, "{2,90.0,100.0,800", good2,
                                   "2,200.0,190.0,800}"}))
            << true;
        QTest::newRow("numbers out of range")
            << asRequest(pathFile({good1, "{2,1e300,-1e300,800}", "{2,nan,inf,800}",
                                   "{2,99999999999,5,800}", good2}))
            << true;
        QTest::newRow("huge and odd pressures")
            << asRequest(pathFile({good1, good2, "{2,200.0,190.0,2147483647}",
                                   "{2,100.0,190.0,-2147483648}", "{2,50.0,190.0,99999999999}"}))
            << true;
        QByteArray raw = pathFile({good1, good2});
        raw += garbage + "\n\n\n" + QByteArray("{2,").toBase64() + "\n" + garbage.toBase64();
        QTest::newRow("garbage lines after the good ones") << asRequest(raw) << true;
        QByteArray cut = pathFile({good1, good2, "{2,200.000000,190.000000,800}"});
        cut.chop(20);
        QTest::newRow("last line cut short") << asRequest(cut) << true;
    }
    void unreadableInputIsSkipped()
    {
        QFETCH(QString, request);
        QFETCH(bool, drawsTheGoodStroke);
        m_window->drawPath(request);
        const QImage picture = canvas()->picture();
        QCOMPARE(inkAt(picture, 160, 100), drawsTheGoodStroke);
        if (!drawsTheGoodStroke)
            QCOMPARE(inkedPixels(picture), 0);
    }

    // A request while a replay runs is refused; the finished thread is
    // reclaimed by the next request.
    void replaysNeverOverlap()
    {
        ReplayGate gate;
        const QMetaObject::Connection held =
            connect(m_window, &MainWindow::drawToWeb, [&gate] { gate.pass(); });

        QVERIFY(m_window->startPathReplay(asRequest(pathFile(
            {"{1,20.000000,30.000000,900}", "{2,300.000000,30.000000,900}"}))));
        QVERIFY(gate.waitEntered());
        QVERIFY(isDrawPath);
        QPointer<DrawPathThread> first = m_window->drawPathThread();
        QVERIFY(first);

        QVERIFY(!m_window->startPathReplay(asRequest(pathFile(
            {"{1,20.000000,200.000000,900}", "{2,300.000000,200.000000,900}"}))));
        QCOMPARE(m_window->drawPathThread(), first.data());

        gate.release();
        QTRY_VERIFY(!isDrawPath);
        QVERIFY(first->wait(5000));
        disconnect(held);
        QImage picture = canvas()->picture();
        QVERIFY(inkAt(picture, 160, 30));
        QVERIFY(!inkAt(picture, 160, 200)); // the refused path was never drawn

        QVERIFY(m_window->startPathReplay(asRequest(pathFile(
            {"{1,20.000000,120.000000,900}", "{2,300.000000,120.000000,900}"}))));
        QVERIFY(first.isNull());
        QTRY_VERIFY(!isDrawPath);
        QVERIFY(inkAt(canvas()->picture(), 160, 120));
    }

    // Closing the main window mid-replay stops the replay before anything
    // it draws through is gone.
    void closingStopsARunningReplay()
    {
        QList<QByteArray> texts;
        for (int i = 0; i < 20000; ++i)
            texts << QByteArray("{2,") + QByteArray::number(10 + i % 300) + ",100,600}";
        QVERIFY(m_window->startPathReplay(asRequest(pathFile(texts))));
        QTRY_VERIFY(pointIndexa > 0);
        delete m_window;
        m_window = nullptr;
        QVERIFY(!isDrawPath);
        const int drawn = pointIndexa;
        QTest::qWait(50); // a replay left running would draw thousands of points meanwhile
        QCOMPARE(pointIndexa.load(), drawn);
        QVERIFY(drawn <= 20000);
    }
};

QTEST_MAIN(PointPathTest)
#include "tst_pointpath.moc"

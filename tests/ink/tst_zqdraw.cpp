#include "ink/ZqDraw.h"
#include "support/filesizelimit.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// Extents for which the pad-to-canvas mapping is the identity.
constexpr int kXmax = 320;
constexpr int kYmax = 240;

int alphaAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

int inkedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += alphaAt(image, x, y) > 0;
    return count;
}

// Width of a horizontal segment at column x: its coverage summed down the column.
double coverageWidth(const QImage &image, int x)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        sum += alphaAt(image, x, y) / 255.0;
    return sum;
}

TOUCH_INFO_F record(float x, float y, int pressure, int state)
{
    return TOUCH_INFO_F{x, y, pressure, state};
}

bool sameRecords(const QVector<TOUCH_INFO_F> &a, const QVector<TOUCH_INFO_F> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].pressure != b[i].pressure
            || a[i].state != b[i].state)
            return false;
    }
    return true;
}

QString describe(const QVector<TOUCH_INFO_F> &records)
{
    QStringList parts;
    for (const TOUCH_INFO_F &r : records)
        parts << QString("{%1,%2,%3,%4}").arg(r.state).arg(r.x).arg(r.y).arg(r.pressure);
    return parts.join(' ');
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// While installed: each time the canvas logs that it scales a signature
// picture, the step before the PNG is encoded, another thread gives the
// canvas a sample (a lifted pen, which ends the stroke without drawing), and
// the logging thread waits for it. A draw that
// cannot finish (the canvas lock held through the encode) is not waited for
// past kWaitMs, and is joined once the lock is free.
class DrawDuringEncode
{
public:
    static constexpr int kWaitMs = 10000;

    explicit DrawDuringEncode(ZqDraw *canvas)
    {
        s_active = this;
        m_canvas = canvas;
        m_previous = qInstallMessageHandler(&DrawDuringEncode::handle);
    }
    ~DrawDuringEncode() { finish(); }

    // Uninstalls and joins the draws; then the counts are final.
    void finish()
    {
        if (s_active != this)
            return;
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
        for (std::thread &draw : m_draws)
            draw.join();
        m_draws.clear();
    }

    int encodes = 0;
    int drawsWhileEncoding = 0;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        DrawDuringEncode *self = s_active;
        if (self && message.startsWith("image---scaled"))
            self->drawNow();
        if (self)
            self->m_previous(type, context, message);
    }

    void drawNow()
    {
        ++encodes;
        auto done = std::make_shared<DrawDone>();
        m_draws.emplace_back([canvas = m_canvas, done] {
            canvas->drawPenLine(150, 150, kXmax, kYmax, 0);
            std::lock_guard<std::mutex> lock(done->mutex);
            done->drawn = true;
            done->changed.notify_all();
        });
        std::unique_lock<std::mutex> lock(done->mutex);
        if (done->changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&done] { return done->drawn; }))
            ++drawsWhileEncoding;
    }

    struct DrawDone
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool drawn = false;
    };

    static inline DrawDuringEncode *s_active = nullptr;
    ZqDraw *m_canvas = nullptr;
    QtMessageHandler m_previous = nullptr;
    std::vector<std::thread> m_draws;
};

void signSomething(ZqDraw *canvas)
{
    canvas->drawPenLine(40, 40, kXmax, kYmax, 800);
    canvas->drawPenLine(120, 80, kXmax, kYmax, 800);
    canvas->drawPenLine(200, 60, kXmax, kYmax, 900);
}

} // namespace

class ZqDrawTest : public QObject
{
    Q_OBJECT

private slots:
    // No picture of a signature ever lands in the shared temporary directory.
    void startsBlankAndWritesNothingToTheTemporaryDirectory()
    {
        const QStringList tempFiles = QDir::temp().entryList(QDir::Files | QDir::Hidden);
        ZqDraw canvas;
        const QImage picture = canvas.picture();
        QCOMPARE(picture.size(), QSize(320, 240));
        QCOMPARE(picture.format(), QImage::Format_ARGB32);
        QCOMPARE(picture.pixel(0, 0), 0x00FFFFFFu);
        QCOMPARE(picture.pixel(319, 239), 0x00FFFFFFu);
        QVERIFY(canvas.signRect().isNull());
        canvas.drawPenLine(10, 10, kXmax, kYmax, 500);
        canvas.drawPenLine(200, 200, kXmax, kYmax, 500);
        canvas.clearImage();
        QCOMPARE(QDir::temp().entryList(QDir::Files | QDir::Hidden), tempFiles);
    }

    void strokeStatesAndRecords()
    {
        ZqDraw canvas;
        canvas.drawPenLine(0, 0, kXmax, kYmax, 0);        // hover before any ink
        canvas.drawPenLine(100, 50, kXmax, kYmax, 300);   // start
        canvas.drawPenLine(120, 60, kXmax, kYmax, 512);   // continue
        canvas.drawPenLine(140, 70, kXmax, kYmax, 700);   // continue
        canvas.drawPenLine(141, 71, kXmax, kYmax, 0);     // lift
        canvas.drawPenLine(150, 80, kXmax, kYmax, 0);     // hover
        canvas.drawPenLine(2, 100, kXmax, kYmax, 800);    // outside, pen up
        canvas.drawPenLine(200, 100, kXmax, kYmax, 400);  // start
        canvas.drawPenLine(210, 110, kXmax, kYmax, 450);  // continue
        canvas.drawPenLine(4, 100, kXmax, kYmax, 900);    // leaves the area while pressing
        const QVector<TOUCH_INFO_F> expected = {
            record(0, 0, 0, 0),        record(100, 50, 300, 1),  record(120, 60, 512, 2),
            record(140, 70, 700, 2),   record(140, 70, 0, 3),    record(140, 70, 0, 3),
            record(140, 70, 0, 3),     record(200, 100, 400, 1), record(210, 110, 450, 2),
            record(210, 110, 900, 3),
        };
        const QVector<TOUCH_INFO_F> got = canvas.pathRecords();
        QVERIFY2(sameRecords(got, expected), qPrintable(describe(got)));

        // Ink only where segments were drawn; the area grows around segment
        // ends, and holds the first point of a stroke too (100, 50).
        const QImage picture = canvas.picture();
        QVERIFY(alphaAt(picture, 130, 65) > 0);
        QVERIFY(alphaAt(picture, 205, 105) > 0);
        QCOMPARE(alphaAt(picture, 170, 85), 0);
        QCOMPARE(canvas.signRect(), QRect(QPoint(85, 45), QPoint(225, 125)));
    }

    void singleTouchDrawsNothing()
    {
        ZqDraw canvas;
        canvas.drawPenLine(100, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(100, 100, kXmax, kYmax, 0);
        QCOMPARE(inkedPixels(canvas.picture()), 0);
        QVERIFY(canvas.signRect().isNull());
        // The end record names the stroke's own point, so a replay never
        // joins it to an earlier stroke.
        QVERIFY(sameRecords(canvas.pathRecords(),
                            {record(100, 100, 500, 1), record(100, 100, 0, 3)}));
    }

    void mapsWithFixedFactorsAndTruncates()
    {
        ZqDraw canvas;
        // 10206 x 7422 pad: (5103, 3711) is the centre; (1000, 1000) maps to
        // 31.35..., 32.33... and is truncated.
        canvas.drawPenLine(5103, 3711, 10206, 7422, 100);
        canvas.drawPenLine(1000, 1000, 10206, 7422, 100);
        const QVector<TOUCH_INFO_F> got = canvas.pathRecords();
        QVERIFY2(sameRecords(got, {record(160, 120, 100, 1), record(31, 32, 100, 2)}),
                 qPrintable(describe(got)));
    }

    void drawingAreaEdgesAreInside_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("inside");
        QTest::newRow("left edge") << 5 << 100 << true;
        QTest::newRow("right edge") << 315 << 100 << true;
        QTest::newRow("top edge") << 100 << 5 << true;
        QTest::newRow("bottom edge") << 100 << 235 << true;
        QTest::newRow("left of it") << 4 << 100 << false;
        QTest::newRow("right of it") << 316 << 100 << false;
        QTest::newRow("above it") << 100 << 4 << false;
        QTest::newRow("below it") << 100 << 236 << false;
        QTest::newRow("far away") << 2000000000 << -2000000000 << false;
    }
    void drawingAreaEdgesAreInside()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(bool, inside);
        ZqDraw canvas;
        canvas.drawPenLine(x, y, kXmax, kYmax, 500);
        QCOMPARE(canvas.pathRecords().constFirst().state, inside ? 1 : 0);
    }

    // Extents of 0 cannot be mapped: the sample ends the stroke like a lift.
    void zeroExtentsEndTheStroke()
    {
        ZqDraw canvas;
        canvas.drawPenLine(100, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(120, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(130, 100, 0, kYmax, 500);
        canvas.drawPenLine(130, 100, kXmax, 0, 500);
        canvas.drawPenLine(130, 100, 0, 0, 500);
        const QVector<TOUCH_INFO_F> got = canvas.pathRecords();
        QCOMPARE(got.size(), 5);
        QCOMPARE(got[2].state, 3);
        QCOMPARE(got[4].state, 3);
        QCOMPARE(got[4].x, 120.0f);
    }

    void segmentWidthFollowsPressure_data()
    {
        QTest::addColumn<int>("pressure");
        QTest::addColumn<double>("width");
        QTest::newRow("1024") << 1024 << 2.5;
        QTest::newRow("2047") << 2047 << 1.0 + 1.5 * 2047 / 1024;
        QTest::newRow("1") << 1 << 1.0 + 1.5 / 1024;
    }
    void segmentWidthFollowsPressure()
    {
        QFETCH(int, pressure);
        QFETCH(double, width);
        ZqDraw canvas;
        canvas.drawPenLine(50, 100, kXmax, kYmax, pressure);
        canvas.drawPenLine(250, 100, kXmax, kYmax, pressure);
        const QImage picture = canvas.picture();
        for (int x : {100, 150, 200}) {
            const double measured = coverageWidth(picture, x);
            QVERIFY2(qAbs(measured - width) < 0.1,
                     qPrintable(QString("width %1 at x %2").arg(measured).arg(x)));
        }
        QCOMPARE(qRed(picture.pixel(150, 100)), 0); // ink is black
        if (width >= 2.0)
            QCOMPARE(alphaAt(picture, 150, 100), 255); // and opaque where it covers a whole pixel
    }

    void hoverOnAContinuingSampleDrawsNothing()
    {
        ZqDraw canvas;
        canvas.drawPenLine(50, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(250, 100, kXmax, kYmax, 0);
        QCOMPARE(inkedPixels(canvas.picture()), 0);
    }

    void kz7SamplesAreNotMapped()
    {
        ZqDraw canvas;
        canvas.drawPenLine_kz7(2, 3, 400);   // outside the drawing area, still taken
        canvas.drawPenLine_kz7(60, 3, 400);
        canvas.drawPenLine_kz7(60, 3, 0);
        QVERIFY(sameRecords(canvas.pathRecords(),
                            {record(2, 3, 400, 1), record(60, 3, 400, 2), record(60, 3, 0, 3)}));
        QVERIFY(alphaAt(canvas.picture(), 30, 3) > 0);
    }

    void pathPointsDrawWithoutRecording()
    {
        ZqDraw canvas;
        canvas.drawPathPoint(40, 40, 800);
        canvas.drawPathPoint(140, 40, 800);
        canvas.drawPathPoint(140, 140, 0);   // ends the stroke
        canvas.drawPathPoint(240, 140, 800); // starts a new one: no segment
        const QImage picture = canvas.picture();
        QVERIFY(alphaAt(picture, 90, 40) > 0);
        QCOMPARE(alphaAt(picture, 190, 140), 0);
        QCOMPARE(alphaAt(picture, 140, 90), 0);
        QVERIFY(canvas.pathRecords().isEmpty());
        QVERIFY(canvas.signRect().isNull());
    }

    // Ink touching all four edges: the area reaches 15 beyond them.
    void saveImageCutsToTheSignArea()
    {
        QTemporaryDir dir;
        ZqDraw canvas;
        canvas.drawPenLine(5, 5, kXmax, kYmax, 1024);
        canvas.drawPenLine(315, 5, kXmax, kYmax, 1024);
        canvas.drawPenLine(315, 235, kXmax, kYmax, 1024);
        canvas.drawPenLine(5, 235, kXmax, kYmax, 1024);
        QCOMPARE(canvas.signRect(), QRect(QPoint(-10, -10), QPoint(330, 250)));
        QCOMPARE(canvas.signRect().size(), QSize(341, 261));

        const QString name = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(name, "png"));
        const QImage saved(name, "PNG");
        QCOMPARE(saved.size(), QSize(313, 240));
        QVERIFY(saved.hasAlphaChannel());
        // The 10-pixel band beyond the picture is transparent; the top and
        // right strokes lie 15 pixels in, scaled by 240/261.
        QCOMPARE(alphaAt(saved, 2, 2), 0);
        QVERIFY(alphaAt(saved, 156, 14) > 100);
        QVERIFY(alphaAt(saved, 298, 120) > 100);
        QCOMPARE(alphaAt(saved, 156, 120), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"save.png"});
    }

    void saveImageOfABlankCanvasIsTheWholePicture()
    {
        QTemporaryDir dir;
        ZqDraw canvas;
        const QString name = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(name, "png"));
        const QImage saved(name, "PNG");
        QCOMPARE(saved.size(), QSize(320, 240));
        QCOMPARE(inkedPixels(saved), 0);
    }

    void saveImageWithoutANameWritesNothing()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        ZqDraw canvas;
        canvas.drawPenLine(10, 10, kXmax, kYmax, 500);
        canvas.drawPenLine(50, 50, kXmax, kYmax, 500);
        QVERIFY(!canvas.saveImage(QString(), "png"));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!canvas.saveImage(dir.filePath("no/such/folder/save.png"), "png"));
    }

    void clearImageBlanksThePictureAndThePath()
    {
        ZqDraw canvas;
        canvas.drawPenLine(10, 10, kXmax, kYmax, 500);
        canvas.drawPenLine(200, 200, kXmax, kYmax, 500);
        QVERIFY(inkedPixels(canvas.picture()) > 0);

        canvas.clearImage();
        QVERIFY(canvas.pathRecords().isEmpty());
        QCOMPARE(inkedPixels(canvas.picture()), 0);
        QCOMPARE(canvas.picture().pixel(100, 100), 0x00FFFFFFu);

        // The stroke has ended: the next touch only starts a new one.
        canvas.drawPenLine(100, 100, kXmax, kYmax, 500);
        QCOMPARE(canvas.pathRecords().constLast().state, 1);
        QCOMPARE(inkedPixels(canvas.picture()), 0);
    }

    // Each signature is cut to its own ink, not to every earlier one's.
    void clearImageResetsTheSignArea()
    {
        QTemporaryDir dir;
        ZqDraw canvas;
        canvas.drawPenLine(10, 10, kXmax, kYmax, 500);
        canvas.drawPenLine(300, 220, kXmax, kYmax, 500);
        canvas.clearImage();
        QVERIFY(canvas.signRect().isNull());

        canvas.drawPenLine(100, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(140, 110, kXmax, kYmax, 500);
        QCOMPARE(canvas.signRect(), QRect(QPoint(85, 95), QPoint(155, 125)));
        const QString name = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(name, "png"));
        QCOMPARE(QImage(name, "PNG").size(), QSize(71, 31));
    }

    // A stroke that starts at the edge of the drawing area and leaves it at
    // once, and one whose area edge lands on 0 before the stroke turns away:
    // the saved picture holds every inked pixel of the canvas.
    void aStrokeFromTheEdgeIsSavedWhole_data()
    {
        QTest::addColumn<QVector<QPoint>>("points");
        QTest::newRow("starts at the left edge") << QVector<QPoint>{{5, 120}, {60, 120}, {100, 130}};
        QTest::newRow("starts at the top edge") << QVector<QPoint>{{160, 5}, {165, 60}, {170, 90}};
        QTest::newRow("edge lands on 0") << QVector<QPoint>{{30, 15}, {15, 40}, {200, 100}};
        QTest::newRow("ends on the area's edge") << QVector<QPoint>{{150, 100}, {100, 100}, {85, 130}};
    }

    void aStrokeFromTheEdgeIsSavedWhole()
    {
        QFETCH(QVector<QPoint>, points);
        QTemporaryDir dir;
        ZqDraw canvas;
        for (const QPoint &p : points)
            canvas.drawPenLine(p.x(), p.y(), kXmax, kYmax, 1024);
        const QImage picture = canvas.picture();
        const QString name = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(name, "png"));
        const QImage saved = QImage(name, "PNG").convertToFormat(QImage::Format_ARGB32);
        QVERIFY(saved.width() <= 320 && saved.height() <= 240); // not scaled: pixels compare one to one
        QCOMPARE(saved, picture.copy(canvas.signRect()));
        QCOMPARE(inkedPixels(saved), inkedPixels(picture));
    }

    // Random sparse strokes of any pressure: no inked pixel lies outside the cut.
    void everyInkedPixelIsInTheCut()
    {
        QRandomGenerator random(20240611);
        for (int trial = 0; trial < 300; ++trial) {
            ZqDraw canvas;
            const int strokes = random.bounded(1, 4);
            for (int stroke = 0; stroke < strokes; ++stroke) {
                const int samples = random.bounded(2, 7);
                for (int i = 0; i < samples; ++i)
                    canvas.drawPenLine(random.bounded(0, 321), random.bounded(0, 241), kXmax, kYmax,
                                       random.bounded(1, 2048) * (random.bounded(10) == 0 ? 8 : 1));
                canvas.drawPenLine(0, 0, kXmax, kYmax, 0);
            }
            const QImage picture = canvas.picture();
            const QRect cut = canvas.signRect();
            int outside = 0;
            for (int y = 0; y < picture.height(); ++y)
                for (int x = 0; x < picture.width(); ++x)
                    outside += alphaAt(picture, x, y) > 0 && !cut.contains(x, y);
            QVERIFY2(outside == 0, qPrintable(QString("trial %1: %2 inked pixels outside the cut").arg(trial).arg(outside)));
        }
    }

    // A replay never draws into a signer's ink that is not yet saved or
    // dropped; after a clear it draws again.
    void aReplayNeverDrawsIntoASignersInk()
    {
        ZqDraw canvas;
        QVERIFY(canvas.drawPathPoint(20, 20, 800)); // a replayed stroke's start: nothing drawn yet
        QVERIFY(!canvas.holdsSignerInk());
        canvas.drawPenLine(100, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(150, 120, kXmax, kYmax, 500);
        QVERIFY(canvas.holdsSignerInk());
        const QImage signed_ = canvas.picture();
        QVERIFY(!canvas.drawPathPoint(200, 200, 800));
        QCOMPARE(canvas.picture(), signed_);

        canvas.clearImage();
        QVERIFY(!canvas.holdsSignerInk());
        QVERIFY(canvas.drawPathPoint(20, 20, 800));
        QVERIFY(canvas.drawPathPoint(200, 200, 800));
        QVERIFY(inkedPixels(canvas.picture()) > 0);
    }

    // Ink a replay left before the signer's first segment (a replay started
    // just before a re-sign cleared the canvas) is not in the signature: the
    // canvas and the signature are those of the signer's samples alone.
    void aSignersInkNeverJoinsAReplaysInk()
    {
        const QVector<QPoint> signer{{60, 60}, {90, 80}, {120, 70}, {150, 90}};
        ZqDraw alone;
        ZqDraw afterReplay;
        QVERIFY(afterReplay.drawPathPoint(10, 230, 900));
        QVERIFY(afterReplay.drawPathPoint(310, 10, 900));
        QVERIFY(inkedPixels(afterReplay.picture()) > 0);
        for (const QPoint &p : signer) {
            alone.drawPenLine(p.x(), p.y(), kXmax, kYmax, 700);
            afterReplay.drawPenLine(p.x(), p.y(), kXmax, kYmax, 700);
        }
        QCOMPARE(afterReplay.picture(), alone.picture());
        ZqDraw::Signature a, b;
        QVERIFY(alone.takeSignature(&a));
        QVERIFY(afterReplay.takeSignature(&b));
        QCOMPARE(QImage::fromData(b.picture, "PNG"), QImage::fromData(a.picture, "PNG"));
        QVERIFY(sameRecords(afterReplay.pathRecords(), alone.pathRecords()));
    }

    // A write that fails half-way (here: the file size limit, as on a full
    // disk) leaves the earlier picture in place, and no stray file.
    void failedWritesLeaveTheEarlierFiles()
    {
        QTemporaryDir dir;
        ZqDraw canvas;
        for (int i = 0; i < 40; ++i)
            canvas.drawPenLine(10 + 7 * i, 10 + (i * 37) % 220, kXmax, kYmax, 300 + 40 * i);
        const QString name = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(name, "png"));
        const QByteArray picture = readAll(name);
        QVERIFY(picture.size() > 200);

        canvas.drawPenLine(100, 100, kXmax, kYmax, 500);
        canvas.drawPenLine(200, 150, kXmax, kYmax, 500);
        const QStringList tempFiles = QDir::temp().entryList(QDir::Files | QDir::Hidden);
        {
            FileSizeLimit full(100);
            QVERIFY(!canvas.saveImage(name, "png"));
            canvas.clearImage();
        }
        QCOMPARE(readAll(name), picture);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"save.png"});
        QCOMPARE(QDir::temp().entryList(QDir::Files | QDir::Hidden), tempFiles);
    }

    void resizeToFit_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("fitted");
        QTest::newRow("wide") << QSize(640, 100) << QSize(320, 50);
        QTest::newRow("tall") << QSize(100, 480) << QSize(50, 240);
        QTest::newRow("cut of the full area") << QSize(341, 261) << QSize(313, 240);
        QTest::newRow("fits already") << QSize(31, 31) << QSize(31, 31);
        QTest::newRow("exact") << QSize(320, 240) << QSize(320, 240);
    }
    void resizeToFit()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, fitted);
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::red);
        ZqDraw::resizeImage(&image, 320, 240);
        QCOMPARE(image.size(), fitted);
        QCOMPARE(image.pixel(fitted.width() / 2, fitted.height() / 2), QColor(Qt::red).rgba());
    }

    void resizeToExactSizeKeepsContentAtTopLeft()
    {
        QImage image(10, 10, QImage::Format_ARGB32);
        image.fill(Qt::red);
        ZqDraw::resizeImage(&image, QSize(30, 20));
        QCOMPARE(image.size(), QSize(30, 20));
        QCOMPARE(image.pixel(9, 9), QColor(Qt::red).rgba());
        QCOMPARE(image.pixel(10, 9), 0x00FFFFFFu);
        QCOMPARE(image.pixel(29, 19), 0x00FFFFFFu);
        ZqDraw::resizeImage(&image, QSize(5, 5));
        QCOMPARE(image.size(), QSize(5, 5));
        QCOMPARE(image.pixel(4, 4), QColor(Qt::red).rgba());
    }

    // A confirm's save copies the canvas under its lock and encodes and
    // writes outside it: samples go on reaching the canvas meanwhile, and
    // what is saved is the signature as it was when the save began.
    void drawingGoesOnWhileASignatureIsEncodedAndWritten()
    {
        QTemporaryDir dir;
        ZqDraw before;
        signSomething(&before);
        ZqDraw::Signature expected;
        QVERIFY(before.takeSignature(&expected));
        const QString expectedFile = dir.filePath("expected.png");
        QVERIFY(before.saveImage(expectedFile, "png"));

        ZqDraw canvas;
        signSomething(&canvas);
        DrawDuringEncode drawing(&canvas);
        ZqDraw::Signature signature;
        QVERIFY(canvas.takeSignature(&signature));
        const QString savedFile = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(savedFile, "png"));
        drawing.finish();

        QCOMPARE(drawing.encodes, 2);
        QCOMPARE(drawing.drawsWhileEncoding, 2);
        QCOMPARE(signature.picture, expected.picture);
        QCOMPARE(signature.pointPath.mid(56), expected.pointPath.mid(56)); // after the random filler
        QCOMPARE(signature.samples, 3);
        QCOMPARE(readAll(savedFile), readAll(expectedFile));
        QCOMPARE(canvas.pathRecords().size(), 5); // the two taken meanwhile are kept
    }

    // The GUI thread, the draw-to-web worker and a replay use the canvas at
    // once, while copies are taken for the web pages: no sample is lost and
    // every copy is a whole picture.
    void operationsFromThreeThreads()
    {
        ZqDraw canvas;
        constexpr int kSamples = 1000;
        std::atomic<int> drawers{2};
        std::atomic<int> brokenCopies{0};
        std::thread live([&] {
            for (int i = 0; i < kSamples; ++i)
                canvas.drawPenLine(20 + i % 280, 20 + (i * 7) % 200, kXmax, kYmax,
                                   (i % 50) ? 600 : 0);
            --drawers;
        });
        std::thread replay([&] {
            for (int i = 0; i < kSamples; ++i)
                canvas.drawPathPoint(300 - i % 280, 20 + (i * 3) % 200, (i % 40) ? 900 : 0);
            --drawers;
        });
        std::thread worker([&] {
            // Paced like the real worker, which saves after every tenth sample.
            while (drawers > 0) {
                brokenCopies += canvas.picture().size() != QSize(320, 240);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        int reads = 0;
        int broken = 0;
        for (; drawers > 0 || reads < 20; ++reads)
            broken += canvas.picture().size() != QSize(320, 240);
        live.join();
        replay.join();
        worker.join();
        QCOMPARE(broken, 0);
        QCOMPARE(brokenCopies.load(), 0);
        QCOMPARE(canvas.pathRecords().size(), kSamples);
        QVERIFY(inkedPixels(canvas.picture()) > 1000);
    }
};

QTEST_MAIN(ZqDrawTest)
#include "tst_zqdraw.moc"

// The live picture from the canvas's palette rows: every picture of a signing
// decodes to exactly the canvas's pixels, however the bands were drawn on.
#include "ink/ZqDraw.h"
#include "ink/palettecanvas.h"
#include "web/livepicture.h"
#include "web/livepictureencoder.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
// Every pixel as a non-premultiplied ARGB value, or the first difference.
QString firstDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("(%1,%2): %3 vs %4").arg(x).arg(y).arg(a.pixel(x, y), 8, 16).arg(b.pixel(x, y), 8, 16);
    return QString();
}

// What the draw-to-web worker does for a live picture.
QString encodedDifference(const ZqDraw &canvas, PaletteCanvas *rows, LivePictureEncoder *encoder)
{
    if (!canvas.copyPaletteRows(rows))
        return QStringLiteral("the palette rows are not exact");
    const QByteArray png = encoder->encode(*rows);
    if (png.isEmpty())
        return QStringLiteral("nothing encoded");
    return firstDifference(QImage::fromData(png, "PNG"), canvas.picture());
}

// A random walk over the canvas and a little beyond it, lifting the pen now
// and then; some samples press far harder than a pen can.
void scribble(ZqDraw *canvas, QRandomGenerator *random, int samples)
{
    int x = random->bounded(ZqDraw::kWidth);
    int y = random->bounded(ZqDraw::kHeight);
    for (int i = 0; i < samples; ++i) {
        x = qBound(-20, x + random->bounded(-9, 10), ZqDraw::kWidth + 20);
        y = qBound(-20, y + random->bounded(-9, 10), ZqDraw::kHeight + 20);
        int pressure = random->bounded(1, 2048);
        if (random->bounded(40) == 0)
            pressure = 0;
        else if (random->bounded(60) == 0)
            pressure = random->bounded(8000, 40000);
        canvas->drawPenLine_kz7(x, y, pressure);
    }
}

QImage blankPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_ARGB32);
    picture.fill(ZqDraw::kBlank);
    return picture;
}
} // namespace

class TestLivePictureEncoder : public QObject
{
    Q_OBJECT

private slots:
    void everyPictureOfSigningsDecodesToTheCanvas()
    {
        ZqDraw canvas;
        PaletteCanvas rows;
        LivePictureEncoder encoder;
        QRandomGenerator random(27);
        for (int signing = 0; signing < 3; ++signing) {
            for (int picture = 0; picture < 60; ++picture) {
                scribble(&canvas, &random, 10);
                const QString difference = encodedDifference(canvas, &rows, &encoder);
                QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("signing %1, picture %2: %3")
                                                              .arg(signing).arg(picture).arg(difference)));
            }
            canvas.clearImage();
            QCOMPARE(encodedDifference(canvas, &rows, &encoder), QString());
        }
    }

    // Band stamps are unique across canvases: one encoder never takes a band
    // of one canvas for the other's.
    void oneEncoderServesTwoCanvases()
    {
        ZqDraw first;
        ZqDraw second;
        PaletteCanvas rows;
        LivePictureEncoder encoder;
        QRandomGenerator random(5);
        for (int round = 0; round < 10; ++round) {
            scribble(&first, &random, 20);
            QCOMPARE(encodedDifference(first, &rows, &encoder), QString());
            scribble(&second, &random, 20);
            QCOMPARE(encodedDifference(second, &rows, &encoder), QString());
        }
    }

    void aSignatureIsNoLargerThanTheWholePictureEncoding()
    {
        ZqDraw canvas;
        PaletteCanvas rows;
        LivePictureEncoder encoder;
        QRandomGenerator random(11);
        scribble(&canvas, &random, 1500);
        QVERIFY(canvas.copyPaletteRows(&rows));
        const QByteArray live = encoder.encode(rows);
        const QByteArray whole = livepicture::encode(canvas.picture());
        QVERIFY2(live.size() * 10 <= whole.size() * 11, qPrintable(QStringLiteral("%1 vs %2").arg(live.size()).arg(whole.size())));
    }

    // Blank and 255 alphas of black fill the palette; one value more does
    // not fit until a value leaves the picture and frees its index.
    void aFreedIndexTakesTheNextValue()
    {
        QImage picture = blankPicture(300, 40);
        PaletteCanvas rows;
        rows.reset(picture.size(), ZqDraw::kBlank);
        for (int alpha = 1; alpha < 256; ++alpha)
            picture.setPixel(alpha, 20, qRgba(0, 0, 0, alpha));
        rows.update(picture, picture.rect());
        QVERIFY(rows.exact());
        QCOMPARE(rows.palette().size(), 256);

        picture.setPixel(100, 20, ZqDraw::kBlank);
        picture.setPixel(3, 3, qRgba(0, 0, 0, 0));
        rows.update(picture, picture.rect());
        QVERIFY(rows.exact());
        LivePictureEncoder encoder;
        QCOMPARE(firstDifference(QImage::fromData(encoder.encode(rows), "PNG"), picture), QString());

        picture.setPixel(4, 4, qRgba(0, 0, 0, 100));
        rows.update(picture, picture.rect());
        QVERIFY(!rows.exact());
        QVERIFY(encoder.encode(rows).isEmpty());
        rows.reset(picture.size(), ZqDraw::kBlank);
        QVERIFY(rows.exact());
    }

    // Ink is black: any other colour leaves the rows inexact, so the worker
    // encodes the ARGB picture instead.
    void anotherColourIsNotIndexed()
    {
        QImage picture = blankPicture(20, 20);
        PaletteCanvas rows;
        rows.reset(picture.size(), ZqDraw::kBlank);
        picture.setPixel(7, 7, qRgba(255, 0, 0, 255));
        rows.update(picture, QRect(0, 0, 7, 7));
        QVERIFY(rows.exact());
        rows.update(picture, QRect(0, 0, 8, 8));
        QVERIFY(!rows.exact());
    }
};

QTEST_MAIN(TestLivePictureEncoder)
#include "tst_livepictureencoder.moc"

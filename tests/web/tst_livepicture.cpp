// The live picture: an in-memory palette PNG that holds exactly the canvas's
// pixels, while save.png keeps its RGBA encoding.
#include "ink/ZqDraw.h"
#include "web/livepicture.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {
// Byte 25 of a PNG is the colour type of its header chunk.
int colourType(const QByteArray &png)
{
    return png.size() > 25 ? uchar(png.at(25)) : -1;
}

QByteArray qtPng(const QImage &picture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "png");
    return bytes;
}

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

// A looping name, a dot and an underline with varying pressure, drawn the
// way the pad's samples reach the canvas.
void signName(ZqDraw *canvas)
{
    const double pi = 3.14159265358979;
    for (int i = 0; i <= 400; ++i) {
        const double t = i / 400.0;
        const int x = int((0.12 + 0.62 * t + 0.05 * std::sin(t * 8 * pi)) * 10206);
        const int y = int((0.45 - 0.15 * std::sin(t * 6 * pi) * (1.0 - 0.4 * t)) * 7422);
        canvas->drawPenLine(x, y, 10206, 7422, int(300 + 1500 * std::sin(t * pi)));
    }
    canvas->drawPenLine(0, 0, 10206, 7422, 0);
    for (int i = 0; i <= 6; ++i)
        canvas->drawPenLine(8165 + 40 * i, 2078, 10206, 7422, 1200);
    canvas->drawPenLine(0, 0, 10206, 7422, 0);
    for (int i = 0; i <= 120; ++i) {
        const double t = i / 120.0;
        canvas->drawPenLine(int((0.15 + 0.65 * t) * 10206), int((0.66 + 0.02 * std::sin(t * pi)) * 7422), 10206,
                            7422, int(1000 - 600 * t));
    }
}
} // namespace

class TestLivePicture : public QObject
{
    Q_OBJECT

private slots:
    void aSignatureDecodesToTheSamePixelsAsTheRgbaPicture()
    {
        ZqDraw canvas;
        signName(&canvas);
        const QImage picture = canvas.picture();
        const QByteArray rgba = qtPng(picture);
        const QByteArray live = livepicture::encode(picture);
        QCOMPARE(colourType(rgba), 6);
        QCOMPARE(colourType(live), 3);

        const QImage fromRgba = QImage::fromData(rgba, "PNG");
        const QImage fromLive = QImage::fromData(live, "PNG");
        QVERIFY(!fromLive.isNull());
        QCOMPARE(firstDifference(fromRgba, fromLive), QString());
        QCOMPARE(firstDifference(picture, fromLive), QString());
        int inked = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                inked += qAlpha(picture.pixel(x, y)) > 0;
        QVERIFY2(inked > 1500, qPrintable(QString::number(inked)));
        QVERIFY2(live.size() < rgba.size() * 3 / 4, qPrintable(QStringLiteral("%1 vs %2").arg(live.size()).arg(rgba.size())));
    }

    void theBlankPictureIsTheClearedCanvas()
    {
        ZqDraw canvas;
        signName(&canvas);
        canvas.clearImage();
        QCOMPARE(livepicture::blank(), livepicture::encode(canvas.picture()));
        const QImage blank = QImage::fromData(livepicture::blank(), "PNG");
        QCOMPARE(blank.size(), QSize(320, 240));
        QCOMPARE(firstDifference(blank, canvas.picture()), QString());
    }

    // Never drawn by the canvas, but still encoded exactly.
    void moreThan256PixelValuesStayExact()
    {
        QImage noise(64, 48, QImage::Format_ARGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, random.generate() | 0xFF000000u);
        const QByteArray png = livepicture::encode(noise);
        QCOMPARE(colourType(png), 6);
        QCOMPARE(firstDifference(QImage::fromData(png, "PNG"), noise), QString());
        QVERIFY(livepicture::encode(QImage()).isEmpty());
    }

    // The confirm's file keeps its RGBA encoding of the cut signature.
    void savePngIsUnchanged()
    {
        QTemporaryDir dir;
        ZqDraw canvas;
        signName(&canvas);
        QImage cut = canvas.picture().copy(canvas.signRect());
        ZqDraw::resizeImage(&cut, 320, 240);
        const QString name = dir.filePath("save.png");
        QVERIFY(canvas.saveImage(name, "png"));
        QFile saved(name);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        QCOMPARE(colourType(bytes), 6);
        QCOMPARE(bytes, qtPng(cut));
    }
};

QTEST_MAIN(TestLivePicture)
#include "tst_livepicture.moc"

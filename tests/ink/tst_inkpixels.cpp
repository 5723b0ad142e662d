// The canvas keeps one painter on its picture between segments: the pixels
// are those of every segment drawn by a painter of its own, picture by
// picture, across clears.
#include "ink/ZqDraw.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>

namespace {
struct Sample
{
    int x;
    int y;
    int pressure;
};

// A stroke on the canvas the way a kz7 pad sends it, lifts included.
QVector<Sample> scribble(QRandomGenerator *random, int samples)
{
    QVector<Sample> stroke;
    int x = random->bounded(ZqDraw::kWidth);
    int y = random->bounded(ZqDraw::kHeight);
    for (int i = 0; i < samples; ++i) {
        x = qBound(0, x + random->bounded(-9, 10), ZqDraw::kWidth - 1);
        y = qBound(0, y + random->bounded(-9, 10), ZqDraw::kHeight - 1);
        stroke.append(Sample{x, y, random->bounded(30) == 0 ? 0 : random->bounded(1, 2048)});
    }
    return stroke;
}

// Each segment by a painter begun and ended for it alone.
class Reference
{
public:
    Reference() : m_picture(ZqDraw::kWidth, ZqDraw::kHeight, QImage::Format_ARGB32) { m_picture.fill(ZqDraw::kBlank); }

    void take(const Sample &sample)
    {
        const QPoint p(sample.x, sample.y);
        if (sample.pressure == 0) {
            m_down = false;
            return;
        }
        if (m_down) {
            QPainter painter(&m_picture);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setRenderHint(QPainter::Antialiasing);
            const double width = std::fma(sample.pressure * 1.5, 0.0009765625, 1.0);
            painter.setPen(QPen(QBrush(Qt::black), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const QLine line(m_last, p);
            painter.drawLines(&line, 1);
        }
        m_down = true;
        m_last = p;
    }
    const QImage &picture() const { return m_picture; }

private:
    QImage m_picture;
    QPoint m_last;
    bool m_down = false;
};
} // namespace

class TestInkPixels : public QObject
{
    Q_OBJECT

private slots:
    void everyPictureEqualsSegmentsDrawnOneByOne()
    {
        ZqDraw canvas;
        QRandomGenerator random(3);
        for (int signing = 0; signing < 3; ++signing) {
            Reference reference;
            const QVector<Sample> stroke = scribble(&random, 400);
            for (int i = 0; i < stroke.size(); ++i) {
                canvas.drawPenLine_kz7(stroke[i].x, stroke[i].y, stroke[i].pressure);
                reference.take(stroke[i]);
                if (i % 10 == 0)
                    QVERIFY2(canvas.picture() == reference.picture(),
                             qPrintable(QStringLiteral("signing %1, sample %2").arg(signing).arg(i)));
            }
            QVERIFY(canvas.picture() == reference.picture());
            canvas.clearImage();
        }
    }
};

QTEST_MAIN(TestInkPixels)
#include "tst_inkpixels.moc"

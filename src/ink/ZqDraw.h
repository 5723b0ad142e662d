#pragma once

#include "ink/palettecanvas.h"
#include "signing/touchinfof.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QObject>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVector>

#include <mutex>

// The ink canvas: a transparent 320 x 240 picture of the signature. It maps
// pen samples onto the picture, draws pressure-dependent segments, records the
// path for the point path file, tracks the inked area, and writes the
// finished picture.
//
// The GUI thread (live samples), the draw-to-web worker (snapshots, clear,
// save) and the replay thread all use the one canvas. The canvas lock guards
// every member below it; an operation holds it while it draws, clears or
// copies, and never while it encodes a picture or a path file or writes one,
// so drawing never waits for an encode or the disk.
class ZqDraw : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    static constexpr uint kBlank = 0x00FFFFFF; // white with alpha 0: untouched pixels are transparent

    ZqDraw();
    ~ZqDraw() override;

    // One live sample in pad coordinates with the pad's extents.
    void drawPenLine(int x, int y, int xmax, int ymax, int pressure);
    // One live sample already in canvas coordinates (no mapping, no area test).
    void drawPenLine_kz7(int x, int y, int pressure);
    // One replayed point in canvas coordinates: draws only, records nothing.
    // False, and nothing drawn, while the canvas holds a signer's ink: a
    // replay never draws into a signature not yet saved or dropped.
    bool drawPathPoint(int x, int y, int pressure);

    void clearImage();
    bool saveImage(const QString &fileName, const QString &format);
    // True when the file was written (nothing is written without a path).
    bool savePointPath(const QString &path);

    // The finished signature as save.png and path.save hold it, with what a
    // drawing of it in vectors needs: the records, the cut and its size.
    struct Signature
    {
        QByteArray picture;
        QByteArray pointPath;
        int samples = 0; // records in pointPath
        QVector<TOUCH_INFO_F> records;
        QRect cut;          // the part of the canvas save.png shows
        QSize pictureSize;  // save.png's size: the cut fitted into the canvas size
        QColor penColor;
    };
    // False (and nothing taken) when no ink was drawn since the last clear:
    // a confirm then has no signature to save.
    bool takeSignature(Signature *signature) const;

    // The width of a segment whose end point has this pressure.
    static double penWidthFor(int pressure);

    static void resizeImage(QImage *img, int maxWidth, int maxHeight);
    static void resizeImage(QImage *img, const QSize &size);

    // Copies of the canvas state, each taken under the lock.
    QImage picture() const;
    // Brings `copy` up to the picture's palette rows, copying only the bands
    // drawn on since it was last brought up; false when the picture holds
    // values the rows cannot (then only picture() holds it exactly).
    bool copyPaletteRows(PaletteCanvas *copy) const;
    QVector<TOUCH_INFO_F> pathRecords() const;
    QRect signRect() const;
    // True when a signer's segment was drawn since the last clear.
    bool holdsSignerInk() const;

private:
    void takeLiveSample(bool touching, const QPoint &p, int pressure);
    // Draws from `from` to `to` and moves `from` there.
    void drawLineTo(QPoint *from, const QPoint &to);
    void SignAre(float x, float y);
    void noteInk(const QPoint &p, double width);
    QRect signCut() const;
    // Under the lock: copies that share no storage with the canvas.
    QVector<TOUCH_INFO_F> pathCopy() const;
    QImage signatureCut() const; // the picture cut to the sign area, holding all its ink
    static QByteArray encodeSignature(QImage cut, const char *format, QSize *fitted = nullptr);

    mutable std::mutex m_mutex;
    bool isPenDown = false;
    bool isPathPenDown = false;
    QColor penColor = Qt::black;
    QPoint lastPoint;     // live drawing's
    QPoint lastPathPoint; // the replay's: the two never join
    double penWidth = 1.0;
    QImage image;
    QPainter m_painter; // on `image` from the first segment to the next clear
    PaletteCanvas m_paletteRows; // the picture as palette indices, kept with every change
    const QRect drawArea{QPoint(5, 5), QPoint(315, 235)};
    QRect signArea;
    QRect inkReach;  // every pixel the ink may touch
    QRect inkMargin; // 15 pixels (or a wide pen's reach) around every inked point
    float preX = 0.0f;
    float preY = 0.0f;
    TOUCH_INFO_F s_touchinfo_f;
    QVector<TOUCH_INFO_F> vPath_touch_info;
    bool inked = false;       // a live segment was drawn since the last clear
    bool replayInked = false; // a replayed segment was drawn since the last clear
};

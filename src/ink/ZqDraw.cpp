#include "ink/ZqDraw.h"

#include "ink/pointpath.h"
#include "ink/signaturefiles.h"

#include <QBuffer>
#include <QDebug>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kSignMargin = 15;

// An edge of the sign area; kz7 samples arrive unchecked, and a point near
// int's limits must not overflow with its margin.
int signEdge(qint64 v)
{
    return static_cast<int>(std::clamp<qint64>(v, -1000000000, 1000000000));
}
} // namespace

// 1.0 + 1.5 * pressure / 1024 pixels.
double ZqDraw::penWidthFor(int pressure)
{
    return std::fma(pressure * 1.5, 0.0009765625, 1.0);
}

namespace {
// The pixels a segment of this width can reach: half the width around the
// line, a pixel more for the anti-aliased edge and one for rounding. A width
// the pen cannot draw sensibly may reach anywhere. Computed wide, as kz7
// points arrive unchecked.
QRect touchedBy(const QLine &line, double width)
{
    const QRect canvas(0, 0, ZqDraw::kWidth, ZqDraw::kHeight);
    if (!(width >= 0.0 && width <= 2.0 * ZqDraw::kWidth))
        return canvas;
    const qint64 margin = qint64(std::ceil(width / 2)) + 2;
    auto clampX = [](qint64 x) { return int(std::clamp<qint64>(x, -1, ZqDraw::kWidth)); };
    auto clampY = [](qint64 y) { return int(std::clamp<qint64>(y, -1, ZqDraw::kHeight)); };
    const QRect reach(QPoint(clampX(qint64(std::min(line.x1(), line.x2())) - margin),
                             clampY(qint64(std::min(line.y1(), line.y2())) - margin)),
                      QPoint(clampX(qint64(std::max(line.x1(), line.x2())) + margin),
                             clampY(qint64(std::max(line.y1(), line.y2())) + margin)));
    return reach.intersected(canvas);
}
} // namespace

ZqDraw::ZqDraw() : image(kWidth, kHeight, QImage::Format_ARGB32)
{
    image.fill(kBlank);
    m_paletteRows.reset(image.size(), kBlank);
}

ZqDraw::~ZqDraw() = default;

void ZqDraw::drawPenLine(int x, int y, int xmax, int ymax, int pressure)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    penWidth = 1.5;
    // Extents of 0 (or less) cannot be mapped: such a sample counts as
    // outside the drawing area instead of dividing by zero.
    bool touching = false;
    QPoint mapped;
    if (pressure != 0 && xmax > 0 && ymax > 0) {
        const double X = std::trunc(x * 320.0 / xmax);
        const double Y = std::trunc(y * 240.0 / ymax);
        // Compared as doubles so that far-away points never meet an int conversion.
        touching = X >= drawArea.left() && X <= drawArea.right() && Y >= drawArea.top()
                   && Y <= drawArea.bottom();
        if (touching)
            mapped = QPoint(static_cast<int>(X), static_cast<int>(Y));
    }
    takeLiveSample(touching, mapped, pressure);
}

void ZqDraw::drawPenLine_kz7(int x, int y, int pressure)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    penWidth = 1.5;
    takeLiveSample(pressure != 0, QPoint(x, y), pressure);
}

void ZqDraw::takeLiveSample(bool touching, const QPoint &p, int pressure)
{
    if (touching && isPenDown) {
        penWidth = penWidthFor(pressure);
        // The signer's first segment never joins what a replay left: only
        // the signer's ink is ever taken as the signature.
        if (!inked && replayInked) {
            image.fill(kBlank);
            replayInked = false;
        }
        const QPoint from = lastPoint;
        drawLineTo(&lastPoint, p);
        inked = true;
        preX = p.x();
        preY = p.y();
        SignAre(p.x(), p.y());
        noteInk(from, penWidth);
        noteInk(p, penWidth);
        s_touchinfo_f = TOUCH_INFO_F{float(p.x()), float(p.y()), pressure, 2};
    } else if (touching) {
        isPenDown = true;
        lastPoint = p;
        // The end record of this stroke names its own point, even when the
        // stroke is this one sample.
        preX = p.x();
        preY = p.y();
        s_touchinfo_f = TOUCH_INFO_F{float(p.x()), float(p.y()), pressure, 1};
    } else if (isPenDown) {
        isPenDown = false;
        s_touchinfo_f = TOUCH_INFO_F{preX, preY, pressure, 3};
    }
    // Every sample adds a record: hover samples and samples outside the area
    // with the pen up repeat the last one.
    vPath_touch_info.append(s_touchinfo_f);
}

bool ZqDraw::drawPathPoint(int x, int y, int pressure)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (inked)
        return false;
    penWidth = 1.5;
    const QPoint p(x, y);
    if (pressure == 0) {
        isPathPenDown = false;
    } else if (isPathPenDown) {
        penWidth = penWidthFor(pressure);
        drawLineTo(&lastPathPoint, p);
        replayInked = true;
    } else {
        isPathPenDown = true;
        lastPathPoint = p;
    }
    return true;
}

void ZqDraw::drawLineTo(QPoint *from, const QPoint &to)
{
    // Beginning a painter costs several times what a segment does, so one
    // stays on the picture between segments (it draws straight into it).
    if (!m_painter.isActive()) {
        m_painter.begin(&image);
        m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
        m_painter.setRenderHint(QPainter::Antialiasing);
    }
    m_painter.setPen(QPen(QBrush(penColor), penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QLine line(*from, to);
    m_painter.drawLines(&line, 1);
    m_paletteRows.update(image, touchedBy(line, penWidth));
    *from = to;
}

// Grows the sign area around a segment's end point: an edge the point lies
// beyond moves 15 pixels past it. The area is unset while it is the null
// rectangle, not while an edge is 0 (where a point 15 pixels from the
// picture's edge puts it).
void ZqDraw::SignAre(float x, float y)
{
    if (signArea.isNull()) {
        signArea = QRect(QPoint(signEdge(qint64(x) - kSignMargin), signEdge(qint64(y) - kSignMargin)),
                         QPoint(signEdge(qint64(x) + kSignMargin), signEdge(qint64(y) + kSignMargin)));
        return;
    }
    if (signArea.left() > x)
        signArea.setLeft(signEdge(qint64(x) - kSignMargin));
    if (signArea.top() > y)
        signArea.setTop(signEdge(qint64(y) - kSignMargin));
    if (signArea.bottom() < y)
        signArea.setBottom(signEdge(qint64(y) + kSignMargin));
    if (signArea.right() < x)
        signArea.setRight(signEdge(qint64(x) + kSignMargin));
}

// Notes where the ink of a segment's end `p`, drawn `width` wide, may reach:
// a stroke's first point and a point just inside an edge of the sign area
// have ink the area may not hold.
void ZqDraw::noteInk(const QPoint &p, double width)
{
    // Ink around a point covers pixel columns x - ceil(width / 2) to
    // x + ceil(width / 2) - 1 (whole coordinates are pixel corners); one more
    // on each side for the antialiasing of thin slanted lines.
    const qint64 reach = qint64(std::ceil(std::abs(width) / 2)) + 1;
    const qint64 margin = std::max<qint64>(kSignMargin, reach);
    const qint64 x = p.x();
    const qint64 y = p.y();
    inkReach |= QRect(QPoint(signEdge(x - reach), signEdge(y - reach)),
                      QPoint(signEdge(x + reach - 1), signEdge(y + reach - 1)));
    inkMargin |= QRect(QPoint(signEdge(x - margin), signEdge(y - margin)),
                       QPoint(signEdge(x + margin), signEdge(y + margin)));
}

// The sign area, except that an edge some ink reaches past moves to 15
// pixels beyond the outermost point on that side (further only for a pen
// wider than that). An area that holds all its ink is the cut as it is, so
// such pictures keep their size. Called with the lock held.
QRect ZqDraw::signCut() const
{
    QRect cut = signArea;
    if (inkReach.isNull())
        return cut;
    if (cut.left() > inkReach.left())
        cut.setLeft(inkMargin.left());
    if (cut.top() > inkReach.top())
        cut.setTop(inkMargin.top());
    if (cut.right() < inkReach.right())
        cut.setRight(inkMargin.right());
    if (cut.bottom() < inkReach.bottom())
        cut.setBottom(inkMargin.bottom());
    return cut;
}

// Starts a new signature. The sign area starts afresh too, so the finished
// picture of this signature is cut to its own ink only.
void ZqDraw::clearImage()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    vPath_touch_info.clear();
    if (m_painter.isActive())
        m_painter.end();
    image.fill(kBlank);
    m_paletteRows.reset(image.size(), kBlank);
    isPenDown = false;
    isPathPenDown = false;
    signArea = QRect();
    inkReach = QRect();
    inkMargin = QRect();
    inked = false;
    replayInked = false;
}

bool ZqDraw::saveImage(const QString &fileName, const QString &format)
{
    if (fileName.isEmpty())
        return false;
    QImage cut;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (image.isNull())
            return false;
        cut = signatureCut();
    }
    qDebug() << "image-save-------" << fileName;
    const QByteArray encoded = encodeSignature(cut, format.toLocal8Bit().constData());
    if (encoded.isEmpty())
        return false;
    const signaturefiles::SaveResult result = signaturefiles::writeFile(fileName, encoded);
    if (result.saved)
        qDebug() << "image-save---成功----";
    else
        qWarning().noquote() << "image-save---失败----" << result.failure;
    return result.saved;
}

bool ZqDraw::savePointPath(const QString &path)
{
    QVector<TOUCH_INFO_F> records;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (path.isEmpty() || vPath_touch_info.isEmpty())
            return false;
        // Emptied now, written or not: later samples start the next path.
        records.swap(vPath_touch_info);
    }
    const signaturefiles::SaveResult result = signaturefiles::writeFile(path, pointpath::encodeFile(records));
    if (!result.saved)
        qWarning().noquote() << "path-save---失败----" << result.failure;
    return result.saved;
}

bool ZqDraw::takeSignature(Signature *signature) const
{
    QVector<TOUCH_INFO_F> records;
    QImage cut;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!inked)
            return false;
        records = pathCopy();
        cut = signatureCut();
        signature->cut = signCut();
        signature->penColor = penColor;
    }
    // The path file first, as it always was: its filler comes from rand().
    signature->pointPath = pointpath::encodeFile(records);
    signature->picture = encodeSignature(cut, "png", &signature->pictureSize);
    signature->samples = records.size();
    signature->records = records;
    return true;
}

// A copy of its own: the list's storage is never shared with another
// thread, which would then read it while this one appends.
QVector<TOUCH_INFO_F> ZqDraw::pathCopy() const
{
    return QVector<TOUCH_INFO_F>(vPath_touch_info.cbegin(), vPath_touch_info.cend());
}

// The picture cut to the sign area, widened to hold all its ink. A null sign
// area (nothing drawn) copies the whole picture; parts of the area beyond the
// picture come out transparent.
QImage ZqDraw::signatureCut() const
{
    return image.copy(signCut());
}

// The cut fitted into the canvas size and encoded.
QByteArray ZqDraw::encodeSignature(QImage cut, const char *format, QSize *fitted)
{
    resizeImage(&cut, kWidth, kHeight);
    if (fitted)
        *fitted = cut.size();
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!cut.save(&buffer, format))
        encoded.clear();
    return encoded;
}

// Scales down to fit maxWidth x maxHeight, keeping the aspect ratio; a
// picture that fits already keeps its size.
void ZqDraw::resizeImage(QImage *img, int maxWidth, int maxHeight)
{
    if (img->isNull())
        return;
    int w = img->width();
    int h = img->height();
    if (double(w) / h > double(maxWidth) / maxHeight) {
        if (w > maxWidth) {
            h = h * maxWidth / w;
            w = maxWidth;
        }
    } else if (h > maxHeight) {
        w = w * maxHeight / h;
        h = maxHeight;
    }
    qDebug() << "image---scaled-----" << w << "   " << h;
    *img = img->scaled(w, h, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// Makes img exactly `size`, its content at the top-left on transparent white.
void ZqDraw::resizeImage(QImage *img, const QSize &size)
{
    if (img->size() == size)
        return;
    QImage resized(size, QImage::Format_ARGB32);
    resized.fill(kBlank);
    QPainter painter(&resized);
    painter.drawImage(QPoint(0, 0), *img);
    painter.end();
    *img = resized;
}

QImage ZqDraw::picture() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return image.copy();
}

bool ZqDraw::copyPaletteRows(PaletteCanvas *copy) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_paletteRows.copyTo(copy);
    return copy->exact();
}

QVector<TOUCH_INFO_F> ZqDraw::pathRecords() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return pathCopy();
}

QRect ZqDraw::signRect() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return signCut();
}

bool ZqDraw::holdsSignerInk() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return inked;
}

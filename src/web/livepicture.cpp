#include "web/livepicture.h"

#include "ink/ZqDraw.h"

#include <QHash>
#include <QVector>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <iterator>
#include <zlib.h>

namespace {

// Measured on signatures: run-length matching with no row filter gives the
// smallest palette pictures (no larger than optipng -o2's) and is the
// cheapest; for RGBA the usual adaptive filters win.
constexpr int kZlibLevel = 6;

struct Palette
{
    QVector<png_color> colors;
    QVector<png_byte> alphas;
    QByteArray indices; // one byte per pixel, rows top to bottom
};

// Maps every pixel to a palette index; false when more than 256 values occur.
// Ink is black of some alpha: those pixels find their index by alpha alone.
bool buildPalette(const QImage &picture, Palette *palette)
{
    int inkIndex[256];
    std::fill(std::begin(inkIndex), std::end(inkIndex), -1);
    QHash<QRgb, int> others;
    auto add = [palette](QRgb pixel) {
        palette->colors.append(png_color{png_byte(qRed(pixel)), png_byte(qGreen(pixel)), png_byte(qBlue(pixel))});
        palette->alphas.append(png_byte(qAlpha(pixel)));
        return palette->colors.size() - 1;
    };
    const int width = picture.width();
    const int height = picture.height();
    palette->indices.resize(width * height);
    uchar *out = reinterpret_cast<uchar *>(palette->indices.data());
    // Most pixels repeat the one before (the blank canvas around the ink):
    // they skip the lookup.
    QRgb previous = 0;
    int previousIndex = -1;
    for (int y = 0; y < height; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = row[x];
            if (pixel == previous && previousIndex >= 0) {
                *out++ = uchar(previousIndex);
                continue;
            }
            int index;
            if ((pixel & 0x00FFFFFFu) == 0) {
                index = inkIndex[qAlpha(pixel)];
                if (index < 0) {
                    if (palette->colors.size() == 256)
                        return false;
                    index = inkIndex[qAlpha(pixel)] = add(pixel);
                }
            } else {
                auto found = others.constFind(pixel);
                if (found == others.constEnd()) {
                    if (palette->colors.size() == 256)
                        return false;
                    found = others.insert(pixel, add(pixel));
                }
                index = found.value();
            }
            previous = pixel;
            previousIndex = index;
            *out++ = uchar(index);
        }
    }
    return true;
}

void appendToBuffer(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), int(length));
}

void noFlush(png_structp) {}

// Writes one PNG; rows point at pixels in the layout `colorType` names. Only
// plain pointers live in this frame, which libpng may leave by longjmp.
bool writePng(QByteArray *out, int width, int height, int colorType, png_bytepp rows, const Palette *palette)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendToBuffer, noFlush);
    png_set_compression_level(png, kZlibLevel);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE,
                   colorType == PNG_COLOR_TYPE_PALETTE ? PNG_FILTER_NONE : PNG_ALL_FILTERS);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (palette) {
        png_set_PLTE(png, info, palette->colors.constData(), palette->colors.size());
        // Opaque entries at the end of the table need no alpha.
        int alphas = palette->alphas.size();
        while (alphas > 0 && palette->alphas.at(alphas - 1) == 255)
            --alphas;
        if (alphas > 0)
            png_set_tRNS(png, info, palette->alphas.constData(), alphas, nullptr);
    }
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

QByteArray encodeRgba(const QImage &picture)
{
    // Bytes R, G, B, A in memory whatever the machine's byte order.
    QImage bytes = picture.convertToFormat(QImage::Format_RGBA8888);
    QVector<png_bytep> rows(bytes.height());
    for (int y = 0; y < bytes.height(); ++y)
        rows[y] = bytes.scanLine(y);
    QByteArray out;
    if (!writePng(&out, bytes.width(), bytes.height(), PNG_COLOR_TYPE_RGBA, rows.data(), nullptr))
        return QByteArray();
    return out;
}

} // namespace

namespace livepicture {

QByteArray encode(const QImage &picture)
{
    if (picture.isNull())
        return QByteArray();
    const QImage argb = picture.format() == QImage::Format_ARGB32 ? picture
                                                                  : picture.convertToFormat(QImage::Format_ARGB32);
    Palette palette;
    if (!buildPalette(argb, &palette))
        return encodeRgba(argb);
    QVector<png_bytep> rows(argb.height());
    for (int y = 0; y < argb.height(); ++y)
        rows[y] = reinterpret_cast<png_bytep>(palette.indices.data()) + y * argb.width();
    QByteArray out;
    out.reserve(8192);
    if (!writePng(&out, argb.width(), argb.height(), PNG_COLOR_TYPE_PALETTE, rows.data(), &palette))
        return QByteArray();
    return out;
}

QByteArray blank()
{
    static const QByteArray picture = [] {
        QImage canvas(ZqDraw::kWidth, ZqDraw::kHeight, QImage::Format_ARGB32);
        canvas.fill(ZqDraw::kBlank);
        return encode(canvas);
    }();
    return picture;
}

} // namespace livepicture

#include "web/livepictureencoder.h"

#include "ink/ZqDraw.h"

#include <QtEndian>

namespace {
// Raw deflate: the zlib header and checksum around the bands are written here.
constexpr int kWindowBits = -15;
// Room for a band's every byte as one symbol, so a band is one block; the
// smallest such level keeps the reset of the (unused) match table short.
constexpr int kMemLevel = 7;
static_assert((1 << (kMemLevel + 6)) > (ZqDraw::kWidth + 1) * PaletteCanvas::kBandRows, "a band fits one block");
// The zlib header of a 32 KiB window deflated without string matching.
const char kZlibHeader[] = {'\x78', '\x01'};
const char kPngSignature[] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
constexpr uchar kPaletteColourType = 3;

void appendBigEndian(QByteArray *out, quint32 value)
{
    uchar bytes[4];
    qToBigEndian(value, bytes);
    out->append(reinterpret_cast<const char *>(bytes), 4);
}

// A chunk's length, type and data are appended by `fill`; this adds the
// length in front and the CRC of type and data behind.
template <typename Fill>
void appendChunk(QByteArray *out, const char (&type)[5], Fill fill)
{
    const int lengthAt = out->size();
    appendBigEndian(out, 0);
    out->append(type, 4);
    fill(out);
    const int dataBytes = out->size() - lengthAt - 8;
    qToBigEndian(quint32(dataBytes), reinterpret_cast<uchar *>(out->data() + lengthAt));
    const Bytef *typeAndData = reinterpret_cast<const Bytef *>(out->constData() + lengthAt + 4);
    appendBigEndian(out, quint32(crc32(0, typeAndData, uInt(dataBytes + 4))));
}
} // namespace

LivePictureEncoder::LivePictureEncoder()
{
    m_streamReady = deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kWindowBits, kMemLevel, Z_RLE) == Z_OK;
}

LivePictureEncoder::~LivePictureEncoder()
{
    if (m_streamReady)
        deflateEnd(&m_stream);
}

bool LivePictureEncoder::deflateBand(const PaletteCanvas &canvas, int index, Band *band)
{
    const bool last = index == canvas.bandCount() - 1;
    const uInt bytes = uInt(canvas.bandBytes(index));
    const Bytef *rows = canvas.bandData(index);
    if (deflateReset(&m_stream) != Z_OK)
        return false;
    // The bound covers a finished stream; a sync flush adds its empty block.
    band->deflated.resize(int(deflateBound(&m_stream, bytes)) + 16);
    m_stream.next_in = const_cast<Bytef *>(rows);
    m_stream.avail_in = bytes;
    m_stream.next_out = reinterpret_cast<Bytef *>(band->deflated.data());
    m_stream.avail_out = uInt(band->deflated.size());
    const int result = deflate(&m_stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    // A flush that filled the output might not be complete.
    const bool done = last ? result == Z_STREAM_END : result == Z_OK && m_stream.avail_out > 0;
    if (!done || m_stream.avail_in != 0)
        return false;
    band->deflated.resize(band->deflated.size() - int(m_stream.avail_out));
    band->adler = adler32(adler32(0, nullptr, 0), rows, bytes);
    band->stamp = canvas.bandStamp(index);
    return true;
}

QByteArray LivePictureEncoder::encode(const PaletteCanvas &canvas)
{
    if (!m_streamReady || !canvas.exact() || canvas.bandCount() == 0)
        return QByteArray();
    if (int(m_bands.size()) != canvas.bandCount())
        m_bands.assign(size_t(canvas.bandCount()), Band());
    int deflatedBytes = 0;
    uLong adler = adler32(0, nullptr, 0);
    for (int i = 0; i < canvas.bandCount(); ++i) {
        Band &band = m_bands[size_t(i)];
        if (band.stamp != canvas.bandStamp(i) && !deflateBand(canvas, i, &band)) {
            band.stamp = 0;
            return QByteArray();
        }
        deflatedBytes += band.deflated.size();
        adler = adler32_combine(adler, band.adler, canvas.bandBytes(i));
    }

    const QVector<QRgb> palette = canvas.palette();
    int alphas = palette.size(); // entries up to the last that is not opaque
    while (alphas > 0 && qAlpha(palette.at(alphas - 1)) == 255)
        --alphas;
    QByteArray png;
    png.reserve(int(sizeof kPngSignature) + 25 + 12 + palette.size() * 4 + 12 + 12 + int(sizeof kZlibHeader)
                + deflatedBytes + 4 + 12);
    png.append(kPngSignature, int(sizeof kPngSignature));
    appendChunk(&png, "IHDR", [&canvas](QByteArray *out) {
        appendBigEndian(out, quint32(canvas.size().width()));
        appendBigEndian(out, quint32(canvas.size().height()));
        // 8 bits per index, palette; deflate, adaptive filters (here none), not interlaced.
        const char rest[] = {8, char(kPaletteColourType), 0, 0, 0};
        out->append(rest, int(sizeof rest));
    });
    appendChunk(&png, "PLTE", [&palette](QByteArray *out) {
        char rgb[PaletteCanvas::kMaxEntries * 3];
        for (int i = 0; i < palette.size(); ++i) {
            rgb[3 * i] = char(qRed(palette.at(i)));
            rgb[3 * i + 1] = char(qGreen(palette.at(i)));
            rgb[3 * i + 2] = char(qBlue(palette.at(i)));
        }
        out->append(rgb, 3 * palette.size());
    });
    if (alphas > 0)
        appendChunk(&png, "tRNS", [&palette, alphas](QByteArray *out) {
            char alpha[PaletteCanvas::kMaxEntries];
            for (int i = 0; i < alphas; ++i)
                alpha[i] = char(qAlpha(palette.at(i)));
            out->append(alpha, alphas);
        });
    appendChunk(&png, "IDAT", [this, &adler](QByteArray *out) {
        out->append(kZlibHeader, int(sizeof kZlibHeader));
        for (const Band &band : m_bands)
            out->append(band.deflated);
        appendBigEndian(out, quint32(adler));
    });
    appendChunk(&png, "IEND", [](QByteArray *) {});
    return png;
}

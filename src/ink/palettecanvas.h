#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QVector>

#include <array>
#include <vector>

// The canvas as PNG palette rows, kept up to date beside the ARGB picture so
// that a live picture needs no colour conversion. Each row is a filter byte
// (0: none) and one palette index per pixel, exactly the image data a PNG
// compresses.
//
// Ink is black of some alpha on the blank value, so the values in use fit
// 256 indices; an index whose value has left the picture goes to the next
// new value. Should the picture hold a value that cannot be indexed (another
// colour, or more than 256 values at once), the copy is not exact until the
// next reset, and the caller encodes the ARGB picture instead.
//
// Rows are kept in bands of kBandRows, each stamped when one of its indices
// changes. Stamps are unique in the process, so a copy brought up to date
// takes only the bands whose stamps differ, and an encoder that keeps each
// band's compressed bytes by stamp compresses only those.
class PaletteCanvas
{
public:
    static constexpr int kBandRows = 16;
    static constexpr int kMaxEntries = 256;

    // Every pixel `blank`.
    void reset(const QSize &size, QRgb blank);
    // Takes the pixels of `area` from `picture` (Format_ARGB32, the size of
    // this canvas).
    void update(const QImage &picture, const QRect &area);
    // Makes `copy` equal to this canvas, copying only the bands that differ.
    void copyTo(PaletteCanvas *copy) const;

    bool exact() const { return m_exact; }
    QSize size() const { return m_size; }
    int bandCount() const { return int(m_bandStamps.size()); }
    quint64 bandStamp(int band) const { return m_bandStamps[band]; }
    // The band's rows, filter bytes included.
    const uchar *bandData(int band) const { return m_rows.data() + band * kBandRows * stride(); }
    int bandBytes(int band) const;
    // Entries 0 up to the last one some pixel uses, as ARGB values.
    QVector<QRgb> palette() const;

private:
    int stride() const { return m_size.width() + 1; }
    // The index of `value`, given a free one when new; -1 when none is left
    // or the value is not one the canvas draws.
    int indexFor(QRgb value);

    QSize m_size;
    QRgb m_blank = 0;
    bool m_exact = false;
    std::vector<uchar> m_rows;
    std::vector<quint64> m_bandStamps;
    int m_entries = 0;                      // indices handed out so far
    std::array<QRgb, kMaxEntries> m_values{};
    std::array<int, kMaxEntries> m_uses{};  // pixels holding each index
    std::array<short, 256> m_inkIndex{};    // black of alpha a: its index, or -1
    short m_blankIndex = -1;
    struct Change
    {
        size_t offset; // in m_rows
        QRgb value;
    };
    std::vector<Change> m_changes; // an update's, kept to spare allocations
};

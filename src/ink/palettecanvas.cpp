#include "ink/palettecanvas.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {
std::atomic<quint64> lastStamp{0};

quint64 nextStamp()
{
    return ++lastStamp;
}

bool isInk(QRgb value)
{
    return (value & 0x00FFFFFFu) == 0;
}
} // namespace

void PaletteCanvas::reset(const QSize &size, QRgb blank)
{
    m_size = size;
    m_blank = blank;
    m_exact = true;
    m_rows.assign(size_t(stride()) * size.height(), 0);
    const int bands = (size.height() + kBandRows - 1) / kBandRows;
    m_bandStamps.assign(size_t(bands), nextStamp());
    m_inkIndex.fill(-1);
    m_blankIndex = -1;
    m_uses.fill(0);
    m_entries = 0;
    const int index = indexFor(blank);
    Q_ASSERT(index == 0);
    m_uses[index] = size.width() * size.height();
}

int PaletteCanvas::indexFor(QRgb value)
{
    short *known = isInk(value) ? &m_inkIndex[qAlpha(value)] : value == m_blank ? &m_blankIndex : nullptr;
    if (!known)
        return -1;
    if (*known >= 0)
        return *known;
    int index = int(std::find(m_uses.begin(), m_uses.begin() + m_entries, 0) - m_uses.begin());
    if (index == m_entries) {
        if (m_entries == kMaxEntries)
            return -1;
        ++m_entries;
    } else {
        // A value no pixel holds any more gives up its index.
        const QRgb old = m_values[index];
        (isInk(old) ? m_inkIndex[qAlpha(old)] : m_blankIndex) = -1;
    }
    m_values[index] = value;
    *known = short(index);
    return index;
}

void PaletteCanvas::update(const QImage &picture, const QRect &area)
{
    if (!m_exact)
        return;
    const QRect rect = area.intersected(QRect(QPoint(0, 0), m_size));
    if (rect.isEmpty())
        return;
    if (picture.format() != QImage::Format_ARGB32 || picture.size() != m_size) {
        m_exact = false;
        return;
    }
    // Every changed pixel gives up its old value first, so that a value
    // leaving the area frees its index for one arriving anywhere in it.
    m_changes.clear();
    quint64 stamp = 0; // one for every band this update changes
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        const size_t rowStart = size_t(y) * stride() + 1;
        const uchar *row = m_rows.data() + rowStart;
        const size_t changesBefore = m_changes.size();
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (m_values[row[x]] == in[x])
                continue;
            --m_uses[row[x]];
            m_changes.push_back(Change{rowStart + size_t(x), in[x]});
        }
        if (m_changes.size() != changesBefore) {
            if (!stamp)
                stamp = nextStamp();
            m_bandStamps[size_t(y / kBandRows)] = stamp;
        }
    }
    for (const Change &change : m_changes) {
        const int index = indexFor(change.value);
        if (index < 0) {
            m_exact = false;
            return;
        }
        ++m_uses[index];
        m_rows[change.offset] = uchar(index);
    }
}

void PaletteCanvas::copyTo(PaletteCanvas *copy) const
{
    if (copy->m_size != m_size || copy->m_rows.size() != m_rows.size()) {
        copy->m_rows = m_rows;
        copy->m_bandStamps = m_bandStamps;
    } else {
        for (int band = 0; band < bandCount(); ++band) {
            if (copy->m_bandStamps[band] == m_bandStamps[band])
                continue;
            std::memcpy(copy->m_rows.data() + (bandData(band) - m_rows.data()), bandData(band), size_t(bandBytes(band)));
            copy->m_bandStamps[band] = m_bandStamps[band];
        }
    }
    copy->m_size = m_size;
    copy->m_blank = m_blank;
    copy->m_exact = m_exact;
    copy->m_entries = m_entries;
    copy->m_values = m_values;
    copy->m_uses = m_uses;
    copy->m_inkIndex = m_inkIndex;
    copy->m_blankIndex = m_blankIndex;
}

int PaletteCanvas::bandBytes(int band) const
{
    const int rows = std::min(kBandRows, m_size.height() - band * kBandRows);
    return rows * stride();
}

QVector<QRgb> PaletteCanvas::palette() const
{
    int used = m_entries;
    while (used > 1 && m_uses[used - 1] == 0)
        --used;
    return QVector<QRgb>(m_values.begin(), m_values.begin() + used);
}

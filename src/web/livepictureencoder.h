#pragma once

#include "ink/palettecanvas.h"

#include <QByteArray>

#include <vector>

#include <zlib.h>

// Encodes the live picture from the canvas's palette rows as an 8-bit
// palette PNG, one encoder per thread that sends pictures.
//
// The image data is one zlib stream made of the canvas's bands, each
// deflated on its own and ended with a sync flush, so that it is
// byte-aligned and refers to no earlier band. A band keeps its deflated
// bytes while its stamp stays the same: a picture recompresses only the
// bands drawn on since the last one, and the stream's checksum is combined
// from each band's. The rows are left unfiltered and deflated as
// runs, which measured smallest and cheapest on signatures.
class LivePictureEncoder
{
public:
    LivePictureEncoder();
    ~LivePictureEncoder();
    LivePictureEncoder(const LivePictureEncoder &) = delete;
    LivePictureEncoder &operator=(const LivePictureEncoder &) = delete;

    // The PNG of an exact canvas; empty when it cannot be made.
    QByteArray encode(const PaletteCanvas &canvas);

private:
    struct Band
    {
        quint64 stamp = 0;   // 0: nothing deflated yet
        QByteArray deflated; // raw deflate, ending byte-aligned (the last band: final)
        uLong adler = 0;     // of the band's rows
    };
    bool deflateBand(const PaletteCanvas &canvas, int index, Band *band);

    z_stream m_stream{};
    bool m_streamReady = false;
    std::vector<Band> m_bands;
};

#pragma once

#include "signing/touchinfof.h"

#include <QByteArray>
#include <QColor>
#include <QRect>
#include <QSize>
#include <QVector>

// sign.svg: the signature in vectors, as the canvas drew it. Each segment
// of the path records is one round-capped line in canvas coordinates, as
// wide as the canvas drew it and in its ink colour; the viewBox is the cut
// that save.png shows, stretched to save.png's size. Rendered at that size
// it covers the pixels save.png inks.
namespace signsvg {

QByteArray encode(const QVector<TOUCH_INFO_F> &records, const QRect &cut, const QSize &size, const QColor &ink);

} // namespace signsvg

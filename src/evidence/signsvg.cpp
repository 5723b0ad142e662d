#include "evidence/signsvg.h"

#include "ink/ZqDraw.h"

#include <algorithm>
#include <cmath>

namespace signsvg {

namespace {
QByteArray number(double value)
{
    return QByteArray::number(value, 'f', 4);
}

int coordinate(float value)
{
    return int(std::clamp(std::trunc(value), -1.0e9f, 1.0e9f));
}
} // namespace

// The records are walked as a replay walks path.save, which draws them
// exactly as the live canvas did: a start record lifts the pen first, an end
// record lifts it, any other record with pressure draws to its point.
QByteArray encode(const QVector<TOUCH_INFO_F> &records, const QRect &cut, const QSize &size, const QColor &ink)
{
    QByteArray svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\""
        + QByteArray::number(size.width()) + "\" height=\"" + QByteArray::number(size.height()) + "\" viewBox=\""
        + QByteArray::number(cut.x()) + ' ' + QByteArray::number(cut.y()) + ' ' + QByteArray::number(cut.width()) + ' '
        + QByteArray::number(cut.height()) + "\" preserveAspectRatio=\"none\">\n"
        + "<g fill=\"none\" stroke=\"" + ink.name(QColor::HexRgb).toLatin1()
        + "\" stroke-linecap=\"round\" stroke-linejoin=\"round\">\n";
    bool penDown = false;
    int lastX = 0;
    int lastY = 0;
    for (const TOUCH_INFO_F &record : records) {
        const int x = coordinate(record.x);
        const int y = coordinate(record.y);
        if (record.state == 1)
            penDown = false;
        const int pressure = record.state == 3 ? 0 : record.pressure;
        if (pressure == 0) {
            penDown = false;
            continue;
        }
        if (penDown) {
            svg += "<line x1=\"" + QByteArray::number(lastX) + "\" y1=\"" + QByteArray::number(lastY) + "\" x2=\""
                + QByteArray::number(x) + "\" y2=\"" + QByteArray::number(y) + "\" stroke-width=\""
                + number(ZqDraw::penWidthFor(pressure)) + "\"/>\n";
        }
        penDown = true;
        lastX = x;
        lastY = y;
    }
    svg += "</g>\n</svg>\n";
    return svg;
}

} // namespace signsvg

#include "ink/pointpath.h"

#include "pad/base64.h"

#include <QList>

#include <cmath>
#include <cstdlib>

namespace pointpath {

namespace {
constexpr int kFillerSize = 56;
// Canvas width 320 and height 240 big-endian, 7 zero bytes, a newline.
const char kHeaderTail[12] = {0x01, 0x40, 0x00, char(0xF0), 0, 0, 0, 0, 0, 0, 0, '\n'};

// Replayed coordinates beyond this are not a signature; refusing them keeps
// the float-to-int conversion defined.
constexpr double kMaxCoordinate = 1.0e6;

// Parses one record text into a point; false when it cannot be replayed.
bool parseRecord(QByteArray text, PathPoint *point)
{
    const int open = text.indexOf('{');
    if (open < 0)
        return false;
    text.remove(open, 1);
    const int close = text.indexOf('}');
    if (close < 0)
        return false;
    text.remove(close, 1);

    QList<QByteArray> fields;
    for (const QByteArray &field : text.split(',')) {
        if (!field.isEmpty())
            fields.append(field);
    }
    // Numbers that do not parse read as 0, missing fields too.
    point->state = fields.size() > 0 ? fields[0].toInt() : 0;
    const double x = fields.size() > 1 ? fields[1].toDouble() : 0.0;
    const double y = fields.size() > 2 ? fields[2].toDouble() : 0.0;
    if (!(std::abs(x) <= kMaxCoordinate && std::abs(y) <= kMaxCoordinate))
        return false;
    point->x = static_cast<int>(std::trunc(static_cast<float>(x)));
    point->y = static_cast<int>(std::trunc(static_cast<float>(y)));
    point->pressure = fields.size() > 3 ? fields[3].toInt() : 0;
    return true;
}
} // namespace

QByteArray recordText(const TOUCH_INFO_F &record)
{
    return "{" + QByteArray::number(record.state) + "," + QByteArray::number(record.x, 'f', 6) + ","
           + QByteArray::number(record.y, 'f', 6) + "," + QByteArray::number(record.pressure) + "}";
}

QByteArray encodeFile(const QVector<TOUCH_INFO_F> &records)
{
    QByteArray file;
    for (int i = 0; i < kFillerSize; ++i)
        file += static_cast<char>(std::rand() % 175 + 33);
    file.append(kHeaderTail, sizeof kHeaderTail);
    for (const TOUCH_INFO_F &record : records) {
        const QByteArray text = recordText(record);
        file += QByteArray::fromStdString(utils::base64_encode(text.constData(), text.size()));
        file += '\n';
    }
    return file;
}

bool decodeFile(const std::string &bytes, PathFile *file)
{
    *file = PathFile();
    if (bytes.size() < size_t(kHeaderSize))
        return false;
    const auto byteAt = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    file->width = byteAt(56) << 8 | byteAt(57);
    file->height = byteAt(58) << 8 | byteAt(59);

    size_t start = kHeaderSize;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        if (end > start) {
            const std::string text = utils::base64_decode(bytes.substr(start, end - start));
            PathPoint point;
            if (parseRecord(QByteArray::fromStdString(text), &point))
                file->points.append(point);
            else
                ++file->skippedLines;
        }
        start = end + 1;
    }
    return true;
}

} // namespace pointpath

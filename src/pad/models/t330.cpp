// T330: a pen tablet that only streams pen reports. It takes no commands; its
// serial number is its USB serial-number string; the driver shows the picture
// on its own signing window.
//
// Pen report, 8 bytes (more are ignored):
//   byte 1   bit 0: pressure bit 0; bit 3: flips y bit 15; bit 4: flips x bit 15
//   2, 3     x, big-endian
//   4, 5     y, big-endian
//   6        pressure bits 10..3
//   7        bits 7, 6: pressure bits 2, 1
// Its buttons are printed on a strip along the bottom edge: the band below
// 7/8 of the height, in thirds from the left: confirm, re-sign, cancel. The
// pen's tip presses them; a hovering pen passes over them.

#include "pad/models/padmodel.h"

namespace {

constexpr int32_t kMaxX = 0x27DD; // 10205
constexpr int32_t kMaxY = 0x1CFD; // 7421

uint16_t bigEndian(const unsigned char *bytes)
{
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

tagTAVREL_PEN_INPUT_REPORT rawToPen(const unsigned char *raw)
{
    tagTAVREL_PEN_INPUT_REPORT pen;
    pen.x = bigEndian(raw + 2) ^ (raw[1] & 0x10 ? 0x8000 : 0);
    pen.y = bigEndian(raw + 4) ^ (raw[1] & 0x08 ? 0x8000 : 0);
    pen.pressure = static_cast<uint16_t>(raw[6] << 3 | (raw[7] >> 6) << 1 | (raw[1] & 1));
    return pen;
}

int32_t buttonAt(int x, int y)
{
    const int width = kMaxX + 1;
    const int height = kMaxY + 1;
    if (y <= height * 7 / 8 || y >= height)
        return kNoButton;
    if (x < width / 3)
        return kConfirm;
    if (x < width * 2 / 3)
        return kReSign;
    if (x < width)
        return kCancel;
    return kNoButton;
}

QVector<TOUCH_INFO> decode(const QByteArray &report)
{
    if (report.size() < kRawPenBytes)
        return {};
    const tagTAVREL_PEN_INPUT_REPORT pen = rawToPen(reinterpret_cast<const unsigned char *>(report.constData()));
    TOUCH_INFO touch;
    touch.x = pen.x;
    touch.y = pen.y;
    touch.pressure = pen.pressure;
    touch.btnId = pen.pressure > 0 ? buttonAt(pen.x, pen.y) : kNoButton;
    return {touch};
}

} // namespace

const PadModel &t330Model()
{
    static const PadModel model = [] {
        PadModel m;
        m.name = "T330";
        m.vid = 0x0B57;
        m.pid = 0x8534;
        m.maxX = kMaxX;
        m.maxY = kMaxY;
        m.pressureLevels = 2048;

        m.serialSource = SerialSource::UsbString;

        m.start = {Transport::None};
        m.signAgain = {Transport::Unsupported};
        m.end = {Transport::None};
        m.afterEnd = AfterEnd::CloseDeviceAndReader;

        m.rawToPen = rawToPen;
        m.decode = decode;
        return m;
    }();
    return model;
}

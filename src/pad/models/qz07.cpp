// QZ07: a pad with its own screen that runs the signing itself, driven by
// short feature reports (report number first, zero-filled):
//   query      00 08 0B, 64 bytes; answered by an input report of up to 128
//              bytes (it starts 08 0B), the serial at bytes 32..41 up to the
//              first zero; empty when the reply is shorter than 33 bytes
//   start      06 01, 10 bytes
//   sign again 06 02, 10 bytes; the pad then holds a 256-byte feature report
//   end        06 04, 10 bytes; the driver closes the pad afterwards
//
// Pen report, 8 bytes (more are ignored), report id 02:
//   0, 1     02 80 in a button report, whose text follows: "CL" re-sign,
//            "CNCL" cancel, "OK" confirm
//   2, 3     x, little-endian
//   4, 5     y, little-endian
//   6, 7     pressure, little-endian; bit 15 is not part of it

#include "pad/models/padmodel.h"

#include <cstring>

namespace {

constexpr unsigned char kPenReportId = 0x02;
constexpr int kSerialAt = 32;
constexpr int kSerialBytes = 10;

uint16_t littleEndian(const unsigned char *bytes)
{
    return static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

// Only a pen or button report (report id 02) the pad had queued is passed
// over; any other report is the answer, whatever its first bytes.
SerialReply readSerial(const QByteArray &reply)
{
    SerialReply answer;
    if (!reply.isEmpty() && static_cast<unsigned char>(reply.at(0)) == kPenReportId) {
        answer.kind = SerialReply::PenReport;
        return answer;
    }
    answer.kind = SerialReply::Serial;
    answer.serial = textUpToFirstZero(reply.mid(kSerialAt, kSerialBytes));
    return answer;
}

// The pressure comes out shifted up one bit; decode() shifts it back.
tagTAVREL_PEN_INPUT_REPORT rawToPen(const unsigned char *raw)
{
    tagTAVREL_PEN_INPUT_REPORT pen;
    pen.x = littleEndian(raw + 2);
    pen.y = littleEndian(raw + 4);
    pen.pressure = static_cast<uint16_t>(littleEndian(raw + 6) << 1);
    return pen;
}

int32_t button(const unsigned char *raw)
{
    if (raw[0] != kPenReportId || raw[1] != 0x80)
        return kNoButton;
    const unsigned char *text = raw + 2;
    if (std::memcmp(text, "CL", 2) == 0)
        return kReSign;
    if (std::memcmp(text, "CNCL", 4) == 0)
        return kCancel;
    if (std::memcmp(text, "OK", 2) == 0)
        return kConfirm;
    return kNoButton;
}

// Every report is one sample; in a button report only btnId means anything.
QVector<TOUCH_INFO> decode(const QByteArray &report)
{
    if (report.size() < kRawPenBytes)
        return {};
    const auto *raw = reinterpret_cast<const unsigned char *>(report.constData());
    const tagTAVREL_PEN_INPUT_REPORT pen = rawToPen(raw);
    TOUCH_INFO touch;
    touch.x = pen.x;
    touch.y = pen.y;
    touch.pressure = pen.pressure >> 1;
    touch.btnId = button(raw);
    return {touch};
}

} // namespace

const PadModel &qz07Model()
{
    static const PadModel model = [] {
        PadModel m;
        m.name = "QZ07";
        m.vid = 0x28BD;
        m.pid = 0x600C;
        m.maxX = 0x27DD;
        m.maxY = 0x1CFD;
        m.pressureLevels = 1024;

        m.serialSource = SerialSource::QueryReply;
        m.query = {Transport::FeatureReport, "00080b", 64};
        m.replyBytes = 128;
        m.readSerial = readSerial;

        m.start = {Transport::FeatureReport, "0601", 10};
        m.signAgain = {Transport::FeatureReport, "0602", 10, 256};
        m.end = {Transport::FeatureReport, "0604", 10};
        m.afterEnd = AfterEnd::CloseDevice;

        m.rawToPen = rawToPen;
        m.decode = decode;
        return m;
    }();
    return model;
}

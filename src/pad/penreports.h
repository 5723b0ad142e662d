#pragma once

// The pen report formats of the three pad models. Each parser takes the
// bytes exactly as the HID read delivers them.

#include "pad/devicetable.h"
#include "pad/touchinfo.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QVector>

#include <cstdint>

// What RawToPen fills from a T330 or QZ07 report.
struct tagTAVREL_PEN_INPUT_REPORT
{
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t pressure = 0;
};

namespace penreports {

enum ButtonId : int32_t { kNoButton = -1, kReSign = 2, kConfirm = 3, kCancel = 4 };

// T330 and QZ07 reports carry one sample in their first 8 bytes; shorter
// reports are dropped.
constexpr int kPenReportBytes = 8;

// T330, 8 bytes:
//   byte 1   bit 0: pressure bit 0; bit 3: flips y bit 15; bit 4: flips x bit 15
//   2, 3     x, big-endian
//   4, 5     y, big-endian
//   6        pressure bits 10..3
//   7        bits 7, 6: pressure bits 2, 1
struct T330Report
{
    explicit T330Report(const unsigned char *raw);
    uint16_t x;
    uint16_t y;
    uint16_t pressure; // 0..2047
};

// The T330's button strip: the band 7/8 down to the bottom edge, split in
// thirds: confirm, re-sign, cancel. kNoButton outside it.
int32_t t330ButtonAt(int x, int y, int width, int height);

// QZ07, 8 bytes:
//   0, 1     02 80 in a button report, whose text follows: "CL", "CNCL", "OK"
//   2, 3     x, little-endian
//   4, 5     y, little-endian
//   6, 7     pressure, little-endian, bit 15 not part of it
struct Qz07Report
{
    explicit Qz07Report(const unsigned char *raw);
    uint16_t x;
    uint16_t y;
    uint16_t pressure; // 0..32767
    int32_t btnId;
};

// The JSON text of a KZ07 report: after the 12 header bytes, up to the
// first zero byte, at most 206 bytes. ok is false when it is not JSON.
QJsonDocument kz07Json(const QByteArray &report, bool *ok);

// KZ07: {"info":[{"x":"120","y":"45","pressure":"310","btnId":"-1"}, ...]};
// every field a decimal integer written as a string, else 0.
struct Kz07Report
{
    explicit Kz07Report(const QByteArray &report);
    QVector<TOUCH_INFO> samples;
};

// Every sample one report of the model at table row `model` carries, in order.
QVector<TOUCH_INFO> decode(int model, const QByteArray &report, const tagDEVICE_INFO &row);

} // namespace penreports

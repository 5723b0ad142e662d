#pragma once

// What the driver knows of one pad model: its ids and extents, the commands
// it takes, and how to read its serial reply and its pen reports. Each model
// is one file in this folder; pad/devicetable.cpp lists them in table order.
// The pad controller (CorvanSign) runs the life cycle the same way for all.

#include "pad/touchinfo.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

// What RawToPen fills from the 8-byte pen layout of a T330 or QZ07 report.
struct tagTAVREL_PEN_INPUT_REPORT
{
    uint16_t x = 0;
    uint16_t y = 0;
    uint16_t pressure = 0;
};

// The bytes the 8-byte pen layout takes; shorter reports carry no sample.
constexpr int kRawPenBytes = 8;

// How a command reaches the pad.
enum class Transport {
    None,          // the action needs no command: nothing is sent
    Unsupported,   // the model cannot do it: status 1003
    FeatureReport, // `payload` is hex text, zero-filled to `reportBytes`; its first byte is the report number
    FramedJson,    // `payload` is JSON text, framed (utils::PackKz7Comm), zero-filled to
                   // `reportBytes` and written as one output report
};

struct PadCommand
{
    Transport transport = Transport::None;
    const char *payload = "";
    int reportBytes = 0;
    // The pad answers with a feature report of this many bytes (report
    // number 0), which is fetched and dropped; 0 for none.
    int dropFeatureReplyBytes = 0;
};

enum class SerialSource {
    UsbString,  // the USB serial-number string
    QueryReply, // the input report that answers `query`
};

// What one input report read while the query's answer is awaited turns out to be.
struct SerialReply
{
    enum Kind {
        PenReport,  // a pen report the pad had queued: not the answer, read on
        Unreadable, // the answer, but it cannot be read: status 1003
        Serial,     // the answer; `serial` may be empty
    };
    Kind kind = Unreadable;
    QString serial;
};

// What ending a signing closes.
enum class AfterEnd { KeepOpen, CloseDevice, CloseDeviceAndReader };

struct PadModel
{
    const char *name = "";
    uint16_t vid = 0;
    uint16_t pid = 0;
    int32_t maxX = 0; // pen coordinates run 0..maxX and 0..maxY
    int32_t maxY = 0;
    uint32_t pressureLevels = 0;

    SerialSource serialSource = SerialSource::UsbString;
    PadCommand query;
    int replyBytes = 0; // the longest answer read
    SerialReply (*readSerial)(const QByteArray &reply) = nullptr;

    PadCommand start;
    PadCommand signAgain;
    PadCommand end;
    AfterEnd afterEnd = AfterEnd::KeepOpen;

    // The raw fields of the 8-byte pen layout; null for a model without it.
    tagTAVREL_PEN_INPUT_REPORT (*rawToPen)(const unsigned char *raw) = nullptr;
    // Every sample one input report carries, in order; the bytes exactly as
    // the HID read delivers them.
    QVector<TOUCH_INFO> (*decode)(const QByteArray &report) = nullptr;
};

// The bytes before the first zero byte, as UTF-8 text.
inline QString textUpToFirstZero(QByteArray bytes)
{
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    return QString::fromUtf8(bytes);
}

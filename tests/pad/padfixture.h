#pragma once

// Shared by the pad controller's tests: a clean process-wide pad state, the
// pad's call log without its reads, and a reader of KZ07 frames as logged.

#include "pad/CorvanSign.h"
#include "pad/utils.h"

#include "support/padsim.h"

#include <QStringList>
#include <QTest>

namespace padfixture {

constexpr quint16 kT330Vid = 0x0b57, kT330Pid = 0x8534;
constexpr quint16 kQz07Vid = 0x28bd, kQz07Pid = 0x600c;
constexpr quint16 kKz07Vid = 0x2207, kKz07Pid = 0x0019;

// The table, flags and serials as a fresh process has them.
inline void resetPadState()
{
    muti_dev.curIndex = -1;
    for (tagDEVICE_INFO &row : muti_dev.devInfo)
        row.serial = "A1B2F9EF786AD889";
    isDeviceOpened = false;
    isStartSignOn = false;
}

// The pad's call log without the reads: the reader polls in short reads.
inline QStringList calls(const PadSim &sim)
{
    QStringList result;
    for (const QString &line : sim.log()) {
        if (!line.startsWith("read "))
            result << line;
    }
    return result;
}

inline QString featureLine(const char *hex, int reportBytes)
{
    QByteArray bytes = QByteArray::fromHex(hex);
    bytes.append(QByteArray(reportBytes - bytes.size(), '\0'));
    return "feature " + QString::fromLatin1(bytes.toHex());
}

// Checks a logged "write HEX" line as one KZ07 command carrying `json`:
// 1025 bytes, report number 0, flag 1, length, CRC, offset 0, zero filler.
// Returns the frame's counter, or -1 (after a failed QVERIFY) when malformed.
inline int kz07Counter(const QString &line, const QByteArray &json)
{
    if (!line.startsWith("write "))
        return -1;
    QByteArray report = QByteArray::fromHex(line.mid(6).toLatin1());
    const auto u16 = [&](int at) { return quint8(report.at(at)) << 8 | quint8(report.at(at + 1)); };
    const int length = 12 + json.size();
    if (report.size() != 1025 || report.at(0) != 0 || u16(3) != 1 || u16(5) != length
        || report.mid(9, 4) != QByteArray(4, '\0') || report.mid(13, json.size()) != json
        || report.mid(1 + length) != QByteArray(1025 - 1 - length, '\0'))
        return -1;
    QByteArray checked = report.mid(1, length);
    checked[6] = checked[7] = 0;
    if (utils::CRC16_USB(reinterpret_cast<unsigned char *>(checked.data()), checked.size()) != u16(7))
        return -1;
    return u16(1);
}

inline const QByteArray kKz07Query = R"({"func":"GetDeviceInfo"})";
inline const QByteArray kKz07Start = R"({"func":"SetCmdToDevice", "flag":"1"})";
inline const QByteArray kKz07SignAgain = R"({"func":"SetCmdToDevice", "flag":"2"})";
inline const QByteArray kKz07End = R"({"func":"SetCmdToDevice", "flag":"3"})";

// A KZ07 input report: header, then the text.
inline QString kz07ReplyHex(const QByteArray &text)
{
    QByteArray report = QByteArray::fromHex("000100010000000000000000") + text;
    return QString::fromLatin1(report.toHex());
}

} // namespace padfixture

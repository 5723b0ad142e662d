#include "pad/utils.h"

#include <QDebug>

#include <array>
#include <atomic>
#include <cstdint>

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

constexpr std::array<uint16_t, 256> makeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t reg = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : static_cast<uint16_t>(reg >> 1);
        table[i] = reg;
    }
    return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();

// The frame header's fixed fields; only the counter changes between frames.
std::atomic<uint16_t> cmdid{0};
constexpr uint16_t kFlag = 1;
constexpr uint16_t kCrcPlaceholder = 0;
constexpr uint32_t kOffset = 0;
constexpr int kHeaderBytes = 12;

QString hexField(uint32_t value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0'));
}

} // namespace

namespace utils {

QByteArray HexStringToByteArray(QString hex)
{
    QByteArray bytes;
    if (hex.size() % 2 != 0)
        return bytes;
    bytes.reserve(hex.size() / 2);
    for (int i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex.at(i));
        const int low = hexDigit(hex.at(i + 1));
        bytes.append(high < 0 || low < 0 ? '\0' : static_cast<char>(high << 4 | low));
    }
    return bytes;
}

unsigned short CRC16_USB(unsigned char *data, int length)
{
    if (length <= 0)
        return 0;
    uint16_t reg = 0xFFFF;
    for (int i = 0; i < length; ++i)
        reg = static_cast<uint16_t>((reg >> 8) ^ kCrcTable[(data[i] ^ reg) & 0xFF]);
    return static_cast<unsigned short>(reg ^ 0xFFFF);
}

QByteArray PackKz7Comm(QString hexPayload)
{
    const int payloadBytes = HexStringToByteArray(hexPayload).size();
    const uint16_t length = static_cast<uint16_t>(payloadBytes + kHeaderBytes);
    const uint16_t id = ++cmdid;

    const QString withoutCrc = hexField(id, 4) + hexField(kFlag, 4) + hexField(length, 4)
        + hexField(kCrcPlaceholder, 4) + hexField(kOffset, 8) + hexPayload;
    QByteArray checked = HexStringToByteArray(withoutCrc);
    const uint16_t crc = CRC16_USB(reinterpret_cast<unsigned char *>(checked.data()), checked.size());

    const QString frame = QStringLiteral("00") + hexField(id, 4) + hexField(kFlag, 4)
        + hexField(length, 4) + hexField(crc, 4) + hexField(kOffset, 8) + hexPayload;
    qDebug().noquote() << " pack== " + frame;
    return HexStringToByteArray(frame);
}

} // namespace utils

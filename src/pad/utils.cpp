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
constexpr uint32_t kOffset = 0;
constexpr int kHeaderBytes = 12;

void putBigEndian(QByteArray &bytes, int at, uint32_t value, int size)
{
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        bytes[at + i] = static_cast<char>(value & 0xFF);
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
    const uint16_t id = ++cmdid;
    // An odd-length text carries no payload and gives no frame, yet uses up its number.
    const bool whole = hexPayload.size() % 2 == 0;
    const QByteArray payload = HexStringToByteArray(hexPayload);
    const uint16_t length = static_cast<uint16_t>(payload.size() + kHeaderBytes);

    QByteArray frame(1 + kHeaderBytes, '\0'); // report number 0, then the header
    putBigEndian(frame, 1, id, 2);
    putBigEndian(frame, 3, kFlag, 2);
    putBigEndian(frame, 5, length, 2);
    putBigEndian(frame, 9, kOffset, 4);
    frame += payload;
    // Over the header with its CRC field still zero, then the payload.
    const uint16_t crc = whole ? CRC16_USB(reinterpret_cast<unsigned char *>(frame.data() + 1), frame.size() - 1) : 0;
    putBigEndian(frame, 7, crc, 2);

    qDebug().noquote() << " pack== " + QString::fromLatin1(frame.left(1 + kHeaderBytes).toHex()) + hexPayload;
    return whole ? frame : QByteArray();
}

} // namespace utils

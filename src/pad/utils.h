#pragma once

// Hexadecimal text, CRC-16/USB and the KZ07 command frame.

#include <QByteArray>
#include <QString>

namespace utils {

// Two hex digits per byte, either case. Odd length gives an empty array;
// a pair that is not hexadecimal gives 0x00.
QByteArray HexStringToByteArray(QString hex);

// CRC-16/USB (poly 0x8005 reflected, init 0xFFFF, final XOR 0xFFFF).
unsigned short CRC16_USB(unsigned char *data, int length);

// One KZ07 frame for a payload given as hex text: report number 0x00, then
// the 12-byte header (cmdid, flag 1, length, CRC, offset 0; big-endian),
// then the payload. Advances the process-wide frame counter.
QByteArray PackKz7Comm(QString hexPayload);

} // namespace utils

// The KZ07 command frame built around a payload, and the hex text it is
// given as; the frame must be one the pad accepts whatever the payload.
#include "fuzzer.h"
#include "pad/utils.h"

#include <cstddef>
#include <cstdint>

namespace {
unsigned be16(const QByteArray &bytes, int at)
{
    return unsigned(uint8_t(bytes[at])) << 8 | uint8_t(bytes[at + 1]);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), int(size));

    // Arbitrary text where hex is expected: never more bytes than pairs.
    const QByteArray fromText = utils::HexStringToByteArray(QString::fromLatin1(raw.constData(), raw.size()));
    FUZZ_EXPECT(fromText.size() == (raw.size() % 2 ? 0 : raw.size() / 2));

    // A payload longer than the length field can carry is not a frame at all.
    const QByteArray payload = raw.left(1024 - 12);
    QByteArray frame = utils::PackKz7Comm(QString::fromLatin1(payload.toHex()));
    FUZZ_EXPECT(frame.size() == 1 + 12 + payload.size());
    FUZZ_EXPECT(frame.at(0) == char(0));
    FUZZ_EXPECT(frame.mid(13) == payload);
    FUZZ_EXPECT(be16(frame, 3) == 1);
    FUZZ_EXPECT(be16(frame, 5) == unsigned(12 + payload.size()));
    const unsigned crc = be16(frame, 7);
    frame[7] = 0;
    frame[8] = 0;
    FUZZ_EXPECT(crc == utils::CRC16_USB(reinterpret_cast<unsigned char *>(frame.data()) + 1, frame.size() - 1));
    return 0;
}

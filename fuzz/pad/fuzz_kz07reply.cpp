// The KZ07's answer to a query: the JSON text after the header carries the serial.
#include "fuzzer.h"
#include "pad/devicetable.h"
#include "pad/models/padmodel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), int(size));
    const SerialReply answer = padModel(2).readSerial(reply);
    if (answer.kind != SerialReply::Serial)
        FUZZ_EXPECT(answer.serial.isEmpty());
    // Nothing beyond the 206 bytes of text is ever read.
    FUZZ_EXPECT(answer.serial.size() <= 206);
    return 0;
}

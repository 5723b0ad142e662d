// One KZ07 input report: the 12-byte header, then JSON text.
#include "fuzzer.h"
#include "pad/devicetable.h"
#include "pad/models/padmodel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray report(reinterpret_cast<const char *>(data), int(size));
    const QVector<TOUCH_INFO> samples = padModel(2).decode(report);
    // At most 206 bytes of text: no more samples than fit in it.
    FUZZ_EXPECT(samples.size() <= 206 / 2);
    if (size <= 12)
        FUZZ_EXPECT(samples.isEmpty());
    return 0;
}

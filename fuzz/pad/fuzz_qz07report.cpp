// One QZ07 pen report, exactly as the HID read delivers it.
#include "fuzzer.h"
#include "pad/devicetable.h"
#include "pad/models/padmodel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray report(reinterpret_cast<const char *>(data), int(size));
    const QVector<TOUCH_INFO> samples = padModel(1).decode(report);
    FUZZ_EXPECT(samples.size() == (size >= size_t(kRawPenBytes) ? 1 : 0));
    for (const TOUCH_INFO &touch : samples) {
        FUZZ_EXPECT(touch.pressure >= 0 && touch.pressure <= 32767);
        FUZZ_EXPECT(touch.btnId == kNoButton || touch.btnId == kReSign
                    || touch.btnId == kConfirm || touch.btnId == kCancel);
    }
    return 0;
}

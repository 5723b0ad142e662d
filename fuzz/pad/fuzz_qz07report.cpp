// One QZ07 pen report, exactly as the HID read delivers it.
#include "fuzzer.h"
#include "pad/penreports.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray report(reinterpret_cast<const char *>(data), int(size));
    const QVector<TOUCH_INFO> samples = penreports::decode(1, report, muti_dev.devInfo[1]);
    FUZZ_EXPECT(samples.size() == (size >= size_t(penreports::kPenReportBytes) ? 1 : 0));
    for (const TOUCH_INFO &touch : samples) {
        FUZZ_EXPECT(touch.pressure >= 0 && touch.pressure <= 32767);
        FUZZ_EXPECT(touch.btnId == penreports::kNoButton || touch.btnId == penreports::kReSign
                    || touch.btnId == penreports::kConfirm || touch.btnId == penreports::kCancel);
    }
    return 0;
}

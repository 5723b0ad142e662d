#pragma once

#include <QMetaType>
#include <cstdint>

// One decoded pen sample: x, y and pressure exactly as the pad reported them.
// btnId is -1 for a plain sample, 2 re-sign, 3 confirm and 4 cancel (the
// pad's buttons). timeNs is when the pad took it, as the reader tells
// (SampleClock): nanoseconds on the monotonic clock, 0 when not stamped.
struct tagTOUCH_INFO
{
    int32_t x = 0;
    int32_t y = 0;
    int32_t pressure = 0;
    int32_t btnId = -1;
    int64_t timeNs = 0;
};
using TOUCH_INFO = tagTOUCH_INFO;

Q_DECLARE_METATYPE(tagTOUCH_INFO)

// The values of btnId.
enum ButtonId : int32_t { kNoButton = -1, kReSign = 2, kConfirm = 3, kCancel = 4 };

#pragma once

#include <cstdint>

// One recorded path point on the ink canvas. state: 1 stroke start,
// 2 stroke point, 3 stroke end (0 only for the all-zero record before any ink).
struct TOUCH_INFO_F
{
    float x = 0.0f;
    float y = 0.0f;
    int32_t pressure = 0;
    int32_t state = 0;
};

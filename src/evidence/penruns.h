#pragma once

#include "pad/touchinfo.h"

#include <QByteArray>
#include <QVector>

#include <cstdint>

// The pen samples of a signature cut into runs: pen-down strokes (pressure
// above 0) and the hover between them (pressure 0, where the pad reports
// the pen in the air).
namespace penruns {

struct Run
{
    bool penDown = false;
    int first = 0; // index of its first sample
    int count = 0;
};

QVector<Run> split(const QVector<TOUCH_INFO> &samples);

// Milliseconds from `startNs` to `timeNs` with three decimals ("12.345"):
// microsecond resolution, whatever the locale.
QByteArray millisecondsSince(int64_t startNs, int64_t timeNs);

} // namespace penruns

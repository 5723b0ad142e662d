#pragma once

#include "evidence/evidencerequest.h"
#include "pad/devicetable.h"
#include "pad/touchinfo.h"

#include <QDateTime>
#include <QMetaType>
#include <QVector>

#include <cstdint>

// What a confirmed signing hands to its save besides the canvas: the page's
// request, the pad, and every pen sample the canvas was given since the
// signing (or its last re-sign) began, as the pad reported it and stamped
// when it was taken.
struct EvidenceCapture
{
    EvidenceRequest request;
    tagDEVICE_INFO pad;
    QVector<TOUCH_INFO> samples;
    QDateTime startedUtc;   // when the recorded signature began
    int64_t startedNs = 0;  // the same moment on the monotonic clock
    QDateTime confirmedUtc; // when its confirm was taken
};

Q_DECLARE_METATYPE(EvidenceCapture)

#pragma once

#include "evidence/evidencecapture.h"

#include <QByteArray>
#include <QJsonObject>

// sign.json: the pen samples of a signature for JavaScript:
//   {"version":1,
//    "pad":{"model","manufacturer","vid","pid","serial","xRange":[min,max],
//           "yRange":[min,max],"pressureRange":[min,max]},
//    "canvas":{"width","height"},
//    "strokes":[[{"x","y","p","t"},...],...],
//    "hover":[[{"x","y","p","t"},...],...]}
// Points in pad units with the raw pressure; "t" in milliseconds since the
// first sample (microsecond resolution). "strokes" are the pen-down strokes,
// "hover" the samples with the pen in the air between them.
namespace signjson {

QByteArray encode(const EvidenceCapture &capture, int canvasWidth, int canvasHeight);

// The pad as sign.json and the manifest describe it.
QJsonObject padObject(const tagDEVICE_INFO &pad);

} // namespace signjson

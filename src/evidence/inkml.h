#pragma once

#include "evidence/evidencecapture.h"

#include <QByteArray>

// sign.inkml: the pen samples of a signature as W3C InkML 1.0. One context
// describes the pad (maker, model, serial, USB ids) and its trace format:
// X and Y in pad units, F the raw pressure, T in milliseconds since the
// first sample (microsecond resolution), each channel with the pad's range.
// A timestamp gives the first sample's time in UTC. Each pen-down stroke is
// one trace; the hover between strokes, where the pad reports it, is a
// trace of type penUp.
namespace inkml {

constexpr const char *kNamespace = "http://www.w3.org/2003/InkML";

QByteArray encode(const EvidenceCapture &capture);

} // namespace inkml

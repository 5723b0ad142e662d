#pragma once

#include "evidence/evidencecapture.h"

#include <optional>

// Keeps, in the GUI thread, what the pen data of a signing needs: the
// page's "2102" request and the samples drawn.
//
// A request applies to the signing that runs, or else to the next one to
// start, and ends with that signing's confirm or cancel; a later request
// replaces it. Samples are kept for every signing (a request may come in the
// middle of one) and dropped at its re-sign, confirm or cancel.
class EvidenceRecorder
{
public:
    void request(const EvidenceRequest &request);
    bool hasRequest() const { return m_request.has_value(); }

    // A signing started on `pad`.
    void signingStarted(const tagDEVICE_INFO &pad);
    // Its ink was cleared: the signature starts again.
    void signingRestarted();
    // A pen sample the canvas was given.
    void sample(const TOUCH_INFO &sample);
    // A confirm: what its save writes when a request applies to the running
    // signing. The signing and its request end either way.
    std::optional<EvidenceCapture> confirm();
    // A cancel: the signing and its request end.
    void cancel();

private:
    void restart();

    std::optional<EvidenceRequest> m_request;
    bool m_signing = false;
    tagDEVICE_INFO m_pad;
    QVector<TOUCH_INFO> m_samples;
    QDateTime m_startedUtc;
    int64_t m_startedNs = 0;
};

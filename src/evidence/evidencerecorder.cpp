#include "evidence/evidencerecorder.h"

#include "pad/sampleclock.h"

#include <QDebug>

#include <utility>

namespace {
QString describe(const EvidenceRequest &request)
{
    return QStringLiteral("formats [%1]%2")
        .arg(request.formatNames().join(QLatin1Char(',')),
             request.hasDocument ? QStringLiteral(", document ") + request.documentSha256 : QString());
}
} // namespace

void EvidenceRecorder::request(const EvidenceRequest &request)
{
    if (m_request)
        qInfo().noquote() << "pen data request replaced: was" << describe(*m_request) << "- now" << describe(request);
    else
        qInfo().noquote() << "pen data requested:" << describe(request);
    m_request = request;
}

void EvidenceRecorder::signingStarted(const tagDEVICE_INFO &pad)
{
    m_signing = true;
    m_pad = pad;
    restart();
}

void EvidenceRecorder::signingRestarted()
{
    restart();
}

void EvidenceRecorder::restart()
{
    m_samples.clear();
    m_startedUtc = QDateTime::currentDateTimeUtc();
    m_startedNs = monotonicNs();
}

void EvidenceRecorder::sample(const TOUCH_INFO &sample)
{
    if (!m_signing)
        return;
    m_samples.append(sample);
    // A sample that did not come through the pad's reader is stamped as it is drawn.
    if (sample.timeNs == 0)
        m_samples.last().timeNs = monotonicNs();
}

std::optional<EvidenceCapture> EvidenceRecorder::confirm()
{
    std::optional<EvidenceCapture> capture;
    if (m_signing && m_request) {
        capture = EvidenceCapture{*m_request, m_pad, std::exchange(m_samples, {}), m_startedUtc, m_startedNs,
                                  QDateTime::currentDateTimeUtc()};
        m_request.reset();
    }
    m_signing = false;
    m_samples.clear();
    return capture;
}

void EvidenceRecorder::cancel()
{
    if (m_signing && m_request) {
        qInfo() << "pen data request ends with the cancelled signing";
        m_request.reset();
    }
    m_signing = false;
    m_samples.clear();
}

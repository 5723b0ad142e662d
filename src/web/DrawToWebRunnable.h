#pragma once

#include "evidence/evidencecapture.h"
#include "ink/palettecanvas.h"
#include "web/livepictureencoder.h"
#include "web/savedsignature.h"

#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <mutex>
#include <optional>

class DrawJobs;
class ZqDraw;

// The draw-to-web worker. It lives in a thread of its own and carries out one
// job per drawToWeb() emission, in order: a snapshot of the ink sent to the
// pages, or the canvas side of re-sign, confirm and cancel. The GUI thread
// never encodes pictures.
class DrawToWebRunnable : public QObject
{
    Q_OBJECT
public:
    explicit DrawToWebRunnable(DrawJobs *jobs, QObject *parent = nullptr);

    // Any thread, once before each confirm job is requested: what that job
    // saves beside the canvas's pair (nothing when empty). Confirm jobs take
    // them in the order they were requested.
    void attachToNextConfirm(std::optional<EvidenceCapture> capture);

signals:
    // After the job of a command (2 re-sign, 3 confirm, 4 cancel) has sent
    // its blank picture; `saved` tells what a confirm wrote.
    void commandDone(int flag, const SavedSignature &saved);

public slots:
    void OnDrawToWeb();

private:
    std::optional<EvidenceCapture> takeCapture();
    SavedSignature saveSignature(ZqDraw *canvas, const std::optional<EvidenceCapture> &capture);
    QByteArray livePicture(ZqDraw *canvas);

    DrawJobs *m_jobs;
    std::mutex m_capturesMutex;
    std::deque<std::optional<EvidenceCapture>> m_captures; // guarded by m_capturesMutex
    // The worker's copy of the canvas's palette rows and the encoder that
    // keeps their compressed bands: both live from one picture to the next.
    PaletteCanvas m_paletteRows;
    LivePictureEncoder m_encoder;
    QElapsedTimer m_sinceLivePicture; // valid once a live picture was sent
};

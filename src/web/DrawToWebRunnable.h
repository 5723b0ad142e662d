#pragma once

#include "ink/palettecanvas.h"
#include "web/livepictureencoder.h"
#include "web/savedsignature.h"

#include <QElapsedTimer>
#include <QObject>

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

signals:
    // After the job of a command (2 re-sign, 3 confirm, 4 cancel) has sent
    // its blank picture; `saved` tells what a confirm wrote.
    void commandDone(int flag, const SavedSignature &saved);

public slots:
    void OnDrawToWeb();

private:
    SavedSignature saveSignature(ZqDraw *canvas);
    QByteArray livePicture(ZqDraw *canvas);

    DrawJobs *m_jobs;
    // The worker's copy of the canvas's palette rows and the encoder that
    // keeps their compressed bands: both live from one picture to the next.
    PaletteCanvas m_paletteRows;
    LivePictureEncoder m_encoder;
    QElapsedTimer m_sinceLivePicture; // valid once a live picture was sent
};

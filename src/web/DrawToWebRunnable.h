#pragma once

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
    // A confirm's signature could not be written (logged with the reason).
    void saveFailed();

public slots:
    void OnDrawToWeb();

private:
    void saveSignature(ZqDraw *canvas);

    DrawJobs *m_jobs;
};

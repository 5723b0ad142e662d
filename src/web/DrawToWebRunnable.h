#pragma once

#include <QObject>

class DrawJobs;

// The draw-to-web worker. It lives in a thread of its own and carries out one
// job per drawToWeb() emission, in order: a snapshot of the ink sent to the
// pages, or the canvas side of re-sign, confirm and cancel. The GUI thread
// never encodes pictures.
class DrawToWebRunnable : public QObject
{
    Q_OBJECT
public:
    explicit DrawToWebRunnable(DrawJobs *jobs, QObject *parent = nullptr);

public slots:
    void OnDrawToWeb();

private:
    DrawJobs *m_jobs;
};

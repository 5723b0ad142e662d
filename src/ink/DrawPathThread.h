#pragma once

#include <QThread>

// Replays the path text of the last replay request on the canvas, once.
// The main window starts one at a time (see MainWindow::startPathReplay).
class DrawPathThread : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;

protected:
    void run() override;
};

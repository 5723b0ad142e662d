#pragma once

#include <QThread>

// The pad's reader: reads input reports while a signing runs and hands each
// to the controller's decoder, whose samples leave this thread queued.
class InputDataThread : public QThread
{
    Q_OBJECT
public:
    // Each read waits at most this long, so a finished signing, a closed
    // pad or an interruption request ends the thread promptly.
    static constexpr int kReadTimeoutMs = 100;
    static constexpr int kReportBytes = 1256;

    using QThread::QThread;

protected:
    void run() override;
};

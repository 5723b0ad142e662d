#pragma once

#include <QThread>

#include <condition_variable>
#include <mutex>

// The pad's reader: reads input reports while a signing runs and hands each
// to the controller's decoder, whose samples leave this thread queued.
//
// Each read waits for the pad's next report, but never longer than
// kReadWaitMs, so a sample is handed on the moment it arrives and ending a
// signing never waits out a read. A failed read is retried while the pad is
// open; when reads keep failing, readFailed() is emitted and the thread ends.
class InputDataThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kReportBytes = 1256;
    // The longest a read waits for a report: how soon a stop is noticed.
    static constexpr int kReadWaitMs = 2;
    // Reads keep failing this long before the signing is given up.
    static constexpr int kRetryForMs = 2000;
    static constexpr int kRetryPauseMs = 50;

    using QThread::QThread;

    // Any thread: ends the thread promptly. start() begins a fresh run.
    void stop();

signals:
    void readFailed();

protected:
    void run() override;

private:
    bool stopping() const;
    // Sleeps up to `ms` unless stop() comes first; false once stopping.
    bool pause(int ms);

    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_stop = false;
};

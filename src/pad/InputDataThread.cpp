#include "pad/InputDataThread.h"

#include "pad/CorvanSign.h"
#include "pad/sampleclock.h"
#include "usb/qhiddevice.h"

#include <QDebug>
#include <QElapsedTimer>

#include <chrono>

void InputDataThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_woken.notify_all();
}

bool InputDataThread::stopping() const
{
    return isInterruptionRequested() || !isDeviceOpened || !isStartSignOn;
}

bool InputDataThread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_woken.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
    return !m_stop && !stopping();
}

void InputDataThread::run()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
    }
    QByteArray report(kReportBytes, '\0');
    QElapsedTimer failing; // valid while reads fail
    for (;;) {
        if (stopping())
            break;
        int result = -1;
        {
            std::lock_guard<std::mutex> lock(hidReadMutex);
            QHidDevice *dev = m_hid_dev;
            // Checked again under the lock: a close may have come meanwhile.
            if (!dev || stopping())
                break;
            result = dev->read(&report, kReportBytes, kReadWaitMs);
        }
        if (result > 0) {
            const int64_t readNs = monotonicNs(); // before decoding: the time the pad's report came
            failing.invalidate();
            if (CorvanSign *sign = mCorvanSign)
                sign->paseInputdataToTouchInfo(report, readNs);
            continue;
        }
        if (result == 0) {
            failing.invalidate();
            continue;
        }
        if (!failing.isValid()) {
            qWarning() << "pad read failed; retrying";
            failing.start();
        }
        if (failing.elapsed() >= kRetryForMs) {
            emit readFailed();
            break;
        }
        if (!pause(kRetryPauseMs))
            break;
    }
    qDebug() << "xxxxxInputDataThread---结束： ";
}

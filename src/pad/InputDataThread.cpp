#include "pad/InputDataThread.h"

#include "pad/CorvanSign.h"
#include "usb/qhiddevice.h"

#include <QDebug>

void InputDataThread::run()
{
    QByteArray report(kReportBytes, '\0');
    for (;;) {
        if (isInterruptionRequested() || !isDeviceOpened || !isStartSignOn)
            break;
        int result = -1;
        {
            std::lock_guard<std::mutex> lock(hidReadMutex);
            QHidDevice *dev = m_hid_dev;
            // Checked again under the lock: a close may have come meanwhile.
            if (!dev || !isDeviceOpened || !isStartSignOn)
                break;
            result = dev->read(&report, kReportBytes, kReadTimeoutMs);
        }
        if (result < 0 || !isStartSignOn)
            break;
        if (result > 0) {
            if (CorvanSign *sign = mCorvanSign)
                sign->paseInputdataToTouchInfo(report);
        }
    }
    qDebug() << "xxxxxInputDataThread---结束： ";
}

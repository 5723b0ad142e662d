#include "usb/qhiddevice.h"

#include <QElapsedTimer>

#include <hidapi.h>

#include <algorithm>
#include <vector>

QHidDevice::QHidDevice(QObject *parent) : QObject(parent)
{
    hid_init();
}

QHidDevice::~QHidDevice()
{
    // A handle left open would keep the interface claimed until the process ends.
    close();
}

bool QHidDevice::open(unsigned short vid, unsigned short pid, const QString *serial)
{
    hid_device *handle = nullptr;
    if (serial && !serial->isEmpty()) {
        const QVector<uint> codePoints = serial->toUcs4();
        std::vector<wchar_t> wide(codePoints.begin(), codePoints.end());
        wide.push_back(L'\0');
        handle = hid_open(vid, pid, wide.data());
    } else {
        handle = hid_open(vid, pid, nullptr);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handle = handle;
    return handle != nullptr;
}

void QHidDevice::close()
{
    hid_device *handle = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_handle || m_closing)
            return;
        m_closing = true;
        m_idle.wait(lock, [this] { return m_users == 0; });
        handle = m_handle;
        m_handle = nullptr;
        m_closing = false;
    }
    hid_close(handle);
}

bool QHidDevice::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handle && !m_closing;
}

hid_device_ *QHidDevice::acquire()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_handle || m_closing)
        return nullptr;
    ++m_users;
    return m_handle;
}

void QHidDevice::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_users == 0)
        m_idle.notify_all();
}

int QHidDevice::write(const QByteArray *data, int len)
{
    if (len == -1)
        len = data->size();
    hid_device *handle = acquire();
    if (!handle)
        return -1;
    const int result = hid_write(handle, reinterpret_cast<const unsigned char *>(data->constData()),
                                 static_cast<size_t>(len));
    release();
    return result;
}

int QHidDevice::read(QByteArray *data, int len, int timeout)
{
    if (len == -1)
        len = data->size();
    data->fill('\0', len);
    hid_device *handle = acquire();
    if (!handle) {
        data->clear();
        return -1;
    }
    QElapsedTimer waited;
    waited.start();
    int result = 0;
    for (;;) {
        const int left = timeout < 0 ? kReadSliceMs : static_cast<int>(std::max<qint64>(0, timeout - waited.elapsed()));
        result = hid_read_timeout(handle, reinterpret_cast<unsigned char *>(data->data()), static_cast<size_t>(len),
                                  std::min(left, kReadSliceMs));
        if (result != 0 || (timeout >= 0 && waited.elapsed() >= timeout))
            break;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closing) {
            result = -1;   // closed from another thread while waiting
            break;
        }
    }
    release();
    data->resize(std::max(result, 0));
    return result;
}

int QHidDevice::sendFeatureReport(const QByteArray *data, int len)
{
    if (len == -1)
        len = data->size();
    hid_device *handle = acquire();
    if (!handle)
        return -1;
    const int result = hid_send_feature_report(handle, reinterpret_cast<const unsigned char *>(data->constData()),
                                               static_cast<size_t>(len));
    release();
    return result;
}

int QHidDevice::getFeatureReport(QByteArray *data, int len)
{
    if (len == -1)
        len = data->size();
    data->fill('\0', len);   // so the request names report 0
    hid_device *handle = acquire();
    if (!handle)
        return -1;
    const int result = hid_get_feature_report(handle, reinterpret_cast<unsigned char *>(data->data()),
                                              static_cast<size_t>(len));
    release();
    return result;
}

QString QHidDevice::deviceString(DeviceString which)
{
    hid_device *handle = acquire();
    if (!handle)
        return QString::fromLocal8Bit("Device Closed");
    constexpr size_t kMax = 50;
    wchar_t buffer[kMax] = {};
    int result = -1;
    switch (which) {
    case DeviceString::Serial: result = hid_get_serial_number_string(handle, buffer, kMax); break;
    case DeviceString::Manufacturer: result = hid_get_manufacturer_string(handle, buffer, kMax); break;
    case DeviceString::Product: result = hid_get_product_string(handle, buffer, kMax); break;
    }
    release();
    if (result < 0)
        return QString();
    buffer[kMax - 1] = L'\0';
    size_t length = 0;
    while (length < kMax - 1 && buffer[length] != L'\0')
        ++length;
    return QString::fromUcs4(reinterpret_cast<const uint *>(buffer), static_cast<int>(length));
}

QString QHidDevice::serialNumber()
{
    return deviceString(DeviceString::Serial);
}

QString QHidDevice::manufacturer()
{
    return deviceString(DeviceString::Manufacturer);
}

QString QHidDevice::product()
{
    return deviceString(DeviceString::Product);
}

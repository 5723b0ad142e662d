#pragma once

// The pad's HID interface: output, input and feature reports and the device
// strings, each one hidapi call whose result is handed back unchanged.
//
// close() may come from another thread while a read waits: the read then
// returns -1, and the handle is released only once no call is inside hidapi
// any more (hidapi frees it in hid_close, under a waiting reader). Long reads
// therefore wait in short slices, checking between them whether to stop.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>

struct hid_device_;

class QHidDevice : public QObject
{
    Q_OBJECT

public:
    explicit QHidDevice(QObject *parent = nullptr);
    ~QHidDevice() override;

    bool open(unsigned short vid, unsigned short pid, const QString *serial = nullptr);
    void close();
    bool isOpen() const;

    // Each returns hidapi's result, or -1 while the device is closed.
    int write(const QByteArray *data, int len = -1);
    int read(QByteArray *data, int len = -1, int timeout = -1);
    int sendFeatureReport(const QByteArray *data, int len = -1);
    int getFeatureReport(QByteArray *data, int len = -1);

    // "Device Closed" while closed; empty when hidapi fails; at most 49 characters.
    QString serialNumber();
    QString manufacturer();
    QString product();

    // The longest single wait inside hidapi, so that close() is never held up longer.
    static constexpr int kReadSliceMs = 100;

private:
    enum class DeviceString { Serial, Manufacturer, Product };
    hid_device_ *acquire();     // the handle with one more user, or null
    void release();
    QString deviceString(DeviceString which);

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    hid_device_ *m_handle = nullptr;   // guarded by m_mutex
    int m_users = 0;                   // calls inside hidapi now; guarded by m_mutex
    bool m_closing = false;            // guarded by m_mutex
};

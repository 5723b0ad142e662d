#pragma once

// The USB hot-plug monitor: tells when a USB device comes or goes, and lists
// what is attached now (every USB device with its bus and port, then every
// HID interface once more with bus 0 and port 0).

#include <QList>
#include <QObject>
#include <QString>

struct libusb_context;
class QThread;
class QTimer;

class QUsb : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QUsb::LogLevel logLevel READ logLevel WRITE setLogLevel)

public:
    typedef quint8 LogLevel;

    struct Id
    {
        Id(quint16 pid = 0, quint16 vid = 0, quint8 bus = 255, quint8 port = 255, quint8 deviceClass = 0,
           quint8 deviceSubclass = 0);
        bool operator==(const Id &other) const;
        bool operator!=(const Id &other) const { return !(*this == other); }
        operator QString() const;

        quint16 pid;
        quint16 vid;
        quint8 bus;            // 255: any bus
        quint8 port;           // 255: any port
        quint8 deviceClass;
        quint8 deviceSubclass;
    };

    struct Config
    {
        Config(quint8 config = 1, quint8 interface = 0, quint8 alternate = 0);
        bool operator==(const Config &other) const;
        bool operator!=(const Config &other) const { return !(*this == other); }
        operator QString() const;

        quint8 config;
        quint8 interface;
        quint8 alternate;
    };

    typedef QList<Id> IdList;
    typedef QList<Config> ConfigList;

    explicit QUsb(QObject *parent = nullptr);
    ~QUsb() override;

    static IdList devices();
    int findDevice(const Id &id, const IdList &list) const;
    bool isPresent(const Id &id) const;

    LogLevel logLevel() const { return m_logLevel; }
    void setLogLevel(LogLevel level);

signals:
    void deviceInserted(QUsb::Id id);
    void deviceRemoved(QUsb::Id id);

public slots:
    bool addDevice(const QUsb::Id &id);
    bool removeDevice(const QUsb::Id &id);

protected slots:
    void monitorDevices(const QUsb::IdList &list);
    void checkDevices();

private:
    bool traced() const { return m_logLevel > 3; }

    LogLevel m_logLevel;
    IdList m_list;          // the watch list: kept for callers, filters nothing
    IdList m_systemList;    // what the last poll saw
    bool m_hasHotplug = false;
    libusb_context *m_ctx = nullptr;
    QTimer *m_timer;
    QThread *m_thread = nullptr;
};

Q_DECLARE_METATYPE(QUsb::Id)
Q_DECLARE_METATYPE(QUsb::Config)
Q_DECLARE_METATYPE(QUsb::IdList)
Q_DECLARE_METATYPE(QUsb::ConfigList)

#include "usb/qusb.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

#include <hidapi.h>
#include <libusb.h>

// The registration of the one hot-plug callback of the process.
static libusb_hotplug_callback_handle callbackHandle = 0;
static bool callbackRegistered = false;

#define USB_TRACE(level) \
    do { \
        if ((level) > 3) \
            qDebug() << "***[" << Q_FUNC_INFO << "]***"; \
    } while (false)

QUsb::Id::Id(quint16 pid_, quint16 vid_, quint8 bus_, quint8 port_, quint8 deviceClass_, quint8 deviceSubclass_)
    : pid(pid_), vid(vid_), bus(bus_), port(port_), deviceClass(deviceClass_), deviceSubclass(deviceSubclass_)
{
}

bool QUsb::Id::operator==(const Id &other) const
{
    return pid == other.pid && vid == other.vid && bus == other.bus && port == other.port &&
           deviceClass == other.deviceClass && deviceSubclass == other.deviceSubclass;
}

QUsb::Id::operator QString() const
{
    return QString("Id(Vid: %1, Pid: %2, Bus: %3, Port: %4, Class: %5, Subclass: %6)")
        .arg(vid, 4, 16, QChar('0'))
        .arg(pid, 4, 16, QChar('0'))
        .arg(bus)
        .arg(port)
        .arg(deviceClass)
        .arg(deviceSubclass);
}

QUsb::Config::Config(quint8 config_, quint8 interface_, quint8 alternate_)
    : config(config_), interface(interface_), alternate(alternate_)
{
}

bool QUsb::Config::operator==(const Config &other) const
{
    return config == other.config && interface == other.interface && alternate == other.alternate;
}

QUsb::Config::operator QString() const
{
    return QString("Config(Config: %1, Interface: %2, Alternate: %3)").arg(config).arg(interface).arg(alternate);
}

static int LIBUSB_CALL hotplugCallback(libusb_context *ctx, libusb_device *device, libusb_hotplug_event event,
                                       void *userData)
{
    Q_UNUSED(ctx)
    auto *usb = static_cast<QUsb *>(userData);
    USB_TRACE(usb->logLevel());
    const quint8 bus = libusb_get_bus_number(device);
    const quint8 port = libusb_get_port_number(device);
    if (usb->logLevel() > 3)
        qDebug("hotplugCallback");

    // An unreadable descriptor still announces the event, with zero ids and
    // class rather than whatever the unwritten descriptor held.
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) {
        descriptor = libusb_device_descriptor{};
        if (usb->logLevel() > 1)
            qWarning("Unreadable device descriptor on bus %d, port %d", bus, port);
    }
    const QUsb::Id id(descriptor.idProduct, descriptor.idVendor, bus, port, descriptor.bDeviceClass,
                      descriptor.bDeviceSubClass);

    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        emit usb->deviceInserted(id);
        return 0;
    }
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) {
        emit usb->deviceRemoved(id);
        return 0;
    }
    if (usb->logLevel() > 1)
        qWarning("Unhandled hotplug event %d", event);
    return -1;
}

QUsb::QUsb(QObject *parent) : QObject(parent), m_logLevel(3), m_timer(new QTimer)
{
    qRegisterMetaType<QUsb::Id>("QUsb::Id");
    qRegisterMetaType<QUsb::Config>("QUsb::Config");
    qRegisterMetaType<QUsb::IdList>("QUsb::IdList");
    qRegisterMetaType<QUsb::ConfigList>("QUsb::ConfigList");
    // The property's type, so that property("logLevel") reads it.
    qRegisterMetaType<QUsb::LogLevel>("QUsb::LogLevel");

    const int rc = libusb_init(&m_ctx);
    if (rc < 0) {
        qCritical("LibUsb Init Error %d", rc);
        m_ctx = nullptr;
        return;
    }
    libusb_set_option(m_ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_WARNING);
    m_systemList = devices();
    m_hasHotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;

    if (m_hasHotplug) {
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        if (libusb_hotplug_register_callback(m_ctx, events, 0, LIBUSB_HOTPLUG_MATCH_ANY,
                                             LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, hotplugCallback,
                                             this, &callbackHandle) != LIBUSB_SUCCESS) {
            libusb_exit(m_ctx);
            m_ctx = nullptr;
            qWarning("Error creating hotplug callback");
            return;
        }
        callbackRegistered = true;
    }

    // The timer ticks in its own thread; each tick reaches checkDevices()
    // queued, in the thread that built the monitor.
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("usb-monitor"));
    m_timer->moveToThread(m_thread);
    m_timer->setSingleShot(false);
    m_timer->setInterval(250);
    connect(m_thread, SIGNAL(started()), m_timer, SLOT(start()));
    connect(m_thread, SIGNAL(finished()), m_timer, SLOT(stop()));
    connect(m_timer, &QTimer::timeout, this, &QUsb::checkDevices);
    m_thread->start(QThread::InheritPriority);
}

QUsb::~QUsb()
{
    if (m_thread) {
        m_thread->exit(0);
        m_thread->wait();
        // The thread has ended, so nothing runs in it any more: delete at once
        // (a deferred delete posted to an ended thread would never run).
        delete m_thread;
        m_thread = nullptr;
    }
    m_timer->disconnect();
    delete m_timer;
    USB_TRACE(m_logLevel);
    if (m_ctx && m_hasHotplug && callbackRegistered) {
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(m_ctx, &zero, nullptr);
        libusb_hotplug_deregister_callback(m_ctx, callbackHandle);
        callbackRegistered = false;
    }
    if (m_ctx) {
        libusb_exit(m_ctx);
        m_ctx = nullptr;
    }
    m_list.clear();
    m_systemList.clear();
}

QUsb::IdList QUsb::devices()
{
    IdList list;
    libusb_context *ctx = nullptr;
    const int rc = libusb_init(&ctx);
    if (rc < 0) {
        // Without a context only the HID interfaces can be listed.
        qCritical("libusb_init Error %d", rc);
    } else {
        libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, LIBUSB_LOG_LEVEL_NONE);
        libusb_device **usbDevices = nullptr;
        const ssize_t count = libusb_get_device_list(ctx, &usbDevices);
        if (count < 0) {
            qCritical("libusb_get_device_list Error");
            libusb_exit(ctx);
            return list;
        }
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device *device = usbDevices[i];
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
                continue;
            list.append(Id(descriptor.idProduct, descriptor.idVendor, libusb_get_bus_number(device),
                           libusb_get_port_number(device)));
        }
        libusb_free_device_list(usbDevices, 1);
        libusb_exit(ctx);
    }

    hid_device_info *hidDevices = hid_enumerate(0, 0);
    for (hid_device_info *info = hidDevices; info; info = info->next)
        list.append(Id(info->product_id, info->vendor_id, 0, 0));
    hid_free_enumeration(hidDevices);
    return list;
}

int QUsb::findDevice(const Id &id, const IdList &list) const
{
    USB_TRACE(m_logLevel);
    const bool anyPlace = id.bus == 255 && id.port == 255;
    for (int i = 0; i < list.size(); ++i) {
        const Id &entry = list.at(i);
        if (entry.vid != id.vid || entry.pid != id.pid)
            continue;
        if (anyPlace || (entry.bus == id.bus && entry.port == id.port))
            return i;
    }
    return -1;
}

bool QUsb::isPresent(const Id &id) const
{
    USB_TRACE(m_logLevel);
    return findDevice(id, m_systemList) >= 0;
}

void QUsb::setLogLevel(LogLevel level)
{
    USB_TRACE(m_logLevel);
    m_logLevel = level;
    if (!m_ctx)
        return;
    const int libusbLevel = level >= 4 ? LIBUSB_LOG_LEVEL_DEBUG
                          : level >= 2 ? LIBUSB_LOG_LEVEL_WARNING
                                       : LIBUSB_LOG_LEVEL_ERROR;
    libusb_set_option(m_ctx, LIBUSB_OPTION_LOG_LEVEL, libusbLevel);
}

bool QUsb::addDevice(const Id &id)
{
    USB_TRACE(m_logLevel);
    if (findDevice(id, m_list) >= 0)
        return false;
    m_list.append(id);
    return true;
}

bool QUsb::removeDevice(const Id &id)
{
    USB_TRACE(m_logLevel);
    const int index = findDevice(id, m_list);
    if (index >= 0)
        m_list.removeAt(index);
    return true;
}

void QUsb::monitorDevices(const IdList &list)
{
    USB_TRACE(m_logLevel);
    IdList inserted;
    IdList removed;
    for (const Id &id : list) {
        if (findDevice(id, m_systemList) < 0)
            inserted.append(id);
    }
    for (const Id &id : m_systemList) {
        if (findDevice(id, list) < 0)
            removed.append(id);
    }
    for (const Id &id : inserted)
        emit deviceInserted(id);
    for (const Id &id : removed)
        emit deviceRemoved(id);
    m_systemList = list;
}

void QUsb::checkDevices()
{
    USB_TRACE(m_logLevel);
    if (m_hasHotplug) {
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(m_ctx, &zero, nullptr);
    } else {
        monitorDevices(devices());
    }
}

#pragma once

// The bench: every virtual device attached now, the handles the host holds on
// them, the call log, the faults in force and the libusb contexts. One lock
// guards all of it; threads waiting in a read sleep on `changed`.

#include "core/padmodel.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <hidapi.h>
#include <libusb.h>

namespace padsim {

struct UsbIdentity
{
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint8_t bus = 1;
    uint8_t port = 1;
    uint8_t address = 1;
    uint8_t deviceClass = 0;
    uint8_t deviceSubclass = 0;
};

class Bench;

// One attached USB device; a pad when it has a model (one HID interface).
struct Device : PadLink
{
    Device(Bench &bench, const UsbIdentity &usb, const PadModel *model, const std::string &serial);
    ~Device() override;

    void send(const Bytes &report) override;
    void note(const std::string &line) override;
    std::string serial() const override { return serialNumber; }
    std::string describe() const;
    std::string hidPath() const;

    Bench &bench;
    UsbIdentity usb;
    const PadModel *model;        // null: a plain USB device with no HID interface
    std::string serialNumber;     // empty: the pad has none (`plug MODEL no-serial`)
    std::unique_ptr<Pad> pad;
    hid_device *handle = nullptr;  // the host's open handle on the HID interface
    bool attached = true;
};

struct Faults
{
    bool stall = false;
    bool failOpen = false;
    bool failWrite = false;
    bool failStart = false;      // the start-signing command only
    bool failRead = false;
    bool failList = false;       // one device-list read only
    bool failInit = false;
    bool failHotplug = false;
    bool failDescriptor = false;
    bool failString = false;
    std::string describe() const;
    bool set(const std::string &name);   // false for an unknown name
};

// hidapi keeps this many unread input reports per open device.
constexpr size_t kMaxUnreadReports = 30;
constexpr size_t kMaxLogLines = 100000;

class Bench
{
public:
    static Bench &instance();

    std::mutex mutex;
    std::condition_variable changed;

    // Everything below is guarded by `mutex`.
    std::vector<std::shared_ptr<Device>> devices;   // in attach order
    std::deque<std::string> callLog;
    Faults faults;
    bool hotplugCapable = true;
    std::vector<libusb_context *> contexts;
    libusb_context *defaultContext = nullptr;
    int defaultContextUsers = 0;
    int nextCallbackHandle = 1;
    // Times the host looked for device changes: event-handling calls, counted
    // once their callbacks have returned, and device-list reads. A test waits
    // for two more looks to know that a monitor has seen a change.
    unsigned long hostLooks = 0;

    static bool hotplugByDefault();   // PADSIM_HOTPLUG=off turns it off
    void logCall(const std::string &line);
    std::shared_ptr<Device> attach(UsbIdentity usb, const PadModel *model, const std::string &serial);
    void detach(std::shared_ptr<Device> device);   // by value: it leaves `devices`
    void deliver(Device &device, const Bytes &report);
    // Identity values no attached device uses yet.
    uint8_t freePort(uint8_t bus) const;
    uint8_t nextAddress();

private:
    Bench();
    void announce(const UsbIdentity &usb, libusb_hotplug_event event);
    uint8_t m_lastAddress = 1;
};

} // namespace padsim

// The objects behind the opaque pointers the host holds.
struct hid_device_
{
    std::shared_ptr<padsim::Device> device;
    std::deque<padsim::Bytes> unread;
    unsigned long dropped = 0;  // reports lost to a full unread queue, oldest first
    bool closing = false;  // hid_close has begun: reads return -1
    int readers = 0;       // threads inside a read on this handle
    std::wstring error;
};
struct libusb_device
{
    libusb_context *context = nullptr;
    int references = 1;          // guarded by the bench's lock
    padsim::UsbIdentity usb;
};

struct libusb_context
{
    struct Callback
    {
        libusb_hotplug_callback_handle handle;
        int events;
        int vendor;
        int product;
        int deviceClass;
        libusb_hotplug_callback_fn function;
        void *userData;
    };
    struct Event
    {
        padsim::UsbIdentity usb;
        libusb_hotplug_event event;
    };
    int logLevel = LIBUSB_LOG_LEVEL_NONE;
    std::vector<Callback> callbacks;
    std::deque<Event> pending;
    std::vector<libusb_device *> liveDevices;
};

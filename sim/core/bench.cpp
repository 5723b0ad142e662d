#include "core/bench.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace padsim {

Device::Device(Bench &owner, const UsbIdentity &identity, const PadModel *padModel, const std::string &serial)
    : bench(owner), usb(identity), model(padModel), serialNumber(serial)
{
    if (model)
        pad = model->create(*this);
}

Device::~Device() = default;

void Device::send(const Bytes &report)
{
    if (!bench.faults.stall)
        bench.deliver(*this, report);
}

void Device::note(const std::string &line)
{
    bench.logCall(line);
}

std::string Device::describe() const
{
    std::string text = model ? std::string("pad ") + model->name + " " : std::string("usb ");
    text += idText(usb.vid, usb.pid) + " bus " + std::to_string(usb.bus) + " port " + std::to_string(usb.port);
    if (model)
        text += (serialNumber.empty() ? " no-serial" : " serial " + serialNumber) + (handle ? " open" : " closed")
                + (pad->streaming() ? " streaming" : "");
    else
        text += " class " + std::to_string(usb.deviceClass) + " subclass " + std::to_string(usb.deviceSubclass);
    return text;
}

std::string Device::hidPath() const
{
    return "padsim:" + std::to_string(usb.bus) + "-" + std::to_string(usb.port) + ":1.0";
}

static const struct
{
    const char *name;
    bool Faults::*flag;
} kFaultNames[] = {
    {"stall", &Faults::stall},
    {"fail-open", &Faults::failOpen},
    {"fail-write", &Faults::failWrite},
    {"fail-start", &Faults::failStart},
    {"fail-read", &Faults::failRead},
    {"fail-list", &Faults::failList},
    {"fail-init", &Faults::failInit},
    {"fail-hotplug", &Faults::failHotplug},
    {"fail-descriptor", &Faults::failDescriptor},
    {"fail-string", &Faults::failString},
};

std::string Faults::describe() const
{
    std::string text;
    for (const auto &fault : kFaultNames) {
        if (this->*fault.flag)
            text += (text.empty() ? "" : " ") + std::string(fault.name);
    }
    return text.empty() ? "none" : text;
}

bool Faults::set(const std::string &name)
{
    if (name == "none") {
        *this = Faults();
        return true;
    }
    for (const auto &fault : kFaultNames) {
        if (name == fault.name) {
            this->*fault.flag = true;
            return true;
        }
    }
    return false;
}

Bench &Bench::instance()
{
    // Never destroyed: host threads may still call in while the process exits.
    static Bench *bench = new Bench;
    return *bench;
}

Bench::Bench() : hotplugCapable(hotplugByDefault()) {}

bool Bench::hotplugByDefault()
{
    const char *hotplug = std::getenv("PADSIM_HOTPLUG");
    return !(hotplug && (std::strcmp(hotplug, "off") == 0 || std::strcmp(hotplug, "0") == 0));
}

void Bench::logCall(const std::string &line)
{
    callLog.push_back(line);
    if (callLog.size() > kMaxLogLines)
        callLog.pop_front();
}

uint8_t Bench::freePort(uint8_t bus) const
{
    for (int port = 1; port < 255; ++port) {
        const bool used = std::any_of(devices.begin(), devices.end(), [&](const std::shared_ptr<Device> &d) {
            return d->usb.bus == bus && d->usb.port == port;
        });
        if (!used)
            return static_cast<uint8_t>(port);
    }
    return 0;
}

uint8_t Bench::nextAddress()
{
    m_lastAddress = static_cast<uint8_t>(m_lastAddress % 127 + 1);
    return m_lastAddress;
}

std::shared_ptr<Device> Bench::attach(UsbIdentity usb, const PadModel *model, const std::string &serial)
{
    auto device = std::make_shared<Device>(*this, usb, model, serial);
    devices.push_back(device);
    announce(usb, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    return device;
}

void Bench::detach(std::shared_ptr<Device> device)
{
    devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
    device->attached = false;
    if (device->handle)
        device->handle->unread.clear();
    announce(device->usb, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    changed.notify_all();
}

void Bench::deliver(Device &device, const Bytes &report)
{
    if (!device.handle || !device.attached)
        return;
    auto &unread = device.handle->unread;
    unread.push_back(report);
    while (unread.size() > kMaxUnreadReports) {
        unread.pop_front();
        ++device.handle->dropped;
    }
    changed.notify_all();
}

void Bench::announce(const UsbIdentity &usb, libusb_hotplug_event event)
{
    // Like libusb, a context gathers events only while it has callbacks.
    for (libusb_context *context : contexts) {
        if (!context->callbacks.empty())
            context->pending.push_back({usb, event});
    }
    changed.notify_all();
}

} // namespace padsim

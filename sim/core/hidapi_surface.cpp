// The hidapi functions the host calls, answered from the bench. Results follow
// hidapi's libusb back-end: report number 0 is stripped on the wire and counted
// in the result, strings are cut to maxlen - 1 characters, and an unplugged or
// closing device fails every transfer with -1.

#include "core/bench.h"
#include "core/commands.h"
#include "core/export.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

using namespace padsim;

namespace {

std::wstring widen(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

wchar_t *wideCopy(const std::string &text)
{
    const std::wstring wide = widen(text);
    auto *copy = static_cast<wchar_t *>(std::calloc(wide.size() + 1, sizeof(wchar_t)));
    std::copy(wide.begin(), wide.end(), copy);
    return copy;
}

bool usable(hid_device *dev)
{
    return dev && !dev->closing && dev->device->attached;
}

int copyString(hid_device *dev, const std::string &value, const char *what, wchar_t *string, size_t maxlen)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    if (!dev)
        return -1;
    bench.logCall(what);
    if (!string || maxlen == 0)
        return -1;
    if (bench.faults.failString || !usable(dev)) {
        // hidapi leaves the buffer undefined on failure: make that visible.
        std::fill(string, string + maxlen - 1, L'?');
        string[maxlen - 1] = L'\0';
        return -1;
    }
    const std::wstring wide = widen(value);
    const size_t count = std::min(wide.size(), maxlen - 1);
    std::copy(wide.begin(), wide.begin() + count, string);
    string[count] = L'\0';
    return 0;
}

hid_device *openDevice(const std::shared_ptr<Device> &device)
{
    Bench &bench = Bench::instance();
    if (!device || bench.faults.failOpen || device->handle)
        return nullptr;   // a claimed interface cannot be claimed again
    auto *dev = new hid_device_;
    dev->device = device;
    device->handle = dev;
    return dev;
}

} // namespace

extern "C" {

PADSIM_EXPORT int hid_init(void)
{
    ensureServing();
    return 0;
}

PADSIM_EXPORT int hid_exit(void)
{
    return 0;
}

PADSIM_EXPORT struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    ensureServing();
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (const auto &device : bench.devices) {
        if (!device->model)
            continue;
        if ((vendor_id && vendor_id != device->usb.vid) || (product_id && product_id != device->usb.pid))
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(device->hidPath().c_str());
        info->vendor_id = device->usb.vid;
        info->product_id = device->usb.pid;
        info->serial_number = wideCopy(device->serialNumber);
        info->release_number = 0x0100;
        info->manufacturer_string = wideCopy(device->model->manufacturer);
        info->product_string = wideCopy(device->model->product);
        info->interface_number = 0;
        info->bus_type = HID_API_BUS_USB;
        *next = info;
        next = &info->next;
    }
    return first;
}

PADSIM_EXPORT void hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

PADSIM_EXPORT hid_device *hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial_number)
{
    ensureServing();
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    bench.logCall("open " + idText(vendor_id, product_id));
    for (const auto &device : bench.devices) {
        if (!device->model || device->usb.vid != vendor_id || device->usb.pid != product_id)
            continue;
        if (serial_number && widen(device->serialNumber) != serial_number)
            continue;
        return openDevice(device);
    }
    return nullptr;
}

PADSIM_EXPORT hid_device *hid_open_path(const char *path)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    for (const auto &device : bench.devices) {
        if (device->model && path && device->hidPath() == path) {
            bench.logCall("open " + idText(device->usb.vid, device->usb.pid));
            return openDevice(device);
        }
    }
    bench.logCall(std::string("open-path ") + (path ? path : "(null)"));
    return nullptr;
}

PADSIM_EXPORT void hid_close(hid_device *dev)
{
    if (!dev)
        return;
    Bench &bench = Bench::instance();
    std::unique_lock<std::mutex> lock(bench.mutex);
    bench.logCall("close");
    dev->closing = true;
    bench.changed.notify_all();
    // Unlike hidapi, a reader still inside hid_read leaves before the handle goes.
    bench.changed.wait(lock, [dev] { return dev->readers == 0; });
    if (dev->device->handle == dev)
        dev->device->handle = nullptr;
    lock.unlock();
    delete dev;
}

PADSIM_EXPORT int hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
    if (!dev)
        return -1;
    Bench &bench = Bench::instance();
    std::unique_lock<std::mutex> lock(bench.mutex);
    bench.logCall("read " + std::to_string(length) + " " + std::to_string(milliseconds));
    ++dev->readers;
    auto ready = [&] { return !usable(dev) || bench.faults.failRead || !dev->unread.empty(); };
    if (milliseconds < 0)
        bench.changed.wait(lock, ready);
    else
        bench.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
    --dev->readers;
    int result = 0;
    if (!usable(dev) || bench.faults.failRead) {
        dev->error = dev->closing ? L"device closed" : dev->device->attached ? L"read failed" : L"device unplugged";
        result = -1;
    } else if (!dev->unread.empty()) {
        const Bytes report = std::move(dev->unread.front());
        dev->unread.pop_front();
        const size_t count = std::min(length, report.size());
        std::copy(report.begin(), report.begin() + count, data);
        result = static_cast<int>(count);
    }
    if (dev->readers == 0)
        bench.changed.notify_all();   // a closing thread may be waiting for us
    return result;
}

PADSIM_EXPORT int hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hid_read_timeout(dev, data, length, -1);
}

PADSIM_EXPORT int hid_set_nonblocking(hid_device *dev, int nonblock)
{
    (void)nonblock;
    return dev ? 0 : -1;
}

PADSIM_EXPORT int hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!dev || !data || length == 0)
        return -1;
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    bench.logCall("write " + toHex(data, length));
    const Bytes report(data, data + length);
    if (!usable(dev) || bench.faults.failWrite || (bench.faults.failStart && dev->device->pad->isStartCommand(report)))
        return -1;
    dev->device->pad->onOutputReport(report);
    return static_cast<int>(length);
}

PADSIM_EXPORT int hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!dev || !data || length == 0)
        return -1;
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    bench.logCall("feature " + toHex(data, length));
    const Bytes report(data, data + length);
    if (!usable(dev) || bench.faults.failWrite || (bench.faults.failStart && dev->device->pad->isStartCommand(report)))
        return -1;
    dev->device->pad->onFeatureReport(report);
    return static_cast<int>(length);
}

PADSIM_EXPORT int hid_get_feature_report(hid_device *dev, unsigned char *data, size_t length)
{
    if (!dev || !data || length == 0)
        return -1;
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    bench.logCall("get-feature " + std::to_string(length));
    if (!usable(dev) || bench.faults.failRead)
        return -1;
    const uint8_t number = data[0];
    const Bytes reply = dev->device->pad->featureReport(number);
    // Report 0 is not on the wire: its reply lands after the number byte.
    const size_t skip = number == 0 ? 1 : 0;
    const size_t count = std::min(length - skip, reply.size());
    std::copy(reply.begin(), reply.begin() + count, data + skip);
    return static_cast<int>(count + skip);
}

PADSIM_EXPORT int hid_get_input_report(hid_device *dev, unsigned char *data, size_t length)
{
    (void)data;
    (void)length;
    (void)dev;
    return -1;
}

PADSIM_EXPORT int hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    const std::string value = dev ? dev->device->serialNumber : std::string();
    return copyString(dev, value, "serial", string, maxlen);
}

PADSIM_EXPORT int hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    const std::string value = dev ? dev->device->model->manufacturer : "";
    return copyString(dev, value, "manufacturer", string, maxlen);
}

PADSIM_EXPORT int hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    const std::string value = dev ? dev->device->model->product : "";
    return copyString(dev, value, "product", string, maxlen);
}

PADSIM_EXPORT int hid_get_indexed_string(hid_device *dev, int string_index, wchar_t *string, size_t maxlen)
{
    (void)dev;
    (void)string_index;
    if (string && maxlen)
        string[0] = L'\0';
    return -1;
}

PADSIM_EXPORT const wchar_t *hid_error(hid_device *dev)
{
    if (!dev)
        return L"padsim: no device";
    return dev->error.empty() ? L"Success" : dev->error.c_str();
}

PADSIM_EXPORT const struct hid_api_version *hid_version(void)
{
    static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &version;
}

PADSIM_EXPORT const char *hid_version_str(void)
{
    return HID_API_VERSION_STR;
}

} // extern "C"

// The libusb functions the host calls to list devices and follow hot-plug
// events, answered from the bench. Device objects are reference-counted
// snapshots of one attached device; a context frees what is left at exit.

#include "core/bench.h"
#include "core/commands.h"
#include "core/export.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>

using namespace padsim;

namespace {

libusb_context *resolve(Bench &bench, libusb_context *ctx)
{
    return ctx ? ctx : bench.defaultContext;
}

libusb_device *newDevice(libusb_context *context, const UsbIdentity &usb)
{
    auto *device = new libusb_device;
    device->context = context;
    device->usb = usb;
    context->liveDevices.push_back(device);
    return device;
}

void dropReference(libusb_device *device)
{
    if (--device->references > 0)
        return;
    auto &live = device->context->liveDevices;
    live.erase(std::remove(live.begin(), live.end(), device), live.end());
    delete device;
}

void destroyContext(Bench &bench, libusb_context *context)
{
    auto &contexts = bench.contexts;
    contexts.erase(std::remove(contexts.begin(), contexts.end(), context), contexts.end());
    for (libusb_device *device : context->liveDevices)
        delete device;
    delete context;
}

bool matches(const libusb_context::Callback &callback, const UsbIdentity &usb, libusb_hotplug_event event)
{
    return (callback.events & event) &&
           (callback.vendor == LIBUSB_HOTPLUG_MATCH_ANY || callback.vendor == usb.vid) &&
           (callback.product == LIBUSB_HOTPLUG_MATCH_ANY || callback.product == usb.pid) &&
           (callback.deviceClass == LIBUSB_HOTPLUG_MATCH_ANY || callback.deviceClass == usb.deviceClass);
}

bool registered(libusb_context *context, libusb_hotplug_callback_handle handle)
{
    return std::any_of(context->callbacks.begin(), context->callbacks.end(),
                       [handle](const libusb_context::Callback &c) { return c.handle == handle; });
}

void deregister(libusb_context *context, libusb_hotplug_callback_handle handle)
{
    auto &callbacks = context->callbacks;
    callbacks.erase(std::remove_if(callbacks.begin(), callbacks.end(),
                                   [handle](const libusb_context::Callback &c) { return c.handle == handle; }),
                    callbacks.end());
    if (callbacks.empty())
        context->pending.clear();
}

// Runs the callbacks for gathered events outside the lock, as libusb does in
// the thread that handles events; a callback may call back into libusb.
void dispatchEvents(std::unique_lock<std::mutex> &lock, libusb_context *context)
{
    while (!context->pending.empty()) {
        const libusb_context::Event event = context->pending.front();
        context->pending.pop_front();
        const std::vector<libusb_context::Callback> callbacks = context->callbacks;
        for (const auto &callback : callbacks) {
            if (!registered(context, callback.handle) || !matches(callback, event.usb, event.event))
                continue;
            libusb_device *device = newDevice(context, event.usb);
            lock.unlock();
            const int result = callback.function(context, device, event.event, callback.userData);
            lock.lock();
            dropReference(device);
            if (result != 0)
                deregister(context, callback.handle);
        }
    }
}

} // namespace

extern "C" {

PADSIM_EXPORT int libusb_init(libusb_context **ctx)
{
    ensureServing();
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    if (bench.faults.failInit)
        return LIBUSB_ERROR_OTHER;
    if (!ctx) {
        if (bench.defaultContextUsers++ == 0) {
            bench.defaultContext = new libusb_context;
            bench.contexts.push_back(bench.defaultContext);
        }
        return LIBUSB_SUCCESS;
    }
    *ctx = new libusb_context;
    bench.contexts.push_back(*ctx);
    return LIBUSB_SUCCESS;
}

PADSIM_EXPORT void libusb_exit(libusb_context *ctx)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    if (!ctx) {
        if (bench.defaultContextUsers > 0 && --bench.defaultContextUsers == 0) {
            destroyContext(bench, bench.defaultContext);
            bench.defaultContext = nullptr;
        }
        return;
    }
    destroyContext(bench, ctx);
}

PADSIM_EXPORT int libusb_set_option(libusb_context *ctx, enum libusb_option option, ...)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    libusb_context *context = resolve(bench, ctx);
    if (option != LIBUSB_OPTION_LOG_LEVEL)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    va_list args;
    va_start(args, option);
    const int level = va_arg(args, int);
    va_end(args);
    if (level < LIBUSB_LOG_LEVEL_NONE || level > LIBUSB_LOG_LEVEL_DEBUG)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (context)
        context->logLevel = level;
    return LIBUSB_SUCCESS;
}

PADSIM_EXPORT void libusb_set_debug(libusb_context *ctx, int level)
{
    libusb_set_option(ctx, LIBUSB_OPTION_LOG_LEVEL, level);
}

PADSIM_EXPORT int libusb_has_capability(uint32_t capability)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    switch (capability) {
    case LIBUSB_CAP_HAS_CAPABILITY:
        return 1;
    case LIBUSB_CAP_HAS_HOTPLUG:
        return bench.hotplugCapable ? 1 : 0;
    default:
        return 0;
    }
}

PADSIM_EXPORT ssize_t libusb_get_device_list(libusb_context *ctx, libusb_device ***list)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    libusb_context *context = resolve(bench, ctx);
    if (!context || !list)
        return LIBUSB_ERROR_INVALID_PARAM;
    ++bench.hostLooks;
    if (bench.faults.failList) {
        bench.faults.failList = false;
        return LIBUSB_ERROR_IO;
    }
    const size_t count = bench.devices.size();
    auto **devices = new libusb_device *[count + 1];
    for (size_t i = 0; i < count; ++i)
        devices[i] = newDevice(context, bench.devices[i]->usb);
    devices[count] = nullptr;
    *list = devices;
    return static_cast<ssize_t>(count);
}

PADSIM_EXPORT void libusb_free_device_list(libusb_device **list, int unref_devices)
{
    if (!list)
        return;
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    if (unref_devices) {
        for (libusb_device **device = list; *device; ++device)
            dropReference(*device);
    }
    delete[] list;
}

PADSIM_EXPORT libusb_device *libusb_ref_device(libusb_device *dev)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    ++dev->references;
    return dev;
}

PADSIM_EXPORT void libusb_unref_device(libusb_device *dev)
{
    if (!dev)
        return;
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    dropReference(dev);
}

PADSIM_EXPORT int libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *desc)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    if (bench.faults.failDescriptor)
        return LIBUSB_ERROR_IO;
    *desc = libusb_device_descriptor();
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bDeviceClass = dev->usb.deviceClass;
    desc->bDeviceSubClass = dev->usb.deviceSubclass;
    desc->bMaxPacketSize0 = 64;
    desc->idVendor = dev->usb.vid;
    desc->idProduct = dev->usb.pid;
    desc->bcdDevice = 0x0100;
    desc->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

PADSIM_EXPORT uint8_t libusb_get_bus_number(libusb_device *dev)
{
    return dev->usb.bus;
}

PADSIM_EXPORT uint8_t libusb_get_port_number(libusb_device *dev)
{
    return dev->usb.port;
}

PADSIM_EXPORT int libusb_get_port_numbers(libusb_device *dev, uint8_t *port_numbers, int port_numbers_len)
{
    if (port_numbers_len < 1)
        return LIBUSB_ERROR_OVERFLOW;
    port_numbers[0] = dev->usb.port;
    return 1;
}

PADSIM_EXPORT uint8_t libusb_get_device_address(libusb_device *dev)
{
    return dev->usb.address;
}

PADSIM_EXPORT int libusb_get_device_speed(libusb_device *dev)
{
    (void)dev;
    return LIBUSB_SPEED_FULL;
}

PADSIM_EXPORT int libusb_open(libusb_device *dev, libusb_device_handle **dev_handle)
{
    (void)dev;
    (void)dev_handle;
    return LIBUSB_ERROR_NOT_SUPPORTED;   // the host talks to pads through hidapi only
}

PADSIM_EXPORT int libusb_hotplug_register_callback(libusb_context *ctx, int events, int flags, int vendor_id,
                                                   int product_id, int dev_class,
                                                   libusb_hotplug_callback_fn cb_fn, void *user_data,
                                                   libusb_hotplug_callback_handle *callback_handle)
{
    Bench &bench = Bench::instance();
    std::unique_lock<std::mutex> lock(bench.mutex);
    libusb_context *context = resolve(bench, ctx);
    if (!bench.hotplugCapable)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    if (bench.faults.failHotplug)
        return LIBUSB_ERROR_NO_MEM;
    if (!context || !cb_fn || !(events & (LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT)))
        return LIBUSB_ERROR_INVALID_PARAM;
    const libusb_context::Callback callback{bench.nextCallbackHandle++, events, vendor_id, product_id,
                                            dev_class, cb_fn, user_data};
    context->callbacks.push_back(callback);
    if (callback_handle)
        *callback_handle = callback.handle;
    if (flags & LIBUSB_HOTPLUG_ENUMERATE) {
        for (const auto &device : bench.devices)
            context->pending.push_back({device->usb, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
        dispatchEvents(lock, context);
    }
    return LIBUSB_SUCCESS;
}

PADSIM_EXPORT void libusb_hotplug_deregister_callback(libusb_context *ctx,
                                                      libusb_hotplug_callback_handle callback_handle)
{
    Bench &bench = Bench::instance();
    std::lock_guard<std::mutex> lock(bench.mutex);
    if (libusb_context *context = resolve(bench, ctx))
        deregister(context, callback_handle);
}

PADSIM_EXPORT int libusb_handle_events_timeout_completed(libusb_context *ctx, struct timeval *tv, int *completed)
{
    Bench &bench = Bench::instance();
    std::unique_lock<std::mutex> lock(bench.mutex);
    libusb_context *context = resolve(bench, ctx);
    if (!context)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (completed && *completed)
        return LIBUSB_SUCCESS;
    if (tv && (tv->tv_sec > 0 || tv->tv_usec > 0)) {
        const auto limit = std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec);
        bench.changed.wait_for(lock, limit, [context] { return !context->pending.empty(); });
    }
    dispatchEvents(lock, context);
    ++bench.hostLooks;
    return LIBUSB_SUCCESS;
}

PADSIM_EXPORT int libusb_handle_events_timeout(libusb_context *ctx, struct timeval *tv)
{
    return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}

PADSIM_EXPORT int libusb_handle_events_completed(libusb_context *ctx, int *completed)
{
    timeval tv{60, 0};
    return libusb_handle_events_timeout_completed(ctx, &tv, completed);
}

PADSIM_EXPORT int libusb_handle_events(libusb_context *ctx)
{
    return libusb_handle_events_completed(ctx, nullptr);
}

PADSIM_EXPORT const char *libusb_error_name(int errcode)
{
    switch (errcode) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
    }
}

PADSIM_EXPORT const char *libusb_strerror(int errcode)
{
    return libusb_error_name(errcode);
}

PADSIM_EXPORT const struct libusb_version *libusb_get_version(void)
{
    static const libusb_version version = {1, 0, 26, 0, "", "padsim"};
    return &version;
}

} // extern "C"

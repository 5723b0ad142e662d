// The virtual pad at the library boundary: the test links Debian's libusb and
// hidapi, and the preloaded library must answer in their place, the way they
// answer: unread-report limits, reads ended by unplug and close, concurrent
// callers, device lists and hot-plug events.

#include "support/padsim.h"

#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <dlfcn.h>
#include <link.h>

#include <hidapi.h>
#include <libusb.h>

#include <atomic>
#include <thread>

namespace {

QString libraryOf(void *symbol)
{
    Dl_info info{};
    return dladdr(symbol, &info) && info.dli_fname ? QString(info.dli_fname) : QString();
}

QStringList loadedLibraries()
{
    QStringList names;
    dl_iterate_phdr([](dl_phdr_info *info, size_t, void *data) {
        static_cast<QStringList *>(data)->append(QString(info->dlpi_name));
        return 0;
    }, &names);
    return names;
}

int readOne(hid_device *dev, QByteArray &out, int timeout)
{
    unsigned char buffer[512];
    const int n = hid_read_timeout(dev, buffer, sizeof buffer, timeout);
    out = n > 0 ? QByteArray(reinterpret_cast<char *>(buffer), n) : QByteArray();
    return n;
}

struct Event
{
    int event;
    quint16 vid;
    quint8 port;
    quint8 deviceClass;
};

int LIBUSB_CALL record(libusb_context *, libusb_device *device, libusb_hotplug_event event, void *data)
{
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    static_cast<QList<Event> *>(data)->append(
        {event, descriptor.idVendor, libusb_get_port_number(device), descriptor.bDeviceClass});
    return 0;
}

int LIBUSB_CALL recordOnce(libusb_context *ctx, libusb_device *device, libusb_hotplug_event event, void *data)
{
    record(ctx, device, event, data);
    return 1;   // ends the registration
}

void handleEvents(libusb_context *ctx)
{
    timeval zero{0, 0};
    libusb_handle_events_timeout_completed(ctx, &zero, nullptr);
}

} // namespace

class PadSimHid : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

private slots:
    void init() { QVERIFY(m_sim.ok("reset")); }

    void interposesOnDebiansLibraries()
    {
        const QStringList loaded = loadedLibraries();
        QVERIFY(!loaded.filter(QRegularExpression("/libusb-1\\.0\\.so\\.0$")).isEmpty());
        QVERIFY(!loaded.filter(QRegularExpression("/libhidapi-libusb\\.so\\.0$")).isEmpty());
        for (void *symbol : {reinterpret_cast<void *>(&libusb_init), reinterpret_cast<void *>(&hid_open),
                             reinterpret_cast<void *>(&hid_read_timeout),
                             reinterpret_cast<void *>(&libusb_hotplug_register_callback)})
            QVERIFY2(libraryOf(symbol).endsWith("/libpadsim.so"), qPrintable(libraryOf(symbol)));
        // Debian's own definitions are still there, behind ours.
        void *hidapi = dlopen("libhidapi-libusb.so.0", RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(hidapi);
        QVERIFY(libraryOf(dlsym(hidapi, "hid_open")).contains("libhidapi-libusb"));
        dlclose(hidapi);
    }

    void enumerationListsPadsOnly()
    {
        QVERIFY(m_sim.plug("qz07 serial QZ07000777"));
        QVERIFY(m_sim.plugUsb("046d:c077"));
        QVERIFY(m_sim.plug("kz07"));
        hid_device_info *all = hid_enumerate(0, 0);
        QVERIFY(all && all->next && !all->next->next);
        QCOMPARE(all->vendor_id, quint16(0x28bd));
        QCOMPARE(QString::fromWCharArray(all->serial_number), QString("QZ07000777"));
        QCOMPARE(QString::fromWCharArray(all->product_string), QString("QZ07"));
        QCOMPARE(all->next->product_id, quint16(0x0019));
        hid_device *byPath = hid_open_path(all->next->path);
        QVERIFY(byPath);
        hid_close(byPath);
        hid_free_enumeration(all);
        hid_device_info *some = hid_enumerate(0x2207, 0);
        QVERIFY(some && !some->next);
        hid_free_enumeration(some);
        QCOMPARE(hid_enumerate(0x046d, 0xc077), nullptr);
        QCOMPARE(hid_open(0x046d, 0xc077, nullptr), nullptr);   // no HID interface
    }

    void aClaimedInterfaceOpensOnce()
    {
        QVERIFY(m_sim.plug("t330"));
        hid_device *first = hid_open(0x0b57, 0x8534, nullptr);
        QVERIFY(first);
        QCOMPARE(hid_open(0x0b57, 0x8534, nullptr), nullptr);
        hid_close(first);
        hid_device *again = hid_open(0x0b57, 0x8534, nullptr);
        QVERIFY(again);
        hid_close(again);
        QCOMPARE(m_sim.log(), (QStringList{"open 0b57:8534", "open 0b57:8534", "close", "open 0b57:8534", "close"}));
    }

    void keepsAtMostThirtyUnreadReports()
    {
        QVERIFY(m_sim.plug("qz07"));
        hid_device *dev = hid_open(0x28bd, 0x600c, nullptr);
        QVERIFY(dev);
        for (int i = 0; i < 35; ++i)
            QVERIFY(m_sim.report(QString("aa%1").arg(i, 2, 16, QChar('0'))));
        QCOMPARE(m_sim.command("report ff"), QString("ok queued 30"));
        QCOMPARE(m_sim.droppedReports(), 6L);
        QByteArray report;
        QCOMPARE(readOne(dev, report, 0), 2);
        QCOMPARE(report, QByteArray::fromHex("aa06"));   // the six oldest were dropped
        int left = 0;
        while (readOne(dev, report, 0) > 0)
            ++left;
        QCOMPARE(left, 29);
        QCOMPARE(report, QByteArray());
        hid_close(dev);
    }

    void nothingIsKeptForAClosedDevice()
    {
        QVERIFY(m_sim.plug("t330"));
        hid_device *dev = hid_open(0x0b57, 0x8534, nullptr);
        QVERIFY(m_sim.report("0200"));
        hid_close(dev);
        QCOMPARE(m_sim.command("pen 100 100 10"), QString("ok sent 0"));   // the T330 reports, nobody listens
        dev = hid_open(0x0b57, 0x8534, nullptr);
        QByteArray report;
        QCOMPARE(readOne(dev, report, 50), 0);
        hid_close(dev);
    }

    // What a test waits on to know the host has taken every report.
    void readerTellsWhatIsUnreadAndWhoWaits()
    {
        QVERIFY(m_sim.plug("qz07"));
        QCOMPARE(m_sim.command("reader"), QString("error: no pad is open"));
        hid_device *dev = hid_open(0x28bd, 0x600c, nullptr);
        QCOMPARE(m_sim.command("reader"), QString("ok unread 0 waiting 0 dropped 0"));
        QVERIFY(m_sim.report("0201"));
        QVERIFY(m_sim.report("0202"));
        QCOMPARE(m_sim.command("reader"), QString("ok unread 2 waiting 0 dropped 0"));
        QVERIFY(!m_sim.waitUntilAllRead(50));   // unread reports, nobody reading
        std::atomic<int> taken{0};
        std::thread reader([&] {
            QByteArray report;
            while (readOne(dev, report, -1) > 0)
                ++taken;
        });
        QVERIFY(m_sim.waitUntilAllRead());
        QCOMPARE(taken.load(), 2);   // both taken before the reader waited again
        QCOMPARE(m_sim.command("reader"), QString("ok unread 0 waiting 1 dropped 0"));
        QCOMPARE(m_sim.command("reader now"), QString("error: usage: reader"));
        hid_close(dev);   // ends the waiting read
        reader.join();
        QCOMPARE(m_sim.command("reader"), QString("error: no pad is open"));
    }

    // What a test waits on to know a monitor has looked for changes.
    void looksCountEventHandlingAndDeviceLists()
    {
        const long before = m_sim.hostLooks();
        QVERIFY(before >= 0);
        libusb_context *ctx = nullptr;
        QCOMPARE(libusb_init(&ctx), 0);
        libusb_device **list = nullptr;
        QVERIFY(libusb_get_device_list(ctx, &list) >= 0);
        libusb_free_device_list(list, 1);
        QCOMPARE(m_sim.hostLooks(), before + 1);
        timeval zero{0, 0};
        QCOMPARE(libusb_handle_events_timeout_completed(ctx, &zero, nullptr), 0);
        QCOMPARE(m_sim.hostLooks(), before + 2);
        QVERIFY(m_sim.waitForHostLooks(before, 2, 0));
        QVERIFY(!m_sim.waitForHostLooks(before, 3, 50));   // nobody looks meanwhile
        libusb_exit(ctx);
        QCOMPARE(m_sim.command("looks now"), QString("error: usage: looks"));
    }

    void unplugEndsAWaitingRead()
    {
        QVERIFY(m_sim.plug("kz07"));
        hid_device *dev = hid_open(0x2207, 0x0019, nullptr);
        std::atomic<int> result{1};
        std::thread reader([&] {
            QByteArray report;
            result = readOne(dev, report, -1);
        });
        QVERIFY(m_sim.waitUntilAllRead());   // the read waits inside the library
        QCOMPARE(result.load(), 1);
        QVERIFY(m_sim.unplug("kz07"));
        reader.join();
        QCOMPARE(result.load(), -1);
        QByteArray report;
        QCOMPARE(readOne(dev, report, -1), -1);                  // and every later one
        const unsigned char bytes[] = {0, 1, 2};
        QCOMPARE(hid_write(dev, bytes, sizeof bytes), -1);
        QCOMPARE(QString::fromWCharArray(hid_error(dev)), QString("device unplugged"));
        hid_close(dev);
        QVERIFY(m_sim.plug("kz07"));                              // a new pad, a new handle
        dev = hid_open(0x2207, 0x0019, nullptr);
        QVERIFY(dev);
        hid_close(dev);
    }

    void closeEndsAWaitingReadAndWaitsForIt()
    {
        QVERIFY(m_sim.plug("qz07"));
        for (int round = 0; round < 10; ++round) {
            hid_device *dev = hid_open(0x28bd, 0x600c, nullptr);
            QVERIFY(dev);
            QVERIFY(m_sim.clearLog());
            std::atomic<int> result{1};
            std::thread reader([&] {
                QByteArray report;
                result = readOne(dev, report, -1);
            });
            // Once the read is logged it is inside the library, where close waits for it.
            QTRY_VERIFY(m_sim.log().contains("read 512 -1"));
            QThread::usleep(round * 300);
            hid_close(dev);
            reader.join();
            QCOMPARE(result.load(), -1);
        }
    }

    void concurrentReadersWritersAndCommands()
    {
        QVERIFY(m_sim.plug("qz07"));
        hid_device *dev = hid_open(0x28bd, 0x600c, nullptr);
        const unsigned char start[10] = {0x06, 0x01};
        QCOMPARE(hid_send_feature_report(dev, start, sizeof start), 10);
        constexpr int kSamples = 200;
        std::atomic<bool> done{false};
        std::atomic<int> received{0};
        QList<int> xs;
        std::thread reader([&] {
            QByteArray report;
            int idle = 0;   // reads that timed out since the last sample was sent
            while (received < kSamples && (!done || ++idle < 100)) {
                if (readOne(dev, report, 20) > 0) {
                    xs << (quint8(report[2]) | quint8(report[3]) << 8);
                    ++received;
                }
            }
        });
        std::thread writer([&] {
            const unsigned char again[10] = {0x06, 0x02};
            while (!done)
                hid_send_feature_report(dev, again, sizeof again);
        });
        for (int i = 0; i < kSamples; ++i) {
            QCOMPARE(m_sim.command(QString("pen %1 10 5").arg(i)), QString("ok sent 1"));
            while (i + 1 - received > 20)   // keep under the thirty-report limit
                QThread::msleep(1);
        }
        done = true;
        writer.join();
        reader.join();
        hid_close(dev);
        QCOMPARE(xs.size(), kSamples);
        for (int i = 0; i < xs.size(); ++i)
            QCOMPARE(xs[i], i);
    }

    void faultsFailTheirCalls()
    {
        QVERIFY(m_sim.plug("qz07"));
        hid_device *dev = hid_open(0x28bd, 0x600c, nullptr);
        unsigned char bytes[64] = {0x00, 0x08, 0x0b};
        QVERIFY(m_sim.fault("fail-write"));
        QCOMPARE(hid_write(dev, bytes, 8), -1);
        QCOMPARE(hid_send_feature_report(dev, bytes, 64), -1);
        QVERIFY(m_sim.fault("none"));
        QVERIFY(m_sim.fault("fail-read"));
        QCOMPARE(hid_read_timeout(dev, bytes, 64, 0), -1);
        QCOMPARE(hid_get_feature_report(dev, bytes, 64), -1);
        QVERIFY(m_sim.fault("none"));
        QVERIFY(m_sim.fault("stall"));   // the query goes out and is never answered
        QCOMPARE(hid_send_feature_report(dev, bytes, 64), 64);
        QCOMPARE(hid_read_timeout(dev, bytes, 64, 100), 0);
        QVERIFY(m_sim.report("0102"));   // raw reports still arrive
        QCOMPARE(hid_read_timeout(dev, bytes, 64, 0), 2);
        hid_close(dev);
        QVERIFY(m_sim.fault("fail-open"));
        QCOMPARE(hid_open(0x28bd, 0x600c, nullptr), nullptr);
    }

    void failReadWakesAWaitingReader()
    {
        QVERIFY(m_sim.plug("qz07"));
        hid_device *dev = hid_open(0x28bd, 0x600c, nullptr);
        std::atomic<int> result{1};
        std::thread reader([&] {
            QByteArray report;
            result = readOne(dev, report, -1);
        });
        QVERIFY(m_sim.waitUntilAllRead());   // the read waits inside the library
        QVERIFY(m_sim.fault("fail-read"));
        reader.join();
        QCOMPARE(result.load(), -1);
        hid_close(dev);
    }

    void deviceListAndDescriptors()
    {
        QVERIFY(m_sim.plug("t330 bus 3 port 4"));
        QVERIFY(m_sim.plugUsb("1d6b:0002 bus 1 port 9 class 9 subclass 0"));
        libusb_context *ctx = nullptr;
        QCOMPARE(libusb_init(&ctx), 0);
        libusb_device **list = nullptr;
        QCOMPARE(libusb_get_device_list(ctx, &list), ssize_t(2));
        QCOMPARE(list[2], nullptr);
        libusb_device_descriptor descriptor{};
        QCOMPARE(libusb_get_device_descriptor(list[1], &descriptor), 0);
        QCOMPARE(descriptor.idVendor, quint16(0x1d6b));
        QCOMPARE(descriptor.bDeviceClass, quint8(9));
        QCOMPARE(libusb_get_bus_number(list[0]), quint8(3));
        QCOMPARE(libusb_get_port_number(list[0]), quint8(4));
        libusb_device *kept = libusb_ref_device(list[0]);
        libusb_free_device_list(list, 1);
        QCOMPARE(libusb_get_port_number(kept), quint8(4));   // still valid with its own reference
        libusb_unref_device(kept);

        QVERIFY(m_sim.fault("fail-list"));
        QCOMPARE(libusb_get_device_list(ctx, &list), ssize_t(LIBUSB_ERROR_IO));
        QCOMPARE(libusb_get_device_list(ctx, &list), ssize_t(2));   // once only
        libusb_free_device_list(list, 0);                            // left to the context to free
        libusb_exit(ctx);
    }

    void hotplugEventsRunInTheHandlingThread()
    {
        libusb_context *ctx = nullptr;
        QCOMPARE(libusb_init(&ctx), 0);
        QVERIFY(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG));
        QVERIFY(m_sim.plug("qz07 port 7"));   // before registration: no event
        QList<Event> events;
        libusb_hotplug_callback_handle handle = 0;
        QCOMPARE(libusb_hotplug_register_callback(ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                                                  0, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                                  LIBUSB_HOTPLUG_MATCH_ANY, record, &events, &handle), 0);
        QVERIFY(m_sim.plugUsb("046d:c077 port 2 class 3"));
        QVERIFY(m_sim.unplug("qz07"));
        QVERIFY(events.isEmpty());   // gathered until events are handled
        handleEvents(ctx);
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].event, int(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED));
        QCOMPARE(events[0].vid, quint16(0x046d));
        QCOMPARE(events[0].deviceClass, quint8(3));
        QCOMPARE(events[1].event, int(LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT));
        QCOMPARE(events[1].port, quint8(7));
        libusb_hotplug_deregister_callback(ctx, handle);
        QVERIFY(m_sim.unplug("046d:c077"));
        handleEvents(ctx);
        QCOMPARE(events.size(), 2);

        QList<Event> once;
        QCOMPARE(libusb_hotplug_register_callback(ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, LIBUSB_HOTPLUG_ENUMERATE,
                                                  0x0b57, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                                  recordOnce, &once, nullptr), 0);
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(m_sim.plug("t330 port 9"));
        handleEvents(ctx);
        QCOMPARE(once.size(), 1);   // a non-zero return ended the registration
        QVERIFY(m_sim.status().contains("contexts 1 log-levels 0 callbacks 0"));
        libusb_exit(ctx);
    }

    void hotplugCapabilityCanBeSwitchedOff()
    {
        QVERIFY(m_sim.ok("hotplug off"));
        QVERIFY(!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG));
        libusb_context *ctx = nullptr;
        QCOMPARE(libusb_init(&ctx), 0);
        QList<Event> events;
        QCOMPARE(libusb_hotplug_register_callback(ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, 0, LIBUSB_HOTPLUG_MATCH_ANY,
                                                  LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, record, &events,
                                                  nullptr), int(LIBUSB_ERROR_NOT_SUPPORTED));
        libusb_exit(ctx);
        QVERIFY(m_sim.ok("hotplug on"));
        QVERIFY(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG));
    }
};

QTEST_GUILESS_MAIN(PadSimHid)
#include "tst_padsim_hid.moc"

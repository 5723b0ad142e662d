// QUsb against the virtual pad: the device list, both monitor modes, the
// inert modes and what the monitor leaves behind.

#include "usb/qusb.h"

#include "support/messagelog.h"
#include "support/padsim.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using Id = QUsb::Id;

namespace {
const Id kQz07(0x600c, 0x28bd);
// Two of the monitor's 250 ms ticks, and some room.
constexpr int kInertWatchMs = 600;
}

class QUsbMonitor : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

    static Id at(const QSignalSpy &spy, int index) { return spy.at(index).at(0).value<Id>(); }
    QString contextsLine() const { return m_sim.status().filter(QRegularExpression("^contexts ")).value(0); }

private slots:
    void init() { QVERIFY(m_sim.ok("reset")); }

    void devicesListsUsbEntriesThenHidInterfaces()
    {
        QVERIFY(m_sim.plug("qz07 bus 1 port 4 class 3 subclass 1"));
        QVERIFY(m_sim.plugUsb("046d:c077 bus 2 port 1 class 9"));
        QVERIFY(m_sim.plug("kz07 bus 3 port 7"));
        const QUsb::IdList expected{Id(0x600c, 0x28bd, 1, 4), Id(0xc077, 0x046d, 2, 1), Id(0x0019, 0x2207, 3, 7),
                                    Id(0x600c, 0x28bd, 0, 0), Id(0x0019, 0x2207, 0, 0)};
        QCOMPARE(QUsb::devices(), expected);   // class and subclass stay 0
        QCOMPARE(contextsLine(), QString("contexts 0 log-levels callbacks 0"));
    }

    void devicesWithoutAContextListsHidInterfacesOnly()
    {
        QVERIFY(m_sim.plug("t330 bus 1 port 2"));
        QVERIFY(m_sim.plugUsb("046d:c077"));
        QVERIFY(m_sim.fault("fail-init"));
        MessageLog messages;
        QCOMPARE(QUsb::devices(), QUsb::IdList{Id(0x8534, 0x0b57, 0, 0)});
        QVERIFY(messages.contains(QtCriticalMsg, "libusb_init Error -99"));
    }

    void devicesAfterAFailedListReadIsEmpty()
    {
        QVERIFY(m_sim.plug("qz07"));
        QVERIFY(m_sim.fault("fail-list"));
        MessageLog messages;
        QCOMPARE(QUsb::devices(), QUsb::IdList{});
        QVERIFY(messages.contains(QtCriticalMsg, "libusb_get_device_list Error"));
        QCOMPARE(QUsb::devices().size(), 2);   // the fault was for one read
        QCOMPARE(contextsLine(), QString("contexts 0 log-levels callbacks 0"));
    }

    void devicesSkipsUnreadableDescriptors()
    {
        QVERIFY(m_sim.plug("qz07 bus 1 port 1"));
        QVERIFY(m_sim.fault("fail-descriptor"));
        QCOMPARE(QUsb::devices(), QUsb::IdList{Id(0x600c, 0x28bd, 0, 0)});
    }

    void hotplugModeAnnouncesEachDeviceOnce()
    {
        QUsb usb;
        QCOMPARE(contextsLine(), QString("contexts 1 log-levels 2 callbacks 1"));
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        QThread *signalThread = nullptr;
        connect(&usb, &QUsb::deviceInserted, this, [&] { signalThread = QThread::currentThread(); });

        QVERIFY(m_sim.plugUsb("1a2b:3c4d bus 2 port 5 class 9 subclass 1"));
        QVERIFY(inserted.wait());
        QVERIFY(m_sim.plug("qz07 bus 1 port 3 class 3 subclass 1"));
        QTRY_COMPARE(inserted.count(), 2);
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor looked twice more
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(at(inserted, 0), Id(0x3c4d, 0x1a2b, 2, 5, 9, 1));
        QCOMPARE(at(inserted, 1), Id(0x600c, 0x28bd, 1, 3, 3, 1));
        QCOMPARE(signalThread, QThread::currentThread());

        QVERIFY(m_sim.unplug("qz07"));
        QVERIFY(removed.wait());
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor looked twice more
        QCOMPARE(removed.count(), 1);
        QCOMPARE(at(removed, 0), Id(0x600c, 0x28bd, 1, 3, 3, 1));
        QVERIFY(!usb.isPresent(kQz07));   // the hot-plug mode keeps the list it started with
    }

    void devicesPresentAtStartRaiseNothing_data()
    {
        QTest::addColumn<QString>("hotplug");
        QTest::newRow("hot-plug") << "on";
        QTest::newRow("polling") << "off";
    }
    void devicesPresentAtStartRaiseNothing()
    {
        QFETCH(QString, hotplug);
        QVERIFY(m_sim.ok("hotplug " + hotplug));
        QVERIFY(m_sim.plug("qz07"));
        QVERIFY(m_sim.plugUsb("046d:c077"));
        QUsb usb;
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor looked twice more
        QCOMPARE(inserted.count() + removed.count(), 0);
        QVERIFY(usb.isPresent(kQz07));
        QVERIFY(usb.isPresent(Id(0xc077, 0x046d)));
    }

    void pollingAnnouncesRealEntryThenHidEntry()
    {
        QVERIFY(m_sim.ok("hotplug off"));
        QUsb usb;
        QCOMPARE(contextsLine(), QString("contexts 1 log-levels 2 callbacks 0"));
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        QVERIFY(m_sim.plug("qz07 bus 1 port 6"));
        QVERIFY(inserted.wait());
        QCOMPARE(inserted.count(), 2);   // both at one tick
        QCOMPARE(at(inserted, 0), Id(0x600c, 0x28bd, 1, 6));
        QCOMPARE(at(inserted, 1), Id(0x600c, 0x28bd, 0, 0));
        QVERIFY(usb.isPresent(kQz07));

        QVERIFY(m_sim.unplug("qz07"));
        QVERIFY(removed.wait());
        QCOMPARE(removed.count(), 2);
        QCOMPARE(at(removed, 0), Id(0x600c, 0x28bd, 1, 6));
        QCOMPARE(at(removed, 1), Id(0x600c, 0x28bd, 0, 0));
        QVERIFY(!usb.isPresent(kQz07));
        QCOMPARE(inserted.count(), 2);
    }

    void pollingTwoIdenticalPads()
    {
        QVERIFY(m_sim.ok("hotplug off"));
        QUsb usb;
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        QVERIFY(m_sim.plug("qz07 bus 1 port 1"));
        QTRY_COMPARE(inserted.count(), 2);
        QVERIFY(m_sim.plug("qz07 bus 1 port 2 serial SECOND0001"));
        QVERIFY(inserted.wait());
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor looked twice more
        QCOMPARE(inserted.count(), 3);   // its HID entry matches the first pad's
        QCOMPARE(at(inserted, 2), Id(0x600c, 0x28bd, 1, 2));

        QVERIFY(m_sim.unplug("qz07 bus 1 port 2"));
        QVERIFY(removed.wait());
        QVERIFY(m_sim.waitForHostLooks(m_sim.hostLooks())); // the monitor looked twice more
        QCOMPARE(removed.count(), 1);
        QCOMPARE(at(removed, 0), Id(0x600c, 0x28bd, 1, 2));
    }

    void pollingFailedListReadRemovesThenRestoresEverything()
    {
        QVERIFY(m_sim.ok("hotplug off"));
        QVERIFY(m_sim.plug("qz07 bus 1 port 1"));
        QVERIFY(m_sim.plugUsb("046d:c077 bus 1 port 2"));
        QUsb usb;
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        QList<bool> order;   // true: inserted
        connect(&usb, &QUsb::deviceInserted, this, [&] { order << true; });
        connect(&usb, &QUsb::deviceRemoved, this, [&] { order << false; });
        QVERIFY(m_sim.fault("fail-list"));
        QTRY_COMPARE(removed.count(), 3);
        QTRY_COMPARE(inserted.count(), 3);
        QCOMPARE(order, (QList<bool>{false, false, false, true, true, true}));
        QCOMPARE(at(removed, 0), Id(0x600c, 0x28bd, 1, 1));
        QCOMPARE(at(removed, 2), Id(0x600c, 0x28bd, 0, 0));
        QCOMPARE(at(inserted, 1), Id(0xc077, 0x046d, 1, 2));
    }

    void inertWhenLibusbCannotStart()
    {
        QVERIFY(m_sim.fault("fail-init"));
        MessageLog messages;
        QUsb usb;
        QVERIFY(messages.contains(QtCriticalMsg, "LibUsb Init Error -99"));
        QVERIFY(m_sim.fault("none"));
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QVERIFY(m_sim.plug("qz07"));
        QTest::qWait(kInertWatchMs); // an inert monitor never looks: watched for two ticks' time
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(QUsb::devices().size(), 2);   // the static list has contexts of its own
        QCOMPARE(contextsLine(), QString("contexts 0 log-levels callbacks 0"));
    }

    void inertWhenTheCallbackCannotBeRegistered()
    {
        QVERIFY(m_sim.fault("fail-hotplug"));
        MessageLog messages;
        QUsb usb;
        QVERIFY(messages.contains(QtWarningMsg, "Error creating hotplug callback"));
        QCOMPARE(contextsLine(), QString("contexts 0 log-levels callbacks 0"));   // released at once
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QVERIFY(m_sim.plug("qz07"));
        QTest::qWait(kInertWatchMs); // an inert monitor never looks: watched for two ticks' time
        QCOMPARE(inserted.count(), 0);   // and no polling instead
    }

    void unreadableDescriptorInTheCallback()
    {
        QUsb usb;
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QVERIFY(m_sim.fault("fail-descriptor"));
        MessageLog messages;
        QVERIFY(m_sim.plugUsb("046d:c077 bus 4 port 2 class 9"));
        QVERIFY(inserted.wait());
        QCOMPARE(at(inserted, 0), Id(0, 0, 4, 2, 0, 0));
        QVERIFY(messages.contains(QtWarningMsg, "Unreadable device descriptor on bus 4, port 2"));
    }

    void callbackTracesAboveLevelThree()
    {
        QUsb usb;
        usb.setLogLevel(4);
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        MessageLog messages;
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(inserted.wait());
        QVERIFY(messages.texts().contains("hotplugCallback"));
        QVERIFY(messages.texts().filter(QRegularExpression(R"(^\*\*\*\[ int hotplugCallback\(.*\) \]\*\*\*$)")).size() == 1);
    }

    void destructionReleasesTheCallbackAndContext()
    {
        QUsb::IdList seen;
        {
            QUsb usb;
            connect(&usb, &QUsb::deviceInserted, this, [&](Id id) { seen << id; });
            QVERIFY(m_sim.plug("qz07"));
        }
        // No event loop ran: the last pass of event handling in the destructor delivered it.
        QCOMPARE(seen.size(), 1);
        QCOMPARE(contextsLine(), QString("contexts 0 log-levels callbacks 0"));
        QUsb again;   // a second monitor in the same process registers afresh
        QSignalSpy inserted(&again, &QUsb::deviceInserted);
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(inserted.wait());
        QCOMPARE(at(inserted, 0).vid, quint16(0x0b57));
    }
};

QTEST_GUILESS_MAIN(QUsbMonitor)
#include "tst_qusb_monitor.moc"

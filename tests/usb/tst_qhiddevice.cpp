// QHidDevice against the virtual pad: hidapi's results passed through, the
// array sizing, the strings, closed objects, and reads ended from elsewhere.

#include "usb/qhiddevice.h"

#include "support/padsim.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

class QHidDeviceTest : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

    bool openQz07(QHidDevice &hid)
    {
        return m_sim.plug("qz07 serial QZ07AB1234") && hid.open(0x28bd, 0x600c);
    }

private slots:
    void init() { QVERIFY(m_sim.ok("reset")); }

    void metaObjectHasOnlyItsName()
    {
        const QMetaObject &meta = QHidDevice::staticMetaObject;
        QCOMPARE(QString(meta.className()), QString("QHidDevice"));
        QCOMPARE(meta.methodCount(), QObject::staticMetaObject.methodCount());
        QCOMPARE(meta.propertyCount(), QObject::staticMetaObject.propertyCount());
    }

    void openWithAndWithoutSerial()
    {
        QVERIFY(m_sim.plug("qz07 serial FIRST00001"));
        QVERIFY(m_sim.plug("qz07 serial SECOND0001"));
        QHidDevice hid;
        QVERIFY(!hid.isOpen());
        const QString second("SECOND0001");
        QVERIFY(hid.open(0x28bd, 0x600c, &second));
        QCOMPARE(hid.serialNumber(), second);
        hid.close();
        const QString empty;
        QVERIFY(hid.open(0x28bd, 0x600c, &empty));   // an empty serial filters nothing
        QCOMPARE(hid.serialNumber(), QString("FIRST00001"));
        hid.close();
        const QString absent("NOPE");
        QVERIFY(!hid.open(0x28bd, 0x600c, &absent));
        QVERIFY(!hid.isOpen());
        QVERIFY(!hid.open(0x0b57, 0x8534));
        QCOMPARE(m_sim.log(), (QStringList{"open 28bd:600c", "serial", "close", "open 28bd:600c", "serial",
                                            "close", "open 28bd:600c", "open 0b57:8534"}));
    }

    void openFailureLeavesItClosed()
    {
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(m_sim.fault("fail-open"));
        QHidDevice hid;
        QVERIFY(!hid.open(0x0b57, 0x8534));
        QVERIFY(!hid.isOpen());
        hid.close();   // harmless
        QCOMPARE(m_sim.log(), QStringList{"open 0b57:8534"});
    }

    void stringsAndTheirLimits()
    {
        const QString longSerial = QString("S").repeated(30) + QString("x").repeated(30);
        QVERIFY(m_sim.plug("t330 serial " + longSerial));
        QHidDevice hid;
        QCOMPARE(hid.serialNumber(), QString("Device Closed"));
        QCOMPARE(hid.manufacturer(), QString("Device Closed"));
        QCOMPARE(hid.product(), QString("Device Closed"));
        QVERIFY(m_sim.log().isEmpty());   // nothing was asked while closed

        QVERIFY(hid.open(0x0b57, 0x8534));
        QCOMPARE(hid.serialNumber(), longSerial.left(49));
        QCOMPARE(hid.manufacturer(), QString("Tavrel"));
        QCOMPARE(hid.product(), QString("T330"));

        QVERIFY(m_sim.fault("fail-string"));   // the pad scribbles over the buffer, as hidapi may
        QCOMPARE(hid.serialNumber(), QString());
        QCOMPARE(hid.manufacturer(), QString());
        QCOMPARE(hid.product(), QString());
        hid.close();
    }

    void writeAndFeatureReportsPassBytesUnchanged()
    {
        QHidDevice hid;
        QVERIFY(openQz07(hid));
        QVERIFY(m_sim.clearLog());
        const QByteArray start = QByteArray::fromHex("06010000000000000000");
        QCOMPARE(hid.sendFeatureReport(&start), 10);
        QCOMPARE(hid.sendFeatureReport(&start, 2), 2);
        const QByteArray frame = QByteArray::fromHex("00000100010024") + QByteArray(5, '\0');
        QCOMPARE(hid.write(&frame), frame.size());
        QCOMPARE(hid.write(&frame, 3), 3);
        QCOMPARE(m_sim.log(), (QStringList{"feature 06010000000000000000", "feature 0601",
                                            "write 000001000100240000000000", "write 000001"}));
        QVERIFY(m_sim.fault("fail-write"));
        QCOMPARE(hid.write(&frame), -1);
        QCOMPARE(hid.sendFeatureReport(&start), -1);
        hid.close();
    }

    void getFeatureReportAlwaysAsksForReportZero()
    {
        QHidDevice hid;
        QVERIFY(openQz07(hid));
        QVERIFY(m_sim.clearLog());
        QByteArray buffer(256, '\x06');
        const int result = hid.getFeatureReport(&buffer);
        QCOMPARE(buffer.size(), 256);                  // kept at its length
        QCOMPARE(quint8(buffer[0]), quint8(0));        // report 0
        QCOMPARE(result, 64);                          // the QZ07's 63 bytes and the number
        QCOMPARE(quint8(buffer[1]), quint8(0x06));     // the pad's state follows the number
        QCOMPARE(buffer.mid(64), QByteArray(192, '\0'));
        QCOMPARE(m_sim.log(), QStringList{"get-feature 256"});
        hid.close();
    }

    void readSizesTheArray()
    {
        QHidDevice hid;
        QVERIFY(openQz07(hid));
        QVERIFY(m_sim.report("0200a00fb80b3412"));
        QByteArray buffer(64, 'x');
        QCOMPARE(hid.read(&buffer, -1, 1000), 8);
        QCOMPARE(buffer, QByteArray::fromHex("0200a00fb80b3412"));

        QCOMPARE(hid.read(&buffer, 64, 0), 0);         // nothing waiting
        QVERIFY(buffer.isEmpty());
        QVERIFY(m_sim.report("01020304"));
        QCOMPARE(hid.read(&buffer, -1, 1000), 0);      // -1 now asks for 0 bytes: the report is lost
        QCOMPARE(hid.read(&buffer, 2, 0), 0);
        QVERIFY(m_sim.report("01020304"));
        QCOMPARE(hid.read(&buffer, 2, 0), 2);          // a longer report is cut, as by hidapi
        QCOMPARE(buffer, QByteArray::fromHex("0102"));

        QVERIFY(m_sim.fault("fail-read"));
        buffer = QByteArray(8, 'x');
        QCOMPARE(hid.read(&buffer, -1, 1000), -1);
        QVERIFY(buffer.isEmpty());
        hid.close();
    }

    void readTimesOutAfterItsLimit()
    {
        QHidDevice hid;
        QVERIFY(openQz07(hid));
        QByteArray buffer;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(hid.read(&buffer, 64, 250), 0);
        QVERIFY(clock.elapsed() >= 240);
        QVERIFY(buffer.isEmpty());
        hid.close();
    }

    void closedObjectTransfersFail()
    {
        QHidDevice hid;
        QByteArray data = QByteArray::fromHex("0601");
        QCOMPARE(hid.write(&data), -1);
        QCOMPARE(hid.sendFeatureReport(&data), -1);
        QCOMPARE(hid.read(&data, 8, 0), -1);
        QVERIFY(data.isEmpty());
        QCOMPARE(hid.getFeatureReport(&data, 4), -1);
        QVERIFY(m_sim.log().isEmpty());
    }

    void waitingReadEndsWhenThePadIsPulledOut()
    {
        QHidDevice hid;
        QVERIFY(openQz07(hid));
        std::atomic<int> result{1};
        std::thread reader([&] {
            QByteArray buffer;
            result = hid.read(&buffer, 64, -1);
        });
        QVERIFY(m_sim.waitUntilAllRead());   // the read waits inside the library
        QCOMPARE(result.load(), 1);
        QVERIFY(m_sim.unplug("qz07"));
        reader.join();
        QCOMPARE(result.load(), -1);
        QByteArray data = QByteArray::fromHex("0601");
        QCOMPARE(hid.sendFeatureReport(&data), -1);
        hid.close();
        QVERIFY(!hid.isOpen());
    }

    // Closing from another thread ends the wait; the handle is released only
    // after the reader has left (a sanitizer run shows no use after free).
    void waitingReadEndsWhenClosedFromAnotherThread()
    {
        for (int round = 0; round < 5; ++round) {
            QVERIFY(m_sim.ok("reset"));
            auto *hid = new QHidDevice;
            QVERIFY(openQz07(*hid));
            std::atomic<bool> reading{false};
            std::atomic<int> result{1};
            std::thread reader([&] {
                QByteArray buffer;
                reading = true;
                result = hid->read(&buffer, 1256, -1);
            });
            while (!reading)
                QThread::msleep(1);
            QThread::msleep(round * 20);
            QElapsedTimer clock;
            clock.start();
            hid->close();
            QVERIFY(clock.elapsed() < 2000);
            reader.join();
            QCOMPARE(result.load(), -1);
            QVERIFY(!hid->isOpen());
            delete hid;
        }
        QVERIFY(m_sim.log().contains("close"));
    }

    void readerAndWriterShareTheHandle()
    {
        QHidDevice hid;
        QVERIFY(openQz07(hid));
        constexpr int kReports = 20;
        std::atomic<int> received{0};
        std::thread reader([&] {
            QByteArray buffer;
            while (received < kReports && hid.read(&buffer, 64, 2000) > 0)
                ++received;
        });
        const QByteArray command = QByteArray::fromHex("06020000000000000000");
        for (int i = 0; i < kReports; ++i) {
            QCOMPARE(hid.sendFeatureReport(&command), 10);
            QVERIFY(m_sim.report(QString("02%1").arg(i, 2, 16, QChar('0'))));
        }
        reader.join();
        QCOMPARE(received.load(), kReports);
        hid.close();
    }

    void destructorReleasesAnOpenHandle()
    {
        {
            QHidDevice hid;
            QVERIFY(openQz07(hid));
        }
        QHidDevice again;
        QVERIFY(again.open(0x28bd, 0x600c));   // the interface was free again
        again.close();
    }
};

QTEST_GUILESS_MAIN(QHidDeviceTest)
#include "tst_qhiddevice.moc"

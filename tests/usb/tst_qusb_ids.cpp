// The monitor's vocabulary and list rules: identities, the lookup match, the
// watch list, the insert-before-remove diff, the meta-object and the traces.

#include "usb/qusb.h"

#include "support/messagelog.h"
#include "support/padsim.h"

#include <QMetaMethod>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using Id = QUsb::Id;

class QUsbIds : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

    static Id first(const QSignalSpy &spy, int index) { return spy.at(index).at(0).value<Id>(); }

    void diff(QUsb &usb, const QUsb::IdList &list)
    {
        QVERIFY(QMetaObject::invokeMethod(&usb, "monitorDevices", Qt::DirectConnection, Q_ARG(QUsb::IdList, list)));
    }

private slots:
    void init() { QVERIFY(m_sim.ok("fault none")); }

    void textForm()
    {
        QCOMPARE(QString(Id(0x8534, 0x0b57, 1, 3)), QString("Id(Vid: 0b57, Pid: 8534, Bus: 1, Port: 3, Class: 0, Subclass: 0)"));
        QCOMPARE(QString(Id()), QString("Id(Vid: 0000, Pid: 0000, Bus: 255, Port: 255, Class: 0, Subclass: 0)"));
        QCOMPARE(QString(Id(0xABCD, 0x00F1, 10, 0, 9, 2)), QString("Id(Vid: 00f1, Pid: abcd, Bus: 10, Port: 0, Class: 9, Subclass: 2)"));
        QCOMPARE(QString(QUsb::Config()), QString("Config(Config: 1, Interface: 0, Alternate: 0)"));
        QVERIFY(QUsb::Config(1, 2, 3) == QUsb::Config(1, 2, 3));
        QVERIFY(QUsb::Config(1, 2, 3) != QUsb::Config(1, 2, 4));
    }

    void equalityIsExactButLookupIgnoresClass()
    {
        QUsb usb;
        const Id plain(0x600c, 0x28bd, 1, 2, 0, 0);
        const Id classed(0x600c, 0x28bd, 1, 2, 3, 1);
        QVERIFY(plain != classed);
        QVERIFY(plain == Id(0x600c, 0x28bd, 1, 2));
        QCOMPARE(usb.findDevice(classed, {plain}), 0);
        QVERIFY(!usb.addDevice(classed) || !usb.addDevice(plain));
    }

    void lookupWildcardNeedsBusAndPortTogether()
    {
        QUsb usb;
        const QUsb::IdList list{Id(0x8534, 0x0b57, 1, 3), Id(0x8534, 0x0b57, 255, 3), Id(0x600c, 0x28bd, 2, 3)};
        QCOMPARE(usb.findDevice(Id(0x8534, 0x0b57), list), 0);                 // any bus, any port
        QCOMPARE(usb.findDevice(Id(0x8534, 0x0b57, 255, 3), list), 1);         // bus 255 literally
        QCOMPARE(usb.findDevice(Id(0x8534, 0x0b57, 1, 255), list), -1);        // port 255 literally
        QCOMPARE(usb.findDevice(Id(0x8534, 0x0b57, 1, 4), list), -1);
        QCOMPARE(usb.findDevice(Id(0x600c, 0x28bd, 2, 3), list), 2);
        QCOMPARE(usb.findDevice(Id(0x28bd, 0x600c, 2, 3), list), -1);          // vid and pid not swapped
        QCOMPARE(usb.findDevice(Id(), {}), -1);
    }

    void watchList()
    {
        QUsb usb;
        const Id pad(0x600c, 0x28bd, 1, 2);
        QVERIFY(usb.addDevice(pad));
        QVERIFY(!usb.addDevice(Id(0x600c, 0x28bd, 1, 2, 3, 0)));   // same device, other class
        QVERIFY(usb.addDevice(Id(0x600c, 0x28bd, 1, 3)));
        QVERIFY(usb.removeDevice(pad));
        QVERIFY(usb.addDevice(pad));                               // it was gone
        QVERIFY(usb.removeDevice(Id(0x1111, 0x2222)));             // absent: still true
        QVERIFY(usb.removeDevice(Id(0x600c, 0x28bd)));             // wildcard removes the first match: port 3
        QVERIFY(!usb.addDevice(pad));
        QVERIFY(usb.addDevice(Id(0x600c, 0x28bd, 1, 3)));
    }

    void diffAnnouncesInsertionsBeforeRemovals()
    {
        QUsb usb;
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        QList<QPair<bool, Id>> order;
        connect(&usb, &QUsb::deviceInserted, this, [&](Id id) { order.append({true, id}); });
        connect(&usb, &QUsb::deviceRemoved, this, [&](Id id) { order.append({false, id}); });

        const Id a(1, 0xaaaa, 1, 1), b(2, 0xbbbb, 1, 2), c(3, 0xcccc, 1, 3), d(4, 0xdddd, 1, 4);
        diff(usb, {a, b});
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(first(inserted, 0), a);
        QCOMPARE(first(inserted, 1), b);
        order.clear();
        diff(usb, {c, b, d});
        QCOMPARE(order.size(), 3);
        QVERIFY(order[0].first && order[0].second == c);
        QVERIFY(order[1].first && order[1].second == d);
        QVERIFY(!order[2].first && order[2].second == a);
        QVERIFY(usb.isPresent(d));
        QVERIFY(!usb.isPresent(a));
        QVERIFY(usb.isPresent(Id(4, 0xdddd)));   // wildcard
        order.clear();
        diff(usb, {c, b, d});
        QVERIFY(order.isEmpty());
        diff(usb, {});
        QCOMPARE(order.size(), 3);
        QVERIFY(!order[0].first && order[0].second == c);
    }

    void diffMatchesByBusAndPortNotClass()
    {
        QUsb usb;
        diff(usb, {Id(1, 0xaaaa, 1, 1, 9, 0)});
        QSignalSpy inserted(&usb, &QUsb::deviceInserted);
        QSignalSpy removed(&usb, &QUsb::deviceRemoved);
        diff(usb, {Id(1, 0xaaaa, 1, 1, 0, 0)});                // only the class changed
        QCOMPARE(inserted.count() + removed.count(), 0);
        diff(usb, {Id(1, 0xaaaa, 1, 2)});                      // moved to another port
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(removed.count(), 1);
    }

    void metaObject()
    {
        const QMetaObject &meta = QUsb::staticMetaObject;
        QCOMPARE(QString(meta.className()), QString("QUsb"));
        const int offset = QObject::staticMetaObject.methodCount();
        const QStringList expected{"deviceInserted(QUsb::Id)", "deviceRemoved(QUsb::Id)", "addDevice(QUsb::Id)",
                                   "removeDevice(QUsb::Id)", "monitorDevices(QUsb::IdList)", "checkDevices()"};
        QCOMPARE(meta.methodCount() - offset, expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(QString(meta.method(offset + i).methodSignature()), expected[i]);
        QCOMPARE(meta.method(offset).methodType(), QMetaMethod::Signal);
        QCOMPARE(meta.method(offset + 2).access(), QMetaMethod::Public);
        QCOMPARE(meta.method(offset + 4).access(), QMetaMethod::Protected);
        QCOMPARE(QString(meta.method(offset + 2).typeName()), QString("bool"));
        QCOMPARE(meta.propertyCount() - QObject::staticMetaObject.propertyCount(), 1);
        QCOMPARE(QString(meta.property(meta.propertyOffset()).name()), QString("logLevel"));
    }

    void metaTypes()
    {
        QUsb usb;
        for (const char *name : {"QUsb::Id", "QUsb::Config", "QUsb::IdList", "QUsb::ConfigList"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
        const QVariant list = QVariant::fromValue(QUsb::IdList{Id(1, 2), Id(3, 4)});
        QVERIFY(list.canConvert<QVariantList>());
        QCOMPARE(list.value<QVariantList>().size(), 2);
        QCOMPARE(list.value<QVariantList>().at(1).value<Id>(), Id(3, 4));
        QVERIFY(QVariant::fromValue(QUsb::ConfigList{QUsb::Config()}).canConvert<QVariantList>());
        QCOMPARE(usb.property("logLevel").toInt(), 3);
        QVERIFY(usb.setProperty("logLevel", QVariant::fromValue<QUsb::LogLevel>(5)));
        QCOMPARE(int(usb.logLevel()), 5);
    }

    // A queued connection copies the identity through its meta-type.
    void queuedSignalsCarryTheIdentity()
    {
        QUsb usb;
        QUsb::IdList received;
        connect(&usb, &QUsb::deviceInserted, this, [&received](Id id) { received << id; }, Qt::QueuedConnection);
        diff(usb, {Id(0x8534, 0x0b57, 1, 3, 3, 1)});
        QVERIFY(received.isEmpty());
        QTRY_COMPARE(received, QUsb::IdList{Id(0x8534, 0x0b57, 1, 3, 3, 1)});
    }

    void tracesAboveLevelThree()
    {
        QUsb usb;
        {
            MessageLog messages;
            usb.findDevice(Id(), {});
            usb.isPresent(Id());
            usb.setLogLevel(4);   // judged by the level before the change
            QVERIFY(messages.texts().isEmpty());
        }
        MessageLog messages;
        usb.findDevice(Id(), {});
        usb.addDevice(Id(1, 1));
        usb.removeDevice(Id(1, 1));
        QVERIFY(QMetaObject::invokeMethod(&usb, "checkDevices", Qt::DirectConnection));
        usb.setLogLevel(3);
        const QStringList texts = messages.texts();
        QVERIFY2(texts.contains("***[ int QUsb::findDevice(const Id&, const IdList&) const ]***"), qPrintable(texts.join('\n')));
        QVERIFY(texts.contains("***[ void QUsb::checkDevices() ]***"));
        QVERIFY(texts.contains("***[ bool QUsb::addDevice(const Id&) ]***"));
        QVERIFY(texts.contains("***[ bool QUsb::removeDevice(const Id&) ]***"));
        QVERIFY(texts.contains("***[ void QUsb::setLogLevel(LogLevel) ]***"));
        for (const auto &entry : messages.entries()) {
            QCOMPARE(entry.type, QtDebugMsg);
            QCOMPARE(entry.category, QString("default"));
        }
    }

    void logLevelMapsOntoLibusb()
    {
        QUsb usb;
        const QList<QPair<int, QString>> levels{{0, "1"}, {1, "1"}, {2, "2"}, {3, "2"}, {4, "4"}, {200, "4"}};
        for (const auto &level : levels) {
            usb.setLogLevel(static_cast<QUsb::LogLevel>(level.first));
            const QString contexts = m_sim.status().filter(QRegularExpression("^contexts ")).value(0);
            QCOMPARE(contexts, QString("contexts 1 log-levels %1 callbacks 1").arg(level.second));
        }
    }
};

QTEST_GUILESS_MAIN(QUsbIds)
#include "tst_qusb_ids.moc"

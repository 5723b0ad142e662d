// Each virtual pad model's side of the wire: answers to the driver's
// commands, pen and button reports in the model's own format, when reports
// flow, and strokes played at a rate.

#include "support/padsim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <QTest>

#include <chrono>

#include <hidapi.h>

namespace {

quint16 crc16Usb(const QByteArray &bytes)
{
    quint16 crc = 0xffff;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xa001) : quint16(crc >> 1);
    }
    return quint16(crc ^ 0xffff);
}

QByteArray be16(quint16 value)
{
    return QByteArray(1, char(value >> 8)) + char(value & 0xff);
}

// A KZ07 output report: number 00, header, payload, zero filler to 1025 bytes.
QByteArray frame(quint16 id, const QByteArray &payload, quint16 flag = 1)
{
    QByteArray header = be16(id) + be16(flag) + be16(quint16(payload.size() + 12)) + be16(0) + QByteArray(4, '\0');
    const quint16 crc = crc16Usb(header + payload);
    header.replace(6, 2, be16(crc));
    QByteArray report = QByteArray(1, '\0') + header + payload;
    report.append(QByteArray(1025 - report.size(), '\0'));
    return report;
}

class Pad
{
public:
    Pad(quint16 vid, quint16 pid) : m_dev(hid_open(vid, pid, nullptr)) {}
    ~Pad() { if (m_dev) hid_close(m_dev); }
    bool isOpen() const { return m_dev; }
    hid_device *handle() const { return m_dev; }
    int write(const QByteArray &bytes) { return hid_write(m_dev, reinterpret_cast<const uchar *>(bytes.data()), size_t(bytes.size())); }
    int feature(const QByteArray &hex)
    {
        QByteArray bytes = QByteArray::fromHex(hex);
        return hid_send_feature_report(m_dev, reinterpret_cast<const uchar *>(bytes.data()), size_t(bytes.size()));
    }
    QByteArray read(int timeout = 1000)
    {
        uchar buffer[1256];
        const int n = hid_read_timeout(m_dev, buffer, sizeof buffer, timeout);
        return n > 0 ? QByteArray(reinterpret_cast<char *>(buffer), n) : QByteArray();
    }

private:
    hid_device *m_dev;
};

QByteArray startQz07() { return "06010000000000000000"; }
QByteArray padded(const char *hex, int size) { return QByteArray(hex) + QByteArray((size * 2) - int(qstrlen(hex)), '0'); }

QJsonObject kz07Json(const QByteArray &report)
{
    QByteArray text = report.mid(12, 206);
    text.truncate(text.indexOf('\0') < 0 ? text.size() : text.indexOf('\0'));
    return QJsonDocument::fromJson(text).object();
}

// The T330's strip rules, as the driver reads them.
int t330Button(const QByteArray &r)
{
    const int x = quint8(r[2]) << 8 | quint8(r[3]);
    const int y = quint8(r[4]) << 8 | quint8(r[5]);
    if (y <= 7422 * 7 / 8 || y >= 7422)
        return -1;
    return x < 10206 / 3 ? 3 : x < 10206 * 2 / 3 ? 2 : x < 10206 ? 4 : -1;
}

} // namespace

class PadSimModels : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

private slots:
    void init() { QVERIFY(m_sim.ok("reset")); }

    void checksumAgreesWithTheStandard()
    {
        QCOMPARE(crc16Usb("123456789"), quint16(0xb4c8));
        QCOMPARE(frame(1, R"({"func":"GetDeviceInfo"})").left(13), QByteArray::fromHex("00000100010024 6fc2 00000000"));
    }

    void t330ReportsItsPenAlways()
    {
        QVERIFY(m_sim.plug("t330 serial T330XYZ"));
        Pad pad(0x0b57, 0x8534);
        QVERIFY(pad.isOpen());
        QCOMPARE(m_sim.command("pen 4000 3000 1026"), QString("ok sent 1"));
        QCOMPARE(pad.read(), QByteArray::fromHex("02000fa00bb88040"));
        QVERIFY(m_sim.ok("pen 0 0 2047"));
        QCOMPARE(pad.read(), QByteArray::fromHex("01").prepend('\x02') + QByteArray::fromHex("00000000ffc0"));
        QCOMPARE(pad.write(QByteArray::fromHex("0001")), 2);   // takes no commands, ignores them
        QCOMPARE(pad.read(50), QByteArray());
    }

    void t330ButtonsAreSamplesOnItsStrip()
    {
        QVERIFY(m_sim.plug("t330"));
        Pad pad(0x0b57, 0x8534);
        const QList<QPair<QString, int>> buttons{{"confirm", 3}, {"resign", 2}, {"cancel", 4}};
        for (const auto &button : buttons) {
            QCOMPARE(m_sim.command("button " + button.first), QString("ok sent 1"));
            const QByteArray report = pad.read();
            QCOMPARE(report.size(), 8);
            QCOMPARE(t330Button(report), button.second);
        }
    }

    void qz07AnswersItsSerialQuery()
    {
        QVERIFY(m_sim.plug("qz07 serial 0123456789"));
        Pad pad(0x28bd, 0x600c);
        QCOMPARE(pad.feature(padded("00080b", 64)), 64);
        const QByteArray reply = pad.read();
        QCOMPARE(reply.size(), 64);
        QCOMPARE(reply.mid(32, 10), QByteArray("0123456789"));
        QCOMPARE(reply.mid(42), QByteArray(22, '\0'));
        QCOMPARE(pad.read(50), QByteArray());   // one answer per query
    }

    void qz07ShortSerialEndsInZeros()
    {
        QVERIFY(m_sim.plug("qz07 serial 1234"));
        Pad pad(0x28bd, 0x600c);
        pad.feature(padded("00080b", 64));
        QCOMPARE(pad.read().mid(32, 10), QByteArray("1234") + QByteArray(6, '\0'));
    }

    void qz07SendsPenOnlyWhileSigning()
    {
        QVERIFY(m_sim.plug("qz07"));
        Pad pad(0x28bd, 0x600c);
        QCOMPARE(m_sim.command("pen 4000 3000 4660"), QString("ok sent 0"));
        QCOMPARE(m_sim.command("button confirm"), QString("ok sent 0"));
        QCOMPARE(pad.feature(startQz07()), 10);
        QCOMPARE(m_sim.command("pen 4000 3000 4660"), QString("ok sent 1"));
        QCOMPARE(pad.read().left(8), QByteArray::fromHex("0201a00fb80b3412"));
        QVERIFY(m_sim.ok("pen 1 2 65535"));   // bit 15 is not part of the pressure
        QCOMPARE(pad.read().mid(6, 2), QByteArray::fromHex("ff7f"));
        const QList<QPair<QString, QByteArray>> buttons{{"confirm", "OK"}, {"resign", "CL"}, {"cancel", "CNCL"}};
        for (const auto &button : buttons) {
            QVERIFY(m_sim.ok("button " + button.first));
            const QByteArray report = pad.read();
            QCOMPARE(report.left(2), QByteArray::fromHex("0280"));
            QCOMPARE(report.mid(2, 4), button.second.leftJustified(4, '\0'));
        }
        QCOMPARE(pad.feature("06020000000000000000"), 10);   // sign again: still signing
        QCOMPARE(m_sim.command("pen 1 1 1"), QString("ok sent 1"));
        QCOMPARE(pad.feature("06040000000000000000"), 10);
        QCOMPARE(m_sim.command("pen 1 1 1"), QString("ok sent 0"));
        QCOMPARE(m_sim.log().filter("feature").size(), 3);
    }

    void replyAndStallReplaceTheAnswer()
    {
        QVERIFY(m_sim.plug("qz07"));
        Pad pad(0x28bd, 0x600c);
        QVERIFY(m_sim.ok("reply 0102030405"));
        pad.feature(padded("00080b", 64));
        QCOMPARE(pad.read(), QByteArray::fromHex("0102030405"));
        pad.feature(padded("00080b", 64));
        QCOMPARE(pad.read().mid(32, 10), QByteArray("QZ07SIM001"));   // once only
        QVERIFY(m_sim.fault("stall"));
        pad.feature(padded("00080b", 64));
        QCOMPARE(pad.read(100), QByteArray());
    }

    void kz07AnswersTheWorkedExampleFrame()
    {
        QVERIFY(m_sim.plug("kz07 serial KZ-0042"));
        Pad pad(0x2207, 0x0019);
        QByteArray query = QByteArray::fromHex("000001000100246fc200000000") + R"({"func":"GetDeviceInfo"})";
        query.append(QByteArray(1025 - query.size(), '\0'));
        QCOMPARE(pad.write(query), 1025);
        const QByteArray reply = pad.read();
        QCOMPARE(reply.size(), 256);
        const QByteArray json = R"({"serial":"KZ-0042"})";
        QCOMPARE(reply.left(6), be16(1) + be16(1) + be16(quint16(json.size() + 12)));
        QCOMPARE(reply.mid(8, 4), QByteArray(4, '\0'));
        QCOMPARE(reply.mid(12, json.size()), json);
        QByteArray checked = reply.left(12 + json.size());
        checked[6] = checked[7] = '\0';
        QCOMPARE(reply.mid(6, 2), be16(crc16Usb(checked)));
        QCOMPARE(kz07Json(reply).value("serial").toString(), QString("KZ-0042"));
        QCOMPARE(m_sim.log(), (QStringList{"open 2207:0019", "write " + query.toHex(), "read 1256 1000"}));
    }

    void aPadWithoutASerialNumber()
    {
        QVERIFY(m_sim.plug("t330 no-serial"));
        QVERIFY(m_sim.plug("qz07 no-serial port 5"));
        QVERIFY(m_sim.plug("kz07 no-serial port 6"));
        QVERIFY(m_sim.status().filter("no-serial").size() == 3);

        Pad t330(0x0b57, 0x8534);
        wchar_t text[50];
        text[0] = L'?';
        QCOMPARE(hid_get_serial_number_string(t330.handle(), text, 50), 0);
        QCOMPARE(QString::fromWCharArray(text), QString());

        Pad qz07(0x28bd, 0x600c);
        qz07.feature(padded("00080b", 64));
        QCOMPARE(qz07.read().mid(0, 42), QByteArray::fromHex("080b") + QByteArray(40, '\0'));

        Pad kz07(0x2207, 0x0019);
        kz07.write(frame(1, R"({"func":"GetDeviceInfo"})"));
        const QByteArray reply = kz07.read();
        QCOMPARE(reply.mid(12, 3), QByteArray("{}\0", 3));
        QCOMPARE(m_sim.command("plug kz07 no-serial serial X"),
                 QString("error: 'serial' and 'no-serial' exclude each other"));
    }

    void kz07RefusesMalformedFrames()
    {
        QVERIFY(m_sim.plug("kz07"));
        Pad pad(0x2207, 0x0019);
        const QByteArray good = frame(7, R"({"func":"GetDeviceInfo"})");
        QByteArray badCrc = good;
        badCrc[8] = char(badCrc[8] ^ 1);
        QByteArray badNumber = good;
        badNumber[0] = 1;
        QByteArray badLength = good;
        badLength.replace(5, 2, be16(2000));
        QByteArray badOffset = good;
        badOffset[12] = 1;
        const QList<QPair<QByteArray, QString>> cases{
            {badCrc, "malformed crc"},
            {badNumber, "malformed report-number"},
            {frame(7, R"({"func":"GetDeviceInfo"})", 2), "malformed flag"},
            {badLength, "malformed length"},
            {badOffset, "malformed offset"},
            {good.left(10), "malformed short"},
            {frame(7, "GetDeviceInfo"), "malformed json"},
            {frame(7, R"({"serial":"x"})"), "malformed func"},
        };
        for (const auto &c : cases) {
            QVERIFY(m_sim.clearLog());
            QCOMPARE(pad.write(c.first), c.first.size());
            QCOMPARE(m_sim.log().value(1), c.second);
            QCOMPARE(pad.read(0), QByteArray());
        }
        QCOMPARE(pad.write(good), 1025);
        QCOMPARE(pad.read().left(2), be16(7));   // the answer carries the command's id
    }

    void kz07SendsPenOnlyWhileSigning()
    {
        QVERIFY(m_sim.plug("kz07"));
        Pad pad(0x2207, 0x0019);
        QCOMPARE(m_sim.command("pen 1 2 3"), QString("ok sent 0"));
        QCOMPARE(pad.write(frame(1, R"({"func":"SetCmdToDevice", "flag":"1"})")), 1025);
        QCOMPARE(m_sim.command("pen 120 45 310"), QString("ok sent 1"));
        const QJsonArray info = kz07Json(pad.read()).value("info").toArray();
        QCOMPARE(info.size(), 1);
        QCOMPARE(info[0].toObject(), (QJsonObject{{"x", "120"}, {"y", "45"}, {"pressure", "310"}, {"btnId", "-1"}}));
        const QList<QPair<QString, QString>> buttons{{"resign", "2"}, {"confirm", "3"}, {"cancel", "4"}};
        for (const auto &button : buttons) {
            QVERIFY(m_sim.ok("button " + button.first));
            QCOMPARE(kz07Json(pad.read()).value("info").toArray()[0].toObject().value("btnId").toString(), button.second);
        }
        pad.write(frame(2, R"({"func":"SetCmdToDevice", "flag":"2"})"));
        QCOMPARE(m_sim.command("pen 1 2 3"), QString("ok sent 1"));
        pad.write(frame(3, R"({"func":"SetCmdToDevice", "flag":"3"})"));
        QCOMPARE(m_sim.command("pen 1 2 3"), QString("ok sent 0"));
    }

    void strokeFromFilePlaysInOrder()
    {
        QVERIFY(m_sim.plug("qz07"));
        Pad pad(0x28bd, 0x600c);
        pad.feature(startQz07());
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("# a short stroke\n100 200 10\n\n101 201 20  # trailing note\n102 202 0\nbutton confirm\n");
        file.close();
        const auto monotonicNs = [] {
            return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch()).count());
        };
        const qint64 before = monotonicNs();
        const QString answer = m_sim.command("stroke " + file.fileName() + " rate 500");
        const qint64 after = monotonicNs();
        QVERIFY2(answer.startsWith("ok stroke 4 steps at 500 Hz from "), qPrintable(answer));
        // The first step's time, on the clock other processes read too.
        const qint64 start = answer.section(" from ", 1).toLongLong();
        QVERIFY(start >= before && start <= after);
        QList<QByteArray> reports;
        for (int i = 0; i < 4; ++i)
            reports << pad.read(2000);
        QCOMPARE(reports[0].left(8), QByteArray::fromHex("02016400c8000a00"));
        QCOMPARE(reports[1].left(8), QByteArray::fromHex("02016500c9001400"));
        QCOMPARE(reports[2].left(8), QByteArray::fromHex("02006600ca000000"));
        QCOMPARE(reports[3].left(4), QByteArray::fromHex("02804f4b"));
        QTRY_COMPARE(m_sim.status().last(), QString("stroke idle"));
    }

    void strokeFileErrorsNameTheLine()
    {
        QVERIFY(m_sim.plug("t330"));
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("1 2 3\n4 five 6\n");
        file.close();
        QCOMPARE(m_sim.command("stroke " + file.fileName()),
                 "error: " + file.fileName() + " line 2: expected X Y P (0 to 65535)");
        QVERIFY(m_sim.command("stroke /no/such/file").startsWith("error: cannot read"));
    }

    void kz07DemoPacksSamplesWithinTheTextWindow()
    {
        QVERIFY(m_sim.plug("kz07"));
        Pad pad(0x2207, 0x0019);
        pad.write(frame(1, R"({"func":"SetCmdToDevice", "flag":"1"})"));
        const QString reply = m_sim.command("stroke demo rate 1000");
        QVERIFY(reply.startsWith("ok stroke "));
        const int steps = reply.section(' ', 2, 2).toInt();
        int samples = 0;
        int reports = 0;
        int lastX = -1;
        while (samples < steps) {
            const QByteArray report = pad.read(2000);
            QVERIFY(!report.isEmpty());
            ++reports;
            QVERIFY(report.indexOf('\0', 12) - 12 <= 206);
            const QJsonArray info = kz07Json(report).value("info").toArray();
            QVERIFY(info.size() >= 1 && info.size() <= 3);
            for (const auto &sample : info) {
                const int x = sample.toObject().value("x").toString().toInt();
                QVERIFY(x >= 0 && x <= 799);
                lastX = x;
            }
            samples += info.size();
        }
        QCOMPARE(samples, steps);
        QVERIFY(reports < steps);
        QVERIFY(lastX > 0);
    }

    void demoStopsWhenThePadIsPulledOut()
    {
        QVERIFY(m_sim.plug("t330"));
        Pad pad(0x0b57, 0x8534);
        QVERIFY(m_sim.ok("stroke demo rate 50"));
        QVERIFY(!pad.read(2000).isEmpty());
        QVERIFY(m_sim.status().last().startsWith("stroke playing "));
        QVERIFY(m_sim.unplug("t330"));
        QTRY_COMPARE(m_sim.status().last(), QString("stroke idle"));
        QVERIFY(m_sim.plug("t330"));
        QVERIFY(m_sim.ok("stroke demo rate 50"));
        QCOMPARE(m_sim.command("stroke stop"), QString("ok stopped"));
        QCOMPARE(m_sim.status().last(), QString("stroke idle"));
    }
};

QTEST_GUILESS_MAIN(PadSimModels)
#include "tst_padsim_models.moc"

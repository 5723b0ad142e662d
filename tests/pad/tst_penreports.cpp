#include "pad/devicetable.h"
#include "pad/models/padmodel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <array>

namespace {
// The samples one report of the model at table row `model` carries.
QVector<TOUCH_INFO> decode(int model, const QByteArray &report)
{
    return padModel(model).decode(report);
}

QVector<TOUCH_INFO> samples(std::initializer_list<std::array<int32_t, 4>> values)
{
    QVector<TOUCH_INFO> result;
    for (const auto &v : values) {
        TOUCH_INFO touch;
        touch.x = v[0];
        touch.y = v[1];
        touch.pressure = v[2];
        touch.btnId = v[3];
        result.append(touch);
    }
    return result;
}

QByteArray kz07Report(const QByteArray &json)
{
    return QByteArray::fromHex("000200010000abcd00000000") + json;
}

// byte6: pressure bits 10..3 (0x40 is a pressure of 512)
QByteArray t330At(int x, int y, unsigned char byte6 = 0)
{
    QByteArray report = QByteArray::fromHex("0200000000000000");
    report[6] = static_cast<char>(byte6);
    report[2] = static_cast<char>(x >> 8);
    report[3] = static_cast<char>(x & 0xFF);
    report[4] = static_cast<char>(y >> 8);
    report[5] = static_cast<char>(y & 0xFF);
    return report;
}
} // namespace

bool operator==(const TOUCH_INFO &a, const TOUCH_INFO &b)
{
    return a.x == b.x && a.y == b.y && a.pressure == b.pressure && a.btnId == b.btnId;
}

namespace QTest {
template <>
char *toString(const QVector<TOUCH_INFO> &list)
{
    QByteArray text;
    for (const TOUCH_INFO &t : list)
        text += QByteArray("(") + QByteArray::number(t.x) + "," + QByteArray::number(t.y) + ","
            + QByteArray::number(t.pressure) + "," + QByteArray::number(t.btnId) + ")";
    return qstrdup(text.isEmpty() ? "(none)" : text.constData());
}
} // namespace QTest

// The three report formats, on reports as the pads send them.
class PenReportsTest : public QObject
{
    Q_OBJECT
private slots:
    void t330_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QVector<TOUCH_INFO>>("expected");
        QTest::newRow("plain sample") << QByteArray::fromHex("02000FA00BB88040") << samples({{4000, 3000, 1026, -1}});
        QTest::newRow("x bit 15 flipped, pressure bit 0") << QByteArray::fromHex("02110FA00BB88040")
                                                          << samples({{36768, 3000, 1027, -1}});
        QTest::newRow("y bit 15 flipped") << QByteArray::fromHex("02080FA00BB80000") << samples({{4000, 35768, 0, -1}});
        QTest::newRow("both flipped back down") << QByteArray::fromHex("0218FFFF8FFF0000")
                                                << samples({{0x7FFF, 0x0FFF, 0, -1}});
        QTest::newRow("largest pressure") << QByteArray::fromHex("02010FA00BB8FFC0") << samples({{4000, 3000, 2047, -1}});
        QTest::newRow("low bits of byte 7 ignored") << QByteArray::fromHex("02000FA00BB8003F") << samples({{4000, 3000, 0, -1}});
        QTest::newRow("longer report uses the first 8 bytes")
            << QByteArray::fromHex("02000FA00BB88040FFFFFFFF") << samples({{4000, 3000, 1026, -1}});
        QTest::newRow("7 bytes: dropped") << QByteArray::fromHex("02000FA00BB880") << samples({});
        QTest::newRow("empty: dropped") << QByteArray() << samples({});
    }
    void t330()
    {
        QFETCH(QByteArray, report);
        QFETCH(QVector<TOUCH_INFO>, expected);
        QCOMPARE(decode(0, report), expected);
    }

    void t330ButtonStrip_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("btnId");
        QTest::newRow("left third: confirm") << 100 << 7000 << 3;
        QTest::newRow("middle third: re-sign") << 5000 << 7000 << 2;
        QTest::newRow("right third: cancel") << 9000 << 7000 << 4;
        QTest::newRow("on the upper border") << 9000 << 6494 << -1;
        QTest::newRow("just inside the border") << 9000 << 6495 << 4;
        QTest::newRow("at the bottom edge") << 100 << 7422 << -1;
        QTest::newRow("last row of the strip") << 100 << 7421 << 3;
        QTest::newRow("first x of the middle") << 3402 << 7000 << 2;
        QTest::newRow("first x of the right") << 6804 << 7000 << 4;
        QTest::newRow("past the right edge") << 10206 << 7000 << -1;
        QTest::newRow("above the strip") << 100 << 3000 << -1;
    }
    void t330ButtonStrip()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, btnId);
        // The tip presses the button under it.
        const QVector<TOUCH_INFO> decoded = decode(0, t330At(x, y, 0x40));
        QCOMPARE(decoded.size(), 1);
        QCOMPARE(decoded[0].x, x);
        QCOMPARE(decoded[0].y, y);
        QCOMPARE(decoded[0].pressure, 512);
        QCOMPARE(decoded[0].btnId, btnId);
        // A pen hovering there presses nothing.
        const QVector<TOUCH_INFO> hovering = decode(0, t330At(x, y));
        QCOMPARE(hovering.size(), 1);
        QCOMPARE(hovering[0].pressure, 0);
        QCOMPARE(hovering[0].btnId, -1);
    }

    void qz07_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QVector<TOUCH_INFO>>("expected");
        QTest::newRow("plain sample") << QByteArray::fromHex("0200A00FB80B3412") << samples({{4000, 3000, 0x1234, -1}});
        QTest::newRow("bit 15 of pressure dropped") << QByteArray::fromHex("0200A00FB80BFFFF")
                                                    << samples({{4000, 3000, 32767, -1}});
        QTest::newRow("clear button") << QByteArray::fromHex("0280434C00000000") << samples({{0x4C43, 0, 0, 2}});
        QTest::newRow("cancel button") << QByteArray::fromHex("0280434E434C0000") << samples({{0x4E43, 0x4C43, 0, 4}});
        QTest::newRow("confirm button") << QByteArray::fromHex("02804F4B00000000") << samples({{0x4B4F, 0, 0, 3}});
        QTest::newRow("unknown button text") << QByteArray::fromHex("0280434E00000000") << samples({{0x4E43, 0, 0, -1}});
        QTest::newRow("button text without the 02 80 mark") << QByteArray::fromHex("0200434C00000000")
                                                            << samples({{0x4C43, 0, 0, -1}});
        QTest::newRow("7 bytes: dropped") << QByteArray::fromHex("0280434C000000") << samples({});
    }
    void qz07()
    {
        QFETCH(QByteArray, report);
        QFETCH(QVector<TOUCH_INFO>, expected);
        QCOMPARE(decode(1, report), expected);
    }

    void kz07_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<QVector<TOUCH_INFO>>("expected");
        QTest::newRow("two samples in array order")
            << kz07Report(R"({"info":[{"x":"1","y":"2","pressure":"3","btnId":"-1"},)"
                          R"({"x":"4","y":"5","pressure":"0","btnId":"2"}]})")
            << samples({{1, 2, 3, -1}, {4, 5, 0, 2}});
        QTest::newRow("numbers instead of strings") << kz07Report(R"({"info":[{"x":1,"y":2,"pressure":3,"btnId":-1}]})")
                                                    << samples({{0, 0, 0, 0}});
        QTest::newRow("missing btnId is 0") << kz07Report(R"({"info":[{"x":"7","y":"8","pressure":"9"}]})")
                                            << samples({{7, 8, 9, 0}});
        QTest::newRow("text that is not a decimal integer")
            << kz07Report(R"({"info":[{"x":"0x10","y":"1.5","pressure":"abc","btnId":"3"}]})") << samples({{0, 0, 0, 3}});
        QTest::newRow("ends at the first zero byte")
            << kz07Report(QByteArray(R"({"info":[{"x":"1","y":"1","pressure":"1","btnId":"-1"}]})") + '\0' + "junk")
            << samples({{1, 1, 1, -1}});
        QTest::newRow("empty array") << kz07Report(R"({"info":[]})") << samples({});
        QTest::newRow("info not an array") << kz07Report(R"({"info":{"x":"1"}})") << samples({});
        QTest::newRow("no info") << kz07Report(R"({"serial":"X"})") << samples({});
        QTest::newRow("not JSON") << kz07Report("info") << samples({});
        QTest::newRow("header only") << kz07Report("") << samples({});
        QTest::newRow("shorter than the header") << QByteArray::fromHex("0001") << samples({});
        QTest::newRow("element not an object") << kz07Report(R"({"info":[5]})") << samples({{0, 0, 0, 0}});
    }
    void kz07()
    {
        QFETCH(QByteArray, report);
        QFETCH(QVector<TOUCH_INFO>, expected);
        QCOMPARE(decode(2, report), expected);
    }

    void kz07TextIsCutAt206Bytes()
    {
        const QByteArray sample = R"({"x":"1","y":"2","pressure":"3","btnId":"-1"})"; // 46 bytes
        QByteArray json = R"({"info":[)" + sample; // 9 + 46
        while (json.size() + 1 + sample.size() + 2 <= 206)
            json += "," + sample;
        json += "]}";
        QVERIFY(json.size() <= 206);
        QCOMPARE(decode(2, kz07Report(json)).size(), 4);

        QByteArray longer = json;
        longer.insert(json.size() - 2, QByteArray(206 - json.size() + 1, ' '));
        QCOMPARE(longer.size(), 207);
        QCOMPARE(decode(2, kz07Report(longer)), samples({}));
    }
};

QTEST_GUILESS_MAIN(PenReportsTest)
#include "tst_penreports.moc"

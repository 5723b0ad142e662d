// The device table as the models build it, and each model's serial reply,
// on replies as the pads send them.
#include "pad/devicetable.h"
#include "pad/models/padmodel.h"

#include <QtTest>

namespace {
constexpr int kQz07 = 1;
constexpr int kKz07 = 2;

// A QZ07 query reply: 08 0B, filler up to byte 32, then `tail`.
QByteArray qz07Reply(const QByteArray &tail)
{
    return QByteArray("\x08\x0b", 2) + QByteArray(30, '\x11') + tail;
}

QByteArray kz07Reply(const QByteArray &text)
{
    return QByteArray::fromHex("000100010000000000000000") + text;
}
} // namespace

Q_DECLARE_METATYPE(SerialReply::Kind)

class PadModelsTest : public QObject
{
    Q_OBJECT
private slots:
    void theTable_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("vid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<uint>("pressureLevels");
        QTest::newRow("T330") << 0 << "T330" << 0x0B57 << 0x8534 << 10206 << 7422 << 2048u;
        QTest::newRow("QZ07") << 1 << "QZ07" << 0x28BD << 0x600C << 10206 << 7422 << 1024u;
        QTest::newRow("KZ07") << 2 << "KZ07" << 0x2207 << 0x0019 << 800 << 480 << 2048u;
    }
    void theTable()
    {
        QFETCH(int, row);
        QCOMPARE(MUTI_DEV::kRows, 3);
        const tagDEVICE_INFO &info = muti_dev.devInfo[row];
        QCOMPARE(info.manufacturer, QString("Tavrel"));
        QTEST(info.model, "model");
        QCOMPARE(info.version, QString("1.0"));
        QTEST(int(info.vid), "vid");
        QTEST(int(info.pid), "pid");
        QTEST(info.maxX - info.minX + 1, "width");
        QTEST(info.maxY - info.minY + 1, "height");
        QTEST(info.pressureLevels, "pressureLevels");
        QCOMPARE(info.devType, row);
        QCOMPARE(info.serial, QString("A1B2F9EF786AD889"));
    }

    void qz07Serial_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<SerialReply::Kind>("kind");
        QTest::addColumn<QString>("serial");
        QTest::newRow("ten digits at 32") << qz07Reply("0123456789") << SerialReply::Serial << "0123456789";
        QTest::newRow("only ten bytes taken") << qz07Reply("0123456789EXTRA") << SerialReply::Serial << "0123456789";
        QTest::newRow("zero at 36") << qz07Reply(QByteArray("ABCD\0FGHIJ", 10)) << SerialReply::Serial << "ABCD";
        QTest::newRow("cut short at 35") << qz07Reply("XYZ") << SerialReply::Serial << "XYZ";
        QTest::newRow("32 bytes: empty") << qz07Reply("") << SerialReply::Serial << "";
        QTest::newRow("zeros at 32: empty") << qz07Reply(QByteArray(10, '\0')) << SerialReply::Serial << "";
        QTest::newRow("other first bytes") << QByteArray(32, '\0') + "0123456789" << SerialReply::Serial << "0123456789";
        QTest::newRow("other first bytes, short") << QByteArray::fromHex("0102") << SerialReply::Serial << "";
        QTest::newRow("a pen report") << QByteArray::fromHex("0200A00FB80B3412") << SerialReply::PenReport << "";
        QTest::newRow("a button report") << QByteArray::fromHex("02804F4B00000000") << SerialReply::PenReport << "";
    }
    void qz07Serial()
    {
        QFETCH(QByteArray, reply);
        const SerialReply answer = padModel(kQz07).readSerial(reply);
        QTEST(answer.kind, "kind");
        QTEST(answer.serial, "serial");
    }

    void kz07Serial_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<SerialReply::Kind>("kind");
        QTest::addColumn<QString>("serial");
        QTest::newRow("serial") << kz07Reply(R"({"serial":"KZ0712345"})") << SerialReply::Serial << "KZ0712345";
        QTest::newRow("ends at the first zero byte")
            << kz07Reply(QByteArray(R"({"serial":"KZ1"})") + '\0' + "junk") << SerialReply::Serial << "KZ1";
        QTest::newRow("no serial") << kz07Reply("{}") << SerialReply::Serial << "";
        QTest::newRow("serial not a string") << kz07Reply(R"({"serial":12345})") << SerialReply::Serial << "";
        QTest::newRow("not JSON") << kz07Reply("serial=BAD") << SerialReply::Unreadable << "";
        QTest::newRow("unterminated") << kz07Reply("{") << SerialReply::Unreadable << "";
        QTest::newRow("pen samples") << kz07Reply(R"({"info":[{"x":"1","y":"2","pressure":"3","btnId":"-1"}]})")
                                     << SerialReply::PenReport << "";
        QTest::newRow("pen samples cut at 206 bytes")
            << kz07Reply(R"({"info":[{"x":"1")" + QByteArray(200, ' ') + "}]}") << SerialReply::PenReport << "";
    }
    void kz07Serial()
    {
        QFETCH(QByteArray, reply);
        const SerialReply answer = padModel(kKz07).readSerial(reply);
        QTEST(answer.kind, "kind");
        QTEST(answer.serial, "serial");
    }
};

QTEST_GUILESS_MAIN(PadModelsTest)
#include "tst_padmodels.moc"

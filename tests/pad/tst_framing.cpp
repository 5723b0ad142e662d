#include "pad/utils.h"

#include <QLoggingCategory>
#include <QTest>

// Hex text, CRC-16/USB and the KZ07 frame.
class FramingTest : public QObject
{
    Q_OBJECT

    static quint16 frameCounter(const QByteArray &frame)
    {
        return static_cast<quint16>(static_cast<quint8>(frame.at(1)) << 8 | static_cast<quint8>(frame.at(2)));
    }

private slots:
    // Must run first: the worked example is the first frame of a process.
    void firstQueryFrameOfTheProcess()
    {
        const QByteArray payload(R"({"func":"GetDeviceInfo"})");
        const QByteArray frame = utils::PackKz7Comm("7b2266756e63223a22476574446576696365496e666f227d");
        QCOMPARE(frame.size(), 13 + 24);
        QCOMPARE(frame.left(13).toHex(), QByteArray("00000100010024" "6fc2" "00000000"));
        QCOMPARE(frame.mid(13), payload);
    }

    void frameChecksumCoversHeaderWithZeroCrcAndPayload()
    {
        const QByteArray payload(R"({"func":"SetCmdToDevice", "flag":"1"})");
        const QByteArray frame = utils::PackKz7Comm(QString::fromLatin1(payload.toHex()));
        QCOMPARE(frame.size(), 13 + 37);
        QCOMPARE(frame.mid(3, 4).toHex(), QByteArray("0001" "0031")); // flag 1, length 49
        QCOMPARE(frame.mid(9, 4).toHex(), QByteArray("00000000"));

        QByteArray checked = frame.mid(1);
        checked[6] = 0;
        checked[7] = 0;
        const quint16 crc = utils::CRC16_USB(reinterpret_cast<unsigned char *>(checked.data()), checked.size());
        QCOMPARE(static_cast<quint8>(frame.at(7)), static_cast<quint8>(crc >> 8));
        QCOMPARE(static_cast<quint8>(frame.at(8)), static_cast<quint8>(crc & 0xFF));
    }

    void sameCommandTwiceDiffersInCounterAndCrc()
    {
        const QString hex = "7b7d";
        const QByteArray first = utils::PackKz7Comm(hex);
        const QByteArray second = utils::PackKz7Comm(hex);
        QCOMPARE(frameCounter(second), static_cast<quint16>(frameCounter(first) + 1));
        QVERIFY(first.mid(7, 2) != second.mid(7, 2));
        QCOMPARE(first.mid(9), second.mid(9));
    }

    void counterWrapsFrom65535ToZero()
    {
        // Up to 65536 frames: keep their debug lines out of the test log.
        QLoggingCategory::setFilterRules("default.debug=false");
        QByteArray frame = utils::PackKz7Comm("00");
        while (frameCounter(frame) != 0xFFFF)
            frame = utils::PackKz7Comm("00");
        QCOMPARE(frameCounter(utils::PackKz7Comm("00")), quint16(0));
        QCOMPARE(frameCounter(utils::PackKz7Comm("00")), quint16(1));
        QLoggingCategory::setFilterRules(QString());
    }

    void oddPayloadTextGivesNoFrameButAdvancesTheCounter()
    {
        const quint16 before = frameCounter(utils::PackKz7Comm("00"));
        QVERIFY(utils::PackKz7Comm("7b2").isEmpty());
        QCOMPARE(frameCounter(utils::PackKz7Comm("00")), static_cast<quint16>(before + 2));
    }

    void emptyPayloadGivesBareHeader()
    {
        const QByteArray frame = utils::PackKz7Comm("");
        QCOMPARE(frame.size(), 13);
        QCOMPARE(frame.mid(5, 2).toHex(), QByteArray("000c"));
    }

    void crcCheckValue()
    {
        QByteArray digits("123456789");
        QCOMPARE(utils::CRC16_USB(reinterpret_cast<unsigned char *>(digits.data()), digits.size()), quint16(0xB4C8));
    }

    void crcOfNothingIsZero()
    {
        unsigned char byte = 0x55;
        QCOMPARE(utils::CRC16_USB(&byte, 0), quint16(0));
    }

    void hexToBytes_data()
    {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("start command") << "0601" << QByteArray::fromHex("0601");
        QTest::newRow("query command") << "00080b" << QByteArray::fromHex("00080b");
        QTest::newRow("upper case") << "7B" << QByteArray("\x7b", 1);
        QTest::newRow("lower case") << "7b" << QByteArray("\x7b", 1);
        QTest::newRow("mixed case") << "aBcD" << QByteArray::fromHex("abcd");
        QTest::newRow("not hex") << "0g" << QByteArray(1, '\0');
        QTest::newRow("bad pair among good") << "01zz02" << QByteArray::fromHex("010002");
        QTest::newRow("sign is not a digit") << "+1" << QByteArray(1, '\0');
        QTest::newRow("blank is not a digit") << " 1" << QByteArray(1, '\0');
        QTest::newRow("odd length") << "060" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
        QTest::newRow("all byte values") << "00ff80" << QByteArray::fromHex("00ff80");
    }
    void hexToBytes()
    {
        QFETCH(QString, hex);
        QFETCH(QByteArray, bytes);
        QCOMPARE(utils::HexStringToByteArray(hex), bytes);
    }
};

QTEST_GUILESS_MAIN(FramingTest)
#include "tst_framing.moc"

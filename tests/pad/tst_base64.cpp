#include "pad/base64.h"

#include <QByteArray>
#include <QTest>

#include <string>

// The codec of the point path file: standard alphabet, "=" padding, and a
// decoder that stops at the first character outside the alphabet.
class Base64Test : public QObject
{
    Q_OBJECT

private:
    static std::string encode(const std::string &bytes)
    {
        return utils::base64_encode(bytes.data(), static_cast<int>(bytes.size()));
    }

private slots:
    void alphabet()
    {
        int accepted = 0;
        for (int c = 0; c < 256; ++c) {
            if (utils::is_base64(static_cast<unsigned char>(c)))
                ++accepted;
        }
        QCOMPARE(accepted, 64);
        QVERIFY(utils::is_base64('A') && utils::is_base64('z') && utils::is_base64('0'));
        QVERIFY(utils::is_base64('+') && utils::is_base64('/'));
        QVERIFY(!utils::is_base64('='));
        QVERIFY(!utils::is_base64('\n') && !utils::is_base64(' ') && !utils::is_base64('-'));
        QVERIFY(!utils::is_base64(0xE9)); // a Latin-1 letter is not in the alphabet
    }

    void encode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("three bytes") << QByteArray("abc") << QByteArray("YWJj");
        QTest::newRow("two bytes") << QByteArray("ab") << QByteArray("YWI=");
        QTest::newRow("one byte") << QByteArray("a") << QByteArray("YQ==");
        QTest::newRow("nothing") << QByteArray() << QByteArray();
        QTest::newRow("high byte") << QByteArray("\xFF") << QByteArray("/w==");
        QTest::newRow("path record") << QByteArray("{2,100.000000,50.000000,512}")
                                     << QByteArray("ezIsMTAwLjAwMDAwMCw1MC4wMDAwMDAsNTEyfQ==");
    }
    void encode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, text);
        QCOMPARE(QByteArray::fromStdString(encode(bytes.toStdString())), text);
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("full group") << QByteArray("YWJj") << QByteArray("abc");
        QTest::newRow("padded") << QByteArray("YWI=") << QByteArray("ab");
        QTest::newRow("unpadded three") << QByteArray("YWI") << QByteArray("ab");
        QTest::newRow("unpadded two") << QByteArray("YQ") << QByteArray("a");
        QTest::newRow("blank ends it") << QByteArray("YW Jj") << QByteArray("a");
        QTest::newRow("blank after a group") << QByteArray("YWJjYW Jj") << QByteArray("abca");
        QTest::newRow("lone character") << QByteArray("Y") << QByteArray();
        QTest::newRow("padding inside") << QByteArray("YQ==YWJj") << QByteArray("a");
        QTest::newRow("newline ends it") << QByteArray("YWJj\nYWJj") << QByteArray("abc");
        QTest::newRow("non-ASCII ends it") << QByteArray("YWJj\xC3\xA9YWJj") << QByteArray("abc");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void decode()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, bytes);
        const std::string input = text.toStdString();
        QCOMPARE(QByteArray::fromStdString(utils::base64_decode(input)), bytes);
        QCOMPARE(QByteArray::fromStdString(input), text); // the input is left alone
    }

    // Every byte value, at every position within a group of three, agrees
    // with Qt's own codec and comes back unchanged.
    void roundTripAllBytes()
    {
        std::string all;
        for (int b = 0; b < 256; ++b)
            all += static_cast<char>(b);
        for (int cut = 0; cut < 3; ++cut) {
            const std::string bytes = all.substr(cut);
            const std::string text = encode(bytes);
            QCOMPARE(QByteArray::fromStdString(text),
                     QByteArray::fromStdString(bytes).toBase64());
            QCOMPARE(utils::base64_decode(text), bytes);
        }
    }
};

QTEST_APPLESS_MAIN(Base64Test)
#include "tst_base64.moc"

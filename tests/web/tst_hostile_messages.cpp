// Malformed and oversize messages against the real driver: each is ignored
// or refused with the right close code, the driver keeps serving, and an
// ordinary signing afterwards comes out whole.
#include "web/hostilesession.h"

#include "support/procstats.h"
#include "support/rawwsclient.h"

#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

class TestHostileMessages : public QObject
{
    Q_OBJECT

private:
    SigningSession s;

    // Nothing sent by the junk was answered, and the page is still served.
    void expectOnlySerialAnswer()
    {
        QVERIFY(!s.page.disconnected);
        QVERIFY(answersSerialRequest(s, s.page));
        QCOMPARE(s.page.messages.size(), 1);
        s.page.messages.clear();
    }

private slots:
    void initTestCase() { QVERIFY(s.start(nullptr, "qz07")); }

    void malformedAndDeeplyNestedJsonIsIgnored()
    {
        const QStringList junk{
            "{", "}", "", "null", "42", "\"2023\"", "[\"2040\"]", "{\"bizcode\":", "{\"bizcode\":2040}",
            "{\"bizcode\":[\"2040\"]}", "{\"bizcode\":\"2040 \"}", "{\"bizcode\":\"9999\",\"body\":{\"data\":1}}",
            "{\"bizcode\":\"9999\",\"body\":\"not an object\"}", QString(200000, '['), QString(100000, '{'),
            QString("{\"a\":").repeated(50000), QString::fromUtf8("{\"bizcode\":\"２０４０\"}"), QString(QChar(0xFFFF))};
        for (const QString &message : junk)
            s.page.send(message);
        expectOnlySerialAnswer();
    }

    // Valid JSON that spells its keys with escapes, or repeats them, is read
    // as Qt's reader reads it (the last of repeated keys wins): each of
    // these asks for the serial. A message that is not JSON is logged.
    void escapedAndRepeatedKeysAreReadAsQtReadsThem()
    {
        const QStringList requests{
            R"({"biz\u0063ode":"2040"})",
            R"({"bizcode":"2040","b\u006fdy":{"d\u0061ta":"x"}})",
            "{\"bizcode\":\"2040\",\"note\\\"x\":1}",
            R"({"bizcode":"2024","bizcode":"2040"})",
            R"({"bizcode":{"data":["x"]},"body":{"data":[1]},"bizcode":"2040","body":{"data":"y"}})"};
        for (const QString &request : requests)
            s.page.send(request);
        QVERIFY(s.page.waitForMessages(requests.size(), 20000));
        for (const QJsonObject &answer : s.page.jsonMessages())
            QCOMPARE(answer.value("bizcode").toString(), QString("2040"));
        s.page.messages.clear();

        s.page.send(R"({"bizcode":"2040",})");
        QVERIFY(s.driver->waitForOutput("request refused: not JSON", 10000));
        expectOnlySerialAnswer();
    }

    void binaryFramesAreIgnored()
    {
        s.page.socket.sendBinaryMessage(QByteArray("{\"bizcode\":\"2040\"}"));
        s.page.socket.sendBinaryMessage(QByteArray(100000, '\xFF'));
        expectOnlySerialAnswer();
    }

    void invalidUtf8ClosesThatConnectionOnly()
    {
        RawWsClient raw;
        QVERIFY(raw.open());
        raw.sendFrame(0x1, QByteArray("{\"bizcode\":\"2040\",\"x\":\"\xC3\x28\xFF\"}"));
        QCOMPARE(raw.waitForCloseCode(), 1007);
        QVERIFY(raw.waitForDisconnect());
        expectOnlySerialAnswer();
    }

    void reservedOpcodesCloseThatConnectionOnly_data()
    {
        QTest::addColumn<int>("opcode");
        for (int opcode : {0x3, 0x7, 0xB, 0xF})
            QTest::newRow(qPrintable(QString::number(opcode, 16))) << opcode;
    }

    void reservedOpcodesCloseThatConnectionOnly()
    {
        QFETCH(int, opcode);
        RawWsClient raw;
        QVERIFY(raw.open());
        raw.sendFrame(opcode, QByteArray("{\"bizcode\":\"2040\"}"));
        QCOMPARE(raw.waitForCloseCode(), 1002);
        QVERIFY(raw.waitForDisconnect());
        expectOnlySerialAnswer();
    }

    void aMessageOver16MiBIsClosedWith1009()
    {
        const int descriptorsBefore = procstats::descriptors(s.driver->pid());
        {
            WsClient big;
            QVERIFY(big.open());
            big.send(QString(17 * 1024 * 1024, 'a'));
            QVERIFY(big.waitForDisconnect(60000));
            // The driver closes on the frame's header while the rest still
            // arrives; the client, still sending, must yet read the close frame.
            QCOMPARE(big.closeCode, QWebSocketProtocol::CloseCodeTooMuchData);
        }
        // The descriptor kept to end that connection is given back too.
        QTRY_VERIFY_WITH_TIMEOUT(procstats::descriptors(s.driver->pid()) <= descriptorsBefore, 10000);
        expectOnlySerialAnswer();
    }

    void aBurstOf5000RequestsIsAnsweredWhole()
    {
        const int burst = 5000;
        for (int i = 0; i < burst; ++i)
            s.page.sendJson(QJsonObject{{"bizcode", "2040"}});
        QVERIFY2(s.page.waitForMessages(burst, 120000), qPrintable(QString::number(s.page.messages.size())));
        // The driver answers a page's requests in order: any answer beyond
        // one per request would come before the answer to one more.
        s.page.sendJson(QJsonObject{{"bizcode", "2040"}});
        QVERIFY(s.page.waitForMessages(burst + 1, 20000));
        QCOMPARE(s.page.messages.size(), burst + 1);
        for (const QJsonObject &answer : s.page.jsonMessages())
            QCOMPARE(answer.value("bizcode").toString(), QString("2040"));
        s.page.messages.clear();
    }

    void junkMessagesAreIgnored()
    {
        QRandomGenerator random(15);
        for (int i = 0; i < 20000; ++i) {
            QByteArray bytes(int(random.bounded(1, 200)), '\0');
            for (char &c : bytes)
                c = char(random.bounded(32, 127));
            // Every third one is JSON with a request code nobody uses.
            s.page.send(i % 3 ? QString::fromLatin1(bytes)
                              : QString("{\"bizcode\":\"%1\",\"body\":{\"data\":\"%2\"}}")
                                    .arg(random.bounded(3000, 10000))
                                    .arg(QString::fromLatin1(bytes.toBase64())));
        }
        expectOnlySerialAnswer();
    }

    void anOrdinarySigningStillSucceeds()
    {
        QVERIFY(signsNormally(s));
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_MAIN(TestHostileMessages)
#include "tst_hostile_messages.moc"

// Reading a page's message as a request, and the refusal of repeated keys
// (Qt's JSON reader leaks the earlier value of a repeated object key: run
// under check-asan, LeakSanitizer fails this test if the guard lets one by).
#include "pad/devicetable.h"
#include "pad/jsonkeys.h"
#include "pad/models/padmodel.h"
#include "web/requestqueue.h"
#include "web/webrequest.h"

#include <QTest>

class TestWebRequest : public QObject
{
    Q_OBJECT

private slots:
    void requestsAreRead_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("bizcode");
        QTest::addColumn<QString>("data");
        QTest::newRow("start") << "{\"bizcode\":\"2023\"}" << true << "2023" << "";
        QTest::newRow("directory") << "{\"bizcode\":\"2025\",\"body\":{\"data\":\"/tmp/x\"}}" << true << "2025" << "/tmp/x";
        QTest::newRow("spaces") << " { \"body\" : { \"data\" : \"d\" } , \"bizcode\" : \"2020\" } " << true << "2020" << "d";
        QTest::newRow("not JSON") << "{\"bizcode\":" << false << "" << "";
        QTest::newRow("number code") << "{\"bizcode\":2023}" << true << "" << "";
        QTest::newRow("array") << "[\"2023\"]" << true << "" << "";
        QTest::newRow("same key in two objects") << "{\"a\":{\"data\":\"1\"},\"body\":{\"data\":\"2\"},\"bizcode\":\"2025\"}"
                                                 << true << "2025" << "2";
        QTest::newRow("repeated code") << "{\"bizcode\":\"2023\",\"bizcode\":\"2024\"}" << false << "" << "";
        QTest::newRow("repeated body") << "{\"bizcode\":\"2025\",\"body\":{\"data\":\"a\"},\"body\":{\"data\":\"b\"}}"
                                       << false << "" << "";
        QTest::newRow("escaped key") << "{\"bizcode\":\"2025\",\"b\\u006fdy\":{\"data\":\"a\"}}" << false << "" << "";
        QTest::newRow("key-like text in a string") << "{\"bizcode\":\"2040\",\"x\":\"\\\"bizcode\\\":\"}" << true << "2040" << "";
    }

    void requestsAreRead()
    {
        QFETCH(QString, message);
        const WebRequest request = webrequest::parse(message);
        QTEST(request.valid, "valid");
        QTEST(request.bizcode, "bizcode");
        QTEST(request.data, "data");
    }

    void repeatedKeysAreFoundAtAnyDepth_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("repeats");
        QTest::newRow("none") << QByteArray("{\"a\":1,\"b\":{\"a\":2,\"c\":[{\"a\":3},{\"a\":4}]}}") << false;
        QTest::newRow("top") << QByteArray("{\"a\":{},\"a\":{}}") << true;
        QTest::newRow("nested") << QByteArray("{\"b\":[{\"a\":[1],\"a\":[2]}]}") << true;
        QTest::newRow("after a closed object") << QByteArray("{\"x\":{\"a\":1},\"a\":1,\"y\":{\"a\":1}}") << false;
        QTest::newRow("unterminated") << QByteArray("{\"a\":\"unterminated") << false;
        QTest::newRow("stray closers") << QByteArray("]]}}{\"a\":1,\"a\":2") << true;
    }

    void repeatedKeysAreFoundAtAnyDepth()
    {
        QFETCH(QByteArray, text);
        QTEST(jsonRepeatsKeys(text), "repeats");
    }

    void aKz07ReportRepeatingKeysIsNotRead()
    {
        const QByteArray report = QByteArray(12, '\0') + "{\"info\":[],\"info\":[{\"x\":\"1\"}]}";
        QVERIFY(padModel(2).decode(report).isEmpty());
        const QByteArray reply = QByteArray(12, '\0') + "{\"serial\":{},\"serial\":{}}";
        QCOMPARE(padModel(2).readSerial(reply).kind, SerialReply::Unreadable);
    }

    void manyRepeatedObjectKeysAreRefused()
    {
        QString message = "{";
        for (int i = 0; i < 10000; ++i)
            message += "\"body\":{\"data\":\"x\"},";
        message += "\"bizcode\":\"2025\"}";
        QVERIFY(!webrequest::parse(message).valid);
    }

    // A page with a burst waiting holds another page's request back by one
    // request, and each page's requests keep their order.
    void pagesTakeTurns()
    {
        RequestQueue queue;
        QObject busyPage, otherPage;
        QStringList handled;
        connect(&queue, &RequestQueue::request, [&](const QString &m) { handled << m; });
        for (int i = 0; i < 100; ++i)
            queue.add(&busyPage, QString("a%1").arg(i));
        queue.add(&otherPage, "b0");
        queue.add(&otherPage, "b1");
        QVERIFY(QTest::qWaitFor([&] { return handled.size() == 102; }));
        QCOMPARE(handled.mid(0, 5), (QStringList{"a0", "b0", "a1", "b1", "a2"}));
        QCOMPARE(handled.last(), QString("a99"));
    }
};

QTEST_MAIN(TestWebRequest)
#include "tst_webrequest.moc"

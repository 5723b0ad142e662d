// Reading a page's message as a request, exactly as Qt's JSON reader reads
// it, with repeated keys kept from that reader (it leaks the earlier value of
// a repeated object key: run under check-asan, LeakSanitizer fails this test
// if one gets by).
#include "pad/devicetable.h"
#include "pad/jsonkeys.h"
#include "pad/models/padmodel.h"
#include "web/requestqueue.h"
#include "web/webrequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {
// True when `rewritten` holds what `original` holds, member for member, and
// beyond that only members renamed by jsonWithUniqueKeys.
bool readsAs(const QJsonValue &rewritten, const QJsonValue &original)
{
    if (rewritten.isArray() && original.isArray()) {
        const QJsonArray r = rewritten.toArray();
        const QJsonArray o = original.toArray();
        if (r.size() != o.size())
            return false;
        for (int i = 0; i < r.size(); ++i)
            if (!readsAs(r.at(i), o.at(i)))
                return false;
        return true;
    }
    if (rewritten.isObject() && original.isObject()) {
        const QJsonObject r = rewritten.toObject();
        const QJsonObject o = original.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!r.contains(it.key()) || !readsAs(r.value(it.key()), it.value()))
                return false;
        for (auto it = r.begin(); it != r.end(); ++it)
            if (!o.contains(it.key()) && !it.key().startsWith(QChar(0)))
                return false;
        return true;
    }
    return rewritten == original;
}

QJsonValue rootOf(const QJsonDocument &document)
{
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

// A request whose "x" repeats around `arrays` nested arrays.
QString nested(int arrays)
{
    return "{\"bizcode\":\"2040\",\"x\":" + QString(arrays, '[') + QString(arrays, ']') + ",\"x\":1}";
}
} // namespace

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
        QTest::newRow("start") << R"({"bizcode":"2023"})" << true << "2023" << "";
        QTest::newRow("directory") << R"({"bizcode":"2025","body":{"data":"/tmp/x"}})" << true << "2025" << "/tmp/x";
        QTest::newRow("spaces") << R"( { "body" : { "data" : "d" } , "bizcode" : "2020" } )" << true << "2020" << "d";
        QTest::newRow("not JSON") << R"({"bizcode":)" << false << "" << "";
        QTest::newRow("number code") << R"({"bizcode":2023})" << true << "" << "";
        QTest::newRow("array") << R"(["2023"])" << true << "" << "";
        QTest::newRow("same key in two objects") << R"({"a":{"data":"1"},"body":{"data":"2"},"bizcode":"2025"})" << true
                                                 << "2025" << "2";
        QTest::newRow("key-like text in a string") << "{\"bizcode\":\"2040\",\"x\":\"\\\"bizcode\\\":\"}" << true << "2040" << "";
        // Repeated and escaped keys, read as Qt reads them: the last wins.
        QTest::newRow("repeated code") << R"({"bizcode":"2023","bizcode":"2024"})" << true << "2024" << "";
        QTest::newRow("repeated body") << R"({"bizcode":"2025","body":{"data":"a"},"body":{"data":"b"}})" << true << "2025"
                                       << "b";
        QTest::newRow("object code then string code") << R"({"bizcode":{"a":[1]},"bizcode":"2040"})" << true << "2040" << "";
        QTest::newRow("repeated data") << R"({"bizcode":"2025","body":{"data":["a"],"data":"b"}})" << true << "2025" << "b";
        QTest::newRow("escaped code key") << R"({"biz\u0063ode":"2040"})" << true << "2040" << "";
        QTest::newRow("escaped body key") << R"({"bizcode":"2025","b\u006fdy":{"data":"a"}})" << true << "2025" << "a";
        QTest::newRow("escaped data key") << R"({"bizcode":"2025","body":{"d\u0061ta":"/x"}})" << true << "2025" << "/x";
        QTest::newRow("escaped quote in a key") << "{\"bizcode\":\"2040\",\"note\\\"x\":1}" << true << "2040" << "";
        QTest::newRow("escaped repeat") << R"({"bizcode":"2024","biz\u0063ode":"2040"})" << true << "2040" << "";
        QTest::newRow("key spelled like a renamed one") << R"({"\u00000":1,"bizcode":{"a":1},"bizcode":"2040"})" << true
                                                        << "2040" << "";
        QTest::newRow("bad escape in a repeated key") << R"({"a\u00zz":1,"a\u00zz":2,"bizcode":"2040"})" << false << ""
                                                      << "";
        QTest::newRow("raw NUL in keys") << QString::fromUtf8("{\"\0a\":{\"x\":[1]},\"\0b\":{\"y\":[1]},\"bizcode\":\"2040\"}", 48)
                                         << false << "" << "";
        QTest::newRow("1024 levels") << nested(1023) << true << "2040" << "";
        QTest::newRow("1025 levels") << nested(1024) << false << "" << "";
    }

    void requestsAreRead()
    {
        QFETCH(QString, message);
        const WebRequest request = webrequest::parse(message);
        QTEST(request.valid, "valid");
        QTEST(request.bizcode, "bizcode");
        QTEST(request.data, "data");
        QCOMPARE(request.refusal.isEmpty(), request.valid);
    }

    // Where repeats hold no object or array (so Qt's reader leaks nothing),
    // the rewritten text reads exactly as the original does, member for
    // member once the renamed ones are set aside; broken texts stay broken.
    void uniqueKeysReadAsQtReadsTheOriginal_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("plain") << QByteArray(R"({"a":1,"b":[{"c":2}]})");
        QTest::newRow("top") << QByteArray(R"({"a":1,"b":2,"a":"3"})");
        QTest::newRow("nested") << QByteArray(R"({"y":[{"a":1,"a":{}},{"a":[],"a":2}],"x":1,"x":{"a":null,"a":true}})");
        QTest::newRow("escapes") << QByteArray(R"({"a\/b":1,"a/b":2,"\u00e9":3,"é":4,"\ud83d\ude00":5,"😀":6})");
        QTest::newRow("three times") << QByteArray(R"({"k":1,"k":2,"k":3,"\u0000":4,"\u00000":5})");
        QTest::newRow("spaces") << QByteArray(" {\t\"a\" \r\n: 1 , \"a\"\n:2 } ");
        QTest::newRow("broken after a repeat") << QByteArray(R"({"a":1,"a":2,"b":tru})");
        QTest::newRow("repeat after the break") << QByteArray(R"({"a":1,"b":tru,"a":2})");
        QTest::newRow("unterminated") << QByteArray(R"({"a":1,"a":2)");
        QTest::newRow("stray closer") << QByteArray(R"(]{"a":1,"a":2})");
        QTest::newRow("key in an array") << QByteArray(R"(["a":1,"a":2])");
        QTest::newRow("raw tab in a key") << QByteArray("{\"a\tb\":1,\"a\\tb\":2}");
        QTest::newRow("unknown escape") << QByteArray(R"({"a\x":1,"ax":2})");
    }

    void uniqueKeysReadAsQtReadsTheOriginal()
    {
        QFETCH(QByteArray, text);
        QString refusal;
        const QByteArray unique = jsonWithUniqueKeys(text, &refusal);
        QVERIFY(refusal.isEmpty());
        QJsonParseError originalError, uniqueError;
        const QJsonDocument original = QJsonDocument::fromJson(text, &originalError);
        const QJsonDocument rewritten = QJsonDocument::fromJson(unique, &uniqueError);
        QCOMPARE(uniqueError.error, originalError.error);
        QVERIFY(readsAs(rootOf(rewritten), rootOf(original)));
        // Nothing is left to rename.
        QCOMPARE(jsonWithUniqueKeys(unique, &refusal), unique);
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
        QTest::newRow("deeper than Qt reads") << QByteArray(1025, '[') << true;
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

    void manyRepeatedObjectKeysAreReadWithoutLeaking()
    {
        QString message = "{";
        for (int i = 0; i < 10000; ++i)
            message += QString("\"body\":{\"data\":\"%1\"},").arg(i);
        message += "\"bizcode\":\"2025\"}";
        const WebRequest request = webrequest::parse(message);
        QVERIFY(request.valid);
        QCOMPARE(request.data, QString("9999"));
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

// A page's "2102" body: what is taken, how it is echoed, and every refusal.
#include "evidence/evidencerequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {
const QString kHash = QString(64, QLatin1Char('a'));

// JSON text written with ' for ", which keeps the rows readable.
QString q(const char *text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('\''), QLatin1Char('"'));
}

QString message(const QString &body)
{
    return q("{'bizcode':'2102','body':") + body + "}";
}

QString echoed(const EvidenceRequest &request)
{
    return QString::fromUtf8(QJsonDocument(request.toJson()).toJson(QJsonDocument::Compact));
}
} // namespace

class EvidenceRequestTest : public QObject
{
    Q_OBJECT
private slots:
    void taken_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("echo");
        QTest::newRow("all formats with a document")
            << q("{'formats':['svg','inkml','json'],'document':{'sha256':'") + kHash.toUpper()
                   + q("','reason':'Kaufvertrag 12/2024'}}")
            << q("{'document':{'reason':'Kaufvertrag 12/2024','sha256':'") + kHash
                   + q("'},'formats':['inkml','json','svg']}");
        QTest::newRow("one format, no document") << q("{'formats':['json']}")
                                                 << q("{'document':null,'formats':['json']}");
        QTest::newRow("a name twice, document null, extra members")
            << q("{'formats':['svg','svg'],'document':null,'colour':'red'}")
            << q("{'document':null,'formats':['svg']}");
        QTest::newRow("no formats: the manifest alone") << q("{'formats':[],'document':{'sha256':'") + kHash + q("'}}")
                                                        << q("{'document':{'reason':'','sha256':'") + kHash
                                                               + q("'},'formats':[]}");
        QTest::newRow("200 characters, one of them outside the BMP")
            << q("{'formats':['inkml'],'document':{'sha256':'") + kHash + q("','reason':'") + QString(199, 'r')
                   + QString::fromUtf8("\xF0\x9F\x96\x8A") + q("'}}")
            << q("{'document':{'reason':'") + QString(199, 'r') + QString::fromUtf8("\xF0\x9F\x96\x8A")
                   + q("','sha256':'") + kHash + q("'},'formats':['inkml']}");
    }

    void taken()
    {
        QFETCH(QString, body);
        QFETCH(QString, echo);
        EvidenceRequest request;
        QString error;
        QVERIFY2(evidencerequest::parse(message(body), &request, &error), qPrintable(error));
        QCOMPARE(echoed(request), echo);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("no body") << q("{'bizcode':'2102'}");
        QTest::newRow("no formats") << message(q("{'document':null}"));
        QTest::newRow("formats not an array") << message(q("{'formats':'inkml'}"));
        QTest::newRow("unknown format") << message(q("{'formats':['inkml','pdf']}"));
        QTest::newRow("format not a string") << message(q("{'formats':[1]}"));
        QTest::newRow("format in capitals") << message(q("{'formats':['SVG']}"));
        QTest::newRow("document not an object") << message(q("{'formats':[],'document':'abc'}"));
        QTest::newRow("hash missing") << message(q("{'formats':[],'document':{'reason':'x'}}"));
        QTest::newRow("hash too short") << message(q("{'formats':[],'document':{'sha256':'") + kHash.left(63) + q("'}}"));
        QTest::newRow("hash not hex") << message(q("{'formats':[],'document':{'sha256':'") + kHash.left(63) + q("g'}}"));
        QTest::newRow("hash a number") << message(q("{'formats':[],'document':{'sha256':12}}"));
        QTest::newRow("reason of 201 characters")
            << message(q("{'formats':[],'document':{'sha256':'") + kHash + q("','reason':'") + QString(201, 'r') + q("'}}"));
        QTest::newRow("reason not text") << message(q("{'formats':[],'document':{'sha256':'") + kHash + q("','reason':5}}"));
        QTest::newRow("reason with a control character")
            << message(q("{'formats':[],'document':{'sha256':'") + kHash + q("','reason':'a\\u0007b'}}"));
        QTest::newRow("reason with a lone surrogate")
            << message(q("{'formats':[],'document':{'sha256':'") + kHash + q("','reason':'a\\ud800b'}}"));
        QTest::newRow("a repeated key") << message(q("{'formats':['json'],'formats':['svg']}"));
    }

    void refused()
    {
        QFETCH(QString, text);
        EvidenceRequest request;
        request.formats = EvidenceRequest::Svg;
        QString error;
        QVERIFY(!evidencerequest::parse(text, &request, &error));
        QVERIFY(!error.isEmpty());
        // Nothing of a refused body is kept.
        QCOMPARE(request.formats, 0);
        QVERIFY(!request.hasDocument);
    }
};

QTEST_APPLESS_MAIN(EvidenceRequestTest)
#include "tst_evidencerequest.moc"

// The pen data files of one made-up signature, read back with ordinary
// parsers: InkML, sign.json, sign.svg and the manifest.
#include "evidence/evidencefiles.h"
#include "evidence/inkml.h"
#include "evidence/signjson.h"
#include "evidence/signsvg.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QXmlStreamReader>

namespace {
constexpr int64_t kMs = 1000000;

TOUCH_INFO sample(int x, int y, int pressure, int64_t timeNs)
{
    TOUCH_INFO s;
    s.x = x;
    s.y = y;
    s.pressure = pressure;
    s.timeNs = timeNs;
    return s;
}

// Two strokes with hover before, between and after them; the clock starts
// at an arbitrary monotonic time.
EvidenceCapture capture()
{
    EvidenceCapture c;
    c.request.formats = EvidenceRequest::InkML | EvidenceRequest::Json | EvidenceRequest::Svg;
    c.request.hasDocument = true;
    c.request.documentSha256 = QString(64, QLatin1Char('c'));
    c.request.reason = QStringLiteral("<contract> & \"terms\"");
    c.pad.manufacturer = QStringLiteral("Tavrel");
    c.pad.model = QStringLiteral("QZ07");
    c.pad.serial = QStringLiteral("QZ") + QChar(0x01) + QStringLiteral("42"); // not XML-safe
    c.pad.maxX = 10205;
    c.pad.maxY = 7421;
    c.pad.pressureLevels = 2048;
    c.pad.vid = 0x28bd;
    c.pad.pid = 0x600c;
    c.startedNs = 7000 * kMs;
    c.startedUtc = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0, 0), Qt::UTC);
    c.confirmedUtc = c.startedUtc.addSecs(3);
    const int64_t t0 = 7100 * kMs + 250000; // 100.25 ms after the start
    c.samples = {sample(10, 10, 0, t0),
                 sample(100, 200, 300, t0 + 5 * kMs), sample(110, 210, 900, t0 + 10 * kMs),
                 sample(120, 220, 1500, t0 + 15 * kMs + 1500),
                 sample(120, 220, 0, t0 + 20 * kMs),
                 sample(500, 600, 700, t0 + 400 * kMs), sample(520, 600, 800, t0 + 405 * kMs)};
    return c;
}

struct Trace
{
    QString type;
    QStringList points;
};

struct InkmlContent
{
    QStringList channels;
    QStringList ranges;
    QString serial;
    QString timestamp;
    QList<Trace> traces;
};

InkmlContent readInkml(const QByteArray &text)
{
    InkmlContent content;
    QXmlStreamReader xml(text);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.namespaceUri() != QLatin1String(inkml::kNamespace))
            return InkmlContent();
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == QLatin1String("channel")) {
            content.channels << a.value("name").toString();
            content.ranges << a.value("min").toString() + ".." + a.value("max").toString();
        } else if (xml.name() == QLatin1String("inkSource")) {
            content.serial = a.value("serialNo").toString();
        } else if (xml.name() == QLatin1String("timestamp")) {
            content.timestamp = a.value("time").toString();
        } else if (xml.name() == QLatin1String("trace")) {
            Trace trace{a.value("type").toString(), {}};
            for (const QString &point : xml.readElementText().split(',', Qt::SkipEmptyParts))
                trace.points << point.simplified();
            content.traces << trace;
        }
    }
    if (xml.hasError())
        qWarning() << "InkML:" << xml.errorString();
    return xml.hasError() ? InkmlContent() : content;
}
} // namespace

class EvidenceFormatsTest : public QObject
{
    Q_OBJECT
private slots:
    void inkmlHoldsTheSamplesWithTheirTimes()
    {
        const InkmlContent ink = readInkml(inkml::encode(capture()));
        QCOMPARE(ink.channels, QStringList({"X", "Y", "F", "T"}));
        QCOMPARE(ink.ranges.mid(0, 3), QStringList({"0..10205", "0..7421", "0..2047"}));
        QCOMPARE(ink.serial, QString("QZ") + QChar(QChar::ReplacementCharacter) + "42");
        // The first sample, 100.25 ms after the start of 10:00:00 UTC, rounded down to the ms.
        QCOMPARE(ink.timestamp, QString::number(QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0, 100), Qt::UTC).toMSecsSinceEpoch()));
        QStringList types;
        for (const Trace &t : ink.traces)
            types << t.type;
        QCOMPARE(types, QStringList({"penUp", "", "penUp", ""}));
        QCOMPARE(ink.traces.at(0).points, QStringList({"10 10 0 0.000"}));
        QCOMPARE(ink.traces.at(1).points, QStringList({"100 200 300 5.000", "110 210 900 10.000", "120 220 1500 15.001"}));
        QCOMPARE(ink.traces.at(3).points.size(), 2);
        QCOMPARE(ink.traces.at(3).points.last(), QString("520 600 800 405.000"));
    }

    void signJsonHoldsTheSameStrokes()
    {
        const QJsonObject json = QJsonDocument::fromJson(signjson::encode(capture(), 320, 240)).object();
        QCOMPARE(json.value("version").toInt(), 1);
        const QJsonObject pad = json.value("pad").toObject();
        QCOMPARE(pad.value("vid").toString(), QString("28bd"));
        QCOMPARE(pad.value("pressureRange").toArray(), QJsonArray({0, 2047}));
        QCOMPARE(json.value("canvas").toObject(), QJsonObject({{"width", 320}, {"height", 240}}));
        const QJsonArray strokes = json.value("strokes").toArray();
        QCOMPARE(strokes.size(), 2);
        QCOMPARE(strokes.at(0).toArray().size(), 3);
        const QJsonObject last = strokes.at(0).toArray().at(2).toObject();
        QCOMPARE(last, QJsonObject({{"x", 120}, {"y", 220}, {"p", 1500}, {"t", 15.001}}));
        QCOMPARE(json.value("hover").toArray().size(), 2);
    }

    void svgDrawsTheCanvasSegmentsInTheCut()
    {
        // A stroke of three points, a pen that slid off (an end record with
        // pressure), its hover copy, and a second stroke of two points.
        const QVector<TOUCH_INFO_F> records{{50, 60, 500, 1}, {60, 60, 1024, 2}, {70, 65, 1024, 2},
                                            {70, 65, 800, 3}, {70, 65, 800, 3},
                                            {90, 60, 400, 1}, {95, 70, 0, 2}, {100, 60, 600, 2}};
        const QByteArray svg = signsvg::encode(records, QRect(35, 45, 81, 41), QSize(81, 41), Qt::black);
        QXmlStreamReader xml(svg);
        QStringList lines;
        QString viewBox;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("svg"))
                viewBox = a.value("viewBox").toString();
            if (xml.name() == QLatin1String("line"))
                lines << QStringList({a.value("x1").toString(), a.value("y1").toString(), a.value("x2").toString(),
                                      a.value("y2").toString(), a.value("stroke-width").toString()})
                             .join(' ');
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(viewBox, QString("35 45 81 41"));
        // The pressure-0 point lifts the pen: 100,60 starts again, nothing joins 90,60 to it.
        QCOMPARE(lines, QStringList({"50 60 60 60 2.5000", "60 60 70 65 2.5000"}));
    }

    void theManifestListsEveryFileWithItsHash()
    {
        const EvidenceCapture c = capture();
        ZqDraw::Signature signature;
        signature.records = {{50, 60, 500, 1}, {60, 60, 1024, 2}};
        signature.cut = QRect(35, 45, 41, 31);
        signature.pictureSize = QSize(41, 31);
        signature.penColor = Qt::black;
        const QVector<signaturefiles::NamedFile> pair{{"/d/path.save", "path bytes"}, {"/d/save.png", "png bytes"}};
        const QVector<evidencefiles::File> files = evidencefiles::encode(signature, c, pair);
        QStringList keys;
        for (const evidencefiles::File &f : files)
            keys << f.key + '=' + f.file.fileName;
        QCOMPARE(keys, QStringList({"inkml=/d/sign.inkml", "json=/d/sign.json", "svg=/d/sign.svg",
                                    "manifest=/d/sign.manifest.json"}));

        const QJsonObject manifest = QJsonDocument::fromJson(files.last().file.bytes).object();
        QVector<signaturefiles::NamedFile> all = pair;
        for (int i = 0; i < 3; ++i)
            all << files.at(i).file;
        const QJsonArray listed = manifest.value("files").toArray();
        QCOMPARE(listed.size(), all.size());
        for (int i = 0; i < all.size(); ++i) {
            const QJsonObject entry = listed.at(i).toObject();
            QCOMPARE(entry.value("name").toString(), QFileInfo(all.at(i).fileName).fileName());
            QCOMPARE(entry.value("size").toInt(), all.at(i).bytes.size());
            QCOMPARE(entry.value("sha256").toString().toLatin1(),
                     QCryptographicHash::hash(all.at(i).bytes, QCryptographicHash::Sha256).toHex());
        }
        QCOMPARE(manifest.value("document").toObject(),
                 QJsonObject({{"sha256", QString(64, 'c')}, {"reason", "<contract> & \"terms\""}}));
        QCOMPARE(manifest.value("started").toString(), QString("2024-05-01T10:00:00.000Z"));
        QCOMPARE(manifest.value("confirmed").toString(), QString("2024-05-01T10:00:03.000Z"));
        QCOMPARE(manifest.value("samples").toInt(), 7);
        QCOMPARE(manifest.value("strokes").toInt(), 2);
        QCOMPARE(manifest.value("pad").toObject().value("model").toString(), QString("QZ07"));
    }
};

QTEST_APPLESS_MAIN(EvidenceFormatsTest)
#include "tst_evidenceformats.moc"

// Pen data on request ("2102"), against the real driver on the virtual pad
// of each model: a stroke at 200 samples/s comes out as InkML, sign.json and
// sign.svg with a manifest whose hashes match the files; a page that never
// asks sees nothing new; bad requests are refused to the page that sent
// them; a failed write leaves the earlier set as it was.
#include "pathfile.h"
#include "signingsession.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

namespace {
const QString kDocument = QString::fromLatin1(QCryptographicHash::hash("the contract", QCryptographicHash::Sha256).toHex());
const QString kDirectoryBox = QString::fromUtf8("    错误信息： 文件无法创建，请检查目录的操作权限   ");
constexpr int kStrokeSamples = 200;
const char kPicturePrefix[] = "{\"bizcode\":\"2006\",\"body\":{\"signbase64\":\"";

struct PadRange
{
    int maxX;
    int maxY;
    int levels;
};

PadRange rangeOf(const QString &model)
{
    if (model == "kz07")
        return {799, 479, 2048};
    if (model == "qz07")
        return {10205, 7421, 1024};
    return {10205, 7421, 2048};
}

// One pen-down stroke of kStrokeSamples samples well inside every model's
// drawing area (and above the T330's button strip), then the pen lifts.
QString writeStroke(const QString &dir, const QString &model)
{
    const PadRange pad = rangeOf(model);
    QFile file(dir + "/stroke-" + model + ".txt");
    file.open(QIODevice::WriteOnly);
    for (int i = 0; i < kStrokeSamples; ++i) {
        const double t = double(i) / kStrokeSamples;
        const int x = int(pad.maxX * (0.2 + 0.6 * t));
        const int y = int(pad.maxY * (0.4 + 0.12 * std::sin(t * 4 * M_PI)));
        const int p = int(pad.levels * (0.3 + 0.25 * std::sin(t * M_PI)));
        file.write(QByteArray::number(x) + ' ' + QByteArray::number(y) + ' ' + QByteArray::number(p) + '\n');
    }
    file.write(QByteArray::number(int(pad.maxX * 0.8)) + ' ' + QByteArray::number(int(pad.maxY * 0.4)) + " 0\n");
    return file.fileName();
}

int find(const WsClient &page, const QString &bizcode, int from)
{
    const QList<QJsonObject> all = page.jsonMessages();
    for (int i = from; i < all.size(); ++i)
        if (all.at(i).value("bizcode").toString() == bizcode)
            return i;
    return -1;
}

// The next message with `bizcode` after `*seen`; `*seen` moves past it.
bool next(WsClient &page, const QString &bizcode, QJsonObject *body, int *seen, int timeoutMs = 15000)
{
    int at = -1;
    if (!QTest::qWaitFor([&] { return (at = find(page, bizcode, *seen)) >= 0; }, timeoutMs))
        return false;
    *body = page.jsonMessages().at(at).value("body").toObject();
    *seen = at + 1;
    return true;
}

QJsonObject evidenceRequest(const QJsonArray &formats, bool withDocument = true)
{
    QJsonObject body{{"formats", formats}};
    if (withDocument)
        body.insert("document", QJsonObject{{"sha256", kDocument}, {"reason", "Kaufvertrag Nr. 42"}});
    return QJsonObject{{"bizcode", "2102"}, {"body", body}};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

// Points of the pen-down traces and their time steps, from sign.inkml.
struct InkmlRead
{
    QStringList channels;
    int penDownPoints = 0;
    QVector<double> times; // T of every point, pen-down and pen-up, in file order
};

InkmlRead readInkml(const QByteArray &text)
{
    InkmlRead read;
    QXmlStreamReader xml(text);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.namespaceUri() != "http://www.w3.org/2003/InkML")
            continue;
        if (xml.name() == QLatin1String("channel"))
            read.channels << xml.attributes().value("name").toString();
        if (xml.name() != QLatin1String("trace"))
            continue;
        const bool penUp = xml.attributes().value("type") == QLatin1String("penUp");
        for (const QString &point : xml.readElementText().split(',', Qt::SkipEmptyParts)) {
            read.times << point.simplified().section(' ', 3, 3).toDouble();
            read.penDownPoints += penUp ? 0 : 1;
        }
    }
    if (xml.hasError())
        return InkmlRead();
    return read;
}

QVector<double> steps(const QVector<double> &times)
{
    QVector<double> result;
    for (int i = 1; i < times.size(); ++i)
        result << times.at(i) - times.at(i - 1);
    return result;
}

QSet<int> inked(const QImage &image)
{
    QSet<int> pixels;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > 128)
                pixels.insert(y * argb.width() + x);
    return pixels;
}
} // namespace

class TestEvidence : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<XSession> x;

    static bool subscribe(WsClient &page)
    {
        const int seen0 = page.messages.size();
        page.sendJson(QJsonObject{{"bizcode", "2100"}});
        int seen = seen0;
        QJsonObject status;
        return next(page, "2101", &status, &seen);
    }

    // Starts a signing, plays `stroke` at 200 samples/s and confirms from the page.
    static bool signStroke(SigningSession &s, const QString &stroke)
    {
        const int blanks = s.images().size() - s.drawingImages();
        s.request("2023");
        if (!s.waitForBlankImages(blanks + 1, 20000))
            return false;
        if (!s.pad->command("stroke " + stroke + " rate 200").startsWith("ok"))
            return false;
        if (!QTest::qWaitFor([&] { return s.pad->status().contains("stroke idle"); }, 30000))
            return false;
        s.request("2022");
        return s.waitForBlankImages(blanks + 2, 20000);
    }

private slots:
    void initTestCase()
    {
        x = XSession::startXvfb(QSize(1920, 1080));
        QVERIFY2(!x->display().isEmpty(), qPrintable(x->lastError()));
        QVERIFY(x->setEdidVendor("screen", "RKX")); // the T330's signing window goes there
    }

    void aStrokeAt200PerSecondComesOutWithItsTimes_data()
    {
        QTest::addColumn<QString>("model");
        for (const char *model : {"t330", "qz07", "kz07"})
            QTest::newRow(model) << QString(model);
    }

    void aStrokeAt200PerSecondComesOutWithItsTimes()
    {
        QFETCH(QString, model);
        SigningSession s;
        QVERIFY(s.start(x.get(), model));
        QVERIFY(subscribe(s.page));
        s.request("2025", s.outDir());
        int seen = s.page.messages.size();
        s.page.sendJson(evidenceRequest({"inkml", "json", "svg"}));
        QJsonObject reply;
        QVERIFY(next(s.page, "2102", &reply, &seen));
        QCOMPARE(reply.value("formats").toArray(), QJsonArray({"inkml", "json", "svg"}));
        QCOMPARE(reply.value("document").toObject().value("sha256").toString(), kDocument);

        QVERIFY(signStroke(s, writeStroke(s.root.path(), model)));
        QJsonObject result;
        QVERIFY(next(s.page, "2110", &result, &seen));
        QVERIFY(result.value("saved").toBool());
        const QString dir = s.outDir();
        const QJsonObject evidence = result.value("evidence").toObject();
        QCOMPARE(evidence.keys(), QStringList({"inkml", "json", "manifest", "svg"}));
        for (const QString &key : evidence.keys()) {
            const QJsonObject file = evidence.value(key).toObject();
            QCOMPARE(QFileInfo(file.value("path").toString()).absolutePath(), QFileInfo(dir).absoluteFilePath());
            QCOMPARE(qint64(file.value("size").toDouble()), QFileInfo(file.value("path").toString()).size());
        }

        // Every sample the canvas drew is a record of path.save; all but the lift pressed.
        const PathFileContent path = readPathFile(dir + "/path.save");
        QVERIFY(path.valid);
        QCOMPARE(path.records.size(), kStrokeSamples + 1);

        QProcess lint;
        lint.start("xmllint", {"--noout", dir + "/sign.inkml"});
        QVERIFY(lint.waitForFinished(30000));
        QCOMPARE(lint.exitCode(), 0);
        const InkmlRead ink = readInkml(readAll(dir + "/sign.inkml"));
        QCOMPARE(ink.channels, QStringList({"X", "Y", "F", "T"}));
        QCOMPARE(ink.penDownPoints, kStrokeSamples);
        const QVector<double> inkSteps = steps(ink.times);
        QVERIFY(std::all_of(inkSteps.begin(), inkSteps.end(), [](double d) { return d >= 0; }));
        QVERIFY2(std::abs(median(inkSteps) - 5.0) <= 1.0, qPrintable(QString::number(median(inkSteps))));

        const QJsonObject json = QJsonDocument::fromJson(readAll(dir + "/sign.json")).object();
        const QJsonArray strokes = json.value("strokes").toArray();
        QCOMPARE(strokes.size(), 1);
        QVector<double> jsonTimes;
        for (const QJsonValue &point : strokes.at(0).toArray())
            jsonTimes << point.toObject().value("t").toDouble();
        QCOMPARE(jsonTimes.size(), kStrokeSamples);
        const QVector<double> jsonSteps = steps(jsonTimes);
        QVERIFY(std::all_of(jsonSteps.begin(), jsonSteps.end(), [](double d) { return d >= 0; }));
        QVERIFY2(std::abs(median(jsonSteps) - 5.0) <= 1.0, qPrintable(QString::number(median(jsonSteps))));
        QCOMPARE(json.value("pad").toObject().value("model").toString(), model.toUpper());

        // sign.svg drawn at save.png's size inks the same pixels.
        const QImage picture(dir + "/save.png");
        QProcess render;
        render.start("rsvg-convert", {"-w", QString::number(picture.width()), "-h", QString::number(picture.height()),
                                      "-o", s.root.path() + "/svg.png", dir + "/sign.svg"});
        QVERIFY(render.waitForFinished(30000));
        QCOMPARE(render.exitCode(), 0);
        const QImage drawn(s.root.path() + "/svg.png");
        QCOMPARE(drawn.size(), picture.size());
        const QSet<int> fromPng = inked(picture);
        const QSet<int> fromSvg = inked(drawn);
        const int both = QSet<int>(fromPng).intersect(fromSvg).size();
        QVERIFY2(both >= 0.9 * fromPng.size() && both >= 0.9 * fromSvg.size(),
                 qPrintable(QString("png %1, svg %2, both %3").arg(fromPng.size()).arg(fromSvg.size()).arg(both)));

        // The manifest: every file's hash and size as on disk, and the document.
        const QJsonObject manifest = QJsonDocument::fromJson(readAll(dir + "/sign.manifest.json")).object();
        QStringList listed;
        for (const QJsonValue &value : manifest.value("files").toArray()) {
            const QJsonObject file = value.toObject();
            const QByteArray bytes = readAll(dir + "/" + file.value("name").toString());
            QCOMPARE(file.value("sha256").toString().toLatin1(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
            QCOMPARE(qint64(file.value("size").toDouble()), qint64(bytes.size()));
            listed << file.value("name").toString();
        }
        QCOMPARE(listed, QStringList({"path.save", "save.png", "sign.inkml", "sign.json", "sign.svg"}));
        QCOMPARE(manifest.value("document").toObject().value("sha256").toString(), kDocument);
        QCOMPARE(manifest.value("samples").toInt(), kStrokeSamples + 1);
        QCOMPARE(manifest.value("strokes").toInt(), 1);
        QCOMPARE(entries(dir), QStringList({"path.save", "save.png", "sign.inkml", "sign.json", "sign.manifest.json",
                                            "sign.svg", "testfile"}));
        QCOMPARE(s.driver->terminate(), 0);
    }

    // The same stroke in two fresh drivers, one of whose pages asks for pen
    // data: the other page's pair is the same byte for byte (path.save's
    // filler comes from rand(), the same in a fresh process), and a page
    // that never asked gets nothing but pictures.
    void aPageThatNeverAsksSeesNoChange()
    {
        QByteArray pictures[2];
        QByteArray paths[2];
        for (const bool asked : {true, false}) {
            SigningSession s;
            QVERIFY(s.start(nullptr, "qz07"));
            WsClient asking;
            QVERIFY(asking.open() && subscribe(asking));
            s.request("2025", s.outDir());
            if (asked) {
                int seen = asking.messages.size();
                asking.sendJson(evidenceRequest({"inkml", "json", "svg"}));
                QJsonObject reply;
                QVERIFY(next(asking, "2102", &reply, &seen));
            }
            QVERIFY(signStroke(s, writeStroke(s.root.path(), "qz07")));
            int seen = 0;
            QJsonObject result;
            QVERIFY(next(asking, "2110", &result, &seen));
            QCOMPARE(result.contains("evidence"), asked);
            for (const QString &m : s.page.messages)
                QVERIFY2(m.startsWith(QLatin1String(kPicturePrefix)), qPrintable(m.left(60)));
            pictures[asked ? 0 : 1] = readAll(s.outDir() + "/save.png");
            paths[asked ? 0 : 1] = readAll(s.outDir() + "/path.save");
            if (!asked)
                QCOMPARE(entries(s.outDir()), QStringList({"path.save", "save.png", "testfile"}));
            QCOMPARE(s.driver->terminate(), 0);
        }
        QVERIFY(!pictures[0].isEmpty() && !paths[0].isEmpty());
        QCOMPARE(pictures[1], pictures[0]);
        QCOMPARE(paths[1], paths[0]);
    }

    void requestsAreTakenOnlyFromSubscribedPagesAndEndWithTheirSigning()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        WsClient other;
        QVERIFY(other.open() && subscribe(other));
        s.request("2025", s.outDir());
        // Not subscribed: ignored without a word.
        s.page.sendJson(evidenceRequest({"json"}));
        QVERIFY(subscribe(s.page));
        int seen = s.page.messages.size();

        // A bad body: a "2111" naming "2102" to the asking page alone.
        QJsonObject bad = evidenceRequest({"json", "pdf"});
        s.page.sendJson(bad);
        QJsonObject error;
        QVERIFY(next(s.page, "2111", &error, &seen));
        QCOMPARE(error.value("request").toString(), QString("2102"));
        QVERIFY(error.value("text").toString().contains("format"));
        QJsonObject overlong = evidenceRequest({"json"});
        QJsonObject body = overlong.value("body").toObject();
        body.insert("document", QJsonObject{{"sha256", kDocument}, {"reason", QString(201, 'r')}});
        overlong.insert("body", body);
        s.page.sendJson(overlong);
        QVERIFY(next(s.page, "2111", &error, &seen));
        QVERIFY(error.value("text").toString().contains("200"));

        // Asked before the signing, then replaced: the later one applies.
        s.page.sendJson(evidenceRequest({"inkml", "svg"}));
        QJsonObject reply;
        QVERIFY(next(s.page, "2102", &reply, &seen));
        s.page.sendJson(evidenceRequest({"json"}, false));
        QVERIFY(next(s.page, "2102", &reply, &seen));
        QCOMPARE(reply, QJsonObject({{"formats", QJsonArray({"json"})}, {"document", QJsonValue::Null}}));
        QVERIFY(s.driver->waitForOutput("pen data request replaced", 5000));
        QVERIFY(signStroke(s, writeStroke(s.root.path(), "qz07")));
        QJsonObject result;
        QVERIFY(next(s.page, "2110", &result, &seen));
        QCOMPARE(result.value("evidence").toObject().keys(), QStringList({"json", "manifest"}));
        QCOMPARE(QJsonDocument::fromJson(readAll(s.outDir() + "/sign.manifest.json")).object().value("document"),
                 QJsonValue(QJsonValue::Null));
        QVERIFY(!QFile::exists(s.outDir() + "/sign.inkml"));

        // The request ended with that confirm; one during a signing that is
        // cancelled ends with the cancel. Neither reaches the next confirm.
        s.request("2023");
        QVERIFY(s.waitForBlankImages(s.images().size() - s.drawingImages() + 1));
        s.page.sendJson(evidenceRequest({"svg"}));
        QVERIFY(next(s.page, "2102", &reply, &seen));
        s.request("2024");
        QVERIFY(next(s.page, "2110", &result, &seen));
        const QByteArray manifest = readAll(s.outDir() + "/sign.manifest.json");
        QVERIFY(signStroke(s, writeStroke(s.root.path(), "qz07")));
        QVERIFY(next(s.page, "2110", &result, &seen));
        QVERIFY(result.value("saved").toBool());
        QVERIFY(!result.contains("evidence"));
        QCOMPARE(readAll(s.outDir() + "/sign.manifest.json"), manifest);
        QVERIFY(!QFile::exists(s.outDir() + "/sign.svg"));

        // Nothing of this reached the other subscribed page but the results.
        for (const QJsonObject &m : other.jsonMessages())
            QVERIFY2(m.value("bizcode") != "2102" && m.value("bizcode") != "2111",
                     qPrintable(QJsonDocument(m).toJson(QJsonDocument::Compact)));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void aFailedWriteOfAnyPenDataFileKeepsTheEarlierSet_data()
    {
        QTest::addColumn<QString>("blocked");
        for (const char *name : {"sign.inkml", "sign.json", "sign.svg", "sign.manifest.json"})
            QTest::newRow(name) << QString(name);
    }

    void aFailedWriteOfAnyPenDataFileKeepsTheEarlierSet()
    {
        QFETCH(QString, blocked);
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        QVERIFY(subscribe(s.page));
        const QString dir = s.outDir();
        s.request("2025", dir);
        int seen = s.page.messages.size();
        QJsonObject result;
        QVERIFY(signStroke(s, writeStroke(s.root.path(), "qz07")));
        QVERIFY(next(s.page, "2110", &result, &seen));
        const QByteArray picture = readAll(dir + "/save.png");
        const QByteArray path = readAll(dir + "/path.save");
        // A folder where the driver would put the file: its rename would fail.
        QVERIFY(QDir().mkpath(dir + "/" + blocked));

        s.page.sendJson(evidenceRequest({"inkml", "json", "svg"}));
        QJsonObject reply;
        QVERIFY(next(s.page, "2102", &reply, &seen));
        QVERIFY(signStroke(s, writeStroke(s.root.path(), "qz07")));
        QVERIFY(next(s.page, "2110", &result, &seen));
        QVERIFY(!result.value("saved").toBool());
        QCOMPARE(result.value("picture"), QJsonValue(QJsonValue::Null));
        for (const QJsonValue &file : result.value("evidence").toObject())
            QCOMPARE(file, QJsonValue(QJsonValue::Null));
        QJsonObject error;
        QVERIFY(next(s.page, "2111", &error, &seen));
        QCOMPARE(error.value("text").toString(), kDirectoryBox);

        QCOMPARE(readAll(dir + "/save.png"), picture);
        QCOMPARE(readAll(dir + "/path.save"), path);
        QStringList expected{"path.save", "save.png", "testfile", blocked};
        expected.sort();
        QCOMPARE(entries(dir), expected);
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_MAIN(TestEvidence)
#include "tst_evidence.moc"

// A saved signature holds the signer's ink alone, whatever else pages send
// meanwhile: replays, bursts of starts and cancels, a confirm followed at once
// by a start, serial queries right after a fast stroke. The real driver on the
// virtual pad, with real WebSocket pages.
#include "pathfile.h"
#include "signingsession.h"

#include <QJsonObject>
#include <QTextStream>

namespace {
// Writes a stroke file for the virtual pad: lines "X Y P".
QString strokeFile(const QString &dir, const QString &name, const QList<QVector<int>> &samples)
{
    const QString path = dir + "/" + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    QTextStream out(&file);
    for (const QVector<int> &s : samples)
        out << s[0] << ' ' << s[1] << ' ' << s[2] << '\n';
    return path;
}

// A loop-like signature in the QZ07's 10205 x 7421 range, pen up at the end.
QList<QVector<int>> signerStroke()
{
    QList<QVector<int>> samples;
    for (int i = 0; i <= 60; ++i)
        samples << QVector<int>{2000 + i * 80, 3000 + (i % 20) * 60, 500};
    samples << QVector<int>{6800, 3000, 0};
    return samples;
}

// A long diagonal across the whole area: what a replay would wrongly add.
QList<QVector<int>> diagonal(int samples)
{
    QList<QVector<int>> result;
    for (int i = 0; i < samples; ++i)
        result << QVector<int>{500 + i * 9000 / samples, 500 + i * 6400 / samples, 600};
    result << QVector<int>{9500, 6900, 0};
    return result;
}

QImage argb(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}
} // namespace

class TestSigningIsolation : public QObject
{
    Q_OBJECT

private:
    // Plays `file` as fast as the driver reads it: the saved pictures are
    // compared pixel for pixel, so no report may be lost at the pad, as one
    // can be at a fixed rate when a busy machine holds the reader up.
    bool play(SigningSession &s, const QString &file)
    {
        return s.playStroke(file + " rate max");
    }

    // One whole signing of `file`; the saved picture, or a null image.
    QImage signAndConfirm(SigningSession &s, const QString &file)
    {
        const int blanks = blankImages(s);
        s.request("2023");
        if (!s.waitForBlankImages(blanks + 1) || !play(s, file))
            return QImage();
        s.request("2022");
        if (!s.waitForBlankImages(blanks + 2))
            return QImage();
        return argb(s.outDir() + "/save.png");
    }

    static int blankImages(const SigningSession &s)
    {
        int blanks = 0;
        for (const ImageMessage &m : s.images())
            blanks += m.drawing ? 0 : 1;
        return blanks;
    }

    static QString fileBase64(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toBase64()) : QString();
    }

    // How many messages with `bizcode` (and, when given, "request" in their
    // body) the page has received.
    static int countOf(const WsClient &page, const QString &bizcode, const QString &request = QString())
    {
        int count = 0;
        for (const QJsonObject &m : page.jsonMessages())
            count += m.value("bizcode").toString() == bizcode
                     && (request.isNull() || m.value("body").toObject().value("request").toString() == request);
        return count;
    }

    // Signs `file` on the QZ07, pulls the pad out and confirms; with a
    // `replay`, sends it after the unplug and again once the pad is back,
    // before the confirm. `events` is a subscribed page. Ends with the pad
    // plugged in; the saved picture, or a null image.
    QImage signUnplugAndConfirm(SigningSession &s, WsClient &events, const QString &file, const QString &replay)
    {
        const int blanks = blankImages(s);
        s.request("2023");
        // play() returns once the driver has read every report: pulling the
        // pad out drops those it has not.
        if (!s.waitForBlankImages(blanks + 1) || !play(s, file))
            return QImage();
        const int unplugged = countOf(events, "2112");
        if (!s.pad->unplug("qz07") || !QTest::qWaitFor([&] { return countOf(events, "2112") > unplugged; }, 10000))
            return QImage();
        const int refused = countOf(events, "2111", "2020");
        if (!replay.isEmpty()) {
            s.request("2020", replay);
            if (!QTest::qWaitFor([&] { return countOf(events, "2111", "2020") == refused + 1; }, 10000))
                qWarning() << "the replay after the unplug was not refused";
        }
        const int plugged = countOf(events, "2112");
        if (!s.pad->plug("qz07") || !QTest::qWaitFor([&] { return countOf(events, "2112") > plugged; }, 10000))
            return QImage();
        if (!replay.isEmpty()) {
            s.request("2020", replay);
            if (!QTest::qWaitFor([&] { return countOf(events, "2111", "2020") == refused + 2; }, 10000))
                qWarning() << "the replay after the pad came back was not refused";
        }
        s.request("2022");
        if (!s.waitForBlankImages(blanks + 2))
            return QImage();
        return argb(s.outDir() + "/save.png");
    }

private slots:
    // A replay sent while a signing runs, and a long replay cut short by a
    // cancel and a new signing, leave the saved picture exactly as the
    // signer's strokes alone make it.
    void replaysNeverReachASignature()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        s.request("2025", s.outDir());
        const QString signer = strokeFile(s.root.path(), "signer.txt", signerStroke());
        const QString line = strokeFile(s.root.path(), "diagonal.txt", diagonal(3000));

        QVERIFY(!signAndConfirm(s, line).isNull());
        const QString replay = fileBase64(s.outDir() + "/path.save");
        QVERIFY(replay.size() > 10000);

        const QImage reference = signAndConfirm(s, signer);
        QVERIFY(!reference.isNull());
        QVERIFY(inkPixels(reference) > 50);

        // (a) the replay arrives while the signer writes
        int blanks = blankImages(s);
        s.request("2023");
        QVERIFY(s.waitForBlankImages(blanks + 1));
        s.request("2020", replay);
        QVERIFY(play(s, signer));
        s.request("2022");
        QVERIFY(s.waitForBlankImages(blanks + 2));
        QCOMPARE(argb(s.outDir() + "/save.png"), reference);

        // (b) a long replay, a cancel, then a new signing
        blanks = blankImages(s);
        s.request("2020", replay);
        s.request("2024");
        QVERIFY(s.waitForBlankImages(blanks + 1));
        QCOMPARE(signAndConfirm(s, signer), reference);
    }

    // A pad pulled out mid-signing leaves the signer's ink on the canvas,
    // unsaved: a replay sent then, and again once the pad is back, is
    // refused, and the confirm saves the picture and path it saves without
    // the replay. Once the signature is saved, replays draw again.
    void aReplayAfterAnUnplugNeverReachesTheSignature()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        WsClient events;
        QVERIFY(events.open());
        events.sendJson(QJsonObject{{"bizcode", "2100"}});
        QVERIFY(events.waitForMessages(1));
        s.request("2025", s.outDir());
        const QString signer = strokeFile(s.root.path(), "signer.txt", signerStroke());
        QVERIFY(!signAndConfirm(s, strokeFile(s.root.path(), "diagonal.txt", diagonal(3000))).isNull());
        const QString replay = fileBase64(s.outDir() + "/path.save");
        QVERIFY(replay.size() > 10000);

        const QImage reference = signUnplugAndConfirm(s, events, signer, QString());
        QVERIFY(!reference.isNull());
        QVERIFY(inkPixels(reference) > 50);
        const PathFileContent referencePath = readPathFile(s.outDir() + "/path.save");
        QVERIFY(referencePath.valid);

        const int refused = countOf(events, "2111", "2020");
        const QImage withReplay = signUnplugAndConfirm(s, events, signer, replay);
        QCOMPARE(withReplay, reference);
        QCOMPARE(countOf(events, "2111", "2020"), refused + 2);
        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        QCOMPARE(path.records.size(), referencePath.records.size());
        for (int i = 0; i < path.records.size(); ++i) {
            QCOMPARE(path.records[i].x, referencePath.records[i].x);
            QCOMPARE(path.records[i].y, referencePath.records[i].y);
        }

        const int drawing = s.drawingImages();
        s.request("2020", replay);
        QVERIFY(QTest::qWaitFor([&] { return s.drawingImages() > drawing; }, 10000));
        QCOMPARE(countOf(events, "2111", "2020"), refused + 2);
        QCOMPARE(s.driver->terminate(), 0);
    }

    // The confirm's job still waits behind the stroke's pictures when the
    // next start arrives: the confirm saves the ink first.
    void aConfirmQueuedBehindPicturesIsSavedBeforeTheNextStart()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        s.request("2025", s.outDir());
        const QString signer = strokeFile(s.root.path(), "signer.txt", signerStroke());
        const QImage reference = signAndConfirm(s, signer);
        QVERIFY(!reference.isNull());
        QVERIFY(QFile::remove(s.outDir() + "/save.png"));
        QVERIFY(QFile::remove(s.outDir() + "/path.save"));

        for (int round = 0; round < 3; ++round) {
            const int blanks = blankImages(s);
            s.request("2023");
            QVERIFY(s.waitForBlankImages(blanks + 1));
            QVERIFY(play(s, signer));
            s.request("2022");
            s.request("2023");
            QVERIFY(s.waitForBlankImages(blanks + 3));
            QCOMPARE(argb(s.outDir() + "/save.png"), reference);
            QCOMPARE(readPathFile(s.outDir() + "/path.save").records.size(), signerStroke().size());
            s.request("2024");
            QVERIFY(s.waitForBlankImages(blanks + 4));
        }
    }

    // KZ07: a fast stroke, a confirm and a serial query at once, again and
    // again: every answer is the serial, and the next signature holds only
    // its own samples.
    void kz07SerialAfterAFastStrokeIsAlwaysTheSerial()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "kz07"));
        s.request("2025", s.outDir());
        QList<QVector<int>> fast;
        for (int i = 0; i < 300; ++i)
            fast << QVector<int>{100 + i, 100 + (i % 50), 800};
        const QString stroke = strokeFile(s.root.path(), "fast.txt", fast);
        const QString expected = R"({"bizcode":"2040","devicesn":"KZ07SIM0000001"})";
        for (int round = 0; round < 10; ++round) {
            const int blanks = blankImages(s);
            s.request("2023");
            QVERIFY(s.waitForBlankImages(blanks + 1));
            QVERIFY(s.pad->ok(QString("stroke %1 rate 2000").arg(stroke)));
            QVERIFY(s.pad->waitForStrokeSteps(200)); // the confirm lands late in the stroke
            s.request("2022");
            s.request("2040");
            QVERIFY(QTest::qWaitFor([&] { return s.page.messages.count(expected) == round + 1; }, 10000));
            // The confirm's blank picture may come after the serial.
            QVERIFY(s.waitForBlankImages(blanks + 2));
            QVERIFY(QTest::qWaitFor([&] { return s.pad->status().contains("stroke idle"); }, 10000));
        }
        for (const QString &m : s.page.messages)
            QVERIFY2(!m.contains("2040") || m == expected, qPrintable(m));

        QList<QVector<int>> own;
        for (int i = 0; i < 12; ++i)
            own << QVector<int>{600 + i, 400, 700};
        own << QVector<int>{612, 400, 0};
        QVERIFY(s.pad->ok(QString("stroke %1 rate 2000").arg(stroke)));
        QVERIFY(s.pad->waitForStrokeSteps(100)); // the cancel lands in the stroke
        const int blanks = blankImages(s);
        s.request("2024");
        QVERIFY(s.waitForBlankImages(blanks + 1));
        QVERIFY(QTest::qWaitFor([&] { return s.pad->status().contains("stroke idle"); }, 10000));
        QVERIFY(!signAndConfirm(s, strokeFile(s.root.path(), "own.txt", own)).isNull());
        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QCOMPARE(path.records.size(), own.size());
    }

    // A stroke of one sample that then leaves the area while pressing: its
    // replay draws no segment back to the stroke before it.
    void aOneSampleStrokeLeavingTheAreaIsNotJoinedOnReplay()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        s.request("2025", s.outDir());
        QList<QVector<int>> samples;
        for (int i = 0; i <= 20; ++i)
            samples << QVector<int>{1000 + i * 100, 1000, 600}; // canvas y about 32
        samples << QVector<int>{3000, 1000, 0};
        samples << QVector<int>{3000, 6000, 600}; // one sample, canvas y about 194
        samples << QVector<int>{10, 6000, 600};   // off the area, still pressing
        for (int i = 0; i < 30; ++i)
            samples << QVector<int>{10, 6000, 0};
        QVERIFY(!signAndConfirm(s, strokeFile(s.root.path(), "one.txt", samples)).isNull());
        const int drawn = readPathFile(s.outDir() + "/path.save").records.size();
        QVERIFY(drawn > 0);

        // The replay counts on from the signing's samples: one picture for
        // every multiple of ten among the counter values it takes.
        int expected = 0;
        for (int counter = drawn; counter < 2 * drawn; ++counter)
            expected += counter % 10 == 0 ? 1 : 0;
        QVERIFY(expected >= 5);
        const int before = s.images().size();
        s.request("2020", fileBase64(s.outDir() + "/path.save"));
        QVERIFY(s.page.waitForMessages(before + expected, 10000));
        const QImage replayed = s.images().last().picture.convertToFormat(QImage::Format_ARGB32);
        QVERIFY(inkPixels(replayed.copy(0, 20, 320, 25)) > 50); // the first stroke is there
        // Between the strokes, where a joining segment would run.
        QCOMPARE(inkPixels(replayed.copy(80, 60, 80, 110)), 0);
    }

    // One page's burst of starts and cancels holds another page's request
    // back by little, and the pad signs normally afterwards. The pages take
    // turns, so the other page's serial queries land between the burst's
    // requests: one of two back to back may find the pad between a start and
    // its cancel (busy, no answer); the other finds it idle.
    void aBurstFromOnePageDoesNotStallAnother()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07"));
        s.request("2025", s.outDir());
        WsClient other;
        QVERIFY(other.open());
        for (int i = 0; i < 500; ++i) {
            s.request("2023");
            s.request("2024");
        }
        other.sendJson(QJsonObject{{"bizcode", "2040"}});
        other.sendJson(QJsonObject{{"bizcode", "2040"}});
        const QString expected = R"({"bizcode":"2040","devicesn":"QZ07SIM001"})";
        QVERIFY(QTest::qWaitFor([&] { return other.messages.contains(expected); }, 60000));

        QVERIFY(s.waitForBlankImages(1000, 120000));
        s.request("2023");
        QVERIFY(s.waitForBlankImages(1001));
        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QVERIFY(s.waitForBlankImages(1002));
        QVERIFY(inkPixels(QImage(s.outDir() + "/save.png")) > 50);
    }
};

QTEST_MAIN(TestSigningIsolation)
#include "tst_signingisolation.moc"

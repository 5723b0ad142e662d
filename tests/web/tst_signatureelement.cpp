// The <zq-signature> element in headless Chromium on the driver's own page:
// live ink from the virtual pad and its confirmed picture; the screen when
// the driver goes away, with pointer input recorded as points; the pad again
// when a driver with a pad comes back.
#include "pagescript.h"
#include "signingsession.h"
#include "support/browser.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace pagescript;

namespace {

const QUrl kDriverPage("http://127.0.0.1:36325/");

// Collects the element's confirmed events in the page.
const char *kRecordConfirmed = "window.confirmedDetails = [];"
                               "document.querySelector('zq-signature').addEventListener('confirmed',"
                               " (e) => confirmedDetails.push(e.detail)); true";

QString modeIs(const QString &mode)
{
    return signer() + ".mode === '" + mode + "' && " + signer() + ".getAttribute('mode') === '" + mode + "'";
}

QString statusText()
{
    return inSigner(".status") + ".textContent";
}

// Draws one stroke on the element's signing area with DevTools input events,
// from (x0, y0) to (x1, y1) in fractions of the area, with `pointer` "pen"
// (pressing with `force`) or "mouse".
bool drawStroke(Browser &browser, double x0, double y0, double x1, double y1, const QString &pointer, double force)
{
    const QJsonArray box = browser.evaluate("(() => { const r = " + inSigner("canvas")
                                            + ".getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; })()")
                               .toArray();
    if (box.size() != 4 || box.at(2).toDouble() < 10)
        return false;
    auto event = [&](const char *type, double fx, double fy, int buttons) {
        QJsonObject params{{"type", type}, {"x", box.at(0).toDouble() + fx * box.at(2).toDouble()},
                           {"y", box.at(1).toDouble() + fy * box.at(3).toDouble()}, {"button", "left"},
                           {"buttons", buttons}, {"clickCount", 1}, {"pointerType", pointer}};
        if (pointer == "pen")
            params.insert("force", buttons ? force : 0.0);
        return !browser.command("Input.dispatchMouseEvent", params).contains("error");
    };
    bool ok = event("mouseMoved", x0, y0, 0) && event("mousePressed", x0, y0, 1);
    const int steps = 12;
    for (int i = 1; ok && i <= steps; ++i)
        ok = event("mouseMoved", x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, 1);
    return ok && event("mouseReleased", x1, y1, 0);
}

} // namespace

class TestSignatureElement : public QObject
{
    Q_OBJECT

private slots:
    void onThePadTheLiveInkShowsAndConfirmGivesThePicture()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        Browser browser;
        QVERIFY2(browser.open(kDriverPage), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor(modeIs("pad")));
        QCOMPARE(browser.evaluate(statusText()).toString(), QString("Ready to sign on the signature pad."));
        browser.evaluate(kRecordConfirmed);
        browser.evaluate(QString("%1.directory = '%2'; true").arg(signer(), s.outDir()));

        browser.evaluate(clickSignerButton("start"));
        QVERIFY(browser.waitFor(statusText() + " === 'Please sign on the signature pad.'"));
        QVERIFY(browser.evaluate(inSigner("[data-action=confirm]") + ".disabled").toBool());
        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor(inkOfUrl(inSigner(".live") + ".src") + ".then((n) => n > 200)"));
        browser.evaluate(clickSignerButton("confirm"));
        QVERIFY(browser.waitFor("confirmedDetails.length === 1", 15000));

        QCOMPARE(browser.evaluate("confirmedDetails[0].source").toString(), QString("pad"));
        QVERIFY(browser.evaluate("confirmedDetails[0].dataUrl.startsWith('data:image/png;base64,')").toBool());
        QVERIFY(browser.evaluate(inkOfUrl("confirmedDetails[0].dataUrl")).toInt() > 200);
        QVERIFY(!browser.evaluate("'points' in confirmedDetails[0]").toBool());
        QVERIFY(QFileInfo(s.outDir() + "/save.png").size() > 0);
        QVERIFY(browser.waitFor(statusText() + ".startsWith('Thank you')"));
        QCOMPARE(s.driver->terminate(), 0);
    }

    // The sample page's "Record pen data" box: the element asks the driver
    // for the pen data, its confirm carries the pad's points and sign.json,
    // and the page draws them.
    void onThePadWithPenDataConfirmGivesThePadsPoints()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        Browser browser;
        QVERIFY2(browser.open(kDriverPage), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor(modeIs("pad")));
        browser.evaluate(kRecordConfirmed);
        browser.evaluate(QString("%1.directory = '%2'; document.getElementById('penData').click(); true")
                             .arg(signer(), s.outDir()));
        QCOMPARE(browser.evaluate(signer() + ".getAttribute('pen-data')").toString(), QString("inkml json svg"));

        browser.evaluate(clickSignerButton("start"));
        QVERIFY(browser.waitFor(statusText() + " === 'Please sign on the signature pad.'"));
        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor(inkOfUrl(inSigner(".live") + ".src") + ".then((n) => n > 200)"));
        browser.evaluate(clickSignerButton("confirm"));
        QVERIFY(browser.waitFor("confirmedDetails.length === 1", 15000));

        // The demo signature: three strokes, each ending with the pen lifted.
        QCOMPARE(browser.evaluate("confirmedDetails[0].source").toString(), QString("pad"));
        QCOMPARE(browser.evaluate("confirmedDetails[0].penData.strokes.length").toInt(), 3);
        const int samples = browser.evaluate("confirmedDetails[0].penData.strokes.flat().length"
                                             " + confirmedDetails[0].penData.hover.flat().length").toInt();
        QCOMPARE(browser.evaluate("confirmedDetails[0].points.length").toInt(), samples);
        QVERIFY(samples > 200);
        QVERIFY(browser.evaluate("confirmedDetails[0].points.every((p, i, all) => p.p >= 0 && p.p <= 1"
                                 " && (i === 0 || p.t >= all[i - 1].t))").toBool());
        const QJsonObject file = QJsonDocument::fromJson([&] {
                                     QFile json(s.outDir() + "/sign.json");
                                     return json.open(QIODevice::ReadOnly) ? json.readAll() : QByteArray();
                                 }()).object();
        // What the page got is what the driver wrote.
        const QJsonArray lastStroke = file.value("strokes").toArray().last().toArray();
        QCOMPARE(browser.evaluate("confirmedDetails[0].penData.strokes[2].length").toInt(), lastStroke.size());
        QCOMPARE(browser.evaluate("confirmedDetails[0].penData.strokes[2][5].t").toDouble(),
                 lastStroke.at(5).toObject().value("t").toDouble());
        QVERIFY(QFile::exists(s.outDir() + "/sign.inkml") && QFile::exists(s.outDir() + "/sign.manifest.json"));
        // The page's speed-coloured view of it.
        QVERIFY(browser.waitFor("!document.getElementById('traceFigure').hidden"));
        QVERIFY(browser.evaluate(inkOfUrl("document.getElementById('trace').toDataURL()")).toInt() > 100);
        QCOMPARE(s.driver->terminate(), 0);
    }

    void aPadThatWillNotStartHandsTheSigningToTheScreen()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        Browser browser;
        QVERIFY2(browser.open(kDriverPage), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor(modeIs("pad")));
        browser.evaluate("window.signerErrors = []; " + signer()
                         + ".addEventListener('error', (e) => signerErrors.push(e.detail)); true");
        QVERIFY(s.pad->fault("fail-start"));
        browser.evaluate(clickSignerButton("start"));

        QVERIFY(browser.waitFor(modeIs("screen")));
        QVERIFY(browser.waitFor("signerErrors.length === 1"));
        QCOMPARE(browser.evaluate("signerErrors[0].request").toString(), QString("2023"));
        QCOMPARE(browser.evaluate("signerErrors[0].code").toInt(), 1003);
        QVERIFY(browser.evaluate(statusText()).toString().startsWith("The signature pad could not start."));
        QVERIFY(!browser.evaluate(inSigner("[data-action=confirm]") + ".hidden").toBool()); // signing on the screen
        QCOMPARE(s.driver->terminate(), 0);
    }

    void withoutTheDriverItSignsOnTheScreenAndUsesThePadWhenItReturns()
    {
        Browser browser;
        SigningSession first;
        QVERIFY(first.start(nullptr, "qz07", " serial QZ00000042"));
        QVERIFY2(browser.open(kDriverPage), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor(modeIs("pad")));
        browser.evaluate(kRecordConfirmed);
        browser.evaluate(clickSignerButton("start"));
        QVERIFY(browser.waitFor(statusText() + " === 'Please sign on the signature pad.'"));

        // The driver goes away mid-signing: the signing goes on on the screen.
        QCOMPARE(first.driver->terminate(), 0);
        QVERIFY(browser.waitFor(modeIs("screen")));
        QVERIFY2(browser.evaluate(statusText()).toString().contains("disconnected"),
                 qPrintable(browser.evaluate(statusText()).toString()));
        QVERIFY(browser.waitFor("!" + inSigner("[data-action=confirm]") + ".hidden"));

        QVERIFY(drawStroke(browser, 0.1, 0.3, 0.8, 0.6, "pen", 0.75));
        QVERIFY(drawStroke(browser, 0.2, 0.8, 0.6, 0.2, "mouse", 0));
        browser.evaluate(clickSignerButton("confirm"));
        QVERIFY(browser.waitFor("confirmedDetails.length === 1"));
        const QJsonObject detail = browser.evaluate("confirmedDetails[0]").toObject();
        QCOMPARE(detail.value("source").toString(), QString("screen"));
        QVERIFY(browser.evaluate(inkOfUrl("confirmedDetails[0].dataUrl")).toInt() > 200);

        // Each stroke: its points pressed, then one of p 0 where it lifted;
        // times in ms from the first point, never going back.
        const QJsonArray points = detail.value("points").toArray();
        QVERIFY2(points.size() >= 2 * 13, qPrintable(QString::number(points.size())));
        double lastTime = -1;
        int lifts = 0;
        QSet<double> pressures;
        for (const QJsonValue &value : points) {
            const QJsonObject point = value.toObject();
            QCOMPARE(point.keys(), QStringList({"p", "t", "x", "y"}));
            QVERIFY(point.value("t").toDouble() >= lastTime);
            lastTime = point.value("t").toDouble();
            lifts += point.value("p").toDouble() == 0 ? 1 : 0;
            pressures.insert(point.value("p").toDouble());
        }
        QCOMPARE(points.first().toObject().value("t").toDouble(), 0.0);
        QCOMPARE(lifts, 2);
        QCOMPARE(pressures, QSet<double>({0.75, 0.5, 0.0})); // the pen's force; a mouse reports 0.5
        const QJsonObject first0 = points.first().toObject();
        const int width = browser.evaluate(inSigner("canvas") + ".width").toInt();
        QVERIFY(qAbs(first0.value("x").toDouble() - 0.1 * width) < 3);

        // The driver comes back with a pad: the element uses it again.
        SigningSession second;
        QVERIFY(second.start(nullptr, "kz07", " serial KZ-7"));
        QVERIFY(browser.waitFor(modeIs("pad"), 15000));
        QVERIFY(browser.evaluate(statusText()).toString().contains("ready again"));
        QCOMPARE(second.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSignatureElement)
#include "tst_signatureelement.moc"

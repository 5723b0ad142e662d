// make demo: one complete signing without a pad or a display. The driver runs
// on the virtual pad, the sample page with its client script runs in headless
// Chromium, and the virtual pad plays its demo signature.
#include "support/browser.h"
#include "support/driverprocess.h"
#include "support/padsim.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
void say(const QString &text)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

int fail(const QString &text)
{
    std::fprintf(stderr, "demo failed: %s\n", text.toUtf8().constData());
    return 1;
}

// A JavaScript string literal of `text`.
QString jsString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString click(const QString &id)
{
    return QString("document.getElementById('%1').click(); true").arg(id);
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString binDir = QCoreApplication::applicationDirPath();
    qputenv("ZQ_BIN_DIR", binDir.toLocal8Bit());
    qputenv("ZQ_LIB_DIR", QDir(binDir + "/../lib").absolutePath().toLocal8Bit());
    const QString outDir = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : "demo-output").absolutePath();
    const QString model = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString("qz07");
    QDir().mkpath(outDir);
    QFile::remove(outDir + "/save.png");
    QFile::remove(outDir + "/path.save");

    QTemporaryDir root;
    PadSim pad(root.path() + "/pad.sock");
    DriverProcess driver(root.path(), pad.childEnvironment());
    if (!driver.skipWelcomeNotice() || !driver.start() || !pad.waitReady())
        return fail("the driver did not start on the virtual pad");
    if (!pad.plug(model + " serial DEMO000001"))
        return fail("cannot plug a virtual " + model);
    if (!DriverProcess::portAccepts(10000))
        return fail("the driver does not listen on port 36325");
    say("Driver running on a virtual " + model.toUpper() + " pad, ws://127.0.0.1:36325");

    Browser browser;
    if (!browser.open(QUrl::fromLocalFile(QStringLiteral(ZQ_SOURCE_DIR) + "/web/index.html")))
        return fail(browser.lastError());
    if (!browser.waitFor("document.getElementById('status').textContent === 'connected'"))
        return fail("the sample page did not connect");
    say("Sample page (web/index.html) connected in headless Chromium");

    browser.evaluate(QString("document.getElementById('dir').value = %1; true").arg(jsString(outDir)));
    browser.evaluate(click("setDir"));
    browser.evaluate(click("start"));
    if (!browser.waitFor("Number(document.getElementById('imageCount').textContent) >= 1"))
        return fail("the signing did not start");
    say("Page: output directory set, signing started");

    const QString stroke = pad.command("stroke demo");
    if (!stroke.startsWith("ok"))
        return fail(stroke);
    say("Virtual pad: playing the demo signature (" + stroke.section(' ', 2, 3) + ")");
    if (!QTest::qWaitFor([&] { return pad.status().contains("stroke idle"); }, 60000))
        return fail("the demo signature never finished");
    QTest::qWait(500);

    browser.evaluate(click("confirm"));
    if (!browser.waitFor("document.getElementById('savedNote').textContent.startsWith('Saved')", 15000))
        return fail("the page saw no confirmation");
    const int images = browser.evaluate("Number(document.getElementById('imageCount').textContent)").toInt();
    driver.terminate();

    const QImage saved(outDir + "/save.png");
    QFile path(outDir + "/path.save");
    if (saved.isNull() || !path.open(QIODevice::ReadOnly))
        return fail("save.png or path.save is missing in " + outDir);
    const int samples = path.readAll().count('\n') - 1;
    say(QString("Page: confirmed; %1 image messages arrived").arg(images));
    say(QString("Saved:\n  %1/save.png  (%2 x %3)\n  %1/path.save (%4 samples)")
            .arg(outDir)
            .arg(saved.width())
            .arg(saved.height())
            .arg(samples));
    return 0;
}

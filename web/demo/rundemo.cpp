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
    const QString signer = "document.querySelector('zq-signature')";
    if (!browser.open(QUrl("http://127.0.0.1:36325/")))
        return fail(browser.lastError());
    if (!browser.waitFor(signer + ".mode === 'pad'"))
        return fail("the sample page did not find the pad");
    say("Sample page (web/index.html, served by the driver) connected in headless Chromium");

    browser.evaluate(QString("%1.directory = %2; true").arg(signer, jsString(outDir)));
    browser.evaluate(signer + ".start(); true");
    if (!browser.waitFor(signer + ".shadowRoot.querySelector('.status').textContent === 'Please sign on the signature pad.'"))
        return fail("the signing did not start");
    say("Page: output directory set, signing started");

    const QString stroke = pad.command("stroke demo");
    if (!stroke.startsWith("ok"))
        return fail(stroke);
    say("Virtual pad: playing the demo signature (" + stroke.section(' ', 2, 3) + ")");
    if (!QTest::qWaitFor([&] { return pad.status().contains("stroke idle"); }, 60000))
        return fail("the demo signature never finished");
    if (!browser.waitFor("!" + signer + ".shadowRoot.querySelector('[data-action=confirm]').disabled"))
        return fail("the page saw no ink");

    browser.evaluate(signer + ".confirm(); true");
    if (!browser.waitFor("document.getElementById('savedNote').textContent.startsWith('Saved')", 15000))
        return fail("the page saw no confirmation");
    driver.terminate();

    const QImage saved(outDir + "/save.png");
    QFile path(outDir + "/path.save");
    if (saved.isNull() || !path.open(QIODevice::ReadOnly))
        return fail("save.png or path.save is missing in " + outDir);
    const int samples = path.readAll().count('\n') - 1;
    say("Page: confirmed");
    say(QString("Saved:\n  %1/save.png  (%2 x %3)\n  %1/path.save (%4 samples)")
            .arg(outDir)
            .arg(saved.width())
            .arg(saved.height())
            .arg(samples));
    return 0;
}

// The sample page, served by the driver, in headless Chromium against the
// real driver on the virtual pad: its <zq-signature> and its own subscribed
// client.
#include "pagescript.h"
#include "signingsession.h"
#include "support/browser.h"

#include <QFileInfo>

using namespace pagescript;

namespace {

const QUrl kDriverPage("http://127.0.0.1:36325/");

QString click(const QString &id)
{
    return QString("document.getElementById('%1').click(); true").arg(id);
}

QString text(const QString &id)
{
    return QString("document.getElementById('%1').textContent").arg(id);
}

// Types a directory into the page's field, as a person would.
QString chooseDirectory(const QString &directory)
{
    return QString("(() => { const f = document.getElementById('dir'); f.value = '%1';"
                   " f.dispatchEvent(new Event('change')); return true; })()")
        .arg(directory);
}

QString signerMode(const QString &mode)
{
    return signer() + ".mode === '" + mode + "'";
}

} // namespace

class TestSamplePage : public QObject
{
    Q_OBJECT

private slots:
    void thePageCompletesASigningAndShowsTheSignature()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        Browser browser;
        QVERIFY2(browser.open(kDriverPage), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor(text("status") + " === 'connected'"));
        QVERIFY(browser.waitFor(signerMode("pad")));

        browser.evaluate(chooseDirectory(s.outDir()));
        browser.evaluate(click("serialBtn"));
        QVERIFY(browser.waitFor(text("serial") + " === 'QZ00000042'"));
        browser.evaluate(clickSignerButton("start"));
        QVERIFY(browser.waitFor(inSigner(".status") + ".textContent === 'Please sign on the signature pad.'"));
        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor(inkOfUrl(inSigner(".live") + ".src") + ".then((n) => n > 200)"));
        browser.evaluate(clickSignerButton("confirm"));
        QVERIFY(browser.waitFor(text("result") + " === 'confirmed on the pad'", 15000));
        QVERIFY(browser.waitFor(inkOfUrl("document.getElementById('signature').src") + ".then((n) => n > 200)"));
        QVERIFY(browser.waitFor(text("savedNote") + ".includes('" + s.outDir() + "')"));
        QVERIFY(QFile::exists(s.outDir() + "/save.png"));
        QVERIFY(QFile::exists(s.outDir() + "/path.save"));

        const QImage shot = browser.screenshot();
        QVERIFY(!shot.isNull());
        QCOMPARE(s.driver->terminate(), 0);
    }

    // Without a pad the element takes signatures on the screen; a pad plugged
    // in is used at once. The page shows the driver's status, its errors, the
    // pad coming, and a confirm on the pad with the files it wrote.
    void thePageFollowsThePadAndShowsStatusErrorsAndResults()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, QString()));
        Browser browser;
        QVERIFY2(browser.open(kDriverPage), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor(text("pad") + ".startsWith('none')"));
        QVERIFY(browser.evaluate(text("version")).toString().startsWith("version "));
        QVERIFY(browser.waitFor(signerMode("screen")));
        QVERIFY(browser.evaluate(inSigner(".status") + ".textContent").toString().contains("on the screen"));

        QVERIFY(s.pad->plug("qz07 serial QZ-55"));
        QVERIFY(browser.waitFor(text("pad") + " === 'QZ07 QZ-55'"));
        QVERIFY(browser.evaluate(text("log")).toString().contains("pad QZ07 (28bd:600c) plugged"));
        QVERIFY(browser.waitFor(signerMode("pad")));

        // A directory the driver cannot write: its error reaches the page and
        // the element, and the signing goes on.
        browser.evaluate("window.signerErrors = []; " + signer()
                         + ".addEventListener('error', (e) => signerErrors.push(e.detail)); true");
        browser.evaluate(chooseDirectory("/proc/zq-unwritable"));
        browser.evaluate(clickSignerButton("start"));
        QVERIFY(browser.waitFor(text("errors") + ".includes('" + QString::fromUtf8("文件无法创建") + "')"));
        QVERIFY(browser.waitFor("signerErrors.length === 1 && signerErrors[0].request === '2025'"));
        QVERIFY(browser.waitFor(inSigner(".status") + ".textContent === 'Please sign on the signature pad.'"));
        browser.evaluate(clickSignerButton("cancel"));
        QVERIFY(browser.waitFor(text("result") + " === 'cancelled'"));

        browser.evaluate(chooseDirectory(s.outDir()));
        browser.evaluate(clickSignerButton("start"));
        QVERIFY(browser.waitFor(inSigner(".status") + ".textContent === 'Please sign on the signature pad.'"));
        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor(inkOfUrl(inSigner(".live") + ".src") + ".then((n) => n > 200)"));
        QVERIFY(s.pad->ok("button confirm"));
        QVERIFY(browser.waitFor(text("result") + " === 'confirmed on the pad'", 15000));
        QVERIFY(browser.waitFor(inkOfUrl("document.getElementById('signature').src") + ".then((n) => n > 200)"));
        const QFileInfo png(s.outDir() + "/save.png");
        const QFileInfo path(s.outDir() + "/path.save");
        const QString expected = QString("Saved %1 (%2 bytes), %3 (%4 bytes), ")
                                     .arg(png.filePath()).arg(png.size()).arg(path.filePath()).arg(path.size());
        QVERIFY2(browser.waitFor(text("savedNote") + ".startsWith('" + expected + "')"),
                 qPrintable(browser.evaluate(text("savedNote")).toString()));
        QCOMPARE(browser.evaluate(text("signing")).toString(), QString("no"));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void theClientReconnectsWhenTheDriverComesBack()
    {
        Browser browser;
        SigningSession first;
        QVERIFY(first.start(nullptr, QString()));
        QVERIFY(browser.open(kDriverPage));
        QVERIFY(browser.waitFor(text("status") + " === 'connected'"));
        QCOMPARE(first.driver->terminate(), 0);
        QVERIFY(browser.waitFor(text("status") + " !== 'connected'"));

        SigningSession second;
        QVERIFY(second.start(nullptr, "kz07", " serial KZ-7"));
        QVERIFY(browser.waitFor(text("status") + " === 'connected'", 15000));
        browser.evaluate(click("serialBtn"));
        QVERIFY(browser.waitFor(text("serial") + " === 'KZ-7'"));
        QCOMPARE(second.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSamplePage)
#include "tst_samplepage.moc"

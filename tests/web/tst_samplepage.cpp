// The sample page and its client script in headless Chromium, against the
// real driver on the virtual pad.
#include "signingsession.h"
#include "support/browser.h"
#include "support/testenv.h"

#include <QFileInfo>

class TestSamplePage : public QObject
{
    Q_OBJECT

private:
    static QString click(const QString &id)
    {
        return QString("document.getElementById('%1').click(); true").arg(id);
    }

    // Ink pixels of an <img> on the page, counted in the page itself.
    static QString inkOf(const QString &id)
    {
        return QString("(() => { const img = document.getElementById('%1');"
                       " if (!img.complete || !img.naturalWidth) return 0;"
                       " const c = document.createElement('canvas');"
                       " c.width = img.naturalWidth; c.height = img.naturalHeight;"
                       " const g = c.getContext('2d'); g.drawImage(img, 0, 0);"
                       " const d = g.getImageData(0, 0, c.width, c.height).data; let n = 0;"
                       " for (let i = 3; i < d.length; i += 4) if (d[i] > 128) n++; return n; })()")
            .arg(id);
    }

private slots:
    void thePageCompletesASigningAndShowsTheSignature()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        Browser browser;
        QVERIFY2(browser.open(QUrl::fromLocalFile(sourcePath("web/index.html"))), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor("document.getElementById('status').textContent === 'connected'"));

        browser.evaluate(QString("document.getElementById('dir').value = '%1'; true").arg(s.outDir()));
        browser.evaluate(click("setDir"));
        browser.evaluate(click("serialBtn"));
        QVERIFY(browser.waitFor("document.getElementById('serial').textContent === 'QZ00000042'"));
        browser.evaluate(click("start"));
        QVERIFY(browser.waitFor("Number(document.getElementById('imageCount').textContent) >= 1"));

        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor(inkOf("live") + " > 200"));
        browser.evaluate(click("confirm"));
        QVERIFY(browser.waitFor(inkOf("signature") + " > 200", 15000));
        QVERIFY(browser.evaluate("document.getElementById('savedNote').textContent").toString().contains(s.outDir()));
        QVERIFY(QFile::exists(s.outDir() + "/save.png"));
        QVERIFY(QFile::exists(s.outDir() + "/path.save"));

        const QImage shot = browser.screenshot();
        QVERIFY(!shot.isNull());
        QCOMPARE(s.driver->terminate(), 0);
    }

    // Subscribed, the page shows the driver's status, its errors, pads coming
    // and going, and a confirm on the pad with the files it wrote.
    void thePageShowsStatusErrorsAndAConfirmedResult()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, QString()));
        Browser browser;
        QVERIFY2(browser.open(QUrl::fromLocalFile(sourcePath("web/index.html"))), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor("document.getElementById('pad').textContent.startsWith('none')"));
        QVERIFY(browser.evaluate("document.getElementById('version').textContent").toString().startsWith("version "));

        browser.evaluate(click("start"));
        QVERIFY(browser.waitFor(QString("document.getElementById('errors').textContent.includes('1001: %1')")
                                    .arg(QString::fromUtf8("提示信息：    没有可用设备"))));

        QVERIFY(s.pad->plug("qz07 serial QZ-55"));
        QVERIFY(browser.waitFor("document.getElementById('pad').textContent === 'QZ07 QZ-55'"));
        QVERIFY(browser.evaluate("document.getElementById('log').textContent").toString().contains("pad QZ07 (28bd:600c) plugged"));

        browser.evaluate(QString("document.getElementById('dir').value = '%1'; true").arg(s.outDir()));
        browser.evaluate(click("setDir"));
        browser.evaluate(click("start"));
        QVERIFY(browser.waitFor("document.getElementById('signing').textContent === 'yes'"));
        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor(inkOf("live") + " > 200"));
        QVERIFY(s.pad->ok("button confirm"));
        QVERIFY(browser.waitFor("document.getElementById('result').textContent === 'confirmed on the pad'", 15000));
        QVERIFY(browser.waitFor(inkOf("signature") + " > 200"));
        const QString note = browser.evaluate("document.getElementById('savedNote').textContent").toString();
        const QFileInfo png(s.outDir() + "/save.png");
        const QFileInfo path(s.outDir() + "/path.save");
        QVERIFY2(note.startsWith(QString("Saved %1 (%2 bytes), %3 (%4 bytes), ")
                                     .arg(png.filePath()).arg(png.size()).arg(path.filePath()).arg(path.size())),
                 qPrintable(note));
        QCOMPARE(browser.evaluate("document.getElementById('signing').textContent").toString(), QString("no"));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void theClientReconnectsWhenTheDriverComesBack()
    {
        Browser browser;
        SigningSession first;
        QVERIFY(first.start(nullptr, QString()));
        QVERIFY(browser.open(QUrl::fromLocalFile(sourcePath("web/index.html"))));
        QVERIFY(browser.waitFor("document.getElementById('status').textContent === 'connected'"));
        QCOMPARE(first.driver->terminate(), 0);
        QVERIFY(browser.waitFor("document.getElementById('status').textContent !== 'connected'"));

        SigningSession second;
        QVERIFY(second.start(nullptr, "kz07", " serial KZ-7"));
        QVERIFY(browser.waitFor("document.getElementById('status').textContent === 'connected'", 15000));
        browser.evaluate(click("serialBtn"));
        QVERIFY(browser.waitFor("document.getElementById('serial').textContent === 'KZ-7'"));
        QCOMPARE(second.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSamplePage)
#include "tst_samplepage.moc"

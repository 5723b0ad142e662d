// The sample page served over https from a site Chromium takes for public,
// where the browser's loopback-network permission gates the connection to
// the driver: blocked without it, a whole signing with it.
#include "signingsession.h"
#include "support/browser.h"
#include "support/httpsserver.h"
#include "support/testenv.h"

#include <QFileInfo>

namespace {

QByteArray sourceFile(const QString &relative)
{
    QFile file(sourcePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool serveSamplePage(HttpsServer &site)
{
    if (!site.start())
        return false;
    site.addFile("/", "text/html; charset=utf-8", sourceFile("web/index.html"));
    for (const char *script : {"zqsign-client.js", "zqsign-client.mjs", "zqsign-element.js"})
        site.addFile(QByteArray("/") + script, "text/javascript; charset=utf-8", sourceFile(QString("web/") + script));
    return true;
}

// Chromium reaches the test site under a public name, takes its address for
// a public one, and accepts its certificate.
QStringList publicSite(const HttpsServer &site)
{
    return {"--host-resolver-rules=MAP sign.example 127.0.0.1",
            QString("--ip-address-space-overrides=127.0.0.1:%1=public").arg(site.serverPort()),
            "--ignore-certificate-errors"};
}

QString siteOrigin(const HttpsServer &site)
{
    return QString("https://sign.example:%1").arg(site.serverPort());
}

int connectionsLogged(DriverProcess &driver)
{
    return driver.output().count("new connection=====");
}

} // namespace

class TestBrowserPermission : public QObject
{
    Q_OBJECT

private slots:
    void withoutTheGrantThePageIsToldItIsBlockedAndNothingReachesTheDriver()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        HttpsServer site;
        QVERIFY2(serveSamplePage(site), qPrintable(site.lastError()));
        QTRY_COMPARE(connectionsLogged(*s.driver), 1); // the session's own page

        Browser browser(publicSite(site));
        QVERIFY2(browser.open(QUrl(siteOrigin(site) + "/")), qPrintable(browser.lastError()));
        // Headless Chromium cannot ask, so it may deny at once; where it would
        // ask, the page waits for a gesture before it tries.
        QVERIFY(browser.waitFor("customElements.get('zq-signature') !== undefined"));
        browser.evaluateAsGesture("document.body.click(); true");
        QVERIFY2(browser.waitFor("document.getElementById('access').textContent.includes('blocked')"),
                 qPrintable(browser.evaluate("document.getElementById('log').textContent").toString()));
        // The element takes the signature on the screen instead, and says why.
        QVERIFY(browser.waitFor("document.querySelector('zq-signature').mode === 'screen'"));
        QVERIFY(browser.evaluate("document.querySelector('zq-signature').shadowRoot.querySelector('.status').textContent")
                    .toString()
                    .contains("browser did not allow"));
        QCOMPARE(browser.evaluate("document.getElementById('status').textContent").toString(), QString("not connected"));
        // The page's own client sends nothing while not connected; a socket
        // of its own is refused by the browser: it closes without opening.
        browser.evaluate(QString("document.getElementById('dir').value = '%1/blocked'; "
                                 "document.querySelector('zq-signature').directory = '%1/blocked'; "
                                 "document.querySelector('zq-signature').start(); "
                                 "window.probeOpened = false; "
                                 "window.probe = new WebSocket('ws://127.0.0.1:36325'); "
                                 "window.probe.onopen = () => { window.probeOpened = true; }; true")
                             .arg(s.outDir()));
        QVERIFY(browser.waitFor("window.probe.readyState === WebSocket.CLOSED"));
        QCOMPARE(browser.evaluate("window.probeOpened").toBool(), false);
        QCOMPARE(connectionsLogged(*s.driver), 1);
        QVERIFY(!QFileInfo::exists(s.outDir() + "/blocked"));
        QCOMPARE(s.driver->terminate(), 0);
    }

    void withTheGrantInTheProfileAWholeSigningCompletes()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ00000042"));
        HttpsServer site;
        QVERIFY2(serveSamplePage(site), qPrintable(site.lastError()));

        Browser browser(publicSite(site));
        const QJsonObject grant{{siteOrigin(site) + ",*", QJsonObject{{"setting", 1}}}};
        QVERIFY(browser.setPreferences(
            {{"profile",
              QJsonObject{{"content_settings", QJsonObject{{"exceptions", QJsonObject{{"loopback_network", grant}}}}}}}}));
        QVERIFY2(browser.open(QUrl(siteOrigin(site) + "/")), qPrintable(browser.lastError()));
        QVERIFY(browser.waitFor("document.getElementById('status').textContent === 'connected'"));
        QVERIFY(browser.waitFor("document.querySelector('zq-signature').mode === 'pad'"));
        QTRY_COMPARE(connectionsLogged(*s.driver), 3); // the session's, the page's client, the element

        browser.evaluate(QString("document.querySelector('zq-signature').directory = '%1'; "
                                 "document.querySelector('zq-signature').start(); true").arg(s.outDir()));
        const QString inSigner = "document.querySelector('zq-signature').shadowRoot.querySelector";
        QVERIFY(browser.waitFor(inSigner + "('.status').textContent === 'Please sign on the signature pad.'"));
        QVERIFY(s.playDemoSignature());
        QVERIFY(browser.waitFor("!" + inSigner + "('[data-action=confirm]').disabled")); // ink has arrived
        browser.evaluate("document.querySelector('zq-signature').confirm(); true");
        QVERIFY(browser.waitFor("document.getElementById('result').textContent === 'confirmed on the pad'", 15000));
        QVERIFY(QFileInfo(s.outDir() + "/save.png").size() > 0);
        QVERIFY(QFileInfo(s.outDir() + "/path.save").size() > 0);
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBrowserPermission)
#include "tst_browserpermission.moc"

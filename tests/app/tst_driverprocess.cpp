// The real driver binary in a virtual X session: single instance, welcome
// notice, tray, signals and the WebSocket service as a person and a page see them.
#include "support/driverprocess.h"
#include "support/wsclient.h"
#include "support/xsession.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {
// The driver retries a taken port every 3 s: watching 4 s sees one retry.
constexpr int kOneRetryWatchMs = 4000;
const QString kNotice = QString::fromUtf8("已经有实例在运行了!!!!");

QString embeddedWindow(const XSession &x, qint64 pid)
{
    for (const QString &w : x.visibleWindows(pid)) {
        for (const QString &line : x.run("xwininfo", {"-id", w, "-tree"}).split('\n')) {
            if (line.contains("Parent window id:") && !line.contains("(the root window)"))
                return w;
        }
    }
    return QString();
}

QMap<QString, int> windowGeometry(const XSession &x, const QString &window)
{
    QMap<QString, int> values;
    const QString shell = x.run("xdotool", {"getwindowgeometry", "--shell", window});
    for (const QString &line : shell.split('\n', Qt::SkipEmptyParts)) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            values.insert(pair.at(0), pair.at(1).toInt());
    }
    return values;
}
}

class TestDriverProcess : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<XSession> x;
    QTemporaryDir roots;
    int next = 0;

    QString freshRoot() { return roots.path() + "/run" + QString::number(next++); }

private slots:
    void initTestCase()
    {
        x = XSession::startXvfb();
        QVERIFY2(!x->display().isEmpty(), qPrintable(x->lastError()));
    }

    void aSecondInstanceExitsAtOnceWhileTheFirstServes()
    {
        const QString root = freshRoot();
        DriverProcess first(root, x->environment());
        QVERIFY(first.skipWelcomeNotice());
        QVERIFY(first.start());
        QVERIFY(DriverProcess::portAccepts(10000));

        DriverProcess second(root, x->environment());
        QVERIFY(second.start());
        QVERIFY(second.waitForExit(5000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(second.output().contains(kNotice), qPrintable(second.output()));

        QVERIFY(first.isRunning());
        WsClient page;
        QVERIFY(page.open());
        QCOMPARE(first.terminate(), 0);
    }

    void aKilledInstanceLeavesNoLockBehind()
    {
        const QString root = freshRoot();
        DriverProcess first(root, x->environment());
        QVERIFY(first.skipWelcomeNotice());
        QVERIFY(first.start());
        QVERIFY(DriverProcess::portAccepts(10000));
        first.kill();
        QVERIFY(QFile::exists(first.runtimeDir() + "/ZQSIGNExeName.pid"));

        DriverProcess again(root, x->environment());
        QVERIFY(again.start());
        QVERIFY(DriverProcess::portAccepts(10000));
        QVERIFY(again.isRunning());
        QVERIFY(!again.output().contains(kNotice));
        QCOMPARE(again.terminate(), 0);
    }

    void theFirstStartShowsTheNoticeOnceAndTheMainWindowNever()
    {
        const QString root = freshRoot();
        // The notice closes 2 s after its timer starts, which is before it
        // shows: on a busy machine it may be on screen only briefly. The
        // server's own events show it however short its time.
        WindowWatch watch(*x);
        QVERIFY(watch.isOpen());
        DriverProcess first(root, x->environment());
        QVERIFY(first.start());
        QVERIFY(QTest::qWaitFor([&] { return watch.wasMapped(first.pid(), "^Dialog$"); }, 30000));
        // Looked at while the notice is on screen (before and after the look).
        if (watch.isMapped(first.pid(), "^Dialog$")) {
            const bool accepts = DriverProcess::portAccepts(0);
            if (watch.isMapped(first.pid(), "^Dialog$"))
                QVERIFY2(!accepts, "the service starts only after the notice");
        }
        QTRY_VERIFY_WITH_TIMEOUT(!watch.isMapped(first.pid(), "^Dialog$"), 6000);
        QVERIFY(DriverProcess::portAccepts(10000));
        QVERIFY(x->visibleWindows(first.pid()).isEmpty());
        QCOMPARE(first.terminate(), 0);

        QFile settings(first.settingsFile());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("SHOWWELCOMTIPS=false"));

        DriverProcess second(root, x->environment());
        QVERIFY(second.start());
        QVERIFY(DriverProcess::portAccepts(10000));
        QVERIFY(!watch.wasMapped(second.pid(), "^Dialog$"));
        QCOMPARE(second.terminate(), 0);
    }

    void aTerminationSignalDuringTheFirstNoticeEndsTheDriver()
    {
        WindowWatch watch(*x);
        QVERIFY(watch.isOpen());
        DriverProcess driver(freshRoot(), x->environment());
        QVERIFY(driver.start());
        QVERIFY(QTest::qWaitFor([&] { return watch.wasMapped(driver.pid(), "^Dialog$"); }, 30000));
        ::kill(pid_t(driver.pid()), SIGTERM);
        QVERIFY(driver.waitForExit(10000));
        QCOMPARE(driver.exitCode(), 0);
    }

    void theTrayQuitEntryEndsTheDriverWithCodeZero()
    {
        std::unique_ptr<XSession> desk = XSession::startXvfb(QSize(1280, 800));
        QVERIFY2(!desk->display().isEmpty(), qPrintable(desk->lastError()));
        QVERIFY(desk->startTray());

        DriverProcess driver(freshRoot(), desk->environment());
        QVERIFY(driver.skipWelcomeNotice());
        QVERIFY(driver.start());
        QVERIFY(DriverProcess::portAccepts(10000));

        // The embedded icon is the driver's visible window whose parent is not the root.
        QString icon;
        QTRY_VERIFY_WITH_TIMEOUT(!(icon = embeddedWindow(*desk, driver.pid())).isEmpty(), 10000);
        const auto iconAt = windowGeometry(*desk, icon);
        desk->run("xdotool", {"mousemove", "--sync", QString::number(iconAt["X"] + iconAt["WIDTH"] / 2),
                              QString::number(iconAt["Y"] + iconAt["HEIGHT"] / 2), "click", "3"});

        QString menu;
        auto findMenu = [&] {
            for (const QString &w : desk->visibleWindows(driver.pid())) {
                if (desk->run("xprop", {"-id", w, "_NET_WM_WINDOW_TYPE"}).contains("POPUP_MENU"))
                    return w;
            }
            return QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(!(menu = findMenu()).isEmpty(), 5000);
        const auto menuAt = windowGeometry(*desk, menu);
        desk->run("xdotool", {"mousemove", "--sync", QString::number(menuAt["X"] + menuAt["WIDTH"] / 2),
                              QString::number(menuAt["Y"] + menuAt["HEIGHT"] / 2), "click", "1"});

        QVERIFY(driver.waitForExit(10000));
        QCOMPARE(driver.exitCode(), 0);
    }

    void withoutATrayTheDriverStillServesPages()
    {
        DriverProcess driver(freshRoot(), x->environment());
        QVERIFY(driver.skipWelcomeNotice());
        QVERIFY(driver.start());
        QVERIFY(DriverProcess::portAccepts(10000));
        WsClient page;
        QVERIFY(page.open());
        page.send("{\"bizcode\":\"9999\"}");
        // A page's requests are handled in order: the status that answers a
        // subscription comes after the unknown request was dealt with.
        page.send("{\"bizcode\":\"2100\"}");
        QVERIFY(page.waitForMessages(1, 10000));
        QVERIFY(page.messages.first().startsWith("{\"bizcode\":\"2101\""));
        QCOMPARE(page.socket.state(), QAbstractSocket::ConnectedState);
        QVERIFY(driver.isRunning());
        QVERIFY(x->visibleWindows(driver.pid()).isEmpty());
        QCOMPARE(driver.terminate(), 0);
    }

    void aTakenPortIsShownOnceAndServedOnceFree()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::Any, 36325));
        DriverProcess driver(freshRoot(), x->environment());
        QVERIFY(driver.skipWelcomeNotice());
        QVERIFY(driver.start());
        QVERIFY(driver.waitForOutput("port 36325 on 127.0.0.1 is already in use", 10000));
        QTRY_COMPARE_WITH_TIMEOUT(x->visibleWindows(driver.pid(), QString::fromUtf8("错误")).size(), 1, 10000);
        // Retries bring no second box: watched over one retry (every 3 s).
        QTest::qWait(kOneRetryWatchMs);
        QCOMPARE(x->visibleWindows(driver.pid(), QString::fromUtf8("错误")).size(), 1);
        QVERIFY(driver.isRunning());
        squatter.close();
        QVERIFY(driver.waitForOutput("now listening on 127.0.0.1 port 36325", 10000));
        WsClient page;
        QVERIFY(page.open());
        QCOMPARE(driver.terminate(), 0);
    }

    void terminationSignalsQuitInOrderAndPagesGetANormalClose_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void terminationSignalsQuitInOrderAndPagesGetANormalClose()
    {
        QFETCH(int, signalNumber);
        DriverProcess driver(freshRoot(), x->environment());
        QVERIFY(driver.skipWelcomeNotice());
        QVERIFY(driver.start());
        QVERIFY(DriverProcess::portAccepts(10000));
        WsClient page;
        QVERIFY(page.open());
        ::kill(pid_t(driver.pid()), signalNumber);
        QVERIFY(page.waitForDisconnect(10000));
        QCOMPARE(page.closeCode, QWebSocketProtocol::CloseCodeNormal);
        QVERIFY(driver.waitForExit(10000));
        QCOMPARE(driver.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDriverProcess)
#include "tst_driverprocess.moc"

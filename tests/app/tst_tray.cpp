// The tray on the desktops of today: a StatusNotifierItem host on the session
// bus (a panel of KDE Plasma, GNOME with the AppIndicator extension), and no
// tray of any kind. The XEmbed tray has its test in tst_driverprocess.
#include "support/driverprocess.h"
#include "support/sessionbus.h"
#include "support/statusnotifierwatcher.h"
#include "support/xsession.h"
#include "web/signingsession.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <memory>

namespace {
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

struct MenuEntry
{
    int id = 0;
    QVariantMap properties;
    QList<MenuEntry> children;
};

// One (ia{sv}av) node of a com.canonical.dbusmenu layout, with its children.
MenuEntry readLayout(const QDBusArgument &arg)
{
    MenuEntry entry;
    arg.beginStructure();
    arg >> entry.id >> entry.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        entry.children << readLayout(child.variant().value<QDBusArgument>());
    }
    arg.endArray();
    arg.endStructure();
    return entry;
}

QVariant itemProperty(const QDBusConnection &bus, const QString &service, const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, "/StatusNotifierItem",
                                                       "org.freedesktop.DBus.Properties", "Get");
    call << kItemInterface << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// The title of an item's (sa(iiay)ss) tool tip.
QString toolTipTitle(const QVariant &toolTip)
{
    const QDBusArgument arg = toolTip.value<QDBusArgument>();
    QString iconName, title, text;
    arg.beginStructure();
    arg >> iconName;
    arg.beginArray();
    while (!arg.atEnd()) {
        int width = 0, height = 0;
        QByteArray pixels;
        arg.beginStructure();
        arg >> width >> height >> pixels;
        arg.endStructure();
    }
    arg.endArray();
    arg >> title >> text;
    arg.endStructure();
    return title;
}
}

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void theStatusNotifierItemsQuitEntryEndsTheDriverAndClosesPages()
    {
        std::unique_ptr<XSession> x = XSession::startXvfb(QSize(1280, 800));
        QVERIFY2(!x->display().isEmpty(), qPrintable(x->lastError()));
        SessionBus bus;
        QVERIFY(!bus.address().isEmpty());
        StatusNotifierWatcher watcher;
        QVERIFY(watcher.publish(bus.connection()));
        QSignalSpy registered(&watcher, &StatusNotifierWatcher::StatusNotifierItemRegistered);

        QTemporaryDir root;
        QProcessEnvironment env = x->environment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        DriverProcess driver(root.path(), env);
        QVERIFY(driver.skipWelcomeNotice());
        QVERIFY(driver.start());
        QVERIFY(DriverProcess::portAccepts(10000));
        WsClient firstPage, secondPage;
        QVERIFY(firstPage.open());
        QVERIFY(secondPage.open());

        QTRY_VERIFY_WITH_TIMEOUT(registered.count() == 1, 10000);
        const QString service = registered.at(0).at(0).toString();
        QVERIFY(!driver.output().contains("No system tray"));
        // With a StatusNotifierItem there is no XEmbed icon window.
        QVERIFY(x->visibleWindows(driver.pid()).isEmpty());

        const QDBusConnection conn = bus.connection();
        QCOMPARE(toolTipTitle(itemProperty(conn, service, "ToolTip")), QString::fromUtf8("手写板驱动"));
        const QString menuPath = itemProperty(conn, service, "Menu").value<QDBusObjectPath>().path();
        QVERIFY(!menuPath.isEmpty());

        QDBusInterface menu(service, menuPath, kMenuInterface, conn);
        const QDBusMessage layout = menu.call("GetLayout", 0, -1, QStringList());
        QCOMPARE(layout.type(), QDBusMessage::ReplyMessage);
        const MenuEntry top = readLayout(layout.arguments().at(1).value<QDBusArgument>());
        QCOMPARE(top.children.size(), 1);
        const MenuEntry quit = top.children.at(0);
        // dbusmenu writes a mnemonic with '_' where Qt's text has '&'.
        QString label = QString::fromUtf8("退出(&Q)");
        label.replace('&', '_');
        QCOMPARE(quit.properties.value("label").toString(), label);

        const QDBusMessage clicked = menu.call("Event", quit.id, QStringLiteral("clicked"),
                                               QVariant::fromValue(QDBusVariant(0)), 0u);
        QVERIFY2(clicked.type() == QDBusMessage::ReplyMessage, qPrintable(clicked.errorMessage()));

        QVERIFY(firstPage.waitForDisconnect(10000));
        QVERIFY(secondPage.waitForDisconnect(10000));
        QCOMPARE(firstPage.closeCode, QWebSocketProtocol::CloseCodeNormal);
        QCOMPARE(secondPage.closeCode, QWebSocketProtocol::CloseCodeNormal);
        QVERIFY(driver.waitForExit(10000));
        QCOMPARE(driver.exitCode(), 0);
    }

    void withNoTrayAtAllTheDriverSignsAndSaysOnceHowToStopIt()
    {
        std::unique_ptr<XSession> x = XSession::startXvfb(QSize(1280, 800));
        QVERIFY2(!x->display().isEmpty(), qPrintable(x->lastError()));
        SigningSession s;
        QVERIFY(s.start(x.get(), "qz07"));
        s.request("2025", s.outDir());
        s.request("2023");
        QVERIFY(s.waitForBlankImages(1));
        QVERIFY(s.playDemoSignature());
        s.request("2022");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(s.outDir() + "/save.png") && QFile::exists(s.outDir() + "/path.save"),
                                 10000);
        QVERIFY(inkPixels(QImage(s.outDir() + "/save.png")) > 0);

        QCOMPARE(s.driver->output().count("No system tray is available"), 1);
        QVERIFY(s.driver->output().contains("SIGTERM"));
        QVERIFY(s.driver->output().contains("logging out"));
        // No window at all, so nothing waits to be dismissed.
        QVERIFY(x->visibleWindows(s.driver->pid()).isEmpty());
        QCOMPARE(s.driver->terminate(), 0);
        QVERIFY(s.page.waitForDisconnect(10000));
        QCOMPARE(s.page.closeCode, QWebSocketProtocol::CloseCodeNormal);
    }
};

QTEST_GUILESS_MAIN(TestTray)
#include "tst_tray.moc"

#include "app/mainwindow.h"
#include "signing/signingstate.h"
#include "web/WebsocketHandler.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QTest>
#include <QTimer>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void theWindowIsBuiltHiddenWithItsPartsInPlace()
    {
        MainWindow window;
        QCOMPARE(window.objectName(), QString("MainWindow"));
        QCOMPARE(window.size(), QSize(800, 600));
        QCOMPARE(window.windowTitle(), QString("MainWindow"));
        QVERIFY(!window.isVisible());
        QCOMPARE(mdialog.load(), &window);
        QVERIFY(!QFile::exists(QDir::tempPath() + "/tanspic"));
        QVERIFY(QMetaType::type("TOUCH_INFO") != QMetaType::UnknownType);

        QVERIFY(window.webSocketHandler()->isListening());
        QCOMPARE(window.webSocketHandler()->serverPort(), quint16(36325));
    }

    void withoutATrayThereIsNoIconButTheQuitEntryExists()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable()); // the offscreen platform has none
        MainWindow window;
        QVERIFY(window.findChildren<QSystemTrayIcon *>().isEmpty());
        QVERIFY(window.windowIcon().isNull());
        const auto actions = window.findChildren<QAction *>();
        QCOMPARE(actions.size(), 1);
        QCOMPARE(actions.first()->text(), QString::fromUtf8("退出(&Q)"));
    }

    void theIconResourceHoldsEverySize()
    {
        MainWindow window;
        const QList<QSize> sizes = QIcon(":/image/res/launcher.ico").availableSizes();
        for (int side : {16, 32, 48, 64, 128})
            QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
    }

    void theQuitEntryEndsTheEventLoopWithCodeZero()
    {
        MainWindow window;
        QAction *quit = window.findChildren<QAction *>().first();
        QTimer::singleShot(50, quit, &QAction::trigger);
        QCOMPARE(QApplication::exec(), 0);
    }

    void closingTheLastVisibleWindowKeepsTheDriverRunning()
    {
        MainWindow window;
        QApplication::setQuitOnLastWindowClosed(true);
        QWidget box;
        box.show();
        QTimer::singleShot(50, &box, &QWidget::close);
        QTimer::singleShot(600, [] { QCoreApplication::exit(42); });
        QCOMPARE(QApplication::exec(), 42);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

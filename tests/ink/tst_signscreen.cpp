// The signing window where no monitor is made for it (the offscreen platform
// has one screen without a manufacturer), and its choice of monitor.
#include "app/mainwindow.h"
#include "ink/SignScreen.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

class TestSignScreen : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheLastMonitorMadeForIt_data()
    {
        QTest::addColumn<QStringList>("manufacturers");
        QTest::addColumn<int>("chosen");
        QTest::newRow("none") << QStringList() << -1;
        QTest::newRow("empty name") << QStringList{""} << -1;
        QTest::newRow("other makers") << QStringList{"Dell Inc.", "AOC", "RK"} << -1;
        QTest::newRow("only one") << QStringList{"Dell Inc.", "RKX"} << 1;
        QTest::newRow("lower case, then upper case") << QStringList{"rkx", "RKX", "AOC"} << 1;
        QTest::newRow("inside a longer name") << QStringList{"AOC", "The rKx Company", "Dell Inc."} << 1;
        QTest::newRow("first of one") << QStringList{"RKX", ""} << 0;
    }
    void choosesTheLastMonitorMadeForIt()
    {
        QFETCH(QStringList, manufacturers);
        QFETCH(int, chosen);
        QCOMPARE(SignScreen::chooseScreen(manufacturers), chosen);
    }

    void noMatchingMonitorGivesMinusOneAndNoWindow()
    {
        QCOMPARE(QGuiApplication::screens().size(), 1);
        QVERIFY(QGuiApplication::primaryScreen()->manufacturer().isEmpty());
        auto *window = new SignScreen(nullptr);
        QCOMPARE(window->StartSignScreen(), -1);
        QVERIFY(!SignScreen::isStarted());
        QVERIFY(!window->isVisible());
        QVERIFY(window->picture().isNull());
        // A window that did not start must take samples without harm.
        window->drawPenLine(100, 100, 1000, 1000, 500);
        window->drawPenLine(200, 200, 1000, 1000, 500);
        window->clearImage();
        delete window;
    }

    void theMainWindowKeepsNoWindowThatFailedToStart()
    {
        MainWindow main;
        QCOMPARE(main.openSignScreen(), -1);
        QVERIFY(!main.signScreen());
        const auto visible = [] {
            int count = 0;
            for (QWidget *w : QApplication::topLevelWidgets())
                count += w->isVisible();
            return count;
        };
        QCOMPARE(visible(), 0);
        main.CloseSignScreen_10(); // nothing to close
        main.OnDeviceOut(2903, 34100);
        QVERIFY(!main.signScreen());
    }
};

QTEST_MAIN(TestSignScreen)
#include "tst_signscreen.moc"

// The signing window on a real X display with two monitors side by side: an
// ordinary one on the left and one made for the pad (EDID maker "RKX") on the right.
#include "app/mainwindow.h"
#include "ink/SignScreen.h"
#include "ink/signscreentesting.h"
#include "support/xsession.h"

#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QTest>

#include <unistd.h>

namespace {
const QRect kRkxMonitor(1280, 0, 1920, 1080);
constexpr int kPadWidth = 10206; // a T330's coordinate extents
constexpr int kPadHeight = 7422;

// Pad coordinates of a point on a 1920 x 1080 monitor.
int padX(int screenX)
{
    return (screenX * kPadWidth + 1919) / 1920;
}
int padY(int screenY)
{
    return (screenY * kPadHeight + 1079) / 1080;
}

class PaintRecorder : public QObject
{
public:
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};
} // namespace

class TestSignScreenMonitors : public QObject
{
    Q_OBJECT
public:
    explicit TestSignScreenMonitors(const XSession *x) : m_x(x) {}

private:
    const XSession *m_x;
    QPointer<SignScreen> m_window;

    // Draws one sample given in monitor pixels.
    void touch(int screenX, int screenY, int pressure)
    {
        m_window->drawPenLine(padX(screenX), padY(screenY), kPadWidth, kPadHeight, pressure);
    }

    // Catches up with the X server: it has done everything this process
    // asked, the events it sent back are handled, the repaints they and
    // earlier updates ask for are done, and their pixels reached the server.
    static void catchUpWithTheServer()
    {
        QGuiApplication::sync();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QGuiApplication::sync();
    }

    // The display as the person sees it, once the window has painted.
    QImage settledScreenshot()
    {
        catchUpWithTheServer();
        return m_x->screenshot();
    }

private slots:
    void initTestCase()
    {
        paintWindowsInTestColour();
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        QCOMPARE(screens[0]->manufacturer().contains("RKX"), false);
        QCOMPARE(screens[1]->manufacturer(), QString("RKX"));
        QCOMPARE(screens[1]->geometry(), kRkxMonitor);
    }

    void init()
    {
        m_window = new SignScreen(nullptr);
        QCOMPARE(m_window->StartSignScreen(), 0);
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanup()
    {
        if (m_window) {
            m_window->close();
            delete m_window;
        }
        QVERIFY(!SignScreen::isStarted());
    }

    void coversExactlyTheRkxMonitor()
    {
        QVERIFY(SignScreen::isStarted());
        QCOMPARE(m_window->geometry(), kRkxMonitor);
        QVERIFY(m_window->windowFlags().testFlag(Qt::FramelessWindowHint));
        QImage shot;
        // The first map of a window can take a moment to reach the screen.
        QTRY_COMPARE_WITH_TIMEOUT(windowColourBounds(shot = m_x->screenshot()), kRkxMonitor, 10000);
        QCOMPARE(shot.size(), QSize(3200, 1080));
        QVERIFY(isWindowColour(shot.pixel(1280, 0)));
        QVERIFY(isWindowColour(shot.pixel(3199, 0)));
        QVERIFY(isWindowColour(shot.pixel(1280, 1079)));
        QVERIFY(!isWindowColour(shot.pixel(1279, 500)));
    }

    void threeDisabledButtonsLabelTheStrip()
    {
        const QList<QPushButton *> buttons = m_window->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 3);
        const QMap<QString, QRect> expected = {
            {QString::fromUtf8("确认"), QRect(QPoint(1, 945), QPoint(640, 1079))},
            {QString::fromUtf8("重签"), QRect(QPoint(641, 945), QPoint(1280, 1079))},
            {QString::fromUtf8("取消"), QRect(QPoint(1281, 945), QPoint(1920, 1079))},
        };
        for (QPushButton *button : buttons) {
            QVERIFY2(expected.contains(button->text()), qPrintable(button->text()));
            QCOMPARE(button->geometry(), expected.value(button->text()));
            QVERIFY(!button->isEnabled());
            QVERIFY(button->isVisible());
        }
        // On screen the strip is the buttons', the rest the window's.
        const QImage shot = settledScreenshot();
        for (int x : {320, 960, 1600}) {
            QVERIFY(!isWindowColour(shot.pixel(1280 + x, 1012)));
            QVERIFY(isWindowColour(shot.pixel(1280 + x, 940)));
        }
    }

    void inkAppearsWhereTheMappingSays()
    {
        m_window->drawPenLine(5103, 3711, kPadWidth, kPadHeight, 1024); // (960, 540)
        m_window->drawPenLine(7654, 3711, kPadWidth, kPadHeight, 1024); // (1439, 540)
        m_window->drawPenLine(0, 0, kPadWidth, kPadHeight, 1024);       // (0, 0): outside, ends it
        m_window->drawPenLine(7654, 5000, kPadWidth, kPadHeight, 1024); // starts anew

        const QImage picture = m_window->picture();
        QCOMPARE(picture.size(), QSize(1920, 1080));
        QCOMPARE(qAlpha(picture.pixel(960, 540)), 255);
        QCOMPARE(qAlpha(picture.pixel(1200, 540)), 255);
        QCOMPARE(qAlpha(picture.pixel(1445, 540)), 0);
        QCOMPARE(qAlpha(picture.pixel(1439, 620)), 0); // no segment into the new start
        double width = 0;
        for (int y = 530; y < 550; ++y)
            width += qAlpha(picture.pixel(1200, y)) / 255.0;
        QVERIFY2(qAbs(width - 3.5) < 0.1, qPrintable(QString::number(width)));

        const QImage shot = settledScreenshot();
        QVERIFY(qGray(shot.pixel(1280 + 1200, 540)) < 40);
        QVERIFY(qGray(shot.pixel(1280 + 960, 540)) < 40);
        QVERIFY(isWindowColour(shot.pixel(1280 + 1200, 560)));
        QVERIFY(isWindowColour(shot.pixel(1280 + 1439, 620)));
    }

    void repaintsOnlyTheTouchedRectangle()
    {
        PaintRecorder recorder;
        m_window->installEventFilter(&recorder);
        catchUpWithTheServer(); // earlier paints are not recorded
        recorder.painted = QRegion();
        touch(900, 500, 1024);
        touch(1000, 560, 1024); // width 3.5: the rectangle grows by 3 on each side
        catchUpWithTheServer();
        QVERIFY(!recorder.painted.isEmpty());
        QCOMPARE(recorder.painted.boundingRect(), QRect(QPoint(897, 497), QPoint(1003, 563)));
        m_window->removeEventFilter(&recorder);
    }

    void clearingKeepsTheStrokeUntilAPenLift()
    {
        touch(300, 300, 800);
        touch(500, 300, 800);
        m_window->clearImage();
        QCOMPARE(qAlpha(m_window->picture().pixel(400, 300)), 0);
        touch(500, 300, 800); // the stroke goes on after a clear
        touch(600, 300, 800);
        QVERIFY(qAlpha(m_window->picture().pixel(550, 300)) > 0);

        m_window->clearImage();
        touch(600, 300, 0); // what the main window sends after a clear on re-sign
        touch(700, 400, 800);
        QCOMPARE(qAlpha(m_window->picture().pixel(650, 350)), 0);
        touch(800, 400, 800);
        QVERIFY(qAlpha(m_window->picture().pixel(750, 400)) > 0);
        const QImage shot = settledScreenshot();
        QVERIFY(isWindowColour(shot.pixel(1280 + 400, 300)));
        QVERIFY(qGray(shot.pixel(1280 + 750, 400)) < 100);
    }

    void aSecondStartChangesNothing()
    {
        QCOMPARE(m_window->StartSignScreen(), 0);
        QCOMPARE(m_window->geometry(), kRkxMonitor);
        QCOMPARE(m_window->findChildren<QPushButton *>().size(), 3);

        auto *other = new SignScreen(nullptr);
        QCOMPARE(other->StartSignScreen(), 0);
        QVERIFY(!other->isVisible());
        QVERIFY(other->picture().isNull());
        delete other;
        QVERIFY(SignScreen::isStarted()); // still the first window's
        QCOMPARE(m_x->visibleWindows(getpid()).size(), 1);
    }

    void growsWithTheWindow()
    {
        touch(100, 100, 900);
        touch(200, 100, 900);
        m_window->resize(2000, 1200);
        QTRY_COMPARE(m_window->picture().size(), QSize(2128, 1328));
        QVERIFY(qAlpha(m_window->picture().pixel(150, 100)) > 0);
        QCOMPARE(m_window->picture().pixel(2100, 1300), 0x00FFFFFFu);
    }

    void theMainWindowClosesItWhenThePadGoes()
    {
        m_window->close();
        delete m_window;

        MainWindow main;
        QCOMPARE(main.openSignScreen(), 0);
        QPointer<SignScreen> opened = main.signScreen();
        QVERIFY(opened && opened->isVisible());
        QCOMPARE(opened->geometry(), kRkxMonitor);

        main.OnDeviceOut(4660, 22136); // another pad
        QVERIFY(main.signScreen() == opened);
        main.OnDeviceOut(2903, 34100); // the T330
        QVERIFY(opened.isNull());
        QVERIFY(!main.signScreen());
        QVERIFY(!SignScreen::isStarted());
        QTRY_VERIFY(m_x->visibleWindows(getpid()).isEmpty());

        // Closing the main window takes it too.
        QCOMPARE(main.openSignScreen(), 0);
        opened = main.signScreen();
        main.close();
        QVERIFY(opened.isNull());
        QVERIFY(!SignScreen::isStarted());

        // Closed by anything else, it deletes itself and the main window forgets it.
        QCOMPARE(main.openSignScreen(), 0);
        main.signScreen()->close();
        QTRY_VERIFY(!main.signScreen());
        QVERIFY(!SignScreen::isStarted());
        QCOMPARE(main.openSignScreen(), 0);
        QVERIFY(main.signScreen()->isVisible());
        main.CloseSignScreen_10();
        QVERIFY(!main.signScreen());
    }
};

int main(int argc, char **argv)
{
    const auto x = XSession::startMonitors({{"ABC", QSize(1280, 1024)}, {"RKX", QSize(1920, 1080)}});
    TestSignScreenMonitors test(x.get());
    return x->execTest(&test, argc, argv);
}

#include "tst_signscreen_monitors.moc"

// The signing window on a real X display whose only monitor is not made for
// the pad: nothing may appear.
#include "app/mainwindow.h"
#include "ink/SignScreen.h"
#include "ink/signscreentesting.h"
#include "support/xsession.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <unistd.h>

namespace {
// How long the display is watched for a window that must not appear.
constexpr int kNoWindowWatchMs = 200;
}

class TestSignScreenNoMatch : public QObject
{
    Q_OBJECT
public:
    explicit TestSignScreenNoMatch(const XSession *x) : m_x(x) {}

private:
    const XSession *m_x;

private slots:
    void initTestCase()
    {
        paintWindowsInTestColour();
        QCOMPARE(QGuiApplication::screens().size(), 1);
        const QString maker = QGuiApplication::primaryScreen()->manufacturer();
        QVERIFY2(!maker.isEmpty() && !maker.contains("RKX", Qt::CaseInsensitive), qPrintable(maker));
    }

    void noWindowAppears()
    {
        auto *window = new SignScreen(nullptr);
        QCOMPARE(window->StartSignScreen(), -1);
        QVERIFY(!SignScreen::isStarted());
        QTest::qWait(kNoWindowWatchMs); // no window shows up, not even late
        QVERIFY(m_x->visibleWindows(getpid()).isEmpty());
        QCOMPARE(windowColourBounds(m_x->screenshot()), QRect());
        delete window;

        MainWindow main;
        QCOMPARE(main.openSignScreen(), -1);
        QVERIFY(!main.signScreen());
        QTest::qWait(kNoWindowWatchMs); // no window shows up, not even late
        QVERIFY(m_x->visibleWindows(getpid()).isEmpty());
    }
};

int main(int argc, char **argv)
{
    const auto x = XSession::startXvfb();
    if (!x->outputs().isEmpty())
        x->setEdidVendor(x->outputs().first(), "ABC");
    TestSignScreenNoMatch test(x.get());
    return x->execTest(&test, argc, argv);
}

#include "tst_signscreen_nomatch.moc"

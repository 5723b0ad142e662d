// Two monitors made for the pad side by side: the signing window takes the
// last one Qt lists.
#include "ink/SignScreen.h"
#include "ink/signscreentesting.h"
#include "support/xsession.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>

class TestSignScreenTwoRkx : public QObject
{
    Q_OBJECT
public:
    explicit TestSignScreenTwoRkx(const XSession *x) : m_x(x) {}

private:
    const XSession *m_x;

private slots:
    void theLastMatchingMonitorWins()
    {
        paintWindowsInTestColour();
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        QCOMPARE(screens[0]->manufacturer(), QString("RKX"));
        QCOMPARE(screens[1]->manufacturer(), QString("RKX"));
        const QRect last = screens[1]->geometry();

        auto *window = new SignScreen(nullptr);
        QCOMPARE(window->StartSignScreen(), 0);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->geometry(), last);
        QImage shot;
        QTRY_COMPARE_WITH_TIMEOUT(windowColourBounds(shot = m_x->screenshot()), last, 10000);
        window->close();
        delete window;
    }
};

int main(int argc, char **argv)
{
    const auto x = XSession::startMonitors({{"RKX", QSize(1024, 768)}, {"RKX", QSize(1280, 1024)}});
    TestSignScreenTwoRkx test(x.get());
    return x->execTest(&test, argc, argv);
}

#include "tst_signscreen_tworkx.moc"

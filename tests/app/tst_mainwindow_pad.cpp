// The main window's side of the pad: it owns the controller and writes a line
// for every pad plugged in or pulled out.

#include "app/mainwindow.h"
#include "pad/CorvanSign.h"

#include "support/messagelog.h"
#include "support/padsim.h"

#include <QTest>

class MainWindowPadTest : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

    static bool hasLine(const MessageLog &messages, const QString &start)
    {
        for (const QString &text : messages.texts()) {
            if (text.startsWith(start))
                return true;
        }
        return false;
    }

private slots:
    void init()
    {
        QVERIFY(m_sim.ok("reset"));
        muti_dev.curIndex = -1;
    }

    void theWindowOwnsOneController()
    {
        auto *window = new MainWindow;
        CorvanSign *sign = mCorvanSign;
        QVERIFY(sign);
        QVERIFY(m_sim.plug("kz07"));
        QCOMPARE(sign->InitDeviceStatus(), 0);
        MessageLog messages;
        delete window;
        QVERIFY(!mCorvanSign.load());
        QVERIFY(hasLine(messages, QString::fromUtf8("CorvanSign析构====")));
        QVERIFY(m_sim.log().contains("close"));
    }

    void aDeviceArrivingIsLogged()
    {
        MainWindow window;
        MessageLog messages;
        QVERIFY(m_sim.plugUsb("046d:c077"));
        QTRY_VERIFY(hasLine(messages, QString::fromUtf8("设备接入：OnDeviceIn  0 0")));
    }

    void thePadLeavingIsLoggedWithItsVendor()
    {
        MainWindow window;
        QVERIFY(m_sim.plug("qz07"));
        QCOMPARE(mCorvanSign.load()->InitDeviceStatus(), 0);
        MessageLog messages;
        QVERIFY(m_sim.unplug("qz07"));
        QTRY_VERIFY(hasLine(messages, QString::fromUtf8("设备拔出：OnDeviceOut  10429")));
    }
};

QTEST_MAIN(MainWindowPadTest)
#include "tst_mainwindow_pad.moc"

#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/tipsdialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>

namespace {
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("ZQSignDriver");
    }

    void init()
    {
        QFile::remove(settingsFilePath());
    }

    void settingsLiveInTheUsersConfigFolder()
    {
        QCOMPARE(settingsFilePath(),
                 qEnvironmentVariable("XDG_CONFIG_HOME") + "/ZQSignDriver/ZQHIDSettings.ini");
    }

    void firstStartWantsTheNoticeOnceAndRecordsIt()
    {
        const QString path = settingsFilePath();
        {
            QSettings settings(path, QSettings::IniFormat);
            QVERIFY(welcomeTipsWanted(settings, path));
            markWelcomeTipsShown(path);
        }
        QVERIFY(readFile(path).contains("SHOWWELCOMTIPS=false"));

        QSettings again(path, QSettings::IniFormat);
        QVERIFY(!welcomeTipsWanted(again, path));
    }

    void aFileWithoutTheKeyShowsNothingAndGainsNothing()
    {
        const QString path = settingsFilePath();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Other]\nvalue=1\n");
        file.close();
        {
            QSettings settings(path, QSettings::IniFormat);
            QVERIFY(!welcomeTipsWanted(settings, path));
        }
        QCOMPARE(readFile(path), QByteArray("[Other]\nvalue=1\n"));
    }

    void aKeySetTrueByHandShowsTheNoticeAgain()
    {
        const QString path = settingsFilePath();
        {
            QSettings settings(path, QSettings::IniFormat);
            settings.setValue("Settings/SHOWWELCOMTIPS", true);
        }
        QSettings settings(path, QSettings::IniFormat);
        QVERIFY(welcomeTipsWanted(settings, path));
    }

    void theNoticeIsAFramelessOnTopToolThatClosesItself()
    {
        QPointer<TipsDialog> tips = new TipsDialog(TipsDialog::Welcome, "first\nsecond", nullptr);
        const Qt::WindowFlags flags = tips->windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        QCOMPARE(tips->findChild<QLabel *>("tiplabel")->text(), QString("first\nsecond"));
        QCOMPARE(tips->findChild<QLabel *>("label")->text(), QString("          Driver Tips"));

        auto *timer = tips->findChild<QTimer *>();
        QVERIFY(!timer->isActive());
        tips->show();
        tips->startTimer();
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(tips.isNull(), 5000); // closed, then deleted on close
    }

    void withoutTheTimerTheNoticeStays()
    {
        QPointer<TipsDialog> tips = new TipsDialog(TipsDialog::Welcome, "stays", nullptr);
        tips->show();
        QVERIFY(QTest::qWaitForWindowExposed(tips));
        // Its timer is what closes it (above), and showing it starts none.
        const QList<QTimer *> timers = tips->findChildren<QTimer *>();
        QVERIFY(!timers.isEmpty());
        for (const QTimer *timer : timers)
            QVERIFY(!timer->isActive());
        QVERIFY(!tips.isNull());
        QVERIFY(tips->isVisible());
        tips->close();
        QTRY_VERIFY(tips.isNull());
    }

    void theLockIsTakenAndAnUnopenableLockFileCountsAsHeld()
    {
        QTemporaryDir dir;
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", dir.path().toLocal8Bit());
        QCOMPARE(lock_set(F_WRLCK), 0);
        QVERIFY(QFile::exists(dir.path() + "/ZQSIGNExeName.pid"));
        QCOMPARE(QFileInfo(dir.path() + "/ZQSIGNExeName.pid").size(), 0);

        QTemporaryDir blocked;
        QVERIFY(QDir().mkdir(blocked.path() + "/ZQSIGNExeName.pid"));
        qputenv("TMPDIR", blocked.path().toLocal8Bit());
        QCOMPARE(lock_set(F_WRLCK), 1);
        qputenv("TMPDIR", oldTmp);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

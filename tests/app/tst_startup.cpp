#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/tipsdialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Sets an environment variable for one scope.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char *name, const QString &value) : m_name(name), m_old(qgetenv(name))
    {
        qputenv(name, QFile::encodeName(value));
    }
    ~EnvironmentOverride() { qputenv(m_name, m_old); }

private:
    const char *m_name;
    QByteArray m_old;
};

uint modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? uint(info.st_mode & 07777) : 0u;
}

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

    void theLockIsTakenPrivatelyInTheRuntimeDirectory()
    {
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        EnvironmentOverride xdg("XDG_RUNTIME_DIR", runtime.path());
        QCOMPARE(lock_set(F_WRLCK), 0);
        const QString lock = runtime.path() + "/ZQSIGNExeName.pid";
        QCOMPARE(QFileInfo(lock).size(), 0);
        QCOMPARE(modeOf(lock), 0600u);

        QVERIFY(QFile::remove(lock));
        QVERIFY(QDir().mkdir(lock));
        QCOMPARE(lock_set(F_WRLCK), 1);
    }

    // Without a private runtime directory the lock has a folder of this
    // user's own, named with the uid, in the shared temporary directory.
    void withoutARuntimeDirectoryTheLockLivesInAFolderNamedWithTheUid()
    {
        QTemporaryDir temp;
        QVERIFY(QFile::setPermissions(temp.path(), QFileDevice::Permissions(0x7777)));
        QTemporaryDir openRuntime;
        QVERIFY(QFile::setPermissions(openRuntime.path(), QFileDevice::Permissions(0x7755)));
        EnvironmentOverride tmp("TMPDIR", temp.path());
        EnvironmentOverride xdg("XDG_RUNTIME_DIR", openRuntime.path());
        const QString folder = temp.path() + "/ZQSignDriver-" + QString::number(::geteuid());
        // Left open by someone: closed again before the lock goes in.
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
        QCOMPARE(lock_set(F_WRLCK), 0);
        QCOMPARE(modeOf(folder), 0700u);
        QCOMPARE(modeOf(folder + "/ZQSIGNExeName.pid"), 0600u);
        QVERIFY(!QFile::exists(openRuntime.path() + "/ZQSIGNExeName.pid"));
    }

    void aFolderNameTakenByALinkOrAnotherUserIsNotUsed()
    {
        QTemporaryDir temp;
        EnvironmentOverride tmp("TMPDIR", temp.path());
        EnvironmentOverride xdg("XDG_RUNTIME_DIR", QString());
        const QString folder = temp.path() + "/ZQSignDriver-" + QString::number(::geteuid());
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(elsewhere.path(), folder));
        QCOMPARE(lock_set(F_WRLCK), 1);
        QVERIFY(!QFile::exists(elsewhere.path() + "/ZQSIGNExeName.pid"));

        if (::geteuid() != 0)
            return;
        QVERIFY(QFile::remove(folder));
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        QCOMPARE(lock_set(F_WRLCK), 1);
        QVERIFY(!QFile::exists(folder + "/ZQSIGNExeName.pid"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

// Several users' drivers on one machine: each user's driver has its own
// single-instance lock, private to that user, so one user's driver never
// keeps another's from starting; a port held by someone else is named. Drivers run as other uids through setpriv,
// so this needs root; the users need no accounts.
#include "support/driverprocess.h"
#include "support/wsclient.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kNotice = QString::fromUtf8("已经有实例在运行了!!!!");
constexpr uint kUserA = 47001;
constexpr uint kUserB = 47002;

struct stat statOf(const QString &path)
{
    struct stat info = {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info;
}

bool isPrivateTo(const QString &path, uint uid, mode_t mode)
{
    const struct stat info = statOf(path);
    return info.st_uid == uid && (info.st_mode & 07777) == mode;
}
} // namespace

class TestSharedMachine : public QObject
{
    Q_OBJECT

private:
    // Under the real /tmp, which every user may enter, as on a machine.
    QTemporaryDir machine{QStringLiteral("/tmp/zq-machine-XXXXXX")};

    QString sharedTemp() const { return machine.path() + "/tmp"; }

    // A driver of `uid` with its own home and runtime folder, and the
    // machine's one shared temporary folder.
    std::unique_ptr<DriverProcess> driverOf(uint uid, bool withRuntimeDirectory)
    {
        auto driver = std::make_unique<DriverProcess>(machine.path() + "/user" + QString::number(uid));
        driver->skipWelcomeNotice();
        driver->runAsUser(uid);
        driver->setEnvironmentValue("TMPDIR", sharedTemp());
        if (!withRuntimeDirectory)
            driver->setEnvironmentValue("XDG_RUNTIME_DIR", QString());
        return driver;
    }

    QString lockFolder(const DriverProcess &driver, uint uid, bool withRuntimeDirectory) const
    {
        return withRuntimeDirectory ? driver.runtimeDir() : sharedTemp() + "/ZQSignDriver-" + QString::number(uid);
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("running drivers as other users needs root");
        QVERIFY(machine.isValid());
        QVERIFY(QFile::setPermissions(machine.path(), QFileDevice::Permissions(0x7755)));
        QVERIFY(QDir().mkdir(sharedTemp()));
        QCOMPARE(::chmod(QFile::encodeName(sharedTemp()).constData(), 01777), 0);
    }

    void anotherUsersDriverStartsAndServesAfterTheFirstQuit_data()
    {
        QTest::addColumn<bool>("withRuntimeDirectory");
        QTest::newRow("runtime directory") << true;
        QTest::newRow("temporary directory only") << false;
    }

    void anotherUsersDriverStartsAndServesAfterTheFirstQuit()
    {
        QFETCH(bool, withRuntimeDirectory);
        auto first = driverOf(kUserA, withRuntimeDirectory);
        QVERIFY(first->start());
        QVERIFY(DriverProcess::portAccepts(10000));
        const QString folder = lockFolder(*first, kUserA, withRuntimeDirectory);
        QVERIFY(isPrivateTo(folder, kUserA, 0700));
        QVERIFY(isPrivateTo(folder + "/ZQSIGNExeName.pid", kUserA, 0600));

        // The same user still gets one driver, and the same message.
        auto again = driverOf(kUserA, withRuntimeDirectory);
        QVERIFY(again->start());
        QVERIFY(again->waitForExit(10000));
        QCOMPARE(again->exitCode(), 0);
        QVERIFY2(again->output().contains(kNotice), qPrintable(again->output()));
        QCOMPARE(first->terminate(), 0);

        auto second = driverOf(kUserB, withRuntimeDirectory);
        QVERIFY(second->start());
        QVERIFY(DriverProcess::portAccepts(10000));
        WsClient page;
        QVERIFY(page.open());
        QVERIFY(second->isRunning());
        QVERIFY2(!second->output().contains(kNotice), qPrintable(second->output()));
        QVERIFY(isPrivateTo(lockFolder(*second, kUserB, withRuntimeDirectory) + "/ZQSIGNExeName.pid", kUserB, 0600));
        QCOMPARE(second->terminate(), 0);
    }

    // While one user's driver holds the port, another's starts all the same
    // and waits for the port.
    void anotherUsersDriverStartsWhileTheFirstRuns()
    {
        auto first = driverOf(kUserA, false);
        QVERIFY(first->start());
        QVERIFY(DriverProcess::portAccepts(10000));
        auto second = driverOf(kUserB, false);
        QVERIFY(second->start());
        QVERIFY2(second->waitForOutput("is already in use", 10000), qPrintable(second->output()));
        QVERIFY(second->isRunning());
        QCOMPARE(first->terminate(), 0);
        QVERIFY2(second->waitForOutput("now listening on 127.0.0.1 port 36325", 10000), qPrintable(second->output()));
        QCOMPARE(second->terminate(), 0);
    }

    // Another user's program took the port first: the driver names it and
    // keeps retrying.
    void aPortHeldByAnotherUsersProgramIsNamed()
    {
        const uid_t before = uid_t(::setfsuid(kUserB));
        QTcpServer squatter;
        const bool listening = squatter.listen(QHostAddress::LocalHost, 36325);
        ::setfsuid(before);
        QVERIFY(listening);
        DriverProcess driver(machine.path() + "/root-driver");
        QVERIFY(driver.skipWelcomeNotice());
        QVERIFY(driver.start());
        const QString named = QStringLiteral("port 36325 is held by uid %1, pid %2 (")
                                  .arg(kUserB)
                                  .arg(QCoreApplication::applicationPid());
        QVERIFY2(driver.waitForOutput(named, 10000), qPrintable(driver.output()));
        squatter.close();
        QVERIFY2(driver.waitForOutput("now listening on 127.0.0.1 port 36325", 10000), qPrintable(driver.output()));
        QCOMPARE(driver.terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSharedMachine)
#include "tst_sharedmachine.moc"

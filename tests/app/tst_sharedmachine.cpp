// Several users' drivers on one machine: each user's driver has its own
// single-instance lock, private to that user, so one user's driver never
// keeps another's from starting; a port held by someone else is named; each
// user's page is served by that user's own driver, whoever holds the port
// (the holder hands other users' connections over). Drivers run as other
// uids through setpriv and pages open sockets as other uids, so this needs
// root; the users need no accounts.
#include "support/driverprocess.h"
#include "support/padsim.h"
#include "support/rawwsclient.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <stddef.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kNotice = QString::fromUtf8("已经有实例在运行了!!!!");
constexpr uint kUserA = 47001;
constexpr uint kUserB = 47002;
constexpr uint kUserWithoutDriver = 47009;

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

sockaddr_un handOverAddress(uint uid, socklen_t *length)
{
    const QByteArray name = "ZQSignDriver-handover-" + QByteArray::number(uid);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    return address;
}

bool readable(int fd, int timeoutMs)
{
    pollfd entry = {fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1;
}
} // namespace

class TestSharedMachine : public QObject
{
    Q_OBJECT

private:
    // Under the real /tmp, which every user may enter, as on a machine.
    QTemporaryDir machine{QStringLiteral("/tmp/zq-machine-XXXXXX")};

    QString sharedTemp() const { return machine.path() + "/tmp"; }

    QString userRoot(uint uid) const { return machine.path() + "/user" + QString::number(uid); }

    // A driver of `uid` with its own home and runtime folder, and the
    // machine's one shared temporary folder; with `pad`, on that virtual pad.
    std::unique_ptr<DriverProcess> driverOf(uint uid, bool withRuntimeDirectory, const PadSim *pad = nullptr)
    {
        auto driver = std::make_unique<DriverProcess>(userRoot(uid), pad ? pad->childEnvironment()
                                                                         : QProcessEnvironment::systemEnvironment());
        driver->skipWelcomeNotice();
        driver->runAsUser(uid);
        driver->setEnvironmentValue("TMPDIR", sharedTemp());
        if (!withRuntimeDirectory)
            driver->setEnvironmentValue("XDG_RUNTIME_DIR", QString());
        return driver;
    }

    // The driver that served a page of `uid`: the owner of the probe file its
    // "2025" leaves in a fresh folder. 0 when the page was refused.
    uint servedBy(uint uid)
    {
        RawWsClient page;
        if (!page.openAsUser(uid)) {
            lastRefusal = page.received();
            return 0;
        }
        const QString folder = machine.path() + "/out" + QString::number(++outputs);
        if (!QDir().mkdir(folder) || !QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)))
            return 0;
        page.sendFrame(1, "{\"bizcode\":\"2025\",\"body\":{\"data\":\"" + folder.toUtf8() + "\"}}");
        if (!QTest::qWaitFor([&] { return QFile::exists(folder + "/testfile"); }, 10000))
            return 0;
        return statOf(folder + "/testfile").st_uid;
    }

    int outputs = 0;
    QByteArray lastRefusal;

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
        QCOMPARE(servedBy(kUserB), kUserB);
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

    // Whichever driver holds the port, each user's page is served by that
    // user's own driver; a user without one gets a 503. After the holder is
    // killed the other driver takes the port, and the killed user's pages are
    // served again once their driver is back.
    void eachUsersPageReachesItsOwnDriver()
    {
        auto a = driverOf(kUserA, true);
        QVERIFY(a->start());
        QVERIFY(DriverProcess::portAccepts(10000));
        auto b = driverOf(kUserB, true);
        QVERIFY(b->start());
        QVERIFY2(b->waitForOutput("is already in use", 10000), qPrintable(b->output()));

        QCOMPARE(servedBy(kUserB), kUserB);
        QCOMPARE(servedBy(kUserA), kUserA);
        QCOMPARE(servedBy(kUserWithoutDriver), 0u);
        QVERIFY2(lastRefusal.startsWith("HTTP/1.1 503"), lastRefusal.constData());

        a->kill();
        QVERIFY2(b->waitForOutput("now listening on 127.0.0.1 port 36325", 10000), qPrintable(b->output()));
        QCOMPARE(servedBy(kUserB), kUserB);
        QCOMPARE(servedBy(kUserA), 0u);
        QVERIFY2(lastRefusal.startsWith("HTTP/1.1 503"), lastRefusal.constData());

        auto again = driverOf(kUserA, true);
        QVERIFY(again->start());
        QVERIFY(QTest::qWaitFor([&] { return servedBy(kUserA) == kUserA; }, 10000));
        QCOMPARE(again->terminate(), 0);
        QCOMPARE(b->terminate(), 0);
    }

    // Each user's pad and signing stay with that user, whichever driver holds
    // the port: A's page reads A's pad and B's page B's; while A signs, B's
    // page gets none of A's pictures, and B's confirm and cancel leave A's
    // signing as it was.
    void eachUsersPadAndSigningStayWithThatUser()
    {
        PadSim padA(userRoot(kUserA) + "/pad.sock");
        PadSim padB(userRoot(kUserB) + "/pad.sock");
        auto a = driverOf(kUserA, true, &padA);
        QVERIFY(a->start());
        QVERIFY(DriverProcess::portAccepts(10000));
        auto b = driverOf(kUserB, true, &padB);
        QVERIFY(b->start());
        QVERIFY2(b->waitForOutput("is already in use", 10000), qPrintable(b->output()));
        const QString arrived = QString::fromUtf8("设备插入===");
        QVERIFY(padA.waitReady(15000) && padA.plug("qz07 serial AAA"));
        QVERIFY(padB.waitReady(15000) && padB.plug("qz07 serial BBB"));
        QVERIFY(a->waitForOutput(arrived, 10000));
        QVERIFY(b->waitForOutput(arrived, 10000));

        RawWsClient pageA, pageB;
        QVERIFY(pageA.openAsUser(kUserA));
        QVERIFY(pageB.openAsUser(kUserB));
        const auto count = [](RawWsClient &page, const QByteArray &part) {
            const QList<QByteArray> messages = page.textMessages();
            return int(std::count_if(messages.begin(), messages.end(),
                                     [&](const QByteArray &m) { return m.contains(part); }));
        };
        const auto waitFor = [&](RawWsClient &page, const QByteArray &part, int n = 1) {
            return QTest::qWaitFor([&] { return count(page, part) >= n; }, 10000);
        };
        pageA.sendFrame(1, R"({"bizcode":"2040"})");
        pageB.sendFrame(1, R"({"bizcode":"2040"})");
        QVERIFY(waitFor(pageA, R"("devicesn":"AAA")"));
        QVERIFY(waitFor(pageB, R"("devicesn":"BBB")"));

        const QByteArray drawn = R"("bool":true})";
        const QByteArray blank = R"("bool":false})";
        pageA.sendFrame(1, R"({"bizcode":"2023"})");
        QVERIFY(waitFor(pageA, blank));
        const auto playDemo = [](PadSim &pad) {
            return pad.ok("stroke demo")
                && QTest::qWaitFor([&] { return pad.status().contains("stroke idle"); }, 30000)
                && pad.waitUntilAllRead();
        };
        QVERIFY(playDemo(padA));
        QVERIFY(waitFor(pageA, drawn));
        const int drawnBefore = count(pageA, drawn);

        // B's requests are answered in order: the second "2040" comes after both.
        pageB.sendFrame(1, R"({"bizcode":"2022"})");
        pageB.sendFrame(1, R"({"bizcode":"2024"})");
        pageB.sendFrame(1, R"({"bizcode":"2040"})");
        QVERIFY(waitFor(pageB, R"("devicesn":"BBB")", 2));
        QVERIFY(playDemo(padA));
        QVERIFY(waitFor(pageA, drawn, drawnBefore + 1));
        QCOMPARE(count(pageA, blank), 1);
        QCOMPARE(count(pageA, R"("devicesn":"BBB")"), 0);
        QCOMPARE(count(pageB, drawn), 0);
        QCOMPARE(count(pageB, R"("devicesn":"AAA")"), 0);
        QCOMPARE(a->terminate(), 0);
        QCOMPARE(b->terminate(), 0);
    }

    // A local agent's account that a user's settings allow reaches that
    // user's driver; other users without a driver still get a 503.
    void anAllowedAccountIsServedByTheDriverThatAllowsIt()
    {
        const passwd *agent = ::getpwnam("nobody");
        if (!agent)
            QSKIP("the machine has no user 'nobody'");
        auto a = driverOf(kUserA, true);
        QFile settings(a->settingsFile());
        QVERIFY(settings.open(QIODevice::Append));
        settings.write("ALLOWEDUSERS=nobody\n");
        settings.close();
        QVERIFY(a->start());
        QVERIFY(DriverProcess::portAccepts(10000));
        QCOMPARE(servedBy(agent->pw_uid), kUserA);
        QCOMPARE(servedBy(kUserWithoutDriver), 0u);
        QVERIFY2(lastRefusal.startsWith("HTTP/1.1 503"), lastRefusal.constData());
        QCOMPARE(a->terminate(), 0);
    }

    // Someone else listening under a user's hand-over name gets no connection.
    void aSquatterOnTheNameGetsNothing()
    {
        socklen_t length = 0;
        sockaddr_un address = handOverAddress(kUserB, &length);
        const int squatter = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        QVERIFY(::bind(squatter, reinterpret_cast<sockaddr *>(&address), length) == 0);
        QVERIFY(::listen(squatter, 4) == 0);
        auto a = driverOf(kUserA, true);
        QVERIFY(a->start());
        QVERIFY(DriverProcess::portAccepts(10000));

        QCOMPARE(servedBy(kUserB), 0u);
        QVERIFY2(lastRefusal.startsWith("HTTP/1.1 503"), lastRefusal.constData());
        QVERIFY(readable(squatter, 5000));
        const int passer = ::accept4(squatter, nullptr, nullptr, SOCK_CLOEXEC);
        QVERIFY(passer >= 0);
        char byte = 0;
        iovec payload = {&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message = {};
        message.msg_iov = &payload;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        QVERIFY(readable(passer, 5000));
        QCOMPARE(::recvmsg(passer, &message, 0), ssize_t(0));
        QCOMPARE(message.msg_controllen, size_t(0));
        ::close(passer);
        ::close(squatter);
        QCOMPARE(a->terminate(), 0);
    }

    // A connection passed to a driver whose page is not that driver's user's
    // is closed unserved.
    void aForgedHandOverGetsNothing()
    {
        auto b = driverOf(kUserB, true);
        QVERIFY(b->start());
        QVERIFY(DriverProcess::portAccepts(10000));

        QTcpServer elsewhere;
        QVERIFY(elsewhere.listen(QHostAddress::LocalHost));
        RawWsClient stranger;
        QVERIFY(!stranger.openAsUser(kUserWithoutDriver, elsewhere.serverPort(), 0));
        QTRY_VERIFY(elsewhere.hasPendingConnections());
        QTcpSocket *accepted = elsewhere.nextPendingConnection();
        const int forged = int(accepted->socketDescriptor());

        socklen_t length = 0;
        sockaddr_un address = handOverAddress(kUserB, &length);
        const int link = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        QCOMPARE(::connect(link, reinterpret_cast<sockaddr *>(&address), length), 0);
        char tag = 'C';
        iovec payload = {&tag, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message = {};
        message.msg_iov = &payload;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *rights = CMSG_FIRSTHDR(&message);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &forged, sizeof(int));
        QCOMPARE(::sendmsg(link, &message, MSG_NOSIGNAL), ssize_t(1));
        ::close(link);
        QVERIFY2(b->waitForOutput("refusing a connection that is not a page of this user's", 10000),
                 qPrintable(b->output()));
        QCOMPARE(b->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSharedMachine)
#include "tst_sharedmachine.moc"

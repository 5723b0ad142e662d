// The owner of a loopback TCP peer, asked of the kernel, on real sockets.
#include "web/socketowner.h"

#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr uid_t kOtherUser = 47003;

// A descriptor closed with its scope.
struct Fd
{
    int fd = -1;
    explicit Fd(int descriptor = -1) : fd(descriptor) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

quint64 inodeOf(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 ? quint64(info.st_ino) : 0;
}

sockaddr_storage address(int family, const char *text, in_port_t port)
{
    sockaddr_storage storage = {};
    if (family == AF_INET) {
        auto &in = reinterpret_cast<sockaddr_in &>(storage);
        in.sin_family = AF_INET;
        in.sin_port = port;
        ::inet_pton(AF_INET, text, &in.sin_addr);
    } else {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(storage);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = port;
        ::inet_pton(AF_INET6, text, &in6.sin6_addr);
    }
    return storage;
}

socklen_t lengthOf(int family)
{
    return family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

// A listener on a free port of `host`; the port in network order.
int listenOn(int family, const char *host, bool v6Only, in_port_t *port)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (family == AF_INET6) {
        const int only = v6Only ? 1 : 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    }
    sockaddr_storage where = address(family, host, 0);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&where), lengthOf(family)) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof where;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&where), &length);
    *port = family == AF_INET ? reinterpret_cast<sockaddr_in &>(where).sin_port
                              : reinterpret_cast<sockaddr_in6 &>(where).sin6_port;
    return fd;
}

// Creates a client socket as `uid` would (its owner is the file-system uid
// at creation), connected to `host`:`port`.
int connectAs(uid_t uid, int family, const char *host, in_port_t port)
{
    const uid_t before = uid_t(::setfsuid(uid));
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setfsuid(before);
    const sockaddr_storage where = address(family, host, port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&where), lengthOf(family)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

class TestSocketOwner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!socketowner::diagnosticsAvailable())
            QSKIP("no socket diagnostics here (qemu-user has no NETLINK_SOCK_DIAG)");
    }

    void thePeersOwnerAndSocketAreFound_data()
    {
        QTest::addColumn<int>("listenFamily");
        QTest::addColumn<QString>("listenHost");
        QTest::addColumn<int>("clientFamily");
        QTest::addColumn<QString>("clientHost");
        QTest::newRow("IPv4") << int(AF_INET) << "127.0.0.1" << int(AF_INET) << "127.0.0.1";
        QTest::newRow("IPv6") << int(AF_INET6) << "::1" << int(AF_INET6) << "::1";
        QTest::newRow("IPv4 client, dual-stack listener") << int(AF_INET6) << "::" << int(AF_INET) << "127.0.0.1";
        QTest::newRow("IPv4-mapped IPv6 client") << int(AF_INET6) << "::" << int(AF_INET6) << "::ffff:127.0.0.1";
    }

    void thePeersOwnerAndSocketAreFound()
    {
        QFETCH(int, listenFamily);
        QFETCH(QString, listenHost);
        QFETCH(int, clientFamily);
        QFETCH(QString, clientHost);
        in_port_t port = 0;
        Fd listener(listenOn(listenFamily, listenHost.toLatin1().constData(), false, &port));
        if (listener.fd < 0)
            QSKIP("no such loopback address here");
        // Another user's client needs root to make; otherwise our own.
        const uid_t client = ::geteuid() == 0 ? kOtherUser : ::geteuid();
        Fd page(connectAs(client, clientFamily, clientHost.toLatin1().constData(), port));
        QVERIFY(page.fd >= 0);
        Fd accepted(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
        QVERIFY(accepted.fd >= 0);

        const std::optional<socketowner::Owner> owner = socketowner::ofPeer(accepted.fd);
        QVERIFY(owner.has_value());
        QCOMPARE(owner->uid, client);
        // The client's socket, not our end of the connection.
        QCOMPARE(owner->inode, inodeOf(page.fd));
        QVERIFY(owner->inode != inodeOf(accepted.fd));
    }

    // A peer that reset the connection has no socket left to own it.
    void aVanishedPeerHasNoOwner()
    {
        in_port_t port = 0;
        Fd listener(listenOn(AF_INET, "127.0.0.1", true, &port));
        QVERIFY(listener.fd >= 0);
        int page = connectAs(::geteuid(), AF_INET, "127.0.0.1", port);
        QVERIFY(page >= 0);
        Fd accepted(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
        QVERIFY(accepted.fd >= 0);
        QVERIFY(socketowner::ofPeer(accepted.fd).has_value());
        const linger reset = {1, 0};
        ::setsockopt(page, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(page);
        QVERIFY(!socketowner::ofPeer(accepted.fd).has_value());
    }

    void aNonTcpDescriptorHasNoPeerOwner()
    {
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        Fd a(pair[0]);
        Fd b(pair[1]);
        QVERIFY(!socketowner::ofPeer(a.fd).has_value());
    }

    void theListenersOnAPortAreFound()
    {
        in_port_t port = 0;
        const uid_t holder = ::geteuid() == 0 ? kOtherUser : ::geteuid();
        const uid_t before = uid_t(::setfsuid(holder));
        Fd listener(listenOn(AF_INET, "127.0.0.1", true, &port));
        ::setfsuid(before);
        QVERIFY(listener.fd >= 0);
        // A connection on the same port is not a listener.
        Fd page(connectAs(::geteuid(), AF_INET, "127.0.0.1", port));
        QVERIFY(page.fd >= 0);

        const QList<socketowner::Owner> owners = socketowner::listeningOn(ntohs(port));
        QCOMPARE(owners.size(), 1);
        QCOMPARE(owners.first().uid, holder);
        QCOMPARE(owners.first().inode, inodeOf(listener.fd));

        ::close(listener.fd);
        listener.fd = -1;
        QVERIFY(socketowner::listeningOn(ntohs(port)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSocketOwner)
#include "tst_socketowner.moc"

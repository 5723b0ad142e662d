#include "web/handover.h"

#include "web/handovermessage.h"
#include "web/socketowner.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/un.h>
#include <unistd.h>

namespace handover {

namespace {
socklen_t abstractAddress(uid_t uid, sockaddr_un *address)
{
    const QByteArray name = socketName(uid);
    *address = {};
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path + 1, name.constData(), size_t(name.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
}

bool isLoopbackPeer(int descriptor)
{
    sockaddr_storage peer = {};
    socklen_t length = sizeof peer;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return false;
    if (peer.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<sockaddr_in &>(peer).sin_addr.s_addr) >> 24) == 127;
    if (peer.ss_family != AF_INET6)
        return false;
    const in6_addr &address = reinterpret_cast<sockaddr_in6 &>(peer).sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&address) || (IN6_IS_ADDR_V4MAPPED(&address) && address.s6_addr[12] == 127);
}

// Passes `descriptor` to `uid`'s driver. Empty when it took it.
QString pass(int descriptor, uid_t uid)
{
    const int link = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (link < 0)
        return QStringLiteral("no socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    sockaddr_un address;
    const socklen_t length = abstractAddress(uid, &address);
    QString failure;
    ucred peer = {};
    socklen_t peerLength = sizeof peer;
    if (::connect(link, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        failure = QStringLiteral("no driver listens (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    } else if (::getsockopt(link, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0 || peer.uid != uid) {
        failure = QStringLiteral("the listener runs as uid %1, not as the page's user").arg(peer.uid);
    } else {
        char tag = kMessageTag;
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
        std::memcpy(CMSG_DATA(rights), &descriptor, sizeof(int));
        if (::sendmsg(link, &message, MSG_DONTWAIT | MSG_NOSIGNAL) != 1)
            failure = QStringLiteral("passing failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    ::close(link);
    return failure;
}
} // namespace

QByteArray socketName(uid_t uid)
{
    return "ZQSignDriver-handover-" + QByteArray::number(uid);
}

Route routeAccepted(int descriptor, const QList<uint> &alsoServed)
{
    if (!isLoopbackPeer(descriptor))
        return {};
    if (!socketowner::diagnosticsAvailable()) {
        static std::atomic<bool> warned{false};
        if (!warned.exchange(true))
            qWarning().noquote() << "WebSocket server: the kernel's socket diagnostics are unavailable;"
                                 << "local pages cannot be told apart by user and are all served here";
        return {};
    }
    const std::optional<socketowner::Owner> owner = socketowner::ofPeer(descriptor);
    if (!owner) {
        qWarning().noquote() << "WebSocket server: refusing a connection whose owner the kernel does not name";
        return {Route::Refuse, "the connection's user cannot be told"};
    }
    if (owner->uid == ::geteuid() || alsoServed.contains(uint(owner->uid)))
        return {};
    const QString failure = pass(descriptor, owner->uid);
    if (failure.isEmpty()) {
        ::close(descriptor);
        return {Route::Passed, QByteArray()};
    }
    qWarning().noquote() << "WebSocket server: a page of uid" << owner->uid << "is refused:" << failure;
    return {Route::Refuse, "no signing driver of this user is running"};
}

} // namespace handover

HandOverListener::HandOverListener(QObject *parent) : QObject(parent), m_retryTimer(new QTimer(this))
{
    m_retryTimer->setInterval(kRetryBindMs);
    connect(m_retryTimer, &QTimer::timeout, this, &HandOverListener::listen);
    listen();
}

HandOverListener::~HandOverListener()
{
    for (auto it = m_passers.cbegin(); it != m_passers.cend(); ++it)
        ::close(it.key());
    if (m_fd >= 0)
        ::close(m_fd);
}

void HandOverListener::listen()
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t length = handover::abstractAddress(::geteuid(), &address);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(fd, kMaxPassers) != 0) {
        if (!m_bindFailureReported)
            qWarning().noquote() << "hand-over: cannot listen on @" + QString::fromLatin1(handover::socketName(::geteuid()))
                                 << ":" << std::strerror(errno) << "- pages reach this driver only while it holds the port;"
                                 << "retrying every" << kRetryBindMs / 1000 << "s";
        m_bindFailureReported = true;
        if (fd >= 0)
            ::close(fd);
        m_retryTimer->start();
        return;
    }
    if (m_bindFailureReported)
        qDebug().noquote() << "hand-over: now listening";
    m_retryTimer->stop();
    m_fd = fd;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HandOverListener::acceptPassers);
}

void HandOverListener::acceptPassers()
{
    while (m_passers.size() < kMaxPassers) {
        const int passer = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (passer < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)) {
            // Level-triggered: without a pause this would spin until a descriptor frees.
            m_notifier->setEnabled(false);
            QTimer::singleShot(kPasserTimeoutMs, m_notifier, [this] { m_notifier->setEnabled(true); });
            return;
        }
        if (passer < 0)
            return;
        auto *notifier = new QSocketNotifier(passer, QSocketNotifier::Read, this);
        m_passers.insert(passer, notifier);
        connect(notifier, &QSocketNotifier::activated, this, [this, passer] { receiveFrom(passer); });
        QTimer::singleShot(kPasserTimeoutMs, notifier, [this, passer, notifier] {
            if (m_passers.value(passer) == notifier)
                dropPasser(passer);
        });
    }
    // Full: the rest wait in the backlog until a passer is done.
    m_notifier->setEnabled(false);
}

void HandOverListener::receiveFrom(int passer)
{
    char tag = 0;
    iovec payload = {&tag, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))] = {};
    msghdr message = {};
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = ::recvmsg(passer, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (length < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    dropPasser(passer);
    if (length <= 0)
        return;
    const handover::ReceivedMessage parsed = handover::parseMessage(message, length);
    for (int i = parsed.valid ? 1 : 0; i < parsed.descriptors.size(); ++i)
        ::close(parsed.descriptors.at(i));
    if (!parsed.valid)
        return;
    const int descriptor = parsed.descriptors.first();
    // Whoever passed it, it is served only if its page runs as our user.
    int type = 0;
    int listening = 1;
    socklen_t size = sizeof type;
    socklen_t listeningSize = sizeof listening;
    const std::optional<socketowner::Owner> owner =
        ::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM
                && ::getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &listeningSize) == 0 && !listening
            ? socketowner::ofPeer(descriptor)
            : std::nullopt;
    if (!owner || owner->uid != ::geteuid()) {
        qWarning().noquote() << "hand-over: refusing a connection that is not a page of this user's";
        ::close(descriptor);
        return;
    }
    emit received(descriptor);
}

void HandOverListener::dropPasser(int passer)
{
    QSocketNotifier *notifier = m_passers.take(passer);
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    ::close(passer);
    if (m_notifier)
        m_notifier->setEnabled(true);
}

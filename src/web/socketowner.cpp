#include "web/socketowner.h"

#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace socketowner {

namespace {
constexpr int kReplyTimeoutMs = 1000;
// Socket states as the kernel numbers them (include/net/tcp_states.h).
constexpr int kTimeWait = 6;
constexpr int kListen = 10;
constexpr int kNewSynReceived = 12;

// One request and its replies over a netlink socket of its own.
class DiagRequest
{
public:
    DiagRequest() : m_fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG))
    {
        if (m_fd < 0)
            return;
        timeval timeout = {kReplyTimeoutMs / 1000, (kReplyTimeoutMs % 1000) * 1000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~DiagRequest()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DiagRequest(const DiagRequest &) = delete;
    DiagRequest &operator=(const DiagRequest &) = delete;

    // Sends `request`; then calls `take` with every socket the kernel
    // reports. False when the kernel could not be asked or answered with an
    // error (ENOENT: no such socket).
    template<typename Take> bool run(const inet_diag_req_v2 &request, bool dump, Take take)
    {
        if (m_fd < 0)
            return false;
        struct
        {
            nlmsghdr header;
            inet_diag_req_v2 body;
        } message = {};
        message.header.nlmsg_len = sizeof message;
        message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        message.header.nlmsg_flags = NLM_F_REQUEST | (dump ? NLM_F_DUMP : 0);
        message.header.nlmsg_seq = kSequence;
        message.body = request;
        sockaddr_nl kernel = {};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(m_fd, &message, sizeof message, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0)
            return false;
        for (;;) {
            const int status = receiveOnce(take);
            if (status != kMore)
                return status == kDone;
            if (!dump)
                return true;
        }
    }

private:
    static constexpr quint32 kSequence = 1;
    enum { kDone, kFailed, kMore };

    template<typename Take> int receiveOnce(Take take)
    {
        alignas(nlmsghdr) char buffer[32768];
        sockaddr_nl from = {};
        socklen_t fromLength = sizeof from;
        ssize_t length;
        do
            length = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        while (length < 0 && errno == EINTR);
        if (length <= 0 || from.nl_pid != 0)
            return kFailed;
        int remaining = int(length);
        for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_seq != kSequence)
                continue;
            if (header->nlmsg_type == NLMSG_DONE)
                return kDone;
            if (header->nlmsg_type == NLMSG_ERROR)
                return kFailed;
            if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY && NLMSG_PAYLOAD(header, 0) >= sizeof(inet_diag_msg))
                take(*static_cast<const inet_diag_msg *>(NLMSG_DATA(header)));
        }
        return kMore;
    }

    int m_fd;
};

inet_diag_req_v2 tcpRequest(int family)
{
    inet_diag_req_v2 request = {};
    request.sdiag_family = quint8(family);
    request.sdiag_protocol = IPPROTO_TCP;
    request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return request;
}

// The one socket with the local end `own` and the remote end `other`.
std::optional<Owner> lookUp(int family, const void *own, in_port_t ownPort, const void *other, in_port_t otherPort)
{
    inet_diag_req_v2 request = tcpRequest(family);
    request.idiag_states = ~0U;
    const size_t size = family == AF_INET ? sizeof(in_addr) : sizeof(in6_addr);
    std::memcpy(request.id.idiag_src, own, size);
    std::memcpy(request.id.idiag_dst, other, size);
    request.id.idiag_sport = ownPort;
    request.id.idiag_dport = otherPort;

    std::optional<Owner> owner;
    DiagRequest diag;
    const bool answered = diag.run(request, false, [&](const inet_diag_msg &socket) {
        if (socket.idiag_state != kTimeWait && socket.idiag_state != kNewSynReceived)
            owner = Owner{uid_t(socket.idiag_uid), socket.idiag_inode};
    });
    return answered ? owner : std::nullopt;
}
} // namespace

bool diagnosticsAvailable()
{
    static const bool available = [] {
        const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }();
    return available;
}

std::optional<Owner> ofPeer(int connectedFd)
{
    sockaddr_storage ours = {};
    sockaddr_storage peer = {};
    socklen_t oursLength = sizeof ours;
    socklen_t peerLength = sizeof peer;
    if (::getsockname(connectedFd, reinterpret_cast<sockaddr *>(&ours), &oursLength) != 0
        || ::getpeername(connectedFd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0
        || ours.ss_family != peer.ss_family)
        return std::nullopt;

    if (peer.ss_family == AF_INET) {
        const auto &o = reinterpret_cast<const sockaddr_in &>(ours);
        const auto &p = reinterpret_cast<const sockaddr_in &>(peer);
        return lookUp(AF_INET, &p.sin_addr, p.sin_port, &o.sin_addr, o.sin_port);
    }
    if (peer.ss_family != AF_INET6)
        return std::nullopt;
    const auto &o = reinterpret_cast<const sockaddr_in6 &>(ours);
    const auto &p = reinterpret_cast<const sockaddr_in6 &>(peer);
    // A client on an IPv4 socket reached our IPv6 listener: its own socket
    // has the plain IPv4 addresses.
    if (IN6_IS_ADDR_V4MAPPED(&p.sin6_addr) && IN6_IS_ADDR_V4MAPPED(&o.sin6_addr)) {
        if (auto owner = lookUp(AF_INET, &p.sin6_addr.s6_addr[12], p.sin6_port, &o.sin6_addr.s6_addr[12], o.sin6_port))
            return owner;
    }
    return lookUp(AF_INET6, &p.sin6_addr, p.sin6_port, &o.sin6_addr, o.sin6_port);
}

QList<Owner> listeningOn(quint16 port)
{
    QList<Owner> owners;
    for (const int family : {AF_INET, AF_INET6}) {
        inet_diag_req_v2 request = tcpRequest(family);
        request.idiag_states = 1U << kListen;
        DiagRequest diag;
        diag.run(request, true, [&](const inet_diag_msg &socket) {
            if (ntohs(socket.id.idiag_sport) == port)
                owners << Owner{uid_t(socket.idiag_uid), socket.idiag_inode};
        });
    }
    return owners;
}

} // namespace socketowner

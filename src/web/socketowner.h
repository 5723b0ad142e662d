#pragma once

#include <QList>
#include <QtGlobal>

#include <optional>
#include <sys/types.h>

// Who owns a TCP socket on this machine, asked of the kernel's socket
// diagnostics (NETLINK_SOCK_DIAG, inet_diag). The kernel answers for every
// user's sockets without privileges, within the caller's network namespace.
namespace socketowner {

struct Owner
{
    uid_t uid = 0;
    quint64 inode = 0; // the socket's inode, as /proc/PID/fd shows it
};

// False where the kernel's socket diagnostics cannot be reached at all (no
// NETLINK_SOCK_DIAG, as under some emulators): nobody's sockets can be told
// apart then.
bool diagnosticsAvailable();

// The owner of the socket at the other end of `connectedFd`, a connected TCP
// socket of ours whose peer is on this machine. Empty when the peer socket is
// gone (a TIME_WAIT remnant has no owner either), or the kernel cannot be asked.
std::optional<Owner> ofPeer(int connectedFd);

// The sockets listening for TCP on `port`, on any address of either family.
// Empty when there are none or the kernel cannot be asked.
QList<Owner> listeningOn(quint16 port);

} // namespace socketowner

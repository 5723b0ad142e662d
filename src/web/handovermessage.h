#pragma once

#include <QVector>

#include <sys/socket.h>
#include <sys/types.h>

// The one message of a connection hand-over between drivers: the tag byte,
// with the connection's descriptor in one SCM_RIGHTS control message.
namespace handover {

constexpr char kMessageTag = 'C';

struct ReceivedMessage
{
    bool valid = false;      // the tag, exactly one descriptor, nothing cut off
    QVector<int> descriptors; // every descriptor it carried: the receiver owns them all
};

// Reads what recvmsg() returned (`received` bytes into `message`).
ReceivedMessage parseMessage(const msghdr &message, ssize_t received);

} // namespace handover

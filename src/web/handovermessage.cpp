#include "web/handovermessage.h"

#include <cstring>

namespace handover {

ReceivedMessage parseMessage(const msghdr &message, ssize_t received)
{
    ReceivedMessage result;
    const auto *control = static_cast<const char *>(message.msg_control);
    const char *controlEnd = control + message.msg_controllen;
    bool wellFormed = received == 1 && message.msg_iovlen >= 1 && message.msg_iov[0].iov_len >= 1
                      && static_cast<const char *>(message.msg_iov[0].iov_base)[0] == kMessageTag
                      && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
    auto &header = const_cast<msghdr &>(message);
    for (cmsghdr *part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
        const char *start = reinterpret_cast<const char *>(part);
        if (part->cmsg_len < CMSG_LEN(0) || part->cmsg_len > size_t(controlEnd - start)) {
            wellFormed = false;
            break;
        }
        const char *data = reinterpret_cast<const char *>(CMSG_DATA(part));
        const char *end = start + part->cmsg_len;
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS) {
            wellFormed = false;
            continue;
        }
        for (; data + sizeof(int) <= end; data += sizeof(int)) {
            int descriptor;
            std::memcpy(&descriptor, data, sizeof descriptor);
            result.descriptors << descriptor;
        }
    }
    result.valid = wellFormed && result.descriptors.size() == 1;
    return result;
}

} // namespace handover

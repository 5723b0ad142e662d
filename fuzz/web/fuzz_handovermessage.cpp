// What a driver's hand-over listener reads from whoever connects to it: the
// tag byte and control messages. The descriptors are only collected, never
// used, so any numbers may stand in them.
#include "fuzzer.h"
#include "web/handovermessage.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    char tag = char(data[0]);
    iovec payload = {&tag, 1};
    alignas(cmsghdr) char control[512];
    const size_t controlSize = std::min(size - 3, sizeof control);
    std::memcpy(control, data + 3, controlSize);
    msghdr message = {};
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = controlSize ? control : nullptr;
    message.msg_controllen = controlSize;
    message.msg_flags = (data[1] & 1 ? MSG_TRUNC : 0) | (data[1] & 2 ? MSG_CTRUNC : 0);
    const ssize_t received = ssize_t(data[2] % 3);

    const handover::ReceivedMessage parsed = handover::parseMessage(message, received);
    FUZZ_EXPECT(size_t(parsed.descriptors.size()) * sizeof(int) <= controlSize);
    if (parsed.valid) {
        FUZZ_EXPECT(parsed.descriptors.size() == 1);
        FUZZ_EXPECT(tag == handover::kMessageTag && received == 1 && message.msg_flags == 0);
    }
    return 0;
}

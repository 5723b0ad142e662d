// The first bytes of a connection on the service port, as the HTTP front
// peeks at them before deciding between the page, a 404 and the WebSocket.
#include "fuzzer.h"
#include "web/connectionlimits.h"
#include "web/requesthead.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr int kMaxHeadBytes = ConnectionLimits::kMaxHeadBytes;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const RequestHead head = parseRequestHead(bytes, kMaxHeadBytes);
    FUZZ_EXPECT(head.state != RequestHead::TooLarge || bytes.size() >= kMaxHeadBytes);
    FUZZ_EXPECT(head.hasOrigin || head.origin.isEmpty());
    if (head.state == RequestHead::Complete) {
        FUZZ_EXPECT(!head.method.isEmpty() && head.path.startsWith('/'));
        FUZZ_EXPECT(bytes.contains("\r\n\r\n"));
    } else if (head.state != RequestHead::Invalid) {
        FUZZ_EXPECT(!head.upgrade && !head.hasOrigin);
    }
    return 0;
}

// The first bytes of a connection on the service port, as the HTTP front
// peeks at them before deciding between the page, a 404 and the WebSocket,
// and the Host they name, as the front judges it.
#include "fuzzer.h"
#include "web/connectionlimits.h"
#include "web/hostpolicy.h"
#include "web/requesthead.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr int kMaxLine = ConnectionLimits::kMaxHeadLineBytes;
    constexpr int kMaxHead = ConnectionLimits::kMaxHeadBytes;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const RequestHead head = parseRequestHead(bytes, kMaxLine, kMaxHead);
    FUZZ_EXPECT(head.state != RequestHead::TooLarge || bytes.size() > kMaxLine);
    FUZZ_EXPECT(head.hasOrigin || head.origin.isEmpty());
    FUZZ_EXPECT(head.hasHost || head.host.isEmpty());
    if (head.state == RequestHead::Complete) {
        FUZZ_EXPECT(!head.method.isEmpty() && head.path.startsWith('/'));
        const int end = bytes.indexOf("\r\n\r\n");
        FUZZ_EXPECT(end >= 0 && end + 4 <= kMaxHead);
        // Hosts a browser could be made to send for another site are never
        // taken for this machine.
        if (hostAllowed(head.host, {}, {})) {
            const QByteArray host = head.host.trimmed().toLower();
            FUZZ_EXPECT(host.startsWith("localhost") || host.contains(".localhost") || host.startsWith("127.")
                        || host.startsWith('[') || (host.at(0) >= '0' && host.at(0) <= '9'));
        }
    } else if (head.state != RequestHead::Invalid) {
        FUZZ_EXPECT(!head.upgrade && !head.hasOrigin && !head.hasHost);
    }
    return 0;
}

// A page's text message, as the WebSocket server hands it over.
#include "fuzzer.h"
#include "pad/jsonkeys.h"
#include "web/webrequest.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString message = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const WebRequest request = webrequest::parse(message);
    if (!request.valid) {
        FUZZ_EXPECT(request.bizcode.isEmpty() && request.data.isEmpty() && !request.refusal.isEmpty());
        return 0;
    }
    // What is acted on comes from the message itself, field by field.
    FUZZ_EXPECT(request.bizcode.size() <= message.size());
    FUZZ_EXPECT(request.data.size() <= message.size());
    // What Qt's reader is given repeats no key: a second pass renames nothing.
    QString refusal;
    const QByteArray unique = jsonWithUniqueKeys(message.toUtf8(), &refusal);
    FUZZ_EXPECT(refusal.isEmpty());
    FUZZ_EXPECT(jsonWithUniqueKeys(unique, &refusal) == unique);
    return 0;
}

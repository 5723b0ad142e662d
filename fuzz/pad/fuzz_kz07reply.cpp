// The KZ07's answer to a query: the JSON text after the header carries the serial.
#include "fuzzer.h"
#include "pad/penreports.h"

#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), int(size));
    bool ok = true;
    const QJsonDocument json = penreports::kz07Json(reply, &ok);
    const QString serial = json.object().value(QLatin1String("serial")).toString();
    if (!ok)
        FUZZ_EXPECT(json.isNull());
    // Nothing beyond the 206 bytes of text is ever read.
    FUZZ_EXPECT(serial.size() <= 206);
    return 0;
}

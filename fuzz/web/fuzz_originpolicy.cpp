// An Origin header against one allow-list entry: the input is the origin, a
// newline, then the entry.
#include "fuzzer.h"
#include "web/originpolicy.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const int newline = bytes.indexOf('\n');
    const QByteArray origin = newline < 0 ? bytes : bytes.left(newline);
    const QByteArray entry = newline < 0 ? QByteArray() : bytes.mid(newline + 1);
    const QString entryText = QString::fromUtf8(entry.constData(), entry.size()); // NULs kept
    const bool matches = originMatches(origin, {entryText});
    // Other entries on the list never take a match away.
    FUZZ_EXPECT(!matches || originMatches(origin, {QStringLiteral("https://unrelated.invalid"), entryText}));
    // Without wildcards, matching is an equivalence of two ASCII origins.
    const auto plain = [](const QByteArray &b) {
        for (char c : b)
            if (c == '*' || static_cast<unsigned char>(c) > 0x7f)
                return false;
        return true;
    };
    if (plain(origin) && plain(entry)) {
        FUZZ_EXPECT(originMatches(entry, {QString::fromLatin1(origin.constData(), origin.size())}) == matches);
        if (matches)
            FUZZ_EXPECT(originMatches(origin, {QString::fromLatin1(origin.constData(), origin.size())}));
    }
    // The driver's own page is let in even by a list that names nothing else.
    const OriginPolicy policy({entryText.isEmpty() ? QStringLiteral("null") : entryText}, 36325);
    FUZZ_EXPECT(policy.allows(true, "http://127.0.0.1:36325"));
    return 0;
}

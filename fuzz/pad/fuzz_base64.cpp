// The Base64 text of one point path line.
#include "fuzzer.h"
#include "pad/base64.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string bytes = utils::base64_decode(text);
    FUZZ_EXPECT(bytes.size() <= text.size() * 3 / 4 + 2);
    // Whatever was read encodes back to text that reads the same.
    const std::string again = utils::base64_encode(bytes.data(), int(bytes.size()));
    FUZZ_EXPECT(utils::base64_decode(again) == bytes);
    // And arbitrary bytes survive the round trip.
    FUZZ_EXPECT(utils::base64_decode(utils::base64_encode(text.data(), int(text.size()))) == text);
    return 0;
}

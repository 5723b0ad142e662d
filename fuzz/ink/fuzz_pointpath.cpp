// A whole point path file, as a page's "2020" replay hands it over.
#include "fuzzer.h"
#include "ink/pointpath.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    pointpath::PathFile file;
    const bool ok = pointpath::decodeFile(bytes, &file);
    FUZZ_EXPECT(ok == (size >= size_t(pointpath::kHeaderSize)));
    if (!ok)
        return 0;
    FUZZ_EXPECT(file.width >= 0 && file.width <= 0xFFFF && file.height >= 0 && file.height <= 0xFFFF);
    // Every line after the header is either a point or counted as skipped.
    const std::string body = bytes.substr(pointpath::kHeaderSize);
    const auto lines = std::count(body.begin(), body.end(), '\n') + 1;
    FUZZ_EXPECT(file.points.size() + file.skippedLines <= lines);
    return 0;
}

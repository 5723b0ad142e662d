#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace padsim {

using Bytes = std::vector<uint8_t>;

// Lower-case hexadecimal, two digits a byte, no separators.
std::string toHex(const uint8_t *data, size_t length);
inline std::string toHex(const Bytes &bytes) { return toHex(bytes.data(), bytes.size()); }

// Parses hexadecimal text of even length (either case); false on anything else.
bool parseHex(const std::string &text, Bytes &out);

// "28bd:600c" style ids.
std::string idText(uint16_t vid, uint16_t pid);
bool parseId(const std::string &text, uint16_t &vid, uint16_t &pid);

} // namespace padsim

#include "pad/base64.h"

namespace utils {

namespace {
const std::string base64_chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                 "abcdefghijklmnopqrstuvwxyz"
                                 "0123456789+/";

// The 6-bit value of an alphabet character (callers check is_base64 first).
unsigned char sextet(unsigned char c)
{
    return static_cast<unsigned char>(base64_chars.find(static_cast<char>(c)));
}
} // namespace

// Explicit ASCII ranges rather than isalnum(): the C library's answer for bytes
// above 0x7F depends on the locale, and such a byte has no place in the alphabet.
bool is_base64(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+'
           || c == '/';
}

std::string base64_encode(const char *data, int length)
{
    std::string out;
    if (length <= 0)
        return out;
    out.reserve((static_cast<size_t>(length) + 2) / 3 * 4);
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    int i = 0;
    for (; i + 2 < length; i += 3) {
        const unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
        out += base64_chars[b0 >> 2];
        out += base64_chars[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += base64_chars[((b1 & 0x0F) << 2) | (b2 >> 6)];
        out += base64_chars[b2 & 0x3F];
    }
    const int rest = length - i;
    if (rest > 0) {
        const unsigned b0 = bytes[i];
        const unsigned b1 = rest == 2 ? bytes[i + 1] : 0;
        out += base64_chars[b0 >> 2];
        out += base64_chars[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += rest == 2 ? base64_chars[(b1 & 0x0F) << 2] : '=';
        out += '=';
    }
    return out;
}

std::string base64_decode(const std::string &text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    unsigned char group[4];
    int filled = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '=' || !is_base64(c))
            break;
        group[filled++] = sextet(c);
        if (filled == 4) {
            out += static_cast<char>((group[0] << 2) | (group[1] >> 4));
            out += static_cast<char>(((group[1] & 0x0F) << 4) | (group[2] >> 2));
            out += static_cast<char>(((group[2] & 0x03) << 6) | group[3]);
            filled = 0;
        }
    }
    if (filled >= 2) {
        for (int k = filled; k < 4; ++k)
            group[k] = 0;
        out += static_cast<char>((group[0] << 2) | (group[1] >> 4));
        if (filled == 3)
            out += static_cast<char>(((group[1] & 0x0F) << 4) | (group[2] >> 2));
    }
    return out;
}

} // namespace utils

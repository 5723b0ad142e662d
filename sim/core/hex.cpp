#include "core/hex.h"

#include <cstdio>

namespace padsim {

std::string toHex(const uint8_t *data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0f];
    }
    return text;
}

static int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHex(const std::string &text, Bytes &out)
{
    if (text.size() % 2 != 0)
        return false;
    Bytes bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digitValue(text[i]);
        const int low = digitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    out.swap(bytes);
    return true;
}

std::string idText(uint16_t vid, uint16_t pid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vid, pid);
    return text;
}

bool parseId(const std::string &text, uint16_t &vid, uint16_t &pid)
{
    const size_t colon = text.find(':');
    if (colon != 4 || text.size() != 9)
        return false;
    Bytes v, p;
    if (!parseHex(text.substr(0, 4), v) || !parseHex(text.substr(5), p))
        return false;
    vid = static_cast<uint16_t>(v[0] << 8 | v[1]);
    pid = static_cast<uint16_t>(p[0] << 8 | p[1]);
    return true;
}

} // namespace padsim

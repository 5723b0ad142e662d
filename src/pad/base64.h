#pragma once

#include <string>

// Base64 with the standard alphabet (A-Z a-z 0-9 + /) and "=" padding, on
// standard-library strings; the point path file stores its lines this way.
namespace utils {

// True for an ASCII letter or digit, "+" or "/"; false for "=" and all else.
bool is_base64(unsigned char c);

// Base64 text of `length` bytes, padded, without line breaks.
std::string base64_encode(const char *data, int length);

// The bytes that `text` encodes. Decoding stops at the first "=" or at the
// first character outside the alphabet; a trailing group of two or three
// characters still yields its one or two bytes, so unpadded text decodes too.
std::string base64_decode(const std::string &text);

} // namespace utils

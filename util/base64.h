// Standard base64 (RFC 4648 alphabet A-Z a-z 0-9 + /, '=' padding) through
// OpenSSL's block coder. With util/aes the only users of OpenSSL.
#ifndef QG_UTIL_BASE64_H
#define QG_UTIL_BASE64_H

#include <cstddef>
#include <string>

// The base64 text of length bytes, padded; empty for no bytes.
std::string Base64Encode(const void* data, size_t length);
// The same text appended to out.
void Base64Append(std::string& out, const void* data, size_t length);

// Decodes a whole base64 text: groups of four characters, the last of which
// may be padded with one or two '=' or cut to two or three characters.
// false, with out untouched, for a byte outside the alphabet, a '=' before
// the end, or a last group of a single character. The empty text is empty.
bool Base64Decode(const std::string& text, std::string& out);

#endif

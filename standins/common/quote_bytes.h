// How the stand-ins print bytes as text in their journals and call lines:
// in double quotes, with \\ \" \n \r \t and \xHH for other control bytes
// (and 0x7f); bytes of 0x80 and up as they are.
#ifndef STANDINS_COMMON_QUOTE_BYTES_H
#define STANDINS_COMMON_QUOTE_BYTES_H

#include <cstddef>
#include <string>

inline std::string QuoteBytes(const void* data, size_t length)
{
    static const char kHex[] = "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = p[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

#endif

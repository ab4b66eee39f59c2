#include "sdk_text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sdkstub {

std::vector<std::string> SplitTokens(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool ParseU32(const std::string& token, uint32_t& out) {
    if (token.empty()) return false;
    const bool hex = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(token.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == token.c_str() || *end != '\0') return false;
    if (v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(const std::string& token, std::string& out) {
    out.clear();
    if (token == "-") return true;
    if (token.empty() || token.size() % 2 != 0) return false;
    out.reserve(token.size() / 2);
    for (size_t i = 0; i < token.size(); i += 2) {
        int hi = HexDigit(token[i]), lo = HexDigit(token[i + 1]);
        if (hi < 0 || lo < 0) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

std::string ToHex(const void* data, size_t length) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(digits[p[i] >> 4]);
        out.push_back(digits[p[i] & 15]);
    }
    return out;
}

std::string QuoteBytes(const void* data, size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = p[i];
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
    return out;
}

std::string QuoteText(const char* text) {
    if (!text) return "null";
    size_t n = 0;
    while (text[n]) ++n;
    return QuoteBytes(text, n);
}

std::string DataForm(const void* data, size_t length) {
    if (!data) return "null";
    return std::to_string(length) + ":" + ToHex(data, length < 16 ? length : 16);
}

}  // namespace sdkstub

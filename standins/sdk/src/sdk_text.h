// Small text helpers of the stand-in SDK: tokens, numbers, hex, journal quoting.
#ifndef QG_SDK_TEXT_H
#define QG_SDK_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace sdkstub {

std::vector<std::string> SplitTokens(const std::string& line);

// Decimal (or 0x hex); -1 and other negatives down to INT32_MIN wrap to u32.
bool ParseU32(const std::string& token, uint32_t& out);

// Even-length hex digits, or "-" for empty.
bool ParseHex(const std::string& token, std::string& out);
std::string ToHex(const void* data, size_t length);

// Journal forms, see cvapi.h.
std::string QuoteText(const char* text);
std::string QuoteBytes(const void* data, size_t length);
std::string DataForm(const void* data, size_t length);

}  // namespace sdkstub

#endif

// Text helpers the stand-ins share for their control lines and journals:
// tokens, numbers, hex, quoting and line files named by environment
// variables.
#ifndef STANDINS_COMMON_STANDIN_TEXT_H
#define STANDINS_COMMON_STANDIN_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quote_bytes.h"

namespace standin {

// Tokens split at blanks; a '#' token ends the line.
std::vector<std::string> SplitTokens(const std::string& line);

// Decimal (or 0x hex); -1 and other negatives down to INT32_MIN wrap to u32.
bool ParseU32(const std::string& token, uint32_t& out);

// Even-length hex digits, or "-" for empty.
bool ParseHex(const std::string& token, std::string& out);
std::string ToHex(const void* data, size_t length);

// Data of a control line: hex as ParseHex, or "@<path>" for the bytes of a
// file (any size); false when neither.
bool ParseData(const std::string& token, std::string& out);

// "name=value" options after the fixed tokens; false for a token without '='.
struct Option {
    std::string name;
    std::string value;
};
bool ParseOptions(const std::vector<std::string>& tokens, size_t first, std::vector<Option>& out);

// Journal forms: a C string quoted as QuoteBytes, or null; the first 16
// bytes as <length>:<hex>; every byte as <length>:<hex>; null for no data.
std::string QuoteText(const char* text);
std::string DataForm(const void* data, size_t length);
std::string BytesForm(const void* data, size_t length);

// Appends line and "\n" to the file named by the variable, opened per line
// so every line is on disk when the call returns; nothing when unset.
void AppendLine(const char* envName, const std::string& line);

}  // namespace standin

#endif

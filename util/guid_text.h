// Fresh identifiers as GUID text.
#ifndef QG_UTIL_GUID_TEXT_H
#define QG_UTIL_GUID_TEXT_H

#include <string>

// 16 bytes of uuid_generate read as a GUID record (u32, u16, u16 in little
// endian, then eight single bytes) and printed as
// "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X": 36 characters.
std::string NewGuidText();

// The same text of 16 given bytes.
std::string GuidText(const unsigned char bytes[16]);

#endif

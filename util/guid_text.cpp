#include "util/guid_text.h"

#include <cstdio>

#include <uuid/uuid.h>

std::string GuidText(const unsigned char b[16])
{
    const unsigned data1 = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<unsigned>(b[3]) << 24);
    const unsigned data2 = b[4] | (b[5] << 8);
    const unsigned data3 = b[6] | (b[7] << 8);
    char text[64] = {0};
    snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, data2, data3, b[8], b[9],
             b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string NewGuidText()
{
    uuid_t bytes;
    uuid_generate(bytes);
    return GuidText(bytes);
}

// Text and checksum members of CV_IOUtils.
#include "util/cv_ioutils.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Value of one upper-case hexadecimal digit; anything else counts as 0.
int HexValue(char c)
{
    if (c == '\0')
        return 0;
    const char* at = strchr(kHexDigits, c);
    return at ? static_cast<int>(at - kHexDigits) : 0;
}

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

unsigned short CV_IOUtils::cal_chksum(unsigned short* data, int len)
{
    // Bytes one at a time, so the buffer needs no alignment; little-endian words.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    uint64_t sum = 0;
    int i = 0;
    for (; p && i + 1 < len; i += 2)
        sum += static_cast<uint64_t>(p[i]) | (static_cast<uint64_t>(p[i + 1]) << 8);
    if (p && i < len)
        sum += p[i];
    while (sum >> 16)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<unsigned short>(~sum & 0xFFFFu);
}

int CV_IOUtils::Buf2HexStr(char* data, unsigned len, char* out, unsigned size)
{
    // 64-bit, so a length of 2^31 or more cannot wrap below the size.
    if (2 * static_cast<uint64_t>(len) >= size)
        return -1;
    if (len == 0)
        return 0;
    if (!data || !out)
        return -1;
    for (unsigned i = 0; i < len; ++i)
        snprintf(out + 2 * i, size - 2 * i, "%02x", static_cast<unsigned char>(data[i]));
    return 0;
}

static void ToUpper(char& c)
{
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
}

int CV_IOUtils::Hex2Int(char* pair)
{
    if (!pair)
        return 0;
    ToUpper(pair[0]);
    int value = 16 * HexValue(pair[0]);
    // A one-character text has no second digit: do not read past its end.
    if (pair[0] != '\0') {
        ToUpper(pair[1]);
        value += HexValue(pair[1]);
    }
    return value;
}

int CV_IOUtils::HexStr2Buf(const char* text, char* out, unsigned& size)
{
    if (!text)
        return -1;
    size_t n = strlen(text) / 2;
    if (n > size)
        return -1;
    if (n > 0 && !out)
        return -1;
    for (size_t i = 0; i < n; ++i) {
        char pair[3] = {text[2 * i], text[2 * i + 1], '\0'};
        out[i] = static_cast<char>(Hex2Int(pair));
    }
    size = static_cast<unsigned>(n);
    return 0;
}

char* CV_IOUtils::trim(char* text)
{
    if (!text)
        return nullptr;
    while (IsWhite(*text))
        ++text;
    size_t len = strlen(text);
    while (len > 0 && IsWhite(text[len - 1]))
        text[--len] = '\0';
    return text;
}

int CV_IOUtils::BufXOR(char* data, unsigned len, const char* key, char* out)
{
    size_t k = key ? strlen(key) : 0;
    int count = static_cast<int>(len);
    char* dest = out ? out : data;
    if (!data || count <= 0)
        return 0;
    // XOR with no key is no change.
    if (k == 0) {
        if (out && out != data)
            memmove(out, data, static_cast<size_t>(count));
        return 0;
    }
    for (int i = 0; i < count; ++i)
        dest[i] = static_cast<char>(data[i] ^ key[static_cast<size_t>(i) % k]);
    return 0;
}

char* CV_IOUtils::SplitSignatureStr(const char* text, const char* tag, char* out, int size)
{
    if (!out || size <= 0)
        return out;
    memset(out, 0, static_cast<size_t>(size));
    if (!text || !tag)
        return out;

    char open[100];
    char close[100];
    snprintf(open, sizeof(open), "<%s>", tag);
    snprintf(close, sizeof(close), "</%s>", tag);
    const char* begin = strstr(text, open);
    const char* end = strstr(text, close);
    if (!begin || !end || begin >= end)
        return out;
    const char* value = begin + strlen(open);
    // An odd tag can make the two marks overlap: then there is no value.
    if (end < value)
        return out;
    size_t n = static_cast<size_t>(end - value);
    if (n < static_cast<size_t>(size))
        memcpy(out, value, n);
    return out;
}

#include "quillgate/sdklink/text_convert.h"

#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <vector>

namespace {

// One iconv pass over inLen bytes into outCap bytes. Returns iconv's own
// result (0 when everything converted reversibly), -1 when the converter
// cannot be opened; *produced gets the bytes written.
size_t IconvPass(const char* from, const char* to, const char* in, size_t inLen, char* out, size_t outCap,
                 size_t* produced)
{
    *produced = 0;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return static_cast<size_t>(-1);
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inLen;
    char* outPtr = out;
    size_t outLeft = outCap;
    const size_t ret = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    *produced = outCap - outLeft;
    iconv_close(cd);
    return ret;
}

int ConvertThroughUnicode(const char* from, const char* to, const char* text, char* out, unsigned int capacity)
{
    // Nothing to convert: out stays as the caller left it.
    if (!text || text[0] == '\0')
        return 1;
    if (!out || capacity == 0)
        return 0;

    // UNICODE takes at most four bytes for each input byte plus its mark.
    const size_t textLen = strlen(text);
    std::vector<char> work(textLen * 5, 0);
    size_t unicodeLen = 0;
    if (IconvPass(from, "UNICODE", text, textLen, work.data(), work.size(), &unicodeLen) != 0)
        return 0;

    // The last byte stays the terminating NUL, whatever iconv manages.
    memset(out, 0, capacity);
    size_t written = 0;
    const size_t ret = IconvPass("UNICODE", to, work.data(), unicodeLen, out, capacity - 1, &written);
    return ret == 0 ? 1 : 0;
}

}  // namespace

int ConvertGB2312ToUTF8(const char* text, char* out, unsigned int capacity)
{
    return ConvertThroughUnicode("GB2312", "UTF-8", text, out, capacity);
}

int ConvertUTF8ToGB2312(const char* text, char* out, unsigned int capacity)
{
    return ConvertThroughUnicode("UTF-8", "GB2312", text, out, capacity);
}

// ---- whole buffers, through tables ----

namespace {

// GB2312 (EUC-CN) double bytes: lead 0xA1-0xF7, trail 0xA1-0xFE.
const unsigned kFirstByte = 0xA1;
const unsigned kLastLead = 0xF7;
const unsigned kLastTrail = 0xFE;
const unsigned kTrails = kLastTrail - kFirstByte + 1;
const unsigned kPairs = (kLastLead - kFirstByte + 1) * kTrails;

// Both directions of iconv's GB2312 as code points of the basic plane,
// asked of iconv one character at a time, once per process.
struct Gb2312Tables {
    uint16_t toUnicode[kPairs];  // 0: no character
    uint16_t toGb[0x10000];      // lead << 8 | trail; 0: no form

    Gb2312Tables()
    {
        memset(toUnicode, 0, sizeof(toUnicode));
        memset(toGb, 0, sizeof(toGb));
        iconv_t in = iconv_open("UNICODELITTLE", "GB2312");
        iconv_t out = iconv_open("GB2312", "UNICODELITTLE");
        if (in != reinterpret_cast<iconv_t>(-1)) {
            for (unsigned i = 0; i < kPairs; ++i) {
                char pair[2] = {static_cast<char>(kFirstByte + i / kTrails),
                                static_cast<char>(kFirstByte + i % kTrails)};
                unsigned char unit[2] = {0, 0};
                if (Convert(in, pair, 2, unit, 2) == 2)
                    toUnicode[i] = static_cast<uint16_t>(unit[0] | (unit[1] << 8));
            }
            iconv_close(in);
        }
        if (out != reinterpret_cast<iconv_t>(-1)) {
            for (unsigned cp = 0x80; cp < 0x10000; ++cp) {
                if (cp >= 0xD800 && cp < 0xE000)
                    continue;
                char unit[2] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)};
                unsigned char pair[2] = {0, 0};
                if (Convert(out, unit, 2, pair, 2) == 2 && pair[0] >= 0x80)
                    toGb[cp] = static_cast<uint16_t>((pair[0] << 8) | pair[1]);
            }
            iconv_close(out);
        }
    }

    // Bytes written when the whole input converted, else 0.
    static size_t Convert(iconv_t cd, char* in, size_t inLen, unsigned char* out, size_t outCap)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* outPtr = reinterpret_cast<char*>(out);
        size_t outLeft = outCap;
        if (iconv(cd, &in, &inLen, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLen != 0)
            return 0;
        return outCap - outLeft;
    }
};

const Gb2312Tables& Tables()
{
    static const Gb2312Tables* tables = new Gb2312Tables;
    return *tables;
}

// Length of the run of ASCII bytes at p (both encodings keep them as they are).
size_t AsciiRun(const unsigned char* p, size_t n)
{
    size_t i = 0;
    while (i + 8 <= n) {
        uint64_t word;
        memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ull)
            break;
        i += 8;
    }
    while (i < n && p[i] < 0x80)
        ++i;
    return i;
}

char* PutUtf8(char* dst, unsigned cp)
{
    if (cp < 0x80) {
        *dst++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *dst++ = static_cast<char>(0xC0 | (cp >> 6));
        *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *dst++ = static_cast<char>(0xE0 | (cp >> 12));
        *dst++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return dst;
}

// One UTF-8 sequence at p (n bytes left): its length and code point, or 0
// for a byte that starts no valid sequence (overlong forms and surrogates
// included).
size_t ReadUtf8(const unsigned char* p, size_t n, unsigned& cp)
{
    const unsigned c = p[0];
    size_t len;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (len > n)
        return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned b = p[k];
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF))
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return len;
}

}  // namespace

std::string ConvertBufferGB2312ToUTF8(const char* data, size_t length, size_t* replaced)
{
    const Gb2312Tables& t = Tables();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    // Two bytes give at most three, one at most one.
    std::string out(length + length / 2 + 1, '\0');
    char* dst = &out[0];
    size_t bad = 0;
    for (size_t i = 0; i < length;) {
        const size_t run = AsciiRun(p + i, length - i);
        memcpy(dst, p + i, run);
        dst += run;
        i += run;
        if (i == length)
            break;
        const unsigned lead = p[i];
        const unsigned trail = i + 1 < length ? p[i + 1] : 0;
        const bool pair = lead >= kFirstByte && lead <= kLastLead && trail >= kFirstByte && trail <= kLastTrail;
        const unsigned cp = pair ? t.toUnicode[(lead - kFirstByte) * kTrails + (trail - kFirstByte)] : 0;
        if (cp != 0) {
            dst = PutUtf8(dst, cp);
        } else {
            *dst++ = '?';
            ++bad;
        }
        // A well-formed pair without a character is still one character.
        i += pair ? 2 : 1;
    }
    out.resize(static_cast<size_t>(dst - out.data()));
    if (replaced)
        *replaced = bad;
    return out;
}

std::string ConvertBufferUTF8ToGB2312(const char* data, size_t length, size_t* replaced)
{
    const Gb2312Tables& t = Tables();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    // Every sequence gives at most as many bytes as it had.
    std::string out(length + 1, '\0');
    char* dst = &out[0];
    size_t bad = 0;
    for (size_t i = 0; i < length;) {
        const size_t run = AsciiRun(p + i, length - i);
        memcpy(dst, p + i, run);
        dst += run;
        i += run;
        if (i == length)
            break;
        unsigned cp = 0;
        const size_t len = ReadUtf8(p + i, length - i, cp);
        const unsigned gb = len != 0 && cp < 0x10000 ? t.toGb[cp] : 0;
        if (gb != 0) {
            *dst++ = static_cast<char>(gb >> 8);
            *dst++ = static_cast<char>(gb & 0xFF);
        } else {
            *dst++ = '?';
            ++bad;
        }
        i += len != 0 ? len : 1;
    }
    out.resize(static_cast<size_t>(dst - out.data()));
    if (replaced)
        *replaced = bad;
    return out;
}

#include "quillgate/sdklink/text_convert.h"

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

// GB2312 and UTF-8 conversions on any bytes and capacities: the output
// stays inside its capacity and terminated, and a text converted whole
// converts back to itself.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "quillgate/sdklink/text_convert.h"

namespace {

const char kFill = '\x5a';

typedef int (*Convert)(const char*, char*, unsigned int);

// Converts into a zeroed buffer of capacity bytes with fill bytes after it;
// the result and the text written.
int Run(Convert convert, const std::string& text, unsigned capacity, std::string& out)
{
    std::vector<char> buf(capacity + 16, kFill);
    std::memset(buf.data(), 0, capacity);
    const int ret = convert(text.c_str(), buf.data(), capacity);
    FUZZ_CHECK(ret == 0 || ret == 1);
    FUZZ_CHECK(qgfuzz::Untouched(buf.data(), capacity, buf.size(), kFill));
    if (capacity > 0)
        FUZZ_CHECK(buf[capacity - 1] == '\0');
    out.assign(buf.data(), capacity > 0 ? std::strlen(buf.data()) : 0);
    return ret;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const unsigned capacity = in.ConsumeIntegralInRange<unsigned>(0, 512);
    const bool fromGb = in.ConsumeBool();
    std::string text = in.ConsumeRemainingBytesAsString();
    text = text.substr(0, text.find('\0'));

    const Convert there = fromGb ? ConvertGB2312ToUTF8 : ConvertUTF8ToGB2312;
    const Convert back = fromGb ? ConvertUTF8ToGB2312 : ConvertGB2312ToUTF8;
    std::string converted;
    const int ret = Run(there, text, capacity, converted);
    if (text.empty()) {
        FUZZ_CHECK(ret == 1);
        return 0;
    }
    if (ret != 1)
        return 0;
    FUZZ_CHECK(converted.size() < capacity);
    // Whole: back again it is the text it came from.
    std::string again;
    FUZZ_CHECK(Run(back, converted, static_cast<unsigned>(text.size()) + 1, again) == 1);
    FUZZ_CHECK(again == text);
    return 0;
}

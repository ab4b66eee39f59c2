// The hex, text and checksum functions on any bytes: hex of a buffer reads
// back as the buffer, outputs stay inside their buffers and terminated, a
// checksum is a function of the bytes alone and its complement property
// holds, XOR twice is no change, trim leaves no white space at either end.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "util/cv_ioutils.h"

namespace {

const char kFill = '\x5a';

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const unsigned room = in.ConsumeIntegralInRange<unsigned>(0, 600);
    const std::string key = in.ConsumeRandomLengthString(32);
    const std::string tag = in.ConsumeRandomLengthString(16);
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    std::vector<char> buf(bytes.begin(), bytes.end());
    buf.push_back('\0');
    const unsigned len = static_cast<unsigned>(bytes.size());

    // Hex out and back.
    std::vector<char> hex(room + 16, kFill);
    const int hret = CV_IOUtils::Buf2HexStr(buf.data(), len, hex.data(), room);
    FUZZ_CHECK(qgfuzz::Untouched(hex.data(), room, hex.size(), kFill));
    FUZZ_CHECK(hret == (2ull * len < room ? 0 : -1));
    if (hret == 0 && len > 0) {
        FUZZ_CHECK(std::strlen(hex.data()) == 2u * len);
        std::vector<char> back(len + 16, kFill);
        unsigned backSize = len;
        FUZZ_CHECK(CV_IOUtils::HexStr2Buf(hex.data(), back.data(), backSize) == 0);
        FUZZ_CHECK(backSize == len);
        FUZZ_CHECK(std::memcmp(back.data(), bytes.data(), len) == 0);
        FUZZ_CHECK(qgfuzz::Untouched(back.data(), len, back.size(), kFill));
    }
    // Any text as hex: at most size bytes written, and only then.
    {
        std::vector<char> out(room + 16, kFill);
        unsigned outSize = room;
        const int r = CV_IOUtils::HexStr2Buf(buf.data(), out.data(), outSize);
        const size_t pairs = std::strlen(buf.data()) / 2;
        FUZZ_CHECK(r == (pairs > room ? -1 : 0));
        FUZZ_CHECK(qgfuzz::Untouched(out.data(), r == 0 ? pairs : 0, out.size(), kFill));
        if (r == 0)
            FUZZ_CHECK(outSize == pairs);
    }
    if (len >= 1) {
        char pair[3] = {buf[0], len > 1 ? buf[1] : '\0', '\0'};
        const int v = CV_IOUtils::Hex2Int(pair);
        FUZZ_CHECK(v >= 0 && v <= 255);
    }

    // The checksum depends on the bytes only (no alignment, no bytes past
    // the length), and the complement of a sum over the bytes and their own
    // checksum word is 0 for an even length.
    {
        std::vector<char> shifted(len + 3, '\x7f');
        std::memcpy(shifted.data() + 1, bytes.data(), len);
        const unsigned short a = CV_IOUtils::cal_chksum(reinterpret_cast<unsigned short*>(buf.data()), len);
        const unsigned short b = CV_IOUtils::cal_chksum(reinterpret_cast<unsigned short*>(shifted.data() + 1), len);
        FUZZ_CHECK(a == b);
        if (len % 2 == 0) {
            std::vector<char> with(buf.begin(), buf.begin() + len);
            with.push_back(static_cast<char>(a & 0xFF));
            with.push_back(static_cast<char>(a >> 8));
            FUZZ_CHECK(CV_IOUtils::cal_chksum(reinterpret_cast<unsigned short*>(with.data()), len + 2) == 0);
        }
    }

    // XOR with a key, twice, into a separate buffer and in place.
    {
        std::vector<char> once(len + 1, 0);
        CV_IOUtils::BufXOR(buf.data(), len, key.c_str(), once.data());
        CV_IOUtils::BufXOR(once.data(), len, key.c_str(), nullptr);
        FUZZ_CHECK(std::memcmp(once.data(), bytes.data(), len) == 0);
    }

    // trim
    {
        std::vector<char> copy = buf;
        const char* t = CV_IOUtils::trim(copy.data());
        const size_t n = std::strlen(t);
        FUZZ_CHECK(t >= copy.data() && t + n < copy.data() + copy.size());
        if (n > 0)
            FUZZ_CHECK(!IsWhite(t[0]) && !IsWhite(t[n - 1]));
    }

    // A tagged value: inside its buffer, terminated, a piece of the text.
    {
        const int outSize = static_cast<int>(room % 300);
        std::vector<char> out(outSize + 16, kFill);
        CV_IOUtils::SplitSignatureStr(buf.data(), tag.c_str(), out.data(), outSize);
        FUZZ_CHECK(qgfuzz::Untouched(out.data(), outSize, out.size(), kFill));
        if (outSize > 0) {
            FUZZ_CHECK(std::memchr(out.data(), '\0', outSize) != nullptr);
            FUZZ_CHECK(std::strstr(buf.data(), out.data()) != nullptr);
        }
    }
    return 0;
}

// The compact writer fed from parsed values: its text reads again, as the
// same document, and writing what was read back gives the same text. The
// quoting and number texts round-trip on their own too.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "util/json_writer.h"

namespace {

// Read without comments and written again: one normal form of a text.
bool Normal(const std::string& text, std::string& out)
{
    Json::Value v;
    try {
        if (!Json::Reader().parse(text, v, false))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    out = cv::toStyledString(v);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);

    if (mode == 0) {
        // Any bytes as a string value: quoted, they read back as themselves.
        const std::string bytes = in.ConsumeRemainingBytesAsString();
        const std::string quoted = cv::valueToQuotedString(bytes.data(), bytes.size());
        Json::Value v;
        FUZZ_CHECK(qgfuzz::Parses(quoted, &v));
        FUZZ_CHECK(v.isString());
        FUZZ_CHECK(v.asString() == bytes);
        FUZZ_CHECK(cv::toStyledString(v) == quoted);
        return 0;
    }
    if (mode == 1) {
        // Numbers: the text reads back as the same value.
        const double d = in.ConsumeFloatingPoint<double>();
        const int64_t i = in.ConsumeIntegral<int64_t>();
        const uint64_t u = in.ConsumeIntegral<uint64_t>();
        const std::string dt = cv::valueToString(d);
        if (std::isfinite(d))
            FUZZ_CHECK(std::strtod(dt.c_str(), nullptr) == d);
        FUZZ_CHECK(std::strtoll(cv::valueToString(static_cast<Json::Int64>(i)).c_str(), nullptr, 10) == i);
        FUZZ_CHECK(std::strtoull(cv::valueToString(static_cast<Json::UInt64>(u)).c_str(), nullptr, 10) == u);
        FUZZ_CHECK(qgfuzz::Parses(dt));
        return 0;
    }

    // Any text, read as the readers do (comments kept, whatever was built
    // before an error counts), then written.
    const std::string text = in.ConsumeRemainingBytesAsString();
    Json::Value v;
    try {
        Json::Reader().parse(text, v, true);
    } catch (const std::exception&) {
        return 0;  // given up for depth: the readers cut such documents first
    }
    const std::string written = cv::toStyledString(v);
    FUZZ_CHECK(cv::toStyledString(v) == written);
    Json::Value back;
    FUZZ_CHECK(qgfuzz::Parses(written, &back));
    // Comments aside, the same document: one normal form for both, and a
    // normal form is its own (-0 and names cut at a NUL settle in one more pass).
    std::string a, b, a2, b2;
    FUZZ_CHECK(Normal(cv::toStyledString(back), a));
    FUZZ_CHECK(Normal(written, b));
    FUZZ_CHECK(Normal(a, a2) && Normal(b, b2));
    FUZZ_CHECK(a2 == b2);
    std::string a3;
    FUZZ_CHECK(Normal(a2, a3) && a3 == a2);
    return 0;
}

// The JSON member readers and RemoveKey on any text and key: outputs stay
// inside their buffers and terminated, handed-out object texts and
// RemoveKey's text read again, and the removed member is gone.
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "util/json_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string key = in.ConsumeRandomLengthString(16);
    const unsigned capacity = in.ConsumeIntegralInRange<unsigned>(0, 300);
    const std::string json = in.ConsumeRemainingBytesAsString();

    // The fixed-buffer readers work on a writable NUL-terminated copy.
    std::vector<char> text(json.begin(), json.end());
    text.push_back('\0');
    const char kFill = '\x5a';
    std::vector<char> out(capacity + 16, kFill);
    CJsonUtils::GetStrValue(text.data(), key.c_str(), out.data(), capacity);
    FUZZ_CHECK(qgfuzz::Untouched(out.data(), capacity, out.size(), kFill));
    if (capacity > 0 && !qgfuzz::Untouched(out.data(), 0, capacity, kFill))
        FUZZ_CHECK(std::memchr(out.data(), '\0', capacity) != nullptr);
    unsigned number = 77;
    CJsonUtils::GetIntValue(text.data(), key.c_str(), number);

    // What the member is, read here on its own.
    Json::Value root;
    try {
        Json::Reader().parse(json, root, true);
    } catch (const std::exception&) {
    }
    const Json::Value* member =
        root.isObject() && !key.empty() ? root.find(key.c_str(), key.c_str() + std::strlen(key.c_str())) : nullptr;

    std::string value = "previous";
    const int ret = CJsonTools::GetStringValue(json, key, value);
    FUZZ_CHECK(ret == ((json.empty() || key.empty()) ? -1 : 0));
    // An object member comes out as JSON text, which must read again, and
    // the fixed buffer holds the same text when it has room.
    if (ret == 0 && member && member->isObject()) {
        FUZZ_CHECK(qgfuzz::Parses(value));
        // (The fixed-buffer reader sees the text only up to a NUL byte.)
        if (value.size() < capacity && json.find('\0') == std::string::npos)
            FUZZ_CHECK(value == out.data());
    }
    int i = 0;
    FUZZ_CHECK(CJsonTools::GetIntValue(json, key, i) == ret);
    double d = 0;
    FUZZ_CHECK(CJsonTools::GetDoubleValue(json, key, d) == ret);

    std::string removed = "keep";
    FUZZ_CHECK(CJsonTools::RemoveKey(json, key, removed) == ret);
    if (removed != "keep") {
        Json::Value root;
        FUZZ_CHECK(qgfuzz::Parses(removed, &root));
        FUZZ_CHECK(root.isObject());
        // Gone, unless another name reads as the key up to a NUL byte
        // (names are written up to their first NUL).
        if (json.find('\0') == std::string::npos)
            FUZZ_CHECK(!root.isMember(key));
    }
    return 0;
}

// What every fuzz target shares: a property check that stops the run with
// the failed condition, so libFuzzer keeps the input as a crash.
#ifndef QG_FUZZ_FUZZ_CHECK_H
#define QG_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <json/json.h>

#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

namespace qgfuzz {

// True when the text reads as one JSON document again, comments allowed.
inline bool Parses(const std::string& text, Json::Value* out = nullptr)
{
    Json::Value v;
    try {
        if (!Json::Reader().parse(text, v, true))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    if (out)
        *out = v;
    return true;
}

// Bytes past `used` of a buffer the callee was not given: still `fill`.
inline bool Untouched(const char* buf, size_t from, size_t to, char fill)
{
    for (size_t i = from; i < to; ++i) {
        if (buf[i] != fill)
            return false;
    }
    return true;
}

}  // namespace qgfuzz

#endif

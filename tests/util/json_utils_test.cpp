#include "util/json_utils.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <json/json.h>

namespace {

// A text whose nesting is deeper than the reader allows, after a good member.
std::string deeplyNested()
{
    return "{\"a\":\"x\",\"n\":7,\"b\":" + std::string(5000, '[');
}

// True when the text reads as JSON again, comments allowed.
bool Parses(const std::string& text)
{
    Json::Value v;
    try {
        return Json::Reader().parse(text, v, true);
    } catch (const std::exception&) {
        return false;
    }
}

// Runs CJsonUtils::GetStrValue on a writable copy of json into a buffer
// preset with 'Z' bytes; returns the buffer.
std::string utilsStr(const std::string& json, const char* key, unsigned size = 64)
{
    std::vector<char> text(json.begin(), json.end());
    text.push_back('\0');
    std::vector<char> out(size + 1, 'Z');
    out[size] = '\0';
    CJsonUtils::GetStrValue(text.data(), key, out.data(), size);
    return std::string(out.data(), size);
}

std::string untouched(unsigned size = 64)
{
    return std::string(size, 'Z');
}

std::string terminated(const std::string& s, unsigned size = 64)
{
    std::string r = s;
    r.push_back('\0');
    r.resize(size, 'Z');
    r[size - 1] = '\0';
    return r;
}

TEST(JsonUtilsGetStrValue, Members)
{
    struct Case {
        const char* name;
        std::string json;
        std::string expected;
    };
    const Case cases[] = {
        {"string", "{\"k\":\"abc\"}", terminated("abc")},
        {"decoded escapes", "{\"k\":\"a\\r\\nb\"}", terminated("a\r\nb")},
        {"object as compact text", "{\"k\":{ \"x\" : 1 }}", terminated("{\"x\":1}")},
        {"embedded NUL ends it", "{\"k\":\"a\\u0000b\"}", terminated("a")},
        {"number untouched", "{\"k\":5}", untouched()},
        {"boolean untouched", "{\"k\":true}", untouched()},
        {"null untouched", "{\"k\":null}", untouched()},
        {"array untouched", "{\"k\":[\"a\"]}", untouched()},
        {"absent", "{\"j\":\"abc\"}", untouched()},
        {"nested path not supported", "{\"a\":{\"k\":\"v\"}}", untouched()},
        {"empty text", "", untouched()},
        {"not JSON", "hello", untouched()},
        {"empty object", "{}", untouched()},
        {"root array", "[\"k\",\"v\"]", untouched()},
        {"root string", "\"k\"", untouched()},
        {"root number", "12", untouched()},
        {"truncated after first member", "{\"k\":\"v\",\"other\":", terminated("v")},
        {"too deep after member", "{\"k\":\"v\",\"b\":" + std::string(5000, '['), terminated("v")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(utilsStr(c.json, "k"), c.expected) << c.name;
}

TEST(JsonUtilsGetStrValue, CutToBufferSize)
{
    std::string expected = "abcdefg";
    expected.push_back('\0');
    EXPECT_EQ(utilsStr("{\"k\":\"abcdefghij\"}", "k", 8), expected);
    EXPECT_EQ(utilsStr("{\"k\":{\"x\":1}}", "k", 4), std::string("{\"x", 3) + '\0');
    EXPECT_EQ(utilsStr("{\"k\":\"abc\"}", "k", 1), std::string(1, '\0'));
}

TEST(JsonUtilsGetStrValue, SizeZeroWritesNothing)
{
    char text[] = "{\"k\":\"abc\"}";
    char buffer[3] = {'Z', 'Z', 'Z'};
    // No room at all: neither the buffer nor the byte before it changes.
    CJsonUtils::GetStrValue(text, "k", buffer + 1, 0);
    EXPECT_EQ(buffer[0], 'Z');
    EXPECT_EQ(buffer[1], 'Z');
    EXPECT_EQ(buffer[2], 'Z');
}

TEST(JsonUtilsGetStrValue, NullArguments)
{
    char out[4] = "ZZZ";
    CJsonUtils::GetStrValue(nullptr, "k", out, sizeof out);
    char text[] = "{\"k\":\"v\"}";
    CJsonUtils::GetStrValue(text, nullptr, out, sizeof out);
    EXPECT_STREQ(out, "ZZZ");
}

struct IntCase {
    const char* name;
    std::string json;
    bool written;
    int value;
};

const IntCase kIntCases[] = {
    {"int", "{\"k\":42}", true, 42},
    {"negative", "{\"k\":-5}", true, -5},
    {"string digits", "{\"k\":\"12\"}", true, 12},
    {"string hex is 0", "{\"k\":\"0x10\"}", true, 0},
    {"string with blank and sign", "{\"k\":\" -7px\"}", true, -7},
    {"string without digits", "{\"k\":\"abc\"}", true, 0},
    {"string saturates then cuts", "{\"k\":\"99999999999999999999\"}", true, -1},
    {"string cut to 32 bits", "{\"k\":\"4294967297\"}", true, 1},
    {"integral real", "{\"k\":3.0}", true, 3},
    {"fractional real", "{\"k\":3.5}", false, 0},
    {"beyond int range", "{\"k\":3000000000}", false, 0},
    {"boolean", "{\"k\":true}", false, 0},
    {"object", "{\"k\":{\"x\":1}}", false, 0},
    {"absent", "{\"j\":1}", false, 0},
    {"not JSON", "garbage", false, 0},
    {"root array", "[1,2]", false, 0},
    {"truncated", "{\"k\":9,\"j\":[1,", true, 9},
    {"comments", "{/* c */ \"k\" : 8 // d\n}", true, 8},
};

TEST(JsonIntReaders, BothClasses)
{
    const int preset = 0x5A5A;
    for (const IntCase& c : kIntCases) {
        std::vector<char> text(c.json.begin(), c.json.end());
        text.push_back('\0');
        unsigned int u = preset;
        CJsonUtils::GetIntValue(text.data(), "k", u);
        EXPECT_EQ(u, c.written ? static_cast<unsigned int>(c.value) : static_cast<unsigned int>(preset)) << c.name;

        int i = preset;
        EXPECT_EQ(CJsonTools::GetIntValue(c.json, "k", i), 0) << c.name;
        EXPECT_EQ(i, c.written ? c.value : preset) << c.name;
    }
    unsigned int u = 3;
    CJsonUtils::GetIntValue(nullptr, "k", u);
    EXPECT_EQ(u, 3u);
}

TEST(JsonToolsGetStringValue, Members)
{
    struct Case {
        const char* name;
        std::string json;
        std::string expected;
    };
    const Case cases[] = {
        {"string", "{\"k\":\"abc\"}", "abc"},
        {"decoded escapes", "{\"k\":\"line\\r\\n\\u00e9\"}", "line\r\n\xc3\xa9"},
        {"object", "{\"k\":{\"b\":[1, 2],\"a\":null}}", "{\"a\":null,\"b\":[1,2]}"},
        {"missing", "{\"j\":\"abc\"}", ""},
        {"number", "{\"k\":1}", ""},
        {"array", "{\"k\":[\"x\"]}", ""},
        {"not JSON", "??", ""},
        {"root array", "[{\"k\":\"v\"}]", ""},
        {"truncated", "{\"k\":\"v\",\"x\":tr", "v"},
        {"too deep", deeplyNested(), ""},
    };
    for (const Case& c : cases) {
        std::string out = "previous";
        EXPECT_EQ(CJsonTools::GetStringValue(c.json, "k", out), 0) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
    std::string out;
    EXPECT_EQ(CJsonTools::GetStringValue(deeplyNested(), "a", out), 0);
    EXPECT_EQ(out, "x");
    // An object member's text always reads again: the reader's "/*/" is
    // not a comment to write, and a member nested too deep is cut.
    EXPECT_EQ(CJsonTools::GetStringValue("{\"k\":{\"a\":1 /*/", "k", out), 0);
    EXPECT_EQ(out, "{\"a\":1}");
    EXPECT_EQ(CJsonTools::GetStringValue("{\"k\":{\"a\":" + std::string(5000, '['), "k", out), 0);
    EXPECT_TRUE(Parses(out)) << out.substr(0, 40);
    EXPECT_EQ(out.compare(0, 8, "{\"a\":[[["), 0);
}

TEST(JsonToolsGetStringValue, ObjectTextIsNotCutToInputLength)
{
    // 15 bytes of input; the member's compact text is longer than that.
    const std::string json = "{\"o\":{\"r\":0.1}}";
    ASSERT_EQ(json.size(), 15u);
    std::string out;
    ASSERT_EQ(CJsonTools::GetStringValue(json, "o", out), 0);
    EXPECT_EQ(out, "{\"r\":0.10000000000000001}");

    // Raw control bytes in the source come out as longer escapes.
    const std::string raw = std::string("{\"o\":{\"t\":\"") + '\x01' + '\x02' + "\"}}";
    ASSERT_EQ(CJsonTools::GetStringValue(raw, "o", out), 0);
    EXPECT_EQ(out, "{\"t\":\"\\u0001\\u0002\"}");
}

TEST(JsonToolsGetStringValue, EmptyArguments)
{
    std::string out = "keep";
    EXPECT_EQ(CJsonTools::GetStringValue("", "k", out), -1);
    EXPECT_EQ(CJsonTools::GetStringValue("{\"k\":\"v\"}", "", out), -1);
    EXPECT_EQ(out, "keep");
    // The key counts up to its first NUL byte.
    EXPECT_EQ(CJsonTools::GetStringValue("{\"k\":\"v\"}", std::string("k\0z", 3), out), 0);
    EXPECT_EQ(out, "v");
}

TEST(JsonToolsGetDoubleValue, Members)
{
    struct Case {
        const char* name;
        std::string json;
        bool written;
        double value;
    };
    const Case cases[] = {
        {"real", "{\"k\":2.5}", true, 2.5},
        {"int", "{\"k\":-3}", true, -3.0},
        {"uint", "{\"k\":18446744073709551615}", true, 18446744073709551615.0},
        {"string", "{\"k\":\" 1e3x\"}", true, 1000.0},
        {"string without number", "{\"k\":\"abc\"}", true, 0.0},
        {"boolean", "{\"k\":false}", false, 0},
        {"null", "{\"k\":null}", false, 0},
        {"absent", "{\"j\":1}", false, 0},
        {"root array", "[1.5]", false, 0},
        {"too deep", deeplyNested(), false, 0},
    };
    for (const Case& c : cases) {
        double d = -99.0;
        EXPECT_EQ(CJsonTools::GetDoubleValue(c.json, "k", d), 0) << c.name;
        EXPECT_EQ(d, c.written ? c.value : -99.0) << c.name;
    }
    double d = 1.0;
    EXPECT_EQ(CJsonTools::GetDoubleValue("", "k", d), -1);
    EXPECT_EQ(CJsonTools::GetDoubleValue(deeplyNested(), "n", d), 0);
    EXPECT_EQ(d, 7.0);
    int i = 1;
    EXPECT_EQ(CJsonTools::GetIntValue("{}", "", i), -1);
    EXPECT_EQ(CJsonTools::GetIntValue("", "k", i), -1);
}

TEST(JsonToolsRemoveKey, Removal)
{
    struct Case {
        const char* name;
        std::string json;
        const char* key;
        std::string expected;
    };
    const Case cases[] = {
        {"only member", "{\"k\":1}", "k", "{}"},
        {"one of several", "{\"z\":[1, 2],\"k\":\"x\",\"a\":{\"b\":0.5}}", "k", "{\"a\":{\"b\":0.5},\"z\":[1,2]}"},
        {"comments kept", "{\"a\":1, /* c */\n\"k\":2}", "k", "{\"a\":1/* c */}"},
        // The reader keeps "/*/" as a comment; written out it would swallow the "}".
        {"unclosed comment left out", "{\"k\":\"\",\"\":\"\"/*/", "k", "{\"\":\"\"}"},
        {"partial text", "{\"k\":1,\"b\":2,\"c", "k", "{\"b\":2}"},
        {"absent", "{\"j\":1}", "k", "keep"},
        {"root array", "[\"k\"]", "k", "keep"},
        {"root string", "\"k\"", "k", "keep"},
        {"not JSON", "nope", "k", "keep"},
    };
    for (const Case& c : cases) {
        std::string out = "keep";
        EXPECT_EQ(CJsonTools::RemoveKey(c.json, c.key, out), 0) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
        if (out != "keep") {
            EXPECT_TRUE(Parses(out)) << c.name;
        }
    }
    // Too deep a text still gives up what was read before the reader
    // stopped, cut to a depth that reads again.
    std::string out = "keep";
    EXPECT_EQ(CJsonTools::RemoveKey(deeplyNested(), "n", out), 0);
    EXPECT_EQ(out.compare(0, 15, "{\"a\":\"x\",\"b\":[["), 0) << out.substr(0, 40);
    EXPECT_TRUE(Parses(out)) << out.substr(0, 40);
    out = "keep";
    EXPECT_EQ(CJsonTools::RemoveKey("", "k", out), -1);
    EXPECT_EQ(CJsonTools::RemoveKey("{\"k\":1}", "", out), -1);
    EXPECT_EQ(out, "keep");
}

}  // namespace

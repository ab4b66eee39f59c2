#include "util/json_writer.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

Json::Value parseWithComments(const std::string& text)
{
    Json::Reader reader;
    Json::Value root;
    EXPECT_TRUE(reader.parse(text, root, true)) << text;
    return root;
}

Json::Value array(std::initializer_list<Json::Value> items)
{
    Json::Value a(Json::arrayValue);
    for (const Json::Value& item : items)
        a.append(item);
    return a;
}

struct GoldenCase {
    const char* name;
    Json::Value value;
    std::string text;
};

Json::Value object(std::initializer_list<std::pair<std::string, Json::Value>> members)
{
    Json::Value o(Json::objectValue);
    for (const auto& m : members)
        o[m.first] = m.second;
    return o;
}

TEST(CompactJsonText, GoldenTexts)
{
    const double inf = std::numeric_limits<double>::infinity();
    const GoldenCase cases[] = {
        {"null root", Json::Value(), "null"},
        {"true", Json::Value(true), "true"},
        {"false", Json::Value(false), "false"},
        {"zero", Json::Value(0), "0"},
        {"negative int", Json::Value(-42), "-42"},
        {"int64 min", Json::Value(std::numeric_limits<Json::Int64>::min()), "-9223372036854775808"},
        {"int64 max", Json::Value(std::numeric_limits<Json::Int64>::max()), "9223372036854775807"},
        {"uint64 max", Json::Value(std::numeric_limits<Json::UInt64>::max()), "18446744073709551615"},
        {"real integral", Json::Value(1.0), "1"},
        {"real 3.0", Json::Value(3.0), "3"},
        {"real half", Json::Value(0.5), "0.5"},
        {"real tenth", Json::Value(0.1), "0.10000000000000001"},
        {"real 1e21", Json::Value(1e21), "1e+21"},
        {"real small", Json::Value(1e-7), "9.9999999999999995e-08"},
        {"real negative zero", Json::Value(-0.0), "-0"},
        {"real NaN", Json::Value(std::nan("")), "null"},
        {"real +inf", Json::Value(inf), "1e+9999"},
        {"real -inf", Json::Value(-inf), "-1e+9999"},
        {"string root", Json::Value("hi"), "\"hi\""},
        {"empty string", Json::Value(""), "\"\""},
        {"tab quote 0x01", Json::Value("a\tb\"c\x01"), "\"a\\tb\\\"c\\u0001\""},
        {"short escapes", Json::Value("\\\b\f\n\r"), "\"\\\\\\b\\f\\n\\r\""},
        {"control 0x1F", Json::Value("\x1f"), "\"\\u001F\""},
        {"solidus and DEL raw", Json::Value("a/b\x7f"), "\"a/b\x7f\""},
        {"UTF-8 raw", Json::Value("\xe4\xb8\xad\xe6\x96\x87"), "\"\xe4\xb8\xad\xe6\x96\x87\""},
        {"invalid UTF-8 raw", Json::Value("\xff\x80"), "\"\xff\x80\""},
        {"embedded NUL", Json::Value(std::string("a\0b", 3)), "\"a\\u0000b\""},
        {"empty array", Json::Value(Json::arrayValue), "[]"},
        {"empty object", Json::Value(Json::objectValue), "{}"},
        {"nested empties", object({{"b", Json::Value(Json::objectValue)}, {"a", Json::Value(Json::arrayValue)}}),
         "{\"a\":[],\"b\":{}}"},
        {"worked example", object({{"b", array({1, 2.5, "x"})}, {"a", Json::Value(Json::objectValue)}}),
         "{\"a\":{},\"b\":[1,2.5,\"x\"]}"},
        {"nested arrays", array({array({1, 2}), array({3}), Json::Value(Json::arrayValue)}), "[[1,2],[3],[]]"},
        {"member order", object({{"b", 1}, {"B", 2}, {"a", 3}, {"ab", 4}, {"\xc3\xa9", 5}}),
         "{\"B\":2,\"a\":3,\"ab\":4,\"b\":1,\"\xc3\xa9\":5}"},
        {"escaped name", object({{"q\"\n", 1}}), "{\"q\\\"\\n\":1}"},
        {"name cut at NUL", object({{std::string("ab\0cd", 5), 1}}), "{\"ab\":1}"},
        {"objects in arrays", array({object({{"x", 1}}), object({{"y", array({true, Json::Value()})}})}),
         "[{\"x\":1},{\"y\":[true,null]}]"},
    };
    for (const GoldenCase& c : cases) {
        EXPECT_EQ(cv::toStyledString(c.value), c.text) << c.name;
    }
}

TEST(CompactJsonText, LongArraysStayOnOneLine)
{
    Json::Value a(Json::arrayValue);
    std::string expected = "[";
    for (int i = 0; i < 30; ++i) {
        a.append(i);
        expected += (i ? "," : "") + std::to_string(i);
    }
    expected += "]";
    EXPECT_EQ(cv::toStyledString(a), expected);

    // Long element texts take no other layout either.
    Json::Value wide = array({std::string(100, 'x'), object({{"k", std::string(80, 'y')}})});
    EXPECT_EQ(cv::toStyledString(wide), "[\"" + std::string(100, 'x') + "\",{\"k\":\"" + std::string(80, 'y') + "\"}]");
}

TEST(CompactJsonText, RealsMatchPrintf)
{
    const double values[] = {
        123456789.125, -2.5e-300, 4.9406564584124654e-324, 1.7976931348623157e308, 1e16, 1e17, 123.456, -1.0 / 3.0,
        100.0,         1e-5};
    for (double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.17g", v);
        EXPECT_EQ(cv::valueToString(v), expected);
    }
}

TEST(CompactJsonText, ScalarHelpers)
{
    EXPECT_EQ(cv::valueToString(static_cast<Json::Int64>(-7)), "-7");
    EXPECT_EQ(cv::valueToString(static_cast<Json::UInt64>(7)), "7");
    EXPECT_EQ(cv::valueToString(true), "true");
    EXPECT_EQ(cv::valueToQuotedString("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(cv::valueToQuotedString("x\0y", 3), "\"x\\u0000y\"");
}

TEST(CompactJsonText, WriterIsReusableAndLeavesValueUnchanged)
{
    Json::Value v = object({{"z", array({1, "two", 3.5})}, {"a", object({{"n", Json::Value()}})}});
    const Json::Value copy = v;
    const std::string first = cv::toStyledString(v);
    EXPECT_EQ(cv::toStyledString(v), first);
    EXPECT_EQ(v, copy);

    cv::StyledWriter writer;
    EXPECT_EQ(writer.write(v), first);
    EXPECT_EQ(writer.write(Json::Value(5)), "5");
    EXPECT_EQ(writer.write(v), first);
}

TEST(CompactJsonText, RoundTripsThroughReader)
{
    const std::string text =
        "{\"list\":[{\"id\":1,\"name\":\"\xe5\xbc\xa0\"},{\"id\":-2,\"r\":0.25}],\"msg\":\"a\\u0001\\n\"}";
    const Json::Value v = parseWithComments(text);
    EXPECT_EQ(cv::toStyledString(v), text);
}

struct CommentCase {
    const char* input;
    const char* output;
};

TEST(CompactJsonText, CommentsWrittenAtTheirPlace)
{
    const CommentCase cases[] = {
        {"/* head */ {\"a\":1}", "/* head */{\"a\":1}"},
        {"[1, /* one */ 2]", "[1,/* one */2]"},
        {"{\"a\": /* x */ 1}", "{/* x */\"a\":1}"},
        // A line comment ends with a line break, or it would swallow the rest.
        {"{\"a\":1, // one\n\"b\":2}", "{\"a\":1,// one\n\"b\":2}"},
        {"// head\n[1]", "// head\n[1]"},
        {"[1,2 // last\n]", "[1,2// last\n]"},
        {"// a\n// b\n3", "// a\n// b\n3"},
        {"/* x */ // y\n7", "/* x */// y\n7"},
        {"// z\n/* block */ 7", "// z\n/* block */7"},
    };
    for (const CommentCase& c : cases) {
        const Json::Value v = parseWithComments(c.input);
        const std::string text = cv::toStyledString(v);
        EXPECT_EQ(text, c.output) << c.input;
        // What the writer produced reads back as the same document.
        EXPECT_EQ(parseWithComments(text), v) << c.input;
    }
}

TEST(CompactJsonText, OnlyCompleteCommentsAreWritten)
{
    Json::Value v(Json::objectValue);
    v["a"] = 1;
    v["b"] = 2;
    const struct {
        const char* comment;
        const char* text;
    } cases[] = {
        {"/*/", "{\"a\":1,\"b\":2}"},                      // the reader's unclosed block
        {"/* open", "{\"a\":1,\"b\":2}"},                  // no end
        {"/* x */ /*", "{\"a\":1,/* x */\"b\":2}"},        // the complete one stays
        {"// l\rtail", "{\"a\":1,// l\r\"b\":2}"},         // a line ends at CR too
        {"/* x */ stray */", "{\"a\":1,/* x */\"b\":2}"},  // text after a block is no comment
        {"// ok", "{\"a\":1,// ok\n\"b\":2}"},
    };
    for (const auto& c : cases) {
        Json::Value w = v;
        w["a"].setComment(std::string(c.comment), Json::commentAfterOnSameLine);
        const std::string text = cv::toStyledString(w);
        EXPECT_EQ(text, c.text) << c.comment;
        Json::Value back;
        EXPECT_TRUE(Json::Reader().parse(text, back, true)) << c.comment;
        EXPECT_EQ(back, v) << c.comment;
    }
}

TEST(CompactJsonText, LineCommentDoesNotSwallowFollowingMembers)
{
    const Json::Value v = parseWithComments("{\"a\":1, // note\n\"b\":2, \"c\":[3]}");
    Json::Value back;
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(cv::toStyledString(v), back, false));
    EXPECT_EQ(back["b"], 2);
    EXPECT_EQ(back["c"][0], 3);
}

std::string streamText(const Json::Value& v, const std::string& indentation = "  ")
{
    cv::StyledStreamWriter writer(indentation);
    std::ostringstream out;
    writer.write(out, v);
    return out.str();
}

TEST(IndentedJsonText, Layout)
{
    EXPECT_EQ(streamText(Json::Value(1)), "1\n");
    EXPECT_EQ(streamText(Json::Value(Json::arrayValue)), "[]\n");
    EXPECT_EQ(streamText(array({1, "x", Json::Value(Json::objectValue)})), "[ 1, \"x\", {} ]\n");
    EXPECT_EQ(streamText(object({{"b", array({1, 2})}, {"a", object({{"x", 1}})}})),
              "{\n  \"a\":\n  {\n    \"x\":1\n  },\n  \"b\":[ 1, 2 ]\n}\n");
    // An element that is an object opens on the element's own line.
    EXPECT_EQ(streamText(array({object({{"x", 1}}), 2})), "[\n  {\n    \"x\":1\n  },\n  2\n]\n");
}

TEST(IndentedJsonText, MultiLineArrays)
{
    Json::Value many(Json::arrayValue);
    for (int i = 0; i < 25; ++i)
        many.append(i);
    const std::string text = streamText(many, "\t");
    EXPECT_EQ(text.substr(0, 7), "[\n\t0,\n\t");
    EXPECT_EQ(text.substr(text.size() - 6), "\t24\n]\n");

    Json::Value few(Json::arrayValue);
    std::string oneLine = "[ ";
    for (int i = 0; i < 20; ++i) {
        few.append(i % 10);
        oneLine += (i ? ", " : "") + std::to_string(i % 10);
    }
    EXPECT_EQ(streamText(few), oneLine + " ]\n");

    // Line length: 4 + 2 * (n - 1) + element texts must stay below 74.
    EXPECT_EQ(streamText(array({std::string(66, 'a')})), "[ \"" + std::string(66, 'a') + "\" ]\n");
    EXPECT_EQ(streamText(array({std::string(68, 'a')})), "[\n  \"" + std::string(68, 'a') + "\"\n]\n");
}

TEST(IndentedJsonText, Comments)
{
    const Json::Value v = parseWithComments("{\"a\":1, // one\n\"b\":[1, 2]}");
    EXPECT_EQ(streamText(v), "{\n  \"a\":1, // one\n  \"b\":[ 1, 2 ]\n}\n");
    const Json::Value before = parseWithComments("{\"a\":\n// c1\n// c2\n1}");
    EXPECT_EQ(streamText(before), "{\n  // c1\n  // c2\n  \"a\":1\n}\n");
}

}  // namespace

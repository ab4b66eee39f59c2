// Text conversion between GB2312 and UTF-8: fixed buffers for names and
// whole buffers sized from their input.
#include "quillgate/sdklink/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/case_names.h"

namespace {

const char kName2001[] = "\xe5\xbc\xa0\xe4\xb8\x89";  // GB2312 d5c5 c8fd as UTF-8

struct ConvertCase {
    const char* name;
    const char* gb2312;
    unsigned int capacity;
    int result;
    const char* utf8;
};
QG_PRINT_CASE_BY_NAME(ConvertCase)

class GB2312ToUTF8 : public ::testing::TestWithParam<ConvertCase>
{};

TEST_P(GB2312ToUTF8, ConvertsWithinCapacityAndAlwaysTerminates)
{
    const ConvertCase& c = GetParam();
    // Canary bytes past the capacity show any overrun.
    std::vector<char> out(c.capacity + 8, '#');
    memset(out.data(), 0, c.capacity);
    EXPECT_EQ(ConvertGB2312ToUTF8(c.gb2312, out.data(), c.capacity), c.result);
    EXPECT_EQ(std::string(out.data()), c.utf8);
    EXPECT_EQ(out[c.capacity - 1], '\0');
    for (size_t i = c.capacity; i < out.size(); ++i)
        EXPECT_EQ(out[i], '#') << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GB2312ToUTF8,
    ::testing::Values(ConvertCase{"TwoCharacters", "\xd5\xc5\xc8\xfd", 64, 1, kName2001},
                      ConvertCase{"Ascii", "guest", 64, 1, "guest"}, ConvertCase{"Empty", "", 4, 1, ""},
                      ConvertCase{"ExactFitWithNul", "\xd5\xc5\xc8\xfd", 7, 1, kName2001},
                      ConvertCase{"OneShortCutsAtCharacter", "\xd5\xc5\xc8\xfd", 6, 0, "\xe5\xbc\xa0"},
                      ConvertCase{"RoomForNothing", "\xd5\xc5\xc8\xfd", 3, 0, ""},
                      ConvertCase{"AsciiCutToCapacity", "abcdef", 4, 0, "abc"},
                      ConvertCase{"InvalidBytesGiveEmpty", "a\xff\xff", 16, 0, ""}),
    qgtest::ByName());

TEST(TextConvert, UTF8ToGB2312RoundTripsAndHandlesNullAndZeroCapacity)
{
    char gb[16] = {0};
    EXPECT_EQ(ConvertUTF8ToGB2312(kName2001, gb, sizeof(gb)), 1);
    EXPECT_STREQ(gb, "\xd5\xc5\xc8\xfd");

    char untouched[4] = {'x', 'y', 'z', '\0'};
    EXPECT_EQ(ConvertGB2312ToUTF8("abc", untouched, 0), 0);
    EXPECT_STREQ(untouched, "xyz");
    // Nothing to convert leaves out as it was.
    EXPECT_EQ(ConvertGB2312ToUTF8("", untouched, sizeof(untouched)), 1);
    EXPECT_STREQ(untouched, "xyz");
    EXPECT_EQ(ConvertGB2312ToUTF8(nullptr, untouched, sizeof(untouched)), 1);
    EXPECT_STREQ(untouched, "xyz");
}

// ---- whole buffers ----

struct BufferCase {
    const char* name;
    std::string gb2312;
    std::string utf8;
};
QG_PRINT_CASE_BY_NAME(BufferCase)

class BufferConversion : public ::testing::TestWithParam<BufferCase>
{};

// What converts cleanly converts the same either way and agrees with the
// fixed-buffer routines, which ask iconv directly.
TEST_P(BufferConversion, GivesIconvsTextBothWays)
{
    const BufferCase& c = GetParam();
    size_t replaced = 99;
    EXPECT_EQ(ConvertBufferGB2312ToUTF8(c.gb2312.data(), c.gb2312.size(), &replaced), c.utf8);
    EXPECT_EQ(replaced, 0u);
    EXPECT_EQ(ConvertBufferUTF8ToGB2312(c.utf8.data(), c.utf8.size(), &replaced), c.gb2312);
    EXPECT_EQ(replaced, 0u);
    if (c.gb2312.find('\0') == std::string::npos && !c.gb2312.empty()) {
        std::vector<char> out(c.utf8.size() * 2 + 8, 0);
        ASSERT_EQ(ConvertGB2312ToUTF8(c.gb2312.c_str(), out.data(), static_cast<unsigned>(out.size())), 1);
        EXPECT_EQ(std::string(out.data()), c.utf8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BufferConversion,
    ::testing::Values(BufferCase{"Empty", "", ""}, BufferCase{"Ascii", "{\"a\":1}", "{\"a\":1}"},
                      BufferCase{"TwoCharacters", "\xd5\xc5\xc8\xfd", kName2001},
                      BufferCase{"Mixed", "id=7 \xc0\xee\xcb\xc4, ok", "id=7 \xe6\x9d\x8e\xe5\x9b\x9b, ok"},
                      // Symbols of row 1 and the last character of the table.
                      BufferCase{"Symbols", "\xa1\xa1\xa1\xa3\xa3\xa1", "\xe3\x80\x80\xe3\x80\x82\xef\xbc\x81"},
                      BufferCase{"LastCharacter", "\xf7\xfe", "\xe9\xbd\x84"},
                      BufferCase{"NulBytesKept", std::string("a\0b", 3), std::string("a\0b", 3)}),
    qgtest::ByName());

TEST(BufferConversionFaults, EachBadSequenceBecomesOneQuestionMark)
{
    size_t replaced = 0;
    // No GB2312 form: an emoji (4 bytes), a Hangul syllable (3 bytes).
    EXPECT_EQ(ConvertBufferUTF8ToGB2312("a\xf0\x9f\x98\x80"
                                        "b\xea\xb0\x80"
                                        "c",
                                        10, &replaced),
              "a?b?c");
    EXPECT_EQ(replaced, 2u);
    // Not UTF-8: a stray continuation byte, a cut sequence, an overlong form, a surrogate.
    EXPECT_EQ(ConvertBufferUTF8ToGB2312("\x80x\xe5\xbc", 4, &replaced), "?x??");
    EXPECT_EQ(replaced, 3u);
    EXPECT_EQ(ConvertBufferUTF8ToGB2312("\xc0\xaf\xed\xa0\x80", 5, &replaced), "?????");
    EXPECT_EQ(replaced, 5u);
    // Not GB2312: a lead byte without its trail, a pair outside the table, a byte below the range.
    EXPECT_EQ(ConvertBufferGB2312ToUTF8("\xd5"
                                        "a\xaa\xa1\x80",
                                        5, &replaced),
              "?a??");
    EXPECT_EQ(replaced, 3u);
    EXPECT_EQ(ConvertBufferGB2312ToUTF8("ab\xd5", 3, &replaced), "ab?");
    EXPECT_EQ(replaced, 1u);
}

TEST(BufferConversionFaults, LongBuffersConvertWhole)
{
    // Far beyond any fixed buffer: 30000 characters of 2 and 3 bytes.
    std::string gb, utf8;
    for (int i = 0; i < 15000; ++i) {
        gb += "\xd5\xc5\xc8\xfd";
        utf8 += kName2001;
    }
    EXPECT_EQ(ConvertBufferGB2312ToUTF8(gb.data(), gb.size()), utf8);
    EXPECT_EQ(ConvertBufferUTF8ToGB2312(utf8.data(), utf8.size()), gb);
}

}  // namespace

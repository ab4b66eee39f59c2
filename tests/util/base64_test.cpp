// Base64 both ways: the RFC 4648 vectors, every length around the group
// edges, and texts that must be refused whole.
#include "util/base64.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/case_names.h"

namespace {

TEST(Base64, EncodesTheRfcVectorsAndDecodesThemBack)
{
    const char* const vectors[][2] = {{"", ""},
                                      {"f", "Zg=="},
                                      {"fo", "Zm8="},
                                      {"foo", "Zm9v"},
                                      {"foob", "Zm9vYg=="},
                                      {"fooba", "Zm9vYmE="},
                                      {"foobar", "Zm9vYmFy"}};
    for (const auto& v : vectors) {
        const std::string plain = v[0];
        EXPECT_EQ(Base64Encode(plain.data(), plain.size()), v[1]) << plain;
        std::string back = "untouched";
        ASSERT_TRUE(Base64Decode(v[1], back)) << v[1];
        EXPECT_EQ(back, plain);
    }
}

TEST(Base64, RoundTripsEveryByteAndEveryLengthAroundTheGroups)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (size_t n = 0; n <= all.size(); ++n) {
        const std::string text = Base64Encode(all.data(), n);
        ASSERT_EQ(text.size(), (n + 2) / 3 * 4) << n;
        std::string back;
        ASSERT_TRUE(Base64Decode(text, back)) << n;
        ASSERT_EQ(back, all.substr(0, n)) << n;
    }
    // "+" and "/" are the alphabet's last two letters.
    EXPECT_EQ(Base64Encode("\xfb\xff", 2), "+/8=");
}

TEST(Base64, AcceptsALastGroupWithoutItsPadding)
{
    std::string out;
    ASSERT_TRUE(Base64Decode("Zm9vYg", out));
    EXPECT_EQ(out, "foob");
    ASSERT_TRUE(Base64Decode("Zm9vYmE", out));
    EXPECT_EQ(out, "fooba");
}

struct BadCase {
    const char* name;
    const char* text;
};
QG_PRINT_CASE_BY_NAME(BadCase)

class Base64Refuses : public ::testing::TestWithParam<BadCase>
{};

TEST_P(Base64Refuses, TheWholeTextAndLeavesTheOutputAlone)
{
    std::string out = "untouched";
    EXPECT_FALSE(Base64Decode(GetParam().text, out));
    EXPECT_EQ(out, "untouched");
}

INSTANTIATE_TEST_SUITE_P(Table, Base64Refuses,
                         ::testing::Values(BadCase{"ByteOutsideTheAlphabet", "Zm9v*mFy"}, BadCase{"Space", "Zm9v YmFy"},
                                           BadCase{"LineEnd", "Zm9vYmFy\n"}, BadCase{"PaddingInTheMiddle", "Zg==Zm9v"},
                                           BadCase{"ThreePaddingBytes", "Zg==="}, BadCase{"OneCharacterGroup", "Zm9vY"},
                                           BadCase{"PaddingOnAWholeGroup", "Zm9v="}, BadCase{"PaddingAlone", "=="},
                                           BadCase{"UrlAlphabet", "-_8="}, BadCase{"HighByte", "Zm9v\xc3\xa9"}),
                         qgtest::ByName());

}  // namespace

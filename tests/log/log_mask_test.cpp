// What a log line shows of a parameter text that may carry a password.
#include <gtest/gtest.h>

#include <string>

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "tests/support/case_names.h"

namespace {

struct MaskCase {
    const char* name;
    const char* text;
    const char* shown;
};
QG_PRINT_CASE_BY_NAME(MaskCase)

class PasswordMask : public ::testing::TestWithParam<MaskCase>
{};

TEST_P(PasswordMask, ShowsTheTextWithEveryPasswordMemberMasked)
{
    EXPECT_EQ(MaskPasswordMembers(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Table, PasswordMask,
                         ::testing::Values(MaskCase{"PlainTextUnchanged", "sp", "sp"},
                                           MaskCase{"EmptyUnchanged", "", ""},
                                           // Nothing to mask: the text as it came, spacing included.
                                           MaskCase{"JsonWithoutPasswordUnchanged", "{ \"a\" : 1 }", "{ \"a\" : 1 }"},
                                           MaskCase{"BrokenJsonUnchanged", "{\"password\":", "{\"password\":"},
                                           MaskCase{"PasswordMember", "{\"user\":\"u\", \"password\":\"s3\"}",
                                                    "{\"password\":\"***\",\"user\":\"u\"}"},
                                           MaskCase{"AnyCaseAndPwd", "{\"ServerAuthPass\":\"a\",\"roomPwd\":7}",
                                                    "{\"ServerAuthPass\":\"***\",\"roomPwd\":\"***\"}"},
                                           MaskCase{"NestedAndInArrays",
                                                    "{\"a\":{\"pass\":\"x\"},\"l\":[{\"pwd\":\"y\"}]}",
                                                    "{\"a\":{\"pass\":\"***\"},\"l\":[{\"pwd\":\"***\"}]}"}),
                         qgtest::ByName());

TEST(LoggedText, IsMaskedForALineThatIsWrittenAndEmptyForOneThatIsDropped)
{
    SetProxyLogSink([](const char*) {});
    SetProxyLogLevel(4);
    const std::string text = "{\"cmd\":1,\"pwd\":\"s3\"}";
    EXPECT_EQ(LoggedText(4, text), "{\"cmd\":1,\"pwd\":\"***\"}");
    EXPECT_EQ(LoggedText(16, "plain"), "plain");
    EXPECT_EQ(LoggedText(2, text), "");
    // Without a sink no line is written at all.
    SetProxyLogSink(nullptr);
    EXPECT_EQ(LoggedText(16, text), "");
}

}  // namespace

// GUID text of fresh and of given identifiers.
#include "util/guid_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace {

TEST(GuidText, ReadsTheBytesAsAGuidRecordInLittleEndian)
{
    const unsigned char bytes[16] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                     0x09, 0x0a, 0xab, 0xcd, 0xef, 0x10, 0x20, 0xff};
    EXPECT_EQ(GuidText(bytes), "04030201-0605-0807-090A-ABCDEF1020FF");
}

TEST(GuidText, FreshTextsAreThirtySixUpperCaseCharactersAndDiffer)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string text = NewGuidText();
        ASSERT_EQ(text.size(), 36u) << text;
        for (size_t k = 0; k < text.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23)
                EXPECT_EQ(text[k], '-') << text;
            else
                EXPECT_TRUE(isdigit(static_cast<unsigned char>(text[k])) || (text[k] >= 'A' && text[k] <= 'F')) << text;
        }
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 100u);
}

}  // namespace

#include "util/cv_ioutils.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace {

unsigned short Checksum(const std::string& bytes)
{
    return CV_IOUtils::cal_chksum(reinterpret_cast<unsigned short*>(const_cast<char*>(bytes.data())),
                                  static_cast<int>(bytes.size()));
}

// RFC 1071 over network-order words, byte-swapped: an independent reference.
unsigned short ReferenceChecksum(const std::vector<unsigned char>& b)
{
    unsigned long long sum = 0;
    for (size_t i = 0; i < b.size(); i += 2)
        sum += (static_cast<unsigned>(b[i]) << 8) | (i + 1 < b.size() ? b[i + 1] : 0u);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    unsigned short net = static_cast<unsigned short>(~sum & 0xFFFF);
    return static_cast<unsigned short>((net >> 8) | (net << 8));
}

}  // namespace

TEST(Checksum, Table)
{
    struct Case {
        std::string bytes;
        unsigned short want;
    };
    const Case cases[] = {
        {"abc", 0x9D3B},
        {"", 0xFFFF},
        {"a", static_cast<unsigned short>(~0x61 & 0xFFFF)},
        {std::string("\xFF\xFF", 2), 0x0000},
        {std::string("\x02\x00\xFF\xFF", 4), 0xFFFD},  // end-around carry
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.want, Checksum(c.bytes)) << '"' << c.bytes << '"';
    EXPECT_EQ(0xFFFF, CV_IOUtils::cal_chksum(nullptr, 0));
    unsigned short word = 0x1234;
    EXPECT_EQ(0xFFFF, CV_IOUtils::cal_chksum(&word, -5));
}

TEST(Checksum, AnyAlignmentAndLargeInputs)
{
    // Odd start addresses and inputs far beyond what a 32-bit sum holds.
    for (size_t size : {size_t(1), size_t(7), size_t(1000), size_t(65537), size_t(300001)}) {
        std::vector<unsigned char> storage(size + 1);
        for (size_t i = 0; i < size; ++i)
            storage[i + 1] = static_cast<unsigned char>(0xFF - (i % 3));
        std::vector<unsigned char> bytes(storage.begin() + 1, storage.end());
        unsigned short* unaligned = reinterpret_cast<unsigned short*>(storage.data() + 1);
        EXPECT_EQ(ReferenceChecksum(bytes), CV_IOUtils::cal_chksum(unaligned, static_cast<int>(size))) << size;
    }
}

TEST(HexText, BufToHex)
{
    char data[] = {'\x00', '\xAB', '\xFF'};
    char out[8];
    memset(out, 'z', sizeof(out));
    EXPECT_EQ(0, CV_IOUtils::Buf2HexStr(data, 3, out, 7));
    EXPECT_STREQ("00abff", out);

    memset(out, 'z', sizeof(out));
    EXPECT_EQ(-1, CV_IOUtils::Buf2HexStr(data, 3, out, 6));
    EXPECT_EQ('z', out[0]);
    EXPECT_EQ(0, CV_IOUtils::Buf2HexStr(data, 0, out, 1));
    EXPECT_EQ('z', out[0]);
    EXPECT_EQ(-1, CV_IOUtils::Buf2HexStr(data, 0, out, 0));

    // 2 x 2^31 is 0 in 32 bits; it must still count as too long.
    EXPECT_EQ(-1, CV_IOUtils::Buf2HexStr(data, 0x80000000u, out, sizeof(out)));
    EXPECT_EQ(-1, CV_IOUtils::Buf2HexStr(data, 0x80000001u, out, sizeof(out)));
    EXPECT_EQ('z', out[0]);
}

TEST(HexText, PairValues)
{
    struct Case {
        const char* pair;
        int value;
        const char* after;
    };
    const Case cases[] = {
        {"1f", 31, "1F"},
        {"00", 0, "00"},
        {"FF", 255, "FF"},
        {"aB", 171, "AB"},
        // A character that is no hex digit counts as 0.
        {"zz", 0, "ZZ"},
        {"1g", 16, "1G"},
        {"g1", 1, "G1"},
        {"-1", 1, "-1"},
        {"7", 112, "7"},
        {"", 0, ""},
    };
    for (const Case& c : cases) {
        char pair[3] = {0, 0, 0};
        strncpy(pair, c.pair, 2);
        EXPECT_EQ(c.value, CV_IOUtils::Hex2Int(pair)) << c.pair;
        EXPECT_STREQ(c.after, pair) << c.pair;
    }
}

TEST(HexText, HexToBuf)
{
    const char text[] = "00abFF1";
    char out[4] = {'z', 'z', 'z', 'z'};
    unsigned size = 3;
    EXPECT_EQ(0, CV_IOUtils::HexStr2Buf(text, out, size));
    EXPECT_EQ(3u, size);
    EXPECT_EQ(0, memcmp(out, "\x00\xAB\xFF", 3));
    EXPECT_EQ('z', out[3]);
    EXPECT_STREQ("00abFF1", text);

    char small[2] = {'z', 'z'};
    size = 2;
    EXPECT_EQ(-1, CV_IOUtils::HexStr2Buf(text, small, size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ('z', small[0]);

    size = 4;
    EXPECT_EQ(0, CV_IOUtils::HexStr2Buf("", out, size));
    EXPECT_EQ(0u, size);
    size = 4;
    EXPECT_EQ(-1, CV_IOUtils::HexStr2Buf(nullptr, out, size));
    EXPECT_EQ(4u, size);

    // Round trip through both directions.
    char bytes[5] = {'\x10', '\x7F', '\x80', '\x00', '\xC3'};
    char hex[11];
    ASSERT_EQ(0, CV_IOUtils::Buf2HexStr(bytes, 5, hex, sizeof(hex)));
    char back[5];
    size = 5;
    ASSERT_EQ(0, CV_IOUtils::HexStr2Buf(hex, back, size));
    EXPECT_EQ(0, memcmp(bytes, back, 5));
}

TEST(Trim, Table)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"  ab\t", "ab"}, {"   ", ""}, {"", ""}, {"a b", "a b"}, {"\r\n\v\f x \r\n", "x"}, {"x", "x"},
    };
    for (const Case& c : cases) {
        std::string buf = c.in;
        char* got = CV_IOUtils::trim(&buf[0]);
        EXPECT_STREQ(c.out, got) << '"' << c.in << '"';
        EXPECT_GE(got, &buf[0]);
    }
    char text[] = "  ab\t";
    CV_IOUtils::trim(text);
    EXPECT_EQ('\0', text[4]);  // the tab became a terminator in place
    EXPECT_EQ(nullptr, CV_IOUtils::trim(nullptr));
}

TEST(Xor, RepeatedKey)
{
    const std::string original("secret data \x00\xFF!", 15);
    std::string data = original;
    EXPECT_EQ(0, CV_IOUtils::BufXOR(&data[0], static_cast<unsigned>(data.size()), "k3y", nullptr));
    EXPECT_NE(original, data);
    for (size_t i = 0; i < data.size(); ++i)
        EXPECT_EQ(static_cast<char>(original[i] ^ "k3y"[i % 3]), data[i]);
    CV_IOUtils::BufXOR(&data[0], static_cast<unsigned>(data.size()), "k3y", nullptr);
    EXPECT_EQ(original, data);

    std::string out(original.size(), '\0');
    data = original;
    CV_IOUtils::BufXOR(&data[0], static_cast<unsigned>(data.size()), "K", &out[0]);
    EXPECT_EQ(original, data);
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(static_cast<char>(original[i] ^ 'K'), out[i]);

    // Lengths of 2^31 and above do nothing.
    EXPECT_EQ(0, CV_IOUtils::BufXOR(&data[0], 0x80000000u, "k", nullptr));
    EXPECT_EQ(original, data);
}

TEST(Xor, EmptyKeyLeavesDataAsItIs)
{
    const std::string original = "abcdef";
    std::string data = original;
    EXPECT_EQ(0, CV_IOUtils::BufXOR(&data[0], 6, "", nullptr));
    EXPECT_EQ(original, data);
    std::string out(6, 'z');
    EXPECT_EQ(0, CV_IOUtils::BufXOR(&data[0], 6, "", &out[0]));
    EXPECT_EQ(original, out);
    EXPECT_EQ(0, CV_IOUtils::BufXOR(&data[0], 6, nullptr, nullptr));
    EXPECT_EQ(original, data);
}

TEST(Signature, TaggedValue)
{
    struct Case {
        const char* text;
        const char* tag;
        int size;
        const char* want;
    };
    const Case cases[] = {
        {"x<sig>12ab</sig>y", "sig", 16, "12ab"},
        {"x<sig>12ab</sig>y", "sig", 5, "12ab"},
        {"x<sig>12ab</sig>y", "sig", 4, ""},  // does not fit
        {"</sig>12ab<sig>", "sig", 16, ""},   // closing mark first
        {"<sig>12ab", "sig", 16, ""},         // no closing mark
        {"<sig></sig>", "sig", 16, ""},
        {"<a> v </a><a>w</a>", "a", 16, " v "},  // taken byte for byte, first only
        {"<sig>12ab</sig>", "si", 16, ""},
        {"<></></>", "></", 16, ""},  // the two marks overlap
    };
    for (const Case& c : cases) {
        char out[32];
        memset(out, 'z', sizeof(out));
        EXPECT_EQ(out, CV_IOUtils::SplitSignatureStr(c.text, c.tag, out, c.size));
        EXPECT_STREQ(c.want, out) << c.text << " / " << c.tag << " / " << c.size;
        EXPECT_EQ('z', out[c.size]);  // nothing beyond size is written
    }
}

TEST(Signature, NoRoomLeavesOutUntouched)
{
    for (int size : {0, -1, -100}) {
        char out[8] = "keepme";
        EXPECT_EQ(out, CV_IOUtils::SplitSignatureStr("<s>v</s>", "s", out, size));
        EXPECT_STREQ("keepme", out) << size;
    }
    char out[8];
    memset(out, 'z', sizeof(out));
    CV_IOUtils::SplitSignatureStr(nullptr, "s", out, 8);
    EXPECT_EQ(std::string(8, '\0'), std::string(out, 8));
}

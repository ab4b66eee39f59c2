// AES-ECB functions, checked against the openssl command-line tool.
#include "util/aes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/test_support.h"

namespace {

using qgtest::Hex;

using Bytes = std::vector<unsigned char>;

Bytes Pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return b;
}

Bytes ZeroFill(Bytes b)
{
    b.resize((b.size() + 15) / 16 * 16, 0);
    return b;
}

// The key bytes a key text stands for: 32 zeroed bytes, at most 31 copied.
Bytes KeyOf(const std::string& text, int bits)
{
    Bytes k(32, 0);
    for (size_t i = 0; i < text.size() && i < 31; ++i)
        k[i] = static_cast<unsigned char>(text[i]);
    k.resize(bits / 8);
    return k;
}

class AesTest : public ::testing::Test
{
protected:
    // The openssl tool's AES-ECB (no padding) of data under the key bytes.
    Bytes Tool(int bits, const Bytes& key, const Bytes& data, bool decrypt)
    {
        const std::string in = dir_ + "/in", out = dir_ + "/out";
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
        const std::string cmd = "openssl enc -aes-" + std::to_string(bits) + "-ecb -nopad" + (decrypt ? " -d" : "") +
                                " -K " + Hex(key) + " -in '" + in + "' -out '" + out + "' 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::ifstream f(out, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }

    qgtest::TempDir tmp_{"qg_aes_"};
    const std::string dir_ = tmp_.path();
};

Bytes Encrypt(const std::string& key, int bits, const Bytes& in)
{
    Bytes out(in.size() + 16, 0xEE);
    int n = static_cast<int>(out.size());
    EXPECT_EQ(CV_AESHelper::AesEncrypt(reinterpret_cast<const unsigned char*>(key.c_str()), bits, in.data(),
                                       static_cast<int>(in.size()), out.data(), n),
              0);
    out.resize(n);
    return out;
}

Bytes Decrypt(const std::string& key, int bits, const Bytes& in)
{
    Bytes out(in.size() + 1, 0xEE);
    int n = static_cast<int>(out.size());
    EXPECT_EQ(CV_AESHelper::AesDecrypt(reinterpret_cast<const unsigned char*>(key.c_str()), bits, in.data(),
                                       static_cast<int>(in.size()), out.data(), n),
              0);
    out.resize(n);
    return out;
}

const unsigned char kKey[] = "secret";

}  // namespace

TEST_F(AesTest, MatchesOpensslToolForEveryKeySizeAndKeyText)
{
    const std::string key40 = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    const struct {
        int bits;
        std::string key;
        size_t len;
    } cases[] = {
        {128, "abcde", 0}, {128, "abcde", 1},  {128, "abcde", 16}, {128, "abcde", 17},   {128, key40, 1000},
        {192, "k", 33},    {192, key40, 4101}, {256, key40, 48},   {256, "short", 4095}, {128, "", 31},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, key '" + c.key + "', " + std::to_string(c.len) + " bytes");
        const Bytes plain = Pattern(c.len, static_cast<unsigned>(c.len));
        const Bytes key = KeyOf(c.key, c.bits);
        const Bytes ours = Encrypt(c.key, c.bits, plain);
        EXPECT_EQ(ours.size(), ZeroFill(plain).size());
        EXPECT_EQ(ours, Tool(c.bits, key, ZeroFill(plain), false));
        EXPECT_EQ(Decrypt(c.key, c.bits, Tool(c.bits, key, ZeroFill(plain), false)), ZeroFill(plain));
    }
}

TEST_F(AesTest, EncryptInPlace)
{
    Bytes buf = Pattern(40, 3);
    buf.resize(56);
    const Bytes expect = Tool(128, KeyOf("secret", 128), ZeroFill(Bytes(buf.begin(), buf.begin() + 40)), false);
    int n = static_cast<int>(buf.size());
    ASSERT_EQ(CV_AESHelper::AesEncrypt(kKey, 128, buf.data(), 40, buf.data(), n), 0);
    ASSERT_EQ(n, 48);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 48), expect);
}

TEST(AesRoom, EncryptNeedsLengthPlusSixteen)
{
    const struct {
        int len, room, rc, outLen;
    } cases[] = {
        {0, 16, 0, 0}, {0, 15, -1, 15}, {16, 32, 0, 16}, {16, 31, -1, 31}, {17, 33, 0, 32}, {17, 32, -1, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.len) + " bytes, room " + std::to_string(c.room));
        Bytes in = Pattern(c.len, 1), out(64, 0xEE);
        int n = c.room;
        EXPECT_EQ(CV_AESHelper::AesEncrypt(kKey, 128, in.data(), c.len, out.data(), n), c.rc);
        EXPECT_EQ(n, c.outLen);
        if (c.rc != 0 || c.len == 0) {
            EXPECT_EQ(out, Bytes(64, 0xEE)) << "nothing written";
        }
    }
}

TEST(AesRoom, SeventeenBytesRestoreWithZeroFill)
{
    const Bytes plain = Pattern(17, 9);
    const Bytes back = Decrypt("secret", 128, Encrypt("secret", 128, plain));
    ASSERT_EQ(back.size(), 32u);
    EXPECT_EQ(back, ZeroFill(plain));
}

TEST(AesRefusal, BadArgumentsWriteNothing)
{
    Bytes in(64, 1), out(64, 0xEE);
    const struct {
        const char* what;
        bool encrypt;
        const unsigned char* key;
        int bits, len, room;
    } cases[] = {
        {"decrypt 20 bytes", false, kKey, 128, 20, 64},
        {"decrypt more than room", false, kKey, 128, 48, 32},
        {"key size 100", true, kKey, 100, 16, 64},
        {"key size 64", false, kKey, 64, 16, 64},
        {"null key encrypt", true, nullptr, 128, 16, 64},
        {"null key decrypt", false, nullptr, 128, 16, 64},
        {"negative length encrypt", true, kKey, 128, -1, 64},
        {"negative length decrypt", false, kKey, 128, -16, 64},
        // length + 15 overflows int: refused, not a write past the room
        {"encrypt INT_MAX", true, kKey, 128, INT_MAX, INT_MAX},
        {"encrypt INT_MAX-10", true, kKey, 128, INT_MAX - 10, INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int n = c.room;
        const int rc = c.encrypt ? CV_AESHelper::AesEncrypt(c.key, c.bits, in.data(), c.len, out.data(), n)
                                 : CV_AESHelper::AesDecrypt(c.key, c.bits, in.data(), c.len, out.data(), n);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(n, c.room);
        EXPECT_EQ(out, Bytes(64, 0xEE));
    }
}

TEST(AesBuf, KeySizeCodes)
{
    const Bytes plain = Pattern(21, 5);
    const std::string key = "0123456789abcdefghijklmnopqrstuvwxyz";
    const struct {
        int code, bits;
    } cases[] = {{0, 128}, {1, 128}, {3, 128}, {-1, 128}, {2, 192}, {4, 256}, {8, 128}};
    for (const auto& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        Bytes out(64, 0);
        unsigned n = 64;
        ASSERT_EQ(AesEncryptBuf(key.c_str(), plain.data(), 21, out.data(), &n, c.code), 0);
        out.resize(n);
        EXPECT_EQ(out, Encrypt(key, c.bits, plain));

        Bytes back(64, 0);
        unsigned m = 64;
        ASSERT_EQ(AesDecryptBuf(key.c_str(), out.data(), n, back.data(), &m, c.code), 0);
        back.resize(m);
        EXPECT_EQ(back, ZeroFill(plain));
    }
}

TEST(AesBuf, UnsignedSizesBeyondInt)
{
    Bytes in = Pattern(16, 2), out(32, 0xEE);
    unsigned n = 4000000000u;  // more room than an int holds: still enough
    ASSERT_EQ(AesEncryptBuf("k", in.data(), 16, out.data(), &n, 0), 0);
    EXPECT_EQ(n, 16u);

    n = 32;
    EXPECT_EQ(AesEncryptBuf("k", in.data(), 0x80000000u, out.data(), &n, 0), -1);
    EXPECT_EQ(n, 32u);
    EXPECT_EQ(AesDecryptBuf("k", in.data(), 0x80000000u, out.data(), &n, 0), -1);
    EXPECT_EQ(n, 32u);
}

TEST_F(AesTest, HexTextIsCutToTheRoom)
{
    const Bytes plain = Pattern(5, 4);
    const std::string full = Hex(Tool(128, KeyOf("secret", 128), ZeroFill(plain), false));
    ASSERT_EQ(full.size(), 32u);
    const struct {
        unsigned room;
        std::string text;
    } cases[] = {
        {64, full},
        {33, full},
        {32, full.substr(0, 31)},
        {10, full.substr(0, 9)},
        {9, full.substr(0, 8)},
        {2, full.substr(0, 1)},
        {1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("room " + std::to_string(c.room));
        std::string out(80, 'X');
        unsigned n = c.room;
        ASSERT_EQ(AesEncryptToHex("secret", plain.data(), 5, &out[0], &n, 0), 0);
        EXPECT_EQ(n, 32u);
        EXPECT_EQ(std::string(out.c_str()), c.text);
        EXPECT_EQ(out[c.room], 'X') << "no write past the room";
    }
    std::string untouched(8, 'X');
    unsigned n = 0;
    ASSERT_EQ(AesEncryptToHex("secret", plain.data(), 5, &untouched[0], &n, 0), 0);
    EXPECT_EQ(n, 32u);
    EXPECT_EQ(untouched, std::string(8, 'X'));
}

TEST_F(AesTest, FromHexReadsEitherCase)
{
    const Bytes plain = Pattern(20, 6);
    const Bytes cipher = Tool(128, KeyOf("secret", 128), ZeroFill(plain), false);
    std::string upper = Hex(cipher);
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string texts[] = {Hex(cipher), upper, Hex(cipher) + "7"};  // odd last digit ignored
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        Bytes out(40, 0xEE);
        unsigned n = 40;
        ASSERT_EQ(AesDecryptFromHex("secret", text.c_str(), out.data(), &n, 0), 0);
        out.resize(n);
        EXPECT_EQ(out, ZeroFill(plain));
    }
}

TEST(AesFromHex, RefusedDecryptionReportsFailure)
{
    const std::string hex32(64, 'a');
    const struct {
        const char* what;
        const char* key;
        std::string hex;
        unsigned room;
    } cases[] = {
        {"30 digits", "k", std::string(30, 'a'), 40},
        {"less room than the bytes", "k", hex32, 31},
        {"null key", nullptr, hex32, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out(40, 0xEE);
        unsigned n = c.room;
        EXPECT_EQ(AesDecryptFromHex(c.key, c.hex.c_str(), out.data(), &n, 0), -1);
        EXPECT_EQ(n, c.room);
        EXPECT_EQ(out, Bytes(40, 0xEE));
    }
    unsigned n = 8;
    EXPECT_EQ(AesDecryptFromHex("k", nullptr, nullptr, &n, 0), -1);
    EXPECT_EQ(n, 8u);
}

TEST(AesFromHex, EmptyTextGivesNoBytes)
{
    unsigned n = 8;
    unsigned char out[8];
    EXPECT_EQ(AesDecryptFromHex("k", "", out, &n, 0), 0);
    EXPECT_EQ(n, 0u);
}

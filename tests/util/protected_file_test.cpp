// Protected files in a temporary folder; heads and bodies are checked with
// the openssl command-line tool.
#include "util/protected_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <json/json.h>

#include "tests/support/test_support.h"

namespace {

using qgtest::Hex;

using Bytes = std::vector<unsigned char>;

const char kTable[] = "3f9d2c7a18e04b65c1a7f3092de8b4569a0c7e1f5d3b2a8c4e6f0917d2b5a3c8";
const char kHeadKeyHex[] = "37653361396330316434663235623836";  // the text 7e3a9c01d4f25b86
const unsigned kMagic = 1179474513;

// The AES-128 key bytes of a password: its first 16 bytes, zero padded.
std::string KeyHex(const std::string& password)
{
    std::string k = password.substr(0, 16);
    k.resize(16, '\0');
    return Hex(k);
}

Bytes Pattern(size_t n)
{
    Bytes b(n);
    unsigned x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        b[i] = static_cast<unsigned char>(x >> 16);
    }
    return b;
}

// RFC 1071 checksum of the bytes read as little-endian words.
unsigned Checksum(const std::string& s)
{
    unsigned long sum = 0;
    for (size_t i = 0; i < s.size(); i += 2)
        sum += static_cast<unsigned char>(s[i]) | (i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) << 8 : 0);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return ~sum & 0xFFFF;
}

class ProtectedFileTest : public ::testing::Test
{
protected:
    std::string P(const std::string& name) const { return dir_ + "/" + name; }

    static void Write(const std::string& path, const Bytes& b)
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    }
    static Bytes Read(const std::string& path)
    {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    // Names in the folder, sorted.
    std::vector<std::string> List(const std::string& dir) const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // openssl enc -aes-128-ecb -nopad -d of data under the key bytes.
    Bytes ToolDecrypt(const std::string& keyHex, const Bytes& data)
    {
        const std::string in = dir_ + "/.tool_in", out = dir_ + "/.tool_out";
        Write(in, data);
        const std::string cmd =
            "openssl enc -aes-128-ecb -nopad -d -K " + keyHex + " -in '" + in + "' -out '" + out + "' 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        Bytes b = Read(out);
        unlink(in.c_str());
        unlink(out.c_str());
        return b;
    }

    // The head text of a protected file, read with the openssl tool.
    std::string ToolHeadText(const Bytes& file)
    {
        Bytes head = ToolDecrypt(kHeadKeyHex, Bytes(file.begin(), file.begin() + 2048));
        std::string text;
        for (size_t i = 0; i < head.size(); ++i)
            text += static_cast<char>(head[i] ^ kTable[i & 63]);
        return text.substr(0, text.find('}') + 1);
    }

    // Runs f in a child process whose files may not grow beyond limit bytes.
    static int RunWithFileLimit(rlim_t limit, const std::function<int()>& f)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit r{limit, limit};
            setrlimit(RLIMIT_FSIZE, &r);
            _exit(f() & 0xFF);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? static_cast<signed char>(WEXITSTATUS(status)) : 1000;
    }

    qgtest::TempDir tmp_{"qg_pf_"};
    const std::string dir_ = tmp_.path();
};

size_t Round16(size_t n)
{
    return (n + 15) / 16 * 16;
}

}  // namespace

TEST_F(ProtectedFileTest, SizesRoundTripAndMatchTheOpensslTool)
{
    const std::string password = "abc";
    for (size_t size : {size_t(0), size_t(1000), size_t(1048576), size_t(1048577)}) {
        SCOPED_TRACE(std::to_string(size) + " bytes");
        const Bytes plain = Pattern(size);
        Write(P("plain"), plain);
        const time_t before = time(nullptr);
        ASSERT_EQ(CFileGlobalFunc::FileAesEncDec(password.c_str(), 1, P("plain").c_str(), P("sealed").c_str(), 1), 0);
        EXPECT_EQ(Read(P("plain")), plain) << "the source stays as it was";

        const Bytes sealed = Read(P("sealed"));
        ASSERT_EQ(sealed.size(), 2048 + Round16(size));

        // Body: AES-128-ECB under the password, last block zero filled.
        Bytes body = ToolDecrypt(KeyHex(password), Bytes(sealed.begin() + 2048, sealed.end()));
        Bytes filled = plain;
        filled.resize(Round16(size), 0);
        EXPECT_TRUE(body == filled);

        // Head: compact record, enciphered after the XOR table; zero behind it.
        const std::string text = ToolHeadText(sealed);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m,
                                     std::regex("\\{\"algorithm\":1,\"filelength\":" + std::to_string(size) +
                                                ",\"filemd5\":\"\",\"filevalue\":\"[0-9a-f]{32}\",\"flags\":1179474513,"
                                                "\"keycode\":40251,\"keylength\":3,\"timestamp\":([0-9]+),"
                                                "\"version\":65538\\}")))
            << text;
        EXPECT_GE(std::stol(m[1]), before);
        const size_t end = Round16(text.size());
        EXPECT_TRUE(std::all_of(sealed.begin() + end, sealed.begin() + 2048, [](unsigned char c) { return c == 0; }))
            << "the head carries nothing but its record";
        EXPECT_EQ(CFileGlobalFunc::IsEncFile(P("sealed").c_str(), 1), 1);

        // Restore in place: exactly the plain bytes again.
        ASSERT_EQ(CFileGlobalFunc::FileAesEncDec(password.c_str(), 0, P("sealed").c_str(), nullptr, 1), 0);
        EXPECT_TRUE(Read(P("sealed")) == plain);
        EXPECT_EQ(List(dir_), (std::vector<std::string>{"plain", "sealed"}));
    }
}

TEST_F(ProtectedFileTest, InPlaceAndTargetSpellings)
{
    const Bytes plain = Pattern(5000);
    const struct {
        const char* what;
        std::string target;
    } cases[] = {
        {"null target", ""},
        {"empty target", ""},
        {"target equal to source", P("f")},
        {"source under another spelling", dir_ + "/./f"},
    };
    bool first = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(P("f"), plain);
        chmod(P("f").c_str(), 0640);
        const char* target = first ? nullptr : c.target.c_str();
        first = false;
        ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 1, P("f").c_str(), target, 1), 0);
        EXPECT_EQ(CFileGlobalFunc::IsEncFile(P("f").c_str(), 1), 1);
        EXPECT_EQ(Read(P("f")).size(), 2048 + Round16(plain.size()));
        ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 0, P("f").c_str(), target, 1), 0);
        EXPECT_TRUE(Read(P("f")) == plain);
        EXPECT_EQ(List(dir_), std::vector<std::string>{"f"}) << "no temporary file left";
        struct stat st;
        ASSERT_EQ(stat(P("f").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u) << "in place keeps the permissions";
    }
}

TEST_F(ProtectedFileTest, TargetInMissingFolderIsCreated)
{
    const Bytes plain = Pattern(3000);
    Write(P("f"), plain);
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 1, P("f").c_str(), P("a/b/sealed").c_str(), 1), 0);
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 0, P("a/b/sealed").c_str(), P("c/plain").c_str(), 1), 0);
    EXPECT_TRUE(Read(P("c/plain")) == plain);
    EXPECT_TRUE(Read(P("f")) == plain);
}

TEST_F(ProtectedFileTest, RefusalsChangeNoFile)
{
    const Bytes plain = Pattern(4096);
    const Bytes oldTarget = Pattern(77);
    Write(P("plain"), plain);
    Write(P("short"), Pattern(2047));
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("secret", 1, P("plain").c_str(), P("sealed").c_str(), 1), 0);
    const Bytes sealed = Read(P("sealed"));
    Bytes cutOff = sealed;
    cutOff.resize(cutOff.size() - 5);
    Write(P("cutoff"), cutOff);
    mkdir(P("folder").c_str(), 0700);
    const std::string longTarget = P(std::string(300, 't'));

    const struct {
        const char* what;
        const char* password;
        long protect;
        std::string src;
        std::string target;  // empty: in place
        int rc;
    } cases[] = {
        {"missing source", "secret", 1, P("missing"), "", 710},
        {"missing source, unprotect", "secret", 0, P("missing"), P("target"), 710},
        {"null password", nullptr, 1, P("plain"), "", -1},
        {"empty password", "", 0, P("sealed"), P("target"), -1},
        {"already protected, in place", "secret", 1, P("sealed"), "", 59},
        {"already protected, with target", "secret", 1, P("sealed"), P("target"), 59},
        {"not protected", "secret", 0, P("plain"), P("target"), 60},
        {"not protected, in place", "secret", 0, P("plain"), "", 60},
        {"shorter than a head", "secret", 0, P("short"), P("target"), -1},
        {"password of another length", "secret!", 0, P("sealed"), P("target"), 61},
        {"password of the same length", "secreT", 0, P("sealed"), "", 61},
        {"body not whole blocks", "secret", 0, P("cutoff"), P("target"), -1},
        {"body not whole blocks, in place", "secret", 0, P("cutoff"), "", -1},
        {"source is a folder", "secret", 1, P("folder"), P("target"), -1},
        {"target name over 255 bytes", "secret", 1, P("plain"), longTarget, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Write(P("target"), oldTarget);
        const auto before = List(dir_);
        EXPECT_EQ(CFileGlobalFunc::FileAesEncDec(c.password, c.protect, c.src.c_str(),
                                                 c.target.empty() ? nullptr : c.target.c_str(), 1),
                  c.rc);
        EXPECT_EQ(List(dir_), before);
        EXPECT_EQ(Read(P("target")), oldTarget) << "an existing target stays intact";
        EXPECT_TRUE(Read(P("plain")) == plain);
        EXPECT_TRUE(Read(P("sealed")) == sealed);
        EXPECT_TRUE(Read(P("cutoff")) == cutOff);
    }
}

TEST_F(ProtectedFileTest, FailedWriteLeavesNothingHalfWritten)
{
    const Bytes plain = Pattern(3 * 1048576);
    Write(P("f"), plain);
    const std::string f = P("f"), t = P("t");
    const int limit = 1048576;  // the output cannot grow past 1 MiB
    EXPECT_EQ(RunWithFileLimit(limit, [&] { return CFileGlobalFunc::FileAesEncDec("pw", 1, f.c_str(), nullptr, 1); }),
              -1);
    EXPECT_TRUE(Read(f) == plain) << "a failed in-place run leaves the source as it was";
    EXPECT_EQ(List(dir_), std::vector<std::string>{"f"}) << "the temporary file is removed";

    EXPECT_EQ(RunWithFileLimit(limit, [&] { return CFileGlobalFunc::FileAesEncDec("pw", 1, f.c_str(), t.c_str(), 1); }),
              -1);
    EXPECT_EQ(List(dir_), std::vector<std::string>{"f"}) << "no partial target";

    // Restoring fails the same way and keeps the protected file.
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 1, f.c_str(), nullptr, 1), 0);
    const Bytes sealed = Read(f);
    EXPECT_EQ(RunWithFileLimit(limit, [&] { return CFileGlobalFunc::FileAesEncDec("pw", 0, f.c_str(), nullptr, 1); }),
              -1);
    EXPECT_TRUE(Read(f) == sealed);
    EXPECT_EQ(List(dir_), std::vector<std::string>{"f"});
}

TEST_F(ProtectedFileTest, InPlaceTemporaryNameMustFit)
{
    // A folder part of 230 bytes: the source name fits, the 36-character
    // temporary name beside it does not.
    std::string deep = dir_;
    while (deep.size() < 229) {
        deep += "/" + std::string(std::min<size_t>(60, 228 - deep.size()), 'd');
        mkdir(deep.c_str(), 0700);
    }
    ASSERT_EQ(deep.size(), 229u);
    const std::string src = deep + "/f";
    const Bytes plain = Pattern(100);
    Write(src, plain);
    EXPECT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 1, src.c_str(), nullptr, 1), -1);
    EXPECT_TRUE(Read(src) == plain);
    EXPECT_EQ(List(deep), std::vector<std::string>{"f"});
    // Into a target it works.
    EXPECT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 1, src.c_str(), P("t").c_str(), 1), 0);
}

TEST_F(ProtectedFileTest, VerifyAndIsEncFile)
{
    const std::string long300(300, 'p');
    Write(P("plain"), Pattern(4096));
    Write(P("short"), Pattern(100));
    Write(P("sealed"), Pattern(100));
    Write(P("sealed300"), Pattern(100));
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("secret", 1, P("sealed").c_str(), nullptr, 1), 0);
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec(long300.c_str(), 1, P("sealed300").c_str(), nullptr, 1), 0);

    const std::string p255(255, 'p');
    const std::string sameSum = std::string("secret") + "\xff\xff";  // adding the word 0xFFFF keeps the checksum
    ASSERT_EQ(Checksum(sameSum), Checksum("secret"));
    const struct {
        std::string file;
        const char* password;
        int verify;
        int isEnc;
    } cases[] = {
        {"sealed", "secret", 0, 1},
        {"sealed", "secreT", 61, 1},
        {"sealed", "secret!", 61, 1},
        {"sealed", sameSum.c_str(), 61, 1},  // same checksum, other length: restoring would refuse it
        {"sealed", "", -1, 1},
        {"sealed", nullptr, -1, 1},
        {"sealed300", long300.c_str(), 0, 1},  // cut to 255 as protecting does
        {"sealed300", p255.c_str(), 0, 1},
        {"plain", "secret", 60, 0},
        {"short", "secret", -1, 0},
        {"missing", "secret", -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " / " + (c.password ? std::string(c.password).substr(0, 10) : "null"));
        EXPECT_EQ(CFileGlobalFunc::VerifyFileEncPass(P(c.file).c_str(), c.password, 1), c.verify);
        EXPECT_EQ(CFileGlobalFunc::IsEncFile(P(c.file).c_str(), 1), c.isEnc);
    }
    // Restoring also compares the length.
    EXPECT_EQ(CFileGlobalFunc::FileAesEncDec(sameSum.c_str(), 0, P("sealed").c_str(), P("t").c_str(), 1), 61);

    // The 300-character password restores; its head records 255 characters.
    const std::string text = ToolHeadText(Read(P("sealed300")));
    EXPECT_NE(text.find("\"keylength\":255,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"keycode\":" + std::to_string(Checksum(std::string(255, 'p'))) + ","), std::string::npos);
    EXPECT_EQ(CFileGlobalFunc::FileAesEncDec(long300.c_str(), 0, P("sealed300").c_str(), nullptr, 1), 0);
    EXPECT_TRUE(Read(P("sealed300")) == Pattern(100));
}

TEST_F(ProtectedFileTest, PasswordsSharingSixteenCharactersKeyTheBodyAlike)
{
    Write(P("f"), Pattern(40000));
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("0123456789abcdefX", 1, P("f").c_str(), P("x").c_str(), 1), 0);
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("0123456789abcdefYZ", 1, P("f").c_str(), P("y").c_str(), 1), 0);
    const Bytes x = Read(P("x")), y = Read(P("y"));
    EXPECT_TRUE(Bytes(x.begin() + 2048, x.end()) == Bytes(y.begin() + 2048, y.end()));
    EXPECT_EQ(CFileGlobalFunc::FileAesEncDec("0123456789abcdefYZ", 0, P("x").c_str(), nullptr, 1), 61);
}

TEST_F(ProtectedFileTest, HeadReadingIsBoundedByTheTextSize)
{
    Write(P("f"), Pattern(10));
    ASSERT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 1, P("f").c_str(), nullptr, 1), 0);
    char text[32];
    std::fill(std::begin(text), std::end(text), '#');
    ASSERT_EQ(CFileGlobalFunc::ParseEncFileHead(P("f").c_str(), text, 10), 0);
    EXPECT_STREQ(text, "{\"algorit");
    EXPECT_EQ(text[10], '#');

    char full[2049] = {0};
    ASSERT_EQ(CFileGlobalFunc::ParseEncFileHead(P("f").c_str(), full, sizeof full), 0);
    EXPECT_EQ(std::string(full).rfind("{\"algorithm\":1,\"filelength\":10,", 0), 0u);
    Json::Value root;
    Json::Reader().parse(full, root);
    EXPECT_EQ(root["flags"].asUInt(), kMagic);

    Write(P("short"), Pattern(2047));
    EXPECT_EQ(CFileGlobalFunc::ParseEncFileHead(P("short").c_str(), full, sizeof full), -1);
    EXPECT_EQ(CFileGlobalFunc::ParseEncFileHead(P("missing").c_str(), full, sizeof full), -1);
}

TEST_F(ProtectedFileTest, BuildEncFileHeadLeavesTheRestOfTheBuffer)
{
    Write(P("f"), Pattern(1234));
    std::vector<char> head(2048, '#');
    CFileGlobalFunc::BuildEncFileHead(P("f").c_str(), "pw", head.data(), 2048, 1);
    Bytes file(head.begin(), head.end());
    const std::string text = ToolHeadText(file);
    EXPECT_NE(text.find("\"filelength\":1234,"), std::string::npos) << text;
    const size_t end = Round16(text.size());
    EXPECT_TRUE(std::all_of(head.begin() + end, head.end(), [](char c) { return c == '#'; }));

    // Too little room for the record: the buffer is left as it was.
    std::vector<char> small(64, '#');
    CFileGlobalFunc::BuildEncFileHead(P("f").c_str(), "pw", small.data(), 64, 1);
    EXPECT_EQ(small, std::vector<char>(64, '#'));
}

TEST_F(ProtectedFileTest, ControlText)
{
    const Bytes plain = Pattern(2500);
    Write(P("f"), plain);
    const std::string f = P("f");
    const struct {
        std::string json;
        int rc;
        int isEnc;
    } cases[] = {
        {"{\"enckey\":\"pw\",\"filename\":\"" + f + "\",\"flags\":\"1\"}", 0, 1},
        {"{\"enckey\":\"pw\",\"filename\":\"" + f + "\",\"flags\":3}", 59, 1},
        {"{\"enckey\":\"pw\",\"filename\":\"" + f + "\",\"flags\":2}", 0, 0},  // bit 0 clear: restore
        {"{\"enckey\":\"pw\",\"filename\":\"" + f + "\",\"flags\":1,\"targetfile\":\"" + P("n/t") + "\"}", 0, 0},
        {"{\"enckey\":\"\",\"filename\":\"" + f + "\",\"flags\":1}", -1, 0},
        {"", 710, 0},
        {"not json", 710, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        std::string text = c.json;
        EXPECT_EQ(CFileGlobalFunc::FileEncDecCtrl(&text[0]), c.rc);
        EXPECT_EQ(CFileGlobalFunc::IsEncFile(f.c_str(), 1), c.isEnc);
    }
    EXPECT_TRUE(Read(f) == plain);
    EXPECT_EQ(CFileGlobalFunc::IsEncFile(P("n/t").c_str(), 1), 1);
    EXPECT_EQ(CFileGlobalFunc::FileEncDecCtrl(nullptr), 710);
}

TEST_F(ProtectedFileTest, ControlTextNamesAreGb2312)
{
    // The file on disk is named in UTF-8; the control text names it in GB2312.
    const std::string utf8 = P("\xE4\xBD\xA0\xE5\xA5\xBD"), gb = P("\xC4\xE3\xBA\xC3");
    Write(utf8, Pattern(3000));
    std::string text = "{\"enckey\":\"pw\",\"filename\":\"" + gb + "\",\"flags\":1}";
    EXPECT_EQ(CFileGlobalFunc::FileEncDecCtrl(&text[0]), 0);
    EXPECT_EQ(CFileGlobalFunc::IsEncFile(utf8.c_str(), 1), 1);
    EXPECT_EQ(CFileGlobalFunc::IsEncFile(gb.c_str(), 0), 1);
    EXPECT_EQ(CFileGlobalFunc::VerifyFileEncPass(gb.c_str(), "pw", 0), 0);
    EXPECT_EQ(CFileGlobalFunc::FileAesEncDec("pw", 0, gb.c_str(), nullptr, 0), 0);
    EXPECT_TRUE(Read(utf8) == Pattern(3000));
}

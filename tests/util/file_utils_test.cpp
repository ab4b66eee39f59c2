#include "util/file_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using qgtest::ReadFile;

// "你好" in GB2312 and in UTF-8.
const char kGbName[] = "\xC4\xE3\xBA\xC3";
const char kUtf8Name[] = "\xE4\xBD\xA0\xE5\xA5\xBD";

bool HasGb2312()
{
    iconv_t cd = iconv_open("UNICODE", "GB2312");
    if (cd == (iconv_t)-1)
        return false;
    iconv_close(cd);
    return true;
}

class FileFuncTest : public ::testing::Test
{
protected:
    std::string At(const std::string& rel) const { return root + "/" + rel; }

    void Write(const std::string& rel, const std::string& bytes) const
    {
        std::ofstream out(At(rel), std::ios::binary);
        out << bytes;
    }

    qgtest::TempDir dir_{"qg_file_"};
    const std::string root = dir_.path();
};

TEST_F(FileFuncTest, ExistenceTellsFilesFromDirectories)
{
    Write("f", "x");
    fs::create_directory(At("d"));
    EXPECT_EQ(CFileGlobalFunc::IsFileExist(At("f").c_str(), 1), 1);
    EXPECT_EQ(CFileGlobalFunc::IsFileExist(At("d").c_str(), 1), 1);  // any kind of entry
    EXPECT_EQ(CFileGlobalFunc::IsFileExist(At("none").c_str(), 1), 0);
    EXPECT_EQ(CFileGlobalFunc::IsDirectoryExist(At("d").c_str(), 1), 1);
    EXPECT_EQ(CFileGlobalFunc::IsDirectoryExist(At("f").c_str(), 1), 0);
    EXPECT_EQ(CFileGlobalFunc::IsDirectoryExist(At("none").c_str(), 0), 0);
}

TEST_F(FileFuncTest, LengthsOfLargeAndMissingFiles)
{
    const int64_t fiveGiB = 5LL << 30;
    int fd = open(At("big").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, fiveGiB), 0);  // sparse: no disk space used
    close(fd);
    EXPECT_EQ(CFileGlobalFunc::GetFileLength(At("big").c_str(), 1), static_cast<uint32_t>(fiveGiB & 0xFFFFFFFF));
    EXPECT_EQ(CFileGlobalFunc::GetFileLength64(At("big").c_str(), 1), fiveGiB);
    EXPECT_EQ(CFileGlobalFunc::GetFileLength(At("none").c_str(), 1), 0u);
    EXPECT_EQ(CFileGlobalFunc::GetFileLength64(At("none").c_str(), 1), 0);
}

TEST_F(FileFuncTest, CreateTruncatesAndRenameReplaces)
{
    Write("a", "hello");
    EXPECT_EQ(CFileGlobalFunc::CreateEmptyFile(At("a").c_str(), 1), 1);
    EXPECT_EQ(CFileGlobalFunc::GetFileLength64(At("a").c_str(), 1), 0);
    EXPECT_EQ(CFileGlobalFunc::CreateEmptyFile(At("no/such/dir").c_str(), 1), 0);

    Write("b", "old");
    Write("c", "new");
    EXPECT_EQ(CFileGlobalFunc::RenameFile(At("c").c_str(), At("b").c_str(), 1), 0);
    EXPECT_EQ(ReadFile(At("b")), "new");
    EXPECT_EQ(CFileGlobalFunc::RenameFile(At("c").c_str(), At("b").c_str(), 1), -1);
    EXPECT_EQ(ReadFile(At("b")), "new");
}

TEST_F(FileFuncTest, RemoveFileWaitsBoundedForAStubbornEntry)
{
    EXPECT_EQ(CFileGlobalFunc::RemoveFile(At("none").c_str(), 100000, 1), 1);  // at once
    Write("f", "x");
    EXPECT_EQ(CFileGlobalFunc::RemoveFile(At("f").c_str(), 0, 1), 1);
    EXPECT_FALSE(fs::exists(At("f")));

    // remove() refuses a directory that is not empty.
    fs::create_directory(At("busy"));
    Write("busy/inner", "x");
    EXPECT_EQ(CFileGlobalFunc::RemoveFile(At("busy").c_str(), 0, 1), 0);
    EXPECT_EQ(CFileGlobalFunc::RemoveFile(At("busy").c_str(), 30, 1), 0);
    EXPECT_TRUE(fs::exists(At("busy")));

    // Once the obstacle goes away during the wait, the retry succeeds.
    std::thread helper([this] {
        usleep(20000);
        fs::remove(At("busy/inner"));
    });
    int result = CFileGlobalFunc::RemoveFile(At("busy").c_str(), 10000, 1);
    helper.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(fs::exists(At("busy")));
}

TEST_F(FileFuncTest, CopyFileCopiesEveryBlock)
{
    std::string bytes(3 * 8192 + 17, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 + 7);
    Write("src", bytes);
    Write("dst", "previous content that is longer than nothing");
    EXPECT_EQ(CFileGlobalFunc::CopyFile(At("src").c_str(), At("dst").c_str(), 1), 1);
    EXPECT_EQ(ReadFile(At("dst")), bytes);

    EXPECT_EQ(CFileGlobalFunc::CopyFile(At("none").c_str(), At("dst2").c_str(), 1), 0);
    EXPECT_FALSE(fs::exists(At("dst2")));
    EXPECT_EQ(CFileGlobalFunc::CopyFile(At("src").c_str(), At("no/dir/dst").c_str(), 1), 0);
}

TEST_F(FileFuncTest, CopyFileReportsAFailedWrite)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    Write("src", std::string(20000, 'q'));
    EXPECT_EQ(CFileGlobalFunc::CopyFile(At("src").c_str(), "/dev/full", 1), 0);
}

TEST_F(FileFuncTest, MakeSureDirectoryCreatesAllButTheLastPart)
{
    struct Case {
        const char* path;
        const char* made;     // deepest directory expected
        const char* notMade;  // not expected to exist, or null
    } cases[] = {
        {"a/b/c", "a/b", "a/b/c"},
        {"x/y/z/", "x/y/z", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(CFileGlobalFunc::MakeSureDirectory(At(c.path).c_str(), 1), 0);
        EXPECT_TRUE(fs::is_directory(At(c.made)));
        if (c.notMade != nullptr) {
            EXPECT_FALSE(fs::exists(At(c.notMade)));
        }
    }

    // No '/' at all: nothing to create.
    fs::path cwd = fs::current_path();
    fs::current_path(root);
    EXPECT_EQ(CFileGlobalFunc::MakeSureDirectory("plain", 1), 0);
    EXPECT_FALSE(fs::exists(At("plain")));
    fs::current_path(cwd);

    // A level blocked by a regular file fails and stops there.
    Write("file", "x");
    EXPECT_EQ(CFileGlobalFunc::MakeSureDirectory(At("file/sub/deeper/").c_str(), 1), -1);
    EXPECT_FALSE(fs::exists(At("file/sub")));
}

TEST_F(FileFuncTest, MakeSureDirectoryGivesNewLevelsTheLastExistingMode)
{
    mode_t old = umask(0);
    fs::create_directory(At("p"));
    chmod(At("p").c_str(), 0751);
    EXPECT_EQ(CFileGlobalFunc::MakeSureDirectory(At("p/q/r/").c_str(), 1), 0);
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(At("p/q/r").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
}

TEST(FileFuncText, FormatDirectoryPath)
{
    struct Case {
        const char* in;
        unsigned size;
        const char* out;
        unsigned result;
    } cases[] = {
        {"C:\\dir", 16, "C:/dir/", 6}, {"C:\\dir", 7, "C:/dir", 6},  // no room for '/' and the NUL
        {"C:\\dir", 8, "C:/dir/", 6},  {"a\\b/", 16, "a/b/", 4},    {"", 16, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        char buf[32] = {0};
        strcpy(buf, c.in);
        EXPECT_EQ(filefunc::FormatDirectoryPath(buf, c.size), c.result);
        EXPECT_STREQ(buf, c.out);
    }
}

TEST(FileFuncText, ParseDateString)
{
    struct Case {
        const char* text;
        int result, year, month, day;
    } cases[] = {
        {"2020-04-08", 1, 2020, 4, 8},  {"2020-4-8", 0, -1, -1, -1},  // not 10 characters
        {"2020-04-08 ", 0, -1, -1, -1}, {"abcd-ef-gh", 0, -1, -1, -1}, {nullptr, 0, -1, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
        int y = -1, m = -1, d = -1;
        EXPECT_EQ(filefunc::ParseDateString(c.text, &y, &m, &d), c.result);
        if (c.result == 1) {
            EXPECT_EQ(y, c.year);
            EXPECT_EQ(m, c.month);
            EXPECT_EQ(d, c.day);
        }
    }
}

TEST(FileFuncText, ReplaceChineseAndSafeStrChr)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"ab\xC4\xE3"
         "c",
         "ab__c"},
        {"ab\xC4", "ab\xC4"},  // a high byte last stays
        {"plain", "plain"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char buf[16] = {0};
        strcpy(buf, c.in);
        ReplaceChineseStrToEnglish(buf, '_');
        EXPECT_STREQ(buf, c.out);
    }
    ReplaceChineseStrToEnglish(nullptr, '_');

    const char* text = "a/b/c";
    EXPECT_EQ(SafeStrChr(text, '/'), text + 1);
    EXPECT_EQ(SafeStrChr(text, 'x'), nullptr);
    EXPECT_EQ(SafeStrChr(text, '\0'), text + 5);
    EXPECT_EQ(SafeStrChr(static_cast<const char*>(nullptr), '/'), nullptr);
}

TEST_F(FileFuncTest, EnumFilesAppendsBareNamesOfRegularFiles)
{
    Write("one", "1");
    Write("two", "2");
    fs::create_directory(At("sub"));
    std::vector<std::string> names = {"kept"};
    EXPECT_EQ(CFileGlobalFunc::EnumFiles(root.c_str(), names), 0);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "kept");
    std::sort(names.begin() + 1, names.end());
    EXPECT_EQ(names[1], "one");
    EXPECT_EQ(names[2], "two");

    // With a trailing '/' the same files are found.
    std::vector<std::string> again;
    EXPECT_EQ(CFileGlobalFunc::EnumFiles((root + "/").c_str(), again), 0);
    EXPECT_EQ(again.size(), 2u);

    std::vector<std::string> untouched = {"x"};
    EXPECT_EQ(CFileGlobalFunc::EnumFiles(At("none").c_str(), untouched), -1);
    EXPECT_EQ(CFileGlobalFunc::EnumFiles(nullptr, untouched), -1);
    EXPECT_EQ(untouched, std::vector<std::string>{"x"});
}

TEST_F(FileFuncTest, EnumFilesFindsEntriesWhosePathIsLongerThanAName)
{
    std::string dir = At(std::string(200, 'd'));
    fs::create_directory(dir);
    std::string file(120, 'f');
    std::ofstream(dir + "/" + file) << "x";
    std::vector<std::string> names;
    EXPECT_EQ(CFileGlobalFunc::EnumFiles(dir.c_str(), names), 0);
    EXPECT_EQ(names, std::vector<std::string>{file});
}

TEST_F(FileFuncTest, DeleteDirectoryRemovesTheTreeAndCountsTopFiles)
{
    fs::create_directories(At("t/a/b"));
    Write("t/f1", "1");
    Write("t/f2", "2");
    Write("t/a/f3", "3");
    Write("t/a/b/f4", "4");
    unsigned count = 0;
    EXPECT_EQ(filefunc::DeleteDirectory(At("t").c_str(), 0, 1, &count), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_FALSE(fs::exists(At("t")));
    EXPECT_EQ(filefunc::DeleteDirectory(At("t").c_str(), 0, 1, nullptr), 1);  // already gone
}

TEST_F(FileFuncTest, DeleteDirectoryRemovesLinksWithoutFollowingThem)
{
    fs::create_directories(At("outside"));
    Write("outside/precious", "keep me");
    fs::create_directories(At("t"));
    fs::create_directory_symlink(At("outside"), At("t/link"));
    fs::create_symlink(At("outside/precious"), At("t/filelink"));
    unsigned count = 0;
    EXPECT_EQ(filefunc::DeleteDirectory(At("t").c_str(), 0, 1, &count), 1);
    EXPECT_EQ(count, 2u);  // both links, removed as files
    EXPECT_FALSE(fs::exists(At("t")));
    EXPECT_EQ(ReadFile(At("outside/precious")), "keep me");
}

TEST_F(FileFuncTest, DeleteDirectoryHandlesLevelsBeyondANameLength)
{
    // Deeper levels exceed the 255 bytes of a converted name.
    std::string rel = "t";
    for (int i = 0; i < 4; ++i) {
        rel += "/" + std::string(100, static_cast<char>('a' + i));
        fs::create_directories(At(rel));
        Write(rel + "/file", "x");
    }
    ASSERT_GT(At(rel).size(), 400u);
    EXPECT_EQ(filefunc::DeleteDirectory(At("t").c_str(), 0, 1, nullptr), 1);
    EXPECT_FALSE(fs::exists(At("t")));
}

TEST_F(FileFuncTest, DeleteDirectorySkipsEntriesWhosePathDoesNotFit)
{
    // A directory whose path is 4094 bytes: "dir/" plus any name exceeds the
    // path buffer; cutting it would name the directory itself again.
    std::string deep = At("t");
    fs::create_directory(deep);
    while (deep.size() + 1 + 200 < 4094) {
        deep += "/" + std::string(200, 'n');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    deep += "/" + std::string(4094 - deep.size() - 1, 'm');
    ASSERT_EQ(deep.size(), 4094u);
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    int dfd = open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dfd, 0);
    int fd = openat(dfd, "x", O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);

    EXPECT_EQ(filefunc::DeleteDirectory(At("t").c_str(), 0, 1, nullptr), 0);
    EXPECT_EQ(faccessat(dfd, "x", F_OK, 0), 0);  // left, not lost
    ASSERT_EQ(unlinkat(dfd, "x", 0), 0);
    close(dfd);
    EXPECT_EQ(filefunc::DeleteDirectory(At("t").c_str(), 0, 1, nullptr), 1);
}

TEST_F(FileFuncTest, DiskSpaceAndChecks)
{
    unsigned long freeBytes = 0, totalBytes = 0;
    EXPECT_EQ(CFileGlobalFunc::GetDiskSpaceInfo(root.c_str(), freeBytes, totalBytes), 1);
    EXPECT_GT(totalBytes, 0u);
    EXPECT_LE(freeBytes, totalBytes);
    // A missing file asks its directory.
    EXPECT_EQ(CFileGlobalFunc::GetDiskSpaceInfo(At("none").c_str(), freeBytes, totalBytes), 1);
    EXPECT_EQ(CFileGlobalFunc::GetDiskSpaceInfo("", freeBytes, totalBytes), 0);
    EXPECT_EQ(CFileGlobalFunc::GetDiskSpaceInfo(nullptr, freeBytes, totalBytes), 0);
    EXPECT_EQ(CFileGlobalFunc::GetDiskSpaceInfo("no-slash-here", freeBytes, totalBytes), 0);

    unsigned removed = 99;
    EXPECT_EQ(filefunc::CheckDiskSpace("", 0, 0, &removed), 21);
    EXPECT_EQ(removed, 0u);
    EXPECT_EQ(filefunc::CheckDiskSpace(At("none").c_str(), 0, 0, &removed), 39);
    EXPECT_EQ(filefunc::CheckDiskSpace(root.c_str(), 0, 1UL << 40, &removed), 0);
    EXPECT_EQ(removed, 0u);
}

TEST_F(FileFuncTest, AdjustDiskProbesAndLeavesNothing)
{
    std::string dir = At("new/logs/");
    EXPECT_EQ(CFileGlobalFunc::AdjustDiskAndCreateDirectory(&dir[0], 0), 1);
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(fs::is_empty(dir));

    Write("file", "x");
    std::string blocked = At("file/sub/");
    EXPECT_EQ(CFileGlobalFunc::AdjustDiskAndCreateDirectory(&blocked[0], 0), 0);
}

TEST_F(FileFuncTest, ModuleLoadability)
{
    Write("notlib.so", "not an ELF file");
    EXPECT_EQ(filefunc::IsModuleLoadable("libc.so.6", 1), 1);
    EXPECT_EQ(filefunc::IsModuleLoadable(At("notlib.so").c_str(), 1), 0);
    EXPECT_EQ(filefunc::IsModuleLoadable(At("none.so").c_str(), 1), 0);
}

TEST(FileFuncName, Utf8NamesAreCopiedAndCut)
{
    char out[8];
    memset(out, 'z', sizeof(out));
    CFileGlobalFunc::ConvertFileNameOSSupport("abcdefghij", 1, out, sizeof(out));
    EXPECT_STREQ(out, "abcdefg");
}

TEST(FileFuncName, ZeroOutSizeWritesNothing)
{
    for (long utf8 : {0L, 1L}) {
        char buf[8];
        memset(buf, 'z', sizeof(buf));
        CFileGlobalFunc::ConvertFileNameOSSupport("abc", utf8, buf + 4, 0);
        EXPECT_EQ(std::string(buf, sizeof(buf)), std::string(8, 'z')) << "nameIsUtf8 " << utf8;
    }
}

TEST(FileFuncName, Gb2312NamesConvertToUtf8)
{
    if (!HasGb2312())
        GTEST_SKIP() << "iconv has no GB2312 module";
    struct Case {
        const char* in;
        unsigned outSize;
        const char* out;  // null: the output is left untouched
    } cases[] = {
        {kGbName, 256, kUtf8Name},
        {"plain.txt", 256, "plain.txt"},
        {kUtf8Name, 256, nullptr},     // UTF-8 text is not valid GB2312
        {kGbName, 5, "\xE4\xBD\xA0"},  // cut at a character boundary
    };
    for (const Case& c : cases) {
        char out[256];
        memset(out, 'z', sizeof(out));
        out[255] = '\0';
        CFileGlobalFunc::ConvertFileNameOSSupport(c.in, 0, out, c.outSize);
        if (c.out == nullptr) {
            EXPECT_EQ(std::string(out), std::string(255, 'z'));
        } else {
            EXPECT_STREQ(out, c.out);
        }
    }
}

TEST_F(FileFuncTest, Gb2312NamesReachTheirFiles)
{
    if (!HasGb2312())
        GTEST_SKIP() << "iconv has no GB2312 module";
    fs::create_directory(At(kUtf8Name));
    std::ofstream(At(kUtf8Name) + "/" + kUtf8Name) << "12345";
    std::string gbDir = At(kGbName);
    std::string gbFile = gbDir + "/" + kGbName;
    EXPECT_EQ(CFileGlobalFunc::IsDirectoryExist(gbDir.c_str(), 0), 1);
    EXPECT_EQ(CFileGlobalFunc::GetFileLength(gbFile.c_str(), 0), 5u);

    // The listing opens the converted directory it tested.
    std::vector<std::string> names;
    EXPECT_EQ(CFileGlobalFunc::EnumFiles(gbDir.c_str(), names), 0);
    EXPECT_EQ(names, std::vector<std::string>{kUtf8Name});

    EXPECT_EQ(CFileGlobalFunc::RemoveFile(gbFile.c_str(), 0, 0), 1);
    EXPECT_FALSE(fs::exists(At(kUtf8Name) + "/" + kUtf8Name));
}

}  // namespace

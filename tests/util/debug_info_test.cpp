#include "util/debug_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using qgtest::ReadFile;

// Opens the log's state to the tests.
class TestLog : public CDebugInfo
{
public:
    using CDebugInfo::cache;
    using CDebugInfo::fileSize;
    using CDebugInfo::lastTime;
    using CDebugInfo::maxFileSize;
    using CDebugInfo::path;
};

_SYSTEMTIME Date(int y, int m, int d)
{
    _SYSTEMTIME t;
    memset(&t, 0, sizeof(t));
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(m);
    t.wDay = static_cast<uint16_t>(d);
    t.wHour = 12;
    return t;
}

_SYSTEMTIME Today()
{
    _SYSTEMTIME t;
    GetLocalTime(&t);
    return t;
}

std::string DateText(const _SYSTEMTIME& t)
{
    char buf[16];
    snprintf(buf, sizeof(buf), "%04d%02d%02d", t.wYear, t.wMonth, t.wDay);
    return buf;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

class LogTest : public ::testing::Test
{
protected:
    void Touch(const std::string& name, size_t bytes = 10) const
    {
        fs::create_directories(fs::path(root + name).parent_path());
        std::ofstream(root + name, std::ios::binary) << std::string(bytes, 'x');
    }

    std::vector<std::string> FilesIn(const std::string& dir) const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(root + dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    qgtest::TempDir dir_{"qg_log_"};
    const std::string root = dir_.path() + "/";
};

TEST(LogLevels, Level2CharTable)
{
    const struct {
        uint32_t level;
        char letter;
    } cases[] = {{1, 'V'}, {2, 'D'}, {3, 'I'}, {4, 'I'}, {7, 'I'}, {8, 'W'}, {15, 'I'}, {16, 'E'}, {0, 'I'}, {17, 'I'}};
    for (const auto& c : cases)
        EXPECT_EQ(CDebugInfo::Level2Char(c.level), c.letter) << "level " << c.level;
}

TEST(LogLevels, ThresholdFiltersConsoleLines)
{
    const std::regex line(R"(\d\d:\d\d:\d\d\(\d{1,3}\)\tx\r\n)");
    struct Case {
        uint32_t minLevel;
        long enabled;
        void (CDebugInfo::*write)(const char*, ...);
        bool printed;
    } cases[] = {
        {4, 1, &CDebugInfo::Info, true},    {4, 1, &CDebugInfo::Debug, false}, {4, 1, &CDebugInfo::Verbose, false},
        {4, 1, &CDebugInfo::Warn, true},    {4, 1, &CDebugInfo::Error, true},  {4, 1, &CDebugInfo::LogDebugInfo, true},
        {1, 1, &CDebugInfo::Verbose, true}, {16, 1, &CDebugInfo::Warn, false}, {4, 0, &CDebugInfo::Error, false},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        CDebugInfo log;
        log.minLevel = c.minLevel;
        log.enabled = c.enabled;
        testing::internal::CaptureStdout();
        (log.*c.write)("%s", "x");
        std::string out = testing::internal::GetCapturedStdout();
        if (c.printed)
            EXPECT_TRUE(std::regex_match(out, line)) << "case " << i << ": " << out;
        else
            EXPECT_EQ(out, "") << "case " << i;
    }
}

TEST(LogLevels, ProcessLogKeepsItsDefaults)
{
    EXPECT_EQ(g_DebugInfo.minLevel, 4u);
    EXPECT_EQ(g_DebugInfo.enabled, 1);
    std::vector<std::string> names;
    EXPECT_EQ(g_DebugInfo.GetLogFileList(2024, 1, 5, names), -1);  // no file
}

TEST(LogLevels, FileMaxStorageClamps)
{
    const struct {
        uint32_t megabytes;
        uint32_t bytes;
    } cases[] = {{0, 10485760},    {5, 10485760},    {9, 10485760},    {10, 10485760},
                 {100, 104857600}, {500, 524288000}, {501, 524288000}, {600, 524288000}};
    for (const auto& c : cases) {
        TestLog log;
        log.SetFileMaxStorage(c.megabytes);
        EXPECT_EQ(log.maxFileSize, c.bytes) << c.megabytes << " MiB";
    }
}

TEST_F(LogTest, FileLineFormatAndLevelLetters)
{
    CDebugInfo log;
    log.minLevel = 0;
    log.SetOutputFile((root + "fixed.log").c_str(), 0);
    testing::internal::CaptureStdout();
    log.Error("hello %d", 5);
    log.LogDebugInfo(3, "three");
    const uint32_t zero = 0;
    log.LogDebugInfo(zero, "zero");
    log.Verbose("%s", std::string(9000, 'L').c_str());
    testing::internal::GetCapturedStdout();

    std::vector<std::string> lines = Lines(ReadFile(root + "fixed.log"));
    ASSERT_EQ(lines.size(), 4u);
    const std::regex head(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\(\d{3}\)\]\[(.)\])");
    const struct {
        char letter;
        std::string text;
    } expect[] = {{'E', "hello 5"}, {'I', "three"}, {'I', "zero"}, {'V', std::string(8191, 'L')}};
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t tab = lines[i].find('\t');
        ASSERT_NE(tab, std::string::npos);
        std::string stamp = lines[i].substr(0, tab);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(stamp, m, head)) << stamp;
        EXPECT_EQ(m[1].str()[0], expect[i].letter);
        EXPECT_EQ(lines[i].substr(tab + 1), expect[i].text);
    }
}

TEST_F(LogTest, WriteFileOffKeepsTheConsoleOnly)
{
    CDebugInfo log;
    log.writeFile = 0;
    log.SetOutputFile((root + "off.log").c_str(), 0);
    testing::internal::CaptureStdout();
    log.Info("x");
    EXPECT_NE(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fs::exists(root + "off.log"));
}

TEST_F(LogTest, SetOutputFileMayStartAfresh)
{
    Touch("f.log", 50);
    CDebugInfo log;
    log.SetOutputFile((root + "f.log").c_str(), 1);
    EXPECT_EQ(fs::file_size(root + "f.log"), 0u);
}

TEST_F(LogTest, FetchNewFileNameInAnEmptyFolder)
{
    TestLog log;
    ASSERT_EQ(log.SetOutputFileEx((root + "x/").c_str(), "gw"), 0);
    EXPECT_TRUE(fs::is_directory(root + "x"));
    char out[256];
    log.FetchNewFileName(Date(2024, 1, 5), out, sizeof(out));
    EXPECT_EQ(std::string(out), root + "x/gw_20240105.log");
    EXPECT_EQ(log.fileSize, 0u);
}

TEST_F(LogTest, FetchNewFileNameChoosesByDateAndSize)
{
    // now is 5 January 2024; maxFileSize 100 bytes.
    struct Case {
        uint32_t flags;
        const char* newest;
        size_t size;
        const char* expect;
    } cases[] = {
        {1, "gw_20240105_002.log", 10, "gw_20240105_002.log"},
        {1, "gw_20240105_002.log", 500, "gw_20240105_003.log"},
        {1, "gw_20240104.log", 10, "gw_20240105.log"},
        {1, "gw_20240104.log", 500, "gw_20240105.log"},
        {0, "gw_20240104.log", 10, "gw_20240104.log"},
        {0, "gw_20240105.log", 500, "gw_20240105_001.log"},
        {0, "gw_20240104.log", 500, "gw_20240105.log"},
        // A prefix holding '_' reads the date from the end of the name.
        {0, "my_app_20240105_001.log", 500, "my_app_20240105_002.log"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        std::string folder = "case" + std::to_string(i) + "/";
        std::string newest = c.newest;
        std::string prefix = newest.substr(0, newest.rfind("_2024"));
        Touch(folder + prefix + "_20240101.log", 500);  // an older one
        Touch(folder + newest, c.size);
        Touch(folder + prefix + "_notes.txt", 1);  // not a log file
        TestLog log;
        log.SetOutputFileEx((root + folder).c_str(), prefix.c_str());
        log.SetLogFlags(c.flags);
        log.maxFileSize = 100;
        char out[256];
        log.FetchNewFileName(Date(2024, 1, 5), out, sizeof(out));
        EXPECT_EQ(std::string(out), root + folder + c.expect) << "case " << i;
        EXPECT_EQ(log.fileSize, fs::exists(out) ? fs::file_size(out) : 0u) << "case " << i;
    }
}

TEST(LogNames, SortByLogFileName)
{
    const struct {
        const char* a;
        const char* b;
        bool older;
    } cases[] = {
        {"gw_20240105.log", "gw_20240105_001.log", true},     {"gw_20240105_001.log", "gw_20240105.log", false},
        {"gw_20240105_002.log", "gw_20240105_010.log", true}, {"gw_20240104_009.log", "gw_20240105.log", true},
        {"gw_20231231.log", "gw_20240101.log", true},         {"gw_20240105.log", "gw_20240105.log", false},
        {"a_b_20240102.log", "a_b_20240103.log", true},       {"a_b_20240103.log", "a_b_20240102_005.log", false},
        {"nounderscore.log", "gw_20240105.log", false},       {"gw_20240105.log", "nounderscore.log", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CDebugInfo::SortByLogFileName(c.a, c.b), c.older) << c.a << " < " << c.b;
}

TEST_F(LogTest, AutomaticFilesRotateOnSize)
{
    TestLog log;
    log.SetOutputFileEx((root + "auto/").c_str(), "gw");
    log.maxFileSize = 100;
    std::string day = DateText(Today());
    std::string text(150, 'r');
    testing::internal::CaptureStdout();
    for (int i = 0; i < 4; ++i)
        log.Info("%s", text.c_str());
    testing::internal::GetCapturedStdout();
    // Each line is larger than the limit, so each one starts the next file.
    const std::vector<std::string> expect = {"gw_" + day + ".log", "gw_" + day + "_001.log", "gw_" + day + "_002.log",
                                             "gw_" + day + "_003.log"};
    EXPECT_EQ(FilesIn("auto"), expect);
    for (const std::string& name : expect)
        EXPECT_EQ(Lines(ReadFile(root + "auto/" + name)).size(), 1u) << name;
}

TEST_F(LogTest, FirstLineOfANewDayGoesToThePlainName)
{
    TestLog log;
    log.SetOutputFileEx((root + "days/").c_str(), "gw");
    log.SetLogFlags(1);
    testing::internal::CaptureStdout();
    log.Info("first");
    // Pretend the last line was written yesterday, into a numbered file.
    log.lastTime = Date(2001, 2, 3);
    snprintf(log.path, sizeof(log.path), "%sdays/gw_20010203_004.log", root.c_str());
    std::ofstream(log.path) << "old\r\n";
    log.Info("second");
    testing::internal::GetCapturedStdout();

    std::string today = root + "days/gw_" + DateText(Today()) + ".log";
    EXPECT_EQ(std::string(log.path), today);
    EXPECT_EQ(Lines(ReadFile(today)).size(), 2u);
    EXPECT_EQ(ReadFile(root + "days/gw_20010203_004.log"), "old\r\n");
}

TEST_F(LogTest, FixedFileStaysWithoutDateFlag)
{
    TestLog log;
    log.SetOutputFile((root + "fixed_20010203.log").c_str(), 0);
    log.lastTime = Date(2001, 2, 3);
    testing::internal::CaptureStdout();
    log.Info("a");
    log.Info("b");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string(log.path), root + "fixed_20010203.log");
    EXPECT_EQ(Lines(ReadFile(log.path)).size(), 2u);
}

TEST_F(LogTest, DatedFilePrunesToKeepCount)
{
    _SYSTEMTIME now = Today();
    char folder[64];
    snprintf(folder, sizeof(folder), "%04d-%02d-%02d/", now.wYear, now.wMonth, now.wDay);
    std::string day = DateText(now);
    struct Case {
        const char* prefix;
        std::vector<std::string> present;
        uint32_t keep;
        std::vector<std::string> remaining;  // after the call, new file included
        std::string newName;
    } cases[] = {
        {"gw",
         {"gw_" + day + ".log", "gw_" + day + "_001.log", "gw_" + day + "_002.log", "gw_" + day + "_003.log",
          "gw_" + day + "_004.log"},
         3,
         {"gw_" + day + "_003.log", "gw_" + day + "_004.log", "gw_" + day + "_005.log"},
         "gw_" + day + "_005.log"},
        // A prefix holding '_': the dates still order the files.
        {"a_b",
         {"a_b_20200103.log", "a_b_20200101.log", "a_b_20200102_007.log", "a_b_20200102.log"},
         2,
         {"a_b_20200103.log", "a_b_" + day + "_001.log"},
         "a_b_" + day + "_001.log"},
        {"gw", {}, 3, {"gw_" + day + ".log"}, "gw_" + day + ".log"},
        {"gw",
         {"gw_" + day + ".log", "gw_" + day + "_001.log"},
         0,
         {"gw_" + day + ".log", "gw_" + day + "_001.log", "gw_" + day + "_002.log"},
         "gw_" + day + "_002.log"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const Case& c = cases[i];
        std::string base = "prune" + std::to_string(i) + "/";
        fs::create_directories(root + base + folder);
        for (const std::string& name : c.present)
            Touch(base + folder + name);
        Touch(base + folder + "other.txt");
        TestLog log;
        log.SetOutputFileEx((root + base).c_str(), c.prefix, c.keep, 2);
        EXPECT_EQ(std::string(log.path), root + base + folder + c.newName) << "case " << i;
        std::vector<std::string> expect = c.remaining;
        expect.push_back("other.txt");
        std::sort(expect.begin(), expect.end());
        EXPECT_EQ(FilesIn(base + folder), expect) << "case " << i;
    }
}

TEST_F(LogTest, DayFoldersAndTheirFileList)
{
    _SYSTEMTIME now = Today();
    TestLog log;
    log.SetOutputFileEx((root + "tree/").c_str(), "gw", 0, 1);
    char folder[64];
    snprintf(folder, sizeof(folder), "%04d-%02d/%04d-%02d-%02d/", now.wYear, now.wMonth, now.wYear, now.wMonth,
             now.wDay);
    std::string dayDir = root + "tree/" + folder;
    EXPECT_EQ(std::string(log.path), dayDir + "gw_" + DateText(now) + ".log");
    Touch(std::string("tree/") + folder + "notes.txt");
    Touch(std::string("tree/") + folder + "old.log.1");
    Touch(std::string("tree/") + folder + "x.log");

    std::vector<std::string> names = {"stale"};
    EXPECT_EQ(log.GetLogFileList(now.wYear, now.wMonth, now.wDay, names), 2);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{dayDir + "gw_" + DateText(now) + ".log", dayDir + "x.log"}));
    EXPECT_EQ(log.GetLogFileList(1999, 1, 1, names), 0);

    TestLog flat;
    flat.SetOutputFile((root + "flat.log").c_str(), 0);
    EXPECT_EQ(flat.GetLogFileList(now.wYear, now.wMonth, now.wDay, names), -1);
}

TEST_F(LogTest, FileListWhileTheFileNameChanges)
{
    _SYSTEMTIME now = Today();
    TestLog log;
    log.SetOutputFileEx((root + "tree/").c_str(), "gw", 0, 1);
    const int kRounds = 200;
    std::thread renamer([&log] {
        for (int i = 0; i < kRounds; ++i)
            log.ChangeLogFileName(i % 2 == 0 ? "a_much_longer_name_of_a_log_file.log" : "b.log");
    });
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) {
        std::vector<std::string> names;
        if (log.GetLogFileList(now.wYear, now.wMonth, now.wDay, names) != 1)
            ++failures;
    }
    renamer.join();
    EXPECT_EQ(failures, 0);
}

TEST_F(LogTest, ChangeLogFileNameStaysInsideThePath)
{
    TestLog log;
    log.SetOutputFile("/var/log/q/old.log", 0);
    EXPECT_STREQ(log.ChangeLogFileName("new.log"), "/var/log/q/new.log");

    std::string longName(400, 'n');
    char* result = log.ChangeLogFileName(longName.c_str());
    EXPECT_EQ(strlen(result), 255u);
    EXPECT_EQ(std::string(result), "/var/log/q/" + longName.substr(0, 255 - 11));

    TestLog bare;
    bare.SetOutputFile("plain.log", 0);
    EXPECT_STREQ(bare.ChangeLogFileName("other.log"), "other.log");
}

TEST(LogCache, DropsElevenOldestAboveAThousand)
{
    TestLog log;
    for (int i = 0; i < 1002; ++i)
        log.CacheLogInfo(4, 1000u + i, 0, std::to_string(i).c_str());
    EXPECT_EQ(log.cache.size(), 991u);
    EXPECT_EQ(log.cache.front().text, "11");
    EXPECT_EQ(log.cache.back().text, "1001");
    log.Release();
    EXPECT_TRUE(log.cache.empty());
}

struct CallbackRecord {
    std::vector<std::string> texts;
    uint32_t answer = 1;
};

uint32_t RecordingCallback(uint32_t level, uint32_t, uint32_t, const char* text, long user)
{
    CallbackRecord* record = reinterpret_cast<CallbackRecord*>(user);
    record->texts.push_back(std::to_string(level) + ":" + text);
    return record->answer;
}

TEST(LogCache, RefusedLinesAreOfferedAgainOldestFirst)
{
    CallbackRecord record;
    TestLog log;
    log.callback = RecordingCallback;
    log.callbackUser = reinterpret_cast<long>(&record);
    log.cacheOn = 1;
    testing::internal::CaptureStdout();
    log.Info("a");
    log.Error("b");
    EXPECT_EQ(log.cache.size(), 2u);
    record.answer = 0;
    record.texts.clear();
    log.Warn("c");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(record.texts, (std::vector<std::string>{"4:a", "16:b", "8:c"}));
    EXPECT_TRUE(log.cache.empty());
    EXPECT_EQ(Lines(console).size(), 3u);  // the console gets every line regardless
}

TEST(LogCache, WithoutCacheOnRefusedLinesAreNotKept)
{
    CallbackRecord record;
    TestLog log;
    log.callback = RecordingCallback;
    log.callbackUser = reinterpret_cast<long>(&record);
    testing::internal::CaptureStdout();
    log.Info("a");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(record.texts, std::vector<std::string>{"4:a"});
    EXPECT_TRUE(log.cache.empty());
}

TEST_F(LogTest, CachedLinesAreSavedToTheChosenFile)
{
    TestLog log;
    log.cacheOn = 1;
    testing::internal::CaptureStdout();
    log.Warn("early %d", 1);
    log.Error("early %d", 2);
    testing::internal::GetCapturedStdout();
    log.SetOutputFile((root + "late.log").c_str(), 0);
    std::vector<std::string> lines = Lines(ReadFile(root + "late.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("][W]\tearly 1"), std::string::npos);
    EXPECT_NE(lines[1].find("][E]\tearly 2"), std::string::npos);
    EXPECT_EQ(log.cache.size(), 2u);  // saving keeps the cache
}

TEST_F(LogTest, ThreadsWriteWholeLines)
{
    CDebugInfo log;
    log.SetOutputFile((root + "mt.log").c_str(), 0);
    const int kThreads = 4, kLines = 50;
    testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kLines; ++i)
                log.Info("thread %d line %d %s", t, i, std::string(200, static_cast<char>('a' + t)).c_str());
        });
    }
    for (std::thread& th : threads)
        th.join();
    testing::internal::GetCapturedStdout();
    std::vector<std::string> lines = Lines(ReadFile(root + "mt.log"));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex line(R"(\[[^\]]+\]\[I\]\tthread (\d) line \d+ [a-d]{200})");
    for (const std::string& l : lines)
        EXPECT_TRUE(std::regex_match(l, line)) << l;
}

}  // namespace

#include "util/server_tools.h"

#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <getopt.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "util/json_writer.h"

namespace {

Json::Value parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "quillgate");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return CServerTools::ParseCommandLine(static_cast<int>(args.size()), argv.data());
}

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    const char* text;  // compact text of the options object
};

TEST(CommandLine, OptionsTable)
{
    const CommandLineCase cases[] = {
        {"no arguments", {}, "null"},
        {"flag and text", {"-d", "-g", "abc"}, "{\"daemon\":1,\"serviceGuid\":\"abc\"}"},
        {"repeated keeps last", {"-p", "8080", "-p", "9090"}, "{\"hostport\":9090}"},
        {"digits then junk", {"-p", "12abc"}, "{\"hostport\":12}"},
        {"no digits", {"-p", "abc"}, "{\"hostport\":0}"},
        {"blank and sign", {"-t", "  -5"}, "{\"tcpport\":-5}"},
        {"low 32 bits", {"-p", "4294967297"}, "{\"hostport\":1}"},
        {"2^31 wraps", {"-o", "2147483648"}, "{\"udpport\":-2147483648}"},
        {"saturates then cuts", {"-f", "99999999999999999999"}, "{\"fatherudp\":-1}"},
        {"upper case skipped", {"-X", "-d"}, "{\"daemon\":1}"},
        {"argument missing at end", {"-d", "-h"}, "{\"daemon\":1}"},
        {"only a bad letter", {"-X"}, "null"},
        {"non-options ignored", {"foo", "-d", "bar"}, "{\"daemon\":1}"},
        {"grouped flags", {"-rdiu"}, "{\"daemon\":1,\"install\":1,\"startserver\":1,\"uninstall\":1}"},
        {"attached argument", {"-gabc", "-z5"}, "{\"h5vcodec\":5,\"serviceGuid\":\"abc\"}"},
        {"empty text kept", {"-h", ""}, "{\"hostaddr\":\"\"}"},
        {"empty number is 0", {"-s", ""}, "{\"runstatus\":0}"},
        {"empty optional skipped", {"-j", "", "-k", "", "-w", "", "-y", "", "-q", "", "-x", ""}, "null"},
        {"text copied raw", {"-n", "\xe5\xbc\xa0 \"x\""}, "{\"username\":\"\xe5\xbc\xa0 \\\"x\\\"\"}"},
    };
    for (const CommandLineCase& c : cases) {
        const Json::Value options = parse(c.args);
        EXPECT_EQ(cv::toStyledString(options), c.text) << c.name;
        EXPECT_EQ(optind, 1) << c.name;
    }
}

TEST(CommandLine, EveryLetterHasItsKey)
{
    struct Entry {
        char letter;
        const char* key;
        bool number;
    };
    const Entry texts[] = {{'h', "hostaddr", false},    {'p', "hostport", true},   {'g', "serviceGuid", false},
                           {'m', "machineGuid", false}, {'t', "tcpport", true},    {'o', "udpport", true},
                           {'a', "appGuid", false},     {'e', "secretpwd", false}, {'s', "runstatus", true},
                           {'v', "versionGuid", false}, {'f', "fatherudp", true},  {'c', "rootServerGuid", false},
                           {'l', "logpath", false},     {'n', "username", false},  {'b', "turnaddr", false},
                           {'z', "h5vcodec", true},     {'j', "areaid", true},     {'k', "queueid", true},
                           {'w', "streamurl", false},   {'y', "userdata", false},  {'q', "coreserver", false},
                           {'x', "accesstype", false}};
    std::vector<std::string> args = {"-r", "-d", "-i", "-u"};
    Json::Value expected(Json::objectValue);
    expected["startserver"] = 1;
    expected["daemon"] = 1;
    expected["install"] = 1;
    expected["uninstall"] = 1;
    int n = 10;
    for (const Entry& e : texts) {
        args.push_back(std::string("-") + e.letter);
        args.push_back(std::to_string(n));
        if (e.number)
            expected[e.key] = n;
        else
            expected[e.key] = std::to_string(n);
        ++n;
    }
    const Json::Value options = parse(args);
    EXPECT_EQ(options, expected);
    EXPECT_EQ(options.size(), 26u);
    EXPECT_TRUE(options["daemon"].isInt());
}

TEST(CommandLine, NothingGivenReadsAsAbsent)
{
    const Json::Value options = parse({});
    EXPECT_TRUE(options.isNull());
    EXPECT_FALSE(options.isMember("daemon"));
}

TEST(CommandLine, SecondScanStartsAfresh)
{
    EXPECT_EQ(cv::toStyledString(parse({"-g", "one", "-d"})), "{\"daemon\":1,\"serviceGuid\":\"one\"}");
    EXPECT_EQ(cv::toStyledString(parse({"-h", "127.0.0.1:1"})), "{\"hostaddr\":\"127.0.0.1:1\"}");
}

std::string programDirectory()
{
    char path[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    std::string p(path, static_cast<size_t>(n));
    return p.substr(0, p.rfind('/') + 1);
}

uint32_t localNoon(int year, int month, int day)
{
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return static_cast<uint32_t>(mktime(&t));
}

TEST(LogDirectory, MonthlyFolderBesideProgram)
{
    const std::string dir = programDirectory();
    ASSERT_FALSE(dir.empty());
    char out[512];

    ASSERT_EQ(CServerTools::GetLogDirectory(localNoon(2025, 12, 15), out, sizeof out), 0);
    EXPECT_EQ(std::string(out), dir + "log/2025-12/");
    ASSERT_EQ(CServerTools::GetLogDirectory(localNoon(2026, 3, 1), out, sizeof out), 0);
    EXPECT_EQ(std::string(out), dir + "log/2026-03/");
}

TEST(LogDirectory, NowAndShortBuffer)
{
    const std::string dir = programDirectory();
    char out[512];
    const time_t before = time(nullptr);
    ASSERT_EQ(CServerTools::GetLogDirectory(0, out, sizeof out), 0);
    const time_t after = time(nullptr);
    char expectBefore[32];
    char expectAfter[32];
    struct tm t;
    localtime_r(&before, &t);
    strftime(expectBefore, sizeof expectBefore, "log/%Y-%m/", &t);
    localtime_r(&after, &t);
    strftime(expectAfter, sizeof expectAfter, "log/%Y-%m/", &t);
    const std::string got(out);
    EXPECT_TRUE(got == dir + expectBefore || got == dir + expectAfter) << got;

    char small[6];
    std::memset(small, 'Z', sizeof small);
    ASSERT_EQ(CServerTools::GetLogDirectory(0, small, 5), 0);
    EXPECT_EQ(std::string(small), dir.substr(0, 4));
    EXPECT_EQ(small[5], 'Z');
}

struct CommandStringCase {
    const char* name;
    const char* command;
    const char* text;
};

TEST(CommandString, Splitting)
{
    const CommandStringCase cases[] = {
        {"null", nullptr, "null"},
        {"empty", "", "null"},
        {"worked example", "login alice mode=fast verbose x=a=b",
         "{\"cmd\":\"login\",\"content\":\"alice\",\"mode\":\"fast\",\"verbose\":1,\"x\":\"a=b\"}"},
        {"two blanks", "a  b", "{\"b\":1,\"cmd\":\"a\",\"content\":\"\"}"},
        {"trailing blank", "a b ", "{\"cmd\":\"a\",\"content\":\"b\"}"},
        {"single word", "stop", "{\"cmd\":\"stop\"}"},
        {"leading blank", " x", "{\"cmd\":\"\",\"content\":\"x\"}"},
        {"empty value", "c d k=", "{\"cmd\":\"c\",\"content\":\"d\",\"k\":\"\"}"},
        {"repeated name", "c d k=1 k=2", "{\"cmd\":\"c\",\"content\":\"d\",\"k\":\"2\"}"},
    };
    for (const CommandStringCase& c : cases)
        EXPECT_EQ(cv::toStyledString(CServerTools::ParseCommandString(c.command)), c.text) << c.name;
}

TEST(CommandString, OverlongTextsAreCut)
{
    const std::string longWord(250, 'x');
    EXPECT_EQ(CServerTools::ParseCommandString(longWord.c_str())["cmd"].asString(), std::string(199, 'x'));

    const std::string longName(120, 'n');
    const Json::Value v = CServerTools::ParseCommandString(("c d " + longName).c_str());
    EXPECT_TRUE(v.isMember(std::string(98, 'n')));
    EXPECT_EQ(v.size(), 3u);
}

}  // namespace

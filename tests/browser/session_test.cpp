// One whole session with a real browser (scripts/browser.sh, as ./dev run
// browser runs it): headless Chromium's fake camera and quillgate with the
// GStreamer media library, in namespaces of their own. The test reads the
// run's logs for what must be true of it, bounds it in time, and finds no
// process of it left.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/gateway_run.h"
#include "tests/support/media_checks.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

namespace {

const int kRunLimitSec = 150;

std::string Chromium()
{
    const char* given = getenv("QG_CHROMIUM");
    if (given && *given)
        return given;
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        const size_t end = dirs.find(':', at);
        const std::string candidate = dirs.substr(at, end - at) + "/chromium";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return "";
}

// Runs argv with its output in outPath, in a process group of its own that
// is killed whole when it outlasts the limit; the exit status, or -1.
int RunBounded(const std::vector<std::string>& argv, const std::string& outPath, int limitSec)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0)
        return -1;
    setpgid(pid, pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSec);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Processes whose command line names the folder.
std::vector<std::string> ProcessesOf(const std::string& folder)
{
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::string cmdline = qgtest::ReadFile(std::string("/proc/") + entry->d_name + "/cmdline");
        for (char& c : cmdline)
            if (c == '\0')
                c = ' ';
        if (cmdline.find(folder) != std::string::npos)
            found.push_back(std::string(entry->d_name) + ": " + cmdline.substr(0, 200));
    }
    closedir(proc);
    return found;
}

// The number after "name=" on the page's statistics line of that tag and peer.
long Stat(const std::vector<std::string>& out, const std::string& tag, const std::string& peer, const std::string& name)
{
    const std::string prefix = "page stats " + tag + " " + peer + " ";
    for (const std::string& line : out) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        const size_t at = line.find(" " + name + "=");
        if (at != std::string::npos)
            return std::strtol(line.c_str() + at + name.size() + 2, nullptr, 10);
    }
    return -1;
}

// Lines starting with prefix whose seq= runs 0, 1, 2 ...: their count, or -1
// at the first one out of order.
long InOrder(const std::vector<std::string>& lines, const std::string& prefix)
{
    long next = 0;
    for (const std::string& line : lines) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        if (std::strtol(qgtest::FieldOf(line, "seq").c_str(), nullptr, 10) != next)
            return -1;
        ++next;
    }
    return next;
}

long Count(const std::vector<std::string>& lines, const std::string& prefix)
{
    long n = 0;
    for (const std::string& line : lines)
        n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}

std::vector<std::string> Crcs(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> crcs;
    for (const std::string& line : qgtest::LinesWith(lines, prefix))
        crcs.push_back(qgtest::FieldOf(line, "crc"));
    return crcs;
}

// The SDK's video frames hold two streams, told apart by CRC-32: the data
// channel's (the file's video packets) and the browser's camera (all others).
struct SdkVideo {
    std::vector<std::string> camera;
    size_t streamInOrder = 0;  // the file's packets found, in the file's order
};

SdkVideo SplitSdkVideo(const std::vector<std::string>& sdkCrcs, const std::vector<std::string>& file)
{
    SdkVideo v;
    for (const std::string& crc : sdkCrcs) {
        if (std::find(file.begin(), file.end(), crc) == file.end())
            v.camera.push_back(crc);
        else if (v.streamInOrder < file.size() && crc == file[v.streamInOrder])
            ++v.streamInOrder;
    }
    return v;
}

// Where the SDK's camera frames start in the library's list, when they are
// the library's from there to its last, every one in order (the first go
// before the SDK's video format is set); -1 otherwise.
long RunStart(const std::vector<std::string>& library, const std::vector<std::string>& sdk)
{
    if (sdk.empty() || sdk.size() > library.size())
        return -1;
    const size_t start = library.size() - sdk.size();
    return std::equal(sdk.begin(), sdk.end(), library.begin() + static_cast<long>(start)) ? static_cast<long>(start)
                                                                                          : -1;
}

TEST(BrowserSession, ConnectsBothPeersCarriesMediaAndDataBothWaysAndLeavesNoProcess)
{
    const std::string chromium = Chromium();
    if (chromium.empty())
        GTEST_SKIP() << "browser test skipped: no chromium";
    qgtest::TempDir dir("qg-browser-");
    const auto started = std::chrono::steady_clock::now();
    const int status = RunBounded({QG_SOURCE_DIR "/scripts/browser.sh", qgtest::BinDir(), QG_GST_RTC_DIR, dir.path()},
                                  dir.File("run.out"), kRunLimitSec);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    const std::vector<std::string> run = qgtest::ReadLines(dir.File("run.out"));
    const std::vector<std::string> out = qgtest::ReadLines(dir.File("gateway.out"));
    const std::vector<std::string> rtc = qgtest::ReadLines(dir.File("rtc.journal"));
    const std::vector<std::string> sdk = qgtest::ReadLines(dir.File("sdk.journal"));
    std::string dump;
    for (const std::string& line : run)
        dump += line.substr(0, 400) + "\n";
    if (status == 77 && !run.empty())
        GTEST_SKIP() << run.back();
    EXPECT_TRUE(ProcessesOf(dir.path()).empty()) << ProcessesOf(dir.path())[0];
    ASSERT_EQ(status, 0) << "after " << seconds << " s\n" << dump;

    // Both peers connected, at each end, over loopback.
    for (const char* peer : {"user2001-camera", "own-camera"})
        EXPECT_GE(qgtest::Find(out, std::string("page peer ") + peer + " connection connected"), 0) << peer;
    EXPECT_EQ(Count(rtc, "state 1 connection connected"), 1);
    EXPECT_EQ(Count(rtc, "state 2 connection connected"), 1);
    const std::regex loopback("^pair [12] 127\\.0\\.0\\.1:[0-9]+ udp host <-> 127\\.0\\.0\\.1:[0-9]+ udp host$");
    long pairs = 0;
    for (const std::string& line : rtc)
        pairs += std::regex_match(line, loopback);
    EXPECT_EQ(pairs, 2);

    // The browser's camera, encoded by the browser and handed to quillgate by
    // the library, every frame once and in order.
    const long encoded = Stat(out, "end", "own-camera", "encoded");
    const long toQuillgate = InOrder(rtc, "cb video 2 ");
    EXPECT_GT(toQuillgate, 100);
    EXPECT_GE(encoded, toQuillgate - 5);

    // The remote user's camera decoded by the browser, over 100 frames.
    const long decoded =
        Stat(out, "end", "user2001-camera", "decoded") - Stat(out, "start", "user2001-camera", "decoded");
    EXPECT_GT(decoded, 100) << dump;

    // The SDK's video: the camera's frames as the library handed them to
    // quillgate, none reordered or lost after the first, and every video
    // packet of the file the page's data channel sends.
    std::vector<std::string> file;
    for (const qgtest::InputFrame& f :
         qgtest::InputFramesOf(qgtest::MediaFixture("stream_vp8_opus.webm"), 0, false).frames)
        if (f.video)
            file.push_back(qgtest::CrcForm(f.crc));
    ASSERT_FALSE(file.empty());
    const std::vector<std::string> library = Crcs(rtc, "cb video 2 ");
    const SdkVideo video = SplitSdkVideo(Crcs(sdk, "CVAPI_InputVideoDataEx "), file);
    EXPECT_GT(video.camera.size(), 100u);
    EXPECT_GE(RunStart(library, video.camera), 0)
        << video.camera.size() << " camera frames in the SDK are not the last of the library's " << library.size();
    EXPECT_EQ(video.streamInOrder, file.size()) << "of the data-channel stream's video frames";

    // The data channel both ways: every packet the page sent reached quillgate.
    const long sent = Stat(out, "end", "own-camera", "datasent");
    EXPECT_GT(sent, 0);
    EXPECT_EQ(InOrder(rtc, "cb data 2 "), sent);
    EXPECT_GE(qgtest::Find(out, "page peer own-camera data message \"hello from the media library\""), 0);
}

}  // namespace

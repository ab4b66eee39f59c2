// The WebRTC side against the stand-in media library with a recording
// owner: each test gets its own library journal and control FIFO, an empty
// log, and the library loaded afresh (its handles from 1, its settings at
// their defaults) and initialised by a browser's init parameters, so the
// tests hold run as one program in any order as in processes of their own.
#ifndef QG_TESTS_WEBRTC_WEBRTC_SIDE_FIXTURE_H
#define QG_TESTS_WEBRTC_WEBRTC_SIDE_FIXTURE_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "quillgate/log/proxy_log.h"
#include "quillgate/webrtc/media_sdk_helper.h"
#include "quillgate/webrtc/webrtc_connect.h"
#include "tests/support/test_support.h"
#include "tests/webrtc/recording_webrtc_owner.h"

namespace webrtctest {

using qgtest::Find;
using qgtest::ReadFile;
using qgtest::ReadLines;
using qgtest::TempDir;

inline std::mutex g_logMutex;
inline std::vector<std::string> g_log;

inline void CollectLog(const char* line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.push_back(line);
}

inline std::vector<std::string> LogLines()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_log;
}

inline std::string InitParams(int h5handlestreamtype, int browserType = 4)
{
    return "{\"browsertype\":" + std::to_string(browserType) +
           ",\"debugflag\":0,\"debuglevel\":1,\"h5handlestreamtype\":" + std::to_string(h5handlestreamtype) +
           ",\"platformtype\":1}";
}

inline std::string Create(const std::string& peerId, int streamType, int userId, int streamIndex = 0)
{
    return "{\"control\":1,\"peerconnectionid\":\"" + peerId + "\",\"streamindex\":" + std::to_string(streamIndex) +
           ",\"streamtype\":" + std::to_string(streamType) + ",\"userid\":" + std::to_string(userId) + "}";
}

inline std::string Destroy(const std::string& peerId)
{
    return "{\"control\":0,\"peerconnectionid\":\"" + peerId + "\"}";
}

// A browser fixture with its peer id replaced.
inline std::string Fixture(const std::string& name, const std::string& peerId)
{
    std::string text = ReadFile(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + name + ".json");
    const std::string key = "\"peerconnectionid\":\"";
    const size_t at = text.find(key);
    if (at != std::string::npos) {
        const size_t end = text.find('"', at + key.size());
        text.replace(at + key.size(), end - at - key.size(), peerId);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

inline std::string Hex(const std::string& s)
{
    return qgtest::Hex(s);
}

// The loader keeps the first library it opens for the process: a test that
// wants one of its own, in its own state, unloads it before and after, and
// leaves none of its paths set.
inline void ForgetMediaLibrary()
{
    CMediaSDKHelper::GetInstance().UnloadSDK();
    unsetenv("QG_RTC_JOURNAL");
    unsetenv("QG_RTC_CONTROL");
}

class WebRtcSide : public ::testing::Test
{
protected:
    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> lock(g_logMutex);
            g_log.clear();
        }
        SetProxyLogSink(&CollectLog);
        SetProxyLogLevel(1);
        ForgetMediaLibrary();
        setenv("QG_RTC_JOURNAL", dir_.File("journal").c_str(), 1);
        // The library opens its control FIFO at the next Initialize.
        setenv("QG_RTC_CONTROL", dir_.File("control").c_str(), 1);
        side_.SetOwner(&owner_);
        ASSERT_EQ(side_.HandleWebCommand(1, InitParams(1, browserType_)), 0);
        for (int i = 0; i < 2000 && access(dir_.File("control").c_str(), F_OK) != 0; ++i)
            usleep(5000);
        control_ = open(dir_.File("control").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(control_, 0);
    }

    void TearDown() override
    {
        side_.DestroyAllWebrtcSDK();
        if (control_ >= 0)
            close(control_);
        ForgetMediaLibrary();
        SetProxyLogSink(nullptr);
    }

    void Control(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ASSERT_GE(WaitJournal("control \"" + line + "\""), 0) << line;
    }

    std::vector<std::string> Journal() const { return ReadLines(dir_.File("journal")); }

    // Waits (at most 20 s: the library's threads on a loaded host) for a
    // journal line starting with prefix; its index or -1.
    int WaitJournal(const std::string& prefix, int from = 0) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const int at = Find(Journal(), prefix, from);
            if (at >= 0 || std::chrono::steady_clock::now() > end)
                return at;
            usleep(5000);
        }
    }

    // The journal's quoted text of the first line with prefix, unescaped
    // enough to search for plain SDP lines ("\r\n" stays as the escape).
    std::string JournalLine(const std::string& prefix) const
    {
        const int at = WaitJournal(prefix);
        return at < 0 ? std::string() : Journal()[static_cast<size_t>(at)];
    }

    static bool Logged(const std::string& prefix) { return Find(LogLines(), prefix) >= 0; }

    TempDir dir_{"qg-webrtc-"};
    int browserType_ = 4;  // of the init parameters; a test may set another before SetUp
    RecordingWebRtcOwner owner_;
    CWebRtcConnect side_;
    int control_ = -1;
};

}  // namespace webrtctest

#endif

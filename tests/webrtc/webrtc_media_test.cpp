// The media relay of the WebRTC side against the stand-in media library: a
// remote user's frame goes to the one peer that receives that user's
// medium, the browser's frames go up with their peer's user and stream,
// and whatever finds no peer goes nowhere. What the library was handed is
// read back from its journal, which reads the records by byte offset.
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
#include "tests/support/case_names.h"
#include "tests/support/media_checks.h"
#include "tests/support/test_support.h"
#include "tests/webrtc/recording_webrtc_owner.h"
#include "tests/webrtc/webrtc_side_fixture.h"

namespace {

using qgtest::Find;
using qgtest::LinesWith;
using qgtest::ReadFile;
using qgtest::ReadLines;
using qgtest::TempDir;

std::mutex g_logMutex;
std::vector<std::string> g_log;

void CollectLog(const char* line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.push_back(line);
}

int Logged(const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    int n = 0;
    for (const std::string& l : g_log)
        n += l == text;
    return n;
}

std::string Create(const std::string& peerId, int streamType, int userId, int streamIndex = 0)
{
    return "{\"control\":1,\"peerconnectionid\":\"" + peerId + "\",\"streamindex\":" + std::to_string(streamIndex) +
           ",\"streamtype\":" + std::to_string(streamType) + ",\"userid\":" + std::to_string(userId) + "}";
}

std::string Fixture(const std::string& name, const std::string& peerId)
{
    std::string text = ReadFile(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + name + ".json");
    const std::string key = "\"peerconnectionid\":\"";
    const size_t at = text.find(key);
    const size_t end = text.find('"', at + key.size());
    text.replace(at + key.size(), end - at - key.size(), peerId);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// A browser description of video alone.
std::string VideoOnly(const std::string& peerId, const char* type)
{
    return "{\"peerconnectionid\":\"" + peerId +
           "\",\"sdp\":\"v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96\\r\\na=rtpmap:96 VP8/90000\\r\\n\",\"type\":\"" +
           type + "\"}";
}

class WebRtcMedia : public ::testing::Test
{
protected:
    // Each test starts from an empty log and no library: the browser type
    // of each test picks its own.
    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> lock(g_logMutex);
            g_log.clear();
        }
        SetProxyLogSink(&CollectLog);
        SetProxyLogLevel(1);
        webrtctest::ForgetMediaLibrary();
    }

    void TearDown() override
    {
        side_.DestroyAllWebrtcSDK();
        if (control_ >= 0)
            close(control_);
        webrtctest::ForgetMediaLibrary();
        SetProxyLogSink(nullptr);
    }

    // The library loaded for this browser type, its journal and control
    // FIFO in the test's folder, the browser's own camera left to the test.
    void Start(int browserType)
    {
        setenv("QG_RTC_JOURNAL", dir_.File("journal").c_str(), 1);
        setenv("QG_RTC_CONTROL", dir_.File("control").c_str(), 1);
        side_.SetOwner(&owner_);
        const std::string init = "{\"browsertype\":" + std::to_string(browserType) +
                                 ",\"debugflag\":0,\"debuglevel\":1,\"h5handlestreamtype\":2,\"platformtype\":1}";
        ASSERT_EQ(side_.HandleWebCommand(1, init), 0);
        for (int i = 0; i < 2000 && access(dir_.File("control").c_str(), F_OK) != 0; ++i)
            usleep(5000);
        control_ = open(dir_.File("control").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(control_, 0);
        Control("automedia off");
    }

    void Control(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ASSERT_GE(WaitJournal("control \"" + line + "\""), 0) << line;
    }

    std::vector<std::string> Journal() const { return ReadLines(dir_.File("journal")); }
    // At most 20 s: the library's threads on a loaded host.
    int WaitJournal(const std::string& prefix) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const int at = Find(Journal(), prefix);
            if (at >= 0 || std::chrono::steady_clock::now() > end)
                return at;
            usleep(5000);
        }
    }

    // A peer negotiated as the browser does: a receiving peer answers the
    // library's offer, a sending one offers. Returns its handle.
    uint32_t Peer(const std::string& peerId, int streamType, int userId, const std::string& description,
                  int streamIndex = 0)
    {
        EXPECT_EQ(side_.HandlePeerObjMessage(1, Create(peerId, streamType, userId, streamIndex)), 0);
        EXPECT_EQ(side_.SetDescriptionInfo(description), 0) << peerId;
        PeerInfo peer;
        EXPECT_EQ(side_.GetPeerinfoByPeerId(peerId, peer), 0) << peerId;
        return peer.handle;
    }

    std::vector<std::string> Inputs(const char* medium) const
    {
        return LinesWith(Journal(), std::string("CVRTC_Input") + medium + "StreamData ");
    }

    TempDir dir_{"qg-webrtc-media-"};
    RecordingWebRtcOwner owner_;
    CWebRtcConnect side_;
    int control_ = -1;
};

// ---- remote users' frames to the browser ----

struct RouteCase {
    const char* name;
    int browserType;
    uint32_t userId;
    bool video;
    const char* peer;  // the peer it reaches, or "" for none
};
QG_PRINT_CASE_BY_NAME(RouteCase)

const RouteCase kRouteCases[] = {
    {"VideoOfAUserGoesToTheirPeer", 4, 5, true, "r5"},
    {"AudioOfAUserGoesToTheirPeer", 4, 5, false, "r5"},
    {"AUserWithoutAPeerIsDropped", 4, 7, true, ""},
    {"APeerWithoutTheMediumIsNoMatch", 4, 6, false, ""},
    {"APeerWithTheMediumIsTheMatch", 4, 6, true, "r6"},
    {"TheOwnUsersAudioFindsTheOwnPeer", 4, 1001, false, "own"},
    {"MinusOnesAudioFindsTheOwnPeer", 4, static_cast<uint32_t>(-1), false, "own"},
    {"BrowserType2SendsAUsersVideoToTheOwnPeer", 2, 5, true, "own"},
    {"BrowserType2SendsAnyUsersAudioToTheOwnPeer", 2, 7, false, "own"},
};

class RemoteRoute : public WebRtcMedia, public ::testing::WithParamInterface<RouteCase>
{};

TEST_P(RemoteRoute, ReachesOnlyThePeerThatReceivesThatUsersMedium)
{
    const RouteCase& c = GetParam();
    Start(c.browserType);
    owner_.ownUserId = 1001;
    // Browser type 2 creates no receiving peers: its own peer takes everything.
    const uint32_t own = Peer("own", 1, 1001, Fixture("chrome_offer", "own"));
    uint32_t r5 = CVRTC_INVALID_HANDLE, r6 = CVRTC_INVALID_HANDLE;
    if (c.browserType != 2) {
        r5 = Peer("r5", 2, 5, Fixture("chrome_answer", "r5"));
        r6 = Peer("r6", 2, 6, VideoOnly("r6", "answer"));
    }
    const std::string want = c.peer;
    const uint32_t handle = want == "own" ? own : want == "r5" ? r5 : want == "r6" ? r6 : CVRTC_INVALID_HANDLE;

    uint8_t frame[5] = {1, 2, 3, 4, 5};
    if (c.video)
        side_.OnReceiveVideoStream(c.userId, 0, 0, frame, 5, 1234, 90);
    else
        side_.OnReceiveAudioStream(c.userId, 0, 0, frame, 5, 1234);
    const std::string crc = qgtest::CrcForm(qgtest::Crc32(frame, 5));
    const std::vector<std::string> inputs = Inputs(c.video ? "Video" : "Audio");
    if (handle == CVRTC_INVALID_HANDLE) {
        EXPECT_TRUE(inputs.empty()) << inputs[0];
        return;
    }
    ASSERT_EQ(inputs.size(), 1u);
    const std::string fields =
        c.video ? " seq=0 len=5 ts=1234 rot=90 stream=0 zero=0 crc=" : " seq=0 len=5 ts=1234 zero=0 crc=";
    EXPECT_EQ(inputs[0], std::string("CVRTC_Input") + (c.video ? "Video" : "Audio") + "StreamData " +
                             std::to_string(handle) + fields + crc + " = 0");
}

INSTANTIATE_TEST_SUITE_P(Cases, RemoteRoute, ::testing::ValuesIn(kRouteCases), qgtest::ByName());

TEST_F(WebRtcMedia, EmptyFramesNeverReachAPeerAndLibraryFailuresAreLoggedPerFrame)
{
    Start(4);
    const uint32_t r5 = Peer("r5", 2, 5, Fixture("chrome_answer", "r5"), 1);
    uint8_t frame[3] = {7, 8, 9};
    side_.OnReceiveVideoStream(5, 1, 0, nullptr, 3, 1, 0);
    side_.OnReceiveVideoStream(5, 1, 0, frame, 0, 1, 0);
    side_.OnReceiveAudioStream(5, 1, 0, nullptr, 3, 1);
    side_.OnReceiveAudioStream(5, 1, 0, frame, 0, 1);
    // Another stream index of the same user is another peer.
    side_.OnReceiveVideoStream(5, 0, 0, frame, 3, 1, 0);
    EXPECT_TRUE(Inputs("Video").empty());
    EXPECT_TRUE(Inputs("Audio").empty());
    side_.OnReceiveVideoStream(5, 1, 0, frame, 3, 40, 180);
    ASSERT_EQ(Inputs("Video").size(), 1u);
    EXPECT_EQ(qgtest::FieldOf(Inputs("Video")[0], "stream"), "1");

    // The library lost its peers: every frame that finds one in the table fails there.
    CMediaSDKHelper::GetInstance().UnInitialize();
    side_.OnReceiveVideoStream(5, 1, 0, frame, 3, 80, 0);
    side_.OnReceiveVideoStream(5, 1, 0, frame, 3, 120, 0);
    side_.OnReceiveAudioStream(5, 1, 0, frame, 3, 80);
    EXPECT_EQ(Logged("CWebRtcConnect::OnReceiveVideoStream: InputVideoStreamData Fail!"), 2);
    EXPECT_EQ(Logged("CWebRtcConnect::OnReceiveAudioStream: InputAudioStreamData Fail!"), 1);
    EXPECT_NE(r5, CVRTC_INVALID_HANDLE);
}

// ---- the browser's frames to the SDK side ----

TEST_F(WebRtcMedia, BrowserFramesGoUpWithTheirPeersUserAndStream)
{
    Start(4);
    const uint32_t own = Peer("own", 1, 1001, Fixture("chrome_offer", "own"), 2);
    const uint32_t mute = Peer("mute", 1, 1001, VideoOnly("mute", "offer"), 3);
    const uint32_t r5 = Peer("r5", 2, 5, Fixture("chrome_answer", "r5"));
    const size_t mark = owner_.Count();

    // The record's own stream index is not the peer's: the peer's goes up.
    Control("video " + std::to_string(own) + " stream=9 rotation=90 ts=77 data=0102");
    Control("audio " + std::to_string(own) + " ts=20 data=010203");
    // A peer through which the browser does not send, or that has shown no
    // audio: its audio stays, its video goes up.
    Control("audio " + std::to_string(r5) + " ts=21 data=01");
    Control("video " + std::to_string(r5) + " rotation=270 ts=22 data=01");
    Control("audio " + std::to_string(mute) + " ts=23 data=01");
    Control("video " + std::to_string(mute) + " ts=24 data=0102030405");
    // Unknown handles and null records are refused and go nowhere.
    Control("video 99 ts=25 data=01 via=" + std::to_string(own));
    Control("audio 99 ts=26 data=01 via=" + std::to_string(own));
    Control("video " + std::to_string(own) + " record=null");
    Control("audio " + std::to_string(own) + " record=null");
    ASSERT_GE(WaitJournal("cb audio " + std::to_string(own) + " null = "), 0);

    std::vector<std::string> up;
    for (const std::string& c : owner_.Calls())
        if (c.compare(0, 9, "OnWebrtcA") == 0 || c.compare(0, 9, "OnWebrtcV") == 0)
            up.push_back(c);
    EXPECT_EQ(up, (std::vector<std::string>{
                      "OnWebrtcVideoData(-1, 2, 2, 77, 90)",
                      "OnWebrtcAudioData(-1, 2, 3, 20)",
                      "OnWebrtcVideoData(5, 0, 1, 22, 270)",
                      "OnWebrtcVideoData(-1, 3, 5, 24, 0)",
                  }));
    EXPECT_GE(owner_.Count(), mark + 4);
    // What the callbacks answered the library.
    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "cb audio " + std::to_string(r5) + " seq=0 len=1 ts=21 zero=0 "), 0);
    EXPECT_NE(j[Find(j, "cb audio " + std::to_string(r5) + " seq=0")].find(" = 0"), std::string::npos);
    EXPECT_NE(j[Find(j, "cb video 99 ")].find(" = -1"), std::string::npos);
    EXPECT_NE(j[Find(j, "cb audio 99 ")].find(" = -1"), std::string::npos);
    EXPECT_NE(j[Find(j, "cb video " + std::to_string(own) + " null")].find(" = -1"), std::string::npos);
    EXPECT_NE(j[Find(j, "cb audio " + std::to_string(own) + " null")].find(" = -1"), std::string::npos);
}

TEST_F(WebRtcMedia, LibraryCallbacksWithoutTheirUserValueRefuseAtOnce)
{
    Start(4);
    RtcVideoFrame video = {};
    RtcAudioFrame audio = {};
    EXPECT_EQ(OnWebrtcVideoDataCallBack(1, &video, 0, 0, nullptr), -1);
    EXPECT_EQ(OnWebrtcAudioDataCallBack(1, &audio, 0, 0, nullptr), -1);
    EXPECT_EQ(OnWebrtcAudioDataCallBack(1, nullptr, 0, 0, &side_), -1);
    EXPECT_EQ(owner_.Count(), 1u) << owner_.At(0);  // only SetDebugFlags
}

}  // namespace

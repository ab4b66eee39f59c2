// The SDK client's media against the stand-in SDK: the formats each room
// stay sets once, the camera commands that wait for them, the browser's
// frames into the SDK with their flags, and remote users' frames out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/sdklink/sdk_client_fixture.h"
#include "tests/support/case_names.h"
#include "tests/support/input_frame_cases.h"
#include "tests/support/media_checks.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"

namespace {

using qgtest::AudioCase;
using qgtest::Bytes;
using qgtest::FieldOf;
using qgtest::Find;
using qgtest::kAudioCases;
using qgtest::kVideoCases;
using qgtest::LinesWith;
using qgtest::VideoCase;

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

class SdkMedia : public qgtest::SdkClient
{
protected:
    void TearDown() override
    {
        SetProxyLogLevel(4);
        qgtest::SdkClient::TearDown();
    }

    // A fresh room stay of a logged-in user on a browser of this platform
    // and type: no format set, nothing cached, calls and journal from here.
    void Begin(int platformType = 1, int browserType = 4, const std::string& scenario = "")
    {
        StartSdk(scenario);
        std::string params = "{\"browsertype\":" + std::to_string(browserType);
        if (platformType >= 0)
            params += ",\"platformtype\":" + std::to_string(platformType);
        LOGIN_OK(params + "}");
        ASSERT_EQ(Sdk().doEnterRoom(5, "", 0), 0);
        ASSERT_NE(WaitCall("NotifyOnlineUser"), "");
        // The user list's log line follows its notification; the cases count
        // the journal from here on.
        ASSERT_TRUE(WaitJournal("CCorvaneConnect::OnOnlineUser dwUserCount:"));
        Sdk().doLeaveRoom();
        ASSERT_FALSE(Sdk().IsOutVideoSet() || Sdk().IsInputVideoFormatSet());
        seen_ = owner_->Calls().size();
        journalStart_ += Journal().size();
    }

    // One step of a case: open/close <id>, openex <id> <stream> <flags>
    // <text|->, closeex <id> <stream>, up <codec>, down <codec>, leave, logout.
    void Step(const std::string& step)
    {
        const std::vector<std::string> w = Words(step);
        const std::string& what = w[0];
        auto num = [&](size_t i) { return std::stoi(w.at(i)); };
        if (what == "open" || what == "close")
            Sdk().doUserCameraControl(num(1), what == "open");
        else if (what == "openex")
            Sdk().doUserCameraControlEx(num(1), true, num(2), num(3), w.at(4) == "-" ? "" : w.at(4));
        else if (what == "closeex")
            Sdk().doUserCameraControlEx(num(1), false, num(2), 0, "");
        else if (what == "up")
            Sdk().SetUpVideoFrame(static_cast<uint32_t>(num(1)));
        else if (what == "down")
            Sdk().SetDownVideoFrame(static_cast<uint32_t>(num(1)), 0, 0, 15);
        else if (what == "leave")
            Sdk().doLeaveRoom();
        else if (what == "logout")
            Sdk().doLogout();
        else
            FAIL() << "bad step " << step;
    }

    std::vector<std::string> CameraAnswers() const
    {
        std::vector<std::string> out;
        for (const std::string& c : Calls())
            if (c.compare(0, 22, "ReplyUserCameraControl") == 0)
                out.push_back(c);
        return out;
    }
    std::vector<std::string> JournalWith(const std::string& prefix) const { return LinesWith(Journal(), prefix); }
};

// ---- the command cache ----

struct CacheCase {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> answers;   // the camera replies, in order
    std::vector<std::string> sdkCalls;  // CVAPI_UserCameraControl(Ex) journal lines, in order
    std::vector<std::string> options;   // option 233 as the SDK got it, in order
    const char* scenario = "";
};
QG_PRINT_CASE_BY_NAME(CacheCase)

const char kVP8Out[] = "CVAPI_SetSDKOption 233 text \"{\\\"flags\\\":0,\\\"videocodec\\\":4}\" = 0";
const char kH264Out[] = "CVAPI_SetSDKOption 233 text \"{\\\"flags\\\":0,\\\"videocodec\\\":1}\" = 0";

const CacheCase kCacheCases[] = {
    {"AnotherUsersCameraWaitsForTheOutgoingFormat",
     {"open 7", "down 3", "up 3"},
     {"ReplyUserCameraControl(7, 0)"},
     {"CVAPI_UserCameraControl 7 1 = 0"},
     {kVP8Out}},
    {"TheOwnCameraWaitsForTheInputFormat",
     {"open -1", "openex 1001 0 0 -", "up 1", "down 1"},
     {"ReplyUserCameraControl(-1, 0)", "ReplyUserCameraControlEx(1001, 0)"},
     {"CVAPI_UserCameraControl -1 1 = 0", "CVAPI_UserCameraControlEx 1001 1 0 0 null = 0"},
     {kH264Out}},
    {"ExKeepsItsStreamFlagsAndText",
     {"openex 7 2 5 {\"peerconnectionid\":\"p1\"}", "up 3"},
     {"ReplyUserCameraControlEx(7, 0)"},
     {"CVAPI_UserCameraControlEx 7 1 2 5 \"{\\\"peerconnectionid\\\":\\\"p1\\\"}\" = 0"},
     {kVP8Out}},
    {"AnOpenWithAFormatAndACloseGoAtOnce",
     {"close 7", "closeex 8 1", "up 3", "open 9", "openex 9 1 0 -"},
     {"ReplyUserCameraControl(7, 0)", "ReplyUserCameraControlEx(8, 0)", "ReplyUserCameraControl(9, 0)",
      "ReplyUserCameraControlEx(9, 0)"},
     {"CVAPI_UserCameraControl 7 0 = 0", "CVAPI_UserCameraControlEx 8 0 1 0 \"\" = 0",
      "CVAPI_UserCameraControl 9 1 = 0", "CVAPI_UserCameraControlEx 9 1 1 0 \"\" = 0"},
     {kVP8Out}},
    {"TwoWaitingCommandsRunInOnePass",
     {"open 7", "openex 8 0 0 -", "up 1"},
     {"ReplyUserCameraControl(7, 0)", "ReplyUserCameraControlEx(8, 0)"},
     {"CVAPI_UserCameraControl 7 1 = 0", "CVAPI_UserCameraControlEx 8 1 0 0 null = 0"},
     {kH264Out}},
    {"AFormatIsSetOncePerRoomStay",
     {"up 3", "up 1", "leave", "open 8", "up 1"},
     {"ReplyUserCameraControl(8, 0)"},
     {"CVAPI_UserCameraControl 8 1 = 0"},
     {kVP8Out, kH264Out}},
    {"LeavingTheRoomAnswersWaitingCamerasWithMinusOne",
     {"open 7", "openex -1 0 0 -", "leave", "up 3", "down 3"},
     {"ReplyUserCameraControl(7, -1)", "ReplyUserCameraControlEx(-1, -1)"},
     {},
     {kVP8Out}},
    {"LoggingOutAnswersWaitingCamerasWithMinusOne",
     {"openex 7 0 0 -", "logout", "up 3"},
     {"ReplyUserCameraControlEx(7, -1)"},
     {},
     {kVP8Out}},
    {"ACloseDropsTheWaitingOpenOfItsCameraOnly",
     {"open 7", "open 9", "close 7", "openex 7 1 0 -", "openex 7 2 0 -", "closeex 7 1", "up 3"},
     {"ReplyUserCameraControl(7, 0)", "ReplyUserCameraControlEx(7, 0)", "ReplyUserCameraControl(9, 0)",
      "ReplyUserCameraControlEx(7, 0)"},
     {"CVAPI_UserCameraControl 7 0 = 0", "CVAPI_UserCameraControlEx 7 0 1 0 \"\" = 0",
      "CVAPI_UserCameraControl 9 1 = 0", "CVAPI_UserCameraControlEx 7 1 2 0 null = 0"},
     {kVP8Out}},
    {"AWaitingCameraTheSdkRefusesIsAnsweredWithItsCode",
     {"open 7", "up 3"},
     {"ReplyUserCameraControl(7, 5)"},
     {"CVAPI_UserCameraControl 7 1 = 5"},
     {kVP8Out},
     "return CVAPI_UserCameraControl 5\n"},
};

class CameraCache : public SdkMedia, public ::testing::WithParamInterface<CacheCase>
{};

TEST_P(CameraCache, RunsEachCommandOnceWhenItsFormatIsSet)
{
    const CacheCase& c = GetParam();
    Begin(1, 4, c.scenario);
    for (const std::string& step : c.steps)
        Step(step);
    EXPECT_EQ(CameraAnswers(), c.answers) << ::testing::PrintToString(Calls());
    EXPECT_EQ(JournalWith("CVAPI_UserCameraControl"), c.sdkCalls);
    EXPECT_EQ(JournalWith("CVAPI_SetSDKOption 233 "), c.options);
    // Nothing is left to run in a later pass or room.
    for (const CmdCacheInfo& r : Sdk().CmdCacheSnapshot())
        EXPECT_FALSE(IsCameraCommand(r)) << r.userId;
}

INSTANTIATE_TEST_SUITE_P(Cases, CameraCache, ::testing::ValuesIn(kCacheCases), qgtest::ByName());

TEST_F(SdkMedia, TheCachePassRunsAtLeast300MsAfterTheFormatAndLogsEachCommand)
{
    Begin();
    EXPECT_EQ(Sdk().doUserCameraControl(7, true), 0);
    EXPECT_EQ(Sdk().doUserCameraControlEx(8, true, 1, 2, "{}"), 0);
    EXPECT_TRUE(CameraAnswers().empty());
    EXPECT_TRUE(LogHas("invoke CCorvaneConnect::doUserCameraControl do not set video codec, cache cmd!"));
    EXPECT_TRUE(LogHas("invoke CCorvaneConnect::doUserCameraControlEx do not set video codec, cache cmd!"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Sdk().SetUpVideoFrame(3), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(CameraAnswers().size(), 2u);
    // The option first, then the pass.
    const std::vector<std::string> j = Journal();
    EXPECT_LT(Find(j, "CVAPI_SetSDKOption 233 "), Find(j, "CVAPI_UserCameraControl 7 1 = 0"));
    EXPECT_TRUE(LogHas("invoke CCorvaneConnect::HandleDealCmdCache: execut CameraControl dwUserid:7, bopen:1, ret:0"));
    EXPECT_TRUE(LogHas("invoke CCorvaneConnect::HandleDealCmdCache execut CameraControlEx dwUserid:8, bopen:1, "
                       "dwStreamIndex:1, dwFlags:2, iRet:0"));
    EXPECT_TRUE(LogHas("CCorvaneConnect::SetUpVideoFrame: videoCodecId:3"));
}

// ---- formats ----

TEST_F(SdkMedia, InputFormatsTakeDefaultsOnceAndTheVideoOneTellsTheBrowser)
{
    Begin();
    EXPECT_EQ(Sdk().SetDownVideoFrame(3, 0, 0, 30), 0);
    EXPECT_EQ(Sdk().SetDownVideoFrame(1, 640, 480, 25), 0);
    EXPECT_EQ(Sdk().SetDownAudioFrame(11, 0, 0, 0), 0);
    EXPECT_EQ(Sdk().SetDownAudioFrame(13, 2, 44100, 8), 0);
    EXPECT_EQ(JournalWith("CVAPI_SetInput"),
              (std::vector<std::string>{"CVAPI_SetInputVideoFormatEx 0 3 0 320 240 15 0 = 0",
                                        "CVAPI_SetInputAudioFormatEx 0 11 1 16000 16 0 = 0"}));
    EXPECT_TRUE(LogHas("CCorvaneConnect::SetDownVideoFrame: videoCodecId:3, width:320, height:240, fps:30, dwRet:0"));
    EXPECT_TRUE(LogHas("CCorvaneConnect::SetDownAudioFrame: audioCodecId:11, channels:1, samplesPerSec:16000, "
                       "bitPerSamele:16"));
    EXPECT_EQ(Calls(), std::vector<std::string>{"SendMediaCodecInfo(3, 0)"});

    // The demuxer's formats: codec 0 is none, the audio values come in their own order.
    Sdk().doLeaveRoom();
    journalStart_ += Journal().size();
    Sdk().OnVideoFormat(0, 160, 120, 5);
    Sdk().OnAudioFormat(0, 1, 16, 8000);
    Sdk().OnAudioFormat(13, 2, 16, 44100);
    Sdk().OnVideoFormat(1, 640, 480, 25);
    EXPECT_EQ(JournalWith("CVAPI_SetInput"),
              (std::vector<std::string>{"CVAPI_SetInputAudioFormatEx 0 13 2 44100 16 0 = 0",
                                        "CVAPI_SetInputVideoFormatEx 0 1 0 640 480 15 0 = 0"}));
    // The outgoing audio is PCM whatever is asked; nothing reaches the SDK.
    EXPECT_FALSE(Sdk().IsOutAudioSet());
    EXPECT_EQ(Sdk().SetUpAudioFrame(11), 0);
    EXPECT_EQ(Sdk().SetUpAudioFrame(0), 0);
    EXPECT_TRUE(Sdk().IsOutAudioSet());
    int lines = 0;
    for (const std::string& l : Log())
        lines += l.find("CCorvaneConnect::SetUpAudioFrame: defualt pcm videoCodec") != std::string::npos;
    EXPECT_EQ(lines, 1);
}

struct OutCase {
    const char* name;
    int platformType;
    uint32_t codec;
    const char* option;
    bool singleSlice;
};
QG_PRINT_CASE_BY_NAME(OutCase)

const OutCase kOutCases[] = {
    {"WindowsVP8", 1, 3, "{\\\"flags\\\":0,\\\"videocodec\\\":4}", false},
    {"WindowsH264", 1, 1, "{\\\"flags\\\":0,\\\"videocodec\\\":1}", false},
    {"AndroidH264", 2, 1, "{\\\"flags\\\":0,\\\"videocodec\\\":1}", false},
    {"iPadH264", 3, 1, "{\\\"flags\\\":1024,\\\"videocodec\\\":1}", true},
    {"iPhoneH264", 4, 1, "{\\\"flags\\\":1024,\\\"videocodec\\\":1}", true},
    {"iPhoneVP8", 4, 3, "{\\\"flags\\\":0,\\\"videocodec\\\":4}", false},
};

class OutgoingVideo : public SdkMedia, public ::testing::WithParamInterface<OutCase>
{};

TEST_P(OutgoingVideo, Option233NamesTheCodecAndTheSingleSliceFlag)
{
    const OutCase& c = GetParam();
    Begin(c.platformType);
    EXPECT_EQ(Sdk().SetUpVideoFrame(c.codec), 0);
    EXPECT_EQ(JournalWith("CVAPI_SetSDKOption 233 "),
              std::vector<std::string>{std::string("CVAPI_SetSDKOption 233 text \"") + c.option + "\" = 0"});
    EXPECT_EQ(LogHas("CCorvaneConnect::SetUpVideoFrame: add single silce flag"), c.singleSlice);
}

INSTANTIATE_TEST_SUITE_P(Platforms, OutgoingVideo, ::testing::ValuesIn(kOutCases), qgtest::ByName());

// ---- the browser's frames into the SDK ----

class InputVideo : public SdkMedia, public ::testing::WithParamInterface<VideoCase>
{};

TEST_P(InputVideo, FlagsAndRotationFollowCodecPlatformAndFrame)
{
    const VideoCase& c = GetParam();
    Begin(c.platformType);
    ASSERT_EQ(Sdk().SetDownVideoFrame(c.codec, 0, 0, 15), 0);
    journalStart_ += Journal().size();
    std::string frame = Bytes(c.hex);
    Sdk().InputVideoData(-1, 3, 0, reinterpret_cast<uint8_t*>(&frame[0]), static_cast<uint32_t>(frame.size()), 1234,
                         c.rotation, c.keyFrame);
    std::vector<std::string> expected;
    if (c.rotationValue != 0)
        expected.push_back("CVAPI_UserInfoControl -1 8 " + std::to_string(c.rotationValue) + " 0 null = 0");
    expected.push_back("CVAPI_InputVideoDataEx 3 seq=0 len=" + std::to_string(frame.size()) +
                       " ts=1234 flags=" + std::to_string(c.flags) +
                       " crc=" + qgtest::CrcForm(qgtest::Crc32(frame.data(), frame.size())) + " = 0");
    EXPECT_EQ(Journal(), expected);
}

INSTANTIATE_TEST_SUITE_P(Frames, InputVideo, ::testing::ValuesIn(kVideoCases), qgtest::ByName());

class InputAudio : public SdkMedia, public ::testing::WithParamInterface<AudioCase>
{};

TEST_P(InputAudio, FlagAndTimestampFollowCodecAndBrowser)
{
    const AudioCase& c = GetParam();
    Begin(1, c.browserType);
    ASSERT_EQ(Sdk().SetDownAudioFrame(c.codec, 1, 16000, 16), 0);
    journalStart_ += Journal().size();
    std::string frame(80, '\x5a');
    // The stream index is not the SDK's: audio always goes in as stream 0.
    Sdk().InputAudioData(-1, 4, 0, reinterpret_cast<uint8_t*>(&frame[0]), 80, 1000);
    EXPECT_EQ(Journal(), std::vector<std::string>{"CVAPI_InputAudioDataEx 0 seq=0 len=80 ts=" + std::to_string(c.ts) +
                                                  " flags=" + std::to_string(c.flag) +
                                                  " crc=" + qgtest::CrcForm(qgtest::Crc32(frame.data(), 80)) + " = 0"});
}

INSTANTIATE_TEST_SUITE_P(Frames, InputAudio, ::testing::ValuesIn(kAudioCases), qgtest::ByName());

TEST_F(SdkMedia, FramesBeforeTheirFormatAndEmptyFramesGoNowhere)
{
    Begin();
    SetProxyLogLevel(1);
    uint8_t frame[8] = {0x9d, 0x01, 0x2a, 0, 0, 0, 0, 0};
    Sdk().InputVideoData(-1, 0, 0, frame, sizeof frame, 1, 90, 1);
    Sdk().InputAudioData(-1, 0, 0, frame, sizeof frame, 1);
    Sdk().OnVideoData(1, frame, sizeof frame, 1);
    Sdk().OnAudioData(1, frame, sizeof frame, 0);
    Sdk().OnChunkData(-1, 0, frame, sizeof frame, 1, 2);
    Sdk().OnChunkData(-1, 0, nullptr, 0, 0, 1);
    EXPECT_TRUE(Journal().empty());
    for (const std::string& l : Log())
        EXPECT_EQ(l.find("receive webrtc"), std::string::npos) << l;

    ASSERT_EQ(Sdk().SetDownVideoFrame(3, 0, 0, 15), 0);
    ASSERT_EQ(Sdk().SetDownAudioFrame(11, 0, 0, 0), 0);
    journalStart_ += Journal().size();
    Sdk().InputVideoData(-1, 0, 0, nullptr, 8, 1, 0, 0);
    Sdk().InputVideoData(-1, 0, 0, frame, 0, 1, 0, 0);
    Sdk().InputAudioData(-1, 0, 0, nullptr, 8, 1);
    Sdk().InputAudioData(-1, 0, 0, frame, 0, 1);
    EXPECT_TRUE(Journal().empty());
    // The demuxer's frames are the own user's, stream 0, unrotated; its
    // audio flags are not passed on.
    Sdk().OnVideoData(500, frame, sizeof frame, 0);
    Sdk().OnAudioData(520, frame, 4, 7);
    // Their log lines depend on the process's frame counts so far: left out.
    const std::vector<std::string> j = qgtest::LinesWith(Journal(), "CVAPI_Input");
    ASSERT_EQ(j.size(), 2u) << ::testing::PrintToString(Journal());
    EXPECT_EQ(j[0].substr(0, 28), "CVAPI_InputVideoDataEx 0 seq");
    EXPECT_EQ(FieldOf(j[0], "ts") + " " + FieldOf(j[0], "flags"), "500 3");
    EXPECT_EQ(j[1].substr(0, 28), "CVAPI_InputAudioDataEx 0 seq");
    EXPECT_EQ(FieldOf(j[1], "ts") + " " + FieldOf(j[1], "flags"), "520 0");
}

// ---- remote users' frames for the browser ----

TEST_F(SdkMedia, RemoteVideoOfTheOwnUserIsDroppedAndItsAudioGoesOn)
{
    Begin();
    uint8_t frame[4] = {1, 2, 3, 4};
    WAVEFORMATEX format = {};
    format.nChannels = 1;
    format.nSamplesPerSec = 16000;
    format.wBitsPerSample = 16;
    const uint32_t own = Sdk().GetOwnUserId();
    for (uint32_t user : {2001u, own, static_cast<uint32_t>(-1)}) {
        CCorvaneConnect::OnVideoDataCallBack(user, frame, 4, 66, &Sdk(), 0, 1, 640, 480, 15, 0, 0, 0, 270);
        CCorvaneConnect::OnAudioDataCallBack(user, frame, 4, format, 20, &Sdk());
    }
    // Without the user value nothing happens.
    CCorvaneConnect::OnVideoDataCallBack(2001, frame, 4, 66, nullptr, 0, 1, 640, 480, 15, 0, 0, 0, 270);
    CCorvaneConnect::OnAudioDataCallBack(2001, frame, 4, format, 20, nullptr);
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "OnReceiveVideoStream(2001, 0, 4, 66, 270)", "OnReceiveAudioStream(2001, 0, 4, 20)",
                           "OnReceiveAudioStream(1001, 0, 4, 20)", "OnReceiveAudioStream(-1, 0, 4, 20)"}));
}

// Every frame but each 50th (video) or 100th (audio) leaves a level-2 line.
TEST_F(SdkMedia, PerFrameLinesLeaveOutEvery50thVideoAnd100thAudioFrame)
{
    Begin();
    SetProxyLogLevel(2);
    uint8_t frame[4] = {1, 2, 3, 4};
    WAVEFORMATEX format = {};
    for (int i = 0; i < 120; ++i)
        CCorvaneConnect::OnVideoDataCallBack(2001, frame, 4, i, &Sdk(), 0, 1, 640, 480, 15, 0, 0, 0, 0);
    for (int i = 0; i < 250; ++i)
        CCorvaneConnect::OnAudioDataCallBack(2001, frame, 4, format, i, &Sdk());
    SetProxyLogLevel(4);
    std::vector<int> video, audio;
    for (const std::string& l : Log()) {
        const size_t num = l.find("num:");
        if (num == std::string::npos)
            continue;
        const int n = std::stoi(l.substr(num + 4));
        if (l.find("receive corvane video: userid:2001, width:640, height:480, num:") != std::string::npos)
            video.push_back(n);
        else if (l.find("receive corvane audio: userid:2001, sample:0, bit:0, channel:0, num:") != std::string::npos)
            audio.push_back(n);
    }
    ASSERT_GE(video.size(), 117u);
    ASSERT_GE(audio.size(), 247u);
    for (int n : video)
        EXPECT_NE(n % 50, 0) << n;
    for (int n : audio)
        EXPECT_NE(n % 100, 0) << n;
    // Between the first and the last line only the 50th frames are missing.
    int skipped = 0;
    for (int n = video.front(); n <= video.back(); ++n)
        skipped += n % 50 == 0;
    EXPECT_EQ(video.back() - video.front() + 1 - static_cast<int>(video.size()), skipped);
}

// Frames keep coming while the room is left and formats set again: each is
// either dropped or reaches the SDK whole.
TEST_F(SdkMedia, FramesRacingRoomStaysReachTheSdkWholeOrNotAtAll)
{
    Begin();
    std::atomic<bool> stop{false};
    std::atomic<int> fed{0};
    std::thread feeder([&] {
        uint8_t frame[64];
        for (int i = 0; i < 64; ++i)
            frame[i] = static_cast<uint8_t>(i);
        for (int i = 0; i < 300000 && !stop; ++i) {
            Sdk().InputVideoData(-1, 0, 0, frame, sizeof frame, i, (i % 4) * 90, 0);
            Sdk().InputAudioData(-1, 0, 0, frame, 32, i);
            ++fed;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // Frames reach the SDK only while a room stay's formats are set (about
    // 300 ms a round): the rounds start once the feeder runs, and go on
    // until some frame got through, however late a loaded host runs it.
    for (int i = 0; i < 20000 && fed == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int round = 0; round < 3 || (round < 60 && JournalWith("CVAPI_InputVideoDataEx").empty()); ++round) {
        Sdk().SetDownAudioFrame(11, 1, 16000, 16);
        Sdk().SetDownVideoFrame(round % 2 ? 1 : 3, 0, 0, 15);
        Sdk().doLeaveRoom();
    }
    stop = true;
    feeder.join();
    const std::string crc64 = [] {
        uint8_t frame[64];
        for (int i = 0; i < 64; ++i)
            frame[i] = static_cast<uint8_t>(i);
        return qgtest::CrcForm(qgtest::Crc32(frame, 64));
    }();
    const std::vector<std::string> video = JournalWith("CVAPI_InputVideoDataEx");
    EXPECT_FALSE(video.empty());
    for (const std::string& l : video)
        EXPECT_EQ(FieldOf(l, "crc"), crc64) << l;
}

// ---- the browser's container stream ----

// How the first chunks of a room stay come from the data channel.
struct Chunk {
    bool withStream;  // the whole stream, or no data
    uint32_t flags;
};
struct FirstChunkCase {
    const char* name;
    std::vector<Chunk> chunks;
};
QG_PRINT_CASE_BY_NAME(FirstChunkCase)

class FirstChunk : public SdkMedia, public ::testing::WithParamInterface<FirstChunkCase>
{};

TEST_P(FirstChunk, OfARoomStayStartsTheStreamAnewWhateverFlagsItCameWith)
{
    const std::string path = qgtest::MediaFixture("stream_vp8_opus.webm");
    std::string stream = qgtest::ReadFile(path);
    ASSERT_FALSE(stream.empty());
    const qgtest::Probe probe = qgtest::ProbeFile(path);
    int video = -1;
    for (const qgtest::ProbeStream& st : probe.streams)
        if (st.type == "video")
            video = st.index;
    uint32_t firstVideoCrc = 0;
    for (const qgtest::ProbePacket& p : probe.packets)
        if (p.stream == video) {
            firstVideoCrc = p.crc;
            break;
        }
    ASSERT_GE(video, 0);

    Begin();
    ASSERT_EQ(Sdk().ResetMuxerHelper(), 0);
    // The first stay plays the stream, then the room is left with it open.
    ASSERT_EQ(Sdk().doEnterRoom(5, "", 0), 0);
    Sdk().OnChunkData(-1, 0, reinterpret_cast<uint8_t*>(&stream[0]), static_cast<uint32_t>(stream.size()), 1000, 1);
    ASSERT_TRUE(WaitJournal("CVAPI_InputVideoDataEx 0 seq=0 "));
    Sdk().doLeaveRoom();
    ASSERT_FALSE(Sdk().IsInputVideoFormatSet());

    ASSERT_EQ(Sdk().doEnterRoom(5, "", 0), 0);
    journalStart_ += Journal().size();
    for (const Chunk& chunk : GetParam().chunks)
        Sdk().OnChunkData(-1, 0, chunk.withStream ? reinterpret_cast<uint8_t*>(&stream[0]) : nullptr,
                          chunk.withStream ? static_cast<uint32_t>(stream.size()) : 0, 90000, chunk.flags);
    // The stream opens again: its formats are set for this stay, and it
    // plays from its first packet.
    ASSERT_TRUE(WaitJournal("CVAPI_SetInputVideoFormatEx")) << ::testing::PrintToString(Journal());
    ASSERT_TRUE(WaitJournal("CVAPI_InputVideoDataEx")) << ::testing::PrintToString(Journal());
    const std::vector<std::string> frames = JournalWith("CVAPI_InputVideoDataEx");
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(FieldOf(frames[0], "crc"), qgtest::CrcForm(firstVideoCrc)) << frames[0];
    Sdk().DestroyDemuxer();
}

INSTANTIATE_TEST_SUITE_P(Chunks, FirstChunk,
                         ::testing::Values(FirstChunkCase{"an empty announcement with flags 2",
                                                          {{false, 2}, {true, 0}}},
                                           FirstChunkCase{"a chunk with flags 0", {{true, 0}}}),
                         qgtest::ByName());

}  // namespace

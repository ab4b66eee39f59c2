// The stand-in SDK's media through its C API: remote users' cameras and
// microphones from the fixtures on a thread of their own, started by the
// camera and speak controls, stopped by close, leave, logout and release;
// control lines for streams; the local user's frames counted, journaled and
// written out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quillgate/sdklink/cvapi.h"
#include "standin_sdk_codes.h"
#include "tests/support/case_names.h"
#include "tests/support/media_checks.h"
#include "tests/support/test_support.h"

namespace {

using qgtest::Crc32;
using qgtest::CrcForm;
using qgtest::FieldOf;
using qgtest::LinesWith;
using qgtest::MediaFixture;
using qgtest::ReadFile;
using qgtest::ReadLines;

struct Frame {
    std::string kind;
    unsigned user = 0, ts = 0, width = 0, height = 0, rotation = 0, stream = 0;
    unsigned channels = 0, rate = 0, bits = 0;
    std::string bytes;
    std::thread::id thread;
};

class Frames
{
public:
    void Add(Frame f)
    {
        f.thread = std::this_thread::get_id();
        std::lock_guard<std::mutex> lock(mu_);
        frames_.push_back(std::move(f));
        cv_.notify_all();
    }
    // Waits (at most 10 s) for n frames of a kind; returns those there are.
    std::vector<Frame> Wait(const std::string& kind, size_t n)
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return Count(kind) >= n; });
        return Of(kind);
    }
    size_t Now(const std::string& kind)
    {
        std::lock_guard<std::mutex> lock(mu_);
        return Count(kind);
    }

private:
    size_t Count(const std::string& kind) const { return Of(kind).size(); }
    std::vector<Frame> Of(const std::string& kind) const
    {
        std::vector<Frame> out;
        for (const Frame& f : frames_)
            if (f.kind == kind)
                out.push_back(f);
        return out;
    }
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Frame> frames_;
};

void OnVideo(unsigned id, void* buf, unsigned len, unsigned ts, void* user, unsigned stream, unsigned, unsigned width,
             unsigned height, unsigned, unsigned, unsigned, unsigned, unsigned rotation)
{
    Frame f;
    f.kind = "video";
    f.user = id;
    f.ts = ts;
    f.width = width;
    f.height = height;
    f.rotation = rotation;
    f.stream = stream;
    f.bytes.assign(static_cast<char*>(buf), len);
    static_cast<Frames*>(user)->Add(f);
}

void OnAudio(unsigned id, void* buf, unsigned len, WAVEFORMATEX wf, unsigned ts, void* user)
{
    Frame f;
    f.kind = "audio";
    f.user = id;
    f.ts = ts;
    f.channels = wf.nChannels;
    f.rate = wf.nSamplesPerSec;
    f.bits = wf.wBitsPerSample;
    f.bytes.assign(static_cast<char*>(buf), len);
    static_cast<Frames*>(user)->Add(f);
}

void Noop(unsigned, unsigned, unsigned, void*)
{}

class StandinSdkMedia : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("QG_SDK_JOURNAL", journal_.c_str(), 1);
        setenv("QG_SDK_LOG", dir_.File("sdk.log").c_str(), 1);
        setenv("QG_SDK_CONTROL", fifo_.c_str(), 1);
        unsetenv("QG_SDK_MEDIA_DIR");
        const std::string scenario = "selfid 1001\nroom *\nuser 2001 width=640 height=480 rotation=90\nuser 2002\n";
        std::ofstream(dir_.File("scenario")) << scenario;
        setenv("QG_SDK_SCENARIO", dir_.File("scenario").c_str(), 1);
        ASSERT_EQ(CVAPI_InitSDK(nullptr, CV_INIT_FLAGS_DEFAULT), 0);
        CVAPI_SetNotifyMessageCallBack(Noop, nullptr);
        CVAPI_SetVideoDataExCallBack(CV_VIDEO_CB_FORMAT_ENCODED, OnVideo, &frames_);
        CVAPI_SetAudioDataExCallBack(OnAudio, &frames_);
        control_ = open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(control_, 0);
    }
    void TearDown() override
    {
        if (control_ >= 0)
            close(control_);
        CVAPI_Release();
        unsetenv("QG_SDK_CONTROL");
        unsetenv("QG_SDK_SCENARIO");
    }

    void EnterRoom()
    {
        ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
        ASSERT_EQ(CVAPI_Login("alice", "pw", 0), 0);
        ASSERT_EQ(CVAPI_EnterRoom(5, "", 0), 0);
    }
    void OutputFormat(const std::string& json)
    {
        ASSERT_EQ(CVAPI_SetSDKOption(CV_OPT_OUTPUT_VIDEO_FORMAT, json.c_str(), static_cast<int>(json.size())), 0);
    }
    void Control(const std::string& line)
    {
        const std::string text = line + "\n";
        ASSERT_EQ(write(control_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    std::vector<std::string> Journal() const { return ReadLines(journal_); }
    // Waits (at most 20 s: the media thread on a loaded host) for a journal
    // line starting with prefix.
    bool WaitJournal(const std::string& prefix) const
    {
        for (int i = 0; i < 2000; ++i) {
            if (qgtest::Find(Journal(), prefix) >= 0)
                return true;
            usleep(10 * 1000);
        }
        return false;
    }
    // Control lines are taken in order: once a bad marker line after them
    // shows in the log, they have all been taken.
    void Sync()
    {
        const std::string marker = "stop " + std::to_string(900 + ++syncs_) + " video";
        Control(marker);
        ASSERT_TRUE(WaitLog("control: bad line: " + marker));
    }
    bool WaitLog(const std::string& text) const
    {
        for (int i = 0; i < 2000; ++i) {
            if (ReadFile(dir_.File("sdk.log")).find(text) != std::string::npos)
                return true;
            usleep(10 * 1000);
        }
        return false;
    }

    qgtest::TempDir dir_{"qg-sdk-media-"};
    const std::string journal_ = dir_.File("journal");
    const std::string fifo_ = dir_.File("control");
    Frames frames_;
    int control_ = -1;
    int syncs_ = 0;
};

// ---- remote users' cameras and microphones ----

struct RemoteCase {
    const char* name;
    const char* kind;    // video or audio
    const char* option;  // option 233, or null
    const char* fixture;
};
QG_PRINT_CASE_BY_NAME(RemoteCase)

const RemoteCase kRemoteCases[] = {
    {"CameraH264", "video", "{\"flags\":1024,\"videocodec\":1}", "camera_320x240_15fps.h264"},
    {"CameraVP8", "video", "{\"flags\":0,\"videocodec\":4}", "camera_320x240_15fps.ivf"},
    {"Microphone", "audio", nullptr, "mic_16k_mono.s16le"},
};

class RemoteStreams : public StandinSdkMedia, public ::testing::WithParamInterface<RemoteCase>
{};

TEST_P(RemoteStreams, PlayTheFixtureOnceOnTheirOwnThreadFrameByFrameAsTheToolsListIt)
{
    const RemoteCase& c = GetParam();
    const bool video = std::string(c.kind) == "video";
    const std::vector<std::string> expected =
        video ? qgtest::FfprobePackets(MediaFixture(c.fixture)) : qgtest::PcmFrames(MediaFixture(c.fixture));
    if (expected.empty())
        GTEST_SKIP() << "the ffmpeg tools are not there";
    EnterRoom();
    if (video) {
        // Without an output format the camera has nothing to play.
        ASSERT_EQ(CVAPI_UserCameraControl(2001, 1), 0);
        EXPECT_TRUE(WaitJournal("media 2001 video: no output video format (option 233)"));
        OutputFormat(c.option);
        ASSERT_EQ(CVAPI_UserCameraControl(2001, 1), 0);
    } else {
        ASSERT_EQ(CVAPI_UserSpeakControlEx(2001, 1, 0, 0, nullptr), 0);
    }
    const auto started = std::chrono::steady_clock::now();
    const std::vector<Frame> got = frames_.Wait(c.kind, expected.size());
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(got.size(), expected.size());
    ASSERT_TRUE(WaitJournal(std::string("totals 2001 ") + c.kind + " out=" + std::to_string(expected.size())));
    const std::vector<std::string> lines = LinesWith(Journal(), std::string("cb ") + c.kind + " 2001 ");
    ASSERT_EQ(lines.size(), expected.size());

    const uint32_t frameMs = video ? 66 : 20;
    for (size_t i = 0; i < got.size(); ++i) {
        const Frame& f = got[i];
        EXPECT_EQ(std::to_string(f.bytes.size()) + " " + CrcForm(Crc32(f.bytes.data(), f.bytes.size())), expected[i])
            << i;
        EXPECT_EQ(FieldOf(lines[i], "crc"), CrcForm(Crc32(f.bytes.data(), f.bytes.size()))) << i;
        EXPECT_EQ(FieldOf(lines[i], "seq"), std::to_string(i));
        EXPECT_EQ(FieldOf(lines[i], "ts"), std::to_string(f.ts));
        EXPECT_NEAR(f.ts, i * frameMs, i + 1.0) << i;
        EXPECT_EQ(f.user, 2001u);
        EXPECT_NE(f.thread, std::this_thread::get_id());
        if (video) {
            // The scenario's camera of 2001.
            EXPECT_EQ(f.width, 640u);
            EXPECT_EQ(f.height, 480u);
            EXPECT_EQ(f.rotation, 90u);
            EXPECT_EQ(FieldOf(lines[i], "size"), "640x480");
            EXPECT_EQ(FieldOf(lines[i], "rot"), "90");
        } else {
            EXPECT_EQ(f.channels * 100000 + f.rate + f.bits, 100000u + 16000 + 16);
            EXPECT_EQ(FieldOf(lines[i], "format"), "1/16000/16");
        }
    }
    // Real time: the last frame is not due before its time.
    EXPECT_GE(took, std::chrono::milliseconds((got.size() - 1) * frameMs - 20));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RemoteStreams, ::testing::ValuesIn(kRemoteCases), qgtest::ByName());

TEST_F(StandinSdkMedia, NothingPlaysForTheOwnUserAnUnknownUserOrOutsideARoom)
{
    OutputFormat("{\"flags\":0,\"videocodec\":1}");
    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
    ASSERT_EQ(CVAPI_Login("alice", "pw", 0), 0);
    EXPECT_EQ(CVAPI_UserCameraControl(2001, 1), 0);
    ASSERT_EQ(CVAPI_EnterRoom(5, "", 0), 0);
    EXPECT_EQ(CVAPI_UserCameraControl(static_cast<unsigned>(-1), 1), 0);
    EXPECT_EQ(CVAPI_UserCameraControlEx(1001, 1, 0, 0, "{}"), 0);
    EXPECT_EQ(CVAPI_UserSpeakControl(4242, 1), 0);
    EXPECT_EQ(CVAPI_UserCameraControl(2002, 1), 0);
    ASSERT_EQ(frames_.Wait("video", 1).size(), 1u);
    EXPECT_EQ(frames_.Wait("video", 1)[0].user, 2002u);
    const std::vector<std::string> j = Journal();
    EXPECT_GE(qgtest::Find(j, "media 2001 video: not in a room"), 0);
    EXPECT_GE(qgtest::Find(j, "media -1 video: the own user's media come from quillgate"), 0);
    EXPECT_GE(qgtest::Find(j, "media 1001 video: the own user's media come from quillgate"), 0);
    EXPECT_GE(qgtest::Find(j, "media 4242 audio: no such user"), 0);
}

// ---- what stops a stream: nothing of it arrives once the call returned ----

struct StopCase {
    const char* name;
    void (*stop)(StandinSdkMedia&);
};
QG_PRINT_CASE_BY_NAME(StopCase)

const StopCase kStopCases[] = {
    {"CameraAndSpeakClosed",
     [](StandinSdkMedia&) {
         CVAPI_UserCameraControlEx(2001, 0, 0, 0, nullptr);
         CVAPI_UserSpeakControl(2001, 0);
     }},
    {"RoomLeft", [](StandinSdkMedia&) { CVAPI_LeaveRoom(5); }},
    {"LoggedOut", [](StandinSdkMedia&) { CVAPI_Logout(); }},
    {"Released", [](StandinSdkMedia&) { CVAPI_Release(); }},
};

class StreamStops : public StandinSdkMedia, public ::testing::WithParamInterface<StopCase>
{};

TEST_P(StreamStops, EndEveryStreamBeforeTheCallReturns)
{
    EnterRoom();
    OutputFormat("{\"flags\":0,\"videocodec\":4}");
    ASSERT_EQ(CVAPI_UserCameraControl(2001, 1), 0);
    ASSERT_EQ(CVAPI_UserSpeakControl(2001, 1), 0);
    ASSERT_GE(frames_.Wait("video", 3).size(), 3u);
    ASSERT_GE(frames_.Wait("audio", 3).size(), 3u);
    GetParam().stop(*this);
    const size_t video = frames_.Now("video"), audio = frames_.Now("audio");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(frames_.Now("video"), video);
    EXPECT_EQ(frames_.Now("audio"), audio);
    const std::vector<std::string> j = Journal();
    EXPECT_GE(qgtest::Find(j, "totals 2001 video out=" + std::to_string(video)), 0);
    EXPECT_GE(qgtest::Find(j, "totals 2001 audio out=" + std::to_string(audio)), 0);
}

INSTANTIATE_TEST_SUITE_P(Stoppers, StreamStops, ::testing::ValuesIn(kStopCases), qgtest::ByName());

TEST_F(StandinSdkMedia, AUserWhoLeavesTakesTheirStreamsAlong)
{
    EnterRoom();
    OutputFormat("{\"flags\":0,\"videocodec\":1}");
    ASSERT_EQ(CVAPI_UserCameraControl(2002, 1), 0);
    ASSERT_GE(frames_.Wait("video", 2).size(), 2u);
    Control("user leave 2002");
    ASSERT_TRUE(WaitJournal("totals 2002 video out="));
    const size_t video = frames_.Now("video");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(frames_.Now("video"), video);
}

// ---- control lines ----

TEST_F(StandinSdkMedia, ControlLinesStartStopAndPaceStreams)
{
    const std::vector<std::string> opus = qgtest::FfprobePackets(MediaFixture("mic_16k_mono.opus.ogg"));
    if (opus.empty())
        GTEST_SKIP() << "ffprobe is not there";
    // Control lines need no room and no format.
    Control("start 2001 video frames=5 pace=fast codec=vp8 rotation=270 stream=2");
    Control("start 2002 audio file=" + MediaFixture("mic_16k_mono.opus.ogg") + " pace=fast");
    const std::vector<Frame> video = frames_.Wait("video", 5);
    const std::vector<Frame> audio = frames_.Wait("audio", opus.size());
    ASSERT_TRUE(WaitJournal("totals 2001 video out=5"));
    ASSERT_EQ(video.size(), 5u);
    EXPECT_EQ(video[4].rotation, 270u);
    EXPECT_EQ(video[4].stream, 2u);
    EXPECT_EQ(video[0].bytes.size(), std::stoul(qgtest::FfprobePackets(MediaFixture("camera_320x240_15fps.ivf"))[0]));
    ASSERT_EQ(audio.size(), opus.size());
    for (size_t i = 0; i < audio.size(); ++i)
        EXPECT_EQ(std::to_string(audio[i].bytes.size()) + " " +
                      CrcForm(Crc32(audio[i].bytes.data(), audio[i].bytes.size())),
                  opus[i]);

    // A looping stream, slowed down, then stopped.
    Control("start 2001 audio loop=on pace=fast");
    ASSERT_GE(frames_.Wait("audio", opus.size() + 150).size(), opus.size() + 150);
    Control("pace 2001 audio 1000");
    Control("stop 2001 audio");
    ASSERT_TRUE(WaitJournal("totals 2001 audio out="));
    for (const char* bad : {"stop 2001 audio", "start 2001 audio codec=mp3", "start x video", "pace 2001 video fast",
                            "start 2001 video frames=two", "save video mp4 /tmp/x", "start 2001 video when=now"})
        Control(bad);
    EXPECT_TRUE(WaitLog("control: bad line: start 2001 video when=now"));
    const std::string log = ReadFile(dir_.File("sdk.log"));
    for (const char* bad : {"stop 2001 audio", "start 2001 audio codec=mp3", "start x video", "pace 2001 video fast",
                            "start 2001 video frames=two", "save video mp4 /tmp/x"})
        EXPECT_NE(log.find(std::string("control: bad line: ") + bad), std::string::npos) << bad;
}

// ---- the local user's frames ----

TEST_F(StandinSdkMedia, InputFramesAreCountedPerStreamJournaledAndWrittenOut)
{
    Control("save video annexb " + dir_.File("in.h264"));
    Control("save audio raw " + dir_.File("in.pcm"));
    Sync();

    const std::string a("\x00\x00\x00\x01\x09\xf0", 6), b("\x00\x00\x00\x01\x65\x88\x84", 7);
    const std::string pcm(640, '\x11');
    EXPECT_EQ(CVAPI_InputVideoDataEx(0, a.data(), static_cast<unsigned>(a.size()), 0, 3), 0);
    EXPECT_EQ(CVAPI_InputVideoDataEx(1, b.data(), static_cast<unsigned>(b.size()), 66, 1), 0);
    EXPECT_EQ(CVAPI_InputVideoDataEx(0, b.data(), static_cast<unsigned>(b.size()), 133, 5), 0);
    EXPECT_EQ(CVAPI_InputVideoDataEx(0, nullptr, 4, 200, 1), CV_ERR_INVALIDPARAM);
    EXPECT_EQ(CVAPI_InputAudioDataEx(0, pcm.data(), 640, 20, 0), 0);
    Control("save video off");
    Control("save audio off");
    Sync();
    EXPECT_EQ(ReadFile(dir_.File("in.h264")), a + b + b);
    EXPECT_EQ(ReadFile(dir_.File("in.pcm")), pcm);

    const std::string crcA = CrcForm(Crc32(a.data(), a.size())), crcB = CrcForm(Crc32(b.data(), b.size()));
    const std::vector<std::string> in = LinesWith(Journal(), "CVAPI_Input");
    ASSERT_EQ(in.size(), 5u);
    EXPECT_EQ(in[0], "CVAPI_InputVideoDataEx 0 seq=0 len=6 ts=0 flags=3 " + std::string("crc=") + crcA + " = 0");
    EXPECT_EQ(in[1], "CVAPI_InputVideoDataEx 1 seq=0 len=7 ts=66 flags=1 crc=" + crcB + " = 0");
    EXPECT_EQ(in[2], "CVAPI_InputVideoDataEx 0 seq=1 len=7 ts=133 flags=5 crc=" + crcB + " = 0");
    EXPECT_EQ(in[3], "CVAPI_InputVideoDataEx 0 seq=- len=4 ts=200 flags=1 data=null = 6");
    EXPECT_EQ(in[4], "CVAPI_InputAudioDataEx 0 seq=0 len=640 ts=20 flags=0 crc=" +
                         CrcForm(Crc32(pcm.data(), pcm.size())) + " = 0");

    // IVF: a file header, then each frame's size and time before its bytes.
    Control("save video ivf " + dir_.File("in.ivf") + " width=160 height=120");
    Sync();
    EXPECT_EQ(CVAPI_InputVideoDataEx(0, b.data(), static_cast<unsigned>(b.size()), 70, 1), 0);
    CVAPI_Release();
    const std::string ivf = ReadFile(dir_.File("in.ivf"));
    ASSERT_EQ(ivf.size(), 32u + 12 + b.size());
    EXPECT_EQ(ivf.substr(0, 4), "DKIF");
    EXPECT_EQ(ivf.substr(8, 4), "VP80");
    EXPECT_EQ(static_cast<unsigned char>(ivf[12]), 160);
    EXPECT_EQ(static_cast<unsigned char>(ivf[24]), 1);  // frame count written at the close
    EXPECT_EQ(static_cast<unsigned char>(ivf[32]), b.size());
    EXPECT_EQ(static_cast<unsigned char>(ivf[36]), 70);
    EXPECT_EQ(ivf.substr(44), b);
    EXPECT_GE(qgtest::Find(Journal(), "totals in video=4 audio=1"), 0);
    // Not started: refused and not counted.
    EXPECT_EQ(CVAPI_InputVideoDataEx(0, b.data(), static_cast<unsigned>(b.size()), 0, 1), CV_ERR_NOTINIT);
}

}  // namespace

// Two peers of the GStreamer media library negotiate with each other over
// loopback, as quillgate would hand their texts across: one offers and
// sends the camera fixture, the other answers and hands it back frame by
// frame, byte for byte.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/webrtc/cvrtc_api.h"

namespace {

struct Api {
    void* library = nullptr;
    int (*Initialize)() = nullptr;
    int (*UnInitialize)() = nullptr;
    uint32_t (*Create)(uint32_t, const char*, uint32_t, CVRTC_AudioData_CallBack, CVRTC_VideoData_CallBack,
                       CVRTC_DataChnl_CallBack, CVRTC_Event_CallBack, CVRTC_Info_CallBack, void*,
                       const char*) = nullptr;
    int (*Destroy)(uint32_t) = nullptr;
    int (*InputVideo)(uint32_t, RtcVideoFrame*) = nullptr;
    int (*SetDescription)(uint32_t, const char*) = nullptr;
    int (*GetState)(uint32_t) = nullptr;

    bool Open()
    {
        library = dlopen(QG_GST_RTC_DIR "/libcorvanewebrtcsdk.so", RTLD_NOW);
        if (!library)
            return false;
        Initialize = reinterpret_cast<int (*)()>(dlsym(library, "CVRTC_Initialize"));
        UnInitialize = reinterpret_cast<int (*)()>(dlsym(library, "CVRTC_UnInitialize"));
        Create = reinterpret_cast<decltype(Create)>(dlsym(library, "CVRTC_CreateWithGenerateHandle"));
        Destroy = reinterpret_cast<int (*)(uint32_t)>(dlsym(library, "CVRTC_Destroy"));
        InputVideo = reinterpret_cast<decltype(InputVideo)>(dlsym(library, "CVRTC_InputVideoStreamData"));
        SetDescription = reinterpret_cast<decltype(SetDescription)>(dlsym(library, "CVRTC_SetDescriptionInfo"));
        GetState = reinterpret_cast<int (*)(uint32_t)>(dlsym(library, "CVRTC_GetState"));
        return Initialize && UnInitialize && Create && Destroy && InputVideo && SetDescription && GetState;
    }
};

Api g_api;

// What the two peers hand each other and what the receiving one delivers.
struct Pair {
    std::mutex mu;
    std::condition_variable cv;
    uint32_t sender = 0, receiver = 0;
    std::vector<std::string> frames;  // the receiver's video, in order
    std::vector<std::string> texts;
    std::vector<std::string> events;
    int uninitFromCallback = 0;  // what CVRTC_UnInitialize said from inside a callback
};
Pair* g_pair = nullptr;

int OnInfo(uint32_t handle, uint32_t type, uint32_t, const char* text, void* user)
{
    Pair& p = *static_cast<Pair*>(user);
    uint32_t other;
    {
        std::lock_guard<std::mutex> lock(p.mu);
        p.texts.push_back(std::to_string(handle) + " " + std::to_string(type) + " " + text);
        other = handle == p.sender ? p.receiver : p.sender;
    }
    // From the callback's thread, as quillgate does.
    return g_api.SetDescription(other, text);
}

int OnEvent(uint32_t handle, int event, uint32_t param, uint64_t, const char* text, void* user)
{
    Pair& p = *static_cast<Pair*>(user);
    // A callback cannot stop the thread it runs on.
    const int uninit = g_api.UnInitialize();
    std::lock_guard<std::mutex> lock(p.mu);
    p.uninitFromCallback = uninit;
    p.events.push_back(std::to_string(handle) + " " + std::to_string(event) + " " + std::to_string(param) + " " +
                       (text ? text : ""));
    p.cv.notify_all();
    return 0;
}

int OnVideo(uint32_t, RtcVideoFrame* frame, uint32_t, uint32_t, void* user)
{
    Pair& p = *static_cast<Pair*>(user);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(frame);
    uint32_t length = 0;
    const char* data = nullptr;
    std::memcpy(&length, bytes + 32, 4);
    std::memcpy(&data, bytes + 36, sizeof data);
    std::lock_guard<std::mutex> lock(p.mu);
    p.frames.emplace_back(data, length);
    p.cv.notify_all();
    return 0;
}

int OnAudio(uint32_t, RtcAudioFrame*, uint32_t, uint32_t, void*)
{
    return 0;
}

int OnData(uint32_t, RtcDataPacket*, uint32_t, uint32_t, void*)
{
    return 0;
}

// The VP8 frames of the IVF camera fixture.
std::vector<std::string> CameraFrames()
{
    std::ifstream in(QG_SOURCE_DIR "/tests/data/media/camera_320x240_15fps.ivf", std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> frames;
    size_t at = 32;
    while (at + 12 <= file.size()) {
        uint32_t size = 0;
        std::memcpy(&size, file.data() + at, 4);
        if (at + 12 + size > file.size())
            break;
        frames.push_back(file.substr(at + 12, size));
        at += 12 + size;
    }
    return frames;
}

TEST(GstMediaLibrary, TwoPeersConnectOverLoopbackAndTheCameraArrivesByteForByte)
{
    ASSERT_TRUE(g_api.Open()) << dlerror();
    ASSERT_EQ(g_api.Initialize(), 0);
    Pair pair;
    g_pair = &pair;
    {
        std::lock_guard<std::mutex> lock(pair.mu);
        // The receiver first, so the sender's offer finds it.
        pair.receiver = g_api.Create(CVRTC_DIRECTION_SEND, "", 4, OnAudio, OnVideo, OnData, OnEvent, OnInfo, &pair,
                                     "{\"peerconnectionid\":\"in\"}");
        pair.sender = g_api.Create(CVRTC_DIRECTION_RECV, "", 4, OnAudio, OnVideo, OnData, OnEvent, OnInfo, &pair,
                                   "{\"peerconnectionid\":\"out\"}");
    }
    ASSERT_NE(pair.sender, CVRTC_INVALID_HANDLE);
    ASSERT_NE(pair.receiver, CVRTC_INVALID_HANDLE);

    // Both ends connected.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline &&
           (g_api.GetState(pair.sender) != 3 || g_api.GetState(pair.receiver) != 3))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(g_api.GetState(pair.sender), 3);
    ASSERT_EQ(g_api.GetState(pair.receiver), 3);

    // The two-second clip three times over.
    std::vector<std::string> frames;
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::string> clip = CameraFrames();
        frames.insert(frames.end(), clip.begin(), clip.end());
    }
    ASSERT_EQ(frames.size(), 90u);
    for (const std::string& frame : frames) {
        RtcVideoFrame record = {};
        record.timestamp = 0;
        record.length = static_cast<uint32_t>(frame.size());
        record.data = reinterpret_cast<uint8_t*>(const_cast<char*>(frame.data()));
        EXPECT_EQ(g_api.InputVideo(pair.sender, &record), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 / 15));
    }
    {
        std::unique_lock<std::mutex> lock(pair.mu);
        // The last frames through the jitter buffer; longer only when some were dropped.
        pair.cv.wait_for(lock, std::chrono::seconds(10), [&] { return pair.frames.size() >= frames.size(); });
    }
    std::vector<std::string> got;
    {
        std::lock_guard<std::mutex> lock(pair.mu);
        got = pair.frames;
    }
    // Nine in ten at least, each whole and in the order sent. RTP has no
    // resend here: on a loaded host the jitter buffer may drop a late frame,
    // so a gap passes, a changed or reordered frame does not.
    ASSERT_GT(got.size(), frames.size() * 9 / 10);
    size_t sent = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        while (sent < frames.size() && frames[sent] != got[i])
            ++sent;
        ASSERT_LT(sent, frames.size()) << "frame " << i << " of " << got.size() << " was never sent, or out of order";
        ++sent;
    }
    EXPECT_EQ(pair.uninitFromCallback, -1);
    EXPECT_EQ(g_api.Destroy(pair.sender), 0);
    EXPECT_EQ(g_api.Destroy(pair.sender), 3);
    EXPECT_EQ(g_api.Destroy(pair.receiver), 0);
    EXPECT_EQ(g_api.UnInitialize(), 0);
}

// Descriptions and candidates the library refuses, each with its code.
TEST(GstMediaLibrary, RefusesBadSignallingWithItsCodes)
{
    ASSERT_TRUE(g_api.Open()) << dlerror();
    ASSERT_EQ(g_api.SetDescription(1, "{\"type\":\"offer\",\"sdp\":\"v=0\"}"), 2);  // before Initialize
    ASSERT_EQ(g_api.Initialize(), 0);
    Pair pair;
    const uint32_t peer = g_api.Create(CVRTC_DIRECTION_SEND, "", 4, OnAudio, OnVideo, OnData, OnEvent, OnInfo, &pair,
                                       "{\"peerconnectionid\":\"p\"}");
    ASSERT_NE(peer, CVRTC_INVALID_HANDLE);
    const struct {
        const char* name;
        uint32_t handle;
        const char* text;
        int code;
    } cases[] = {
        {"no such peer", peer + 100, "{\"type\":\"candidate\",\"candidate\":\"x\"}", 3},
        {"a null text", peer, nullptr, 4},
        {"not JSON", peer, "v=0", 4},
        {"a type that is not a string", peer, "{\"type\":1}", 4},
        {"a candidate without its text", peer, "{\"type\":\"candidate\"}", 4},
        {"an offer without sdp", peer, "{\"type\":\"offer\"}", 5},
        {"an answer with no section", peer, "{\"type\":\"answer\",\"sdp\":\"v=0\\r\\ns=-\\r\\n\"}", 5},
        {"the end of the candidates", peer, "{\"type\":\"candidate\",\"candidate\":\"\"}", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(g_api.SetDescription(c.handle, c.text), c.code) << c.name;
    EXPECT_EQ(g_api.GetState(peer), 0);
    EXPECT_EQ(g_api.UnInitialize(), 0);
    EXPECT_EQ(g_api.GetState(peer), -1);
}

}  // namespace

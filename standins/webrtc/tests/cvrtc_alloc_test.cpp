// With its journal off the stand-in media library's media paths only count:
// no heap allocation per frame, on its media thread or in frame input.
// This program links the counting operator new (exported, so the opened
// library uses it too).
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "quillgate/webrtc/cvrtc_api.h"
#include "tests/support/alloc_counter.h"

namespace {

std::atomic<int> g_frames{0};
std::atomic<unsigned long> g_newsAtSecond{0}, g_newsAtLatest{0};

int OnFrame()
{
    const int n = ++g_frames;
    if (n == 2)
        g_newsAtSecond = qgtest::ThreadNews();
    g_newsAtLatest = qgtest::ThreadNews();
    return 0;
}
int OnVideo(uint32_t, RtcVideoFrame*, uint32_t, uint32_t, void*)
{
    return OnFrame();
}
int OnAudio(uint32_t, RtcAudioFrame*, uint32_t, uint32_t, void*)
{
    return OnFrame();
}
int OnInfo(uint32_t, uint32_t, uint32_t, const char*, void*)
{
    return 0;
}

const char kOffer[] = "{\"peerconnectionid\":\"p1\",\"type\":\"offer\",\"sdp\":\"v=0\\r\\n"
                      "m=audio 9 UDP/TLS/RTP/SAVPF 111\\r\\na=sendonly\\r\\na=rtpmap:111 opus/48000/2\\r\\n"
                      "m=video 9 UDP/TLS/RTP/SAVPF 102\\r\\na=sendonly\\r\\na=rtpmap:102 H264/90000\\r\\n\"}";

TEST(StandinRtcJournalOff, MediaFramesCostNoAllocationEitherWay)
{
    unsetenv("QG_RTC_JOURNAL");
    unsetenv("QG_RTC_CONTROL");
    void* lib = dlopen((std::string(QG_BIN_DIR) + "/libcorvanewebrtcsdk.so").c_str(), RTLD_NOW);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto init = reinterpret_cast<decltype(&CVRTC_Initialize)>(dlsym(lib, "CVRTC_Initialize"));
    auto uninit = reinterpret_cast<decltype(&CVRTC_UnInitialize)>(dlsym(lib, "CVRTC_UnInitialize"));
    auto create =
        reinterpret_cast<decltype(&CVRTC_CreateWithGenerateHandle)>(dlsym(lib, "CVRTC_CreateWithGenerateHandle"));
    auto describe = reinterpret_cast<decltype(&CVRTC_SetDescriptionInfo)>(dlsym(lib, "CVRTC_SetDescriptionInfo"));
    auto input = reinterpret_cast<decltype(&CVRTC_InputVideoStreamData)>(dlsym(lib, "CVRTC_InputVideoStreamData"));
    ASSERT_TRUE(init && uninit && create && describe && input);

    ASSERT_EQ(init(), 0);
    const uint32_t h = create(CVRTC_DIRECTION_SEND, "", 4, OnAudio, OnVideo, nullptr, nullptr, OnInfo, nullptr,
                              "{\"peerconnectionid\":\"p1\"}");
    ASSERT_EQ(h, 1u);
    ASSERT_EQ(describe(h, kOffer), 0);

    // Quillgate's frames: counted on the caller's thread, nothing allocated.
    static const unsigned char bytes[1000] = {0};
    unsigned char rec[44] = {0};
    const void* data = bytes;
    rec[32] = 0xE8;  // length 1000
    rec[33] = 0x03;
    __builtin_memcpy(rec + 36, &data, sizeof data);
    const unsigned long before = qgtest::ThreadNews();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(input(h, reinterpret_cast<RtcVideoFrame*>(rec)), 0);
    EXPECT_EQ(qgtest::ThreadNews() - before, 0u);

    // The browser's camera and microphone, real-paced on the media thread.
    for (int i = 0; i < 1000 && g_frames < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(g_frames.load(), 20);
    EXPECT_EQ(g_newsAtLatest - g_newsAtSecond, 0u);

    EXPECT_EQ(uninit(), 0);
    dlclose(lib);
}

}  // namespace

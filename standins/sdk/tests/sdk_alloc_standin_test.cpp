// With its journal off the stand-in SDK's media paths only count: no heap
// allocation per frame on its media thread or in frame input, and no file.
// This program links the counting operator new (exported, so the SDK
// library uses it too).
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "quillgate/sdklink/cvapi.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/test_support.h"

namespace {

std::atomic<int> g_frames{0};
std::atomic<unsigned long> g_newsAtSecond{0}, g_newsAtLatest{0};

void OnFrame()
{
    const int n = ++g_frames;
    if (n == 2)
        g_newsAtSecond = qgtest::ThreadNews();
    g_newsAtLatest = qgtest::ThreadNews();
}
void OnVideo(unsigned, void*, unsigned, unsigned, void*, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
             unsigned, unsigned, unsigned)
{
    OnFrame();
}
void OnAudio(unsigned, void*, unsigned, WAVEFORMATEX, unsigned, void*)
{
    OnFrame();
}

TEST(StandinSdkJournalOff, MediaFramesCostNoAllocationEitherWayAndWriteNoFile)
{
    qgtest::TempDir dir("qg-sdk-alloc-");
    unsetenv("QG_SDK_JOURNAL");
    unsetenv("QG_SDK_LOG");
    unsetenv("QG_SDK_CONTROL");
    unsetenv("QG_SDK_SCENARIO");
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    ASSERT_EQ(CVAPI_InitSDK(nullptr, CV_INIT_FLAGS_DEFAULT), 0);
    CVAPI_SetVideoDataExCallBack(CV_VIDEO_CB_FORMAT_ENCODED, OnVideo, nullptr);
    CVAPI_SetAudioDataExCallBack(OnAudio, nullptr);

    // The local user's frames: counted on the caller's thread, nothing allocated.
    static const unsigned char bytes[1000] = {0};
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(CVAPI_InputVideoDataEx(static_cast<unsigned>(i % 3), bytes, sizeof bytes, i, 1), 0);
    const unsigned long before = qgtest::ThreadNews();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(CVAPI_InputVideoDataEx(static_cast<unsigned>(i % 3), bytes, sizeof bytes, i, 1), 0);
        ASSERT_EQ(CVAPI_InputAudioDataEx(0, bytes, 640, i, 0), 0);
    }
    EXPECT_EQ(qgtest::ThreadNews() - before, 0u);

    // A remote user's camera and microphone, real-paced on the media thread.
    const char option[] = "{\"flags\":0,\"videocodec\":1}";
    ASSERT_EQ(CVAPI_SetSDKOption(CV_OPT_OUTPUT_VIDEO_FORMAT, option, sizeof option - 1), 0);
    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
    ASSERT_EQ(CVAPI_Login("alice", "pw", 0), 0);
    ASSERT_EQ(CVAPI_EnterRoom(5, "", 0), 0);
    ASSERT_EQ(CVAPI_UserCameraControl(2001, 1), 0);
    ASSERT_EQ(CVAPI_UserSpeakControl(2001, 1), 0);
    for (int i = 0; i < 1000 && g_frames < 40; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(g_frames.load(), 40);
    EXPECT_EQ(g_newsAtLatest - g_newsAtSecond, 0u);

    EXPECT_EQ(CVAPI_Release(), 0);
    // Nothing was written anywhere.
    int entries = 0;
    if (DIR* d = opendir(".")) {
        while (dirent* e = readdir(d))
            entries += e->d_name[0] != '.';
        closedir(d);
    }
    EXPECT_EQ(entries, 0);
}

}  // namespace

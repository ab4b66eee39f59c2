// The media-library loader against the stand-in library files: bound
// entirely or not at all, the first library kept for good, unbound
// wrappers answering without a call. One process holds one loader, so the
// steps run in one test, in the order a process meets them.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "quillgate/log/proxy_log.h"
#include "quillgate/webrtc/media_sdk_helper.h"
#include "tests/support/gateway_run.h"

namespace {

std::mutex g_linesMutex;
std::vector<std::string> g_lines;

void Collect(const char* line)
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    g_lines.push_back(line);
}

bool Logged(const std::string& prefix)
{
    std::lock_guard<std::mutex> lock(g_linesMutex);
    for (const std::string& l : g_lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

TEST(MediaLibraryLoader, BindsAllOrNothingKeepsTheFirstLibraryAndAnswersUnboundWithoutACall)
{
    SetProxyLogLevel(1);
    SetProxyLogSink(&Collect);
    CMediaSDKHelper& loader = CMediaSDKHelper::GetInstance();

    // Nothing loaded: every wrapper gives its unbound result.
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_EQ(loader.Initialize(), -1);
    EXPECT_EQ(loader.UnInitialize(), -1);
    EXPECT_EQ(loader.CreateWithGenerateHandle(1, "", 4, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "{}"),
              CVRTC_INVALID_HANDLE);
    EXPECT_EQ(loader.Destroy(1), -1);
    EXPECT_EQ(loader.InputVideoStreamData(1, nullptr), -1);
    EXPECT_EQ(loader.SetDescriptionInfo(1, "{}"), -1);
    EXPECT_EQ(loader.GetState(1), -1);
    EXPECT_EQ(loader.SelectObjExist(1), 1);
    uint32_t major = 7;
    EXPECT_EQ(loader.GetVersion(&major, &major, nullptr, 0), -1);
    EXPECT_EQ(major, 7u);

    // A file that is not there: the loader's own text, nothing bound.
    const std::string bin = qgtest::BinDir() + "/";
    EXPECT_EQ(loader.LoadSDKLibrary(bin.c_str(), "libnot-here.so"), 0u);
    EXPECT_TRUE(Logged(bin + "libnot-here.so: cannot open shared object file"));
    // No folder, or one that does not fit: never a search elsewhere.
    EXPECT_EQ(loader.LoadSDKLibrary("", "libcorvanewebrtcsdk.so"), 0u);
    const std::string deep = "/" + std::string(300, 'd') + "/";
    EXPECT_EQ(loader.LoadSDKLibrary(deep.c_str(), "libcorvanewebrtcsdk.so"), 0u);
    EXPECT_FALSE(loader.IsLoaded());

    // A build with 12 of the 13 entry points is closed again.
    EXPECT_EQ(loader.LoadSDKLibrary(QG_RTC12_DIR "/", "libcorvanewebrtcsdk.so"), 0u);
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_EQ(loader.Initialize(), -1);

    // The real file beside the program, with its version line.
    EXPECT_EQ(loader.LoadSDK(4), 1u);
    EXPECT_TRUE(loader.IsLoaded());
    EXPECT_TRUE(Logged("load libcorvanewebrtcsdk.so success! version:"));
    EXPECT_NE(loader.Initialize(), -1);

    // Another browser type later: the first library stays, success again.
    EXPECT_EQ(loader.LoadSDK(2), 1u);
    EXPECT_TRUE(Logged("load libcorvanewebrtcsdkpv.so success! version:"));
    EXPECT_NE(loader.UnInitialize(), -1);
    // The process as it was: a repeat starts with nothing loaded.
    EXPECT_EQ(loader.UnloadSDK(), 1);
    EXPECT_FALSE(loader.IsLoaded());
    SetProxyLogSink(nullptr);
}

}  // namespace

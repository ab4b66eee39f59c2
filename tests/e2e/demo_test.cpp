// The demo a newcomer runs first (scripts/demo.sh): the whole session in wire
// order, its logs left to open, and a verdict line at the very end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/support/gateway_run.h"

using qgtest::Find;
using qgtest::ReadLines;
using qgtest::TempDir;

TEST(Demo, ShowsTheSessionInWireOrderKeepsItsLogsAndEndsWithItsVerdict)
{
    TempDir dir;
    const std::string out = dir.File("screen");
    // The demo takes some 13 s here; the bound only ends a hung one, within
    // ctest's 300 s, and leaves room for a sanitizer build on a loaded host.
    const std::string command = "timeout 240 " + std::string(QG_SOURCE_DIR) + "/scripts/demo.sh " + qgtest::BinDir() +
                                " " + dir.File("logs") + " >" + out + " 2>&1";
    const int status = system(command.c_str());
    const std::vector<std::string> screen = ReadLines(out);
    std::string dump;
    for (const std::string& line : screen)
        dump += line + "\n";
    ASSERT_TRUE(WIFEXITED(status)) << dump;
    EXPECT_EQ(WEXITSTATUS(status), 0) << dump;
    ASSERT_GE(screen.size(), 4u) << dump;
    EXPECT_EQ(screen.back().rfind("demo: passed 44 of 44 steps (registration, ", 0), 0u) << dump;
    EXPECT_NE(screen.back().find("; exit status 0"), std::string::npos) << dump;

    // Each request's line is above the reply it caused.
    int at = 0;
    for (const char* line :
         {"call consultParam(20, 1, ", "recv replyConsultParam(\"standin-session\", 20, ",
          "call getRoomOnlineUsers(4, 5)", "recv replyGetRoomOnlineUsers(", "call consultParam(33, 1, ",
          "recv notifyWebrtcConsult(\"standin-session\", 0, "
          "\"{\\\"peerconnectionid\\\":\\\"browser-data\\\",\\\"type\\\":\\\"resetdatachannel\\\"}\")",
          "call logout(9)", "recv replyLogout(", "quillgate exit 0"}) {
        at = Find(screen, line, at);
        ASSERT_GE(at, 0) << "missing or out of order: " << line << "\n" << dump;
    }
    for (const std::string& line : screen)
        EXPECT_EQ(line.find("warning:"), std::string::npos) << line;
    // The camera over the data channel: both plays, every frame as the tools list it.
    for (const char* line : {"camera over the data channel: 60 frames, CRC-32s as the tools list "
                             "stream_vp8_opus.webm twice",
                             "microphone over the data channel: 202 frames, CRC-32s as the tools list "
                             "stream_vp8_opus.webm twice"})
        EXPECT_GE(Find(screen, line), 0) << line << "\n" << dump;
    // The logs the sections came from stay where the last lines say.
    for (const char* name : {"gateway.out", "sdk.journal", "rtc.journal", "parent.out", "sdk.log"}) {
        const std::string path = dir.File("logs/") + name;
        EXPECT_FALSE(ReadLines(path).empty()) << name;
        bool told = false;
        for (size_t k = screen.size() - 6; k < screen.size() - 1; ++k)
            told = told || screen[k].find(path) != std::string::npos;
        EXPECT_TRUE(told) << path << "\n" << dump;
    }
}

// The browser's peers end to end: the stand-in gateway starts the real
// quillgate, which loads the stand-in media library from its own folder;
// peers are created, negotiated both ways with candidates, and ended by a
// departure, a closed camera, leaving the room and logout.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/case_names.h"
#include "tests/e2e/call_result.h"
#include "tests/support/gateway_run.h"
#include "tests/support/webrtc_script.h"

namespace {

using qgtest::BrowserMessage;
using qgtest::CreatePeer;
using qgtest::GatewayRun;
using qgtest::InitParams;
using qgtest::Notified;
using qgtest::RunGateway;
using qgtest::ScriptString;
using qgtest::SdkSetup;
using qgtest::TempDir;

TEST(WebrtcRoad, PeersAreNegotiatedBothWaysAndEndWithDepartureCloseAndLogout)
{
    TempDir dir;
    const std::string script =
        "wait initiateQiullgateDelegate\n"
        "call setGeneralParam 1 1 " + ScriptString(InitParams(4)) + "\n"
        "call login 2 \"127.0.0.1:8906\" \"alice\" \"pw\" 0 \"{}\"\n"
        "wait replyLogin\n"
        "call enterRoom 3 5 \"\" 0\n"
        "wait notifyOnlineUser\n"
        // A receiving peer for user 2001: the library offers, the browser answers.
        "call consultParam 4 1 " + ScriptString(CreatePeer("recv1", 2, 2001)) + "\n"
        "wait replyConsultParam\n"
        "wait notifyWebrtcConsult\n"
        "call webrtcConsult 5 " + ScriptString(BrowserMessage("chrome_answer", "recv1")) + "\n"
        "wait replyWebrtcConsult\n"
        // The browser's own camera through a sending peer: it offers, the library answers.
        "call consultParam 6 1 " + ScriptString(CreatePeer("send1", 1, 1001)) + "\n"
        "wait replyConsultParam\n"
        "call webrtcConsult 7 " + ScriptString(BrowserMessage("firefox_offer", "send1")) + "\n"
        "wait replyWebrtcConsult\n"
        "call webrtcConsult 8 " +
        ScriptString("{\"candidate\":\"candidate:1 1 udp 2122260223 127.0.0.1 50000 typ host\","
                     "\"peerconnectionid\":\"send1\",\"type\":\"candidate\"}") + "\n"
        "wait replyWebrtcConsult\n"
        // User 2001 leaves: its receiving peer ends.
        "sleep 300\n"
        "wait notifyUserAtRoom\n"
        // A camera closed for the own user ends the sending peer.
        "call userCameraControlEx 9 -1 false 0 0 \"{}\"\n"
        "sleep 200\n"
        "call consultParam 10 1 " + ScriptString(CreatePeer("late", 2, 2002)) + "\n"
        "wait replyConsultParam\n"
        "call logout 11\n"
        "wait replyLogout\n";
    SdkSetup sdk;
    sdk.control.push_back({"recv replyWebrtcConsult(\"standin-session\", 8,", "user leave 2001"});
    const GatewayRun run = RunGateway(dir, {"-w", "15"}, script, 90, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    // Loaded at init, by browser type.
    EXPECT_GE(run.Log("load libcorvanewebrtcsdk.so success! version:3_1, compiletime:stand-in"), 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_Initialize = 0"), 0) << run.Dump();

    // The receiving peer: created with direction 1, its offer rewritten to
    // sendonly, the browser's answer to recvonly without ssrc lines.
    EXPECT_GE(run.Out("recv replyConsultParam(\"standin-session\", 4, 0, 1, \"{\\\"peerconnectionid\\\":\\\"recv1\\\"}\")"), 0)
        << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_CreateWithGenerateHandle 1 \"stun:"), 0) << run.Dump();
    const std::string offer = Notified(run, "recv1", "offer");
    ASSERT_NE(offer, "") << run.Dump();
    EXPECT_NE(offer.find("a=sendonly"), std::string::npos);
    EXPECT_EQ(offer.find("a=sendrecv"), std::string::npos);
    EXPECT_NE(Notified(run, "recv1", "candidate"), "") << run.Dump();
    const int answered = run.RtcJournal("CVRTC_SetDescriptionInfo 1 ");
    ASSERT_GE(answered, 0) << run.Dump();
    const std::string& handed = run.rtcJournal[static_cast<size_t>(answered)];
    EXPECT_NE(handed.find("a=recvonly"), std::string::npos);
    EXPECT_EQ(handed.find("a=ssrc"), std::string::npos);
    EXPECT_GE(run.Out("recv replyWebrtcConsult(\"standin-session\", 5, 0, \"\")"), 0) << run.Dump();

    // The sending peer: the library's answer reaches the browser recvonly
    // without ssrc lines; the browser's candidate reaches the library as it came.
    EXPECT_GE(run.RtcJournal("CVRTC_CreateWithGenerateHandle 2 \"stun:"), 0) << run.Dump();
    const std::string answer = Notified(run, "send1", "answer");
    ASSERT_NE(answer, "") << run.Dump();
    EXPECT_NE(answer.find("a=recvonly"), std::string::npos);
    EXPECT_EQ(answer.find("a=ssrc"), std::string::npos);
    EXPECT_GE(run.RtcJournal("CVRTC_SetDescriptionInfo 2 \"{\\\"candidate\\\":\\\"candidate:1 1 udp"), 0)
        << run.Dump();
    EXPECT_GE(run.Out("recv replyWebrtcConsult(\"standin-session\", 8, 0, \"\")"), 0) << run.Dump();
    // Debug flag 2: the texts are in the log.
    EXPECT_GE(run.Log("CWebRtcConnect::ModifyWebAnswerInfo:  modify web answer sdp Info: "), 0) << run.Dump();

    // Departure, closed camera, logout.
    const int left = run.Out("recv notifyUserAtRoom(\"standin-session\", 0, 2001, ");
    ASSERT_GE(left, 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_Destroy 1 = 0"), 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_Destroy 2 = 0"), 0) << run.Dump();
    EXPECT_GE(run.Log("CWebRtcConnect::DestroyAllWebrtcSDK: clean all webrtcsdk obj success!"), 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_UnInitialize = 0"), 0) << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
}

TEST(WebrtcRoad, LeavingTheRoomEndsEveryPeerAndCreationWaitsForTheNextInitParameters)
{
    TempDir dir;
    const std::string script =
        "wait initiateQiullgateDelegate\n"
        "call setGeneralParam 1 1 " + ScriptString(InitParams(4)) + "\n"
        "call consultParam 2 1 " + ScriptString(CreatePeer("a", 2, 2001)) + "\n"
        "wait replyConsultParam\n"
        "call leaveRoom 3 5\n"
        "wait replyLeaveRoom\n"
        "call consultParam 4 1 " + ScriptString(CreatePeer("b", 2, 2001)) + "\n"
        "wait replyConsultParam\n"
        "call setGeneralParam 5 1 " + ScriptString(InitParams(4)) + "\n"
        "call consultParam 6 1 " + ScriptString(CreatePeer("b", 2, 2001)) + "\n"
        "wait replyConsultParam\n"
        "call logout 7\n"
        "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyConsultParam(\"standin-session\", 2, 0, 1,"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyConsultParam(\"standin-session\", 4, -1, 1,"), 0) << run.Dump();
    EXPECT_GE(run.Log("CWebRtcConnect::CreateWebrtcSDK: create webrtcsdk obj Fail! dwHandle:-1"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyConsultParam(\"standin-session\", 6, 0, 1,"), 0) << run.Dump();
    // A second init message keeps the library loaded first.
    EXPECT_EQ(run.All("call setGeneralParam(").size(), 2u);
}

TEST(WebrtcRoad, BrowserTypesTwoAndThreeOpenTheSecondLibraryAndTypeTwoSkipsReceivingPeers)
{
    TempDir dir;
    const std::string script =
        "wait initiateQiullgateDelegate\n"
        "call setGeneralParam 1 1 " + ScriptString(InitParams(2)) + "\n"
        "call consultParam 2 1 " + ScriptString(CreatePeer("skipped", 2, 2001)) + "\n"
        "wait replyConsultParam\n"
        "call logout 3\n"
        "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Log("load libcorvanewebrtcsdkpv.so success!"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyConsultParam(\"standin-session\", 2, 0, 1, "
                      "\"{\\\"peerconnectionid\\\":\\\"skipped\\\"}\")"),
              0)
        << run.Dump();
    EXPECT_LT(run.RtcJournal("CVRTC_CreateWithGenerateHandle"), 0) << run.Dump();
}

// ---- a program folder without a usable media library ----

struct MissingCase {
    const char* name;
    const char* libraryFrom;  // where the folder's libcorvanewebrtcsdk.so comes from; null: none
};
QG_PRINT_CASE_BY_NAME(MissingCase)

class WithoutLibrary : public ::testing::TestWithParam<MissingCase>
{};

TEST_P(WithoutLibrary, EveryPeerRequestFailsWhileTheSessionServesOn)
{
    const MissingCase& c = GetParam();
    TempDir dir;
    // quillgate and the SDK in a folder of their own, as installed.
    const std::string folder = dir.File("bin");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (const char* file : {"quillgate", "dizoveverivuve.so"}) {
        std::ifstream in(qgtest::BinDir() + "/" + file, std::ios::binary);
        std::ofstream(folder + "/" + file, std::ios::binary) << in.rdbuf();
    }
    ASSERT_EQ(chmod((folder + "/quillgate").c_str(), 0755), 0);
    if (c.libraryFrom) {
        std::ifstream in(std::string(c.libraryFrom) + "/libcorvanewebrtcsdk.so", std::ios::binary);
        std::ofstream(folder + "/libcorvanewebrtcsdk.so", std::ios::binary) << in.rdbuf();
    }
    const std::string script =
        "wait initiateQiullgateDelegate\n"
        "call setGeneralParam 1 1 " + ScriptString(InitParams(4)) + "\n"
        "call consultParam 2 1 " + ScriptString(CreatePeer("p", 2, 2001)) + "\n"
        "wait replyConsultParam\n"
        "call webrtcConsult 3 " + ScriptString(BrowserMessage("chrome_answer", "p")) + "\n"
        "wait replyWebrtcConsult\n"
        "call getSDKOptionInt 4 221\n"
        "wait replyGetSDKOptionInt\n"
        "call logout 5\n"
        "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10", "-q", folder + "/quillgate"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Log("load libcorvanewebrtcsdk.so fail!"), 0) << run.Dump();
    EXPECT_GE(run.Log("[HandleInitParam()]=0, line:947, rtcquillgate load webrtc sdk library fail! browserType:4"), 0)
        << run.Dump();
    EXPECT_GE(run.Log("[HandleInitParam()]=-1, line:953, Initialize fail!"), 0) << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "setGeneralParam(1, 1, "), "-1") << run.Dump();
    EXPECT_GE(run.Out("recv replyConsultParam(\"standin-session\", 2, -1, 1,"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyWebrtcConsult(\"standin-session\", 3, -1, \"\")"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyGetSDKOptionInt(\"standin-session\", 4, 0, 221, 1)"), 0) << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(Folders, WithoutLibrary,
                         ::testing::Values(MissingCase{"no library file", nullptr},
                                           MissingCase{"twelve entry points", QG_RTC12_DIR}),
                         qgtest::ByName());

// ---- every exit road with peers alive ----

struct ExitCase {
    const char* name;
    std::vector<std::string> args;
    const char* end;  // script lines that end the session
    const char* exitLine;
};
QG_PRINT_CASE_BY_NAME(ExitCase)

class ExitWithPeers : public ::testing::TestWithParam<ExitCase>
{};

TEST_P(ExitWithPeers, EndsWithTheUsualStatus)
{
    const ExitCase& c = GetParam();
    TempDir dir;
    const std::string script = "wait initiateQiullgateDelegate\n"
                               "call setGeneralParam 1 1 " +
                               ScriptString(InitParams(4)) + "\n" + "call consultParam 2 1 " +
                               ScriptString(CreatePeer("r", 2, 2001)) + "\n" + "call consultParam 3 1 " +
                               ScriptString(CreatePeer("s", 1, 1001)) + "\n" +
                               "wait notifyWebrtcConsult\n" + c.end;
    std::vector<std::string> args = {"-w", "45"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const GatewayRun run = RunGateway(dir, args, script, 90);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Out(c.exitLine), 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_UnInitialize = 0"), 0) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Roads, ExitWithPeers,
    ::testing::Values(ExitCase{"logout", {}, "call logout 9\nwait replyLogout\n", "quillgate exit 0"},
                      ExitCase{"q on standard input", {}, "stdin \"q\"\n", "quillgate exit 0"},
                      ExitCase{"heartbeat silence", {"-1"}, "", "quillgate exit 0"}),
    qgtest::ByName());

}  // namespace

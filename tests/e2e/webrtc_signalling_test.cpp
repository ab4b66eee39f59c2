// Browser signalling end to end: the stand-in gateway starts the real
// quillgate, which opens the stand-in media library; texts go both ways
// over Ice and through the library's callbacks, and what each side was
// handed is read back from the gateway's lines, the library's journal and
// quillgate's log. The library's control FIFO injects texts for unknown
// handles, refusals and the like; a text the library sends back to the
// browser after a control line shows the line has been read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/case_names.h"
#include "tests/support/gateway_run.h"
#include "tests/support/webrtc_script.h"

namespace {

using qgtest::BrowserMessage;
using qgtest::CallArgs;
using qgtest::CreatePeer;
using qgtest::GatewayRun;
using qgtest::InitParams;
using qgtest::RtcStep;
using qgtest::RunGateway;
using qgtest::ScriptString;
using qgtest::SdkSetup;
using qgtest::TempDir;

// Script waits are generous: the sanitizer trees are several times slower.
std::string Wait(const std::string& op)
{
    return "wait " + op + " 30000\n";
}

std::string Init(const std::string& params)
{
    return "wait initiateQiullgateDelegate 30000\ncall setGeneralParam 1 1 " + ScriptString(params) + "\n";
}

std::string Consult(int reqid, const std::string& json)
{
    return "call consultParam " + std::to_string(reqid) + " 1 " + ScriptString(json) + "\n" + Wait("replyConsultParam");
}

std::string Signal(int reqid, const std::string& json)
{
    return "call webrtcConsult " + std::to_string(reqid) + " " + ScriptString(json) + "\n";
}

const char kLogout[] = "call logout 90\nwait replyLogout 30000\n";
const char kSession[] = "\"standin-session\"";

// The library offers at once to a receiving peer, then sends two candidates.
const int kOwnOfferTexts = 3;

std::string Notifications(int n)
{
    std::string lines;
    for (int i = 0; i < n; ++i)
        lines += Wait("notifyWebrtcConsult");
    return lines;
}

std::string Candidate(const std::string& peerId)
{
    return "{\"candidate\":\"candidate:1 1 udp 2122260223 127.0.0.1 50000 typ host\",\"peerconnectionid\":\"" + peerId +
           "\",\"sdpMLineIndex\":0,\"sdpMid\":\"0\",\"type\":\"candidate\"}";
}

// The arguments after the session id of every notifyWebrtcConsult.
std::vector<std::vector<std::string>> NotifyArgs(const GatewayRun& run)
{
    std::vector<std::vector<std::string>> all;
    for (const std::string& line : run.All("recv notifyWebrtcConsult(")) {
        std::vector<std::string> args = CallArgs(line);
        if (args.size() == 3)
            all.push_back({args[1], args[2]});
    }
    return all;
}

std::string ReplyLine(int reqid, int code)
{
    return "recv replyWebrtcConsult(" + std::string(kSession) + ", " + std::to_string(reqid) + ", " +
           std::to_string(code) + ", \"\")";
}

// The journal line of the n-th (from 0) text the library was handed for
// this handle, "" when there is none.
std::string Handed(const GatewayRun& run, int handle, int n = 0)
{
    const std::string prefix = "CVRTC_SetDescriptionInfo " + std::to_string(handle) + " ";
    for (int at = run.RtcJournal(prefix); at >= 0; at = run.RtcJournal(prefix, at + 1))
        if (n-- == 0)
            return run.rtcJournal[static_cast<size_t>(at)];
    return "";
}

int CountLog(const GatewayRun& run, const std::string& prefix)
{
    int n = 0;
    for (int at = run.Log(prefix); at >= 0; at = run.Log(prefix, at + 1))
        ++n;
    return n;
}

bool Ends(const std::string& line, const std::string& tail)
{
    return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- library to browser: texts for a handle without a peer ----

struct UnknownHandleCase {
    const char* name;
    int type;  // the info callback's message type
    std::string text;
    const char* reqid;     // of the notification the browser gets
    std::string notified;  // its text
    const char* result;    // quillgate's answer to the library
};
QG_PRINT_CASE_BY_NAME(UnknownHandleCase)

class UnknownHandle : public ::testing::TestWithParam<UnknownHandleCase>
{};

TEST_P(UnknownHandle, GivesTheBrowserWhatTheTypeCallsFor)
{
    const UnknownHandleCase& c = GetParam();
    TempDir dir;
    SdkSetup sdk;
    // Handle 99 names no peer; the callbacks are those of the live peer 1.
    sdk.control = {
        RtcStep("recv replyConsultParam(", "info 99 " + std::to_string(c.type) + " " + qgtest::Hex(c.text) + " via=1")};
    // A sending peer: the library says nothing to it before the browser does.
    const std::string script = Init(InitParams(4)) + Consult(2, CreatePeer("s", 1, 5)) + Notifications(1) + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "30"}, script, 120, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    const std::vector<std::vector<std::string>> notified = NotifyArgs(run);
    ASSERT_EQ(notified.size(), 1u) << run.Dump();
    EXPECT_EQ(notified[0][0], c.reqid);
    EXPECT_EQ(notified[0][1], c.notified);
    const int cb = run.RtcJournal("cb info 99 " + std::to_string(c.type) + " 0 ");
    ASSERT_GE(cb, 0) << run.Dump();
    EXPECT_TRUE(Ends(run.rtcJournal[static_cast<size_t>(cb)], std::string(" = ") + c.result))
        << run.rtcJournal[static_cast<size_t>(cb)];
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
}

const std::string kGhostOffer = "{\"peerconnectionid\":\"ghost\",\"sdp\":\"v=0\\r\\nm=audio 9 UDP/TLS/RTP/SAVPF "
                                "111\\r\\na=sendrecv\\r\\n\",\"type\":\"offer\"}";
const std::string kGhostAnswer = "{\"peerconnectionid\":\"ghost\",\"sdp\":\"v=0\\r\\nm=audio 9 UDP/TLS/RTP/SAVPF "
                                 "111\\r\\na=sendrecv\\r\\n\",\"type\":\"answer\"}";
const std::string kGhostCandidate =
    "{\"candidate\":\"candidate:7 1 udp 1 127.0.0.1 9 typ host\",\"type\":\"candidate\"}";

INSTANTIATE_TEST_SUITE_P(
    Types, UnknownHandle,
    ::testing::Values(UnknownHandleCase{"an offer gets the empty notification", 1, kGhostOffer, "-1", "", "-1"},
                      UnknownHandleCase{"an answer gets the empty notification", 2, kGhostAnswer, "-1", "", "-1"},
                      UnknownHandleCase{"a candidate still goes out as it came", 3, kGhostCandidate, "0",
                                        kGhostCandidate, "0"}),
    qgtest::ByName());

// ---- browser to library: refusals and unknown peers ----

struct RefusalCase {
    const char* name;
    int streamType;       // of the peer "p" (user 5)
    const char* refuse;   // the library's code for the next description; null: none
    std::string message;  // what the browser sends
    int code;             // in the reply
    const char* logLine;  // quillgate's level-16 line
    bool reachesLibrary;
};
QG_PRINT_CASE_BY_NAME(RefusalCase)

class BrowserDescription : public ::testing::TestWithParam<RefusalCase>
{};

TEST_P(BrowserDescription, ComesBackWithTheCodeOfWhoTurnedItDown)
{
    const RefusalCase& c = GetParam();
    TempDir dir;
    SdkSetup sdk;
    int texts = c.streamType == 2 ? kOwnOfferTexts : 0;
    if (c.refuse) {
        // The candidate comes back to the browser once the refusal is set.
        sdk.control = {RtcStep("recv replyConsultParam(", std::string("refuse ") + c.refuse),
                       RtcStep("", "info 1 3 " + qgtest::Hex(Candidate("p")))};
        ++texts;
    }
    const std::string script = Init(InitParams(4)) + Consult(2, CreatePeer("p", c.streamType, 5)) +
                               Notifications(texts) + Signal(3, c.message) + Wait("replyWebrtcConsult") +
                               // Then the peer is served as ever.
                               Signal(4, Candidate("p")) + Wait("replyWebrtcConsult") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "30"}, script, 120, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    EXPECT_GE(run.Out(ReplyLine(3, c.code)), 0) << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "webrtcConsult(3, "), std::to_string(c.code)) << run.Dump();
    EXPECT_GE(run.Log(c.logLine), 0) << run.Dump();
    const std::string handed = Handed(run, 1);
    if (c.reachesLibrary) {
        EXPECT_TRUE(Ends(handed, " = " + std::to_string(c.code))) << run.Dump();
        EXPECT_NE(Handed(run, 1, 1), "") << run.Dump();
    } else {
        // Only the candidate that followed.
        EXPECT_NE(handed.find("candidate:1 1 udp"), std::string::npos) << run.Dump();
        EXPECT_EQ(Handed(run, 1, 1), "") << run.Dump();
    }
    EXPECT_GE(run.Out(ReplyLine(4, 0)), 0) << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Roads, BrowserDescription,
    ::testing::Values(
        // The operators read a full-width comma after the code (GB2312 A3 AC).
        RefusalCase{"an offer the library refuses", 1, "7", BrowserMessage("firefox_offer", "p"), 7,
                    "CWebRtcConnect::SetDescriptionInfo Fail! ret:7\xA3\xAC handle=1, userId=5", true},
        RefusalCase{"an answer the library refuses", 2, "12", BrowserMessage("chrome_answer", "p"), 12,
                    "CWebRtcConnect::SetDescriptionInfo Fail! ret:12\xA3\xAC handle=1, userId=5", true},
        RefusalCase{"an offer for an unknown peer", 1, nullptr, BrowserMessage("chrome_offer", "nobody"), -1,
                    "CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=nobody", false}),
    qgtest::ByName());

// ---- SDP texts in the log only under debug bit 2 ----

struct SdpLogCase {
    const char* name;
    int debugFlag;
    bool logged;
};
QG_PRINT_CASE_BY_NAME(SdpLogCase)

class SdpLog : public ::testing::TestWithParam<SdpLogCase>
{};

TEST_P(SdpLog, FollowsTheDebugFlag)
{
    const SdpLogCase& c = GetParam();
    TempDir dir;
    // Both roads, both ways: the library offers to "r" and the browser
    // answers; the browser offers on "s" and the library answers.
    const std::string script = Init(InitParams(4, 1, c.debugFlag)) + Consult(2, CreatePeer("r", 2, 5)) +
                               Notifications(kOwnOfferTexts) + Signal(3, BrowserMessage("chrome_answer", "r")) +
                               Wait("replyWebrtcConsult") + Consult(4, CreatePeer("s", 1, 6)) +
                               Signal(5, BrowserMessage("firefox_offer", "s")) + Wait("replyWebrtcConsult") +
                               Notifications(kOwnOfferTexts) + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "30"}, script, 120);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Out(ReplyLine(3, 0)), 0) << run.Dump();
    ASSERT_GE(run.Out(ReplyLine(5, 0)), 0) << run.Dump();

    for (const char* line : {"CWebRtcConnect::SetDescriptionInfo: platformType:1, frameType:0, messageSize:",
                             "CWebRtcConnect::ModifyWebAnswerInfo:  modify web answer sdp Info: {",
                             "CWebRtcConnect::ModifyWebOfferInfo:  modify web offer sdp info: {",
                             "SendNatiateInfo2Web: messageType: 1, messageSize:",
                             "CWebRtcConnect::ModifyNativeOfferInfo:  modify web offer sdp Info: {",
                             "CWebRtcConnect::ModifyNativeAnswerInfo:  modify native answer sdp Info: {"})
        EXPECT_EQ(run.Log(line) >= 0, c.logged) << line << "\n" << run.Dump();
    int sdpLines = 0;
    for (const std::string& line : run.sdkLog)
        sdpLines += line.find("a=rtpmap:") != std::string::npos ? 1 : 0;
    if (c.logged) {
        EXPECT_GT(sdpLines, 0);
    } else {
        EXPECT_EQ(sdpLines, 0) << run.Dump();
    }
    // The signalling lines without texts are there either way.
    EXPECT_GE(run.Log("CWebRtcConnect::SetDescriptionInfo: recv answer from web! peerId:r"), 0) << run.Dump();
    EXPECT_GE(run.Log("CWebRtcConnect::SendNativeInfo2Web: send answer to web! peerId:s"), 0) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(Flags, SdpLog,
                         ::testing::Values(SdpLogCase{"debug flag 0 logs no SDP text", 0, false},
                                           SdpLogCase{"debug bit 2 logs every SDP text", 2, true}),
                         qgtest::ByName());

// ---- the video codec the library is handed ----

// The video section's first line as the library's journal quotes it.
const char kVp8Line[] = "m=video 9 UDP/TLS/RTP/SAVPF 96 97\\\\r\\\\n";
const char kH264Line[] = "m=video 9 UDP/TLS/RTP/SAVPF 106 107\\\\r\\\\n";

struct CodecCase {
    const char* name;
    int platformType;
    const char* option;   // -z value; null: none
    bool login;           // the option is handed on at login
    int configured;       // "html5videocodec" of setGeneralParam type 2; -1: none
    const char* first;    // the video line of the first answer
    int laterConfigured;  // before a second peer's answer; -1: no second peer
    const char* second;
    int reported;  // the configured codec the browser is told of with the one applied
};
QG_PRINT_CASE_BY_NAME(CodecCase)

class VideoCodec : public ::testing::TestWithParam<CodecCase>
{};

std::string SetCodec(int reqid, int codec)
{
    return "call setGeneralParam " + std::to_string(reqid) + " 2 " +
           ScriptString("{\"html5videocodec\":" + std::to_string(codec) + "}") + "\n";
}

TEST_P(VideoCodec, TheBrowsersAnswerReachesTheLibraryWithTheChosenCodecAlone)
{
    const CodecCase& c = GetParam();
    TempDir dir;
    std::string script = Init(InitParams(4, c.platformType));
    if (c.login)
        script += "call login 2 \"127.0.0.1:8906\" \"alice\" \"pw\" 0 \"{}\"\n" + Wait("replyLogin");
    if (c.configured >= 0)
        script += SetCodec(3, c.configured);
    script += Consult(4, CreatePeer("r1", 2, 2001)) + Notifications(kOwnOfferTexts) +
              Signal(5, BrowserMessage("chrome_answer", "r1")) + Wait("replyWebrtcConsult");
    if (c.laterConfigured >= 0)
        script += SetCodec(6, c.laterConfigured) + Consult(7, CreatePeer("r2", 2, 2002)) +
                  Notifications(kOwnOfferTexts) + Signal(8, BrowserMessage("chrome_answer", "r2")) +
                  Wait("replyWebrtcConsult");
    script += kLogout;
    std::vector<std::string> args = {"-w", "30"};
    if (c.option)
        args.insert(args.end(), {"--", "-z", c.option});
    const GatewayRun run = RunGateway(dir, args, script, 120);
    ASSERT_EQ(run.status, 0) << run.Dump();

    struct Peer {
        int handle;
        const char* line;
    };
    std::vector<Peer> peers = {{1, c.first}};
    if (c.laterConfigured >= 0)
        peers.push_back({2, c.second});
    // The first answer sets the SDK's video format, and the browser hears of
    // the codecs: the one configured then and the one applied (no audio).
    const std::string applied = c.first == std::string(kH264Line) ? "1" : "3";
    std::vector<std::vector<std::string>> told;
    for (const std::vector<std::string>& args : NotifyArgs(run))
        if (args[1].find("\"type\":\"mediacodec\"") != std::string::npos)
            told.push_back(args);
    ASSERT_FALSE(told.empty()) << run.Dump();
    EXPECT_EQ(told[0], (std::vector<std::string>{"0", "{\"applyaudio\":0,\"applyvideo\":" + applied +
                                                          ",\"configaudio\":0,\"configvideo\":" +
                                                          std::to_string(c.reported) + ",\"type\":\"mediacodec\"}"}));

    for (const Peer& peer : peers) {
        const std::string handed = Handed(run, peer.handle);
        ASSERT_NE(handed, "") << run.Dump();
        const bool h264 = peer.line == std::string(kH264Line);
        EXPECT_NE(handed.find(peer.line), std::string::npos) << "peer " << peer.handle << "\n" << handed;
        // Only the chosen codec's lines are left.
        EXPECT_EQ(handed.find(h264 ? "VP8/90000" : "H264/90000"), std::string::npos) << handed;
        EXPECT_NE(handed.find(h264 ? "a=rtpmap:106 H264/90000" : "a=rtpmap:96 VP8/90000"), std::string::npos);
        EXPECT_TRUE(Ends(handed, " = 0")) << handed;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VideoCodec,
    ::testing::Values(CodecCase{"iPhone takes H264 whatever is configured", 4, "3", true, -1, kH264Line, -1, "", 3},
                      CodecCase{"iPad takes H264 with nothing configured", 3, nullptr, false, -1, kH264Line, -1, "", 0},
                      CodecCase{"VP8 is the default", 1, nullptr, false, -1, kVp8Line, -1, "", 0},
                      CodecCase{"H264 from the z option handed on at login", 1, "1", true, -1, kH264Line, -1, "", 1},
                      CodecCase{"the z option counts from login on", 1, "1", false, -1, kVp8Line, -1, "", 0},
                      CodecCase{"H264 from the general parameters", 1, nullptr, false, 1, kH264Line, -1, "", 1},
                      CodecCase{"VP8 from the general parameters", 1, nullptr, false, 3, kVp8Line, -1, "", 3},
                      CodecCase{"H264 holds once chosen", 1, nullptr, false, 1, kH264Line, 3, kH264Line, 1}),
    qgtest::ByName());

// ---- bad signalling over Ice ----

struct BadCase {
    const char* name;
    std::string message;
    bool replied;  // no reply at all for a text with nothing to read
    int code;
    const char* logLine;
    // The library is handed the text whole (the peer was found), or nothing.
    bool reachesLibrary;
};
QG_PRINT_CASE_BY_NAME(BadCase)

class BadSignalling : public ::testing::TestWithParam<BadCase>
{};

TEST_P(BadSignalling, GetsItsCodeAndTheSessionServesOn)
{
    const BadCase& c = GetParam();
    TempDir dir;
    const std::string script = Init(InitParams(4, 1, 0)) + Consult(2, CreatePeer("s", 1, 5)) + Signal(3, c.message) +
                               (c.replied ? Wait("replyWebrtcConsult") : "") + Signal(4, Candidate("s")) +
                               Wait("replyWebrtcConsult") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "30"}, script, 120);
    // Failure output without the megabyte lines.
    std::string dump;
    for (const std::string& line : run.out)
        dump += line.substr(0, 300) + "\n";
    ASSERT_EQ(run.status, 0) << dump;

    EXPECT_EQ(qgtest::CallResult(run, "webrtcConsult(3, "), std::to_string(c.code)) << dump;
    EXPECT_EQ(run.Out("recv replyWebrtcConsult(" + std::string(kSession) + ", 3, ") >= 0, c.replied) << dump;
    if (c.replied) {
        EXPECT_GE(run.Out(ReplyLine(3, c.code)), 0) << dump;
    }
    EXPECT_GE(run.Log(c.logLine), 0) << dump;

    const std::string first = Handed(run, 1);
    if (c.reachesLibrary) {
        // Texts without a description to rewrite pass as they came.
        EXPECT_EQ(first,
                  "CVRTC_SetDescriptionInfo 1 " + qgtest::ScriptText(c.message) + " = " + std::to_string(c.code));
        EXPECT_NE(Handed(run, 1, 1).find("candidate:1 1 udp"), std::string::npos) << dump;
    } else {
        // Nothing of it: the first text the library saw is the candidate that followed.
        EXPECT_NE(first.find("candidate:1 1 udp"), std::string::npos) << dump;
        EXPECT_EQ(Handed(run, 1, 1), "");
    }
    EXPECT_GE(run.Out(ReplyLine(4, 0)), 0) << dump;
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << dump;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadSignalling,
    ::testing::Values(
        BadCase{"an empty text", "", false, -1, "CWebRtcConnect::SetDescriptionInfo: extract sdp type fail!", false},
        BadCase{"text that is not JSON", "offer for s", true, -1,
                "CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=", false},
        BadCase{"a JSON array", "[\"offer\",\"s\"]", true, -1,
                "CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=", false},
        BadCase{"no peer id", "{\"sdp\":\"v=0\\r\\n\",\"type\":\"offer\"}", true, -1,
                "CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=", false},
        BadCase{"a peer id that is a number", "{\"peerconnectionid\":1,\"sdp\":\"v=0\\r\\n\",\"type\":\"offer\"}", true,
                -1, "CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=", false},
        // A live peer: the text goes on, and the library's own code comes back.
        BadCase{"no type goes on as a candidate",
                "{\"candidate\":\"candidate:2 1 tcp 1 127.0.0.1 9 typ host\",\"peerconnectionid\":\"s\"}", true, 0,
                "CWebRtcConnect::SetDescriptionInfo: recv candadite from web! peerId:s", true},
        // The reader keeps what it parsed before the text broke off.
        BadCase{"JSON cut short after its members", "{\"type\":\"offer\",\"peerconnectionid\":\"s\"", true, 4,
                "CWebRtcConnect::SetDescriptionInfo Fail! ret:4\xA3\xAC handle=1, userId=5", true},
        BadCase{"a type that is not a string", "{\"peerconnectionid\":\"s\",\"sdp\":\"v=0\\r\\n\",\"type\":[1]}", true,
                4, "CWebRtcConnect::SetDescriptionInfo Fail! ret:4\xA3\xAC handle=1, userId=5", true},
        BadCase{"an offer whose sdp is not a string", "{\"peerconnectionid\":\"s\",\"sdp\":5,\"type\":\"offer\"}", true,
                5, "CWebRtcConnect::SetDescriptionInfo Fail! ret:5\xA3\xAC handle=1, userId=5", true}),
    qgtest::ByName());

// Ice carries at most 1 MiB in one message (quillgate keeps the default
// limit): a description just under it is served like any other; one over
// it never reaches quillgate, which serves on.
struct BigCase {
    const char* name;
    size_t message;  // bytes of the whole webrtcConsult text
    bool served;
};
QG_PRINT_CASE_BY_NAME(BigCase)

class BigDescription : public ::testing::TestWithParam<BigCase>
{};

TEST_P(BigDescription, IsHandedOnWholeOrLostBeforeQuillgateWhichServesOn)
{
    const BigCase& c = GetParam();
    TempDir dir;
    std::string big = BrowserMessage("chrome_offer", "s");
    const std::string line = "a=x-filler:" + std::string(c.message - big.size() - 15, 'x') + "\\r\\n";
    big.insert(big.find("\"sdp\":\"v=0\\r\\n") + 14, line);
    ASSERT_EQ(big.size(), c.message);
    const std::string script = Init(InitParams(4, 1, 0)) + Consult(2, CreatePeer("s", 1, 5)) + Signal(3, big) +
                               (c.served ? Wait("replyWebrtcConsult") : "") + Signal(4, Candidate("s")) +
                               Wait("replyWebrtcConsult") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "30"}, script, 120);
    // Failure output without the megabyte lines.
    std::string dump;
    for (const std::string& l : run.out)
        dump += l.substr(0, 300) + "\n";
    ASSERT_EQ(run.status, 0) << dump;
    EXPECT_EQ(run.Out(ReplyLine(3, 0)) >= 0, c.served) << dump;
    const std::string handed = Handed(run, 1);
    if (c.served) {
        // Whole, the offer's data channel in the library's profile.
        EXPECT_NE(handed.find(line.substr(0, line.size() - 4) + "\\\\r\\\\n"), std::string::npos)
            << handed.substr(0, 300);
        EXPECT_EQ(handed.find("UDP/DTLS/SCTP"), std::string::npos);
        EXPECT_TRUE(Ends(handed, " = 0"));
        EXPECT_NE(Handed(run, 1, 1).find("candidate:1 1 udp"), std::string::npos) << dump;
    } else {
        EXPECT_NE(handed.find("candidate:1 1 udp"), std::string::npos) << dump;
        EXPECT_EQ(Handed(run, 1, 1), "");
    }
    EXPECT_GE(run.Out(ReplyLine(4, 0)), 0) << dump;
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << dump;
}

INSTANTIATE_TEST_SUITE_P(Sizes, BigDescription,
                         ::testing::Values(BigCase{"just under one Ice message", 1040000, true},
                                           BigCase{"a mebibyte and more", (1u << 20) + 6000, false}),
                         qgtest::ByName());

// ---- a second init keeps the library opened first ----

struct SecondInitCase {
    const char* name;
    int browserType;         // of the second init
    const char* loadedLine;  // the loader's line for it
};
QG_PRINT_CASE_BY_NAME(SecondInitCase)

class SecondInit : public ::testing::TestWithParam<SecondInitCase>
{};

TEST_P(SecondInit, KeepsTheFirstLibraryAndItsPeers)
{
    const SecondInitCase& c = GetParam();
    TempDir dir;
    const std::string script = Init(InitParams(4)) + Consult(2, CreatePeer("p1", 2, 2001)) +
                               Notifications(kOwnOfferTexts) + "call setGeneralParam 3 1 " +
                               ScriptString(InitParams(c.browserType)) + "\n" + Consult(4, CreatePeer("p2", 2, 2002)) +
                               Notifications(kOwnOfferTexts) + Signal(5, BrowserMessage("chrome_answer", "p1")) +
                               Wait("replyWebrtcConsult") + Signal(6, BrowserMessage("chrome_answer", "p2")) +
                               Wait("replyWebrtcConsult") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "30"}, script, 120);
    ASSERT_EQ(run.status, 0) << run.Dump();

    // The loader reports every init; only the first opened a file.
    const int first = run.Log("load libcorvanewebrtcsdk.so success! version:3_1, compiletime:stand-in");
    ASSERT_GE(first, 0) << run.Dump();
    EXPECT_GE(run.Log(c.loadedLine, first + 1), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "load "), 2) << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "setGeneralParam(3, 1, "), "0") << run.Dump();

    // One library throughout: handles go on from the first peer's, and both
    // peers take the browser's answers.
    const int created = run.RtcJournal("CVRTC_CreateWithGenerateHandle ");
    ASSERT_GE(created, 0) << run.Dump();
    const int again = run.RtcJournal("CVRTC_CreateWithGenerateHandle ", created + 1);
    ASSERT_GE(again, 0) << run.Dump();
    EXPECT_TRUE(Ends(run.rtcJournal[static_cast<size_t>(created)], " = 1"));
    EXPECT_TRUE(Ends(run.rtcJournal[static_cast<size_t>(again)], " = 2"));
    EXPECT_TRUE(Ends(Handed(run, 1), " = 0")) << run.Dump();
    EXPECT_TRUE(Ends(Handed(run, 2), " = 0")) << run.Dump();
    EXPECT_GE(run.Out(ReplyLine(5, 0)), 0) << run.Dump();
    EXPECT_GE(run.Out(ReplyLine(6, 0)), 0) << run.Dump();
    EXPECT_NE(qgtest::Notified(run, "p2", "offer"), "") << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    BrowserTypes, SecondInit,
    ::testing::Values(SecondInitCase{"the same browser type", 4,
                                     "load libcorvanewebrtcsdk.so success! version:3_1, compiletime:stand-in"},
                      SecondInitCase{"a browser type of the other library", 3,
                                     "load libcorvanewebrtcsdkpv.so success! version:3_1, compiletime:stand-in"}),
    qgtest::ByName());

}  // namespace

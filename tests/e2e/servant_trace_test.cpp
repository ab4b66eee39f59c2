// Under the browser's debug flag 8 every served operation but heartBeat,
// setGeneralParam and userInfoControl writes one trace line with its
// arguments and the result the gateway received; without the flag none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/case_names.h"
#include "tests/support/gateway_run.h"
#include "util/base64.h"

using qgtest::CallResult;
using qgtest::GatewayRun;
using qgtest::RunGateway;
using qgtest::TempDir;

namespace {

struct TraceCase {
    const char* call;   // script line after "call "
    const char* op;     // operation name as the gateway prints it
    int reqid;          // its request id
    const char* trace;  // expected trace line up to and including "ret:"; null: none
};

// In Slice order; the texts are the ones operators grep for.
const TraceCase kCases[] = {
    {"connect 1 \"127.0.0.1:8906\"", "connect", 1, "invoke connect reqid:1, addrs:127.0.0.1:8906, ret:"},
    {"login 2 \"127.0.0.1:8906\" \"alice\" \"pw\" 3 \"{}\"", "login", 2,
     "invoke login reqid:2, host:127.0.0.1:8906, userName:alice, passWord:***, passEncType:3, ret:"},
    {"loginEx 3 \"127.0.0.1:8906\" \"nick\" 1001 \"u1001\" \"app\" 1700000000 \"sig\" \"sp\" \"{}\"", "loginEx", 3,
     "invoke loginEx reqid:3, nickName:nick, userId:1001, strUserId:u1001, appId:app, timeStamp:1700000000, "
     "siqStr:***, strParam:sp, ret:"},
    {"enterRoom 4 5 \"rpw\" 0", "enterRoom", 4,
     "invoke enterRoom reqid:4, roomid:5, roomPassWord:***, passEncType:0, ret:"},
    {"enterRoomEx 5 \"lobby\" \"rpw\" 1", "enterRoomEx", 5,
     "invoke enterRoomEx reqid:5, roomName:lobby, roomPassWord:***, passEncType:1, ret:"},
    {"userCameraControl 7 2001 true", "userCameraControl", 7,
     "invoke userCameraControl reqid:7, userid:2001, open:1, ret:"},
    {"userSpeakControl 8 2001 false", "userSpeakControl", 8,
     "invoke userSpeakControl reqid:8, userid:2001, open:0, ret:"},
    {"userCameraControlEx 9 2001 true 1 2 \"{\\\"a\\\":1}\"", "userCameraControlEx", 9,
     "invoke userCameraControlEx reqid:9, userid:2001, open:1, streamIndex:1, flags:2, strParam:{\"a\":1}, ret:"},
    {"userSpeakControlEx 10 2002 true 0 3 \"sp\"", "userSpeakControlEx", 10,
     "invoke userSpeakControlEx reqid:10, userid:2002, open:1, streamIndex:0, flags:3, strParam:sp, ret:"},
    {"consultParam 11 2 \"{}\"", "consultParam", 11, "invoke consultParam reqid:11, type:2, ret:"},
    {"webrtcConsult 12 \"{}\"", "webrtcConsult", 12, "invoke webrtcConsult reqid:12, ret:"},
    {"videoCallControl 13 1 2001 0 4 5 \"us\"", "videoCallControl", 13,
     "invoke videoCallControl reqid:13, eventType:1, userId:2001, errorCode:0, flags:4, param:5, userStr:us, ret:"},
    {"objectSetValue 14 4 100 8 1 \"name\"", "objectSetValue", 14,
     "invoke objectSetValue reqid:14, objectType:4, objectId:100, infoName:8, infoValue:name, ret:"},
    {"objectGetValue 15 4 100 8 1", "objectGetValue", 15,
     "invoke objectGetValue reqid:15, objectType:4, objectId:100, infoName:8, ret:"},
    {"objectGetIdList 16 4", "objectGetIdList", 16, "invoke objectGetIdList reqid:16, objectType:4, ret:"},
    {"setSDKOptionString 17 300 \"v\"", "setSDKOptionString", 17,
     "invoke setSDKOptionString reqid:17, optName:300, optVal:v, ret:"},
    {"setSDKOptionInt 18 301 7", "setSDKOptionInt", 18, "invoke setSDKOptionInt reqid:18, optName:301, optVal:7, ret:"},
    {"getSDKOptionString 19 300", "getSDKOptionString", 19, "invoke getSDKOptionString reqid:19, optName:300, ret:"},
    {"getSDKOptionInt 20 301", "getSDKOptionInt", 20, "invoke getSDKOptionInt reqid:20, optName:301, ret:"},
    {"sdkControl 21 9 \"{\\\"x\\\":1}\"", "sdkControl", 21,
     "invoke sdkControl reqid:21, ctrlCode:9, param:{\"x\":1}, ret:"},
    {"queryUserState 22 2001 15 0", "queryUserState", 22, "invoke queryUserState reqid:22, infoName:15, ret:"},
    {"transBuffer 23 2001 \"hi\"", "transBuffer", 23, "invoke transBuffer reqid:23, userId:2001, buf:hi, ret:"},
    {"transBufferEx 24 2001 \"hx\" 1 2 0", "transBufferEx", 24,
     "invoke transBufferEx reqid:24, userId:2001, buf:hx, param1:1, param2:2, flags:0, ret:"},
    {"sendTextMessage 25 2001 true \"t\"", "sendTextMessage", 25,
     "invoke sendTextMessage reqid:25, userId:2001, secret:1, buf:t, ret:"},
    {"streamRecordCtrlEx 26 2001 true 1 2 \"u\"", "streamRecordCtrlEx", 26,
     "invoke streamRecordCtrlEx reqid:26, userId:2001, startRecord:1, flags:1, param:2, ret:"},
    {"setUserStreamInfo 27 2001 0 3 \"iv\"", "setUserStreamInfo", 27,
     "invoke setUserStreamInfo reqid:27, userId:2001, streamIndex:0, infoName:3, infoVal:iv, ret:"},
    {"getUserStreamInfo 28 2001 0 3", "getUserStreamInfo", 28,
     "invoke getUserStreamInfo reqid:28, userId:2001, streamIndex:0, infoName:3, ret:"},
    {"getRoomOnlineUsers 29 5", "getRoomOnlineUsers", 29, "invoke getRoomOnlineUsers reqid:29, roomId:5, ret:"},
    {"objectControl 30 4 100 2 11 12 13 14 \"op\"", "objectControl", 30,
     "invoke objectControl reqid:30, objectType:4, objectId:100, ctrlCode:2, param1:11:, ret:"},
    {"userInfoControl 33 2001 1 2 3 \"sv\"", "userInfoControl", 33, nullptr},
    {"leaveRoom 6 99", "leaveRoom", 6, "invoke leaveRoom reqid:6, ret:"},
    {"logout 34", "logout", 34, "invoke logout reqid:34, ret:"},
};

// The result the gateway printed for the call of `op` with `reqid`.
bool GatewayResult(const GatewayRun& run, const std::string& op, int reqid, std::string& result)
{
    const std::string call = op + "(" + std::to_string(reqid);
    result = CallResult(run, call + ",");
    if (result.empty())
        result = CallResult(run, call + ")");
    return !result.empty();
}

}  // namespace

TEST(ServantTrace, EveryServedOperationWritesItsLineWithTheResultTheGatewayGot)
{
    std::string script =
        "wait initiateQiullgateDelegate\n"
        // Before the flag is set: no trace line.
        "call connect 100 \"before\"\n"
        "call heartBeat\n"
        "call setGeneralParam 31 1 \"{\\\"debugflag\\\":8,\\\"debuglevel\\\":4,\\\"h5handlestreamtype\\\":2,"
        "\\\"platformtype\\\":4,\\\"browsertype\\\":4}\"\n"
        "call heartBeat\n";
    for (const TraceCase& c : kCases) {
        script += std::string("call ") + c.call + "\n";
        // The SDK's outcomes come later; let the logins settle before the room.
        if (c.reqid == 3)
            script += "wait replyLogin\nwait replyLogin\n";
        if (c.reqid == 34)
            script += "wait replyLogout\n";
    }
    TempDir dir;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();

    for (const TraceCase& c : kCases) {
        SCOPED_TRACE(c.op);
        std::string result;
        ASSERT_TRUE(GatewayResult(run, c.op, c.reqid, result)) << run.Dump();
        if (!c.trace) {
            EXPECT_LT(run.Log(std::string("invoke ") + c.op), 0) << run.Dump();
            continue;
        }
        const int at = run.Log(c.trace);
        ASSERT_GE(at, 0) << c.trace << "\n" << run.Dump();
        EXPECT_EQ(run.sdkLog[at], std::string("[proxy] ") + c.trace + result + " ");
        EXPECT_LT(run.Log(c.trace, at + 1), 0) << "written twice";
    }
    // Fixed answers of the operations that do nothing.
    for (const char* line :
         {"invoke connect reqid:1, addrs:127.0.0.1:8906, ret:-1 ",
          "invoke setUserStreamInfo reqid:27, userId:2001, streamIndex:0, infoName:3, infoVal:iv, ret:-1 ",
          "invoke getUserStreamInfo reqid:28, userId:2001, streamIndex:0, infoName:3, ret:-1 ",
          "invoke login reqid:2, host:127.0.0.1:8906, userName:alice, passWord:***, passEncType:3, ret:0 ",
          "invoke logout reqid:34, ret:0 "})
        EXPECT_GE(run.Log(line), 0) << line << "\n" << run.Dump();
    EXPECT_GE(run.Log("sdk platform:iPhone, borwser:Safari, version:"), 0) << run.Dump();
    EXPECT_LT(run.Log("invoke connect reqid:100"), 0) << run.Dump();
    EXPECT_LT(run.Log("invoke heartBeat"), 0) << run.Dump();
    EXPECT_LT(run.Log("invoke setGeneralParam"), 0) << run.Dump();
}

TEST(ServantTrace, NoLineOfAWholeSessionHoldsAPasswordWhileTheSdkGetsThemAll)
{
    const std::vector<std::string> secrets = {"Pw-login-7731", "Srv-auth-5521", "Sig-ex-9931",
                                              "Str-pass-4471", "Room-pw-1123",  "Room-pw-2234"};
    const std::string script =
        "wait initiateQiullgateDelegate\n"
        "call setGeneralParam 1 1 \"{\\\"debugflag\\\":8,\\\"debuglevel\\\":1,\\\"h5handlestreamtype\\\":2}\"\n"
        // The first server password is refused: its failure line is written too.
        "call login 2 \"127.0.0.1:8906\" \"alice\" \"Pw-login-7731\" 0 "
        "\"{\\\"serverauthpass\\\":\\\"Srv-auth-5521\\\"}\"\n"
        "wait replyLogin\n"
        "call login 3 \"127.0.0.1:8906\" \"alice\" \"Pw-login-7731\" 0 "
        "\"{\\\"serverauthpass\\\":\\\"Srv-auth-5521\\\"}\"\n"
        "wait replyLogin\n"
        "call loginEx 4 \"127.0.0.1:8906\" \"nick\" 1001 \"u1001\" \"app\" 17 \"Sig-ex-9931\" "
        "\"{\\\"appkey\\\":\\\"k\\\",\\\"password\\\":\\\"Str-pass-4471\\\"}\" \"{}\"\n"
        "wait replyLogin\n"
        "call enterRoom 5 5 \"Room-pw-1123\" 0\n"
        "wait replyEnterRoom\n"
        "call enterRoomEx 6 \"lobby\" \"Room-pw-2234\" 0\n"
        "wait replyEnterRoom\n"
        "call logout 7\n"
        "wait replyLogout\n";
    TempDir dir;
    qgtest::SdkSetup sdk;
    sdk.scenario = "selfid 1001\nroom *\nuser 2001\nreturn CVAPI_SetServerAuthPass 20 1\n";
    // The command line's secret (-e) is a password too.
    const GatewayRun run = RunGateway(dir, {"-w", "10", "--", "-e", "Cmd-secret-6612"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Log("Corvane Quillgate Cmdline:"), 0) << run.Dump();
    for (const std::string& line : run.sdkLog)
        EXPECT_EQ(line.find("Cmd-secret-6612"), std::string::npos) << line;
    ASSERT_GE(run.Log("CCorvaneConnect::doLogin: SetServerAuthPass fail! pass:***, ret:20"), 0) << run.Dump();
    ASSERT_GE(run.Log("invoke loginEx reqid:4, nickName:nick"), 0) << run.Dump();
    EXPECT_GE(run.Log("invoke enterRoomEx reqid:6, roomName:lobby, roomPassWord:***, passEncType:0, ret:0 "), 0)
        << run.Dump();

    const std::string journal = qgtest::ReadFile(dir.File("sdk.journal"));
    for (const std::string& secret : secrets) {
        SCOPED_TRACE(secret);
        for (const std::string& line : run.sdkLog)
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
        EXPECT_NE(journal.find(secret), std::string::npos) << "the SDK did not get it";
    }
}

namespace {

// A request whose gateway text holds a password member.
struct SecretRequest {
    std::string call;    // script line after "call "
    std::string secret;  // the password's value
    std::string toSdk;   // how the SDK's journal shows it; empty: no SDK call takes it
};

std::vector<SecretRequest> SecretRequests()
{
    const std::string split = "{\"pwd\":\"Ctl-pwd-1202\"}";
    const std::string piece = "{\"content\":\"" + Base64Encode(split.data(), split.size()) +
                              "\",\"flag\":1,\"index\":1,\"spliceflag\":1,\"uuid\":\"U-1\"}";
    return {
        {"sdkControl 2 9 " + qgtest::ScriptText("{\"cmd\":\"x\",\"password\":\"Ctl-pw-1101\"}"), "Ctl-pw-1101",
         "Ctl-pw-1101"},
        // In pieces the password is base64 until the request is whole.
        {"sdkControl 3 9 " + qgtest::ScriptText(piece), "Ctl-pwd-1202", "Ctl-pwd-1202"},
        {"setSDKOptionString 4 300 " + qgtest::ScriptText("{\"passWord\":\"Opt-pw-1303\"}"), "Opt-pw-1303",
         "Opt-pw-1303"},
        // Waits in the command cache: no format is set.
        {"userCameraControlEx 5 2001 true 0 0 " + qgtest::ScriptText("{\"password\":\"Cam-pw-1404\"}"), "Cam-pw-1404",
         ""},
        {"userSpeakControlEx 6 2001 true 0 0 " + qgtest::ScriptText("{\"pwd\":\"Mic-pw-1505\"}"), "Mic-pw-1505",
         "Mic-pw-1505"},
        {"objectSetValue 7 5 501 8 1 " + qgtest::ScriptText("{\"password\":\"Obj-pw-1606\"}"), "Obj-pw-1606",
         "Obj-pw-1606"},
        {"setUserStreamInfo 8 2001 0 3 " + qgtest::ScriptText("{\"password\":\"Str-pw-1707\"}"), "Str-pw-1707", ""},
        {"videoCallControl 9 1 2001 0 0 0 " + qgtest::ScriptText("{\"password\":\"Vid-pw-1808\"}"), "Vid-pw-1808",
         "Vid-pw-1808"},
        // Buffers are journalled as hex.
        {"transBuffer 10 2001 " + qgtest::ScriptText("{\"password\":\"Buf-pw-1909\"}"), "Buf-pw-1909",
         qgtest::Hex(std::string("Buf-pw-1909"))},
        {"transBufferEx 11 2001 " + qgtest::ScriptText("{\"pwd\":\"BufEx-pw-2010\"}") + " 1 2 0", "BufEx-pw-2010",
         qgtest::Hex(std::string("BufEx-pw-2010"))},
        {"sendTextMessage 12 2001 false " + qgtest::ScriptText("{\"passWord\":\"Txt-pw-2111\"}"), "Txt-pw-2111",
         "Txt-pw-2111"},
        {"connect 13 " + qgtest::ScriptText("{\"password\":\"Con-pw-2212\"}"), "Con-pw-2212", ""},
        {"objectControl 14 4 10 2 0 0 0 0 " + qgtest::ScriptText("{\"password\":\"Ctl-obj-2313\"}"), "Ctl-obj-2313",
         "Ctl-obj-2313"},
        {"streamRecordCtrlEx 15 2001 true 0 0 " + qgtest::ScriptText("{\"password\":\"Rec-pw-2414\"}"), "Rec-pw-2414",
         "Rec-pw-2414"},
        {"userInfoControl 16 2001 1 0 0 " + qgtest::ScriptText("{\"password\":\"Inf-pw-2515\"}"), "Inf-pw-2515",
         "Inf-pw-2515"},
    };
}

struct TraceFlagCase {
    const char* name;
    int debugFlag;
};
QG_PRINT_CASE_BY_NAME(TraceFlagCase)

class RequestSecrets : public ::testing::TestWithParam<TraceFlagCase>
{};

TEST_P(RequestSecrets, NoLogOrTraceLineHoldsAPasswordMemberOfAGatewayTextWhileTheSdkGetsItUnchanged)
{
    const bool traced = GetParam().debugFlag == 8;
    std::string script = "wait initiateQiullgateDelegate\ncall setGeneralParam 1 1 " +
                         qgtest::ScriptText("{\"debugflag\":" + std::to_string(GetParam().debugFlag) +
                                            ",\"debuglevel\":1,\"h5handlestreamtype\":2}") +
                         "\n";
    for (const SecretRequest& r : SecretRequests())
        script += "call " + r.call + "\n";
    script += "call logout 99\nwait replyLogout\n";
    TempDir dir;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();

    for (const SecretRequest& r : SecretRequests()) {
        SCOPED_TRACE(r.secret);
        for (const std::string& line : run.sdkLog)
            EXPECT_EQ(line.find(r.secret), std::string::npos) << line;
        if (!r.toSdk.empty()) {
            EXPECT_NE(qgtest::ReadFile(dir.File("sdk.journal")).find(r.toSdk), std::string::npos)
                << "the SDK did not get it";
        }
    }
    // The lines are there, each password shown as "***".
    std::vector<std::string> lines = {
        "invoke CCorvaneConnect::doSDKControl: ctrlCode:9, strInJson:{\"cmd\":\"x\",\"password\":\"***\"}, ret:",
        "invoke CCorvaneConnect::doSDKControl: ctrlCode:9, strInJson:{\"pwd\":\"***\"}, ret:",
        "invoke CCorvaneConnect::doSetSDKOptionString: optName:300, optVal:{\"passWord\":\"***\"}, ret:",
        "invoke CCorvaneConnect::doObjectSetValue[objectType:5, objectId:501, infoname:8, "
        "infovalue:{\"password\":\"***\"}] = ",
        "invoke CCorvaneConnect::doTransBuffer[userId:2001, deviceType:1, strBuf:{\"password\":\"***\"}, bufLen:",
        "invoke CCorvaneConnect::doTransBufferEx[userId:2001, deviceType:1, strBuf:{\"pwd\":\"***\"}, bufLen:",
    };
    if (traced) {
        for (const char* line : {
                 "invoke sdkControl reqid:2, ctrlCode:9, param:{\"cmd\":\"x\",\"password\":\"***\"}, ret:",
                 "invoke setSDKOptionString reqid:4, optName:300, optVal:{\"passWord\":\"***\"}, ret:",
                 "invoke userCameraControlEx reqid:5, userid:2001, open:1, streamIndex:0, flags:0, "
                 "strParam:{\"password\":\"***\"}, ret:",
                 "invoke userSpeakControlEx reqid:6, userid:2001, open:1, streamIndex:0, flags:0, "
                 "strParam:{\"pwd\":\"***\"}, ret:",
                 "invoke objectSetValue reqid:7, objectType:5, objectId:501, infoName:8, "
                 "infoValue:{\"password\":\"***\"}, ret:",
                 "invoke setUserStreamInfo reqid:8, userId:2001, streamIndex:0, infoName:3, "
                 "infoVal:{\"password\":\"***\"}, ret:-1 ",
                 "invoke videoCallControl reqid:9, eventType:1, userId:2001, errorCode:0, flags:0, param:0, "
                 "userStr:{\"password\":\"***\"}, ret:",
                 "invoke transBuffer reqid:10, userId:2001, buf:{\"password\":\"***\"}, ret:",
                 "invoke transBufferEx reqid:11, userId:2001, buf:{\"pwd\":\"***\"}, param1:1, param2:2, flags:0, "
                 "ret:",
                 "invoke sendTextMessage reqid:12, userId:2001, secret:0, buf:{\"passWord\":\"***\"}, ret:",
                 "invoke connect reqid:13, addrs:{\"password\":\"***\"}, ret:-1 ",
             })
            lines.push_back(line);
    } else {
        EXPECT_LT(run.Log("invoke sdkControl"), 0) << run.Dump();
    }
    for (const std::string& line : lines)
        EXPECT_GE(run.Log(line), 0) << line << "\n" << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(Flags, RequestSecrets,
                         ::testing::Values(TraceFlagCase{"with the trace lines of debug flag 8", 8},
                                           TraceFlagCase{"without trace lines", 0}),
                         qgtest::ByName());

}  // namespace

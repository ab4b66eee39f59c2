// Under the browser's debug flag 8 every served operation but heartBeat,
// setGeneralParam and userInfoControl writes one trace line with its
// arguments and the result the gateway received; without the flag none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/gateway_run.h"

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

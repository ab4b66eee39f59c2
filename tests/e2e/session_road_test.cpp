// A browser user's road through the real quillgate, the stand-in gateway
// and the stand-in SDK: log in, enter a room, see who is there and who
// comes and goes, and how every request is answered (once, or never after
// it failed). Every wait is bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/gateway_run.h"

using qgtest::CallResult;
using qgtest::GatewayRun;
using qgtest::RunGateway;
using qgtest::SdkSetup;
using qgtest::TempDir;

namespace {

const char* const kInit =
    "call setGeneralParam 1 1 "
    "\"{\\\"accessversion\\\":\\\"9.1\\\",\\\"browsertype\\\":4,\\\"debugflag\\\":8,\\\"debuglevel\\\":4,"
    "\\\"h5handlestreamtype\\\":2,\\\"platformtype\\\":1}\"\n";

// Groups of line prefixes, the groups in this order. Within a group order
// is free: the gateway dispatches on several threads, so calls that
// quillgate sends one after the other may be printed the other way round.
typedef std::vector<std::vector<std::string>> Groups;

void ExpectGroupsInOrder(const GatewayRun& run, const Groups& groups)
{
    int at = 0;
    for (const std::vector<std::string>& group : groups) {
        int next = at;
        for (const std::string& p : group) {
            const int found = run.Out(p, at);
            ASSERT_GE(found, 0) << "missing or out of order: " << p << "\n" << run.Dump();
            next = std::max(next, found + 1);
        }
        at = next;
    }
}

void ExpectInOrder(const GatewayRun& run, const std::vector<std::string>& prefixes)
{
    Groups groups;
    for (const std::string& p : prefixes)
        groups.push_back({p});
    ExpectGroupsInOrder(run, groups);
}

int CountOut(const GatewayRun& run, const std::string& prefix)
{
    int n = 0;
    for (int at = run.Out(prefix); at >= 0; at = run.Out(prefix, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(SessionRoad, LoginRoomUsersComeAndGoThenLeaveAndLogout)
{
    TempDir dir;
    SdkSetup sdk;
    // 2003 enters once the script has seen the room's reply and list: the
    // gateway prints on several threads, and its line of the reply must not
    // come after 2003's.
    sdk.control = {{"wait notifyOnlineUser ok", "user enter 2003 name=6361726f6c camera=1 speak=2"},
                   {"recv notifyUserAtRoom(", "user leave 2003"}};
    const std::string script = std::string("wait initiateQiullgateDelegate\n"
                                           "call heartBeat\n") +
                               kInit +
                               "call login 2 \"127.0.0.1:8906\" \"alice\" \"secret\" 0 "
                               "\"{\\\"browsertype\\\":4,\\\"platformtype\\\":1}\"\n"
                               "wait replyLogin\n"
                               "wait notifyAppConfigInfo\n"
                               "call enterRoom 3 5 \"\" 0\n"
                               "wait replyEnterRoom\n"
                               "wait notifyOnlineUser\n"
                               "wait notifyUserAtRoom\n"
                               "wait notifyUserAtRoom\n"
                               "call getRoomOnlineUsers 4 5\n"
                               "wait replyGetRoomOnlineUsers\n"
                               "call userSpeakControl 5 2001 true\n"
                               "wait replyUserSpeakControl\n"
                               "call leaveRoom 6 77\n"
                               "wait replyLeaveRoom\n"
                               "call logout 7\n"
                               "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    // 2001's GB2312 name arrives as UTF-8; members in byte order of their names.
    const std::string users =
        "{\\\"useridlist\\\":[2001,2002],\\\"userlist\\\":["
        "{\\\"camerastate\\\":2,\\\"speakstate\\\":1,\\\"userid\\\":2001,\\\"username\\\":"
        "\\\"\xe5\xbc\xa0\xe4\xb8\x89\\\"},"
        "{\\\"camerastate\\\":0,\\\"speakstate\\\":0,\\\"userid\\\":2002,\\\"username\\\":\\\"guest\\\"}]}";
    ExpectGroupsInOrder(run, {
                                 {"call heartBeat()"},
                                 {"call setGeneralParam(1, 1, "},
                                 {"call login(2, "},
                                 {"recv replyLogin(\"standin-session\", 2, 1001, 0) -> 0",
                                  "recv notifyAppConfigInfo(\"standin-session\") -> 0"},
                                 {"call enterRoom(3, 5, \"\", 0)"},
                                 {"recv replyEnterRoom(\"standin-session\", 3, 0, 5) -> 0",
                                  "recv notifyOnlineUser(\"standin-session\", 0, 5, \"" + users + "\") -> 0"},
                                 {"recv notifyUserAtRoom(\"standin-session\", 0, 2003, \"carol\", true, 1, 2) -> 0"},
                                 // A user who left has no states any more.
                                 {"recv notifyUserAtRoom(\"standin-session\", 0, 2003, \"carol\", false, -1, -1) -> 0"},
                                 {"call getRoomOnlineUsers(4, 5)"},
                                 {"recv replyGetRoomOnlineUsers(\"standin-session\", 4, 0, 5, "
                                  "\"{\\\"jsonbuf\\\":[2001,2002]}\") -> 0"},
                                 {"call userSpeakControl(5, 2001, true)"},
                                 {"recv replyUserSpeakControl(\"standin-session\", 5, 2001, 0) -> 0"},
                                 {"call leaveRoom(6, 77)"},
                                 {"recv replyLeaveRoom(\"standin-session\", 6, 0) -> 0"},
                                 {"call logout(7)"},
                                 {"recv replyLogout(\"standin-session\", 7, 0) -> 0"},
                                 {"quillgate exit 0"},
                             });
    EXPECT_EQ(run.Out("call setGeneralParam(1, 1, "), run.Out("call setGeneralParam(1, 1, \"{")) << run.Dump();
    for (const char* call : {"heartBeat()", "setGeneralParam(1, ", "login(2, ", "enterRoom(3, ",
                             "getRoomOnlineUsers(4, ", "userSpeakControl(5, ", "leaveRoom(6, ", "logout(7)"})
        EXPECT_EQ(CallResult(run, call), "0") << call << "\n" << run.Dump();
    EXPECT_GE(run.Log("sdk platform:Windows, borwser:Chrome, version:9.1"), 0) << run.Dump();
    // Every request answered exactly once.
    for (const char* reply : {"recv replyLogin(", "recv replyEnterRoom(", "recv replyGetRoomOnlineUsers(",
                              "recv replyUserSpeakControl(", "recv replyLeaveRoom(", "recv replyLogout("})
        EXPECT_EQ(CountOut(run, reply), 1) << reply << "\n" << run.Dump();
}

TEST(SessionRoad, PendingIdsUnderOneKeyAreEachAnsweredOnceInOrderAndLoginFallsBackToLoginEx)
{
    TempDir dir;
    SdkSetup sdk;
    // The SDK accepts the logins and room entries but sends no outcome;
    // the test sends the outcomes itself once all requests are filed.
    sdk.scenario = "selfid 1001\nroom *\nuser 2001\n"
                   "return CVAPI_Login 0 2\nreturn CVAPI_LoginEx 0 1\n"
                   "return CVAPI_EnterRoom 0 2\nreturn CVAPI_EnterRoomEx 0 1\n";
    // A call's result joins its line here: the SDK sends nothing meanwhile.
    // The outcome for the Ex request comes once the script has seen both
    // replies of the first (its "answer" line, the default answer, marks
    // that): the gateway prints on several threads, and a reply line of the
    // first outcome must not come after one of the second.
    sdk.control = {
        {"call loginEx(13, \"127.0.0.1:8906\", \"nick\", 0, \"u\", \"app\", 1, \"sig\", \"sp\", \"{}\") -> 0",
         "notify 1226 1001 0"},
        {"answer replyLogin 0", "notify 1226 1001 0"},
        {"recv replyLogin(\"standin-session\", 13, ", "notify 1226 1001 0"},
        {"call enterRoomEx(23, \"lobby\", \"\", 0) -> 0", "notify 1227 5 0"},
        {"answer replyEnterRoom 0", "notify 1227 8 0"},
        {"recv replyEnterRoom(\"standin-session\", 23, ", "notify 1227 9 0"}};
    const std::string script = "wait initiateQiullgateDelegate\n"
                               "call login 11 \"127.0.0.1:8906\" \"a\" \"p\" 0 \"{}\"\n"
                               "call login 12 \"127.0.0.1:8906\" \"a\" \"p\" 0 \"{}\"\n"
                               "call loginEx 13 \"127.0.0.1:8906\" \"nick\" 0 \"u\" \"app\" 1 \"sig\" \"sp\" \"{}\"\n"
                               "wait replyLogin\nwait replyLogin\nanswer replyLogin 0\nwait replyLogin\n"
                               "wait notifyAppConfigInfo\nwait notifyAppConfigInfo\nwait notifyAppConfigInfo\n"
                               "call enterRoom 21 5 \"\" 0\n"
                               "call enterRoom 22 5 \"\" 0\n"
                               "call enterRoomEx 23 \"lobby\" \"\" 0\n"
                               "wait replyEnterRoom\nwait replyEnterRoom\nanswer replyEnterRoom 0\nwait replyEnterRoom\n"
                               // The third room outcome has come (quillgate logs it first),
                               // and a reply it wrongly found something for has had time.
                               "journal 1 dwRoomId:9,dwErrorCode:0 30000\n"
                               "sleep 300\n"
                               "call logout 30\n"
                               "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    ExpectGroupsInOrder(run, {
                                 {"call login(11, "},
                                 {"call login(12, "},
                                 {"call loginEx(13, "},
                                 // The first outcome answers both logins (the order of
                                 // the two is the in-process routing test's: this
                                 // gateway dispatches on several threads)...
                                 {"recv replyLogin(\"standin-session\", 11, 1001, 0)",
                                  "recv replyLogin(\"standin-session\", 12, 1001, 0)"},
                                 // ...the next the login Ex, which waited under its own key.
                                 {"recv replyLogin(\"standin-session\", 13, 1001, 0)"},
                                 {"recv replyEnterRoom(\"standin-session\", 21, 0, 5)",
                                  "recv replyEnterRoom(\"standin-session\", 22, 0, 5)"},
                                 // A named entry is answered as replyEnterRoom, never replyEnterRoomEx.
                                 {"recv replyEnterRoom(\"standin-session\", 23, 0, 8)"},
                                 {"recv replyLogout(\"standin-session\", 30, 0)"},
                             });
    EXPECT_EQ(CountOut(run, "recv replyLogin("), 3) << run.Dump();
    // The third login outcome and the third room outcome found nothing pending.
    EXPECT_EQ(CountOut(run, "recv replyEnterRoom("), 3) << run.Dump();
    EXPECT_LT(run.Out("recv replyLoginEx("), 0) << run.Dump();
    EXPECT_LT(run.Out("recv replyEnterRoomEx("), 0) << run.Dump();
}

TEST(SessionRoad, AFailedRequestIsNeverAnsweredByALaterOutcome)
{
    TempDir dir;
    const std::string script = "wait initiateQiullgateDelegate\n"
                               // No port: refused at once (21), nothing sent to the SDK.
                               "call login 1 \"127.0.0.1\" \"a\" \"p\" 0 \"{}\"\n"
                               // Not logged in yet: the SDK refuses the room.
                               "call enterRoom 2 5 \"\" 0\n"
                               "call login 3 \"127.0.0.1:8906\" \"a\" \"p\" 0 \"{}\"\n"
                               "wait replyLogin\n"
                               "call enterRoom 4 5 \"\" 0\n"
                               "wait replyEnterRoom\n"
                               // A room nobody is in: answered at once with 0 but no list, so no reply ever.
                               "call getRoomOnlineUsers 5 404\n"
                               "call getRoomOnlineUsers 6 5\n"
                               "wait replyGetRoomOnlineUsers\n"
                               "call logout 7\n"
                               "wait replyLogout\n";
    SdkSetup sdk;
    sdk.scenario = "selfid 1001\nroom 5\nuser 2001\nuser 2002\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectInOrder(run,
                  {
                      "call login(1, ",
                      "call enterRoom(2, ",
                      "recv replyLogin(\"standin-session\", 3, 1001, 0)",
                      "recv replyEnterRoom(\"standin-session\", 4, 0, 5)",
                      "call getRoomOnlineUsers(5, 404)",
                      "recv replyGetRoomOnlineUsers(\"standin-session\", 6, 0, 5, \"{\\\"jsonbuf\\\":[2001,2002]}\")",
                      "recv replyLogout(\"standin-session\", 7, 0)",
                  });
    EXPECT_EQ(CallResult(run, "login(1, "), "21") << run.Dump();
    EXPECT_EQ(CallResult(run, "enterRoom(2, "), "4") << run.Dump();
    EXPECT_EQ(CallResult(run, "getRoomOnlineUsers(5, "), "0") << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replyLogin("), 1) << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replyEnterRoom("), 1) << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replyGetRoomOnlineUsers("), 1) << run.Dump();
}

TEST(SessionRoad, LoginRefusedByTheSdkReachesTheGatewayWithTheSdkCode)
{
    TempDir dir;
    SdkSetup sdk;
    sdk.scenario = "selfid 1001\nroom *\nuser 2001\nfail login 117 1\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"},
                                      "wait initiateQiullgateDelegate\n"
                                      "call login 1 \"127.0.0.1:8906\" \"a\" \"bad\" 0 \"{}\"\n"
                                      "wait replyLogin\n"
                                      "call login 2 \"127.0.0.1:8906\" \"a\" \"good\" 0 \"{}\"\n"
                                      "wait replyLogin\n"
                                      "call logout 3\n"
                                      "wait replyLogout\n",
                                      60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    // Before any successful login the own user id is still -1.
    ExpectGroupsInOrder(run, {{"recv replyLogin(\"standin-session\", 1, -1, 117)"},
                              {"recv replyLogin(\"standin-session\", 2, 1001, 0)", "recv notifyAppConfigInfo("}});
    EXPECT_EQ(CountOut(run, "recv notifyAppConfigInfo("), 1) << run.Dump();
}

// Bad input gets a result code, never a crash; the session goes on and ends normally.
TEST(SessionRoad, BadInputGetsResultCodesAndTheSessionGoesOn)
{
    TempDir dir;
    const std::string script = std::string("wait initiateQiullgateDelegate\n") +
                               "call setGeneralParam 1 1 \"\"\n"           // empty init parameters
                               "call setGeneralParam 2 1 \"{not json\"\n"  // unreadable: members read as absent
                               "call setGeneralParam 3 7 \"{}\"\n"         // a type nobody handles
                               "call login 4 \"\" \"\" \"\" 0 \"\"\n"      // empty everything
                               "call login 5 \"127.0.0.1:8906\" \"a\" \"p\" 0 \"{\\\"platformtype\\\":\"\n"
                               "wait replyLogin\n"
                               "call enterRoom 6 -1 \"\" 0\n"
                               "wait replyEnterRoom\n"
                               "call userSpeakControl 7 987654 true\n"  // nobody of that id
                               "wait replyUserSpeakControl\n"
                               "call getRoomOnlineUsers 8 -7\n"
                               "call consultParam 9 1 \"{\\\"peerconnectionid\\\":\"\n"
                               "call webrtcConsult 10 \"\"\n"
                               "call connect 11 \"\"\n"
                               "call logout 12\n"
                               "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectInOrder(run, {
                           "call setGeneralParam(1, ",
                           "call setGeneralParam(2, ",
                           "call setGeneralParam(3, ",
                           "call login(4, ",
                           "call login(5, ",
                           "recv replyLogin(\"standin-session\", 5, 1001, 0)",
                           "recv replyEnterRoom(\"standin-session\", 6, 0, -1)",
                           "call consultParam(9, 1, ",
                           "call webrtcConsult(10, ",
                           "call connect(11, ",
                           "recv replyLogout(\"standin-session\", 12, 0)",
                           "quillgate exit 0",
                       });
    EXPECT_GE(run.Log("[HandleInitParam()]=-1, line:894, Extract debuglevel error!"), 0) << run.Dump();
    const struct {
        const char* call;
        const char* result;
    } results[] = {{"setGeneralParam(1, 1, \"\")", "-1"},  {"setGeneralParam(2, 1, \"{not json\")", "0"},
                   {"setGeneralParam(3, 7, \"{}\")", "0"}, {"login(4, \"\", \"\", \"\", 0, \"\")", "21"},
                   {"webrtcConsult(10, \"\")", "-1"},      {"connect(11, \"\")", "-1"}};
    for (const auto& r : results)
        EXPECT_EQ(CallResult(run, r.call), r.result) << r.call << "\n" << run.Dump();
    // A user nobody knows: the reply carries what the SDK answered the request.
    const std::string result = CallResult(run, "userSpeakControl(7, 987654, true)");
    const int reply = run.Out("recv replyUserSpeakControl(\"standin-session\", 7, 987654, ");
    ASSERT_NE(result, "") << run.Dump();
    ASSERT_GE(reply, 0) << run.Dump();
    EXPECT_EQ(run.out[reply], "recv replyUserSpeakControl(\"standin-session\", 7, 987654, " + result + ") -> 0");
    EXPECT_EQ(CountOut(run, "recv replyLogin("), 1) << run.Dump();
}

// When the browser's own peer objects serve cameras (mode other than 2),
// camera requests never wait for the SDK.
TEST(SessionRoad, CameraRequestsOutsideTheSdkModeAreAnsweredAtOnce)
{
    TempDir dir;
    const std::string script =
        "wait initiateQiullgateDelegate\n"
        "call setGeneralParam 1 1 \"{\\\"browsertype\\\":1,\\\"debuglevel\\\":4,\\\"h5handlestreamtype\\\":1,"
        "\\\"platformtype\\\":2}\"\n"
        // Refused without filing: no reply, ever.
        "call userCameraControl 2 2001 true\n"
        // The browser's own camera from this browser type: refused, and answered with -1.
        "call userCameraControlEx 3 -1 true 0 0 \"{\\\"peerconnectionid\\\":\\\"p1\\\"}\"\n"
        "wait replyUserCameraControlEx\n"
        // Another user's camera: the browser's receiving peer is created and
        // the library offers through it; the SDK's camera waits for the
        // outgoing format, which never comes, so the logout answers it.
        "call userCameraControlEx 4 2001 true 0 0 \"{\\\"peerconnectionid\\\":\\\"p2\\\"}\"\n"
        "wait notifyWebrtcConsult\n"
        "sleep 200\n"
        "call logout 5\n"
        "wait replyLogout\n";
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ExpectInOrder(run, {"call setGeneralParam(1, 1, ", "call userCameraControl(2, 2001, true)",
                        "recv replyUserCameraControlEx(\"standin-session\", 3, -1, -1)",
                        "recv notifyWebrtcConsult(\"standin-session\", 0, \"{\\\"peerconnectionid\\\":\\\"p2\\\",\\\"sdp\\\":",
                        "recv replyLogout(\"standin-session\", 5, 0)"});
    EXPECT_GE(run.Log("CWebRtcConnect::CreateWebrtcSDK: create peerobj success! handle:1, streamIndex:0, steamtype:2, "
                      "userid:2001"),
              0)
        << run.Dump();
    EXPECT_GE(run.Log("sdk platform:Android, borwser:WeChat, version:"), 0) << run.Dump();
    EXPECT_LT(run.Out("recv replyUserCameraControl("), 0) << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replyUserCameraControlEx("), 2) << run.Dump();
    EXPECT_GE(run.Out("recv replyUserCameraControlEx(\"standin-session\", 4, 2001, -1)"), 0) << run.Dump();
    EXPECT_EQ(CallResult(run, "userCameraControl(2, 2001, true)"), "-1") << run.Dump();
    EXPECT_EQ(CallResult(run, "userCameraControlEx(3, -1, true, 0, 0, \"{\\\"peerconnectionid\\\":\\\"p1\\\"}\")"),
              "-1")
        << run.Dump();
}

// A full room: the lists reach the gateway whole, as valid JSON, however long.
TEST(SessionRoad, LongRoomListsReachTheGatewayWhole)
{
    std::string scenario = "selfid 1001\nroom 5\n";
    const int kUsers = 2100;  // both lists well past 10240 bytes
    for (int id = 3000; id < 3000 + kUsers; ++id) {
        const std::string name = "member-" + std::to_string(id) + "-" + std::string(40, 'x');
        std::string hex;
        char byte[3];
        for (unsigned char ch : name) {
            snprintf(byte, sizeof(byte), "%02x", ch);
            hex += byte;
        }
        scenario += "user " + std::to_string(id) + " name=" + hex + "\n";
    }
    SdkSetup sdk;
    sdk.scenario = scenario;
    TempDir dir;
    const GatewayRun run = RunGateway(dir, {"-w", "10"},
                                      "wait initiateQiullgateDelegate\n"
                                      "call login 1 \"127.0.0.1:8906\" \"a\" \"p\" 0 \"{}\"\n"
                                      "wait replyLogin\n"
                                      "call enterRoom 2 5 \"\" 0\n"
                                      "wait notifyOnlineUser\n"
                                      "call getRoomOnlineUsers 3 5\n"
                                      "wait replyGetRoomOnlineUsers\n"
                                      "call logout 4\n"
                                      "wait replyLogout\n",
                                      60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    const int list = run.Out("recv notifyOnlineUser(\"standin-session\", 0, 5, \"{");
    ASSERT_GE(list, 0) << run.Dump();
    const std::string& users = run.out[list];
    EXPECT_GT(users.size(), 10240u);
    const std::string last =
        "{\\\"camerastate\\\":0,\\\"speakstate\\\":0,\\\"userid\\\":5099,\\\"username\\\":\\\"member-5099-" +
        std::string(40, 'x') + "\\\"}]}\") -> 0";
    ASSERT_GE(users.size(), last.size());
    EXPECT_EQ(users.substr(users.size() - last.size()), last);

    const int ids =
        run.Out("recv replyGetRoomOnlineUsers(\"standin-session\", 3, 0, 5, \"{\\\"jsonbuf\\\":[3000,3001,");
    ASSERT_GE(ids, 0) << run.Dump();
    const std::string tail = ",5098,5099]}\") -> 0";
    const std::string& idLine = run.out[ids];
    EXPECT_GT(idLine.size(), 10240u);
    EXPECT_EQ(idLine.substr(idLine.size() - tail.size()), tail);
}

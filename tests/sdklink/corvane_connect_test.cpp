// Login, rooms, users, notify messages, options and general parameters of
// the SDK client, against the stand-in SDK.
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "standins/sdk/include/standin_sdk_codes.h"
#include "tests/sdklink/sdk_client_fixture.h"

namespace {

using qgtest::Find;
using qgtest::kName2001;
using qgtest::SdkClient;

TEST_F(SdkClient, HostWithoutColonIsRefusedWithNoSideEffect)
{
    StartSdk();
    LOGIN_OK("{\"platformtype\":3,\"browsertype\":2}");
    ASSERT_EQ(Sdk().GetPlatformType(), 3u);
    ASSERT_EQ(Sdk().GetBrowserType(), 2u);
    const size_t journalBefore = Journal().size();
    const size_t logBefore = Log().size();

    EXPECT_EQ(Sdk().doLogin("127.0.0.1", "bob", "pw", 0, "{\"platformtype\":7,\"serverauthpass\":\"x\"}"), 21);
    EXPECT_EQ(Sdk().doLoginEx("", "bob", 5, "5", "app", 0, "sig", "", "{}"), 21);
    EXPECT_EQ(Journal().size(), journalBefore);
    EXPECT_EQ(Log().size(), logBefore);
    EXPECT_EQ(Sdk().GetPlatformType(), 3u);
    EXPECT_EQ(Sdk().GetBrowserType(), 2u);
}

TEST_F(SdkClient, HostPortAndLoginParametersReachTheSdk)
{
    StartSdk();
    // A trailing colon is port 0; without "platformtype" the type is 0, not 1.
    EXPECT_EQ(Sdk().doLogin("10.1.2.3:", "alice", "pw", 2, "{\"browsertype\":4}"), 0);
    EXPECT_EQ(Sdk().GetPlatformType(), 0u);
    EXPECT_EQ(Sdk().GetBrowserType(), 4u);
    // Bad JSON reads as no members.
    EXPECT_EQ(Sdk().doLogin("10.1.2.3:8906", "alice", "pw", 0, "{not json"), 0);
    EXPECT_EQ(Sdk().GetBrowserType(), 0u);
    EXPECT_EQ(Sdk().doLogin("10.1.2.3:8906", "alice", "pw", 0, "{\"serverauthpass\":\"s3cret\"}"), 0);

    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_Connect \"10.1.2.3\" 0 = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_Login \"alice\" \"pw\" 2 = 0"), 0);
    const int pass = Find(j, "CVAPI_SetServerAuthPass \"s3cret\" = 0");
    ASSERT_GE(pass, 0);
    EXPECT_GE(Find(j, "CVAPI_Connect \"10.1.2.3\" 8906 = 0", pass), 0);
    EXPECT_GE(Find(Log(), "[proxy] invoke CCorvaneConnect::doLogin[10.1.2.3:0], username;alice, pass:***, "
                          "passEncType:2, ret:0"),
              0);
}

TEST_F(SdkClient, RefusedServerPasswordAnswersAtOnceAndNeverConnects)
{
    StartSdk("return CVAPI_SetServerAuthPass 20\n");
    EXPECT_EQ(Sdk().doLogin("127.0.0.1:8906", "alice", "pw", 0, "{\"serverauthpass\":\"bad\"}"), 20);
    EXPECT_EQ(WaitCall("ReplyLogin"), "ReplyLogin(-1, 20)");
    EXPECT_EQ(Find(Journal(), "CVAPI_Connect"), -1);
    EXPECT_GE(Find(Log(), "[proxy] CCorvaneConnect::doLogin: SetServerAuthPass fail! pass:***, ret:20"), 0);
}

TEST_F(SdkClient, SecondLoginLogsOutFirstAndAFailedLoginKeepsThePreviousId)
{
    StartSdk();
    LOGIN_OK("{}");
    EXPECT_EQ(Calls()[0], "ReplyLogin(1001, 0)");
    EXPECT_NE(WaitCall("NotifyAppConfigInfo"), "");
    EXPECT_GE(owner_->nameUpdates(), 1);
    ASSERT_EQ(Sdk().GetOwnUserId(), 1001u);

    // A new SDK session that refuses the login and would name another id.
    StartSdk("selfid 4242\nfail login 9\n");
    ASSERT_EQ(Sdk().doLogin("127.0.0.1:8906", "alice", "pw", 0, "{}"), 0);
    EXPECT_EQ(WaitCall("ReplyLogin", "1001, 9"), "ReplyLogin(1001, 9)");
    EXPECT_EQ(Sdk().GetOwnUserId(), 1001u);
    const std::vector<std::string> j = Journal();
    const int logout = Find(j, "CVAPI_Logout");
    ASSERT_GE(logout, 0);
    EXPECT_GT(Find(j, "CVAPI_Connect "), logout);
}

TEST_F(SdkClient, ConnectFailureAnswersTheLoginWithTheOwnIdAndTheCode)
{
    StartSdk("fail connect 7\n");
    const int ownId = static_cast<int>(Sdk().GetOwnUserId());
    ASSERT_EQ(Sdk().doLogin("127.0.0.1:8906", "alice", "pw", 0, "{}"), 0);
    EXPECT_EQ(WaitCall("ReplyLogin"), "ReplyLogin(" + std::to_string(ownId) + ", 7)");
}

TEST_F(SdkClient, LoginExUsesItsOwnSdkCall)
{
    StartSdk();
    ASSERT_EQ(Sdk().doLoginEx("127.0.0.1:8906", "nick", 3100, "3100", "app", 12, "sig", "p", "{}"), 0);
    EXPECT_EQ(WaitCall("ReplyLogin"), "ReplyLogin(3100, 0)");
    EXPECT_GE(Find(Journal(), "CVAPI_LoginEx \"nick\" 3100 \"3100\" \"app\" 12 \"sig\" \"p\" = 0"), 0);
}

TEST_F(SdkClient, RoomUserListIsCompactSortedAndConverted)
{
    StartSdk();
    LOGIN_OK("{}");
    ASSERT_EQ(Sdk().doEnterRoom(5, "", 0), 0);
    EXPECT_EQ(WaitCall("ReplyEnterRoom"), "ReplyEnterRoom(5, 0)");
    EXPECT_EQ(WaitCall("NotifyOnlineUser"),
              std::string("NotifyOnlineUser(0, 5, "
                          "\"{\"useridlist\":[2001,2002],\"userlist\":["
                          "{\"camerastate\":2,\"speakstate\":1,\"userid\":2001,\"username\":\"") +
                  kName2001 + "\"},{\"camerastate\":0,\"speakstate\":0,\"userid\":2002,\"username\":\"guest\"}]}\")");
    // Per listed user the SDK is asked name, camera, speak, then device type.
    const std::vector<std::string> j = Journal();
    const int name = Find(j, "CVAPI_GetUserName 2001 ");
    ASSERT_GE(name, 0);
    const int camera = Find(j, "CVAPI_GetCameraState 2001 ", name);
    ASSERT_GT(camera, name);
    const int speak = Find(j, "CVAPI_GetSpeakState 2001 ", camera);
    ASSERT_GT(speak, camera);
    EXPECT_GT(Find(j, "CVAPI_QueryUserState 2001 15 ", speak), speak);
    // Each listed user's device type is on record.
    UserAttrInfo info;
    ASSERT_EQ(Sdk().GetUserAttribut(2001, info), 0);
    EXPECT_EQ(info.deviceType, 1u);

    ASSERT_EQ(Sdk().doGetRoomOnlineUsers(5), 0);
    EXPECT_EQ(WaitCall("ReplyGetRoomOnlineUsers"), "ReplyGetRoomOnlineUsers(5, \"{\"jsonbuf\":[2001,2002]}\", 0)");
}

TEST_F(SdkClient, EmptyRoomGivesTheEmptyListAndNoIdReply)
{
    StartSdk("room 9\nroom 5\nuser 2001\n");
    LOGIN_OK("{}");
    std::string text = "unset";
    EXPECT_EQ(Sdk().CollectRoomUsers(9, text), 0);
    EXPECT_EQ(text, "{\"useridlist\":[]}");

    EXPECT_EQ(Sdk().doGetRoomOnlineUsers(9), 0);
    ASSERT_EQ(Sdk().doGetRoomOnlineUsers(5), 0);
    // The first id-list reply is room 5's: the empty room sent none.
    EXPECT_EQ(WaitCall("ReplyGetRoomOnlineUsers"), "ReplyGetRoomOnlineUsers(5, \"{\"jsonbuf\":[2001]}\", 0)");
    EXPECT_GE(Find(Log(), "[proxy] invoke CCorvaneConnect::doGetRoomOnlineUsers[roomid:9] = 0"), 0);
}

TEST_F(SdkClient, LongUserListReachesTheGatewayWhole)
{
    // 600 users with 40-byte names: far beyond 10240 bytes of text.
    std::string scenario = "room 7\n";
    const std::string nameHex(80, '6');  // "ffff..." in GB2312: 40 'f'
    for (int id = 5000; id < 5600; ++id)
        scenario += "user " + std::to_string(id) + " name=" + nameHex + " device=4\n";
    StartSdk(scenario);
    LOGIN_OK("{}");
    ASSERT_EQ(Sdk().doEnterRoom(7, "", 0), 0);

    const std::string list = WaitCall("NotifyOnlineUser");
    ASSERT_GT(list.size(), 10240u * 3);
    const Json::Value users = JsonArg(list);
    ASSERT_EQ(users["useridlist"].size(), 600u);
    ASSERT_EQ(users["userlist"].size(), 600u);
    EXPECT_EQ(users["userlist"][599]["userid"].asInt(), 5599);
    EXPECT_EQ(users["userlist"][599]["username"].asString(), std::string(40, 'f'));

    ASSERT_EQ(Sdk().doGetRoomOnlineUsers(7), 0);
    const Json::Value ids = JsonArg(WaitCall("ReplyGetRoomOnlineUsers"));
    ASSERT_EQ(ids["jsonbuf"].size(), 600u);
    EXPECT_EQ(ids["jsonbuf"][0].asInt(), 5000);
}

TEST_F(SdkClient, UsersEnteringAndLeavingKeepTheAttributeMap)
{
    StartSdk();
    LOGIN_OK("{}");

    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_USERATROOM, 2001, 1));
    EXPECT_EQ(WaitCall("NotifyUserAtRoom"),
              std::string("NotifyUserAtRoom(0, 2001, \"") + kName2001 + "\", true, 2, 1)");
    UserAttrInfo info;
    ASSERT_EQ(Sdk().GetUserAttribut(2001, info), 0);
    EXPECT_EQ(info.deviceType, 1u);

    // Leaving: states -1, record gone.
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_USERATROOM, 2001, 0));
    EXPECT_EQ(WaitCall("NotifyUserAtRoom", "0, 2001, \"" + std::string(kName2001) + "\", false"),
              std::string("NotifyUserAtRoom(0, 2001, \"") + kName2001 + "\", false, -1, -1)");
    EXPECT_EQ(Sdk().GetUserAttribut(2001, info), -1);

    // An unknown user entering has no device type: no record, a failure line.
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_USERATROOM, 7777, 1));
    EXPECT_EQ(WaitCall("NotifyUserAtRoom", "0, 7777"), "NotifyUserAtRoom(0, 7777, \"\", true, -1, -1)");
    EXPECT_EQ(Sdk().GetUserAttribut(7777, info), -1);
    EXPECT_GE(Find(Log(), "[proxy] CCorvaneConnect::OnUserAtRoom: query user state fail! userid:7777, infoname:15, "
                          "ret:7"),
              0);
}

TEST_F(SdkClient, AttributeMapAddsUpdatesAndAnswersMinusOneForTheOwnUser)
{
    StartSdk();
    LOGIN_OK("{}");
    UserAttrInfo info;
    info.userId = 1001;
    info.deviceType = 8;
    Sdk().AddUserAttribut(1001, info);
    info.deviceType = 4;
    info.joined = "ab";
    Sdk().AddUserAttribut(1001, info);

    UserAttrInfo got;
    ASSERT_EQ(Sdk().GetUserAttribut(static_cast<uint32_t>(-1), got), 0);
    EXPECT_EQ(got.deviceType, 4u);
    EXPECT_EQ(got.joined, "ab");
    const std::vector<std::string> log = Log();
    const int added = Find(log, "[proxy] CCorvaneConnect::AddUserAttribut: add user attr info!");
    ASSERT_GE(added, 0);
    EXPECT_GT(Find(log, "[proxy] CCorvaneConnect::AddUserAttribut: updata user attr info!"), added);

    // Logout empties the map and keeps the own id.
    EXPECT_EQ(Sdk().doLogout(), 0);
    EXPECT_EQ(Sdk().GetUserAttribut(1001, got), -1);
    EXPECT_EQ(Sdk().GetOwnUserId(), 1001u);
    EXPECT_FALSE(Sdk().IsConnected());
}

TEST_F(SdkClient, LeaveRoomAndSpeakControlAnswerAtOnce)
{
    StartSdk();
    LOGIN_OK("{}");
    ASSERT_EQ(Sdk().doEnterRoom(5, "", 0), 0);
    ASSERT_NE(WaitCall("NotifyOnlineUser"), "");

    const size_t before = Calls().size();
    EXPECT_EQ(Sdk().doUserSpeakControl(2002, true), 0);
    EXPECT_EQ(Sdk().doUserSpeakControlEx(2002, false, 1, 0, "{}"), 0);
    EXPECT_EQ(Sdk().doLeaveRoom(), 0);
    // Each answer was given before its call returned (the SDK's microphone
    // of 2002 may have sent a frame meanwhile).
    std::vector<std::string> calls;
    for (const std::string& c : Calls())
        if (c.compare(0, 9, "OnReceive") != 0)
            calls.push_back(c);
    ASSERT_EQ(calls.size(), before + 3);
    EXPECT_EQ(calls[before], "ReplyUserSpeakControl(2002, 0)");
    EXPECT_EQ(calls[before + 1], "ReplyUserSpeakControlEx(2002, 0)");
    EXPECT_EQ(calls[before + 2], "ReplyLeaveRoom(0)");
    UserAttrInfo info;
    EXPECT_EQ(Sdk().GetUserAttribut(2001, info), -1);

    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_UserSpeakControl 2002 1 = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_UserSpeakControlEx 2002 0 1 0 \"{}\" = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_LeaveRoom -1 = 0"), 0);
}

// Notify messages through the table: number, wParam, lParam, what the owner gets.
struct NotifyCase {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
    const char* call;
};

TEST_F(SdkClient, NotifyMessagesFollowTheTable)
{
    StartSdk("room *\nuser 2001 name=d5c5c8fd info=6869\n");
    const NotifyCase cases[] = {
        {CV_MSG_MICSTATE, 2001, 1, "NotifyMicStateChange(2001, 1)"},
        {CV_MSG_LINKCLOSE, 0, 12, "NotifyLinkClose(12)"},
        {CV_MSG_CAMERASTATE, 2001, 2, "NotifyCameraStateChange(2001, 2)"},
        {CV_MSG_VIDEOSIZE, 2001, (640u << 16) | 480u, "NotifyVideoSizeChange(2001, 41943520)"},
        {CV_MSG_USERINFO, 2001, 3, "NotifyUserInfoUpdate(2001, 3)"},
    };
    for (const NotifyCase& c : cases) {
        ASSERT_TRUE(Sdk().HandleNotifyMessage(c.message, c.wParam, c.lParam)) << c.message;
        const std::string call(c.call);
        EXPECT_EQ(WaitCall(call.substr(0, call.find('('))), call);
    }
    // Friend status: the name converted, the info text as read.
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_FRIEND, 2001, 1));
    EXPECT_EQ(WaitCall("NotifyFriendStatus"),
              std::string("NotifyFriendStatus(2001, \"") + kName2001 + "\", \"hi\", 1)");

    // Numbers without a handler change nothing.
    for (uint32_t message : {1224u, 1232u, 1233u, 1234u, 1236u, 1237u, 1238u, 1242u})
        EXPECT_FALSE(Sdk().HandleNotifyMessage(message, 1, 2)) << message;
    // A callback without its user value does nothing.
    CCorvaneConnect::OnCorvaneNotifyMessageCallBack(CV_MSG_LINKCLOSE, 0, 13, nullptr);
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_LINKCLOSE, 0, 14));
    ASSERT_NE(WaitCall("NotifyLinkClose", "14"), "");
    EXPECT_EQ(Find(Calls(), "NotifyLinkClose(13)"), -1);
}

TEST_F(SdkClient, OptionsAnswerBeforeReturningAndTheLogOptionNever)
{
    StartSdk("option 300 text 6869\n");
    EXPECT_EQ(Sdk().doSetSDKOptionInt(301, 77), 0);
    EXPECT_EQ(Calls().back(), "ReplySetSDKOptionInt(0)");
    EXPECT_EQ(Sdk().doGetSDKOptionInt(301), 0);
    EXPECT_EQ(Calls().back(), "ReplyGetSDKOptionInt(0, 301, 77)");
    // An option never set keeps the preset -1 and passes the SDK's code on.
    EXPECT_EQ(Sdk().doGetSDKOptionInt(999), CV_ERR_NOOPTION);
    EXPECT_EQ(Calls().back(), "ReplyGetSDKOptionInt(9, 999, -1)");
    EXPECT_EQ(Sdk().doGetSDKOptionString(300), 0);
    EXPECT_EQ(Calls().back(), "ReplyGetSDKOptionString(0, 300, \"hi\")");
    // A value that fills the SDK's whole buffer reaches the gateway as 1023 bytes.
    const std::string full(1024, 'v');
    EXPECT_EQ(Sdk().doSetSDKOptionString(303, full), 0);
    EXPECT_EQ(Sdk().doGetSDKOptionString(303), 0);
    EXPECT_EQ(Calls().back(), "ReplyGetSDKOptionString(0, 303, \"" + full.substr(0, 1023) + "\")");

    // A line for the SDK's log lands there, without reply or log line of its own.
    const size_t before = Calls().size();
    EXPECT_EQ(Sdk().doSetSDKOptionString(CV_OPT_WRITE_LOG, "straight in"), 0);
    EXPECT_EQ(Calls().size(), before);
    EXPECT_EQ(Sdk().doSetSDKOptionString(302, "x"), 0);
    EXPECT_EQ(Calls().back(), "ReplySetSDKOptionString(0)");
    const std::vector<std::string> log = Log();
    EXPECT_GE(Find(log, "straight in"), 0);
    EXPECT_EQ(Find(log, "[proxy] invoke CCorvaneConnect::doSetSDKOptionString: optName:135"), -1);
}

TEST_F(SdkClient, GeneralParametersKeepTheirLastValues)
{
    StartSdk();
    EXPECT_EQ(Sdk().HandleWebCommand(1, "{\"sdkfunction\":8,\"serverfunction\":3}"), 0);
    EXPECT_EQ(Sdk().GetSDKFunctions(), 8u);
    EXPECT_EQ(Sdk().HandleWebCommand(1, "{\"serverfunction\":5}"), 0);
    EXPECT_EQ(Sdk().GetSDKFunctions(), 8u);
    EXPECT_EQ(Sdk().HandleWebCommand(2, "{\"html5videocodec\":3}"), 0);
    EXPECT_GE(Find(Log(), "[proxy] [HandleSetVideoCodes()]=0, line:"), 0);
    EXPECT_EQ(Sdk().GetH5VideoCodec(), 3u);
    EXPECT_EQ(Sdk().HandleWebCommand(2, "{}"), 0);
    EXPECT_EQ(Sdk().GetH5VideoCodec(), 3u);
    EXPECT_EQ(Sdk().HandleWebCommand(7, "{\"sdkfunction\":1}"), 0);
    EXPECT_EQ(Sdk().GetSDKFunctions(), 8u);
    EXPECT_GE(Find(Log(), "[proxy] [HandleInitParam()]=0, line:"), 0);
}

}  // namespace

// The SDK client against the real stand-in SDK: each test starts the SDK
// with its own journal, log and scenario; what reaches the gateway is taken
// from a recording gateway served over Ice on 127.0.0.1.
#include "../comm/recording_servants.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "quillgate/sdklink/corvane_connect.h"
#include "quillgate/sdklink/text_convert.h"
#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/rpc_quillgate.h"
#include "tests/support/test_support.h"
#include "util/cv_ioutils.h"

namespace {

using qgtest::Find;
using qgtest::ReadLines;
using qgtest::TempDir;

const char kSession[] = "sess-sdk";
const char kName2001[] = "\xe5\xbc\xa0\xe4\xb8\x89";  // the default user 2001, as UTF-8

std::string Quote(const std::string& s)
{
    return "\"" + s + "\"";
}

// ---- text conversion ----

struct ConvertCase {
    const char* name;
    const char* gb2312;
    unsigned int capacity;
    int result;
    const char* utf8;
};

class GB2312ToUTF8 : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(GB2312ToUTF8, ConvertsWithinCapacityAndAlwaysTerminates)
{
    const ConvertCase& c = GetParam();
    // Canary bytes past the capacity show any overrun.
    std::vector<char> out(c.capacity + 8, '#');
    memset(out.data(), 0, c.capacity);
    EXPECT_EQ(ConvertGB2312ToUTF8(c.gb2312, out.data(), c.capacity), c.result);
    EXPECT_EQ(std::string(out.data()), c.utf8);
    EXPECT_EQ(out[c.capacity - 1], '\0');
    for (size_t i = c.capacity; i < out.size(); ++i)
        EXPECT_EQ(out[i], '#') << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GB2312ToUTF8,
    ::testing::Values(ConvertCase{"TwoCharacters", "\xd5\xc5\xc8\xfd", 64, 1, kName2001},
                      ConvertCase{"Ascii", "guest", 64, 1, "guest"},
                      ConvertCase{"Empty", "", 4, 1, ""},
                      ConvertCase{"ExactFitWithNul", "\xd5\xc5\xc8\xfd", 7, 1, kName2001},
                      ConvertCase{"OneShortCutsAtCharacter", "\xd5\xc5\xc8\xfd", 6, 0, "\xe5\xbc\xa0"},
                      ConvertCase{"RoomForNothing", "\xd5\xc5\xc8\xfd", 3, 0, ""},
                      ConvertCase{"AsciiCutToCapacity", "abcdef", 4, 0, "abc"},
                      ConvertCase{"InvalidBytesGiveEmpty", "a\xff\xff", 16, 0, ""}),
    [](const ::testing::TestParamInfo<ConvertCase>& info) { return std::string(info.param.name); });

TEST(TextConvert, UTF8ToGB2312RoundTripsAndHandlesNullAndZeroCapacity)
{
    char gb[16] = {0};
    EXPECT_EQ(ConvertUTF8ToGB2312(kName2001, gb, sizeof(gb)), 1);
    EXPECT_STREQ(gb, "\xd5\xc5\xc8\xfd");

    char untouched[4] = {'x', 'y', 'z', '\0'};
    EXPECT_EQ(ConvertGB2312ToUTF8("abc", untouched, 0), 0);
    EXPECT_STREQ(untouched, "xyz");
    // Nothing to convert leaves out as it was.
    EXPECT_EQ(ConvertGB2312ToUTF8("", untouched, sizeof(untouched)), 1);
    EXPECT_STREQ(untouched, "xyz");
    EXPECT_EQ(ConvertGB2312ToUTF8(nullptr, untouched, sizeof(untouched)), 1);
    EXPECT_STREQ(untouched, "xyz");
}

// ---- the SDK client ----

class SdkClient : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Ice::InitializationData quiet;
        quiet.properties = Ice::createProperties();
        quiet.properties->setProperty("Ice.Warn.Dispatch", "0");
        quiet.properties->setProperty("Ice.MessageSizeMax", "4096");
        server_ = Ice::initialize(quiet);
        Ice::ObjectAdapterPtr adapter = server_->createObjectAdapterWithEndpoints("Gateway", "tcp -h 127.0.0.1 -p 0");
        gateway_ = new RecordingGateway;
        adapter->add(gateway_, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
        adapter->activate();
        Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(adapter->getEndpoints()[0]->getInfo());
        ASSERT_TRUE(info);
        rpc_ = new rpcCorvaneQuillgate(kSession);
        ASSERT_EQ(rpc_->Init(CV_IOUtils::IPString2Num("127.0.0.1"), info->port, "127.0.0.1", 3478), 0);
    }

    static void TearDownTestSuite()
    {
        rpc_->Release();
        CConnectMgr::GetInstance().SetRpcProxy(nullptr);
        rpc_ = nullptr;
        server_->destroy();
        server_ = nullptr;
        gateway_ = nullptr;
    }

    void SetUp() override { seen_ = gateway_->Calls().size(); }

    void TearDown() override
    {
        Sdk().ReleaseSDK();
        unsetenv("QG_SDK_SCENARIO");
    }

    // Starts the stand-in SDK on this test's files; scenario text optional.
    void StartSdk(const std::string& scenario = "")
    {
        Sdk().ReleaseSDK();
        setenv("QG_SDK_JOURNAL", dir_.File("journal").c_str(), 1);
        setenv("QG_SDK_LOG", dir_.File("sdk.log").c_str(), 1);
        if (scenario.empty()) {
            unsetenv("QG_SDK_SCENARIO");
        } else {
            std::ofstream(dir_.File("scenario")) << scenario;
            setenv("QG_SDK_SCENARIO", dir_.File("scenario").c_str(), 1);
        }
        ASSERT_EQ(Sdk().InitSDK(), 0);
        journalStart_ = Journal().size();
    }

    static CConnectMgr& Mgr() { return CConnectMgr::GetInstance(); }
    static CCorvaneConnect& Sdk() { return CConnectMgr::GetInstance().GetSDKClient(); }

    // Journal lines since StartSdk.
    std::vector<std::string> Journal() const
    {
        std::vector<std::string> all = ReadLines(dir_.File("journal"));
        all.erase(all.begin(), all.begin() + std::min(all.size(), journalStart_));
        return all;
    }
    std::vector<std::string> Log() const { return ReadLines(dir_.File("sdk.log")); }

    // Gateway calls received since the test began.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> all = gateway_->Calls();
        all.erase(all.begin(), all.begin() + std::min(all.size(), seen_));
        return all;
    }

    // Waits (bounded) for a gateway call starting with op("sess-sdk", ...
    // and returns it whole; empty on time-out.
    std::string WaitCall(const std::string& op, const std::string& argsPrefix = "") const
    {
        const std::string prefix = op + "(" + Quote(kSession) + (argsPrefix.empty() ? "" : ", " + argsPrefix);
        for (int i = 0; i < 200; ++i) {
            std::vector<std::string> calls = Calls();
            const int at = Find(calls, prefix);
            if (at >= 0)
                return calls[static_cast<size_t>(at)];
            gateway_->WaitCount(seen_ + calls.size() + 1, 25);
        }
        return "";
    }

    // The last string argument of a recorded call: the JSON text of a list.
    static Json::Value LastJsonArg(const std::string& call)
    {
        const size_t open = call.find(", \"{");
        Json::Value root;
        if (open == std::string::npos)
            return root;
        const std::string text = call.substr(open + 3, call.size() - (open + 3) - 2);
        Json::Reader().parse(text, root);
        return root;
    }

    TempDir dir_{"qg-sdklink-"};
    size_t seen_ = 0;
    size_t journalStart_ = 0;
    static Ice::CommunicatorPtr server_;
    static IceUtil::Handle<RecordingGateway> gateway_;
    static rpcCorvaneQuillgateHandle rpc_;
};

Ice::CommunicatorPtr SdkClient::server_;
IceUtil::Handle<RecordingGateway> SdkClient::gateway_;
rpcCorvaneQuillgateHandle SdkClient::rpc_;

// Logs in as "alice" and waits (bounded) for the answer to reqid.
#define LOGIN_OK(reqid, params)                                                                     \
    do {                                                                                            \
        ASSERT_EQ(Mgr().Login(reqid, "127.0.0.1:8906", "alice", "pw", 0, params), 0);               \
        ASSERT_NE(WaitCall("replyLogin", std::to_string(reqid) + ","), "") << ::testing::PrintToString(Calls()); \
    } while (0)

TEST_F(SdkClient, HostWithoutColonIsRefusedWithNoSideEffect)
{
    StartSdk();
    LOGIN_OK(1, "{\"platformtype\":3,\"browsertype\":2}");
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
    EXPECT_GE(Find(Log(), "[proxy] invoke CCorvaneConnect::doLogin[10.1.2.3:0], username;alice, pass:pw, "
                          "passEncType:2, ret:0"),
              0);
}

TEST_F(SdkClient, RefusedServerPasswordAnswersAtOnceAndNeverConnects)
{
    StartSdk("return CVAPI_SetServerAuthPass 20\n");
    EXPECT_EQ(Mgr().Login(3, "127.0.0.1:8906", "alice", "pw", 0, "{\"serverauthpass\":\"bad\"}"), 20);
    EXPECT_EQ(WaitCall("replyLogin", "3,"), "replyLogin(\"sess-sdk\", 3, -1, 20)");
    EXPECT_EQ(Find(Journal(), "CVAPI_Connect"), -1);
    EXPECT_GE(Find(Log(), "[proxy] CCorvaneConnect::doLogin: SetServerAuthPass fail! pass:bad, ret:20"), 0);
}

TEST_F(SdkClient, SecondLoginLogsOutFirstAndAFailedLoginKeepsThePreviousId)
{
    StartSdk();
    LOGIN_OK(4, "{}");
    EXPECT_EQ(Calls()[0], "replyLogin(\"sess-sdk\", 4, 1001, 0)");
    EXPECT_NE(WaitCall("notifyAppConfigInfo"), "");
    ASSERT_EQ(Sdk().GetOwnUserId(), 1001u);

    // A new SDK session that refuses the login and would name another id.
    StartSdk("selfid 4242\nfail login 9\n");
    ASSERT_EQ(Mgr().Login(5, "127.0.0.1:8906", "alice", "pw", 0, "{}"), 0);
    EXPECT_EQ(WaitCall("replyLogin", "5,"), "replyLogin(\"sess-sdk\", 5, 1001, 9)");
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
    ASSERT_EQ(Mgr().Login(6, "127.0.0.1:8906", "alice", "pw", 0, "{}"), 0);
    EXPECT_EQ(WaitCall("replyLogin", "6,"), "replyLogin(\"sess-sdk\", 6, " + std::to_string(ownId) + ", 7)");
}

TEST_F(SdkClient, LoginExUsesItsOwnSdkCall)
{
    StartSdk();
    ASSERT_EQ(Mgr().LoginEx(7, "127.0.0.1:8906", "nick", 3100, "3100", "app", 12, "sig", "p", "{}"), 0);
    EXPECT_EQ(WaitCall("replyLogin", "7,"), "replyLogin(\"sess-sdk\", 7, 3100, 0)");
    EXPECT_GE(Find(Journal(), "CVAPI_LoginEx \"nick\" 3100 \"3100\" \"app\" 12 \"sig\" \"p\" = 0"), 0);
}

TEST_F(SdkClient, RoomUserListIsCompactSortedAndConverted)
{
    StartSdk();
    LOGIN_OK(8, "{}");
    ASSERT_EQ(Mgr().EnterRoom(9, 5, "", 0), 0);
    EXPECT_EQ(WaitCall("replyEnterRoom", "9,"), "replyEnterRoom(\"sess-sdk\", 9, 0, 5)");
    EXPECT_EQ(WaitCall("notifyOnlineUser"),
              std::string("notifyOnlineUser(\"sess-sdk\", 0, 5, "
                          "\"{\"useridlist\":[2001,2002],\"userlist\":["
                          "{\"camerastate\":2,\"speakstate\":1,\"userid\":2001,\"username\":\"") +
                  kName2001 +
                  "\"},{\"camerastate\":0,\"speakstate\":0,\"userid\":2002,\"username\":\"guest\"}]}\")");
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

    ASSERT_EQ(Mgr().GetRoomOnlineUsers(10, 5), 0);
    EXPECT_EQ(WaitCall("replyGetRoomOnlineUsers", "10,"),
              "replyGetRoomOnlineUsers(\"sess-sdk\", 10, 0, 5, \"{\"jsonbuf\":[2001,2002]}\")");
}

TEST_F(SdkClient, EmptyRoomGivesTheEmptyListAndNoIdReply)
{
    StartSdk("room 9\nroom 5\nuser 2001\n");
    LOGIN_OK(11, "{}");
    std::string text = "unset";
    EXPECT_EQ(Sdk().CollectRoomUsers(9, text), 0);
    EXPECT_EQ(text, "{\"useridlist\":[]}");

    EXPECT_EQ(Mgr().GetRoomOnlineUsers(12, 9), 0);
    ASSERT_EQ(Mgr().GetRoomOnlineUsers(13, 5), 0);
    // The first id-list reply is room 5's: the empty room sent none.
    const std::string first = WaitCall("replyGetRoomOnlineUsers");
    EXPECT_NE(first.find(", 0, 5, \"{\"jsonbuf\":[2001]}\")"), std::string::npos) << first;
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
    LOGIN_OK(14, "{}");
    ASSERT_EQ(Mgr().EnterRoom(15, 7, "", 0), 0);

    const std::string list = WaitCall("notifyOnlineUser");
    ASSERT_GT(list.size(), 10240u * 3);
    const Json::Value users = LastJsonArg(list);
    ASSERT_EQ(users["useridlist"].size(), 600u);
    ASSERT_EQ(users["userlist"].size(), 600u);
    EXPECT_EQ(users["userlist"][599]["userid"].asInt(), 5599);
    EXPECT_EQ(users["userlist"][599]["username"].asString(), std::string(40, 'f'));

    ASSERT_EQ(Mgr().GetRoomOnlineUsers(16, 7), 0);
    const Json::Value ids = LastJsonArg(WaitCall("replyGetRoomOnlineUsers", "16,"));
    ASSERT_EQ(ids["jsonbuf"].size(), 600u);
    EXPECT_EQ(ids["jsonbuf"][0].asInt(), 5000);
}

TEST_F(SdkClient, UsersEnteringAndLeavingKeepTheAttributeMap)
{
    StartSdk();
    LOGIN_OK(17, "{}");

    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_USERATROOM, 2001, 1));
    EXPECT_EQ(WaitCall("notifyUserAtRoom"),
              std::string("notifyUserAtRoom(\"sess-sdk\", 0, 2001, \"") + kName2001 + "\", true, 2, 1)");
    UserAttrInfo info;
    ASSERT_EQ(Sdk().GetUserAttribut(2001, info), 0);
    EXPECT_EQ(info.deviceType, 1u);

    // Leaving: states -1, record gone.
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_USERATROOM, 2001, 0));
    EXPECT_EQ(WaitCall("notifyUserAtRoom", "0, 2001, \"" + std::string(kName2001) + "\", false"),
              std::string("notifyUserAtRoom(\"sess-sdk\", 0, 2001, \"") + kName2001 + "\", false, -1, -1)");
    EXPECT_EQ(Sdk().GetUserAttribut(2001, info), -1);

    // An unknown user entering has no device type: no record, a failure line.
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_USERATROOM, 7777, 1));
    EXPECT_EQ(WaitCall("notifyUserAtRoom", "0, 7777"), "notifyUserAtRoom(\"sess-sdk\", 0, 7777, \"\", true, -1, -1)");
    EXPECT_EQ(Sdk().GetUserAttribut(7777, info), -1);
    EXPECT_GE(Find(Log(), "[proxy] CCorvaneConnect::OnUserAtRoom: query user state fail! userid:7777, infoname:15, "
                          "ret:7"),
              0);
}

TEST_F(SdkClient, AttributeMapAddsUpdatesAndAnswersMinusOneForTheOwnUser)
{
    StartSdk();
    LOGIN_OK(18, "{}");
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
    LOGIN_OK(19, "{}");
    ASSERT_EQ(Mgr().EnterRoom(20, 5, "", 0), 0);
    ASSERT_NE(WaitCall("notifyOnlineUser"), "");

    EXPECT_EQ(Mgr().UserSpeakControl(21, 2002, true), 0);
    EXPECT_EQ(WaitCall("replyUserSpeakControl", "21,"), "replyUserSpeakControl(\"sess-sdk\", 21, 2002, 0)");
    EXPECT_EQ(Mgr().UserSpeakControlEx(22, 2002, false, 1, 0, "{}"), 0);
    EXPECT_EQ(WaitCall("replyUserSpeakControlEx", "22,"), "replyUserSpeakControlEx(\"sess-sdk\", 22, 2002, 0)");

    EXPECT_EQ(Mgr().LeaveRoom(23), 0);
    EXPECT_EQ(WaitCall("replyLeaveRoom", "23,"), "replyLeaveRoom(\"sess-sdk\", 23, 0)");
    UserAttrInfo info;
    EXPECT_EQ(Sdk().GetUserAttribut(2001, info), -1);

    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_UserSpeakControl 2002 1 = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_UserSpeakControlEx 2002 0 1 0 \"{}\" = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_LeaveRoom -1 = 0"), 0);
}

// Notify messages through the table: number, wParam, lParam, what the gateway gets.
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
        {CV_MSG_MICSTATE, 2001, 1, "notifyMicStateChange(\"sess-sdk\", 2001, 1)"},
        {CV_MSG_LINKCLOSE, 0, 12, "notifyLinkClose(\"sess-sdk\", 12)"},
        {CV_MSG_CAMERASTATE, 2001, 2, "notifyCameraStateChange(\"sess-sdk\", 2001, 2)"},
        {CV_MSG_VIDEOSIZE, 2001, (640u << 16) | 480u, "notifyVideoSizeChange(\"sess-sdk\", 2001, 41943520)"},
        {CV_MSG_USERINFO, 2001, 3, "notifyUserInfoUpdate(\"sess-sdk\", 2001, 3)"},
    };
    for (const NotifyCase& c : cases) {
        ASSERT_TRUE(Sdk().HandleNotifyMessage(c.message, c.wParam, c.lParam)) << c.message;
        const std::string call(c.call);
        EXPECT_EQ(WaitCall(call.substr(0, call.find('('))), call);
    }
    // Friend status: the name converted, the info text as read.
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_FRIEND, 2001, 1));
    EXPECT_EQ(WaitCall("notifyFriendStatus"),
              std::string("notifyFriendStatus(\"sess-sdk\", 2001, \"") + kName2001 + "\", \"hi\", 1)");

    // Numbers without a handler change nothing.
    for (uint32_t message : {1224u, 1232u, 1233u, 1234u, 1236u, 1237u, 1238u, 1242u})
        EXPECT_FALSE(Sdk().HandleNotifyMessage(message, 1, 2)) << message;
    // A callback without its user value does nothing.
    CCorvaneConnect::OnCorvaneNotifyMessageCallBack(CV_MSG_LINKCLOSE, 0, 13, nullptr);
    ASSERT_TRUE(Sdk().HandleNotifyMessage(CV_MSG_LINKCLOSE, 0, 14));
    ASSERT_NE(WaitCall("notifyLinkClose", "14"), "");
    EXPECT_EQ(Find(Calls(), "notifyLinkClose(\"sess-sdk\", 13)"), -1);
}

TEST_F(SdkClient, OptionsAnswerBeforeReturningAndTheLogOptionNever)
{
    StartSdk("option 300 text 6869\n");
    EXPECT_EQ(Mgr().SetSDKOptionInt(24, 301, 77), 0);
    EXPECT_EQ(WaitCall("replySetSDKOptionInt", "24,"), "replySetSDKOptionInt(\"sess-sdk\", 24, 0)");
    EXPECT_EQ(Mgr().GetSDKOptionInt(25, 301), 0);
    EXPECT_EQ(WaitCall("replyGetSDKOptionInt", "25,"), "replyGetSDKOptionInt(\"sess-sdk\", 25, 0, 301, 77)");
    // An option never set keeps the preset -1 and passes the SDK's code on.
    EXPECT_EQ(Mgr().GetSDKOptionInt(26, 999), CV_ERR_NOOPTION);
    EXPECT_EQ(WaitCall("replyGetSDKOptionInt", "26,"), "replyGetSDKOptionInt(\"sess-sdk\", 26, 9, 999, -1)");
    EXPECT_EQ(Mgr().GetSDKOptionString(27, 300), 0);
    EXPECT_EQ(WaitCall("replyGetSDKOptionString", "27,"), "replyGetSDKOptionString(\"sess-sdk\", 27, 0, 300, \"hi\")");

    // A line for the SDK's log lands there, without reply or log line of its own.
    EXPECT_EQ(Sdk().doSetSDKOptionString(CV_OPT_WRITE_LOG, "straight in"), 0);
    EXPECT_EQ(Mgr().SetSDKOptionString(28, 302, "x"), 0);
    EXPECT_EQ(WaitCall("replySetSDKOptionString"), "replySetSDKOptionString(\"sess-sdk\", 28, 0)");
    const std::vector<std::string> log = Log();
    EXPECT_GE(Find(log, "straight in"), 0);
    EXPECT_EQ(Find(log, "[proxy] invoke CCorvaneConnect::doSetSDKOptionString: optName:135"), -1);
}

TEST_F(SdkClient, GeneralParametersKeepTheirLastValues)
{
    StartSdk();
    EXPECT_EQ(Mgr().SetGeneralParam(29, 1, "{\"sdkfunction\":8,\"serverfunction\":3}"), 0);
    EXPECT_EQ(Sdk().GetSDKFunctions(), 8u);
    EXPECT_EQ(Sdk().HandleWebCommand(1, "{\"serverfunction\":5}"), 0);
    EXPECT_EQ(Sdk().GetSDKFunctions(), 8u);
    EXPECT_EQ(Sdk().HandleWebCommand(2, "{\"html5videocodec\":3}"), 0);
    EXPECT_EQ(Sdk().GetH5VideoCodec(), 3u);
    EXPECT_EQ(Sdk().HandleWebCommand(7, "{\"sdkfunction\":1}"), 0);
    EXPECT_EQ(Sdk().GetSDKFunctions(), 8u);
    EXPECT_GE(Find(Log(), "[proxy] [HandleInitParam()]=0, line:"), 0);
}

TEST_F(SdkClient, LaterRequestsAnswerMinusOne)
{
    StartSdk();
    EXPECT_EQ(Sdk().doUserCameraControl(2001, true), -1);
    EXPECT_EQ(Sdk().doObjectGetIdList(4), -1);
    EXPECT_EQ(Sdk().doSDKControl(1, "{}"), -1);
    EXPECT_EQ(Sdk().doTransBuffer(1, 2001, "x"), -1);
}

}  // namespace

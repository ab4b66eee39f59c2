// The connection manager's routing in-process: the stand-in SDK accepts
// requests without sending outcomes, the test delivers the outcomes, and a
// gateway servant in this process (one dispatch thread, so replies are
// seen in the order they were sent) records what reaches it.
#include <gtest/gtest.h>

#include <Ice/Ice.h>

#include <fstream>
#include <string>
#include <vector>

#include "quillgate/session/connect_mgr.h"
#include "tests/session/in_process_session.h"
#include "tests/support/gateway_run.h"

using qgtest::TempDir;

namespace {

typedef std::vector<std::string> Calls;

class RequestRouting : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Requests are accepted; outcomes come only from the test.
        session_.Start("sess-route", "selfid 1001\nroom *\nuser 2001\n"
                                     "return CVAPI_Login 0\nreturn CVAPI_LoginEx 0\n"
                                     "return CVAPI_EnterRoom 0\nreturn CVAPI_EnterRoomEx 0\n");
    }
    static void TearDownTestSuite() { session_.Stop(); }
    void SetUp() override { seen_ = session_.gateway->Calls().size(); }

    // The calls recorded since the test began, once there are n of them.
    static Calls Next(size_t n)
    {
        EXPECT_TRUE(session_.gateway->WaitCount(seen_ + n)) << "expected " << n << " more calls";
        Calls all = session_.gateway->Calls();
        Calls next(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
        seen_ = all.size();
        return next;
    }

    static CConnectMgr& Mgr() { return CConnectMgr::GetInstance(); }

    static InProcessSession session_;
    static size_t seen_;
};

InProcessSession RequestRouting::session_;
size_t RequestRouting::seen_ = 0;

TEST_F(RequestRouting, OneOutcomeAnswersEveryWaitingIdInFilingOrderThenTheFallbackKey)
{
    ASSERT_EQ(Mgr().Login(11, "127.0.0.1:8906", "a", "p", 0, "{}"), 0);
    ASSERT_EQ(Mgr().Login(12, "127.0.0.1:8906", "a", "p", 0, "{}"), 0);
    ASSERT_EQ(Mgr().LoginEx(13, "127.0.0.1:8906", "n", 0, "u", "app", 1, "sig", "sp", "{}"), 0);
    ASSERT_EQ(Mgr().Login(11, "127.0.0.1:8906", "a", "p", 0, "{}"), 0);  // the same id again
    EXPECT_EQ(Mgr().PendingCount(CConnectMgr::kRouteLogin), 3u);
    EXPECT_EQ(Mgr().PendingCount(CConnectMgr::kRouteLoginEx), 1u);

    EXPECT_EQ(Mgr().ReplyLogin(1001, 0), 0);
    EXPECT_EQ(Next(3), (Calls{"replyLogin(\"sess-route\", 11, 1001, 0)", "replyLogin(\"sess-route\", 12, 1001, 0)",
                              "replyLogin(\"sess-route\", 11, 1001, 0)"}));
    // "loginex" waited untouched; the next outcome is its.
    EXPECT_EQ(Mgr().ReplyLogin(1001, 5), 0);
    EXPECT_EQ(Next(1), (Calls{"replyLogin(\"sess-route\", 13, 1001, 5)"}));
    EXPECT_EQ(Mgr().ReplyLogin(1001, 0), -1);  // nothing waits any more

    ASSERT_EQ(Mgr().EnterRoomEx(21, "lobby", "", 0), 0);
    ASSERT_EQ(Mgr().EnterRoom(22, 5, "", 0), 0);
    EXPECT_EQ(Mgr().ReplyEnterRoom(5, 0), 0);
    EXPECT_EQ(Mgr().ReplyEnterRoom(9, 3), 0);
    EXPECT_EQ(Mgr().ReplyEnterRoom(9, 3), -1);
    // Named entries are answered as replyEnterRoom, error code before room id.
    EXPECT_EQ(Next(2), (Calls{"replyEnterRoom(\"sess-route\", 22, 0, 5)", "replyEnterRoom(\"sess-route\", 21, 3, 9)"}));
    EXPECT_TRUE(Mgr().PendingRequests().empty());
}

TEST_F(RequestRouting, FailedOrAnsweredRequestsLeaveNothingBehindAndUnansweredKindsAreNotKept)
{
    // Refused before the SDK: the id is taken back, a later outcome finds nothing.
    EXPECT_EQ(Mgr().Login(31, "no-port", "a", "p", 0, "{}"), 21);
    EXPECT_EQ(Mgr().ReplyLogin(1001, 0), -1);

    // Operations no outcome ever answers file nothing.
    Mgr().VideoCallControl(32, 1, 2001, 0, 0, 0, "");
    Mgr().ObjectControl(33, 4, 1, 2, 0, 0, 0, 0, "");
    EXPECT_EQ(Mgr().SetGeneralParam(34, 9, "{}"), 0);
    EXPECT_TRUE(Mgr().PendingRequests().empty());

    // Buffer transfers are answered for their own id, once, whatever waits.
    EXPECT_EQ(Mgr().ReplyTransBuffer(35, 4), 0);
    EXPECT_EQ(Mgr().ReplyTransBufferEx(36, 0, 2), 0);
    EXPECT_EQ(Next(2),
              (Calls{"replyTransBuffer(\"sess-route\", 35, 4)", "replyTransBufferEx(\"sess-route\", 36, 0, 2)"}));
}

TEST_F(RequestRouting, CameraOutsideTheSdkModeIsRefusedAndReleasesEveryWaitingCameraRequest)
{
    Mgr().FilePending(CConnectMgr::kRouteUserCameraControl, 40);
    Mgr().FilePending(CConnectMgr::kRouteUserCameraControl, 41);
    ASSERT_EQ(Mgr().GetWebRtc().HandleWebCommand(
                  1, "{\"browsertype\":4,\"debuglevel\":4,\"h5handlestreamtype\":1,\"platformtype\":1}"),
              0);
    EXPECT_EQ(Mgr().UserCameraControl(42, 2001, true), -1);
    // The refused request itself is answered only by its result.
    EXPECT_EQ(Mgr().UserCameraControl(43, 2002, false), -1);
    EXPECT_EQ(Mgr().GetWebRtc().HandleWebCommand(
                  1, "{\"browsertype\":4,\"debuglevel\":4,\"h5handlestreamtype\":2,\"platformtype\":1}"),
              0);
    EXPECT_EQ(Next(2), (Calls{"replyUserCameraControl(\"sess-route\", 40, 2001, -1)",
                              "replyUserCameraControl(\"sess-route\", 41, 2001, -1)"}));
    EXPECT_EQ(Mgr().PendingCount(CConnectMgr::kRouteUserCameraControl), 0u);
    EXPECT_EQ(Mgr().ReplyTransBuffer(44, 0), 0);  // the next call reaching the gateway is this one
    EXPECT_EQ(Next(1), Calls{"replyTransBuffer(\"sess-route\", 44, 0)"});
}

// Each reply function takes its own key and sends its own gateway reply
// with the values in the gateway's order.
struct ReplyCase {
    const char* name;
    CConnectMgr::RouteId route;
    int (*reply)(CConnectMgr&);
    const char* sent;  // with request id 7
};

std::ostream& operator<<(std::ostream& os, const ReplyCase& c)
{
    return os << c.name;
}

const ReplyCase kReplies[] = {
    {"LeaveRoom", CConnectMgr::kRouteLeaveRoom, [](CConnectMgr& m) { return m.ReplyLeaveRoom(3); },
     "replyLeaveRoom(\"sess-route\", 7, 3)"},
    {"UserCameraControl", CConnectMgr::kRouteUserCameraControl,
     [](CConnectMgr& m) { return m.ReplyUserCameraControl(2001, 4); },
     "replyUserCameraControl(\"sess-route\", 7, 2001, 4)"},
    {"UserCameraControlEx", CConnectMgr::kRouteUserCameraControlEx,
     [](CConnectMgr& m) { return m.ReplyUserCameraControlEx(-1, 0); },
     "replyUserCameraControlEx(\"sess-route\", 7, -1, 0)"},
    {"UserSpeakControl", CConnectMgr::kRouteUserSpeakControl,
     [](CConnectMgr& m) { return m.ReplyUserSpeakControl(2002, 0); },
     "replyUserSpeakControl(\"sess-route\", 7, 2002, 0)"},
    {"UserSpeakControlEx", CConnectMgr::kRouteUserSpeakControlEx,
     [](CConnectMgr& m) { return m.ReplyUserSpeakControlEx(2002, 1); },
     "replyUserSpeakControlEx(\"sess-route\", 7, 2002, 1)"},
    {"ConsultParam", CConnectMgr::kRouteConsult,
     [](CConnectMgr& m) { return m.ReplyConsultParam(5, 0, 1, "{\"p\":1}"); },
     "replyConsultParam(\"sess-route\", 7, 0, 1, \"{\"p\":1}\")"},
    {"WebrtcConsult", CConnectMgr::kRouteWebrtcConsult,
     [](CConnectMgr& m) { return m.ReplyWebrtcConsult(5, "{\"sdp\":2}", 6); },
     "replyWebrtcConsult(\"sess-route\", 7, 6, \"{\"sdp\":2}\")"},
    {"ObjectSetValue", CConnectMgr::kRouteObjectSetValue, [](CConnectMgr& m) { return m.ReplyObjectSetValue(8); },
     "replyObjectSetValue(\"sess-route\", 7, 8)"},
    {"ObjectGetValue", CConnectMgr::kRouteObjectGetValue,
     [](CConnectMgr& m) { return m.ReplyObjectGetValue(4, 1, 8, "v", 0); },
     "replyObjectGetValue(\"sess-route\", 7, 0, \"v\")"},
    {"ObjectGetIdList", CConnectMgr::kRouteObjectGetIdList,
     [](CConnectMgr& m) { return m.ReplyObjectGetIdList(4, "{\"jsonbuf\":[1]}", 0); },
     "replyObjectGetIdList(\"sess-route\", 7, 0, \"{\"jsonbuf\":[1]}\")"},
    {"SetSDKOptionString", CConnectMgr::kRouteSetSDKOptionString,
     [](CConnectMgr& m) { return m.ReplySetSDKOptionString(9); }, "replySetSDKOptionString(\"sess-route\", 7, 9)"},
    {"SetSDKOptionInt", CConnectMgr::kRouteSetSDKOptionInt, [](CConnectMgr& m) { return m.ReplySetSDKOptionInt(0); },
     "replySetSDKOptionInt(\"sess-route\", 7, 0)"},
    {"GetSDKOptionString", CConnectMgr::kRouteGetSDKOptionString,
     [](CConnectMgr& m) { return m.ReplyGetSDKOptionString(0, 300, "txt"); },
     "replyGetSDKOptionString(\"sess-route\", 7, 0, 300, \"txt\")"},
    {"GetSDKOptionInt", CConnectMgr::kRouteGetSDKOptionInt,
     [](CConnectMgr& m) { return m.ReplyGetSDKOptionInt(0, 301, 42); },
     "replyGetSDKOptionInt(\"sess-route\", 7, 0, 301, 42)"},
    {"SDKControl", CConnectMgr::kRouteSDKControl, [](CConnectMgr& m) { return m.ReplySDKControl(0, "{}"); },
     "replySDKControl(\"sess-route\", 7, 0, \"{}\")"},
    {"QueryUserState", CConnectMgr::kRouteQueryUserState,
     [](CConnectMgr& m) { return m.ReplyQueryUserState(0, 2001, 15, "1"); },
     "replyQueryUserState(\"sess-route\", 7, 0, 2001, 15, \"1\")"},
    {"SendTextMessage", CConnectMgr::kRouteSendTextMessage, [](CConnectMgr& m) { return m.ReplySendTextMessage(0); },
     "replySendTextMessage(\"sess-route\", 7, 0)"},
    {"StreamRecordCtrlEx", CConnectMgr::kRouteStreamRecordCtrlEx,
     [](CConnectMgr& m) { return m.ReplyStreamRecordCtrlEx(2); }, "replyStreamRecordCtrlEx(\"sess-route\", 7, 2)"},
    {"GetRoomOnlineUsers", CConnectMgr::kRouteGetRoomOnlineUsers,
     [](CConnectMgr& m) { return m.ReplyGetRoomOnlineUsers(5, "{\"jsonbuf\":[2001]}", 0); },
     "replyGetRoomOnlineUsers(\"sess-route\", 7, 0, 5, \"{\"jsonbuf\":[2001]}\")"},
    {"UserInfoControl", CConnectMgr::kRouteUserInfoControl, [](CConnectMgr& m) { return m.ReplyUserInfoControl(1); },
     "replyUserInfoControl(\"sess-route\", 7, 1)"},
};

class ReplyRouting : public RequestRouting, public ::testing::WithParamInterface<ReplyCase>
{};

TEST_P(ReplyRouting, TakesItsKeyAndSendsItsReply)
{
    const ReplyCase& c = GetParam();
    EXPECT_EQ(c.reply(Mgr()), -1);  // nothing filed: nothing sent
    Mgr().FilePending(c.route, 7);
    EXPECT_EQ(c.reply(Mgr()), 0);
    EXPECT_EQ(Next(1), Calls{c.sent});
    EXPECT_EQ(Mgr().PendingCount(c.route), 0u);
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyRouting, ::testing::ValuesIn(kReplies),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

}  // namespace

// Requests carried to the SDK, end to end: the real quillgate between the
// stand-in gateway and the stand-in SDK. Objects and their events, SDK
// options, SDK control whole and in pieces, user state, user info,
// recording and video calls. Every wait is bounded.
#include <gtest/gtest.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/case_names.h"
#include "tests/support/gateway_run.h"
#include "util/base64.h"

using qgtest::CallArgs;
using qgtest::GatewayRun;
using qgtest::RunGateway;
using qgtest::ScriptText;
using qgtest::SdkSetup;
using qgtest::TempDir;

namespace {

const char kInit[] = "call setGeneralParam 1 1 \"{\\\"debuglevel\\\":4,\\\"h5handlestreamtype\\\":2}\"\n";
const char kEnd[] = "sleep 200\ncall logout 99\nwait replyLogout\n";

int CountOut(const GatewayRun& run, const std::string& prefix)
{
    return static_cast<int>(run.All(prefix).size());
}

TEST(SdkRequests, ObjectsAnswerWithTheSdksValuesAndEventsComeInOrder)
{
    TempDir dir;
    SdkSetup sdk;
    sdk.control = {{"recv replyObjectGetIdList(", "object 4 10 3 1 2 3 4 6e6f7465"},
                   {"recv notifyObjectEvent(\"standin-session\", 4, 10, 3,", "object 5 -1 2 0 0 0 0"}};
    const std::string script = std::string("wait initiateQiullgateDelegate\n") + kInit +
                               "call objectControl 2 4 10 2 11 12 13 14 \"op\"\n"
                               "call objectSetValue 3 5 501 9 0 \"42\"\n"
                               "wait replyObjectSetValue\n"
                               "call objectGetValue 4 5 501 9 0\n"
                               "wait replyObjectGetValue\n"
                               "call objectGetValue 5 5 501 12 0\n"
                               "wait replyObjectGetValue\n"
                               "call objectGetValue 6 5 502 8 1\n"
                               "wait replyObjectGetValue\n"
                               "call objectGetIdList 7 99\n"
                               "call objectGetIdList 8 5\n"
                               "wait replyObjectGetIdList\n"
                               "wait notifyObjectEvent\nwait notifyObjectEvent\nwait notifyObjectEvent\n"
                               "wait notifyObjectEvent\nwait notifyObjectEvent\nwait notifyObjectEvent\n" +
                               kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    EXPECT_EQ(qgtest::CallResult(run, "objectControl(2, 4, 10, 2, 11, 12, 13, 14, \"op\")"), "0") << run.Dump();
    EXPECT_GE(run.Journal("CVAPI_ObjectControl 4 10 2 11 12 13 14 \"op\" = 0"), 0);
    EXPECT_GE(run.Journal("CVAPI_ObjectSetValue 5 501 9 int 42 = 0"), 0);
    EXPECT_GE(run.Out("recv replyObjectSetValue(\"standin-session\", 3, 0) -> 0"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyObjectGetValue(\"standin-session\", 4, 0, \"42\") -> 0"), 0) << run.Dump();
    // An int the SDK does not have: -1, with the SDK's code (8).
    EXPECT_EQ(qgtest::CallResult(run, "objectGetValue(5, 5, 501, 12, 0)"), "8") << run.Dump();
    EXPECT_GE(run.Out("recv replyObjectGetValue(\"standin-session\", 5, 8, \"-1\") -> 0"), 0) << run.Dump();
    // Text values pass as the SDK holds them.
    EXPECT_GE(run.Out("recv replyObjectGetValue(\"standin-session\", 6, 0, \"\xca\xdb\xba\xf3\xb7\xfe\xce\xf1\")"), 0)
        << run.Dump();
    // A type without objects: 21 and no reply; a list otherwise.
    EXPECT_EQ(qgtest::CallResult(run, "objectGetIdList(7, 99)"), "21") << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replyObjectGetIdList("), 1) << run.Dump();
    EXPECT_GE(run.Out("recv replyObjectGetIdList(\"standin-session\", 8, 0, \"{\\\"jsonbuf\\\":[501,502]}\") -> 0"), 0)
        << run.Dump();

    // The event on the area: its info, its status, the event itself; then
    // the queue list's update: the info of each queue (501 with the priority
    // set above), then the event.
    const std::vector<std::string> events = run.All("recv notifyObjectEvent(");
    ASSERT_EQ(events.size(), 6u) << run.Dump();
    const std::vector<std::vector<std::string>> expected = {
        {"standin-session", "4", "10", "0", "0", "0", "0", "0",
         "{\"attribute\":2,\"description\":\"\xe6\xac\xa2\xe8\xbf\x8e\xe6\x9d\xa5\xe7\x94\xb5\",\"flags\":1,"
         "\"inttag\":100,\"objectname\":\"\xe5\xae\xa2\xe6\x9c\x8d\xe4\xb8\xad\xe5\xbf\x83\",\"priority\":5,"
         "\"stringtag\":\"VIP\"}"},
        {"standin-session", "4", "10", "-1", "0", "0", "0", "0",
         "{\"agentcount\":1,\"guestcount\":3,\"queuecount\":2,\"queueusercount\":2}"},
        {"standin-session", "4", "10", "3", "1", "2", "3", "4", "note"},
        {"standin-session", "5", "501", "0", "0", "0", "0", "0",
         "{\"attribute\":0,\"description\":\"\",\"flags\":0,\"inttag\":0,\"objectname\":"
         "\"\xe5\x94\xae\xe5\x89\x8d\xe5\x92\xa8\xe8\xaf\xa2\",\"priority\":42,\"stringtag\":\"\"}"},
        {"standin-session", "5", "502", "0", "0", "0", "0", "0",
         "{\"attribute\":0,\"description\":\"\",\"flags\":0,\"inttag\":0,\"objectname\":"
         "\"\xe5\x94\xae\xe5\x90\x8e\xe6\x9c\x8d\xe5\x8a\xa1\",\"priority\":2,\"stringtag\":\"\"}"},
        {"standin-session", "5", "-1", "2", "0", "0", "0", "0", ""},
    };
    for (size_t i = 0; i < events.size(); ++i)
        EXPECT_EQ(CallArgs(events[i]), expected[i]) << events[i];
    EXPECT_GE(run.Log("invoke OnCorvaneObjectEventNotifyCallBack(objectType:4, objectid:10, evenType:3, param1:1, "
                      "param2:2, param3:3, param4:4, strparam:note)"),
              0)
        << run.Dump();
}

TEST(SdkRequests, OptionsBothWaysAndTheLogOptionWithoutReplyOrLine)
{
    TempDir dir;
    const std::string script = std::string("wait initiateQiullgateDelegate\n") + kInit +
                               "call setSDKOptionString 2 300 \"hello\"\n"
                               "wait replySetSDKOptionString\n"
                               "call getSDKOptionString 3 300\n"
                               "wait replyGetSDKOptionString\n"
                               "call setSDKOptionInt 4 301 77\n"
                               "wait replySetSDKOptionInt\n"
                               "call getSDKOptionInt 5 301\n"
                               "wait replyGetSDKOptionInt\n"
                               "call setSDKOptionString 6 135 \"straight into the log\"\n"
                               "call getSDKOptionInt 7 999\n"
                               "wait replyGetSDKOptionInt\n" +
                               kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    for (const char* line : {
             "recv replySetSDKOptionString(\"standin-session\", 2, 0) -> 0",
             "recv replyGetSDKOptionString(\"standin-session\", 3, 0, 300, \"hello\") -> 0",
             "recv replySetSDKOptionInt(\"standin-session\", 4, 0) -> 0",
             "recv replyGetSDKOptionInt(\"standin-session\", 5, 0, 301, 77) -> 0",
             // An option never set: the SDK's code and the preset -1.
             "recv replyGetSDKOptionInt(\"standin-session\", 7, 9, 999, -1) -> 0",
         })
        EXPECT_GE(run.Out(line), 0) << line << "\n" << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "setSDKOptionString(6, 135, \"straight into the log\")"), "0") << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replySetSDKOptionString("), 1) << run.Dump();
    EXPECT_GE(qgtest::Find(run.sdkLog, "straight into the log"), 0) << run.Dump();
    EXPECT_LT(run.Log("invoke CCorvaneConnect::doSetSDKOptionString: optName:135"), 0) << run.Dump();
    EXPECT_GE(run.Log("invoke CCorvaneConnect::doSetSDKOptionString: optName:300, optVal:hello, ret:0"), 0);
}

// A piece of a split SDK-control request.
std::string Piece(const std::string& content, int index, int flag, const std::string& uuid)
{
    return ScriptText("{\"content\":\"" + content + "\",\"flag\":" + std::to_string(flag) +
                      ",\"index\":" + std::to_string(index) + ",\"spliceflag\":1,\"uuid\":\"" + uuid + "\"}");
}

TEST(SdkRequests, SdkControlWholeAndInPiecesReachesTheSdkOnceAndAnswersEveryPiece)
{
    const std::string request = "{\"cmd\":\"record\",\"param\":\"" + std::string(300, 'p') + "\"}";
    const std::string b64 = Base64Encode(request.data(), request.size());
    const std::string a = b64.substr(0, 100), b = b64.substr(100, 200), c = b64.substr(300);
    TempDir dir;
    const std::string script =
        std::string("wait initiateQiullgateDelegate\n") + kInit + "call sdkControl 2 7 \"{\\\"a\\\":1}\"\n" +
        "wait replySDKControl\n"
        // A first piece with the wrong index: refused; the right one is then taken.
        "call sdkControl 3 8 " +
        Piece(a, 2, 0, "U-9") + "\n" + "call sdkControl 4 8 " + Piece(a, 1, 0, "U-9") + "\n" + "call sdkControl 5 8 " +
        Piece(b, 2, 0, "U-9") + "\n" + "call sdkControl 6 8 " + Piece(c, 3, 1, "U-9") + "\n" +
        "wait replySDKControl\nwait replySDKControl\nwait replySDKControl\n"
        // Not base64: refused, nothing sent.
        "call sdkControl 7 8 " +
        Piece("e30*", 1, 1, "U-10") + "\n" + kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();

    EXPECT_GE(run.Out("recv replySDKControl(\"standin-session\", 2, 0, \"{\\\"ctrlcode\\\":7,\\\"errorcode\\\":0}\")"),
              0)
        << run.Dump();
    ASSERT_GE(run.Out("call sdkControl(3, 8, "), 0) << run.Dump();
    ASSERT_GE(run.Out("call sdkControl(7, 8, "), 0) << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "sdkControl(3, 8, "), "21");
    EXPECT_EQ(qgtest::CallResult(run, "sdkControl(7, 8, "), "21");
    for (int id : {4, 5, 6})
        EXPECT_GE(run.Out("recv replySDKControl(\"standin-session\", " + std::to_string(id) +
                          ", 0, \"{\\\"ctrlcode\\\":8,\\\"errorcode\\\":0}\") -> 0"),
                  0)
            << id << "\n"
            << run.Dump();
    EXPECT_EQ(CountOut(run, "recv replySDKControl("), 4) << run.Dump();
    int sent = 0;
    for (const std::string& line : run.journal)
        sent += line.compare(0, 19, "CVAPI_SDKControl 8 ") == 0;
    EXPECT_EQ(sent, 1);
    EXPECT_GE(run.Journal("CVAPI_SDKControl 8 \"{\\\"cmd\\\":\\\"record\\\",\\\"param\\\":\\\"" +
                          std::string(300, 'p') + "\\\"}\" out 1024 = 0"),
              0);
}

TEST(SdkRequests, UserStateUserInfoRecordingAndVideoCallsCarryTheSdksValues)
{
    TempDir dir;
    SdkSetup sdk;
    sdk.control = {{"recv replyStreamRecordCtrlEx(", "record 2001 1 612e6d7034 10 2 3 75"},
                   {"recv notifyStreamRecordEx(", "videocall 1 2001 0 4 5 c0eecbc4"}};
    const std::string script = std::string("wait initiateQiullgateDelegate\n") + kInit +
                               "call queryUserState 2 2001 16 1\n"
                               "wait replyQueryUserState\n"
                               "call queryUserState 3 2001 17 0\n"
                               "wait replyQueryUserState\n"
                               "call queryUserState 4 4242 17 0\n"
                               "wait replyQueryUserState\n"
                               "call userInfoControl 5 2001 8 1 2 \"v\"\n"
                               "wait replyUserInfoControl\n"
                               "call videoCallControl 6 1 2001 0 4 5 \"call\"\n"
                               "call streamRecordCtrlEx 7 2001 true 3 4 \"rec\"\n"
                               "wait replyStreamRecordCtrlEx\n"
                               "wait notifyStreamRecordEx\n"
                               "wait notifyVideoCallEvent\n" +
                               kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    for (const char* line : {
             "recv replyQueryUserState(\"standin-session\", 2, 0, 2001, 16, \"192.168.1.20\") -> 0",
             "recv replyQueryUserState(\"standin-session\", 3, 0, 2001, 17, \"3\") -> 0",
             "recv replyQueryUserState(\"standin-session\", 4, 7, 4242, 17, \"-1\") -> 0",
             "recv replyUserInfoControl(\"standin-session\", 5, 0) -> 0",
             "recv replyStreamRecordCtrlEx(\"standin-session\", 7, 0) -> 0",
             // The record event's stream comes before its user; the text of a
             // video call arrives as UTF-8.
             "recv notifyStreamRecordEx(\"standin-session\", 1, 2001, \"a.mp4\", 10, 2, 3) -> 0",
             "recv notifyVideoCallEvent(\"standin-session\", 0, 1, 2001, 0, 4, 5, \"\xe6\x9d\x8e\xe5\x9b\x9b\") -> 0",
         })
        EXPECT_GE(run.Out(line), 0) << line << "\n" << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "videoCallControl(6, 1, 2001, 0, 4, 5, \"call\")"), "0") << run.Dump();
    EXPECT_GE(run.Journal("CVAPI_UserInfoControl 2001 8 1 2 \"v\" = 0"), 0);
    EXPECT_GE(run.Journal("CVAPI_VideoCallControl 1 2001 0 4 5 \"call\" = 0"), 0);
    EXPECT_GE(run.Journal("CVAPI_StreamRecordCtrlEx 2001 1 3 4 \"rec\" = 0"), 0);
    EXPECT_EQ(CountOut(run, "recv replyVideoCallControl("), 0);
}

// ---- fixed-size texts the SDK writes ----

// How much of its buffer of N bytes the SDK fills with text: all of it
// (no room for a NUL), all but one byte, or none.
struct FillCase {
    const char* name;
    int lessThanTheBuffer;  // text bytes = N - this; -1: none at all
};
QG_PRINT_CASE_BY_NAME(FillCase)

const FillCase kFillCases[] = {
    {"the SDK fills the whole buffer", 0},
    {"the SDK leaves one byte for its NUL", 1},
    {"the SDK writes no text", -1},
};

class SdkTextOutputs : public ::testing::TestWithParam<FillCase>
{
protected:
    // What the SDK writes into a buffer of n bytes, each byte c.
    std::string Written(size_t n, char c) const
    {
        const int less = GetParam().lessThanTheBuffer;
        return less < 0 ? std::string() : std::string(n - static_cast<size_t>(less), c);
    }
    // What the gateway must get of it: never the buffer's last byte.
    std::string Read(size_t n, char c) const
    {
        const std::string written = Written(n, c);
        return written.size() < n ? written : written.substr(0, n - 1);
    }
    static std::string Hex(const std::string& text) { return text.empty() ? "-" : qgtest::Hex(text); }
};

TEST_P(SdkTextOutputs, ReachTheGatewayAtMostOneByteShorterThanTheBufferTheSdkIsTold)
{
    // Object value and user state 200 bytes, object name 100, description
    // and string tag 200, SDK control answer and option text 1024.
    TempDir dir;
    SdkSetup sdk;
    sdk.scenario = "objvalue 5 501 8 text " + Hex(Written(200, 'a')) + "\nobjvalue 4 10 8 text " +
                   Hex(Written(100, 'n')) + "\nobjvalue 4 10 11 text " + Hex(Written(200, 'd')) +
                   "\nobjvalue 4 10 13 text " + Hex(Written(200, 's')) + "\nuserstate 2001 18 text " +
                   Hex(Written(200, 'u')) + "\nsdkanswer 9 " + Hex(Written(1024, 'c')) + "\noption 300 text " +
                   Hex(Written(1024, 'o')) + "\n";
    sdk.control = {{"recv replyGetSDKOptionString(", "object 4 10 3 0 0 0 0"}};
    const std::string script = std::string("wait initiateQiullgateDelegate\n") + kInit +
                               "call objectGetValue 2 5 501 8 1\n"
                               "wait replyObjectGetValue\n"
                               "call queryUserState 3 2001 18 1\n"
                               "wait replyQueryUserState\n"
                               "call sdkControl 4 9 \"{}\"\n"
                               "wait replySDKControl\n"
                               "call getSDKOptionString 5 300\n"
                               "wait replyGetSDKOptionString\n"
                               "wait notifyObjectEvent\nwait notifyObjectEvent\nwait notifyObjectEvent\n" +
                               kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    const auto reply = [&](const std::string& op) {
        const int at = run.Out("recv " + op + "(");
        return at < 0 ? std::vector<std::string>() : CallArgs(run.out[static_cast<size_t>(at)]);
    };
    EXPECT_EQ(reply("replyObjectGetValue"), (std::vector<std::string>{"standin-session", "2", "0", Read(200, 'a')}));
    EXPECT_EQ(reply("replyQueryUserState"),
              (std::vector<std::string>{"standin-session", "3", "0", "2001", "18", Read(200, 'u')}));
    EXPECT_EQ(reply("replySDKControl"), (std::vector<std::string>{"standin-session", "4", "0", Read(1024, 'c')}));
    EXPECT_EQ(reply("replyGetSDKOptionString"),
              (std::vector<std::string>{"standin-session", "5", "0", "300", Read(1024, 'o')}));

    const std::vector<std::string> info = reply("notifyObjectEvent");
    ASSERT_EQ(info.size(), 9u) << run.Dump();
    EXPECT_EQ(info[3], "0") << "not the object's info";
    Json::Value json;
    ASSERT_TRUE(Json::Reader().parse(info[8], json)) << info[8];
    EXPECT_EQ(json["objectname"].asString(), Read(100, 'n'));
    EXPECT_EQ(json["description"].asString(), Read(200, 'd'));
    EXPECT_EQ(json["stringtag"].asString(), Read(200, 's'));
}

INSTANTIATE_TEST_SUITE_P(Fills, SdkTextOutputs, ::testing::ValuesIn(kFillCases), qgtest::ByName());

}  // namespace

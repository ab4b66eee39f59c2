// Objects, user state, recording, video calls, user info and SDK control
// as the SDK client carries them to the stand-in SDK, and the object,
// record and video-call events it carries up.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "standins/sdk/include/standin_sdk_codes.h"
#include "tests/sdklink/sdk_client_fixture.h"
#include "tests/support/test_support.h"
#include "util/base64.h"

namespace {

using qgtest::Find;
using qgtest::SdkClient;

const char kAreaInfo[] =
    "{\"attribute\":2,\"description\":\"\xe6\xac\xa2\xe8\xbf\x8e\xe6\x9d\xa5\xe7\x94\xb5\","
    "\"flags\":1,\"inttag\":100,\"objectname\":\"\xe5\xae\xa2\xe6\x9c\x8d\xe4\xb8\xad\xe5\xbf\x83\","
    "\"priority\":5,\"stringtag\":\"VIP\"}";
const char kAreaStatus[] = "{\"agentcount\":1,\"guestcount\":3,\"queuecount\":2,\"queueusercount\":2}";
const char kQueue502Info[] = "{\"attribute\":0,\"description\":\"\",\"flags\":0,\"inttag\":0,"
                             "\"objectname\":\"\xe5\x94\xae\xe5\x90\x8e\xe6\x9c\x8d\xe5\x8a\xa1\",\"priority\":2,"
                             "\"stringtag\":\"\"}";

std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

TEST_F(SdkClient, ObjectRequestsReachTheSdkAndAnswerWithItsValues)
{
    // A text value that fills its whole 200-byte buffer: the SDK writes no
    // NUL after it, and the text read back ends before the last byte.
    StartSdk("object 5 501\nobject 5 502\nobjvalue 5 501 11 text " + std::string(500, '6') + "\n");
    EXPECT_EQ(Sdk().doObjectControl(4, 10, 2, 11, 12, 13, 14, "op"), 0);
    EXPECT_TRUE(Calls().empty());

    EXPECT_EQ(Sdk().doObjectSetValue(5, 501, 9, 0, "42"), 0);
    EXPECT_EQ(Sdk().doObjectSetValue(5, 501, 8, 1, "queue one"), 0);
    EXPECT_EQ(Sdk().doObjectGetValue(5, 501, 9, 0), 0);
    EXPECT_EQ(Sdk().doObjectGetValue(5, 501, 8, 1), 0);
    EXPECT_EQ(Sdk().doObjectGetValue(5, 501, 11, 1), 0);
    // An int the SDK does not fill answers as -1, with the SDK's code.
    EXPECT_EQ(Sdk().doObjectGetValue(5, 501, 12, 0), CV_ERR_NOOBJECT);
    EXPECT_EQ(Sdk().doObjectGetIdList(5), 0);
    // No objects of the type, or an SDK failure: the code, no reply.
    EXPECT_EQ(Sdk().doObjectGetIdList(99), 21);

    const std::vector<std::string> expected = {
        "ReplyObjectSetValue(0)",
        "ReplyObjectSetValue(0)",
        "ReplyObjectGetValue(5, 501, 9, \"42\", 0)",
        "ReplyObjectGetValue(5, 501, 8, \"queue one\", 0)",
        "ReplyObjectGetValue(5, 501, 11, \"" + std::string(199, 'f') + "\", 0)",
        "ReplyObjectGetValue(5, 501, 12, \"-1\", 8)",
        "ReplyObjectGetIdList(5, \"{\"jsonbuf\":[501,502]}\", 0)",
    };
    EXPECT_EQ(Calls(), expected);

    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_ObjectControl 4 10 2 11 12 13 14 \"op\" = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_ObjectSetValue 5 501 9 int 42 = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_ObjectSetValue 5 501 8 text \"queue one\" = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_ObjectGetValue 5 501 11 out 200 = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_ObjectGetIdList 99 null 0 = 0"), 0);
    EXPECT_GE(Find(Log(), "[proxy] invoke CCorvaneConnect::doObjectGetIdList[objectType:99] = 21"), 0);
    EXPECT_GE(Find(Log(), "[proxy] invoke CCorvaneConnect::doObjectSetValue[objectType:5, objectId:501, infoname:9, "
                          "infovalue:42] = 0"),
              0);

    StartSdk("return CVAPI_ObjectGetIdList 6\n");
    const size_t before = Calls().size();
    EXPECT_EQ(Sdk().doObjectGetIdList(5), 6);
    EXPECT_EQ(Calls().size(), before);
}

TEST_F(SdkClient, ObjectEventsSendInfoStatusAndTheEventInThatOrder)
{
    StartSdk();
    Sdk().OnObjectEventNotify(4, 10, 3, 1, 2, 3, 4, "note");
    // A type's list changed: the info of each of its objects, then the event.
    Sdk().OnObjectEventNotify(5, static_cast<uint32_t>(-1), CV_OBJEVENT_UPDATE, 0, 0, 0, 0, nullptr);
    // No objects of the type: the event alone; no object named: the event alone.
    Sdk().OnObjectEventNotify(7, 1, CV_OBJEVENT_UPDATE, 0, 0, 0, 0, "");
    Sdk().OnObjectEventNotify(static_cast<uint32_t>(-1), 5, 1, 0, 0, 0, 0, "");
    // A type without a status table still gets its (empty) status.
    Sdk().OnObjectEventNotify(9, 1, 1, 0, 0, 0, 0, "");

    const std::string zeroInfo = "{\"attribute\":0,\"description\":\"\",\"flags\":0,\"inttag\":0,\"objectname\":\"\","
                                 "\"priority\":0,\"stringtag\":\"\"}";
    const std::vector<std::string> expected = {
        "NotifyObjectEvent(4, 10, 0, 0, 0, 0, 0, " + Quoted(kAreaInfo) + ")",
        "NotifyObjectEvent(4, 10, -1, 0, 0, 0, 0, " + Quoted(kAreaStatus) + ")",
        "NotifyObjectEvent(4, 10, 3, 1, 2, 3, 4, \"note\")",
        "NotifyObjectEvent(5, 501, 0, 0, 0, 0, 0, \"{\"attribute\":0,\"description\":\"\",\"flags\":0,\"inttag\":0,"
        "\"objectname\":\"\xe5\x94\xae\xe5\x89\x8d\xe5\x92\xa8\xe8\xaf\xa2\",\"priority\":1,\"stringtag\":\"\"}\")",
        "NotifyObjectEvent(5, 502, 0, 0, 0, 0, 0, " + Quoted(kQueue502Info) + ")",
        "NotifyObjectEvent(5, -1, 2, 0, 0, 0, 0, \"\")",
        "NotifyObjectEvent(7, 1, 2, 0, 0, 0, 0, \"\")",
        "NotifyObjectEvent(-1, 5, 1, 0, 0, 0, 0, \"\")",
        "NotifyObjectEvent(9, 1, 0, 0, 0, 0, 0, " + Quoted(zeroInfo) + ")",
        "NotifyObjectEvent(9, 1, -1, 0, 0, 0, 0, \"null\")",
        "NotifyObjectEvent(9, 1, 1, 0, 0, 0, 0, \"\")",
    };
    EXPECT_EQ(Calls(), expected);

    // The other status tables.
    const size_t before = Calls().size();
    Sdk().OnObjectEventNotify(5, 501, 1, 0, 0, 0, 0, "");
    Sdk().OnObjectEventNotify(6, 601, 1, 0, 0, 0, 0, "");
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), before + 6);
    EXPECT_EQ(calls[before + 1], "NotifyObjectEvent(5, 501, -1, 0, 0, 0, 0, \"{\"beforeusernum\":1,"
                                 "\"myenterqueuetime\":1700000000,\"mysequenceno\":2,\"queuelength\":3,"
                                 "\"waittimesecond\":45}\")");
    EXPECT_EQ(calls[before + 4], "NotifyObjectEvent(6, 601, -1, 0, 0, 0, 0, \"{\"servicebegintime\":1700000100,"
                                 "\"servicestatus\":1,\"servicetotalnum\":12,\"servicetotaltime\":3600,"
                                 "\"serviceuserid\":2002}\")");
}

TEST_F(SdkClient, ObjectEventCallbackLogsFirstAndListsAtMostAThousandIds)
{
    std::string scenario;
    for (int id = 1; id <= 1200; ++id)
        scenario += "object 5 " + std::to_string(id) + "\n";
    StartSdk(scenario);
    // Without its user value the callback only writes its line.
    CCorvaneConnect::OnObjectEventCallBack(5, 1, 3, 0, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(Calls().empty());
    EXPECT_GE(Find(Log(), "[proxy] invoke OnCorvaneObjectEventNotifyCallBack(objectType:5, objectid:1, evenType:3, "
                          "param1:0, param2:0, param3:0, param4:0, strparam:)"),
              0);

    CCorvaneConnect::OnObjectEventCallBack(5, 0, CV_OBJEVENT_UPDATE, 0, 0, 0, 0, "x", &Sdk());
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 1001u);
    EXPECT_EQ(calls[999].substr(0, 40), "NotifyObjectEvent(5, 1000, 0, 0, 0, 0, 0");
    EXPECT_EQ(calls[1000], "NotifyObjectEvent(5, 0, 2, 0, 0, 0, 0, \"x\")");
    EXPECT_GE(Find(Journal(), "CVAPI_ObjectGetIdList 5 out 1000 = 0"), 0);
}

TEST_F(SdkClient, ObjectEventReadsAListThatGrewSinceItsCountIntoItsThousandIdBuffer)
{
    // The SDK counts two queues, and a third is there when the ids are read.
    StartSdk("object 5 501\nobject 5 502\nafter CVAPI_ObjectGetIdList object 5 503\n");
    Sdk().OnObjectEventNotify(5, static_cast<uint32_t>(-1), CV_OBJEVENT_UPDATE, 0, 0, 0, 0, nullptr);
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 4u) << ::testing::PrintToString(calls);
    EXPECT_EQ(calls[0].substr(0, 33), "NotifyObjectEvent(5, 501, 0, 0, 0");
    EXPECT_EQ(calls[1].substr(0, 33), "NotifyObjectEvent(5, 502, 0, 0, 0");
    EXPECT_EQ(calls[2].substr(0, 33), "NotifyObjectEvent(5, 503, 0, 0, 0");
    EXPECT_EQ(calls[3], "NotifyObjectEvent(5, -1, 2, 0, 0, 0, 0, \"\")");
    const std::vector<std::string> j = Journal();
    const int count = Find(j, "CVAPI_ObjectGetIdList 5 null 0 = 0");
    ASSERT_GE(count, 0);
    EXPECT_GT(Find(j, "CVAPI_ObjectGetIdList 5 out 1000 = 0"), count);
}

TEST_F(SdkClient, UserStateRecordingUserInfoAndVideoCallsCarryTheSdksValues)
{
    StartSdk("room *\nuser 2001\nuserstate 2001 16 text 3139322e3136382e312e3230\nuserstate 2001 17 int 3\n"
             "userstate 2001 18 text " +
             std::string(600, '7') + "\nreturn CVAPI_UserInfoControl 5 1\n");
    EXPECT_EQ(Sdk().doQueryUserState(2001, 16, 1), 0);
    EXPECT_EQ(Sdk().doQueryUserState(2001, 17, 0), 0);
    EXPECT_EQ(Sdk().doQueryUserState(2001, 18, 1), 0);
    EXPECT_EQ(Sdk().doQueryUserState(2001, 99, 0), CV_ERR_NOINFO);
    EXPECT_EQ(Sdk().doUserInfoControl(2001, 8, 1, 2, "v"), 5);
    EXPECT_EQ(Sdk().doUserInfoControl(2001, 8, 1, 2, "v"), 0);
    EXPECT_EQ(Sdk().doStreamRecordCtrlEx(2001, true, 3, 4, "rec"), 0);
    EXPECT_EQ(Sdk().doVideoCallControl(1, 2001, 0, 4, 5, "call"), 0);

    const std::vector<std::string> expected = {
        "ReplyQueryUserState(0, 2001, 16, \"192.168.1.20\")",
        "ReplyQueryUserState(0, 2001, 17, \"3\")",
        "ReplyQueryUserState(0, 2001, 18, \"" + std::string(199, 'w') + "\")",
        "ReplyQueryUserState(10, 2001, 99, \"-1\")",
        "ReplyUserInfoControl(5)",
        "ReplyUserInfoControl(0)",
        "ReplyStreamRecordCtrlEx(0)",
    };
    EXPECT_EQ(Calls(), expected);
    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_UserInfoControl 2001 8 1 2 \"v\" = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_StreamRecordCtrlEx 2001 1 3 4 \"rec\" = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_VideoCallControl 1 2001 0 4 5 \"call\" = 0"), 0);

    // Events: the record event's first two numbers change places; the
    // video-call text arrives as UTF-8.
    const size_t before = Calls().size();
    CCorvaneConnect::OnRecordEventCallBack(2001, 1, "a.mp4", 10, 2, 3, "u", &Sdk());
    CCorvaneConnect::OnVideoCallEventCallBack(1, 2001, 0, 4, 5, "\xc0\xee\xcb\xc4", &Sdk());
    CCorvaneConnect::OnVideoCallEventCallBack(2, 2001, 7, 0, 0, nullptr, &Sdk());
    const std::vector<std::string> all = Calls();
    const std::vector<std::string> events(all.begin() + static_cast<long>(before), all.end());
    const std::vector<std::string> expectedEvents = {
        "NotifyStreamRecordEx(1, 2001, \"a.mp4\", 10, 2, 3, \"u\")",
        "NotifyVideoCallEvent(0, 1, 2001, 0, 4, 5, \"\xe6\x9d\x8e\xe5\x9b\x9b\")",
        "NotifyVideoCallEvent(0, 2, 2001, 7, 0, 0, \"\")",
    };
    EXPECT_EQ(events, expectedEvents);
}

// ---- SDK control ----

// The pieces of a request: its base64 cut into `count` contents.
std::vector<std::string> Pieces(const std::string& request, const std::string& uuid, size_t count)
{
    const std::string b64 = Base64Encode(request.data(), request.size());
    std::vector<std::string> out;
    const size_t step = (b64.size() + count - 1) / count;
    for (size_t i = 0; i < count; ++i) {
        const std::string content = b64.substr(std::min(b64.size(), i * step), step);
        out.push_back("{\"content\":\"" + content + "\",\"flag\":" + (i + 1 == count ? "1" : "0") +
                      ",\"index\":" + std::to_string(i + 1) + ",\"spliceflag\":1" +
                      (uuid.empty() ? "" : ",\"uuid\":\"" + uuid + "\"") + "}");
    }
    return out;
}

TEST_F(SdkClient, SdkControlWholeOrInPiecesReachesTheSdkOnce)
{
    StartSdk("sdkanswer 9 " + std::string(2400, '6') + "\n");
    EXPECT_EQ(Sdk().doSDKControl(7, "{\"a\":1}"), 0);
    // An answer longer than the output buffer fills all 1024 bytes; 1023 are read.
    EXPECT_EQ(Sdk().doSDKControl(9, "{}"), 0);

    const std::string request = "{\"cmd\":\"start\",\"n\":5,\"name\":\"\xe5\xbc\xa0\"}";
    const std::vector<std::string> pieces = Pieces(request, "U-1", 3);
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[0]), 0);
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[1]), 0);
    EXPECT_EQ(Calls().size(), 2u);  // nothing until the last piece
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[2]), 0);
    // One piece alone is the whole request.
    EXPECT_EQ(Sdk().doSDKControl(8, Pieces("{\"one\":1}", "U-2", 1)[0]), 0);

    const std::vector<std::string> expected = {
        "ReplySDKControl(0, \"{\"ctrlcode\":7,\"errorcode\":0}\")",
        "ReplySDKControl(0, \"" + std::string(1023, 'f') + "\")",
        "ReplySDKControl(0, \"{\"ctrlcode\":8,\"errorcode\":0}\")",
        "ReplySDKControl(0, \"{\"ctrlcode\":8,\"errorcode\":0}\")",
    };
    EXPECT_EQ(Calls(), expected);
    const std::vector<std::string> j = Journal();
    const std::string sent =
        "CVAPI_SDKControl 8 \"{\\\"cmd\\\":\\\"start\\\",\\\"n\\\":5,\\\"name\\\":\\\"\xe5\xbc\xa0\\\"}\"";
    EXPECT_GE(Find(j, sent + " out 1024 = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_SDKControl 8 \"{\\\"one\\\":1}\" out 1024 = 0"), 0);
    EXPECT_EQ(Find(j, "CVAPI_SDKControl 8 \"{\\\"content"), -1);
    EXPECT_TRUE(Sdk().CmdCacheSnapshot().empty());
}

TEST_F(SdkClient, SdkControlPiecesOutOfSequenceOrNotBase64AreRefusedAndSendNothing)
{
    StartSdk();
    const std::vector<std::string> pieces = Pieces("{\"cmd\":\"stop\"}", "U-3", 2);
    // A first piece with index 2: refused, an empty record stays under the uuid.
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[1]), 21);
    std::vector<CmdCacheInfo> cache = Sdk().CmdCacheSnapshot();
    ASSERT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache[0].uuid, "U-3");
    EXPECT_EQ(cache[0].lastIndex, 0u);
    EXPECT_EQ(cache[0].content, "");
    // Then the right order is taken; a repeated piece is refused on the way.
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[0]), 0);
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[0]), 21);
    EXPECT_EQ(Sdk().doSDKControl(8, pieces[1]), 0);
    EXPECT_GE(Find(Journal(), "CVAPI_SDKControl 8 \"{\\\"cmd\\\":\\\"stop\\\"}\" out 1024 = 0"), 0);
    EXPECT_TRUE(LogHas("content is not intact! preindex:0, recindex:2"));
    EXPECT_TRUE(LogHas("content is not intact! preindex:1, recindex:1"));

    // Contents that are not base64: refused, nothing sent, the record gone.
    const auto sdkCalls = [&] {
        int n = 0;
        for (const std::string& line : Journal())
            n += line.compare(0, 17, "CVAPI_SDKControl ") == 0;
        return n;
    };
    const int sent = sdkCalls();
    EXPECT_EQ(Sdk().doSDKControl(8, "{\"content\":\"e30*\",\"flag\":1,\"index\":1,\"spliceflag\":1,\"uuid\":\"U-4\"}"),
              21);
    EXPECT_EQ(Sdk().doSDKControl(8, "{\"content\":\"e30\",\"flag\":0,\"index\":1,\"spliceflag\":1,\"uuid\":\"U-5\"}"),
              0);
    EXPECT_EQ(Sdk().doSDKControl(8, "{\"content\":\"==\",\"flag\":1,\"index\":2,\"spliceflag\":1,\"uuid\":\"U-5\"}"),
              21);
    EXPECT_EQ(sdkCalls(), sent);
    EXPECT_EQ(Calls().size(), 1u);
    EXPECT_TRUE(LogHas("content is not base64! uuid:U-4, length:4"));
    EXPECT_TRUE(Sdk().CmdCacheSnapshot().empty());
}

TEST_F(SdkClient, PiecesWithoutUuidNeverTouchWaitingCameraCommands)
{
    StartSdk();
    {
        auto lock = Sdk().LockCmdCache();
        CmdCacheInfo camera;
        camera.type = kCmdCameraControlEx;
        camera.userId = 0;
        camera.open = 1;
        camera.param = std::string("{\"peerconnectionid\":\"p1\"}");
        Sdk().SetCmdCacheByGuid(camera);
        // A second camera command is appended, never merged.
        camera.userId = 7;
        camera.param.reset();
        Sdk().SetCmdCacheByGuid(camera);
    }
    const std::vector<std::string> pieces = Pieces("{\"x\":1}", "", 2);
    EXPECT_EQ(Sdk().doSDKControl(3, pieces[0]), 0);
    EXPECT_EQ(Sdk().CmdCacheSnapshot().size(), 3u);
    {
        // By user id only camera commands go; by uuid only pieces.
        auto lock = Sdk().LockCmdCache();
        CmdCacheInfo found;
        EXPECT_EQ(Sdk().IsCmdCacheExist(""), 1);
        ASSERT_EQ(Sdk().GetCmdCacheByGuid("", found), 0);
        EXPECT_EQ(found.type, static_cast<uint32_t>(kCmdSdkControlPiece));
        Sdk().DelCmdCacheByUserId(0);
    }
    EXPECT_EQ(Sdk().doSDKControl(3, pieces[1]), 0);
    EXPECT_GE(Find(Journal(), "CVAPI_SDKControl 3 \"{\\\"x\\\":1}\" out 1024 = 0"), 0);
    const std::vector<CmdCacheInfo> cache = Sdk().CmdCacheSnapshot();
    ASSERT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache[0].type, static_cast<uint32_t>(kCmdCameraControlEx));
    EXPECT_EQ(cache[0].userId, 7u);
    EXPECT_FALSE(cache[0].param.has_value());
}

TEST_F(SdkClient, CacheRecordsOwnTheirTextsThroughCopiesAndErasures)
{
    StartSdk();
    auto lock = Sdk().LockCmdCache();
    for (uint32_t i = 0; i < 64; ++i) {
        CmdCacheInfo r;
        r.type = i % 2 ? kCmdCameraControlEx : kCmdSdkControlPiece;
        r.userId = i;
        r.uuid = i % 2 ? "" : "piece-" + std::to_string(i);
        r.param = std::string(100, static_cast<char>('a' + i % 26));
        r.content = std::string(50, 'c');
        Sdk().SetCmdCacheByGuid(r);
    }
    // Overwriting a piece keeps the count; the copy outlives the erasure.
    CmdCacheInfo update;
    update.uuid = "piece-4";
    update.lastIndex = 3;
    Sdk().SetCmdCacheByGuid(update);
    CmdCacheInfo copy;
    ASSERT_EQ(Sdk().GetCmdCacheByGuid("piece-6", copy), 0);
    Sdk().DelCmdCacheByGuid("piece-6");
    Sdk().DelCmdCacheByUserId(3);
    EXPECT_EQ(copy.param.value(), std::string(100, 'g'));
    CmdCacheInfo four;
    ASSERT_EQ(Sdk().GetCmdCacheByGuid("piece-4", four), 0);
    EXPECT_EQ(four.lastIndex, 3u);
    EXPECT_EQ(Sdk().GetCmdCacheByGuid("piece-6", copy), -1);
    EXPECT_EQ(Sdk().IsCmdCacheExist("piece-6"), 0);
    Sdk().ClearCmdCache();
    EXPECT_EQ(Sdk().IsCmdCacheExist("piece-4"), 0);
}

}  // namespace

// Tests of the stand-in SDK through its C API, as quillgate uses it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quillgate/sdklink/cvapi.h"
#include "standin_sdk_codes.h"
#include "tests/support/media_checks.h"
#include "tests/support/test_support.h"

namespace {

using qgtest::ReadFile;

struct Event {
    std::string kind;
    unsigned a = 0, b = 0, c = 0;
    std::string data;
    std::thread::id thread;
};

// Collects callbacks from the SDK's thread.
class Recorder
{
public:
    void Add(Event e)
    {
        e.thread = std::this_thread::get_id();
        std::lock_guard<std::mutex> lock(mu_);
        events_.push_back(std::move(e));
        cv_.notify_all();
    }
    // Waits (at most 20 s: the SDK's thread on a loaded host) until an
    // event matches; returns its index or -1.
    int WaitFor(const std::function<bool(const Event&)>& match)
    {
        std::unique_lock<std::mutex> lock(mu_);
        int found = -1;
        cv_.wait_for(lock, std::chrono::seconds(20), [&] {
            for (size_t i = 0; i < events_.size(); ++i)
                if (match(events_[i]))
                    return found = static_cast<int>(i), true;
            return false;
        });
        return found;
    }
    int WaitNotify(unsigned msg, unsigned w, unsigned l)
    {
        return WaitFor([=](const Event& e) { return e.kind == "notify" && e.a == msg && e.b == w && e.c == l; });
    }
    std::vector<Event> Snapshot()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return events_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

Recorder* R(void* user)
{
    return static_cast<Recorder*>(user);
}

void OnNotify(unsigned msg, unsigned w, unsigned l, void* user)
{
    R(user)->Add({"notify", msg, w, l, "", {}});
}
void OnText(unsigned from, unsigned to, int secret, const char* text, unsigned len, void* user)
{
    R(user)->Add({"text", from, to, static_cast<unsigned>(secret), std::string(text, len), {}});
}
void OnBuffer(unsigned id, unsigned char* buf, unsigned len, void* user)
{
    // The bytes must be followed by a NUL: receivers read them as text.
    R(user)->Add({"buffer", id, len, buf[len], std::string(reinterpret_cast<char*>(buf), len), {}});
}
void OnVideo(unsigned id, void* buf, unsigned len, unsigned ts, void* user, unsigned, unsigned, unsigned width,
             unsigned height, unsigned, unsigned, unsigned, unsigned, unsigned rotation)
{
    R(user)->Add(
        {"video", id, ts, width * 10000 + height * 10 + rotation / 90, std::string(static_cast<char*>(buf), len), {}});
}
void OnAudio(unsigned id, void* buf, unsigned len, WAVEFORMATEX wf, unsigned ts, void* user)
{
    R(user)->Add({"audio",
                  id,
                  ts,
                  wf.nChannels * 100000u + wf.nSamplesPerSec / 10 + wf.wBitsPerSample,
                  std::string(static_cast<char*>(buf), len),
                  {}});
}
void OnCoreEvent(unsigned type, const char* json, void* user)
{
    R(user)->Add({"event", type, 0, 0, json, {}});
}
void OnObjectEvent(unsigned type, unsigned id, unsigned ev, unsigned, unsigned, unsigned, unsigned p4, const char* s,
                   void* user)
{
    R(user)->Add({"object", type, id, ev * 100 + p4, s, {}});
}

bool HasLine(const std::string& text, const std::string& line)
{
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        if (l == line)
            return true;
    return false;
}

class StandinSdk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        log_ = dir_ + "/sdk.log";
        journal_ = dir_ + "/journal.txt";
        setenv("QG_SDK_LOG", log_.c_str(), 1);
        setenv("QG_SDK_JOURNAL", journal_.c_str(), 1);
        unsetenv("QG_SDK_SCENARIO");
        unsetenv("QG_SDK_CONTROL");
    }
    void TearDown() override { CVAPI_Release(); }
    int Start()
    {
        int ret = CVAPI_InitSDK(nullptr, CV_INIT_FLAGS_DEFAULT);
        CVAPI_SetNotifyMessageCallBack(OnNotify, &rec_);
        CVAPI_SetVideoDataExCallBack(CV_VIDEO_CB_FORMAT_ENCODED, OnVideo, &rec_);
        CVAPI_SetAudioDataExCallBack(OnAudio, &rec_);
        CVAPI_SetTextMessageCallBack(OnText, &rec_);
        CVAPI_SetTransBufferCallBack(OnBuffer, &rec_);
        CVAPI_SetCallBack(CV_CBTYPE_COREEVENT, reinterpret_cast<void*>(OnCoreEvent), &rec_);
        CVAPI_SetCallBack(CV_CBTYPE_OBJECTEVENT, reinterpret_cast<void*>(OnObjectEvent), &rec_);
        return ret;
    }
    void Scenario(const std::string& text)
    {
        const std::string path = dir_ + "/scenario.txt";
        std::ofstream(path) << text;
        setenv("QG_SDK_SCENARIO", path.c_str(), 1);
    }
    std::string Name(unsigned id)
    {
        char name[256];
        std::memset(name, 'x', sizeof name);
        EXPECT_EQ(CVAPI_GetUserName(id, name, sizeof name), 0);
        return name;
    }
    void LoginAndEnter(unsigned room)
    {
        ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
        ASSERT_EQ(CVAPI_Login("alice", "pw", 0), 0);
        ASSERT_EQ(CVAPI_EnterRoom(room, "", 0), 0);
        ASSERT_GE(rec_.WaitNotify(CV_MSG_ENTERROOM, room, 0), 0);
    }

    qgtest::TempDir tmp_{"qg_sdk_test_"};
    const std::string dir_ = tmp_.path();
    std::string log_, journal_;
    Recorder rec_;
};

TEST_F(StandinSdk, DefaultSessionOutcomesArriveInOrderOnTheEventThread)
{
    ASSERT_EQ(Start(), 0);
    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
    ASSERT_EQ(CVAPI_Login("alice", "pw", 0), 0);
    ASSERT_EQ(CVAPI_EnterRoom(7, "", 0), 0);
    int online = rec_.WaitNotify(CV_MSG_ONLINEUSER, 2, 7);
    ASSERT_GE(online, 0);

    std::vector<Event> ev = rec_.Snapshot();
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(rec_.WaitNotify(CV_MSG_CONNECT, 1, 0), 0);
    EXPECT_EQ(rec_.WaitNotify(CV_MSG_LOGIN, 1001, 0), 1);
    EXPECT_EQ(rec_.WaitNotify(CV_MSG_ENTERROOM, 7, 0), 2);
    for (const Event& e : ev) {
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_EQ(e.thread, ev[0].thread);
    }

    // The room's two other users, one with a GB2312 name.
    unsigned n = 0;
    ASSERT_EQ(CVAPI_GetRoomOnlineUsers(7, nullptr, &n), 0);
    ASSERT_EQ(n, 2u);
    unsigned ids[4] = {0, 0, 0, 0};
    n = 4;
    ASSERT_EQ(CVAPI_GetRoomOnlineUsers(7, ids, &n), 0);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(Name(ids[0]), "\xd5\xc5\xc8\xfd");
    EXPECT_EQ(Name(ids[1]), "guest");
    EXPECT_EQ(Name(static_cast<unsigned>(-1)), "alice");
    EXPECT_EQ(Name(1001), "alice");

    unsigned camera = 0, speak = 0;
    int device = -1;
    EXPECT_EQ(CVAPI_GetCameraState(ids[0], &camera), 0);
    EXPECT_EQ(CVAPI_GetSpeakState(ids[0], &speak), 0);
    EXPECT_EQ(CVAPI_QueryUserState(ids[0], CV_USERSTATE_DEVICETYPE, &device, 4), 0);
    EXPECT_EQ(camera, 2u);
    EXPECT_EQ(speak, 1u);
    EXPECT_EQ(device, 1);
}

TEST_F(StandinSdk, ListCallsCountFillToCapacityAndRejectBadArguments)
{
    Scenario("room 3\nuser 1 \nuser 2\nuser 3\nobject 4 10\nobject 4 11\nobject 4 12\n");
    ASSERT_EQ(Start(), 0);
    LoginAndEnter(3);

    unsigned ids[3] = {0, 0, 0};
    unsigned n = 2;
    ASSERT_EQ(CVAPI_GetRoomOnlineUsers(3, ids, &n), 0);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(ids[0], 1u);
    EXPECT_EQ(ids[1], 2u);
    EXPECT_EQ(ids[2], 0u);  // beyond the capacity: untouched

    n = 0;
    EXPECT_EQ(CVAPI_ObjectGetIdList(4, nullptr, &n), 0);
    EXPECT_EQ(n, 3u);
    n = 1;
    EXPECT_EQ(CVAPI_ObjectGetIdList(4, ids, &n), 0);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(ids[0], 10u);
    n = 5;
    EXPECT_EQ(CVAPI_ObjectGetIdList(99, nullptr, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(CVAPI_GetRoomOnlineUsers(3, ids, nullptr), CV_ERR_INVALIDPARAM);

    // Unknown users fail and leave the caller's buffers alone.
    char name[8] = "keep";
    unsigned state = 77;
    EXPECT_EQ(CVAPI_GetUserName(4242, name, sizeof name), CV_ERR_NOUSER);
    EXPECT_STREQ(name, "keep");
    EXPECT_EQ(CVAPI_GetCameraState(4242, &state), CV_ERR_NOUSER);
    EXPECT_EQ(state, 77u);
    // A name longer than the buffer is cut and still terminated.
    EXPECT_EQ(CVAPI_GetUserName(1, name, 4), 0);
    EXPECT_STREQ(name, "use");
}

TEST_F(StandinSdk, JournalRecordsEveryCallAndLogOptionWritesLines)
{
    EXPECT_EQ(CVAPI_Connect("h", 1), CV_ERR_NOTINIT);
    ASSERT_EQ(Start(), 0);
    int one = 1;
    EXPECT_EQ(CVAPI_SetSDKOption(CV_OPT_USE_RUN_DIRECTORY, &one, 4), 0);
    EXPECT_EQ(CVAPI_SetSDKOption(CV_OPT_RUN_DIRECTORY, "/opt/q/", 7), 0);
    const char line[] = "[proxy] hello \"world\"";
    EXPECT_EQ(CVAPI_SetSDKOption(CV_OPT_WRITE_LOG, line, static_cast<int>(strlen(line))), 0);
    EXPECT_EQ(CVAPI_SetSDKOption(CV_OPT_WRITE_LOG, "[proxy] second\n", 15), 0);
    unsigned n = 0;
    CVAPI_GetRoomOnlineUsers(5, nullptr, &n);
    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
    unsigned char frame[20];
    for (int i = 0; i < 20; ++i)
        frame[i] = static_cast<unsigned char>(i);
    CVAPI_InputVideoDataEx(0, frame, 20, 40, 3);
    CVAPI_UserInfoControl(static_cast<unsigned>(-1), 8, 0x2000, 0, nullptr);

    const std::string j = ReadFile(journal_);
    EXPECT_TRUE(HasLine(j, "CVAPI_Connect \"h\" 1 = 2")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_InitSDK null 655365 = 0")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_SetSDKOption 221 int 1 = 0")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_SetSDKOption 220 text \"/opt/q/\" = 0")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_SetSDKOption 135 text \"[proxy] hello \\\"world\\\"\" = 0")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_GetRoomOnlineUsers 5 null 0 = 0")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_Connect \"127.0.0.1\" 8906 = 0")) << j;
    // A frame: its sequence number in its stream and the CRC-32 of all its bytes.
    EXPECT_TRUE(HasLine(j, "CVAPI_InputVideoDataEx 0 seq=0 len=20 ts=40 flags=3 crc=" +
                               qgtest::CrcForm(qgtest::Crc32(frame, 20)) + " = 0"))
        << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_UserInfoControl -1 8 8192 0 null = 0")) << j;

    EXPECT_EQ(ReadFile(log_), "[proxy] hello \"world\"\n[proxy] second\n");
}

TEST_F(StandinSdk, OptionsReadBackAsStored)
{
    ASSERT_EQ(Start(), 0);
    int v = 123456, out = -1;
    ASSERT_EQ(CVAPI_SetSDKOption(26, &v, 4), 0);
    ASSERT_EQ(CVAPI_GetSDKOption(26, &out, 4), 0);
    EXPECT_EQ(out, 123456);
    ASSERT_EQ(CVAPI_SetSDKOption(300, "abc", 3), 0);
    char text[16];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(CVAPI_GetSDKOption(300, text, sizeof text), 0);
    EXPECT_STREQ(text, "abc");
    out = -1;
    EXPECT_EQ(CVAPI_GetSDKOption(27, &out, 4), CV_ERR_NOOPTION);
    EXPECT_EQ(out, -1);
    EXPECT_EQ(CVAPI_SetSDKOption(26, nullptr, 4), CV_ERR_INVALIDPARAM);
}

TEST_F(StandinSdk, ScenarioGivesUsersAndScriptedFailures)
{
    Scenario("# two rooms\n"
             "selfid 555\n"
             "room 9 6c6f626279\n"
             "user 31 name=c0eecbc4 camera=1 speak=0 device=4 info=7669703d31\n"
             "room *\n"
             "fail login 17 1\n"
             "return CVAPI_SetServerAuthPass 20\n"
             "objvalue 5 2 8 text 717565756531\n");
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(CVAPI_SetServerAuthPass("secret"), 20);

    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 8906), 0);
    ASSERT_EQ(CVAPI_Login("bob", "pw", 0), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_LOGIN, 555, 17), 0);
    EXPECT_EQ(CVAPI_EnterRoom(9, "", 0), CV_ERR_NOTLOGIN);
    ASSERT_EQ(CVAPI_Login("bob", "pw", 0), 0);  // the refusal was for one try
    EXPECT_GE(rec_.WaitNotify(CV_MSG_LOGIN, 555, 0), 0);

    ASSERT_EQ(CVAPI_EnterRoomEx("lobby", ""), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_ONLINEUSER, 1, 9), 0);
    EXPECT_EQ(Name(31), "\xc0\xee\xcb\xc4");
    int device = 0;
    char info[64] = "";
    EXPECT_EQ(CVAPI_QueryUserState(31, CV_USERSTATE_DEVICETYPE, &device, 4), 0);
    EXPECT_EQ(device, 4);
    EXPECT_EQ(CVAPI_GetUserInfo(31, CV_USERINFO_EXTRA, info, sizeof info), 0);
    EXPECT_STREQ(info, "vip=1");

    // "room *" is empty here, so any other room holds nobody.
    ASSERT_EQ(CVAPI_EnterRoom(10, "", 0), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_ONLINEUSER, 0, 10), 0);

    char value[32] = "";
    int missing = -1;
    EXPECT_EQ(CVAPI_ObjectGetValue(5, 2, 8, value, sizeof value), 0);
    EXPECT_STREQ(value, "queue1");
    EXPECT_EQ(CVAPI_ObjectGetValue(5, 2, 9, &missing, 4), CV_ERR_NOOBJECT);
    EXPECT_EQ(missing, -1);
    int prio = 3;
    EXPECT_EQ(CVAPI_ObjectSetValue(5, 2, 9, &prio, 4), 0);
    EXPECT_EQ(CVAPI_ObjectGetValue(5, 2, 9, &missing, 4), 0);
    EXPECT_EQ(missing, 3);
}

TEST_F(StandinSdk, FailedConnectAndRefusedRoomReportTheirCodes)
{
    Scenario("fail connect 100 1\nfail enterroom 33\nroom *\nuser 5\n");
    ASSERT_EQ(Start(), 0);
    EXPECT_EQ(CVAPI_Login("bob", "pw", 0), CV_ERR_NOTCONNECT);
    ASSERT_EQ(CVAPI_Connect("10.0.0.1", 1), 0);
    ASSERT_GE(rec_.WaitNotify(CV_MSG_CONNECT, 0, 100), 0);
    EXPECT_EQ(CVAPI_Login("bob", "pw", 0), 0);  // no link: nothing follows

    ASSERT_EQ(CVAPI_Connect("10.0.0.1", 1), 0);
    ASSERT_GE(rec_.WaitNotify(CV_MSG_CONNECT, 1, 0), 0);
    ASSERT_EQ(CVAPI_Login("bob", "pw", 0), 0);
    ASSERT_GE(rec_.WaitNotify(CV_MSG_LOGIN, 1001, 0), 0);
    ASSERT_EQ(CVAPI_EnterRoom(4, "", 0), 0);
    ASSERT_GE(rec_.WaitNotify(CV_MSG_ENTERROOM, 4, 33), 0);

    // Exactly one login message: the one after the failed link brought none.
    int logins = 0, online = 0;
    for (const Event& e : rec_.Snapshot()) {
        logins += e.kind == "notify" && e.a == CV_MSG_LOGIN;
        online += e.kind == "notify" && e.a == CV_MSG_ONLINEUSER;
    }
    EXPECT_EQ(logins, 1);
    EXPECT_EQ(online, 0);
}

TEST_F(StandinSdk, BadScenarioLinesAreReportedAndTheRestIsKept)
{
    Scenario("selfid 77\nuser 5\nroom 2\nuser 6 name=zz\nwhatever 1\nuser 7 camera=3\n");
    EXPECT_EQ(Start(), CV_ERR_SCENARIO);
    const std::string log = ReadFile(log_);
    EXPECT_NE(log.find("scenario: line 2: user before any room line"), std::string::npos) << log;
    EXPECT_NE(log.find("scenario: line 4: bad value: name=zz"), std::string::npos) << log;
    EXPECT_NE(log.find("scenario: line 5: unknown directive: whatever"), std::string::npos) << log;

    LoginAndEnter(2);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_LOGIN, 77, 0), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_ONLINEUSER, 1, 2), 0);
    unsigned camera = 0;
    EXPECT_EQ(CVAPI_GetCameraState(7, &camera), 0);
    EXPECT_EQ(camera, 3u);
}

TEST_F(StandinSdk, ControlChannelInjectsEvents)
{
    const std::string fifo = dir_ + "/control";
    setenv("QG_SDK_CONTROL", fifo.c_str(), 1);
    ASSERT_EQ(Start(), 0);
    LoginAndEnter(7);

    struct stat st;
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    ASSERT_TRUE(S_ISFIFO(st.st_mode));
    const std::string lines = "user enter 3001 name=c0eecbc4 camera=1 device=8\n"
                              "camera 3001 2\n"
                              "text 3001 1001 1 68656c6c6f\n"
                              "buffer 3001 616263\n"
                              "video 3001 640 480 1234 90 00000001\n"
                              "audio 3001 2 48000 16 99 0102\n"
                              "event 7 7b7d\n"
                              "object 4 10 2 0 0 0 9 -\n"
                              "bogus line\n"
                              "text 1 2 3 xyz\n"
                              "notify 1230 0 9\n"
                              "user leave 2002\n";
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(fd);

    ASSERT_GE(rec_.WaitNotify(CV_MSG_USERATROOM, 2002, 0), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_USERATROOM, 3001, 1), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_CAMERASTATE, 3001, 2), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_LINKCLOSE, 0, 9), 0);
    auto has = [&](const char* kind, unsigned a, unsigned b, unsigned c, const std::string& data) {
        return rec_.WaitFor([=](const Event& e) {
            return e.kind == kind && e.a == a && e.b == b && e.c == c && e.data == data;
        }) >= 0;
    };
    EXPECT_TRUE(has("text", 3001, 1001, 1, "hello"));
    EXPECT_TRUE(has("buffer", 3001, 3, 0, "abc"));
    EXPECT_TRUE(has("video", 3001, 1234, 640 * 10000 + 480 * 10 + 1, std::string("\0\0\0\1", 4)));
    EXPECT_TRUE(has("audio", 3001, 99, 2 * 100000 + 4800 + 16, "\x01\x02"));
    EXPECT_TRUE(has("event", 7, 0, 0, "{}"));
    EXPECT_TRUE(has("object", 4, 10, 209, ""));
    for (const Event& e : rec_.Snapshot())
        EXPECT_NE(e.thread, std::this_thread::get_id());

    // The room now holds the newcomer and no longer the user who left.
    unsigned ids[4];
    unsigned n = 4;
    ASSERT_EQ(CVAPI_GetRoomOnlineUsers(7, ids, &n), 0);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(ids[0], 2001u);
    EXPECT_EQ(ids[1], 3001u);
    EXPECT_EQ(Name(3001), "\xc0\xee\xcb\xc4");
    unsigned camera = 0;
    EXPECT_EQ(CVAPI_GetCameraState(3001, &camera), 0);
    EXPECT_EQ(camera, 2u);
    EXPECT_EQ(Name(2002), "guest");  // still known after leaving

    const std::string log = ReadFile(log_);
    EXPECT_NE(log.find("control: bad line: bogus line"), std::string::npos) << log;
    EXPECT_NE(log.find("control: bad line: text 1 2 3 xyz"), std::string::npos) << log;

    CVAPI_Release();
    EXPECT_NE(stat(fifo.c_str(), &st), 0);  // the FIFO it made is gone
}

TEST_F(StandinSdk, DefaultWorldHasObjectsStatesAndUsersOutsideTheRoom)
{
    ASSERT_EQ(Start(), 0);
    LoginAndEnter(7);
    unsigned n = 0;
    ASSERT_EQ(CVAPI_GetRoomOnlineUsers(7, nullptr, &n), 0);
    EXPECT_EQ(n, 2u);  // users of "room -" are known but in no room
    int device = 0;
    EXPECT_EQ(CVAPI_QueryUserState(2011, CV_USERSTATE_DEVICETYPE, &device, 4), 0);
    EXPECT_EQ(device, 4);
    EXPECT_EQ(CVAPI_QueryUserState(2012, CV_USERSTATE_DEVICETYPE, &device, 4), 0);
    EXPECT_EQ(device, 8);
    char text[32] = "";
    EXPECT_EQ(CVAPI_QueryUserState(2001, 16, text, sizeof text), 0);
    EXPECT_STREQ(text, "192.168.1.20");
    EXPECT_EQ(CVAPI_QueryUserState(2001, 99, text, sizeof text), CV_ERR_NOINFO);

    for (unsigned type : {4u, 5u, 6u}) {
        n = 0;
        EXPECT_EQ(CVAPI_ObjectGetIdList(type, nullptr, &n), 0);
        EXPECT_GE(n, 1u) << type;
    }
    int count = 0;
    EXPECT_EQ(CVAPI_ObjectGetValue(CV_OBJTYPE_AREA, 10, CV_OBJINFO_GUESTCOUNT, &count, 4), 0);
    EXPECT_EQ(count, 3);
    char name[100] = "";
    EXPECT_EQ(CVAPI_ObjectGetValue(CV_OBJTYPE_QUEUE, 501, CV_OBJINFO_NAME, name, sizeof name), 0);
    EXPECT_STREQ(name, "\xca\xdb\xc7\xb0\xd7\xc9\xd1\xaf");
}

TEST_F(StandinSdk, ScriptedAnswersFillOutputsWithoutRoomForANul)
{
    Scenario("sdkanswer 5 6162636465\nroom *\nuser 9\nuserstate 9 20 text 78797a\n");
    ASSERT_EQ(Start(), 0);
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(CVAPI_SDKControl(5, "{}", out, 3), 0);
    EXPECT_EQ(std::string(out, 4), "abc#");  // filled, no NUL, nothing beyond
    EXPECT_EQ(CVAPI_SDKControl(5, "{}", out, sizeof out), 0);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(CVAPI_SDKControl(6, "{}", out, sizeof out), 0);
    EXPECT_EQ(std::string(out, 7), "{\"ctrlc");
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(CVAPI_QueryUserState(9, 20, out, 2), 0);
    EXPECT_EQ(std::string(out, 3), "xy#");
}

TEST_F(StandinSdk, AfterDirectivesChangeTheWorldAsTheirCallReturnsOneACall)
{
    Scenario("object 4 10\n"
             "after CVAPI_ObjectGetIdList object 4 11\n"
             "after CVAPI_ObjectGetIdList objvalue 4 11 8 text 6162\n"
             "after CVAPI_ObjectGetIdList whatever 1\n"
             "after CVAPI_ObjectGetValue\n");
    EXPECT_EQ(Start(), CV_ERR_SCENARIO);
    const std::string log = ReadFile(log_);
    EXPECT_NE(log.find("scenario: line 4: unknown directive: whatever"), std::string::npos) << log;
    EXPECT_NE(log.find("scenario: line 5: usage: after <CVAPI_name> <directive>"), std::string::npos) << log;

    char text[8] = "keep";
    unsigned n = 0;
    // Another function's call changes nothing.
    EXPECT_EQ(CVAPI_ObjectGetValue(4, 11, 8, text, sizeof text), CV_ERR_NOOBJECT);
    // Each call sees the world as it was, and changes it as it returns.
    EXPECT_EQ(CVAPI_ObjectGetIdList(4, nullptr, &n), 0);
    EXPECT_EQ(n, 1u);
    unsigned ids[4] = {0, 0, 0, 0};
    n = 4;
    EXPECT_EQ(CVAPI_ObjectGetIdList(4, ids, &n), 0);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(ids[1], 11u);
    EXPECT_EQ(CVAPI_ObjectGetValue(4, 11, 8, text, sizeof text), 0);
    EXPECT_STREQ(text, "ab");
    // None is left.
    EXPECT_EQ(CVAPI_ObjectGetIdList(4, nullptr, &n), 0);
    EXPECT_EQ(n, 2u);
}

TEST_F(StandinSdk, BuffersAreJournalledWholeAndControlDataMayComeFromAFile)
{
    const std::string fifo = dir_ + "/control";
    setenv("QG_SDK_CONTROL", fifo.c_str(), 1);
    ASSERT_EQ(Start(), 0);
    const unsigned char data[20] = {0, 1, 2, 0xd5, 0xc5, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 0xff};
    EXPECT_EQ(CVAPI_TransBuffer(2001, data, sizeof data), 0);
    unsigned task = 0;
    EXPECT_EQ(CVAPI_TransBufferEx(2001, "ab", 2, 1, 2, 3, &task), 0);
    const std::string j = ReadFile(journal_);
    EXPECT_TRUE(HasLine(j, "CVAPI_TransBuffer 2001 20:000102d5c505060708090a0b0c0d0e0f101112ff 20 = 0")) << j;
    EXPECT_TRUE(HasLine(j, "CVAPI_TransBufferEx 2001 2:6162 2 1 2 3 out = 0")) << j;

    // A buffer far beyond one control line, from a file.
    const std::string big(3 << 20, 'q');
    std::ofstream(dir_ + "/big.bin", std::ios::binary) << big;
    const std::string lines = "buffer 2002 @" + dir_ + "/big.bin\nevent 4 @" + dir_ + "/missing\n";
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(fd);
    ASSERT_GE(rec_.WaitFor([&](const Event& e) { return e.kind == "buffer" && e.a == 2002 && e.data == big; }), 0);
    for (int i = 0; i < 500 && ReadFile(log_).find("control: bad line: event 4 @") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(ReadFile(log_).find("control: bad line: event 4 @"), std::string::npos);
}

TEST_F(StandinSdk, ReleaseStopsDeliveryAndTheSdkStartsAgain)
{
    ASSERT_EQ(Start(), 0);
    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 1), 0);
    ASSERT_EQ(CVAPI_Release(), 0);
    EXPECT_EQ(CVAPI_Login("a", "b", 0), CV_ERR_NOTINIT);
    const size_t before = rec_.Snapshot().size();
    // Nothing queued before the release may arrive after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(rec_.Snapshot().size(), before);

    ASSERT_EQ(Start(), 0);
    ASSERT_EQ(CVAPI_Connect("127.0.0.1", 1), 0);
    ASSERT_EQ(CVAPI_Login("a", "b", 0), 0);
    EXPECT_GE(rec_.WaitNotify(CV_MSG_LOGIN, 1001, 0), 0);
}

}  // namespace

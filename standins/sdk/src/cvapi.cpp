// The stand-in conferencing SDK: CVAPI_ entry points over a simulated server.
// Conventions (journal, scenario, control lines) are documented in README.md.
#include "quillgate/sdklink/cvapi.h"
#include "standin_sdk_codes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "control_fifo.h"
#include "sdk_media.h"
#include "sdk_text.h"
#include "sdk_world.h"
#include "task_thread.h"

using namespace sdkstub;

namespace {

const uint32_t kLocalUser = 0xFFFFFFFFu;
// Outcomes of a call are queued this much later, so the call has returned
// before its message arrives.
const int kOutcomeDelayMs = 2;

template <class Fn>
struct Slot {
    Fn fn = nullptr;
    void* user = nullptr;
};

struct Callbacks {
    Slot<CVAPI_NotifyMessage_CallBack> notify;
    Slot<CVAPI_VideoDataEx_CallBack> video;
    Slot<CVAPI_AudioDataEx_CallBack> audio;
    Slot<CVAPI_TextMessage_CallBack> text;
    Slot<CVAPI_TransBuffer_CallBack> buffer;
    Slot<CVAPI_TransBufferEx_CallBack> bufferEx;
    Slot<CVAPI_VideoCallEvent_CallBack> videoCall;
    Slot<CVAPI_ObjectEvent_CallBack> object;
    Slot<CVAPI_RecordEvent_CallBack> record;
    Slot<CVAPI_CoreSDKEvent_CallBack> core;
};

struct Session {
    bool connectCalled = false;
    bool connected = false;
    bool loggedIn = false;
    bool inRoom = false;
    uint32_t ownId = kLocalUser;
    UserRecord self;
    uint32_t room = 0;
    uint32_t nextTaskId = 1;
};

MediaSinks CurrentSinks();

struct Sdk {
    std::mutex mu;  // guards everything below but the loop, the FIFO and the media
    bool inited = false;
    World world;
    Session session;
    Callbacks callbacks;
    standin::TaskThread loop;
    standin::ControlFifo control;
    MediaThread media{&CurrentSinks};
    MediaInput input;
};

// Never destroyed: the program may call in from its own static destructors.
Sdk& S()
{
    static Sdk* sdk = new Sdk;
    return *sdk;
}

MediaSinks CurrentSinks()
{
    std::lock_guard<std::mutex> lock(S().mu);
    MediaSinks sinks;
    sinks.video = S().callbacks.video.fn;
    sinks.videoUser = S().callbacks.video.user;
    sinks.audio = S().callbacks.audio.fn;
    sinks.audioUser = S().callbacks.audio.user;
    return sinks;
}

void SdkLog(const std::string& line)
{
    AppendLine("QG_SDK_LOG", line);
}

// Queues one callback; the slot is read when it runs, so a callback set or
// cleared meanwhile is honoured.
template <class Fn, class Invoke>
void Post(Slot<Fn> Callbacks::*slot, int delayMs, Invoke invoke)
{
    S().loop.Post(
        [slot, invoke]() {
            Slot<Fn> cb;
            {
                std::lock_guard<std::mutex> lock(S().mu);
                cb = S().callbacks.*slot;
            }
            if (cb.fn)
                invoke(cb.fn, cb.user);
        },
        delayMs);
}

void PostNotify(uint32_t msg, uint32_t wParam, uint32_t lParam, int delayMs = kOutcomeDelayMs)
{
    Post(&Callbacks::notify, delayMs,
         [=](CVAPI_NotifyMessage_CallBack fn, void* user) { fn(msg, wParam, lParam, user); });
}

// Bytes handed to a callback: owned by the queued event, NUL after the end.
using Bytes = std::shared_ptr<std::string>;
Bytes MakeBytes(const std::string& s)
{
    return std::make_shared<std::string>(s);
}
unsigned char* Raw(const Bytes& b)
{
    return reinterpret_cast<unsigned char*>(&(*b)[0]);
}

// One CVAPI_ call: collects its journal line, runs the body under the SDK
// mutex unless the SDK is not started or the scenario scripts the result.
class Call
{
public:
    explicit Call(const char* name) : name_(name), line_(name) {}
    Call& Num(uint32_t v) { return Add(std::to_string(static_cast<int32_t>(v))); }
    Call& Text(const char* t) { return Add(QuoteText(t)); }
    Call& Data(const void* p, size_t n) { return Add(DataForm(p, n)); }
    Call& Bytes(const void* p, size_t n) { return Add(BytesForm(p, n)); }
    Call& Out(const void* p) { return Add(p ? "out" : "null"); }
    Call& Count(const uint32_t* p) { return Add(p ? std::to_string(*p) : "null"); }
    Call& Ptr(const void* p) { return Add(p ? "set" : "null"); }
    Call& Add(const std::string& s)
    {
        line_ += ' ';
        line_ += s;
        return *this;
    }

    template <class Body>
    int Run(Body body, bool needInit = true)
    {
        int ret;
        {
            std::lock_guard<std::mutex> lock(S().mu);
            uint32_t code = 0;
            if (needInit && !S().inited)
                ret = CV_ERR_NOTINIT;
            else if (World::TakeFault(S().world.returnFaults, name_, code))
                ret = static_cast<int>(code);
            else
                ret = body(S());
            S().world.RunAfterCall(name_);
        }
        return Finish(ret);
    }

    int Finish(int ret)
    {
        AppendLine("QG_SDK_JOURNAL", line_ + " = " + std::to_string(ret));
        return ret;
    }

private:
    std::string name_;
    std::string line_;
};

bool IsSelf(const Sdk& s, uint32_t id)
{
    return id == kLocalUser || (s.session.loggedIn && id == s.session.ownId);
}

UserRecord* FindUser(Sdk& s, uint32_t id)
{
    if (IsSelf(s, id))
        return &s.session.self;
    auto it = s.world.users.find(id);
    return it == s.world.users.end() ? nullptr : &it->second;
}

// A user the control channel names: unknown ones are made with default values.
UserRecord& UserForUpdate(Sdk& s, uint32_t id)
{
    if (UserRecord* u = FindUser(s, id))
        return *u;
    UserRecord& u = s.world.users[id];
    u.name = "user" + std::to_string(id);
    return u;
}

std::vector<uint32_t> OthersInRoom(Sdk& s, uint32_t room)
{
    std::vector<uint32_t> out;
    for (uint32_t id : s.world.RoomUsers(room))
        if (!IsSelf(s, id))
            out.push_back(id);
    return out;
}

// Copies a text into a caller buffer of cap bytes, always NUL-terminated.
int CopyText(const std::string& text, char* out, uint32_t cap)
{
    if (!out || cap == 0)
        return CV_ERR_INVALIDPARAM;
    size_t n = std::min<size_t>(text.size(), cap - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return CV_ERR_SUCCESS;
}

// Copies a stored value: at most cap bytes, NUL after it when there is room.
int CopyValue(const std::string& value, void* out, uint32_t cap)
{
    if (!out || cap == 0)
        return CV_ERR_INVALIDPARAM;
    size_t n = std::min<size_t>(value.size(), cap);
    std::memcpy(out, value.data(), n);
    if (n < cap)
        static_cast<char*>(out)[n] = '\0';
    return CV_ERR_SUCCESS;
}

// A list call: count with a null array, else fill at most *count entries.
int ListIds(const std::vector<uint32_t>& ids, uint32_t* array, uint32_t* count)
{
    if (!count)
        return CV_ERR_INVALIDPARAM;
    if (!array) {
        *count = static_cast<uint32_t>(ids.size());
        return CV_ERR_SUCCESS;
    }
    uint32_t n = std::min<uint32_t>(*count, static_cast<uint32_t>(ids.size()));
    std::copy(ids.begin(), ids.begin() + n, array);
    *count = n;
    return CV_ERR_SUCCESS;
}

std::string OptionForm(const void* value, int length)
{
    if (!value || length < 0)
        return "null";
    const unsigned char* p = static_cast<const unsigned char*>(value);
    bool printable = true;
    for (int i = 0; i < length; ++i)
        if (p[i] < 0x20 || p[i] >= 0x7f)
            printable = false;
    if (length == 4 && !printable) {
        int32_t v;
        std::memcpy(&v, value, 4);
        return "int " + std::to_string(v);
    }
    return "text " + QuoteBytes(value, static_cast<size_t>(length));
}

// ---- start-up --------------------------------------------------------------

void ResetState(Sdk& s)
{
    s.world = World();
    s.session = Session();
}

int LoadWorld(Sdk& s)
{
    std::string text = kDefaultScenario;
    std::vector<std::string> errors;
    const char* path = std::getenv("QG_SDK_SCENARIO");
    if (path && *path) {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream all;
            all << in.rdbuf();
            text = all.str();
        } else {
            errors.push_back(std::string("cannot read ") + path + ", using the built-in default");
        }
    }
    LoadScenario(s.world, text, errors);
    for (const std::string& e : errors) {
        std::fprintf(stderr, "dizoveverivuve: scenario: %s\n", e.c_str());
        SdkLog("scenario: " + e);
    }
    return errors.empty() ? CV_ERR_SUCCESS : CV_ERR_SCENARIO;
}

void OnControlLine(const std::string& line);

void OpenControl(Sdk& s)
{
    const char* path = std::getenv("QG_SDK_CONTROL");
    if (!path || !*path)
        return;
    std::string error;
    if (!s.control.Open(path, OnControlLine, error)) {
        std::fprintf(stderr, "dizoveverivuve: control: %s\n", error.c_str());
        SdkLog("control: " + error);
    }
}

// ---- control channel ---------------------------------------------------------

bool ParseNums(const std::vector<std::string>& t, size_t first, size_t count, uint32_t* out)
{
    if (t.size() < first + count)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (!ParseU32(t[first + i], out[i]))
            return false;
    return true;
}

// Handles one control event; false when the line does not parse.
bool ControlEvent(Sdk& s, const std::vector<std::string>& t)
{
    const std::string& what = t[0];
    uint32_t n[8] = {0};
    std::string a, b;
    if (what == "notify") {
        if (t.size() != 4 || !ParseNums(t, 1, 3, n))
            return false;
        PostNotify(n[0], n[1], n[2], 0);
        return true;
    }
    if (what == "user" && t.size() >= 3 && (t[1] == "enter" || t[1] == "leave")) {
        if (!ParseU32(t[2], n[0]))
            return false;
        std::vector<uint32_t>& list = s.world.RoomUsers(s.session.room);
        auto at = std::find(list.begin(), list.end(), n[0]);
        if (t[1] == "leave") {
            if (t.size() != 3)
                return false;
            if (at != list.end())
                list.erase(at);
            PostNotify(CV_MSG_USERATROOM, n[0], 0, 0);
            return true;
        }
        UserRecord user;
        if (const UserRecord* known = FindUser(s, n[0]))
            user = *known;
        else
            user.name = "user" + std::to_string(n[0]);
        std::string error;
        if (!ParseUserAttributes(t, 3, user, error))
            return false;
        s.world.users[n[0]] = user;
        if (at == list.end())
            list.push_back(n[0]);
        PostNotify(CV_MSG_USERATROOM, n[0], 1, 0);
        return true;
    }
    if (what == "camera" || what == "speak") {
        if (t.size() != 3 || !ParseNums(t, 1, 2, n))
            return false;
        UserRecord& u = UserForUpdate(s, n[0]);
        (what == "camera" ? u.camera : u.speak) = n[1];
        PostNotify(what == "camera" ? CV_MSG_CAMERASTATE : CV_MSG_MICSTATE, n[0], n[1], 0);
        return true;
    }
    if (what == "text") {
        if (t.size() != 5 || !ParseNums(t, 1, 3, n) || !ParseData(t[4], a))
            return false;
        Bytes text = MakeBytes(a);
        Post(&Callbacks::text, 0, [n, text](CVAPI_TextMessage_CallBack fn, void* user) {
            fn(n[0], n[1], static_cast<int>(n[2]), text->c_str(), static_cast<unsigned>(text->size()), user);
        });
        return true;
    }
    if (what == "buffer") {
        if (t.size() != 3 || !ParseNums(t, 1, 1, n) || !ParseData(t[2], a))
            return false;
        Bytes data = MakeBytes(a);
        Post(&Callbacks::buffer, 0, [n, data](CVAPI_TransBuffer_CallBack fn, void* user) {
            fn(n[0], Raw(data), static_cast<unsigned>(data->size()), user);
        });
        return true;
    }
    if (what == "bufferex") {
        if (t.size() != 6 || !ParseNums(t, 1, 1, n) || !ParseData(t[2], a) || !ParseNums(t, 3, 3, n + 1))
            return false;
        Bytes data = MakeBytes(a);
        Post(&Callbacks::bufferEx, 0, [n, data](CVAPI_TransBufferEx_CallBack fn, void* user) {
            fn(n[0], Raw(data), static_cast<unsigned>(data->size()), n[1], n[2], n[3], user);
        });
        return true;
    }
    if (what == "video") {
        if (t.size() != 7 || !ParseNums(t, 1, 5, n) || !ParseHex(t[6], a))
            return false;
        Bytes data = MakeBytes(a);
        Post(&Callbacks::video, 0, [n, data](CVAPI_VideoDataEx_CallBack fn, void* user) {
            fn(n[0], Raw(data), static_cast<unsigned>(data->size()), n[3], user, 0, 0, n[1], n[2], 0, 0, 0, 0, n[4]);
            JournalSingleFrame(kVideo, n[0], data->data(), static_cast<uint32_t>(data->size()), n[3], n[4], n[1], n[2],
                               nullptr, true);
        });
        return true;
    }
    if (what == "audio") {
        if (t.size() != 7 || !ParseNums(t, 1, 5, n) || !ParseHex(t[6], a))
            return false;
        if (n[1] > 0xFFFF || n[3] > 0xFFFF)
            return false;
        WAVEFORMATEX wf;
        std::memset(&wf, 0, sizeof wf);
        wf.wFormatTag = 1;
        wf.nChannels = static_cast<unsigned short>(n[1]);
        wf.nSamplesPerSec = n[2];
        wf.wBitsPerSample = static_cast<unsigned short>(n[3]);
        wf.nBlockAlign = static_cast<unsigned short>(wf.nChannels * wf.wBitsPerSample / 8);
        wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
        Bytes data = MakeBytes(a);
        Post(&Callbacks::audio, 0, [n, data, wf](CVAPI_AudioDataEx_CallBack fn, void* user) {
            fn(n[0], Raw(data), static_cast<unsigned>(data->size()), wf, n[4], user);
            JournalSingleFrame(kAudio, n[0], data->data(), static_cast<uint32_t>(data->size()), n[4], 0, 0, 0, &wf,
                               true);
        });
        return true;
    }
    if (what == "videocall") {
        if (t.size() != 7 || !ParseNums(t, 1, 5, n) || !ParseData(t[6], a))
            return false;
        Bytes text = MakeBytes(a);
        Post(&Callbacks::videoCall, 0, [n, text](CVAPI_VideoCallEvent_CallBack fn, void* user) {
            fn(n[0], n[1], n[2], n[3], n[4], text->c_str(), user);
        });
        return true;
    }
    if (what == "object" && t.size() >= 8) {
        if (t.size() > 9 || !ParseNums(t, 1, 7, n) || (t.size() == 9 && !ParseData(t[8], a)))
            return false;
        Bytes text = MakeBytes(a);
        Post(&Callbacks::object, 0, [n, text](CVAPI_ObjectEvent_CallBack fn, void* user) {
            fn(n[0], n[1], n[2], n[3], n[4], n[5], n[6], text->c_str(), user);
        });
        return true;
    }
    if (what == "record") {
        if ((t.size() != 7 && t.size() != 8) || !ParseNums(t, 1, 2, n) || !ParseData(t[3], a) ||
            !ParseNums(t, 4, 3, n + 2) || (t.size() == 8 && !ParseData(t[7], b)))
            return false;
        Bytes file = MakeBytes(a), str = MakeBytes(b);
        Post(&Callbacks::record, 0, [n, file, str](CVAPI_RecordEvent_CallBack fn, void* user) {
            fn(n[0], n[1], file->c_str(), n[2], n[3], n[4], str->c_str(), user);
        });
        return true;
    }
    if (what == "event") {
        if (t.size() != 3 || !ParseNums(t, 1, 1, n) || !ParseData(t[2], a))
            return false;
        Bytes json = MakeBytes(a);
        Post(&Callbacks::core, 0,
             [n, json](CVAPI_CoreSDKEvent_CallBack fn, void* user) { fn(n[0], json->c_str(), user); });
        return true;
    }
    std::string error;
    return ApplyDirective(s.world, t, nullptr, error);
}

void OnControlLine(const std::string& line)
{
    std::vector<std::string> tokens = SplitTokens(line);
    if (tokens.empty())
        return;
    bool ok;
    if (IsMediaLine(tokens[0])) {
        // A stream that ends may wait for its frame under way, which may
        // call in: the SDK's lock is held only for the copy.
        World world;
        {
            std::lock_guard<std::mutex> lock(S().mu);
            if (!S().inited)
                return;
            world = S().world;
        }
        MediaLine(tokens, world, S().media, S().input, ok);
    } else {
        {
            std::lock_guard<std::mutex> lock(S().mu);
            if (!S().inited)
                return;
            ok = ControlEvent(S(), tokens);
        }
        // A user who left takes their camera and microphone along.
        uint32_t id = 0;
        if (ok && tokens.size() == 3 && tokens[0] == "user" && tokens[1] == "leave" && ParseU32(tokens[2], id)) {
            S().media.Remove(id, kVideo);
            S().media.Remove(id, kAudio);
        }
    }
    if (!ok)
        SdkLog("control: bad line: " + line.substr(0, 200));
}

// ---- outcomes of login and rooms -------------------------------------------------

int DoLogin(Sdk& s, uint32_t id, const char* name)
{
    if (!s.session.connectCalled)
        return CV_ERR_NOTCONNECT;
    if (!s.session.connected)
        return CV_ERR_SUCCESS;  // the link never came up
    uint32_t code = 0;
    if (World::TakeFault(s.world.outcomeFaults, "login", code)) {
        PostNotify(CV_MSG_LOGIN, s.world.selfId, code);
        return CV_ERR_SUCCESS;
    }
    s.session.loggedIn = true;
    s.session.ownId = id;
    s.session.self = UserRecord();
    s.session.self.name = name ? name : "";
    PostNotify(CV_MSG_LOGIN, id, 0);
    return CV_ERR_SUCCESS;
}

int DoEnterRoom(Sdk& s, uint32_t room)
{
    if (!s.session.loggedIn)
        return CV_ERR_NOTLOGIN;
    uint32_t code = 0;
    if (World::TakeFault(s.world.outcomeFaults, "enterroom", code)) {
        PostNotify(CV_MSG_ENTERROOM, room, code);
        return CV_ERR_SUCCESS;
    }
    s.session.inRoom = true;
    s.session.room = room;
    PostNotify(CV_MSG_ENTERROOM, room, 0);
    PostNotify(CV_MSG_ONLINEUSER, static_cast<uint32_t>(OthersInRoom(s, room).size()), room);
    return CV_ERR_SUCCESS;
}

uint32_t RoomIdByName(const Sdk& s, const char* name)
{
    auto it = s.world.roomNames.find(name);
    if (it != s.world.roomNames.end())
        return it->second;
    uint32_t id;
    bool digits = *name && std::all_of(name, name + std::strlen(name), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && ParseU32(name, id))
        return id;
    return 1;
}

}  // namespace

// ============================================================================
// Start-up, options
// ============================================================================

int CVAPI_GetSDKVersion(unsigned int* dwMainVer, unsigned int* dwSubVer, char* lpCompileTime, unsigned int dwBufLen)
{
    Call c("CVAPI_GetSDKVersion");
    c.Out(dwMainVer).Out(dwSubVer).Out(lpCompileTime).Num(dwBufLen);
    return c.Run(
        [&](Sdk&) {
            if (dwMainVer)
                *dwMainVer = 1;
            if (dwSubVer)
                *dwSubVer = 0;
            if (lpCompileTime && dwBufLen)
                CopyText("stand-in build", lpCompileTime, dwBufLen);
            return CV_ERR_SUCCESS;
        },
        false);
}

int CVAPI_ActiveCallLog(int bActive)
{
    Call c("CVAPI_ActiveCallLog");
    c.Num(static_cast<uint32_t>(bActive));
    return c.Run([](Sdk&) { return CV_ERR_SUCCESS; }, false);
}

int CVAPI_InitSDK(void* hWnd, unsigned int dwFuncMode)
{
    Call c("CVAPI_InitSDK");
    c.Ptr(hWnd).Num(dwFuncMode);
    return c.Run(
        [](Sdk& s) {
            if (s.inited)
                return CV_ERR_SUCCESS;
            ResetState(s);
            int ret = LoadWorld(s);
            s.inited = true;
            s.loop.Start();
            s.media.Start();
            s.input.Open();
            OpenControl(s);
            return ret;
        },
        false);
}

int CVAPI_SetSDKOption(int optName, const void* optVal, int optLen)
{
    Call c("CVAPI_SetSDKOption");
    c.Num(static_cast<uint32_t>(optName)).Add(OptionForm(optVal, optLen));
    return c.Run([&](Sdk& s) {
        if (!optVal || optLen < 0)
            return CV_ERR_INVALIDPARAM;
        std::string value(static_cast<const char*>(optVal), static_cast<size_t>(optLen));
        if (optName == CV_OPT_WRITE_LOG) {
            value = value.substr(0, value.find('\0'));
            while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
                value.pop_back();
            SdkLog(value);
            return CV_ERR_SUCCESS;
        }
        s.world.options[optName] = value;
        return CV_ERR_SUCCESS;
    });
}

int CVAPI_GetSDKOption(int optName, void* optVal, int optLen)
{
    Call c("CVAPI_GetSDKOption");
    c.Num(static_cast<uint32_t>(optName)).Out(optVal).Num(static_cast<uint32_t>(optLen));
    return c.Run([&](Sdk& s) {
        if (optLen <= 0)
            return CV_ERR_INVALIDPARAM;
        auto it = s.world.options.find(optName);
        if (it == s.world.options.end())
            return CV_ERR_NOOPTION;
        return CopyValue(it->second, optVal, static_cast<uint32_t>(optLen));
    });
}

int CVAPI_Release(void)
{
    Call c("CVAPI_Release");
    Sdk& s = S();
    // A callback must not tear down the thread it runs on.
    if (s.loop.OnThread() || s.media.OnThread())
        return c.Finish(CV_ERR_FAILED);
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (!s.inited)
            return c.Finish(CV_ERR_SUCCESS);
        s.inited = false;
    }
    s.loop.Stop();
    s.media.Stop();
    s.input.Close();
    s.control.Close();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        ResetState(s);
        s.callbacks = Callbacks();
    }
    return c.Finish(CV_ERR_SUCCESS);
}

// ============================================================================
// Callback registration
// ============================================================================

namespace {
template <class Fn>
int Register(const char* name, Slot<Fn> Callbacks::*slot, Fn fn, void* user, Call* call = nullptr)
{
    Call own(name);
    Call& c = call ? *call : own;
    c.Ptr(reinterpret_cast<void*>(fn)).Ptr(user);
    return c.Run(
        [&](Sdk& s) {
            s.callbacks.*slot = Slot<Fn>{fn, user};
            return CV_ERR_SUCCESS;
        },
        false);
}
}  // namespace

int CVAPI_SetNotifyMessageCallBack(CVAPI_NotifyMessage_CallBack lpFunction, void* lpUserValue)
{
    return Register("CVAPI_SetNotifyMessageCallBack", &Callbacks::notify, lpFunction, lpUserValue);
}

int CVAPI_SetVideoDataExCallBack(unsigned int pixFmt, CVAPI_VideoDataEx_CallBack lpFunction, void* lpUserValue)
{
    Call c("CVAPI_SetVideoDataExCallBack");
    c.Num(pixFmt);
    return Register("CVAPI_SetVideoDataExCallBack", &Callbacks::video, lpFunction, lpUserValue, &c);
}

int CVAPI_SetAudioDataExCallBack(CVAPI_AudioDataEx_CallBack lpFunction, void* lpUserValue)
{
    return Register("CVAPI_SetAudioDataExCallBack", &Callbacks::audio, lpFunction, lpUserValue);
}

int CVAPI_SetTextMessageCallBack(CVAPI_TextMessage_CallBack lpFunction, void* lpUserValue)
{
    return Register("CVAPI_SetTextMessageCallBack", &Callbacks::text, lpFunction, lpUserValue);
}

int CVAPI_SetTransBufferCallBack(CVAPI_TransBuffer_CallBack lpFunction, void* lpUserValue)
{
    return Register("CVAPI_SetTransBufferCallBack", &Callbacks::buffer, lpFunction, lpUserValue);
}

int CVAPI_SetTransBufferExCallBack(CVAPI_TransBufferEx_CallBack lpFunction, void* lpUserValue)
{
    return Register("CVAPI_SetTransBufferExCallBack", &Callbacks::bufferEx, lpFunction, lpUserValue);
}

int CVAPI_SetVideoCallEventCallBack(CVAPI_VideoCallEvent_CallBack lpFunction, void* lpUserValue)
{
    return Register("CVAPI_SetVideoCallEventCallBack", &Callbacks::videoCall, lpFunction, lpUserValue);
}

int CVAPI_SetCallBack(unsigned int dwCbType, void* lpFunction, void* lpUserValue)
{
    Call c("CVAPI_SetCallBack");
    c.Num(dwCbType);
    switch (dwCbType) {
    case CV_CBTYPE_OBJECTEVENT:
        return Register("CVAPI_SetCallBack", &Callbacks::object,
                        reinterpret_cast<CVAPI_ObjectEvent_CallBack>(lpFunction), lpUserValue, &c);
    case CV_CBTYPE_RECORDEVENT:
        return Register("CVAPI_SetCallBack", &Callbacks::record,
                        reinterpret_cast<CVAPI_RecordEvent_CallBack>(lpFunction), lpUserValue, &c);
    case CV_CBTYPE_COREEVENT:
        return Register("CVAPI_SetCallBack", &Callbacks::core,
                        reinterpret_cast<CVAPI_CoreSDKEvent_CallBack>(lpFunction), lpUserValue, &c);
    default:
        c.Ptr(lpFunction).Ptr(lpUserValue);
        return c.Run([](Sdk&) { return CV_ERR_INVALIDPARAM; }, false);
    }
}

// ============================================================================
// Login
// ============================================================================

int CVAPI_SetServerAuthPass(const char* lpPassword)
{
    Call c("CVAPI_SetServerAuthPass");
    c.Text(lpPassword);
    return c.Run([&](Sdk&) { return lpPassword ? CV_ERR_SUCCESS : CV_ERR_INVALIDPARAM; });
}

int CVAPI_Connect(const char* lpServerAddr, unsigned int dwPort)
{
    Call c("CVAPI_Connect");
    c.Text(lpServerAddr).Num(dwPort);
    return c.Run([&](Sdk& s) {
        if (!lpServerAddr)
            return CV_ERR_INVALIDPARAM;
        s.session.connectCalled = true;
        uint32_t code = 0;
        s.session.connected = !World::TakeFault(s.world.outcomeFaults, "connect", code);
        PostNotify(CV_MSG_CONNECT, s.session.connected ? 1 : 0, code);
        return CV_ERR_SUCCESS;
    });
}

int CVAPI_Login(const char* lpUserName, const char* lpPassword, unsigned int dwPassEncType)
{
    Call c("CVAPI_Login");
    c.Text(lpUserName).Text(lpPassword).Num(dwPassEncType);
    return c.Run([&](Sdk& s) {
        if (!lpUserName)
            return CV_ERR_INVALIDPARAM;
        return DoLogin(s, s.world.selfId, lpUserName);
    });
}

int CVAPI_LoginEx(const char* lpNickName, unsigned int dwUserId, const char* lpStrUserId, const char* lpAppId,
                  unsigned int dwTimeStamp, const char* lpSigStr, const char* lpStrParam)
{
    Call c("CVAPI_LoginEx");
    c.Text(lpNickName).Num(dwUserId).Text(lpStrUserId).Text(lpAppId).Num(dwTimeStamp).Text(lpSigStr).Text(lpStrParam);
    return c.Run([&](Sdk& s) {
        uint32_t id = (dwUserId == 0 || dwUserId == kLocalUser) ? s.world.selfId : dwUserId;
        return DoLogin(s, id, lpNickName);
    });
}

int CVAPI_Logout(void)
{
    Call c("CVAPI_Logout");
    const int ret = c.Run([](Sdk& s) {
        s.session.connectCalled = s.session.connected = false;
        s.session.loggedIn = s.session.inRoom = false;
        return CV_ERR_SUCCESS;
    });
    S().media.RemoveAll();
    return ret;
}

// ============================================================================
// Rooms
// ============================================================================

int CVAPI_EnterRoom(unsigned int dwRoomId, const char* lpRoomPass, unsigned int dwPassEncType)
{
    Call c("CVAPI_EnterRoom");
    c.Num(dwRoomId).Text(lpRoomPass).Num(dwPassEncType);
    return c.Run([&](Sdk& s) { return DoEnterRoom(s, dwRoomId); });
}

int CVAPI_EnterRoomEx(const char* lpRoomName, const char* lpRoomPass)
{
    Call c("CVAPI_EnterRoomEx");
    c.Text(lpRoomName).Text(lpRoomPass);
    return c.Run([&](Sdk& s) {
        if (!lpRoomName)
            return CV_ERR_INVALIDPARAM;
        return DoEnterRoom(s, RoomIdByName(s, lpRoomName));
    });
}

int CVAPI_LeaveRoom(unsigned int dwRoomId)
{
    Call c("CVAPI_LeaveRoom");
    c.Num(dwRoomId);
    const int ret = c.Run([](Sdk& s) {
        s.session.inRoom = false;
        return CV_ERR_SUCCESS;
    });
    S().media.RemoveAll();
    return ret;
}

int CVAPI_GetRoomOnlineUsers(unsigned int dwRoomId, unsigned int* lpUserIdArray, unsigned int* dwUserNum)
{
    Call c("CVAPI_GetRoomOnlineUsers");
    c.Num(dwRoomId).Out(lpUserIdArray).Count(dwUserNum);
    return c.Run([&](Sdk& s) { return ListIds(OthersInRoom(s, dwRoomId), lpUserIdArray, dwUserNum); });
}

// ============================================================================
// Users
// ============================================================================

int CVAPI_GetUserName(unsigned int dwUserId, char* lpUserName, unsigned int dwLen)
{
    Call c("CVAPI_GetUserName");
    c.Num(dwUserId).Out(lpUserName).Num(dwLen);
    return c.Run([&](Sdk& s) {
        const UserRecord* u = FindUser(s, dwUserId);
        if (!u)
            return CV_ERR_NOUSER;
        return CopyText(u->name, lpUserName, dwLen);
    });
}

int CVAPI_GetUserInfo(unsigned int dwUserId, unsigned int dwInfoId, char* lpInfoValue, unsigned int dwLen)
{
    Call c("CVAPI_GetUserInfo");
    c.Num(dwUserId).Num(dwInfoId).Out(lpInfoValue).Num(dwLen);
    return c.Run([&](Sdk& s) {
        const UserRecord* u = FindUser(s, dwUserId);
        if (!u)
            return CV_ERR_NOUSER;
        if (dwInfoId != CV_USERINFO_EXTRA)
            return CV_ERR_NOINFO;
        return CopyText(u->info, lpInfoValue, dwLen);
    });
}

namespace {
int GetState(const char* name, unsigned int userId, unsigned int* state, uint32_t UserRecord::*field)
{
    Call c(name);
    c.Num(userId).Out(state);
    return c.Run([&](Sdk& s) {
        if (!state)
            return CV_ERR_INVALIDPARAM;
        const UserRecord* u = FindUser(s, userId);
        if (!u)
            return CV_ERR_NOUSER;
        *state = u->*field;
        return CV_ERR_SUCCESS;
    });
}
}  // namespace

int CVAPI_GetCameraState(unsigned int dwUserId, unsigned int* dwState)
{
    return GetState("CVAPI_GetCameraState", dwUserId, dwState, &UserRecord::camera);
}

int CVAPI_GetSpeakState(unsigned int dwUserId, unsigned int* dwState)
{
    return GetState("CVAPI_GetSpeakState", dwUserId, dwState, &UserRecord::speak);
}

int CVAPI_QueryUserState(unsigned int dwUserId, int infoName, void* infoVal, int infoLen)
{
    Call c("CVAPI_QueryUserState");
    c.Num(dwUserId).Num(static_cast<uint32_t>(infoName)).Out(infoVal).Num(static_cast<uint32_t>(infoLen));
    return c.Run([&](Sdk& s) {
        const UserRecord* u = FindUser(s, dwUserId);
        if (!u)
            return CV_ERR_NOUSER;
        if (infoName != CV_USERSTATE_DEVICETYPE) {
            auto state = u->states.find(static_cast<uint32_t>(infoName));
            if (state == u->states.end())
                return CV_ERR_NOINFO;
            return CopyValue(state->second, infoVal, infoLen < 0 ? 0 : static_cast<uint32_t>(infoLen));
        }
        if (!infoVal || infoLen < 4)
            return CV_ERR_INVALIDPARAM;
        std::memcpy(infoVal, &u->device, 4);
        return CV_ERR_SUCCESS;
    });
}

namespace {
// Calls the stand-in only records.
template <class Fill>
int RecordOnly(const char* name, Fill fill)
{
    Call c(name);
    fill(c);
    return c.Run([](Sdk&) { return CV_ERR_SUCCESS; });
}
}  // namespace

namespace {
// A camera or microphone switched: the stream is chosen under the SDK's
// lock and started or ended after it, since ending waits for a frame under
// way and that frame may call in.
int StreamControl(Call& c, int medium, unsigned int userId, int open, unsigned int streamIndex)
{
    RemoteStream play;
    std::string why;
    bool start = false;
    const int ret = c.Run([&](Sdk& s) {
        if (!open)
            return CV_ERR_SUCCESS;
        if (IsSelf(s, userId))
            why = "the own user's media come from quillgate";
        else if (!s.session.inRoom)
            why = "not in a room";
        else if (medium == kVideo)
            start = CameraStream(s.world, userId, streamIndex, play, why);
        else
            start = MicrophoneStream(s.world, userId, play, why);
        return CV_ERR_SUCCESS;
    });
    if (ret != CV_ERR_SUCCESS)
        return ret;
    const std::string name = std::to_string(static_cast<int32_t>(userId)) + " " + MediumName(medium);
    if (!open) {
        S().media.Remove(userId, medium);
    } else if (start) {
        Journal("media " + name + " start frames=" + std::to_string(play.clip->frames.size()));
        S().media.Add(play);
    } else {
        Journal("media " + name + ": " + why);
    }
    return ret;
}
}  // namespace

int CVAPI_UserCameraControl(unsigned int dwUserId, int bOpen)
{
    Call c("CVAPI_UserCameraControl");
    c.Num(dwUserId).Num(static_cast<uint32_t>(bOpen));
    return StreamControl(c, kVideo, dwUserId, bOpen, 0);
}

int CVAPI_UserSpeakControl(unsigned int dwUserId, int bOpen)
{
    Call c("CVAPI_UserSpeakControl");
    c.Num(dwUserId).Num(static_cast<uint32_t>(bOpen));
    return StreamControl(c, kAudio, dwUserId, bOpen, 0);
}

int CVAPI_UserCameraControlEx(unsigned int dwUserId, int bOpen, unsigned int dwStreamIndex, unsigned int dwFlags,
                              const char* lpStrParam)
{
    Call c("CVAPI_UserCameraControlEx");
    c.Num(dwUserId).Num(static_cast<uint32_t>(bOpen)).Num(dwStreamIndex).Num(dwFlags).Text(lpStrParam);
    return StreamControl(c, kVideo, dwUserId, bOpen, dwStreamIndex);
}

int CVAPI_UserSpeakControlEx(unsigned int dwUserId, int bOpen, unsigned int dwStreamIndex, unsigned int dwFlags,
                             const char* lpStrParam)
{
    Call c("CVAPI_UserSpeakControlEx");
    c.Num(dwUserId).Num(static_cast<uint32_t>(bOpen)).Num(dwStreamIndex).Num(dwFlags).Text(lpStrParam);
    return StreamControl(c, kAudio, dwUserId, bOpen, dwStreamIndex);
}

int CVAPI_UserInfoControl(unsigned int dwUserId, unsigned int dwCtrlCode, unsigned int wParam, unsigned int lParam,
                          const char* lpStrValue)
{
    return RecordOnly("CVAPI_UserInfoControl",
                      [&](Call& c) { c.Num(dwUserId).Num(dwCtrlCode).Num(wParam).Num(lParam).Text(lpStrValue); });
}

// ============================================================================
// Objects
// ============================================================================

int CVAPI_ObjectGetIdList(unsigned int dwObjectType, unsigned int* lpIdArray, unsigned int* dwIdNum)
{
    Call c("CVAPI_ObjectGetIdList");
    c.Num(dwObjectType).Out(lpIdArray).Count(dwIdNum);
    return c.Run([&](Sdk& s) {
        auto it = s.world.objects.find(dwObjectType);
        return ListIds(it == s.world.objects.end() ? std::vector<uint32_t>() : it->second, lpIdArray, dwIdNum);
    });
}

int CVAPI_ObjectGetValue(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwInfoName, void* lpInfoValue,
                         unsigned int dwLen)
{
    Call c("CVAPI_ObjectGetValue");
    c.Num(dwObjectType).Num(dwObjectId).Num(dwInfoName).Out(lpInfoValue).Num(dwLen);
    return c.Run([&](Sdk& s) {
        auto it = s.world.objectValues.find(std::make_tuple(dwObjectType, dwObjectId, dwInfoName));
        if (it == s.world.objectValues.end())
            return CV_ERR_NOOBJECT;
        return CopyValue(it->second, lpInfoValue, dwLen);
    });
}

int CVAPI_ObjectSetValue(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwInfoName,
                         const void* lpInfoValue, unsigned int dwLen)
{
    Call c("CVAPI_ObjectSetValue");
    c.Num(dwObjectType).Num(dwObjectId).Num(dwInfoName).Add(OptionForm(lpInfoValue, static_cast<int>(dwLen)));
    return c.Run([&](Sdk& s) {
        if (!lpInfoValue && dwLen > 0)
            return CV_ERR_INVALIDPARAM;
        s.world.objectValues[std::make_tuple(dwObjectType, dwObjectId, dwInfoName)] =
            std::string(static_cast<const char*>(lpInfoValue), dwLen);
        return CV_ERR_SUCCESS;
    });
}

int CVAPI_ObjectControl(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwCtrlCode,
                        unsigned int dwParam1, unsigned int dwParam2, unsigned int dwParam3, unsigned int dwParam4,
                        const char* lpStrParam)
{
    return RecordOnly("CVAPI_ObjectControl", [&](Call& c) {
        c.Num(dwObjectType).Num(dwObjectId).Num(dwCtrlCode).Num(dwParam1).Num(dwParam2).Num(dwParam3).Num(dwParam4);
        c.Text(lpStrParam);
    });
}

// ============================================================================
// Text and buffers
// ============================================================================

int CVAPI_SendTextMessage(unsigned int dwUserId, int bSecret, const char* lpMsgBuf, unsigned int dwLen)
{
    Call c("CVAPI_SendTextMessage");
    c.Num(dwUserId).Num(static_cast<uint32_t>(bSecret));
    c.Add(lpMsgBuf ? QuoteBytes(lpMsgBuf, dwLen) : "null").Num(dwLen);
    return c.Run([&](Sdk&) { return lpMsgBuf || dwLen == 0 ? CV_ERR_SUCCESS : CV_ERR_INVALIDPARAM; });
}

int CVAPI_TransBuffer(unsigned int dwUserId, const void* lpBuf, unsigned int dwLen)
{
    Call c("CVAPI_TransBuffer");
    c.Num(dwUserId).Bytes(lpBuf, dwLen).Num(dwLen);
    return c.Run([&](Sdk&) { return lpBuf || dwLen == 0 ? CV_ERR_SUCCESS : CV_ERR_INVALIDPARAM; });
}

int CVAPI_TransBufferEx(unsigned int dwUserId, const void* lpBuf, unsigned int dwLen, unsigned int wParam,
                        unsigned int lParam, unsigned int dwFlags, unsigned int* dwTaskId)
{
    Call c("CVAPI_TransBufferEx");
    c.Num(dwUserId).Bytes(lpBuf, dwLen).Num(dwLen).Num(wParam).Num(lParam).Num(dwFlags);
    c.Out(dwTaskId);
    return c.Run([&](Sdk& s) {
        if (!lpBuf && dwLen > 0)
            return CV_ERR_INVALIDPARAM;
        uint32_t task = s.session.nextTaskId++;
        if (dwTaskId)
            *dwTaskId = task;
        return CV_ERR_SUCCESS;
    });
}

// ============================================================================
// Media input
// ============================================================================

int CVAPI_SetInputVideoFormatEx(unsigned int dwStreamIndex, unsigned int dwCodecId, unsigned int dwColorSpace,
                                unsigned int dwWidth, unsigned int dwHeight, unsigned int dwFps, unsigned int dwFlags)
{
    return RecordOnly("CVAPI_SetInputVideoFormatEx", [&](Call& c) {
        c.Num(dwStreamIndex).Num(dwCodecId).Num(dwColorSpace).Num(dwWidth).Num(dwHeight).Num(dwFps).Num(dwFlags);
    });
}

int CVAPI_SetInputAudioFormatEx(unsigned int dwStreamIndex, unsigned int dwCodecId, unsigned int dwChannels,
                                unsigned int dwSamplesPerSec, unsigned int dwBitsPerSample, unsigned int dwFlags)
{
    return RecordOnly("CVAPI_SetInputAudioFormatEx", [&](Call& c) {
        c.Num(dwStreamIndex).Num(dwCodecId).Num(dwChannels).Num(dwSamplesPerSec).Num(dwBitsPerSample).Num(dwFlags);
    });
}

// Frames only count unless the journal is on (sdk_media.cpp).
int CVAPI_InputVideoDataEx(unsigned int dwStreamIndex, const void* lpBuf, unsigned int dwLen, unsigned int dwTimeStamp,
                           unsigned int dwFlags)
{
    return S().input.Frame("CVAPI_InputVideoDataEx", kVideo, dwStreamIndex, lpBuf, dwLen, dwTimeStamp, dwFlags);
}

int CVAPI_InputAudioDataEx(unsigned int dwStreamIndex, const void* lpBuf, unsigned int dwLen, unsigned int dwTimeStamp,
                           unsigned int dwFlags)
{
    return S().input.Frame("CVAPI_InputAudioDataEx", kAudio, dwStreamIndex, lpBuf, dwLen, dwTimeStamp, dwFlags);
}

// ============================================================================
// Control
// ============================================================================

int CVAPI_StreamRecordCtrlEx(unsigned int dwUserId, int bStartRecord, unsigned int dwFlags, unsigned int dwParam,
                             const char* lpUserStr)
{
    return RecordOnly("CVAPI_StreamRecordCtrlEx", [&](Call& c) {
        c.Num(dwUserId).Num(static_cast<uint32_t>(bStartRecord)).Num(dwFlags).Num(dwParam).Text(lpUserStr);
    });
}

int CVAPI_SDKControl(unsigned int dwCtrlCode, const char* lpInJsonBuf, char* lpOutJsonBuf, unsigned int dwOutBufSize)
{
    Call c("CVAPI_SDKControl");
    c.Num(dwCtrlCode).Text(lpInJsonBuf).Out(lpOutJsonBuf).Num(dwOutBufSize);
    return c.Run([&](Sdk& s) {
        if (!lpOutJsonBuf || dwOutBufSize == 0)
            return CV_ERR_SUCCESS;
        // A scripted answer fills the buffer as far as it goes, with no NUL when it fills it whole.
        auto answer = s.world.sdkAnswers.find(dwCtrlCode);
        if (answer != s.world.sdkAnswers.end())
            return CopyValue(answer->second, lpOutJsonBuf, dwOutBufSize);
        std::string out = "{\"ctrlcode\":" + std::to_string(dwCtrlCode) + ",\"errorcode\":0}";
        return CopyText(out, lpOutJsonBuf, dwOutBufSize);
    });
}

int CVAPI_VideoCallControl(unsigned int dwEventType, unsigned int dwUserId, unsigned int dwErrorCode,
                           unsigned int dwFlags, unsigned int dwParam, const char* lpUserStr)
{
    return RecordOnly("CVAPI_VideoCallControl", [&](Call& c) {
        c.Num(dwEventType).Num(dwUserId).Num(dwErrorCode).Num(dwFlags).Num(dwParam).Text(lpUserStr);
    });
}

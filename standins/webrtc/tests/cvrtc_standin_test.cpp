// Tests of the stand-in media library, opened with dlopen and driven
// through its entry points and control FIFO, as quillgate uses it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quillgate/webrtc/cvrtc_api.h"
#include "standin_rtc_codes.h"
#include "tests/support/case_names.h"
#include "tests/support/test_support.h"
#include "util/json_writer.h"

namespace {

using qgtest::ReadLines;

// The 13 entry points, looked up as the program's loader does.
struct Api {
    void* lib = nullptr;
    decltype(&CVRTC_Initialize) Initialize = nullptr;
    decltype(&CVRTC_UnInitialize) UnInitialize = nullptr;
    decltype(&CVRTC_CreateWithUserHandle) CreateWithUserHandle = nullptr;
    decltype(&CVRTC_CreateWithGenerateHandle) Create = nullptr;
    decltype(&CVRTC_Destroy) Destroy = nullptr;
    decltype(&CVRTC_SetAudioFrameParam) SetAudioFrameParam = nullptr;
    decltype(&CVRTC_SetVideoFrameParam) SetVideoFrameParam = nullptr;
    decltype(&CVRTC_InputAudioStreamData) InputAudio = nullptr;
    decltype(&CVRTC_InputVideoStreamData) InputVideo = nullptr;
    decltype(&CVRTC_SetDescriptionInfo) SetDescription = nullptr;
    decltype(&CVRTC_GetState) GetState = nullptr;
    decltype(&CVRTC_SelectObjExist) SelectObjExist = nullptr;
    decltype(&CVRTC_GetVersion) GetVersion = nullptr;

    // Number of the 13 names found.
    int Open(const std::string& path)
    {
        lib = dlopen(path.c_str(), RTLD_NOW);
        if (!lib)
            return -1;
        int found = 0;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            found += fn != nullptr;
        };
        get(Initialize, "CVRTC_Initialize");
        get(UnInitialize, "CVRTC_UnInitialize");
        get(CreateWithUserHandle, "CVRTC_CreateWithUserHandle");
        get(Create, "CVRTC_CreateWithGenerateHandle");
        get(Destroy, "CVRTC_Destroy");
        get(SetAudioFrameParam, "CVRTC_SetAudioFrameParam");
        get(SetVideoFrameParam, "CVRTC_SetVideoFrameParam");
        get(InputAudio, "CVRTC_InputAudioStreamData");
        get(InputVideo, "CVRTC_InputVideoStreamData");
        get(SetDescription, "CVRTC_SetDescriptionInfo");
        get(GetState, "CVRTC_GetState");
        get(SelectObjExist, "CVRTC_SelectObjExist");
        get(GetVersion, "CVRTC_GetVersion");
        return found;
    }
    void Close()
    {
        if (lib)
            dlclose(lib);
        lib = nullptr;
    }
};

struct Seen {
    std::string kind;  // info, event, audio, video, data
    uint32_t handle = 0;
    uint32_t a = 0, b = 0;  // info: type, param; event: event, param
    std::string text;
    bool nullText = false;
    std::vector<unsigned char> record;  // the record's bytes as handed over
    std::string bytes;                  // the bytes its data pointer names
    std::thread::id thread;
    int insideCall = -2;  // a library call made from inside the callback
};

class Recorder
{
public:
    Api* api = nullptr;
    int result = 0;  // what every callback answers

    int Add(Seen s)
    {
        s.thread = std::this_thread::get_id();
        // The library holds no lock while it calls: calling it back works.
        if (api && api->SelectObjExist)
            s.insideCall = api->SelectObjExist(s.handle);
        std::lock_guard<std::mutex> lock(mu_);
        seen_.push_back(std::move(s));
        cv_.notify_all();
        return result;
    }
    // Waits (at most 20 s: the library's threads on a loaded host) until n
    // callbacks match; their copies, in order.
    std::vector<Seen> WaitN(size_t n, const std::function<bool(const Seen&)>& match)
    {
        std::vector<Seen> out;
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::seconds(20), [&] {
            out.clear();
            for (const Seen& s : seen_)
                if (match(s))
                    out.push_back(s);
            return out.size() >= n;
        });
        return out;
    }
    std::vector<Seen> Snapshot()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return seen_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Seen> seen_;
};

Seen New(const char* kind, uint32_t handle)
{
    Seen s;
    s.kind = kind;
    s.handle = handle;
    return s;
}

Recorder* R(void* user)
{
    return static_cast<Recorder*>(user);
}

std::vector<unsigned char> RecordBytes(const void* rec, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(rec);
    return rec ? std::vector<unsigned char>(p, p + size) : std::vector<unsigned char>();
}
uint32_t At32(const std::vector<unsigned char>& r, size_t off)
{
    return uint32_t(r[off]) | uint32_t(r[off + 1]) << 8 | uint32_t(r[off + 2]) << 16 | uint32_t(r[off + 3]) << 24;
}
const unsigned char* AtPtr(const std::vector<unsigned char>& r, size_t off)
{
    const unsigned char* p = nullptr;
    std::memcpy(&p, r.data() + off, sizeof p);
    return p;
}

int OnAudio(uint32_t h, RtcAudioFrame* f, uint32_t, uint32_t, void* user)
{
    Seen s = New("audio", h);
    s.record = RecordBytes(f, 40);
    if (f && AtPtr(s.record, 32))
        s.bytes.assign(reinterpret_cast<const char*>(AtPtr(s.record, 32)), At32(s.record, 28));
    return R(user)->Add(std::move(s));
}
int OnVideo(uint32_t h, RtcVideoFrame* f, uint32_t, uint32_t, void* user)
{
    Seen s = New("video", h);
    s.record = RecordBytes(f, 44);
    if (f && AtPtr(s.record, 36))
        s.bytes.assign(reinterpret_cast<const char*>(AtPtr(s.record, 36)), At32(s.record, 32));
    return R(user)->Add(std::move(s));
}
int OnData(uint32_t h, RtcDataPacket* p, uint32_t, uint32_t, void* user)
{
    Seen s = New("data", h);
    s.record = RecordBytes(p, 144);
    if (p && AtPtr(s.record, 132))
        s.bytes.assign(reinterpret_cast<const char*>(AtPtr(s.record, 132)), At32(s.record, 140));
    return R(user)->Add(std::move(s));
}
int OnEvent(uint32_t h, int event, uint32_t param, uint64_t, const char* text, void* user)
{
    Seen s = New("event", h);
    s.a = static_cast<uint32_t>(event);
    s.b = param;
    s.text = text ? text : "";
    s.nullText = text == nullptr;
    return R(user)->Add(std::move(s));
}
int OnInfo(uint32_t h, uint32_t type, uint32_t param, const char* text, void* user)
{
    Seen s = New("info", h);
    s.a = type;
    s.b = param;
    s.text = text ? text : "";
    s.nullText = text == nullptr;
    return R(user)->Add(std::move(s));
}

Json::Value Parse(const std::string& text)
{
    Json::Value v;
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errors;
    EXPECT_TRUE(r->parse(text.data(), text.data() + text.size(), &v, &errors)) << text;
    return v;
}

std::string Compact(const Json::Value& v)
{
    return cv::toStyledString(v);
}

std::vector<std::string> SdpLines(const std::string& sdp)
{
    std::vector<std::string> lines;
    std::istringstream in(sdp);
    std::string l;
    while (std::getline(in, l)) {
        EXPECT_FALSE(l.empty() || l.back() != '\r') << "line not ended by CR LF: " << l;
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        lines.push_back(l);
    }
    return lines;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    return out;
}

// A browser's offer as quillgate hands it on (data profile already
// "DTLS/SCTP"): audio and video it sends, a data channel.
const char kBrowserOffer[] = "v=0\r\n"
                             "o=- 7106422785563437937 2 IN IP4 127.0.0.1\r\n"
                             "s=-\r\n"
                             "t=0 0\r\n"
                             "a=group:BUNDLE a0 v1 d2\r\n"
                             "m=audio 9 UDP/TLS/RTP/SAVPF 111 0\r\n"
                             "c=IN IP4 0.0.0.0\r\n"
                             "a=mid:a0\r\n"
                             "a=sendonly\r\n"
                             "a=rtpmap:111 opus/48000/2\r\n"
                             "a=fmtp:111 minptime=10;useinbandfec=1\r\n"
                             "a=rtpmap:0 PCMU/8000\r\n"
                             "a=ssrc:11 cname:x\r\n"
                             "m=video 9 UDP/TLS/RTP/SAVPF 102 103 96 97\r\n"
                             "c=IN IP4 0.0.0.0\r\n"
                             "a=mid:v1\r\n"
                             "a=sendrecv\r\n"
                             "a=rtpmap:102 H264/90000\r\n"
                             "a=rtcp-fb:102 nack\r\n"
                             "a=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f\r\n"
                             "a=rtpmap:103 rtx/90000\r\n"
                             "a=fmtp:103 apt=102\r\n"
                             "a=rtpmap:96 VP8/90000\r\n"
                             "a=rtpmap:97 rtx/90000\r\n"
                             "a=fmtp:97 apt=96\r\n"
                             "a=ssrc:21 cname:x\r\n"
                             "m=application 9 DTLS/SCTP webrtc-datachannel\r\n"
                             "c=IN IP4 0.0.0.0\r\n"
                             "a=mid:d2\r\n"
                             "a=sctp-port:5000\r\n";

std::string BrowserMessage(const std::string& type, const std::string& sdp, const std::string& peer = "p1")
{
    Json::Value v(Json::objectValue);
    v["peerconnectionid"] = peer;
    v["type"] = type;
    if (!sdp.empty())
        v["sdp"] = sdp;
    return Compact(v);
}

class StandinRtc : public ::testing::Test
{
protected:
    void SetUp() override
    {
        journal_ = tmp_.File("journal.txt");
        control_ = tmp_.File("control");
        setenv("QG_RTC_JOURNAL", journal_.c_str(), 1);
        setenv("QG_RTC_CONTROL", control_.c_str(), 1);
        ASSERT_EQ(api_.Open(std::string(QG_BIN_DIR) + "/libcorvanewebrtcsdk.so"), 13) << dlerror();
        rec_.api = &api_;
    }
    void TearDown() override
    {
        if (api_.UnInitialize)
            api_.UnInitialize();
        api_.Close();
        unsetenv("QG_RTC_JOURNAL");
        unsetenv("QG_RTC_CONTROL");
    }

    uint32_t Create(uint32_t direction, const char* json = "{\"peerconnectionid\":\"p1\"}", uint32_t browser = 4)
    {
        return api_.Create(direction, "stun:127.0.0.1:3478", browser, OnAudio, OnVideo, OnData, OnEvent, OnInfo, &rec_,
                           json);
    }

    // Writes one control line and waits (at most 5 s) until the library took it.
    bool Control(const std::string& line)
    {
        int fd = open(control_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        std::string text = line + "\n";
        bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        Json::Value quoted(line);
        const std::string taken = "control " + Compact(quoted) + " = ";
        return written && WaitJournal(taken) && qgtest::Find(ReadLines(journal_), taken + "ok") >= 0;
    }

    // Waits (at most 20 s) for a journal line starting with prefix.
    bool WaitJournal(const std::string& prefix)
    {
        for (int i = 0; i < 2000; ++i) {
            if (qgtest::Find(ReadLines(journal_), prefix) >= 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    qgtest::TempDir tmp_{"qg_rtc_test_"};
    std::string journal_, control_;
    Api api_;
    Recorder rec_;
};

bool IsInfo(const Seen& s)
{
    return s.kind == "info";
}

TEST(StandinRtcFiles, BothNamesExportThe13EntryPointsAndTheTestBuildLacksOnlyGetVersion)
{
    for (const char* name : {"/libcorvanewebrtcsdk.so", "/libcorvanewebrtcsdkpv.so"}) {
        Api api;
        EXPECT_EQ(api.Open(std::string(QG_BIN_DIR) + name), 13) << name;
        uint32_t major = 0, minor = 0;
        char text[512];
        std::memset(text, 'x', sizeof text);
        ASSERT_NE(api.GetVersion, nullptr);
        EXPECT_EQ(api.GetVersion(&major, &minor, text, 9), 0);
        EXPECT_NE(major + minor, 0u);
        EXPECT_EQ(std::strlen(text), 8u) << "the build text is cut to its buffer";
        api.Close();
    }
    Api twelve;
    EXPECT_EQ(twelve.Open(std::string(QG_RTC12_DIR) + "/libcorvanewebrtcsdk.so"), 12);
    EXPECT_EQ(twelve.GetVersion, nullptr);
    EXPECT_NE(twelve.Initialize, nullptr);
    twelve.Close();
}

TEST_F(StandinRtc, AReceivingPeerOffersThenSendsHostCandidatesAndALogLineFromTheWorkerThread)
{
    rec_.result = 7;
    ASSERT_EQ(api_.Initialize(), 0);
    EXPECT_EQ(api_.Initialize(), 0) << "a repeat is no failure";
    ASSERT_EQ(Create(CVRTC_DIRECTION_RECV), 1u);
    std::vector<Seen> seen = rec_.WaitN(4, [](const Seen&) { return true; });
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].kind + std::to_string(seen[0].a), "info1");
    EXPECT_EQ(seen[1].kind + std::to_string(seen[1].a), "info3");
    EXPECT_EQ(seen[2].kind + std::to_string(seen[2].a), "info3");
    EXPECT_EQ(seen[3].kind + std::to_string(seen[3].a), "event1");
    EXPECT_NE(seen[3].text.find('%'), std::string::npos) << seen[3].text;
    for (const Seen& s : seen) {
        EXPECT_EQ(s.handle, 1u);
        EXPECT_NE(s.thread, std::this_thread::get_id());
        EXPECT_EQ(s.thread, seen[0].thread);
        EXPECT_EQ(s.insideCall, 1) << "no lock is held during a callback";
    }

    Json::Value offer = Parse(seen[0].text);
    EXPECT_EQ(offer["peerconnectionid"].asString(), "p1");
    EXPECT_EQ(offer["type"].asString(), "offer");
    const std::string sdp = offer["sdp"].asString();
    EXPECT_EQ(sdp.find(','), std::string::npos) << "a comma would break quillgate's member replacement";
    std::vector<std::string> lines = SdpLines(sdp);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "v=0");
    ASSERT_EQ(Matching(lines, "m=").size(), 2u);
    EXPECT_EQ(Matching(lines, "m=")[0].substr(0, 31), "m=audio 9 UDP/TLS/RTP/SAVPF 111");
    EXPECT_EQ(Matching(lines, "m=")[1].substr(0, 30), "m=video 9 UDP/TLS/RTP/SAVPF 96");
    EXPECT_GE(Matching(lines, "a=rtpmap:").size(), 12u);
    EXPECT_GE(Matching(lines, "a=fmtp:").size(), 5u);
    EXPECT_EQ(Matching(lines, "a=sendrecv").size(), 2u);
    EXPECT_EQ(Matching(lines, "a=ssrc-group:FID ").size(), 1u);
    EXPECT_EQ(Matching(lines, "a=msid:").size(), 2u);
    EXPECT_EQ(Matching(lines, "a=ssrc:").size(), 6u);
    for (const char* codec : {" VP8/90000", " VP9/90000", " H264/90000", " red/90000", " ulpfec/90000", " rtx/90000"})
        EXPECT_NE(sdp.find(codec), std::string::npos) << codec;

    Json::Value cand = Parse(seen[1].text);
    EXPECT_EQ(cand["peerconnectionid"].asString(), "p1");
    EXPECT_EQ(cand["type"].asString(), "candidate");
    EXPECT_NE(cand["candidate"].asString().find(" typ host"), std::string::npos);

    // Each callback's journal line carries quillgate's result.
    ASSERT_TRUE(WaitJournal("cb event 1 1 8 0 "));
    std::vector<std::string> journal = ReadLines(journal_);
    int info = qgtest::Find(journal, "cb info 1 1 0 \"{");
    ASSERT_GE(info, 0);
    EXPECT_EQ(journal[info].substr(journal[info].size() - 4), " = 7");
    EXPECT_GE(qgtest::Find(journal, "CVRTC_CreateWithGenerateHandle 1 \"stun:127.0.0.1:3478\" 4 set set set set set "
                                    "set \"{\\\"peerconnectionid\\\":\\\"p1\\\"}\" = 1"),
              0);
    EXPECT_LT(qgtest::Find(journal, "CVRTC_CreateWithGenerateHandle"), info) << "a call's line precedes its outcome";

    EXPECT_EQ(Create(CVRTC_DIRECTION_SEND), 2u);
}

struct AnswerCase {
    const char* name;
    const char* shape;
};
QG_PRINT_CASE_BY_NAME(AnswerCase)

class StandinRtcAnswer : public StandinRtc, public ::testing::WithParamInterface<AnswerCase>
{};

TEST_P(StandinRtcAnswer, MirrorsTheOfferAndItsDataSectionOpensTheChannel)
{
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_TRUE(Control(std::string("shape ") + GetParam().shape));
    ASSERT_TRUE(Control("autodata on"));
    ASSERT_TRUE(Control("automedia off"));
    const uint32_t h = Create(CVRTC_DIRECTION_SEND);
    ASSERT_NE(h, CVRTC_INVALID_HANDLE);
    ASSERT_EQ(api_.SetDescription(h, BrowserMessage("offer", kBrowserOffer).c_str()), 0);

    std::vector<Seen> seen = rec_.WaitN(5, [](const Seen&) { return true; });
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].kind + std::to_string(seen[0].a), "info2");
    EXPECT_EQ(seen[1].kind + std::to_string(seen[1].a), "info3");
    EXPECT_EQ(seen[2].kind + std::to_string(seen[2].a), "info3");
    EXPECT_EQ(seen[3].kind + std::to_string(seen[3].a), "event1");
    EXPECT_EQ(seen[4].kind + std::to_string(seen[4].a) + "/" + std::to_string(seen[4].b), "event4/1");
    EXPECT_EQ(Parse(seen[1].text)["sdpMid"].asString(), "a0");

    Json::Value answer = Parse(seen[0].text);
    EXPECT_EQ(answer["type"].asString(), "answer");
    EXPECT_EQ(answer["peerconnectionid"].asString(), "p1");
    const std::string sdp = answer["sdp"].asString();
    EXPECT_EQ(sdp.find(','), std::string::npos);
    std::vector<std::string> lines = SdpLines(sdp);
    EXPECT_EQ(Matching(lines, "m="), (std::vector<std::string>{"m=audio 9 UDP/TLS/RTP/SAVPF 111 0",
                                                               "m=video 9 UDP/TLS/RTP/SAVPF 102 103 96 97",
                                                               "m=application 9 DTLS/SCTP webrtc-datachannel"}));
    EXPECT_EQ(Matching(lines, "a=mid:"), (std::vector<std::string>{"a=mid:a0", "a=mid:v1", "a=mid:d2"}));
    EXPECT_EQ(Matching(lines, "a=group:BUNDLE "), (std::vector<std::string>{"a=group:BUNDLE a0 v1 d2"}));
    EXPECT_EQ(Matching(lines, "a=recvonly").size(), 1u) << "audio the browser only sends";
    EXPECT_EQ(Matching(lines, "a=sendrecv").size() - (std::string(GetParam().shape) == "firefox"), 1u);
    EXPECT_EQ(Matching(lines, "a=setup:active").size(), 3u);
    EXPECT_EQ(Matching(lines, "a=fmtp:103 apt=102").size(), 1u);
    EXPECT_EQ(Matching(lines, "a=sctp-port:5000").size(), 1u);
    // The library sends video only: one ssrc group, with its rtx.
    EXPECT_EQ(Matching(lines, "a=ssrc-group:FID ").size(), 1u);
    EXPECT_EQ(Matching(lines, "a=msid:").size(), 1u);

    // A second description opens nothing again.
    ASSERT_EQ(api_.SetDescription(h, BrowserMessage("offer", kBrowserOffer).c_str()), 0);
    seen = rec_.WaitN(9, [](const Seen&) { return true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    seen = rec_.Snapshot();
    EXPECT_EQ(seen.size(), 9u);
    EXPECT_EQ(api_.GetState(h), 2);
}

INSTANTIATE_TEST_SUITE_P(Shapes, StandinRtcAnswer,
                         ::testing::Values(AnswerCase{"chrome", "chrome"}, AnswerCase{"firefox", "firefox"}),
                         qgtest::ByName());

TEST_F(StandinRtc, TheFirefoxShapeOffersItsOwnPayloadsInItsAttributeOrder)
{
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_TRUE(Control("shape firefox"));
    ASSERT_TRUE(Control("sections audio video data"));
    ASSERT_EQ(Create(CVRTC_DIRECTION_RECV), 1u);
    std::vector<Seen> seen = rec_.WaitN(1, IsInfo);
    ASSERT_GE(seen.size(), 1u);
    std::vector<std::string> lines = SdpLines(Parse(seen[0].text)["sdp"].asString());
    EXPECT_EQ(Matching(lines, "o=mozilla").size(), 1u);
    EXPECT_EQ(Matching(lines, "m="),
              (std::vector<std::string>{"m=audio 9 UDP/TLS/RTP/SAVPF 109 9 0 8 101",
                                        "m=video 9 UDP/TLS/RTP/SAVPF 120 124 121 125 126 127 97 98 123 122 119",
                                        "m=application 9 UDP/DTLS/SCTP webrtc-datachannel"}));
    // Firefox writes a section's fmtp lines before its rtpmap lines.
    auto at = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) - lines.begin(); };
    EXPECT_LT(at("a=fmtp:124 apt=120"), at("a=rtpmap:120 VP8/90000"));
    EXPECT_EQ(Matching(lines, "a=ssrc-group:FID ").size(), 1u);
    EXPECT_EQ(Matching(lines, "a=msid:{").size(), 2u);
}

struct BadCall {
    const char* name;
    std::function<int(Api&, uint32_t peer)> call;
    int expected;
};
QG_PRINT_CASE_BY_NAME(BadCall)

class StandinRtcBadInput : public StandinRtc, public ::testing::WithParamInterface<BadCall>
{};

TEST_P(StandinRtcBadInput, GetsAClearCodeAndChangesNothing)
{
    ASSERT_EQ(api_.Initialize(), 0);
    const uint32_t h = Create(CVRTC_DIRECTION_SEND);
    ASSERT_EQ(h, 1u);
    EXPECT_EQ(GetParam().call(api_, h), GetParam().expected);
    EXPECT_EQ(api_.GetState(h), 0) << "the peer is as it was";
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(rec_.Snapshot().empty()) << "no callback follows a refused call";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, StandinRtcBadInput,
    ::testing::Values(
        BadCall{"description for an unknown handle",
                [](Api& a, uint32_t) { return a.SetDescription(9, BrowserMessage("offer", kBrowserOffer).c_str()); },
                RTC_ERR_NOHANDLE},
        BadCall{"null description", [](Api& a, uint32_t h) { return a.SetDescription(h, nullptr); }, RTC_ERR_BADTEXT},
        BadCall{"description not JSON", [](Api& a, uint32_t h) { return a.SetDescription(h, "v=0\r\n"); },
                RTC_ERR_BADTEXT},
        BadCall{"description an array", [](Api& a, uint32_t h) { return a.SetDescription(h, "[1]"); }, RTC_ERR_BADTEXT},
        BadCall{"type not a string",
                [](Api& a, uint32_t h) { return a.SetDescription(h, "{\"type\":1,\"sdp\":\"v=0\"}"); },
                RTC_ERR_BADTEXT},
        BadCall{"offer without sdp",
                [](Api& a, uint32_t h) { return a.SetDescription(h, BrowserMessage("offer", "").c_str()); },
                RTC_ERR_BADSDP},
        BadCall{
            "answer without m line",
            [](Api& a, uint32_t h) { return a.SetDescription(h, BrowserMessage("answer", "v=0\r\ns=-\r\n").c_str()); },
            RTC_ERR_BADSDP},
        BadCall{"candidate",
                [](Api& a, uint32_t h) { return a.SetDescription(h, BrowserMessage("candidate", "").c_str()); },
                RTC_OK},
        BadCall{"destroy of an unknown handle", [](Api& a, uint32_t) { return a.Destroy(9); }, RTC_ERR_NOHANDLE},
        BadCall{"state of an unknown handle", [](Api& a, uint32_t) { return a.GetState(9); }, RTC_ERR_FAILED},
        BadCall{"exists for an unknown handle", [](Api& a, uint32_t) { return a.SelectObjExist(9); }, 0},
        BadCall{"audio parameters of an unknown handle",
                [](Api& a, uint32_t) { return a.SetAudioFrameParam(9, nullptr); }, RTC_ERR_NOHANDLE},
        BadCall{"video parameters of an unknown handle",
                [](Api& a, uint32_t) { return a.SetVideoFrameParam(9, nullptr); }, RTC_ERR_NOHANDLE},
        BadCall{"null audio record", [](Api& a, uint32_t h) { return a.InputAudio(h, nullptr); }, RTC_ERR_FAILED},
        BadCall{"null video record", [](Api& a, uint32_t h) { return a.InputVideo(h, nullptr); }, RTC_ERR_FAILED},
        BadCall{"version without outputs", [](Api& a, uint32_t) { return a.GetVersion(nullptr, nullptr, nullptr, 0); },
                RTC_ERR_NULLPARAM},
        BadCall{"creation with a user handle",
                [](Api& a, uint32_t) {
                    return a.CreateWithUserHandle(1, 2, nullptr, 3, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, nullptr);
                },
                RTC_ERR_FAILED}),
    qgtest::ByName());

TEST_F(StandinRtc, PeersEndWithUnInitializeAndCreationWaitsForInitializeUnlessLenient)
{
    EXPECT_EQ(Create(CVRTC_DIRECTION_SEND), CVRTC_INVALID_HANDLE) << "before Initialize";
    EXPECT_EQ(api_.SetDescription(1, BrowserMessage("offer", kBrowserOffer).c_str()), RTC_ERR_NOTINIT);
    ASSERT_EQ(api_.Initialize(), 0);
    const uint32_t a = Create(CVRTC_DIRECTION_SEND), b = Create(CVRTC_DIRECTION_SEND);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(api_.Destroy(a), 0);
    EXPECT_EQ(api_.Destroy(a), RTC_ERR_NOHANDLE);
    EXPECT_EQ(api_.UnInitialize(), 0);
    EXPECT_EQ(api_.GetState(b), RTC_ERR_FAILED) << "UnInitialize drops every peer";
    EXPECT_EQ(api_.UnInitialize(), 0);
    EXPECT_EQ(Create(CVRTC_DIRECTION_SEND), CVRTC_INVALID_HANDLE);

    ASSERT_TRUE(Control("lenient on"));
    const uint32_t c = Create(CVRTC_DIRECTION_RECV);
    EXPECT_EQ(c, 3u) << "handles are never reused";
    EXPECT_GE(rec_.WaitN(1, IsInfo).size(), 1u) << "a lenient creation starts the worker";

    // From inside a callback the worker cannot be joined.
    ASSERT_TRUE(Control("lenient off"));
    std::atomic<int> inside{-2};
    static std::atomic<int>* s_inside;
    static Api* s_api;
    s_inside = &inside;
    s_api = &api_;
    auto onInfo = [](uint32_t, uint32_t, uint32_t, const char*, void*) {
        *s_inside = s_api->UnInitialize();
        return 0;
    };
    ASSERT_EQ(api_.Create(CVRTC_DIRECTION_RECV, "", 4, nullptr, nullptr, nullptr, nullptr, onInfo, nullptr, "{}"), 4u);
    for (int i = 0; i < 2000 && inside == -2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(inside.load(), RTC_ERR_FAILED);
    EXPECT_EQ(api_.GetState(4), 1);
}

TEST_F(StandinRtc, ControlRefusesDescriptionsFailsCreationsAndEmitsAnyTextOrEvent)
{
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_TRUE(Control("fail create"));
    EXPECT_EQ(Create(CVRTC_DIRECTION_SEND), CVRTC_INVALID_HANDLE);
    const uint32_t h = Create(CVRTC_DIRECTION_SEND);
    ASSERT_EQ(h, 1u);

    ASSERT_TRUE(Control("refuse 9"));
    EXPECT_EQ(api_.SetDescription(h, BrowserMessage("offer", kBrowserOffer).c_str()), 9);
    EXPECT_EQ(api_.GetState(h), 0);
    EXPECT_EQ(api_.SetDescription(h, BrowserMessage("answer", kBrowserOffer).c_str()), 0) << "only the next one";

    // Texts and events for the peer, and for a handle no peer has (sent
    // through the newest peer's callbacks).
    ASSERT_TRUE(Control("info 1 2 7b7d"));
    ASSERT_TRUE(Control("info 77 1 null"));
    ASSERT_TRUE(Control("event 1 5 0 0 -"));
    ASSERT_TRUE(Control("event 77 4 3 0 null"));
    std::vector<Seen> seen =
        rec_.WaitN(4, [](const Seen& s) { return s.kind == "info" || s.a == 5 || s.handle == 77; });
    ASSERT_EQ(seen.size(), 4u);
    std::vector<std::string> got;
    for (const Seen& s : seen)
        got.push_back(s.kind + " " + std::to_string(s.handle) + " " + std::to_string(s.a) + " " + std::to_string(s.b) +
                      " " + (s.nullText ? "null" : s.text));
    EXPECT_EQ(got,
              (std::vector<std::string>{"info 1 2 0 {}", "info 77 1 0 null", "event 1 5 0 ", "event 77 4 3 null"}));

    EXPECT_FALSE(Control("event 1 five"));
    EXPECT_GE(qgtest::Find(ReadLines(journal_), "control \"event 1 five\" = bad"), 0);
}

// ---- media --------------------------------------------------------------

std::string Fixture(const char* name)
{
    return std::string(QG_SOURCE_DIR) + "/tests/data/media/" + name;
}

// "<size> CRC32:<hex>" per packet, as ffprobe lists the file; empty when
// ffprobe cannot run.
std::vector<std::string> FfprobePackets(const std::string& path)
{
    std::vector<std::string> out;
    const std::string cmd = "ffprobe -v error -show_entries packet=size,data_hash -show_data_hash CRC32 "
                            "-of default=nw=1 '" +
                            path + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char line[256];
    std::string size;
    while (fgets(line, sizeof line, p)) {
        std::string l(line);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r'))
            l.pop_back();
        if (l.compare(0, 5, "size=") == 0)
            size = l.substr(5);
        else if (l.compare(0, 10, "data_hash=") == 0)
            out.push_back(size + " " + l.substr(10));
    }
    pclose(p);
    return out;
}

// Field of a journal line: "key=value" -> value.
std::string FieldOf(const std::string& line, const std::string& key)
{
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
}

std::vector<std::string> JournalLines(const std::string& path, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& l : ReadLines(path))
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    return out;
}

bool IsMedium(const Seen& s, const char* kind)
{
    return s.kind == kind;
}

struct ClipCase {
    const char* name;
    const char* start;  // control line after "start 1 "
    const char* file;
    const char* kind;
};
QG_PRINT_CASE_BY_NAME(ClipCase)

class StandinRtcClip : public StandinRtc, public ::testing::WithParamInterface<ClipCase>
{};

TEST_P(StandinRtcClip, DeliversEveryPacketFfprobeListsInOrderInRecordsReadByOffset)
{
    const std::vector<std::string> packets = FfprobePackets(Fixture(GetParam().file));
    if (packets.empty())
        GTEST_SKIP() << "ffprobe is not there";
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_TRUE(Control("automedia off"));
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_TRUE(Control(std::string("start 1 ") + GetParam().start + " pace=fast"));
    const char* kind = GetParam().kind;
    std::vector<Seen> frames = rec_.WaitN(packets.size(), [&](const Seen& s) { return IsMedium(s, kind); });
    ASSERT_EQ(frames.size(), packets.size());
    ASSERT_TRUE(WaitJournal(std::string("totals 1 ") + kind + " out="));
    const std::vector<std::string> lines = JournalLines(journal_, std::string("cb ") + kind + " 1 ");
    ASSERT_EQ(lines.size(), packets.size());

    const bool video = std::string(kind) == "video";
    uint32_t lastTs = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        const std::vector<unsigned char>& r = frames[i].record;
        ASSERT_EQ(r.size(), video ? 44u : 40u);
        EXPECT_EQ(std::to_string(frames[i].bytes.size()) + " " + FieldOf(lines[i], "crc"), packets[i]) << i;
        EXPECT_EQ(At32(r, video ? 32 : 28), frames[i].bytes.size());
        EXPECT_EQ(At32(r, video ? 24 : 20), 0u) << "the zero word";
        const uint32_t ts = At32(r, video ? 20 : 16);
        EXPECT_EQ(FieldOf(lines[i], "ts"), std::to_string(ts));
        EXPECT_EQ(FieldOf(lines[i], "seq"), std::to_string(i));
        if (i > 0) {
            EXPECT_GT(ts, lastTs);
        }
        lastTs = ts;
        // The library's own bytes are never zero.
        for (size_t off : video ? std::vector<size_t>{4, 8, 12, 28} : std::vector<size_t>{0, 4, 8, 12, 24})
            for (size_t b = 0; b < 4; ++b)
                EXPECT_NE(r[off + b], 0) << "byte " << off + b;
        EXPECT_NE(frames[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(At32(frames[1].record, video ? 20 : 16), video ? 66u : 20u);
    if (video) {
        EXPECT_EQ(At32(frames[0].record, 0), 2u) << "stream index";
        EXPECT_EQ(At32(frames[0].record, 16), 90u) << "rotation";
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StandinRtcClip,
                         ::testing::Values(ClipCase{"h264 camera", "video codec=h264 rotation=90 stream=2",
                                                    "camera_320x240_15fps.h264", "video"},
                                           ClipCase{"vp8 camera", "video codec=vp8 rotation=90 stream=2",
                                                    "camera_320x240_15fps.ivf", "video"},
                                           ClipCase{"opus microphone", "audio", "mic_16k_mono.opus.ogg", "audio"}),
                         qgtest::ByName());

TEST_F(StandinRtc, TheBrowsersCameraAndMicrophoneStartOnceItsDescriptionIsSet)
{
    ASSERT_EQ(api_.Initialize(), 0);
    const uint32_t recv = Create(CVRTC_DIRECTION_RECV);
    const uint32_t send = Create(CVRTC_DIRECTION_SEND);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(JournalLines(journal_, "cb video").empty()) << "nothing before the description";
    ASSERT_EQ(api_.SetDescription(recv, BrowserMessage("answer", kBrowserOffer).c_str()), 0);
    ASSERT_EQ(api_.SetDescription(send, BrowserMessage("offer", kBrowserOffer).c_str()), 0);
    ASSERT_EQ(rec_.WaitN(1, [](const Seen& s) { return IsMedium(s, "video"); }).size(), 1u);
    EXPECT_TRUE(Control("pace 2 video fast"));
    // The microphone (started with the camera) slowed down, so that it still
    // plays when it is stopped below: at its own pace its 2 s clip could end
    // first on a loaded host.
    EXPECT_TRUE(Control("pace 2 audio 100"));

    std::vector<Seen> video = rec_.WaitN(3, [](const Seen& s) { return IsMedium(s, "video"); });
    std::vector<Seen> audio = rec_.WaitN(3, [](const Seen& s) { return IsMedium(s, "audio"); });
    ASSERT_GE(video.size(), 3u);
    ASSERT_GE(audio.size(), 3u);
    for (const Seen& s : video)
        EXPECT_EQ(s.handle, send) << "only the peer the browser sends through";
    // The offer's first video codec is H.264: access units led by a delimiter.
    EXPECT_EQ(qgtest::Hex(video[0].bytes.substr(0, 5)), "0000000109");
    EXPECT_NE(video[0].thread, rec_.WaitN(1, IsInfo)[0].thread) << "media come from a thread of their own";

    EXPECT_TRUE(WaitJournal("totals 2 video out=30")) << "the clip once, then the stream ends";
    EXPECT_FALSE(Control("stop 2 video")) << "nothing left to stop";
    EXPECT_TRUE(Control("stop 2 audio"));
    EXPECT_TRUE(WaitJournal("totals 2 audio out="));
}

struct BrowserCase {
    const char* name;
    const char* fixture;
    size_t firstVideoFrame;  // bytes of the camera fixture's first packet
};
QG_PRINT_CASE_BY_NAME(BrowserCase)

class StandinRtcBrowser : public StandinRtc, public ::testing::WithParamInterface<BrowserCase>
{};

TEST_P(StandinRtcBrowser, AnswersARealOfferSectionBySectionAndSendsTheCameraOfItsFirstCodec)
{
    std::string text = qgtest::ReadFile(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + GetParam().fixture);
    ASSERT_FALSE(text.empty());
    // As quillgate hands it on.
    for (size_t at; (at = text.find("UDP/DTLS/SCTP")) != std::string::npos;)
        text.replace(at, 13, "DTLS/SCTP");
    const Json::Value offer = Parse(text);
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_EQ(api_.SetDescription(1, text.c_str()), 0);

    std::vector<Seen> seen = rec_.WaitN(1, IsInfo);
    ASSERT_GE(seen.size(), 1u);
    const std::vector<std::string> offered = SdpLines(offer["sdp"].asString());
    const std::vector<std::string> answered = SdpLines(Parse(seen[0].text)["sdp"].asString());
    EXPECT_EQ(Matching(answered, "m="), Matching(offered, "m="));
    EXPECT_EQ(Matching(answered, "a=mid:"), Matching(offered, "a=mid:"));
    // Every payload's lines, in the answer's shape of order.
    for (const char* attr : {"a=rtpmap:", "a=fmtp:", "a=rtcp-fb:"}) {
        std::vector<std::string> a = Matching(answered, attr), o = Matching(offered, attr);
        std::sort(a.begin(), a.end());
        std::sort(o.begin(), o.end());
        EXPECT_EQ(a, o) << attr;
    }

    std::vector<Seen> video = rec_.WaitN(1, [](const Seen& s) { return IsMedium(s, "video"); });
    ASSERT_GE(video.size(), 1u);
    EXPECT_EQ(video[0].bytes.size(), GetParam().firstVideoFrame);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StandinRtcBrowser,
                         ::testing::Values(BrowserCase{"chrome", "chrome_offer.json", 8072},
                                           BrowserCase{"firefox", "firefox_offer.json", 8072},
                                           BrowserCase{"safari", "safari_offer.json", 5693}),
                         qgtest::ByName());

TEST_F(StandinRtc, FramesFromQuillgateAreReadByOffsetJournaledAndWrittenOut)
{
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_EQ(Create(CVRTC_DIRECTION_RECV), 1u);
    const std::string annexb = tmp_.File("in.h264"), ivf = tmp_.File("in.ivf");
    ASSERT_TRUE(Control("save 1 video annexb " + annexb));
    ASSERT_TRUE(Control("save 1 audio ivf " + ivf + " fourcc=OPUS"));

    // Records filled field by field at their offsets, junk everywhere else.
    unsigned char video[44], audio[40];
    std::memset(video, 0xEE, sizeof video);
    std::memset(audio, 0xEE, sizeof audio);
    const char hello[] = "hello";
    auto put = [](unsigned char* r, size_t off, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            r[off + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    const void* data = hello;
    put(video, 0, 2);
    put(video, 16, 90);
    put(video, 20, 1234);
    put(video, 24, 0);
    put(video, 32, 5);
    std::memcpy(video + 36, &data, 8);
    put(audio, 16, 20);
    put(audio, 20, 0);
    put(audio, 28, 5);
    std::memcpy(audio + 32, &data, 8);

    EXPECT_EQ(api_.InputVideo(1, reinterpret_cast<RtcVideoFrame*>(video)), 0);
    EXPECT_EQ(api_.InputVideo(1, reinterpret_cast<RtcVideoFrame*>(video)), 0);
    EXPECT_EQ(api_.InputAudio(1, reinterpret_cast<RtcAudioFrame*>(audio)), 0);
    EXPECT_EQ(api_.InputVideo(9, reinterpret_cast<RtcVideoFrame*>(video)), -1) << "unknown handle";
    std::memset(video + 36, 0, 8);
    EXPECT_EQ(api_.InputVideo(1, reinterpret_cast<RtcVideoFrame*>(video)), -1) << "null data of 5 bytes";
    put(video, 32, 0);
    EXPECT_EQ(api_.InputVideo(1, reinterpret_cast<RtcVideoFrame*>(video)), 0) << "an empty frame";
    ASSERT_TRUE(Control("save 1 audio off"));

    const std::string crc = "crc=CRC32:3610a686";  // of "hello"
    EXPECT_EQ(JournalLines(journal_, "CVRTC_Input"),
              (std::vector<std::string>{
                  "CVRTC_InputVideoStreamData 1 seq=0 len=5 ts=1234 rot=90 stream=2 zero=0 " + crc + " = 0",
                  "CVRTC_InputVideoStreamData 1 seq=1 len=5 ts=1234 rot=90 stream=2 zero=0 " + crc + " = 0",
                  "CVRTC_InputAudioStreamData 1 seq=0 len=5 ts=20 zero=0 " + crc + " = 0",
                  "CVRTC_InputVideoStreamData 9 seq=- len=5 ts=1234 rot=90 stream=2 zero=0 " + crc + " = -1",
                  "CVRTC_InputVideoStreamData 1 seq=- len=5 ts=1234 rot=90 stream=2 zero=0 data=null = -1",
                  "CVRTC_InputVideoStreamData 1 seq=2 len=0 ts=1234 rot=90 stream=2 zero=0 data=null = 0"}));
    EXPECT_EQ(qgtest::ReadFile(annexb), "hellohello");
    const std::string saved = qgtest::ReadFile(ivf);
    ASSERT_EQ(saved.size(), 32u + 12u + 5u);
    EXPECT_EQ(saved.substr(0, 4), "DKIF");
    EXPECT_EQ(saved.substr(8, 4), "OPUS");
    EXPECT_EQ(qgtest::Hex(saved.substr(24, 4)), "01000000") << "frame count";
    EXPECT_EQ(qgtest::Hex(saved.substr(32, 12)), "050000001400000000000000") << "size 5, pts 20";
    EXPECT_EQ(saved.substr(44), "hello");
    EXPECT_EQ(api_.UnInitialize(), 0);
    EXPECT_TRUE(WaitJournal("totals 1 audio in=1 video in=3"));
}

TEST_F(StandinRtc, ControlSendsSingleFramesWithAnyFieldsForAnyHandle)
{
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_TRUE(Control("video 1 stream=3 rotation=270 ts=99 zero=5 data=0102"));
    ASSERT_TRUE(Control("video 1 record=null"));
    ASSERT_TRUE(Control("audio 77 ts=7 data=null"));
    ASSERT_TRUE(Control("audio 1 length=4 data=aa"));
    EXPECT_FALSE(Control("video 1 rotation=x"));
    std::vector<Seen> got = rec_.WaitN(4, [](const Seen& s) { return s.kind == "video" || s.kind == "audio"; });
    ASSERT_EQ(got.size(), 4u);

    const std::vector<unsigned char>& v = got[0].record;
    EXPECT_EQ(At32(v, 0), 3u);
    EXPECT_EQ(At32(v, 16), 270u);
    EXPECT_EQ(At32(v, 20), 99u);
    EXPECT_EQ(At32(v, 24), 5u);
    EXPECT_EQ(At32(v, 32), 2u);
    EXPECT_EQ(qgtest::Hex(got[0].bytes), "0102");
    EXPECT_TRUE(got[1].record.empty()) << "a null record";
    EXPECT_EQ(got[2].handle, 77u) << "through the newest peer's callbacks";
    EXPECT_EQ(AtPtr(got[2].record, 32), nullptr);
    EXPECT_EQ(At32(got[2].record, 16), 7u);
    EXPECT_EQ(qgtest::Hex(got[3].bytes), "aa000000") << "a length beyond the bytes reads zeros";
    ASSERT_TRUE(WaitJournal("cb audio 1 seq=0 len=4"));
    EXPECT_EQ(JournalLines(journal_, "cb video 1 "),
              (std::vector<std::string>{"cb video 1 seq=0 len=2 ts=99 rot=270 stream=3 zero=5 crc=CRC32:b6cc4292 = 0",
                                        "cb video 1 null = 0"}));
}

TEST_F(StandinRtc, WithTheJournalOffFramesAreOnlyCounted)
{
    unsetenv("QG_RTC_JOURNAL");
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_EQ(api_.SetDescription(1, BrowserMessage("offer", kBrowserOffer).c_str()), 0);
    unsigned char video[44] = {0};
    EXPECT_EQ(api_.InputVideo(1, reinterpret_cast<RtcVideoFrame*>(video)), 0);
    EXPECT_GE(rec_.WaitN(2, [](const Seen& s) { return IsMedium(s, "audio"); }).size(), 2u);
    setenv("QG_RTC_JOURNAL", journal_.c_str(), 1);
    EXPECT_EQ(api_.Destroy(1), 0);
    std::vector<std::string> lines = ReadLines(journal_);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "totals 1 audio in=0 video in=1") << "counted, not journaled";
}

// ---- data channel -------------------------------------------------------

// A data-channel message's header, read at its offsets.
struct Head {
    std::string magic;
    uint32_t block, slice, marker, sliceLen, ts, pkt;
};
Head HeadOf(const std::string& m)
{
    std::vector<unsigned char> b(m.begin(), m.end());
    Head h;
    h.magic = qgtest::Hex(m.substr(0, 3));
    h.block = At32(b, 4);
    h.marker = b[8];
    h.slice = b[9] | b[10] << 8;
    h.sliceLen = At32(b, 11);
    h.ts = At32(b, 15);
    h.pkt = At32(b, 19);
    return h;
}

bool IsData(const Seen& s)
{
    return s.kind == "data";
}

TEST_F(StandinRtc, TheSenderOpensTheChannelThenCutsTheFileIntoNumberedBlocksOfSlices)
{
    const std::string path = Fixture("stream_h264_aac.flv");
    const std::string file = qgtest::ReadFile(path);
    ASSERT_EQ(file.size(), 78234u);
    const size_t count = (file.size() + 1399) / 1400;
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_TRUE(Control("datasend 1 " + path + " pace=fast first=2 block=4 channel=3"));
    std::vector<Seen> msgs = rec_.WaitN(count, IsData);
    ASSERT_EQ(msgs.size(), count);
    ASSERT_TRUE(WaitJournal("totals 1 data out=" + std::to_string(count)));

    std::vector<Seen> all = rec_.Snapshot();
    ASSERT_EQ(all[0].kind + std::to_string(all[0].a) + "/" + std::to_string(all[0].b), "event4/3")
        << "event 4 first, then the messages";
    std::string joined;
    uint32_t block = 0, slice = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::vector<unsigned char>& r = msgs[i].record;
        ASSERT_EQ(r.size(), 144u);
        EXPECT_EQ(At32(r, 0), 3u) << "channel id";
        EXPECT_EQ(At32(r, 140), msgs[i].bytes.size());
        for (size_t b = 4; b < 132; ++b)
            ASSERT_NE(r[b], 0) << "byte " << b;
        const Head h = HeadOf(msgs[i].bytes);
        const uint32_t perBlock = block == 0 ? 2 : 4;
        const bool last = i + 1 == count;
        EXPECT_EQ(h.magic, "070101");
        EXPECT_EQ(h.pkt, i);
        EXPECT_EQ(h.block, block) << i;
        EXPECT_EQ(h.slice, slice) << i;
        EXPECT_EQ(h.marker, (slice + 1 == perBlock || last) ? 1u : 0u) << i;
        EXPECT_EQ(h.sliceLen, last ? file.size() % 1400 : 1400u);
        EXPECT_EQ(msgs[i].bytes.size(), 28u + h.sliceLen);
        if (slice > 0) {
            EXPECT_EQ(h.ts, HeadOf(msgs[i - 1].bytes).ts) << "one time per block";
        }
        joined += msgs[i].bytes.substr(28);
        if (h.marker) {
            ++block;
            slice = 0;
        } else {
            ++slice;
        }
    }
    EXPECT_TRUE(joined == file) << "the slices make up the file";
    EXPECT_GT(HeadOf(msgs[count - 1].bytes).ts, 1000u) << "timed at the file's byte rate over 2 s";
    std::vector<std::string> lines = JournalLines(journal_, "cb data 1 ");
    ASSERT_EQ(lines.size(), count);
    const std::string third = "cb data 1 chan=3 len=1428 magic=070101 pkt=2 block=1 slice=0 marker=0 slicelen=1400 ts=";
    EXPECT_EQ(lines[2].substr(0, third.size()), third);
    EXPECT_NE(lines[2].find(" crc=CRC32:"), std::string::npos);
}

struct FaultCase {
    const char* name;
    const char* options;
    // "<pkt>:<length>[:<magic>:<sliceLen>]" per message, as received
    std::vector<std::string> expected;
};
QG_PRINT_CASE_BY_NAME(FaultCase)

class StandinRtcFault : public StandinRtc, public ::testing::WithParamInterface<FaultCase>
{};

TEST_P(StandinRtcFault, ScriptsTheMessagesQuillgateMustSurvive)
{
    // Five slices of 1000 bytes, one block.
    std::string file(5000, '\0');
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>(i * 7);
    const std::string path = tmp_.File("stream.bin");
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(file.data(), 1, file.size(), f);
    fclose(f);

    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_TRUE(Control("datasend 1 " + path + " pace=fast slice=1000 block=0 event4=off " + GetParam().options));
    const size_t n = GetParam().expected.size();
    ASSERT_TRUE(WaitJournal("totals 1 data out=" + std::to_string(n)));
    std::vector<std::string> got;
    for (const Seen& s : rec_.Snapshot()) {
        ASSERT_EQ(s.kind, "data");
        std::string form =
            std::to_string(s.bytes.size() >= 28 ? HeadOf(s.bytes).pkt : 9999) + ":" + std::to_string(s.bytes.size());
        const Head h = HeadOf(s.bytes + std::string(28, '\0'));
        if (h.magic != "070101" || (s.bytes.size() >= 28 && h.sliceLen != 1000))
            form += ":" + h.magic + ":" + std::to_string(h.sliceLen);
        got.push_back(form);
    }
    EXPECT_EQ(got, GetParam().expected);
    const std::vector<std::string> lines = JournalLines(journal_, "cb data 1 ");
    ASSERT_EQ(lines.size(), n);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StandinRtcFault,
    ::testing::Values(
        FaultCase{"none", "", {"0:1028", "1:1028", "2:1028", "3:1028", "4:1028"}},
        FaultCase{"reorder", "reorder=1", {"0:1028", "2:1028", "1:1028", "3:1028", "4:1028"}},
        FaultCase{"duplicate", "dup=3", {"0:1028", "1:1028", "2:1028", "3:1028", "3:1028", "4:1028"}},
        FaultCase{"drop", "drop=0", {"1:1028", "2:1028", "3:1028", "4:1028"}},
        FaultCase{"truncate to half a slice", "truncate=1", {"0:1028", "1:528", "2:1028", "3:1028", "4:1028"}},
        FaultCase{"truncate below a header", "truncate=4:27", {"0:1028", "1:1028", "2:1028", "3:1028", "9999:27"}},
        FaultCase{"over long", "overlong=2", {"0:1028", "1:1028", "2:1600", "3:1028", "4:1028"}},
        FaultCase{"bad magic", "badmagic=2", {"0:1028", "1:1028", "2:1028:070102:1000", "3:1028", "4:1028"}},
        FaultCase{"slice over 1400", "bigslice=1", {"0:1028", "1:1028:070101:1401", "2:1028", "3:1028", "4:1028"}},
        FaultCase{"number jump", "jump=3:100", {"0:1028", "1:1028", "2:1028", "103:1028", "104:1028"}},
        FaultCase{"pause and several in order",
                  "pause=2:200 drop=1 dup=3",
                  {"0:1028", "2:1028", "3:1028", "3:1028", "4:1028"}}),
    qgtest::ByName());

TEST_F(StandinRtc, ADataChannelDescriptionSendsTheNamedFileAndControlInjectsRawMessages)
{
    const std::string path = Fixture("stream_vp8_opus.webm");
    ASSERT_EQ(api_.Initialize(), 0);
    ASSERT_TRUE(Control("automedia off"));
    ASSERT_TRUE(Control("datafile " + path + " pace=fast"));
    ASSERT_EQ(Create(CVRTC_DIRECTION_SEND), 1u);
    ASSERT_EQ(api_.SetDescription(1, BrowserMessage("offer", kBrowserOffer).c_str()), 0);
    const size_t count = (qgtest::ReadFile(path).size() + 1399) / 1400;
    EXPECT_EQ(rec_.WaitN(count, IsData).size(), count);
    std::vector<Seen> events = rec_.WaitN(1, [](const Seen& s) { return s.kind == "event" && s.a == 4; });
    EXPECT_EQ(events.size(), 1u) << "one event 4, from the description";

    EXPECT_FALSE(Control("datasend 1 " + path + " blok=3")) << "an unknown option";
    EXPECT_FALSE(Control("datasend 1 " + path + " drop=99999")) << "no such packet";
    ASSERT_TRUE(Control("message 77 070101 channel=5"));
    ASSERT_TRUE(Control("message 1 null length=0"));
    ASSERT_TRUE(Control("message 1 00 record=null"));
    std::vector<Seen> raw = rec_.WaitN(count + 3, IsData);
    ASSERT_EQ(raw.size(), count + 3);
    EXPECT_EQ(raw[count].handle, 77u);
    EXPECT_EQ(At32(raw[count].record, 0), 5u);
    EXPECT_EQ(qgtest::Hex(raw[count].bytes), "070101");
    EXPECT_EQ(AtPtr(raw[count + 1].record, 132), nullptr);
    EXPECT_TRUE(raw[count + 2].record.empty());
    ASSERT_TRUE(WaitJournal("cb data 1 null = 0"));
    EXPECT_GE(qgtest::Find(ReadLines(journal_), "cb data 77 chan=5 len=3 crc=CRC32:"), 0);
    EXPECT_GE(qgtest::Find(ReadLines(journal_), "cb data 1 chan=1 len=0 data=null = 0"), 0);
}

}  // namespace

// The stand-in WebRTC media library: the 13 CVRTC_ entry points.
// Conventions (journal, control lines, codes) are documented in README.md.
#pragma GCC visibility push(default)
#include "quillgate/webrtc/cvrtc_api.h"
#pragma GCC visibility pop

#include <json/json.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "records.h"
#include "rtc_lib.h"
#include "rtc_text.h"
#include "standin_rtc_codes.h"

using namespace rtcstub;

namespace {

// One CVRTC_ call: collects its journal line, runs the body under the
// library mutex, then posts the callbacks the body queued.
class Call
{
public:
    explicit Call(const char* name) : line_(name) {}
    Call& Num(uint32_t v) { return Add(I32(v)); }
    Call& Text(const char* t) { return Add(QuoteText(t)); }
    Call& Ptr(const void* p) { return Add(PtrForm(p)); }
    Call& Add(const std::string& s)
    {
        line_ += ' ';
        line_ += s;
        return *this;
    }

    template <class Body>
    int Run(Body body)
    {
        Posts posts;
        int ret;
        {
            std::lock_guard<std::mutex> lock(L().mu);
            ret = body(L(), posts);
        }
        Journal(line_ + " = " + I32(static_cast<uint32_t>(ret)));
        PostAll(posts);
        return ret;
    }

private:
    std::string line_;
};

std::string StringMember(const Json::Value& v, const char* name)
{
    const Json::Value& m = v[name];
    return m.isString() ? m.asString() : std::string();
}

bool ParseObject(const char* text, Json::Value& out)
{
    if (!text)
        return false;
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    std::string errors;
    const size_t n = std::strlen(text);
    return reader->parse(text, text + n, &out, &errors) && out.isObject();
}

void JournalTotals(const Peer& peer)
{
    Journal("totals " + std::to_string(peer.handle) + " audio in=" + std::to_string(peer.framesIn[kAudio]) +
            " video in=" + std::to_string(peer.framesIn[kVideo]));
}

void DropAllPeers(Library& l)
{
    for (auto& p : l.peers) {
        JournalTotals(p.second);
        EndPeerMedia(l, p.second);
    }
    l.peers.clear();
    l.newestHandle = 0;
}

void StartThreads(Library& l)
{
    l.worker.Start();
    l.pump.Start();
    l.inited = true;
}

// One frame from quillgate: read by offset, counted, written out when
// asked; formatted for the journal only when it is on.
int InputFrame(const char* name, uint32_t handle, const void* rec, int medium)
{
    const bool video = medium == kVideo;
    uint32_t ts = 0, zero = 0, length = 0, rotation = 0, streamIndex = 0;
    const unsigned char* data = nullptr;
    if (rec) {
        ts = Get32(rec, video ? VideoRecord::kTimestamp : AudioRecord::kTimestamp);
        zero = Get32(rec, video ? VideoRecord::kZero : AudioRecord::kZero);
        length = Get32(rec, video ? VideoRecord::kLength : AudioRecord::kLength);
        data = GetPtr(rec, video ? VideoRecord::kData : AudioRecord::kData);
        if (video) {
            rotation = Get32(rec, VideoRecord::kRotation);
            streamIndex = Get32(rec, VideoRecord::kStreamIndex);
        }
    }
    int ret = RTC_ERR_FAILED;
    uint32_t seq = 0;
    {
        Library& l = L();
        std::lock_guard<std::mutex> lock(l.mu);
        auto it = l.peers.find(handle);
        if (rec && it != l.peers.end() && (data || length == 0)) {
            Peer& peer = it->second;
            seq = peer.framesIn[medium]++;
            if (peer.save[medium])
                peer.save[medium]->Write(data, length, ts);
            ret = RTC_OK;
        }
    }
    if (!JournalOn())
        return ret;
    std::string line = std::string(name) + " " + std::to_string(handle);
    if (!rec) {
        line += " null";
    } else {
        line += " seq=" + (ret == RTC_OK ? std::to_string(seq) : std::string("-")) + " len=" + std::to_string(length) +
                " ts=" + std::to_string(ts);
        if (video)
            line += " rot=" + std::to_string(rotation) + " stream=" + std::to_string(streamIndex);
        line += " zero=" + std::to_string(zero);
        line += data ? " crc=" + CrcForm(Crc32(data, length)) : std::string(" data=null");
    }
    Journal(line + " = " + std::to_string(ret));
    return ret;
}

}  // namespace

int CVRTC_Initialize(void)
{
    EnsureControl();
    return Call("CVRTC_Initialize").Run([](Library& l, Posts&) {
        if (l.stopping)
            return RTC_ERR_FAILED;
        if (!l.inited)
            StartThreads(l);
        return RTC_OK;
    });
}

int CVRTC_UnInitialize(void)
{
    Library& l = L();
    // A callback cannot stop the thread it runs on.
    bool refused = l.worker.OnThread() || l.pump.OnThread();
    bool started = false;
    if (!refused) {
        std::lock_guard<std::mutex> lock(l.mu);
        refused = l.stopping;
        started = l.inited;
        l.stopping = !refused;
        l.inited = false;
    }
    if (refused)
        return Call("CVRTC_UnInitialize").Run([](Library&, Posts&) { return RTC_ERR_FAILED; });
    // Joined without the lock: a callback under way may still take it.
    if (started) {
        l.worker.Stop();
        l.pump.Stop();
    }
    return Call("CVRTC_UnInitialize").Run([](Library& lib, Posts&) {
        DropAllPeers(lib);
        lib.stopping = false;
        return RTC_OK;
    });
}

int CVRTC_CreateWithUserHandle(uint32_t a1, uint32_t a2, void* a3, uint32_t a4, void* a5, void* a6, void* a7, void* a8,
                               void* a9, void* a10, void* a11)
{
    Call call("CVRTC_CreateWithUserHandle");
    call.Num(a1).Num(a2).Ptr(a3).Num(a4).Ptr(a5).Ptr(a6).Ptr(a7).Ptr(a8).Ptr(a9).Ptr(a10).Ptr(a11);
    return call.Run([](Library&, Posts&) { return RTC_ERR_FAILED; });
}

uint32_t CVRTC_CreateWithGenerateHandle(uint32_t direction, const char* iceServer, uint32_t browserType,
                                        CVRTC_AudioData_CallBack audio, CVRTC_VideoData_CallBack video,
                                        CVRTC_DataChnl_CallBack data, CVRTC_Event_CallBack event,
                                        CVRTC_Info_CallBack info, void* user, const char* peerJson)
{
    Call call("CVRTC_CreateWithGenerateHandle");
    call.Num(direction).Text(iceServer).Num(browserType);
    call.Ptr(reinterpret_cast<void*>(audio)).Ptr(reinterpret_cast<void*>(video)).Ptr(reinterpret_cast<void*>(data));
    call.Ptr(reinterpret_cast<void*>(event)).Ptr(reinterpret_cast<void*>(info)).Ptr(user).Text(peerJson);
    const int ret = call.Run([&](Library& l, Posts& posts) -> int {
        if (l.stopping || (!l.inited && !l.settings.lenient))
            return static_cast<int>(CVRTC_INVALID_HANDLE);
        if (l.settings.failCreates > 0) {
            if (l.settings.failCreates != UINT32_MAX)
                --l.settings.failCreates;
            return static_cast<int>(CVRTC_INVALID_HANDLE);
        }
        if (!l.inited)
            StartThreads(l);
        Peer peer;
        peer.handle = l.nextHandle++;
        peer.direction = direction;
        peer.browserType = browserType;
        peer.iceServer = iceServer ? iceServer : "";
        peer.json = peerJson ? peerJson : "";
        Json::Value v;
        if (ParseObject(peerJson, v))
            peer.peerId = StringMember(v, "peerconnectionid");
        peer.cb = Callbacks{audio, video, data, event, info, user};
        peer.shape = l.settings.shape;
        peer.id = MakeIdentity(peer.handle, peer.shape);
        Peer& stored = l.peers[peer.handle] = peer;
        l.newestHandle = peer.handle;
        // The library offers to a browser that receives through the peer.
        if (direction == CVRTC_DIRECTION_RECV)
            QueueOwnOffer(l, stored, posts);
        return static_cast<int>(peer.handle);
    });
    return static_cast<uint32_t>(ret);
}

int CVRTC_Destroy(uint32_t handle)
{
    return Call("CVRTC_Destroy").Num(handle).Run([&](Library& l, Posts&) {
        auto it = l.peers.find(handle);
        if (it == l.peers.end())
            return RTC_ERR_NOHANDLE;
        JournalTotals(it->second);
        EndPeerMedia(l, it->second);
        l.peers.erase(it);
        if (l.newestHandle == handle)
            l.newestHandle = l.peers.empty() ? 0 : l.peers.rbegin()->first;
        return RTC_OK;
    });
}

int CVRTC_SetAudioFrameParam(uint32_t handle, void* params)
{
    return Call("CVRTC_SetAudioFrameParam").Num(handle).Ptr(params).Run([&](Library& l, Posts&) {
        return l.peers.count(handle) ? RTC_OK : RTC_ERR_NOHANDLE;
    });
}

int CVRTC_SetVideoFrameParam(uint32_t handle, void* params)
{
    return Call("CVRTC_SetVideoFrameParam").Num(handle).Ptr(params).Run([&](Library& l, Posts&) {
        return l.peers.count(handle) ? RTC_OK : RTC_ERR_NOHANDLE;
    });
}

int CVRTC_InputAudioStreamData(uint32_t handle, RtcAudioFrame* frame)
{
    return InputFrame("CVRTC_InputAudioStreamData", handle, frame, kAudio);
}

int CVRTC_InputVideoStreamData(uint32_t handle, RtcVideoFrame* frame)
{
    return InputFrame("CVRTC_InputVideoStreamData", handle, frame, kVideo);
}

int CVRTC_SetDescriptionInfo(uint32_t handle, const char* json)
{
    return Call("CVRTC_SetDescriptionInfo").Num(handle).Text(json).Run([&](Library& l, Posts& posts) -> int {
        if (l.settings.refuseTimes > 0) {
            if (l.settings.refuseTimes != UINT32_MAX)
                --l.settings.refuseTimes;
            return l.settings.refuseCode;
        }
        if (!l.inited)
            return RTC_ERR_NOTINIT;
        auto it = l.peers.find(handle);
        if (it == l.peers.end())
            return RTC_ERR_NOHANDLE;
        Json::Value v;
        if (!ParseObject(json, v))
            return RTC_ERR_BADTEXT;
        const Json::Value& type = v["type"];
        if (!type.isNull() && !type.isString())
            return RTC_ERR_BADTEXT;
        const std::string kind = type.isString() ? type.asString() : "";
        if (kind != "offer" && kind != "answer")
            return RTC_OK;  // a candidate: nothing to do on loopback
        const Json::Value& sdp = v["sdp"];
        if (!sdp.isString())
            return RTC_ERR_BADSDP;
        return TakeRemoteDescription(l, it->second, kind, sdp.asString(), posts);
    });
}

int CVRTC_GetState(uint32_t handle)
{
    return Call("CVRTC_GetState").Num(handle).Run([&](Library& l, Posts&) {
        auto it = l.peers.find(handle);
        return it == l.peers.end() ? RTC_ERR_FAILED : it->second.state;
    });
}

int CVRTC_SelectObjExist(uint32_t handle)
{
    return Call("CVRTC_SelectObjExist").Num(handle).Run([&](Library& l, Posts&) {
        return l.peers.count(handle) ? 1 : 0;
    });
}

#ifndef QG_RTC_WITHOUT_VERSION
int CVRTC_GetVersion(uint32_t* major, uint32_t* minor, char* buildText, uint32_t size)
{
    Call call("CVRTC_GetVersion");
    call.Ptr(major).Ptr(minor).Ptr(buildText).Num(size);
    return call.Run([&](Library&, Posts&) {
        if (!major || !minor)
            return RTC_ERR_NULLPARAM;
        *major = 3;
        *minor = 1;
        if (buildText && size > 0)
            std::snprintf(buildText, size, "stand-in %s %s", __DATE__, __TIME__);
        return RTC_OK;
    });
}
#endif

// The GStreamer media library: the 13 CVRTC_ entry points. A call only
// reads, records and posts; GStreamer work and every callback run on the
// worker thread. Conventions are in ../README.md.
#pragma GCC visibility push(default)
#include "quillgate/webrtc/cvrtc_api.h"
#pragma GCC visibility pop

#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#include <json/json.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gst_lib.h"
#include "gst_peer.h"
#include "records.h"
#include "rtc_text.h"
#include "standin_rtc_codes.h"

using namespace rtcgst;
using rtcstub::I32;
using rtcstub::Journal;
using rtcstub::JournalOn;
using rtcstub::PtrForm;
using rtcstub::QuoteText;

namespace {

int Done(const std::string& line, int ret)
{
    Journal(line + " = " + I32(static_cast<uint32_t>(ret)));
    return ret;
}

bool ParseObject(const char* text, Json::Value& out)
{
    if (!text)
        return false;
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text, text + std::strlen(text), &out, &errors) && out.isObject();
}

// An offer or answer GStreamer can read, with at least one section.
bool SdpUsable(const std::string& sdp)
{
    GstSDPMessage* message = nullptr;
    if (gst_sdp_message_new_from_text(sdp.c_str(), &message) != GST_SDP_OK || !message)
        return false;
    const bool usable = gst_sdp_message_medias_len(message) > 0;
    gst_sdp_message_free(message);
    return usable;
}

int InputFrame(const char* name, uint32_t handle, const void* rec, Medium medium)
{
    const bool video = medium == kVideo;
    uint32_t ts = 0, zero = 0, length = 0, rotation = 0, streamIndex = 0;
    const unsigned char* data = nullptr;
    if (rec) {
        ts = rtcstub::Get32(rec, video ? rtcstub::VideoRecord::kTimestamp : rtcstub::AudioRecord::kTimestamp);
        zero = rtcstub::Get32(rec, video ? rtcstub::VideoRecord::kZero : rtcstub::AudioRecord::kZero);
        length = rtcstub::Get32(rec, video ? rtcstub::VideoRecord::kLength : rtcstub::AudioRecord::kLength);
        data = rtcstub::GetPtr(rec, video ? rtcstub::VideoRecord::kData : rtcstub::AudioRecord::kData);
        if (video) {
            rotation = rtcstub::Get32(rec, rtcstub::VideoRecord::kRotation);
            streamIndex = rtcstub::Get32(rec, rtcstub::VideoRecord::kStreamIndex);
        }
    }
    std::shared_ptr<Peer> peer = FindPeer(handle);
    const int ret = peer && rec && (data || length == 0) ? RTC_OK : RTC_ERR_FAILED;
    const bool sent = ret == RTC_OK && peer->Input(medium, data, length);
    if (!JournalOn())
        return ret;
    std::string line = std::string(name) + " " + std::to_string(handle);
    if (!rec) {
        line += " null";
    } else {
        line += " len=" + std::to_string(length) + " ts=" + std::to_string(ts);
        if (video)
            line += " rot=" + std::to_string(rotation) + " stream=" + std::to_string(streamIndex);
        line += " zero=" + std::to_string(zero);
        line += data ? " crc=" + rtcstub::CrcForm(rtcstub::Crc32(data, length)) : std::string(" data=null");
        line += sent ? " sent" : " held";
    }
    Journal(line + " = " + std::to_string(ret));
    return ret;
}

}  // namespace

int CVRTC_Initialize(void)
{
    std::string reason;
    if (!StartGStreamer(reason)) {
        Journal("gstreamer: " + reason);
        return Done("CVRTC_Initialize", RTC_ERR_FAILED);
    }
    Library& l = L();
    {
        std::lock_guard<std::mutex> lock(l.mu);
        if (!l.inited) {
            l.worker.Start();
            l.inited = true;
        }
    }
    return Done("CVRTC_Initialize", RTC_OK);
}

int CVRTC_UnInitialize(void)
{
    Library& l = L();
    // A callback cannot stop the thread it runs on.
    if (l.worker.OnThread())
        return Done("CVRTC_UnInitialize", RTC_ERR_FAILED);
    std::vector<std::shared_ptr<Peer>> ended;
    {
        std::lock_guard<std::mutex> lock(l.mu);
        for (auto& entry : l.peers)
            ended.push_back(entry.second);
        l.peers.clear();
        l.inited = false;
    }
    for (auto& peer : ended)
        peer->End();
    // Joined first: no callback runs while the pipelines go.
    l.worker.Stop();
    for (auto& peer : ended)
        peer->Teardown();
    ended.clear();
    return Done("CVRTC_UnInitialize", RTC_OK);
}

int CVRTC_CreateWithUserHandle(uint32_t a1, uint32_t a2, void* a3, uint32_t a4, void* a5, void* a6, void* a7, void* a8,
                               void* a9, void* a10, void* a11)
{
    const std::string line = "CVRTC_CreateWithUserHandle " + I32(a1) + " " + I32(a2) + " " + PtrForm(a3) + " " +
                             I32(a4) + " " + PtrForm(a5) + " " + PtrForm(a6) + " " + PtrForm(a7) + " " + PtrForm(a8) +
                             " " + PtrForm(a9) + " " + PtrForm(a10) + " " + PtrForm(a11);
    return Done(line, RTC_ERR_FAILED);
}

uint32_t CVRTC_CreateWithGenerateHandle(uint32_t direction, const char* iceServer, uint32_t browserType,
                                        CVRTC_AudioData_CallBack audio, CVRTC_VideoData_CallBack video,
                                        CVRTC_DataChnl_CallBack data, CVRTC_Event_CallBack event,
                                        CVRTC_Info_CallBack info, void* user, const char* peerJson)
{
    const std::string line = "CVRTC_CreateWithGenerateHandle " + I32(direction) + " " + QuoteText(iceServer) + " " +
                             I32(browserType) + " " + PtrForm(reinterpret_cast<void*>(audio)) + " " +
                             PtrForm(reinterpret_cast<void*>(video)) + " " + PtrForm(reinterpret_cast<void*>(data)) +
                             " " + PtrForm(reinterpret_cast<void*>(event)) + " " +
                             PtrForm(reinterpret_cast<void*>(info)) + " " + PtrForm(user) + " " + QuoteText(peerJson);
    Json::Value v;
    std::string peerId;
    if (ParseObject(peerJson, v) && v["peerconnectionid"].isString())
        peerId = v["peerconnectionid"].asString();
    Callbacks cb;
    cb.audio = audio;
    cb.video = video;
    cb.data = data;
    cb.event = event;
    cb.info = info;
    cb.user = user;

    Library& l = L();
    std::shared_ptr<Peer> peer;
    {
        std::lock_guard<std::mutex> lock(l.mu);
        if (!l.inited)
            return static_cast<uint32_t>(Done(line, static_cast<int>(CVRTC_INVALID_HANDLE)));
        const uint32_t handle = l.nextHandle++;
        peer = std::make_shared<Peer>(l.worker, handle, direction, iceServer ? iceServer : "", peerId, cb);
        l.peers[handle] = peer;
    }
    const uint32_t handle = peer->Handle();
    Done(line, static_cast<int>(handle));
    l.worker.Post([peer] {
        if (peer->Live())
            peer->Build();
    });
    return handle;
}

int CVRTC_Destroy(uint32_t handle)
{
    Library& l = L();
    std::shared_ptr<Peer> peer;
    {
        std::lock_guard<std::mutex> lock(l.mu);
        auto it = l.peers.find(handle);
        if (it != l.peers.end()) {
            peer = it->second;
            l.peers.erase(it);
        }
    }
    if (!peer)
        return Done("CVRTC_Destroy " + std::to_string(handle), RTC_ERR_NOHANDLE);
    peer->End();
    // The pipeline goes on the worker, after what it still has of the peer.
    l.worker.Post([peer] { peer->Teardown(); });
    return Done("CVRTC_Destroy " + std::to_string(handle), RTC_OK);
}

int CVRTC_SetAudioFrameParam(uint32_t handle, void* params)
{
    return Done("CVRTC_SetAudioFrameParam " + std::to_string(handle) + " " + PtrForm(params),
                FindPeer(handle) ? RTC_OK : RTC_ERR_NOHANDLE);
}

int CVRTC_SetVideoFrameParam(uint32_t handle, void* params)
{
    return Done("CVRTC_SetVideoFrameParam " + std::to_string(handle) + " " + PtrForm(params),
                FindPeer(handle) ? RTC_OK : RTC_ERR_NOHANDLE);
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
    const std::string line = "CVRTC_SetDescriptionInfo " + std::to_string(handle) + " " + QuoteText(json);
    Library& l = L();
    {
        std::lock_guard<std::mutex> lock(l.mu);
        if (!l.inited)
            return Done(line, RTC_ERR_NOTINIT);
    }
    std::shared_ptr<Peer> peer = FindPeer(handle);
    if (!peer)
        return Done(line, RTC_ERR_NOHANDLE);
    Json::Value v;
    if (!ParseObject(json, v) || (!v["type"].isNull() && !v["type"].isString()))
        return Done(line, RTC_ERR_BADTEXT);
    const std::string type = v["type"].isString() ? v["type"].asString() : "";
    if (type == "offer" || type == "answer") {
        if (!v["sdp"].isString() || !SdpUsable(v["sdp"].asString()))
            return Done(line, RTC_ERR_BADSDP);
        const std::string sdp = v["sdp"].asString();
        l.worker.Post([peer, type, sdp] {
            if (peer->Live())
                peer->TakeDescription(type, sdp);
        });
        return Done(line, RTC_OK);
    }
    // A candidate; an empty one ends the browser's gathering.
    const Json::Value& candidate = v["candidate"];
    if (!candidate.isString())
        return Done(line, RTC_ERR_BADTEXT);
    const std::string text = candidate.asString();
    const uint32_t mline = v["sdpMLineIndex"].isUInt() ? v["sdpMLineIndex"].asUInt() : 0;
    if (!text.empty()) {
        l.worker.Post([peer, mline, text] {
            if (peer->Live())
                peer->TakeCandidate(mline, text);
        });
    }
    return Done(line, RTC_OK);
}

int CVRTC_GetState(uint32_t handle)
{
    std::shared_ptr<Peer> peer = FindPeer(handle);
    return Done("CVRTC_GetState " + std::to_string(handle), peer ? peer->State() : RTC_ERR_FAILED);
}

int CVRTC_SelectObjExist(uint32_t handle)
{
    return Done("CVRTC_SelectObjExist " + std::to_string(handle), FindPeer(handle) ? 1 : 0);
}

int CVRTC_GetVersion(uint32_t* major, uint32_t* minor, char* buildText, uint32_t size)
{
    const std::string line = "CVRTC_GetVersion " + PtrForm(major) + " " + PtrForm(minor) + " " + PtrForm(buildText) +
                             " " + std::to_string(size);
    if (!major || !minor)
        return Done(line, RTC_ERR_NULLPARAM);
    *major = 3;
    *minor = 2;
    if (buildText && size > 0) {
        guint gstMajor = 0, gstMinor = 0, gstMicro = 0, gstNano = 0;
        gst_version(&gstMajor, &gstMinor, &gstMicro, &gstNano);
        std::snprintf(buildText, size, "gst stand-in %s %s, GStreamer %u.%u.%u", __DATE__, __TIME__, gstMajor, gstMinor,
                      gstMicro);
    }
    return Done(line, RTC_OK);
}

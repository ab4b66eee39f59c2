// Browser signalling: offers, answers and candidates between the browser
// (webrtcConsult) and the media library (its info callback), each
// description rewritten on the way for its peer: direction pinned to the
// stream type, ssrc lines gone on the side that only receives, one video
// codec kept, the data-channel profile normalised. Reading the browser's
// description also fixes the peer's media and the SDK side's formats.
#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "quillgate/webrtc/media_sdk_helper.h"
#include "util/json_utils.h"

namespace {

const uint32_t kH264 = 1;
const uint32_t kVP8 = 3;

// The formats a description fixes for the SDK side.
const uint32_t kVideoWidth = 320;
const uint32_t kVideoHeight = 240;
const uint32_t kVideoFps = 15;
const uint32_t kAudioCodec = 11;
const uint32_t kAudioChannels = 1;
const uint32_t kAudioRate = 16000;
const uint32_t kAudioBits = 16;

// The directions SetSdpDirection pins.
const int kSendOnly = 2;
const int kRecvOnly = 3;

bool Contains(const std::string& text, const char* what)
{
    return text.find(what) != std::string::npos;
}

bool IsAppleDevice(int platformType)
{
    return platformType == 3 || platformType == 4;
}

struct Formats {
    uint32_t videoCodec = 0, width = 0, height = 0, fps = 0;
    uint32_t audioCodec = 0, channels = 0, rate = 0, bits = 0;

    void Video(uint32_t codec)
    {
        videoCodec = codec;
        width = kVideoWidth;
        height = kVideoHeight;
        fps = kVideoFps;
    }
    void Audio()
    {
        audioCodec = kAudioCodec;
        channels = kAudioChannels;
        rate = kAudioRate;
        bits = kAudioBits;
    }
};

}  // namespace

uint32_t CWebRtcConnect::ChooseVideoCodec(const std::string& json)
{
    uint32_t expected = 0;
    m_applyVideoCodec.compare_exchange_strong(expected, kVP8);
    const uint32_t apply = m_applyVideoCodec;
    uint32_t codec;
    if (IsAppleDevice(m_platformType))
        codec = kH264;
    else if (m_configVideoCodec == kH264)
        codec = Contains(json, "H264") ? kH264 : apply;
    else
        codec = Contains(json, "VP8") ? apply : kH264;
    // Once H.264 it stays H.264.
    if (codec == kH264)
        m_applyVideoCodec = kH264;
    return codec;
}

int CWebRtcConnect::ModifyWebOfferInfo(PeerInfo& peer, std::string& json)
{
    bool video = false, audio = false, data = false;
    CheckMediaType(json, video, audio, data);
    Formats formats;
    if (video) {
        formats.Video(ChooseVideoCodec(json));
        peer.mediaMask |= kMaskVideo;
    }
    if (audio) {
        formats.Audio();
        peer.mediaMask |= kMaskAudio;
    }
    if (data)
        peer.mediaMask |= kMaskData;
    SetUpMediaFormat(formats.videoCodec, formats.audioCodec);
    SetDownMediaFormat(formats.videoCodec, formats.width, formats.height, formats.fps, formats.audioCodec,
                       formats.channels, formats.rate, formats.bits);
    ModifyDataChnlProtocol(json);
    if (SdpLogOn())
        ProxyLog(4, "CWebRtcConnect::ModifyWebOfferInfo:  modify web offer sdp info: %s", LoggedText(4, json).c_str());
    return 0;
}

int CWebRtcConnect::ModifyWebAnswerInfo(PeerInfo& peer, std::string& json)
{
    if (peer.streamType == 1) {
        SetSdpDirection(kSendOnly, json);
    } else {
        SetSdpDirection(kRecvOnly, json);
        DelSDPSsrcInfo(json);
    }
    bool video = false, audio = false, data = false;
    CheckMediaType(json, video, audio, data);
    Formats formats;
    if (video) {
        FilterVideoCodec(json, static_cast<int>(ChooseVideoCodec(json)), 1);
        formats.Video(m_applyVideoCodec);
        peer.mediaMask |= kMaskVideo;
    }
    if (audio) {
        formats.Audio();
        peer.mediaMask |= kMaskAudio;
    }
    if (data)
        peer.mediaMask |= kMaskData;
    SetUpMediaFormat(formats.videoCodec, formats.audioCodec);
    if (m_browserType != 1)
        SetDownMediaFormat(formats.videoCodec, formats.width, formats.height, formats.fps, formats.audioCodec,
                           formats.channels, formats.rate, formats.bits);
    if (SdpLogOn())
        ProxyLog(4, "CWebRtcConnect::ModifyWebAnswerInfo:  modify web answer sdp Info: %s",
                 LoggedText(4, json).c_str());
    return 0;
}

int CWebRtcConnect::ModifyNativeOfferInfo(const PeerInfo& peer, std::string& json)
{
    SetSdpDirection(peer.streamType == 1 ? kRecvOnly : kSendOnly, json);
    if (SdpLogOn())
        ProxyLog(4, "CWebRtcConnect::ModifyNativeOfferInfo:  modify web offer sdp Info: %s", json.c_str());
    return 0;
}

int CWebRtcConnect::ModifyNativeAnswerInfo(const PeerInfo& peer, std::string& json)
{
    if (peer.streamType == 1) {
        SetSdpDirection(kRecvOnly, json);
        DelSDPSsrcInfo(json);
    } else {
        SetSdpDirection(kSendOnly, json);
    }
    if (Contains(json, "m=video")) {
        const bool h264 = IsAppleDevice(m_platformType) || (m_configVideoCodec == kH264 && Contains(json, "H264")) ||
                          (m_configVideoCodec != kH264 && !Contains(json, "VP8"));
        FilterVideoCodec(json, static_cast<int>(h264 ? kH264 : kVP8), 1);
    }
    if (SdpLogOn())
        ProxyLog(4, "CWebRtcConnect::ModifyNativeAnswerInfo:  modify native answer sdp Info: %s", json.c_str());
    return 0;
}

int CWebRtcConnect::SetUpMediaFormat(uint32_t videoCodec, uint32_t audioCodec)
{
    if (!m_owner)
        return 0;
    if (audioCodec != 0)
        m_owner->SetUpAudioFrame(audioCodec);
    if (videoCodec != 0)
        m_owner->SetUpVideoFrame(videoCodec);
    return 0;
}

int CWebRtcConnect::SetDownMediaFormat(uint32_t videoCodec, uint32_t width, uint32_t height, uint32_t fps,
                                       uint32_t audioCodec, uint32_t channels, uint32_t sampleRate,
                                       uint32_t bitsPerSample)
{
    if (!m_owner)
        return 0;
    if (audioCodec != 0)
        m_owner->SetDownAudioFrame(audioCodec, channels, sampleRate, bitsPerSample);
    if (videoCodec != 0)
        m_owner->SetDownVideoFrame(videoCodec, width, height, fps);
    return 0;
}

int CWebRtcConnect::SetDescriptionInfo(const std::string& json)
{
    std::string type;
    int result = CJsonTools::GetStringValue(json, "type", type);
    if (result != 0) {
        ProxyLog(16, "CWebRtcConnect::SetDescriptionInfo: extract sdp type fail!");
        return result;
    }
    std::string peerId;
    result = CJsonTools::GetStringValue(json, "peerconnectionid", peerId);
    if (result != 0) {
        ProxyLog(16, "CWebRtcConnect::SetDescriptionInfo: extract peerobj id fail!");
        return result;
    }
    if (SdpLogOn())
        ProxyLog(4,
                 "CWebRtcConnect::SetDescriptionInfo: platformType:%d, frameType:%d, messageSize:%d, web send message "
                 "info: %s",
                 m_platformType.load(), m_configVideoCodec.load(), static_cast<int>(json.size()),
                 LoggedText(4, json).c_str());

    PeerInfo peer;
    // No peer to take a user id from: the reply names user -1.
    peer.userId = static_cast<uint32_t>(-1);
    if (GetPeerinfoByPeerId(peerId, peer) != 0) {
        ProxyLog(16, "CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=%s", peerId.c_str());
        result = -1;
    } else {
        std::string text = json;
        if (type == "offer") {
            ModifyWebOfferInfo(peer, text);
            ProxyLog(4, "CWebRtcConnect::SetDescriptionInfo: recv offer from web! peerId:%s", peerId.c_str());
        } else if (type == "answer") {
            ModifyWebAnswerInfo(peer, text);
            ProxyLog(4, "CWebRtcConnect::SetDescriptionInfo: recv answer from web! peerId:%s", peerId.c_str());
        } else {
            ProxyLog(4, "CWebRtcConnect::SetDescriptionInfo: recv candadite from web! peerId:%s", peerId.c_str());
        }
        UpdatePeerInfoByPeerId(peerId, peer);
        result = CMediaSDKHelper::GetInstance().SetDescriptionInfo(peer.handle, text.c_str());
        // The comma after the result is the full-width one the operators' tools read (GB2312).
        if (result != 0)
            ProxyLog(16, "CWebRtcConnect::SetDescriptionInfo Fail! ret:%d\xA3\xAC handle=%d, userId=%d", result,
                     peer.handle, peer.userId);
    }
    if (m_owner)
        m_owner->ReplyWebrtcConsult(static_cast<int>(peer.userId), "", result);
    return result;
}

int CWebRtcConnect::SendNativeInfo2Web(uint32_t handle, uint32_t messageType, const std::string& json)
{
    if (SdpLogOn())
        ProxyLog(4, "SendNatiateInfo2Web: messageType: %d, messageSize:%d, native send message info: %s", messageType,
                 static_cast<int>(json.size()), json.c_str());
    std::string text = json;
    PeerInfo peer;
    const bool known = GetPeerinfoByHandle(handle, peer) == 0;
    if (messageType == CVRTC_INFO_OFFER || messageType == CVRTC_INFO_ANSWER) {
        if (!known) {
            if (m_owner)
                m_owner->NotifyWebrtcConsult(-1, "");
            return -1;
        }
        if (messageType == CVRTC_INFO_OFFER) {
            ModifyNativeOfferInfo(peer, text);
            ProxyLog(4, "CWebRtcConnect::SendNativeInfo2Web: send offer to web! peerId:%s", peer.peerId.c_str());
        } else {
            if (m_browserType != 1 && m_browserType != 2)
                ModifyNativeAnswerInfo(peer, text);
            ProxyLog(4, "CWebRtcConnect::SendNativeInfo2Web: send answer to web! peerId:%s", peer.peerId.c_str());
        }
    } else {
        ProxyLog(4, "CWebRtcConnect::SendNativeInfo2Web: send candidate to web! peerId:%s", peer.peerId.c_str());
    }
    if (m_owner)
        m_owner->NotifyWebrtcConsult(0, text);
    return 0;
}

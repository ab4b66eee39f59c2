// The media relay of the WebRTC side: remote users' frames from the SDK
// side to the browser's receiving peer, and the browser's frames from the
// library to the SDK side. Each frame is passed by pointer on the thread
// that delivered it: no copy, no queue, no allocation; the peer lookup
// copies only the few numbers a frame needs.
#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/log/proxy_log.h"
#include "quillgate/webrtc/media_sdk_helper.h"

int CWebRtcConnect::GetPeerMediaByHandle(uint32_t handle, PeerMedia& out)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    for (const PeerInfo& peer : m_peers) {
        if (peer.handle == handle) {
            out.userId = peer.userId;
            out.streamIndex = peer.streamIndex;
            out.streamType = peer.streamType;
            out.mediaMask = peer.mediaMask;
            return 0;
        }
    }
    return -1;
}

uint32_t CWebRtcConnect::TargetUser(uint32_t userId) const
{
    // With this browser every remote user's frames go to the own user's
    // receiving peer.
    return m_browserType == 2 ? static_cast<uint32_t>(-1) : userId;
}

void CWebRtcConnect::OnReceiveVideoStream(uint32_t userId, uint32_t streamIndex, uint32_t /*reserved*/, uint8_t* data,
                                          uint32_t length, uint32_t timestamp, uint32_t rotation)
{
    if (!data || length == 0)
        return;
    const uint32_t handle = GetPeerHandle(TargetUser(userId), streamIndex, kMaskVideo);
    if (handle == CVRTC_INVALID_HANDLE)
        return;

    RtcVideoFrame frame = {};
    frame.streamIndex = streamIndex;
    frame.rotation = rotation;
    frame.timestamp = timestamp;
    frame.zero = 0;
    frame.length = length;
    frame.data = data;
    if (CMediaSDKHelper::GetInstance().InputVideoStreamData(handle, &frame) == -1)
        ProxyLog(16, "CWebRtcConnect::OnReceiveVideoStream: InputVideoStreamData Fail!");
}

void CWebRtcConnect::OnReceiveAudioStream(uint32_t userId, uint32_t streamIndex, uint32_t /*reserved*/, uint8_t* data,
                                          uint32_t length, uint32_t timestamp)
{
    if (!data || length == 0)
        return;
    const uint32_t handle = GetPeerHandle(TargetUser(userId), streamIndex, kMaskAudio);
    if (handle == CVRTC_INVALID_HANDLE)
        return;

    RtcAudioFrame frame = {};
    frame.timestamp = timestamp;
    frame.zero = 0;
    frame.length = length;
    frame.data = data;
    if (CMediaSDKHelper::GetInstance().InputAudioStreamData(handle, &frame) == -1)
        ProxyLog(16, "CWebRtcConnect::OnReceiveAudioStream: InputAudioStreamData Fail!");
}

int CWebRtcConnect::OnWebrtcAudioData(uint32_t handle, RtcAudioFrame* frame)
{
    if (!frame)
        return -1;
    PeerMedia peer;
    if (GetPeerMediaByHandle(handle, peer) != 0)
        return -1;
    // Audio only from a peer through which the browser sends and that has
    // shown audio.
    if (peer.streamType == 1 && (peer.mediaMask & kMaskAudio) != 0 && m_owner)
        m_owner->OnWebrtcAudioData(peer.userId, peer.streamIndex, 0, frame->data, frame->length, frame->timestamp);
    return 0;
}

int CWebRtcConnect::OnWebrtcVideoData(uint32_t handle, RtcVideoFrame* frame)
{
    if (!frame)
        return -1;
    PeerMedia peer;
    if (GetPeerMediaByHandle(handle, peer) != 0)
        return -1;
    if (m_owner)
        m_owner->OnWebrtcVideoData(peer.userId, peer.streamIndex, 0, frame->data, frame->length, frame->timestamp,
                                   frame->rotation);
    return 0;
}

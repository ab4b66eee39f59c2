// The peer table of the WebRTC side: creation and destruction of the media
// library's peer objects on the browser's request, and the lookups every
// other part of the side finds its peers through. Each table has its own
// mutex, held only inside one lookup, copy, append or erase; the one call
// into the library made under the peer-table mutex is the creation, so a
// callback that looks up the new handle waits until its record is in.
#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "quillgate/webrtc/media_sdk_helper.h"
#include "util/json_utils.h"
#include "util/json_writer.h"

namespace {

// A record of that (mapped) user and stream that carries a medium of the
// mask; "any" (255) matches whatever the record has seen, so a peer that
// never saw a description is found and destroyed too.
bool Matches(const PeerInfo& peer, uint32_t mappedUser, uint32_t streamIndex, uint32_t mask)
{
    if (peer.userId != mappedUser || peer.streamIndex != streamIndex)
        return false;
    return mask == CWebRtcConnect::kMaskAny || (peer.mediaMask & mask) != 0;
}

template <typename Match>
void EraseFirst(std::mutex& mutex, std::vector<PeerInfo>& table, Match match)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (match(*it)) {
            table.erase(it);
            return;
        }
    }
}

std::string PeerIdText(const std::string& peerId)
{
    Json::Value reply(Json::objectValue);
    reply["peerconnectionid"] = peerId;
    return cv::toStyledString(reply);
}

}  // namespace

uint32_t CWebRtcConnect::MapUserId(uint32_t userId) const
{
    if (m_owner && userId == m_owner->GetOwnUserId())
        return static_cast<uint32_t>(-1);
    return userId;
}

int CWebRtcConnect::HandlePeerObjMessage(int type, const std::string& json)
{
    if (type != 1)
        return -1;
    return PeerObjParamDeal(m_owner ? m_owner->GetStunServer() : std::string(), json);
}

int CWebRtcConnect::PeerObjParamDeal(const std::string& iceServer, const std::string& json)
{
    std::string peerId;
    int userId = 0;
    int result = CJsonTools::GetStringValue(json, "peerconnectionid", peerId);
    if (result != 0) {
        ProxyLog(16, "CWebRtcConnect::PeerObjParamDeal: get peerconnectionid fail!");
    } else {
        int control = 0;
        result = CJsonTools::GetIntValue(json, "control", control);
        if (result != 0) {
            ProxyLog(16, "CWebRtcConnect::PeerObjParamDeal: get Control info fail!");
        } else if (control == 0) {
            result = DestroyWebrtcSDK(peerId);
        } else {
            int streamIndex = 0;
            int streamType = 0;
            if ((result = CJsonTools::GetIntValue(json, "streamindex", streamIndex)) != 0) {
                ProxyLog(16, "CWebRtcConnect::PeerObjParamDeal: get StreamIndex fail!");
            } else if ((result = CJsonTools::GetIntValue(json, "streamtype", streamType)) != 0) {
                ProxyLog(16, "CWebRtcConnect::PeerObjParamDeal: get StreamType fail!");
            } else if ((result = CJsonTools::GetIntValue(json, "userid", userId)) != 0) {
                ProxyLog(16, "CWebRtcConnect::PeerObjParamDeal: get UserId fail!");
            } else {
                bool existed = false;
                result = CreatePeer(static_cast<uint32_t>(userId), streamType, static_cast<uint32_t>(streamIndex),
                                    iceServer, json, true, existed);
                if (existed)
                    ProxyLog(4, "CWebRtcConnect::PeerObjParamDeal: peerobj exist! peerId:%s", peerId.c_str());
                else if (result != 0)
                    ProxyLog(16, "CWebRtcConnect::PeerObjParamDeal: CreateWebrtcSDK fail!");
            }
        }
    }
    // Every road answers once.
    if (m_owner)
        m_owner->ReplyConsultParam(userId, result, 1, PeerIdText(peerId));
    return result;
}

int CWebRtcConnect::CreateWebrtcSDK(uint32_t userId, int streamType, uint32_t streamIndex, const std::string& iceServer,
                                    const std::string& json)
{
    bool existed = false;
    return CreatePeer(userId, streamType, streamIndex, iceServer, json, false, existed);
}

int CWebRtcConnect::CreatePeer(uint32_t userId, int streamType, uint32_t streamIndex, const std::string& iceServer,
                               const std::string& json, bool unlessExisting, bool& existed)
{
    existed = false;
    // With this browser the own user's receiving peer takes every remote
    // user's frames: nothing to create.
    if (m_browserType == 2 && streamType == 2)
        return 0;

    std::string peerId;
    const int read = CJsonTools::GetStringValue(json, "peerconnectionid", peerId);
    if (read != 0 || peerId.empty()) {
        ProxyLog(16, "CWebRtcConnect::CreateWebrtcSDK: peerconnectionid is null! jsonBuf:%s",
                 LoggedText(16, json).c_str());
        return read != 0 ? read : -1;
    }

    std::lock_guard<std::mutex> lock(m_peerMutex);
    if (unlessExisting) {
        for (const PeerInfo& peer : m_peers) {
            if (peer.peerId == peerId) {
                existed = true;
                return 0;
            }
        }
    }
    const uint32_t direction = streamType == 2 ? CVRTC_DIRECTION_RECV : CVRTC_DIRECTION_SEND;
    const uint32_t handle = CMediaSDKHelper::GetInstance().CreateWithGenerateHandle(
        direction, iceServer.c_str(), static_cast<uint32_t>(m_browserType.load()), &OnWebrtcAudioDataCallBack,
        &OnWebrtcVideoDataCallBack, &OnWebrtcDataChnlCallBack, &OnWebrtcEventCallBack, &OnWebrtcInfoCallBack, this,
        json.c_str());
    if (handle == CVRTC_INVALID_HANDLE) {
        ProxyLog(16, "CWebRtcConnect::CreateWebrtcSDK: create webrtcsdk obj Fail! dwHandle:%d", -1);
        return -1;
    }
    PeerInfo peer;
    peer.peerId = peerId;
    peer.userId = MapUserId(userId);
    peer.streamIndex = streamIndex;
    peer.handle = handle;
    peer.streamType = static_cast<uint32_t>(streamType);
    peer.iceServer = iceServer;
    peer.extendInfo = json;
    m_peers.push_back(peer);
    ProxyLog(4,
             "CWebRtcConnect::CreateWebrtcSDK: create peerobj success! handle:%d, streamIndex:%d, steamtype:%d, "
             "userid:%d, iceServer:%s, extendInfo:%s, peerobjNum:%d",
             handle, streamIndex, streamType, userId, iceServer.c_str(), LoggedText(4, json).c_str(),
             static_cast<int>(m_peers.size()));
    return 0;
}

int CWebRtcConnect::DestroyWebrtcSDK(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    const uint32_t handle = GetPeerHandle(userId, streamIndex, mask);
    if (handle != CVRTC_INVALID_HANDLE)
        CMediaSDKHelper::GetInstance().Destroy(handle);
    DelAllPeerInfo(userId, streamIndex, mask);
    ProxyLog(4, "CWebRtcConnect::DestroyWebrtcSDK: destroy webrtcsdk obj success! handle:%d", handle);
    return 0;
}

int CWebRtcConnect::DestroyWebrtcSDK(const std::string& peerId)
{
    PeerInfo peer;
    if (GetPeerinfoByPeerId(peerId, peer) != 0) {
        ProxyLog(16, "CWebRtcConnect::DestroyWebrtcSDK: get peerInfo fail! peerId:%s", peerId.c_str());
        return -1;
    }
    if (peer.handle != 0)
        CMediaSDKHelper::GetInstance().Destroy(peer.handle);
    DelAllPeerInfo(peerId);
    ProxyLog(4, "CWebRtcConnect::DestroyWebrtcSDK: destroy webrtcsdk obj success! handle:%d, peerId:%s, suportmedia:%d",
             peer.handle, peerId.c_str(), peer.mediaMask);
    return 0;
}

int CWebRtcConnect::DestroyAllWebrtcSDK()
{
    // The library's peers end with its uninitialisation.
    CMediaSDKHelper::GetInstance().UnInitialize();
    {
        std::lock_guard<std::mutex> lock(m_peerMutex);
        m_peers.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        m_dataChannels.clear();
    }
    {
        std::lock_guard<std::mutex> lock(m_resetMutex);
        m_resetPeers.clear();
    }
    ProxyLog(4, "CWebRtcConnect::DestroyAllWebrtcSDK: clean all webrtcsdk obj success!");
    return 0;
}

// ---- lookups ----

int CWebRtcConnect::GetPeerinfoByHandle(uint32_t handle, PeerInfo& out)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    for (const PeerInfo& peer : m_peers) {
        if (peer.handle == handle) {
            out = peer;
            return 0;
        }
    }
    return -1;
}

int CWebRtcConnect::GetPeerinfoByPeerId(const std::string& peerId, PeerInfo& out)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    for (const PeerInfo& peer : m_peers) {
        if (peer.peerId == peerId) {
            out = peer;
            return 0;
        }
    }
    return -1;
}

int CWebRtcConnect::UpdatePeerInfoByPeerId(const std::string& peerId, const PeerInfo& in)
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    for (PeerInfo& peer : m_peers) {
        if (peer.peerId != peerId)
            continue;
        peer.peerId = in.peerId;
        peer.userId = in.userId;
        peer.streamIndex = in.streamIndex;
        peer.streamType = in.streamType;
        peer.iceServer = in.iceServer;
        peer.extendInfo = in.extendInfo;
        // The mask only grows: two descriptions written back at once for
        // one peer keep both their media.
        peer.mediaMask |= in.mediaMask;
        return 0;
    }
    return -1;
}

uint32_t CWebRtcConnect::GetPeerHandle(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    const uint32_t mapped = MapUserId(userId);
    std::lock_guard<std::mutex> lock(m_peerMutex);
    for (const PeerInfo& peer : m_peers) {
        if (Matches(peer, mapped, streamIndex, mask))
            return peer.handle;
    }
    return CVRTC_INVALID_HANDLE;
}

std::vector<PeerInfo> CWebRtcConnect::Peers() const
{
    std::lock_guard<std::mutex> lock(m_peerMutex);
    return m_peers;
}

// ---- removal ----

void CWebRtcConnect::DelPeerInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    const uint32_t mapped = MapUserId(userId);
    EraseFirst(m_peerMutex, m_peers, [&](const PeerInfo& p) { return Matches(p, mapped, streamIndex, mask); });
}

void CWebRtcConnect::DelDataChnlInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    const uint32_t mapped = MapUserId(userId);
    EraseFirst(m_dataMutex, m_dataChannels, [&](const PeerInfo& p) { return Matches(p, mapped, streamIndex, mask); });
}

void CWebRtcConnect::DelResetPeerInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    const uint32_t mapped = MapUserId(userId);
    EraseFirst(m_resetMutex, m_resetPeers, [&](const PeerInfo& p) { return Matches(p, mapped, streamIndex, mask); });
}

void CWebRtcConnect::DelAllPeerInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    DelPeerInfo(userId, streamIndex, mask);
    DelDataChnlInfo(userId, streamIndex, mask);
    DelResetPeerInfo(userId, streamIndex, mask);
}

void CWebRtcConnect::DelPeerInfo(const std::string& peerId)
{
    EraseFirst(m_peerMutex, m_peers, [&](const PeerInfo& p) { return p.peerId == peerId; });
}

void CWebRtcConnect::DelDataChnlInfo(const std::string& peerId)
{
    EraseFirst(m_dataMutex, m_dataChannels, [&](const PeerInfo& p) { return p.peerId == peerId; });
}

void CWebRtcConnect::DelResetPeerInfo(const std::string& peerId)
{
    EraseFirst(m_resetMutex, m_resetPeers, [&](const PeerInfo& p) { return p.peerId == peerId; });
}

void CWebRtcConnect::DelAllPeerInfo(const std::string& peerId)
{
    DelPeerInfo(peerId);
    DelDataChnlInfo(peerId);
    DelResetPeerInfo(peerId);
}

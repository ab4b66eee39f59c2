// The data-channel road of the WebRTC side: packets are taken only from
// the peer whose data channel opened last, each opening starts the packet
// sequence and the demuxer afresh, and a watch on the main loop asks the
// browser to reset a silent channel or re-create a broken peer connection.
#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/log/proxy_log.h"
#include "util/json_writer.h"
#include "util/media_clock.h"
#include "util/win32_shims.h"

namespace {

const uint32_t kSilenceMs = 5000;      // a channel this quiet is asked to reset
const uint32_t kResetRepeatMs = 2800;  // and asked again this often
const uint32_t kRecreateRepeatMs = 2000;

// Chunk totals for the per-chunk line only.
std::atomic<uint32_t> g_chunkBytes{0};
std::atomic<uint32_t> g_chunkTick{0};
std::atomic<uint32_t> g_chunkTimestamp{0};

}  // namespace

void CWebRtcConnect::SendReset(const char* type, const std::string& peerId)
{
    Json::Value message(Json::objectValue);
    message["peerconnectionid"] = peerId;
    message["type"] = type;
    if (m_owner)
        m_owner->NotifyWebrtcConsult(0, cv::toStyledString(message));
}

int CWebRtcConnect::SendDataChnlParam2CorvaneSDK(uint32_t handle, RtcDataPacket* packet)
{
    const uint32_t current = GetCurrentHandle();
    if (handle != current) {
        ProxyLog(1, "CWebRtcConnect::SendDataChnlParam2CorvaneSDK: recv data peerobj error! curhandle:%d, prehandle:%d",
                 handle, current);
        return 0;
    }
    // Packet rate: refresh the live entry in place; the whole peer record is
    // copied only to start an entry.
    if (!RefreshDataChnlTime(handle, MediaClockNow())) {
        PeerInfo peer;
        if (GetPeerinfoByHandle(handle, peer) != 0)
            return -1;
        UpdateDataChnlTime(peer);
    }
    if (packet)
        OnReceiveData(handle, packet->channelId, packet->data, packet->length);
    return 0;
}

bool CWebRtcConnect::RefreshDataChnlTime(uint32_t handle, uint32_t now)
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    return RefreshDataChnlEntries(handle, now);
}

bool CWebRtcConnect::RefreshDataChnlEntries(uint32_t handle, uint32_t now)
{
    bool found = false;
    for (PeerInfo& entry : m_dataChannels) {
        if (entry.handle == handle) {
            entry.lastDataTime = now;
            found = true;
        }
    }
    return found;
}

int CWebRtcConnect::UpdateDataChnlTime(const PeerInfo& peer)
{
    const uint32_t now = MediaClockNow();
    // One hold for the look and the append: the packet path and the
    // channel's opening run on different library threads, and both may
    // find no entry.
    std::lock_guard<std::mutex> lock(m_dataMutex);
    if (RefreshDataChnlEntries(peer.handle, now))
        return 0;
    m_dataChannels.push_back(peer);
    m_dataChannels.back().lastDataTime = now;
    return 0;
}

int CWebRtcConnect::RemoveDataChnlEntry(uint32_t handle)
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    for (auto it = m_dataChannels.begin(); it != m_dataChannels.end(); ++it) {
        if (it->handle == handle) {
            m_dataChannels.erase(it);
            break;
        }
    }
    return 0;
}

int CWebRtcConnect::ResetDataChnlConfig(uint32_t handle, uint32_t channelId)
{
    RemoveDataChnlEntry(handle);
    // The handle becomes current, the sequence starts at 0 and the demuxer
    // is made anew, all in one hold of the ring (OnChannelReset).
    ResetChannel(handle);

    PeerInfo peer;
    if (GetPeerinfoByHandle(handle, peer) != 0) {
        ProxyLog(16, "CWebRtcConnect::ResetDataChnlConfig: GetPeerinfoByHandle fail!");
        return -1;
    }
    peer.resetNotifyTime = 0;
    UpdateDataChnlTime(peer);
    ProxyLog(4, "CWebRtcConnect::ResetDataChnlConfig: Handle:%d, peerId:%s, ChnlId:%d, notifyResetTime:%d", handle,
             peer.peerId.c_str(), channelId, 0);
    return 0;
}

void CWebRtcConnect::OnChannelReset(uint32_t /*handle*/)
{
    if (m_owner)
        m_owner->ResetMuxerHelper();
}

int CWebRtcConnect::ResetPeerConnectionObj(uint32_t handle)
{
    if (m_h5handlestreamtype != 2)
        return 0;
    PeerInfo peer;
    if (GetPeerinfoByHandle(handle, peer) != 0)
        return -1;
    // A data-channel peer is kept alive by its own watch.
    if (peer.mediaMask & kMaskData)
        return 0;
    std::lock_guard<std::mutex> lock(m_resetMutex);
    for (const PeerInfo& entry : m_resetPeers)
        if (entry.handle == handle)
            return 0;
    peer.resetNotifyTime = MediaClockNow();
    m_resetPeers.push_back(peer);
    SendReset("resetpeerobj", peer.peerId);
    ProxyLog(4, "CWebRtcConnect::ResetPeerConnectionObj: handle:%d, peerId:%s", handle, peer.peerId.c_str());
    return 0;
}

int CWebRtcConnect::NotifyClientResetDataChnl()
{
    const uint32_t start = MediaClockNow();
    {
        std::lock_guard<std::mutex> lock(m_dataMutex);
        for (PeerInfo& entry : m_dataChannels) {
            uint32_t now = MediaClockNow();
            if (entry.lastDataTime != 0 && TickDistance(now, entry.lastDataTime) > kSilenceMs) {
                SendReset("resetdatachannel", entry.peerId);
                ProxyLog(4,
                         "CWebRtcConnect::NotifyClientResetDataChnl: recv data timeout! handle:%d, peerId:%s, "
                         "suportMedia:%d, curTime:%d, sendTime:%d",
                         entry.handle, entry.peerId.c_str(), entry.mediaMask, start, entry.lastDataTime);
                entry.lastDataTime = 0;
                entry.resetNotifyTime = now;
            }
            now = MediaClockNow();
            if (entry.resetNotifyTime != 0 && TickDistance(now, entry.resetNotifyTime) > kResetRepeatMs) {
                SendReset("resetdatachannel", entry.peerId);
                ProxyLog(4,
                         "CWebRtcConnect::NotifyClientResetDataChnl: recreate peerconnection obj timeout!handle:%d, "
                         "peerId:%s, suportMedia:%d, curTime:%d, sendTime:%d",
                         entry.handle, entry.peerId.c_str(), entry.mediaMask, start, entry.resetNotifyTime);
                entry.resetNotifyTime = now;
            }
        }
    }
    std::lock_guard<std::mutex> lock(m_resetMutex);
    for (PeerInfo& entry : m_resetPeers) {
        const uint32_t now = MediaClockNow();
        if (TickDistance(now, entry.resetNotifyTime) > kRecreateRepeatMs) {
            SendReset("resetpeerobj", entry.peerId);
            ProxyLog(4, "CWebRtcConnect::NotifyClientResetPeerObj: handle:%d, peerId:%s", entry.handle,
                     entry.peerId.c_str());
            entry.resetNotifyTime = now;
        }
    }
    return 0;
}

std::vector<PeerInfo> CWebRtcConnect::DataChannels() const
{
    std::lock_guard<std::mutex> lock(m_dataMutex);
    return m_dataChannels;
}

std::vector<PeerInfo> CWebRtcConnect::ResetPeers() const
{
    std::lock_guard<std::mutex> lock(m_resetMutex);
    return m_resetPeers;
}

void CWebRtcConnect::OnChunkData(uint32_t handle, uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags)
{
    if (ProxyLogEnabled(1)) {
        const uint32_t now = MediaClockNow();
        const uint32_t lastTick = g_chunkTick.exchange(now);
        const uint32_t lastTimestamp = g_chunkTimestamp.exchange(timestamp);
        const uint32_t total = g_chunkBytes.fetch_add(length) + length;
        const uint32_t tickDiff = lastTick ? TickDistance(now, lastTick) : 0;
        ProxyLog(1,
                 "*** OnChunkData.. dataLen=%d, timeStamp=%u, Tdiff=%u, curTime=%u, Cdiff=%u, longTime=%d, dwFlags=%d, "
                 "total=%u",
                 length, timestamp, lastTimestamp ? timestamp - lastTimestamp : 0, now, tickDiff,
                 tickDiff > 100 ? 1 : 0, flags, total);
    }
    PeerMedia peer;
    if (GetPeerMediaByHandle(handle, peer) != 0)
        ProxyLog(4, "CWebRtcConnect::OnChunkData: get peerInfo fail!");
    if (m_owner)
        m_owner->OnChunkData(peer.userId, peer.streamIndex, data, length, timestamp, flags);
}

void CWebRtcConnect::OnDataLoss()
{
    ProxyLog(4, "OnDataLoss...");
}

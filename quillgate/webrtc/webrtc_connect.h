// The browser side of the session: the browser's WebRTC settings, the
// media library's peer objects and their table, and the signalling that
// passes between the browser and the library, rewritten per peer.
#ifndef QG_WEBRTC_WEBRTC_CONNECT_H
#define QG_WEBRTC_WEBRTC_CONNECT_H

#include <atomic>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

#include "quillgate/webrtc/cvrtc_api.h"
#include "quillgate/webrtc/data_channel_base.h"
#include "quillgate/webrtc/webrtc_connect_owner.h"
#include "util/async_event_manager.h"

// One peer object of the media library, copied in and out of the tables.
struct PeerInfo {
    std::string peerId;   // the browser's "peerconnectionid"
    uint32_t userId = 0;  // whose media it carries; the own user is -1
    uint32_t streamIndex = 0;
    uint32_t handle = 0;      // the library's handle
    uint32_t streamType = 0;  // 1 the browser sends, 2 the browser receives
    std::string iceServer;
    std::string extendInfo;  // the creation request's JSON text
    uint32_t mediaMask = 0;  // seen in the browser's descriptions: 1 audio, 2 video, 4 data channel
    uint32_t resetNotifyTime = 0;
    uint32_t lastDataTime = 0;
};

// What a frame needs of its peer: numbers only, no strings.
struct PeerMedia {
    uint32_t userId = 0;
    uint32_t streamIndex = 0;
    uint32_t streamType = 0;
    uint32_t mediaMask = 0;
};

class CWebRtcConnect : public CSilentAsyncEventDelegate, public CDataChannelBase
{
public:
    static const uint32_t kMaskAudio = 1;
    static const uint32_t kMaskVideo = 2;
    static const uint32_t kMaskData = 4;
    static const uint32_t kMaskAny = 255;

    CWebRtcConnect();
    ~CWebRtcConnect() override;

    void SetOwner(IWebRtcConnectOwner* owner) { m_owner = owner; }

    // Marks the side ready; the media library itself loads with the
    // browser's init parameters.
    int Initialize();
    // Uninitialises the media library (its peers end with it).
    int UnInitialize();
    // Set by Initialize; the stop sequence and tests read it.
    bool IsReady() const { return m_ready.load() != 0; }

    // Main-loop timer hook (data-channel liveness).
    int OnTimer();

    // The browser's general parameters: type 1 init parameters (which also
    // load and initialise the media library), type 2 video codec; other
    // types are not the WebRTC side's (0).
    int HandleWebCommand(int type, const std::string& json);
    int HandleInitParam(const std::string& json);
    int HandleSetVideoCodec(const std::string& json);
    // The video codec the system prefers towards the browser (1 H.264, 2 VP9, 3 VP8).
    void SetH5VideoCodec(uint32_t codec);
    uint32_t GetConfigVideoCodec() const { return m_configVideoCodec; }
    // The codec applied to the browser's video: 0, then 3, then 1 for good.
    uint32_t GetApplyVideoCodec() const { return m_applyVideoCodec; }
    // Tells the browser the codecs in use ("mediacodec").
    int SendMediaCodecInfo(uint32_t applyVideo, uint32_t audio);

    int GetPlatformType() const { return m_platformType; }
    int GetBrowserType() const { return m_browserType; }
    // 2 (the default): the SDK serves cameras; otherwise the browser's own
    // peer objects do.
    int GetH5HandleStreamType() const { return m_h5handlestreamtype; }

    // ---- peer objects ----
    // consultParam: type 1 creates or destroys a peer (one reply on every
    // road); other types -1 without a reply.
    int HandlePeerObjMessage(int type, const std::string& json);
    int PeerObjParamDeal(const std::string& iceServer, const std::string& json);
    // 0 created (or skipped for browser type 2 receiving), else a failure.
    int CreateWebrtcSDK(uint32_t userId, int streamType, uint32_t streamIndex, const std::string& iceServer,
                        const std::string& json);
    int DestroyWebrtcSDK(uint32_t userId, uint32_t streamIndex, uint32_t mask);
    int DestroyWebrtcSDK(const std::string& peerId);
    // Uninitialises the library and empties every table; settings stay.
    int DestroyAllWebrtcSDK();

    // ---- lookups: copies, taken under the table's mutex ----
    int GetPeerinfoByHandle(uint32_t handle, PeerInfo& out);
    int GetPeerinfoByPeerId(const std::string& peerId, PeerInfo& out);
    int UpdatePeerInfoByPeerId(const std::string& peerId, const PeerInfo& in);
    // -1 when no peer of that user and stream carries a medium of mask.
    uint32_t GetPeerHandle(uint32_t userId, uint32_t streamIndex, uint32_t mask);
    // -1 for the own user id, else the id unchanged.
    uint32_t MapUserId(uint32_t userId) const;
    std::vector<PeerInfo> Peers() const;

    // ---- removal: the first matching record of each table ----
    void DelPeerInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask);
    void DelDataChnlInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask);
    void DelResetPeerInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask);
    void DelAllPeerInfo(uint32_t userId, uint32_t streamIndex, uint32_t mask);
    void DelPeerInfo(const std::string& peerId);
    void DelDataChnlInfo(const std::string& peerId);
    void DelResetPeerInfo(const std::string& peerId);
    void DelAllPeerInfo(const std::string& peerId);

    // ---- signalling ----
    // webrtcConsult: a browser offer, answer or candidate for the library.
    int SetDescriptionInfo(const std::string& json);
    // A library offer (1), answer (2) or candidate for the browser.
    int SendNativeInfo2Web(uint32_t handle, uint32_t messageType, const std::string& json);
    int ModifyWebOfferInfo(PeerInfo& peer, std::string& json);
    int ModifyWebAnswerInfo(PeerInfo& peer, std::string& json);
    int ModifyNativeOfferInfo(const PeerInfo& peer, std::string& json);
    int ModifyNativeAnswerInfo(const PeerInfo& peer, std::string& json);
    // The codec the browser's video is to use for this description.
    uint32_t ChooseVideoCodec(const std::string& json);
    int SetUpMediaFormat(uint32_t videoCodec, uint32_t audioCodec);
    int SetDownMediaFormat(uint32_t videoCodec, uint32_t width, uint32_t height, uint32_t fps, uint32_t audioCodec,
                           uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample);

    // ---- media relay ----
    // A remote user's frame (SDK thread) to the browser's receiving peer of
    // that user and stream; dropped silently when there is none.
    void OnReceiveVideoStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                              uint32_t timestamp, uint32_t rotation);
    void OnReceiveAudioStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                              uint32_t timestamp);
    int GetPeerMediaByHandle(uint32_t handle, PeerMedia& out);

    // ---- library events and data ----
    int OnWebrtcSDKLog(uint32_t handle, uint32_t level, const char* text);
    int OnWebrtcAudioData(uint32_t handle, RtcAudioFrame* frame);
    int OnWebrtcVideoData(uint32_t handle, RtcVideoFrame* frame);
    int SendDataChnlParam2CorvaneSDK(uint32_t handle, RtcDataPacket* packet);
    int ResetDataChnlConfig(uint32_t handle, uint32_t channelId);
    int ResetPeerConnectionObj(uint32_t handle);
    // Reassembled data-channel chunks and lost frames.
    void OnChunkData(uint32_t handle, uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags) override;
    void OnDataLoss() override;
    void OnChannelReset(uint32_t handle) override;

    // ---- data-channel liveness ----
    // The watch, every main-loop round: a channel silent over 5000 ms is
    // asked to reset, again every 2800 ms until it reopens; a peer asked to
    // be re-created is asked again every 2000 ms until it goes.
    int NotifyClientResetDataChnl();
    int UpdateDataChnlTime(const PeerInfo& peer);
    int RemoveDataChnlEntry(uint32_t handle);
    std::vector<PeerInfo> DataChannels() const;
    std::vector<PeerInfo> ResetPeers() const;

    // ---- SDP rewriting: stateless text operations on a signalling message (sdp_rewrite.cpp) ----
    static int SetSdpDirection(int mode, std::string& json);
    static int DelSDPSsrcInfo(std::string& json);
    static int FilterVideoCodec(std::string& json, int codec, int flag);
    static void CheckMediaType(const std::string& json, bool& video, bool& audio, bool& data);
    static void CheckVideoCodec(const std::string& json, bool& h264, bool& vp8, bool& vp9);
    static int ReplaceAllString(std::string& text, const std::string& from, const std::string& to);
    static int ModifyDataChnlProtocol(std::string& json);
    static std::vector<std::string> SplitString(std::string& text, std::string delimiter);
    static int ReplaceSdpInfo(std::string& json, const std::string& member);

private:
    bool SdpLogOn() const;
    uint32_t TargetUser(uint32_t userId) const;
    // Refreshes the live entry of this handle; false when it has none.
    bool RefreshDataChnlTime(uint32_t handle, uint32_t now);
    // The same with the live data-channel mutex already held.
    bool RefreshDataChnlEntries(uint32_t handle, uint32_t now);
    void SendReset(const char* type, const std::string& peerId);
    // Creation under one hold of the peer table; with unlessExisting, a
    // peer id already in the table creates nothing (existed set).
    int CreatePeer(uint32_t userId, int streamType, uint32_t streamIndex, const std::string& iceServer,
                   const std::string& json, bool unlessExisting, bool& existed);

    IWebRtcConnectOwner* m_owner;
    mutable std::mutex m_peerMutex;   // the peer table
    mutable std::mutex m_dataMutex;   // the live data-channel table
    mutable std::mutex m_resetMutex;  // the re-creation table
    std::vector<PeerInfo> m_peers;
    std::vector<PeerInfo> m_dataChannels;
    std::vector<PeerInfo> m_resetPeers;
    std::atomic<uint8_t> m_ready;
    std::atomic<int> m_platformType;
    std::atomic<int> m_browserType;
    std::atomic<int> m_h5handlestreamtype;
    std::atomic<uint32_t> m_configVideoCodec;
    std::atomic<uint32_t> m_applyVideoCodec;
};

// The five callbacks handed to the library for every peer; the user value
// is the one CWebRtcConnect. Each returns -1 at once without it.
int OnWebrtcAudioDataCallBack(uint32_t handle, RtcAudioFrame* frame, uint32_t, uint32_t, void* user);
int OnWebrtcVideoDataCallBack(uint32_t handle, RtcVideoFrame* frame, uint32_t, uint32_t, void* user);
int OnWebrtcDataChnlCallBack(uint32_t handle, RtcDataPacket* packet, uint32_t, uint32_t, void* user);
int OnWebrtcEventCallBack(uint32_t handle, int event, uint32_t param, uint64_t, const char* text, void* user);
int OnWebrtcInfoCallBack(uint32_t handle, uint32_t messageType, uint32_t, const char* text, void* user);

#endif

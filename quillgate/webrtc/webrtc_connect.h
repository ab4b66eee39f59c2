// The browser side of the session: WebRTC peer objects of the media library.
#ifndef QG_WEBRTC_WEBRTC_CONNECT_H
#define QG_WEBRTC_WEBRTC_CONNECT_H

#include <atomic>
#include <stdint.h>
#include <string>

#include "util/async_event_manager.h"

class CConnectMgr;

class CWebRtcConnect : public IAsyncEventDelegate
{
public:
    CWebRtcConnect();
    ~CWebRtcConnect() override;

    void SetOwner(CConnectMgr* owner) { m_owner = owner; }

    // Marks the side ready; the media library itself loads with the
    // browser's init parameters.
    int Initialize();
    int UnInitialize();
    bool IsReady() const { return m_ready.load() != 0; }

    // Main-loop timer hook (data-channel liveness).
    int OnTimer();

    // The browser's general parameters: type 1 init parameters, type 2
    // video codec; other types are not the WebRTC side's (0).
    int HandleWebCommand(int type, const std::string& json);
    int HandleInitParam(const std::string& json);
    int HandleSetVideoCodec(const std::string& json);
    // The video codec the system prefers towards the browser (1 H.264, 2 VP9, 3 VP8).
    void SetH5VideoCodec(uint32_t codec);
    uint32_t GetConfigVideoCodec() const { return m_configVideoCodec; }

    int GetPlatformType() const { return m_platformType; }
    int GetBrowserType() const { return m_browserType; }
    // 2 (the default): the SDK serves cameras; otherwise the browser's own
    // peer objects do.
    int GetH5HandleStreamType() const { return m_h5handlestreamtype; }

    // Peer objects of the media library.
    int HandlePeerObjMessage(int type, const std::string& json);
    int SetDescriptionInfo(const std::string& json);
    int CreateWebrtcSDK(uint32_t userId, int streamType, uint32_t streamIndex, const std::string& iceServer,
                        const std::string& json);
    int DestroyAllWebrtcSDK();
    int DestroyWebrtcSDK(uint32_t userId, uint32_t streamIndex, uint32_t mask);

    void OnAsyncRequestResult(CV_GUID, uint32_t, uint32_t, const char*, uint32_t, uint32_t, uint32_t, const char*,
                              uint32_t) override {}
    void OnAsyncNotify(CV_GUID, uint32_t, uint32_t, uint32_t, const char*, uint32_t) override {}
    void OnAsyncSeqRequestResult(CV_GUID, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char*,
                                 uint32_t, const char*, uint32_t) override {}

private:
    CConnectMgr* m_owner;
    std::atomic<uint8_t> m_ready;
    std::atomic<int> m_platformType;
    std::atomic<int> m_browserType;
    std::atomic<int> m_h5handlestreamtype;
    std::atomic<uint32_t> m_configVideoCodec;
};

#endif

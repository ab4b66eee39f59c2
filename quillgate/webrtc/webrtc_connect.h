// The browser side of the session: WebRTC peer objects of the media library.
#ifndef QG_WEBRTC_WEBRTC_CONNECT_H
#define QG_WEBRTC_WEBRTC_CONNECT_H

#include <atomic>
#include <stdint.h>

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

    // Peer teardown at logout and when a user leaves the room.
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
};

#endif

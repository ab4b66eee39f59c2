#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/session/connect_mgr.h"

CWebRtcConnect::CWebRtcConnect() : m_owner(nullptr), m_ready(0) {}

CWebRtcConnect::~CWebRtcConnect() {}

int CWebRtcConnect::Initialize()
{
    m_ready = 1;
    return 0;
}

int CWebRtcConnect::UnInitialize()
{
    m_ready = 0;
    return 0;
}

int CWebRtcConnect::OnTimer()
{
    // No data channel is watched before the media library creates peers.
    return 0;
}

int CWebRtcConnect::DestroyAllWebrtcSDK()
{
    // No peer object exists before the media library is loaded.
    CConnectMgr::Log(4, "CWebRtcConnect::DestroyAllWebrtcSDK: clean all webrtcsdk obj success!");
    return 0;
}

int CWebRtcConnect::DestroyWebrtcSDK(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    (void)userId;
    (void)streamIndex;
    (void)mask;
    // Nothing to find in an empty peer table.
    CConnectMgr::Log(4, "CWebRtcConnect::DestroyWebrtcSDK: destroy webrtcsdk obj success! handle:%d", -1);
    return 0;
}

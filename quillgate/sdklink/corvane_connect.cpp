#include "quillgate/sdklink/corvane_connect.h"

#include <cstring>
#include <string>

#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/corvane_quillgate.h"
#include "util/win32_shims.h"

namespace {

void SetIntOption(int option, int value)
{
    CVAPI_SetSDKOption(option, &value, sizeof(value));
}

// Notify message number -> handler; both arguments go to every handler.
struct NotifyRoute {
    uint32_t message;
    void (CCorvaneConnect::*handler)(uint32_t wParam, uint32_t lParam);
};

const NotifyRoute kNotifyRoutes[] = {
    {CV_MSG_CONNECT, &CCorvaneConnect::OnConnect},
    {CV_MSG_LOGIN, &CCorvaneConnect::OnLoginSystem},
    {CV_MSG_ENTERROOM, &CCorvaneConnect::OnEnterRoom},
    {CV_MSG_MICSTATE, &CCorvaneConnect::OnMicStateChange},
    {CV_MSG_USERATROOM, &CCorvaneConnect::OnUserAtRoom},
    {CV_MSG_LINKCLOSE, &CCorvaneConnect::OnLinkClose},
    {CV_MSG_ONLINEUSER, &CCorvaneConnect::OnOnlineUser},
    {CV_MSG_CAMERASTATE, &CCorvaneConnect::OnCameraStateChange},
    {CV_MSG_VIDEOSIZE, &CCorvaneConnect::OnVideoSizeChange},
    {CV_MSG_USERINFO, &CCorvaneConnect::OnUserInfoUpdate},
    {CV_MSG_FRIEND, &CCorvaneConnect::OnFriendStatus},
};

}  // namespace

CCorvaneConnect::CCorvaneConnect()
    : m_owner(nullptr), m_ownUserId(static_cast<uint32_t>(-1)), m_connected(0), m_platformType(1),
      m_browserType(0), m_h5VideoCodec(0), m_inputVideoFormatSet(0), m_inputAudioFormatSet(0), m_outVideoSet(0),
      m_outAudioSet(0), m_videoCodec(0), m_audioCodec(0), m_firstChunkSent(0), m_sdkFunctions(0),
      m_serverFunctions(0), m_sdkRunning(false)
{
}

CCorvaneConnect::~CCorvaneConnect()
{
    ReleaseSDK();
    std::lock_guard<std::mutex> lock(m_mediaMutex);
    ClearCmdCache();
}

int CCorvaneConnect::InitSDK()
{
    unsigned int mainVer = 0;
    unsigned int subVer = 0;
    char buildTime[100] = {0};
    CVAPI_GetSDKVersion(&mainVer, &subVer, buildTime, sizeof(buildTime));
    CVAPI_ActiveCallLog(1);
    CVAPI_InitSDK(nullptr, CV_INIT_FLAGS_DEFAULT);
    m_sdkRunning = true;

    // The SDK looks for its own files beside the program.
    char dir[256] = {0};
    if (GetModuleFileName(nullptr, dir, sizeof(dir)) == 0) {
        char* slash = strrchr(dir, '/');
        if (slash)
            slash[1] = '\0';
    }
    SetIntOption(CV_OPT_USE_RUN_DIRECTORY, 1);
    CVAPI_SetSDKOption(CV_OPT_RUN_DIRECTORY, dir, static_cast<int>(strlen(dir)));

    CVAPI_SetNotifyMessageCallBack(&CCorvaneConnect::OnCorvaneNotifyMessageCallBack, this);
    CVAPI_SetVideoDataExCallBack(CV_VIDEO_CB_FORMAT_ENCODED, &CCorvaneConnect::OnVideoDataCallBack, this);
    CVAPI_SetAudioDataExCallBack(&CCorvaneConnect::OnAudioDataCallBack, this);
    CVAPI_SetTextMessageCallBack(&CCorvaneConnect::OnTextMessageCallBack, this);
    CVAPI_SetTransBufferCallBack(&CCorvaneConnect::OnTransBufferCallBack, this);
    CVAPI_SetTransBufferExCallBack(&CCorvaneConnect::OnTransBufferExCallBack, this);
    CVAPI_SetVideoCallEventCallBack(&CCorvaneConnect::OnVideoCallEventCallBack, this);
    CVAPI_SetCallBack(CV_CBTYPE_RECORDEVENT, reinterpret_cast<void*>(&CCorvaneConnect::OnRecordEventCallBack), this);
    CVAPI_SetCallBack(CV_CBTYPE_OBJECTEVENT, reinterpret_cast<void*>(&CCorvaneConnect::OnObjectEventCallBack), this);
    CVAPI_SetCallBack(CV_CBTYPE_COREEVENT, reinterpret_cast<void*>(&CCorvaneConnect::OnCoreSDKEventCallBack), this);

    SetIntOption(CV_OPT_STREAM_CALLBACK, 1);
    SetIntOption(CV_OPT_EXTERNAL_VIDEO_INPUT, 1);
    SetIntOption(CV_OPT_EXTERNAL_AUDIO_INPUT, 1);
    return 0;
}

void CCorvaneConnect::ReleaseSDK()
{
    if (!m_sdkRunning.exchange(false))
        return;
    CVAPI_Logout();
    CVAPI_Release();
    ClearUserAttribut();
}

void CCorvaneConnect::WriteSDKLog(const char* line)
{
    // A released SDK has no log to write into.
    if (!m_sdkRunning || !line)
        return;
    std::string text = "[proxy] ";
    text += line;
    CVAPI_SetSDKOption(CV_OPT_WRITE_LOG, text.c_str(), static_cast<int>(text.size()));
}

// ---- user attributes ----

void CCorvaneConnect::AddUserAttribut(uint32_t userId, const UserAttrInfo& info)
{
    bool added = false;
    {
        std::lock_guard<std::mutex> lock(m_attrMutex);
        auto it = m_userAttrs.find(userId);
        if (it == m_userAttrs.end()) {
            m_userAttrs.emplace(userId, info);
            added = true;
        } else {
            it->second.deviceType = info.deviceType;
            it->second.lastIndex = info.lastIndex;
            it->second.joined = info.joined;
        }
    }
    // Logged outside the map's lock: the log road reaches the SDK.
    if (added)
        CConnectMgr::Log(4, "CCorvaneConnect::AddUserAttribut: add user attr info!");
    else
        CConnectMgr::Log(4, "CCorvaneConnect::AddUserAttribut: updata user attr info!");
}

int CCorvaneConnect::GetUserAttribut(uint32_t userId, UserAttrInfo& out)
{
    if (userId == static_cast<uint32_t>(-1))
        userId = m_ownUserId;
    std::lock_guard<std::mutex> lock(m_attrMutex);
    auto it = m_userAttrs.find(userId);
    if (it == m_userAttrs.end())
        return -1;
    out = it->second;
    return 0;
}

void CCorvaneConnect::DelUserAttribut(uint32_t userId)
{
    std::lock_guard<std::mutex> lock(m_attrMutex);
    m_userAttrs.erase(userId);
}

void CCorvaneConnect::ClearUserAttribut()
{
    std::lock_guard<std::mutex> lock(m_attrMutex);
    m_userAttrs.clear();
}

// ---- notify messages ----

bool CCorvaneConnect::HandleNotifyMessage(uint32_t message, uint32_t wParam, uint32_t lParam)
{
    for (const NotifyRoute& route : kNotifyRoutes) {
        if (route.message == message) {
            (this->*route.handler)(wParam, lParam);
            return true;
        }
    }
    return false;
}

void CCorvaneConnect::OnConnect(uint32_t wParam, uint32_t lParam)
{
    CConnectMgr::Log(4, "CCorvaneConnect::OnConnect ConnectSuccess:%d", lParam);
    // A failed connect is the pending login's answer: no login follows.
    if (wParam == 0 && m_owner)
        m_owner->ReplyLogin(static_cast<int>(m_ownUserId.load()), static_cast<int>(lParam));
}

void CCorvaneConnect::OnLoginSystem(uint32_t userId, uint32_t errorCode)
{
    CConnectMgr::Log(4, "CCorvaneConnect::OnLoginSystem dwUserId:%d,dwErrorCode:%d", userId, errorCode);
    if (errorCode == 0) {
        m_ownUserId = userId;
        CCorvaneQuillgate* service = g_lpCorvaneService;
        if (service)
            service->SetNeedUpdateName(1);
    }
    if (!m_owner)
        return;
    // A refused login keeps the id of the last successful one.
    m_owner->ReplyLogin(static_cast<int>(m_ownUserId.load()), static_cast<int>(errorCode));
    if (errorCode == 0)
        m_owner->NotifyAppConfigInfo();
}

void CCorvaneConnect::OnEnterRoom(uint32_t roomId, uint32_t errorCode)
{
    CConnectMgr::Log(4, "CCorvaneConnect::OnEnterRoom dwRoomId:%d,dwErrorCode:%d", roomId, errorCode);
    if (m_owner)
        m_owner->ReplyEnterRoom(static_cast<int>(roomId), static_cast<int>(errorCode));
}

void CCorvaneConnect::OnMicStateChange(uint32_t userId, uint32_t state)
{
    if (m_owner)
        m_owner->NotifyMicStateChange(static_cast<int>(userId), static_cast<int>(state));
}

void CCorvaneConnect::OnLinkClose(uint32_t, uint32_t errorCode)
{
    CConnectMgr::Log(4, "CCorvaneConnect::OnLinkClose dwErrorCode:%d", errorCode);
    if (m_owner)
        m_owner->NotifyLinkClose(static_cast<int>(errorCode));
}

void CCorvaneConnect::OnCameraStateChange(uint32_t userId, uint32_t state)
{
    CConnectMgr::Log(4, "CCorvaneConnect::OnCameraStateChange dwUserId:%d, dwCameraState:%d", userId, state);
    if (m_owner)
        m_owner->NotifyCameraStateChange(static_cast<int>(userId), static_cast<int>(state));
}

void CCorvaneConnect::OnVideoSizeChange(uint32_t userId, uint32_t size)
{
    CConnectMgr::Log(4, "CCorvaneConnect::OnVideoSizeChange dwUserId:%d, dwVideoSize:%d", userId, size);
    if (m_owner)
        m_owner->NotifyVideoSizeChange(static_cast<int>(userId), static_cast<int>(size));
}

void CCorvaneConnect::OnUserInfoUpdate(uint32_t userId, uint32_t type)
{
    if (m_owner)
        m_owner->NotifyUserInfoUpdate(static_cast<int>(userId), static_cast<int>(type));
}

// ---- SDK callbacks ----

void CCorvaneConnect::OnCorvaneNotifyMessageCallBack(unsigned int message, unsigned int wParam, unsigned int lParam,
                                                     void* user)
{
    if (!user)
        return;
    static_cast<CCorvaneConnect*>(user)->HandleNotifyMessage(message, wParam, lParam);
}

// The media, text, buffer, video-call, record, object and JSON events are
// carried to the connection manager in a later step; until then they only
// guard their user value.

void CCorvaneConnect::OnVideoDataCallBack(unsigned int, void*, unsigned int, unsigned int, void* user, unsigned int,
                                          unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                                          unsigned int, unsigned int, unsigned int)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnAudioDataCallBack(unsigned int, void*, unsigned int, WAVEFORMATEX, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnTextMessageCallBack(unsigned int, unsigned int, int, const char*, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnTransBufferCallBack(unsigned int, unsigned char*, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnTransBufferExCallBack(unsigned int, unsigned char*, unsigned int, unsigned int, unsigned int,
                                              unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnVideoCallEventCallBack(unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                                               const char*, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnObjectEventCallBack(unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                                            unsigned int, unsigned int, const char*, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnRecordEventCallBack(unsigned int, unsigned int, const char*, unsigned int, unsigned int,
                                            unsigned int, const char*, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnCoreSDKEventCallBack(unsigned int, const char*, void* user)
{
    if (!user)
        return;
}

#include "quillgate/sdklink/corvane_connect.h"

#include "quillgate/sdklink/demux/memory_demuxer.h"

#include <cstring>
#include <string>

#include "quillgate/log/proxy_log.h"
#include "util/module_loader.h"

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
    : m_owner(nullptr), m_ownUserId(static_cast<uint32_t>(-1)), m_connected(0), m_platformType(1), m_browserType(0),
      m_browserVideoCodec(0), m_inputVideoFormatSet(0), m_inputAudioFormatSet(0), m_outVideoSet(0), m_outAudioSet(0),
      m_videoCodec(0), m_audioCodec(0), m_firstChunkSent(0), m_demuxer(new CMemoryDemuxer), m_sdkFunctions(0),
      m_serverFunctions(0), m_sdkRunning(false)
{}

CCorvaneConnect::~CCorvaneConnect()
{
    // The demuxer's thread feeds the SDK: it goes first.
    delete m_demuxer;
    m_demuxer = nullptr;
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
    m_demuxer->SetDelegate(this);

    // The SDK looks for its own files beside the program.
    char dir[256] = {0};
    GetProgramFolder(dir, sizeof(dir));
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
        ProxyLog(4, "CCorvaneConnect::AddUserAttribut: add user attr info!");
    else
        ProxyLog(4, "CCorvaneConnect::AddUserAttribut: updata user attr info!");
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
    ProxyLog(4, "CCorvaneConnect::OnConnect ConnectSuccess:%d", lParam);
    // A failed connect is the pending login's answer: no login follows.
    if (wParam == 0 && m_owner)
        m_owner->ReplyLogin(static_cast<int>(m_ownUserId.load()), static_cast<int>(lParam));
}

void CCorvaneConnect::OnLoginSystem(uint32_t userId, uint32_t errorCode)
{
    ProxyLog(4, "CCorvaneConnect::OnLoginSystem dwUserId:%d,dwErrorCode:%d", userId, errorCode);
    if (errorCode == 0) {
        m_ownUserId = userId;
        if (m_owner)
            m_owner->RequestNameUpdate();
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
    ProxyLog(4, "CCorvaneConnect::OnEnterRoom dwRoomId:%d,dwErrorCode:%d", roomId, errorCode);
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
    ProxyLog(4, "CCorvaneConnect::OnLinkClose dwErrorCode:%d", errorCode);
    if (m_owner)
        m_owner->NotifyLinkClose(static_cast<int>(errorCode));
}

void CCorvaneConnect::OnCameraStateChange(uint32_t userId, uint32_t state)
{
    ProxyLog(4, "CCorvaneConnect::OnCameraStateChange dwUserId:%d, dwCameraState:%d", userId, state);
    if (m_owner)
        m_owner->NotifyCameraStateChange(static_cast<int>(userId), static_cast<int>(state));
}

void CCorvaneConnect::OnVideoSizeChange(uint32_t userId, uint32_t size)
{
    ProxyLog(4, "CCorvaneConnect::OnVideoSizeChange dwUserId:%d, dwVideoSize:%d", userId, size);
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

// Remote users' frames for the browser (corvane_media.cpp); the arguments
// not passed on are the SDK's own.

void CCorvaneConnect::OnVideoDataCallBack(unsigned int userId, void* buf, unsigned int len, unsigned int timeStamp,
                                          void* user, unsigned int, unsigned int, unsigned int width,
                                          unsigned int height, unsigned int, unsigned int, unsigned int, unsigned int,
                                          unsigned int rotation)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnCorvaneVideoData(userId, static_cast<uint8_t*>(buf), len, timeStamp,
                                                                width, height, rotation);
}

void CCorvaneConnect::OnAudioDataCallBack(unsigned int userId, void* buf, unsigned int len, WAVEFORMATEX format,
                                          unsigned int timeStamp, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnCorvaneAudioData(userId, static_cast<uint8_t*>(buf), len, format,
                                                                timeStamp);
}

void CCorvaneConnect::OnTextMessageCallBack(unsigned int fromUserId, unsigned int toUserId, int secret,
                                            const char* text, unsigned int len, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnTextMessage(fromUserId, toUserId, secret, text, len);
}

void CCorvaneConnect::OnTransBufferCallBack(unsigned int userId, unsigned char* buf, unsigned int len, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnTransBuffer(userId, buf, len);
}

void CCorvaneConnect::OnTransBufferExCallBack(unsigned int userId, unsigned char* buf, unsigned int len,
                                              unsigned int wParam, unsigned int lParam, unsigned int taskId, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnTransBufferEx(userId, buf, len, wParam, lParam, taskId);
}

void CCorvaneConnect::OnVideoCallEventCallBack(unsigned int eventType, unsigned int userId, unsigned int errorCode,
                                               unsigned int flags, unsigned int param, const char* userStr, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnVideoCallEvent(eventType, userId, errorCode, flags, param, userStr);
}

void CCorvaneConnect::OnObjectEventCallBack(unsigned int objectType, unsigned int objectId, unsigned int eventType,
                                            unsigned int param1, unsigned int param2, unsigned int param3,
                                            unsigned int param4, const char* strParam, void* user)
{
    // Logged even without a user value.
    ProxyLog(4,
             "invoke OnCorvaneObjectEventNotifyCallBack(objectType:%d, objectid:%d, evenType:%d, param1:%d, "
             "param2:%d, param3:%d, param4:%d, strparam:%s)",
             objectType, objectId, eventType, param1, param2, param3, param4, strParam ? strParam : "");
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnObjectEventNotify(objectType, objectId, eventType, param1, param2,
                                                                 param3, param4, strParam);
}

void CCorvaneConnect::OnRecordEventCallBack(unsigned int userId, unsigned int streamIndex, const char* fileName,
                                            unsigned int elapse, unsigned int flags, unsigned int param,
                                            const char* userStr, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnStreamRecord(userId, streamIndex, fileName, elapse, flags, param,
                                                            userStr);
}

void CCorvaneConnect::OnCoreSDKEventCallBack(unsigned int eventType, const char* json, void* user)
{
    if (user)
        static_cast<CCorvaneConnect*>(user)->OnCorvaneCoreSDKEvent(eventType, json);
}

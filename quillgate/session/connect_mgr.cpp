#include "quillgate/session/connect_mgr.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "quillgate/session/corvane_quillgate.h"
#include "quillgate/session/rpc_quillgate.h"
#include "util/win32_shims.h"

CConnectMgr& CConnectMgr::GetInstance()
{
    static CConnectMgr instance;
    return instance;
}

CConnectMgr::CConnectMgr()
    : m_heartbeatTick(0), m_h5vcodec(0), m_logLevel(4), m_debugFlags(0)
{
    m_webrtc.SetOwner(this);
    m_sdk.SetOwner(this);
}

CConnectMgr::~CConnectMgr() {}

void CConnectMgr::Log(uint32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

void CConnectMgr::LogV(uint32_t level, const char* format, va_list args)
{
    CConnectMgr& self = GetInstance();
    if (level < self.m_logLevel)
        return;
    char line[8192] = {0};
    vsnprintf(line, sizeof(line), format, args);
    self.m_sdk.WriteSDKLog(line);
}

bool CConnectMgr::HeartbeatExpired(uint32_t now, uint32_t lastBeat)
{
    if (lastBeat == 0)
        return false;
    const int32_t diff = static_cast<int32_t>(now - lastBeat);
    // Magnitude of a signed 32-bit difference; INT32_MIN has none, so widen.
    const int64_t magnitude = diff < 0 ? -static_cast<int64_t>(diff) : diff;
    return magnitude > kHeartbeatTimeoutMs;
}

int CConnectMgr::Init()
{
    const int ret = m_sdk.InitSDK();
    if (ret != 0)
        return ret;
    return m_webrtc.Initialize();
}

int CConnectMgr::Release()
{
    // Stop what calls back into the session before the session goes.
    m_sdk.ReleaseSDK();
    m_webrtc.UnInitialize();
    return 0;
}

void CConnectMgr::SetRpcProxy(rpcCorvaneQuillgate* rpc)
{
    std::lock_guard<std::mutex> lock(m_rpcLock);
    m_rpc = rpc;
}

void CConnectMgr::SetSessionId(const std::string& sessionId)
{
    std::lock_guard<std::mutex> lock(m_rpcLock);
    m_sessionId = sessionId;
}

std::string CConnectMgr::GetSessionId() const
{
    std::lock_guard<std::mutex> lock(m_rpcLock);
    return m_sessionId;
}

void CConnectMgr::SetStunServer(const std::string& host, int port)
{
    char url[1024] = {0};
    snprintf(url, sizeof(url), "stun:%s:%d", host.c_str(), port);
    std::lock_guard<std::mutex> lock(m_rpcLock);
    m_stunUrl = url;
}

std::string CConnectMgr::GetStunServer() const
{
    std::lock_guard<std::mutex> lock(m_rpcLock);
    return m_stunUrl;
}

rpcCorvaneQuillgateHandle CConnectMgr::GetRpc() const
{
    std::lock_guard<std::mutex> lock(m_rpcLock);
    return m_rpc;
}

void CConnectMgr::OnTimer()
{
    m_sdk.OnTimer();
    m_webrtc.OnTimer();

    if (!HeartbeatExpired(GetTickCount(), m_heartbeatTick))
        return;
    Log(4, "CConnectMgr::OnTimer: heartbeat timeout, exit proxy!");
    m_heartbeatTick = 0;
    CCorvaneQuillgate* service = g_lpCorvaneService;
    if (service)
        service->RequestExit();
}

int CConnectMgr::HeartBeat()
{
    m_heartbeatTick = GetTickCount();
    return 0;
}

int CConnectMgr::Logout(int reqid)
{
    m_webrtc.DestroyAllWebrtcSDK();
    m_sdk.doLogout();
    rpcCorvaneQuillgateHandle rpc = GetRpc();
    if (!rpc)
        return -1;
    return rpc->replyLogout(reqid, 0);
}

// Every notification: the servant handle and the session id are copied
// under the small lock, the call is made without it.
#define QG_NOTIFY(...)                                     \
    rpcCorvaneQuillgateHandle rpc;                         \
    std::string sessionId;                                 \
    {                                                      \
        std::lock_guard<std::mutex> lock(m_rpcLock);       \
        rpc = m_rpc;                                       \
        sessionId = m_sessionId;                           \
    }                                                      \
    if (!rpc)                                              \
        return -1;                                         \
    return rpc->__VA_ARGS__

int CConnectMgr::NotifyWebrtcConsult(int reqid, const std::string& jsonBuf)
{
    QG_NOTIFY(notifyWebrtcConsult(sessionId, reqid, jsonBuf));
}

int CConnectMgr::NotifyOnlineUser(int reqid, int roomId, const std::string& userList)
{
    QG_NOTIFY(notifyOnlineUser(sessionId, reqid, roomId, userList));
}

int CConnectMgr::NotifyStreamRecordEx(int reqid, int userId, const std::string& strParam, int param1, int param2,
                                      int param3, const std::string& /*userStr*/)
{
    // The gateway operation has no place for the user text.
    QG_NOTIFY(notifyStreamRecordEx(sessionId, reqid, userId, strParam, param1, param2, param3));
}

int CConnectMgr::NotifyTransBuffer(int reqid, int userId, const std::string& buf)
{
    QG_NOTIFY(notifyTransBuffer(sessionId, reqid, userId, buf));
}

int CConnectMgr::NotifyTransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2,
                                     int flags)
{
    QG_NOTIFY(notifyTransBufferEx(sessionId, reqid, userId, buf, param1, param2, flags));
}

int CConnectMgr::NotifyVideoCallEvent(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                                      const std::string& userStr)
{
    QG_NOTIFY(notifyVideoCallEvent(sessionId, reqid, eventType, userId, errorCode, flags, param, userStr));
}

int CConnectMgr::NotifyObjectEvent(int objectType, int objectId, int eventType, int param1, int param2, int param3,
                                   int param4, const std::string& strParam)
{
    QG_NOTIFY(notifyObjectEvent(sessionId, objectType, objectId, eventType, param1, param2, param3, param4, strParam));
}

int CConnectMgr::NotifySendTextMessage(int reqid, int fromUserId, int toUserId, bool secret, const std::string& buf)
{
    QG_NOTIFY(notifySendTextMessage(sessionId, reqid, fromUserId, toUserId, secret, buf));
}

int CConnectMgr::NotifyUserAtRoom(int reqid, int userId, const std::string& userName, bool enter, int param1,
                                  int param2)
{
    if (!enter) {
        // The local user's own departure goes out as -1, as its peers are stored.
        if (static_cast<uint32_t>(userId) == m_sdk.GetOwnUserId())
            userId = -1;
        m_webrtc.DestroyWebrtcSDK(static_cast<uint32_t>(userId), 0, 255);
    }
    QG_NOTIFY(notifyUserAtRoom(sessionId, reqid, userId, userName, enter, param1, param2));
}

int CConnectMgr::NotifyCameraStateChange(int userId, int cameraState)
{
    QG_NOTIFY(notifyCameraStateChange(sessionId, userId, cameraState));
}

int CConnectMgr::NotifyVideoSizeChange(int userId, int videoSize)
{
    QG_NOTIFY(notifyVideoSizeChange(sessionId, userId, videoSize));
}

int CConnectMgr::NotifyCoreSDKEvent(int eventType, const std::string& jsonBuf)
{
    QG_NOTIFY(notifyCoreSDKEvent(sessionId, eventType, jsonBuf));
}

int CConnectMgr::NotifyFriendStatus(int userId, const std::string& userName, const std::string& userInfo,
                                    int status)
{
    QG_NOTIFY(notifyFriendStatus(sessionId, userId, userName, userInfo, status));
}

int CConnectMgr::NotifyUserInfoUpdate(int userId, int type)
{
    QG_NOTIFY(notifyUserInfoUpdate(sessionId, userId, type));
}

int CConnectMgr::NotifyAppConfigInfo()
{
    QG_NOTIFY(notifyAppConfigInfo(sessionId));
}

int CConnectMgr::NotifyLinkClose(int errorCode)
{
    QG_NOTIFY(notifyLinkClose(sessionId, errorCode));
}

int CConnectMgr::NotifyMicStateChange(int userId, int state)
{
    QG_NOTIFY(notifyMicStateChange(sessionId, userId, state));
}

#include "quillgate/session/connect_mgr.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "quillgate/log/proxy_log.h"
#include "quillgate/session/corvane_quillgate.h"
#include "quillgate/session/rpc_quillgate.h"
#include "util/win32_shims.h"

CConnectMgr& CConnectMgr::GetInstance()
{
    static CConnectMgr instance;
    return instance;
}

CConnectMgr::CConnectMgr() : m_heartbeatTick(0), m_optionVideoCodec(0), m_debugFlags(0)
{
    SetProxyLogSink(&CConnectMgr::WriteToSdkLog);
    m_webrtc.SetOwner(this);
    m_sdk.SetOwner(this);
}

CConnectMgr::~CConnectMgr()
{
    // The members go after this body; what they log on the way out has no
    // SDK log left to go to.
    SetProxyLogSink(nullptr);
}

void CConnectMgr::Log(uint32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    LogV(level, format, args);
    va_end(args);
}

void CConnectMgr::LogV(uint32_t level, const char* format, va_list args)
{
    ProxyLogV(level, format, args);
}

void CConnectMgr::WriteToSdkLog(const char* line)
{
    GetInstance().m_sdk.WriteSDKLog(line);
}

bool CConnectMgr::HeartbeatExpired(uint32_t now, uint32_t lastBeat)
{
    if (lastBeat == 0)
        return false;
    return TickDistance(now, lastBeat) > kHeartbeatTimeoutMs;
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
    // Stop what calls back into the session before the session goes: the
    // data-channel road first (reassembly, then the demuxer it feeds), then
    // the SDK and the media library.
    m_webrtc.StopThread();
    m_sdk.DestroyDemuxer();
    m_sdk.ReleaseSDK();
    m_webrtc.UnInitialize();
    return 0;
}

void CConnectMgr::SetServant(rpcCorvaneQuillgate* servant)
{
    std::lock_guard<std::mutex> lock(m_servantLock);
    m_servant = servant;
}

void CConnectMgr::SetSessionId(const std::string& sessionId)
{
    std::lock_guard<std::mutex> lock(m_servantLock);
    m_sessionId = sessionId;
}

std::string CConnectMgr::GetSessionId() const
{
    std::lock_guard<std::mutex> lock(m_servantLock);
    return m_sessionId;
}

void CConnectMgr::SetStunServer(const std::string& host, int port)
{
    char url[1024] = {0};
    snprintf(url, sizeof(url), "stun:%s:%d", host.c_str(), port);
    std::lock_guard<std::mutex> lock(m_servantLock);
    m_stunUrl = url;
}

std::string CConnectMgr::GetStunServer() const
{
    std::lock_guard<std::mutex> lock(m_servantLock);
    return m_stunUrl;
}

rpcCorvaneQuillgateHandle CConnectMgr::GetServant() const
{
    std::lock_guard<std::mutex> lock(m_servantLock);
    return m_servant;
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

void CConnectMgr::RequestNameUpdate()
{
    CCorvaneQuillgate* service = g_lpCorvaneService;
    if (service)
        service->SetNeedUpdateName(1);
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
    rpcCorvaneQuillgateHandle servant = GetServant();
    if (!servant)
        return -1;
    return servant->replyLogout(reqid, 0);
}

// Every notification: the servant handle and the session id are copied
// under the small lock, the call is made without it.
template <typename Call>
int CConnectMgr::Notify(Call call)
{
    rpcCorvaneQuillgateHandle servant;
    std::string sessionId;
    {
        std::lock_guard<std::mutex> lock(m_servantLock);
        servant = m_servant;
        sessionId = m_sessionId;
    }
    if (!servant)
        return -1;
    return call(*servant, sessionId);
}

typedef rpcCorvaneQuillgate Servant;

int CConnectMgr::NotifyWebrtcConsult(int reqid, const std::string& jsonBuf)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyWebrtcConsult(sessionId, reqid, jsonBuf);
    });
}

int CConnectMgr::NotifyOnlineUser(int reqid, int roomId, const std::string& userList)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyOnlineUser(sessionId, reqid, roomId, userList);
    });
}

int CConnectMgr::NotifyStreamRecordEx(int reqid, int userId, const std::string& strParam, int param1, int param2,
                                      int param3, const std::string& /*userStr*/)
{
    // The gateway operation has no place for the user text.
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyStreamRecordEx(sessionId, reqid, userId, strParam, param1, param2, param3);
    });
}

int CConnectMgr::NotifyTransBuffer(int reqid, int userId, const std::string& buf)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyTransBuffer(sessionId, reqid, userId, buf);
    });
}

int CConnectMgr::NotifyTransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2, int flags)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyTransBufferEx(sessionId, reqid, userId, buf, param1, param2, flags);
    });
}

int CConnectMgr::NotifyVideoCallEvent(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                                      const std::string& userStr)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyVideoCallEvent(sessionId, reqid, eventType, userId, errorCode, flags, param, userStr);
    });
}

int CConnectMgr::NotifyObjectEvent(int objectType, int objectId, int eventType, int param1, int param2, int param3,
                                   int param4, const std::string& strParam)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyObjectEvent(sessionId, objectType, objectId, eventType, param1, param2, param3, param4,
                                         strParam);
    });
}

int CConnectMgr::NotifySendTextMessage(int reqid, int fromUserId, int toUserId, bool secret, const std::string& buf)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifySendTextMessage(sessionId, reqid, fromUserId, toUserId, secret, buf);
    });
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
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyUserAtRoom(sessionId, reqid, userId, userName, enter, param1, param2);
    });
}

int CConnectMgr::NotifyCameraStateChange(int userId, int cameraState)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyCameraStateChange(sessionId, userId, cameraState);
    });
}

int CConnectMgr::NotifyVideoSizeChange(int userId, int videoSize)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyVideoSizeChange(sessionId, userId, videoSize);
    });
}

int CConnectMgr::NotifyCoreSDKEvent(int eventType, const std::string& jsonBuf)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyCoreSDKEvent(sessionId, eventType, jsonBuf);
    });
}

int CConnectMgr::NotifyFriendStatus(int userId, const std::string& userName, const std::string& userInfo, int status)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyFriendStatus(sessionId, userId, userName, userInfo, status);
    });
}

int CConnectMgr::NotifyUserInfoUpdate(int userId, int type)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyUserInfoUpdate(sessionId, userId, type);
    });
}

int CConnectMgr::NotifyAppConfigInfo()
{
    return Notify(
        [&](Servant& servant, const std::string& sessionId) { return servant.notifyAppConfigInfo(sessionId); });
}

int CConnectMgr::NotifyLinkClose(int errorCode)
{
    return Notify(
        [&](Servant& servant, const std::string& sessionId) { return servant.notifyLinkClose(sessionId, errorCode); });
}

int CConnectMgr::NotifyMicStateChange(int userId, int state)
{
    return Notify([&](Servant& servant, const std::string& sessionId) {
        return servant.notifyMicStateChange(sessionId, userId, state);
    });
}

// ---- media formats, passed on unchanged ----

void CConnectMgr::SetUpVideoFrame(uint32_t codec)
{
    m_sdk.SetUpVideoFrame(codec);
}

void CConnectMgr::SetUpAudioFrame(uint32_t codec)
{
    m_sdk.SetUpAudioFrame(codec);
}

void CConnectMgr::SetDownVideoFrame(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps)
{
    m_sdk.SetDownVideoFrame(codec, width, height, fps);
}

void CConnectMgr::SetDownAudioFrame(uint32_t codec, uint32_t channels, uint32_t sampleRate, uint32_t bits)
{
    m_sdk.SetDownAudioFrame(codec, channels, sampleRate, bits);
}

// ---- frames, passed on unchanged ----

void CConnectMgr::OnReceiveVideoStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                       uint32_t length, uint32_t timestamp, uint32_t rotation)
{
    m_webrtc.OnReceiveVideoStream(userId, streamIndex, reserved, data, length, timestamp, rotation);
}

void CConnectMgr::OnReceiveAudioStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                       uint32_t length, uint32_t timestamp)
{
    m_webrtc.OnReceiveAudioStream(userId, streamIndex, reserved, data, length, timestamp);
}

void CConnectMgr::OnWebrtcAudioData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                    uint32_t length, uint32_t timestamp)
{
    m_sdk.InputAudioData(userId, streamIndex, reserved, data, length, timestamp);
}

void CConnectMgr::OnWebrtcVideoData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                    uint32_t length, uint32_t timestamp, uint32_t rotation)
{
    // The last argument is the key-frame flag the demuxer's road fills.
    m_sdk.InputVideoData(userId, streamIndex, reserved, data, length, timestamp, rotation, 0);
}

void CConnectMgr::OnChunkData(uint32_t userId, uint32_t streamIndex, uint8_t* data, uint32_t length, uint32_t timestamp,
                              uint32_t flags)
{
    m_sdk.OnChunkData(userId, streamIndex, data, length, timestamp, flags);
}

int CConnectMgr::SendMediaCodecInfo(uint32_t applyVideo, uint32_t audio)
{
    return m_webrtc.SendMediaCodecInfo(applyVideo, audio);
}

int CConnectMgr::ResetMuxerHelper()
{
    return m_sdk.ResetMuxerHelper();
}

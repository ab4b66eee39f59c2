// The hub of the session: the SDK client, the WebRTC side, the gateway
// servant and the one log function of the program.
#ifndef QG_SESSION_CONNECT_MGR_H
#define QG_SESSION_CONNECT_MGR_H

#include <atomic>
#include <map>
#include <mutex>
#include <pthread.h>
#include <stdint.h>
#include <string>
#include <vector>

#include <IceUtil/Handle.h>

#include "quillgate/sdklink/corvane_connect.h"
#include "quillgate/webrtc/webrtc_connect.h"
#include "util/async_event_manager.h"

class rpcCorvaneQuillgate;
typedef IceUtil::Handle<rpcCorvaneQuillgate> rpcCorvaneQuillgateHandle;

class CConnectMgr : public IAsyncEventDelegate
{
public:
    static CConnectMgr& GetInstance();

    // Lines below the threshold are dropped before formatting; kept lines
    // go into the SDK's own log.
    static void Log(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Heartbeat watchdog rule: armed by a non-zero tick, fires once the
    // wrapping distance from it exceeds 30000 ms.
    static bool HeartbeatExpired(uint32_t now, uint32_t lastBeat);
    static const uint32_t kHeartbeatTimeoutMs = 30000;

    int Init();
    int Release();

    // The servant handle is copied under a small lock for every call, so
    // it can be cleared at stop while SDK threads still notify.
    void SetRpcProxy(rpcCorvaneQuillgate* rpc);
    void SetSessionId(const std::string& sessionId);
    void SetH5VideoCodec(uint32_t codec) { m_h5vcodec = codec; }
    void SetStunServer(const std::string& host, int port);

    std::string GetSessionId() const;
    std::string GetStunServer() const;
    uint32_t GetH5VideoCodec() const { return m_h5vcodec; }
    uint32_t GetLogLevel() const { return m_logLevel; }
    void SetLogLevel(uint32_t level) { m_logLevel = level; }
    uint32_t GetDebugFlags() const { return m_debugFlags; }
    void SetDebugFlags(uint32_t flags) { m_debugFlags = flags; }

    void OnTimer();
    int HeartBeat();
    int Logout(int reqid);

    int NotifyWebrtcConsult(int reqid, const std::string& jsonBuf);
    int NotifyOnlineUser(int reqid, int roomId, const std::string& userList);
    int NotifyStreamRecordEx(int reqid, int userId, const std::string& strParam, int param1, int param2,
                             int param3, const std::string& userStr);
    int NotifyTransBuffer(int reqid, int userId, const std::string& buf);
    int NotifyTransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2, int flags);
    int NotifyVideoCallEvent(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                             const std::string& userStr);
    int NotifyObjectEvent(int objectType, int objectId, int eventType, int param1, int param2, int param3,
                          int param4, const std::string& strParam);
    int NotifySendTextMessage(int reqid, int fromUserId, int toUserId, bool secret, const std::string& buf);
    int NotifyUserAtRoom(int reqid, int userId, const std::string& userName, bool enter, int param1, int param2);
    int NotifyCameraStateChange(int userId, int cameraState);
    int NotifyVideoSizeChange(int userId, int videoSize);
    int NotifyCoreSDKEvent(int eventType, const std::string& jsonBuf);
    int NotifyFriendStatus(int userId, const std::string& userName, const std::string& userInfo, int status);
    int NotifyUserInfoUpdate(int userId, int type);
    int NotifyAppConfigInfo();
    int NotifyLinkClose(int errorCode);
    int NotifyMicStateChange(int userId, int state);

    CCorvaneConnect& GetSDKClient() { return m_sdk; }
    CWebRtcConnect& GetWebRtc() { return m_webrtc; }

    void OnAsyncRequestResult(CV_GUID, uint32_t, uint32_t, const char*, uint32_t, uint32_t, uint32_t, const char*,
                              uint32_t) override {}
    void OnAsyncNotify(CV_GUID, uint32_t, uint32_t, uint32_t, const char*, uint32_t) override {}
    void OnAsyncSeqRequestResult(CV_GUID, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char*,
                                 uint32_t, const char*, uint32_t) override {}

private:
    CConnectMgr();
    ~CConnectMgr() override;
    CConnectMgr(const CConnectMgr&) = delete;
    CConnectMgr& operator=(const CConnectMgr&) = delete;

    rpcCorvaneQuillgateHandle GetRpc() const;

    std::atomic<uint32_t> m_heartbeatTick;
    mutable std::mutex m_rpcLock;  // guards the servant handle and the session id
    rpcCorvaneQuillgateHandle m_rpc;
    std::string m_sessionId;
    std::string m_stunUrl;
    std::atomic<uint32_t> m_h5vcodec;
    CWebRtcConnect m_webrtc;
    CCorvaneConnect m_sdk;
    std::map<std::string, std::vector<int>> m_pending;
    pthread_mutex_t m_mutex;  // guards the pending-request table only
    std::atomic<uint32_t> m_logLevel;
    std::atomic<uint32_t> m_debugFlags;
};

#endif

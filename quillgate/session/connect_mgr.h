// The hub of the session: the SDK client, the WebRTC side, the gateway
// servant and the one log function of the program.
#ifndef QG_SESSION_CONNECT_MGR_H
#define QG_SESSION_CONNECT_MGR_H

#include <cstdarg>
#include <atomic>
#include <map>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

#include <IceUtil/Handle.h>

#include "quillgate/sdklink/corvane_connect.h"
#include "quillgate/session/request_table.h"
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
    static void LogV(uint32_t level, const char* format, va_list args);

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

    // Requests of the gateway: the id is filed under the operation's key,
    // the work forwarded; the result goes back to the gateway at once.
    int Login(int reqid, const std::string& host, const std::string& userName, const std::string& passWord,
              int passEncType, const std::string& jsonParam);
    int LoginEx(int reqid, const std::string& host, const std::string& nickName, int userId,
                const std::string& strUserId, const std::string& appId, int timeStamp, const std::string& sigStr,
                const std::string& strParam, const std::string& jsonParam);
    int EnterRoom(int reqid, int roomId, const std::string& roomPassWord, int passEncType);
    int EnterRoomEx(int reqid, const std::string& roomName, const std::string& roomPassWord, int passEncType);
    int LeaveRoom(int reqid);
    int UserCameraControl(int reqid, int userId, bool open);
    int UserSpeakControl(int reqid, int userId, bool open);
    int UserCameraControlEx(int reqid, int userId, bool open, int streamIndex, int flags, const std::string& strParam);
    int UserSpeakControlEx(int reqid, int userId, bool open, int streamIndex, int flags, const std::string& strParam);
    int ConsultParam(int reqid, int type, const std::string& jsonBuf);
    int WebrtcConsult(int reqid, const std::string& jsonBuf);
    int VideoCallControl(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                         const std::string& userStr);
    int ObjectSetValue(int reqid, int objectType, int objectId, int infoName, int valueType,
                       const std::string& infoValue);
    int ObjectGetValue(int reqid, int objectType, int objectId, int infoName, int valueType);
    int ObjectGetIdList(int reqid, int objectType);
    int SetSDKOptionString(int reqid, int optName, const std::string& optVal);
    int SetSDKOptionInt(int reqid, int optName, int optVal);
    int GetSDKOptionString(int reqid, int optName);
    int GetSDKOptionInt(int reqid, int optName);
    int SDKControl(int reqid, int ctrlCode, std::string param);
    int QueryUserState(int reqid, int userId, int infoName, int valueType);
    int TransBuffer(int reqid, int userId, const std::string& buf);
    int TransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2, int flags);
    int SendTextMessage(int reqid, int userId, bool secret, const std::string& buf);
    int StreamRecordCtrlEx(int reqid, int userId, bool startRecord, int flags, int param,
                           const std::string& userStr);
    int GetRoomOnlineUsers(int reqid, int roomId);
    int ObjectControl(int reqid, int objectType, int objectId, int ctrlCode, int param1, int param2, int param3,
                      int param4, const std::string& strParam);
    int SetGeneralParam(int reqid, int paramType, const std::string& jsonParam);
    int UserInfoControl(int reqid, int userId, int ctrlCode, int param1, int param2, const std::string& strValue);

    // Outcomes: one gateway reply per id filed under the key, in filing
    // order; 0 when some id was filed, -1 (nothing sent) otherwise.
    // ReplyLogin also answers "loginex", ReplyEnterRoom "enterroomex",
    // each only when its own key holds nothing.
    int ReplyLogin(int userId, int errorCode);
    int ReplyEnterRoom(int roomId, int errorCode);
    int ReplyLeaveRoom(int errorCode);
    int ReplyUserCameraControl(int userId, int errorCode);
    int ReplyUserCameraControlEx(int userId, int errorCode);
    int ReplyUserSpeakControl(int userId, int errorCode);
    int ReplyUserSpeakControlEx(int userId, int errorCode);
    int ReplyConsultParam(int userId, int errorCode, int type, const std::string& jsonBuf);
    int ReplyWebrtcConsult(int userId, const std::string& jsonBuf, int errorCode);
    int ReplyObjectSetValue(int errorCode);
    int ReplyObjectGetValue(int objectType, int objectId, int infoName, const std::string& infoValue, int errorCode);
    int ReplyObjectGetIdList(int objectType, const std::string& idList, int errorCode);
    int ReplySetSDKOptionString(int errorCode);
    int ReplySetSDKOptionInt(int errorCode);
    int ReplyGetSDKOptionString(int errorCode, int optName, const std::string& optVal);
    int ReplyGetSDKOptionInt(int errorCode, int optName, int optVal);
    int ReplySDKControl(int errorCode, const std::string& jsonBuf);
    int ReplyQueryUserState(int errorCode, int userId, int infoName, const std::string& infoValue);
    int ReplySendTextMessage(int errorCode);
    int ReplyStreamRecordCtrlEx(int errorCode);
    int ReplyGetRoomOnlineUsers(int roomId, const std::string& userList, int errorCode);
    int ReplyUserInfoControl(int errorCode);
    // Buffer transfers: one reply for the reqid given, no table.
    int ReplyTransBuffer(int reqid, int errorCode);
    int ReplyTransBufferEx(int reqid, int errorCode, int param);

    // The operations whose ids wait in the pending-request table.
    enum RouteId {
        kRouteLogin,
        kRouteLoginEx,
        kRouteEnterRoom,
        kRouteEnterRoomEx,
        kRouteLeaveRoom,
        kRouteUserCameraControl,
        kRouteUserCameraControlEx,
        kRouteUserSpeakControl,
        kRouteUserSpeakControlEx,
        kRouteConsult,
        kRouteWebrtcConsult,
        kRouteObjectSetValue,
        kRouteObjectGetValue,
        kRouteObjectGetIdList,
        kRouteSetSDKOptionString,
        kRouteSetSDKOptionInt,
        kRouteGetSDKOptionString,
        kRouteGetSDKOptionInt,
        kRouteSDKControl,
        kRouteQueryUserState,
        kRouteSendTextMessage,
        kRouteStreamRecordCtrlEx,
        kRouteGetRoomOnlineUsers,
        kRouteUserInfoControl,
        kRouteCount
    };
    static const char* RouteKey(RouteId route);
    size_t PendingCount(RouteId route) const;
    // Files an id as the route's request function does, without the
    // forward (for an outcome that comes from elsewhere, and for tests).
    void FilePending(RouteId route, int reqid);
    // Every key with its waiting ids.
    std::map<std::string, std::vector<int>> PendingRequests() const { return m_requests.Snapshot(); }

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
    // Files the id, runs the forward, and takes the id back when no
    // later outcome may answer it.
    template <typename Forward>
    int Route(RouteId route, int reqid, Forward forward);
    template <typename Send>
    int ReplyEach(RouteId route, Send send, const char* fallbackKey = nullptr);
    void HandOnVideoCodec();

    std::atomic<uint32_t> m_heartbeatTick;
    mutable std::mutex m_rpcLock;  // guards the servant handle and the session id
    rpcCorvaneQuillgateHandle m_rpc;
    std::string m_sessionId;
    std::string m_stunUrl;
    std::atomic<uint32_t> m_h5vcodec;
    CWebRtcConnect m_webrtc;
    CCorvaneConnect m_sdk;
    CRequestTable m_requests;
    std::atomic<uint32_t> m_logLevel;
    std::atomic<uint32_t> m_debugFlags;
};

#endif

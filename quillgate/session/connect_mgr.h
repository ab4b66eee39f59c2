// The hub of the session: the SDK client, the WebRTC side, the gateway
// servant and the one log function of the program.
#ifndef QG_SESSION_CONNECT_MGR_H
#define QG_SESSION_CONNECT_MGR_H

#include <atomic>
#include <cstdarg>
#include <map>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

#include <IceUtil/Handle.h>

#include "quillgate/log/proxy_log.h"
#include "quillgate/sdklink/corvane_connect.h"
#include "quillgate/sdklink/corvane_connect_owner.h"
#include "quillgate/session/request_table.h"
#include "quillgate/webrtc/webrtc_connect.h"
#include "quillgate/webrtc/webrtc_connect_owner.h"
#include "util/async_event_manager.h"

class rpcCorvaneQuillgate;
typedef IceUtil::Handle<rpcCorvaneQuillgate> rpcCorvaneQuillgateHandle;

class CConnectMgr : public CSilentAsyncEventDelegate, public ICorvaneConnectOwner, public IWebRtcConnectOwner
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
    void SetServant(rpcCorvaneQuillgate* servant);
    void SetSessionId(const std::string& sessionId);
    // The -z option; handed to the WebRTC side, which holds the setting, at every login.
    void SetH5VideoCodec(uint32_t codec) { m_optionVideoCodec = codec; }
    void SetStunServer(const std::string& host, int port);

    std::string GetSessionId() const;
    std::string GetStunServer() const override;
    void SetLogLevel(uint32_t level) { SetProxyLogLevel(level); }
    uint32_t GetDebugFlags() const override { return m_debugFlags; }
    void SetDebugFlags(uint32_t flags) override { m_debugFlags = flags; }
    uint32_t GetOwnUserId() const override { return m_sdk.GetOwnUserId(); }
    // Media formats the browser's descriptions fix, handed to the SDK client.
    void SetUpVideoFrame(uint32_t codec) override;
    void SetUpAudioFrame(uint32_t codec) override;
    void SetDownVideoFrame(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps) override;
    void SetDownAudioFrame(uint32_t codec, uint32_t channels, uint32_t sampleRate, uint32_t bits) override;
    // Frames between the two sides, passed on unchanged: no lock, no copy.
    void OnReceiveVideoStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                              uint32_t timestamp, uint32_t rotation) override;
    void OnReceiveAudioStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                              uint32_t timestamp) override;
    void OnWebrtcAudioData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                           uint32_t timestamp) override;
    void OnWebrtcVideoData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                           uint32_t timestamp, uint32_t rotation) override;
    void OnChunkData(uint32_t userId, uint32_t streamIndex, uint8_t* data, uint32_t length, uint32_t timestamp,
                     uint32_t flags) override;
    int ResetMuxerHelper() override;
    int SendMediaCodecInfo(uint32_t applyVideo, uint32_t audio) override;
    void RequestNameUpdate() override;

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
    int StreamRecordCtrlEx(int reqid, int userId, bool startRecord, int flags, int param, const std::string& userStr);
    int GetRoomOnlineUsers(int reqid, int roomId);
    int ObjectControl(int reqid, int objectType, int objectId, int ctrlCode, int param1, int param2, int param3,
                      int param4, const std::string& strParam);
    int SetGeneralParam(int reqid, int paramType, const std::string& jsonParam);
    int UserInfoControl(int reqid, int userId, int ctrlCode, int param1, int param2, const std::string& strValue);

    // Outcomes: one gateway reply per id filed under the key, in filing
    // order; 0 when some id was filed, -1 (nothing sent) otherwise.
    // ReplyLogin also answers "loginex", ReplyEnterRoom "enterroomex",
    // each only when its own key holds nothing.
    int ReplyLogin(int userId, int errorCode) override;
    int ReplyEnterRoom(int roomId, int errorCode) override;
    int ReplyLeaveRoom(int errorCode) override;
    int ReplyUserCameraControl(int userId, int errorCode) override;
    int ReplyUserCameraControlEx(int userId, int errorCode) override;
    int ReplyUserSpeakControl(int userId, int errorCode) override;
    int ReplyUserSpeakControlEx(int userId, int errorCode) override;
    int ReplyConsultParam(int userId, int errorCode, int type, const std::string& jsonBuf) override;
    int ReplyWebrtcConsult(int userId, const std::string& jsonBuf, int errorCode) override;
    int ReplyObjectSetValue(int errorCode) override;
    int ReplyObjectGetValue(int objectType, int objectId, int infoName, const std::string& infoValue,
                            int errorCode) override;
    int ReplyObjectGetIdList(int objectType, const std::string& idList, int errorCode) override;
    int ReplySetSDKOptionString(int errorCode) override;
    int ReplySetSDKOptionInt(int errorCode) override;
    int ReplyGetSDKOptionString(int errorCode, int optName, const std::string& optVal) override;
    int ReplyGetSDKOptionInt(int errorCode, int optName, int optVal) override;
    int ReplySDKControl(int errorCode, const std::string& jsonBuf) override;
    int ReplyQueryUserState(int errorCode, int userId, int infoName, const std::string& infoValue) override;
    int ReplySendTextMessage(int errorCode) override;
    int ReplyStreamRecordCtrlEx(int errorCode) override;
    int ReplyGetRoomOnlineUsers(int roomId, const std::string& userList, int errorCode) override;
    int ReplyUserInfoControl(int errorCode) override;
    // Buffer transfers: one reply for the reqid given, no table.
    int ReplyTransBuffer(int reqid, int errorCode) override;
    int ReplyTransBufferEx(int reqid, int errorCode, int param) override;

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
    // True for the routes whose outcome can only come in the forward: no
    // id of theirs is left filed once the request function returns.
    static bool AnsweredInForward(RouteId route);
    size_t PendingCount(RouteId route) const;
    // Files an id as the route's request function does, without the
    // forward (for an outcome that comes from elsewhere, and for tests).
    void FilePending(RouteId route, int reqid);
    // Every key with its waiting ids.
    std::map<std::string, std::vector<int>> PendingRequests() const { return m_requests.Snapshot(); }

    int NotifyWebrtcConsult(int reqid, const std::string& jsonBuf) override;
    int NotifyOnlineUser(int reqid, int roomId, const std::string& userList) override;
    int NotifyStreamRecordEx(int reqid, int userId, const std::string& strParam, int param1, int param2, int param3,
                             const std::string& userStr) override;
    int NotifyTransBuffer(int reqid, int userId, const std::string& buf) override;
    int NotifyTransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2, int flags) override;
    int NotifyVideoCallEvent(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                             const std::string& userStr) override;
    int NotifyObjectEvent(int objectType, int objectId, int eventType, int param1, int param2, int param3, int param4,
                          const std::string& strParam) override;
    int NotifySendTextMessage(int reqid, int fromUserId, int toUserId, bool secret, const std::string& buf) override;
    int NotifyUserAtRoom(int reqid, int userId, const std::string& userName, bool enter, int param1,
                         int param2) override;
    int NotifyCameraStateChange(int userId, int cameraState) override;
    int NotifyVideoSizeChange(int userId, int videoSize) override;
    int NotifyCoreSDKEvent(int eventType, const std::string& jsonBuf) override;
    int NotifyFriendStatus(int userId, const std::string& userName, const std::string& userInfo, int status) override;
    int NotifyUserInfoUpdate(int userId, int type) override;
    int NotifyAppConfigInfo() override;
    int NotifyLinkClose(int errorCode) override;
    int NotifyMicStateChange(int userId, int state) override;

    CCorvaneConnect& GetSDKClient() { return m_sdk; }
    CWebRtcConnect& GetWebRtc() { return m_webrtc; }

private:
    CConnectMgr();
    ~CConnectMgr() override;
    CConnectMgr(const CConnectMgr&) = delete;
    CConnectMgr& operator=(const CConnectMgr&) = delete;

    rpcCorvaneQuillgateHandle GetServant() const;
    // Files the id, runs the forward, and takes the id back when no
    // later outcome may answer it.
    template <typename Forward>
    int Route(RouteId route, int reqid, Forward forward);
    template <typename Call>
    int Notify(Call call);
    template <typename Send>
    int ReplyEach(RouteId route, Send send, const char* fallbackKey = nullptr);
    void HandOnVideoCodec();
    static void WriteToSdkLog(const char* line);

    std::atomic<uint32_t> m_heartbeatTick;
    mutable std::mutex m_servantLock;  // guards the servant handle and the session id
    rpcCorvaneQuillgateHandle m_servant;
    std::string m_sessionId;
    std::string m_stunUrl;
    std::atomic<uint32_t> m_optionVideoCodec;
    CWebRtcConnect m_webrtc;
    CCorvaneConnect m_sdk;
    CRequestTable m_requests;
    std::atomic<uint32_t> m_debugFlags;
};

#endif

// The process's one Ice object: servant of the gateway's requests and
// client of the gateway (registration, keep-alive, replies, notifications).
#ifndef QG_SESSION_RPC_QUILLGATE_H
#define QG_SESSION_RPC_QUILLGATE_H

#include <atomic>
#include <mutex>
#include <pthread.h>
#include <stdint.h>
#include <string>

#include <Ice/Ice.h>

#include "rpcCorvaneWebRtcGW.h"

class rpcCorvaneQuillgate : public rpcCorvane::rpcCorvaneWebRtcQuillgate
{
public:
    static const char* const kAdapterName;      // "CorvaneWebRtc.Quillgate"
    static const char* const kServantIdentity;  // "CorvaneWebRtcQuillgate"
    static const char* const kGatewayIdentity;  // "CorvaneWebRtcGWServer"
    static const int kGatewayTimeoutMs = 6000;
    static const uint32_t kMaxConnectFailures = 20;

    explicit rpcCorvaneQuillgate(const std::string& sessionId);
    ~rpcCorvaneQuillgate() override;

    // 0 started (registered, or gateway not reachable yet: the keep-alive
    // thread retries); -1 Ice failure or the gateway refused the session.
    int Init(uint32_t gatewayIp, int gatewayPort, const std::string& relayHost, int relayPort);
    // 0 registered, 2 refused by the gateway, -1 Ice failure / bad proxy.
    int Connect();
    void KeepAlive();
    static void* ThreadLoop(void* arg);
    // Destroys the communicator (waiting for dispatches in flight) and
    // joins the keep-alive thread. Safe to call twice.
    void Release();
    void OnTimer() {}

    bool IsConnected() const { return m_connected.load() != 0; }
    const std::string& GetSessionId() const { return m_sessionId; }
    // Text of the gateway proxy: "CorvaneWebRtcGWServer:default -h <ip> -p <port>".
    static std::string GatewayProxyText(uint32_t gatewayIp, int gatewayPort);

    // Served operations.
    Ice::Int connect(Ice::Int reqid, const std::string& addrs, const Ice::Current&) override;
    Ice::Int login(Ice::Int reqid, const std::string& host, const std::string& userName, const std::string& passWord,
                   Ice::Int passEncType, const std::string& jsonParam, const Ice::Current&) override;
    Ice::Int loginEx(Ice::Int reqid, const std::string& host, const std::string& nickName, Ice::Int userId,
                     const std::string& strUserId, const std::string& appId, Ice::Int timeStamp,
                     const std::string& sigStr, const std::string& strParam, const std::string& jsonParam,
                     const Ice::Current&) override;
    Ice::Int logout(Ice::Int reqid, const Ice::Current&) override;
    Ice::Int enterRoom(Ice::Int reqid, Ice::Int roomid, const std::string& roomPassWord, Ice::Int passEncType,
                       const Ice::Current&) override;
    Ice::Int enterRoomEx(Ice::Int reqid, const std::string& roomName, const std::string& roomPassWord,
                         Ice::Int passEncType, const Ice::Current&) override;
    Ice::Int leaveRoom(Ice::Int reqid, Ice::Int roomId, const Ice::Current&) override;
    Ice::Int userCameraControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&) override;
    Ice::Int userSpeakControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&) override;
    Ice::Int userCameraControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex, Ice::Int flags,
                                 const std::string& strParam, const Ice::Current&) override;
    Ice::Int userSpeakControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex, Ice::Int flags,
                                const std::string& strParam, const Ice::Current&) override;
    Ice::Int consultParam(Ice::Int reqid, Ice::Int type, const std::string& jsonBuf, const Ice::Current&) override;
    Ice::Int webrtcConsult(Ice::Int reqid, const std::string& jsonBuf, const Ice::Current&) override;
    Ice::Int videoCallControl(Ice::Int reqid, Ice::Int eventType, Ice::Int userId, Ice::Int errorCode, Ice::Int flags,
                              Ice::Int param, const std::string& userStr, const Ice::Current&) override;
    Ice::Int objectSetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int infoName,
                            Ice::Int valueType, const std::string& infoValue, const Ice::Current&) override;
    Ice::Int objectGetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int infoName,
                            Ice::Int valueType, const Ice::Current&) override;
    Ice::Int objectGetIdList(Ice::Int reqid, Ice::Int objectType, const Ice::Current&) override;
    Ice::Int setSDKOptionString(Ice::Int reqid, Ice::Int optName, const std::string& optVal,
                                const Ice::Current&) override;
    Ice::Int setSDKOptionInt(Ice::Int reqid, Ice::Int optName, Ice::Int optVal, const Ice::Current&) override;
    Ice::Int getSDKOptionString(Ice::Int reqid, Ice::Int optName, const Ice::Current&) override;
    Ice::Int getSDKOptionInt(Ice::Int reqid, Ice::Int optName, const Ice::Current&) override;
    Ice::Int sdkControl(Ice::Int reqid, Ice::Int ctrlCode, const std::string& param, const Ice::Current&) override;
    Ice::Int queryUserState(Ice::Int reqid, Ice::Int userId, Ice::Int infoName, Ice::Int valueType,
                            const Ice::Current&) override;
    Ice::Int transBuffer(Ice::Int reqid, Ice::Int userId, const std::string& buf, const Ice::Current&) override;
    Ice::Int transBufferEx(Ice::Int reqid, Ice::Int userId, const std::string& buf, Ice::Int param1, Ice::Int param2,
                           Ice::Int flags, const Ice::Current&) override;
    Ice::Int sendTextMessage(Ice::Int reqid, Ice::Int userId, bool secret, const std::string& buf,
                             const Ice::Current&) override;
    Ice::Int streamRecordCtrlEx(Ice::Int reqid, Ice::Int userId, bool startRecord, Ice::Int flags, Ice::Int param,
                                const std::string& userStr, const Ice::Current&) override;
    Ice::Int setUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex, Ice::Int infoName,
                               const std::string& infoVal, const Ice::Current&) override;
    Ice::Int getUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex, Ice::Int infoName,
                               const Ice::Current&) override;
    Ice::Int getRoomOnlineUsers(Ice::Int reqid, Ice::Int roomId, const Ice::Current&) override;
    Ice::Int objectControl(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int ctrlCode, Ice::Int param1,
                           Ice::Int param2, Ice::Int param3, Ice::Int param4, const std::string& strParam,
                           const Ice::Current&) override;
    Ice::Int heartBeat(const Ice::Current&) override;
    Ice::Int setGeneralParam(Ice::Int reqid, Ice::Int paramType, const std::string& jsonParam,
                             const Ice::Current&) override;
    Ice::Int userInfoControl(Ice::Int reqid, Ice::Int userId, Ice::Int ctrlCode, Ice::Int param1, Ice::Int param2,
                             const std::string& strValue, const Ice::Current&) override;

    // Gateway client: replies carry this object's session id first.
    // 0 when handed to Ice (synchronous kinds: when answered), -1 without
    // a gateway proxy or on an Ice failure.
    int replyLogin(int reqid, int userId, int errorCode);
    int replyLogout(int reqid, int errorCode);
    int replyEnterRoom(int reqid, int errorCode, int roomId);
    int replyLeaveRoom(int reqid, int errorCode);
    int replyUserCameraControl(int reqid, int userId, int errorCode);
    int replyUserSpeakControl(int reqid, int userId, int errorCode);
    int replyUserCameraControlEx(int reqid, int userId, int errorCode);
    int replyUserSpeakControlEx(int reqid, int userId, int errorCode);
    int replyConsultParam(int reqid, int userId, int errorCode, int type, const std::string& jsonBuf);
    int replyWebrtcConsult(int reqid, int userId, const std::string& jsonBuf, int errorCode);
    int replyObjectSetValue(int reqid, int errorCode);
    int replyObjectGetValue(int reqid, int errorCode, const std::string& infoValue);
    int replyObjectGetIdList(int reqid, int errorCode, int objectType, const std::string& idList);
    int replySetSDKOptionString(int reqid, int errorCode);
    int replySetSDKOptionInt(int reqid, int errorCode);
    int replyGetSDKOptionString(int reqid, int errorCode, int optName, const std::string& optVal);
    int replyGetSDKOptionInt(int reqid, int errorCode, int optName, int optVal);
    int replySDKControl(int reqid, int errorCode, const std::string& jsonBuf);
    int replyQueryUserState(int reqid, int errorCode, int userId, int infoName, const std::string& infoValue);
    int replyTransBuffer(int reqid, int errorCode);
    int replyTransBufferEx(int reqid, int errorCode, int param);
    int replySendTextMessage(int reqid, int errorCode);
    int replyStreamRecordCtrlEx(int reqid, int errorCode);
    int replyGetRoomOnlineUsers(int reqid, int errorCode, int roomId, const std::string& userList);
    int replyUserInfoControl(int reqid, int errorCode);

    // Notifications take the session id first, as the connection manager holds it.
    int notifyOnlineUser(const std::string& sessionId, int reqid, int roomId, const std::string& userList);
    int notifyUserAtRoom(const std::string& sessionId, int reqid, int userId, const std::string& userName, bool enter,
                         int param1, int param2);
    int notifyWebrtcConsult(const std::string& sessionId, int reqid, const std::string& jsonBuf);
    int notifyLinkClose(const std::string& sessionId, int errorCode);
    int notifyVideoCallEvent(const std::string& sessionId, int reqid, int eventType, int userId, int errorCode,
                             int flags, int param, const std::string& userStr);
    int notifyTransBuffer(const std::string& sessionId, int reqid, int userId, const std::string& buf);
    int notifyTransBufferEx(const std::string& sessionId, int reqid, int userId, const std::string& buf, int param1,
                            int param2, int flags);
    int notifySendTextMessage(const std::string& sessionId, int reqid, int fromUserId, int toUserId, bool secret,
                              const std::string& buf);
    int notifyStreamRecordEx(const std::string& sessionId, int reqid, int userId, const std::string& strParam,
                             int param1, int param2, int param3);
    int notifyCoreSDKEvent(const std::string& sessionId, int eventType, const std::string& jsonBuf);
    int notifyObjectEvent(const std::string& sessionId, int objectType, int objectId, int eventType, int param1,
                          int param2, int param3, int param4, const std::string& strParam);
    int notifyCameraStateChange(const std::string& sessionId, int userId, int cameraState);
    int notifyVideoSizeChange(const std::string& sessionId, int userId, int videoSize);
    int notifyFriendStatus(const std::string& sessionId, int userId, const std::string& userName,
                           const std::string& userInfo, int status);
    int notifyUserInfoUpdate(const std::string& sessionId, int userId, int type);
    int notifyAppConfigInfo(const std::string& sessionId);
    int notifyMicStateChange(const std::string& sessionId, int userId, int state);

private:
    rpcCorvane::rpcCorvaneWebRtcGwPrx GatewayProxy() const;
    // One gateway call: copy the proxy, run the call, log an Ice failure
    // as "rpc <name> fail: <what>".
    template <typename Call>
    int CallGateway(const char* name, Call call);
    // The session ends at the main loop's next step.
    static void RequestServiceExit();
    // Sleeps in short slices; false once the stop flag is set.
    bool SleepUnlessStopped(unsigned ms);

    Ice::CommunicatorPtr m_communicator;
    Ice::ObjectAdapterPtr m_adapter;
    mutable std::mutex m_mutex;  // guards the gateway proxy only
    pthread_t m_thread;
    bool m_threadStarted;
    std::atomic<uint64_t> m_stop;
    uint32_t m_gatewayIp;
    uint32_t m_gatewayPort;
    rpcCorvane::rpcCorvaneWebRtcGwPrx m_gateway;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx m_ownProxy;
    std::atomic<uint64_t> m_connected;
    std::string m_sessionId;
};

typedef IceUtil::Handle<rpcCorvaneQuillgate> rpcCorvaneQuillgateHandle;

#endif

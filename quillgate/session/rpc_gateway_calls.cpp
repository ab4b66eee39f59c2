// The servant as the gateway's client: replies and notifications, each
// carrying the session id first.
#include "quillgate/session/rpc_quillgate.h"

#include "quillgate/log/proxy_log.h"

typedef rpcCorvane::rpcCorvaneWebRtcGwPrx GwPrx;

template <typename Call>
int rpcCorvaneQuillgate::CallGateway(const char* name, Call call)
{
    try {
        GwPrx gateway = GatewayProxy();
        if (!gateway)
            return -1;
        call(gateway);
        return 0;
    } catch (const IceUtil::Exception& e) {
        ProxyLog(16, "rpc %s fail: %s", name, e.what());
        return -1;
    }
}

// ---- gateway client: replies (asynchronous, without a callback) ----

#define QG_SEND_ASYNC(name, ...) CallGateway(name, [&](const GwPrx& gw) { gw->begin_##__VA_ARGS__; })

int rpcCorvaneQuillgate::replyLogin(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyLogin", replyLogin(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyLogout(int reqid, int errorCode)
{
    // The process ends right after this reply: wait (at most the
    // invocation time-out) until the gateway has it.
    const int ret = CallGateway("replyLogout", [&](const GwPrx& gw) {
        Ice::AsyncResultPtr sent = gw->begin_replyLogout(m_sessionId, reqid, errorCode);
        sent->waitForCompleted();
    });
    if (ret == 0)
        RequestServiceExit();
    return ret;
}

int rpcCorvaneQuillgate::replyEnterRoom(int reqid, int errorCode, int roomId)
{
    return QG_SEND_ASYNC("replyEnterRoom", replyEnterRoom(m_sessionId, reqid, errorCode, roomId));
}

int rpcCorvaneQuillgate::replyLeaveRoom(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("begin_replyLeaveRoom", replyLeaveRoom(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyUserCameraControl(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserCameraControl", replyUserCameraControl(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyUserSpeakControl(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserSpeakControl", replyUserSpeakControl(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyUserCameraControlEx(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserCameraControlEx", replyUserCameraControlEx(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyUserSpeakControlEx(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserSpeakControlEx", replyUserSpeakControlEx(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyConsultParam(int reqid, int /*userId*/, int errorCode, int type,
                                           const std::string& jsonBuf)
{
    return QG_SEND_ASYNC("replyConsultParam", replyConsultParam(m_sessionId, reqid, errorCode, type, jsonBuf));
}

int rpcCorvaneQuillgate::replyWebrtcConsult(int reqid, int /*userId*/, const std::string& jsonBuf, int errorCode)
{
    return QG_SEND_ASYNC("replyWebRTCConsult", replyWebrtcConsult(m_sessionId, reqid, errorCode, jsonBuf));
}

int rpcCorvaneQuillgate::replyObjectSetValue(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyObjectSetValue", replyObjectSetValue(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyObjectGetValue(int reqid, int errorCode, const std::string& infoValue)
{
    return QG_SEND_ASYNC("replyObjectGetValue", replyObjectGetValue(m_sessionId, reqid, errorCode, infoValue));
}

int rpcCorvaneQuillgate::replyObjectGetIdList(int reqid, int errorCode, int /*objectType*/, const std::string& idList)
{
    return QG_SEND_ASYNC("replyObjectGetIdList", replyObjectGetIdList(m_sessionId, reqid, errorCode, idList));
}

int rpcCorvaneQuillgate::replySetSDKOptionString(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replySetSDKOptionString", replySetSDKOptionString(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replySetSDKOptionInt(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replySetSDKOptionInt", replySetSDKOptionInt(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyGetSDKOptionString(int reqid, int errorCode, int optName, const std::string& optVal)
{
    return QG_SEND_ASYNC("replyGetSDKOptionString",
                         replyGetSDKOptionString(m_sessionId, reqid, errorCode, optName, optVal));
}

int rpcCorvaneQuillgate::replyGetSDKOptionInt(int reqid, int errorCode, int optName, int optVal)
{
    return QG_SEND_ASYNC("replyGetSDKOptionInt", replyGetSDKOptionInt(m_sessionId, reqid, errorCode, optName, optVal));
}

int rpcCorvaneQuillgate::replySDKControl(int reqid, int errorCode, const std::string& jsonBuf)
{
    return QG_SEND_ASYNC("replySDKControl", replySDKControl(m_sessionId, reqid, errorCode, jsonBuf));
}

int rpcCorvaneQuillgate::replyQueryUserState(int reqid, int errorCode, int userId, int infoName,
                                             const std::string& infoValue)
{
    return QG_SEND_ASYNC("replyQueryUserState",
                         replyQueryUserState(m_sessionId, reqid, errorCode, userId, infoName, infoValue));
}

int rpcCorvaneQuillgate::replyTransBuffer(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyTransBuffer", replyTransBuffer(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyTransBufferEx(int reqid, int errorCode, int param)
{
    return QG_SEND_ASYNC("replyTransBufferEx", replyTransBufferEx(m_sessionId, reqid, errorCode, param));
}

int rpcCorvaneQuillgate::replySendTextMessage(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replySendTextMessage", replySendTextMessage(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyStreamRecordCtrlEx(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyStreamRecordCtrlEx", replyStreamRecordCtrlEx(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyGetRoomOnlineUsers(int reqid, int errorCode, int roomId, const std::string& userList)
{
    return QG_SEND_ASYNC("replyGetRoomOnlineUsers",
                         replyGetRoomOnlineUsers(m_sessionId, reqid, errorCode, roomId, userList));
}

int rpcCorvaneQuillgate::replyUserInfoControl(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyUserInfoControl", replyUserInfoControl(m_sessionId, reqid, errorCode));
}

// ---- gateway client: notifications ----

#define QG_SEND_SYNC(name, ...) CallGateway(name, [&](const GwPrx& gw) { gw->__VA_ARGS__; })

int rpcCorvaneQuillgate::notifyOnlineUser(const std::string& sessionId, int reqid, int roomId,
                                          const std::string& userList)
{
    return QG_SEND_ASYNC("notifyOnlineUser", notifyOnlineUser(sessionId, reqid, roomId, userList));
}

int rpcCorvaneQuillgate::notifyUserAtRoom(const std::string& sessionId, int reqid, int userId,
                                          const std::string& userName, bool enter, int param1, int param2)
{
    return QG_SEND_ASYNC("notifyUserAtRoom",
                         notifyUserAtRoom(sessionId, reqid, userId, userName, enter, param1, param2));
}

int rpcCorvaneQuillgate::notifyWebrtcConsult(const std::string& sessionId, int reqid, const std::string& jsonBuf)
{
    return QG_SEND_ASYNC("notifyWebrtcConsult", notifyWebrtcConsult(sessionId, reqid, jsonBuf));
}

int rpcCorvaneQuillgate::notifyLinkClose(const std::string& sessionId, int errorCode)
{
    return QG_SEND_ASYNC("notifyLinkClose", notifyLinkClose(sessionId, errorCode));
}

int rpcCorvaneQuillgate::notifyVideoCallEvent(const std::string& sessionId, int reqid, int eventType, int userId,
                                              int errorCode, int flags, int param, const std::string& userStr)
{
    return QG_SEND_ASYNC("notifyVideoCallEvent",
                         notifyVideoCallEvent(sessionId, reqid, eventType, userId, errorCode, flags, param, userStr));
}

int rpcCorvaneQuillgate::notifyTransBuffer(const std::string& sessionId, int reqid, int userId, const std::string& buf)
{
    return QG_SEND_SYNC("notifyTransBuffer", notifyTransBuffer(sessionId, reqid, userId, buf));
}

int rpcCorvaneQuillgate::notifyTransBufferEx(const std::string& sessionId, int reqid, int userId,
                                             const std::string& buf, int param1, int param2, int flags)
{
    return QG_SEND_SYNC("notifyTransBufferEx",
                        notifyTransBufferEx(sessionId, reqid, userId, buf, param1, param2, flags));
}

int rpcCorvaneQuillgate::notifySendTextMessage(const std::string& sessionId, int reqid, int fromUserId, int toUserId,
                                               bool secret, const std::string& buf)
{
    return QG_SEND_ASYNC("notifySendTextMessage",
                         notifySendTextMessage(sessionId, reqid, fromUserId, toUserId, secret, buf));
}

int rpcCorvaneQuillgate::notifyStreamRecordEx(const std::string& sessionId, int reqid, int userId,
                                              const std::string& strParam, int param1, int param2, int param3)
{
    return QG_SEND_ASYNC("notifyStreamRecordEx",
                         notifyStreamRecordEx(sessionId, reqid, userId, strParam, param1, param2, param3));
}

int rpcCorvaneQuillgate::notifyCoreSDKEvent(const std::string& sessionId, int eventType, const std::string& jsonBuf)
{
    return QG_SEND_SYNC("notifyCoreSDKEvent", notifyCoreSDKEvent(sessionId, eventType, jsonBuf));
}

int rpcCorvaneQuillgate::notifyObjectEvent(const std::string& sessionId, int objectType, int objectId, int eventType,
                                           int param1, int param2, int param3, int param4, const std::string& strParam)
{
    return QG_SEND_SYNC("notifyObjectEvent", notifyObjectEvent(sessionId, objectType, objectId, eventType, param1,
                                                               param2, param3, param4, strParam));
}

int rpcCorvaneQuillgate::notifyCameraStateChange(const std::string& sessionId, int userId, int cameraState)
{
    return QG_SEND_ASYNC("notifyCameraStateChange", notifyCameraStateChange(sessionId, userId, cameraState));
}

int rpcCorvaneQuillgate::notifyVideoSizeChange(const std::string& sessionId, int userId, int videoSize)
{
    return QG_SEND_ASYNC("notifyVideoSizeChange", notifyVideoSizeChange(sessionId, userId, videoSize));
}

int rpcCorvaneQuillgate::notifyFriendStatus(const std::string& sessionId, int userId, const std::string& userName,
                                            const std::string& userInfo, int status)
{
    return QG_SEND_ASYNC("notifyFriendStatus", notifyFriendStatus(sessionId, userId, userName, userInfo, status));
}

int rpcCorvaneQuillgate::notifyUserInfoUpdate(const std::string& sessionId, int userId, int type)
{
    return QG_SEND_ASYNC("notifyUserInfoUpdate", notifyUserInfoUpdate(sessionId, userId, type));
}

int rpcCorvaneQuillgate::notifyAppConfigInfo(const std::string& sessionId)
{
    return QG_SEND_ASYNC("notifyAppConfigInfo", notifyAppConfigInfo(sessionId));
}

int rpcCorvaneQuillgate::notifyMicStateChange(const std::string& sessionId, int userId, int state)
{
    return QG_SEND_ASYNC("notifyMicStateChange", notifyMicStateChange(sessionId, userId, state));
}

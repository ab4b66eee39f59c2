// The gateway's requests as the connection manager routes them: each is
// filed under its command key, forwarded to the SDK client or the WebRTC
// side, and answered once per filed id when its outcome arrives.
#include "quillgate/session/connect_mgr.h"

#include "quillgate/session/rpc_quillgate.h"

namespace {

// Where a request's outcome comes from.
enum Outcome {
    kLater,      // an SDK or media-library callback (or the forward itself)
    kInForward,  // always the forward itself: an id still filed after it returns is never answered
};

struct RouteInfo {
    const char* key;
    Outcome outcome;
};

// Indexed by CConnectMgr::RouteId.
const RouteInfo kRoutes[] = {
    {"login", kLater},
    {"loginex", kLater},
    {"enterroom", kLater},
    {"enterroomex", kLater},
    {"leaveroom", kInForward},
    {"usercameracontrol", kLater},
    {"usercameracontrolex", kLater},
    {"userspeakcontrol", kInForward},
    {"userspeakcontrolex", kInForward},
    {"consult", kInForward},
    {"webrtcconsult", kLater},
    {"objectsetvalue", kInForward},
    {"objectgetvalue", kInForward},
    {"objectgetidlist", kInForward},
    {"setsdkoptionstring", kInForward},
    {"setsdkoptionint", kInForward},
    {"getsdkoptionstring", kInForward},
    {"getsdkoptionint", kInForward},
    {"sdkcontrol", kLater},  // pieces of a split request wait for the last one
    {"queryuserstate", kInForward},
    {"sendtextmessage", kInForward},
    {"streamrecordctrlex", kInForward},
    {"getroomonlineusers", kInForward},
    {"userinfocontrol", kInForward},
};
static_assert(sizeof(kRoutes) / sizeof(kRoutes[0]) == CConnectMgr::kRouteCount, "one route per id");

// The stream-handling mode in which the SDK itself serves cameras.
const int kSdkHandlesStreams = 2;
// Every stream type of a peer.
const uint32_t kAnyStream = 255;

}  // namespace

const char* CConnectMgr::RouteKey(RouteId route)
{
    return kRoutes[route].key;
}

bool CConnectMgr::AnsweredInForward(RouteId route)
{
    return kRoutes[route].outcome == kInForward;
}

void CConnectMgr::FilePending(RouteId route, int reqid)
{
    m_requests.File(kRoutes[route].key, reqid);
}

size_t CConnectMgr::PendingCount(RouteId route) const
{
    return m_requests.Count(kRoutes[route].key);
}

template <typename Forward>
int CConnectMgr::Route(RouteId route, int reqid, Forward forward)
{
    const RouteInfo& r = kRoutes[route];
    const uint64_t ticket = m_requests.Open(r.key, reqid);
    int ret = -1;
    try {
        ret = forward();
    } catch (...) {
        m_requests.Close(ticket, false, false);
        throw;
    }
    // A failed request, or one whose answer could only have come in the
    // forward, must not be answered later by another request's outcome.
    m_requests.Close(ticket, ret == 0, ret == 0 && r.outcome == kLater);
    return ret;
}

template <typename Send>
int CConnectMgr::ReplyEach(RouteId route, Send send, const char* fallbackKey)
{
    // The outcome may be sent later, from the thread of a forward that
    // still runs: send holds copies of its values.
    const bool taken = m_requests.Reply(kRoutes[route].key, fallbackKey, [this, send](int id) {
        rpcCorvaneQuillgateHandle servant = GetServant();
        if (servant)
            send(*servant, id);
    });
    return taken ? 0 : -1;
}

// ---- requests ----

int CConnectMgr::Login(int reqid, const std::string& host, const std::string& userName, const std::string& passWord,
                       int passEncType, const std::string& jsonParam)
{
    // Refused before the SDK: never filed, so it cannot take an outcome.
    const int refused = CCorvaneConnect::CheckLoginHost(host);
    if (refused != 0)
        return refused;
    return Route(kRouteLogin, reqid, [&] {
        HandOnVideoCodec();
        return m_sdk.doLogin(host, userName, passWord, passEncType, jsonParam);
    });
}

int CConnectMgr::LoginEx(int reqid, const std::string& host, const std::string& nickName, int userId,
                         const std::string& strUserId, const std::string& appId, int timeStamp,
                         const std::string& sigStr, const std::string& strParam, const std::string& jsonParam)
{
    const int refused = CCorvaneConnect::CheckLoginHost(host);
    if (refused != 0)
        return refused;
    return Route(kRouteLoginEx, reqid, [&] {
        HandOnVideoCodec();
        return m_sdk.doLoginEx(host, nickName, userId, strUserId, appId, timeStamp, sigStr, strParam, jsonParam);
    });
}

void CConnectMgr::HandOnVideoCodec()
{
    m_sdk.SetH5VideoCodec(m_optionVideoCodec);
    m_webrtc.SetH5VideoCodec(m_optionVideoCodec);
}

int CConnectMgr::EnterRoom(int reqid, int roomId, const std::string& roomPassWord, int passEncType)
{
    return Route(kRouteEnterRoom, reqid, [&] { return m_sdk.doEnterRoom(roomId, roomPassWord, passEncType); });
}

int CConnectMgr::EnterRoomEx(int reqid, const std::string& roomName, const std::string& roomPassWord,
                             int /*passEncType*/)
{
    // The SDK's named entry takes no encoding type.
    return Route(kRouteEnterRoomEx, reqid, [&] { return m_sdk.doEnterRoomEx(roomName, roomPassWord); });
}

int CConnectMgr::LeaveRoom(int reqid)
{
    return Route(kRouteLeaveRoom, reqid, [&] {
        m_webrtc.DestroyAllWebrtcSDK();
        return m_sdk.doLeaveRoom();
    });
}

int CConnectMgr::UserCameraControl(int reqid, int userId, bool open)
{
    if (m_webrtc.GetH5HandleStreamType() != kSdkHandlesStreams) {
        // Cameras are not the SDK's in this mode: refuse this one and
        // release whoever still waits for a camera answer.
        ReplyUserCameraControl(userId, -1);
        return -1;
    }
    return Route(kRouteUserCameraControl, reqid, [&] { return m_sdk.doUserCameraControl(userId, open); });
}

int CConnectMgr::UserCameraControlEx(int reqid, int userId, bool open, int streamIndex, int flags,
                                     const std::string& strParam)
{
    return Route(kRouteUserCameraControlEx, reqid, [&] {
        if (m_webrtc.GetH5HandleStreamType() == kSdkHandlesStreams)
            return m_sdk.doUserCameraControlEx(userId, open, streamIndex, flags, strParam);

        const bool own = userId == -1 || static_cast<uint32_t>(userId) == m_sdk.GetOwnUserId();
        int r = 0;
        if (own && m_webrtc.GetBrowserType() == 1) {
            ReplyUserCameraControlEx(userId, -1);
            return -1;
        }
        if (open) {
            // The browser sends its own camera (type 1) or receives another user's (type 2).
            r = m_webrtc.CreateWebrtcSDK(own ? static_cast<uint32_t>(-1) : static_cast<uint32_t>(userId), own ? 1 : 2,
                                         static_cast<uint32_t>(streamIndex), GetStunServer(), strParam);
        } else {
            r = m_webrtc.DestroyWebrtcSDK(static_cast<uint32_t>(userId), static_cast<uint32_t>(streamIndex),
                                          kAnyStream);
        }
        if (r == 0)
            return m_sdk.doUserCameraControlEx(userId, open, streamIndex, flags, strParam);
        ReplyUserCameraControlEx(userId, r);
        return r;
    });
}

int CConnectMgr::UserSpeakControl(int reqid, int userId, bool open)
{
    return Route(kRouteUserSpeakControl, reqid, [&] { return m_sdk.doUserSpeakControl(userId, open); });
}

int CConnectMgr::UserSpeakControlEx(int reqid, int userId, bool open, int streamIndex, int flags,
                                    const std::string& strParam)
{
    return Route(kRouteUserSpeakControlEx, reqid,
                 [&] { return m_sdk.doUserSpeakControlEx(userId, open, streamIndex, flags, strParam); });
}

int CConnectMgr::ConsultParam(int reqid, int type, const std::string& jsonBuf)
{
    return Route(kRouteConsult, reqid, [&] { return m_webrtc.HandlePeerObjMessage(type, jsonBuf); });
}

int CConnectMgr::WebrtcConsult(int reqid, const std::string& jsonBuf)
{
    return Route(kRouteWebrtcConsult, reqid, [&] { return m_webrtc.SetDescriptionInfo(jsonBuf); });
}

int CConnectMgr::VideoCallControl(int /*reqid*/, int eventType, int userId, int errorCode, int flags, int param,
                                  const std::string& userStr)
{
    // No outcome ever answers a video-call control: nothing is filed.
    return m_sdk.doVideoCallControl(eventType, userId, errorCode, flags, param, userStr);
}

int CConnectMgr::ObjectSetValue(int reqid, int objectType, int objectId, int infoName, int valueType,
                                const std::string& infoValue)
{
    return Route(kRouteObjectSetValue, reqid,
                 [&] { return m_sdk.doObjectSetValue(objectType, objectId, infoName, valueType, infoValue); });
}

int CConnectMgr::ObjectGetValue(int reqid, int objectType, int objectId, int infoName, int valueType)
{
    return Route(kRouteObjectGetValue, reqid,
                 [&] { return m_sdk.doObjectGetValue(objectType, objectId, infoName, valueType); });
}

int CConnectMgr::ObjectGetIdList(int reqid, int objectType)
{
    return Route(kRouteObjectGetIdList, reqid, [&] { return m_sdk.doObjectGetIdList(objectType); });
}

int CConnectMgr::SetSDKOptionString(int reqid, int optName, const std::string& optVal)
{
    return Route(kRouteSetSDKOptionString, reqid, [&] { return m_sdk.doSetSDKOptionString(optName, optVal); });
}

int CConnectMgr::SetSDKOptionInt(int reqid, int optName, int optVal)
{
    return Route(kRouteSetSDKOptionInt, reqid, [&] { return m_sdk.doSetSDKOptionInt(optName, optVal); });
}

int CConnectMgr::GetSDKOptionString(int reqid, int optName)
{
    return Route(kRouteGetSDKOptionString, reqid, [&] { return m_sdk.doGetSDKOptionString(optName); });
}

int CConnectMgr::GetSDKOptionInt(int reqid, int optName)
{
    return Route(kRouteGetSDKOptionInt, reqid, [&] { return m_sdk.doGetSDKOptionInt(optName); });
}

int CConnectMgr::SDKControl(int reqid, int ctrlCode, std::string param)
{
    return Route(kRouteSDKControl, reqid, [&] { return m_sdk.doSDKControl(ctrlCode, param); });
}

int CConnectMgr::QueryUserState(int reqid, int userId, int infoName, int valueType)
{
    return Route(kRouteQueryUserState, reqid, [&] { return m_sdk.doQueryUserState(userId, infoName, valueType); });
}

int CConnectMgr::TransBuffer(int reqid, int userId, const std::string& buf)
{
    // The SDK client answers this reqid itself.
    return m_sdk.doTransBuffer(reqid, userId, buf);
}

int CConnectMgr::TransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2, int flags)
{
    return m_sdk.doTransBufferEx(reqid, userId, buf, param1, param2, flags);
}

int CConnectMgr::SendTextMessage(int reqid, int userId, bool secret, const std::string& buf)
{
    return Route(kRouteSendTextMessage, reqid, [&] { return m_sdk.doSendTextMessage(userId, secret, buf); });
}

int CConnectMgr::StreamRecordCtrlEx(int reqid, int userId, bool startRecord, int flags, int param,
                                    const std::string& userStr)
{
    return Route(kRouteStreamRecordCtrlEx, reqid,
                 [&] { return m_sdk.doStreamRecordCtrlEx(userId, startRecord, flags, param, userStr); });
}

int CConnectMgr::GetRoomOnlineUsers(int reqid, int roomId)
{
    return Route(kRouteGetRoomOnlineUsers, reqid, [&] { return m_sdk.doGetRoomOnlineUsers(roomId); });
}

int CConnectMgr::ObjectControl(int /*reqid*/, int objectType, int objectId, int ctrlCode, int param1, int param2,
                               int param3, int param4, const std::string& strParam)
{
    // No outcome ever answers an object control: nothing is filed.
    return m_sdk.doObjectControl(objectType, objectId, ctrlCode, param1, param2, param3, param4, strParam);
}

int CConnectMgr::SetGeneralParam(int /*reqid*/, int paramType, const std::string& jsonParam)
{
    // Never answered by a reply: nothing is filed. The WebRTC side sees
    // the command only when the SDK client took it.
    const int ret = m_sdk.HandleWebCommand(paramType, jsonParam);
    if (ret != 0)
        return ret;
    return m_webrtc.HandleWebCommand(paramType, jsonParam);
}

int CConnectMgr::UserInfoControl(int reqid, int userId, int ctrlCode, int param1, int param2,
                                 const std::string& strValue)
{
    return Route(kRouteUserInfoControl, reqid,
                 [&] { return m_sdk.doUserInfoControl(userId, ctrlCode, param1, param2, strValue); });
}

// ---- replies: one gateway reply per id filed under the key ----

typedef rpcCorvaneQuillgate Servant;

int CConnectMgr::ReplyLogin(int userId, int errorCode)
{
    return ReplyEach(
        kRouteLogin, [=](Servant& servant, int id) { servant.replyLogin(id, userId, errorCode); },
        kRoutes[kRouteLoginEx].key);
}

int CConnectMgr::ReplyEnterRoom(int roomId, int errorCode)
{
    return ReplyEach(
        kRouteEnterRoom, [=](Servant& servant, int id) { servant.replyEnterRoom(id, errorCode, roomId); },
        kRoutes[kRouteEnterRoomEx].key);
}

int CConnectMgr::ReplyLeaveRoom(int errorCode)
{
    return ReplyEach(kRouteLeaveRoom, [=](Servant& servant, int id) { servant.replyLeaveRoom(id, errorCode); });
}

int CConnectMgr::ReplyUserCameraControl(int userId, int errorCode)
{
    return ReplyEach(kRouteUserCameraControl,
                     [=](Servant& servant, int id) { servant.replyUserCameraControl(id, userId, errorCode); });
}

int CConnectMgr::ReplyUserCameraControlEx(int userId, int errorCode)
{
    return ReplyEach(kRouteUserCameraControlEx,
                     [=](Servant& servant, int id) { servant.replyUserCameraControlEx(id, userId, errorCode); });
}

int CConnectMgr::ReplyUserSpeakControl(int userId, int errorCode)
{
    return ReplyEach(kRouteUserSpeakControl,
                     [=](Servant& servant, int id) { servant.replyUserSpeakControl(id, userId, errorCode); });
}

int CConnectMgr::ReplyUserSpeakControlEx(int userId, int errorCode)
{
    return ReplyEach(kRouteUserSpeakControlEx,
                     [=](Servant& servant, int id) { servant.replyUserSpeakControlEx(id, userId, errorCode); });
}

int CConnectMgr::ReplyConsultParam(int userId, int errorCode, int type, const std::string& jsonBuf)
{
    return ReplyEach(kRouteConsult, [=](Servant& servant, int id) {
        servant.replyConsultParam(id, userId, errorCode, type, jsonBuf);
    });
}

int CConnectMgr::ReplyWebrtcConsult(int userId, const std::string& jsonBuf, int errorCode)
{
    return ReplyEach(kRouteWebrtcConsult,
                     [=](Servant& servant, int id) { servant.replyWebrtcConsult(id, userId, jsonBuf, errorCode); });
}

int CConnectMgr::ReplyObjectSetValue(int errorCode)
{
    return ReplyEach(kRouteObjectSetValue,
                     [=](Servant& servant, int id) { servant.replyObjectSetValue(id, errorCode); });
}

int CConnectMgr::ReplyObjectGetValue(int /*objectType*/, int /*objectId*/, int /*infoName*/,
                                     const std::string& infoValue, int errorCode)
{
    return ReplyEach(kRouteObjectGetValue,
                     [=](Servant& servant, int id) { servant.replyObjectGetValue(id, errorCode, infoValue); });
}

int CConnectMgr::ReplyObjectGetIdList(int objectType, const std::string& idList, int errorCode)
{
    return ReplyEach(kRouteObjectGetIdList, [=](Servant& servant, int id) {
        servant.replyObjectGetIdList(id, errorCode, objectType, idList);
    });
}

int CConnectMgr::ReplySetSDKOptionString(int errorCode)
{
    return ReplyEach(kRouteSetSDKOptionString,
                     [=](Servant& servant, int id) { servant.replySetSDKOptionString(id, errorCode); });
}

int CConnectMgr::ReplySetSDKOptionInt(int errorCode)
{
    return ReplyEach(kRouteSetSDKOptionInt,
                     [=](Servant& servant, int id) { servant.replySetSDKOptionInt(id, errorCode); });
}

int CConnectMgr::ReplyGetSDKOptionString(int errorCode, int optName, const std::string& optVal)
{
    return ReplyEach(kRouteGetSDKOptionString, [=](Servant& servant, int id) {
        servant.replyGetSDKOptionString(id, errorCode, optName, optVal);
    });
}

int CConnectMgr::ReplyGetSDKOptionInt(int errorCode, int optName, int optVal)
{
    return ReplyEach(kRouteGetSDKOptionInt,
                     [=](Servant& servant, int id) { servant.replyGetSDKOptionInt(id, errorCode, optName, optVal); });
}

int CConnectMgr::ReplySDKControl(int errorCode, const std::string& jsonBuf)
{
    return ReplyEach(kRouteSDKControl,
                     [=](Servant& servant, int id) { servant.replySDKControl(id, errorCode, jsonBuf); });
}

int CConnectMgr::ReplyQueryUserState(int errorCode, int userId, int infoName, const std::string& infoValue)
{
    return ReplyEach(kRouteQueryUserState, [=](Servant& servant, int id) {
        servant.replyQueryUserState(id, errorCode, userId, infoName, infoValue);
    });
}

int CConnectMgr::ReplySendTextMessage(int errorCode)
{
    return ReplyEach(kRouteSendTextMessage,
                     [=](Servant& servant, int id) { servant.replySendTextMessage(id, errorCode); });
}

int CConnectMgr::ReplyStreamRecordCtrlEx(int errorCode)
{
    return ReplyEach(kRouteStreamRecordCtrlEx,
                     [=](Servant& servant, int id) { servant.replyStreamRecordCtrlEx(id, errorCode); });
}

int CConnectMgr::ReplyGetRoomOnlineUsers(int roomId, const std::string& userList, int errorCode)
{
    return ReplyEach(kRouteGetRoomOnlineUsers, [=](Servant& servant, int id) {
        servant.replyGetRoomOnlineUsers(id, errorCode, roomId, userList);
    });
}

int CConnectMgr::ReplyUserInfoControl(int errorCode)
{
    return ReplyEach(kRouteUserInfoControl,
                     [=](Servant& servant, int id) { servant.replyUserInfoControl(id, errorCode); });
}

// Buffer transfers carry their own reqid and are answered exactly once.

int CConnectMgr::ReplyTransBuffer(int reqid, int errorCode)
{
    rpcCorvaneQuillgateHandle servant = GetServant();
    return servant ? servant->replyTransBuffer(reqid, errorCode) : -1;
}

int CConnectMgr::ReplyTransBufferEx(int reqid, int errorCode, int param)
{
    rpcCorvaneQuillgateHandle servant = GetServant();
    return servant ? servant->replyTransBufferEx(reqid, errorCode, param) : -1;
}

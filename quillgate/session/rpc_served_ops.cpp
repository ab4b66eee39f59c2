// The servant's side of the gateway's requests: every served operation is
// the same thin adapter onto the connection manager, with its trace line.
#include "quillgate/session/rpc_quillgate.h"

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "quillgate/session/connect_mgr.h"

// ---- served operations ----
//
// Every operation is the same thin adapter: the connection manager does
// the work inside a catch of Ice failures, and under debug flag 8 one
// trace line from the table below tells what was asked and answered.

namespace {

// In Slice order: the operation's name for "rpc <name> fail: %s" and the
// printf format of its trace line (SILENT ones write none). The trace
// lines are read by the gateway's operators as they stand, odd spellings
// included. Passwords and the signature are written as "***", and so are
// the password members of every text the gateway sends.
#define QG_SERVED_OPS(TRACED, SILENT)                                                                                \
    TRACED(Connect, "connect", "invoke connect reqid:%d, addrs:%s, ret:%d ")                                         \
    TRACED(Login, "login", "invoke login reqid:%d, host:%s, userName:%s, passWord:%s, passEncType:%d, ret:%d ")      \
    TRACED(LoginEx, "loginEx",                                                                                       \
           "invoke loginEx reqid:%d, nickName:%s, userId:%d, strUserId:%s, appId:%s, timeStamp:%ld, siqStr:%s, "     \
           "strParam:%s, ret:%d ")                                                                                   \
    TRACED(Logout, "logout", "invoke logout reqid:%d, ret:%d ")                                                      \
    TRACED(EnterRoom, "enterRoom", "invoke enterRoom reqid:%d, roomid:%d, roomPassWord:%s, passEncType:%d, ret:%d ") \
    TRACED(EnterRoomEx, "enterRoomEx",                                                                               \
           "invoke enterRoomEx reqid:%d, roomName:%s, roomPassWord:%s, passEncType:%d, ret:%d ")                     \
    TRACED(LeaveRoom, "leaveRoom", "invoke leaveRoom reqid:%d, ret:%d ")                                             \
    TRACED(UserCameraControl, "userCameraControl", "invoke userCameraControl reqid:%d, userid:%d, open:%d, ret:%d ") \
    TRACED(UserSpeakControl, "userSpeakControl", "invoke userSpeakControl reqid:%d, userid:%d, open:%d, ret:%d ")    \
    TRACED(UserCameraControlEx, "userCameraControlEx",                                                               \
           "invoke userCameraControlEx reqid:%d, userid:%d, open:%d, streamIndex:%d, flags:%d, strParam:%s, "        \
           "ret:%d ")                                                                                                \
    TRACED(UserSpeakControlEx, "userSpeakControlEx",                                                                 \
           "invoke userSpeakControlEx reqid:%d, userid:%d, open:%d, streamIndex:%d, flags:%d, strParam:%s, "         \
           "ret:%d ")                                                                                                \
    TRACED(ConsultParam, "consultParam", "invoke consultParam reqid:%d, type:%d, ret:%d ")                           \
    TRACED(WebrtcConsult, "webrtcConsult", "invoke webrtcConsult reqid:%d, ret:%d ")                                 \
    TRACED(VideoCallControl, "videoCallControl",                                                                     \
           "invoke videoCallControl reqid:%d, eventType:%d, userId:%d, errorCode:%d, flags:%d, param:%d, "           \
           "userStr:%s, ret:%d ")                                                                                    \
    TRACED(ObjectSetValue, "objectSetValue",                                                                         \
           "invoke objectSetValue reqid:%d, objectType:%d, objectId:%d, infoName:%d, infoValue:%s, ret:%d ")         \
    TRACED(ObjectGetValue, "objectGetValue",                                                                         \
           "invoke objectGetValue reqid:%d, objectType:%d, objectId:%d, infoName:%d, ret:%d ")                       \
    TRACED(ObjectGetIdList, "objectGetIdList", "invoke objectGetIdList reqid:%d, objectType:%d, ret:%d ")            \
    TRACED(SetSDKOptionString, "setSDKOptionString",                                                                 \
           "invoke setSDKOptionString reqid:%d, optName:%d, optVal:%s, ret:%d ")                                     \
    TRACED(SetSDKOptionInt, "setSDKOptionInt", "invoke setSDKOptionInt reqid:%d, optName:%d, optVal:%d, ret:%d ")    \
    TRACED(GetSDKOptionString, "getSDKOptionString", "invoke getSDKOptionString reqid:%d, optName:%d, ret:%d ")      \
    TRACED(GetSDKOptionInt, "getSDKOptionInt", "invoke getSDKOptionInt reqid:%d, optName:%d, ret:%d ")               \
    TRACED(SdkControl, "sdkControl", "invoke sdkControl reqid:%d, ctrlCode:%d, param:%s, ret:%d ")                   \
    TRACED(QueryUserState, "queryUserState", "invoke queryUserState reqid:%d, infoName:%d, ret:%d ")                 \
    TRACED(TransBuffer, "transBuffer", "invoke transBuffer reqid:%d, userId:%d, buf:%s, ret:%d ")                    \
    TRACED(TransBufferEx, "transBufferEx",                                                                           \
           "invoke transBufferEx reqid:%d, userId:%d, buf:%s, param1:%d, param2:%d, flags:%d, ret:%d ")              \
    TRACED(SendTextMessage, "sendTextMessage",                                                                       \
           "invoke sendTextMessage reqid:%d, userId:%d, secret:%d, buf:%s, ret:%d ")                                 \
    TRACED(StreamRecordCtrlEx, "streamRecordCtrlEx",                                                                 \
           "invoke streamRecordCtrlEx reqid:%d, userId:%d, startRecord:%d, flags:%d, param:%d, ret:%d ")             \
    TRACED(SetUserStreamInfo, "setUserStreamInfo",                                                                   \
           "invoke setUserStreamInfo reqid:%d, userId:%d, streamIndex:%d, infoName:%d, infoVal:%s, ret:%d ")         \
    TRACED(GetUserStreamInfo, "getUserStreamInfo",                                                                   \
           "invoke getUserStreamInfo reqid:%d, userId:%d, streamIndex:%d, infoName:%d, ret:%d ")                     \
    TRACED(GetRoomOnlineUsers, "getRoomOnlineUsers", "invoke getRoomOnlineUsers reqid:%d, roomId:%d, ret:%d ")       \
    TRACED(ObjectControl, "objectControl",                                                                           \
           "invoke objectControl reqid:%d, objectType:%d, objectId:%d, ctrlCode:%d, param1:%d:, ret:%d ")            \
    SILENT(HeartBeat, "heartBeat")                                                                                   \
    SILENT(SetGeneralParam, "setGeneralParam")                                                                       \
    SILENT(UserInfoControl, "userInfoControl")

#define QG_OP_ID(id, ...) kOp##id,
enum ServedOp { QG_SERVED_OPS(QG_OP_ID, QG_OP_ID) kOpCount };

#define QG_OP_NAME(id, name, ...) name,
const char* const kServedOpNames[] = {QG_SERVED_OPS(QG_OP_NAME, QG_OP_NAME)};

bool TraceOn();

// One Trace<Op>(args...) per traced operation; the format is a literal at
// the call, so the compiler checks the arguments against it.
#define QG_OP_TRACE(id, name, format)     \
    template <typename... Args>           \
    void Trace##id(Args... args)          \
    {                                     \
        if (TraceOn())                    \
            ProxyLog(4, format, args...); \
    }
#define QG_OP_SILENT(id, name)
QG_SERVED_OPS(QG_OP_TRACE, QG_OP_SILENT)

CConnectMgr& Mgr()
{
    return CConnectMgr::GetInstance();
}

// The work of one operation; an Ice failure becomes -1 and a log line.
template <typename Work>
int Serve(int op, Work work)
{
    try {
        return work();
    } catch (const IceUtil::Exception& e) {
        ProxyLog(16, "rpc %s fail: %s", kServedOpNames[op], e.what());
        return -1;
    }
}

// Trace lines are written under debug flag 8.
bool TraceOn()
{
    return (Mgr().GetDebugFlags() & 8) != 0;
}

// A gateway's text as its trace line shows it; read only when traced.
std::string TracedText(const std::string& text)
{
    return TraceOn() ? LoggedText(4, text) : std::string();
}

}  // namespace

Ice::Int rpcCorvaneQuillgate::connect(Ice::Int reqid, const std::string& addrs, const Ice::Current&)
{
    TraceConnect(reqid, TracedText(addrs).c_str(), -1);
    return -1;
}

Ice::Int rpcCorvaneQuillgate::login(Ice::Int reqid, const std::string& host, const std::string& userName,
                                    const std::string& passWord, Ice::Int passEncType, const std::string& jsonParam,
                                    const Ice::Current&)
{
    const int ret =
        Serve(kOpLogin, [&] { return Mgr().Login(reqid, host, userName, passWord, passEncType, jsonParam); });
    TraceLogin(reqid, host.c_str(), userName.c_str(), kMaskedPassword, passEncType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::loginEx(Ice::Int reqid, const std::string& host, const std::string& nickName,
                                      Ice::Int userId, const std::string& strUserId, const std::string& appId,
                                      Ice::Int timeStamp, const std::string& sigStr, const std::string& strParam,
                                      const std::string& jsonParam, const Ice::Current&)
{
    const int ret = Serve(kOpLoginEx, [&] {
        return Mgr().LoginEx(reqid, host, nickName, userId, strUserId, appId, timeStamp, sigStr, strParam, jsonParam);
    });
    TraceLoginEx(reqid, nickName.c_str(), userId, strUserId.c_str(), appId.c_str(), static_cast<long>(timeStamp),
                 kMaskedPassword, TracedText(strParam).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::logout(Ice::Int reqid, const Ice::Current&)
{
    const int ret = Serve(kOpLogout, [&] { return Mgr().Logout(reqid); });
    TraceLogout(reqid, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::enterRoom(Ice::Int reqid, Ice::Int roomid, const std::string& roomPassWord,
                                        Ice::Int passEncType, const Ice::Current&)
{
    const int ret = Serve(kOpEnterRoom, [&] { return Mgr().EnterRoom(reqid, roomid, roomPassWord, passEncType); });
    TraceEnterRoom(reqid, roomid, kMaskedPassword, passEncType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::enterRoomEx(Ice::Int reqid, const std::string& roomName, const std::string& roomPassWord,
                                          Ice::Int passEncType, const Ice::Current&)
{
    const int ret =
        Serve(kOpEnterRoomEx, [&] { return Mgr().EnterRoomEx(reqid, roomName, roomPassWord, passEncType); });
    TraceEnterRoomEx(reqid, roomName.c_str(), kMaskedPassword, passEncType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::leaveRoom(Ice::Int reqid, Ice::Int /*roomId*/, const Ice::Current&)
{
    // The SDK leaves whatever room the user is in.
    const int ret = Serve(kOpLeaveRoom, [&] { return Mgr().LeaveRoom(reqid); });
    TraceLeaveRoom(reqid, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userCameraControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&)
{
    const int ret = Serve(kOpUserCameraControl, [&] { return Mgr().UserCameraControl(reqid, userid, open); });
    TraceUserCameraControl(reqid, userid, open ? 1 : 0, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userSpeakControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&)
{
    const int ret = Serve(kOpUserSpeakControl, [&] { return Mgr().UserSpeakControl(reqid, userid, open); });
    TraceUserSpeakControl(reqid, userid, open ? 1 : 0, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userCameraControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex,
                                                  Ice::Int flags, const std::string& strParam, const Ice::Current&)
{
    const int ret = Serve(kOpUserCameraControlEx,
                          [&] { return Mgr().UserCameraControlEx(reqid, userid, open, streamIndex, flags, strParam); });
    TraceUserCameraControlEx(reqid, userid, open ? 1 : 0, streamIndex, flags, TracedText(strParam).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userSpeakControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex,
                                                 Ice::Int flags, const std::string& strParam, const Ice::Current&)
{
    const int ret = Serve(kOpUserSpeakControlEx,
                          [&] { return Mgr().UserSpeakControlEx(reqid, userid, open, streamIndex, flags, strParam); });
    TraceUserSpeakControlEx(reqid, userid, open ? 1 : 0, streamIndex, flags, TracedText(strParam).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::consultParam(Ice::Int reqid, Ice::Int type, const std::string& jsonBuf,
                                           const Ice::Current&)
{
    const int ret = Serve(kOpConsultParam, [&] { return Mgr().ConsultParam(reqid, type, jsonBuf); });
    TraceConsultParam(reqid, type, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::webrtcConsult(Ice::Int reqid, const std::string& jsonBuf, const Ice::Current&)
{
    const int ret = Serve(kOpWebrtcConsult, [&] { return Mgr().WebrtcConsult(reqid, jsonBuf); });
    TraceWebrtcConsult(reqid, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::videoCallControl(Ice::Int reqid, Ice::Int eventType, Ice::Int userId, Ice::Int errorCode,
                                               Ice::Int flags, Ice::Int param, const std::string& userStr,
                                               const Ice::Current&)
{
    const int ret = Serve(kOpVideoCallControl, [&] {
        return Mgr().VideoCallControl(reqid, eventType, userId, errorCode, flags, param, userStr);
    });
    TraceVideoCallControl(reqid, eventType, userId, errorCode, flags, param, TracedText(userStr).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectSetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int infoName,
                                             Ice::Int valueType, const std::string& infoValue, const Ice::Current&)
{
    const int ret = Serve(kOpObjectSetValue, [&] {
        return Mgr().ObjectSetValue(reqid, objectType, objectId, infoName, valueType, infoValue);
    });
    TraceObjectSetValue(reqid, objectType, objectId, infoName, TracedText(infoValue).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectGetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int infoName,
                                             Ice::Int valueType, const Ice::Current&)
{
    const int ret = Serve(kOpObjectGetValue,
                          [&] { return Mgr().ObjectGetValue(reqid, objectType, objectId, infoName, valueType); });
    TraceObjectGetValue(reqid, objectType, objectId, infoName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectGetIdList(Ice::Int reqid, Ice::Int objectType, const Ice::Current&)
{
    const int ret = Serve(kOpObjectGetIdList, [&] { return Mgr().ObjectGetIdList(reqid, objectType); });
    TraceObjectGetIdList(reqid, objectType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::setSDKOptionString(Ice::Int reqid, Ice::Int optName, const std::string& optVal,
                                                 const Ice::Current&)
{
    const int ret = Serve(kOpSetSDKOptionString, [&] { return Mgr().SetSDKOptionString(reqid, optName, optVal); });
    TraceSetSDKOptionString(reqid, optName, TracedText(optVal).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::setSDKOptionInt(Ice::Int reqid, Ice::Int optName, Ice::Int optVal, const Ice::Current&)
{
    const int ret = Serve(kOpSetSDKOptionInt, [&] { return Mgr().SetSDKOptionInt(reqid, optName, optVal); });
    TraceSetSDKOptionInt(reqid, optName, optVal, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::getSDKOptionString(Ice::Int reqid, Ice::Int optName, const Ice::Current&)
{
    const int ret = Serve(kOpGetSDKOptionString, [&] { return Mgr().GetSDKOptionString(reqid, optName); });
    TraceGetSDKOptionString(reqid, optName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::getSDKOptionInt(Ice::Int reqid, Ice::Int optName, const Ice::Current&)
{
    const int ret = Serve(kOpGetSDKOptionInt, [&] { return Mgr().GetSDKOptionInt(reqid, optName); });
    TraceGetSDKOptionInt(reqid, optName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::sdkControl(Ice::Int reqid, Ice::Int ctrlCode, const std::string& param,
                                         const Ice::Current&)
{
    const int ret = Serve(kOpSdkControl, [&] { return Mgr().SDKControl(reqid, ctrlCode, param); });
    TraceSdkControl(reqid, ctrlCode, TracedText(param).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::queryUserState(Ice::Int reqid, Ice::Int userId, Ice::Int infoName, Ice::Int valueType,
                                             const Ice::Current&)
{
    const int ret = Serve(kOpQueryUserState, [&] { return Mgr().QueryUserState(reqid, userId, infoName, valueType); });
    TraceQueryUserState(reqid, infoName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::transBuffer(Ice::Int reqid, Ice::Int userId, const std::string& buf, const Ice::Current&)
{
    const int ret = Serve(kOpTransBuffer, [&] { return Mgr().TransBuffer(reqid, userId, buf); });
    TraceTransBuffer(reqid, userId, TracedText(buf).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::transBufferEx(Ice::Int reqid, Ice::Int userId, const std::string& buf, Ice::Int param1,
                                            Ice::Int param2, Ice::Int flags, const Ice::Current&)
{
    const int ret =
        Serve(kOpTransBufferEx, [&] { return Mgr().TransBufferEx(reqid, userId, buf, param1, param2, flags); });
    TraceTransBufferEx(reqid, userId, TracedText(buf).c_str(), param1, param2, flags, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::sendTextMessage(Ice::Int reqid, Ice::Int userId, bool secret, const std::string& buf,
                                              const Ice::Current&)
{
    const int ret = Serve(kOpSendTextMessage, [&] { return Mgr().SendTextMessage(reqid, userId, secret, buf); });
    TraceSendTextMessage(reqid, userId, secret ? 1 : 0, TracedText(buf).c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::streamRecordCtrlEx(Ice::Int reqid, Ice::Int userId, bool startRecord, Ice::Int flags,
                                                 Ice::Int param, const std::string& userStr, const Ice::Current&)
{
    const int ret = Serve(kOpStreamRecordCtrlEx,
                          [&] { return Mgr().StreamRecordCtrlEx(reqid, userId, startRecord, flags, param, userStr); });
    TraceStreamRecordCtrlEx(reqid, userId, startRecord ? 1 : 0, flags, param, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::setUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex,
                                                Ice::Int infoName, const std::string& infoVal, const Ice::Current&)
{
    TraceSetUserStreamInfo(reqid, userId, streamIndex, infoName, TracedText(infoVal).c_str(), -1);
    return -1;
}

Ice::Int rpcCorvaneQuillgate::getUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex,
                                                Ice::Int infoName, const Ice::Current&)
{
    TraceGetUserStreamInfo(reqid, userId, streamIndex, infoName, -1);
    return -1;
}

Ice::Int rpcCorvaneQuillgate::getRoomOnlineUsers(Ice::Int reqid, Ice::Int roomId, const Ice::Current&)
{
    const int ret = Serve(kOpGetRoomOnlineUsers, [&] { return Mgr().GetRoomOnlineUsers(reqid, roomId); });
    TraceGetRoomOnlineUsers(reqid, roomId, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectControl(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int ctrlCode,
                                            Ice::Int param1, Ice::Int param2, Ice::Int param3, Ice::Int param4,
                                            const std::string& strParam, const Ice::Current&)
{
    const int ret = Serve(kOpObjectControl, [&] {
        return Mgr().ObjectControl(reqid, objectType, objectId, ctrlCode, param1, param2, param3, param4, strParam);
    });
    TraceObjectControl(reqid, objectType, objectId, ctrlCode, param1, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::heartBeat(const Ice::Current&)
{
    return Serve(kOpHeartBeat, [] { return Mgr().HeartBeat(); });
}

Ice::Int rpcCorvaneQuillgate::setGeneralParam(Ice::Int reqid, Ice::Int paramType, const std::string& jsonParam,
                                              const Ice::Current&)
{
    return Serve(kOpSetGeneralParam, [&] { return Mgr().SetGeneralParam(reqid, paramType, jsonParam); });
}

Ice::Int rpcCorvaneQuillgate::userInfoControl(Ice::Int reqid, Ice::Int userId, Ice::Int ctrlCode, Ice::Int param1,
                                              Ice::Int param2, const std::string& strValue, const Ice::Current&)
{
    return Serve(kOpUserInfoControl,
                 [&] { return Mgr().UserInfoControl(reqid, userId, ctrlCode, param1, param2, strValue); });
}

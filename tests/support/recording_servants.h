// Servants of both gateway RPC interfaces that record every call as text
// "op(arg, ...)" (ints in decimal, bools as true/false, strings in quotes,
// their bytes as they are, proxies as their text) and answer with a set code.
#pragma once

#include "rpcCorvaneWebRtcGW.h"

#include <Ice/Ice.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

class CallRecorder
{
public:
    Ice::Int answer = 0;

    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return calls_;
    }

    // Waits, bounded, until at least n calls were recorded. Only a failing
    // wait takes the time: the default allows for a sanitizer build on a
    // loaded host (calls over loopback Ice).
    bool WaitCount(size_t n, int ms = 20000)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return calls_.size() >= n; });
    }

protected:
    template <typename... Args>
    Ice::Int Record(const char* op, const Args&... args)
    {
        std::ostringstream os;
        os << op << "(";
        const char* sep = "";
        (void)sep;
        ((os << sep, Put(os, args), sep = ", "), ...);
        os << ")";
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back(os.str());
        cv_.notify_all();
        return answer;
    }

private:
    static void Put(std::ostream& os, Ice::Int v) { os << v; }
    static void Put(std::ostream& os, bool v) { os << (v ? "true" : "false"); }
    static void Put(std::ostream& os, const std::string& v) { os << '"' << v << '"'; }
    template <typename T>
    static void Put(std::ostream& os, const IceInternal::ProxyHandle<T>& v)
    {
        os << (v ? v->ice_toString() : "null");
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> calls_;
};

class RecordingQuillgate : public rpcCorvane::rpcCorvaneWebRtcQuillgate, public CallRecorder
{
public:
    Ice::Int connect(Ice::Int reqid, const std::string& addrs, const Ice::Current&) override
    {
        return Record("connect", reqid, addrs);
    }
    Ice::Int login(Ice::Int reqid, const std::string& host, const std::string& userName, const std::string& passWord,
                   Ice::Int passEncType, const std::string& jsonParam, const Ice::Current&) override
    {
        return Record("login", reqid, host, userName, passWord, passEncType, jsonParam);
    }
    Ice::Int loginEx(Ice::Int reqid, const std::string& host, const std::string& nickName, Ice::Int userId,
                     const std::string& strUserId, const std::string& appId, Ice::Int timeStamp,
                     const std::string& sigStr, const std::string& strParam, const std::string& jsonParam,
                     const Ice::Current&) override
    {
        return Record("loginEx", reqid, host, nickName, userId, strUserId, appId, timeStamp, sigStr, strParam,
                      jsonParam);
    }
    Ice::Int logout(Ice::Int reqid, const Ice::Current&) override { return Record("logout", reqid); }
    Ice::Int enterRoom(Ice::Int reqid, Ice::Int roomid, const std::string& roomPassWord, Ice::Int passEncType,
                       const Ice::Current&) override
    {
        return Record("enterRoom", reqid, roomid, roomPassWord, passEncType);
    }
    Ice::Int enterRoomEx(Ice::Int reqid, const std::string& roomName, const std::string& roomPassWord,
                         Ice::Int passEncType, const Ice::Current&) override
    {
        return Record("enterRoomEx", reqid, roomName, roomPassWord, passEncType);
    }
    Ice::Int leaveRoom(Ice::Int reqid, Ice::Int roomId, const Ice::Current&) override
    {
        return Record("leaveRoom", reqid, roomId);
    }
    Ice::Int userCameraControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&) override
    {
        return Record("userCameraControl", reqid, userid, open);
    }
    Ice::Int userSpeakControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&) override
    {
        return Record("userSpeakControl", reqid, userid, open);
    }
    Ice::Int userCameraControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex, Ice::Int flags,
                                 const std::string& strParam, const Ice::Current&) override
    {
        return Record("userCameraControlEx", reqid, userid, open, streamIndex, flags, strParam);
    }
    Ice::Int userSpeakControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex, Ice::Int flags,
                                const std::string& strParam, const Ice::Current&) override
    {
        return Record("userSpeakControlEx", reqid, userid, open, streamIndex, flags, strParam);
    }
    Ice::Int consultParam(Ice::Int reqid, Ice::Int type, const std::string& jsonBuf, const Ice::Current&) override
    {
        return Record("consultParam", reqid, type, jsonBuf);
    }
    Ice::Int webrtcConsult(Ice::Int reqid, const std::string& jsonBuf, const Ice::Current&) override
    {
        return Record("webrtcConsult", reqid, jsonBuf);
    }
    Ice::Int videoCallControl(Ice::Int reqid, Ice::Int eventType, Ice::Int userId, Ice::Int errorCode, Ice::Int flags,
                              Ice::Int param, const std::string& userStr, const Ice::Current&) override
    {
        return Record("videoCallControl", reqid, eventType, userId, errorCode, flags, param, userStr);
    }
    Ice::Int objectSetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int infoName,
                            Ice::Int valueType, const std::string& infoValue, const Ice::Current&) override
    {
        return Record("objectSetValue", reqid, objectType, objectId, infoName, valueType, infoValue);
    }
    Ice::Int objectGetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int infoName,
                            Ice::Int valueType, const Ice::Current&) override
    {
        return Record("objectGetValue", reqid, objectType, objectId, infoName, valueType);
    }
    Ice::Int objectGetIdList(Ice::Int reqid, Ice::Int objectType, const Ice::Current&) override
    {
        return Record("objectGetIdList", reqid, objectType);
    }
    Ice::Int setSDKOptionString(Ice::Int reqid, Ice::Int optName, const std::string& optVal,
                                const Ice::Current&) override
    {
        return Record("setSDKOptionString", reqid, optName, optVal);
    }
    Ice::Int setSDKOptionInt(Ice::Int reqid, Ice::Int optName, Ice::Int optVal, const Ice::Current&) override
    {
        return Record("setSDKOptionInt", reqid, optName, optVal);
    }
    Ice::Int getSDKOptionString(Ice::Int reqid, Ice::Int optName, const Ice::Current&) override
    {
        return Record("getSDKOptionString", reqid, optName);
    }
    Ice::Int getSDKOptionInt(Ice::Int reqid, Ice::Int optName, const Ice::Current&) override
    {
        return Record("getSDKOptionInt", reqid, optName);
    }
    Ice::Int sdkControl(Ice::Int reqid, Ice::Int ctrlCode, const std::string& param, const Ice::Current&) override
    {
        return Record("sdkControl", reqid, ctrlCode, param);
    }
    Ice::Int queryUserState(Ice::Int reqid, Ice::Int userId, Ice::Int infoName, Ice::Int valueType,
                            const Ice::Current&) override
    {
        return Record("queryUserState", reqid, userId, infoName, valueType);
    }
    Ice::Int transBuffer(Ice::Int reqid, Ice::Int userId, const std::string& buf, const Ice::Current&) override
    {
        return Record("transBuffer", reqid, userId, buf);
    }
    Ice::Int transBufferEx(Ice::Int reqid, Ice::Int userId, const std::string& buf, Ice::Int param1, Ice::Int param2,
                           Ice::Int flags, const Ice::Current&) override
    {
        return Record("transBufferEx", reqid, userId, buf, param1, param2, flags);
    }
    Ice::Int sendTextMessage(Ice::Int reqid, Ice::Int userId, bool secret, const std::string& buf,
                             const Ice::Current&) override
    {
        return Record("sendTextMessage", reqid, userId, secret, buf);
    }
    Ice::Int streamRecordCtrlEx(Ice::Int reqid, Ice::Int userId, bool startRecord, Ice::Int flags, Ice::Int param,
                                const std::string& userStr, const Ice::Current&) override
    {
        return Record("streamRecordCtrlEx", reqid, userId, startRecord, flags, param, userStr);
    }
    Ice::Int setUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex, Ice::Int infoName,
                               const std::string& infoVal, const Ice::Current&) override
    {
        return Record("setUserStreamInfo", reqid, userId, streamIndex, infoName, infoVal);
    }
    Ice::Int getUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex, Ice::Int infoName,
                               const Ice::Current&) override
    {
        return Record("getUserStreamInfo", reqid, userId, streamIndex, infoName);
    }
    Ice::Int getRoomOnlineUsers(Ice::Int reqid, Ice::Int roomId, const Ice::Current&) override
    {
        return Record("getRoomOnlineUsers", reqid, roomId);
    }
    Ice::Int objectControl(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int ctrlCode, Ice::Int param1,
                           Ice::Int param2, Ice::Int param3, Ice::Int param4, const std::string& strParam,
                           const Ice::Current&) override
    {
        return Record("objectControl", reqid, objectType, objectId, ctrlCode, param1, param2, param3, param4, strParam);
    }
    Ice::Int heartBeat(const Ice::Current&) override { return Record("heartBeat"); }
    Ice::Int setGeneralParam(Ice::Int reqid, Ice::Int paramType, const std::string& jsonParam,
                             const Ice::Current&) override
    {
        return Record("setGeneralParam", reqid, paramType, jsonParam);
    }
    Ice::Int userInfoControl(Ice::Int reqid, Ice::Int userId, Ice::Int ctrlCode, Ice::Int param1, Ice::Int param2,
                             const std::string& strValue, const Ice::Current&) override
    {
        return Record("userInfoControl", reqid, userId, ctrlCode, param1, param2, strValue);
    }
};

class RecordingGateway : public rpcCorvane::rpcCorvaneWebRtcGw, public CallRecorder
{
public:
    Ice::Int initiateQiullgateDelegate(const std::string& sessionId, Ice::Int pid,
                                       const rpcCorvane::rpcCorvaneWebRtcQuillgatePrx& delegate,
                                       const Ice::Current&) override
    {
        return Record("initiateQiullgateDelegate", sessionId, pid, delegate);
    }
    void shutdown(const Ice::Current&) override { Record("shutdown"); }
    Ice::Int replyConnect(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                          const Ice::Current&) override
    {
        return Record("replyConnect", sessionId, reqid, errorCode);
    }
    Ice::Int replyLogin(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, Ice::Int errorCode,
                        const Ice::Current&) override
    {
        return Record("replyLogin", sessionId, reqid, userId, errorCode);
    }
    Ice::Int replyLoginEx(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, Ice::Int errorCode,
                          const Ice::Current&) override
    {
        return Record("replyLoginEx", sessionId, reqid, userId, errorCode);
    }
    Ice::Int replyLogout(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, const Ice::Current&) override
    {
        return Record("replyLogout", sessionId, reqid, errorCode);
    }
    Ice::Int replyEnterRoom(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int roomId,
                            const Ice::Current&) override
    {
        return Record("replyEnterRoom", sessionId, reqid, errorCode, roomId);
    }
    Ice::Int replyEnterRoomEx(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int roomId,
                              const Ice::Current&) override
    {
        return Record("replyEnterRoomEx", sessionId, reqid, errorCode, roomId);
    }
    Ice::Int replyLeaveRoom(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                            const Ice::Current&) override
    {
        return Record("replyLeaveRoom", sessionId, reqid, errorCode);
    }
    Ice::Int replyUserCameraControl(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, Ice::Int errorCode,
                                    const Ice::Current&) override
    {
        return Record("replyUserCameraControl", sessionId, reqid, userId, errorCode);
    }
    Ice::Int replyUserSpeakControl(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, Ice::Int errorCode,
                                   const Ice::Current&) override
    {
        return Record("replyUserSpeakControl", sessionId, reqid, userId, errorCode);
    }
    Ice::Int replyUserCameraControlEx(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, Ice::Int errorCode,
                                      const Ice::Current&) override
    {
        return Record("replyUserCameraControlEx", sessionId, reqid, userId, errorCode);
    }
    Ice::Int replyUserSpeakControlEx(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, Ice::Int errorCode,
                                     const Ice::Current&) override
    {
        return Record("replyUserSpeakControlEx", sessionId, reqid, userId, errorCode);
    }
    Ice::Int replyConsultParam(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int type,
                               const std::string& jsonBuf, const Ice::Current&) override
    {
        return Record("replyConsultParam", sessionId, reqid, errorCode, type, jsonBuf);
    }
    Ice::Int replyWebrtcConsult(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                const std::string& jsonBuf, const Ice::Current&) override
    {
        return Record("replyWebrtcConsult", sessionId, reqid, errorCode, jsonBuf);
    }
    Ice::Int replyVideoCallControl(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                   const Ice::Current&) override
    {
        return Record("replyVideoCallControl", sessionId, reqid, errorCode);
    }
    Ice::Int replyObjectSetValue(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                 const Ice::Current&) override
    {
        return Record("replyObjectSetValue", sessionId, reqid, errorCode);
    }
    Ice::Int replyObjectGetValue(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                 const std::string& infoValue, const Ice::Current&) override
    {
        return Record("replyObjectGetValue", sessionId, reqid, errorCode, infoValue);
    }
    Ice::Int replyObjectGetIdList(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                  const std::string& idList, const Ice::Current&) override
    {
        return Record("replyObjectGetIdList", sessionId, reqid, errorCode, idList);
    }
    Ice::Int replySetSDKOptionString(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                     const Ice::Current&) override
    {
        return Record("replySetSDKOptionString", sessionId, reqid, errorCode);
    }
    Ice::Int replySetSDKOptionInt(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                  const Ice::Current&) override
    {
        return Record("replySetSDKOptionInt", sessionId, reqid, errorCode);
    }
    Ice::Int replyGetSDKOptionString(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int optName,
                                     const std::string& optVal, const Ice::Current&) override
    {
        return Record("replyGetSDKOptionString", sessionId, reqid, errorCode, optName, optVal);
    }
    Ice::Int replyGetSDKOptionInt(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int optName,
                                  Ice::Int optVal, const Ice::Current&) override
    {
        return Record("replyGetSDKOptionInt", sessionId, reqid, errorCode, optName, optVal);
    }
    Ice::Int replySDKControl(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                             const std::string& jsonBuf, const Ice::Current&) override
    {
        return Record("replySDKControl", sessionId, reqid, errorCode, jsonBuf);
    }
    Ice::Int replyQueryUserState(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int userId,
                                 Ice::Int infoName, const std::string& infoValue, const Ice::Current&) override
    {
        return Record("replyQueryUserState", sessionId, reqid, errorCode, userId, infoName, infoValue);
    }
    Ice::Int replyTransBuffer(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                              const Ice::Current&) override
    {
        return Record("replyTransBuffer", sessionId, reqid, errorCode);
    }
    Ice::Int replyTransBufferEx(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int param,
                                const Ice::Current&) override
    {
        return Record("replyTransBufferEx", sessionId, reqid, errorCode, param);
    }
    Ice::Int replySendTextMessage(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                  const Ice::Current&) override
    {
        return Record("replySendTextMessage", sessionId, reqid, errorCode);
    }
    Ice::Int replyStreamRecordCtrlEx(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                     const Ice::Current&) override
    {
        return Record("replyStreamRecordCtrlEx", sessionId, reqid, errorCode);
    }
    Ice::Int replySetUserStreamInfo(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                    const Ice::Current&) override
    {
        return Record("replySetUserStreamInfo", sessionId, reqid, errorCode);
    }
    Ice::Int replyGetUserStreamInfo(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int userId,
                                    Ice::Int infoName, const std::string& infoVal, const Ice::Current&) override
    {
        return Record("replyGetUserStreamInfo", sessionId, reqid, errorCode, userId, infoName, infoVal);
    }
    Ice::Int replyGetRoomOnlineUsers(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode, Ice::Int roomId,
                                     const std::string& userList, const Ice::Current&) override
    {
        return Record("replyGetRoomOnlineUsers", sessionId, reqid, errorCode, roomId, userList);
    }
    Ice::Int replyObjectControl(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                const Ice::Current&) override
    {
        return Record("replyObjectControl", sessionId, reqid, errorCode);
    }
    Ice::Int replyUserInfoControl(const std::string& sessionId, Ice::Int reqid, Ice::Int errorCode,
                                  const Ice::Current&) override
    {
        return Record("replyUserInfoControl", sessionId, reqid, errorCode);
    }
    Ice::Int notifyOnlineUser(const std::string& sessionId, Ice::Int reqid, Ice::Int roomId,
                              const std::string& userList, const Ice::Current&) override
    {
        return Record("notifyOnlineUser", sessionId, reqid, roomId, userList);
    }
    Ice::Int notifyUserAtRoom(const std::string& sessionId, Ice::Int reqid, Ice::Int userId,
                              const std::string& userName, bool enter, Ice::Int param1, Ice::Int param2,
                              const Ice::Current&) override
    {
        return Record("notifyUserAtRoom", sessionId, reqid, userId, userName, enter, param1, param2);
    }
    Ice::Int notifyWebrtcConsult(const std::string& sessionId, Ice::Int reqid, const std::string& jsonBuf,
                                 const Ice::Current&) override
    {
        return Record("notifyWebrtcConsult", sessionId, reqid, jsonBuf);
    }
    Ice::Int notifyKickOut(const std::string& sessionId, Ice::Int errorCode, const Ice::Current&) override
    {
        return Record("notifyKickOut", sessionId, errorCode);
    }
    Ice::Int notifyLinkClose(const std::string& sessionId, Ice::Int errorCode, const Ice::Current&) override
    {
        return Record("notifyLinkClose", sessionId, errorCode);
    }
    Ice::Int notifyVideoCallEvent(const std::string& sessionId, Ice::Int reqid, Ice::Int eventType, Ice::Int userId,
                                  Ice::Int errorCode, Ice::Int flags, Ice::Int param, const std::string& userStr,
                                  const Ice::Current&) override
    {
        return Record("notifyVideoCallEvent", sessionId, reqid, eventType, userId, errorCode, flags, param, userStr);
    }
    Ice::Int notifyTransBuffer(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, const std::string& buf,
                               const Ice::Current&) override
    {
        return Record("notifyTransBuffer", sessionId, reqid, userId, buf);
    }
    Ice::Int notifyTransBufferEx(const std::string& sessionId, Ice::Int reqid, Ice::Int userId, const std::string& buf,
                                 Ice::Int param1, Ice::Int param2, Ice::Int flags, const Ice::Current&) override
    {
        return Record("notifyTransBufferEx", sessionId, reqid, userId, buf, param1, param2, flags);
    }
    Ice::Int notifySendTextMessage(const std::string& sessionId, Ice::Int reqid, Ice::Int fromUserId, Ice::Int toUserId,
                                   bool secret, const std::string& buf, const Ice::Current&) override
    {
        return Record("notifySendTextMessage", sessionId, reqid, fromUserId, toUserId, secret, buf);
    }
    Ice::Int notifyStreamRecordEx(const std::string& sessionId, Ice::Int reqid, Ice::Int userId,
                                  const std::string& strParam, Ice::Int param1, Ice::Int param2, Ice::Int param3,
                                  const Ice::Current&) override
    {
        return Record("notifyStreamRecordEx", sessionId, reqid, userId, strParam, param1, param2, param3);
    }
    Ice::Int notifyCoreSDKEvent(const std::string& sessionId, Ice::Int eventType, const std::string& jsonBuf,
                                const Ice::Current&) override
    {
        return Record("notifyCoreSDKEvent", sessionId, eventType, jsonBuf);
    }
    Ice::Int notifyObjectEvent(const std::string& sessionId, Ice::Int objectType, Ice::Int objectId, Ice::Int eventType,
                               Ice::Int param1, Ice::Int param2, Ice::Int param3, Ice::Int param4,
                               const std::string& strParam, const Ice::Current&) override
    {
        return Record("notifyObjectEvent", sessionId, objectType, objectId, eventType, param1, param2, param3, param4,
                      strParam);
    }
    Ice::Int notifyCameraStateChange(const std::string& sessionId, Ice::Int userId, Ice::Int cameraState,
                                     const Ice::Current&) override
    {
        return Record("notifyCameraStateChange", sessionId, userId, cameraState);
    }
    Ice::Int notifyVideoSizeChange(const std::string& sessionId, Ice::Int userId, Ice::Int videoSize,
                                   const Ice::Current&) override
    {
        return Record("notifyVideoSizeChange", sessionId, userId, videoSize);
    }
    Ice::Int notifyFriendStatus(const std::string& sessionId, Ice::Int userId, const std::string& userName,
                                const std::string& userInfo, Ice::Int status, const Ice::Current&) override
    {
        return Record("notifyFriendStatus", sessionId, userId, userName, userInfo, status);
    }
    Ice::Int notifyUserInfoUpdate(const std::string& sessionId, Ice::Int userId, Ice::Int type,
                                  const Ice::Current&) override
    {
        return Record("notifyUserInfoUpdate", sessionId, userId, type);
    }
    Ice::Int notifyAppConfigInfo(const std::string& sessionId, const Ice::Current&) override
    {
        return Record("notifyAppConfigInfo", sessionId);
    }
    Ice::Int notifyMicStateChange(const std::string& sessionId, Ice::Int userId, Ice::Int state,
                                  const Ice::Current&) override
    {
        return Record("notifyMicStateChange", sessionId, userId, state);
    }
};

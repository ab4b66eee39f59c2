// An owner for the SDK client that writes down every call it gets, one
// line each, "Name(arg, arg, ...)" with texts quoted and flags as
// true/false, so tests read what would have gone to the gateway.
#ifndef QG_TESTS_SDKLINK_RECORDING_OWNER_H
#define QG_TESTS_SDKLINK_RECORDING_OWNER_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "quillgate/sdklink/corvane_connect_owner.h"

class RecordingOwner : public ICorvaneConnectOwner
{
public:
    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    // Waits until more than `count` calls are on record, at most timeoutMs.
    void WaitCount(size_t count, int timeoutMs) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_calls.size() > count; });
    }
    int nameUpdates() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nameUpdates;
    }

    int ReplyLogin(int userId, int errorCode) override { return Rec("ReplyLogin", userId, errorCode); }
    int ReplyEnterRoom(int roomId, int errorCode) override { return Rec("ReplyEnterRoom", roomId, errorCode); }
    int ReplyLeaveRoom(int errorCode) override { return Rec("ReplyLeaveRoom", errorCode); }
    int ReplyUserCameraControl(int userId, int errorCode) override
    {
        return Rec("ReplyUserCameraControl", userId, errorCode);
    }
    int ReplyUserCameraControlEx(int userId, int errorCode) override
    {
        return Rec("ReplyUserCameraControlEx", userId, errorCode);
    }
    int ReplyUserSpeakControl(int userId, int errorCode) override
    {
        return Rec("ReplyUserSpeakControl", userId, errorCode);
    }
    int ReplyUserSpeakControlEx(int userId, int errorCode) override
    {
        return Rec("ReplyUserSpeakControlEx", userId, errorCode);
    }
    int ReplyObjectSetValue(int errorCode) override { return Rec("ReplyObjectSetValue", errorCode); }
    int ReplyObjectGetValue(int objectType, int objectId, int infoName, const std::string& infoValue,
                            int errorCode) override
    {
        return Rec("ReplyObjectGetValue", objectType, objectId, infoName, infoValue, errorCode);
    }
    int ReplyObjectGetIdList(int objectType, const std::string& idList, int errorCode) override
    {
        return Rec("ReplyObjectGetIdList", objectType, idList, errorCode);
    }
    int ReplySetSDKOptionString(int errorCode) override { return Rec("ReplySetSDKOptionString", errorCode); }
    int ReplySetSDKOptionInt(int errorCode) override { return Rec("ReplySetSDKOptionInt", errorCode); }
    int ReplyGetSDKOptionString(int errorCode, int optName, const std::string& optVal) override
    {
        return Rec("ReplyGetSDKOptionString", errorCode, optName, optVal);
    }
    int ReplyGetSDKOptionInt(int errorCode, int optName, int optVal) override
    {
        return Rec("ReplyGetSDKOptionInt", errorCode, optName, optVal);
    }
    int ReplySDKControl(int errorCode, const std::string& jsonBuf) override
    {
        return Rec("ReplySDKControl", errorCode, jsonBuf);
    }
    int ReplyQueryUserState(int errorCode, int userId, int infoName, const std::string& infoValue) override
    {
        return Rec("ReplyQueryUserState", errorCode, userId, infoName, infoValue);
    }
    int ReplySendTextMessage(int errorCode) override { return Rec("ReplySendTextMessage", errorCode); }
    int ReplyStreamRecordCtrlEx(int errorCode) override { return Rec("ReplyStreamRecordCtrlEx", errorCode); }
    int ReplyGetRoomOnlineUsers(int roomId, const std::string& userList, int errorCode) override
    {
        return Rec("ReplyGetRoomOnlineUsers", roomId, userList, errorCode);
    }
    int ReplyUserInfoControl(int errorCode) override { return Rec("ReplyUserInfoControl", errorCode); }
    int ReplyTransBuffer(int reqid, int errorCode) override { return Rec("ReplyTransBuffer", reqid, errorCode); }
    int ReplyTransBufferEx(int reqid, int errorCode, int param) override
    {
        return Rec("ReplyTransBufferEx", reqid, errorCode, param);
    }

    int NotifyOnlineUser(int reqid, int roomId, const std::string& userList) override
    {
        return Rec("NotifyOnlineUser", reqid, roomId, userList);
    }
    int NotifyUserAtRoom(int reqid, int userId, const std::string& userName, bool enter, int param1,
                         int param2) override
    {
        return Rec("NotifyUserAtRoom", reqid, userId, userName, enter, param1, param2);
    }
    int NotifyStreamRecordEx(int reqid, int userId, const std::string& strParam, int param1, int param2, int param3,
                             const std::string& userStr) override
    {
        return Rec("NotifyStreamRecordEx", reqid, userId, strParam, param1, param2, param3, userStr);
    }
    int NotifyTransBuffer(int reqid, int userId, const std::string& buf) override
    {
        return Rec("NotifyTransBuffer", reqid, userId, buf);
    }
    int NotifyTransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2, int flags) override
    {
        return Rec("NotifyTransBufferEx", reqid, userId, buf, param1, param2, flags);
    }
    int NotifyVideoCallEvent(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                             const std::string& userStr) override
    {
        return Rec("NotifyVideoCallEvent", reqid, eventType, userId, errorCode, flags, param, userStr);
    }
    int NotifyObjectEvent(int objectType, int objectId, int eventType, int param1, int param2, int param3, int param4,
                          const std::string& strParam) override
    {
        return Rec("NotifyObjectEvent", objectType, objectId, eventType, param1, param2, param3, param4, strParam);
    }
    int NotifySendTextMessage(int reqid, int fromUserId, int toUserId, bool secret, const std::string& buf) override
    {
        return Rec("NotifySendTextMessage", reqid, fromUserId, toUserId, secret, buf);
    }
    int NotifyCameraStateChange(int userId, int cameraState) override
    {
        return Rec("NotifyCameraStateChange", userId, cameraState);
    }
    int NotifyVideoSizeChange(int userId, int videoSize) override
    {
        return Rec("NotifyVideoSizeChange", userId, videoSize);
    }
    int NotifyCoreSDKEvent(int eventType, const std::string& jsonBuf) override
    {
        return Rec("NotifyCoreSDKEvent", eventType, jsonBuf);
    }
    int NotifyFriendStatus(int userId, const std::string& userName, const std::string& userInfo, int status) override
    {
        return Rec("NotifyFriendStatus", userId, userName, userInfo, status);
    }
    int NotifyUserInfoUpdate(int userId, int type) override { return Rec("NotifyUserInfoUpdate", userId, type); }
    int NotifyAppConfigInfo() override { return Rec("NotifyAppConfigInfo"); }
    int NotifyLinkClose(int errorCode) override { return Rec("NotifyLinkClose", errorCode); }
    int NotifyMicStateChange(int userId, int state) override { return Rec("NotifyMicStateChange", userId, state); }

    void OnReceiveVideoStream(uint32_t userId, uint32_t streamIndex, uint32_t, uint8_t*, uint32_t length,
                              uint32_t timestamp, uint32_t rotation) override
    {
        Rec("OnReceiveVideoStream", static_cast<int>(userId), static_cast<int>(streamIndex),
            static_cast<int>(length), static_cast<int>(timestamp), static_cast<int>(rotation));
    }
    void OnReceiveAudioStream(uint32_t userId, uint32_t streamIndex, uint32_t, uint8_t*, uint32_t length,
                              uint32_t timestamp) override
    {
        Rec("OnReceiveAudioStream", static_cast<int>(userId), static_cast<int>(streamIndex),
            static_cast<int>(length), static_cast<int>(timestamp));
    }

    int SendMediaCodecInfo(uint32_t applyVideo, uint32_t audio) override
    {
        return Rec("SendMediaCodecInfo", static_cast<int>(applyVideo), static_cast<int>(audio));
    }

    void RequestNameUpdate() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nameUpdates;
    }

private:
    static void Put(std::ostringstream& os, int v) { os << v; }
    static void Put(std::ostringstream& os, bool v) { os << (v ? "true" : "false"); }
    static void Put(std::ostringstream& os, const std::string& v) { os << '"' << v << '"'; }

    template <typename... A>
    int Rec(const char* name, const A&... args)
    {
        std::ostringstream os;
        os << name << '(';
        bool first = true;
        ((os << (first ? "" : ", "), Put(os, args), first = false), ...);
        os << ')';
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(os.str());
        }
        m_cond.notify_all();
        return 0;
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cond;
    std::vector<std::string> m_calls;
    int m_nameUpdates = 0;
};

#endif

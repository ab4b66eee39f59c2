// What the SDK client needs of the object that owns it. Outcomes and
// events of the conferencing system go up through here; the SDK client
// never reaches its owner's class, the servant or the service.
#ifndef QG_SDKLINK_CORVANE_CONNECT_OWNER_H
#define QG_SDKLINK_CORVANE_CONNECT_OWNER_H

#include <stdint.h>
#include <string>

class ICorvaneConnectOwner
{
public:
    virtual ~ICorvaneConnectOwner() {}

    // Outcomes of filed requests: one gateway reply per id waiting under
    // the request's key; 0 when some id waited, -1 (nothing sent) otherwise.
    virtual int ReplyLogin(int userId, int errorCode) = 0;
    virtual int ReplyEnterRoom(int roomId, int errorCode) = 0;
    virtual int ReplyLeaveRoom(int errorCode) = 0;
    virtual int ReplyUserCameraControl(int userId, int errorCode) = 0;
    virtual int ReplyUserCameraControlEx(int userId, int errorCode) = 0;
    virtual int ReplyUserSpeakControl(int userId, int errorCode) = 0;
    virtual int ReplyUserSpeakControlEx(int userId, int errorCode) = 0;
    virtual int ReplyObjectSetValue(int errorCode) = 0;
    virtual int ReplyObjectGetValue(int objectType, int objectId, int infoName, const std::string& infoValue,
                                    int errorCode) = 0;
    virtual int ReplyObjectGetIdList(int objectType, const std::string& idList, int errorCode) = 0;
    virtual int ReplySetSDKOptionString(int errorCode) = 0;
    virtual int ReplySetSDKOptionInt(int errorCode) = 0;
    virtual int ReplyGetSDKOptionString(int errorCode, int optName, const std::string& optVal) = 0;
    virtual int ReplyGetSDKOptionInt(int errorCode, int optName, int optVal) = 0;
    virtual int ReplySDKControl(int errorCode, const std::string& jsonBuf) = 0;
    virtual int ReplyQueryUserState(int errorCode, int userId, int infoName, const std::string& infoValue) = 0;
    virtual int ReplySendTextMessage(int errorCode) = 0;
    virtual int ReplyStreamRecordCtrlEx(int errorCode) = 0;
    virtual int ReplyGetRoomOnlineUsers(int roomId, const std::string& userList, int errorCode) = 0;
    virtual int ReplyUserInfoControl(int errorCode) = 0;
    // Buffer transfers answer the one id they were given.
    virtual int ReplyTransBuffer(int reqid, int errorCode) = 0;
    virtual int ReplyTransBufferEx(int reqid, int errorCode, int param) = 0;

    // Events of the conferencing system for the gateway.
    virtual int NotifyOnlineUser(int reqid, int roomId, const std::string& userList) = 0;
    virtual int NotifyUserAtRoom(int reqid, int userId, const std::string& userName, bool enter, int param1,
                                 int param2) = 0;
    virtual int NotifyStreamRecordEx(int reqid, int userId, const std::string& strParam, int param1, int param2,
                                     int param3, const std::string& userStr) = 0;
    virtual int NotifyTransBuffer(int reqid, int userId, const std::string& buf) = 0;
    virtual int NotifyTransBufferEx(int reqid, int userId, const std::string& buf, int param1, int param2,
                                    int flags) = 0;
    virtual int NotifyVideoCallEvent(int reqid, int eventType, int userId, int errorCode, int flags, int param,
                                     const std::string& userStr) = 0;
    virtual int NotifyObjectEvent(int objectType, int objectId, int eventType, int param1, int param2, int param3,
                                  int param4, const std::string& strParam) = 0;
    virtual int NotifySendTextMessage(int reqid, int fromUserId, int toUserId, bool secret, const std::string& buf) = 0;
    virtual int NotifyCameraStateChange(int userId, int cameraState) = 0;
    virtual int NotifyVideoSizeChange(int userId, int videoSize) = 0;
    virtual int NotifyCoreSDKEvent(int eventType, const std::string& jsonBuf) = 0;
    virtual int NotifyFriendStatus(int userId, const std::string& userName, const std::string& userInfo,
                                   int status) = 0;
    virtual int NotifyUserInfoUpdate(int userId, int type) = 0;
    virtual int NotifyAppConfigInfo() = 0;
    virtual int NotifyLinkClose(int errorCode) = 0;
    virtual int NotifyMicStateChange(int userId, int state) = 0;

    // A remote user's media for the browser, on the SDK's thread; the bytes
    // are valid during the call only.
    virtual void OnReceiveVideoStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                      uint32_t length, uint32_t timestamp, uint32_t rotation) = 0;
    virtual void OnReceiveAudioStream(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                      uint32_t length, uint32_t timestamp) = 0;

    // The browser is told the codecs its media goes in ("mediacodec").
    virtual int SendMediaCodecInfo(uint32_t applyVideo, uint32_t audio) = 0;

    // The own user's name may have changed: the service refreshes it.
    virtual void RequestNameUpdate() = 0;
};

#endif

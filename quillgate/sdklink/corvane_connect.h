// The one client of the conferencing SDK: start-up, SDK events, login,
// rooms and users.
#ifndef QG_SDKLINK_CORVANE_CONNECT_H
#define QG_SDKLINK_CORVANE_CONNECT_H

#include <atomic>
#include <map>
#include <mutex>
#include <stdint.h>
#include <string>
#include <vector>

#include "cvapi.h"
#include "util/async_event_manager.h"

class CConnectMgr;

// What the session knows of one user seen in the room.
struct UserAttrInfo {
    uint32_t userId = 0;
    uint32_t deviceType = 0;  // the SDK's user state 15
    uint32_t lastIndex = 0;   // last piece of a split buffer from the browser
    std::string joined;       // pieces joined so far
};

// One record of the command cache: camera commands waiting for a video
// format, and SDK-control requests that arrive in pieces.
struct CmdCacheInfo {
    uint32_t type = 0;
    uint32_t userId = 0;
    uint64_t open = 0;
    uint32_t streamIndex = 0;
    uint32_t flags = 0;
    uint32_t lastIndex = 0;
    std::string uuid;
    std::string param;
    std::string content;
};

class CCorvaneConnect : public IAsyncEventDelegate
{
public:
    CCorvaneConnect();
    ~CCorvaneConnect() override;

    void SetOwner(CConnectMgr* owner) { m_owner = owner; }

    // Starts the SDK and registers every callback with this object as the
    // user value; always 0 (the SDK's results are not examined).
    int InitSDK();
    // Logs out and releases the SDK: no callback arrives afterwards.
    // Idempotent.
    void ReleaseSDK();
    // One line into the SDK's own log, prefixed "[proxy] ".
    void WriteSDKLog(const char* line);
    void SetH5VideoCodec(uint32_t codec) { m_h5VideoCodec = codec; }
    void OnTimer() {}

    uint32_t GetOwnUserId() const { return m_ownUserId; }
    uint32_t GetPlatformType() const { return m_platformType; }
    uint32_t GetBrowserType() const { return m_browserType; }
    uint32_t GetH5VideoCodec() const { return m_h5VideoCodec; }
    bool IsConnected() const { return m_connected.load() != 0; }

    // User attributes; -1 stands for the own user in GetUserAttribut.
    void AddUserAttribut(uint32_t userId, const UserAttrInfo& info);
    int GetUserAttribut(uint32_t userId, UserAttrInfo& out);
    void DelUserAttribut(uint32_t userId);
    void ClearUserAttribut();

    // Login, rooms and users. Outcomes that come later arrive as notify
    // messages and reach the gateway through the connection manager.
    int doLogin(const std::string& host, const std::string& userName, const std::string& passWord, int passEncType,
                const std::string& jsonParam);
    int doLoginEx(const std::string& host, const std::string& nickName, int userId, const std::string& strUserId,
                  const std::string& appId, int timeStamp, const std::string& sigStr, const std::string& strParam,
                  const std::string& jsonParam);
    int doLogout();
    int doEnterRoom(int roomId, const std::string& roomPassWord, int passEncType);
    int doEnterRoomEx(const std::string& roomName, const std::string& roomPassWord);
    int doLeaveRoom();
    int doGetRoomOnlineUsers(int roomId);
    int doUserSpeakControl(int userId, bool open);
    int doUserSpeakControlEx(int userId, bool open, int streamIndex, int flags, const std::string& strParam);

    // The room's user list text of message 1231, whole; records each user's
    // device type on the way. Returns the last SDK result; out is set only
    // on success.
    int CollectRoomUsers(uint32_t roomId, std::string& out);

    // Requests carried to the SDK in a later step; each answers -1 for now.
    int doUserCameraControl(int userId, bool open);
    int doUserCameraControlEx(int userId, bool open, int streamIndex, int flags, const std::string& strParam);
    int doVideoCallControl(int eventType, int userId, int errorCode, int flags, int param,
                           const std::string& userStr);
    int doObjectSetValue(int objectType, int objectId, int infoName, int valueType, const std::string& infoValue);
    int doObjectGetValue(int objectType, int objectId, int infoName, int valueType);
    int doObjectGetIdList(int objectType);
    int doObjectControl(int objectType, int objectId, int ctrlCode, int param1, int param2, int param3, int param4,
                        const std::string& strParam);
    int doSDKControl(int ctrlCode, const std::string& json);
    int doQueryUserState(int userId, int infoName, int valueType);
    int doStreamRecordCtrlEx(int userId, bool startRecord, int flags, int param, const std::string& userStr);
    int doUserInfoControl(int userId, int ctrlCode, int param1, int param2, const std::string& strValue);
    int doSendTextMessage(int userId, bool secret, const std::string& text);
    int doTransBuffer(int reqid, int userId, const std::string& buf);
    int doTransBufferEx(int reqid, int userId, const std::string& buf, int wParam, int lParam, int flags);

    // SDK options: the reply is sent before the call returns (none for a
    // line of the SDK's own log, option 135).
    int doSetSDKOptionString(int optName, const std::string& optVal);
    int doSetSDKOptionInt(int optName, int optVal);
    int doGetSDKOptionString(int optName);
    int doGetSDKOptionInt(int optName);
    // The browser's general parameters: 1 init parameters, 2 video codec;
    // other types are left to the WebRTC side. Always 0.
    int HandleWebCommand(int type, const std::string& json);
    int HandleInitParam(const std::string& json);
    int HandleSetVideoCodes(const std::string& json);
    uint32_t GetSDKFunctions() const { return m_sdkFunctions; }

    // Notify messages of the SDK, by message number.
    void OnConnect(uint32_t wParam, uint32_t lParam);
    void OnLoginSystem(uint32_t userId, uint32_t errorCode);
    void OnEnterRoom(uint32_t roomId, uint32_t errorCode);
    void OnMicStateChange(uint32_t userId, uint32_t state);
    void OnUserAtRoom(uint32_t userId, uint32_t enter);
    void OnLinkClose(uint32_t wParam, uint32_t errorCode);
    void OnOnlineUser(uint32_t count, uint32_t roomId);
    void OnCameraStateChange(uint32_t userId, uint32_t state);
    void OnVideoSizeChange(uint32_t userId, uint32_t size);
    void OnUserInfoUpdate(uint32_t userId, uint32_t type);
    void OnFriendStatus(uint32_t userId, uint32_t status);
    // Dispatches one notify message through the table; false when the
    // number has no handler.
    bool HandleNotifyMessage(uint32_t message, uint32_t wParam, uint32_t lParam);

    void OnAsyncRequestResult(CV_GUID, uint32_t, uint32_t, const char*, uint32_t, uint32_t, uint32_t, const char*,
                              uint32_t) override {}
    void OnAsyncNotify(CV_GUID, uint32_t, uint32_t, uint32_t, const char*, uint32_t) override {}
    void OnAsyncSeqRequestResult(CV_GUID, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char*,
                                 uint32_t, const char*, uint32_t) override {}

    // SDK callbacks; the user value is this object.
    static void OnCorvaneNotifyMessageCallBack(unsigned int message, unsigned int wParam, unsigned int lParam,
                                               void* user);
    static void OnVideoDataCallBack(unsigned int userId, void* buf, unsigned int len, unsigned int timeStamp,
                                    void* user, unsigned int streamIndex, unsigned int codecId, unsigned int width,
                                    unsigned int height, unsigned int fps, unsigned int flags,
                                    unsigned int reserved1, unsigned int reserved2, unsigned int rotation);
    static void OnAudioDataCallBack(unsigned int userId, void* buf, unsigned int len, WAVEFORMATEX format,
                                    unsigned int timeStamp, void* user);
    static void OnTextMessageCallBack(unsigned int fromUserId, unsigned int toUserId, int secret, const char* text,
                                      unsigned int len, void* user);
    static void OnTransBufferCallBack(unsigned int userId, unsigned char* buf, unsigned int len, void* user);
    static void OnTransBufferExCallBack(unsigned int userId, unsigned char* buf, unsigned int len,
                                        unsigned int wParam, unsigned int lParam, unsigned int taskId, void* user);
    static void OnVideoCallEventCallBack(unsigned int eventType, unsigned int userId, unsigned int errorCode,
                                         unsigned int flags, unsigned int param, const char* userStr, void* user);
    static void OnObjectEventCallBack(unsigned int objectType, unsigned int objectId, unsigned int eventType,
                                      unsigned int param1, unsigned int param2, unsigned int param3,
                                      unsigned int param4, const char* strParam, void* user);
    static void OnRecordEventCallBack(unsigned int userId, unsigned int streamIndex, const char* fileName,
                                      unsigned int elapse, unsigned int flags, unsigned int param,
                                      const char* userStr, void* user);
    static void OnCoreSDKEventCallBack(unsigned int eventType, const char* json, void* user);

private:
    // Shared by both login forms: sdkLogin() runs the SDK's own login call,
    // logLine(address, port, result) writes the form's invoke line.
    template <typename SdkLogin, typename LogLine>
    int LoginWith(const char* name, const std::string& host, const std::string& jsonParam, SdkLogin sdkLogin,
                  LogLine logLine);
    // Device type of a user (state 15) into the attribute map; logs under
    // the caller's name.
    void RecordDeviceType(uint32_t userId, const char* caller);
    // GB2312 name of a user, converted to UTF-8 into a buffer of capacity bytes.
    static std::string UserNameUtf8(uint32_t userId, unsigned int capacity);
    void ClearCmdCache() { m_cmdCache.clear(); }

    CConnectMgr* m_owner;
    std::atomic<uint32_t> m_ownUserId;
    std::atomic<uint64_t> m_connected;
    std::atomic<uint32_t> m_platformType;
    std::atomic<uint32_t> m_browserType;
    std::atomic<uint32_t> m_h5VideoCodec;
    uint64_t m_inputVideoFormatSet;
    uint64_t m_inputAudioFormatSet;
    uint64_t m_outVideoSet;
    std::atomic<uint64_t> m_outAudioSet;
    uint32_t m_videoCodec;
    uint32_t m_audioCodec;
    std::atomic<uint64_t> m_firstChunkSent;
    std::mutex m_mediaMutex;  // format flags but the outgoing audio one, codecs, command cache
    std::vector<CmdCacheInfo> m_cmdCache;
    std::mutex m_attrMutex;  // the user-attribute map only
    std::map<uint32_t, UserAttrInfo> m_userAttrs;
    std::atomic<uint32_t> m_sdkFunctions;
    std::atomic<uint32_t> m_serverFunctions;
    std::atomic<bool> m_sdkRunning;  // between InitSDK and ReleaseSDK
};

#endif

// The one client of the conferencing SDK: start-up, SDK events, login,
// rooms and users, objects, options, SDK control, text messages,
// transparent buffers, media formats and media both ways.
#ifndef QG_SDKLINK_CORVANE_CONNECT_H
#define QG_SDKLINK_CORVANE_CONNECT_H

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <stdint.h>
#include <string>
#include <vector>

#include "quillgate/sdklink/corvane_connect_owner.h"
#include "quillgate/sdklink/cvapi.h"
#include "quillgate/sdklink/demux/memory_demuxer_delegate.h"
#include "util/async_event_manager.h"

class CMemoryDemuxer;

// What the session knows of one user seen in the room.
struct UserAttrInfo {
    uint32_t userId = 0;
    uint32_t deviceType = 0;  // the SDK's user state 15
    uint32_t lastIndex = 0;   // last piece of a split buffer from the browser
    std::string joined;       // pieces joined so far
};

// Kinds of command-cache records.
enum CmdCacheType : uint32_t {
    kCmdSdkControlPiece = 0,  // SDK-control request arriving in pieces
    kCmdCameraControl = 4,    // camera command waiting for a video format
    kCmdCameraControlEx = 5,  // its extended form
};

// One record of the command cache: camera commands waiting for a video
// format, and SDK-control requests that arrive in pieces. Pieces are found
// by uuid among piece records only, camera commands by user id among
// camera records only, so neither kind can take the other's place.
struct CmdCacheInfo {
    uint32_t type = kCmdSdkControlPiece;
    uint32_t userId = 0;
    uint64_t open = 0;
    uint32_t streamIndex = 0;
    uint32_t flags = 0;
    uint32_t lastIndex = 0;            // pieces: index of the last piece taken
    std::string uuid;                  // pieces: shared by the pieces of one request
    std::optional<std::string> param;  // camera command Ex: its text parameter, when one was given
    std::string content;               // pieces: contents joined so far
};

inline bool IsCameraCommand(const CmdCacheInfo& r)
{
    return r.type == kCmdCameraControl || r.type == kCmdCameraControlEx;
}

class CCorvaneConnect : public CSilentAsyncEventDelegate, public IMemoryDemuxerDelegate
{
public:
    CCorvaneConnect();
    ~CCorvaneConnect() override;

    void SetOwner(ICorvaneConnectOwner* owner) { m_owner = owner; }

    // Starts the SDK and registers every callback with this object as the
    // user value; always 0 (the SDK's results are not examined).
    int InitSDK();
    // Logs out and releases the SDK: no callback arrives afterwards.
    // Idempotent.
    void ReleaseSDK();
    // One line into the SDK's own log, prefixed "[proxy] ".
    void WriteSDKLog(const char* line);
    void OnTimer() {}

    uint32_t GetOwnUserId() const { return m_ownUserId; }
    uint32_t GetPlatformType() const { return m_platformType; }
    uint32_t GetBrowserType() const { return m_browserType; }
    bool IsConnected() const { return m_connected.load() != 0; }

    // User attributes; -1 stands for the own user in GetUserAttribut.
    void AddUserAttribut(uint32_t userId, const UserAttrInfo& info);
    int GetUserAttribut(uint32_t userId, UserAttrInfo& out);
    void DelUserAttribut(uint32_t userId);
    void ClearUserAttribut();

    // Login, rooms and users. Outcomes that come later arrive as notify
    // messages and reach the gateway through the connection manager.
    // A login host without ':' is refused with 21 before the SDK is asked;
    // CheckLoginHost tells so without logging in (0: it may go on).
    static int CheckLoginHost(const std::string& host);
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

    // Cameras: an open waits in the command cache for the video format it
    // needs (the input format for the own user, the outgoing one for
    // others) and returns 0, answered when the cache runs; anything else
    // goes to the SDK at once and is answered with its result. A close
    // first drops a waiting open of the same camera.
    int doUserCameraControl(int userId, bool open);
    int doUserCameraControlEx(int userId, bool open, int streamIndex, int flags, const std::string& strParam);
    // Carries out every waiting camera command whose format is set now,
    // 300 ms after the call (a format just set takes that long in the
    // SDK); always 0.
    int HandleDealCmdCache();

    // Requests carried to the SDK. Each returns the SDK's result; those with
    // a reply send it before they return (the SDK call, the reply, the log).
    int doVideoCallControl(int eventType, int userId, int errorCode, int flags, int param, const std::string& userStr);
    int doObjectSetValue(int objectType, int objectId, int infoName, int valueType, const std::string& infoValue);
    int doObjectGetValue(int objectType, int objectId, int infoName, int valueType);
    // 21 without a reply for a type without objects.
    int doObjectGetIdList(int objectType);
    int doObjectControl(int objectType, int objectId, int ctrlCode, int param1, int param2, int param3, int param4,
                        const std::string& strParam);
    // A request in pieces ("spliceflag") answers 0 without a reply until its
    // last piece, 21 for a piece out of sequence or contents that are not
    // base64; the joined request goes to the SDK once.
    int doSDKControl(int ctrlCode, const std::string& json);
    int doQueryUserState(int userId, int infoName, int valueType);
    int doStreamRecordCtrlEx(int userId, bool startRecord, int flags, int param, const std::string& userStr);
    int doUserInfoControl(int userId, int ctrlCode, int param1, int param2, const std::string& strValue);

    // Text messages and transparent buffers to another user. Buffers are
    // answered here, for the reqid given; with split buffers on (sdk
    // function bit 8) each is one piece, and only the last piece of a user
    // goes to the SDK: 0 without a reply before it, 21 without a reply for a
    // piece out of sequence.
    int doSendTextMessage(int userId, bool secret, const std::string& text);
    int doTransBuffer(int reqid, int userId, const std::string& buf);
    int doTransBufferEx(int reqid, int userId, const std::string& buf, int wParam, int lParam, int flags);

    // SDK options: the reply is sent before the call returns (none for a
    // line of the SDK's own log, option 135).
    int doSetSDKOptionString(int optName, const std::string& optVal);
    int doSetSDKOptionInt(int optName, int optVal);
    int doGetSDKOptionString(int optName);
    int doGetSDKOptionInt(int optName);
    // Media formats, each set once per room stay: what the SDK is to hand
    // over for the browser (up) and what the browser feeds in (down). The
    // first video format of either kind runs the command cache.
    int SetUpVideoFrame(uint32_t codec);
    int SetUpAudioFrame(uint32_t codec);
    int SetDownVideoFrame(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps);
    int SetDownAudioFrame(uint32_t codec, uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample);
    bool IsInputVideoFormatSet() const { return m_inputVideoFormatSet.load() != 0; }
    bool IsInputAudioFormatSet() const { return m_inputAudioFormatSet.load() != 0; }
    bool IsOutVideoSet() const { return m_outVideoSet.load() != 0; }
    bool IsOutAudioSet() const { return m_outAudioSet.load() != 0; }

    // The browser's own media into the SDK, by pointer on the caller's
    // thread; dropped until its input format is set. The user id and the
    // reserved value are not read.
    void InputVideoData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                        uint32_t timestamp, uint32_t rotation, uint32_t keyFrame);
    void InputAudioData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data, uint32_t length,
                        uint32_t timestamp);
    // A reassembled data-channel chunk for the demuxer; dropped while no
    // demuxer is held.
    void OnChunkData(uint32_t userId, uint32_t streamIndex, uint8_t* data, uint32_t length, uint32_t timestamp,
                     uint32_t flags);

    // The demuxer's reports: its frames as the own user's media, its
    // formats as the input formats (codec 0 is ignored).
    void OnVideoData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t keyFrame) override;
    void OnAudioData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t flags) override;
    void OnVideoFormat(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps) override;
    void OnAudioFormat(uint32_t codec, uint32_t channels, uint32_t bitsPerSample, uint32_t sampleRate) override;

    // A remote user's frame from the SDK's callbacks, for the browser.
    void OnCorvaneVideoData(uint32_t userId, uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t width,
                            uint32_t height, uint32_t rotation);
    void OnCorvaneAudioData(uint32_t userId, uint8_t* data, uint32_t length, const WAVEFORMATEX& format,
                            uint32_t timestamp);

    // A data channel opened: the demuxer is made anew (-1 without a holder,
    // else the creation's result).
    int ResetMuxerHelper();
    // Ends the demuxer's unit and its delivery thread; at stop, before the
    // SDK goes.
    void DestroyDemuxer();
    // The browser's general parameters: 1 init parameters, 2 video codec;
    // other types are left to the WebRTC side. Always 0.
    int HandleWebCommand(int type, const std::string& json);
    int HandleInitParam(const std::string& json);
    int HandleSetVideoCodes(const std::string& json);
    uint32_t GetSDKFunctions() const { return m_sdkFunctions; }
    // The browser's video codec (the -z option before each login, or its
    // "html5videocodec"): kept and logged only.
    void SetH5VideoCodec(uint32_t codec) { m_browserVideoCodec = codec; }
    uint32_t GetH5VideoCodec() const { return m_browserVideoCodec; }

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

    // Events of the other callbacks, on the SDK's threads.
    void OnTextMessage(uint32_t fromUserId, uint32_t toUserId, int secret, const char* text, uint32_t length);
    void OnTransBuffer(uint32_t userId, const unsigned char* data, uint32_t length);
    void OnTransBufferEx(uint32_t userId, const unsigned char* data, uint32_t length, uint32_t wParam, uint32_t lParam,
                         uint32_t taskId);
    void OnCorvaneCoreSDKEvent(uint32_t eventType, const char* json);
    void OnVideoCallEvent(uint32_t eventType, uint32_t userId, uint32_t errorCode, uint32_t flags, uint32_t param,
                          const char* userStr);
    void OnObjectEventNotify(uint32_t objectType, uint32_t objectId, uint32_t eventType, uint32_t param1,
                             uint32_t param2, uint32_t param3, uint32_t param4, const char* strParam);
    void OnStreamRecord(uint32_t userId, uint32_t streamIndex, const char* fileName, uint32_t elapse, uint32_t flags,
                        uint32_t param, const char* userStr);

    // The command cache. Every operation but the last two expects the
    // caller to hold the lock that LockCmdCache takes (the media mutex).
    // Pieces (type 0) are found by uuid, camera commands (4, 5) by user id.
    int IsCmdCacheExist(const std::string& uuid) const;
    int GetCmdCacheByGuid(const std::string& uuid, CmdCacheInfo& out) const;
    // A piece record overwrites the first piece record of its uuid, else it
    // is appended; a camera record is always appended.
    void SetCmdCacheByGuid(const CmdCacheInfo& record);
    void DelCmdCacheByGuid(const std::string& uuid);
    void DelCmdCacheByUserId(uint32_t userId);
    void ClearCmdCache() { m_cmdCache.clear(); }
    std::unique_lock<std::mutex> LockCmdCache() { return std::unique_lock<std::mutex>(m_mediaMutex); }
    // A copy of the whole cache, taken under the lock.
    std::vector<CmdCacheInfo> CmdCacheSnapshot();

    // SDK callbacks; the user value is this object.
    static void OnCorvaneNotifyMessageCallBack(unsigned int message, unsigned int wParam, unsigned int lParam,
                                               void* user);
    static void OnVideoDataCallBack(unsigned int userId, void* buf, unsigned int len, unsigned int timeStamp,
                                    void* user, unsigned int streamIndex, unsigned int codecId, unsigned int width,
                                    unsigned int height, unsigned int fps, unsigned int flags, unsigned int reserved1,
                                    unsigned int reserved2, unsigned int rotation);
    static void OnAudioDataCallBack(unsigned int userId, void* buf, unsigned int len, WAVEFORMATEX format,
                                    unsigned int timeStamp, void* user);
    static void OnTextMessageCallBack(unsigned int fromUserId, unsigned int toUserId, int secret, const char* text,
                                      unsigned int len, void* user);
    static void OnTransBufferCallBack(unsigned int userId, unsigned char* buf, unsigned int len, void* user);
    static void OnTransBufferExCallBack(unsigned int userId, unsigned char* buf, unsigned int len, unsigned int wParam,
                                        unsigned int lParam, unsigned int taskId, void* user);
    static void OnVideoCallEventCallBack(unsigned int eventType, unsigned int userId, unsigned int errorCode,
                                         unsigned int flags, unsigned int param, const char* userStr, void* user);
    static void OnObjectEventCallBack(unsigned int objectType, unsigned int objectId, unsigned int eventType,
                                      unsigned int param1, unsigned int param2, unsigned int param3,
                                      unsigned int param4, const char* strParam, void* user);
    static void OnRecordEventCallBack(unsigned int userId, unsigned int streamIndex, const char* fileName,
                                      unsigned int elapse, unsigned int flags, unsigned int param, const char* userStr,
                                      void* user);
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
    // {"jsonbuf":[id,...]}: the id lists of rooms and objects.
    static std::string IdListText(const std::vector<uint32_t>& ids);
    // GB2312 name of a user, converted to UTF-8 into a buffer of capacity bytes.
    static std::string UserNameUtf8(uint32_t userId, unsigned int capacity);

    // Device type that decides a buffer's conversion: the user's record, or
    // for a user not on record the type queried now (0 when the query
    // fails), which is recorded. queryRet gets the query's result (0 when
    // none was needed); caller and queryCaller name the log lines.
    uint32_t BufferDeviceType(uint32_t userId, const char* caller, const char* queryCaller, int& queryRet);
    // One browser piece of a user's split buffer, under the attribute lock
    // as one step: 1 joined text complete in out, 0 waiting for more, -1
    // out of sequence (lastIndex gets the last index taken).
    int TakeBufferPiece(uint32_t userId, uint32_t deviceType, int index, int flag, const std::string& content,
                        std::string& out, uint32_t& lastIndex);
    // The buffer request of both forms: sdkSend(text) makes the SDK call,
    // reply(result) answers the reqid.
    template <typename SdkSend, typename Reply>
    int TransBufferWith(const char* name, int userId, const std::string& buf, SdkSend sdkSend, Reply reply);
    // A buffer from the SDK for the browser, whole or in base64 pieces;
    // notify(text) sends one notification.
    template <typename Notify>
    void SendBufferUp(const char* name, uint32_t userId, const unsigned char* data, uint32_t length, Notify notify);
    // Ids of the objects of a type: a count query, then the ids into a
    // buffer of capacity ids offered whole (0: one of the counted size).
    static int ReadObjectIds(uint32_t objectType, std::vector<uint32_t>& ids, uint32_t capacity);
    // The piece record of a uuid; the caller holds the media mutex.
    CmdCacheInfo* FindPieceRecord(const std::string& uuid);
    // One piece of a split SDK-control request under the media mutex: 1
    // waiting, 0 complete with the decoded request in out, 21 refused.
    int TakeSDKControlPiece(const std::string& json, std::string& out);
    // The object's info and status JSON for the gateway (event 0 and -1).
    void SendObjectInfo(uint32_t objectType, uint32_t objectId);
    void SendObjectStatus(uint32_t objectType, uint32_t objectId);
    // Whether the video format a camera of this user needs is set: the
    // input format for the own user (its id or -1), else the outgoing one.
    bool CameraFormatSet(uint32_t userId) const;
    // Leaving the room or logging out: every waiting camera command is
    // answered with -1 and dropped, so none runs in a later room.
    void DropCachedCameras(const char* caller);
    // Clears the four format flags for the next room stay.
    void ClearMediaFormats();

    ICorvaneConnectOwner* m_owner;
    std::atomic<uint32_t> m_ownUserId;
    std::atomic<uint64_t> m_connected;
    std::atomic<uint32_t> m_platformType;
    std::atomic<uint32_t> m_browserType;
    std::atomic<uint32_t> m_browserVideoCodec;
    // Written under the media mutex, read by the media roads without it:
    // each codec is stored before its flag.
    std::atomic<uint64_t> m_inputVideoFormatSet;
    std::atomic<uint64_t> m_inputAudioFormatSet;
    std::atomic<uint64_t> m_outVideoSet;
    std::atomic<uint64_t> m_outAudioSet;
    std::atomic<uint32_t> m_videoCodec;
    std::atomic<uint32_t> m_audioCodec;
    std::atomic<uint64_t> m_firstChunkSent;
    // The browser's container stream from a data channel; owned.
    CMemoryDemuxer* m_demuxer;
    std::mutex m_mediaMutex;  // format flags but the outgoing audio one, codecs, command cache
    std::vector<CmdCacheInfo> m_cmdCache;
    std::mutex m_attrMutex;  // the user-attribute map only
    std::map<uint32_t, UserAttrInfo> m_userAttrs;
    std::atomic<uint32_t> m_sdkFunctions;
    std::atomic<uint32_t> m_serverFunctions;
    std::atomic<bool> m_sdkRunning;  // between InitSDK and ReleaseSDK
};

#endif

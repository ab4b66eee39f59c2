// The one client of the conferencing SDK: start-up, the SDK log, logout.
#ifndef QG_SDKLINK_CORVANE_CONNECT_H
#define QG_SDKLINK_CORVANE_CONNECT_H

#include <atomic>
#include <stdint.h>

#include "cvapi.h"
#include "util/async_event_manager.h"

class CConnectMgr;

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
    void OnTimer() {}

    int doLogout();
    uint32_t GetOwnUserId() const { return m_ownUserId; }

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
    CConnectMgr* m_owner;
    std::atomic<uint32_t> m_ownUserId;
    std::atomic<uint64_t> m_connected;
    std::atomic<bool> m_sdkRunning;  // between InitSDK and ReleaseSDK
};

#endif

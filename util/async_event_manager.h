// Process-wide registry of event receivers and the requests that wait for an
// answer or a time-out. Notifications, answers and time-outs travel as event
// records through the delivery queue to the receiving delegate.
#ifndef QG_UTIL_ASYNC_EVENT_MANAGER_H
#define QG_UTIL_ASYNC_EVENT_MANAGER_H

#include <pthread.h>
#include <stdint.h>

#include <atomic>
#include <map>
#include <mutex>

#include "util/delivery_queue.h"

// 16 bytes from uuid_generate; ordered bytewise.
struct CV_GUID {
    uint8_t bytes[16];
};

bool operator<(const CV_GUID& a, const CV_GUID& b);
bool operator==(const CV_GUID& a, const CV_GUID& b);
inline bool operator!=(const CV_GUID& a, const CV_GUID& b)
{
    return !(a == b);
}

enum AsyncEventKind : uint32_t {
    kAsyncNotify = 1,
    kAsyncRequest = 2,
    kAsyncSeqRequest = 3,
};

// Result given to a request that timed out.
const uint32_t kAsyncResultTimeout = 100;

// Posted whole as the bytes of one delivery-queue message; text and reply
// travel with the posted copy and are freed after the callback.
struct AsyncEventRecord {
    uint32_t kind;
    uint32_t seq;  // kind 3 only
    CV_GUID ownerGuid;
    CV_GUID peerGuid;
    uint32_t eventCode;
    uint32_t result;
    uint32_t createTick;
    int32_t timeoutMs;  // -1 for notifications
    char* text;         // NUL-terminated, malloc'd, or null
    uint32_t textLen;
    uint32_t param1;
    uint32_t param2;
    uint32_t param3;  // kind 3 only
    uint32_t param4;  // kind 3 only
    char* reply;      // NUL-terminated, malloc'd, or null
    uint32_t replyLen;
    AsyncEventRecord* next;
};

class CAsyncEventManager;

// Base of every event receiver: registers itself with the manager under a
// fresh GUID when built and unregisters when destroyed. Handlers run in
// delivery workers, possibly several at once; text and reply are valid only
// during the call.
class IAsyncEventDelegate
{
public:
    IAsyncEventDelegate();
    virtual ~IAsyncEventDelegate();

    virtual void OnAsyncRequestResult(CV_GUID peer, uint32_t eventCode, uint32_t result, const char* text,
                                      uint32_t textLen, uint32_t param1, uint32_t param2, const char* reply,
                                      uint32_t replyLen) = 0;
    virtual void OnAsyncNotify(CV_GUID peer, uint32_t eventCode, uint32_t param1, uint32_t param2, const char* text,
                               uint32_t textLen) = 0;
    virtual void OnAsyncSeqRequestResult(CV_GUID peer, uint32_t eventCode, uint32_t result, uint32_t param1,
                                         uint32_t param2, uint32_t param3, uint32_t param4, const char* text,
                                         uint32_t textLen, const char* reply, uint32_t replyLen) = 0;

    // The manager's operations with this delegate as owner; -1 without a manager.
    int PostNotify(CV_GUID peer, uint32_t eventCode, uint32_t param1, uint32_t param2, const char* text,
                   uint32_t textLen);
    int AddRequest(CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen, int32_t timeoutMs,
                   uint32_t param1, uint32_t param2);
    int AddSharedRequest(CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen, int32_t timeoutMs,
                         uint32_t param1, uint32_t param2);
    int AnswerRequest(uint32_t eventCode, const char* text, uint32_t textLen, uint32_t result, const char* reply,
                      uint32_t replyLen);
    int AddSeqRequest(uint32_t* seqOut, int32_t timeoutMs, CV_GUID peer, uint32_t eventCode, uint32_t param1,
                      uint32_t param2, uint32_t param3, uint32_t param4, const char* text, uint32_t textLen);
    int AnswerSeqRequest(uint32_t seq, uint32_t result, const char* reply, uint32_t replyLen);
    int IsRequestPending(uint32_t eventCode, const char* text, uint32_t textLen);

protected:
    CAsyncEventManager* m_pManager;  // null before registration and after destruction
    CV_GUID m_guid;

private:
    IAsyncEventDelegate(const IAsyncEventDelegate&) = delete;
    IAsyncEventDelegate& operator=(const IAsyncEventDelegate&) = delete;
};

// A delegate that takes part in the registry but handles no asynchronous
// event: the session's four objects are all of this kind.
class CSilentAsyncEventDelegate : public IAsyncEventDelegate
{
public:
    void OnAsyncRequestResult(CV_GUID, uint32_t, uint32_t, const char*, uint32_t, uint32_t, uint32_t, const char*,
                              uint32_t) override
    {}
    void OnAsyncNotify(CV_GUID, uint32_t, uint32_t, uint32_t, const char*, uint32_t) override {}
    void OnAsyncSeqRequestResult(CV_GUID, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, const char*,
                                 uint32_t, const char*, uint32_t) override
    {}
};

// Texts are byte strings with a length; a length of 0 with a text given
// means the length is taken with strlen (IsRequestPending excepted).
class CAsyncEventManager : private CAsyncDeliver
{
public:
    static CAsyncEventManager* GetInstance();

    // Starts the delivery workers and the time-out thread; returns 0.
    int Start(uint32_t threads, uint32_t maxQueue, uint32_t maxCache);
    // Stops the time-out thread and the workers, drops undelivered records
    // and frees every pending one. The registry stays. Safe without Start.
    void Release();

    int RegisterDelegate(IAsyncEventDelegate* d, CV_GUID* out);
    void UnregisterDelegate(CV_GUID g);
    IAsyncEventDelegate* FindDelegate(CV_GUID g);

    // Posted at once: the result of the post, or -1 when the text cannot be copied.
    int PostNotify(CV_GUID owner, CV_GUID peer, uint32_t eventCode, uint32_t param1, uint32_t param2, const char* text,
                   uint32_t textLen);
    // 0 added; 10 already pending for this peer; -1 no text or no memory for
    // the record; 4 no memory for the text copy.
    int AddRequest(CV_GUID owner, CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen,
                   int32_t timeoutMs, uint32_t param1, uint32_t param2);
    // As AddRequest, but a request already pending for this peer gives 0, and
    // the owner gets one notification when nobody else waits for the same work.
    int AddSharedRequest(CV_GUID owner, CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen,
                         int32_t timeoutMs, uint32_t param1, uint32_t param2);
    // Answers every pending record of the same owner, code and text: 0, or -1 when none.
    int AnswerRequest(CV_GUID owner, uint32_t eventCode, const char* text, uint32_t textLen, uint32_t result,
                      const char* reply, uint32_t replyLen);
    // 0 with the new sequence number in seqOut; -1 no memory.
    int AddSeqRequest(CV_GUID owner, uint32_t* seqOut, int32_t timeoutMs, uint32_t eventCode, CV_GUID peer,
                      uint32_t param1, uint32_t param2, uint32_t param3, uint32_t param4, const char* text,
                      uint32_t textLen);
    // 0 answered; -1 no pending numbered request of that owner and number.
    int AnswerSeqRequest(CV_GUID owner, uint32_t seq, uint32_t result, const char* reply, uint32_t replyLen);
    // 1 pending, 0 not (also for no text or a length of 0).
    int IsRequestPending(CV_GUID owner, uint32_t eventCode, const char* text, uint32_t textLen);

    // Posts, with result 100, every pending record older than its time-out.
    void CheckTimeouts();
    int GetPendingCount();

    static void* ThreadLoop(void* manager);

private:
    CAsyncEventManager();
    ~CAsyncEventManager() override;

    int OnAsyncDeliver(const char* data, uint32_t length, uint32_t param1, uint32_t param2, uint32_t param3) override;
    void OnAsyncDiscard(const char* data, uint32_t length, uint32_t param1, uint32_t param2, uint32_t param3) override;

    int AddRequestRecord(CV_GUID owner, CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen,
                         int32_t timeoutMs, uint32_t param1, uint32_t param2, bool shared);
    int PostRecord(AsyncEventRecord* record);
    void FinishRecord(AsyncEventRecord* prev, AsyncEventRecord* record, const char* reply, uint32_t replyLen);
    void Append(AsyncEventRecord* record);

    AsyncEventRecord* pendingHead_;
    AsyncEventRecord* pendingTail_;
    std::map<CV_GUID, IAsyncEventDelegate*> registry_;
    std::mutex lock_;  // registry and pending list
    uint32_t nextSeq_;
    std::atomic<int> loopStop_;
    std::mutex loopLock_;   // the time-out thread handle
    pthread_t loopThread_;  // 0 when none
};

#endif

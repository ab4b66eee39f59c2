#include "util/async_event_manager.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <new>

#include "util/win32_shims.h"

bool operator<(const CV_GUID& a, const CV_GUID& b)
{
    return memcmp(a.bytes, b.bytes, sizeof(a.bytes)) < 0;
}

bool operator==(const CV_GUID& a, const CV_GUID& b)
{
    return memcmp(a.bytes, b.bytes, sizeof(a.bytes)) == 0;
}

namespace {

const useconds_t kTimeoutScanUs = 100000;

// NUL-terminated copy of len bytes, or null when memory is lacking.
char* CopyText(const char* text, uint32_t len)
{
    char* copy = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
    if (copy == nullptr)
        return nullptr;
    if (len != 0)
        memcpy(copy, text, len);
    copy[len] = 0;
    return copy;
}

// A text given with a length of 0 is measured; no text has no length.
uint32_t TextLength(const char* text, uint32_t len)
{
    if (text == nullptr)
        return 0;
    return len != 0 ? len : static_cast<uint32_t>(strlen(text));
}

// A notification record without its text; it never times out.
AsyncEventRecord NotifyRecord(CV_GUID owner, CV_GUID peer, uint32_t eventCode, uint32_t param1, uint32_t param2)
{
    AsyncEventRecord record;
    memset(&record, 0, sizeof(record));
    record.kind = kAsyncNotify;
    record.ownerGuid = owner;
    record.peerGuid = peer;
    record.eventCode = eventCode;
    record.createTick = GetTickCount();
    record.timeoutMs = -1;
    record.param1 = param1;
    record.param2 = param2;
    return record;
}

AsyncEventRecord* NewRecord(uint32_t kind, CV_GUID owner, CV_GUID peer, uint32_t eventCode, int32_t timeoutMs)
{
    AsyncEventRecord* r = new (std::nothrow) AsyncEventRecord();
    if (r == nullptr)
        return nullptr;
    r->kind = kind;
    r->ownerGuid = owner;
    r->peerGuid = peer;
    r->eventCode = eventCode;
    r->createTick = GetTickCount();
    r->timeoutMs = timeoutMs;
    return r;
}

void FreeBuffers(AsyncEventRecord* r)
{
    free(r->text);
    free(r->reply);
    r->text = nullptr;
    r->reply = nullptr;
}

bool MatchesContent(const AsyncEventRecord* r, CV_GUID owner, uint32_t eventCode, const char* text, uint32_t textLen)
{
    if (r->ownerGuid != owner || r->eventCode != eventCode || r->textLen != textLen)
        return false;
    return textLen == 0 || memcmp(r->text, text, textLen) == 0;
}

}  // namespace

// ---------------------------------------------------------------- delegate

IAsyncEventDelegate::IAsyncEventDelegate() : m_pManager(nullptr)
{
    memset(&m_guid, 0, sizeof(m_guid));
    m_pManager = CAsyncEventManager::GetInstance();
    m_pManager->RegisterDelegate(this, &m_guid);
}

IAsyncEventDelegate::~IAsyncEventDelegate()
{
    if (m_pManager != nullptr) {
        m_pManager->UnregisterDelegate(m_guid);
        m_pManager = nullptr;
    }
}

int IAsyncEventDelegate::PostNotify(CV_GUID peer, uint32_t eventCode, uint32_t param1, uint32_t param2,
                                    const char* text, uint32_t textLen)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->PostNotify(m_guid, peer, eventCode, param1, param2, text, textLen);
}

int IAsyncEventDelegate::AddRequest(CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen,
                                    int32_t timeoutMs, uint32_t param1, uint32_t param2)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->AddRequest(m_guid, peer, eventCode, text, textLen, timeoutMs, param1, param2);
}

int IAsyncEventDelegate::AddSharedRequest(CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen,
                                          int32_t timeoutMs, uint32_t param1, uint32_t param2)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->AddSharedRequest(m_guid, peer, eventCode, text, textLen, timeoutMs, param1, param2);
}

int IAsyncEventDelegate::AnswerRequest(uint32_t eventCode, const char* text, uint32_t textLen, uint32_t result,
                                       const char* reply, uint32_t replyLen)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->AnswerRequest(m_guid, eventCode, text, textLen, result, reply, replyLen);
}

int IAsyncEventDelegate::AddSeqRequest(uint32_t* seqOut, int32_t timeoutMs, CV_GUID peer, uint32_t eventCode,
                                       uint32_t param1, uint32_t param2, uint32_t param3, uint32_t param4,
                                       const char* text, uint32_t textLen)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->AddSeqRequest(m_guid, seqOut, timeoutMs, eventCode, peer, param1, param2, param3, param4, text,
                                     textLen);
}

int IAsyncEventDelegate::AnswerSeqRequest(uint32_t seq, uint32_t result, const char* reply, uint32_t replyLen)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->AnswerSeqRequest(m_guid, seq, result, reply, replyLen);
}

int IAsyncEventDelegate::IsRequestPending(uint32_t eventCode, const char* text, uint32_t textLen)
{
    if (m_pManager == nullptr)
        return -1;
    return m_pManager->IsRequestPending(m_guid, eventCode, text, textLen);
}

// ----------------------------------------------------------------- manager

CAsyncEventManager* CAsyncEventManager::GetInstance()
{
    static CAsyncEventManager instance;
    return &instance;
}

CAsyncEventManager::CAsyncEventManager()
    : pendingHead_(nullptr), pendingTail_(nullptr), nextSeq_(1), loopStop_(0), loopThread_(0)
{}

CAsyncEventManager::~CAsyncEventManager()
{
    // Threads use this object, and pending and queued records own buffers.
    Release();
}

int CAsyncEventManager::Start(uint32_t threads, uint32_t maxQueue, uint32_t maxCache)
{
    CAsyncDeliver::Start(threads, sizeof(AsyncEventRecord) + 1, maxQueue, maxCache);

    std::lock_guard<std::mutex> guard(loopLock_);
    loopStop_ = 0;
    if (loopThread_ == 0) {
        pthread_t thread;
        if (pthread_create(&thread, nullptr, ThreadLoop, this) == 0)
            loopThread_ = thread;
    }
    return 0;
}

void CAsyncEventManager::Release()
{
    // The time-out thread first, so that it posts nothing after the queue is emptied.
    {
        std::lock_guard<std::mutex> guard(loopLock_);
        loopStop_ = 1;
        if (loopThread_ != 0) {
            pthread_join(loopThread_, nullptr);
            loopThread_ = 0;
        }
    }

    CAsyncDeliver::Stop();

    AsyncEventRecord* r;
    {
        std::lock_guard<std::mutex> guard(lock_);
        r = pendingHead_;
        pendingHead_ = nullptr;
        pendingTail_ = nullptr;
    }
    while (r != nullptr) {
        AsyncEventRecord* next = r->next;
        FreeBuffers(r);
        delete r;
        r = next;
    }
}

int CAsyncEventManager::RegisterDelegate(IAsyncEventDelegate* d, CV_GUID* out)
{
    std::lock_guard<std::mutex> guard(lock_);
    CV_GUID g;
    uuid_generate(g.bytes);
    if (out != nullptr)
        *out = g;
    registry_.emplace(g, d);
    return 0;
}

void CAsyncEventManager::UnregisterDelegate(CV_GUID g)
{
    std::lock_guard<std::mutex> guard(lock_);
    registry_.erase(g);
}

IAsyncEventDelegate* CAsyncEventManager::FindDelegate(CV_GUID g)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = registry_.find(g);
    return it == registry_.end() ? nullptr : it->second;
}

int CAsyncEventManager::PostRecord(AsyncEventRecord* record)
{
    // The buffers move with the posted copy; a refused post must not leak them.
    int rc = Post(record, sizeof(*record), 0, 0, 0);
    if (rc != 0)
        FreeBuffers(record);
    return rc;
}

void CAsyncEventManager::Append(AsyncEventRecord* record)
{
    record->next = nullptr;
    if (pendingTail_ != nullptr)
        pendingTail_->next = record;
    else
        pendingHead_ = record;
    pendingTail_ = record;
}

void CAsyncEventManager::FinishRecord(AsyncEventRecord* prev, AsyncEventRecord* record, const char* reply,
                                      uint32_t replyLen)
{
    if (reply != nullptr) {
        // Without memory the answer still goes out, only without its reply.
        record->reply = CopyText(reply, replyLen);
        record->replyLen = record->reply != nullptr ? replyLen : 0;
    }
    AsyncEventRecord* next = record->next;
    record->next = nullptr;
    PostRecord(record);

    if (prev != nullptr)
        prev->next = next;
    else
        pendingHead_ = next;
    if (pendingTail_ == record)
        pendingTail_ = prev;
    delete record;
}

int CAsyncEventManager::PostNotify(CV_GUID owner, CV_GUID peer, uint32_t eventCode, uint32_t param1, uint32_t param2,
                                   const char* text, uint32_t textLen)
{
    AsyncEventRecord record = NotifyRecord(owner, peer, eventCode, param1, param2);
    record.textLen = TextLength(text, textLen);
    if (record.textLen != 0) {
        record.text = CopyText(text, record.textLen);
        if (record.text == nullptr)
            return -1;
    }
    return PostRecord(&record);
}

int CAsyncEventManager::AddRequest(CV_GUID owner, CV_GUID peer, uint32_t eventCode, const char* text, uint32_t textLen,
                                   int32_t timeoutMs, uint32_t param1, uint32_t param2)
{
    return AddRequestRecord(owner, peer, eventCode, text, textLen, timeoutMs, param1, param2, false);
}

int CAsyncEventManager::AddSharedRequest(CV_GUID owner, CV_GUID peer, uint32_t eventCode, const char* text,
                                         uint32_t textLen, int32_t timeoutMs, uint32_t param1, uint32_t param2)
{
    return AddRequestRecord(owner, peer, eventCode, text, textLen, timeoutMs, param1, param2, true);
}

int CAsyncEventManager::AddRequestRecord(CV_GUID owner, CV_GUID peer, uint32_t eventCode, const char* text,
                                         uint32_t textLen, int32_t timeoutMs, uint32_t param1, uint32_t param2,
                                         bool shared)
{
    textLen = TextLength(text, textLen);
    if (textLen == 0)
        return -1;

    std::lock_guard<std::mutex> guard(lock_);
    bool othersWait = false;
    for (AsyncEventRecord* r = pendingHead_; r != nullptr; r = r->next) {
        if (!MatchesContent(r, owner, eventCode, text, textLen))
            continue;
        if (r->peerGuid == peer)
            return shared ? 0 : 10;
        othersWait = true;
    }

    AsyncEventRecord* record = NewRecord(kAsyncRequest, owner, peer, eventCode, timeoutMs);
    if (record == nullptr)
        return -1;
    record->param1 = param1;
    record->param2 = param2;
    record->textLen = textLen;
    record->text = CopyText(text, textLen);
    if (record->text == nullptr) {
        delete record;
        return 4;
    }
    Append(record);

    if (!shared || othersWait)
        return 0;

    // The first party to want this work tells the owner once.
    AsyncEventRecord notify = NotifyRecord(owner, peer, eventCode, param1, param2);
    notify.textLen = textLen;
    notify.text = CopyText(text, textLen);
    if (notify.text == nullptr)
        return -1;
    PostRecord(&notify);
    return 0;
}

int CAsyncEventManager::AnswerRequest(CV_GUID owner, uint32_t eventCode, const char* text, uint32_t textLen,
                                      uint32_t result, const char* reply, uint32_t replyLen)
{
    if (text == nullptr && textLen != 0)
        return -1;
    textLen = TextLength(text, textLen);
    replyLen = TextLength(reply, replyLen);

    std::lock_guard<std::mutex> guard(lock_);
    bool answered = false;
    AsyncEventRecord* prev = nullptr;
    AsyncEventRecord* r = pendingHead_;
    while (r != nullptr) {
        AsyncEventRecord* next = r->next;
        if (MatchesContent(r, owner, eventCode, text, textLen)) {
            r->result = result;
            FinishRecord(prev, r, reply, replyLen);
            answered = true;
        } else {
            prev = r;
        }
        r = next;
    }
    return answered ? 0 : -1;
}

int CAsyncEventManager::AddSeqRequest(CV_GUID owner, uint32_t* seqOut, int32_t timeoutMs, uint32_t eventCode,
                                      CV_GUID peer, uint32_t param1, uint32_t param2, uint32_t param3, uint32_t param4,
                                      const char* text, uint32_t textLen)
{
    textLen = TextLength(text, textLen);

    std::lock_guard<std::mutex> guard(lock_);
    AsyncEventRecord* record = NewRecord(kAsyncSeqRequest, owner, peer, eventCode, timeoutMs);
    if (record == nullptr)
        return -1;
    record->param1 = param1;
    record->param2 = param2;
    record->param3 = param3;
    record->param4 = param4;
    if (text != nullptr) {
        record->text = CopyText(text, textLen);
        if (record->text == nullptr) {
            delete record;
            return -1;
        }
        record->textLen = textLen;
    }
    record->seq = nextSeq_++;
    if (seqOut != nullptr)
        *seqOut = record->seq;
    Append(record);
    return 0;
}

int CAsyncEventManager::AnswerSeqRequest(CV_GUID owner, uint32_t seq, uint32_t result, const char* reply,
                                         uint32_t replyLen)
{
    replyLen = TextLength(reply, replyLen);

    std::lock_guard<std::mutex> guard(lock_);
    AsyncEventRecord* prev = nullptr;
    for (AsyncEventRecord* r = pendingHead_; r != nullptr; prev = r, r = r->next) {
        if (r->ownerGuid != owner || r->kind != kAsyncSeqRequest || r->seq != seq)
            continue;
        r->result = result;
        FinishRecord(prev, r, reply, replyLen);
        return 0;
    }
    return -1;
}

int CAsyncEventManager::IsRequestPending(CV_GUID owner, uint32_t eventCode, const char* text, uint32_t textLen)
{
    if (text == nullptr || textLen == 0)
        return 0;
    std::lock_guard<std::mutex> guard(lock_);
    for (AsyncEventRecord* r = pendingHead_; r != nullptr; r = r->next) {
        if (MatchesContent(r, owner, eventCode, text, textLen))
            return 1;
    }
    return 0;
}

void CAsyncEventManager::CheckTimeouts()
{
    std::lock_guard<std::mutex> guard(lock_);
    uint32_t now = GetTickCount();
    AsyncEventRecord* prev = nullptr;
    AsyncEventRecord* r = pendingHead_;
    while (r != nullptr) {
        AsyncEventRecord* next = r->next;
        // Signed comparison: a negative time-out expires at once.
        if (static_cast<int64_t>(TickDistance(now, r->createTick)) > r->timeoutMs) {
            r->result = kAsyncResultTimeout;
            FinishRecord(prev, r, nullptr, 0);
        } else {
            prev = r;
        }
        r = next;
    }
}

int CAsyncEventManager::GetPendingCount()
{
    std::lock_guard<std::mutex> guard(lock_);
    int count = 0;
    for (AsyncEventRecord* r = pendingHead_; r != nullptr; r = r->next)
        ++count;
    return count;
}

void* CAsyncEventManager::ThreadLoop(void* manager)
{
    CAsyncEventManager* self = static_cast<CAsyncEventManager*>(manager);
    if (self == nullptr || self->loopStop_ != 0)
        return nullptr;
    do {
        self->CheckTimeouts();
        usleep(kTimeoutScanUs);
    } while (self->loopStop_ == 0);
    return nullptr;
}

int CAsyncEventManager::OnAsyncDeliver(const char* data, uint32_t length, uint32_t, uint32_t, uint32_t)
{
    if (length != sizeof(AsyncEventRecord))
        return 0;
    AsyncEventRecord r;
    memcpy(&r, data, sizeof(r));

    IAsyncEventDelegate* d = FindDelegate(r.ownerGuid);
    if (d != nullptr) {
        switch (r.kind) {
        case kAsyncNotify:
            d->OnAsyncNotify(r.peerGuid, r.eventCode, r.param1, r.param2, r.text, r.textLen);
            break;
        case kAsyncRequest:
            d->OnAsyncRequestResult(r.peerGuid, r.eventCode, r.result, r.text, r.textLen, r.param1, r.param2, r.reply,
                                    r.replyLen);
            break;
        case kAsyncSeqRequest:
            d->OnAsyncSeqRequestResult(r.peerGuid, r.eventCode, r.result, r.param1, r.param2, r.param3, r.param4,
                                       r.text, r.textLen, r.reply, r.replyLen);
            break;
        default:
            break;
        }
    }
    FreeBuffers(&r);
    return 0;
}

void CAsyncEventManager::OnAsyncDiscard(const char* data, uint32_t length, uint32_t, uint32_t, uint32_t)
{
    if (length != sizeof(AsyncEventRecord))
        return;
    AsyncEventRecord r;
    memcpy(&r, data, sizeof(r));
    FreeBuffers(&r);
}

// Hands small byte messages from any thread to a pool of worker threads.
// Items are reused through a cache of free items, so a steady stream of
// messages allocates nothing.
#ifndef QG_UTIL_DELIVERY_QUEUE_H
#define QG_UTIL_DELIVERY_QUEUE_H

#include <pthread.h>
#include <stdint.h>

#include <atomic>
#include <mutex>

#include "util/win32_shims.h"

struct DeliverItem {
    char* data;         // capacity bytes, kept while the item is reused
    uint32_t capacity;  // the item size the buffer was made for
    uint32_t length;    // message bytes in data; a NUL follows them
    uint32_t param1;
    uint32_t param2;
    uint32_t param3;
    uint32_t recycleTick;  // GetTickCount when it last went into the cache
    DeliverItem* next;
};

class CAsyncDeliver
{
public:
    static const uint32_t kMaxWorkers = 10;
    static const uint32_t kNoLimit = 0xFFFFFFFFu;
    // The name every worker thread carries.
    static constexpr const char* kWorkerName = "qg-deliver";

    CAsyncDeliver();
    virtual ~CAsyncDeliver();

    // Called in a worker thread for each message, with no lock held; must be
    // safe to run in several workers at once.
    virtual int OnAsyncDeliver(const char* data, uint32_t length, uint32_t param1, uint32_t param2,
                               uint32_t param3) = 0;

    // Stores the limits and starts min(threads, 10) workers into the slots
    // that hold none. Returns 1, also when no worker starts.
    int Start(uint32_t threads, uint32_t itemSize, uint32_t maxQueue, uint32_t maxCache);
    // Ends and joins the workers, then frees every queued and cached item.
    void Stop();

    // 0 queued, -1 no memory, -2 refused (too long for the item size, queue
    // over its limit, or no data for a non-empty message).
    int Post(const void* data, uint32_t length, uint32_t param1, uint32_t param2, uint32_t param3);

    uint32_t GetQueueCount() const { return queueCount_.load(std::memory_order_relaxed); }
    uint32_t GetCacheCount() const { return cacheCount_.load(std::memory_order_relaxed); }

    static void* AsyncDeliverServiceThread(void* arg);

protected:
    // Called by Stop for each queued item it drops undelivered, so that a
    // subclass can release what the message owns.
    virtual void OnAsyncDiscard(const char* data, uint32_t length, uint32_t param1, uint32_t param2, uint32_t param3);

    DeliverItem* AllocItem(uint32_t itemSize);
    void RecycleItem(DeliverItem* item);
    DeliverItem* PopItem();
    void PurgeCache(int32_t maxAge);
    void ClearQueue(bool notify);
    void ClearCache();
    void DeliverLoop();

private:
    CAsyncDeliver(const CAsyncDeliver&) = delete;
    CAsyncDeliver& operator=(const CAsyncDeliver&) = delete;

    static void FreeItem(DeliverItem* item);

    DeliverItem* queueHead_;
    DeliverItem* queueTail_;
    std::atomic<uint32_t> queueCount_;
    std::mutex queueLock_;

    DeliverItem* cacheHead_;
    std::atomic<uint32_t> cacheCount_;
    std::mutex cacheLock_;

    std::atomic<uint32_t> itemSize_;
    std::atomic<uint32_t> maxQueue_;
    std::atomic<uint32_t> maxCache_;
    std::atomic<int> stop_;

    std::mutex workersLock_;          // Start and Stop against each other
    pthread_t workers_[kMaxWorkers];  // 0 marks an empty slot
};

#endif

#include "util/delivery_queue.h"

#include <string.h>
#include <unistd.h>

#include <new>

#include "util/win32_shims.h"

namespace {
const uint32_t kDefaultItemSize = 1500;
const useconds_t kIdleSleepUs = 10000;
const uint32_t kBurstLimit = 500;
const uint32_t kPurgeEveryMs = 59999;
const int32_t kCacheMaxAgeMs = 60000;
}  // namespace

CAsyncDeliver::CAsyncDeliver()
    : queueHead_(nullptr), queueTail_(nullptr), queueCount_(0), cacheHead_(nullptr), cacheCount_(0),
      itemSize_(kDefaultItemSize), maxQueue_(kNoLimit), maxCache_(kNoLimit), stop_(0)
{
    for (uint32_t i = 0; i < kMaxWorkers; ++i)
        workers_[i] = 0;
}

CAsyncDeliver::~CAsyncDeliver()
{
    // Workers must have been stopped by the subclass; what is left is only memory.
    ClearQueue(false);
    ClearCache();
}

void CAsyncDeliver::OnAsyncDiscard(const char*, uint32_t, uint32_t, uint32_t, uint32_t)
{}

int CAsyncDeliver::Start(uint32_t threads, uint32_t itemSize, uint32_t maxQueue, uint32_t maxCache)
{
    std::lock_guard<std::mutex> guard(workersLock_);
    itemSize_ = itemSize;
    maxQueue_ = maxQueue;
    maxCache_ = maxCache;
    stop_ = 0;
    uint32_t count = threads < kMaxWorkers ? threads : kMaxWorkers;
    for (uint32_t i = 0; i < count; ++i) {
        if (workers_[i] != 0)
            continue;
        // The handle of a failed creation is unspecified; the slot stays empty.
        pthread_t thread;
        if (pthread_create(&thread, nullptr, AsyncDeliverServiceThread, this) == 0)
            workers_[i] = thread;
        else
            workers_[i] = 0;
    }
    return 1;
}

void CAsyncDeliver::Stop()
{
    std::lock_guard<std::mutex> guard(workersLock_);
    stop_ = 1;
    for (uint32_t i = 0; i < kMaxWorkers; ++i) {
        if (workers_[i] == 0)
            continue;
        pthread_join(workers_[i], nullptr);
        workers_[i] = 0;
    }
    ClearQueue(true);
    ClearCache();
}

int CAsyncDeliver::Post(const void* data, uint32_t length, uint32_t param1, uint32_t param2, uint32_t param3)
{
    uint32_t itemSize = itemSize_;
    if (length >= itemSize || queueCount_ > maxQueue_)
        return -2;
    if (data == nullptr && length != 0)
        return -2;

    DeliverItem* item = AllocItem(itemSize);
    if (item == nullptr)
        return -1;

    if (length != 0)
        memcpy(item->data, data, length);
    item->data[length] = 0;
    item->length = length;
    item->param1 = param1;
    item->param2 = param2;
    item->param3 = param3;
    item->next = nullptr;

    std::lock_guard<std::mutex> guard(queueLock_);
    if (queueTail_ != nullptr)
        queueTail_->next = item;
    else
        queueHead_ = item;
    queueTail_ = item;
    ++queueCount_;
    return 0;
}

void CAsyncDeliver::FreeItem(DeliverItem* item)
{
    delete[] item->data;
    delete item;
}

DeliverItem* CAsyncDeliver::AllocItem(uint32_t itemSize)
{
    DeliverItem* item = nullptr;
    {
        std::lock_guard<std::mutex> guard(cacheLock_);
        if (cacheHead_ != nullptr) {
            item = cacheHead_;
            cacheHead_ = item->next;
            --cacheCount_;
        }
    }
    // Items cached before a Start with a larger item size cannot hold a message.
    if (item != nullptr && item->capacity < itemSize) {
        FreeItem(item);
        item = nullptr;
    }
    if (item == nullptr) {
        item = new (std::nothrow) DeliverItem();
        if (item == nullptr)
            return nullptr;
        item->data = new (std::nothrow) char[itemSize];
        if (item->data == nullptr) {
            delete item;
            return nullptr;
        }
        item->capacity = itemSize;
    }
    item->next = nullptr;
    return item;
}

void CAsyncDeliver::RecycleItem(DeliverItem* item)
{
    std::lock_guard<std::mutex> guard(cacheLock_);
    item->recycleTick = GetTickCount();
    uint32_t maxCache = maxCache_;
    if (cacheHead_ == nullptr) {
        item->next = nullptr;
        cacheHead_ = item;
        cacheCount_ = 1;
    } else if (cacheCount_ > maxCache && maxCache != kNoLimit) {
        FreeItem(item);
    } else {
        item->next = cacheHead_;
        cacheHead_ = item;
        ++cacheCount_;
    }
}

DeliverItem* CAsyncDeliver::PopItem()
{
    std::lock_guard<std::mutex> guard(queueLock_);
    DeliverItem* item = queueHead_;
    if (item == nullptr)
        return nullptr;
    queueHead_ = item->next;
    if (queueHead_ == nullptr)
        queueTail_ = nullptr;
    --queueCount_;
    item->next = nullptr;
    return item;
}

void CAsyncDeliver::PurgeCache(int32_t maxAge)
{
    std::lock_guard<std::mutex> guard(cacheLock_);
    uint32_t now = GetTickCount();
    DeliverItem** link = &cacheHead_;
    while (*link != nullptr) {
        DeliverItem* item = *link;
        bool old = maxAge <= 0 || TickDistance(now, item->recycleTick) >= static_cast<uint32_t>(maxAge);
        if (old) {
            *link = item->next;
            FreeItem(item);
            --cacheCount_;
        } else {
            link = &item->next;
        }
    }
}

void CAsyncDeliver::ClearQueue(bool notify)
{
    DeliverItem* item;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        item = queueHead_;
        queueHead_ = nullptr;
        queueTail_ = nullptr;
        queueCount_ = 0;
    }
    while (item != nullptr) {
        DeliverItem* next = item->next;
        if (notify)
            OnAsyncDiscard(item->data, item->length, item->param1, item->param2, item->param3);
        FreeItem(item);
        item = next;
    }
}

void CAsyncDeliver::ClearCache()
{
    std::lock_guard<std::mutex> guard(cacheLock_);
    while (cacheHead_ != nullptr) {
        DeliverItem* next = cacheHead_->next;
        FreeItem(cacheHead_);
        cacheHead_ = next;
    }
    cacheCount_ = 0;
}

void CAsyncDeliver::DeliverLoop()
{
    uint32_t lastPurge = GetTickCount();
    uint32_t burst = 0;
    while (stop_ == 0) {
        DeliverItem* item = PopItem();
        if (item != nullptr) {
            ++burst;
            OnAsyncDeliver(item->data, item->length, item->param1, item->param2, item->param3);
            RecycleItem(item);
        } else {
            usleep(kIdleSleepUs);
            burst = 0;
        }

        uint32_t now = GetTickCount();
        if (TickDistance(now, lastPurge) > kPurgeEveryMs) {
            PurgeCache(kCacheMaxAgeMs);
            lastPurge = now;
        }

        // A long burst yields the processor for a moment.
        if (burst > kBurstLimit) {
            usleep(kIdleSleepUs);
            burst = 0;
            if (stop_ != 0)
                return;
        }
    }
}

void* CAsyncDeliver::AsyncDeliverServiceThread(void* arg)
{
    if (arg == nullptr)
        return nullptr;
    // Named, so a look at the process tells the queue's workers apart.
    pthread_setname_np(pthread_self(), kWorkerName);
    static_cast<CAsyncDeliver*>(arg)->DeliverLoop();
    return nullptr;
}

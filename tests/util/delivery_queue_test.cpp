#include "util/delivery_queue.h"

#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using qgtest::ThreadCount;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

const auto kWait = std::chrono::seconds(10);

struct Message {
    std::string bytes;
    uint32_t p1, p2, p3;
    bool nulAfter;
};

class Recorder : public CAsyncDeliver
{
public:
    ~Recorder() override { Stop(); }

    int OnAsyncDeliver(const char* data, uint32_t length, uint32_t p1, uint32_t p2, uint32_t p3) override
    {
        std::lock_guard<std::mutex> guard(mu_);
        got_.push_back(Message{std::string(data, length), p1, p2, p3, data[length] == 0});
        cv_.notify_all();
        return 0;
    }

    bool WaitFor(size_t n)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kWait, [&] { return got_.size() >= n; });
    }

    std::vector<Message> Got()
    {
        std::lock_guard<std::mutex> guard(mu_);
        return got_;
    }

    using CAsyncDeliver::AllocItem;
    using CAsyncDeliver::PurgeCache;
    using CAsyncDeliver::RecycleItem;

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Message> got_;
};

template <class Pred>
bool Eventually(Pred pred)
{
    auto end = steady_clock::now() + kWait;
    while (!pred()) {
        if (steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

TEST(DeliveryQueue, OneWorkerDeliversInPostOrderWithParams)
{
    Recorder d;
    // Posted before any worker runs: the messages wait in the queue.
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_EQ(0, d.Post(("early" + std::to_string(i)).c_str(), 6, i, 0, 0));
    EXPECT_EQ(3u, d.GetQueueCount());

    ASSERT_EQ(1, d.Start(1, 1500, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit));
    const uint32_t kCount = 600;  // more than one burst
    for (uint32_t i = 0; i < kCount; ++i) {
        std::string m = "m" + std::to_string(i);
        ASSERT_EQ(0, d.Post(m.data(), static_cast<uint32_t>(m.size()), i, i * 2, i * 3));
    }
    ASSERT_TRUE(d.WaitFor(3 + kCount));

    std::vector<Message> got = d.Got();
    ASSERT_EQ(3 + kCount, got.size());
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ("early" + std::to_string(i), got[i].bytes);
    for (uint32_t i = 0; i < kCount; ++i) {
        const Message& m = got[3 + i];
        EXPECT_EQ("m" + std::to_string(i), m.bytes);
        EXPECT_EQ(i, m.p1);
        EXPECT_EQ(i * 2, m.p2);
        EXPECT_EQ(i * 3, m.p3);
        EXPECT_TRUE(m.nulAfter);
    }
    EXPECT_EQ(0u, d.GetQueueCount());
}

TEST(DeliveryQueue, PostRefusesWhatDoesNotFit)
{
    std::vector<char> big(4000, 'x');
    Recorder d;
    // Default item size 1500: the message and its NUL must fit.
    EXPECT_EQ(0, d.Post(big.data(), 1499, 0, 0, 0));
    EXPECT_EQ(-2, d.Post(big.data(), 1500, 0, 0, 0));
    EXPECT_EQ(-2, d.Post(nullptr, 10, 0, 0, 0));
    EXPECT_EQ(0, d.Post(nullptr, 0, 0, 0, 0));
    EXPECT_EQ(2u, d.GetQueueCount());

    d.Start(0, 16, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    EXPECT_EQ(0, d.Post(big.data(), 15, 0, 0, 0));
    EXPECT_EQ(-2, d.Post(big.data(), 16, 0, 0, 0));
    EXPECT_EQ(3u, d.GetQueueCount());
}

TEST(DeliveryQueue, QueueLimitAllowsOneOverThenRefuses)
{
    Recorder d;
    d.Start(0, 1500, 2, CAsyncDeliver::kNoLimit);
    EXPECT_EQ(0, d.Post("a", 1, 0, 0, 0));
    EXPECT_EQ(0, d.Post("b", 1, 0, 0, 0));
    EXPECT_EQ(0, d.Post("c", 1, 0, 0, 0));  // count 2 is not over 2
    EXPECT_EQ(-2, d.Post("d", 1, 0, 0, 0));
    EXPECT_EQ(3u, d.GetQueueCount());

    // Stop frees the queued items; posts after it wait for the next Stop.
    d.Stop();
    EXPECT_EQ(0u, d.GetQueueCount());
    EXPECT_EQ(0, d.Post("e", 1, 0, 0, 0));
    EXPECT_EQ(1u, d.GetQueueCount());
}

TEST(DeliveryQueue, CacheKeepsAtMostOneOverItsLimitAndPurgesByAge)
{
    struct Case {
        uint32_t maxCache;
        int recycled;
        uint32_t kept;
    };
    const Case cases[] = {
        {0, 2, 1},
        {1, 3, 2},
        {3, 6, 4},
        {CAsyncDeliver::kNoLimit, 6, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxCache);
        Recorder d;
        d.Start(0, 64, CAsyncDeliver::kNoLimit, c.maxCache);
        std::vector<DeliverItem*> items;
        for (int i = 0; i < c.recycled; ++i) {
            items.push_back(d.AllocItem(64));
            ASSERT_NE(nullptr, items.back());
        }
        for (DeliverItem* item : items)
            d.RecycleItem(item);
        EXPECT_EQ(c.kept, d.GetCacheCount());
        ASSERT_EQ(0, d.Post("reuse", 5, 0, 0, 0));  // takes a cached item
        EXPECT_EQ(c.kept - 1, d.GetCacheCount());

        d.PurgeCache(0x7FFFFFFF);  // nothing that old
        EXPECT_EQ(c.kept - 1, d.GetCacheCount());
        d.PurgeCache(0);
        EXPECT_EQ(0u, d.GetCacheCount());
        EXPECT_EQ(1u, d.GetQueueCount());
    }
}

TEST(DeliveryQueue, CachedItemTooSmallForANewItemSizeIsReplaced)
{
    Recorder d;
    d.Start(1, 100, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    ASSERT_EQ(0, d.Post("small", 5, 0, 0, 0));
    ASSERT_TRUE(d.WaitFor(1));
    ASSERT_TRUE(Eventually([&] { return d.GetCacheCount() == 1; }));

    // Raise the item size while the 100-byte item sits in the cache.
    d.Start(1, 4000, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    std::string big(3000, 'b');
    big[2999] = 'e';
    ASSERT_EQ(0, d.Post(big.data(), static_cast<uint32_t>(big.size()), 0, 0, 0));
    ASSERT_TRUE(d.WaitFor(2));
    EXPECT_EQ(big, d.Got()[1].bytes);
}

TEST(DeliveryQueue, StartFillsOnlyEmptySlotsAndStopJoinsThemAll)
{
    struct Case {
        std::vector<uint32_t> starts;
        int workers;
    };
    const Case cases[] = {
        {{0}, 0}, {{3}, 3}, {{20}, 10}, {{2, 2}, 2}, {{2, 4}, 4}, {{12, 1, 12}, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.workers);
        // Only the queue's own workers count: a sanitizer may start threads of its own.
        auto workers = [] { return ThreadCount(CAsyncDeliver::kWorkerName); };
        ASSERT_EQ(0, workers());
        Recorder d;
        for (uint32_t n : c.starts)
            EXPECT_EQ(1, d.Start(n, 1500, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit));
        EXPECT_TRUE(Eventually([&] { return workers() >= c.workers; })) << workers();
        EXPECT_EQ(c.workers, workers());
        d.Stop();
        EXPECT_TRUE(Eventually([&] { return workers() == 0; }));
    }
}

TEST(DeliveryQueue, StartAfterStopDeliversAgain)
{
    Recorder d;
    d.Start(2, 1500, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    ASSERT_EQ(0, d.Post("one", 3, 0, 0, 0));
    ASSERT_TRUE(d.WaitFor(1));
    d.Stop();

    d.Start(2, 1500, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    ASSERT_EQ(0, d.Post("two", 3, 0, 0, 0));
    ASSERT_TRUE(d.WaitFor(2));
    EXPECT_EQ("two", d.Got()[1].bytes);
}

TEST(DeliveryQueue, ConcurrentPostersAndWorkersDeliverEachMessageOnce)
{
    Recorder d;
    d.Start(4, 1500, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    const int kPosters = 4, kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosters; ++t) {
        posters.emplace_back([&d, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string m = std::to_string(t) + ":" + std::to_string(i);
                while (d.Post(m.data(), static_cast<uint32_t>(m.size()), 0, 0, 0) != 0)
                    std::this_thread::yield();
            }
        });
    }
    for (std::thread& t : posters)
        t.join();
    ASSERT_TRUE(d.WaitFor(kPosters * kEach));
    std::set<std::string> seen;
    for (const Message& m : d.Got())
        EXPECT_TRUE(seen.insert(m.bytes).second) << m.bytes;
    EXPECT_EQ(static_cast<size_t>(kPosters * kEach), seen.size());
}

// Makes every thread creation of this process fail.
bool RefuseThreadCreation()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAGAIN & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog = {static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

TEST(DeliveryQueue, FailedThreadCreationLeavesSlotsEmpty)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (!RefuseThreadCreation())
            _exit(2);
        int code = 0;
        {
            Recorder d;
            if (d.Start(3, 1500, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit) != 1)
                code = 3;
            if (d.Post("x", 1, 0, 0, 0) != 0 || d.GetQueueCount() != 1)
                code = 4;
            d.Stop();  // must not join a thread that never started
            if (d.GetQueueCount() != 0)
                code = 5;
        }
        _exit(code);
    }
    int status = 0;
    bool ended = Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "seccomp not available";
    EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace

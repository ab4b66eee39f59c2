#include "util/async_event_manager.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "util/win32_shims.h"

namespace {

using qgtest::ThreadCount;

const auto kWait = std::chrono::seconds(10);
const int32_t kLong = 600000;  // never expires within a test

struct Event {
    uint32_t kind;
    CV_GUID peer;
    uint32_t code, result, p1, p2, p3, p4;
    std::string text, reply;
    bool hasReply;
};

std::string Text(const char* p, uint32_t n)
{
    return p != nullptr ? std::string(p, n) : std::string();
}

class Receiver : public IAsyncEventDelegate
{
public:
    void OnAsyncRequestResult(CV_GUID peer, uint32_t code, uint32_t result, const char* text, uint32_t textLen,
                              uint32_t p1, uint32_t p2, const char* reply, uint32_t replyLen) override
    {
        Add(Event{kAsyncRequest, peer, code, result, p1, p2, 0, 0, Text(text, textLen), Text(reply, replyLen),
                  reply != nullptr});
    }
    void OnAsyncNotify(CV_GUID peer, uint32_t code, uint32_t p1, uint32_t p2, const char* text,
                       uint32_t textLen) override
    {
        Add(Event{kAsyncNotify, peer, code, 0, p1, p2, 0, 0, Text(text, textLen), "", false});
    }
    void OnAsyncSeqRequestResult(CV_GUID peer, uint32_t code, uint32_t result, uint32_t p1, uint32_t p2, uint32_t p3,
                                 uint32_t p4, const char* text, uint32_t textLen, const char* reply,
                                 uint32_t replyLen) override
    {
        Add(Event{kAsyncSeqRequest, peer, code, result, p1, p2, p3, p4, Text(text, textLen), Text(reply, replyLen),
                  reply != nullptr});
    }

    CV_GUID Guid() const { return m_guid; }
    CAsyncEventManager* Manager() const { return m_pManager; }
    void Detach()
    {
        m_pManager->UnregisterDelegate(m_guid);
        m_pManager = nullptr;
    }

    bool WaitFor(size_t n)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, kWait, [&] { return got_.size() >= n; });
    }
    std::vector<Event> Got()
    {
        std::lock_guard<std::mutex> guard(mu_);
        return got_;
    }

private:
    void Add(const Event& e)
    {
        std::lock_guard<std::mutex> guard(mu_);
        got_.push_back(e);
        cv_.notify_all();
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Event> got_;
};

CV_GUID MakeGuid(uint8_t fill)
{
    CV_GUID g;
    memset(g.bytes, fill, sizeof(g.bytes));
    return g;
}

const CV_GUID kPeerA = MakeGuid(0xA1);
const CV_GUID kPeerB = MakeGuid(0xB2);

// The manager is process-wide; every test leaves it released.
class EventManager : public ::testing::Test
{
protected:
    void TearDown() override
    {
        mgr->Release();
        EXPECT_EQ(0, mgr->GetPendingCount());
        // The manager is the process's one: a test that posts before it
        // starts it must not meet the queue limit an earlier test set.
        mgr->Start(0, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
        mgr->Release();
    }
    CAsyncEventManager* mgr = CAsyncEventManager::GetInstance();
};

// One delivery worker, so records arrive in the order they were posted.
class StartedEventManager : public EventManager
{
protected:
    void SetUp() override { mgr->Start(1, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit); }
};

TEST_F(EventManager, DelegatesRegisterOnConstructionAndLeaveOnDestruction)
{
    CV_GUID first, second;
    {
        Receiver a;
        Receiver b;
        first = a.Guid();
        second = b.Guid();
        EXPECT_EQ(mgr, a.Manager());
        EXPECT_NE(MakeGuid(0), first);
        EXPECT_NE(first, second);
        EXPECT_EQ(&a, mgr->FindDelegate(first));
        EXPECT_EQ(&b, mgr->FindDelegate(second));
    }
    EXPECT_EQ(nullptr, mgr->FindDelegate(first));
    EXPECT_EQ(nullptr, mgr->FindDelegate(second));
}

TEST_F(EventManager, DelegateWithoutManagerAnswersMinusOne)
{
    Receiver r;
    r.Detach();
    uint32_t seq = 0;
    EXPECT_EQ(-1, r.PostNotify(kPeerA, 1, 0, 0, "t", 1));
    EXPECT_EQ(-1, r.AddRequest(kPeerA, 1, "t", 1, kLong, 0, 0));
    EXPECT_EQ(-1, r.AddSharedRequest(kPeerA, 1, "t", 1, kLong, 0, 0));
    EXPECT_EQ(-1, r.AnswerRequest(1, "t", 1, 0, nullptr, 0));
    EXPECT_EQ(-1, r.AddSeqRequest(&seq, kLong, kPeerA, 1, 0, 0, 0, 0, "t", 1));
    EXPECT_EQ(-1, r.AnswerSeqRequest(1, 0, nullptr, 0));
    EXPECT_EQ(-1, r.IsRequestPending(1, "t", 1));
    EXPECT_EQ(0, mgr->GetPendingCount());
}

TEST_F(EventManager, RequestsAreKeptOncePerPeerAndContent)
{
    Receiver owner;
    EXPECT_EQ(0, owner.AddRequest(kPeerA, 7, "job", 0, kLong, 1, 2));
    EXPECT_EQ(10, owner.AddRequest(kPeerA, 7, "job", 3, kLong, 1, 2));
    EXPECT_EQ(0, owner.AddRequest(kPeerB, 7, "job", 0, kLong, 1, 2));
    EXPECT_EQ(0, owner.AddRequest(kPeerA, 8, "job", 0, kLong, 1, 2));   // other code
    EXPECT_EQ(0, owner.AddRequest(kPeerA, 7, "jobs", 0, kLong, 1, 2));  // other text
    EXPECT_EQ(0, owner.AddRequest(kPeerA, 7, "jo", 0, kLong, 1, 2));    // shorter text
    EXPECT_EQ(5, mgr->GetPendingCount());

    EXPECT_EQ(1, owner.IsRequestPending(7, "job", 3));
    EXPECT_EQ(0, owner.IsRequestPending(7, "job", 0));  // no strlen here
    EXPECT_EQ(0, owner.IsRequestPending(7, nullptr, 3));
    EXPECT_EQ(0, owner.IsRequestPending(9, "job", 3));

    // Requests of another owner are apart.
    Receiver other;
    EXPECT_EQ(0, other.IsRequestPending(7, "job", 3));
    EXPECT_EQ(0, other.AddRequest(kPeerA, 7, "job", 0, kLong, 1, 2));
}

TEST_F(EventManager, RequestsWithoutTextAreRefused)
{
    Receiver owner;
    EXPECT_EQ(-1, owner.AddRequest(kPeerA, 1, nullptr, 0, kLong, 0, 0));
    EXPECT_EQ(-1, owner.AddRequest(kPeerA, 1, nullptr, 5, kLong, 0, 0));
    EXPECT_EQ(-1, owner.AddRequest(kPeerA, 1, "", 0, kLong, 0, 0));
    EXPECT_EQ(-1, owner.AddSharedRequest(kPeerA, 1, "", 0, kLong, 0, 0));
    EXPECT_EQ(-1, owner.AnswerRequest(1, nullptr, 5, 0, nullptr, 0));
    EXPECT_EQ(0, mgr->GetPendingCount());
}

TEST_F(StartedEventManager, AnswerReachesEveryPeerWaitingForTheSameWork)
{
    Receiver owner;
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 7, "job", 0, kLong, 11, 12));
    ASSERT_EQ(0, owner.AddRequest(kPeerB, 7, "job", 0, kLong, 21, 22));
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 7, "other", 0, kLong, 0, 0));

    EXPECT_EQ(0, owner.AnswerRequest(7, "job", 0, 5, "done", 0));
    EXPECT_EQ(-1, owner.AnswerRequest(7, "job", 0, 5, "done", 0));
    EXPECT_EQ(1, mgr->GetPendingCount());

    ASSERT_TRUE(owner.WaitFor(2));
    std::vector<Event> got = owner.Got();
    ASSERT_EQ(2u, got.size());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(uint32_t(kAsyncRequest), got[i].kind);
        EXPECT_EQ(7u, got[i].code);
        EXPECT_EQ(5u, got[i].result);
        EXPECT_EQ("job", got[i].text);
        EXPECT_EQ("done", got[i].reply);
    }
    EXPECT_EQ(kPeerA, got[0].peer);
    EXPECT_EQ(11u, got[0].p1);
    EXPECT_EQ(kPeerB, got[1].peer);
    EXPECT_EQ(22u, got[1].p2);

    // The list stays sound after unlinking from its head and middle.
    EXPECT_EQ(0, owner.AnswerRequest(7, "other", 0, 0, nullptr, 0));
    EXPECT_EQ(0, owner.AddRequest(kPeerA, 7, "again", 0, kLong, 0, 0));
    EXPECT_EQ(1, mgr->GetPendingCount());
    ASSERT_TRUE(owner.WaitFor(3));
    EXPECT_FALSE(owner.Got()[2].hasReply);
}

TEST_F(StartedEventManager, SharedRequestNotifiesTheOwnerOnceAndAnswersAll)
{
    Receiver owner;
    EXPECT_EQ(0, owner.AddSharedRequest(kPeerA, 3, "cam", 0, kLong, 1, 2));
    EXPECT_EQ(0, owner.AddSharedRequest(kPeerA, 3, "cam", 0, kLong, 1, 2));
    EXPECT_EQ(1, mgr->GetPendingCount());
    EXPECT_EQ(0, owner.AddSharedRequest(kPeerB, 3, "cam", 0, kLong, 1, 2));
    EXPECT_EQ(2, mgr->GetPendingCount());

    EXPECT_EQ(0, owner.AnswerRequest(3, "cam", 0, 0, "open", 0));
    EXPECT_EQ(-1, owner.AnswerRequest(3, "cam", 0, 0, "open", 0));

    ASSERT_TRUE(owner.WaitFor(3));
    std::vector<Event> got = owner.Got();
    ASSERT_EQ(3u, got.size());  // one worker: the answers came after every notification
    EXPECT_EQ(uint32_t(kAsyncNotify), got[0].kind);
    EXPECT_EQ(kPeerA, got[0].peer);
    EXPECT_EQ("cam", got[0].text);
    EXPECT_EQ(1u, got[0].p1);
    EXPECT_EQ(2u, got[0].p2);
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(uint32_t(kAsyncRequest), got[i].kind);
        EXPECT_EQ("open", got[i].reply);
    }
    EXPECT_EQ(kPeerA, got[1].peer);
    EXPECT_EQ(kPeerB, got[2].peer);
}

TEST_F(StartedEventManager, SequenceRequestsAreNumberedAcrossOwnersAndAnsweredByNumber)
{
    Receiver one, two;
    uint32_t s1 = 0, s2 = 0, s3 = 0;
    ASSERT_EQ(0, one.AddSeqRequest(&s1, kLong, kPeerA, 4, 1, 2, 3, 4, "q", 0));
    ASSERT_EQ(0, two.AddSeqRequest(&s2, kLong, kPeerB, 4, 0, 0, 0, 0, nullptr, 0));
    ASSERT_EQ(0, one.AddSeqRequest(&s3, kLong, kPeerB, 4, 0, 0, 0, 0, nullptr, 0));
    EXPECT_EQ(s1 + 1, s2);
    EXPECT_EQ(s2 + 1, s3);

    EXPECT_EQ(-1, one.AnswerSeqRequest(s3 + 100, 0, nullptr, 0));
    EXPECT_EQ(-1, two.AnswerSeqRequest(s1, 0, nullptr, 0));  // not its own
    EXPECT_EQ(0, one.AnswerSeqRequest(s1, 9, "r", 0));
    EXPECT_EQ(-1, one.AnswerSeqRequest(s1, 9, "r", 0));
    EXPECT_EQ(2, mgr->GetPendingCount());

    ASSERT_TRUE(one.WaitFor(1));
    Event e = one.Got()[0];
    EXPECT_EQ(uint32_t(kAsyncSeqRequest), e.kind);
    EXPECT_EQ(kPeerA, e.peer);
    EXPECT_EQ(4u, e.code);
    EXPECT_EQ(9u, e.result);
    EXPECT_EQ(1u, e.p1);
    EXPECT_EQ(2u, e.p2);
    EXPECT_EQ(3u, e.p3);
    EXPECT_EQ(4u, e.p4);
    EXPECT_EQ("q", e.text);
    EXPECT_EQ("r", e.reply);
}

TEST_F(EventManager, ExpiredRecordsLeaveInAnyOrderAndOthersStay)
{
    Receiver owner;
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "slow", 0, 5000, 0, 0));
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "fast", 0, 100, 0, 0));
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "late", 0, 5000, 0, 0));
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "now", 0, -1, 0, 0));

    mgr->CheckTimeouts();  // the negative time-out expires at once
    EXPECT_EQ(0, owner.IsRequestPending(1, "now", 3));
    EXPECT_EQ(3, mgr->GetPendingCount());

    uint32_t start = GetTickCount();
    for (int i = 0; i < 200 && static_cast<int32_t>(GetTickCount() - start) <= 150; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mgr->CheckTimeouts();
    EXPECT_EQ(0, owner.IsRequestPending(1, "fast", 4));
    EXPECT_EQ(1, owner.IsRequestPending(1, "slow", 4));
    EXPECT_EQ(1, owner.IsRequestPending(1, "late", 4));
    // The list is still whole at both ends.
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "tail", 0, kLong, 0, 0));
    EXPECT_EQ(0, owner.AnswerRequest(1, "late", 0, 0, nullptr, 0));
    EXPECT_EQ(0, owner.AnswerRequest(1, "tail", 0, 0, nullptr, 0));
    EXPECT_EQ(1, mgr->GetPendingCount());
}

TEST_F(StartedEventManager, TimeoutThreadAnswersWithResult100)
{
    Receiver owner;
    uint32_t seq = 0;
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 2, "req", 0, 20, 5, 6));
    ASSERT_EQ(0, owner.AddSeqRequest(&seq, 20, kPeerB, 3, 7, 8, 9, 10, "seq", 0));
    ASSERT_TRUE(owner.WaitFor(2));
    std::vector<Event> got = owner.Got();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(uint32_t(kAsyncRequest), got[0].kind);
    EXPECT_EQ(kAsyncResultTimeout, got[0].result);
    EXPECT_EQ("req", got[0].text);
    EXPECT_FALSE(got[0].hasReply);
    EXPECT_EQ(uint32_t(kAsyncSeqRequest), got[1].kind);
    EXPECT_EQ(kAsyncResultTimeout, got[1].result);
    EXPECT_EQ(10u, got[1].p4);
    EXPECT_EQ(0, mgr->GetPendingCount());
}

TEST_F(EventManager, StartAfterReleaseRunsWorkersAndTimeoutsAgain)
{
    Receiver owner;
    mgr->Start(1, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    mgr->Release();
    // Joined threads leave the task list a little later (later still on a
    // loaded host): the count once the worker is gone and it holds still.
    int before = -1;
    for (int i = 0; i < 500; ++i) {
        const int now = ThreadCount();
        if (now == before && ThreadCount(CAsyncDeliver::kWorkerName) == 0)
            break;
        before = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    mgr->Start(1, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    mgr->Start(1, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    EXPECT_EQ(before + 2, ThreadCount());  // one worker, one timer thread
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 2, "req", 0, 20, 0, 0));
    ASSERT_TRUE(owner.WaitFor(1));
    EXPECT_EQ(kAsyncResultTimeout, owner.Got()[0].result);
}

TEST_F(EventManager, RecordOfADestroyedDelegateIsDropped)
{
    Receiver survivor;
    auto gone = std::make_unique<Receiver>();
    ASSERT_EQ(0, gone->PostNotify(kPeerA, 1, 0, 0, "lost", 0));
    ASSERT_EQ(0, gone->AddRequest(kPeerA, 1, "lost", 0, kLong, 0, 0));
    ASSERT_EQ(0, gone->AnswerRequest(1, "lost", 0, 0, "reply", 0));
    gone.reset();
    ASSERT_EQ(0, survivor.PostNotify(kPeerB, 2, 0, 0, "kept", 0));

    mgr->Start(1, CAsyncDeliver::kNoLimit, CAsyncDeliver::kNoLimit);
    ASSERT_TRUE(survivor.WaitFor(1));
    EXPECT_EQ("kept", survivor.Got()[0].text);
}

// The texts travel inside queued records; the leak check of the sanitizer
// build fails these two tests when they are not freed.
TEST_F(EventManager, ReleaseFreesTheBuffersOfUndeliveredRecords)
{
    Receiver owner;
    ASSERT_EQ(0, owner.PostNotify(kPeerA, 1, 0, 0, "notify text", 0));
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "request text", 0, kLong, 0, 0));
    ASSERT_EQ(0, owner.AnswerRequest(1, "request text", 0, 0, "reply text", 0));
    ASSERT_EQ(0, owner.AddSeqRequest(nullptr, kLong, kPeerA, 1, 0, 0, 0, 0, "pending", 0));
}

TEST_F(EventManager, RefusedPostFreesTheBuffersThatMovedWithIt)
{
    Receiver owner;
    mgr->Start(0, 0, CAsyncDeliver::kNoLimit);  // no worker; one record fits
    ASSERT_EQ(0, owner.PostNotify(kPeerA, 1, 0, 0, "first", 0));
    EXPECT_EQ(-2, owner.PostNotify(kPeerA, 1, 0, 0, "refused", 0));

    // The answer still counts; its record is gone with its text and reply.
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "request", 0, kLong, 0, 0));
    EXPECT_EQ(0, owner.AnswerRequest(1, "request", 0, 0, "reply", 0));
    ASSERT_EQ(0, owner.AddRequest(kPeerA, 1, "expired", 0, -1, 0, 0));
    mgr->CheckTimeouts();
    ASSERT_EQ(0, owner.AddSharedRequest(kPeerA, 1, "shared", 0, kLong, 0, 0));
    EXPECT_EQ(1, mgr->GetPendingCount());
}

}  // namespace

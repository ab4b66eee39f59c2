// The pending-request table: filing order, take-all, the one fallback key,
// requests whose forward fails, and outcomes that arrive while a forward
// still runs.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "quillgate/session/request_table.h"

using Ids = std::vector<int>;

namespace {

// Collects the ids an outcome went to.
struct Got {
    Ids ids;
    std::mutex mu;
    CRequestTable::Answer Answer()
    {
        return [this](int id) {
            std::lock_guard<std::mutex> lock(mu);
            ids.push_back(id);
        };
    }
};

// Opens a forward on a thread of its own, as another Ice dispatch thread would.
uint64_t OpenElsewhere(CRequestTable& table, const std::string& key, int reqid)
{
    uint64_t ticket = 0;
    std::thread([&] { ticket = table.Open(key, reqid); }).join();
    return ticket;
}

}  // namespace

TEST(RequestTable, ReplyAnswersEveryIdOnceInFilingOrder)
{
    CRequestTable table;
    table.File("enterroom", 7);
    table.File("enterroom", 3);
    table.File("enterroom", 7);  // the gateway may send an id twice
    table.File("login", 1);

    Got got;
    EXPECT_TRUE(table.Reply("enterroom", nullptr, got.Answer()));
    EXPECT_EQ(got.ids, (Ids{7, 3, 7}));
    EXPECT_FALSE(table.Reply("enterroom", nullptr, got.Answer()));  // a later outcome finds nothing
    EXPECT_EQ(table.Count("login"), 1u);
    EXPECT_EQ(table.Snapshot().size(), 1u);  // the taken key is gone
}

TEST(RequestTable, FallbackKeyIsTakenOnlyWhenTheKeyHoldsNothing)
{
    CRequestTable table;
    table.File("login", 1);
    table.File("loginex", 2);
    table.File("loginex", 4);

    Got first, second, third;
    EXPECT_TRUE(table.Reply("login", "loginex", first.Answer()));
    EXPECT_EQ(first.ids, Ids{1});
    EXPECT_EQ(table.Count("loginex"), 2u);
    EXPECT_TRUE(table.Reply("login", "loginex", second.Answer()));
    EXPECT_EQ(second.ids, (Ids{2, 4}));
    EXPECT_FALSE(table.Reply("login", "loginex", third.Answer()));
    EXPECT_TRUE(table.Snapshot().empty());
}

TEST(RequestTable, ClosedForwardsStayFiledOnlyWhenAcceptedAndKept)
{
    CRequestTable table;
    table.Close(table.Open("getroomonlineusers", 5), false, false);  // refused
    table.Close(table.Open("getroomonlineusers", 6), true, false);   // answered in its forward, if at all
    table.Close(table.Open("login", 7), true, true);                 // waits for its outcome
    table.Close(12345, true, true);                                  // no such forward: nothing happens
    EXPECT_EQ(table.Snapshot(), (std::map<std::string, Ids>{{"login", {7}}}));

    Got got;
    EXPECT_TRUE(table.Reply("login", nullptr, got.Answer()));
    EXPECT_EQ(got.ids, Ids{7});
}

TEST(RequestTable, OutcomeOfAnotherThreadWaitsForTheForwardAndGoesOnWhenItFails)
{
    CRequestTable table;
    table.File("loginex", 2);
    const uint64_t refused = OpenElsewhere(table, "login", 1);

    Got got;
    EXPECT_TRUE(table.Reply("login", "loginex", got.Answer()));
    EXPECT_TRUE(got.ids.empty());  // held by the running forward
    EXPECT_EQ(table.Count("loginex"), 1u);
    table.Close(refused, false, false);
    // The refused request never gets it; the next waiting id does, across the fallback.
    EXPECT_EQ(got.ids, Ids{2});
    EXPECT_TRUE(table.Snapshot().empty());

    // Accepted: it gets the outcome it held, once.
    const uint64_t accepted = OpenElsewhere(table, "enterroom", 3);
    Got room;
    EXPECT_TRUE(table.Reply("enterroom", "enterroomex", room.Answer()));
    table.Close(accepted, true, true);
    EXPECT_EQ(room.ids, Ids{3});
    EXPECT_TRUE(table.Snapshot().empty());
}

TEST(RequestTable, HeldOutcomeGoesOnOnlyWhenNoneOfItsIdsGotIt)
{
    CRequestTable table;
    const uint64_t a = OpenElsewhere(table, "login", 1);
    const uint64_t b = OpenElsewhere(table, "login", 2);
    table.File("loginex", 9);

    Got got;
    EXPECT_TRUE(table.Reply("login", "loginex", got.Answer()));
    table.Close(a, false, false);
    EXPECT_TRUE(got.ids.empty());  // b may still take it
    table.Close(b, true, true);
    EXPECT_EQ(got.ids, Ids{2});
    // The "loginex" id waits for the next outcome.
    EXPECT_EQ(table.Count("loginex"), 1u);

    // Both refused: it goes on once, to whoever waits then.
    const uint64_t c = OpenElsewhere(table, "login", 3);
    const uint64_t d = OpenElsewhere(table, "login", 4);
    Got next;
    EXPECT_TRUE(table.Reply("login", "loginex", next.Answer()));
    table.Close(c, false, false);
    table.Close(d, false, false);
    EXPECT_EQ(next.ids, Ids{9});
    EXPECT_TRUE(table.Snapshot().empty());

    // Nobody left to take it: it is dropped.
    const uint64_t e = OpenElsewhere(table, "login", 5);
    Got lost;
    EXPECT_TRUE(table.Reply("login", "loginex", lost.Answer()));
    table.Close(e, false, false);
    EXPECT_TRUE(lost.ids.empty());
}

TEST(RequestTable, OutcomeOnTheForwardsOwnThreadIsItsOwnAndAnsweredAtOnce)
{
    CRequestTable table;
    const uint64_t own = table.Open("getsdkoptionint", 1);
    Got got;
    EXPECT_TRUE(table.Reply("getsdkoptionint", nullptr, got.Answer()));
    EXPECT_EQ(got.ids, Ids{1});
    table.Close(own, false, false);  // a failure reported in the reply and the result alike
    EXPECT_EQ(got.ids, Ids{1});
    EXPECT_TRUE(table.Snapshot().empty());

    // Another thread's outcome took this forward's id first; its own outcome
    // still answers it, and the other one goes on to the next waiting id.
    const uint64_t mine = table.Open("login", 2);
    table.File("loginex", 3);
    Got other;
    std::thread([&] { EXPECT_TRUE(table.Reply("login", "loginex", other.Answer())); }).join();
    EXPECT_TRUE(other.ids.empty());
    Got mineGot;
    EXPECT_TRUE(table.Reply("login", "loginex", mineGot.Answer()));
    EXPECT_EQ(mineGot.ids, Ids{2});
    EXPECT_EQ(other.ids, Ids{3});
    table.Close(mine, false, false);
    EXPECT_EQ(mineGot.ids, Ids{2});
    EXPECT_TRUE(table.Snapshot().empty());
}

TEST(RequestTable, ConcurrentFilersAndTakersLoseAndRepeatNothing)
{
    CRequestTable table;
    const int kThreads = 4;
    const int kPerThread = 2000;
    std::vector<std::atomic<int>> seen(kThreads * kPerThread);
    auto count = [&seen](int id) { ++seen[static_cast<size_t>(id)]; };
    std::vector<std::thread> filers;
    for (int t = 0; t < kThreads; ++t) {
        filers.emplace_back([&table, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const int id = t * kPerThread + i;
                // Every other request runs a forward that is accepted.
                if (i % 2)
                    table.Close(table.Open("sdkcontrol", id), true, true);
                else
                    table.File("sdkcontrol", id);
            }
        });
    }
    std::atomic<bool> filed(false);
    std::thread taker([&] {
        for (int round = 0; round < 1000000 && !filed; ++round)
            table.Reply("sdkcontrol", nullptr, count);
    });
    for (std::thread& f : filers)
        f.join();
    filed = true;
    taker.join();
    table.Reply("sdkcontrol", nullptr, count);
    for (size_t id = 0; id < seen.size(); ++id)
        ASSERT_EQ(seen[id], 1) << "id " << id;
}

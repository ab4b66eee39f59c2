// The pending-request table: filing order, take-all, the one fallback key,
// and taking back the id of a request that failed.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "quillgate/session/request_table.h"

using Ids = std::vector<int>;

TEST(RequestTable, TakeAnswersEveryIdOnceInFilingOrder)
{
    CRequestTable table;
    table.File("enterroom", 7);
    table.File("enterroom", 3);
    table.File("enterroom", 7);  // the gateway may send an id twice
    table.File("login", 1);

    EXPECT_EQ(table.Take("enterroom"), (Ids{7, 3, 7}));
    EXPECT_EQ(table.Take("enterroom"), Ids{});  // a later outcome finds nothing
    EXPECT_EQ(table.Count("login"), 1u);
    EXPECT_EQ(table.Snapshot().size(), 1u);  // the taken key is gone
}

TEST(RequestTable, FallbackKeyIsTakenOnlyWhenTheKeyHoldsNothing)
{
    CRequestTable table;
    table.File("login", 1);
    table.File("loginex", 2);
    table.File("loginex", 4);

    EXPECT_EQ(table.Take("login", "loginex"), Ids{1});
    EXPECT_EQ(table.Count("loginex"), 2u);
    EXPECT_EQ(table.Take("login", "loginex"), (Ids{2, 4}));
    EXPECT_EQ(table.Take("login", "loginex"), Ids{});
    EXPECT_TRUE(table.Snapshot().empty());
}

TEST(RequestTable, DropTakesBackOneFilingAndTheKeyWithItsLastId)
{
    CRequestTable table;
    table.File("getroomonlineusers", 5);
    table.File("getroomonlineusers", 6);
    table.File("getroomonlineusers", 5);

    EXPECT_TRUE(table.Drop("getroomonlineusers", 5));
    EXPECT_EQ(table.Snapshot()["getroomonlineusers"], (Ids{5, 6}));
    EXPECT_FALSE(table.Drop("getroomonlineusers", 9));  // never filed
    EXPECT_FALSE(table.Drop("login", 5));               // other key
    EXPECT_TRUE(table.Drop("getroomonlineusers", 6));
    EXPECT_TRUE(table.Drop("getroomonlineusers", 5));
    EXPECT_TRUE(table.Snapshot().empty());
    EXPECT_FALSE(table.Drop("getroomonlineusers", 5));  // already answered or dropped
}

TEST(RequestTable, ConcurrentFilersAndTakersLoseAndRepeatNothing)
{
    CRequestTable table;
    const int kThreads = 4;
    const int kPerThread = 2000;
    std::vector<int> seen(kThreads * kPerThread, 0);
    std::vector<std::thread> filers;
    for (int t = 0; t < kThreads; ++t) {
        filers.emplace_back([&table, t] {
            for (int i = 0; i < kPerThread; ++i)
                table.File("sdkcontrol", t * kPerThread + i);
        });
    }
    std::atomic<bool> filed(false);
    std::thread taker([&] {
        for (int round = 0; round < 1000000 && !filed; ++round) {
            for (int id : table.Take("sdkcontrol"))
                ++seen[id];
        }
    });
    for (std::thread& f : filers)
        f.join();
    filed = true;
    taker.join();
    for (int id : table.Take("sdkcontrol"))
        ++seen[id];
    for (size_t id = 0; id < seen.size(); ++id)
        ASSERT_EQ(seen[id], 1) << "id " << id;
}

// The stand-ins' media thread: Stop and Remove against a frame under way.
#include "paced_streams.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

struct Play {
    int key = 0;
    standin::Pace pace;
};
using Streams = standin::PacedStreams<Play>;

// Waits for a condition with a deadline (long: only a failing wait, or a
// thread a loaded host runs late, takes the time).
template <class Cond>
bool WaitFor(Cond cond, milliseconds limit = milliseconds(30000))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// A step that holds its frame "under way" until opened, then counts it.
class StandinPacedStreams : public ::testing::Test
{
protected:
    std::atomic<int> entered{0}, done{0}, ended{0};
    std::atomic<bool> open{false};
    std::unique_ptr<Streams> streams{new Streams(
        [this](std::unique_lock<std::mutex>& lock, Streams::Stream& s) {
            ++entered;
            s.due = std::chrono::steady_clock::now() + milliseconds(1);
            lock.unlock();
            WaitFor([this] { return open.load(); });
            ++done;
            lock.lock();
            return true;
        },
        [this](const Streams::Stream&) { ++ended; }, [](const Streams::Stream&, const standin::Pace&) { return 0u; })};

    // Streams 1 and 2, the first one's frame under way.
    void StartTwoWithAFrameUnderWay()
    {
        streams->Start();
        ASSERT_TRUE(streams->Add(Play{1, {}}, KeyIs(1)));
        ASSERT_TRUE(streams->Add(Play{2, {}}, KeyIs(2)));
        ASSERT_TRUE(WaitFor([&] { return entered > 0; }));
    }
    // Opens the gate a little later, from a thread of its own.
    std::thread OpenSoon()
    {
        return std::thread([this] {
            std::this_thread::sleep_for(milliseconds(20));
            open = true;
        });
    }

    static std::function<bool(const Play&)> KeyIs(int key)
    {
        return [key](const Play& s) { return s.key == key; };
    }
};

TEST_F(StandinPacedStreams, StopWaitsForTheFrameUnderWayThenEndsEveryStreamAndStepsNoMore)
{
    StartTwoWithAFrameUnderWay();
    std::thread opener = OpenSoon();
    streams->Stop();
    EXPECT_TRUE(open) << "Stop returned with a frame under way";
    opener.join();

    EXPECT_EQ(ended.load(), 2);
    EXPECT_FALSE(streams->OnThread());
    const int steps = done;
    EXPECT_EQ(entered.load(), steps);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(done.load(), steps);
    EXPECT_FALSE(streams->Add(Play{3, {}}, KeyIs(3))) << "a stopped thread takes no stream";
}

TEST_F(StandinPacedStreams, DestroyedWhileAFrameIsUnderWayItJoinsFirst)
{
    StartTwoWithAFrameUnderWay();
    std::thread opener = OpenSoon();
    streams.reset();
    EXPECT_TRUE(open) << "destroyed before the frame under way was done";
    EXPECT_EQ(ended.load(), 2);
    opener.join();
}

TEST_F(StandinPacedStreams, RemoveWaitsForTheFrameUnderWayOnlyWhenAsked)
{
    StartTwoWithAFrameUnderWay();
    // The other stream goes at once, and a second time it is not there.
    EXPECT_TRUE(streams->Remove(KeyIs(2), false));
    EXPECT_EQ(done.load(), 0);
    EXPECT_FALSE(streams->Remove(KeyIs(2), false));

    std::thread opener = OpenSoon();
    EXPECT_TRUE(streams->Remove(KeyIs(1), true));
    EXPECT_GE(done.load(), 1) << "Remove returned with the stream's frame under way";
    opener.join();
    EXPECT_EQ(ended.load(), 2);
    streams->Stop();
    EXPECT_EQ(ended.load(), 2);
}

TEST_F(StandinPacedStreams, AddingTheSameKeyReplacesTheStreamAndChangesFindOnlyRunningOnes)
{
    open = true;
    EXPECT_FALSE(streams->Add(Play{1, {}}, KeyIs(1))) << "not started";
    streams->Start();
    ASSERT_TRUE(streams->Add(Play{1, {}}, KeyIs(1)));
    ASSERT_TRUE(streams->Add(Play{1, {}}, KeyIs(1)));
    EXPECT_EQ(ended.load(), 1);
    EXPECT_TRUE(streams->SetPace(KeyIs(1), standin::Pace{standin::Pace::kFixed, 5}));
    EXPECT_FALSE(streams->SetPace(KeyIs(7), standin::Pace{}));
    EXPECT_TRUE(streams->Change(KeyIs(1), [](Play& s) { s.key = 8; }));
    EXPECT_FALSE(streams->Remove(KeyIs(1), true));
    EXPECT_TRUE(streams->Remove(KeyIs(8), true));
    streams->Stop();
    EXPECT_EQ(ended.load(), 2);
}

}  // namespace

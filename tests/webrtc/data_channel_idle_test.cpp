// What a data channel costs before it is used: no ring and no frame buffer
// until the first opening or the first packet, and a reassembly thread that
// sleeps while nothing is stored (its wake-ups read from the kernel's own
// count). The ring's allocation can be refused here: a program of its own,
// so this operator new stays out of every other test.
#include "quillgate/webrtc/data_channel_base.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/log/proxy_log.h"
#include "tests/support/case_names.h"
#include "tests/webrtc/webrtc_side_fixture.h"

namespace {

// While set, the nothrow allocations the size of a frame buffer or more
// (the ring and the frame buffer) are refused.
std::atomic<bool> g_refuseBuffers{false};

}  // namespace

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    if (g_refuseBuffers.load() && n >= kDataChnlFrameStart)
        return nullptr;
    try {
        return ::operator new[](n);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const uint32_t kHandle = 7;

int CountLines(const std::string& prefix)
{
    int n = 0;
    for (const std::string& line : webrtctest::LogLines())
        n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}

// A frame of one slice, numbered packetNum.
std::string Frame(uint32_t packetNum, const std::string& payload)
{
    std::string m(kDataChnlHeaderSize, '\0');
    m[0] = 0x07, m[1] = 0x01, m[2] = 0x01;
    m[8] = 1;  // the frame's last slice
    const uint32_t len = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) {
        m[11 + i] = static_cast<char>(len >> (8 * i));
        m[19 + i] = static_cast<char>(packetNum >> (8 * i));
    }
    return m + payload;
}

class Channel : public CDataChannelBase
{
public:
    ~Channel() override { StopThread(); }
    void OnChunkData(uint32_t, uint8_t* data, uint32_t length, uint32_t, uint32_t) override
    {
        if (data == nullptr)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chunks.emplace_back(reinterpret_cast<char*>(data), length);
    }
    std::vector<std::string> Chunks()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_chunks;
    }
    void Send(uint32_t handle, const std::string& m)
    {
        OnReceiveData(handle, 1, reinterpret_cast<const uint8_t*>(m.data()), static_cast<uint32_t>(m.size()));
    }
    // Waits (at most 10 s) for count chunks.
    bool WaitChunks(size_t count)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Chunks().size() < count && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Chunks().size() >= count;
    }
    // The thread's kernel id, once it runs (at most 10 s).
    pid_t WaitThreadId()
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (GetThreadId() == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return GetThreadId();
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_chunks;
};

// The times the thread gave up the processor of its own accord, or -1.
long VoluntarySwitches(pid_t tid)
{
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "voluntary_ctxt_switches:" && status >> value)
            return value;
    }
    return -1;
}

// Wake-ups of the thread over 300 ms. Polling every 5 ms gives about 60;
// a thread that sleeps until it is called gives none, perhaps one as the
// window opens.
long WakeUpsOver300ms(pid_t tid)
{
    const long before = VoluntarySwitches(tid);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long after = VoluntarySwitches(tid);
    return before < 0 || after < 0 ? -1 : after - before;
}

const long kIdleWakeUps = 5;

class DataChannelCost : public ::testing::Test
{
protected:
    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> lock(webrtctest::g_logMutex);
            webrtctest::g_log.clear();
        }
        SetProxyLogSink(&webrtctest::CollectLog);
    }
    void TearDown() override
    {
        g_refuseBuffers = false;
        SetProxyLogSink(nullptr);
    }
};

// ---- the thread sleeps while nothing is stored ----

struct IdleState {
    const char* name;
    void (*reach)(Channel& channel);
    bool buffers;  // the state has made the ring
};

QG_PRINT_CASE_BY_NAME(IdleState)

class IdleThread : public DataChannelCost, public ::testing::WithParamInterface<IdleState>
{};

TEST_P(IdleThread, DoesNotWakeWhileNothingIsStored)
{
    Channel channel;
    const pid_t tid = channel.WaitThreadId();
    ASSERT_NE(tid, 0);
    GetParam().reach(channel);
    EXPECT_EQ(channel.HasBuffers(), GetParam().buffers);

    const long wakeUps = WakeUpsOver300ms(tid);
    ASSERT_GE(wakeUps, 0) << "no voluntary_ctxt_switches for thread " << tid;
    EXPECT_LE(wakeUps, kIdleWakeUps);
    EXPECT_EQ(channel.HasBuffers(), GetParam().buffers);
}

INSTANTIATE_TEST_SUITE_P(States, IdleThread,
                         ::testing::Values(IdleState{"NeverOpened", [](Channel&) {}, false},
                                           IdleState{"OpenedAndSilent", [](Channel& c) { c.ResetChannel(kHandle); },
                                                     true},
                                           IdleState{"AfterAFrameWasHandedOn",
                                                     [](Channel& c) {
                                                         c.ResetChannel(kHandle);
                                                         c.Send(kHandle, Frame(0, "first"));
                                                         // A stored packet wakes the thread at once.
                                                         ASSERT_TRUE(c.WaitChunks(1));
                                                         EXPECT_EQ(c.Chunks(), std::vector<std::string>{"first"});
                                                     },
                                                     true}),
                         qgtest::ByName());

TEST_F(DataChannelCost, StopEndsASleepingThreadAtOnce)
{
    Channel channel;
    const pid_t tid = channel.WaitThreadId();
    ASSERT_NE(tid, 0);
    const auto start = std::chrono::steady_clock::now();
    channel.StopThread();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(channel.GetThreadId(), 0);
    struct stat st;
    EXPECT_NE(stat(("/proc/self/task/" + std::to_string(tid)).c_str(), &st), 0) << "thread " << tid << " still there";
}

// ---- the ring comes with the first use ----

struct FirstUse {
    const char* name;
    void (*use)(Channel& channel);
    bool buffers;
    uint32_t pending;
};

QG_PRINT_CASE_BY_NAME(FirstUse)

class RingAllocation : public DataChannelCost, public ::testing::WithParamInterface<FirstUse>
{};

TEST_P(RingAllocation, IsMadeOnlyWhenAChannelNeedsIt)
{
    Channel channel;
    channel.StopThread();  // the ring stays as the step left it
    EXPECT_FALSE(channel.HasBuffers());
    GetParam().use(channel);
    EXPECT_EQ(channel.HasBuffers(), GetParam().buffers);
    EXPECT_EQ(channel.GetPending(), GetParam().pending);
}

INSTANTIATE_TEST_SUITE_P(
    Uses, RingAllocation,
    ::testing::Values(FirstUse{"FirstOpening", [](Channel& c) { c.ResetChannel(kHandle); }, true, 0},
                      // Before any opening the current handle is 0.
                      FirstUse{"PacketBeforeAnyOpening", [](Channel& c) { c.Send(0, Frame(0, "early")); }, true, 1},
                      FirstUse{"PacketOfAnotherHandle", [](Channel& c) { c.Send(kHandle, Frame(0, "other")); }, false,
                               0},
                      FirstUse{"ShortMessage", [](Channel& c) { c.Send(0, Frame(0, "x").substr(0, 27)); }, false, 0},
                      FirstUse{"BadMagic",
                               [](Channel& c) {
                                   std::string m = Frame(0, "x");
                                   m[2] = 0x02;
                                   c.Send(0, m);
                               },
                               false, 0}),
    qgtest::ByName());

TEST_F(DataChannelCost, RefusedRingDropsPacketsWithALineUntilItCanBeMade)
{
    Channel channel;
    g_refuseBuffers = true;
    channel.ResetChannel(kHandle);
    EXPECT_EQ(CountLines("CDataChannelBase::ResetChannel no memory for the ring yet, its packets are dropped"), 1);
    EXPECT_FALSE(channel.HasBuffers());
    EXPECT_EQ(channel.GetCurrentHandle(), kHandle);  // the opening itself took place

    channel.Send(kHandle, Frame(0, "refused"));
    EXPECT_EQ(CountLines("CDataChannelBase::OnReceiveData no memory for the ring, dropped: packetNum=0"), 1);
    EXPECT_EQ(channel.GetPending(), 0u);
    EXPECT_FALSE(channel.HasBuffers());

    // Memory again: the next packet makes the ring and goes through.
    g_refuseBuffers = false;
    channel.Send(kHandle, Frame(0, "kept"));
    EXPECT_TRUE(channel.HasBuffers());
    ASSERT_TRUE(channel.WaitChunks(1));
    EXPECT_EQ(channel.Chunks(), std::vector<std::string>{"kept"});
}

}  // namespace

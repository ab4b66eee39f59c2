// Data-channel reassembly: a real container stream cut into numbered
// messages, sent in order, shuffled, doubled, with gaps and with broken
// messages; steps run alone on a fake clock, so the millisecond rules are
// exact.
#include "quillgate/webrtc/data_channel_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/log/proxy_log.h"
#include "tests/support/case_names.h"
#include "tests/support/test_support.h"
#include "util/media_clock.h"

namespace {

const uint32_t kHandle = 7;
const uint32_t kChannel = 3;

// ---- fake clock: the test moves time; the thread's pauses move it too ----

std::atomic<uint32_t> g_now{0};
uint32_t FakeNow()
{
    return g_now.load();
}
void FakeSleep(uint32_t ms)
{
    g_now.fetch_add(ms);
}
const MediaClock kFakeClock = {&FakeNow, &FakeSleep};

// ---- log lines ----

std::mutex g_logMutex;
std::vector<std::string> g_log;
void CaptureLine(const char* line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_log.push_back(line);
}
int CountLines(const std::string& prefix)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    return static_cast<int>(std::count_if(
        g_log.begin(), g_log.end(), [&](const std::string& l) { return l.compare(0, prefix.size(), prefix) == 0; }));
}

// ---- messages ----

struct Slice {
    uint32_t packetNum;
    uint32_t blockNum;
    uint16_t sliceNum;
    bool marker;
    uint32_t timestamp;
    std::string payload;
};

void Put(std::string& m, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        m[at + i] = static_cast<char>(value >> (8 * i));
}

// The browser's layout; the unread header bytes carry noise.
std::string Message(const Slice& s, uint32_t sliceLen)
{
    std::string m(kDataChnlHeaderSize, '\xa5');
    m[0] = 0x07, m[1] = 0x01, m[2] = 0x01;
    Put(m, 4, s.blockNum, 4);
    m[8] = s.marker ? 1 : 0;
    Put(m, 9, s.sliceNum, 2);
    Put(m, 11, sliceLen, 4);
    Put(m, 15, s.timestamp, 4);
    Put(m, 19, s.packetNum, 4);
    return m + s.payload;
}
std::string Message(const Slice& s)
{
    return Message(s, static_cast<uint32_t>(s.payload.size()));
}

// Blocks of up to slicesPerBlock slices of up to 1400 bytes, block 0 at
// the stream's start, the marker on each block's last slice, 40 ms apart.
std::vector<Slice> CutStream(const std::string& bytes, uint32_t slicesPerBlock, uint32_t firstPacket = 0,
                             uint32_t sliceBytes = kDataChnlMaxSliceLen)
{
    std::vector<Slice> slices;
    uint32_t packet = firstPacket, block = 0;
    for (size_t at = 0; at < bytes.size(); ++block) {
        for (uint16_t n = 0; n < slicesPerBlock && at < bytes.size(); ++n) {
            size_t len = std::min<size_t>(sliceBytes, bytes.size() - at);
            slices.push_back({packet++, block, n, false, 1000 + 40 * block, bytes.substr(at, len)});
            at += len;
        }
        slices.back().marker = true;
    }
    return slices;
}

const std::string& Flv()
{
    static const std::string bytes = qgtest::ReadFile(QG_SOURCE_DIR "/tests/data/media/stream_h264_aac.flv");
    return bytes;
}

// ---- the recording subclass ----

struct Chunk {
    uint32_t handle;
    bool null;
    std::string bytes;
    uint32_t timestamp;
    uint32_t flags;
    bool operator==(const Chunk& o) const
    {
        return handle == o.handle && null == o.null && bytes == o.bytes && timestamp == o.timestamp && flags == o.flags;
    }
};
void PrintTo(const Chunk& c, std::ostream* os)
{
    uint32_t sum = 0;
    for (unsigned char b : c.bytes)
        sum = sum * 31 + b;
    *os << "{handle " << c.handle << (c.null ? ", null" : "") << ", " << c.bytes.size() << " bytes (sum " << sum
        << "), ts " << c.timestamp << ", flags " << c.flags << "}";
}

// What a whole, undisturbed run of these slices gives. Every chunk carries
// the time of the slice that began the stream.
std::vector<Chunk> ChunksOf(const std::vector<Slice>& slices)
{
    std::vector<Chunk> chunks;
    std::string frame;
    uint32_t startTime = 0;
    bool head = false;
    for (const Slice& s : slices) {
        if (s.blockNum == 0 && s.sliceNum == 0)
            startTime = s.timestamp, head = true;
        frame += s.payload;
        if (!s.marker)
            continue;
        if (head)
            chunks.push_back({kHandle, true, "", 0, 2});
        chunks.push_back({kHandle, false, frame, startTime, head ? 1u : 0u});
        frame.clear();
        head = false;
    }
    return chunks;
}

class RecordingChannel : public CDataChannelBase
{
public:
    ~RecordingChannel() override { StopThread(); }

    void OnChunkData(uint32_t handle, uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chunks.push_back({handle, data == nullptr, data ? std::string(reinterpret_cast<char*>(data), length) : "",
                            timestamp, flags});
    }
    void OnDataLoss() override { ++m_losses; }
    void OnChannelReset(uint32_t handle) override
    {
        // The ring mutex is held: a step from here would deadlock, so only record.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_resets.push_back(handle);
    }

    std::vector<Chunk> Chunks()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_chunks;
    }
    std::string Joined()
    {
        std::string all;
        for (const Chunk& c : Chunks())
            all += c.bytes;
        return all;
    }
    std::vector<uint32_t> Resets()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_resets;
    }
    int Losses() const { return m_losses.load(); }

private:
    std::mutex m_mutex;
    std::vector<Chunk> m_chunks;
    std::vector<uint32_t> m_resets;
    std::atomic<int> m_losses{0};
};

// A recording channel on a clock of the test's, fed as the library's
// callback feeds it; every log line is kept.
class ChannelTest : public ::testing::Test
{
protected:
    // threadRuns: the reassembly thread reads the ring; otherwise the test
    // takes the steps itself.
    void Open(const MediaClock* clock, bool threadRuns)
    {
        SetMediaClock(clock);
        {
            std::lock_guard<std::mutex> lock(g_logMutex);
            g_log.clear();
        }
        SetProxyLogLevel(1);
        SetProxyLogSink(&CaptureLine);
        m_channel.reset(new RecordingChannel);
        if (!threadRuns)
            m_channel->StopThread();
        m_channel->ResetChannel(kHandle);
    }
    void TearDown() override
    {
        m_channel.reset();
        SetProxyLogSink(nullptr);
        SetProxyLogLevel(4);
        SetMediaClock(nullptr);
    }

    RecordingChannel& Channel() { return *m_channel; }
    void SendRaw(const std::string& m)
    {
        m_channel->OnReceiveData(kHandle, kChannel, reinterpret_cast<const uint8_t*>(m.data()),
                                 static_cast<uint32_t>(m.size()));
    }
    void Send(const Slice& s) { SendRaw(Message(s)); }
    void Send(const std::vector<Slice>& slices)
    {
        for (const Slice& s : slices)
            Send(s);
    }

private:
    std::unique_ptr<RecordingChannel> m_channel;
};

// Steps run alone on the fake clock.
class Reassembly : public ChannelTest
{
protected:
    void SetUp() override
    {
        g_now = 50000;
        Open(&kFakeClock, false);
    }

    // One step at the present fake time; its pause is not taken.
    uint32_t Step() { return Channel().ProcessStep(); }
    // Steps as the thread takes them, each pause moving the clock, for ms
    // of fake time.
    void RunFor(uint32_t ms)
    {
        uint32_t end = g_now + ms;
        for (int i = 0; i < 2000000 && static_cast<int32_t>(g_now - end) < 0; ++i)
            g_now += Channel().ProcessStep();
    }
    // Steps until nothing is pending, as the thread takes them.
    void Drain()
    {
        for (int i = 0; i < 2000000 && Channel().GetPending() != 0; ++i)
            g_now += Channel().ProcessStep();
        ASSERT_EQ(Channel().GetPending(), 0u);
    }
};

// ---- a whole stream in order ----

struct Shape {
    const char* name;
    uint32_t slicesPerBlock;
    uint32_t sliceBytes;
};

QG_PRINT_CASE_BY_NAME(Shape)

class InOrder : public Reassembly, public ::testing::WithParamInterface<Shape>
{};

TEST_P(InOrder, StreamComesOutAsItsBlocksWithTheHeadAnnounced)
{
    std::vector<Slice> slices = CutStream(Flv(), GetParam().slicesPerBlock, 0, GetParam().sliceBytes);
    Send(slices);
    EXPECT_EQ(Channel().GetPending(), slices.size());
    Drain();

    EXPECT_EQ(Channel().Chunks(), ChunksOf(slices));
    EXPECT_EQ(Channel().Joined(), Flv());
    EXPECT_EQ(Channel().Losses(), 0);
    EXPECT_EQ(CountLines("*** LossPacket"), 0);
}

INSTANTIATE_TEST_SUITE_P(Blocks, InOrder,
                         ::testing::Values(Shape{"OneSliceBlocks", 1, 1400}, Shape{"ThreeSliceBlocks", 3, 1400},
                                           Shape{"EightSliceBlocksOfShortSlices", 8, 999},
                                           Shape{"OneBlockForTheWholeFile", 100000, 1400}),
                         qgtest::ByName());

TEST_F(Reassembly, SingleSliceFrameIsHandedOnByTheStepThatReadsIt)
{
    Send(Slice{0, 0, 0, true, 77, "whole"});
    EXPECT_EQ(Step(), 0u);
    EXPECT_EQ(Channel().Chunks(), (std::vector<Chunk>{{kHandle, true, "", 0, 2}, {kHandle, false, "whole", 77, 1}}));
}

// ---- order and repeats ----

struct Disorder {
    const char* name;
    std::vector<Slice> (*arrange)(std::vector<Slice>);
};

std::vector<Slice> SwapPairs(std::vector<Slice> s)
{
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        std::swap(s[i], s[i + 1]);
    return s;
}
std::vector<Slice> Reversed(std::vector<Slice> s)
{
    std::reverse(s.begin(), s.end());
    return s;
}
std::vector<Slice> EachTwiceAndAThirdTime(std::vector<Slice> s)
{
    std::vector<Slice> out;
    for (size_t i = 0; i < s.size(); ++i) {
        out.push_back(s[i]);
        out.push_back(s[i]);
        if (i >= 3)
            out.push_back(s[i - 3]);  // some land before, some after the first copy is read
    }
    return out;
}

QG_PRINT_CASE_BY_NAME(Disorder)

class Disordered : public Reassembly, public ::testing::WithParamInterface<Disorder>
{};

TEST_P(Disordered, GivesTheSameChunksWithNoLoss)
{
    std::vector<Slice> slices = CutStream(Flv(), 4);
    std::vector<Slice> arrival = GetParam().arrange(slices);
    // A few arrivals between steps, as the thread would meet them.
    for (size_t i = 0; i < arrival.size(); ++i) {
        Send(arrival[i]);
        if (i % 3 == 2)
            g_now += Step();
    }
    Drain();
    RunFor(3000);  // a double counted as pending would now show as losses

    EXPECT_EQ(Channel().Chunks(), ChunksOf(slices));
    EXPECT_EQ(Channel().Losses(), 0);
    EXPECT_EQ(CountLines("*** LossPacket"), 0);
    EXPECT_EQ(Channel().GetPending(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Arrivals, Disordered,
                         ::testing::Values(Disorder{"SwappedPairs", &SwapPairs}, Disorder{"Reversed", &Reversed},
                                           Disorder{"Duplicated", &EachTwiceAndAThirdTime}),
                         qgtest::ByName());

TEST_F(Reassembly, PacketsZeroTwoOneAreReadAsZeroOneTwo)
{
    Send(Slice{0, 0, 0, false, 5, "a"});
    Send(Slice{2, 0, 2, true, 5, "c"});
    Send(Slice{1, 0, 1, false, 5, "b"});
    EXPECT_EQ(Channel().GetPending(), 3u);
    Drain();
    EXPECT_EQ(Channel().Chunks(), (std::vector<Chunk>{{kHandle, true, "", 0, 2}, {kHandle, false, "abc", 5, 1}}));
}

// ---- losses ----

struct LossCase {
    const char* name;
    bool firstEndsFrame;
    uint32_t waitMs;  // from packet 0 read to the loss of packet 1
};

QG_PRINT_CASE_BY_NAME(LossCase)

class LostPacket : public Reassembly, public ::testing::WithParamInterface<LossCase>
{};

TEST_P(LostPacket, IsDeclaredAfterTheTimeOutAndThePacketBehindIsReadAtOnce)
{
    const LossCase& c = GetParam();
    const uint32_t t0 = g_now;
    Send(Slice{0, 0, 0, c.firstEndsFrame, 10, "head"});
    Send(Slice{2, c.firstEndsFrame ? 1u : 0u, static_cast<uint16_t>(c.firstEndsFrame ? 0 : 2), true, 50, "tail"});
    EXPECT_EQ(Step(), 0u);  // packet 0 read at t0

    g_now = t0 + c.waitMs;
    EXPECT_EQ(Step(), 5u);
    EXPECT_EQ(CountLines("*** LossPacket"), 0);
    g_now = t0 + c.waitMs + 1;
    EXPECT_EQ(Step(), 5u);
    EXPECT_EQ(CountLines("*** LossPacket Index=1,"), 1);
    EXPECT_EQ(Channel().GetPending(), 1u);  // the loss took nothing from it

    // No further arrival is needed for packet 2; it is no frame start, so
    // it goes with a loss after the partial frame was handed on.
    EXPECT_EQ(Step(), 0u);
    EXPECT_EQ(Channel().GetPending(), 0u);
    EXPECT_EQ(Channel().Losses(), 1);
    std::vector<Chunk> head = {{kHandle, true, "", 0, 2}, {kHandle, false, "head", 10, 1}};
    EXPECT_EQ(Channel().Chunks(), head);

    // Packet 1 late: dropped with the line, not stored.
    Send(Slice{1, 0, 1, false, 10, "late"});
    EXPECT_EQ(CountLines("*** had receive packet but current lostPackNo[1] more than it[1]"), 1);
    EXPECT_EQ(Channel().GetPending(), 0u);

    // Slices go with a loss each until the next frame start, which is whole.
    Send(Slice{3, 1, 1, true, 90, "drop"});
    Send(Slice{4, 0, 0, false, 130, "new"});
    Send(Slice{5, 0, 1, true, 130, "start"});
    Drain();
    EXPECT_EQ(Channel().Losses(), 2);
    head.push_back({kHandle, true, "", 0, 2});
    head.push_back({kHandle, false, "newstart", 130, 1});
    EXPECT_EQ(Channel().Chunks(), head);
}

INSTANTIATE_TEST_SUITE_P(Waits, LostPacket,
                         ::testing::Values(LossCase{"AfterASlice", false, 1066},
                                           LossCase{"AfterTheLastSliceOfAFrame", true, 1366}),
                         qgtest::ByName());

TEST_F(Reassembly, LossesInARowFollowSixtySixMillisecondsApartThenTheFullWaitAgain)
{
    const uint32_t t0 = g_now;
    Send(Slice{0, 0, 0, false, 10, "x"});
    Send(Slice{7, 0, 7, true, 10, "y"});
    EXPECT_EQ(Step(), 0u);
    // Packets 1 to 6 go: three 66 ms after the first, then more than 1132 ms each.
    const uint32_t lossAt[] = {1067, 1133, 1199, 1265, 1265 + 1133, 1265 + 2 * 1133};
    for (int i = 0; i < 6; ++i) {
        g_now = t0 + lossAt[i] - 1;
        Step();
        EXPECT_EQ(CountLines("*** LossPacket"), i) << "loss " << i + 1 << " too early";
        g_now = t0 + lossAt[i];
        Step();
        EXPECT_EQ(CountLines("*** LossPacket"), i + 1) << "loss " << i + 1 << " not at " << lossAt[i] << " ms";
    }
    EXPECT_EQ(Step(), 0u);  // packet 7
    EXPECT_EQ(Channel().GetPending(), 0u);
}

TEST_F(Reassembly, AWaitWithNothingPendingDoesNotRenewTheDeadline)
{
    Send(Slice{0, 0, 0, false, 10, "x"});
    Step();
    RunFor(2000);  // idle: nothing pending, nothing declared
    EXPECT_EQ(CountLines("*** LossPacket"), 0);
    Send(Slice{2, 0, 2, true, 10, "z"});
    Step();
    EXPECT_EQ(CountLines("*** LossPacket Index=1,"), 1);  // at the first look
    Step();
    EXPECT_EQ(Channel().GetPending(), 0u);
}

TEST_F(Reassembly, LossInsideARealStreamHandsOnThePartAndResumesAtTheNextStreamStart)
{
    std::vector<Slice> first = CutStream(Flv(), 8);
    std::vector<Slice> second = CutStream(Flv(), 8, static_cast<uint32_t>(first.size()));
    const size_t lost = 13;  // inside block 1
    for (size_t i = 0; i < first.size(); ++i)
        if (i != lost)
            Send(first[i]);
    Send(second);
    RunFor(5000);

    std::vector<Chunk> expected = ChunksOf(std::vector<Slice>(first.begin(), first.begin() + 8));
    std::string part;
    for (size_t i = 8; i < lost; ++i)
        part += first[i].payload;
    expected.push_back({kHandle, false, part, first[0].timestamp, 0});
    for (const Chunk& c : ChunksOf(second))
        expected.push_back(c);
    EXPECT_EQ(Channel().Chunks(), expected);
    EXPECT_EQ(CountLines("*** LossPacket"), 1);
    EXPECT_EQ(Channel().Losses(), static_cast<int>(first.size() - lost - 1));  // one per dropped slice
    EXPECT_EQ(Channel().GetPending(), 0u);
}

// ---- numbers the ring cannot take ----

TEST_F(Reassembly, PacketsBehindTheReadPointOrBeyondTheRingAreDropped)
{
    Send(Slice{0, 0, 0, true, 1, "a"});
    Drain();
    Send(Slice{0, 0, 0, true, 1, "a"});  // already read
    Send(Slice{1 + kDataChnlRingSlots, 0, 0, true, 1, "far"});
    EXPECT_EQ(CountLines("CDataChannelBase::OnReceiveData packetNum=1025 beyond the ring"), 1);
    EXPECT_EQ(Channel().GetPending(), 0u);
    Send(Slice{kDataChnlRingSlots, 0, 0, true, 1, "edge"});  // the last number the ring holds
    EXPECT_EQ(Channel().GetPending(), 1u);
    EXPECT_EQ(Channel().Chunks().size(), 2u);
}

TEST_F(Reassembly, NumberJumpInsideTheRingIsCoveredByLossesAndTheStreamResumes)
{
    std::vector<Slice> first = CutStream(Flv(), 8);
    std::vector<Slice> restarted = CutStream(Flv(), 8, static_cast<uint32_t>(first.size()) + 100);
    Send(first);
    Drain();
    Send(restarted);
    RunFor(200000);

    EXPECT_EQ(CountLines("*** LossPacket"), 100);
    EXPECT_EQ(Channel().Losses(), 0);  // the jump landed on a stream start
    std::vector<Chunk> expected = ChunksOf(first);
    for (const Chunk& c : ChunksOf(restarted))
        expected.push_back(c);
    EXPECT_EQ(Channel().Chunks(), expected);
}

// ---- broken messages ----

struct BadMessage {
    const char* name;
    std::string bytes;
    const char* line;  // the line it gets; null: dropped without a line
};

std::vector<BadMessage> BadMessages()
{
    Slice s{0, 0, 0, true, 1, std::string(100, 'p')};
    std::string badMagic = Message(s);
    badMagic[2] = 0x02;
    Slice big{0, 0, 0, true, 1, std::string(1401, 'q')};
    std::string overLong = Message(Slice{0, 0, 0, true, 1, std::string(1400, 'r')}) + std::string(73, 'r');
    return {
        {"TwentySevenBytes", Message(s).substr(0, 27), "CDataChannelBase::OnReceiveData data is null!"},
        {"NoBytes", "", "CDataChannelBase::OnReceiveData data is null!"},
        {"OverFifteenHundredBytes", overLong, "CDataChannelBase::OnReceiveData message too long, dropped"},
        {"BadMagic", badMagic, nullptr},
        {"SliceOver1400", Message(big), nullptr},
    };
}

QG_PRINT_CASE_BY_NAME(BadMessage)

class Broken : public Reassembly, public ::testing::WithParamInterface<BadMessage>
{};

TEST_P(Broken, IsNotStoredAndTheNextMessageStillGoesThrough)
{
    SendRaw(GetParam().bytes);
    if (GetParam().line) {
        EXPECT_EQ(CountLines(GetParam().line), 1);
    } else {
        std::lock_guard<std::mutex> lock(g_logMutex);
        EXPECT_TRUE(g_log.empty()) << g_log.front();
    }
    EXPECT_EQ(Channel().GetPending(), 0u);

    Send(Slice{0, 0, 0, true, 9, "good"});
    Step();
    EXPECT_EQ(Channel().Chunks(), (std::vector<Chunk>{{kHandle, true, "", 0, 2}, {kHandle, false, "good", 9, 1}}));
}

INSTANTIATE_TEST_SUITE_P(Messages, Broken, ::testing::ValuesIn(BadMessages()), qgtest::ByName());

TEST_F(Reassembly, NullDataIsRefusedWithTheLine)
{
    Channel().OnReceiveData(kHandle, kChannel, nullptr, 100);
    EXPECT_EQ(CountLines("CDataChannelBase::OnReceiveData data is null!"), 1);
    EXPECT_EQ(Channel().GetPending(), 0u);
}

TEST_F(Reassembly, MessageLongerOrShorterThanItsSliceLenGivesOnlyItsOwnSliceBytes)
{
    // Fill slot 0 with other bytes first: a short message must not bring them along.
    Send(Slice{0, 0, 0, true, 1, std::string(1400, 'A')});
    Step();
    Channel().ResetChannel(kHandle);
    SendRaw(Message(Slice{0, 0, 0, false, 2, std::string(700, 'B')}, 1400));  // truncated
    SendRaw(Message(Slice{1, 0, 1, true, 2, std::string(1472, 'C')}, 1400));  // 1500 bytes, 72 over
    Drain();

    EXPECT_EQ(CountLines("*** handleSliceData sliceLen!=packLen, Maybe pack is error.."), 2);
    std::vector<Chunk> chunks = Channel().Chunks();
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[3].bytes, std::string(700, 'B') + std::string(1400, 'C'));
}

// ---- handles and resets ----

TEST_F(Reassembly, OnlyTheCurrentHandlesMessagesAreStored)
{
    const std::string m = Message(Slice{0, 0, 0, true, 1, "other"});
    Channel().OnReceiveData(kHandle + 1, kChannel, reinterpret_cast<const uint8_t*>(m.data()),
                            static_cast<uint32_t>(m.size()));
    EXPECT_EQ(Channel().GetPending(), 0u);

    Channel().ResetChannel(kHandle + 1);
    EXPECT_EQ(Channel().GetCurrentHandle(), kHandle + 1);
    EXPECT_EQ(Channel().Resets(), (std::vector<uint32_t>{kHandle, kHandle + 1}));
    Send(Slice{0, 0, 0, true, 1, "old"});  // from kHandle, no longer current
    EXPECT_EQ(Channel().GetPending(), 0u);
    Channel().OnReceiveData(kHandle + 1, kChannel, reinterpret_cast<const uint8_t*>(m.data()),
                            static_cast<uint32_t>(m.size()));
    Step();
    std::vector<Chunk> chunks = Channel().Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].handle, kHandle + 1);
    EXPECT_EQ(chunks[1].bytes, "other");
}

TEST_F(Reassembly, ResetStartsANewSequenceAndForgetsTheOldOnesPackets)
{
    // An old sequence half read: a frame in progress, packets waiting, a loss.
    Send(Slice{0, 0, 0, false, 1, "o0"});
    Send(Slice{2, 0, 2, false, 1, "o2"});
    Send(Slice{3, 0, 3, false, 1, "o3"});
    Step();
    RunFor(1500);  // 1 lost, 2 read (and dropped), 3 read
    EXPECT_EQ(CountLines("*** LossPacket"), 1);
    Send(Slice{5, 0, 5, false, 1, "o5"});  // waits in slot 5
    EXPECT_EQ(Channel().GetPending(), 1u);
    const size_t before = Channel().Chunks().size();

    Channel().ResetChannel(kHandle);
    EXPECT_EQ(Channel().GetPending(), 0u);
    for (uint32_t n = 0; n < 6; ++n)
        Send(Slice{n, 0, static_cast<uint16_t>(n), n == 5, 200, "n" + std::to_string(n)});
    EXPECT_EQ(Channel().GetPending(), 6u);  // 1 and 5 too: the old loss and slot are forgotten
    Drain();

    std::vector<Chunk> chunks = Channel().Chunks();
    ASSERT_EQ(chunks.size(), before + 2);
    EXPECT_EQ(chunks.back(), (Chunk{kHandle, false, "n0n1n2n3n4n5", 200, 1}));
}

TEST_F(Reassembly, ResetGivesTheNewSequencesFirstPacketTheFullWait)
{
    Send(Slice{0, 0, 0, true, 1, "old"});
    Step();
    RunFor(5000);
    Channel().ResetChannel(kHandle);
    Send(Slice{1, 0, 1, true, 1, "n1"});  // packet 0 is late
    RunFor(1000);
    EXPECT_EQ(CountLines("*** LossPacket"), 0);
    Send(Slice{0, 0, 0, false, 1, "n0"});
    Drain();
    EXPECT_EQ(Channel().Chunks().back(), (Chunk{kHandle, false, "n0n1", 1, 1}));
}

// ---- the frame buffer ----

TEST_F(Reassembly, FrameBufferGrowsToItsLimitAndALargerFrameIsHandedOnAndAbandoned)
{
    const uint32_t limitSlices = kDataChnlFrameMax / kDataChnlMaxSliceLen;  // 1000 full slices
    auto frame = [](uint32_t firstPacket, uint32_t slices, char fill) {
        std::vector<Slice> out;
        for (uint32_t i = 0; i < slices; ++i)
            out.push_back({firstPacket + i, 0, static_cast<uint16_t>(i), i + 1 == slices, firstPacket,
                           std::string(kDataChnlMaxSliceLen, static_cast<char>(fill + i % 7))});
        return out;
    };
    auto bytes = [](const std::vector<Slice>& slices) {
        std::string all;
        for (const Slice& s : slices)
            all += s.payload;
        return all;
    };
    std::vector<Slice> atLimit = frame(0, limitSlices, 'a');
    Send(atLimit);
    Drain();
    std::vector<Chunk> chunks = Channel().Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].bytes, bytes(atLimit));
    EXPECT_EQ(Channel().Losses(), 0);

    std::vector<Slice> over = frame(limitSlices, limitSlices + 2, 'k');
    Send(over);
    Drain();
    chunks = Channel().Chunks();
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[3].bytes, bytes(std::vector<Slice>(over.begin(), over.begin() + limitSlices)));
    EXPECT_EQ(chunks[3].flags, 1u);
    EXPECT_EQ(Channel().Losses(), 2);  // the slice that did not fit and the one after it
    EXPECT_EQ(CountLines("*** handleSliceData frame abandoned"), 1);

    std::vector<Slice> next = frame(2 * limitSlices + 2, 3, 'x');
    Send(next);
    Drain();
    EXPECT_EQ(Channel().Chunks().back().bytes, bytes(next));
}

// ---- the thread ----

TEST(ReassemblyThread, ConsumesAStreamAsItArrivesAndStopsCleanly)
{
    // Real clock: in-order arrivals leave no gap to wait for.
    RecordingChannel channel;
    channel.ResetChannel(kHandle);
    std::vector<Slice> slices = CutStream(Flv(), 5);
    for (const Slice& s : slices) {
        std::string m = Message(s);
        channel.OnReceiveData(kHandle, kChannel, reinterpret_cast<const uint8_t*>(m.data()),
                              static_cast<uint32_t>(m.size()));
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (channel.Joined().size() < Flv().size() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(channel.Chunks(), ChunksOf(slices));

    // A reset from another thread while the ring is being read.
    std::vector<Slice> again = CutStream(Flv(), 5);
    std::thread sender([&] {
        for (const Slice& s : again) {
            std::string m = Message(s);
            channel.OnReceiveData(kHandle, kChannel, reinterpret_cast<const uint8_t*>(m.data()),
                                  static_cast<uint32_t>(m.size()));
        }
    });
    channel.ResetChannel(kHandle);
    sender.join();
    channel.StopThread();
    EXPECT_EQ(channel.Resets().size(), 2u);
}

// ---- the thread after a quiet spell, on a clock moved by hand ----

// The test moves this clock; a pause of the thread ends only once the test
// has moved it past the pause's end. What the thread sees between two
// arrivals is then set by the test, however loaded the host is.
class HandClock
{
public:
    static uint32_t Now()
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        return s_now;
    }
    static void Sleep(uint32_t ms)
    {
        std::unique_lock<std::mutex> lock(s_mutex);
        const uint32_t until = s_now + ms;
        ++s_pauses;
        s_cond.notify_all();
        s_cond.wait(lock, [&] { return s_released || static_cast<int32_t>(s_now - until) >= 0; });
    }
    static void Start(uint32_t now)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        s_now = now;
        s_pauses = 0;
        s_released = false;
    }
    static void Advance(uint32_t ms)
    {
        {
            std::lock_guard<std::mutex> lock(s_mutex);
            s_now += ms;
        }
        s_cond.notify_all();
    }
    // Pauses end at once from here on, so the thread can be stopped.
    static void Release()
    {
        {
            std::lock_guard<std::mutex> lock(s_mutex);
            s_released = true;
        }
        s_cond.notify_all();
    }
    static int Pauses()
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        return s_pauses;
    }
    // Waits (at most 10 s) until the thread has begun more than `seen` pauses.
    static bool WaitPausesAbove(int seen)
    {
        std::unique_lock<std::mutex> lock(s_mutex);
        return s_cond.wait_for(lock, std::chrono::seconds(10), [&] { return s_pauses > seen; });
    }

private:
    static inline std::mutex s_mutex;
    static inline std::condition_variable s_cond;
    static inline uint32_t s_now = 0;
    static inline int s_pauses = 0;
    static inline bool s_released = false;
};
const MediaClock kHandClock = {&HandClock::Now, &HandClock::Sleep};

// The real reassembly thread.
class QuietChannel : public ChannelTest
{
protected:
    void SetUp() override
    {
        HandClock::Start(80000);
        Open(&kHandClock, true);
    }
    void TearDown() override
    {
        HandClock::Release();
        ChannelTest::TearDown();
    }

    // Waits (at most 10 s) until everything stored was read and either
    // `chunks` chunks came or a frame was given up.
    bool WaitRead(size_t chunks)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            if (Channel().GetPending() == 0 && (Channel().Chunks().size() >= chunks || Channel().Losses() > 0))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

// A stream that pauses and resumes on an unordered channel: after each
// quiet spell the second slice of a frame lands 1 ms before its first.
TEST_F(QuietChannel, PacketsBackOutOfOrderAfterAQuietSpellAreReadInOrder)
{
    Send(Slice{0, 0, 0, true, 0, "start"});
    ASSERT_TRUE(WaitRead(2));
    const int kRounds = 50;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const uint32_t n = 1 + 2 * static_cast<uint32_t>(round);
        const std::string first = "f" + std::to_string(n);
        const std::string second = "s" + std::to_string(n + 1);
        HandClock::Advance(1500);  // longer than any loss wait: the deadline is long past
        const int pauses = HandClock::Pauses();
        Send(Slice{n + 1, 0, 1, true, n, second});
        // The thread woke and took its first look: it found n missing.
        ASSERT_TRUE(HandClock::WaitPausesAbove(pauses));
        HandClock::Advance(1);
        Send(Slice{n, 0, 0, false, n, first});
        HandClock::Advance(4);  // the thread's 5 ms step ends
        const size_t chunks = 2 + 2 * static_cast<size_t>(round + 1);
        ASSERT_TRUE(WaitRead(chunks));
        ASSERT_EQ(Channel().Losses(), 0);
        ASSERT_EQ(Channel().Chunks().size(), chunks);
        ASSERT_EQ(Channel().Chunks().back(), (Chunk{kHandle, false, first + second, n, 1}));
    }
    EXPECT_EQ(CountLines("*** LossPacket"), 0);
    EXPECT_EQ(CountLines("*** had receive packet but current lostPackNo"), 0);
}

struct QuietGap {
    const char* name;
    bool packetBackFirst;  // the packet before the gap comes back after the quiet
    uint32_t lossFrom;     // the loss is declared this many ms after the last packet read, or up to 5 ms later
};

QG_PRINT_CASE_BY_NAME(QuietGap)

class GapAfterQuiet : public QuietChannel, public ::testing::WithParamInterface<QuietGap>
{};

// A packet that never comes is still given up on time: the look after the
// wake waits one step, the loss rule then applies unchanged.
TEST_P(GapAfterQuiet, IsStillDeclaredLostOnTime)
{
    Send(Slice{0, 0, 0, false, 0, "a"});
    ASSERT_TRUE(WaitRead(0));
    HandClock::Advance(1500);
    uint32_t lastRead = HandClock::Now() - 1500;
    uint32_t missing = 1;
    if (GetParam().packetBackFirst) {
        // In order: read as it is stored, the clock standing still.
        Send(Slice{1, 0, 1, false, 0, "b"});
        ASSERT_TRUE(WaitRead(0));
        EXPECT_EQ(CountLines("*** GetPacket Index=1,"), 1);
        lastRead = HandClock::Now();
        missing = 2;
    }
    const int pauses = HandClock::Pauses();
    Send(Slice{missing + 1, 0, static_cast<uint16_t>(missing + 1), true, 0, "z"});
    ASSERT_TRUE(HandClock::WaitPausesAbove(pauses));
    EXPECT_EQ(CountLines("*** LossPacket"), 0) << "declared at the first look after the wake";

    // One 5 ms step at a time, each taken by the thread, until the loss.
    for (int step = 0; step < 400 && CountLines("*** LossPacket") == 0; ++step) {
        const int before = HandClock::Pauses();
        HandClock::Advance(5);
        ASSERT_TRUE(HandClock::WaitPausesAbove(before));
    }
    ASSERT_EQ(CountLines("*** LossPacket Index=" + std::to_string(missing) + ","), 1);
    const uint32_t after = HandClock::Now() - lastRead;
    EXPECT_GE(after, GetParam().lossFrom);
    EXPECT_LE(after, GetParam().lossFrom + 5);
}

INSTANTIATE_TEST_SUITE_P(Gaps, GapAfterQuiet,
                         ::testing::Values(QuietGap{"RightAfterTheQuiet", false, 1505},
                                           QuietGap{"AfterAPacketReadAfterTheQuiet", true, 1067}),
                         qgtest::ByName());

}  // namespace

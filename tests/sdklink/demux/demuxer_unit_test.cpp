// The demuxer's rules one by one: short opens and re-opens, the byte limits,
// bad input, restarts, pacing on the fake clock, and the holder.
#include "tests/sdklink/demux/demux_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace demuxtest;

const uint8_t* Bytes(const std::string& s, size_t at = 0)
{
    return reinterpret_cast<const uint8_t*>(s.data() + at);
}

uint32_t Size(size_t n)
{
    return static_cast<uint32_t>(n);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// ---- short opens ----

TEST_F(DemuxerUnit, ShortFirstChunkDeliversItsWholePacketsThenReopensOnAllQueuedChunks)
{
    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    const Probe probe = ProbeFile(MediaFile("stream_h264_aac.flv"));
    const size_t first = 30000;

    ASSERT_EQ(0, m_unit.InputData(Bytes(flv), Size(first), 1000, 1));
    ASSERT_TRUE(WaitSettled());
    const uint32_t state = m_unit.GetState();
    EXPECT_TRUE(state == CDemuxerUnit::kOpenedShort || state == CDemuxerUnit::kProbedShort) << state;
    EXPECT_FALSE(m_unit.IsRunning()) << "a short open's thread ends with its bytes";
    const std::vector<Frame> early = m_delegate.Frames();
    ASSERT_GT(early.size(), 3u);
    // Only packets wholly inside the first chunk went out.
    for (size_t i = 0; i < early.size(); ++i) {
        const ProbePacket& p = probe.packets[i];
        EXPECT_LE(p.pos + 11 + p.size, static_cast<int64_t>(first)) << "packet " << i;
        if (!early[i].video) {
            EXPECT_EQ(p.crc, Crc32(early[i].data)) << "packet " << i;
        }
    }

    ASSERT_EQ(0, m_unit.InputData(Bytes(flv, first), Size(flv.size() - first), 0, 0));
    ASSERT_TRUE(m_delegate.WaitFrames(probe.packets.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<Frame> all = m_delegate.Frames();
    ASSERT_EQ(probe.packets.size(), all.size()) << "nothing twice, nothing lost";
    for (size_t i = 0; i < early.size(); ++i)
        EXPECT_EQ(early[i].data, all[i].data);
    for (size_t i = 0; i < all.size(); ++i) {
        const ProbePacket& p = probe.packets[i];
        EXPECT_EQ(1000 + PtsToMs(p.pts, probe.streams[p.stream]), all[i].timestamp) << "packet " << i;
    }
}

TEST_F(DemuxerUnit, ChunksThatComeWhileAShortOpenDeliversAreReadWithoutWaitingForAnother)
{
    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    const Probe probe = ProbeFile(MediaFile("stream_h264_aac.flv"));
    const size_t first = 30000;

    // The short open's thread is held in its first delivery while the rest
    // of the file comes: every chunk finds it running and opens nothing.
    m_delegate.CloseGate();
    ASSERT_EQ(0, m_unit.InputData(Bytes(flv), Size(first), 1000, 1));
    ASSERT_TRUE(m_delegate.WaitBlocked());
    const uint32_t state = m_unit.GetState();
    ASSERT_TRUE(state == CDemuxerUnit::kOpenedShort || state == CDemuxerUnit::kProbedShort) << state;
    for (size_t pos = first; pos < flv.size(); pos += 5000)
        ASSERT_EQ(0, m_unit.InputData(Bytes(flv, pos), Size(std::min<size_t>(5000, flv.size() - pos)), 0, 0));
    m_delegate.OpenGate();

    // No further chunk: the file comes out whole all the same.
    ASSERT_TRUE(m_delegate.WaitFrames(probe.packets.size())) << m_delegate.FrameCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<Frame> all = m_delegate.Frames();
    ASSERT_EQ(probe.packets.size(), all.size()) << "nothing twice, nothing lost";
    for (size_t i = 0; i < all.size(); ++i) {
        const ProbePacket& p = probe.packets[i];
        EXPECT_EQ(1000 + PtsToMs(p.pts, probe.streams[p.stream]), all[i].timestamp) << "packet " << i;
        if (!all[i].video) {
            EXPECT_EQ(p.crc, Crc32(all[i].data)) << "packet " << i;
        }
    }
}

// ---- bad input ----

struct BadCase {
    const char* name;
    const char* file;  // a fixture, or null for text garbage
    size_t length;     // of its start; 0: whole
    int result;
    const char* ffmpegLine;  // printed by the open, or null
};

void PrintTo(const BadCase& c, std::ostream* os)
{
    *os << c.name;
}

class BadInput : public DemuxerUnit, public ::testing::WithParamInterface<BadCase>
{};

TEST_P(BadInput, FailsTheOpenWithFfmpegsReasonAndLeavesTheUnitReadyForANewStream)
{
    const BadCase& c = GetParam();
    std::string bytes;
    if (c.file) {
        bytes = qgtest::ReadFile(MediaFile(c.file));
    } else {
        for (int i = 0; i < 400; ++i)
            bytes += "this is no container at all\n";
    }
    if (c.length)
        bytes.resize(c.length);

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, m_unit.InputData(Bytes(bytes), Size(bytes.size()), 0, 1));
    EXPECT_EQ(c.result, m_unit.OpenInput());
    const std::vector<std::string> printed = Lines(::testing::internal::GetCapturedStdout());
    if (c.ffmpegLine) {
        ASSERT_EQ(2u, printed.size());
        EXPECT_EQ(c.ffmpegLine, printed[0]);
        EXPECT_EQ(c.ffmpegLine, printed[1]);
    } else {
        EXPECT_TRUE(printed.empty()) << printed[0];
    }
    EXPECT_EQ(CDemuxerUnit::kClosed, m_unit.GetState());
    EXPECT_FALSE(m_unit.IsRunning());
    EXPECT_TRUE(m_delegate.VideoFormats().empty());
    EXPECT_TRUE(m_delegate.AudioFormats().empty());

    // A restart clears the bad bytes: a good stream plays.
    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    ASSERT_EQ(0, m_unit.InputData(Bytes(flv), Size(flv.size()), 0, 1));
    EXPECT_TRUE(m_delegate.WaitFrames(100));
    EXPECT_EQ(1u, m_delegate.VideoFormats().size());
}

const BadCase kBadCases[] = {
    {"TextGarbage", nullptr, 0, -3, "ffmpeg error: Invalid data found when processing input"},
    {"TransportStreamTablesOnly", "stream_h264_aac.ts", 376, -4, "ffmpeg error: End of file"},
    {"FlvHeaderAndMetadataOnly", "stream_h264_aac.flv", 300, -4,
     "ffmpeg error: Invalid data found when processing input"},
    {"NoAudioOrVideoStream", "stream_subtitles_only.mkv", 0, -5, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Demuxer, BadInput, ::testing::ValuesIn(kBadCases),
                         [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

// Bytes that never open, in slices as a data channel hands them on: an
// open reads the whole queue again, so one a chunk would cost the square
// of the bytes. Opens are counted by their one "ffmpeg error" line each.
TEST_F(DemuxerUnit, GarbageInSmallChunksIsOpenedOnlyEachTimeItsQueueDoublesAndARestartStillPlays)
{
    const size_t slice = 1400;
    const size_t slices = 1000;
    const std::string garbage = qgtest::RandomBytes(slice * slices, 20240611);

    ::testing::internal::CaptureStdout();
    for (size_t i = 0; i < slices; ++i)
        ASSERT_EQ(0, m_unit.InputData(Bytes(garbage, i * slice), Size(slice), 0, i == 0 ? 1 : 0)) << i;
    const std::vector<std::string> printed = Lines(::testing::internal::GetCapturedStdout());
    // 1400, 2800, ... 716800 bytes: one open each time the queue doubled.
    EXPECT_GE(printed.size(), 1u);
    EXPECT_LE(printed.size(), 11u) << printed.size() << " opens";
    for (const std::string& line : printed)
        EXPECT_EQ(0u, line.rfind("ffmpeg error: ", 0)) << line;
    EXPECT_EQ(CDemuxerUnit::kClosed, m_unit.GetState());
    EXPECT_EQ(0, CountLines(TakeLog(), "dropped")) << "every slice was kept for the next try";

    // A new stream forgets the failures: it opens on its first chunk.
    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    const Probe probe = ProbeFile(MediaFile("stream_h264_aac.flv"));
    Feed(flv, slice);
    ASSERT_TRUE(m_delegate.WaitFrames(probe.packets.size()));
    EXPECT_EQ(1u, m_delegate.VideoFormats().size());
    EXPECT_EQ(1u, m_delegate.AudioFormats().size());
}

// ---- byte limits ----

TEST_F(DemuxerUnit, AtMost1400000BytesWaitForTheOpenAndNoOpenIsTriedPastThatUntilARestart)
{
    const std::string garbage(100000, 'x');
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 14; ++i)
        ASSERT_EQ(0, m_unit.InputData(Bytes(garbage), Size(garbage.size()), 0, i == 0 ? 1 : 0)) << i;
    const size_t tried = Lines(::testing::internal::GetCapturedStdout()).size();
    // After a failed open the next waits for the queue to double: at 100000,
    // 200000, 400000 and 800000 bytes.
    EXPECT_EQ(4u, tried);
    TakeLog();

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(-1, m_unit.InputData(Bytes(garbage), 1, 0, 0));  // 1400001 bytes would wait
    EXPECT_EQ(-1, m_unit.InputData(Bytes(garbage), 1, 0, 0));  // the stream is lost until a restart
    EXPECT_TRUE(::testing::internal::GetCapturedStdout().empty()) << "no open tried";
    const std::vector<std::string> log = TakeLog();
    EXPECT_EQ(2, CountLines(log, "CDemuxerUnit::InputData: 1400000 bytes wait for the open, chunk of 1 bytes dropped"));

    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    ASSERT_EQ(0, m_unit.InputData(Bytes(flv), Size(flv.size()), 0, 1));
    EXPECT_TRUE(m_delegate.WaitFrames(100));
}

// A long stream of large frames, made by the ffmpeg tool.
std::string MakeLargeFlv(const qgtest::TempDir& dir)
{
    const std::string path = dir.File("large.flv");
    RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25:duration=3 -c:v libx264 -qp 0 "
               "-preset ultrafast -g 25 -f flv '" +
               path + "'");
    return path;
}

TEST_F(DemuxerUnit, OpenInputTakesChunksBehindAFullBufferInOrderAndRefusesPastTheLimit)
{
    qgtest::TempDir dir("qg-demux-");
    const std::string path = MakeLargeFlv(dir);
    const std::string flv = qgtest::ReadFile(path);
    ASSERT_GT(flv.size(), 4500000u);
    const Probe probe = ProbeFile(path);
    const AnnexB annexB = AnnexBOfFile(path);
    ASSERT_EQ(probe.packets.size(), annexB.frames.size());

    // Probing stops at 1000000 bytes, inside the first chunk: open.
    m_delegate.CloseGate();
    const size_t first = 1300000;
    ASSERT_EQ(0, m_unit.InputData(Bytes(flv), Size(first), 1, 1));
    ASSERT_EQ(CDemuxerUnit::kOpen, m_unit.GetState());
    ASSERT_TRUE(m_delegate.WaitBlocked()) << "the first frame waits in the delegate";

    // The reader is held up: buffer B fills, then up to 1400000 bytes wait.
    TakeLog();
    const size_t chunk = 65536;
    size_t fed = first;
    while (fed + chunk <= flv.size() && m_unit.InputData(Bytes(flv, fed), Size(chunk), 0, 0) == 0)
        fed += chunk;
    ASSERT_LT(fed + chunk, flv.size()) << "every chunk was taken";
    EXPECT_LE(fed - first, 2u * kDemuxInputBufferSize);
    EXPECT_GT(fed - first, 2u * kDemuxInputBufferSize - chunk);
    const std::vector<std::string> log = TakeLog();
    EXPECT_EQ(1, CountLines(log, "bytes wait for the reader, chunk of 65536 bytes refused")) << log.size();

    // Every packet wholly inside the bytes taken comes out, in order (an FLV
    // packet is returned once the size field after it is read).
    size_t whole = 0;
    while (whole < probe.packets.size() &&
           probe.packets[whole].pos + 11 + probe.packets[whole].size + 4 <= static_cast<int64_t>(fed))
        ++whole;
    m_delegate.OpenGate();
    ASSERT_TRUE(m_delegate.WaitFrames(whole - 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<Frame> got = m_delegate.Frames();
    ASSERT_GE(got.size(), whole - 1);
    ASSERT_LE(got.size(), whole);
    for (size_t i = 0; i < got.size(); ++i) {
        const uint32_t prefix = probe.packets[i].key ? annexB.extradataSize : 0;
        ASSERT_EQ(prefix + annexB.frames[i].size, got[i].data.size()) << "frame " << i;
        ASSERT_EQ(annexB.frames[i].crc, Crc32(got[i].data.substr(prefix))) << "frame " << i;
    }
}

// ---- restarts ----

TEST_F(DemuxerUnit, EmptyChunksAreNotQueuedAndTryNoOpen)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, m_unit.InputData(nullptr, 0, 0, 2));
    EXPECT_EQ(0, m_unit.InputData(nullptr, 0, 0, 1));
    const uint8_t byte = 0;
    EXPECT_EQ(0, m_unit.InputData(&byte, 0, 0, 0));
    EXPECT_TRUE(::testing::internal::GetCapturedStdout().empty());
    EXPECT_EQ(CDemuxerUnit::kClosed, m_unit.GetState());
}

struct RestartCase {
    const char* name;
    uint32_t timestamp;  // of the restarting chunk
    uint32_t base;       // what timestamps start from
};

void PrintTo(const RestartCase& c, std::ostream* os)
{
    *os << c.name;
}

class Restart : public DemuxerUnit, public ::testing::WithParamInterface<RestartCase>
{};

// An empty restart ends the old stream; the next chunk begins a new one,
// whose formats are reported again and whose timestamps start from the
// restart's.
TEST_P(Restart, EndsTheOldStreamAndTimesTheNewOneFromItsTimestamp)
{
    const RestartCase& c = GetParam();
    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    ASSERT_EQ(0, m_unit.InputData(Bytes(flv), Size(flv.size() / 2), 1, 1));
    ASSERT_TRUE(m_delegate.WaitFrames(10));

    ASSERT_EQ(0, m_unit.InputData(nullptr, 0, c.timestamp, 1));
    EXPECT_EQ(CDemuxerUnit::kClosed, m_unit.GetState());
    EXPECT_FALSE(m_unit.IsRunning());
    const size_t before = m_delegate.FrameCount();

    const std::string webm = qgtest::ReadFile(MediaFile("stream_vp8_opus.webm"));
    const Probe probe = ProbeFile(MediaFile("stream_vp8_opus.webm"));
    ASSERT_EQ(0, m_unit.InputData(Bytes(webm), Size(webm.size()), 0, 0));
    ASSERT_TRUE(m_delegate.WaitFrames(before + probe.packets.size() - 2));
    const std::vector<Frame> got = m_delegate.Frames();
    for (size_t i = before; i < got.size(); ++i) {
        const ProbePacket& p = probe.packets[i - before];
        EXPECT_EQ(c.base + PtsToMs(p.pts, probe.streams[p.stream]), got[i].timestamp) << "frame " << i - before;
        EXPECT_EQ(p.size, got[i].data.size()) << "frame " << i - before;
    }
    const std::vector<VideoFormat> video = m_delegate.VideoFormats();
    ASSERT_EQ(2u, video.size());
    EXPECT_EQ(1u, video[0].codec);
    EXPECT_EQ(3u, video[1].codec);
    const std::vector<AudioFormat> audio = m_delegate.AudioFormats();
    ASSERT_EQ(2u, audio.size());
    EXPECT_EQ(21u, audio[1].codec);
}

const RestartCase kRestartCases[] = {
    {"TimestampGiven", 7000, 7000},
    {"TimestampZeroCountsAsOne", 0, 1},
};

INSTANTIATE_TEST_SUITE_P(Demuxer, Restart, ::testing::ValuesIn(kRestartCases),
                         [](const ::testing::TestParamInfo<RestartCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- pacing ----

struct PacingCase {
    const char* name;
    const char* file;
    size_t heldBack;  // frames the end of the bytes keeps back
};

void PrintTo(const PacingCase& c, std::ostream* os)
{
    *os << c.name;
}

class Pacing : public DemuxerUnit, public ::testing::WithParamInterface<PacingCase>
{};

// Frames leave as far apart as their timestamps, each medium from its first
// frame, which is due at once; video and audio share the one held slot.
TEST_P(Pacing, FramesLeaveAsFarApartAsTheirTimestampsFromEachMediumsFirst)
{
    const PacingCase& c = GetParam();
    const std::string bytes = qgtest::ReadFile(MediaFile(c.file));
    const Probe probe = ProbeFile(MediaFile(c.file));
    const uint32_t fedAt = FakeNow();
    ASSERT_EQ(0, m_unit.InputData(Bytes(bytes), Size(bytes.size()), 1, 1));
    ASSERT_TRUE(m_delegate.WaitFrames(probe.packets.size() - c.heldBack));
    const std::vector<Frame> got = m_delegate.Frames();
    ASSERT_GT(got.size(), 10u);

    const Frame* firstOf[2] = {nullptr, nullptr};
    for (size_t i = 0; i < got.size(); ++i) {
        const Frame& f = got[i];
        if (!firstOf[f.video]) {
            firstOf[f.video] = &f;
            EXPECT_LE(f.at - fedAt, 5u) << (f.video ? "video" : "audio") << " did not start at once";
            continue;
        }
        const uint32_t apart = f.timestamp - firstOf[f.video]->timestamp;
        const uint32_t waited = f.at - firstOf[f.video]->at;
        EXPECT_GT(waited, apart) << "frame " << i << " left early";
        // Audio and video start at once, so one medium may run up to their
        // first timestamps' distance behind the other and hold it up.
        EXPECT_LE(waited, apart + 40) << "frame " << i << " left late";
    }
    // As far apart in time after the first as in the stream.
    EXPECT_NEAR(static_cast<double>(got.back().at - got.front().at),
                static_cast<double>(got.back().timestamp - got.front().timestamp), 40.0);
}

const PacingCase kPacingCases[] = {
    {"Flv", "stream_h264_aac.flv", 0},
    // No times in the stream: the frames' durations space them.
    {"RawH264ByFrameDurations", "stream_h264_untimed.h264", 2},
};

INSTANTIATE_TEST_SUITE_P(Demuxer, Pacing, ::testing::ValuesIn(kPacingCases),
                         [](const ::testing::TestParamInfo<PacingCase>& info) { return std::string(info.param.name); });

// Even when a stream's timestamps start far beyond the clock's own count.
TEST_F(DemuxerUnit, FirstFrameOfEachMediumIsDueAtOnceWhateverItsTimestamp)
{
    FakeNow() = 5;
    const std::string ts = qgtest::ReadFile(MediaFile("stream_h264_aac.ts"));  // starts at 1.4 s
    ASSERT_EQ(0, m_unit.InputData(Bytes(ts), Size(ts.size()), 1, 1));
    ASSERT_TRUE(m_delegate.WaitFrames(4));
    const std::vector<Frame> got = m_delegate.Frames();
    ASSERT_TRUE(got[0].video);
    EXPECT_EQ(1u + 1423u, got[0].timestamp);
    EXPECT_LE(got[0].at, 10u);
}

// ---- holder ----

TEST(MemoryDemuxer, HoldsOneUnitFromCreateToDestroyAndDropsInputWithoutOne)
{
    SetMediaClock(FakeClock());
    RecordingDelegate delegate;
    const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
    {
        CMemoryDemuxer holder;
        EXPECT_EQ(nullptr, g_lpDelegate.load());
        holder.SetDelegate(&delegate);
        EXPECT_EQ(&delegate, g_lpDelegate.load());

        holder.InputData(Bytes(flv), Size(flv.size()), 0, 1);  // no unit yet
        EXPECT_FALSE(holder.HasUnit());
        EXPECT_EQ(0, holder.Create(0));
        EXPECT_EQ(0, holder.Create(0));  // the old unit goes
        EXPECT_TRUE(holder.HasUnit());
        holder.InputData(Bytes(flv), Size(flv.size()), 0, 1);
        EXPECT_TRUE(delegate.WaitFrames(100));
        holder.Destroy();
        EXPECT_FALSE(holder.HasUnit());
        holder.InputData(Bytes(flv), Size(flv.size()), 0, 1);
    }
    EXPECT_EQ(nullptr, g_lpDelegate.load());
    EXPECT_EQ(1u, delegate.VideoFormats().size());
    SetMediaClock(nullptr);
}

// The holder's units come from the demuxer module beside the test program,
// which keeps no state of its own: its lines reach the program's log, its
// pacing runs on the program's media clock (here the fake one) and its
// frames reach the program's delegate.
TEST(MemoryDemuxer, UnitsOfTheModuleLogPaceAndReportThroughTheProgram)
{
    FakeNow() = 100000;
    SetMediaClock(FakeClock());
    TakeLog();
    SetProxyLogSink(&CaptureLogLine);
    SetProxyLogLevel(1);
    RecordingDelegate delegate;
    {
        CMemoryDemuxer holder;
        holder.SetDelegate(&delegate);
        ASSERT_EQ(0, holder.Create(0));

        const std::string garbage(100000, 'x');
        ::testing::internal::CaptureStdout();
        for (int i = 0; i < 15; ++i)
            holder.InputData(Bytes(garbage), Size(garbage.size()), 0, i == 0 ? 1 : 0);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(
            1, CountLines(TakeLog(),
                          "CDemuxerUnit::InputData: 1400000 bytes wait for the open, chunk of 100000 bytes dropped"));

        const std::string flv = qgtest::ReadFile(MediaFile("stream_h264_aac.flv"));
        const Probe probe = ProbeFile(MediaFile("stream_h264_aac.flv"));
        holder.InputData(Bytes(flv), Size(flv.size()), 1, 1);
        ASSERT_TRUE(delegate.WaitFrames(probe.packets.size()));
        holder.Destroy();
    }
    const std::vector<Frame> got = delegate.Frames();
    ASSERT_GT(got.size(), 10u);
    EXPECT_NEAR(static_cast<double>(got.back().at - got.front().at),
                static_cast<double>(got.back().timestamp - got.front().timestamp), 40.0);
    EXPECT_EQ(1u, delegate.VideoFormats().size());
    EXPECT_EQ(1u, delegate.AudioFormats().size());
    SetProxyLogSink(nullptr);
    SetProxyLogLevel(4);
    SetMediaClock(nullptr);
}

// On the real clock: the read callback's 2 ms waits end with the stop.
TEST(MemoryDemuxer, DestroyReturnsPromptlyWhileTheThreadWaitsForData)
{
    RecordingDelegate delegate;
    const std::string ts = qgtest::ReadFile(MediaFile("stream_h264_aac.ts"));  // opens fully
    CMemoryDemuxer holder;
    holder.SetDelegate(&delegate);
    ASSERT_EQ(0, holder.Create(0));
    holder.InputData(Bytes(ts), Size(ts.size()), 0, 1);
    // Two seconds of frames at their own pace, then the reader waits.
    ASSERT_TRUE(delegate.WaitFrames(110, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const auto start = std::chrono::steady_clock::now();
    holder.Destroy();
    const auto took = std::chrono::steady_clock::now() - start;
    // A stop that waited for data would never return; any bound tells them apart.
    EXPECT_LT(took, std::chrono::milliseconds(5000));
    EXPECT_FALSE(holder.HasUnit());
}

}  // namespace

// Each fixture, fed whole or in short chunks, comes out as the command-line
// tools list it: the formats once, then every packet once, in file order,
// with its bytes, key flag and timestamp.
#include "tests/sdklink/demux/demux_test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace demuxtest;

struct Expected {
    bool video = false;
    uint32_t timestamp = 0;
    uint32_t flags = 0;
    // Bytes as size and CRC-32; a key frame's parameter sets come first.
    uint32_t prefixSize = 0;
    uint32_t prefixCrc = 0;
    uint32_t size = 0;
    uint32_t crc = 0;
};

struct Reference {
    ProbeStream video;
    ProbeStream audio;
    std::vector<Expected> frames;
};

// What the first video and first audio stream of the file should give. A
// packet without any time is put where its stream's previous one ends.
Reference ReferenceOf(const std::string& path, uint32_t base, bool h264)
{
    const Probe probe = ProbeFile(path);
    Reference ref;
    ref.video.index = -1;
    ref.audio.index = -1;
    for (const ProbeStream& s : probe.streams) {
        if (s.type == "video" && ref.video.index < 0)
            ref.video = s;
        if (s.type == "audio" && ref.audio.index < 0)
            ref.audio = s;
    }
    AnnexB annexB;
    if (h264)
        annexB = AnnexBOfFile(path);
    size_t videoCount = 0;
    int64_t next[2] = {0, 0};  // audio, video
    for (const ProbePacket& p : probe.packets) {
        if (p.stream != ref.video.index && p.stream != ref.audio.index)
            continue;
        Expected e;
        e.video = p.stream == ref.video.index;
        const int64_t pts = p.hasPts ? p.pts : next[e.video];
        next[e.video] = pts + p.duration;
        e.timestamp = base + PtsToMs(pts, e.video ? ref.video : ref.audio);
        e.flags = e.video && p.key ? 1 : 0;
        e.size = p.size;
        e.crc = p.crc;
        if (e.video && h264) {
            if (videoCount >= annexB.frames.size())
                throw std::runtime_error("ffmpeg gave fewer H.264 packets than ffprobe");
            e.size = annexB.frames[videoCount].size;
            e.crc = annexB.frames[videoCount].crc;
            if (p.key) {
                e.prefixSize = annexB.extradataSize;
                e.prefixCrc = annexB.extradataCrc;
            }
        }
        videoCount += e.video ? 1 : 0;
        ref.frames.push_back(e);
    }
    return ref;
}

// The expected frames without the last `videoTail` video and `audioTail`
// audio ones.
std::vector<Expected> WithoutTails(const std::vector<Expected>& all, size_t videoTail, size_t audioTail)
{
    std::vector<Expected> kept;
    for (size_t i = all.size(); i-- > 0;) {
        size_t& tail = all[i].video ? videoTail : audioTail;
        if (tail > 0)
            --tail;
        else
            kept.insert(kept.begin(), all[i]);
    }
    return kept;
}

// "" when the frame is what was expected, else what differs.
std::string Compare(const Frame& got, const Expected& want)
{
    std::ostringstream diff;
    if (got.video != want.video)
        diff << (got.video ? "video" : "audio") << " in place of " << (want.video ? "video" : "audio") << "; ";
    if (got.timestamp != want.timestamp)
        diff << "timestamp " << got.timestamp << " not " << want.timestamp << "; ";
    if (got.flags != want.flags)
        diff << "flags " << got.flags << " not " << want.flags << "; ";
    if (got.data.size() != want.prefixSize + want.size) {
        diff << "size " << got.data.size() << " not " << want.prefixSize << "+" << want.size << "; ";
    } else {
        if (want.prefixSize && Crc32(got.data.substr(0, want.prefixSize)) != want.prefixCrc)
            diff << "parameter sets differ; ";
        if (Crc32(got.data.substr(want.prefixSize)) != want.crc)
            diff << "bytes differ; ";
    }
    return diff.str();
}

// A key frame leads with a sequence parameter set and carries a picture one.
void ExpectParameterSetsLead(const std::string& frame)
{
    ASSERT_GE(frame.size(), 5u);
    const size_t lead = frame.compare(0, 4, std::string("\0\0\0\1", 4)) == 0 ? 4 : 3;
    ASSERT_EQ(0, frame.compare(0, 3, std::string(lead == 4 ? "\0\0\0" : "\0\0\1", 3))) << "no start code";
    EXPECT_EQ(7, frame[lead] & 0x1f) << "the first NAL unit is no SPS";
    EXPECT_NE(std::string::npos, frame.find(std::string("\0\0\1\x68", 4))) << "no PPS";
}

struct StreamCase {
    const char* name;
    const char* file;
    bool h264;
    bool endsOnNextPacket;  // a packet ends only when the next of its stream begins
    uint32_t videoCodec;
    uint32_t audioCodec;  // 0: the file has no audio
    size_t firstChunk;    // 0: the whole file at once
    size_t chunk;
};

void PrintTo(const StreamCase& c, std::ostream* os)
{
    *os << c.name;
}

class StreamFixtures : public DemuxerUnit, public ::testing::WithParamInterface<StreamCase>
{};

TEST_P(StreamFixtures, GiveFormatsOnceAndEveryPacketOnceInFileOrder)
{
    const StreamCase& c = GetParam();
    const std::string path = MediaFile(c.file);
    const uint32_t base = 5000;
    const Reference ref = ReferenceOf(path, base, c.h264);
    const std::vector<Expected>& all = ref.frames;
    ASSERT_GT(all.size(), 10u);

    const std::string bytes = qgtest::ReadFile(path);
    ASSERT_FALSE(bytes.empty());
    const size_t first = c.firstChunk ? c.firstChunk : bytes.size();
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    EXPECT_EQ(0, m_unit.InputData(data, static_cast<uint32_t>(first), base, 1));
    ASSERT_TRUE(WaitSettled());
    for (size_t pos = first; pos < bytes.size(); pos += c.chunk) {
        const size_t n = std::min(c.chunk, bytes.size() - pos);
        EXPECT_EQ(0, m_unit.InputData(data + pos, static_cast<uint32_t>(n), 0, 0));
        ASSERT_TRUE(WaitSettled());
    }

    // The bytes are all in. Open, the input waits for more, and a format
    // whose packets end only when the next begins (MPEG-TS, with its parsers)
    // keeps the last of each stream. Short, the packets whose reading meets
    // the end of the bytes wait for the re-open.
    const bool open = m_unit.GetState() == CDemuxerUnit::kOpen;
    const size_t maxTail = open && !c.endsOnNextPacket ? 0 : 2;
    // Until each medium is at most maxTail short (the count of both alone
    // may be reached with one medium still behind on a loaded host), then a
    // moment for a frame too many.
    auto shortOf = [&](bool video) {
        size_t want = 0, got = 0;
        for (const Expected& e : all)
            want += e.video == video ? 1 : 0;
        for (const Frame& f : m_delegate.Frames())
            got += f.video == video ? 1 : 0;
        return got < want ? want - got : 0;
    };
    m_delegate.WaitFrames(all.size() - 2 * maxTail);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((shortOf(true) > maxTail || shortOf(false) > maxTail) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<Frame> got = m_delegate.Frames();
    size_t videoTail = 0;
    size_t audioTail = 0;
    for (const Expected& e : all)
        ++(e.video ? videoTail : audioTail);
    for (const Frame& f : got) {
        size_t& tail = f.video ? videoTail : audioTail;
        ASSERT_GT(tail, 0u) << "more " << (f.video ? "video" : "audio") << " frames than the file has";
        --tail;
    }
    EXPECT_LE(videoTail, maxTail) << "video frames missing, state " << m_unit.GetState();
    EXPECT_LE(audioTail, maxTail) << "audio frames missing, state " << m_unit.GetState();
    const std::vector<Expected> expected = WithoutTails(all, videoTail, audioTail);
    ASSERT_EQ(expected.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ("", Compare(got[i], expected[i])) << "frame " << i << " of " << all.size();
        if (c.h264 && got[i].video && got[i].flags)
            ExpectParameterSetsLead(got[i].data);
    }

    const std::vector<VideoFormat> video = m_delegate.VideoFormats();
    ASSERT_EQ(1u, video.size());
    EXPECT_EQ(c.videoCodec, video[0].codec);
    EXPECT_EQ(ref.video.width, video[0].width);
    EXPECT_EQ(ref.video.height, video[0].height);
    EXPECT_EQ(ref.video.fps, video[0].fps);
    const std::vector<AudioFormat> audio = m_delegate.AudioFormats();
    if (c.audioCodec == 0) {
        EXPECT_TRUE(audio.empty());
        return;
    }
    ASSERT_EQ(1u, audio.size());
    EXPECT_EQ(c.audioCodec, audio[0].codec);
    EXPECT_EQ(ref.audio.channels, audio[0].channels);
    EXPECT_EQ(ref.audio.sampleRate, audio[0].sampleRate);
}

const StreamCase kStreamCases[] = {
    {"FlvWhole", "stream_h264_aac.flv", true, false, 1, 13, 0, 0},
    {"FlvShortFirstChunk", "stream_h264_aac.flv", true, false, 1, 13, 700, 1400},
    {"FlvTinyChunks", "stream_h264_aac.flv", true, false, 1, 13, 100, 333},
    {"TsWhole", "stream_h264_aac.ts", true, true, 1, 13, 0, 0},
    {"TsShortFirstChunk", "stream_h264_aac.ts", true, true, 1, 13, 1400, 1400},
    {"FragmentedMp4Whole", "stream_h264_aac_frag.mp4", true, false, 1, 13, 0, 0},
    {"FragmentedMp4ShortFirstChunk", "stream_h264_aac_frag.mp4", true, false, 1, 13, 1400, 1400},
    // AVI keeps no presentation times: B-frames come in decode order, timed
    // by their decode times.
    {"AviBFramesWhole", "stream_h264_bframes_aac.avi", true, false, 1, 13, 0, 0},
    {"AviBFramesShortChunks", "stream_h264_bframes_aac.avi", true, false, 1, 13, 1400, 1400},
    // Raw H.264 has no times at all: frames follow each other by their
    // durations, a frame ends only when the next begins.
    {"RawH264UntimedWhole", "stream_h264_untimed.h264", true, true, 1, 0, 0, 0},
    {"RawH264UntimedShortChunks", "stream_h264_untimed.h264", true, true, 1, 0, 1400, 1400},
    {"WebmWhole", "stream_vp8_opus.webm", false, false, 3, 21, 0, 0},
    {"WebmShortFirstChunk", "stream_vp8_opus.webm", false, false, 3, 21, 1400, 1400},
    // The second video stream (VP8) is passed over.
    {"MatroskaSecondVideoIgnored", "stream_mjpeg_vp8_alaw.mkv", false, false, 2, 20, 0, 0},
    {"MatroskaSecondVideoIgnoredShortChunks", "stream_mjpeg_vp8_alaw.mkv", false, false, 2, 20, 1400, 1400},
};

INSTANTIATE_TEST_SUITE_P(Demuxer, StreamFixtures, ::testing::ValuesIn(kStreamCases),
                         [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

}  // namespace

// The browser's media over a data channel, end to end: the stand-in gateway
// starts the real quillgate, the stand-in media library sends a container
// file as numbered data-channel messages (with scripted faults), and the
// stand-in SDK journals every frame the demuxer feeds it, compared with
// what the ffmpeg tools list for the file. Liveness runs on real time.
// Every wait is bounded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/case_names.h"
#include "tests/support/gateway_run.h"
#include "tests/support/media_checks.h"
#include "tests/support/media_probe.h"
#include "tests/support/webrtc_script.h"

using qgtest::BrowserMessage;
using qgtest::CallArgs;
using qgtest::CreatePeer;
using qgtest::FieldOf;
using qgtest::GatewayRun;
using qgtest::InputFrame;
using qgtest::InputStreams;
using qgtest::JournalWait;
using qgtest::LinesWith;
using qgtest::MediaFixture;
using qgtest::RtcStep;
using qgtest::RunGateway;
using qgtest::SdkSetup;
using qgtest::TempDir;

namespace {

const uint32_t kSlice = 1400;

std::string Q(const std::string& text)
{
    return qgtest::ScriptText(text);
}

std::string InitParams(int h5handlestreamtype, int debuglevel)
{
    return "{\"browsertype\":4,\"debugflag\":0,\"debuglevel\":" + std::to_string(debuglevel) +
           ",\"h5handlestreamtype\":" + std::to_string(h5handlestreamtype) + ",\"platformtype\":1}";
}

std::string Enter(int h5handlestreamtype, int debuglevel)
{
    return "wait initiateQiullgateDelegate\n"
           "call setGeneralParam 1 1 " +
           Q(InitParams(h5handlestreamtype, debuglevel)) +
           "\n"
           "call login 2 \"127.0.0.1:8906\" \"alice\" \"pw\" 0 \"{\\\"browsertype\\\":4,\\\"platformtype\\\":1}\"\n"
           "wait replyLogin\n"
           "call enterRoom 3 5 \"\" 0\n"
           "wait replyEnterRoom\n";
}

// The browser's own peer with only a data channel: it offers m=application alone.
std::string DataPeer(int reqid, const std::string& peerId)
{
    return "call consultParam " + std::to_string(reqid) + " 1 " + Q(CreatePeer(peerId, 1, 1001)) +
           "\n"
           "wait replyConsultParam\n"
           "call webrtcConsult " +
           std::to_string(reqid + 1) + " " + Q(BrowserMessage("chrome_data_offer", peerId)) +
           "\n"
           "wait replyWebrtcConsult\n";
}

// A receiving peer for a user: the library offers, the browser answers.
std::string ReceivePeer(int reqid, const std::string& peerId, int userId)
{
    return "call consultParam " + std::to_string(reqid) + " 1 " + Q(CreatePeer(peerId, 2, userId)) +
           "\n"
           "wait replyConsultParam\n"
           "wait notifyWebrtcConsult\n"
           "call webrtcConsult " +
           std::to_string(reqid + 1) + " " + Q(BrowserMessage("chrome_answer", peerId)) +
           "\n"
           "wait replyWebrtcConsult\n";
}

// A call whose printed line lets control steps follow the script's clock.
std::string Mark(int reqid)
{
    return "call getSDKOptionInt " + std::to_string(reqid) + " 221\n";
}

std::string MarkLine(int reqid)
{
    return "call getSDKOptionInt(" + std::to_string(reqid) + ", 221)";
}

const char kLogout[] = "call logout 91\nwait replyLogout\n";

// The gateway's line for a browser-bound message of one type for one peer:
// a control step can follow it where the script's clock would have to guess.
std::string NotifiedLine(const std::string& peerId, const std::string& type)
{
    return "recv notifyWebrtcConsult(\"standin-session\", 0, " +
           Q("{\"peerconnectionid\":\"" + peerId + "\",\"type\":\"" + type + "\"}") + ")";
}

// Writes a line to the media library's control FIFO once its journal holds
// a line starting with `after`: a step for what the gateway prints nothing
// of, such as the end of a sender ("totals <h> data out="). Polls, bounded;
// start it before RunGateway and Finish it after.
class RtcAfterJournal
{
public:
    RtcAfterJournal(const TempDir& dir, const std::string& after, const std::string& line)
        : journal_(dir.File("rtc.journal")), fifo_(dir.File("rtc.control")), after_(after), line_(line + "\n"),
          thread_([this] { Run(); })
    {}
    ~RtcAfterJournal() { Finish(); }
    // Stops looking; true when the line was written.
    bool Finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return written_;
    }

private:
    void Run()
    {
        for (int waited = 0; waited < 120000 && !stop_; waited += 20) {
            if (qgtest::Find(qgtest::ReadLines(journal_), after_) >= 0) {
                // RunGateway holds the FIFO open for reading all along.
                const int fd = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                written_ = fd >= 0 && write(fd, line_.data(), line_.size()) == static_cast<ssize_t>(line_.size());
                if (fd >= 0)
                    close(fd);
                return;
            }
            usleep(20 * 1000);
        }
    }

    const std::string journal_, fifo_, after_, line_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> written_{false};
    std::thread thread_;  // last: it starts once the rest is there
};

// The count of a frame's CRC in a file's list (journal waits need one that is there once).
size_t CrcCount(const std::vector<InputFrame>& frames, uint32_t crc)
{
    size_t n = 0;
    for (const InputFrame& f : frames)
        n += f.crc == crc ? 1 : 0;
    return n;
}

// One raw data-channel message: the 28-byte header and its slice.
std::string MessageHex(uint32_t packetNum, const std::string& payload, uint32_t blockNum = 0, uint32_t sliceNum = 0,
                       uint32_t marker = 1)
{
    std::string m(28, '\0');
    auto put = [&m](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            m[at + i] = static_cast<char>(v >> (8 * i));
    };
    m[0] = 7;
    m[1] = 1;
    m[2] = 1;
    put(4, blockNum, 4);
    m[8] = static_cast<char>(marker);
    put(9, sliceNum, 2);
    put(11, static_cast<uint32_t>(payload.size()), 4);
    put(19, packetNum, 4);
    m += payload;
    return qgtest::Hex(m.data(), m.size());
}

uint32_t PacketsOf(const std::string& file)
{
    const size_t size = qgtest::ReadFile(MediaFixture(file)).size();
    return static_cast<uint32_t>((size + kSlice - 1) / kSlice);
}

// ---- the frames the SDK got ----

struct GotFrame {
    bool video = false;
    uint32_t timestamp = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    std::string crc;
};

std::vector<GotFrame> SdkFrames(const GatewayRun& run)
{
    std::vector<GotFrame> frames;
    for (const std::string& l : run.journal) {
        const bool video = l.compare(0, 23, "CVAPI_InputVideoDataEx ") == 0;
        if (!video && l.compare(0, 23, "CVAPI_InputAudioDataEx ") != 0)
            continue;
        GotFrame f;
        f.video = video;
        f.timestamp = static_cast<uint32_t>(std::stoul(FieldOf(l, "ts")));
        f.flags = static_cast<uint32_t>(std::stoul(FieldOf(l, "flags")));
        f.size = static_cast<uint32_t>(std::stoul(FieldOf(l, "len")));
        f.crc = FieldOf(l, "crc");
        frames.push_back(f);
    }
    return frames;
}

// The flags the SDK gets with a frame: VP8 key frames 3, every other 1.
uint32_t FlagsOf(const InputFrame& f, uint32_t videoCodec)
{
    return f.video && videoCodec == 3 && f.key ? 3 : 1;
}

bool Same(const GotFrame& got, const InputFrame& want, uint32_t videoCodec)
{
    return got.video == want.video && got.timestamp == want.timestamp && got.flags == FlagsOf(want, videoCodec) &&
           got.size == want.size && got.crc == qgtest::CrcForm(want.crc);
}

std::string Describe(const GotFrame& f)
{
    std::ostringstream o;
    o << (f.video ? "video" : "audio") << " ts=" << f.timestamp << " flags=" << f.flags << " len=" << f.size << " "
      << f.crc;
    return o.str();
}

// The SDK's frames cut into streams, each from the file's first frame on,
// every frame the next of the file's list: the length of each stream, or
// an error naming the first frame that fits nowhere.
bool CutIntoStreams(const std::vector<GotFrame>& got, const std::vector<InputFrame>& want, uint32_t videoCodec,
                    std::vector<size_t>& lengths, std::string& error)
{
    lengths.clear();
    for (size_t i = 0; i < got.size(); ++i) {
        if (!lengths.empty() && lengths.back() < want.size() && Same(got[i], want[lengths.back()], videoCodec)) {
            ++lengths.back();
        } else if (!want.empty() && Same(got[i], want[0], videoCodec)) {
            lengths.push_back(1);
        } else {
            const size_t at = lengths.empty() ? 0 : lengths.back();
            error = "frame " + std::to_string(i) + " (" + Describe(got[i]) + ") is not frame " + std::to_string(at) +
                    " of the file" + (at < want.size() ? " (size " + std::to_string(want[at].size) + ")" : "");
            return false;
        }
    }
    return true;
}

// A stream that ends at most `tail` frames short of each medium's last.
bool Whole(size_t length, const std::vector<InputFrame>& want, size_t tail)
{
    if (length > want.size())
        return false;
    size_t video = 0, audio = 0;
    for (size_t i = length; i < want.size(); ++i)
        ++(want[i].video ? video : audio);
    return video <= tail && audio <= tail;
}

int CountLog(const GatewayRun& run, const std::string& part)
{
    int n = 0;
    for (const std::string& l : run.sdkLog)
        n += l.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// The browser-bound messages of one type for one peer.
int NotifiedCount(const GatewayRun& run, const std::string& peerId, const std::string& type, int before = -1)
{
    int n = 0;
    const std::string text = "{\"peerconnectionid\":\"" + peerId + "\",\"type\":\"" + type + "\"}";
    for (size_t i = 0; i < run.out.size() && (before < 0 || static_cast<int>(i) < before); ++i) {
        if (run.out[i].compare(0, 25, "recv notifyWebrtcConsult(") != 0)
            continue;
        const std::vector<std::string> args = CallArgs(run.out[i]);
        n += args.size() == 3 && args[1] == "0" && args[2] == text ? 1 : 0;
    }
    return n;
}

// The value after "key:" in a log line.
long LogNumber(const std::string& line, const std::string& key)
{
    const size_t at = line.find(key + ":");
    return at == std::string::npos ? -1 : std::atol(line.c_str() + at + key.size() + 1);
}

// ---- each fixture through a data-channel-only peer ----

struct StreamCase {
    const char* name;
    const char* file;
    const char* options;  // the sender's cut and pace
    bool h264;
    uint32_t videoCodec;
    uint32_t audioCodec;
    // Frames a medium may end short: MPEG-TS packets end only when the
    // next of their stream begins (and H.264 frames when the next one
    // begins), and the input waits for more bytes.
    size_t tail;
};
QG_PRINT_CASE_BY_NAME(StreamCase)

const StreamCase kStreamCases[] = {
    {"FlvInBlocksOfEight", "stream_h264_aac.flv", "", true, 1, 13, 0},
    {"FlvWithAOneSliceFirstBlock", "stream_h264_aac.flv", " first=1 block=5", true, 1, 13, 0},
    {"MpegTsWithAOneSliceFirstBlock", "stream_h264_aac.ts", " first=1", true, 1, 13, 2},
    {"FragmentedMp4WithShortSlices", "stream_h264_aac_frag.mp4", " first=2 block=12 slice=700", true, 1, 13, 0},
    {"WebmVp8Opus", "stream_vp8_opus.webm", " block=3", false, 3, 21, 0},
    {"FlvAsOneWholeFileBlock", "stream_h264_aac.flv", " block=0 pace=fast", true, 1, 13, 0},
};

class DataChannelStream : public ::testing::TestWithParam<StreamCase>
{};

TEST_P(DataChannelStream, SdkGetsTheFormatsOnceThenEveryPacketOnceInFileOrder)
{
    const StreamCase& c = GetParam();
    const std::string path = MediaFixture(c.file);
    InputStreams in;
    try {
        in = qgtest::InputFramesOf(path, 1, c.h264);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the ffmpeg tools are not there: " << e.what();
    }
    ASSERT_GT(in.frames.size(), 20u);
    TempDir dir;
    SdkSetup sdk;
    // The description's data channel opens (event 4) and sends the file.
    sdk.control = {RtcStep("", std::string("datafile ") + path + c.options)};
    // Logout once the SDK has the frames, however slowly this machine plays them.
    const size_t frames = in.frames.size() - 2 * c.tail;
    const std::string script = Enter(1, 4) + DataPeer(4, "dc") + JournalWait(frames, "CVAPI_Input") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();

    // The formats, once, each before its medium's first frame.
    const std::vector<std::string> video = LinesWith(run.journal, "CVAPI_SetInputVideoFormatEx ");
    const std::vector<std::string> audio = LinesWith(run.journal, "CVAPI_SetInputAudioFormatEx ");
    ASSERT_EQ(video.size(), 1u) << run.Dump();
    ASSERT_EQ(audio.size(), 1u) << run.Dump();
    EXPECT_EQ(video[0], "CVAPI_SetInputVideoFormatEx 0 " + std::to_string(c.videoCodec) + " 0 " +
                            std::to_string(in.video.width) + " " + std::to_string(in.video.height) + " 15 0 = 0");
    EXPECT_EQ(audio[0], "CVAPI_SetInputAudioFormatEx 0 " + std::to_string(c.audioCodec) + " " +
                            std::to_string(in.audio.channels) + " " + std::to_string(in.audio.sampleRate) +
                            " 16 0 = 0");
    EXPECT_LT(run.Journal(video[0]), run.Journal("CVAPI_InputVideoDataEx "));
    EXPECT_LT(run.Journal(audio[0]), run.Journal("CVAPI_InputAudioDataEx "));

    // Every message was taken, and the frames are the file's, once, in order.
    const std::vector<std::string> sent = LinesWith(run.rtcJournal, "cb data 1 ");
    EXPECT_GE(sent.size(), PacketsOf(c.file)) << run.Dump();
    for (const std::string& l : sent)
        EXPECT_EQ(l.substr(l.size() - 4), " = 0") << l;
    std::vector<size_t> streams;
    std::string error;
    ASSERT_TRUE(CutIntoStreams(SdkFrames(run), in.frames, c.videoCodec, streams, error)) << error;
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_TRUE(Whole(streams[0], in.frames, c.tail))
        << streams[0] << " of " << in.frames.size() << " frames; " << SdkFrames(run).size() << " got\n"
        << run.Dump();
    EXPECT_EQ(CountLog(run, "*** LossPacket"), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "OnDataLoss..."), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "CDemuxerUnit::"), 0) << run.Dump();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DataChannelStream, ::testing::ValuesIn(kStreamCases), qgtest::ByName());

// ---- messages out of order, twice, odd and malformed without a loss ----

TEST(DataChannelFaults, ReorderedDuplicatedAndHarmlessOddMessagesLeaveTheFramesAsTheyWere)
{
    const std::string path = MediaFixture("stream_h264_aac.flv");
    InputStreams in;
    try {
        in = qgtest::InputFramesOf(path, 1, true);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the ffmpeg tools are not there: " << e.what();
    }
    TempDir dir;
    SdkSetup sdk;
    // 6 before 5, 9 twice, 31 before 30 and 31 twice, 40 padded to 1450
    // bytes (its slice says 1400); then, while the file flows, a message of
    // 27 bytes and one with another magic.
    sdk.control = {
        RtcStep("", "datafile " + path + " reorder=5 dup=9 reorder=30 dup=31 overlong=40:1450"),
        RtcStep("recv replyWebrtcConsult(", "message 1 " + MessageHex(0, "").substr(0, 54)),
        RtcStep("", "message 1 070102" + MessageHex(30, std::string(10, 'x')).substr(6)),
    };
    // Logout once the SDK has the frames, however slowly this machine plays them.
    const size_t frames = in.frames.size();
    const std::string script = Enter(1, 4) + DataPeer(4, "dc") + JournalWait(frames, "CVAPI_Input") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
    ASSERT_GE(run.RtcJournal("cb data 1 chan=1 len=27 "), 0) << run.Dump();

    std::vector<size_t> streams;
    std::string error;
    ASSERT_TRUE(CutIntoStreams(SdkFrames(run), in.frames, 1, streams, error)) << error;
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0], in.frames.size());
    EXPECT_EQ(CountLog(run, "CDataChannelBase::OnReceiveData data is null!"), 1) << run.Dump();
    EXPECT_EQ(CountLog(run, "*** handleSliceData sliceLen!=packLen, Maybe pack is error.."), 1) << run.Dump();
    for (const char* loss : {"*** LossPacket", "OnDataLoss...", "*** had receive packet", "isLoss=1"})
        EXPECT_EQ(CountLog(run, loss), 0) << loss << "\n" << run.Dump();
}

// ---- a lost packet: declared, the partial chunk on, the frame given up,
// and the stream again from the next frame start ----

struct LossCase {
    const char* name;
    const char* fault;  // the first sending's fault
    const char* line;   // what quillgate says of the bad message ("": nothing of its own)
    bool lost;          // packet 20 never counts
    uint32_t partial;   // bytes of the chunk handed on before the frame is given up
};
QG_PRINT_CASE_BY_NAME(LossCase)

// The file is cut into 56 slices of 1400 bytes (the last 1234) in blocks of
// 8: packet 20 sits in block 2 (16 to 23), 55 ends block 6 (48 to 55).
const LossCase kLossCases[] = {
    {"DroppedPacket", "drop=20", "", true, 5600},
    {"LatePacket", "reorder=20 pause=20:3000", "*** had receive packet but current lostPackNo[20] more than it[20]",
     true, 5600},
    {"OverLongMessage", "overlong=20",
     "CDataChannelBase::OnReceiveData message too long, dropped: dataLen=1600, max=1500", true, 5600},
    {"BadMagic", "badmagic=20", "", true, 5600},
    {"OversizedSlice", "bigslice=20", "", true, 5600},
    // Cut to its header and half its slice: the last block gives only the
    // bytes that came, 617 of the last 1234.
    {"TruncatedLastMessage", "truncate=55", "*** handleSliceData sliceLen!=packLen, Maybe pack is error..", false,
     7 * 1400 + 617},
};

class DataChannelLoss : public ::testing::TestWithParam<LossCase>
{};

TEST_P(DataChannelLoss, IsDeclaredAndTheStreamResumesWholeAtTheNextFrameStart)
{
    const LossCase& c = GetParam();
    const std::string path = MediaFixture("stream_h264_aac.flv");
    InputStreams in;
    try {
        in = qgtest::InputFramesOf(path, 1, true);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the ffmpeg tools are not there: " << e.what();
    }
    const uint32_t packets = PacketsOf("stream_h264_aac.flv");
    ASSERT_EQ(packets, 56u);
    TempDir dir;
    SdkSetup sdk;
    // Once the first sending is over, the file again as the packets that
    // follow it, without a new data channel: its first slice starts a frame.
    // The library journals a sender's end; a second sending before it would
    // replace the first (a fixed wait for it would guess its pace).
    sdk.control = {RtcStep("", "datafile " + path + " " + c.fault)};
    RtcAfterJournal again(dir,
                          "totals 1 data out=", "datasend 1 " + path + " event4=off jump=0:" + std::to_string(packets));
    const std::string script =
        Enter(1, 1) + DataPeer(4, "dc") + JournalWait(1, "crc=" + qgtest::CrcForm(in.frames.back().crc)) + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_TRUE(again.Finish()) << "no second sending\n" << run.Dump();
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();

    if (*c.line) {
        EXPECT_EQ(CountLog(run, c.line), 1) << run.Dump();
    }
    // The frame in progress goes on as far as it came, as a chunk that
    // continues a frame, then is given up.
    const int partial = run.Log("*** OnChunkData.. dataLen=" + std::to_string(c.partial) + ", ");
    ASSERT_GE(partial, 0) << run.Dump();
    EXPECT_NE(run.sdkLog[partial].find("dwFlags=0"), std::string::npos) << run.sdkLog[partial];
    if (c.lost) {
        EXPECT_EQ(CountLog(run, "*** LossPacket Index=20, "), 1) << run.Dump();
        EXPECT_EQ(CountLog(run, "*** LossPacket"), 1) << run.Dump();
        EXPECT_GT(run.Log("OnDataLoss...", partial), partial) << run.Dump();
        // Every slice up to the next frame start is given up; the first
        // slice after the loss is read at once.
        EXPECT_EQ(CountLog(run, "OnDataLoss..."), static_cast<int>(packets) - 21) << run.Dump();
    } else {
        EXPECT_EQ(CountLog(run, "*** LossPacket"), 0) << run.Dump();
        EXPECT_EQ(CountLog(run, "OnDataLoss..."), 0) << run.Dump();
    }
    // The second sending starts a frame: the demuxer starts the stream anew.
    EXPECT_GE(run.Log("*** handleSliceData (lpHeader->blockNum == 0 && lpHeader->sliceNum == 0), packetNum=" +
                      std::to_string(packets) + ", "),
              0)
        << run.Dump();

    // The frames: the first stream up to what its bytes held, then the
    // whole file; the formats once.
    std::vector<size_t> streams;
    std::string error;
    ASSERT_TRUE(CutIntoStreams(SdkFrames(run), in.frames, 1, streams, error)) << error << "\n" << run.Dump();
    ASSERT_EQ(streams.size(), 2u) << run.Dump();
    EXPECT_LT(streams[0], in.frames.size());
    EXPECT_GT(streams[0], 0u);
    EXPECT_EQ(streams[1], in.frames.size());
    EXPECT_EQ(LinesWith(run.journal, "CVAPI_SetInputVideoFormatEx ").size(), 1u);
    EXPECT_EQ(LinesWith(run.journal, "CVAPI_SetInputAudioFormatEx ").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, DataChannelLoss, ::testing::ValuesIn(kLossCases), qgtest::ByName());

// ---- liveness on real time ----

// A receiving peer and a data-channel peer; the data channel's file, then
// silence: after 5 s the browser is asked to reset the channel, then every
// 2.8 s (a packet meanwhile does not end that), until a data channel opens
// again (event 4) and the file plays from packet 0. Meanwhile packets of
// the receiving peer (not the current data channel) are dropped and refresh
// nothing, and its event 5 does nothing while "h5handlestreamtype" is 1.
TEST(DataChannelLiveness, SilenceAsksForAResetEvery2800MsUntilTheChannelOpensAgain)
{
    const std::string path = MediaFixture("stream_h264_aac.flv");
    InputStreams in;
    try {
        in = qgtest::InputFramesOf(path, 1, true);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the ffmpeg tools are not there: " << e.what();
    }
    TempDir dir;
    SdkSetup sdk;
    // The last two steps follow the requests themselves, not the script's
    // clock: each looks for its line below the one that fired the step before.
    const std::string reset = NotifiedLine("dc", "resetdatachannel");
    sdk.control = {
        RtcStep("", "datafile " + path),
        RtcStep(MarkLine(40), "message 2 " + MessageHex(0, "abc")),
        RtcStep("", "message 2 " + MessageHex(1, "def")),
        RtcStep("", "event 2 5 0 0 -"),
        // A packet of the silent channel once the reset was asked for: an
        // old number (not taken), but it refreshes the channel's time.
        RtcStep(reset, "message 1 " + MessageHex(3, "ghi", 0, 1)),
        // The second request: the channel opens again.
        RtcStep(reset, "datasend 1 " + path),
    };
    // The file's last packet comes about 2 s after the answer: resets at
    // about 7 and 9.8 s, the packet just after the first; the channel opens
    // again just after the second, some 2 s before a third request or the
    // packet's own silence would end; the new file's silence would end only
    // after the logout, which follows its last frame.
    // The receiving peer comes once the stream has set the SDK's formats:
    // the first formats of a room stay hold, and its answer's are others.
    const std::string script = Enter(1, 1) + DataPeer(4, "dc") + JournalWait(1, "CVAPI_SetInputVideoFormatEx") +
                               JournalWait(1, "CVAPI_SetInputAudioFormatEx") + ReceivePeer(6, "r1", 2001) +
                               "sleep 3000\n" + Mark(40) + JournalWait(2 * in.frames.size(), "CVAPI_Input") + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();

    EXPECT_EQ(NotifiedCount(run, "dc", "resetdatachannel"), 2) << run.Dump();
    EXPECT_EQ(NotifiedCount(run, "r1", "resetdatachannel"), 0) << run.Dump();
    const int silent = run.Log("CWebRtcConnect::NotifyClientResetDataChnl: recv data timeout! handle:1, peerId:dc, ");
    const int again =
        run.Log("CWebRtcConnect::NotifyClientResetDataChnl: recreate peerconnection obj timeout!handle:1, peerId:dc, ");
    ASSERT_GE(silent, 0) << run.Dump();
    ASSERT_GT(again, silent) << run.Dump();
    const long quiet = LogNumber(run.sdkLog[silent], "curTime") - LogNumber(run.sdkLog[silent], "sendTime");
    // The exact limits are the unit tests' (a fake clock); here a loaded host may be late.
    EXPECT_GT(quiet, 5000) << run.sdkLog[silent];
    EXPECT_LT(quiet, 5800) << run.sdkLog[silent];
    const long repeat = LogNumber(run.sdkLog[again], "curTime") - LogNumber(run.sdkLog[again], "sendTime");
    EXPECT_GT(repeat, 2800) << run.sdkLog[again];
    EXPECT_LT(repeat, 3600) << run.sdkLog[again];
    // Both requests came before the channel opened again, none after.
    const std::string opening = "CWebRtcConnect::ResetDataChnlConfig: Handle:1, peerId:dc, ChnlId:1, ";
    const int reopened = run.Log(opening, run.Log(opening) + 1);
    ASSERT_GT(reopened, again) << run.Dump();
    EXPECT_LT(run.Log("CWebRtcConnect::NotifyClientResetDataChnl: ", reopened), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "recv data timeout!"), 1) << run.Dump();
    EXPECT_EQ(CountLog(run, "recreate peerconnection obj timeout!"), 1) << run.Dump();
    EXPECT_EQ(CountLog(run, "CDataChannelBase::OnReceiveData packetNum=3 already passed (readIndex=56), dropped"), 1)
        << run.Dump();

    // The receiving peer's packets: dropped, nothing of them in the ring.
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::SendDataChnlParam2CorvaneSDK: recv data peerobj error! curhandle:2, "
                            "prehandle:1"),
              2)
        << run.Dump();
    EXPECT_EQ(CountLog(run, "*** OnReceiveData Handle:2"), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "resetpeerobj"), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "ResetPeerConnectionObj"), 0) << run.Dump();
    EXPECT_EQ(NotifiedCount(run, "r1", "resetpeerobj"), 0) << run.Dump();

    // Both openings reset the ring and the demuxer; each plays the file whole.
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::ResetDataChnlConfig: Handle:1, peerId:dc, ChnlId:1, notifyResetTime:0"), 2)
        << run.Dump();
    std::vector<size_t> streams;
    std::string error;
    ASSERT_TRUE(CutIntoStreams(SdkFrames(run), in.frames, 1, streams, error)) << error;
    ASSERT_EQ(streams.size(), 2u) << run.Dump();
    EXPECT_EQ(streams[0], in.frames.size());
    EXPECT_EQ(streams[1], in.frames.size());
    EXPECT_EQ(CountLog(run, "*** LossPacket"), 0) << run.Dump();
}

// With "h5handlestreamtype" 2, event 5 asks the browser to re-create a peer
// connection at once and every 2 s until that peer goes (here by its
// destruction and by its user's departure); a data-channel peer's event 5
// and a second event 5 for the same peer add nothing.
TEST(DataChannelLiveness, Event5AsksForANewPeerEvery2000MsUntilThePeerGoes)
{
    TempDir dir;
    SdkSetup sdk;
    sdk.scenario = "selfid 1001\nroom *\nuser 2001 camera=2\nuser 2002 camera=2\n";
    // The peers go once each was asked three times, before a fourth is due
    // 2 s later: r2 is asked after r1 each time, and its third request makes
    // the SDK send an event that the script waits for (steps run in order,
    // each on a line below the one before; "channel 1", the library's
    // default, only counts r2's first two requests).
    const std::string r2Reset = NotifiedLine("r2", "resetpeerobj");
    sdk.control = {
        RtcStep(MarkLine(40), "event 1 5 0 0 -"),
        RtcStep("", "event 2 5 0 0 -"),
        RtcStep("", "event 3 5 0 0 -"),
        RtcStep("", "event 2 5 0 0 -"),
        RtcStep(r2Reset, "channel 1"),
        RtcStep(r2Reset, "channel 1"),
        {r2Reset, "event 99 " + qgtest::Hex(std::string("{}"))},
        {"recv replyConsultParam(\"standin-session\", 41, ", "user leave 2002"},
    };
    const std::string script = Enter(2, 4) + DataPeer(4, "dc") + ReceivePeer(6, "r1", 2001) +
                               ReceivePeer(8, "r2", 2002) + Mark(40) +
                               "wait notifyCoreSDKEvent 30000\n"
                               "call consultParam 41 1 " +
                               Q("{\"control\":0,\"peerconnectionid\":\"r1\"}") +
                               "\n"
                               "wait replyConsultParam\n"
                               "wait notifyUserAtRoom\n"
                               "sleep 2500\n" +
                               kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    ASSERT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();

    const int destroyed = run.Out("recv replyConsultParam(\"standin-session\", 41, ");
    const int left = run.Out("recv notifyUserAtRoom(\"standin-session\", 0, 2002, ");
    ASSERT_GT(destroyed, 0) << run.Dump();
    ASSERT_GT(left, 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_Destroy 2 = 0"), 0) << run.Dump();
    EXPECT_GE(run.RtcJournal("CVRTC_Destroy 3 = 0"), 0) << run.Dump();
    // At once, then after about 2 and 4 s; none once the peer is gone.
    EXPECT_EQ(NotifiedCount(run, "r1", "resetpeerobj"), 3) << run.Dump();
    EXPECT_EQ(NotifiedCount(run, "r1", "resetpeerobj", destroyed), 3) << run.Dump();
    EXPECT_EQ(NotifiedCount(run, "r2", "resetpeerobj"), 3) << run.Dump();
    EXPECT_EQ(NotifiedCount(run, "r2", "resetpeerobj", left), 3) << run.Dump();
    EXPECT_EQ(NotifiedCount(run, "dc", "resetpeerobj"), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::ResetPeerConnectionObj: handle:2, peerId:r1"), 1) << run.Dump();
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::ResetPeerConnectionObj: handle:3, peerId:r2"), 1) << run.Dump();
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::NotifyClientResetPeerObj: handle:2, peerId:r1"), 2) << run.Dump();
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::NotifyClientResetPeerObj: handle:3, peerId:r2"), 2) << run.Dump();
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::ResetPeerConnectionObj: handle:1,"), 0) << run.Dump();
}

// ---- churn: the channel opens again and again mid-stream, and the user
// logs out while a file flows ----

TEST(DataChannelChurn, RepeatedOpeningsMidStreamLoseNothingElseAndLogoutMidStreamExitsCleanly)
{
    const std::string path = MediaFixture("stream_vp8_opus.webm");
    InputStreams in;
    try {
        in = qgtest::InputFramesOf(path, 1, false);
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the ffmpeg tools are not there: " << e.what();
    }
    // Where each play is, from the SDK's journal: the file's first and last
    // frames, each once in the file.
    ASSERT_EQ(CrcCount(in.frames, in.frames.front().crc), 1u);
    ASSERT_EQ(CrcCount(in.frames, in.frames.back().crc), 1u);
    const std::string first = "crc=" + qgtest::CrcForm(in.frames.front().crc);
    const std::string last = "crc=" + qgtest::CrcForm(in.frames.back().crc);
    TempDir dir;
    SdkSetup sdk;
    // A cut file sends packets 0 to 39 at its pace, then waits 30 s before
    // the rest: what comes after its first frame is mid-stream, however
    // late the script or the sender.
    const std::string cut = " pause=40:30000";
    sdk.control = {
        RtcStep("", "datafile " + path + cut),
        // Mid-stream the channel opens three times: the rest of that file
        // no longer fits the new sequence.
        RtcStep(MarkLine(40), "event 1 4 1 0 -"),
        RtcStep(MarkLine(41), "event 1 4 1 0 -"),
        RtcStep("", "event 1 4 1 0 -"),
        // Then a file from packet 0 plays whole, and another is cut by the logout.
        RtcStep(MarkLine(42), "datasend 1 " + path),
        RtcStep(MarkLine(43), "datasend 1 " + path + cut),
    };
    const std::string script = Enter(1, 4) + DataPeer(4, "dc") + JournalWait(1, first) + Mark(40) + "sleep 300\n" +
                               Mark(41) + "sleep 1500\n" + Mark(42) + JournalWait(1, last) + Mark(43) +
                               JournalWait(3, first) + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
    EXPECT_LT(run.Out("quillgate signal"), 0) << run.Dump();
    EXPECT_EQ(CountLog(run, "CWebRtcConnect::ResetDataChnlConfig: Handle:1, peerId:dc, "), 6) << run.Dump();

    std::vector<size_t> streams;
    std::string error;
    ASSERT_TRUE(CutIntoStreams(SdkFrames(run), in.frames, 3, streams, error)) << error << "\n" << run.Dump();
    ASSERT_EQ(streams.size(), 3u) << run.Dump();
    EXPECT_LT(streams[0], in.frames.size());
    EXPECT_EQ(streams[1], in.frames.size());
    EXPECT_LT(streams[2], in.frames.size());
    EXPECT_EQ(LinesWith(run.journal, "CVAPI_SetInputVideoFormatEx ").size(), 1u);
}

// ---- a program folder without the demuxer module ----

// quillgate with the SDK and the media library in a folder of their own, as
// installed, but without libquillgatedemux.so: every opening of the data
// channel tries the module once and says why it is not there, the stream's
// chunks go nowhere, and the session answers on.
TEST(DataChannelWithoutDemuxer, EachOpeningSaysOnceThatTheModuleIsMissingDropsTheChunksAndTheSessionServesOn)
{
    const std::string path = MediaFixture("stream_h264_aac.flv");
    const size_t size = qgtest::ReadFile(path).size();
    ASSERT_GT(size, 0u);
    TempDir dir;
    const std::string folder = dir.File("bin");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (const char* file : {"quillgate", "dizoveverivuve.so", "libcorvanewebrtcsdk.so"}) {
        std::ifstream in(qgtest::BinDir() + "/" + file, std::ios::binary);
        std::ofstream out(folder + "/" + file, std::ios::binary);
        ASSERT_TRUE(in && out) << file;
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod((folder + "/quillgate").c_str(), 0755), 0);

    SdkSetup sdk;
    // The file, then the channel opens again.
    sdk.control = {RtcStep("", "datafile " + path), RtcStep(MarkLine(40), "event 1 4 1 0 -")};
    // Each chunk's line counts the bytes handed on: the last says the whole file.
    const std::string script = Enter(1, 1) + DataPeer(4, "dc") + JournalWait(1, "total=" + std::to_string(size)) +
                               Mark(40) + JournalWait(2, "ResetMuxerHelper:") +
                               "call getSDKOptionInt 41 221\nwait replyGetSDKOptionInt\n" + kLogout;
    const GatewayRun run = RunGateway(dir, {"-w", "10", "-q", folder + "/quillgate"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();

    const std::string missing = "CMemoryDemuxer: load libquillgatedemux.so fail! " + folder +
                                "/libquillgatedemux.so: cannot open shared object file";
    EXPECT_EQ(CountLog(run, missing), 2) << run.Dump();
    EXPECT_EQ(CountLog(run, "CMemoryDemuxer: load "), 2) << run.Dump();
    EXPECT_EQ(CountLog(run, "CCorvaneConnect::ResetMuxerHelper: demuxer init fail!"), 2) << run.Dump();
    const int first = run.Log("CMemoryDemuxer: load ");
    EXPECT_LT(first, run.Log("*** OnChunkData.. ")) << "the load is tried when the channel opens, not per chunk";
    EXPECT_GE(run.Log("*** OnChunkData.. "), 0) << run.Dump();

    // Nothing of the stream reached the SDK, and the session answered after it.
    EXPECT_TRUE(LinesWith(run.journal, "CVAPI_SetInputVideoFormatEx ").empty()) << run.Dump();
    EXPECT_TRUE(LinesWith(run.journal, "CVAPI_SetInputAudioFormatEx ").empty()) << run.Dump();
    EXPECT_LT(run.Journal("CVAPI_InputVideoDataEx "), 0) << run.Dump();
    EXPECT_LT(run.Journal("CVAPI_InputAudioDataEx "), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyGetSDKOptionInt(\"standin-session\", 41, "), 0) << run.Dump();
}

}  // namespace

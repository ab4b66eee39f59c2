#include "quillgate/webrtc/webrtc_connect.h"

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillgate/log/proxy_log.h"
#include "tests/support/test_support.h"
#include "util/json_utils.h"

namespace {

const char kNoSdpLine[] = "CWebRtcConnect::DelSDPSsrcInfo: can not get sdpInfo!";

std::mutex g_logMutex;
std::vector<std::string> g_logLines;

void CaptureLine(const char* line)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_logLines.push_back(line);
}

// Collects the log lines written while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_logLines.clear();
        SetProxyLogSink(CaptureLine);
    }
    ~LogCapture() { SetProxyLogSink(nullptr); }
    std::vector<std::string> Lines() const
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        return g_logLines;
    }
};

std::string Fixture(const std::string& name)
{
    const std::string text = qgtest::ReadFile(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + name + ".json");
    if (text.empty())
        ADD_FAILURE() << "missing fixture " << name;
    return text;
}

// chrome156_*: what Chromium 156 sent in a session with the GStreamer media
// library (./dev run browser): its offer of a sending peer (camera,
// microphone, data channel), and its answer to the library's sendonly offer.
const char* const kFixtures[] = {"chrome_offer", "chrome_answer", "firefox_offer",   "firefox_answer",
                                 "safari_offer", "safari_answer", "chrome156_offer", "chrome156_answer"};

// A message cut around the raw (escaped) text of its "sdp" value: the bytes
// before it, its lines at each escaped CR LF, and the bytes after it. The
// fixtures hold no escaped quote, so the value ends at the next quote.
struct Message {
    std::string head;
    std::vector<std::string> lines;
    std::string tail;
};

Message Cut(const std::string& json)
{
    Message m;
    const std::string key = "\"sdp\":\"";
    const size_t begin = json.find(key);
    if (begin == std::string::npos) {
        ADD_FAILURE() << "no sdp member";
        return m;
    }
    const size_t valueBegin = begin + key.size();
    const size_t valueEnd = json.find('"', valueBegin);
    m.head = json.substr(0, valueBegin);
    m.tail = json.substr(valueEnd);
    const std::string value = json.substr(valueBegin, valueEnd - valueBegin);
    size_t start = 0;
    for (size_t pos = value.find("\\r\\n"); pos != std::string::npos; pos = value.find("\\r\\n", start)) {
        m.lines.push_back(value.substr(start, pos - start));
        start = pos + 4;
    }
    m.lines.push_back(value.substr(start));
    return m;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The payload an attribute line is about ("96", "*"), or "" for any other line.
std::string AttributePayload(const std::string& line)
{
    for (const char* attribute : {"a=rtpmap:", "a=rtcp-fb:", "a=fmtp:"}) {
        if (StartsWith(line, attribute)) {
            const size_t begin = std::string(attribute).size();
            return line.substr(begin, line.find(' ') - begin);
        }
    }
    return "";
}

// Compares a rewritten message with its original: the bytes around the
// value are identical, the m=video line reads mline (when given), and the
// lines that went are exactly those that dropped() picks, no more.
template <typename Pick>
void ExpectLines(const std::string& before, const std::string& after, const std::string& mline, Pick dropped,
                 size_t droppedCount)
{
    const Message in = Cut(before);
    const Message out = Cut(after);
    EXPECT_EQ(out.head, in.head);
    EXPECT_EQ(out.tail, in.tail);
    std::vector<std::string> expected;
    size_t count = 0;
    bool inVideo = false;
    for (const std::string& line : in.lines) {
        if (StartsWith(line, "m="))
            inVideo = StartsWith(line, "m=video");
        if (dropped(line, inVideo)) {
            ++count;
            continue;
        }
        expected.push_back(!mline.empty() && StartsWith(line, "m=video") ? mline : line);
    }
    EXPECT_EQ(count, droppedCount);
    EXPECT_EQ(out.lines, expected);
}

TEST(SdpFixtures, AreBrowserMessagesWithDescriptionsEndingInALineBreak)
{
    for (const char* name : kFixtures) {
        SCOPED_TRACE(name);
        const std::string json = Fixture(name);
        std::string sdp;
        std::string id;
        ASSERT_EQ(CJsonTools::GetStringValue(json, "sdp", sdp), 0);
        CJsonTools::GetStringValue(json, "peerconnectionid", id);
        EXPECT_FALSE(id.empty());
        EXPECT_TRUE(StartsWith(sdp, "v=0\r\n"));
        EXPECT_EQ(sdp.substr(sdp.size() - 2), "\r\n");
        EXPECT_EQ(Cut(json).lines.back(), "");
    }
}

TEST(SdpDirection, ReplacesEverySendrecvOfTheWholeTextByMode)
{
    for (const char* name : kFixtures) {
        SCOPED_TRACE(name);
        const std::string json = Fixture(name);
        // A real answer to a sendonly offer has nothing to pin.
        EXPECT_EQ(json.find("sendrecv") == std::string::npos, std::string(name) == "chrome156_answer");
        std::string two = json;
        std::string three = json;
        std::string other = json;
        EXPECT_EQ(CWebRtcConnect::SetSdpDirection(2, two), 0);
        EXPECT_EQ(CWebRtcConnect::SetSdpDirection(3, three), 0);
        EXPECT_EQ(CWebRtcConnect::SetSdpDirection(1, other), 0);
        EXPECT_EQ(two, ReplaceAll(json, "sendrecv", "sendonly"));
        EXPECT_EQ(three, ReplaceAll(json, "sendrecv", "recvonly"));
        EXPECT_EQ(other, json);
    }
    std::string text = "{\"note\":\"sendrecvsendrecv\",\"sdp\":\"a=sendrecv\\r\\n\"}";
    CWebRtcConnect::SetSdpDirection(3, text);
    EXPECT_EQ(text, "{\"note\":\"recvonlyrecvonly\",\"sdp\":\"a=recvonly\\r\\n\"}");
    text = "{\"sdp\":\"a=sendrecv\\r\\n\"}";
    CWebRtcConnect::SetSdpDirection(0, text);
    EXPECT_EQ(text, "{\"sdp\":\"a=sendrecv\\r\\n\"}");
}

TEST(SdpSsrcRemoval, DropsExactlyTheSsrcAndSsrcGroupLinesOfEachFixture)
{
    const struct {
        const char* name;
        size_t dropped;
    } cases[] = {
        {"chrome_offer", 7}, {"chrome_answer", 7}, {"firefox_offer", 4},   {"firefox_answer", 4},
        {"safari_offer", 7}, {"safari_answer", 7}, {"chrome156_offer", 7}, {"chrome156_answer", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = Fixture(c.name);
        std::string out = json;
        EXPECT_EQ(CWebRtcConnect::DelSDPSsrcInfo(out), 0);
        ExpectLines(
            json, out, "",
            [](const std::string& line, bool) {
                return StartsWith(line, "a=ssrc:") || StartsWith(line, "a=ssrc-group:");
            },
            c.dropped);
    }
}

// Codec ids: 1 H.264, 2 VP9, 3 VP8.
TEST(SdpVideoCodecFilter, KeepsOneCodecAndItsRetransmissionInEachFixture)
{
    const struct {
        const char* name;
        int codec;
        const char* pt;
        const char* rtx;
        size_t dropped;
    } cases[] = {
        {"chrome_offer", 3, "96", "97", 94},
        {"chrome_offer", 1, "112", "113", 93},  // the last of seven H.264 payloads
        {"chrome_offer", 2, "100", "101", 93},
        {"chrome_answer", 3, "96", "97", 40},
        {"chrome_answer", 1, "106", "107", 39},
        {"chrome_answer", 2, "98", "99", 39},
        {"safari_offer", 1, "98", "99", 38},  // H265 is not H264
        {"safari_offer", 3, "127", "125", 39},
        {"safari_offer", 2, "104", "105", 38},
        {"safari_answer", 1, "106", "107", 30},
        {"safari_answer", 3, "96", "97", 31},
        // Firefox writes its fmtp lines before the rtpmap lines, so no apt= line
        // follows the codec's own line: no rtx, and the section keeps every line.
        {"firefox_offer", 3, "120", "", 0},
        {"firefox_offer", 1, "97", "", 0},
        {"firefox_offer", 2, "121", "", 0},
        {"firefox_answer", 3, "96", "", 0},
        {"firefox_answer", 1, "102", "", 0},
        {"chrome156_offer", 3, "96", "97", 85},
        {"chrome156_offer", 1, "39", "40", 84},  // the last of six H.264 payloads
        {"chrome156_offer", 2, "100", "101", 84},
        // Its answer to an offer without rtx: no rtx, and nothing goes.
        {"chrome156_answer", 3, "96", "", 0},
        {"chrome156_answer", 1, "102", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " codec " + std::to_string(c.codec));
        const std::string json = Fixture(c.name);
        std::string out = json;
        EXPECT_EQ(CWebRtcConnect::FilterVideoCodec(out, c.codec, 1), 0);
        const std::string pt = c.pt;
        const std::string rtx = c.rtx;
        std::string mline = "m=video 9 UDP/TLS/RTP/SAVPF " + pt + (rtx.empty() ? "" : " " + rtx);
        ExpectLines(
            json, out, mline,
            [&](const std::string& line, bool inVideo) {
                const std::string payload = AttributePayload(line);
                return inVideo && !rtx.empty() && !payload.empty() && payload != pt && payload != rtx;
            },
            c.dropped);
        std::string again = out;
        EXPECT_EQ(CWebRtcConnect::FilterVideoCodec(again, c.codec, 1), 0);
        EXPECT_EQ(again, out) << "a second pass changed the text";
    }
}

TEST(SdpDataChannel, OnlyTheApplicationProfileChanges)
{
    for (const char* name : kFixtures) {
        SCOPED_TRACE(name);
        const std::string json = Fixture(name);
        std::string out = json;
        EXPECT_EQ(CWebRtcConnect::ModifyDataChnlProtocol(out), 0);
        const bool hasData = json.find("m=application") != std::string::npos;
        EXPECT_EQ(hasData, std::string(name) == "chrome_offer" || std::string(name) == "firefox_offer" ||
                               std::string(name) == "chrome156_offer");
        const std::string expected = ReplaceAll(json, "m=application 9 UDP/DTLS/SCTP", "m=application 9 DTLS/SCTP");
        EXPECT_EQ(out, expected);
        EXPECT_EQ(out.find("UDP/DTLS/SCTP"), std::string::npos);
    }
}

TEST(SdpMediaTests, ReportMediaAndCodecsOfEachFixture)
{
    const struct {
        const char* name;
        bool video, audio, data, h264, vp8, vp9;
    } cases[] = {
        {"chrome_offer", true, true, true, true, true, true},
        {"chrome_answer", true, true, false, true, true, true},
        {"firefox_offer", true, true, true, true, true, true},
        {"firefox_answer", true, true, false, true, true, true},
        {"safari_offer", true, true, false, true, true, true},
        {"safari_answer", true, true, false, true, true, true},
        {"chrome156_offer", true, true, true, true, true, true},
        {"chrome156_answer", true, true, false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = Fixture(c.name);
        bool video = false, audio = false, data = false, h264 = false, vp8 = false, vp9 = false;
        CWebRtcConnect::CheckMediaType(json, video, audio, data);
        CWebRtcConnect::CheckVideoCodec(json, h264, vp8, vp9);
        EXPECT_EQ(video, c.video);
        EXPECT_EQ(audio, c.audio);
        EXPECT_EQ(data, c.data);
        EXPECT_EQ(h264, c.h264);
        EXPECT_EQ(vp8, c.vp8);
        EXPECT_EQ(vp9, c.vp9);
    }
    bool video = true, audio = true, data = true, h264 = true, vp8 = true, vp9 = true;
    CWebRtcConnect::CheckMediaType("{\"sdp\":\"m=audio 9 x\\r\\n\"}", video, audio, data);
    CWebRtcConnect::CheckVideoCodec("{\"sdp\":\"a=rtpmap:96 VP8/90000\"}", h264, vp8, vp9);
    EXPECT_FALSE(video);
    EXPECT_TRUE(audio);
    EXPECT_FALSE(data);
    EXPECT_FALSE(h264);
    EXPECT_TRUE(vp8);
    EXPECT_FALSE(vp9);
}

// The browser answer of a peer the browser only receives on, as the
// signalling handler rewrites it, stays a message the reader takes whole.
TEST(SdpAnswerChain, LeavesAReadableMessageWithEveryOtherMemberIntact)
{
    for (const char* name : {"chrome_answer", "firefox_answer", "safari_answer", "chrome156_answer"}) {
        SCOPED_TRACE(name);
        const std::string json = Fixture(name);
        std::string out = json;
        CWebRtcConnect::SetSdpDirection(3, out);
        EXPECT_EQ(CWebRtcConnect::DelSDPSsrcInfo(out), 0);
        EXPECT_EQ(CWebRtcConnect::FilterVideoCodec(out, 3, 1), 0);
        for (const char* key : {"peerconnectionid", "type"}) {
            std::string was;
            std::string now;
            CJsonTools::GetStringValue(json, key, was);
            CJsonTools::GetStringValue(out, key, now);
            EXPECT_EQ(now, was) << key;
        }
        std::string sdp;
        CJsonTools::GetStringValue(out, "sdp", sdp);
        EXPECT_EQ(sdp.find("sendrecv"), std::string::npos);
        EXPECT_EQ(sdp.find("a=ssrc"), std::string::npos);
        EXPECT_NE(sdp.find("\r\na=recvonly\r\n"), std::string::npos);
        EXPECT_EQ(sdp.substr(sdp.size() - 2), "\r\n");
        EXPECT_NE(sdp.substr(sdp.size() - 4), "\r\n\r\n");
    }
}

struct TextCase {
    const char* name;
    std::string in;
    std::string out;
    int result;
};

// The video section of the small texts: VP8 96 with rtx 97, H.264 102 with rtx 103.
const std::string kVideo =
    "m=video 9 UDP/TLS/RTP/SAVPF 96 97 102 103\\r\\n"
    "a=rtpmap:96 VP8/90000\\r\\na=rtcp-fb:96 nack\\r\\na=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\r\\n"
    "a=rtpmap:102 H264/90000\\r\\na=fmtp:102 packetization-mode=1\\r\\n"
    "a=rtpmap:103 rtx/90000\\r\\na=fmtp:103 apt=102\\r\\n";
const std::string kVp8Video =
    "m=video 9 UDP/TLS/RTP/SAVPF 96 97\\r\\n"
    "a=rtpmap:96 VP8/90000\\r\\na=rtcp-fb:96 nack\\r\\na=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\r\\n";
const std::string kH264Video = "m=video 9 UDP/TLS/RTP/SAVPF 102 103\\r\\n"
                               "a=rtpmap:102 H264/90000\\r\\na=fmtp:102 packetization-mode=1\\r\\n"
                               "a=rtpmap:103 rtx/90000\\r\\na=fmtp:103 apt=102\\r\\n";
const std::string kAudio = "m=audio 9 UDP/TLS/RTP/SAVPF 111\\r\\na=rtpmap:111 opus/48000/2\\r\\n";

std::string Msg(const std::string& sdp)
{
    return "{\"type\":\"answer\",\"sdp\":\"" + sdp + "\",\"peerconnectionid\":\"pc1\"}";
}

template <typename Op>
void RunTextCases(const std::vector<TextCase>& cases, Op op)
{
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        std::string text = c.in;
        EXPECT_EQ(op(text), c.result);
        EXPECT_EQ(text, c.out);
        // A refusal leaves the text as it was.
        if (c.result != 0) {
            EXPECT_EQ(text, c.in);
        }
    }
}

TEST(SdpSsrcRemoval, SmallTextsComeOutByteExact)
{
    const std::vector<TextCase> cases = {
        {"whitespace around the members stays",
         " { \"type\" : \"answer\" ,\n \"sdp\" : \"v=0\\r\\na=ssrc:1 cname:x\\r\\ns=-\\r\\n\" }\n",
         " { \"type\" : \"answer\" ,\n \"sdp\" : \"v=0\\r\\ns=-\\r\\n\" }\n", 0},
        {"commas in other members stay", "{\"note\":\"a,b\",\"sdp\":\"v=0\\r\\na=ssrc:1 x\\r\\n\",\"x\":\"c,d\"}",
         "{\"note\":\"a,b\",\"sdp\":\"v=0\\r\\n\",\"x\":\"c,d\"}", 0},
        {"a comma inside the value stays", "{\"sdp\":\"v=0\\r\\ns=a,b\\r\\na=ssrc:1 x\\r\\n\",\"type\":\"answer\"}",
         "{\"sdp\":\"v=0\\r\\ns=a,b\\r\\n\",\"type\":\"answer\"}", 0},
        {"a quote in another member stays", "{\"type\":\"an\\\"swer\",\"sdp\":\"v=0\\r\\na=ssrc:1\\r\\n\"}",
         "{\"type\":\"an\\\"swer\",\"sdp\":\"v=0\\r\\n\"}", 0},
        {"quotes and backslashes inside the value are escaped again",
         "{\"sdp\":\"s=say \\\"hi\\\" \\\\ bye\\r\\na=ssrc:1\\r\\n\"}", "{\"sdp\":\"s=say \\\"hi\\\" \\\\ bye\\r\\n\"}",
         0},
        {"control characters are escaped again, UTF-8 stays as it is",
         "{\"sdp\":\"s=a\\tlong enough text\\u0001end \xc3\xa9\\r\\na=ssrc:1\\r\\n\"}",
         "{\"sdp\":\"s=a\\tlong enough text\\u0001end \xc3\xa9\\r\\n\"}", 0},
        {"lone LF ends a line and comes back as CR LF", "{\"sdp\":\"v=0\\na=ssrc:1\\ns=-\\r\\nt=0 0\\n\"}",
         "{\"sdp\":\"v=0\\r\\ns=-\\r\\nt=0 0\\r\\n\"}", 0},
        {"a value without a final line break gets none", "{\"sdp\":\"v=0\\r\\na=ssrc:1\"}", "{\"sdp\":\"v=0\"}", 0},
        {"no kept line gives an empty value", "{\"sdp\":\"a=ssrc:1 x\",\"type\":\"answer\"}",
         "{\"sdp\":\"\",\"type\":\"answer\"}", 0},
        {"a kept empty last piece gives an empty value", "{\"sdp\":\"a=ssrc:1 x\\r\\n\"}", "{\"sdp\":\"\"}", 0},
        {"an escaped slash comes back plain", "{\"sdp\":\"m=video 9 UDP\\/TLS\\r\\na=ssrc:1\\r\\n\"}",
         "{\"sdp\":\"m=video 9 UDP/TLS\\r\\n\"}", 0},
        {"an sdp member of a nested object is not the one",
         "{\"meta\":{\"sdp\":\"a=ssrc:9\"},\"sdp\":\"v=0\\r\\na=ssrc:1\\r\\n\"}",
         "{\"meta\":{\"sdp\":\"a=ssrc:9\"},\"sdp\":\"v=0\\r\\n\"}", 0},
        {"sdp written inside another value is not the member",
         "{\"note\":\"\\\"sdp\\\":\\\"a=ssrc:9\\\"\",\"sdp\":\"v=0\\r\\na=ssrc:1\\r\\n\"}",
         "{\"note\":\"\\\"sdp\\\":\\\"a=ssrc:9\\\"\",\"sdp\":\"v=0\\r\\n\"}", 0},
        {"of two sdp members the last is read and replaced",
         "{\"sdp\":\"v=1\\r\\na=ssrc:1\\r\\n\",\"sdp\":\"v=0\\r\\na=ssrc:2\\r\\n\"}",
         "{\"sdp\":\"v=1\\r\\na=ssrc:1\\r\\n\",\"sdp\":\"v=0\\r\\n\"}", 0},
        {"an escaped key names the member too", "{\"s\\u0064p\":\"v=0\\r\\na=ssrc:1\\r\\n\"}",
         "{\"s\\u0064p\":\"v=0\\r\\n\"}", 0},
        {"comments around the member stay", "{/*a*/\"sdp\":/*c*/\"v=0\\r\\na=ssrc:1\\r\\n\"//d\n}",
         "{/*a*/\"sdp\":/*c*/\"v=0\\r\\n\"//d\n}", 0},
        {"a member the reader stops at hides a later sdp",
         "{\"sdp\":\"v=0\\r\\na=ssrc:1\\r\\n\",\"x\"/*b*/:1,\"sdp\":\"v=1\\r\\n\"}",
         "{\"sdp\":\"v=0\\r\\n\",\"x\"/*b*/:1,\"sdp\":\"v=1\\r\\n\"}", 0},
        {"comments inside a nested value are skipped", "{\"a\":[1,/*]*/2],\"sdp\":\"v=0\\r\\na=ssrc:1\\r\\n\"}",
         "{\"a\":[1,/*]*/2],\"sdp\":\"v=0\\r\\n\"}", 0},
        {"no sdp member", "{\"type\":\"candidate\",\"candidate\":\"candidate:1 1 udp 1 10.0.0.1 9 typ host\"}",
         "{\"type\":\"candidate\",\"candidate\":\"candidate:1 1 udp 1 10.0.0.1 9 typ host\"}", -1},
        {"an empty sdp value", "{\"sdp\":\"\"}", "{\"sdp\":\"\"}", -1},
        {"an object sdp value", "{\"sdp\":{\"v\":\"a=ssrc:1\"}}", "{\"sdp\":{\"v\":\"a=ssrc:1\"}}", -1},
        {"a number sdp value", "{\"sdp\":5}", "{\"sdp\":5}", -1},
        {"an empty text", "", "", -1},
        {"not JSON", "a=ssrc:1", "a=ssrc:1", -1},
    };
    RunTextCases(cases, [](std::string& text) { return CWebRtcConnect::DelSDPSsrcInfo(text); });
}

TEST(SdpSsrcRemoval, AMissingValueIsLogged)
{
    for (const char* text : {"{\"type\":\"candidate\"}", "{\"sdp\":\"\"}", "{\"sdp\":{\"x\":1}}", ""}) {
        SCOPED_TRACE(text);
        LogCapture log;
        std::string json = text;
        EXPECT_EQ(CWebRtcConnect::DelSDPSsrcInfo(json), -1);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{kNoSdpLine});
    }
}

TEST(SdpVideoCodecFilter, SmallTextsComeOutByteExact)
{
    // Codec ids: 1 H.264, 2 VP9, 3 VP8.
    struct FilterCase {
        const char* name;
        int codec;
        int flag;
        std::string in;
        std::string out;
        int result;
    };
    const std::string rtcpStar = "a=rtcp-fb:* ccm fir\\r\\n";
    const std::vector<FilterCase> cases = {
        {"VP8 keeps 96 and 97 up to the audio section", 3, 1, Msg("v=0\\r\\n" + kVideo + kAudio),
         Msg("v=0\\r\\n" + kVp8Video + kAudio), 0},
        {"H.264 keeps 102 and 103", 1, 1, Msg("v=0\\r\\n" + kVideo + kAudio), Msg("v=0\\r\\n" + kH264Video + kAudio),
         0},
        {"an audio section before the video is left alone", 3, 1, Msg("v=0\\r\\n" + kAudio + kVideo),
         Msg("v=0\\r\\n" + kAudio + kVp8Video), 0},
        {"audio before video: every line after m=video is filtered", 3, 1,
         Msg("v=0\\r\\n" + kAudio + kVideo + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\\r\\n" +
             "a=rtpmap:102 H264/90000\\r\\n"),
         Msg("v=0\\r\\n" + kAudio + kVp8Video + "m=application 9 UDP/DTLS/SCTP webrtc-datachannel\\r\\n"), 0},
        {"a=rtcp-fb:* lines of the video section go", 3, 1, Msg("v=0\\r\\n" + kVideo + rtcpStar + kAudio + rtcpStar),
         Msg("v=0\\r\\n" + kVp8Video + kAudio + rtcpStar), 0},
        {"without rtx the m= line ends at pt and no line goes", 3, 1,
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 102\\r\\na=rtpmap:96 VP8/90000\\r\\na=rtpmap:102 "
             "H264/90000\\r\\n" +
             rtcpStar),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96\\r\\na=rtpmap:96 VP8/90000\\r\\na=rtpmap:102 H264/90000\\r\\n" +
             rtcpStar),
         0},
        {"a codec the text does not name leaves it unchanged", 2, 1, Msg("v=0\\r\\n" + kVideo + kAudio),
         Msg("v=0\\r\\n" + kVideo + kAudio), 0},
        {"the last of several H.264 payloads fixes pt", 1, 1,
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 102 103 104 105\\r\\na=rtpmap:102 H264/90000\\r\\n"
             "a=rtpmap:103 rtx/90000\\r\\na=fmtp:103 apt=102\\r\\na=rtpmap:104 H264/90000\\r\\n"
             "a=rtcp-fb:104 nack pli\\r\\na=rtpmap:105 rtx/90000\\r\\na=fmtp:105 apt=104\\r\\n"),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 104 105\\r\\na=rtpmap:104 H264/90000\\r\\n"
             "a=rtcp-fb:104 nack pli\\r\\na=rtpmap:105 rtx/90000\\r\\na=fmtp:105 apt=104\\r\\n"),
         0},
        {"an rtx of an earlier payload of the codec is not the chosen one's", 3, 1,
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97 98\\r\\na=rtpmap:96 VP8/90000\\r\\n"
             "a=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\r\\na=rtpmap:98 VP8/90000\\r\\n" +
             kAudio),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 98\\r\\na=rtpmap:98 VP8/90000\\r\\n" + kAudio), 0},
        {"the chosen payload keeps its own rtx when an earlier one has another", 3, 1,
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97 98 99\\r\\na=rtpmap:96 VP8/90000\\r\\n"
             "a=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\r\\na=rtpmap:98 VP8/90000\\r\\n"
             "a=rtpmap:99 rtx/90000\\r\\na=fmtp:99 apt=98\\r\\n"),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 98 99\\r\\na=rtpmap:98 VP8/90000\\r\\n"
             "a=rtpmap:99 rtx/90000\\r\\na=fmtp:99 apt=98\\r\\n"),
         0},
        // The line that makes 97 the rtx of 96 also names 98 (a lone CR is no
        // line break): dropping it would leave 97 in the m= line with no apt=.
        {"a line with the attributes of two payloads leaves the text as it came", 3, 1,
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97 98\\r\\na=rtpmap:96 VP8/90000\\r\\n"
             "a=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\ra=rtpmap:98 H264/90000\\r\\n"),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97 98\\r\\na=rtpmap:96 VP8/90000\\r\\n"
             "a=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\ra=rtpmap:98 H264/90000\\r\\n"),
         0},
        {"payload numbers match whole: 10 is not 100, after apt= too", 3, 1,
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 10 11 100 101\\r\\na=rtpmap:10 VP8/90000\\r\\n"
             "a=rtpmap:11 rtx/90000\\r\\na=fmtp:11 apt=10\\r\\na=rtpmap:100 H264/90000\\r\\n"
             "a=rtcp-fb:100 nack\\r\\na=rtpmap:101 rtx/90000\\r\\na=fmtp:101 apt=100\\r\\n"),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 10 11\\r\\na=rtpmap:10 VP8/90000\\r\\n"
             "a=rtpmap:11 rtx/90000\\r\\na=fmtp:11 apt=10\\r\\n"),
         0},
        {"pt only from a line whose first colon precedes its first space", 3, 1,
         Msg("v=0\\r\\n" + kVideo + "a=x-note VP8:preferred\\r\\na=x-codec:VP8\\r\\n"),
         Msg("v=0\\r\\n" + kVp8Video + "a=x-note VP8:preferred\\r\\na=x-codec:VP8\\r\\n"), 0},
        {"lone LF lines come back as CR LF", 3, 1,
         Msg("v=0\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97 102\\na=rtpmap:96 VP8/90000\\na=rtpmap:97 rtx/90000\\n"
             "a=fmtp:97 apt=96\\na=rtpmap:102 H264/90000\\n"),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97\\r\\na=rtpmap:96 VP8/90000\\r\\na=rtpmap:97 rtx/90000\\r\\n"
             "a=fmtp:97 apt=96\\r\\n"),
         0},
        {"commas and quotes around the value stay", 3, 1,
         " {\"note\":\"x,\\\"y\\\"\", \"sdp\" : \"v=0\\r\\n" + kVideo + "\" ,\"z\":[1,2]} ",
         " {\"note\":\"x,\\\"y\\\"\", \"sdp\" : \"v=0\\r\\n" + kVp8Video + "\" ,\"z\":[1,2]} ", 0},
        {"flag 2 takes the codec out everywhere", 1, 2, Msg("v=0\\r\\n" + kVideo + kAudio),
         Msg("v=0\\r\\nm=video 9 UDP/TLS/RTP/SAVPF 96 97\\r\\na=rtpmap:96 VP8/90000\\r\\na=rtcp-fb:96 nack\\r\\n"
             "a=rtpmap:97 rtx/90000\\r\\na=fmtp:97 apt=96\\r\\n" +
             kAudio),
         0},
        {"no m=video line", 3, 1, Msg("v=0\\r\\n" + kAudio), Msg("v=0\\r\\n" + kAudio), 0},
        {"m=video as the first line counts as none", 3, 1, Msg(kVideo), Msg(kVideo), 0},
        {"an unknown codec", 4, 1, Msg("v=0\\r\\n" + kVideo), Msg("v=0\\r\\n" + kVideo), -1},
        {"an unknown flag", 3, 3, Msg("v=0\\r\\n" + kVideo), Msg("v=0\\r\\n" + kVideo), -1},
        {"no sdp member", 3, 1, "{\"type\":\"answer\"}", "{\"type\":\"answer\"}", -1},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        std::string text = c.in;
        EXPECT_EQ(CWebRtcConnect::FilterVideoCodec(text, c.codec, c.flag), c.result);
        EXPECT_EQ(text, c.out);
        const bool noSdp = c.in.find("\"sdp\"") == std::string::npos;
        EXPECT_EQ(log.Lines(), noSdp ? std::vector<std::string>{kNoSdpLine} : std::vector<std::string>{});
        // What the filter keeps it keeps again: a second pass changes nothing.
        if (c.flag == 1 && c.result == 0) {
            EXPECT_EQ(CWebRtcConnect::FilterVideoCodec(text, c.codec, c.flag), 0);
            EXPECT_EQ(text, c.out);
        }
    }
}

TEST(SdpReplaceAll, ReplacesLeftToRightWithoutRescanningInsertedText)
{
    const struct {
        const char* text;
        const char* from;
        const char* to;
        const char* out;
    } cases[] = {
        {"a UDP/DTLS/SCTP b UDP/DTLS/SCTP", "UDP/DTLS/SCTP", "DTLS/SCTP", "a DTLS/SCTP b DTLS/SCTP"},
        {"aaa", "a", "aa", "aaaaaa"},
        {"aaa", "aa", "b", "ba"},
        {"abc", "b", "", "ac"},
        {"abc", "x", "y", "abc"},
        {"", "a", "b", ""},
        {"abc", "", "x", "abc"},  // an empty pattern changes nothing instead of looping
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.from);
        std::string text = c.text;
        EXPECT_EQ(CWebRtcConnect::ReplaceAllString(text, c.from, c.to), 0);
        EXPECT_EQ(text, c.out);
    }
}

TEST(SdpSplit, CutsAtEveryDelimiterAndGrowsTheCallersText)
{
    const struct {
        const char* text;
        const char* delimiter;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a\r\nb\r\n", "\r\n", {"a", "b", ""}},
        {"a\r\nb", "\r\n", {"a", "b"}},
        {"a,,b", ",", {"a", "", "b"}},
        {"a b", "", {"a", "b"}},  // an empty delimiter is one space
        {"", ",", {""}},
        {"aaa", "aa", {"", "a"}},  // the appended delimiter takes nothing from the text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(CWebRtcConnect::SplitString(text, c.delimiter), c.pieces);
        const std::string delimiter = *c.delimiter != '\0' ? c.delimiter : " ";
        EXPECT_EQ(text, std::string(c.text) + delimiter);
    }
}

TEST(SdpReplaceMember, PutsTheNewValueInPlaceOfTheOldOne)
{
    const std::vector<TextCase> cases = {
        {"first member", "{\"sdp\":\"old\",\"x\":1}", "{\"sdp\":\"new\",\"x\":1}", 0},
        {"blanks around the text and the colon stay", " {\"x\":\"a,b\" , \"sdp\" : \"old\" } ",
         " {\"x\":\"a,b\" , \"sdp\" : \"new\" } ", 0},
        {"no sdp member", "{\"x\":\"sdp\"}", "{\"x\":\"sdp\"}", -1},
        {"not an object", "[\"sdp\",\"old\"]", "[\"sdp\",\"old\"]", -1},
        {"too deep before the member",
         "{\"a\":" + std::string(2000, '[') + std::string(2000, ']') + ",\"sdp\":\"old\"}",
         "{\"a\":" + std::string(2000, '[') + std::string(2000, ']') + ",\"sdp\":\"old\"}", -1},
    };
    RunTextCases(cases, [](std::string& text) { return CWebRtcConnect::ReplaceSdpInfo(text, "\"sdp\":\"new\""); });
}

TEST(SdpLargeDescription, OneMebibyteIsRewrittenWhole)
{
    std::string video = "v=0\\r\\n" + kVideo;
    std::string extra;
    for (int i = 0; extra.size() < (1u << 20); ++i)
        extra += "a=ssrc:" + std::to_string(i) + " cname:abcdefgh\\r\\na=x-filler:" + std::to_string(i) + "\\r\\n";
    std::string text = Msg(video + extra + kAudio);
    EXPECT_EQ(CWebRtcConnect::DelSDPSsrcInfo(text), 0);
    EXPECT_EQ(CWebRtcConnect::FilterVideoCodec(text, 3, 1), 0);
    std::string sdp;
    CJsonTools::GetStringValue(text, "sdp", sdp);
    EXPECT_GT(sdp.size(), 300000u);
    EXPECT_EQ(sdp.find("a=ssrc"), std::string::npos);
    EXPECT_NE(sdp.find("\r\nm=video 9 UDP/TLS/RTP/SAVPF 96 97\r\n"), std::string::npos);
    const std::string last = "\r\na=rtpmap:111 opus/48000/2\r\n";
    EXPECT_EQ(sdp.substr(sdp.size() - last.size()), last);
}

}  // namespace

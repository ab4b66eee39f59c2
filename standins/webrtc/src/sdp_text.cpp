#include "sdp_text.h"

#include <cstdio>

namespace rtcstub {

bool ParseShape(const std::string& name, Shape& out)
{
    if (name == "chrome")
        out = Shape::kChrome;
    else if (name == "firefox")
        out = Shape::kFirefox;
    else
        return false;
    return true;
}

const char* ShapeName(Shape shape)
{
    return shape == Shape::kFirefox ? "firefox" : "chrome";
}

namespace {

// A small generator, so every peer's values differ and still repeat.
class Mixer
{
public:
    explicit Mixer(uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ (uint64_t(seed) * 0xBF58476D1CE4E5B9ull)) {}
    uint32_t Next()
    {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    std::string Chars(const char* alphabet, size_t alphabetSize, size_t n)
    {
        std::string out;
        for (size_t i = 0; i < n; ++i)
            out += alphabet[Next() % alphabetSize];
        return out;
    }
    std::string Hex(size_t n)
    {
        static const char digits[] = "0123456789abcdef";
        return Chars(digits, 16, n);
    }
    std::string Uuid() { return Hex(8) + "-" + Hex(4) + "-4" + Hex(3) + "-a" + Hex(3) + "-" + Hex(12); }

private:
    uint64_t state_;
};

const char kIceChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct CodecRow {
    const char* pt;
    const char* rtpmap;
    const char* fmtp;  // null for none
    bool feedback;     // carries the medium's rtcp-fb lines
};

// What each shape offers, in its m= line order.
const CodecRow kChromeAudio[] = {
    {"111", "opus/48000/2", "minptime=10;useinbandfec=1", true},
    {"63", "red/48000/2", "111/111", false},
    {"9", "G722/8000", nullptr, false},
    {"0", "PCMU/8000", nullptr, false},
    {"8", "PCMA/8000", nullptr, false},
    {"13", "CN/8000", nullptr, false},
    {"110", "telephone-event/48000", nullptr, false},
    {"126", "telephone-event/8000", nullptr, false},
};
const CodecRow kChromeVideo[] = {
    {"96", "VP8/90000", nullptr, true},
    {"97", "rtx/90000", "apt=96", false},
    {"98", "VP9/90000", "profile-id=0", true},
    {"99", "rtx/90000", "apt=98", false},
    {"102", "H264/90000", "level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42001f", true},
    {"103", "rtx/90000", "apt=102", false},
    {"106", "H264/90000", "level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f", true},
    {"107", "rtx/90000", "apt=106", false},
    {"45", "AV1/90000", "level-idx=5;profile=0;tier=0", true},
    {"46", "rtx/90000", "apt=45", false},
    {"116", "red/90000", nullptr, false},
    {"117", "rtx/90000", "apt=116", false},
    {"118", "ulpfec/90000", nullptr, false},
};
const char* const kChromeAudioFb[] = {"transport-cc"};
const char* const kChromeVideoFb[] = {"goog-remb", "transport-cc", "ccm fir", "nack", "nack pli"};
const char* const kChromeAudioExt[] = {
    "1 urn:ietf:params:rtp-hdrext:ssrc-audio-level",
    "2 http://www.webrtc.org/experiments/rtp-hdrext/abs-send-time",
    "3 http://www.ietf.org/id/draft-holmer-rmcat-transport-wide-cc-extensions-01",
    "4 urn:ietf:params:rtp-hdrext:sdes:mid",
};
const char* const kChromeVideoExt[] = {
    "14 urn:ietf:params:rtp-hdrext:toffset",
    "2 http://www.webrtc.org/experiments/rtp-hdrext/abs-send-time",
    "13 urn:3gpp:video-orientation",
    "3 http://www.ietf.org/id/draft-holmer-rmcat-transport-wide-cc-extensions-01",
    "5 http://www.webrtc.org/experiments/rtp-hdrext/playout-delay",
    "6 http://www.webrtc.org/experiments/rtp-hdrext/video-content-type",
    "7 http://www.webrtc.org/experiments/rtp-hdrext/video-timing",
    "8 http://www.webrtc.org/experiments/rtp-hdrext/color-space",
    "4 urn:ietf:params:rtp-hdrext:sdes:mid",
    "10 urn:ietf:params:rtp-hdrext:sdes:rtp-stream-id",
    "11 urn:ietf:params:rtp-hdrext:sdes:repaired-rtp-stream-id",
};

const CodecRow kFirefoxAudio[] = {
    {"109", "opus/48000/2", "maxplaybackrate=48000;stereo=1;useinbandfec=1", false},
    {"9", "G722/8000/1", nullptr, false},
    {"0", "PCMU/8000", nullptr, false},
    {"8", "PCMA/8000", nullptr, false},
    {"101", "telephone-event/8000/1", "0-15", false},
};
const CodecRow kFirefoxVideo[] = {
    {"120", "VP8/90000", "max-fs=12288;max-fr=60", true},
    {"124", "rtx/90000", "apt=120", false},
    {"121", "VP9/90000", "max-fs=12288;max-fr=60", true},
    {"125", "rtx/90000", "apt=121", false},
    {"126", "H264/90000", "profile-level-id=42e01f;level-asymmetry-allowed=1;packetization-mode=1", true},
    {"127", "rtx/90000", "apt=126", false},
    {"97", "H264/90000", "profile-level-id=42e01f;level-asymmetry-allowed=1", true},
    {"98", "rtx/90000", "apt=97", false},
    {"123", "ulpfec/90000", nullptr, false},
    {"122", "red/90000", nullptr, false},
    {"119", "rtx/90000", "apt=122", false},
};
const char* const kFirefoxVideoFb[] = {"nack", "nack pli", "ccm fir", "goog-remb", "transport-cc"};
const char* const kFirefoxAudioExt[] = {
    "1 urn:ietf:params:rtp-hdrext:ssrc-audio-level",
    "2/recvonly urn:ietf:params:rtp-hdrext:csrc-audio-level",
    "3 urn:ietf:params:rtp-hdrext:sdes:mid",
};
const char* const kFirefoxVideoExt[] = {
    "3 urn:ietf:params:rtp-hdrext:sdes:mid",
    "4 http://www.webrtc.org/experiments/rtp-hdrext/abs-send-time",
    "5 urn:ietf:params:rtp-hdrext:toffset",
    "6/recvonly http://www.webrtc.org/experiments/rtp-hdrext/playout-delay",
    "7 http://www.ietf.org/id/draft-holmer-rmcat-transport-wide-cc-extensions-01",
};

// A table of texts, of any length including none.
struct Texts {
    const char* const* p;
    size_t n;
};
template <size_t N>
Texts Of(const char* const (&a)[N])
{
    return Texts{a, N};
}
const Texts kNoTexts = {nullptr, 0};

template <size_t N>
SdpSection TableSection(const char* media, const std::string& mid, const CodecRow (&rows)[N], Texts fb, Texts ext)
{
    SdpSection s;
    s.media = media;
    s.port = "9";
    s.proto = "UDP/TLS/RTP/SAVPF";
    s.mid = mid;
    s.direction = "sendrecv";
    for (size_t i = 0; i < ext.n; ++i)
        s.extmaps.push_back(std::string("a=extmap:") + ext.p[i]);
    for (const CodecRow& row : rows) {
        s.fmts.push_back(row.pt);
        std::vector<std::string>& lines = s.ptLines[row.pt];
        lines.push_back(std::string("a=rtpmap:") + row.pt + " " + row.rtpmap);
        if (row.feedback)
            for (size_t i = 0; i < fb.n; ++i)
                lines.push_back(std::string("a=rtcp-fb:") + row.pt + " " + fb.p[i]);
        if (row.fmtp)
            lines.push_back(std::string("a=fmtp:") + row.pt + " " + row.fmtp);
        std::string name = row.rtpmap;
        s.codecs[row.pt] = name.substr(0, name.find('/'));
    }
    return s;
}

SdpSection DataSection(const std::string& mid)
{
    SdpSection s;
    s.media = "application";
    s.port = "9";
    s.proto = "UDP/DTLS/SCTP";
    s.fmts.push_back("webrtc-datachannel");
    s.mid = mid;
    s.sctpPort = "5000";
    return s;
}

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string Join(const std::vector<std::string>& parts)
{
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : " ") + p;
    return out;
}

// Lines of one payload that begin with prefix ("a=rtpmap:" ...).
void PtLinesOf(const SdpSection& s, const std::string& pt, const char* prefix, std::vector<std::string>& out)
{
    auto it = s.ptLines.find(pt);
    if (it == s.ptLines.end())
        return;
    for (const std::string& line : it->second)
        if (StartsWith(line, prefix))
            out.push_back(line);
}

bool HasRtx(const SdpSection& s)
{
    for (const auto& c : s.codecs)
        if (c.second == "rtx")
            return true;
    return false;
}

// Writes a description: the sections' own lines, with the peer's ICE,
// fingerprint, setup role, msid and ssrc lines added in the shape's order.
class Writer
{
public:
    Writer(Shape shape, const SdpIdentity& id, bool offer) : shape_(shape), id_(id), offer_(offer) {}

    std::string Write(const std::vector<SdpSection>& sections)
    {
        bool sends = false;
        std::vector<std::string> bundle;
        for (const SdpSection& s : sections) {
            if (s.port != "0")
                bundle.push_back(s.mid);
            if (!s.IsData() && s.port != "0" && WriterSends(s.direction))
                sends = true;
        }
        Line("v=0");
        if (shape_ == Shape::kFirefox) {
            Line("o=mozilla...THIS_IS_SDPARTA-99.0 " + id_.sessionId + " 0 IN IP4 0.0.0.0");
            Line("s=-");
            Line("t=0 0");
            Line("a=fingerprint:sha-256 " + id_.fingerprint);
            if (!bundle.empty())
                Line("a=group:BUNDLE " + Join(bundle));
            Line("a=ice-options:trickle");
            Line("a=msid-semantic:WMS *");
        } else {
            Line("o=- " + id_.sessionId + " 2 IN IP4 127.0.0.1");
            Line("s=-");
            Line("t=0 0");
            if (!bundle.empty())
                Line("a=group:BUNDLE " + Join(bundle));
            Line("a=extmap-allow-mixed");
            Line(sends ? "a=msid-semantic: WMS " + id_.stream : "a=msid-semantic: WMS");
        }
        for (const SdpSection& s : sections) {
            if (s.port == "0")
                Rejected(s);
            else if (s.IsData())
                Data(s);
            else if (shape_ == Shape::kFirefox)
                FirefoxRtp(s);
            else
                ChromeRtp(s);
        }
        return text_;
    }

private:
    void Line(const std::string& line) { text_ += line + "\r\n"; }
    const char* Setup() const { return offer_ ? "a=setup:actpass" : "a=setup:active"; }
    void MLine(const SdpSection& s) { Line("m=" + s.media + " " + s.port + " " + s.proto + " " + Join(s.fmts)); }

    void Rejected(const SdpSection& s)
    {
        MLine(s);
        Line("c=IN IP4 0.0.0.0");
        Line("a=inactive");
        Line("a=mid:" + s.mid);
    }

    void Data(const SdpSection& s)
    {
        MLine(s);
        Line("c=IN IP4 0.0.0.0");
        if (shape_ == Shape::kFirefox) {
            Line("a=sendrecv");
            Line("a=ice-pwd:" + id_.pwd);
            Line("a=ice-ufrag:" + id_.ufrag);
            Line("a=mid:" + s.mid);
            Line(Setup());
        } else {
            Line("a=ice-ufrag:" + id_.ufrag);
            Line("a=ice-pwd:" + id_.pwd);
            Line("a=ice-options:trickle");
            Line("a=fingerprint:sha-256 " + id_.fingerprint);
            Line(Setup());
            Line("a=mid:" + s.mid);
        }
        if (!s.sctpPort.empty()) {
            Line("a=sctp-port:" + s.sctpPort);
        } else if (!s.fmts.empty() && s.fmts[0] != "webrtc-datachannel") {
            // The older form names the port in the m= line.
            Line("a=sctpmap:" + s.fmts[0] + " webrtc-datachannel 1024");
        }
        Line(shape_ == Shape::kFirefox ? "a=max-message-size:1073741823" : "a=max-message-size:262144");
    }

    // Ssrcs of a section this side sends on: audio one, video two (with rtx).
    void SsrcsOf(const SdpSection& s, uint32_t& main, uint32_t& rtx, std::string& track) const
    {
        const bool video = s.media == "video";
        main = video ? id_.videoSsrc : id_.audioSsrc;
        rtx = video && HasRtx(s) ? id_.rtxSsrc : 0;
        track = video ? id_.videoTrack : id_.audioTrack;
    }

    void ChromeRtp(const SdpSection& s)
    {
        const bool sends = WriterSends(s.direction);
        MLine(s);
        Line("c=IN IP4 0.0.0.0");
        Line("a=rtcp:9 IN IP4 0.0.0.0");
        Line("a=ice-ufrag:" + id_.ufrag);
        Line("a=ice-pwd:" + id_.pwd);
        Line("a=ice-options:trickle");
        Line("a=fingerprint:sha-256 " + id_.fingerprint);
        Line(Setup());
        Line("a=mid:" + s.mid);
        for (const std::string& e : s.extmaps)
            Line(e);
        Line("a=" + (s.direction.empty() ? std::string("sendrecv") : s.direction));
        uint32_t main = 0, rtx = 0;
        std::string track;
        SsrcsOf(s, main, rtx, track);
        if (sends)
            Line("a=msid:" + id_.stream + " " + track);
        Line("a=rtcp-mux");
        if (s.media == "video")
            Line("a=rtcp-rsize");
        for (const std::string& pt : s.fmts) {
            std::vector<std::string> lines;
            PtLinesOf(s, pt, "a=rtpmap:", lines);
            PtLinesOf(s, pt, "a=rtcp-fb:", lines);
            PtLinesOf(s, pt, "a=fmtp:", lines);
            for (const std::string& l : lines)
                Line(l);
        }
        if (!sends)
            return;
        if (rtx)
            Line("a=ssrc-group:FID " + std::to_string(main) + " " + std::to_string(rtx));
        for (uint32_t ssrc : {main, rtx}) {
            if (!ssrc)
                continue;
            Line("a=ssrc:" + std::to_string(ssrc) + " cname:" + id_.cname);
            Line("a=ssrc:" + std::to_string(ssrc) + " msid:" + id_.stream + " " + track);
        }
    }

    void FirefoxRtp(const SdpSection& s)
    {
        const bool sends = WriterSends(s.direction);
        MLine(s);
        Line("c=IN IP4 0.0.0.0");
        Line("a=" + (s.direction.empty() ? std::string("sendrecv") : s.direction));
        for (const std::string& e : s.extmaps)
            Line(e);
        std::vector<std::string> fmtp, fb, rtpmap;
        for (const std::string& pt : s.fmts) {
            PtLinesOf(s, pt, "a=fmtp:", fmtp);
            PtLinesOf(s, pt, "a=rtcp-fb:", fb);
            PtLinesOf(s, pt, "a=rtpmap:", rtpmap);
        }
        for (const std::string& l : fmtp)
            Line(l);
        Line("a=ice-pwd:" + id_.pwd);
        Line("a=ice-ufrag:" + id_.ufrag);
        Line("a=mid:" + s.mid);
        uint32_t main = 0, rtx = 0;
        std::string track;
        SsrcsOf(s, main, rtx, track);
        if (sends)
            Line("a=msid:{" + id_.stream + "} {" + track + "}");
        for (const std::string& l : fb)
            Line(l);
        Line("a=rtcp-mux");
        if (s.media == "video")
            Line("a=rtcp-rsize");
        for (const std::string& l : rtpmap)
            Line(l);
        Line(Setup());
        if (!sends)
            return;
        for (uint32_t ssrc : {main, rtx})
            if (ssrc)
                Line("a=ssrc:" + std::to_string(ssrc) + " cname:{" + id_.cname + "}");
        if (rtx)
            Line("a=ssrc-group:FID " + std::to_string(main) + " " + std::to_string(rtx));
    }

    Shape shape_;
    const SdpIdentity& id_;
    bool offer_;
    std::string text_;
};

std::string AnswerDirection(const std::string& offered)
{
    if (offered == "sendonly")
        return "recvonly";
    if (offered == "recvonly")
        return "sendonly";
    if (offered == "inactive")
        return "inactive";
    return "sendrecv";
}

}  // namespace

std::string SdpSection::FirstCodec() const
{
    for (const std::string& pt : fmts) {
        auto it = codecs.find(pt);
        if (it != codecs.end())
            return it->second;
    }
    return "";
}

bool WriterSends(const std::string& direction)
{
    return direction.empty() || direction == "sendrecv" || direction == "sendonly";
}

SdpIdentity MakeIdentity(uint32_t handle, Shape shape)
{
    Mixer m(handle);
    SdpIdentity id;
    id.sessionId = std::to_string(1000000000ull + m.Next()) + std::to_string(100000000ull + m.Next() % 900000000u);
    if (shape == Shape::kFirefox) {
        id.ufrag = m.Hex(8);
        id.pwd = m.Hex(32);
    } else {
        id.ufrag = m.Chars(kIceChars, 64, 4);
        id.pwd = m.Chars(kIceChars, 64, 24);
    }
    static const char kUpperHex[] = "0123456789ABCDEF";
    for (int i = 0; i < 32; ++i)
        id.fingerprint += (i ? ":" : "") + m.Chars(kUpperHex, 16, 2);
    id.cname = shape == Shape::kFirefox ? m.Uuid() : m.Chars(kIceChars, 62, 16);
    id.stream = m.Uuid();
    id.audioTrack = m.Uuid();
    id.videoTrack = m.Uuid();
    id.audioSsrc = m.Next() | 1u;
    id.videoSsrc = m.Next() | 1u;
    id.rtxSsrc = m.Next() | 1u;
    return id;
}

bool ParseSdp(const std::string& sdp, std::vector<SdpSection>& out)
{
    out.clear();
    size_t pos = 0;
    while (pos < sdp.size()) {
        size_t end = sdp.find('\n', pos);
        if (end == std::string::npos)
            end = sdp.size();
        std::string line = sdp.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (StartsWith(line, "m=")) {
            SdpSection s;
            std::vector<std::string> words;
            size_t i = 2;
            while (i < line.size()) {
                size_t j = line.find(' ', i);
                if (j == std::string::npos)
                    j = line.size();
                if (j > i)
                    words.push_back(line.substr(i, j - i));
                i = j + 1;
            }
            if (words.size() < 3)
                return false;
            s.media = words[0];
            s.port = words[1];
            s.proto = words[2];
            s.fmts.assign(words.begin() + 3, words.end());
            s.mid = std::to_string(out.size());
            out.push_back(s);
            continue;
        }
        if (out.empty())
            continue;
        SdpSection& s = out.back();
        if (StartsWith(line, "a=mid:")) {
            s.mid = line.substr(6);
        } else if (line == "a=sendrecv" || line == "a=sendonly" || line == "a=recvonly" || line == "a=inactive") {
            s.direction = line.substr(2);
        } else if (StartsWith(line, "a=extmap:")) {
            s.extmaps.push_back(line);
        } else if (StartsWith(line, "a=sctp-port:")) {
            s.sctpPort = line.substr(12);
        } else if (StartsWith(line, "a=rtpmap:") || StartsWith(line, "a=fmtp:") || StartsWith(line, "a=rtcp-fb:")) {
            size_t colon = line.find(':');
            size_t space = line.find(' ', colon);
            if (space == std::string::npos)
                continue;
            std::string pt = line.substr(colon + 1, space - colon - 1);
            s.ptLines[pt].push_back(line);
            if (StartsWith(line, "a=rtpmap:")) {
                std::string enc = line.substr(space + 1);
                s.codecs[pt] = enc.substr(0, enc.find('/'));
            }
        }
    }
    return !out.empty();
}

std::string BuildOffer(Shape shape, const SdpIdentity& id, const OfferMedia& media)
{
    std::vector<SdpSection> sections;
    auto mid = [&] { return std::to_string(sections.size()); };
    if (shape == Shape::kFirefox) {
        if (media.audio)
            sections.push_back(TableSection("audio", mid(), kFirefoxAudio, kNoTexts, Of(kFirefoxAudioExt)));
        if (media.video)
            sections.push_back(TableSection("video", mid(), kFirefoxVideo, Of(kFirefoxVideoFb), Of(kFirefoxVideoExt)));
    } else {
        if (media.audio)
            sections.push_back(TableSection("audio", mid(), kChromeAudio, Of(kChromeAudioFb), Of(kChromeAudioExt)));
        if (media.video)
            sections.push_back(TableSection("video", mid(), kChromeVideo, Of(kChromeVideoFb), Of(kChromeVideoExt)));
    }
    if (media.data)
        sections.push_back(DataSection(mid()));
    return Writer(shape, id, true).Write(sections);
}

std::string BuildAnswer(Shape shape, const SdpIdentity& id, const std::vector<SdpSection>& offer)
{
    std::vector<SdpSection> sections = offer;
    for (SdpSection& s : sections) {
        s.direction = s.IsData() ? "" : AnswerDirection(s.direction);
        if (s.port != "0")
            s.port = "9";
        if (s.IsData() && s.sctpPort.empty() && !s.fmts.empty() && s.fmts[0] == "webrtc-datachannel")
            s.sctpPort = "5000";
    }
    return Writer(shape, id, false).Write(sections);
}

std::string HostCandidate(Shape shape, const SdpIdentity& id, int index)
{
    char text[256];
    const unsigned port = 40000 + (id.audioSsrc % 20000);
    if (shape == Shape::kFirefox) {
        if (index == 0)
            std::snprintf(text, sizeof text, "candidate:0 1 UDP 2122252543 127.0.0.1 %u typ host", port);
        else
            std::snprintf(text, sizeof text, "candidate:1 1 TCP 2105524479 127.0.0.1 9 typ host tcptype active");
    } else {
        const unsigned foundation = id.videoSsrc % 4000000000u;
        if (index == 0)
            std::snprintf(text, sizeof text,
                          "candidate:%u 1 udp 2122260223 127.0.0.1 %u typ host generation 0 ufrag %s network-id 1",
                          foundation, port, id.ufrag.c_str());
        else
            std::snprintf(text, sizeof text,
                          "candidate:%u 1 tcp 1518280447 127.0.0.1 9 typ host tcptype active generation 0 ufrag %s "
                          "network-id 1",
                          foundation + 1, id.ufrag.c_str());
    }
    return text;
}

}  // namespace rtcstub

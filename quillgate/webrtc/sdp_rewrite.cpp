// Text operations on the session descriptions that pass between the browser
// and the media library. Search-and-replace steps and the media tests act on
// the whole JSON message; the line steps decode the "sdp" member, change its
// lines and put the value back in place, leaving every other byte as it came.
#include "quillgate/webrtc/webrtc_connect.h"

#include <cstring>
#include <stdint.h>
#include <string_view>

#include "quillgate/log/proxy_log.h"
#include "util/cv_ioutils.h"
#include "util/json_utils.h"

namespace {

const char kVideoLinePrefix[] = "m=video 9 UDP/TLS/RTP/SAVPF ";
const char kEscapedLineBreak[] = "\\r\\n";
const size_t kMaxNesting = 1000;  // the JSON reader gives up deeper than this

struct VideoCodecName {
    int codec;
    const char* name;
};

const VideoCodecName kVideoCodecNames[] = {
    {1, "H264"},
    {2, "VP9"},
    {3, "VP8"},
};

const std::string_view kPayloadAttributes[] = {"a=rtpmap:", "a=rtcp-fb:", "a=fmtp:"};
const size_t kPayloadAttributeCount = sizeof(kPayloadAttributes) / sizeof(kPayloadAttributes[0]);

const char* VideoCodecNameOf(int codec)
{
    for (const VideoCodecName& entry : kVideoCodecNames)
        if (entry.codec == codec)
            return entry.name;
    return nullptr;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

// text begins with the whole payload number: "100" does not begin with
// payload 10. Every text begins with an empty payload.
bool StartsWithPayload(std::string_view text, std::string_view payload)
{
    return payload.empty() ||
           (StartsWith(text, payload) && (text.size() == payload.size() || !IsDigit(text[payload.size()])));
}

// prefix directly followed by the whole payload number anywhere in line.
bool ContainsPayload(std::string_view line, std::string_view prefix, std::string_view payload)
{
    for (size_t pos = line.find(prefix); pos != std::string_view::npos; pos = line.find(prefix, pos + 1))
        if (StartsWithPayload(line.substr(pos + prefix.size()), payload))
            return true;
    return false;
}

// Calls found(index, text after it) for each payload attribute of
// kPayloadAttributes standing anywhere in line. One pass over the line's
// '=' signs, since every such attribute reads "a=" first.
template <typename Found>
void ForEachPayloadAttribute(std::string_view line, Found found)
{
    for (size_t eq = line.find('=', 1); eq != std::string_view::npos; eq = line.find('=', eq + 1)) {
        if (line[eq - 1] != 'a')
            continue;
        const std::string_view rest = line.substr(eq + 1);
        for (size_t k = 0; k < kPayloadAttributeCount; ++k) {
            const std::string_view name = kPayloadAttributes[k].substr(2);
            if (StartsWith(rest, name))
                found(k, rest.substr(name.size()));
        }
    }
}

// An attribute line that names neither pt nor rtx, such as "a=rtcp-fb:*":
// it holds an attribute not followed by pt, and one not followed by rtx.
bool NamesOtherPayloads(std::string_view line, std::string_view pt, std::string_view rtx)
{
    bool present[kPayloadAttributeCount] = {};
    bool ofPt[kPayloadAttributeCount] = {};
    bool ofRtx[kPayloadAttributeCount] = {};
    ForEachPayloadAttribute(line, [&](size_t k, std::string_view after) {
        present[k] = true;
        ofPt[k] = ofPt[k] || StartsWithPayload(after, pt);
        ofRtx[k] = ofRtx[k] || StartsWithPayload(after, rtx);
    });
    bool otherThanPt = false;
    bool otherThanRtx = false;
    for (size_t k = 0; k < kPayloadAttributeCount; ++k) {
        otherThanPt = otherThanPt || (present[k] && !ofPt[k]);
        otherThanRtx = otherThanRtx || (present[k] && !ofRtx[k]);
    }
    return otherThanPt && otherThanRtx;
}

bool NamesPayload(std::string_view line, std::string_view payload)
{
    bool named = false;
    ForEachPayloadAttribute(
        line, [&](size_t, std::string_view after) { named = named || StartsWithPayload(after, payload); });
    return named;
}

// The payload number of "a=rtpmap:96 VP8/90000": the text between the first
// colon and the first space. Lines without that shape leave out alone.
void ReadPayload(std::string_view line, std::string_view& out)
{
    const size_t colon = line.find(':');
    const size_t space = line.find(' ');
    if (colon == std::string_view::npos || space == std::string_view::npos || colon + 1 >= space)
        return;
    out = line.substr(colon + 1, space - colon - 1);
}

// Removes the whole payload token from the format list of an m= line,
// with the blank that separates it from its neighbour.
void RemoveFormat(std::string& mline, std::string_view payload)
{
    // The formats follow the media, port and profile fields.
    size_t pos = 0;
    for (int field = 0; field < 3 && pos != std::string::npos; ++field)
        pos = mline.find(' ', pos + (field == 0 ? 0 : 1));
    while (pos != std::string::npos) {
        const size_t begin = pos + 1;
        size_t end = mline.find(' ', begin);
        if (end == std::string::npos)
            end = mline.size();
        if (mline.compare(begin, end - begin, payload) == 0) {
            if (end < mline.size())
                mline.erase(begin, end - begin + 1);
            else
                mline.erase(pos, end - pos);
            return;
        }
        pos = end < mline.size() ? end : std::string::npos;
    }
}

// What the video codec filter reads from the lines: the last m=video and
// m=audio lines, pt (the payload of the last line naming the codec) and
// pt's own rtx. A payload is an rtx of the pt current at its apt= line; the
// one kept is the last such of the final pt, so an rtx of an earlier
// payload of the codec never names one gone.
struct CodecChoice {
    size_t videoLine = 0;
    size_t audioLine = 0;
    std::string_view pt;
    std::string_view rtx;
    bool anyRtx = false;  // some payload has an rtx, pt's own or not

    // Whether a filter pass over the lines this was read from changes
    // nothing more: the same payloads, and no rtx where the first pass saw
    // none (a pass that finds no rtx left keeps every line).
    bool Repeats(const CodecChoice& first) const
    {
        return videoLine == first.videoLine && pt == first.pt && rtx == first.rtx && (first.anyRtx || !anyRtx);
    }
};

CodecChoice ChooseCodec(const std::vector<std::string_view>& lines, const char* name)
{
    CodecChoice choice;
    std::vector<std::pair<std::string_view, std::string_view>> rtxOf;  // pt, its rtx
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (StartsWith(line, "m=audio"))
            choice.audioLine = i;
        if (StartsWith(line, "m=video"))
            choice.videoLine = i;
        if (Contains(line, name))
            ReadPayload(line, choice.pt);
        std::string_view rtx;
        if (!choice.pt.empty() && ContainsPayload(line, "apt=", choice.pt))
            ReadPayload(line, rtx);
        if (!rtx.empty())
            rtxOf.emplace_back(choice.pt, rtx);
    }
    for (const auto& entry : rtxOf)
        if (entry.first == choice.pt)
            choice.rtx = entry.second;
    choice.anyRtx = !rtxOf.empty();
    return choice;
}

// ---- The top-level "sdp" member of a JSON text ----
// The scan reads what the project's JSON reader reads (blanks, comments,
// later duplicates winning), so the value it finds is the one that was
// decoded.

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Blanks and comments; the reader takes comments everywhere but between a
// member's name and its colon.
size_t SkipBlank(const std::string& s, size_t pos)
{
    while (pos < s.size()) {
        const char c = s[pos];
        if (IsBlank(c)) {
            ++pos;
        } else if (c == '/' && pos + 1 < s.size() && s[pos + 1] == '/') {
            pos = s.find_first_of("\r\n", pos);
            if (pos == std::string::npos)
                return s.size();
        } else if (c == '/' && pos + 1 < s.size() && s[pos + 1] == '*') {
            pos = s.find("*/", pos + 2);
            if (pos == std::string::npos)
                return s.size();
            pos += 2;
        } else {
            break;
        }
    }
    return pos;
}

// JSON's two-character escapes: the letter after the backslash and the
// character it stands for. '/' is read but never written.
struct ShortEscape {
    char letter;
    char value;
};

const ShortEscape kShortEscapes[] = {
    {'"', '"'}, {'\\', '\\'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}, {'/', '/'},
};

bool DecodeShortEscape(char letter, char& value)
{
    for (const ShortEscape& e : kShortEscapes)
        if (e.letter == letter) {
            value = e.value;
            return true;
        }
    return false;
}

bool EncodeShortEscape(char value, char& letter)
{
    for (const ShortEscape& e : kShortEscapes)
        if (e.value == value && e.value != '/') {
            letter = e.letter;
            return true;
        }
    return false;
}

// s[pos] is '"'. end becomes the position after the closing quote. When
// ascii is given it receives the decoded text with every non-ASCII
// character as 0x80, enough to compare a key with a plain name.
bool ScanString(const std::string& s, size_t pos, size_t& end, std::string* ascii)
{
    for (++pos; pos < s.size(); ++pos) {
        // Values are skipped, not decoded: jump to the next quote or escape
        // (or a NUL byte, which is just another character here).
        if (ascii == nullptr)
            pos += std::strcspn(s.c_str() + pos, "\"\\");
        if (pos >= s.size())
            return false;
        char c = s[pos];
        if (c == '"') {
            end = pos + 1;
            return true;
        }
        if (c == '\\') {
            if (++pos >= s.size())
                return false;
            if (s[pos] == 'u') {
                if (pos + 4 >= s.size())
                    return false;
                int code = 0;
                for (int i = 1; i <= 4; ++i) {
                    const int digit = HexDigitValue(s[pos + i]);
                    if (digit < 0)
                        return false;
                    code = code * 16 + digit;
                }
                pos += 4;
                c = code < 0x80 ? static_cast<char>(code) : '\x80';
            } else if (!DecodeShortEscape(s[pos], c)) {
                return false;
            }
        }
        if (ascii != nullptr)
            ascii->push_back(c);
    }
    return false;
}

// Any value from s[pos]; end becomes the position after it.
bool SkipValue(const std::string& s, size_t pos, size_t& end)
{
    if (pos >= s.size())
        return false;
    if (s[pos] == '"')
        return ScanString(s, pos, end, nullptr);
    if (s[pos] != '{' && s[pos] != '[') {
        size_t stop = s.find_first_of(",}] \t\r\n/", pos);
        if (stop == std::string::npos)
            stop = s.size();
        end = stop;
        return stop > pos;
    }
    std::string closers;
    while (pos < s.size()) {
        const char c = s[pos];
        if (c == '"') {
            if (!ScanString(s, pos, pos, nullptr))
                return false;
            continue;
        }
        if (c == '/') {
            const size_t next = SkipBlank(s, pos);
            if (next == pos)
                return false;
            pos = next;
            continue;
        }
        if (c == '{' || c == '[') {
            if (closers.size() >= kMaxNesting)
                return false;
            closers.push_back(c == '{' ? '}' : ']');
        } else if (c == '}' || c == ']') {
            if (c != closers.back())
                return false;
            closers.pop_back();
            if (closers.empty()) {
                end = pos + 1;
                return true;
            }
        }
        ++pos;
    }
    return false;
}

// [begin, end) of the last top-level "sdp" member's value, when that value
// is a string (quotes included).
bool FindSdpValue(const std::string& s, size_t& begin, size_t& end)
{
    bool found = false;
    size_t pos = SkipBlank(s, 0);
    if (pos >= s.size() || s[pos] != '{')
        return false;
    pos = SkipBlank(s, pos + 1);
    if (pos < s.size() && s[pos] == '}')
        return false;
    while (pos < s.size() && s[pos] == '"') {
        std::string key;
        size_t keyEnd = 0;
        if (!ScanString(s, pos, keyEnd, &key))
            break;
        for (pos = keyEnd; pos < s.size() && IsBlank(s[pos]); ++pos) {
        }
        if (pos >= s.size() || s[pos] != ':')
            break;
        const size_t valueBegin = SkipBlank(s, pos + 1);
        size_t valueEnd = 0;
        if (!SkipValue(s, valueBegin, valueEnd))
            break;
        if (key == "sdp") {
            found = s[valueBegin] == '"';
            begin = valueBegin;
            end = valueEnd;
        }
        pos = SkipBlank(s, valueEnd);
        if (pos >= s.size() || s[pos] != ',')
            break;
        pos = SkipBlank(s, pos + 1);
    }
    return found;
}

bool NeedsEscape(unsigned char c)
{
    return c < 0x20 || c == '"' || c == '\\';
}

// Whether one of eight bytes is below 0x20, '"' or '\\' (exact for "any").
bool WordNeedsEscape(uint64_t v)
{
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t quote = v ^ (ones * '"');
    const uint64_t backslash = v ^ (ones * '\\');
    const uint64_t hits = ((v - ones * 0x20) & ~v) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash);
    return (hits & (ones * 0x80)) != 0;
}

// Appends text as the inside of a JSON string. Description lines seldom
// need it, so plain runs are found eight bytes at a time.
void AppendEscaped(std::string& out, std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    size_t run = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (i + 8 <= text.size()) {
            uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof(word));
            if (!WordNeedsEscape(word)) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = static_cast<unsigned char>(text[i++]);
        if (!NeedsEscape(c))
            continue;
        out.append(text.substr(run, i - 1 - run));
        run = i;
        char letter = 0;
        if (EncodeShortEscape(static_cast<char>(c), letter)) {
            out += '\\';
            out += letter;
        } else {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out.append(text.substr(run));
}

void LogNoSdp()
{
    ProxyLog(16, "CWebRtcConnect::DelSDPSsrcInfo: can not get sdpInfo!");
}

// The decoded "sdp" value cut into lines (views into sdp). A line ends at
// CR LF or at a lone LF; the piece after the last line break is kept (empty
// for a description that ends with one). False, with the line, when there
// is no value.
bool ReadSdpLines(const std::string& json, std::string& sdp, std::vector<std::string_view>& lines)
{
    CJsonTools::GetStringValue(json, "sdp", sdp);
    if (sdp.empty()) {
        LogNoSdp();
        return false;
    }
    std::string_view rest = sdp;
    for (size_t lf = rest.find('\n'); lf != std::string_view::npos; lf = rest.find('\n')) {
        std::string_view line = rest.substr(0, lf);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        rest.remove_prefix(lf + 1);
    }
    lines.push_back(rest);
    return true;
}

// Puts the kept lines back as the "sdp" value, each ended by an escaped CR LF
// except the last piece, which had no line break of its own.
int WriteSdpLines(std::string& json, const std::vector<std::string_view>& lines, const std::vector<bool>& keep)
{
    const std::string_view lineBreak = kEscapedLineBreak;
    std::string member = "\"sdp\":\"";
    member.reserve(json.size() + 16);
    bool kept = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!keep[i])
            continue;
        AppendEscaped(member, lines[i]);
        member += lineBreak;
        kept = true;
    }
    if (kept)
        member.resize(member.size() - lineBreak.size());
    member += '"';
    if (CWebRtcConnect::ReplaceSdpInfo(json, member) != 0) {
        LogNoSdp();
        return -1;
    }
    return 0;
}

}  // namespace

int CWebRtcConnect::ReplaceAllString(std::string& text, const std::string& from, const std::string& to)
{
    // An empty pattern would match forever.
    if (from.empty())
        return 0;
    size_t pos = text.find(from);
    if (pos == std::string::npos)
        return 0;
    std::string out;
    out.reserve(text.size());
    size_t done = 0;
    for (; pos != std::string::npos; pos = text.find(from, done)) {
        out.append(text, done, pos - done);
        out += to;
        done = pos + from.size();
    }
    out.append(text, done, std::string::npos);
    text.swap(out);
    return 0;
}

std::vector<std::string> CWebRtcConnect::SplitString(std::string& text, std::string delimiter)
{
    if (delimiter.empty())
        delimiter = " ";
    // The piece after the last delimiter is cut off the original text, so a
    // delimiter that overlaps its own end ("aa" in "aaa") loses nothing.
    const size_t size = text.size();
    text += delimiter;
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t pos = text.find(delimiter); pos != std::string::npos && pos + delimiter.size() <= size;
         pos = text.find(delimiter, start)) {
        pieces.emplace_back(text, start, pos - start);
        start = pos + delimiter.size();
    }
    pieces.emplace_back(text, start, size - start);
    return pieces;
}

int CWebRtcConnect::ReplaceSdpInfo(std::string& json, const std::string& member)
{
    const size_t colon = member.find(':');
    size_t begin = 0;
    size_t end = 0;
    if (colon == std::string::npos || !FindSdpValue(json, begin, end))
        return -1;
    json.replace(begin, end - begin, member, colon + 1, std::string::npos);
    return 0;
}

int CWebRtcConnect::SetSdpDirection(int mode, std::string& json)
{
    if (mode == 2)
        ReplaceAllString(json, "sendrecv", "sendonly");
    else if (mode == 3)
        ReplaceAllString(json, "sendrecv", "recvonly");
    return 0;
}

int CWebRtcConnect::ModifyDataChnlProtocol(std::string& json)
{
    return ReplaceAllString(json, "UDP/DTLS/SCTP", "DTLS/SCTP");
}

void CWebRtcConnect::CheckMediaType(const std::string& json, bool& video, bool& audio, bool& data)
{
    video = Contains(json, "m=video");
    audio = Contains(json, "m=audio");
    data = Contains(json, "m=application");
}

void CWebRtcConnect::CheckVideoCodec(const std::string& json, bool& h264, bool& vp8, bool& vp9)
{
    h264 = Contains(json, "H264");
    vp8 = Contains(json, "VP8");
    vp9 = Contains(json, "VP9");
}

int CWebRtcConnect::DelSDPSsrcInfo(std::string& json)
{
    std::string sdp;
    std::vector<std::string_view> lines;
    if (!ReadSdpLines(json, sdp, lines))
        return -1;
    std::vector<bool> keep(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        keep[i] = !Contains(lines[i], "a=ssrc");
    return WriteSdpLines(json, lines, keep);
}

int CWebRtcConnect::FilterVideoCodec(std::string& json, int codec, int flag)
{
    std::string sdp;
    std::vector<std::string_view> lines;
    if (!ReadSdpLines(json, sdp, lines))
        return -1;
    const char* name = VideoCodecNameOf(codec);
    if (name == nullptr || (flag != 1 && flag != 2))
        return -1;

    const CodecChoice choice = ChooseCodec(lines, name);
    // Nothing to keep: no video section, or the codec is not offered.
    if (choice.videoLine == 0 || choice.pt.empty())
        return 0;
    const std::string_view pt = choice.pt;
    const std::string_view rtx = choice.rtx;

    std::vector<bool> keep(lines.size(), true);
    std::string mline;
    if (flag == 1) {
        mline = kVideoLinePrefix;
        mline += pt;
        if (!rtx.empty()) {
            mline += ' ';
            mline += rtx;
        }
        // A section without any rtx keeps all its lines (the empty payload
        // matches every attribute line). Once some payload has one, only pt
        // and its own rtx keep theirs.
        const std::string_view kept = rtx.empty() ? pt : rtx;
        const size_t sectionEnd = choice.audioLine > choice.videoLine ? choice.audioLine : lines.size();
        for (size_t i = choice.videoLine + 1; i < sectionEnd && choice.anyRtx; ++i)
            keep[i] = !NamesOtherPayloads(lines[i], pt, kept);
        // What is kept must name the same payloads again, or the m= line
        // would list an rtx whose apt= line went (a line that holds the
        // attributes of two payloads, say): such a text is left as it came.
        std::vector<std::string_view> keptLines;
        for (size_t i = 0; i < lines.size(); ++i)
            if (keep[i])
                keptLines.push_back(i == choice.videoLine ? std::string_view(mline) : lines[i]);
        if (!ChooseCodec(keptLines, name).Repeats(choice))
            return 0;
    } else {
        mline = lines[choice.videoLine];
        RemoveFormat(mline, pt);
        if (!rtx.empty())
            RemoveFormat(mline, rtx);
        for (size_t i = 0; i < lines.size(); ++i)
            keep[i] = !(NamesPayload(lines[i], pt) || (!rtx.empty() && NamesPayload(lines[i], rtx)));
    }
    lines[choice.videoLine] = mline;
    return WriteSdpLines(json, lines, keep);
}

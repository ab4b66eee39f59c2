// Control lines of the stand-in media library (format in README.md).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data_sender.h"
#include "records.h"
#include "rtc_lib.h"
#include "rtc_text.h"

namespace rtcstub {

namespace {

using Tokens = std::vector<std::string>;

bool ParseSwitch(const std::string& token, bool& out)
{
    if (token == "on")
        out = true;
    else if (token == "off")
        out = false;
    else
        return false;
    return true;
}

// A count of times: a number, or "always".
bool ParseTimes(const Tokens& t, size_t at, uint32_t& out)
{
    uint32_t times = 1;
    if (t.size() > at && t[at] == "always")
        times = UINT32_MAX;
    else if (t.size() > at && !ParseU32(t[at], times))
        return false;
    out = times;
    return true;
}

// A text token: hex bytes, "-" for empty, "null" for a null text.
bool ParseText(const std::string& token, Text& out)
{
    if (token == "null") {
        out = nullptr;
        return true;
    }
    std::string bytes;
    if (!ParseHex(token, bytes))
        return false;
    out = MakeText(bytes);
    return true;
}

// The optional via=<handle> after the fixed tokens.
bool ParseVia(const Tokens& t, size_t first, uint32_t& via)
{
    via = 0;
    std::vector<Option> opts;
    if (!ParseOptions(t, first, opts))
        return false;
    for (const Option& o : opts)
        if (o.name != "via" || !ParseU32(o.value, via))
            return false;
    return true;
}

bool Signalling(Library& l, const Tokens& t, Posts& posts)
{
    const std::string& what = t[0];
    uint32_t handle = 0, via = 0;
    if (what == "info") {
        uint32_t type = 0;
        Text text;
        if (t.size() < 4 || !ParseU32(t[1], handle) || !ParseU32(t[2], type) || !ParseText(t[3], text) ||
            !ParseVia(t, 4, via))
            return false;
        posts.push_back(InfoItem(handle, type, 0, text, via, false));
        return true;
    }
    if (what == "event") {
        uint32_t event = 0, param = 0, param2 = 0;
        Text text;
        if (t.size() < 6 || !ParseU32(t[1], handle) || !ParseU32(t[2], event) || !ParseU32(t[3], param) ||
            !ParseU32(t[4], param2) || !ParseText(t[5], text) || !ParseVia(t, 6, via))
            return false;
        posts.push_back(EventItem(handle, static_cast<int>(event), param, param2, text, via, false));
        return true;
    }
    if (what == "offer" || what == "candidates") {
        if (t.size() != 2 || !ParseU32(t[1], handle))
            return false;
        auto it = l.peers.find(handle);
        if (it == l.peers.end())
            return false;
        if (what == "offer")
            QueueOwnOffer(l, it->second, posts);
        else
            QueueCandidates(l, it->second, posts);
        return true;
    }
    return false;
}

bool ParseMedium(const std::string& token, int& out)
{
    if (token == "audio")
        out = kAudio;
    else if (token == "video")
        out = kVideo;
    else
        return false;
    return true;
}

// One frame of any fields and bytes, for any handle.
struct SingleFrame {
    uint32_t handle = 0, via = 0;
    int medium = kVideo;
    uint32_t streamIndex = 0, rotation = 0, ts = 0, zero = 0, length = 0;
    std::string data;
    bool dataNull = false, recordNull = false;
};

bool ParseSingleFrame(const Tokens& t, SingleFrame& f)
{
    std::vector<Option> opts;
    if (t.size() < 2 || !ParseMedium(t[0], f.medium) || !ParseU32(t[1], f.handle) || !ParseOptions(t, 2, opts))
        return false;
    bool haveLength = false;
    for (const Option& o : opts) {
        uint32_t* num = o.name == "stream" && f.medium == kVideo     ? &f.streamIndex
                        : o.name == "rotation" && f.medium == kVideo ? &f.rotation
                        : o.name == "ts"                             ? &f.ts
                        : o.name == "zero"                           ? &f.zero
                        : o.name == "length"                         ? &f.length
                        : o.name == "via"                            ? &f.via
                                                                     : nullptr;
        if (num) {
            if (!ParseU32(o.value, *num) || (num == &f.length && *num > (1u << 24)))
                return false;
            haveLength = haveLength || num == &f.length;
        } else if (o.name == "data") {
            f.dataNull = o.value == "null";
            if (!f.dataNull && !ParseHex(o.value, f.data))
                return false;
        } else if (o.name == "record" && o.value == "null") {
            f.recordNull = true;
        } else {
            return false;
        }
    }
    if (!haveLength)
        f.length = static_cast<uint32_t>(f.data.size());
    // A length beyond the bytes reads zeros, never past the buffer.
    if (f.data.size() < f.length)
        f.data.resize(f.length, '\0');
    return true;
}

std::function<void()> SingleFrameItem(const SingleFrame& f)
{
    return [f]() {
        Callbacks cb;
        bool found;
        uint32_t seq = 0;
        {
            std::lock_guard<std::mutex> lock(L().mu);
            found = CallbacksFor(L(), f.handle, f.via, false, cb);
            seq = L().singleSeq[f.medium][f.handle]++;
        }
        const bool video = f.medium == kVideo;
        const unsigned char* data = f.dataNull ? nullptr : reinterpret_cast<const unsigned char*>(f.data.data());
        unsigned char rec[VideoRecord::kSize > AudioRecord::kSize ? VideoRecord::kSize : AudioRecord::kSize];
        FillPattern(rec, sizeof rec);
        if (video) {
            Put32(rec, VideoRecord::kStreamIndex, f.streamIndex);
            Put32(rec, VideoRecord::kRotation, f.rotation);
            Put32(rec, VideoRecord::kTimestamp, f.ts);
            Put32(rec, VideoRecord::kZero, f.zero);
            Put32(rec, VideoRecord::kLength, f.length);
            PutPtr(rec, VideoRecord::kData, data);
        } else {
            Put32(rec, AudioRecord::kTimestamp, f.ts);
            Put32(rec, AudioRecord::kZero, f.zero);
            Put32(rec, AudioRecord::kLength, f.length);
            PutPtr(rec, AudioRecord::kData, data);
        }
        std::string line = std::string("cb ") + MediumName(f.medium) + " " + std::to_string(f.handle);
        if (f.recordNull) {
            line += " null";
        } else {
            line += " seq=" + std::to_string(seq) + " len=" + std::to_string(f.length) + " ts=" + std::to_string(f.ts);
            if (video)
                line += " rot=" + std::to_string(f.rotation) + " stream=" + std::to_string(f.streamIndex);
            line += " zero=" + std::to_string(f.zero);
            line += data ? " crc=" + CrcForm(Crc32(data, f.length)) : std::string(" data=null");
        }
        void* record = f.recordNull ? nullptr : rec;
        if (!found || (video ? !cb.video : !cb.audio)) {
            Journal(line + " = none");
            return;
        }
        const int ret = video ? cb.video(f.handle, static_cast<RtcVideoFrame*>(record), 0, 0, cb.user)
                              : cb.audio(f.handle, static_cast<RtcAudioFrame*>(record), 0, 0, cb.user);
        Journal(line + " = " + std::to_string(ret));
    };
}

bool Data(Library& l, const Tokens& t, Posts& posts)
{
    const std::string& what = t[0];
    std::vector<Option> opts;
    if (what == "datafile") {
        if (t.size() < 2 || !ParseOptions(t, 2, opts))
            return false;
        l.settings.dataFile = t[1] == "-" ? "" : t[1];
        l.settings.dataOpts = opts;
        return true;
    }
    uint32_t handle = 0, via = 0, channel = 1, length = 0;
    if (what == "datasend") {
        if (t.size() < 3 || !ParseU32(t[1], handle) || !l.peers.count(handle) || !ParseOptions(t, 3, opts))
            return false;
        std::string error;
        if (!QueueDataSend(l.peers[handle], t[2], opts, posts, error)) {
            Journal("data " + std::to_string(handle) + ": " + error);
            return false;
        }
        return true;
    }
    if (what == "message") {
        std::string bytes;
        bool dataNull = false, recordNull = false, haveLength = false;
        if (t.size() < 3 || !ParseU32(t[1], handle) || !ParseOptions(t, 3, opts))
            return false;
        dataNull = t[2] == "null";
        if (!dataNull && !ParseHex(t[2], bytes))
            return false;
        for (const Option& o : opts) {
            bool ok = true;
            if (o.name == "channel")
                ok = ParseU32(o.value, channel);
            else if (o.name == "via")
                ok = ParseU32(o.value, via);
            else if (o.name == "length")
                ok = (haveLength = ParseU32(o.value, length)) && length <= (1u << 24);
            else if (o.name == "record" && o.value == "null")
                recordNull = true;
            else
                ok = false;
            if (!ok)
                return false;
        }
        if (!haveLength)
            length = static_cast<uint32_t>(bytes.size());
        if (bytes.size() < length)
            bytes.resize(length, '\0');  // a length beyond the bytes reads zeros
        posts.push_back([=]() {
            Callbacks cb;
            bool found;
            {
                std::lock_guard<std::mutex> lock(L().mu);
                found = CallbacksFor(L(), handle, via, false, cb);
            }
            const unsigned char* data = dataNull ? nullptr : reinterpret_cast<const unsigned char*>(bytes.data());
            DeliverRawMessage(handle, cb, found, channel, data, length, recordNull);
        });
        return true;
    }
    return false;
}

bool Media(Library& l, const Tokens& t, Posts& posts)
{
    const std::string& what = t[0];
    if (what == "audio" || what == "video") {
        SingleFrame f;
        if (!ParseSingleFrame(t, f))
            return false;
        posts.push_back(SingleFrameItem(f));
        return true;
    }
    if (what == "automedia")
        return t.size() == 2 && ParseSwitch(t[1], l.settings.autoMedia);

    // The rest name a live peer: <what> <handle> ...
    uint32_t handle = 0;
    if (t.size() < 3 || !ParseU32(t[1], handle) || !l.peers.count(handle))
        return false;
    Peer& peer = l.peers[handle];
    uint32_t n = 0;
    if (what == "rotation" || what == "streamindex") {
        if (t.size() != 3 || !ParseU32(t[2], n))
            return false;
        (what == "rotation" ? peer.rotation : peer.streamIndex) = n;
        l.pump.SetVideo(handle, what == "rotation" ? &n : nullptr, what == "rotation" ? nullptr : &n);
        return true;
    }
    if (what == "stop" && t.size() == 3 && t[2] == "data")
        return l.pump.Remove(handle, kData);
    int medium = kVideo;
    if (!ParseMedium(t[2], medium))
        return false;
    if (what == "stop")
        return t.size() == 3 && l.pump.Remove(handle, medium);
    if (what == "pace") {
        Pace pace;
        return t.size() == 4 && ParsePace(t[3], pace) && l.pump.SetPace(handle, medium, pace);
    }
    if (what == "start") {
        std::vector<Option> opts;
        if (!ParseOptions(t, 3, opts))
            return false;
        StreamPlay play;
        play.rotation = peer.rotation;
        play.streamIndex = peer.streamIndex;
        std::string file, codec;
        for (const Option& o : opts) {
            bool ok = true;
            if (o.name == "frames")
                ok = ParseU32(o.value, play.frames);
            else if (o.name == "pace")
                ok = ParsePace(o.value, play.pace);
            else if (o.name == "loop")
                ok = ParseSwitch(o.value, play.loop);
            else if (o.name == "file")
                file = o.value;
            else if (o.name == "codec" && medium == kVideo)
                codec = o.value;
            else if (o.name == "rotation" && medium == kVideo)
                ok = ParseU32(o.value, play.rotation);
            else if (o.name == "stream" && medium == kVideo)
                ok = ParseU32(o.value, play.streamIndex);
            else
                ok = false;
            if (!ok)
                return false;
        }
        std::string error;
        if (!StartMedia(l, peer, medium, play, file, codec, error)) {
            Journal("media " + std::to_string(handle) + " " + MediumName(medium) + ": " + error);
            return false;
        }
        return true;
    }
    if (what == "save") {
        std::shared_ptr<SaveFile>& save = peer.save[medium];
        if (t.size() == 4 && t[3] == "off") {
            if (save)
                save->Close();
            save.reset();
            return true;
        }
        std::vector<Option> opts;
        if (t.size() < 5 || !ParseOptions(t, 5, opts))
            return false;
        SaveFile::Format format;
        if (!SaveFile::FormatNamed(t[3], format))
            return false;
        uint32_t width = 320, height = 240;
        std::string fourcc = "VP80";
        for (const Option& o : opts) {
            bool ok = true;
            if (o.name == "width")
                ok = ParseU32(o.value, width) && width <= 0xFFFF;
            else if (o.name == "height")
                ok = ParseU32(o.value, height) && height <= 0xFFFF;
            else if (o.name == "fourcc")
                ok = (fourcc = o.value).size() == 4;
            else
                ok = false;
            if (!ok)
                return false;
        }
        auto file = std::make_shared<SaveFile>();
        if (!file->Open(t[4], format, width, height, fourcc))
            return false;
        if (save)
            save->Close();
        save = file;
        return true;
    }
    return false;
}

bool Setting(Library& l, const Tokens& t)
{
    Settings& s = l.settings;
    const std::string& what = t[0];
    if (what == "shape") {
        Shape shape;
        if (t.size() < 2 || t.size() > 3 || !ParseShape(t[1], shape))
            return false;
        if (t.size() == 2) {
            s.shape = shape;
            return true;
        }
        uint32_t handle = 0;
        if (!ParseU32(t[2], handle) || !l.peers.count(handle))
            return false;
        Peer& peer = l.peers[handle];
        peer.shape = shape;
        peer.id = MakeIdentity(handle, shape);
        return true;
    }
    if (what == "sections") {
        OfferMedia m;
        m.audio = m.video = m.data = false;
        for (size_t i = 1; i < t.size(); ++i) {
            if (t[i] == "audio")
                m.audio = true;
            else if (t[i] == "video")
                m.video = true;
            else if (t[i] == "data")
                m.data = true;
            else
                return false;
        }
        if (!m.audio && !m.video && !m.data)
            return false;
        s.offer = m;
        return true;
    }
    if (what == "refuse") {
        uint32_t code = 0, times = 0;
        if (t.size() < 2 || t.size() > 3 || !ParseU32(t[1], code) || !ParseTimes(t, 2, times))
            return false;
        s.refuseCode = static_cast<int32_t>(code);
        s.refuseTimes = times;
        return true;
    }
    if (what == "fail") {
        return t.size() >= 2 && t.size() <= 3 && t[1] == "create" && ParseTimes(t, 2, s.failCreates);
    }
    if (what == "lenient" || what == "autodata") {
        return t.size() == 2 && ParseSwitch(t[1], what == "lenient" ? s.lenient : s.autoData);
    }
    if (what == "channel") {
        return t.size() == 2 && ParseU32(t[1], s.channelId);
    }
    return false;
}

}  // namespace

void OnControlLine(const std::string& line)
{
    const Tokens t = SplitTokens(line);
    if (t.empty())
        return;
    Library& l = L();
    Posts posts;
    bool ok = false;
    if (t[0] == "wait") {
        uint32_t ms = 0;
        ok = t.size() == 2 && ParseU32(t[1], ms) && ms <= 600000;
        Journal("control " + QuoteBytes(line.data(), line.size()) + (ok ? " = ok" : " = bad"));
        if (ok)
            l.worker.Delay(static_cast<int>(ms));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(l.mu);
        ok = Setting(l, t) || Signalling(l, t, posts) || Media(l, t, posts) || Data(l, t, posts);
        if (!ok)
            posts.clear();
    }
    Journal("control " + QuoteBytes(line.data(), line.size()) + (ok ? " = ok" : " = bad"));
    PostAll(posts);
}

}  // namespace rtcstub

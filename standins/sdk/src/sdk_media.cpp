#include "sdk_media.h"

#include <cstdlib>
#include <map>

#include "sdk_text.h"
#include "standin_sdk_codes.h"

namespace sdkstub {

namespace {

const uint32_t kCameraFps = 15;
const uint32_t kPcmFrameBytes = 640;  // 20 ms of 16 kHz mono s16le
const uint32_t kPcmFrameMs = 20;
// Option 233's output codecs.
const int kOutH264 = 1;
const int kOutVP8 = 4;
const size_t kStreamsKept = 16;  // input streams counted without allocating

bool EndsWith(const std::string& text, const char* tail)
{
    const std::string t(tail);
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// An int member of a compact JSON text, without a JSON reader: the digits
// after "<key>":.
bool JsonInt(const std::string& json, const char* key, int& out)
{
    const std::string name = std::string("\"") + key + "\":";
    const size_t at = json.find(name);
    if (at == std::string::npos)
        return false;
    char* end = nullptr;
    const char* begin = json.c_str() + at + name.size();
    const long v = std::strtol(begin, &end, 10);
    if (end == begin)
        return false;
    out = static_cast<int>(v);
    return true;
}

WAVEFORMATEX PcmFormat()
{
    WAVEFORMATEX f = {};
    f.wFormatTag = 1;
    f.nChannels = 1;
    f.nSamplesPerSec = 16000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 32000;
    return f;
}

// What one step hands over, copied out under the lock.
struct Delivery {
    RemoteStream play;
    size_t index = 0;
    uint32_t ts = 0, seq = 0;
};

void JournalFrame(const Delivery& d, const unsigned char* data, uint32_t length, bool called)
{
    std::string line = std::string("cb ") + MediumName(d.play.medium) + " " +
                       std::to_string(static_cast<int32_t>(d.play.user)) + " seq=" + std::to_string(d.seq) +
                       " len=" + std::to_string(length) + " ts=" + std::to_string(d.ts);
    if (d.play.medium == kVideo)
        line += " rot=" + std::to_string(d.play.rotation) + " stream=" + std::to_string(d.play.streamIndex) +
                " size=" + std::to_string(d.play.width) + "x" + std::to_string(d.play.height);
    else
        line += " format=" + std::to_string(d.play.format.nChannels) + "/" +
                std::to_string(d.play.format.nSamplesPerSec) + "/" + std::to_string(d.play.format.wBitsPerSample);
    line += " crc=" + standin::CrcForm(standin::Crc32(data, length));
    Journal(line + (called ? " = ok" : " = none"));
}

void Deliver(const Delivery& d, const MediaSinks& sinks)
{
    const standin::ClipFrame& f = d.play.clip->frames[d.index];
    // The SDK hands its own bytes over; the callee does not write them.
    void* data = const_cast<char*>(d.play.clip->bytes.data() + f.offset);
    bool called = false;
    if (d.play.medium == kVideo) {
        if ((called = sinks.video != nullptr))
            sinks.video(d.play.user, data, f.length, d.ts, sinks.videoUser, d.play.streamIndex, d.play.codecId,
                        d.play.width, d.play.height, d.play.fps, 0, 0, 0, d.play.rotation);
    } else {
        if ((called = sinks.audio != nullptr))
            sinks.audio(d.play.user, data, f.length, d.play.format, d.ts, sinks.audioUser);
    }
    if (JournalOn())
        JournalFrame(d, static_cast<const unsigned char*>(data), f.length, called);
}

}  // namespace

const char* MediumName(int medium)
{
    return medium == kAudio ? "audio" : "video";
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

std::string MediaDir()
{
    const char* dir = std::getenv("QG_SDK_MEDIA_DIR");
    return dir && *dir ? dir : QG_SDK_MEDIA_DIR;
}

std::string KindOfFile(const std::string& path)
{
    if (EndsWith(path, ".h264") || EndsWith(path, ".264"))
        return "h264";
    if (EndsWith(path, ".ivf"))
        return "vp8";
    if (EndsWith(path, ".ogg") || EndsWith(path, ".opus"))
        return "opus";
    return "pcm";
}

std::shared_ptr<const standin::Clip> LoadClip(const std::string& path, const std::string& kind, std::string& error)
{
    static std::mutex mu;
    static std::map<std::string, std::shared_ptr<const standin::Clip>>* cache =
        new std::map<std::string, std::shared_ptr<const standin::Clip>>;
    const std::string key = kind + " " + path;
    std::lock_guard<std::mutex> lock(mu);
    auto it = cache->find(key);
    if (it != cache->end())
        return it->second;
    std::string file;
    if (!standin::ReadWholeFile(path, file, error))
        return nullptr;
    auto clip = std::make_shared<standin::Clip>();
    bool ok;
    if (kind == "h264")
        ok = standin::CutAnnexB(file, kCameraFps, 1, *clip, error);
    else if (kind == "vp8")
        ok = standin::CutIvf(file, *clip, error);
    else if (kind == "opus")
        ok = standin::CutOggOpus(file, *clip, error);
    else
        ok = standin::CutPcm(file, kPcmFrameBytes, kPcmFrameMs, *clip, error);
    if (!ok) {
        error = path + ": " + error;
        return nullptr;
    }
    cache->emplace(key, clip);
    return clip;
}

bool CameraStream(const World& world, uint32_t user, uint32_t streamIndex, RemoteStream& out, std::string& why)
{
    auto u = world.users.find(user);
    if (u == world.users.end()) {
        why = "no such user";
        return false;
    }
    auto option = world.options.find(CV_OPT_OUTPUT_VIDEO_FORMAT);
    int codec = 0;
    if (option == world.options.end() || !JsonInt(option->second, "videocodec", codec)) {
        why = "no output video format (option 233)";
        return false;
    }
    std::string kind, file;
    if (codec == kOutH264) {
        kind = "h264";
        file = "camera_320x240_15fps.h264";
        out.codecId = CV_CODEC_H264;
    } else if (codec == kOutVP8) {
        kind = "vp8";
        file = "camera_320x240_15fps.ivf";
        out.codecId = CV_CODEC_VP8;
    } else {
        why = "output video codec " + std::to_string(codec) + " not known";
        return false;
    }
    out.clip = LoadClip(MediaDir() + "/" + file, kind, why);
    if (!out.clip)
        return false;
    out.user = user;
    out.medium = kVideo;
    out.streamIndex = streamIndex;
    out.width = u->second.width;
    out.height = u->second.height;
    out.rotation = u->second.rotation;
    out.fps = kCameraFps;
    return true;
}

bool MicrophoneStream(const World& world, uint32_t user, RemoteStream& out, std::string& why)
{
    if (world.users.find(user) == world.users.end()) {
        why = "no such user";
        return false;
    }
    out.clip = LoadClip(MediaDir() + "/mic_16k_mono.s16le", "pcm", why);
    if (!out.clip)
        return false;
    out.user = user;
    out.medium = kAudio;
    out.format = PcmFormat();
    return true;
}

bool JournalOn()
{
    const char* path = std::getenv("QG_SDK_JOURNAL");
    return path && *path;
}

void Journal(const std::string& line)
{
    AppendLine("QG_SDK_JOURNAL", line);
}

// ---- remote users' streams ----

MediaThread::MediaThread(MediaSinks (*sinks)())
    : sinks_(sinks), streams_([this](std::unique_lock<std::mutex>& lock, Stream& s) { return Step(lock, s); },
                              [](const Stream& s) {
                                  if (JournalOn())
                                      Journal("totals " + std::to_string(static_cast<int32_t>(s.play.user)) + " " +
                                              MediumName(s.play.medium) + " out=" + std::to_string(s.seq));
                              },
                              Elapsed)
{}

MediaThread::~MediaThread()
{
    Stop();
}

void MediaThread::Start()
{
    streams_.Start();
}

void MediaThread::Stop()
{
    streams_.Stop();
}

bool MediaThread::OnThread() const
{
    return streams_.OnThread();
}

void MediaThread::Add(const RemoteStream& play)
{
    if (!play.clip || play.clip->frames.empty())
        return;
    streams_.Add(play, [&](const RemoteStream& o) { return o.user == play.user && o.medium == play.medium; });
}

bool MediaThread::Remove(uint32_t user, int medium)
{
    return streams_.Remove([&](const RemoteStream& o) { return o.user == user && o.medium == medium; }, true);
}

void MediaThread::RemoveAll()
{
    streams_.Remove([](const RemoteStream&) { return true; }, true);
}

bool MediaThread::SetPace(uint32_t user, int medium, const Pace& pace)
{
    return streams_.SetPace([&](const RemoteStream& o) { return o.user == user && o.medium == medium; }, pace);
}

uint32_t MediaThread::Elapsed(const Stream& s, const Pace& pace)
{
    return pace.kind == Pace::kFixed ? s.seq * pace.ms : standin::ClipTime(*s.play.clip, s.index, s.loops);
}

bool MediaThread::Step(std::unique_lock<std::mutex>& lock, Stream& s)
{
    const RemoteStream& play = s.play;
    const size_t count = play.clip->frames.size();
    if (s.index >= count || (play.frames && s.seq >= play.frames))
        return false;

    Delivery d;
    d.play = play;
    d.index = s.index;
    d.seq = s.seq;
    d.ts = standin::ClipTime(*play.clip, s.index, s.loops);

    // Advance before delivering: the callback runs without the lock.
    const bool more = Streams::Advance(s, count, play.loop, play.frames);
    if (play.pace.kind == Pace::kFast)
        s.due = Clock::now();
    else if (more)
        s.due = s.start + std::chrono::milliseconds(Elapsed(s, play.pace));

    lock.unlock();
    Deliver(d, sinks_());
    lock.lock();
    return more;
}

// ---- the local user's frames ----

MediaInput::MediaInput()
{
    for (auto& c : counts_)
        c.reserve(kStreamsKept);
}

MediaInput::~MediaInput()
{
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& s : save_)
        s.Close();
}

void MediaInput::Open()
{
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
}

void MediaInput::Close()
{
    std::lock_guard<std::mutex> lock(mu_);
    if (open_ && JournalOn())
        Journal("totals in video=" + std::to_string(totals_[kVideo]) + " audio=" + std::to_string(totals_[kAudio]));
    open_ = false;
    for (int m = 0; m < 2; ++m) {
        counts_[m].clear();
        totals_[m] = 0;
        save_[m].Close();
    }
}

uint32_t MediaInput::NextSeq(int medium, uint32_t stream)
{
    ++totals_[medium];
    for (Count& c : counts_[medium]) {
        if (c.stream == stream)
            return c.frames++;
    }
    counts_[medium].push_back(Count{stream, 1});
    return 0;
}

int MediaInput::Frame(const char* name, int medium, uint32_t stream, const void* data, uint32_t length, uint32_t ts,
                      uint32_t flags)
{
    int ret = CV_ERR_SUCCESS;
    uint32_t seq = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!open_) {
            ret = CV_ERR_NOTINIT;
        } else if (!data && length > 0) {
            ret = CV_ERR_INVALIDPARAM;
        } else {
            seq = NextSeq(medium, stream);
            save_[medium].Write(data, length, ts);
        }
    }
    if (!JournalOn())
        return ret;
    std::string line = std::string(name) + " " + std::to_string(static_cast<int32_t>(stream)) +
                       " seq=" + (ret == CV_ERR_SUCCESS ? std::to_string(seq) : std::string("-")) +
                       " len=" + std::to_string(length) + " ts=" + std::to_string(ts) +
                       " flags=" + std::to_string(flags);
    line += data ? " crc=" + standin::CrcForm(standin::Crc32(data, length)) : std::string(" data=null");
    Journal(line + " = " + std::to_string(ret));
    return ret;
}

bool MediaInput::Save(int medium, const std::string& format, const std::string& path, uint32_t width, uint32_t height,
                      const std::string& fourcc, std::string& error)
{
    standin::SaveFile::Format f;
    if (!standin::SaveFile::FormatNamed(format, f)) {
        error = "unknown format " + format;
        return false;
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (!save_[medium].Open(path, f, width, height, fourcc)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

void MediaInput::SaveOff(int medium)
{
    std::lock_guard<std::mutex> lock(mu_);
    save_[medium].Close();
}

}  // namespace sdkstub

namespace sdkstub {

namespace {

// "name=value" options after the fixed tokens; false for a token without '='.
bool SplitOptions(const std::vector<std::string>& t, size_t first, std::map<std::string, std::string>& out)
{
    for (size_t i = first; i < t.size(); ++i) {
        const size_t eq = t[i].find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        out[t[i].substr(0, eq)] = t[i].substr(eq + 1);
    }
    return true;
}

bool TakeU32(std::map<std::string, std::string>& opts, const char* key, uint32_t& out)
{
    auto it = opts.find(key);
    if (it == opts.end())
        return true;
    const bool ok = ParseU32(it->second, out);
    opts.erase(it);
    return ok;
}

// start <user> audio|video [frames=] [pace=] [loop=] [file=] [codec=] [rotation=] [width=] [height=] [stream=]
bool StartLine(const std::vector<std::string>& t, const World& world, MediaThread& thread)
{
    uint32_t user = 0;
    int medium = kVideo;
    std::map<std::string, std::string> opts;
    if (t.size() < 3 || !ParseU32(t[1], user) || !ParseMedium(t[2], medium) || !SplitOptions(t, 3, opts))
        return false;
    RemoteStream play;
    play.user = user;
    play.medium = medium;
    auto known = world.users.find(user);
    if (known != world.users.end()) {
        play.width = known->second.width;
        play.height = known->second.height;
        play.rotation = known->second.rotation;
    }
    std::string kind = medium == kAudio ? "pcm" : "h264";
    auto option = world.options.find(CV_OPT_OUTPUT_VIDEO_FORMAT);
    int outCodec = 0;
    if (medium == kVideo && option != world.options.end() && JsonInt(option->second, "videocodec", outCodec) &&
        outCodec == kOutVP8)
        kind = "vp8";
    std::string file;
    auto it = opts.find("file");
    if (it != opts.end()) {
        file = it->second;
        kind = KindOfFile(file);
        opts.erase(it);
    }
    if ((it = opts.find("codec")) != opts.end()) {
        kind = it->second;
        opts.erase(it);
    }
    if (kind != "h264" && kind != "vp8" && kind != "pcm" && kind != "opus")
        return false;
    if (file.empty())
        file = MediaDir() + "/" +
               (kind == "h264"   ? "camera_320x240_15fps.h264"
                : kind == "vp8"  ? "camera_320x240_15fps.ivf"
                : kind == "opus" ? "mic_16k_mono.opus.ogg"
                                 : "mic_16k_mono.s16le");
    play.codecId = kind == "vp8" ? CV_CODEC_VP8 : CV_CODEC_H264;
    play.format = PcmFormat();
    if (!TakeU32(opts, "frames", play.frames) || !TakeU32(opts, "rotation", play.rotation) ||
        !TakeU32(opts, "width", play.width) || !TakeU32(opts, "height", play.height) ||
        !TakeU32(opts, "stream", play.streamIndex))
        return false;
    if ((it = opts.find("pace")) != opts.end()) {
        if (!ParsePace(it->second, play.pace))
            return false;
        opts.erase(it);
    }
    if ((it = opts.find("loop")) != opts.end()) {
        if (it->second != "on" && it->second != "off")
            return false;
        play.loop = it->second == "on";
        opts.erase(it);
    }
    if (!opts.empty())
        return false;
    std::string error;
    play.clip = LoadClip(file, kind, error);
    if (!play.clip) {
        Journal("media " + std::to_string(static_cast<int32_t>(user)) + " " + MediumName(medium) + ": " + error);
        return false;
    }
    thread.Add(play);
    return true;
}

// save audio|video annexb|ivf|raw <path> [width=] [height=] [fourcc=], or save audio|video off
bool SaveLine(const std::vector<std::string>& t, MediaInput& input)
{
    int medium = kVideo;
    if (t.size() < 3 || !ParseMedium(t[1], medium))
        return false;
    if (t[2] == "off") {
        if (t.size() != 3)
            return false;
        input.SaveOff(medium);
        return true;
    }
    std::map<std::string, std::string> opts;
    if (t.size() < 4 || !SplitOptions(t, 4, opts))
        return false;
    uint32_t width = 320, height = 240;
    std::string fourcc = "VP80";
    auto it = opts.find("fourcc");
    if (it != opts.end()) {
        fourcc = it->second;
        opts.erase(it);
    }
    if (!TakeU32(opts, "width", width) || !TakeU32(opts, "height", height) || !opts.empty())
        return false;
    std::string error;
    if (!input.Save(medium, t[2], t[3], width, height, fourcc, error)) {
        Journal("media save: " + error);
        return false;
    }
    return true;
}

}  // namespace

bool IsMediaLine(const std::string& verb)
{
    return verb == "start" || verb == "stop" || verb == "pace" || verb == "save";
}

void MediaLine(const std::vector<std::string>& t, const World& world, MediaThread& thread, MediaInput& input, bool& ok)
{
    const std::string& what = t[0];
    uint32_t user = 0;
    int medium = kVideo;
    if (what == "start") {
        ok = StartLine(t, world, thread);
    } else if (what == "stop") {
        ok = t.size() == 3 && ParseU32(t[1], user) && ParseMedium(t[2], medium) && thread.Remove(user, medium);
    } else if (what == "pace") {
        Pace pace;
        ok = t.size() == 4 && ParseU32(t[1], user) && ParseMedium(t[2], medium) && ParsePace(t[3], pace) &&
             thread.SetPace(user, medium, pace);
    } else {
        ok = SaveLine(t, input);
    }
}

void JournalSingleFrame(int medium, uint32_t user, const void* data, uint32_t length, uint32_t ts, uint32_t rotation,
                        uint32_t width, uint32_t height, const WAVEFORMATEX* format, bool called)
{
    if (!JournalOn())
        return;
    static std::mutex mu;
    static std::map<std::pair<uint32_t, int>, uint32_t>* seqs = new std::map<std::pair<uint32_t, int>, uint32_t>;
    Delivery d;
    d.play.user = user;
    d.play.medium = medium;
    d.play.rotation = rotation;
    d.play.width = width;
    d.play.height = height;
    if (format)
        d.play.format = *format;
    d.ts = ts;
    {
        std::lock_guard<std::mutex> lock(mu);
        d.seq = (*seqs)[std::make_pair(user, medium)]++;
    }
    JournalFrame(d, static_cast<const unsigned char*>(data), length, called);
}

}  // namespace sdkstub

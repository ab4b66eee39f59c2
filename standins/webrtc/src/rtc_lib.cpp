#include "rtc_lib.h"

#include "util/json_writer.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "rtc_text.h"

namespace rtcstub {

namespace {

Library* g_library = nullptr;

std::string CandidateText(const Peer& peer, int index)
{
    Json::Value v(Json::objectValue);
    v["candidate"] = HostCandidate(peer.shape, peer.id, index);
    v["peerconnectionid"] = peer.peerId;
    v["sdpMLineIndex"] = 0;
    v["sdpMid"] = peer.firstMid;
    v["type"] = "candidate";
    return cv::toStyledString(v);
}

std::string TextForm(const Text& text)
{
    return text ? QuoteBytes(text->data(), text->size()) : "null";
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool EndsWith(const std::string& s, const char* tail)
{
    const size_t n = std::char_traits<char>::length(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

std::string MediaDir()
{
    const char* dir = std::getenv("QG_RTC_MEDIA_DIR");
    return dir && *dir ? dir : QG_RTC_MEDIA_DIR;
}

// A fixture cut once and kept: H.264 Annex-B (15 fps), IVF or Ogg Opus by
// the file's extension.
std::shared_ptr<const Clip> ClipOf(Library& l, const std::string& path, std::string& error)
{
    auto it = l.clips.find(path);
    if (it != l.clips.end())
        return it->second;
    std::string file;
    if (!ReadWholeFile(path, file, error))
        return nullptr;
    auto clip = std::make_shared<Clip>();
    bool ok = false;
    if (EndsWith(path, ".h264") || EndsWith(path, ".264"))
        ok = CutAnnexB(file, 15, 1, *clip, error);
    else if (EndsWith(path, ".ivf"))
        ok = CutIvf(file, *clip, error);
    else if (EndsWith(path, ".ogg") || EndsWith(path, ".opus"))
        ok = CutOggOpus(file, *clip, error);
    else
        error = "no cutter for " + path;
    if (!ok)
        return nullptr;
    l.clips[path] = clip;
    return clip;
}

// What a remote description starts for a peer the browser sends through:
// its camera (first video codec it sends) and microphone (Opus).
void QueueMedia(Library& l, Peer& peer, const std::vector<SdpSection>& sections, Posts& posts)
{
    if (peer.direction != CVRTC_DIRECTION_SEND || !l.settings.autoMedia || peer.mediaStarted)
        return;
    bool audio = false, video = false;
    for (const SdpSection& s : sections) {
        if (s.port == "0" || !WriterSends(s.direction))
            continue;
        if (s.media == "audio" && !audio) {
            for (const auto& c : s.codecs)
                audio = audio || Lower(c.second) == "opus";
        } else if (s.media == "video" && !video) {
            video = true;
            peer.videoCodec = s.FirstCodec();
        }
    }
    if (!audio && !video)
        return;
    peer.mediaStarted = true;
    const uint32_t handle = peer.handle;
    posts.push_back([handle, audio, video]() {
        std::lock_guard<std::mutex> lock(L().mu);
        auto it = L().peers.find(handle);
        if (it == L().peers.end())
            return;
        for (int medium : {kAudio, kVideo}) {
            if (!(medium == kAudio ? audio : video))
                continue;
            StreamPlay play;
            play.rotation = it->second.rotation;
            play.streamIndex = it->second.streamIndex;
            std::string error;
            if (!StartMedia(L(), it->second, medium, play, "", "", error))
                Journal("media " + std::to_string(handle) + " " + MediumName(medium) + ": " + error);
        }
    });
}

// What a remote description opens: its data channel (event 4), and what
// "datafile" names is sent through it.
void Opened(Library& l, Peer& peer, const std::vector<SdpSection>& sections, Posts& posts)
{
    bool data = false;
    for (const SdpSection& s : sections)
        if (s.IsData() && s.port != "0")
            data = true;
    if (data && l.settings.autoData && !peer.dataOpened) {
        peer.dataOpened = true;
        const uint32_t channel = l.settings.channelId;
        posts.push_back(EventItem(peer.handle, CVRTC_EVENT_DATACHANNEL_OPEN, channel, 0,
                                  MakeText("data channel " + std::to_string(channel) + " open")));
        std::vector<Option> opts = l.settings.dataOpts;
        opts.push_back(Option{"event4", "off"});
        std::string error;
        if (!l.settings.dataFile.empty() && !QueueDataSend(peer, l.settings.dataFile, opts, posts, error))
            Journal("data " + std::to_string(peer.handle) + ": " + error);
    }
}

}  // namespace

const char* MediumName(int medium)
{
    return medium == kAudio ? "audio" : medium == kVideo ? "video" : "data";
}

bool StartMedia(Library& l, Peer& peer, int medium, StreamPlay play, const std::string& file, const std::string& codec,
                std::string& error)
{
    std::string path = file;
    if (path.empty() && medium == kAudio)
        path = MediaDir() + "/mic_16k_mono.opus.ogg";
    if (path.empty()) {
        const std::string c = Lower(codec.empty() ? peer.videoCodec : codec);
        if (c.empty() || c == "h264") {
            path = MediaDir() + "/camera_320x240_15fps.h264";
        } else if (c == "vp8") {
            path = MediaDir() + "/camera_320x240_15fps.ivf";
        } else {
            error = "no camera fixture for codec " + c;
            return false;
        }
    }
    std::shared_ptr<const Clip> clip = ClipOf(l, path, error);
    if (!clip)
        return false;
    play.handle = peer.handle;
    play.medium = medium;
    play.cb = peer.cb;
    play.clip = clip;
    l.pump.Add(play);
    return true;
}

bool QueueDataSend(Peer& peer, const std::string& path, const std::vector<Option>& opts, Posts& posts,
                   std::string& error)
{
    StreamPlay play;
    play.medium = kData;
    play.handle = peer.handle;
    play.cb = peer.cb;
    bool event4 = true;
    std::vector<Option> planOpts;
    for (const Option& o : opts) {
        bool ok = true;
        if (o.name == "pace") {
            ok = ParsePace(o.value, play.pace);
        } else if (o.name == "event4") {
            ok = o.value == "on" || o.value == "off";
            event4 = o.value == "on";
        } else {
            planOpts.push_back(o);
        }
        if (!ok) {
            error = "bad " + o.name + "=" + o.value;
            return false;
        }
    }
    std::string file;
    auto plan = std::make_shared<DataPlan>();
    if (!ReadWholeFile(path, file, error) || !BuildDataPlan(file, planOpts, *plan, error))
        return false;
    play.plan = plan;
    const uint32_t handle = peer.handle;
    if (event4)
        posts.push_back(EventItem(handle, CVRTC_EVENT_DATACHANNEL_OPEN, plan->channelId, 0,
                                  MakeText("data channel " + std::to_string(plan->channelId) + " open")));
    // The messages follow once event 4 has been answered.
    posts.push_back([handle, play]() {
        std::lock_guard<std::mutex> lock(L().mu);
        if (L().peers.count(handle))
            L().pump.Add(play);
    });
    return true;
}

void EndPeerMedia(Library& l, Peer& peer)
{
    l.pump.RemoveAll(peer.handle);
    for (auto& save : peer.save)
        if (save)
            save->Close();
}

Library& L()
{
    if (!g_library)
        g_library = new Library;
    return *g_library;
}

void PostAll(Posts& posts)
{
    for (auto& fn : posts)
        L().worker.Post(std::move(fn));
    posts.clear();
}

bool CallbacksFor(Library& l, uint32_t handle, uint32_t via, bool ownOnly, Callbacks& out)
{
    auto it = l.peers.find(handle);
    if (it == l.peers.end() && !ownOnly) {
        it = l.peers.find(via);
        if (it == l.peers.end())
            it = l.peers.find(l.newestHandle);
    }
    if (it == l.peers.end())
        return false;
    out = it->second.cb;
    return true;
}

std::function<void()> InfoItem(uint32_t handle, uint32_t type, uint32_t param, Text text, uint32_t via, bool ownOnly)
{
    return [=]() {
        Callbacks cb;
        bool found;
        {
            std::lock_guard<std::mutex> lock(L().mu);
            found = CallbacksFor(L(), handle, via, ownOnly, cb);
        }
        if (!found && ownOnly)
            return;  // the peer went meanwhile
        std::string line = "cb info " + std::to_string(handle) + " " + std::to_string(type) + " " +
                           std::to_string(param) + " " + TextForm(text);
        if (!found || !cb.info) {
            Journal(line + " = none");
            return;
        }
        int ret = cb.info(handle, type, param, text ? text->c_str() : nullptr, cb.user);
        Journal(line + " = " + std::to_string(ret));
    };
}

std::function<void()> EventItem(uint32_t handle, int event, uint32_t param, uint64_t param2, Text text, uint32_t via,
                                bool ownOnly)
{
    return [=]() {
        Callbacks cb;
        bool found;
        {
            std::lock_guard<std::mutex> lock(L().mu);
            found = CallbacksFor(L(), handle, via, ownOnly, cb);
        }
        if (!found && ownOnly)
            return;
        std::string line = "cb event " + std::to_string(handle) + " " + std::to_string(event) + " " +
                           std::to_string(param) + " " + std::to_string(param2) + " " + TextForm(text);
        if (!found || !cb.event) {
            Journal(line + " = none");
            return;
        }
        int ret = cb.event(handle, event, param, param2, text ? text->c_str() : nullptr, cb.user);
        Journal(line + " = " + std::to_string(ret));
    };
}

std::string DescriptionText(const std::string& peerId, const std::string& type, const std::string& sdp)
{
    Json::Value v(Json::objectValue);
    v["peerconnectionid"] = peerId;
    v["sdp"] = sdp;
    v["type"] = type;
    return cv::toStyledString(v);
}

void QueueOwnOffer(Library& l, Peer& peer, Posts& posts)
{
    peer.state = 1;
    peer.firstMid = "0";
    const std::string sdp = BuildOffer(peer.shape, peer.id, l.settings.offer);
    posts.push_back(InfoItem(peer.handle, CVRTC_INFO_OFFER, 0, MakeText(DescriptionText(peer.peerId, "offer", sdp))));
    QueueCandidates(l, peer, posts);
}

void QueueCandidates(Library&, Peer& peer, Posts& posts)
{
    for (int i = 0; i < 2; ++i)
        posts.push_back(InfoItem(peer.handle, CVRTC_INFO_CANDIDATE, 0, MakeText(CandidateText(peer, i))));
    char text[128];
    std::snprintf(text, sizeof text, "peer %u: ICE gathering 100%% done, 2 host candidates", peer.handle);
    posts.push_back(EventItem(peer.handle, CVRTC_EVENT_LOG, 8, 0, MakeText(text)));
}

int TakeRemoteDescription(Library& l, Peer& peer, const std::string& type, const std::string& sdp, Posts& posts)
{
    std::vector<SdpSection> sections;
    if (!ParseSdp(sdp, sections))
        return 5;  // RTC_ERR_BADSDP
    peer.state = 2;
    peer.firstMid = sections[0].mid;
    if (type == "offer") {
        const std::string answer = BuildAnswer(peer.shape, peer.id, sections);
        posts.push_back(
            InfoItem(peer.handle, CVRTC_INFO_ANSWER, 0, MakeText(DescriptionText(peer.peerId, "answer", answer))));
        QueueCandidates(l, peer, posts);
    }
    Opened(l, peer, sections, posts);
    QueueMedia(l, peer, sections, posts);
    return 0;
}

void EnsureControl()
{
    const char* path = std::getenv("QG_RTC_CONTROL");
    Library& l = L();
    std::lock_guard<std::mutex> lock(l.controlMu);
    if (!path || !*path || l.control.Path() == path)
        return;
    std::string error;
    if (!l.control.Open(path, OnControlLine, error)) {
        std::fprintf(stderr, "corvanewebrtc stand-in: control: %s\n", error.c_str());
        Journal("control: " + error);
    }
}

namespace {

// Loading opens the control FIFO, so a test can steer the library before
// its first call; unloading stops every thread the library started.
__attribute__((constructor)) void OnLoad()
{
    EnsureControl();
}

__attribute__((destructor)) void OnUnload()
{
    if (!g_library)
        return;
    {
        std::lock_guard<std::mutex> lock(g_library->controlMu);
        g_library->control.Close();
    }
    g_library->worker.Stop();
    g_library->pump.Stop();
    delete g_library;
    g_library = nullptr;
}

}  // namespace

}  // namespace rtcstub

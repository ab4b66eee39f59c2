// State of the stand-in media library: peers, settings the control channel
// changes, the worker thread, and the roads callbacks take to quillgate.
#ifndef QG_RTC_LIB_H
#define QG_RTC_LIB_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control_fifo.h"
#include "media_clip.h"
#include "media_pump.h"
#include "rtc_text.h"
#include "rtc_types.h"
#include "save_file.h"
#include "sdp_text.h"
#include "task_thread.h"

namespace rtcstub {

// A received stream written to a file: Annex-B or raw bytes as they come,
// or IVF with its headers.
using standin::SaveFile;

struct Peer {
    uint32_t handle = 0;
    uint32_t direction = 0;
    uint32_t browserType = 0;
    std::string iceServer, json, peerId;
    Callbacks cb;
    Shape shape = Shape::kChrome;
    SdpIdentity id;
    std::string firstMid = "0";  // of its last description, for candidates
    int state = 0;               // 0 new, 1 own offer out, 2 remote description set
    bool dataOpened = false;
    bool mediaStarted = false;
    std::string videoCodec;  // first one the browser sends, of its description
    uint32_t rotation = 0, streamIndex = 0;
    uint32_t framesIn[2] = {0, 0};      // frames quillgate handed in, by medium
    std::shared_ptr<SaveFile> save[2];  // received streams written out
};

// What the control channel sets; see README.md.
struct Settings {
    Shape shape = Shape::kChrome;
    OfferMedia offer;
    bool lenient = false;
    bool autoData = true;
    bool autoMedia = true;   // the browser's camera and microphone once it describes them
    uint32_t channelId = 1;  // of the data channel event 4 reports
    std::string dataFile;    // sent after the event 4 of a description
    std::vector<Option> dataOpts;
    int32_t refuseCode = 0;
    uint32_t refuseTimes = 0;
    uint32_t failCreates = 0;
};

// Work for the worker thread, collected under the lock and posted after
// the call's journal line, so the journal reads in cause order.
using Posts = std::vector<std::function<void()>>;

struct Library {
    std::mutex mu;  // guards everything below but the worker and the control FIFO
    bool inited = false;
    bool stopping = false;  // CVRTC_UnInitialize is joining the threads
    uint32_t nextHandle = 1;
    uint32_t newestHandle = 0;
    std::map<uint32_t, Peer> peers;
    Settings settings;
    std::map<std::string, std::shared_ptr<const Clip>> clips;  // by path
    std::map<uint32_t, uint32_t> singleSeq[2];                 // single frames sent, by handle
    standin::TaskThread worker;
    MediaPump pump;

    std::mutex controlMu;
    standin::ControlFifo control;
};

Library& L();
void PostAll(Posts& posts);

// Opens (or re-opens) the FIFO QG_RTC_CONTROL names; journals a failure.
void EnsureControl();
void OnControlLine(const std::string& line);

// Callbacks for a handle: its own peer's; unless ownOnly, else those of
// `via`, else the newest live peer's. False when there are none.
bool CallbacksFor(Library& l, uint32_t handle, uint32_t via, bool ownOnly, Callbacks& out);

// A text handed to a callback; null is passed as a null text.
using Text = std::shared_ptr<const std::string>;
inline Text MakeText(std::string s)
{
    return std::make_shared<const std::string>(std::move(s));
}

// One info or event callback on the worker.
std::function<void()> InfoItem(uint32_t handle, uint32_t type, uint32_t param, Text text, uint32_t via = 0,
                               bool ownOnly = true);
std::function<void()> EventItem(uint32_t handle, int event, uint32_t param, uint64_t param2, Text text,
                                uint32_t via = 0, bool ownOnly = true);

// Signalling of a peer, queued under the lock: its own offer with host
// candidates and a log line; the answer to a remote offer; what a remote
// description starts (event 4, media).
void QueueOwnOffer(Library& l, Peer& peer, Posts& posts);
void QueueCandidates(Library& l, Peer& peer, Posts& posts);
// 0, or the library's code for a description it cannot use.
int TakeRemoteDescription(Library& l, Peer& peer, const std::string& type, const std::string& sdp, Posts& posts);

// A stream of the browser's camera or microphone for a peer: the file
// given, else the fixture of the codec (video: codec, else the peer's,
// else H.264). False with a reason.
bool StartMedia(Library& l, Peer& peer, int medium, StreamPlay play, const std::string& file, const std::string& codec,
                std::string& error);
// The data-channel sender for a peer: event 4 first when asked, then the
// file's messages from the media thread. Options as "datasend" takes them.
bool QueueDataSend(Peer& peer, const std::string& path, const std::vector<Option>& opts, Posts& posts,
                   std::string& error);
// Closes a peer's save files and ends its streams.
void EndPeerMedia(Library& l, Peer& peer);

// {"peerconnectionid":...,"sdp":...,"type":...} in compact form.
std::string DescriptionText(const std::string& peerId, const std::string& type, const std::string& sdp);

}  // namespace rtcstub

#endif

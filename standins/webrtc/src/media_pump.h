// The library's media thread: the browser's camera, microphone and
// data-channel senders, each a stream of frames delivered on time through
// the peer's callbacks. Per frame it neither allocates nor formats unless
// the journal is on.
#ifndef QG_RTC_MEDIA_PUMP_H
#define QG_RTC_MEDIA_PUMP_H

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "data_sender.h"
#include "media_clip.h"
#include "paced_streams.h"
#include "rtc_types.h"

namespace rtcstub {

using standin::Pace;
using standin::ParsePace;

struct StreamPlay {
    uint32_t handle = 0;
    int medium = kVideo;  // kAudio, kVideo or kData
    Callbacks cb;
    std::shared_ptr<const Clip> clip;      // audio and video
    std::shared_ptr<const DataPlan> plan;  // data: its messages, once
    uint32_t frames = 0;                   // 0: the clip once, or for ever with loop
    bool loop = false;
    Pace pace;
    uint32_t rotation = 0, streamIndex = 0;
};

class MediaPump
{
public:
    MediaPump();
    ~MediaPump();
    MediaPump(const MediaPump&) = delete;
    MediaPump& operator=(const MediaPump&) = delete;

    void Start();
    // Ends every stream (journaling its totals) and joins the thread.
    void Stop();
    bool OnThread() const;

    // A stream of the same handle and medium is replaced.
    void Add(const StreamPlay& play);
    // False when the handle has no such stream.
    bool Remove(uint32_t handle, int medium);
    void RemoveAll(uint32_t handle);
    // Changes a running stream (and returns false when there is none).
    bool SetPace(uint32_t handle, int medium, const Pace& pace);
    bool SetVideo(uint32_t handle, const uint32_t* rotation, const uint32_t* streamIndex);

private:
    using Streams = standin::PacedStreams<StreamPlay>;
    using Stream = Streams::Stream;
    using Clock = Streams::Clock;
    // The stream time of its next step at a pace.
    static uint32_t Elapsed(const Stream& s, const Pace& pace);
    // Delivers the stream's next frame with no lock held; false when the
    // stream has nothing more.
    bool Step(std::unique_lock<std::mutex>& lock, Stream& s);

    unsigned char msgBuf_[kMaxMessage];  // the data message being delivered (media thread only)
    Streams streams_;                    // last: its thread goes before the rest
};

}  // namespace rtcstub

#endif

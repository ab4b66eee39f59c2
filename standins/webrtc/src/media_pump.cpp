#include "media_pump.h"

#include "records.h"
#include "rtc_text.h"

namespace rtcstub {

namespace {

// What one step hands over, copied out under the lock.
struct Delivery {
    uint32_t handle = 0;
    int medium = kVideo;
    Callbacks cb;
    std::shared_ptr<const Clip> clip;
    std::shared_ptr<const DataPlan> plan;
    size_t index = 0;
    uint32_t ts = 0, rotation = 0, streamIndex = 0, seq = 0;
};

void DeliverFrame(const Delivery& d)
{
    const ClipFrame& f = d.clip->frames[d.index];
    const unsigned char* data = reinterpret_cast<const unsigned char*>(d.clip->bytes.data()) + f.offset;
    int ret = 0;
    bool called = false;
    if (d.medium == kVideo) {
        unsigned char rec[VideoRecord::kSize];
        FillPattern(rec, sizeof rec);
        Put32(rec, VideoRecord::kStreamIndex, d.streamIndex);
        Put32(rec, VideoRecord::kRotation, d.rotation);
        Put32(rec, VideoRecord::kTimestamp, d.ts);
        Put32(rec, VideoRecord::kZero, 0);
        Put32(rec, VideoRecord::kLength, f.length);
        PutPtr(rec, VideoRecord::kData, data);
        if ((called = d.cb.video != nullptr))
            ret = d.cb.video(d.handle, reinterpret_cast<RtcVideoFrame*>(rec), 0, 0, d.cb.user);
    } else {
        unsigned char rec[AudioRecord::kSize];
        FillPattern(rec, sizeof rec);
        Put32(rec, AudioRecord::kTimestamp, d.ts);
        Put32(rec, AudioRecord::kZero, 0);
        Put32(rec, AudioRecord::kLength, f.length);
        PutPtr(rec, AudioRecord::kData, data);
        if ((called = d.cb.audio != nullptr))
            ret = d.cb.audio(d.handle, reinterpret_cast<RtcAudioFrame*>(rec), 0, 0, d.cb.user);
    }
    if (!JournalOn())
        return;
    std::string line = std::string("cb ") + MediumName(d.medium) + " " + std::to_string(d.handle) +
                       " seq=" + std::to_string(d.seq) + " len=" + std::to_string(f.length) +
                       " ts=" + std::to_string(d.ts);
    if (d.medium == kVideo)
        line += " rot=" + std::to_string(d.rotation) + " stream=" + std::to_string(d.streamIndex);
    line += " zero=0 crc=" + CrcForm(Crc32(data, f.length));
    Journal(line + (called ? " = " + std::to_string(ret) : " = none"));
}

}  // namespace

MediaPump::MediaPump()
    : streams_([this](std::unique_lock<std::mutex>& lock, Stream& s) { return Step(lock, s); },
               [](const Stream& s) {
                   Journal("totals " + std::to_string(s.play.handle) + " " + MediumName(s.play.medium) +
                           " out=" + std::to_string(s.seq));
               },
               Elapsed)
{}

MediaPump::~MediaPump()
{
    Stop();
}

void MediaPump::Start()
{
    streams_.Start();
}

void MediaPump::Stop()
{
    streams_.Stop();
}

bool MediaPump::OnThread() const
{
    return streams_.OnThread();
}

void MediaPump::Add(const StreamPlay& play)
{
    streams_.Add(play, [&](const StreamPlay& o) { return o.handle == play.handle && o.medium == play.medium; });
}

bool MediaPump::Remove(uint32_t handle, int medium)
{
    return streams_.Remove([&](const StreamPlay& o) { return o.handle == handle && o.medium == medium; }, false);
}

void MediaPump::RemoveAll(uint32_t handle)
{
    streams_.Remove([&](const StreamPlay& o) { return o.handle == handle; }, false);
}

bool MediaPump::SetPace(uint32_t handle, int medium, const Pace& pace)
{
    return streams_.SetPace([&](const StreamPlay& o) { return o.handle == handle && o.medium == medium; }, pace);
}

bool MediaPump::SetVideo(uint32_t handle, const uint32_t* rotation, const uint32_t* streamIndex)
{
    return streams_.Change([&](const StreamPlay& o) { return o.handle == handle && o.medium == kVideo; },
                           [&](StreamPlay& play) {
                               if (rotation)
                                   play.rotation = *rotation;
                               if (streamIndex)
                                   play.streamIndex = *streamIndex;
                           });
}

uint32_t MediaPump::Elapsed(const Stream& s, const Pace& pace)
{
    if (pace.kind == Pace::kFixed)
        return s.seq * pace.ms;
    if (s.play.medium == kData)
        return s.index < s.play.plan->msgs.size() ? s.play.plan->msgs[s.index].timeMs : 0;
    return standin::ClipTime(*s.play.clip, s.index, s.loops);
}

bool MediaPump::Step(std::unique_lock<std::mutex>& lock, Stream& s)
{
    const StreamPlay& play = s.play;
    const bool data = play.medium == kData;
    const size_t count = data ? (play.plan ? play.plan->msgs.size() : 0) : (play.clip ? play.clip->frames.size() : 0);
    if (count == 0 || s.index >= count || (play.frames && s.seq >= play.frames))
        return false;

    Delivery d;
    d.handle = play.handle;
    d.medium = play.medium;
    d.cb = play.cb;
    d.clip = play.clip;
    d.plan = play.plan;
    d.index = s.index;
    d.rotation = play.rotation;
    d.streamIndex = play.streamIndex;
    d.seq = s.seq;
    d.ts = data ? 0 : standin::ClipTime(*play.clip, s.index, s.loops);

    // Advance before delivering: the callback runs without the lock.
    const bool more = Streams::Advance(s, count, !data && play.loop, play.frames);
    // A data message's pause holds back the rest, at any pace.
    const uint32_t pauseMs = data && more ? play.plan->msgs[s.index].pauseMs : 0;
    if (pauseMs && play.pace.kind != Pace::kReal)
        s.start += std::chrono::milliseconds(pauseMs);
    if (play.pace.kind == Pace::kFast)
        s.due = Clock::now() + std::chrono::milliseconds(pauseMs);
    else if (more)
        s.due = s.start + std::chrono::milliseconds(Elapsed(s, play.pace));

    lock.unlock();
    if (data)
        DeliverMessage(d.handle, d.cb, *d.plan, d.index, msgBuf_);
    else
        DeliverFrame(d);
    lock.lock();
    return more;
}

}  // namespace rtcstub

// A stand-in's media thread: streams of frames, each stepped on this one
// thread when its next frame is due, the earliest first, with no lock held
// while a frame is delivered. What a step delivers and how a stream ends
// are the owner's.
#ifndef STANDINS_COMMON_PACED_STREAMS_H
#define STANDINS_COMMON_PACED_STREAMS_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "media_clip.h"

namespace standin {

// Pacing: the clip's own times, as fast as possible, or a fixed gap.
struct Pace {
    enum Kind { kReal, kFast, kFixed } kind = kReal;
    uint32_t ms = 0;
};
// "real", "fast" or a gap of 1 to 60000 ms.
bool ParsePace(const std::string& token, Pace& out);

// A thread running run(arg). Its state's type is local to the library, so
// a stand-in exports nothing for it.
std::thread StartThread(void (*run)(void*), void* arg);

// The time of a clip stream's next frame (the last one's once past the end).
inline uint32_t ClipTime(const Clip& clip, size_t index, uint32_t loops)
{
    const size_t i = index < clip.frames.size() ? index : clip.frames.size() - 1;
    return clip.frames[i].ts + loops * clip.durationMs;
}

template <class Play>
class PacedStreams
{
public:
    using Clock = std::chrono::steady_clock;
    struct Stream {
        Play play;
        uint64_t id = 0;
        size_t index = 0;  // next frame of the clip, or message of the plan
        uint32_t loops = 0;
        uint32_t seq = 0;         // frames delivered
        Clock::time_point start;  // when time 0 of the stream was
        Clock::time_point due;
    };
    // On the thread with the lock held: delivers the stream's next frame,
    // unlocking around the delivery; false when the stream has nothing more.
    // The stream may be gone once the lock is taken again: it is advanced
    // before the unlock and not touched after.
    using StepFn = std::function<bool(std::unique_lock<std::mutex>&, Stream&)>;
    // With the lock held, as a stream ends.
    using EndFn = std::function<void(const Stream&)>;
    // The stream time of its next step at a pace.
    using ElapsedFn = std::function<uint32_t(const Stream&, const Pace&)>;

    // The owner keeps this member last, so the thread is gone before
    // anything the functions touch.
    PacedStreams(StepFn step, EndFn end, ElapsedFn elapsed)
        : step_(std::move(step)), end_(std::move(end)), elapsed_(std::move(elapsed))
    {}
    ~PacedStreams() { Stop(); }
    PacedStreams(const PacedStreams&) = delete;
    PacedStreams& operator=(const PacedStreams&) = delete;

    void Start()
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (running_)
            return;
        running_ = true;
        stop_ = false;
        thread_ = StartThread([](void* self) { static_cast<PacedStreams*>(self)->Run(); }, this);
        id_ = thread_.get_id();
    }

    // Joins the thread, then ends every stream: no step after it returns.
    void Stop()
    {
        std::thread t;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (!running_)
                return;
            running_ = false;
            stop_ = true;
            t.swap(thread_);
        }
        cv_.notify_all();
        if (t.joinable())
            t.join();
        std::lock_guard<std::mutex> lock(mu_);
        id_ = std::thread::id();
        while (!streams_.empty())
            End(streams_.begin());
    }

    bool OnThread() const
    {
        std::lock_guard<std::mutex> lock(mu_);
        return running_ && std::this_thread::get_id() == id_;
    }

    // Due at once; replaces the first stream same(play) holds for. False
    // when not running.
    template <class Same>
    bool Add(const Play& play, Same same)
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (!running_)
                return false;
            for (auto it = streams_.begin(); it != streams_.end(); ++it) {
                if (same((*it)->play)) {
                    End(it);
                    break;
                }
            }
            std::unique_ptr<Stream> s(new Stream);
            s->play = play;
            s->id = nextId_++;
            s->start = s->due = Clock::now();
            streams_.push_back(std::move(s));
        }
        cv_.notify_all();
        return true;
    }

    // Ends every stream match(play) holds for, first to last; with wait,
    // returns once no frame of them is under way (at once on the thread).
    // False when none matched.
    template <class Match>
    bool Remove(Match match, bool wait)
    {
        std::unique_lock<std::mutex> lock(mu_);
        bool any = false;
        for (;;) {
            auto it = streams_.begin();
            while (it != streams_.end() && !match((*it)->play))
                ++it;
            if (it == streams_.end())
                return any;
            any = true;
            const uint64_t id = (*it)->id;
            End(it);
            if (wait && std::this_thread::get_id() != id_)
                cv_.wait(lock, [&] { return delivering_ != id; });
        }
    }

    // Changes the first stream match(play) holds for with the lock held;
    // false when there is none.
    template <class Match, class Edit>
    bool Change(Match match, Edit change)
    {
        std::lock_guard<std::mutex> lock(mu_);
        Stream* s = Find(match);
        if (!s)
            return false;
        change(s->play);
        return true;
    }

    // Time goes on from now at the new pace.
    template <class Match>
    bool SetPace(Match match, const Pace& pace)
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            Stream* s = Find(match);
            if (!s)
                return false;
            s->play.pace = pace;
            const Clock::time_point now = Clock::now();
            s->start = now - std::chrono::milliseconds(elapsed_(*s, pace));
            s->due = now;
        }
        cv_.notify_all();
        return true;
    }

    // For a step: counts the frame and moves to the next, from the top
    // again with loop; true while the stream has more (of at most frames,
    // when not 0).
    static bool Advance(Stream& s, size_t count, bool loop, uint32_t frames)
    {
        ++s.seq;
        if (++s.index >= count && loop) {
            s.index = 0;
            ++s.loops;
        }
        return s.index < count && !(frames && s.seq >= frames);
    }

private:
    using Streams = std::vector<std::unique_ptr<Stream>>;

    template <class Match>
    Stream* Find(Match match)
    {
        for (auto& s : streams_)
            if (match(s->play))
                return s.get();
        return nullptr;
    }

    typename Streams::iterator End(typename Streams::iterator it)
    {
        end_(**it);
        return streams_.erase(it);
    }

    void Run()
    {
        std::unique_lock<std::mutex> lock(mu_);
        while (!stop_) {
            Stream* next = nullptr;
            for (auto& s : streams_)
                if (!next || s->due < next->due)
                    next = s.get();
            if (!next) {
                cv_.wait(lock);
                continue;
            }
            const Clock::time_point due = next->due;  // the stream may go while waiting
            if (Clock::now() < due) {
                cv_.wait_until(lock, due);
                continue;
            }
            const uint64_t id = next->id;
            delivering_ = id;
            const bool more = step_(lock, *next);
            delivering_ = 0;
            cv_.notify_all();
            if (more)
                continue;
            // Nothing more: the stream ends, unless it went meanwhile.
            for (auto it = streams_.begin(); it != streams_.end(); ++it) {
                if ((*it)->id == id) {
                    End(it);
                    break;
                }
            }
        }
    }

    const StepFn step_;
    const EndFn end_;
    const ElapsedFn elapsed_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    Streams streams_;
    uint64_t nextId_ = 1;
    uint64_t delivering_ = 0;  // the stream whose frame is under way
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;
    std::thread::id id_;
};

}  // namespace standin

#endif

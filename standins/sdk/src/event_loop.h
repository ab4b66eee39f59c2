// The stand-in SDK's one event thread: every callback is delivered from here.
#ifndef QG_SDK_EVENT_LOOP_H
#define QG_SDK_EVENT_LOOP_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace sdkstub {

class EventLoop
{
public:
    EventLoop() = default;
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    void Start();
    // Drops what is still queued and joins the thread (detaches it when
    // called from a callback on that thread).
    void Stop();
    // Runs fn on the event thread no earlier than delayMs from now and
    // never before anything posted earlier.
    void Post(std::function<void()> fn, int delayMs);
    bool OnLoopThread() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Item {
        Clock::time_point due;
        std::function<void()> fn;
    };
    void Run();

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Item> queue_;
    Clock::time_point lastDue_{};
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace sdkstub

#endif

// The library's worker thread: signalling texts, events and injected
// messages are delivered from here, one at a time, in posting order.
#ifndef QG_RTC_WORKER_H
#define QG_RTC_WORKER_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace rtcstub {

class Worker
{
public:
    Worker() = default;
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Start();
    // Drops what is still queued and joins the thread; never called on it.
    void Stop();
    // Runs fn on the worker thread after everything posted before it.
    void Post(std::function<void()> fn);
    // Items posted after this wait delayMs more.
    void Delay(int delayMs);
    bool OnThread() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Item {
        Clock::time_point due;
        std::function<void()> fn;
    };
    void Run();

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Item> queue_;
    Clock::time_point lastDue_{};
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;
    std::thread::id id_;
};

}  // namespace rtcstub

#endif

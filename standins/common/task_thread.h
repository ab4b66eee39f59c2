// One thread that runs posted tasks one at a time, in posting order, each
// no earlier than it is due: the stand-in SDK's callbacks and the media
// library's signalling are delivered from such a thread.
#ifndef QG_STANDINS_COMMON_TASK_THREAD_H
#define QG_STANDINS_COMMON_TASK_THREAD_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace standin {

class TaskThread
{
public:
    TaskThread() = default;
    ~TaskThread();
    TaskThread(const TaskThread&) = delete;
    TaskThread& operator=(const TaskThread&) = delete;

    // A repeat while running does nothing.
    void Start();
    // Drops what is still queued and joins the thread (detaches it when
    // called from a task on that thread).
    void Stop();
    // Runs fn on the thread no earlier than delayMs from now and never
    // before anything posted earlier. Dropped when not running.
    void Post(std::function<void()> fn, int delayMs = 0);
    // Tasks posted after this wait delayMs more.
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

}  // namespace standin

#endif

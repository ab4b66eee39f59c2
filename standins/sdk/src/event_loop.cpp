#include "event_loop.h"

namespace sdkstub {

EventLoop::~EventLoop()
{
    Stop();
}

void EventLoop::Start()
{
    std::lock_guard<std::mutex> lock(mu_);
    if (running_)
        return;
    stop_ = false;
    running_ = true;
    queue_.clear();
    lastDue_ = Clock::now();
    thread_ = std::thread(&EventLoop::Run, this);
}

void EventLoop::Stop()
{
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!running_)
            return;
        running_ = false;
        stop_ = true;
        queue_.clear();
        t.swap(thread_);
    }
    cv_.notify_all();
    if (t.get_id() == std::this_thread::get_id())
        t.detach();
    else if (t.joinable())
        t.join();
}

void EventLoop::Post(std::function<void()> fn, int delayMs)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!running_)
            return;
        Clock::time_point due = Clock::now() + std::chrono::milliseconds(delayMs);
        if (due < lastDue_)
            due = lastDue_;
        lastDue_ = due;
        queue_.push_back(Item{due, std::move(fn)});
    }
    cv_.notify_all();
}

bool EventLoop::OnLoopThread() const
{
    return std::this_thread::get_id() == thread_.get_id();
}

void EventLoop::Run()
{
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
        if (queue_.empty()) {
            cv_.wait(lock);
            continue;
        }
        if (Clock::now() < queue_.front().due) {
            cv_.wait_until(lock, queue_.front().due);
            continue;
        }
        std::function<void()> fn = std::move(queue_.front().fn);
        queue_.pop_front();
        lock.unlock();
        fn();
        lock.lock();
    }
}

}  // namespace sdkstub

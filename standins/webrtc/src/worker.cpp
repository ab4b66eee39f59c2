#include "worker.h"

namespace rtcstub {

Worker::~Worker()
{
    Stop();
}

void Worker::Start()
{
    std::lock_guard<std::mutex> lock(mu_);
    if (running_)
        return;
    stop_ = false;
    running_ = true;
    queue_.clear();
    lastDue_ = Clock::now();
    thread_ = std::thread(&Worker::Run, this);
    id_ = thread_.get_id();
}

void Worker::Stop()
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
    if (t.joinable())
        t.join();
    std::lock_guard<std::mutex> lock(mu_);
    id_ = std::thread::id();
}

void Worker::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!running_)
            return;
        Clock::time_point due = Clock::now();
        if (due < lastDue_)
            due = lastDue_;
        lastDue_ = due;
        queue_.push_back(Item{due, std::move(fn)});
    }
    cv_.notify_all();
}

void Worker::Delay(int delayMs)
{
    std::lock_guard<std::mutex> lock(mu_);
    Clock::time_point now = Clock::now();
    if (lastDue_ < now)
        lastDue_ = now;
    lastDue_ += std::chrono::milliseconds(delayMs);
}

bool Worker::OnThread() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return running_ && std::this_thread::get_id() == id_;
}

void Worker::Run()
{
    std::unique_lock<std::mutex> lock(mu_);
    while (!stop_) {
        if (queue_.empty()) {
            cv_.wait(lock);
            continue;
        }
        const Clock::time_point due = queue_.front().due;  // Stop may clear the queue meanwhile
        if (Clock::now() < due) {
            cv_.wait_until(lock, due);
            continue;
        }
        std::function<void()> fn = std::move(queue_.front().fn);
        queue_.pop_front();
        lock.unlock();
        fn();
        lock.lock();
    }
}

}  // namespace rtcstub

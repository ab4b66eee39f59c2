#include "task_thread.h"

namespace standin {

TaskThread::~TaskThread()
{
    Stop();
}

void TaskThread::Start()
{
    std::lock_guard<std::mutex> lock(mu_);
    if (running_)
        return;
    stop_ = false;
    running_ = true;
    queue_.clear();
    lastDue_ = Clock::now();
    thread_ = std::thread(&TaskThread::Run, this);
    id_ = thread_.get_id();
}

void TaskThread::Stop()
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
    std::lock_guard<std::mutex> lock(mu_);
    id_ = std::thread::id();
}

void TaskThread::Post(std::function<void()> fn, int delayMs)
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

void TaskThread::Delay(int delayMs)
{
    std::lock_guard<std::mutex> lock(mu_);
    const Clock::time_point now = Clock::now();
    if (lastDue_ < now)
        lastDue_ = now;
    lastDue_ += std::chrono::milliseconds(delayMs);
}

bool TaskThread::OnThread() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return running_ && std::this_thread::get_id() == id_;
}

void TaskThread::Run()
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

}  // namespace standin

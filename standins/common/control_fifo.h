// Control channel of a stand-in: a FIFO read line by line on its own thread,
// each line handed to the handler Open was given.
#ifndef STANDINS_COMMON_CONTROL_FIFO_H
#define STANDINS_COMMON_CONTROL_FIFO_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace standin {

class ControlFifo
{
public:
    using LineHandler = std::function<void(const std::string&)>;
    static constexpr size_t kMaxLine = 1 << 20;

    ControlFifo() = default;
    ~ControlFifo();
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

    // Creates the FIFO when absent; false with a reason when path is not usable.
    bool Open(const std::string& path, LineHandler handler, std::string& error);
    // Joins the reader and removes a FIFO that Open created.
    void Close();
    // The FIFO open now; empty when none is.
    const std::string& Path() const { return path_; }

private:
    void Run();

    std::string path_;
    bool created_ = false;
    int fd_ = -1;
    LineHandler handler_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace standin

#endif

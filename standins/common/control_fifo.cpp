#include "control_fifo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace standin {

ControlFifo::~ControlFifo()
{
    Close();
}

bool ControlFifo::Open(const std::string& path, LineHandler handler, std::string& error)
{
    Close();
    struct stat st;
    bool created = false;
    if (::stat(path.c_str(), &st) != 0) {
        if (::mkfifo(path.c_str(), 0600) != 0) {
            error = "cannot create FIFO " + path + ": " + std::strerror(errno);
            return false;
        }
        created = true;
    } else if (!S_ISFIFO(st.st_mode)) {
        error = path + " exists and is not a FIFO";
        return false;
    }
    // Read-write, so the FIFO never reports end of file between writers.
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open FIFO " + path + ": " + std::strerror(errno);
        if (created)
            ::unlink(path.c_str());
        return false;
    }
    path_ = path;
    created_ = created;
    fd_ = fd;
    handler_ = std::move(handler);
    stop_ = false;
    // A closure of this file's own: the stand-ins export nothing for it.
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ControlFifo::Close()
{
    if (fd_ < 0)
        return;
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    ::close(fd_);
    fd_ = -1;
    if (created_)
        ::unlink(path_.c_str());
    created_ = false;
    path_.clear();
}

void ControlFifo::Run()
{
    std::string line;
    bool overlong = false;
    char buf[65536];
    while (!stop_) {
        struct pollfd pfd = {fd_, POLLIN, 0};
        int pr = ::poll(&pfd, 1, 50);
        if (pr <= 0)
            continue;
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0)
            continue;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                if (line.size() < kMaxLine)
                    line.push_back(buf[i]);
                else
                    overlong = true;
                continue;
            }
            // An overlong line is handed on cut, so the handler reports it as bad.
            if (overlong)
                line = "overlong " + line.substr(0, 64);
            if (!line.empty())
                handler_(line);
            line.clear();
            overlong = false;
        }
    }
}

}  // namespace standin

#include "sdk_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace sdkstub {

void AppendLine(const char* envName, const std::string& line) {
    // Never destroyed: the program may still log from its static destructors.
    static std::mutex& mu = *new std::mutex;
    const char* path = std::getenv(envName);
    if (!path || !*path) return;
    std::string text = line;
    text.push_back('\n');
    std::lock_guard<std::mutex> lock(mu);
    // Opened per line so every line is on disk when the call returns.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

}  // namespace sdkstub

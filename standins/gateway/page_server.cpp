#include "page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace standin {

namespace {

const int kPollWaitMs = 1000;     // a poll with nothing to carry is answered after this
const int kReadTimeoutMs = 5000;  // a request must arrive whole within this
const size_t kMaxRequest = 16u << 20;

bool ReadRequest(int fd, std::string& head, std::string& body)
{
    std::string data;
    char buffer[16384];
    size_t headEnd = std::string::npos;
    size_t length = 0;
    for (;;) {
        if (headEnd != std::string::npos && data.size() >= headEnd + 4 + length)
            break;
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, kReadTimeoutMs) <= 0)
            return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        data.append(buffer, static_cast<size_t>(n));
        if (data.size() > kMaxRequest)
            return false;
        if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
            std::string lower = data.substr(0, headEnd);
            for (char& c : lower)
                c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            const size_t at = lower.find("\r\ncontent-length:");
            if (at != std::string::npos)
                length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
            if (length > kMaxRequest)
                return false;
        }
    }
    head = data.substr(0, headEnd);
    body = data.substr(headEnd + 4, length);
    return true;
}

void WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void Respond(int fd, int status, const char* type, const std::string& body)
{
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
    std::ostringstream out;
    out << "HTTP/1.1 " << status << ' ' << reason << "\r\nContent-Type: " << type
        << "\r\nContent-Length: " << body.size() << "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    WriteAll(fd, out.str() + body);
}

}  // namespace

PageServer::PageServer(std::string page, std::string dataFile, SendHandler onSend)
    : page_(std::move(page)), dataFile_(std::move(dataFile)), onSend_(std::move(onSend))
{}

PageServer::~PageServer()
{
    Stop();
}

bool PageServer::Start(int port, std::string& error)
{
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenFd_, 16) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error = std::string("page port: ") + strerror(errno);
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread(&PageServer::AcceptLoop, this);
    return true;
}

void PageServer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_ || listenFd_ < 0)
            return;
        stopping_ = true;
    }
    cv_.notify_all();
    shutdown(listenFd_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    close(listenFd_);
    // Every connection ends by itself: reads and polls are bounded.
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return active_ == 0; });
}

void PageServer::Push(const std::string& json)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        outbox_.push_back(json);
    }
    cv_.notify_all();
}

bool PageServer::WaitOpen(int ms)
{
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return opened_ || stopping_; }) && opened_;
}

void PageServer::AcceptLoop()
{
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) {
            close(fd);
            return;
        }
        ++active_;
        // Each connection on its own thread: a poll waits while the page posts.
        std::thread(&PageServer::Serve, this, fd).detach();
    }
}

std::string PageServer::Poll(size_t from)
{
    std::unique_lock<std::mutex> lock(mu_);
    if (!opened_) {
        opened_ = true;
        cv_.notify_all();
    }
    cv_.wait_for(lock, std::chrono::milliseconds(kPollWaitMs), [&] { return stopping_ || outbox_.size() > from; });
    std::string out = "{\"messages\":[";
    for (size_t i = from; i < outbox_.size(); ++i)
        out += (i > from ? "," : "") + outbox_[i];
    out += "],\"next\":" + std::to_string(std::max(from, outbox_.size())) + "}";
    return out;
}

void PageServer::Serve(int fd)
{
    std::string head, body;
    if (ReadRequest(fd, head, body)) {
        const size_t space = head.find(' ');
        const size_t end = head.find(' ', space + 1);
        const std::string method = head.substr(0, space);
        const std::string target = space == std::string::npos ? "" : head.substr(space + 1, end - space - 1);
        if (method == "GET" && (target == "/" || target == "/index.html")) {
            Respond(fd, 200, "text/html; charset=utf-8", page_);
        } else if (method == "GET" && target.compare(0, 11, "/poll?from=") == 0) {
            Respond(fd, 200, "application/json", Poll(std::strtoul(target.c_str() + 11, nullptr, 10)));
        } else if (method == "POST" && target == "/send") {
            Respond(fd, 200, "application/json", onSend_(body));
        } else if (method == "GET" && target == "/datafile" && !dataFile_.empty()) {
            std::ifstream in(dataFile_, std::ios::binary);
            std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            Respond(fd, in ? 200 : 404, "application/octet-stream", file);
        } else {
            Respond(fd, 404, "text/plain", "not here\n");
        }
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mu_);
    --active_;
    cv_.notify_all();
}

}  // namespace standin

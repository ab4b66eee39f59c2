// The browser side of the stand-in gateway: a small HTTP server on
// 127.0.0.1 that serves the browser's page and carries messages both ways
// by long polling. The page fetches GET /poll?from=N for the messages the
// gateway queued from N on, and posts each of its own to POST /send, one
// after the other; GET /datafile is the file its data channel sends.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

class PageServer
{
public:
    // What a posted message is answered with (a JSON text).
    using SendHandler = std::function<std::string(const std::string& body)>;

    PageServer(std::string page, std::string dataFile, SendHandler onSend);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks one); false with the reason.
    bool Start(int port, std::string& error);
    int Port() const { return port_; }
    // Ends the server: open polls are answered, connections joined (bounded).
    void Stop();

    // A JSON text for the page, in order.
    void Push(const std::string& json);
    // Waits until the page has polled once.
    bool WaitOpen(int ms);

private:
    void AcceptLoop();
    void Serve(int fd);
    std::string Poll(size_t from);

    const std::string page_;
    const std::string dataFile_;
    const SendHandler onSend_;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread acceptor_;

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> outbox_;
    bool opened_ = false;
    bool stopping_ = false;
    int active_ = 0;  // connections being served
};

}  // namespace standin

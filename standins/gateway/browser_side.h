// The gateway's browser side: the page server, the relay between the page
// and quillgate as the real gateway makes it (the page's descriptions and
// candidates become webrtcConsult calls, its peer requests consultParam
// calls; notifyWebrtcConsult and the two replies go to the page), and the
// script's "page" commands.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "optable.h"
#include "page_server.h"

namespace standin {

class BrowserSide
{
public:
    // Makes a served operation's call and prints it; false when it failed.
    using CallFn = std::function<bool(const std::string& op, const std::vector<Value>& args, int& result)>;
    using PrintFn = std::function<void(const std::string& line)>;

    // keepDir: where the page's own offers and answers are written
    // (page-<peer id>-<type>.json, as sent), or "".
    BrowserSide(const std::string& dataFile, const std::string& keepDir, CallFn call, PrintFn print);
    bool Start(int port, std::string& error);
    int Port() const { return server_.Port(); }
    void Stop() { server_.Stop(); }

    // A gateway operation quillgate called (args without the session id).
    void Relay(const std::string& op, const std::vector<Value>& args);

    // "page open [MS]", "page send "JSON"", "page wait "TEXT" [MS]": false
    // with err for a bad line, false without for a failed wait.
    bool Script(const std::string& rest, std::string& err);

private:
    std::string OnSend(const std::string& body);

    void Keep(const std::string& json);

    const std::string keepDir_;
    const CallFn call_;
    const PrintFn print_;
    PageServer server_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> reports_;
    std::vector<bool> taken_;
    int nextReqid_ = 1000;  // the page's requests
};

// The page's HTML (browser_page.html, built in).
extern const char* const kBrowserPage;

}  // namespace standin

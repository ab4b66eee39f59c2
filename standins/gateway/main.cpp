// standin-gateway: a small WebRTC gateway for tests. It serves the gateway
// interface (identity "CorvaneWebRtcGWServer") on 127.0.0.1, starts one
// quillgate for one session, drives that session from a script and prints,
// in wire order, every call it receives and every call it makes.
//
// Command line:
//   standin-gateway [options] [-- extra quillgate arguments]
//     -p PORT     port to listen on; 0 (default) picks a free one
//     -q PATH     quillgate program (default: "quillgate" beside this program)
//     -n          start no quillgate (something else registers)
//     -s ID       session id (default "standin-session")
//     -H TEXT     value passed with -h instead of "127.0.0.1:<port>"
//     -o FILE     append quillgate's stdout and stderr to FILE
//     -S FILE     script to run once the gateway listens
//     -r CODE     answer initiateQiullgateDelegate with CODE (default 0)
//     -b MS       call heartBeat every MS ms once a delegate has registered
//     -1          call heartBeat once after registration, then stay silent
//     -x SEC      go away (destroy the communicator) after SEC seconds
//     -w SEC      at the end wait at most SEC seconds for quillgate (default 60),
//                 then kill it
//     -Q          do not print received ice_ping calls
//     -W PORT     serve the browser's page on 127.0.0.1:PORT (0 picks one),
//                 printed as "page http://127.0.0.1:PORT/"; relay between it
//                 and quillgate (see browser_side.h)
//     -D FILE     the file the page's data channel sends (GET /datafile)
//     -K DIR      keep the page's offers and answers there, as sent
//   quillgate is started as: PATH -g <id> -h 127.0.0.1:<port> [extra ...]
//   with its stdin on a pipe that the script can write to.
//
// Script, one command a line ('#' starts a comment line):
//   call OP ARG...     call a served operation; ARGs are ints, true/false and
//                      "strings" (escapes \n \r \t \" \\ \xHH), in Slice order
//   wait OP [MS]       wait (default 10000 ms) for one more received call OP
//   sleep MS           pause
//   journal N TEXT [MS]
//                      wait (default 10000 ms) until the SDK's journal
//                      ($QG_SDK_JOURNAL) holds N lines that hold TEXT
//   heartbeat MS|once|off
//   answer OP CODE     answer later calls of gateway operation OP with CODE
//   fail-ping [N]      make the next N (default 1) received ice_ping fail
//   hold MS            hold the adapter for MS ms, then serve again
//   stdin "TEXT"       write TEXT to quillgate's stdin
//   exit               go away now: destroy the communicator
//   lane NAME call OP ARG...
//                      queue the call on lane NAME, a thread of its own (made
//                      at first use): lanes run side by side, each in order
//   join               wait until every lane has made all its calls
//   page open [MS]     wait (default 30000 ms) for the page's first poll
//   page send "JSON"   a message for the page
//   page wait "TEXT" [MS]
//                      wait for one more page report holding TEXT
// A failed wait or a bad line stops the script; the lanes are joined at its
// end either way. After the script the
// stand-in keeps serving until quillgate exits (bounded by -w); with -n until
// it goes away or -w runs out.
//
// Output lines:
//   listening 127.0.0.1:PORT
//   started pid N: ARGV...
//   recv OP(ARGS) -> ANSWER          (ice_ping: -> ok | fail)
//   call OP(ARGS) -> RESULT | call OP(ARGS) fail: TEXT
//                                    (the call line is printed as the call is
//                                    sent; when other lines come before its
//                                    answer, the outcome follows on its own:)
//   result OP(ARGS) -> RESULT | result OP(ARGS) fail: TEXT
//   wait OP ok | wait OP timeout
//   answer OP CODE | fail-ping N     (echo of those script commands)
//   script line N: TEXT
//   gone
//   quillgate exit CODE | quillgate signal SIG | quillgate killed
//   daemon pid N exited | daemon pid N killed
//   done STATUS                      (0 ok, 1 script failure)

#include "browser_side.h"
#include "optable.h"

#include <Ice/Ice.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace standin;

namespace {

// Long enough for a sanitizer build of quillgate on a loaded host.
const int kCallTimeoutMs = 30000;
const int kDefaultWaitMs = 10000;

// stdout, one flushed line at a time. A call's line goes out before the call
// is sent, so whatever the call causes prints below it: its result joins the
// line when nothing was printed meanwhile, else gets a "result" line of its
// own. The screen's order is then the order on the wire.
class Printer
{
public:
    void Line(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mu_);
        CloseOpen();
        Write(Flat(text) + "\n");
    }

    // Prints a call's line, left open for its result; returns its ticket.
    unsigned Begin(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(mu_);
        CloseOpen();
        Write("call " + Flat(call));
        open_ = ++tickets_;
        return open_;
    }

    // outcome: " -> RESULT" or " fail: TEXT".
    void End(unsigned ticket, const std::string& call, const std::string& outcome)
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (open_ == ticket) {
            open_ = 0;
            Write(Flat(outcome) + "\n");
        } else {
            CloseOpen();
            Write("result " + Flat(call) + Flat(outcome) + "\n");
        }
    }

private:
    static std::string Flat(std::string text)
    {
        for (char& c : text) {
            if (c == '\n' || c == '\r')
                c = ' ';
        }
        return text;
    }

    void CloseOpen()
    {
        if (open_) {
            open_ = 0;
            Write("\n");
        }
    }

    static void Write(const std::string& text)
    {
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
    }

    std::mutex mu_;
    unsigned open_ = 0;  // ticket of the call whose line waits for its result
    unsigned tickets_ = 0;
};

Printer& Out()
{
    static Printer printer;
    return printer;
}

void Print(const std::string& line)
{
    Out().Line(line);
}

std::string ErrorText(const std::exception& e)
{
    return e.what();
}

// Everything the servant, the script and the helper threads share.
class Session
{
public:
    Ice::CommunicatorPtr com;
    Ice::ObjectAdapterPtr adapter;
    bool quietPings = false;
    BrowserSide* browser = nullptr;  // with -W

    void Received(const std::string& op)
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++received_[op];
        cv_.notify_all();
    }

    // Waits for one received call of op not yet taken by an earlier wait.
    bool WaitFor(const std::string& op, int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        bool ok =
            cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return gone_ || received_[op] > taken_[op]; });
        if (!ok || received_[op] <= taken_[op])
            return false;
        ++taken_[op];
        return true;
    }

    // Returns false when the gateway went away meanwhile.
    bool Sleep(int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return gone_; });
        return !gone_;
    }

    bool Gone()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return gone_;
    }

    void SetAnswer(const std::string& op, int code)
    {
        std::lock_guard<std::mutex> lock(mu_);
        answers_[op] = code;
    }

    int Answer(const std::string& op)
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = answers_.find(op);
        return it == answers_.end() ? 0 : it->second;
    }

    void AddPingFailures(int n)
    {
        std::lock_guard<std::mutex> lock(mu_);
        pingFailures_ += n;
    }

    bool TakePingFailure()
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (pingFailures_ <= 0)
            return false;
        --pingFailures_;
        return true;
    }

    void SetDelegate(const std::string& proxyText, int pid)
    {
        Ice::ObjectPrx prx;
        if (!proxyText.empty()) {
            prx = com->stringToProxy(proxyText)->ice_invocationTimeout(kCallTimeoutMs);
        }
        std::lock_guard<std::mutex> lock(mu_);
        delegate_ = prx;
        delegatePid_ = pid;
        cv_.notify_all();
    }

    int DelegatePid()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return delegatePid_;
    }

    void SetHeartbeat(int periodMs, bool once)
    {
        std::lock_guard<std::mutex> lock(mu_);
        hbPeriodMs_ = periodMs;
        hbOnce_ = once;
        hbChanged_ = true;
        cv_.notify_all();
    }

    // Calls a served operation on the registered delegate and prints the outcome.
    bool Call(const std::string& op, const std::vector<Value>& args, int* answer = nullptr)
    {
        Ice::ObjectPrx prx;
        {
            std::lock_guard<std::mutex> lock(mu_);
            prx = delegate_;
        }
        const std::string call = FormatCall(op, args);
        if (!prx) {
            Print("call " + call + " fail: no delegate registered");
            return false;
        }
        const unsigned ticket = Out().Begin(call);
        try {
            std::vector<Ice::Byte> result;
            if (!prx->ice_invoke(op, Ice::Normal, EncodeArgs(com, args), result)) {
                Out().End(ticket, call, " fail: user exception");
                return false;
            }
            Ice::InputStream in(com, result);
            in.startEncapsulation();
            Ice::Int r = 0;
            in.read(r);
            in.endEncapsulation();
            Out().End(ticket, call, " -> " + std::to_string(r));
            if (answer)
                *answer = r;
            return true;
        } catch (const Ice::Exception& e) {
            Out().End(ticket, call, " fail: " + ErrorText(e));
            return false;
        }
    }

    void HeartbeatLoop()
    {
        std::unique_lock<std::mutex> lock(mu_);
        while (!stopping_ && !gone_) {
            if (!delegate_ || (!hbOnce_ && hbPeriodMs_ <= 0)) {
                cv_.wait_for(lock, std::chrono::milliseconds(50));
                continue;
            }
            bool once = hbOnce_;
            int period = hbPeriodMs_;
            hbOnce_ = false;
            hbChanged_ = false;
            lock.unlock();
            Call("heartBeat", {});
            lock.lock();
            if (once)
                continue;
            cv_.wait_for(lock, std::chrono::milliseconds(period), [&] { return stopping_ || gone_ || hbChanged_; });
        }
    }

    void ExitAfter(int seconds)
    {
        {
            std::unique_lock<std::mutex> lock(mu_);
            if (cv_.wait_for(lock, std::chrono::seconds(seconds), [&] { return stopping_ || gone_; })) {
                return;
            }
        }
        GoAway();
    }

    void GoAway()
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (gone_)
                return;
            gone_ = true;
            cv_.notify_all();
        }
        com->destroy();
        Print("gone");  // only now is the port closed
    }

    void Stop()
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::map<std::string, int> received_, taken_, answers_;
    int pingFailures_ = 0;
    Ice::ObjectPrx delegate_;
    int delegatePid_ = 0;
    int hbPeriodMs_ = 0;
    bool hbOnce_ = false;
    bool hbChanged_ = false;
    bool gone_ = false;
    bool stopping_ = false;
};

// Serves the gateway interface dynamically from its signature table.
class GatewayServant : public Ice::Blobject
{
public:
    explicit GatewayServant(Session& s) : s_(s) {}

    bool ice_invoke(const std::vector<Ice::Byte>& inParams, std::vector<Ice::Byte>& outParams,
                    const Ice::Current& cur) override
    {
        const std::string& op = cur.operation;
        Ice::OutputStream out(s_.com, cur.encoding);
        out.startEncapsulation(cur.encoding, Ice::DefaultFormat);
        std::string line = "recv ";
        if (op == "ice_ping") {
            bool fail = s_.TakePingFailure();
            if (!s_.quietPings || fail)
                Print(line + "ice_ping() -> " + (fail ? "fail" : "ok"));
            s_.Received(op);
            if (fail)
                throw Ice::ObjectNotExistException(__FILE__, __LINE__, cur.id, cur.facet, op);
        } else if (op == "ice_isA") {
            Ice::InputStream in(s_.com, cur.encoding, inParams);
            std::string id;
            in.startEncapsulation();
            in.read(id, false);
            in.endEncapsulation();
            bool isA = id == kGatewayOps.typeId || id == "::Ice::Object";
            out.write(isA);
            Print(line + "ice_isA(" + Quote(id) + ") -> " + (isA ? "true" : "false"));
            s_.Received(op);
        } else if (op == "ice_ids") {
            out.write(std::vector<std::string>{"::Ice::Object", kGatewayOps.typeId});
            Print(line + "ice_ids()");
            s_.Received(op);
        } else if (op == "ice_id") {
            out.write(std::string(kGatewayOps.typeId));
            Print(line + "ice_id()");
            s_.Received(op);
        } else {
            const OpSig* sig = kGatewayOps.Find(op);
            if (!sig) {
                Print(line + Quote(op) + " unknown operation");
                throw Ice::OperationNotExistException(__FILE__, __LINE__, cur.id, cur.facet, op);
            }
            if (cur.mode != Ice::Normal) {
                Print(line + op + " refused: not a normal-mode request");
                throw Ice::MarshalException(__FILE__, __LINE__, "unexpected operation mode");
            }
            std::vector<Value> args;
            try {
                args = DecodeArgs(s_.com, cur.encoding, *sig, inParams);
            } catch (const Ice::Exception& e) {
                Print(line + op + " bad arguments: " + ErrorText(e));
                throw;
            }
            if (op == "initiateQiullgateDelegate")
                s_.SetDelegate(args[2].s, args[1].i);
            line += FormatCall(op, args);
            if (sig->result == 'i') {
                Ice::Int answer = s_.Answer(op);
                out.write(answer);
                line += " -> " + std::to_string(answer);
            }
            Print(line);
            if (s_.browser)
                s_.browser->Relay(op, std::vector<Value>(args.begin() + 1, args.end()));
            s_.Received(op);
        }
        out.endEncapsulation();
        out.finished(outParams);
        return true;
    }

private:
    Session& s_;
};

struct Options {
    int port = 0;
    std::string quillgate;
    bool noStart = false;
    std::string session = "standin-session";
    std::string hostArg;
    std::string outFile;
    std::string script;
    int registerAnswer = 0;
    int heartbeatMs = 0;
    bool heartbeatOnce = false;
    int exitAfterSec = 0;
    int waitSec = 60;
    bool quietPings = false;
    int pagePort = -1;
    std::string dataFile;
    std::string keepDir;
    std::vector<std::string> extra;
};

bool ToInt(const char* text, int& v)
{
    char* end = nullptr;
    long n = strtol(text, &end, 10);
    if (!*text || *end || n < INT32_MIN || n > INT32_MAX)
        return false;
    v = static_cast<int>(n);
    return true;
}

int Usage()
{
    fprintf(stderr, "usage: standin-gateway [-p port] [-q quillgate | -n] [-s session] [-H hostarg] [-o file]\n"
                    "                       [-S script] [-r code] [-b ms | -1] [-x sec] [-w sec] [-Q]\n"
                    "                       [-W page-port] [-D data-file] [-K keep-dir]\n"
                    "                       [-- quillgate args]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& o)
{
    int c;
    while ((c = getopt(argc, argv, "p:q:ns:H:o:S:r:b:1x:w:QW:D:K:")) != -1) {
        bool ok = true;
        switch (c) {
        case 'p':
            ok = ToInt(optarg, o.port) && o.port >= 0 && o.port < 65536;
            break;
        case 'q':
            o.quillgate = optarg;
            break;
        case 'n':
            o.noStart = true;
            break;
        case 's':
            o.session = optarg;
            break;
        case 'H':
            o.hostArg = optarg;
            break;
        case 'o':
            o.outFile = optarg;
            break;
        case 'S':
            o.script = optarg;
            break;
        case 'r':
            ok = ToInt(optarg, o.registerAnswer);
            break;
        case 'b':
            ok = ToInt(optarg, o.heartbeatMs) && o.heartbeatMs > 0;
            break;
        case '1':
            o.heartbeatOnce = true;
            break;
        case 'x':
            ok = ToInt(optarg, o.exitAfterSec) && o.exitAfterSec > 0;
            break;
        case 'w':
            ok = ToInt(optarg, o.waitSec) && o.waitSec >= 0;
            break;
        case 'Q':
            o.quietPings = true;
            break;
        case 'W':
            ok = ToInt(optarg, o.pagePort) && o.pagePort >= 0 && o.pagePort < 65536;
            break;
        case 'D':
            o.dataFile = optarg;
            break;
        case 'K':
            o.keepDir = optarg;
            break;
        default:
            ok = false;
        }
        if (!ok)
            return false;
    }
    for (int k = optind; k < argc; ++k)
        o.extra.push_back(argv[k]);
    if (o.quillgate.empty()) {
        char self[4096] = {0};
        ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
        std::string dir = n > 0 ? std::string(self, n) : std::string(argv[0]);
        size_t slash = dir.rfind('/');
        o.quillgate = (slash == std::string::npos ? std::string(".") : dir.substr(0, slash)) + "/quillgate";
    }
    return true;
}

// A thread of the script that makes its queued calls in order.
class Lane
{
public:
    explicit Lane(Session& s) : s_(s), thread_(&Lane::Run, this) {}
    ~Lane()
    {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
            cv_.notify_all();
        }
        thread_.join();
    }

    void Queue(const std::string& op, const std::vector<Value>& args)
    {
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back({op, args});
        cv_.notify_all();
    }

    // Waits until the queue is empty and no call is on its way.
    void Drain()
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return calls_.empty() && !busy_; });
    }

private:
    struct Pending {
        std::string op;
        std::vector<Value> args;
    };

    void Run()
    {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            cv_.wait(lock, [&] { return stop_ || !calls_.empty(); });
            if (calls_.empty())
                return;
            Pending call = calls_.front();
            calls_.erase(calls_.begin());
            busy_ = true;
            lock.unlock();
            s_.Call(call.op, call.args);
            lock.lock();
            busy_ = false;
            cv_.notify_all();
        }
    }

    Session& s_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Pending> calls_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// Starts quillgate with its stdin on a pipe; returns its pid or -1.
pid_t StartQuillgate(const Options& o, int port, int& stdinFd)
{
    std::vector<std::string> args = {o.quillgate, "-g", o.session, "-h",
                                     o.hostArg.empty() ? "127.0.0.1:" + std::to_string(port) : o.hostArg};
    args.insert(args.end(), o.extra.begin(), o.extra.end());
    std::vector<char*> argv;
    std::string shown;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
        shown += " " + Quote(a);
    }
    argv.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) {
        Print(std::string("start fail: pipe: ") + strerror(errno));
        return -1;
    }
    int outFd = -1;
    if (!o.outFile.empty()) {
        outFd = open(o.outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (outFd < 0) {
            Print("start fail: " + o.outFile + ": " + strerror(errno));
            close(fds[0]);
            close(fds[1]);
            return -1;
        }
    }
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(fds[0], 0);
        close(fds[0]);
        close(fds[1]);
        if (outFd >= 0) {
            dup2(outFd, 1);
            dup2(outFd, 2);
        }
        // Nothing else may leak, above all the gateway's listening socket:
        // held open by quillgate it would keep the port accepting after we go.
        closefrom(3);
        execv(argv[0], argv.data());
        static const char msg[] = "standin-gateway: exec of quillgate failed\n";
        ssize_t ignored = write(2, msg, sizeof(msg) - 1);
        (void)ignored;
        _exit(127);
    }
    close(fds[0]);
    if (outFd >= 0)
        close(outFd);
    if (pid < 0) {
        Print(std::string("start fail: fork: ") + strerror(errno));
        close(fds[1]);
        return -1;
    }
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    stdinFd = fds[1];
    Print("started pid " + std::to_string(pid) + ":" + shown);
    return pid;
}

// Counts the lines of the SDK's journal ($QG_SDK_JOURNAL) that hold a text,
// reading only what was appended since it last looked; a line not yet ended
// waits for its end.
class JournalCounter
{
public:
    explicit JournalCounter(const std::string& text) : text_(text) {}

    int Count()
    {
        if (!file_.is_open()) {
            const char* path = getenv("QG_SDK_JOURNAL");
            if (!path)
                return count_;
            file_.open(path);
            if (!file_.is_open())
                return count_;
        }
        std::string line;
        while (std::getline(file_, line)) {
            partial_ += line;
            if (file_.eof())
                break;
            count_ += partial_.find(text_) != std::string::npos ? 1 : 0;
            partial_.clear();
        }
        file_.clear();
        return count_;
    }

private:
    const std::string text_;
    std::ifstream file_;
    std::string partial_;
    int count_ = 0;
};

// Waits at most ms for the SDK's journal to hold n lines that hold text:
// frames come at the pace of the machine, not of the script.
bool WaitForJournal(Session& s, int n, const std::string& text, int ms)
{
    const int stepMs = 50;
    JournalCounter journal(text);
    for (int waited = 0;; waited += stepMs) {
        if (journal.Count() >= n)
            return true;
        if (waited >= ms || !s.Sleep(stepMs))
            return false;
    }
}

bool RunScriptLines(const std::string& path, Session& s, int stdinFd,
                    std::map<std::string, std::unique_ptr<Lane>>& lanes);

// Runs the script; returns false on a bad line or a failed wait. Every lane
// has made its calls when it returns.
bool RunScript(const std::string& path, Session& s, int stdinFd)
{
    std::map<std::string, std::unique_ptr<Lane>> lanes;
    const bool ok = RunScriptLines(path, s, stdinFd, lanes);
    for (auto& lane : lanes)
        lane.second->Drain();
    return ok;
}

bool RunScriptLines(const std::string& path, Session& s, int stdinFd,
                    std::map<std::string, std::unique_ptr<Lane>>& lanes)
{
    std::ifstream file(path);
    if (!file) {
        Print("script line 0: cannot open " + Quote(path));
        return false;
    }
    std::string text;
    for (int lineNo = 1; std::getline(file, text); ++lineNo) {
        if (s.Gone())
            return true;
        size_t start = text.find_first_not_of(" \t\r");
        if (start == std::string::npos || text[start] == '#')
            continue;
        size_t end = text.find_last_not_of(" \t\r");
        text = text.substr(start, end - start + 1);
        size_t sp = text.find_first_of(" \t");
        std::string cmd = text.substr(0, sp);
        std::string rest = sp == std::string::npos ? "" : text.substr(text.find_first_not_of(" \t", sp));
        std::string word = rest.substr(0, rest.find_first_of(" \t"));
        std::string after = word.size() < rest.size() ? rest.substr(rest.find_first_not_of(" \t", word.size())) : "";
        int n = 0;
        std::string err;

        if (cmd == "call") {
            const OpSig* sig = kServedOps.Find(word);
            std::vector<Value> args;
            if (!sig) {
                err = "unknown operation " + Quote(word);
            } else if (ParseArgs(after, *sig, args, err)) {
                s.Call(word, args);
            }
        } else if (cmd == "wait") {
            int ms = kDefaultWaitMs;
            if (word.empty() || (!after.empty() && !ToInt(after.c_str(), ms))) {
                err = "usage: wait OP [MS]";
            } else if (s.WaitFor(word, ms)) {
                Print("wait " + word + " ok");
            } else if (!s.Gone()) {
                Print("wait " + word + " timeout");
                return false;
            }
        } else if (cmd == "journal") {
            // journal N TEXT [MS]
            std::istringstream words(rest);
            std::string text;
            int ms = kDefaultWaitMs;
            std::string extra;
            if (!(words >> n >> text) || n < 1 || ((words >> extra) && (!ToInt(extra.c_str(), ms) || ms < 0))) {
                err = "usage: journal N TEXT [MS]";
            } else {
                const std::string what = "journal " + std::to_string(n) + " " + text;
                if (WaitForJournal(s, n, text, ms)) {
                    Print(what + " ok");
                } else if (!s.Gone()) {
                    Print(what + " timeout");
                    return false;
                }
            }
        } else if (cmd == "sleep") {
            if (!ToInt(rest.c_str(), n) || n < 0)
                err = "usage: sleep MS";
            else
                s.Sleep(n);
        } else if (cmd == "heartbeat") {
            if (rest == "once")
                s.SetHeartbeat(0, true);
            else if (rest == "off")
                s.SetHeartbeat(0, false);
            else if (ToInt(rest.c_str(), n) && n > 0)
                s.SetHeartbeat(n, false);
            else
                err = "usage: heartbeat MS|once|off";
        } else if (cmd == "answer") {
            if (!kGatewayOps.Find(word) || !ToInt(after.c_str(), n))
                err = "usage: answer OP CODE";
            else {
                s.SetAnswer(word, n);
                Print("answer " + word + " " + std::to_string(n));
            }
        } else if (cmd == "fail-ping") {
            if (rest.empty())
                n = 1;
            else if (!ToInt(rest.c_str(), n) || n < 1)
                err = "usage: fail-ping [N]";
            if (err.empty()) {
                s.AddPingFailures(n);
                Print("fail-ping " + std::to_string(n));
            }
        } else if (cmd == "hold") {
            if (!ToInt(rest.c_str(), n) || n < 0) {
                err = "usage: hold MS";
            } else {
                s.adapter->hold();
                s.Sleep(n);
                if (!s.Gone())
                    s.adapter->activate();
            }
        } else if (cmd == "stdin") {
            OpSig sig = {"stdin", "s", 'v'};
            std::vector<Value> args;
            if (stdinFd < 0) {
                err = "no quillgate started";
            } else if (ParseArgs(rest, sig, args, err)) {
                const std::string& bytes = args[0].s;
                if (write(stdinFd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
                    err = std::string("stdin write failed: ") + strerror(errno);
                }
            }
        } else if (cmd == "lane") {
            // lane NAME call OP ARG...
            std::string op = after.substr(0, after.find_first_of(" \t"));
            std::string opArgs =
                op.size() < after.size() ? after.substr(after.find_first_not_of(" \t", op.size())) : "";
            std::string name = opArgs.substr(0, opArgs.find_first_of(" \t"));
            std::string callArgs =
                name.size() < opArgs.size() ? opArgs.substr(opArgs.find_first_not_of(" \t", name.size())) : "";
            const OpSig* sig = op == "call" ? kServedOps.Find(name) : nullptr;
            std::vector<Value> args;
            if (word.empty() || op != "call") {
                err = "usage: lane NAME call OP ARG...";
            } else if (!sig) {
                err = "unknown operation " + Quote(name);
            } else if (ParseArgs(callArgs, *sig, args, err)) {
                std::unique_ptr<Lane>& lane = lanes[word];
                if (!lane)
                    lane.reset(new Lane(s));
                lane->Queue(name, args);
            }
        } else if (cmd == "page") {
            if (!s.browser)
                err = "page commands need -W";
            else if (!s.browser->Script(rest, err) && err.empty())
                return false;
        } else if (cmd == "join") {
            for (auto& lane : lanes)
                lane.second->Drain();
        } else if (cmd == "exit") {
            s.GoAway();
            return true;
        } else {
            err = "unknown command " + Quote(cmd);
        }
        if (!err.empty()) {
            Print("script line " + std::to_string(lineNo) + ": " + err);
            return false;
        }
    }
    return true;
}

// True while pid names a live process (a zombie counts as gone).
bool Alive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!stat || !std::getline(stat, text))
        return false;
    size_t paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z';
}

// Waits at most waitMs for quillgate (and a daemon it forked) to end.
void AwaitQuillgate(pid_t child, int daemonPid, int waitMs)
{
    const int stepMs = 50;
    int status = 0;
    int waited = 0;
    pid_t r = 0;
    while ((r = waitpid(child, &status, WNOHANG)) == 0 && waited < waitMs) {
        usleep(stepMs * 1000);
        waited += stepMs;
    }
    if (r == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        Print("quillgate killed");
    } else if (r < 0) {
        Print(std::string("quillgate wait fail: ") + strerror(errno));
    } else if (WIFEXITED(status)) {
        Print("quillgate exit " + std::to_string(WEXITSTATUS(status)));
    } else if (WIFSIGNALED(status)) {
        Print("quillgate signal " + std::to_string(WTERMSIG(status)));
    }
    if (daemonPid <= 0 || daemonPid == child || daemonPid == getpid())
        return;
    while (Alive(daemonPid) && waited < waitMs) {
        usleep(stepMs * 1000);
        waited += stepMs;
    }
    if (Alive(daemonPid)) {
        kill(daemonPid, SIGKILL);
        Print("daemon pid " + std::to_string(daemonPid) + " killed");
    } else {
        Print("daemon pid " + std::to_string(daemonPid) + " exited");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o))
        return Usage();
    signal(SIGPIPE, SIG_IGN);

    Session s;
    s.quietPings = o.quietPings;
    int port = 0;
    try {
        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        init.properties->setProperty("Ice.ThreadPool.Server.Size", "2");
        init.properties->setProperty("Ice.ThreadPool.Server.SizeMax", "8");
        init.properties->setProperty("Ice.Warn.Connections", "0");
        init.properties->setProperty("Ice.Warn.Dispatch", "0");
        s.com = Ice::initialize(init);
        s.adapter =
            s.com->createObjectAdapterWithEndpoints("StandinGateway", "tcp -h 127.0.0.1 -p " + std::to_string(o.port));
        s.adapter->add(new GatewayServant(s), Ice::stringToIdentity("CorvaneWebRtcGWServer"));
        s.adapter->activate();
        Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(s.adapter->getEndpoints().at(0)->getInfo());
        port = info ? info->port : o.port;
    } catch (const Ice::Exception& e) {
        fprintf(stderr, "standin-gateway: %s\n", e.what());
        if (s.com)
            s.com->destroy();
        return 1;
    }
    s.SetAnswer("initiateQiullgateDelegate", o.registerAnswer);
    s.SetHeartbeat(o.heartbeatMs, o.heartbeatOnce);
    Print("listening 127.0.0.1:" + std::to_string(port));
    std::unique_ptr<BrowserSide> browser;
    if (o.pagePort >= 0) {
        browser.reset(new BrowserSide(
            o.dataFile, o.keepDir,
            [&s](const std::string& op, const std::vector<Value>& args, int& result) {
                return s.Call(op, args, &result);
            },
            [](const std::string& line) { Print(line); }));
        std::string error;
        if (!browser->Start(o.pagePort, error)) {
            fprintf(stderr, "standin-gateway: %s\n", error.c_str());
            s.com->destroy();
            return 1;
        }
        s.browser = browser.get();
        Print("page http://127.0.0.1:" + std::to_string(browser->Port()) + "/");
    }

    std::thread heartbeat(&Session::HeartbeatLoop, &s);
    std::thread watchdog;
    if (o.exitAfterSec > 0)
        watchdog = std::thread(&Session::ExitAfter, &s, o.exitAfterSec);

    int stdinFd = -1;
    pid_t child = o.noStart ? 0 : StartQuillgate(o, port, stdinFd);
    bool ok = child >= 0;
    if (ok && !o.script.empty())
        ok = RunScript(o.script, s, stdinFd);
    // After a failed script there is nothing left to see: end quillgate at once.
    if (child > 0)
        AwaitQuillgate(child, s.DelegatePid(), ok ? o.waitSec * 1000 : 0);
    if (child == 0 && ok)
        s.Sleep(o.waitSec * 1000);  // serve on until told to go
    if (stdinFd >= 0)
        close(stdinFd);

    // The page's calls end before Ice does.
    if (browser)
        browser->Stop();
    s.Stop();
    heartbeat.join();
    if (watchdog.joinable())
        watchdog.join();
    s.com->destroy();
    Print(std::string("done ") + (ok ? "0" : "1"));
    return ok ? 0 : 1;
}

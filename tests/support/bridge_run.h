// Runs a whole session with a parent server: the stand-in parent, and the
// stand-in gateway (which starts quillgate) reading its script from a FIFO
// that the test writes as it goes, so each step can wait for what the
// parent saw. Every wait is bounded; what is still running at the end is
// killed.
#ifndef QG_TESTS_SUPPORT_BRIDGE_RUN_H
#define QG_TESTS_SUPPORT_BRIDGE_RUN_H

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/support/gateway_run.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace qgtest {

// A program with its standard input on a pipe of ours and its output in a
// file; killed when the object goes if it is still running.
class Spawned
{
public:
    Spawned(const std::vector<std::string>& argv, const std::string& outPath,
            const std::vector<std::pair<std::string, std::string>>& env = {})
    {
        // Everything exec needs is made before the fork.
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) {
            bool replaced = false;
            for (const auto& kv : env)
                replaced = replaced || strncmp(*e, (kv.first + "=").c_str(), kv.first.size() + 1) == 0;
            if (!replaced)
                envText.push_back(*e);
        }
        for (const auto& kv : env)
            envText.push_back(kv.first + "=" + kv.second);
        std::vector<std::string> args = argv;
        std::vector<char*> cargv, cenv;
        for (std::string& a : args)
            cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        for (std::string& e : envText)
            cenv.push_back(&e[0]);
        cenv.push_back(nullptr);

        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[0], STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            execve(cargv[0], cargv.data(), cenv.data());
            _exit(127);
        }
        close(fds[0]);
        if (out >= 0)
            close(out);
        input_ = fds[1];
    }
    ~Spawned()
    {
        CloseInput();
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    pid_t pid() const { return pid_; }
    bool Write(const std::string& text)
    {
        size_t done = 0;
        while (input_ >= 0 && done < text.size()) {
            const ssize_t n = write(input_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return input_ >= 0;
    }
    void CloseInput()
    {
        if (input_ >= 0)
            close(input_);
        input_ = -1;
    }
    // The exit status once it ends within ms; -1 when it ends otherwise or
    // has to be killed.
    int Wait(int ms)
    {
        if (pid_ <= 0 || done_)
            return status_;
        int status = 0;
        pid_t got = 0;
        for (int waited = 0; waited <= ms && got == 0; waited += 10) {
            got = waitpid(pid_, &status, WNOHANG);
            if (got == 0)
                usleep(10 * 1000);
        }
        if (got == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        done_ = true;
        status_ = got == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool done_ = false;
    int status_ = -1;
};

// The lines of a growing file, read as they come.
class GrowingLines
{
public:
    explicit GrowingLines(std::string path) : path_(std::move(path)) {}

    const std::vector<std::string>& All()
    {
        const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return lines_;
        if (lseek(fd, offset_, SEEK_SET) == offset_) {
            char buf[65536];
            ssize_t n;
            while ((n = read(fd, buf, sizeof(buf))) > 0) {
                offset_ += n;
                partial_.append(buf, static_cast<size_t>(n));
            }
        }
        close(fd);
        size_t nl;
        while ((nl = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, nl));
            partial_.erase(0, nl + 1);
        }
        return lines_;
    }
    // Index of the first line at or after `from` that starts with prefix,
    // waiting at most ms for it; -1.
    int WaitFor(const std::string& prefix, int from = 0, int ms = 20000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const int at = Find(All(), prefix, from);
            if (at >= 0 || std::chrono::steady_clock::now() >= end)
                return at;
            usleep(2 * 1000);
        }
    }
    // How many lines from `from` on start with prefix.
    int Count(const std::string& prefix, int from = 0)
    {
        int n = 0;
        for (int at = Find(All(), prefix, from); at >= 0; at = Find(lines_, prefix, at + 1))
            ++n;
        return n;
    }
    std::string Text()
    {
        std::string text;
        for (const std::string& l : All())
            text += "  " + l.substr(0, 400) + "\n";
        return text;
    }

private:
    std::string path_;
    off_t offset_ = 0;
    std::string partial_;
    std::vector<std::string> lines_;
};

class BridgeRun
{
    const TempDir& dir_;
    int script_ = -1;

public:
    explicit BridgeRun(const TempDir& dir)
        : dir_(dir), parentOut(dir.File("parent.out")), gatewayOut(dir.File("gateway.out")),
          sdkLog(dir.File("sdk.log")), journal(dir.File("sdk.journal"))
    {}
    ~BridgeRun()
    {
        if (script_ >= 0)
            close(script_);
    }

    // standin-parent -p 0 with args; its port, or 0.
    uint16_t StartParent(const std::vector<std::string>& args = {})
    {
        std::vector<std::string> argv = {BinDir() + "/standin-parent", "-p", "0", "-x", "120"};
        argv.insert(argv.end(), args.begin(), args.end());
        parent.reset(new Spawned(argv, dir_.File("parent.out")));
        const std::string listening = "listening 127.0.0.1:";
        const int at = parentOut.WaitFor(listening, 0, 10000);
        parentPort = at < 0 ? 0 : static_cast<uint16_t>(atoi(parentOut.All()[at].c_str() + listening.size()));
        return parentPort;
    }
    // One command line to the parent.
    bool ToParent(const std::string& line) { return parent && parent->Write(line + "\n"); }

    // standin-gateway with gatewayArgs, starting quillgate with quillgateArgs;
    // env is added to what both get.
    bool StartGateway(const std::vector<std::string>& gatewayArgs, const std::vector<std::string>& quillgateArgs,
                      std::vector<std::pair<std::string, std::string>> env = {})
    {
        const std::string fifo = dir_.File("script");
        // Held open read-write: the gateway's open never waits and sees the
        // end only when we close it.
        if (mkfifo(fifo.c_str(), 0600) != 0 || (script_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC)) < 0)
            return false;
        // quillgate's own console lines go to a file of their own.
        std::vector<std::string> argv = {BinDir() + "/standin-gateway", "-Q", "-w", "20", "-S", fifo, "-o",
                                         dir_.File("quillgate.out")};
        argv.insert(argv.end(), gatewayArgs.begin(), gatewayArgs.end());
        argv.push_back("--");
        argv.insert(argv.end(), quillgateArgs.begin(), quillgateArgs.end());
        env.push_back({"QG_SDK_LOG", dir_.File("sdk.log")});
        env.push_back({"QG_SDK_JOURNAL", dir_.File("sdk.journal")});
        gateway.reset(new Spawned(argv, dir_.File("gateway.out"), env));
        return true;
    }
    bool Script(const std::string& line)
    {
        const std::string text = line + "\n";
        return script_ >= 0 && write(script_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Ends the script and waits for the gateway: its exit status, or -1.
    int FinishGateway(int ms = 30000)
    {
        if (script_ >= 0)
            close(script_);
        script_ = -1;
        return gateway ? gateway->Wait(ms) : -1;
    }
    int FinishParent(int ms = 10000)
    {
        ToParent("exit");
        return parent ? parent->Wait(ms) : -1;
    }

    int QuillgatePid()
    {
        const int at = gatewayOut.WaitFor("started pid ", 0, 10000);
        return at < 0 ? -1 : atoi(gatewayOut.All()[at].c_str() + strlen("started pid "));
    }

    std::string Dump()
    {
        return "parent:\n" + parentOut.Text() + "gateway:\n" + gatewayOut.Text() + "sdk log:\n" + sdkLog.Text();
    }

    std::unique_ptr<Spawned> parent;
    std::unique_ptr<Spawned> gateway;
    uint16_t parentPort = 0;
    GrowingLines parentOut;
    GrowingLines gatewayOut;
    GrowingLines sdkLog;
    GrowingLines journal;
};

}  // namespace qgtest

#endif

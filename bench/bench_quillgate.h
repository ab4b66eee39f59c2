// A real quillgate process for the benchmarks that drive it, with the
// benchmark as its gateway: the registration, the start with the stand-in
// SDK's environment, the stop, and time per iteration. The same start
// serves the project's minimal delegate, the floor quillgate is held to.
#ifndef QG_BENCH_BENCH_QUILLGATE_H
#define QG_BENCH_BENCH_QUILLGATE_H

#include <benchmark/benchmark.h>

#include <Ice/Ice.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "bench/run_program.h"
#include "tests/support/recording_servants.h"

namespace qgbench {

// Takes the registration; a benchmark's own gateway adds the calls it
// waits for, under the same lock and condition.
class BenchGatewayBase : public RecordingGateway
{
public:
    Ice::Int initiateQiullgateDelegate(const std::string&, Ice::Int, const rpcCorvane::rpcCorvaneWebRtcQuillgatePrx& d,
                                       const Ice::Current&) override
    {
        const int64_t now = SteadyNs();
        std::lock_guard<std::mutex> lock(mu_);
        if (!delegate_)
            registeredNs_ = now;
        delegate_ = d;
        cv_.notify_all();
        return 0;
    }
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx WaitDelegate(int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return delegate_ != 0; });
        return delegate_;
    }
    // Steady clock when the first registration arrived, 0 before.
    int64_t RegisteredNs()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return registeredNs_;
    }

    static int64_t SteadyNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

protected:
    std::mutex mu_;
    std::condition_variable cv_;

private:
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx delegate_;
    int64_t registeredNs_ = 0;
};

// The stand-in SDK's variables for the child: a value sets, "" unsets.
typedef std::vector<std::pair<std::string, std::string>> Environment;

// The project's minimal delegate, beside the benchmarks.
const char kMinimalDelegate[] = "bench_minimal_delegate";

struct QuillgateProcess {
    Ice::CommunicatorPtr ice;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx quillgate;
    pid_t pid = -1;
    // Steady clock in the child just before its exec.
    int64_t execNs = 0;
    // Where the child's standard output and error go; "": where ours go.
    std::string outputPath;

    // Serves gateway on loopback, starts the program beside this one
    // (quillgate, or the minimal delegate) with standard input at its end,
    // and waits for its registration; false when it did not come.
    bool Start(const IceUtil::Handle<BenchGatewayBase>& gateway, const Environment& env,
               const std::string& name = "quillgate")
    {
        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        init.properties->setProperty("Ice.Warn.Connections", "0");
        ice = Ice::initialize(init);
        Ice::ObjectAdapterPtr adapter = ice->createObjectAdapterWithEndpoints("BenchGw", "tcp -h 127.0.0.1 -p 0");
        adapter->add(gateway, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
        adapter->activate();
        Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(adapter->getEndpoints()[0]->getInfo());
        if (!info)
            return false;
        const std::string program = OwnDir() + name;
        const std::string host = "127.0.0.1:" + std::to_string(info->port);
        // The child's clock reading before exec, through a shared page.
        void* page = mmap(nullptr, sizeof(int64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED)
            return false;
        std::atomic<int64_t>* stamp = new (page) std::atomic<int64_t>(0);
        pid = fork();
        if (pid == 0) {
            for (const auto& v : env) {
                if (v.second.empty())
                    unsetenv(v.first.c_str());
                else
                    setenv(v.first.c_str(), v.second.c_str(), 1);
            }
            const int null = open("/dev/null", O_RDONLY);
            if (null > STDIN_FILENO) {
                dup2(null, STDIN_FILENO);
                close(null);
            }
            const int out = outputPath.empty() ? -1 : open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out > STDERR_FILENO) {
                dup2(out, STDOUT_FILENO);
                dup2(out, STDERR_FILENO);
                close(out);
            }
            stamp->store(BenchGatewayBase::SteadyNs());
            execl(program.c_str(), program.c_str(), "-g", "bench", "-h", host.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0) {
            munmap(page, sizeof(int64_t));
            return false;
        }
        quillgate = gateway->WaitDelegate(20000);
        execNs = stamp->load();
        munmap(page, sizeof(int64_t));
        if (!quillgate)
            return false;
        quillgate = quillgate->ice_invocationTimeout(5000);
        return true;
    }

    // Logs out, waits up to 5 s for the exit, then kills.
    void Stop()
    {
        if (quillgate) {
            try {
                quillgate->logout(0);
            } catch (const Ice::Exception&) {
            }
        }
        if (pid > 0) {
            bool gone = false;
            for (int i = 0; i < 100 && !gone; ++i) {
                gone = waitpid(pid, nullptr, WNOHANG) == pid;
                if (!gone)
                    usleep(50 * 1000);
            }
            if (!gone) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
            pid = -1;
        }
        quillgate = 0;
        if (ice)
            ice->destroy();
        ice = nullptr;
    }
};

inline double NsPerIteration(std::chrono::steady_clock::time_point from, benchmark::IterationCount n)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - from);
    return n ? static_cast<double>(ns.count()) / static_cast<double>(n) : 0;
}

}  // namespace qgbench

#endif

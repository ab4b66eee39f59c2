// A real quillgate process for the benchmarks that drive it, with the
// benchmark as its gateway: the registration, the start with the stand-in
// SDK's environment, the stop, and time per iteration.
#ifndef QG_BENCH_BENCH_QUILLGATE_H
#define QG_BENCH_BENCH_QUILLGATE_H

#include <benchmark/benchmark.h>

#include <Ice/Ice.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

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
        std::lock_guard<std::mutex> lock(mu_);
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

protected:
    std::mutex mu_;
    std::condition_variable cv_;

private:
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx delegate_;
};

inline std::string OwnDir()
{
    char path[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string p(path, n > 0 ? static_cast<size_t>(n) : 0);
    return p.substr(0, p.rfind('/') + 1);
}

// The stand-in SDK's variables for the child: a value sets, "" unsets.
typedef std::vector<std::pair<std::string, std::string>> Environment;

struct QuillgateProcess {
    Ice::CommunicatorPtr ice;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx quillgate;
    pid_t pid = -1;

    // Serves gateway on loopback, starts the quillgate beside this program
    // and waits for its registration; false when it did not come.
    bool Start(const IceUtil::Handle<BenchGatewayBase>& gateway, const Environment& env)
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
        const std::string program = OwnDir() + "quillgate";
        const std::string host = "127.0.0.1:" + std::to_string(info->port);
        pid = fork();
        if (pid == 0) {
            for (const auto& v : env) {
                if (v.second.empty())
                    unsetenv(v.first.c_str());
                else
                    setenv(v.first.c_str(), v.second.c_str(), 1);
            }
            execl(program.c_str(), program.c_str(), "-g", "bench", "-h", host.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0)
            return false;
        quillgate = gateway->WaitDelegate(20000);
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

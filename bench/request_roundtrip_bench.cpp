// Round trip of a request and its later reply (getSDKOptionInt answered by
// replyGetSDKOptionInt) against a bare two-way call (heartBeat), both to a
// real quillgate process over loopback, with this process as its gateway.
#include <benchmark/benchmark.h>

#include <Ice/Ice.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/recording_servants.h"

namespace {

// The gateway side: takes the registration and wakes the waiter of each reply.
class BenchGateway : public RecordingGateway
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
    Ice::Int replyGetSDKOptionInt(const std::string&, Ice::Int reqid, Ice::Int, Ice::Int, Ice::Int,
                                  const Ice::Current&) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        lastReply_ = reqid;
        cv_.notify_all();
        return 0;
    }
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx WaitDelegate(int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return delegate_ != 0; });
        return delegate_;
    }
    bool WaitReply(int reqid, int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return lastReply_ == reqid; });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx delegate_;
    int lastReply_ = -1;
};

struct Session {
    Ice::CommunicatorPtr ice;
    IceUtil::Handle<BenchGateway> gateway;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx quillgate;
    pid_t pid = -1;
    std::string logPath;
};

Session* g_session = nullptr;
double g_bareNs = 0;
double g_requestNs = 0;

std::string OwnDir()
{
    char path[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string p(path, n > 0 ? static_cast<size_t>(n) : 0);
    return p.substr(0, p.rfind('/') + 1);
}

bool Start(Session& s)
{
    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.Warn.Connections", "0");
    s.ice = Ice::initialize(init);
    Ice::ObjectAdapterPtr adapter = s.ice->createObjectAdapterWithEndpoints("BenchGw", "tcp -h 127.0.0.1 -p 0");
    s.gateway = new BenchGateway();
    adapter->add(s.gateway, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
    adapter->activate();
    Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(adapter->getEndpoints()[0]->getInfo());
    if (!info)
        return false;

    char logPath[] = "/tmp/qg-bench-log-XXXXXX";
    const int fd = mkstemp(logPath);
    if (fd >= 0)
        close(fd);
    s.logPath = logPath;
    const std::string program = OwnDir() + "quillgate";
    const std::string host = "127.0.0.1:" + std::to_string(info->port);
    s.pid = fork();
    if (s.pid == 0) {
        setenv("QG_SDK_LOG", logPath, 1);
        unsetenv("QG_SDK_JOURNAL");
        unsetenv("QG_SDK_SCENARIO");
        unsetenv("QG_SDK_CONTROL");
        execl(program.c_str(), program.c_str(), "-g", "bench", "-h", host.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (s.pid < 0)
        return false;
    s.quillgate = s.gateway->WaitDelegate(20000);
    if (!s.quillgate)
        return false;
    s.quillgate = s.quillgate->ice_invocationTimeout(5000);
    // An option to read back, so every reply carries a value.
    s.quillgate->setSDKOptionInt(1, 301, 7);
    return true;
}

void Stop(Session& s)
{
    if (s.quillgate) {
        try {
            s.quillgate->logout(0);
        } catch (const Ice::Exception&) {
        }
    }
    if (s.pid > 0) {
        bool gone = false;
        for (int i = 0; i < 100 && !gone; ++i) {
            gone = waitpid(s.pid, nullptr, WNOHANG) == s.pid;
            if (!gone)
                usleep(50 * 1000);
        }
        if (!gone) {
            kill(s.pid, SIGKILL);
            waitpid(s.pid, nullptr, 0);
        }
    }
    s.quillgate = 0;
    if (s.ice)
        s.ice->destroy();
    if (!s.logPath.empty())
        unlink(s.logPath.c_str());
}

double NsPerIteration(std::chrono::steady_clock::time_point from, benchmark::IterationCount n)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - from);
    return n ? static_cast<double>(ns.count()) / static_cast<double>(n) : 0;
}

void BM_BareTwoWayCall(benchmark::State& state)
{
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(g_session->quillgate->heartBeat());
    g_bareNs = NsPerIteration(from, state.iterations());
}
BENCHMARK(BM_BareTwoWayCall)->UseRealTime()->MinTime(1.0);

void BM_RequestAndReply(benchmark::State& state)
{
    int reqid = 1000;
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ++reqid;
        if (g_session->quillgate->getSDKOptionInt(reqid, 301) != 0 || !g_session->gateway->WaitReply(reqid, 5000)) {
            state.SkipWithError("no reply");
            break;
        }
    }
    g_requestNs = NsPerIteration(from, state.iterations());
}
BENCHMARK(BM_RequestAndReply)->UseRealTime()->MinTime(1.0);

void BM_RequestOnly(benchmark::State& state)
{
    int reqid = 1000000;
    for (auto _ : state)
        benchmark::DoNotOptimize(g_session->quillgate->getSDKOptionInt(++reqid, 301));
}
BENCHMARK(BM_RequestOnly)->UseRealTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Session session;
    if (!Start(session)) {
        fprintf(stderr, "quillgate did not register\n");
        Stop(session);
        return 1;
    }
    g_session = &session;
    benchmark::RunSpecifiedBenchmarks();
    g_session = nullptr;
    Stop(session);
    if (g_bareNs > 0 && g_requestNs > 0)
        printf("request+reply / bare two-way call: %.2f (%.1f us / %.1f us; target at most 2)\n",
               g_requestNs / g_bareNs, g_requestNs / 1000, g_bareNs / 1000);
    return 0;
}

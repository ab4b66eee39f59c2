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

#include "bench/bench_quillgate.h"

namespace {

// The gateway side: wakes the waiter of each reply.
class BenchGateway : public qgbench::BenchGatewayBase
{
public:
    Ice::Int replyGetSDKOptionInt(const std::string&, Ice::Int reqid, Ice::Int, Ice::Int, Ice::Int,
                                  const Ice::Current&) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        lastReply_ = reqid;
        cv_.notify_all();
        return 0;
    }
    bool WaitReply(int reqid, int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return lastReply_ == reqid; });
    }

private:
    int lastReply_ = -1;
};

struct Session {
    IceUtil::Handle<BenchGateway> gateway = new BenchGateway();
    qgbench::QuillgateProcess run;
    std::string logPath;
};

Session* g_session = nullptr;
double g_bareNs = 0;
double g_requestNs = 0;

bool Start(Session& s)
{
    char logPath[] = "/tmp/qg-bench-log-XXXXXX";
    const int fd = mkstemp(logPath);
    if (fd >= 0)
        close(fd);
    s.logPath = logPath;
    if (!s.run.Start(s.gateway, {{"QG_SDK_LOG", logPath},
                                 {"QG_SDK_JOURNAL", ""},
                                 {"QG_SDK_SCENARIO", ""},
                                 {"QG_SDK_CONTROL", ""}}))
        return false;
    // An option to read back, so every reply carries a value.
    s.run.quillgate->setSDKOptionInt(1, 301, 7);
    return true;
}

void Stop(Session& s)
{
    s.run.Stop();
    if (!s.logPath.empty())
        unlink(s.logPath.c_str());
}

using qgbench::NsPerIteration;

void BM_BareTwoWayCall(benchmark::State& state)
{
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(g_session->run.quillgate->heartBeat());
    g_bareNs = NsPerIteration(from, state.iterations());
}
BENCHMARK(BM_BareTwoWayCall)->UseRealTime()->MinTime(1.0);

void BM_RequestAndReply(benchmark::State& state)
{
    int reqid = 1000;
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ++reqid;
        if (g_session->run.quillgate->getSDKOptionInt(reqid, 301) != 0 || !g_session->gateway->WaitReply(reqid, 5000)) {
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
        benchmark::DoNotOptimize(g_session->run.quillgate->getSDKOptionInt(++reqid, 301));
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

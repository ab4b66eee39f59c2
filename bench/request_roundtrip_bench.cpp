// Round trip of a request and its later reply (getSDKOptionInt answered by
// replyGetSDKOptionInt) against a bare two-way call (heartBeat), to a real
// quillgate process over loopback with this process as its gateway. The
// reply is a second two-way call, so a request and its reply are four
// messages to a bare call's two: the fair floor is the same request and
// reply served by the project's minimal delegate, a process with nothing
// but the Ice interface in it. The sides take turns in the same run.
#include <benchmark/benchmark.h>

#include <Ice/Ice.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unistd.h>

#include "bench/bench_quillgate.h"
#include "bench/interleaved.h"

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
    int reqid = 1000;
};

Session g_quillgate;
Session g_minimal;

bool Start(Session& s, const char* program)
{
    char logPath[] = "/tmp/qg-bench-log-XXXXXX";
    const int fd = mkstemp(logPath);
    if (fd >= 0)
        close(fd);
    s.logPath = logPath;
    if (!s.run.Start(s.gateway,
                     {{"QG_SDK_LOG", logPath}, {"QG_SDK_JOURNAL", ""}, {"QG_SDK_SCENARIO", ""}, {"QG_SDK_CONTROL", ""}},
                     program))
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

void BareTwoWayCall(benchmark::State& state, Session& s)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(s.run.quillgate->heartBeat());
}

void RequestAndReply(benchmark::State& state, Session& s)
{
    for (auto _ : state) {
        ++s.reqid;
        if (s.run.quillgate->getSDKOptionInt(s.reqid, 301) != 0 || !s.gateway->WaitReply(s.reqid, 5000)) {
            state.SkipWithError("no reply");
            break;
        }
    }
}

const char kQuillgateBare[] = "quillgate: bare two-way call";
const char kQuillgateRequest[] = "quillgate: request + reply";
const char kMinimalBare[] = "minimal delegate: bare two-way call";
const char kMinimalRequest[] = "minimal delegate: request + reply";

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = qgbench::TakeRounds(argc, argv, 10);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!Start(g_quillgate, "quillgate") || !Start(g_minimal, qgbench::kMinimalDelegate)) {
        fprintf(stderr, "quillgate or the minimal delegate did not register\n");
        Stop(g_quillgate);
        Stop(g_minimal);
        return 1;
    }
    qgbench::Interleave(rounds,
                        {{kQuillgateBare, [](benchmark::State& s) { BareTwoWayCall(s, g_quillgate); }},
                         {kQuillgateRequest, [](benchmark::State& s) { RequestAndReply(s, g_quillgate); }},
                         {kMinimalBare, [](benchmark::State& s) { BareTwoWayCall(s, g_minimal); }},
                         {kMinimalRequest, [](benchmark::State& s) { RequestAndReply(s, g_minimal); }}},
                        [](benchmark::internal::Benchmark* b) { b->MinTime(0.2); });
    qgbench::RoundsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Stop(g_quillgate);
    Stop(g_minimal);

    reporter.PrintSides({kQuillgateBare, kQuillgateRequest, kMinimalBare, kMinimalRequest});
    reporter.PrintRatio("quillgate request + reply / quillgate bare two-way call (4 messages to 2)", kQuillgateRequest,
                        kQuillgateBare, "at most 1.3x");
    reporter.PrintRatio("quillgate request + reply / minimal delegate request + reply (the fair floor)",
                        kQuillgateRequest, kMinimalRequest, "at most 1.3x");
    reporter.PrintRatio("  for scale, minimal delegate request + reply / its bare two-way call", kMinimalRequest,
                        kMinimalBare, "none");
    printf("load average at the end: %s\n", qgbench::LoadAverage().c_str());
    benchmark::Shutdown();
    return 0;
}

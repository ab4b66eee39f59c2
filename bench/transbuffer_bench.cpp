// A 1 MiB transparent buffer from a GB2312 user to the browser with split
// buffers on: conversion, base64, 6144-byte pieces and one notification
// each. First the quillgate-side work alone (the SDK client against the
// stand-in SDK, an owner that only takes the pieces) against its floor,
// OpenSSL's EVP_EncodeBlock of the same bytes plus one memcpy; then the
// whole path with Ice: the stand-in SDK hands the buffer to a real
// quillgate, which sends every piece to this process as its gateway.
#include <benchmark/benchmark.h>

#include <Ice/Ice.h>
#include <openssl/evp.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "quillgate/sdklink/corvane_connect.h"
#include "bench/bench_quillgate.h"
#include "tests/sdklink/recording_owner.h"

namespace {

const size_t kBufferSize = 1 << 20;
const uint32_t kGbUser = 2001;  // device type 1 in the stand-in's default world

// JSON text with GB2312 names in it, as a buffer between users would carry.
std::string Gb2312Buffer()
{
    std::string text;
    for (int i = 0; text.size() < kBufferSize; ++i)
        text += "{\"seq\":" + std::to_string(i) + ",\"from\":\"\xd5\xc5\xc8\xfd\",\"note\":\"\xc4\xe3\xba\xc3 ok\"},";
    text.resize(kBufferSize);
    return text;
}

const std::string& Buffer()
{
    static const std::string buffer = Gb2312Buffer();
    return buffer;
}

// Takes the pieces and nothing else.
class PieceSink : public RecordingOwner
{
public:
    int NotifyTransBuffer(int, int, const std::string& buf) override
    {
        bytes += buf.size();
        ++pieces;
        return 0;
    }
    size_t bytes = 0;
    size_t pieces = 0;
};

std::map<std::string, double> g_ns;

using qgbench::NsPerIteration;

void BM_Floor_EncodeBlockAndMemcpy(benchmark::State& state)
{
    const std::string& in = Buffer();
    std::vector<unsigned char> encoded((in.size() + 2) / 3 * 4 + 1);
    std::vector<char> copy(in.size());
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state) {
        EVP_EncodeBlock(encoded.data(), reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
        memcpy(copy.data(), in.data(), in.size());
        benchmark::DoNotOptimize(encoded.data());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    g_ns["floor"] = NsPerIteration(from, state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_Floor_EncodeBlockAndMemcpy)->UseRealTime()->MinTime(1.0);

void BM_QuillgateSide_ConvertEncodeSplitSend(benchmark::State& state)
{
    unsetenv("QG_SDK_JOURNAL");
    unsetenv("QG_SDK_LOG");
    unsetenv("QG_SDK_SCENARIO");
    unsetenv("QG_SDK_CONTROL");
    PieceSink sink;
    CCorvaneConnect sdk;
    sdk.SetOwner(&sink);
    sdk.InitSDK();
    sdk.HandleWebCommand(1, "{\"sdkfunction\":8}");
    const std::string& in = Buffer();
    const unsigned char* data = reinterpret_cast<const unsigned char*>(in.data());
    // The first buffer of a user asks for the device type; the rest do not.
    sdk.OnTransBuffer(kGbUser, data, static_cast<uint32_t>(in.size()));
    const size_t piecesEach = sink.pieces;
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state)
        sdk.OnTransBuffer(kGbUser, data, static_cast<uint32_t>(in.size()));
    g_ns["quillgate"] = NsPerIteration(from, state.iterations());
    state.counters["pieces"] = static_cast<double>(piecesEach);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
    sdk.ReleaseSDK();
}
BENCHMARK(BM_QuillgateSide_ConvertEncodeSplitSend)->UseRealTime()->MinTime(1.0);

// ---- the whole path with Ice ----

// Counts the pieces and wakes the waiter at each buffer's last.
class BenchGateway : public qgbench::BenchGatewayBase
{
public:
    Ice::Int notifyTransBuffer(const std::string&, Ice::Int, Ice::Int, const std::string& buf,
                               const Ice::Current&) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++pieces_;
        if (buf.find("\"flag\":1") != std::string::npos) {
            ++buffers_;
            cv_.notify_all();
        }
        return 0;
    }
    bool WaitBuffers(int n, int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return buffers_ >= n; });
    }

private:
    int pieces_ = 0;
    int buffers_ = 0;
};

struct Session {
    IceUtil::Handle<BenchGateway> gateway = new BenchGateway();
    qgbench::QuillgateProcess run;
    std::string dir;
    int control = -1;
};

Session* g_session = nullptr;

bool Start(Session& s)
{
    char dir[] = "/tmp/qg-bench-buffer-XXXXXX";
    if (!mkdtemp(dir))
        return false;
    s.dir = dir;
    std::ofstream(s.dir + "/buffer", std::ios::binary) << Buffer();
    const std::string fifo = s.dir + "/control";
    if (mkfifo(fifo.c_str(), 0600) != 0)
        return false;
    s.control = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (s.control < 0 || !s.run.Start(s.gateway, {{"QG_SDK_LOG", ""},
                                                  {"QG_SDK_JOURNAL", ""},
                                                  {"QG_SDK_SCENARIO", ""},
                                                  {"QG_SDK_CONTROL", fifo}}))
        return false;
    s.run.quillgate->setGeneralParam(1, 1, "{\"debuglevel\":16,\"sdkfunction\":8}");
    return true;
}

void Stop(Session& s)
{
    s.run.Stop();
    if (s.control >= 0)
        close(s.control);
    if (!s.dir.empty()) {
        unlink((s.dir + "/buffer").c_str());
        unlink((s.dir + "/control").c_str());
        rmdir(s.dir.c_str());
    }
}

void BM_WholePath_SdkToGatewayWithIce(benchmark::State& state)
{
    if (!g_session) {
        state.SkipWithError("no quillgate");
        return;
    }
    const std::string line = "buffer " + std::to_string(kGbUser) + " @" + g_session->dir + "/buffer\n";
    int sent = 0;
    const auto from = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (write(g_session->control, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            !g_session->gateway->WaitBuffers(++sent, 10000)) {
            state.SkipWithError("buffer did not arrive");
            break;
        }
    }
    g_ns["whole"] = NsPerIteration(from, state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBufferSize));
}
BENCHMARK(BM_WholePath_SdkToGatewayWithIce)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Session session;
    if (Start(session))
        g_session = &session;
    else
        fprintf(stderr, "quillgate did not register: the whole path is not measured\n");
    benchmark::RunSpecifiedBenchmarks();
    g_session = nullptr;
    Stop(session);
    const double floor = g_ns["floor"], ours = g_ns["quillgate"], whole = g_ns["whole"];
    if (floor > 0 && ours > 0)
        printf(
            "1 MiB buffer, quillgate side / (EVP_EncodeBlock + memcpy): %.2f (%.2f ms / %.2f ms; target at most 3)\n",
            ours / floor, ours / 1e6, floor / 1e6);
    if (whole > 0)
        printf("1 MiB buffer, whole path with Ice (SDK to gateway, every piece a synchronous call): %.2f ms\n",
               whole / 1e6);
    benchmark::Shutdown();
    return 0;
}

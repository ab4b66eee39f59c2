// Reassembling a browser's container stream from data-channel messages to a
// counting sink, against copying the same bytes into ring slots and a frame
// buffer, in the same run. The stream is a 60 s 720p H.264/AAC FLV made by
// the ffmpeg tool at start (random bytes of the same size when the tool
// fails), cut into blocks of 8 slices of up to 1400 bytes. The target
// ratio is of the reassembly stepped on one thread against the copies on
// one thread; the threaded run adds the handoff between two cores. Prints
// the ratios and the throughput with the reassembly's pauses on.
#include "quillgate/webrtc/data_channel_base.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/media_clock.h"
#include "util/win32_shims.h"

extern char** environ;

namespace {

const uint32_t kHandle = 5;
const uint32_t kSlicesPerBlock = 8;
const size_t kFallbackSize = 15u << 20;

struct Stream {
    std::string source;  // what the bytes are
    std::string bytes;
    std::vector<std::string> messages;
    uint64_t blocks = 0;
};

bool MakeFlv(const std::string& path)
{
    // No argument holds a space, so one text split at spaces gives them.
    std::istringstream words("ffmpeg -hide_banner -loglevel error -y"
                             " -f lavfi -i testsrc2=size=1280x720:rate=30:duration=60"
                             " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=60"
                             " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 30 -b:v 2M"
                             " -c:a aac -b:a 64k -f flv");
    std::vector<std::string> args{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    args.push_back(path);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Put(std::string& m, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        m[at + i] = static_cast<char>(value >> (8 * i));
}

Stream& TheStream()
{
    static Stream s = [] {
        Stream st;
        char tmpl[] = "/tmp/qg_dc_bench_XXXXXX";
        if (mkdtemp(tmpl) != nullptr) {
            std::string path = std::string(tmpl) + "/stream.flv";
            if (MakeFlv(path)) {
                std::ifstream in(path, std::ios::binary);
                st.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
                st.source = "60 s 720p H.264/AAC FLV from the ffmpeg tool";
            }
            std::remove(path.c_str());
            rmdir(tmpl);
        }
        if (st.bytes.empty()) {
            st.bytes.resize(kFallbackSize);
            unsigned x = 1;
            for (char& c : st.bytes)
                c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
            st.source = "random bytes (the ffmpeg tool failed)";
        }
        uint32_t packet = 0;
        for (size_t at = 0; at < st.bytes.size(); ++st.blocks) {
            for (uint32_t n = 0; n < kSlicesPerBlock && at < st.bytes.size(); ++n) {
                size_t len = std::min<size_t>(kDataChnlMaxSliceLen, st.bytes.size() - at);
                std::string m(kDataChnlHeaderSize, '\0');
                m[0] = 0x07, m[1] = 0x01, m[2] = 0x01;
                Put(m, 4, static_cast<uint32_t>(st.blocks), 4);
                m[8] = (n + 1 == kSlicesPerBlock || at + len == st.bytes.size()) ? 1 : 0;
                Put(m, 9, n, 2);
                Put(m, 11, static_cast<uint32_t>(len), 4);
                Put(m, 15, static_cast<uint32_t>(st.blocks * 33), 4);
                Put(m, 19, packet++, 4);
                st.messages.push_back(m + st.bytes.substr(at, len));
                at += len;
            }
        }
        return st;
    }();
    return s;
}

// Sleeps off: the ms rules still read the real tick.
uint32_t RealNow()
{
    return GetTickCount();
}
void NoSleep(uint32_t)
{}
const MediaClock kNoSleepClock = {&RealNow, &NoSleep};

class CountingSink : public CDataChannelBase
{
public:
    ~CountingSink() override { StopThread(); }
    void OnChunkData(uint32_t, uint8_t* data, uint32_t length, uint32_t, uint32_t) override
    {
        if (data != nullptr)
            bytes.fetch_add(length, std::memory_order_relaxed);
    }
    void OnDataLoss() override { losses.fetch_add(1, std::memory_order_relaxed); }

    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> losses{0};
};

void Feed(CountingSink& sink, const std::string& m)
{
    sink.OnReceiveData(kHandle, 0, reinterpret_cast<const uint8_t*>(m.data()), static_cast<uint32_t>(m.size()));
}

bool Whole(benchmark::State& state, CountingSink& sink)
{
    if (sink.bytes.load() == TheStream().bytes.size() && sink.losses.load() == 0)
        return true;
    state.SkipWithError("the stream did not come out whole");
    return false;
}

// Each message stored, then read by one step on this thread.
void BM_ReassembleSteps(benchmark::State& state)
{
    const Stream& s = TheStream();
    CountingSink sink;
    sink.StopThread();
    SetMediaClock(&kNoSleepClock);
    for (auto _ : state) {
        sink.bytes = 0;
        sink.ResetChannel(kHandle);
        for (const std::string& m : s.messages) {
            Feed(sink, m);
            sink.ProcessStep();
        }
        if (!Whole(state, sink))
            break;
    }
    SetMediaClock(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes.size()));
}

// The reassembly thread reads while this thread stores, kept inside the ring.
void RunThreaded(benchmark::State& state, CountingSink& sink)
{
    const Stream& s = TheStream();
    sink.bytes = 0;
    sink.ResetChannel(kHandle);
    for (const std::string& m : s.messages) {
        while (sink.GetPending() >= kDataChnlRingSlots - 8)
            std::this_thread::yield();
        Feed(sink, m);
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (sink.bytes.load() < s.bytes.size() && sink.losses.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    Whole(state, sink);
}

void BM_ReassembleThread(benchmark::State& state)
{
    SetMediaClock(&kNoSleepClock);
    {
        CountingSink sink;
        for (auto _ : state)
            RunThreaded(state, sink);
    }
    SetMediaClock(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TheStream().bytes.size()));
}

void BM_ReassembleThreadWithPauses(benchmark::State& state)
{
    CountingSink sink;
    for (auto _ : state)
        RunThreaded(state, sink);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TheStream().bytes.size()));
}

// The floor: each message copied into its slot, its payload into the frame
// buffer, each block's length counted.
void BM_MemcpyBaseline(benchmark::State& state)
{
    const Stream& s = TheStream();
    std::vector<uint8_t> slots(size_t(kDataChnlRingSlots) * kDataChnlSlotBytes);
    std::vector<uint8_t> frame(kDataChnlFrameStart);
    uint64_t total = 0;
    for (auto _ : state) {
        uint32_t packet = 0, assembled = 0;
        for (const std::string& m : s.messages) {
            uint8_t* slot = &slots[size_t(packet++ % kDataChnlRingSlots) * kDataChnlSlotBytes];
            memcpy(slot, m.data(), m.size());
            uint32_t len = static_cast<uint32_t>(m.size()) - kDataChnlHeaderSize;
            memcpy(&frame[assembled], slot + kDataChnlHeaderSize, len);
            assembled += len;
            if (slot[8] != 0) {
                benchmark::DoNotOptimize(frame.data());
                total += assembled;
                assembled = 0;
            }
        }
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes.size()));
}

BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ReassembleSteps)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ReassembleThread)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ReassembleThreadWithPauses)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Console output plus the real time per iteration of each run.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                ms[r.benchmark_name().substr(0, r.benchmark_name().find('/'))] = r.GetAdjustedRealTime();
    }
    std::map<std::string, double> ms;
};

void PrintRatio(const RatioReporter& r, const char* ours, const char* floor, const char* note)
{
    const auto a = r.ms.find(ours), b = r.ms.find(floor);
    if (a == r.ms.end() || b == r.ms.end() || b->second <= 0)
        return;
    std::printf("%s / %s = %.2f (%s)\n", ours, floor, a->second / b->second, note);
}

void PrintThroughput(const RatioReporter& r, const char* name)
{
    const auto a = r.ms.find(name);
    if (a == r.ms.end() || a->second <= 0)
        return;
    double mb = TheStream().bytes.size() / 1e6;
    std::printf("%s: %.2f MB/s (%.1f Mbit/s)\n", name, mb / (a->second / 1000), 8 * mb / (a->second / 1000));
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const Stream& s = TheStream();
    std::printf("input: %s, %zu bytes, %zu messages in %llu blocks\n", s.source.c_str(), s.bytes.size(),
                s.messages.size(), static_cast<unsigned long long>(s.blocks));
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatio(reporter, "BM_ReassembleSteps", "BM_MemcpyBaseline", "target: at most 8");
    PrintRatio(reporter, "BM_ReassembleThread", "BM_MemcpyBaseline", "two threads against one");
    PrintThroughput(reporter, "BM_ReassembleThreadWithPauses");
    benchmark::Shutdown();
    return 0;
}

// The in-memory demuxer on a generated 60 s 720p H.264/AAC FLV, fed in
// chunks as fast as it takes them, with pacing and polls off through the
// media clock, against the ffmpeg tool copying the same file to nowhere;
// and on bytes that never open, as a data channel would hand them on.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <unistd.h>

#include "quillgate/sdklink/demux/demuxer_unit.h"
#include "quillgate/sdklink/demux/memory_demuxer.h"
#include "tests/support/test_support.h"
#include "util/media_clock.h"

namespace {

std::string g_file;
std::string g_bytes;
uint64_t g_packets = 0;
double g_demuxNs = 0;
double g_ffmpegNs = 0;
double g_smallChunksNs = 0;
double g_garbageCpuS = 0;
size_t g_garbageOpens = 0;

// Every pause moves the clock far on at once: each frame is due when first
// looked at, and a wait for data only yields.
std::atomic<uint32_t> g_now{1};

uint32_t BenchNow()
{
    return g_now.load(std::memory_order_relaxed);
}

void BenchSleep(uint32_t ms)
{
    g_now.fetch_add(ms * 100000u, std::memory_order_relaxed);
    std::this_thread::yield();
}

const MediaClock kBenchClock = {&BenchNow, &BenchSleep};

class CountingDelegate : public IMemoryDemuxerDelegate
{
public:
    void OnVideoData(uint32_t, uint8_t*, uint32_t length, uint32_t) override { Count(length); }
    void OnAudioData(uint32_t, uint8_t*, uint32_t length, uint32_t) override { Count(length); }
    void OnVideoFormat(uint32_t, uint32_t, uint32_t, uint32_t) override {}
    void OnAudioFormat(uint32_t, uint32_t, uint32_t, uint32_t) override {}

    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};

private:
    void Count(uint32_t length)
    {
        bytes.fetch_add(length, std::memory_order_relaxed);
        frames.fetch_add(1, std::memory_order_release);
    }
};

std::string Run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0)
        out.append(buf, n);
    pclose(pipe);
    return out;
}

double Since(std::chrono::steady_clock::time_point from)
{
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - from).count());
}

// One pass over the whole file: chunks go in as the unit takes them (a
// short open first ends its thread, as at a stream's own pace; a full buffer
// refuses until the reader drains it), until every packet came out.
bool DemuxOnce(CountingDelegate& delegate, size_t firstChunk)
{
    const size_t chunk = 65536;
    CDemuxerUnit unit;
    if (unit.Init() != 0)
        return false;
    size_t n = firstChunk;
    for (size_t pos = 0; pos < g_bytes.size(); pos += n, n = chunk) {
        n = std::min(n, g_bytes.size() - pos);
        const uint8_t* data = reinterpret_cast<const uint8_t*>(g_bytes.data() + pos);
        while (unit.InputData(data, static_cast<uint32_t>(n), 1, pos == 0 ? 1 : 0) != 0)
            std::this_thread::yield();
        while (unit.GetState() != CDemuxerUnit::kOpen && unit.IsRunning())
            std::this_thread::yield();
    }
    // An FLV packet is read once the size field after it is in, so all of
    // them come out of an open input.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (delegate.frames.load(std::memory_order_acquire) < g_packets) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return unit.CloseInput() == 0;
}

double RunDemuxer(benchmark::State& state, size_t firstChunk)
{
    SetMediaClock(&kBenchClock);
    CountingDelegate delegate;
    g_lpDelegate = &delegate;
    double ns = 0;
    for (auto _ : state) {
        delegate.frames = 0;
        const auto from = std::chrono::steady_clock::now();
        if (!DemuxOnce(delegate, firstChunk)) {
            state.SkipWithError("not every packet came out");
            break;
        }
        ns += Since(from);
    }
    g_lpDelegate = nullptr;
    SetMediaClock(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes.size()));
    state.counters["frames"] = static_cast<double>(g_packets);
    return state.iterations() ? ns / static_cast<double>(state.iterations()) : 0;
}

// The first chunk holds what probing reads (1000000 bytes), so the input
// opens once, as the ffmpeg tool's does.
void BM_DemuxerUnit(benchmark::State& state)
{
    g_demuxNs = RunDemuxer(state, 1100000);
}
BENCHMARK(BM_DemuxerUnit)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// From the first byte in 64 KB chunks: every chunk before the probe fits
// re-opens the input on all of them, probing again.
void BM_DemuxerUnitFromSmallChunks(benchmark::State& state)
{
    g_smallChunksNs = RunDemuxer(state, 65536);
}
BENCHMARK(BM_DemuxerUnitFromSmallChunks)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// 1.4 MB of bytes that never open, in the 1400-byte slices of a data
// channel: what a failed open costs before the stream is given up on. The
// opens are counted by their "ffmpeg error" lines (standard output, here
// sent to a file).
void BM_DemuxerUnitGarbageInSlices(benchmark::State& state)
{
    const size_t slice = 1400;
    const size_t slices = 1000;
    const std::string garbage = qgtest::RandomBytes(slice * slices, 20240611);
    qgtest::TempDir dir("qg-demux-garbage-");
    const std::string printed = dir.File("stdout");
    double cpu = 0;
    for (auto _ : state) {
        CDemuxerUnit unit;
        if (unit.Init() != 0) {
            state.SkipWithError("no buffers");
            break;
        }
        fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        FILE* sink = fopen(printed.c_str(), "w");
        if (saved < 0 || !sink || dup2(fileno(sink), STDOUT_FILENO) < 0) {
            state.SkipWithError("standard output cannot be redirected");
            break;
        }
        const std::clock_t from = std::clock();
        for (size_t i = 0; i < slices; ++i)
            unit.InputData(reinterpret_cast<const uint8_t*>(garbage.data() + i * slice), static_cast<uint32_t>(slice),
                           0, i == 0 ? 1 : 0);
        cpu += static_cast<double>(std::clock() - from) / CLOCKS_PER_SEC;
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        fclose(sink);
        unit.CloseInput();
    }
    g_garbageOpens = qgtest::ReadLines(printed).size();
    g_garbageCpuS = state.iterations() ? cpu / static_cast<double>(state.iterations()) : 0;
    state.counters["opens"] = static_cast<double>(g_garbageOpens);
    state.counters["cpu_s"] = g_garbageCpuS;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * garbage.size()));
}
BENCHMARK(BM_DemuxerUnitGarbageInSlices)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FfmpegCopyToNull(benchmark::State& state)
{
    const std::string command = "ffmpeg -v error -nostdin -i '" + g_file + "' -c copy -f null - > /dev/null 2>&1";
    double ns = 0;
    for (auto _ : state) {
        const auto from = std::chrono::steady_clock::now();
        if (system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
        ns += Since(from);
    }
    g_ffmpegNs = state.iterations() ? ns / static_cast<double>(state.iterations()) : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bytes.size()));
}
BENCHMARK(BM_FfmpegCopyToNull)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    qgtest::TempDir dir("qg-demux-bench-");
    g_file = dir.File("stream_720p_60s.flv");
    const std::string make = "ffmpeg -v error -nostdin -y -threads 4 "
                             "-f lavfi -i testsrc2=size=1280x720:rate=30:duration=60 "
                             "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=60 "
                             "-c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p -c:a aac -b:a 128k -f flv '" +
                             g_file + "'";
    if (system(make.c_str()) != 0) {
        fprintf(stderr, "ffmpeg could not make the stream\n");
        return 1;
    }
    g_bytes = qgtest::ReadFile(g_file);
    // One line per stream.
    const std::string counts =
        Run("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" + g_file + "'");
    for (const char* p = counts.c_str(); *p;) {
        char* end = nullptr;
        g_packets += strtoull(p, &end, 10);
        p = end == p ? p + 1 : end;
    }
    if (g_bytes.empty() || g_packets == 0) {
        fprintf(stderr, "no stream to read\n");
        return 1;
    }
    printf("stream: %.1f MB, %llu packets\n", static_cast<double>(g_bytes.size()) / 1e6,
           static_cast<unsigned long long>(g_packets));

    benchmark::RunSpecifiedBenchmarks();
    if (g_demuxNs > 0 && g_ffmpegNs > 0) {
        printf("demuxer / ffmpeg -c copy -f null: %.2f (%.1f ms / %.1f ms; target at most 1)\n", g_demuxNs / g_ffmpegNs,
               g_demuxNs / 1e6, g_ffmpegNs / 1e6);
        printf("demuxer throughput: %.1f MB/s, %.0f frames/s (ffmpeg %.1f MB/s)\n",
               static_cast<double>(g_bytes.size()) / (g_demuxNs / 1e9) / 1e6,
               static_cast<double>(g_packets) / (g_demuxNs / 1e9),
               static_cast<double>(g_bytes.size()) / (g_ffmpegNs / 1e9) / 1e6);
    }
    if (g_smallChunksNs > 0 && g_ffmpegNs > 0)
        printf("from 64 KB chunks (short opens probe again): %.2f of ffmpeg (%.1f ms)\n", g_smallChunksNs / g_ffmpegNs,
               g_smallChunksNs / 1e6);
    if (g_garbageOpens > 0)
        printf("1.4 MB of garbage in 1400-byte slices: %zu opens, %.2f s of CPU (target at most 0.5 s)\n",
               g_garbageOpens, g_garbageCpuS);
    return 0;
}

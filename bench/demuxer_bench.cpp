// The in-memory demuxer on a generated 60 s 720p H.264/AAC FLV, as a whole
// process against the ffmpeg tool's whole process copying the same file to
// nowhere (ffmpeg -c copy -f null): both started here, exec to exit, the
// sides taking turns in the same run. The demuxer's process is the bench's
// own driver; it is fed as a data channel feeds it, in blocks of at most
// 11200 bytes (8 slices of 1400) at the stream's pace, so every block
// before the input opens makes the unit open again on all it holds. Beside
// it, for what those re-opens cost, the same driver with a first chunk that
// holds all probing reads (1000000 bytes; no data channel sends that).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/interleaved.h"
#include "bench/run_program.h"
#include "tests/support/test_support.h"

namespace {

const int kDurationMs = 60000;
const size_t kDataChannelBlock = 8 * 1400;

std::string g_file;
std::string g_driverOut;
std::string g_packets;

const char kChannel[] = "demuxer, data-channel blocks";
const char kProbeFirst[] = "demuxer, probe's bytes first";
const char kFfmpeg[] = "ffmpeg -c copy -f null";

void Time(benchmark::State& state, const std::vector<std::string>& args, const std::string& out)
{
    double cpuNs = 0, cpuSum = 0;
    for (auto _ : state) {
        if (!qgbench::RunProgram(args, out, &cpuNs)) {
            state.SkipWithError((args[0] + " failed").c_str());
            break;
        }
        cpuSum += cpuNs;
    }
    state.counters["cpu_ns"] = state.iterations() ? cpuSum / static_cast<double>(state.iterations()) : 0;
}

std::vector<std::string> Driver(size_t first, size_t chunk)
{
    return {qgbench::OwnDir() + "bench_demux_driver",
            g_file,
            g_packets,
            std::to_string(kDurationMs),
            std::to_string(first),
            std::to_string(chunk)};
}

void DataChannelBlocks(benchmark::State& state)
{
    Time(state, Driver(kDataChannelBlock, kDataChannelBlock), g_driverOut + ".channel");
}

void ProbeFirst(benchmark::State& state)
{
    Time(state, Driver(1100000, 65536), g_driverOut + ".probe");
}

void FfmpegCopyToNull(benchmark::State& state)
{
    Time(state, {"ffmpeg", "-v", "error", "-nostdin", "-i", g_file, "-c", "copy", "-f", "null", "-"}, "");
}

// CPU time over the ffmpeg tool's, round by round.
void PrintCpu(const qgbench::RoundsReporter& r, const std::string& side)
{
    const auto a = r.counters.find(side), b = r.counters.find(kFfmpeg);
    if (a == r.counters.end() || b == r.counters.end() || !a->second.count("cpu_ns") || !b->second.count("cpu_ns"))
        return;
    const std::vector<double>&x = a->second.at("cpu_ns"), &y = b->second.at("cpu_ns");
    std::vector<double> ratios;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i)
        if (y[i] > 0)
            ratios.push_back(x[i] / y[i]);
    const qgbench::Spread ours = qgbench::SpreadOf(x), tool = qgbench::SpreadOf(y), ratio = qgbench::SpreadOf(ratios);
    if (ratio.n)
        printf("  CPU time (user + system), %s %s / %s %s: %.2fx (%.2f to %.2f; target at most 1)\n", side.c_str(),
               qgbench::Duration(ours.median).c_str(), kFfmpeg, qgbench::Duration(tool.median).c_str(), ratio.median,
               ratio.min, ratio.max);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = qgbench::TakeRounds(argc, argv, 5);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    qgtest::TempDir dir("qg-demux-bench-");
    g_file = dir.File("stream_720p_60s.flv");
    g_driverOut = dir.File("driver");
    const std::string make = "ffmpeg -v error -nostdin -y -threads 4 "
                             "-f lavfi -i testsrc2=size=1280x720:rate=30:duration=60 "
                             "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=60 "
                             "-c:v libx264 -preset ultrafast -g 60 -pix_fmt yuv420p -c:a aac -b:a 128k -f flv '" +
                             g_file + "'";
    if (system(make.c_str()) != 0) {
        fprintf(stderr, "ffmpeg could not make the stream\n");
        return 1;
    }
    const size_t size = qgtest::ReadFile(g_file).size();
    // One line per stream.
    const std::string countsPath = dir.File("packets");
    uint64_t packets = 0;
    if (qgbench::RunProgram({"ffprobe", "-v", "error", "-count_packets", "-show_entries", "stream=nb_read_packets",
                             "-of", "csv=p=0", g_file},
                            countsPath))
        for (const std::string& line : qgtest::ReadLines(countsPath))
            packets += strtoull(line.c_str(), nullptr, 10);
    if (size == 0 || packets == 0) {
        fprintf(stderr, "no stream to read\n");
        return 1;
    }
    g_packets = std::to_string(packets);
    printf("stream: %.1f MB, %llu packets, 60 s (a block every %.1f ms at its pace)\n", static_cast<double>(size) / 1e6,
           static_cast<unsigned long long>(packets),
           static_cast<double>(kDataChannelBlock) / (static_cast<double>(size) / kDurationMs));

    qgbench::Interleave(rounds, {{kChannel, DataChannelBlocks}, {kProbeFirst, ProbeFirst}, {kFfmpeg, FfmpegCopyToNull}},
                        [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->Iterations(1); });
    qgbench::RoundsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("whole process, exec to exit:\n");
    reporter.PrintSides({kChannel, kProbeFirst, kFfmpeg});
    for (const char* out : {".channel", ".probe"}) {
        const std::vector<std::string> lines = qgtest::ReadLines(g_driverOut + out);
        if (!lines.empty())
            printf("  %s: %s\n", out + 1, lines.back().c_str());
    }
    reporter.PrintRatio(std::string(kChannel) + " / " + kFfmpeg, kChannel, kFfmpeg, "at most 1");
    PrintCpu(reporter, kChannel);
    reporter.PrintRatio(std::string(kProbeFirst) + " / " + kFfmpeg, kProbeFirst, kFfmpeg, "at most 1");
    PrintCpu(reporter, kProbeFirst);
    const qgbench::Spread channel = reporter.Time(kChannel);
    if (channel.n)
        printf("demuxer fed by data-channel blocks: %.1f MB/s, %.0f frames/s\n",
               static_cast<double>(size) / (channel.median / 1e9) / 1e6,
               static_cast<double>(packets) / (channel.median / 1e9));
    printf("load average at the end: %s\n", qgbench::LoadAverage().c_str());
    benchmark::Shutdown();
    return 0;
}

// The rewrite a browser answer gets on its way to the media library (the
// browser only receives: recvonly, no ssrc lines, one video codec) against
// one read of the same text's "sdp" member by the project's JSON reader.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "quillgate/webrtc/webrtc_connect.h"
#include "util/json_utils.h"

namespace {

const char* const kFixtures[] = {"chrome_answer", "firefox_answer"};

const std::string& Fixture(int which)
{
    static std::string texts[2];
    std::string& text = texts[which];
    if (text.empty()) {
        std::ifstream in(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + kFixtures[which] + ".json",
                         std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
}

// The browser-answer steps of the signalling handler, on its own copy.
int RewriteAnswer(std::string& json)
{
    CWebRtcConnect::SetSdpDirection(3, json);
    CWebRtcConnect::DelSDPSsrcInfo(json);
    bool video = false, audio = false, data = false;
    CWebRtcConnect::CheckMediaType(json, video, audio, data);
    if (!video)
        return 0;
    bool h264 = false, vp8 = false, vp9 = false;
    CWebRtcConnect::CheckVideoCodec(json, h264, vp8, vp9);
    return CWebRtcConnect::FilterVideoCodec(json, vp8 ? 3 : 1, 1);
}

void BM_AnswerRewrite(benchmark::State& state)
{
    const std::string& fixture = Fixture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::string json = fixture;
        benchmark::DoNotOptimize(RewriteAnswer(json));
        benchmark::DoNotOptimize(json.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.size()));
}

void BM_ReadSdpMember(benchmark::State& state)
{
    const std::string& fixture = Fixture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::string sdp;
        benchmark::DoNotOptimize(CJsonTools::GetStringValue(fixture, "sdp", sdp));
        benchmark::DoNotOptimize(sdp.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fixture.size()));
}

BENCHMARK(BM_AnswerRewrite)->Arg(0)->Arg(1);
BENCHMARK(BM_ReadSdpMember)->Arg(0)->Arg(1);

// Console output plus the rewrite / read time ratio per fixture.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const
    {
        for (int i = 0; i < 2; ++i) {
            const std::string arg = "/" + std::to_string(i);
            const auto rewrite = times_.find("BM_AnswerRewrite" + arg);
            const auto read = times_.find("BM_ReadSdpMember" + arg);
            if (rewrite == times_.end() || read == times_.end() || read->second <= 0)
                continue;
            std::printf("%s: answer rewrite / one JSON read = %.2fx (target at most 4x)\n", kFixtures[i],
                        rewrite->second / read->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The rewrite must have work to do: a fixture that fails to load or
    // loses its codec filter would time nothing.
    for (int i = 0; i < 2; ++i) {
        std::string json = Fixture(i);
        if (json.empty() || RewriteAnswer(json) != 0 || json.find("a=ssrc") != std::string::npos) {
            std::fprintf(stderr, "fixture %s does not rewrite\n", kFixtures[i]);
            return 1;
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

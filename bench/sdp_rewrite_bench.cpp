// What a browser answer costs on its way to the media library, as the
// signalling handler takes it: its "type" and "peerconnectionid" read, the
// text copied, and the answer rewritten for a peer the browser only
// receives on (recvonly, no ssrc lines, one video codec), against one read
// of the same text's "sdp" member by the project's JSON reader. The sides
// take turns in the same run.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/interleaved.h"
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

// The WebRTC side with no owner: the formats an answer fixes go nowhere.
CWebRtcConnect& Side()
{
    static CWebRtcConnect side;
    return side;
}

// The answer's steps of the signalling handler, up to the library call:
// 0, or -1 when a member is missing or the text is no answer.
int AnswerPath(const std::string& json, std::string& text)
{
    std::string type, peerId;
    if (CJsonTools::GetStringValue(json, "type", type) != 0 ||
        CJsonTools::GetStringValue(json, "peerconnectionid", peerId) != 0 || type != "answer")
        return -1;
    PeerInfo peer;
    peer.peerId = peerId;
    peer.streamType = 2;
    text = json;
    return Side().ModifyWebAnswerInfo(peer, text);
}

void AnswerPathOf(benchmark::State& state, int which)
{
    const std::string& fixture = Fixture(which);
    for (auto _ : state) {
        std::string text;
        benchmark::DoNotOptimize(AnswerPath(fixture, text));
        benchmark::DoNotOptimize(text.data());
    }
}

void ReadSdpOf(benchmark::State& state, int which)
{
    const std::string& fixture = Fixture(which);
    for (auto _ : state) {
        std::string sdp;
        benchmark::DoNotOptimize(CJsonTools::GetStringValue(fixture, "sdp", sdp));
        benchmark::DoNotOptimize(sdp.data());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = qgbench::TakeRounds(argc, argv, 10);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The path must have work to do: a fixture that fails to load or loses
    // its rewrite would time nothing.
    for (int i = 0; i < 2; ++i) {
        std::string text;
        if (Fixture(i).empty() || AnswerPath(Fixture(i), text) != 0 || text.find("a=ssrc") != std::string::npos ||
            text.find("a=recvonly") == std::string::npos) {
            std::fprintf(stderr, "fixture %s does not rewrite\n", kFixtures[i]);
            return 1;
        }
    }
    std::vector<qgbench::Side> sides;
    for (int i = 0; i < 2; ++i) {
        sides.push_back({std::string(kFixtures[i]) + " answer path", [i](benchmark::State& s) { AnswerPathOf(s, i); }});
        sides.push_back({std::string(kFixtures[i]) + " one read", [i](benchmark::State& s) { ReadSdpOf(s, i); }});
    }
    qgbench::Interleave(rounds, sides, [](benchmark::internal::Benchmark* b) { b->MinTime(0.2); });
    qgbench::RoundsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("answer path: \"type\" and \"peerconnectionid\" read, copy, rewrite; one read: the \"sdp\" member\n");
    std::vector<std::string> names;
    for (const qgbench::Side& s : sides)
        names.push_back(s.name);
    reporter.PrintSides(names);
    for (int i = 0; i < 2; ++i) {
        const std::string f = kFixtures[i];
        reporter.PrintRatio(f + ": answer path / one JSON read", f + " answer path", f + " one read", "at most 4x");
    }
    std::printf("load average at the end: %s\n", qgbench::LoadAverage().c_str());
    benchmark::Shutdown();
    return 0;
}

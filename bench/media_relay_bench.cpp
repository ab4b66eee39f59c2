// Media through the relay, in one process: the real connection manager with
// the stand-in SDK linked and the stand-in media library opened beside it,
// both journals off. A 640x480 30 fps H.264 stream of about 2 Mbit/s and
// its 20 ms PCM audio, made by the ffmpeg tool at start, go each way frame
// by frame: this thread hands each frame to quillgate as the sending
// stand-in does (its callback, its record), and the call returns once the
// receiving stand-in has taken it. Each medium apart, against a memcpy of
// the same frames, the sides taking turns in the same run; also heap
// allocations per frame (every thread, every kind) and the latency each
// frame adds between the stand-ins.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/heap_counter.h"
#include "bench/interleaved.h"
#include "media_clip.h"
#include "quillgate/session/connect_mgr.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/test_support.h"

namespace {

const uint32_t kRemoteUser = 2001;  // in the stand-in's default world
const uint32_t kFrameMs = 33;

standin::Clip g_video;
standin::Clip g_audio;
uint32_t g_sendHandle = 0;  // the browser's own peer

uint64_t Now()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

uint8_t* VideoAt(size_t i)
{
    return reinterpret_cast<uint8_t*>(&g_video.bytes[0]) + g_video.frames[i].offset;
}
uint8_t* AudioAt(size_t i)
{
    return reinterpret_cast<uint8_t*>(&g_audio.bytes[0]) + g_audio.frames[i].offset;
}

void Put32(unsigned char* rec, size_t off, uint32_t v)
{
    std::memcpy(rec + off, &v, 4);  // little-endian machines only, as the library
}
void PutPtr(unsigned char* rec, size_t off, const void* p)
{
    std::memcpy(rec + off, &p, sizeof p);
}

// SDK -> browser: the SDK's media thread calls quillgate's video and audio
// callbacks; quillgate finds 2001's receiving peer and calls the library.
void SdkToBrowser(bool video, size_t i)
{
    CCorvaneConnect& sdk = CConnectMgr::GetInstance().GetSDKClient();
    if (video) {
        const standin::ClipFrame& f = g_video.frames[i];
        CCorvaneConnect::OnVideoDataCallBack(kRemoteUser, VideoAt(i), f.length, f.ts, &sdk, 0, CV_CODEC_H264, 640, 480,
                                             30, 0, 0, 0, 0);
    } else {
        static WAVEFORMATEX format = {1, 1, 16000, 32000, 2, 16, 0};
        const standin::ClipFrame& f = g_audio.frames[i];
        CCorvaneConnect::OnAudioDataCallBack(kRemoteUser, AudioAt(i), f.length, format, f.ts, &sdk);
    }
}

// Browser -> SDK: the library's media thread fills a record by offset, with
// its own bytes patterned, and calls quillgate's callback for the peer.
void BrowserToSdk(bool video, size_t i)
{
    CWebRtcConnect& side = CConnectMgr::GetInstance().GetWebRtc();
    unsigned char rec[44];
    for (size_t b = 0; b < sizeof rec; ++b)
        rec[b] = static_cast<unsigned char>(0xA0 | (b & 31));
    if (video) {
        const standin::ClipFrame& f = g_video.frames[i];
        Put32(rec, 0, 0);
        Put32(rec, 16, 0);
        Put32(rec, 20, f.ts);
        Put32(rec, 24, 0);
        Put32(rec, 32, f.length);
        PutPtr(rec, 36, VideoAt(i));
        OnWebrtcVideoDataCallBack(g_sendHandle, reinterpret_cast<RtcVideoFrame*>(rec), 0, 0, &side);
    } else {
        const standin::ClipFrame& f = g_audio.frames[i];
        Put32(rec, 16, f.ts);
        Put32(rec, 20, 0);
        Put32(rec, 28, f.length);
        PutPtr(rec, 32, AudioAt(i));
        OnWebrtcAudioDataCallBack(g_sendHandle, reinterpret_cast<RtcAudioFrame*>(rec), 0, 0, &side);
    }
}

std::vector<uint8_t> g_sink(1 << 20);

void Memcpy(bool video, size_t i)
{
    const standin::ClipFrame& f = video ? g_video.frames[i] : g_audio.frames[i];
    std::memcpy(g_sink.data(), video ? VideoAt(i) : AudioAt(i), f.length);
    benchmark::ClobberMemory();
}

typedef void (*Deliver)(bool video, size_t index);

const standin::Clip& ClipOf(bool video)
{
    return video ? g_video : g_audio;
}

// Every frame of one medium, in order.
void Pass(Deliver deliver, bool video)
{
    const size_t n = ClipOf(video).frames.size();
    for (size_t i = 0; i < n; ++i)
        deliver(video, i);
}

// One side: passes over one medium's frames, heap allocations of the whole
// process counted meanwhile. A pass first, untimed: the first frames of a
// stream may set things up.
void Run(benchmark::State& state, Deliver deliver, bool video)
{
    Pass(deliver, video);
    const unsigned long allocations = qgbench::HeapAllocations();
    const unsigned long news = qgtest::ThreadNews();
    for (auto _ : state)
        Pass(deliver, video);
    const double frames = static_cast<double>(state.iterations()) * static_cast<double>(ClipOf(video).frames.size());
    state.counters["frames"] = frames;
    state.counters["allocations"] = static_cast<double>(qgbench::HeapAllocations() - allocations);
    state.counters["news"] = static_cast<double>(qgtest::ThreadNews() - news);
}

// Per-frame times of a few passes, a clock read around each call, in room
// taken beforehand so keeping them allocates nothing.
std::vector<uint64_t> Latencies(Deliver deliver, bool video, int passes)
{
    std::vector<uint64_t> t;
    t.reserve(static_cast<size_t>(passes) * ClipOf(video).frames.size());
    for (int p = 0; p < passes; ++p) {
        for (size_t i = 0; i < ClipOf(video).frames.size(); ++i) {
            const uint64_t t0 = Now();
            deliver(video, i);
            t.push_back(Now() - t0);
        }
    }
    return t;
}

uint64_t Percentile(std::vector<uint64_t> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// One memcpy of a mean-sized video frame, median of many.
uint64_t MeanFrameMemcpyNs()
{
    const size_t mean = g_video.bytes.size() / g_video.frames.size();
    std::vector<uint64_t> t;
    for (int i = 0; i < 20000; ++i) {
        const uint64_t t0 = Now();
        std::memcpy(g_sink.data(), VideoAt(static_cast<size_t>(i) % g_video.frames.size()), mean);
        benchmark::ClobberMemory();
        t.push_back(Now() - t0);
    }
    return Percentile(t, 0.5);
}

bool MakeStream(const qgtest::TempDir& dir)
{
    const std::string video = dir.File("camera_640x480_30fps.h264");
    const std::string audio = dir.File("mic_16k_mono.s16le");
    const std::string make = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=640x480:rate=30:duration=10 "
                             "-f lavfi -i sine=frequency=440:sample_rate=16000:duration=10 "
                             "-map 0:v -c:v libx264 -preset veryfast -profile:v baseline -pix_fmt yuv420p -g 30 -bf 0 "
                             "-b:v 2M -maxrate 2M -bufsize 2M -x264-params aud=1 -f h264 '" +
                             video + "' -map 1:a -ac 1 -f s16le '" + audio + "'";
    if (system(make.c_str()) != 0)
        return false;
    std::string bytes, error;
    return standin::ReadWholeFile(video, bytes, error) && standin::CutAnnexB(bytes, 30, 1, g_video, error) &&
           standin::ReadWholeFile(audio, bytes, error) && standin::CutPcm(bytes, 640, 20, g_audio, error);
}

std::string Sdp(const std::string& name, const std::string& peerId)
{
    std::string text = qgtest::ReadFile(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + name + ".json");
    const std::string key = "\"peerconnectionid\":\"";
    const size_t at = text.find(key) + key.size();
    text.replace(at, text.find('"', at) - at, peerId);
    return text;
}

// The browser's two peers negotiated, its own camera off in the library,
// the formats set: quillgate as in a call.
bool SetUpSession(const qgtest::TempDir& dir)
{
    unsetenv("QG_SDK_JOURNAL");
    unsetenv("QG_RTC_JOURNAL");
    unsetenv("QG_SDK_LOG");
    unsetenv("QG_SDK_SCENARIO");
    unsetenv("QG_SDK_CONTROL");
    const std::string fifo = dir.File("rtc.control");
    if (mkfifo(fifo.c_str(), 0600) != 0)
        return false;
    const int control = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    const char line[] = "automedia off\n";
    if (control < 0 || write(control, line, sizeof line - 1) != static_cast<ssize_t>(sizeof line - 1))
        return false;
    setenv("QG_RTC_CONTROL", fifo.c_str(), 1);

    CConnectMgr& mgr = CConnectMgr::GetInstance();
    if (mgr.Init() != 0)
        return false;
    mgr.SetGeneralParam(1, 1,
                        "{\"browsertype\":4,\"debugflag\":0,\"debuglevel\":4,\"h5handlestreamtype\":2,"
                        "\"platformtype\":4}");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the library reads its control line
    mgr.ConsultParam(2, 1,
                     "{\"control\":1,\"peerconnectionid\":\"r1\",\"streamindex\":0,\"streamtype\":2,\"userid\":2001}");
    mgr.WebrtcConsult(3, Sdp("safari_answer", "r1"));
    mgr.ConsultParam(4, 1,
                     "{\"control\":1,\"peerconnectionid\":\"own\",\"streamindex\":0,\"streamtype\":1,\"userid\":-1}");
    mgr.WebrtcConsult(5, Sdp("safari_offer", "own"));
    PeerInfo own, r1;
    if (mgr.GetWebRtc().GetPeerinfoByPeerId("own", own) != 0 || mgr.GetWebRtc().GetPeerinfoByPeerId("r1", r1) != 0)
        return false;
    g_sendHandle = own.handle;
    close(control);
    return mgr.GetSDKClient().IsInputVideoFormatSet() && mgr.GetSDKClient().IsInputAudioFormatSet() &&
           (own.mediaMask & 3) == 3 && (r1.mediaMask & 3) == 3;
}

// The counter must see what the C library allocates inside, on any thread:
// else every figure of 0 would say nothing.
bool CounterSeesEveryThread()
{
    unsigned long inside = 0, after = 0;
    std::thread([&] {
        inside = qgbench::HeapAllocations();
        free(strdup("counted"));
        after = qgbench::HeapAllocations();
    }).join();
    return after > inside;
}

const char* const kWays[] = {"sdk->browser", "browser->sdk"};

std::string SideName(const char* way, bool video)
{
    return std::string(way) + (video ? " video" : " audio");
}

double Sum(const qgbench::RoundsReporter& r, const std::string& side, const char* counter)
{
    double sum = 0;
    const auto c = r.counters.find(side);
    if (c != r.counters.end() && c->second.count(counter))
        for (double v : c->second.at(counter))
            sum += v;
    return sum;
}

void PrintFigures(const qgbench::RoundsReporter& r)
{
    for (const std::string& e : r.errors)
        printf("error: %s\n", e.c_str());
    printf("per frame: time, median of the rounds (min to max); heap allocations, every thread and kind (target "
           "0), of them operator new on the calling thread\n");
    for (const bool video : {true, false}) {
        for (const char* way : {"sdk->browser", "browser->sdk", "memcpy"}) {
            const std::string side = SideName(way, video);
            const double frames = static_cast<double>(ClipOf(video).frames.size());
            const qgbench::Spread t = r.Time(side);
            if (t.n == 0)
                continue;
            printf("  %-20s %8.1f ns  (%5.1f to %5.1f)", side.c_str(), t.median / frames, t.min / frames,
                   t.max / frames);
            const double counted = Sum(r, side, "frames");
            if (std::string(way) != "memcpy" && counted > 0)
                printf("   allocations %.3f, new %.3f", Sum(r, side, "allocations") / counted,
                       Sum(r, side, "news") / counted);
            printf("\n");
        }
    }
    for (const bool video : {true, false})
        for (const char* way : kWays)
            r.PrintRatio(SideName(way, video) + " / memcpy of the same frames", SideName(way, video),
                         SideName("memcpy", video), "at most 1x");
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = qgbench::TakeRounds(argc, argv, 10);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!CounterSeesEveryThread()) {
        fprintf(stderr, "the allocation counter is not the allocator of this program\n");
        return 1;
    }
    qgtest::TempDir dir("qg-media-bench-");
    if (!MakeStream(dir)) {
        fprintf(stderr, "ffmpeg could not make the stream\n");
        return 1;
    }
    if (!SetUpSession(dir)) {
        fprintf(stderr, "the session did not come up\n");
        return 1;
    }
    const double seconds = static_cast<double>(g_video.frames.back().ts + kFrameMs) / 1000.0;
    printf("stream: %zu video frames (%.2f Mbit/s, mean %zu bytes), %zu audio frames of 640 bytes\n",
           g_video.frames.size(), static_cast<double>(g_video.bytes.size()) * 8 / seconds / 1e6,
           g_video.bytes.size() / g_video.frames.size(), g_audio.frames.size());

    std::vector<qgbench::Side> sides;
    for (const bool video : {true, false}) {
        sides.push_back(
            {SideName("sdk->browser", video), [video](benchmark::State& s) { Run(s, &SdkToBrowser, video); }});
        sides.push_back(
            {SideName("browser->sdk", video), [video](benchmark::State& s) { Run(s, &BrowserToSdk, video); }});
        sides.push_back({SideName("memcpy", video), [video](benchmark::State& s) { Run(s, &Memcpy, video); }});
    }
    qgbench::Interleave(rounds, sides, [](benchmark::internal::Benchmark* b) { b->MinTime(0.1); });
    qgbench::RoundsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintFigures(reporter);

    const uint64_t meanCopy = MeanFrameMemcpyNs();
    for (const char* way : kWays) {
        const Deliver deliver = std::string(way) == "sdk->browser" ? &SdkToBrowser : &BrowserToSdk;
        const std::vector<uint64_t> video = Latencies(deliver, true, 20);
        const std::vector<uint64_t> audio = Latencies(deliver, false, 20);
        printf("%s latency per frame (a clock read around each call): video median %llu ns, p99 %llu ns; audio "
               "median %llu ns, p99 %llu ns; one memcpy of the mean video frame %llu ns (target: video median below "
               "it)\n",
               way, static_cast<unsigned long long>(Percentile(video, 0.5)),
               static_cast<unsigned long long>(Percentile(video, 0.99)),
               static_cast<unsigned long long>(Percentile(audio, 0.5)),
               static_cast<unsigned long long>(Percentile(audio, 0.99)), static_cast<unsigned long long>(meanCopy));
    }
    // That every frame arrived, read from the journals, now switched on.
    setenv("QG_SDK_JOURNAL", dir.File("sdk.journal").c_str(), 1);
    setenv("QG_RTC_JOURNAL", dir.File("rtc.journal").c_str(), 1);
    for (const bool video : {true, false}) {
        Pass(&SdkToBrowser, video);
        Pass(&BrowserToSdk, video);
    }
    unsetenv("QG_SDK_JOURNAL");
    unsetenv("QG_RTC_JOURNAL");
    const std::vector<std::string> rtc = qgtest::ReadLines(dir.File("rtc.journal"));
    const std::vector<std::string> sdk = qgtest::ReadLines(dir.File("sdk.journal"));
    auto count = [](const std::vector<std::string>& lines, const char* prefix) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.compare(0, strlen(prefix), prefix) == 0; });
    };
    printf("one pass journaled: the library took %ld of %zu video and %ld of %zu audio frames, the SDK %ld and %ld\n",
           count(rtc, "CVRTC_InputVideoStreamData"), g_video.frames.size(), count(rtc, "CVRTC_InputAudioStreamData"),
           g_audio.frames.size(), count(sdk, "CVAPI_InputVideoDataEx"), count(sdk, "CVAPI_InputAudioDataEx"));
    printf("load average at the end: %s\n", qgbench::LoadAverage().c_str());
    CConnectMgr::GetInstance().Release();
    benchmark::Shutdown();
    return 0;
}

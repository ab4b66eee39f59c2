// What one browser session costs a host: one quillgate process serves one
// session, so an idle process's start, memory, threads, libraries and
// wake-ups are what bound the sessions a host can keep. In one run:
//  - exec to registration: quillgate against the project's minimal
//    delegate (the same Slice interface, properties and registration, and
//    nothing else), each started here by fork and exec against this
//    process's gateway on 127.0.0.1, timed from just before the exec to the
//    registration call's arrival, the two taking turns round by round;
//  - an idle session, logged in and in a room through the gateway's calls,
//    before any data-channel stream and again after one has played through
//    the stand-in media library: VmRSS, RssAnon, threads and shared objects
//    mapped, then over a window the wake-ups (voluntary context switches of
//    every thread) and CPU time, thread by thread with what each waits in
//    and the code it runs;
//  - the minimal delegate idle, for scale;
// and at the end the figures per session, for the README.
//
//   session_cost_bench [--rounds=N] [--window=SECONDS] [--libraries]
#include <Ice/Ice.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_quillgate.h"
#include "bench/interleaved.h"
#include "bench/process_figures.h"
#include "tests/support/media_checks.h"
#include "tests/support/test_support.h"
#include "tests/support/webrtc_script.h"

namespace {

using qgbench::MemoryFigures;
using qgbench::WindowFigures;

// Targets for an idle session before any data-channel stream.
const double kRssAnonTargetMiB = 2.5;
const double kVmRssTargetMiB = 14;
const size_t kSharedObjectsTarget = 40;
const double kRegistrationTarget = 1.3;

// The stand-in SDK's and media library's variables: all off but what a run names.
const qgbench::Environment kQuiet = {{"QG_SDK_LOG", ""},     {"QG_SDK_JOURNAL", ""}, {"QG_SDK_SCENARIO", ""},
                                     {"QG_SDK_CONTROL", ""}, {"QG_RTC_JOURNAL", ""}, {"QG_RTC_CONTROL", ""}};

struct Options {
    int rounds = 20;
    double window = 5;
    bool libraries = false;
};

Options ParseOptions(int argc, char** argv)
{
    Options o;
    o.rounds = qgbench::TakeRounds(argc, argv, o.rounds);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--window=", 9) == 0 && std::atof(argv[i] + 9) > 0)
            o.window = std::atof(argv[i] + 9);
        else if (std::strcmp(argv[i], "--libraries") == 0)
            o.libraries = true;
        else
            std::fprintf(stderr, "ignored: %s\n", argv[i]);
    }
    return o;
}

double MiB(long kb)
{
    return static_cast<double>(kb) / 1024;
}

const char* Verdict(bool met)
{
    return met ? "met" : "missed";
}

// Waits, bounded, for a recorded gateway call that starts with prefix.
bool WaitCall(CallRecorder& gateway, const std::string& prefix, int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    size_t seen = 0;
    while (std::chrono::steady_clock::now() < until) {
        const std::vector<std::string> calls = gateway.Calls();
        for (size_t i = seen; i < calls.size(); ++i)
            if (calls[i].compare(0, prefix.size(), prefix) == 0)
                return true;
        seen = calls.size();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        gateway.WaitCount(seen + 1, static_cast<int>(std::max<long long>(1, left.count())));
    }
    return false;
}

// Lines of a journal that start with prefix.
size_t CountLines(const std::string& path, const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& l : qgtest::ReadLines(path))
        n += l.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
}

// ---- exec to registration ----

struct Registration {
    std::vector<double> quillgateMs, minimalMs, ratios;
};

// One start to registration and stop; 0 when it did not register.
double StartToRegistration(const std::string& program)
{
    IceUtil::Handle<qgbench::BenchGatewayBase> gateway = new qgbench::BenchGatewayBase();
    qgbench::QuillgateProcess run;
    double ms = 0;
    if (run.Start(gateway, kQuiet, program) && run.execNs > 0)
        ms = static_cast<double>(gateway->RegisteredNs() - run.execNs) / 1e6;
    run.Stop();
    return ms;
}

bool MeasureRegistration(int rounds, Registration& r)
{
    for (int i = 0; i < rounds; ++i) {
        double q = 0, m = 0;
        if (i % 2 == 0) {
            q = StartToRegistration("quillgate");
            m = StartToRegistration(qgbench::kMinimalDelegate);
        } else {
            m = StartToRegistration(qgbench::kMinimalDelegate);
            q = StartToRegistration("quillgate");
        }
        if (q <= 0 || m <= 0)
            return false;
        r.quillgateMs.push_back(q);
        r.minimalMs.push_back(m);
        r.ratios.push_back(q / m);
    }
    return true;
}

void PrintRegistration(const Registration& r)
{
    const qgbench::Spread q = qgbench::SpreadOf(r.quillgateMs), m = qgbench::SpreadOf(r.minimalMs),
                          ratio = qgbench::SpreadOf(r.ratios);
    std::printf("== exec to registration (%zu rounds, the two taking turns)\n", ratio.n);
    std::printf("quillgate         %7.1f ms  (%.1f to %.1f)\n", q.median, q.min, q.max);
    std::printf("minimal delegate  %7.1f ms  (%.1f to %.1f)\n", m.median, m.min, m.max);
    std::printf("quillgate / minimal delegate: min %.2fx, median %.2fx, max %.2fx (target at most %.1fx: %s)\n",
                ratio.min, ratio.median, ratio.max, kRegistrationTarget, Verdict(ratio.median <= kRegistrationTarget));
}

// ---- an idle process ----

std::string CodeGroup(const qgbench::ThreadFigures& t, const std::string& program)
{
    if (t.code.compare(0, 4, "main") == 0)
        return program;
    const size_t colon = t.code.find(':');
    return t.code.empty() ? "unknown" : t.code.substr(0, colon);
}

bool WakesForDataChannel(const qgbench::ThreadFigures& t)
{
    std::string code = t.code;
    std::transform(code.begin(), code.end(), code.begin(), [](unsigned char c) { return std::tolower(c); });
    return code.find("datachannel") != std::string::npos || code.find("datachnl") != std::string::npos;
}

void PrintMemory(const MemoryFigures& m, bool targets)
{
    if (targets)
        std::printf("VmRSS %.1f MiB (target at most %.0f: %s), RssAnon %.1f MiB (target at most %.1f: %s), RssFile "
                    "%.1f MiB, threads %ld, shared objects %zu (target at most %zu: %s)\n",
                    MiB(m.vmRssKb), kVmRssTargetMiB, Verdict(MiB(m.vmRssKb) <= kVmRssTargetMiB), MiB(m.rssAnonKb),
                    kRssAnonTargetMiB, Verdict(MiB(m.rssAnonKb) <= kRssAnonTargetMiB), MiB(m.rssFileKb), m.threads,
                    m.sharedObjects, kSharedObjectsTarget, Verdict(m.sharedObjects <= kSharedObjectsTarget));
    else
        std::printf("VmRSS %.1f MiB, RssAnon %.1f MiB, RssFile %.1f MiB, threads %ld, shared objects %zu\n",
                    MiB(m.vmRssKb), MiB(m.rssAnonKb), MiB(m.rssFileKb), m.threads, m.sharedObjects);
}

void PrintWindow(const WindowFigures& w, const std::string& program)
{
    std::printf("over %.1f s: %.0f wake-ups/s, CPU %.2f%% of one core\n", w.seconds, w.wakeupsPerSecond, w.cpuPercent);
    std::printf("  %-7s %-16s %8s %6s  %-34s %s\n", "tid", "name", "wake/s", "CPU%", "waits in", "code");
    size_t quiet = 0;
    for (const qgbench::ThreadFigures& t : w.threads) {
        if (t.wakeupsPerSecond < 0.5 && t.cpuPercent < 0.05) {
            ++quiet;
            continue;
        }
        std::printf("  %-7d %-16s %8.1f %6.2f  %-34s %s\n", t.tid, t.name.c_str(), t.wakeupsPerSecond, t.cpuPercent,
                    t.waits.c_str(), t.code.c_str());
    }
    if (quiet)
        std::printf("  and %zu threads that did not wake\n", quiet);
    std::map<std::string, double> byCode;
    for (const qgbench::ThreadFigures& t : w.threads)
        byCode[CodeGroup(t, program)] += t.wakeupsPerSecond;
    std::printf("wake-ups by code:");
    for (const auto& kv : byCode)
        std::printf(" %s %.0f/s;", kv.first.c_str(), kv.second);
    std::printf("\n");
}

struct SessionFigures {
    bool ok = false;
    MemoryFigures idle, afterStream;
    WindowFigures idleWindow, afterWindow;
    size_t streamFrames = 0;
    std::vector<std::string> libraries;
};

// A quillgate logged in and in a room; its figures before and after one
// data-channel stream.
SessionFigures MeasureSession(const Options& o)
{
    SessionFigures f;
    qgtest::TempDir dir("qg-session-bench-");
    const std::string fifo = dir.File("rtc.control");
    // Held open read-write, so a line waits there until the library reads it.
    const int control = mkfifo(fifo.c_str(), 0600) == 0 ? open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
    if (control < 0) {
        std::fprintf(stderr, "no control FIFO for the media library\n");
        return f;
    }
    const std::string sdkJournal = dir.File("sdk.journal"), rtcJournal = dir.File("rtc.journal");
    qgbench::Environment env = kQuiet;
    for (auto& v : env) {
        if (v.first == "QG_SDK_JOURNAL")
            v.second = sdkJournal;
        else if (v.first == "QG_RTC_JOURNAL")
            v.second = rtcJournal;
        else if (v.first == "QG_RTC_CONTROL")
            v.second = fifo;
    }
    IceUtil::Handle<qgbench::BenchGatewayBase> gateway = new qgbench::BenchGatewayBase();
    qgbench::QuillgateProcess run;
    // FFmpeg's complaints about a stream that is opened short go there.
    run.outputPath = dir.File("quillgate.out");
    const auto fail = [&](const char* what) {
        std::fprintf(stderr, "session: %s\n", what);
        run.Stop();
        close(control);
        return f;
    };
    if (!run.Start(gateway, env))
        return fail("quillgate did not register");
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx& q = run.quillgate;
    q->setGeneralParam(1, 1, qgtest::InitParams(4, 1, 0));
    if (q->login(2, "127.0.0.1:8906", "alice", "pw", 0, "{\"browsertype\":4,\"platformtype\":1}") != 0 ||
        !WaitCall(*gateway, "replyLogin(", 10000))
        return fail("no login");
    if (q->enterRoom(3, 5, "", 0) != 0 || !WaitCall(*gateway, "replyEnterRoom(", 10000))
        return fail("no room");
    // The keep-alive pings from 3 s after the start on.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    f.idle = qgbench::MemoryOf(run.pid);
    for (const std::string& lib : qgbench::SharedObjects(run.pid))
        f.libraries.push_back(qgbench::BaseName(lib));
    f.idleWindow = qgbench::Watch(run.pid, o.window);

    // The browser's own peer with a data channel; the library sends the
    // file once the channel opens.
    const std::string file = qgtest::MediaFixture("stream_h264_aac.flv");
    const std::string line = "datafile " + file + "\n";
    if (write(control, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return fail("the control line was not written");
    if (q->consultParam(4, 1, qgtest::CreatePeer("dc", 1, 1001)) != 0 ||
        !WaitCall(*gateway, "replyConsultParam(", 10000))
        return fail("no peer");
    if (q->webrtcConsult(5, qgtest::BrowserMessage("chrome_data_offer", "dc")) != 0 ||
        !WaitCall(*gateway, "replyWebrtcConsult(", 10000))
        return fail("no data-channel offer taken");
    // The sender's end, then the SDK's frames until they stop coming.
    bool sent = false;
    for (int waited = 0; waited < 30000 && !sent; waited += 50) {
        for (const std::string& l : qgtest::ReadLines(rtcJournal))
            sent = sent || (l.compare(0, 7, "totals ") == 0 && l.find(" data out=") != std::string::npos);
        if (!sent)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!sent)
        return fail("the data channel did not send its file");
    size_t frames = 0;
    for (int still = 0, waited = 0; still < 1000 && waited < 30000; waited += 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const size_t now =
            CountLines(sdkJournal, "CVAPI_InputVideoDataEx ") + CountLines(sdkJournal, "CVAPI_InputAudioDataEx ");
        still = now == frames ? still + 100 : 0;
        frames = now;
    }
    f.streamFrames = frames;
    if (frames == 0)
        return fail("no frame of the stream reached the SDK");
    f.afterStream = qgbench::MemoryOf(run.pid);
    f.afterWindow = qgbench::Watch(run.pid, o.window);
    run.Stop();
    close(control);
    f.ok = true;
    return f;
}

bool MeasureMinimal(const Options& o, MemoryFigures& m, WindowFigures& w)
{
    IceUtil::Handle<qgbench::BenchGatewayBase> gateway = new qgbench::BenchGatewayBase();
    qgbench::QuillgateProcess run;
    const bool ok = run.Start(gateway, kQuiet, qgbench::kMinimalDelegate);
    if (ok) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        m = qgbench::MemoryOf(run.pid);
        w = qgbench::Watch(run.pid, o.window);
    }
    run.Stop();
    return ok;
}

double StandInWakeups(const WindowFigures& w)
{
    double n = 0;
    for (const qgbench::ThreadFigures& t : w.threads)
        if (t.code.find("dizoveverivuve") != std::string::npos ||
            t.code.find("libcorvanewebrtcsdk") != std::string::npos)
            n += t.wakeupsPerSecond;
    return n;
}

void PrintPerSession(const SessionFigures& s, const Registration& r)
{
    const double anon = MiB(s.idle.rssAnonKb), rss = MiB(s.idle.vmRssKb);
    const double standIns = StandInWakeups(s.idleWindow);
    std::printf("== per session (one quillgate process, idle, logged in and in a room, no data-channel stream)\n");
    std::printf("- memory: RssAnon %.1f MiB (its own pages), VmRSS %.1f MiB (with the pages of %zu shared objects, "
                "which sessions share): about %.0f sessions per GiB by RssAnon, %.0f if every page were a session's "
                "own (VmRSS)\n",
                anon, rss, s.idle.sharedObjects, anon > 0 ? 1024 / anon : 0, rss > 0 ? 1024 / rss : 0);
    std::printf("- threads: %ld; after one data-channel stream %ld, RssAnon %.1f MiB, VmRSS %.1f MiB, %zu shared "
                "objects\n",
                s.idle.threads, s.afterStream.threads, MiB(s.afterStream.rssAnonKb), MiB(s.afterStream.vmRssKb),
                s.afterStream.sharedObjects);
    if (s.idleWindow.cpuPercent > 0)
        std::printf("- CPU: %.2f%% of one core idle: about %.0f idle sessions per core by CPU time\n",
                    s.idleWindow.cpuPercent, 100 / s.idleWindow.cpuPercent);
    else
        std::printf("- CPU: under one clock tick in %.0f s idle (below %.2f%% of a core)\n", s.idleWindow.seconds,
                    100 / s.idleWindow.seconds / static_cast<double>(sysconf(_SC_CLK_TCK)));
    std::printf("- wake-ups: %.0f/s idle (%.0f/s of them the stand-in SDK's and media library's threads): %.0f "
                "thousand a second on a host of 1000 sessions\n",
                s.idleWindow.wakeupsPerSecond, standIns, s.idleWindow.wakeupsPerSecond);
    if (!r.ratios.empty())
        std::printf("- start: exec to registration %.1f ms (the minimal delegate %.1f ms)\n",
                    qgbench::SpreadOf(r.quillgateMs).median, qgbench::SpreadOf(r.minimalMs).median);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = ParseOptions(argc, argv);
    std::printf("load average at the start: %s\n", qgbench::LoadAverage().c_str());
    Registration reg;
    if (!MeasureRegistration(o.rounds, reg)) {
        std::fprintf(stderr, "quillgate or the minimal delegate did not register\n");
        return 1;
    }
    PrintRegistration(reg);

    const SessionFigures s = MeasureSession(o);
    if (!s.ok)
        return 1;
    const std::string program = "quillgate";
    std::printf("== idle session: logged in, in a room, no data-channel stream yet\n");
    PrintMemory(s.idle, true);
    if (o.libraries) {
        std::printf("shared objects:");
        for (const std::string& lib : s.libraries)
            std::printf(" %s", lib.c_str());
        std::printf("\n");
    }
    PrintWindow(s.idleWindow, program);
    std::vector<std::string> dataChannel;
    for (const qgbench::ThreadFigures& t : s.idleWindow.threads)
        if (WakesForDataChannel(t) && t.wakeupsPerSecond >= 1)
            dataChannel.push_back(t.code + " " + std::to_string(static_cast<int>(t.wakeupsPerSecond + 0.5)) + "/s");
    std::printf("threads that wake while no data channel is open: %zu", dataChannel.size());
    for (const std::string& t : dataChannel)
        std::printf(" (%s)", t.c_str());
    std::printf(" (target none: %s)\n", Verdict(dataChannel.empty()));
    std::printf("the periods of quillgate's own: main loop 10 ms (100/s), keep-alive ping 100 ms (10/s and the "
                "Ice threads that carry it), entry thread 100 ms (10/s)\n");

    std::printf("== after one data-channel stream played (%zu frames to the SDK)\n", s.streamFrames);
    PrintMemory(s.afterStream, false);
    PrintWindow(s.afterWindow, program);

    MemoryFigures minimal;
    WindowFigures minimalWindow;
    if (MeasureMinimal(o, minimal, minimalWindow)) {
        std::printf("== the minimal delegate, registered and idle, for scale\n");
        PrintMemory(minimal, false);
        std::printf("over %.1f s: %.0f wake-ups/s, CPU %.2f%% of one core\n", minimalWindow.seconds,
                    minimalWindow.wakeupsPerSecond, minimalWindow.cpuPercent);
    }
    PrintPerSession(s, reg);
    std::printf("load average at the end: %s\n", qgbench::LoadAverage().c_str());
    return 0;
}

// Protecting and restoring a 64 MiB file against the openssl tool's
// AES-128-ECB on the same bytes and against cp of the same file (the floor:
// the same bytes read and written, no cipher), the sides taking turns in
// the same run. Every side starts with no target file: a tool writing over
// an old 64 MiB target would also pay for freeing its blocks.
#include "util/protected_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/interleaved.h"
#include "bench/run_program.h"

namespace {

const size_t kFileSize = 64u << 20;
const char kPassword[] = "bench-password";
const char kKeyHex[] = "62656e63682d70617373776f72640000";  // the password, zero padded to 16 bytes

struct Files {
    Files()
    {
        char tmpl[] = "/tmp/qg_pf_bench_XXXXXX";
        if (!mkdtemp(tmpl))
            std::abort();
        dir = tmpl;
        plain = dir + "/plain";
        sealed = dir + "/sealed";
        target = dir + "/target";
        std::vector<char> data(kFileSize);
        unsigned x = 1;
        for (char& c : data)
            c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
        std::ofstream(plain, std::ios::binary).write(data.data(), data.size());
        if (CFileGlobalFunc::FileAesEncDec(kPassword, 1, plain.c_str(), sealed.c_str(), 1) != 0)
            std::abort();
    }
    ~Files() { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string dir, plain, sealed, target;
};

Files& TheFiles()
{
    static Files files;
    return files;
}

// Runs one side a time per iteration, its target removed beforehand
// outside the timing.
template <typename Work>
void Each(benchmark::State& state, Work work)
{
    Files& f = TheFiles();
    for (auto _ : state) {
        state.PauseTiming();
        unlink(f.target.c_str());
        state.ResumeTiming();
        if (!work(f)) {
            state.SkipWithError("failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void Protect(benchmark::State& state)
{
    Each(state, [](Files& f) {
        return CFileGlobalFunc::FileAesEncDec(kPassword, 1, f.plain.c_str(), f.target.c_str(), 1) == 0;
    });
}

void Restore(benchmark::State& state)
{
    Each(state, [](Files& f) {
        return CFileGlobalFunc::FileAesEncDec(kPassword, 0, f.sealed.c_str(), f.target.c_str(), 1) == 0;
    });
}

void OpensslEncrypt(benchmark::State& state)
{
    Each(state, [](Files& f) {
        return qgbench::RunProgram(
            {"openssl", "enc", "-aes-128-ecb", "-nopad", "-K", kKeyHex, "-in", f.plain, "-out", f.target});
    });
}

void OpensslDecrypt(benchmark::State& state)
{
    Each(state, [](Files& f) {
        return qgbench::RunProgram(
            {"openssl", "enc", "-d", "-aes-128-ecb", "-nopad", "-K", kKeyHex, "-in", f.plain, "-out", f.target});
    });
}

void Copy(benchmark::State& state)
{
    Each(state, [](Files& f) { return qgbench::RunProgram({"cp", f.plain, f.target}); });
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = qgbench::TakeRounds(argc, argv, 8);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TheFiles();
    qgbench::Interleave(rounds,
                        {{"protect", Protect},
                         {"openssl enc", OpensslEncrypt},
                         {"restore", Restore},
                         {"openssl enc -d", OpensslDecrypt},
                         {"cp", Copy}},
                        [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->Iterations(3); });
    qgbench::RoundsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("64 MiB, no target file before each run; time per run:\n");
    reporter.PrintSides({"protect", "openssl enc", "restore", "openssl enc -d", "cp"});
    reporter.PrintRatio("protect / openssl enc", "protect", "openssl enc", "at most 1.25");
    reporter.PrintRatio("restore / openssl enc -d", "restore", "openssl enc -d", "at most 1.25");
    reporter.PrintRatio("protect / cp (floor)", "protect", "cp", "none, the floor");
    reporter.PrintRatio("restore / cp (floor)", "restore", "cp", "none, the floor");
    std::printf("load average at the end: %s\n", qgbench::LoadAverage().c_str());
    benchmark::Shutdown();
    return 0;
}

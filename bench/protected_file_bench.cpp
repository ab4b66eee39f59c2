// Protecting and restoring a 64 MiB file against the openssl tool's
// AES-128-ECB on the same file, in the same run. Prints the ratios.
#include "util/protected_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
        restored = dir + "/restored";
        tool = dir + "/tool";
        std::vector<char> data(kFileSize);
        unsigned x = 1;
        for (char& c : data)
            c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
        std::ofstream(plain, std::ios::binary).write(data.data(), data.size());
        if (CFileGlobalFunc::FileAesEncDec(kPassword, 1, plain.c_str(), sealed.c_str(), 1) != 0)
            std::abort();
    }
    ~Files() { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string dir, plain, sealed, restored, tool;
};

Files& TheFiles()
{
    static Files files;
    return files;
}

bool RunTool(bool decrypt)
{
    Files& f = TheFiles();
    std::vector<std::string> args = {"openssl", "enc", "-aes-128-ecb", "-nopad", "-K",
                                     kKeyHex,   "-in", f.plain,        "-out",   f.tool};
    if (decrypt)
        args.insert(args.begin() + 2, "-d");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "openssl", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_Protect(benchmark::State& state)
{
    Files& f = TheFiles();
    for (auto _ : state)
        if (CFileGlobalFunc::FileAesEncDec(kPassword, 1, f.plain.c_str(), f.restored.c_str(), 1) != 0)
            state.SkipWithError("protect failed");
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_Restore(benchmark::State& state)
{
    Files& f = TheFiles();
    for (auto _ : state)
        if (CFileGlobalFunc::FileAesEncDec(kPassword, 0, f.sealed.c_str(), f.restored.c_str(), 1) != 0)
            state.SkipWithError("restore failed");
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_OpensslEncrypt(benchmark::State& state)
{
    for (auto _ : state)
        if (!RunTool(false))
            state.SkipWithError("openssl failed");
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_OpensslDecrypt(benchmark::State& state)
{
    for (auto _ : state)
        if (!RunTool(true))
            state.SkipWithError("openssl failed");
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

BENCHMARK(BM_Protect)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OpensslEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Restore)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OpensslDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

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

void PrintRatio(const RatioReporter& r, const char* ours, const char* tool)
{
    const auto a = r.ms.find(ours), b = r.ms.find(tool);
    if (a == r.ms.end() || b == r.ms.end() || b->second <= 0)
        return;
    std::printf("%s / %s = %.3f (target: at most 1.25)\n", ours, tool, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatio(reporter, "BM_Protect", "BM_OpensslEncrypt");
    PrintRatio(reporter, "BM_Restore", "BM_OpensslDecrypt");
    benchmark::Shutdown();
    return 0;
}

// Benchmarks whose sides take turns: each side is registered once a round,
// the order turning round by round, so a load that comes and goes on a
// shared host hits every side alike; a ratio is taken within each round,
// between runs next to each other in time. The reporter keeps each run's
// time by side and round and prints, in place of a line a run, one line a
// side and one a ratio.
#ifndef QG_BENCH_INTERLEAVED_H
#define QG_BENCH_INTERLEAVED_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qgbench {

// Takes "--rounds=N" out of the arguments (before benchmark::Initialize,
// which would refuse it); fallback when absent or not a positive number.
inline int TakeRounds(int& argc, char** argv, int fallback)
{
    int rounds = fallback;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0) {
            const int n = std::atoi(argv[i] + 9);
            if (n > 0)
                rounds = n;
        } else {
            argv[out++] = argv[i];
        }
    }
    argc = out;
    return rounds;
}

typedef std::function<void(benchmark::State&)> SideFunction;
typedef std::function<void(benchmark::internal::Benchmark*)> Configure;

struct Side {
    std::string name;
    SideFunction run;
};

// Registers rounds x sides benchmarks "<name>/round:<r>".
inline void Interleave(int rounds, const std::vector<Side>& sides, const Configure& configure)
{
    for (int r = 0; r < rounds; ++r) {
        for (size_t k = 0; k < sides.size(); ++k) {
            const Side& side = sides[(k + static_cast<size_t>(r)) % sides.size()];
            const std::string name = side.name + "/round:" + std::to_string(r);
            benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name.c_str(), side.run);
            b->UseRealTime();
            configure(b);
        }
    }
}

struct Spread {
    double min = 0, median = 0, max = 0;
    size_t n = 0;
};

inline Spread SpreadOf(std::vector<double> v)
{
    Spread s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.n = v.size();
    s.min = v.front();
    s.max = v.back();
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    return s;
}

// "12.3 ms" from nanoseconds.
inline std::string Duration(double ns)
{
    char text[32];
    if (ns >= 1e6)
        std::snprintf(text, sizeof text, "%.1f ms", ns / 1e6);
    else if (ns >= 1e3)
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.1f ns", ns);
    return text;
}

// The host's load now, for the record beside the figures.
inline std::string LoadAverage()
{
    std::string a, b, c;
    std::ifstream("/proc/loadavg") >> a >> b >> c;
    return a + " " + b + " " + c;
}

class RoundsReporter : public benchmark::ConsoleReporter
{
public:
    // Real time per iteration of each side, one entry a round, in ns.
    std::map<std::string, std::vector<double>> ns;
    // A side's other figures (its counters), one entry a round.
    std::map<std::string, std::map<std::string, std::vector<double>>> counters;
    std::vector<std::string> errors;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const std::string name = run.run_name.function_name;
            const std::string side = name.substr(0, name.find("/round:"));
            if (run.error_occurred) {
                errors.push_back(side + ": " + run.error_message);
                continue;
            }
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0)
                continue;
            ns[side].push_back(run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations));
            for (const auto& c : run.counters)
                counters[side][c.first].push_back(c.second.value);
        }
    }

    bool Has(const std::string& side) const { return ns.count(side) && !ns.at(side).empty(); }

    Spread Time(const std::string& side) const { return Has(side) ? SpreadOf(ns.at(side)) : Spread(); }

    // a's time over b's, round by round.
    Spread Ratio(const std::string& a, const std::string& b) const
    {
        std::vector<double> r;
        if (Has(a) && Has(b)) {
            const std::vector<double>&x = ns.at(a), &y = ns.at(b);
            for (size_t i = 0; i < x.size() && i < y.size(); ++i)
                if (y[i] > 0)
                    r.push_back(x[i] / y[i]);
        }
        return SpreadOf(r);
    }

    // One line a side: median, min and max time per iteration over the rounds.
    void PrintSides(const std::vector<std::string>& sides) const
    {
        for (const std::string& e : errors)
            std::printf("error: %s\n", e.c_str());
        for (const std::string& side : sides) {
            if (!Has(side))
                continue;
            const Spread s = Time(side);
            std::printf("%-44s %10s  (%s to %s, %zu rounds)\n", side.c_str(), Duration(s.median).c_str(),
                        Duration(s.min).c_str(), Duration(s.max).c_str(), s.n);
        }
    }

    // "<label>: median R (min to max over N rounds; target ...)".
    void PrintRatio(const std::string& label, const std::string& a, const std::string& b,
                    const std::string& target) const
    {
        const Spread r = Ratio(a, b);
        if (r.n == 0)
            return;
        std::printf("%s: %.2fx (%.2f to %.2f over %zu rounds; target %s)\n", label.c_str(), r.median, r.min, r.max, r.n,
                    target.c_str());
    }
};

}  // namespace qgbench

#endif

// The compact writer against jsoncpp's own compact writer on two typical
// documents: a room list of 200 users and a 6 KiB event text.
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <json/json.h>

#include "util/json_writer.h"

namespace {

Json::Value roomList()
{
    Json::Value users(Json::arrayValue);
    for (int i = 0; i < 200; ++i) {
        Json::Value u(Json::objectValue);
        u["userid"] = 100000 + i;
        u["username"] = "\xe7\x94\xa8\xe6\x88\xb7" + std::to_string(i);  // UTF-8 text
        u["nickname"] = "guest_" + std::to_string(i);
        u["ipaddr"] = "192.168.1." + std::to_string(i % 250);
        u["camerastate"] = i % 3;
        u["micstate"] = i % 2 == 0;
        u["level"] = 0.5 * i;
        u["streams"] = Json::Value(Json::arrayValue);
        u["streams"].append(0);
        u["streams"].append(1);
        users.append(u);
    }
    Json::Value room(Json::objectValue);
    room["roomid"] = 7;
    room["errorcode"] = 0;
    room["userlist"] = users;
    return room;
}

Json::Value eventText()
{
    std::string message;
    while (message.size() < 6 * 1024)
        message += "line \"quoted\"\t\xe4\xb8\xad\xe6\x96\x87 text / path\\segment\r\n";
    message.resize(6 * 1024);
    Json::Value v(Json::objectValue);
    v["eventtype"] = 12;
    v["fromuserid"] = 100023;
    v["touserid"] = -1;
    v["timestamp"] = static_cast<Json::UInt64>(1767225600123ULL);
    v["message"] = message;
    return v;
}

const Json::Value& document(int which)
{
    static const Json::Value room = roomList();
    static const Json::Value event = eventText();
    return which == 0 ? room : event;
}

void BM_CompactWriter(benchmark::State& state)
{
    const Json::Value& v = document(static_cast<int>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = cv::toStyledString(v);
        bytes += text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_JsoncppWriter(benchmark::State& state)
{
    const Json::Value& v = document(static_cast<int>(state.range(0)));
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = Json::writeString(builder, v);
        bytes += text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK(BM_CompactWriter)->Arg(0)->Arg(1);
BENCHMARK(BM_JsoncppWriter)->Arg(0)->Arg(1);

// Console output plus the jsoncpp / compact time ratio per document.
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
        const char* const names[] = {"room list (200 users)", "event text (6 KiB)"};
        for (int i = 0; i < 2; ++i) {
            const std::string arg = "/" + std::to_string(i);
            const auto ours = times_.find("BM_CompactWriter" + arg);
            const auto theirs = times_.find("BM_JsoncppWriter" + arg);
            if (ours == times_.end() || theirs == times_.end() || ours->second <= 0)
                continue;
            std::printf("%s: jsoncpp writer / compact writer = %.2fx\n", names[i], theirs->second / ours->second);
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
    // The compact text must be JSON that reads back whole.
    for (int i = 0; i < 2; ++i) {
        Json::Value back;
        Json::Reader reader;
        if (!reader.parse(cv::toStyledString(document(i)), back) || back.size() != document(i).size()) {
            std::fprintf(stderr, "compact text of document %d does not read back\n", i);
            return 1;
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

// All 51 server records encoded to compact text and decoded back, against
// jsoncpp on the same work: its StreamWriterBuilder (indentation "") on the
// same Json::Value, and its Reader on the same text.
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <json/json.h>

#include "comm/serverutils/record_codec.h"
#include "util/json_writer.h"

namespace {

using qg_record::Field;
using qg_record::Record;

// Typical content: counters and GUIDs of any value, short printable texts,
// lists a few entries long.
void Fill(const Record& record, uint8_t* base, std::mt19937& rng)
{
    std::uniform_int_distribution<int> printable(0x20, 0x7E);
    memset(base, 0, record.size);
    int32_t count = 0;
    for (unsigned i = 0; i < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        uint8_t* p = base + f.offset;
        switch (f.kind) {
        case qg_record::kSize:
        case qg_record::kSizeConst:
        case qg_record::kSizeHidden:
            memcpy(p, &record.size, 4);
            break;
        case qg_record::kCount:
            count = 2;
            memcpy(p, &count, 4);
            break;
        case qg_record::kDouble: {
            const double v = rng() / 1000.0;
            memcpy(p, &v, sizeof v);
            break;
        }
        case qg_record::kText:
        case qg_record::kTextSlots: {
            const unsigned slot = f.kind == qg_record::kText ? f.width : f.width / f.count;
            const unsigned slots = f.kind == qg_record::kText ? 1 : 3;
            for (unsigned s = 0; s < slots; ++s) {
                const unsigned length = std::min(slot - 1, static_cast<unsigned>(rng() % 48));
                for (unsigned j = 0; j < length; ++j)
                    p[s * slot + j] = static_cast<uint8_t>(printable(rng));
            }
            break;
        }
        case qg_record::kParts:
            for (int32_t j = 0; j < count; ++j)
                Fill(qg_record::kDiskPartInfo, p + j * qg_record::kDiskPartInfo.size, rng);
            break;
        case qg_record::kGuidList:
        case qg_record::kIntList:
        case qg_record::kIntListOrZero: {
            const unsigned slot = f.width / f.count;
            for (unsigned j = 0; j < 4 * slot; ++j)
                p[j] = static_cast<uint8_t>(rng() | 1);
            break;
        }
        case qg_record::kReserved:
        case qg_record::kLength:
            break;
        default:
            for (unsigned j = 0; j < f.width; ++j)
                p[j] = static_cast<uint8_t>(rng());
            break;
        }
    }
}

struct Corpus {
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<Json::Value> values;
    std::vector<std::string> texts;
};

const Corpus& corpus()
{
    static const Corpus c = [] {
        Corpus c;
        std::mt19937 rng(20240611);
        for (unsigned i = 0; i < qg_record::kAllRecordCount; ++i) {
            const Record& record = *qg_record::kAllRecords[i];
            std::vector<uint8_t> bytes(record.size);
            Fill(record, bytes.data(), rng);
            c.values.push_back(qg_record::Write(record, bytes.data()));
            c.texts.push_back(cv::toStyledString(c.values.back()));
            c.bytes.push_back(std::move(bytes));
        }
        return c;
    }();
    return c;
}

const int64_t kRecords = qg_record::kAllRecordCount;

void BM_RecordEncode(benchmark::State& state)
{
    const Corpus& c = corpus();
    std::vector<char> buf(1 << 16);
    for (auto _ : state) {
        for (unsigned i = 0; i < kRecords; ++i) {
            qg_record::WriteText(*qg_record::kAllRecords[i], c.bytes[i].data(), buf.data(),
                                 static_cast<unsigned>(buf.size()));
            benchmark::DoNotOptimize(buf.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_JsoncppWrite(benchmark::State& state)
{
    const Corpus& c = corpus();
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    for (auto _ : state) {
        for (unsigned i = 0; i < kRecords; ++i) {
            std::string text = Json::writeString(builder, c.values[i]);
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_RecordDecode(benchmark::State& state)
{
    const Corpus& c = corpus();
    std::vector<uint8_t> out(1 << 15);
    for (auto _ : state) {
        for (unsigned i = 0; i < kRecords; ++i) {
            const int result = qg_record::Read(*qg_record::kAllRecords[i], c.texts[i].c_str(), out.data());
            benchmark::DoNotOptimize(result);
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_JsoncppRead(benchmark::State& state)
{
    const Corpus& c = corpus();
    for (auto _ : state) {
        for (unsigned i = 0; i < kRecords; ++i) {
            Json::Reader reader;
            Json::Value root;
            const bool ok = reader.parse(c.texts[i], root, true);
            benchmark::DoNotOptimize(ok);
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

BENCHMARK(BM_RecordEncode);
BENCHMARK(BM_JsoncppWrite);
BENCHMARK(BM_RecordDecode);
BENCHMARK(BM_JsoncppRead);

// Console output plus the codec / jsoncpp time ratio each way.
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
        const char* const pairs[][3] = {{"encode", "BM_RecordEncode", "BM_JsoncppWrite"},
                                        {"decode", "BM_RecordDecode", "BM_JsoncppRead"}};
        for (const auto& pair : pairs) {
            const auto ours = times_.find(pair[1]);
            const auto theirs = times_.find(pair[2]);
            if (ours == times_.end() || theirs == times_.end() || theirs->second <= 0)
                continue;
            std::printf("%s, 51 records: codec / jsoncpp = %.2fx (target at most 2x)\n", pair[0],
                        ours->second / theirs->second);
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
    // Every text must read back into its record.
    const Corpus& c = corpus();
    std::vector<uint8_t> out(1 << 15);
    for (unsigned i = 0; i < kRecords; ++i) {
        if (qg_record::Read(*qg_record::kAllRecords[i], c.texts[i].c_str(), out.data()) != 0) {
            std::fprintf(stderr, "text of %s does not read back\n", qg_record::kAllRecords[i]->name);
            return 1;
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

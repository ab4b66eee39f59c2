// Round trips over every record with seeded random values: a record whose
// fields hold values their kinds carry comes back byte for byte, and any
// record's text, read and written again, is the same text.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comm/serverutils/record_codec.h"
#include "tests/comm/serverutils/record_registry.h"
#include "util/json_writer.h"

namespace {

using qg_record::Field;
using qg_record::Record;
using record_test::FindRecord;
using record_test::RecordEntry;

const int kSeeds = 40;

class Random
{
public:
    explicit Random(uint64_t seed) : rng_(seed) {}
    uint64_t Bits() { return rng_(); }
    unsigned Below(unsigned n) { return static_cast<unsigned>(rng_() % n); }
    bool OneIn(unsigned n) { return Below(n) == 0; }
    void Fill(uint8_t* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(rng_());
    }
    // Finite and not -0: a double the text carries exactly.
    double Real()
    {
        for (;;) {
            uint64_t bits = rng_();
            if (OneIn(4))
                return static_cast<double>(static_cast<int32_t>(bits)) / 8;
            double v;
            memcpy(&v, &bits, sizeof v);
            if (std::isfinite(v) && !(v == 0 && std::signbit(v)))
                return v;
        }
    }

private:
    std::mt19937_64 rng_;
};

template <typename T>
void Put(uint8_t* p, T v)
{
    memcpy(p, &v, sizeof v);
}

// A text of 0 to n-1 non-NUL bytes (often empty or full width), zeros after.
void Text(uint8_t* p, unsigned n, Random& r, bool nonEmpty = false)
{
    memset(p, 0, n);
    unsigned length = r.OneIn(4) ? n - 1 : r.Below(n);
    if (nonEmpty && length == 0)
        length = 1;
    if (!nonEmpty && r.OneIn(6))
        length = 0;
    for (unsigned i = 0; i < length; ++i)
        p[i] = static_cast<uint8_t>(1 + r.Below(255));
}

// How many list slots are in use: often none or all.
unsigned InUse(unsigned count, Random& r)
{
    if (r.OneIn(5))
        return 0;
    if (r.OneIn(5))
        return count;
    return r.Below(count + 1);
}

// Fills a record with values in each kind's carried domain; the bytes that
// no kind carries stay 0.
void FillCarried(const Record& record, uint8_t* base, Random& r)
{
    memset(base, 0, record.size);
    int32_t count = 0;
    for (unsigned i = 0; i < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        uint8_t* p = base + f.offset;
        switch (f.kind) {
        case qg_record::kSize:
        case qg_record::kSizeConst:
        case qg_record::kSizeHidden:
            Put<uint32_t>(p, record.size);
            break;
        case qg_record::kCount:
            count = static_cast<int32_t>(r.Below(14)) - 3;
            Put(p, count);
            break;
        case qg_record::kU32:
        case qg_record::kU32Wide:
        case qg_record::kU16:
        case qg_record::kI64:
        case qg_record::kGuid:
        case qg_record::kIPv4:
        case qg_record::kIPv4Array:
        case qg_record::kByteArray:
        case qg_record::kVersion:
            r.Fill(p, f.width);
            break;
        case qg_record::kDouble:
            Put(p, r.Real());
            break;
        case qg_record::kText:
            Text(p, f.width, r);
            break;
        case qg_record::kMacArray:
            for (unsigned j = 0; j < f.count; ++j)
                Put<uint64_t>(p + 8 * j, r.Bits() & ~0xFFFFull);
            break;
        case qg_record::kParts:
            for (int32_t j = 0; j < count; ++j)
                FillCarried(qg_record::kDiskPartInfo, p + j * qg_record::kDiskPartInfo.size, r);
            break;
        case qg_record::kTextSlots: {
            const unsigned used = InUse(f.count, r);
            for (unsigned j = 0; j < used; ++j)
                Text(p + j * (f.width / f.count), f.width / f.count, r, true);
            break;
        }
        case qg_record::kGuidList:
        case qg_record::kIntList:
        case qg_record::kIntListOrZero: {
            const unsigned slot = f.width / f.count;
            const unsigned used = InUse(f.count, r);
            for (unsigned j = 0; j < used; ++j) {
                r.Fill(p + j * slot, slot);
                p[j * slot] |= 1;  // never zero: a zero slot ends the list
            }
            break;
        }
        case qg_record::kReserved:
        case qg_record::kLength:  // set below, once the text is there
            break;
        }
    }
    for (unsigned i = 0; i + 1 < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        if (f.kind == qg_record::kLength) {
            const Field& text = record.fields[i + 1];
            Put<uint32_t>(base + f.offset, static_cast<uint32_t>(
                                               strnlen(reinterpret_cast<const char*>(base + text.offset), text.width)));
        }
    }
}

// Any bytes, except what a reader sets by rule whatever the text holds:
// sizes hold the record's size, a partition count is at most 10, and a real
// is one that text carries.
void FillAny(const Record& record, uint8_t* base, Random& r)
{
    r.Fill(base, record.size);
    int32_t count = 0;
    for (unsigned i = 0; i < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        uint8_t* p = base + f.offset;
        switch (f.kind) {
        case qg_record::kSize:
        case qg_record::kSizeConst:
        case qg_record::kSizeHidden:
            Put<uint32_t>(p, record.size);
            break;
        case qg_record::kCount:
            memcpy(&count, p, sizeof count);
            if (count > 10)
                count %= 11;
            Put(p, count);
            break;
        case qg_record::kDouble:
            Put(p, r.Real());
            break;
        case qg_record::kParts:
            for (int32_t j = 0; j < count; ++j)
                FillAny(qg_record::kDiskPartInfo, p + j * qg_record::kDiskPartInfo.size, r);
            break;
        default:
            break;
        }
    }
}

std::string FirstDifference(const uint8_t* want, const uint8_t* got, unsigned size)
{
    for (unsigned i = 0; i < size; ++i) {
        if (want[i] != got[i])
            return "byte " + std::to_string(i) + ": want " + std::to_string(want[i]) + ", got " +
                   std::to_string(got[i]);
    }
    return "";
}

struct RecordParam {
    const Record* record;
};

void PrintTo(const RecordParam& p, std::ostream* os)
{
    *os << p.record->name;
}

std::vector<RecordParam> AllRecords()
{
    std::vector<RecordParam> all;
    for (unsigned i = 0; i < qg_record::kAllRecordCount; ++i)
        all.push_back({qg_record::kAllRecords[i]});
    return all;
}

class RecordRoundTrip : public testing::TestWithParam<RecordParam>
{};

TEST_P(RecordRoundTrip, ReadOfWriteRestoresEveryCarriedByte)
{
    const Record& record = *GetParam().record;
    const RecordEntry& entry = *FindRecord(record.name);
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random r(seed * 7919 + record.size);
        std::vector<uint8_t> in(record.size), out(record.size, 0);
        FillCarried(record, in.data(), r);
        const std::string text = entry.write(in.data());
        ASSERT_EQ(entry.read(text.c_str(), out.data()), 0) << text.substr(0, 200);
        ASSERT_EQ(FirstDifference(in.data(), out.data(), record.size), "") << text.substr(0, 400);
    }
}

TEST_P(RecordRoundTrip, WriteOfReadOfWriteIsTheSameText)
{
    const Record& record = *GetParam().record;
    const RecordEntry& entry = *FindRecord(record.name);
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random r(seed * 104729 + record.size);
        std::vector<uint8_t> in(record.size), out(record.size, 0);
        FillAny(record, in.data(), r);
        const std::string text = entry.write(in.data());
        ASSERT_EQ(entry.read(text.c_str(), out.data()), 0) << text.substr(0, 200);
        ASSERT_EQ(entry.write(out.data()), text);
    }
}

// The object writer and the text writer give the same text, and the text
// writer cuts it to the buffer.
TEST_P(RecordRoundTrip, TextWriterIsTheObjectsCompactTextCutToFit)
{
    const Record& record = *GetParam().record;
    const RecordEntry& entry = *FindRecord(record.name);
    Random r(record.size);
    std::vector<uint8_t> in(record.size);
    FillCarried(record, in.data(), r);
    const std::string text = entry.write(in.data());
    EXPECT_EQ(cv::toStyledString(qg_record::Write(record, in.data())), text);

    char small[17];
    memset(small, 'x', sizeof small);
    EXPECT_EQ(qg_record::WriteText(record, in.data(), small, 16), small);
    EXPECT_EQ(std::string(small), text.substr(0, 15));
    EXPECT_EQ(small[16], 'x');
    EXPECT_EQ(qg_record::WriteText(record, in.data(), small, 0), small);
    EXPECT_EQ(small[0], text[0]);
}

INSTANTIATE_TEST_SUITE_P(AllRecords, RecordRoundTrip, testing::ValuesIn(AllRecords()),
                         [](const testing::TestParamInfo<RecordParam>& info) {
                             return std::string(info.param.record->name);
                         });

TEST(RecordRoundTrip, CoversEveryRecord)
{
    EXPECT_EQ(qg_record::kAllRecordCount, 51u);
    EXPECT_EQ(record_test::Records().size(), 51u);
}

}  // namespace

// The record readers on any text, for every record: a read stays inside
// the record's bytes, answers one of its codes, and what it read writes
// out as text that reads back to the same record; GUID texts round-trip.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "comm/serverutils/record_codec.h"
#include "fuzz/fuzz_check.h"

namespace {

const unsigned char kFill = 0xA5;

// The record read from json into fresh bytes (filled before), with guard
// bytes after it that must stay as they were.
int ReadInto(const qg_record::Record& record, const char* json, std::vector<unsigned char>& bytes)
{
    bytes.assign(record.size + 64, kFill);
    std::memset(bytes.data(), 0, record.size);
    const int ret = qg_record::Read(record, json, bytes.data());
    for (size_t i = record.size; i < bytes.size(); ++i)
        FUZZ_CHECK(bytes[i] == kFill);
    FUZZ_CHECK(ret == 0 || ret == -1 || ret == 5);
    return ret;
}

std::string Text(const qg_record::Record& record, const std::vector<unsigned char>& bytes)
{
    std::vector<char> buf(1 << 16, 'Z');
    qg_record::WriteText(record, bytes.data(), buf.data(), static_cast<unsigned>(buf.size()));
    FUZZ_CHECK(std::memchr(buf.data(), '\0', buf.size()) != nullptr);
    return buf.data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const unsigned which = in.ConsumeIntegralInRange<unsigned>(0, qg_record::kAllRecordCount - 1);
    std::vector<uint8_t> guidBytes = in.ConsumeBytes<uint8_t>(sizeof(_GUID));
    guidBytes.resize(sizeof(_GUID));
    const std::string json = in.ConsumeRemainingBytesAsString();
    const qg_record::Record& record = *qg_record::kAllRecords[which];

    std::vector<unsigned char> first;
    if (ReadInto(record, json.c_str(), first) != 0)
        return 0;
    // What was read, written and read again, is the same record.
    const std::string text = Text(record, first);
    FUZZ_CHECK(qgfuzz::Parses(text));
    std::vector<unsigned char> second;
    FUZZ_CHECK(ReadInto(record, text.c_str(), second) == 0);
    FUZZ_CHECK(Text(record, second) == text);

    _GUID guid;
    std::memcpy(&guid, guidBytes.data(), sizeof(guid));
    char out[37];
    qg_record::FormatGuid(guid, out);
    FUZZ_CHECK(std::strlen(out) == 36);
    const _GUID back = qg_record::ParseGuid(out);
    FUZZ_CHECK(std::memcmp(&back, &guid, sizeof(guid)) == 0);
    return 0;
}

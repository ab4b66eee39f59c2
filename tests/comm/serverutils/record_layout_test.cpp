// The record layouts against tests/data/serverutils/record_layout.csv, a
// table of every field written down from the record descriptions: a marker
// at each offset shows under its key, and a text with that key changes only
// those bytes.
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/comm/serverutils/record_registry.h"
#include "util/json_writer.h"

namespace {

using record_test::FindRecord;
using record_test::Hex;
using record_test::RecordEntry;

struct Row {
    std::string record;
    unsigned offset;
    unsigned width;
    std::string kind;
    std::string key;
};

const char kPartRecord[] = "DiskPartInfo";
const unsigned kPartBase = 364;  // entry 0 in MachineDiskInfo
const unsigned kPartCountAt = 360;

std::vector<Row> LoadLayout()
{
    std::ifstream in(QG_SOURCE_DIR "/tests/data/serverutils/record_layout.csv");
    std::vector<Row> rows;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (header) {
            header = false;
            continue;
        }
        std::stringstream cells(line);
        Row row;
        std::string offset, width;
        std::getline(cells, row.record, ',');
        std::getline(cells, offset, ',');
        std::getline(cells, width, ',');
        std::getline(cells, row.kind, ',');
        std::getline(cells, row.key, ',');
        row.offset = static_cast<unsigned>(std::stoul(offset));
        row.width = static_cast<unsigned>(std::stoul(width));
        rows.push_back(row);
    }
    return rows;
}

const std::vector<Row>& Layout()
{
    static const std::vector<Row> rows = LoadLayout();
    return rows;
}

std::map<std::string, std::vector<Row>> ByRecord()
{
    std::map<std::string, std::vector<Row>> records;
    for (const Row& row : Layout())
        records[row.record].push_back(row);
    return records;
}

bool IsPart(const Row& row)
{
    return row.record == kPartRecord;
}

// The record a row is probed in, and the byte where its field starts there.
const RecordEntry& Host(const Row& row)
{
    return *FindRecord(IsPart(row) ? "MachineDiskInfo" : row.record);
}

unsigned At(const Row& row)
{
    return (IsPart(row) ? kPartBase : 0) + row.offset;
}

// A zero record; for a partition row one with PartCount 1.
std::vector<uint8_t> Start(const Row& row)
{
    std::vector<uint8_t> bytes(Host(row).size, 0);
    if (IsPart(row))
        bytes[kPartCountAt] = 1;
    return bytes;
}

Json::Value Parse(const std::string& text)
{
    Json::Value root;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, root)) << text;
    return root;
}

// The member a row shows in, given the record's object.
Json::Value Shown(const Json::Value& root, const Row& row)
{
    const Json::Value& object = IsPart(row) ? root["partInfo"][0] : root;
    if (row.key.compare(0, 4, "ver.") == 0)
        return object["ver"][row.key.substr(4)];
    return object[row.key];
}

// A text that holds value under the row's key.
std::string Holding(const Row& row, const Json::Value& value)
{
    Json::Value member(Json::objectValue);
    if (row.key.compare(0, 4, "ver.") == 0)
        member["ver"][row.key.substr(4)] = value;
    else
        member[row.key] = value;
    if (!IsPart(row))
        return cv::toStyledString(member);
    Json::Value root(Json::objectValue);
    root["partInfo"][0] = member;
    return cv::toStyledString(root);
}

std::string Le32(unsigned v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}

std::string DoubleBytes(double v)
{
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

const char kGuidBytes[] = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10";
const char kGuidShown[] = "\"04030201-0605-0807-090A-0B0C0D0E0F10\"";

struct WriteProbe {
    std::string bytes;  // placed at the row's offset
    std::string shown;  // the member's compact text, or that of its element 0
    bool element;
};

WriteProbe WriteProbeFor(const Row& row)
{
    const std::string& k = row.kind;
    if (k == "u32" || k == "i32" || k == "size")
        return {Hex("44 33 22 11"), "287454020", false};
    if (k == "size-const")
        return {Hex("44 33 22 11"), std::to_string(Host(row).size), false};
    if (k == "u16")
        return {Hex("22 11"), "4386", false};
    if (k == "u8")
        return {Hex("5A"), "90", false};
    if (k == "i64")
        return {Hex("88 77 66 55 44 33 22 11"), "1234605616436508552", false};
    if (k == "double")
        return {DoubleBytes(1.25), "1.25", false};
    if (k == "u32-wide")
        return {Hex("FF FF FF FF"), "4294967295", false};
    if (k == "text")
        return {"Mk", "\"Mk\"", false};
    if (k == "guid")
        return {Hex(kGuidBytes), kGuidShown, false};
    if (k == "ipv4")
        return {Hex("01 00 00 0A"), "\"10.0.0.1\"", false};
    if (k == "ipv4[5]")
        return {Hex("01 00 00 0A"), "\"10.0.0.1\"", true};
    if (k == "mac[5]")
        return {Hex("00 00 06 05 04 03 02 01"), "\"01-02-03-04-05-06\"", true};
    if (k == "u8[32]")
        return {Hex("5A"), "90", true};
    if (k == "text[20]")
        return {"Mk", "\"Mk\"", true};
    if (k == "guid[10]")
        return {Hex(kGuidBytes), kGuidShown, true};
    if (k.compare(0, 4, "u32[") == 0)
        return {Hex("44 33 22 11"), "287454020", true};
    ADD_FAILURE() << "no write probe for kind " << k;
    return {};
}

struct ReadProbe {
    std::string value;  // JSON text of the value put under the key
    std::string bytes;  // what it stores at the row's offset
};

ReadProbe ReadProbeFor(const Row& row)
{
    const std::string& k = row.kind;
    if (k == "u32")
        return {"1432778632", Hex("88 77 66 55")};
    if (k == "i32")  // the partition count: negative, so that no entry is touched
        return {"-7", Hex("F9 FF FF FF")};
    if (k == "u16")
        return {"13124", Hex("44 33")};
    if (k == "u8")
        return {"123", Hex("7B")};
    if (k == "i64")
        return {"72623859790382856", Hex("08 07 06 05 04 03 02 01")};
    if (k == "double")
        return {"2.5", DoubleBytes(2.5)};
    if (k == "u32-wide")
        return {"4294967295", Hex("FF FF FF FF")};
    if (k == "text")
        return {"\"" + std::string(row.width + 5, 'z') + "\"", std::string(row.width - 1, 'z') + '\0'};
    if (k == "guid")
        return {"\"0A0B0C0D-0E0F-1011-1213-141516171819\"", Hex("0D 0C 0B 0A 0F 0E 11 10 12 13 14 15 16 17 18 19")};
    if (k == "ipv4")
        return {"\"1.2.3.4\"", Hex("04 03 02 01")};
    if (k == "ipv4[5]")
        return {"[\"1.2.3.4\"]", Hex("04 03 02 01")};
    if (k == "mac[5]")
        return {"[\"0A-0B-0C-0D-0E-0F\"]", Hex("00 00 0F 0E 0D 0C 0B 0A")};
    if (k == "u8[32]")
        return {"[123]", Hex("7B")};
    if (k == "text[20]")
        return {"[\"Mk\"]", std::string("Mk", 3)};
    if (k == "guid[10]")
        return {"[\"0A0B0C0D-0E0F-1011-1213-141516171819\"]", Hex("0D 0C 0B 0A 0F 0E 11 10 12 13 14 15 16 17 18 19")};
    if (k.compare(0, 4, "u32[") == 0)
        return {"[1432778632]", Hex("88 77 66 55")};
    ADD_FAILURE() << "no read probe for kind " << k;
    return {};
}

bool Keyed(const Row& row)
{
    return !row.key.empty() && row.kind != "part[10]";
}

std::string RowName(const Row& row)
{
    return row.record + "." + (row.key.empty() ? row.kind : row.key) + "@" + std::to_string(row.offset);
}

TEST(RecordLayout, EveryRecordIsCoveredWithoutGapsAndHasItsSize)
{
    const auto records = ByRecord();
    EXPECT_EQ(records.size(), 52u);  // 51 records and the partition entry
    for (const RecordEntry& entry : record_test::Records())
        EXPECT_TRUE(records.count(entry.name)) << entry.name;
    for (const auto& r : records) {
        unsigned end = 0;
        for (const Row& row : r.second) {
            EXPECT_EQ(row.offset, end) << RowName(row);
            end = row.offset + row.width;
        }
        if (r.first == kPartRecord)
            EXPECT_EQ(end, 220u);
        else
            EXPECT_EQ(end, FindRecord(r.first)->size) << r.first;
    }
}

// The writer shows only keys of the table, and every key that is not a list
// (lists are left out when empty) even for a record of zeros.
TEST(RecordLayout, WriterShowsExactlyTheKeysOfTheTable)
{
    for (const auto& r : ByRecord()) {
        SCOPED_TRACE(r.first);
        const Row& first = r.second.front();
        const std::vector<uint8_t> start = Start(first);
        Json::Value root = Parse(Host(first).write(start.data()));
        const Json::Value& object = r.first == kPartRecord ? root["partInfo"][0] : root;
        std::set<std::string> keys, required;
        for (const Row& row : r.second) {
            if (row.key.empty())
                continue;
            const std::string key = row.key.compare(0, 4, "ver.") == 0 ? "ver" : row.key;
            keys.insert(key);
            if (row.kind.find('[') == std::string::npos || row.kind == "ipv4[5]" || row.kind == "mac[5]" ||
                row.kind == "u8[32]")
                required.insert(key);
        }
        for (const std::string& name : object.getMemberNames())
            EXPECT_TRUE(keys.count(name)) << "member not in the table: " << name;
        for (const std::string& key : required)
            EXPECT_TRUE(object.isMember(key)) << "key not written: " << key;
    }
}

TEST(RecordLayout, MarkerAtEachOffsetShowsUnderItsKey)
{
    for (const Row& row : Layout()) {
        if (!Keyed(row))
            continue;
        SCOPED_TRACE(RowName(row));
        const WriteProbe probe = WriteProbeFor(row);
        std::vector<uint8_t> bytes = Start(row);
        ASSERT_LE(probe.bytes.size(), row.width);
        memcpy(bytes.data() + At(row), probe.bytes.data(), probe.bytes.size());
        const Json::Value shown = Shown(Parse(Host(row).write(bytes.data())), row);
        if (probe.element) {
            ASSERT_TRUE(shown.isArray());
            EXPECT_EQ(cv::toStyledString(shown[0]), probe.shown);
            if (row.kind == "ipv4[5]" || row.kind == "mac[5]" || row.kind == "u8[32]")
                EXPECT_EQ(shown.size(), row.kind == "u8[32]" ? 32u : 5u);
            else
                EXPECT_EQ(shown.size(), 1u);  // lists end at the first empty slot
        } else {
            EXPECT_EQ(cv::toStyledString(shown), probe.shown);
        }
    }
}

TEST(RecordLayout, BytesWithoutAKeyNeverShow)
{
    for (const Row& row : Layout()) {
        if (!row.key.empty())
            continue;
        SCOPED_TRACE(RowName(row));
        std::vector<uint8_t> bytes = Start(row);
        const std::string zero = Host(row).write(bytes.data());
        memset(bytes.data() + At(row), 0x5A, row.width);
        EXPECT_EQ(Host(row).write(bytes.data()), zero);
    }
}

// Only the bytes of the row change (and a length row, which follows its text).
void ExpectOnlyRowChanged(const Row& row, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                          const std::vector<Row>& rows)
{
    std::vector<bool> allowed(before.size(), false);
    for (unsigned i = 0; i < row.width; ++i)
        allowed[At(row) + i] = true;
    for (const Row& other : rows) {
        if (other.kind == "length")
            for (unsigned i = 0; i < other.width; ++i)
                allowed[other.offset + i] = true;
    }
    for (size_t i = 0; i < before.size(); ++i) {
        if (!allowed[i] && before[i] != after[i]) {
            ADD_FAILURE() << "byte " << i << " changed";
            return;
        }
    }
}

TEST(RecordLayout, TextWithTheKeyChangesOnlyThoseBytes)
{
    const auto records = ByRecord();
    for (const Row& row : Layout()) {
        if (!Keyed(row) || row.kind == "size" || row.kind == "size-const")
            continue;
        SCOPED_TRACE(RowName(row));
        const RecordEntry& host = Host(row);
        std::vector<uint8_t> base = Start(row);
        ASSERT_EQ(host.read("{}", base.data()), 0);
        const ReadProbe probe = ReadProbeFor(row);
        const std::string text = Holding(row, Parse(probe.value));
        std::vector<uint8_t> bytes = Start(row);
        ASSERT_EQ(host.read(text.c_str(), bytes.data()), 0) << text;
        ExpectOnlyRowChanged(row, base, bytes, records.at(IsPart(row) ? "MachineDiskInfo" : row.record));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + At(row), probe.bytes.size()), probe.bytes);
    }
}

// An empty text changes exactly the size fields (set to the record's size)
// and the length fields, whatever the record held.
TEST(RecordLayout, EmptyTextSetsOnlyTheSizes)
{
    for (const auto& r : ByRecord()) {
        if (r.first == kPartRecord)
            continue;
        SCOPED_TRACE(r.first);
        const RecordEntry& entry = *FindRecord(r.first);
        std::vector<uint8_t> bytes(entry.size, 0xEE);
        const std::vector<uint8_t> before = bytes;
        ASSERT_EQ(entry.read("{}", bytes.data()), 0);
        std::vector<bool> expected(entry.size, false);
        for (const Row& row : r.second) {
            const bool size = row.kind == "size" || row.kind == "size-const" || row.kind == "size-hidden";
            if (size) {
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + row.offset, 4), Le32(entry.size));
            }
            if (size || row.kind == "length") {
                for (unsigned i = 0; i < row.width; ++i)
                    expected[row.offset + i] = true;
            }
        }
        for (unsigned i = 0; i < entry.size; ++i) {
            if (!expected[i] && bytes[i] != before[i]) {
                ADD_FAILURE() << "byte " << i << " changed";
                break;
            }
        }
    }
}

TEST(RecordLayout, PartitionSizeIsSetForEachEntryInUse)
{
    const RecordEntry& disk = *FindRecord("MachineDiskInfo");
    std::vector<uint8_t> bytes(disk.size, 0);
    bytes[kPartCountAt] = 2;
    ASSERT_EQ(disk.read("{}", bytes.data()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + kPartBase, 4), Le32(220));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + kPartBase + 220, 4), Le32(220));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + kPartBase + 440, 4), Le32(0));
}

}  // namespace

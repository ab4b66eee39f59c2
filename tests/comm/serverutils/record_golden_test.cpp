// Golden tables by record group: bytes <-> exact compact JSON. Each case
// holds a record's bytes (zeros and patches) and the text it gives, whole or
// one member; a case read back checks the bytes a text stores.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/comm/serverutils/record_registry.h"
#include "util/json_writer.h"

namespace {

using record_test::FindRecord;
using record_test::Hex;
using record_test::RecordEntry;

struct Patch {
    unsigned offset;
    std::string bytes;
};

std::string Le(uint64_t v, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}
std::string Le16(uint64_t v)
{
    return Le(v, 2);
}
std::string Le32(uint64_t v)
{
    return Le(v, 4);
}
std::string Le64(uint64_t v)
{
    return Le(v, 8);
}
std::string Dbl(double v)
{
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
// A text field's bytes: the text and its NUL.
std::string T(const std::string& text)
{
    return text + '\0';
}
std::string Quoted(const std::string& text)
{
    return "\"" + text + "\"";
}
std::string Repeat(const std::string& part, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += part;
    return out;
}
// The JSON array [1,2,...,n], and the bytes of its first `slots` elements as u32.
std::string Counting(int n)
{
    std::string out = "[";
    for (int i = 1; i <= n; ++i)
        out += (i > 1 ? "," : "") + std::to_string(i);
    return out + "]";
}
std::string CountingSlots(int slots)
{
    std::string out;
    for (int i = 1; i <= slots; ++i)
        out += Le(static_cast<uint64_t>(i), 4);
    return out;
}

const std::string kGuid = Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10");
const std::string kGuidText = "04030201-0605-0807-090A-0B0C0D0E0F10";
const std::string kZeroGuidText = "00000000-0000-0000-0000-000000000000";
const std::string kZ = Quoted(kZeroGuidText);
const std::string kG = Quoted(kGuidText);

enum Way { kBoth, kWrite, kRead };

struct Golden {
    const char* name;
    const char* record;
    std::vector<Patch> before;  // the record before writing or reading
    std::vector<Patch> bytes;   // the bytes the text stands for
    const char* key;            // the member compared; null: the whole text
    std::string json;
    Way way;
};

std::vector<uint8_t> Bytes(const RecordEntry& entry, const std::vector<Patch>& a, const std::vector<Patch>& b = {})
{
    std::vector<uint8_t> out(entry.size, 0);
    for (const std::vector<Patch>* list : {&a, &b}) {
        for (const Patch& p : *list) {
            EXPECT_LE(p.offset + p.bytes.size(), out.size());
            memcpy(out.data() + p.offset, p.bytes.data(), p.bytes.size());
        }
    }
    return out;
}

std::vector<uint8_t> Apply(std::vector<uint8_t> base, const std::vector<Patch>& patches)
{
    for (const Patch& p : patches)
        memcpy(base.data() + p.offset, p.bytes.data(), p.bytes.size());
    return base;
}

Json::Value Parse(const std::string& text)
{
    Json::Value root;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, root)) << text;
    return root;
}

// The first differing byte, for a readable failure.
std::string FirstDifference(const std::vector<uint8_t>& want, const std::vector<uint8_t>& got)
{
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] != got[i])
            return "byte " + std::to_string(i) + ": want " + std::to_string(want[i]) + ", got " +
                   std::to_string(got[i]);
    }
    return "";
}

void PrintTo(const Golden& c, std::ostream* os)
{
    *os << c.record << " " << c.name;
}

class RecordGolden : public testing::TestWithParam<Golden>
{};

TEST_P(RecordGolden, BytesAndTextAgree)
{
    const Golden& c = GetParam();
    const RecordEntry* entry = FindRecord(c.record);
    ASSERT_NE(entry, nullptr) << c.record;
    if (c.way != kRead) {
        const std::vector<uint8_t> bytes = Bytes(*entry, c.before, c.bytes);
        const std::string text = entry->write(bytes.data());
        if (c.key == nullptr)
            EXPECT_EQ(text, c.json);
        else
            EXPECT_EQ(cv::toStyledString(Parse(text)[c.key]), c.json) << text;
    }
    if (c.way != kWrite) {
        const std::vector<uint8_t> start = Bytes(*entry, c.before);
        std::vector<uint8_t> base = start;
        ASSERT_EQ(entry->read("{}", base.data()), 0);
        const std::vector<uint8_t> want = Apply(base, c.bytes);
        const std::string input = c.key == nullptr ? c.json : "{\"" + std::string(c.key) + "\":" + c.json + "}";
        std::vector<uint8_t> got = start;
        ASSERT_EQ(entry->read(input.c_str(), got.data()), 0) << input;
        EXPECT_EQ(FirstDifference(want, got), "");
    }
}

std::string CaseName(const testing::TestParamInfo<Golden>& info)
{
    return info.param.name;
}

const std::vector<Golden> kService = {
    {"RunningStatusWhole",
     "ServiceRunningStatus",
     {},
     {{0, Le32(72)}, {4, kGuid}, {20, Le32(0xFFFFFFFF)}, {32, Le64(4294967296)}},
     nullptr,
     "{\"ActiveTaskCount\":0,\"CPUUsage\":0,\"Flags\":-1,\"LinkCount\":0,\"NetInSpeed\":0,\"NetOutSpeed\":0,"
     "\"RAMSize\":0,\"RAMUsage\":0,\"StatisticScore\":0,\"TimeStamp\":0,\"TotalNetSize\":0,"
     "\"TotalTaskCount\":4294967296,\"cbSize\":72,\"serviceGuid\":" +
         kG + "}",
     kBoth},
    {"ProcessRecordWhole",
     "ServiceProcessInfo",
     {},
     {{0, Le32(244)},
      {4, Le32(0x60020)},
      {8, Le32(0x200000)},
      {12, Hex("08 00 E3 03")},
      {16, Le32(1700000000)},
      {20, kGuid},
      {68, Le32(4242)},
      {72, Le32(1700000100)},
      {84, Hex("01 00 00 7F")},
      {108, Le32(40001)},
      {112, T("http://a/b")}},
     nullptr,
     "{\"AppFlags\":393248,\"BuildTime\":1700000000,"
     "\"InternetIPAddrList\":[\"0.0.0.0\",\"0.0.0.0\",\"0.0.0.0\",\"0.0.0.0\",\"0.0.0.0\"],"
     "\"InternetTCPPort\":0,\"InternetUDPPort\":0,\"InternetURL\":\"http://a/b\","
     "\"LocalIpAddrList\":[\"127.0.0.1\",\"0.0.0.0\",\"0.0.0.0\",\"0.0.0.0\",\"0.0.0.0\"],"
     "\"LocalTCPPort\":0,\"LocalUDPPort\":40001,\"NatIpAddr\":\"0.0.0.0\",\"ProcessId\":4242,\"SecureCode\":0,"
     "\"ServerId\":0,\"StartTime\":1700000100,\"SvrFlags\":2097152,\"cbSize\":244,\"machineGuid\":" +
         kG + ",\"serviceGuid\":" + kZ + ",\"ver\":{\"Develop\":995,\"Main\":8,\"Sub\":0},\"versionGuid\":" + kZ + "}",
     kBoth},
    {"ActiveLinkAlwaysWritesItsSize",
     "ServiceActiveLink",
     {},
     {{0, Le32(7)}},
     nullptr,
     "{\"Flags\":0,\"TimeStamp\":0,\"cbSize\":60,\"rootServerGuid\":" + kZ + ",\"serviceGuid\":" + kZ +
         ",\"sessionGuid\":" + kZ + "}",
     kWrite},
    {"AddressListOfFive",
     "ServiceProcessInfo",
     {},
     {{84, Hex("02 01 A8 C0 01 00 00 0A")}},
     "LocalIpAddrList",
     "[\"192.168.1.2\",\"10.0.0.1\",\"0.0.0.0\",\"0.0.0.0\",\"0.0.0.0\"]",
     kBoth},
    {"ThreeAddressesLeaveTheLastTwoSlots",
     "ServiceProcessInfo",
     {{84, std::string(20, '\xEE')}},
     {{84, Hex("04 03 02 01 08 07 06 05 0C 0B 0A 09")}},
     "LocalIpAddrList",
     "[\"1.2.3.4\",\"5.6.7.8\",\"9.10.11.12\"]",
     kRead},
    {"AddressElementOfOtherKindLeavesItsSlot",
     "ServiceProcessInfo",
     {{212, std::string(8, '\xEE')}},
     {{216, Hex("04 03 02 01")}},
     "InternetIPAddrList",
     "[7,\"1.2.3.4\"]",
     kRead},
    {"AllOnesAddress",
     "ServiceProcessInfo",
     {},
     {{240, Hex("FF FF FF FF")}},
     "NatIpAddr",
     "\"255.255.255.255\"",
     kBoth},
    {"VersionGroup",
     "ServiceProcessInfo",
     {},
     {{12, Hex("08 00 E3 03")}},
     "ver",
     "{\"Develop\":995,\"Main\":8,\"Sub\":0}",
     kBoth},
    {"FullWidthPasswordShowsItsFirst29",
     "RootServerAddr",
     {},
     {{140, std::string(30, 'p')}},
     "Password",
     Quoted(std::string(29, 'p')),
     kWrite},
    {"LongPasswordIsCutTo29",
     "RootServerAddr",
     {},
     {{140, T(std::string(29, 'p'))}},
     "Password",
     Quoted(std::string(40, 'p')),
     kRead},
    {"PortsAreU16",
     "RootServerAddr",
     {},
     {{200, Hex("FF FF")}, {236, Le16(8080)}},
     nullptr,
     "{\"Desc\":\"\",\"Flags\":0,\"InternetAddr\":\"\",\"InternetTCPPort\":0,\"InternetUDPPort\":8080,"
     "\"Password\":\"\",\"Priority\":0,\"ServerAddr\":\"\",\"TCPPort\":65535,\"UDPPort\":0,\"cbSize\":0,"
     "\"clusterGuid\":" +
         kZ + ",\"rootServerGuid\":" + kZ + "}",
     kWrite},
    {"TotalTaskCountFromDigits",
     "ServiceRunningStatus",
     {},
     {{32, Le64(8589934592)}},
     "TotalTaskCount",
     "\"8589934592\"",
     kRead},
    {"GlobalConfigU16", "GlobalServerConfig", {}, {{72, Le16(65535)}}, "CollectionPeriod", "65535", kBoth},
};
INSTANTIATE_TEST_SUITE_P(Service, RecordGolden, testing::ValuesIn(kService), CaseName);

const std::string kMacZero = "\"00-00-00-00-00-00\"";

// The disk record holds ten partition entries and ends with the tenth, so a
// count past ten must neither read nor write beyond it (the record's bytes
// are exactly its size: the address sanitizer sees a step past them). The
// writer gives the count as held and at most ten entries; the reader keeps
// at most ten and stores ten as the count; a count below 1 touches none.
unsigned PartAt(unsigned entry)
{
    return 364 + 220 * entry;
}

std::string WrittenPart(const std::string& name, unsigned size)
{
    return "{\"FreeSpace\":0,\"HDSize\":0,\"MountPath\":\"\",\"PartName\":\"" + name +
           "\",\"cbSize\":" + std::to_string(size) + "}";
}

// The whole text of a disk record that is zero but for its size, the count
// and partitions 0 and 9 named "first" and "last" (their sizes 220).
std::string DiskText(const std::string& count, bool parts)
{
    std::string text =
        "{\"DevName\":\"\",\"Flags\":0,\"FreeSpace\":0,\"HDSize\":0,\"MountPath\":\"\",\"PartCount\":" + count +
        ",\"Status\":0,\"Wwid\":\"\",\"cbSize\":2564,\"diskGuid\":" + kZ + ",\"machineGuid\":" + kZ;
    if (parts)
        text += ",\"partInfo\":[" + WrittenPart("first", 220) + "," + Repeat(WrittenPart("", 0) + ",", 8) +
                WrittenPart("last", 220) + "]";
    return text + "}";
}

const std::vector<Patch> kFirstAndLastPart = {
    {0, Le32(2564)},        {PartAt(0), Le32(220)},     {PartAt(0) + 4, T("first")},
    {PartAt(9), Le32(220)}, {PartAt(9) + 4, T("last")},
};

std::vector<Patch> WithCount(uint32_t count, std::vector<Patch> patches)
{
    patches.push_back({360, Le32(count)});
    return patches;
}

// The reader's text: the count and `entries` partitions named p0, p1, ...
std::string PartsToRead(const std::string& count, unsigned entries)
{
    std::string text = "{\"PartCount\":" + count;
    if (entries > 0) {
        text += ",\"partInfo\":[";
        for (unsigned j = 0; j < entries; ++j)
            text += (j ? ",{\"PartName\":\"p" : "{\"PartName\":\"p") + std::to_string(j) + "\"}";
        text += "]";
    }
    return text + "}";
}

// What the reader stores for `read` entries of PartsToRead: each sized 220,
// named when `named`.
std::vector<Patch> PartsRead(uint32_t count, unsigned read, bool named)
{
    std::vector<Patch> patches = {{360, Le32(count)}};
    for (unsigned j = 0; j < read; ++j) {
        patches.push_back({PartAt(j), Le32(220)});
        if (named)
            patches.push_back({PartAt(j) + 4, T("p" + std::to_string(j))});
    }
    return patches;
}

const std::vector<Golden> kMachine = {
    {"MacShowsItsSixHighBytes",
     "MachineBaseInfo",
     {},
     {{156, Hex("77 66 55 44 33 22 11 00")}},
     "MacAddr",
     "[\"00-11-22-33-44-55\"," + kMacZero + "," + kMacZero + "," + kMacZero + "," + kMacZero + "]",
     kWrite},
    {"MacReadsIntoTheSixHighBytes",
     "MachineBaseInfo",
     {},
     {{156, Hex("00 00 55 44 33 22 11 00")}},
     "MacAddr",
     "[\"00-11-22-33-44-55\"]",
     kRead},
    {"TwoMacsLeaveTheOtherSlots",
     "MachineBaseInfo",
     {{156, std::string(40, '\xEE')}},
     {{156, Hex("00 00 0F 0E 0D 0C 0B 0A 00 00 06 05 04 03 02 01")}},
     "MacAddr",
     "[\"0a-0b-0c-0d-0e-0f\",\"01-02-03-04-05-06\"]",
     kRead},
    {"CpuUsageAllBytes",
     "MachineRunningStatus",
     {},
     {{32, Hex("01 02 FF")}},
     "CPUUsage",
     "[1,2,255" + Repeat(",0", 29) + "]",
     kBoth},
    {"CpuUsageShortListZeroesTheRest",
     "MachineProcessInfo",
     {{28, std::string(32, '\xEE')}},
     {{28, Hex("2C 07 00") + std::string(29, '\0')}},
     "CPUUsage",
     "[300,\"7\",true]",
     kRead},
    {"CpuUsageLongListTakesTheFirst32",
     "MachineProcessInfo",
     {},
     {{28, Hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20")}},
     "CPUUsage",
     "[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,33,34,35,36,37,38,39,"
     "40]",
     kRead},
    {"CpuUsageNumberLeavesAllBytes", "MachineProcessInfo", {{28, std::string(32, '\xEE')}}, {}, "CPUUsage", "5", kRead},
    {"OnePartition",
     "MachineDiskInfo",
     {{360, Le32(1)}},
     {{364, Le32(220)}, {368, T("sda1")}, {468, Le64(1099511627776)}, {476, Le64(5)}, {484, T("/data")}},
     "partInfo",
     "[{\"FreeSpace\":5,\"HDSize\":1099511627776,\"MountPath\":\"/data\",\"PartName\":\"sda1\",\"cbSize\":220}]",
     kBoth},
    {"DiskSizes",
     "MachineDiskInfo",
     {},
     {{240, Le64(0xFFFFFFFFFFFFFFFF)}, {248, Le64(1ull << 62)}},
     "FreeSpace",
     "4611686018427387904",
     kWrite},
    // A number past the signed 64-bit range is no i64; its text goes through
    // strtoll, which gives the largest value it has.
    {"I64NumberAboveTheSignedRangeLeavesTheField",
     "MachineDiskInfo",
     {{240, Le64(5)}},
     {},
     "HDSize",
     "9223372036854775808",
     kRead},
    {"I64TextAboveTheSignedRangeStoresTheLargest",
     "MachineDiskInfo",
     {},
     {{240, Le64(0x7FFFFFFFFFFFFFFF)}},
     "HDSize",
     "\"9223372036854775808\"",
     kRead},
    {"CountElevenWritesTheTenEntries",
     "MachineDiskInfo",
     {},
     WithCount(11, kFirstAndLastPart),
     nullptr,
     DiskText("11", true),
     kWrite},
    {"LargestCountWritesTheTenEntries",
     "MachineDiskInfo",
     {},
     WithCount(0x7FFFFFFF, kFirstAndLastPart),
     nullptr,
     DiskText("2147483647", true),
     kWrite},
    {"NegativeCountWritesNoPartitions",
     "MachineDiskInfo",
     {},
     WithCount(0xFFFFFFFF, kFirstAndLastPart),
     nullptr,
     DiskText("-1", false),
     kWrite},
    {"SmallestCountWritesNoPartitions",
     "MachineDiskInfo",
     {},
     WithCount(0x80000000, kFirstAndLastPart),
     nullptr,
     DiskText("-2147483648", false),
     kWrite},
    {"CountElevenWithElevenEntriesReadsTen",
     "MachineDiskInfo",
     {},
     PartsRead(10, 10, true),
     nullptr,
     PartsToRead("11", 11),
     kRead},
    {"LargestCountWithTwelveEntriesReadsTen",
     "MachineDiskInfo",
     {},
     PartsRead(10, 10, true),
     nullptr,
     PartsToRead("2147483647", 12),
     kRead},
    {"LargeCountWithoutEntriesSizesTen",
     "MachineDiskInfo",
     {},
     PartsRead(10, 10, false),
     nullptr,
     PartsToRead("1000000", 0),
     kRead},
    {"NegativeCountIsKeptAndReadsNoEntry",
     "MachineDiskInfo",
     {},
     PartsRead(0xFFFFFFFF, 0, false),
     nullptr,
     PartsToRead("-1", 11),
     kRead},
    {"SmallestCountIsKeptAndReadsNoEntry",
     "MachineDiskInfo",
     {},
     PartsRead(0x80000000, 0, false),
     nullptr,
     PartsToRead("-2147483648", 11),
     kRead},
};
INSTANTIATE_TEST_SUITE_P(Machine, RecordGolden, testing::ValuesIn(kMachine), CaseName);

const std::vector<Golden> kLink = {
    {"ConnectLinkResultHasNoSizeKey",
     "ConnectLinkResult",
     {{0, Le32(5)}},
     {{40, Hex("02 01 A8 C0")}, {52, Le32(1500)}},
     nullptr,
     "{\"AppFlags\":0,\"AvgConnectTime\":1500,\"Flags\":0,\"IpAddr\":-1062731518,\"Port\":0,\"SecureCode\":0,"
     "\"ServerId\":0,\"SvrFlags\":0,\"TCP\":0,\"serviceGuid\":" +
         kZ + "}",
     kBoth},
    {"CoreServerConfigSkipsItsReservedBytes",
     "CoreServerConfig",
     {{24, std::string(16, '\xAA')}, {52, std::string(8, '\xAA')}},
     {{4, Le32(1)}, {40, Le32(2)}, {44, Le32(1400)}, {48, Le32(3)}, {60, Le32(4)}},
     nullptr,
     "{\"AppFlags\":2,\"Flags\":1,\"MTUSize\":1400,\"StreamTransMode\":3,\"VideoReportInterval\":4,\"appGuid\":" + kZ +
         "}",
     kBoth},
    {"PreConnectParamWhole",
     "PreConnectParam",
     {{18, std::string(40, '\xAA')}},
     {{8, Le16(1)}, {16, Le16(9)}},
     nullptr,
     "{\"Flags\":0,\"LBServerTimeOutTime\":0,\"LinkTestTimeOutTime\":1,\"MaxConnectPerServer\":0,"
     "\"MaxConnectPerTime\":0,\"Policy\":9}",
     kBoth},
    {"PolicyKeepsItsLow16Bits", "PreConnectParam", {}, {{16, Hex("01 00")}}, "Policy", "65537", kRead},
    {"ObjectUnderATextKeyIsStoredAsCompactText",
     "BufferTransHdr",
     {},
     {{48, T("{\"a\":\"x\",\"b\":[1,2]}")}},
     "StrParam",
     "{ \"b\" : [1, 2], \"a\" : \"x\" }",
     kRead},
    {"StrParamIsCutTo1023",
     "BufferTransHdr",
     {},
     {{48, T(std::string(1023, 'x'))}},
     "StrParam",
     Quoted(std::string(2000, 'x')),
     kRead},
    // Copied as a C text: the NUL ends it, the old bytes after it stay.
    {"TextEndsAtAnEmbeddedNul",
     "BufferTransHdr",
     {{48, std::string(1024, '\xEE')}},
     {{48, T("ab")}, {1071, T("")}},
     "StrParam",
     "\"ab\\u0000cd\"",
     kRead},
    {"EscapedTextReadsBack",
     "BufferTransHdr",
     {},
     {{48, T("a\"b\\c\r\n\x01\xE4\xB8\xAD")}},
     "StrParam",
     "\"a\\\"b\\\\c\\r\\n\\u0001\xE4\xB8\xAD\"",
     kBoth},
};
INSTANTIATE_TEST_SUITE_P(Link, RecordGolden, testing::ValuesIn(kLink), CaseName);

std::vector<Patch> OldBindSlots()
{
    std::vector<Patch> slots;
    for (unsigned i = 0; i < 20; ++i)
        slots.push_back({28 + 400 * i, T("old" + std::to_string(i))});
    return slots;
}

const std::vector<Golden> kApplication = {
    {"GopSizeIsWrittenWideAndReadsBack",
     "AppConfigInfo",
     {},
     {{88, Hex("FF FF FF FF")}},
     "VideoGopSize",
     "4294967295",
     kBoth},
    {"GopSizeFromText", "AppConfigInfo", {}, {{88, Le32(25)}}, "VideoGopSize", "\"25\"", kRead},
    {"GopSizeAbove32BitsLeavesTheField", "AppConfigInfo", {{88, Le32(25)}}, {}, "VideoGopSize", "4294967296", kRead},
    {"GopSizeTextAbove32BitsKeepsItsLow32Bits",
     "AppConfigInfo",
     {},
     {{88, Le32(25)}},
     "VideoGopSize",
     "\"4294967321\"",
     kRead},
    {"OtherU32IsNegative", "AppConfigInfo", {}, {{92, Hex("FF FF FF FF")}}, "VideoQuality", "-1", kBoth},
    {"PayFigures",
     "AppConfigInfo",
     {},
     {{556, Le64(1ull << 40)}, {580, Le64(0x8000000000000000ull)}},
     "OCRPayCounts",
     "-9223372036854775808",
     kWrite},
    {"LossRate", "AppRunningStatus", {}, {{72, Dbl(0.25)}}, "VideoMaxPackLossRate", "0.25", kBoth},
    {"UnalignedDouble", "AppRunningStatus", {}, {{92, Dbl(1.5)}}, "VideoAvgPauseNum", "1.5", kBoth},
    {"TenthIsWrittenWith17Digits",
     "AppRunningStatus",
     {},
     {{80, Dbl(0.1)}},
     "VideoAvgPackLossRate",
     "0.10000000000000001",
     kBoth},
    {"IntegerIntoDouble", "AppRunningStatus", {}, {{80, Dbl(3.0)}}, "VideoAvgPackLossRate", "3", kBoth},
    {"TextIntoDouble", "AppRunningStatus", {}, {{80, Dbl(0.5)}}, "VideoAvgPackLossRate", "\"0.5\"", kRead},
    {"BindInfoIsPacked",
     "AppServerBindInfo",
     {},
     {{428, T("one")}, {2028, T("five")}},
     "BindInfo",
     "[\"one\",\"five\"]",
     kWrite},
    {"BindInfoReplacesTheFirstSlotsOnly",
     "AppServerBindInfo",
     OldBindSlots(),
     {{28, T("one")}, {428, T("five")}},
     "BindInfo",
     "[\"one\",\"five\"]",
     kRead},
    {"BindInfoObjectStoredNumberLeft",
     "AppServerBindInfo",
     {{428, T("old")}},
     {{28, T("{\"z\":1}")}},
     "BindInfo",
     "[{\"z\":1},5]",
     kRead},
    {"BindInfoSlotIsCutTo399",
     "AppServerBindInfo",
     {},
     {{28, T(std::string(399, 'b'))}},
     "BindInfo",
     "[" + Quoted(std::string(450, 'b')) + "]",
     kRead},
    {"BindInfoThatIsNoArrayChangesNothing", "AppServerBindInfo", {{28, T("old")}}, {}, "BindInfo", "\"new\"", kRead},
    {"CountIsCarriedAlone", "AppServerBindInfo", {{28, T("a")}}, {{24, Le32(7)}}, "Count", "7", kBoth},
    {"ServerAppRelateHasNoSize",
     "ServerAppRelate",
     {{0, Le32(99)}},
     {{20, kGuid}, {36, Le32(0x200000)}, {40, Le32(3)}, {44, Le32(1)}},
     nullptr,
     "{\"Priority\":1,\"SvrFlags\":2097152,\"Weight\":3,\"appGuid\":" + kZ + ",\"serviceGuid\":" + kG + "}",
     kBoth},
};
INSTANTIATE_TEST_SUITE_P(Application, RecordGolden, testing::ValuesIn(kApplication), CaseName);

const std::string kGuidB = Hex("11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20");
const std::string kGuidBText = Quoted("14131211-1615-1817-191A-1B1C1D1E1F20");

std::vector<Patch> OldGuidSlots()
{
    return {{20, std::string(160, '\xEE')}};
}

const std::vector<Golden> kConfiguration = {
    {"GuidListEndsAtTheFirstZeroGuid",
     "LiveUpdateVersion",
     {},
     {{20, kGuid}, {36, kGuidB}, {68, kGuid}},
     "serviceGuidList",
     "[" + kG + "," + kGuidBText + "]",
     kWrite},
    {"GuidListReplacesOnlyWhatIsGiven",
     "LiveUpdateVersion",
     OldGuidSlots(),
     {{20, kGuid}, {52, std::string(16, '\0')}},
     "serviceGuidList",
     "[" + kG + ",5,\"xyz\"]",
     kRead},
    {"Version3_2_1017",
     "LiveUpdateVersion",
     {},
     {{188, Hex("03 02 F9 03")}},
     "ver",
     "{\"Develop\":1017,\"Main\":3,\"Sub\":2}",
     kBoth},
    {"VersionMainKeepsItsLowByte", "LiveUpdateVersion", {}, {{188, Hex("2C")}}, "ver", "{\"Main\":300}", kRead},
    {"VersionTakesNoText", "LiveUpdateVersion", {{188, Hex("09")}}, {}, "ver", "{\"Main\":\"3\"}", kRead},
    {"NullVersionChangesNothing", "LiveUpdateVersion", {{188, Hex("09")}}, {}, "ver", "null", kRead},
    {"ModuleGroupsEndAtTheFirstZero",
     "UserRoleInfo",
     {},
     {{640, Le32(7) + Le32(9)}, {652, Le32(4)}},
     "ModuleGroups",
     "[7,9]",
     kWrite},
    {"ModuleGroupsMixedElements",
     "UserRoleInfo",
     {{640, std::string(4000, '\xEE')}},
     {{640, Le32(4) + Le32(12) + std::string(3992, '\0')}},
     "ModuleGroups",
     "[4,\"12\",true]",
     kRead},
    {"ModuleGroupsOf1200FillTheThousandSlots",
     "UserRoleInfo",
     {{640, std::string(4000, '\xEE')}},
     {{640, CountingSlots(1000)}},
     "ModuleGroups",
     Counting(1200),
     kRead},
    {"UserNameIsCutTo29",
     "OperatorUserConfig",
     {},
     {{36, T(std::string(29, 'u'))}},
     "UserName",
     Quoted(std::string(40, 'u')),
     kRead},
    {"LockFieldsBeforeTheDates",
     "OperatorUserConfig",
     {},
     {{2320, Le32(1)}, {2324, Le32(2)}, {2328, Le32(3)}, {2332, Le32(4)}},
     "WrongTimes",
     "2",
     kWrite},
    {"CloudServerConfigTexts",
     "CloudServerConfig",
     {},
     {{1648, T(std::string(49, 'f'))}},
     "FileProcLibName",
     Quoted(std::string(49, 'f')),
     kBoth},
};
INSTANTIATE_TEST_SUITE_P(Configuration, RecordGolden, testing::ValuesIn(kConfiguration), CaseName);

const std::vector<Golden> kCluster = {
    {"ClusterFlagsComeBeforeTheGuid",
     "ClusterBaseInfo",
     {},
     {{0, Le32(440)}, {4, Le32(1)}, {8, kGuid}},
     nullptr,
     "{\"CityName\":\"\",\"ClusterDesc\":\"\",\"ClusterName\":\"\",\"Flags\":1,\"carrierGuid\":" + kZ +
         ",\"cbSize\":440,\"clusterGuid\":" + kG + "}",
     kBoth},
    {"BusinessObjectWritesItsSize", "BusinessObject", {}, {}, "cbSize", "16428", kWrite},
    {"BusinessObjectValueWritesItsSize", "BusinessObjectValue", {{0, Le32(1)}}, {}, "cbSize", "4536", kWrite},
    {"RoomServiceWritesItsSize", "RoomServiceInfo", {{0, Le32(7)}}, {}, "cbSize", "344", kWrite},
    {"SkillGroupsEndAtTheFirstZero",
     "BusinessObjectValue",
     {},
     {{484, Le32(5) + Le32(6) + Le32(0) + Le32(8)}},
     "SkillGroups",
     "[5,6]",
     kWrite},
    {"EmptySkillGroupsAreAZero", "BusinessObjectValue", {}, {}, "SkillGroups", "[0]", kWrite},
    {"EmptyQueueGroupsAreAZero", "BusinessObjectValue", {}, {}, "QueueGroups", "[0]", kWrite},
    {"SkillGroupsOf150FillTheHundredSlotsAndLeaveTheQueues",
     "BusinessObjectValue",
     {{484, std::string(2000, '\xEE')}},
     {{484, CountingSlots(100)}},
     "SkillGroups",
     Counting(150),
     kRead},
    {"QueueGroupsMixedElements",
     "BusinessObjectValue",
     {{884, std::string(1600, '\xEE')}},
     {{884, Le32(3) + Le32(4) + std::string(1592, '\0')}},
     "QueueGroups",
     "[3,\"4\",null]",
     kRead},
    {"QueueGroupsThatAreANumberChangeNothing",
     "BusinessObjectValue",
     {{884, std::string(1600, '\xEE')}},
     {},
     "QueueGroups",
     "3",
     kRead},
    {"RoomAddressIsANumber", "RoomServiceInfo", {}, {{332, Hex("02 01 A8 C0")}}, "IpAddr", "-1062731518", kBoth},
    {"RoomAddressTextGivesItsLeadingDigits", "RoomServiceInfo", {}, {{332, Le32(10)}}, "IpAddr", "\"10.1.2.3\"", kRead},
    {"ObjectValueIsCutTo16383",
     "BusinessObject",
     {},
     {{44, T(std::string(16383, 'o'))}},
     "ObjectValue",
     Quoted(std::string(17000, 'o')),
     kRead},
    {"CarrierWhole",
     "CarrierCompanyInfo",
     {},
     {{0, Le32(324)}, {20, Le32(2)}, {24, T("c")}},
     nullptr,
     "{\"CarrierDesc\":\"\",\"CarrierName\":\"c\",\"SecurityLevel\":2,\"carrierGuid\":" + kZ + ",\"cbSize\":324}",
     kBoth},
};
INSTANTIATE_TEST_SUITE_P(Cluster, RecordGolden, testing::ValuesIn(kCluster), CaseName);

const std::vector<Golden> kQuery = {
    {"FinishWhole",
     "QueryFinish",
     {},
     {{0, Le32(24)}, {20, Hex("FF FF FF FF")}},
     nullptr,
     "{\"ErrorCode\":-1,\"cbSize\":24,\"queryGuid\":" + kZ + "}",
     kBoth},
    {"ResultCountFromDigits",
     "QueryResult",
     {{4, kGuid}, {20, Le32(9)}},
     {{24, Le32(12)}},
     nullptr,
     "{\"TotalCount\":\"12\"}",
     kRead},
    {"ContentResultAndContentDifferInTheirKeys",
     "QueryContent",
     {},
     {{0, Le32(28)}, {20, Le32(1)}, {24, Le32(2)}},
     nullptr,
     "{\"SeqNoBegin\":1,\"SeqNoEnd\":2,\"cbSize\":28,\"queryGuid\":" + kZ + "}",
     kBoth},
    {"ContentObjectIsStoredAsCompactText",
     "QueryContentLog",
     {},
     {{56, T("{\"k\":[true,null]}")}},
     "Content",
     "{\"k\":[true, null]}",
     kRead},
    {"MatchKeyIsCutTo2047",
     "QueryConditionLog",
     {},
     {{56, T(std::string(2047, 'm'))}},
     "MatchKey",
     Quoted(std::string(3000, 'm')),
     kRead},
    {"SizeKeyIsNeverRead", "QueryContentLog", {}, {}, nullptr, "{\"cbSize\":5}", kRead},
};
INSTANTIATE_TEST_SUITE_P(Query, RecordGolden, testing::ValuesIn(kQuery), CaseName);

const std::vector<Golden> kStorage = {
    {"SpaceOf2To40", "StorageGroupStatusInfo", {}, {{28, Le64(1ull << 40)}}, "HDTotalSpace", "1099511627776", kBoth},
    {"FreeSpaceFromDigits",
     "StorageStatusInfo",
     {},
     {{56, Le64(8589934592)}},
     nullptr,
     "{\"FreeSpace\":\"8589934592\"}",
     kRead},
    {"VersionIsCutTo49",
     "StorageNodeBaseInfo",
     {},
     {{140, T(std::string(49, 'v'))}},
     "Version",
     Quoted(std::string(60, 'v')),
     kRead},
    {"PortsFromNumberAndText",
     "StorageGroupBaseInfo",
     {},
     {{1148, Le32(9000)}, {1152, Le32(8080)}},
     nullptr,
     "{\"HTTPPort\":8080,\"NativePort\":\"9000\"}",
     kRead},
    {"NegativeSpeedIsTwosComplement",
     "StorageRunningStatus",
     {},
     {{24, Hex("FB FF FF FF")}},
     "NetInSpeed",
     "-5",
     kBoth},
    {"NodeStatusWhole",
     "StorageNodeStatusInfo",
     {},
     {{0, Le32(76)}, {20, Le32(1)}, {56, Le64(3)}, {72, Le32(9)}},
     nullptr,
     "{\"FileCount\":3,\"FreeSpace\":0,\"HDTotalSpace\":0,\"JoinTime\":0,\"NetInSpeed\":0,\"NetOutSpeed\":9,"
     "\"TimeStamp\":0,\"TotalSpace\":0,\"UpdateTime\":0,\"WorkStatus\":1,\"cbSize\":76,\"nodeGuid\":" +
         kZ + "}",
     kBoth},
};
INSTANTIATE_TEST_SUITE_P(Storage, RecordGolden, testing::ValuesIn(kStorage), CaseName);

const std::vector<Golden> kStatistics = {
    {"AddressIsAPlainNumber",
     "ClientSessionStatisticInfo",
     {},
     {{468, Hex("C0 A8 01 02")}},
     "LocalIpAddr",
     "33663168",
     kBoth},
    {"UnalignedFieldsAfterTheMacText",
     "ClientSessionStatisticInfo",
     {},
     {{472, T("AA-BB")}, {502, Le32(1)}},
     "UdpActive",
     "1",
     kWrite},
    {"SdkVersionIsCutTo9",
     "ClientSessionStatisticInfo",
     {},
     {{750, T(std::string(9, 's'))}},
     "SDKVersion",
     Quoted(std::string(12, 's')),
     kRead},
    {"TaskWritesItsEighteenKeys",
     "RecordTaskParam",
     {{68, std::string(16, '\xAA')}, {84, Le32(77)}},
     {{0, Le32(1)}, {88, T("abc")}},
     nullptr,
     "{\"AudioBitrate\":0,\"Channels\":0,\"ClipMode\":0,\"FileNameRule\":0,\"FileType\":0,\"Flags\":0,\"Fps\":0,"
     "\"Height\":0,\"OwnerUserId\":0,\"Param\":0,\"RoomId\":0,\"SamplePerSec\":0,\"StreamIndex\":0,"
     "\"UserStr\":\"abc\",\"Version\":1,\"VideoBitrate\":0,\"VideoCodecId\":0,\"Width\":0}",
     kWrite},
    {"UserStrSetsItsLength",
     "RecordTaskParam",
     {{84, Le32(77)}},
     {{84, Le32(3)}, {88, T("abc")}},
     "UserStr",
     "\"abc\"",
     kRead},
    {"LongUserStrIsCutTo2047",
     "RecordTaskParam",
     {},
     {{84, Le32(2047)}, {88, T(std::string(2047, 'u'))}},
     "UserStr",
     Quoted(std::string(3000, 'u')),
     kRead},
    {"AiResourceFromDigits",
     "AIResourceInfo",
     {},
     {{1780, Le32(20)}, {1784, Le64(3600)}},
     nullptr,
     "{\"QPS\":\"20\",\"PaySeconds\":\"3600\"}",
     kRead},
    {"MediaDelayBuckets",
     "MediaStatisticInfo",
     {},
     {{548, Le32(5)}, {584, Le32(6)}},
     "VideoDelayLargePack",
     "6",
     kWrite},
};
INSTANTIATE_TEST_SUITE_P(Statistics, RecordGolden, testing::ValuesIn(kStatistics), CaseName);

// One u32 field under every kind of JSON value: what it stores, or -1 for
// "left as it was".
TEST(RecordReaderRules, IntegerFieldTakesWholeSigned32NumbersAndDecimalTexts)
{
    struct Case {
        const char* value;
        int64_t stored;
    };
    const Case cases[] = {
        {"5", 5},
        {"5.0", 5},
        {"5.5", -1},
        {"-1", 0xFFFFFFFF},
        {"2147483647", 0x7FFFFFFF},
        {"-2147483648", 0x80000000},
        {"4294967295", -1},
        {"\"4294967295\"", 0xFFFFFFFF},
        {"\"12\"", 12},
        {"\"12ab\"", 12},
        {"\"ab\"", 0},
        {"\"\"", 0},
        {"\" -3\"", 0xFFFFFFFD},
        {"true", -1},
        {"null", -1},
        {"[1]", -1},
        {"{\"a\":1}", -1},
    };
    const RecordEntry& entry = *FindRecord("QueryFinish");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::vector<uint8_t> bytes(entry.size, 0x77);
        const std::string text = std::string("{\"ErrorCode\":") + c.value + "}";
        ASSERT_EQ(entry.read(text.c_str(), bytes.data()), 0);
        uint32_t field = 0;
        memcpy(&field, bytes.data() + 20, 4);
        EXPECT_EQ(field, c.stored < 0 ? 0x77777777u : static_cast<uint32_t>(c.stored));
    }
}

TEST(RecordReaderRules, OtherKindsLeaveTheirFields)
{
    // A text, a GUID, an address, a 64-bit and a real field under values their rules do not take.
    struct Case {
        const char* record;
        const char* key;
        unsigned offset;
        unsigned width;
    };
    const Case fields[] = {
        {"BufferTransHdr", "StrParam", 48, 1024},        {"QueryFinish", "queryGuid", 4, 16},
        {"ServiceProcessInfo", "NatIpAddr", 240, 4},     {"StorageStatusInfo", "FreeSpace", 56, 8},
        {"AppRunningStatus", "VideoAvgPauseNum", 92, 8},
    };
    const char* const values[] = {"true", "null", "[1]", "{\"a\":1}", "1.5", "7"};
    for (const Case& f : fields) {
        for (const char* value : values) {
            const bool taken = (strcmp(f.key, "StrParam") == 0 && value[0] == '{') ||
                               (strcmp(f.key, "FreeSpace") == 0 && strcmp(value, "7") == 0) ||
                               (strcmp(f.key, "VideoAvgPauseNum") == 0 && (value[0] == '1' || value[0] == '7'));
            if (taken)
                continue;
            SCOPED_TRACE(std::string(f.key) + " " + value);
            const RecordEntry& entry = *FindRecord(f.record);
            std::vector<uint8_t> bytes(entry.size, 0x77);
            const std::string text = std::string("{\"") + f.key + "\":" + value + "}";
            ASSERT_EQ(entry.read(text.c_str(), bytes.data()), 0);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + f.offset, f.width),
                      std::string(f.width, '\x77'));
        }
    }
}

// What a text leaves in the record when reading stops: the result and the
// bytes (the record before, with these patches).
struct StopCase {
    const char* name;
    const char* record;
    std::vector<Patch> before;
    const char* json;
    int result;
    std::vector<Patch> after;
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.record << " " << c.name;
}

class RecordReaderStops : public testing::TestWithParam<StopCase>
{};

TEST_P(RecordReaderStops, KeepsWhatWasReadBefore)
{
    const StopCase& c = GetParam();
    const RecordEntry& entry = *FindRecord(c.record);
    std::vector<uint8_t> bytes = Bytes(entry, c.before);
    for (uint8_t& b : bytes)
        b = b == 0 ? 0x33 : b;
    const std::vector<uint8_t> want = Apply(bytes, c.after);
    EXPECT_EQ(entry.read(c.json, bytes.data()), c.result);
    EXPECT_EQ(FirstDifference(want, bytes), "");
}

std::string StopName(const testing::TestParamInfo<StopCase>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordReaderStops,
    testing::Values(
        StopCase{"NotJsonLeavesTheRecord", "QueryFinish", {}, "{\"ErrorCode\":", -1, {}},
        StopCase{"EmptyTextIsNotJson", "QueryFinish", {}, "", -1, {}},
        StopCase{"NullTextGivesFive", "QueryFinish", {}, nullptr, 5, {}},
        StopCase{"ArrayRootSetsTheSizeOnly", "QueryFinish", {}, "[1]", 5, {{0, Le32(24)}}},
        StopCase{"NumberRootSetsTheSizeOnly", "AIResourceInfo", {}, "7", 5, {{0, Le32(2840)}}},
        StopCase{"NullRootReadsNothing", "QueryFinish", {}, "null", 0, {{0, Le32(24)}}},
        StopCase{"RecordWithoutSizeGivesFiveUntouched", "MediaStatisticInfo", {}, "[1]", 5, {}},
        StopCase{"VersionThatIsNoObject",
                 "LiveUpdateVersion",
                 {},
                 "{\"Flags\":1,\"ver\":5,\"Title\":\"a\"}",
                 5,
                 {{0, Le32(1092)}, {180, Le32(1)}}},
        StopCase{"AddressListThatIsAString",
                 "ServiceProcessInfo",
                 {},
                 "{\"AppFlags\":5,\"LocalIpAddrList\":\"x\",\"LocalTCPPort\":9}",
                 5,
                 {{0, Le32(244)}, {4, Le32(5)}}},
        StopCase{"NullAddressListReadsOn",
                 "ServiceProcessInfo",
                 {},
                 "{\"LocalIpAddrList\":null,\"LocalTCPPort\":9}",
                 0,
                 {{0, Le32(244)}, {104, Le32(9)}}},
        StopCase{"MacListThatIsAnObject",
                 "MachineBaseInfo",
                 {},
                 "{\"Flags\":3,\"MacAddr\":{\"a\":1},\"CityName\":\"c\"}",
                 5,
                 {{0, Le32(1096)}, {36, Le32(3)}}},
        StopCase{"PartitionThatIsANumber",
                 "MachineDiskInfo",
                 {},
                 "{\"PartCount\":2,\"partInfo\":[{\"PartName\":\"a\"},7]}",
                 5,
                 {{0, Le32(2564)}, {360, Le32(2)}, {364, Le32(220)}, {368, T("a")}, {467, T("")}, {584, Le32(220)}}},
        // The first entry is sized before its element is looked up, and the lookup throws.
        StopCase{"PartitionListThatIsAString",
                 "MachineDiskInfo",
                 {},
                 "{\"PartCount\":2,\"partInfo\":\"x\"}",
                 5,
                 {{0, Le32(2564)}, {360, Le32(2)}, {364, Le32(220)}}},
        StopCase{"TaskLengthStaysOnAThrow", "RecordTaskParam", {}, "[1]", 5, {}}),
    StopName);

}  // namespace

#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "comm/serverutils/server_utils.h"

namespace {

_GUID MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, std::initializer_list<uint8_t> d4)
{
    _GUID g;
    g.Data1 = d1;
    g.Data2 = d2;
    g.Data3 = d3;
    std::copy(d4.begin(), d4.end(), g.Data4);
    return g;
}

bool SameGuid(const _GUID& a, const _GUID& b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

const _GUID kSample = MakeGuid(0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10});
const _GUID kJunk = MakeGuid(0x77777777, 0x7777, 0x7777, {7, 7, 7, 7, 7, 7, 7, 7});

TEST(GuidText, GuidToJsonWritesUpperCaseTextUnderTheKey)
{
    char buf[100];
    EXPECT_STREQ(CServerUtils::Guid2Json(kSample, "serviceGuid", buf, sizeof buf),
                 "{\"serviceGuid\":\"0123ABCD-4567-89EF-FEDC-BA9876543210\"}");
    _GUID zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_STREQ(CServerUtils::Guid2Json(zero, "g", buf, sizeof buf),
                 "{\"g\":\"00000000-0000-0000-0000-000000000000\"}");
}

TEST(GuidText, GuidToJsonCutsToTheBufferAndLeavesBadArgumentsAlone)
{
    char buf[10];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(CServerUtils::Guid2Json(kSample, "serviceGuid", buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "{\"service");

    char untouched[4] = {'a', 'b', 'c', '\0'};
    EXPECT_EQ(CServerUtils::Guid2Json(kSample, nullptr, untouched, sizeof untouched), untouched);
    EXPECT_STREQ(untouched, "abc");
    EXPECT_EQ(CServerUtils::Guid2Json(kSample, "k", nullptr, 10), nullptr);
    EXPECT_EQ(CServerUtils::Guid2Json(kSample, "k", untouched, 0), untouched);
    EXPECT_STREQ(untouched, "abc");
}

struct GuidReadCase {
    const char* name;
    const char* json;
    int result;
    bool changed;  // false: the GUID keeps kJunk
    _GUID expected;
};

void PrintTo(const GuidReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class JsonToGuid : public testing::TestWithParam<GuidReadCase>
{};

TEST_P(JsonToGuid, ReadsTheMemberUnderTheKey)
{
    const GuidReadCase& c = GetParam();
    _GUID g = kJunk;
    EXPECT_EQ(CServerUtils::Json2Guid(c.json, "k", g), c.result);
    EXPECT_TRUE(SameGuid(g, c.changed ? c.expected : kJunk));
}

const _GUID kZeroGuid = MakeGuid(0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0});

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonToGuid,
    testing::Values(
        GuidReadCase{"UpperCase", "{\"k\":\"0123ABCD-4567-89EF-FEDC-BA9876543210\"}", 0, true, kSample},
        GuidReadCase{"LowerCase", "{\"k\":\"0123abcd-4567-89ef-fedc-ba9876543210\"}", 0, true, kSample},
        GuidReadCase{"LeadingBlanksAndTail", "{\"k\":\"  0123abcd-4567-89ef-fedc-ba9876543210zz\"}", 0, true, kSample},
        GuidReadCase{"NotGuidTextStoresZero", "{\"k\":\"xyz\"}", 0, true, kZeroGuid},
        GuidReadCase{"PartialTextKeepsTheMatchedParts", "{\"k\":\"12345678-9ABC-zz\"}", 0, true,
                     MakeGuid(0x12345678, 0x9ABC, 0, {0, 0, 0, 0, 0, 0, 0, 0})},
        GuidReadCase{"ShortPartsReadAsNumbers", "{\"k\":\"1-2-3-4455-66778899AABB\"}", 0, true,
                     MakeGuid(1, 2, 3, {0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB})},
        GuidReadCase{"NumberLeavesIt", "{\"k\":5}", 0, false, kZeroGuid},
        GuidReadCase{"MissingLeavesIt", "{\"other\":\"0123ABCD-4567-89EF-FEDC-BA9876543210\"}", 0, false, kZeroGuid},
        GuidReadCase{"NotJson", "{\"k\":", -1, false, kZeroGuid},
        GuidReadCase{"NullText", nullptr, -1, false, kZeroGuid},
        GuidReadCase{"ArrayRootThrows", "[1]", 5, false, kZeroGuid},
        GuidReadCase{"NumberRootThrows", "7", 5, false, kZeroGuid}),
    [](const testing::TestParamInfo<GuidReadCase>& info) { return std::string(info.param.name); });

TEST(GuidText, NullKeyIsRefused)
{
    _GUID g = kJunk;
    EXPECT_EQ(CServerUtils::Json2Guid("{\"k\":\"0123ABCD-4567-89EF-FEDC-BA9876543210\"}", nullptr, g), -1);
    EXPECT_TRUE(SameGuid(g, kJunk));
}

TEST(GuidText, TextWrittenReadsBackForEveryByteValue)
{
    for (int b = 0; b < 256; ++b) {
        const uint8_t v = static_cast<uint8_t>(b);
        const _GUID in = MakeGuid(0x01010101u * v, static_cast<uint16_t>(v * 0x101), static_cast<uint16_t>(v),
                                  {v, static_cast<uint8_t>(~v), v, 0, 0xFF, v, 1, v});
        char buf[100];
        CServerUtils::Guid2Json(in, "k", buf, sizeof buf);
        _GUID out = kJunk;
        ASSERT_EQ(CServerUtils::Json2Guid(buf, "k", out), 0) << buf;
        ASSERT_TRUE(SameGuid(in, out)) << buf;
    }
}

struct TypeNameCase {
    unsigned flags;
    const char* name;
    const char* detail;
};

TEST(ServerTypes, FirstFlagSetNamesTheServer)
{
    const TypeNameCase cases[] = {
        {0x1, "corvanerootserver", "corvanerootdetail"},
        {0x3, "corvanerootserver", "corvanerootdetail"},
        {0x8, "corvanemediaserver", "corvanemediadetail"},
        {0x40000, "corvanerecordproxy", "corvanerecordproxy"},
        {0x200000, "corvanewebrtcgwserver", "corvanewebrtcgwdetail"},
        {0x400000, "corvanegeneralserver", "corvanegeneraldetail"},
        {0x800000, "corvanestoragemonitor", "corvanestoragemonitor"},
        {0x2000000, "corvanestorageserver", "corvanestoragedetail"},
        {0x4000000, "corvanestorageaccess", "corvaneserverdetail"},
        // The storage access flag comes before the storage monitor, manager and server...
        {0x6000000, "corvanestorageaccess", "corvanestoragedetail"},
        {0x4800000, "corvanestorageaccess", "corvanestoragemonitor"},
        // ...but after every flag below them.
        {0x4400000, "corvanegeneralserver", "corvanegeneraldetail"},
        {0x8000000, "corvaneaccessgateway", "corvaneaccessgateway"},
        {0x10000000, "corvaneroomserver", "corvaneroomdetail"},
        {0x20000000, "corvaneaiserver", "corvaneaidetail"},
        {0x40000000, "corvaneaiagent", "corvaneaiagentdetail"},
        {0xC0000000, "corvaneaiagent", "corvaneaiagentdetail"},
    };
    for (const TypeNameCase& c : cases) {
        SCOPED_TRACE(c.flags);
        EXPECT_STREQ(CServerUtils::GetServerType(c.flags), c.name);
        EXPECT_STREQ(CServerUtils::GetServerDetailName(static_cast<int>(c.flags)), c.detail);
    }
}

TEST(ServerTypes, NoFlagGivesTheUnknownText)
{
    EXPECT_STREQ(CServerUtils::GetServerType(0x80000000u), "unknow server(flags:0x80000000)");
    EXPECT_STREQ(CServerUtils::GetServerType(0u), "unknow server(flags:0x0)");
    EXPECT_STREQ(CServerUtils::GetServerDetailName(0), "corvaneserverdetail");
    EXPECT_STREQ(CServerUtils::GetServerDetailName(static_cast<int>(0x80000000u)), "corvaneserverdetail");
}

TEST(ServerTypes, UnknownTextIsTheCallingThreadsOwn)
{
    const char* mine = CServerUtils::GetServerType(0u);
    std::string other;
    std::thread t([&other] {
        const char* text = CServerUtils::GetServerType(0x80000000u);
        other = text;
    });
    t.join();
    EXPECT_EQ(other, "unknow server(flags:0x80000000)");
    EXPECT_STREQ(mine, "unknow server(flags:0x0)");
}

TEST(ServerTypes, NameGivesItsFlagInAnyCase)
{
    EXPECT_EQ(CServerUtils::GetServerType("corvanerootserver"), 0x1u);
    EXPECT_EQ(CServerUtils::GetServerType("CorvaneRootSERVER"), 0x1u);
    EXPECT_EQ(CServerUtils::GetServerType("corvanewebrtcgwserver"), 0x200000u);
    EXPECT_EQ(CServerUtils::GetServerType("corvanestorageaccess"), 0x4000000u);
    EXPECT_EQ(CServerUtils::GetServerType("corvaneaiagent"), 0x40000000u);
    EXPECT_EQ(CServerUtils::GetServerType("rootserver"), 0xFFFFFFFFu);
    EXPECT_EQ(CServerUtils::GetServerType("corvanerootdetail"), 0xFFFFFFFFu);
    EXPECT_EQ(CServerUtils::GetServerType(""), 0xFFFFFFFFu);
    EXPECT_EQ(CServerUtils::GetServerType(static_cast<const char*>(nullptr)), 0xFFFFFFFFu);
}

TEST(ServerTypes, EveryNamedFlagNamesItselfBack)
{
    for (int bit = 0; bit < 31; ++bit) {
        const unsigned flag = 1u << bit;
        EXPECT_EQ(CServerUtils::GetServerType(CServerUtils::GetServerType(flag)), flag) << bit;
    }
}

}  // namespace

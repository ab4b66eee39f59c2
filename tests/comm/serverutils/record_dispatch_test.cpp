// Dispatch by record type number, both ways, and the identifying GUID keys.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comm/serverutils/server_utils.h"
#include "util/json_writer.h"

namespace {

struct TypeRow {
    unsigned type;
    unsigned size;  // 0: no record
    bool sizeTest;
    const char* key;
};

// The type table: every number from 0 to 44 and the largest.
const TypeRow kTypes[] = {
    {0, 0, false, nullptr},          {1, 2248, true, "configGuid"},    {2, 0, false, nullptr},
    {3, 0, false, nullptr},          {4, 48, false, "appGuid"},        {5, 2210, true, "cfgGuid"},
    {6, 2336, true, "userGuid"},     {7, 1092, true, "versionGuid"},   {8, 8028, true, "appGuid"},
    {9, 4394, true, "appGuid"},      {10, 2460, true, "serviceGuid"},  {11, 244, true, "serviceGuid"},
    {12, 72, true, "serviceGuid"},   {13, 1096, true, "machineGuid"},  {14, 268, true, "machineGuid"},
    {15, 88, true, "machineGuid"},   {16, 0, false, nullptr},          {17, 240, true, "rootServerGuid"},
    {18, 64, true, "taskGuid"},      {19, 440, true, "clusterGuid"},   {20, 324, true, "carrierGuid"},
    {21, 788, true, "appGuid"},      {22, 108, true, "appGuid"},       {23, 88, true, "appGuid"},
    {24, 120, true, "clusterGuid"},  {25, 44, true, "rootServerGuid"}, {26, 0, false, nullptr},
    {27, 60, true, "serviceGuid"},   {28, 16428, false, "objectGuid"}, {29, 0, false, nullptr},
    {30, 0, false, nullptr},         {31, 4640, false, "roleGuid"},    {32, 1044, false, "ownerGuid"},
    {33, 72, false, "ownerGuid"},    {34, 56, false, "ownerGuid"},     {35, 1214, false, "nodeGuid"},
    {36, 76, false, "nodeGuid"},     {37, 1156, false, "groupGuid"},   {38, 60, false, "groupGuid"},
    {39, 0, false, nullptr},         {40, 344, false, "roomGuid"},     {41, 0, false, nullptr},
    {42, 2564, false, "diskGuid"},   {43, 2840, false, "resGuid"},     {44, 0, false, nullptr},
    {0xFFFFFFFF, 0, false, nullptr},
};

const char kGuidText[] = "0123ABCD-4567-89EF-FEDC-BA9876543210";

void PrintTo(const TypeRow& row, std::ostream* os)
{
    *os << "type " << row.type;
}

class TypeDispatch : public testing::TestWithParam<TypeRow>
{};

// A record of the type's size: first u32 its size, then 0x5A bytes, so that
// no list is empty; a disk gets one partition.
std::vector<char> RecordOf(const TypeRow& row)
{
    std::vector<char> bytes(row.size + 8, 0x5A);
    const uint32_t size = row.size;
    memcpy(bytes.data(), &size, 4);
    if (row.type == 42) {
        const int32_t parts = 1;
        const uint32_t partSize = 220;
        memcpy(bytes.data() + 360, &parts, 4);
        memcpy(bytes.data() + 364, &partSize, 4);
    }
    return bytes;
}

TEST_P(TypeDispatch, KeyOfTheType)
{
    const TypeRow& row = GetParam();
    EXPECT_STREQ(CServerUtils::GetConfigGuidJsonKey(row.type), row.key ? row.key : "unknow datatype");
}

TEST_P(TypeDispatch, RecordToJsonAndBack)
{
    const TypeRow& row = GetParam();
    std::vector<char> bytes = RecordOf(row);
    Json::Value object;
    if (row.size == 0) {
        std::vector<char> any(20000, 0);
        EXPECT_EQ(CServerUtils::CorvaneStruct2Json(row.type, any.data(), any.size(), object), -1);
        char buf[8] = "keep";
        EXPECT_EQ(CServerUtils::CorvaneStruct2Json(row.type, any.data(), any.size(), buf, sizeof buf), -1);
        EXPECT_STREQ(buf, "keep");
        unsigned room = 20000;
        EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, "{}", any.data(), room), -1);
        EXPECT_EQ(room, 20000u);
        return;
    }
    ASSERT_EQ(CServerUtils::CorvaneStruct2Json(row.type, bytes.data(), row.size, object), 0);
    ASSERT_TRUE(object.isObject());
    ASSERT_TRUE(object[row.key].isString()) << row.key;
    EXPECT_EQ(object[row.key].asString(), "5A5A5A5A-5A5A-5A5A-5A5A-5A5A5A5A5A5A");
    const std::string text = cv::toStyledString(object);

    std::vector<char> buf(text.size() + 1, 'x');
    ASSERT_EQ(CServerUtils::CorvaneStruct2Json(row.type, bytes.data(), row.size, buf.data(), buf.size()), 0);
    EXPECT_EQ(std::string(buf.data()), text);

    // The text read back by type gives the bytes again.
    std::vector<char> back(row.size + 8, 0x5A);
    memset(back.data(), 0, row.size);
    unsigned size = row.size + 8;
    ASSERT_EQ(CServerUtils::Json2CorvaneStruct(row.type, text.c_str(), back.data(), size), 0);
    EXPECT_EQ(size, row.size);
    Json::Value again;
    memcpy(back.data(), bytes.data(), 4);  // a reader sets the size, or (type 4) leaves it
    ASSERT_EQ(CServerUtils::CorvaneStruct2Json(row.type, back.data(), row.size, again), 0);
    EXPECT_EQ(cv::toStyledString(again), text);

    // The identifying GUID of the text.
    const std::string keyed = std::string("{\"") + row.key + "\":\"" + kGuidText + "\"}";
    _GUID guid;
    memset(&guid, 0, sizeof guid);
    ASSERT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, keyed.c_str(), guid), 0);
    EXPECT_EQ(guid.Data1, 0x0123ABCDu);
    EXPECT_EQ(guid.Data4[7], 0x10);
}

TEST_P(TypeDispatch, SizeTestAndRoom)
{
    const TypeRow& row = GetParam();
    if (row.size == 0)
        return;
    std::vector<char> bytes = RecordOf(row);
    Json::Value object;
    memset(bytes.data(), 0, 4);  // first u32 0
    EXPECT_EQ(CServerUtils::CorvaneStruct2Json(row.type, bytes.data(), row.size, object), row.sizeTest ? -1 : 0);
    EXPECT_EQ(CServerUtils::CorvaneStruct2Json(row.type, nullptr, row.size, object), -1);
    EXPECT_EQ(CServerUtils::CorvaneStruct2Json(row.type, bytes.data(), row.size - 1, object), -1);

    std::vector<char> out(row.size, 0);
    unsigned size = row.size - 1;
    EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, "{}", out.data(), size), -1);
    EXPECT_EQ(size, row.size - 1);
    size = row.size;
    EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, "{}", nullptr, size), -1);
    EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, "{}", out.data(), size), 0);
    size = row.size + 100;
    EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, "not json", out.data(), size), -1);
    EXPECT_EQ(size, row.size);
    size = row.size;
    EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, "[1]", out.data(), size), 5);
    EXPECT_EQ(CServerUtils::Json2CorvaneStruct(row.type, nullptr, out.data(), size), 5);
}

TEST_P(TypeDispatch, GuidFromJsonResults)
{
    const TypeRow& row = GetParam();
    const std::string key = row.key ? row.key : "unknow datatype";
    _GUID guid;
    memset(&guid, 0x33, sizeof guid);
    EXPECT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, ("{\"" + key + "\":5}").c_str(), guid), 11);
    EXPECT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, "{}", guid), 11);
    EXPECT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, "{", guid), -1);
    EXPECT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, "[1]", guid), 5);
    EXPECT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, nullptr, guid), 5);
    EXPECT_EQ(guid.Data1, 0x33333333u);
    // A type without a record looks for the member named "unknow datatype".
    EXPECT_EQ(CServerUtils::GetConfigGuidFromJson(row.type, ("{\"" + key + "\":\"xyz\"}").c_str(), guid), 0);
    EXPECT_EQ(guid.Data1, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllTypes, TypeDispatch, testing::ValuesIn(kTypes),
                         [](const testing::TestParamInfo<TypeRow>& info) {
                             return "Type" + std::to_string(info.param.type);
                         });

TEST(TypeDispatch, TextFormCutsToTheBuffer)
{
    std::vector<char> bytes(244, 0);
    const uint32_t size = 244;
    memcpy(bytes.data(), &size, 4);
    char one[1] = {'x'};
    EXPECT_EQ(CServerUtils::CorvaneStruct2Json(11, bytes.data(), 244, one, 1), 0);
    EXPECT_EQ(one[0], '\0');
    char ten[10];
    EXPECT_EQ(CServerUtils::CorvaneStruct2Json(11, bytes.data(), 244, ten, sizeof ten), 0);
    EXPECT_STREQ(ten, "{\"AppFlag");
}

}  // namespace

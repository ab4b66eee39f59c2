// Text messages, transparent buffers (plain and Ex, whole and in pieces,
// converted for GB2312 devices) and JSON events between the SDK client and
// the stand-in SDK.
#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/sdklink/text_convert.h"
#include "tests/sdklink/sdk_client_fixture.h"
#include "tests/support/case_names.h"
#include "tests/support/test_support.h"
#include "util/base64.h"
#include "util/json_writer.h"

namespace {

using qgtest::Find;
using qgtest::Hex;
using qgtest::SdkClient;

const char kZhangSanGb[] = "\xd5\xc5\xc8\xfd";
const std::string kZhangSan = qgtest::kName2001;

// The journal form of a buffer handed to the SDK.
std::string Bytes(const std::string& b)
{
    return std::to_string(b.size()) + ":" + Hex(b);
}

void SplitOn(CCorvaneConnect& sdk)
{
    sdk.HandleWebCommand(1, "{\"sdkfunction\":8}");
}

std::string BrowserPiece(const std::string& content, int index, int flag)
{
    Json::Value piece(Json::objectValue);
    piece["content"] = content;
    piece["flag"] = flag;
    piece["index"] = index;
    // The system's own writer: bytes pass as they are, even a cut character.
    return cv::toStyledString(piece);
}

TEST_F(SdkClient, TextMessagesPassBothWaysUnconverted)
{
    StartSdk();
    EXPECT_EQ(Sdk().doSendTextMessage(2001, true, "hi " + kZhangSan), 0);
    EXPECT_EQ(Sdk().doSendTextMessage(2002, false, ""), 0);
    // The text ends at its NUL, not at the length given.
    CCorvaneConnect::OnTextMessageCallBack(2001, 1001, 1, "hello there", 5, &Sdk());
    CCorvaneConnect::OnTextMessageCallBack(2002, 1001, 0, "x", 1, nullptr);
    const std::vector<std::string> expected = {"ReplySendTextMessage(0)", "ReplySendTextMessage(0)",
                                               "NotifySendTextMessage(0, 2001, 1001, true, \"hello there\")"};
    EXPECT_EQ(Calls(), expected);
    EXPECT_GE(Find(Journal(), "CVAPI_SendTextMessage 2001 1 \"hi " + kZhangSan + "\" 9 = 0"), 0);
    EXPECT_GE(Find(Log(), "[proxy] invoke CCorvaneConnect::doSendTextMessage[userId:2001] = 0"), 0);
}

// Users of the default scenario by device type; 1, 4 and 8 speak GB2312.
struct DeviceCase {
    const char* name;
    int userId;
    bool converts;
};
QG_PRINT_CASE_BY_NAME(DeviceCase)

class BufferDevices : public SdkClient, public ::testing::WithParamInterface<DeviceCase>
{};

TEST_P(BufferDevices, BuffersAreConvertedBothWaysOnlyForGb2312Devices)
{
    const DeviceCase& c = GetParam();
    StartSdk();
    const std::string utf8 = "{\"msg\":\"" + kZhangSan + "\"}";
    const std::string gb = std::string("{\"msg\":\"") + kZhangSanGb + "\"}";
    const std::string toSdk = c.converts ? gb : utf8;
    // The first buffer of a user not yet on record already follows its device type.
    EXPECT_EQ(Sdk().doTransBuffer(41, c.userId, utf8), 0);
    EXPECT_EQ(Sdk().doTransBufferEx(42, c.userId, utf8, 5, 6, 7), 0);
    const std::string fromSdk = c.converts ? gb : utf8;
    Sdk().OnTransBuffer(static_cast<uint32_t>(c.userId), reinterpret_cast<const unsigned char*>(fromSdk.c_str()),
                        static_cast<uint32_t>(fromSdk.size()));
    Sdk().OnTransBufferEx(static_cast<uint32_t>(c.userId), reinterpret_cast<const unsigned char*>(fromSdk.c_str()),
                          static_cast<uint32_t>(fromSdk.size()), 8, 9, 10);

    const std::string id = std::to_string(c.userId);
    const std::vector<std::string> expected = {
        "ReplyTransBuffer(41, 0)",
        "ReplyTransBufferEx(42, 0, 1)",
        "NotifyTransBuffer(0, " + id + ", \"" + utf8 + "\")",
        "NotifyTransBufferEx(0, " + id + ", \"" + utf8 + "\", 8, 9, 10)",
    };
    EXPECT_EQ(Calls(), expected);
    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_TransBuffer " + id + " " + Bytes(toSdk) + " " + std::to_string(toSdk.size()) + " = 0"), 0);
    EXPECT_GE(Find(j, "CVAPI_TransBufferEx " + id + " " + Bytes(toSdk) + " " + std::to_string(toSdk.size()) +
                          " 5 6 7 out = 0"),
              0);
    // The device type was asked once, for the first buffer.
    int queries = 0;
    const std::string query = "CVAPI_QueryUserState " + id + " 15 ";
    for (const std::string& line : j)
        queries += line.compare(0, query.size(), query) == 0;
    EXPECT_EQ(queries, 1);
    EXPECT_TRUE(
        LogHas("CCorvaneConnect::doTransBuffer: get user attribute fail, add user attribute again! userid:" + id));
}

INSTANTIATE_TEST_SUITE_P(Table, BufferDevices,
                         ::testing::Values(DeviceCase{"DeviceOne", 2001, true}, DeviceCase{"DeviceFour", 2011, true},
                                           DeviceCase{"DeviceEight", 2012, true}, DeviceCase{"DeviceZero", 2002, false},
                                           DeviceCase{"DeviceTwo", 2013, false}),
                         qgtest::ByName());

TEST_F(SdkClient, BuffersWithoutAFormAreSentWithQuestionMarksAndConvertWhole)
{
    StartSdk();
    // An emoji has no GB2312 form: '?' and a log line, never an empty buffer.
    EXPECT_EQ(Sdk().doTransBuffer(1, 2001,
                                  "a\xf0\x9f\x98\x80"
                                  "b"),
              0);
    EXPECT_GE(Find(Journal(), "CVAPI_TransBuffer 2001 " + Bytes("a?b") + " 3 = 0"), 0);
    EXPECT_TRUE(LogHas("CCorvaneConnect::doTransBuffer: 1 characters have no GB2312 form, sent as '?'! userid:2001"));

    // Bytes that are not GB2312 from the SDK: '?' as well.
    Sdk().OnTransBuffer(2001,
                        reinterpret_cast<const unsigned char*>("x\xff"
                                                               "y"),
                        3);
    EXPECT_EQ(WaitCall("NotifyTransBuffer"), "NotifyTransBuffer(0, 2001, \"x?y\")");
    EXPECT_TRUE(LogHas("CCorvaneConnect::OnTransBuffer: 1 bytes are not GB2312, sent as '?'! userid:2001"));

    // 20000 characters both ways: sized from the input, nothing cut.
    std::string utf8, gb;
    for (int i = 0; i < 10000; ++i) {
        utf8 += kZhangSan;
        gb += kZhangSanGb;
    }
    EXPECT_EQ(Sdk().doTransBuffer(2, 2001, utf8), 0);
    EXPECT_GE(Find(Journal(), "CVAPI_TransBuffer 2001 " + Bytes(gb) + " 40000 = 0"), 0);
    Sdk().OnTransBuffer(2001, reinterpret_cast<const unsigned char*>(gb.c_str()), static_cast<uint32_t>(gb.size()));
    EXPECT_EQ(WaitCall("NotifyTransBuffer", "0, 2001, \"" + kZhangSan), "NotifyTransBuffer(0, 2001, \"" + utf8 + "\")");
}

TEST_F(SdkClient, BufferFromTheSdkEndsAtItsNulAndNeverBeyondItsLength)
{
    StartSdk();
    const unsigned char data[] = {'a', 'b', 'c', 'd', 'e', 'f'};  // no NUL anywhere
    Sdk().OnTransBuffer(2002, data, 3);
    Sdk().OnTransBuffer(2002, reinterpret_cast<const unsigned char*>("ab\0cd"), 5);
    CCorvaneConnect::OnTransBufferCallBack(2002, const_cast<unsigned char*>(data), 6, nullptr);
    const std::vector<std::string> expected = {"NotifyTransBuffer(0, 2002, \"abc\")",
                                               "NotifyTransBuffer(0, 2002, \"ab\")"};
    EXPECT_EQ(Calls(), expected);
}

// ---- pieces for the browser ----

// Splits of the base64 of a buffer of `bytes` bytes: piece sizes expected.
struct SplitCase {
    const char* name;
    size_t bytes;
    std::vector<size_t> pieces;
};
QG_PRINT_CASE_BY_NAME(SplitCase)

class BufferPieces : public SdkClient, public ::testing::WithParamInterface<SplitCase>
{};

TEST_P(BufferPieces, GoToTheBrowserAsBase64In6144BytePieces)
{
    const SplitCase& c = GetParam();
    StartSdk();
    SplitOn(Sdk());
    std::string data;
    for (size_t i = 0; i < c.bytes; ++i)
        data += static_cast<char>('!' + i % 90);
    Sdk().OnTransBuffer(2002, reinterpret_cast<const unsigned char*>(data.data()), static_cast<uint32_t>(data.size()));

    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), c.pieces.size());
    std::string joined;
    for (size_t i = 0; i < calls.size(); ++i) {
        const Json::Value piece = JsonArg(calls[i]);
        ASSERT_EQ(piece.size(), 3u) << calls[i];
        EXPECT_EQ(piece["content"].asString().size(), c.pieces[i]);
        EXPECT_EQ(piece["flag"].asInt(), i + 1 == calls.size() ? 1 : 0);
        EXPECT_EQ(piece["index"].asInt(), static_cast<int>(i + 1));
        joined += piece["content"].asString();
    }
    std::string decoded;
    ASSERT_TRUE(Base64Decode(joined, decoded));
    EXPECT_EQ(decoded, data);
}

INSTANTIATE_TEST_SUITE_P(Table, BufferPieces,
                         ::testing::Values(SplitCase{"Empty", 0, {}}, SplitCase{"OneByte", 1, {4}},
                                           SplitCase{"OneGroupBelowThePiece", 4605, {6140}},
                                           SplitCase{"ExactlyOnePiece", 4608, {6144}},
                                           SplitCase{"OneGroupAbove", 4609, {6144, 4}},
                                           SplitCase{"TwoWholePieces", 9216, {6144, 6144}},
                                           SplitCase{"ThreePieces", 10000, {6144, 6144, 1048}}),
                         qgtest::ByName());

TEST_F(SdkClient, BufferPiecesFollowTheConversionAndTheExForm)
{
    StartSdk();
    SplitOn(Sdk());
    const std::string gb = std::string(kZhangSanGb) + " ok";
    Sdk().OnTransBufferEx(2001, reinterpret_cast<const unsigned char*>(gb.c_str()), static_cast<uint32_t>(gb.size()), 1,
                          2, 3);
    const std::string expected = "{\"content\":\"" + Base64Encode((kZhangSan + " ok").data(), kZhangSan.size() + 3) +
                                 "\",\"flag\":1,\"index\":1}";
    EXPECT_EQ(WaitCall("NotifyTransBufferEx"), "NotifyTransBufferEx(0, 2001, \"" + expected + "\", 1, 2, 3)");
}

struct EventCase {
    const char* name;
    size_t bytes;
    std::vector<size_t> pieces;  // empty: goes whole
};
QG_PRINT_CASE_BY_NAME(EventCase)

class EventPieces : public SdkClient, public ::testing::WithParamInterface<EventCase>
{};

TEST_P(EventPieces, LongEventsGoInPiecesUnderOneIdentifier)
{
    const EventCase& c = GetParam();
    StartSdk();
    // JSON text with quotes and a multi-byte character, cut at byte positions.
    std::string json = "{\"k\":\"";
    while (json.size() + 2 < c.bytes)
        json += json.size() % 50 == 0 ? kZhangSan.substr(0, std::min<size_t>(3, c.bytes - 2 - json.size())) : "x";
    json += "\"}";
    json.resize(c.bytes, '}');
    CCorvaneConnect::OnCoreSDKEventCallBack(77, json.c_str(), &Sdk());

    const std::vector<std::string> calls = Calls();
    if (c.pieces.empty()) {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0], "NotifyCoreSDKEvent(77, \"" + json + "\")");
    } else {
        ASSERT_EQ(calls.size(), c.pieces.size());
        std::string joined;
        std::string uuid;
        for (size_t i = 0; i < calls.size(); ++i) {
            ASSERT_EQ(calls[i].compare(0, 24, "NotifyCoreSDKEvent(77, \""), 0) << calls[i];
            Json::Value piece;
            ASSERT_TRUE(Json::Reader().parse(calls[i].substr(24, calls[i].size() - 26), piece)) << calls[i];
            ASSERT_EQ(piece.size(), 5u);
            EXPECT_EQ(piece["content"].asString().size(), c.pieces[i]);
            EXPECT_EQ(piece["flag"].asInt(), i + 1 == calls.size() ? 1 : 0);
            EXPECT_EQ(piece["index"].asInt(), static_cast<int>(i + 1));
            EXPECT_EQ(piece["spliceflag"].asInt(), 1);
            if (i == 0)
                uuid = piece["uuid"].asString();
            EXPECT_EQ(piece["uuid"].asString(), uuid);
            joined += piece["content"].asString();
        }
        EXPECT_EQ(joined, json);
        ASSERT_EQ(uuid.size(), 36u);
        for (char ch : uuid)
            EXPECT_TRUE(ch == '-' || isdigit(static_cast<unsigned char>(ch)) || (ch >= 'A' && ch <= 'F')) << uuid;
    }
    EXPECT_TRUE(LogHas("CCorvaneConnect::OnCorvaneCoreSDKEvent: eventType:77, jsonBuf:" +
                       json.substr(0, std::min<size_t>(json.size(), 100))));
}

INSTANTIATE_TEST_SUITE_P(Table, EventPieces,
                         ::testing::Values(EventCase{"Small", 20, {}}, EventCase{"OneBelowThePiece", 6143, {}},
                                           EventCase{"ExactlyThePiece", 6144, {}},
                                           EventCase{"OneAbove", 6145, {6144, 1}},
                                           EventCase{"TwoWholePieces", 12288, {6144, 6144}},
                                           EventCase{"ThreePieces", 12289, {6144, 6144, 1}}),
                         qgtest::ByName());

// A long event of one character repeated behind a lead-in that puts a
// character across each cut at 6144 bytes (unless its bytes are not UTF-8).
struct CutCase {
    const char* name;
    std::string character;
    size_t leadIn;      // bytes of "{"t":"..." before the first character
    size_t firstPiece;  // the first piece's length
    bool utf8;
};
QG_PRINT_CASE_BY_NAME(CutCase)

class EventCuts : public SdkClient, public ::testing::WithParamInterface<CutCase>
{};

TEST_P(EventCuts, LongEventsAreCutBeforeACharacterThatWouldCrossThePieceEnd)
{
    const CutCase& c = GetParam();
    StartSdk();
    std::string json = "{\"t\":\"" + std::string(c.leadIn - 6, 'x');
    while (json.size() < 15000)
        json += c.character;
    json += "\"}";
    ASSERT_EQ(qgtest::IsUtf8(json), c.utf8);
    Sdk().OnCorvaneCoreSDKEvent(5, json.c_str());

    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    std::string joined;
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string content = JsonArg(calls[i])["content"].asString();
        EXPECT_LE(content.size(), 6144u);
        if (i + 1 < calls.size()) {
            EXPECT_GE(content.size(), 6144u - 3);
        }
        EXPECT_EQ(qgtest::IsUtf8(content), c.utf8);
        EXPECT_EQ(JsonArg(calls[i])["index"].asInt(), static_cast<int>(i + 1));
        joined += content;
    }
    EXPECT_EQ(JsonArg(calls[0])["content"].asString().size(), c.firstPiece);
    EXPECT_EQ(joined, json);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EventCuts,
    ::testing::Values(CutCase{"Chinese characters of three bytes", kZhangSan.substr(0, 3), 8, 6143, true},
                      CutCase{"accented letters of two bytes", "\xc3\xa9", 9, 6143, true},
                      CutCase{"emoji of four bytes", "\xf0\x9f\x98\x80", 9, 6141, true},
                      CutCase{"characters that end on the cut", kZhangSan.substr(0, 3), 6, 6144, true},
                      CutCase{"bytes that are not UTF-8 are cut at 6144", "\xe5\xbc", 7, 6144, false}),
    qgtest::ByName());

TEST_F(SdkClient, EachLongEventHasAFreshIdentifier)
{
    StartSdk();
    const std::string json(7000, 'x');
    Sdk().OnCorvaneCoreSDKEvent(1, json.c_str());
    Sdk().OnCorvaneCoreSDKEvent(1, json.c_str());
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(JsonArg(calls[0])["uuid"], JsonArg(calls[1])["uuid"]);
    EXPECT_NE(JsonArg(calls[0])["uuid"], JsonArg(calls[2])["uuid"]);
}

// ---- pieces from the browser ----

TEST_F(SdkClient, BrowserPiecesAreJoinedInOrderThenConvertedOnce)
{
    StartSdk();
    SplitOn(Sdk());
    // A character cut between two pieces: only the joined text is whole.
    const std::string text = "{\"to\":\"" + kZhangSan + "\"}";
    const size_t cut = text.find(kZhangSan) + 1;
    EXPECT_EQ(Sdk().doTransBuffer(1, 2001, BrowserPiece(text.substr(0, cut), 1, 0)), 0);
    EXPECT_EQ(Sdk().doTransBuffer(2, 2001, BrowserPiece(text.substr(cut, 4), 2, 0)), 0);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Sdk().doTransBuffer(3, 2001, BrowserPiece(text.substr(cut + 4), 3, 1)), 0);
    const std::string gb = std::string("{\"to\":\"") + kZhangSanGb + "\"}";
    EXPECT_GE(Find(Journal(), "CVAPI_TransBuffer 2001 " + Bytes(gb) + " "), 0);
    const std::vector<std::string> expected = {"ReplyTransBuffer(3, 0)"};
    EXPECT_EQ(Calls(), expected);
    EXPECT_TRUE(LogHas("invoke CCorvaneConnect::doTransBuffer[userId:2001, deviceType:1, strBuf:{"));

    // The Ex form answers with its task id.
    EXPECT_EQ(Sdk().doTransBufferEx(4, 2002, BrowserPiece("ab", 1, 0), 1, 2, 3), 0);
    EXPECT_EQ(Sdk().doTransBufferEx(5, 2002, BrowserPiece("cd", 2, 1), 1, 2, 3), 0);
    EXPECT_EQ(Calls().back(), "ReplyTransBufferEx(5, 0, 1)");
    EXPECT_GE(Find(Journal(), "CVAPI_TransBufferEx 2002 " + Bytes("abcd") + " 4 1 2 3 out = 0"), 0);
}

TEST_F(SdkClient, BrowserPiecesOutOfSequenceAreRefusedAndIndexOneStartsAgain)
{
    StartSdk();
    SplitOn(Sdk());
    const auto sdkCalls = [&] {
        int n = 0;
        for (const std::string& line : Journal())
            n += line.compare(0, 18, "CVAPI_TransBuffer ") == 0;
        return n;
    };
    EXPECT_EQ(Sdk().doTransBuffer(1, 2002, BrowserPiece("A", 1, 0)), 0);
    // Index 3 after 1, a repeated 1-less piece, one without an index: refused.
    EXPECT_EQ(Sdk().doTransBuffer(2, 2002, BrowserPiece("C", 3, 1)), 21);
    EXPECT_EQ(Sdk().doTransBuffer(3, 2002, "{\"content\":\"Z\",\"flag\":1}"), 21);
    EXPECT_EQ(Sdk().doTransBuffer(4, 2002, "not json"), 21);
    EXPECT_EQ(sdkCalls(), 0);
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(LogHas("[doTransBuffer()]=21, line:"));
    EXPECT_TRUE(LogHas("content is not intact! preindex:1, recindex:3"));
    // The join kept its last good piece: the expected index goes on.
    EXPECT_EQ(Sdk().doTransBuffer(5, 2002, BrowserPiece("B", 2, 0)), 0);
    // Index 1 in the middle starts over.
    EXPECT_EQ(Sdk().doTransBuffer(6, 2002, BrowserPiece("X", 1, 0)), 0);
    EXPECT_EQ(Sdk().doTransBuffer(7, 2002, BrowserPiece("Y", 2, 1)), 0);
    EXPECT_EQ(sdkCalls(), 1);
    EXPECT_GE(Find(Journal(), "CVAPI_TransBuffer 2002 " + Bytes("XY") + " 2 = 0"), 0);
    const std::vector<std::string> expected = {"ReplyTransBuffer(7, 0)"};
    EXPECT_EQ(Calls(), expected);
}

// Two gateway threads, each sending one user's pieces, at the same time.
TEST_F(SdkClient, TwoUsersJoiningAtOnceFromTwoThreadsNeverMix)
{
    StartSdk();
    SplitOn(Sdk());
    const int kPieces = 300;
    std::atomic<int> ready{0};
    std::atomic<int> refused{0};
    auto sender = [&](int userId, char letter) {
        ++ready;
        while (ready.load() < 2) {
        }
        for (int i = 1; i <= kPieces; ++i) {
            const std::string content = std::string(1, letter) + std::to_string(i) + ";";
            if (Sdk().doTransBuffer(i, userId, BrowserPiece(content, i, i == kPieces ? 1 : 0)) != 0)
                ++refused;
        }
    };
    std::thread a(sender, 2002, 'a');
    std::thread b(sender, 2013, 'b');
    // Meanwhile the SDK's thread brings buffers of users nobody knew yet.
    std::thread sdkThread([&] {
        while (ready.load() < 2) {
        }
        for (uint32_t id = 5000; id < 5100; ++id)
            Sdk().OnTransBuffer(id, reinterpret_cast<const unsigned char*>("zz"), 2);
    });
    a.join();
    b.join();
    sdkThread.join();
    EXPECT_EQ(refused.load(), 0);

    std::string wantA, wantB;
    for (int i = 1; i <= kPieces; ++i) {
        wantA += "a" + std::to_string(i) + ";";
        wantB += "b" + std::to_string(i) + ";";
    }
    const std::vector<std::string> j = Journal();
    EXPECT_GE(Find(j, "CVAPI_TransBuffer 2002 " + Bytes(wantA) + " "), 0);
    EXPECT_GE(Find(j, "CVAPI_TransBuffer 2013 " + Bytes(wantB) + " "), 0);
    int sends = 0;
    for (const std::string& line : j)
        sends += line.compare(0, 18, "CVAPI_TransBuffer ") == 0;
    EXPECT_EQ(sends, 2);
    int replies = 0;
    for (const std::string& call : Calls())
        replies += call == "ReplyTransBuffer(300, 0)";
    EXPECT_EQ(replies, 2);
}

}  // namespace

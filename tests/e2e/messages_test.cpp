// Text messages, transparent buffers and JSON events end to end: the real
// quillgate between the stand-in gateway and the stand-in SDK, with the
// bytes checked in the SDK's journal and at the gateway. Every wait is
// bounded.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/gateway_run.h"
#include "util/base64.h"
#include "util/json_writer.h"

using qgtest::CallArgs;
using qgtest::GatewayRun;
using qgtest::Hex;
using qgtest::RunGateway;
using qgtest::ScriptText;
using qgtest::SdkSetup;
using qgtest::TempDir;

namespace {

const char kInit[] = "call setGeneralParam 1 1 \"{\\\"debuglevel\\\":4}\"\n";
const char kInitSplit[] = "call setGeneralParam 1 1 \"{\\\"debuglevel\\\":4,\\\"sdkfunction\\\":8}\"\n";
const char kEnd[] = "sleep 200\ncall logout 99\nwait replyLogout\n";
const std::string kZhangSan = "\xe5\xbc\xa0\xe4\xb8\x89";
const std::string kZhangSanGb = "\xd5\xc5\xc8\xfd";

// The journal form of a buffer the SDK was handed.
std::string Bytes(const std::string& b)
{
    return std::to_string(b.size()) + ":" + Hex(b);
}

std::string Waits(const std::string& op, int n)
{
    std::string lines;
    for (int i = 0; i < n; ++i)
        lines += "wait " + op + "\n";
    return lines;
}

int CountJournal(const GatewayRun& run, const std::string& prefix)
{
    int n = 0;
    for (const std::string& line : run.journal)
        n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& bytes)
{
    std::ofstream(dir.File(name), std::ios::binary) << bytes;
    return dir.File(name);
}

// A browser piece as a script argument; bytes pass as they are, even a cut character.
std::string BrowserPiece(const std::string& content, int index, int flag)
{
    Json::Value piece(Json::objectValue);
    piece["content"] = content;
    piece["flag"] = flag;
    piece["index"] = index;
    return ScriptText(cv::toStyledString(piece));
}

TEST(Messages, TextAndBuffersTravelBothWaysConvertedOnlyForGb2312Devices)
{
    TempDir dir;
    const std::string utf8 = "{\"m\":\"" + kZhangSan + "\"}";
    const std::string gb = "{\"m\":\"" + kZhangSanGb + "\"}";
    SdkSetup sdk;
    sdk.control = {{"recv replyTransBufferEx(", "text 2001 1001 1 " + Hex("hi " + kZhangSan)},
                   {"", "buffer 2001 " + Hex(gb)},
                   {"", "buffer 2002 " + Hex(utf8)},
                   {"", "bufferex 2011 " + Hex(gb) + " 7 8 9"},
                   {"", "bufferex 2013 " + Hex(utf8) + " 7 8 9"}};
    const std::string script =
        std::string("wait initiateQiullgateDelegate\n") + kInit + "call sendTextMessage 2 2001 true " +
        ScriptText("hi " + kZhangSan) + "\n" +
        "wait replySendTextMessage\n"
        "call transBuffer 3 2001 " +
        ScriptText(utf8) + "\n" + "call transBuffer 4 2002 " + ScriptText(utf8) + "\n" + "call transBufferEx 5 2012 " +
        ScriptText(utf8) + " 1 2 3\n" + "call transBufferEx 6 2013 " + ScriptText(utf8) + " 1 2 3\n" +
        Waits("replyTransBuffer", 2) + Waits("replyTransBufferEx", 2) + "wait notifySendTextMessage\n" +
        Waits("notifyTransBuffer", 2) + Waits("notifyTransBufferEx", 2) + kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    // To the SDK: text unconverted, buffers GB2312 for devices 1, 4, 8 only.
    EXPECT_GE(run.Journal("CVAPI_SendTextMessage 2001 1 \"hi " + kZhangSan + "\" 9 = 0"), 0);
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2001 " + Bytes(gb) + " "), 0);
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2002 " + Bytes(utf8) + " "), 0);
    EXPECT_GE(run.Journal("CVAPI_TransBufferEx 2012 " + Bytes(gb) + " " + std::to_string(gb.size()) + " 1 2 3 out = 0"),
              0);
    EXPECT_GE(run.Journal("CVAPI_TransBufferEx 2013 " + Bytes(utf8) + " "), 0);
    for (const char* line : {"recv replySendTextMessage(\"standin-session\", 2, 0) -> 0",
                             "recv replyTransBuffer(\"standin-session\", 3, 0) -> 0",
                             "recv replyTransBuffer(\"standin-session\", 4, 0) -> 0",
                             "recv replyTransBufferEx(\"standin-session\", 5, 0, 1) -> 0",
                             "recv replyTransBufferEx(\"standin-session\", 6, 0, 2) -> 0"})
        EXPECT_GE(run.Out(line), 0) << line << "\n" << run.Dump();

    // To the browser: UTF-8 for everyone.
    const std::vector<std::vector<std::string>> expected = {
        {"standin-session", "0", "2001", "1001", "true", "hi " + kZhangSan},
        {"standin-session", "0", "2001", utf8},
        {"standin-session", "0", "2002", utf8},
        {"standin-session", "0", "2011", utf8, "7", "8", "9"},
        {"standin-session", "0", "2013", utf8, "7", "8", "9"},
    };
    std::vector<std::string> got = run.All("recv notifySendTextMessage(");
    for (const char* op : {"recv notifyTransBuffer(", "recv notifyTransBufferEx("})
        for (const std::string& line : run.All(op))
            got.push_back(line);
    ASSERT_EQ(got.size(), expected.size()) << run.Dump();
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(CallArgs(got[i]), expected[i]) << got[i];
}

// The contents of a buffer's pieces at the gateway, checked and joined.
std::string JoinBufferPieces(const std::vector<std::string>& lines, size_t contentArg, std::vector<size_t>& sizes)
{
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        Json::Value piece;
        EXPECT_TRUE(Json::Reader().parse(CallArgs(lines[i]).at(contentArg), piece)) << lines[i];
        EXPECT_EQ(piece.getMemberNames(), (std::vector<std::string>{"content", "flag", "index"})) << lines[i];
        EXPECT_EQ(piece["index"].asInt(), static_cast<int>(i + 1)) << lines[i];
        EXPECT_EQ(piece["flag"].asInt(), i + 1 == lines.size() ? 1 : 0) << lines[i];
        sizes.push_back(piece["content"].asString().size());
        joined += piece["content"].asString();
    }
    return joined;
}

std::string Filled(size_t n, char from)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>(from + i % 60);
    return s;
}

TEST(Messages, BuffersAndEventsReachTheBrowserIn6144BytePieces)
{
    TempDir dir;
    // Buffers whose base64 is one group below, exactly at, one group above a piece.
    const std::string below = Filled(4605, 'A'), at = Filled(4608, 'B'), above = Filled(4609, 'C');
    // Events one below, at, one above a piece, and two pieces and a byte.
    std::vector<std::string> events;
    for (size_t n : {6143, 6144, 6145, 12289}) {
        std::string json = "{\"t\":\"" + std::string(n - 8, 'e') + "\"}";
        events.push_back(json);
    }
    SdkSetup sdk;
    // The buffers come once the split setting is taken: after its call returned.
    sdk.control = {{"call getSDKOptionInt(90, 221)", "buffer 2002 @" + WriteFile(dir, "below", below)},
                   {"", "buffer 2002 @" + WriteFile(dir, "at", at)},
                   {"", "buffer 2002 @" + WriteFile(dir, "above", above)},
                   {"", "bufferex 2001 @" + WriteFile(dir, "gb", kZhangSanGb + "!") + " 1 2 3"}};
    for (size_t i = 0; i < events.size(); ++i)
        sdk.control.push_back({"", "event 5 @" + WriteFile(dir, "event" + std::to_string(i), events[i])});
    const std::string script = std::string("wait initiateQiullgateDelegate\n") + kInitSplit +
                               "call getSDKOptionInt 90 221\n" + Waits("notifyTransBuffer", 4) +
                               "wait notifyTransBufferEx\n" + Waits("notifyCoreSDKEvent", 7) + kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    const std::vector<std::string> buffers = run.All("recv notifyTransBuffer(");
    ASSERT_EQ(buffers.size(), 4u) << run.Dump();
    const std::vector<std::pair<std::vector<std::string>, std::string>> groups = {
        {{buffers[0]}, below}, {{buffers[1]}, at}, {{buffers[2], buffers[3]}, above}};
    const std::vector<std::vector<size_t>> wantSizes = {{6140}, {6144}, {6144, 4}};
    for (size_t g = 0; g < groups.size(); ++g) {
        std::vector<size_t> sizes;
        std::string decoded;
        ASSERT_TRUE(Base64Decode(JoinBufferPieces(groups[g].first, 3, sizes), decoded));
        EXPECT_EQ(decoded, groups[g].second);
        EXPECT_EQ(sizes, wantSizes[g]);
    }
    // The Ex form, converted before it is encoded.
    const std::vector<std::string> ex = run.All("recv notifyTransBufferEx(");
    ASSERT_EQ(ex.size(), 1u);
    std::vector<size_t> sizes;
    std::string decoded;
    ASSERT_TRUE(Base64Decode(JoinBufferPieces(ex, 3, sizes), decoded));
    EXPECT_EQ(decoded, kZhangSan + "!");
    EXPECT_EQ(CallArgs(ex[0]).at(4), "1");

    // Events: whole up to 6144 bytes, else pieces under one identifier.
    const std::vector<std::string> ev = run.All("recv notifyCoreSDKEvent(");
    ASSERT_EQ(ev.size(), 7u) << run.Dump();
    EXPECT_EQ(CallArgs(ev[0]), (std::vector<std::string>{"standin-session", "5", events[0]}));
    EXPECT_EQ(CallArgs(ev[1]), (std::vector<std::string>{"standin-session", "5", events[1]}));
    const std::vector<std::vector<size_t>> eventSizes = {{6144, 1}, {6144, 6144, 1}};
    size_t next = 2;
    for (size_t e = 0; e < eventSizes.size(); ++e) {
        std::string joined, uuid;
        for (size_t p = 0; p < eventSizes[e].size(); ++p) {
            Json::Value piece;
            ASSERT_TRUE(Json::Reader().parse(CallArgs(ev[next + p]).at(2), piece)) << ev[next + p];
            EXPECT_EQ(piece.getMemberNames(),
                      (std::vector<std::string>{"content", "flag", "index", "spliceflag", "uuid"}));
            EXPECT_EQ(piece["content"].asString().size(), eventSizes[e][p]);
            EXPECT_EQ(piece["index"].asInt(), static_cast<int>(p + 1));
            EXPECT_EQ(piece["flag"].asInt(), p + 1 == eventSizes[e].size() ? 1 : 0);
            EXPECT_EQ(piece["spliceflag"].asInt(), 1);
            if (p == 0)
                uuid = piece["uuid"].asString();
            EXPECT_EQ(piece["uuid"].asString(), uuid);
            joined += piece["content"].asString();
        }
        EXPECT_EQ(joined, events[2 + e]);
        ASSERT_EQ(uuid.size(), 36u);
        for (size_t k = 0; k < uuid.size(); ++k) {
            const bool dash = k == 8 || k == 13 || k == 18 || k == 23;
            EXPECT_TRUE(dash ? uuid[k] == '-'
                             : (isdigit(static_cast<unsigned char>(uuid[k])) || (uuid[k] >= 'A' && uuid[k] <= 'F')))
                << uuid;
        }
        next += eventSizes[e].size();
    }
    EXPECT_NE(CallArgs(ev[2]).at(2), CallArgs(ev[4]).at(2));
}

TEST(Messages, ALongEventOfChineseTextReachesTheGatewayInPiecesOfWholeCharacters)
{
    // Eight bytes before the text put a character across the cut at 6144.
    std::string json = "{\"txt\":\"";
    while (json.size() < 20000)
        json += kZhangSan;
    json += "\"}";
    TempDir dir;
    SdkSetup sdk;
    // Sent once quillgate serves, so its callbacks are set.
    sdk.control = {{"call setGeneralParam(", "event 5 @" + WriteFile(dir, "event", json)}};
    const std::string script =
        std::string("wait initiateQiullgateDelegate\n") + kInit + Waits("notifyCoreSDKEvent", 4) + kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60, sdk);
    ASSERT_EQ(run.status, 0) << run.Dump();

    const std::vector<std::string> ev = run.All("recv notifyCoreSDKEvent(");
    ASSERT_EQ(ev.size(), 4u) << run.Dump();
    std::string joined;
    for (size_t i = 0; i < ev.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string text = CallArgs(ev[i]).at(2);
        EXPECT_TRUE(qgtest::IsUtf8(text));
        Json::Value piece;
        ASSERT_TRUE(Json::Reader().parse(text, piece)) << ev[i];
        const std::string content = piece["content"].asString();
        EXPECT_TRUE(qgtest::IsUtf8(content));
        EXPECT_LE(content.size(), 6144u);
        EXPECT_EQ(piece["index"].asInt(), static_cast<int>(i + 1));
        EXPECT_EQ(piece["flag"].asInt(), i + 1 == ev.size() ? 1 : 0);
        joined += content;
    }
    EXPECT_EQ(joined, json);
}

TEST(Messages, BrowserPiecesAreJoinedInOrderAndOutOfSequencePiecesRefused)
{
    TempDir dir;
    const std::string text = "{\"to\":\"" + kZhangSan + kZhangSan + "\"}";
    const std::string gb = "{\"to\":\"" + kZhangSanGb + kZhangSanGb + "\"}";
    const std::string script = std::string("wait initiateQiullgateDelegate\n") + kInitSplit +
                               "call transBuffer 2 2001 " + BrowserPiece(text.substr(0, 9), 1, 0) + "\n" +
                               // Index 3 after 1: refused, nothing sent, no reply.
                               "call transBuffer 3 2001 " + BrowserPiece(text.substr(9), 3, 1) + "\n" +
                               "call transBuffer 4 2001 " + BrowserPiece(text.substr(9, 6), 2, 0) + "\n" +
                               "call transBuffer 5 2001 " + BrowserPiece(text.substr(15), 3, 1) + "\n" +
                               "wait replyTransBuffer\n"
                               // The Ex form, restarted by an index 1 in the middle.
                               "call transBufferEx 6 2002 " +
                               BrowserPiece("old", 1, 0) + " 4 5 6\n" + "call transBufferEx 7 2002 " +
                               BrowserPiece("new", 1, 0) + " 4 5 6\n" + "call transBufferEx 8 2002 " +
                               BrowserPiece("er", 2, 1) + " 4 5 6\n" + "wait replyTransBufferEx\n" + kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    for (const char* line : {"call transBuffer(2, 2001, ", "call transBuffer(3, 2001, ", "call transBuffer(4, 2001, ",
                             "call transBuffer(5, 2001, "})
        ASSERT_GE(run.Out(line), 0) << line << "\n" << run.Dump();
    EXPECT_EQ(qgtest::CallResult(run, "transBuffer(3, 2001, "), "21");
    EXPECT_EQ(CountJournal(run, "CVAPI_TransBuffer "), 1);
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2001 " + Bytes(gb) + " "), 0) << text;
    EXPECT_GE(run.Journal("CVAPI_TransBufferEx 2002 " + Bytes("newer") + " 5 4 5 6 out = 0"), 0);
    EXPECT_EQ(run.All("recv replyTransBuffer("),
              (std::vector<std::string>{"recv replyTransBuffer(\"standin-session\", 5, 0) -> 0"}));
    EXPECT_EQ(run.All("recv replyTransBufferEx("),
              (std::vector<std::string>{"recv replyTransBufferEx(\"standin-session\", 8, 0, 1) -> 0"}));
    EXPECT_GE(run.Log("[doTransBuffer()]=21, line:"), 0) << run.Dump();
}

// Two gateway threads send two users' pieces at the same time.
TEST(Messages, TwoUsersJoiningFromTwoGatewayThreadsNeverMix)
{
    TempDir dir;
    const int kPieces = 40;
    std::string script = std::string("wait initiateQiullgateDelegate\n") + kInitSplit;
    std::string wantA, wantB;
    for (int i = 1; i <= kPieces; ++i) {
        const std::string a = "a" + std::to_string(i) + kZhangSan + ";";
        const std::string b = "b" + std::to_string(i) + ";";
        wantA += a;
        wantB += b;
        const int last = i == kPieces ? 1 : 0;
        script += "lane one call transBuffer " + std::to_string(100 + i) + " 2001 " + BrowserPiece(a, i, last) + "\n";
        script += "lane two call transBuffer " + std::to_string(200 + i) + " 2013 " + BrowserPiece(b, i, last) + "\n";
    }
    script += "join\n" + Waits("replyTransBuffer", 2) + kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 60);
    ASSERT_EQ(run.status, 0) << run.Dump();

    std::string gbA;
    for (int i = 1; i <= kPieces; ++i)
        gbA += "a" + std::to_string(i) + kZhangSanGb + ";";
    EXPECT_EQ(CountJournal(run, "CVAPI_TransBuffer "), 2);
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2001 " + Bytes(gbA) + " "), 0);
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2013 " + Bytes(wantB) + " "), 0);
    EXPECT_GE(run.Out("recv replyTransBuffer(\"standin-session\", 140, 0) -> 0"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyTransBuffer(\"standin-session\", 240, 0) -> 0"), 0) << run.Dump();
    EXPECT_EQ(run.All("recv replyTransBuffer(").size(), 2u);
    for (std::string line : run.All("call transBuffer(")) {
        // The call as sent, with its result taken wherever it was printed.
        line = line.substr(5, line.rfind(')') - 4);
        EXPECT_EQ(qgtest::CallResult(run, line), "0") << line;
    }
}

TEST(Messages, BadInputGetsACodeOrAClearRefusalAndNothingHalfSent)
{
    TempDir dir;
    const std::string big(900 * 1024, 'x');
    const std::string huge(3 * 1024 * 1024, 'y');
    const std::string script =
        std::string("wait initiateQiullgateDelegate\n") + kInit +
        // Whole buffers: empty, almost a megabyte, then beyond what one call may carry.
        "call transBuffer 2 2002 \"\"\n" + "call transBuffer 3 2001 " + ScriptText(big) + "\n" +
        "call transBuffer 4 2001 " + ScriptText(huge) + "\n" + "call sendTextMessage 5 2001 false \"\"\n" +
        Waits("replyTransBuffer", 2) + "wait replySendTextMessage\n" + kInitSplit +
        // Pieces that are no pieces.
        "call transBuffer 6 2002 \"not json\"\n"
        "call transBuffer 7 2002 \"\"\n"
        "call transBuffer 8 2002 \"{\\\"content\\\":\\\"a\\\",\\\"flag\\\":1}\"\n"
        "call transBuffer 9 2002 \"{\\\"content\\\":\\\"a\\\",\\\"flag\\\":1,\\\"index\\\":\\\"x\\\"}\"\n"
        "call transBufferEx 10 2002 \"[1,2]\" 0 0 0\n"
        // SDK control: unreadable JSON goes whole; a piece without index or with bad base64 does not.
        "call sdkControl 11 3 \"{not json\"\n"
        "wait replySDKControl\n"
        "call sdkControl 12 3 \"{\\\"spliceflag\\\":1,\\\"uuid\\\":\\\"u\\\"}\"\n"
        "call sdkControl 13 3 \"{\\\"content\\\":\\\"%%%\\\",\\\"flag\\\":1,\\\"index\\\":1,\\\"spliceflag\\\":1}\"\n"
        "call objectGetValue 14 5 777 8 1\n"
        "wait replyObjectGetValue\n"
        "call queryUserState 15 9999 15 0\n"
        "wait replyQueryUserState\n"
        // Still serving.
        "call getSDKOptionInt 16 26\n"
        "wait replyGetSDKOptionInt\n" +
        kEnd;
    const GatewayRun run = RunGateway(dir, {"-w", "10"}, script, 90);
    ASSERT_EQ(run.status, 0) << run.Dump().substr(0, 4000);

    // The printed outcome of the first call line starting with prefix:
    // its result, "fail" when Ice refused it, "missing" when never sent.
    const auto result = [&](const std::string& prefix) {
        const int at = run.Out(prefix);
        if (at < 0)
            return std::string("missing");
        const std::string sent = run.out[static_cast<size_t>(at)].substr(5);
        const int own = run.Out("result " + sent, at + 1);
        const std::string& line = own >= 0 ? run.out[static_cast<size_t>(own)] : sent;
        if (line.find(" fail: ") != std::string::npos)
            return std::string("fail");
        const size_t arrow = line.rfind(" -> ");
        return arrow == std::string::npos ? std::string("missing") : line.substr(arrow + 4);
    };
    EXPECT_EQ(result("call transBuffer(2, 2002, \"\")"), "0");
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2002 0: 0 = 0"), 0);
    EXPECT_EQ(result("call transBuffer(3, 2001, "), "0");
    EXPECT_GE(run.Journal("CVAPI_TransBuffer 2001 921600:"), 0);
    // Beyond Ice's message size: refused by Ice before quillgate sees it.
    EXPECT_EQ(result("call transBuffer(4, 2001, "), "fail");
    EXPECT_LT(run.Journal("CVAPI_TransBuffer 2001 3145728:"), 0);
    EXPECT_EQ(result("call sendTextMessage(5, 2001, false, \"\")"), "0");
    for (int id = 6; id <= 9; ++id)
        EXPECT_EQ(result("call transBuffer(" + std::to_string(id) + ", 2002, "), "21") << id;
    EXPECT_EQ(result("call transBufferEx(10, 2002, "), "21");
    EXPECT_EQ(CountJournal(run, "CVAPI_TransBuffer"), 2);
    EXPECT_EQ(run.All("recv replyTransBuffer(").size(), 2u) << run.Dump().substr(0, 4000);
    EXPECT_LT(run.Out("recv replyTransBufferEx("), 0);

    EXPECT_GE(run.Journal("CVAPI_SDKControl 3 \"{not json\" out 1024 = 0"), 0);
    EXPECT_EQ(result("call sdkControl(12, 3, "), "21");
    EXPECT_EQ(result("call sdkControl(13, 3, "), "21");
    EXPECT_EQ(CountJournal(run, "CVAPI_SDKControl "), 1);
    EXPECT_EQ(run.All("recv replySDKControl(").size(), 1u);
    EXPECT_GE(run.Out("recv replyObjectGetValue(\"standin-session\", 14, 8, \"\") -> 0"), 0) << run.Dump();
    EXPECT_GE(run.Out("recv replyQueryUserState(\"standin-session\", 15, 7, 9999, 15, \"-1\") -> 0"), 0);
    EXPECT_GE(run.Out("recv replyGetSDKOptionInt(\"standin-session\", 16, 0, 26, 1) -> 0"), 0);
    EXPECT_GE(run.Out("quillgate exit 0"), 0);
}

}  // namespace

// The stand-in SDK's CProtocolBase: the bytes each send builds, which hook a
// received datagram reaches (and that a pack that does not fit reaches
// none), and the journal lines. Expected bytes are written from the pack
// layout, not from the code.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quillgate/sdklink/protocol_base.h"
#include "tests/support/case_names.h"
#include "tests/support/test_support.h"

namespace {

using qgtest::Hex;

// Hex digits in groups separated by blanks.
std::string FromHex(std::string hex)
{
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Records every hook call as one line.
class Recorder : public CProtocolBase
{
public:
    std::vector<std::string> calls;
    int connectRequestResult = 42;
    const char* lastPack = nullptr;

    using CProtocolBase::OnReceiveData;

protected:
    int SendPacket(const char* data, uint32_t length, uint32_t ip, uint16_t port) override
    {
        calls.push_back("SendPacket " + Hex(data, length) + " " + std::to_string(ip) + " " + std::to_string(port));
        return 7;
    }
    void ResetLink() override { calls.push_back("ResetLink"); }
    int OnConnectRequest(uint32_t v1, uint32_t v2, uint32_t v3, uint32_t ip, uint16_t port) override
    {
        calls.push_back("OnConnectRequest " + std::to_string(v1) + " " + std::to_string(v2) + " " + std::to_string(v3) +
                        " " + std::to_string(ip) + " " + std::to_string(port));
        return connectRequestResult;
    }
    void OnConnected() override { calls.push_back("OnConnected"); }
    void OnLinkTimeCheck(const char* pack, uint32_t ip, uint16_t port) override
    {
        lastPack = pack;
        calls.push_back("OnLinkTimeCheck " + std::to_string(ip) + " " + std::to_string(port));
    }
    void OnSysExCmd(const char* pack, uint32_t ip, uint32_t port) override
    {
        lastPack = pack;
        calls.push_back("OnSysExCmd " + std::to_string(ip) + " " + std::to_string(port));
    }
};

// A system command: cmd 1000, params 1, -2, 3, 0x7fffffff, text "ab".
const char* const kSysCmd = "c701041e000000 e803 01000000 feffffff 03000000 ffffff7f 0200 6162 00";
const char* const kLinkCheck = "c7010315000000 0000 01000000 ffffffff 78563412";
const char* const kConnectRequest = "c7010113000000 0a000000 0b000000 0c000000";
const char* const kConnectResult = "c701021b000000 00000000 ffffffff 02000000 03000000 0100 78 00";

TEST(ProtocolBaseSend, BuildsEachPackByteForByteAndHandsItToTheSendHook)
{
    Recorder r;
    EXPECT_EQ(r.SendSYSTExCmdPack(1000, 1, -2, 3, 0x7fffffff, "ab", 0, 0x7f000001, 9000), 7);
    EXPECT_EQ(r.SendSYSTExCmdPack(1001, 0, 0, 0, 0, nullptr, 0, 0, 0), 7);
    // A given length takes that many bytes, whatever follows.
    EXPECT_EQ(r.SendSYSTExCmdPack(1004, 0, 0, 0, 0, "abc", 1, 1, 2), 7);
    EXPECT_EQ(r.SendSysLinkTimeCheckPack(1, 0xffffffff, 0x12345678, 3, 4), 7);
    EXPECT_EQ(r.SendConnectResultPack(0, -1, 2, 3, "x", 5, 6), 7);
    EXPECT_EQ(r.SendConnectResultPack(0, 0, 0, 0, nullptr, 5, 6), 7);
    const std::vector<std::string> want = {
        "SendPacket " + Hex(FromHex(kSysCmd)) + " 2130706433 9000",
        "SendPacket " + Hex(FromHex("c701041c000000 e903 00000000 00000000 00000000 00000000 0000 00")) + " 0 0",
        "SendPacket " + Hex(FromHex("c701041d000000 ec03 00000000 00000000 00000000 00000000 0100 61 00")) + " 1 2",
        "SendPacket " + Hex(FromHex(kLinkCheck)) + " 3 4",
        "SendPacket " + Hex(FromHex(kConnectResult)) + " 5 6",
        "SendPacket " + Hex(FromHex("c701021a000000 00000000 00000000 00000000 00000000 0000 00")) + " 5 6",
    };
    EXPECT_EQ(r.calls, want);
}

TEST(ProtocolBaseSend, RefusesATextNoDatagramCanCarry)
{
    Recorder r;
    // 65507 bytes is the largest datagram: a pack of 65508 is refused.
    const std::string big(65507 - 26 + 1, 'a');
    EXPECT_EQ(r.SendConnectResultPack(0, 0, 0, 0, big.c_str(), 0, 0), -1);
    EXPECT_EQ(r.SendSYSTExCmdPack(1000, 0, 0, 0, 0, big.c_str() + 2, 0, 0, 0), -1);
    EXPECT_TRUE(r.calls.empty());
    EXPECT_EQ(r.SendSYSTExCmdPack(1000, 0, 0, 0, 0, big.c_str() + 3, 0, 0, 0), 7);
    EXPECT_EQ(r.SendConnectResultPack(0, 0, 0, 0, big.c_str() + 1, 0, 0), 7);
    EXPECT_EQ(r.calls.size(), 2u);
}

struct ReceiveCase {
    const char* name;
    std::string hex;
    int result;        // of OnReceiveData
    const char* hook;  // the one call expected, or null for none
};
QG_PRINT_CASE_BY_NAME(ReceiveCase)

class ProtocolBaseReceive : public ::testing::TestWithParam<ReceiveCase>
{};

TEST_P(ProtocolBaseReceive, HandsOnlyWholePacksToTheirHook)
{
    const ReceiveCase& c = GetParam();
    Recorder r;
    // Exactly the datagram's bytes on the heap: a read past them is caught.
    const std::string bytes = FromHex(c.hex);
    std::vector<char> datagram(bytes.begin(), bytes.end());
    const char* data = datagram.empty() ? nullptr : datagram.data();
    EXPECT_EQ(r.OnReceiveData(data, static_cast<uint32_t>(datagram.size()), 2130706433, 9000, 0, 0, 1), c.result);
    if (!c.hook) {
        EXPECT_TRUE(r.calls.empty()) << r.calls[0];
        return;
    }
    ASSERT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.calls[0], c.hook);
    if (r.lastPack) {
        EXPECT_EQ(r.lastPack, data);  // the whole pack, head included
    }
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, ProtocolBaseReceive,
    ::testing::Values(
        ReceiveCase{"system command", kSysCmd, 0, "OnSysExCmd 2130706433 9000"},
        ReceiveCase{"system command with an empty text",
                    "c701041c000000 e903 00000000 00000000 00000000 00000000 0000 00", 0, "OnSysExCmd 2130706433 9000"},
        ReceiveCase{"link time check", kLinkCheck, 0, "OnLinkTimeCheck 2130706433 9000"},
        ReceiveCase{"connect request gives its hook's result", kConnectRequest, 42,
                    "OnConnectRequest 10 11 12 2130706433 9000"},
        ReceiveCase{"connect result 0 connects", kConnectResult, 0, "OnConnected"},
        ReceiveCase{"connect result not 0 resets the link",
                    "c701021b000000 05000000 ffffffff 02000000 03000000 0100 78 00", 0, "ResetLink"},
        ReceiveCase{"empty", "", -1, nullptr}, ReceiveCase{"head cut short", "c7010415000000", -1, nullptr},
        ReceiveCase{"six bytes", "c70104150000", -1, nullptr},
        ReceiveCase{"wrong first marker byte", "c8010315000000 0000 01000000 ffffffff 78563412", -1, nullptr},
        ReceiveCase{"wrong second marker byte", "c7020315000000 0000 01000000 ffffffff 78563412", -1, nullptr},
        ReceiveCase{"type 0", "c7010015000000 0000 01000000 ffffffff 78563412", -1, nullptr},
        ReceiveCase{"type 5", "c7010515000000 0000 01000000 ffffffff 78563412", -1, nullptr},
        ReceiveCase{"length field one more", "c7010316000000 0000 01000000 ffffffff 78563412", -1, nullptr},
        ReceiveCase{"length field one less", "c7010314000000 0000 01000000 ffffffff 78563412", -1, nullptr},
        ReceiveCase{"link time check one byte short", "c7010314000000 0000 01000000 ffffffff 785634", -1, nullptr},
        ReceiveCase{"link time check one byte long", "c7010316000000 0000 01000000 ffffffff 78563412 00", -1, nullptr},
        ReceiveCase{"system command before its text length", "c7010419000000 e803 01000000 feffffff 03000000 ffffff7f",
                    -1, nullptr},
        ReceiveCase{"system command text past the end",
                    "c701041e000000 e803 01000000 feffffff 03000000 ffffff7f 0300 6162 00", -1, nullptr},
        ReceiveCase{"system command without its NUL",
                    "c701041e000000 e803 01000000 feffffff 03000000 ffffff7f 0200 6162 63", -1, nullptr},
        ReceiveCase{"system command with a byte after its NUL",
                    "c701041f000000 e803 01000000 feffffff 03000000 ffffff7f 0200 6162 00 00", -1, nullptr},
        ReceiveCase{"connect result without its NUL", "c701021b000000 00000000 ffffffff 02000000 03000000 0100 78 79",
                    -1, nullptr}),
    qgtest::ByName());

TEST(ProtocolBaseReceive, NullDataReachesNoHook)
{
    Recorder r;
    EXPECT_EQ(r.OnReceiveData(nullptr, 30, 1, 2, 0, 0, 1), -1);
    EXPECT_TRUE(r.calls.empty());
}

TEST(ProtocolBaseJournal, WritesOneLinePerCallAfterTheHooksItRan)
{
    qgtest::TempDir dir;
    const std::string journal = dir.File("journal");
    setenv("QG_SDK_JOURNAL", journal.c_str(), 1);
    Recorder r;
    r.SendSYSTExCmdPack(1000, 1, -2, 3, 0x7fffffff, "a\"b\n", 0, 0x7f000001, 9000);
    const std::string bad = FromHex("c70104");
    r.OnReceiveData(bad.data(), 3, 1, 2, 0, 0, 1);
    const std::string cr = FromHex(kConnectRequest);
    r.OnReceiveData(cr.data(), 19, 0xffffffff, 2, 0, 0, 1);
    unsetenv("QG_SDK_JOURNAL");
    const std::vector<std::string> want = {
        "CProtocolBase::SendSYSTExCmdPack 1000 1 -2 3 2147483647 \"a\\\"b\\n\" 0 2130706433 9000 = 7",
        "CProtocolBase::OnReceiveData 3:c70104 1 2 0 0 1 = -1",
        "CProtocolBase::OnReceiveData 19:c70101130000000a0000000b0000000c -1 2 0 0 1 = 42",
    };
    EXPECT_EQ(qgtest::ReadLines(journal), want);
}

}  // namespace

// The service bridge over real UDP on loopback, with a socket of the test's
// as its parent: registration, result, goodbye, the answers it gives, the
// datagrams it must drop, and its stop and destruction.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "comm/serverutils/server_utils.h"
#include "quillgate/session/service_bridge.h"
#include "tests/support/case_names.h"
#include "tests/support/test_support.h"
#include "util/json_writer.h"

namespace {

const uint32_t kLoopback = 0x7f000001;

// ---- packs as the layout gives them (little-endian, 7-byte head) ----

void Put(std::string& p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p.push_back(static_cast<char>(v >> (8 * i)));
}

std::string Head(uint8_t type, size_t size)
{
    std::string p("\xC7\x01", 2);
    p.push_back(static_cast<char>(type));
    Put(p, static_cast<uint32_t>(size), 4);
    return p;
}

std::string SysCmd(uint16_t cmd, int32_t p1, int32_t p2, int32_t p3, int32_t p4, const std::string& text = "")
{
    std::string p = Head(4, 28 + text.size());
    Put(p, cmd, 2);
    for (int32_t v : {p1, p2, p3, p4})
        Put(p, static_cast<uint32_t>(v), 4);
    Put(p, static_cast<uint32_t>(text.size()), 2);
    return p + text + std::string(1, '\0');
}

std::string LinkCheck(uint32_t v1, uint32_t v2, uint32_t v3)
{
    std::string p = Head(3, 21);
    Put(p, 0, 2);
    for (uint32_t v : {v1, v2, v3})
        Put(p, v, 4);
    return p;
}

std::string ConnectRequest()
{
    std::string p = Head(1, 19);
    for (uint32_t v : {1u, 2u, 3u})
        Put(p, v, 4);
    return p;
}

std::string ConnectResult(int32_t r1)
{
    std::string p = Head(2, 26);
    for (int32_t v : {r1, 0, 0, 0})
        Put(p, static_cast<uint32_t>(v), 4);
    Put(p, 0, 2);
    return p + std::string(1, '\0');
}

int32_t I32(const std::string& p, size_t at)
{
    uint32_t v = 0;
    memcpy(&v, p.data() + at, 4);
    return static_cast<int32_t>(v);
}

// A received system command, read by the layout.
struct Command {
    int cmd = -1;
    int32_t param[4] = {0, 0, 0, 0};
    std::string text;
};

bool ReadCommand(const std::string& p, Command& out)
{
    if (p.size() < 28 || p[2] != 4)
        return false;
    out.cmd = static_cast<uint8_t>(p[7]) | static_cast<uint8_t>(p[8]) << 8;
    for (int i = 0; i < 4; ++i)
        out.param[i] = I32(p, 9 + 4 * i);
    const size_t n = static_cast<uint8_t>(p[25]) | static_cast<uint8_t>(p[26]) << 8;
    out.text = p.substr(27, n);
    return true;
}

// The test's end of the link: a UDP socket on 127.0.0.1.
class Peer
{
public:
    Peer()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address(kLoopback, 0);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t len = sizeof(a);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() { close(fd_); }
    uint16_t port() const { return port_; }

    void SendTo(uint16_t port, const std::string& bytes)
    {
        const sockaddr_in a = Address(kLoopback, port);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof(a));
    }
    // The next datagram within ms, or false. Waits that expect nothing say
    // how long; the default only ends a wait for a datagram that is due.
    bool Receive(std::string& out, int ms = 10000, uint16_t* fromPort = nullptr)
    {
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return false;
        std::vector<char> buf(65536);
        sockaddr_in from;
        socklen_t len = sizeof(from);
        const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return false;
        out.assign(buf.data(), static_cast<size_t>(n));
        if (fromPort)
            *fromPort = ntohs(from.sin_port);
        return true;
    }
    bool ReceiveCommand(Command& out, int ms = 10000)
    {
        std::string p;
        return Receive(p, ms) && ReadCommand(p, out);
    }

private:
    static sockaddr_in Address(uint32_t ip, uint16_t port)
    {
        sockaddr_in a;
        memset(&a, 0, sizeof(a));
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(ip);
        a.sin_port = htons(port);
        return a;
    }
    int fd_ = -1;
    uint16_t port_ = 0;
};

struct Event {
    int event;
    int param;
    std::string doc;  // compact JSON text
};

class Listener : public IServiceBridgeListener
{
public:
    void OnBridgeEvent(int event, int param, Json::Value doc) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        events_.push_back({event, param, cv::toStyledString(doc)});
        cv_.notify_all();
    }
    // The events once there are n of them (at most 10 s), or those there are.
    std::vector<Event> Wait(size_t n)
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return events_.size() >= n; });
        return events_;
    }
    std::vector<Event> Now() { return Wait(0); }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

class TestBridge : public CServiceBridge
{
public:
    // The threads end before this part of the object does.
    ~TestBridge() override { StopThreads(); }
    using CServiceBridge::OnLinkTimeCheck;
    using CServiceBridge::SendPacket;
};

std::string RecordText(const CS_SERVICEPROCESSINFO_STRUCT& rec)
{
    std::vector<char> text(20480, 0);
    CServerUtils::ServiceProcessInfo2Json(rec, text.data(), static_cast<unsigned>(text.size()));
    return text.data();
}

long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The count of threads not among `before` once it is n (at most 10 s), or
// what it is then.
int WaitNewThreads(const std::set<int>& before, int n)
{
    int now = qgtest::ThreadsBesides(before);
    for (int i = 0; i < 1000 && now != n; ++i) {
        usleep(10 * 1000);
        now = qgtest::ThreadsBesides(before);
    }
    return now;
}

// A bridge opened towards the peer, with a filled process record.
class BridgeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bridge.SetListener(&listener);
        std::string error;
        ASSERT_EQ(bridge.Open(0, kLoopback, parent.port(), &error), 0) << error;
        CS_SERVICEPROCESSINFO_STRUCT& rec = bridge.ProcessInfo();
        CServerUtils::InitServiceProcessInfo(&rec, 0x200000);
        rec.ver.Main = 8;
        rec.ver.Develop = 995;
        rec.LocalUDPPort = bridge.LocalPort();
    }
    // Runs the bridge and takes its first registration.
    void RunAndRegister(Command& first)
    {
        ASSERT_EQ(bridge.Run(), 0);
        ASSERT_TRUE(parent.ReceiveCommand(first));
        ASSERT_EQ(first.cmd, 1000);
    }

    Peer parent;
    Listener listener;
    TestBridge bridge;
};

TEST_F(BridgeTest, RunConnectsAndRegistersWithTheProcessRecordFromItsPort)
{
    ASSERT_EQ(bridge.Run(), 0);
    std::string pack;
    uint16_t from = 0;
    ASSERT_TRUE(parent.Receive(pack, 10000, &from));
    Command first;
    ASSERT_TRUE(ReadCommand(pack, first));
    EXPECT_EQ(first.cmd, 1000);
    for (int32_t p : first.param)
        EXPECT_EQ(p, 0);
    EXPECT_EQ(first.text, RecordText(bridge.ProcessInfo()));
    EXPECT_NE(first.text.find("\"LocalUDPPort\":" + std::to_string(from) + ","), std::string::npos) << first.text;
    EXPECT_TRUE(bridge.IsConnected());
    EXPECT_FALSE(bridge.IsRegistered());

    // Never answered: the stop says nothing and does not wait on its threads.
    const auto start = std::chrono::steady_clock::now();
    bridge.Stop();
    EXPECT_LT(MsSince(start), 1000);  // a join would wait out the 3 s resend
    std::string more;
    EXPECT_FALSE(parent.Receive(more, 300)) << qgtest::Hex(more);
    EXPECT_TRUE(listener.Now().empty());
}

struct ResultCase {
    const char* name;
    bool serverSide;
    int32_t param3;
    bool registered;
    bool logout;
};
QG_PRINT_CASE_BY_NAME(ResultCase)

class BridgeResult : public BridgeTest, public ::testing::WithParamInterface<ResultCase>
{};

TEST_P(BridgeResult, ReachesTheListenerAndDecidesTheGoodbye)
{
    const ResultCase& c = GetParam();
    bridge.SetServerSide(c.serverSide);
    Command first;
    RunAndRegister(first);
    parent.SendTo(bridge.LocalPort(), SysCmd(1001, 1, 2, c.param3, 4, "ok"));
    const std::vector<Event> events = listener.Wait(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, 2);
    EXPECT_EQ(events[0].param, c.param3);
    EXPECT_EQ(events[0].doc, "{\"cmd\":1001,\"param1\":1,\"param2\":2,\"param3\":" + std::to_string(c.param3) +
                                 ",\"param4\":4,\"strparam\":\"ok\"}");
    // The flag follows the listener's event on the receive thread.
    for (int i = 0; i < 1000 && bridge.IsRegistered() != c.registered; ++i)
        usleep(10 * 1000);
    EXPECT_EQ(bridge.IsRegistered(), c.registered);

    const auto start = std::chrono::steady_clock::now();
    bridge.Stop();
    EXPECT_LT(MsSince(start), 1000);  // a join would wait out the 3 s resend
    EXPECT_FALSE(bridge.IsRegistered() && !c.serverSide);
    Command bye;
    if (c.logout) {
        ASSERT_TRUE(parent.ReceiveCommand(bye));
        EXPECT_EQ(bye.cmd, 1004);
        for (int32_t p : bye.param)
            EXPECT_EQ(p, 0);
        EXPECT_EQ(bye.text, first.text);
    }
    // Exactly one goodbye at most, also after a second stop.
    bridge.Stop();
    EXPECT_FALSE(parent.ReceiveCommand(bye, 300)) << bye.cmd;
}

INSTANTIATE_TEST_SUITE_P(Results, BridgeResult,
                         ::testing::Values(ResultCase{"accepted child", false, 0, true, true},
                                           ResultCase{"refused child", false, 7, false, false},
                                           ResultCase{"accepted on the server side", true, 0, true, false}),
                         qgtest::ByName());

struct RegistrationCase {
    const char* name;
    bool listener;
};
QG_PRINT_CASE_BY_NAME(RegistrationCase)

class BridgeAnswers : public BridgeTest, public ::testing::WithParamInterface<RegistrationCase>
{};

TEST_P(BridgeAnswers, AChildsRegistrationGetsAnAcceptingResultAndItsGoodbyeIsHeard)
{
    if (!GetParam().listener)
        bridge.SetListener(nullptr);
    ASSERT_EQ(bridge.StartReceive(), 0);
    parent.SendTo(bridge.LocalPort(), SysCmd(1000, 5, -6, 9, 8, "child"));
    std::string pack;
    ASSERT_TRUE(parent.Receive(pack));
    EXPECT_EQ(qgtest::Hex(pack), qgtest::Hex(SysCmd(1001, 5, -6, 0, 8)));
    parent.SendTo(bridge.LocalPort(), SysCmd(1004, 0, 0, 3, 0, "gone"));
    if (!GetParam().listener)
        return;
    const std::vector<Event> events = listener.Wait(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, 1);
    EXPECT_EQ(events[0].param, 9);
    EXPECT_EQ(events[0].doc,
              "{\"cmd\":1000,\"param1\":5,\"param2\":-6,\"param3\":9,\"param4\":8,\"strparam\":\"child\"}");
    EXPECT_EQ(events[1].event, 3);
    EXPECT_EQ(events[1].param, 3);
    EXPECT_FALSE(bridge.IsRegistered());
}

INSTANTIATE_TEST_SUITE_P(Listeners, BridgeAnswers,
                         ::testing::Values(RegistrationCase{"with a listener", true},
                                           RegistrationCase{"without a listener", false}),
                         qgtest::ByName());

TEST_F(BridgeTest, LinkTimeChecksAreIgnoredByAChildAndAnsweredOnTheServerSide)
{
    ASSERT_EQ(bridge.StartReceive(), 0);
    parent.SendTo(bridge.LocalPort(), LinkCheck(1, 0xABCDEF01, 3));
    std::string pack;
    EXPECT_FALSE(parent.Receive(pack, 300)) << qgtest::Hex(pack);
    EXPECT_TRUE(listener.Now().empty());

    bridge.SetServerSide(true);
    parent.SendTo(bridge.LocalPort(), LinkCheck(1, 0xABCDEF01, 3));
    ASSERT_TRUE(parent.Receive(pack));
    EXPECT_EQ(qgtest::Hex(pack), qgtest::Hex(LinkCheck(0xFFFFFFFF, 0xFFFFFFFF, 0xABCDEF01)));
    const std::vector<Event> events = listener.Wait(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, 4);
    EXPECT_EQ(events[0].param, 0);
    EXPECT_EQ(events[0].doc, "null");
}

TEST_F(BridgeTest, AConnectRequestIsAnsweredWithAnEmptyConnectResult)
{
    ASSERT_EQ(bridge.StartReceive(), 0);
    parent.SendTo(bridge.LocalPort(), ConnectRequest());
    std::string pack;
    ASSERT_TRUE(parent.Receive(pack));
    EXPECT_EQ(qgtest::Hex(pack), qgtest::Hex(ConnectResult(0)));
}

TEST(ServiceBridge, SendPacketGoesToTheParentByDefaultAndSendsNothingWithoutASocket)
{
    TestBridge bridge;
    EXPECT_EQ(bridge.SendPacket("abc", 3, kLoopback, 9), 0);

    Peer parent, other;
    std::string error;
    ASSERT_EQ(bridge.Open(0, kLoopback, parent.port(), &error), 0) << error;
    std::string got;
    ASSERT_EQ(bridge.SendPacket("abc", 3, 0, 0), 0);
    ASSERT_TRUE(parent.Receive(got));
    EXPECT_EQ(got, "abc");
    ASSERT_EQ(bridge.SendPacket("de", 2, kLoopback, other.port()), 0);
    ASSERT_TRUE(other.Receive(got));
    EXPECT_EQ(got, "de");
    EXPECT_FALSE(parent.Receive(got, 100));
}

// A datagram that must reach no hook: built from a pack that would be
// answered (a 1000) or would change the link (a refused connect result).
struct BadCase {
    const char* name;
    std::string bytes;
};
QG_PRINT_CASE_BY_NAME(BadCase)

std::string Patched(std::string p, size_t at, const std::string& bytes)
{
    p.replace(at, bytes.size(), bytes);
    return p;
}

const std::string kRegister = SysCmd(1000, 1, 2, 3, 4, "ab");

class BridgeBadDatagram : public BridgeTest, public ::testing::WithParamInterface<BadCase>
{};

TEST_P(BridgeBadDatagram, ReachesNoHookAndChangesNothing)
{
    // Registered first, so a reset link would show.
    Command first;
    RunAndRegister(first);
    bridge.OnReceiveUDP(SysCmd(1001, 0, 0, 0, 0).data(), 28, kLoopback, parent.port());
    ASSERT_TRUE(bridge.IsRegistered());
    ASSERT_EQ(listener.Now().size(), 1u);

    const std::string& bytes = GetParam().bytes;
    std::vector<char> exact(bytes.begin(), bytes.end());  // a read past it is caught
    bridge.OnReceiveUDP(exact.data(), static_cast<uint32_t>(exact.size()), kLoopback, parent.port());
    std::string answer;
    EXPECT_FALSE(parent.Receive(answer, 200)) << qgtest::Hex(answer);
    EXPECT_EQ(listener.Now().size(), 1u);
    EXPECT_TRUE(bridge.IsRegistered());
    EXPECT_TRUE(bridge.IsConnected());
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, BridgeBadDatagram,
    ::testing::Values(BadCase{"short", kRegister.substr(0, 20)}, BadCase{"head only", kRegister.substr(0, 7)},
                      BadCase{"wrong marker", Patched(kRegister, 0, "\xC6")},
                      BadCase{"wrong type", Patched(kRegister, 2, "\x05")},
                      BadCase{"length field not the size", Patched(kRegister, 3, std::string("\x1f", 1))},
                      BadCase{"text past the end", Patched(kRegister, 25, std::string("\x09", 1))},
                      BadCase{"no NUL", Patched(kRegister, 29, "x")},
                      BadCase{"refused connect result cut short", ConnectResult(5).substr(0, 25)},
                      BadCase{"refused connect result without its NUL", Patched(ConnectResult(5), 25, "x")}),
    qgtest::ByName());

TEST_F(BridgeTest, AnotherSendersDatagramsNeverReachTheDecoder)
{
    ASSERT_EQ(bridge.StartReceive(), 0);
    Peer stranger;
    stranger.SendTo(bridge.LocalPort(), kRegister);
    std::string answer;
    EXPECT_FALSE(stranger.Receive(answer, 300)) << qgtest::Hex(answer);
    // The parent's own is still heard.
    parent.SendTo(bridge.LocalPort(), kRegister);
    EXPECT_TRUE(parent.Receive(answer));
    EXPECT_EQ(listener.Wait(1).size(), 1u);
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    bool ok;
    const char* json;
};
QG_PRINT_CASE_BY_NAME(DecodeCase)

class SysExCmdJson : public ::testing::TestWithParam<DecodeCase>
{};

TEST_P(SysExCmdJson, ReadsTheCommandWithinItsBytes)
{
    const DecodeCase& c = GetParam();
    std::vector<char> exact(c.bytes.begin(), c.bytes.end());  // a read past it is caught
    Json::Value out;
    ASSERT_EQ(CServiceBridge::SysExCmd2Json(exact.data(), static_cast<uint32_t>(exact.size()), out), c.ok);
    if (c.ok) {
        EXPECT_EQ(cv::toStyledString(out), c.json);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packs, SysExCmdJson,
    ::testing::Values(
        DecodeCase{"whole pack", SysCmd(1001, -1, 2, -3, 2147483647, "t"), true,
                   "{\"cmd\":1001,\"param1\":-1,\"param2\":2,\"param3\":-3,\"param4\":2147483647,\"strparam\":\"t\"}"},
        DecodeCase{"shorter than its fixed part", SysCmd(1001, 0, 0, 0, 0).substr(0, 26), false, ""},
        DecodeCase{"fixed part only", SysCmd(65535, 0, 0, 0, 0).substr(0, 27), true,
                   "{\"cmd\":65535,\"param1\":0,\"param2\":0,\"param3\":0,\"param4\":0,\"strparam\":\"\"}"},
        DecodeCase{"text without NUL ends with the bytes", SysCmd(1000, 0, 0, 0, 0, "abc").substr(0, 30), true,
                   "{\"cmd\":1000,\"param1\":0,\"param2\":0,\"param3\":0,\"param4\":0,\"strparam\":\"abc\"}"},
        DecodeCase{"text ends at its first NUL", SysCmd(1000, 0, 0, 0, 0, std::string("ab\0cd", 5)), true,
                   "{\"cmd\":1000,\"param1\":0,\"param2\":0,\"param3\":0,\"param4\":0,\"strparam\":\"ab\"}"}),
    qgtest::ByName());

TEST(ServiceBridge, HooksCalledOutsideADatagramReadNothing)
{
    Peer parent;
    Listener listener;
    TestBridge bridge;
    bridge.SetListener(&listener);
    bridge.SetServerSide(true);
    std::string error;
    ASSERT_EQ(bridge.Open(0, kLoopback, parent.port(), &error), 0) << error;
    const std::string check = LinkCheck(1, 2, 3);
    bridge.OnLinkTimeCheck(check.data(), kLoopback, parent.port());
    std::string answer;
    EXPECT_FALSE(parent.Receive(answer, 200));
    EXPECT_TRUE(listener.Now().empty());
}

TEST(ServiceBridge, DestroyingARunningBridgeJoinsItsThreadsAndSaysNoGoodbye)
{
    Peer parent;
    // A sanitizer may start a thread of its own with the first thread the
    // program makes: it is there before the count.
    pthread_t first;
    ASSERT_EQ(pthread_create(
                  &first, nullptr, [](void*) -> void* { return nullptr; }, nullptr),
              0);
    pthread_join(first, nullptr);
    const std::set<int> threads = qgtest::ThreadIds();
    {
        CServiceBridge bridge;
        std::string error;
        ASSERT_EQ(bridge.Open(0, kLoopback, parent.port(), &error), 0) << error;
        ASSERT_EQ(bridge.Run(), 0);
        Command first;
        ASSERT_TRUE(parent.ReceiveCommand(first));
        parent.SendTo(bridge.LocalPort(), SysCmd(1001, 0, 0, 0, 0));
        for (int i = 0; i < 1000 && !bridge.IsRegistered(); ++i)
            usleep(10 * 1000);
        ASSERT_TRUE(bridge.IsRegistered());
        EXPECT_EQ(WaitNewThreads(threads, 1), 1);  // the repeats ended with the result
    }
    EXPECT_EQ(qgtest::ThreadsBesides(threads), 0);
    std::string bye;
    EXPECT_FALSE(parent.Receive(bye, 300)) << qgtest::Hex(bye);
}

TEST(ServiceBridge, OpenFailsWithItsReasonOnAPortInUse)
{
    Peer parent, holder;
    CServiceBridge bridge;
    std::string error;
    // The holder's port is bound on 127.0.0.1; the bridge binds every address.
    EXPECT_EQ(bridge.Open(holder.port(), kLoopback, parent.port(), &error), -1);
    EXPECT_EQ(error.rfind("bind: ", 0), 0u) << error;
    EXPECT_EQ(bridge.LocalPort(), 0);
    bridge.Stop();
}

}  // namespace

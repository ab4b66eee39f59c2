// Session control pieces: address parsing, the heartbeat rule, the log
// road into the SDK, and the gateway client over real Ice on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/corvane_quillgate.h"
#include "quillgate/session/rpc_quillgate.h"
#include "tests/support/gateway_run.h"
#include "tests/support/case_names.h"
#include "util/cv_ioutils.h"

using qgtest::GatewayRun;
using qgtest::ReadLines;
using qgtest::TempDir;

// ---- host:port parsing ----

struct HostPortCase {
    const char* name;
    const char* text;
    int ret;
    const char* host;  // expected host when ret is 0
    uint32_t port;
};
QG_PRINT_CASE_BY_NAME(HostPortCase)

class HostPort : public ::testing::TestWithParam<HostPortCase>
{};

TEST_P(HostPort, SplitsOrLeavesUntouched)
{
    const HostPortCase& c = GetParam();
    char host[64];
    memset(host, 'z', sizeof(host));
    host[sizeof(host) - 1] = '\0';
    uint32_t port = 77;
    ASSERT_EQ(CCorvaneQuillgate::ParseHostPort(c.text, host, sizeof(host), &port), c.ret) << c.text;
    if (c.ret == 0) {
        EXPECT_STREQ(host, c.host);
        EXPECT_EQ(port, c.port);
    } else {
        EXPECT_EQ(host[0], 'z');
        EXPECT_EQ(port, 77u);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, HostPort,
                         ::testing::Values(HostPortCase{"host and port", "10.0.0.5:9000", 0, "10.0.0.5", 9000},
                                           HostPortCase{"no colon", "10.0.0.5", -1, nullptr, 0},
                                           HostPortCase{"empty", "", -1, nullptr, 0},
                                           HostPortCase{"no host", ":9000", -1, nullptr, 0},
                                           HostPortCase{"port not a number", "abc:xyz", 0, "abc", 0},
                                           HostPortCase{"leading and repeated colons", "::a::1", 0, "a", 1},
                                           HostPortCase{"second port ignored", "h:1:2", 0, "h", 1}),
                         qgtest::ByName());

TEST(HostPortLimits, ReadsAtMost99CharactersAndCutsTheHostToItsBuffer)
{
    // The colon at position 99 lies beyond what is read: no port.
    const std::string longHost(99, 'h');
    char host[16] = {0};
    uint32_t port = 0;
    EXPECT_EQ(CCorvaneQuillgate::ParseHostPort((longHost + ":5").c_str(), host, sizeof(host), &port), -1);

    const std::string host98(98, 'h');
    ASSERT_EQ(CCorvaneQuillgate::ParseHostPort((host98 + ":5").c_str(), host, sizeof(host), &port), -1);
    const std::string host97(97, 'h');
    ASSERT_EQ(CCorvaneQuillgate::ParseHostPort((host97 + ":5").c_str(), host, sizeof(host), &port), 0);
    EXPECT_EQ(std::string(host), std::string(15, 'h'));
    EXPECT_EQ(port, 5u);
}

TEST(HostPortLimits, GatewayAddressIsHostOrderFirstOctetHigh)
{
    uint32_t ip = 0;
    uint32_t port = 0;
    ASSERT_EQ(CCorvaneQuillgate::ParseIpPort("10.0.0.5:9000", &ip, &port), 0);
    EXPECT_EQ(ip, 0x0A000005u);
    EXPECT_EQ(port, 9000u);
    EXPECT_EQ(rpcCorvaneQuillgate::GatewayProxyText(0x7F000001u, 8941),
              "CorvaneWebRtcGWServer:default -h 127.0.0.1 -p 8941");
}

// ---- heartbeat watchdog rule ----

struct BeatCase {
    const char* name;
    uint32_t lastBeat;
    uint32_t now;
    bool expired;
};
QG_PRINT_CASE_BY_NAME(BeatCase)

class Heartbeat : public ::testing::TestWithParam<BeatCase>
{};

TEST_P(Heartbeat, FiresOnlyPast30000ms)
{
    const BeatCase& c = GetParam();
    EXPECT_EQ(CConnectMgr::HeartbeatExpired(c.now, c.lastBeat), c.expired) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Ticks, Heartbeat,
                         ::testing::Values(BeatCase{"never armed", 0, 4000000000u, false},
                                           BeatCase{"fresh", 1000, 1005, false},
                                           BeatCase{"exactly 30000", 1000, 31000, false},
                                           BeatCase{"30001", 1000, 31001, true},
                                           BeatCase{"wraps past 2^32", 0xFFFFFF00u, 0xFFFFFF00u + 30001u, true},
                                           BeatCase{"wraps, still fresh", 0xFFFFFF00u, 0x00000100u, false},
                                           BeatCase{"clock behind the beat", 100000, 100000 - 30001, true}),
                         qgtest::ByName());

// ---- the log road and the gateway client ----

// One SDK started for the whole program, its log in a temporary folder.
class SessionControl : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir();
        setenv("QG_SDK_LOG", dir_->File("sdk.log").c_str(), 1);
        ASSERT_EQ(CConnectMgr::GetInstance().Init(), 0);
    }
    static void TearDownTestSuite()
    {
        CConnectMgr::GetInstance().Release();
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { CConnectMgr::GetInstance().SetLogLevel(4); }

    static std::vector<std::string> LogLines() { return ReadLines(dir_->File("sdk.log")); }

    static TempDir* dir_;
};

TempDir* SessionControl::dir_ = nullptr;

TEST_F(SessionControl, LogKeepsLinesAtTheThresholdWithPrefixAndCutsLongOnes)
{
    const size_t before = LogLines().size();
    CConnectMgr::Log(4, "kept %d", 4);
    CConnectMgr::Log(2, "dropped %d", 2);
    CConnectMgr::GetInstance().SetLogLevel(16);
    CConnectMgr::Log(4, "dropped %d", 4);
    CConnectMgr::Log(16, "failure %s", "kept");
    CConnectMgr::GetInstance().SetLogLevel(0);
    CConnectMgr::Log(1, "%s", std::string(9000, 'x').c_str());

    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), before + 3);
    EXPECT_EQ(lines[before], "[proxy] kept 4");
    EXPECT_EQ(lines[before + 1], "[proxy] failure kept");
    EXPECT_EQ(lines[before + 2], "[proxy] " + std::string(8191, 'x'));
}

TEST_F(SessionControl, BeforeRegistrationEveryCallIsRefusedSilently)
{
    // Only failure lines matter here (logout writes its own level-4 line).
    CConnectMgr::GetInstance().SetLogLevel(16);
    const size_t before = LogLines().size();
    rpcCorvaneQuillgateHandle rpc = new rpcCorvaneQuillgate("sess-none");
    EXPECT_EQ(rpc->replyLogin(1, 2, 3), -1);
    EXPECT_EQ(rpc->replyLogout(1, 0), -1);
    EXPECT_EQ(rpc->notifyCoreSDKEvent("sess-none", 1, "{}"), -1);
    EXPECT_EQ(rpc->notifyTransBuffer("sess-none", 1, 2, "b"), -1);
    // Nor does the manager without a servant.
    CConnectMgr::GetInstance().SetServant(nullptr);
    EXPECT_EQ(CConnectMgr::GetInstance().NotifyAppConfigInfo(), -1);
    EXPECT_EQ(CConnectMgr::GetInstance().Logout(9), -1);
    EXPECT_EQ(CConnectMgr::GetInstance().NotifyLinkClose(3), -1);
    EXPECT_EQ(LogLines().size(), before);
}

// A stand-in gateway without a quillgate of its own; the servant of this
// test registers with it.
class GatewayProcess
{
public:
    GatewayProcess(const TempDir& dir, const std::string& script) : out_(dir.File("gw.out"))
    {
        const std::string scriptPath = dir.File("gw.script");
        std::ofstream(scriptPath) << script;
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDOUT_FILENO);
            const std::string bin = qgtest::BinDir() + "/standin-gateway";
            execl(bin.c_str(), bin.c_str(), "-n", "-Q", "-S", scriptPath.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~GatewayProcess()
    {
        if (pid_ > 0 && !Wait(10)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Port it listens on, 0 when it did not come up within 10 s.
    int Port()
    {
        for (int i = 0; i < 200; ++i) {
            const std::vector<std::string> lines = Lines();
            const int at = GatewayRun::Find(lines, "listening 127.0.0.1:");
            if (at >= 0)
                return atoi(lines[at].c_str() + strlen("listening 127.0.0.1:"));
            usleep(50 * 1000);
        }
        return 0;
    }
    // Waits (bounded) until a line starting with prefix has been printed.
    bool WaitLine(const std::string& prefix)
    {
        for (int i = 0; i < 200; ++i) {
            if (GatewayRun::Find(Lines(), prefix) >= 0)
                return true;
            usleep(50 * 1000);
        }
        return false;
    }
    bool Wait(int sec)
    {
        for (int i = 0; i < sec * 20; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            usleep(50 * 1000);
        }
        return false;
    }
    std::vector<std::string> Lines() const { return ReadLines(out_); }

private:
    std::string out_;
    pid_t pid_;
};

TEST_F(SessionControl, GatewayClientSendsOwnSessionAndSyncCallsIgnoreTheAnswer)
{
    TempDir dir;
    GatewayProcess gateway(dir, "answer notifyCoreSDKEvent 7\n"
                                "wait initiateQiullgateDelegate\n"
                                "wait replyLogin\n"
                                "wait notifyCoreSDKEvent\n"
                                "wait notifyUserAtRoom\n"
                                "exit\n");
    const int port = gateway.Port();
    ASSERT_GT(port, 0);

    rpcCorvaneQuillgateHandle rpc = new rpcCorvaneQuillgate("sess-unit");
    ASSERT_EQ(rpc->Init(CV_IOUtils::IPString2Num("127.0.0.1"), port, "10.0.0.7", 3478), 0);
    EXPECT_TRUE(rpc->IsConnected());
    CConnectMgr& mgr = CConnectMgr::GetInstance();
    EXPECT_EQ(mgr.GetStunServer(), "stun:10.0.0.7:3478");

    // Replies carry the servant's own session id, whatever the manager holds.
    mgr.SetSessionId("mgr-session");
    EXPECT_EQ(rpc->replyLogin(5, 1001, 0), 0);
    ASSERT_TRUE(gateway.WaitLine("recv replyLogin(\"sess-unit\", 5, 1001, 0)"));
    // A synchronous notification answered with 7 still yields 0.
    EXPECT_EQ(mgr.NotifyCoreSDKEvent(23, "{\"a\":1}"), 0);
    EXPECT_GE(GatewayRun::Find(gateway.Lines(), "recv notifyCoreSDKEvent(\"mgr-session\", 23, \"{\\\"a\\\":1}\") -> 7"),
              0);
    // A user entering is passed on unchanged.
    EXPECT_EQ(mgr.NotifyUserAtRoom(0, 2001, "guest", true, 1, 2), 0);
    ASSERT_TRUE(gateway.WaitLine("recv notifyUserAtRoom(\"mgr-session\", 0, 2001, \"guest\", true, 1, 2)"));

    // The gateway goes away: synchronous calls fail and say so.
    ASSERT_TRUE(gateway.Wait(10));
    EXPECT_EQ(rpc->notifyTransBuffer("sess-unit", 1, 2, "x"), -1);
    const std::vector<std::string> log = LogLines();
    EXPECT_GE(GatewayRun::Find(log, "[proxy] rpc notifyTransBuffer fail: "), 0);

    rpc->Release();
    rpc->Release();  // a second stop is harmless
    mgr.SetServant(nullptr);
}

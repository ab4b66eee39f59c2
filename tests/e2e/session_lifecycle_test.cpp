// quillgate's whole life against the stand-in gateway: registration,
// start-up log, heartbeat, and every way the session ends.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/e2e/call_result.h"
#include "tests/support/gateway_run.h"

using qgtest::CallResult;
using qgtest::GatewayRun;
using qgtest::RunGateway;
using qgtest::TempDir;

namespace {

int StartedPid(const GatewayRun& run)
{
    const int i = run.Out("started pid ");
    return i < 0 ? -1 : atoi(run.out[i].c_str() + strlen("started pid "));
}

std::string ListeningPort(const GatewayRun& run)
{
    const int i = run.Out("listening 127.0.0.1:");
    return i < 0 ? "" : run.out[i].substr(strlen("listening 127.0.0.1:"));
}

}  // namespace

TEST(SessionStart, RegistersLogsStartUpInOrderAndAnswersHeartbeat)
{
    TempDir dir;
    const GatewayRun run = RunGateway(dir, {"-s", "sess-42"},
                                      "wait initiateQiullgateDelegate\n"
                                      "call heartBeat\n"
                                      "stdin \"q\"\n",
                                      60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    const int pid = StartedPid(run);
    ASSERT_GT(pid, 0) << run.Dump();

    const std::string reg =
        "recv initiateQiullgateDelegate(\"sess-42\", " + std::to_string(pid) + ", \"CorvaneWebRtcQuillgate ";
    const int regLine = run.Out(reg);
    ASSERT_GE(regLine, 0) << run.Dump();
    EXPECT_NE(run.out[regLine].find("-h 127.0.0.1"), std::string::npos) << run.out[regLine];
    EXPECT_NE(run.out[regLine].find(") -> 0"), std::string::npos) << run.out[regLine];
    EXPECT_EQ(CallResult(run, "heartBeat()"), "0") << run.Dump();
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
    // quillgate's own stdout and stderr share the gateway's output: Ice warned nothing there.
    for (const std::string& line : run.out)
        EXPECT_EQ(line.find("warning"), std::string::npos) << line;

    // The start-up lines, in this order.
    const std::string port = ListeningPort(run);
    const std::vector<std::string> startUp = {
        "Success start quillgate service on pid=" + std::to_string(pid),
        "Corvane Quillgate Cmdline:{",
        "Corvane Quillgate Init,V8.0.r995, Build Time:",
        "Corvane Quillgate VersionSHA=",
        "rpc init proxy endpoints(CorvaneWebRtcGWServer:default -h 127.0.0.1 -p " + port + "), sessionid:sess-42",
        "connect rpcServer Success! result:0",
        "---> [OnServiceStop] ...",
        "rpc thread terminate.",
        "<--- [OnServiceStop] ...",
    };
    int at = 0;
    for (const std::string& line : startUp) {
        at = run.Log(line, at);
        ASSERT_GE(at, 0) << "missing or out of order: " << line << "\n" << run.Dump();
    }
    const std::string& cmdline = run.sdkLog[run.Log("Corvane Quillgate Cmdline:")];
    EXPECT_NE(cmdline.find("\"serviceGuid\":\"sess-42\""), std::string::npos) << cmdline;
    EXPECT_NE(cmdline.find("\"hostaddr\":\"127.0.0.1:" + port + "\""), std::string::npos) << cmdline;

    const std::string& sha = run.sdkLog[run.Log("Corvane Quillgate VersionSHA=")];
    const std::string hex = sha.substr(sha.find('=') + 1);
    ASSERT_EQ(hex.size(), 40u) << sha;
    for (char c : hex)
        EXPECT_TRUE(isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f')) << sha;
}

// One way for the session to end: how the gateway is run, what it scripts,
// and what must be seen.
struct EndCase {
    const char* name;
    std::vector<std::string> args;
    const char* script;
    const char* exitLine;      // the gateway's report of quillgate's end
    const char* logLine;       // a line quillgate must have written
    const char* forbiddenLog;  // a line it must not have written, or null
    const char* gatewayLine;   // a line the gateway must have printed, or null
    int limitSec;
};

std::ostream& operator<<(std::ostream& os, const EndCase& c)
{
    return os << c.name;
}

class SessionEnd : public ::testing::TestWithParam<EndCase>
{};

TEST_P(SessionEnd, EndsWithItsStatusAndLine)
{
    const EndCase& c = GetParam();
    TempDir dir;
    const GatewayRun run = RunGateway(dir, c.args, c.script, c.limitSec);
    ASSERT_EQ(run.status, 0) << run.Dump();
    EXPECT_GE(run.Out(c.exitLine), 0) << run.Dump();
    EXPECT_GE(run.Log(c.logLine), 0) << run.Dump();
    if (c.forbiddenLog) {
        EXPECT_LT(run.Log(c.forbiddenLog), 0) << run.Dump();
    }
    if (c.gatewayLine) {
        EXPECT_GE(run.Out(c.gatewayLine), 0) << run.Dump();
    }
    EXPECT_LT(run.Out("quillgate killed"), 0) << run.Dump();
}

const char* const kHeartbeatTimeout = "CConnectMgr::OnTimer: heartbeat timeout, exit proxy!";

INSTANTIATE_TEST_SUITE_P(Exits, SessionEnd,
                         ::testing::Values(EndCase{"HostaddrWithoutPort",
                                                   {"-H", "127.0.0.1"},
                                                   "",
                                                   "quillgate exit 255",
                                                   "Corvane Quillgate cmdline analysis fail!",
                                                   "rpc init proxy",
                                                   nullptr,
                                                   30},
                                           EndCase{"HostaddrOnlyAPort",
                                                   {"-H", ":9000"},
                                                   "",
                                                   "quillgate exit 255",
                                                   "Corvane Quillgate cmdline analysis fail!",
                                                   "rpc init proxy",
                                                   nullptr,
                                                   30},
                                           EndCase{"RegistrationRefused",
                                                   {"-r", "3"},
                                                   "",
                                                   "quillgate exit 255",
                                                   "session is not exist! will exit...",
                                                   "rpc thread terminate.",
                                                   "recv initiateQiullgateDelegate(",
                                                   30},
                                           EndCase{"QuitOnStandardInput",
                                                   {},
                                                   "wait initiateQiullgateDelegate\nstdin \"xq\"\n",
                                                   "quillgate exit 0",
                                                   "<--- [OnServiceStop] ...",
                                                   kHeartbeatTimeout,
                                                   nullptr,
                                                   30},
                                           // -w 10: the gateway kills a quillgate that is not gone 10 s after the reply.
                                           EndCase{"LogoutRepliesThenExits",
                                                   {"-w", "10"},
                                                   "wait initiateQiullgateDelegate\ncall logout 7\n"
                                                   "wait replyLogout\n",
                                                   "quillgate exit 0",
                                                   "<--- [OnServiceStop] ...",
                                                   nullptr,
                                                   "recv replyLogout(\"standin-session\", 7, 0)",
                                                   30},
                                           EndCase{"GatewayGone",
                                                   {"-x", "2"},
                                                   "",
                                                   "quillgate exit 0",
                                                   "connect gw server fail! count:21, will exit...",
                                                   "connect gw server fail! count:20",
                                                   "gone",
                                                   120},
                                           EndCase{"HeartbeatSilence",
                                                   {"-1"},
                                                   "",
                                                   "quillgate exit 0",
                                                   kHeartbeatTimeout,
                                                   nullptr,
                                                   "call heartBeat()",
                                                   120},
                                           // Without a first heartbeat the watchdog never fires: q ends it after 33 s.
                                           EndCase{"NoHeartbeatNoWatchdog",
                                                   {},
                                                   "wait initiateQiullgateDelegate\nsleep 33000\nstdin \"q\"\n",
                                                   "quillgate exit 0",
                                                   "<--- [OnServiceStop] ...",
                                                   kHeartbeatTimeout,
                                                   nullptr,
                                                   120}),
                         [](const ::testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

TEST(SessionDaemon, LauncherExitsAtOnceAndDaemonRegistersWithItsOwnPid)
{
    TempDir dir;
    const GatewayRun run = RunGateway(dir, {"-w", "10", "--", "-d"},
                                      "wait initiateQiullgateDelegate\n"
                                      "call logout 1\n"
                                      "wait replyLogout\n",
                                      60);
    ASSERT_EQ(run.status, 0) << run.Dump();
    const int launcher = StartedPid(run);
    const int reg = run.Out("recv initiateQiullgateDelegate(\"standin-session\", ");
    ASSERT_GE(reg, 0) << run.Dump();
    const int daemonPid = atoi(run.out[reg].c_str() + strlen("recv initiateQiullgateDelegate(\"standin-session\", "));
    EXPECT_GT(daemonPid, 0);
    EXPECT_NE(daemonPid, launcher);
    EXPECT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
    EXPECT_GE(run.Out("daemon pid " + std::to_string(daemonPid) + " exited"), 0) << run.Dump();
    EXPECT_GE(run.Log("Success start quillgate service on pid=" + std::to_string(daemonPid)), 0) << run.Dump();
}

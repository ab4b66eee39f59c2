// A bad gateway and a bad network, with the real programs over loopback:
// the gateway frozen and continued, killed, flooding the session with
// requests, and a hundred sessions in a row. Every run is bounded in time.
// (A gateway that answers registration and then closes its port is
// SessionEnd/GatewayGone; one that accepts connections and never answers
// takes about 150 s and is scripts/silent_gateway.sh.)
#include <gtest/gtest.h>

#include <Ice/Ice.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <set>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/gateway_run.h"
#include "tests/support/recording_servants.h"

using qgtest::GatewayRun;
using qgtest::ReadLines;
using qgtest::TempDir;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif

// Orphaned quillgates come to this process, so their end can be seen.
void BecomeSubreaper()
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// Entries of a folder, "." and ".." aside.
std::set<std::string> Entries(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.insert(e->d_name);
        }
        closedir(d);
    }
    return names;
}

// Pids of the live processes whose parent is this one.
std::vector<int> Children()
{
    std::vector<int> pids;
    for (const std::string& name : Entries("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream in("/proc/" + name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0;
        if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == getpid())
            pids.push_back(atoi(name.c_str()));
    }
    return pids;
}

// Resident set of a process in KiB, -1 when unknown.
long RssKb(pid_t pid)
{
    for (const std::string& line : ReadLines("/proc/" + std::to_string(pid) + "/status")) {
        if (line.compare(0, 6, "VmRSS:") == 0)
            return atol(line.c_str() + 6);
    }
    return -1;
}

// The stand-in gateway as a process of this test, which can freeze and
// kill it.
class Gateway
{
public:
    Gateway(const TempDir& dir, const std::vector<std::string>& args, const std::string& script)
        : out_(dir.File("gateway.out"))
    {
        const std::string scriptPath = dir.File("script");
        std::ofstream(scriptPath) << script;
        std::vector<std::string> argv = {qgtest::BinDir() + "/standin-gateway", "-Q", "-S", scriptPath};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            setenv("QG_SDK_LOG", dir.File("sdk.log").c_str(), 1);
            unsetenv("QG_SDK_JOURNAL");
            unsetenv("QG_SDK_CONTROL");
            unsetenv("QG_SDK_SCENARIO");
            const int fd = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            std::vector<char*> cargv;
            for (std::string& a : argv)
                cargv.push_back(&a[0]);
            cargv.push_back(nullptr);
            execv(cargv[0], cargv.data());
            _exit(127);
        }
    }
    ~Gateway()
    {
        if (pid_ > 0) {
            kill(pid_, SIGCONT);
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    std::vector<std::string> Lines() const { return ReadLines(out_); }
    // Waits, at most ms, for a line starting with prefix; its index or -1.
    int WaitLine(const std::string& prefix, int ms = 20000) const
    {
        for (int waited = 0; waited <= ms; waited += 20) {
            const int at = GatewayRun::Find(Lines(), prefix);
            if (at >= 0)
                return at;
            usleep(20 * 1000);
        }
        return -1;
    }
    int QuillgatePid() const
    {
        const int at = WaitLine("started pid ");
        return at < 0 ? -1 : atoi(Lines()[at].c_str() + strlen("started pid "));
    }
    // Its exit status once it ended within sec seconds, else -1.
    int Wait(int sec)
    {
        int status = 0;
        for (int waited = 0; waited <= sec * 1000; waited += 20) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(20 * 1000);
        }
        return -1;
    }
    std::string Dump() const
    {
        std::string text;
        for (const std::string& l : Lines())
            text += "  " + l + "\n";
        return text;
    }

private:
    std::string out_;
    pid_t pid_ = -1;
};

// Exit status of an orphaned quillgate that came to this process, once it
// ended within sec seconds; -1 otherwise (it is killed then).
int WaitOrphan(pid_t pid, int sec)
{
    int status = 0;
    for (int waited = 0; waited <= sec * 1000; waited += 20) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(20 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

const char kSessionScript[] = "wait initiateQiullgateDelegate\n"
                              "call login 1 \"127.0.0.1:8906\" \"alice\" \"pw\" 0 \"{}\"\n"
                              "wait replyLogin\n"
                              "call logout 2\n"
                              "wait replyLogout\n";

}  // namespace

TEST(GatewayFault, FrozenForTenSecondsThenContinuedTheSessionGoesOn)
{
    TempDir dir;
    Gateway gw(dir, {"-b", "1000", "-w", "20"},
               "wait initiateQiullgateDelegate\n"
               "sleep 11000\n"
               "call login 1 \"127.0.0.1:8906\" \"alice\" \"pw\" 0 \"{}\"\n"
               "wait replyLogin\n"
               "call logout 2\n"
               "wait replyLogout\n");
    ASSERT_GE(gw.WaitLine("recv initiateQiullgateDelegate("), 0) << gw.Dump();
    ASSERT_EQ(kill(gw.pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    ASSERT_EQ(kill(gw.pid(), SIGCONT), 0);

    EXPECT_EQ(gw.Wait(60), 0) << gw.Dump();
    const std::vector<std::string> out = gw.Lines();
    EXPECT_GE(GatewayRun::Find(out, "recv replyLogin(\"standin-session\", 1, 1001, 0)"), 0) << gw.Dump();
    EXPECT_GE(GatewayRun::Find(out, "quillgate exit 0"), 0) << gw.Dump();
    // Still the session it was: it never gave up on the gateway.
    const std::vector<std::string> log = ReadLines(dir.File("sdk.log"));
    EXPECT_LT(GatewayRun::Find(log, "[proxy] connect gw server fail! count:21"), 0);
}

TEST(GatewayFault, KilledGatewayEndsTheSessionByItself)
{
    BecomeSubreaper();
    TempDir dir;
    Gateway gw(dir, {"-b", "1000"}, "wait initiateQiullgateDelegate\nsleep 60000\n");
    const int quillgate = gw.QuillgatePid();
    ASSERT_GT(quillgate, 0) << gw.Dump();
    ASSERT_GE(gw.WaitLine("recv initiateQiullgateDelegate("), 0) << gw.Dump();
    ASSERT_EQ(kill(gw.pid(), SIGKILL), 0);
    gw.Wait(10);

    // 21 failed attempts a second apart, then a clean end.
    EXPECT_EQ(WaitOrphan(quillgate, 60), 0);
    const std::vector<std::string> log = ReadLines(dir.File("sdk.log"));
    EXPECT_GE(GatewayRun::Find(log, "[proxy] connect gw server fail! count:21, will exit..."), 0);
    EXPECT_GE(GatewayRun::Find(log, "[proxy] <--- [OnServiceStop] ..."), 0);
}

namespace {

// The gateway side of the flood: takes the registration and counts the
// replies per request id.
class FloodGateway : public RecordingGateway
{
public:
    explicit FloodGateway(int ids) : counts_(static_cast<size_t>(ids)) {}
    Ice::Int initiateQiullgateDelegate(const std::string&, Ice::Int, const rpcCorvane::rpcCorvaneWebRtcQuillgatePrx& d,
                                       const Ice::Current&) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        delegate_ = d;
        cv_.notify_all();
        return 0;
    }
    Ice::Int replyGetSDKOptionInt(const std::string&, Ice::Int reqid, Ice::Int, Ice::Int, Ice::Int,
                                  const Ice::Current&) override
    {
        if (reqid >= 0 && static_cast<size_t>(reqid) < counts_.size())
            ++counts_[static_cast<size_t>(reqid)];
        else
            ++strays_;
        ++total_;
        return 0;
    }
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx WaitDelegate(int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return delegate_ != 0; });
        return delegate_;
    }
    int total() const { return total_; }
    int strays() const { return strays_; }
    int count(int id) const { return counts_[static_cast<size_t>(id)]; }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx delegate_;
    std::vector<std::atomic<int>> counts_;
    std::atomic<int> total_{0};
    std::atomic<int> strays_{0};
};

}  // namespace

TEST(GatewayFault, FloodOfTenThousandRequestsFromEightCallersEachAnsweredOnceWithFlatMemory)
{
    const int kCallers = 8;
    const int kPerCaller = 1250;
    const int kIds = kCallers * kPerCaller;

    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.Warn.Connections", "0");
    Ice::CommunicatorPtr ice = Ice::initialize(init);
    Ice::ObjectAdapterPtr adapter = ice->createObjectAdapterWithEndpoints("FloodGw", "tcp -h 127.0.0.1 -p 0");
    IceUtil::Handle<FloodGateway> gateway = new FloodGateway(kIds);
    adapter->add(gateway, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
    adapter->activate();
    Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(adapter->getEndpoints()[0]->getInfo());
    ASSERT_TRUE(info);

    TempDir dir;
    const std::string program = qgtest::BinDir() + "/quillgate";
    const std::string host = "127.0.0.1:" + std::to_string(info->port);
    const std::string log = dir.File("sdk.log");
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QG_SDK_LOG", log.c_str(), 1);
        unsetenv("QG_SDK_JOURNAL");
        unsetenv("QG_SDK_SCENARIO");
        unsetenv("QG_SDK_CONTROL");
        execl(program.c_str(), program.c_str(), "-g", "flood", "-h", host.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx quillgate = gateway->WaitDelegate(20000);
    ASSERT_TRUE(quillgate);
    quillgate = quillgate->ice_invocationTimeout(20000);
    ASSERT_EQ(quillgate->setSDKOptionInt(kIds, 301, 7), 0);

    // Warm up, then the flood; memory is compared between the two.
    std::atomic<int> refused(0);
    auto flood = [&](int first, int count) {
        for (int id = first; id < first + count; ++id) {
            if (quillgate->getSDKOptionInt(id, 301) != 0)
                ++refused;
        }
    };
    const int kWarm = 1000;
    flood(0, kWarm);
    const long rssWarm = RssKb(pid);
    std::vector<std::thread> callers;
    const int perCaller = (kIds - kWarm) / kCallers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back(flood, kWarm + c * perCaller, perCaller);
    for (std::thread& t : callers)
        t.join();
    for (int i = 0; i < 3000 && gateway->total() < kIds; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const long rssEnd = RssKb(pid);

    EXPECT_EQ(refused, 0);
    EXPECT_EQ(gateway->total(), kIds);
    EXPECT_EQ(gateway->strays(), 0);
    for (int id = 0; id < kIds; ++id)
        ASSERT_EQ(gateway->count(id), 1) << "id " << id;
    // Flat: what 9,000 requests add is noise, not one allocation per request.
    ASSERT_GT(rssWarm, 0);
    EXPECT_LT(rssEnd - rssWarm, kSanitized ? 256 * 1024 : 4 * 1024) << rssWarm << " KiB -> " << rssEnd << " KiB";

    EXPECT_EQ(quillgate->logout(kIds + 1), 0);
    int status = 0;
    for (int i = 0; i < 500 && waitpid(pid, &status, WNOHANG) != pid; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (kill(pid, 0) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "quillgate did not end after logout";
    }
    ice->destroy();
}

TEST(GatewayFault, HundredSessionsInARowLeaveNoDescriptorZombieOrFile)
{
    BecomeSubreaper();
    TempDir tmp("qg-fault-tmp-");
    const std::set<std::string> fdsBefore = Entries("/proc/self/fd");
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        TempDir dir;
        qgtest::SdkSetup sdk;
        setenv("TMPDIR", tmp.path().c_str(), 1);
        const GatewayRun run = qgtest::RunGateway(dir, {"-w", "10"}, kSessionScript, 30, sdk);
        unsetenv("TMPDIR");
        ASSERT_EQ(run.status, 0) << run.Dump();
        ASSERT_GE(run.Out("quillgate exit 0"), 0) << run.Dump();
        // What the session leaves in its folder is what the test asked for.
        EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"gateway.out", "script", "sdk.journal", "sdk.log"}));
    }
    EXPECT_EQ(Entries("/proc/self/fd"), fdsBefore);
    EXPECT_TRUE(Children().empty());
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left to reap";
    EXPECT_TRUE(Entries(tmp.path()).empty());
}

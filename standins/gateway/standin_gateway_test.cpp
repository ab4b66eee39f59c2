// The stand-in gateway: its operation tables against the Slice file, its
// argument codec, and whole runs of the program against a fake delegate
// and a fake quillgate.
#include "optable.h"
#include "tests/support/recording_servants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace {

using namespace standin;

// ---- tables ---------------------------------------------------------------

// "name:kinds" per operation of one interface, read from the Slice text.
std::vector<std::string> SliceSignatures(const std::string& iface)
{
    std::ifstream f(std::string(QG_SOURCE_DIR) + "/comm/IceRpc/rpcCorvaneWebRtcGW.ice");
    std::stringstream ss;
    ss << f.rdbuf();
    std::string text = std::regex_replace(ss.str(), std::regex("//[^\n]*"), "");
    std::smatch m;
    EXPECT_TRUE(std::regex_search(text, m, std::regex("interface " + iface + "\\s*\\{([^}]*)\\}")));
    std::string body = m[1];
    std::vector<std::string> out;
    std::regex op("(int|void)\\s+(\\w+)\\s*\\(([^)]*)\\)");
    for (std::sregex_iterator it(body.begin(), body.end(), op), end; it != end; ++it) {
        std::string kinds, params = (*it)[3];
        std::regex param("(\\w+\\*?)\\s+\\w+");
        for (std::sregex_iterator p(params.begin(), params.end(), param), pend; p != pend; ++p) {
            std::string t = (*p)[1];
            kinds += t == "int" ? 'i' : t == "bool" ? 'b' : t == "string" ? 's' : 'p';
        }
        out.push_back((*it)[2].str() + ":" + kinds + ":" + ((*it)[1] == "int" ? "i" : "v"));
    }
    return out;
}

std::vector<std::string> TableSignatures(const OpTable& t)
{
    std::vector<std::string> out;
    for (size_t k = 0; k < t.count; ++k) {
        out.push_back(std::string(t.ops[k].name) + ":" + t.ops[k].params + ":" + t.ops[k].result);
    }
    return out;
}

TEST(StandinTables, MatchTheSliceDefinitionInOrder)
{
    std::vector<std::string> served = SliceSignatures("rpcCorvaneWebRtcQuillgate");
    std::vector<std::string> gateway = SliceSignatures("rpcCorvaneWebRtcGw");
    EXPECT_EQ(34u, served.size());
    EXPECT_EQ(52u, gateway.size());
    EXPECT_EQ(served, TableSignatures(kServedOps));
    EXPECT_EQ(gateway, TableSignatures(kGatewayOps));
}

// ---- argument codec -------------------------------------------------------

TEST(StandinArgs, QuoteEscapesControlBytesQuoteAndBackslashOnly)
{
    EXPECT_EQ("\"a\\\"b\\\\c\\x01\\n\\t\xc3\xa9~\"", Quote(std::string("a\"b\\c\x01\n\t\xc3\xa9~")));
    EXPECT_EQ("\"\\x00\\x1f \"", Quote(std::string("\0\x1f ", 3)));
}

TEST(StandinArgs, ParsedArgumentsPrintBackAsWritten)
{
    const OpSig* sig = kServedOps.Find("sendTextMessage");
    ASSERT_TRUE(sig);
    std::vector<Value> args;
    std::string err;
    ASSERT_TRUE(ParseArgs("7 0xffffffff true \"q\\\"\\x00z\"", *sig, args, err)) << err;
    EXPECT_EQ(std::string("sendTextMessage(7, -1, true, \"q\\\"\\x00z\")"), FormatCall(sig->name, args));
    EXPECT_EQ(std::string("q\"\0z", 4), args[3].s);
}

TEST(StandinArgs, BadArgumentsAreRefusedWithAReason)
{
    const OpSig* sig = kServedOps.Find("userCameraControl");  // int, int, bool
    ASSERT_TRUE(sig);
    struct Case {
        const char* text;
        const char* reason;
    } cases[] = {
        {"1 2", "needs 3 arguments"},  {"1 2 true 4", "takes 3 arguments"}, {"1 x true", "bad int 'x'"},
        {"1 2 yes", "bad bool 'yes'"}, {"1 99999999999 true", "bad int"},
    };
    for (const Case& c : cases) {
        std::vector<Value> args;
        std::string err;
        EXPECT_FALSE(ParseArgs(c.text, *sig, args, err)) << c.text;
        EXPECT_NE(std::string::npos, err.find(c.reason)) << c.text << " -> " << err;
    }
    const OpSig* text = kServedOps.Find("webrtcConsult");  // int, string
    std::vector<Value> args;
    std::string err;
    EXPECT_FALSE(ParseArgs("1 bare", *text, args, err));
    EXPECT_NE(std::string::npos, err.find("quoted string"));
    EXPECT_FALSE(ParseArgs("1 \"open", *text, args, err));
    EXPECT_NE(std::string::npos, err.find("unterminated"));
    EXPECT_FALSE(ParseArgs("1 \"\\x4\"", *text, args, err));
    EXPECT_NE(std::string::npos, err.find("\\x"));
}

// ---- whole runs -------------------------------------------------------------

// A test folder that also writes scripts into itself.
class TempDir : public qgtest::TempDir
{
public:
    TempDir() : qgtest::TempDir("standin-gw-") {}
    std::string Write(const std::string& name, const std::string& text, bool exec = false) const
    {
        std::string p = File(name);
        std::ofstream(p) << text;
        if (exec)
            chmod(p.c_str(), 0755);
        return p;
    }
};

// The stand-in as a child process whose stdout is read line by line.
class Standin
{
public:
    explicit Standin(std::vector<std::string> args)
    {
        args.insert(args.begin(), std::string(QG_BIN_DIR) + "/standin-gateway");
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        fd_ = fds[0];
    }

    ~Standin()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            close(fd_);
    }

    // Reads lines until one starts with prefix; returns it, or "" after the time limit or EOF.
    std::string Until(const std::string& prefix, int ms = 15000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            size_t nl;
            while ((nl = buf_.find('\n')) != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                lines.push_back(line);
                if (line.compare(0, prefix.size(), prefix) == 0)
                    return line;
            }
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            if (left <= 0)
                return "";
            pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                return "";
            char chunk[4096];
            ssize_t n = read(fd_, chunk, sizeof(chunk));
            if (n <= 0)
                return "";
            buf_.append(chunk, n);
        }
    }

    // Waits for the stand-in to end; returns its exit code, or -1.
    int Exit(int ms = 15000)
    {
        int status = 0;
        for (int waited = 0; waited < ms; waited += 20) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(20000);
        }
        return -1;
    }

    bool Saw(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

    std::vector<std::string> lines;

    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buf_;
};

int PortOf(const std::string& listening)
{
    size_t colon = listening.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(listening.c_str() + colon + 1);
}

// A served-interface servant on 127.0.0.1 that registers with the stand-in.
class FakeDelegate
{
public:
    FakeDelegate()
    {
        com = Ice::initialize();
        adapter = com->createObjectAdapterWithEndpoints("Fake", "tcp -h 127.0.0.1 -p 0");
        servant = new RecordingQuillgate;
        servant->answer = 7;
        self = rpcCorvane::rpcCorvaneWebRtcQuillgatePrx::uncheckedCast(
            adapter->add(servant, Ice::stringToIdentity("CorvaneWebRtcQuillgate")));
        adapter->activate();
    }
    ~FakeDelegate() { com->destroy(); }

    rpcCorvane::rpcCorvaneWebRtcGwPrx Gateway(int port)
    {
        Ice::ObjectPrx plain = com->stringToProxy("CorvaneWebRtcGWServer:tcp -h 127.0.0.1 -p " + std::to_string(port));
        // Only ends a call that hangs: the stand-in answers at once, but a loaded host may be slow.
        return rpcCorvane::rpcCorvaneWebRtcGwPrx::checkedCast(plain->ice_invocationTimeout(20000));
    }

    Ice::CommunicatorPtr com;
    Ice::ObjectAdapterPtr adapter;
    IceUtil::Handle<RecordingQuillgate> servant;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx self;
};

// True when process pid holds a TCP socket listening on 127.0.0.1:port.
bool ListensOn(pid_t pid, int port)
{
    std::set<std::string> inodes;
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line);
    while (std::getline(tcp, line)) {
        std::istringstream in(line);
        std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
        in >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
        const size_t colon = local.find(':');
        if (colon == std::string::npos || state != "0A")
            continue;
        if (std::stoi(local.substr(colon + 1), nullptr, 16) == port)
            inodes.insert("socket:[" + inode + "]");
    }
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fds.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent* e = readdir(dir)) {
        char target[256] = {0};
        const std::string link = fds + "/" + e->d_name;
        if (readlink(link.c_str(), target, sizeof(target) - 1) > 0 && inodes.count(target))
            found = true;
    }
    closedir(dir);
    return found;
}

TEST(StandinRun, DrivesADelegateAndPrintsEveryCall)
{
    TempDir dir;
    std::string script = dir.Write("session.txt", "# set up before the delegate registers\n"
                                                  "answer notifyTransBuffer 9\n"
                                                  "fail-ping 1\n"
                                                  "wait initiateQiullgateDelegate 10000\n"
                                                  "call login 5 \"127.0.0.1:8906\" \"user\" \"p\\\"w\\x01\" 0 \"{}\"\n"
                                                  "call heartBeat\n"
                                                  "call userCameraControl 6, -1, false\n"
                                                  "call objectControl 8 1 2 3 4 5 6 7 \"\"\n"
                                                  "wait replyLogin 10000\n"
                                                  "wait notifyTransBuffer 10000\n"
                                                  "exit\n");
    Standin gw({"-n", "-Q", "-s", "sess", "-S", script});
    std::string listening = gw.Until("listening 127.0.0.1:");
    ASSERT_NE("", listening);
    ASSERT_NE("", gw.Until("fail-ping 1"));

    FakeDelegate fake;
    rpcCorvane::rpcCorvaneWebRtcGwPrx prx = fake.Gateway(PortOf(listening));
    ASSERT_TRUE(prx);
    EXPECT_THROW(prx->ice_ping(), Ice::ObjectNotExistException);
    EXPECT_NO_THROW(prx->ice_ping());
    EXPECT_EQ(0, prx->initiateQiullgateDelegate("sess", 4321, fake.self));
    ASSERT_TRUE(fake.servant->WaitCount(4, 10000));
    EXPECT_EQ((std::vector<std::string>{
                  "login(5, \"127.0.0.1:8906\", \"user\", \"p\"w\x01\", 0, \"{}\")",
                  "heartBeat()",
                  "userCameraControl(6, -1, false)",
                  "objectControl(8, 1, 2, 3, 4, 5, 6, 7, \"\")",
              }),
              fake.servant->Calls());
    ASSERT_NE("", gw.Until("call objectControl"));
    EXPECT_EQ(0, prx->replyLogin("sess", 5, 1001, 0));
    EXPECT_EQ(9, prx->notifyTransBuffer("sess", 0, 7, "a\"b\\c\x01"));
    ASSERT_NE("", gw.Until("done"));
    EXPECT_EQ(0, gw.Exit());

    for (const std::string& line : {
             std::string("recv ice_isA(\"::rpcCorvane::rpcCorvaneWebRtcGw\") -> true"),
             std::string("recv ice_ping() -> fail"),
             "recv initiateQiullgateDelegate(\"sess\", 4321, " + Quote(fake.self->ice_toString()) + ") -> 0",
             std::string("wait initiateQiullgateDelegate ok"),
             std::string("call login(5, \"127.0.0.1:8906\", \"user\", \"p\\\"w\\x01\", 0, \"{}\") -> 7"),
             std::string("call heartBeat() -> 7"),
             std::string("recv replyLogin(\"sess\", 5, 1001, 0) -> 0"),
             std::string("recv notifyTransBuffer(\"sess\", 0, 7, \"a\\\"b\\\\c\\x01\") -> 9"),
             std::string("gone"),
             std::string("done 0"),
         }) {
        EXPECT_TRUE(gw.Saw(line)) << line;
    }
}

TEST(StandinRun, LanesCallSideBySideEachInOrder)
{
    TempDir dir;
    std::string script = dir.Write("lanes.txt", "wait initiateQiullgateDelegate 10000\n"
                                                "lane a call logout 1\n"
                                                "lane b call logout 10\n"
                                                "lane a call logout 2\n"
                                                "lane b call logout 11\n"
                                                "lane a call logout 3\n"
                                                "join\n"
                                                "call heartBeat\n"
                                                "lane c nocall x\n");
    Standin gw({"-n", "-Q", "-s", "sess", "-S", script});
    std::string listening = gw.Until("listening 127.0.0.1:");
    ASSERT_NE("", listening);
    FakeDelegate fake;
    rpcCorvane::rpcCorvaneWebRtcGwPrx prx = fake.Gateway(PortOf(listening));
    ASSERT_TRUE(prx);
    EXPECT_EQ(0, prx->initiateQiullgateDelegate("sess", 1, fake.self));
    ASSERT_NE("", gw.Until("done"));
    EXPECT_EQ(1, gw.Exit());
    EXPECT_TRUE(gw.Saw("script line 9: usage: lane NAME call OP ARG...")) << gw.lines.back();

    const std::vector<std::string> calls = fake.servant->Calls();
    ASSERT_EQ(calls.size(), 6u);
    auto at = [&](const std::string& c) { return std::find(calls.begin(), calls.end(), c) - calls.begin(); };
    EXPECT_LT(at("logout(1)"), at("logout(2)"));
    EXPECT_LT(at("logout(2)"), at("logout(3)"));
    EXPECT_LT(at("logout(10)"), at("logout(11)"));
    // join: every lane call before the next plain one.
    EXPECT_EQ(calls.back(), "heartBeat()");
}

// A delegate that replies to a login before it answers the call.
class ReplyingQuillgate : public RecordingQuillgate
{
public:
    rpcCorvane::rpcCorvaneWebRtcGwPrx gateway;

    Ice::Int login(Ice::Int reqid, const std::string& host, const std::string& userName, const std::string& passWord,
                   Ice::Int passEncType, const std::string& jsonParam, const Ice::Current& cur) override
    {
        gateway->replyLogin("sess", reqid, 1001, 0);
        return RecordingQuillgate::login(reqid, host, userName, passWord, passEncType, jsonParam, cur);
    }
};

// The screen keeps the wire's order: a call's line comes before what the call
// caused, and its result, when something came between, on a line of its own.
TEST(StandinRun, PrintsEachCallBeforeWhatItCauses)
{
    TempDir dir;
    std::string script = dir.Write("s.txt", "wait initiateQiullgateDelegate 10000\n"
                                            "call login 5 \"h:1\" \"u\" \"p\" 0 \"{}\"\n"
                                            "call heartBeat\n"
                                            "exit\n");
    Standin gw({"-n", "-Q", "-s", "sess", "-S", script});
    std::string listening = gw.Until("listening 127.0.0.1:");
    ASSERT_NE("", listening);

    FakeDelegate fake;
    IceUtil::Handle<ReplyingQuillgate> servant = new ReplyingQuillgate;
    servant->answer = 7;
    rpcCorvane::rpcCorvaneWebRtcQuillgatePrx self = rpcCorvane::rpcCorvaneWebRtcQuillgatePrx::uncheckedCast(
        fake.adapter->add(servant, Ice::stringToIdentity("Replying")));
    servant->gateway = fake.Gateway(PortOf(listening));
    ASSERT_TRUE(servant->gateway);
    EXPECT_EQ(0, servant->gateway->initiateQiullgateDelegate("sess", 4321, self));
    ASSERT_NE("", gw.Until("done"));
    EXPECT_EQ(0, gw.Exit());

    const std::vector<std::string> expected = {
        "call login(5, \"h:1\", \"u\", \"p\", 0, \"{}\")",
        "recv replyLogin(\"sess\", 5, 1001, 0) -> 0",
        "result login(5, \"h:1\", \"u\", \"p\", 0, \"{}\") -> 7",
        "call heartBeat() -> 7",
    };
    auto first = std::find(gw.lines.begin(), gw.lines.end(), expected[0]);
    ASSERT_NE(first, gw.lines.end());
    EXPECT_EQ(expected,
              std::vector<std::string>(first, first + std::min<size_t>(expected.size(), gw.lines.end() - first)));
}

TEST(StandinRun, RefusesRegistrationWhenTold)
{
    Standin gw({"-n", "-r", "4", "-x", "30"});
    std::string listening = gw.Until("listening 127.0.0.1:");
    ASSERT_NE("", listening);
    // What the going-away test asks of the kernel, seen true while it serves.
    EXPECT_TRUE(ListensOn(gw.Pid(), PortOf(listening)));
    FakeDelegate fake;
    rpcCorvane::rpcCorvaneWebRtcGwPrx prx = fake.Gateway(PortOf(listening));
    ASSERT_TRUE(prx);
    EXPECT_EQ(4, prx->initiateQiullgateDelegate("other", 1, fake.self));
}

TEST(StandinRun, BadScriptsStopWithAClearLine)
{
    TempDir dir;
    struct Case {
        const char* script;
        const char* line;
    } cases[] = {
        {"call login 1 \"x\"\n", "script line 1: login needs 6 arguments"},
        {"\n# c\ncall nosuchop 1\n", "script line 3: unknown operation \"nosuchop\""},
        {"frobnicate\n", "script line 1: unknown command \"frobnicate\""},
        {"wait replyLogin 50\ncall logout 1\n", "wait replyLogin timeout"},
    };
    for (const Case& c : cases) {
        Standin gw({"-n", "-S", dir.Write("bad.txt", c.script)});
        ASSERT_NE("", gw.Until("done")) << c.script;
        EXPECT_EQ(1, gw.Exit()) << c.script;
        EXPECT_TRUE(gw.Saw(c.line)) << c.script;
        EXPECT_TRUE(gw.Saw("done 1")) << c.script;
        EXPECT_EQ(0, std::count_if(gw.lines.begin(), gw.lines.end(),
                                   [](const std::string& l) { return l.compare(0, 5, "call ") == 0; }))
            << c.script;
    }
}

TEST(StandinRun, StartsTheProgramWithSessionAndAddressAndReportsItsExit)
{
    TempDir dir;
    std::string args = dir.File("args.txt");
    // Records its arguments, then exits with 3 once a line arrives on stdin.
    std::string fake =
        dir.Write("fake-quillgate", "#!/bin/sh\necho \"$@\" > '" + args + "'\nread line\nexit 3\n", true);
    std::string script = dir.Write("s.txt", "sleep 100\nstdin \"q\\n\"\n");
    Standin gw({"-q", fake, "-s", "s-1", "-w", "10", "-S", script, "--", "-d", "extra"});
    std::string listening = gw.Until("listening 127.0.0.1:");
    ASSERT_NE("", listening);
    ASSERT_NE("", gw.Until("quillgate "));
    EXPECT_EQ("quillgate exit 3", gw.lines.back());
    ASSERT_NE("", gw.Until("done 0"));
    EXPECT_EQ(0, gw.Exit());
    std::ifstream in(args);
    std::string argv;
    std::getline(in, argv);
    EXPECT_EQ("-g s-1 -h 127.0.0.1:" + std::to_string(PortOf(listening)) + " -d extra", argv);
}

// Once the stand-in has gone, its port must refuse, even while the program it
// started still runs: the child must not hold the listening socket.
TEST(StandinRun, GoingAwayClosesThePortWhileTheProgramRuns)
{
    TempDir dir;
    std::string fake = dir.Write("fake-quillgate", "#!/bin/sh\nread line\n", true);
    Standin gw({"-q", fake, "-w", "3", "-S", dir.Write("s.txt", "exit\n")});
    std::string listening = gw.Until("listening 127.0.0.1:");
    ASSERT_NE("", listening);
    const int port = PortOf(listening);
    ASSERT_NE("", gw.Until("gone"));
    // The stand-in itself holds no listening socket on its port any more
    // (asked of the kernel: a parallel test may have taken the freed port).
    EXPECT_FALSE(ListensOn(gw.Pid(), port));
    ASSERT_NE("", gw.Until("quillgate "));
    EXPECT_EQ("quillgate killed", gw.lines.back());
    EXPECT_EQ(0, gw.Exit());
}

}  // namespace

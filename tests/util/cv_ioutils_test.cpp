#include "util/cv_ioutils.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

using qgtest::ReadFile;
using qgtest::TempDir;

// Runs body in a forked child; returns the child's exit status, or -1.
template <typename F>
int InChild(F body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    if (pid < 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The lowest free descriptor: unchanged after a call that leaks nothing.
int LowestFreeFd()
{
    int fd = open("/dev/null", O_RDONLY);
    if (fd >= 0)
        close(fd);
    return fd;
}

bool SameFile(int fd, const struct stat& ref)
{
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_dev == ref.st_dev && st.st_ino == ref.st_ino;
}

// Waits, bounded (20 s: a daemon started on a loaded host), for a file
// that a daemon writes and renames into place.
std::map<std::string, std::string> AwaitReport(const std::string& path)
{
    std::map<std::string, std::string> report;
    for (int i = 0; i < 800 && access(path.c_str(), F_OK) != 0; ++i)
        usleep(25000);
    std::istringstream in(ReadFile(path));
    std::string key, value;
    while (in >> key >> value)
        report[key] = value;
    return report;
}

// Body of the daemon: what it sees about itself, written where the test reads it.
int DaemonProbe(const std::string& report, const char* dir, const std::string& stdoutFile)
{
    int out = open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0)
        return 90;
    close(out);
    pid_t sidBefore = getsid(0);
    char cwdBefore[PATH_MAX] = {0};
    if (!getcwd(cwdBefore, sizeof(cwdBefore)))
        return 91;

    int rc = CV_IOUtils::initDaemon(dir);
    // Only the daemon gets here.
    struct stat devnull;
    stat("/dev/null", &devnull);
    mode_t mask = umask(022);
    char cwd[PATH_MAX] = {0};
    if (!getcwd(cwd, sizeof(cwd)))
        strcpy(cwd, "?");
    std::ostringstream text;
    text << "rc " << rc << "\n"
         << "null0 " << SameFile(0, devnull) << "\n"
         << "null1 " << SameFile(1, devnull) << "\n"
         << "null2 " << SameFile(2, devnull) << "\n"
         << "leader " << (getsid(0) == getpid()) << "\n"
         << "ownsession " << (getsid(0) != sidBefore) << "\n"
         << "umask " << static_cast<unsigned>(mask) << "\n"
         << "sighup " << (signal(SIGHUP, SIG_IGN) == SIG_IGN) << "\n"
         << "sigpipe " << (signal(SIGPIPE, SIG_IGN) == SIG_IGN) << "\n"
         << "sigchld " << (signal(SIGCHLD, SIG_IGN) == SIG_IGN) << "\n"
         << "cwdsame " << (strcmp(cwd, cwdBefore) == 0) << "\n"
         << "cwd " << cwd << "\n";
    std::string tmp = report + ".tmp";
    {
        std::ofstream f(tmp);
        f << text.str();
    }
    rename(tmp.c_str(), report.c_str());
    return 0;
}

}  // namespace

TEST(Daemon, DetachesWithNullStdio)
{
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string report = dir.File("report");
    const std::string out = dir.File("stdout");
    // The caller of initDaemon ends inside the call with status 0.
    EXPECT_EQ(0, InChild([&] { return DaemonProbe(report, dir.path().c_str(), out); }));

    auto r = AwaitReport(report);
    ASSERT_FALSE(r.empty()) << "the daemon wrote no report";
    EXPECT_EQ("0", r["rc"]);
    EXPECT_EQ("1", r["null0"]);
    EXPECT_EQ("1", r["null1"]);
    EXPECT_EQ("1", r["null2"]);
    EXPECT_EQ("1", r["ownsession"]);
    EXPECT_EQ("0", r["leader"]);  // the second fork gave up leadership
    EXPECT_EQ("0", r["umask"]);
    EXPECT_EQ("1", r["sighup"]);
    EXPECT_EQ("1", r["sigpipe"]);
    EXPECT_EQ("1", r["sigchld"]);
    char real[PATH_MAX] = {0};
    ASSERT_NE(nullptr, realpath(dir.path().c_str(), real));
    EXPECT_EQ(real, r["cwd"]);
    EXPECT_EQ("", ReadFile(out));
}

TEST(Daemon, MissingDirectoryIsReportedNotFatal)
{
    TempDir dir;
    const std::string report = dir.File("report");
    const std::string out = dir.File("stdout");
    const std::string missing = dir.File("no/such/dir");
    EXPECT_EQ(0, InChild([&] { return DaemonProbe(report, missing.c_str(), out); }));

    auto r = AwaitReport(report);
    ASSERT_FALSE(r.empty()) << "the daemon wrote no report";
    EXPECT_EQ("0", r["rc"]);
    EXPECT_EQ("1", r["cwdsame"]);
    EXPECT_EQ("change working directory failed!\r\n", ReadFile(out));
}

TEST(PidLock, SecondProcessIsRefused)
{
    TempDir dir;
    const std::string path = dir.File("quillgate.pid");
    int fd = CV_IOUtils::checkRunning(path.c_str());
    ASSERT_GT(fd, 0);
    // Read from another process: closing any other descriptor of the file
    // here would drop this process's lock.
    const std::string mine = std::to_string(getpid()) + "\n";
    auto holdsMine = [&] { return InChild([&] { return ReadFile(path) == mine ? 0 : 1; }) == 0; };
    EXPECT_TRUE(holdsMine());
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);

    // Another process: refused, leaks no descriptor, leaves the file alone.
    EXPECT_EQ(0, InChild([&] {
                  int before = LowestFreeFd();
                  int got = CV_IOUtils::checkRunning(path.c_str());
                  if (got != 0)
                      return 1;
                  return LowestFreeFd() == before ? 0 : 2;
              }));
    EXPECT_TRUE(holdsMine());

    // Once the holder lets go, another process gets the lock.
    close(fd);
    EXPECT_EQ(0, InChild([&] { return CV_IOUtils::checkRunning(path.c_str()) > 0 ? 0 : 1; }));
}

TEST(PidLock, UnopenablePathGivesZero)
{
    TempDir dir;
    EXPECT_EQ(0, CV_IOUtils::checkRunning(dir.File("missing/x.pid").c_str()));
    EXPECT_EQ(0, CV_IOUtils::checkRunning(dir.path().c_str()));  // a directory
}

TEST(LockReg, ReportsTheHolder)
{
    TempDir dir;
    const std::string path = dir.File("lock");
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, lock_reg(fd, F_SETLK, F_WRLCK, 0, SEEK_SET, 0));
    pid_t me = getpid();
    EXPECT_EQ(0, InChild([&] {
                  struct flock probe;
                  memset(&probe, 0, sizeof(probe));
                  int f = open(path.c_str(), O_RDWR);
                  probe.l_type = F_WRLCK;
                  probe.l_whence = SEEK_SET;
                  if (fcntl(f, F_GETLK, &probe) != 0)
                      return 1;
                  return probe.l_type == F_WRLCK && probe.l_pid == me ? 0 : 2;
              }));
    close(fd);
}

TEST(StatusFlags, NonblockKeepsOtherFlags)
{
    TempDir dir;
    int fd = open(dir.File("f").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, CV_IOUtils::setNonblock(fd));
    int flags = fcntl(fd, F_GETFL);
    EXPECT_TRUE(flags & O_NONBLOCK);
    EXPECT_TRUE(flags & O_APPEND);
    EXPECT_EQ(0, CV_IOUtils::setBlock(fd));
    flags = fcntl(fd, F_GETFL);
    EXPECT_FALSE(flags & O_NONBLOCK);
    EXPECT_TRUE(flags & O_APPEND);
    close(fd);
    EXPECT_EQ(-1, CV_IOUtils::setNonblock(fd));
    EXPECT_EQ(-1, CV_IOUtils::setBlock(fd));
}

class SocketOptions : public testing::Test
{
protected:
    void SetUp() override
    {
        tcp_ = socket(AF_INET, SOCK_STREAM, 0);
        udp_ = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(tcp_, 0);
        ASSERT_GE(udp_, 0);
    }
    void TearDown() override
    {
        close(tcp_);
        close(udp_);
    }
    int IntOption(int fd, int level, int name)
    {
        int v = -1;
        socklen_t len = sizeof(v);
        getsockopt(fd, level, name, &v, &len);
        return v;
    }
    int64_t TimeoutUsec(int name)
    {
        timeval tv = {-1, -1};
        socklen_t len = sizeof(tv);
        getsockopt(tcp_, SOL_SOCKET, name, &tv, &len);
        return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
    }
    int tcp_ = -1;
    int udp_ = -1;
};

TEST_F(SocketOptions, TimeOutsOfOneSecondAndMore)
{
    struct Case {
        int msec;
        int64_t usec;
    };
    const Case cases[] = {{500, 500000}, {1000, 1000000}, {1500, 1500000}, {65000, 65000000}, {0, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(0, CV_IOUtils::SetSocketRecvTimeOut(tcp_, c.msec)) << c.msec;
        EXPECT_EQ(c.usec, TimeoutUsec(SO_RCVTIMEO)) << c.msec;
        EXPECT_EQ(0, CV_IOUtils::SetSocketSendTimeOut(tcp_, c.msec)) << c.msec;
        EXPECT_EQ(c.usec, TimeoutUsec(SO_SNDTIMEO)) << c.msec;
    }
    EXPECT_EQ(-1, CV_IOUtils::SetSocketRecvTimeOut(-1, 500));
}

// A negative time-out is refused whatever its size; whole negative seconds
// must not slip through and switch the time-out off.
TEST_F(SocketOptions, NegativeTimeOutsAreRefused)
{
    ASSERT_EQ(0, CV_IOUtils::SetSocketRecvTimeOut(tcp_, 500));
    ASSERT_EQ(0, CV_IOUtils::SetSocketSendTimeOut(tcp_, 500));
    for (int msec : {-1, -999, -1000, -2500, -2000000}) {
        EXPECT_EQ(-1, CV_IOUtils::SetSocketRecvTimeOut(tcp_, msec)) << msec;
        EXPECT_EQ(500000, TimeoutUsec(SO_RCVTIMEO)) << msec;
        EXPECT_EQ(-1, CV_IOUtils::SetSocketSendTimeOut(tcp_, msec)) << msec;
        EXPECT_EQ(500000, TimeoutUsec(SO_SNDTIMEO)) << msec;
    }
}

TEST_F(SocketOptions, KeepAlive)
{
    EXPECT_EQ(0, CV_IOUtils::SetTcpSocketKeepAlive(tcp_, 10000, 60000, 3));
    EXPECT_EQ(1, IntOption(tcp_, SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(60, IntOption(tcp_, IPPROTO_TCP, TCP_KEEPIDLE));
    EXPECT_EQ(10, IntOption(tcp_, IPPROTO_TCP, TCP_KEEPINTVL));
    EXPECT_EQ(3, IntOption(tcp_, IPPROTO_TCP, TCP_KEEPCNT));

    // Below a second the kernel refuses 0 s, and the caller hears of it.
    EXPECT_EQ(-1, CV_IOUtils::SetTcpSocketKeepAlive(tcp_, 500, 60000, 3));
    EXPECT_EQ(-1, CV_IOUtils::SetTcpSocketKeepAlive(tcp_, 10000, 999, 3));
    EXPECT_EQ(-1, CV_IOUtils::SetTcpSocketKeepAlive(tcp_, 10000, 60000, 0));
    EXPECT_EQ(-1, CV_IOUtils::SetTcpSocketKeepAlive(-1, 10000, 60000, 3));
}

TEST_F(SocketOptions, MultiCast)
{
    EXPECT_EQ(0, CV_IOUtils::SetMultiCastProperty(udp_, 0x7F000001u, 5));
    EXPECT_EQ(5, IntOption(udp_, IPPROTO_IP, IP_MULTICAST_TTL));
    in_addr iface = {0};
    socklen_t len = sizeof(iface);
    getsockopt(udp_, IPPROTO_IP, IP_MULTICAST_IF, &iface, &len);
    EXPECT_EQ(htonl(0x7F000001u), iface.s_addr);

    EXPECT_EQ(0, CV_IOUtils::SetMultiCastProperty(udp_, 0, 0));  // nothing asked
    EXPECT_EQ(5, IntOption(udp_, IPPROTO_IP, IP_MULTICAST_TTL));

    EXPECT_EQ(-1, CV_IOUtils::SetMultiCastProperty(udp_, 0, 300));          // ttl beyond 255
    EXPECT_EQ(-1, CV_IOUtils::SetMultiCastProperty(udp_, 0xCB007107u, 0));  // 203.0.113.7: not ours
    EXPECT_EQ(-1, CV_IOUtils::SetMultiCastProperty(-1, 0, 5));
    CV_IOUtils::FixWin32UDPConnResetBug(udp_);
}

TEST(SocketPairs, ErsatzGivesConnectedLoopbackPair)
{
    for (int family : {AF_UNIX, AF_INET}) {
        int pair[2] = {-1, -1};
        ASSERT_EQ(0, CV_IOUtils::ersatz_socketpair(family, SOCK_STREAM, 0, pair)) << family;
        for (int i = 0; i < 2; ++i) {
            sockaddr_in a;
            socklen_t len = sizeof(a);
            ASSERT_EQ(0, getsockname(pair[i], reinterpret_cast<sockaddr*>(&a), &len));
            EXPECT_EQ(AF_INET, a.sin_family);
            EXPECT_EQ(htonl(INADDR_LOOPBACK), a.sin_addr.s_addr);
        }
        ASSERT_EQ(3, write(pair[0], "abc", 3));
        char buf[4] = {0};
        ASSERT_EQ(3, read(pair[1], buf, 3));
        EXPECT_STREQ("abc", buf);
        ASSERT_EQ(2, write(pair[1], "xy", 2));
        ASSERT_EQ(2, read(pair[0], buf, 2));
        close(pair[0]);
        close(pair[1]);
    }
}

TEST(SocketPairs, ErsatzRefusalsLeakNothing)
{
    struct Case {
        int family, type, protocol;
        bool nullPair;
    };
    const Case cases[] = {
        {AF_INET, SOCK_STREAM, 6, false}, {AF_INET6, SOCK_STREAM, 0, false},
        {AF_INET, SOCK_STREAM, 0, true},  {AF_INET, SOCK_DGRAM, 0, false},  // cannot listen
        {AF_INET, 12345, 0, false},                                         // no such socket type
    };
    for (const Case& c : cases) {
        int before = LowestFreeFd();
        int pair[2] = {-7, -7};
        EXPECT_EQ(-1, CV_IOUtils::ersatz_socketpair(c.family, c.type, c.protocol, c.nullPair ? nullptr : pair));
        EXPECT_EQ(-7, pair[0]);
        EXPECT_EQ(-7, pair[1]);
        EXPECT_EQ(before, LowestFreeFd()) << "family " << c.family << " type " << c.type;
    }
}

TEST(SocketPairs, PlainSocketPair)
{
    int pair[2] = {-1, -1};
    ASSERT_EQ(0, CV_IOUtils::SocketPair(AF_UNIX, SOCK_STREAM, 0, pair));
    ASSERT_EQ(1, write(pair[0], "q", 1));
    char c = 0;
    ASSERT_EQ(1, read(pair[1], &c, 1));
    EXPECT_EQ('q', c);
    close(pair[0]);
    close(pair[1]);
}

TEST(Ports, PickedPortsAreInRangeAndFree)
{
    for (long tcp : {1L, 0L}) {
        for (int i = 0; i < 5; ++i) {
            uint16_t port = CV_IOUtils::GetValidPort(tcp);
            EXPECT_TRUE((port >= 40000 && port <= 49999) || port == 65535) << port;
        }
    }
}

TEST(Ports, BoundPortIsNotValid)
{
    for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
        long tcp = type == SOCK_STREAM ? 1 : 0;
        int fd = socket(AF_INET, type, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in a;
        memset(&a, 0, sizeof(a));
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)));
        if (type == SOCK_STREAM) {
            ASSERT_EQ(0, listen(fd, 1));
        }
        socklen_t len = sizeof(a);
        ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len));
        unsigned port = ntohs(a.sin_port);
        EXPECT_EQ(0, CV_IOUtils::IsValidPort(port, tcp)) << port;
        close(fd);
        EXPECT_EQ(1, CV_IOUtils::IsValidPort(port, tcp)) << port;
        // A number past 16 bits must not be taken for the free port it wraps to.
        EXPECT_EQ(0, CV_IOUtils::IsValidPort(port + 65536, tcp)) << port;
    }
}

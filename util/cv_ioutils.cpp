// Process and socket members of CV_IOUtils.
#include "util/cv_ioutils.h"

#include "util/win32_shims.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

int lock_reg(int fd, int cmd, int type, long offset, int whence, long len)
{
    struct flock lock;
    memset(&lock, 0, sizeof(lock));
    lock.l_type = static_cast<short>(type);
    lock.l_whence = static_cast<short>(whence);
    lock.l_start = offset;
    lock.l_len = len;
    return fcntl(fd, cmd, &lock);
}

int CV_IOUtils::initDaemon(const char* dir)
{
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        _exit(0);

    if (setsid() < 0)
        return -1;

    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGALRM, SIG_IGN);
    signal(SIGCHLD, SIG_IGN);

    // The second fork gives up session leadership, so no terminal can
    // become ours again.
    pid = fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        _exit(0);

    if (dir && chdir(dir) != 0) {
        printf("change working directory failed!\r\n");
        fflush(stdout);
    }

    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            close(null);
    }
    umask(0);
    return 0;
}

int CV_IOUtils::checkRunning(const char* path)
{
    int fd = open(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0)
        return 0;

    char text[16];
    int len = snprintf(text, sizeof(text), "%d\n", static_cast<int>(getpid()));
    int flags = -1;
    bool ok = lock_reg(fd, F_SETLK, F_WRLCK, 0, SEEK_SET, 0) == 0 && ftruncate(fd, 0) == 0 &&
              write(fd, text, static_cast<size_t>(len)) == len && (flags = fcntl(fd, F_GETFD)) >= 0 &&
              fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
    if (!ok) {
        close(fd);
        return 0;
    }
    return fd;
}

static int ChangeStatusFlags(int fd, int set, int clear)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return flags;
    return fcntl(fd, F_SETFL, (flags | set) & ~clear) < 0 ? -1 : 0;
}

int CV_IOUtils::setNonblock(int fd)
{
    return ChangeStatusFlags(fd, O_NONBLOCK, 0);
}

int CV_IOUtils::setBlock(int fd)
{
    return ChangeStatusFlags(fd, 0, O_NONBLOCK);
}

static int SetTimeOut(int fd, int option, int msec)
{
    // The socket layer wants microseconds below one second. A negative wait
    // stays whole in the microseconds, which the socket layer refuses: as
    // negative seconds it would switch the time-out off and report success.
    timeval tv;
    tv.tv_sec = msec >= 0 ? msec / 1000 : 0;
    tv.tv_usec = msec >= 0 ? static_cast<suseconds_t>(msec % 1000) * 1000 : static_cast<suseconds_t>(msec) * 1000;
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof(tv));
}

int CV_IOUtils::SetSocketSendTimeOut(int fd, int msec)
{
    return SetTimeOut(fd, SO_SNDTIMEO, msec);
}

int CV_IOUtils::SetSocketRecvTimeOut(int fd, int msec)
{
    return SetTimeOut(fd, SO_RCVTIMEO, msec);
}

int CV_IOUtils::SetTcpSocketKeepAlive(int fd, int intervalMs, int idleMs, int count)
{
    struct Option {
        int level;
        int name;
        int value;
    };
    const Option options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, 1},
        {IPPROTO_TCP, TCP_KEEPIDLE, idleMs / 1000},
        {IPPROTO_TCP, TCP_KEEPINTVL, intervalMs / 1000},
        {IPPROTO_TCP, TCP_KEEPCNT, count},
    };
    int result = 0;
    for (const Option& o : options) {
        if (setsockopt(fd, o.level, o.name, &o.value, sizeof(o.value)) != 0)
            result = -1;
    }
    return result;
}

void CV_IOUtils::FixWin32UDPConnResetBug(int)
{}

int CV_IOUtils::SetMultiCastProperty(int fd, unsigned iface, unsigned ttl)
{
    int result = 0;
    if (iface != 0) {
        in_addr addr;
        addr.s_addr = htonl(iface);
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &addr, sizeof(addr)) != 0)
            result = -1;
    }
    if (ttl != 0) {
        int value = static_cast<int>(ttl);
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof(value)) != 0)
            result = -1;
    }
    return result;
}

int CV_IOUtils::SocketPair(int domain, int type, int protocol, int* pair)
{
    return socketpair(domain, type, protocol, pair);
}

static bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_family == b.sin_family && a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

static void CloseIfOpen(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

int CV_IOUtils::ersatz_socketpair(int family, int type, int protocol, int* pair)
{
    if (protocol != 0 || (family != AF_UNIX && family != AF_INET) || !pair)
        return -1;

    int listener = -1, connector = -1, acceptor = -1;
    sockaddr_in listenAddr, peerAddr, ownAddr;
    socklen_t len = sizeof(listenAddr);
    memset(&listenAddr, 0, sizeof(listenAddr));
    listenAddr.sin_family = AF_INET;
    listenAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listenAddr.sin_port = 0;

    bool ok = (listener = socket(AF_INET, type, 0)) >= 0 &&
              bind(listener, reinterpret_cast<sockaddr*>(&listenAddr), sizeof(listenAddr)) == 0 &&
              listen(listener, 1) == 0 && (connector = socket(AF_INET, type, 0)) >= 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&listenAddr), &len) == 0 &&
              len == sizeof(sockaddr_in) && connect(connector, reinterpret_cast<sockaddr*>(&listenAddr), len) == 0;
    if (ok) {
        len = sizeof(peerAddr);
        ok = (acceptor = accept(listener, reinterpret_cast<sockaddr*>(&peerAddr), &len)) >= 0 &&
             len == sizeof(sockaddr_in);
    }
    CloseIfOpen(listener);
    if (ok) {
        len = sizeof(ownAddr);
        ok = getsockname(connector, reinterpret_cast<sockaddr*>(&ownAddr), &len) == 0 && len == sizeof(sockaddr_in) &&
             SameEndpoint(ownAddr, peerAddr);
    }
    if (!ok) {
        int saved = errno;
        CloseIfOpen(connector);
        CloseIfOpen(acceptor);
        errno = saved;
        return -1;
    }
    pair[0] = connector;
    pair[1] = acceptor;
    return 0;
}

static int OpenPortProbe(long tcp)
{
    return tcp ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
}

static bool BindAny(int fd, unsigned port)
{
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

uint16_t CV_IOUtils::GetValidPort(long tcp)
{
    int fd = OpenPortProbe(tcp);
    uint16_t port = 65535;
    for (uint32_t k = 1; fd >= 0 && k <= 11; ++k) {
        uint32_t x = GetTickCount() + static_cast<uint32_t>(rand()) * k;
        uint16_t candidate = static_cast<uint16_t>(40000 + x % 10000);
        if (BindAny(fd, candidate)) {
            port = candidate;
            break;
        }
    }
    if (fd >= 0)
        close(fd);
    return port;
}

int CV_IOUtils::IsValidPort(unsigned port, long tcp)
{
    // A number beyond 16 bits would wrap to some other port.
    if (port > 65535)
        return 0;
    int fd = OpenPortProbe(tcp);
    if (fd < 0)
        return 0;
    bool bound = BindAny(fd, port);
    close(fd);
    return bound ? 1 : 0;
}

#include "quillgate/session/udp_helper.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "util/cv_ioutils.h"

namespace {

const int kPollMs = 100;
// The largest datagram IPv4 carries fits.
const size_t kReceiveBuffer = 65536;

sockaddr_in Address(uint32_t ip, uint16_t port)
{
    sockaddr_in a;
    memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons(port);
    return a;
}

// errno's text after the failed step into error; fd is closed.
int Fail(std::string* error, const char* step, int fd = -1)
{
    if (error)
        *error = std::string(step) + ": " + strerror(errno);
    if (fd >= 0)
        close(fd);
    return -1;
}

}  // namespace

CUDPHelper::CUDPHelper()
    : m_stop(0), m_receiveThread(), m_hasReceiveThread(false), m_socket(-1), m_hasPeer(false), m_peerIp(0),
      m_peerPort(0)
{}

CUDPHelper::~CUDPHelper()
{
    Close();
}

int CUDPHelper::Open(uint16_t localPort, std::string* error)
{
    if (m_socket.load() >= 0) {
        errno = EALREADY;
        return Fail(error, "open");
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Fail(error, "socket");
    const sockaddr_in local = Address(INADDR_ANY, localPort);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
        return Fail(error, "bind", fd);
    // The receive loop reads only after poll says so, and never waits there.
    if (CV_IOUtils::setNonblock(fd) < 0)
        return Fail(error, "nonblock", fd);
    m_hasPeer = false;
    m_stop = 0;
    m_socket = fd;
    return 0;
}

int CUDPHelper::Connect(uint32_t peerIp, uint16_t peerPort, std::string* error)
{
    const int fd = m_socket.load();
    if (fd < 0) {
        errno = EBADF;
        return Fail(error, "connect");
    }
    const sockaddr_in peer = Address(peerIp, peerPort);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0)
        return Fail(error, "connect");
    m_peerIp = peerIp;
    m_peerPort = peerPort;
    m_hasPeer = true;
    return 0;
}

uint16_t CUDPHelper::LocalPort() const
{
    const int fd = m_socket.load();
    sockaddr_in local;
    socklen_t len = sizeof(local);
    if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return 0;
    return ntohs(local.sin_port);
}

int CUDPHelper::StartReceive()
{
    if (m_socket.load() < 0 || m_hasReceiveThread)
        return -1;
    m_stop = 0;
    if (pthread_create(&m_receiveThread, nullptr, ReceiveThread, this) != 0)
        return -1;
    m_hasReceiveThread = true;
    return 0;
}

void CUDPHelper::Close()
{
    m_stop = 1;
    if (m_hasReceiveThread) {
        pthread_join(m_receiveThread, nullptr);
        m_hasReceiveThread = false;
    }
    const int fd = m_socket.exchange(-1);
    if (fd >= 0)
        close(fd);
}

void CUDPHelper::OnReceive(const char*, uint32_t, uint32_t, uint32_t)
{}

void* CUDPHelper::ReceiveThread(void* self)
{
    static_cast<CUDPHelper*>(self)->ReceiveLoop();
    return nullptr;
}

void CUDPHelper::ReceiveLoop()
{
    std::vector<char> buf(kReceiveBuffer);
    const int fd = m_socket.load();
    while (!m_stop) {
        pollfd p = {fd, POLLIN, 0};
        const int ready = poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            usleep(kPollMs * 1000);
        if (ready <= 0)
            continue;
        sockaddr_in from;
        socklen_t fromLen = sizeof(from);
        // Errors are dropped: a refused earlier send (no parent listening
        // yet) surfaces here and must not end the loop.
        const ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0 || fromLen < sizeof(from) || from.sin_family != AF_INET)
            continue;
        const uint32_t ip = ntohl(from.sin_addr.s_addr);
        const uint16_t port = ntohs(from.sin_port);
        if (m_hasPeer && (ip != m_peerIp || port != m_peerPort))
            continue;
        OnReceive(buf.data(), static_cast<uint32_t>(n), ip, port);
    }
}

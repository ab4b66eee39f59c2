// Address, name-resolution and IPv6-table members of CV_IOUtils.
#include "util/cv_ioutils.h"

#include "util/win32_shims.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

std::map<unsigned, char*> CV_IOUtils::m_IPv6NativeMap;
pthread_mutex_t CV_IOUtils::m_hIPv6MapMutex = PTHREAD_MUTEX_INITIALIZER;
unsigned CV_IOUtils::m_dwIPv6NativeSeed = 0;
long CV_IOUtils::m_bEnableIpv6Dns = 0;
char CV_IOUtils::m_szIPText[20];

namespace {

void FreeIPv6Texts()
{
    for (auto& entry : CV_IOUtils::m_IPv6NativeMap)
        delete[] entry.second;
    CV_IOUtils::m_IPv6NativeMap.clear();
}

// Built after the table, so destroyed before it: the texts are freed while
// the map still holds them. Like Release, it runs when no thread uses the table.
struct IPv6TextsAtExit {
    ~IPv6TextsAtExit() { FreeIPv6Texts(); }
} g_ipv6TextsAtExit;

}  // namespace

namespace {

const unsigned kFirstIPv6Id = 0x7F7F0001u;
const size_t kIPv6TextSize = 100;
const unsigned kInterfaceSlots = 16;

struct Octets {
    unsigned a, b, c, d;
};

Octets Split(unsigned ip)
{
    return Octets{ip >> 24, (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu};
}

// One inclusive range of host-order addresses.
struct Range {
    unsigned first, last;
};

// Addresses that are not reachable from the Internet.
const Range kNonInternet[] = {
    {0x7F000001u, 0x7F000001u},  // 127.0.0.1
    {0x0A000000u, 0x0AFFFFFFu},  // 10.0.0.0/8
    {0xAC100000u, 0xAC1FFFFFu},  // 172.16.0.0/12
    {0xC0A80000u, 0xC0A8FFFFu},  // 192.168.0.0/16
};

class MapLock
{
public:
    MapLock() { pthread_mutex_lock(&CV_IOUtils::m_hIPv6MapMutex); }
    ~MapLock() { pthread_mutex_unlock(&CV_IOUtils::m_hIPv6MapMutex); }
    MapLock(const MapLock&) = delete;
    MapLock& operator=(const MapLock&) = delete;
};

// The text of an IPv6 result, or an empty text.
void IPv6Text(const addrinfo* ai, char* out, socklen_t size)
{
    const sockaddr_in6* a6 = reinterpret_cast<const sockaddr_in6*>(ai->ai_addr);
    if (!inet_ntop(AF_INET6, &a6->sin6_addr, out, size) && size > 0)
        out[0] = '\0';
}

addrinfo* Resolve(const char* host, int family)
{
    if (!host)
        return nullptr;
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0)
        return nullptr;
    return list;
}

}  // namespace

unsigned CV_IOUtils::IPString2Num(const char* text)
{
    if (!text)
        return 0xFFFFFFFFu;
    return ntohl(inet_addr(text));
}

char* CV_IOUtils::IPNum2String(unsigned ip, char* out, unsigned size)
{
    if (!out)
        return out;
    in_addr addr;
    addr.s_addr = htonl(ip);
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &addr, text, sizeof(text));
    snprintf(out, size, "%s", text);
    return out;
}

char* CV_IOUtils::IPNum2String(unsigned ip)
{
    return IPNum2String(ip, m_szIPText, sizeof(m_szIPText));
}

char* CV_IOUtils::MacNum2String(long mac, char* out, unsigned size)
{
    if (!out)
        return out;
    uint64_t m = static_cast<uint64_t>(mac);
    unsigned bytes[6];
    for (int i = 0; i < 6; ++i)
        bytes[i] = static_cast<unsigned>((m >> (56 - 8 * i)) & 0xFFu);
    snprintf(out, size, "%02X-%02X-%02X-%02X-%02X-%02X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]);
    return out;
}

long CV_IOUtils::MacString2Num(const char* text)
{
    if (!text)
        return 0;
    unsigned v[6] = {0, 0, 0, 0, 0, 0};
    sscanf(text, "%02X-%02X-%02X-%02X-%02X-%02X", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    uint64_t m = 0;
    for (int i = 0; i < 6; ++i)
        m |= static_cast<uint64_t>(v[i] & 0xFFu) << (56 - 8 * i);
    return static_cast<long>(m);
}

int CV_IOUtils::IsValidIpAddr(unsigned ip)
{
    Octets o = Split(ip);
    bool rejected = o.a == 0 || o.a == 127 || (o.a == 192 && o.b == 168 && o.c > 10 && o.d == 1) ||
                    (o.a == 192 && o.b == 168 && o.c == 238) || (o.a == 169 && (o.b == 254 || o.b == 154));
    return rejected ? 0 : 1;
}

int CV_IOUtils::IsInternetIpAddr(unsigned ip)
{
    for (const Range& r : kNonInternet) {
        if (ip >= r.first && ip <= r.last)
            return 0;
    }
    return 1;
}

int CV_IOUtils::IsLoopbackIpAddr(unsigned ip)
{
    return (ip >> 24) == 127 ? 1 : 0;
}

int CV_IOUtils::IsURLAddr(char* text)
{
    if (!text)
        return 0;
    for (const char* p = text; *p; ++p) {
        if (!(*p >= '0' && *p <= '9') && *p != '.')
            return 1;
    }
    return 0;
}

unsigned CV_IOUtils::GetLocalIPAddr(unsigned* out, unsigned max, long)
{
    if (!out || max == 0)
        return 0;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return 0;

    ifreq records[kInterfaceSlots];
    memset(records, 0, sizeof(records));
    ifconf conf;
    conf.ifc_len = sizeof(records);
    conf.ifc_req = records;
    unsigned count = 0;
    if (ioctl(fd, SIOCGIFCONF, &conf) == 0) {
        int listed = conf.ifc_len / static_cast<int>(sizeof(ifreq));
        for (int i = listed - 1; i >= 0 && count < max; --i) {
            ifreq req = records[i];
            if (ioctl(fd, SIOCGIFADDR, &req) != 0)
                break;
            const sockaddr_in* sin = reinterpret_cast<const sockaddr_in*>(&req.ifr_addr);
            unsigned ip = ntohl(sin->sin_addr.s_addr);
            if (!IsValidIpAddr(ip))
                continue;
            bool seen = false;
            for (unsigned j = 0; j < count && !seen; ++j)
                seen = out[j] == ip;
            if (!seen)
                out[count++] = ip;
        }
    }
    close(fd);
    return count;
}

int CV_IOUtils::IsLocalIpAddr(unsigned ip)
{
    if (ip == 0x7F000001u)
        return 1;
    unsigned found[10] = {0};
    unsigned n = GetLocalIPAddr(found, 10, 0);
    // Only the slots that were filled count; the zeros behind them are no address.
    for (unsigned i = 0; i < n; ++i) {
        if (found[i] == ip)
            return 1;
    }
    return 0;
}

int CV_IOUtils::IsNetworkSupportIPv6()
{
    char name[256] = {0};
    if (gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0')
        return 0;
    addrinfo* list = Resolve(name, AF_UNSPEC);
    int answer = 0;
    for (addrinfo* ai = list; ai && !answer; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET6)
            continue;
        char text[kIPv6TextSize] = {0};
        IPv6Text(ai, text, sizeof(text));
        _strlwr_s(text, sizeof(text));
        if (text[0] != '\0' && strncmp(text, "fe80::", 6) != 0)
            answer = 1;
    }
    if (list)
        freeaddrinfo(list);
    return answer;
}

void CV_IOUtils::Init()
{
    pthread_mutex_init(&m_hIPv6MapMutex, nullptr);
    m_dwIPv6NativeSeed = 0;
}

void CV_IOUtils::Release()
{
    FreeIPv6Texts();
    pthread_mutex_destroy(&m_hIPv6MapMutex);
}

unsigned CV_IOUtils::IPv6AddrString2Native(const char* text)
{
    if (!text)
        return 0;
    MapLock lock;
    for (const auto& entry : m_IPv6NativeMap) {
        if (strcasecmp(entry.second, text) == 0)
            return entry.first;
    }
    char* copy = new (std::nothrow) char[kIPv6TextSize];
    if (!copy)
        return 0;
    snprintf(copy, kIPv6TextSize, "%s", text);
    unsigned id = kFirstIPv6Id + m_dwIPv6NativeSeed;
    // 0 is never an id, and an id already taken (after the count wrapped)
    // must not lose its text.
    bool inserted = false;
    if (id != 0) {
        try {
            inserted = m_IPv6NativeMap.emplace(id, copy).second;
        } catch (...) {
            inserted = false;
        }
    }
    if (!inserted) {
        delete[] copy;
        return 0;
    }
    ++m_dwIPv6NativeSeed;
    return id;
}

int CV_IOUtils::IsNativeIPv6Addr(unsigned id)
{
    MapLock lock;
    return m_IPv6NativeMap.count(id) ? 1 : 0;
}

char* CV_IOUtils::IPv6AddrNative2String(unsigned id, char* out, unsigned size)
{
    if (!out)
        return out;
    MapLock lock;
    auto it = m_IPv6NativeMap.find(id);
    if (it != m_IPv6NativeMap.end())
        snprintf(out, size, "%s", it->second);
    return out;
}

int CV_IOUtils::DnsResolution(const char* host, unsigned& out, unsigned)
{
    addrinfo* list = Resolve(host, m_bEnableIpv6Dns ? AF_UNSPEC : AF_INET);
    int answer = 0;
    for (addrinfo* ai = list; ai && !answer; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET6) {
            char text[kIPv6TextSize] = {0};
            IPv6Text(ai, text, sizeof(text));
            unsigned id = text[0] ? IPv6AddrString2Native(text) : 0;
            if (id != 0) {
                out = id;
                answer = 1;
            }
        } else if (ai->ai_family == AF_INET) {
            const sockaddr_in* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            out = ntohl(sin->sin_addr.s_addr);
            answer = 1;
        }
    }
    if (list)
        freeaddrinfo(list);
    return answer;
}

int CV_IOUtils::DnsResolutionV6(const char* host, char* out, unsigned size, unsigned x)
{
    if (!out || size == 0)
        return 0;
    addrinfo* list = Resolve(host, AF_INET6);
    int answer = 0;
    for (addrinfo* ai = list; ai && !answer; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET6)
            continue;
        IPv6Text(ai, out, static_cast<socklen_t>(size));
        answer = out[0] != '\0' ? 1 : 0;
    }
    if (list)
        freeaddrinfo(list);
    if (answer)
        return 1;

    unsigned n = 0;
    if (DnsResolution(host, n, x) != 1)
        return 0;
    IPNum2String(n, out, size);
    return 1;
}

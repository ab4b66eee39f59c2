// Static input/output functions: process and socket set-up, IPv4/MAC
// addresses and name resolution, the IPv6 table, text and checksum helpers.
#ifndef QG_UTIL_CV_IOUTILS_H
#define QG_UTIL_CV_IOUTILS_H

#include <pthread.h>
#include <stdint.h>

#include <map>

// Value of one hexadecimal digit of either case, -1 for anything else.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Fills a POSIX record lock and hands it to fcntl(fd, cmd, &lock).
int lock_reg(int fd, int cmd, int type, long offset, int whence, long len);

// IPv4 addresses passed as unsigned are in host order: the first octet of
// the dotted text in the most significant byte (192.168.1.2 = 0xC0A80102).
class CV_IOUtils
{
public:
    CV_IOUtils() {}
    virtual ~CV_IOUtils() {}

    // --- process and sockets ---

    // Double fork into the background. 0 in the daemon, -1 on failure; the
    // caller and the first child end inside the call with status 0.
    static int initDaemon(const char* dir);
    // Open, lock and fill the pid file: its descriptor, or 0 on any failure
    // (another process holding the lock included).
    static int checkRunning(const char* path);
    static int setNonblock(int fd);
    static int setBlock(int fd);
    static int SetSocketSendTimeOut(int fd, int msec);
    static int SetSocketRecvTimeOut(int fd, int msec);
    // interval and idle in ms (whole seconds are used); -1 when any option
    // is refused.
    static int SetTcpSocketKeepAlive(int fd, int intervalMs, int idleMs, int count);
    static void FixWin32UDPConnResetBug(int fd);
    // iface (host order) and ttl are set when non-zero; -1 when refused.
    static int SetMultiCastProperty(int fd, unsigned iface, unsigned ttl);
    static int SocketPair(int domain, int type, int protocol, int* pair);
    // A connected pair of IPv4 loopback sockets (family 1 or 2, protocol 0).
    static int ersatz_socketpair(int family, int type, int protocol, int* pair);
    // A port in 40000..49999 that was free a moment ago, or 65535.
    static uint16_t GetValidPort(long tcp);
    static int IsValidPort(unsigned port, long tcp);

    // --- addresses and name resolution ---

    static unsigned IPString2Num(const char* text);  // 0xFFFFFFFF when not an address
    static char* IPNum2String(unsigned ip, char* out, unsigned size);
    // Shared buffer, overwritten by the next call: not for concurrent use.
    static char* IPNum2String(unsigned ip);
    // MAC number: the six bytes in bits 16-63, first byte highest.
    static char* MacNum2String(long mac, char* out, unsigned size);
    static long MacString2Num(const char* text);
    static int IsValidIpAddr(unsigned ip);
    static int IsInternetIpAddr(unsigned ip);
    static int IsLoopbackIpAddr(unsigned ip);
    static int IsURLAddr(char* text);
    // Up to max distinct usable addresses of the host's interfaces.
    static unsigned GetLocalIPAddr(unsigned* out, unsigned max, long flags);
    static int IsLocalIpAddr(unsigned ip);
    static int IsNetworkSupportIPv6();

    // IPv6 table: ids from 0x7F7F0001 stand for IPv6 address texts.
    static void Init();
    static void Release();
    static unsigned IPv6AddrString2Native(const char* text);  // 0: no memory
    static int IsNativeIPv6Addr(unsigned id);
    static char* IPv6AddrNative2String(unsigned id, char* out, unsigned size);
    static int DnsResolution(const char* host, unsigned& out, unsigned unused);
    static int DnsResolutionV6(const char* host, char* out, unsigned size, unsigned unused);

    // --- text and checksums ---

    static unsigned short cal_chksum(unsigned short* data, int len);
    static int Buf2HexStr(char* data, unsigned len, char* out, unsigned size);
    static int Hex2Int(char* pair);
    // size: room in out on entry, bytes written on return.
    static int HexStr2Buf(const char* text, char* out, unsigned& size);
    static char* trim(char* text);
    static int BufXOR(char* data, unsigned len, const char* key, char* out);
    static char* SplitSignatureStr(const char* text, const char* tag, char* out, int size);

    static std::map<unsigned, char*> m_IPv6NativeMap;
    static pthread_mutex_t m_hIPv6MapMutex;
    static unsigned m_dwIPv6NativeSeed;
    static long m_bEnableIpv6Dns;

private:
    static char m_szIPText[20];
};

#endif

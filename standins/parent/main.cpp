// standin-parent: a parent server for tests. It listens for UDP on
// 127.0.0.1, prints each datagram decoded, answers a child's registration
// (system command 1000) with its result (1001), and sends what its standard
// input asks to the child. See README.md for the command line, the input
// commands and the output lines.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "quote_bytes.h"
#include "util/cv_ioutils.h"

namespace {

const uint16_t kRegister = 1000;
const uint16_t kResult = 1001;

volatile sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

void Print(const std::string& line)
{
    const std::string text = line + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

struct Options {
    int port = 0;
    int resultCode = 0;
    int skip = 0;
    int exitAfterSec = 300;
};

// ---- packs: 7-byte head C7 01 <type> <u32 total length>, little-endian ----

uint32_t U32(const std::string& p, size_t at)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p.data()) + at;
    return u[0] | u[1] << 8 | u[2] << 16 | static_cast<uint32_t>(u[3]) << 24;
}

uint16_t U16(const std::string& p, size_t at)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p.data()) + at;
    return static_cast<uint16_t>(u[0] | u[1] << 8);
}

std::string I32Text(const std::string& p, size_t at)
{
    return std::to_string(static_cast<int32_t>(U32(p, at)));
}

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

std::string SystemCommand(uint16_t cmd, const int32_t params[4], const std::string& text)
{
    std::string p = Head(4, 28 + text.size());
    Put(p, cmd, 2);
    for (int i = 0; i < 4; ++i)
        Put(p, static_cast<uint32_t>(params[i]), 4);
    Put(p, static_cast<uint32_t>(text.size()), 2);
    return p + text + std::string(1, '\0');
}

std::string Values(uint8_t type, const uint32_t values[3])
{
    std::string p = Head(type, type == 3 ? 21 : 19);
    if (type == 3)
        Put(p, 0, 2);
    for (int i = 0; i < 3; ++i)
        Put(p, values[i], 4);
    return p;
}

std::string HexText(const std::string& d)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : d) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out.empty() ? "-" : out;
}

struct Layout {
    uint8_t type;
    const char* name;
    size_t fixed;         // size without the text, its NUL included
    size_t textLengthAt;  // 0: no text
};

const Layout kLayouts[] = {
    {1, "connect", 19, 0},
    {2, "result", 26, 23},
    {3, "check", 21, 0},
    {4, "cmd", 28, 25},
};

// The datagram as one printed pack, or why it is none.
std::string Decode(const std::string& d, const Layout** layoutOut)
{
    *layoutOut = nullptr;
    const std::string bad = "bad " + std::to_string(d.size()) + ":" + HexText(d) + " ";
    if (d.size() < 7)
        return bad + "(short)";
    if (static_cast<unsigned char>(d[0]) != 0xC7 || d[1] != 0x01)
        return bad + "(marker)";
    const Layout* layout = nullptr;
    for (const Layout& l : kLayouts)
        if (l.type == static_cast<uint8_t>(d[2]))
            layout = &l;
    if (!layout)
        return bad + "(type)";
    if (U32(d, 3) != d.size())
        return bad + "(length field)";
    size_t size = layout->fixed;
    if (layout->textLengthAt) {
        if (d.size() < layout->textLengthAt + 2)
            return bad + "(size)";
        size += U16(d, layout->textLengthAt);
    }
    if (d.size() != size)
        return bad + "(size)";
    if (layout->textLengthAt && d.back() != '\0')
        return bad + "(no NUL)";
    *layoutOut = layout;
    std::string out = layout->name;
    switch (layout->type) {
    case 1:
        return out + " " + std::to_string(U32(d, 7)) + " " + std::to_string(U32(d, 11)) + " " +
               std::to_string(U32(d, 15));
    case 2:
        for (size_t at = 7; at <= 19; at += 4)
            out += " " + I32Text(d, at);
        return out + " " + QuoteBytes(d.data() + 25, U16(d, 23));
    case 3:
        out += " " + std::to_string(U16(d, 7));
        for (size_t at = 9; at <= 17; at += 4)
            out += " " + std::to_string(U32(d, at));
        return out;
    default:
        out += " " + std::to_string(U16(d, 7));
        for (size_t at = 9; at <= 21; at += 4)
            out += " " + I32Text(d, at);
        return out + " " + QuoteBytes(d.data() + 27, U16(d, 25));
    }
}

// ---- input commands ----

std::vector<std::string> Words(const std::string& line)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        if (i >= line.size())
            break;
        if (line[i] == '"') {
            // A quoted text runs to the end of the line.
            const size_t last = line.find_last_not_of(" \t\r");
            out.push_back(line.substr(i, last + 1 - i));
            break;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool Number(const std::string& w, long long lo, long long hi, long long& out)
{
    if (w.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = strtoll(w.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && out >= lo && out <= hi;
}

bool Hex(const std::string& w, std::string& out)
{
    out.clear();
    if (w == "-")
        return true;
    if (w.size() % 2)
        return false;
    for (size_t i = 0; i < w.size(); i += 2) {
        const int hi = HexDigitValue(w[i]), lo = HexDigitValue(w[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

// "TEXT" with \n \r \t \" \\ \xHH.
bool Quoted(const std::string& w, std::string& out)
{
    out.clear();
    if (w.size() < 2 || w.front() != '"' || w.back() != '"')
        return false;
    for (size_t i = 1; i + 1 < w.size(); ++i) {
        if (w[i] != '\\') {
            out.push_back(w[i]);
            continue;
        }
        if (++i + 1 >= w.size())
            return false;
        switch (w[i]) {
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'x': {
            const int hi = i + 2 < w.size() ? HexDigitValue(w[i + 1]) : -1;
            const int lo = i + 2 < w.size() ? HexDigitValue(w[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return false;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            out.push_back(w[i]);
        }
    }
    return true;
}

class Parent
{
public:
    explicit Parent(const Options& o) : options_(o) {}

    bool Listen()
    {
        main_ = Bound(static_cast<uint16_t>(options_.port));
        other_ = Bound(0);
        if (main_ < 0 || other_ < 0)
            return false;
        sockaddr_in a;
        socklen_t len = sizeof(a);
        getsockname(main_, reinterpret_cast<sockaddr*>(&a), &len);
        Print("listening 127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
        return true;
    }

    void Run()
    {
        const time_t end = time(nullptr) + options_.exitAfterSec;
        bool input = true;
        std::string pending;
        while (!g_stop && !exit_ && time(nullptr) < end) {
            pollfd fds[3] = {{main_, POLLIN, 0}, {other_, POLLIN, 0}, {input ? 0 : -1, POLLIN, 0}};
            if (poll(fds, 3, 100) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                Receive(main_);
            if (fds[1].revents & POLLIN)
                Receive(other_);
            if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                const ssize_t n = read(0, buf, sizeof(buf));
                if (n <= 0) {
                    input = n < 0 && errno == EINTR;
                    continue;
                }
                pending.append(buf, static_cast<size_t>(n));
                size_t nl;
                while (!exit_ && (nl = pending.find('\n')) != std::string::npos) {
                    Command(pending.substr(0, nl));
                    pending.erase(0, nl + 1);
                }
            }
        }
        Print("gone");
    }

private:
    static int Bound(uint16_t port)
    {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a;
        memset(&a, 0, sizeof(a));
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
            fprintf(stderr, "standin-parent: udp port %u: %s\n", port, strerror(errno));
            return -1;
        }
        return fd;
    }

    static std::string AddressText(const sockaddr_in& a)
    {
        char ip[INET_ADDRSTRLEN] = {0};
        inet_ntop(AF_INET, &a.sin_addr, ip, sizeof(ip));
        return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
    }

    void Receive(int fd)
    {
        std::vector<char> buf(65536);
        sockaddr_in from;
        socklen_t len = sizeof(from);
        const ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        const std::string d(buf.data(), static_cast<size_t>(n));
        const Layout* layout = nullptr;
        Print("recv " + AddressText(from) + " " + Decode(d, &layout));
        if (!layout || fd != main_)
            return;
        child_ = from;
        haveChild_ = true;
        if (layout->type != 4 || U16(d, 7) != kRegister)
            return;
        if (ignored_ < options_.skip) {
            ++ignored_;
            Print("ignored 1000 (" + std::to_string(ignored_) + " of " + std::to_string(options_.skip) + ")");
            return;
        }
        const int32_t params[4] = {static_cast<int32_t>(U32(d, 9)), static_cast<int32_t>(U32(d, 13)),
                                   options_.resultCode, static_cast<int32_t>(U32(d, 21))};
        Send(main_, SystemCommand(kResult, params, ""));
    }

    void Send(int fd, const std::string& pack)
    {
        if (!haveChild_) {
            Print("no child yet");
            return;
        }
        const Layout* layout = nullptr;
        const std::string shown = Decode(pack, &layout);
        if (sendto(fd, pack.data(), pack.size(), 0, reinterpret_cast<const sockaddr*>(&child_), sizeof(child_)) < 0)
            Print("send fail: " + std::string(strerror(errno)));
        else
            Print(std::string(fd == main_ ? "sent " : "sent from other ") + AddressText(child_) + " " + shown);
    }

    void Command(const std::string& line)
    {
        const std::vector<std::string> w = Words(line);
        if (w.empty() || w[0][0] == '#')
            return;
        long long v[5];
        std::string bytes;
        if (w[0] == "exit" && w.size() == 1) {
            exit_ = true;
        } else if (w[0] == "cmd" && (w.size() == 6 || (w.size() == 7 && Quoted(w[6], bytes))) &&
                   Number(w[1], 0, 65535, v[0]) && Number(w[2], INT32_MIN, UINT32_MAX, v[1]) &&
                   Number(w[3], INT32_MIN, UINT32_MAX, v[2]) && Number(w[4], INT32_MIN, UINT32_MAX, v[3]) &&
                   Number(w[5], INT32_MIN, UINT32_MAX, v[4])) {
            const int32_t params[4] = {static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2]),
                                       static_cast<int32_t>(v[3]), static_cast<int32_t>(v[4])};
            Send(main_, SystemCommand(static_cast<uint16_t>(v[0]), params, bytes));
        } else if ((w[0] == "check" || w[0] == "connect") && w.size() == 4 && Number(w[1], 0, UINT32_MAX, v[0]) &&
                   Number(w[2], 0, UINT32_MAX, v[1]) && Number(w[3], 0, UINT32_MAX, v[2])) {
            const uint32_t values[3] = {static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1]),
                                        static_cast<uint32_t>(v[2])};
            Send(main_, Values(w[0] == "check" ? 3 : 1, values));
        } else if ((w[0] == "hex" || w[0] == "other") && w.size() == 2 && Hex(w[1], bytes)) {
            Send(w[0] == "hex" ? main_ : other_, bytes);
        } else {
            Print("bad command: " + QuoteBytes(line.data(), line.size()));
        }
    }

    Options options_;
    int main_ = -1;
    int other_ = -1;
    sockaddr_in child_ = {};
    bool haveChild_ = false;
    int ignored_ = 0;
    bool exit_ = false;
};

}  // namespace

int main(int argc, char* argv[])
{
    Options o;
    int c;
    while ((c = getopt(argc, argv, "p:r:s:x:")) != -1) {
        switch (c) {
        case 'p':
            o.port = atoi(optarg);
            break;
        case 'r':
            o.resultCode = atoi(optarg);
            break;
        case 's':
            o.skip = atoi(optarg);
            break;
        case 'x':
            o.exitAfterSec = atoi(optarg);
            break;
        default:
            fprintf(stderr, "usage: standin-parent [-p port] [-r code] [-s count] [-x sec]\n");
            return 2;
        }
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    signal(SIGPIPE, SIG_IGN);
    Parent parent(o);
    if (!parent.Listen())
        return 1;
    parent.Run();
    return 0;
}

// The stand-in SDK's CProtocolBase: builds the packs of the parent-server
// protocol and checks received ones before any hook sees them (layout in
// quillgate/sdklink/protocol_base.h, conventions in README.md).
#include "quillgate/sdklink/protocol_base.h"

#include <cstring>
#include <string>
#include <vector>

#include "sdk_text.h"

using namespace sdkstub;

namespace {

// The largest datagram IPv4 carries: no pack is built bigger.
const size_t kMaxPack = 65507;

struct PackLayout {
    uint8_t type;
    size_t fixed;         // bytes without the text (its NUL included)
    size_t textLengthAt;  // offset of the u16 text length; 0: no text
};

const PackLayout kLayouts[] = {
    {CV_PACK_CONNECT_REQUEST, 19, 0},
    {CV_PACK_CONNECT_RESULT, 26, 23},
    {CV_PACK_LINK_TIME_CHECK, 21, 0},
    {CV_PACK_SYSTEM_COMMAND, 28, 25},
};

const PackLayout* FindLayout(uint8_t type)
{
    for (const PackLayout& l : kLayouts)
        if (l.type == type)
            return &l;
    return nullptr;
}

uint16_t GetU16(const char* p, size_t at)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p) + at;
    return static_cast<uint16_t>(u[0] | u[1] << 8);
}

uint32_t GetU32(const char* p, size_t at)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p) + at;
    return u[0] | u[1] << 8 | u[2] << 16 | static_cast<uint32_t>(u[3]) << 24;
}

void PutU16(std::vector<char>& p, size_t at, uint16_t v)
{
    p[at] = static_cast<char>(v & 0xFF);
    p[at + 1] = static_cast<char>(v >> 8);
}

void PutU32(std::vector<char>& p, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[at + i] = static_cast<char>(v >> (8 * i));
}

// A zeroed pack of `size` bytes with its head written.
std::vector<char> NewPack(uint8_t type, size_t size)
{
    std::vector<char> p(size, 0);
    p[0] = static_cast<char>(CV_PACK_MARK0);
    p[1] = static_cast<char>(CV_PACK_MARK1);
    p[2] = static_cast<char>(type);
    PutU32(p, 3, static_cast<uint32_t>(size));
    return p;
}

// True when the datagram is exactly one pack: marker, a known type, the
// length field equal to the datagram, the size its layout and text length
// give, and a text that ends in its NUL.
bool Fits(const char* data, uint32_t length)
{
    if (!data || length < CV_PACK_HEAD_SIZE)
        return false;
    if (static_cast<unsigned char>(data[0]) != CV_PACK_MARK0 || static_cast<unsigned char>(data[1]) != CV_PACK_MARK1)
        return false;
    const PackLayout* layout = FindLayout(static_cast<uint8_t>(data[2]));
    if (!layout || GetU32(data, 3) != length)
        return false;
    if (layout->textLengthAt == 0)
        return length == layout->fixed;
    if (length < layout->textLengthAt + 2)
        return false;
    return length == layout->fixed + GetU16(data, layout->textLengthAt) && data[length - 1] == '\0';
}

// One call's journal line, written when the call ends.
class Journal
{
public:
    explicit Journal(const char* name) : line_(std::string("CProtocolBase::") + name) {}
    Journal& Num(uint32_t v) { return Add(std::to_string(static_cast<int32_t>(v))); }
    Journal& Bytes(const char* text, size_t n) { return Add(text ? QuoteBytes(text, n) : "null"); }
    Journal& Data(const void* p, size_t n) { return Add(DataForm(p, n)); }
    int Finish(int ret)
    {
        AppendLine("QG_SDK_JOURNAL", line_ + " = " + std::to_string(ret));
        return ret;
    }

private:
    Journal& Add(const std::string& s)
    {
        line_ += ' ';
        line_ += s;
        return *this;
    }
    std::string line_;
};

}  // namespace

CProtocolBase::CProtocolBase()
{}

CProtocolBase::~CProtocolBase()
{}

int CProtocolBase::OnReceiveData(const char* data, uint32_t length, uint32_t ip, uint32_t port, uint32_t flags1,
                                 uint32_t flags2, uint32_t flags3)
{
    Journal j("OnReceiveData");
    j.Data(data, data ? length : 0).Num(ip).Num(port).Num(flags1).Num(flags2).Num(flags3);
    if (!Fits(data, length))
        return j.Finish(-1);
    const uint16_t port16 = static_cast<uint16_t>(port);
    switch (static_cast<uint8_t>(data[2])) {
    case CV_PACK_CONNECT_REQUEST:
        return j.Finish(OnConnectRequest(GetU32(data, 7), GetU32(data, 11), GetU32(data, 15), ip, port16));
    case CV_PACK_CONNECT_RESULT:
        if (GetU32(data, 7) == 0)
            OnConnected();
        else
            ResetLink();
        return j.Finish(0);
    case CV_PACK_LINK_TIME_CHECK:
        OnLinkTimeCheck(data, ip, port16);
        return j.Finish(0);
    default:
        OnSysExCmd(data, ip, port);
        return j.Finish(0);
    }
}

int CProtocolBase::SendSYSTExCmdPack(uint16_t cmd, int32_t param1, int32_t param2, int32_t param3, int32_t param4,
                                     const char* text, uint16_t textLength, uint32_t ip, uint16_t port)
{
    const size_t n = !text ? 0 : textLength ? textLength : strlen(text);
    Journal j("SendSYSTExCmdPack");
    j.Num(cmd).Num(param1).Num(param2).Num(param3).Num(param4).Bytes(text, n).Num(textLength).Num(ip).Num(port);
    if (28 + n > kMaxPack)
        return j.Finish(-1);
    std::vector<char> p = NewPack(CV_PACK_SYSTEM_COMMAND, 28 + n);
    PutU16(p, 7, cmd);
    PutU32(p, 9, static_cast<uint32_t>(param1));
    PutU32(p, 13, static_cast<uint32_t>(param2));
    PutU32(p, 17, static_cast<uint32_t>(param3));
    PutU32(p, 21, static_cast<uint32_t>(param4));
    PutU16(p, 25, static_cast<uint16_t>(n));
    if (n)
        memcpy(&p[27], text, n);
    return j.Finish(SendPacket(p.data(), static_cast<uint32_t>(p.size()), ip, port));
}

int CProtocolBase::SendSysLinkTimeCheckPack(uint32_t value1, uint32_t value2, uint32_t value3, uint32_t ip,
                                            uint16_t port)
{
    Journal j("SendSysLinkTimeCheckPack");
    j.Num(value1).Num(value2).Num(value3).Num(ip).Num(port);
    std::vector<char> p = NewPack(CV_PACK_LINK_TIME_CHECK, 21);
    PutU32(p, 9, value1);
    PutU32(p, 13, value2);
    PutU32(p, 17, value3);
    return j.Finish(SendPacket(p.data(), static_cast<uint32_t>(p.size()), ip, port));
}

int CProtocolBase::SendConnectResultPack(int32_t result1, int32_t result2, int32_t result3, int32_t result4,
                                         const char* text, uint32_t ip, uint16_t port)
{
    const size_t n = text ? strlen(text) : 0;
    Journal j("SendConnectResultPack");
    j.Num(result1).Num(result2).Num(result3).Num(result4).Bytes(text, n).Num(ip).Num(port);
    if (26 + n > kMaxPack)
        return j.Finish(-1);
    std::vector<char> p = NewPack(CV_PACK_CONNECT_RESULT, 26 + n);
    PutU32(p, 7, static_cast<uint32_t>(result1));
    PutU32(p, 11, static_cast<uint32_t>(result2));
    PutU32(p, 15, static_cast<uint32_t>(result3));
    PutU32(p, 19, static_cast<uint32_t>(result4));
    PutU16(p, 23, static_cast<uint16_t>(n));
    if (n)
        memcpy(&p[25], text, n);
    return j.Finish(SendPacket(p.data(), static_cast<uint32_t>(p.size()), ip, port));
}

// Without a transport nothing leaves.
int CProtocolBase::SendPacket(const char*, uint32_t, uint32_t, uint16_t)
{
    return -1;
}

void CProtocolBase::ResetLink()
{}

int CProtocolBase::OnConnectRequest(uint32_t, uint32_t, uint32_t, uint32_t, uint16_t)
{
    return 0;
}

void CProtocolBase::OnConnected()
{}

void CProtocolBase::OnLinkTimeCheck(const char*, uint32_t, uint16_t)
{}

void CProtocolBase::OnSysExCmd(const char*, uint32_t, uint32_t)
{}

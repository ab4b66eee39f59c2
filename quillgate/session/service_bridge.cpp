#include "quillgate/session/service_bridge.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "comm/serverutils/server_utils.h"
#include "util/debug_info.h"
#include "util/win32_shims.h"

namespace {

const uint32_t kRepeatMs = 3000;
// The second thread's look at its stop flag: Stop must not wait long.
const useconds_t kSecondPollUs = 10 * 1000;
// Room for the process record as JSON text.
const size_t kRecordText = 20480;

// Fixed part of a system command pack: head, cmd, four params, text length.
const uint32_t kSysExCmdFixed = 27;
const uint32_t kLinkTimeCheckSize = 21;

int32_t GetI32(const char* p, size_t at)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p) + at;
    return static_cast<int32_t>(u[0] | u[1] << 8 | u[2] << 16 | static_cast<uint32_t>(u[3]) << 24);
}

uint16_t GetU16(const char* p, size_t at)
{
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p) + at;
    return static_cast<uint16_t>(u[0] | u[1] << 8);
}

// What a received command does besides its own action.
struct CommandRoute {
    int cmd;
    int event;        // told to the listener
    const char* log;  // written once it is handled
};

const CommandRoute kCommandRoutes[] = {
    {kBridgeRegister, 1, "bridge register..."},
    {kBridgeResult, 2, "bridge result..."},
    {kBridgeLogout, 3, "bridge logout..."},
};

}  // namespace

CServiceBridge::CServiceBridge()
    : m_processInfo(), m_listener(nullptr), m_parentIp(0), m_parentPort(0), m_linkTick(0), m_registerTick(0),
      m_receiveTick(0), m_serverSide(0), m_connected(0), m_registered(0), m_resultSeen(0), m_secondThread(),
      m_hasSecondThread(false), m_secondStop(0), m_datagramLength(0)
{}

CServiceBridge::~CServiceBridge()
{
    // Both threads call into this object: they end before any part of it.
    StopThreads();
}

void CServiceBridge::StopThreads()
{
    StopSecondThread();
    Close();
}

void CServiceBridge::SetParent(uint32_t ip, uint16_t port)
{
    m_parentIp = ip;
    m_parentPort = port;
}

int CServiceBridge::Open(uint16_t localPort, uint32_t parentIp, uint16_t parentPort, std::string* error)
{
    if (CUDPHelper::Open(localPort, error) != 0)
        return -1;
    if (Connect(parentIp, parentPort, error) != 0) {
        Close();
        return -1;
    }
    SetParent(parentIp, parentPort);
    return 0;
}

int CServiceBridge::Run()
{
    if (StartReceive() != 0)
        return -1;
    OnConnected();
    m_secondStop = 0;
    if (pthread_create(&m_secondThread, nullptr, SecondThread, this) != 0)
        return -1;
    m_hasSecondThread = true;
    return 0;
}

void CServiceBridge::OnReceive(const char* data, uint32_t length, uint32_t ip, uint32_t port)
{
    OnReceiveUDP(data, length, ip, port);
}

void CServiceBridge::OnReceiveUDP(const char* data, uint32_t length, uint32_t ip, uint32_t port)
{
    m_receiveTick = GetTickCount();
    m_datagramLength = data ? length : 0;
    try {
        OnReceiveData(data, length, ip, port, 0, 0, 1);
    } catch (...) {
        // A datagram that breaks the decoder costs only itself.
    }
    m_datagramLength = 0;
}

int CServiceBridge::SendPacket(const char* data, uint32_t length, uint32_t ip, uint16_t port)
{
    const int fd = Socket();
    if (fd < 0)
        return 0;
    if (ip == 0)
        ip = m_parentIp;
    if (port == 0)
        port = static_cast<uint16_t>(m_parentPort.load());
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(port);
    const ssize_t sent = sendto(fd, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    return sent < 0 ? -1 : 0;
}

void CServiceBridge::ResetLink()
{
    m_linkTick = 0;
    m_registerTick = 0;
    m_receiveTick = 0;
    m_connected = 0;
    m_registered = 0;
}

int CServiceBridge::OnConnectRequest(uint32_t, uint32_t, uint32_t, uint32_t ip, uint16_t port)
{
    return SendConnectResultPack(0, 0, 0, 0, nullptr, ip, port);
}

void CServiceBridge::OnConnected()
{
    m_connected = 1;
    Register();
}

void CServiceBridge::Register()
{
    std::vector<char> text(kRecordText, 0);
    CServerUtils::ServiceProcessInfo2Json(m_processInfo, text.data(), static_cast<unsigned>(text.size()));
    SendSYSTExCmdPack(kBridgeRegister, 0, 0, 0, 0, text.data(), 0, 0, 0);
    m_registerTick = GetTickCount();
}

void CServiceBridge::OnLinkTimeCheck(const char* pack, uint32_t ip, uint16_t port)
{
    if (!m_serverSide || !pack || m_datagramLength < kLinkTimeCheckSize)
        return;
    SendSysLinkTimeCheckPack(0xFFFFFFFF, 0xFFFFFFFF, static_cast<uint32_t>(GetI32(pack, 13)), ip, port);
    Tell(4, 0, Json::Value());
}

bool CServiceBridge::SysExCmd2Json(const char* pack, uint32_t length, Json::Value& out)
{
    if (!pack || length < kSysExCmdFixed)
        return false;
    const char* text = pack + kSysExCmdFixed;
    const void* nul = memchr(text, '\0', length - kSysExCmdFixed);
    const size_t textLength = nul ? static_cast<const char*>(nul) - text : length - kSysExCmdFixed;
    out = Json::Value(Json::objectValue);
    out["cmd"] = GetU16(pack, 7);
    out["param1"] = GetI32(pack, 9);
    out["param2"] = GetI32(pack, 13);
    out["param3"] = GetI32(pack, 17);
    out["param4"] = GetI32(pack, 21);
    out["strparam"] = std::string(text, textLength);
    return true;
}

void CServiceBridge::OnSysExCmd(const char* pack, uint32_t ip, uint32_t port)
{
    Json::Value cmd;
    if (!SysExCmd2Json(pack, m_datagramLength, cmd))
        return;
    const int number = cmd["cmd"].asInt();
    const CommandRoute* route = nullptr;
    for (const CommandRoute& r : kCommandRoutes)
        if (r.cmd == number)
            route = &r;
    if (!route)
        return;
    const int32_t param3 = cmd["param3"].asInt();
    Tell(route->event, param3, cmd);
    if (number == kBridgeRegister) {
        SendSYSTExCmdPack(kBridgeResult, cmd["param1"].asInt(), cmd["param2"].asInt(), 0, cmd["param4"].asInt(),
                          nullptr, 0, ip, static_cast<uint16_t>(port));
    } else if (number == kBridgeResult) {
        if (param3 == 0)
            m_registered = 1;
        m_resultSeen = 1;
    }
    g_DebugInfo.LogDebugInfo(4, "%s", route->log);
}

void CServiceBridge::Tell(int event, int param, const Json::Value& doc)
{
    if (m_listener)
        m_listener->OnBridgeEvent(event, param, doc);
}

void CServiceBridge::Stop()
{
    if (!m_serverSide && m_registered.exchange(0)) {
        std::vector<char> text(kRecordText, 0);
        CServerUtils::ServiceProcessInfo2Json(m_processInfo, text.data(), static_cast<unsigned>(text.size()));
        SendSYSTExCmdPack(kBridgeLogout, 0, 0, 0, 0, text.data(), 0, 0, 0);
        usleep(10 * 1000);  // lets the datagram leave before the socket closes
    }
    StopThreads();
}

void CServiceBridge::StopSecondThread()
{
    if (!m_hasSecondThread)
        return;
    m_secondStop = 1;
    pthread_join(m_secondThread, nullptr);
    m_hasSecondThread = false;
}

void* CServiceBridge::SecondThread(void* self)
{
    static_cast<CServiceBridge*>(self)->RepeatRegister();
    return nullptr;
}

void CServiceBridge::RepeatRegister()
{
    while (!m_secondStop && !m_resultSeen) {
        usleep(kSecondPollUs);
        if (!m_secondStop && !m_resultSeen && TickDistance(GetTickCount(), m_registerTick) >= kRepeatMs)
            Register();
    }
}

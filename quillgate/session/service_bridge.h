// The link through which a server process reports itself to its parent
// server over UDP, in the packs of the SDK's CProtocolBase: system command
// 1000 registers with the process record as JSON text, 1001 is the result,
// 1004 says goodbye. On the server side the same class answers 1000 with
// 1001 and echoes link time checks.
#ifndef QG_SESSION_SERVICE_BRIDGE_H
#define QG_SESSION_SERVICE_BRIDGE_H

#include <atomic>
#include <pthread.h>
#include <stdint.h>

#include <json/json.h>

#include "comm/serverutils/server_records.h"
#include "quillgate/sdklink/protocol_base.h"
#include "quillgate/session/udp_helper.h"

// Told about the parent protocol's commands, on the receive thread.
class IServiceBridgeListener
{
public:
    virtual ~IServiceBridgeListener() {}
    // event 1: a 1000, 2: a 1001, 3: a 1004 (param their param3, doc the
    // command as JSON); 4: a link time check answered (0, null).
    virtual void OnBridgeEvent(int event, int param, Json::Value doc) = 0;
};

enum {
    kBridgeRegister = 1000,
    kBridgeResult = 1001,
    kBridgeLogout = 1004,
};

class CServiceBridge : public CUDPHelper, public CProtocolBase
{
public:
    CServiceBridge();
    // Joins the threads and closes the socket; sends no logout.
    ~CServiceBridge() override;
    // The same, at once: both threads call into this object, so a class
    // derived from it calls this in its own destructor, before its part of
    // the object goes.
    void StopThreads();

    // Set before Open.
    void SetListener(IServiceBridgeListener* listener) { m_listener = listener; }
    void SetServerSide(bool on) { m_serverSide = on ? 1 : 0; }
    void SetParent(uint32_t ip, uint16_t port);
    // This process as the parent sees it; filled before Run.
    CS_SERVICEPROCESSINFO_STRUCT& ProcessInfo() { return m_processInfo; }

    // A socket on localPort (0: any) connected to the parent, which becomes
    // the default destination. 0, or -1 with the reason in error.
    int Open(uint16_t localPort, uint32_t parentIp, uint16_t parentPort, std::string* error);
    // The receive thread, OnConnected (the first 1000), and the thread that
    // repeats Register every 3 s until a 1001 arrives. 0, or -1 when a
    // thread cannot start.
    int Run();

    // One datagram and its sender (host order). Only this call's datagram
    // is what the hooks read, never more.
    void OnReceiveUDP(const char* data, uint32_t length, uint32_t ip, uint32_t port);
    void Register();
    // A registered child says goodbye (one 1004); then both threads end and
    // the socket closes, within 200 ms.
    void Stop();

    bool IsConnected() const { return m_connected.load() != 0; }
    bool IsRegistered() const { return m_registered.load() != 0; }

    // The system command of a pack of `length` bytes as JSON ("cmd",
    // "param1".."param4", "strparam"); false when the pack is shorter than
    // its fixed part. The text ends at its NUL or at the end of the pack.
    static bool SysExCmd2Json(const char* pack, uint32_t length, Json::Value& out);

protected:
    void OnReceive(const char* data, uint32_t length, uint32_t ip, uint32_t port) override;
    int SendPacket(const char* data, uint32_t length, uint32_t ip, uint16_t port) override;
    void ResetLink() override;
    int OnConnectRequest(uint32_t value1, uint32_t value2, uint32_t value3, uint32_t ip, uint16_t port) override;
    void OnConnected() override;
    void OnLinkTimeCheck(const char* pack, uint32_t ip, uint16_t port) override;
    void OnSysExCmd(const char* pack, uint32_t ip, uint32_t port) override;

private:
    static void* SecondThread(void* self);
    void RepeatRegister();
    void StopSecondThread();
    void Tell(int event, int param, const Json::Value& doc);

    CS_SERVICEPROCESSINFO_STRUCT m_processInfo;
    IServiceBridgeListener* m_listener;
    std::atomic<uint32_t> m_parentIp;
    std::atomic<uint32_t> m_parentPort;
    std::atomic<uint32_t> m_linkTick;
    std::atomic<uint32_t> m_registerTick;
    std::atomic<uint32_t> m_receiveTick;
    std::atomic<int64_t> m_serverSide;
    std::atomic<int64_t> m_connected;
    std::atomic<int64_t> m_registered;
    std::atomic<int64_t> m_resultSeen;  // any 1001: the repeats end
    pthread_t m_secondThread;
    bool m_hasSecondThread;
    std::atomic<int64_t> m_secondStop;
    // Bytes of the datagram being decoded, kept for the hooks, which get
    // only the pack; 0 outside OnReceiveUDP.
    uint32_t m_datagramLength;
};

#endif

// The service object: start-up from the command line, the main-loop step
// and the stop sequence of one quillgate session.
#ifndef QG_SESSION_CORVANE_QUILLGATE_H
#define QG_SESSION_CORVANE_QUILLGATE_H

#include <atomic>
#include <stdint.h>

#include <json/json.h>

#include "comm/serverutils/server_records.h"
#include "quillgate/session/rpc_quillgate.h"
#include "quillgate/session/service_bridge.h"
#include "util/async_event_manager.h"

class CCorvaneQuillgate;

// The one service object; null before it is built and once it is going.
extern std::atomic<CCorvaneQuillgate*> g_lpCorvaneService;
// Set to make the main-loop thread stop.
extern std::atomic<int64_t> g_bNeedExitMainLoop;
// 1 while the main-loop thread runs.
extern std::atomic<int64_t> g_bMainLoopRunning;

class CCorvaneQuillgate : public CSilentAsyncEventDelegate
{
public:
    CCorvaneQuillgate();
    ~CCorvaneQuillgate() override;

    bool Init(Json::Value options);
    bool Start();
    bool MainLoopStep();
    int OnServiceStop();

    // Any thread may ask; the main loop ends at its next step.
    void RequestExit() { m_exit = 1; }
    bool ExitRequested() const { return m_exit.load() != 0; }
    void SetNeedUpdateName(int64_t flag) { m_needUpdateName = flag; }
    int OnUpdateIconTip();

    const char* GetDisplayName() const { return m_displayName; }

    // "host:port" (leading and repeated colons skipped, at most 99 chars
    // read): 0 with both parts stored, -1 with nothing touched.
    static int ParseHostPort(const char* text, char* host, unsigned hostSize, uint32_t* port);
    static int ParseIpPort(const char* text, uint32_t* ip, uint32_t* port);

private:
    // With a parent port: registers this process there, opt-in.
    void StartServiceBridge();

    CServiceBridge m_bridge;
    long m_fatherUdp;
    long m_udpPort;
    _GUID m_serviceGuid;
    _GUID m_machineGuid;
    _GUID m_versionGuid;
    uint32_t m_gatewayIp;
    uint32_t m_gatewayPort;
    char m_relayHost[1024];
    uint32_t m_relayPort;
    char m_userName[200];
    char m_displayName[200];
    std::atomic<int64_t> m_exit;
    std::atomic<int64_t> m_needUpdateName;
    char m_version[64];
    IceUtil::Handle<rpcCorvaneQuillgate> m_servant;
};

#endif

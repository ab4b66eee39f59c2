#include "quillgate/session/corvane_quillgate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

#include "comm/serverutils/record_codec.h"
#include "comm/serverutils/server_utils.h"
#include "quillgate/log/log_mask.h"
#include "quillgate/session/connect_mgr.h"
#include "util/cv_ioutils.h"
#include "util/json_writer.h"
#include "util/server_tools.h"

#ifndef QG_VERSION_SHA
#define QG_VERSION_SHA "0000000000000000000000000000000000000000"
#endif

std::atomic<CCorvaneQuillgate*> g_lpCorvaneService(nullptr);
std::atomic<int64_t> g_bNeedExitMainLoop(0);
std::atomic<int64_t> g_bMainLoopRunning(0);

namespace {

const int kVersionMajor = 8;
const int kVersionMinor = 0;
const int kVersionBuild = 995;
// The server type this program reports to a parent: the WebRTC gateway's.
const DWORD kBridgeServerFlags = 0x200000;

// A text option; an object given in its place is taken as its JSON text.
std::string TextOption(const Json::Value& options, const char* name)
{
    const Json::Value& v = options[name];
    if (v.isString())
        return v.asString();
    if (v.isObject())
        return cv::toStyledString(v);
    return std::string();
}

void CopyText(char* out, size_t size, const std::string& text)
{
    snprintf(out, size, "%s", text.c_str());
}

}  // namespace

CCorvaneQuillgate::CCorvaneQuillgate()
    : m_fatherUdp(0), m_udpPort(0), m_serviceGuid(), m_machineGuid(), m_versionGuid(),
      m_gatewayIp(CV_IOUtils::IPString2Num("127.0.0.1")), m_gatewayPort(8941), m_relayHost(), m_relayPort(0),
      m_userName(), m_displayName(), m_exit(0), m_needUpdateName(0), m_version()
{}

CCorvaneQuillgate::~CCorvaneQuillgate()
{
    m_servant = 0;
}

int CCorvaneQuillgate::ParseHostPort(const char* text, char* host, unsigned hostSize, uint32_t* port)
{
    if (!text || !host || !port)
        return -1;
    char buf[100] = {0};
    strncpy(buf, text, sizeof(buf) - 1);
    char* save = nullptr;
    const char* hostPart = strtok_r(buf, ":", &save);
    const char* portPart = hostPart ? strtok_r(nullptr, ":", &save) : nullptr;
    if (!hostPart || !portPart)
        return -1;
    snprintf(host, hostSize, "%s", hostPart);
    *port = static_cast<uint32_t>(strtol(portPart, nullptr, 10));
    return 0;
}

int CCorvaneQuillgate::ParseIpPort(const char* text, uint32_t* ip, uint32_t* port)
{
    char host[1024] = {0};
    const int ret = ParseHostPort(text, host, sizeof(host), port);
    if (ret == 0 && ip)
        *ip = CV_IOUtils::IPString2Num(host);
    return ret;
}

bool CCorvaneQuillgate::Init(Json::Value options)
{
    CConnectMgr& mgr = CConnectMgr::GetInstance();
    const int ret = mgr.Init();
    if (ret != 0) {
        CConnectMgr::Log(16, "Success start quillgate fail! ret:%u", static_cast<unsigned>(ret));
        return false;
    }
    CConnectMgr::Log(4, "Success start quillgate service on pid=%u", static_cast<unsigned>(getpid()));

    m_fatherUdp = CServerTools::IntOption(options, "fatherudp");
    CopyText(m_userName, sizeof(m_userName), TextOption(options, "username"));
    char serviceGuid[100] = {0};
    char hostAddr[100] = {0};
    char turnAddr[100] = {0};
    CopyText(serviceGuid, sizeof(serviceGuid), TextOption(options, "serviceGuid"));
    CopyText(hostAddr, sizeof(hostAddr), TextOption(options, "hostaddr"));
    CopyText(turnAddr, sizeof(turnAddr), TextOption(options, "turnaddr"));
    m_udpPort = CServerTools::IntOption(options, "udpport");
    m_serviceGuid = qg_record::ParseGuid(serviceGuid);
    m_machineGuid = qg_record::ParseGuid(TextOption(options, "machineGuid").c_str());
    m_versionGuid = qg_record::ParseGuid(TextOption(options, "versionGuid").c_str());
    mgr.SetH5VideoCodec(static_cast<uint32_t>(CServerTools::IntOption(options, "h5vcodec")));

    if (ParseIpPort(hostAddr, &m_gatewayIp, &m_gatewayPort) != 0) {
        CConnectMgr::Log(4, "Corvane Quillgate cmdline analysis fail!");
        return false;
    }
    // The relay is optional: without it the relay host stays empty.
    ParseHostPort(turnAddr, m_relayHost, sizeof(m_relayHost), &m_relayPort);

    rpcCorvaneQuillgate* servant = new (std::nothrow) rpcCorvaneQuillgate(serviceGuid);
    if (!servant) {
        CConnectMgr::Log(4, "alloc rpcCorvaneQuillgate fail!");
        return false;
    }
    m_servant = servant;

    snprintf(m_displayName, sizeof(m_displayName), "%s", m_userName);
    snprintf(m_version, sizeof(m_version), "%d.%d", kVersionMajor, kVersionMinor);

    // The -e secret is a password: written as "***".
    CConnectMgr::Log(4, "Corvane Quillgate Cmdline:%s", MaskPasswordMembers(cv::toStyledString(options)).c_str());
    CConnectMgr::Log(4, "Corvane Quillgate Init,V%d.%d.r%d, Build Time:%s %s", kVersionMajor, kVersionMinor,
                     kVersionBuild, __DATE__, __TIME__);
    CConnectMgr::Log(4, "Corvane Quillgate VersionSHA=%s", QG_VERSION_SHA);
    return true;
}

bool CCorvaneQuillgate::Start()
{
    if (!m_servant)
        return false;
    if (m_servant->Init(m_gatewayIp, static_cast<int>(m_gatewayPort), m_relayHost, static_cast<int>(m_relayPort)) != 0)
        return false;
    StartServiceBridge();
    return true;
}

void CCorvaneQuillgate::StartServiceBridge()
{
    if (m_fatherUdp < 1 || m_fatherUdp > 65535)
        return;
    const uint16_t parentPort = static_cast<uint16_t>(m_fatherUdp);
    const uint16_t localPort = m_udpPort >= 1 && m_udpPort <= 65535 ? static_cast<uint16_t>(m_udpPort) : 0;
    char parentIp[32] = {0};
    CV_IOUtils::IPNum2String(m_gatewayIp, parentIp, sizeof(parentIp));
    // The session goes on without its parent: a failed socket costs this line.
    std::string error;
    if (m_bridge.Open(localPort, m_gatewayIp, parentPort, &error) != 0) {
        CConnectMgr::Log(16, "service bridge udp:%u parent:%s:%u fail! %s", localPort, parentIp, parentPort,
                         error.c_str());
        return;
    }
    CS_SERVICEPROCESSINFO_STRUCT& rec = m_bridge.ProcessInfo();
    CServerUtils::InitServiceProcessInfo(&rec, kBridgeServerFlags);
    rec.ver.Main = kVersionMajor;
    rec.ver.Sub = kVersionMinor;
    rec.ver.Develop = kVersionBuild;
    rec.serviceGuid = m_serviceGuid;
    rec.machineGuid = m_machineGuid;
    rec.versionGuid = m_versionGuid;
    rec.LocalUDPPort = m_bridge.LocalPort();
    if (m_bridge.Run() != 0) {
        CConnectMgr::Log(16, "service bridge thread fail!");
        return;
    }
    CConnectMgr::Log(4, "service bridge udp:%u parent:%s:%u", rec.LocalUDPPort, parentIp, parentPort);
}

bool CCorvaneQuillgate::MainLoopStep()
{
    CConnectMgr::GetInstance().OnTimer();
    if (m_servant)
        m_servant->OnTimer();
    return m_exit.load() == 0;
}

int CCorvaneQuillgate::OnUpdateIconTip()
{
    if (m_needUpdateName.exchange(0) == 0)
        return 0;
    const std::string name = std::string(m_userName) + "_" +
                             std::to_string(static_cast<int>(CConnectMgr::GetInstance().GetSDKClient().GetOwnUserId()));
    CopyText(m_displayName, sizeof(m_displayName), name);
    CConnectMgr::Log(4, "CCorvaneQuillgate::OnUpdateIconTip .. name:%s", m_displayName);
    return 1;
}

int CCorvaneQuillgate::OnServiceStop()
{
    CConnectMgr::Log(4, "---> [%s] ...", "OnServiceStop");
    m_bridge.Stop();
    if (m_servant) {
        // Ice goes first: no dispatch and no keep-alive pass runs after this.
        m_servant->Release();
        CConnectMgr::GetInstance().SetServant(nullptr);
        m_servant = 0;
    }
    CAsyncEventManager::GetInstance()->Release();
    CConnectMgr::Log(4, "<--- [%s] ...", "OnServiceStop");
    return 1;
}

// The servant as the gateway's link: Ice set-up, registration, the
// keep-alive and reconnect thread, and release.
#include "quillgate/session/rpc_quillgate.h"

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/corvane_quillgate.h"
#include "util/cv_ioutils.h"
#include "util/win32_shims.h"

typedef rpcCorvane::rpcCorvaneWebRtcGwPrx GwPrx;

const char* const rpcCorvaneQuillgate::kAdapterName = "CorvaneWebRtc.Quillgate";
const char* const rpcCorvaneQuillgate::kServantIdentity = "CorvaneWebRtcQuillgate";
const char* const rpcCorvaneQuillgate::kGatewayIdentity = "CorvaneWebRtcGWServer";

namespace {

const char* const kProxyProperty = "CorvaneWebRtc.Quillgate.Proxy";
const char* const kEndpointsProperty = "CorvaneWebRtc.Quillgate.Endpoints";

}  // namespace

rpcCorvaneQuillgate::rpcCorvaneQuillgate(const std::string& sessionId)
    : m_thread(), m_threadStarted(false), m_stop(0), m_gatewayIp(0), m_gatewayPort(0), m_connected(0),
      m_sessionId(sessionId)
{}

rpcCorvaneQuillgate::~rpcCorvaneQuillgate()
{
    m_ownProxy = 0;
    m_gateway = 0;
    m_adapter = 0;
    m_communicator = 0;
}

std::string rpcCorvaneQuillgate::GatewayProxyText(uint32_t gatewayIp, int gatewayPort)
{
    char ip[100] = {0};
    char port[100] = {0};
    CV_IOUtils::IPNum2String(gatewayIp, ip, sizeof(ip));
    snprintf(port, sizeof(port), " -p %d", gatewayPort);
    return std::string(kGatewayIdentity) + ":default -h " + ip + port;
}

int rpcCorvaneQuillgate::Init(uint32_t gatewayIp, int gatewayPort, const std::string& relayHost, int relayPort)
{
    try {
        CConnectMgr& mgr = CConnectMgr::GetInstance();
        mgr.SetServant(this);
        mgr.SetSessionId(m_sessionId);
        mgr.SetStunServer(relayHost, relayPort);

        m_gatewayIp = gatewayIp;
        m_gatewayPort = static_cast<uint32_t>(gatewayPort);
        const std::string proxyText = GatewayProxyText(gatewayIp, gatewayPort);
        CConnectMgr::Log(4, "rpc init proxy endpoints(%s), sessionid:%s", proxyText.c_str(), m_sessionId.c_str());

        Ice::InitializationData initData;
        initData.properties = Ice::createProperties();
        initData.properties->setProperty(kProxyProperty, proxyText);
        initData.properties->setProperty(kEndpointsProperty, "default -h 127.0.0.1");
        initData.properties->setProperty("BuildId", "Ice " ICE_STRING_VERSION);
        initData.properties->setProperty("Ice.IPv6", "0");
        initData.properties->setProperty("Ice.ACM.Client.Timeout", "0");
        initData.properties->setProperty("Ice.ThreadPool.Client.Size", "2");
        initData.properties->setProperty("Ice.ThreadPool.Client.SizeMax", "10");
        // The gateway proxy lives under the adapter's prefix, where Ice knows no
        // "Proxy" property and would warn about it at every start.
        initData.properties->setProperty("Ice.Warn.UnknownProperties", "0");
        m_communicator = Ice::initialize(initData);

        m_adapter = m_communicator->createObjectAdapter(kAdapterName);
        m_adapter->add(this, Ice::stringToIdentity(kServantIdentity));
        m_adapter->activate();

        if (Connect() == 2) {
            CConnectMgr::Log(4, "session is not exist! will exit...");
            return -1;
        }
        if (pthread_create(&m_thread, nullptr, &rpcCorvaneQuillgate::ThreadLoop, this) != 0) {
            // Without the keep-alive thread nothing would ever reconnect or end the session.
            CConnectMgr::Log(16, "rpc init fail: %s", "cannot start the keep-alive thread");
            return -1;
        }
        m_threadStarted = true;
        return 0;
    } catch (const IceUtil::Exception& e) {
        CConnectMgr::Log(16, "rpc init fail: %s", e.what());
        return -1;
    }
}

int rpcCorvaneQuillgate::Connect()
{
    try {
        Ice::ObjectPrx base = m_communicator->propertyToProxy(kProxyProperty);
        base = base->ice_twoway()
                   ->ice_timeout(kGatewayTimeoutMs)
                   ->ice_invocationTimeout(kGatewayTimeoutMs)
                   ->ice_secure(false);
        // A remote ice_isA: made without the lock so replies never wait on it.
        GwPrx gateway = GwPrx::checkedCast(base);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_gateway = gateway;
        }
        if (!gateway) {
            fprintf(stderr, ": invalid proxy\n");
            return -1;
        }

        m_ownProxy = rpcCorvane::rpcCorvaneWebRtcQuillgatePrx::uncheckedCast(
            m_adapter->createProxy(Ice::stringToIdentity(kServantIdentity)));
        const int result = gateway->initiateQiullgateDelegate(m_sessionId, static_cast<int>(getpid()), m_ownProxy);
        if (result != 0)
            return 2;

        CConnectMgr::Log(4, "connect rpcServer Success! result:%d", 0);
        m_connected = 1;
        return 0;
    } catch (const IceUtil::Exception& e) {
        CConnectMgr::Log(2, "rpc connect fail: %s", e.what());
        return -1;
    }
}

bool rpcCorvaneQuillgate::SleepUnlessStopped(unsigned ms)
{
    for (unsigned slept = 0; slept < ms && !m_stop; slept += 100)
        usleep((ms - slept < 100 ? ms - slept : 100) * 1000);
    return !m_stop;
}

void rpcCorvaneQuillgate::KeepAlive()
{
    uint32_t failures = 0;
    const uint32_t startTick = GetTickCount();

    while (!m_stop) {
        if (m_connected) {
            if (TickDistance(GetTickCount(), startTick) > 3000) {
                const GwPrx gateway = GatewayProxy();
                if (!gateway) {
                    m_connected = 0;
                } else {
                    try {
                        gateway->ice_ping();
                    } catch (const IceUtil::Exception&) {
                        m_connected = 0;
                    }
                }
            }
            SleepUnlessStopped(100);
            continue;
        }

        int result = Connect();
        while (result != 0) {
            ++failures;
            if (failures > kMaxConnectFailures) {
                CConnectMgr::Log(16, "connect gw server fail! count:%d, will exit...", failures);
                RequestServiceExit();
                return;
            }
            if (!SleepUnlessStopped(1000))
                return;
            result = Connect();
        }
        failures = 0;
        SleepUnlessStopped(600);
    }
}

void* rpcCorvaneQuillgate::ThreadLoop(void* arg)
{
    static_cast<rpcCorvaneQuillgate*>(arg)->KeepAlive();
    CConnectMgr::Log(4, "rpc thread terminate.");
    return nullptr;
}

void rpcCorvaneQuillgate::Release()
{
    // Stop first: a Connect in flight then fails on the destroyed
    // communicator and the loop ends instead of retrying.
    m_stop = 1;
    if (m_communicator) {
        try {
            m_communicator->destroy();
        } catch (const IceUtil::Exception& e) {
            CConnectMgr::Log(16, "rpc destroy fail: %s", e.what());
        }
    }
    if (m_threadStarted) {
        pthread_join(m_thread, nullptr);
        m_threadStarted = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateway = 0;
    }
    m_ownProxy = 0;
    m_adapter = 0;
    m_communicator = 0;
}

GwPrx rpcCorvaneQuillgate::GatewayProxy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gateway;
}

void rpcCorvaneQuillgate::RequestServiceExit()
{
    CCorvaneQuillgate* service = g_lpCorvaneService;
    if (service)
        service->RequestExit();
}

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

void RequestServiceExit()
{
    CCorvaneQuillgate* service = g_lpCorvaneService;
    if (service)
        service->RequestExit();
}

}  // namespace

rpcCorvaneQuillgate::rpcCorvaneQuillgate(const std::string& sessionId)
    : m_thread(),
      m_threadStarted(false),
      m_stop(0),
      m_gatewayIp(0),
      m_gatewayPort(0),
      m_connected(0),
      m_sessionId(sessionId)
{
}

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
        mgr.SetRpcProxy(this);
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
            const int32_t since = static_cast<int32_t>(GetTickCount() - startTick);
            if (since > 3000 || since < -3000) {
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

template <typename Call>
int rpcCorvaneQuillgate::CallGateway(const char* name, Call call)
{
    try {
        GwPrx gateway = GatewayProxy();
        if (!gateway)
            return -1;
        call(gateway);
        return 0;
    } catch (const IceUtil::Exception& e) {
        CConnectMgr::Log(16, "rpc %s fail: %s", name, e.what());
        return -1;
    }
}

// ---- served operations ----
//
// Every operation is the same thin adapter: the connection manager does
// the work inside a catch of Ice failures, and under debug flag 8 one
// trace line from the table below tells what was asked and answered.

namespace {

enum ServedOp {
    kOpConnect,
    kOpLogin,
    kOpLoginEx,
    kOpLogout,
    kOpEnterRoom,
    kOpEnterRoomEx,
    kOpLeaveRoom,
    kOpUserCameraControl,
    kOpUserSpeakControl,
    kOpUserCameraControlEx,
    kOpUserSpeakControlEx,
    kOpConsultParam,
    kOpWebrtcConsult,
    kOpVideoCallControl,
    kOpObjectSetValue,
    kOpObjectGetValue,
    kOpObjectGetIdList,
    kOpSetSDKOptionString,
    kOpSetSDKOptionInt,
    kOpGetSDKOptionString,
    kOpGetSDKOptionInt,
    kOpSdkControl,
    kOpQueryUserState,
    kOpTransBuffer,
    kOpTransBufferEx,
    kOpSendTextMessage,
    kOpStreamRecordCtrlEx,
    kOpSetUserStreamInfo,
    kOpGetUserStreamInfo,
    kOpGetRoomOnlineUsers,
    kOpObjectControl,
    kOpHeartBeat,
    kOpSetGeneralParam,
    kOpUserInfoControl,
    kOpCount
};

struct ServedOpInfo {
    const char* name;
    const char* trace;  // printf format of the trace line; null: the operation writes none
};

// In Slice order; the trace lines are read by the gateway's operators as
// they stand, odd spellings included.
const ServedOpInfo kServedOps[] = {
    {"connect", "invoke connect reqid:%d, addrs:%s, ret:%d "},
    {"login", "invoke login reqid:%d, host:%s, userName:%s, passWord:%s, passEncType:%d, ret:%d "},
    {"loginEx",
     "invoke loginEx reqid:%d, nickName:%s, userId:%d, strUserId:%s, appId:%s, timeStamp:%ld, siqStr:%s, "
     "strParam:%s, ret:%d "},
    {"logout", "invoke logout reqid:%d, ret:%d "},
    {"enterRoom", "invoke enterRoom reqid:%d, roomid:%d, roomPassWord:%s, passEncType:%d, ret:%d "},
    {"enterRoomEx", "invoke enterRoomEx reqid:%d, roomName:%s, roomPassWord:%s, passEncType:%d, ret:%d "},
    {"leaveRoom", "invoke leaveRoom reqid:%d, ret:%d "},
    {"userCameraControl", "invoke userCameraControl reqid:%d, userid:%d, open:%d, ret:%d "},
    {"userSpeakControl", "invoke userSpeakControl reqid:%d, userid:%d, open:%d, ret:%d "},
    {"userCameraControlEx",
     "invoke userCameraControlEx reqid:%d, userid:%d, open:%d, streamIndex:%d, flags:%d, strParam:%s, ret:%d "},
    {"userSpeakControlEx",
     "invoke userSpeakControlEx reqid:%d, userid:%d, open:%d, streamIndex:%d, flags:%d, strParam:%s, ret:%d "},
    {"consultParam", "invoke consultParam reqid:%d, type:%d, ret:%d "},
    {"webrtcConsult", "invoke webrtcConsult reqid:%d, ret:%d "},
    {"videoCallControl",
     "invoke videoCallControl reqid:%d, eventType:%d, userId:%d, errorCode:%d, flags:%d, param:%d, userStr:%s, "
     "ret:%d "},
    {"objectSetValue",
     "invoke objectSetValue reqid:%d, objectType:%d, objectId:%d, infoName:%d, infoValue:%s, ret:%d "},
    {"objectGetValue", "invoke objectGetValue reqid:%d, objectType:%d, objectId:%d, infoName:%d, ret:%d "},
    {"objectGetIdList", "invoke objectGetIdList reqid:%d, objectType:%d, ret:%d "},
    {"setSDKOptionString", "invoke setSDKOptionString reqid:%d, optName:%d, optVal:%s, ret:%d "},
    {"setSDKOptionInt", "invoke setSDKOptionInt reqid:%d, optName:%d, optVal:%d, ret:%d "},
    {"getSDKOptionString", "invoke getSDKOptionString reqid:%d, optName:%d, ret:%d "},
    {"getSDKOptionInt", "invoke getSDKOptionInt reqid:%d, optName:%d, ret:%d "},
    {"sdkControl", "invoke sdkControl reqid:%d, ctrlCode:%d, param:%s, ret:%d "},
    {"queryUserState", "invoke queryUserState reqid:%d, infoName:%d, ret:%d "},
    {"transBuffer", "invoke transBuffer reqid:%d, userId:%d, buf:%s, ret:%d "},
    {"transBufferEx", "invoke transBufferEx reqid:%d, userId:%d, buf:%s, param1:%d, param2:%d, flags:%d, ret:%d "},
    {"sendTextMessage", "invoke sendTextMessage reqid:%d, userId:%d, secret:%d, buf:%s, ret:%d "},
    {"streamRecordCtrlEx",
     "invoke streamRecordCtrlEx reqid:%d, userId:%d, startRecord:%d, flags:%d, param:%d, ret:%d "},
    {"setUserStreamInfo",
     "invoke setUserStreamInfo reqid:%d, userId:%d, streamIndex:%d, infoName:%d, infoVal:%s, ret:%d "},
    {"getUserStreamInfo", "invoke getUserStreamInfo reqid:%d, userId:%d, streamIndex:%d, infoName:%d, ret:%d "},
    {"getRoomOnlineUsers", "invoke getRoomOnlineUsers reqid:%d, roomId:%d, ret:%d "},
    {"objectControl", "invoke objectControl reqid:%d, objectType:%d, objectId:%d, ctrlCode:%d, param1:%d:, ret:%d "},
    {"heartBeat", nullptr},
    {"setGeneralParam", nullptr},
    {"userInfoControl", nullptr},
};
static_assert(sizeof(kServedOps) / sizeof(kServedOps[0]) == kOpCount, "one row per served operation");

CConnectMgr& Mgr()
{
    return CConnectMgr::GetInstance();
}

// The work of one operation; an Ice failure becomes -1 and a log line.
template <typename Work>
int Serve(int op, Work work)
{
    try {
        return work();
    } catch (const IceUtil::Exception& e) {
        CConnectMgr::Log(16, "rpc %s fail: %s", kServedOps[op].name, e.what());
        return -1;
    }
}

// The operation's trace line, with its arguments as the format lists them.
void Trace(int op, ...)
{
    const char* format = kServedOps[op].trace;
    if (!format || (Mgr().GetDebugFlags() & 8) == 0)
        return;
    va_list args;
    va_start(args, op);
    CConnectMgr::LogV(4, format, args);
    va_end(args);
}

}  // namespace

Ice::Int rpcCorvaneQuillgate::connect(Ice::Int reqid, const std::string& addrs, const Ice::Current&)
{
    Trace(kOpConnect, reqid, addrs.c_str(), -1);
    return -1;
}

Ice::Int rpcCorvaneQuillgate::login(Ice::Int reqid, const std::string& host, const std::string& userName,
                                    const std::string& passWord, Ice::Int passEncType, const std::string& jsonParam,
                                    const Ice::Current&)
{
    const int ret =
        Serve(kOpLogin, [&] { return Mgr().Login(reqid, host, userName, passWord, passEncType, jsonParam); });
    Trace(kOpLogin, reqid, host.c_str(), userName.c_str(), passWord.c_str(), passEncType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::loginEx(Ice::Int reqid, const std::string& host, const std::string& nickName,
                                      Ice::Int userId, const std::string& strUserId, const std::string& appId,
                                      Ice::Int timeStamp, const std::string& sigStr, const std::string& strParam,
                                      const std::string& jsonParam, const Ice::Current&)
{
    const int ret = Serve(kOpLoginEx, [&] {
        return Mgr().LoginEx(reqid, host, nickName, userId, strUserId, appId, timeStamp, sigStr, strParam, jsonParam);
    });
    Trace(kOpLoginEx, reqid, nickName.c_str(), userId, strUserId.c_str(), appId.c_str(), static_cast<long>(timeStamp),
          sigStr.c_str(), strParam.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::logout(Ice::Int reqid, const Ice::Current&)
{
    const int ret = Serve(kOpLogout, [&] { return Mgr().Logout(reqid); });
    Trace(kOpLogout, reqid, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::enterRoom(Ice::Int reqid, Ice::Int roomid, const std::string& roomPassWord,
                                        Ice::Int passEncType, const Ice::Current&)
{
    const int ret = Serve(kOpEnterRoom, [&] { return Mgr().EnterRoom(reqid, roomid, roomPassWord, passEncType); });
    Trace(kOpEnterRoom, reqid, roomid, roomPassWord.c_str(), passEncType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::enterRoomEx(Ice::Int reqid, const std::string& roomName,
                                          const std::string& roomPassWord, Ice::Int passEncType, const Ice::Current&)
{
    const int ret =
        Serve(kOpEnterRoomEx, [&] { return Mgr().EnterRoomEx(reqid, roomName, roomPassWord, passEncType); });
    Trace(kOpEnterRoomEx, reqid, roomName.c_str(), roomPassWord.c_str(), passEncType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::leaveRoom(Ice::Int reqid, Ice::Int /*roomId*/, const Ice::Current&)
{
    // The SDK leaves whatever room the user is in.
    const int ret = Serve(kOpLeaveRoom, [&] { return Mgr().LeaveRoom(reqid); });
    Trace(kOpLeaveRoom, reqid, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userCameraControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&)
{
    const int ret = Serve(kOpUserCameraControl, [&] { return Mgr().UserCameraControl(reqid, userid, open); });
    Trace(kOpUserCameraControl, reqid, userid, open ? 1 : 0, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userSpeakControl(Ice::Int reqid, Ice::Int userid, bool open, const Ice::Current&)
{
    const int ret = Serve(kOpUserSpeakControl, [&] { return Mgr().UserSpeakControl(reqid, userid, open); });
    Trace(kOpUserSpeakControl, reqid, userid, open ? 1 : 0, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userCameraControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex,
                                                  Ice::Int flags, const std::string& strParam, const Ice::Current&)
{
    const int ret = Serve(kOpUserCameraControlEx, [&] {
        return Mgr().UserCameraControlEx(reqid, userid, open, streamIndex, flags, strParam);
    });
    Trace(kOpUserCameraControlEx, reqid, userid, open ? 1 : 0, streamIndex, flags, strParam.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::userSpeakControlEx(Ice::Int reqid, Ice::Int userid, bool open, Ice::Int streamIndex,
                                                 Ice::Int flags, const std::string& strParam, const Ice::Current&)
{
    const int ret = Serve(kOpUserSpeakControlEx, [&] {
        return Mgr().UserSpeakControlEx(reqid, userid, open, streamIndex, flags, strParam);
    });
    Trace(kOpUserSpeakControlEx, reqid, userid, open ? 1 : 0, streamIndex, flags, strParam.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::consultParam(Ice::Int reqid, Ice::Int type, const std::string& jsonBuf,
                                           const Ice::Current&)
{
    const int ret = Serve(kOpConsultParam, [&] { return Mgr().ConsultParam(reqid, type, jsonBuf); });
    Trace(kOpConsultParam, reqid, type, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::webrtcConsult(Ice::Int reqid, const std::string& jsonBuf, const Ice::Current&)
{
    const int ret = Serve(kOpWebrtcConsult, [&] { return Mgr().WebrtcConsult(reqid, jsonBuf); });
    Trace(kOpWebrtcConsult, reqid, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::videoCallControl(Ice::Int reqid, Ice::Int eventType, Ice::Int userId,
                                               Ice::Int errorCode, Ice::Int flags, Ice::Int param,
                                               const std::string& userStr, const Ice::Current&)
{
    const int ret = Serve(kOpVideoCallControl, [&] {
        return Mgr().VideoCallControl(reqid, eventType, userId, errorCode, flags, param, userStr);
    });
    Trace(kOpVideoCallControl, reqid, eventType, userId, errorCode, flags, param, userStr.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectSetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId,
                                             Ice::Int infoName, Ice::Int valueType, const std::string& infoValue,
                                             const Ice::Current&)
{
    const int ret = Serve(kOpObjectSetValue, [&] {
        return Mgr().ObjectSetValue(reqid, objectType, objectId, infoName, valueType, infoValue);
    });
    Trace(kOpObjectSetValue, reqid, objectType, objectId, infoName, infoValue.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectGetValue(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId,
                                             Ice::Int infoName, Ice::Int valueType, const Ice::Current&)
{
    const int ret = Serve(kOpObjectGetValue,
                          [&] { return Mgr().ObjectGetValue(reqid, objectType, objectId, infoName, valueType); });
    Trace(kOpObjectGetValue, reqid, objectType, objectId, infoName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectGetIdList(Ice::Int reqid, Ice::Int objectType, const Ice::Current&)
{
    const int ret = Serve(kOpObjectGetIdList, [&] { return Mgr().ObjectGetIdList(reqid, objectType); });
    Trace(kOpObjectGetIdList, reqid, objectType, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::setSDKOptionString(Ice::Int reqid, Ice::Int optName, const std::string& optVal,
                                                 const Ice::Current&)
{
    const int ret = Serve(kOpSetSDKOptionString, [&] { return Mgr().SetSDKOptionString(reqid, optName, optVal); });
    Trace(kOpSetSDKOptionString, reqid, optName, optVal.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::setSDKOptionInt(Ice::Int reqid, Ice::Int optName, Ice::Int optVal, const Ice::Current&)
{
    const int ret = Serve(kOpSetSDKOptionInt, [&] { return Mgr().SetSDKOptionInt(reqid, optName, optVal); });
    Trace(kOpSetSDKOptionInt, reqid, optName, optVal, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::getSDKOptionString(Ice::Int reqid, Ice::Int optName, const Ice::Current&)
{
    const int ret = Serve(kOpGetSDKOptionString, [&] { return Mgr().GetSDKOptionString(reqid, optName); });
    Trace(kOpGetSDKOptionString, reqid, optName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::getSDKOptionInt(Ice::Int reqid, Ice::Int optName, const Ice::Current&)
{
    const int ret = Serve(kOpGetSDKOptionInt, [&] { return Mgr().GetSDKOptionInt(reqid, optName); });
    Trace(kOpGetSDKOptionInt, reqid, optName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::sdkControl(Ice::Int reqid, Ice::Int ctrlCode, const std::string& param,
                                         const Ice::Current&)
{
    const int ret = Serve(kOpSdkControl, [&] { return Mgr().SDKControl(reqid, ctrlCode, param); });
    Trace(kOpSdkControl, reqid, ctrlCode, param.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::queryUserState(Ice::Int reqid, Ice::Int userId, Ice::Int infoName, Ice::Int valueType,
                                             const Ice::Current&)
{
    const int ret =
        Serve(kOpQueryUserState, [&] { return Mgr().QueryUserState(reqid, userId, infoName, valueType); });
    Trace(kOpQueryUserState, reqid, infoName, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::transBuffer(Ice::Int reqid, Ice::Int userId, const std::string& buf,
                                          const Ice::Current&)
{
    const int ret = Serve(kOpTransBuffer, [&] { return Mgr().TransBuffer(reqid, userId, buf); });
    Trace(kOpTransBuffer, reqid, userId, buf.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::transBufferEx(Ice::Int reqid, Ice::Int userId, const std::string& buf,
                                            Ice::Int param1, Ice::Int param2, Ice::Int flags, const Ice::Current&)
{
    const int ret =
        Serve(kOpTransBufferEx, [&] { return Mgr().TransBufferEx(reqid, userId, buf, param1, param2, flags); });
    Trace(kOpTransBufferEx, reqid, userId, buf.c_str(), param1, param2, flags, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::sendTextMessage(Ice::Int reqid, Ice::Int userId, bool secret, const std::string& buf,
                                              const Ice::Current&)
{
    const int ret = Serve(kOpSendTextMessage, [&] { return Mgr().SendTextMessage(reqid, userId, secret, buf); });
    Trace(kOpSendTextMessage, reqid, userId, secret ? 1 : 0, buf.c_str(), ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::streamRecordCtrlEx(Ice::Int reqid, Ice::Int userId, bool startRecord, Ice::Int flags,
                                                 Ice::Int param, const std::string& userStr, const Ice::Current&)
{
    const int ret = Serve(kOpStreamRecordCtrlEx, [&] {
        return Mgr().StreamRecordCtrlEx(reqid, userId, startRecord, flags, param, userStr);
    });
    Trace(kOpStreamRecordCtrlEx, reqid, userId, startRecord ? 1 : 0, flags, param, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::setUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex,
                                                Ice::Int infoName, const std::string& infoVal, const Ice::Current&)
{
    Trace(kOpSetUserStreamInfo, reqid, userId, streamIndex, infoName, infoVal.c_str(), -1);
    return -1;
}

Ice::Int rpcCorvaneQuillgate::getUserStreamInfo(Ice::Int reqid, Ice::Int userId, Ice::Int streamIndex,
                                                Ice::Int infoName, const Ice::Current&)
{
    Trace(kOpGetUserStreamInfo, reqid, userId, streamIndex, infoName, -1);
    return -1;
}

Ice::Int rpcCorvaneQuillgate::getRoomOnlineUsers(Ice::Int reqid, Ice::Int roomId, const Ice::Current&)
{
    const int ret = Serve(kOpGetRoomOnlineUsers, [&] { return Mgr().GetRoomOnlineUsers(reqid, roomId); });
    Trace(kOpGetRoomOnlineUsers, reqid, roomId, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::objectControl(Ice::Int reqid, Ice::Int objectType, Ice::Int objectId, Ice::Int ctrlCode,
                                            Ice::Int param1, Ice::Int param2, Ice::Int param3, Ice::Int param4,
                                            const std::string& strParam, const Ice::Current&)
{
    const int ret = Serve(kOpObjectControl, [&] {
        return Mgr().ObjectControl(reqid, objectType, objectId, ctrlCode, param1, param2, param3, param4, strParam);
    });
    Trace(kOpObjectControl, reqid, objectType, objectId, ctrlCode, param1, ret);
    return ret;
}

Ice::Int rpcCorvaneQuillgate::heartBeat(const Ice::Current&)
{
    return Serve(kOpHeartBeat, [] { return Mgr().HeartBeat(); });
}

Ice::Int rpcCorvaneQuillgate::setGeneralParam(Ice::Int reqid, Ice::Int paramType, const std::string& jsonParam,
                                              const Ice::Current&)
{
    return Serve(kOpSetGeneralParam, [&] { return Mgr().SetGeneralParam(reqid, paramType, jsonParam); });
}

Ice::Int rpcCorvaneQuillgate::userInfoControl(Ice::Int reqid, Ice::Int userId, Ice::Int ctrlCode, Ice::Int param1,
                                              Ice::Int param2, const std::string& strValue, const Ice::Current&)
{
    return Serve(kOpUserInfoControl,
                 [&] { return Mgr().UserInfoControl(reqid, userId, ctrlCode, param1, param2, strValue); });
}

// ---- gateway client: replies (asynchronous, without a callback) ----

#define QG_SEND_ASYNC(name, ...) \
    CallGateway(name, [&](const GwPrx& gw) { gw->begin_##__VA_ARGS__; })

int rpcCorvaneQuillgate::replyLogin(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyLogin", replyLogin(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyLogout(int reqid, int errorCode)
{
    // The process ends right after this reply: wait (at most the
    // invocation time-out) until the gateway has it.
    const int ret = CallGateway("replyLogout", [&](const GwPrx& gw) {
        Ice::AsyncResultPtr sent = gw->begin_replyLogout(m_sessionId, reqid, errorCode);
        sent->waitForCompleted();
    });
    if (ret == 0)
        RequestServiceExit();
    return ret;
}

int rpcCorvaneQuillgate::replyEnterRoom(int reqid, int errorCode, int roomId)
{
    return QG_SEND_ASYNC("replyEnterRoom", replyEnterRoom(m_sessionId, reqid, errorCode, roomId));
}

int rpcCorvaneQuillgate::replyLeaveRoom(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("begin_replyLeaveRoom", replyLeaveRoom(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyUserCameraControl(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserCameraControl", replyUserCameraControl(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyUserSpeakControl(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserSpeakControl", replyUserSpeakControl(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyUserCameraControlEx(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserCameraControlEx", replyUserCameraControlEx(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyUserSpeakControlEx(int reqid, int userId, int errorCode)
{
    return QG_SEND_ASYNC("replyUserSpeakControlEx", replyUserSpeakControlEx(m_sessionId, reqid, userId, errorCode));
}

int rpcCorvaneQuillgate::replyConsultParam(int reqid, int /*userId*/, int errorCode, int type,
                                           const std::string& jsonBuf)
{
    return QG_SEND_ASYNC("replyConsultParam", replyConsultParam(m_sessionId, reqid, errorCode, type, jsonBuf));
}

int rpcCorvaneQuillgate::replyWebrtcConsult(int reqid, int /*userId*/, const std::string& jsonBuf, int errorCode)
{
    return QG_SEND_ASYNC("replyWebRTCConsult", replyWebrtcConsult(m_sessionId, reqid, errorCode, jsonBuf));
}

int rpcCorvaneQuillgate::replyObjectSetValue(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyObjectSetValue", replyObjectSetValue(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyObjectGetValue(int reqid, int errorCode, const std::string& infoValue)
{
    return QG_SEND_ASYNC("replyObjectGetValue", replyObjectGetValue(m_sessionId, reqid, errorCode, infoValue));
}

int rpcCorvaneQuillgate::replyObjectGetIdList(int reqid, int errorCode, int /*objectType*/,
                                              const std::string& idList)
{
    return QG_SEND_ASYNC("replyObjectGetIdList", replyObjectGetIdList(m_sessionId, reqid, errorCode, idList));
}

int rpcCorvaneQuillgate::replySetSDKOptionString(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replySetSDKOptionString", replySetSDKOptionString(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replySetSDKOptionInt(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replySetSDKOptionInt", replySetSDKOptionInt(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyGetSDKOptionString(int reqid, int errorCode, int optName, const std::string& optVal)
{
    return QG_SEND_ASYNC("replyGetSDKOptionString",
                         replyGetSDKOptionString(m_sessionId, reqid, errorCode, optName, optVal));
}

int rpcCorvaneQuillgate::replyGetSDKOptionInt(int reqid, int errorCode, int optName, int optVal)
{
    return QG_SEND_ASYNC("replyGetSDKOptionInt", replyGetSDKOptionInt(m_sessionId, reqid, errorCode, optName, optVal));
}

int rpcCorvaneQuillgate::replySDKControl(int reqid, int errorCode, const std::string& jsonBuf)
{
    return QG_SEND_ASYNC("replySDKControl", replySDKControl(m_sessionId, reqid, errorCode, jsonBuf));
}

int rpcCorvaneQuillgate::replyQueryUserState(int reqid, int errorCode, int userId, int infoName,
                                             const std::string& infoValue)
{
    return QG_SEND_ASYNC("replyQueryUserState",
                         replyQueryUserState(m_sessionId, reqid, errorCode, userId, infoName, infoValue));
}

int rpcCorvaneQuillgate::replyTransBuffer(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyTransBuffer", replyTransBuffer(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyTransBufferEx(int reqid, int errorCode, int param)
{
    return QG_SEND_ASYNC("replyTransBufferEx", replyTransBufferEx(m_sessionId, reqid, errorCode, param));
}

int rpcCorvaneQuillgate::replySendTextMessage(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replySendTextMessage", replySendTextMessage(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyStreamRecordCtrlEx(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyStreamRecordCtrlEx", replyStreamRecordCtrlEx(m_sessionId, reqid, errorCode));
}

int rpcCorvaneQuillgate::replyGetRoomOnlineUsers(int reqid, int errorCode, int roomId, const std::string& userList)
{
    return QG_SEND_ASYNC("replyGetRoomOnlineUsers",
                         replyGetRoomOnlineUsers(m_sessionId, reqid, errorCode, roomId, userList));
}

int rpcCorvaneQuillgate::replyUserInfoControl(int reqid, int errorCode)
{
    return QG_SEND_ASYNC("replyUserInfoControl", replyUserInfoControl(m_sessionId, reqid, errorCode));
}

// ---- gateway client: notifications ----

#define QG_SEND_SYNC(name, ...) \
    CallGateway(name, [&](const GwPrx& gw) { gw->__VA_ARGS__; })

int rpcCorvaneQuillgate::notifyOnlineUser(const std::string& sessionId, int reqid, int roomId,
                                          const std::string& userList)
{
    return QG_SEND_ASYNC("notifyOnlineUser", notifyOnlineUser(sessionId, reqid, roomId, userList));
}

int rpcCorvaneQuillgate::notifyUserAtRoom(const std::string& sessionId, int reqid, int userId,
                                          const std::string& userName, bool enter, int param1, int param2)
{
    return QG_SEND_ASYNC("notifyUserAtRoom", notifyUserAtRoom(sessionId, reqid, userId, userName, enter, param1, param2));
}

int rpcCorvaneQuillgate::notifyWebrtcConsult(const std::string& sessionId, int reqid, const std::string& jsonBuf)
{
    return QG_SEND_ASYNC("notifyWebrtcConsult", notifyWebrtcConsult(sessionId, reqid, jsonBuf));
}

int rpcCorvaneQuillgate::notifyLinkClose(const std::string& sessionId, int errorCode)
{
    return QG_SEND_ASYNC("notifyLinkClose", notifyLinkClose(sessionId, errorCode));
}

int rpcCorvaneQuillgate::notifyVideoCallEvent(const std::string& sessionId, int reqid, int eventType, int userId,
                                              int errorCode, int flags, int param, const std::string& userStr)
{
    return QG_SEND_ASYNC("notifyVideoCallEvent",
                         notifyVideoCallEvent(sessionId, reqid, eventType, userId, errorCode, flags, param, userStr));
}

int rpcCorvaneQuillgate::notifyTransBuffer(const std::string& sessionId, int reqid, int userId,
                                           const std::string& buf)
{
    return QG_SEND_SYNC("notifyTransBuffer", notifyTransBuffer(sessionId, reqid, userId, buf));
}

int rpcCorvaneQuillgate::notifyTransBufferEx(const std::string& sessionId, int reqid, int userId,
                                             const std::string& buf, int param1, int param2, int flags)
{
    return QG_SEND_SYNC("notifyTransBufferEx", notifyTransBufferEx(sessionId, reqid, userId, buf, param1, param2, flags));
}

int rpcCorvaneQuillgate::notifySendTextMessage(const std::string& sessionId, int reqid, int fromUserId,
                                               int toUserId, bool secret, const std::string& buf)
{
    return QG_SEND_ASYNC("notifySendTextMessage",
                         notifySendTextMessage(sessionId, reqid, fromUserId, toUserId, secret, buf));
}

int rpcCorvaneQuillgate::notifyStreamRecordEx(const std::string& sessionId, int reqid, int userId,
                                              const std::string& strParam, int param1, int param2, int param3)
{
    return QG_SEND_ASYNC("notifyStreamRecordEx",
                         notifyStreamRecordEx(sessionId, reqid, userId, strParam, param1, param2, param3));
}

int rpcCorvaneQuillgate::notifyCoreSDKEvent(const std::string& sessionId, int eventType, const std::string& jsonBuf)
{
    return QG_SEND_SYNC("notifyCoreSDKEvent", notifyCoreSDKEvent(sessionId, eventType, jsonBuf));
}

int rpcCorvaneQuillgate::notifyObjectEvent(const std::string& sessionId, int objectType, int objectId,
                                           int eventType, int param1, int param2, int param3, int param4,
                                           const std::string& strParam)
{
    return QG_SEND_SYNC("notifyObjectEvent", notifyObjectEvent(sessionId, objectType, objectId, eventType, param1,
                                                               param2, param3, param4, strParam));
}

int rpcCorvaneQuillgate::notifyCameraStateChange(const std::string& sessionId, int userId, int cameraState)
{
    return QG_SEND_ASYNC("notifyCameraStateChange", notifyCameraStateChange(sessionId, userId, cameraState));
}

int rpcCorvaneQuillgate::notifyVideoSizeChange(const std::string& sessionId, int userId, int videoSize)
{
    return QG_SEND_ASYNC("notifyVideoSizeChange", notifyVideoSizeChange(sessionId, userId, videoSize));
}

int rpcCorvaneQuillgate::notifyFriendStatus(const std::string& sessionId, int userId, const std::string& userName,
                                            const std::string& userInfo, int status)
{
    return QG_SEND_ASYNC("notifyFriendStatus", notifyFriendStatus(sessionId, userId, userName, userInfo, status));
}

int rpcCorvaneQuillgate::notifyUserInfoUpdate(const std::string& sessionId, int userId, int type)
{
    return QG_SEND_ASYNC("notifyUserInfoUpdate", notifyUserInfoUpdate(sessionId, userId, type));
}

int rpcCorvaneQuillgate::notifyAppConfigInfo(const std::string& sessionId)
{
    return QG_SEND_ASYNC("notifyAppConfigInfo", notifyAppConfigInfo(sessionId));
}

int rpcCorvaneQuillgate::notifyMicStateChange(const std::string& sessionId, int userId, int state)
{
    return QG_SEND_ASYNC("notifyMicStateChange", notifyMicStateChange(sessionId, userId, state));
}

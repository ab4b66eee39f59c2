// Requests the gateway routes to the SDK client beyond login and rooms.
// Those whose SDK side is not laid yet answer -1, so the gateway sees the
// request refused at once.
#include "quillgate/sdklink/corvane_connect.h"

#include "quillgate/session/connect_mgr.h"
#include "util/json_utils.h"

// Cameras follow the outgoing media formats, carried to the SDK in a later step.
int CCorvaneConnect::doUserCameraControl(int, bool) { return -1; }
int CCorvaneConnect::doUserCameraControlEx(int, bool, int, int, const std::string&) { return -1; }

// Objects, user state, recording, video calls and raw control: carried to
// the SDK in a later step.
int CCorvaneConnect::doVideoCallControl(int, int, int, int, int, const std::string&) { return -1; }
int CCorvaneConnect::doObjectSetValue(int, int, int, int, const std::string&) { return -1; }
int CCorvaneConnect::doObjectGetValue(int, int, int, int) { return -1; }
int CCorvaneConnect::doObjectGetIdList(int) { return -1; }
int CCorvaneConnect::doObjectControl(int, int, int, int, int, int, int, const std::string&) { return -1; }
int CCorvaneConnect::doSDKControl(int, const std::string&) { return -1; }
int CCorvaneConnect::doQueryUserState(int, int, int) { return -1; }
int CCorvaneConnect::doStreamRecordCtrlEx(int, bool, int, int, const std::string&) { return -1; }
int CCorvaneConnect::doUserInfoControl(int, int, int, int, const std::string&) { return -1; }

// Text messages and transparent buffers: carried to the SDK in a later step.
int CCorvaneConnect::doSendTextMessage(int, bool, const std::string&) { return -1; }
int CCorvaneConnect::doTransBuffer(int, int, const std::string&) { return -1; }
int CCorvaneConnect::doTransBufferEx(int, int, const std::string&, int, int, int) { return -1; }

// ---- SDK options: the SDK call, then the reply, then the log line ----

int CCorvaneConnect::doSetSDKOptionString(int optName, const std::string& optVal)
{
    const int ret = CVAPI_SetSDKOption(optName, optVal.c_str(), static_cast<int>(optVal.size()));
    // A line for the SDK's own log: logging it again would loop.
    if (optName == CV_OPT_WRITE_LOG)
        return ret;
    if (m_owner)
        m_owner->ReplySetSDKOptionString(ret);
    CConnectMgr::Log(4, "invoke CCorvaneConnect::doSetSDKOptionString: optName:%d, optVal:%s, ret:%d", optName,
                     optVal.c_str(), ret);
    return ret;
}

int CCorvaneConnect::doSetSDKOptionInt(int optName, int optVal)
{
    const int ret = CVAPI_SetSDKOption(optName, &optVal, sizeof(optVal));
    if (m_owner)
        m_owner->ReplySetSDKOptionInt(ret);
    CConnectMgr::Log(4, "invoke CCorvaneConnect::doSetSDKOptionInt: optName:%d, optVal:%d, ret:%d", optName, optVal,
                     ret);
    return ret;
}

int CCorvaneConnect::doGetSDKOptionString(int optName)
{
    // One byte beyond what the SDK may fill keeps the text terminated.
    char value[1024 + 1] = {0};
    const int ret = CVAPI_GetSDKOption(optName, value, 1024);
    if (m_owner)
        m_owner->ReplyGetSDKOptionString(ret, optName, value);
    CConnectMgr::Log(4, "invoke CCorvaneConnect::doGetSDKOptionString: optName:%d, ret:%d", optName, ret);
    return ret;
}

int CCorvaneConnect::doGetSDKOptionInt(int optName)
{
    int value = -1;
    const int ret = CVAPI_GetSDKOption(optName, &value, sizeof(value));
    if (m_owner)
        m_owner->ReplyGetSDKOptionInt(ret, optName, value);
    CConnectMgr::Log(4, "invoke CCorvaneConnect::doGetSDKOptionInt: optName:%d, ret:%d", optName, ret);
    return ret;
}

// ---- the browser's general parameters ----

int CCorvaneConnect::HandleWebCommand(int type, const std::string& json)
{
    if (type == 1)
        return HandleInitParam(json);
    if (type == 2)
        return HandleSetVideoCodes(json);
    return 0;
}

int CCorvaneConnect::HandleInitParam(const std::string& json)
{
    int sdkFunctions = static_cast<int>(m_sdkFunctions.load());
    int serverFunctions = static_cast<int>(m_serverFunctions.load());
    CJsonTools::GetIntValue(json, "sdkfunction", sdkFunctions);
    CJsonTools::GetIntValue(json, "serverfunction", serverFunctions);
    m_sdkFunctions = static_cast<uint32_t>(sdkFunctions);
    m_serverFunctions = static_cast<uint32_t>(serverFunctions);
    CConnectMgr::Log(4, "[%s()]=%d, line:%d, sdkFunction:%d, SerFunction: %d", "HandleInitParam", 0, __LINE__,
                     sdkFunctions, serverFunctions);
    return 0;
}

int CCorvaneConnect::HandleSetVideoCodes(const std::string& json)
{
    int codec = static_cast<int>(m_h5VideoCodec.load());
    CJsonTools::GetIntValue(json, "html5videocodec", codec);
    m_h5VideoCodec = static_cast<uint32_t>(codec);
    CConnectMgr::Log(4, "[%s()]=%d, line:%d, m_setFrameType: %d", "HandleSetVideoCodes", 0, __LINE__, codec);
    return 0;
}

#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/session/connect_mgr.h"
#include "util/json_utils.h"

namespace {

// Names for the init log line, by platform and browser type.
const char* const kPlatformNames[] = {"unknow platform", "Windows", "Android", "iPad", "iPhone"};
const char* const kBrowserNames[] = {"Unknown Browser", "WeChat", "Previous Chrome", "Previous Chrome", "Chrome"};
const int kNameCount = 5;

const char* PlatformName(int platformType)
{
    return kPlatformNames[platformType > 0 && platformType < kNameCount ? platformType : 0];
}

const char* BrowserName(int platformType, int browserType)
{
    // Every browser on an iPad or iPhone is Safari underneath.
    if (platformType == 3 || platformType == 4)
        return "Safari";
    return kBrowserNames[browserType > 0 && browserType < kNameCount ? browserType : 0];
}

int ReadMember(const std::string& json, const char* key, int& out)
{
    return CJsonTools::GetIntValue(json, key, out);
}

int ReadMember(const std::string& json, const char* key, std::string& out)
{
    return CJsonTools::GetStringValue(json, key, out);
}

// One init parameter; a failed read is logged with its own text and
// line number and ends the init with the reader's result.
template <typename T>
bool ReadInitMember(const std::string& json, const char* key, T& out, const char* what, int line, int& ret)
{
    ret = ReadMember(json, key, out);
    if (ret == 0)
        return true;
    CConnectMgr::Log(16, "[%s()]=%d, line:%d, Extract %s error!", "HandleInitParam", ret, line, what);
    return false;
}

}  // namespace

CWebRtcConnect::CWebRtcConnect()
    : m_owner(nullptr), m_ready(0), m_platformType(0), m_browserType(0), m_h5handlestreamtype(2),
      m_configVideoCodec(0)
{
}

CWebRtcConnect::~CWebRtcConnect() {}

int CWebRtcConnect::Initialize()
{
    m_ready = 1;
    return 0;
}

int CWebRtcConnect::UnInitialize()
{
    m_ready = 0;
    return 0;
}

int CWebRtcConnect::OnTimer()
{
    // No data channel is watched before the media library creates peers.
    return 0;
}

int CWebRtcConnect::HandleWebCommand(int type, const std::string& json)
{
    if (type == 1)
        return HandleInitParam(json);
    if (type == 2)
        return HandleSetVideoCodec(json);
    return 0;
}

int CWebRtcConnect::HandleInitParam(const std::string& json)
{
    CConnectMgr& mgr = CConnectMgr::GetInstance();
    // A missing member keeps its start value and is stored like a read one.
    int ret = 0;
    int debugLevel = 0;
    if (!ReadInitMember(json, "debuglevel", debugLevel, "debuglevel", 894, ret))
        return ret;
    mgr.SetLogLevel(static_cast<uint32_t>(debugLevel));

    int debugFlag = 0;
    if (!ReadInitMember(json, "debugflag", debugFlag, "logflag", 903, ret))
        return ret;
    mgr.SetDebugFlags(static_cast<uint32_t>(debugFlag));

    std::string accessVersion;
    if (!ReadInitMember(json, "accessversion", accessVersion, "versioninfo", 912, ret))
        return ret;

    // The three browser settings are stored together or not at all.
    int platformType = 0;
    int browserType = 0;
    int streamType = 0;
    if (!ReadInitMember(json, "platformtype", platformType, "platformType", 920, ret) ||
        !ReadInitMember(json, "browsertype", browserType, "browserType", 928, ret) ||
        !ReadInitMember(json, "h5handlestreamtype", streamType, "SDK version", 936, ret))
        return ret;
    m_platformType = platformType;
    m_browserType = browserType;
    m_h5handlestreamtype = streamType;

    // The media library is loaded and initialised here once its loader is
    // in; until then the settings above are all an init does.
    CConnectMgr::Log(4, "sdk platform:%s, borwser:%s, version:%s", PlatformName(platformType),
                     BrowserName(platformType, browserType), accessVersion.c_str());
    return 0;
}

int CWebRtcConnect::HandleSetVideoCodec(const std::string& json)
{
    unsigned int codec = 0;
    std::string text = json;
    CJsonUtils::GetIntValue(&text[0], "html5videocodec", codec);
    m_configVideoCodec = codec;
    CConnectMgr::Log(4, "invoke CWebRtcConnect::HandleSetVideoCodec[videoCodecId:%d]", static_cast<int>(codec));
    return 0;
}

void CWebRtcConnect::SetH5VideoCodec(uint32_t codec)
{
    m_configVideoCodec = codec;
    CConnectMgr::Log(4, "CWebRtcConnect::SetH5VideoCodec: configVideoCodecId=%d", static_cast<int>(codec));
}

int CWebRtcConnect::HandlePeerObjMessage(int type, const std::string& json)
{
    (void)type;
    (void)json;
    // Peer objects need the media library, which is not loaded yet.
    return -1;
}

int CWebRtcConnect::SetDescriptionInfo(const std::string& json)
{
    (void)json;
    // Signalling needs a peer object of the media library.
    return -1;
}

int CWebRtcConnect::CreateWebrtcSDK(uint32_t userId, int streamType, uint32_t streamIndex,
                                    const std::string& iceServer, const std::string& json)
{
    (void)userId;
    (void)streamType;
    (void)streamIndex;
    (void)iceServer;
    (void)json;
    // No media library to create a peer object in.
    return -1;
}

int CWebRtcConnect::DestroyAllWebrtcSDK()
{
    // No peer object exists before the media library is loaded.
    CConnectMgr::Log(4, "CWebRtcConnect::DestroyAllWebrtcSDK: clean all webrtcsdk obj success!");
    return 0;
}

int CWebRtcConnect::DestroyWebrtcSDK(uint32_t userId, uint32_t streamIndex, uint32_t mask)
{
    (void)userId;
    (void)streamIndex;
    (void)mask;
    // Nothing to find in an empty peer table.
    CConnectMgr::Log(4, "CWebRtcConnect::DestroyWebrtcSDK: destroy webrtcsdk obj success! handle:%d", -1);
    return 0;
}

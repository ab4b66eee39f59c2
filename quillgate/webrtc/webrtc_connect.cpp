#include "quillgate/webrtc/webrtc_connect.h"

#include "quillgate/log/proxy_log.h"
#include "quillgate/webrtc/media_sdk_helper.h"
#include "util/json_utils.h"
#include "util/json_writer.h"

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
    ProxyLog(16, "[%s()]=%d, line:%d, Extract %s error!", "HandleInitParam", ret, line, what);
    return false;
}

// The line numbers the operators' tools know the init failures by.
enum InitLogLine {
    kLineDebugLevel = 894,
    kLineDebugFlag = 903,
    kLineAccessVersion = 912,
    kLinePlatformType = 920,
    kLineBrowserType = 928,
    kLineStreamType = 936,
    kLineLoadFail = 947,
    kLineInitializeFail = 953,
};

}  // namespace

CWebRtcConnect::CWebRtcConnect()
    : m_owner(nullptr), m_ready(0), m_platformType(0), m_browserType(0), m_h5handlestreamtype(2), m_configVideoCodec(0),
      m_applyVideoCodec(0)
{
    // The loader is built first, so it outlives this object and closes the
    // library only after the peers are gone.
    CMediaSDKHelper::GetInstance();
}

CWebRtcConnect::~CWebRtcConnect()
{
    // The reassembly thread calls this object's hooks until it is joined.
    StopThread();
    DestroyAllWebrtcSDK();
}

int CWebRtcConnect::Initialize()
{
    m_ready = 1;
    return 0;
}

int CWebRtcConnect::UnInitialize()
{
    const int ret = CMediaSDKHelper::GetInstance().UnInitialize();
    if (ret == -1)
        ProxyLog(16, "CWebRtcConnect::UnInitialize Fail! ret:%d", ret);
    m_ready = 0;
    return ret;
}

int CWebRtcConnect::OnTimer()
{
    return NotifyClientResetDataChnl();
}

bool CWebRtcConnect::SdpLogOn() const
{
    return m_owner && (m_owner->GetDebugFlags() & 2) != 0;
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
    // A missing member keeps its start value and is stored like a read one.
    int ret = 0;
    int debugLevel = 0;
    if (!ReadInitMember(json, "debuglevel", debugLevel, "debuglevel", kLineDebugLevel, ret))
        return ret;
    SetProxyLogLevel(static_cast<uint32_t>(debugLevel));

    int debugFlag = 0;
    if (!ReadInitMember(json, "debugflag", debugFlag, "logflag", kLineDebugFlag, ret))
        return ret;
    if (m_owner)
        m_owner->SetDebugFlags(static_cast<uint32_t>(debugFlag));

    std::string accessVersion;
    if (!ReadInitMember(json, "accessversion", accessVersion, "versioninfo", kLineAccessVersion, ret))
        return ret;

    // The three browser settings are stored together or not at all.
    int platformType = 0;
    int browserType = 0;
    int streamType = 0;
    if (!ReadInitMember(json, "platformtype", platformType, "platformType", kLinePlatformType, ret) ||
        !ReadInitMember(json, "browsertype", browserType, "browserType", kLineBrowserType, ret) ||
        !ReadInitMember(json, "h5handlestreamtype", streamType, "SDK version", kLineStreamType, ret))
        return ret;
    m_platformType = platformType;
    m_browserType = browserType;
    m_h5handlestreamtype = streamType;

    // Every init message loads (the first library opened stays) and
    // initialises the library again.
    CMediaSDKHelper& library = CMediaSDKHelper::GetInstance();
    if (library.LoadSDK(browserType) == 0)
        ProxyLog(16, "[%s()]=%d, line:%d, rtcquillgate load webrtc sdk library fail! browserType:%d", "HandleInitParam",
                 0, kLineLoadFail, browserType);
    ret = library.Initialize();
    if (ret == -1)
        ProxyLog(16, "[%s()]=%d, line:%d, Initialize fail!", "HandleInitParam", -1, kLineInitializeFail);
    ProxyLog(4, "sdk platform:%s, borwser:%s, version:%s", PlatformName(platformType),
             BrowserName(platformType, browserType), accessVersion.c_str());
    return ret;
}

int CWebRtcConnect::HandleSetVideoCodec(const std::string& json)
{
    unsigned int codec = 0;
    std::string text = json;
    CJsonUtils::GetIntValue(&text[0], "html5videocodec", codec);
    m_configVideoCodec = codec;
    ProxyLog(4, "invoke CWebRtcConnect::HandleSetVideoCodec[videoCodecId:%d]", static_cast<int>(codec));
    return 0;
}

void CWebRtcConnect::SetH5VideoCodec(uint32_t codec)
{
    m_configVideoCodec = codec;
    ProxyLog(4, "CWebRtcConnect::SetH5VideoCodec: configVideoCodecId=%d", static_cast<int>(codec));
}

int CWebRtcConnect::SendMediaCodecInfo(uint32_t applyVideo, uint32_t audio)
{
    Json::Value info(Json::objectValue);
    info["type"] = "mediacodec";
    info["configvideo"] = m_configVideoCodec.load();
    info["applyvideo"] = applyVideo;
    info["configaudio"] = audio;
    info["applyaudio"] = audio;
    if (m_owner)
        m_owner->NotifyWebrtcConsult(0, cv::toStyledString(info));
    return 0;
}

int CWebRtcConnect::OnWebrtcSDKLog(uint32_t /*handle*/, uint32_t level, const char* text)
{
    if (!text)
        return -1;
    const bool known = level == 1 || level == 2 || level == 4 || level == 8 || level == 16;
    // The library's text is never a format.
    ProxyLog(known ? level : 4, "%s", text);
    return 0;
}

// ---- the library's callbacks ----

namespace {

CWebRtcConnect* Side(void* user)
{
    return static_cast<CWebRtcConnect*>(user);
}

}  // namespace

int OnWebrtcAudioDataCallBack(uint32_t handle, RtcAudioFrame* frame, uint32_t, uint32_t, void* user)
{
    return user ? Side(user)->OnWebrtcAudioData(handle, frame) : -1;
}

int OnWebrtcVideoDataCallBack(uint32_t handle, RtcVideoFrame* frame, uint32_t, uint32_t, void* user)
{
    return user ? Side(user)->OnWebrtcVideoData(handle, frame) : -1;
}

int OnWebrtcDataChnlCallBack(uint32_t handle, RtcDataPacket* packet, uint32_t, uint32_t, void* user)
{
    return user ? Side(user)->SendDataChnlParam2CorvaneSDK(handle, packet) : -1;
}

int OnWebrtcEventCallBack(uint32_t handle, int event, uint32_t param, uint64_t, const char* text, void* user)
{
    if (!user)
        return -1;
    switch (event) {
    case CVRTC_EVENT_LOG:
        Side(user)->OnWebrtcSDKLog(handle, param, text);
        break;
    case CVRTC_EVENT_DATACHANNEL_OPEN:
        Side(user)->ResetDataChnlConfig(handle, param);
        break;
    case CVRTC_EVENT_RECREATE_PEER:
        Side(user)->ResetPeerConnectionObj(handle);
        break;
    default:
        break;
    }
    return 0;
}

int OnWebrtcInfoCallBack(uint32_t handle, uint32_t messageType, uint32_t, const char* text, void* user)
{
    if (!user || messageType == 0 || !text)
        return -1;
    return Side(user)->SendNativeInfo2Web(handle, messageType, text);
}

#include "quillgate/sdklink/corvane_connect.h"

#include <cstring>
#include <string>

#include "util/win32_shims.h"

namespace {

void SetIntOption(int option, int value)
{
    CVAPI_SetSDKOption(option, &value, sizeof(value));
}

}  // namespace

CCorvaneConnect::CCorvaneConnect() : m_owner(nullptr), m_ownUserId(static_cast<uint32_t>(-1)), m_connected(0),
                                     m_sdkRunning(false)
{
}

CCorvaneConnect::~CCorvaneConnect()
{
    ReleaseSDK();
}

int CCorvaneConnect::InitSDK()
{
    unsigned int mainVer = 0;
    unsigned int subVer = 0;
    char buildTime[100] = {0};
    CVAPI_GetSDKVersion(&mainVer, &subVer, buildTime, sizeof(buildTime));
    CVAPI_ActiveCallLog(1);
    CVAPI_InitSDK(nullptr, CV_INIT_FLAGS_DEFAULT);
    m_sdkRunning = true;

    // The SDK looks for its own files beside the program.
    char dir[256] = {0};
    if (GetModuleFileName(nullptr, dir, sizeof(dir)) == 0) {
        char* slash = strrchr(dir, '/');
        if (slash)
            slash[1] = '\0';
    }
    SetIntOption(CV_OPT_USE_RUN_DIRECTORY, 1);
    CVAPI_SetSDKOption(CV_OPT_RUN_DIRECTORY, dir, static_cast<int>(strlen(dir)));

    CVAPI_SetNotifyMessageCallBack(&CCorvaneConnect::OnCorvaneNotifyMessageCallBack, this);
    CVAPI_SetVideoDataExCallBack(CV_VIDEO_CB_FORMAT_ENCODED, &CCorvaneConnect::OnVideoDataCallBack, this);
    CVAPI_SetAudioDataExCallBack(&CCorvaneConnect::OnAudioDataCallBack, this);
    CVAPI_SetTextMessageCallBack(&CCorvaneConnect::OnTextMessageCallBack, this);
    CVAPI_SetTransBufferCallBack(&CCorvaneConnect::OnTransBufferCallBack, this);
    CVAPI_SetTransBufferExCallBack(&CCorvaneConnect::OnTransBufferExCallBack, this);
    CVAPI_SetVideoCallEventCallBack(&CCorvaneConnect::OnVideoCallEventCallBack, this);
    CVAPI_SetCallBack(CV_CBTYPE_RECORDEVENT, reinterpret_cast<void*>(&CCorvaneConnect::OnRecordEventCallBack), this);
    CVAPI_SetCallBack(CV_CBTYPE_OBJECTEVENT, reinterpret_cast<void*>(&CCorvaneConnect::OnObjectEventCallBack), this);
    CVAPI_SetCallBack(CV_CBTYPE_COREEVENT, reinterpret_cast<void*>(&CCorvaneConnect::OnCoreSDKEventCallBack), this);

    SetIntOption(CV_OPT_STREAM_CALLBACK, 1);
    SetIntOption(CV_OPT_EXTERNAL_VIDEO_INPUT, 1);
    SetIntOption(CV_OPT_EXTERNAL_AUDIO_INPUT, 1);
    return 0;
}

void CCorvaneConnect::ReleaseSDK()
{
    if (!m_sdkRunning.exchange(false))
        return;
    CVAPI_Logout();
    CVAPI_Release();
}

void CCorvaneConnect::WriteSDKLog(const char* line)
{
    // A released SDK has no log to write into.
    if (!m_sdkRunning || !line)
        return;
    std::string text = "[proxy] ";
    text += line;
    CVAPI_SetSDKOption(CV_OPT_WRITE_LOG, text.c_str(), static_cast<int>(text.size()));
}

int CCorvaneConnect::doLogout()
{
    CVAPI_Logout();
    m_connected = 0;
    return 0;
}

// The callbacks below carry the session's SDK events to the connection
// manager; until those roads are laid they only guard their user value.

void CCorvaneConnect::OnCorvaneNotifyMessageCallBack(unsigned int, unsigned int, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnVideoDataCallBack(unsigned int, void*, unsigned int, unsigned int, void* user, unsigned int,
                                          unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                                          unsigned int, unsigned int, unsigned int)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnAudioDataCallBack(unsigned int, void*, unsigned int, WAVEFORMATEX, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnTextMessageCallBack(unsigned int, unsigned int, int, const char*, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnTransBufferCallBack(unsigned int, unsigned char*, unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnTransBufferExCallBack(unsigned int, unsigned char*, unsigned int, unsigned int, unsigned int,
                                              unsigned int, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnVideoCallEventCallBack(unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                                               const char*, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnObjectEventCallBack(unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                                            unsigned int, unsigned int, const char*, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnRecordEventCallBack(unsigned int, unsigned int, const char*, unsigned int, unsigned int,
                                            unsigned int, const char*, void* user)
{
    if (!user)
        return;
}

void CCorvaneConnect::OnCoreSDKEventCallBack(unsigned int, const char*, void* user)
{
    if (!user)
        return;
}

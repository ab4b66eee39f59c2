#include "quillgate/webrtc/media_sdk_helper.h"

#include <cstdio>
#include <cstring>

#include "quillgate/log/proxy_log.h"
#include "util/module_loader.h"

namespace {

const char* LibraryFor(int browserType)
{
    return browserType == 2 || browserType == 3 ? "libcorvanewebrtcsdkpv.so" : "libcorvanewebrtcsdk.so";
}

}  // namespace

CMediaSDKHelper& CMediaSDKHelper::GetInstance()
{
    static CMediaSDKHelper instance;
    return instance;
}

CMediaSDKHelper::CMediaSDKHelper() : m_library(nullptr), m_libraryName(), m_lastError(), m_table(), m_entries(nullptr)
{}

CMediaSDKHelper::~CMediaSDKHelper()
{
    m_entries = nullptr;
    m_table = EntryPoints();
    UnloadSDK();
}

uint64_t CMediaSDKHelper::LoadSDK(int browserType)
{
    char directory[256] = {0};
    GetProgramFolder(directory, sizeof(directory));

    const char* fileName = LibraryFor(browserType);
    const uint64_t loaded = LoadSDKLibrary(directory, fileName);
    if (loaded) {
        uint32_t major = 0;
        uint32_t minor = 0;
        char buildText[512] = {0};
        GetVersion(&major, &minor, buildText, sizeof(buildText));
        buildText[sizeof(buildText) - 1] = '\0';
        ProxyLog(4, "load %s success! version:%d_%d, compiletime:%s", fileName, major, minor, buildText);
    } else {
        ProxyLog(4, "load %s fail!", fileName);
    }
    return loaded;
}

uint64_t CMediaSDKHelper::LoadSDKLibrary(const char* directory, const char* fileName)
{
    if (!fileName)
        return 0;
    std::lock_guard<std::mutex> lock(m_loadMutex);
    if (m_library)
        return 1;
    snprintf(m_libraryName, sizeof(m_libraryName), "%s", fileName);

    EntryPoints table;
    const ModuleEntry entries[] = {
        ModuleEntryFor("CVRTC_Initialize", table.Initialize),
        ModuleEntryFor("CVRTC_UnInitialize", table.UnInitialize),
        ModuleEntryFor("CVRTC_CreateWithUserHandle", table.CreateWithUserHandle),
        ModuleEntryFor("CVRTC_CreateWithGenerateHandle", table.CreateWithGenerateHandle),
        ModuleEntryFor("CVRTC_Destroy", table.Destroy),
        ModuleEntryFor("CVRTC_SetAudioFrameParam", table.SetAudioFrameParam),
        ModuleEntryFor("CVRTC_SetVideoFrameParam", table.SetVideoFrameParam),
        ModuleEntryFor("CVRTC_InputAudioStreamData", table.InputAudioStreamData),
        ModuleEntryFor("CVRTC_InputVideoStreamData", table.InputVideoStreamData),
        ModuleEntryFor("CVRTC_SetDescriptionInfo", table.SetDescriptionInfo),
        ModuleEntryFor("CVRTC_GetState", table.GetState),
        ModuleEntryFor("CVRTC_SelectObjExist", table.SelectObjExist),
        ModuleEntryFor("CVRTC_GetVersion", table.GetVersion),
    };
    // Only ever the file beside the program: a path that does not fit, or
    // no folder at all, fails instead of letting dlopen search elsewhere.
    ModuleLoadResult result = kModuleLoaded;
    char error[sizeof(m_lastError)] = {0};
    void* library =
        LoadModule(directory, fileName, entries, sizeof(entries) / sizeof(entries[0]), &result, error, sizeof(error));
    if (!library) {
        // A library without all 13 is closed again without a line of its own.
        if (result != kModuleEntryMissing) {
            snprintf(m_lastError, sizeof(m_lastError), "%s", error);
            ProxyLog(16, "%s", m_lastError);
        }
        return 0;
    }
    m_library = library;
    m_table = table;
    m_entries.store(&m_table, std::memory_order_release);
    return 1;
}

int CMediaSDKHelper::UnloadSDK()
{
    std::lock_guard<std::mutex> lock(m_loadMutex);
    if (m_library) {
        m_entries = nullptr;
        UnloadModule(m_library);
        m_library = nullptr;
    }
    return 1;
}

// Every wrapper: the entry point when bound, else the unbound result.
#define QG_CALL(entry, unbound, ...)                                        \
    const EntryPoints* entries = m_entries.load(std::memory_order_acquire); \
    return entries && entries->entry ? entries->entry(__VA_ARGS__) : (unbound)

int CMediaSDKHelper::Initialize()
{
    QG_CALL(Initialize, -1, );
}

int CMediaSDKHelper::UnInitialize()
{
    QG_CALL(UnInitialize, -1, );
}

int CMediaSDKHelper::CreateWithUserHandle(uint32_t a1, uint32_t a2, void* a3, uint32_t a4, void* a5, void* a6, void* a7,
                                          void* a8, void* a9, void* a10, void* a11)
{
    QG_CALL(CreateWithUserHandle, -1, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}

uint32_t CMediaSDKHelper::CreateWithGenerateHandle(uint32_t direction, const char* iceServer, uint32_t browserType,
                                                   CVRTC_AudioData_CallBack audio, CVRTC_VideoData_CallBack video,
                                                   CVRTC_DataChnl_CallBack data, CVRTC_Event_CallBack event,
                                                   CVRTC_Info_CallBack info, void* user, const char* peerJson)
{
    QG_CALL(CreateWithGenerateHandle, CVRTC_INVALID_HANDLE, direction, iceServer, browserType, audio, video, data,
            event, info, user, peerJson);
}

int CMediaSDKHelper::Destroy(uint32_t handle)
{
    QG_CALL(Destroy, -1, handle);
}

int CMediaSDKHelper::SetAudioFrameParam(uint32_t handle, void* params)
{
    QG_CALL(SetAudioFrameParam, -1, handle, params);
}

int CMediaSDKHelper::SetVideoFrameParam(uint32_t handle, void* params)
{
    QG_CALL(SetVideoFrameParam, -1, handle, params);
}

int CMediaSDKHelper::InputAudioStreamData(uint32_t handle, RtcAudioFrame* frame)
{
    QG_CALL(InputAudioStreamData, -1, handle, frame);
}

int CMediaSDKHelper::InputVideoStreamData(uint32_t handle, RtcVideoFrame* frame)
{
    QG_CALL(InputVideoStreamData, -1, handle, frame);
}

int CMediaSDKHelper::SetDescriptionInfo(uint32_t handle, const char* json)
{
    QG_CALL(SetDescriptionInfo, -1, handle, json);
}

int CMediaSDKHelper::GetState(uint32_t handle)
{
    QG_CALL(GetState, -1, handle);
}

int CMediaSDKHelper::SelectObjExist(uint32_t handle)
{
    QG_CALL(SelectObjExist, 1, handle);
}

int CMediaSDKHelper::GetVersion(uint32_t* major, uint32_t* minor, char* buildText, uint32_t size)
{
    QG_CALL(GetVersion, -1, major, minor, buildText, size);
}

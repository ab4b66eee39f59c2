// The loader of the WebRTC media library: finds the library beside the
// program, opens it, binds its 13 entry points all together or not at
// all, and offers one wrapper per entry point. A wrapper whose entry point
// is unbound returns the unbound result without calling anything, so a
// missing library makes every WebRTC operation fail instead of crash.
// Opened through the program's one module loader (util/module_loader).
#ifndef QG_WEBRTC_MEDIA_SDK_HELPER_H
#define QG_WEBRTC_MEDIA_SDK_HELPER_H

#include <atomic>
#include <mutex>
#include <stdint.h>

#include "quillgate/webrtc/cvrtc_api.h"

class CMediaSDKHelper
{
public:
    // The process-wide loader; the first library opened stays until exit.
    static CMediaSDKHelper& GetInstance();

    // Opens the library for this browser type (2 and 3:
    // libcorvanewebrtcsdkpv.so, else libcorvanewebrtcsdk.so) from the
    // program's folder: 1 when a library is open and bound afterwards.
    uint64_t LoadSDK(int browserType);
    // 1 or 0; a library already open answers 1 and changes nothing.
    uint64_t LoadSDKLibrary(const char* directory, const char* fileName);
    // Closes the library if one is open; 1.
    int UnloadSDK();
    bool IsLoaded() const { return m_entries.load(std::memory_order_acquire) != nullptr; }

    int Initialize();
    int UnInitialize();
    int CreateWithUserHandle(uint32_t a1, uint32_t a2, void* a3, uint32_t a4, void* a5, void* a6, void* a7, void* a8,
                             void* a9, void* a10, void* a11);
    uint32_t CreateWithGenerateHandle(uint32_t direction, const char* iceServer, uint32_t browserType,
                                      CVRTC_AudioData_CallBack audio, CVRTC_VideoData_CallBack video,
                                      CVRTC_DataChnl_CallBack data, CVRTC_Event_CallBack event,
                                      CVRTC_Info_CallBack info, void* user, const char* peerJson);
    int Destroy(uint32_t handle);
    int SetAudioFrameParam(uint32_t handle, void* params);
    int SetVideoFrameParam(uint32_t handle, void* params);
    int InputAudioStreamData(uint32_t handle, RtcAudioFrame* frame);
    int InputVideoStreamData(uint32_t handle, RtcVideoFrame* frame);
    int SetDescriptionInfo(uint32_t handle, const char* json);
    int GetState(uint32_t handle);
    int SelectObjExist(uint32_t handle);
    int GetVersion(uint32_t* major, uint32_t* minor, char* buildText, uint32_t size);

    // The 13 entry points in lookup order.
    struct EntryPoints {
        decltype(&CVRTC_Initialize) Initialize;
        decltype(&CVRTC_UnInitialize) UnInitialize;
        decltype(&CVRTC_CreateWithUserHandle) CreateWithUserHandle;
        decltype(&CVRTC_CreateWithGenerateHandle) CreateWithGenerateHandle;
        decltype(&CVRTC_Destroy) Destroy;
        decltype(&CVRTC_SetAudioFrameParam) SetAudioFrameParam;
        decltype(&CVRTC_SetVideoFrameParam) SetVideoFrameParam;
        decltype(&CVRTC_InputAudioStreamData) InputAudioStreamData;
        decltype(&CVRTC_InputVideoStreamData) InputVideoStreamData;
        decltype(&CVRTC_SetDescriptionInfo) SetDescriptionInfo;
        decltype(&CVRTC_GetState) GetState;
        decltype(&CVRTC_SelectObjExist) SelectObjExist;
        decltype(&CVRTC_GetVersion) GetVersion;
    };

private:
    CMediaSDKHelper();
    ~CMediaSDKHelper();
    CMediaSDKHelper(const CMediaSDKHelper&) = delete;
    CMediaSDKHelper& operator=(const CMediaSDKHelper&) = delete;

    std::mutex m_loadMutex;  // one load at a time
    void* m_library;
    char m_libraryName[50];
    char m_lastError[512];
    EntryPoints m_table;
    // Null while unbound; points at m_table once all 13 are in it.
    std::atomic<const EntryPoints*> m_entries;
};

#endif

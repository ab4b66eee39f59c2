/*
 * cvrtc_api.h - what quillgate relies on of the WebRTC media library
 * (libcorvanewebrtcsdk.so / libcorvanewebrtcsdkpv.so): its 13 entry
 * points, the five callbacks it calls, and the three records frames and
 * data-channel messages cross its boundary in.
 *
 * The library is opened with dlopen; nothing links against it. Entry
 * points are called from several threads at once; callbacks come on the
 * library's own threads. Texts and records handed either way are valid
 * only for the duration of the call.
 */
#ifndef QG_WEBRTC_CVRTC_API_H
#define QG_WEBRTC_CVRTC_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- records: packed, little-endian, fixed offsets -------------------
 * Bytes marked reserved belong to the library; quillgate neither reads
 * nor writes them, and fills records field by field, never by address. */
#pragma pack(push, 1)

typedef struct RtcAudioFrame {
    uint8_t reserved0[16];
    uint32_t timestamp; /* 16: frame time in ms */
    uint32_t zero;      /* 20: written as 0, not read */
    uint8_t reserved1[4];
    uint32_t length; /* 28: bytes at data */
    uint8_t* data;   /* 32: encoded audio */
} RtcAudioFrame;

typedef struct RtcVideoFrame {
    uint32_t streamIndex; /* 0 */
    uint8_t reserved0[12];
    uint32_t rotation;  /* 16: clockwise degrees */
    uint32_t timestamp; /* 20: frame time in ms */
    uint32_t zero;      /* 24: written as 0, not read */
    uint8_t reserved1[4];
    uint32_t length; /* 32: bytes at data */
    uint8_t* data;   /* 36: encoded video */
} RtcVideoFrame;

typedef struct RtcDataPacket {
    uint32_t channelId; /* 0: data channel within the peer */
    uint8_t reserved0[128];
    uint8_t* data;   /* 132: message bytes */
    uint32_t length; /* 140 */
} RtcDataPacket;

#pragma pack(pop)

/* ---- callbacks: user value is the one given at creation ------------- */
typedef int (*CVRTC_AudioData_CallBack)(uint32_t handle, RtcAudioFrame* frame, uint32_t param1, uint32_t param2,
                                        void* user);
typedef int (*CVRTC_VideoData_CallBack)(uint32_t handle, RtcVideoFrame* frame, uint32_t param1, uint32_t param2,
                                        void* user);
typedef int (*CVRTC_DataChnl_CallBack)(uint32_t handle, RtcDataPacket* packet, uint32_t param1, uint32_t param2,
                                       void* user);
/* event 1: a log line (param = level); 4: a data channel opened (param =
 * channel id); 5: the peer connection must be re-created. */
typedef int (*CVRTC_Event_CallBack)(uint32_t handle, int event, uint32_t param, uint64_t param2, const char* text,
                                    void* user);
/* messageType 1 offer, 2 answer, any other non-zero a candidate. */
typedef int (*CVRTC_Info_CallBack)(uint32_t handle, uint32_t messageType, uint32_t param, const char* text, void* user);

#define CVRTC_DIRECTION_RECV 1 /* the browser receives through the peer */
#define CVRTC_DIRECTION_SEND 2 /* the browser sends through it */
#define CVRTC_INVALID_HANDLE 0xFFFFFFFFu

#define CVRTC_EVENT_LOG 1
#define CVRTC_EVENT_DATACHANNEL_OPEN 4
#define CVRTC_EVENT_RECREATE_PEER 5

#define CVRTC_INFO_OFFER 1
#define CVRTC_INFO_ANSWER 2
#define CVRTC_INFO_CANDIDATE 3

/* ---- entry points, in lookup order ---------------------------------- */
int CVRTC_Initialize(void);
int CVRTC_UnInitialize(void);
int CVRTC_CreateWithUserHandle(uint32_t a1, uint32_t a2, void* a3, uint32_t a4, void* a5, void* a6, void* a7, void* a8,
                               void* a9, void* a10, void* a11);
uint32_t CVRTC_CreateWithGenerateHandle(uint32_t direction, const char* iceServer, uint32_t browserType,
                                        CVRTC_AudioData_CallBack audio, CVRTC_VideoData_CallBack video,
                                        CVRTC_DataChnl_CallBack data, CVRTC_Event_CallBack event,
                                        CVRTC_Info_CallBack info, void* user, const char* peerJson);
int CVRTC_Destroy(uint32_t handle);
int CVRTC_SetAudioFrameParam(uint32_t handle, void* params);
int CVRTC_SetVideoFrameParam(uint32_t handle, void* params);
int CVRTC_InputAudioStreamData(uint32_t handle, RtcAudioFrame* frame);
int CVRTC_InputVideoStreamData(uint32_t handle, RtcVideoFrame* frame);
/* 0 accepted; anything else is the library's failure code. */
int CVRTC_SetDescriptionInfo(uint32_t handle, const char* json);
int CVRTC_GetState(uint32_t handle);
int CVRTC_SelectObjExist(uint32_t handle);
/* size: capacity of buildText (512). */
int CVRTC_GetVersion(uint32_t* major, uint32_t* minor, char* buildText, uint32_t size);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(RtcAudioFrame) == 40, "RtcAudioFrame layout");
static_assert(offsetof(RtcAudioFrame, timestamp) == 16, "RtcAudioFrame.timestamp");
static_assert(offsetof(RtcAudioFrame, zero) == 20, "RtcAudioFrame.zero");
static_assert(offsetof(RtcAudioFrame, length) == 28, "RtcAudioFrame.length");
static_assert(offsetof(RtcAudioFrame, data) == 32, "RtcAudioFrame.data");
static_assert(sizeof(RtcVideoFrame) == 44, "RtcVideoFrame layout");
static_assert(offsetof(RtcVideoFrame, streamIndex) == 0, "RtcVideoFrame.streamIndex");
static_assert(offsetof(RtcVideoFrame, rotation) == 16, "RtcVideoFrame.rotation");
static_assert(offsetof(RtcVideoFrame, timestamp) == 20, "RtcVideoFrame.timestamp");
static_assert(offsetof(RtcVideoFrame, zero) == 24, "RtcVideoFrame.zero");
static_assert(offsetof(RtcVideoFrame, length) == 32, "RtcVideoFrame.length");
static_assert(offsetof(RtcVideoFrame, data) == 36, "RtcVideoFrame.data");
static_assert(sizeof(RtcDataPacket) == 144, "RtcDataPacket layout");
static_assert(offsetof(RtcDataPacket, channelId) == 0, "RtcDataPacket.channelId");
static_assert(offsetof(RtcDataPacket, data) == 132, "RtcDataPacket.data");
static_assert(offsetof(RtcDataPacket, length) == 140, "RtcDataPacket.length");
#endif

#endif /* QG_WEBRTC_CVRTC_API_H */

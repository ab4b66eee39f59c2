/*
 * cvapi.h - what quillgate calls of the conferencing client SDK
 * dizoveverivuve.so: its CVAPI_ functions, callback types and the numbers
 * the calls and callbacks use.
 *
 * Results: int, 0 success, otherwise the SDK's own code, passed on.
 * Texts end in NUL. User ids are u32; (unsigned)-1 stands for the local
 * user. Callbacks come on the SDK's own threads with the user value given
 * at registration; what they hand over is valid only during the call.
 */
#ifndef QG_SDKLINK_CVAPI_H
#define QG_SDKLINK_CVAPI_H

#ifdef __cplusplus
extern "C" {
#endif

#ifndef CVAPI_EXPORT
#define CVAPI_EXPORT __attribute__((visibility("default")))
#endif

/* ---- notify messages (CVAPI_NotifyMessage_CallBack) ------------------
 * message                 wParam                  lParam                */
#define CV_MSG_CONNECT 1225     /* 1 connected, 0 failed error code (0 on success) */
#define CV_MSG_LOGIN 1226       /* user id           error code            */
#define CV_MSG_ENTERROOM 1227   /* room id           error code            */
#define CV_MSG_MICSTATE 1228    /* user id           microphone state      */
#define CV_MSG_USERATROOM 1229  /* user id           1 entered, 0 left     */
#define CV_MSG_LINKCLOSE 1230   /* 0                 error code            */
#define CV_MSG_ONLINEUSER 1231  /* user count        room id               */
#define CV_MSG_CAMERASTATE 1235 /* user id           camera state          */
#define CV_MSG_VIDEOSIZE 1239   /* user id           (width << 16) | height */
#define CV_MSG_USERINFO 1240    /* user id           info type             */
#define CV_MSG_FRIEND 1241      /* user id           status                */

/* ---- SDK options (CVAPI_SetSDKOption / CVAPI_GetSDKOption) ----------
 * ints travel as 4 bytes, texts as their bytes without NUL.             */
#define CV_OPT_EXTERNAL_VIDEO_INPUT 26 /* int                         */
#define CV_OPT_EXTERNAL_AUDIO_INPUT 27 /* int                         */
#define CV_OPT_WRITE_LOG 135           /* text: one line into the SDK log */
#define CV_OPT_RUN_DIRECTORY 220       /* text: program directory     */
#define CV_OPT_USE_RUN_DIRECTORY 221   /* int                         */
#define CV_OPT_STREAM_CALLBACK 226     /* int                         */
#define CV_OPT_OUTPUT_VIDEO_FORMAT 233 /* text: {"flags":..,"videocodec":..} */
/* Option 233 sets the format remote users' video is handed over in: "videocodec"
 * 1 H.264 (Annex-B access units), 4 VP8; "flags" 1024 asks for one slice per
 * H.264 frame, 0 for none. Cameras opened before it deliver nothing. */

/* ---- objects (CVAPI_ObjectGetValue): types and info names --------------
 * ints travel as 4 bytes; texts in the sizes given, NUL included.        */
#define CV_OBJTYPE_AREA 4         /* a service area: its agents, guests and queues */
#define CV_OBJTYPE_QUEUE 5        /* a queue, as the local user sees it            */
#define CV_OBJTYPE_AGENT 6        /* an agent serving users                         */
#define CV_OBJINFO_FLAGS 7        /* int                                            */
#define CV_OBJINFO_NAME 8         /* text, 100 bytes                                */
#define CV_OBJINFO_PRIORITY 9     /* int                                            */
#define CV_OBJINFO_ATTRIBUTE 10   /* int                                            */
#define CV_OBJINFO_DESCRIPTION 11 /* text, 200 bytes                                */
#define CV_OBJINFO_INTTAG 12      /* int                                            */
#define CV_OBJINFO_STRINGTAG 13   /* text, 200 bytes                                */
/* status of an area (ints) */
#define CV_OBJINFO_AGENTCOUNT 401
#define CV_OBJINFO_GUESTCOUNT 402
#define CV_OBJINFO_QUEUEUSERCOUNT 403
#define CV_OBJINFO_QUEUECOUNT 404
/* status of a queue (ints) */
#define CV_OBJINFO_MYSEQUENCENO 501
#define CV_OBJINFO_BEFOREUSERNUM 502
#define CV_OBJINFO_MYENTERQUEUETIME 503
#define CV_OBJINFO_QUEUELENGTH 504
#define CV_OBJINFO_WAITTIMESECOND 508
/* status of an agent (ints) */
#define CV_OBJINFO_SERVICESTATUS 601
#define CV_OBJINFO_SERVICEUSERID 602
#define CV_OBJINFO_SERVICEBEGINTIME 603
#define CV_OBJINFO_SERVICETOTALTIME 604
#define CV_OBJINFO_SERVICETOTALNUM 605
#define CV_OBJEVENT_UPDATE 2 /* object event: the objects of a type changed */

/* ---- other numbers ---------------------------------------------------*/
#define CV_INIT_FLAGS_DEFAULT 0xA0005  /* CVAPI_InitSDK flags             */
#define CV_VIDEO_CB_FORMAT_ENCODED 201 /* CVAPI_SetVideoDataExCallBack    */
#define CV_USERSTATE_DEVICETYPE 15     /* CVAPI_QueryUserState: int     */
#define CV_USERINFO_EXTRA 2            /* CVAPI_GetUserInfo: text        */
#define CV_USERINFO_CTRL_ROTATION 8    /* CVAPI_UserInfoControl code    */
#define CV_FRAME_FLAG_NORMAL 1         /* CVAPI_InputVideoDataEx flags   */
#define CV_FRAME_FLAG_KEY 3
#define CV_FRAME_FLAG_ROTATION 4 /* added when rotated            */
#define CV_CBTYPE_OBJECTEVENT 18 /* CVAPI_SetCallBack types       */
#define CV_CBTYPE_RECORDEVENT 21
#define CV_CBTYPE_COREEVENT 23
#define CV_CODEC_H264 1
#define CV_CODEC_VP8 3
#define CV_CODEC_OPUS 11

#ifndef _WAVEFORMATEX_
#define _WAVEFORMATEX_
typedef struct tWAVEFORMATEX {
    unsigned short wFormatTag;
    unsigned short nChannels;
    unsigned int nSamplesPerSec;
    unsigned int nAvgBytesPerSec;
    unsigned short nBlockAlign;
    unsigned short wBitsPerSample;
    unsigned short cbSize;
} WAVEFORMATEX;
#endif

/* ---- callbacks (always called on the SDK's event thread) -------------*/
typedef void (*CVAPI_NotifyMessage_CallBack)(unsigned int dwNotifyMsg, unsigned int wParam, unsigned int lParam,
                                             void* lpUserValue);
/* 14 arguments; the user value is the 5th. */
typedef void (*CVAPI_VideoDataEx_CallBack)(unsigned int dwUserId, void* lpBuf, unsigned int dwLen,
                                           unsigned int dwTimeStamp, void* lpUserValue, unsigned int dwStreamIndex,
                                           unsigned int dwCodecId, unsigned int dwWidth, unsigned int dwHeight,
                                           unsigned int dwFps, unsigned int dwFlags, unsigned int dwReserved1,
                                           unsigned int dwReserved2, unsigned int dwRotation);
typedef void (*CVAPI_AudioDataEx_CallBack)(unsigned int dwUserId, void* lpBuf, unsigned int dwLen,
                                           WAVEFORMATEX waveFormat, unsigned int dwTimeStamp, void* lpUserValue);
typedef void (*CVAPI_TextMessage_CallBack)(unsigned int dwFromUserId, unsigned int dwToUserId, int bSecret,
                                           const char* lpMsgBuf, unsigned int dwLen, void* lpUserValue);
typedef void (*CVAPI_TransBuffer_CallBack)(unsigned int dwUserId, unsigned char* lpBuf, unsigned int dwLen,
                                           void* lpUserValue);
typedef void (*CVAPI_TransBufferEx_CallBack)(unsigned int dwUserId, unsigned char* lpBuf, unsigned int dwLen,
                                             unsigned int wParam, unsigned int lParam, unsigned int dwTaskId,
                                             void* lpUserValue);
typedef void (*CVAPI_VideoCallEvent_CallBack)(unsigned int dwEventType, unsigned int dwUserId, unsigned int dwErrorCode,
                                              unsigned int dwFlags, unsigned int dwParam, const char* lpUserStr,
                                              void* lpUserValue);
/* CVAPI_SetCallBack type 18 */
typedef void (*CVAPI_ObjectEvent_CallBack)(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwEventType,
                                           unsigned int dwParam1, unsigned int dwParam2, unsigned int dwParam3,
                                           unsigned int dwParam4, const char* lpStrParam, void* lpUserValue);
/* CVAPI_SetCallBack type 21 */
typedef void (*CVAPI_RecordEvent_CallBack)(unsigned int dwUserId, unsigned int dwStreamIndex, const char* lpFileName,
                                           unsigned int dwElapse, unsigned int dwFlags, unsigned int dwParam,
                                           const char* lpUserStr, void* lpUserValue);
/* CVAPI_SetCallBack type 23 */
typedef void (*CVAPI_CoreSDKEvent_CallBack)(unsigned int dwEventType, const char* lpJsonStr, void* lpUserValue);

/* ---- start-up, options ------------------------------------------------*/
CVAPI_EXPORT int CVAPI_GetSDKVersion(unsigned int* dwMainVer, unsigned int* dwSubVer, char* lpCompileTime,
                                     unsigned int dwBufLen);
CVAPI_EXPORT int CVAPI_ActiveCallLog(int bActive);
CVAPI_EXPORT int CVAPI_InitSDK(void* hWnd, unsigned int dwFuncMode);
CVAPI_EXPORT int CVAPI_SetSDKOption(int optName, const void* optVal, int optLen);
CVAPI_EXPORT int CVAPI_GetSDKOption(int optName, void* optVal, int optLen);
CVAPI_EXPORT int CVAPI_Release(void);

/* ---- callback registration ------------------------------------------*/
CVAPI_EXPORT int CVAPI_SetNotifyMessageCallBack(CVAPI_NotifyMessage_CallBack lpFunction, void* lpUserValue);
CVAPI_EXPORT int CVAPI_SetVideoDataExCallBack(unsigned int pixFmt, CVAPI_VideoDataEx_CallBack lpFunction,
                                              void* lpUserValue);
CVAPI_EXPORT int CVAPI_SetAudioDataExCallBack(CVAPI_AudioDataEx_CallBack lpFunction, void* lpUserValue);
CVAPI_EXPORT int CVAPI_SetTextMessageCallBack(CVAPI_TextMessage_CallBack lpFunction, void* lpUserValue);
CVAPI_EXPORT int CVAPI_SetTransBufferCallBack(CVAPI_TransBuffer_CallBack lpFunction, void* lpUserValue);
CVAPI_EXPORT int CVAPI_SetTransBufferExCallBack(CVAPI_TransBufferEx_CallBack lpFunction, void* lpUserValue);
CVAPI_EXPORT int CVAPI_SetVideoCallEventCallBack(CVAPI_VideoCallEvent_CallBack lpFunction, void* lpUserValue);
/* dwCbType 18, 21 or 23; lpFunction is the matching typedef above. */
CVAPI_EXPORT int CVAPI_SetCallBack(unsigned int dwCbType, void* lpFunction, void* lpUserValue);

/* ---- login --------------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_SetServerAuthPass(const char* lpPassword);
CVAPI_EXPORT int CVAPI_Connect(const char* lpServerAddr, unsigned int dwPort);
CVAPI_EXPORT int CVAPI_Login(const char* lpUserName, const char* lpPassword, unsigned int dwPassEncType);
CVAPI_EXPORT int CVAPI_LoginEx(const char* lpNickName, unsigned int dwUserId, const char* lpStrUserId,
                               const char* lpAppId, unsigned int dwTimeStamp, const char* lpSigStr,
                               const char* lpStrParam);
CVAPI_EXPORT int CVAPI_Logout(void);

/* ---- rooms ----------------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_EnterRoom(unsigned int dwRoomId, const char* lpRoomPass, unsigned int dwPassEncType);
CVAPI_EXPORT int CVAPI_EnterRoomEx(const char* lpRoomName, const char* lpRoomPass);
CVAPI_EXPORT int CVAPI_LeaveRoom(unsigned int dwRoomId);
/* lpUserIdArray NULL: *dwUserNum gets the count; else *dwUserNum is the
 * capacity on entry and the number written on return. */
CVAPI_EXPORT int CVAPI_GetRoomOnlineUsers(unsigned int dwRoomId, unsigned int* lpUserIdArray, unsigned int* dwUserNum);

/* ---- users ------------------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_GetUserName(unsigned int dwUserId, char* lpUserName, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_GetUserInfo(unsigned int dwUserId, unsigned int dwInfoId, char* lpInfoValue, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_GetCameraState(unsigned int dwUserId, unsigned int* dwState);
CVAPI_EXPORT int CVAPI_GetSpeakState(unsigned int dwUserId, unsigned int* dwState);
CVAPI_EXPORT int CVAPI_QueryUserState(unsigned int dwUserId, int infoName, void* infoVal, int infoLen);
CVAPI_EXPORT int CVAPI_UserCameraControl(unsigned int dwUserId, int bOpen);
CVAPI_EXPORT int CVAPI_UserSpeakControl(unsigned int dwUserId, int bOpen);
CVAPI_EXPORT int CVAPI_UserCameraControlEx(unsigned int dwUserId, int bOpen, unsigned int dwStreamIndex,
                                           unsigned int dwFlags, const char* lpStrParam);
CVAPI_EXPORT int CVAPI_UserSpeakControlEx(unsigned int dwUserId, int bOpen, unsigned int dwStreamIndex,
                                          unsigned int dwFlags, const char* lpStrParam);
CVAPI_EXPORT int CVAPI_UserInfoControl(unsigned int dwUserId, unsigned int dwCtrlCode, unsigned int wParam,
                                       unsigned int lParam, const char* lpStrValue);

/* ---- objects ------------------------------------------------------------------*/
/* lpIdArray NULL: *dwIdNum gets the count; else capacity in, written out. */
CVAPI_EXPORT int CVAPI_ObjectGetIdList(unsigned int dwObjectType, unsigned int* lpIdArray, unsigned int* dwIdNum);
CVAPI_EXPORT int CVAPI_ObjectGetValue(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwInfoName,
                                      void* lpInfoValue, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_ObjectSetValue(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwInfoName,
                                      const void* lpInfoValue, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_ObjectControl(unsigned int dwObjectType, unsigned int dwObjectId, unsigned int dwCtrlCode,
                                     unsigned int dwParam1, unsigned int dwParam2, unsigned int dwParam3,
                                     unsigned int dwParam4, const char* lpStrParam);

/* ---- text and buffers --------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_SendTextMessage(unsigned int dwUserId, int bSecret, const char* lpMsgBuf, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_TransBuffer(unsigned int dwUserId, const void* lpBuf, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_TransBufferEx(unsigned int dwUserId, const void* lpBuf, unsigned int dwLen, unsigned int wParam,
                                     unsigned int lParam, unsigned int dwFlags, unsigned int* dwTaskId);

/* ---- media input (the local user's own audio and video) -------------------*/
CVAPI_EXPORT int CVAPI_SetInputVideoFormatEx(unsigned int dwStreamIndex, unsigned int dwCodecId,
                                             unsigned int dwColorSpace, unsigned int dwWidth, unsigned int dwHeight,
                                             unsigned int dwFps, unsigned int dwFlags);
CVAPI_EXPORT int CVAPI_SetInputAudioFormatEx(unsigned int dwStreamIndex, unsigned int dwCodecId,
                                             unsigned int dwChannels, unsigned int dwSamplesPerSec,
                                             unsigned int dwBitsPerSample, unsigned int dwFlags);
CVAPI_EXPORT int CVAPI_InputVideoDataEx(unsigned int dwStreamIndex, const void* lpBuf, unsigned int dwLen,
                                        unsigned int dwTimeStamp, unsigned int dwFlags);
CVAPI_EXPORT int CVAPI_InputAudioDataEx(unsigned int dwStreamIndex, const void* lpBuf, unsigned int dwLen,
                                        unsigned int dwTimeStamp, unsigned int dwFlags);

/* ---- control ---------------------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_StreamRecordCtrlEx(unsigned int dwUserId, int bStartRecord, unsigned int dwFlags,
                                          unsigned int dwParam, const char* lpUserStr);
CVAPI_EXPORT int CVAPI_SDKControl(unsigned int dwCtrlCode, const char* lpInJsonBuf, char* lpOutJsonBuf,
                                  unsigned int dwOutBufSize);
CVAPI_EXPORT int CVAPI_VideoCallControl(unsigned int dwEventType, unsigned int dwUserId, unsigned int dwErrorCode,
                                        unsigned int dwFlags, unsigned int dwParam, const char* lpUserStr);

#ifdef __cplusplus
}
#endif

#endif /* QG_SDKLINK_CVAPI_H */

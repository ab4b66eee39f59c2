/*
 * cvapi.h - API of the conferencing client SDK dizoveverivuve.so.
 *
 * This build is the stand-in SDK: a small in-process conferencing server
 * that answers like the real one, so quillgate can be run and tested on a
 * machine without the real SDK.  Everything it does beyond the declarations
 * is written down in this header, in the section CONVENTIONS below.
 *
 * Results: int, 0 success, CV_ERR_* otherwise.  Texts end in NUL.
 * User ids are u32; (unsigned)-1 stands for the local user.
 */
#ifndef CVAPI_H
#define CVAPI_H

#ifdef __cplusplus
extern "C" {
#endif

#define CVAPI_EXPORT __attribute__((visibility("default")))

/* ---- result codes --------------------------------------------------- */
#define CV_ERR_SUCCESS        0
#define CV_ERR_FAILED         1   /* generic failure                      */
#define CV_ERR_NOTINIT        2   /* CVAPI_InitSDK has not run            */
#define CV_ERR_NOTCONNECT     3   /* no link to the server                */
#define CV_ERR_NOTLOGIN       4   /* not logged in                        */
#define CV_ERR_NOTINROOM      5   /* not in a room                        */
#define CV_ERR_INVALIDPARAM   6   /* null or malformed argument           */
#define CV_ERR_NOUSER         7   /* no such user                         */
#define CV_ERR_NOOBJECT       8   /* no such object or object value       */
#define CV_ERR_NOOPTION       9   /* option never set                     */
#define CV_ERR_NOINFO        10   /* user state / info name not known     */
#define CV_ERR_SCENARIO      11   /* scenario file unreadable or has bad lines */

/* ---- notify messages (CVAPI_NotifyMessage_CallBack) ------------------
 * message                 wParam                  lParam                */
#define CV_MSG_CONNECT      1225 /* 1 connected, 0 failed error code (0 on success) */
#define CV_MSG_LOGIN        1226 /* user id           error code            */
#define CV_MSG_ENTERROOM    1227 /* room id           error code            */
#define CV_MSG_MICSTATE     1228 /* user id           microphone state      */
#define CV_MSG_USERATROOM   1229 /* user id           1 entered, 0 left     */
#define CV_MSG_LINKCLOSE    1230 /* 0                 error code            */
#define CV_MSG_ONLINEUSER   1231 /* user count        room id               */
#define CV_MSG_CAMERASTATE  1235 /* user id           camera state          */
#define CV_MSG_VIDEOSIZE    1239 /* user id           (width << 16) | height */
#define CV_MSG_USERINFO     1240 /* user id           info type             */
#define CV_MSG_FRIEND       1241 /* user id           status                */

/* ---- SDK options (CVAPI_SetSDKOption / CVAPI_GetSDKOption) ----------
 * ints travel as 4 bytes, texts as their bytes without NUL.             */
#define CV_OPT_EXTERNAL_VIDEO_INPUT   26   /* int                         */
#define CV_OPT_EXTERNAL_AUDIO_INPUT   27   /* int                         */
#define CV_OPT_WRITE_LOG             135   /* text: one line into the SDK log */
#define CV_OPT_RUN_DIRECTORY         220   /* text: program directory     */
#define CV_OPT_USE_RUN_DIRECTORY     221   /* int                         */
#define CV_OPT_STREAM_CALLBACK       226   /* int                         */
#define CV_OPT_OUTPUT_VIDEO_FORMAT   233   /* text: {"flags":..,"videocodec":..} */

/* ---- other numbers ---------------------------------------------------*/
#define CV_INIT_FLAGS_DEFAULT     0xA0005 /* CVAPI_InitSDK flags             */
#define CV_VIDEO_CB_FORMAT_ENCODED    201 /* CVAPI_SetVideoDataExCallBack    */
#define CV_USERSTATE_DEVICETYPE        15 /* CVAPI_QueryUserState: int     */
#define CV_USERINFO_EXTRA               2 /* CVAPI_GetUserInfo: text        */
#define CV_USERINFO_CTRL_ROTATION       8 /* CVAPI_UserInfoControl code    */
#define CV_FRAME_FLAG_NORMAL            1 /* CVAPI_InputVideoDataEx flags   */
#define CV_FRAME_FLAG_KEY               3
#define CV_FRAME_FLAG_ROTATION          4 /* added when rotated            */
#define CV_CBTYPE_OBJECTEVENT          18 /* CVAPI_SetCallBack types       */
#define CV_CBTYPE_RECORDEVENT          21
#define CV_CBTYPE_COREEVENT            23
#define CV_CODEC_H264                   1
#define CV_CODEC_VP8                    3
#define CV_CODEC_OPUS                  11

#ifndef _WAVEFORMATEX_
#define _WAVEFORMATEX_
typedef struct tWAVEFORMATEX {
    unsigned short wFormatTag;
    unsigned short nChannels;
    unsigned int   nSamplesPerSec;
    unsigned int   nAvgBytesPerSec;
    unsigned short nBlockAlign;
    unsigned short wBitsPerSample;
    unsigned short cbSize;
} WAVEFORMATEX;
#endif

/* ---- callbacks (always called on the SDK's event thread) -------------*/
typedef void (*CVAPI_NotifyMessage_CallBack)(unsigned int dwNotifyMsg, unsigned int wParam,
                                             unsigned int lParam, void* lpUserValue);
/* 14 arguments; the user value is the 5th. */
typedef void (*CVAPI_VideoDataEx_CallBack)(unsigned int dwUserId, void* lpBuf, unsigned int dwLen,
                                           unsigned int dwTimeStamp, void* lpUserValue,
                                           unsigned int dwStreamIndex, unsigned int dwCodecId,
                                           unsigned int dwWidth, unsigned int dwHeight,
                                           unsigned int dwFps, unsigned int dwFlags,
                                           unsigned int dwReserved1, unsigned int dwReserved2,
                                           unsigned int dwRotation);
typedef void (*CVAPI_AudioDataEx_CallBack)(unsigned int dwUserId, void* lpBuf, unsigned int dwLen,
                                           WAVEFORMATEX waveFormat, unsigned int dwTimeStamp,
                                           void* lpUserValue);
typedef void (*CVAPI_TextMessage_CallBack)(unsigned int dwFromUserId, unsigned int dwToUserId,
                                           int bSecret, const char* lpMsgBuf, unsigned int dwLen,
                                           void* lpUserValue);
typedef void (*CVAPI_TransBuffer_CallBack)(unsigned int dwUserId, unsigned char* lpBuf,
                                           unsigned int dwLen, void* lpUserValue);
typedef void (*CVAPI_TransBufferEx_CallBack)(unsigned int dwUserId, unsigned char* lpBuf,
                                             unsigned int dwLen, unsigned int wParam,
                                             unsigned int lParam, unsigned int dwTaskId,
                                             void* lpUserValue);
typedef void (*CVAPI_VideoCallEvent_CallBack)(unsigned int dwEventType, unsigned int dwUserId,
                                              unsigned int dwErrorCode, unsigned int dwFlags,
                                              unsigned int dwParam, const char* lpUserStr,
                                              void* lpUserValue);
/* CVAPI_SetCallBack type 18 */
typedef void (*CVAPI_ObjectEvent_CallBack)(unsigned int dwObjectType, unsigned int dwObjectId,
                                           unsigned int dwEventType, unsigned int dwParam1,
                                           unsigned int dwParam2, unsigned int dwParam3,
                                           unsigned int dwParam4, const char* lpStrParam,
                                           void* lpUserValue);
/* CVAPI_SetCallBack type 21 */
typedef void (*CVAPI_RecordEvent_CallBack)(unsigned int dwUserId, unsigned int dwStreamIndex,
                                           const char* lpFileName, unsigned int dwElapse,
                                           unsigned int dwFlags, unsigned int dwParam,
                                           const char* lpUserStr, void* lpUserValue);
/* CVAPI_SetCallBack type 23 */
typedef void (*CVAPI_CoreSDKEvent_CallBack)(unsigned int dwEventType, const char* lpJsonStr,
                                            void* lpUserValue);

/* ---- start-up, options ------------------------------------------------*/
CVAPI_EXPORT int CVAPI_GetSDKVersion(unsigned int* dwMainVer, unsigned int* dwSubVer,
                                     char* lpCompileTime, unsigned int dwBufLen);
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
CVAPI_EXPORT int CVAPI_GetRoomOnlineUsers(unsigned int dwRoomId, unsigned int* lpUserIdArray,
                                          unsigned int* dwUserNum);

/* ---- users ------------------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_GetUserName(unsigned int dwUserId, char* lpUserName, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_GetUserInfo(unsigned int dwUserId, unsigned int dwInfoId, char* lpInfoValue,
                                   unsigned int dwLen);
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
CVAPI_EXPORT int CVAPI_ObjectGetIdList(unsigned int dwObjectType, unsigned int* lpIdArray,
                                       unsigned int* dwIdNum);
CVAPI_EXPORT int CVAPI_ObjectGetValue(unsigned int dwObjectType, unsigned int dwObjectId,
                                      unsigned int dwInfoName, void* lpInfoValue, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_ObjectSetValue(unsigned int dwObjectType, unsigned int dwObjectId,
                                      unsigned int dwInfoName, const void* lpInfoValue, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_ObjectControl(unsigned int dwObjectType, unsigned int dwObjectId,
                                     unsigned int dwCtrlCode, unsigned int dwParam1, unsigned int dwParam2,
                                     unsigned int dwParam3, unsigned int dwParam4, const char* lpStrParam);

/* ---- text and buffers --------------------------------------------------------*/
CVAPI_EXPORT int CVAPI_SendTextMessage(unsigned int dwUserId, int bSecret, const char* lpMsgBuf,
                                       unsigned int dwLen);
CVAPI_EXPORT int CVAPI_TransBuffer(unsigned int dwUserId, const void* lpBuf, unsigned int dwLen);
CVAPI_EXPORT int CVAPI_TransBufferEx(unsigned int dwUserId, const void* lpBuf, unsigned int dwLen,
                                     unsigned int wParam, unsigned int lParam, unsigned int dwFlags,
                                     unsigned int* dwTaskId);

/* ---- media input (the local user's own audio and video) -------------------*/
CVAPI_EXPORT int CVAPI_SetInputVideoFormatEx(unsigned int dwStreamIndex, unsigned int dwCodecId,
                                             unsigned int dwColorSpace, unsigned int dwWidth,
                                             unsigned int dwHeight, unsigned int dwFps, unsigned int dwFlags);
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
CVAPI_EXPORT int CVAPI_VideoCallControl(unsigned int dwEventType, unsigned int dwUserId,
                                        unsigned int dwErrorCode, unsigned int dwFlags,
                                        unsigned int dwParam, const char* lpUserStr);

#ifdef __cplusplus
}
#endif

/*
 * CONVENTIONS OF THIS STAND-IN
 * ============================
 *
 * Environment (read by CVAPI_InitSDK; QG_SDK_LOG and QG_SDK_JOURNAL at
 * every write):
 *   QG_SDK_LOG       file that option 135 appends to, one line per call
 *                    (the text up to its NUL or length, then "\n").
 *   QG_SDK_JOURNAL   file that gets one line per CVAPI_ call, flushed at once.
 *   QG_SDK_SCENARIO  scenario file (format below); unset: built-in default.
 *   QG_SDK_CONTROL   path of a FIFO that CVAPI_InitSDK creates (if absent)
 *                    and reads event lines from (format below) until
 *                    CVAPI_Release, which removes a FIFO it created.
 *
 * Threads: every callback is called on the SDK's one event thread, from a
 * queue, never from inside a CVAPI_ call; an outcome is queued a couple of
 * milliseconds after the call that caused it, in call order.
 * CVAPI_Release stops that thread (pending events are dropped), drops every
 * callback and returns the SDK to its state before CVAPI_InitSDK; called
 * from inside a callback it does nothing and returns CV_ERR_FAILED.  Every
 * call but CVAPI_GetSDKVersion, CVAPI_ActiveCallLog, CVAPI_InitSDK,
 * CVAPI_Release and the callback registrations returns CV_ERR_NOTINIT
 * before CVAPI_InitSDK.
 *
 * Outcomes:
 *   CVAPI_Connect      returns 0; then 1225 (1, 0), or (0, code) when the
 *                      scenario says "fail connect <code>".
 *   CVAPI_Login/Ex     returns 0; after a failed connect nothing follows,
 *                      else 1226 (selfid, 0), or (selfid, code) on
 *                      "fail login <code>".  LoginEx uses its dwUserId as
 *                      the own id when it is neither 0 nor -1.  The own
 *                      name is the login user name (LoginEx: nick name).
 *                      Both return CV_ERR_NOTCONNECT without CVAPI_Connect.
 *   CVAPI_EnterRoom/Ex CV_ERR_NOTLOGIN when not logged in; else 0, then
 *                      1227 (room, 0) and 1231 (count of other users, room),
 *                      or only 1227 (room, code) on "fail enterroom <code>".
 *                      EnterRoomEx takes the room id of a scenario room of
 *                      that name, a decimal name as the id, else room 1.
 *   CVAPI_Logout, CVAPI_LeaveRoom  return 0, no message.
 *   CVAPI_TransBufferEx  returns task ids 1, 2, 3...
 *   CVAPI_SDKControl   writes {"ctrlcode":<code>,"errorcode":0} (cut to fit).
 *   CVAPI_GetSDKOption copies what was set (at most optLen bytes, a text is
 *                      NUL-terminated when there is room); CV_ERR_NOOPTION
 *                      for an option never set.  Option 135 is not stored.
 *   CVAPI_QueryUserState  info 15 only (4-byte int device type); others
 *                      CV_ERR_NOINFO.  CVAPI_GetUserInfo: info 2 only.
 *   CVAPI_ObjectGetValue  returns what CVAPI_ObjectSetValue or the scenario
 *                      stored (ints 4 bytes); CV_ERR_NOOBJECT otherwise,
 *                      leaving the buffer untouched.
 *   Unknown users give CV_ERR_NOUSER; buffers are left untouched then.
 *   Room lists never hold the own user.  Users stay known (name, states)
 *   after they leave a room.  Other calls are recorded and return 0.
 *
 * Journal line: the function name, then each argument in order, separated
 * by one space, then " = <result>".  ints signed decimal (-1 for all bits
 * set); texts in double quotes with \\ \" \n \r \t and \xHH for other bytes
 * below 0x20 (bytes of 0x80 and up as they are), a null text as null;
 * data buffers as <length>:<hex of at most the first 16 bytes>; output
 * buffers as out (null when null); count pointers as the count on entry
 * (null when null); callback functions, user values and hWnd as set or
 * null.  Option and object values: "int <v>" when the length is 4 and
 * some byte is not printable, else "text <quoted>".  Example:
 *   CVAPI_Connect "127.0.0.1" 8906 = 0
 *   CVAPI_SetSDKOption 221 int 1 = 0
 *   CVAPI_GetRoomOnlineUsers 5 null 0 = 0
 *   CVAPI_GetUserName 2001 out 256 = 0
 *
 * Scenario file: text, one directive per line, '#' starts a comment.
 * Texts are written as hex bytes (GB2312 for names), "-" for empty.
 *   selfid <id>                    own user id after login (default 1001)
 *   room <id> [<name-hex>]         following user lines belong to room <id>
 *   room *                         following user lines: any room not listed
 *   user <id> [name=<hex>] [camera=<n>] [speak=<n>] [device=<n>] [info=<hex>]
 *                                  a user in the current room section
 *                                  (defaults: name "user<id>", states 0,
 *                                  device 0, info empty)
 *   object <type> <id>             an object listed by CVAPI_ObjectGetIdList
 *   objvalue <type> <id> <info> int <n> | text <hex>
 *   option <n> int <v> | text <hex>  an option preset
 *   fail connect|login|enterroom <code> [<times>]
 *                                  the outcome message carries <code>
 *                                  (every time, or the next <times> times)
 *   return <CVAPI_name> <code> [<times>]
 *                                  that call returns <code> and does
 *                                  nothing else, e.g. a refused server
 *                                  password: return CVAPI_SetServerAuthPass 20
 * Lines that do not parse are reported to stderr and the SDK log
 * ("scenario: line N: ..."), skipped, and CVAPI_InitSDK returns
 * CV_ERR_SCENARIO (the SDK still runs with the lines that parsed).
 * Built-in default (no QG_SDK_SCENARIO):
 *   selfid 1001
 *   room *
 *   user 2001 name=d5c5c8fd camera=2 speak=1 device=1     (GB2312 two-character name)
 *   user 2002 name=6775657374 camera=0 speak=0 device=0   ("guest")
 *
 * Control FIFO: one event per line, a line at most 1 MiB.  The scenario
 * directives selfid, object, objvalue, option, fail and return are
 * accepted too and change the running state; "user <id> ..." (without
 * enter/leave) defines or updates a user without moving it; "room" is not
 * accepted.  Texts and data as hex, "-" for empty.
 *   notify <msg> <wParam> <lParam>       a raw notify message
 *   user enter <id> [name=..] [camera=..] [speak=..] [device=..] [info=..]
 *                                        joins the current room; 1229 (id, 1)
 *   user leave <id>                      leaves it; 1229 (id, 0)
 *   camera <id> <state>                  stores the state; 1235 (id, state)
 *   speak <id> <state>                   stores the state; 1228 (id, state)
 *   text <from> <to> <secret> <hex>      text message callback
 *   buffer <from> <hex>                  transparent buffer callback
 *   bufferex <from> <hex> <wParam> <lParam> <taskid>
 *   video <userid> <width> <height> <timestamp> <rotation> <hex>
 *                                        video callback, stream 0, codec 0
 *   audio <userid> <channels> <rate> <bits> <timestamp> <hex>
 *   videocall <event> <userid> <error> <flags> <param> <hex>
 *   object <type> <id> <event> <p1> <p2> <p3> <p4> [<hex>]
 *                                        object event callback ("object
 *                                        <type> <id>" alone is the
 *                                        scenario directive)
 *   record <userid> <stream> <file-hex> <elapse> <flags> <param> [<hex>]
 *   event <type> <json-hex>              JSON event callback (type 23)
 * Bad lines are reported to the SDK log as "control: bad line: <line>"
 * and dropped.  Ids may be written as -1.  Texts and data handed to a
 * callback are valid during the call and followed by a NUL byte.
 */

#endif /* CVAPI_H */

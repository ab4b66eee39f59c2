// Small types every part of the stand-in media library shares.
#ifndef QG_RTC_TYPES_H
#define QG_RTC_TYPES_H

#include "quillgate/webrtc/cvrtc_api.h"

namespace rtcstub {

// A peer's five callbacks and their user value, as given at creation.
struct Callbacks {
    CVRTC_AudioData_CallBack audio = nullptr;
    CVRTC_VideoData_CallBack video = nullptr;
    CVRTC_DataChnl_CallBack data = nullptr;
    CVRTC_Event_CallBack event = nullptr;
    CVRTC_Info_CallBack info = nullptr;
    void* user = nullptr;
};

enum Medium { kAudio = 0, kVideo = 1, kData = 2 };
// "audio", "video" or "data".
const char* MediumName(int medium);

}  // namespace rtcstub

#endif

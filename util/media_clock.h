// The clock of the media paths: every tick and pause of the data-channel
// reassembly and the demuxer's pacing goes through here, so tests can put
// a fake clock in its place and step the millisecond rules exactly.
#ifndef QG_UTIL_MEDIA_CLOCK_H
#define QG_UTIL_MEDIA_CLOCK_H

#include <stdint.h>

struct MediaClock {
    uint32_t (*now)();             // milliseconds, wrapping like GetTickCount
    void (*sleepMs)(uint32_t ms);  // a pause of the calling thread
};

// Null restores the real clock (GetTickCount and usleep).
void SetMediaClock(const MediaClock* clock);
uint32_t MediaClockNow();
void MediaClockSleep(uint32_t ms);

#endif

#include "util/media_clock.h"

#include <atomic>
#include <unistd.h>

#include "util/win32_shims.h"

namespace {

uint32_t RealNow()
{
    return GetTickCount();
}

void RealSleep(uint32_t ms)
{
    usleep(static_cast<useconds_t>(ms) * 1000);
}

const MediaClock kRealClock = {&RealNow, &RealSleep};
std::atomic<const MediaClock*> g_clock{&kRealClock};

}  // namespace

void SetMediaClock(const MediaClock* clock)
{
    g_clock = clock ? clock : &kRealClock;
}

uint32_t MediaClockNow()
{
    return g_clock.load()->now();
}

void MediaClockSleep(uint32_t ms)
{
    g_clock.load()->sleepMs(ms);
}

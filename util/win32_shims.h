// Windows API and runtime names the daemon's code calls, with Linux behaviour.
#ifndef QG_UTIL_WIN32_SHIMS_H
#define QG_UTIL_WIN32_SHIMS_H

#include <pthread.h>
#include <stdint.h>
#include <time.h>

// Calendar time broken into eight u16 fields (Windows layout).
struct _SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;  // 0 = Sunday
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// A duration or point in time: seconds and milliseconds.
struct cv_time_val {
    int64_t sec;
    int64_t msec;
};

typedef void* HMODULE;

// Milliseconds of the monotonic clock, wrapping modulo 2^32; take
// differences as (int32_t)(later - earlier).
uint32_t GetTickCount();

// Magnitude of the signed 32-bit difference between two GetTickCount
// values: how far apart they are, whichever came first. Unsigned, so the
// difference of 2^31 has one too.
inline uint32_t TickDistance(uint32_t now, uint32_t then)
{
    const int32_t d = static_cast<int32_t>(now - then);
    return d < 0 ? 0u - static_cast<uint32_t>(d) : static_cast<uint32_t>(d);
}

// The calling thread's errno.
int WSAGetLastError();

void GetSystemTime(_SYSTEMTIME* out);  // UTC
void GetLocalTime(_SYSTEMTIME* out);   // local time zone

// Always null.
HMODULE GetModuleHandle(const char* module);

// Full path of the running program into out (room: size bytes, terminator
// included). 0 when found; -1 when not found or when it does not fit, with
// out[0] = 0 then. module is not used.
int GetModuleFileName(const char* module, char* out, int size);

// ASCII case change in place; size is not used.
char* _strupr_s(char* text, int size);
char* _strlwr_s(char* text, int size);

// Decimal value followed by a newline, at most size bytes with terminator.
char* _i64toa(long value, char* out, int size);

void cv_time_val_normalize(cv_time_val* t);
int cv_gettimeofday(cv_time_val* t);  // wall clock; always 0

// Timed wait on cond (mutex held by the caller) for msec ms from now
// (negative counts as 0); returns pthread_cond_timedwait's result.
int cv_thread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, int msec);

// Pieces of the above that take the clock reading as an argument.
namespace qg_shims {
void BreakDownTime(int64_t sec, long usec, bool local, _SYSTEMTIME* out);
timespec DeadlineAfter(int64_t nowSec, long nowUsec, int msec);
}  // namespace qg_shims

#endif

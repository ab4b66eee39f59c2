#include "util/win32_shims.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <unistd.h>

uint32_t GetTickCount()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(ts.tv_sec) * 1000u + static_cast<uint32_t>(ts.tv_nsec / 1000000);
}

int WSAGetLastError()
{
    return errno;
}

namespace qg_shims {

void BreakDownTime(int64_t sec, long usec, bool local, _SYSTEMTIME* out)
{
    time_t t = static_cast<time_t>(sec);
    tm parts;
    memset(&parts, 0, sizeof(parts));
    if (local)
        localtime_r(&t, &parts);
    else
        gmtime_r(&t, &parts);
    out->wYear = static_cast<uint16_t>(parts.tm_year + 1900);
    out->wMonth = static_cast<uint16_t>(parts.tm_mon + 1);
    out->wDayOfWeek = static_cast<uint16_t>(parts.tm_wday);
    out->wDay = static_cast<uint16_t>(parts.tm_mday);
    out->wHour = static_cast<uint16_t>(parts.tm_hour);
    out->wMinute = static_cast<uint16_t>(parts.tm_min);
    out->wSecond = static_cast<uint16_t>(parts.tm_sec);
    out->wMilliseconds = static_cast<uint16_t>(usec / 1000);
}

timespec DeadlineAfter(int64_t nowSec, long nowUsec, int msec)
{
    // A negative wait would give a negative nanosecond part, which the
    // POSIX wait refuses; it means "do not wait".
    if (msec < 0)
        msec = 0;
    int64_t q = msec / 1000;
    int64_t r = msec - q * 1000;
    int64_t n = r * 1000000 + static_cast<int64_t>(nowUsec) * 1000;
    int64_t carry = n / 1000000000;
    timespec deadline;
    deadline.tv_sec = static_cast<time_t>(nowSec + q + carry);
    deadline.tv_nsec = static_cast<long>(n - carry * 1000000000);
    return deadline;
}

}  // namespace qg_shims

// Seconds and milliseconds come from one reading, so a second boundary
// between two readings cannot pair the old second with new milliseconds.
static void NowBrokenDown(bool local, _SYSTEMTIME* out)
{
    if (!out)
        return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    qg_shims::BreakDownTime(tv.tv_sec, tv.tv_usec, local, out);
}

void GetSystemTime(_SYSTEMTIME* out)
{
    NowBrokenDown(false, out);
}

void GetLocalTime(_SYSTEMTIME* out)
{
    NowBrokenDown(true, out);
}

HMODULE GetModuleHandle(const char*)
{
    return nullptr;
}

// An address inside this program's own code; the r-xp mapping that holds
// it is the program file (the code is linked in statically).
static int ModuleAnchor()
{
    return 0;
}

int GetModuleFileName(const char*, char* out, int size)
{
    int result = -1;
    bool fits = out && size > 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (maps && fits) {
        uintptr_t anchor = reinterpret_cast<uintptr_t>(&ModuleAnchor);
        char* line = nullptr;
        size_t cap = 0;
        // Whole lines, however long the path.
        while (getline(&line, &cap, maps) > 0) {
            if (!strstr(line, " r-xp "))
                continue;
            char* path = strchr(line, '/');
            if (!path)
                continue;
            unsigned long start = 0, end = 0;
            if (sscanf(line, "%lx-%lx ", &start, &end) != 2)
                continue;
            if (anchor < start || anchor >= end)
                continue;
            char* nl = strrchr(path, '\n');
            if (nl)
                *nl = '\0';
            size_t len = strlen(path);
            if (len < static_cast<size_t>(size)) {
                memcpy(out, path, len + 1);
                result = 0;
            } else {
                out[0] = '\0';
            }
        }
        free(line);
    }
    if (maps)
        fclose(maps);
    if (!fits || out[0] == '\0') {
        static const char msg[] = "GetModuleFileName error!\r\n";
        ssize_t ignored = write(STDERR_FILENO, msg, sizeof(msg) - 1);
        (void)ignored;
    }
    return result;
}

char* _strupr_s(char* text, int)
{
    if (!text)
        return text;
    for (char* p = text; *p; ++p)
        *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    return text;
}

char* _strlwr_s(char* text, int)
{
    if (!text)
        return text;
    for (char* p = text; *p; ++p)
        *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return text;
}

char* _i64toa(long value, char* out, int size)
{
    if (out && size > 0)
        snprintf(out, static_cast<size_t>(size), "%ld\n", value);
    return out;
}

void cv_time_val_normalize(cv_time_val* t)
{
    if (!t)
        return;
    if (t->msec >= 1000) {
        t->sec += t->msec / 1000;
        t->msec %= 1000;
    } else if (t->msec <= -1000) {
        // Truncating division: msec ends in -999..0, as whole-second steps would.
        t->sec += t->msec / 1000;
        t->msec %= 1000;
    }
    if (t->sec >= 1 && t->msec < 0) {
        t->sec -= 1;
        t->msec += 1000;
    } else if (t->sec < 0 && t->msec > 0) {
        t->sec += 1;
        t->msec -= 1000;
    }
}

int cv_gettimeofday(cv_time_val* t)
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    if (t) {
        t->sec = tv.tv_sec;
        t->msec = tv.tv_usec / 1000;
    }
    return 0;
}

int cv_thread_cond_timedwait(pthread_cond_t* cond, pthread_mutex_t* mutex, int msec)
{
    timeval now;
    gettimeofday(&now, nullptr);
    timespec deadline = qg_shims::DeadlineAfter(now.tv_sec, now.tv_usec, msec);
    return pthread_cond_timedwait(cond, mutex, &deadline);
}

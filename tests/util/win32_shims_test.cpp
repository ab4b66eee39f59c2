#include "util/win32_shims.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

std::string OwnExecutable()
{
    char buf[PATH_MAX] = {0};
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

int64_t Millis(const timeval& tv)
{
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// Sets TZ for one test and puts the old value back.
class ScopedTz
{
public:
    explicit ScopedTz(const char* tz)
    {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz()
    {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(TickCount, FollowsTheMonotonicClock)
{
    for (int i = 0; i < 1000; ++i) {
        timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        uint32_t tick = GetTickCount();
        clock_gettime(CLOCK_MONOTONIC, &b);
        uint32_t lo = static_cast<uint32_t>(a.tv_sec) * 1000u + static_cast<uint32_t>(a.tv_nsec / 1000000);
        uint32_t hi = static_cast<uint32_t>(b.tv_sec) * 1000u + static_cast<uint32_t>(b.tv_nsec / 1000000);
        // Modular comparison, so a wrap between the readings still passes.
        ASSERT_LE(tick - lo, hi - lo);
    }
}

TEST(SystemTime, BreakDownTable)
{
    ScopedTz tz("CST-8");  // UTC+8, no tz database needed
    struct Case {
        int64_t sec;
        long usec;
        bool local;
        _SYSTEMTIME want;
    };
    const Case cases[] = {
        // 2019-12-31 23:59:59.250 UTC, a Tuesday
        {1577836799, 250000, false, {2019, 12, 2, 31, 23, 59, 59, 250}},
        // the same local time at UTC+8
        {1577807999, 250999, true, {2019, 12, 2, 31, 23, 59, 59, 250}},
        {0, 999999, false, {1970, 1, 4, 1, 0, 0, 0, 999}},
        {951782400, 0, false, {2000, 2, 2, 29, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        _SYSTEMTIME got;
        memset(&got, 0xAB, sizeof(got));
        qg_shims::BreakDownTime(c.sec, c.usec, c.local, &got);
        EXPECT_EQ(0, memcmp(&got, &c.want, sizeof(got)))
            << "sec " << c.sec << " local " << c.local << ": " << got.wYear << "-" << got.wMonth << "-" << got.wDay
            << " dow " << got.wDayOfWeek << " " << got.wHour << ":" << got.wMinute << ":" << got.wSecond << "."
            << got.wMilliseconds;
    }
    static_assert(sizeof(_SYSTEMTIME) == 16, "eight u16 fields and nothing else");
}

// Seconds and milliseconds must come from one clock reading: across a second
// boundary, a second reading for the milliseconds would put the result up to
// a second before the moment of the call.
TEST(SystemTime, OneReadingAcrossSecondBoundaries)
{
    ScopedTz tz("UTC");
    timeval start;
    gettimeofday(&start, nullptr);
    int boundaries = 0;
    time_t lastSec = start.tv_sec;
    for (long i = 0; i < 50000000 && boundaries < 2; ++i) {
        timeval before, after;
        _SYSTEMTIME sys, loc;
        gettimeofday(&before, nullptr);
        GetSystemTime(&sys);
        GetLocalTime(&loc);
        gettimeofday(&after, nullptr);
        for (const _SYSTEMTIME* st : {&sys, &loc}) {
            tm parts;
            memset(&parts, 0, sizeof(parts));
            parts.tm_year = st->wYear - 1900;
            parts.tm_mon = st->wMonth - 1;
            parts.tm_mday = st->wDay;
            parts.tm_hour = st->wHour;
            parts.tm_min = st->wMinute;
            parts.tm_sec = st->wSecond;
            int64_t ms = static_cast<int64_t>(timegm(&parts)) * 1000 + st->wMilliseconds;
            ASSERT_GE(ms, Millis(before));
            ASSERT_LE(ms, Millis(after));
        }
        if (after.tv_sec != lastSec) {
            lastSec = after.tv_sec;
            ++boundaries;
        }
        if (after.tv_sec - start.tv_sec > 3)
            break;
    }
    EXPECT_GE(boundaries, 1);
}

TEST(ModuleFileName, FitsAndDoesNotFit)
{
    const std::string exe = OwnExecutable();
    ASSERT_FALSE(exe.empty());

    char out[PATH_MAX + 1] = {0};
    EXPECT_EQ(0, GetModuleFileName(nullptr, out, sizeof(out)));
    EXPECT_EQ(exe, out);

    // Exactly enough room for the terminator.
    const int exact = static_cast<int>(exe.size()) + 1;
    memset(out, 0, sizeof(out));
    EXPECT_EQ(0, GetModuleFileName(nullptr, out, exact));
    EXPECT_EQ(exe, out);

    // One byte short: nothing is copied, the error text goes to stderr once.
    memset(out, 'x', sizeof(out));
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, GetModuleFileName(nullptr, out, exact - 1));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ('\0', out[0]);
    EXPECT_EQ('x', out[1]);
    EXPECT_EQ("GetModuleFileName error!\r\n", err);

    EXPECT_EQ(-1, GetModuleFileName(nullptr, out, 0));
    EXPECT_EQ(nullptr, GetModuleHandle("anything"));
}

TEST(CaseChange, OnlyAsciiLetters)
{
    char upper[] = "ab1-Z\xc3\xa9";
    EXPECT_EQ(upper, _strupr_s(upper, 0));
    EXPECT_STREQ("AB1-Z\xc3\xa9", upper);

    char lower[] = "AB1-z\xc3\x89Q";
    EXPECT_EQ(lower, _strlwr_s(lower, 0));
    EXPECT_STREQ("ab1-z\xc3\x89q", lower);

    EXPECT_EQ(nullptr, _strlwr_s(nullptr, 0));
}

TEST(I64toa, DecimalWithNewlineWithinSize)
{
    struct Case {
        long value;
        int size;
        const char* want;
    };
    const Case cases[] = {
        {-42, 16, "-42\n"},
        {-42, 3, "-4"},
        {0, 2, "0"},
        {LONG_MIN, 32, "-9223372036854775808\n"},
    };
    for (const Case& c : cases) {
        char out[32];
        memset(out, 'z', sizeof(out));
        EXPECT_EQ(out, _i64toa(c.value, out, c.size));
        EXPECT_STREQ(c.want, out) << c.value << " size " << c.size;
    }
    char untouched[4] = "abc";
    _i64toa(7, untouched, 0);
    EXPECT_STREQ("abc", untouched);
}

TEST(TimeVal, NormalizeTable)
{
    struct Case {
        cv_time_val in, want;
    };
    const Case cases[] = {
        {{0, 1500}, {1, 500}},   {{0, -1500}, {-1, -500}},
        {{1, -1}, {0, 999}},     {{-2, 500}, {-1, -500}},
        {{2, -2500}, {0, -500}}, {{0, -999}, {0, -999}},
        {{0, 999}, {0, 999}},    {{5, 2000}, {7, 0}},
        {{3, -3000}, {0, 0}},    {{0, -1000000000000}, {-1000000000, 0}},
    };
    for (const Case& c : cases) {
        cv_time_val t = c.in;
        cv_time_val_normalize(&t);
        EXPECT_EQ(c.want.sec, t.sec) << c.in.sec << "," << c.in.msec;
        EXPECT_EQ(c.want.msec, t.msec) << c.in.sec << "," << c.in.msec;
    }
}

TEST(TimeVal, GetTimeOfDay)
{
    timeval before, after;
    cv_time_val t = {-1, -1};
    gettimeofday(&before, nullptr);
    EXPECT_EQ(0, cv_gettimeofday(&t));
    gettimeofday(&after, nullptr);
    int64_t ms = t.sec * 1000 + t.msec;
    EXPECT_GE(ms, Millis(before));
    EXPECT_LE(ms, Millis(after));
    EXPECT_GE(t.msec, 0);
    EXPECT_LE(t.msec, 999);
}

TEST(CondTimedWait, DeadlineTable)
{
    struct Case {
        long usec;
        int msec;
        int64_t addSec;
        long nsec;
    };
    const Case cases[] = {
        {600000, 1500, 2, 100000000},
        {0, 0, 0, 0},
        {999999, 999, 1, 998999000},
        {250000, 10000, 10, 250000000},
        {500000, -999, 0, 500000000},  // negative: no wait
        {0, -1, 0, 0},
    };
    const int64_t x = 1600000000;
    for (const Case& c : cases) {
        timespec d = qg_shims::DeadlineAfter(x, c.usec, c.msec);
        EXPECT_EQ(x + c.addSec, d.tv_sec) << c.usec << " " << c.msec;
        EXPECT_EQ(c.nsec, d.tv_nsec) << c.usec << " " << c.msec;
    }
}

namespace {

struct WaitFixture {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    bool flag = false;
};

void* Signaller(void* arg)
{
    WaitFixture* w = static_cast<WaitFixture*>(arg);
    pthread_mutex_lock(&w->mutex);
    w->flag = true;
    pthread_cond_signal(&w->cond);
    pthread_mutex_unlock(&w->mutex);
    return nullptr;
}

}  // namespace

TEST(CondTimedWait, TimesOutOrIsSignalled)
{
    WaitFixture w;
    pthread_mutex_lock(&w.mutex);
    EXPECT_EQ(ETIMEDOUT, cv_thread_cond_timedwait(&w.cond, &w.mutex, 0));
    // A negative wait would be refused (EINVAL) if it reached the POSIX wait.
    EXPECT_EQ(ETIMEDOUT, cv_thread_cond_timedwait(&w.cond, &w.mutex, -999));
    EXPECT_EQ(ETIMEDOUT, cv_thread_cond_timedwait(&w.cond, &w.mutex, -5000));
    EXPECT_EQ(ETIMEDOUT, cv_thread_cond_timedwait(&w.cond, &w.mutex, 20));

    pthread_t t;
    ASSERT_EQ(0, pthread_create(&t, nullptr, Signaller, &w));
    int rc = 0;
    for (int i = 0; i < 10 && !w.flag; ++i)
        rc = cv_thread_cond_timedwait(&w.cond, &w.mutex, 2000);
    EXPECT_TRUE(w.flag);
    EXPECT_TRUE(rc == 0 || rc == ETIMEDOUT);
    pthread_mutex_unlock(&w.mutex);
    pthread_join(t, nullptr);
}

TEST(LastError, IsErrno)
{
    errno = EADDRINUSE;
    EXPECT_EQ(EADDRINUSE, WSAGetLastError());
}

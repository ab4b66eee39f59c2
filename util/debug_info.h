// Leveled log: printf-style lines filtered by level, written to a dated log
// file (named by day and number, rotated on size and on a new day, old files
// pruned), always echoed to standard output and offered to an optional
// callback; lines the callback does not take may be cached and saved later.
#ifndef QG_UTIL_DEBUG_INFO_H
#define QG_UTIL_DEBUG_INFO_H

#include "util/win32_shims.h"

#include <cstdarg>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

enum {
    QG_LOG_VERBOSE = 1,
    QG_LOG_DEBUG = 2,
    QG_LOG_INFO = 4,
    QG_LOG_WARN = 8,
    QG_LOG_ERROR = 16,
};

// (level, seconds since the epoch, milliseconds, text, callbackUser);
// 0 means the callback took the line.
typedef uint32_t (*LogCallback)(uint32_t level, uint32_t time, uint32_t milliseconds, const char* text,
                                long callbackUser);

struct LogCacheEntry {
    uint32_t time;
    uint32_t milliseconds;
    uint32_t level;
    std::string text;
};

class CDebugInfo
{
public:
    CDebugInfo();
    virtual ~CDebugInfo();

    void Verbose(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Warn(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogDebugInfo(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogDebugInfo(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    void WriteLogMessage(uint32_t level, const char* text);

    // A fixed log file (cut to 255 characters), optionally removed first;
    // the cached lines are appended to it.
    void SetOutputFile(const char* path, long removeFirst);
    // Automatic files in dir (ending with '/') named prefix_YYYYMMDD[_NNN].log,
    // chosen at the next line and rotated on size; returns MakeSureDirectory's result.
    int SetOutputFileEx(const char* dir, const char* prefix);
    // Chooses, prunes to keepCount and opens a dated file at once; dirMode
    // 0: dir, 1: dir/YYYY-MM/YYYY-MM-DD/, 2: dir/YYYY-MM-DD/.
    void SetOutputFileEx(const char* dir, const char* prefix, uint32_t keepCount, uint32_t dirMode);
    // Chooses the next file name into out (at most outSize bytes with the NUL); returns 0.
    int FetchNewFileName(_SYSTEMTIME now, char* out, uint32_t outSize);
    // true when log file name a is older than b.
    static bool SortByLogFileName(const std::string& a, const std::string& b);
    // Full paths of the .log files of the given day beside a file chosen with
    // dirMode 1; their count, or -1 when the current path is not of that form.
    int GetLogFileList(uint32_t year, uint32_t month, uint32_t day, std::vector<std::string>& names);
    void CacheLogInfo(uint32_t level, uint32_t time, uint32_t milliseconds, const char* text);
    void SaveCacheLog2File(const char* path);
    void Release();
    // Replaces the file name of the current path (all of it when it holds no '/').
    char* ChangeLogFileName(const char* name);
    void SetLogFlags(uint32_t flags);
    void EnableLogTime(long on);
    void SetFileMaxStorage(uint32_t megabytes);
    static char Level2Char(uint32_t level);

    // Set by the owner directly; the class has no operation for them.
    long enabled;
    long writeFile;
    LogCallback callback;
    long callbackUser;
    long cacheOn;
    uint32_t minLevel;

protected:
    void WriteLevel(uint32_t level, const char* format, va_list args);

    std::mutex lock;
    long logTime;
    char path[256];
    std::list<LogCacheEntry> cache;
    uint32_t flags;  // bit 0: new file when the date changes
    long fileMode;   // 1: automatic naming and rotation on size
    uint32_t maxFileSize;
    char dir[256];
    char prefix[100];
    uint32_t fileSize;
    _SYSTEMTIME lastTime;
};

// The process-wide log: console only. Never log through it from a static
// initialiser: it may not be built yet.
extern CDebugInfo g_DebugInfo;

#endif

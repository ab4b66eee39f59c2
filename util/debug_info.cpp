#include "util/debug_info.h"

#include "util/file_utils.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

CDebugInfo g_DebugInfo;

namespace {

const uint32_t kDefaultMaxFileSize = 52428800;  // 50 MiB
const size_t kCacheLimit = 1000;
const size_t kCacheDrop = 11;
const char kLevelChars[] = "VDIIIIIWIIIIIIIE";  // index: level - 1

const char kFileLineFormat[] = "[%04d-%02d-%02d %02d:%02d:%02d(%03d)][%c]\t%s\r\n";
const char kConsoleLineFormat[] = "%02d:%02d:%02d(%d)\t%s\r\n";
const char kPlainNameFormat[] = "%s%s_%04d%02d%02d.log";
const char kNumberedNameFormat[] = "%s%s_%04d%02d%02d_%03d.log";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return text;
}

// Copies text into a fixed field, cut to size - 1 characters.
void CopyField(char* field, size_t size, const char* text)
{
    snprintf(field, size, "%s", text != nullptr ? text : "");
}

// Date and number of a log file name, read from its end
// ("..._YYYYMMDD.log" or "..._YYYYMMDD_NNN.log"), so that a prefix may hold
// '_' itself. Fields that do not parse count as 0.
struct LogNameInfo {
    int year = 0;
    int month = 0;
    int day = 0;
    int number = 0;
};

bool AllDigits(const std::string& text, size_t minLen, size_t maxLen)
{
    if (text.size() < minLen || text.size() > maxLen)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ReadDate(const std::string& digits, LogNameInfo* info)
{
    if (!AllDigits(digits, 8, 8))
        return false;
    info->year = atoi(digits.substr(0, 4).c_str());
    info->month = atoi(digits.substr(4, 2).c_str());
    info->day = atoi(digits.substr(6, 2).c_str());
    return true;
}

LogNameInfo ParseLogName(const std::string& name)
{
    LogNameInfo info;
    std::string stem = name;
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".log") == 0)
        stem.resize(stem.size() - 4);
    size_t last = stem.rfind('_');
    if (last == std::string::npos)
        return info;
    std::string tail = stem.substr(last + 1);
    if (ReadDate(tail, &info))
        return info;
    if (!AllDigits(tail, 1, 9) || last == 0)
        return info;
    size_t before = stem.rfind('_', last - 1);
    if (before == std::string::npos)
        return info;
    if (ReadDate(stem.substr(before + 1, last - before - 1), &info))
        info.number = atoi(tail.c_str());
    return info;
}

bool IsDate(const LogNameInfo& info, const _SYSTEMTIME& t)
{
    return info.year == t.wYear && info.month == t.wMonth && info.day == t.wDay;
}

bool SameDay(const _SYSTEMTIME& a, const _SYSTEMTIME& b)
{
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay;
}

time_t LocalMidnight(const LogNameInfo& info)
{
    struct tm t;
    memset(&t, 0, sizeof(t));
    t.tm_year = info.year - 1900;
    t.tm_mon = info.month - 1;
    t.tm_mday = info.day;
    t.tm_isdst = -1;
    return mktime(&t);
}

// The first ".log" of the name stands at its very end.
bool EndsWithFirstLog(const std::string& name)
{
    size_t pos = name.find(".log");
    return pos != std::string::npos && pos + 4 == name.size();
}

bool IsLogFileOf(const std::string& name, const char* prefix)
{
    std::string head = std::string(prefix) + "_";
    return name.compare(0, head.size(), head) == 0 && EndsWithFirstLog(name);
}

// The log files of prefix in folder, oldest first.
std::vector<std::string> ListLogFiles(const std::string& folder, const char* prefix)
{
    std::vector<std::string> all;
    CFileGlobalFunc::EnumFiles(folder.c_str(), all);
    std::vector<std::string> names;
    for (const std::string& name : all) {
        if (IsLogFileOf(name, prefix))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), CDebugInfo::SortByLogFileName);
    return names;
}

std::string PlainName(const char* folder, const char* prefix, const _SYSTEMTIME& t)
{
    return Format(kPlainNameFormat, folder, prefix, t.wYear, t.wMonth, t.wDay);
}

std::string NumberedName(const char* folder, const char* prefix, const _SYSTEMTIME& t, int number)
{
    return Format(kNumberedNameFormat, folder, prefix, t.wYear, t.wMonth, t.wDay, number);
}

int WriteFileLine(FILE* fp, const _SYSTEMTIME& t, char letter, const char* text)
{
    return fprintf(fp, kFileLineFormat, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                   letter, text);
}

}  // namespace

CDebugInfo::CDebugInfo()
    : enabled(1), writeFile(1), callback(nullptr), callbackUser(0), cacheOn(0), minLevel(QG_LOG_INFO), logTime(1),
      flags(0), fileMode(0), maxFileSize(kDefaultMaxFileSize), fileSize(0)
{
    memset(path, 0, sizeof(path));
    memset(dir, 0, sizeof(dir));
    memset(prefix, 0, sizeof(prefix));
    memset(&lastTime, 0, sizeof(lastTime));
}

CDebugInfo::~CDebugInfo()
{}

void CDebugInfo::WriteLevel(uint32_t level, const char* format, va_list args)
{
    if (enabled == 0 || level < minLevel)
        return;
    char text[8192];
    memset(text, 0, sizeof(text));
    vsnprintf(text, sizeof(text), format, args);
    WriteLogMessage(level, text);
}

#define QG_LEVEL_OPERATION(name, level)            \
    void CDebugInfo::name(const char* format, ...) \
    {                                              \
        va_list args;                              \
        va_start(args, format);                    \
        WriteLevel(level, format, args);           \
        va_end(args);                              \
    }

QG_LEVEL_OPERATION(Verbose, QG_LOG_VERBOSE)
QG_LEVEL_OPERATION(Debug, QG_LOG_DEBUG)
QG_LEVEL_OPERATION(Info, QG_LOG_INFO)
QG_LEVEL_OPERATION(Warn, QG_LOG_WARN)
QG_LEVEL_OPERATION(Error, QG_LOG_ERROR)
QG_LEVEL_OPERATION(LogDebugInfo, QG_LOG_INFO)
#undef QG_LEVEL_OPERATION

void CDebugInfo::LogDebugInfo(uint32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteLevel(level, format, args);
    va_end(args);
}

void CDebugInfo::WriteLogMessage(uint32_t level, const char* text)
{
    if (level < minLevel)
        return;
    char letter = Level2Char(level);
    try {
        _SYSTEMTIME now;
        {
            std::lock_guard<std::mutex> guard(lock);
            GetLocalTime(&now);

            bool dateChange = (flags & 1) != 0 && (path[0] == '\0' || (lastTime.wYear != 0 && !SameDay(lastTime, now)));
            if (dateChange || (fileMode == 1 && (fileSize > maxFileSize || path[0] == '\0')))
                FetchNewFileName(now, path, sizeof(path));

            if (path[0] != '\0' && writeFile != 0) {
                FILE* fp = fopen(path, "a+b");
                if (fp != nullptr) {
                    int written = WriteFileLine(fp, now, letter, text);
                    fclose(fp);
                    if (fileMode == 1 && written > 0)
                        fileSize += static_cast<uint32_t>(written);
                }
            }
            lastTime = now;

            // Lines the callback refused earlier go first, oldest first.
            while (!cache.empty() && callback != nullptr) {
                const LogCacheEntry& entry = cache.front();
                if (callback(entry.level, entry.time, entry.milliseconds, entry.text.c_str(), callbackUser) != 0)
                    break;
                cache.pop_front();
            }
        }

        uint32_t seconds = static_cast<uint32_t>(time(nullptr));
        uint32_t answer = 1;
        if (callback != nullptr)
            answer = callback(level, seconds, now.wMilliseconds, text, callbackUser);
        if (answer != 0 && cacheOn != 0)
            CacheLogInfo(level, seconds, now.wMilliseconds, text);

        printf(kConsoleLineFormat, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
    } catch (...) {
    }
}

void CDebugInfo::SetOutputFile(const char* newPath, long removeFirst)
{
    char chosen[sizeof(path)];
    CopyField(chosen, sizeof(chosen), newPath);
    {
        std::lock_guard<std::mutex> guard(lock);
        CopyField(path, sizeof(path), chosen);
    }
    if (removeFirst != 0)
        CFileGlobalFunc::RemoveFile(chosen, 0, 0);
    SaveCacheLog2File(chosen);
}

int CDebugInfo::SetOutputFileEx(const char* newDir, const char* newPrefix)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        CopyField(dir, sizeof(dir), newDir);
        CopyField(prefix, sizeof(prefix), newPrefix);
        fileMode = 1;
    }
    return CFileGlobalFunc::MakeSureDirectory(newDir, 0);
}

void CDebugInfo::SetOutputFileEx(const char* baseDir, const char* filePrefix, uint32_t keepCount, uint32_t dirMode)
{
    _SYSTEMTIME now;
    GetLocalTime(&now);
    std::string folder;
    if (dirMode == 0)
        folder = baseDir;
    else if (dirMode == 1)
        folder = Format("%s%04d-%02d%c%04d-%02d-%02d%c", baseDir, now.wYear, now.wMonth, '/', now.wYear, now.wMonth,
                        now.wDay, '/');
    else if (dirMode == 2)
        folder = Format("%s%04d-%02d-%02d%c", baseDir, now.wYear, now.wMonth, now.wDay, '/');

    std::vector<std::string> names = ListLogFiles(folder, filePrefix);
    if (keepCount != 0 && names.size() >= keepCount) {
        size_t drop = names.size() - keepCount + 1;
        for (size_t i = 0; i < drop; ++i)
            CFileGlobalFunc::RemoveFile((folder + names[i]).c_str(), 0, 0);
    }

    std::string newName = names.empty()
                              ? PlainName(folder.c_str(), filePrefix, now)
                              : NumberedName(folder.c_str(), filePrefix, now, ParseLogName(names.back()).number + 1);
    CFileGlobalFunc::MakeSureDirectory(newName.c_str(), 0);
    SaveCacheLog2File(newName.c_str());
    std::lock_guard<std::mutex> guard(lock);
    CopyField(path, sizeof(path), newName.c_str());
}

int CDebugInfo::FetchNewFileName(_SYSTEMTIME now, char* out, uint32_t outSize)
{
    if (out == nullptr || outSize == 0)
        return 0;
    std::string chosen;
    const char* slash = strrchr(path, '/');
    if (path[0] != '\0' && slash != nullptr && strchr(slash + 1, '_') != nullptr) {
        // Continue the current series: the next number today, else a new day.
        LogNameInfo current = ParseLogName(slash + 1);
        chosen =
            IsDate(current, now) ? NumberedName(dir, prefix, now, current.number + 1) : PlainName(dir, prefix, now);
        CopyField(out, outSize, chosen.c_str());
        fileSize = 0;
        return 0;
    }

    std::vector<std::string> names = ListLogFiles(dir, prefix);
    if (names.empty()) {
        CopyField(out, outSize, PlainName(dir, prefix, now).c_str());
        fileSize = 0;
        return 0;
    }
    std::string newest = std::string(dir) + names.back();
    LogNameInfo info = ParseLogName(names.back());
    bool today = IsDate(info, now);
    bool hasRoom = CFileGlobalFunc::GetFileLength(newest.c_str(), 0) < maxFileSize;
    if (hasRoom && (today || (flags & 1) == 0))
        chosen = newest;
    else if (today)
        chosen = NumberedName(dir, prefix, now, info.number + 1);
    else
        chosen = PlainName(dir, prefix, now);
    CopyField(out, outSize, chosen.c_str());
    if (out[0] != '\0')
        fileSize = CFileGlobalFunc::GetFileLength(out, 0);
    return 0;
}

bool CDebugInfo::SortByLogFileName(const std::string& a, const std::string& b)
{
    if (a.find('_') == std::string::npos || b.find('_') == std::string::npos)
        return false;
    LogNameInfo left = ParseLogName(a);
    LogNameInfo right = ParseLogName(b);
    time_t leftDay = LocalMidnight(left);
    time_t rightDay = LocalMidnight(right);
    if (leftDay != rightDay)
        return leftDay < rightDay;
    return left.number < right.number;
}

int CDebugInfo::GetLogFileList(uint32_t year, uint32_t month, uint32_t day, std::vector<std::string>& names)
{
    std::string base;
    {
        std::lock_guard<std::mutex> guard(lock);
        base = path;
    }
    // base/YYYY-MM/YYYY-MM-DD/file: strip the file, the day and the month folder.
    size_t slash = base.rfind('/');
    if (slash == std::string::npos)
        return -1;
    base.resize(slash);
    int a = 0, b = 0, c = 0;
    slash = base.rfind('/');
    if (slash == std::string::npos || sscanf(base.c_str() + slash + 1, "%d-%d-%d", &a, &b, &c) != 3)
        return -1;
    base.resize(slash);
    slash = base.rfind('/');
    if (slash == std::string::npos || sscanf(base.c_str() + slash + 1, "%d-%d", &a, &b) != 2)
        return -1;
    base.resize(slash);

    std::string folder = base + Format("%c%04u-%02u%c%04u-%02u-%02u%c", '/', year, month, '/', year, month, day, '/');
    std::vector<std::string> all;
    CFileGlobalFunc::EnumFiles(folder.c_str(), all);
    names.clear();
    for (const std::string& name : all) {
        if (EndsWithFirstLog(name))
            names.push_back(folder + name);
    }
    return static_cast<int>(names.size());
}

void CDebugInfo::CacheLogInfo(uint32_t level, uint32_t time, uint32_t milliseconds, const char* text)
{
    try {
        LogCacheEntry entry;
        entry.time = time;
        entry.milliseconds = milliseconds;
        entry.level = level;
        entry.text = text;
        std::lock_guard<std::mutex> guard(lock);
        if (cache.size() > kCacheLimit) {
            for (size_t i = 0; i < kCacheDrop && !cache.empty(); ++i)
                cache.pop_front();
        }
        cache.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        // No memory: the line is not cached.
    }
}

void CDebugInfo::SaveCacheLog2File(const char* target)
{
    if (target == nullptr || target[0] == '\0' || writeFile == 0)
        return;
    FILE* fp = fopen(target, "a+b");
    if (fp == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const LogCacheEntry& entry : cache) {
            _SYSTEMTIME t;
            qg_shims::BreakDownTime(entry.time, static_cast<long>(entry.milliseconds) * 1000, true, &t);
            WriteFileLine(fp, t, Level2Char(entry.level), entry.text.c_str());
        }
    }
    fclose(fp);
}

void CDebugInfo::Release()
{
    std::lock_guard<std::mutex> guard(lock);
    cache.clear();
}

char* CDebugInfo::ChangeLogFileName(const char* name)
{
    std::lock_guard<std::mutex> guard(lock);
    const char* slash = strrchr(path, '/');
    size_t keep = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    CopyField(path + keep, sizeof(path) - keep, name);
    return path;
}

void CDebugInfo::SetLogFlags(uint32_t newFlags)
{
    flags = newFlags;
}

void CDebugInfo::EnableLogTime(long on)
{
    logTime = on;
}

void CDebugInfo::SetFileMaxStorage(uint32_t megabytes)
{
    if (megabytes <= 9)
        maxFileSize = 10485760;
    else if (megabytes >= 501)
        maxFileSize = 524288000;
    else
        maxFileSize = megabytes * 1048576u;
}

char CDebugInfo::Level2Char(uint32_t level)
{
    if (level < 1 || level > 16)
        return 'I';
    return kLevelChars[level - 1];
}

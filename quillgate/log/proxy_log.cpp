#include "quillgate/log/proxy_log.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<ProxyLogSink> g_sink{nullptr};
std::atomic<uint32_t> g_level{4};

}  // namespace

void SetProxyLogSink(ProxyLogSink sink)
{
    g_sink = sink;
}

void SetProxyLogLevel(uint32_t level)
{
    g_level = level;
}

uint32_t GetProxyLogLevel()
{
    return g_level;
}

bool ProxyLogEnabled(uint32_t level)
{
    return level >= g_level.load(std::memory_order_relaxed) && g_sink.load(std::memory_order_relaxed) != nullptr;
}

void ProxyLog(uint32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    ProxyLogV(level, format, args);
    va_end(args);
}

void ProxyLogV(uint32_t level, const char* format, va_list args)
{
    if (level < g_level.load(std::memory_order_relaxed))
        return;
    ProxyLogSink sink = g_sink;
    if (!sink)
        return;
    char line[8192];
    vsnprintf(line, sizeof(line), format, args);
    sink(line);
}

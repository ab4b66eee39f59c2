// The one log road of the session's layers. Lines below the threshold are
// dropped before formatting; kept lines go to the sink, which the session
// points at the SDK's own log. Every layer below the session logs here, so
// none of them needs to know who owns it.
#ifndef QG_LOG_PROXY_LOG_H
#define QG_LOG_PROXY_LOG_H

#include <cstdarg>
#include <stdint.h>

// Receives one formatted line (without the "[proxy] " prefix, which is the
// SDK log's business). May be called from any thread.
typedef void (*ProxyLogSink)(const char* line);

// Null drops every line.
void SetProxyLogSink(ProxyLogSink sink);
// The threshold starts at 4; the browser's "debuglevel" replaces it.
void SetProxyLogLevel(uint32_t level);
uint32_t GetProxyLogLevel();
bool ProxyLogEnabled(uint32_t level);

// One line of at most 8191 characters.
void ProxyLog(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ProxyLogV(uint32_t level, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

#endif

/*
 * demux_module_api.h - the in-memory demuxer as a module of its own
 * (libquillgatedemux.so, beside the program): the only code linked with
 * FFmpeg, opened with dlopen the first time a data-channel stream needs a
 * demuxer unit, so a session that never gets one never loads FFmpeg.
 *
 * The module keeps no state of the process: the log, the media clock and
 * the one demuxer delegate stay in the program, which hands them over in
 * QGDMX_Init before anything else. Every entry point but QGDMX_Init may be
 * called from any thread; one unit is called by one thread at a time.
 */
#ifndef QG_SDKLINK_DEMUX_DEMUX_MODULE_API_H
#define QG_SDKLINK_DEMUX_DEMUX_MODULE_API_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QGDMX_MODULE_FILE "libquillgatedemux.so"
/* Raised whenever this header changes, so a stale module is refused. */
#define QGDMX_INTERFACE_VERSION 1

/* What the program lends the module. Data pointers are valid only during
 * the call; the four reports return 0 when the program's delegate took
 * them, -1 when there is none (nothing was reported). */
typedef struct QgDemuxHost {
    /* one line of the program's log; below its threshold nothing is formatted */
    void (*logV)(uint32_t level, const char* format, va_list args);
    uint32_t (*now)(void);        /* media clock: ms, wrapping like GetTickCount */
    void (*sleepMs)(uint32_t ms); /* a pause of the calling thread */
    int (*videoData)(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t keyFrame);
    int (*audioData)(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t flags);
    int (*videoFormat)(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps);
    int (*audioFormat)(uint32_t codec, uint32_t channels, uint32_t bitsPerSample, uint32_t sampleRate);
} QgDemuxHost;

/* 0, or -1 for another interface version or a host with a member missing.
 * The host must outlive the module. */
int QGDMX_Init(uint32_t version, const QgDemuxHost* host);
/* A unit with its buffers, or null. */
void* QGDMX_Create(void);
/* Stops the unit's thread and frees it; null is ignored. */
void QGDMX_Destroy(void* unit);
/* One chunk of the stream (flags bit 0 starts a new one): 0, or -1 when
 * the chunk could not be taken. */
int QGDMX_InputData(void* unit, const uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif

// The program's side of the in-memory demuxer: the SDK client's holder of
// at most one demuxer unit, the one delegate every unit reports to, and the
// services the program lends the units. The units themselves (FFmpeg) live
// in the demuxer module, opened beside the program the first time a unit
// is made.
#ifndef QG_SDKLINK_DEMUX_MEMORY_DEMUXER_H
#define QG_SDKLINK_DEMUX_MEMORY_DEMUXER_H

#include <atomic>
#include <mutex>
#include <stdint.h>

#include "quillgate/sdklink/demux/demux_module_api.h"
#include "quillgate/sdklink/demux/memory_demuxer_delegate.h"

// Every unit reports here; nothing is reported while it is null.
extern std::atomic<IMemoryDemuxerDelegate*> g_lpDelegate;

// What a unit takes from the program: the proxy log, the media clock and
// g_lpDelegate.
const QgDemuxHost& ProgramDemuxHost();

class CMemoryDemuxer
{
public:
    CMemoryDemuxer();
    ~CMemoryDemuxer();
    CMemoryDemuxer(const CMemoryDemuxer&) = delete;
    CMemoryDemuxer& operator=(const CMemoryDemuxer&) = delete;

    // A new unit in place of any old one: 0, or -1 and no unit when the
    // demuxer module cannot be loaded (one log line says why; every call
    // tries again) or the unit's buffers cannot be had. The argument is not
    // read.
    int Create(uint32_t param);
    void Destroy();
    void SetDelegate(IMemoryDemuxerDelegate* delegate);
    // Dropped without a unit.
    void InputData(const uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags);
    bool HasUnit();

    // The module's entry points, bound all together.
    struct EntryPoints {
        decltype(&QGDMX_Init) Init;
        decltype(&QGDMX_Create) Create;
        decltype(&QGDMX_Destroy) Destroy;
        decltype(&QGDMX_InputData) InputData;
    };

private:
    void DestroyUnit();

    std::mutex m_mutex;
    const EntryPoints* m_entries;  // of the module that made m_unit
    void* m_unit;
};

#endif

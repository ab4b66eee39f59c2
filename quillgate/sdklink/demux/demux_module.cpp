// The demuxer module's entry points: the program's services taken once,
// then units made, fed and freed.
#include <atomic>
#include <new>

#include "quillgate/sdklink/demux/demuxer_unit.h"

#define QGDMX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<const QgDemuxHost*> g_host{nullptr};

}  // namespace

// Only called once QGDMX_Init has taken a host: no unit exists before.
const QgDemuxHost& DemuxHost()
{
    return *g_host.load(std::memory_order_acquire);
}

QGDMX_EXPORT int QGDMX_Init(uint32_t version, const QgDemuxHost* host)
{
    if (version != QGDMX_INTERFACE_VERSION || !host || !host->logV || !host->now || !host->sleepMs ||
        !host->videoData || !host->audioData || !host->videoFormat || !host->audioFormat)
        return -1;
    g_host.store(host, std::memory_order_release);
    return 0;
}

QGDMX_EXPORT void* QGDMX_Create(void)
{
    if (!g_host.load(std::memory_order_acquire))
        return nullptr;
    CDemuxerUnit* unit = new (std::nothrow) CDemuxerUnit();
    if (unit && unit->Init() != 0) {
        delete unit;
        unit = nullptr;
    }
    return unit;
}

QGDMX_EXPORT void QGDMX_Destroy(void* unit)
{
    delete static_cast<CDemuxerUnit*>(unit);
}

QGDMX_EXPORT int QGDMX_InputData(void* unit, const uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags)
{
    if (!unit)
        return -1;
    return static_cast<CDemuxerUnit*>(unit)->InputData(data, length, timestamp, flags);
}

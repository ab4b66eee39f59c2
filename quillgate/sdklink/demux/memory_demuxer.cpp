// The holder, the services the program lends the demuxer units, and the
// demuxer module: opened beside the program with its entry points bound
// all together the first time a unit is made; until it opens, every unit
// asked for tries again.
#include "quillgate/sdklink/demux/memory_demuxer.h"

#include <cstdio>

#include "quillgate/log/proxy_log.h"
#include "util/media_clock.h"
#include "util/module_loader.h"

std::atomic<IMemoryDemuxerDelegate*> g_lpDelegate{nullptr};

namespace {

// ---- what the program lends a unit ----

// A report to the one delegate: 0, or -1 when there is none.
template <typename... Args>
int ToDelegate(void (IMemoryDemuxerDelegate::*report)(Args...), Args... args)
{
    IMemoryDemuxerDelegate* delegate = g_lpDelegate;
    if (!delegate)
        return -1;
    (delegate->*report)(args...);
    return 0;
}

int HostVideoData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t keyFrame)
{
    return ToDelegate(&IMemoryDemuxerDelegate::OnVideoData, timestamp, data, length, keyFrame);
}

int HostAudioData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t flags)
{
    return ToDelegate(&IMemoryDemuxerDelegate::OnAudioData, timestamp, data, length, flags);
}

int HostVideoFormat(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps)
{
    return ToDelegate(&IMemoryDemuxerDelegate::OnVideoFormat, codec, width, height, fps);
}

int HostAudioFormat(uint32_t codec, uint32_t channels, uint32_t bitsPerSample, uint32_t sampleRate)
{
    return ToDelegate(&IMemoryDemuxerDelegate::OnAudioFormat, codec, channels, bitsPerSample, sampleRate);
}

const QgDemuxHost kProgramHost = {
    &ProxyLogV, &MediaClockNow, &MediaClockSleep, &HostVideoData, &HostAudioData, &HostVideoFormat, &HostAudioFormat,
};

// ---- the module ----

// Opened once and kept for the life of the process.
class CDemuxerModule
{
public:
    static CDemuxerModule& GetInstance()
    {
        static CDemuxerModule instance;
        return instance;
    }

    // The bound entry points, or null (and one log line) when the module
    // cannot be had.
    const CMemoryDemuxer::EntryPoints* Load();

private:
    CDemuxerModule() : m_handle(nullptr), m_table() {}

    std::mutex m_mutex;  // one load at a time
    void* m_handle;
    CMemoryDemuxer::EntryPoints m_table;
};

const CMemoryDemuxer::EntryPoints* CDemuxerModule::Load()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_handle)
        return &m_table;

    char directory[256] = {0};
    GetProgramFolder(directory, sizeof(directory));
    CMemoryDemuxer::EntryPoints table;
    const ModuleEntry entries[] = {
        ModuleEntryFor("QGDMX_Init", table.Init),
        ModuleEntryFor("QGDMX_Create", table.Create),
        ModuleEntryFor("QGDMX_Destroy", table.Destroy),
        ModuleEntryFor("QGDMX_InputData", table.InputData),
    };
    char error[512] = {0};
    void* handle = LoadModule(directory, QGDMX_MODULE_FILE, entries, sizeof(entries) / sizeof(entries[0]), nullptr,
                              error, sizeof(error));
    if (handle && table.Init(QGDMX_INTERFACE_VERSION, &kProgramHost) != 0) {
        UnloadModule(handle);
        handle = nullptr;
        snprintf(error, sizeof(error), "it does not take interface %d", QGDMX_INTERFACE_VERSION);
    }
    if (!handle) {
        ProxyLog(16, "CMemoryDemuxer: load %s fail! %s; data-channel streams are dropped", QGDMX_MODULE_FILE, error);
        return nullptr;
    }
    m_handle = handle;
    m_table = table;
    ProxyLog(4, "CMemoryDemuxer: load %s success!", QGDMX_MODULE_FILE);
    return &m_table;
}

}  // namespace

const QgDemuxHost& ProgramDemuxHost()
{
    return kProgramHost;
}

// ---- holder ----

CMemoryDemuxer::CMemoryDemuxer() : m_entries(nullptr), m_unit(nullptr)
{
    g_lpDelegate = nullptr;
}

CMemoryDemuxer::~CMemoryDemuxer()
{
    Destroy();
    g_lpDelegate = nullptr;
}

int CMemoryDemuxer::Create(uint32_t /*param*/)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DestroyUnit();
    const EntryPoints* entries = CDemuxerModule::GetInstance().Load();
    if (!entries)
        return -1;
    // Without its buffers a unit could never take a byte: none is kept.
    void* unit = entries->Create();
    if (!unit)
        return -1;
    m_entries = entries;
    m_unit = unit;
    return 0;
}

void CMemoryDemuxer::Destroy()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    DestroyUnit();
}

// Called with m_mutex held.
void CMemoryDemuxer::DestroyUnit()
{
    if (m_unit)
        m_entries->Destroy(m_unit);
    m_unit = nullptr;
    m_entries = nullptr;
}

void CMemoryDemuxer::SetDelegate(IMemoryDemuxerDelegate* delegate)
{
    g_lpDelegate = delegate;
}

void CMemoryDemuxer::InputData(const uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_unit)
        m_entries->InputData(m_unit, data, length, timestamp, flags);
}

bool CMemoryDemuxer::HasUnit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unit != nullptr;
}

// The demuxer's input on any bytes, in chunks: opening and closing answer
// their codes, and every frame handed on lies inside its buffer (every byte
// of it is read here) with formats that are plausible.
#include <atomic>
#include <cstdint>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "quillgate/sdklink/demux/demuxer_unit.h"
#include "quillgate/sdklink/demux/memory_demuxer.h"
#include "util/media_clock.h"

namespace {

class Reader : public IMemoryDemuxerDelegate
{
public:
    void OnVideoData(uint32_t, uint8_t* data, uint32_t length, uint32_t) override { Touch(data, length); }
    void OnAudioData(uint32_t, uint8_t* data, uint32_t length, uint32_t) override { Touch(data, length); }
    void OnVideoFormat(uint32_t, uint32_t, uint32_t, uint32_t) override {}
    void OnAudioFormat(uint32_t, uint32_t, uint32_t, uint32_t) override {}
    std::atomic<uint32_t> sum{0};

private:
    void Touch(const uint8_t* data, uint32_t length)
    {
        FUZZ_CHECK(length == 0 || data != nullptr);
        uint32_t s = 0;
        for (uint32_t i = 0; i < length; ++i)
            s += data[i];
        sum += s;
    }
};

Reader g_reader;

// Frames go out as fast as they come: the pacing waits on this clock.
uint32_t g_now = 1;
uint32_t Now()
{
    return g_now += 5;
}
void Sleep(uint32_t ms)
{
    g_now += ms;
}
const MediaClock kClock = {Now, Sleep};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_lpDelegate = &g_reader;
    SetMediaClock(&kClock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    CDemuxerUnit unit;
    FUZZ_CHECK(unit.Init() == 0);
    const int chunks = in.ConsumeIntegralInRange<int>(1, 4);
    const bool openFirst = in.ConsumeBool();
    bool opened = false;
    for (int c = 0; c < chunks && in.remaining_bytes() > 0; ++c) {
        const std::vector<uint8_t> chunk = c + 1 == chunks
                                               ? in.ConsumeRemainingBytes<uint8_t>()
                                               : in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(1, 4096));
        FUZZ_CHECK(unit.InputData(chunk.data(), static_cast<uint32_t>(chunk.size()), 40u * c, c == 0 ? 1 : 0) >= -1);
        if (!opened && (openFirst || c + 1 == chunks)) {
            const int ret = unit.OpenInput();
            FUZZ_CHECK(ret >= -5 && ret <= 0);
            opened = ret == 0;
        }
    }
    FUZZ_CHECK(unit.CloseInput() == 0);
    FUZZ_CHECK(!unit.IsRunning());
    return 0;
}

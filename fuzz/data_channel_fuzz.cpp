// Data-channel packets on any bytes, in any order, with the clock stepped
// here: nothing reads past a message or a frame, no chunk outgrows the
// frame limit, the ring never holds more than its slots, and a frame sent
// in order comes out whole, its slices joined as they were sent.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "quillgate/webrtc/data_channel_base.h"
#include "util/media_clock.h"

namespace {

uint32_t g_now = 1;
uint32_t Now()
{
    return g_now;
}
void Sleep(uint32_t ms)
{
    g_now += ms;
}
const MediaClock kClock = {Now, Sleep};

class Joiner : public CDataChannelBase
{
public:
    Joiner() { StopThread(); }
    ~Joiner() override { StopThread(); }
    void OnChunkData(uint32_t, uint8_t* data, uint32_t length, uint32_t, uint32_t flags) override
    {
        FUZZ_CHECK(length <= kDataChnlFrameMax);
        if (data == nullptr) {
            FUZZ_CHECK(length == 0 && flags == 2);
            return;
        }
        joined.append(reinterpret_cast<const char*>(data), length);
    }
    std::string joined;
};

// One message with a header as the browser writes it.
std::vector<uint8_t> Packet(uint32_t block, uint8_t marker, uint16_t slice, const std::string& payload, uint32_t number)
{
    std::vector<uint8_t> p(kDataChnlHeaderSize, 0);
    p[0] = 7;
    p[1] = 1;
    p[2] = 1;
    const uint32_t length = static_cast<uint32_t>(payload.size());
    const uint32_t timestamp = 40 * number;
    std::memcpy(&p[4], &block, 4);
    p[8] = marker;
    std::memcpy(&p[9], &slice, 2);
    std::memcpy(&p[11], &length, 4);
    std::memcpy(&p[15], &timestamp, 4);
    std::memcpy(&p[19], &number, 4);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

void Drain(Joiner& j, int steps)
{
    for (int i = 0; i < steps; ++i)
        g_now += j.ProcessStep() + 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetMediaClock(&kClock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    Joiner j;
    j.ResetChannel(5);

    if (in.ConsumeBool()) {
        // One frame in order: its slices come out joined, exactly.
        std::string frame;
        std::vector<std::string> slices;
        while (in.remaining_bytes() > 0 && slices.size() < 40) {
            slices.push_back(in.ConsumeBytesAsString(in.ConsumeIntegralInRange<size_t>(1, kDataChnlMaxSliceLen)));
            frame += slices.back();
        }
        if (slices.empty())
            return 0;
        for (size_t i = 0; i < slices.size(); ++i) {
            const std::vector<uint8_t> p = Packet(static_cast<uint32_t>(i), i + 1 == slices.size() ? 1 : 0,
                                                  static_cast<uint16_t>(i), slices[i], static_cast<uint32_t>(i));
            j.OnReceiveData(5, 1, p.data(), static_cast<uint32_t>(p.size()));
            Drain(j, 2);
        }
        Drain(j, 4);
        FUZZ_CHECK(j.joined == frame);
        return 0;
    }

    // Any messages, some for another peer, with steps and pauses between.
    while (in.remaining_bytes() > 0) {
        const uint32_t handle = in.ConsumeIntegralInRange<uint32_t>(0, 8) ? 5 : 6;
        const std::vector<uint8_t> msg = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 1600));
        j.OnReceiveData(handle, 1, msg.empty() ? nullptr : msg.data(), static_cast<uint32_t>(msg.size()));
        FUZZ_CHECK(j.GetPending() <= kDataChnlRingSlots);
        Drain(j, in.ConsumeIntegralInRange<int>(0, 3));
        g_now += in.ConsumeIntegralInRange<uint32_t>(0, 3000);
        if (in.ConsumeIntegralInRange<int>(0, 30) == 0)
            j.ResetChannel(5);
    }
    Drain(j, 8);
    return 0;
}

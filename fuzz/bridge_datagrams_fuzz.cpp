// Datagrams from a parent server (or, on the server side, from a child) on
// any bytes: nothing reads past the datagram, every event the listener
// hears is one of its kinds with a document that writes as JSON that reads
// again, and a system command's text never outgrows its pack.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "quillgate/session/service_bridge.h"
#include "util/json_writer.h"

namespace {

class Listener : public IServiceBridgeListener
{
public:
    void OnBridgeEvent(int event, int, Json::Value doc) override
    {
        FUZZ_CHECK(event >= 1 && event <= 4);
        FUZZ_CHECK(doc.isNull() || doc.isObject());
        FUZZ_CHECK(qgfuzz::Parses(cv::toStyledString(doc)));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool serverSide = in.ConsumeBool();
    const int count = in.ConsumeIntegralInRange<int>(1, 4);
    Listener listener;
    CServiceBridge bridge;
    bridge.SetListener(&listener);
    bridge.SetServerSide(serverSide);
    bridge.SetParent(0x7F000001, 9000);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        // Each datagram in a buffer of its own size, so a read past it is seen.
        const std::vector<char> datagram = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<size_t>(0, 2048));
        std::vector<char> exact(datagram.begin(), datagram.end());
        bridge.OnReceiveUDP(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(exact.size()), 0x7F000001,
                            9000);

        Json::Value cmd;
        if (CServiceBridge::SysExCmd2Json(exact.data(), static_cast<uint32_t>(exact.size()), cmd)) {
            FUZZ_CHECK(cmd.isObject());
            FUZZ_CHECK(cmd["strparam"].asString().size() <= exact.size());
            FUZZ_CHECK(qgfuzz::Parses(cv::toStyledString(cmd)));
        }
    }
    return 0;
}

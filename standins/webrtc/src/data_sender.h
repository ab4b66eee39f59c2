// The browser's data-channel sender: a container file cut into numbered
// messages of a 28-byte header and a slice of up to 1400 bytes, blocks of
// slices with a marker on each block's last, and scripted faults.
#ifndef QG_RTC_DATA_SENDER_H
#define QG_RTC_DATA_SENDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rtc_text.h"
#include "rtc_types.h"

namespace rtcstub {

constexpr size_t kDataHeader = 28;
constexpr uint32_t kMaxSlice = 1400;
constexpr size_t kMaxMessage = 4096;  // what an over-long message may grow to

struct DataMsg {
    uint32_t offset = 0, sliceLen = 0;  // the payload's bytes in the file
    uint32_t packetNum = 0, blockNum = 0, sliceNum = 0, marker = 0, timestamp = 0;
    uint32_t timeMs = 0;   // when it is due, paced at the file's byte rate, pauses included
    uint32_t pauseMs = 0;  // wait before it
    uint32_t length = 0;   // message bytes (a truncated or over-long one differs)
    uint32_t declaredLen = 0;
    bool badMagic = false;
    const char* fault = nullptr;
};

struct DataPlan {
    std::string file;
    std::vector<DataMsg> msgs;
    uint32_t channelId = 1;
};

// Built from "name=value" options (README.md); false with a reason.
bool BuildDataPlan(const std::string& file, const std::vector<Option>& opts, DataPlan& out, std::string& error);
// Writes message `index` into buf (kMaxMessage bytes) and hands it to the
// data callback in its record.
void DeliverMessage(uint32_t handle, const Callbacks& cb, const DataPlan& plan, size_t index, unsigned char* buf);
// One raw message of any bytes (null data or a null record too).
void DeliverRawMessage(uint32_t handle, const Callbacks& cb, bool found, uint32_t channelId, const unsigned char* data,
                       uint32_t length, bool recordNull);

}  // namespace rtcstub

#endif

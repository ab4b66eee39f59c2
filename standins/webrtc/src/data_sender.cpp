#include "data_sender.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "records.h"

namespace rtcstub {

namespace {

void PutLe(unsigned char* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t GetLe(const unsigned char* p, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

// "<n>" or "<n>:<m>" (m defaults to def).
bool ParsePair(const std::string& value, uint32_t& n, uint32_t& m, uint32_t def)
{
    const size_t colon = value.find(':');
    m = def;
    if (colon == std::string::npos)
        return ParseU32(value, n);
    return ParseU32(value.substr(0, colon), n) && ParseU32(value.substr(colon + 1), m);
}

// Index of the message cut as packet `orig` (before any fault moved it).
long Find(const std::vector<uint32_t>& origs, uint32_t orig)
{
    for (size_t i = 0; i < origs.size(); ++i)
        if (origs[i] == orig)
            return static_cast<long>(i);
    return -1;
}

void Journal(uint32_t handle, uint32_t channelId, const unsigned char* data, uint32_t length, const char* fault,
             bool called, int ret)
{
    std::string line =
        "cb data " + std::to_string(handle) + " chan=" + std::to_string(channelId) + " len=" + std::to_string(length);
    if (!data) {
        line += " data=null";
    } else {
        if (length >= kDataHeader) {
            char magic[8];
            std::snprintf(magic, sizeof magic, "%02x%02x%02x", data[0], data[1], data[2]);
            line += std::string(" magic=") + magic + " pkt=" + std::to_string(GetLe(data + 19, 4)) +
                    " block=" + std::to_string(GetLe(data + 4, 4)) + " slice=" + std::to_string(GetLe(data + 9, 2)) +
                    " marker=" + std::to_string(data[8]) + " slicelen=" + std::to_string(GetLe(data + 11, 4)) +
                    " ts=" + std::to_string(GetLe(data + 15, 4));
        }
        line += " crc=" + CrcForm(Crc32(data, length));
    }
    if (fault)
        line += std::string(" fault=") + fault;
    rtcstub::Journal(line + (called ? " = " + std::to_string(ret) : " = none"));
}

int Hand(uint32_t handle, const Callbacks& cb, uint32_t channelId, const unsigned char* data, uint32_t length,
         bool recordNull)
{
    unsigned char rec[DataRecord::kSize];
    FillPattern(rec, sizeof rec);
    Put32(rec, DataRecord::kChannelId, channelId);
    PutPtr(rec, DataRecord::kData, data);
    Put32(rec, DataRecord::kLength, length);
    return cb.data(handle, recordNull ? nullptr : reinterpret_cast<RtcDataPacket*>(rec), 0, 0, cb.user);
}

}  // namespace

bool BuildDataPlan(const std::string& file, const std::vector<Option>& opts, DataPlan& out, std::string& error)
{
    out = DataPlan();
    uint32_t durationMs = 2000, rate = 0, first = 0, block = 8, slice = kMaxSlice;
    bool firstSet = false;
    for (const Option& o : opts) {
        bool ok = true;
        if (o.name == "duration")
            ok = ParseU32(o.value, durationMs) && durationMs > 0;
        else if (o.name == "rate")
            ok = ParseU32(o.value, rate) && rate > 0;
        else if (o.name == "first")
            ok = (firstSet = ParseU32(o.value, first));
        else if (o.name == "block")
            ok = ParseU32(o.value, block);
        else if (o.name == "slice")
            ok = ParseU32(o.value, slice) && slice > 0 && slice <= kMaxSlice;
        else if (o.name == "channel")
            ok = ParseU32(o.value, out.channelId);
        else
            continue;  // faults, below
        if (!ok) {
            error = "bad " + o.name + "=" + o.value;
            return false;
        }
    }
    if (file.empty()) {
        error = "empty file";
        return false;
    }
    if (rate == 0)
        rate = static_cast<uint32_t>(std::max<uint64_t>(1, uint64_t(file.size()) * 1000 / durationMs));
    if (!firstSet)
        first = block;

    // Cut: block 0 at the file's start (first slices), then blocks of
    // `block` slices; block=0 (or first=0) makes one block of the rest.
    std::vector<uint32_t> origs;
    uint32_t offset = 0, blockNum = 0, sliceNum = 0, blockTs = 0;
    while (offset < file.size()) {
        DataMsg m;
        m.offset = offset;
        m.sliceLen = static_cast<uint32_t>(std::min<size_t>(slice, file.size() - offset));
        m.packetNum = static_cast<uint32_t>(out.msgs.size());
        if (sliceNum == 0)
            blockTs = static_cast<uint32_t>(uint64_t(offset) * 1000 / rate);
        m.blockNum = blockNum;
        m.sliceNum = sliceNum;
        m.timestamp = blockTs;
        m.timeMs = static_cast<uint32_t>(uint64_t(offset) * 1000 / rate);
        m.length = static_cast<uint32_t>(kDataHeader + m.sliceLen);
        m.declaredLen = m.sliceLen;
        offset += m.sliceLen;
        const uint32_t perBlock = blockNum == 0 ? first : block;
        m.marker = offset >= file.size() || (perBlock != 0 && sliceNum + 1 >= perBlock);
        if (m.marker) {
            ++blockNum;
            sliceNum = 0;
        } else {
            ++sliceNum;
        }
        origs.push_back(m.packetNum);
        out.msgs.push_back(m);
    }

    // Faults, in the order given; each names a packet as it was cut.
    for (const Option& o : opts) {
        static const char* const kFaults[] = {"reorder",  "dup",      "drop", "truncate", "overlong",
                                              "badmagic", "bigslice", "jump", "pause"};
        static const char* const kPlanNames[] = {"duration", "rate", "first", "block", "slice", "channel"};
        const char* fault = nullptr;
        for (const char* f : kFaults)
            if (o.name == f)
                fault = f;
        if (!fault) {
            if (std::find(std::begin(kPlanNames), std::end(kPlanNames), o.name) != std::end(kPlanNames))
                continue;
            error = "unknown option " + o.name;
            return false;
        }
        uint32_t n = 0, m = 0;
        const uint32_t def = o.name == "overlong"   ? 1600
                             : o.name == "bigslice" ? kMaxSlice + 1
                             : o.name == "jump"     ? 10
                                                    : 0;
        long at = -1;
        bool ok = ParsePair(o.value, n, m, def) && (at = Find(origs, n)) >= 0;
        if (ok && o.name == "reorder")
            ok = Find(origs, n + 1) >= 0;
        if (ok && o.name == "truncate" && o.value.find(':') == std::string::npos)
            m = static_cast<uint32_t>(kDataHeader + out.msgs[at].sliceLen / 2);
        if (ok && o.name == "truncate")
            ok = m < out.msgs[at].length;
        if (ok && o.name == "overlong")
            ok = m > out.msgs[at].length && m <= kMaxMessage;
        if (!ok) {
            error = "bad " + o.name + "=" + o.value + " (" + std::to_string(out.msgs.size()) + " packets)";
            return false;
        }
        DataMsg& msg = out.msgs[at];
        if (o.name == "reorder") {
            const long next = Find(origs, n + 1);
            std::swap(out.msgs[at], out.msgs[next]);
            std::swap(origs[at], origs[next]);
            out.msgs[at].fault = out.msgs[next].fault = fault;
        } else if (o.name == "dup") {
            DataMsg copy = msg;
            copy.fault = fault;
            out.msgs.insert(out.msgs.begin() + at + 1, copy);
            origs.insert(origs.begin() + at + 1, UINT32_MAX);
        } else if (o.name == "drop") {
            out.msgs.erase(out.msgs.begin() + at);
            origs.erase(origs.begin() + at);
        } else if (o.name == "jump") {
            for (size_t i = static_cast<size_t>(at); i < out.msgs.size(); ++i)
                out.msgs[i].packetNum += m;
            msg.fault = fault;
        } else if (o.name == "pause") {
            msg.pauseMs += m;
            msg.fault = fault;
        } else {
            msg.fault = fault;
            if (o.name == "truncate" || o.name == "overlong")
                msg.length = m;
            else if (o.name == "badmagic")
                msg.badMagic = true;
            else
                msg.declaredLen = m;
        }
    }
    // Due times never go back; a pause moves everything after it.
    uint32_t pauses = 0, last = 0;
    for (DataMsg& m : out.msgs) {
        pauses += m.pauseMs;
        m.timeMs = std::max(last, m.timeMs + pauses);
        last = m.timeMs;
    }
    out.file = file;
    return true;
}

void DeliverMessage(uint32_t handle, const Callbacks& cb, const DataPlan& plan, size_t index, unsigned char* buf)
{
    const DataMsg& m = plan.msgs[index];
    std::memset(buf, 0, kDataHeader);
    buf[0] = 0x07;
    buf[1] = 0x01;
    buf[2] = m.badMagic ? 0x02 : 0x01;
    PutLe(buf + 4, m.blockNum, 4);
    buf[8] = static_cast<unsigned char>(m.marker);
    PutLe(buf + 9, m.sliceNum, 2);
    PutLe(buf + 11, m.declaredLen, 4);
    PutLe(buf + 15, m.timestamp, 4);
    PutLe(buf + 19, m.packetNum, 4);
    std::memcpy(buf + kDataHeader, plan.file.data() + m.offset, m.sliceLen);
    const size_t whole = kDataHeader + m.sliceLen;
    if (m.length > whole)
        std::memset(buf + whole, 0x5A, m.length - whole);  // an over-long message's tail
    int ret = 0;
    if (cb.data)
        ret = Hand(handle, cb, plan.channelId, buf, m.length, false);
    if (JournalOn())
        Journal(handle, plan.channelId, buf, m.length, m.fault, cb.data != nullptr, ret);
}

void DeliverRawMessage(uint32_t handle, const Callbacks& cb, bool found, uint32_t channelId, const unsigned char* data,
                       uint32_t length, bool recordNull)
{
    const bool called = found && cb.data;
    const int ret = called ? Hand(handle, cb, channelId, data, length, recordNull) : 0;
    if (!JournalOn())
        return;
    if (recordNull)
        rtcstub::Journal("cb data " + std::to_string(handle) + " null" +
                         (called ? " = " + std::to_string(ret) : " = none"));
    else
        Journal(handle, channelId, data, length, nullptr, called, ret);
}

}  // namespace rtcstub

#include "quillgate/webrtc/data_channel_base.h"

#include <endian.h>
#include <string.h>
#include <unistd.h>

#include <mutex>
#include <new>

#include "quillgate/log/proxy_log.h"
#include "util/media_clock.h"
#include "util/win32_shims.h"

namespace {

const uint32_t kNone = 0xFFFFFFFFu;
const uint32_t kNoFrame = static_cast<uint32_t>(-100);
const uint32_t kIdlePauseMs = 5;
const uint32_t kBurstPauseMs = 1;
const uint32_t kBurstFrom = 16;           // packets in a row before each one pauses
const uint32_t kLossAfterMs = 1066;       // silence before the expected packet is given up
const uint32_t kLossStepMs = 66;          // the next ones in a row follow this far apart
const uint32_t kFrameEndGraceMs = 300;    // extra wait after the last slice of a frame
const uint32_t kLossesBeforeRestart = 3;  // then each further loss waits the full time again
const int32_t kLongGapMs = 200;

// Process-wide, for the log lines only.
std::atomic<uint32_t> g_lastHandledPacket{kNone};
std::atomic<uint32_t> g_lastRecvTick{0};
std::atomic<uint32_t> g_lastRecvTimestamp{0};

uint32_t ReadU32(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof(v));
    return le32toh(v);
}

uint16_t ReadU16(const uint8_t* p)
{
    uint16_t v;
    memcpy(&v, p, sizeof(v));
    return le16toh(v);
}

}  // namespace

void ParseDataChnlPacketHeader(const uint8_t* data, DataChnlPacketHeader* header)
{
    memcpy(header->magic, data, sizeof(header->magic));
    header->blockNum = ReadU32(data + 4);
    header->sliceMarker = data[8];
    header->sliceNum = ReadU16(data + 9);
    header->sliceLen = ReadU32(data + 11);
    header->timestamp = ReadU32(data + 15);
    header->packetNum = ReadU32(data + 19);
}

bool IsDataChnlMagic(const DataChnlPacketHeader& header)
{
    return header.magic[0] == 0x07 && header.magic[1] == 0x01 && header.magic[2] == 0x01;
}

CDataChannelBase::CDataChannelBase()
    : m_readIndex(0), m_pending(0), m_stop(false), m_thread(), m_hasThread(false), m_threadId(0), m_hasBuffers(false),
      m_capacity(0), m_assembled(0), m_frameFlags(0), m_lastPacketNum(kNoFrame), m_lostPackNo(kNone),
      m_frameTimestamp(0), m_currentHandle(0), m_deadline(0), m_lossesInRow(0), m_packetsInRow(0)
{
    StartThread();
}

CDataChannelBase::~CDataChannelBase()
{
    StopThread();
}

void CDataChannelBase::OnChunkData(uint32_t, uint8_t*, uint32_t, uint32_t, uint32_t)
{}

void CDataChannelBase::OnDataLoss()
{}

void CDataChannelBase::OnChannelReset(uint32_t)
{}

void CDataChannelBase::StartThread()
{
    if (m_hasThread)
        return;
    m_stop = false;
    m_hasThread = pthread_create(&m_thread, nullptr, _ThreadProc, this) == 0;
}

void CDataChannelBase::StopThread()
{
    {
        // Under the mutex, so a thread about to wait cannot miss it.
        std::lock_guard<RingMutex> lock(m_ringMutex);
        m_stop = true;
    }
    m_stored.notify_all();
    if (m_hasThread)
        pthread_join(m_thread, nullptr);
    m_hasThread = false;
    m_threadId = 0;
}

void* CDataChannelBase::_ThreadProc(void* arg)
{
    if (arg != nullptr) {
        CDataChannelBase* self = static_cast<CDataChannelBase*>(arg);
        self->m_threadId = gettid();
        self->ProcessPackets();
    }
    return nullptr;
}

void CDataChannelBase::ProcessPackets()
{
    // Pauses are taken here, never under the ring mutex, so storing goes on.
    while (!m_stop.load()) {
        const bool afterSleep = WaitForPending();
        if (m_stop.load())
            break;
        uint32_t pause = ProcessStep(afterSleep);
        if (pause != 0 && !m_stop.load())
            MediaClockSleep(pause);
    }
}

// With nothing stored there is nothing to time out either: the thread
// sleeps until a packet is stored or it is stopped, so a session without
// an open data channel costs it no wake-ups. True when it had to sleep.
bool CDataChannelBase::WaitForPending()
{
    std::unique_lock<RingMutex> lock(m_ringMutex);
    const bool sleeps = m_pending.load() == 0;
    m_stored.wait(lock, [this] { return m_pending.load() != 0 || m_stop.load(); });
    return sleeps;
}

// Ring mutex held. Most sessions never open a data channel, so the ring
// (1.5 MiB) and the frame buffer are made when one first needs them, and
// kept from then on.
bool CDataChannelBase::EnsureBuffers()
{
    if (m_hasBuffers.load())
        return true;
    if (!m_ring) {
        std::unique_ptr<RingSlot[]> ring(new (std::nothrow) RingSlot[kDataChnlRingSlots]());
        if (!ring)
            return false;
        for (uint32_t i = 0; i < kDataChnlRingSlots; ++i)
            ring[i].index = i;
        m_ring = std::move(ring);
    }
    if (!m_frame) {
        m_frame.reset(new (std::nothrow) uint8_t[kDataChnlFrameStart]);
        if (!m_frame)
            return false;
        m_capacity = kDataChnlFrameStart;
    }
    m_hasBuffers = true;
    return true;
}

void CDataChannelBase::OnReceiveData(uint32_t handle, uint32_t channelId, const uint8_t* data, uint32_t length)
{
    if (data == nullptr || length < kDataChnlHeaderSize) {
        ProxyLog(4, "CDataChannelBase::OnReceiveData data is null!");
        return;
    }
    if (length > kDataChnlSlotBytes) {
        ProxyLog(4, "CDataChannelBase::OnReceiveData message too long, dropped: dataLen=%u, max=%u", length,
                 kDataChnlSlotBytes);
        return;
    }
    DataChnlPacketHeader header;
    ParseDataChnlPacketHeader(data, &header);
    if (!IsDataChnlMagic(header) || header.sliceLen > kDataChnlMaxSliceLen)
        return;

    if (ProxyLogEnabled(1)) {
        uint32_t now = MediaClockNow();
        uint32_t cdiff = now - g_lastRecvTick.exchange(now);
        uint32_t tdiff = header.timestamp - g_lastRecvTimestamp.exchange(header.timestamp);
        ProxyLog(1,
                 "*** OnReceiveData Handle:%d, channelId:%d, packetNum=%u, dataLen=%d, blockNum=%d, sliceNum=%d, "
                 "sliceMarker=%d, frameLen=%d, curTick=%u, Cdiff=%u, longTime=%d, timestamp=%u, Tdiff=%u, count=%d",
                 static_cast<int>(handle), static_cast<int>(channelId), header.packetNum, static_cast<int>(length),
                 static_cast<int>(header.blockNum), header.sliceNum, header.sliceMarker,
                 static_cast<int>(header.sliceLen), now, cdiff, static_cast<int32_t>(cdiff) > kLongGapMs ? 1 : 0,
                 header.timestamp, tdiff, static_cast<int>(m_pending.load()));
    }

    std::lock_guard<RingMutex> lock(m_ringMutex);
    // Checked again here: a data channel may have opened since the caller looked.
    if (handle != m_currentHandle.load()) {
        ProxyLog(1, "CDataChannelBase::OnReceiveData handle %u is not current (%u), dropped", handle,
                 m_currentHandle.load());
        return;
    }
    if (m_lostPackNo != kNone && header.packetNum <= m_lostPackNo) {
        ProxyLog(4, "*** had receive packet but current lostPackNo[%u] more than it[%u]", m_lostPackNo,
                 header.packetNum);
        return;
    }
    // Only numbers the ring can hold without overwriting a waiting packet.
    int32_t ahead = static_cast<int32_t>(header.packetNum - m_readIndex);
    if (ahead < 0) {
        ProxyLog(1, "CDataChannelBase::OnReceiveData packetNum=%u already passed (readIndex=%u), dropped",
                 header.packetNum, m_readIndex);
        return;
    }
    if (ahead >= static_cast<int32_t>(kDataChnlRingSlots)) {
        ProxyLog(4, "CDataChannelBase::OnReceiveData packetNum=%u beyond the ring (readIndex=%u), dropped",
                 header.packetNum, m_readIndex);
        return;
    }
    if (!EnsureBuffers()) {
        ProxyLog(16, "CDataChannelBase::OnReceiveData no memory for the ring, dropped: packetNum=%u", header.packetNum);
        return;
    }
    RingSlot& slot = m_ring[header.packetNum % kDataChnlRingSlots];
    if (slot.used != 0) {
        // Within the window a used slot holds this very number.
        ProxyLog(1, "CDataChannelBase::OnReceiveData packetNum=%u again, dropped", header.packetNum);
        return;
    }
    memcpy(slot.data, data, length);
    slot.length = length;
    slot.timestamp = header.timestamp;
    slot.channelId = channelId;
    slot.handle = handle;
    slot.packetNum = header.packetNum;
    slot.used = 1;
    if (m_pending.fetch_add(1) == 0)
        m_stored.notify_one();
}

void CDataChannelBase::ResetChannel(uint32_t handle)
{
    std::lock_guard<RingMutex> lock(m_ringMutex);
    m_currentHandle = handle;
    m_assembled = 0;
    m_frameTimestamp = 0;
    m_frameFlags = 0;
    m_lastPacketNum = kNoFrame;
    m_lostPackNo = kNone;
    m_readIndex = 0;
    if (EnsureBuffers()) {
        // Packets of the old sequence are not consumed as the new one's.
        for (uint32_t i = 0; i < kDataChnlRingSlots; ++i)
            m_ring[i].used = 0;
    } else {
        ProxyLog(16, "CDataChannelBase::ResetChannel no memory for the ring yet, its packets are dropped");
    }
    m_pending = 0;
    // The new sequence's first packet gets the full wait.
    m_deadline = 0;
    m_lossesInRow = 0;
    m_packetsInRow = 0;
    OnChannelReset(handle);
}

uint32_t CDataChannelBase::ProcessStep(bool afterSleep)
{
    if (m_pending.load() == 0)
        return kIdlePauseMs;

    std::lock_guard<RingMutex> lock(m_ringMutex);
    uint32_t slotIndex = m_readIndex % kDataChnlRingSlots;
    RingSlot& slot = m_ring[slotIndex];
    if (slot.used != 0 && slot.packetNum == m_readIndex) {
        DataChnlPacketHeader header;
        ParseDataChnlPacketHeader(slot.data, &header);
        handleSliceData(slot.handle, slot.data, slot.length);
        slot.used = 0;
        m_deadline = MediaClockNow() + (header.sliceMarker != 0 ? kFrameEndGraceMs : 0);
        ProxyLog(1, "*** GetPacket Index=%u, curLastTime=%u, timestamp=%u", slotIndex, m_deadline, slot.timestamp);
        ++m_readIndex;
        ++m_packetsInRow;
        m_pending.fetch_sub(1);
        m_lossesInRow = 0;
        return m_packetsInRow >= kBurstFrom ? kBurstPauseMs : 0;
    }

    uint32_t now = MediaClockNow();
    if (m_deadline == 0)
        m_deadline = now;
    // The wake follows the first store at once, and packets that come back
    // together after a quiet spell are often a little out of order: the one
    // missing now gets one step to land before the loss rule applies.
    if (!afterSleep && TickDistance(now, m_deadline) > kLossAfterMs) {
        if (++m_lossesInRow > kLossesBeforeRestart)
            m_deadline = now;
        // Pending stays: it counts stored packets, and one behind the loss
        // is read at the next look.
        m_lostPackNo = m_readIndex;
        ++m_readIndex;
        m_deadline += kLossStepMs;
        ProxyLog(4, "*** LossPacket Index=%u, curLastTime=%u, timestamp=%u", slotIndex, m_deadline, slot.timestamp);
    }
    m_packetsInRow = 0;
    return kIdlePauseMs;
}

void CDataChannelBase::handleSliceData(uint32_t handle, const uint8_t* data, uint32_t length)
{
    DataChnlPacketHeader header;
    ParseDataChnlPacketHeader(data, &header);
    uint32_t payloadLen = header.sliceLen;
    if (header.sliceLen != length - kDataChnlHeaderSize) {
        ProxyLog(4, "*** handleSliceData sliceLen!=packLen, Maybe pack is error..");
        // A short message gives only the bytes it brought.
        if (payloadLen > length - kDataChnlHeaderSize)
            payloadLen = length - kDataChnlHeaderSize;
    }
    const uint8_t* payload = data + kDataChnlHeaderSize;

    uint32_t last = g_lastHandledPacket.exchange(header.packetNum);
    int isLoss = header.packetNum != last + 1 ? 1 : 0;
    int lossCount = static_cast<int>(header.packetNum - 1 - last);
    const char* sliceLine = "*** handleSliceData isLoss=%d, LossCount=%d, packetNum=%u, dataLen=%d, blockNum=%d, "
                            "sliceNum=%d, sliceMarker=%d, timestamp=%u";
    ProxyLog(1, sliceLine, isLoss, lossCount, header.packetNum, static_cast<int>(length),
             static_cast<int>(header.blockNum), header.sliceNum, header.sliceMarker, header.timestamp);
    if (isLoss)
        ProxyLog(4, sliceLine, isLoss, lossCount, header.packetNum, static_cast<int>(length),
                 static_cast<int>(header.blockNum), header.sliceNum, header.sliceMarker, header.timestamp);

    if (header.blockNum == 0 && header.sliceNum == 0) {
        FlushChunk(handle);
        memcpy(m_frame.get(), payload, payloadLen);  // the buffer never shrinks below one slice
        m_frameFlags |= 1;
        m_assembled = payloadLen;
        m_lastPacketNum = header.packetNum;
        m_frameTimestamp = header.timestamp;
        if (header.sliceMarker != 0)
            FlushChunk(handle);
        ProxyLog(2,
                 "*** handleSliceData (lpHeader->blockNum == 0 && lpHeader->sliceNum == 0), packetNum=%u, "
                 "dataLen=%d, blockNum=%d, sliceNum=%d, sliceMarker=%d, timestamp=%u, frameLen=%d",
                 header.packetNum, static_cast<int>(length), static_cast<int>(header.blockNum), header.sliceNum,
                 header.sliceMarker, header.timestamp, static_cast<int>(payloadLen));
        return;
    }

    if (header.packetNum == m_lastPacketNum + 1) {
        if (m_assembled + payloadLen > m_capacity && !GrowFrameBuffer(m_assembled + payloadLen)) {
            ProxyLog(4, "*** handleSliceData frame abandoned, buffer cannot take frameLen=%u (max %u), packetNum=%u",
                     m_assembled + payloadLen, kDataChnlFrameMax, header.packetNum);
            FlushChunk(handle);
            AbandonFrame();
            return;
        }
        memcpy(m_frame.get() + m_assembled, payload, payloadLen);
        m_assembled += payloadLen;
        if (header.sliceMarker != 0)
            FlushChunk(handle);
        m_lastPacketNum = header.packetNum;
        return;
    }

    // A gap: hand on what was joined; every slice up to the next first
    // slice goes the same way, as lastPacketNum stays.
    FlushChunk(handle);
    AbandonFrame();
}

bool CDataChannelBase::GrowFrameBuffer(uint32_t needed)
{
    if (needed > kDataChnlFrameMax)
        return false;
    uint32_t capacity = m_capacity;
    while (capacity < needed)
        capacity = capacity > kDataChnlFrameMax / 2 ? kDataChnlFrameMax : capacity * 2;
    uint8_t* grown = new (std::nothrow) uint8_t[capacity];
    if (grown == nullptr)
        return false;
    memcpy(grown, m_frame.get(), m_assembled);
    m_frame.reset(grown);
    m_capacity = capacity;
    return true;
}

void CDataChannelBase::FlushChunk(uint32_t handle)
{
    if (m_assembled != 0) {
        if (m_frameFlags & 1) {
            ProxyLog(4, "*** Receive one ChunkData which had Head.. ");
            OnChunkData(handle, nullptr, 0, 0, 2);
        }
        OnChunkData(handle, m_frame.get(), m_assembled, m_frameTimestamp, m_frameFlags);
        m_assembled = 0;
    }
    m_frameFlags = 0;
}

void CDataChannelBase::AbandonFrame()
{
    m_assembled = 0;
    OnDataLoss();
}

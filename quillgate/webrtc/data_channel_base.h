// A browser without media tracks sends its container stream on a data
// channel, cut into numbered packets. Here they are put back in order in a
// ring, missing ones are given up after a time-out, and the slices of each
// frame are joined into one chunk for the derived class.
#ifndef QG_WEBRTC_DATA_CHANNEL_BASE_H
#define QG_WEBRTC_DATA_CHANNEL_BASE_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <pthread.h>
#include <stdint.h>
#include <sys/types.h>

// The first 28 bytes of every data-channel message, as the browser writes
// them: little-endian, no gaps. Bytes 3 and 23 to 27 are not read.
struct DataChnlPacketHeader {
    uint8_t magic[3];     // 0: 07 01 01
    uint32_t blockNum;    // 4: 0 in a frame's first slice
    uint8_t sliceMarker;  // 8: not 0 in a frame's last slice
    uint16_t sliceNum;    // 9: 0 in a frame's first slice
    uint32_t sliceLen;    // 11: payload bytes after the header
    uint32_t timestamp;   // 15: frame time in ms
    uint32_t packetNum;   // 19: running number, from 0 after each reset
};

const uint32_t kDataChnlHeaderSize = 28;
const uint32_t kDataChnlMaxSliceLen = 1400;
const uint32_t kDataChnlSlotBytes = 1500;  // the longest message a slot takes
const uint32_t kDataChnlRingSlots = 1024;
const uint32_t kDataChnlFrameStart = 102400;  // frame buffer when the ring is made
const uint32_t kDataChnlFrameMax = 1400000;   // a frame beyond this is abandoned

// Reads the header from the first kDataChnlHeaderSize bytes of data.
void ParseDataChnlPacketHeader(const uint8_t* data, DataChnlPacketHeader* header);
bool IsDataChnlMagic(const DataChnlPacketHeader& header);

class CDataChannelBase
{
public:
    // Starts the reassembly thread. A derived class must call StopThread in
    // its own destructor: the thread calls its hooks until it is joined.
    // The ring and the frame buffer wait for the first data channel.
    CDataChannelBase();
    virtual ~CDataChannelBase();

    // Hooks, all run on the reassembly thread with the ring mutex held.
    // One joined chunk: flags 1 when it begins a frame (announced just
    // before by a call with null data, length 0 and flags 2), 0 when it
    // continues a frame after an earlier flush.
    virtual void OnChunkData(uint32_t handle, uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags);
    // The frame in progress was given up.
    virtual void OnDataLoss();
    // Runs inside ResetChannel (on the caller's thread, ring mutex held),
    // so the receiver of the chunks can be rebuilt while none is handed on.
    virtual void OnChannelReset(uint32_t handle);

    // Stores one message of the peer object `handle`; only the current
    // handle's messages are taken.
    void OnReceiveData(uint32_t handle, uint32_t channelId, const uint8_t* data, uint32_t length);
    // A data channel opened: its handle becomes current and the packet
    // sequence starts again at 0, in one hold of the ring mutex.
    void ResetChannel(uint32_t handle);
    uint32_t GetCurrentHandle() const { return m_currentHandle.load(); }
    // Packets stored and not yet consumed.
    uint32_t GetPending() const { return m_pending.load(); }
    // The ring and the frame buffer are there (from the first opening or
    // the first packet stored on).
    bool HasBuffers() const { return m_hasBuffers.load(); }
    // The reassembly thread's kernel id; 0 while none runs.
    pid_t GetThreadId() const { return m_threadId.load(); }

    void StartThread();
    void StopThread();
    // One look at the ring, as the thread takes it; returns the pause in ms
    // the thread takes before the next look, with the mutex already free.
    // afterSleep: the thread has just woken from its sleep on an empty
    // ring, and a missing packet is not given up at this look.
    // Callable alone while no thread runs (tests, benches).
    uint32_t ProcessStep(bool afterSleep = false);

private:
    // Holds are short and both sides come at packet rate, so a waiter spins
    // a little before it sleeps in the kernel.
    class RingMutex
    {
    public:
        RingMutex()
        {
            pthread_mutexattr_t attr;
            pthread_mutexattr_init(&attr);
            pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
            pthread_mutex_init(&m_mutex, &attr);
            pthread_mutexattr_destroy(&attr);
        }
        ~RingMutex() { pthread_mutex_destroy(&m_mutex); }
        RingMutex(const RingMutex&) = delete;
        RingMutex& operator=(const RingMutex&) = delete;
        void lock() { pthread_mutex_lock(&m_mutex); }
        void unlock() { pthread_mutex_unlock(&m_mutex); }

    private:
        pthread_mutex_t m_mutex;
    };

    struct RingSlot {
        uint32_t index;  // the slot's own number
        uint8_t data[kDataChnlSlotBytes];
        uint32_t used;  // 1 while a packet waits
        uint32_t timestamp;
        uint32_t length;
        uint32_t channelId;
        uint32_t handle;
        uint32_t packetNum;
    };

    static void* _ThreadProc(void* arg);
    void ProcessPackets();
    bool WaitForPending();
    bool EnsureBuffers();
    void handleSliceData(uint32_t handle, const uint8_t* data, uint32_t length);
    void FlushChunk(uint32_t handle);
    void AbandonFrame();
    bool GrowFrameBuffer(uint32_t needed);

    std::unique_ptr<RingSlot[]> m_ring;
    uint32_t m_readIndex;  // packet number expected next
    std::atomic<uint32_t> m_pending;
    std::atomic<bool> m_stop;
    pthread_t m_thread;
    bool m_hasThread;
    std::atomic<pid_t> m_threadId;
    RingMutex m_ringMutex;  // ring, counters and frame state; held across the hooks
    // Signalled under the ring mutex when pending leaves 0 and at stop.
    std::condition_variable_any m_stored;
    std::atomic<bool> m_hasBuffers;
    std::unique_ptr<uint8_t[]> m_frame;
    uint32_t m_capacity;
    uint32_t m_assembled;
    uint32_t m_frameFlags;  // bit 0: the frame began with its first slice
    uint32_t m_lastPacketNum;
    uint32_t m_lostPackNo;  // last number declared lost; all bits set when none
    uint32_t m_frameTimestamp;
    std::atomic<uint32_t> m_currentHandle;
    // The thread's own state, kept here so one step can run alone.
    uint32_t m_deadline;  // 0: not set
    uint32_t m_lossesInRow;
    uint32_t m_packetsInRow;
};

#endif

// The demuxer unit, the module's side of the in-memory demuxer: a
// container stream that arrives in chunks (a browser's media over a data
// channel) is demultiplexed from memory by FFmpeg, and the frames of its
// first video and first audio stream go to the program's delegate, each
// when its presentation time has come. It reaches the program only through
// DemuxHost(): its log, its media clock and its delegate.
#ifndef QG_SDKLINK_DEMUX_DEMUXER_UNIT_H
#define QG_SDKLINK_DEMUX_DEMUXER_UNIT_H

#include <atomic>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <stdint.h>
#include <vector>

#include "quillgate/sdklink/demux/demux_module_api.h"

struct AVBSFContext;
struct AVFormatContext;
struct AVInputFormat;
struct AVIOContext;
struct AVPacket;

// The program's services: given to the module by QGDMX_Init, or the
// program's own where the unit is linked in.
const QgDemuxHost& DemuxHost();
void DemuxLog(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Each input buffer's size, and so the most that may wait before the input
// opens or behind a full buffer.
const uint32_t kDemuxInputBufferSize = 1400000;

// The demuxer proper: two input buffers that FFmpeg's read callback drains
// in turn, the input opened on them, and a delivery thread that paces the
// frames out.
class CDemuxerUnit
{
public:
    // States of the input.
    enum {
        kClosed = 0,
        kOpenedShort = 1,  // the bytes ran out while the input opened
        kProbedShort = 2,  // the bytes ran out while the streams were probed
        kOpen = 3,
    };

    CDemuxerUnit();
    ~CDemuxerUnit();
    CDemuxerUnit(const CDemuxerUnit&) = delete;
    CDemuxerUnit& operator=(const CDemuxerUnit&) = delete;

    // Allocates the two input buffers and the held-frame buffer: 0, or -1
    // when one cannot be had.
    int Init();

    // One chunk of the stream; flags bit 0 starts a new stream (timestamp 0
    // counts as 1 there). Until the input opens, the chunks wait and each
    // tries an open on all of them; after a failed open only a chunk that
    // makes the queue twice what it was then. 0, or -1 when the chunk cannot
    // be taken (no buffers, or too many bytes already wait).
    int InputData(const uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags);
    // Opens FFmpeg's input on the queued chunks and starts the delivery
    // thread: 0, or -1 (queue too long, no I/O buffer), -2 (no I/O context),
    // -3 (the input does not open), -4 (the streams cannot be probed), -5 (no
    // video or audio stream, or no H.264 filter).
    int OpenInput();
    // Joins the delivery thread and forgets the stream; always 0.
    int CloseInput();

    static int read_buffer(void* opaque, uint8_t* buf, int size);
    static void* ThreadProc(void* param);

    uint32_t GetState();
    // From a successful open until the delivery thread ends.
    bool IsRunning();

private:
    struct InputBuffer {
        std::unique_ptr<uint8_t[]> data;
        uint32_t capacity = 0;
        uint32_t readPos = 0;
        uint32_t writePos = 0;
        bool reading = false;

        uint32_t Unread() const { return writePos - readPos; }
        void Reset(bool beingRead)
        {
            readPos = 0;
            writePos = 0;
            reading = beingRead;
        }
    };

    struct QueuedChunk {
        std::unique_ptr<uint8_t[]> data;
        uint32_t length = 0;
        uint32_t timestamp = 0;
    };

    // Pacing of one medium: frames leave relative to the first delivered one.
    struct MediumClock {
        int timeBaseNum = 0;
        int timeBaseDen = 0;
        bool referenceSet = false;
        uint32_t referenceTick = 0;
        int64_t referencePts = 0;
        // Of the current reading: the last packet's time, where the next
        // one ends up without a time of its own, and whether any had one.
        int64_t lastPts = 0;
        int64_t nextPts = 0;
        bool timedSeen = false;
    };

    // The one frame waiting for its time.
    struct HeldFrame {
        std::unique_ptr<uint8_t[]> data;
        uint32_t capacity = 0;
        uint32_t length = 0;
        int64_t pts = 0;
        bool isVideo = false;
        uint32_t flags = 0;
        uint32_t sequence = 0;
        bool waiting = false;
    };

    void DeliveryLoop();
    bool DeliverOpenInput(AVPacket* packet, AVPacket* filtered);
    bool IsMediaPacket(const AVFormatContext* format, const AVPacket* packet) const;
    static void PlacePacket(AVPacket* packet, MediumClock& clock);
    void HoldPacket(AVPacket* packet, bool isVideo, uint32_t sequence, AVPacket* filtered);
    bool BeginHeld(const AVPacket* packet, bool isVideo, uint32_t flags, uint32_t sequence);
    bool AppendHeld(const uint8_t* data, uint32_t length);
    // Waits until the held frame is due and hands it on; false once stop is set.
    bool DeliverHeldFrame();
    bool HeldFrameDue(uint32_t now);

    // FFmpeg's input on the queued chunks (the state it reached in state):
    // 0 or the errors of OpenInput.
    int OpenOnQueue(uint32_t& state);
    void CommitOpen(uint32_t state);
    bool OpenDue() const;
    bool ReopenOnNewChunks();
    int OpenContext();
    uint32_t CountWholePackets(const AVInputFormat* format);
    int AppendToOpenInput(const uint8_t* data, uint32_t length);
    uint32_t TakeInput(uint8_t* out, uint32_t size);
    void SwitchInputBuffers();
    void ReportFormats(bool probeComplete);
    void FreeInput();
    void FreeFFmpeg();
    void JoinThread();

    std::atomic<bool> m_stop;
    pthread_t m_thread;
    bool m_threadStarted;

    std::mutex m_mutex;
    // Guarded by m_mutex: state, buffers, queues, running.
    uint32_t m_state;
    InputBuffer m_bufA;
    InputBuffer m_bufB;
    std::vector<QueuedChunk> m_queue;  // chunks since the stream began, until it opens
    uint32_t m_queuedBytes;
    size_t m_openedChunks;           // of the queue, those the last open read
    uint32_t m_failedOpenBytes;      // of the queue at the last failed open; 0: none since the stream began
    bool m_queueFull;                // a chunk was dropped: no open until a restart
    std::vector<uint8_t> m_waiting;  // open: bytes behind a full input buffer
    bool m_underflow;
    bool m_running;

    // FFmpeg's side: made and freed by the caller's thread, read by the
    // delivery thread only while it runs.
    AVFormatContext* m_format;
    AVBSFContext* m_bsf;
    AVIOContext* m_io;
    int m_videoIndex;
    int m_audioIndex;
    uint32_t m_shortWholePackets;  // short open: the media packets that may go out

    uint32_t m_baseTimestamp;
    MediumClock m_videoClock;
    MediumClock m_audioClock;
    HeldFrame m_held;
    uint32_t m_deliveredSequence;
    bool m_videoFormatReported;
    bool m_audioFormatReported;
};

#endif

// The unit's input side (chunks, buffers, the read callback) and opening
// and closing FFmpeg's input.
#include "quillgate/sdklink/demux/demuxer_unit.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/rational.h>
}

namespace {

const uint32_t kHeldFrameSize = 102400;  // at first; it grows with larger frames
const int kIoBufferSize = 2800;
const int64_t kProbeSize = 1000000;

// FFmpeg codec -> the SDK's codec number.
struct CodecRoute {
    AVCodecID ffmpeg;
    uint32_t sdk;
};

const CodecRoute kCodecRoutes[] = {
    {AV_CODEC_ID_H264, 1},       {AV_CODEC_ID_MJPEG, 2},     {AV_CODEC_ID_VP8, 3},    {AV_CODEC_ID_WMV2, 4},
    {AV_CODEC_ID_VP9, 6},        {AV_CODEC_ID_GIF, 7},       {AV_CODEC_ID_PNG, 8},    {AV_CODEC_ID_BMP, 9},
    {AV_CODEC_ID_AMR_NB, 10},    {AV_CODEC_ID_AMR_WB, 11},   {AV_CODEC_ID_MP3, 12},   {AV_CODEC_ID_AAC, 13},
    {AV_CODEC_ID_MP2, 14},       {AV_CODEC_ID_CELT, 15},     {AV_CODEC_ID_SPEEX, 16}, {AV_CODEC_ID_WMAV2, 17},
    {AV_CODEC_ID_G729, 18},      {AV_CODEC_ID_PCM_ALAW, 20}, {AV_CODEC_ID_OPUS, 21},  {AV_CODEC_ID_PCM_S16LE, 23},
    {AV_CODEC_ID_ADPCM_SWF, 24}, {AV_CODEC_ID_ILBC, 25},
};

uint32_t ConvertFFmpegCodecId(AVCodecID id)
{
    for (const CodecRoute& route : kCodecRoutes) {
        if (route.ffmpeg == id)
            return route.sdk;
    }
    return 0;
}

void PrintFFmpegError(int error)
{
    char text[100] = {0};
    av_strerror(error, text, sizeof(text));
    printf("ffmpeg error: %s\n", text);
    fflush(stdout);
}

// The short input's bytes as a reader of its own, which notes when a read
// finds nothing left.
struct BytesReader {
    const uint8_t* data;
    uint32_t length;
    uint32_t pos;
    bool endMet;

    static int Read(void* opaque, uint8_t* buf, int size)
    {
        BytesReader* reader = static_cast<BytesReader*>(opaque);
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(size), reader->length - reader->pos);
        if (n == 0) {
            reader->endMet = true;
            return AVERROR_EOF;
        }
        memcpy(buf, reader->data + reader->pos, n);
        reader->pos += n;
        return static_cast<int>(n);
    }
};

}  // namespace

void DemuxLog(uint32_t level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    DemuxHost().logV(level, format, args);
    va_end(args);
}

// ---- unit ----

CDemuxerUnit::CDemuxerUnit()
    : m_stop(false), m_thread(), m_threadStarted(false), m_state(kClosed), m_queuedBytes(0), m_openedChunks(0),
      m_failedOpenBytes(0), m_queueFull(false), m_underflow(false), m_running(false), m_format(nullptr), m_bsf(nullptr),
      m_io(nullptr), m_videoIndex(-1), m_audioIndex(-1), m_shortWholePackets(0), m_baseTimestamp(0),
      m_deliveredSequence(0), m_videoFormatReported(false), m_audioFormatReported(false)
{}

CDemuxerUnit::~CDemuxerUnit()
{
    CloseInput();
}

int CDemuxerUnit::Init()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bufA.data.reset(new (std::nothrow) uint8_t[kDemuxInputBufferSize]);
    m_bufB.data.reset(new (std::nothrow) uint8_t[kDemuxInputBufferSize]);
    m_held.data.reset(new (std::nothrow) uint8_t[kHeldFrameSize]);
    if (!m_bufA.data || !m_bufB.data || !m_held.data)
        return -1;
    m_bufA.capacity = kDemuxInputBufferSize;
    m_bufB.capacity = kDemuxInputBufferSize;
    m_held.capacity = kHeldFrameSize;
    m_bufA.Reset(true);
    m_bufB.Reset(false);
    return 0;
}

uint32_t CDemuxerUnit::GetState()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

bool CDemuxerUnit::IsRunning()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

int CDemuxerUnit::InputData(const uint8_t* data, uint32_t length, uint32_t timestamp, uint32_t flags)
{
    if (flags & 1) {
        CloseInput();
        m_baseTimestamp = timestamp ? timestamp : 1;
    }
    // An empty chunk (the announcement of a frame) adds nothing to open on.
    if (!data || length == 0)
        return 0;

    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_bufA.data || !m_bufB.data)
        return -1;
    if (m_state == kOpen) {
        if (AppendToOpenInput(data, length) == 0)
            return 0;
        const size_t waiting = m_waiting.size();
        lock.unlock();
        DemuxLog(4, "CDemuxerUnit::InputData: %zu bytes wait for the reader, chunk of %u bytes refused", waiting,
                 length);
        return -1;
    }

    // Before the open every chunk since the stream began waits, as much as
    // buffer A can take; past that the stream is lost until it restarts.
    if (m_queueFull || length > kDemuxInputBufferSize - m_queuedBytes) {
        m_queueFull = true;
        const uint32_t queued = m_queuedBytes;
        lock.unlock();
        DemuxLog(4, "CDemuxerUnit::InputData: %u bytes wait for the open, chunk of %u bytes dropped", queued, length);
        return -1;
    }
    QueuedChunk chunk;
    chunk.data.reset(new (std::nothrow) uint8_t[length]);
    if (chunk.data) {
        memcpy(chunk.data.get(), data, length);
        chunk.length = length;
        chunk.timestamp = timestamp;
        m_queue.push_back(std::move(chunk));
        m_queuedBytes += length;
    } else {
        DemuxLog(4, "CDemuxerUnit::InputData: no memory for a chunk of %u bytes", length);
    }
    const bool openNow = !m_running && OpenDue();
    lock.unlock();

    if (openNow)
        OpenInput();
    return 0;
}

// Called with m_mutex held. Each open reads all the queue again, probing up
// to a megabyte, so bytes that never open (garbage) would cost the square
// of their length if every chunk tried: after a failed open the next waits
// until the queue has doubled. A real stream opens within its first
// chunks, and a restart forgets the failure.
bool CDemuxerUnit::OpenDue() const
{
    return m_failedOpenBytes == 0 || static_cast<uint64_t>(m_queuedBytes) >= 2ull * m_failedOpenBytes;
}

// Called with m_mutex held. The chunk goes behind the bytes already given:
// into the buffer not being read as far as it has room, the rest waits for
// the reader to switch buffers; -1 (nothing taken) when that would make too
// many wait.
int CDemuxerUnit::AppendToOpenInput(const uint8_t* data, uint32_t length)
{
    InputBuffer& target = m_bufA.reading ? m_bufB : m_bufA;
    const uint32_t room = m_waiting.empty() ? target.capacity - target.writePos : 0;
    const uint32_t now = std::min(room, length);
    const uint32_t rest = length - now;
    if (rest > kDemuxInputBufferSize - m_waiting.size())
        return -1;
    memcpy(target.data.get() + target.writePos, data, now);
    target.writePos += now;
    m_waiting.insert(m_waiting.end(), data + now, data + length);
    return 0;
}

// Called with m_mutex held: the drained buffer becomes the one written, and
// takes what waited.
void CDemuxerUnit::SwitchInputBuffers()
{
    InputBuffer& drained = m_bufA.reading ? m_bufA : m_bufB;
    InputBuffer& next = m_bufA.reading ? m_bufB : m_bufA;
    drained.Reset(false);
    next.reading = true;
    const uint32_t moved = static_cast<uint32_t>(std::min<size_t>(m_waiting.size(), drained.capacity));
    if (moved) {
        memcpy(drained.data.get(), m_waiting.data(), moved);
        drained.writePos = moved;
        m_waiting.erase(m_waiting.begin(), m_waiting.begin() + moved);
    }
}

// Called with m_mutex held: up to size bytes in stream order.
uint32_t CDemuxerUnit::TakeInput(uint8_t* out, uint32_t size)
{
    uint32_t taken = 0;
    while (taken < size) {
        InputBuffer& current = m_bufA.reading ? m_bufA : m_bufB;
        const InputBuffer& other = m_bufA.reading ? m_bufB : m_bufA;
        if (current.Unread() == 0) {
            if (other.Unread() == 0)
                break;
            SwitchInputBuffers();
            continue;
        }
        const uint32_t n = std::min(current.Unread(), size - taken);
        memcpy(out + taken, current.data.get() + current.readPos, n);
        current.readPos += n;
        taken += n;
    }
    return taken;
}

int CDemuxerUnit::read_buffer(void* opaque, uint8_t* buf, int size)
{
    CDemuxerUnit* unit = static_cast<CDemuxerUnit*>(opaque);
    if (!unit)
        return -1;
    if (size <= 0)
        return 0;
    while (!unit->m_stop) {
        {
            std::lock_guard<std::mutex> lock(unit->m_mutex);
            const uint32_t taken = unit->TakeInput(buf, static_cast<uint32_t>(size));
            if (taken < static_cast<uint32_t>(size))
                unit->m_underflow = true;
            if (taken > 0)
                return static_cast<int>(taken);
            // Opening and probing, or a short open: the bytes end here.
            if (unit->m_state != kOpen)
                return AVERROR_EOF;
        }
        DemuxHost().sleepMs(2);
    }
    return AVERROR_EOF;
}

void CDemuxerUnit::JoinThread()
{
    if (!m_threadStarted)
        return;
    m_stop = true;
    pthread_join(m_thread, nullptr);
    m_threadStarted = false;
    // Opening reads through the same callback, which gives nothing while stop is set.
    m_stop = false;
}

// Only while no delivery thread runs.
void CDemuxerUnit::FreeInput()
{
    avformat_close_input(&m_format);
    // The context may have replaced its buffer; the one it holds now is ours to free.
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
}

void CDemuxerUnit::FreeFFmpeg()
{
    FreeInput();
    av_bsf_free(&m_bsf);
    m_videoIndex = -1;
    m_audioIndex = -1;
}

// FFmpeg's input on the unit's buffers: 0, -1, -2 or -3 as OpenInput.
int CDemuxerUnit::OpenContext()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_underflow = false;
    }

    uint8_t* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer)
        return -1;
    m_io = avio_alloc_context(ioBuffer, kIoBufferSize, 0, this, &CDemuxerUnit::read_buffer, nullptr, nullptr);
    if (!m_io) {
        av_free(ioBuffer);
        return -2;
    }

    m_format = avformat_alloc_context();
    if (!m_format) {
        PrintFFmpegError(AVERROR(ENOMEM));
        return -3;
    }
    m_format->pb = m_io;
    m_format->opaque = this;
    // Probing ends inside the bytes the unit can hold.
    m_format->probesize = kProbeSize;
    const int ret = avformat_open_input(&m_format, nullptr, nullptr, nullptr);
    if (ret < 0) {
        PrintFFmpegError(ret);
        return -3;
    }
    return 0;
}

int CDemuxerUnit::OpenInput()
{
    // A delivery thread that ended by itself (a short open) is joined before
    // its input goes.
    JoinThread();
    uint32_t state = kClosed;
    const int ret = OpenOnQueue(state);
    if (ret != 0)
        return ret;
    CommitOpen(state);
    m_stop = false;
    if (pthread_create(&m_thread, nullptr, &CDemuxerUnit::ThreadProc, this) != 0) {
        DemuxLog(16, "CDemuxerUnit::OpenInput: cannot start the delivery thread");
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_state = kClosed;
            m_running = false;
        }
        FreeFFmpeg();
        return -1;
    }
    m_threadStarted = true;
    return 0;
}

int CDemuxerUnit::OpenOnQueue(uint32_t& state)
{
    FreeFFmpeg();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = kClosed;
        m_bufA.Reset(true);
        m_bufB.Reset(false);
        m_waiting.clear();
        // This try covers the queue as it is now; what comes later is new.
        m_openedChunks = m_queue.size();
        // It counts as failed until it opens.
        m_failedOpenBytes = std::max<uint32_t>(m_queuedBytes, 1);
        for (const QueuedChunk& chunk : m_queue) {
            if (!chunk.data || chunk.length > m_bufA.capacity - m_bufA.writePos)
                return -1;
            memcpy(m_bufA.data.get() + m_bufA.writePos, chunk.data.get(), chunk.length);
            m_bufA.writePos += chunk.length;
        }
    }

    int ret = OpenContext();
    if (ret < 0) {
        FreeFFmpeg();
        return ret;
    }
    state = kClosed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_underflow)
            state = kOpenedShort;
    }

    ret = avformat_find_stream_info(m_format, nullptr);
    if (ret < 0) {
        PrintFFmpegError(ret);
        FreeFFmpeg();
        return -4;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_underflow && state != kOpenedShort)
            state = kProbedShort;
    }

    for (unsigned int i = 0; i < m_format->nb_streams; ++i) {
        const AVMediaType type = m_format->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && m_videoIndex < 0)
            m_videoIndex = static_cast<int>(i);
        else if (type == AVMEDIA_TYPE_AUDIO && m_audioIndex < 0)
            m_audioIndex = static_cast<int>(i);
    }
    if (m_videoIndex < 0 && m_audioIndex < 0) {
        FreeFFmpeg();
        return -5;
    }

    if (m_videoIndex >= 0) {
        const AVStream* video = m_format->streams[m_videoIndex];
        m_videoClock.timeBaseNum = video->time_base.num;
        m_videoClock.timeBaseDen = video->time_base.den;
        if (video->codecpar->codec_id == AV_CODEC_ID_H264) {
            const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
            if (!filter || av_bsf_alloc(filter, &m_bsf) < 0) {
                FreeFFmpeg();
                return -5;
            }
            if (avcodec_parameters_copy(m_bsf->par_in, video->codecpar) < 0) {
                FreeFFmpeg();
                return -5;
            }
            m_bsf->time_base_in = video->time_base;
            if (av_bsf_init(m_bsf) < 0) {
                FreeFFmpeg();
                return -5;
            }
        }
    }
    if (m_audioIndex >= 0) {
        const AVStream* audio = m_format->streams[m_audioIndex];
        m_audioClock.timeBaseNum = audio->time_base.num;
        m_audioClock.timeBaseDen = audio->time_base.den;
    }
    ReportFormats(state == kClosed);

    if (state == kClosed)
        state = kOpen;
    else
        m_shortWholePackets = CountWholePackets(m_format->iformat);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failedOpenBytes = 0;
    return 0;
}

// Opened: the state goes up and, once the input is whole, the queue goes
// into the buffers, together with any chunk queued while the input opened,
// in one hold so that a chunk appended meanwhile keeps its place. A short
// open keeps its queue: it is opened again on all of it.
void CDemuxerUnit::CommitOpen(uint32_t state)
{
    uint32_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = state;
        m_running = true;
        if (state != kOpen)
            return;
        for (size_t i = m_openedChunks; i < m_queue.size(); ++i) {
            if (m_queue[i].data && AppendToOpenInput(m_queue[i].data.get(), m_queue[i].length) != 0)
                dropped += m_queue[i].length;
        }
        m_queue.clear();
        m_queuedBytes = 0;
        m_openedChunks = 0;
    }
    if (dropped)
        DemuxLog(4, "CDemuxerUnit::OpenInput: %u bytes queued while the input opened dropped", dropped);
}

// On the delivery thread once a short open has given all it can: chunks
// that came meanwhile found the thread running and opened nothing, so the
// input is opened again here on all of them. False (and the thread no
// longer running) when nothing came, after a failed open too little, or on
// stop: a later chunk opens it.
bool CDemuxerUnit::ReopenOnNewChunks()
{
    while (true) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop || m_queue.size() == m_openedChunks || !OpenDue()) {
                m_running = false;
                return false;
            }
        }
        uint32_t state = kClosed;
        if (OpenOnQueue(state) == 0) {
            CommitOpen(state);
            return true;
        }
        // Still too little to open on: unless enough came during the try,
        // a later chunk tries again.
    }
}

// A short input ends inside a packet, and at the end of the bytes some
// formats and parsers flush what each stream has begun, cut short and out of
// order; probing met that end already. A second reading of the same bytes,
// without probing, counts the media packets that come before any read meets
// the end: those are whole and in the order the longer input will give.
uint32_t CDemuxerUnit::CountWholePackets(const AVInputFormat* format)
{
    BytesReader reader = {m_bufA.data.get(), m_bufA.writePos, 0, false};
    uint32_t count = 0;

    uint8_t* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!ioBuffer)
        return 0;
    AVIOContext* io = avio_alloc_context(ioBuffer, kIoBufferSize, 0, &reader, &BytesReader::Read, nullptr, nullptr);
    if (!io) {
        av_free(ioBuffer);
        return 0;
    }

    AVFormatContext* counting = avformat_alloc_context();
    AVPacket* packet = av_packet_alloc();
    if (counting && packet) {
        counting->pb = io;
        counting->probesize = kProbeSize;
        if (avformat_open_input(&counting, nullptr, format, nullptr) == 0) {
            while (!reader.endMet && av_read_frame(counting, packet) >= 0) {
                if (!reader.endMet && IsMediaPacket(counting, packet))
                    ++count;
                av_packet_unref(packet);
            }
        }
    }
    av_packet_free(&packet);
    avformat_close_input(&counting);
    av_freep(&io->buffer);
    avio_context_free(&io);
    return count;
}

// A medium's format goes out once. After a full probe it is what FFmpeg
// found; a short probe may not know it yet (no picture size, no sample
// rate, or the frame rate still the time base's stand-in), and then a later,
// longer open reports it. Without a delegate nothing goes out, and it is
// reported after the next open.
void CDemuxerUnit::ReportFormats(bool probeComplete)
{
    const QgDemuxHost& host = DemuxHost();
    if (m_videoIndex >= 0 && !m_videoFormatReported) {
        const AVStream* video = m_format->streams[m_videoIndex];
        const AVRational rate = video->r_frame_rate;
        // A rate FFmpeg could not tell is the time base's inverse; an average
        // rate that agrees makes it real (AVI's time base is one frame).
        const bool rateGuessed = rate.num == video->time_base.den && rate.den == video->time_base.num &&
                                 av_cmp_q(video->avg_frame_rate, rate) != 0;
        const bool known = video->codecpar->width > 0 && video->codecpar->height > 0 && !rateGuessed;
        if (probeComplete || known) {
            const uint32_t fps = rate.den != 0 ? static_cast<uint32_t>(rate.num / rate.den) : 0;
            m_videoFormatReported = host.videoFormat(ConvertFFmpegCodecId(video->codecpar->codec_id),
                                                     static_cast<uint32_t>(video->codecpar->width),
                                                     static_cast<uint32_t>(video->codecpar->height), fps) == 0;
        }
    }
    if (m_audioIndex >= 0 && !m_audioFormatReported) {
        const AVCodecParameters* audio = m_format->streams[m_audioIndex]->codecpar;
        const bool known = audio->sample_rate > 0 && audio->ch_layout.nb_channels > 0;
        if (probeComplete || known) {
            m_audioFormatReported = host.audioFormat(ConvertFFmpegCodecId(audio->codec_id),
                                                     static_cast<uint32_t>(audio->ch_layout.nb_channels),
                                                     static_cast<uint32_t>(audio->bits_per_coded_sample),
                                                     static_cast<uint32_t>(audio->sample_rate)) == 0;
        }
    }
}

int CDemuxerUnit::CloseInput()
{
    JoinThread();
    FreeFFmpeg();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = kClosed;
    m_running = false;
    m_underflow = false;
    m_bufA.Reset(true);
    m_bufB.Reset(false);
    m_waiting.clear();
    m_waiting.shrink_to_fit();
    m_queue.clear();
    m_queuedBytes = 0;
    m_openedChunks = 0;
    m_failedOpenBytes = 0;
    m_queueFull = false;

    m_baseTimestamp = 0;
    m_videoClock = MediumClock();
    m_audioClock = MediumClock();
    m_held.length = 0;
    m_held.pts = 0;
    m_held.isVideo = false;
    m_held.flags = 0;
    m_held.sequence = 0;
    m_held.waiting = false;
    m_deliveredSequence = 0;
    // Formats go out again after the next open.
    m_videoFormatReported = false;
    m_audioFormatReported = false;
    return 0;
}

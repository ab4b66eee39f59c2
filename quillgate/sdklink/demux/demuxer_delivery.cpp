// The unit's delivery thread: packets are read from the open input, H.264
// turned into Annex-B, held one at a time and handed to the delegate when
// their time has come.
#include "quillgate/sdklink/demux/demuxer_unit.h"

#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include "util/win32_shims.h"

namespace {

// Milliseconds of a timestamp, cut toward zero; 0 without a usable time base.
int64_t TicksToMs(int64_t ticks, int num, int den)
{
    if (num <= 0 || den <= 0)
        return 0;
    return av_rescale_rnd(ticks, static_cast<int64_t>(num) * 1000, den, AV_ROUND_ZERO);
}

// |a - b| without overflow, as far as int64_t reaches.
int64_t TicksApart(int64_t a, int64_t b)
{
    const uint64_t apart = a > b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                                 : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
    return apart > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(apart);
}

}  // namespace

void* CDemuxerUnit::ThreadProc(void* param)
{
    CDemuxerUnit* unit = static_cast<CDemuxerUnit*>(param);
    if (!unit)
        return nullptr;
    unit->DeliveryLoop();
    return nullptr;
}

void CDemuxerUnit::DeliveryLoop()
{
    AVPacket* packet = av_packet_alloc();
    AVPacket* filtered = av_packet_alloc();
    if (!packet || !filtered)
        DemuxLog(16, "CDemuxerUnit::ThreadProc: no memory for packets");
    // A short open gives what its bytes hold; what came meanwhile is read by
    // an open on all the bytes, here or by the next chunk.
    while (packet && filtered && DeliverOpenInput(packet, filtered) && ReopenOnNewChunks()) {
    }
    av_packet_free(&packet);
    av_packet_free(&filtered);

    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
}

// Reads and hands on the open input's packets until it ends: true when it
// was a short open that met the end of its bytes.
bool CDemuxerUnit::DeliverOpenInput(AVPacket* packet, AVPacket* filtered)
{
    // A re-opened input is read from its start: the packets up to the
    // delivered sequence went out before, and untimed ones are placed anew.
    m_held.waiting = false;
    for (MediumClock* clock : {&m_videoClock, &m_audioClock}) {
        clock->nextPts = 0;
        clock->lastPts = 0;
        clock->timedSeen = false;
    }
    bool shortOpen = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        shortOpen = m_state != kOpen;
    }

    uint32_t sequence = 0;
    while (!m_stop) {
        if (!DeliverHeldFrame())
            return false;
        if (av_read_frame(m_format, packet) < 0)
            return shortOpen;
        if (!IsMediaPacket(m_format, packet)) {
            av_packet_unref(packet);
            DemuxHost().sleepMs(1);
            continue;
        }
        ++sequence;
        MediumClock& clock = packet->stream_index == m_videoIndex ? m_videoClock : m_audioClock;
        const bool untimed = packet->pts == AV_NOPTS_VALUE && packet->dts == AV_NOPTS_VALUE;
        const bool timedBefore = clock.timedSeen;
        PlacePacket(packet, clock);
        // A short input ends with packets that may be cut short or out of
        // their order, and may have packets whose time it cannot tell yet;
        // they come whole, and timed, after the re-open. A medium without
        // any times (a raw elementary stream) never gets them: its placed
        // packets go.
        if (shortOpen && (sequence > m_shortWholePackets || (untimed && timedBefore))) {
            av_packet_unref(packet);
            return true;
        }
        if (sequence <= m_deliveredSequence) {
            av_packet_unref(packet);
            continue;
        }
        HoldPacket(packet, packet->stream_index == m_videoIndex, sequence, filtered);
        av_packet_unref(packet);
        DemuxHost().sleepMs(1);
    }
    return false;
}

// A packet without any time takes its medium's last time, and so is due at
// once with the last timestamp. A medium that had no time at all in this
// reading (a raw elementary stream) would go out unpaced under one
// timestamp: there an untimed packet goes where the previous one ends (its
// time and duration), the first at 0.
void CDemuxerUnit::PlacePacket(AVPacket* packet, MediumClock& clock)
{
    if (packet->pts == AV_NOPTS_VALUE && packet->dts == AV_NOPTS_VALUE)
        packet->pts = clock.timedSeen ? clock.lastPts : clock.nextPts;
    else
        clock.timedSeen = true;
    clock.lastPts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const int64_t at = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    clock.nextPts = packet->duration > 0 && at <= INT64_MAX - packet->duration ? at + packet->duration : at;
}

bool CDemuxerUnit::IsMediaPacket(const AVFormatContext* format, const AVPacket* packet) const
{
    if (packet->size <= 0 || packet->stream_index < 0 ||
        static_cast<unsigned int>(packet->stream_index) >= format->nb_streams)
        return false;
    const AVMediaType type = format->streams[packet->stream_index]->codecpar->codec_type;
    return (packet->stream_index == m_videoIndex && type == AVMEDIA_TYPE_VIDEO) ||
           (packet->stream_index == m_audioIndex && type == AVMEDIA_TYPE_AUDIO);
}

void CDemuxerUnit::HoldPacket(AVPacket* packet, bool isVideo, uint32_t sequence, AVPacket* filtered)
{
    const uint32_t keyFlag = (packet->flags & AV_PKT_FLAG_KEY) ? 1 : 0;

    if (!isVideo) {
        if (BeginHeld(packet, false, 0, sequence) && AppendHeld(packet->data, static_cast<uint32_t>(packet->size)))
            m_held.waiting = true;
        return;
    }

    if (!m_bsf) {
        if (BeginHeld(packet, true, keyFlag, sequence) && AppendHeld(packet->data, static_cast<uint32_t>(packet->size)))
            m_held.waiting = true;
        return;
    }

    // H.264: timing and key flag are taken before the filter takes the packet.
    if (!BeginHeld(packet, true, keyFlag, sequence))
        return;
    // Key frames lead with the parameter sets, in Annex-B.
    bool held = true;
    if (keyFlag && m_bsf->par_out->extradata_size > 0)
        held = AppendHeld(m_bsf->par_out->extradata, static_cast<uint32_t>(m_bsf->par_out->extradata_size));

    int ret = av_bsf_send_packet(m_bsf, packet);
    if (ret < 0) {
        DemuxLog(4, "CDemuxerUnit::ThreadProc: h264_mp4toannexb refused a packet of %d bytes (%d)", packet->size, ret);
        return;
    }
    bool filteredAny = false;
    while (true) {
        ret = av_bsf_receive_packet(m_bsf, filtered);
        if (ret == AVERROR(EAGAIN))
            break;
        if (ret < 0) {
            DemuxLog(4, "CDemuxerUnit::ThreadProc: h264_mp4toannexb failed on a frame (%d)", ret);
            held = false;
            break;
        }
        held = held && AppendHeld(filtered->data, static_cast<uint32_t>(filtered->size));
        filteredAny = true;
        av_packet_unref(filtered);
    }
    if (held && filteredAny)
        m_held.waiting = true;
}

// The held slot gets the packet's timing; nothing waits until it is filled.
bool CDemuxerUnit::BeginHeld(const AVPacket* packet, bool isVideo, uint32_t flags, uint32_t sequence)
{
    if (!m_held.data)
        return false;
    m_held.waiting = false;
    m_held.length = 0;
    // Every packet read has a time (PlacePacket).
    m_held.pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    m_held.isVideo = isVideo;
    m_held.flags = flags;
    m_held.sequence = sequence;
    return true;
}

// The held buffer grows to exactly what the frame needs; when it cannot,
// the frame is dropped.
bool CDemuxerUnit::AppendHeld(const uint8_t* data, uint32_t length)
{
    const uint64_t needed = static_cast<uint64_t>(m_held.length) + length;
    if (needed > UINT32_MAX)
        return false;
    if (needed > m_held.capacity) {
        std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[needed]);
        if (!larger) {
            DemuxLog(4, "CDemuxerUnit::ThreadProc: no memory for a frame of %llu bytes",
                     static_cast<unsigned long long>(needed));
            return false;
        }
        memcpy(larger.get(), m_held.data.get(), m_held.length);
        m_held.data = std::move(larger);
        m_held.capacity = static_cast<uint32_t>(needed);
    }
    memcpy(m_held.data.get() + m_held.length, data, length);
    m_held.length = static_cast<uint32_t>(needed);
    return true;
}

bool CDemuxerUnit::HeldFrameDue(uint32_t now)
{
    const MediumClock& clock = m_held.isVideo ? m_videoClock : m_audioClock;
    // The first frame of each medium sets its reference.
    if (!clock.referenceSet)
        return true;
    const int64_t apart = TicksToMs(TicksApart(m_held.pts, clock.referencePts), clock.timeBaseNum, clock.timeBaseDen);
    const int64_t elapsed = TickDistance(now, clock.referenceTick);
    return apart < elapsed;
}

bool CDemuxerUnit::DeliverHeldFrame()
{
    if (!m_held.waiting)
        return !m_stop;
    uint32_t now = DemuxHost().now();
    while (!HeldFrameDue(now)) {
        if (m_stop)
            return false;
        DemuxHost().sleepMs(10);
        now = DemuxHost().now();
    }
    if (m_stop)
        return false;

    MediumClock& clock = m_held.isVideo ? m_videoClock : m_audioClock;
    const uint32_t timestamp =
        m_baseTimestamp + static_cast<uint32_t>(TicksToMs(m_held.pts, clock.timeBaseNum, clock.timeBaseDen));
    const QgDemuxHost& host = DemuxHost();
    if (m_held.isVideo)
        host.videoData(timestamp, m_held.data.get(), m_held.length, m_held.flags);
    else
        host.audioData(timestamp, m_held.data.get(), m_held.length, m_held.flags);
    if (!clock.referenceSet) {
        clock.referenceSet = true;
        clock.referenceTick = now;
        clock.referencePts = m_held.pts;
    }
    m_deliveredSequence = m_held.sequence;
    m_held.waiting = false;
    return true;
}

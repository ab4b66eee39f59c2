// A peer's media: the SDK side's frames payloaded towards the browser in
// the codec the answer kept, and the browser's RTP depayloaded into frames
// for quillgate's callbacks, in the records the contract defines.
#include "gst_peer.h"

#include <gst/sdp/sdp.h>

#include <cstdlib>
#include <cstring>

#include "records.h"
#include "rtc_text.h"
#include "task_thread.h"

using rtcstub::Journal;
using rtcstub::JournalOn;

namespace rtcgst {

namespace {

// The encoding of a section's first payload, from its rtpmap line.
bool FirstCodec(const GstSDPMedia* media, std::string& codec, int& pt)
{
    if (gst_sdp_media_formats_len(media) == 0)
        return false;
    const char* format = gst_sdp_media_get_format(media, 0);
    pt = std::atoi(format);
    const std::string prefix = std::string(format) + " ";
    for (guint i = 0; i < gst_sdp_media_attributes_len(media); ++i) {
        const GstSDPAttribute* attribute = gst_sdp_media_get_attribute(media, i);
        if (g_strcmp0(attribute->key, "rtpmap") != 0 || !attribute->value ||
            std::strncmp(attribute->value, prefix.c_str(), prefix.size()) != 0)
            continue;
        const char* name = attribute->value + prefix.size();
        const char* slash = std::strchr(name, '/');
        codec.assign(name, slash ? static_cast<size_t>(slash - name) : std::strlen(name));
        for (char& c : codec)
            c = static_cast<char>(g_ascii_toupper(c));
        return true;
    }
    return false;
}

// Sets an enum or number property by its text, when the element has it.
void SetIfKnown(GstElement* element, const char* property, const char* value)
{
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), property))
        gst_util_set_object_arg(G_OBJECT(element), property, value);
}

// A frame a decoder can start from.
bool IsKeyFrame(const std::string& codec, const uint8_t* data, uint32_t length)
{
    if (codec == "VP8")
        return length >= 3 && (data[0] & 1) == 0;
    if (codec == "H264") {
        for (uint32_t i = 0; i + 3 < length; ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
                const int type = data[i + 3] & 0x1f;
                if (type == 5 || type == 7)
                    return true;
            }
        }
        return false;
    }
    return true;
}

// The sink pad webrtcbin made for the transceiver of that section.
GstPad* SinkPadFor(GstElement* webrtc, guint mline)
{
    GstPad* found = nullptr;
    GstIterator* it = gst_element_iterate_sink_pads(webrtc);
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstPad* pad = GST_PAD(g_value_get_object(&item));
        GstWebRTCRTPTransceiver* trans = nullptr;
        g_object_get(pad, "transceiver", &trans, nullptr);
        if (trans) {
            guint line = G_MAXUINT;
            g_object_get(trans, "mlineindex", &line, nullptr);
            if (line == mline && !gst_pad_is_linked(pad))
                found = GST_PAD(gst_object_ref(pad));
            gst_object_unref(trans);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

}  // namespace

// ---- towards the browser ----

void Peer::LinkSenders(GstSDPMessage* remote)
{
    sendersLinked_ = true;
    for (guint i = 0; i < gst_sdp_message_medias_len(remote); ++i) {
        const GstSDPMedia* media = gst_sdp_message_get_media(remote, i);
        const std::string kind = gst_sdp_media_get_media(media);
        if (kind != "audio" && kind != "video")
            continue;
        std::string codec;
        int pt = 0;
        if (gst_sdp_media_get_port(media) == 0 || !FirstCodec(media, codec, pt)) {
            Log(kind + " section " + std::to_string(i) + ": no codec, nothing sent");
            continue;
        }
        LinkSender(kind == "audio" ? kAudio : kVideo, i, codec, pt);
    }
}

bool Peer::LinkSender(Medium medium, guint mline, const std::string& codec, int pt)
{
    const char* capsText = nullptr;
    const char* payloader = nullptr;
    if (medium == kVideo && codec == "VP8") {
        capsText = "video/x-vp8";
        payloader = "rtpvp8pay";
    } else if (medium == kVideo && codec == "H264") {
        capsText = "video/x-h264,stream-format=byte-stream,alignment=au";
        payloader = "rtph264pay";
    } else if (medium == kAudio && codec == "OPUS") {
        capsText = "audio/x-opus,channels=(int)1,rate=(int)48000,channel-mapping-family=(int)0";
        payloader = "rtpopuspay";
    } else {
        Log("no payloader for " + codec + ": nothing sent");
        return false;
    }
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    GstElement* pay = gst_element_factory_make(payloader, nullptr);
    if (!src || !pay) {
        Log(std::string("cannot make ") + payloader);
        return false;
    }
    GstCaps* caps = gst_caps_from_string(capsText);
    g_object_set(src, "is-live", TRUE, "do-timestamp", TRUE, "format", GST_FORMAT_TIME, "caps", caps, "block", FALSE,
                 "max-bytes", static_cast<guint64>(4 << 20), nullptr);
    gst_caps_unref(caps);
    g_object_set(pay, "pt", static_cast<guint>(pt), nullptr);
    SetIfKnown(pay, "picture-id-mode", "15-bit");
    SetIfKnown(pay, "config-interval", "-1");
    SetIfKnown(pay, "aggregate-mode", "zero-latency");

    gst_bin_add_many(GST_BIN(pipeline_), src, pay, nullptr);
    GstPad* sink = SinkPadFor(webrtc_, mline);
    const std::string sinkName = sink ? GST_PAD_NAME(sink) : "section " + std::to_string(mline);
    GstPad* out = gst_element_get_static_pad(pay, "src");
    const bool linked = gst_element_link(src, pay) && sink && gst_pad_link(out, sink) == GST_PAD_LINK_OK;
    if (out)
        gst_object_unref(out);
    if (sink)
        gst_object_unref(sink);
    if (!linked) {
        Log("cannot link " + codec + " to " + sinkName);
        return false;
    }
    gst_element_sync_state_with_parent(pay);
    gst_element_sync_state_with_parent(src);
    {
        std::lock_guard<std::mutex> lock(sendMu_);
        Sender& s = senders_[medium];
        s.src = GST_ELEMENT(gst_object_ref(src));
        s.keyed = false;
        s.codec = codec;
    }
    Log("sending " + codec + " pt " + std::to_string(pt) + " on " + sinkName);
    return true;
}

bool Peer::Input(Medium medium, const uint8_t* data, uint32_t length)
{
    GstElement* src = nullptr;
    {
        std::lock_guard<std::mutex> lock(sendMu_);
        ++framesIn_[medium];
        Sender& s = senders_[medium];
        if (!s.src || !connected_ || !data || length == 0)
            return false;
        // What reaches the browser starts at a key frame.
        if (!s.keyed) {
            if (!IsKeyFrame(s.codec, data, length))
                return false;
            s.keyed = true;
        }
        ++framesSent_[medium];
        src = GST_ELEMENT(gst_object_ref(s.src));
    }
    gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_new_memdup(data, length));
    gst_object_unref(src);
    return true;
}

// ---- from the browser ----

void Peer::OnPadAddedThunk(GstElement* webrtc, GstPad* pad, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer || GST_PAD_DIRECTION(pad) != GST_PAD_SRC)
        return;
    peer->OnPadAdded(webrtc, pad);
}

void Peer::OnPadAdded(GstElement* webrtc, GstPad* pad)
{
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const gchar* mediaName = gst_structure_get_string(s, "media");
    const gchar* encodingName = gst_structure_get_string(s, "encoding-name");
    const std::string media = mediaName ? mediaName : "";
    std::string encoding = encodingName ? encodingName : "";
    for (char& c : encoding)
        c = static_cast<char>(g_ascii_toupper(c));
    gst_caps_unref(caps);

    std::vector<GstElement*> chain;
    Medium medium = kVideo;
    if (media == "video" && encoding == "VP8") {
        chain.push_back(gst_element_factory_make("rtpvp8depay", nullptr));
    } else if (media == "video" && encoding == "H264") {
        chain.push_back(gst_element_factory_make("rtph264depay", nullptr));
        GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
        GstCaps* au = gst_caps_from_string("video/x-h264,stream-format=byte-stream,alignment=au");
        g_object_set(filter, "caps", au, nullptr);
        gst_caps_unref(au);
        chain.push_back(filter);
    } else if (media == "audio" && encoding == "OPUS") {
        medium = kAudio;
        chain.push_back(gst_element_factory_make("rtpopusdepay", nullptr));
    }
    const bool taken = !chain.empty();
    if (taken) {
        SetIfKnown(chain[0], "request-keyframe", "true");
        SetIfKnown(chain[0], "wait-for-keyframe", "true");
        GstElement* sink = gst_element_factory_make("appsink", nullptr);
        g_object_set(sink, "sync", FALSE, "emit-signals", FALSE, nullptr);
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = &Peer::OnSampleThunk;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new SinkTag{shared_from_this(), medium},
                                   [](gpointer tag) { delete static_cast<SinkTag*>(tag); });
        chain.push_back(sink);
    } else {
        chain.push_back(gst_element_factory_make("fakesink", nullptr));
    }
    GstElement* bin = GST_ELEMENT(gst_element_get_parent(webrtc));
    for (GstElement* element : chain)
        gst_bin_add(GST_BIN(bin), element);
    for (size_t i = 0; i + 1 < chain.size(); ++i)
        gst_element_link(chain[i], chain[i + 1]);
    for (GstElement* element : chain)
        gst_element_sync_state_with_parent(element);
    GstPad* in = gst_element_get_static_pad(chain[0], "sink");
    const bool linked = gst_pad_link(pad, in) == GST_PAD_LINK_OK;
    gst_object_unref(in);
    gst_object_unref(bin);
    Log(std::string(GST_PAD_NAME(pad)) + ": " + media + " " + encoding +
        (taken ? (linked ? " to quillgate" : " not linked") : " dropped"));
}

GstFlowReturn Peer::OnSampleThunk(GstAppSink* sink, gpointer data)
{
    SinkTag* tag = static_cast<SinkTag*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    std::shared_ptr<Peer> peer = Lock(&tag->peer);
    if (!peer) {
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    std::shared_ptr<GstSample> owned(sample, [](GstSample* s) { gst_sample_unref(s); });
    const Medium medium = tag->medium;
    peer->Post([medium, owned](Peer& p) { p.DeliverFrame(medium, owned.get()); });
    return GST_FLOW_OK;
}

void Peer::DeliverFrame(Medium medium, GstSample* sample)
{
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const uint32_t ms = GST_CLOCK_TIME_IS_VALID(pts) ? static_cast<uint32_t>(pts / GST_MSECOND) : 0;
    const uint32_t length = static_cast<uint32_t>(map.size);
    const uint32_t seq = framesOut_[medium]++;
    if (!pairKnown_ && seq % 16 == 15)
        QuerySelectedPair();
    int ret = -1;
    bool called = false;
    if (medium == kVideo) {
        unsigned char record[rtcstub::VideoRecord::kSize];
        rtcstub::FillPattern(record, sizeof record);
        rtcstub::Put32(record, rtcstub::VideoRecord::kStreamIndex, 0);
        rtcstub::Put32(record, rtcstub::VideoRecord::kRotation, 0);
        rtcstub::Put32(record, rtcstub::VideoRecord::kTimestamp, ms);
        rtcstub::Put32(record, rtcstub::VideoRecord::kZero, 0);
        rtcstub::Put32(record, rtcstub::VideoRecord::kLength, length);
        rtcstub::PutPtr(record, rtcstub::VideoRecord::kData, map.data);
        if ((called = cb_.video != nullptr))
            ret = cb_.video(handle_, reinterpret_cast<RtcVideoFrame*>(record), 0, 0, cb_.user);
    } else {
        unsigned char record[rtcstub::AudioRecord::kSize];
        rtcstub::FillPattern(record, sizeof record);
        rtcstub::Put32(record, rtcstub::AudioRecord::kTimestamp, ms);
        rtcstub::Put32(record, rtcstub::AudioRecord::kZero, 0);
        rtcstub::Put32(record, rtcstub::AudioRecord::kLength, length);
        rtcstub::PutPtr(record, rtcstub::AudioRecord::kData, map.data);
        if ((called = cb_.audio != nullptr))
            ret = cb_.audio(handle_, reinterpret_cast<RtcAudioFrame*>(record), 0, 0, cb_.user);
    }
    if (JournalOn()) {
        std::string line = std::string(medium == kVideo ? "cb video " : "cb audio ") + std::to_string(handle_) +
                           " seq=" + std::to_string(seq) + " len=" + std::to_string(length) +
                           " ts=" + std::to_string(ms);
        if (medium == kVideo)
            line += " rot=0 stream=0";
        line += " zero=0 crc=" + rtcstub::CrcForm(rtcstub::Crc32(map.data, map.size)) + " = " +
                (called ? std::to_string(ret) : std::string("none"));
        Journal(line);
    }
    gst_buffer_unmap(buffer, &map);
}

}  // namespace rtcgst

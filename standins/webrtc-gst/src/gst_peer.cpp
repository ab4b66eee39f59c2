// A peer's signalling: its pipeline, offers, answers and candidates as
// webrtcbin writes them, the connection's states, its data channels.
#include "gst_peer.h"

#include <gst/sdp/sdp.h>
#include <json/json.h>

#include "util/json_writer.h"
#include <cstring>

#include "records.h"
#include "rtc_text.h"
#include "task_thread.h"

using rtcstub::Journal;
using rtcstub::JournalOn;
using rtcstub::QuoteText;

namespace rtcgst {

namespace {

// What the library's own offer holds: Opus, then video in both codecs the
// product chooses between; the answer picks one.
const char kAudioCaps[] =
    "application/x-rtp,media=audio,encoding-name=OPUS,payload=111,clock-rate=48000,encoding-params=(string)2";
const char kVideoCaps[] =
    "application/x-rtp,media=video,encoding-name=VP8,payload=96,clock-rate=90000,rtcp-fb-nack-pli=(boolean)true;"
    "application/x-rtp,media=video,encoding-name=H264,payload=102,clock-rate=90000,packetization-mode=(string)1,"
    "profile-level-id=(string)42e01f,level-asymmetry-allowed=(string)1,rtcp-fb-nack-pli=(boolean)true";

const char* const kConnectionNames[] = {"new", "connecting", "connected", "disconnected", "failed", "closed"};

std::string SdpText(GstWebRTCSessionDescription* desc)
{
    gchar* text = gst_sdp_message_as_text(desc->sdp);
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

// The library's stun server, given as "stun:host:port", in webrtcbin's form.
std::string StunUri(const std::string& iceServer)
{
    if (iceServer.compare(0, 5, "stun:") != 0 || iceServer.size() <= 5)
        return "";
    return "stun://" + iceServer.substr(5);
}

}  // namespace

Peer::Peer(standin::TaskThread& worker, uint32_t handle, uint32_t direction, const std::string& iceServer,
           const std::string& peerId, const Callbacks& cb)
    : worker_(worker), handle_(handle), direction_(direction), iceServer_(iceServer), peerId_(peerId), cb_(cb)
{}

Peer::~Peer()
{
    Teardown();
}

void Peer::FreeWeak(gpointer weak, GClosure*)
{
    delete static_cast<Weak*>(weak);
}

std::shared_ptr<Peer> Peer::Lock(gpointer weak)
{
    std::shared_ptr<Peer> peer = static_cast<Weak*>(weak)->lock();
    return peer && peer->Live() ? peer : nullptr;
}

template <typename Handler>
void Peer::Connect(gpointer instance, const char* signal, Handler handler)
{
    g_signal_connect_data(instance, signal, G_CALLBACK(handler), NewWeak(), &Peer::FreeWeak, GConnectFlags(0));
}

void Peer::Post(std::function<void(Peer&)> fn)
{
    std::weak_ptr<Peer> weak = shared_from_this();
    worker_.Post([weak, fn] {
        std::shared_ptr<Peer> peer = weak.lock();
        if (peer && peer->Live())
            fn(*peer);
    });
}

void Peer::Log(const std::string& text)
{
    Journal("peer " + std::to_string(handle_) + ": " + text);
}

// ---- callbacks into quillgate: on the worker, with no lock held ----

void Peer::SendInfo(uint32_t type, const std::string& json)
{
    int ret = -1;
    const bool called = cb_.info != nullptr;
    if (called)
        ret = cb_.info(handle_, type, 0, json.c_str(), cb_.user);
    if (JournalOn())
        Journal("cb info " + std::to_string(handle_) + " " + std::to_string(type) + " 0 " + QuoteText(json.c_str()) +
                " = " + (called ? std::to_string(ret) : std::string("none")));
}

void Peer::SendEvent(int event, uint32_t param, const std::string& text)
{
    int ret = -1;
    const bool called = cb_.event != nullptr;
    if (called)
        ret = cb_.event(handle_, event, param, 0, text.c_str(), cb_.user);
    if (JournalOn())
        Journal("cb event " + std::to_string(handle_) + " " + std::to_string(event) + " " + std::to_string(param) +
                " 0 " + QuoteText(text.c_str()) + " = " + (called ? std::to_string(ret) : std::string("none")));
}

// ---- the pipeline ----

void Peer::Build()
{
    const std::string name = "peer" + std::to_string(handle_);
    pipeline_ = gst_pipeline_new(name.c_str());
    webrtc_ = gst_element_factory_make("webrtcbin", "webrtc");
    if (!pipeline_ || !webrtc_) {
        Log("no webrtcbin");
        return;
    }
    gst_bin_add(GST_BIN(pipeline_), webrtc_);
    g_object_set(webrtc_, "bundle-policy", GST_WEBRTC_BUNDLE_POLICY_MAX_BUNDLE, nullptr);
    const std::string stun = StunUri(iceServer_);
    if (!stun.empty())
        g_object_set(webrtc_, "stun-server", stun.c_str(), nullptr);

    // libnice leaves loopback out unless it is named.
    GstWebRTCICE* ice = nullptr;
    g_object_get(webrtc_, "ice-agent", &ice, nullptr);
    if (ice) {
        gboolean added = FALSE;
        g_signal_emit_by_name(ice, "add-local-ip-address", "127.0.0.1", &added);
        gst_object_unref(ice);
        if (!added)
            Log("127.0.0.1 not added to the ICE agent");
    }

    GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
    gst_bus_set_sync_handler(bus, &Peer::OnBusThunk, NewWeak(), [](gpointer weak) { delete static_cast<Weak*>(weak); });
    gst_object_unref(bus);

    Connect(webrtc_, "on-ice-candidate", &Peer::OnIceCandidateThunk);
    Connect(webrtc_, "pad-added", &Peer::OnPadAddedThunk);
    Connect(webrtc_, "on-data-channel", &Peer::OnDataChannelThunk);
    Connect(webrtc_, "notify::connection-state", &Peer::OnStateThunk);
    Connect(webrtc_, "notify::ice-connection-state", &Peer::OnStateThunk);
    Connect(webrtc_, "notify::ice-gathering-state", &Peer::OnStateThunk);

    if (direction_ == CVRTC_DIRECTION_RECV)
        AddSendTransceivers();
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        Log("pipeline does not start");
        return;
    }
    Log("pipeline playing");
    // The browser receives through this peer: the library offers.
    if (direction_ == CVRTC_DIRECTION_RECV)
        CreateOffer();
}

void Peer::AddSendTransceivers()
{
    for (const char* text : {kAudioCaps, kVideoCaps}) {
        GstCaps* caps = gst_caps_from_string(text);
        GstWebRTCRTPTransceiver* trans = nullptr;
        g_signal_emit_by_name(webrtc_, "add-transceiver", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY, caps, &trans);
        gst_caps_unref(caps);
        if (trans)
            gst_object_unref(trans);
        else
            Log("add-transceiver failed");
    }
}

void Peer::Teardown()
{
    if (!pipeline_)
        return;
    {
        std::lock_guard<std::mutex> lock(sendMu_);
        for (Sender& s : senders_) {
            if (s.src)
                gst_object_unref(s.src);
            s = Sender();
        }
    }
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    for (GstWebRTCDataChannel* channel : channels_)
        gst_object_unref(channel);
    channels_.clear();
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    webrtc_ = nullptr;
    Journal("totals " + std::to_string(handle_) + " audio in=" + std::to_string(framesIn_[kAudio]) +
            " video in=" + std::to_string(framesIn_[kVideo]) + " audio sent=" + std::to_string(framesSent_[kAudio]) +
            " video sent=" + std::to_string(framesSent_[kVideo]));
    Journal("totals " + std::to_string(handle_) + " audio out=" + std::to_string(framesOut_[kAudio]) +
            " video out=" + std::to_string(framesOut_[kVideo]) + " data out=" + std::to_string(messagesOut_));
}

// ---- offers and answers ----

namespace {

// A promise's reply reaches the peer on the worker.
struct PromiseTag {
    std::weak_ptr<Peer> peer;
    std::function<void(Peer&, const GstStructure*)> then;
};

void OnPromise(GstPromise* promise, gpointer data)
{
    PromiseTag* tag = static_cast<PromiseTag*>(data);
    const GstStructure* reply = gst_promise_get_reply(promise);
    GstStructure* copy = reply ? gst_structure_copy(reply) : nullptr;
    std::shared_ptr<Peer> peer = tag->peer.lock();
    if (peer)
        peer->PostReply(tag->then, copy);
    else if (copy)
        gst_structure_free(copy);
    gst_promise_unref(promise);
}

GstPromise* NewPromise(std::shared_ptr<Peer> peer, std::function<void(Peer&, const GstStructure*)> then)
{
    PromiseTag* tag = new PromiseTag{peer, std::move(then)};
    return gst_promise_new_with_change_func(&OnPromise, tag,
                                            [](gpointer data) { delete static_cast<PromiseTag*>(data); });
}

GstWebRTCSessionDescription* TakeDescriptionField(const GstStructure* reply, const char* field)
{
    GstWebRTCSessionDescription* desc = nullptr;
    if (reply && gst_structure_has_field(reply, field))
        gst_structure_get(reply, field, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &desc, nullptr);
    return desc;
}

std::string ReplyError(const GstStructure* reply)
{
    GError* error = nullptr;
    if (reply && gst_structure_has_field(reply, "error")) {
        gst_structure_get(reply, "error", G_TYPE_ERROR, &error, nullptr);
        std::string text = error ? error->message : "error";
        g_clear_error(&error);
        return text;
    }
    return reply ? "no description" : "no reply";
}

}  // namespace

void Peer::PostReply(std::function<void(Peer&, const GstStructure*)> then, GstStructure* reply)
{
    // Freed with the task, whether it runs or the peer ended first.
    std::shared_ptr<GstStructure> owned(reply, [](GstStructure* s) {
        if (s)
            gst_structure_free(s);
    });
    Post([then, owned](Peer& peer) { then(peer, owned.get()); });
}

void Peer::CreateOffer()
{
    GstPromise* promise = NewPromise(shared_from_this(), [](Peer& peer, const GstStructure* reply) {
        GstWebRTCSessionDescription* offer = TakeDescriptionField(reply, "offer");
        if (!offer) {
            peer.Log("create-offer: " + ReplyError(reply));
            return;
        }
        peer.SetLocal(offer, CVRTC_INFO_OFFER);
        gst_webrtc_session_description_free(offer);
    });
    g_signal_emit_by_name(webrtc_, "create-offer", nullptr, promise);
}

void Peer::CreateAnswer()
{
    GstPromise* promise = NewPromise(shared_from_this(), [](Peer& peer, const GstStructure* reply) {
        GstWebRTCSessionDescription* answer = TakeDescriptionField(reply, "answer");
        if (!answer) {
            peer.Log("create-answer: " + ReplyError(reply));
            return;
        }
        peer.SetLocal(answer, CVRTC_INFO_ANSWER);
        gst_webrtc_session_description_free(answer);
    });
    g_signal_emit_by_name(webrtc_, "create-answer", nullptr, promise);
}

void Peer::SetLocal(GstWebRTCSessionDescription* desc, uint32_t infoType)
{
    g_signal_emit_by_name(webrtc_, "set-local-description", desc, nullptr);
    const std::string sdp = SdpText(desc);
    Json::Value message(Json::objectValue);
    message["peerconnectionid"] = peerId_;
    message["sdp"] = sdp;
    message["type"] = infoType == CVRTC_INFO_OFFER ? "offer" : "answer";
    if (infoType == CVRTC_INFO_OFFER)
        state_ = kStateOffered;
    SendInfo(infoType, cv::toStyledString(message));
}

void Peer::TakeDescription(const std::string& type, const std::string& sdp)
{
    if (!webrtc_)
        return;
    GstSDPMessage* message = nullptr;
    gst_sdp_message_new_from_text(sdp.c_str(), &message);
    if (!message) {
        Log("remote " + type + " does not parse");
        return;
    }
    const bool offer = type == "offer";
    // The remote description is kept for the senders' codecs, freed with the
    // promise's task whether it runs or not.
    GstSDPMessage* copied = nullptr;
    gst_sdp_message_copy(message, &copied);
    std::shared_ptr<GstSDPMessage> copy(copied, [](GstSDPMessage* m) { gst_sdp_message_free(m); });
    GstWebRTCSessionDescription* desc =
        gst_webrtc_session_description_new(offer ? GST_WEBRTC_SDP_TYPE_OFFER : GST_WEBRTC_SDP_TYPE_ANSWER, message);
    GstPromise* promise = NewPromise(shared_from_this(), [offer, copy](Peer& peer, const GstStructure* reply) {
        if (reply && gst_structure_has_field(reply, "error")) {
            peer.Log("set-remote-description: " + ReplyError(reply));
        } else {
            peer.state_ = kStateRemoteSet;
            peer.Log(std::string("remote ") + (offer ? "offer" : "answer") + " set");
            if (offer)
                peer.CreateAnswer();
            peer.OnRemoteSet(copy.get());
        }
    });
    g_signal_emit_by_name(webrtc_, "set-remote-description", desc, promise);
    gst_webrtc_session_description_free(desc);
}

void Peer::OnRemoteSet(GstSDPMessage* remote)
{
    if (direction_ == CVRTC_DIRECTION_RECV && !sendersLinked_)
        LinkSenders(remote);
}

void Peer::TakeCandidate(uint32_t mline, const std::string& candidate)
{
    if (!webrtc_)
        return;
    // Bundled: every candidate is the first section's.
    g_signal_emit_by_name(webrtc_, "add-ice-candidate", mline, candidate.c_str());
    Log("remote candidate " + candidate);
}

std::string Peer::MidOf(guint mline)
{
    GstWebRTCSessionDescription* local = nullptr;
    g_object_get(webrtc_, "local-description", &local, nullptr);
    std::string mid;
    if (local) {
        if (mline < gst_sdp_message_medias_len(local->sdp)) {
            const char* value = gst_sdp_media_get_attribute_val(gst_sdp_message_get_media(local->sdp, mline), "mid");
            mid = value ? value : "";
        }
        gst_webrtc_session_description_free(local);
    }
    return mid.empty() ? std::to_string(mline) : mid;
}

void Peer::OnIceCandidateThunk(GstElement*, guint mline, gchar* candidate, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer || !candidate || !*candidate)
        return;
    const std::string text = candidate;
    peer->Post([mline, text](Peer& p) {
        Json::Value message(Json::objectValue);
        message["candidate"] = text;
        message["peerconnectionid"] = p.peerId_;
        message["sdpMLineIndex"] = mline;
        message["sdpMid"] = p.MidOf(mline);
        message["type"] = "candidate";
        p.SendInfo(CVRTC_INFO_CANDIDATE, cv::toStyledString(message));
    });
}

// ---- states ----

void Peer::OnStateThunk(GObject*, GParamSpec* param, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer)
        return;
    const std::string property = g_param_spec_get_name(param);
    peer->Post([property](Peer& p) {
        if (!p.webrtc_)
            return;
        if (property == "connection-state") {
            p.OnConnectionState();
            return;
        }
        gint value = 0;
        g_object_get(p.webrtc_, property.c_str(), &value, nullptr);
        GEnumClass* klass = static_cast<GEnumClass*>(g_type_class_ref(
            G_PARAM_SPEC_VALUE_TYPE(g_object_class_find_property(G_OBJECT_GET_CLASS(p.webrtc_), property.c_str()))));
        GEnumValue* named = g_enum_get_value(klass, value);
        p.Log(property + " " + (named ? named->value_nick : std::to_string(value)));
        g_type_class_unref(klass);
    });
}

void Peer::OnConnectionState()
{
    GstWebRTCPeerConnectionState state = GST_WEBRTC_PEER_CONNECTION_STATE_NEW;
    g_object_get(webrtc_, "connection-state", &state, nullptr);
    const int value = static_cast<int>(state);
    if (value == lastConnection_)
        return;
    lastConnection_ = value;
    const char* name = value >= 0 && value < 6 ? kConnectionNames[value] : "unknown";
    Journal("state " + std::to_string(handle_) + " connection " + name);
    SendEvent(CVRTC_EVENT_LOG, 8, "peer " + peerId_ + ": connection " + name);
    if (state == GST_WEBRTC_PEER_CONNECTION_STATE_CONNECTED) {
        state_ = kStateConnected;
        {
            std::lock_guard<std::mutex> lock(sendMu_);
            connected_ = true;
        }
        QuerySelectedPair();
    } else if (state == GST_WEBRTC_PEER_CONNECTION_STATE_FAILED) {
        state_ = kStateFailed;
        {
            std::lock_guard<std::mutex> lock(sendMu_);
            connected_ = false;
        }
        // The browser has to make the peer connection anew.
        SendEvent(CVRTC_EVENT_RECREATE_PEER, 0, "peer " + peerId_ + ": connection failed");
    }
}

namespace {

std::string CandidateText(const GstStructure* stats)
{
    if (!stats)
        return "?";
    const gchar* address = gst_structure_get_string(stats, "address");
    guint port = 0;
    gst_structure_get_uint(stats, "port", &port);
    const gchar* protocol = gst_structure_get_string(stats, "protocol");
    const gchar* type = gst_structure_get_string(stats, "candidate-type");
    return std::string(address ? address : "?") + ":" + std::to_string(port) + " " + (protocol ? protocol : "?") + " " +
           (type ? type : "?");
}

const GstStructure* StatsById(const GstStructure* reply, const gchar* id)
{
    if (!id || !gst_structure_has_field_typed(reply, id, GST_TYPE_STRUCTURE))
        return nullptr;
    return gst_value_get_structure(gst_structure_get_value(reply, id));
}

}  // namespace

void Peer::QuerySelectedPair()
{
    GstPromise* promise = NewPromise(shared_from_this(), [](Peer& peer, const GstStructure* reply) {
        if (!reply)
            return;
        std::string pair;
        const int fields = gst_structure_n_fields(reply);
        for (int i = 0; i < fields && pair.empty(); ++i) {
            const GValue* value = gst_structure_get_value(reply, gst_structure_nth_field_name(reply, i));
            if (!GST_VALUE_HOLDS_STRUCTURE(value))
                continue;
            const GstStructure* stats = gst_value_get_structure(value);
            GstWebRTCStatsType type = GST_WEBRTC_STATS_CODEC;
            if (!gst_structure_get(stats, "type", GST_TYPE_WEBRTC_STATS_TYPE, &type, nullptr) ||
                type != GST_WEBRTC_STATS_CANDIDATE_PAIR)
                continue;
            const GstStructure* local = StatsById(reply, gst_structure_get_string(stats, "local-candidate-id"));
            const GstStructure* remote = StatsById(reply, gst_structure_get_string(stats, "remote-candidate-id"));
            pair = CandidateText(local) + " <-> " + CandidateText(remote);
        }
        // An answerer's pair may show only once media flows: asked again then.
        if (pair.empty() || peer.pairKnown_)
            return;
        peer.pairKnown_ = true;
        Journal("pair " + std::to_string(peer.handle_) + " " + pair);
    });
    g_signal_emit_by_name(webrtc_, "get-stats", nullptr, promise);
}

GstBusSyncReply Peer::OnBusThunk(GstBus*, GstMessage* message, gpointer weak)
{
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_ERROR && type != GST_MESSAGE_WARNING)
        return GST_BUS_DROP;
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer)
        return GST_BUS_DROP;
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (type == GST_MESSAGE_ERROR)
        gst_message_parse_error(message, &error, &debug);
    else
        gst_message_parse_warning(message, &error, &debug);
    const std::string text = std::string(type == GST_MESSAGE_ERROR ? "error " : "warning ") +
                             GST_OBJECT_NAME(GST_MESSAGE_SRC(message)) + ": " + (error ? error->message : "?");
    g_clear_error(&error);
    g_free(debug);
    peer->Post([text](Peer& p) {
        p.Log(text);
        p.SendEvent(CVRTC_EVENT_LOG, 8, "peer " + p.peerId_ + ": " + text);
    });
    return GST_BUS_DROP;
}

// ---- data channels ----

void Peer::OnDataChannelThunk(GstElement*, GstWebRTCDataChannel* channel, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer)
        return;
    // Connected here, before the first message can come.
    peer->Connect(channel, "notify::ready-state", &Peer::OnChannelStateThunk);
    peer->Connect(channel, "on-message-data", &Peer::OnMessageDataThunk);
    peer->Connect(channel, "on-message-string", &Peer::OnMessageStringThunk);
    gst_object_ref(channel);
    peer->Post([channel](Peer& p) {
        p.channels_.push_back(channel);
        p.OnDataChannel(channel);
    });
}

void Peer::OnDataChannel(GstWebRTCDataChannel* channel)
{
    gchar* label = nullptr;
    gint id = -1;
    g_object_get(channel, "label", &label, "id", &id, nullptr);
    Log("data channel " + std::to_string(id) + " " + QuoteText(label ? label : ""));
    g_free(label);
    OnChannelState(channel);
}

void Peer::OnChannelStateThunk(GObject* channel, GParamSpec*, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer)
        return;
    GstWebRTCDataChannel* ref = GST_WEBRTC_DATA_CHANNEL(gst_object_ref(channel));
    peer->Post([ref](Peer& p) {
        p.OnChannelState(ref);
        gst_object_unref(ref);
    });
}

void Peer::OnChannelState(GstWebRTCDataChannel* channel)
{
    GstWebRTCDataChannelState state = GST_WEBRTC_DATA_CHANNEL_STATE_CONNECTING;
    gint id = -1;
    g_object_get(channel, "ready-state", &state, "id", &id, nullptr);
    if (state != GST_WEBRTC_DATA_CHANNEL_STATE_OPEN)
        return;
    for (int open : openChannels_) {
        if (open == id)
            return;
    }
    openChannels_.push_back(id);
    Journal("data " + std::to_string(handle_) + " open chan=" + std::to_string(id));
    SendEvent(CVRTC_EVENT_DATACHANNEL_OPEN, static_cast<uint32_t>(id), "");
    // The browser sees the channel carry messages its way too.
    g_signal_emit_by_name(channel, "send-string", "hello from the media library");
}

void Peer::OnMessageDataThunk(GstWebRTCDataChannel* channel, GBytes* bytes, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer)
        return;
    gsize size = 0;
    const void* data = bytes ? g_bytes_get_data(bytes, &size) : nullptr;
    std::string copy(static_cast<const char*>(data), data ? size : 0);
    gint id = -1;
    g_object_get(channel, "id", &id, nullptr);
    peer->Post([id, copy](Peer& p) { p.OnMessage(id, copy); });
}

void Peer::OnMessageStringThunk(GstWebRTCDataChannel* channel, gchar* text, gpointer weak)
{
    std::shared_ptr<Peer> peer = Lock(weak);
    if (!peer)
        return;
    std::string copy = text ? text : "";
    gint id = -1;
    g_object_get(channel, "id", &id, nullptr);
    peer->Post([id, copy](Peer& p) { p.OnMessage(id, copy); });
}

void Peer::OnMessage(int channelId, const std::string& bytes)
{
    unsigned char record[rtcstub::DataRecord::kSize];
    rtcstub::FillPattern(record, sizeof record);
    rtcstub::Put32(record, rtcstub::DataRecord::kChannelId, static_cast<uint32_t>(channelId));
    rtcstub::PutPtr(record, rtcstub::DataRecord::kData, bytes.data());
    rtcstub::Put32(record, rtcstub::DataRecord::kLength, static_cast<uint32_t>(bytes.size()));
    const uint32_t seq = messagesOut_++;
    int ret = -1;
    if (cb_.data)
        ret = cb_.data(handle_, reinterpret_cast<RtcDataPacket*>(record), 0, 0, cb_.user);
    if (JournalOn())
        Journal("cb data " + std::to_string(handle_) + " chan=" + std::to_string(channelId) +
                " seq=" + std::to_string(seq) + " len=" + std::to_string(bytes.size()) +
                " crc=" + rtcstub::CrcForm(rtcstub::Crc32(bytes.data(), bytes.size())) + " = " +
                (cb_.data ? std::to_string(ret) : std::string("none")));
}

}  // namespace rtcgst

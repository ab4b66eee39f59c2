// One peer object of the GStreamer media library: a pipeline around one
// webrtcbin. Everything GStreamer is done on the library's worker thread
// (or on GStreamer's own threads, which only post to it); every callback
// into quillgate is posted to the worker and dropped once the peer ended.
#ifndef QG_RTC_GST_PEER_H
#define QG_RTC_GST_PEER_H

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/webrtc/webrtc.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quillgate/webrtc/cvrtc_api.h"

namespace standin {
class TaskThread;
}

namespace rtcgst {

struct Callbacks {
    CVRTC_AudioData_CallBack audio = nullptr;
    CVRTC_VideoData_CallBack video = nullptr;
    CVRTC_DataChnl_CallBack data = nullptr;
    CVRTC_Event_CallBack event = nullptr;
    CVRTC_Info_CallBack info = nullptr;
    void* user = nullptr;
};

// CVRTC_GetState.
enum PeerState { kStateNew = 0, kStateOffered = 1, kStateRemoteSet = 2, kStateConnected = 3, kStateFailed = 4 };

enum Medium { kAudio = 0, kVideo = 1 };

class Peer : public std::enable_shared_from_this<Peer>
{
public:
    Peer(standin::TaskThread& worker, uint32_t handle, uint32_t direction, const std::string& iceServer,
         const std::string& peerId, const Callbacks& cb);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    uint32_t Handle() const { return handle_; }
    int State() const { return state_.load(); }
    bool Live() const { return live_.load(); }

    // ---- worker thread ----
    // The pipeline; a peer the browser receives through offers at once.
    void Build();
    void TakeDescription(const std::string& type, const std::string& sdp);
    void TakeCandidate(uint32_t mline, const std::string& candidate);
    // The pipeline to NULL and released; its totals journaled.
    void Teardown();

    // ---- any thread ----
    // No callback of the peer starts after this.
    void End() { live_ = false; }
    // A frame from the SDK side for the browser; false when the peer takes
    // no frame of that medium (yet).
    bool Input(Medium medium, const uint8_t* data, uint32_t length);
    // A promise's reply (owned) for then() on the worker.
    void PostReply(std::function<void(Peer&, const GstStructure*)> then, GstStructure* reply);

private:
    struct Sender {
        GstElement* src = nullptr;  // appsrc, ref held
        bool keyed = false;         // a key frame went out: later frames may follow
        std::string codec;          // "VP8", "H264", "OPUS"
    };
    using Weak = std::weak_ptr<Peer>;

    // Runs fn on the worker while the peer lives.
    void Post(std::function<void(Peer&)> fn);
    void Log(const std::string& text);
    void SendInfo(uint32_t type, const std::string& json);
    void SendEvent(int event, uint32_t param, const std::string& text);

    // Signalling (gst_peer.cpp).
    void AddSendTransceivers();
    void CreateOffer();
    void CreateAnswer();
    void SetLocal(GstWebRTCSessionDescription* desc, uint32_t infoType);
    void OnRemoteSet(GstSDPMessage* remote);
    std::string MidOf(guint mline);
    void OnConnectionState();
    void QuerySelectedPair();
    void OnDataChannel(GstWebRTCDataChannel* channel);
    void OnChannelState(GstWebRTCDataChannel* channel);
    void OnMessage(int channelId, const std::string& bytes);

    // Media (gst_media.cpp).
    void LinkSenders(GstSDPMessage* remote);
    bool LinkSender(Medium medium, guint mline, const std::string& codec, int pt);
    void OnPadAdded(GstElement* webrtc, GstPad* pad);
    void DeliverFrame(Medium medium, GstSample* sample);

    // GStreamer's threads reach the peer through a weak pointer of their own.
    Weak* NewWeak() { return new Weak(shared_from_this()); }
    template <typename Handler>
    void Connect(gpointer instance, const char* signal, Handler handler);
    static void FreeWeak(gpointer weak, GClosure*);
    static std::shared_ptr<Peer> Lock(gpointer weak);

    static void OnIceCandidateThunk(GstElement*, guint mline, gchar* candidate, gpointer weak);
    static void OnPadAddedThunk(GstElement*, GstPad* pad, gpointer weak);
    static void OnDataChannelThunk(GstElement*, GstWebRTCDataChannel* channel, gpointer weak);
    static void OnStateThunk(GObject*, GParamSpec*, gpointer weak);
    static void OnChannelStateThunk(GObject* channel, GParamSpec*, gpointer weak);
    static void OnMessageDataThunk(GstWebRTCDataChannel* channel, GBytes* bytes, gpointer weak);
    static void OnMessageStringThunk(GstWebRTCDataChannel* channel, gchar* text, gpointer weak);
    static GstBusSyncReply OnBusThunk(GstBus*, GstMessage* message, gpointer weak);
    struct SinkTag {
        Weak peer;
        Medium medium;
    };
    static GstFlowReturn OnSampleThunk(GstAppSink* sink, gpointer tag);

    standin::TaskThread& worker_;
    const uint32_t handle_;
    const uint32_t direction_;
    const std::string iceServer_;
    const std::string peerId_;
    const Callbacks cb_;
    std::atomic<bool> live_{true};
    std::atomic<int> state_{kStateNew};

    // Worker thread only.
    GstElement* pipeline_ = nullptr;
    GstElement* webrtc_ = nullptr;
    bool sendersLinked_ = false;
    std::vector<GstWebRTCDataChannel*> channels_;  // refs held
    std::vector<int> openChannels_;                // ids that had their event 4
    int lastConnection_ = -1;
    bool pairKnown_ = false;          // the selected pair is journaled once
    uint32_t framesOut_[2] = {0, 0};  // delivered to quillgate
    uint32_t messagesOut_ = 0;

    // Senders: read by Input on the SDK's threads.
    std::mutex sendMu_;
    Sender senders_[2];
    bool connected_ = false;
    uint32_t framesIn_[2] = {0, 0};    // taken by Input
    uint32_t framesSent_[2] = {0, 0};  // pushed towards the browser
};

}  // namespace rtcgst

#endif

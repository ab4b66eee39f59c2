#include "gst_lib.h"

#include <gst/gst.h>

#include <mutex>

namespace rtcgst {

Library& L()
{
    static Library* library = new Library;
    return *library;
}

bool StartGStreamer(std::string& reason)
{
    static std::once_flag once;
    static bool started = false;
    static std::string failure;
    std::call_once(once, [] {
        GError* error = nullptr;
        if (!gst_init_check(nullptr, nullptr, &error)) {
            failure = std::string("gst_init: ") + (error ? error->message : "failed");
            g_clear_error(&error);
            return;
        }
        static const char* const kElements[] = {
            "webrtcbin", "nicesrc",     "dtlssrtpenc", "srtpenc",      "sctpenc",    "appsrc",      "appsink",
            "rtpvp8pay", "rtpvp8depay", "rtph264pay",  "rtph264depay", "rtpopuspay", "rtpopusdepay"};
        for (const char* name : kElements) {
            GstElementFactory* factory = gst_element_factory_find(name);
            if (!factory) {
                failure = std::string("GStreamer element missing: ") + name;
                return;
            }
            gst_object_unref(factory);
        }
        started = true;
    });
    reason = failure;
    return started;
}

std::shared_ptr<Peer> FindPeer(uint32_t handle)
{
    Library& l = L();
    std::lock_guard<std::mutex> lock(l.mu);
    auto it = l.peers.find(handle);
    return it == l.peers.end() ? nullptr : it->second;
}

}  // namespace rtcgst

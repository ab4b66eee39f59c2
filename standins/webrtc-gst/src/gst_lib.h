// The GStreamer media library's state: its peers by handle, the one worker
// thread every callback comes from, and GStreamer's start.
#ifndef QG_RTC_GST_LIB_H
#define QG_RTC_GST_LIB_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "task_thread.h"

namespace rtcgst {

class Peer;

struct Library {
    std::mutex mu;  // peers, nextHandle, inited; never held across a callback or a GStreamer call
    std::map<uint32_t, std::shared_ptr<Peer>> peers;
    uint32_t nextHandle = 1;
    bool inited = false;
    standin::TaskThread worker;
};

// Never destroyed: quillgate may uninitialise from its own static
// destructors, after this library's would have run.
Library& L();

// gst_init once, then the elements a peer needs; false (with the reason)
// when one is missing.
bool StartGStreamer(std::string& reason);

std::shared_ptr<Peer> FindPeer(uint32_t handle);

}  // namespace rtcgst

#endif

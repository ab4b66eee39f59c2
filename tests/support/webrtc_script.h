// The browser's side of a WebRTC session in a stand-in gateway script: the
// init parameters, a peer's creation, browser descriptions from the
// fixtures, and the library's texts as the browser was notified of them.
#ifndef QG_TESTS_SUPPORT_WEBRTC_SCRIPT_H
#define QG_TESTS_SUPPORT_WEBRTC_SCRIPT_H

#include <string>
#include <vector>

#include "tests/support/gateway_run.h"

namespace qgtest {

// The init parameters of a browser that serves cameras through its own
// peers (mode 1), by default with SDP texts logged (debug flag 2).
inline std::string InitParams(int browserType, int platformType = 1, int debugFlag = 2)
{
    return "{\"browsertype\":" + std::to_string(browserType) + ",\"debugflag\":" + std::to_string(debugFlag) +
           ",\"debuglevel\":4,\"h5handlestreamtype\":1,\"platformtype\":" + std::to_string(platformType) + "}";
}

// consultParam's creation of a peer: stream type 1 the browser sends, 2 it receives.
inline std::string CreatePeer(const std::string& peerId, int streamType, int userId)
{
    return "{\"control\":1,\"peerconnectionid\":\"" + peerId +
           "\",\"streamindex\":0,\"streamtype\":" + std::to_string(streamType) +
           ",\"userid\":" + std::to_string(userId) + "}";
}

// A browser description from the fixtures, under this peer id.
inline std::string BrowserMessage(const std::string& fixture, const std::string& peerId)
{
    std::string text = ReadFile(std::string(QG_SOURCE_DIR) + "/tests/data/sdp/" + fixture + ".json");
    const std::string key = "\"peerconnectionid\":\"";
    const size_t at = text.find(key) + key.size();
    text.replace(at, text.find('"', at) - at, peerId);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The JSON text of the first notifyWebrtcConsult naming this peer and type.
inline std::string Notified(const GatewayRun& run, const std::string& peerId, const std::string& type)
{
    for (const std::string& line : run.All("recv notifyWebrtcConsult(")) {
        const std::vector<std::string> args = CallArgs(line);
        if (args.size() == 3 && args[2].find("\"peerconnectionid\":\"" + peerId + "\"") != std::string::npos &&
            args[2].find("\"type\":\"" + type + "\"") != std::string::npos)
            return args[2];
    }
    return "";
}

}  // namespace qgtest

#endif

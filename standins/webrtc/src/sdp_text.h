// Session descriptions and candidates written the way current browsers
// write them (one Chrome-like and one Firefox-like shape), and the little
// reading of a remote description the library needs to answer it.
#ifndef QG_RTC_SDP_TEXT_H
#define QG_RTC_SDP_TEXT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rtcstub {

enum class Shape { kChrome, kFirefox };
bool ParseShape(const std::string& name, Shape& out);
const char* ShapeName(Shape shape);

// Per-peer values of a description: ICE credentials, fingerprint, stream
// names and ssrcs. Made from the handle, so texts repeat run to run.
struct SdpIdentity {
    std::string sessionId;
    std::string ufrag, pwd, fingerprint;
    std::string cname, stream, audioTrack, videoTrack;
    uint32_t audioSsrc = 0, videoSsrc = 0, rtxSsrc = 0;
};
SdpIdentity MakeIdentity(uint32_t handle, Shape shape);

// One m= section.
struct SdpSection {
    std::string media, port, proto;
    std::vector<std::string> fmts;
    std::string mid;
    std::string direction;  // empty when the section has none (sendrecv)
    std::vector<std::string> extmaps;
    // a=rtpmap:, a=fmtp: and a=rtcp-fb: lines by payload number.
    std::map<std::string, std::vector<std::string>> ptLines;
    std::map<std::string, std::string> codecs;  // payload -> encoding name
    std::string sctpPort;                       // a=sctp-port value, if any
    bool IsData() const { return media == "application"; }
    // First payload of the m= line with a known encoding name; empty if none.
    std::string FirstCodec() const;
};

// The m= sections of a description; false when it has none.
bool ParseSdp(const std::string& sdp, std::vector<SdpSection>& out);

struct OfferMedia {
    bool audio = true;
    bool video = true;
    bool data = false;
};
std::string BuildOffer(Shape shape, const SdpIdentity& id, const OfferMedia& media);
// Mirrors the offer: its sections in order, their mids and payload numbers,
// the opposite direction.
std::string BuildAnswer(Shape shape, const SdpIdentity& id, const std::vector<SdpSection>& offer);
// Host candidate `index` (0 UDP, 1 TCP) as its a= value without "a=".
std::string HostCandidate(Shape shape, const SdpIdentity& id, int index);

// Whether the writer of a section with this direction sends on it.
bool WriterSends(const std::string& direction);

}  // namespace rtcstub

#endif

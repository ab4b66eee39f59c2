// SDP rewriting on any signalling message: a message that was JSON stays
// JSON, the line steps keep every member but "sdp" as it was and leave no
// line they remove, the codec filter changes nothing on a second pass, the
// whole-text steps replace in one pass what they find, and splitting a text
// loses none of it.
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "quillgate/webrtc/webrtc_connect.h"

namespace {

// Replacing letters by letters anywhere keeps JSON text JSON.
void CheckStillJson(const std::string& before, const std::string& after)
{
    if (qgfuzz::Parses(before))
        FUZZ_CHECK(qgfuzz::Parses(after));
}

// The message without its "sdp" member, when it reads as a JSON object.
bool Rest(const std::string& json, Json::Value& rest)
{
    if (!qgfuzz::Parses(json, &rest) || !rest.isObject())
        return false;
    rest.removeMember("sdp");
    return true;
}

// A message that read as a JSON object before a step still does after it,
// with the same members besides "sdp".
void CheckSameRest(const std::string& before, const std::string& after)
{
    Json::Value a, b;
    if (!Rest(before, a))
        return;
    FUZZ_CHECK(Rest(after, b));
    FUZZ_CHECK(a == b);
}

// Occurrences of part in text, each searched for after the one before (the
// patterns counted here cannot overlap themselves).
size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// The data-channel profile is replaced in one left-to-right pass that does
// not look again at what it wrote: every "UDP/DTLS/SCTP" of the text becomes
// "DTLS/SCTP" and nothing else changes, so one is left over exactly where
// the text had "UDP/" right before one it replaced ("UDP/UDP/DTLS/SCTP").
void CheckProfileReplaced(const std::string& before, const std::string& after)
{
    const std::string from = "UDP/DTLS/SCTP";
    const std::string to = "DTLS/SCTP";
    const size_t replaced = Count(before, from);
    FUZZ_CHECK(after.size() == before.size() - replaced * (from.size() - to.size()));
    FUZZ_CHECK(Count(after, to) == Count(before, to));
    FUZZ_CHECK(Count(after, from) == Count(before, "UDP/" + from));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int step = in.ConsumeIntegralInRange<int>(0, 5);
    const int codec = in.ConsumeIntegralInRange<int>(0, 4);
    const int flag = in.ConsumeIntegralInRange<int>(0, 3);
    const std::string delimiter = in.ConsumeRandomLengthString(8);
    const std::string original = in.ConsumeRemainingBytesAsString();
    std::string json = original;

    switch (step) {
    case 0: {
        const int ret = CWebRtcConnect::DelSDPSsrcInfo(json);
        if (ret != 0) {
            FUZZ_CHECK(json == original);
            break;
        }
        CheckSameRest(original, json);
        Json::Value after;
        if (qgfuzz::Parses(json, &after) && after.isObject() && after["sdp"].isString())
            FUZZ_CHECK(after["sdp"].asString().find("a=ssrc") == std::string::npos);
        break;
    }
    case 1: {
        const int ret = CWebRtcConnect::FilterVideoCodec(json, codec, flag);
        if (ret != 0) {
            FUZZ_CHECK(json == original);
            break;
        }
        CheckSameRest(original, json);
        // What the filter keeps (flag 1, as every caller passes) it keeps again.
        if (flag == 1) {
            std::string again = json;
            FUZZ_CHECK(CWebRtcConnect::FilterVideoCodec(again, codec, flag) == 0);
            FUZZ_CHECK(again == json);
        }
        break;
    }
    case 2:
        CWebRtcConnect::SetSdpDirection(2, json);
        FUZZ_CHECK(json.find("sendrecv") == std::string::npos);
        CheckStillJson(original, json);
        json = original;
        CWebRtcConnect::SetSdpDirection(3, json);
        CheckStillJson(original, json);
        break;
    case 3:
        CWebRtcConnect::ModifyDataChnlProtocol(json);
        CheckProfileReplaced(original, json);
        CheckStillJson(original, json);
        break;
    case 4: {
        // The same text for itself changes nothing.
        FUZZ_CHECK(CWebRtcConnect::ReplaceAllString(json, delimiter, delimiter) >= 0);
        FUZZ_CHECK(json == original);
        std::string text = original;
        const std::vector<std::string> pieces = CWebRtcConnect::SplitString(text, delimiter);
        const std::string sep = delimiter.empty() ? " " : delimiter;
        std::string joined;
        for (size_t i = 0; i < pieces.size(); ++i)
            joined += (i ? sep : "") + pieces[i];
        FUZZ_CHECK(joined == original);
        break;
    }
    default: {
        bool v = false, a = false, d = false, h = false, p8 = false, p9 = false;
        CWebRtcConnect::CheckMediaType(json, v, a, d);
        CWebRtcConnect::CheckVideoCodec(json, h, p8, p9);
        FUZZ_CHECK(v == (json.find("m=video") != std::string::npos));
        const int ret = CWebRtcConnect::ReplaceSdpInfo(json, "\"sdp\":\"" + delimiter + "\"");
        if (ret != 0)
            FUZZ_CHECK(json == original);
        break;
    }
    }
    return 0;
}

// What the WebRTC side needs of the object that owns it: signalling
// outcomes and texts for the browser go up through here, and so do the
// media formats the SDK side is to expect; never by reaching the owner's
// class.
#ifndef QG_WEBRTC_WEBRTC_CONNECT_OWNER_H
#define QG_WEBRTC_WEBRTC_CONNECT_OWNER_H

#include <stdint.h>
#include <string>

class IWebRtcConnectOwner
{
public:
    virtual ~IWebRtcConnectOwner() {}

    virtual int ReplyConsultParam(int userId, int errorCode, int type, const std::string& jsonBuf) = 0;
    virtual int ReplyWebrtcConsult(int userId, const std::string& jsonBuf, int errorCode) = 0;
    virtual int NotifyWebrtcConsult(int reqid, const std::string& jsonBuf) = 0;

    // The browser's "debugflag" from its init parameters, and back.
    virtual void SetDebugFlags(uint32_t flags) = 0;
    virtual uint32_t GetDebugFlags() const = 0;
    // The conferencing system's id of the local user (-1 before login).
    virtual uint32_t GetOwnUserId() const = 0;
    // "stun:<host>:<port>" of the relay, the ICE server of new peers.
    virtual std::string GetStunServer() const = 0;

    // Formats the browser's descriptions fix for the SDK side: what the SDK
    // is to deliver for the browser (up), what the browser sends (down).
    virtual void SetUpVideoFrame(uint32_t codec) = 0;
    virtual void SetUpAudioFrame(uint32_t codec) = 0;
    virtual void SetDownVideoFrame(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps) = 0;
    virtual void SetDownAudioFrame(uint32_t codec, uint32_t channels, uint32_t sampleRate, uint32_t bits) = 0;

    // The browser's media for the SDK side, on the library's thread; the
    // bytes are valid during the call only.
    virtual void OnWebrtcAudioData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                   uint32_t length, uint32_t timestamp) = 0;
    virtual void OnWebrtcVideoData(uint32_t userId, uint32_t streamIndex, uint32_t reserved, uint8_t* data,
                                   uint32_t length, uint32_t timestamp, uint32_t rotation) = 0;

    // A reassembled data-channel chunk of the browser's container stream,
    // on the reassembly thread with its ring held.
    virtual void OnChunkData(uint32_t userId, uint32_t streamIndex, uint8_t* data, uint32_t length, uint32_t timestamp,
                             uint32_t flags) = 0;
    // A data channel opened: the stream starts afresh, so does its demuxer.
    virtual int ResetMuxerHelper() = 0;
};

#endif

// What the in-memory demuxer reports; the SDK client implements it. Kept
// apart from the demuxer so the SDK client sees the interface without the
// demuxer's code.
#ifndef QG_SDKLINK_DEMUX_MEMORY_DEMUXER_DELEGATE_H
#define QG_SDKLINK_DEMUX_MEMORY_DEMUXER_DELEGATE_H

#include <stdint.h>

// Codec values are the SDK's numbers (0 for a codec it does not know); data
// is valid only during the call.
class IMemoryDemuxerDelegate
{
public:
    virtual ~IMemoryDemuxerDelegate() {}
    virtual void OnVideoData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t keyFrame) = 0;
    virtual void OnAudioData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t flags) = 0;
    virtual void OnVideoFormat(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps) = 0;
    virtual void OnAudioFormat(uint32_t codec, uint32_t channels, uint32_t bitsPerSample, uint32_t sampleRate) = 0;
};

#endif

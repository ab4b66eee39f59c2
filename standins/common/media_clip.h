// Media fixture files cut into the frames ffprobe lists, without FFmpeg:
// H.264 Annex-B by its access-unit delimiters, IVF by its frame headers,
// Ogg Opus by its packets, raw PCM in frames of a fixed size. Also the
// CRC-32 the stand-ins' journals print per frame.
#ifndef STANDINS_COMMON_MEDIA_CLIP_H
#define STANDINS_COMMON_MEDIA_CLIP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace standin {

struct ClipFrame {
    uint32_t offset;  // into Clip::bytes
    uint32_t length;
    uint32_t ts;  // ms from the clip's start
};

struct Clip {
    std::string bytes;  // the frames, one after another
    std::vector<ClipFrame> frames;
    uint32_t durationMs = 0;  // the last frame's time plus one frame
};

// An access unit runs from one delimiter (NAL type 9) to the next; frames
// fpsNum/fpsDen apart.
bool CutAnnexB(const std::string& file, uint32_t fpsNum, uint32_t fpsDen, Clip& out, std::string& error);
// A 32-byte file header, then per frame its size (u32), pts (u64) and bytes.
bool CutIvf(const std::string& file, Clip& out, std::string& error);
// The packets after OpusHead and OpusTags, timed by their TOC byte.
bool CutOggOpus(const std::string& file, Clip& out, std::string& error);
// Frames of frameBytes bytes (a shorter tail is dropped), frameMs apart.
bool CutPcm(const std::string& file, uint32_t frameBytes, uint32_t frameMs, Clip& out, std::string& error);

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error);

// CRC-32 (the zlib one) and its form as ffprobe -show_data_hash CRC32
// prints it: CRC32:xxxxxxxx.
uint32_t Crc32(const void* data, size_t length);
std::string CrcForm(uint32_t crc);

}  // namespace standin

#endif

// A received stream written out as the tests read it back: Annex B or raw
// bytes as they came, or IVF with each frame's length and time (ms).
#ifndef QG_STANDINS_COMMON_SAVE_FILE_H
#define QG_STANDINS_COMMON_SAVE_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace standin {

struct SaveFile {
    enum Format { kAnnexB, kIvf, kRaw } format = kRaw;
    std::FILE* file = nullptr;
    uint32_t frames = 0;
    // "annexb", "ivf" or "raw"; false for any other name.
    static bool FormatNamed(const std::string& name, Format& format);
    // fourcc and the size only matter to IVF's header.
    bool Open(const std::string& path, Format fmt, uint32_t width, uint32_t height, const std::string& fourcc);
    void Write(const void* data, uint32_t length, uint32_t ts);
    // IVF's frame count is written last.
    void Close();
};

}  // namespace standin

#endif

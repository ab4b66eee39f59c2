#include "save_file.h"

namespace standin {

namespace {

void WriteLe32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

bool SaveFile::FormatNamed(const std::string& name, Format& format)
{
    static const struct {
        const char* name;
        Format format;
    } kNames[] = {{"annexb", kAnnexB}, {"ivf", kIvf}, {"raw", kRaw}};
    for (const auto& n : kNames) {
        if (name == n.name) {
            format = n.format;
            return true;
        }
    }
    return false;
}

bool SaveFile::Open(const std::string& path, Format fmt, uint32_t width, uint32_t height, const std::string& fourcc)
{
    Close();
    file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    format = fmt;
    frames = 0;
    if (format == kIvf) {
        unsigned char h[32] = {'D', 'K', 'I', 'F', 0, 0, 32, 0};
        for (size_t i = 0; i < 4; ++i)
            h[8 + i] = static_cast<unsigned char>(i < fourcc.size() ? fourcc[i] : ' ');
        h[12] = static_cast<unsigned char>(width);
        h[13] = static_cast<unsigned char>(width >> 8);
        h[14] = static_cast<unsigned char>(height);
        h[15] = static_cast<unsigned char>(height >> 8);
        WriteLe32(h + 16, 1000);  // time base 1/1000: pts are the frames' ms
        WriteLe32(h + 20, 1);
        std::fwrite(h, 1, sizeof h, file);
    }
    return true;
}

void SaveFile::Write(const void* data, uint32_t length, uint32_t ts)
{
    if (!file)
        return;
    if (format == kIvf) {
        unsigned char h[12] = {0};
        WriteLe32(h, length);
        WriteLe32(h + 4, ts);
        std::fwrite(h, 1, sizeof h, file);
    }
    if (length)
        std::fwrite(data, 1, length, file);
    std::fflush(file);  // readable while the stream goes on
    ++frames;
}

void SaveFile::Close()
{
    if (!file)
        return;
    if (format == kIvf) {
        unsigned char n[4];
        WriteLe32(n, frames);
        std::fseek(file, 24, SEEK_SET);
        std::fwrite(n, 1, sizeof n, file);
    }
    std::fclose(file);
    file = nullptr;
}

}  // namespace standin

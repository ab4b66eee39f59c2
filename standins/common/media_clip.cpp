#include "media_clip.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace standin {

namespace {

uint32_t Le16(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Le32(const unsigned char* p)
{
    return Le16(p) | Le16(p + 2) << 16;
}
uint64_t Le64(const unsigned char* p)
{
    return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

void AddFrame(Clip& clip, const std::string& file, size_t offset, size_t length, uint32_t ts)
{
    ClipFrame f{static_cast<uint32_t>(clip.bytes.size()), static_cast<uint32_t>(length), ts};
    clip.bytes.append(file, offset, length);
    clip.frames.push_back(f);
}

void Finish(Clip& clip, uint32_t frameMs)
{
    clip.durationMs = clip.frames.empty() ? 0 : clip.frames.back().ts + frameMs;
}

// Duration of an Opus packet in 48 kHz samples, from its TOC byte (RFC 6716, 3.1).
uint32_t OpusSamples(const unsigned char* p, size_t n)
{
    if (n == 0)
        return 0;
    const unsigned config = p[0] >> 3;
    uint32_t perFrame;
    if (config < 12)
        perFrame = (config & 3) == 3 ? 2880 : 480u << (config & 3);  // SILK 10, 20, 40, 60 ms
    else if (config < 16)
        perFrame = (config & 1) ? 960 : 480;  // hybrid 10, 20 ms
    else
        perFrame = 120u << (config & 3);  // CELT 2.5, 5, 10, 20 ms
    uint32_t frames = 1;
    if ((p[0] & 3) == 1 || (p[0] & 3) == 2)
        frames = 2;
    else if ((p[0] & 3) == 3)
        frames = n > 1 ? (p[1] & 0x3F) : 0;
    return perFrame * frames;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool CutAnnexB(const std::string& file, uint32_t fpsNum, uint32_t fpsDen, Clip& out, std::string& error)
{
    out = Clip();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(file.data());
    const size_t n = file.size();
    // Offsets where a delimiter's start code begins (its leading zero byte too).
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 < n; ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1)
            continue;
        if ((p[i + 3] & 0x1F) == 9)
            starts.push_back(i > 0 && p[i - 1] == 0 ? i - 1 : i);
        i += 2;
    }
    if (starts.empty() || fpsNum == 0) {
        error = "no access-unit delimiters";
        return false;
    }
    starts.push_back(n);
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        const uint32_t ts = static_cast<uint32_t>(uint64_t(k) * 1000 * fpsDen / fpsNum);
        AddFrame(out, file, starts[k], starts[k + 1] - starts[k], ts);
    }
    Finish(out, static_cast<uint32_t>(1000ull * fpsDen / fpsNum));
    return true;
}

bool CutIvf(const std::string& file, Clip& out, std::string& error)
{
    out = Clip();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(file.data());
    const size_t n = file.size();
    if (n < 32 || file.compare(0, 4, "DKIF") != 0) {
        error = "not an IVF file";
        return false;
    }
    const size_t headerSize = Le16(p + 6);
    const uint32_t rate = Le32(p + 16), scale = Le32(p + 20);
    if (headerSize < 32 || headerSize > n || rate == 0 || scale == 0) {
        error = "bad IVF header";
        return false;
    }
    size_t at = headerSize;
    while (at + 12 <= n) {
        const size_t size = Le32(p + at);
        const uint64_t pts = Le64(p + at + 4);
        if (size > n - at - 12) {
            error = "IVF frame runs past the end";
            return false;
        }
        AddFrame(out, file, at + 12, size, static_cast<uint32_t>(pts * 1000 * scale / rate));
        at += 12 + size;
    }
    Finish(out, static_cast<uint32_t>(1000ull * scale / rate));
    if (out.frames.empty()) {
        error = "no IVF frames";
        return false;
    }
    return true;
}

bool CutOggOpus(const std::string& file, Clip& out, std::string& error)
{
    out = Clip();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(file.data());
    const size_t n = file.size();
    std::string packet;
    uint64_t samples = 0;
    uint32_t lastSamples = 0;
    size_t at = 0;
    while (at < n) {
        if (n - at < 27 || file.compare(at, 4, "OggS") != 0) {
            error = "bad Ogg page at " + std::to_string(at);
            return false;
        }
        const size_t segments = p[at + 26];
        if (n - at - 27 < segments) {
            error = "Ogg page runs past the end";
            return false;
        }
        const unsigned char* lacing = p + at + 27;
        size_t body = at + 27 + segments;
        for (size_t s = 0; s < segments; ++s) {
            if (body + lacing[s] > n) {
                error = "Ogg page runs past the end";
                return false;
            }
            packet.append(file, body, lacing[s]);
            body += lacing[s];
            if (lacing[s] == 255)
                continue;  // the packet goes on in the next segment
            if (packet.compare(0, 8, "OpusHead") != 0 && packet.compare(0, 8, "OpusTags") != 0) {
                ClipFrame f{static_cast<uint32_t>(out.bytes.size()), static_cast<uint32_t>(packet.size()),
                            static_cast<uint32_t>(samples / 48)};
                out.bytes += packet;
                out.frames.push_back(f);
                lastSamples = OpusSamples(reinterpret_cast<const unsigned char*>(packet.data()), packet.size());
                samples += lastSamples;
            }
            packet.clear();
        }
        at = body;
    }
    Finish(out, lastSamples / 48);
    if (out.frames.empty()) {
        error = "no Opus packets";
        return false;
    }
    return true;
}

bool CutPcm(const std::string& file, uint32_t frameBytes, uint32_t frameMs, Clip& out, std::string& error)
{
    out = Clip();
    if (frameBytes == 0 || file.size() < frameBytes) {
        error = "no whole PCM frame";
        return false;
    }
    const size_t count = file.size() / frameBytes;
    for (size_t k = 0; k < count; ++k)
        AddFrame(out, file, k * frameBytes, frameBytes, static_cast<uint32_t>(k * frameMs));
    Finish(out, frameMs);
    return true;
}

uint32_t Crc32(const void* data, size_t length)
{
    static const struct Table {
        uint32_t v[256];
        Table()
        {
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k)
                    c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                v[i] = c;
            }
        }
    } table;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = table.v[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string CrcForm(uint32_t crc)
{
    char text[16];
    std::snprintf(text, sizeof text, "CRC32:%08x", crc);
    return text;
}

}  // namespace standin

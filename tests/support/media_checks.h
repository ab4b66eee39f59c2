// What the media tests compare frames with: the CRC-32 the stand-ins print,
// the packets ffprobe lists in a fixture, the frames ffmpeg cuts raw PCM
// into, the frame hashes of a decoded stream, and fields of journal lines.
// The ffmpeg tools are run as programs; a result is empty when they cannot
// run, and the caller skips.
#ifndef QG_TESTS_SUPPORT_MEDIA_CHECKS_H
#define QG_TESTS_SUPPORT_MEDIA_CHECKS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qgtest {

inline uint32_t Crc32(const void* data, size_t length)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

// As ffprobe -show_data_hash CRC32 prints it.
inline std::string CrcForm(uint32_t crc)
{
    char text[16];
    snprintf(text, sizeof text, "CRC32:%08x", crc);
    return text;
}

inline std::string MediaFixture(const std::string& name)
{
    return std::string(QG_SOURCE_DIR) + "/tests/data/media/" + name;
}

// The output lines of a command, without their line ends.
inline std::vector<std::string> CommandLines(const std::string& command)
{
    std::vector<std::string> out;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p)
        return out;
    char line[512];
    while (fgets(line, sizeof line, p)) {
        std::string l(line);
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r'))
            l.pop_back();
        out.push_back(l);
    }
    if (pclose(p) != 0)
        out.clear();
    return out;
}

// "<size> CRC32:<hex>" per packet, as ffprobe lists the file.
inline std::vector<std::string> FfprobePackets(const std::string& path)
{
    std::vector<std::string> out;
    std::string size;
    for (const std::string& l : CommandLines("ffprobe -v error -show_entries packet=size,data_hash "
                                             "-show_data_hash CRC32 -of default=nw=1 '" +
                                             path + "'")) {
        if (l.compare(0, 5, "size=") == 0)
            size = l.substr(5);
        else if (l.compare(0, 10, "data_hash=") == 0)
            out.push_back(size + " " + l.substr(10));
    }
    return out;
}

// 16 kHz mono s16le cut by ffmpeg into 20 ms frames: "640 CRC32:<hex>" each.
inline std::vector<std::string> PcmFrames(const std::string& path)
{
    std::vector<std::string> out;
    for (const std::string& l : CommandLines("ffmpeg -v error -f s16le -ar 16000 -ac 1 -i '" + path +
                                             "' -af asetnsamples=n=320:p=0 -c:a pcm_s16le -f framehash -hash crc32 "
                                             "-")) {
        if (l.empty() || l[0] == '#')
            continue;
        // stream, dts, pts, duration, size, hash
        std::vector<std::string> cols;
        size_t at = 0;
        while (at <= l.size()) {
            size_t comma = l.find(',', at);
            if (comma == std::string::npos)
                comma = l.size();
            std::string c = l.substr(at, comma - at);
            c.erase(0, c.find_first_not_of(' '));
            cols.push_back(c);
            at = comma + 1;
        }
        if (cols.size() == 6)
            out.push_back(cols[4] + " CRC32:" + cols[5]);
    }
    return out;
}

// The MD5 of every decoded frame of a video file, in order, as ffmpeg's
// framemd5 prints it (timing columns left out: a file written with other
// time stamps decodes to the same pictures).
inline std::vector<std::string> DecodedFrameMd5(const std::string& path)
{
    std::vector<std::string> out;
    for (const std::string& l :
         CommandLines("ffmpeg -v error -i '" + path + "' -map 0:v -fps_mode passthrough -f framemd5 -")) {
        if (l.empty() || l[0] == '#')
            continue;
        const size_t last = l.rfind(',');
        if (last == std::string::npos)
            continue;
        std::string md5 = l.substr(last + 1);
        md5.erase(0, md5.find_first_not_of(' '));
        out.push_back(md5);
    }
    return out;
}

// Field of a journal line: "key=value" -> value.
inline std::string FieldOf(const std::string& line, const std::string& key)
{
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
}

// The lines that start with prefix.
inline std::vector<std::string> LinesWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    return out;
}

}  // namespace qgtest

#endif

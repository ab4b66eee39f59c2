// What the media tools say a container file holds: ffprobe's streams and
// packets (read as a pipe, the order a reader without seeking sees) and the
// ffmpeg tool's h264_mp4toannexb output of its first video stream. The tools
// are run as programs; a failure throws.
#ifndef QG_TESTS_SUPPORT_MEDIA_PROBE_H
#define QG_TESTS_SUPPORT_MEDIA_PROBE_H

#include <json/json.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qgtest {

inline std::string RunCommand(const std::string& command)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0)
        out.append(buf, n);
    if (pclose(pipe) != 0)
        throw std::runtime_error("failed: " + command);
    return out;
}

struct ProbeStream {
    int index = 0;
    std::string type;
    int tbNum = 0;
    int tbDen = 1;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fps = 0;  // r_frame_rate, cut to an integer
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
};

struct ProbePacket {
    int stream = 0;
    int64_t pos = -1;
    bool hasPts = false;
    int64_t pts = 0;       // else the dts
    int64_t duration = 0;  // 0 when not known
    uint32_t size = 0;
    bool key = false;
    uint32_t crc = 0;
};

struct Probe {
    std::vector<ProbeStream> streams;
    std::vector<ProbePacket> packets;
};

// ffprobe's packets of the file read as a pipe: the order a reader without
// seeking sees, which is the demuxer's.
inline Probe ProbeFile(const std::string& path)
{
    const std::string json =
        RunCommand("ffprobe -v error -show_streams -show_packets -show_data_hash CRC32 -of json - < '" + path + "'");
    Json::Value root;
    Json::Reader reader;
    if (!reader.parse(json, root))
        throw std::runtime_error("ffprobe output does not parse");
    Probe probe;
    for (const Json::Value& s : root["streams"]) {
        ProbeStream ps;
        ps.index = s["index"].asInt();
        ps.type = s["codec_type"].asString();
        sscanf(s["time_base"].asString().c_str(), "%d/%d", &ps.tbNum, &ps.tbDen);
        int rateNum = 0;
        int rateDen = 0;
        sscanf(s["r_frame_rate"].asString().c_str(), "%d/%d", &rateNum, &rateDen);
        ps.fps = rateDen ? static_cast<uint32_t>(rateNum / rateDen) : 0;
        ps.width = s["width"].asUInt();
        ps.height = s["height"].asUInt();
        ps.channels = s["channels"].asUInt();
        ps.sampleRate = static_cast<uint32_t>(std::stoul(s.get("sample_rate", "0").asString()));
        probe.streams.push_back(ps);
    }
    for (const Json::Value& p : root["packets"]) {
        ProbePacket pp;
        pp.stream = p["stream_index"].asInt();
        pp.pos = std::stoll(p.get("pos", "-1").asString());
        const Json::Value& pts = p.isMember("pts") ? p["pts"] : p["dts"];
        pp.hasPts = !pts.isNull();
        pp.pts = pp.hasPts ? pts.asInt64() : 0;
        pp.duration = p.get("duration", 0).asInt64();
        pp.size = static_cast<uint32_t>(std::stoul(p["size"].asString()));
        pp.key = p["flags"].asString().find('K') != std::string::npos;
        pp.crc = static_cast<uint32_t>(std::stoul(p["data_hash"].asString().substr(6), nullptr, 16));
        probe.packets.push_back(pp);
    }
    return probe;
}

struct AnnexBFrame {
    uint32_t size = 0;
    uint32_t crc = 0;
};

struct AnnexB {
    uint32_t extradataSize = 0;
    uint32_t extradataCrc = 0;
    std::vector<AnnexBFrame> frames;
};

// The ffmpeg tool's h264_mp4toannexb output of the first video stream: the
// parameter sets it ends with, and each packet.
inline AnnexB AnnexBOfFile(const std::string& path)
{
    const std::string out = RunCommand("ffmpeg -v error -i - -map 0:v:0 -c copy -bsf:v h264_mp4toannexb "
                                       "-f framehash -hash crc32 - < '" +
                                       path + "'");
    AnnexB result;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned size = 0;
        unsigned crc = 0;
        if (sscanf(line.c_str(), "#extradata 0, %u, %x", &size, &crc) == 2) {
            result.extradataSize = size;
            result.extradataCrc = crc;
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        long long dts, pts, duration;
        int stream;
        if (sscanf(line.c_str(), "%d, %lld, %lld, %lld, %u, %x", &stream, &dts, &pts, &duration, &size, &crc) == 6)
            result.frames.push_back({size, crc});
    }
    return result;
}

inline uint32_t PtsToMs(int64_t pts, const ProbeStream& s)
{
    return static_cast<uint32_t>(pts * s.tbNum * 1000 / s.tbDen);
}

// The CRC-32 of A followed by B, from the CRC-32 of each and B's length:
// the CRC is affine in the bytes, so crc(A B) = crc(A 0..0) ^ crc(B) ^ crc(0..0)
// with as many zeros as B has bytes.
inline uint32_t Crc32Concat(uint32_t crcA, uint32_t crcB, uint32_t lengthB)
{
    uint32_t a = ~crcA;
    uint32_t zeros = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < lengthB; ++i) {
        for (int k = 0; k < 8; ++k) {
            a = (a >> 1) ^ (0xEDB88320u & (0u - (a & 1u)));
            zeros = (zeros >> 1) ^ (0xEDB88320u & (0u - (zeros & 1u)));
        }
    }
    return ~a ^ crcB ^ ~zeros;
}

// One frame as the SDK is to get it from the demuxer: the first video and
// the first audio stream's packets in file order, timed from `base`, H.264
// in Annex-B with the parameter sets before each key frame.
struct InputFrame {
    bool video = false;
    uint32_t timestamp = 0;
    bool key = false;
    uint32_t size = 0;
    uint32_t crc = 0;
};

struct InputStreams {
    ProbeStream video;
    ProbeStream audio;
    std::vector<InputFrame> frames;
};

inline InputStreams InputFramesOf(const std::string& path, uint32_t base, bool h264)
{
    const Probe probe = ProbeFile(path);
    InputStreams in;
    in.video.index = -1;
    in.audio.index = -1;
    for (const ProbeStream& s : probe.streams) {
        if (s.type == "video" && in.video.index < 0)
            in.video = s;
        if (s.type == "audio" && in.audio.index < 0)
            in.audio = s;
    }
    AnnexB annexB;
    if (h264)
        annexB = AnnexBOfFile(path);
    size_t videoCount = 0;
    for (const ProbePacket& p : probe.packets) {
        if (p.stream != in.video.index && p.stream != in.audio.index)
            continue;
        InputFrame f;
        f.video = p.stream == in.video.index;
        f.timestamp = base + PtsToMs(p.pts, f.video ? in.video : in.audio);
        f.key = p.key;
        f.size = p.size;
        f.crc = p.crc;
        if (f.video && h264) {
            if (videoCount >= annexB.frames.size())
                throw std::runtime_error("ffmpeg gave fewer H.264 packets than ffprobe");
            const AnnexBFrame& a = annexB.frames[videoCount];
            f.size = a.size;
            f.crc = a.crc;
            if (p.key) {
                f.size += annexB.extradataSize;
                f.crc = Crc32Concat(annexB.extradataCrc, a.crc, a.size);
            }
        }
        videoCount += f.video ? 1 : 0;
        in.frames.push_back(f);
    }
    return in;
}

}  // namespace qgtest

#endif

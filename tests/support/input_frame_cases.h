// The browser's frames into the SDK as cases: what the SDK client hands to
// CVAPI_InputVideoDataEx/CVAPI_InputAudioDataEx for a frame of these bytes,
// codec, platform and browser. Shared by the in-process and end-to-end tables.
#ifndef QG_TESTS_SUPPORT_INPUT_FRAME_CASES_H
#define QG_TESTS_SUPPORT_INPUT_FRAME_CASES_H

#include <cstdint>
#include <string>

#include "tests/support/case_names.h"

namespace qgtest {

// The bytes of a hex text.
inline std::string Bytes(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct VideoCase {
    const char* name;
    uint32_t codec;
    int platformType;  // -1: none in the login parameters (0)
    uint32_t rotation;
    uint32_t keyFrame;
    const char* hex;
    uint32_t flags;
    uint32_t rotationValue;  // 0: the SDK is told of none
};
QG_PRINT_CASE_BY_NAME(VideoCase)

inline const VideoCase kVideoCases[] = {
    {"VP8CodeAtTheStartOfSevenBytes", 3, 1, 0, 0, "9d012a00000000", 3, 0},
    {"VP8OfSixBytesIsNeverAKeyFrame", 3, 1, 0, 0, "9d012a000000", 1, 0},
    {"VP8CodeAtTheLastOffsetSearched", 3, 1, 0, 0, "009d012a00000000", 3, 0},
    {"VP8CodeBeyondTheSearch", 3, 1, 0, 0, "00009d012a000000", 1, 0},
    {"VP8MarkedAsKeyFrame", 3, 1, 0, 1, "0102030405060708", 3, 0},
    {"H264KeyFrameStaysOrdinary", 1, 1, 0, 1, "0000000165888400", 1, 0},
    {"H264IgnoresTheVP8Code", 1, 1, 0, 0, "9d012a00000000", 1, 0},
    {"Windows90", 1, 1, 90, 0, "00000001", 5, 0x8000},
    {"Windows180", 1, 1, 180, 0, "00000001", 5, 0x4000},
    {"Android270", 1, 2, 270, 0, "00000001", 5, 0x2000},
    {"NoPlatform270", 1, -1, 270, 0, "00000001", 5, 0x2000},
    {"iPad270", 1, 3, 270, 0, "00000001", 5, 0x8000},
    {"iPhone90", 1, 4, 90, 0, "00000001", 5, 0x2000},
    {"iPhone180", 1, 4, 180, 0, "00000001", 5, 0x4000},
    {"Rotation45IsNone", 1, 1, 45, 0, "00000001", 1, 0},
    {"Rotation360IsNone", 1, 4, 360, 0, "00000001", 1, 0},
    {"UnknownPlatformTellsNoRotation", 1, 5, 90, 0, "00000001", 1, 0},
    {"RotatedVP8KeyFrameOnAnIPhone", 3, 4, 270, 0, "9d012a00000000", 7, 0x8000},
};

struct AudioCase {
    const char* name;
    uint32_t codec;
    int browserType;
    uint32_t flag;
    uint32_t ts;  // of a frame sent at 1000
};
QG_PRINT_CASE_BY_NAME(AudioCase)

inline const AudioCase kAudioCases[] = {
    {"OpusFromChrome", 11, 4, 0, 1000},
    {"OtherCodecFromChrome", 13, 4, 1, 1000},
    {"OpusFromBrowserType1IsLater", 11, 1, 0, 1400},
    {"OpusFromBrowserType2", 11, 2, 0, 1000},
};

}  // namespace qgtest

#endif

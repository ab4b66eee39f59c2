// The three records frames and data-channel messages cross the library's
// boundary in, read and filled by byte offset only: the library never looks
// through quillgate's struct, so a wrong layout there shows up here.
#ifndef QG_RTC_RECORDS_H
#define QG_RTC_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rtcstub {

// Little-endian, packed; the library's own bytes are the ones not listed.
struct AudioRecord {
    static constexpr size_t kSize = 40;
    static constexpr size_t kTimestamp = 16, kZero = 20, kLength = 28, kData = 32;
};
struct VideoRecord {
    static constexpr size_t kSize = 44;
    static constexpr size_t kStreamIndex = 0, kRotation = 16, kTimestamp = 20, kZero = 24, kLength = 32, kData = 36;
};
struct DataRecord {
    static constexpr size_t kSize = 144;
    static constexpr size_t kChannelId = 0, kData = 132, kLength = 140;
};

inline uint32_t Get32(const void* rec, size_t off)
{
    const unsigned char* p = static_cast<const unsigned char*>(rec) + off;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void Put32(void* rec, size_t off, uint32_t v)
{
    unsigned char* p = static_cast<unsigned char*>(rec) + off;
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline const unsigned char* GetPtr(const void* rec, size_t off)
{
    const unsigned char* p = nullptr;
    std::memcpy(&p, static_cast<const unsigned char*>(rec) + off, sizeof p);
    return p;
}
inline void PutPtr(void* rec, size_t off, const void* ptr)
{
    std::memcpy(static_cast<unsigned char*>(rec) + off, &ptr, sizeof ptr);
}

// The library's own bytes of a record it fills: byte i holds 0xA0 | (i & 31)
// (never 0), so a reader that takes them for a field sees nonsense.
inline void FillPattern(void* rec, size_t size)
{
    unsigned char* p = static_cast<unsigned char*>(rec);
    for (size_t i = 0; i < size; ++i)
        p[i] = static_cast<unsigned char>(0xA0 | (i & 31));
}

}  // namespace rtcstub

#endif

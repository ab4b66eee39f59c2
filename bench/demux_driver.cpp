// A whole process that does what quillgate's demuxer does with a stream,
// and nothing else, so the demuxer can be timed from exec to exit against
// the ffmpeg tool: it reads a container file chunk by chunk into one
// buffer (as the tool reads its input), feeds each chunk to a demuxer unit
// and exits once every packet came out. The frames' pacing is off
// through the media clock (each frame is due when first looked at).
//
//   bench_demux_driver <file> <packets> <duration ms> <first chunk> <chunk>
//
// Before the input opens, each chunk goes in once the unit is done with the
// one before (its input open, or the delivery thread of a short open ended),
// but no later than the stream's own pace would bring it (its bytes at the
// file's byte rate): so a data channel hands its blocks on. After the open,
// chunks go in as fast as the unit takes them. Prints how many chunks and
// bytes went in before the open; exits 0 when every packet came out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "quillgate/sdklink/demux/demuxer_unit.h"
#include "quillgate/sdklink/demux/memory_demuxer.h"
#include "util/media_clock.h"

namespace {

std::atomic<uint32_t> g_now{1};

uint32_t DriverNow()
{
    return g_now.load(std::memory_order_relaxed);
}

void DriverSleep(uint32_t ms)
{
    g_now.fetch_add(ms * 100000u, std::memory_order_relaxed);
    std::this_thread::yield();
}

const MediaClock kDriverClock = {&DriverNow, &DriverSleep};

class CountingDelegate : public IMemoryDemuxerDelegate
{
public:
    void OnVideoData(uint32_t, uint8_t*, uint32_t, uint32_t) override { frames.fetch_add(1); }
    void OnAudioData(uint32_t, uint8_t*, uint32_t, uint32_t) override { frames.fetch_add(1); }
    void OnVideoFormat(uint32_t, uint32_t, uint32_t, uint32_t) override {}
    void OnAudioFormat(uint32_t, uint32_t, uint32_t, uint32_t) override {}

    std::atomic<uint64_t> frames{0};
};

typedef std::chrono::steady_clock Clock;

bool ReadFully(int fd, uint8_t* out, size_t n)
{
    while (n > 0) {
        const ssize_t got = read(fd, out, n);
        if (got <= 0)
            return false;
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: %s <file> <packets> <duration ms> <first chunk> <chunk>\n", argv[0]);
        return 2;
    }
    const int file = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat info = {};
    const size_t size = file >= 0 && fstat(file, &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
    const uint64_t packets = strtoull(argv[2], nullptr, 10);
    const double durationMs = atof(argv[3]);
    const size_t first = strtoul(argv[4], nullptr, 10);
    const size_t chunk = strtoul(argv[5], nullptr, 10);
    if (size == 0 || packets == 0 || durationMs <= 0 || first == 0 || chunk == 0) {
        fprintf(stderr, "nothing to feed\n");
        return 2;
    }
    const double bytesPerMs = static_cast<double>(size) / durationMs;

    SetMediaClock(&kDriverClock);
    CountingDelegate delegate;
    g_lpDelegate = &delegate;
    CDemuxerUnit unit;
    if (unit.Init() != 0)
        return 1;

    std::vector<uint8_t> buffer(std::max(first, chunk));
    size_t chunksBeforeOpen = 0, bytesBeforeOpen = 0;
    size_t n = first;
    for (size_t pos = 0; pos < size; pos += n, n = chunk) {
        n = std::min(n, size - pos);
        const uint8_t* data = buffer.data();
        if (!ReadFully(file, buffer.data(), n))
            return 1;
        const bool open = unit.GetState() == CDemuxerUnit::kOpen;
        // A full buffer refuses until the reader drains it; bounded.
        const auto refuseUntil = Clock::now() + std::chrono::seconds(30);
        while (unit.InputData(data, static_cast<uint32_t>(n), 1, pos == 0 ? 1 : 0) != 0) {
            if (Clock::now() > refuseUntil)
                return 1;
            std::this_thread::yield();
        }
        if (open)
            continue;
        ++chunksBeforeOpen;
        bytesBeforeOpen += n;
        const auto due = Clock::now() + std::chrono::microseconds(static_cast<int64_t>(1000 * n / bytesPerMs));
        while (unit.GetState() != CDemuxerUnit::kOpen && unit.IsRunning() && Clock::now() < due)
            std::this_thread::yield();
    }
    // An FLV packet is read once the size field after it is in, so all of
    // them come out of an open input.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (delegate.frames.load() < packets && Clock::now() < deadline)
        std::this_thread::yield();
    const uint64_t got = delegate.frames.load();
    unit.CloseInput();
    g_lpDelegate = nullptr;
    close(file);
    printf("chunks before the open: %zu (%zu bytes); packets out: %llu of %llu\n", chunksBeforeOpen, bytesBeforeOpen,
           static_cast<unsigned long long>(got), static_cast<unsigned long long>(packets));
    return got == packets ? 0 : 3;
}

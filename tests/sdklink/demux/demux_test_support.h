// What the demuxer tests share: a fake media clock, a delegate that records
// what it is given, the captured log, and the packet lists the ffprobe and
// ffmpeg command-line tools give for a fixture.
#ifndef QG_TESTS_SDKLINK_DEMUX_DEMUX_TEST_SUPPORT_H
#define QG_TESTS_SDKLINK_DEMUX_DEMUX_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/log/proxy_log.h"
#include "quillgate/sdklink/demux/demuxer_unit.h"
#include "quillgate/sdklink/demux/memory_demuxer.h"
#include "tests/support/media_checks.h"
#include "tests/support/media_probe.h"
#include "tests/support/test_support.h"
#include "util/media_clock.h"

namespace demuxtest {

inline std::string MediaFile(const std::string& name)
{
    return std::string(QG_SOURCE_DIR) + "/tests/data/media/" + name;
}

// ---- fake clock: each pause moves the time on by its length at once ----

inline std::atomic<uint32_t>& FakeNow()
{
    static std::atomic<uint32_t> now{0};
    return now;
}

inline uint32_t FakeClockNow()
{
    return FakeNow().load();
}

inline void FakeClockSleep(uint32_t ms)
{
    FakeNow() += ms;
    // A breath of real time, so a waiting reader does not starve the feeder.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}

inline const MediaClock* FakeClock()
{
    static const MediaClock clock = {&FakeClockNow, &FakeClockSleep};
    return &clock;
}

// ---- captured log ----

inline std::mutex& LogMutex()
{
    static std::mutex m;
    return m;
}

inline std::vector<std::string>& LogLines()
{
    static std::vector<std::string> lines;
    return lines;
}

inline void CaptureLogLine(const char* line)
{
    std::lock_guard<std::mutex> lock(LogMutex());
    LogLines().push_back(line);
}

inline std::vector<std::string> TakeLog()
{
    std::lock_guard<std::mutex> lock(LogMutex());
    std::vector<std::string> lines;
    lines.swap(LogLines());
    return lines;
}

inline int CountLines(const std::vector<std::string>& lines, const std::string& part)
{
    int n = 0;
    for (const std::string& line : lines)
        n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// ---- recording delegate ----

struct Frame {
    bool video = false;
    uint32_t timestamp = 0;
    std::string data;
    uint32_t flags = 0;
    uint32_t at = 0;  // media clock at delivery
};

struct VideoFormat {
    uint32_t codec, width, height, fps;
};

struct AudioFormat {
    uint32_t codec, channels, bitsPerSample, sampleRate;
};

class RecordingDelegate : public IMemoryDemuxerDelegate
{
public:
    void OnVideoData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t keyFrame) override
    {
        Add(true, timestamp, data, length, keyFrame);
    }
    void OnAudioData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t flags) override
    {
        Add(false, timestamp, data, length, flags);
    }
    void OnVideoFormat(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_videoFormats.push_back({codec, width, height, fps});
    }
    void OnAudioFormat(uint32_t codec, uint32_t channels, uint32_t bitsPerSample, uint32_t sampleRate) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_audioFormats.push_back({codec, channels, bitsPerSample, sampleRate});
    }

    // While closed, frames wait in the delivering thread (at most 30 s).
    void CloseGate()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateClosed = true;
    }
    void OpenGate()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gateClosed = false;
        m_cv.notify_all();
    }
    bool WaitBlocked(int ms = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_blocked > 0; });
    }

    // True once at least n frames came, within the time allowed.
    bool WaitFrames(size_t n, int ms = 20000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_frames.size() >= n; });
    }
    std::vector<Frame> Frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    size_t FrameCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames.size();
    }
    std::vector<VideoFormat> VideoFormats()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_videoFormats;
    }
    std::vector<AudioFormat> AudioFormats()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_audioFormats;
    }

private:
    void Add(bool video, uint32_t timestamp, const uint8_t* data, uint32_t length, uint32_t flags)
    {
        Frame f;
        f.video = video;
        f.timestamp = timestamp;
        f.data.assign(reinterpret_cast<const char*>(data), length);
        f.flags = flags;
        f.at = MediaClockNow();
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_blocked;
        m_cv.notify_all();
        m_cv.wait_for(lock, std::chrono::seconds(30), [&] { return !m_gateClosed; });
        --m_blocked;
        m_frames.push_back(std::move(f));
        m_cv.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Frame> m_frames;
    std::vector<VideoFormat> m_videoFormats;
    std::vector<AudioFormat> m_audioFormats;
    bool m_gateClosed = false;
    int m_blocked = 0;
};

// ---- reference lists from the command-line tools ----

using qgtest::AnnexB;
using qgtest::AnnexBFrame;
using qgtest::AnnexBOfFile;
using qgtest::Probe;
using qgtest::ProbeFile;
using qgtest::ProbePacket;
using qgtest::ProbeStream;
using qgtest::PtsToMs;
using qgtest::RunCommand;

inline uint32_t Crc32(const std::string& bytes)
{
    return qgtest::Crc32(bytes.data(), bytes.size());
}

// ---- a unit under test, with the fake clock and the captured log ----

class DemuxerUnit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeNow() = 100000;
        SetMediaClock(FakeClock());
        TakeLog();
        SetProxyLogSink(&CaptureLogLine);
        SetProxyLogLevel(1);
        g_lpDelegate = &m_delegate;
        ASSERT_EQ(0, m_unit.Init());
    }
    void TearDown() override
    {
        m_unit.CloseInput();
        g_lpDelegate = nullptr;
        SetProxyLogSink(nullptr);
        SetProxyLogLevel(4);
        SetMediaClock(nullptr);
    }

    // Short opens end their thread before the next chunk re-opens them, as
    // they do when chunks come at the stream's own pace.
    bool WaitSettled(int ms = 10000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (m_unit.GetState() == CDemuxerUnit::kOpen || !m_unit.IsRunning())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // The file in chunks of `chunk` bytes (0: whole), the first restarting
    // the stream with `base`.
    void Feed(const std::string& bytes, size_t chunk, uint32_t base = 1000)
    {
        if (chunk == 0)
            chunk = bytes.size();
        for (size_t pos = 0; pos < bytes.size(); pos += chunk) {
            const size_t n = std::min(chunk, bytes.size() - pos);
            m_unit.InputData(reinterpret_cast<const uint8_t*>(bytes.data() + pos), static_cast<uint32_t>(n), base,
                             pos == 0 ? 1 : 0);
            ASSERT_TRUE(WaitSettled());
        }
    }

    RecordingDelegate m_delegate;
    CDemuxerUnit m_unit;
};

}  // namespace demuxtest

#endif

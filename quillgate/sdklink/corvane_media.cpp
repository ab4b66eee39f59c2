// The SDK client's media: the formats media flows in between the SDK and
// the browser, the camera commands that wait for them, the browser's frames
// into the SDK and remote users' frames out of it. Frames pass by pointer
// on the thread that delivered them: no copy, no lock, no allocation.
#include "quillgate/sdklink/corvane_connect.h"

#include "quillgate/sdklink/demux/memory_demuxer.h"

#include <chrono>
#include <json/json.h>
#include <thread>
#include <vector>

#include "quillgate/log/proxy_log.h"
#include "util/json_writer.h"

namespace {

const uint32_t kNoUser = static_cast<uint32_t>(-1);

// What a format left at 0 becomes, and the frame rate the SDK is always told.
const uint32_t kDefaultWidth = 320;
const uint32_t kDefaultHeight = 240;
const uint32_t kInputFps = 15;
const uint32_t kDefaultChannels = 1;
const uint32_t kDefaultSampleRate = 16000;
const uint32_t kDefaultBits = 16;

// Option 233: the codec the SDK hands remote video over in, and the flag
// that asks for one slice per frame (what Apple devices decode).
const int kOutVideoH264 = 1;
const int kOutVideoVP8 = 4;
const int kSingleSliceFlag = 1024;

// A format just set takes this long in the SDK before cameras open on it.
const std::chrono::milliseconds kCachePassDelay(300);

// Log thinning, process-wide: every frame but each 50th (video) or 100th
// (audio) is logged at level 2.
const uint32_t kVideoLogEvery = 50;
const uint32_t kAudioLogEvery = 100;
std::atomic<uint32_t> g_inputVideoFrames(0);
std::atomic<uint32_t> g_inputAudioFrames(0);
std::atomic<uint32_t> g_remoteVideoFrames(0);
std::atomic<uint32_t> g_remoteAudioFrames(0);

bool IsAppleDevice(uint32_t platformType)
{
    return platformType == 3 || platformType == 4;
}

// The rotation the SDK is told before a rotated frame, by platform type:
// Apple devices count the other way round.
struct RotationValue {
    uint32_t degrees;
    uint32_t value;       // platform types 0 to 2
    uint32_t appleValue;  // 3 and 4
};
const RotationValue kRotations[] = {
    {90, 0x8000, 0x2000},
    {180, 0x4000, 0x4000},
    {270, 0x2000, 0x8000},
};
const uint32_t kLastPlatformType = 4;

// 0 when the frame carries no rotation the SDK is told of.
uint32_t RotationFor(uint32_t degrees, uint32_t platformType)
{
    if (platformType > kLastPlatformType)
        return 0;
    for (const RotationValue& r : kRotations) {
        if (r.degrees == degrees)
            return IsAppleDevice(platformType) ? r.appleValue : r.value;
    }
    return 0;
}

// A VP8 key frame holds the start code 9D 01 2A; it is looked for from
// offset 0 to length - 7, so a frame of 6 bytes or fewer is never one.
bool HasVp8StartCode(const uint8_t* data, uint32_t length)
{
    if (length <= 6)
        return false;
    for (uint32_t i = 0; i + 7 <= length; ++i) {
        if (data[i] == 0x9D && data[i + 1] == 0x01 && data[i + 2] == 0x2A)
            return true;
    }
    return false;
}

const char* NullIfEmpty(const std::string& text)
{
    return text.empty() ? nullptr : text.c_str();
}

}  // namespace

// ---- formats ----

int CCorvaneConnect::SetDownVideoFrame(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps)
{
    int ret;
    {
        std::lock_guard<std::mutex> lock(m_mediaMutex);
        if (m_inputVideoFormatSet)
            return 0;
        m_videoCodec = codec;
        if (width == 0)
            width = kDefaultWidth;
        if (height == 0)
            height = kDefaultHeight;
        ret = CVAPI_SetInputVideoFormatEx(0, codec, 0, width, height, kInputFps, 0);
        // Set whatever the SDK answered: a refused format is not retried in this room.
        m_inputVideoFormatSet = 1;
        ProxyLog(4, "CCorvaneConnect::SetDownVideoFrame: videoCodecId:%d, width:%d, height:%d, fps:%d, dwRet:%d", codec,
                 width, height, fps, ret);
    }
    HandleDealCmdCache();
    if (m_owner)
        m_owner->SendMediaCodecInfo(codec, 0);
    return ret;
}

int CCorvaneConnect::SetDownAudioFrame(uint32_t codec, uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample)
{
    std::lock_guard<std::mutex> lock(m_mediaMutex);
    if (m_inputAudioFormatSet)
        return 0;
    m_audioCodec = codec;
    if (channels == 0)
        channels = kDefaultChannels;
    if (sampleRate == 0)
        sampleRate = kDefaultSampleRate;
    if (bitsPerSample == 0)
        bitsPerSample = kDefaultBits;
    CVAPI_SetInputAudioFormatEx(0, codec, channels, sampleRate, bitsPerSample, 0);
    m_inputAudioFormatSet = 1;
    ProxyLog(4, "CCorvaneConnect::SetDownAudioFrame: audioCodecId:%d, channels:%d, samplesPerSec:%d, bitPerSamele:%d",
             codec, channels, sampleRate, bitsPerSample);
    return 0;
}

int CCorvaneConnect::SetUpVideoFrame(uint32_t codec)
{
    {
        std::lock_guard<std::mutex> lock(m_mediaMutex);
        if (m_outVideoSet)
            return 0;
        Json::Value option(Json::objectValue);
        if (codec == CV_CODEC_H264) {
            const bool singleSlice = IsAppleDevice(m_platformType);
            if (singleSlice)
                ProxyLog(4, "CCorvaneConnect::SetUpVideoFrame: add single silce flag");
            option["flags"] = singleSlice ? kSingleSliceFlag : 0;
            option["videocodec"] = kOutVideoH264;
        } else {
            option["flags"] = 0;
            option["videocodec"] = kOutVideoVP8;
        }
        const std::string text = cv::toStyledString(option);
        CVAPI_SetSDKOption(CV_OPT_OUTPUT_VIDEO_FORMAT, text.c_str(), static_cast<int>(text.size()));
        m_outVideoSet = 1;
        ProxyLog(4, "CCorvaneConnect::SetUpVideoFrame: videoCodecId:%d", codec);
    }
    HandleDealCmdCache();
    return 0;
}

int CCorvaneConnect::SetUpAudioFrame(uint32_t)
{
    // The SDK hands audio over as PCM whatever the browser took.
    if (m_outAudioSet.exchange(1) == 0)
        ProxyLog(4, "CCorvaneConnect::SetUpAudioFrame: defualt pcm videoCodec");
    return 0;
}

void CCorvaneConnect::ClearMediaFormats()
{
    {
        std::lock_guard<std::mutex> lock(m_mediaMutex);
        m_inputVideoFormatSet = 0;
        m_inputAudioFormatSet = 0;
        m_outVideoSet = 0;
    }
    m_outAudioSet = 0;
}

// ---- cameras and the command cache ----

bool CCorvaneConnect::CameraFormatSet(uint32_t userId) const
{
    if (userId == kNoUser || userId == m_ownUserId)
        return m_inputVideoFormatSet != 0;
    return m_outVideoSet != 0;
}

int CCorvaneConnect::doUserCameraControl(int userId, bool open)
{
    const uint32_t user = static_cast<uint32_t>(userId);
    bool cached = false;
    {
        std::lock_guard<std::mutex> lock(m_mediaMutex);
        if (open && !CameraFormatSet(user)) {
            CmdCacheInfo record;
            record.type = kCmdCameraControl;
            record.userId = user;
            record.open = 1;
            m_cmdCache.push_back(record);
            cached = true;
        } else if (!open) {
            // A closed camera must not open later from the cache; the
            // answer to this close covers the waiting open's id too.
            for (auto it = m_cmdCache.begin(); it != m_cmdCache.end();) {
                if (it->type == kCmdCameraControl && it->userId == user)
                    it = m_cmdCache.erase(it);
                else
                    ++it;
            }
        }
    }
    if (cached) {
        ProxyLog(4, "invoke CCorvaneConnect::doUserCameraControl do not set video codec, cache cmd!");
        return 0;
    }
    const int ret = CVAPI_UserCameraControl(user, open ? 1 : 0);
    ProxyLog(4, "invoke CCorvaneConnect::doUserCameraControl: dwUserid:%d, bopen:%d, ret:%d", userId, open ? 1 : 0,
             ret);
    if (m_owner)
        m_owner->ReplyUserCameraControl(userId, ret);
    return ret;
}

int CCorvaneConnect::doUserCameraControlEx(int userId, bool open, int streamIndex, int flags,
                                           const std::string& strParam)
{
    const uint32_t user = static_cast<uint32_t>(userId);
    const uint32_t stream = static_cast<uint32_t>(streamIndex);
    bool cached = false;
    {
        std::lock_guard<std::mutex> lock(m_mediaMutex);
        if (open && !CameraFormatSet(user)) {
            CmdCacheInfo record;
            record.type = kCmdCameraControlEx;
            record.userId = user;
            record.open = 1;
            record.streamIndex = stream;
            record.flags = static_cast<uint32_t>(flags);
            if (!strParam.empty())
                record.param = strParam;
            m_cmdCache.push_back(record);
            cached = true;
        } else if (!open) {
            for (auto it = m_cmdCache.begin(); it != m_cmdCache.end();) {
                if (it->type == kCmdCameraControlEx && it->userId == user && it->streamIndex == stream)
                    it = m_cmdCache.erase(it);
                else
                    ++it;
            }
        }
    }
    if (cached) {
        ProxyLog(4, "invoke CCorvaneConnect::doUserCameraControlEx do not set video codec, cache cmd!");
        return 0;
    }
    const int ret =
        CVAPI_UserCameraControlEx(user, open ? 1 : 0, stream, static_cast<uint32_t>(flags), strParam.c_str());
    ProxyLog(4,
             "invoke CCorvaneConnect::doUserCameraControlEx dwUserid:%d, bopen:%d, dwStreamIndex:%d, dwFlags:%d, "
             "iRet:%d",
             userId, open ? 1 : 0, streamIndex, flags, ret);
    if (m_owner)
        m_owner->ReplyUserCameraControlEx(userId, ret);
    return ret;
}

int CCorvaneConnect::HandleDealCmdCache()
{
    std::this_thread::sleep_for(kCachePassDelay);
    // The SDK calls and their answers run under the media mutex: a camera
    // request that comes meanwhile waits for the pass to end.
    std::lock_guard<std::mutex> lock(m_mediaMutex);
    for (auto it = m_cmdCache.begin(); it != m_cmdCache.end();) {
        const CmdCacheInfo& r = *it;
        if (!IsCameraCommand(r) || r.open == 0 || !CameraFormatSet(r.userId)) {
            ++it;
            continue;
        }
        const int userId = static_cast<int>(r.userId);
        const int open = r.open ? 1 : 0;
        if (r.type == kCmdCameraControl) {
            const int ret = CVAPI_UserCameraControl(r.userId, open);
            ProxyLog(4,
                     "invoke CCorvaneConnect::HandleDealCmdCache: execut CameraControl dwUserid:%d, bopen:%d, ret:%d",
                     userId, open, ret);
            if (m_owner)
                m_owner->ReplyUserCameraControl(userId, ret);
        } else {
            const int ret = CVAPI_UserCameraControlEx(r.userId, open, r.streamIndex, r.flags,
                                                      r.param ? NullIfEmpty(*r.param) : nullptr);
            ProxyLog(4,
                     "invoke CCorvaneConnect::HandleDealCmdCache execut CameraControlEx dwUserid:%d, bopen:%d, "
                     "dwStreamIndex:%d, dwFlags:%d, iRet:%d",
                     userId, open, r.streamIndex, r.flags, ret);
            if (m_owner)
                m_owner->ReplyUserCameraControlEx(userId, ret);
        }
        it = m_cmdCache.erase(it);
    }
    return 0;
}

void CCorvaneConnect::DropCachedCameras(const char* caller)
{
    std::vector<CmdCacheInfo> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mediaMutex);
        for (auto it = m_cmdCache.begin(); it != m_cmdCache.end();) {
            if (IsCameraCommand(*it)) {
                dropped.push_back(*it);
                it = m_cmdCache.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const CmdCacheInfo& r : dropped) {
        ProxyLog(4, "CCorvaneConnect::%s: drop cached camera cmd! dwUserid:%d, dwStreamIndex:%d", caller, r.userId,
                 r.streamIndex);
        if (!m_owner)
            continue;
        if (r.type == kCmdCameraControl)
            m_owner->ReplyUserCameraControl(static_cast<int>(r.userId), -1);
        else
            m_owner->ReplyUserCameraControlEx(static_cast<int>(r.userId), -1);
    }
}

// ---- the browser's media into the SDK ----

void CCorvaneConnect::InputVideoData(uint32_t, uint32_t streamIndex, uint32_t, uint8_t* data, uint32_t length,
                                     uint32_t timestamp, uint32_t rotation, uint32_t keyFrame)
{
    if (!data || length == 0 || m_inputVideoFormatSet == 0)
        return;
    uint32_t flags = CV_FRAME_FLAG_NORMAL;
    // Only VP8 frames are marked as key frames.
    if (m_videoCodec == CV_CODEC_VP8 && (keyFrame != 0 || HasVp8StartCode(data, length)))
        flags = CV_FRAME_FLAG_KEY;
    const uint32_t rotationValue = RotationFor(rotation, m_platformType);
    if (rotationValue != 0) {
        flags += CV_FRAME_FLAG_ROTATION;
        CVAPI_UserInfoControl(kNoUser, CV_USERINFO_CTRL_ROTATION, rotationValue, 0, nullptr);
    }
    const uint32_t num = g_inputVideoFrames.fetch_add(1);
    if (num % kVideoLogEvery != 0)
        ProxyLog(2, "receive webrtc video: userid:%d, num:%d, flag:%d", m_ownUserId.load(), num, flags);
    CVAPI_InputVideoDataEx(streamIndex, data, length, timestamp, flags);
}

void CCorvaneConnect::InputAudioData(uint32_t, uint32_t, uint32_t, uint8_t* data, uint32_t length, uint32_t timestamp)
{
    if (!data || length == 0 || m_inputAudioFormatSet == 0)
        return;
    const uint32_t flag = m_audioCodec == CV_CODEC_OPUS ? 0 : 1;
    // This browser's audio runs 400 ms ahead of its video.
    if (m_browserType == 1)
        timestamp += 400;
    const uint32_t num = g_inputAudioFrames.fetch_add(1);
    if (num % kAudioLogEvery != 0)
        ProxyLog(2, "receive webrtc audio: userid:%d, num:%d, flag:%d", m_ownUserId.load(), num, flag);
    CVAPI_InputAudioDataEx(0, data, length, timestamp, flag);
}

void CCorvaneConnect::OnChunkData(uint32_t, uint32_t, uint8_t* data, uint32_t length, uint32_t timestamp,
                                  uint32_t flags)
{
    // Without a demuxer the chunk goes nowhere.
    if (!m_demuxer)
        return;
    // The first chunk of every room stay starts a new container stream.
    if (m_firstChunkSent.exchange(1) == 0)
        flags = 1;
    m_demuxer->InputData(data, length, timestamp, flags);
}

int CCorvaneConnect::ResetMuxerHelper()
{
    if (!m_demuxer)
        return -1;
    m_demuxer->Destroy();
    const int ret = m_demuxer->Create(0);
    if (ret != 0)
        ProxyLog(4, "CCorvaneConnect::ResetMuxerHelper: demuxer init fail!");
    return ret;
}

void CCorvaneConnect::DestroyDemuxer()
{
    if (m_demuxer)
        m_demuxer->Destroy();
}

// ---- the demuxer's reports ----

void CCorvaneConnect::OnVideoData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t keyFrame)
{
    InputVideoData(m_ownUserId, 0, 0, data, length, timestamp, 0, keyFrame);
}

void CCorvaneConnect::OnAudioData(uint32_t timestamp, uint8_t* data, uint32_t length, uint32_t)
{
    InputAudioData(m_ownUserId, 0, 0, data, length, timestamp);
}

void CCorvaneConnect::OnVideoFormat(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps)
{
    if (codec != 0)
        SetDownVideoFrame(codec, width, height, fps);
}

void CCorvaneConnect::OnAudioFormat(uint32_t codec, uint32_t channels, uint32_t bitsPerSample, uint32_t sampleRate)
{
    if (codec != 0)
        SetDownAudioFrame(codec, channels, sampleRate, bitsPerSample);
}

// ---- remote users' media for the browser ----

void CCorvaneConnect::OnCorvaneVideoData(uint32_t userId, uint8_t* data, uint32_t length, uint32_t timestamp,
                                         uint32_t width, uint32_t height, uint32_t rotation)
{
    // The own camera is the browser's: it never comes back to it.
    if (userId == kNoUser || userId == m_ownUserId)
        return;
    const uint32_t num = g_remoteVideoFrames.fetch_add(1);
    if (num % kVideoLogEvery != 0)
        ProxyLog(2, "receive corvane video: userid:%d, width:%d, height:%d, num:%d", userId, width, height, num);
    if (m_owner)
        m_owner->OnReceiveVideoStream(userId, 0, 0, data, length, timestamp, rotation);
}

void CCorvaneConnect::OnCorvaneAudioData(uint32_t userId, uint8_t* data, uint32_t length, const WAVEFORMATEX& format,
                                         uint32_t timestamp)
{
    // Unlike video, the own user's and -1's audio go on to the peer lookup.
    const uint32_t num = g_remoteAudioFrames.fetch_add(1);
    if (num % kAudioLogEvery != 0)
        ProxyLog(2, "receive corvane audio: userid:%d, sample:%d, bit:%d, channel:%d, num:%d", userId,
                 format.nSamplesPerSec, format.wBitsPerSample, format.nChannels, num);
    if (m_owner)
        m_owner->OnReceiveAudioStream(userId, 0, 0, data, length, timestamp);
}

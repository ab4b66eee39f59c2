// The stand-in SDK's media: remote users' cameras and microphones played
// from the media fixtures on a thread of its own, and the local user's
// frames quillgate feeds in, counted, journaled and written out. With the
// journal off neither side formats, allocates or writes per frame.
#ifndef QG_SDK_MEDIA_H
#define QG_SDK_MEDIA_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media_clip.h"
#include "paced_streams.h"
#include "save_file.h"
#include "quillgate/sdklink/cvapi.h"
#include "sdk_world.h"

namespace sdkstub {

enum Medium { kAudio = 0, kVideo = 1 };
const char* MediumName(int medium);
bool ParseMedium(const std::string& token, int& out);

using standin::Pace;
using standin::ParsePace;

// The callbacks a frame goes to, read afresh for every frame.
struct MediaSinks {
    CVAPI_VideoDataEx_CallBack video = nullptr;
    void* videoUser = nullptr;
    CVAPI_AudioDataEx_CallBack audio = nullptr;
    void* audioUser = nullptr;
};

// One remote user's camera or microphone.
struct RemoteStream {
    uint32_t user = 0;
    int medium = kVideo;
    std::shared_ptr<const standin::Clip> clip;
    uint32_t frames = 0;  // 0: the clip once, or for ever with loop
    bool loop = false;
    Pace pace;
    // video
    uint32_t streamIndex = 0, codecId = CV_CODEC_H264, width = 320, height = 240, rotation = 0, fps = 15;
    // audio
    WAVEFORMATEX format = {};
};

// The folder of the fixtures: QG_SDK_MEDIA_DIR, else the source tree's.
std::string MediaDir();
// A fixture cut once and kept: kind "h264" (15 fps), "vp8" (IVF), "opus"
// (Ogg) or "pcm" (16 kHz mono s16le, 20 ms frames); null with a reason.
std::shared_ptr<const standin::Clip> LoadClip(const std::string& path, const std::string& kind, std::string& error);
// The kind of a file by its name: .h264/.264, .ivf, .ogg/.opus, else pcm.
std::string KindOfFile(const std::string& path);

// The camera the video callback plays for a user once option 233 names an
// output codec ("videocodec" 1 H.264, 4 VP8), and a user's microphone.
bool CameraStream(const World& world, uint32_t user, uint32_t streamIndex, RemoteStream& out, std::string& why);
bool MicrophoneStream(const World& world, uint32_t user, RemoteStream& out, std::string& why);

bool JournalOn();
void Journal(const std::string& line);

// Remote users' streams, each frame delivered on this one thread on time.
class MediaThread
{
public:
    explicit MediaThread(MediaSinks (*sinks)());
    ~MediaThread();
    MediaThread(const MediaThread&) = delete;
    MediaThread& operator=(const MediaThread&) = delete;

    void Start();
    // Ends every stream and joins the thread: no frame after it returns.
    void Stop();
    bool OnThread() const;

    // A stream of the same user and medium is replaced.
    void Add(const RemoteStream& play);
    // Ends the stream and returns once no frame of it is under way
    // (at once on this thread); false when none ran.
    bool Remove(uint32_t user, int medium);
    void RemoveAll();
    bool SetPace(uint32_t user, int medium, const Pace& pace);

private:
    using Streams = standin::PacedStreams<RemoteStream>;
    using Stream = Streams::Stream;
    using Clock = Streams::Clock;
    static uint32_t Elapsed(const Stream& s, const Pace& pace);
    bool Step(std::unique_lock<std::mutex>& lock, Stream& s);

    MediaSinks (*sinks_)();
    Streams streams_;  // last: its thread goes before the rest
};

// The local user's frames from CVAPI_InputVideoDataEx and
// CVAPI_InputAudioDataEx: counted per medium and stream, journaled with
// their CRC, written to a file when asked.
class MediaInput
{
public:
    MediaInput();
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    void Open();
    // Journals the totals, closes the files, forgets the counts.
    void Close();
    // The call's result: CV_ERR_NOTINIT when not open, CV_ERR_INVALIDPARAM
    // for null data with a length, else 0.
    int Frame(const char* name, int medium, uint32_t stream, const void* data, uint32_t length, uint32_t ts,
              uint32_t flags);
    // format annexb, ivf or raw; false with a reason.
    bool Save(int medium, const std::string& format, const std::string& path, uint32_t width, uint32_t height,
              const std::string& fourcc, std::string& error);
    void SaveOff(int medium);

private:
    struct Count {
        uint32_t stream;
        uint32_t frames;
    };
    uint32_t NextSeq(int medium, uint32_t stream);

    std::mutex mu_;
    bool open_ = false;
    std::vector<Count> counts_[2];
    uint32_t totals_[2] = {0, 0};
    standin::SaveFile save_[2];
};

// Control lines of the media: start, stop, pace and save (README.md).
bool IsMediaLine(const std::string& verb);
// ok tells whether the line parsed; world is a copy taken under the SDK's
// lock, so nothing here holds it while a stream ends.
void MediaLine(const std::vector<std::string>& tokens, const World& world, MediaThread& thread, MediaInput& input,
               bool& ok);

// A frame sent by a control line ("video", "audio"), journaled as the
// media thread's frames are; seq counts per user and medium.
void JournalSingleFrame(int medium, uint32_t user, const void* data, uint32_t length, uint32_t ts, uint32_t rotation,
                        uint32_t width, uint32_t height, const WAVEFORMATEX* format, bool called);

}  // namespace sdkstub

#endif

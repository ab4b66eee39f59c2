// An owner for the WebRTC side that writes down every call it gets, one
// line each, "Name(arg, ...)" with texts quoted, and answers the questions
// the side asks of its owner from plain fields the test sets.
#ifndef QG_TESTS_WEBRTC_RECORDING_WEBRTC_OWNER_H
#define QG_TESTS_WEBRTC_RECORDING_WEBRTC_OWNER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "quillgate/webrtc/webrtc_connect_owner.h"

class RecordingWebRtcOwner : public IWebRtcConnectOwner
{
public:
    std::atomic<uint32_t> ownUserId{1001};
    std::atomic<uint32_t> debugFlags{0};
    std::string stunServer = "stun:127.0.0.1:3478";

    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls.size();
    }
    // Waits (at most timeoutMs) for a call starting with prefix at or after
    // index from; returns its index, or -1. Only a failing wait takes long:
    // the bound is for a sanitizer build on a loaded host.
    int WaitFor(const std::string& prefix, size_t from = 0, int timeoutMs = 20000) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        int found = -1;
        m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (size_t i = from; i < m_calls.size(); ++i)
                if (m_calls[i].compare(0, prefix.size(), prefix) == 0) {
                    found = static_cast<int>(i);
                    return true;
                }
            return false;
        });
        return found;
    }
    // Calls starting with prefix at or after index from. "Nothing was sent"
    // is checked with this against what the request could send: the
    // library's own notifications may still arrive at any time.
    int CountFrom(const std::string& prefix, size_t from) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (size_t i = from; i < m_calls.size(); ++i)
            n += m_calls[i].compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    std::string At(int index) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return index >= 0 && static_cast<size_t>(index) < m_calls.size() ? m_calls[index] : std::string();
    }

    int ReplyConsultParam(int userId, int errorCode, int type, const std::string& jsonBuf) override
    {
        return Rec("ReplyConsultParam", userId, errorCode, type, jsonBuf);
    }
    int ReplyWebrtcConsult(int userId, const std::string& jsonBuf, int errorCode) override
    {
        return Rec("ReplyWebrtcConsult", userId, jsonBuf, errorCode);
    }
    int NotifyWebrtcConsult(int reqid, const std::string& jsonBuf) override
    {
        return Rec("NotifyWebrtcConsult", reqid, jsonBuf);
    }
    void SetDebugFlags(uint32_t flags) override
    {
        debugFlags = flags;
        Rec("SetDebugFlags", static_cast<int>(flags));
    }
    uint32_t GetDebugFlags() const override { return debugFlags; }
    uint32_t GetOwnUserId() const override { return ownUserId; }
    std::string GetStunServer() const override { return stunServer; }
    void SetUpVideoFrame(uint32_t codec) override { Rec("SetUpVideoFrame", static_cast<int>(codec)); }
    void SetUpAudioFrame(uint32_t codec) override { Rec("SetUpAudioFrame", static_cast<int>(codec)); }
    void SetDownVideoFrame(uint32_t codec, uint32_t width, uint32_t height, uint32_t fps) override
    {
        Rec("SetDownVideoFrame", static_cast<int>(codec), static_cast<int>(width), static_cast<int>(height),
            static_cast<int>(fps));
    }
    void SetDownAudioFrame(uint32_t codec, uint32_t channels, uint32_t sampleRate, uint32_t bits) override
    {
        Rec("SetDownAudioFrame", static_cast<int>(codec), static_cast<int>(channels), static_cast<int>(sampleRate),
            static_cast<int>(bits));
    }

    void OnWebrtcAudioData(uint32_t userId, uint32_t streamIndex, uint32_t, uint8_t*, uint32_t length,
                           uint32_t timestamp) override
    {
        Rec("OnWebrtcAudioData", static_cast<int>(userId), static_cast<int>(streamIndex), static_cast<int>(length),
            static_cast<int>(timestamp));
    }
    void OnWebrtcVideoData(uint32_t userId, uint32_t streamIndex, uint32_t, uint8_t*, uint32_t length,
                           uint32_t timestamp, uint32_t rotation) override
    {
        Rec("OnWebrtcVideoData", static_cast<int>(userId), static_cast<int>(streamIndex), static_cast<int>(length),
            static_cast<int>(timestamp), static_cast<int>(rotation));
    }

    void OnChunkData(uint32_t userId, uint32_t streamIndex, uint8_t*, uint32_t length, uint32_t timestamp,
                     uint32_t flags) override
    {
        Rec("OnChunkData", static_cast<int>(userId), static_cast<int>(streamIndex), static_cast<int>(length),
            static_cast<int>(timestamp), static_cast<int>(flags));
    }
    int ResetMuxerHelper() override { return Rec("ResetMuxerHelper"); }

private:
    static void Put(std::ostringstream& os, int v) { os << v; }
    static void Put(std::ostringstream& os, const std::string& v) { os << '"' << v << '"'; }

    template <typename... A>
    int Rec(const char* name, const A&... args)
    {
        std::ostringstream os;
        os << name << '(';
        bool first = true;
        ((os << (first ? "" : ", "), Put(os, args), first = false), ...);
        os << ')';
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(os.str());
        }
        m_cond.notify_all();
        return 0;
    }

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cond;
    std::vector<std::string> m_calls;
};

#endif

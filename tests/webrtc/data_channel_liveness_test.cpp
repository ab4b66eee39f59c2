// The data channel's liveness on a fake clock: packets only from the
// current channel, a silent channel asked to reset after 5000 ms and again
// every 2800 ms until it reopens, a broken peer asked to be re-created at
// once and every 2000 ms until it goes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/webrtc/webrtc_side_fixture.h"
#include "util/media_clock.h"

namespace {

using namespace webrtctest;

std::atomic<uint32_t> g_now{100000};

uint32_t FakeNow()
{
    return g_now;
}

// The reassembly thread pauses on this clock too: a real short pause keeps
// it from spinning while the test holds the time still.
void FakeSleep(uint32_t)
{
    usleep(1000);
}

const MediaClock kFakeClock = {&FakeNow, &FakeSleep};

class Liveness : public WebRtcSide
{
protected:
    void SetUp() override
    {
        SetMediaClock(&kFakeClock);
        WebRtcSide::SetUp();
    }
    void TearDown() override
    {
        WebRtcSide::TearDown();
        SetMediaClock(nullptr);
    }

    // The handle of a new peer of the given stream type.
    uint32_t Peer(const std::string& id, int streamType)
    {
        EXPECT_EQ(side_.HandlePeerObjMessage(1, Create(id, streamType, 5)), 0);
        PeerInfo peer;
        EXPECT_EQ(side_.GetPeerinfoByPeerId(id, peer), 0);
        return peer.handle;
    }

    // Resets the browser was asked for since mark.
    int Asked(const std::string& type, const std::string& peerId, size_t mark) const
    {
        return owner_.CountFrom(
            "NotifyWebrtcConsult(0, \"{\"peerconnectionid\":\"" + peerId + "\",\"type\":\"" + type + "\"}\")", mark);
    }

    void Tick(uint32_t ms)
    {
        g_now += ms;
        side_.OnTimer();
    }
};

TEST_F(Liveness, OnlyTheCurrentChannelsPacketsAreTakenAndRefreshItsWatch)
{
    const uint32_t a = Peer("a", 1);
    const uint32_t b = Peer("b", 1);
    uint8_t bytes[28] = {7, 1, 1};
    RtcDataPacket packet = {};
    packet.data = bytes;
    packet.length = sizeof(bytes);
    ASSERT_EQ(side_.ResetDataChnlConfig(a, 1), 0);
    EXPECT_EQ(side_.GetCurrentHandle(), a);

    // b's packets are dropped and start no watch of their own.
    EXPECT_EQ(side_.SendDataChnlParam2CorvaneSDK(b, &packet), 0);
    ASSERT_EQ(side_.DataChannels().size(), 1u);
    EXPECT_EQ(side_.DataChannels()[0].handle, a);
    EXPECT_TRUE(Logged("CWebRtcConnect::SendDataChnlParam2CorvaneSDK: recv data peerobj error! curhandle:"));

    // a's packet 4900 ms later keeps it alive past the first 5000 ms.
    const size_t mark = owner_.Count();
    g_now += 4900;
    EXPECT_EQ(side_.SendDataChnlParam2CorvaneSDK(a, &packet), 0);
    Tick(4900);
    EXPECT_EQ(Asked("resetdatachannel", "a", mark), 0);
    Tick(101);
    EXPECT_EQ(Asked("resetdatachannel", "a", mark), 1);
}

TEST_F(Liveness, ASilentChannelIsAskedToResetThenEvery2800msUntilItReopens)
{
    const uint32_t h = Peer("dc", 1);
    const size_t mark = owner_.Count();
    ASSERT_EQ(side_.ResetDataChnlConfig(h, 1), 0);
    EXPECT_EQ(owner_.Calls()[mark], "ResetMuxerHelper()");
    EXPECT_TRUE(Logged("CWebRtcConnect::ResetDataChnlConfig: Handle:" + std::to_string(h) +
                       ", peerId:dc, ChnlId:1, notifyResetTime:0"));

    Tick(5000);
    EXPECT_EQ(Asked("resetdatachannel", "dc", mark), 0);
    Tick(1);
    EXPECT_EQ(Asked("resetdatachannel", "dc", mark), 1);
    EXPECT_TRUE(Logged("CWebRtcConnect::NotifyClientResetDataChnl: recv data timeout! handle:"));
    Tick(2800);
    EXPECT_EQ(Asked("resetdatachannel", "dc", mark), 1);
    Tick(1);
    EXPECT_EQ(Asked("resetdatachannel", "dc", mark), 2);
    // A packet while a reset is pending does not end the repetition.
    RtcDataPacket packet = {};
    EXPECT_EQ(side_.SendDataChnlParam2CorvaneSDK(h, &packet), 0);
    Tick(2801);
    EXPECT_EQ(Asked("resetdatachannel", "dc", mark), 3);

    // The channel reopens: a fresh watch, the demuxer made anew.
    const size_t reopened = owner_.Count();
    ASSERT_EQ(side_.ResetDataChnlConfig(h, 1), 0);
    EXPECT_EQ(owner_.Calls()[reopened], "ResetMuxerHelper()");
    Tick(2801);
    EXPECT_EQ(Asked("resetdatachannel", "dc", reopened), 0);
    // Its peer goes: so does its watch.
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Destroy("dc")), 0);
    EXPECT_TRUE(side_.DataChannels().empty());
}

// The packet path (the library's data thread) and a channel's opening (its
// event thread) refresh the same handle's entry at once, each with the
// record it hands over, from a table without it: the two must not both
// append. Each round runs them over many channels at once, so that every
// round gives them many chances to meet on one handle.
TEST_F(Liveness, APacketAndTheChannelsOpeningAtOnceLeaveOneEntryPerHandle)
{
    const int kChannels = 32;
    const int kRounds = 200;
    std::vector<PeerInfo> fromPackets(kChannels);
    std::vector<PeerInfo> fromOpenings(kChannels);
    for (int i = 0; i < kChannels; ++i) {
        ASSERT_EQ(side_.GetPeerinfoByHandle(Peer("dc" + std::to_string(i), 1), fromPackets[i]), 0);
        fromOpenings[i] = fromPackets[i];
        fromOpenings[i].resetNotifyTime = 0;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<int> go{-1};  // the round both may run
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    auto racer = [&](const std::vector<PeerInfo>* records) {
        for (int round = 0; round < kRounds; ++round) {
            // A bare spin: both leave it within a few cycles of each other.
            while (go.load() < round && !stop.load()) {
            }
            if (stop.load())
                return;
            for (const PeerInfo& peer : *records)
                side_.UpdateDataChnlTime(peer);
            ++done;
        }
    };
    std::thread packets(racer, &fromPackets);
    std::thread openings(racer, &fromOpenings);

    int rounds = 0;
    int doubledAt = -1;
    size_t entries = kChannels;
    bool finished = true;
    for (; rounds < kRounds && doubledAt < 0 && finished; ++rounds) {
        for (const PeerInfo& peer : side_.DataChannels())
            side_.RemoveDataChnlEntry(peer.handle);
        done = 0;
        go = rounds;
        while (done.load() < 2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        finished = done.load() == 2;
        entries = side_.DataChannels().size();
        if (finished && entries != kChannels)
            doubledAt = rounds;
    }
    stop = true;
    packets.join();
    openings.join();
    ASSERT_TRUE(finished) << "round " << rounds - 1 << " did not end in 20 s";
    EXPECT_EQ(doubledAt, -1) << "round " << doubledAt << " left " << entries << " entries for " << kChannels
                             << " channels";

    // One entry each: a peer's end takes its channel's watch with it.
    for (int i = 0; i < kChannels; ++i)
        ASSERT_EQ(side_.HandlePeerObjMessage(1, Destroy("dc" + std::to_string(i))), 0);
    EXPECT_TRUE(side_.DataChannels().empty());
}

TEST_F(Liveness, AnOpeningForAnUnknownHandleStillResetsTheStream)
{
    const size_t mark = owner_.Count();
    EXPECT_EQ(side_.ResetDataChnlConfig(99, 3), -1);
    EXPECT_EQ(side_.GetCurrentHandle(), 99u);
    EXPECT_EQ(owner_.Calls()[mark], "ResetMuxerHelper()");
    EXPECT_TRUE(Logged("CWebRtcConnect::ResetDataChnlConfig: GetPeerinfoByHandle fail!"));
    EXPECT_TRUE(side_.DataChannels().empty());
}

TEST_F(Liveness, ABrokenPeerIsAskedToBeRecreatedEvery2000msOnlyInTheSdkStreamMode)
{
    const uint32_t media = Peer("media", 2);
    // Mode 1 (the fixture's): event 5 does nothing.
    size_t mark = owner_.Count();
    EXPECT_EQ(side_.ResetPeerConnectionObj(media), 0);
    EXPECT_EQ(Asked("resetpeerobj", "media", mark), 0);
    EXPECT_TRUE(side_.ResetPeers().empty());

    ASSERT_EQ(side_.HandleWebCommand(1, InitParams(2)), 0);
    const uint32_t second = Peer("media2", 2);
    mark = owner_.Count();
    EXPECT_EQ(side_.ResetPeerConnectionObj(second), 0);
    EXPECT_EQ(Asked("resetpeerobj", "media2", mark), 1);
    EXPECT_TRUE(Logged("CWebRtcConnect::ResetPeerConnectionObj: handle:" + std::to_string(second) + ", peerId:media2"));
    // Once per handle.
    EXPECT_EQ(side_.ResetPeerConnectionObj(second), 0);
    EXPECT_EQ(side_.ResetPeers().size(), 1u);
    Tick(2000);
    EXPECT_EQ(Asked("resetpeerobj", "media2", mark), 1);
    Tick(1);
    EXPECT_EQ(Asked("resetpeerobj", "media2", mark), 2);
    Tick(2001);
    EXPECT_EQ(Asked("resetpeerobj", "media2", mark), 3);
    // Unknown handles; a peer that carries a data channel is left alone.
    EXPECT_EQ(side_.ResetPeerConnectionObj(999), -1);
    const std::string dataOffer = "{\"peerconnectionid\":\"withdata\",\"sdp\":\"v=0\\r\\nm=application 9 "
                                  "UDP/DTLS/SCTP webrtc-datachannel\\r\\n\",\"type\":\"offer\"}";
    Peer("withdata", 1);
    side_.SetDescriptionInfo(dataOffer);
    PeerInfo withData;
    ASSERT_EQ(side_.GetPeerinfoByPeerId("withdata", withData), 0);
    EXPECT_EQ(side_.ResetPeerConnectionObj(withData.handle), 0);
    EXPECT_EQ(side_.ResetPeers().size(), 1u);
    // The peer goes by any road: no more requests.
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Destroy("media2")), 0);
    mark = owner_.Count();
    Tick(4000);
    EXPECT_EQ(Asked("resetpeerobj", "media2", mark), 0);
}

}  // namespace

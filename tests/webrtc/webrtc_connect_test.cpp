// The WebRTC side against the stand-in media library, opened from the
// program's folder as the program does, with a recording owner in place of
// the connection manager: peers live and die on request, descriptions and
// candidates pass both ways rewritten per peer, and what the library was
// handed is read back from its journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/webrtc/media_sdk_helper.h"
#include "tests/support/case_names.h"
#include "tests/support/media_checks.h"
#include "tests/webrtc/webrtc_side_fixture.h"

namespace {

using namespace webrtctest;

TEST_F(WebRtcSide, ConsultParamCreatesFindsAndDestroysPeersWithOneReplyOnEveryRoad)
{
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("p1", 2, 5)), 0);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyConsultParam")),
              "ReplyConsultParam(5, 0, 1, \"{\"peerconnectionid\":\"p1\"}\")");
    EXPECT_GE(WaitJournal("CVRTC_CreateWithGenerateHandle 1 \"stun:127.0.0.1:3478\" 4 "), 0);
    // The library's offer, candidates and log event for it: the event comes last.
    ASSERT_GE(WaitJournal("cb event 1 1 8 "), 0);

    // Again: found, answered, not created twice.
    const size_t before = owner_.Count();
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("p1", 2, 5)), 0);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyConsultParam", before)),
              "ReplyConsultParam(5, 0, 1, \"{\"peerconnectionid\":\"p1\"}\")");
    EXPECT_TRUE(Logged("CWebRtcConnect::PeerObjParamDeal: peerobj exist! peerId:p1"));
    EXPECT_EQ(side_.Peers().size(), 1u);

    // The browser's own camera: the own user is stored as -1, direction 2.
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("own", 1, 1001)), 0);
    EXPECT_GE(WaitJournal("CVRTC_CreateWithGenerateHandle 2 "), 0);
    ASSERT_EQ(side_.Peers().size(), 2u);
    EXPECT_EQ(side_.Peers()[1].userId, static_cast<uint32_t>(-1));
    EXPECT_EQ(side_.GetPeerHandle(1001, 0, CWebRtcConnect::kMaskAny), side_.GetPeerHandle(-1, 0, 255));

    // Destroy by id, then an unknown id.
    size_t mark = owner_.Count();
    EXPECT_EQ(side_.HandlePeerObjMessage(1, Destroy("p1")), 0);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyConsultParam", mark)),
              "ReplyConsultParam(0, 0, 1, \"{\"peerconnectionid\":\"p1\"}\")");
    EXPECT_GE(WaitJournal("CVRTC_Destroy 1 = 0"), 0);
    mark = owner_.Count();
    EXPECT_EQ(side_.HandlePeerObjMessage(1, Destroy("p1")), -1);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyConsultParam", mark)),
              "ReplyConsultParam(0, -1, 1, \"{\"peerconnectionid\":\"p1\"}\")");
    EXPECT_TRUE(Logged("CWebRtcConnect::DestroyWebrtcSDK: get peerInfo fail! peerId:p1"));

    // Another consult type: refused, no reply.
    mark = owner_.Count();
    EXPECT_EQ(side_.HandlePeerObjMessage(2, Create("p9", 2, 5)), -1);
    EXPECT_EQ(owner_.CountFrom("ReplyConsultParam", mark), 0);
    EXPECT_EQ(side_.Peers().size(), 1u);  // "own" alone
}

TEST_F(WebRtcSide, CreationWithoutAPeerIdCreatesNothingAndAnswersMinusOne)
{
    const size_t mark = owner_.Count();
    EXPECT_EQ(side_.HandlePeerObjMessage(1, "{\"control\":1,\"streamtype\":2,\"userid\":5}"), -1);
    EXPECT_EQ(side_.HandlePeerObjMessage(1, "{\"control\":1,\"peerconnectionid\":\"\",\"streamtype\":2}"), -1);
    EXPECT_EQ(side_.CreateWebrtcSDK(5, 2, 0, "", "{}"), -1);
    EXPECT_TRUE(Logged("CWebRtcConnect::CreateWebrtcSDK: peerconnectionid is null! jsonBuf:{}"));
    EXPECT_TRUE(side_.Peers().empty());
    EXPECT_EQ(Find(Journal(), "CVRTC_CreateWithGenerateHandle"), -1);
    const std::vector<std::string> calls = owner_.Calls();
    ASSERT_EQ(calls.size(), mark + 2);
    EXPECT_EQ(calls[mark], "ReplyConsultParam(5, -1, 1, \"{\"peerconnectionid\":\"\"}\")");
}

TEST_F(WebRtcSide, GatewayTextsInItsLinesShowTheirPasswordsMasked)
{
    // A peer text the side refuses is logged whole: its password is not.
    EXPECT_EQ(side_.HandlePeerObjMessage(1, "{\"control\":1,\"password\":\"Peer-pw-3101\",\"streamtype\":2}"), -1);
    EXPECT_TRUE(Logged("CWebRtcConnect::CreateWebrtcSDK: peerconnectionid is null! jsonBuf:{\"control\":1,"
                       "\"password\":\"***\",\"streamtype\":2}"));

    // With debug flag 2 the browser's description is logged after its
    // rewrite; the library still gets every member.
    owner_.debugFlags = 2;
    std::string create = Create("p1", 2, 5);
    create.insert(1, "\"passWord\":\"Peer-pw-3303\",");
    ASSERT_EQ(side_.HandlePeerObjMessage(1, create), 0);
    ASSERT_GE(owner_.WaitFor("NotifyWebrtcConsult(0, \"{\"peerconnectionid\":\"p1\""), 0);
    EXPECT_TRUE(Logged("CWebRtcConnect::CreateWebrtcSDK: create peerobj success!"));
    std::string answer = Fixture("chrome_answer", "p1");
    answer.insert(1, "\"pwd\":\"Sdp-pw-3202\",");
    EXPECT_EQ(side_.SetDescriptionInfo(answer), 0);
    EXPECT_NE(JournalLine("CVRTC_SetDescriptionInfo 1 ").find("Sdp-pw-3202"), std::string::npos);
    EXPECT_TRUE(Logged("CWebRtcConnect::ModifyWebAnswerInfo:  modify web answer sdp Info: {"));
    for (const std::string& line : LogLines()) {
        EXPECT_EQ(line.find("Peer-pw-3101"), std::string::npos) << line;
        EXPECT_EQ(line.find("Peer-pw-3303"), std::string::npos) << line;
        EXPECT_EQ(line.find("Sdp-pw-3202"), std::string::npos) << line;
    }
}

TEST_F(WebRtcSide, DestroyByUserFindsAPeerThatNeverSawADescription)
{
    ASSERT_EQ(side_.CreateWebrtcSDK(7, 2, 1, "stun:x:1", "{\"peerconnectionid\":\"fresh\"}"), 0);
    ASSERT_EQ(side_.Peers().size(), 1u);
    EXPECT_EQ(side_.Peers()[0].mediaMask, 0u);
    // A medium the peer has not shown is no match; "any" is.
    EXPECT_EQ(side_.GetPeerHandle(7, 1, CWebRtcConnect::kMaskVideo), CVRTC_INVALID_HANDLE);
    EXPECT_EQ(side_.DestroyWebrtcSDK(7, 1, CWebRtcConnect::kMaskAny), 0);
    EXPECT_TRUE(side_.Peers().empty());
    EXPECT_GE(WaitJournal("CVRTC_Destroy 1 = 0"), 0);
}

TEST_F(WebRtcSide, LibraryOffersReachTheBrowserRewrittenAndUnknownHandlesGetTheEmptyNotification)
{
    // A receiving peer: the library offers sendrecv; the browser reads sendonly.
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("r1", 2, 5)), 0);
    const std::string offer =
        owner_.At(owner_.WaitFor("NotifyWebrtcConsult(0, \"{\"peerconnectionid\":\"r1\",\"sdp\""));
    ASSERT_NE(offer, "");
    EXPECT_NE(offer.find("a=sendonly"), std::string::npos);
    EXPECT_EQ(offer.find("a=sendrecv"), std::string::npos);
    EXPECT_GE(owner_.WaitFor("NotifyWebrtcConsult(0, \"{\"candidate\":"), 0);
    // The library's log event holds '%': written as it stands, at its level.
    EXPECT_GE(WaitJournal("cb event 1 1 8 "), 0);
    EXPECT_TRUE(Logged("peer 1: ICE gathering 100% done, 2 host candidates"));

    // An offer for a handle without a peer.
    const size_t mark = owner_.Count();
    Control("info 99 1 " + Hex("{\"sdp\":\"v=0\\r\\n\",\"type\":\"offer\"}") + " via=1");
    EXPECT_EQ(owner_.At(owner_.WaitFor("NotifyWebrtcConsult(", mark)), "NotifyWebrtcConsult(-1, \"\")");
    EXPECT_GE(WaitJournal("cb info 99 1 0 "), 0);
    // A candidate for it still goes out, with no peer id to name.
    Control("info 99 3 " + Hex("{\"candidate\":\"c\"}") + " via=1");
    EXPECT_GE(owner_.WaitFor("NotifyWebrtcConsult(0, \"{\"candidate\":\"c\"}\")", mark), 0);
}

TEST_F(WebRtcSide, BrowserAnswerIsRewrittenForTheLibraryAndRepliedWithItsResult)
{
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("p1", 2, 5)), 0);
    ASSERT_GE(owner_.WaitFor("NotifyWebrtcConsult(0, \"{\"peerconnectionid\":\"p1\""), 0);

    const size_t mark = owner_.Count();
    EXPECT_EQ(side_.SetDescriptionInfo(Fixture("chrome_answer", "p1")), 0);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyWebrtcConsult", mark)), "ReplyWebrtcConsult(5, \"\", 0)");
    const std::string handed = JournalLine("CVRTC_SetDescriptionInfo 1 ");
    ASSERT_NE(handed, "");
    // The receiving side answers recvonly without ssrc lines, one video codec.
    EXPECT_EQ(handed.find("a=sendrecv"), std::string::npos);
    EXPECT_NE(handed.find("a=recvonly"), std::string::npos);
    EXPECT_EQ(handed.find("a=ssrc"), std::string::npos);
    EXPECT_NE(handed.find("m=video 9 UDP/TLS/RTP/SAVPF 96 97\\\\r\\\\n"), std::string::npos);
    // The mask holds what the answer showed; the formats went up.
    ASSERT_EQ(side_.Peers().size(), 1u);
    EXPECT_EQ(side_.Peers()[0].mediaMask, CWebRtcConnect::kMaskAudio | CWebRtcConnect::kMaskVideo);
    EXPECT_GE(owner_.WaitFor("SetUpAudioFrame(11)", mark), 0);
    EXPECT_GE(owner_.WaitFor("SetUpVideoFrame(3)", mark), 0);
    EXPECT_GE(owner_.WaitFor("SetDownVideoFrame(3, 320, 240, 15)", mark), 0);
    EXPECT_GE(owner_.WaitFor("SetDownAudioFrame(11, 1, 16000, 16)", mark), 0);
    // SDP texts are logged only under debug bit 2.
    EXPECT_FALSE(Logged("CWebRtcConnect::ModifyWebAnswerInfo:"));
}

TEST_F(WebRtcSide, RefusedDescriptionsAndUnknownPeersComeBackWithTheirCode)
{
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("p1", 2, 5)), 0);
    owner_.debugFlags = 2;
    Control("refuse 7");
    size_t mark = owner_.Count();
    EXPECT_EQ(side_.SetDescriptionInfo(Fixture("firefox_answer", "p1")), 7);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyWebrtcConsult", mark)), "ReplyWebrtcConsult(5, \"\", 7)");
    // The operators read a full-width comma here (GB2312 A3 AC).
    EXPECT_TRUE(Logged("CWebRtcConnect::SetDescriptionInfo Fail! ret:7\xA3\xAC handle=1, userId=5"));
    EXPECT_TRUE(Logged("CWebRtcConnect::ModifyWebAnswerInfo:  modify web answer sdp Info: "));
    EXPECT_TRUE(Logged("CWebRtcConnect::SetDescriptionInfo: platformType:1, frameType:0, messageSize:"));

    mark = owner_.Count();
    EXPECT_EQ(side_.SetDescriptionInfo(Fixture("chrome_offer", "nobody")), -1);
    EXPECT_EQ(owner_.At(owner_.WaitFor("ReplyWebrtcConsult", mark)), "ReplyWebrtcConsult(-1, \"\", -1)");
    EXPECT_TRUE(Logged("CWebRtcConnect::SetDescriptionInfo GetPeerinfoByPeerId peerId=nobody"));
}

TEST_F(WebRtcSide, BadSignallingGetsItsCodeAndSendsNothingHalfWay)
{
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("p1", 2, 5)), 0);
    ASSERT_GE(WaitJournal("cb event 1 1 8 "), 0);  // the library's last word on the new peer
    const size_t mark = owner_.Count();
    // Empty text: no reply, no formats.
    EXPECT_EQ(side_.SetDescriptionInfo(""), -1);
    EXPECT_TRUE(Logged("CWebRtcConnect::SetDescriptionInfo: extract sdp type fail!"));
    EXPECT_EQ(owner_.CountFrom("ReplyWebrtcConsult", mark), 0);
    EXPECT_EQ(owner_.CountFrom("Set", mark), 0);
    // Not JSON, wrong types: read as absent members, answered -1 (no such peer).
    EXPECT_EQ(side_.SetDescriptionInfo("{not json"), -1);
    EXPECT_EQ(side_.SetDescriptionInfo("{\"peerconnectionid\":5,\"type\":[]}"), -1);
    // A 1 MiB description for a real peer: rewritten and handed on whole.
    std::string big = Fixture("chrome_offer", "p1");
    const size_t sdpAt = big.find("\"sdp\":\"v=0") + 7;
    big.insert(sdpAt, std::string(1 << 20, 'x') + "\\r\\n");
    EXPECT_EQ(side_.SetDescriptionInfo(big), 0);
    EXPECT_GE(WaitJournal("CVRTC_SetDescriptionInfo 1 \"{"), 0);
    // Library texts: a null text or type 0 is refused at the callback.
    EXPECT_EQ(OnWebrtcInfoCallBack(1, 1, 0, nullptr, &side_), -1);
    EXPECT_EQ(OnWebrtcInfoCallBack(1, 0, 0, "{}", &side_), -1);
    EXPECT_EQ(OnWebrtcInfoCallBack(1, 1, 0, "{}", nullptr), -1);
    // Not JSON from the library goes to the browser as it came.
    const size_t before = owner_.Count();
    EXPECT_EQ(OnWebrtcInfoCallBack(1, 3, 0, "not json", &side_), 0);
    EXPECT_GE(owner_.WaitFor("NotifyWebrtcConsult(0, \"not json\")", before), 0);
    // Frames, data and events of unknown handles.
    RtcVideoFrame video = {};
    RtcAudioFrame audio = {};
    RtcDataPacket packet = {};
    EXPECT_EQ(OnWebrtcVideoDataCallBack(77, &video, 0, 0, &side_), -1);
    EXPECT_EQ(OnWebrtcAudioDataCallBack(77, &audio, 0, 0, &side_), -1);
    // Not the current data channel's handle: dropped, and that is no failure.
    EXPECT_EQ(OnWebrtcDataChnlCallBack(77, &packet, 0, 0, &side_), 0);
    EXPECT_EQ(OnWebrtcVideoDataCallBack(1, nullptr, 0, 0, &side_), -1);
    EXPECT_EQ(OnWebrtcEventCallBack(77, 9, 0, 0, nullptr, &side_), 0);
    EXPECT_EQ(OnWebrtcEventCallBack(77, 1, 0, 0, nullptr, &side_), 0);
    EXPECT_EQ(OnWebrtcEventCallBack(77, 1, 0, 0, "x", nullptr), -1);
    // A log line with '%' is never a format.
    EXPECT_EQ(side_.OnWebrtcSDKLog(1, 3, "100% %s %n"), 0);
    EXPECT_TRUE(Logged("100% %s %n"));
}

TEST_F(WebRtcSide, ConcurrentDescriptionsForOnePeerKeepEveryMediaBit)
{
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("p1", 1, 5)), 0);
    const std::string audioOnly =
        "{\"peerconnectionid\":\"p1\",\"sdp\":\"v=0\\r\\nm=audio 9 UDP/TLS/RTP/SAVPF 111\\r\\na=rtpmap:111 "
        "opus/48000/2\\r\\n\",\"type\":\"offer\"}";
    const std::string dataOnly =
        "{\"peerconnectionid\":\"p1\",\"sdp\":\"v=0\\r\\nm=application 9 UDP/DTLS/SCTP webrtc-datachannel\\r\\n\","
        "\"type\":\"offer\"}";
    std::thread a([&] {
        for (int i = 0; i < 50; ++i)
            side_.SetDescriptionInfo(audioOnly);
    });
    std::thread b([&] {
        for (int i = 0; i < 50; ++i)
            side_.SetDescriptionInfo(dataOnly);
    });
    a.join();
    b.join();
    ASSERT_EQ(side_.Peers().size(), 1u);
    EXPECT_EQ(side_.Peers()[0].mediaMask, CWebRtcConnect::kMaskAudio | CWebRtcConnect::kMaskData);
}

TEST_F(WebRtcSide, CallbacksRacingCreationAndDestructionFindOnlyLivePeers)
{
    std::atomic<bool> stop{false};
    // The library keeps talking about handles that come and go.
    std::thread talker([&] {
        RtcVideoFrame video = {};
        for (int i = 0; i < 2000 && !stop; ++i) {
            const uint32_t handle = static_cast<uint32_t>(1 + i % 8);
            OnWebrtcVideoDataCallBack(handle, &video, 0, 0, &side_);
            OnWebrtcInfoCallBack(handle, 3, 0, "{\"candidate\":\"c\"}", &side_);
        }
    });
    for (int round = 0; round < 20; ++round) {
        const std::string id = "race" + std::to_string(round);
        side_.HandlePeerObjMessage(1, Create(id, 2, 100 + round));
        side_.HandlePeerObjMessage(1, Destroy(id));
    }
    stop = true;
    talker.join();
    EXPECT_TRUE(side_.Peers().empty());
}

// The browser may ask twice for one peer before the first answer: the two
// requests race, one creates the library peer, the other finds it and is
// answered as a repeat, 0 with no second library peer.
TEST_F(WebRtcSide, TwoCreationsOfOnePeerIdAtOnceMakeOneLibraryPeer)
{
    const int kRounds = 50;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string id = "twin" + std::to_string(round);
        const size_t mark = owner_.Count();
        std::atomic<int> ready{0};
        int results[2] = {-2, -2};
        auto create = [&](int i) {
            ready.fetch_add(1);
            for (int spin = 0; spin < 1000000 && ready.load() < 2; ++spin)
                std::this_thread::yield();
            results[i] = side_.HandlePeerObjMessage(1, Create(id, 2, 5));
        };
        std::thread a(create, 0);
        std::thread b(create, 1);
        a.join();
        b.join();
        EXPECT_EQ(results[0], 0);
        EXPECT_EQ(results[1], 0);

        const std::vector<PeerInfo> peers = side_.Peers();
        ASSERT_EQ(peers.size(), 1u);
        EXPECT_EQ(peers[0].peerId, id);
        EXPECT_EQ(CMediaSDKHelper::GetInstance().SelectObjExist(peers[0].handle), 1);
        const std::string reply = "ReplyConsultParam(5, 0, 1, \"{\"peerconnectionid\":\"" + id + "\"}\")";
        const std::vector<std::string> calls = owner_.Calls();
        EXPECT_EQ(std::count(calls.begin() + static_cast<std::ptrdiff_t>(mark), calls.end(), reply), 2);
        const std::vector<std::string> log = LogLines();
        EXPECT_EQ(std::count(log.begin(), log.end(), "CWebRtcConnect::PeerObjParamDeal: peerobj exist! peerId:" + id),
                  1);

        ASSERT_EQ(side_.HandlePeerObjMessage(1, Destroy(id)), 0);
        EXPECT_TRUE(side_.Peers().empty());
        EXPECT_EQ(CMediaSDKHelper::GetInstance().SelectObjExist(peers[0].handle), 0);
    }
    // The library made one peer a round, and each went again.
    int created = 0;
    int destroyed = 0;
    for (const std::string& line : Journal()) {
        if (line.rfind("CVRTC_CreateWithGenerateHandle ", 0) == 0)
            ++created;
        if (line.rfind("CVRTC_Destroy ", 0) == 0 && line.find(" = 0") != std::string::npos)
            ++destroyed;
    }
    EXPECT_EQ(created, kRounds);
    EXPECT_EQ(destroyed, kRounds);
}

// ---- what the browser type decides ----

// Types 2 and 3 are the previous Chrome (the second library), 1 WeChat, 4 Chrome.
struct BrowserTypeCase {
    const char* name;
    int browserType;
    bool receivingPeer;      // a peer the browser receives on is created
    bool answerRewritten;    // the library's answer reaches the browser rewritten for its peer
    bool formatsFromAnswer;  // the browser's answer sets the formats of its media for the SDK
};
QG_PRINT_CASE_BY_NAME(BrowserTypeCase)

const BrowserTypeCase kBrowserTypes[] = {
    {"WeChat", 1, true, false, false},
    {"PreviousChrome2", 2, false, false, true},
    {"PreviousChrome3", 3, true, true, true},
    {"Chrome", 4, true, true, true},
};

class BrowserType : public WebRtcSide, public ::testing::WithParamInterface<BrowserTypeCase>
{
protected:
    BrowserType() { browserType_ = GetParam().browserType; }
};

TEST_P(BrowserType, SendingPeersAreAlwaysCreatedAndReceivingOnesUnlessType2)
{
    const BrowserTypeCase& c = GetParam();
    const std::string type = " " + std::to_string(c.browserType) + " ";
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("recv", 2, 5)), 0);
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("own", 1, 1001)), 0);
    // Answered 0 either way.
    EXPECT_GE(owner_.WaitFor("ReplyConsultParam(5, 0, 1, \"{\"peerconnectionid\":\"recv\"}\")"), 0);
    EXPECT_GE(owner_.WaitFor("ReplyConsultParam(1001, 0, 1, \"{\"peerconnectionid\":\"own\"}\")"), 0);

    std::vector<std::string> peers;
    for (const PeerInfo& peer : side_.Peers())
        peers.push_back(peer.peerId);
    EXPECT_EQ(peers, c.receivingPeer ? (std::vector<std::string>{"recv", "own"}) : std::vector<std::string>{"own"});
    // The library is handed the browser type at every creation.
    const std::vector<std::string> created = qgtest::LinesWith(Journal(), "CVRTC_CreateWithGenerateHandle ");
    ASSERT_EQ(created.size(), c.receivingPeer ? 2u : 1u);
    if (c.receivingPeer) {
        EXPECT_EQ(created[0].find("CVRTC_CreateWithGenerateHandle 1 \"stun:127.0.0.1:3478\"" + type), 0u) << created[0];
    }
    EXPECT_EQ(created.back().find("CVRTC_CreateWithGenerateHandle 2 \"stun:127.0.0.1:3478\"" + type), 0u)
        << created.back();
}

// The library answers the browser's offer for its own camera sendrecv, with
// ssrc lines and every codec it was offered.
TEST_P(BrowserType, TheLibrarysAnswerIsRewrittenOnlyForTypes3And4)
{
    const BrowserTypeCase& c = GetParam();
    Control("automedia off");
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("own", 1, 1001)), 0);
    ASSERT_EQ(side_.SetDescriptionInfo(Fixture("chrome_offer", "own")), 0);
    const std::string answer =
        owner_.At(owner_.WaitFor("NotifyWebrtcConsult(0, \"{\"peerconnectionid\":\"own\",\"sdp\""));
    ASSERT_NE(answer.find("\"type\":\"answer\""), std::string::npos) << answer;
    const bool oneCodec = answer.find("m=video 9 UDP/TLS/RTP/SAVPF 96 97\\r\\n") != std::string::npos;
    EXPECT_EQ(oneCodec, c.answerRewritten) << answer;
    EXPECT_EQ(answer.find("a=recvonly") != std::string::npos, c.answerRewritten) << answer;
    EXPECT_EQ(answer.find("a=sendrecv") != std::string::npos, !c.answerRewritten) << answer;
    EXPECT_EQ(answer.find("a=ssrc") != std::string::npos, !c.answerRewritten) << answer;
}

TEST_P(BrowserType, TheBrowsersAnswerSetsTheSdkFormatsUnlessType1)
{
    const BrowserTypeCase& c = GetParam();
    Control("automedia off");
    ASSERT_EQ(side_.HandlePeerObjMessage(1, Create("own", 1, 1001)), 0);
    const size_t mark = owner_.Count();
    ASSERT_EQ(side_.SetDescriptionInfo(Fixture("chrome156_answer", "own")), 0);
    ASSERT_GE(owner_.WaitFor("ReplyWebrtcConsult", mark), 0);
    std::vector<std::string> formats;
    const std::vector<std::string> calls = owner_.Calls();
    for (size_t i = mark; i < calls.size(); ++i)
        if (calls[i].compare(0, 3, "Set") == 0)
            formats.push_back(calls[i]);
    std::vector<std::string> expected = {"SetUpAudioFrame(11)", "SetUpVideoFrame(3)"};
    if (c.formatsFromAnswer)
        expected.insert(expected.end(), {"SetDownAudioFrame(11, 1, 16000, 16)", "SetDownVideoFrame(3, 320, 240, 15)"});
    EXPECT_EQ(formats, expected);
}

INSTANTIATE_TEST_SUITE_P(Types, BrowserType, ::testing::ValuesIn(kBrowserTypes), qgtest::ByName());

// ---- the codec the browser's video is to use ----

struct CodecCase {
    const char* name;
    int platformType;
    uint32_t configVideoCodec;
    const char* first;   // codecs the first description names
    const char* second;  // and a later one
    uint32_t firstChoice;
    uint32_t secondChoice;
};
QG_PRINT_CASE_BY_NAME(CodecCase)

class VideoCodecChoice : public ::testing::TestWithParam<CodecCase>
{};

TEST_P(VideoCodecChoice, FollowsPlatformConfigurationAndHoldsH264OnceChosen)
{
    const CodecCase& c = GetParam();
    RecordingWebRtcOwner owner;
    CWebRtcConnect side;
    side.SetOwner(&owner);
    side.HandleWebCommand(1, "{\"browsertype\":4,\"debuglevel\":4,\"h5handlestreamtype\":1,\"platformtype\":" +
                                 std::to_string(c.platformType) + "}");
    side.SetH5VideoCodec(c.configVideoCodec);
    EXPECT_EQ(side.ChooseVideoCodec(c.first), c.firstChoice);
    EXPECT_EQ(side.ChooseVideoCodec(c.second), c.secondChoice);
    side.DestroyAllWebrtcSDK();
}

INSTANTIATE_TEST_SUITE_P(Table, VideoCodecChoice,
                         ::testing::Values(CodecCase{"iPhone takes H264 whatever is configured", 4, 3, "VP8 H264",
                                                     "VP8", 1, 1},
                                           CodecCase{"iPad takes H264", 3, 0, "VP8", "VP8", 1, 1},
                                           CodecCase{"configured H264 offered", 1, 1, "VP8 H264", "VP8", 1, 1},
                                           CodecCase{"configured H264 not offered gives VP8", 1, 1, "VP8", "VP8", 3, 3},
                                           CodecCase{"VP8 is the default", 1, 0, "VP8 H264", "VP8", 3, 3},
                                           CodecCase{"no VP8 gives H264 and holds it", 2, 3, "H264", "VP8", 1, 1}),
                         qgtest::ByName());

// ---- init parameters ----

TEST(WebRtcInit, ParametersSetTheLogThresholdFlagsAndNames)
{
    std::vector<std::string> lines;
    SetProxyLogSink(&CollectLog);
    RecordingWebRtcOwner owner;
    CWebRtcConnect side;
    side.SetOwner(&owner);
    // No "debuglevel": the threshold becomes 0; platform 4 is Safari.
    EXPECT_NE(side.HandleWebCommand(1, "{\"browsertype\":1,\"debugflag\":10,\"platformtype\":4}"), -1);
    EXPECT_EQ(GetProxyLogLevel(), 0u);
    EXPECT_EQ(owner.debugFlags.load(), 10u);
    EXPECT_EQ(side.GetPlatformType(), 4);
    EXPECT_EQ(side.GetH5HandleStreamType(), 0);
    EXPECT_TRUE(Find(LogLines(), "sdk platform:iPhone, borwser:Safari, version:") >= 0);
    // An empty text stores nothing and loads nothing.
    EXPECT_EQ(side.HandleWebCommand(1, ""), -1);
    EXPECT_TRUE(Find(LogLines(), "[HandleInitParam()]=-1, line:894, Extract debuglevel error!") >= 0);
    // The video codec message without its member sets 0.
    side.SetH5VideoCodec(3);
    EXPECT_EQ(side.HandleWebCommand(2, "{}"), 0);
    EXPECT_EQ(side.GetConfigVideoCodec(), 0u);
    EXPECT_EQ(side.HandleWebCommand(7, "{}"), 0);
    side.DestroyAllWebrtcSDK();
    SetProxyLogLevel(1);
}

}  // namespace

// The 34 served operations called in-process with any arguments, against
// the stand-in SDK: none crashes, and no id stays filed under a key whose
// outcome can only come in the forward. Outcomes that come later are
// delivered at the end of each input, so the table does not grow.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/rpc_quillgate.h"

namespace {

rpcCorvaneQuillgate* g_servant = nullptr;

// One operation with arguments taken from the input.
struct Args {
    FuzzedDataProvider& in;
    int I() { return in.ConsumeIntegral<int>(); }
    bool B() { return in.ConsumeBool(); }
    std::string S() { return in.ConsumeRandomLengthString(256); }
    // A host that reaches the SDK now and then.
    std::string Host()
    {
        return in.ConsumeBool() ? "127.0.0.1:" + std::to_string(in.ConsumeIntegral<uint16_t>()) : S();
    }
};

typedef int (*Op)(rpcCorvaneQuillgate&, Args&);
const Ice::Current kCurrent = Ice::Current();

// In Slice order.
const Op kOps[] = {
    [](rpcCorvaneQuillgate& s, Args& a) { return s.connect(a.I(), a.S(), kCurrent); },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        const std::string host = a.Host(), user = a.S(), pass = a.S();
        const int enc = a.I();
        return s.login(reqid, host, user, pass, enc, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        const std::string host = a.Host(), nick = a.S();
        const int userId = a.I();
        const std::string strUserId = a.S(), appId = a.S();
        const int timeStamp = a.I();
        const std::string sig = a.S(), strParam = a.S();
        return s.loginEx(reqid, host, nick, userId, strUserId, appId, timeStamp, sig, strParam, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) { return s.logout(a.I(), kCurrent); },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), room = a.I();
        const std::string pass = a.S();
        return s.enterRoom(reqid, room, pass, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        const std::string name = a.S(), pass = a.S();
        return s.enterRoomEx(reqid, name, pass, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        return s.leaveRoom(reqid, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        return s.userCameraControl(reqid, user, a.B(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        return s.userSpeakControl(reqid, user, a.B(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        const bool open = a.B();
        const int stream = a.I(), flags = a.I();
        return s.userCameraControlEx(reqid, user, open, stream, flags, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        const bool open = a.B();
        const int stream = a.I(), flags = a.I();
        return s.userSpeakControlEx(reqid, user, open, stream, flags, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), type = a.I();
        return s.consultParam(reqid, type, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        return s.webrtcConsult(reqid, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), event = a.I(), user = a.I(), error = a.I(), flags = a.I(), param = a.I();
        return s.videoCallControl(reqid, event, user, error, flags, param, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), type = a.I(), id = a.I(), info = a.I(), valueType = a.I();
        return s.objectSetValue(reqid, type, id, info, valueType, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), type = a.I(), id = a.I(), info = a.I();
        return s.objectGetValue(reqid, type, id, info, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        return s.objectGetIdList(reqid, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), opt = a.I();
        return s.setSDKOptionString(reqid, opt, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), opt = a.I();
        return s.setSDKOptionInt(reqid, opt, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        return s.getSDKOptionString(reqid, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        return s.getSDKOptionInt(reqid, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), code = a.I();
        return s.sdkControl(reqid, code, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I(), info = a.I();
        return s.queryUserState(reqid, user, info, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        return s.transBuffer(reqid, user, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        const std::string buf = a.S();
        const int p1 = a.I(), p2 = a.I();
        return s.transBufferEx(reqid, user, buf, p1, p2, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        const bool secret = a.B();
        return s.sendTextMessage(reqid, user, secret, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I();
        const bool start = a.B();
        const int flags = a.I(), param = a.I();
        return s.streamRecordCtrlEx(reqid, user, start, flags, param, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I(), stream = a.I(), info = a.I();
        return s.setUserStreamInfo(reqid, user, stream, info, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I(), stream = a.I();
        return s.getUserStreamInfo(reqid, user, stream, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I();
        return s.getRoomOnlineUsers(reqid, a.I(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), type = a.I(), id = a.I(), code = a.I(), p1 = a.I(), p2 = a.I(), p3 = a.I(), p4 = a.I();
        return s.objectControl(reqid, type, id, code, p1, p2, p3, p4, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args&) { return s.heartBeat(kCurrent); },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), type = a.I() % 4;
        return s.setGeneralParam(reqid, type, a.S(), kCurrent);
    },
    [](rpcCorvaneQuillgate& s, Args& a) {
        const int reqid = a.I(), user = a.I(), code = a.I(), p1 = a.I(), p2 = a.I();
        return s.userInfoControl(reqid, user, code, p1, p2, a.S(), kCurrent);
    },
};
static_assert(sizeof(kOps) / sizeof(kOps[0]) == 34, "every served operation");

void CheckNothingLeftAnsweredInForward(CConnectMgr& mgr)
{
    for (int r = 0; r < CConnectMgr::kRouteCount; ++r) {
        const CConnectMgr::RouteId route = static_cast<CConnectMgr::RouteId>(r);
        if (CConnectMgr::AnsweredInForward(route) && mgr.PendingCount(route) != 0) {
            std::fprintf(stderr, "id left under \"%s\"\n", CConnectMgr::RouteKey(route));
            FUZZ_CHECK(mgr.PendingCount(route) == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The stand-in SDK writes no files; nothing is left behind.
    unsetenv("QG_SDK_LOG");
    unsetenv("QG_SDK_JOURNAL");
    unsetenv("QG_SDK_CONTROL");
    unsetenv("QG_SDK_SCENARIO");
    CConnectMgr& mgr = CConnectMgr::GetInstance();
    if (mgr.Init() != 0)
        std::abort();
    g_servant = new rpcCorvaneQuillgate("sess-fuzz");
    g_servant->__incRef();  // held for the life of the process
    mgr.SetServant(g_servant);
    mgr.SetSessionId("sess-fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    Args args{in};
    CConnectMgr& mgr = CConnectMgr::GetInstance();
    for (int calls = 0; calls < 8 && in.remaining_bytes() > 0; ++calls) {
        const size_t op = in.ConsumeIntegralInRange<size_t>(0, 33);
        kOps[op](*g_servant, args);
        CheckNothingLeftAnsweredInForward(mgr);
    }
    // Later outcomes, as the SDK and the media library would give them.
    mgr.ReplyLogin(1001, 0);
    mgr.ReplyEnterRoom(1, 0);
    mgr.ReplyUserCameraControl(-1, 0);
    mgr.ReplyUserCameraControlEx(-1, 0);
    mgr.ReplyWebrtcConsult(-1, "{}", 0);
    mgr.ReplySDKControl(0, "{}");
    for (int r = 0; r < CConnectMgr::kRouteCount; ++r)
        FUZZ_CHECK(mgr.PendingCount(static_cast<CConnectMgr::RouteId>(r)) < 100000);
    return 0;
}

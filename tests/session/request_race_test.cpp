// Outcomes racing refused requests: an accepted loginEx (enterRoomEx) is
// answered while logins (room entries) on other threads are being refused,
// some before the SDK (a host without ':'), some by the SDK itself. The
// stand-in SDK refuses every login and room entry and accepts the named
// forms without an outcome of its own; the test delivers the outcomes.
#include <gtest/gtest.h>

#include <Ice/Ice.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/rpc_quillgate.h"
#include "tests/support/gateway_run.h"
#include "tests/support/recording_servants.h"
#include "util/cv_ioutils.h"

using qgtest::TempDir;

namespace {

const int kSdkRefusal = 7;

class RequestRace : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir();
        setenv("QG_SDK_LOG", dir_->File("sdk.log").c_str(), 1);
        std::ofstream(dir_->File("scenario"))
            << "selfid 1001\nroom *\n"
            << "return CVAPI_Login " << kSdkRefusal << "\nreturn CVAPI_LoginEx 0\n"
            << "return CVAPI_EnterRoom " << kSdkRefusal << "\nreturn CVAPI_EnterRoomEx 0\n";
        setenv("QG_SDK_SCENARIO", dir_->File("scenario").c_str(), 1);
        unsetenv("QG_SDK_CONTROL");
        unsetenv("QG_SDK_JOURNAL");
        ASSERT_EQ(CConnectMgr::GetInstance().Init(), 0);

        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        init.properties->setProperty("Ice.ThreadPool.Server.Size", "1");
        init.properties->setProperty("Ice.ThreadPool.Server.SizeMax", "1");
        ice_ = Ice::initialize(init);
        Ice::ObjectAdapterPtr adapter = ice_->createObjectAdapterWithEndpoints("Gw", "tcp -h 127.0.0.1 -p 0");
        gateway_ = new RecordingGateway();
        adapter->add(gateway_, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
        adapter->activate();
        Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(adapter->getEndpoints()[0]->getInfo());
        ASSERT_TRUE(info);
        rpc_ = new rpcCorvaneQuillgate("sess-race");
        ASSERT_EQ(rpc_->Init(CV_IOUtils::IPString2Num("127.0.0.1"), info->port, "127.0.0.1", 3478), 0);
        ASSERT_TRUE(gateway_->WaitCount(1));
    }
    static void TearDownTestSuite()
    {
        rpc_->Release();
        CConnectMgr::GetInstance().SetServant(nullptr);
        rpc_ = nullptr;
        ice_->destroy();
        ice_ = nullptr;
        gateway_ = nullptr;
        CConnectMgr::GetInstance().Release();
        delete dir_;
        dir_ = nullptr;
    }

    static CConnectMgr& Mgr() { return CConnectMgr::GetInstance(); }

    // Request ids of every recorded call of op, with how often each came.
    static std::map<int, int> Answered(const std::string& op)
    {
        std::map<int, int> ids;
        const std::string prefix = op + "(\"sess-race\", ";
        for (const std::string& call : gateway_->Calls()) {
            if (call.compare(0, prefix.size(), prefix) == 0)
                ++ids[atoi(call.c_str() + prefix.size())];
        }
        return ids;
    }

    // 20 tries: an accepted request, then 400 refused ones from 4 threads
    // while the outcome arrives. refuse(id, n) returns the refused result
    // of the n-th refused request.
    static void Race(const std::function<int(int)>& accept, const std::function<int(int, int)>& refuse,
                     const std::function<int()> outcome, const std::string& reply)
    {
        const size_t before = gateway_->Calls().size();
        std::vector<int> accepted;
        std::vector<int> refused;
        for (int round = 0; round < 20; ++round) {
            const int id = 1000 + round;
            ASSERT_EQ(accept(id), 0);
            accepted.push_back(id);
            std::atomic<int> started(0);
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                const int first = 100000 + round * 1000 + t * 100;
                for (int i = 0; i < 100; ++i)
                    refused.push_back(first + i);
                threads.emplace_back([&, first] {
                    for (int i = 0; i < 100; ++i) {
                        ++started;
                        EXPECT_NE(refuse(first + i, i), 0);
                    }
                });
            }
            // The outcome lands in the middle of the burst.
            for (int spin = 0; spin < 100000 && started < 150; ++spin)
                std::this_thread::yield();
            EXPECT_EQ(outcome(), 0);
            for (std::thread& t : threads)
                t.join();
        }
        // Every reply went out before this one; it may still be on its way.
        ASSERT_EQ(Mgr().ReplyTransBuffer(99, 0), 0);
        auto allIn = [&] {
            const std::map<int, int> answered = Answered(reply);
            for (int id : accepted) {
                if (!answered.count(id))
                    return false;
            }
            return !Answered("replyTransBuffer").empty();
        };
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!allIn() && std::chrono::steady_clock::now() < end)
            gateway_->WaitCount(gateway_->Calls().size() + 1, 10);
        const std::map<int, int> answered = Answered(reply);
        for (int id : accepted)
            EXPECT_EQ(answered.count(id) ? answered.at(id) : 0, 1) << "accepted id " << id;
        for (int id : refused)
            EXPECT_EQ(answered.count(id), 0u) << "refused id " << id << " got a reply";
        EXPECT_TRUE(Mgr().PendingRequests().empty());
        EXPECT_GT(gateway_->Calls().size(), before);
    }

    static TempDir* dir_;
    static Ice::CommunicatorPtr ice_;
    static IceUtil::Handle<RecordingGateway> gateway_;
    static rpcCorvaneQuillgateHandle rpc_;
};

TempDir* RequestRace::dir_ = nullptr;
Ice::CommunicatorPtr RequestRace::ice_;
IceUtil::Handle<RecordingGateway> RequestRace::gateway_;
rpcCorvaneQuillgateHandle RequestRace::rpc_;

TEST_F(RequestRace, AcceptedLoginExIsAnsweredOnceAmidRefusedLogins)
{
    Race([](int id) { return Mgr().LoginEx(id, "127.0.0.1:8906", "n", 0, "u", "app", 1, "sig", "sp", "{}"); },
         [](int id, int n) {
             // Half refused before the SDK, half by it.
             return Mgr().Login(id, n % 2 ? "no-port" : "127.0.0.1:8906", "a", "p", 0, "{}");
         },
         [] { return Mgr().ReplyLogin(1001, 0); }, "replyLogin");
}

TEST_F(RequestRace, AcceptedEnterRoomExIsAnsweredOnceAmidRefusedEntries)
{
    Race([](int id) { return Mgr().EnterRoomEx(id, "lobby", "", 0); },
         [](int id, int) { return Mgr().EnterRoom(id, 5, "", 0); }, [] { return Mgr().ReplyEnterRoom(5, 0); },
         "replyEnterRoom");
}

}  // namespace

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
#include "tests/session/in_process_session.h"
#include "tests/support/gateway_run.h"

using qgtest::TempDir;

namespace {

const int kSdkRefusal = 7;

class RequestRace : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        const std::string refusal = std::to_string(kSdkRefusal);
        session_.Start("sess-race", "selfid 1001\nroom *\nreturn CVAPI_Login " + refusal +
                                        "\nreturn CVAPI_LoginEx 0\nreturn CVAPI_EnterRoom " + refusal +
                                        "\nreturn CVAPI_EnterRoomEx 0\n");
    }
    static void TearDownTestSuite() { session_.Stop(); }

    static CConnectMgr& Mgr() { return CConnectMgr::GetInstance(); }

    // Request ids of every recorded call of op, with how often each came.
    static std::map<int, int> Answered(const std::string& op)
    {
        std::map<int, int> ids;
        const std::string prefix = op + "(\"sess-race\", ";
        for (const std::string& call : session_.gateway->Calls()) {
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
        const size_t before = session_.gateway->Calls().size();
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
            session_.gateway->WaitCount(session_.gateway->Calls().size() + 1, 10);
        const std::map<int, int> answered = Answered(reply);
        for (int id : accepted)
            EXPECT_EQ(answered.count(id) ? answered.at(id) : 0, 1) << "accepted id " << id;
        for (int id : refused)
            EXPECT_EQ(answered.count(id), 0u) << "refused id " << id << " got a reply";
        EXPECT_TRUE(Mgr().PendingRequests().empty());
        EXPECT_GT(session_.gateway->Calls().size(), before);
    }

    static InProcessSession session_;
};

InProcessSession RequestRace::session_;

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

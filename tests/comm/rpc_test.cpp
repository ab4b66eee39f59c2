// Both gateway RPC interfaces over real Ice on 127.0.0.1: generated proxies
// against generated skeletons, plus raw requests the generated code must refuse.
#include "tests/support/recording_servants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <iterator>

namespace {

using rpcCorvane::rpcCorvaneWebRtcGwPrx;
using rpcCorvane::rpcCorvaneWebRtcQuillgatePrx;

class RpcLoopback : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Ice::InitializationData quiet;
        quiet.properties = Ice::createProperties();
        quiet.properties->setProperty("Ice.Warn.Dispatch", "0");
        server_ = Ice::initialize(quiet);
        adapter_ = server_->createObjectAdapterWithEndpoints("Test", "tcp -h 127.0.0.1 -p 0");
        quillgate_ = new RecordingQuillgate;
        gateway_ = new RecordingGateway;
        quillgate_->answer = 7;
        gateway_->answer = 3;
        adapter_->add(quillgate_, Ice::stringToIdentity("CorvaneWebRtcQuillgate"));
        adapter_->add(gateway_, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
        adapter_->activate();
        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        // Only ends a call that hangs: a sanitizer build on a loaded host may be slow.
        init.properties->setProperty("Ice.Default.InvocationTimeout", "30000");
        client_ = Ice::initialize(init);
    }

    void TearDown() override
    {
        client_->destroy();
        server_->destroy();
    }

    Ice::ObjectPrx Plain(const std::string& identity)
    {
        Ice::ObjectPrx local = adapter_->createProxy(Ice::stringToIdentity(identity));
        return client_->stringToProxy(local->ice_toString());
    }

    rpcCorvaneWebRtcQuillgatePrx Quillgate()
    {
        return rpcCorvaneWebRtcQuillgatePrx::uncheckedCast(Plain("CorvaneWebRtcQuillgate"));
    }

    rpcCorvaneWebRtcGwPrx Gateway() { return rpcCorvaneWebRtcGwPrx::uncheckedCast(Plain("CorvaneWebRtcGWServer")); }

    // Sends raw in-parameters to the served object; returns the name of the refusal.
    std::string RawRefusal(const std::string& op, Ice::OperationMode mode, const std::vector<Ice::Byte>& params)
    {
        std::vector<Ice::Byte> out;
        try {
            Plain("CorvaneWebRtcQuillgate")->ice_invoke(op, mode, params, out);
        } catch (const Ice::OperationNotExistException&) {
            return "OperationNotExist";
        } catch (const Ice::UnknownLocalException&) {
            return "UnknownLocal";
        }
        return "none";
    }

    std::vector<Ice::Byte> Encode(const std::function<void(Ice::OutputStream&)>& write)
    {
        Ice::OutputStream os(client_);
        os.startEncapsulation();
        write(os);
        os.endEncapsulation();
        std::vector<Ice::Byte> bytes;
        os.finished(bytes);
        return bytes;
    }

    Ice::CommunicatorPtr server_, client_;
    Ice::ObjectAdapterPtr adapter_;
    IceUtil::Handle<RecordingQuillgate> quillgate_;
    IceUtil::Handle<RecordingGateway> gateway_;
};

TEST_F(RpcLoopback, ServedOperationsCarryTheirArgumentsInOrder)
{
    rpcCorvaneWebRtcQuillgatePrx q = Quillgate();
    struct Case {
        std::function<Ice::Int()> call;
        std::string recorded;
    } cases[] = {
        {[&] { return q->login(1, "10.0.0.1:8906", "", "pw", 0, "{}"); },
         "login(1, \"10.0.0.1:8906\", \"\", \"pw\", 0, \"{}\")"},
        {[&] { return q->loginEx(2, "h:1", "nick", -1, "u7", "app", INT_MIN, "sig", "", "{\"a\":1}"); },
         "loginEx(2, \"h:1\", \"nick\", -1, \"u7\", \"app\", -2147483648, \"sig\", \"\", \"{\"a\":1}\")"},
        {[&] { return q->userSpeakControlEx(3, 1001, false, 2, 8, "x"); },
         "userSpeakControlEx(3, 1001, false, 2, 8, \"x\")"},
        {[&] { return q->objectControl(4, 5, 6, 7, 8, 9, 10, 11, std::string("a\0b", 3)); },
         std::string("objectControl(4, 5, 6, 7, 8, 9, 10, 11, \"a") + '\0' + "b\")"},
        {[&] { return q->heartBeat(); }, "heartBeat()"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(7, c.call()) << c.recorded;
    }
    std::vector<std::string> calls = quillgate_->Calls();
    ASSERT_EQ(std::size(cases), calls.size());
    for (size_t k = 0; k < calls.size(); ++k)
        EXPECT_EQ(cases[k].recorded, calls[k]);
}

TEST_F(RpcLoopback, BeginCallOfServedOperationCompletes)
{
    rpcCorvaneWebRtcQuillgatePrx q = Quillgate();
    Ice::AsyncResultPtr r = q->begin_sendTextMessage(9, 42, true, "hi");
    EXPECT_EQ(7, q->end_sendTextMessage(r));
    EXPECT_EQ(std::vector<std::string>{"sendTextMessage(9, 42, true, \"hi\")"}, quillgate_->Calls());
}

TEST_F(RpcLoopback, CheckedCastAnswersByTypeId)
{
    EXPECT_TRUE(rpcCorvaneWebRtcQuillgatePrx::checkedCast(Plain("CorvaneWebRtcQuillgate")));
    EXPECT_FALSE(rpcCorvaneWebRtcGwPrx::checkedCast(Plain("CorvaneWebRtcQuillgate")));
    EXPECT_TRUE(rpcCorvaneWebRtcGwPrx::checkedCast(Plain("CorvaneWebRtcGWServer")));
    EXPECT_FALSE(rpcCorvaneWebRtcQuillgatePrx::checkedCast(Plain("CorvaneWebRtcGWServer")));
    EXPECT_EQ((std::vector<std::string>{"::Ice::Object", "::rpcCorvane::rpcCorvaneWebRtcQuillgate"}),
              Plain("CorvaneWebRtcQuillgate")->ice_ids());
    EXPECT_EQ("::rpcCorvane::rpcCorvaneWebRtcGw", rpcCorvane::rpcCorvaneWebRtcGw::ice_staticId());
}

TEST_F(RpcLoopback, MalformedRequestsAreRefusedWithoutReachingTheServant)
{
    std::vector<Ice::Byte> connectArgs = Encode([](Ice::OutputStream& os) {
        os.write(Ice::Int(1));
        os.write(std::string("addr"));
    });
    std::vector<Ice::Byte> shortArgs = Encode([](Ice::OutputStream& os) { os.write(Ice::Int(1)); });
    struct Case {
        const char* what;
        std::string op;
        Ice::OperationMode mode;
        std::vector<Ice::Byte> params;
        std::string refusal;
    } cases[] = {
        {"name differs in case", "Connect", Ice::Normal, connectArgs, "OperationNotExist"},
        {"unknown name", "connectEx", Ice::Normal, connectArgs, "OperationNotExist"},
        {"gateway operation on the served object", "replyLogin", Ice::Normal, connectArgs, "OperationNotExist"},
        {"idempotent mode", "connect", Ice::Idempotent, connectArgs, "UnknownLocal"},
        {"parameters cut short", "connect", Ice::Normal, shortArgs, "UnknownLocal"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.refusal, RawRefusal(c.op, c.mode, c.params)) << c.what;
    EXPECT_TRUE(quillgate_->Calls().empty());
    EXPECT_EQ("none", RawRefusal("connect", Ice::Normal, connectArgs));
}

TEST_F(RpcLoopback, AnyNonZeroBoolByteReadsAsTrue)
{
    std::vector<Ice::Byte> params = Encode([](Ice::OutputStream& os) {
        os.write(Ice::Int(5));
        os.write(Ice::Int(1001));
        os.write(Ice::Byte(0x02));
    });
    std::vector<Ice::Byte> out;
    ASSERT_TRUE(Plain("CorvaneWebRtcQuillgate")->ice_invoke("userCameraControl", Ice::Normal, params, out));
    EXPECT_EQ(std::vector<std::string>{"userCameraControl(5, 1001, true)"}, quillgate_->Calls());
}

TEST_F(RpcLoopback, GatewayServantReceivesRegistrationRepliesAndNotifications)
{
    rpcCorvaneWebRtcGwPrx gw = rpcCorvaneWebRtcGwPrx::checkedCast(Plain("CorvaneWebRtcGWServer"));
    ASSERT_TRUE(gw);
    rpcCorvaneWebRtcQuillgatePrx self = Quillgate();
    EXPECT_EQ(3, gw->initiateQiullgateDelegate("s1", 1234, self));
    EXPECT_EQ(3, gw->notifyUserAtRoom("s1", 0, -1, "name", false, -1, -1));
    gw->begin_replyLogin("s1", 11, 1001, 0);  // no callback: the result is dropped
    gw->ice_oneway()->shutdown();
    ASSERT_TRUE(gateway_->WaitCount(4));
    std::vector<std::string> calls = gateway_->Calls();
    EXPECT_EQ("initiateQiullgateDelegate(\"s1\", 1234, " + self->ice_toString() + ")", calls[0]);
    EXPECT_EQ("notifyUserAtRoom(\"s1\", 0, -1, \"name\", false, -1, -1)", calls[1]);
    EXPECT_EQ(1u, std::count(calls.begin(), calls.end(), "replyLogin(\"s1\", 11, 1001, 0)"));
    EXPECT_EQ(1u, std::count(calls.begin(), calls.end(), "shutdown()"));
}

TEST_F(RpcLoopback, OperationsWithResultRefuseOneWayProxies)
{
    rpcCorvaneWebRtcGwPrx oneway = Gateway()->ice_oneway();
    EXPECT_THROW(oneway->replyLogout("s1", 1, 0), Ice::TwowayOnlyException);
    EXPECT_THROW(oneway->begin_notifyAppConfigInfo("s1"), IceUtil::Exception);
    EXPECT_TRUE(gateway_->Calls().empty());
}

}  // namespace

// The least a process needs to be the gateway's delegate: a communicator
// with quillgate's properties, its adapter and servant identity, and the
// same registration (checked cast, then initiateQiullgateDelegate). It
// answers getSDKOptionInt with the same later reply call quillgate makes
// (asynchronous, without a callback), heartBeat with 0, and logout with
// its reply before it ends. The benchmarks hold quillgate against it.
//
//   bench_minimal_delegate -g <session id> -h <gateway ip>:<port>
#include <Ice/Ice.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

#include "tests/support/recording_servants.h"

namespace {

const char* const kAdapterName = "CorvaneWebRtc.Quillgate";
const char* const kServantIdentity = "CorvaneWebRtcQuillgate";
const char* const kProxyProperty = "CorvaneWebRtc.Quillgate.Proxy";
const int kGatewayTimeoutMs = 6000;

// Every operation is recorded and answered 0 (the recording servant); the
// ones the benchmarks time answer as quillgate does, without recording.
class MinimalDelegate : public RecordingQuillgate
{
public:
    MinimalDelegate(const std::string& sessionId, const Ice::CommunicatorPtr& ice) : session_(sessionId), ice_(ice) {}

    void SetGateway(const rpcCorvane::rpcCorvaneWebRtcGwPrx& gateway)
    {
        std::lock_guard<std::mutex> lock(mu_);
        gateway_ = gateway;
    }

    Ice::Int heartBeat(const Ice::Current&) override { return 0; }

    Ice::Int setSDKOptionInt(Ice::Int, Ice::Int optName, Ice::Int optVal, const Ice::Current&) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        options_[optName] = optVal;
        return 0;
    }

    Ice::Int getSDKOptionInt(Ice::Int reqid, Ice::Int optName, const Ice::Current&) override
    {
        rpcCorvane::rpcCorvaneWebRtcGwPrx gateway;
        int value = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            gateway = gateway_;
            value = options_[optName];
        }
        if (!gateway)
            return -1;
        try {
            gateway->begin_replyGetSDKOptionInt(session_, reqid, 0, optName, value);
        } catch (const Ice::Exception&) {
            return -1;
        }
        return 0;
    }

    Ice::Int logout(Ice::Int reqid, const Ice::Current&) override
    {
        rpcCorvane::rpcCorvaneWebRtcGwPrx gateway;
        {
            std::lock_guard<std::mutex> lock(mu_);
            gateway = gateway_;
        }
        try {
            if (gateway)
                gateway->begin_replyLogout(session_, reqid, 0)->waitForCompleted();
        } catch (const Ice::Exception&) {
        }
        ice_->shutdown();
        return 0;
    }

private:
    const std::string session_;
    Ice::CommunicatorPtr ice_;
    std::mutex mu_;
    rpcCorvane::rpcCorvaneWebRtcGwPrx gateway_;
    std::map<int, int> options_;
};

}  // namespace

int main(int argc, char** argv)
{
    std::string session, host;
    int opt;
    while ((opt = getopt(argc, argv, "g:h:")) != -1) {
        if (opt == 'g')
            session = optarg;
        else if (opt == 'h')
            host = optarg;
        else
            return 2;
    }
    const size_t colon = host.rfind(':');
    if (session.empty() || colon == std::string::npos) {
        fprintf(stderr, "usage: %s -g <session id> -h <gateway ip>:<port>\n", argv[0]);
        return 2;
    }
    const std::string proxyText =
        "CorvaneWebRtcGWServer:default -h " + host.substr(0, colon) + " -p " + host.substr(colon + 1);

    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty(kProxyProperty, proxyText);
    init.properties->setProperty("CorvaneWebRtc.Quillgate.Endpoints", "default -h 127.0.0.1");
    init.properties->setProperty("BuildId", "Ice " ICE_STRING_VERSION);
    init.properties->setProperty("Ice.IPv6", "0");
    init.properties->setProperty("Ice.ACM.Client.Timeout", "0");
    init.properties->setProperty("Ice.ThreadPool.Client.Size", "2");
    init.properties->setProperty("Ice.ThreadPool.Client.SizeMax", "10");
    init.properties->setProperty("Ice.Warn.UnknownProperties", "0");
    int status = 1;
    try {
        Ice::CommunicatorPtr ice = Ice::initialize(init);
        IceUtil::Handle<MinimalDelegate> servant = new MinimalDelegate(session, ice);
        Ice::ObjectAdapterPtr adapter = ice->createObjectAdapter(kAdapterName);
        adapter->add(servant, Ice::stringToIdentity(kServantIdentity));
        adapter->activate();

        Ice::ObjectPrx base = ice->propertyToProxy(kProxyProperty)
                                  ->ice_twoway()
                                  ->ice_timeout(kGatewayTimeoutMs)
                                  ->ice_invocationTimeout(kGatewayTimeoutMs)
                                  ->ice_secure(false);
        rpcCorvane::rpcCorvaneWebRtcGwPrx gateway = rpcCorvane::rpcCorvaneWebRtcGwPrx::checkedCast(base);
        if (gateway) {
            servant->SetGateway(gateway);
            const rpcCorvane::rpcCorvaneWebRtcQuillgatePrx own =
                rpcCorvane::rpcCorvaneWebRtcQuillgatePrx::uncheckedCast(
                    adapter->createProxy(Ice::stringToIdentity(kServantIdentity)));
            if (gateway->initiateQiullgateDelegate(session, static_cast<int>(getpid()), own) == 0) {
                ice->waitForShutdown();
                status = 0;
            }
        }
        ice->destroy();
    } catch (const Ice::Exception& e) {
        fprintf(stderr, "%s\n", e.what());
    }
    return status;
}

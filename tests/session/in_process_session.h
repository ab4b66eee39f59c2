// The connection manager and its servant in this process, registered with a
// gateway servant in it too (one dispatch thread, so replies are seen in the
// order they were sent), the stand-in SDK playing the given scenario.
#ifndef QG_TESTS_SESSION_IN_PROCESS_SESSION_H
#define QG_TESTS_SESSION_IN_PROCESS_SESSION_H

#include <gtest/gtest.h>

#include <Ice/Ice.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/rpc_quillgate.h"
#include "tests/support/gateway_run.h"
#include "tests/support/recording_servants.h"
#include "util/cv_ioutils.h"

struct InProcessSession {
    std::unique_ptr<qgtest::TempDir> dir;
    Ice::CommunicatorPtr ice;
    IceUtil::Handle<RecordingGateway> gateway;
    rpcCorvaneQuillgateHandle rpc;

    // Up to the registration, the first recorded call.
    void Start(const std::string& sessionId, const std::string& scenario)
    {
        dir.reset(new qgtest::TempDir());
        setenv("QG_SDK_LOG", dir->File("sdk.log").c_str(), 1);
        std::ofstream(dir->File("scenario")) << scenario;
        setenv("QG_SDK_SCENARIO", dir->File("scenario").c_str(), 1);
        unsetenv("QG_SDK_CONTROL");
        unsetenv("QG_SDK_JOURNAL");
        ASSERT_EQ(CConnectMgr::GetInstance().Init(), 0);

        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        init.properties->setProperty("Ice.ThreadPool.Server.Size", "1");
        init.properties->setProperty("Ice.ThreadPool.Server.SizeMax", "1");
        ice = Ice::initialize(init);
        Ice::ObjectAdapterPtr adapter = ice->createObjectAdapterWithEndpoints("Gw", "tcp -h 127.0.0.1 -p 0");
        gateway = new RecordingGateway();
        adapter->add(gateway, Ice::stringToIdentity("CorvaneWebRtcGWServer"));
        adapter->activate();
        Ice::IPEndpointInfoPtr info = Ice::IPEndpointInfoPtr::dynamicCast(adapter->getEndpoints()[0]->getInfo());
        ASSERT_TRUE(info);
        rpc = new rpcCorvaneQuillgate(sessionId);
        ASSERT_EQ(rpc->Init(CV_IOUtils::IPString2Num("127.0.0.1"), info->port, "127.0.0.1", 3478), 0);
        ASSERT_TRUE(gateway->WaitCount(1));
    }

    void Stop()
    {
        rpc->Release();
        CConnectMgr::GetInstance().SetServant(nullptr);
        rpc = nullptr;
        ice->destroy();
        ice = nullptr;
        gateway = nullptr;
        CConnectMgr::GetInstance().Release();
        dir.reset();
    }
};

#endif

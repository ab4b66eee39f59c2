// The SDK client against the real stand-in SDK: each test starts the SDK
// with its own journal, log and scenario; what goes up is taken from a
// recording owner, so no gateway and no Ice take part.
#ifndef QG_TESTS_SDKLINK_SDK_CLIENT_FIXTURE_H
#define QG_TESTS_SDKLINK_SDK_CLIENT_FIXTURE_H

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "quillgate/log/proxy_log.h"
#include "quillgate/sdklink/corvane_connect.h"
#include "tests/sdklink/recording_owner.h"
#include "tests/support/test_support.h"

namespace qgtest {

const char kName2001[] = "\xe5\xbc\xa0\xe4\xb8\x89";  // the default user 2001, as UTF-8

class SdkClient : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        owner_ = new RecordingOwner;
        sdk_ = new CCorvaneConnect;
        sdk_->SetOwner(owner_);
        SetProxyLogLevel(4);
        SetProxyLogSink([](const char* line) { sdk_->WriteSDKLog(line); });
    }

    static void TearDownTestSuite()
    {
        SetProxyLogSink(nullptr);
        delete sdk_;
        sdk_ = nullptr;
        delete owner_;
        owner_ = nullptr;
    }

    void SetUp() override { seen_ = owner_->Calls().size(); }

    void TearDown() override
    {
        Sdk().ReleaseSDK();
        unsetenv("QG_SDK_SCENARIO");
        // The client outlives each test: what one test left must not reach the next.
        Sdk().HandleWebCommand(1, "{\"sdkfunction\":0,\"serverfunction\":0}");
        auto lock = Sdk().LockCmdCache();
        Sdk().ClearCmdCache();
    }

    // Starts the stand-in SDK on this test's files; scenario text optional.
    void StartSdk(const std::string& scenario = "")
    {
        Sdk().ReleaseSDK();
        setenv("QG_SDK_JOURNAL", dir_.File("journal").c_str(), 1);
        setenv("QG_SDK_LOG", dir_.File("sdk.log").c_str(), 1);
        if (scenario.empty()) {
            unsetenv("QG_SDK_SCENARIO");
        } else {
            std::ofstream(dir_.File("scenario")) << scenario;
            setenv("QG_SDK_SCENARIO", dir_.File("scenario").c_str(), 1);
        }
        ASSERT_EQ(Sdk().InitSDK(), 0);
        journalStart_ = Journal().size();
    }

    static CCorvaneConnect& Sdk() { return *sdk_; }

    // Journal lines since StartSdk.
    std::vector<std::string> Journal() const
    {
        std::vector<std::string> all = ReadLines(dir_.File("journal"));
        all.erase(all.begin(), all.begin() + std::min(all.size(), journalStart_));
        return all;
    }
    std::vector<std::string> Log() const { return ReadLines(dir_.File("sdk.log")); }
    // Whether some log line holds the text.
    bool LogHas(const std::string& text) const
    {
        for (const std::string& line : Log())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    // Waits (at most 20 s: the SDK's threads on a loaded host) for a
    // journal line that holds the text.
    bool WaitJournal(const std::string& text) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            for (const std::string& line : Journal())
                if (line.find(text) != std::string::npos)
                    return true;
            if (std::chrono::steady_clock::now() > end)
                return false;
            usleep(10 * 1000);
        }
    }

    // Owner calls since the test began.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> all = owner_->Calls();
        all.erase(all.begin(), all.begin() + std::min(all.size(), seen_));
        return all;
    }

    // Waits (at most 20 s, however many other calls come meanwhile) for an
    // owner call starting with op(argsPrefix and returns it whole; empty on
    // time-out.
    std::string WaitCall(const std::string& op, const std::string& argsPrefix = "") const
    {
        const std::string prefix = op + "(" + argsPrefix;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            std::vector<std::string> calls = Calls();
            const int at = Find(calls, prefix);
            if (at >= 0)
                return calls[static_cast<size_t>(at)];
            if (std::chrono::steady_clock::now() > end)
                return "";
            owner_->WaitCount(seen_ + calls.size(), 25);
        }
    }

    // The string argument of a recorded call that holds a JSON object.
    static Json::Value JsonArg(const std::string& call)
    {
        const size_t open = call.find("\"{");
        const size_t close = call.rfind("}\"");
        Json::Value root;
        if (open == std::string::npos || close == std::string::npos || close < open)
            return root;
        const std::string text = call.substr(open + 1, close - open);
        Json::Reader().parse(text, root);
        return root;
    }

    TempDir dir_{"qg-sdklink-"};
    size_t seen_ = 0;
    size_t journalStart_ = 0;
    static inline RecordingOwner* owner_ = nullptr;
    static inline CCorvaneConnect* sdk_ = nullptr;
};

// Logs in as "alice" and waits (bounded) for the login's outcome.
#define LOGIN_OK(params)                                                            \
    do {                                                                            \
        ASSERT_EQ(Sdk().doLogin("127.0.0.1:8906", "alice", "pw", 0, params), 0);    \
        ASSERT_NE(WaitCall("ReplyLogin"), "") << ::testing::PrintToString(Calls()); \
    } while (0)

}  // namespace qgtest

#endif

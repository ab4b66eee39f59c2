// The process record of the running process and its one-line description.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comm/serverutils/server_utils.h"
#include "util/cv_ioutils.h"
#include "util/debug_info.h"

namespace {

// Pins the time zone for one test and puts the old one back.
class TimeZone
{
public:
    explicit TimeZone(const char* zone)
    {
        const char* old = getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

// A log object whose lines land in a list.
struct CapturedLog {
    CapturedLog()
    {
        log.writeFile = 0;
        log.callback = [](uint32_t level, uint32_t, uint32_t, const char* text, long user) -> uint32_t {
            reinterpret_cast<CapturedLog*>(user)->lines.push_back(std::to_string(level) + " " + text);
            return 0;
        };
        log.callbackUser = reinterpret_cast<long>(this);
    }
    CDebugInfo log;
    std::vector<std::string> lines;
};

CS_SERVICEPROCESSINFO_STRUCT SampleRecord()
{
    CS_SERVICEPROCESSINFO_STRUCT rec;
    memset(&rec, 0, sizeof rec);
    rec.cbSize = 244;
    rec.AppFlags = 0x60020;
    rec.SvrFlags = 0x200000;
    rec.ver.Main = 8;
    rec.ver.Sub = 0;
    rec.ver.Develop = 995;
    rec.BuildTime = 1700000000;  // 2023-11-14 22:13:20 UTC
    rec.serviceGuid.Data1 = 0x0123ABCD;
    rec.serviceGuid.Data4[7] = 0x10;
    rec.ServerId = 7;
    rec.LocalIpAddrList[0] = 0x7F000001;
    rec.LocalIpAddrList[1] = 0x0A000001;
    rec.InternetTCPPort = 8906;
    rec.InternetUDPPort = 8907;
    return rec;
}

const char kTail[] = "version:8.0.995, serviceGuid:0123ABCD-0000-0000-0000-000000000010, "
                     "machineGuid:00000000-0000-0000-0000-000000000000";

TEST(OutputServerDetail, OneLineInTheLocalTimeOfThePinnedZone)
{
    CS_SERVICEPROCESSINFO_STRUCT rec = SampleRecord();
    {
        TimeZone zone("UTC0");
        CapturedLog out;
        CServerUtils::OutputServerDetail(&rec, &out.log);
        ASSERT_EQ(out.lines.size(), 1u);
        EXPECT_EQ(out.lines[0], std::string("4 \tcorvanewebrtcgwserver, id:7, ip:127.0.0.1(tcp:8906, udp:8907), "
                                            "OS:Linux, build Time:2023-11-14 22:13:20, ") +
                                    kTail);
    }
    {
        TimeZone zone("CST-8");
        CapturedLog out;
        CServerUtils::OutputServerDetail(&rec, &out.log);
        ASSERT_EQ(out.lines.size(), 1u);
        EXPECT_NE(out.lines[0].find("build Time:2023-11-15 06:13:20, "), std::string::npos) << out.lines[0];
    }
}

TEST(OutputServerDetail, WindowsFlagUnknownServerAndSignedNumbers)
{
    TimeZone zone("UTC0");
    CS_SERVICEPROCESSINFO_STRUCT rec = SampleRecord();
    rec.AppFlags = 0x80;
    rec.SvrFlags = 0;
    rec.ServerId = 0xFFFFFFFF;
    rec.BuildTime = 0;
    CapturedLog out;
    CServerUtils::OutputServerDetail(&rec, &out.log);
    ASSERT_EQ(out.lines.size(), 1u);
    EXPECT_EQ(out.lines[0], std::string("4 \tunknow server(flags:0x0), id:-1, ip:127.0.0.1(tcp:8906, udp:8907), "
                                        "OS:Windows, build Time:1970-01-01 00:00:00, ") +
                                kTail);
}

TEST(OutputServerDetail, NothingWithoutRecordOrLog)
{
    CS_SERVICEPROCESSINFO_STRUCT rec = SampleRecord();
    CapturedLog out;
    CServerUtils::OutputServerDetail(nullptr, &out.log);
    CServerUtils::OutputServerDetail(&rec, nullptr);
    EXPECT_TRUE(out.lines.empty());
}

TEST(InitServiceProcessInfo, FillsThisProcessAndKeepsTheCallersFields)
{
    CS_SERVICEPROCESSINFO_STRUCT rec;
    memset(&rec, 0xEE, sizeof rec);
    CS_SERVICEPROCESSINFO_STRUCT before = rec;
    const uint32_t start = static_cast<uint32_t>(time(nullptr));
    CServerUtils::InitServiceProcessInfo(&rec, 0x200000);
    const uint32_t end = static_cast<uint32_t>(time(nullptr));

    EXPECT_EQ(rec.cbSize, 244u);
    EXPECT_EQ(rec.AppFlags, 0x60020u);
    EXPECT_EQ(rec.SvrFlags, 0x200000u);
    EXPECT_EQ(rec.ProcessId, static_cast<uint32_t>(getpid()));
    EXPECT_GE(rec.StartTime, start);
    EXPECT_LE(rec.StartTime, end);
    EXPECT_GT(rec.BuildTime, 1700000000u);
    EXPECT_LE(rec.BuildTime, end + 14 * 3600);  // the build's local time read in this zone
    EXPECT_EQ(rec.NatIpAddr, 0u);

    // The addresses found, from the first slot; the others keep what they held.
    unsigned found[5];
    memset(found, 0xEE, sizeof found);
    CV_IOUtils::GetLocalIPAddr(found, 5, 1);
    EXPECT_EQ(memcmp(rec.LocalIpAddrList, found, sizeof found), 0);

    // Everything from the version to the secure code but the times and the
    // pid, and everything after the local addresses but the NAT address, as it was.
    EXPECT_EQ(memcmp(&rec.ver, &before.ver, 4), 0);
    EXPECT_EQ(memcmp(&rec.machineGuid, &before.machineGuid, 48), 0);
    EXPECT_EQ(rec.ServerId, before.ServerId);
    EXPECT_EQ(rec.SecureCode, before.SecureCode);
    EXPECT_EQ(memcmp(&rec.LocalTCPPort, &before.LocalTCPPort, 240 - 104), 0);

    CServerUtils::InitServiceProcessInfo(nullptr, 0);
}

TEST(InitServiceProcessInfo, BuildTimeIsReadAsLocalTime)
{
    CS_SERVICEPROCESSINFO_STRUCT utc, east;
    memset(&utc, 0, sizeof utc);
    memset(&east, 0, sizeof east);
    {
        TimeZone zone("UTC0");
        CServerUtils::InitServiceProcessInfo(&utc, 1);
    }
    {
        TimeZone zone("CST-8");
        CServerUtils::InitServiceProcessInfo(&east, 1);
    }
    EXPECT_EQ(utc.BuildTime - east.BuildTime, 8u * 3600);
}

// What the service bridge sends: the record as compact text, accepted back by type.
TEST(InitServiceProcessInfo, RecordTextReadsBackByType)
{
    CS_SERVICEPROCESSINFO_STRUCT rec;
    memset(&rec, 0, sizeof rec);
    CServerUtils::InitServiceProcessInfo(&rec, 0x200000);
    rec.ver.Main = 8;
    rec.ver.Develop = 995;
    rec.LocalUDPPort = 40001;
    std::vector<char> text(20480, 0);
    CServerUtils::ServiceProcessInfo2Json(rec, text.data(), text.size());
    EXPECT_NE(std::string(text.data()).find("\"ProcessId\":" + std::to_string(getpid()) + ","), std::string::npos);
    EXPECT_NE(std::string(text.data()).find("\"ver\":{\"Develop\":995,\"Main\":8,\"Sub\":0}"), std::string::npos);

    CS_SERVICEPROCESSINFO_STRUCT back;
    memset(&back, 0, sizeof back);
    unsigned size = sizeof back;
    ASSERT_EQ(CServerUtils::Json2CorvaneStruct(11, text.data(), reinterpret_cast<char*>(&back), size), 0);
    EXPECT_EQ(memcmp(&back, &rec, sizeof rec), 0);
}

}  // namespace

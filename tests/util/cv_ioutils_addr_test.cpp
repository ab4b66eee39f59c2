#include "util/cv_ioutils.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <string.h>

#include <atomic>
#include <new>
#include <string>

// Lets a test make the table's allocation fail; every other nothrow
// allocation goes on as usual.
static std::atomic<bool> g_failNothrowArrays(false);

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_failNothrowArrays.load())
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const unsigned kLoopback = 0x7F000001u;

unsigned Ip(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

}  // namespace

TEST(IPv4Text, RoundTripTable)
{
    struct Case {
        const char* text;
        unsigned num;
    };
    const Case cases[] = {
        {"192.168.1.2", 0xC0A80102u}, {"127.0.0.1", kLoopback},         {"0.0.0.0", 0u},
        {"10.20.30.40", 0x0A141E28u}, {"255.255.255.254", 0xFFFFFFFEu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.num, CV_IOUtils::IPString2Num(c.text)) << c.text;
        char out[16];
        memset(out, 'z', sizeof(out));
        EXPECT_EQ(out, CV_IOUtils::IPNum2String(c.num, out, sizeof(out)));
        EXPECT_STREQ(c.text, out);
        EXPECT_STREQ(c.text, CV_IOUtils::IPNum2String(c.num));
    }
}

TEST(IPv4Text, BadTextAndShortBuffers)
{
    for (const char* bad : {"", "1.2.3.4.5", "300.1.1.1", "host1", "255.255.255.255"})
        EXPECT_EQ(0xFFFFFFFFu, CV_IOUtils::IPString2Num(bad)) << bad;
    EXPECT_EQ(0xFFFFFFFFu, CV_IOUtils::IPString2Num(nullptr));

    char out[16];
    memset(out, 'z', sizeof(out));
    CV_IOUtils::IPNum2String(0xC0A80102u, out, 8);
    EXPECT_STREQ("192.168", out);
    EXPECT_EQ('z', out[8]);
    CV_IOUtils::IPNum2String(0xC0A80102u, out, 0);
    EXPECT_STREQ("192.168", out);  // no room, nothing written
}

TEST(MacText, Table)
{
    struct Case {
        const char* text;
        uint64_t num;
        const char* written;
    };
    const Case cases[] = {
        {"00-11-22-33-44-55", 0x0011223344550000ull, "00-11-22-33-44-55"},
        {"0a-0b-0c-0d-0e-0f", 0x0A0B0C0D0E0F0000ull, "0A-0B-0C-0D-0E-0F"},
        {"FF-FF-FF-FF-FF-FF", 0xFFFFFFFFFFFF0000ull, "FF-FF-FF-FF-FF-FF"},
        {"DE-AD-BE", 0xDEADBE0000000000ull, "DE-AD-BE-00-00-00"},
        {"", 0, "00-00-00-00-00-00"},
        {"zz-11", 0, "00-00-00-00-00-00"},
    };
    for (const Case& c : cases) {
        long num = CV_IOUtils::MacString2Num(c.text);
        EXPECT_EQ(c.num, static_cast<uint64_t>(num)) << c.text;
        char out[18];
        memset(out, 'z', sizeof(out));
        EXPECT_EQ(out, CV_IOUtils::MacNum2String(num, out, sizeof(out)));
        EXPECT_STREQ(c.written, out);
    }
    // The two low bytes are not part of the address.
    char out[18];
    CV_IOUtils::MacNum2String(static_cast<long>(0x8011223344559999ull), out, sizeof(out));
    EXPECT_STREQ("80-11-22-33-44-55", out);
    CV_IOUtils::MacNum2String(0x0011223344550000, out, 9);
    EXPECT_STREQ("00-11-22", out);
    EXPECT_EQ(0, CV_IOUtils::MacString2Num(nullptr));
}

TEST(AddressClasses, Table)
{
    struct Case {
        unsigned ip;
        int valid, internet, loopback;
    };
    const Case cases[] = {
        {Ip(192, 168, 11, 1), 0, 0, 0},
        {Ip(192, 168, 238, 5), 0, 0, 0},
        {Ip(192, 168, 10, 1), 1, 0, 0},
        {Ip(192, 168, 11, 2), 1, 0, 0},
        {Ip(169, 254, 1, 1), 0, 1, 0},
        {Ip(169, 154, 0, 1), 0, 1, 0},
        {Ip(169, 155, 0, 1), 1, 1, 0},
        {Ip(0, 1, 2, 3), 0, 1, 0},
        {Ip(127, 0, 0, 1), 0, 0, 1},
        {Ip(127, 0, 0, 2), 0, 1, 1},
        {Ip(10, 0, 0, 0), 1, 0, 0},
        {Ip(10, 255, 255, 255), 1, 0, 0},
        {Ip(11, 0, 0, 0), 1, 1, 0},
        {Ip(172, 15, 255, 255), 1, 1, 0},
        {Ip(172, 16, 0, 0), 1, 0, 0},
        {Ip(172, 31, 255, 255), 1, 0, 0},
        {Ip(172, 32, 0, 0), 1, 1, 0},
        {Ip(8, 8, 8, 8), 1, 1, 0},
        {0, 0, 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.valid, CV_IOUtils::IsValidIpAddr(c.ip)) << CV_IOUtils::IPNum2String(c.ip);
        EXPECT_EQ(c.internet, CV_IOUtils::IsInternetIpAddr(c.ip)) << CV_IOUtils::IPNum2String(c.ip);
        EXPECT_EQ(c.loopback, CV_IOUtils::IsLoopbackIpAddr(c.ip)) << CV_IOUtils::IPNum2String(c.ip);
    }
}

TEST(AddressClasses, UrlText)
{
    struct Case {
        const char* text;
        int url;
    };
    const Case cases[] = {{"10.0.0.1", 0}, {"host1", 1}, {"", 0}, {"1.2.3.a", 1}, {"1-2", 1}, {"...", 0}};
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(c.url, CV_IOUtils::IsURLAddr(&text[0])) << c.text;
    }
    EXPECT_EQ(0, CV_IOUtils::IsURLAddr(nullptr));
}

TEST(LocalAddresses, ListedAddressesAreUsableAndDistinct)
{
    unsigned out[16];
    for (unsigned& v : out)
        v = 0xDEADBEEFu;
    // No room: nothing written.
    EXPECT_EQ(0u, CV_IOUtils::GetLocalIPAddr(out, 0, 1));
    EXPECT_EQ(0xDEADBEEFu, out[0]);
    EXPECT_EQ(0u, CV_IOUtils::GetLocalIPAddr(nullptr, 4, 1));

    unsigned n = CV_IOUtils::GetLocalIPAddr(out, 16, 1);
    ASSERT_LE(n, 16u);
    for (unsigned i = 0; i < n; ++i) {
        EXPECT_EQ(1, CV_IOUtils::IsValidIpAddr(out[i]));
        EXPECT_EQ(1, CV_IOUtils::IsLocalIpAddr(out[i]));
        for (unsigned j = 0; j < i; ++j)
            EXPECT_NE(out[i], out[j]);
    }
    for (unsigned i = n; i < 16; ++i)
        EXPECT_EQ(0xDEADBEEFu, out[i]);

    unsigned one[2] = {0xDEADBEEFu, 0xDEADBEEFu};
    unsigned m = CV_IOUtils::GetLocalIPAddr(one, 1, 1);
    EXPECT_EQ(n > 0 ? 1u : 0u, m);
    EXPECT_EQ(0xDEADBEEFu, one[1]);
    if (n > 0) {
        EXPECT_EQ(out[0], one[0]);
    }
}

TEST(LocalAddresses, OnlyFoundAddressesAreLocal)
{
    EXPECT_EQ(1, CV_IOUtils::IsLocalIpAddr(kLoopback));
    // 0.0.0.0 is never one of the host's addresses (it is rejected as one).
    EXPECT_EQ(0, CV_IOUtils::IsLocalIpAddr(0));
    EXPECT_EQ(0, CV_IOUtils::IsLocalIpAddr(Ip(127, 0, 0, 2)));
    EXPECT_EQ(0, CV_IOUtils::IsLocalIpAddr(Ip(203, 0, 113, 77)));
}

class IPv6Table : public testing::Test
{
protected:
    // Each test starts from an empty table, as a fresh process would.
    void SetUp() override
    {
        CV_IOUtils::Release();
        CV_IOUtils::Init();
    }
    void TearDown() override
    {
        g_failNothrowArrays = false;
        CV_IOUtils::m_bEnableIpv6Dns = 0;
    }
};

TEST_F(IPv6Table, IdsPerTextIgnoringCase)
{
    EXPECT_EQ(0x7F7F0001u, CV_IOUtils::IPv6AddrString2Native("fe80::1"));
    EXPECT_EQ(0x7F7F0001u, CV_IOUtils::IPv6AddrString2Native("FE80::1"));
    EXPECT_EQ(0x7F7F0002u, CV_IOUtils::IPv6AddrString2Native("2001:db8::5"));
    EXPECT_EQ(0x7F7F0001u, CV_IOUtils::IPv6AddrString2Native("Fe80::1"));

    EXPECT_EQ(1, CV_IOUtils::IsNativeIPv6Addr(0x7F7F0001u));
    EXPECT_EQ(1, CV_IOUtils::IsNativeIPv6Addr(0x7F7F0002u));
    EXPECT_EQ(0, CV_IOUtils::IsNativeIPv6Addr(0x7F7F0003u));
    EXPECT_EQ(0, CV_IOUtils::IsNativeIPv6Addr(0));

    char out[64];
    EXPECT_STREQ("fe80::1", CV_IOUtils::IPv6AddrNative2String(0x7F7F0001u, out, sizeof(out)));
    EXPECT_STREQ("2001:db8::5", CV_IOUtils::IPv6AddrNative2String(0x7F7F0002u, out, sizeof(out)));
    EXPECT_STREQ("2001", CV_IOUtils::IPv6AddrNative2String(0x7F7F0002u, out, 5));
    strcpy(out, "keep");
    EXPECT_STREQ("keep", CV_IOUtils::IPv6AddrNative2String(0x7F7F0009u, out, sizeof(out)));
}

TEST_F(IPv6Table, LongTextIsCutAndNullIsRefused)
{
    const std::string longText(150, 'a');
    unsigned id = CV_IOUtils::IPv6AddrString2Native(longText.c_str());
    ASSERT_EQ(0x7F7F0001u, id);
    char out[200];
    CV_IOUtils::IPv6AddrNative2String(id, out, sizeof(out));
    EXPECT_EQ(std::string(99, 'a'), out);
    EXPECT_EQ(0u, CV_IOUtils::IPv6AddrString2Native(nullptr));
    EXPECT_EQ(0x7F7F0002u, CV_IOUtils::IPv6AddrString2Native("::2"));
}

TEST_F(IPv6Table, NoMemoryGivesZeroAndUsesNoId)
{
    g_failNothrowArrays = true;
    EXPECT_EQ(0u, CV_IOUtils::IPv6AddrString2Native("::7"));
    g_failNothrowArrays = false;
    EXPECT_EQ(0u, CV_IOUtils::m_IPv6NativeMap.size());
    EXPECT_EQ(0x7F7F0001u, CV_IOUtils::IPv6AddrString2Native("::7"));
}

TEST_F(IPv6Table, IdsThatWouldRepeatAreRefused)
{
    ASSERT_EQ(0x7F7F0001u, CV_IOUtils::IPv6AddrString2Native("::a"));
    // After the count wrapped, the next id is taken already: refused, and
    // the registered text stays.
    CV_IOUtils::m_dwIPv6NativeSeed = 0;
    EXPECT_EQ(0u, CV_IOUtils::IPv6AddrString2Native("::b"));
    char out[16] = {0};
    EXPECT_STREQ("::a", CV_IOUtils::IPv6AddrNative2String(0x7F7F0001u, out, sizeof(out)));
    // The id that comes out as 0 is never issued.
    CV_IOUtils::m_dwIPv6NativeSeed = 0u - 0x7F7F0001u;
    EXPECT_EQ(0u, CV_IOUtils::IPv6AddrString2Native("::c"));
    EXPECT_EQ(1u, CV_IOUtils::m_IPv6NativeMap.size());
    EXPECT_EQ(0x7F7F0001u, CV_IOUtils::IPv6AddrString2Native("::A"));
}

namespace {

void* RegisterMany(void*)
{
    char text[32];
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 50; ++i) {
            snprintf(text, sizeof(text), "2001:db8::%x", i);
            if (CV_IOUtils::IPv6AddrString2Native(text) == 0)
                return reinterpret_cast<void*>(1);
        }
    }
    return nullptr;
}

}  // namespace

TEST_F(IPv6Table, ConcurrentRegistrationGivesOneIdPerText)
{
    pthread_t threads[4];
    for (pthread_t& t : threads)
        ASSERT_EQ(0, pthread_create(&t, nullptr, RegisterMany, nullptr));
    for (pthread_t& t : threads) {
        void* rc = nullptr;
        pthread_join(t, &rc);
        EXPECT_EQ(nullptr, rc);
    }
    EXPECT_EQ(50u, CV_IOUtils::m_IPv6NativeMap.size());
    EXPECT_EQ(50u, CV_IOUtils::m_dwIPv6NativeSeed);
    char out[64];
    for (unsigned id = 0x7F7F0001u; id <= 0x7F7F0032u; ++id) {
        out[0] = '\0';
        CV_IOUtils::IPv6AddrNative2String(id, out, sizeof(out));
        EXPECT_EQ(0, strncmp(out, "2001:db8::", 10)) << std::hex << id;
    }
}

TEST_F(IPv6Table, ResolveLoopbackNames)
{
    unsigned n = 12345;
    EXPECT_EQ(1, CV_IOUtils::DnsResolution("127.0.0.1", n, 0));
    EXPECT_EQ(kLoopback, n);
    n = 0;
    EXPECT_EQ(1, CV_IOUtils::DnsResolution("localhost", n, 0));
    EXPECT_EQ(1, CV_IOUtils::IsLoopbackIpAddr(n));

    // Without the switch, IPv6 answers are not taken.
    n = 12345;
    EXPECT_EQ(0, CV_IOUtils::DnsResolution("::1", n, 0));
    EXPECT_EQ(12345u, n);
    EXPECT_EQ(0, CV_IOUtils::DnsResolution(nullptr, n, 0));
    EXPECT_EQ(12345u, n);

    CV_IOUtils::m_bEnableIpv6Dns = 1;
    EXPECT_EQ(1, CV_IOUtils::DnsResolution("::1", n, 0));
    EXPECT_EQ(1, CV_IOUtils::IsNativeIPv6Addr(n));
    char out[64] = {0};
    EXPECT_STREQ("::1", CV_IOUtils::IPv6AddrNative2String(n, out, sizeof(out)));
}

TEST_F(IPv6Table, ResolveV6WithIPv4Fallback)
{
    char out[64];
    memset(out, 'z', sizeof(out));
    EXPECT_EQ(1, CV_IOUtils::DnsResolutionV6("::1", out, sizeof(out), 0));
    EXPECT_STREQ("::1", out);

    memset(out, 'z', sizeof(out));
    EXPECT_EQ(1, CV_IOUtils::DnsResolutionV6("127.0.0.1", out, sizeof(out), 0));
    EXPECT_STREQ("127.0.0.1", out);

    // "::1" needs 4 bytes: with 3 the text does not fit, and what the
    // buffer held before must not pass for an answer.
    char small[3] = {'z', 'z', '\0'};
    EXPECT_EQ(0, CV_IOUtils::DnsResolutionV6("::1", small, sizeof(small), 0));
    EXPECT_EQ(0, CV_IOUtils::DnsResolutionV6(nullptr, out, sizeof(out), 0));
}

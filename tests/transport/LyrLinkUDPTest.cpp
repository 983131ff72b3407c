#include "netenv/LyrLinkNetworkAccess.h"
#include "support/FakePlatform.h"
#include "support/native/LoopbackSockets.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{

struct RecordingCallback : LyrLinkNetworkAccessCallback
{
    std::vector<std::pair<Ipv4, size_t>> frames;
    void frameRead (const uint8_t* source, ByteView data) override
    {
        frames.emplace_back (ipv4FromOctets (source), data.size());
    }
};

Ipv4 ip (const char* text)
{
    in_addr a {};
    inet_pton (AF_INET, text, &a);
    return a.s_addr;
}

/** An endpoint on the fake socket, driven by the test thread. */
struct FakeEndpoint
{
    std::shared_ptr<FakeDatagramPort::Shared> shared = std::make_shared<FakeDatagramPort::Shared>();
    FakeNetRowSource rows;
    LyrLinkNetworkAccess access { std::make_unique<FakeDatagramPort> (shared), rows };
    RecordingCallback callback;

    FakeEndpoint()
    {
        access.m_callback = &callback;
        // Set before open starts the receive thread, which reads it: that thread then idles, and
        // only this thread's receives get datagrams.
        shared->receivingThread = std::this_thread::get_id();
        access.open (50000);
    }

    void chooseInterface (const char* address, const char* netmask)
    {
        access.m_ipAddr = ip (address);
        access.m_netmask = ip (netmask);
        access.m_networkAddr = ip (address) & ip (netmask);
    }

    bool delivered (const char* source, size_t size = 40)
    {
        const auto before = callback.frames.size();
        FakeDatagramPort::deliver (*shared, ip (source), std::vector<uint8_t> (size, 0x55));
        access.receiveOnce();
        return callback.frames.size() == before + 1;
    }
};

} // namespace

TEST (DatagramFilter, BeforeAnInterfaceIsChosenEverySourceIsDelivered)
{
    FakeEndpoint e;
    e.access.m_localAddrs[0].used = 1;
    e.access.m_localAddrs[0].address = ip ("192.168.1.5");
    for (const char* source : { "192.168.1.20", "10.0.0.9", "127.0.0.1", "192.168.1.5" })
        EXPECT_TRUE (e.delivered (source)) << source;
}

TEST (DatagramFilter, AfterLinkUpOnlyOtherHostsOfTheLinkSubnetPass)
{
    FakeEndpoint e;
    e.chooseInterface ("192.168.1.5", "255.255.255.0");
    e.access.m_localAddrs[0].used = 1;
    e.access.m_localAddrs[0].address = ip ("192.168.1.7");
    // An unused entry still filters: the list is compared whole.
    e.access.m_localAddrs[3].address = ip ("192.168.1.9");

    struct Case
    {
        const char* source;
        bool passes;
    };
    const Case cases[] = {
        { "192.168.1.20", true },   // a device of the link subnet
        { "192.168.1.5", false },   // the manager's own broadcast
        { "192.168.1.7", false },   // another address of this computer
        { "192.168.1.9", false },
        { "192.168.2.20", false },  // another subnet
        { "10.0.0.2", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ (e.delivered (c.source), c.passes) << c.source;
}

TEST (DatagramFilter, SizeLimitsAndSourceTracking)
{
    FakeEndpoint e;
    EXPECT_TRUE (e.delivered ("192.168.1.20", 1472));
    EXPECT_EQ (e.callback.frames.back().second, 1472u);
    EXPECT_FALSE (e.delivered ("192.168.1.21", 1473));
    EXPECT_FALSE (e.delivered ("192.168.1.22", 0));
    // Only datagrams of at least one byte change the remembered source.
    EXPECT_EQ (e.access.getSourceAddress(), ip ("192.168.1.21"));

    e.chooseInterface ("192.168.1.5", "255.255.255.0");
    EXPECT_FALSE (e.delivered ("10.1.1.1"));
    EXPECT_EQ (e.access.getSourceAddress(), ip ("10.1.1.1"));  // updated although dropped
}

TEST (UdpSends, DirectedBroadcastFromTheInterfaceAddress)
{
    struct Case
    {
        const char* local;
        const char* mask;
        const char* destination;
    };
    const Case cases[] = {
        { "192.168.1.10", "255.255.255.0", "192.168.1.255" },
        { "192.168.1.20", "255.255.255.0", "192.168.1.255" },
        { "169.254.12.34", "255.255.0.0", "169.254.255.255" },
        { "10.1.2.3", "255.0.0.0", "10.255.255.255" },
    };
    for (const auto& c : cases)
    {
        FakeEndpoint e;
        const uint8_t data[44] {};
        EXPECT_EQ (e.access.sendBroadcast (ip (c.local), ip (c.mask), data, sizeof (data)), 0);
        ASSERT_EQ (e.shared->sent.size(), 1u);
        EXPECT_TRUE (e.shared->sent[0].broadcast);
        EXPECT_EQ (e.shared->sent[0].localAddress, ip (c.local));
        EXPECT_EQ (e.shared->sent[0].destination, ip (c.destination)) << c.local;
        EXPECT_EQ (e.shared->sent[0].port, 50000);
    }
}

TEST (UdpSends, LongDataGoesOutIn1472ByteDatagrams)
{
    FakeEndpoint e;
    std::vector<uint8_t> data (1472 * 2 + 100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t> (i);
    ASSERT_EQ (e.access.sendBroadcast (ip ("10.0.0.1"), ip ("255.0.0.0"), data.data(), static_cast<int> (data.size())), 0);
    ASSERT_EQ (e.access.sendToAddress (reinterpret_cast<const uint8_t*> ("\x0a\x00\x00\x07"), data.data(),
                                       static_cast<int> (data.size())),
               0);
    ASSERT_EQ (e.shared->sent.size(), 6u);
    std::vector<uint8_t> rejoined;
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (e.shared->sent[i].bytes.size(), i < 2 ? 1472u : 100u);
        rejoined.insert (rejoined.end(), e.shared->sent[i].bytes.begin(), e.shared->sent[i].bytes.end());
        EXPECT_FALSE (e.shared->sent[3 + i].broadcast);
        EXPECT_EQ (e.shared->sent[3 + i].destination, ip ("10.0.0.7"));
    }
    EXPECT_EQ (rejoined, data);
}

TEST (UdpSends, FailuresAreReportedAsMinusOne)
{
    FakeEndpoint e;
    const uint8_t data[10] {};
    EXPECT_EQ (e.access.sendToAddress (reinterpret_cast<const uint8_t*> ("\x0a\x00\x00\x07"), data, 0), -1);
    EXPECT_EQ (e.access.sendToAddress (reinterpret_cast<const uint8_t*> ("\x0a\x00\x00\x07"), nullptr, 5), -1);
    EXPECT_EQ (e.access.sendBroadcast (ip ("10.0.0.1"), ip ("255.0.0.0"), nullptr, 5), -1);
    e.shared->broadcastOpenFails = true;
    EXPECT_EQ (e.access.sendBroadcast (ip ("10.0.0.1"), ip ("255.0.0.0"), data, 10), -1);
    e.shared->broadcastOpenFails = false;
    e.shared->sendsFail = true;
    EXPECT_EQ (e.access.sendBroadcast (ip ("10.0.0.1"), ip ("255.0.0.0"), data, 10), -1);
    EXPECT_EQ (e.access.sendToAddress (reinterpret_cast<const uint8_t*> ("\x0a\x00\x00\x07"), data, 10), -1);
    // An unresolvable host sends nothing and is not a failure.
    e.shared->sendsFail = false;
    EXPECT_EQ (e.access.sendTo ("no such host name", data, 10), 0);
    EXPECT_TRUE (e.shared->sent.empty());
}

//==============================================================================
// The system's own datagram socket on the loopback: a real network stack decides the sizes. (On
// Windows a datagram longer than the buffer fails with WSAEMSGSIZE and must still be dropped whole.)
TEST (DatagramPortLoopback, ReceivesUpTo1472BytesAndDropsLargerDatagramsWhole)
{
    FakeNetRowSource rows;
    LyrLinkNetworkAccess access (createSystemDatagramPort(), rows);
    RecordingCallback callback;
    access.m_callback = &callback;
    ASSERT_TRUE (access.bindPort (0));
    const auto port = access.getDatagramPort().getBoundPort();
    ASSERT_NE (port, 0);
    access.getDatagramPort().setReceiveTimeout (1000);
    access.open (port);  // marks it open; the thread is stopped again right away
    access.stopThread (2000);

    auto sender = createSystemDatagramPort();
    ASSERT_TRUE (sender->bindAny (0));
    auto send = [&] (size_t n) {
        std::vector<uint8_t> d (n, 0xab);
        EXPECT_TRUE (sender->sendTo (ip ("127.0.0.1"), port, d.data(), d.size())) << n;
    };

    send (1473);
    send (1472);
    send (0);
    send (7);
    for (int i = 0; i < 4; ++i)
        access.receiveOnce();

    ASSERT_EQ (callback.frames.size(), 2u);
    EXPECT_EQ (callback.frames[0].second, 1472u);
    EXPECT_EQ (callback.frames[1].second, 7u);
    EXPECT_EQ (callback.frames[1].first, ip ("127.0.0.1"));
}

TEST (DatagramPortLoopback, ClosingReturnsWithinAboutTheReceiveTimeout)
{
    FakeNetRowSource rows;
    auto access = std::make_unique<LyrLinkNetworkAccess> (createSystemDatagramPort(), rows);
    ASSERT_TRUE (access->bindPort (0));
    access->open (access->getDatagramPort().getBoundPort());
    juce::Thread::sleep (50);  // let the loop block in its receive
    const auto start = juce::Time::getMillisecondCounterHiRes();
    access.reset();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 1000.0);
}

TEST (DatagramPortLoopback, ASecondBindOfThePortFails)
{
    auto first = createSystemDatagramPort();
    ASSERT_TRUE (first->bindAny (0));
    auto second = createSystemDatagramPort();
    EXPECT_FALSE (second->bindAny (first->getBoundPort()));
}

TEST (DatagramPortLoopback, BroadcastSendersShareTheirAddressAndResolveNames)
{
    auto port = createSystemDatagramPort();
    auto a = port->openBroadcastSender (ip ("127.0.0.1"));
    auto b = port->openBroadcastSender (ip ("127.0.0.1"));
    EXPECT_NE (a, nullptr);
    EXPECT_NE (b, nullptr);
    Ipv4 address = 0;
    ASSERT_TRUE (port->resolve ("192.168.1.20", address));
    EXPECT_EQ (address, ip ("192.168.1.20"));
    ASSERT_TRUE (port->resolve ("localhost", address));
    EXPECT_EQ (address, ip ("127.0.0.1"));
}

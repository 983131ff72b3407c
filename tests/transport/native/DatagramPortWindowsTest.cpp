// The Winsock datagram socket on the loopback (under Wine as on Windows): a real stack decides the
// sizes. A datagram longer than the buffer fails with WSAEMSGSIZE there and must still be dropped
// whole. The same cases as on Linux; the datagrams are sent from a second Windows port.
#include "netenv/LyrLinkNetworkAccess.h"
#include "support/FakePlatform.h"
#include "transport/native/DatagramPort_windows.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

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

} // namespace

TEST (WindowsDatagramPort, ReceivesUpTo1472BytesAndDropsLargerDatagramsWhole)
{
    FakeNetRowSource rows;
    LyrLinkNetworkAccess access (createWindowsDatagramPort(), rows);
    RecordingCallback callback;
    access.m_callback = &callback;
    ASSERT_TRUE (access.bindPort (0));
    const auto port = access.getDatagramPort().getBoundPort();
    ASSERT_NE (port, 0);
    access.getDatagramPort().setReceiveTimeout (1000);
    access.open (port);  // marks it open; the thread is stopped again right away
    access.stopThread (2000);

    auto sender = createWindowsDatagramPort();
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

TEST (WindowsDatagramPort, ATooLongDatagramStillNamesItsSender)
{
    auto port = createWindowsDatagramPort();
    ASSERT_TRUE (port->bindAny (0));
    port->setReceiveTimeout (1000);
    auto sender = createWindowsDatagramPort();
    ASSERT_TRUE (sender->bindAny (0));
    const std::vector<uint8_t> d (2000, 0x5a);
    ASSERT_TRUE (sender->sendTo (ip ("127.0.0.1"), port->getBoundPort(), d.data(), d.size()));

    uint8_t buffer[1472];
    Ipv4 source = 0;
    EXPECT_EQ (port->receive (buffer, sizeof (buffer), source), 1473) << "more than the capacity: did not fit";
    EXPECT_EQ (source, ip ("127.0.0.1"));
    EXPECT_EQ (port->receive (buffer, sizeof (buffer), source), -1) << "nothing of it is left to read";
}

TEST (WindowsDatagramPort, ClosingReturnsWithinAboutTheReceiveTimeout)
{
    FakeNetRowSource rows;
    auto access = std::make_unique<LyrLinkNetworkAccess> (createWindowsDatagramPort(), rows);
    ASSERT_TRUE (access->bindPort (0));
    access->open (access->getDatagramPort().getBoundPort());
    juce::Thread::sleep (50);  // let the loop block in its receive
    const auto start = juce::Time::getMillisecondCounterHiRes();
    access.reset();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 1000.0);
}

TEST (WindowsDatagramPort, ASecondBindOfThePortFails)
{
    auto first = createWindowsDatagramPort();
    ASSERT_TRUE (first->bindAny (0));
    auto second = createWindowsDatagramPort();
    EXPECT_FALSE (second->bindAny (first->getBoundPort()));
}

TEST (WindowsDatagramPort, BroadcastSendersShareTheirAddressAndResolveNames)
{
    auto port = createWindowsDatagramPort();
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

// The Linux datagram socket on the loopback: a real kernel decides the sizes.
#include "netenv/LyrLinkNetworkAccess.h"
#include "support/FakePlatform.h"
#include "transport/native/DatagramPort_linux.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

TEST (LinuxDatagramPort, ReceivesUpTo1472BytesAndDropsLargerDatagramsWhole)
{
    FakeNetRowSource rows;
    LyrLinkNetworkAccess access (createLinuxDatagramPort(), rows);
    RecordingCallback callback;
    access.m_callback = &callback;
    ASSERT_TRUE (access.bindPort (0));
    const auto port = access.getDatagramPort().getBoundPort();
    ASSERT_NE (port, 0);
    access.getDatagramPort().setReceiveTimeout (1000);
    access.open (port);  // marks it open; the thread is stopped again right away
    access.stopThread (2000);

    const int fd = ::socket (AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons (port);
    to.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    auto send = [&] (size_t n) {
        std::vector<uint8_t> d (n, 0xab);
        ::sendto (fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*> (&to), sizeof (to));
    };

    send (1473);
    send (1472);
    send (0);
    send (7);
    for (int i = 0; i < 4; ++i)
        access.receiveOnce();
    ::close (fd);

    ASSERT_EQ (callback.frames.size(), 2u);
    EXPECT_EQ (callback.frames[0].second, 1472u);
    EXPECT_EQ (callback.frames[1].second, 7u);
    EXPECT_EQ (callback.frames[1].first, ip ("127.0.0.1"));
}

TEST (LinuxDatagramPort, ClosingReturnsWithinAboutTheReceiveTimeout)
{
    FakeNetRowSource rows;
    auto access = std::make_unique<LyrLinkNetworkAccess> (createLinuxDatagramPort(), rows);
    ASSERT_TRUE (access->bindPort (0));
    access->open (access->getDatagramPort().getBoundPort());
    juce::Thread::sleep (50);  // let the loop block in its receive
    const auto start = juce::Time::getMillisecondCounterHiRes();
    access.reset();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 1000.0);
}

TEST (LinuxDatagramPort, ASecondBindOfThePortFails)
{
    auto first = createLinuxDatagramPort();
    ASSERT_TRUE (first->bindAny (0));
    auto second = createLinuxDatagramPort();
    EXPECT_FALSE (second->bindAny (first->getBoundPort()));
}

// What only the Winsock datagram socket shows (under Wine as on Windows): a datagram longer than the
// buffer fails with WSAEMSGSIZE, yet its sender is known and nothing of it stays to be read. The
// cases both systems share are the loopback cases of the UDP endpoint's tests.
#include "transport/native/DatagramPort_windows.h"

#include <gtest/gtest.h>

#include <ws2tcpip.h>

using namespace lyrlink;

namespace
{

Ipv4 ip (const char* text)
{
    in_addr a {};
    inet_pton (AF_INET, text, &a);
    return a.s_addr;
}

} // namespace

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

// The simulator on real sockets, loopback only: two devices on 127.0.0.x addresses and a stand-in
// manager on 127.0.0.1, all on a free port instead of 50000. Waits are bounded receive timeouts on
// frames that are sent at once, never on the simulator's timers.
#include "lyrlinksim/SimLoop.h"
#include "transport/native/DatagramPort_linux.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lyrlinksim;
using lyrlink::makeIpv4;

namespace
{

const Ipv4 kManager = makeIpv4 (127, 0, 0, 1);
const Ipv4 kLoopbackBroadcast = makeIpv4 (127, 255, 255, 255);

/** A bound UDP socket with a 2 s receive timeout, closed on destruction. */
struct TestSocket
{
    int fd = -1;

    TestSocket (Ipv4 ip, uint16_t port)
    {
        fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt (fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof (one));
        ::setsockopt (fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof (one));
        ::setsockopt (fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof (one));
        timeval tv { 2, 0 };
        ::setsockopt (fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof (tv));
        const auto sa = lyrlink::makeSocketAddress (ip, port);
        if (::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0)
        {
            ::close (fd);
            fd = -1;
        }
    }
    ~TestSocket()
    {
        if (fd >= 0)
            ::close (fd);
    }

    uint16_t port() const
    {
        sockaddr_in sa {};
        socklen_t len = sizeof (sa);
        ::getsockname (fd, reinterpret_cast<sockaddr*> (&sa), &len);
        return ntohs (sa.sin_port);
    }

    void sendTo (Ipv4 ip, uint16_t port, const Bytes& bytes) const
    {
        const auto sa = lyrlink::makeSocketAddress (ip, port);
        ::sendto (fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa));
    }

    /** The next datagram of this frame type from source, skipping others; empty after the timeout. */
    Bytes receiveFrom (Ipv4 source, uint8_t type) const
    {
        for (int i = 0; i < 50; ++i)
        {
            uint8_t buffer[2048];
            sockaddr_in from {};
            socklen_t len = sizeof (from);
            const auto n = ::recvfrom (fd, buffer, sizeof (buffer), 0, reinterpret_cast<sockaddr*> (&from), &len);
            if (n < 0)
                return {};
            if (from.sin_addr.s_addr == source && n > 10 && buffer[10] == type)
                return Bytes (buffer, buffer + n);
        }
        return {};
    }
};

DeviceIdentity device (uint8_t id, uint8_t type, Ipv4 ip)
{
    DeviceIdentity d;
    d.id = id;
    d.type = type;
    d.model = "DKP-3000";
    d.ip = ip;
    d.mac = { 2, 0, 127, 0, 0, id };
    return d;
}

} // namespace

TEST (SimLoop, PlaysDevicesOnLoopbackAndAnswersTheManager)
{
    TestSocket manager (kManager, 0);
    ASSERT_GE (manager.fd, 0);
    const auto port = manager.port();

    const auto playerIp = makeIpv4 (127, 0, 0, 21), computerIp = makeIpv4 (127, 0, 0, 22);
    SimConfig config;
    config.devices = { device (21, 1, playerIp), device (17, 4, computerIp) };
    config.netmask = makeIpv4 (255, 0, 0, 0);
    config.join = false;
    config.json = true;
    config.port = port;

    std::mutex mutex;
    std::vector<std::string> lines, errors;
    SimLoop loop (
        config,
        [&] (const std::string& l) {
            std::lock_guard<std::mutex> lock (mutex);
            lines.push_back (l);
            return true;
        },
        [&] (const std::string& l) {
            std::lock_guard<std::mutex> lock (mutex);
            errors.push_back (l);
            return true;
        });
    // The stand-in manager hears broadcasts on the loopback broadcast address, like the simulator.
    TestSocket managerBroadcast (kLoopbackBroadcast, port);
    ASSERT_GE (managerBroadcast.fd, 0);
    ASSERT_TRUE (loop.open());

    int input[2];
    ASSERT_EQ (::pipe (input), 0);
    std::atomic<bool> stop { false };
    int status = -1;
    std::thread runner ([&] { status = loop.run (input[0], stop); });
    const auto command = [&] (const std::string& text) {
        const auto line = text + "\n";
        ASSERT_EQ (::write (input[1], line.data(), line.size()), static_cast<ssize_t> (line.size()));
    };

    // Without the join phase both devices announce themselves at once, each from its own address.
    const auto playerConfig = managerBroadcast.receiveFrom (playerIp, 6);
    const auto computerConfig = managerBroadcast.receiveFrom (computerIp, 6);
    EXPECT_EQ (playerConfig.size(), 54u);
    ASSERT_EQ (computerConfig.size(), 54u);
    EXPECT_EQ (computerConfig[36], 17);

    // The manager asks for 17: the device holding it answers to the address in the request.
    DeviceIdentity self = device (18, 4, kManager);
    self.model = "velantrix";
    manager.sendTo (kLoopbackBroadcast, port, encodeIdUseRequest (self, 17, 5));
    const auto answer = manager.receiveFrom (computerIp, 3);
    ASSERT_EQ (answer.size(), 39u);
    EXPECT_EQ (answer[36], 17);
    EXPECT_EQ (answer[37], 5);
    EXPECT_EQ (answer[38], 1);

    // A command on the input: the player leaves.
    command ("leave id=21");
    const auto leave = managerBroadcast.receiveFrom (playerIp, 7);
    ASSERT_EQ (leave.size(), 41u);
    EXPECT_EQ (leave[36], 21);

    command ("quit");
    runner.join();
    ::close (input[0]);
    ::close (input[1]);
    EXPECT_EQ (status, 0);

    std::lock_guard<std::mutex> lock (mutex);
    EXPECT_TRUE (errors.empty()) << errors.front();
    bool sawRequest = false, sawLeave = false;
    for (const auto& l : lines)
    {
        // Only frames from other hosts are printed: the devices' own broadcasts are not.
        const auto j = nlohmann::ordered_json::parse (l);
        const auto dir = j.value ("dir", "");
        EXPECT_FALSE (dir == "rx" && j.value ("src", "").rfind ("127.0.0.2", 0) == 0) << l;
        if (dir == "rx" && j.value ("src", "") == "127.0.0.1" && j.value ("dst", "") == "127.255.255.255"
            && j.value ("name", "") == "IdUseRequest" && j.value ("id", -1) == 17 && j.value ("req", -1) == 5)
            sawRequest = true;
        if (dir == "event" && j.value ("event", "") == "leave id=21")
            sawLeave = true;
    }
    EXPECT_TRUE (sawRequest);
    EXPECT_TRUE (sawLeave);
    ASSERT_FALSE (lines.empty());
    EXPECT_NE (lines.back().find ("end: quit"), std::string::npos) << lines.back();
}

TEST (SimLoop, EndOfInputEndsARunWithoutDuration)
{
    TestSocket probe (kManager, 0);
    SimConfig config;
    config.devices = { device (21, 1, makeIpv4 (127, 0, 0, 21)) };
    config.netmask = makeIpv4 (255, 0, 0, 0);
    config.port = probe.port();
    std::vector<std::string> lines;
    SimLoop loop (
        config, [&] (const std::string& l) { lines.push_back (l); return true; },
        [] (const std::string&) { return true; });
    ASSERT_TRUE (loop.open());

    int input[2];
    ASSERT_EQ (::pipe (input), 0);
    // The last command has no newline; it still counts before the end of input.
    const std::string commands = "# comment\n\nbogus\nsilent id=21";
    ASSERT_EQ (::write (input[1], commands.data(), commands.size()), static_cast<ssize_t> (commands.size()));
    ::close (input[1]);
    std::atomic<bool> stop { false };
    EXPECT_EQ (loop.run (input[0], stop), 0);
    ::close (input[0]);

    ASSERT_GE (lines.size(), 3u);
    EXPECT_NE (lines[lines.size() - 3].find ("event bogus (not done: unknown event"), std::string::npos)
        << lines[lines.size() - 3];
    EXPECT_NE (lines[lines.size() - 2].find ("event silent id=21"), std::string::npos) << lines[lines.size() - 2];
    EXPECT_NE (lines.back().find ("end: end of input"), std::string::npos) << lines.back();
}

TEST (SimLoop, RefusesAnAddressThatIsNotOnThisHost)
{
    SimConfig config;
    // 192.0.2.0/24 is reserved for documentation: never configured here, and nothing is sent to it.
    config.devices = { device (1, 1, makeIpv4 (192, 0, 2, 1)) };
    std::vector<std::string> errors;
    SimLoop loop (
        config, [] (const std::string&) { return true; },
        [&] (const std::string& l) { errors.push_back (l); return true; });
    EXPECT_FALSE (loop.open());
    ASSERT_EQ (errors.size(), 1u);
    EXPECT_NE (errors[0].find ("cannot bind 192.0.2.1:50000"), std::string::npos) << errors[0];
}

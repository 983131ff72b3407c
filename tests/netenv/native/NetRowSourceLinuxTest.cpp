// The Linux rows against the real kernel, each test inside a network namespace of its own, made
// with veth pairs, addresses and routes through `ip -n`. The queries run on a thread that entered
// the namespace: netlink sockets and /proc/thread-self/net follow the calling thread.
#include "netenv/native/Nl80211Messages_linux.h"
#include "netenv/TestNetworkAccess.h"
#include "netenv/native/NetRowSource_linux.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
Ipv4 ip (uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return makeIpv4 (a, b, c, d); }

std::string runCommand (const std::string& command, int& status)
{
    std::string output;
    if (FILE* pipe = ::popen ((command + " 2>&1").c_str(), "r"))
    {
        char buffer[512];
        size_t n;
        while ((n = std::fread (buffer, 1, sizeof (buffer), pipe)) > 0)
            output.append (buffer, n);
        status = ::pclose (pipe);
    }
    else
    {
        status = -1;
    }
    return output;
}

/** A network namespace that lives as long as the object. */
class NetNamespace
{
public:
    NetNamespace()
    {
        static std::atomic<int> serial { 0 };
        m_name = "lyrtest-" + std::to_string (::getpid()) + "-" + std::to_string (serial++);
    }

    ~NetNamespace()
    {
        if (m_created)
        {
            int status = 0;
            runCommand ("ip netns del " + m_name, status);
        }
    }

    /** Empty when made, else why not. */
    std::string create()
    {
        if (::geteuid() != 0)
            return "network namespaces need root";
        int status = 0;
        const auto output = runCommand ("ip netns add " + m_name, status);
        if (status != 0)
            return "cannot make a network namespace: " + output;
        m_created = true;
        return ip ("link set lo up");
    }

    /** Runs `ip` inside the namespace; empty on success, else the command and its output. */
    std::string ip (const std::string& arguments) const
    {
        const auto command = "ip -n " + m_name + " " + arguments;
        int status = 0;
        const auto output = runCommand (command, status);
        return status == 0 ? std::string() : command + ": " + output;
    }

    std::string show (const std::string& arguments) const
    {
        int status = 0;
        return runCommand ("ip -n " + m_name + " " + arguments, status);
    }

    /** Runs body on a thread that entered the namespace. */
    void inside (const std::function<void()>& body) const
    {
        std::string failure;
        std::thread thread ([&]
        {
            const int fd = ::open (("/var/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns (fd, CLONE_NEWNET) != 0)
                failure = std::string ("cannot enter the namespace: ") + std::strerror (errno);
            if (fd >= 0)
                ::close (fd);
            if (failure.empty())
                body();
        });
        thread.join();
        ASSERT_TRUE (failure.empty()) << failure;
    }

private:
    std::string m_name;
    bool m_created = false;
};

/** The kernel settles a link's operational state after the change that caused it. */
bool eventually (const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }
    return true;
}

/** Index and MAC of a link of the calling thread's namespace. */
bool linkIdentity (const char* name, uint32_t& ifIndex, Mac& mac)
{
    ifIndex = ::if_nametoindex (name);
    const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request {};
    std::strncpy (request.ifr_name, name, IFNAMSIZ - 1);
    const bool ok = fd >= 0 && ::ioctl (fd, SIOCGIFHWADDR, &request) == 0;
    if (fd >= 0)
        ::close (fd);
    std::memcpy (mac.data(), request.ifr_hwaddr.sa_data, 6);
    return ok && ifIndex != 0;
}

/** nl80211 as a test describes it: the answers of its dumps are messages the test built. */
struct FakeNl80211
{
    bool present = true;
    /** The answers of the interface dump; none: the dump fails. */
    std::optional<std::vector<Bytes>> interfaces = std::vector<Bytes> {};
    /** The answers of the scan dump of each interface index; an index not here: the dump fails. */
    std::map<uint32_t, std::vector<Bytes>> scans;
    /** Command and interface index of every dump asked for. */
    std::vector<std::pair<int, uint32_t>> dumps;

    Nl80211Opener opener()
    {
        return [this]() -> std::unique_ptr<Nl80211Connection>
        {
            if (! present)
                return nullptr;
            return std::make_unique<Connection> (*this);
        };
    }

    struct Connection final : Nl80211Connection
    {
        explicit Connection (FakeNl80211& fake) : m_fake (fake) {}

        bool dump (uint8_t command, uint32_t ifIndex, std::vector<Message>& messages) override
        {
            m_fake.dumps.emplace_back (command, ifIndex);
            const auto scan = m_fake.scans.find (ifIndex);
            if (command == NL80211_CMD_GET_INTERFACE && ifIndex == 0 && m_fake.interfaces)
                messages = *m_fake.interfaces;
            else if (command == NL80211_CMD_GET_SCAN && scan != m_fake.scans.end())
                messages = scan->second;
            else
                return false;
            return true;
        }

        FakeNl80211& m_fake;
    };
};

/** A veth pair lyra (10.9.0.1/24) and lyrb (169.254.5.5/16), both up. */
struct NetRowSourceLinux : ::testing::Test
{
    NetNamespace ns;
    std::unique_ptr<NetRowSource> source = createLinuxNetRowSource();
    TestNetworkAccess net { *source };

    void SetUp() override
    {
        const auto reason = ns.create();
        if (! reason.empty())
            GTEST_SKIP() << reason;
        for (const char* step : { "link add lyra type veth peer name lyrb", "addr add 10.9.0.1/24 dev lyra",
                                  "addr add 169.254.5.5/16 dev lyrb", "link set lyra up", "link set lyrb up" })
            ASSERT_EQ (ns.ip (step), "");
    }
};

//==============================================================================
TEST_F (NetRowSourceLinux, VethIsAWiredInterfaceWithItsMacAndNetmask)
{
    ns.inside ([&]
    {
        uint32_t ifIndex = 0;
        Mac mac {};
        ASSERT_TRUE (linkIdentity ("lyra", ifIndex, mac));
        ASSERT_TRUE (eventually ([&] { return ! net.isInterfaceDown (ifIndex); })) << ns.show ("link");

        net.setPeer (ip (10, 9, 0, 20));
        EXPECT_TRUE (net.prepareLinkInterface());
        EXPECT_EQ (net.m_matchCount, 1u);
        EXPECT_EQ (net.m_ifIndex.load(), ifIndex & 0xffff);
        EXPECT_EQ (net.m_ipAddr.load(), ip (10, 9, 0, 1));
        EXPECT_EQ (net.m_netmask.load(), ip (255, 255, 255, 0));
        EXPECT_EQ (net.m_networkAddr.load(), ip (10, 9, 0, 0));
        EXPECT_EQ (macOf (net.m_macAddr), mac);

        int errorCode = -1;
        EXPECT_EQ (net.getInterfaceKind (mac.data(), errorCode), 1);
        EXPECT_EQ (errorCode, 0);
        EXPECT_FALSE (net.isAddressChanged (ip (10, 9, 0, 1), ifIndex));
        EXPECT_FALSE (net.isOldOsVersion());

        std::vector<AdapterRow> adapters;
        ASSERT_EQ (source->readAdapters (adapters), AdapterListResult::ok);
        ASSERT_EQ (adapters.size(), 3u);
        EXPECT_EQ (adapters[0].description, "lo");
        EXPECT_EQ (adapters[0].type, kIfTypeSoftwareLoopback);
        for (const auto& adapter : adapters)
            if (adapter.description == "lyra")
            {
                EXPECT_EQ (adapter.type, kIfTypeEthernet);
                EXPECT_EQ (adapter.mac, mac);
                EXPECT_EQ (adapter.macLength, 6u);
                EXPECT_EQ (adapter.ifIndex, ifIndex);
            }

        // Loopback counts too: its table row is in kernel order, first.
        std::vector<IpAddrRow> addresses;
        ASSERT_TRUE (source->readAddressTable (addresses));
        ASSERT_EQ (addresses.size(), 3u);
        EXPECT_EQ (addresses[0].address, ip (127, 0, 0, 1));
        EXPECT_EQ (addresses[0].netmask, ip (255, 0, 0, 0));
    });
}

TEST_F (NetRowSourceLinux, SecondAddressAndLinkDownAreSeen)
{
    ns.inside ([&]
    {
        uint32_t ifIndex = 0;
        Mac mac {};
        ASSERT_TRUE (linkIdentity ("lyra", ifIndex, mac));
        ASSERT_TRUE (eventually ([&] { return ! net.isInterfaceDown (ifIndex); }));
        EXPECT_FALSE (net.isAddressChanged (ip (10, 9, 0, 1), ifIndex));

        ASSERT_EQ (ns.ip ("addr add 10.9.0.99/24 dev lyra"), "");
        EXPECT_TRUE (net.isAddressChanged (ip (10, 9, 0, 1), ifIndex));

        // The peer going down takes the carrier away; then the link itself.
        ASSERT_EQ (ns.ip ("link set lyrb down"), "");
        EXPECT_TRUE (eventually ([&] { return net.isInterfaceDown (ifIndex); })) << ns.show ("link show lyra");
        ASSERT_EQ (ns.ip ("link set lyrb up"), "");
        EXPECT_TRUE (eventually ([&] { return ! net.isInterfaceDown (ifIndex); }));
        ASSERT_EQ (ns.ip ("link set lyra down"), "");
        EXPECT_TRUE (eventually ([&] { return net.isInterfaceDown (ifIndex); }));

        ASSERT_EQ (ns.ip ("link del lyra"), "");
        EXPECT_TRUE (net.isInterfaceDown (ifIndex)) << "gone from the table";
    });
}

TEST_F (NetRowSourceLinux, LinkLocalRoutesThroughOtherNetworksAreDeleted)
{
    // lyrb holds a 169.254 address and a second one after it; the kernel's own link-local route
    // on lyrb names 169.254.5.5 as its source.
    for (const char* step : { "addr add 10.9.1.1/24 dev lyrb",
                              "route add 169.254.0.0/16 via 10.9.0.2 dev lyra metric 50",
                              "route add 169.254.0.0/16 dev lyrb metric 60",
                              "route add 169.254.0.0/16 dev lyra metric 70",
                              "route add 169.254.0.0/16 via 169.254.7.9 dev lyrb metric 80",
                              "route add 169.254.0.0/16 via 10.9.0.2 dev lyra table 100",
                              "route add 169.254.9.0/24 via 10.9.0.2 dev lyra" })
        ASSERT_EQ (ns.ip (step), "");

    ns.inside ([&]
    {
        const auto linkLocalRoutes = [&]
        {
            std::vector<RouteRow> rows, linkLocal;
            EXPECT_TRUE (source->readRouteTable (rows));
            for (const auto& row : rows)
                if (row.destination == ip (169, 254, 0, 0))
                    linkLocal.push_back (row);
            return linkLocal;
        };
        const auto nextHopOf = [&] (uint32_t metric)
        {
            for (const auto& row : linkLocalRoutes())
                if (row.priority == metric)
                    return row.nextHop;
            return ip (255, 255, 255, 255);
        };

        // Next hops: the gateway; on-link, the preferred source or else the interface's first address.
        EXPECT_EQ (nextHopOf (0), ip (169, 254, 5, 5)) << "kernel route, preferred source";
        EXPECT_EQ (nextHopOf (50), ip (10, 9, 0, 2));
        EXPECT_EQ (nextHopOf (60), ip (169, 254, 5, 5)) << "on-link, first address of lyrb";
        EXPECT_EQ (nextHopOf (70), ip (10, 9, 0, 1)) << "on-link, first address of lyra";
        EXPECT_EQ (nextHopOf (80), ip (169, 254, 7, 9));
        EXPECT_EQ (linkLocalRoutes().size(), 5u) << "main table only";

        net.deleteLinkLocalRoutes();

        std::vector<uint32_t> remaining;
        for (const auto& row : linkLocalRoutes())
        {
            remaining.push_back (row.priority);
            EXPECT_EQ (row.netmask, ip (255, 255, 0, 0));
        }
        EXPECT_EQ (remaining, (std::vector<uint32_t> { 0, 60, 80 })) << ns.show ("route");
    });

    const auto otherTable = ns.show ("route show table 100");
    EXPECT_NE (otherTable.find ("169.254.0.0/16 via 10.9.0.2"), std::string::npos) << otherTable;
    const auto main = ns.show ("route");
    EXPECT_NE (main.find ("169.254.9.0/24 via 10.9.0.2"), std::string::npos) << main;
}

TEST_F (NetRowSourceLinux, RouteDeletionWithoutTheRightFailsSilently)
{
    ASSERT_EQ (ns.ip ("route add 169.254.0.0/16 via 10.9.0.2 dev lyra metric 50"), "");
    ns.inside ([&]
    {
        // Capabilities belong to the thread: this one alone gives up the right to change routes.
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct data[2] {};
        ASSERT_EQ (::syscall (SYS_capget, &header, data), 0);
        data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
        ASSERT_EQ (::syscall (SYS_capset, &header, data), 0);

        net.deleteLinkLocalRoutes();
        std::vector<RouteRow> rows;
        ASSERT_TRUE (source->readRouteTable (rows));
        EXPECT_TRUE (std::any_of (rows.begin(), rows.end(), [] (const RouteRow& r) { return r.priority == 50; }));
    });
}

TEST_F (NetRowSourceLinux, LocalAddressesComeFromBoundUdpSockets)
{
    ns.inside ([&]
    {
        std::vector<int> sockets;
        for (const Ipv4 address : { ip (10, 9, 0, 1), ip (127, 0, 0, 1), Ipv4 (0), ip (169, 254, 5, 5),
                                    ip (169, 254, 5, 5) })
        {
            const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in local {};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = address;
            ASSERT_EQ (::bind (fd, reinterpret_cast<sockaddr*> (&local), sizeof (local)), 0) << formatIpv4 (address);
            sockets.push_back (fd);
        }

        std::vector<UdpRow> rows;
        ASSERT_TRUE (source->readUdpTable (rows));
        EXPECT_EQ (rows.size(), 5u) << "this namespace's endpoints only";

        net.collectLocalAddresses();
        EXPECT_EQ (net.m_localAddrCount, 2u);
        auto used = net.usedLocalAddresses();
        std::sort (used.begin(), used.end());
        std::vector<Ipv4> expected { ip (10, 9, 0, 1), ip (169, 254, 5, 5) };
        std::sort (expected.begin(), expected.end());
        EXPECT_EQ (used, expected);

        for (const int fd : sockets)
            ::close (fd);
    });
}

TEST_F (NetRowSourceLinux, WithoutWirelessHardwareThereIsNoWirelessInterface)
{
    ns.inside ([&]
    {
        uint32_t ifIndex = 0;
        Mac mac {};
        ASSERT_TRUE (linkIdentity ("lyra", ifIndex, mac));

        // A kernel without nl80211 has no wireless service; one with it lists no interface here.
        std::vector<WlanInterfaceRow> wireless;
        const auto result = source->readWlanInterfaces (wireless);
        EXPECT_TRUE (result == WlanResult::ok || result == WlanResult::serviceUnavailable);
        EXPECT_TRUE (wireless.empty());
        RecordProperty ("nl80211", result == WlanResult::ok ? "present" : "absent");

        uint8_t bssid[6] { 9, 9, 9, 9, 9, 9 };
        EXPECT_EQ (net.getBssid (mac.data(), bssid), -1);
        EXPECT_EQ (macOf (bssid), (Mac { 9, 9, 9, 9, 9, 9 }));
        char ssid[kSsidBufferSize];
        std::memset (ssid, 'x', sizeof (ssid));
        EXPECT_EQ (net.getSsidBssid (ssid, mac.data(), bssid), -1);
        EXPECT_EQ (std::string (ssid, sizeof (ssid)), std::string (sizeof (ssid), '\0'));

        int errorCode = -1;
        EXPECT_EQ (net.getInterfaceKind (mac.data(), errorCode), 1) << "Ethernet, not wireless";
        EXPECT_EQ (errorCode, 0);
    });
}

TEST_F (NetRowSourceLinux, Nl80211AnswersMakeALinkWirelessWithItsConnection)
{
    ns.inside ([&]
    {
        uint32_t ifIndex = 0, otherIndex = 0;
        Mac mac {}, otherMac {};
        ASSERT_TRUE (linkIdentity ("lyra", ifIndex, mac));
        ASSERT_TRUE (linkIdentity ("lyrb", otherIndex, otherMac));

        // lyra is a station on "Booth"; a P2P device has no interface; the answer about lyrb has a
        // MAC of the wrong size and is not believed. Of the BSSes lyra saw, the second is its own.
        const Mac bssid { 0x3c, 0x52, 0xa1, 0x10, 0x20, 0x30 };
        FakeNl80211 nl80211;
        nl80211.interfaces = std::vector<Bytes> {
            interfaceAnswer (ifIndex, "lyra", mac, "Booth").build(),
            Nl80211Answer (NL80211_CMD_NEW_INTERFACE)
                .u32 (NL80211_ATTR_IFTYPE, NL80211_IFTYPE_P2P_DEVICE)
                .u64 (NL80211_ATTR_WDEV, 2)
                .build(),
            Nl80211Answer (NL80211_CMD_NEW_INTERFACE)
                .u32 (NL80211_ATTR_IFINDEX, otherIndex)
                .string (NL80211_ATTR_IFNAME, "lyrb")
                .bytes (NL80211_ATTR_MAC, Bytes (5, 0x22))
                .build(),
        };
        nl80211.scans[ifIndex] = {
            scanAnswer (ifIndex, { 2, 2, 2, 2, 2, 2 }, std::nullopt, ssidElements ("Other")).build(),
            scanAnswer (ifIndex, bssid, NL80211_BSS_STATUS_ASSOCIATED, ssidElements ("Booth")).build(),
            scanAnswer (ifIndex, { 3, 3, 3, 3, 3, 3 }, NL80211_BSS_STATUS_AUTHENTICATED, ssidElements ("Third"))
                .build(),
        };
        const auto wireless = createLinuxNetRowSource (nl80211.opener());
        TestNetworkAccess wirelessNet { *wireless };

        std::vector<AdapterRow> adapters;
        ASSERT_EQ (wireless->readAdapters (adapters), AdapterListResult::ok);
        ASSERT_EQ (adapters.size(), 3u);
        const auto typeOf = [&adapters] (uint32_t index)
        {
            for (const auto& adapter : adapters)
                if (adapter.ifIndex == index)
                    return adapter.type;
            return uint32_t (0);
        };
        EXPECT_EQ (typeOf (ifIndex), kIfTypeIeee80211);
        EXPECT_EQ (typeOf (otherIndex), kIfTypeEthernet);

        std::vector<WlanInterfaceRow> rows;
        ASSERT_EQ (wireless->readWlanInterfaces (rows), WlanResult::ok);
        ASSERT_EQ (rows.size(), 1u);
        EXPECT_EQ (rows[0].description, "lyra");
        EXPECT_TRUE (rows[0].connected);
        EXPECT_EQ (rows[0].ssid, "Booth");
        EXPECT_EQ (rows[0].bssid, bssid);
        EXPECT_FALSE (rows[0].queryFailed);
        const auto scanOfLyra = std::make_pair (int (NL80211_CMD_GET_SCAN), ifIndex);
        EXPECT_NE (std::find (nl80211.dumps.begin(), nl80211.dumps.end(), scanOfLyra), nl80211.dumps.end());

        // The queries on these rows see a wireless link with its connection.
        int errorCode = -1;
        EXPECT_EQ (wirelessNet.getInterfaceKind (mac.data(), errorCode), 0);
        EXPECT_EQ (errorCode, 0);
        uint8_t found[6] {};
        EXPECT_EQ (wirelessNet.getBssid (mac.data(), found), 0);
        EXPECT_EQ (macOf (found), bssid);
        char ssid[kSsidBufferSize];
        std::memset (ssid, 'x', sizeof (ssid));
        uint8_t foundToo[6] {};
        EXPECT_EQ (wirelessNet.getSsidBssid (ssid, mac.data(), foundToo), 0);
        EXPECT_EQ (std::string (ssid, sizeof (ssid)), "Booth" + std::string (sizeof (ssid) - 5, '\0'));
        EXPECT_EQ (macOf (foundToo), bssid);

        wirelessNet.setPeer (ip (10, 9, 0, 20));
        EXPECT_TRUE (wirelessNet.prepareLinkInterface());
        EXPECT_EQ (macOf (wirelessNet.m_macAddr), mac) << "a wireless adapter has its MAC";
    });
}

TEST_F (NetRowSourceLinux, Nl80211FailuresReachTheWirelessQueries)
{
    ns.inside ([&]
    {
        uint32_t ifIndex = 0;
        Mac mac {};
        ASSERT_TRUE (linkIdentity ("lyra", ifIndex, mac));

        struct Case
        {
            const char* name;
            std::function<void (FakeNl80211&)> change;
            WlanResult result;
            size_t rows;
            bool queryFailed;
            uint32_t adapterType;
        };
        const auto malformedScan = Nl80211Answer (NL80211_CMD_NEW_SCAN_RESULTS)
                                       .u32 (NL80211_ATTR_IFINDEX, ifIndex)
                                       .beginNest (NL80211_ATTR_BSS)
                                       .bytes (NL80211_BSS_BSSID, Bytes (7, 0x3c))
                                       .u32 (NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED)
                                       .endNest()
                                       .build();
        const Case cases[] = {
            { "no nl80211", [] (FakeNl80211& f) { f.present = false; }, WlanResult::serviceUnavailable, 0, false,
              kIfTypeEthernet },
            { "the interface list cannot be read", [] (FakeNl80211& f) { f.interfaces.reset(); },
              WlanResult::listFailed, 0, false, kIfTypeEthernet },
            { "the scan results cannot be read", [] (FakeNl80211& f) { f.scans.clear(); }, WlanResult::ok, 1, true,
              kIfTypeIeee80211 },
            { "associated with no BSS",
              [&] (FakeNl80211& f)
              {
                  f.scans[ifIndex] = {
                      scanAnswer (ifIndex, { 2, 2, 2, 2, 2, 2 }, std::nullopt, ssidElements ("Other")).build()
                  };
              },
              WlanResult::ok, 1, false, kIfTypeIeee80211 },
            { "a malformed scan answer", [&] (FakeNl80211& f) { f.scans[ifIndex] = { malformedScan }; },
              WlanResult::ok, 1, false, kIfTypeIeee80211 },
        };
        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.name);
            FakeNl80211 nl80211;
            nl80211.interfaces = std::vector<Bytes> { interfaceAnswer (ifIndex, "lyra", mac, "Booth").build() };
            nl80211.scans[ifIndex] = { scanAnswer (ifIndex, { 1, 1, 1, 1, 1, 1 }, NL80211_BSS_STATUS_ASSOCIATED,
                                                   ssidElements ("Booth"))
                                           .build() };
            c.change (nl80211);
            const auto wireless = createLinuxNetRowSource (nl80211.opener());
            TestNetworkAccess wirelessNet { *wireless };

            std::vector<WlanInterfaceRow> rows;
            EXPECT_EQ (wireless->readWlanInterfaces (rows), c.result);
            ASSERT_EQ (rows.size(), c.rows);
            if (! rows.empty())
            {
                EXPECT_EQ (rows[0].queryFailed, c.queryFailed);
                EXPECT_FALSE (rows[0].connected);
            }

            uint8_t bssid[6] { 9, 9, 9, 9, 9, 9 };
            EXPECT_EQ (wirelessNet.getBssid (mac.data(), bssid), -1);
            EXPECT_EQ (macOf (bssid), (Mac { 9, 9, 9, 9, 9, 9 }));
            char ssid[kSsidBufferSize];
            std::memset (ssid, 'x', sizeof (ssid));
            EXPECT_EQ (wirelessNet.getSsidBssid (ssid, mac.data(), bssid), -1);
            EXPECT_EQ (std::string (ssid, sizeof (ssid)), std::string (sizeof (ssid), '\0'));

            std::vector<AdapterRow> adapters;
            ASSERT_EQ (wireless->readAdapters (adapters), AdapterListResult::ok);
            const auto lyra = std::find_if (adapters.begin(), adapters.end(),
                                            [&] (const AdapterRow& a) { return a.ifIndex == ifIndex; });
            ASSERT_NE (lyra, adapters.end());
            EXPECT_EQ (lyra->type, c.adapterType);
        }
    });
}

//==============================================================================
TEST (NetRowSourceLinuxParsing, UdpTableGivesLocalAddressesInFileOrder)
{
    const std::string text =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n"
        "  123: 0100007F:0035 00000000:0000 07 00000000:00000000 00:00000000 00000000   101        0 1 2 0 0\n"
        "  300: 00000000:C350 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 2 2 0 0\n"
        "  301: 0501A8C0:C350 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 3 2 0 0\n"
        "  302: 0501a8c0:1F90 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 4 2 0 0\n"
        "garbage\n"
        "  303: 0501A8G0:1F90 00000000:0000 07\n"
        "  304: 0501A8C:1F90 00000000:0000 07\n"
        "  305: 0505FEA9:1F90\n";
    std::vector<UdpRow> rows;
    ASSERT_TRUE (parseProcNetUdp (text, rows));
    std::vector<Ipv4> addresses;
    for (const auto& row : rows)
        addresses.push_back (row.localAddress);
    EXPECT_EQ (addresses, (std::vector<Ipv4> { ip (127, 0, 0, 1), 0, ip (192, 168, 1, 5), ip (192, 168, 1, 5),
                                               ip (169, 254, 5, 5) }));

    rows.clear();
    EXPECT_FALSE (parseProcNetUdp ("", rows));
    EXPECT_FALSE (parseProcNetUdp ("  123: 0100007F:0035\n", rows));
    EXPECT_TRUE (rows.empty());
}

} // namespace

#include "netenv/TestNetworkAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
Ipv4 ip (uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return makeIpv4 (a, b, c, d); }

const Mac macA { 0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x01 };
const Mac macB { 0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x02 };
const Mac bssid1 { 0x74, 0xac, 0xb9, 0x10, 0x20, 0x31 };
const Mac bssid2 { 0x74, 0xac, 0xb9, 0x10, 0x20, 0x32 };

struct NetQueries : ::testing::Test
{
    FakeNetRowSource rows;
    TestNetworkAccess net { rows };
};

//==============================================================================
TEST_F (NetQueries, PeerChoosesTheInterfaceWhoseSubnetHoldsIt)
{
    rows.addWiredInterface (3, ip (192, 168, 1, 5), ip (255, 255, 255, 0), macA);
    rows.addWiredInterface (7, ip (10, 0, 0, 2), ip (255, 0, 0, 0), macB);
    net.setPeer (ip (192, 168, 1, 20));

    EXPECT_TRUE (net.prepareLinkInterface());
    EXPECT_EQ (net.m_matchCount, 1u);
    EXPECT_EQ (net.m_ifIndex.load(), 3u);
    EXPECT_EQ (net.m_ipAddr.load(), ip (192, 168, 1, 5));
    EXPECT_EQ (net.m_netmask.load(), ip (255, 255, 255, 0));
    EXPECT_EQ (net.m_networkAddr.load(), ip (192, 168, 1, 0));
    EXPECT_EQ (macOf (net.m_macAddr), macA);
    EXPECT_EQ (net.m_localAddrCount, 2u);
}

struct PeerCase
{
    const char* name;
    Ipv4 peer;
    std::vector<IpAddrRow> addresses;
    bool chosen;
    uint32_t matchCount;
    uint32_t ifIndex;
    Ipv4 address;
    Ipv4 netmask;
};

TEST_F (NetQueries, RefusedPeersLeaveTheRecordAsTheRulesSay)
{
    const Ipv4 mask16 = ip (255, 255, 0, 0);
    const PeerCase cases[] = {
        // Two interfaces in the link-local network: ambiguous, and the later row stays in the record.
        { "two link-local interfaces", ip (169, 254, 3, 3),
          { { ip (169, 254, 10, 1), 4, mask16 }, { ip (169, 254, 20, 2), 9, mask16 } },
          false, 2, 9, ip (169, 254, 20, 2), mask16 },
        // No subnet holds the peer: no link interface, index and mask as they were (0 here).
        { "peer in no subnet", ip (172, 16, 0, 9),
          { { ip (192, 168, 1, 5), 3, ip (255, 255, 255, 0) }, { ip (10, 0, 0, 2), 7, ip (255, 0, 0, 0) } },
          false, 0, 0, 0, 0 },
        // A row without an address would hold every peer under its zero mask.
        { "unaddressed row is skipped", ip (172, 16, 0, 9),
          { { 0, 5, 0 } },
          false, 0, 0, 0, 0 },
        // Only the low 16 bits of the index are kept.
        { "16-bit index", ip (10, 1, 2, 3),
          { { ip (10, 1, 2, 1), 0x10006, ip (255, 255, 255, 0) } },
          true, 1, 6, ip (10, 1, 2, 1), ip (255, 255, 255, 0) },
        { "empty table", ip (10, 1, 2, 3), {}, false, 0, 0, 0, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        FakeNetRowSource source;
        source.addresses = c.addresses;
        TestNetworkAccess access (source);
        access.setPeer (c.peer);

        EXPECT_EQ (access.prepareLinkInterface(), c.chosen);
        EXPECT_EQ (access.m_matchCount, c.matchCount);
        EXPECT_EQ (access.m_ifIndex.load(), c.ifIndex);
        EXPECT_EQ (access.m_ipAddr.load(), c.address);
        EXPECT_EQ (access.m_netmask.load(), c.netmask);
        EXPECT_EQ (access.m_networkAddr.load(), c.address & c.netmask);
    }
}

TEST_F (NetQueries, NoDatagramYetMeansNoInterfaceAndNoTableIsRead)
{
    rows.addWiredInterface (3, ip (192, 168, 1, 5), ip (255, 255, 255, 0), macA);
    rows.routes.push_back ({ ip (169, 254, 0, 0), ip (255, 255, 0, 0), ip (192, 168, 1, 5), 3 });

    EXPECT_FALSE (net.prepareLinkInterface());
    EXPECT_EQ (rows.queries, 0);
    EXPECT_TRUE (rows.deletedRoutes.empty());
    EXPECT_EQ (net.m_localAddrCount, 0u);
}

TEST_F (NetQueries, ChoosingClearsTheAddressAndCleansRoutesEvenWhenNothingMatches)
{
    rows.addWiredInterface (3, ip (192, 168, 1, 5), ip (255, 255, 255, 0), macA);
    rows.routes.push_back ({ ip (169, 254, 0, 0), ip (255, 255, 0, 0), ip (192, 168, 1, 5), 3 });
    net.setPeer (ip (192, 168, 1, 20));
    ASSERT_TRUE (net.prepareLinkInterface());

    // The interface went away; the next choice finds nothing and the filter must open again.
    rows.addresses.clear();
    rows.addresses.push_back ({ ip (10, 0, 0, 2), 7, ip (255, 0, 0, 0) });
    EXPECT_FALSE (net.prepareLinkInterface());
    EXPECT_EQ (net.m_ipAddr.load(), 0u);
    EXPECT_EQ (net.m_networkAddr.load(), 0u);
    EXPECT_EQ (net.m_matchCount, 0u);
    EXPECT_EQ (net.m_ifIndex.load(), 3u) << "an index that no row overwrote stays";
    EXPECT_EQ (net.m_netmask.load(), ip (255, 255, 255, 0));
    EXPECT_EQ (rows.deletedRoutes.size(), 1u);
    EXPECT_EQ (net.m_localAddrCount, 1u);
}

TEST_F (NetQueries, InterfaceWithoutAdapterGetsNoMacOfAnEarlierLink)
{
    rows.addWiredInterface (3, ip (192, 168, 1, 5), ip (255, 255, 255, 0), macA);
    net.setPeer (ip (192, 168, 1, 20));
    ASSERT_TRUE (net.prepareLinkInterface());
    ASSERT_EQ (macOf (net.m_macAddr), macA);

    // A tunnel: an address and an adapter of neither Ethernet nor wireless type.
    rows.addresses.push_back ({ ip (10, 8, 0, 2), 12, ip (255, 255, 255, 0) });
    rows.adapters.push_back ({ 12, kIfTypeOther, macB, 0, "tun0" });
    net.setPeer (ip (10, 8, 0, 1));
    EXPECT_TRUE (net.prepareLinkInterface());
    EXPECT_EQ (net.m_ifIndex.load(), 12u);
    EXPECT_EQ (macOf (net.m_macAddr), Mac {});
}

//==============================================================================
TEST_F (NetQueries, MacComesFromTheEthernetOrWirelessAdapterOfTheIndex)
{
    rows.adapters = {
        { 3, kIfTypeSoftwareLoopback, macB, 6, "lo" },
        { 3, kIfTypeEthernet, macA, 6, "eth0" },
        { 0x10004, kIfTypeIeee80211, bssid1, 6, "wlan0" },
    };

    uint8_t mac[6] {};
    EXPECT_TRUE (net.getMacAddress (3, mac));
    EXPECT_EQ (macOf (mac), macA);
    EXPECT_TRUE (net.getMacAddress (4, mac));
    EXPECT_EQ (macOf (mac), bssid1);

    uint8_t untouched[6] { 1, 2, 3, 4, 5, 6 };
    EXPECT_TRUE (net.getMacAddress (9, untouched));
    EXPECT_EQ (macOf (untouched), (Mac { 1, 2, 3, 4, 5, 6 }));

    rows.adapterResult = AdapterListResult::cannotRead;
    EXPECT_FALSE (net.getMacAddress (3, untouched));
    EXPECT_EQ (macOf (untouched), (Mac { 1, 2, 3, 4, 5, 6 }));
}

//==============================================================================
TEST_F (NetQueries, LocalAddressesAreTheDistinctBoundOnes)
{
    net.m_ipAddr = ip (192, 168, 1, 5);
    rows.udpRows = { { 0 }, { ip (127, 0, 0, 1) }, { ip (192, 168, 1, 5) }, { ip (192, 168, 1, 5) },
                     { ip (10, 0, 0, 2) }, { ip (0, 1, 2, 3) }, { ip (127, 0, 0, 53) } };

    net.collectLocalAddresses();
    EXPECT_EQ (net.m_localAddrCount, 2u);
    EXPECT_EQ (net.usedLocalAddresses(), (std::vector<Ipv4> { ip (192, 168, 1, 5), ip (10, 0, 0, 2) }));
    EXPECT_EQ (net.m_ipAddr.load(), 0u);

    // A fresh read replaces the list; entries of the earlier one do not linger.
    rows.udpRows = { { ip (10, 0, 0, 2) } };
    net.collectLocalAddresses();
    EXPECT_EQ (net.usedLocalAddresses(), std::vector<Ipv4> { ip (10, 0, 0, 2) });
    EXPECT_EQ (net.m_localAddrs[1].address.load(), 0u);

    rows.udpTableFails = true;
    net.collectLocalAddresses();
    EXPECT_EQ (net.m_localAddrCount, 0u);
    EXPECT_TRUE (net.usedLocalAddresses().empty());
    EXPECT_EQ (net.m_localAddrs[0].address.load(), 0u);
}

TEST_F (NetQueries, LocalAddressListHoldsTenAndLeavesTheEleventhOut)
{
    std::vector<Ipv4> expected;
    for (uint8_t i = 1; i <= 11; ++i)
    {
        rows.udpRows.push_back ({ ip (10, 0, 0, i) });
        if (i <= 10)
            expected.push_back (ip (10, 0, 0, i));
    }
    rows.udpRows.push_back ({ ip (10, 0, 0, 4) });  // already held: not counted again

    net.collectLocalAddresses();
    EXPECT_EQ (net.m_localAddrCount, 10u);
    EXPECT_EQ (net.usedLocalAddresses(), expected);
}

//==============================================================================
TEST_F (NetQueries, LinkLocalRoutesLeadingElsewhereAreDeletedInTableOrder)
{
    const Ipv4 linkLocal = ip (169, 254, 0, 0);
    struct Route
    {
        RouteRow row;
        bool deleted;
    };
    const Route table[] = {
        { { linkLocal, ip (255, 255, 0, 0), ip (192, 168, 1, 5), 3 }, true },     // through a wired gateway
        { { linkLocal, ip (255, 255, 0, 0), ip (169, 254, 7, 9), 4 }, false },    // through a link-local hop
        { { linkLocal, ip (255, 255, 0, 0), ip (169, 254, 5, 5), 4 }, false },    // on-link: the interface's own 169.254 address
        { { linkLocal, ip (255, 255, 0, 0), 0, 6 }, true },                       // on-link, interface without address
        { { linkLocal, ip (255, 255, 255, 0), ip (169, 254, 0, 9), 4 }, false },  // next hop inside its own /24
        { { linkLocal, ip (255, 255, 255, 0), ip (169, 254, 1, 9), 4 }, true },   // link-local, but outside its /24
        { { ip (169, 254, 1, 0), ip (255, 255, 255, 0), ip (10, 0, 0, 1), 7 }, false },  // other destination
        { { 0, 0, ip (192, 168, 1, 1), 3 }, false },                              // default route
        { { linkLocal, ip (255, 255, 0, 0), ip (10, 0, 0, 1), 7 }, true },
    };

    std::vector<Ipv4> expectedNextHops;
    for (const auto& route : table)
    {
        rows.routes.push_back (route.row);
        if (route.deleted)
            expectedNextHops.push_back (route.row.nextHop);
    }

    net.deleteLinkLocalRoutes();
    std::vector<Ipv4> deletedNextHops;
    for (const auto& row : rows.deletedRoutes)
        deletedNextHops.push_back (row.nextHop);
    EXPECT_EQ (deletedNextHops, expectedNextHops);
}

TEST_F (NetQueries, RouteDeletionGoesOnAfterAFailureAndStopsWithoutATable)
{
    rows.routes = { { ip (169, 254, 0, 0), ip (255, 255, 0, 0), ip (192, 168, 1, 5), 3 },
                    { ip (169, 254, 0, 0), ip (255, 255, 0, 0), ip (10, 0, 0, 1), 7 } };
    rows.deletionsFail = true;
    net.deleteLinkLocalRoutes();
    EXPECT_EQ (rows.deletedRoutes.size(), 2u);

    rows.deletedRoutes.clear();
    rows.routeTableFails = true;
    net.deleteLinkLocalRoutes();
    EXPECT_TRUE (rows.deletedRoutes.empty());
}

//==============================================================================
struct KindCase
{
    const char* name;
    std::function<void (FakeNetRowSource&)> setUp;
    bool giveMac;
    int kind;
    int errorCode;
};

TEST_F (NetQueries, InterfaceKindAndEveryErrorCode)
{
    const auto adapter = [] (uint32_t type, const Mac& mac, const char* description)
    { return [=] (FakeNetRowSource& s) { s.adapters.push_back ({ 2, type, mac, 6, description }); }; };
    const auto wireless = [] (const char* description)
    { return [=] (FakeNetRowSource& s) { s.wlan.push_back ({ description }); }; };
    const auto both = [] (std::function<void (FakeNetRowSource&)> a, std::function<void (FakeNetRowSource&)> b)
    { return [=] (FakeNetRowSource& s) { a (s); b (s); }; };
    const auto oldOs = [] (std::function<void (FakeNetRowSource&)> a)
    { return [=] (FakeNetRowSource& s) { s.osMajorVersion = 5; a (s); }; };

    const KindCase cases[] = {
        { "wireless adapter", adapter (kIfTypeIeee80211, macA, "wlan0"), true, 0, 0 },
        { "Ethernet adapter", adapter (kIfTypeEthernet, macA, "eth0"), true, 1, 0 },
        { "no MAC given", adapter (kIfTypeEthernet, macA, "eth0"), false, -1, 8 },
        { "list cannot be sized", [] (FakeNetRowSource& s) { s.adapterResult = AdapterListResult::cannotSize; }, true, -1, 1 },
        { "no memory for the list", [] (FakeNetRowSource& s) { s.adapterResult = AdapterListResult::noMemory; }, true, -1, 2 },
        { "list cannot be read", [] (FakeNetRowSource& s) { s.adapterResult = AdapterListResult::cannotRead; }, true, -1, 3 },
        { "another type", adapter (kIfTypeSoftwareLoopback, macA, "lo"), true, -1, 6 },
        { "no adapter with the MAC", adapter (kIfTypeEthernet, macB, "eth0"), true, -1, 7 },
        { "first adapter with the MAC decides",
          both (adapter (kIfTypeEthernet, macA, "br0"), adapter (kIfTypeIeee80211, macA, "wlan0")), true, 1, 0 },
        { "old: wireless service cannot be opened",
          oldOs ([] (FakeNetRowSource& s) { s.adapters.push_back ({ 2, kIfTypeEthernet, macA, 6, "wlan0" });
                                            s.wlanResult = WlanResult::serviceUnavailable; }), true, -1, 4 },
        { "old: wireless list cannot be read",
          oldOs ([] (FakeNetRowSource& s) { s.adapters.push_back ({ 2, kIfTypeEthernet, macA, 6, "wlan0" });
                                            s.wlanResult = WlanResult::listFailed; }), true, -1, 5 },
        { "old: Ethernet-typed adapter named like a wireless interface",
          oldOs (both (adapter (kIfTypeEthernet, macA, "Wireless Adapter"), wireless ("Wireless Adapter"))), true, 0, 0 },
        { "old: the type is not looked at",
          oldOs (both (adapter (kIfTypeSoftwareLoopback, macA, "Wireless Adapter"), wireless ("Wireless Adapter"))), true, 0, 0 },
        { "old: descriptions compared character for character",
          oldOs (both (adapter (kIfTypeIeee80211, macA, "wireless adapter"), wireless ("Wireless Adapter"))), true, 1, 0 },
        { "unknown version is not old",
          both ([] (FakeNetRowSource& s) { s.osMajorVersion = 5; s.osVersionFails = true; },
                both (adapter (kIfTypeEthernet, macA, "Wireless Adapter"), wireless ("Wireless Adapter"))), true, 1, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        FakeNetRowSource source;
        c.setUp (source);
        TestNetworkAccess access (source);
        int errorCode = -99;
        EXPECT_EQ (access.getInterfaceKind (c.giveMac ? macA.data() : nullptr, errorCode), c.kind);
        EXPECT_EQ (errorCode, c.errorCode);
    }
}

//==============================================================================
struct NetQueriesWireless : NetQueries
{
    void SetUp() override
    {
        rows.adapters.push_back ({ 5, kIfTypeIeee80211, macA, 6, "wlan0" });
        rows.adapters.push_back ({ 6, kIfTypeEthernet, macB, 6, "eth0" });
    }

    static WlanInterfaceRow connected (const char* name, const std::string& ssid, const Mac& bssid)
    {
        return { name, true, ssid, bssid };
    }
};

TEST_F (NetQueriesWireless, NoConnectedInterfaceLeavesTheBssidAlone)
{
    rows.wlan = { { "wlan0", false, "", {} } };
    uint8_t bssid[6] { 9, 9, 9, 9, 9, 9 };
    EXPECT_EQ (net.getBssid (macA.data(), bssid), -1);
    EXPECT_EQ (macOf (bssid), (Mac { 9, 9, 9, 9, 9, 9 }));
}

TEST_F (NetQueriesWireless, BssidComesFromTheLastConnectedInterfaceBeforeAFailedQuery)
{
    struct Case
    {
        const char* name;
        std::vector<WlanInterfaceRow> wlan;
        int result;
        Mac bssid;
    };
    WlanInterfaceRow failed { "wlan2" };
    failed.queryFailed = true;
    const Mac untouched { 9, 9, 9, 9, 9, 9 };
    const Case cases[] = {
        { "one connected", { connected ("wlan0", "Booth", bssid1) }, 0, bssid1 },
        { "the last connected wins", { connected ("wlan0", "Booth", bssid1), { "wlan1" }, connected ("wlan1", "Stage", bssid2) }, 0, bssid2 },
        { "a failed query ends the look", { connected ("wlan0", "Booth", bssid1), failed, connected ("wlan1", "Stage", bssid2) }, 0, bssid1 },
        { "failed first", { failed, connected ("wlan0", "Booth", bssid1) }, -1, untouched },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        rows.wlan = c.wlan;
        uint8_t bssid[6] { 9, 9, 9, 9, 9, 9 };
        EXPECT_EQ (net.getBssid (macA.data(), bssid), c.result);
        EXPECT_EQ (macOf (bssid), c.bssid);
    }
}

TEST_F (NetQueriesWireless, AnyAdapterWithTheMacOpensTheWirelessList)
{
    // The wireless interfaces are not matched to the adapter: the wired adapter's MAC serves too.
    rows.wlan = { connected ("wlan0", "Booth", bssid1) };
    uint8_t bssid[6] {};
    EXPECT_EQ (net.getBssid (macB.data(), bssid), 0);
    EXPECT_EQ (macOf (bssid), bssid1);

    const Mac unknown { 1, 1, 1, 1, 1, 1 };
    uint8_t untouched[6] {};
    EXPECT_EQ (net.getBssid (unknown.data(), untouched), -1);
    EXPECT_EQ (macOf (untouched), Mac {});
}

TEST_F (NetQueriesWireless, FailuresAndMissingArgumentsGiveMinusOne)
{
    rows.wlan = { connected ("wlan0", "Booth", bssid1) };
    uint8_t bssid[6] {};
    char ssid[kSsidBufferSize];
    EXPECT_EQ (net.getBssid (nullptr, bssid), -1);
    EXPECT_EQ (net.getBssid (macA.data(), nullptr), -1);
    EXPECT_EQ (net.getSsidBssid (nullptr, macA.data(), bssid), -1);
    EXPECT_EQ (net.getSsidBssid (ssid, macA.data(), nullptr), -1);
    EXPECT_EQ (net.getSsid (nullptr, macA.data()), -1);

    std::memset (ssid, 'x', sizeof (ssid));
    EXPECT_EQ (net.getSsid (ssid, nullptr), -1);
    EXPECT_EQ (std::string (ssid, sizeof (ssid)), std::string (kSsidBufferSize, '\0')) << "cleared first";

    for (const auto result : { WlanResult::serviceUnavailable, WlanResult::listFailed })
    {
        rows.wlanResult = result;
        EXPECT_EQ (net.getBssid (macA.data(), bssid), -1);
        EXPECT_EQ (net.getSsid (ssid, macA.data()), -1);
    }
    rows.wlanResult = WlanResult::ok;
    rows.adapterResult = AdapterListResult::cannotSize;
    EXPECT_EQ (net.getSsidBssid (ssid, macA.data(), bssid), -1);
    EXPECT_EQ (macOf (bssid), Mac {});
}

TEST_F (NetQueriesWireless, SsidIsCopiedUnconvertedAndAtMostThirtyTwoOctets)
{
    const std::string exact32 ("\x01Z\0\xff" "abcdefghijklmnopqrstuvwxyz01", 32);
    const std::string tooLong (40, 'L');
    struct Case
    {
        std::string reported;
        std::string expected;
    };
    const Case cases[] = { { "Booth", "Booth" }, { exact32, exact32 }, { tooLong, std::string (32, 'L') }, { "", "" } };

    for (const auto& c : cases)
    {
        rows.wlan = { connected ("wlan0", c.reported, bssid2) };
        char ssid[kSsidBufferSize];
        uint8_t bssid[6] {};
        std::memset (ssid, 'x', sizeof (ssid));
        EXPECT_EQ (net.getSsidBssid (ssid, macA.data(), bssid), 0);
        EXPECT_EQ (std::string (ssid, c.expected.size()), c.expected);
        EXPECT_EQ (std::string (ssid + c.expected.size(), kSsidBufferSize - c.expected.size()),
                   std::string (kSsidBufferSize - c.expected.size(), '\0'));
        EXPECT_EQ (macOf (bssid), bssid2);

        std::memset (ssid, 'x', sizeof (ssid));
        EXPECT_EQ (net.getSsid (ssid, macA.data()), 0);
        EXPECT_EQ (std::string (ssid, c.expected.size()), c.expected);
        EXPECT_EQ (ssid[c.expected.size()], '\0');
    }
}

//==============================================================================
TEST_F (NetQueries, AddressChangeIsAnyOtherAddressOnTheInterface)
{
    const Ipv4 linkAddress = ip (192, 168, 1, 5);
    rows.addresses = { { ip (10, 0, 0, 2), 7, ip (255, 0, 0, 0) }, { linkAddress, 3, ip (255, 255, 255, 0) } };
    EXPECT_FALSE (net.isAddressChanged (linkAddress, 3));

    rows.addresses.push_back ({ ip (192, 168, 1, 77), 0x10003, ip (255, 255, 255, 0) });  // same 16-bit index
    EXPECT_TRUE (net.isAddressChanged (linkAddress, 3));

    rows.addresses = { { ip (192, 168, 1, 80), 3, ip (255, 255, 255, 0) } };  // replaced
    EXPECT_TRUE (net.isAddressChanged (linkAddress, 3));

    rows.addresses = { { ip (10, 0, 0, 2), 7, ip (255, 0, 0, 0) } };  // gone, nothing new on it
    EXPECT_FALSE (net.isAddressChanged (linkAddress, 3));

    rows.addresses.clear();
    EXPECT_FALSE (net.isAddressChanged (linkAddress, 3));
    rows.addressTableFails = true;
    EXPECT_FALSE (net.isAddressChanged (linkAddress, 7));
}

TEST_F (NetQueries, InterfaceIsDownUnlessTheTableShowsItOperational)
{
    struct Case
    {
        const char* name;
        std::vector<IfRow> table;
        bool fails;
        bool down;
    };
    const Case cases[] = {
        { "operational", { { 2, 2 }, { 3, kIfOperStatusOperational } }, false, false },
        { "16-bit index", { { 0x10003, kIfOperStatusOperational } }, false, false },
        { "not operational", { { 3, kIfOperStatusDisconnected }, { 4, kIfOperStatusOperational } }, false, true },
        { "connected but not yet operational", { { 3, 4 } }, false, true },
        { "missing from the table", { { 4, kIfOperStatusOperational } }, false, true },
        { "table cannot be read", { { 3, kIfOperStatusOperational } }, true, true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        rows.interfaces = c.table;
        rows.interfaceTableFails = c.fails;
        EXPECT_EQ (net.isInterfaceDown (3), c.down);
    }
}

TEST_F (NetQueries, OldVersionIsAKnownMajorBelowSix)
{
    const std::pair<int, bool> cases[] = { { 5, true }, { 4, true }, { 6, false }, { 10, false } };
    for (const auto& [major, old] : cases)
    {
        rows.osMajorVersion = major;
        EXPECT_EQ (net.isOldOsVersion(), old) << major;
    }
    rows.osMajorVersion = 5;
    rows.osVersionFails = true;
    EXPECT_FALSE (net.isOldOsVersion());
}

} // namespace

// The conversion of IP Helper's and the WLAN API's records to rows, on records built here: an
// Ethernet and a wireless adapter, two addresses, on-link and gateway routes, the UDP table and
// the wireless connections (which Wine's stubs never return).
#include "netenv/native/NetRowConversion_windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace lyrlink;

namespace
{

/** A table of the form { DWORD dwNumEntries; Row table[ANY_SIZE]; } holding rows, in memory
    aligned as IP Helper's. */
template <typename Table, typename Row> class TableOf
{
public:
    explicit TableOf (const std::vector<Row>& rows)
        : m_size (offsetof (Table, table) + rows.size() * sizeof (Row)),
          m_words ((m_size + sizeof (uint64_t) - 1) / sizeof (uint64_t) + 1, 0)
    {
        get().dwNumEntries = static_cast<DWORD> (rows.size());
        if (! rows.empty())
            std::memcpy (&get().table[0], rows.data(), rows.size() * sizeof (Row));
    }

    Table& get() { return *reinterpret_cast<Table*> (m_words.data()); }
    size_t size() const { return m_size; }

private:
    size_t m_size;
    std::vector<uint64_t> m_words;
};

DWORD ip (uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return static_cast<DWORD> (makeIpv4 (a, b, c, d)); }

MIB_IPADDRROW addressRow (DWORD address, DWORD ifIndex, DWORD mask)
{
    MIB_IPADDRROW row {};
    row.dwAddr = address;
    row.dwIndex = ifIndex;
    row.dwMask = mask;
    row.dwBCastAddr = 1;
    return row;
}

MIB_IPFORWARDROW routeRow (DWORD destination, DWORD mask, DWORD nextHop, DWORD ifIndex, DWORD type, DWORD metric)
{
    MIB_IPFORWARDROW row {};
    row.dwForwardDest = destination;
    row.dwForwardMask = mask;
    row.dwForwardNextHop = nextHop;
    row.dwForwardIfIndex = ifIndex;
    row.dwForwardType = type;
    row.dwForwardProto = MIB_IPPROTO_NETMGMT;
    row.dwForwardMetric1 = metric;
    return row;
}

const std::vector<MIB_IPADDRROW> kTwoAddresses = { addressRow (ip (192, 168, 1, 5), 11, ip (255, 255, 255, 0)),
                                                   addressRow (ip (169, 254, 7, 9), 0x10012, ip (255, 255, 0, 0)) };

} // namespace

TEST (NetRowConversionWindows, AdaptersKeepIndexTypeHardwareAddressAndDescription)
{
    wchar_t ethernetName[] = L"Onboard Gigabit Ethernet";
    wchar_t wirelessName[] = L"Wireless-AC \u00c9tage 2"; // non-ASCII: kept as UTF-8
    IP_ADAPTER_ADDRESSES ethernet {}, wireless {};
    ethernet.Length = wireless.Length = sizeof (IP_ADAPTER_ADDRESSES);
    ethernet.Next = &wireless;
    ethernet.IfIndex = 11;
    ethernet.IfType = IF_TYPE_ETHERNET_CSMACD;
    const uint8_t ethernetMac[6] = { 0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e };
    std::memcpy (ethernet.PhysicalAddress, ethernetMac, 6);
    ethernet.PhysicalAddressLength = 6;
    ethernet.Description = ethernetName;

    wireless.IfIndex = 0x10012; // kept whole; the queries compare the low 16 bits
    wireless.IfType = IF_TYPE_IEEE80211;
    const uint8_t wirelessMac[8] = { 0xa4, 0x5e, 0x60, 0x01, 0x02, 0x03, 0xee, 0xff };
    std::memcpy (wireless.PhysicalAddress, wirelessMac, 8);
    wireless.PhysicalAddressLength = 8; // only the first 6 octets are a MAC
    wireless.Description = wirelessName;

    const auto rows = adapterRowsOf (&ethernet);
    ASSERT_EQ (rows.size(), 2u);
    EXPECT_EQ (rows[0].ifIndex, 11u);
    EXPECT_EQ (rows[0].type, kIfTypeEthernet);
    EXPECT_EQ (std::memcmp (rows[0].mac.data(), ethernetMac, 6), 0);
    EXPECT_EQ (rows[0].macLength, 6u);
    EXPECT_EQ (rows[0].description, "Onboard Gigabit Ethernet");
    EXPECT_EQ (rows[1].ifIndex, 0x10012u);
    EXPECT_EQ (rows[1].type, kIfTypeIeee80211);
    EXPECT_EQ (std::memcmp (rows[1].mac.data(), wirelessMac, 6), 0);
    EXPECT_EQ (rows[1].macLength, 8u);
    EXPECT_EQ (rows[1].description, "Wireless-AC \xc3\x89tage 2");

    EXPECT_TRUE (adapterRowsOf (nullptr).empty());
    // An adapter without a description or hardware address (a tunnel).
    IP_ADAPTER_ADDRESSES tunnel {};
    tunnel.IfType = 131;
    const auto bare = adapterRowsOf (&tunnel);
    ASSERT_EQ (bare.size(), 1u);
    EXPECT_EQ (bare[0].description, "");
    EXPECT_EQ (bare[0].macLength, 0u);
    EXPECT_EQ (bare[0].mac, (std::array<uint8_t, 6> {}));
}

TEST (NetRowConversionWindows, AddressAndInterfaceTablesInTableOrder)
{
    TableOf<MIB_IPADDRTABLE, MIB_IPADDRROW> addresses (kTwoAddresses);
    const auto rows = addressRowsOf (addresses.get(), addresses.size());
    ASSERT_EQ (rows.size(), 2u);
    EXPECT_EQ (rows[0].address, makeIpv4 (192, 168, 1, 5));
    EXPECT_EQ (rows[0].netmask, makeIpv4 (255, 255, 255, 0));
    EXPECT_EQ (rows[0].ifIndex, 11u);
    EXPECT_EQ (rows[1].address, makeIpv4 (169, 254, 7, 9));
    EXPECT_EQ (rows[1].netmask, makeIpv4 (255, 255, 0, 0));
    EXPECT_EQ (rows[1].ifIndex, 0x10012u);

    MIB_IFROW up {}, down {};
    up.dwIndex = 11;
    up.dwOperStatus = IF_OPER_STATUS_OPERATIONAL;
    down.dwIndex = 0x10012;
    down.dwOperStatus = IF_OPER_STATUS_DISCONNECTED;
    TableOf<MIB_IFTABLE, MIB_IFROW> interfaces ({ up, down });
    const auto ifRows = interfaceRowsOf (interfaces.get(), interfaces.size());
    ASSERT_EQ (ifRows.size(), 2u);
    EXPECT_EQ (ifRows[0].ifIndex, 11u);
    EXPECT_EQ (ifRows[0].operStatus, kIfOperStatusOperational);
    EXPECT_EQ (ifRows[1].ifIndex, 0x10012u);
    EXPECT_EQ (ifRows[1].operStatus, kIfOperStatusDisconnected);
}

TEST (NetRowConversionWindows, ACountBeyondTheBytesReadIsCutToTheRowsThatAreThere)
{
    TableOf<MIB_IPADDRTABLE, MIB_IPADDRROW> addresses (kTwoAddresses);
    addresses.get().dwNumEntries = 1000;
    EXPECT_EQ (addressRowsOf (addresses.get(), addresses.size()).size(), 2u);
    EXPECT_EQ (addressRowsOf (addresses.get(), addresses.size() - 1).size(), 1u);
    EXPECT_EQ (addressRowsOf (addresses.get(), 2).size(), 0u); // not even the count

    TableOf<MIB_UDPTABLE, MIB_UDPROW> empty ({});
    EXPECT_TRUE (udpRowsOf (empty.get(), empty.size()).empty());
}

TEST (NetRowConversionWindows, OnLinkAndGatewayRoutes)
{
    const std::vector<MIB_IPFORWARDROW> table = {
        routeRow (ip (0, 0, 0, 0), ip (0, 0, 0, 0), ip (192, 168, 1, 1), 11, MIB_IPROUTE_TYPE_INDIRECT, 25),
        routeRow (ip (192, 168, 1, 0), ip (255, 255, 255, 0), ip (192, 168, 1, 5), 11, MIB_IPROUTE_TYPE_DIRECT, 281),
        // On-link without a next hop: it leads to the interface's own (first) address.
        routeRow (ip (169, 254, 0, 0), ip (255, 255, 0, 0), 0, 0x10012, MIB_IPROUTE_TYPE_DIRECT, 291),
        // Link-local traffic sent to a gateway on another network: the misdirected kind.
        routeRow (ip (169, 254, 0, 0), ip (255, 255, 0, 0), ip (192, 168, 1, 5), 11, MIB_IPROUTE_TYPE_INDIRECT, 35),
        // On-link on an interface without an address.
        routeRow (ip (10, 9, 0, 0), ip (255, 255, 0, 0), 0, 99, MIB_IPROUTE_TYPE_DIRECT, 5),
    };
    TableOf<MIB_IPFORWARDTABLE, MIB_IPFORWARDROW> routes (table);
    TableOf<MIB_IPADDRTABLE, MIB_IPADDRROW> addressTable (kTwoAddresses);
    const auto addresses = addressRowsOf (addressTable.get(), addressTable.size());
    const auto rows = routeRowsOf (routes.get(), routes.size(), addresses);

    struct Expected
    {
        Ipv4 destination, netmask, nextHop;
        uint32_t ifIndex;
        uint8_t prefixLength;
        bool hasGateway;
        uint32_t priority;
    };
    const Expected expected[] = {
        { makeIpv4 (0, 0, 0, 0), makeIpv4 (0, 0, 0, 0), makeIpv4 (192, 168, 1, 1), 11, 0, true, 25 },
        { makeIpv4 (192, 168, 1, 0), makeIpv4 (255, 255, 255, 0), makeIpv4 (192, 168, 1, 5), 11, 24, false, 281 },
        { makeIpv4 (169, 254, 0, 0), makeIpv4 (255, 255, 0, 0), makeIpv4 (169, 254, 7, 9), 0x10012, 16, false, 291 },
        { makeIpv4 (169, 254, 0, 0), makeIpv4 (255, 255, 0, 0), makeIpv4 (192, 168, 1, 5), 11, 16, true, 35 },
        { makeIpv4 (10, 9, 0, 0), makeIpv4 (255, 255, 0, 0), 0, 99, 16, false, 5 },
    };
    ASSERT_EQ (rows.size(), std::size (expected)) << "one row per route, in table order";
    for (size_t i = 0; i < rows.size(); ++i)
    {
        SCOPED_TRACE ("route " + std::to_string (i));
        EXPECT_EQ (rows[i].destination, expected[i].destination);
        EXPECT_EQ (rows[i].netmask, expected[i].netmask);
        EXPECT_EQ (rows[i].nextHop, expected[i].nextHop);
        EXPECT_EQ (rows[i].ifIndex, expected[i].ifIndex);
        EXPECT_EQ (rows[i].prefixLength, expected[i].prefixLength);
        EXPECT_EQ (rows[i].hasGateway, expected[i].hasGateway);
        EXPECT_EQ (rows[i].priority, expected[i].priority);
        EXPECT_EQ (rows[i].protocol, MIB_IPPROTO_NETMGMT);
    }
}

TEST (NetRowConversionWindows, TheUdpTableGivesEveryBoundAddressInOrder)
{
    auto udp = [] (DWORD address, DWORD port) {
        MIB_UDPROW row {};
        row.dwLocalAddr = address;
        row.dwLocalPort = port;
        return row;
    };
    TableOf<MIB_UDPTABLE, MIB_UDPROW> table ({ udp (ip (0, 0, 0, 0), 0xc350), udp (ip (127, 0, 0, 1), 0x3500),
                                               udp (ip (192, 168, 1, 5), 0x8900), udp (ip (192, 168, 1, 5), 0x8a00),
                                               udp (ip (10, 0, 0, 2), 0x1400) });
    const auto rows = udpRowsOf (table.get(), table.size());
    std::vector<Ipv4> got;
    for (const auto& row : rows)
        got.push_back (row.localAddress);
    EXPECT_EQ (got, (std::vector<Ipv4> { makeIpv4 (0, 0, 0, 0), makeIpv4 (127, 0, 0, 1), makeIpv4 (192, 168, 1, 5),
                                         makeIpv4 (192, 168, 1, 5), makeIpv4 (10, 0, 0, 2) }));
}

TEST (NetRowConversionWindows, WirelessConnections)
{
    WLAN_INTERFACE_INFO info {};
    const wchar_t description[] = L"Wireless-AC \u00c9tage 2";
    std::memcpy (info.strInterfaceDescription, description, sizeof (description));
    info.isState = wlan_interface_state_connected;

    const uint8_t bssid[6] = { 0x02, 0x11, 0x22, 0x33, 0x44, 0x55 };
    auto connection = [&bssid] (WLAN_INTERFACE_STATE state, const std::vector<uint8_t>& ssid, ULONG length) {
        WLAN_CONNECTION_ATTRIBUTES c {};
        c.isState = state;
        std::memcpy (c.wlanAssociationAttributes.dot11Ssid.ucSSID, ssid.data(), std::min<size_t> (ssid.size(), 32));
        c.wlanAssociationAttributes.dot11Ssid.uSSIDLength = length;
        std::memcpy (c.wlanAssociationAttributes.dot11Bssid, bssid, 6);
        return c;
    };

    const std::vector<uint8_t> lab = { 'L', 'a', 'b', 'N', 'e', 't', 'X', 'X' };
    std::vector<uint8_t> raw (32);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<uint8_t> (i == 3 ? 0 : 0xe0 + i); // octets are not text

    struct Case
    {
        const char* what;
        WLAN_CONNECTION_ATTRIBUTES attributes;
        bool connected;
        std::string ssid;
        bool hasBssid;
    };
    const Case cases[] = {
        { "connected: the reported length of the SSID", connection (wlan_interface_state_connected, lab, 6), true,
          "LabNet", true },
        { "32 octets kept unconverted", connection (wlan_interface_state_connected, raw, 32), true,
          std::string (raw.begin(), raw.end()), true },
        { "a length beyond 32 is cut to 32", connection (wlan_interface_state_connected, raw, 40), true,
          std::string (raw.begin(), raw.end()), true },
        { "disconnected: no SSID or BSSID", connection (wlan_interface_state_disconnected, lab, 6), false, "", false },
        { "associating: not connected yet", connection (wlan_interface_state_associating, lab, 6), false, "", false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto row = wlanRowOf (info, &c.attributes);
        EXPECT_EQ (row.description, "Wireless-AC \xc3\x89tage 2");
        EXPECT_FALSE (row.queryFailed);
        EXPECT_EQ (row.connected, c.connected);
        EXPECT_EQ (row.ssid, c.ssid);
        const std::array<uint8_t, 6> none {};
        const std::array<uint8_t, 6> expected { bssid[0], bssid[1], bssid[2], bssid[3], bssid[4], bssid[5] };
        EXPECT_EQ (row.bssid, c.hasBssid ? expected : none);
    }

    // An interface whose connection could not be queried.
    const auto failed = wlanRowOf (info, nullptr);
    EXPECT_TRUE (failed.queryFailed);
    EXPECT_FALSE (failed.connected);
    EXPECT_EQ (failed.description, "Wireless-AC \xc3\x89tage 2");
}

TEST (NetRowConversionWindows, WideTextBecomesUtf8WithinItsBound)
{
    EXPECT_EQ (utf8Of (nullptr), "");
    EXPECT_EQ (utf8Of (L""), "");
    EXPECT_EQ (utf8Of (L"Adapter \u00fc\u20ac"), "Adapter \xc3\xbc\xe2\x82\xac");
    // A description that fills its array has no terminating zero.
    const wchar_t full[4] = { L'a', L'b', L'c', L'd' };
    EXPECT_EQ (utf8Of (full, 4), "abcd");
}
